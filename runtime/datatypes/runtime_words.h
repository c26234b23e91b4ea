// The runtime's own symbols and words, made once at start-up.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

// Symbol ids of the names runtime code compares against.
struct RuntimeSymbols {
#define KEM_SYMBOL(name, text) uint32_t name;
#define KEM_WORD(name, text)
#include "runtime/datatypes/runtime_words.def"
#undef KEM_SYMBOL
#undef KEM_WORD
};

// Words bound to the global context: change reports, frame names, events.
struct RuntimeWords {
#define KEM_SYMBOL(name, text)
#define KEM_WORD(name, text) Cell name;
#include "runtime/datatypes/runtime_words.def"
#undef KEM_SYMBOL
#undef KEM_WORD
};

struct RuntimeRefinements {
    Cell local, extern_, compare, part, skip, with;
};

extern RuntimeSymbols rt_symbols;
extern RuntimeWords rt_words;
extern RuntimeRefinements rt_refinements;
extern Cell rt_issue_ooo;

// Gives every registered datatype its word in the name table.
void init_datatype_words();
void init_runtime_words();
void init_refinement_words();
void init_runtime_issue();

} // namespace kem
