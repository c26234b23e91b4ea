#include "runtime/interpreter/native_specs.h"
#include <array>

namespace kem {

namespace {

// The indexes written in natives.def, in the order written: they must count
// 1, 2, 3 ... so the table position, the enum and the boot index agree.
constexpr int WRITTEN_INDEXES[] = {
#define KEM_NATIVE(index, cname, word, spec) index,
#include "runtime/interpreter/natives.def"
#undef KEM_NATIVE
};
static_assert(std::size(WRITTEN_INDEXES) == NATIVE_COUNT);

constexpr bool indexes_in_order() {
    for (int i = 0; i < NATIVE_COUNT; i++)
        if (WRITTEN_INDEXES[i] != i + 1) return false;
    return true;
}
static_assert(indexes_in_order(), "natives.def must list indexes 1..107 in order");

// Most refinements of any native (now has ten).
constexpr int MAX_REFINEMENTS = 12;

struct RefinementList {
    int count = 0;
    std::array<std::string_view, MAX_REFINEMENTS> names{};
};

constexpr auto build_refinement_lists() {
    std::array<RefinementList, NATIVE_COUNT + 1> lists{};
    for (int n = 1; n <= NATIVE_COUNT; n++) {
        RefinementList& l = lists[n];
        native_spec_scan::each_refinement(native_spec_text(n), [&](std::string_view r) {
            if (l.count < MAX_REFINEMENTS) l.names[l.count] = r;
            l.count++;
            return false;
        });
    }
    return lists;
}

constexpr auto REFINEMENTS = build_refinement_lists();

constexpr bool refinement_lists_fit() {
    for (const RefinementList& l : REFINEMENTS)
        if (l.count > MAX_REFINEMENTS) return false;
    return true;
}
static_assert(refinement_lists_fit(), "raise MAX_REFINEMENTS");

} // namespace

std::span<const std::string_view> native_refinement_names(int index) {
    if (index < 1 || index > NATIVE_COUNT) return {};
    const RefinementList& l = REFINEMENTS[index];
    return {l.names.data(), static_cast<size_t>(l.count)};
}

int native_index(std::string_view word) {
    if (word.empty()) return 0;
    for (int n = 1; n <= NATIVE_COUNT; n++)
        if (NATIVE_SPECS[n].word == word) return n;
    return 0;
}

} // namespace kem
