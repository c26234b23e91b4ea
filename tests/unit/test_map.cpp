#include <gtest/gtest.h>
#include <climits>
#include <initializer_list>
#include <string>
#include <vector>
#include "environment/startup.h"
#include "number_support.h"
#include "runtime/core/cycle.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hashtable.h"

using namespace kem;
using kem::test::error_of;
using kem::test::F;
using kem::test::I;
using kem::test::W;
using kem::test::SW;
using kem::test::B;
using kem::test::NONE;

namespace {

Cell DT(uint8_t t) { return Cell{TYPE_DATATYPE, t, 0, 0}; }
Cell S(const char* text, uint8_t type = TYPE_STRING) {
    Cell s;
    string_make_utf8(&s, text);
    set_type(&s, type);
    return s;
}

std::string str(const Cell& s) {
    SeriesBuffer* b = series_buffer(&s);
    uint32_t unit = unit_bytes(b);
    std::string out;
    for (uint32_t i = std::max(series_position(&s), 0); i < b->used() / unit; i++)
        out += char(string_char_at(&s, i));
    return out;
}

struct MoldFlags {
    bool only = false;
    bool flat = false;
    bool form = false;
};
std::string text(Cell v, MoldFlags f = {}) {
    Cell buf;
    string_make_at(&buf, 16);
    if (f.form) form_direct(&v, &buf, nullptr, INT32_MAX);
    else mold_direct(&v, &buf, MoldArgs{.only = f.only, .flat = f.flat}, INT32_MAX, 0);
    return str(buf);
}

Cell make_map(Cell spec) {
    Cell proto = DT(TYPE_MAP);
    return *make_direct(&proto, &spec);
}
Cell to_map(Cell spec) {
    Cell proto = DT(TYPE_MAP);
    return *to_direct(&proto, &spec);
}

Cell sel(Cell m, Cell key, bool case_ = false, bool same = false) {
    return *map_select(&m, &key, SelectArgs{.case_ = case_, .same = same});
}
Cell fnd(Cell m, Cell key, bool case_ = false) { return *map_find(&m, &key, FindArgs{.case_ = case_}); }
void put(Cell m, Cell key, Cell value, bool case_ = false) { map_put(&m, &key, &value, PutArgs{.case_ = case_}); }
void remove_key(Cell m, Cell key) { map_remove(&m, RemoveArgs{.key = &key}); }
Cell reflect(Cell m, const char* field) { return *map_reflect(&m, int32_t(symbol_make(field))); }
uint8_t T(Cell c) { return type_of(&c); }
int32_t N(Cell c) { return cell_int(&c); }
int32_t length(Cell m) { return length_q_direct(&m); }
uint32_t storage_cells(const Cell& m) { return node_buffer(map_storage(&m))->used() / 16; }

class Map : public ::testing::Test {
protected:
    void SetUp() override {
        init_runtime();
        words_init();
        stack::init();
        cycle_reset();
    }
    void TearDown() override { cycle_reset(); }
};

TEST_F(Map, MakeFromBlockKeepsOrderAndFoldsRepeatedKeys) {
    Cell m = make_map(B({W("a"), I(1), W("b"), I(2)}));
    EXPECT_EQ(type_of(&m), TYPE_MAP);
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(text(m), "#[\n    a: 1\n    b: 2\n]");

    Cell twice = make_map(B({W("a"), I(1), W("b"), I(2), W("a", TYPE_LIT_WORD), I(3)}));
    EXPECT_EQ(length(twice), 2);
    EXPECT_EQ(storage_cells(twice), 4u);
    EXPECT_EQ(text(twice, {.flat = true}), "#[a: 3 b: 2]");

    // The source block is copied from its position, new-line markers dropped.
    Cell src = B({I(0), W("x"), I(9)});
    block_rs_abs_at(&src, 1)->header |= HEADER_NEW_LINE;
    src.data1 = 1;
    Cell from_pos = make_map(src);
    EXPECT_EQ(text(from_pos, {.flat = true}), "#[x: 9]");
    put(from_pos, W("y"), I(1));
    EXPECT_EQ(block_full_length(&src), 3u);

    // paren! and hash! sources, and a map! (a copy).
    Cell paren = B({W("p"), I(1)});
    set_type(&paren, TYPE_PAREN);
    EXPECT_EQ(text(make_map(paren), {.flat = true}), "#[p: 1]");
    Cell copy = make_map(m);
    put(copy, W("c"), I(3));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(length(copy), 3);
    EXPECT_EQ(text(to_map(B({S("k"), I(1)})), {.flat = true}), "#[\"k\" 1]");
}

TEST_F(Map, MakeErrorsAndSizes) {
    struct Case {
        Cell spec;
        bool to;
        Err expected;
    } cases[] = {
        {B({W("a"), I(1), W("b")}), false, Err::script_invalid_arg},
        {I(-1), false, Err::script_out_of_range},
        {F(-2.0), false, Err::script_out_of_range},
        {F(1e10), false, Err::script_out_of_range},
        {I(3), true, Err::script_bad_to_arg},
        {S("a"), false, Err::script_bad_to_arg},
        {B({B({}), I(1)}), false, Err::script_invalid_path},
        {B({NONE, I(1)}), false, Err::script_invalid_path},
        // Sizes no buffer can hold end in a catchable error, not in the allocator.
        {I(INT32_MAX), false, Err::internal_no_memory},
        {I(100000000), false, Err::internal_no_memory},
        {F(1e9), false, Err::internal_no_memory},
    };
    for (const Case& c : cases)
        EXPECT_EQ(error_of([&] { c.to ? to_map(c.spec) : make_map(c.spec); }), c.expected) << text(c.spec);
    Cell out;
    EXPECT_EQ(error_of([&] { map_make_at(&out, nullptr, -5); }), Err::script_out_of_range);

    for (Cell size : {I(0), I(1000), F(3.7)}) {
        Cell m = make_map(size);
        EXPECT_EQ(length(m), 0);
        EXPECT_EQ(text(m), "#[]");
        put(m, W("k"), I(1));
        EXPECT_EQ(length(m), 1);
    }
}

TEST_F(Map, KeysAreNormalised) {
    Cell m = make_map(B({}));
    // Every word kind is stored as a set-word and found by any kind.
    put(m, W("a"), I(1));
    put(m, W("b", TYPE_LIT_WORD), I(2));
    put(m, W("c", TYPE_GET_WORD), I(3));
    put(m, SW("d"), I(4));
    put(m, W("e", TYPE_REFINEMENT), I(5));
    EXPECT_EQ(text(m, {.flat = true}), "#[a: 1 b: 2 c: 3 d: 4 /e 5]");
    for (const char* n : {"a", "b", "c", "d"}) {
        for (uint8_t kind : {TYPE_WORD, TYPE_SET_WORD, TYPE_LIT_WORD, TYPE_GET_WORD}) {
            Cell k = fnd(m, W(n, kind));
            EXPECT_EQ(type_of(&k), TYPE_WORD) << n;
            EXPECT_EQ(k.data2, W(n).data2);
        }
    }
    // A refinement is not a word key, nor a word a refinement key.
    EXPECT_EQ(T(sel(m, W("e"))), TYPE_NONE);
    EXPECT_EQ(N(sel(m, W("e", TYPE_REFINEMENT))), 5);

    // Series keys are private copies, taken from their position.
    Cell s = S("key");
    Cell f = S("dir/file", TYPE_FILE);
    f.data1 = 4;
    put(m, s, I(6));
    put(m, f, I(7));
    string_append_char(&s, 'x');
    EXPECT_EQ(N(sel(m, S("key"))), 6);
    EXPECT_EQ(T(sel(m, S("keyx"))), TYPE_NONE);
    EXPECT_EQ(N(sel(m, S("file", TYPE_FILE))), 7);
    // Other string kinds are other keys.
    EXPECT_EQ(T(sel(m, S("file"))), TYPE_NONE);

    Cell path = B({W("m"), B({})});
    set_type(&path, TYPE_PATH);
    for (Cell bad : {B({}), NONE, DT(TYPE_INTEGER), make_map(B({}))}) {
        try {
            Cell k = bad, v = I(0);
            map_eval_path(&m, &k, &v, PathStep{.path = &path, .index = 1, .last = true});
            ADD_FAILURE() << "accepted a key of type " << int(type_of(&bad));
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_invalid_path);
            EXPECT_EQ(type_of(&e.args[0]), TYPE_PATH);
            EXPECT_EQ(e.args[1].data1, type_of(&bad));
        }
    }
    EXPECT_EQ(length(m), 7);
}

TEST_F(Map, CaseRules) {
    Cell m = make_map(B({S("abc"), I(1), W("Word"), I(2)}));
    EXPECT_EQ(N(sel(m, S("ABC"))), 1);
    EXPECT_EQ(T(sel(m, S("ABC"), true)), TYPE_NONE);
    EXPECT_EQ(N(sel(m, W("word"))), 2);
    EXPECT_EQ(T(sel(m, W("word"), true)), TYPE_NONE);
    EXPECT_EQ(T(fnd(m, W("WORD"), true)), TYPE_NONE);
    // Without /case the existing entry takes the value; with it a new key is made.
    put(m, S("ABC"), I(10));
    EXPECT_EQ(length(m), 2);
    put(m, S("ABC"), I(20), true);
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(text(m, {.flat = true}), "#[\"abc\" 10 Word: 2 \"ABC\" 20]");
    EXPECT_EQ(N(sel(m, S("ABC"), true)), 20);
    // remove/key matches exactly.
    remove_key(m, W("word"));
    EXPECT_EQ(length(m), 3);
    remove_key(m, W("Word"));
    EXPECT_EQ(length(m), 2);
    // Keys repeated in a made block differ only when they differ strictly.
    Cell made = make_map(B({W("k"), I(1), W("K"), I(2)}));
    EXPECT_EQ(length(made), 2);
    // /same: a word key matches only the same binding.
    EXPECT_EQ(N(sel(made, W("k"), false, true)), 1);
}

TEST_F(Map, PutSelectRemoveClearKeepOrder) {
    Cell m = make_map(B({W("a"), I(1), W("b"), I(2), W("c"), I(3)}));
    EXPECT_EQ(N(sel(m, W("b"))), 2);
    Cell none_value_stored = NONE;
    put(m, W("b"), none_value_stored);
    EXPECT_EQ(length(m), 3);
    EXPECT_EQ(T(sel(m, W("b"))), TYPE_NONE);

    remove_key(m, W("a"));
    remove_key(m, W("a"));  // a removed entry is not counted twice
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(T(sel(m, W("a"))), TYPE_NONE);
    EXPECT_EQ(T(fnd(m, W("a"))), TYPE_NONE);
    EXPECT_EQ(text(reflect(m, "words"), {.flat = true}), "[b c]");
    EXPECT_EQ(text(reflect(m, "values"), {.flat = true}), "[none 3]");
    EXPECT_EQ(text(m), "#[\n    b: none\n    c: 3\n]");
    EXPECT_EQ(error_of([&] { map_remove(&m, RemoveArgs{}); }), Err::script_missing_arg);

    put(m, W("d"), I(4));
    put(m, W("a"), I(5));  // revives at its old place
    EXPECT_EQ(length(m), 4);
    EXPECT_EQ(storage_cells(m), 8u);
    EXPECT_EQ(text(reflect(m, "body")), "[\n    a: 5\n    b: none\n    c: 3\n    d: 4\n]");
    EXPECT_EQ(error_of([&] { reflect(m, "spec"); }), Err::internal_not_done);

    Cell path_value = I(6);
    Cell key = W("e");
    EXPECT_EQ(cell_int(map_eval_path(&m, &key, &path_value, PathStep{.index = 1, .last = true})), 6);
    EXPECT_EQ(cell_int(map_eval_path(&m, &key, nullptr, PathStep{.index = 1, .last = true})), 6);
    Cell missing = W("zz");
    EXPECT_EQ(type_of(map_eval_path(&m, &missing, nullptr, PathStep{.index = 1, .last = true})), TYPE_NONE);

    clear_direct(&m);
    EXPECT_EQ(length(m), 0);
    EXPECT_EQ(text(m), "#[]");
    EXPECT_EQ(T(sel(m, W("a"))), TYPE_NONE);
    put(m, W("z"), I(1));
    EXPECT_EQ(text(m, {.flat = true}), "#[z: 1]");
}

TEST_F(Map, ManyEntriesSurviveGrowthAndRemovals) {
    Cell m = make_map(I(0));
    for (int i = 0; i < 2000; i++) put(m, I(i), I(i * 10));
    for (int i = 0; i < 2000; i += 2) remove_key(m, I(i));
    EXPECT_EQ(length(m), 1000);
    for (int i = 0; i < 2000; i++) {
        Cell v = sel(m, I(i));
        if (i % 2) EXPECT_EQ(cell_int(&v), i * 10) << i;
        else EXPECT_EQ(type_of(&v), TYPE_NONE) << i;
    }
    Cell words = reflect(m, "words");
    ASSERT_EQ(block_full_length(&words), 1000u);
    for (uint32_t j = 0; j < 1000; j++) EXPECT_EQ(cell_int(block_rs_abs_at(&words, j)), int32_t(2 * j + 1));
    // Revived entries keep their place: the storage does not grow.
    for (int i = 0; i < 2000; i += 2) put(m, I(i), I(-i));
    EXPECT_EQ(length(m), 2000);
    EXPECT_EQ(storage_cells(m), 4000u);
}

TEST_F(Map, MoldAndFormTexts) {
    Cell m = make_map(B({W("a"), I(1), S("s"), S("x")}));
    Cell inner = make_map(B({W("b"), I(2)}));
    Cell outer = make_map(B({W("n"), inner, W("v"), B({I(1), I(2)})}));
    Cell self = make_map(B({W("me"), I(0)}));
    put(self, W("me"), self);
    struct Case {
        Cell value;
        MoldFlags flags;
        const char* expected;
    } cases[] = {
        {m, {}, "#[\n    a: 1\n    \"s\" \"x\"\n]"},
        {m, {.flat = true}, "#[a: 1 \"s\" \"x\"]"},
        {m, {.only = true}, "a: 1\n\"s\" \"x\""},
        {m, {.only = true, .flat = true}, "a: 1 \"s\" \"x\""},
        {m, {.form = true}, "a: 1\n\"s\" \"x\""},
        {make_map(B({})), {}, "#[]"},
        {make_map(B({})), {.only = true}, ""},
        {make_map(B({})), {.form = true}, ""},
        {outer, {}, "#[\n    n: #[\n        b: 2\n    ]\n    v: [1 2]\n]"},
        {outer, {.flat = true}, "#[n: #[b: 2] v: [1 2]]"},
        {outer, {.form = true}, "n: #[\n    b: 2\n]\nv: [1 2]"},
        {self, {}, "#[\n    me: #[...]\n]"},
        {self, {.form = true}, "me: #[...]"},
        {B({self}), {.flat = true}, "[#[me: #[...]]]"},
    };
    for (const Case& c : cases) EXPECT_EQ(text(c.value, c.flags), c.expected);
    EXPECT_EQ(cycle_depth(), 0u);

    // A block met again inside a formed map.
    Cell holder = B({});
    Cell back = make_map(B({W("h"), holder}));
    block_append_cell(&holder, &back);
    EXPECT_EQ(text(holder, {.form = true}), "h: [...]");

    // The part limit stops the pairs once it is used up.
    Cell big = make_map(I(0));
    for (int i = 0; i < 50; i++) put(big, I(i), I(i));
    Cell buf;
    string_make_at(&buf, 16);
    Cell limit = I(10);
    mold_direct(&big, &buf, MoldArgs{.flat = true, .limit = &limit}, 10, 0);
    EXPECT_LT(str(buf).size(), 20u) << str(buf);
    // The counts of what was written agree with the text.
    EXPECT_EQ(kem::test::text_of(m, true), "#[\n    a: 1\n    \"s\" \"x\"\n]");
    EXPECT_EQ(kem::test::text_of(m, false), "a: 1\n\"s\" \"x\"");
}

TEST_F(Map, Compare) {
    Cell a = make_map(B({W("x"), I(1), S("k"), S("v")}));
    Cell same_reordered = make_map(B({S("K"), S("V"), W("X"), I(1)}));
    Cell strict_twin = make_map(B({S("k"), S("v"), W("x"), I(1)}));
    Cell other_value = make_map(B({W("x"), I(2), S("k"), S("v")}));
    Cell shorter = make_map(B({W("x"), I(1)}));
    Cell i = I(1);
    EXPECT_EQ(compare_values(&a, &same_reordered, CompareOp::equal), 0);
    EXPECT_NE(compare_values(&a, &same_reordered, CompareOp::strict_equal), 0);
    EXPECT_EQ(compare_values(&a, &strict_twin, CompareOp::strict_equal), 0);
    EXPECT_NE(compare_values(&a, &other_value, CompareOp::equal), 0);
    EXPECT_NE(compare_values(&a, &shorter, CompareOp::equal), 0);
    EXPECT_TRUE(compare_star(&a, &other_value, CompareOp::not_equal));
    EXPECT_FALSE(compare_star(&a, &same_reordered, CompareOp::not_equal));
    EXPECT_EQ(compare_values(&a, &a, CompareOp::same), 0);
    EXPECT_NE(compare_values(&a, &strict_twin, CompareOp::same), 0);
    EXPECT_EQ(compare_values(&a, &i, CompareOp::equal), -2);
    EXPECT_EQ(compare_values(&a, &shorter, CompareOp::lesser), -2);
    int32_t order = compare_values(&a, &shorter, CompareOp::sort);
    EXPECT_NE(order, 0);
    EXPECT_EQ(compare_values(&shorter, &a, CompareOp::sort), -order);
    EXPECT_EQ(compare_values(&a, &a, CompareOp::case_sort), 0);

    // Removed entries do not count; empty maps are equal.
    Cell trimmed = make_map(B({W("x"), I(1), W("y"), I(2)}));
    remove_key(trimmed, W("y"));
    EXPECT_EQ(compare_values(&trimmed, &shorter, CompareOp::equal), 0);
    Cell e1 = make_map(I(4)), e2 = make_map(B({}));
    EXPECT_EQ(compare_values(&e1, &e2, CompareOp::equal), 0);

    // Maps that contain themselves compare without end.
    Cell s1 = make_map(B({W("me"), I(0)}));
    put(s1, W("me"), s1);
    Cell s2 = make_map(B({W("me"), I(0)}));
    put(s2, W("me"), s2);
    EXPECT_EQ(compare_values(&s1, &s2, CompareOp::equal), 0);
    EXPECT_EQ(cycle_depth(), 0u);
}

TEST_F(Map, CopyIsIndependent) {
    Cell m = make_map(B({W("a"), I(1), W("s"), S("text"), W("gone"), I(0)}));
    remove_key(m, W("gone"));
    Cell copy;
    map_copy(&m, &copy, CopyArgs{});
    EXPECT_NE(map_storage(&copy), map_storage(&m));
    EXPECT_NE(map_table(&copy), map_table(&m));
    put(copy, W("b"), I(2));
    remove_key(copy, W("a"));
    put(m, W("gone"), I(9));
    EXPECT_EQ(text(m, {.flat = true}), "#[a: 1 s: \"text\" gone: 9]");
    EXPECT_EQ(text(copy, {.flat = true}), "#[s: \"text\" b: 2]");

    // Shallow copies share series values; deep ones do not.
    Cell deep;
    map_copy_deep(&m, &deep);
    Cell shallow;
    map_copy(&m, &shallow, CopyArgs{});
    Cell original = sel(m, W("s"));
    string_append_char(&original, '!');
    EXPECT_EQ(str(sel(shallow, W("s"))), "text!");
    EXPECT_EQ(str(sel(deep, W("s"))), "text");
    Cell typed;
    Cell strings = DT(TYPE_STRING);
    map_copy(&m, &typed, CopyArgs{.types = &strings});
    string_append_char(&original, '?');
    EXPECT_EQ(str(sel(typed, W("s"))), "text!");

    Cell self = make_map(B({W("me"), I(0)}));
    put(self, W("me"), self);
    Cell maps;
    typeset_clear(&maps);
    typeset_set_bit(&maps, TYPE_MAP);
    Cell out;
    EXPECT_EQ(error_of([&] { map_copy(&self, &out, CopyArgs{.deep = true, .types = &maps}); }), Err::internal_no_cycle);
}

TEST_F(Map, ExtendAddsPairsInOrder) {
    Cell m = make_map(B({W("a"), I(1)}));
    Cell pairs = B({W("b"), I(2), W("A"), I(3), S("s"), I(4)});
    map_extend(&m, &pairs, false);
    EXPECT_EQ(text(m, {.flat = true}), "#[a: 3 b: 2 \"s\" 4]");
    map_extend(&m, &pairs, true);
    EXPECT_EQ(text(m, {.flat = true}), "#[a: 3 b: 2 \"s\" 4 A: 3]");
    Cell other = make_map(B({W("z"), I(26), W("gone"), I(0)}));
    remove_key(other, W("gone"));
    map_extend(&m, &other, false);
    EXPECT_EQ(length(m), 5);
    Cell odd = B({W("q")});
    EXPECT_EQ(error_of([&] { map_extend(&m, &odd, false); }), Err::script_invalid_arg);
    Cell bad_key = B({B({}), I(1)});
    EXPECT_EQ(error_of([&] { map_extend(&m, &bad_key, false); }), Err::script_invalid_path);
}

TEST_F(Map, ForeachStepSkipsRemovedPairs) {
    Cell m = make_map(B({W("a"), I(1), W("b"), I(2), W("c"), I(3)}));
    remove_key(m, W("b"));
    Cell k = W("loop-k"), v = W("loop-v");
    Cell words = B({k, v});
    std::vector<std::string> seen;
    Cell walker = m;
    while (map_collect_key_words(&words, &walker)) {
        Cell key = *word_value_cell(&k);
        EXPECT_EQ(type_of(&key), TYPE_WORD);
        seen.push_back(std::string(symbol_name(key.data2)) + "=" + std::to_string(cell_int(word_value_cell(&v))));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a=1", "c=3"}));
    EXPECT_EQ(type_of(word_value_cell(&k)), TYPE_NONE);

    // Words beyond the last pair get none.
    Cell three = B({W("loop-1"), W("loop-2"), W("loop-3")});
    Cell one = make_map(B({W("only"), I(7)}));
    EXPECT_TRUE(map_collect_key_words(&three, &one));
    Cell third = W("loop-3");
    EXPECT_EQ(type_of(word_value_cell(&third)), TYPE_NONE);
    EXPECT_FALSE(map_collect_key_words(&three, &one));

    Cell bad = B({W("loop-x"), I(1)});
    Cell fresh = make_map(B({W("a"), I(1)}));
    EXPECT_EQ(error_of([&] { map_collect_key_words(&bad, &fresh); }), Err::script_invalid_arg);
}

TEST_F(Map, LexerEntryBuildsOverTheGivenBlock) {
    Cell blk = B({W("a"), I(1), S("s"), I(2), W("a"), I(3)});
    Cell m;
    map_make_at(&m, &blk, 0);
    EXPECT_EQ(map_storage(&m), series_node(&blk));
    EXPECT_EQ(length(m), 2);
    EXPECT_EQ(text(m, {.flat = true}), "#[a: 3 \"s\" 2]");
    Cell odd = B({W("a")});
    EXPECT_EQ(error_of([&] { map_make_at(&m, &odd, 0); }), Err::script_invalid_arg);
}

} // namespace
