#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

using namespace kem;

namespace {

using Bytes = std::vector<uint8_t>;
using Points = std::vector<int32_t>;

Bytes hex_bytes(const std::string& hex) {
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

class Unicode : public ::testing::Test {
protected:
    void SetUp() override { memory_init(); }

    static Cell make_string(const Points& cps, uint32_t unit, uint32_t index = 0) {
        NodeId n = alloc_string_buffer(uint32_t(cps.size()), unit);
        SeriesBuffer* b = node_buffer(n);
        for (size_t i = 0; i < cps.size(); i++) write_unit(b->head_ptr() + i * unit, unit, cps[i]);
        b->tail = b->head + uint32_t(cps.size()) * unit;
        Cell c;
        make_series(&c, TYPE_STRING, n, index);
        return c;
    }
    static Points points_of(NodeId n) {
        SeriesBuffer* b = node_buffer(n);
        Points out;
        for (uint32_t i = 0; i < b->used() / b->unit(); i++) out.push_back(read_unit(b->head_ptr() + i * b->unit(), b->unit()));
        return out;
    }
    static Bytes binary_of(const Cell& c) {
        if (!is_type(&c, TYPE_BINARY)) return {};
        SeriesBuffer* b = node_buffer(series_node(&c));
        return Bytes(b->head_ptr(), b->tail_ptr());
    }
    // Runs f, which must raise e; returns the error's first argument.
    template <class F>
    static Cell expect_error(Err e, F f) {
        try {
            f();
        } catch (const KemError& err) {
            EXPECT_EQ(err.id, e);
            return err.args[0];
        }
        ADD_FAILURE() << "no error raised";
        return Cell{};
    }
};

// --- The automaton -----------------------------------------------------------

TEST_F(Unicode, DfaClassesAndStartRow) {
    struct { int first, last, cls; } ranges[] = {
        {0x00, 0x7F, 0}, {0x80, 0x8F, 1}, {0x90, 0x9F, 9}, {0xA0, 0xBF, 7}, {0xC0, 0xC1, 8},
        {0xC2, 0xDF, 2}, {0xE0, 0xE0, 10}, {0xE1, 0xEC, 3}, {0xED, 0xED, 4}, {0xEE, 0xEF, 3},
        {0xF0, 0xF0, 11}, {0xF1, 0xF3, 6}, {0xF4, 0xF4, 5}, {0xF5, 0xFF, 8},
    };
    for (auto& r : ranges)
        for (int b = r.first; b <= r.last; b++) EXPECT_EQ(unicode::utf8_dfa[b], r.cls) << std::hex << b;
    const int start_row[12] = {0, 12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72};
    for (int i = 0; i < 12; i++) EXPECT_EQ(unicode::utf8_dfa[256 + i], start_row[i]);
    for (int i = 12; i < 24; i++) EXPECT_EQ(unicode::utf8_dfa[256 + i], 12) << "reject is final";
}

// --- Oracle: Python's strict codec -------------------------------------------

struct Utf8Case {
    Bytes bytes;
    std::string kind;  // ok, bad, cut
    Points points;     // ok
    size_t offset = 0; // bad, cut
};

std::vector<Utf8Case> load_utf8_cases() {
    auto path = std::filesystem::path(__FILE__).parent_path() / "data" / "unicode_utf8_cases.txt";
    std::ifstream in(path);
    std::vector<Utf8Case> cases;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string hex, word;
        Utf8Case c;
        ls >> hex >> c.kind;
        if (hex != "-") c.bytes = hex_bytes(hex);
        if (c.kind == "ok") {
            while (ls >> word)
                if (word != "-") c.points.push_back(int32_t(std::stoul(word, nullptr, 16)));
        } else {
            ls >> c.offset;
        }
        cases.push_back(c);
    }
    return cases;
}

TEST_F(Unicode, DecodersAgreeWithPythonStrictCodec) {
    auto cases = load_utf8_cases();
    ASSERT_EQ(cases.size(), 3000u);
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.bytes));
        const uint8_t* data = c.bytes.data();
        const uint8_t* end = data + c.bytes.size();

        // The non-raising core, sequence by sequence.
        Points got;
        std::string kind = "ok";
        size_t at = 0;
        while (at < c.bytes.size()) {
            int32_t cp;
            int n = unicode::check_utf8_char(data + at, c.bytes.size() - at, &cp);
            if (n <= 0) {
                kind = n == 0 ? "cut" : "bad";
                break;
            }
            got.push_back(cp);
            at += size_t(n);
        }
        EXPECT_EQ(kind, c.kind);
        if (c.kind == "ok") {
            EXPECT_EQ(got, c.points);
        } else {
            EXPECT_EQ(at, c.offset);
        }

        // The table-driven decoder: valid exactly when Python says so.
        Points fast;
        bool fast_ok = true;
        for (const uint8_t* p = data; p < end;) {
            int32_t cp;
            p = unicode::fast_decode_utf8_char(p, end, &cp);
            fast_ok &= cp >= 0;
            fast.push_back(cp);
        }
        EXPECT_EQ(fast_ok, c.kind == "ok");
        EXPECT_EQ(utf8_count_chars(data, end), fast.size());
        if (c.kind == "ok") {
            EXPECT_EQ(fast, c.points);
        }

        // Loading text: a leading byte order mark is dropped, a cut-off end is
        // handed back, an invalid sequence raises with its bytes.
        Points expected = c.points;
        bool bom = c.bytes.size() >= 3 && c.bytes[0] == 0xEF && c.bytes[1] == 0xBB && c.bytes[2] == 0xBF;
        if (bom && !expected.empty()) expected.erase(expected.begin());
        uint32_t remaining = 99;
        if (c.kind == "bad") {
            Cell arg = expect_error(Err::access_invalid_utf8, [&] {
                load_text(data, uint32_t(c.bytes.size()), 0, &remaining, false);
            });
            Bytes want(data + c.offset, data + std::min(c.bytes.size(), c.offset + 4));
            EXPECT_EQ(binary_of(arg), want);
        } else {
            NodeId n = load_text(data, uint32_t(c.bytes.size()), 0, &remaining, false);
            EXPECT_EQ(remaining, c.kind == "ok" ? 0u : c.bytes.size() - c.offset);
            if (c.kind == "ok") {
                EXPECT_EQ(points_of(n), expected);
            }
        }
    }
}

// --- Encoding ----------------------------------------------------------------

TEST_F(Unicode, EveryCodePointEncodesAndDecodesBack) {
    uint8_t buf[4];
    for (int32_t cp = 0; cp <= 0x10FFFF; cp++) {
        int n = utf8_encode_char(cp, buf);
        ASSERT_EQ(n, utf8_char_length(cp)) << cp;
        int32_t back = -2;
        int m = unicode::check_utf8_char(buf, size_t(n), &back);
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            // Surrogates encode like any code point, but are not valid UTF-8.
            ASSERT_EQ(m, -1) << cp;
            ASSERT_EQ(buf[0], 0xED);
        } else {
            ASSERT_EQ(m, n) << cp;
            ASSERT_EQ(back, cp);
        }
    }
    EXPECT_EQ(utf8_char_length(0x7F), 1);
    EXPECT_EQ(utf8_char_length(0x80), 2);
    EXPECT_EQ(utf8_char_length(0x7FF), 2);
    EXPECT_EQ(utf8_char_length(0x800), 3);
    EXPECT_EQ(utf8_char_length(0x10000), 4);
}

TEST_F(Unicode, CodePointsBeyondUnicodeAreInvalidChars) {
    uint8_t buf[4];
    for (int32_t cp : {0x110000, 0x7FFFFFFF, -1}) {
        Cell arg = expect_error(Err::script_invalid_char, [&] { utf8_encode_char(cp, buf); });
        EXPECT_TRUE(is_type(&arg, TYPE_INTEGER));
        EXPECT_EQ(cell_int(&arg), cp);
        expect_error(Err::script_invalid_char, [&] { utf8_char_length(cp); });
        expect_error(Err::script_invalid_char, [&] { utf8_encode_char_limited(cp, buf, 4); });
        uint8_t unit4[8] = {'a', 0, 0, 0};
        std::memcpy(unit4 + 4, &cp, 4);
        expect_error(Err::script_invalid_char, [&] { utf8_count_bytes(unit4, unit4 + 8, 4); });
        char16_t w[2];
        EXPECT_EQ(utf16_encode_char(cp, w), 0);
    }
}

TEST_F(Unicode, LimitedEncodingAndCounts) {
    struct { int32_t cp; int32_t room; Bytes want; } cases[] = {
        {0x20AC, 2, {0xE2, 0x82}}, {0x20AC, 3, {0xE2, 0x82, 0xAC}}, {0x20AC, 9, {0xE2, 0x82, 0xAC}},
        {0x20AC, 0, {}}, {'A', -3, {}}, {0x1F600, 1, {0xF0}},
    };
    for (auto& c : cases) {
        uint8_t buf[8] = {};
        int n = utf8_encode_char_limited(c.cp, buf, c.room);
        EXPECT_EQ(Bytes(buf, buf + n), c.want) << c.cp << " room " << c.room;
    }
    const uint8_t latin[] = {'a', 0xE9, 0x0A};
    EXPECT_EQ(utf8_count_bytes(latin, latin + 3, 1), 4u);
    const uint16_t ucs2[] = {'a', 0x3A9, 0x20AC};
    auto* u2 = reinterpret_cast<const uint8_t*>(ucs2);
    EXPECT_EQ(utf8_count_bytes(u2, u2 + 6, 2), 6u);
    const int32_t ucs4[] = {0x1F600, 'z'};
    auto* u4 = reinterpret_cast<const uint8_t*>(ucs4);
    EXPECT_EQ(utf8_count_bytes(u4, u4 + 8, 4), 5u);

    struct { uint8_t lead; int n; } leads[] = {{0x41, 0}, {0x80, 0}, {0xC3, 2}, {0xE2, 3}, {0xF0, 4}, {0xFF, 4}};
    for (auto& l : leads) EXPECT_EQ(utf8_lead_length(l.lead), l.n) << int(l.lead);

    struct { int32_t cp; std::u16string want; } wide[] = {
        {'A', u"A"}, {0xFFFF, u"\uFFFF"}, {0x10000, {0xD800, 0xDC00}}, {0x10FFFF, {0xDBFF, 0xDFFF}},
    };
    for (auto& w : wide) {
        char16_t buf[2];
        int n = utf16_encode_char(w.cp, buf);
        EXPECT_EQ(std::u16string(buf, buf + n), w.want);
    }
}

// --- Decoders on broken input ------------------------------------------------

TEST_F(Unicode, FastDecoderConsumesBrokenSequencesAsSpecified) {
    struct { Bytes in; int32_t cp; size_t taken; } cases[] = {
        {{0xC3}, -1, 1},                    // lead byte cut by the end: no read past it
        {{0xF0, 0x9F}, -1, 2},
        {{0xC3, 0x41}, -1, 2},              // the byte that broke the sequence goes with it
        {{0x80, 0x41}, -1, 1},              // stray continuation byte
        {{0xC0, 0xAF}, -1, 1},              // overlong lead is rejected at once
        {{0xED, 0xA0, 0x80}, -1, 2},        // surrogate
        {{0xE2, 0x82, 0xAC, 0x41}, 0x20AC, 3},
        {{0xF4, 0x8F, 0xBF, 0xBF}, 0x10FFFF, 4},
    };
    for (auto& c : cases) {
        int32_t cp = 0;
        const uint8_t* after = unicode::fast_decode_utf8_char(c.in.data(), c.in.data() + c.in.size(), &cp);
        EXPECT_EQ(cp, c.cp) << ::testing::PrintToString(c.in);
        EXPECT_EQ(size_t(after - c.in.data()), c.taken) << ::testing::PrintToString(c.in);
    }
    Bytes text = {'a', 0xE2, 0x82, 0xAC, 0x80, 'b', 0xF0, 0x9F, 0x98, 0x80};
    const uint8_t* s = text.data();
    const uint8_t* e = s + text.size();
    EXPECT_EQ(utf8_count_chars(s, e), 5u);
    EXPECT_EQ(utf8_skip(s, e, 2) - s, 4);
    EXPECT_EQ(utf8_skip(s, e, 4) - s, 6);
    EXPECT_EQ(utf8_skip(s, e, 100), e);
    EXPECT_EQ(utf8_skip(s, e, 0), s);
}

TEST_F(Unicode, CheckingDecoderRaisesOnlyForInvalidSequences) {
    Bytes cut = {0xC3};
    uint32_t avail = 1;
    EXPECT_EQ(unicode::decode_utf8_char(cut.data(), &avail), -1);
    Bytes euro = {0xE2, 0x82, 0xAC, 'x'};
    avail = 4;
    EXPECT_EQ(unicode::decode_utf8_char(euro.data(), &avail), 0x20AC);
    EXPECT_EQ(avail, 3u);

    // Overlong forms and surrogates are invalid; the argument holds the bytes at
    // the sequence, never more than were available.
    struct { Bytes in; Bytes arg; } bad[] = {
        {{0xC0, 0xAF}, {0xC0, 0xAF}},
        {{0xE0, 0x80, 0xAF, 'a', 'b'}, {0xE0, 0x80, 0xAF, 'a'}},
        {{0xED, 0xA0, 0x80}, {0xED, 0xA0, 0x80}},
        {{0xED, 0xB2, 0x80}, {0xED, 0xB2, 0x80}},
        {{0xF4, 0x90, 0x80, 0x80}, {0xF4, 0x90, 0x80, 0x80}},
        {{0xE2, 'A'}, {0xE2, 'A'}},  // cut short, but already broken
        {{0xBF}, {0xBF}},
    };
    for (auto& b : bad) {
        uint32_t n = uint32_t(b.in.size());
        Cell arg = expect_error(Err::access_invalid_utf8, [&] { unicode::decode_utf8_char(b.in.data(), &n); });
        EXPECT_TRUE(is_type(&arg, TYPE_BINARY));
        EXPECT_EQ(binary_of(arg), b.arg);
    }
}

// --- Loading UTF-8 -----------------------------------------------------------

TEST_F(Unicode, LoadTextEdgeCases) {
    struct { Bytes in; bool cr; Points want; uint32_t unit; uint32_t remaining; } cases[] = {
        {{}, false, {}, 1, 0},
        {{0xEF, 0xBB, 0xBF}, false, {}, 1, 0},
        {{0xEF, 0xBB, 0xBF, 0x41}, false, {'A'}, 1, 0},
        {{0xEF, 0xBB}, false, {}, 1, 2},
        {{0x41, 0x0D, 0x0A, 0x42, 0x0D, 0x43}, true, {'A', 10, 'B', 10, 'C'}, 1, 0},
        {{0x41, 0x0D, 0x0A, 0x42, 0x0D, 0x43}, false, {'A', 13, 10, 'B', 13, 'C'}, 1, 0},
        {{0x0D}, true, {10}, 1, 0},
        {{0xC3, 0xA9, 0xC3}, false, {0xE9}, 1, 1},
        {{0x41, 0xE2, 0x82}, false, {'A'}, 1, 2},
        {{0xCE, 0xA9, 0x0D, 0x0A}, true, {0x3A9, 10}, 2, 0},
        {{0x41, 0xF0, 0x9F, 0x98, 0x80, 0xC3, 0xA9}, false, {'A', 0x1F600, 0xE9}, 4, 0},
        {{0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, false, {0xE9, 0x20AC, 0x1F600}, 4, 0},
    };
    for (auto& c : cases) {
        uint32_t remaining = 77;
        NodeId n = load_text(c.in.data(), uint32_t(c.in.size()), 0, &remaining, c.cr);
        SCOPED_TRACE(::testing::PrintToString(c.in));
        EXPECT_EQ(points_of(n), c.want);
        EXPECT_EQ(node_buffer(n)->unit(), c.unit);
        EXPECT_EQ(remaining, c.remaining);
    }
}

// What Python's "replace" decoding gives for every case of the strict oracle:
// one U+FFFD per maximal broken part, nothing refused, a byte order mark kept;
// the series takes the narrowest unit that holds the result.
TEST_F(Unicode, ReplacingLoadAgreesWithPythonReplaceCodec) {
    auto path = std::filesystem::path(__FILE__).parent_path() / "data" / "unicode_utf8_replace.txt";
    std::ifstream in(path);
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        std::istringstream ls(line);
        std::string hex, word;
        ls >> hex;
        Bytes bytes = hex == "-" ? Bytes{} : hex_bytes(hex);
        Points want;
        while (ls >> word)
            if (word != "-") want.push_back(int32_t(std::stoul(word, nullptr, 16)));
        SCOPED_TRACE(hex);
        NodeId n = load_text_replacing(bytes.data(), uint32_t(bytes.size()));
        EXPECT_EQ(points_of(n), want);
        int32_t max = 0;
        for (int32_t cp : want) max = std::max(max, cp);
        EXPECT_EQ(node_buffer(n)->unit(), max > 0xFFFF ? 4u : max > 0xFF ? 2u : 1u);
        count++;
    }
    EXPECT_EQ(count, 3000);
}

TEST_F(Unicode, LoadTextWidensOnceAndKeepsEarlierText) {
    std::string text(1000, 'q');
    text[0] = char(0xC3);  // é as the first character
    text[1] = char(0xA9);
    text += "\xE2\x82\xAC";
    NodeId n = load_text_new(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
    Points got = points_of(n);
    ASSERT_EQ(got.size(), 1000u);
    EXPECT_EQ(node_buffer(n)->unit(), 2u);
    EXPECT_EQ(got.front(), 0xE9);
    EXPECT_EQ(got[998], 'q');
    EXPECT_EQ(got.back(), 0x20AC);

    // 1,000 ASCII characters, then the first non-Latin-1 one.
    std::string ascii(1000, 'a');
    ascii += "\xE2\x82\xAC";
    n = load_text_new(reinterpret_cast<const uint8_t*>(ascii.data()), uint32_t(ascii.size()));
    EXPECT_EQ(node_buffer(n)->unit(), 2u);
    EXPECT_EQ(points_of(n).size(), 1001u);
}

TEST_F(Unicode, LoadTextReusesTheTargetBuffer) {
    Cell s = make_string({0x3A9, 0x3A9, 0x3A9, 0x3A9}, 2);
    NodeId node = series_node(&s);
    const uint8_t abc[] = {'a', 'b', 'c'};
    EXPECT_EQ(load_text_into(abc, 3, &s, nullptr), node);
    EXPECT_EQ(points_of(node), (Points{'a', 'b', 'c'}));
    EXPECT_EQ(node_buffer(node)->unit(), 2u);  // keeps its unit

    // Too small: expanded under the same node.
    std::string big(500, 'z');
    EXPECT_EQ(load_text(reinterpret_cast<const uint8_t*>(big.data()), 500, node, nullptr, false), node);
    EXPECT_EQ(points_of(node).size(), 500u);

    // An invalid sequence leaves the text before it.
    const uint8_t broken[] = {'o', 'k', 0xC0, 0xAF, 'x'};
    expect_error(Err::access_invalid_utf8, [&] { load_text(broken, 5, node, nullptr, false); });
    EXPECT_EQ(points_of(node), (Points{'o', 'k'}));
}

// --- UTF-8 out ---------------------------------------------------------------

TEST_F(Unicode, StringToUtf8ByUnit) {
    struct { Points cps; uint32_t unit; uint32_t index; int32_t limit; bool lf; std::string want; } cases[] = {
        {{'a', 0xE9, 10, 'b'}, 1, 0, -1, false, "a\xC3\xA9\nb"},
        {{'a', 0xE9, 10, 'b'}, 1, 0, -1, true, "a\xC3\xA9\r\nb"},
        {{'a', 0xE9, 10, 'b'}, 1, 1, 2, true, "\xC3\xA9\r\n"},
        {{'a', 0xE9, 10, 'b'}, 1, 9, -1, false, ""},  // position past the tail
        {{0x20AC, 10, 0x3A9}, 2, 0, -1, true, "\xE2\x82\xAC\r\n\xCE\xA9"},
        {{0x1F600, 'x', 10}, 4, 0, -1, true, "\xF0\x9F\x98\x80x\r\n"},
        {{0x1F600, 'x', 10}, 4, 0, 1, false, "\xF0\x9F\x98\x80"},
        {{}, 1, 0, -1, false, ""},
    };
    for (auto& c : cases) {
        Cell s = make_string(c.cps, c.unit, c.index);
        int32_t limit = c.limit;
        NodeId conv = string_to_utf8(&s, &limit, c.lf);
        const char* bytes = reinterpret_cast<const char*>(node_buffer(conv)->data());
        EXPECT_EQ(std::string(bytes), c.want);
        EXPECT_EQ(limit, int32_t(c.want.size()));
        EXPECT_EQ(node_buffer(conv)->used(), c.want.size());
        EXPECT_EQ(s.data3, conv);
    }
    uint8_t bad[8];
    int32_t big = 0x110000;
    Cell s = make_string({'a', big}, 4);
    expect_error(Err::script_invalid_char, [&] { string_to_utf8_buffer(&s, bad, -1, false); });
}

TEST_F(Unicode, ConversionBufferIsReusedAndGrown) {
    Cell s = make_string({'a', 'b'}, 1);
    EXPECT_STREQ(to_utf8_cstring(&s), "ab");
    NodeId conv = s.data3;
    ASSERT_NE(conv, 0u);
    EXPECT_STREQ(to_utf8_cstring(&s), "ab");
    EXPECT_EQ(s.data3, conv);

    // Make the string much longer: the same node, a bigger buffer.
    Points many(5000, 0x20AC);
    Cell longer = make_string(many, 2);
    longer.data3 = conv;
    int32_t limit = -1;
    uint8_t* data = string_to_utf8_data(&longer, &limit, false);
    EXPECT_EQ(longer.data3, conv);
    EXPECT_EQ(limit, 15000);
    EXPECT_EQ(data[14999], 0xAC);
    EXPECT_EQ(data[15000], 0);
    EXPECT_GE(node_buffer(conv)->size, 15001u);
}

TEST_F(Unicode, Utf8IntoCallerBuffers) {
    Cell s = make_string({0x20AC, 'a', 0x20AC}, 2);
    uint8_t buf[16];
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(string_to_utf8_buffer(&s, buf, -1, true), 7u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf)), "\xE2\x82\xAC" "a\xE2\x82\xAC");
    std::memset(buf, 0xEE, sizeof buf);
    EXPECT_EQ(string_to_utf8_buffer(&s, buf, 1, false), 3u);
    EXPECT_EQ(buf[3], 0xEE);  // no NUL unless asked

    struct { int32_t budget; int32_t limit; bool nul; Bytes want; } cases[] = {
        {100, 0, false, {0xE2, 0x82, 0xAC, 'a', 0xE2, 0x82, 0xAC}},
        {5, 0, false, {0xE2, 0x82, 0xAC, 'a', 0xE2}},  // the last sequence cut short
        {5, 0, true, {0xE2, 0x82, 0xAC, 'a', 0}},      // the NUL fits in the budget
        {100, 2, true, {0xE2, 0x82, 0xAC, 'a', 0}},
        {1, 0, true, {0}},
        {0, 0, true, {}},
    };
    for (auto& c : cases) {
        std::memset(buf, 0xEE, sizeof buf);
        uint32_t n = string_to_utf8_at(&s, buf, c.budget, c.limit, c.nul);
        size_t total = n + (c.nul && c.budget > 0 ? 1 : 0);
        EXPECT_EQ(Bytes(buf, buf + total), c.want) << "budget " << c.budget;
        EXPECT_EQ(buf[total], 0xEE) << "wrote past the budget";
    }
}

// --- UTF-16 ------------------------------------------------------------------

TEST_F(Unicode, ToUtf16Buffer) {
    struct { Points cps; uint32_t unit; int32_t limit; bool lf; std::u16string want; } cases[] = {
        {{0x10000}, 4, -1, false, {0xD800, 0xDC00}},
        {{'a', 10, 0x1F600, 10}, 4, -1, true, {'a', 13, 10, 0xD83D, 0xDE00, 13, 10}},
        {{'a', 10, 0xE9}, 1, -1, true, {'a', 13, 10, 0xE9}},
        {{'a', 10, 0xE9}, 1, 2, false, {'a', 10}},
        {{0x20AC, 10}, 2, -1, false, {0x20AC, 10}},
        {{0x20AC, 10}, 2, -1, true, {0x20AC, 13, 10}},
        {{}, 2, -1, true, {}},
    };
    for (auto& c : cases) {
        Cell s = make_string(c.cps, c.unit);
        int32_t limit = c.limit;
        char16_t* w = to_utf16_buffer(&s, &limit, c.lf);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(std::u16string(w), c.want);
        EXPECT_EQ(limit, int32_t(c.want.size()));
    }
    Cell s = make_string({'a', 10}, 1);
    EXPECT_EQ(std::u16string(to_utf16_os(&s)), u"a\r\n");
    Cell bad = make_string({'a', 0x110000}, 4);
    int32_t limit = -1;
    EXPECT_EQ(to_utf16_buffer(&bad, &limit, false), nullptr);
}

TEST_F(Unicode, LoadUtf16leChoosesTheNarrowestUnit) {
    struct { Bytes in; bool cr; Points want; uint32_t unit; } cases[] = {
        {{0x3D, 0xD8, 0x00, 0xDE}, false, {0x1F600}, 4},
        {{0x41, 0x00, 0xE9, 0x00}, false, {'A', 0xE9}, 1},
        {{0x41, 0x00, 0xAC, 0x20}, false, {'A', 0x20AC}, 2},
        {{0x41, 0x00, 0x0D, 0x00, 0x0A, 0x00, 0x0D, 0x00}, true, {'A', 10}, 1},
        {{0x0D, 0x00, 0x3D, 0xD8, 0x00, 0xDE, 0x0D, 0x00}, true, {0x1F600}, 4},
        {{0x0D, 0x20}, true, {0x200D}, 2},  // only a CR unit is a CR
        {{}, false, {}, 1},
    };
    for (auto& c : cases) {
        NodeId n = load_utf16le(c.in.data(), uint32_t(c.in.size() / 2), nullptr, c.cr);
        EXPECT_EQ(points_of(n), c.want) << ::testing::PrintToString(c.in);
        EXPECT_EQ(node_buffer(n)->unit(), c.unit) << ::testing::PrintToString(c.in);
    }
}

TEST_F(Unicode, UnpairedSurrogatesRaiseACatchableError) {
    struct { Bytes in; Bytes arg; } cases[] = {
        {{0x3D, 0xD8, 0x41, 0x00}, {0x3D, 0xD8, 0x41, 0x00}},              // high then a letter
        {{0x41, 0x00, 0x3D, 0xD8}, {0x3D, 0xD8}},                          // high at the end
        {{0x00, 0xDE, 0x41, 0x00}, {0x00, 0xDE, 0x41, 0x00}},              // low alone
        {{0x3D, 0xD8, 0x3D, 0xD8, 0x00, 0xDE}, {0x3D, 0xD8, 0x3D, 0xD8}},  // two highs
    };
    for (auto& c : cases) {
        Cell target = make_string({'k', 'e', 'p', 't'}, 1);
        Cell arg = expect_error(Err::script_invalid_data, [&] {
            load_utf16le(c.in.data(), uint32_t(c.in.size() / 2), &target, false);
        });
        EXPECT_EQ(binary_of(arg), c.arg);
        EXPECT_EQ(points_of(series_node(&target)), (Points{'k', 'e', 'p', 't'})) << "target untouched";
    }
}

TEST_F(Unicode, Utf16RoundTripThroughTheConversionBuffer) {
    Points cps = {'a', 0xE9, 0x20AC, 0x1F600, 0x10FFFF, 'z'};
    Cell s = make_string(cps, 4);
    int32_t units = -1;
    ASSERT_NE(to_utf16_buffer(&s, &units, false), nullptr);
    EXPECT_EQ(units, 8);
    // The OS call would fill the conversion buffer; load it back into the string.
    NodeId n = load_utf16le(nullptr, uint32_t(units), &s, false);
    EXPECT_EQ(n, series_node(&s));
    EXPECT_EQ(points_of(n), cps);

    Cell narrow = make_string({'x', 'y'}, 1);
    narrow.data3 = s.data3;
    load_utf16le(nullptr, uint32_t(units), &narrow, false);  // the target grows and widens
    EXPECT_EQ(points_of(series_node(&narrow)), cps);
    EXPECT_EQ(node_buffer(series_node(&narrow))->unit(), 4u);
}

// --- Widening and round trips ------------------------------------------------

TEST_F(Unicode, WideningKeepsTextAndMakesRoom) {
    struct { uint32_t from, to; SeriesBuffer* (*widen)(SeriesBuffer*); } cases[] = {
        {1, 2, widen_latin1_to_ucs2}, {1, 4, widen_latin1_to_ucs4}, {2, 4, widen_ucs2_to_ucs4},
    };
    for (auto& c : cases) {
        for (uint32_t len : {0u, 5u, 16u, 1000u}) {
            Points cps;
            for (uint32_t i = 0; i < len; i++) cps.push_back(int32_t((i * 37) % (c.from == 1 ? 256 : 65536)));
            Cell s = make_string(cps, c.from);
            NodeId node = series_node(&s);
            SeriesBuffer* b = c.widen(node_buffer(node));
            EXPECT_EQ(b, node_buffer(node));
            EXPECT_EQ(b->unit(), c.to);
            EXPECT_EQ(points_of(node), cps) << c.from << "->" << c.to << " len " << len;
            EXPECT_GE(b->size, b->head + len * c.to);
        }
    }
}

TEST_F(Unicode, RandomTextRoundTripsThroughUtf8) {
    std::mt19937 rng(1209);
    for (int round = 0; round < 300; round++) {
        uint32_t unit = round % 3 == 0 ? 1 : round % 3 == 1 ? 2 : 4;
        int32_t top = unit_max_code_point(unit);
        Points cps(rng() % 40);
        int32_t widest = 0;
        for (auto& cp : cps) {
            do cp = int32_t(rng() % uint32_t(top + 1));
            while (cp >= 0xD800 && cp <= 0xDFFF);
            widest = std::max(widest, cp);
        }
        Cell s = make_string(cps, unit);
        int32_t len = -1;
        uint8_t* utf8 = string_to_utf8_data(&s, &len, false);
        Bytes copy(utf8, utf8 + len);
        EXPECT_EQ(uint32_t(len), utf8_count_bytes(node_buffer(series_node(&s))->head_ptr(),
                                                  node_buffer(series_node(&s))->tail_ptr(), unit));
        EXPECT_EQ(utf8_count_chars(copy.data(), copy.data() + copy.size()), cps.size());
        NodeId back = load_text_new(copy.data(), uint32_t(copy.size()));
        EXPECT_EQ(points_of(back), cps);
        uint32_t narrowest = widest > 0xFFFF ? 4 : widest > 0xFF ? 2 : 1;
        EXPECT_EQ(node_buffer(back)->unit(), narrowest);
    }
}

} // namespace
