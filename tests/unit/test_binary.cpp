#include <gtest/gtest.h>
#include <climits>
#include <cstring>
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
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "value_support.h"

using namespace kem;
using namespace kem::test;

namespace {


std::vector<uint8_t> unhex(std::string_view hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}
// A binary! of the bytes written as hexadecimal.
Cell H(std::string_view hex) {
    std::vector<uint8_t> bytes = unhex(hex);
    Cell c;
    binary_load_at(bytes.data(), uint32_t(bytes.size()), &c);
    return c;
}
std::string hex_of(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; i++) s += {digits[p[i] >> 4], digits[p[i] & 15]};
    return s;
}
// The bytes from the index, and from the head.
std::string hex(const Cell& b) {
    return hex_of(series_buffer(&b)->head_ptr() + binary_index(&b), size_t(binary_rs_length(&b)));
}
std::string whole(Cell b) { return hex(at(b, 0)); }
std::string text(const Cell& s) { return buffer_bytes(s); }

class BinaryTest : public ::testing::Test {
protected:
    void SetUp() override { runtime_with_caller(); }
    void TearDown() override { cycle_reset(); }
};

// --- codecs --------------------------------------------------------------------------------

struct OracleCase {
    std::vector<uint8_t> data;
    std::string text;
};

std::vector<OracleCase> oracle(const char* name) {
    std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "data" / name);
    std::vector<OracleCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string data, encoded;
        fields >> data >> encoded;
        cases.push_back({data == "-" ? std::vector<uint8_t>{} : unhex(data), encoded == "-" ? "" : encoded});
    }
    EXPECT_GT(cases.size(), 90u) << name;
    return cases;
}

using Encoder = uint8_t* (*)(uint8_t*, const uint8_t*, uint32_t);
using Decoder = bool (*)(const uint8_t*, uint32_t, uint32_t, std::vector<uint8_t>&, uint32_t*);

std::string encode(Encoder e, int32_t base, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(binary_encoded_size(base, data.size()) + 1);
    uint8_t* end = e(out.data(), data.data(), uint32_t(data.size()));
    EXPECT_LE(size_t(end - out.data()), binary_encoded_size(base, data.size()));
    return std::string(reinterpret_cast<char*>(out.data()), size_t(end - out.data()));
}

// The text held in units of `unit` bytes, as a string! of that width holds it.
std::vector<uint8_t> units(std::u32string_view text, uint32_t unit) {
    std::vector<uint8_t> out(text.size() * unit);
    for (size_t i = 0; i < text.size(); i++) {
        uint32_t c = text[i];
        std::memcpy(out.data() + i * unit, &c, unit);  // little-endian: the low bytes
    }
    return out;
}
std::u32string wide(std::string_view ascii) { return std::u32string(ascii.begin(), ascii.end()); }

std::optional<std::vector<uint8_t>> decode(Decoder d, std::u32string_view text, uint32_t* bad_at = nullptr) {
    uint32_t unit = 1;
    for (char32_t c : text) unit = std::max(unit, c > 0xFFFF ? 4u : c > 0xFF ? 2u : 1u);
    std::vector<uint8_t> raw = units(text, unit), out;
    if (!d(raw.data(), uint32_t(text.size()), unit, out, bad_at)) return std::nullopt;
    return out;
}

TEST(BaseOracle, Base64AgainstPython) {
    for (const OracleCase& c : oracle("base_64.txt")) {
        EXPECT_EQ(encode(binary_encode_64, 64, c.data), c.text);
        EXPECT_EQ(decode(base_decode_64, wide(c.text)), c.data) << c.text;
        // Unpadded, and cut in 76-character lines as MIME writes it.
        std::string bare = c.text.substr(0, c.text.find('='));
        EXPECT_EQ(decode(base_decode_64, wide(bare)), c.data) << bare;
        std::string lines;
        for (size_t i = 0; i < c.text.size(); i += 76) lines += c.text.substr(i, 76) + "\r\n";
        EXPECT_EQ(decode(base_decode_64, wide(lines)), c.data);
        // The same text held in 4-byte units.
        std::vector<uint8_t> raw = units(wide(c.text), 4), out;
        EXPECT_TRUE(base_decode_64(raw.data(), uint32_t(c.text.size()), 4, out, nullptr));
        EXPECT_EQ(out, c.data);
    }
}

TEST(BaseOracle, Base16AgainstPython) {
    for (const OracleCase& c : oracle("base_16.txt")) {
        EXPECT_EQ(encode(binary_encode_16, 16, c.data), c.text);
        EXPECT_EQ(decode(base_decode_16, wide(c.text)), c.data);
        std::string lower;
        // Lower-case digits, a blank after every pair.
        for (size_t i = 0; i < c.text.size(); i++)
            lower += char(std::tolower(c.text[i])) + std::string(i % 2 ? " " : "");
        EXPECT_EQ(decode(base_decode_16, wide(lower)), c.data) << lower;
    }
}

TEST(BaseOracle, Base58AgainstPythonIntegers) {
    for (const OracleCase& c : oracle("base_58.txt")) {
        EXPECT_EQ(encode(binary_encode_58, 58, c.data), c.text);
        EXPECT_EQ(decode(base_decode_58, wide(c.text)), c.data) << c.text;
    }
}

TEST(BaseCodecs, Base2RoundTrip) {
    std::vector<uint8_t> data = {0x00, 0x41, 0xFF, 0x80};
    EXPECT_EQ(encode(binary_encode_2, 2, data), "00000000010000011111111110000000");
    EXPECT_EQ(decode(base_decode_2, wide("00000000 01000001\n11111111\t10000000")), data);
}

// Every decoder against the texts it must accept or refuse; "!" marks failure.
TEST(BaseCodecs, DecoderEdges) {
    struct Case {
        Decoder d;
        std::u32string text;
        const char* bytes;
    } cases[] = {
        {base_decode_2, U"0100 0001", "41"},
        {base_decode_2, U"0100000", "!"},
        {base_decode_2, U"01000002", "!"},
        {base_decode_2, U"0100;x\n0001", "41"},
        {base_decode_16, U"", ""},
        {base_decode_16, U"41 42", "4142"},
        {base_decode_16, U"ab", "AB"},
        {base_decode_16, U"41 42 4", "!"},    // a final unpaired digit fails
        {base_decode_16, U"4G", "!"},
        {base_decode_16, U"41;comment\n42", "4142"},
        {base_decode_16, U"41;comment", "41"},  // the text ends inside a comment
        {base_decode_16, U"\u00C1\u00C2", "!"},  // low seven bits would read "AB"
        {base_decode_16, U"\U00010041", "!"},
        {base_decode_58, U"112", "000001"},
        {base_decode_58, U"", ""},
        {base_decode_58, U"11", "0000"},
        {base_decode_58, U"1 1'2\n", "000001"},
        {base_decode_58, U"0", "!"},
        {base_decode_58, U"I", "!"},
        {base_decode_58, U"2l", "!"},
        {base_decode_58, U"2\u00E9", "!"},  // beyond 127: not an end of text
        {base_decode_58, U"2;x\n2", "3B"},
        {base_decode_64, U"QUI=", "4142"},
        {base_decode_64, U"QQ==", "41"},
        {base_decode_64, U"Q=", "!"},
        {base_decode_64, U"QUJD", "414243"},
        {base_decode_64, U"QUJD=", "!"},
        {base_decode_64, U"QUJDQQ", "41424341"},    // unpadded: the bytes padding gives
        {base_decode_64, U"QUJDQUI", "4142434142"},
        {base_decode_64, U"QUJDQ", "!"},           // one digit left over
        {base_decode_64, U"QU JD\n\t'", "414243"},
        {base_decode_64, U"QU\vJD", "!"},
        {base_decode_64, U"QUJD;x\nQQ==", "41424341"},
        {base_decode_64, U"QQ==junk", "41"},      // "=" ends the text
        {base_decode_64, U"QUJ\u00C4", "!"},
    };
    for (const Case& c : cases) {
        auto got = decode(c.d, c.text);
        std::string shown(c.text.begin(), c.text.end());
        if (std::string(c.bytes) == "!") {
            EXPECT_FALSE(got.has_value()) << shown;
        } else {
            ASSERT_TRUE(got.has_value()) << shown;
            EXPECT_EQ(hex_of(got->data(), got->size()), c.bytes) << shown;
        }
    }
    uint32_t bad = 0;
    EXPECT_FALSE(decode(base_decode_64, U"QU*D", &bad));
    EXPECT_EQ(bad, 2u);
    EXPECT_FALSE(decode(base_decode_16, U"414", &bad));
    EXPECT_EQ(bad, 3u);
}

TEST_F(BinaryTest, DecodersMakeBinariesOrNothing) {
    const uint8_t good[] = "QUI=";
    Cell out;
    EXPECT_EQ(binary_decode_64(good, 4, 1, &out), &out);
    EXPECT_EQ(hex(out), "4142");
    const uint8_t bad[] = "Q=";
    EXPECT_EQ(binary_decode_64(bad, 2, 1, &out), nullptr);
    Cell* pushed = binary_decode_58(reinterpret_cast<const uint8_t*>("112"), 3, 1, nullptr);
    ASSERT_NE(pushed, nullptr);
    EXPECT_EQ(hex(*pushed), "000001");
    EXPECT_NE(binary_decode_16(reinterpret_cast<const uint8_t*>("0A"), 2, 1, &out), nullptr);
    EXPECT_NE(binary_decode_2(reinterpret_cast<const uint8_t*>("00001010"), 8, 1, &out), nullptr);
    EXPECT_EQ(hex(out), "0A");
}

// --- form and mold -----------------------------------------------------------------------------

std::string run_mold(Cell v, bool form, bool only = false, bool flat = false, int32_t indent = 0,
                     int32_t limit = -1, int32_t* left = nullptr) {
    Cell buffer;
    string_make_at(&buffer, 16);
    Cell arg = I(limit);
    Cell* limit_cell = limit >= 0 ? &arg : nullptr;
    int32_t part = limit >= 0 ? limit : 1000;
    int32_t r = form
                    ? binary_form(&v, &buffer, limit_cell, part)
                    : binary_mold(&v, &buffer, MoldArgs{.only = only, .flat = flat, .limit = limit_cell}, part, indent);
    std::string t = text(buffer);
    // Every character costs one, except the free line break after "#{".
    int32_t free_break = t.starts_with("#{\n") ? 1 : 0;
    if (left) *left = r;
    else EXPECT_EQ(r, part - int32_t(t.size()) + free_break) << t;
    return t;
}

TEST_F(BinaryTest, MoldAndFormTexts) {
    std::string b32 = hex_of(unhex(std::string(64, 'A')).data(), 32);
    std::string b30(60, '7');
    std::string b31(62, '7');
    struct Case {
        Cell value;
        bool form, only, flat;
        int32_t indent;
        std::string expected;
    } cases[] = {
        {H(""), false, false, false, 0, "#{}"},
        {H("0102FF"), false, false, false, 0, "#{0102FF}"},
        {at(H("0102FF"), 1), false, false, false, 0, "#{02FF}"},
        {at(H("0102FF"), 9), false, false, false, 0, "#{}"},
        {H("0102FF"), false, true, false, 0, "0102FF"},
        {H("0102FF"), true, false, false, 0, "#{0102FF}"},
        {H(b30), false, false, false, 0, "#{" + b30 + "}"},
        {H(b31), false, false, false, 0, "#{\n    " + b31 + "\n}"},
        {H(b32), false, false, false, 0, "#{\n    " + b32 + "\n}"},
        {H(b32 + "0102"), false, false, false, 0, "#{\n    " + b32 + "\n    0102\n}"},
        {H(b32 + b32), false, false, false, 0, "#{\n    " + b32 + "\n    " + b32 + "\n}"},
        {H(b32 + "0102"), false, false, false, 1, "#{\n        " + b32 + "\n        0102\n    }"},
        {H(b32 + "0102"), false, false, true, 1, "#{" + b32 + "0102}"},
        {H(b32 + "0102"), true, false, false, 0, "#{\n    " + b32 + "\n    0102\n}"},
    };
    for (const Case& c : cases) EXPECT_EQ(run_mold(c.value, c.form, c.only, c.flat, c.indent), c.expected);
}

TEST_F(BinaryTest, MoldStopsWhenThePartIsSpent) {
    int32_t left = 0;
    EXPECT_EQ(run_mold(H("0102FF"), false, false, false, 0, 5, &left), "#{0102");
    EXPECT_EQ(left, -1);
    // The break after "#{" is free, its indentation costs four.
    std::string b40(80, '0');
    EXPECT_EQ(run_mold(H(b40), false, false, false, 0, 8, &left), "#{\n    00");
    EXPECT_EQ(left, 0);
}

// --- to and make ---------------------------------------------------------------------------------

TEST_F(BinaryTest, ToBinary) {
    Cell tuple{TYPE_TUPLE | (3u << 19), 0, 0, 0};
    uint8_t tb[3] = {1, 2, 3};
    std::memcpy(&tuple.data1, tb, 3);
    Cell issue{TYPE_ISSUE, 0, symbol_make("41ab42"), 0xFFFFFFFF};
    Cell bs;
    bitset_make_at(&bs, 2, false);
    bitset_rs_head(&bs)[1] = 0x40;
    struct Case {
        Cell spec;
        const char* bytes;
    } cases[] = {
        {S("h\u00e9"), "68C3A9"},
        {at(S("abc"), 2), "63"},
        {C(0x20AC), "E282AC"},
        {I(1), "00000001"},
        {I(-2), "FFFFFFFE"},
        {F(1.0), "3FF0000000000000"},
        {B({I(1), C('a'), S("bc"), H("FF"), I(-1), B({I(2)})}), "01616263FFFF02"},
        {at(H("010203"), 1), "0203"},
        {tuple, "010203"},
        {issue, "41AB42"},
        {bs, "0040"},
    };
    for (Case& c : cases) EXPECT_EQ(hex(*binary_to(nullptr, &c.spec, TYPE_BINARY)), c.bytes);

    Cell none{TYPE_NONE, 0, 0, 0};
    Cell bad_issue{TYPE_ISSUE, 0, symbol_make("4G"), 0xFFFFFFFF};
    Cell big = B({I(1), I(256)});
    EXPECT_EQ(error_of([&] { binary_to(nullptr, &none, TYPE_BINARY); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { binary_to(nullptr, &bad_issue, TYPE_BINARY); }), Err::script_invalid_data);
    EXPECT_EQ(error_of([&] { binary_to(nullptr, &big, TYPE_BINARY); }), Err::script_invalid_arg);

    // make with a size gives an empty binary; make with anything else converts.
    Cell size = I(10), str = S("A");
    Cell* made = action_entry_as<ACT_MAKE>(TYPE_BINARY)(nullptr, &size, TYPE_BINARY);
    EXPECT_EQ(type_of(made), TYPE_BINARY);
    EXPECT_EQ(binary_rs_length(made), 0);
    EXPECT_EQ(hex(*action_entry_as<ACT_MAKE>(TYPE_BINARY)(nullptr, &str, TYPE_BINARY)), "41");
}

TEST_F(BinaryTest, SelfContainingBlockIsRefused) {
    Cell blk = B({I(1)});
    block_append_cell(&blk, &blk);
    EXPECT_EQ(error_of([&] { binary_to(nullptr, &blk, TYPE_BINARY); }), Err::internal_no_cycle);
    EXPECT_EQ(cycle_depth(), 0u);
}

// --- append, insert, change ------------------------------------------------------------------------

TEST_F(BinaryTest, AppendAndInsert) {
    Cell b = at(H("0102"), 1);
    Cell v = H("03");
    binary_append(&b, &v, -1, false, 1, true);
    EXPECT_EQ(series_position(&b), 0);
    EXPECT_EQ(hex(b), "010203");

    struct Case {
        Cell value;
        int32_t part;
        bool only;
        int32_t dup;
        const char* added;
    } cases[] = {
        {I(-1), -1, false, 1, "FF"},
        {I(255), -1, false, 1, "FF"},
        {C(0xE9), -1, false, 1, "C3A9"},
        {H("AB"), -1, false, 3, "ABABAB"},
        {S("h\u00e9llo"), 2, false, 1, "68C3A9"},  // /part counts characters of text
        {H("010203"), 2, false, 1, "0102"},
        {B({I(1), I(2), I(3)}), 2, false, 1, "0102"},
        {B({H("0102"), H("0304")}), 3, true, 1, "010203"},  // /only: a budget of bytes
        {H("01"), -1, false, 0, ""},
    };
    for (Case& c : cases) {
        Cell target = H("00");
        binary_append(&target, &c.value, c.part, c.only, c.dup, true);
        EXPECT_EQ(whole(target), std::string("00") + c.added) << c.added;
    }

    Cell ins = at(H("0104"), 1);
    Cell mid = H("0203");
    binary_append(&ins, &mid, -1, false, 1, false);
    EXPECT_EQ(series_position(&ins), 3);
    EXPECT_EQ(whole(ins), "01020304");

    // Inserting a binary into itself reads it as it was.
    Cell self = H("0102");
    Cell into = at(self, 1);
    binary_append(&into, &self, -1, false, 2, false);
    EXPECT_EQ(whole(into), "010102010202");

    // Growing far past the first buffer keeps every byte.
    Cell grow = H("");
    Cell chunk = H(std::string(2000, 'E'));
    for (int i = 0; i < 20; i++) binary_append(&grow, &chunk, -1, false, 1, true);
    EXPECT_EQ(binary_rs_length(&grow), 20000);
    EXPECT_EQ(binary_byte_at(&grow, 19999), 0xEE);
}

TEST_F(BinaryTest, AppendRefusals) {
    Cell b = H("01");
    Cell big = I(256), low = I(-129), flt = F(1.5), two = H("0102");
    EXPECT_EQ(error_of([&] { binary_append(&b, &big, -1, false, 1, true); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { binary_append(&b, &low, -1, false, 1, true); }), Err::script_invalid_arg);
    EXPECT_EQ(error_of([&] { binary_append(&b, &flt, -1, false, 1, true); }), Err::script_bad_to_arg);
    EXPECT_EQ(error_of([&] { binary_append(&b, &two, -1, false, INT32_MAX, true); }), Err::internal_no_memory);
    EXPECT_EQ(whole(b), "01");
}

TEST_F(BinaryTest, Change) {
    struct Case {
        const char* start;
        int32_t pos;
        Cell value;
        int32_t part, dup;
        const char* result;
        int32_t new_pos;
    } cases[] = {
        {"01020304", 1, H("AA"), -1, 1, "01AA0304", 2},
        {"01020304", 1, H("AABB"), 1, 1, "01AABB0304", 3},
        {"01020304", 1, H("AA"), 3, 1, "01AA", 2},
        {"01020304", 1, H("AA"), -1, 2, "01AAAA04", 3},
        {"01020304", 3, H("AABBCC"), -1, 1, "010203AABBCC", 6},
        {"0102", 2, H("AA"), -1, 1, "0102AA", 3},
        {"01020304", 0, F(2.5), -1, 1, "322E3504", 3},  // other values go in as their formed text
        {"01020304", 0, I(-1), 0, 1, "FF01020304", 1},
    };
    for (Case& c : cases) {
        Cell b = at(H(c.start), c.pos);
        binary_change(&b, &c.value, c.part, false, c.dup);
        EXPECT_EQ(whole(b), c.result) << c.result;
        EXPECT_EQ(series_position(&b), c.new_pos) << c.result;
    }
    // The new bytes may come from the changed buffer itself.
    Cell b = H("01020304");
    Cell from = at(b, 2);
    binary_change(&b, &from, -1, false, 1);
    EXPECT_EQ(whole(b), "03040304");
}

TEST_F(BinaryTest, InheritedFindAndRemove) {
    Cell b = H("0102030403");
    Cell pat = H("0304"), three = I(3), missing = H("05");
    Cell found = b;
    EXPECT_EQ(series_position(find_direct(&found, &pat, FindArgs{})), 2);
    Cell found_last = b;
    EXPECT_EQ(series_position(find_direct(&found_last, &three, FindArgs{.last = true})), 4);
    Cell none = b;
    EXPECT_EQ(type_of(find_direct(&none, &missing, FindArgs{})), TYPE_NONE);
    Cell r = at(b, 1);
    Cell two = I(2);
    remove_direct(&r, RemoveArgs{.part = &two});
    EXPECT_EQ(whole(b), "010403");
}

// --- compare, bitwise, complement, trim ---------------------------------------------------------------

TEST_F(BinaryTest, Compare) {
    Cell same = H("0102");
    struct Case {
        Cell a, b;
        CompareOp op;
        int32_t expected;
    } cases[] = {
        {H("0102"), H("0102"), CompareOp::equal, 0},
        {H("01"), H("0102"), CompareOp::equal, 1},
        {H("01"), H("0102"), CompareOp::lesser, -1},
        {H("02"), H("0101"), CompareOp::lesser, 1},
        {H("0180"), H("017F"), CompareOp::greater, 1},  // bytes compare unsigned
        {H(""), H(""), CompareOp::equal, 0},
        {same, same, CompareOp::same, 0},
        {same, at(same, 1), CompareOp::same, -1},
        {H("0102"), H("0102"), CompareOp::same, -1},
        {at(H("0002"), 1), H("02"), CompareOp::strict_equal, 0},
        {H("41"), S("A"), CompareOp::equal, -2},
    };
    for (Case& c : cases) EXPECT_EQ(binary_compare(&c.a, &c.b, c.op), c.expected);
    Cell a = H("C3A9"), e = S("\u00e9");
    EXPECT_EQ(binary_compare_bytes(&a, &e, CompareOp::equal), 0);
}

TEST_F(BinaryTest, BitwiseActions) {
    auto run = [this](Cell* (*fn)(), const char* a, const char* b) {
        call_with(H(a), H(b));
        Cell* r = fn();
        EXPECT_EQ(series_position(r), 0);
        return hex(*r);
    };
    EXPECT_EQ(run(binary_and, "FFFF", "0F"), "0F00");
    EXPECT_EQ(run(binary_or, "FFFF", "0F"), "FFFF");
    EXPECT_EQ(run(binary_or, "0F", "F0F0"), "FFF0");
    EXPECT_EQ(run(binary_xor, "FF00", "0F0F0F"), "F00F0F");
    call_with(at(H("00FF"), 1), H("0F"));
    EXPECT_EQ(hex(*binary_and()), "0F");
    call_with(H("01"), I(1));
    EXPECT_EQ(error_of([] { binary_or(); }), Err::script_invalid_arg);
}

TEST_F(BinaryTest, ComplementChangesTheBytesInPlace) {
    Cell b = H("00F00F");
    Cell arg = at(b, 1);
    binary_complement(&arg);
    EXPECT_EQ(whole(b), "000FF0");
}

TEST_F(BinaryTest, Trim) {
    struct Case {
        const char* start;
        int32_t pos;
        bool head, tail, all;
        std::optional<Cell> with;
        const char* result;
    } cases[] = {
        {"0000010200", 0, false, false, false, {}, "0102"},
        {"0000010200", 0, true, false, false, {}, "010200"},
        {"0000010200", 0, false, true, false, {}, "00000102"},
        {"00010002", 0, false, false, true, {}, "0102"},
        {"00000100", 1, false, false, false, {}, "0001"},  // keeps its index
        {"41004142", 0, false, false, false, S("A"), "0042"},
        {"41004142", 0, false, false, false, C(0), "414142"},
        {"41004142", 0, false, false, false, H("4142"), "00"},
        {"0000", 0, false, false, false, {}, ""},
    };
    for (Case& c : cases) {
        Cell b = at(H(c.start), c.pos);
        Cell with = c.with.value_or(Cell{});
        binary_trim(&b, TrimArgs{.head = c.head, .tail = c.tail, .all = c.all, .with = c.with ? &with : nullptr});
        EXPECT_EQ(whole(b), c.result);
        EXPECT_EQ(series_position(&b), c.pos);
    }
    Cell b = H("00");
    Cell blk = B({});
    EXPECT_EQ(error_of([&] { binary_trim(&b, TrimArgs{.auto_ = true}); }), Err::internal_not_done);
    EXPECT_EQ(error_of([&] { binary_trim(&b, TrimArgs{.lines = true}); }), Err::internal_not_done);
    EXPECT_EQ(error_of([&] { binary_trim(&b, TrimArgs{.with = &blk}); }), Err::script_invalid_arg);
}

// --- services for the lexer, parse and I/O -------------------------------------------------------------

TEST_F(BinaryTest, ByteWritersAndAccessors) {
    Cell b = H("0102");
    binary_append_int32_be(&b, 0x0A0B0C0D);
    binary_insert_bytes(&b, 1, unhex("FF").data(), 1);
    binary_write_bytes_at(&b, 6, unhex("EEDD").data(), 2);  // passes the tail
    EXPECT_EQ(whole(b), "01FF020A0B0CEEDD");
    binary_append_bytes(&b, series_buffer(&b)->head_ptr(), 2);  // from its own buffer
    EXPECT_EQ(whole(b), "01FF020A0B0CEEDD01FF");

    Cell c = at(b, 8);
    binary_rs_skip(&c, 5);
    EXPECT_EQ(series_position(&c), 10);
    EXPECT_TRUE(binary_rs_tail_q(&c));
    binary_rs_skip(&c, -20);
    EXPECT_EQ(series_position(&c), 0);
    binary_rs_next(&c);
    binary_rs_next(&c);
    binary_rs_clear(&c);
    EXPECT_EQ(whole(b), "01FF");

    Cell blk = B({});
    Cell* in = binary_load_in(unhex("0A").data(), 1, &blk);
    EXPECT_EQ(block_full_length(&blk), 1u);
    EXPECT_EQ(hex(*in), "0A");
    binary_make_in(&blk, 4);
    EXPECT_EQ(type_of(block_rs_abs_at(&blk, 1)), TYPE_BINARY);
}

TEST_F(BinaryTest, MatchersAndByteArguments) {
    Cell b = at(H("00C3A942"), 1);
    Cell e = S("\u00e9"), bytes = H("C3A9"), ch = C(0xC3), other = C(0x1C3), longer = H("C3A94200");
    EXPECT_TRUE(binary_match_q(&b, &e));
    EXPECT_TRUE(binary_match_q(&b, &bytes));
    EXPECT_TRUE(binary_match_q(&b, &ch));
    EXPECT_FALSE(binary_match_q(&b, &other));
    EXPECT_FALSE(binary_match_q(&b, &longer));

    Cell plain;
    bitset_make_at(&plain, 1, false);  // bits 0..7, none set
    Cell high = at(H("C3"), 0);
    EXPECT_FALSE(binary_match_bitset_q(&high, &plain));
    Cell full;
    bitset_make_at(&full, 1, true);
    EXPECT_TRUE(binary_match_bitset_q(&high, &full));  // beyond the array: complemented
    Cell past = at(high, 1);
    EXPECT_FALSE(binary_match_bitset_q(&past, &full));

    Cell i = I(0x141), c = C('A'), s = S("A");
    EXPECT_EQ(binary_byte_arg(&i), 0x41);
    EXPECT_EQ(binary_byte_arg(&c), 0x41);
    EXPECT_EQ(error_of([&] { binary_byte_arg(&s); }), Err::script_invalid_arg);
}

} // namespace
