#include <gtest/gtest.h>
#include <climits>
#include <functional>
#include <optional>
#include <string>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/text.h"
#include "value_support.h"

using namespace kem;
using kem::test::B;
using kem::test::at;
using kem::test::NONE;
using kem::test::I;
using kem::test::F;
using kem::test::error_of;

namespace {

Cell DT(uint8_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
// The value with its new-line marker set.
Cell NL(Cell c) { c.header |= HEADER_NEW_LINE; return c; }

Cell head_of(Cell s) { return at(s, 0); }

std::string text_of(const Cell& str) {
    SeriesBuffer* b = series_buffer(&str);
    uint32_t unit = unit_bytes(b);
    std::string out;
    for (uint32_t off = b->head; off < b->tail; off += unit) out += char(read_unit(b->data() + off, unit));
    return out;
}

std::string mold(Cell v, bool only = false, bool flat = false, int32_t limit = -1) {
    Cell buf;
    string_make_at(&buf, 16);
    Cell arg = I(limit);
    mold_direct(&v, &buf, MoldArgs{.only = only, .flat = flat, .limit = limit >= 0 ? &arg : nullptr},
                limit >= 0 ? limit : INT32_MAX, 0);
    return text_of(buf);
}

std::string form(Cell v) {
    Cell buf;
    string_make_at(&buf, 16);
    form_direct(&v, &buf, nullptr, INT32_MAX);
    return text_of(buf);
}

// The whole block from its head.
std::string whole(const Cell& b) { return mold(head_of(b)); }

class Block : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        stack::init();
        cycle_init();
        register_all_datatypes();
    }
    void TearDown() override { cycle_reset(); }
};

} // namespace

// --- form and mold ------------------------------------------------------------------

TEST_F(Block, MoldAndFormTexts) {
    struct Case {
        const char* name;
        Cell value;
        bool only, flat;
        const char* molded;
    };
    Cell inner = B({I(2), I(3)});
    const Case cases[] = {
        {"empty", B({}), false, false, "[]"},
        {"flat values", B({I(1), NONE, DT(TYPE_INTEGER)}), false, false, "[1 none integer!]"},
        {"nested", B({I(1), inner, B({})}), false, false, "[1 [2 3] []]"},
        {"second value on a new line", B({I(1), NL(I(2))}), false, false, "[1\n2]"},
        {"first value opens a line", B({NL(I(1)), I(2)}), false, false, "[\n    1 2\n]"},
        {"every value on its line", B({NL(I(1)), NL(I(2))}), false, false, "[\n    1\n    2\n]"},
        {"nested indentation", B({NL(B({NL(I(1)), I(2)}))}), false, false, "[\n    [\n        1 2\n    ]\n]"},
        {"flat ignores markers", B({NL(B({NL(I(1))})), NL(I(2))}), false, true, "[[1] 2]"},
        {"only drops brackets", B({I(1), inner}), true, false, "1 [2 3]"},
        {"only, first marker breaks nothing", B({NL(I(1)), NL(I(2))}), true, false, "1\n2"},
        {"from the position", at(B({I(1), I(2), I(3)}), 1), false, false, "[2 3]"},
        {"position past the tail", at(B({I(1)}), 4), false, false, "[]"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(c.value, c.only, c.flat), c.molded) << c.name;

    EXPECT_EQ(form(B({I(1), B({I(2), I(3)}), NONE})), "1 2 3 none");
    EXPECT_EQ(form(B({})), "");
}

TEST_F(Block, BlockContainingItselfMoldsTheCycleMarker) {
    Cell b = B({I(1)});
    block_append_cell(&b, &b);
    EXPECT_EQ(mold(b), "[1 [...]]");
    EXPECT_EQ(form(b), "1 ...");
    EXPECT_EQ(cycle_depth(), 0u);
    // A self-containing block equals another one of the same shape without looping.
    Cell c = B({I(1)});
    block_append_cell(&c, &c);
    EXPECT_EQ(block_compare(&b, &c, CompareOp::equal), 0);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Block, MoldPartLimitStopsTheWalk) {
    Cell b = B({});
    for (int i = 0; i < 100; i++) {
        Cell v = I(i);
        block_append_cell(&b, &v);
    }
    // The walk stops once the budget is spent; the caller cuts the rest.
    std::string s = mold(b, false, false, 5);
    EXPECT_EQ(s.substr(0, 5), "[0 1 ");
    EXPECT_LT(s.size(), 12u);
}

// --- compare -------------------------------------------------------------------------

TEST_F(Block, CompareEqualityAndOrdering) {
    struct Case {
        const char* name;
        Cell a, b;
        CompareOp op;
        int32_t expected;
    };
    const Case cases[] = {
        {"empty before non-empty", B({}), B({I(1)}), CompareOp::lesser, -1},
        {"non-empty after empty", B({I(1)}), B({}), CompareOp::lesser, 1},
        {"empty equals empty", B({}), B({}), CompareOp::equal, 0},
        {"empty differs from non-empty", B({}), B({I(1)}), CompareOp::equal, 1},
        {"equal values", B({I(1), I(2)}), B({I(1), I(2)}), CompareOp::equal, 0},
        {"numbers compare by value", B({I(1), I(2)}), B({I(1), F(2.0)}), CompareOp::equal, 0},
        {"strict equality sees the type", B({I(2)}), B({F(2.0)}), CompareOp::strict_equal, 1},
        {"element order", B({I(1), I(2)}), B({I(1), I(3)}), CompareOp::lesser, -1},
        {"prefix is the lesser", B({I(1)}), B({I(1), I(2)}), CompareOp::lesser, -1},
        {"lengths differ: not equal", B({I(1), I(2)}), B({I(1)}), CompareOp::equal, 1},
        {"types order by id", B({I(1), NONE}), B({I(1), I(2)}), CompareOp::lesser, -1},
        {"types order by id, reversed", B({I(1), I(2)}), B({I(1), NONE}), CompareOp::greater, 1},
        {"nested blocks", B({B({I(1)})}), B({B({I(2)})}), CompareOp::lesser, -1},
        {"copies are not the same", B({I(1)}), B({I(1)}), CompareOp::same, -1},
    };
    for (const Case& c : cases) {
        Cell a = c.a, b = c.b;
        EXPECT_EQ(compare_values(&a, &b, c.op), c.expected) << c.name;
    }
    Cell a = B({I(1)});
    Cell a2 = a;
    EXPECT_EQ(block_compare(&a, &a2, CompareOp::same), 0);
    Cell paren = a;
    set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(block_compare(&a, &paren, CompareOp::equal), -2);
    Cell path = a, lit = a;
    set_type(&path, TYPE_PATH);
    set_type(&lit, TYPE_LIT_PATH);
    EXPECT_EQ(block_compare(&path, &lit, CompareOp::equal), -2);
    EXPECT_EQ(block_compare(&path, &lit, CompareOp::caseless), 0);
}

// --- make, to, path access --------------------------------------------------------------

TEST_F(Block, MakeAndTo) {
    Cell zero = I(0);
    Cell* made = block_make(nullptr, &zero, TYPE_BLOCK);
    EXPECT_EQ(type_of(made), TYPE_BLOCK);
    EXPECT_EQ(block_rs_length(made), 0);
    EXPECT_GE(series_buffer(made)->size, 16u);

    Cell src = at(B({I(1), I(2), I(3)}), 1);
    made = block_make(nullptr, &src, TYPE_PAREN);
    EXPECT_EQ(type_of(made), TYPE_PAREN);
    EXPECT_NE(series_node(made), series_node(&src));
    EXPECT_EQ(mold(*made, true), "2 3");

    Cell five = I(5);
    made = block_to(nullptr, &five, TYPE_BLOCK);
    EXPECT_EQ(mold(*made), "[5]");
    Cell one = B({I(1)});
    made = block_to(nullptr, &one, TYPE_PAREN);
    EXPECT_EQ(type_of(made), TYPE_PAREN);
    EXPECT_EQ(mold(*made, true), "1");

    Cell none = NONE;
    EXPECT_EQ(error_of([&] { block_make(nullptr, &none, TYPE_BLOCK); }), Err::script_bad_make_arg);
    Cell huge = F(1e12);
    EXPECT_EQ(error_of([&] { block_make(nullptr, &huge, TYPE_BLOCK); }), Err::script_out_of_range);
}

TEST_F(Block, PathAccess) {
    // parent/element, or parent/element: value when a value is given.
    auto path = [](Cell& parent, Cell element, Cell* value = nullptr) {
        return block_eval_path(&parent, &element, value, PathStep{.index = 0, .last = true});
    };
    Cell b = B({I(10), I(20)});
    EXPECT_EQ(type_of(path(b, I(3))), TYPE_NONE);
    EXPECT_EQ(cell_int(path(b, I(1))), 10);
    Cell v = I(7);
    path(b, I(2), &v);
    EXPECT_EQ(whole(b), "[10 7]");
    EXPECT_EQ(error_of([&] { path(b, I(3), &v); }), Err::script_out_of_range);

    // A non-integer element selects (get) or writes (set) the cell after it.
    Cell keyed = B({I(1), NONE, I(2)});
    EXPECT_EQ(cell_int(path(keyed, NONE)), 2);
    path(keyed, NONE, &v);
    EXPECT_EQ(whole(keyed), "[1 none 7]");
    EXPECT_EQ(error_of([&] { path(keyed, DT(TYPE_LOGIC), &v); }), Err::script_bad_path_set);
    Cell last = B({I(1), NONE});
    EXPECT_EQ(error_of([&] { path(last, NONE, &v); }), Err::script_out_of_range);
}

TEST_F(Block, WordSelectionWithAndWithoutCase) {
    Cell w1{TYPE_SET_WORD, 0, 5, 0xFFFFFFFF};
    Cell w2{TYPE_WORD, 0, 6, 0xFFFFFFFF};
    Cell b = B({I(1), w1, I(10), w2, I(20)});
    Cell probe{TYPE_WORD, 0, 6, 0xFFFFFFFF};
    EXPECT_EQ(cell_int(block_select_word(&b, &probe, true)), 20);
    Cell last{TYPE_WORD, 0, 7, 0xFFFFFFFF};
    Cell b2 = B({last});
    EXPECT_EQ(type_of(block_select_word(&b2, &last, true)), TYPE_NONE);
    // Integers are never candidates, even when their payload equals the symbol.
    Cell six = B({I(6), I(1)});
    EXPECT_EQ(type_of(block_select_word(&six, &probe, true)), TYPE_NONE);
}

// --- find and select ----------------------------------------------------------------------

TEST_F(Block, FindAndSelectWithRefinements) {
    Cell two = I(2), three = I(3), zero = I(0);
    Cell b123 = B({I(1), I(2), I(3)});
    struct Case {
        const char* name;
        Cell series, value;
        FindArgs refs;
        int32_t found;   // index of the result, -1 for none
    };
    const Case cases[] = {
        {"single value", b123, I(2), {}, 1},
        {"absent", b123, I(9), {}, -1},
        {"sequence", B({I(1), I(2), I(3), I(4)}), B({I(2), I(3)}), {}, 1},
        {"sequence cut by the tail", B({I(1), I(2)}), B({I(2), I(3)}), {}, -1},
        {"only finds the nested block", B({I(1), B({I(2), I(3)}), I(2), I(3)}), B({I(2), I(3)}), {.only = true}, 1},
        {"datatype matches by type", B({I(1), NONE, I(3)}), DT(TYPE_NONE), {}, 1},
        {"datatype under only is a value", B({I(1), DT(TYPE_NONE), NONE}), DT(TYPE_NONE), {.only = true}, 1},
        {"case: strict equality", B({F(2.0), I(2)}), I(2), {.case_ = true}, 1},
        {"skip steps over records", B({I(1), I(2), I(2), I(3)}), I(2), {.skip = &two}, 2},
        {"last", B({I(1), I(2), I(1)}), I(1), {.last = true}, 2},
        {"reverse from the tail", at(B({I(1), I(2), I(1), I(3)}), 4), I(1), {.reverse = true}, 2},
        {"reverse stops at the head", at(B({I(1), I(2)}), 1), I(2), {.reverse = true}, -1},
        {"match tests the first cell only", B({I(1), I(2)}), I(2), {.match = true}, -1},
        {"match at the position", B({I(1), I(2)}), I(1), {.match = true}, 0},
        {"tail: after the match", b123, I(2), {.tail = true}, 2},
        {"tail: after a sequence", B({I(1), I(2), I(3)}), B({I(1), I(2)}), {.tail = true}, 2},
        {"part excludes beyond", b123, I(3), {.part = &two}, -1},
        {"part includes within", b123, I(3), {.part = &three}, 2},
        {"part below 1", b123, I(1), {.part = &zero}, -1},
        {"at the tail", at(b123, 3), I(1), {}, -1},
        {"empty block", B({}), I(1), {}, -1},
    };
    for (const Case& c : cases) {
        Cell s = c.series, v = c.value;
        Cell* r = block_find(&s, &v, c.refs);
        if (c.found < 0) {
            EXPECT_EQ(type_of(r), TYPE_NONE) << c.name;
        } else {
            ASSERT_EQ(type_of(r), type_of(&s)) << c.name;
            EXPECT_EQ(series_node(r), series_node(&s)) << c.name;
            EXPECT_EQ(series_position(r), c.found) << c.name;
        }
    }

    Cell s = B({I(1), I(10), I(2), I(20)});
    Cell v = I(2);
    EXPECT_EQ(cell_int(block_select(&s, &v, SelectArgs{})), 20);
    Cell seq = B({I(1), I(10)});
    EXPECT_EQ(cell_int(block_select(&s, &seq, SelectArgs{})), 2);
    Cell last = I(20);
    EXPECT_EQ(type_of(block_select(&s, &last, SelectArgs{})), TYPE_NONE);
    Cell one = I(1);
    EXPECT_EQ(cell_int(block_select(&s, &one, SelectArgs{.skip = &two})), 10);

    Cell none = NONE;
    EXPECT_EQ(error_of([&] { block_find(&s, &v, FindArgs{.skip = &zero}); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { block_find(&s, &v, FindArgs{.skip = &none}); }), Err::script_invalid_refine_arg);
    Cell other = B({I(1)});
    EXPECT_EQ(error_of([&] { block_find(&s, &v, FindArgs{.part = &other}); }), Err::script_invalid_refine_arg);
}

TEST_F(Block, PutReplacesOrAppends) {
    Cell b = B({I(1), I(10)});
    Cell k = I(1), v = I(11);
    block_put(&b, &k, &v, PutArgs{});
    EXPECT_EQ(whole(b), "[1 11]");
    Cell k2 = I(2), v2 = I(22);
    block_put(&b, &k2, &v2, PutArgs{});
    EXPECT_EQ(whole(b), "[1 11 2 22]");
    // A key that is the last cell gets its value appended.
    Cell lone = B({I(5)});
    Cell k5 = I(5);
    block_put(&lone, &k5, &v, PutArgs{});
    EXPECT_EQ(whole(lone), "[5 11]");
    // A block key is one key: putting it twice replaces its value.
    Cell key = B({I(7)});
    Cell map = B({});
    block_put(&map, &key, &v, PutArgs{});
    block_put(&map, &key, &v2, PutArgs{});
    EXPECT_EQ(whole(map), "[[7] 22]");
}

// --- append, insert, change ------------------------------------------------------------------

TEST_F(Block, AppendInsertChange) {
    using Act = std::function<Cell*(Cell&)>;
    struct Case {
        const char* name;
        Cell series;
        Act act;
        const char* after;   // the whole block afterwards
        int32_t position;    // the result's position
    };
    auto append = [](Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
        return Act([=](Cell& s) mutable { return block_append(&s, &v, part, only, dup, true); });
    };
    auto insert = [](Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
        return Act([=](Cell& s) mutable { return block_append(&s, &v, part, only, dup, false); });
    };
    auto change = [](Cell v, int32_t part = -1, bool only = false, int32_t dup = 1) {
        return Act([=](Cell& s) mutable { return block_change(&s, &v, part, only, dup); });
    };
    const Case cases[] = {
        {"append a sequence", B({I(1)}), append(B({I(2), I(3)})), "[1 2 3]", 0},
        {"append/only", B({I(1)}), append(B({I(2), I(3)}), -1, true), "[1 [2 3]]", 0},
        {"append/part", B({I(1)}), append(B({I(2), I(3), I(4)}), 2), "[1 2 3]", 0},
        {"append/dup", B({}), append(I(0), -1, false, 3), "[0 0 0]", 0},
        {"append/dup of a sequence", B({}), append(B({I(1), I(2)}), -1, false, 3), "[1 2 1 2 1 2]", 0},
        {"append from a position", at(B({I(1), I(2)}), 1), append(I(3)), "[1 2 3]", 0},
        {"append nothing", B({I(1)}), append(B({})), "[1]", 0},
        {"insert one value", B({I(1), I(2)}), insert(I(0)), "[0 1 2]", 1},
        {"insert at a position", at(B({I(1), I(2)}), 1), insert(B({I(7), I(8)})), "[1 7 8 2]", 3},
        {"insert/dup", B({I(1)}), insert(B({I(7), I(8)}), -1, false, 2), "[7 8 7 8 1]", 4},
        {"insert past the tail", at(B({I(1)}), 5), insert(I(2)), "[1 2]", 2},
        {"change two cells", B({I(1), I(2), I(3)}), change(B({I(7), I(8)})), "[7 8 3]", 2},
        {"change/part", B({I(1), I(2), I(3)}), change(I(9), 2), "[9 3]", 1},
        {"change/part with a longer source", B({I(1), I(2)}), change(B({I(7), I(8), I(9)}), 1), "[7 8 9 2]", 3},
        {"change/dup", B({I(1), I(2), I(3)}), change(I(9), -1, false, 2), "[9 9 3]", 2},
        {"change/only", B({I(1), I(2)}), change(B({I(7), I(8)}), -1, true), "[[7 8] 2]", 1},
        {"change at the tail appends", at(B({I(1)}), 1), change(I(5)), "[1 5]", 2},
        {"change/part with nothing removes", B({I(1), I(2), I(3)}), change(B({}), 2), "[3]", 0},
    };
    for (const Case& c : cases) {
        Cell s = c.series;
        Cell* r = c.act(s);
        EXPECT_EQ(whole(*r), c.after) << c.name;
        EXPECT_EQ(series_position(r), c.position) << c.name;
    }
}

TEST_F(Block, AppendInsertChangeWithItself) {
    // The source is the buffer that grows: its cells must be read before.
    Cell b = B({I(1), I(2)});
    block_append(&b, &b, -1, false, 1, true);
    EXPECT_EQ(whole(b), "[1 2 1 2]");

    Cell c = B({I(1), I(2)});
    block_append(&c, &c, -1, false, 40, false);
    EXPECT_EQ(block_full_length(&c), 82u);
    EXPECT_EQ(series_position(&c), 80);
    Cell tail = at(c, 78);
    EXPECT_EQ(mold(tail), "[1 2 1 2]");

    // With room to spare nothing moves: the gap opens inside the source itself.
    Cell f;
    block_make_at(&f, 8);
    for (int32_t i = 1; i <= 3; i++) {
        Cell v = I(i);
        block_append_cell(&f, &v);
    }
    Cell f1 = at(f, 1);
    block_append(&f1, &f, -1, false, 1, false);
    EXPECT_EQ(whole(f), "[1 1 2 3 2 3]");

    Cell d = B({I(1), I(2), I(3)});
    Cell target = at(d, 1);
    block_change(&target, &d, -1, false, 1);
    EXPECT_EQ(whole(d), "[1 1 2 3]");

    // A block appended to itself with /only holds itself once.
    Cell e = B({I(1)});
    block_append(&e, &e, -1, true, 1, true);
    EXPECT_EQ(whole(e), "[1 [...]]");
}

TEST_F(Block, OversizedDupRaisesNoMemoryAndChangesNothing) {
    Cell b = B({I(1)});
    Cell v = B({I(1), I(2), I(3), I(4)});
    EXPECT_EQ(error_of([&] { block_append(&b, &v, -1, false, INT32_MAX, true); }), Err::internal_no_memory);
    EXPECT_EQ(error_of([&] { block_change(&b, &v, -1, false, INT32_MAX); }), Err::internal_no_memory);
    EXPECT_EQ(whole(b), "[1]");
}

// --- take, swap, trim -------------------------------------------------------------------------

TEST_F(Block, Take) {
    struct Case {
        const char* name;
        Cell series;
        std::optional<Cell> part;
        bool last;
        const char* taken;   // molded result
        const char* left;    // the block afterwards
    };
    const Case cases[] = {
        {"first", B({I(1), I(2), I(3)}), std::nullopt, false, "1", "[2 3]"},
        {"last", B({I(1), I(2), I(3)}), std::nullopt, true, "3", "[1 2]"},
        {"part", B({I(1), I(2), I(3)}), I(2), false, "[1 2]", "[3]"},
        {"part beyond the tail", B({I(1), I(2)}), I(5), false, "[1 2]", "[]"},
        {"last/part", B({I(1), I(2), I(3)}), I(2), true, "[2 3]", "[1]"},
        {"part 0 takes nothing", at(B({I(1), I(2), I(3)}), 1), I(0), false, "[]", "[1 2 3]"},
        {"last/part 0 takes nothing", B({I(1), I(2)}), I(0), true, "[]", "[1 2]"},
        {"negative part takes before the position", at(B({I(1), I(2), I(3)}), 2), I(-1), false, "[2]", "[1 3]"},
        {"negative part at the head takes nothing", B({I(1), I(2)}), I(-2), false, "[]", "[1 2]"},
        {"empty", B({}), std::nullopt, false, "none", "[]"},
        {"at the tail", at(B({I(1)}), 1), std::nullopt, false, "none", "[1]"},
    };
    for (const Case& c : cases) {
        Cell s = c.series;
        Cell keep = s;
        Cell part = c.part.value_or(NONE);
        Cell* r = block_take(&s, TakeArgs{.part = c.part ? &part : nullptr, .last = c.last});
        EXPECT_EQ(mold(*r), c.taken) << c.name;
        EXPECT_EQ(whole(keep), c.left) << c.name;
    }
    // take/part with a position of the same block, and with /last.
    Cell s = B({I(1), I(2), I(3), I(4)});
    Cell to = at(s, 3);
    EXPECT_EQ(mold(*block_take(&s, TakeArgs{.part = &to})), "[1 2 3]");
    Cell s2 = B({I(1), I(2), I(3), I(4)});
    Cell from = at(s2, 1);
    EXPECT_EQ(mold(*block_take(&s2, TakeArgs{.part = &from, .last = true})), "[2 3 4]");

    // /deep copies the taken series; without it the taken block is shared.
    Cell inner = B({I(1)});
    Cell d = B({inner, I(2)});
    Cell one = I(1);
    Cell* shallow = block_take(&d, TakeArgs{});
    EXPECT_EQ(series_node(shallow), series_node(&inner));
    Cell d2 = B({inner, I(2)});
    Cell* deep = block_take(&d2, TakeArgs{.part = &one, .deep = true});
    EXPECT_NE(series_node(block_rs_abs_at(deep, 0)), series_node(&inner));
    EXPECT_EQ(mold(*deep), "[[1]]");
}

TEST_F(Block, SwapAndTrim) {
    Cell a = B({I(1), I(2)}), b = B({I(8), I(9)});
    Cell a2 = at(a, 1);
    block_swap(&a2, &b);
    EXPECT_EQ(whole(a), "[1 8]");
    EXPECT_EQ(whole(b), "[2 9]");
    Cell end = at(b, 2);
    block_swap(&a, &end);
    EXPECT_EQ(whole(a), "[1 8]");
    Cell n = I(1);
    EXPECT_EQ(error_of([&] { block_swap(&a, &n); }), Err::script_invalid_arg);

    Cell t = B({I(1), NONE, I(2), NONE});
    block_trim(&t, TrimArgs{});
    EXPECT_EQ(whole(t), "[1 2]");
    Cell t2 = at(B({NONE, NONE, I(3), NONE}), 1);
    block_trim(&t2, TrimArgs{});
    EXPECT_EQ(whole(t2), "[none 3]");
}

// --- copy ---------------------------------------------------------------------------------------

TEST_F(Block, Copy) {
    Cell inner = B({I(1)});
    Cell b = B({I(0), NL(inner), I(2)});
    Cell result;
    make_unset(&result);
    block_copy(&b, &result, CopyArgs{});
    EXPECT_NE(series_node(&result), series_node(&b));
    EXPECT_EQ(series_node(block_rs_abs_at(&result, 1)), series_node(&inner));
    EXPECT_EQ(mold(result), "[0\n[1] 2]");

    block_copy(&b, &result, CopyArgs{.deep = true});
    EXPECT_NE(series_node(block_rs_abs_at(&result, 1)), series_node(&inner));
    EXPECT_TRUE(block_rs_abs_at(&result, 1)->header & HEADER_NEW_LINE);
    EXPECT_EQ(mold(result), "[0\n[1] 2]");

    struct PartCase {
        const char* name;
        Cell source, part;
        const char* copied;
    };
    Cell b5 = B({I(1), I(2), I(3), I(4), I(5)});
    const PartCase parts[] = {
        {"count", b5, I(2), "[1 2]"},
        {"negative count", at(b5, 3), I(-2), "[2 3]"},
        {"negative past the head", at(b5, 1), I(-4), "[1]"},
        {"position", b5, at(b5, 3), "[1 2 3]"},
        {"pair range", b5, Cell{TYPE_PAIR, 0, 2, 4}, "[2 3]"},
        {"count past the tail", at(b5, 4), I(9), "[5]"},
        {"from past the tail", at(b5, 9), I(2), "[]"},
    };
    for (const PartCase& c : parts) {
        Cell s = c.source, p = c.part;
        block_copy(&s, &result, CopyArgs{.part = &p});
        EXPECT_EQ(mold(result), c.copied) << c.name;
    }
    Cell bad = NONE;
    EXPECT_EQ(error_of([&] { block_copy(&b, &result, CopyArgs{.part = &bad}); }), Err::script_invalid_refine_arg);

    // /types copies only the values of the given types.
    Cell nested = B({I(3)});
    Cell mixed = B({I(1), nested, B({I(4)})});
    Cell blocks = DT(TYPE_PAREN);
    block_copy(&mixed, &result, CopyArgs{.types = &blocks});
    EXPECT_EQ(series_node(block_rs_abs_at(&result, 1)), series_node(&nested));
    blocks = DT(TYPE_BLOCK);
    block_copy(&mixed, &result, CopyArgs{.types = &blocks});
    EXPECT_NE(series_node(block_rs_abs_at(&result, 1)), series_node(&nested));
    EXPECT_EQ(mold(result), "[1 [3] [4]]");
}

TEST_F(Block, DeepCopyAndCloneRefuseCycles) {
    Cell b = B({I(1)});
    block_append_cell(&b, &b);
    Cell result;
    make_unset(&result);
    EXPECT_EQ(error_of([&] { block_copy(&b, &result, CopyArgs{.deep = true}); }), Err::internal_no_cycle);
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_EQ(error_of([&] { block_clone(&b, true, false); }), Err::internal_no_cycle);
    // A block shared twice is no cycle.
    Cell inner = B({I(1)});
    Cell twice = B({inner, inner});
    block_copy(&twice, &result, CopyArgs{.deep = true});
    EXPECT_EQ(mold(result), "[[1] [1]]");
    Cell* clone = block_clone(&twice, true, false);
    EXPECT_NE(series_node(block_rs_abs_at(clone, 0)), series_node(&inner));
}

// --- helpers for runtime code ---------------------------------------------------------------------

TEST_F(Block, InsertAndRemoveHelpers) {
    Cell b = B({I(1), I(2)});
    Cell v = I(0);
    block_insert_value(&b, &v, true, true);
    EXPECT_EQ(whole(b), "[0 1 2]");
    EXPECT_EQ(series_position(&b), 1);
    Cell src = B({I(7), I(8)});
    block_insert_all(&b, &src);
    EXPECT_EQ(whole(b), "[0 7 8 1 2]");
    EXPECT_EQ(series_position(&b), 3);
    block_insert_all(&b, &b);   // its own cells from the position
    EXPECT_EQ(whole(b), "[0 7 8 1 2 1 2]");

    Cell r = at(B({I(1), I(2), I(3)}), 1);
    Cell three = I(3), one = I(1), nine = I(9);
    EXPECT_EQ(block_remove_value(&r, &three, false), 0);
    EXPECT_EQ(block_remove_value(&r, &one, false), -1);
    EXPECT_EQ(block_remove_value(&r, &one, true), 1);
    EXPECT_EQ(block_remove_value(&r, &nine, true), -1);
    EXPECT_EQ(whole(r), "[2]");

    Cell last = at(B({I(1), I(2)}), 2);
    block_remove_last(&last);
    EXPECT_EQ(series_position(&last), 1);
    Cell all = B({I(5)});
    block_append_all(&all, &all);
    EXPECT_EQ(whole(all), "[5 5]");
    Cell sel = B({I(1), I(2)});
    EXPECT_EQ(cell_int(block_select_value(&sel, &one)), 2);
    Cell two = I(2);
    EXPECT_EQ(type_of(block_select_value(&sel, &two)), TYPE_NONE);
}
