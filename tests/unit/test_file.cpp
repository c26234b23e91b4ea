#include <gtest/gtest.h>
#include <climits>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>
#include <strings.h>
#include <unistd.h>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/platform/platform.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"
#include "value_support.h"

using namespace kem;
using kem::test::at;

namespace {

// A text value from UTF-8, code point by code point (NUL and U+FEFF included).
Cell T(std::string_view utf8, uint8_t type = TYPE_STRING) { return kem::test::text_by_points(utf8, type); }
Cell F(std::string_view utf8) { return T(utf8, TYPE_FILE); }

std::string utf8(const Cell& s) { return kem::test::utf8_of(s); }

std::string mold(Cell v, int32_t limit = -1, int32_t* left = nullptr) {
    return kem::test::text_within(v, true, limit, left);
}

// --- reading a molded file back as the lexer does --------------------------------------------

// The "^" escape at text[i] (just after the caret); advances i past it.
std::optional<int32_t> read_escape(const std::string& text, size_t& i) {
    if (i >= text.size()) return std::nullopt;
    unsigned char c = static_cast<unsigned char>(text[i++]);
    if (c == '(') {
        size_t close = text.find(')', i);
        if (close == std::string::npos) return std::nullopt;
        std::string inner = text.substr(i, close - i);
        i = close + 1;
        if (inner.size() >= 1 && inner.size() <= 6 && inner.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos)
            return int32_t(std::stol(inner, nullptr, 16));
        const char* names[] = {"null", "back", "tab", "line", "page", "esc", "del"};
        const int32_t values[] = {0, 8, 9, 10, 12, 27, 127};
        for (int k = 0; k < 7; k++)
            if (strcasecmp(inner.c_str(), names[k]) == 0) return values[k];
        return std::nullopt;
    }
    switch (c) {
    case '@': return 0;
    case '/': return 10;
    case '-': return 9;
    case '~': return 127;
    case '"': case '{': case '}': case '^': return int32_t(c);
    default: break;
    }
    if (c >= 'a' && c <= 'z') return int32_t(c - 'a' + 1);
    if ((c >= 'A' && c <= 'Z') || c == '[' || c == '\\' || c == ']' || c == '_') return int32_t(c - 64);
    return int32_t(c);
}

bool ends_bare_file(unsigned char c) {
    return c == 0 || c == '\t' || c == '\r' || c == ' ' || c == '\n' || c == '[' || c == ']' || c == '(' ||
           c == ')' || c == '{' || c == '}' || c == ':' || c == ';' || c == '@';
}
bool control(unsigned char c) { return (c >= 1 && c <= 8) || c == 0x0B || c == 0x0C || (c >= 0x0E && c <= 0x1F); }

// The name a molded file loads back as; nullopt when the text would not load
// as exactly one file! token.
std::optional<std::string> load_molded_file(const std::string& text) {
    if (text.size() < 2 || text[0] != '%') return std::nullopt;
    unsigned char first = static_cast<unsigned char>(text[1]);
    if (first == '"') {
        size_t close = text.find('"', 2);
        if (close == std::string::npos || close + 1 != text.size()) return std::nullopt;
        std::string inner = text.substr(2, close - 2);
        if (inner.find('\n') != std::string::npos || inner.find('\0') != std::string::npos) return std::nullopt;
        std::string out;
        for (size_t i = 0; i < inner.size();) {
            if (inner[i] == '^') {
                i++;
                std::optional<int32_t> cp = read_escape(inner, i);
                if (!cp) return std::nullopt;
                uint8_t seq[4];
                out.append(reinterpret_cast<char*>(seq), size_t(utf8_encode_char(*cp, seq)));
            } else {
                out += inner[i++];
            }
        }
        return out;
    }
    if (ends_bare_file(first) || control(first) || first == '%' || first == '"') return std::nullopt;
    for (size_t i = 1; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (ends_bare_file(c) || c == '"') return std::nullopt;
    }
    Cell raw = T(text.substr(1)), decoded = T("");
    url_decode(&raw, &decoded);
    return utf8(decoded);
}

// Moves into a folder for the test and back out after it.
class InFolder {
public:
    explicit InFolder(const std::filesystem::path& p) : saved(platform::get_current_dir().value_or("/")) {
        EXPECT_TRUE(platform::set_current_dir(p.string()));
    }
    ~InFolder() { platform::set_current_dir(saved); }

private:
    std::string saved;
};

class File : public ::testing::Test {
protected:
    void SetUp() override { init_runtime(); }
    void TearDown() override {
        cycle_reset();
        stack::init();
    }
};

} // namespace

// --- mold and form --------------------------------------------------------------------------

TEST_F(File, MoldTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"a/b.txt", "%a/b.txt"},
        {"/home/me/x-1_2~3.kem", "%/home/me/x-1_2~3.kem"},
        {"my file.txt", "%\"my file.txt\""},
        {"", "%\"\""},
        {"100%", "%\"100%\""},
        {"caf\u00e9", "%caf\u00e9"},
        {"\u4e2d\u6587\x7f", "%\u4e2d\u6587\x7f"},  // 127 and above never force quotes
        {"a;b", "%\"a;b\""},
        {"a[1]", "%\"a[1]\""},
        // A bare name holding one of these would end the file token early.
        {"f(1).txt", "%\"f(1).txt\""},
        {"10:30.log", "%\"10:30.log\""},
        {"me@host", "%\"me@host\""},
        // Inside quotes a double quote and a caret cannot stand raw.
        {"say \"hi\".txt", "%\"say ^(22)hi^(22).txt\""},
        {"a^b", "%\"a^^b\""},
        {"two\nlines", "%\"two^/lines\""},
        {"tab\there", "%\"tab\there\""},
    };
    for (auto [name, molded] : cases) EXPECT_EQ(mold(F(name)), molded) << name;
    EXPECT_EQ(mold(F(std::string_view("nul\0x", 5))), "%\"nul^@x\"");
    EXPECT_EQ(mold(at(F("dir/f.txt"), 4)), "%f.txt");
    EXPECT_EQ(mold(at(F("dir/"), 4)), "%\"\"");

    // mold/part: only the first characters are looked at, and the budget left
    // counts the "%" and what followed it.
    int32_t left = 0;
    EXPECT_EQ(mold(F("ab cd"), 2, &left), "%ab");
    EXPECT_EQ(left, -1);
    EXPECT_EQ(mold(F("ab cd"), 3, &left), "%\"ab \"");
    EXPECT_EQ(left, -3);
    EXPECT_EQ(mold(F("abc"), 0, &left), "%");
    EXPECT_EQ(left, -1);

    Cell buf = T(""), spaced = F("a b");
    form_direct(&spaced, &buf, nullptr, INT32_MAX);
    EXPECT_EQ(utf8(buf), "a b");
}

// Every name, however odd, loads back from its mold as the same name.
TEST_F(File, MoldedNamesLoadBack) {
    const char* pieces[] = {"a", "Z", "0", ".", "/", "-", "~", " ", "\t", "\n", "\r", "\"", "^", "%", "%41", "%C3%A9",
                            "(", ")", ":", "@", ";", "[", "]", "{", "}", "<", ">", "#", "\\", "\u00e9", "\u4e2d",
                            "\U0001F600", "\x1e", "\x01", "\x7f", "\u0085", "^(", "^/", "'", "=", "?", "!"};
    std::mt19937 rng(20261110);
    int quoted = 0, bare = 0;
    for (int n = 0; n < 3000; n++) {
        std::string name;
        int count = 1 + int(rng() % 6);
        for (int k = 0; k < count; k++) name += pieces[rng() % std::size(pieces)];
        if (n % 7 == 0) name += std::string(1, '\0');
        std::string molded = mold(F(name));
        std::optional<std::string> back = load_molded_file(molded);
        ASSERT_TRUE(back.has_value()) << "name [" << name << "] molds as [" << molded << "]";
        EXPECT_EQ(*back, name) << molded;
        (molded[1] == '"' ? quoted : bare)++;
    }
    EXPECT_GT(quoted, 100);
    EXPECT_GT(bare, 100);
}

// --- local paths ------------------------------------------------------------------------------

TEST_F(File, LocalPathsAreThePosixName) {
    namespace fs = std::filesystem;
    fs::path folder = fs::temp_directory_path() / ("kem-file-test-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    {
        InFolder in(folder);
        std::string cwd = platform::get_current_dir().value();
        struct Case { Cell source; bool full; std::string expected; };
        const Case cases[] = {
            {F("a/b.txt"), false, "a/b.txt"},
            {F("a/b.txt"), true, cwd + "/a/b.txt"},
            {F("/etc/x"), true, "/etc/x"},
            {F("/c/dir/f.txt"), false, "/c/dir/f.txt"},  // no drive letters here
            {F("//a/b"), false, "//a/b"},
            {F("dir/"), true, cwd + "/dir/"},
            {F(""), true, cwd + "/"},
            {at(F("xx/a"), 3), true, cwd + "/a"},         // from the position
            {at(F("x/a"), 1), true, "/a"},
            {T("a b"), true, cwd + "/a b"},              // a string! converts too
            {F("caf\u00e9/\U0001F600"), false, "caf\u00e9/\U0001F600"},
        };
        for (const Case& c : cases) {
            Cell target = T("->");
            file_to_local_path(&c.source, &target, c.full);
            EXPECT_EQ(utf8(target), "->" + c.expected) << utf8(c.source);
        }
        Cell* dir = file_get_current_dir();
        EXPECT_EQ(type_of(dir), TYPE_STRING);
        EXPECT_EQ(utf8(*dir), cwd + "/");
    }
    {
        InFolder root("/");
        EXPECT_EQ(utf8(*file_get_current_dir()), "/");
    }
    {
        // A current folder that no longer exists has no name to give.
        fs::path gone = folder / "gone";
        fs::create_directories(gone);
        InFolder in(gone);
        fs::remove(gone);
        EXPECT_EQ(utf8(*file_get_current_dir()), "");
        Cell target = T(""), name = F("a");
        file_to_local_path(&name, &target, true);
        EXPECT_EQ(utf8(target), "a");
    }
    fs::remove_all(folder);
}

TEST_F(File, OsPathsAreUtf8AndRefuseNul) {
    const std::pair<Cell, std::optional<std::string>> cases[] = {
        {F("dir/caf\u00e9"), "dir/caf\xC3\xA9"},
        {F("\U0001F600"), "\xF0\x9F\x98\x80"},
        {at(F("ab/c"), 3), "c"},
        {F(""), ""},
        {F(std::string_view("safe\0/etc/passwd", 16)), std::nullopt},
        {F(std::string_view("\0", 1)), std::nullopt},
    };
    for (const auto& [file, expected] : cases) EXPECT_EQ(file_to_os_path(&file), expected);
}

// --- make, to and compare (inherited) -----------------------------------------------------------

TEST_F(File, MakeToAndCompareAsText) {
    Cell file_type, string_type;
    make_datatype(&file_type, TYPE_FILE);
    make_datatype(&string_type, TYPE_STRING);
    Cell text = T("a b.txt");
    Cell* made = to_direct(&file_type, &text);
    EXPECT_EQ(type_of(made), TYPE_FILE);
    EXPECT_EQ(mold(*made), "%\"a b.txt\"");
    Cell file = F("x/y");
    Cell* back = to_direct(&string_type, &file);
    EXPECT_EQ(type_of(back), TYPE_STRING);
    EXPECT_EQ(utf8(*back), "x/y");

    Cell a = F("Dir/A.TXT"), b = F("dir/a.txt"), s = T("dir/a.txt");
    EXPECT_EQ(compare_values(&a, &b, CompareOp::equal), 0);
    EXPECT_NE(compare_values(&a, &b, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare_values(&b, &s, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&b, &s, CompareOp::lesser), -2);
}
