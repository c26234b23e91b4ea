// Text literals: strings, escapes, braced and raw strings, chars, files, tags,
// urls, emails and refs; and the UTF-8 they must hold.
#include "runtime/datatypes/char.h"
#include "test_lexer_support.h"

using namespace kem;
using namespace kem::test;

namespace {

uint32_t unit_of(const Cell& s) { return series_buffer(&s)->unit(); }

} // namespace

TEST_F(LexerTest, EscapesDecodeToTheirCodePoints) {
    const struct {
        const char* escape;
        int32_t code;
    } cases[] = {
        {"^(41)", 0x41},    {"^(0)", 0},         {"^(3B1)", 0x3B1},  {"^(1F600)", 0x1F600}, {"^(10FFFF)", 0x10FFFF},
        {"^(null)", 0},     {"^(back)", 8},      {"^(tab)", 9},      {"^(line)", 10},       {"^(LINE)", 10},
        {"^(page)", 12},    {"^(esc)", 27},      {"^(del)", 127},    {"^(bad)", 0xBAD},     {"^@", 0},
        {"^/", 10},         {"^-", 9},           {"^\"", '"'},       {"^{", '{'},           {"^}", '}'},
        {"^^", '^'},        {"^~", 127},         {"^a", 1},          {"^z", 26},            {"^A", 1},
        {"^[", 27},         {"^\\", 28},         {"^]", 29},         {"^_", 31},            {"^!", '!'},
        {"^1", '1'},
    };
    for (auto& c : cases) {
        Cell ch = load_one(std::string("#\"") + c.escape + "\"");
        EXPECT_EQ(type_of(&ch), TYPE_CHAR) << c.escape;
        EXPECT_EQ(char_get(&ch), c.code) << c.escape;
        Cell s = load_one(std::string("\"") + c.escape + "\"");
        ASSERT_EQ(string_rs_length(&s), 1) << c.escape;
        EXPECT_EQ(string_char_at(&s, 0), c.code) << c.escape;
    }
    for (const char* bad : {"^(1234567)", "^(110000)", "^(tabx)", "^(lin)", "^()", "^(x)", "^(41"}) {
        EXPECT_EQ(load(std::string("\"") + bad + "\"").substr(0, 31), "error: (line 1) invalid string ") << bad;
        EXPECT_EQ(load(std::string("#\"") + bad + "\"").substr(0, 29), "error: (line 1) invalid char ") << bad;
    }
}

TEST_F(LexerTest, StringUnitsFollowTheirWidestCharacter) {
    const struct {
        const char* text;
        uint32_t unit;
    } cases[] = {
        {"\"abc\"", 1}, {"\"^(FF)\"", 1}, {"\"^(3B1)\"", 2}, {"\"\xC3\xA9\"", 2}, {"\"^(1F600)\"", 4},
        {"\"\xF0\x9F\x98\x80\"", 4}, {"{a\xE2\x82\xAC}", 2}, {"%{\xF0\x9F\x98\x80}%", 4},
    };
    for (auto& c : cases) EXPECT_EQ(unit_of(load_one(c.text)), c.unit) << c.text;
    Cell s = load_one("\"x\xF0\x9F\x98\x80y\"");
    ASSERT_EQ(string_rs_length(&s), 3);
    EXPECT_EQ(string_char_at(&s, 1), 0x1F600);
}

TEST_F(LexerTest, TextMustBeUtf8) {
    // A byte that continues a sequence no lead byte began is refused in every
    // text kind, whatever the width of the string.
    const LoadCase cases[] = {
        {"\"a\x80\"", invalid("string", "\"a\xEF\xBF\xBD\"")},
        {"\"\xBF\"", invalid("string", "\"\xEF\xBF\xBD\"")},
        {"\"\xC3\xA9\xA9\"", invalid("string", "\"\xC3\xA9\xEF\xBF\xBD\"")},
        {"{a\x80}", invalid("string", "{a\xEF\xBF\xBD}")},
        {"%{a\x80}%", invalid("string", "%{a\xEF\xBF\xBD}%")},
        {"%a\x80", invalid("file", "%a\xEF\xBF\xBD")},
        {"<a\x80>", invalid("tag", "<a\xEF\xBF\xBD>")},
        {"a:b\x80", invalid("url", "a:b\xEF\xBF\xBD")},
        {"a@b\x80", invalid("email", "a@b\xEF\xBF\xBD")},
        {"@a\x80", invalid("ref", "@a\xEF\xBF\xBD")},
        {"a\x80", invalid("word", "a\xEF\xBF\xBD")},
        {"#\"\x80\"", invalid("char", "#\"\xEF\xBF\xBD\"")},
        {"\"\xE0\x80\xAF\"", invalid("string", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\"")},   // overlong
        {"\"\xC0\"", invalid("string", "\"\xEF\xBF\xBD\"")},
        {"\"^\xC3\xA9\"", invalid("string", "\"^\xC3\xA9\"")},   // a "^" takes one byte, the rest is stray
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, Strings) {
    const LoadCase cases[] = {
        {"\"\" \"abc\" \"a^/b\" \"say ^\"hi^\"\"", "\"\" \"abc\" \"a^/b\" {say \"hi\"}"},
        {"\"a\nb\"", invalid("string", "\"a")},
        {"\"abc", invalid("string", "\"abc")},
        {"{a {b} c} {} {a ^} b} {a^{b}", "\"a {b} c\" \"\" \"a } b\" \"a{b\""},
        {"{a\n{b}\nc}", "\"a^/{b}^/c\""},
        {"{a", invalid("string", "{a")},
        {"{a{b}", invalid("string", "{a{b}")},
        {"x {", invalid("string", "{")},
        {"%{a}b}% %%{a}% b}%% %{}% %{\"}% %{^/}%", "\"a}b\" \"a}% b\" \"\" {\"} \"^^/\""},
        {"%{a}%%", invalid("string", "%{a}%%")},
        {"%%{a}%", invalid("string", "%%{a}%")},
        {"%%{a}% b", invalid("string", "%%{a}% b")},
        {"%%{a}%%%b}%%", invalid("string", "%%{a}%%%b}%%")},
    };
    check_loads(cases, std::size(cases));
}

TEST_F(LexerTest, CharsFilesTagsUrlsEmailsRefs) {
    const LoadCase cases[] = {
        {"#\"a\" #\"^(41)\" #\"^\"\" #\"\xC3\xA9\"", "#\"a\" #\"A\" #\"^\"\" #\"\xC3\xA9\""},
        {"#\"\"", invalid("char", "#\"\"")},
        {"#\"ab\"", invalid("char", "#\"ab\"")},
        {"#\"^(110000)\"", invalid("char", "#\"^(110000)\"")},
        {"%a/b.txt %\"a b\" %a%20b %\"\" %a%", "%a/b.txt %\"a b\" %\"a b\" %\"\" %\"a%\""},
        {"%\"a^(41)\"", "%aA"},
        {"%\"a\nb\"", invalid("file", "%\"a")},
        {"<a> <a href=\"x>y\"> <a 'x>y'> <1>", "<a> <a href=\"x>y\"> <a 'x>y'> <1>"},
        {"<a", invalid("tag", "<a")},
        {"http://a.b/c a:b http://a.b/%41", "http://a.b/c a:b http://a.b/A"},
        {":a:b", invalid("get-word", ":a:b")},
        {"'a:b", invalid("lit-word", "'a:b")},
        {"a@b.c x@y", "a@b.c x@y"},
        {"@ref @a.b", "@ref @a.b"},
    };
    check_loads(cases, std::size(cases));
    const struct {
        const char* text;
        uint8_t type;
        const char* formed;
    } kinds[] = {
        {"%a/b", TYPE_FILE, "a/b"}, {"<t x>", TYPE_TAG, "<t x>"}, {"a:b", TYPE_URL, "a:b"},
        {"a@b", TYPE_EMAIL, "a@b"}, {"@ref", TYPE_REF, "ref"},   {"%{r}%", TYPE_STRING, "r"},
    };
    for (auto& k : kinds) {
        Cell v = load_one(k.text);
        EXPECT_EQ(type_of(&v), k.type) << k.text;
        EXPECT_EQ(form_text(v), k.formed) << k.text;
    }
}
