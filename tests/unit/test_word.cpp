#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"
#include "value_support.h"

using namespace kem;
using kem::test::I;
using kem::test::error_of;

namespace {

class Word : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::words_up();
        lexer_init();
    }
    void TearDown() override {
        cycle_reset();
        stack::init();
    }
};

Cell as(Cell w, uint8_t type) {
    set_type(&w, type);
    return w;
}

std::string text_of(const Cell& s) {
    Cell copy = s;
    return to_utf8_cstring(&copy);
}

std::string mold(Cell v) {
    Cell buf;
    string_make_at(&buf, 16);
    mold_direct(&v, &buf, MoldArgs{}, INT32_MAX, 0);
    return text_of(buf);
}

std::string form(Cell v) {
    Cell buf;
    string_make_at(&buf, 16);
    form_direct(&v, &buf, nullptr, INT32_MAX);
    return text_of(buf);
}

// Runs f with the current call's arguments set to the given cells.
Cell* call_with(std::initializer_list<Cell> args, Cell* (*f)()) {
    stack::arguments = stack::top;
    for (const Cell& a : args) stack::push(&a);
    return f();
}

} // namespace

TEST_F(Word, MoldAndFormOfEachKind) {
    struct Case {
        uint8_t type;
        const char* name;
        const char* molded;
        const char* formed;
    };
    const Case cases[] = {
        {TYPE_WORD, "mf-Foo", "mf-Foo", "mf-Foo"},
        {TYPE_LIT_WORD, "mf-foo", "'mf-foo", "mf-foo"},
        {TYPE_SET_WORD, "mf-foo", "mf-foo:", "mf-foo"},
        {TYPE_GET_WORD, "mf-foo", ":mf-foo", "mf-foo"},
        {TYPE_REFINEMENT, "mf-foo", "/mf-foo", "mf-foo"},
        {TYPE_WORD, "caf\xC3\xA9", "caf\xC3\xA9", "caf\xC3\xA9"},
    };
    for (const Case& c : cases) {
        Cell w = word_load(c.name, c.type);
        EXPECT_EQ(mold(w), c.molded) << c.molded;
        EXPECT_EQ(form(w), c.formed) << c.molded;
    }
    // A variant sharing a slot keeps its own spelling.
    word_load("mf-var");
    EXPECT_EQ(mold(word_load("MF-Var", TYPE_LIT_WORD)), "'MF-Var");
}

TEST_F(Word, MoldCountsWhatItWrote) {
    Cell w = word_load("cnt-abc", TYPE_SET_WORD);
    Cell buf;
    string_make_at(&buf, 16);
    EXPECT_EQ(mold_direct(&w, &buf, MoldArgs{}, 100, 0), 100 - 8);
    Cell limit = I(3);
    Cell out;
    string_make_at(&out, 16);
    EXPECT_EQ(form_direct(&w, &out, &limit, 3), 3 - 7);
    EXPECT_EQ(text_of(out), "cnt");
}

TEST_F(Word, CompareWithAndWithoutCase) {
    Cell foo = word_load("cp-foo");
    Cell Foo = word_load("cp-Foo");
    Cell bar = word_load("cp-bar");
    Cell lit = as(foo, TYPE_LIT_WORD), Lit = as(Foo, TYPE_LIT_WORD), set = as(foo, TYPE_SET_WORD);
    Cell local = foo;
    local.data1 = context_make(1, false, false, 0, CONTEXT_OBJECT);
    Cell issue{TYPE_ISSUE, 0, foo.data2, 0xFFFFFFFF};
    Cell number = I(1);
    struct Case {
        Cell a, b;
        CompareOp op;
        int32_t expected;
        const char* what;
    };
    const Case cases[] = {
        {Lit, lit, CompareOp::equal, 0, "equal ignores case"},
        {Lit, lit, CompareOp::not_equal, 0, "not-equal answers as equal does"},
        {Lit, lit, CompareOp::strict_equal, 1, "strict sees the case"},
        {lit, foo, CompareOp::equal, 0, "equal ignores the kind"},
        {lit, foo, CompareOp::strict_equal, 1, "strict sees the kind"},
        {lit, lit, CompareOp::strict_equal, 0, "strict, same kind and spelling"},
        {foo, bar, CompareOp::equal, 1, "different names"},
        {set, foo, CompareOp::find, 0, "find ignores the kind"},
        {foo, foo, CompareOp::same, 0, "same binding"},
        {foo, local, CompareOp::same, 1, "same name, other context"},
        {foo, lit, CompareOp::spelling, 0, "word matches lit-word"},
        {lit, foo, CompareOp::spelling, 0, "lit-word matches word"},
        {set, foo, CompareOp::spelling, 1, "set-word does not match word"},
        {Foo, lit, CompareOp::spelling, 1, "spelling sees the case"},
        {Foo, lit, CompareOp::caseless, 0, "caseless ignores the case"},
        {bar, foo, CompareOp::lesser, -1, "ordering by name"},
        {foo, bar, CompareOp::greater, 1, "ordering by name, reversed"},
        {foo, number, CompareOp::equal, -2, "not a word"},
        {foo, issue, CompareOp::equal, -2, "issue! against a word"},
        {issue, foo, CompareOp::equal, -2, "a word against an issue!"},
        {issue, issue, CompareOp::equal, 0, "issue! against issue!"},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(word_compare(&a, &b, c.op), c.expected) << c.what;
    }
    // Dispatch reaches the same rules for every kind.
    EXPECT_EQ(compare_values(&set, &lit, CompareOp::equal), 0);
}

TEST_F(Word, GetAndSet) {
    Cell w = word_load("gs-value");
    EXPECT_EQ(error_of([&] { word_get(&w); }), Err::script_no_value);
    EXPECT_EQ(type_of(word_push_value_any(&w)), TYPE_UNSET);
    Cell five = I(5);
    word_set(&w, &five);
    EXPECT_EQ(cell_int(word_get(&w)), 5);

    // The kinds' set and get through the current call's arguments.
    Cell unset;
    make_unset(&unset);
    EXPECT_EQ(error_of([&] { call_with({w, unset}, word_set_from_arg); }), Err::script_need_value);
    EXPECT_EQ(type_of(call_with({as(w, TYPE_LIT_WORD), unset}, lit_word_set)), TYPE_UNSET);
    EXPECT_EQ(type_of(call_with({as(w, TYPE_SET_WORD)}, set_word_get)), TYPE_UNSET);
    Cell* result = call_with({w, I(6)}, word_set_from_arg);
    EXPECT_EQ(cell_int(result), 6);
    EXPECT_EQ(cell_int(word_value_cell(&w)), 6);

    // Unresolved words.
    NodeId ctx = context_make(1, false, false, 0, CONTEXT_OBJECT);
    Cell loose{TYPE_WORD, ctx, symbol_make("gs-loose"), 0xFFFFFFFF};
    EXPECT_EQ(error_of([&] { word_value_cell(&loose); }), Err::script_no_value);
    EXPECT_EQ(error_of([&] { word_set_integer(&loose, 3); }), Err::script_no_value);
    Cell added = loose;
    context_add_word(ctx, &added);
    EXPECT_EQ(word_set_integer(&loose, 3), 3);
    EXPECT_EQ(loose.data3, 0u);
    EXPECT_EQ(cell_int(context_value_slot(ctx, 0)), 3);
    // A `self` word stands for its context's self cell.
    Cell self{TYPE_WORD, ctx, self_symbol, 0xFFFFFFFF};
    EXPECT_EQ(word_value_cell(&self), context_self_cell(ctx));
    // An unbound refinement has no context to read.
    Cell refinement = refinement_load("gs-ref");
    refinement.data3 = 0;
    EXPECT_EQ(error_of([&] { word_value_cell(&refinement); }), Err::script_not_in_context);
}

TEST_F(Word, LocalSlotsOfAContext) {
    NodeId ctx = context_make(2, false, false, 0, CONTEXT_OBJECT);
    for (const char* name : {"lc-a", "lc-b"}) {
        Cell w{TYPE_WORD, 0, symbol_make(name), 0};
        context_add_word(ctx, &w);
    }
    Cell one = I(1), two = I(2);
    stack::push(&one);
    word_set_local_push_old(ctx, 1);
    EXPECT_EQ(type_of(stack::top_value()), TYPE_UNSET);  // the old value
    EXPECT_EQ(cell_int(word_get_in(ctx, 1)), 1);
    stack::push(&two);
    word_set_local_from_top(ctx, 0);
    EXPECT_EQ(cell_int(word_push_frame_value(ctx, 0)), 2);
    // Object fields assigned this way carry the changed mark.
    EXPECT_TRUE(word_local_cell(ctx, 0)->header & WORD_CHANGED);
    EXPECT_TRUE(word_local_cell(ctx, 1)->header & WORD_CHANGED);
    Cell* pushed = refinement_push_local(ctx, 1);
    EXPECT_EQ(type_of(pushed), TYPE_REFINEMENT);
    EXPECT_EQ(pushed->data1, ctx);
    EXPECT_EQ(pushed->data3, 1u);

    // A function context with no call running has no values to push.
    Cell spec;
    block_make_at(&spec, 1);
    Cell arg{TYPE_WORD, 0, symbol_make("lc-arg"), 0};
    block_append_cell(&spec, &arg);
    NodeId fn = context_collect_words(&spec, true, false, CONTEXT_FUNCTION);
    EXPECT_EQ(error_of([&] { word_push_frame_value(fn, 0); }), Err::script_not_defined);
}

TEST_F(Word, IndexOfAWord) {
    Cell loose{TYPE_WORD, 0, symbol_make("ix-loose"), 0xFFFFFFFF};
    EXPECT_EQ(type_of(call_with({loose}, word_index_q)), TYPE_NONE);
    Cell w = word_load("ix-global");
    Cell* r = call_with({as(w, TYPE_GET_WORD)}, word_index_q);
    ASSERT_EQ(type_of(r), TYPE_INTEGER);
    EXPECT_EQ(cell_int(r), int32_t(w.data3) + 1);
}

TEST_F(Word, MakeAndTo) {
    Cell global = word_load("mt-foo");
    Cell string, digits, two_values, character{TYPE_CHAR, 0, 'a', 0};
    string_make_utf8(&string, "mt-foo:");
    string_make_utf8(&digits, "12");
    string_make_utf8(&two_values, "a b");
    Cell refinement = refinement_load("mt-foo");
    Cell issue{TYPE_ISSUE, 0, symbol_make("12"), 0xFFFFFFFF};
    Cell lit = as(global, TYPE_LIT_WORD);
    lit.header |= HEADER_NEW_LINE;
    Cell integer_type{TYPE_DATATYPE, TYPE_INTEGER, 0, 0};
    Cell yes;
    make_logic(&yes, true);
    struct Case {
        Cell spec;
        uint8_t target;
        const char* molded;  // null: the error below
        std::optional<Err> error;
    };
    const Case cases[] = {
        {lit, TYPE_WORD, "mt-foo", {}},
        {global, TYPE_SET_WORD, "mt-foo:", {}},
        {string, TYPE_WORD, "mt-foo", {}},
        {character, TYPE_WORD, "a", {}},
        {refinement, TYPE_WORD, "mt-foo", {}},
        {integer_type, TYPE_WORD, "integer!", {}},
        {yes, TYPE_LIT_WORD, "'true", {}},
        {digits, TYPE_WORD, nullptr, Err::script_invalid_chars},
        {two_values, TYPE_WORD, nullptr, Err::script_invalid_chars},
        {issue, TYPE_WORD, nullptr, Err::script_bad_to_arg},
        {I(1), TYPE_WORD, nullptr, Err::script_bad_to_arg},
    };
    for (const Case& c : cases) {
        for (bool make : {false, true}) {
            Cell type{TYPE_DATATYPE, c.target, 0, 0};
            Cell spec = c.spec;
            Cell* out = nullptr;
            auto err = error_of([&] { out = make ? make_direct(&type, &spec) : to_direct(&type, &spec); });
            if (!c.molded) {
                EXPECT_EQ(err, c.error) << mold(c.spec);
                continue;
            }
            ASSERT_FALSE(err) << mold(c.spec);
            EXPECT_EQ(out->header, uint32_t(c.target)) << mold(c.spec);
            EXPECT_EQ(mold(*out), c.molded);
            // Every word made here is bound in the global context.
            EXPECT_EQ(out->data1, global_context) << mold(c.spec);
        }
    }
    Cell type{TYPE_DATATYPE, TYPE_WORD, 0, 0};
    Cell spec = refinement;
    EXPECT_EQ(to_direct(&type, &spec)->data3, global.data3);
}

TEST_F(Word, NameSharesTheSymbolString) {
    Cell w = word_load("nm-shared");
    Cell* name = word_push_name(&w);
    EXPECT_EQ(type_of(name), TYPE_STRING);
    EXPECT_EQ(series_node(name), word_symbol_cell(&w)->data2);
    EXPECT_EQ(text_of(*name), "nm-shared");
}

TEST_F(Word, StartUpModeKeepsWordsInTheRootBlock) {
    Cell* root = root_block();
    if (!is_type(root, TYPE_BLOCK)) block_make_at(root, 8);
    uint32_t before = block_full_length(root);
    word_load("rec-off");
    EXPECT_EQ(block_full_length(root), before);
    startup_word_mode = true;
    Cell w = word_load("rec-on", TYPE_SET_WORD);
    Cell r = refinement_load("rec-ref");
    startup_word_mode = false;
    ASSERT_EQ(block_full_length(root), before + 2);
    Cell kept = *block_rs_abs_at(root, before);
    EXPECT_EQ(std::memcmp(&kept, &w, sizeof kept), 0);
    kept = *block_rs_abs_at(root, before + 1);
    EXPECT_EQ(std::memcmp(&kept, &r, sizeof kept), 0);
    EXPECT_EQ(r.data1, 0u);
}
