#include <gtest/gtest.h>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/url.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"
#include "value_support.h"

using namespace kem;
using kem::test::at;
using kem::test::error_of;
using kem::test::I;

namespace {

// A text value of any string kind from UTF-8, built code point by code point
// (so a leading U+FEFF is kept, unlike loading text).
Cell T(std::string_view utf8, uint8_t type = TYPE_STRING) { return kem::test::text_by_points(utf8, type); }
Cell U(std::string_view utf8) { return T(utf8, TYPE_URL); }

// The text from the position, as UTF-8.
std::string utf8(const Cell& s) { return kem::test::utf8_of(s); }

std::string mold(Cell v, int32_t limit = -1, int32_t* left = nullptr) {
    return kem::test::text_within(v, true, limit, left);
}

std::string from_hex(const std::string& hex) {
    std::string out;
    if (hex == "-") return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

Cell block_of(std::initializer_list<Cell> items) { return kem::test::B(items); }

class Url : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        words_init();
    }
    void TearDown() override {
        cycle_reset();
        stack::init();
    }
};

} // namespace

// --- percent-encoding against Python's urllib.parse ---------------------------------------

TEST_F(Url, EncodingAndDecodingAgreeWithPython) {
    auto path = std::filesystem::path(__FILE__).parent_path() / "data" / "url_cases.txt";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    int encoded = 0, decoded = 0;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string kind;
        fields >> kind;
        if (kind == "enc") {
            int mode;
            std::string input, expected;
            fields >> mode >> input >> expected;
            Cell source = T(from_hex(input)), target = T("");
            url_encode(&source, &target, mode);
            EXPECT_EQ(utf8(target), from_hex(expected)) << line;
            encoded++;
        } else if (kind == "dec") {
            std::string input, expected;
            fields >> input >> expected;
            Cell source = T(from_hex(input)), target = T("");
            url_decode(&source, &target);
            EXPECT_EQ(utf8(target), from_hex(expected)) << line;
            Cell same = U(from_hex(input));
            url_decode_in_place(&same);
            EXPECT_EQ(utf8(same), from_hex(expected)) << "in place: " << line;
            decoded++;
        }
    }
    EXPECT_GT(encoded, 800);
    EXPECT_GT(decoded, 500);
}

// Where Python substitutes U+FFFD, a lone escaped byte is the character of its
// value and anything that is not a whole well-formed sequence stays as text.
TEST_F(Url, DecodingMalformedAndPartialEscapes) {
    const std::pair<const char*, const char*> cases[] = {
        {"%A9", "\u00a9"},                // no lead byte: Latin-1
        {"%C3", "%C3"},                   // a lead byte alone
        {"%C3x", "%C3x"},
        {"%C3%41", "%C3A"},               // a continuation that is not one
        {"%E2%82", "%E2\u0082"},          // cut short: the lead stays, the continuation is Latin-1
        {"%C0%AF", "%C0\u00af"},          // overlong "/" never decodes to "/"
        {"%ED%A0%80", "%ED\u00a0\u0080"},  // a surrogate
        {"%F8%88%80%80", "%F8\u0088\u0080\u0080"},
        {"%g1%4", "%g1%4"},
        {"%%", "%%"},
        {"\u4e2d%20\U0001F600", "\u4e2d \U0001F600"},
    };
    for (auto [in, out] : cases) {
        Cell source = T(in), target = T("");
        url_decode(&source, &target);
        EXPECT_EQ(utf8(target), out) << in;
    }
    // From the position on; a 1-byte target widens for a wide result.
    Cell source = at(T("ab%E4%B8%AD"), 2), target = T("x");
    url_decode(&source, &target);
    EXPECT_EQ(utf8(target), "x\u4e2d");
    EXPECT_EQ(series_buffer(&target)->unit(), 2u);
    // In place: the text before the position stays as it was.
    Cell v = at(U("a%20b%20c"), 4);
    url_decode_in_place(&v);
    EXPECT_EQ(utf8(at(v, 0)), "a%20b c");
}

TEST_F(Url, EscapePrimitives) {
    const uint8_t text[] = {'%', '4', 'f', '%', 0xC3, 0xA9, '%', '4'};
    uint8_t byte = 0;
    EXPECT_TRUE(url_decode_escape(text, text + 3, &byte));
    EXPECT_EQ(byte, 0x4F);
    EXPECT_FALSE(url_decode_escape(text + 3, text + 6, &byte));  // non-ASCII digits
    EXPECT_FALSE(url_decode_escape(text + 6, text + 8, &byte));  // never reads past the end
    EXPECT_FALSE(url_decode_escape(text, text + 2, &byte));

    struct Case { int32_t mode; uint8_t byte; const char* text; };
    const Case cases[] = {
        {URL_MODE_TEXT, 'a', "a"}, {URL_MODE_URL, 'a', "a"}, {URL_MODE_TEXT, '~', "~"},
        {URL_MODE_TEXT, '/', "%2F"}, {URL_MODE_URL, '/', "/"}, {0, '/', "/"},
        {URL_MODE_URL, '%', "%25"}, {URL_MODE_URL, ' ', "%20"}, {URL_MODE_URL, ';', "%3B"},
        {URL_MODE_URL, '[', "%5B"}, {URL_MODE_URL, 0x7F, "%7F"}, {URL_MODE_URL, 0xE9, "%E9"},
        {URL_MODE_URL, 0, "%00"},
    };
    for (const Case& c : cases) {
        UrlEscapedByte e = url_escape_byte(c.mode, c.byte);
        EXPECT_EQ(std::string(e.text, size_t(e.length)), c.text) << int(c.byte) << " mode " << c.mode;
    }
}

// --- mold, make and to -------------------------------------------------------------------------

TEST_F(Url, MoldEncodesAndLoadsBack) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://a.b/c?d=1&e=f#g", "http://a.b/c?d=1&e=f#g"},
        {"http://a/b c", "http://a/b%20c"},
        {"http://a/caf\u00e9", "http://a/caf%C3%A9"},
        {"http://a/100%", "http://a/100%25"},
        {"mailto:x@y", "mailto:x@y"},
        // The lexer ends a URL at a parenthesis: they are escaped too.
        {"http://a/Foo_(bar)", "http://a/Foo_%28bar%29"},
        {"", ""},
    };
    for (auto [text, molded] : cases) {
        EXPECT_EQ(mold(U(text)), molded) << text;
        Cell source = T(molded), back = T("");
        url_decode(&source, &back);
        EXPECT_EQ(utf8(back), text);
    }
    EXPECT_EQ(mold(at(U("http://a"), 7)), "a");
    // mold/part stops once the budget is spent and returns what is left.
    int32_t left = 0;
    EXPECT_EQ(mold(U("ab cd"), 3, &left), "ab%20");
    EXPECT_EQ(left, -2);
    EXPECT_EQ(mold(U("abcd"), 0, &left), "");
    EXPECT_EQ(left, 0);
    // form keeps the text as it is.
    Cell url = U("http://a/b c"), buf = T("");
    form_direct(&url, &buf, nullptr, INT32_MAX);
    EXPECT_EQ(utf8(buf), "http://a/b c");
}

TEST_F(Url, MakeAndToBuildFromABlock) {
    Cell s = word_load("http"), h = word_load("host"), a = word_load("a"), b = word_load("b");
    Cell issue = word_load("frag", TYPE_ISSUE);
    Cell url_type;
    make_datatype(&url_type, TYPE_URL);
    struct Case { Cell block; const char* text; };
    const Case cases[] = {
        {block_of({s}), "http://"},
        {block_of({s, h}), "http://host"},
        {block_of({s, h, I(8080)}), "http://host:8080"},
        {block_of({s, h, I(8080), a, b}), "http://host:8080/a/b"},
        {block_of({s, h, a, issue}), "http://host/a#frag"},
        {block_of({s, h, a, T("x y"), b}), "http://host/a/x y/b"},
        {at(block_of({a, s, h}), 1), "http://host"},
    };
    for (const Case& c : cases) {
        for (auto fn : {&make_direct, &to_direct}) {
            Cell spec = c.block;
            Cell* r = fn(&url_type, &spec);
            EXPECT_EQ(type_of(r), TYPE_URL);
            EXPECT_EQ(utf8(*r), c.text);
        }
    }
    Cell paren = block_of({s, h});
    set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(utf8(*to_direct(&url_type, &paren)), "http://host");

    Cell empty = at(block_of({s}), 1);
    EXPECT_EQ(error_of([&] { make_direct(&url_type, &empty); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { to_direct(&url_type, &empty); }), Err::script_bad_to_arg);

    // Any other spec converts as a string! does.
    Cell text = T("ftp://x"), ten = I(10);
    Cell* from_text = to_direct(&url_type, &text);
    EXPECT_EQ(type_of(from_text), TYPE_URL);
    EXPECT_EQ(utf8(*from_text), "ftp://x");
    Cell* sized = make_direct(&url_type, &ten);
    EXPECT_EQ(type_of(sized), TYPE_URL);
    EXPECT_EQ(utf8(*sized), "");
    // A string! made from a block is not built as a URL.
    Cell string_type;
    make_datatype(&string_type, TYPE_STRING);
    Cell pair = cases[1].block;
    EXPECT_EQ(utf8(*to_direct(&string_type, &pair)), "httphost");
}

TEST_F(Url, CompareAsText) {
    Cell a = U("HTTP://A.b"), b = U("http://a.b"), c = U("http://a.c");
    EXPECT_EQ(compare_values(&a, &b, CompareOp::equal), 0);         // equal ignores case
    EXPECT_NE(compare_values(&a, &b, CompareOp::strict_equal), 0);  // strict does not
    EXPECT_LT(compare_values(&b, &c, CompareOp::lesser), 0);
    Cell text = T("http://a.b");
    EXPECT_EQ(compare_values(&b, &text, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&b, &text, CompareOp::lesser), -2);  // ordering across kinds
}

// --- path join (url! and file!) -----------------------------------------------------------------

TEST_F(Url, PathJoinPutsOneSlashBetween) {
    Cell b_word = word_load("b");
    Cell value = T("sub");
    word_set(&b_word, &value);
    Cell get_b = b_word;
    set_type(&get_b, TYPE_GET_WORD);

    struct Case { Cell base; Cell element; const char* text; };
    const Case cases[] = {
        {T("a/", TYPE_FILE), b_word, "a/b"},
        {T("a", TYPE_FILE), T("/b", TYPE_FILE), "a/b"},
        {T("a/", TYPE_FILE), T("/b", TYPE_FILE), "a/b"},
        {T("a", TYPE_FILE), b_word, "a/b"},
        {T("a", TYPE_FILE), get_b, "a/sub"},         // a get-word! stands for its value
        {T("", TYPE_FILE), b_word, "/b"},
        {T("a", TYPE_FILE), T(""), "a/"},
        {T("a/", TYPE_FILE), T(""), "a/"},
        {at(T("x/a", TYPE_FILE), 2), b_word, "a/b"},  // the base from its position
        {T("a", TYPE_FILE), I(7), "a/7"},
        {T("d\u4e2d/", TYPE_FILE), T("\U0001F600"), "d\u4e2d/\U0001F600"},
        {U("http://h"), b_word, "http://h/b"},
        {U("http://h/"), T("/x y"), "http://h/x y"},
    };
    for (const Case& c : cases) {
        Cell base = c.base, element = c.element;
        std::string before = utf8(base);
        Cell* r = eval_path_direct(&base, &element, nullptr, PathStep{.index = 0, .get = true, .last = true});
        EXPECT_EQ(utf8(*r), c.text) << before;
        EXPECT_EQ(type_of(r), type_of(&c.base));
        EXPECT_EQ(series_position(r), 0);
        EXPECT_EQ(utf8(base), before);  // the base never changes
        EXPECT_NE(series_node(r), series_node(&base));
    }
    Cell base = U("http://h"), element = b_word, v = T("x");
    EXPECT_EQ(error_of([&] { eval_path_direct(&base, &element, &v, PathStep{.index = 0, .last = true}); }),
              Err::script_bad_path_set);
    Cell file = T("a", TYPE_FILE);
    EXPECT_EQ(error_of([&] { eval_path_direct(&file, &element, &v, PathStep{.index = 0, .last = true}); }),
              Err::script_bad_path_set);
    EXPECT_EQ(utf8(file), "a");
}

// --- the rows -------------------------------------------------------------------------------------

TEST_F(Url, RowsOfTheStringKinds) {
    using Fn = ActionFn;
    auto fn = [](auto f) { return reinterpret_cast<Fn>(f); };
    struct Case { uint8_t type; int slot; Fn expected; };
    const Case cases[] = {
        {TYPE_URL, ACT_MAKE, fn(&url_make)},         {TYPE_URL, ACT_FORM, fn(&string_form)},
        {TYPE_URL, ACT_COMPARE, fn(&string_compare)}, {TYPE_URL, ACT_APPEND, fn(&string_append)},
        {TYPE_URL, ACT_SORT, nullptr},               {TYPE_URL, ACT_TRIM, nullptr},
        {TYPE_URL, ACT_PUT, nullptr},                {TYPE_URL, ACT_ADD, nullptr},
        {TYPE_URL, ACT_DELETE, nullptr},             {TYPE_URL, ACT_REFLECT, nullptr},
        {TYPE_FILE, ACT_MAKE, fn(&url_make)},        {TYPE_FILE, ACT_TO, fn(&url_to)},
        {TYPE_FILE, ACT_EVAL_PATH, fn(&url_eval_path)}, {TYPE_FILE, ACT_FORM, fn(&string_form)},
        {TYPE_FILE, ACT_SELECT, fn(&string_select)}, {TYPE_FILE, ACT_OPEN, nullptr},
        {TYPE_FILE, ACT_TRIM, nullptr},              {TYPE_FILE, ACT_MODIFY, action_entry(TYPE_STRING, ACT_MODIFY)},
        {TYPE_TAG, ACT_MAKE, fn(&string_make)},      {TYPE_TAG, ACT_EVAL_PATH, fn(&string_eval_path)},
        {TYPE_TAG, ACT_PUT, action_entry(TYPE_STRING, ACT_PUT)}, {TYPE_TAG, ACT_TRIM, nullptr},
        {TYPE_TAG, ACT_READ, nullptr},               {TYPE_EMAIL, ACT_FORM, fn(&string_form)},
        {TYPE_EMAIL, ACT_COMPARE, fn(&string_compare)}, {TYPE_EMAIL, ACT_SORT, nullptr},
        {TYPE_EMAIL, ACT_DELETE, nullptr},
    };
    for (const Case& c : cases)
        EXPECT_EQ(action_entry(c.type, c.slot), c.expected) << type_name(c.type) << " slot " << c.slot;
    EXPECT_NE(action_entry(TYPE_FILE, ACT_MOLD), action_entry(TYPE_URL, ACT_MOLD));
    EXPECT_NE(action_entry(TYPE_TAG, ACT_FORM), fn(&string_form));
}
