#include <gtest/gtest.h>
#include <set>
#include <string>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/paren.h"
#include "runtime/datatypes/ref.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/unicode/case.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

class SmallTypes : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::words_up();
    }
    void TearDown() override { cycle_reset(); }
};

std::string molded(const Cell& v, bool only = false, bool all = false) {
    Cell value = v;
    Cell buffer;
    string_make_at(&buffer, 16);
    int32_t left = mold_direct(&value, &buffer, MoldArgs{.only = only, .all = all}, 1000, 0);
    std::string text = kem::test::buffer_bytes(buffer);
    EXPECT_EQ(left, 1000 - int32_t(text.size())) << text;
    return text;
}

Cell block_of(std::initializer_list<Cell> items, uint8_t type = TYPE_BLOCK) {
    Cell b;
    block_make_at(&b, 4);
    for (const Cell& i : items) block_append_cell(&b, &i);
    set_type(&b, type);
    return b;
}

Cell text_cell(const char* text, uint8_t type = TYPE_STRING, uint32_t index = 0) {
    Cell s;
    string_make_utf8(&s, text);
    set_type(&s, type);
    s.data1 = index;
    return s;
}

std::string name_of(const Cell& word) { return std::string(symbol_name(word.data2)); }

} // namespace

// Which slots each type implements itself, which it takes from its parent
// and which it leaves empty.
TEST_F(SmallTypes, ActionRowsFollowTheirParents) {
    auto range = [](int from, int to) {
        std::set<int> s;
        for (int i = from; i <= to; i++) s.insert(i);
        return s;
    };
    auto join = [](std::set<int> a, const std::set<int>& b) {
        a.insert(b.begin(), b.end());
        return a;
    };
    const struct {
        uint8_t type, parent;
        std::set<int> own, inherited;
    } rows[] = {
        {TYPE_PAREN, TYPE_BLOCK, {ACT_MOLD}, join(join(range(1, 5), {7, 9, 55}), range(25, 50))},
        {TYPE_ISSUE, TYPE_WORD, {ACT_MAKE, ACT_TO, ACT_MOLD, ACT_COMPARE}, {ACT_FORM}},
        {TYPE_TRIPLE, 0, {ACT_FORM, ACT_MOLD}, {}},
        {TYPE_HANDLE, TYPE_INTEGER, {ACT_FORM, ACT_MOLD, ACT_COMPARE}, {}},
        {TYPE_REF, TYPE_STRING, {ACT_MOLD},
         join(join(join({1, 3, 4, 5, 9, 55}, range(26, 40)), range(42, 44)), range(46, 50))},
    };
    for (const auto& r : rows) {
        for (int slot = 1; slot <= ACTION_SLOT_COUNT; slot++) {
            SCOPED_TRACE(std::string(type_name(r.type)) + " slot " + std::to_string(slot));
            ActionFn entry = action_entry(r.type, slot);
            ActionFn parent = r.parent ? action_entry(r.parent, slot) : nullptr;
            if (r.own.count(slot)) {
                EXPECT_NE(entry, nullptr);
                EXPECT_NE(entry, parent);
            } else if (r.inherited.count(slot)) {
                EXPECT_EQ(entry, parent);
            } else {
                EXPECT_EQ(entry, nullptr);
            }
        }
    }
    EXPECT_NE(action_entry(TYPE_PAREN, ACT_LENGTH_Q), nullptr);
    EXPECT_NE(action_entry(TYPE_REF, ACT_FIND), nullptr);
}

TEST_F(SmallTypes, ParenMoldsInParentheses) {
    Cell inner = block_of({I(3)}, TYPE_PAREN);
    Cell paren = block_of({I(1), I(2)}, TYPE_PAREN);
    Cell nested = block_of({inner, I(4)}, TYPE_PAREN);
    Cell in_block = block_of({paren, inner});
    EXPECT_EQ(molded(paren), "(1 2)");
    EXPECT_EQ(molded(paren, true), "1 2");
    EXPECT_EQ(molded(nested), "((3) 4)");
    EXPECT_EQ(molded(in_block), "[(1 2) (3)]");
    EXPECT_EQ(molded(block_of({}, TYPE_PAREN)), "()");

    // A paren that holds itself writes the marker instead of recursing.
    Cell self = block_of({I(1)}, TYPE_PAREN);
    block_append_cell(&self, &self);
    EXPECT_EQ(molded(self), "(1 (...))");

    Cell* pushed = paren_push(&in_block);
    EXPECT_EQ(type_of(pushed), TYPE_PAREN);
    EXPECT_EQ(series_node(pushed), series_node(&in_block));
    EXPECT_EQ(type_of(&in_block), TYPE_BLOCK);
}

TEST_F(SmallTypes, IssueMakeMoldAndCompare) {
    auto to_issue = [](Cell spec) {
        Cell proto{TYPE_DATATYPE, TYPE_ISSUE, 0, 0};
        return *to_direct(&proto, &spec);
    };
    Cell from_index = to_issue(text_cell("abc", TYPE_STRING, 1));
    EXPECT_EQ(type_of(&from_index), TYPE_ISSUE);
    EXPECT_EQ(name_of(from_index), "bc");
    EXPECT_EQ(from_index.data1, global_context);
    EXPECT_EQ(from_index.data3, 0xFFFFFFFFu);
    EXPECT_EQ(name_of(to_issue(Ch('a'))), "a");
    Cell set_word = word_load("name", TYPE_SET_WORD);
    Cell from_word = to_issue(set_word);
    EXPECT_EQ(from_word.data2, set_word.data2);
    EXPECT_EQ(from_word.data3, 0xFFFFFFFFu);
    EXPECT_EQ(error_of([&] { to_issue(I(5)); }), Err::script_bad_to_arg);

    Cell issue;
    issue_set_in(&issue, "FF00");
    EXPECT_EQ(molded(issue), "#FF00");
    EXPECT_EQ(text_of(issue, false), "FF00");

    Cell lower;
    issue_set_in(&lower, "ff00");
    Cell word = word_load("FF00");
    EXPECT_EQ(compare_values(&issue, &lower, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&issue, &lower, CompareOp::strict_equal), 1);
    EXPECT_EQ(compare_values(&issue, &word, CompareOp::equal), -2);
    EXPECT_EQ(compare_values(&word, &issue, CompareOp::equal), -2);

    Cell* pushed = issue_push(&word);
    EXPECT_EQ(type_of(pushed), TYPE_ISSUE);
    EXPECT_EQ(pushed->data2, word.data2);

    Cell block = block_of({});
    Cell* appended = issue_make_in(&block, "abc");
    EXPECT_EQ(molded(block), "[#abc]");
    EXPECT_EQ(type_of(appended), TYPE_ISSUE);
}

TEST_F(SmallTypes, TripleText) {
    const struct {
        Cell value;
        const char* text;
    } cases[] = {
        {Cell{TYPE_TRIPLE, 1, uint32_t(-2), 3}, "make triple! [1 -2 3]"},
        {Cell{TYPE_TRIPLE, 0, 0, 0}, "make triple! [0 0 0]"},
        {Cell{TYPE_TRIPLE, 0x80000000u, 2147483647u, 7}, "make triple! [-2147483648 2147483647 7]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(c.value, false), c.text);
        EXPECT_EQ(molded(c.value), c.text);
    }
}

TEST_F(SmallTypes, HandleTextAndCompare) {
    auto H = [](int32_t value, uint32_t cls) {
        Cell c;
        handle_set_in(&c, value, cls);
        return c;
    };
    const struct {
        Cell value;
        const char* form;
        const char* mold_all;
    } cases[] = {
        {H(255, HANDLE_CLASS_WINDOW), "000000FFh", "#[handle! 000000FFh window]"},
        {H(255, HANDLE_CLASS_NULL), "000000FFh", "#[handle! 000000FFh]"},
        {H(-1, HANDLE_CLASS_RICH_TEXT), "FFFFFFFFh", "#[handle! FFFFFFFFh rich-text]"},
        {H(0x1A2B3C, HANDLE_CLASS_FD), "001A2B3Ch", "#[handle! 001A2B3Ch fd]"},
        // A class the table does not know has no name to show.
        {H(1, 99), "00000001h", "#[handle! 00000001h]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(text_of(c.value, false), c.form);
        EXPECT_EQ(molded(c.value, false, true), c.mold_all);
        EXPECT_EQ(molded(c.value), "handle!");
    }

    Cell minus = H(-1, 3), plus = H(1, 3), other_class = H(1, 4), integer = I(1);
    EXPECT_EQ(compare_values(&minus, &plus, CompareOp::lesser), -1);
    EXPECT_EQ(compare_values(&plus, &minus, CompareOp::lesser), 1);
    EXPECT_EQ(compare_values(&plus, &other_class, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&plus, &integer, CompareOp::equal), -2);

    stack::init();
    stack::push_native_frame(&CALLER);
    stack::push(&integer);
    Cell* boxed = handle_box(7, HANDLE_CLASS_FONT);
    EXPECT_EQ(boxed, stack::arguments);
    EXPECT_EQ(handle_value(boxed), 7);
    EXPECT_EQ(handle_class(boxed), uint32_t(HANDLE_CLASS_FONT));
    EXPECT_EQ(boxed->data3, 0xFFFFFFFFu);
    Cell* plain = handle_push_plain();
    EXPECT_EQ(handle_value(plain), 0);
    EXPECT_EQ(handle_class(plain), uint32_t(HANDLE_CLASS_NULL));
}

TEST_F(SmallTypes, RefMoldsWithAnAtSign) {
    Cell ref = text_cell("user", TYPE_REF);
    EXPECT_EQ(molded(ref), "@user");
    EXPECT_EQ(text_of(ref, false), "user");
    EXPECT_EQ(molded(text_cell("name", TYPE_REF, 2)), "@me");
    Cell* pushed = ref_push(&ref);
    EXPECT_EQ(type_of(pushed), TYPE_REF);
    EXPECT_EQ(series_node(pushed), series_node(&ref));
}
