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
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"
#include "value_support.h"

using namespace kem;
using kem::test::B;
using kem::test::at;
using kem::test::NONE;
using kem::test::I;
using kem::test::C;
using kem::test::S;
using kem::test::error_of;

namespace {

// A string! of UTF-8 text (narrowest unit), optionally at a position.
// The same text kept in units of `unit` bytes.
Cell SU(std::string_view text, uint32_t unit) {
    Cell c = S(text);
    widen_string_buffer(series_buffer(&c), unit);
    return c;
}
Cell typed(Cell c, uint8_t type) { set_type(&c, type); return c; }
Cell bytes(std::initializer_list<uint8_t> list) {
    Cell c;
    NodeId node = alloc_bytes(uint32_t(list.size()));
    SeriesBuffer* b = node_buffer(node);
    for (uint8_t x : list) b->head_ptr()[b->used()] = x, b->tail++;
    make_series(&c, TYPE_BINARY, node, 0);
    return c;
}
// A bitset! holding just 'c' (99: byte 12, mask 0x80 >> 3).
Cell bitset_c() { return typed(bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10}), TYPE_BITSET); }

// The text from the position, as UTF-8.
std::string utf8(const Cell& s) {
    std::string out;
    SeriesBuffer* b = series_buffer(&s);
    uint32_t unit = unit_bytes(b);
    for (uint32_t off = b->head + uint32_t(std::max(series_position(&s), 0)) * unit; off < b->tail; off += unit) {
        uint8_t seq[4];
        int n = utf8_encode_char(read_unit(b->data() + off, unit), seq);
        out.append(reinterpret_cast<char*>(seq), size_t(n));
    }
    return out;
}
std::string whole(Cell s) { return utf8(at(s, 0)); }
uint32_t unit_of(const Cell& s) { return series_buffer(&s)->unit(); }

std::string mold(Cell v, bool all = false, int32_t limit = -1) {
    return kem::test::text_within(v, true, limit, nullptr, all);
}

class StringTest : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::datatypes_up();
    }
    void TearDown() override { cycle_reset(); }
};

} // namespace

// --- storage: units and widening --------------------------------------------------------

TEST_F(StringTest, LoadingPicksTheNarrowestUnit) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"abc", 1}, {"caf\u00e9", 1}, {"\u4e2d\u6587", 2}, {"a\U0001F600b", 4}, {"", 1}};
    for (auto [text, unit] : cases) {
        Cell s = S(text);
        EXPECT_EQ(unit_of(s), unit) << text;
        EXPECT_EQ(utf8(s), text);
    }
    Cell wide = S("\u4e2d\u6587");
    EXPECT_EQ(string_full_length(&wide), 2u);
    EXPECT_EQ(string_char_at(&wide, 1), 0x6587);
}

TEST_F(StringTest, WritersWidenTheWholeBufferOnlyWhenNeeded) {
    // append-char widens a 1-byte buffer above 0x7F; the other writers keep it up to 0xFF.
    Cell s = S("");
    string_append_char(&s, 0x80);
    EXPECT_EQ(unit_of(s), 2u);
    EXPECT_EQ(string_char_at(&s, 0), 0x80);

    Cell o = S("abc");
    string_overwrite_char(series_buffer(&o), 1, 0xE9);
    string_insert_char(series_buffer(&o), 0, 0xE9);
    EXPECT_EQ(unit_of(o), 1u);
    EXPECT_EQ(whole(o), "\u00e9a\u00e9c");
    string_overwrite_char(series_buffer(&o), 4, 'z');  // at the tail: appends
    EXPECT_EQ(whole(o), "\u00e9a\u00e9cz");

    // 2 -> 4: every earlier unit converts and reads back unchanged.
    Cell w = S("\u4e2dxy");
    string_insert_char(series_buffer(&w), 1, 0x10000);
    EXPECT_EQ(unit_of(w), 4u);
    EXPECT_EQ(whole(w), "\u4e2d\U00010000xy");
    string_poke_char(series_buffer(&w), series_buffer(&w)->head_ptr() + 8, 0x1F600);
    EXPECT_EQ(whole(w), "\u4e2d\U00010000\U0001F600y");

    // copy-widen: into another buffer at the same index, or moving the series itself.
    Cell src = S("xabc");
    Cell dst;
    string_make_at(&dst, 8, 2);
    string_copy_widen(series_buffer(&src), series_buffer(&dst), 2, 0, 1, 0, false);
    EXPECT_EQ(string_full_length(&dst), 4u);
    EXPECT_EQ(utf8(at(dst, 1)), "abc");
    NodeId node = series_node(&src);
    SeriesBuffer* moved = string_copy_widen(series_buffer(&src), nullptr, 4, 64, 0, 0, false);
    EXPECT_EQ(node_buffer(node), moved);
    EXPECT_EQ(unit_of(src), 4u);
    EXPECT_GE(moved->size, 64u);
    EXPECT_EQ(whole(src), "xabc");

    // Many appends grow the buffer; only reset narrows.
    Cell g = S("");
    for (int i = 0; i < 1000; i++) string_append_char(&g, i % 2 ? 'a' : 0x3000);
    EXPECT_EQ(string_full_length(&g), 1000u);
    EXPECT_EQ(string_char_at(&g, 998), 0x3000);
    string_reset(&g);
    EXPECT_EQ(unit_of(g), 1u);
    EXPECT_EQ(string_full_length(&g), 0u);
}

TEST_F(StringTest, PositionsAndRemoval) {
    Cell s = S("abcdef", 9);
    EXPECT_EQ(string_rs_length(&s), 0);
    EXPECT_TRUE(string_rs_tail_q(&s));
    EXPECT_EQ(string_rs_head(&s), string_rs_tail(&s));
    EXPECT_EQ(series_position(&s), 6);  // clamped by rs-head

    Cell t = S("abcabc", 1);
    EXPECT_EQ(string_find_char(&t, 'a'), 2);
    EXPECT_EQ(string_find_char(&t, 'A'), -1);
    string_remove_units(&t, 1, 2);
    EXPECT_EQ(whole(t), "aabc");
    string_remove_units(&t, 3, 10);  // cut to what is there
    EXPECT_EQ(whole(t), "aab");
    string_remove_units(&t, 7, 1);   // past the tail: nothing
    EXPECT_EQ(whole(t), "aab");
}

TEST_F(StringTest, HexadecimalText) {
    EXPECT_STREQ(string_int_to_hex(30, true), "1E");
    EXPECT_STREQ(string_int_to_hex(0, true), "00");
    EXPECT_STREQ(string_int_to_hex(0x3000, true), "3000");
    EXPECT_STREQ(string_int_to_hex(-1, false), "FFFFFFFF");
    EXPECT_STREQ(string_int_to_hex(255, false), "000000FF");
    EXPECT_STREQ(string_int_to_hex(-2, false), "FFFFFFFE");
    EXPECT_STREQ(string_byte_to_hex(0xA7), "A7");
    bool error = true;
    EXPECT_DOUBLE_EQ(string_to_float("12.5e1", 6, &error), 125.0);
    EXPECT_FALSE(error);
    string_to_float("12x", 3, &error);
    EXPECT_TRUE(error);
}

// --- appending text and concatenation -------------------------------------------------------

TEST_F(StringTest, ConcatenationModesAndUnits) {
    Cell t = S("abc", 1);
    Cell wide = S("\u4e2d!");
    string_concat_into(&t, &wide, -1, 1, true, CONCAT_INSERT);
    EXPECT_EQ(whole(t), "ab\u4e2d!c");
    EXPECT_EQ(unit_of(t), 2u);

    Cell o = S("abcdef", 1);
    Cell xy = S("XY");
    string_overwrite(&o, &xy, -1, 4, true);  // runs past the tail
    EXPECT_EQ(whole(o), "abcdeXY");

    // A narrower source widens in place unless kept; its text stays the same.
    Cell target = S("\u4e2d");
    Cell narrow = S("hi");
    string_concat_into(&target, &narrow, 1, 0, false, CONCAT_APPEND);
    EXPECT_EQ(whole(target), "\u4e2dh");
    EXPECT_EQ(unit_of(narrow), 2u);
    EXPECT_EQ(whole(narrow), "hi");

    // A binary! source is bytes, never widened.
    Cell bin = bytes({0x41, 0xE9});
    string_concat_into(&target, &bin, -1, 0, false, CONCAT_APPEND);
    EXPECT_EQ(whole(target), "\u4e2dhA\u00e9");
    EXPECT_EQ(series_buffer(&bin)->unit(), 1u);
    EXPECT_EQ(series_buffer(&bin)->used(), 2u);

    Cell before = S("keep");
    string_append_c_string(&before, "");
    EXPECT_EQ(whole(before), "keep");
    string_append_c_string(&before, "\xE9!");
    EXPECT_EQ(whole(before), "keep\u00e9!");
}

TEST_F(StringTest, ConcatenatingAStringIntoItself) {
    // The source reads as it was before the gap opened, wherever it lies
    // against the gap: after it, across it, before it.
    struct Case { int32_t target_at, source_at, part; ConcatMode mode; const char* expected; };
    const Case cases[] = {
        {0, 1, 2, CONCAT_INSERT, "bcabcdef"},
        {0, 1, -1, CONCAT_INSERT, "bcdefabcdef"},
        {3, 1, -1, CONCAT_INSERT, "abcbcdefdef"},
        {4, 0, 2, CONCAT_INSERT, "abcdabef"},
        {3, 3, -1, CONCAT_INSERT, "abcdefdef"},
        {0, 2, -1, CONCAT_APPEND, "abcdefcdef"},
        {1, 2, -1, CONCAT_OVERWRITE, "acdeff"},
        {2, 0, -1, CONCAT_OVERWRITE, "ababcdef"},
    };
    for (const Case& c : cases) {
        Cell h = S("abcdef", 0);
        Cell target = at(h, c.target_at);
        Cell source = at(h, c.source_at);
        string_concat_into(&target, &source, c.part, 0, true, c.mode);
        EXPECT_EQ(whole(h), c.expected) << c.target_at << " " << c.source_at << " " << int(c.mode);
    }

    Cell m = S("abcd", 1);
    Cell other = S("xyz", 0);
    string_move_chars(&other, &m, 2);
    EXPECT_EQ(whole(m), "axybcd");
    EXPECT_EQ(whole(other), "z");
    Cell self = S("abcdef", 0);
    Cell to = at(self, 4);
    string_move_chars(&self, &to, 2);
    EXPECT_EQ(whole(self), "cdabef");
}

TEST_F(StringTest, SwapBlocksThroughTheScratchBlock) {
    // Blocks above 64 KB take a temporary scratch block; order inside each block stays.
    for (uint32_t a : {3u, 70000u}) {
        for (uint32_t b : {2u, 70001u}) {
            std::vector<uint8_t> blk_a(a), blk_b(b);
            for (uint32_t i = 0; i < a; i++) blk_a[i] = uint8_t('a' + i % 26);
            for (uint32_t i = 0; i < b; i++) blk_b[i] = uint8_t('A' + i % 7);
            std::vector<uint8_t> mem(blk_a);
            mem.push_back('-');
            mem.insert(mem.end(), blk_b.begin(), blk_b.end());
            string_swap_blocks(mem.data(), a, mem.data() + a + 1, b);
            EXPECT_TRUE(std::equal(blk_b.begin(), blk_b.end(), mem.begin())) << a << " " << b;
            EXPECT_TRUE(std::equal(blk_a.begin(), blk_a.end(), mem.begin() + b + 1)) << a << " " << b;
        }
    }
}

// --- loading --------------------------------------------------------------------------------

TEST_F(StringTest, LoadingAndStrictDecoding) {
    const uint8_t utf16[] = {'h', 0, 0x3D, 0xD8, 0x00, 0xDE};  // "h" U+1F600
    Cell* s = string_load_at(utf16, 3, nullptr, -1);
    EXPECT_EQ(utf8(*s), "h\U0001F600");

    const uint8_t good[] = {'a', 0xC3, 0xA9};
    EXPECT_EQ(utf8(*string_decode_utf8(good, 3)), "a\u00e9");

    // The error carries the bytes from the first bad sequence to the end, a
    // sequence cut off by the end included.
    const uint8_t bad[] = {'a', 'b', 0xC3, 'x', 'y'};
    const uint8_t cut[] = {'a', 0xE2, 0x82};
    for (auto [data, size, rest] : {std::tuple{bad, 5u, 3u}, std::tuple{cut, 3u, 2u}}) {
        try {
            string_decode_utf8(data, size);
            ADD_FAILURE() << "no error";
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::access_invalid_utf8);
            ASSERT_EQ(type_of(&e.args[0]), TYPE_BINARY);
            SeriesBuffer* b = series_buffer(&e.args[0]);
            ASSERT_EQ(b->used(), rest);
            EXPECT_EQ(b->head_ptr()[0], data[size - rest]);
        }
    }
}

TEST_F(StringTest, UnknownEncodingStopsTheProcessAsAFailure) {
    const uint8_t text[] = {'a'};
    EXPECT_EXIT(string_load_at(text, 1, nullptr, 2), ::testing::ExitedWithCode(1), "");
}

// --- comparison and matching ------------------------------------------------------------------

TEST_F(StringTest, CompareSeries) {
    struct Case {
        const char* what;
        Cell a, b;
        CompareOp op;
        bool match;
        int32_t want;
    };
    Cell same = S("xyz", 1);
    Cell slice = S("abcdef");
    set_type(&slice, TYPE_LOOKUP_SLICE);
    slice.data3 = 3;
    // A symbol! outside the symbol table: its name as UTF-8 in payload word 3.
    Cell name = typed(bytes({'A', 'b', 'C'}), TYPE_BINARY);
    Cell symbol{TYPE_SYMBOL, 0xFFFFFFFF, 0, series_node(&name)};
    const Case cases[] = {
        {"order", S("abc"), S("abd"), CompareOp::lesser, false, -1},
        {"shorter is lesser", S("ab"), S("abc"), CompareOp::lesser, false, -1},
        {"shorter differs for equal", S("ab"), S("abc"), CompareOp::equal, false, 1},
        {"longer is greater", S("abc"), S("ab"), CompareOp::greater, false, 1},
        {"case folded for equal", S("ABC"), S("abc"), CompareOp::equal, false, 0},
        {"not for strict-equal", S("ABC"), S("abc"), CompareOp::strict_equal, false, -1},
        {"folding beyond ASCII", S("\u00c9T\u00c9"), SU("\u00e9t\u00e9", 4), CompareOp::equal, false, 0},
        {"mixed units order", SU("b", 4), S("\u4e2d"), CompareOp::lesser, false, -1},
        {"both empty", S(""), S(""), CompareOp::lesser, false, 0},
        {"same series at once", same, same, CompareOp::strict_equal, false, 0},
        {"same? of a copy", S("xyz", 1), S("xyz", 1), CompareOp::same, false, -1},
        {"slice counts", S("ABC"), slice, CompareOp::equal, false, 0},
        {"symbol is its name", symbol, S("abc"), CompareOp::equal, false, 0},
        {"symbol, ordered", S("abd"), symbol, CompareOp::greater, false, 1},
        {"match prefix", S("abcdef"), S("abc"), CompareOp::equal, true, 0},
        {"match too short", S("ab"), S("abc"), CompareOp::equal, true, 1},
        {"match empty pattern", S("ab"), S(""), CompareOp::equal, true, 0},
        {"match empty pattern, find", S("ab"), S(""), CompareOp::find, true, 1},
        {"match differs", S("abd"), S("abc"), CompareOp::equal, true, 1},
    };
    for (Case c : cases) EXPECT_EQ(string_compare_series(&c.a, &c.b, c.op, c.match), c.want) << c.what;

    // The compare action: other types cannot be compared, other string kinds only for equality.
    Cell s = S("a"), file = typed(S("a"), TYPE_FILE), one = I(1);
    EXPECT_EQ(string_compare(&s, &one, CompareOp::equal), -2);
    EXPECT_EQ(string_compare(&s, &file, CompareOp::equal), 0);
    EXPECT_EQ(string_compare(&s, &file, CompareOp::lesser), -2);
    EXPECT_TRUE(compare_outcome(&s, &s, CompareOp::equal));
}

TEST_F(StringTest, PrefixAndMembershipTests) {
    Cell s = S("<b>bold", 0);
    Cell tag = typed(S("b"), TYPE_TAG), a = C('<'), word_b = S("<B"), xyz = S("xyz");
    EXPECT_TRUE(string_match_q(&s, &tag, CompareOp::equal));
    EXPECT_TRUE(string_match_q(&s, &a, CompareOp::equal));
    EXPECT_TRUE(string_match_q(&s, &word_b, CompareOp::equal));
    EXPECT_FALSE(string_match_q(&s, &word_b, CompareOp::strict_equal));
    EXPECT_FALSE(string_match_q(&s, &xyz, CompareOp::equal));
    EXPECT_TRUE(string_tag_delimited_q(&s, 1));
    EXPECT_FALSE(string_tag_delimited_q(&s, 2));

    Cell url = S("http://x");
    EXPECT_TRUE(string_starts_with_cstring_q(&url, "http"));
    EXPECT_FALSE(string_starts_with_cstring_q(&url, "http://xy"));
    Cell wide = S("\u4e2dx");
    EXPECT_FALSE(string_starts_with_cstring_q(&wide, "x"));

    Cell records = S("aXbYcZ");
    EXPECT_TRUE(string_find_record_char(&records, 'B', 2, false));
    EXPECT_FALSE(string_find_record_char(&records, 'B', 2, true));
    EXPECT_FALSE(string_find_record_char(&records, 'X', 2, false));

    // Bits are most significant first; beyond the array the complement decides.
    Cell bits = bitset_c();
    Cell c = S("c"), d = S("d"), wide_c = S("\u4e2d");
    EXPECT_TRUE(string_bitset_match(&c, &bits));
    EXPECT_FALSE(string_bitset_match(&d, &bits));
    EXPECT_FALSE(string_bitset_match(&wide_c, &bits));
    series_buffer(&bits)->flags |= SERIES_COMPLEMENT;
    EXPECT_TRUE(string_bitset_match(&wide_c, &bits));
}

// --- form and mold ----------------------------------------------------------------------------

TEST_F(StringTest, MoldEscapesAndDelimiters) {
    struct Case { std::string text; bool all; std::string molded; };
    std::string a49(49, 'a'), a50(50, 'a');
    const Case cases[] = {
        {"abc", false, "\"abc\""},
        {"", false, "\"\""},
        {a49, false, "\"" + a49 + "\""},
        {a50, false, "{" + a50 + "}"},
        {"a\"b", false, "{a\"b}"},
        {"a\nb\nc", false, "\"a^/b^/c\""},
        {"a\nb\nc\nd", false, "{a^/b^/c^/d}"},
        {"\t", false, "\"^-\""},
        {"\x1e", false, "\"^(1E)\""},
        {"\x7f", false, "\"^~\""},
        {"\u0085", false, "\"^(85)\""},
        {"\u00e9", false, "\"\u00e9\""},
        {"\u00e9", true, "\"^(E9)\""},
        {"\u3000", true, "\"^(3000)\""},
        {"\U0001F600", true, "\"^(1F600)\""},
        {std::string("\0\x1b\x1c\x1d\x1f\x01\x1a", 7), false, "\"^@^[^\\^]^_^A^Z\""},
        {"a^b", false, "\"a^^b\""},
        {"\"^", false, "{\"^^}"},
        {"\"a{b", false, "{\"a^{b}"},
        {"\"}", false, "{\"^}}"},
        {"\"{x}", false, "{\"{x}}"},
        {"\"{{}", false, "{\"^{^{^}}"},
        {"\"{}{", false, "{\"{}^{}"},
        {"\"\n", false, "{\"^/}"},
    };
    for (const Case& c : cases) EXPECT_EQ(mold(S(c.text), c.all), c.molded) << c.text;
}

TEST_F(StringTest, MoldAndFormRangesAndBudget) {
    Cell s = S("abcdef", 2);
    EXPECT_EQ(mold(s), "\"cdef\"");
    Cell buf;
    string_make_at(&buf, 4);
    Cell limit = I(2);
    EXPECT_EQ(string_mold(&s, &buf, MoldArgs{.limit = &limit}, 2, 0), -2);
    EXPECT_EQ(whole(buf), "\"cd\"");
    Cell neg = I(-3);
    string_reset(&buf);
    string_mold(&s, &buf, MoldArgs{.limit = &neg}, -3, 0);
    EXPECT_EQ(whole(buf), "\"\"");

    string_reset(&buf);
    EXPECT_EQ(string_form(&s, &buf, nullptr, 100), 96);
    EXPECT_EQ(whole(buf), "cdef");
    string_reset(&buf);
    EXPECT_EQ(string_form(&s, &buf, &limit, 2), -2);
    EXPECT_EQ(whole(buf), "cd");

    // A string molded into its own buffer reads its old text.
    Cell self = S("ab");
    string_mold(&self, &self, MoldArgs{}, INT32_MAX, 0);
    EXPECT_EQ(whole(self), "ab\"ab\"");
}

// --- make, to, path access ---------------------------------------------------------------------

TEST_F(StringTest, MakeAndTo) {
    Cell dt{TYPE_DATATYPE, TYPE_STRING, 0, 0};
    Cell ten = I(10), neg = I(-1), none = NONE;
    Cell* made = make_direct(&dt, &ten);
    EXPECT_EQ(type_of(made), TYPE_STRING);
    EXPECT_EQ(string_full_length(made), 0u);
    EXPECT_EQ(error_of([&] { make_direct(&dt, &neg); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { to_direct(&dt, &none); }), Err::script_bad_to_arg);

    struct Case { const char* what; Cell spec; uint8_t type; const char* text; };
    const Case cases[] = {
        {"block forms each element, nothing between", B({I(1), S("ab"), C('c')}), TYPE_STRING, "1abc"},
        {"string copies from the position", S("hello", 2), TYPE_STRING, "llo"},
        {"integer is formed", I(42), TYPE_STRING, "42"},
        {"char", C(0x4e2d), TYPE_STRING, "\u4e2d"},
        {"binary decodes UTF-8", bytes({'a', 0xC3, 0xA9}), TYPE_STRING, "a\u00e9"},
        {"target kind", S("x"), TYPE_FILE, "x"},
    };
    for (Case c : cases) {
        Cell target{TYPE_DATATYPE, c.type, 0, 0};
        Cell* r = to_direct(&target, &c.spec);
        EXPECT_EQ(type_of(r), c.type) << c.what;
        EXPECT_EQ(utf8(*r), c.text) << c.what;
    }
    Cell copied = S("abc");
    Cell* copy = to_direct(&dt, &copied);
    EXPECT_NE(series_node(copy), series_node(&copied));

    Cell bad = bytes({0xFF});
    EXPECT_EQ(error_of([&] { to_direct(&dt, &bad); }), Err::access_invalid_utf8);
    Cell bin_dt{TYPE_DATATYPE, TYPE_BINARY, 0, 0}, money{TYPE_MONEY, 0, 0, 0};
    EXPECT_EQ(error_of([&] { make_direct(&bin_dt, &money); }), Err::script_bad_make_arg);
}

TEST_F(StringTest, PathAccess) {
    auto path = [](Cell& s, Cell element, Cell* value) {
        return string_eval_path(&s, &element, value, PathStep{.index = -1, .get = !value, .last = true});
    };
    Cell s = S("abcd");
    EXPECT_EQ(cell_int(path(s, I(2), nullptr)), 'b');
    Cell z = C('Z');
    path(s, I(2), &z);
    EXPECT_EQ(whole(s), "aZcd");
    EXPECT_EQ(error_of([&] { path(s, Cell{TYPE_WORD, 0, 1, 0}, nullptr); }), Err::script_invalid_path);
    // get selects what follows the match, and set writes exactly there, even
    // after a pattern longer than one code point.
    EXPECT_EQ(cell_int(path(s, S("zC"), nullptr)), 'd');
    Cell x = C('x');
    path(s, S("Zc"), &x);
    EXPECT_EQ(whole(s), "aZcx");
    EXPECT_EQ(error_of([&] { path(s, S("q"), &x); }), Err::script_bad_path_set);
}

// --- find and select ---------------------------------------------------------------------------

TEST_F(StringTest, FindWithRefinements) {
    constexpr int32_t NO = INT32_MIN;
    struct Case {
        const char* what;
        Cell series;
        Cell value;
        const char* flags;  // c case, l last, r reverse, t tail, m match
        int32_t part, skip;
        int32_t want;       // position of the result, -1 for none
    };
    Cell hello = S("Hello");
    Cell abc2 = S("abcabc");
    Cell bits = bitset_c();
    const Case cases[] = {
        {"first l", hello, C('l'), "", NO, NO, 2},
        {"last l", hello, C('l'), "l", NO, NO, 3},
        {"case: no uppercase L", hello, C('L'), "c", NO, NO, -1},
        {"folded L", hello, C('L'), "", NO, NO, 2},
        {"folded h", hello, C('h'), "", NO, NO, 0},
        {"pattern", abc2, S("bc"), "", NO, NO, 1},
        {"pattern, last", abc2, S("BC"), "l", NO, NO, 4},
        {"pattern, tail", abc2, S("bc"), "t", NO, NO, 3},
        {"char, tail", abc2, C('b'), "t", NO, NO, 2},
        {"reverse from the tail", at(abc2, 6), S("bc"), "r", NO, NO, 4},
        {"reverse before the position", at(abc2, 3), C('c'), "r", NO, NO, 2},
        {"reverse, part", at(abc2, 6), C('a'), "r", 2, NO, -1},
        {"part too short for the pattern", abc2, S("bc"), "", 2, NO, -1},
        {"part holds the pattern", abc2, S("bc"), "", 3, NO, 1},
        {"part below 1", abc2, C('a'), "", 0, NO, -1},
        {"skip by records", abc2, C('c'), "", NO, 2, 2},
        {"skip misses off-record", abc2, C('b'), "", NO, 3, -1},
        {"match at the position", abc2, S("ab"), "m", NO, NO, 0},
        {"match, tail", abc2, S("ab"), "mt", NO, NO, 2},
        {"match tests one candidate", abc2, S("bc"), "m", NO, NO, -1},
        {"reverse match is none", at(abc2, 3), C('c'), "rm", NO, NO, -1},
        {"at the tail", at(abc2, 6), C('a'), "", NO, NO, -1},
        {"wide text", S("\u65e5\u672c\u8a9e"), S("\u672c"), "", NO, NO, 1},
        {"folding beyond ASCII", S("\u00c9COLE"), C(0xE9), "", NO, NO, 0},
        {"bitset", S("abcd"), bits, "", NO, NO, 2},
        {"integer searched as text", S("a12b"), I(2), "", NO, NO, 2},
        {"tag searched as its formed text", S("x<i>"), typed(S("i"), TYPE_TAG), "", NO, NO, 1},
        {"empty pattern", abc2, S(""), "", NO, NO, -1},
        {"number in a binary", bytes({1, 2, 3}), I(3), "", NO, NO, 2},
        {"bytes in a binary", bytes({1, 2, 3}), bytes({2, 3}), "", NO, NO, 1},
    };
    for (Case c : cases) {
        auto has = [&](char f) { return std::string_view(c.flags).find(f) != std::string_view::npos; };
        Cell part = I(c.part), skip = I(c.skip);
        Cell* r = string_find(&c.series, &c.value,
                              FindArgs{.part = c.part != NO ? &part : nullptr,
                                       .case_ = has('c'),
                                       .skip = c.skip != NO ? &skip : nullptr,
                                       .last = has('l'),
                                       .reverse = has('r'),
                                       .tail = has('t'),
                                       .match = has('m')});
        if (c.want < 0) {
            EXPECT_TRUE(is_type(r, TYPE_NONE)) << c.what << ": at " << series_position(r);
        } else {
            ASSERT_EQ(type_of(r), type_of(&c.series)) << c.what;
            EXPECT_EQ(series_position(r), c.want) << c.what;
        }
    }

    Cell other = S("abc"), zero = I(0);
    Cell bin = bytes({1});
    auto find = [&](Cell* value, Cell* part, Cell* skip, bool any) {
        return string_find(&abc2, value, FindArgs{.part = part, .any = any, .skip = skip});
    };
    Cell a = C('a');
    EXPECT_EQ(error_of([&] { find(&a, nullptr, &zero, false); }), Err::script_out_of_range);
    EXPECT_EQ(error_of([&] { find(&a, nullptr, nullptr, true); }), Err::internal_not_done);
    EXPECT_EQ(error_of([&] { find(&a, &other, nullptr, false); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(error_of([&] { find(&bin, nullptr, nullptr, false); }), Err::script_invalid_arg);
    Cell end = at(abc2, 2);
    EXPECT_EQ(series_position(find(&a, &end, nullptr, false)), 0);  // a position as /part
}

TEST_F(StringTest, SelectGivesWhatFollowsTheMatch) {
    struct Case { Cell series, value; bool last; int32_t want; };  // want: code point, -1 for none
    const Case cases[] = {
        {S("abc"), C('b'), false, 'c'},
        {S("abc"), C('c'), false, -1},
        {S("abcd"), S("bc"), false, 'd'},
        {S("abab"), C('A'), true, 'b'},
        {S("a\u4e2d"), C('a'), false, 0x4e2d},
    };
    for (Case c : cases) {
        Cell* r = string_select(&c.series, &c.value, SelectArgs{.last = c.last});
        EXPECT_EQ(type_of(r), c.want < 0 ? TYPE_NONE : TYPE_CHAR);
        EXPECT_EQ(c.want < 0 ? -1 : cell_int(r), c.want);
    }
    Cell bin = bytes({5, 6}), five = I(5);
    Cell* r = string_select(&bin, &five, SelectArgs{});
    EXPECT_EQ(type_of(r), TYPE_INTEGER);
    EXPECT_EQ(cell_int(r), 6);
}

// --- modification ---------------------------------------------------------------------------------

TEST_F(StringTest, AppendInsertChange) {
    enum Act { APPEND, INSERT, CHANGE };
    struct Case {
        const char* what;
        Act act;
        const char* text;
        int32_t pos;
        Cell value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* result;
        int32_t result_pos;
    };
    const Case cases[] = {
        {"append char widens", APPEND, "abc", 0, C(0xE9), -1, false, 1, "abc\u00e9", 0},
        {"append from a position", APPEND, "abc", 2, S("de"), -1, false, 1, "abcde", 0},
        {"append part", APPEND, "abc", 0, S("defg"), 2, false, 1, "abcde", 0},
        {"append dup", APPEND, "a", 0, S("xy"), -1, false, 3, "axyxyxy", 0},
        {"append block", APPEND, "", 0, B({I(1), S("x"), C('y'), B({I(2), I(3)})}), -1, false, 1, "1xy2 3", 0},
        {"append block, part counts elements", APPEND, "", 0, B({S("hello"), S("world")}), 1, false, 1, "hello", 0},
        {"append/only block, part counts code points", APPEND, "", 0, B({S("hello"), S("world")}), 7, true, 1,
         "hellowo", 0},
        {"append tag", APPEND, "", 0, typed(S("b"), TYPE_TAG), -1, false, 1, "<b>", 0},
        {"append tag, part counts the brackets", APPEND, "", 0, typed(S("bc"), TYPE_TAG), 2, false, 1, "<b", 0},
        {"append any value", APPEND, "n=", 0, I(-5), -1, false, 1, "n=-5", 0},
        {"append wide text", APPEND, "ab", 0, S("\U0001F600"), -1, false, 1, "ab\U0001F600", 0},
        {"insert at the tail is append", INSERT, "abc", 3, S("de"), -1, false, 1, "abcde", 5},
        {"insert in the middle", INSERT, "abc", 1, S("XY"), -1, false, 1, "aXYbc", 3},
        {"insert dup", INSERT, "ab", 1, C('-'), -1, false, 3, "a---b", 4},
        {"insert a formed block", INSERT, "ab", 1, B({I(1), I(2)}), -1, false, 1, "a12b", 3},
        {"insert wide into narrow", INSERT, "ab", 1, S("\u4e2d"), -1, false, 1, "a\u4e2db", 2},
        {"change as many as inserted", CHANGE, "abcdef", 1, S("XY"), -1, false, 1, "aXYdef", 3},
        {"change part", CHANGE, "abcdef", 1, S("X"), 3, false, 1, "aXef", 2},
        {"change part 0 inserts", CHANGE, "abc", 1, S("X"), 0, false, 1, "aXbc", 2},
        {"change past the end", CHANGE, "abc", 2, S("XYZ"), -1, false, 1, "abXYZ", 5},
        {"change at the tail appends", CHANGE, "abc", 3, S("de"), -1, false, 1, "abcde", 5},
        {"change dup", CHANGE, "abcdef", 0, C('x'), -1, false, 2, "xxcdef", 2},
        {"change to wide", CHANGE, "abc", 1, C(0x4e2d), -1, false, 1, "a\u4e2dc", 2},
    };
    for (const Case& c : cases) {
        Cell s = S(c.text, c.pos);
        Cell v = c.value;
        Cell* r = c.act == CHANGE ? string_change(&s, &v, c.part, c.only, c.dup)
                                  : string_append(&s, &v, c.part, c.only, c.dup, c.act == APPEND);
        EXPECT_EQ(whole(*r), c.result) << c.what;
        EXPECT_EQ(series_position(r), c.result_pos) << c.what;
    }
    Cell widened = S("abc");
    Cell e9 = C(0xE9);
    string_append(&widened, &e9, -1, false, 1, true);
    EXPECT_EQ(unit_of(widened), 2u);
}

TEST_F(StringTest, ModifyingWithItselfAndFailures) {
    Cell s = S("abc", 1);
    Cell head = at(s, 0);
    string_append(&s, &head, -1, false, 1, false);
    EXPECT_EQ(whole(s), "aabcbc");

    Cell t = S("abc");
    Cell self = t;
    string_change(&t, &self, -1, false, 2);
    EXPECT_EQ(whole(t), "abcabc");

    // A dup that cannot fit raises no-memory and leaves the text as it was.
    Cell u = S("abc");
    Cell big = S("xyz");
    EXPECT_EQ(error_of([&] { string_append(&u, &big, -1, false, 0x40000000, true); }), Err::internal_no_memory);
    EXPECT_EQ(whole(u), "abc");
    // So does a value that fails to form half way (a context! has no form):
    // the text formed before goes.
    Cell failing = B({I(1), Cell{TYPE_CONTEXT, 0, 0, 0}});
    EXPECT_TRUE(error_of([&] { string_append(&u, &failing, -1, false, 1, true); }));
    EXPECT_EQ(whole(u), "abc");
}

TEST_F(StringTest, SwapAndTake) {
    Cell a = S("abc"), b = S("\u4e2dx");
    string_swap(&a, &b);
    EXPECT_EQ(whole(a), "\u4e2dbc");
    EXPECT_EQ(whole(b), "ax");
    Cell one = I(1);
    EXPECT_EQ(error_of([&] { string_swap(&a, &one); }), Err::script_invalid_arg);
    // A binary! takes bytes only: the wide code point is refused before anything changes.
    Cell bin = bytes({0x41});
    EXPECT_EQ(error_of([&] { string_swap(&a, &bin); }), Err::script_out_of_range);
    EXPECT_EQ(whole(a), "\u4e2dbc");
    Cell c = S("cd");
    string_swap(&c, &bin);
    EXPECT_EQ(whole(c), "Ad");
    EXPECT_EQ(series_buffer(&bin)->head_ptr()[0], 'c');

    Cell t = S("abc");
    Cell* first = take_direct(&t, TakeArgs{});
    EXPECT_EQ(type_of(first), TYPE_CHAR);
    EXPECT_EQ(cell_int(first), 'a');
    Cell u = S("abc"), two = I(2);
    Cell* taken = take_direct(&u, TakeArgs{.part = &two});
    EXPECT_EQ(type_of(taken), TYPE_STRING);
    EXPECT_EQ(whole(*taken), "ab");
    EXPECT_EQ(whole(u), "c");
}

TEST_F(StringTest, Trim) {
    enum Mode { PLAIN, HEAD, TAIL, BOTH_ENDS, LINES, ALL, WITH };
    struct Case { Mode mode; std::string text, result; Cell with = NONE; int32_t pos = 0; };
    const Case cases[] = {
        {ALL, " a b ", "ab"},
        {ALL, "\ta\r\n b\u3000", "ab\u3000"},
        {LINES, "  a  b  ", "a b"},
        {LINES, "\n a\t\u3000b \n", "a b"},
        {PLAIN, "  a  b  ", "a  b"},
        {HEAD, "  a  b  ", "a  b  "},
        {TAIL, "  a  b  ", "  a  b"},
        {BOTH_ENDS, " \n a \n ", "a"},
        {PLAIN, "  a  \n\t b \u3000\n \n", "a\nb\n"},
        {PLAIN, "a \r\n b", "a \r\nb"},
        {PLAIN, "xx  a  ", "xxa", NONE, 2},
        {WITH, "a-b-c", "abc", S("-")},
        {WITH, "a-b_c", "abc", S("_-")},
        {WITH, "a-b", "ab", C('-')},
        {WITH, "a-b", "a-b", S("")},
        {WITH, "a\u4e2db", "ab", I(0x4e2d)},
    };
    for (const Case& c : cases) {
        Cell s = S(c.text, c.pos);
        Cell w = c.with;
        string_trim(&s, TrimArgs{.head = c.mode == HEAD || c.mode == BOTH_ENDS,
                                 .tail = c.mode == TAIL || c.mode == BOTH_ENDS,
                                 .lines = c.mode == LINES,
                                 .all = c.mode == ALL,
                                 .with = c.mode == WITH ? &w : nullptr});
        EXPECT_EQ(whole(s), c.result) << c.text;
    }
    Cell s = S(" a ");
    EXPECT_EQ(error_of([&] { string_trim(&s, TrimArgs{.auto_ = true}); }), Err::internal_not_done);
    Cell block = B({});
    EXPECT_EQ(error_of([&] { string_trim(&s, TrimArgs{.with = &block}); }), Err::script_invalid_arg);
    EXPECT_EQ(whole(s), " a ");
}

TEST_F(StringTest, SetOperations) {
    struct Case { int32_t op; const char *a, *b; bool case_; int32_t skip; const char* result; };
    const Case cases[] = {
        {9, "abc", "bcd", false, 0, "abcd"},  {12, "abc", "bcd", false, 0, "ad"},
        {10, "abc", "bcd", false, 0, "bc"},   {11, "abc", "bcd", false, 0, "a"},
        {8, "aAbB", "", false, 0, "ab"},      {8, "aAbB", "", true, 0, "aAbB"},
        {10, "ABC", "b", false, 0, "B"},      {8, "a1a2b3", "", false, 2, "a1b3"},
        {9, "\u4e2dx", "x\u6587", false, 0, "\u4e2dx\u6587"},
    };
    for (const Case& c : cases) {
        stack::init();
        stack::arguments = stack::top;
        Cell a = S(c.a), b = S(c.b), skip = I(c.skip);
        stack::push(&a);
        stack::push(&b);
        Cell* r = string_do_set_op(c.case_, c.skip ? &skip : nullptr, c.op);
        EXPECT_EQ(type_of(r), TYPE_STRING);
        EXPECT_EQ(whole(*r), c.result) << c.op << " " << c.a << " " << c.b;
    }
    stack::arguments = stack::top;
    Cell a = typed(S("aa"), TYPE_FILE), zero = I(0);
    stack::push(&a);
    EXPECT_EQ(error_of([&] { string_do_set_op(false, &zero, 8); }), Err::script_invalid_refine_arg);
    EXPECT_EQ(type_of(string_do_set_op(false, nullptr, 8)), TYPE_FILE);
}

// --- case change -------------------------------------------------------------------------------------

TEST_F(StringTest, CaseChangeOfCharsNeverTouchesOwnership) {
    // A char! has no series: its code point must never be read as a node. The
    // highest code points lie far beyond any node frame in use.
    Cell part_word = NONE;
    struct Case { int32_t cp; bool upper; int32_t want; } cases[] = {
        {'a', true, 'A'}, {0x1E922, true, 0x1E900}, {0x10FFFF, false, 0x10FFFF}, {0x10428, true, 0x10400}};
    for (const Case& c : cases) {
        Cell ch = C(c.cp);
        Cell* r = string_change_case(&ch, nullptr, c.upper, part_word);
        EXPECT_EQ(type_of(r), TYPE_CHAR);
        EXPECT_EQ(cell_int(r), c.want);
    }
    Cell s = S("abc"), two = I(2);
    string_change_case(&s, &two, true, part_word);
    EXPECT_EQ(whole(s), "ABc");
    Cell y = S("\u00ff");
    string_change_case(&y, nullptr, true, part_word);
    EXPECT_EQ(whole(y), "\u0178");
    Cell one = I(1);
    EXPECT_EQ(error_of([&] { string_change_case(&one, nullptr, true, part_word); }), Err::script_invalid_arg);
}

// --- the row -----------------------------------------------------------------------------------------

TEST_F(StringTest, RowAndInheritance) {
    EXPECT_EQ(action_entry_as<ACT_FIND>(TYPE_STRING), &string_find);
    EXPECT_EQ(action_entry_as<ACT_INSERT>(TYPE_STRING), &string_append);
    EXPECT_NE(action_entry(TYPE_STRING, ACT_NEXT), nullptr);   // from series!
    EXPECT_NE(action_entry(TYPE_STRING, ACT_TAKE), nullptr);
    EXPECT_EQ(action_entry(TYPE_STRING, ACT_PUT), nullptr);
    EXPECT_EQ(action_entry(TYPE_STRING, ACT_READ), nullptr);
}
