// Series ownership: linking series to their owner object, unlinking them, and
// the check the modifying series actions make.
#include <string>
#include "eval_support.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/hashtable.h"

namespace kem {
namespace {

class OwnershipTest : public ::testing::Test {
protected:
    void SetUp() override {
        boot_all();
        stack::init();
        last_throw_code = 0;
        ownership_init();
    }
    void TearDown() override {
        last_throw_code = 0;
        stack::init();
    }
    Cell eval(const std::string& source) {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()), false, true, true,
                   true, nullptr, nullptr, nullptr, nullptr);
        Cell body = *code;
        interp::eval_block(&body, false);
        return *(stack::top - 1);
    }
    static bool owned(const Cell& series) { return (series_buffer(&series)->flags & SERIES_OWNED) != 0; }
};

TEST_F(OwnershipTest, BindLinksNestedSeriesOnceEvenInACycle) {
    // An owner without handlers: nothing is called, only linked.
    const Cell owner = eval("make object! [x: 1]");
    const Cell blk = eval("b: [1 \"s\" [2]] append/only b b b");
    const Cell field = word_load("x");
    const int32_t before = hash_count(ownership_table);
    ownership_bind(&blk, &owner, &field);
    EXPECT_EQ(hash_count(ownership_table), before + 3) << "the block, its string and inner block; itself once";
    const Cell text = *block_rs_abs_at(&blk, 1);
    const Cell inner = *block_rs_abs_at(&blk, 2);
    EXPECT_TRUE(owned(blk));
    EXPECT_TRUE(owned(text));
    EXPECT_TRUE(owned(inner));
    const Cell* entry = ownership_find_owner(series_node(&inner));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry[0].data1, owner.data1);
    EXPECT_EQ(entry[1].data2, field.data2);
    EXPECT_TRUE(context_cell(object_context(&owner))->header & CONTEXT_OWNER_FLAG);
    EXPECT_FALSE(ownership_check(&blk, &rt_words.append, nullptr, -1, -1)) << "no handlers, no call";

    ownership_unbind(&blk);
    EXPECT_EQ(hash_count(ownership_table), before);
    EXPECT_FALSE(owned(blk));
    EXPECT_FALSE(owned(text));
    EXPECT_FALSE(owned(inner));
    EXPECT_EQ(ownership_find_owner(series_node(&inner)), nullptr);
}

TEST_F(OwnershipTest, ObjectsAreWalkedWithTheirOwnWords) {
    const Cell owner = eval("make object! [x: 1]");
    const Cell inner = eval("inner: make object! [list: [1] bits: make bitset! [1 2]] inner");
    ownership_bind(&inner, &owner, &none_value);
    const Cell list = eval("inner/list");
    const Cell bits = eval("inner/bits");
    const Cell* entry = ownership_find_owner(series_node(&list));
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry[0].data1, owner.data1);
    EXPECT_EQ(std::string(symbol_name(entry[1].data2)), "list");
    ASSERT_NE(ownership_find_owner(series_node(&bits)), nullptr) << "a bitset! is recorded";
    ownership_unbind(&inner);
    EXPECT_EQ(ownership_find_owner(series_node(&list)), nullptr);
    EXPECT_EQ(ownership_find_owner(series_node(&bits)), nullptr);
}

TEST_F(OwnershipTest, SeriesActionsReachTheOwnersDeepHandler) {
    test::expect_runs({
        {"log: copy [] o: make object! [b: [3 1 2] on-deep-change*: func [own w t act new idx part] "
         "[append log act]] reverse o/b log",
         "[reverse reversed]"},
        {"log: copy [] o: make object! [b: [1 2] on-deep-change*: func [own w t act new idx part] "
         "[append log reduce [w new idx part]]] poke o/b 2 9 log",
         "[b 9 1 1 b 9 1 1]"},
        {"log: copy [] o: make object! [b: [1 2] on-deep-change*: func [own w t act new idx part] "
         "[append log act]] modify o 'owned none clear o/b log",
         "[]"},
        {"log: copy [] b: [1] o: make object! [on-deep-change*: func [own w t act new idx part] "
         "[append log w]] modify o 'owned reduce [b 'field] append b 2 log",
         "[field field]"},
        {"o: make object! [b: [1] on-deep-change*: func [own w t act new idx part] [1 / 0]] append o/b 2",
         "error math/zero-divide"},
    });
}

} // namespace
} // namespace kem
