#include <gtest/gtest.h>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/email.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tag.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"
#include "value_support.h"

using namespace kem;
using kem::test::at;
using kem::test::error_of;

namespace {

Cell T(std::string_view utf8, uint8_t type = TYPE_STRING) {
    Cell c;
    string_make_utf8(&c, utf8);
    set_type(&c, type);
    return c;
}
Cell Tag(std::string_view text) { return T(text, TYPE_TAG); }
Cell Email(std::string_view text) { return T(text, TYPE_EMAIL); }

std::string utf8(const Cell& s) { return kem::test::utf8_of(s); }
std::string whole(Cell s) { return utf8(at(s, 0)); }

// form (mold false) or mold, optionally with a /part budget.
std::string show(Cell v, bool molded, int32_t limit = -1) { return kem::test::text_within(v, molded, limit); }

Cell* get_path(Cell& parent, Cell element) {
    return eval_path_direct(&parent, &element, nullptr, PathStep{.index = 0, .get = true, .last = true});
}
// The value lives on the data stack, as the evaluator's would.
Cell* set_path(Cell& parent, Cell element, Cell value) {
    Cell* v = stack::push(&value);
    return eval_path_direct(&parent, &element, v, PathStep{.index = 0, .last = true});
}

class TagEmail : public ::testing::Test {
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

// --- form and mold ------------------------------------------------------------------------

TEST_F(TagEmail, FormAndMoldTexts) {
    struct Case { Cell value; const char* formed; const char* molded; };
    const Case cases[] = {
        {Tag("b class=x"), "<b class=x>", "<b class=x>"},
        {Tag("a href=\"x y\" ^"), "<a href=\"x y\" ^>", "<a href=\"x y\" ^>"},  // nothing escaped
        {Tag(""), "<>", "<>"},
        {at(Tag("xyz"), 1), "<yz>", "<yz>"},
        {Tag("\u4e2d"), "<\u4e2d>", "<\u4e2d>"},
        {Email("john@example.com"), "john@example.com", "john@example.com"},
        {Email("a \"b\"@c^d"), "a \"b\"@c^d", "a \"b\"@c^d"},  // no quotes, nothing escaped
    };
    for (const Case& c : cases) {
        EXPECT_EQ(show(c.value, false), c.formed);
        EXPECT_EQ(show(c.value, true), c.molded);
    }
    // A part budget cuts the text, the brackets stay.
    EXPECT_EQ(show(Tag("abcdef"), true, 3), "<ab>");
    EXPECT_EQ(show(Tag("abcdef"), false, 3), "<ab>");
    // A tag formed into a string by append keeps its brackets as well.
    Cell s = T("x"), tag = Tag("p");
    append_direct(&s, &tag, -1, false, 1);
    EXPECT_EQ(whole(s), "x<p>");
}

// --- email paths ------------------------------------------------------------------------------

TEST_F(TagEmail, UserAndHostRead) {
    Cell user = word_load("user"), host = word_load("host"), upper = word_load("HOST");
    struct Case { Cell email; const char* user; const char* host; };
    const Case cases[] = {
        {Email("john@example.com"), "john", "example.com"},
        {Email("nobody"), "nobody", ""},  // no "@": the host is empty, never past the tail
        {Email("@only.host"), "", "only.host"},
        {Email("trail@"), "trail", ""},
        {Email("a@b@c"), "a", "b@c"},
        {at(Email("xjohn@h"), 1), "john", "h"},
        {at(Email("ab"), 2), "", ""},
        {at(Email("ab"), 9), "", ""},
        {Email("\u00e9l\u00e8ve@\u4e2d.cn"), "\u00e9l\u00e8ve", "\u4e2d.cn"},
    };
    for (const Case& c : cases) {
        Cell e = c.email;
        std::string before = whole(e);
        Cell* u = get_path(e, user);
        EXPECT_EQ(type_of(u), TYPE_STRING);
        EXPECT_EQ(utf8(*u), c.user) << before;
        Cell* h = get_path(e, host);
        EXPECT_EQ(type_of(h), TYPE_STRING);
        EXPECT_EQ(utf8(*h), c.host) << before;
        EXPECT_EQ(utf8(*get_path(e, upper)), c.host);  // the word's case does not matter
        EXPECT_NE(series_node(h), series_node(&e));     // a copy
        EXPECT_EQ(whole(e), before);
    }
}

TEST_F(TagEmail, UserAndHostWriteInPlace) {
    Cell user = word_load("user"), host = word_load("host");
    struct Case { const char* email; bool set_host; Cell value; const char* result; };
    const Case cases[] = {
        {"john@example.com", true, T("kem.org"), "john@kem.org"},
        {"john@example.com", false, T("jane.doe"), "jane.doe@example.com"},
        {"john@example.com", true, T(""), "john@"},
        {"@h", false, T("me"), "me@h"},
        {"a@b@c", true, T("x"), "a@x"},
        // Without an "@" the host is the empty text at the tail: the new text goes
        // at the tail and nothing past it is touched.
        {"nobody", true, T("x"), "nobodyx"},
        {"nobody", false, T("anyone"), "anyone"},
        {"a@b", true, T("\u4e2d"), "a@\u4e2d"},
    };
    for (const Case& c : cases) {
        Cell e = Email(c.email);
        Cell other = e;  // a second reference sees the change
        Cell* r = set_path(e, c.set_host ? host : user, c.value);
        EXPECT_EQ(whole(e), c.result) << c.email;
        EXPECT_EQ(whole(other), c.result);
        EXPECT_EQ(type_of(&e), TYPE_EMAIL);
        EXPECT_EQ(utf8(*r), utf8(c.value));  // the answer is the value set
    }
    // From a position: the part before it is kept.
    Cell e = at(Email("xx:a@b"), 3);
    set_path(e, user, T("zz"));
    EXPECT_EQ(whole(e), "xx:zz@b");
}

TEST_F(TagEmail, OtherPathElements) {
    Cell e = Email("john@example.com");
    Cell one;
    make_integer(&one, 1);
    Cell* c = get_path(e, one);
    EXPECT_EQ(type_of(c), TYPE_CHAR);
    EXPECT_EQ(cell_int(c), 'j');
    Cell big;
    make_char(&big, 'J');
    set_path(e, one, big);
    EXPECT_EQ(whole(e), "John@example.com");

    const Cell refused[] = {word_load("name"), word_load("user", TYPE_GET_WORD), T("user"),
                            word_load("user", TYPE_REFINEMENT)};
    for (const Cell& element : refused) {
        EXPECT_EQ(error_of([&] { get_path(e, element); }), Err::script_invalid_path);
        EXPECT_EQ(error_of([&] { set_path(e, element, T("x")); }), Err::script_invalid_path);
    }
    EXPECT_EQ(whole(e), "John@example.com");
}

// --- make, to and compare (inherited from string!) -------------------------------------------------

TEST_F(TagEmail, MakeToAndCompare) {
    Cell tag_type, email_type;
    make_datatype(&tag_type, TYPE_TAG);
    make_datatype(&email_type, TYPE_EMAIL);
    Cell text = T("div");
    Cell* tag = to_direct(&tag_type, &text);
    EXPECT_EQ(type_of(tag), TYPE_TAG);
    EXPECT_EQ(show(*tag, true), "<div>");
    Cell address = T("me@kem.org");
    Cell* email = make_direct(&email_type, &address);
    EXPECT_EQ(type_of(email), TYPE_EMAIL);
    EXPECT_EQ(whole(*email), "me@kem.org");

    Cell a = Email("Me@Kem.org"), b = Email("me@kem.org"), t1 = Tag("B"), t2 = Tag("b");
    EXPECT_EQ(compare_values(&a, &b, CompareOp::equal), 0);
    EXPECT_NE(compare_values(&a, &b, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare_values(&t1, &t2, CompareOp::equal), 0);
    EXPECT_NE(compare_values(&t1, &t2, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare_values(&a, &t2, CompareOp::lesser), -2);
}
