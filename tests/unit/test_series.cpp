#include <gtest/gtest.h>
#include <algorithm>
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
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/unicode/text.h"
#include "value_support.h"

using namespace kem;
using kem::test::at;
using kem::test::NONE;
using kem::test::I;
using kem::test::error_of;

namespace {

Cell Ch(int32_t cp) { return Cell{TYPE_CHAR, 0, uint32_t(cp), 0}; }

Cell B(std::initializer_list<int32_t> items) {
    Cell b;
    block_make_at(&b, int32_t(items.size()));
    for (int32_t v : items) {
        Cell c = I(v);
        block_append_cell(&b, &c);
    }
    return b;
}

// The series from its head as text: cells as integers, units as characters.
std::string whole(const Cell& s) {
    std::string out;
    SeriesBuffer* b = series_buffer(&s);
    if (any_block_type(type_of(&s))) {
        for (Cell* c = b->cell_head(); c < b->cell_tail(); c++)
            out += (out.empty() ? "" : " ") + std::to_string(cell_int(c));
        return out;
    }
    for (uint32_t off = b->head; off < b->tail; off += unit_bytes(b))
        out += char(read_unit(b->data() + off, unit_bytes(b)));
    return out;
}

Cell text(const char* s, uint8_t type = TYPE_STRING) {
    Cell c;
    string_make_at(&c, 16);
    string_append_ascii(&c, s);
    set_type(&c, type);
    return c;
}

class Series : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        stack::init();
        cycle_init();
        register_all_datatypes();
    }
    void TearDown() override { cycle_reset(); }

    // Runs a stack-form navigation action on series (and an argument) as the
    // current call and answers its result cell.
    Cell* navigate(Cell* (*action)(), const Cell& series, std::optional<Cell> arg = std::nullopt) {
        stack::reset();
        stack::push(&series);
        if (arg) stack::push(&*arg);
        return action();
    }
};

} // namespace

TEST_F(Series, Navigation) {
    struct Case {
        const char* name;
        Cell* (*action)();
        int32_t from;
        std::optional<Cell> arg;
        int32_t to;
    };
    const Case cases[] = {
        {"head", series_head, 2, {}, 0},
        {"tail", series_tail, 1, {}, 3},
        {"next", series_next, 1, {}, 2},
        {"next at the tail stays", series_next, 3, {}, 3},
        {"back", series_back, 2, {}, 1},
        {"back at the head stays", series_back, 0, {}, 0},
        {"back past the tail", series_back, 7, {}, 6},
        {"at 1 is the position", series_at, 1, I(1), 1},
        {"at 0 is the position", series_at, 1, I(0), 1},
        {"at 2", series_at, 1, I(2), 2},
        {"at -1 steps back", series_at, 2, I(-1), 1},
        {"at clamps to the head", series_at, 1, I(-9), 0},
        {"at clamps to the tail", series_at, 1, I(9), 3},
        {"skip 1", series_skip, 1, I(1), 2},
        {"skip 0", series_skip, 1, I(0), 1},
        {"skip clamps", series_skip, 1, I(-5), 0},
    };
    Cell b = B({1, 2, 3});
    for (const Case& c : cases) {
        Cell* r = navigate(c.action, at(b, c.from), c.arg);
        EXPECT_EQ(r, stack::arguments) << c.name;
        EXPECT_EQ(series_position(r), c.to) << c.name;
        EXPECT_EQ(series_node(r), series_node(&b)) << c.name;
    }
    EXPECT_EQ(error_of([&] { navigate(series_at, b, NONE); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { navigate(series_skip, b, NONE); }), Err::script_invalid_arg);
}

TEST_F(Series, QueriesIncludingPastTailPositions) {
    struct Case {
        int32_t pos;
        bool head, tail;
        int32_t index, length;
    };
    const Case cases[] = {
        {0, true, false, 1, 3},
        {2, false, false, 3, 1},
        {3, false, true, 4, 0},
        {5, false, true, 6, 0},   // index? is not clamped; length? is
    };
    Cell b = B({1, 2, 3});
    for (const Case& c : cases) {
        Cell s = at(b, c.pos);
        EXPECT_EQ(navigate(series_head_q, s)->data1, c.head ? 1u : 0u) << c.pos;
        EXPECT_EQ(navigate(series_tail_q, s)->data1, c.tail ? 1u : 0u) << c.pos;
        EXPECT_EQ(cell_int(navigate(series_index_q, s)), c.index) << c.pos;
        EXPECT_EQ(series_length_q(&s), c.length) << c.pos;
        EXPECT_EQ(series_position(&s), std::min(c.pos, 3)) << "length? clamps the cell";
    }
    // The block's own counters agree; rs-length is not clamped.
    EXPECT_EQ(block_rs_length(&b), 3);
    Cell past = at(b, 5);
    EXPECT_EQ(block_rs_length(&past), -2);
    EXPECT_EQ(block_rs_head(&past), block_rs_tail(&past));
    EXPECT_EQ(series_position(&past), 3);
}

TEST_F(Series, PickAndPoke) {
    Cell b = at(B({1, 2, 3, 4}), 1);
    struct Case {
        int32_t index;
        std::optional<int32_t> value;
    };
    const Case cases[] = {{1, 2}, {3, 4}, {4, std::nullopt}, {0, std::nullopt}, {-1, 1}, {-2, std::nullopt}};
    for (const Case& c : cases) {
        Cell s = b;
        Cell* r = series_pick(&s, c.index, nullptr);
        if (c.value) EXPECT_EQ(cell_int(r), *c.value) << c.index;
        else EXPECT_EQ(type_of(r), TYPE_NONE) << c.index;
    }
    Cell v = I(9);
    series_poke(&b, -1, &v, nullptr);
    series_poke(&b, 3, &v, nullptr);
    EXPECT_EQ(whole(b), "9 2 3 9");
    for (int32_t index : {0, 4, -2}) {
        Cell s = b;
        EXPECT_EQ(error_of([&] { series_poke(&s, index, &v, nullptr); }), Err::script_out_of_range) << index;
    }
}

TEST_F(Series, PickAndPokeOnTextAndBytes) {
    Cell s = text("abc");
    Cell probe = s;
    Cell* r = series_pick(&probe, 2, nullptr);
    EXPECT_EQ(type_of(r), TYPE_CHAR);
    EXPECT_EQ(cell_int(r), 'b');
    Cell x = Ch('x');
    series_poke(&s, 1, &x, nullptr);
    EXPECT_EQ(whole(s), "xbc");
    // A wider code point widens the whole buffer first.
    Cell smile = Ch(0x263A);
    series_poke(&s, 3, &smile, nullptr);
    SeriesBuffer* buf = series_buffer(&s);
    ASSERT_EQ(buf->unit(), 2u);
    EXPECT_EQ(read_unit(buf->head_ptr(), 2), 'x');
    EXPECT_EQ(read_unit(buf->head_ptr() + 4, 2), 0x263A);
    Cell n = I(1);
    EXPECT_EQ(error_of([&] { series_poke(&s, 1, &n, nullptr); }), Err::script_invalid_arg);

    Cell bin = text("AB", TYPE_BINARY);
    probe = bin;
    r = series_pick(&probe, 1, nullptr);
    EXPECT_EQ(type_of(r), TYPE_INTEGER);
    EXPECT_EQ(cell_int(r), 'A');
    Cell byte = I(0x143);
    series_poke(&bin, 2, &byte, nullptr);
    EXPECT_EQ(read_unit(series_buffer(&bin)->head_ptr() + 1, 1), 0x43);
    EXPECT_EQ(error_of([&] { series_poke(&bin, 1, &x, nullptr); }), std::nullopt);
    Cell none = NONE;
    EXPECT_EQ(error_of([&] { series_poke(&bin, 1, &none, nullptr); }), Err::script_invalid_arg);
}

TEST_F(Series, ClearRemoveReverse) {
    using Act = std::function<Cell*(Cell&)>;
    struct Case {
        const char* name;
        int32_t pos;
        Act act;
        const char* after;
    };
    auto remove = [](std::optional<Cell> part) {
        return Act([=](Cell& s) mutable { return series_remove(&s, RemoveArgs{.part = part ? &*part : nullptr}); });
    };
    // /part given as a position of the series itself.
    auto remove_to = [](int32_t pos) {
        return Act([=](Cell& s) {
            Cell p = at(s, pos);
            return series_remove(&s, RemoveArgs{.part = &p});
        });
    };
    auto reverse = [](std::optional<Cell> part, std::optional<Cell> skip) {
        return Act([=](Cell& s) mutable {
            return series_reverse(&s, ReverseArgs{.part = part ? &*part : nullptr, .skip = skip ? &*skip : nullptr});
        });
    };
    const Case cases[] = {
        {"clear from the position", 2, [](Cell& s) { return series_clear(&s); }, "1 2"},
        {"clear past the tail", 9, [](Cell& s) { return series_clear(&s); }, "1 2 3 4 5 6"},
        {"remove one", 0, remove(std::nullopt), "2 3 4 5 6"},
        {"remove/part", 1, remove(I(2)), "1 4 5 6"},
        {"remove/part beyond the tail", 4, remove(I(9)), "1 2 3 4"},
        {"remove/part 0", 1, remove(I(0)), "1 2 3 4 5 6"},
        {"remove/part up to a position", 1, remove_to(3), "1 4 5 6"},
        {"remove/part to an earlier position", 3, remove_to(1), "1 2 3 4 5 6"},
        {"remove at the tail", 6, remove(std::nullopt), "1 2 3 4 5 6"},
        {"reverse", 0, reverse(std::nullopt, std::nullopt), "6 5 4 3 2 1"},
        {"reverse/part", 1, reverse(I(3), std::nullopt), "1 4 3 2 5 6"},
        {"reverse/skip", 0, reverse(std::nullopt, I(2)), "5 6 3 4 1 2"},
        {"reverse/skip of the whole range", 0, reverse(std::nullopt, I(6)), "1 2 3 4 5 6"},
        {"reverse/part past the tail", 4, reverse(I(5), std::nullopt), "1 2 3 4 6 5"},
    };
    for (const Case& c : cases) {
        Cell fresh = B({1, 2, 3, 4, 5, 6});
        Cell s = at(fresh, c.pos);
        Cell* r = c.act(s);
        EXPECT_EQ(whole(fresh), c.after) << c.name;
        EXPECT_EQ(series_position(r), c.pos) << c.name;
    }
    Cell s = B({1, 2, 3, 4, 5, 6});
    Cell four = I(4), zero = I(0), none = NONE;
    EXPECT_EQ(error_of([&] { series_reverse(&s, ReverseArgs{.skip = &four}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { series_reverse(&s, ReverseArgs{.skip = &zero}); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { series_reverse(&s, ReverseArgs{.skip = &none}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { series_remove(&s, RemoveArgs{.part = &none}); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(whole(s), "1 2 3 4 5 6");

    // remove/key drops the key and the value after it.
    Cell k = B({1, 10, 2, 20, 3, 30});
    Cell key = I(2);
    series_remove(&k, RemoveArgs{.key = &key});
    EXPECT_EQ(whole(k), "1 10 3 30");
    Cell absent = I(7);
    EXPECT_EQ(type_of(series_remove(&k, RemoveArgs{.key = &absent})), TYPE_NONE);
}

TEST_F(Series, MoveWithinOneBlock) {
    struct Case {
        const char* name;
        int32_t origin, target;
        std::optional<int32_t> part;
        const char* after;
        bool answers_target;
    };
    const Case cases[] = {
        {"to a later position lands after its unit", 0, 3, {}, "2 3 4 1 5", true},
        {"to an earlier position lands at it", 3, 1, {}, "1 4 2 3 5", true},
        {"to the tail", 0, 5, {}, "2 3 4 5 1", true},
        {"past the tail counts as the tail", 1, 9, {}, "1 3 4 5 2", true},
        {"a range forward", 0, 3, 2, "3 4 1 2 5", true},
        {"a range backward", 3, 0, 2, "4 5 1 2 3", true},
        {"onto itself", 2, 2, {}, "1 2 3 4 5", true},
        {"inside the moved range", 1, 2, 3, "1 2 3 4 5", true},
        {"too few units after the target", 0, 4, 2, "1 2 3 4 5", false},
        {"origin at the tail", 5, 0, {}, "1 2 3 4 5", true},
        {"part 0", 0, 3, 0, "1 2 3 4 5", true},
    };
    for (const Case& c : cases) {
        Cell b = B({1, 2, 3, 4, 5});
        Cell origin = at(b, c.origin), target = at(b, c.target);
        Cell part = I(c.part.value_or(0));
        Cell* r = series_move(&origin, &target, MoveArgs{.part = c.part ? &part : nullptr});
        EXPECT_EQ(whole(b), c.after) << c.name;
        EXPECT_EQ(r, c.answers_target ? &target : &origin) << c.name;
    }
}

TEST_F(Series, MoveBetweenSeries) {
    Cell from = B({1, 2, 3});
    Cell to = at(B({8, 9}), 1);
    Cell two = I(2);
    series_move(&from, &to, MoveArgs{.part = &two});
    EXPECT_EQ(whole(from), "3");
    EXPECT_EQ(whole(to), "8 1 2 9");

    // Growing the target many times over keeps every unit.
    Cell big = B({});
    for (int i = 0; i < 40; i++) {
        Cell v = I(i);
        block_append_cell(&big, &v);
    }
    Cell small = B({});
    Cell all = I(40);
    series_move(&big, &small, MoveArgs{.part = &all});
    EXPECT_EQ(block_full_length(&small), 40u);
    EXPECT_EQ(cell_int(block_rs_abs_at(&small, 39)), 39);
    EXPECT_EQ(block_full_length(&big), 0u);

    // Text of different widths moves code point by code point.
    Cell narrow = text("ab");
    Cell wide = text("xy");
    Cell smile = Ch(0x263A);
    series_poke(&wide, 1, &smile, nullptr);
    series_move(&narrow, &wide, MoveArgs{});
    EXPECT_EQ(whole(narrow), "b");
    EXPECT_EQ(series_buffer(&wide)->unit(), 2u);
    EXPECT_EQ(read_unit(series_buffer(&wide)->head_ptr(), 2), 'a');
    EXPECT_EQ(read_unit(series_buffer(&wide)->head_ptr() + 2, 2), 0x263A);

    Cell blk = B({1});
    Cell str = text("a");
    EXPECT_EQ(error_of([&] { series_move(&blk, &str, MoveArgs{}); }), Err::script_move_bad);
    Cell bin = text("a", TYPE_BINARY);
    Cell wide2 = text("z");
    series_poke(&wide2, 1, &smile, nullptr);
    EXPECT_EQ(error_of([&] { series_move(&bin, &wide2, MoveArgs{}); }), Err::script_move_bad);
    Cell n = I(1);
    EXPECT_EQ(error_of([&] { series_move(&blk, &n, MoveArgs{}); }), Err::script_expect_arg);
    EXPECT_EQ(whole(blk), "1");
}

TEST_F(Series, CopyAndTakeCoresOnText) {
    Cell s = at(text("hello"), 1);
    Cell result;
    make_unset(&result);
    Cell three = I(3);
    series_copy(&s, &result, CopyArgs{.part = &three});
    EXPECT_EQ(type_of(&result), TYPE_STRING);
    EXPECT_EQ(series_position(&result), 0);
    EXPECT_EQ(whole(result), "ell");

    Cell t = text("abc");
    Cell* one = series_take(&t, TakeArgs{});
    EXPECT_EQ(type_of(one), TYPE_CHAR);
    EXPECT_EQ(cell_int(one), 'a');
    Cell two = I(2);
    Cell* part = series_take(&t, TakeArgs{.part = &two, .last = true});
    EXPECT_EQ(type_of(part), TYPE_STRING);
    EXPECT_EQ(whole(*part), "bc");
    EXPECT_EQ(whole(t), "");
    EXPECT_EQ(type_of(series_take(&t, TakeArgs{})), TYPE_NONE);
}

TEST_F(Series, RandomShufflesPicksAndSeeds) {
    auto shuffled = [](const Cell& seed_block) {
        Cell seed = seed_block;
        series_random(&seed, RandomArgs{.seed = true});
        EXPECT_EQ(type_of(&seed), TYPE_UNSET);
        Cell b = B({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
        Cell from = at(b, 2);
        series_random(&from, RandomArgs{});
        return whole(b);
    };
    Cell key = B({4, 2});
    std::string first = shuffled(key);
    EXPECT_EQ(shuffled(key), first);   // the same seed, the same order
    EXPECT_EQ(first.substr(0, 4), "1 2 ");   // units before the position stay
    std::vector<int> seen;
    for (size_t i = 0; i < first.size();) {
        size_t j = first.find(' ', i);
        seen.push_back(std::stoi(first.substr(i, j - i)));
        i = j == std::string::npos ? first.size() : j + 1;
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, std::vector<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));

    Cell b = at(B({5, 6, 7}), 1);
    for (int i = 0; i < 20; i++) {
        Cell s = b;
        int32_t v = cell_int(series_random(&s, RandomArgs{.only = true}));
        EXPECT_TRUE(v == 6 || v == 7) << v;
    }
    Cell empty = at(B({5}), 1);
    EXPECT_EQ(type_of(series_random(&empty, RandomArgs{.only = true})), TYPE_NONE);
    Cell t = text("q");
    EXPECT_EQ(type_of(series_random(&t, RandomArgs{.only = true})), TYPE_CHAR);
}
