// KEMBIN: the byte layout of both variants, damage the decoder must refuse
// (with the position of the fault), depth limits, compressed payloads, the
// start-up form (set records, natives, bindings by root position, exits on
// corrupt data) and the boot block the build embeds.
#include <gtest/gtest.h>
#include <unistd.h>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>
#include "environment/boot.h"
#include "environment/startup.h"
#include "eval_support.h"
#include "runtime/collector/collector.h"
#include "runtime/core/roots.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/native_specs.h"
#include "runtime/kembin/encoder.h"
#include "runtime/kembin/format.h"
#include "runtime/kembin/kembin.h"

using namespace kem;
using namespace kem::test;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes hex(const std::string& text) {
    Bytes out;
    for (size_t i = 0; i + 1 < text.size();) {
        if (text[i] == ' ') {
            i++;
            continue;
        }
        out.push_back(uint8_t(std::stoi(text.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::string hex_of(const Bytes& b) {
    std::string out;
    char two[3];
    for (uint8_t x : b) {
        std::snprintf(two, sizeof two, "%02X", x);
        out += two;
    }
    return out;
}

// The last value of the source, evaluated (kept on the data stack).
Cell value_of(const std::string& source) {
    boot_all();
    Cell* code = scan_source(source);
    const Cell body = *code;
    interp::eval_block(&body, false);
    return *(stack::top - 1);
}

Bytes encoded(const Cell& v, bool compact) {
    Cell bin;
    kembin::encode(&v, compact, &bin);
    const uint8_t* p = binary_rs_head(&bin);
    return Bytes(p, p + binary_rs_length(&bin));
}

// The records of compact data without a symbol table.
std::string compact_records(const std::string& source) {
    const Bytes b = encoded(value_of(source), true);
    EXPECT_EQ(b[7], kembin::FLAG_COMPACT) << source;
    size_t at = 9;
    while (b[at] & 0x80) at++;  // the records size
    return hex_of(Bytes(b.begin() + long(at) + 1, b.end()));
}

// Decodes compact codec data made of the header bytes given and the records.
Cell decoded(const Bytes& data) {
    Cell* out = stack::push_slot();
    block_make_at(out, 1);
    kembin::codec_mode = true;
    kembin::decode(data.data(), data.size(), out, none_value);
    return *out;
}

Bytes compact_data(const Bytes& records) {
    Bytes data = hex("4B454D42494E0201 01");
    kembin::put_varint(data, uint32_t(records.size()));
    data.insert(data.end(), records.begin(), records.end());
    return data;
}

// "ok", or the error id and its first argument as the decoder raises them.
std::string outcome(const Bytes& data) {
    try {
        decoded(data);
        return "ok";
    } catch (const KemError& e) {
        const ErrorInfo* info = error_info(e.id);
        std::string arg = e.argc && is_type(&e.args[0], TYPE_INTEGER) ? " " + std::to_string(cell_int(&e.args[0])) : "";
        return std::string(info ? info->name : "?") + arg;
    }
}

} // namespace

TEST(Kembin, CompactRecordsAreLaidOutByteForByte) {
    const struct {
        const char* source;
        const char* records;
    } cases[] = {
        {"[]", "0500"},
        {"63", "BF"},
        {"64", "0B8001"},
        {"-1", "0B01"},
        {"none", "03"},
        {"reduce [true false]", "0502C2C3"},
        {"integer!", "010B"},
        {"#\"a\"", "0A61"},
        {"1x-1", "250201"},
        {"2.0", "4C04"},
        {"1:00", "6BA038"},
        {"250%", "66F403"},
        {"50%", "6664"},
        {"0.5%", "267B14AE47E17A743F"},
        {"-0.0", "0C0000000000000080"},
        {"\"abc\"", "070C616263"},
        {"next \"abc\"", "47010C616263"},
        {"1.2.3", "27010203"},
        {"1.2.3.4", "670401020304"},
        {"1-Jan-2020", "2F8010C80F"},
        {"make typeset! [integer!]", "21020010"},
        {"make bitset! #{0F}", "1E010F"},
        {"complement make bitset! #{0F}", "5E01F0"},
        {"s: \"ab\" reduce [s s]", "050207086162C107020000"},
        {"b: [1] append/only b b", "050281C1050100"},
        {"[1\n2]", "050281C082"},
        {"make map! [1 2]", "28028182"},
    };
    for (const auto& c : cases) EXPECT_EQ(compact_records(c.source), c.records) << c.source;
    // Three characters in 2-byte units: the length varint (3 << 2) + 1, then 6 bytes.
    Cell euro;
    string_make_at(&euro, 3, 2);
    for (int i = 0; i < 3; i++) string_append_char(&euro, 0x20AC);
    const Bytes b = encoded(euro, true);
    EXPECT_EQ(hex_of(Bytes(b.end() - 8, b.end())), "070DAC20AC20AC20");
}

TEST(Kembin, HeaderAndSymbolTableOfBothVariants) {
    const Cell v = value_of("[a b a 1.5]");
    // Compact: flags 5, one root, the records size, then the symbol count, the
    // names size, fixed 32-bit offsets and the NUL-terminated names.
    const Bytes c = encoded(v, true);
    EXPECT_EQ(hex_of(Bytes(c.begin(), c.begin() + 26)), "4B454D42494E0205011102040000000002000000" "61006200" "0504");
    // Fixed: flags 4, int32 counts, the names padded to 8 after each.
    const Bytes f = encoded(v, false);
    auto word = [&](size_t at) { return uint32_t(f[at] | f[at + 1] << 8 | f[at + 2] << 16 | uint32_t(f[at + 3]) << 24); };
    EXPECT_EQ(hex_of(Bytes(f.begin(), f.begin() + 8)), "4B454D42494E0204");
    EXPECT_EQ(word(8), 1u);
    EXPECT_EQ(word(12), f.size() - 48);
    EXPECT_EQ(word(16), 2u);
    EXPECT_EQ(word(20), 16u);
    EXPECT_EQ(word(24), 0u);
    EXPECT_EQ(word(28), 8u);
    EXPECT_EQ(hex_of(Bytes(f.begin() + 32, f.begin() + 48)), "61000000000000006200000000000000");
    EXPECT_EQ(word(48 + 12), uint32_t(TYPE_WORD) | kembin::FIXED_GLOBAL);
    // A double starts on a multiple of 8 bytes of the records: a zero word pads it there.
    EXPECT_EQ(hex_of(encoded(value_of("[1.5]"), false)),
              "4B454D42494E0200" "010000001C000000" "050000000000000001000000" "00000000" "0C000000000000000000F83F");
}

TEST(Kembin, EveryDatatypeRoundTripsInBothVariants) {
    const Cell v = value_of(R"KEM(
        s: "shared" o: make object! [a: 1 f: func [x] [x + a]]
        b: reduce [none true 1 -70000 #"x" 1.5 -0.0 50% 1:02:03 1-Jan-2020/10:00+2:00 3x4 (1.5, 2.5)
            (1.0, 2.0, 3.0) 1.2.3.4 #iss integer! number! "uni€" %file http://u <t> e@m.x #{0102}
            make bitset! "ab" 'w to set-word! "sw" to get-word! "gw" /ref 'p/q to paren! [1]
            s next s o in o 'a :append :+ make map! [k 1] try [1 / 0] ()
            -USD$1.25 make hash! [k 1] make vector! [integer! 16 [1 -2]]]
        append/only b b
    )KEM");
    // Cells 30 and 31 share a string; 33 is a word of the object at 32.
    ASSERT_EQ(block_rs_abs_at(&v, 30)->data2, block_rs_abs_at(&v, 31)->data2);
    ASSERT_EQ(block_rs_abs_at(&v, 33)->data1, block_rs_abs_at(&v, 32)->data1);
    for (bool compact : {true, false}) {
        const Cell out = decoded(encoded(v, compact));
        ASSERT_EQ(block_full_length(&out), 1u);
        const Cell back = *block_rs_abs_at(&out, 0);
        EXPECT_EQ(text_within(back, true, -1, nullptr, true), text_within(v, true, -1, nullptr, true)) << compact;
        // Shared series and contexts come back shared, and the block contains itself.
        EXPECT_EQ(block_rs_abs_at(&back, 30)->data2, block_rs_abs_at(&back, 31)->data2);
        EXPECT_EQ(block_rs_abs_at(&back, 33)->data1, block_rs_abs_at(&back, 32)->data1);
        EXPECT_EQ(block_rs_abs_at(&back, block_full_length(&back) - 1)->data2, back.data2);
    }
}

TEST(Kembin, DamageIsRefusedAtItsPosition) {
    boot_all();
    const struct {
        const char* what;
        const char* records;
        const char* outcome;
    } cases[] = {
        // Positions count from 1 at the magic; records start at index 11 here.
        {"a varint too long", "0BFFFFFFFF1F", "kb-invalid-record 16"},
        {"type id 0", "00", "kb-invalid-record 11"},
        {"the type escape", "3F05 00", "ok"},
        {"an escaped type beyond the last", "3F37", "kb-invalid-record 11"},
        {"symbol! has no record", "0D", "kb-invalid-record 11"},
        {"logic! is only C2 or C3", "04", "kb-invalid-record 11"},
        {"an unknown byte", "C5", "kb-invalid-record 11"},
        {"a shared integer", "C181", "kb-invalid-record 11"},
        {"a shared error!", "C1220000", "kb-invalid-record 11"},
        {"a date with time but no flag", "2F8010C90F", "kb-invalid-record 11"},
        {"a date without time but the flag", "6F8010C80F", "kb-invalid-record 11"},
        {"a date of month 13", "2F80D0C80F", "kb-invalid-record 12"},
        {"string unit 3", "070F", "kb-invalid-record 12"},
        {"a code point above 10FFFF", "07060000110000", "kb-invalid-record 12"},
        {"a char above 10FFFF", "0A80808044", "kb-invalid-record 12"},
        {"a 13-byte typeset", "210D", "kb-invalid-record 12"},
        {"a 1-byte tuple", "670101", "kb-invalid-record 12"},
        {"a count beyond the data", "05058181", "kb-invalid-record 12"},
        {"a negative head", "4580808080080500", "kb-invalid-record 12"},
        {"a word without a symbol table", "0F00", "kb-invalid-record 12"},
        {"a path of 0 steps", "FF00", "kb-invalid-record 12"},
        {"a path of 65537 steps", "FF8180040000", "kb-invalid-record 12"},
        {"a path beyond the output", "FF0100", "kb-invalid-record 13"},
        {"a path into a scalar", "0502 81 FF03000000", "kb-invalid-record 18"},
        {"a block taking over a string", "0502070461 C1050200 00", "kb-invalid-record 18"},
        {"a native of index 0", "15000500", "kb-invalid-record 12"},
        {"a native beyond the table", "156C0500", "kb-invalid-record 12"},
        {"an action of slot 63", "163F0500", "kb-invalid-record 12"},
        {"a native whose spec is no block", "150181", "kb-invalid-record 13"},
        {"an op whose spec takes no two arguments", "1715290500", "kb-invalid-record 12"},
        {"an object with values on the stack", "2000 0E0400", "kb-invalid-record 11"},
        {"a function whose context is not on the stack", "180000 0E0000 0500 0500", "kb-invalid-record 11"},
        {"an error code outside the catalog", "22E807 03 03 03 03 03 03", "kb-invalid-record 12"},
        {"a refused type", "1F00", "no-codec"},
        {"money! with a digit above 9", "31 00 0000000000000000000A00", "kb-invalid-record 12"},
        {"money! cut short", "31 00 0000", "kb-invalid-record 12"},
        {"vector! of 8-byte integers", "23 2F 00", "kb-invalid-record 12"},
        {"vector! of an item type no vector has", "23 1C 00", "kb-invalid-record 12"},
    };
    for (const auto& c : cases) EXPECT_EQ(outcome(compact_data(hex(c.records))), c.outcome) << c.what;

    // A fixed-variant vector! names its item size in its header: only 1, 2 and
    // 4 bytes hold integers (a size of 0 once divided by zero).
    const Bytes good = encoded(value_of("make vector! [integer! 16 [1 -2]]"), false);
    size_t unit_at = 0;
    for (size_t k = 16; k + 1 < good.size() && !unit_at; k++)
        if (good[k] == TYPE_VECTOR && good[k + 1] == 2) unit_at = k + 1;
    ASSERT_NE(unit_at, 0u);
    EXPECT_EQ(outcome(good), "ok");
    for (uint8_t unit : {0, 3, 8}) {
        Bytes bad = good;
        bad[unit_at] = unit;
        EXPECT_EQ(outcome(bad).rfind("kb-invalid-record", 0), 0u) << int(unit);
    }

    // The header: no magic, a compressed payload that does not unpack, a fixed
    // header cut short, names without their final NUL, a symbol out of range.
    EXPECT_EQ(outcome(hex("4B454D42494F02010102 0500")), "invalid-data");
    EXPECT_EQ(outcome(hex("4B454D42494E0203 0800000001000000 01000000")), "invalid-data");
    EXPECT_EQ(outcome(hex("4B454D42494E0200 01000000")), "invalid-data");
    EXPECT_EQ(outcome(hex("4B454D42494E0205 01 02 01 02 00000000 6161 0F00")), "kb-invalid-record 12");
    EXPECT_EQ(outcome(hex("4B454D42494E0205 01 02 01 02 00000000 6100 0F01")), "kb-invalid-record 20");
    EXPECT_EQ(outcome(hex("4B454D42494E0205 01 02 01 02 05000000 6100 0F00")), "kb-invalid-record 20");
    EXPECT_EQ(outcome(hex("4B454D42494E0205 01 02 01 02 00000000 FF00 0F00")), "kb-invalid-record 20");
}

TEST(Kembin, NestingIsBoundedBothWays) {
    boot_all();
    auto nested = [](uint32_t depth) {
        Cell* v = stack::push_slot();
        block_make_at(v, 1);
        for (uint32_t i = 1; i < depth; i++) {
            Cell outer;
            block_make_at(&outer, 1);
            block_append_cell(&outer, v);
            *v = outer;
        }
        return *v;
    };
    const Cell ok = nested(kembin::MAX_DEPTH);
    const Cell deep = nested(kembin::MAX_DEPTH + 1);
    EXPECT_EQ(error_of([&] { encoded(deep, true); }), Err::internal_stack_overflow);
    EXPECT_EQ(error_of([&] { encoded(deep, false); }), Err::internal_stack_overflow);
    for (bool compact : {true, false}) {
        const Cell out = decoded(encoded(ok, compact));
        EXPECT_EQ(block_full_length(block_rs_abs_at(&out, 0)), 1u);
    }
    // Records nested one level more than the limit, made by hand.
    Bytes records;
    for (uint32_t i = 0; i < kembin::MAX_DEPTH; i++) records.insert(records.end(), {0x05, 0x01});
    records.insert(records.end(), {0x05, 0x00});
    // The records size takes two bytes: the records start at index 12.
    EXPECT_EQ(outcome(compact_data(records)), "kb-invalid-record " + std::to_string(12 + 2 * kembin::MAX_DEPTH));
}

TEST(Kembin, CompressedPayloadsDecode) {
    const Cell v = value_of("b: copy [] loop 200 [append b [alpha beta \"gamma\" 1.5 [x y]]] b");
    kembin::Encoder e(true, false);
    e.root(v);
    const Bytes data = e.finish(kembin::VERSION, true);
    ASSERT_TRUE(data[7] & kembin::FLAG_COMPRESSED);
    EXPECT_LT(data.size(), encoded(v, true).size() / 4);
    const Cell out = decoded(data);
    EXPECT_EQ(mold_text(*block_rs_abs_at(&out, 0)), mold_text(v));
}

TEST(Kembin, DecodedErrorsHaveAllTenFields) {
    const Cell err = value_of("try [1 / 0]");
    for (bool compact : {true, false}) {
        const Cell out = decoded(encoded(err, compact));
        const Cell back = *block_rs_abs_at(&out, 0);
        ASSERT_TRUE(is_type(&back, TYPE_ERROR));
        const NodeId values = context_values_node(object_context(&back));
        EXPECT_EQ(node_buffer(values)->used() / sizeof(Cell), uint32_t(ERROR_FIELD_COUNT));
        EXPECT_TRUE(is_type(error_field(&back, ERROR_FILES), TYPE_NONE));
    }
}

TEST(Kembin, TheEmbeddedBootBlockDefinesEveryNativeWithItsSpec) {
    boot_all();
    ASSERT_GT(boot_block_size, 0u);
    EXPECT_GE(boot_value_count(), uint32_t(BOOT_SCRIPTS) + 1);
    for (int i = 1; i <= NATIVE_COUNT; i++) {
        const std::string name(native_word(i));
        const Cell* v = context_global_value_cell(symbol_make(name.c_str()));
        ASSERT_TRUE(is_type(v, TYPE_NATIVE)) << name;
        EXPECT_EQ(native_number(v), uint32_t(i)) << name;
        Cell* spec = stack::push_slot();
        const std::string_view text = native_spec_text(i);
        lexer_scan(spec, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), true, true, true, false,
                   nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(mold_text(callable_spec(v)), mold_text(*spec)) << name;
    }
}

// --- the start-up form -------------------------------------------------------------------

namespace {

// Boot data from an encoder in the start-up form: set records, then roots.
Bytes boot_data(const std::function<void(kembin::Encoder&)>& fill) {
    kembin::Encoder e(true, true);
    fill(e);
    return e.finish(kembin::BOOT_VERSION, false);
}

} // namespace

TEST(Kembin, TheStartUpFormSetsWordsAndKeepsRootValues) {
    boot_all();
    const Cell word = W("kembin-boot-test");
    const Cell if_native = *context_global_value_cell(symbol_make("if"));
    const Bytes data = boot_data([&](kembin::Encoder& e) {
        e.set_word(word, I(42));
        e.set_word(W("kembin-boot-if"), if_native);
        e.root(if_native);
        e.root(I(7));
    });
    const Cell root = *root_block();
    const uint32_t before = block_full_length(&root);
    Cell* const base = boot_value(0);
    const uint32_t count = boot_value_count();
    const bool collector_was = collector::active();
    EXPECT_EQ(kembin::load_boot(data.data(), data.size()), 3u);
    EXPECT_EQ(collector::active(), collector_was);
    EXPECT_FALSE(kembin::codec_mode);
    // The set records leave nothing; the native leaves itself and its spec.
    ASSERT_EQ(block_full_length(&root), before + 3);
    EXPECT_TRUE(is_type(boot_value(0), TYPE_NATIVE));
    EXPECT_TRUE(is_type(boot_value(1), TYPE_BLOCK));
    EXPECT_EQ(boot_value(1)->data2, boot_value(0)->data2);
    EXPECT_EQ(cell_int(boot_value(2)), 7);
    EXPECT_EQ(run_kem("kembin-boot-test"), "42");
    EXPECT_EQ(run_kem("kembin-boot-if true [1]"), "1");
    block_set_tail_at(&root, before);
    set_boot_values(base, count);
}

TEST(Kembin, StartUpWordsBindToTheContextsOfEarlierRoots) {
    boot_all();
    // Roots: an object (a context! record: kind 2, values, words a b, values 1 2),
    // then word b bound to root 0 by name (index -1) and word a by index 0.
    Bytes data = hex("4B454D42494E0105 01 0C 02 04 00000000 02000000 6100 6200");
    const Bytes records = hex("0E12020001 8182 4F01 0001 4F00 0000");
    data[9] = uint8_t(records.size());
    data.insert(data.end(), records.begin(), records.end());
    const Cell root = *root_block();
    const uint32_t before = block_full_length(&root);
    Cell* const base = boot_value(0);
    const uint32_t count = boot_value_count();
    EXPECT_EQ(kembin::load_boot(data.data(), data.size()), 3u);
    const Cell obj = *boot_value(0);
    ASSERT_TRUE(is_type(&obj, TYPE_OBJECT));
    EXPECT_EQ(object_class_id(&obj), 0xFFFFFFFFu);
    for (uint32_t i : {1u, 2u}) {
        const Cell w = *boot_value(i);
        EXPECT_EQ(w.data1, object_context(&obj)) << i;
        EXPECT_EQ(cell_int(word_value_cell(&w)), i == 1 ? 2 : 1) << i;
    }
    block_set_tail_at(&root, before);
    set_boot_values(base, count);
}

TEST(Kembin, CorruptBootDataEndsTheProcessWithAMessage) {
    boot_all();
    // The report goes to standard output: send it where the death test looks.
    auto load = [](const Bytes& data) {
        dup2(2, 1);
        kembin::load_boot(data.data(), data.size());
        std::exit(0);
    };
    const Bytes bad_magic = hex("4B454D42494F0105 01 02 0500");
    const Bytes bad_packing = hex("4B454D42494E0107 0800000001000000 01000000");
    const Bytes bad_record = hex("4B454D42494E0101 01 02 05 05");
    EXPECT_EXIT(load(bad_magic), testing::ExitedWithCode(1), "Error: Not a Kembin file!");
    EXPECT_EXIT(load(bad_packing), testing::ExitedWithCode(1), "Error: Kembin compressed data corrupted!");
    EXPECT_EXIT(load(bad_record), testing::ExitedWithCode(1), "Script Error: KEMBIN - invalid record at index 12");
}
