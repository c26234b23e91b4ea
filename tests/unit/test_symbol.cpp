#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hashtable.h"
#include "runtime/services/unicode/case.h"
#include "value_support.h"

using namespace kem;

namespace {

class Symbol : public ::testing::Test {
protected:
    void SetUp() override {
        kem::test::words_up();
    }
};

std::string string_text(NodeId node) {
    SeriesBuffer* b = node_buffer(node);
    uint32_t unit = b->unit();
    std::string out;
    for (uint32_t off = b->head; off < b->tail; off += unit) {
        int32_t cp = string_get_char(b->data() + off, unit);
        out += cp < 0x80 ? std::string(1, char(cp)) : "<" + std::to_string(cp) + ">";
    }
    return out;
}

} // namespace

TEST_F(Symbol, SameSpellingGivesTheSameIdAndAddsNothing) {
    uint32_t a = symbol_make("same-spelling");
    uint32_t count = symbol_count();
    EXPECT_EQ(symbol_make("same-spelling"), a);
    EXPECT_EQ(symbol_make_from_utf8(reinterpret_cast<const uint8_t*>("same-spelling"), 13), a);
    EXPECT_EQ(symbol_count(), count);
    EXPECT_EQ(symbol_name(a), "same-spelling");
    EXPECT_EQ(symbol_alias_of(a), -1);
}

TEST_F(Symbol, CaseVariantsAliasTheFirstSpelling) {
    // Lower case first.
    uint32_t print = symbol_make("sprint");
    uint32_t Print = symbol_make("Sprint");
    uint32_t PRINT = symbol_make("SPRINT");
    EXPECT_NE(print, Print);
    EXPECT_NE(Print, PRINT);
    EXPECT_EQ(symbol_alias_of(print), -1);
    EXPECT_EQ(symbol_alias_of(Print), int32_t(print));
    // Always the canonical id, never an alias of an alias.
    EXPECT_EQ(symbol_alias_of(PRINT), int32_t(print));
    EXPECT_EQ(symbol_resolve(PRINT), print);
    EXPECT_EQ(symbol_resolve(print), print);

    // Capitalised first: that spelling is canonical.
    uint32_t Cap = symbol_make("Cfirst");
    uint32_t low = symbol_make("cfirst");
    EXPECT_EQ(symbol_alias_of(Cap), -1);
    EXPECT_EQ(symbol_resolve(low), Cap);
    // Each spelling keeps its own text.
    EXPECT_EQ(symbol_name(low), "cfirst");
    EXPECT_EQ(symbol_name(Cap), "Cfirst");
}

TEST_F(Symbol, CaselessInterningFindsAnySpelling) {
    uint32_t print = symbol_make("cl-print");
    uint32_t count = symbol_count();
    EXPECT_EQ(symbol_make_caseless("CL-PRINT"), print);
    EXPECT_EQ(symbol_count(), count);
    uint32_t fresh = symbol_make_caseless("CL-Unknown");
    EXPECT_EQ(symbol_count(), count + 1);
    EXPECT_EQ(symbol_alias_of(fresh), -1);
    EXPECT_EQ(symbol_name(fresh), "CL-Unknown");
}

TEST_F(Symbol, OnlyAsciiLettersFold) {
    // e with acute accent, small and capital: unrelated names.
    uint32_t small = symbol_make("caf\xC3\xA9");
    uint32_t capital = symbol_make("caf\xC3\x89");
    EXPECT_NE(small, capital);
    EXPECT_EQ(symbol_alias_of(small), -1);
    EXPECT_EQ(symbol_alias_of(capital), -1);
    // Folding the ASCII letters still links them to their own variants.
    EXPECT_EQ(symbol_resolve(symbol_make("CAF\xC3\xA9")), small);
}

TEST_F(Symbol, EmptyNameIsASymbol) {
    uint32_t empty = symbol_make("");
    EXPECT_GT(empty, 0u);
    EXPECT_EQ(symbol_make(""), empty);
    EXPECT_EQ(symbol_name(empty), "");
    EXPECT_EQ(string_text(symbol_to_string(empty)), "");
}

TEST_F(Symbol, CachedStringIsDecodedOnceFromUtf8) {
    uint32_t id = symbol_make("h\xC3\xA9llo-\xE2\x82\xAC");
    EXPECT_EQ(node_buffer(symbol_block)->cell_head()[id - 1].data2, 0u);
    Cell* cell = symbol_get(id);
    NodeId cached = cell->data2;
    ASSERT_NE(cached, 0u);
    EXPECT_EQ(string_text(cached), "h<233>llo-<8364>");
    EXPECT_EQ(symbol_to_string(id), cached);
}

TEST_F(Symbol, FromStringTakesAPrefixAndReportsBytes) {
    Cell s;
    string_make_utf8(&s, "na\xC3\xAFve text");
    int32_t units = 5;
    uint32_t id = symbol_make_from_string(&s, &units);
    EXPECT_EQ(units, 6);  // five code points, one of them two bytes
    EXPECT_EQ(id, symbol_make("na\xC3\xAFve"));
    int32_t all = -1;
    EXPECT_EQ(symbol_make_from_string(&s, &all), symbol_make("na\xC3\xAFve text"));
}

TEST_F(Symbol, ThousandsOfNamesSurviveTableGrowth) {
    const int n = 20000;
    int32_t buckets_before = hash_record(symbol_table)->n_buckets;
    std::vector<uint32_t> ids;
    for (int i = 0; i < n; i++) ids.push_back(symbol_make(("grow-" + std::to_string(i)).c_str()));
    EXPECT_GT(hash_record(symbol_table)->n_buckets, buckets_before);
    for (int i = 0; i < n; i += 7) {
        std::string name = "grow-" + std::to_string(i);
        EXPECT_EQ(symbol_make(name.c_str()), ids[i]) << name;
        EXPECT_EQ(symbol_name(ids[i]), name);
    }
    // Variants made after growth still find their canonical spelling.
    for (int i = 0; i < n; i += 997) {
        uint32_t upper = symbol_make(("GROW-" + std::to_string(i)).c_str());
        EXPECT_EQ(symbol_resolve(upper), ids[i]);
    }
}

TEST_F(Symbol, CompareOrdersNamesAsText) {
    Cell a = *symbol_get(symbol_make("cmp-apple"));
    Cell b = *symbol_get(symbol_make("cmp-Banana"));
    Cell other{TYPE_INTEGER, 0, 1, 0};
    EXPECT_EQ(compare_values(&a, &b, CompareOp::lesser), -1);  // letter case ignored: a < b
    EXPECT_EQ(compare_values(&b, &a, CompareOp::lesser), 1);
    EXPECT_EQ(compare_values(&a, &a, CompareOp::equal), 0);
    EXPECT_EQ(compare_values(&a, &other, CompareOp::equal), -2);
}
