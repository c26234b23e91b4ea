// The comparison operators a datatype's compare entry answers: the
// comparison natives, sort, find and select, and map keys all ask through
// these. The values are the operator codes of the compare slot.
#pragma once
#include "runtime/core/compare_op.h"
#include <cstdint>

namespace kem {

enum class CompareOp : int32_t {
    equal = 0,
    not_equal = 1,
    strict_equal = 2,
    lesser = 3,
    lesser_or_equal = 4,
    greater = 5,
    greater_or_equal = 6,
    sort = 7,       // ordering for sort
    case_sort = 8,  // case-sensitive ordering for sort
    same = 9,       // sameness (same?)
    spelling = 10,  // words: the same spelling exactly
    caseless = 11,  // words: the same spelling, letter case aside
    find = 12,      // the equality of find and select
};

// The operators whose answer is only "equal or not" (not-equal aside).
constexpr bool compare_asks_equal(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::strict_equal || op == CompareOp::same ||
           op == CompareOp::spelling || op == CompareOp::caseless || op == CompareOp::find;
}

// The operators that values without an order answer: the equalities,
// sameness and the grouping of sort; not the orderings nor the word spellings.
constexpr bool compare_unordered(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
           op == CompareOp::sort || op == CompareOp::case_sort || op == CompareOp::same || op == CompareOp::find;
}

} // namespace kem
