#include "runtime/datatypes/runtime_words.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

RuntimeSymbols rt_symbols;
RuntimeWords rt_words;
RuntimeRefinements rt_refinements;
Cell rt_issue_ooo = {TYPE_NONE, 0, 0, 0};

void init_datatype_words() {
    for (int id = 1; id <= highest_type_id; id++) {
        if (!datatype_names[id].name) continue;
        datatype_names[id].word = word_load(datatype_names[id].name);
        // The word's value is the datatype itself.
        Cell value{TYPE_DATATYPE, uint32_t(id), 0, 0};
        context_set_global(datatype_names[id].word.data2, &value);
    }
}

void init_runtime_words() {
#define KEM_SYMBOL(name, text) rt_symbols.name = symbol_make(text);
#define KEM_WORD(name, text)
#include "runtime/datatypes/runtime_words.def"
#undef KEM_SYMBOL
#undef KEM_WORD
#define KEM_SYMBOL(name, text)
#define KEM_WORD(name, text) rt_words.name = word_load(text);
#include "runtime/datatypes/runtime_words.def"
#undef KEM_SYMBOL
#undef KEM_WORD
    // Frames named by these stand for no called word.
    stack::anon_symbol = rt_words.anon_frame.data2;
    stack::body_symbol = rt_words.body_frame.data2;
}

void init_refinement_words() {
    rt_refinements.local = refinement_load("local");
    rt_refinements.extern_ = refinement_load("extern");
    rt_refinements.compare = refinement_load("compare");
    rt_refinements.part = refinement_load("part");
    rt_refinements.skip = refinement_load("skip");
    rt_refinements.with = refinement_load("with");
    // Errors about /part and /skip arguments of the series actions name the word.
    word_part = word_load("part");
    word_skip = word_load("skip");
}

void init_runtime_issue() { rt_issue_ooo = word_load("ooo", TYPE_ISSUE); }

} // namespace kem
