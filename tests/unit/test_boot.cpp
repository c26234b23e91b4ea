#include <gtest/gtest.h>
#include <string>
#include "environment/startup.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"

using namespace kem;

TEST(Boot, RuntimeWordsAreInternedAndBound) {
    init_runtime();
    struct { const Cell& word; const char* text; } cases[] = {
        {rt_words.append, "append"},       {rt_words.put_ed, "put-ed"},     {rt_words.anon_frame, "<anon>"},
        {rt_words.on_change_star, "on-change*"}, {rt_words.head_q, "head?"}, {rt_words.lexer_callback, "<lexer-callback>"},
    };
    for (auto& c : cases) {
        EXPECT_EQ(type_of(&c.word), TYPE_WORD);
        EXPECT_NE(c.word.data1, 0u) << c.text;  // bound to the global context
        EXPECT_EQ(symbol_name(c.word.data2), c.text);
    }
    EXPECT_EQ(symbol_name(rt_symbols.bar), "|");
    EXPECT_EQ(symbol_name(rt_symbols.logic_type), "logic!");
    EXPECT_EQ(type_of(&rt_refinements.part), TYPE_REFINEMENT);
    EXPECT_EQ(symbol_name(rt_refinements.part.data2), "part");
    EXPECT_EQ(type_of(&rt_issue_ooo), TYPE_ISSUE);
    EXPECT_EQ(stack::anon_symbol, rt_words.anon_frame.data2);
    EXPECT_EQ(stack::body_symbol, rt_words.body_frame.data2);
}

TEST(Boot, EveryDatatypeHasItsWord) {
    init_runtime();
    for (int id = 1; id <= highest_type_id; id++) {
        if (!datatype_names[id].name) continue;
        const Cell& w = datatype_names[id].word;
        EXPECT_EQ(type_of(&w), TYPE_WORD) << id;
        EXPECT_EQ(symbol_name(w.data2), datatype_names[id].name);
    }
}

TEST(Boot, StartUpWordsAreKeptInTheRootBlock) {
    init_runtime();
    // Every word made while start-up word mode is on has a copy in the root block.
    const Cell* root = root_block();
    uint32_t n = block_full_length(root);
    bool found = false;
    for (uint32_t i = 0; i < n && !found; i++) {
        const Cell* c = block_rs_abs_at(root, i);
        found = any_word_type(type_of(c)) && c->data2 == rt_words.swaped.data2;
    }
    EXPECT_TRUE(found);
}

TEST(Boot, TextKeysHashWithoutRegardToCaseBeyondAscii) {
    init_runtime();
    EXPECT_EQ(hash_key_hooks.upper_case(0xE9), 0xC9u);   // e acute
    EXPECT_EQ(hash_key_hooks.upper_case(0x3B1), 0x391u); // alpha
    EXPECT_EQ(hash_key_hooks.upper_case('a'), uint32_t('A'));
}
