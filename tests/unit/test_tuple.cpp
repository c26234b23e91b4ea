#include <gtest/gtest.h>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

#include "number_support.h"

using namespace kem;
using namespace kem::test;

namespace {

const double INF = std::numeric_limits<double>::infinity();
const double NaN = std::numeric_limits<double>::quiet_NaN();

Cell TU(std::initializer_list<int> bytes) {
    std::vector<uint8_t> b(bytes.begin(), bytes.end());
    Cell c;
    tuple_make_at(&c, b.data(), uint32_t(b.size()));
    return c;
}

Cell ISSUE(const char* name) {
    Cell c;
    issue_set_in(&c, name);
    return c;
}

bool same_value(const Cell& a, const Cell& b) {
    return a.header == b.header && a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
}

std::string shown(const Cell& c) {
    if (!is_type(&c, TYPE_TUPLE)) return show(c);
    return "tuple " + text_of(c, true) + " of " + std::to_string(tuple_length(&c));
}

class TupleTest : public ::testing::Test {
protected:
    void SetUp() override {
        words_up();
        lexer_init();
    }
    void TearDown() override {
        context_on_change = nullptr;
    }
};

void expect(const char* what, const std::function<Cell()>& run, const Cell& want, std::optional<Err> error) {
    check_outcome(what, run, want, error, same_value, shown);
}

Cell block_of(std::initializer_list<Cell> items) { return B(items); }

} // namespace

TEST_F(TupleTest, ArithmeticClampsEveryByte) {
    struct Case {
        const char* what;
        int slot;
        Cell left, right, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"longer right tuple grows the result", ACT_ADD, TU({1, 2, 3}), TU({1, 1, 1, 1}), TU({2, 3, 4, 1})},
        {"clamped at 255", ACT_ADD, TU({200, 200, 200}), I(100), TU({255, 255, 255})},
        {"clamped at 0", ACT_SUBTRACT, TU({1, 2, 3}), I(5), TU({0, 0, 0})},
        {"float factor", ACT_MULTIPLY, TU({10, 20, 30}), F(1.5), TU({15, 30, 45})},
        {"percent factor", ACT_MULTIPLY, TU({10, 20, 30}), P(0.5), TU({5, 10, 15})},
        {"integer divide truncates", ACT_DIVIDE, TU({10, 21, 30}), I(4), TU({2, 5, 7})},
        {"remainder", ACT_REMAINDER, TU({10, 21, 30}), I(4), TU({2, 1, 2})},
        {"and~ with a tuple", ACT_AND_T, TU({12, 255, 7}), TU({10, 15}), TU({8, 15, 0})},
        {"or~", ACT_OR_T, TU({12, 0, 1}), I(3), TU({15, 3, 3})},
        {"xor~", ACT_XOR_T, TU({12, 255, 0}), I(10), TU({6, 245, 10})},
        {"integer overflow saturates", ACT_MULTIPLY, TU({1, 0, 2}), I(2147483647), TU({255, 0, 255})},
        {"negative factor", ACT_MULTIPLY, TU({1, 2, 3}), I(-1), TU({0, 0, 0})},
        {"integer on the left", ACT_MULTIPLY, I(2), TU({1, 2, 3}), TU({2, 4, 6})},
        {"float on the left", ACT_ADD, F(1.5), TU({1, 2, 3}), TU({2, 3, 4})},
        {"integer minus a tuple", ACT_SUBTRACT, I(2), TU({1, 2, 3}), {}, Err::script_not_related},
        {"float divided by a tuple", ACT_DIVIDE, F(2.0), TU({1, 2, 3}), {}, Err::script_not_related},
        {"zero divisor", ACT_DIVIDE, TU({1, 2, 3}), I(0), {}, Err::math_zero_divide},
        {"zero byte divisor", ACT_REMAINDER, TU({1, 2, 3}), TU({1, 1}), {}, Err::math_zero_divide},
        {"pair partner", ACT_ADD, TU({1, 2, 3}), Cell{TYPE_PAIR, 0, 1, 1}, {}, Err::script_invalid_type},
        {"char partner", ACT_ADD, TU({1, 2, 3}), Ch(1), {}, Err::script_invalid_type},
    };
    for (const auto& c : cases)
        expect(c.what, [&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, c.error);
}

// Float partners are combined and clamped in doubles: nothing is first cut to
// a 32-bit integer, where 1e10 used to come out as 0.
TEST_F(TupleTest, FloatOperandsClampInDoubles) {
    const struct {
        const char* what;
        int slot;
        Cell left, right, want;
    } cases[] = {
        {"huge factor", ACT_MULTIPLY, TU({1, 2, 3}), F(1e10), TU({255, 255, 255})},
        {"huge factor on the left", ACT_MULTIPLY, F(1e10), TU({1, 0, 3}), TU({255, 0, 255})},
        {"huge negative factor", ACT_MULTIPLY, TU({1, 2, 3}), F(-1e10), TU({0, 0, 0})},
        {"huge addend", ACT_ADD, TU({1, 2, 3}), F(3e9), TU({255, 255, 255})},
        {"infinite factor", ACT_MULTIPLY, TU({1, 0, 3}), F(INF), TU({255, 0, 255})},
        {"NaN gives 0", ACT_ADD, TU({1, 2, 3}), F(NaN), TU({0, 0, 0})},
        {"divide by float zero", ACT_DIVIDE, TU({1, 2, 3}), F(0.0), TU({255, 255, 255})},
        {"huge percent", ACT_MULTIPLY, TU({4, 5, 6}), P(1e12), TU({255, 255, 255})},
    };
    for (const auto& c : cases)
        expect(c.what, [&] { return run_stack_slot(c.slot, c.left, c.right); }, c.want, std::nullopt);
}

TEST_F(TupleTest, MakeAndTo) {
    Cell text;
    string_make_utf8(&text, "1.2.3");
    Cell other_text;
    string_make_utf8(&other_text, "7");
    Cell url = text;
    set_type(&url, TYPE_URL);
    Cell binary;
    make_series(&binary, TYPE_BINARY, alloc_bytes(16), 1);
    for (uint8_t b : {9, 8, 7, 6}) *alloc_tail_bytes(series_buffer(&binary), 1) = b;
    Cell short_binary;
    make_series(&short_binary, TYPE_BINARY, series_node(&binary), 3);
    Cell thirteen;
    block_make_at(&thirteen, 13);
    for (int i = 0; i < 13; i++) {
        Cell n = I(i);
        block_append_cell(&thirteen, &n);
    }
    Cell paren = block_of({I(4), Ch('A')});
    set_type(&paren, TYPE_PAREN);
    const struct {
        const char* what;
        Cell spec, want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"short block padded", block_of({I(1), I(2)}), TU({1, 2, 0})},
        {"empty block", block_of({}), TU({0, 0, 0})},
        {"a paren with a char", paren, TU({4, 65, 0})},
        {"float truncated", block_of({F(255.9), F(-0.5), I(0), I(7)}), TU({255, 0, 0, 7})},
        {"thirteen values", thirteen, {}, Err::script_bad_to_arg},
        {"byte out of range", block_of({I(1), I(2), I(256)}), {}, Err::script_bad_to_arg},
        {"negative byte", block_of({I(-1)}), {}, Err::script_bad_to_arg},
        {"NaN byte", block_of({F(NaN)}), {}, Err::script_bad_to_arg},
        {"a word in the block", block_of({NONE}), {}, Err::script_bad_to_arg},
        {"text", text, TU({1, 2, 3})},
        {"url text", url, TU({1, 2, 3})},
        {"text of a number", other_text, {}, Err::script_bad_to_arg},
        {"three digit colour", ISSUE("F00"), TU({255, 0, 0})},
        {"six digit colour", ISSUE("336699"), TU({51, 102, 153})},
        {"colour with alpha", ISSUE("FF000080"), TU({255, 0, 0, 128})},
        {"lower case digits", ISSUE("abcdef"), TU({171, 205, 239})},
        {"five digits", ISSUE("FF000"), {}, Err::script_invalid_data},
        {"not a digit", ISSUE("GG0000"), {}, Err::script_invalid_data},
        // A wide character is no digit, whatever its low bits are.
        {"non-ASCII", ISSUE("\xC3\x86\xC3\x86\xC3\x86"), {}, Err::script_invalid_data},
        {"tuple", TU({1, 2, 3, 4}), TU({1, 2, 3, 4})},
        {"binary from its position", binary, TU({8, 7, 6})},
        {"short binary padded", short_binary, TU({6, 0, 0})},
        {"integer", I(1), {}, Err::script_bad_to_arg},
    };
    for (int slot : {ACT_MAKE, ACT_TO}) {
        for (const auto& c : cases) {
            auto run = [&] {
                Cell proto = of_type(TYPE_DATATYPE);
                proto.data1 = TYPE_TUPLE;
                Cell spec = c.spec;
                auto fn = slot == ACT_MAKE ? action_entry_as<ACT_MAKE>(TYPE_TUPLE) : action_entry_as<ACT_TO>(TYPE_TUPLE);
                return *fn(&proto, &spec, TYPE_TUPLE);
            };
            expect(c.what, run, c.want, c.error);
        }
    }
}

TEST_F(TupleTest, FormMoldCompareAndLength) {
    const struct {
        Cell value;
        const char* text;
    } texts[] = {
        {TU({1, 2, 3}), "1.2.3"},
        {TU({255, 0, 0, 128}), "255.0.0.128"},
        {TU({0, 0, 0}), "0.0.0"},
        {TU({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}), "1.2.3.4.5.6.7.8.9.10.11.12"},
    };
    for (const auto& t : texts) {
        EXPECT_EQ(text_of(t.value, false), t.text);
        EXPECT_EQ(text_of(t.value, true), t.text);
    }

    const struct {
        Cell a, b;
        int32_t want;
    } orders[] = {
        {TU({1, 2, 3}), TU({1, 2, 3, 0}), 0},
        {TU({1, 2, 3}), TU({1, 2, 4}), -1},
        {TU({1, 2, 3, 1}), TU({1, 2, 3}), 1},
        {TU({200, 0, 0}), TU({100, 255, 255}), 1},
        {TU({1, 2, 3}), I(1), -2},
    };
    for (const auto& o : orders) {
        Cell a = o.a, b = o.b;
        EXPECT_EQ(compare_values(&a, &b, CompareOp::lesser), o.want) << shown(o.a) << " vs " << shown(o.b);
    }
    // Equal tuples hash alike.
    Cell short_one = TU({1, 2, 3}), long_one = TU({1, 2, 3, 0, 0});
    EXPECT_EQ(hash_value(&short_one, false), hash_value(&long_one, false));

    Cell t = TU({1, 2, 3, 4, 5});
    EXPECT_EQ(action_entry_as<ACT_LENGTH_Q>(TYPE_TUPLE)(&t), 5);
    Cell c = TU({0, 255, 15});
    action_entry_as<ACT_COMPLEMENT>(TYPE_TUPLE)(&c);
    EXPECT_TRUE(same_value(c, TU({255, 0, 240})));
    Cell zeros = TU({0, 0, 0, 0}), not_zeros = TU({0, 0, 1});
    EXPECT_TRUE(tuple_zero_q(&zeros));
    EXPECT_FALSE(tuple_zero_q(&not_zeros));
}

TEST_F(TupleTest, BytesThroughPathsAndPick) {
    auto path = [](Cell& parent, Cell element, std::optional<Cell> value) {
        Cell v = value ? *value : NONE;
        return *eval_path_direct(&parent, &element, value ? &v : nullptr, PathStep{.index = 0, .last = true});
    };
    Cell t = TU({1, 2, 3, 4});
    expect("read", [&] { return path(t, I(2), {}); }, I(2), std::nullopt);
    EXPECT_TRUE(same_value(t, TU({1, 2, 3, 4})));
    expect("none cuts the last byte", [&] { return path(t, I(4), NONE); }, NONE, std::nullopt);
    EXPECT_TRUE(same_value(t, TU({1, 2, 3})));
    expect("none never cuts below 3", [&] { return path(t, I(3), NONE); }, NONE, std::nullopt);
    EXPECT_TRUE(same_value(t, TU({1, 2, 0})));
    expect("stored clamped", [&] { return path(t, I(1), I(300)); }, I(300), std::nullopt);
    expect("stored clamped at 0", [&] { return path(t, I(2), I(-5)); }, I(-5), std::nullopt);
    EXPECT_TRUE(same_value(t, TU({255, 0, 0})));
    Cell wide = TU({1, 2, 3, 4, 5, 6});
    path(wide, I(2), NONE);
    EXPECT_TRUE(same_value(wide, TU({1, 0, 0}))) << shown(wide);

    expect("word element", [&] { return path(t, word_load("x"), {}); }, {}, Err::script_invalid_type);
    expect("float value", [&] { return path(t, I(1), F(1.0)); }, {}, Err::script_invalid_type);
    expect("index past the length", [&] { return path(t, I(4), I(1)); }, {}, Err::script_out_of_range);
    expect("read past the length", [&] { return path(t, I(4), {}); }, {}, Err::script_out_of_range);
    expect("index 0", [&] { return path(t, I(0), NONE); }, {}, Err::script_out_of_range);

    auto pick = [](Cell tuple, Cell index) {
        int32_t n = is_type(&index, TYPE_INTEGER) ? cell_int(&index) : 0;
        return *action_entry_as<ACT_PICK>(TYPE_TUPLE)(&tuple, n, &index);
    };
    expect("pick 3", [&] { return pick(TU({7, 8, 9}), I(3)); }, I(9), std::nullopt);
    expect("pick 4", [&] { return pick(TU({7, 8, 9}), I(4)); }, {}, Err::script_out_of_range);
    expect("pick a float", [&] { return pick(TU({7, 8, 9}), F(1.0)); }, {}, Err::script_out_of_range);
}

// A tuple in a field of an object with change handlers: the handler hears of
// a byte written through a path.
TEST_F(TupleTest, PathWriteTellsTheOwningObject) {
    static int calls;
    static Cell heard_new;
    calls = 0;
    context_on_change = [](Cell*, Cell*, Cell*, Cell* new_value) {
        calls++;
        heard_new = *new_value;
    };
    Cell object{TYPE_OBJECT, 0, 1, 1};
    Cell field = word_load("colour");
    Cell t = TU({1, 2, 3});
    Cell element = I(2);
    Cell value = I(9);
    eval_path_direct(&t, &element, &value,
                     PathStep{.owner = &object, .prev_element = &field, .index = 1, .last = true, .notify = true});
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(same_value(heard_new, TU({1, 9, 3})));
}

TEST_F(TupleTest, ReverseWithPartAndSkip) {
    word_part = word_load("part");
    word_skip = word_load("skip");
    auto reverse = [](Cell t, std::optional<Cell> part, std::optional<Cell> skip) {
        Cell p = part ? *part : NONE, s = skip ? *skip : NONE;
        return *action_entry_as<ACT_REVERSE>(TYPE_TUPLE)(
            &t, ReverseArgs{.part = part ? &p : nullptr, .skip = skip ? &s : nullptr});
    };
    const struct {
        const char* what;
        Cell tuple;
        std::optional<Cell> part, skip;
        Cell want;
        std::optional<Err> error = std::nullopt;
    } cases[] = {
        {"whole", TU({1, 2, 3, 4}), {}, {}, TU({4, 3, 2, 1})},
        {"part", TU({1, 2, 3, 4}), I(2), {}, TU({2, 1, 3, 4})},
        {"part beyond the length", TU({1, 2, 3}), I(9), {}, TU({3, 2, 1})},
        {"records of two", TU({1, 2, 3, 4}), {}, I(2), TU({3, 4, 1, 2})},
        {"one record is unchanged", TU({1, 2, 3, 4}), {}, I(4), TU({1, 2, 3, 4})},
        {"records within a part", TU({1, 2, 3, 4, 5, 6}), I(4), I(2), TU({3, 4, 1, 2, 5, 6})},
        {"not a multiple", TU({1, 2, 3, 4}), {}, I(3), {}, Err::script_invalid_refine_arg},
        {"record longer than the tuple", TU({1, 2, 3}), {}, I(5), {}, Err::script_invalid_refine_arg},
        {"zero skip", TU({1, 2, 3}), {}, I(0), {}, Err::script_out_of_range},
        {"negative part", TU({1, 2, 3}), I(-1), {}, {}, Err::script_out_of_range},
        {"float part", TU({1, 2, 3}), F(1.0), {}, {}, Err::script_invalid_refine_arg},
        {"float skip", TU({1, 2, 3}), {}, F(1.0), {}, Err::script_invalid_refine_arg},
    };
    for (const auto& c : cases) expect(c.what, [&] { return reverse(c.tuple, c.part, c.skip); }, c.want, c.error);
    word_part = NONE;
    word_skip = NONE;
}

TEST_F(TupleTest, RandomStaysWithinEachByte) {
    auto random = [](Cell v, bool seed) {
        return *action_entry_as<ACT_RANDOM>(TYPE_TUPLE)(&v, RandomArgs{.seed = seed});
    };
    Cell seeded = random(TU({1, 2, 3}), true);
    EXPECT_EQ(type_of(&seeded), TYPE_UNSET);
    bool saw_top = false;
    for (int i = 0; i < 200; i++) {
        Cell r = random(TU({0, 3, 255, 1}), false);
        const uint8_t* b = tuple_bytes(&r);
        EXPECT_EQ(b[0], 0);
        EXPECT_LE(b[1], 3);
        EXPECT_LE(b[3], 1);
        EXPECT_EQ(tuple_length(&r), 4u);
        saw_top = saw_top || b[1] == 3;
    }
    EXPECT_TRUE(saw_top);  // the byte itself is one of the outcomes
}
