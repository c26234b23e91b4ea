#include <gtest/gtest.h>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/value.h"
#include "runtime/services/hashtable.h"
#include "runtime/services/hashtable_impl.h"

using namespace kem;

namespace {

class Hash : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        hash_seed = HASH_SEED_AT_START;
        hash_keys_reset();
        node_evacuation = NodeEvacuation{};
        collector_switch = CollectorSwitch{};
    }
    void TearDown() override {
        hash_keys_reset();
        node_evacuation = NodeEvacuation{};
        collector_switch = CollectorSwitch{};
    }
};

uint32_t block_length(NodeId b) { return node_buffer(b)->used() / 16; }
Cell* cell_at(NodeId b, uint32_t i) { return node_buffer(b)->cell_head() + i; }
void push_cell(NodeId b, const Cell& c) { *alloc_tail(node_buffer(b)) = c; }
Cell integer(int32_t v) {
    Cell c;
    make_integer(&c, v);
    return c;
}

// A string series of the given unit holding the code points.
NodeId text(const std::u32string& s, uint32_t unit) {
    NodeId n = alloc_string_buffer(uint32_t(s.size()), unit);
    SeriesBuffer* b = node_buffer(n);
    for (size_t i = 0; i < s.size(); i++) {
        uint32_t c = s[i];
        std::memcpy(b->head_ptr() + i * unit, &c, unit);  // little-endian: the low bytes
    }
    b->tail = b->head + uint32_t(s.size()) * unit;
    return n;
}
Cell string_value(const std::u32string& s, uint32_t unit = 1, uint8_t type = TYPE_STRING) {
    Cell c;
    make_series(&c, type, text(s, unit));
    return c;
}

uint32_t state_of(NodeId table, uint32_t bucket) {
    return hash_detail::bucket_state(hash_detail::flag_words(hash_record(table)), bucket);
}
uint32_t count_buckets(NodeId table, uint32_t state) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < uint32_t(hash_record(table)->n_buckets); i++) n += state_of(table, i) == state;
    return n;
}
// Bucket accounting, one bucket per stored key, and (hash!, map!) the hash
// kept beside each key is the stored key's own (a group's: its first member's).
void expect_sound_buckets(NodeId table) {
    const HashRecord* r = hash_record(table);
    uint32_t live = count_buckets(table, hash_detail::BUCKET_LIVE);
    EXPECT_EQ(live + count_buckets(table, hash_detail::BUCKET_DELETED), uint32_t(r->n_occupied));
    EXPECT_EQ(live, uint32_t(r->kind == HASH_MAP ? r->n_occupied : r->size));
    const uint32_t stride = hash_detail::key_stride(r->kind);
    std::vector<int32_t> keys;
    for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++) {
        if (state_of(table, i) != hash_detail::BUCKET_LIVE) continue;
        const int32_t k = hash_detail::key_words(r)[stride * i];
        keys.push_back(k);
        if (stride == 2) {
            const int32_t first = r->kind == HASH_VALUES ? hash_detail::group_first(r, k) : k;
            ASSERT_GE(first, 0) << "bucket " << i;
            EXPECT_EQ(hash_detail::bucket_hash(r, i), hash_value(hash_detail::block_cells(r) + first, false))
                << "bucket " << i;
        }
    }
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(std::adjacent_find(keys.begin(), keys.end()), keys.end()) << "a key held by two buckets";
}
int32_t found_index(NodeId block, const Cell* found) { return found ? int32_t(found - cell_at(block, 0)) : -1; }

// ---------------------------------------------------------------------------
// Hashing

TEST_F(Hash, Murmur3MatchesPublishedVectors) {
    struct { const char* text; uint32_t seed, expected; } cases[] = {
        {"", 0, 0},
        {"", 1, 0x514E28B7},
        {"", 0xFFFFFFFF, 0x81F16F39},
        {"aaaa", 0x9747B28C, 0x5A97808A},
        {"abc", 0, 0xB3DD93FA},
        {"Hello, world!", 0x9747B28C, 0x24884CBA},
        {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
    };
    for (auto& c : cases) {
        hash_seed = c.seed;
        EXPECT_EQ(murmur3_hash(c.text, uint32_t(std::strlen(c.text))), c.expected) << c.text;
    }
    EXPECT_EQ(hash_int(1), 0x514E28B7u);  // the finaliser alone, as the empty input with seed 1 shows
}

TEST_F(Hash, StringsHashTheirCodePointsUpperCasedWhateverTheUnit) {
    // Blocks are 32-bit code points upper-cased, the length mixed in is 4 per code point.
    uint32_t words[] = {'A', 'B', 0xE9};
    uint32_t expected = murmur3_hash(words, sizeof words);
    Cell s1 = string_value(U"ab\u00e9", 1), s2 = string_value(U"Ab\u00e9", 2), s4 = string_value(U"aB\u00e9", 4);
    for (const Cell* c : {&s1, &s2, &s4}) EXPECT_EQ(hash_value(c, false), expected);
    EXPECT_NE(hash_string(&s1, true), hash_string(&s2, true));

    // From the position; a slice only its length, clipped at the tail.
    Cell tail = string_value(U"xxAB\u00e9", 1);
    tail.data1 = 2;
    EXPECT_EQ(hash_value(&tail, false), expected);
    Cell slice = string_value(U"ab\u00e9zzz", 1, TYPE_LOOKUP_SLICE);
    slice.data3 = 3;
    EXPECT_EQ(hash_value(&slice, false), expected);
    slice.data3 = 99;
    Cell whole = string_value(U"AB\u00e9ZZZ", 2);
    EXPECT_EQ(hash_value(&slice, false), hash_value(&whole, false));
}

TEST_F(Hash, ValuesHashAsTheirTypeSays) {
    hash_key_hooks.resolve_symbol = [](uint32_t id) { return id == 7 ? 3u : id; };  // 7 is a case variant of 3
    auto with = [](uint32_t header, uint32_t d1, uint32_t d2, uint32_t d3) { return Cell{header, d1, d2, d3}; };
    struct { Cell a, b; bool same; const char* what; } cases[] = {
        {with(TYPE_WORD, 1, 3, 0), with(TYPE_GET_WORD, 9, 7, 4), true, "word kinds by canonical symbol"},
        {with(TYPE_WORD, 1, 3, 0), with(TYPE_WORD, 1, 4, 0), false, "other symbol"},
        {with(TYPE_INTEGER, 5, 42, 6), with(TYPE_CHAR, 0, 42, 0), true, "payload word 2 only"},
        {with(TYPE_MONEY, 1, 2, 3), with(TYPE_MONEY | HEADER_NEW_LINE, 1, 2, 3), true, "money: flags other than sign"},
        {with(TYPE_MONEY, 1, 2, 3), with(TYPE_MONEY | 0x4000, 1, 2, 3), false, "money: the sign counts"},
        {with(TYPE_MONEY, 0x100, 2, 3), with(TYPE_MONEY, 0x105, 2, 3), true, "money: the currency does not count"},
        {with(TYPE_TUPLE | (3u << 19), 0x030201, 0, 0), with(TYPE_TUPLE | (3u << 19), 0xFF030201, 7, 7), true,
         "tuple: its length's bytes"},
        {with(TYPE_BLOCK, 0, 10, 1), with(TYPE_BLOCK, 0, 10, 2), true, "block: position and node"},
        {with(TYPE_BLOCK, 0, 10, 0), with(TYPE_BLOCK, 0, 11, 0), false, "block: another node"},
        {with(TYPE_NATIVE, 1, 2, 3), with(TYPE_ACTION, 4, 5, 3), true, "natives by word 3"},
    };
    for (auto& c : cases) EXPECT_EQ(hash_value(&c.a, false) == hash_value(&c.b, false), c.same) << c.what;
    Cell unset = with(TYPE_UNSET, 1, 2, 3), none = with(TYPE_NONE, 1, 2, 3);
    EXPECT_EQ(hash_value(&unset, false), uint32_t(-2));
    EXPECT_EQ(hash_value(&none, false), uint32_t(-1));

    NodeId bytes = text(U"\x01\x02\x03\x04", 1);
    Cell bin;
    make_series(&bin, TYPE_BINARY, bytes, 1);
    uint8_t expected[] = {2, 3, 4};
    EXPECT_EQ(hash_value(&bin, false), murmur3_hash(expected, 3));
}

TEST_F(Hash, SymbolNamesFoldAsciiOnly) {
    auto h = [](const char* s) { return hash_symbol_name(reinterpret_cast<const uint8_t*>(s), uint32_t(std::strlen(s))); };
    EXPECT_EQ(h("Print"), h("pRINT"));
    EXPECT_EQ(h("Print"), murmur3_hash("print", 5));
    EXPECT_NE(h("\xC3\xA9"), h("\xC3\x89"));  // e acute and E acute stay apart
    std::string longer(1000, 'Q');           // past the first scratch buffer
    EXPECT_EQ(h(longer.c_str()), murmur3_hash(std::string(1000, 'q').data(), 1000));
}

TEST_F(Hash, StringOfAnUnknownUnitEndsTheProcess) {
    Cell s = string_value(U"abc", 1);
    node_buffer(s.data2)->flags = (node_buffer(s.data2)->flags & ~SERIES_UNIT_MASK) | 3;
    EXPECT_EXIT(hash_value(&s, false), ::testing::ExitedWithCode(101), "");
}

// ---------------------------------------------------------------------------
// Sizing

TEST_F(Hash, TablesAreSizedForTheirEntries) {
    for (uint32_t n : {0u, 4u}) {
        NodeId t = hash_make(n, nullptr, HASH_VALUES, 0);
        EXPECT_EQ(hash_record(t)->n_buckets, 8);
        EXPECT_EQ(hash_record(t)->upper_bound, 6);
    }
    NodeId symbols = hash_make(4000, nullptr, HASH_SYMBOLS, 0);
    EXPECT_EQ(hash_record(symbols)->n_buckets, 16384);
    EXPECT_EQ(hash_record(symbols)->upper_bound, 12615);
    IntTable* it = int_table_make(4);
    EXPECT_EQ(it->n_buckets, 8);
    EXPECT_EQ(it->upper_bound, 6);
    int_table_free(it);
}

TEST_F(Hash, TheSeventhInsertionGrowsASmallTable) {
    for (int32_t kind : {HASH_VALUES, HASH_MAP}) {
        NodeId block = alloc_cells(16);
        Cell series;
        make_series(&series, TYPE_BLOCK, block);
        NodeId t = hash_make(0, &series, kind, 0);
        int step = kind == HASH_MAP ? 2 : 1;
        for (int i = 0; i < 7; i++) {
            EXPECT_EQ(hash_record(t)->n_buckets, 8) << kind << " before insertion " << i + 1;
            for (int j = 0; j < step; j++) push_cell(block, integer(i * 10 + j));
            hash_insert_cell(t, block_length(block) - step);
        }
        EXPECT_EQ(hash_record(t)->n_buckets, 16) << kind;
        for (int i = 0; i < 7; i++) {
            Cell key = integer(i * 10);
            EXPECT_EQ(found_index(block, hash_find_options(t, &key, 0, 1, CompareOp::equal, false, false)), i * step)
                << kind;
        }
    }
}

// ---------------------------------------------------------------------------
// hash! tables against a model

// A hash! block kept current the way the block actions keep it.
struct HashBlock {
    NodeId block, table;
    HashBlock() {
        block = alloc_cells(4);
        Cell s;
        make_series(&s, TYPE_HASH, block);
        table = hash_make(0, &s, HASH_VALUES, 0);
    }
    uint32_t length() const { return block_length(block); }
    void append(const Cell& c) {
        push_cell(block, c);
        hash_insert_cell(table, length() - 1);
    }
    void insert_at(uint32_t p, const Cell& c) {
        uint32_t n = length();
        push_cell(block, c);
        std::memmove(cell_at(block, p + 1), cell_at(block, p), size_t(n - p) * 16);
        *cell_at(block, p) = c;
        if (hash_shift_indexes(table, 1, p, n - p, true)) hash_rebuild(table, n + 1);
        else hash_insert_cell(table, p);
    }
    void remove_at(uint32_t p, bool drop) {
        uint32_t n = length();
        if (!drop) hash_remove_range(table, p, 1);
        std::memmove(cell_at(block, p), cell_at(block, p + 1), size_t(n - p - 1) * 16);
        node_buffer(block)->tail -= 16;
        if (hash_shift_indexes(table, -1, p + 1, n - p - 1, drop)) hash_rebuild(table, n - 1);
    }
    void poke(uint32_t p, const Cell& c) {
        *cell_at(block, p) = c;
        hash_insert_cell(table, p);
    }
    // count cells from first land before dest (counted before the move).
    void move(uint32_t first, uint32_t count, uint32_t dest) {
        std::vector<Cell> cells(cell_at(block, 0), cell_at(block, 0) + length());
        std::vector<Cell> moved(cells.begin() + first, cells.begin() + first + count);
        cells.erase(cells.begin() + first, cells.begin() + first + count);
        cells.insert(cells.begin() + (dest < first ? dest : dest - count), moved.begin(), moved.end());
        std::copy(cells.begin(), cells.end(), cell_at(block, 0));
        hash_move_range(table, dest, first, count);
    }
    int32_t find(const Cell& key, int32_t start, int32_t skip, CompareOp op, bool last, bool reverse) {
        return found_index(block, hash_find_options(table, &key, start, skip, op, last, reverse));
    }
};

struct Key {
    std::string folded, exact;
    Cell cell;
};

// Random keys with many duplicates. Strings come in every unit and in both
// cases, so groups (equal ignoring case) hold members that strict equality tells apart.
Key random_int_key(std::mt19937& rng) {
    int32_t v = std::uniform_int_distribution<int32_t>(-40, 40)(rng);
    if (rng() % 16 == 0) v = int32_t(rng());
    return Key{std::to_string(v), std::to_string(v), integer(v)};
}
Key random_string_key(std::mt19937& rng) {
    static const char32_t alphabet[] = {U'a', U'A', U'b', U'B', 0xE9, 0xC9};
    std::u32string s;
    size_t n = rng() % 3;
    for (size_t i = 0; i < n; i++) s += alphabet[rng() % 6];
    Key k;
    for (char32_t c : s) {
        k.exact += std::to_string(uint32_t(c)) + ",";
        k.folded += std::to_string(uint32_t(c >= U'a' && c <= U'z' ? c - 32 : c)) + ",";
    }
    static const uint32_t units[] = {1, 2, 4};
    k.cell = string_value(s, units[rng() % 3]);
    return k;
}

void run_differential(Key (*random_key)(std::mt19937&), uint32_t seed) {
    std::mt19937 rng(seed);
    HashBlock h;
    std::vector<Key> model;
    auto check = [&](int step) {
        SCOPED_TRACE("after step " + std::to_string(step));
        std::unordered_multimap<std::string, uint32_t> by_key;
        for (uint32_t i = 0; i < model.size(); i++) by_key.emplace(model[i].folded, i);
        size_t groups = 0;
        for (auto it = by_key.begin(); it != by_key.end(); it = by_key.equal_range(it->first).second) groups++;
        ASSERT_EQ(h.length(), model.size());
        EXPECT_EQ(size_t(hash_count(h.table)), groups);
        EXPECT_LT(hash_record(h.table)->n_occupied, hash_record(h.table)->n_buckets);
        expect_sound_buckets(h.table);
        for (int probe = 0; probe < 12; probe++) {
            Key k = model.empty() || probe % 4 == 3 ? random_key(rng) : model[rng() % model.size()];
            int32_t start = model.empty() ? 0 : int32_t(rng() % (model.size() + 1));
            int32_t skip = 1 + int32_t(rng() % 3);
            int32_t first = -1, last = -1, before = -1, strict = -1;
            auto range = by_key.equal_range(k.folded);
            for (auto it = range.first; it != range.second; ++it) {
                int32_t l = int32_t(it->second);
                if (l >= start && (l - start) % skip == 0 && (first < 0 || l < first)) first = l;
                if (l >= start && l > last) last = l;
                if (l < start && (start - l - 1) % skip == 0 && l > before) before = l;
                if (model[size_t(l)].exact == k.exact && (strict < 0 || l < strict)) strict = l;
            }
            EXPECT_EQ(h.find(k.cell, start, skip, CompareOp::equal, false, false), first)
                << k.exact << " from " << start;
            EXPECT_EQ(h.find(k.cell, start, 1, CompareOp::equal, true, false), last) << k.exact;
            EXPECT_EQ(h.find(k.cell, start, skip, CompareOp::equal, false, true), before) << k.exact;
            EXPECT_EQ(h.find(k.cell, 0, 1, CompareOp::strict_equal, false, false), strict) << k.exact;
        }
    };
    for (int step = 0; step < 3000; step++) {
        uint32_t n = uint32_t(model.size());
        uint32_t op = rng() % 20;
        if (op < 8 || n == 0) {
            Key k = random_key(rng);
            h.append(k.cell);
            model.push_back(k);
        } else if (op < 11) {
            Key k = random_key(rng);
            uint32_t p = rng() % (n + 1);
            h.insert_at(p, k.cell);
            model.insert(model.begin() + p, k);
        } else if (op < 16) {
            uint32_t p = rng() % n;
            h.remove_at(p, op % 2 == 0);
            model.erase(model.begin() + p);
        } else if (op < 18) {
            Key k = random_key(rng);
            uint32_t p = rng() % n;
            h.poke(p, k.cell);
            model[p] = k;
        } else {
            uint32_t first = rng() % n, count = 1 + rng() % std::min<uint32_t>(n - first, 5);
            uint32_t dest = rng() % (n + 1);
            if (dest >= first && dest <= first + count) continue;
            h.move(first, count, dest);
            std::vector<Key> moved(model.begin() + first, model.begin() + first + count);
            model.erase(model.begin() + first, model.begin() + first + count);
            model.insert(model.begin() + (dest < first ? dest : dest - count), moved.begin(), moved.end());
        }
        if (step % 10 == 9) {
            check(step);
            if (::testing::Test::HasFailure()) return;
        }
        // Now and then the block empties, leaving every bucket empty.
        if (step % 1000 == 999) {
            hash_remove_range(h.table, 0, h.length());
            node_buffer(h.block)->tail = node_buffer(h.block)->head;
            model.clear();
            EXPECT_EQ(count_buckets(h.table, hash_detail::BUCKET_EMPTY), uint32_t(hash_record(h.table)->n_buckets));
        }
    }
    check(-1);
}

TEST_F(Hash, ValueTablesAgreeWithAModelOnIntegerKeys) { run_differential(random_int_key, 1); }
TEST_F(Hash, ValueTablesAgreeWithAModelOnStringKeys) { run_differential(random_string_key, 2); }

TEST_F(Hash, EqualValuesShareOneBucketAndChain) {
    HashBlock h;
    h.append(string_value(U"abc"));
    h.append(integer(7));
    h.append(string_value(U"ABC", 2));
    h.append(string_value(U"Abc", 4));
    EXPECT_EQ(hash_count(h.table), 2);
    HashRecord* r = hash_record(h.table);
    EXPECT_EQ(hash_detail::index_entry(r, 0), hash_detail::index_entry(r, 2));
    int32_t key = hash_detail::bucket_key(r, hash_detail::index_entry(r, 0) - 1);
    ASSERT_LT(key, 0);
    NodeId chain = hash_detail::chain_of(r, key);
    EXPECT_EQ(node_buffer(chain)->used(), 12u);

    Cell upper = string_value(U"ABC");
    EXPECT_EQ(h.find(upper, 0, 1, CompareOp::equal, false, false), 0);
    EXPECT_EQ(h.find(upper, 0, 1, CompareOp::strict_equal, false, false), 2);  // strict: only the member spelt so
    EXPECT_EQ(h.find(upper, 1, 1, CompareOp::equal, false, false), 2);

    // A copy is independent of its source, chains included.
    NodeId copy_block = copy_series_buffer(node_buffer(h.block));
    NodeId copy = hash_duplicate(h.table, copy_block);
    h.remove_at(0, false);
    EXPECT_EQ(found_index(copy_block, hash_find_options(copy, &upper, 0, 1, CompareOp::strict_equal, false, false)), 2);
    EXPECT_EQ(found_index(copy_block, hash_find_options(copy, &upper, 0, 1, CompareOp::equal, true, false)), 3);
    EXPECT_EQ(h.find(upper, 0, 1, CompareOp::equal, true, false), 2);
}

TEST_F(Hash, ShiftingManyCellsAsksForARebuild) {
    HashBlock h;
    for (int i = 0; i < 5; i++) h.append(integer(i));
    std::vector<uint8_t> before(node_buffer(hash_record(h.table)->keys)->data(),
                                node_buffer(hash_record(h.table)->keys)->data() + 32);
    EXPECT_EQ(hash_shift_indexes(h.table, 1, 0, 30001, true), 1);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), node_buffer(hash_record(h.table)->keys)->data()));
    EXPECT_EQ(hash_shift_indexes(h.table, -3, 1, 4, false), 1);  // would move cells before the head
}

// ---------------------------------------------------------------------------
// map! tables

TEST_F(Hash, MapKeepsOnePairPerKeyWithTheLaterValue) {
    NodeId block = alloc_cells(8);
    for (int32_t v : {1, 10, 2, 20, 1, 11, 3, 30}) push_cell(block, integer(v));
    Cell series;
    make_series(&series, TYPE_BLOCK, block);
    NodeId t = hash_make(4, &series, HASH_MAP, 0);
    ASSERT_EQ(block_length(block), 6u);
    EXPECT_EQ(hash_count(t), 3);
    EXPECT_EQ(cell_int(cell_at(block, 1)), 11);
    EXPECT_EQ(cell_int(cell_at(block, 4)), 3);

    // Word keys are stored as set-words and looked up in any word kind.
    push_cell(block, Cell{TYPE_SET_WORD, 0, 5, 0});
    push_cell(block, integer(50));
    hash_insert_cell(t, 6);
    Cell word{TYPE_GET_WORD, 0, 5, 0};
    EXPECT_EQ(found_index(block, hash_find_options(t, &word, 0, 1, CompareOp::equal, false, false)), 6);

    // Removing marks the pair: the count drops once, the bucket stays.
    int32_t occupied = hash_record(t)->n_occupied;
    hash_delete(t, 2);
    hash_delete(t, 2);
    EXPECT_EQ(hash_count(t), 3);
    EXPECT_EQ(cell_at(block, 3)->header, 0u);
    EXPECT_EQ(hash_record(t)->n_occupied, occupied);
    Cell two = integer(2);
    EXPECT_EQ(found_index(block, hash_find_options(t, &two, 0, 1, CompareOp::strict_equal, false, false)), 2);

    HashProbe probe;
    Cell one = integer(1);
    EXPECT_EQ(found_index(block, hash_compare_maps(t, &one, probe)), 0);
    EXPECT_EQ(hash_compare_maps(t, &one, probe), nullptr);
    EXPECT_EQ(hash_compare_maps(t, &one, probe), nullptr);
}

TEST_F(Hash, MapAgreesWithAModelThroughGrowth) {
    std::mt19937 rng(3);
    NodeId block = alloc_cells(4);
    Cell series;
    make_series(&series, TYPE_BLOCK, block);
    NodeId t = hash_make(0, &series, HASH_MAP, 0);
    std::unordered_map<int32_t, int32_t> model;
    for (int step = 0; step < 6000; step++) {
        Cell key = integer(int32_t(rng() % 1500));
        Cell* found = hash_find_options(t, &key, 0, 1, CompareOp::equal, false, false);
        int32_t at = found_index(block, found);
        if (rng() % 4 == 0) {
            if (at >= 0) hash_delete(t, uint32_t(at));
            model.erase(cell_int(&key));
            continue;
        }
        int32_t value = int32_t(rng());
        if (at < 0) {
            push_cell(block, key);
            push_cell(block, integer(value));
            hash_insert_cell(t, block_length(block) - 2);
        } else {
            if (cell_at(block, uint32_t(at) + 1)->header == 0) hash_record(t)->size++;
            *cell_at(block, uint32_t(at) + 1) = integer(value);
        }
        model[cell_int(&key)] = value;
    }
    EXPECT_EQ(size_t(hash_count(t)), model.size());
    EXPECT_GE(hash_record(t)->n_buckets, 2048);
    expect_sound_buckets(t);
    for (int32_t k = 0; k < 1500; k++) {
        Cell key = integer(k);
        Cell* found = hash_find_options(t, &key, 0, 1, CompareOp::equal, false, false);
        bool live = found && found[1].header != 0;
        ASSERT_EQ(live, model.count(k) == 1) << k;
        if (live) {
            EXPECT_EQ(cell_int(found + 1), model[k]);
        }
    }
}

// ---------------------------------------------------------------------------
// Pointer-keyed tables

TEST_F(Hash, PointerTablesAgreeWithAModel) {
    std::mt19937 rng(4);
    NodeId t = hash_make(0, nullptr, HASH_OWNERSHIP, 3);
    EXPECT_EQ(hash_record(t)->indexes, 64u);
    std::unordered_map<uint32_t, uint32_t> model;
    for (int step = 0; step < 8000; step++) {
        uint32_t key = 1 + rng() % 2000;
        if (rng() % 3 == 0) {
            Cell* v = hash_remove_key(t, key);
            ASSERT_EQ(v != nullptr, model.erase(key) == 1);
            if (v) {
                EXPECT_EQ(v[-1].header, 0u);
            }
            continue;
        }
        bool fresh = !model.count(key);
        Cell* v = hash_put(t, key);
        if (fresh) {
            for (int c = -1; c < 3; c++) EXPECT_EQ(v[c].header, uint32_t(TYPE_UNSET));
        }
        v[1] = integer(int32_t(step));
        model[key] = uint32_t(step);
    }
    EXPECT_EQ(size_t(hash_count(t)), model.size());
    expect_sound_buckets(t);
    for (uint32_t key = 1; key <= 2000; key++) {
        Cell* v = hash_get(t, key);
        ASSERT_EQ(v != nullptr, model.count(key) == 1) << key;
        if (v) {
            EXPECT_EQ(uint32_t(cell_int(v + 1)), model[key]);
        }
    }
}

TEST_F(Hash, ARemovedKeysEntryIsReused) {
    NodeId t = hash_make(0, nullptr, HASH_POINTERS, 1);
    hash_put(t, 11);
    Cell* first = hash_put(t, 22);
    ptrdiff_t offset = first - cell_at(hash_record(t)->block, 0);
    uint32_t used = node_buffer(hash_record(t)->block)->used();
    hash_remove_key(t, 22);
    EXPECT_EQ(hash_get(t, 22), nullptr);
    Cell* again = hash_put(t, 22);
    EXPECT_EQ(again - cell_at(hash_record(t)->block, 0), offset);
    EXPECT_EQ(node_buffer(hash_record(t)->block)->used(), used);
}

TEST_F(Hash, PointerTablesReindexAfterNodesMovedButNotDuringACollection) {
    NodeId t = hash_make(0, nullptr, HASH_POINTERS, 1);
    collector_switch.active = true;
    for (uint32_t k = 1; k <= 40; k++) hash_put(t, k)->data2 = k * 100;
    // A collection re-pointed the keys (here: to k + 1000) while evacuating nodes.
    const HashRecord* r = hash_record(t);
    for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++)
        if (state_of(t, i) == hash_detail::BUCKET_LIVE) hash_detail::entry_at(r, hash_detail::key_words(r)[i])->data1 += 1000;
    node_evacuation.count++;

    collector_switch.running = true;  // no re-indexing inside the collection
    hash_get(t, 1001);
    EXPECT_EQ(hash_record(t)->stamp, 1);
    collector_switch.running = false;

    for (uint32_t k = 1; k <= 40; k++) {
        Cell* v = hash_get(t, k + 1000);
        ASSERT_NE(v, nullptr) << k;
        EXPECT_EQ(v->data2, k * 100);
    }
    EXPECT_EQ(hash_record(t)->stamp, 2);
}

TEST_F(Hash, HashOfBlocksRebuildsAtFirstLookupAfterNodesMoved) {
    HashBlock h;
    std::vector<NodeId> series;
    for (int i = 0; i < 20; i++) {
        series.push_back(alloc_cells(1));
        Cell b;
        make_series(&b, TYPE_BLOCK, series.back());
        h.append(b);
        h.append(integer(i));
    }
    EXPECT_EQ(hash_record(h.table)->stamp, 1);
    collector_switch.active = true;
    // Nodes moved: every block cell now names another node id.
    for (uint32_t i = 0; i < 40; i += 2) cell_at(h.block, i)->data2 += 100000;
    node_evacuation.count++;
    collector_switch.running = true;
    h.find(*cell_at(h.block, 10), 0, 1, CompareOp::equal, false, false);
    EXPECT_EQ(hash_record(h.table)->stamp, 1);  // stale until the collection is over
    collector_switch.running = false;
    for (uint32_t i = 0; i < 40; i += 2)
        EXPECT_EQ(h.find(*cell_at(h.block, i), 0, 1, CompareOp::equal, false, false), int32_t(i));
    EXPECT_EQ(hash_record(h.table)->stamp, 2);
    EXPECT_TRUE(node_evacuation.enabled);
}

TEST_F(Hash, AThrowDuringARebuildRestoresEvacuation) {
    HashBlock h;
    for (char32_t c : std::u32string(U"abcdef")) h.append(string_value(std::u32string(1, c)));
    h.append(string_value(U"C"));  // a group, so the rebuild compares
    hash_compare_slots[TYPE_STRING] = [](Cell* a, Cell*, CompareOp) -> int32_t {
        fire(Err::script_invalid_compare, *a, *a);
    };
    EXPECT_THROW(hash_resize(h.table, 64), KemError);
    EXPECT_TRUE(node_evacuation.enabled);
}

// ---------------------------------------------------------------------------
// Collector support

std::vector<uint32_t> marked;
bool test_mark_node(uint32_t* slot) {
    if (*slot >= 50000000) *slot -= 50000000;  // a relocated node
    SeriesBuffer* b = node_buffer(*slot);
    if (b->flags & SERIES_MARK) return false;
    b->flags |= SERIES_MARK;
    marked.push_back(*slot);
    return true;
}
void test_mark_cells(NodeId node) { marked.push_back(~node); }

TEST_F(Hash, MarkingReachesEverySeriesOfATable) {
    HashBlock h;
    for (int32_t v : {1, 2, 1, 3, 1}) h.append(integer(v));
    HashRecord* r = hash_record(h.table);
    std::vector<uint32_t> expected = {h.table, r->indexes, r->chains, r->flags, r->keys, h.block,
                                      hash_detail::chain_list(r)[0]};
    marked.clear();
    NodeId slot = h.table;
    hash_mark(&slot, HashMarker{test_mark_node, test_mark_cells});
    for (uint32_t n : expected) EXPECT_NE(std::find(marked.begin(), marked.end(), n), marked.end()) << n;
    EXPECT_NE(std::find(marked.begin(), marked.end(), ~h.block), marked.end());

    // Ownership: keys are marked (with their cells when they hold cells) and
    // re-pointed; after marking, entries whose owner died are swept.
    NodeId own = hash_make(0, nullptr, HASH_OWNERSHIP, 3);
    NodeId owned_block = alloc_cells(1), owned_text = alloc_bytes(4), owner_alive = alloc_cells(1),
           owner_dead = alloc_cells(1);
    hash_put(own, owned_block)[1] = Cell{TYPE_OBJECT, owner_alive, 0, 0};
    hash_put(own, owned_text)[1] = Cell{TYPE_OBJECT, owner_dead, 0, 0};
    hash_record(own)->stamp = 0;  // relocation below must not trigger a re-index in this test
    Cell* entry = hash_get(own, owned_block) - 1;
    entry->data1 += 50000000;
    marked.clear();
    slot = own;
    hash_mark(&slot, HashMarker{test_mark_node, test_mark_cells});
    EXPECT_EQ(entry->data1, owned_block);
    EXPECT_NE(std::find(marked.begin(), marked.end(), ~owned_block), marked.end());
    EXPECT_EQ(std::find(marked.begin(), marked.end(), ~owned_text), marked.end());
    node_buffer(owner_alive)->flags |= SERIES_MARK;
    hash_sweep(own);
    EXPECT_EQ(hash_count(own), 1);
    EXPECT_NE(hash_get(own, owned_block), nullptr);
    EXPECT_EQ(hash_get(own, owned_text), nullptr);
}

// ---------------------------------------------------------------------------
// Symbols and context words

NodeId symbol_table = 0;
uint32_t resolve_in_table(uint32_t id) {
    int32_t alias = int32_t(cell_at(hash_record(symbol_table)->block, id - 1)->data1);
    return alias > 0 ? uint32_t(alias) : id;
}
uint32_t intern(const std::string& s, bool any_case = false) {
    return symbol_table_find(symbol_table, reinterpret_cast<const uint8_t*>(s.data()), uint32_t(s.size()), any_case);
}

TEST_F(Hash, SymbolsInternOnceAndAliasTheirCaseVariants) {
    symbol_table = hash_make(16, nullptr, HASH_SYMBOLS, 0);
    hash_key_hooks.resolve_symbol = resolve_in_table;
    uint32_t print = intern("print"), Print = intern("Print"), PRINT = intern("PRINT");
    EXPECT_EQ(print, 1u);
    EXPECT_EQ(intern("print"), print);
    EXPECT_EQ(resolve_in_table(Print), print);
    EXPECT_EQ(resolve_in_table(PRINT), print);
    EXPECT_EQ(resolve_in_table(intern("pRiNt", true)), print);  // any spelling will do
    EXPECT_EQ(block_length(hash_record(symbol_table)->block), 3u);
    // A rehash may put a variant before its canonical spelling in the chain;
    // a new variant still aliases the canonical one.
    {
        HashRecord* r = hash_record(symbol_table);
        std::vector<uint32_t> at;
        for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++)
            if (state_of(symbol_table, i) == hash_detail::BUCKET_LIVE) at.push_back(i);
        ASSERT_EQ(at.size(), 3u);  // the three spellings, which hash alike
        int32_t* keys = hash_detail::key_words(r);
        std::swap(keys[at[0]], keys[at[2]]);
        EXPECT_EQ(int32_t(cell_at(r->block, intern("PRInt") - 1)->data1), int32_t(print));
    }
    uint32_t e_small = intern("\xC3\xA9t\xC3\xA9"), e_capital = intern("\xC3\x89t\xC3\xA9");
    EXPECT_EQ(resolve_in_table(e_capital), e_capital);
    EXPECT_NE(e_small, e_capital);
    uint32_t empty = intern("");
    Cell* sym = cell_at(hash_record(symbol_table)->block, empty - 1);
    EXPECT_EQ(sym->header, uint32_t(TYPE_SYMBOL));
    EXPECT_EQ(node_buffer(sym->data3)->used(), 0u);

    // Through several 16-fold growths every name keeps its id.
    std::vector<uint32_t> ids;
    for (int i = 0; i < 3000; i++) ids.push_back(intern("name" + std::to_string(i)));
    EXPECT_GT(hash_record(symbol_table)->n_buckets, 4096);
    expect_sound_buckets(symbol_table);
    for (int i = 0; i < 3000; i++) ASSERT_EQ(intern("NAME" + std::to_string(i), true), ids[size_t(i)]);
    EXPECT_EQ(intern("Print"), Print);
    const char* stored = reinterpret_cast<const char*>(node_buffer(cell_at(hash_record(symbol_table)->block, Print - 1)->data3)->head_ptr());
    EXPECT_STREQ(stored, "Print");  // zero byte after the name

    // Context words: exact lookups tell case variants apart, caseless ones do not.
    NodeId words = hash_make(0, nullptr, HASH_SYMBOLS, 0);
    const NodeId context = 77;
    int32_t at = -5;
    EXPECT_EQ(hash_symbol_find(words, print, false, context, &at), -1);
    EXPECT_EQ(at, 0);
    EXPECT_EQ(hash_symbol_find(words, Print, false, 0, &at), -1);
    EXPECT_EQ(hash_symbol_find(words, Print, true, 0, &at), 0);
    for (uint32_t i = 0; i < 50; i++) hash_symbol_find(words, ids[i], false, context, &at);
    EXPECT_EQ(at, 50);
    Cell* word = cell_at(hash_record(words)->block, 50);
    EXPECT_EQ(word->header, uint32_t(TYPE_WORD));
    EXPECT_EQ(word->data1, context);
    EXPECT_EQ(word->data2, ids[49]);
    EXPECT_EQ(word->data3, 50u);
    for (uint32_t i = 0; i < 50; i++) EXPECT_EQ(hash_symbol_find(words, ids[i], false, 0, nullptr), int32_t(i + 1));

    // A copied context table has its own word block.
    Cell source;
    make_series(&source, TYPE_BLOCK, words);
    NodeId copy = hash_make(0, &source, HASH_SYMBOLS, 2);
    hash_symbol_find(copy, Print, false, context, &at);
    EXPECT_EQ(hash_symbol_find(words, Print, false, 0, nullptr), -1);
    EXPECT_EQ(hash_symbol_find(copy, ids[10], false, 0, nullptr), 11);
}

// ---------------------------------------------------------------------------
// Integer tables

TEST_F(Hash, IntegerTablesAgreeWithAModel) {
    std::mt19937 rng(5);
    IntTable* t = int_table_make(20);
    std::unordered_map<uint32_t, uint32_t> model;
    for (int i = 0; i < 100000; i++) {
        uint32_t key = rng() % 60000, value = rng();
        int_table_put(t, key, value);
        model[key] = value;
    }
    EXPECT_EQ(size_t(t->size), model.size());
    EXPECT_LT(t->n_occupied, t->upper_bound + 1);
    for (uint32_t key = 0; key < 61000; key++) {
        uint32_t* v = int_table_get(t, key);
        ASSERT_EQ(v != nullptr, model.count(key) == 1) << key;
        if (v) {
            EXPECT_EQ(*v, model[key]);
        }
        EXPECT_EQ(int_table_find(t, key) >= 0, v != nullptr);
    }
    int_table_free(t);
}

// ---------------------------------------------------------------------------
// Debug listing

TEST_F(Hash, DumpListsDeletedThenLiveBuckets) {
    NodeId t = hash_make(0, nullptr, HASH_POINTERS, 2);
    hash_put(t, 5)[0] = integer(1);
    hash_put(t, 6);
    hash_remove_key(t, 6);
    char* text_out = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text_out, &size);
    hash_dump(t, out);
    std::fclose(out);
    EXPECT_STREQ(text_out, "\n== Deleted keys ==\n6 2 2\n== Alive keys ==\n5 11 2\n");
    std::free(text_out);
}

} // namespace
