#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

using namespace kem;

namespace {

using Points = std::vector<int32_t>;

class Case : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        case_tables_init();
    }

    static Cell make_string(const Points& cps, uint32_t unit, uint32_t index = 0, uint8_t type = TYPE_STRING) {
        NodeId n = alloc_string_buffer(uint32_t(cps.size()), unit);
        SeriesBuffer* b = node_buffer(n);
        for (size_t i = 0; i < cps.size(); i++) write_unit(b->head_ptr() + i * unit, unit, cps[i]);
        b->tail = b->head + uint32_t(cps.size()) * unit;
        Cell c;
        make_series(&c, type, n, index);
        return c;
    }
    static Points points_of(const Cell& s) {
        SeriesBuffer* b = node_buffer(series_node(&s));
        Points out;
        for (uint32_t i = 0; i < b->used() / b->unit(); i++) out.push_back(read_unit(b->head_ptr() + i * b->unit(), b->unit()));
        return out;
    }
    // Stands for the word `part` that the natives pass for error reports.
    static Cell part_word() { return Cell{TYPE_WORD, 0, 77, 3}; }
};

// --- Oracle: Python's str.upper and str.lower ------------------------------------

TEST_F(Case, EveryOneToOneMappingAgreesWithPython) {
    auto path = std::filesystem::path(__FILE__).parent_path() / "data" / "case_python.txt";
    std::ifstream in(path);
    ASSERT_TRUE(in) << path;
    constexpr int32_t SEVERAL = -1;
    std::unordered_map<int32_t, std::pair<int32_t, int32_t>> python;
    std::string line;
    auto parse = [](const std::string& s) { return s == "*" ? SEVERAL : int32_t(std::stoul(s, nullptr, 16)); };
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream ls(line);
        std::string cp, up, low;
        ls >> cp >> up >> low;
        python[parse(cp)] = {parse(up), parse(low)};
    }
    ASSERT_GT(python.size(), 2500u);

    size_t checked = 0;
    for (int32_t cp = 0; cp <= 0x10FFFF; cp++) {
        auto it = python.find(cp);
        int32_t up = it == python.end() ? cp : it->second.first;
        int32_t low = it == python.end() ? cp : it->second.second;
        // Full mappings to several code points are not one-to-one: skipped.
        if (up != SEVERAL) {
            ASSERT_EQ(change_case(cp, true), up) << std::hex << "upper of " << cp;
            checked++;
        }
        if (low != SEVERAL) {
            ASSERT_EQ(change_case(cp, false), low) << std::hex << "lower of " << cp;
            checked++;
        }
    }
    EXPECT_GT(checked, 2 * 0x10FFFFu - 200);
}

TEST_F(Case, SimpleMappingsWherePythonGivesSeveral) {
    struct { int32_t cp; bool upper; int32_t want; } cases[] = {
        {0x0130, false, 0x0069},   // never i plus a combining dot
        {0x00DF, true, 0x00DF},    // sharp s has no one-to-one upper case
        {0x1FB3, true, 0x1FBC},    // alpha with ypogegrammeni
        {0x0149, true, 0x0149},
        {0x1E922, true, 0x1E900},
        {0x1E900, false, 0x1E922},
        {0x10428, true, 0x10400},
        {0x1F600, true, 0x1F600},
        {0x1F600, false, 0x1F600},
        {'5', true, '5'},
        {0x4E2D, true, 0x4E2D},
        {0x4E2D, false, 0x4E2D},
        {0x00FF, true, 0x0178},
        {0x01C5, true, 0x01C4},
        {0x01C5, false, 0x01C6},
        {0xFF5A, true, 0xFF3A},
        {0x110000, true, 0x110000},
    };
    for (auto& c : cases) EXPECT_EQ(change_case(c.cp, c.upper), c.want) << std::hex << c.cp;
}

// --- Changing values in place ------------------------------------------------

TEST_F(Case, ChangeCaseValueOnStrings) {
    enum PartKind { NONE, INTEGER, SAME_BUFFER };
    struct {
        Points text; uint32_t unit; uint32_t index; PartKind part; int32_t arg; bool upper;
        Points want; uint32_t want_unit; int32_t want_n;
    } cases[] = {
        {{0xFF}, 1, 0, NONE, 0, true, {0x178}, 2, 1},
        {{'a', 0xFF, 'b', 0xFF}, 1, 0, NONE, 0, true, {'A', 0x178, 'B', 0x178}, 2, 4},
        {{'a', 'b', 'c'}, 1, 0, INTEGER, 0, true, {'a', 'b', 'c'}, 1, 0},
        {{'a', 'b', 'c'}, 1, 0, INTEGER, 2, true, {'A', 'B', 'c'}, 1, 2},
        {{'a', 'b', 'c'}, 1, 1, INTEGER, 99, true, {'a', 'B', 'C'}, 1, 2},
        {{'a', 'b', 'c'}, 1, 1, INTEGER, -5, true, {'a', 'b', 'c'}, 1, 0},
        {{'a', 'b', 'c', 'd'}, 1, 1, SAME_BUFFER, 3, true, {'a', 'B', 'C', 'd'}, 1, 2},
        {{'a', 'b', 'c', 'd'}, 1, 2, SAME_BUFFER, 0, true, {'a', 'b', 'c', 'd'}, 1, 0},
        {{'A', 'B', 'c'}, 1, 7, NONE, 0, false, {'A', 'B', 'c'}, 1, 0},  // past the tail
        {{0x3A9, 0x3A3, 'X'}, 2, 0, NONE, 0, false, {0x3C9, 0x3C3, 'x'}, 2, 3},
        {{0x10400, 'Q', 0x1E900}, 4, 0, NONE, 0, false, {0x10428, 'q', 0x1E922}, 4, 3},
        {{0x130, 'I'}, 2, 0, NONE, 0, false, {'i', 'i'}, 2, 2},
        {{0xB5, 0xE9}, 1, 0, INTEGER, 1, true, {0x39C, 0xE9}, 2, 1},
    };
    for (auto& c : cases) {
        Cell s = make_string(c.text, c.unit, c.index);
        Cell part;
        if (c.part == INTEGER) make_integer(&part, c.arg);
        if (c.part == SAME_BUFFER) part = Cell{s.header, uint32_t(c.arg), s.data2, 0};
        SCOPED_TRACE(::testing::PrintToString(c.text));
        int32_t n = change_case_value(&s, c.part == NONE ? nullptr : &part, c.upper, part_word());
        EXPECT_EQ(n, c.want_n);
        EXPECT_EQ(points_of(s), c.want);
        EXPECT_EQ(node_buffer(series_node(&s))->unit(), c.want_unit);
        EXPECT_LE(series_index(&s), c.text.size()) << "position clipped to the tail";
    }

    Cell none;
    make_none(&none);
    Cell s = make_string({'x', 'y'}, 1);
    EXPECT_EQ(change_case_value(&s, &none, true, part_word()), 2);
    EXPECT_EQ(points_of(s), (Points{'X', 'Y'}));
}

TEST_F(Case, ChangeCaseValueOnChars) {
    Cell c = Cell{TYPE_CHAR, 0, 0xFF, 0};
    EXPECT_EQ(change_case_value(&c, nullptr, true, part_word()), 1);
    EXPECT_EQ(c.data2, 0x178u);
    EXPECT_TRUE(is_type(&c, TYPE_CHAR));
    change_case_value(&c, nullptr, false, part_word());
    EXPECT_EQ(c.data2, 0xFFu);
}

TEST_F(Case, BadPartArgumentsRaiseInvalidRefineArg) {
    Cell s = make_string({'a', 'b', 'c'}, 1, 0);
    Cell other = make_string({'a', 'b', 'c'}, 1, 2);         // another buffer
    Cell as_file = Cell{TYPE_FILE, 2, s.data2, 0};             // same buffer, other type
    Cell number;
    make_float(&number, 2.0);
    const Cell word = part_word();
    for (const Cell* part : {&other, &as_file, &number}) {
        try {
            change_case_value(&s, part, true, part_word());
            ADD_FAILURE() << "no error for part of type " << int(type_of(part));
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_invalid_refine_arg);
            ASSERT_EQ(e.argc, 2);
            EXPECT_EQ(std::memcmp(&e.args[0], &word, sizeof(Cell)), 0);
            EXPECT_EQ(std::memcmp(&e.args[1], part, sizeof(Cell)), 0);
        }
        EXPECT_EQ(points_of(s), (Points{'a', 'b', 'c'})) << "nothing changed";
    }
}

} // namespace
