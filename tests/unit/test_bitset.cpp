#include <gtest/gtest.h>
#include <climits>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"
#include "value_support.h"

using namespace kem;
using namespace kem::test;

namespace {

Cell L(bool b) { Cell c; make_logic(&c, b); return c; }
Cell H(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> v(bytes);
    Cell c;
    binary_load_at(v.data(), uint32_t(v.size()), &c);
    return c;
}

class BitsetTest : public ::testing::Test {
protected:
    void SetUp() override { runtime_with_caller(); }
    void TearDown() override { cycle_reset(); }

    static Cell make(Cell spec) { return *bitset_make_from(&spec, 0); }
    static std::string mold(Cell bs, int32_t limit = 1000, int32_t* left = nullptr) {
        Cell buffer;
        string_make_at(&buffer, 16);
        Cell arg = I(limit);
        int32_t r = bitset_mold(&bs, &buffer, MoldArgs{.limit = &arg}, limit, 0);
        if (left) *left = r;
        return buffer_bytes(buffer);
    }
    static bool has(Cell bs, Cell spec) { return bitset_process(&spec, &bs, BITSET_TEST, false, BITSET_ACTION_ERRORS); }
};

// --- making and text -------------------------------------------------------------------------

TEST_F(BitsetTest, MakeFromSpecs) {
    struct Case {
        Cell spec;
        const char* text;
        int32_t length;
    } cases[] = {
        {I(10), "make bitset! #{0000}", 16},
        {I(0), "make bitset! #{}", 0},
        {F(9.5), "make bitset! #{0000}", 16},
        {C('a'), "make bitset! #{00000000000000000000000040}", 104},
        {S("ab"), "make bitset! #{00000000000000000000000060}", 104},
        {B({C('a'), W("-"), C('c')}), "make bitset! #{00000000000000000000000070}", 104},
        {B({I(0), W("-"), I(15), I(17)}), "make bitset! #{FFFF40}", 24},
        {B({B({I(1)}), I(8)}), "make bitset! #{4080}", 16},
        {B({}), "make bitset! #{00}", 8},
        {H({0x80, 0x01}), "make bitset! #{8001}", 16},
        {B({W("not"), C('a')}), "make bitset! [not #{00000000000000000000000040}]", 104},
        {B({W("not"), H({0xF0})}), "make bitset! [not #{F0}]", 8},
        {B({W("not")}), "make bitset! [not #{00}]", 8},
    };
    for (Case& c : cases) {
        Cell bs = make(c.spec);
        EXPECT_EQ(mold(bs), c.text);
        EXPECT_EQ(bitset_length_q(&bs), c.length) << c.text;
    }
    Cell a = make(C('a'));
    EXPECT_TRUE(has(a, C('a')));
    EXPECT_FALSE(has(a, C('b')));
    Cell lower = make(B({C('a'), W("-"), C('z')}));
    EXPECT_TRUE(has(lower, S("thequickbrownfoxjumpsoverthelazydog")));
    EXPECT_FALSE(has(lower, C('A')));
    // A spec block keeps its own position.
    Cell spec = B({W("not"), C('a')});
    make(spec);
    EXPECT_EQ(series_position(&spec), 0);
}

TEST_F(BitsetTest, MakeRefusals) {
    Cell file = S("a");
    set_type(&file, TYPE_FILE);
    Cell self = B({I(1)});
    block_append_cell(&self, &self);
    struct Case {
        Cell spec;
        int32_t mode;
        Err error;
    } cases[] = {
        {I(-1), 0, Err::script_out_of_range},
        {B({I(-3)}), 0, Err::script_out_of_range},
        {B({C('z'), W("-"), C('a')}), 0, Err::script_past_end},
        {B({C('a'), W("-"), I(100)}), 0, Err::script_invalid_arg},
        {B({C('a'), W("-")}), 0, Err::script_past_end},
        {B({I(1), H({1})}), 0, Err::internal_not_done},
        {NONE, 0, Err::script_bad_make_arg},
        {NONE, 1, Err::script_bad_to_arg},
        {file, 0, Err::script_bad_make_arg},
        {I(8), 1, Err::script_bad_to_arg},
        {self, 0, Err::internal_no_cycle},
        // Sizes are worked out in 64 bits: none of these wraps or reaches the allocator.
        {I(INT32_MAX), 0, Err::script_out_of_range},
        {B({I(INT32_MAX)}), 0, Err::script_out_of_range},
        {B({I(0), W("-"), I(INT32_MAX)}), 0, Err::script_out_of_range},
        {F(1e12), 0, Err::script_out_of_range},
        {B({F(-1e12)}), 0, Err::script_out_of_range},
    };
    for (Case& c : cases) {
        EXPECT_EQ(error_of([&] { bitset_make_from(&c.spec, c.mode); }), c.error);
        EXPECT_EQ(cycle_depth(), 0u);
    }
    // The largest bit that keeps length? an integer!.
    Cell big = make(B({I(100000)}));
    EXPECT_EQ(bitset_length_q(&big), 100008);
    EXPECT_TRUE(has(big, I(100000)));
    EXPECT_FALSE(has(big, I(99999)));
}

TEST_F(BitsetTest, MoldCountsItsPrefixAgainstThePart) {
    int32_t left = 0;
    mold(make(I(8)), 100, &left);
    EXPECT_EQ(left, 100 - 18);
    mold(make(B({W("not"), I(1)})), 100, &left);
    EXPECT_EQ(left, 100 - 24);
    EXPECT_EQ(mold(make(I(64)), 17, &left), "make bitset! #{00");
    EXPECT_EQ(left, 0);
}

// --- membership actions ----------------------------------------------------------------------

TEST_F(BitsetTest, PickFindAndPathAccess) {
    Cell plain = make(C('a'));
    Cell inverse = make(B({W("not"), C('a')}));
    struct Case {
        Cell spec;
        bool plain, inverse;
    } cases[] = {
        {C('a'), true, false},
        {C('b'), false, true},
        {I(1000), false, true},  // beyond the array: the complement flag
        {I(-1), false, true},
        {S("a"), true, false},
        {S("ba"), false, false},
        {B({C('b'), C('c')}), false, true},
        {B({C('a'), W("-"), C('c')}), false, false},
        {B({I(98), W("-"), I(5000)}), false, true},
    };
    for (Case& c : cases) {
        Cell p = plain, q = inverse;
        EXPECT_EQ(logic_get(bitset_pick(&p, 0, &c.spec)), c.plain);
        EXPECT_EQ(logic_get(bitset_pick(&q, 0, &c.spec)), c.inverse);
        Cell f = plain;
        EXPECT_EQ(type_of(bitset_find(&f, &c.spec, FindArgs{})), c.plain ? TYPE_LOGIC : TYPE_NONE);
    }
    Cell bad = NONE;
    Cell p = plain;
    EXPECT_EQ(error_of([&] { bitset_pick(&p, 0, &bad); }), Err::script_invalid_arg);

    Cell e = C('a'), t = L(true), str = S("a");
    EXPECT_TRUE(logic_get(bitset_eval_path(&plain, &e, nullptr, PathStep{.index = -1, .last = true})));
    Cell n = I(3);
    bitset_eval_path(&plain, &n, &t, PathStep{.index = -1, .last = true});
    EXPECT_TRUE(has(plain, I(3)));
    EXPECT_EQ(error_of([&] { bitset_eval_path(&plain, &str, nullptr, PathStep{.index = -1, .last = true}); }),
              Err::script_invalid_type);
}

TEST_F(BitsetTest, PokeSetsOrClears) {
    Cell bs = make(C('a'));
    struct Case {
        Cell spec, value;
        bool member;
    } cases[] = {
        {C('b'), L(true), true}, {C('a'), NONE, false}, {C('b'), I(0), false},
        {C('b'), F(2.0), true},  {C('b'), F(0.0), false}, {C('c'), S(""), true},
        {C('c'), L(false), false},
    };
    for (Case& c : cases) {
        Cell* r = bitset_poke(&bs, 0, &c.value, &c.spec);
        EXPECT_EQ(r, &c.value);
        EXPECT_EQ(has(bs, c.spec), c.member);
    }
    // On a complemented set, clearing beyond the array grows it with members.
    Cell inv = make(B({W("not"), C('a')}));
    Cell off = L(false), on = L(true), far = I(2000), a = C('a');
    bitset_poke(&inv, 0, &off, &far);
    EXPECT_FALSE(has(inv, far));
    EXPECT_TRUE(has(inv, I(1999)));
    EXPECT_TRUE(has(inv, I(2001)));
    bitset_poke(&inv, 0, &on, &a);
    EXPECT_TRUE(has(inv, a));
}

TEST_F(BitsetTest, AppendRemoveAndClearRespectTheComplement) {
    Cell plain = make(C('a'));
    Cell xyz = S("xyz");
    bitset_append(&plain, &xyz, -1, false, 1, true);
    EXPECT_TRUE(has(plain, S("axyz")));
    EXPECT_EQ(bitset_length_q(&plain), 128);
    Cell bad = NONE;
    EXPECT_EQ(error_of([&] { bitset_append(&plain, &bad, -1, false, 1, true); }), Err::script_invalid_arg);

    Cell big = I(1000);
    Cell inv = make(B({W("not"), C('a')}));
    bitset_append(&inv, &big, -1, false, 1, false);
    EXPECT_TRUE(has(inv, big));
    EXPECT_FALSE(has(inv, C('a')));
    EXPECT_EQ(bitset_length_q(&inv), 1008);

    EXPECT_EQ(error_of([&] { bitset_remove(&plain, RemoveArgs{}); }), Err::script_missing_arg);
    Cell y = C('y');
    bitset_remove(&plain, RemoveArgs{.part = &y});
    EXPECT_FALSE(has(plain, y));
    EXPECT_TRUE(has(plain, S("axz")));

    // Removing from a complemented set takes members out, it never adds them.
    Cell b = C('b'), a = C('a'), far = I(5000);
    bitset_remove(&inv, RemoveArgs{.part = &b});
    bitset_remove(&inv, RemoveArgs{.part = &a});
    bitset_remove(&inv, RemoveArgs{.part = &far});
    EXPECT_FALSE(has(inv, b));
    EXPECT_FALSE(has(inv, a));
    EXPECT_FALSE(has(inv, far));
    EXPECT_TRUE(has(inv, S("cxyz")));
    EXPECT_TRUE(has(inv, I(5001)));

    // Clearing empties the set, whatever its flag.
    for (Cell* s : {&plain, &inv}) {
        int32_t length = bitset_length_q(s);
        bitset_clear(s);
        EXPECT_EQ(bitset_length_q(s), length);
        EXPECT_FALSE(bitset_complemented(s));
        for (int32_t n : {0, 97, 120, 5000, 100000}) EXPECT_FALSE(bitset_member_q(s, n)) << n;
    }
}

TEST_F(BitsetTest, ComplementCopyAndLength) {
    Cell plain = make(C('a'));
    Cell comp = plain;
    bitset_complement(&comp);
    Cell spec = make(B({W("not"), C('a')}));
    EXPECT_EQ(bitset_compare(&comp, &spec, CompareOp::equal), 0);
    EXPECT_EQ(mold(comp), mold(spec));
    EXPECT_TRUE(has(plain, C('a')));  // the original stays as it was
    Cell neg = comp;
    bitset_negate(&neg);
    EXPECT_EQ(bitset_compare(&neg, &plain, CompareOp::equal), 0);
    EXPECT_FALSE(bitset_complemented(&neg));

    Cell copy;
    bitset_copy(&spec, &copy, CopyArgs{});
    EXPECT_NE(series_node(&copy), series_node(&spec));
    EXPECT_EQ(bitset_compare(&copy, &spec, CompareOp::equal), 0);
    Cell b = C('b');
    bitset_remove(&copy, RemoveArgs{.part = &b});
    EXPECT_TRUE(has(spec, b));
}

// --- comparison -------------------------------------------------------------------------

TEST_F(BitsetTest, Compare) {
    Cell a = make(C('a'));
    Cell empty = make(I(0));
    Cell full = empty;
    bitset_complement(&full);
    struct Case {
        Cell x, y;
        CompareOp op;
        int32_t expected;
    } cases[] = {
        {a, a, CompareOp::same, 0},
        {a, make(C('a')), CompareOp::same, 1},
        {a, make(C('a')), CompareOp::equal, 0},
        {make(I(8)), make(I(16)), CompareOp::lesser, -1},                       // sizes order first
        {make(H({0x01, 0x00})), make(H({0x00, 0x01})), CompareOp::lesser, -1},  // bytes compare from the last one
        {make(I(8)), make(B({W("not")})), CompareOp::lesser, -1},               // the plain set is the lesser
        {empty, full, CompareOp::equal, -1},                                    // the empty set is not the full one
        {a, I(1), CompareOp::equal, -2},
    };
    for (Case& c : cases) EXPECT_EQ(bitset_compare(&c.x, &c.y, c.op), c.expected);
    Cell twin = make(C('a'));
    EXPECT_EQ(hash_value(&a, false), hash_value(&twin, false));
}

// --- combinations ---------------------------------------------------------------------------

TEST_F(BitsetTest, CombinationsFollowMembership) {
    // Every operation on every mix of plain and complemented operands of
    // different sizes: membership of the result is the operation on the
    // operands' membership, far beyond both arrays too.
    std::mt19937 rng(7);
    auto random_set = [&](uint32_t bytes, bool complemented) {
        Cell bs;
        bitset_make_at(&bs, bytes, complemented);
        for (uint32_t i = 0; i < bytes; i++) bitset_rs_head(&bs)[i] = uint8_t(rng());
        return bs;
    };
    auto expected = [](int32_t op, bool x, bool y) {
        switch (op) {
        case 5: case 9: return x || y;
        case 6: case 10: return x && y;
        case 7: case 12: return x != y;
        default: return x && !y;
        }
    };
    for (int32_t op : {5, 6, 7, 9, 10, 11, 12})
        for (uint32_t la : {0u, 2u, 5u})
            for (uint32_t lb : {0u, 3u})
                for (int flags = 0; flags < 4; flags++) {
                    Cell a = random_set(la, flags & 1), b = random_set(lb, flags & 2);
                    Cell r;
                    bitset_combine(&a, &b, op, &r);
                    for (int32_t n = -1; n < 80; n++)
                        ASSERT_EQ(bitset_member_q(&r, n), expected(op, bitset_member_q(&a, n), bitset_member_q(&b, n)))
                            << "op " << op << " sizes " << la << "/" << lb << " flags " << flags << " bit " << n;
                }
}

TEST_F(BitsetTest, BitwiseActionsOnTheCallArguments) {
    call_with(make(C('a')), make(I(1000)));
    Cell r = *bitset_or();
    EXPECT_EQ(bitset_length_q(&r), 1000);
    EXPECT_TRUE(has(r, C('a')));
    call_with(make(C('a')), make(B({I(1000)})));
    r = *bitset_or();
    EXPECT_TRUE(has(r, B({C('a'), I(1000)})));

    // and~ ends at the shorter plain array; intersect keeps the longer one.
    call_with(make(H({0xFF})), make(H({0x0F, 0xFF})));
    r = *bitset_and();
    EXPECT_EQ(mold(r), "make bitset! #{0F}");
    call_with(make(H({0xFF})), make(H({0x0F, 0xFF})));
    r = *bitset_do_bitwise(10);
    EXPECT_EQ(mold(r), "make bitset! #{0F00}");
    // With a complemented shorter operand the longer bytes matter.
    call_with(make(B({W("not"), H({0x00})})), make(H({0x0F, 0xF0})));
    r = *bitset_and();
    EXPECT_EQ(mold(r), "make bitset! #{0FF0}");

    call_with(make(B({W("not"), C('a')})), make(B({W("not"), C('b')})));
    r = *bitset_xor();
    EXPECT_FALSE(bitset_complemented(&r));
    EXPECT_TRUE(has(r, B({C('a'), C('b')})));
    EXPECT_FALSE(has(r, B({C('c')})));

    Cell first = make(C('a'));
    call_with(first, I(1));
    EXPECT_EQ(series_node(bitset_do_bitwise(8)), series_node(&first));
    EXPECT_EQ(error_of([] { bitset_xor(); }), Err::script_invalid_type);
}

} // namespace
