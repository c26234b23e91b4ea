// Letter case: the simple (one-to-one) Unicode case mappings. Every
// case-insensitive text operation folds through change_case; symbol names fold
// ASCII only and do not use it.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

// Per BMP code point the mapped code point, or 0 when it maps to itself.
extern int32_t case_upper_table[0x10000];
extern int32_t case_lower_table[0x10000];

// Fills both BMP tables; runs once at start-up, before any case folding.
void case_tables_init();

// Beyond the BMP: the mapping from the sorted supplementary pair list.
int32_t change_case_beyond_bmp(int32_t cp, bool upper);

inline int32_t change_case(int32_t cp, bool upper) {
    if (uint32_t(cp) <= 0xFFFF) {
        int32_t v = (upper ? case_upper_table : case_lower_table)[cp];
        return v ? v : cp;
    }
    return change_case_beyond_bmp(cp, upper);
}

// Changes a char! or a string kind in place (uppercase and lowercase natives).
// part: null or none! for the rest of the string, an integer! count, or a string
// of the same type on the same buffer (up to its position); anything else raises
// script invalid-refine-arg with part_word (the word `part`) and the argument.
// A string is widened when a mapped code point needs a wider unit. Returns the
// number of units the change covered (1 for a char!); the caller reports the
// change to the series' owner with that count.
int32_t change_case_value(Cell* value, const Cell* part, bool upper, const Cell& part_word);

} // namespace kem
