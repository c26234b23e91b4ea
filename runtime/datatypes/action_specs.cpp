// The words, spec blocks and refinement names of the actions, made from
// their rows in actions.def.
#include "runtime/datatypes/action_types.h"

namespace kem {

namespace {

constexpr std::string_view WORDS[ACTION_SLOT_COUNT + 1] = {
    "",
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) word,
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};

// Each item of a spec on a line of its own, as a spec block is written.
#define ARG(name, types) "\n" #name " " types
#define RETURNS(types) "\nreturn: " types
#define REF(field, word, doc) "\n/" word " \"" doc "\""
#define REF_ARG(field, word, doc, arg, types) "\n/" word " \"" doc "\"\n" #arg " " types
constexpr std::string_view SPECS[ACTION_SLOT_COUNT + 1] = {
    "",
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) "[\"" doc "\"" items "]",
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};
#undef ARG
#undef RETURNS
#undef REF
#undef REF_ARG

// The refinement words of each slot, then "" so that no list is empty.
#define ARG(name, types)
#define RETURNS(types)
#define REF(field, word, doc) word,
#define REF_ARG(field, word, doc, arg, types) word,
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) constexpr std::string_view REFS_##NAME[] = {items ""};
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
#undef ARG
#undef RETURNS
#undef REF
#undef REF_ARG

constexpr std::span<const std::string_view> REFS[ACTION_SLOT_COUNT + 1] = {
    {},
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) {REFS_##NAME, std::size(REFS_##NAME) - 1},
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
};

// The rows stand in slot order: every table above is indexed by slot.
constexpr bool rows_in_slot_order() {
    constexpr int slots[] = {
        0,
#define KEM_ACTION(slot, NAME, Name, Sig, word, doc, items) slot,
#include "runtime/datatypes/actions.def"
#undef KEM_ACTION
    };
    for (int i = 0; i <= ACTION_SLOT_COUNT; i++)
        if (slots[i] != i) return false;
    return std::size(slots) == ACTION_SLOT_COUNT + 1;
}
static_assert(rows_in_slot_order(), "actions.def lists the slots in order, 1 to 62");

inline bool valid(int slot) { return slot >= 1 && slot <= ACTION_SLOT_COUNT; }

} // namespace

std::string_view action_word(int slot) { return valid(slot) ? WORDS[slot] : std::string_view{}; }

std::string_view action_spec_text(int slot) {
    return valid(slot) && !WORDS[slot].empty() ? SPECS[slot] : std::string_view{};
}

std::span<const std::string_view> action_refinement_names(int slot) {
    return valid(slot) ? REFS[slot] : std::span<const std::string_view>{};
}

} // namespace kem
