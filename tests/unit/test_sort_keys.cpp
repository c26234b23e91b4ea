// The keyed sort of blocks against the cell comparator it stands in for: the
// same record sorts over the cells themselves, with every pair compared by
// the datatypes' compare action. Both must leave the very same cells in the
// very same places, ties of the unstable sort included.
#include <gtest/gtest.h>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include "runtime/core/compare_op.h"
#include "runtime/services/sort.h"
#include "value_support.h"

using namespace kem;

namespace {

struct Reference {
    uint32_t field;
    bool reverse;
    CompareOp op;
};

// The cell comparator of block sort, as the comparator of the plain sorts.
int compare_cells(const void* a, const void* b, intptr_t reference, intptr_t) {
    const auto* ref = reinterpret_cast<const Reference*>(reference);
    Cell x = static_cast<const Cell*>(a)[ref->field];
    Cell y = static_cast<const Cell*>(b)[ref->field];
    if (ref->reverse) std::swap(x, y);
    int32_t r = compare_values(&x, &y, ref->op);
    if (r == -2 && type_of(&x) != type_of(&y)) r = int32_t(type_of(&x)) - int32_t(type_of(&y));
    return r;
}

enum class Data { words, case_twins, shared_beginnings, nul_and_padding, wide, integers, mixed_kinds };

// Values that tie in many ways: equal texts, texts equal but for letter case,
// longer than a key holds with equal beginnings, NULs against a shorter
// text's padding, wide code points, and the extreme integers.
std::vector<std::string> texts_for(Data data, std::mt19937& gen, uint32_t n) {
    const std::string letters = "abcAB\xC3\xA9\xC3\x89";  // a b c A B é É
    std::vector<std::string> out;
    for (uint32_t i = 0; i < n; i++) {
        std::string s;
        switch (data) {
        case Data::words:
            for (uint32_t k = gen() % 12; k > 0; k--) s += char('a' + gen() % 26);
            break;
        case Data::case_twins:
            for (uint32_t k = 1 + gen() % 3; k > 0; k--) s += "aAbB"[gen() % 4];
            break;
        case Data::shared_beginnings:
            s = "/usr/lib/share/";
            for (uint32_t k = gen() % 4; k > 0; k--) {
                const char* parts[] = {"a", "B/", "kem-library-folder/", "Kem-Library-Folder/"};
                s += parts[gen() % 4];
            }
            s += std::to_string(gen() % 50);
            break;
        case Data::nul_and_padding:
            s = std::string("ab") + std::string(gen() % 3, '\0') + (gen() % 2 ? "" : "c");
            break;
        case Data::wide:
            for (uint32_t k = gen() % 8; k > 0; k--) {
                const uint32_t pick = gen() % 4;
                s += pick == 0 ? "\xE2\x82\xAC" : pick == 1 ? "\xC3\xA9" : pick == 2 ? "\xC3\x89" : "e";
            }
            break;
        default: break;
        }
        out.push_back(s);
    }
    return out;
}

Cell block_of(Data data, uint32_t records, uint32_t size, uint32_t field, std::mt19937& gen) {
    Cell blk;
    block_make_at(&blk, int32_t(records * size));
    const std::vector<std::string> texts = texts_for(data, gen, records);
    const int32_t extremes[] = {INT32_MIN, INT32_MAX, 0, -1, 7};
    for (uint32_t r = 0; r < records; r++) {
        for (uint32_t k = 0; k < size; k++) {
            Cell c = test::I(int32_t(r));  // the other fields tell records apart
            if (k == field && data == Data::integers)
                c = test::I(gen() % 3 ? extremes[gen() % 5] : int32_t(gen() % 100));
            else if (k == field)
                string_make_utf8(&c, texts[r]);
            // A file! among strings: the keyed sort declines, the caller compares cells.
            if (k == field && data == Data::mixed_kinds && r % 5 == 0) set_type(&c, TYPE_FILE);
            block_append_cell(&blk, &c);
        }
    }
    return blk;
}

class SortKeys : public ::testing::Test {
protected:
    void SetUp() override { test::datatypes_up(); }
};

} // namespace

TEST_F(SortKeys, SameOrderAsTheCellComparator) {
    struct Case {
        Data data;
        uint32_t records, size, field;
    };
    const Case cases[] = {
        {Data::words, 3000, 1, 0},          {Data::case_twins, 2000, 1, 0},  {Data::shared_beginnings, 2000, 1, 0},
        {Data::nul_and_padding, 500, 1, 0}, {Data::wide, 2000, 1, 0},        {Data::integers, 3000, 1, 0},
        {Data::case_twins, 700, 3, 1},      {Data::integers, 700, 2, 1},     {Data::words, 1, 1, 0},
    };
    std::mt19937 gen(44);
    for (const Case& c : cases) {
        for (int variant = 0; variant < 8; variant++) {
            const bool reverse = variant & 1, case_ = variant & 2, stable = variant & 4;
            SCOPED_TRACE(testing::Message() << "data " << int(c.data) << " size " << c.size << " reverse "
                                            << reverse << " case " << case_ << " stable " << stable);
            const Cell keyed = block_of(c.data, c.records, c.size, c.field, gen);
            Cell plain;
            block_clone_at(&plain, &keyed, false, false);
            Cell* cells = block_rs_abs_at(&keyed, 0);
            ASSERT_TRUE(block_sort_by_keys(cells, c.records, c.size, c.field, reverse, case_, stable));

            Reference ref{c.field, reverse, case_ ? CompareOp::case_sort : CompareOp::sort};
            Cell* expected = block_rs_abs_at(&plain, 0);
            if (stable) merge_sort(expected, c.records, c.size * 16, intptr_t(&ref), 0, compare_cells);
            else quick_sort(expected, c.records, c.size * 16, intptr_t(&ref), 0, compare_cells);
            EXPECT_EQ(0, std::memcmp(cells, expected, size_t(c.records) * c.size * sizeof(Cell)));
        }
    }
}

TEST_F(SortKeys, DeclinesRecordsItCannotKey) {
    std::mt19937 gen(45);
    // Strings of two kinds, and values of a type without keys, are left untouched.
    const Cell mixed = block_of(Data::mixed_kinds, 50, 1, 0, gen);
    std::vector<Cell> before(block_rs_abs_at(&mixed, 0), block_rs_abs_at(&mixed, 0) + 50);
    EXPECT_FALSE(block_sort_by_keys(block_rs_abs_at(&mixed, 0), 50, 1, 0, false, false, false));
    EXPECT_EQ(0, std::memcmp(before.data(), block_rs_abs_at(&mixed, 0), 50 * sizeof(Cell)));

    Cell floats;
    block_make_at(&floats, 2);
    for (double d : {2.5, 1.5}) {
        const Cell f = test::F(d);
        block_append_cell(&floats, &f);
    }
    EXPECT_FALSE(block_sort_by_keys(block_rs_abs_at(&floats, 0), 2, 1, 0, false, false, false));
}
