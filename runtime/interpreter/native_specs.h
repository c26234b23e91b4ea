// The native table's data: the 107 natives in table order, each with its word
// and its spec block as Kem source text (natives.def). The boot code makes the
// native! values from these texts; the native table's entries are generated
// from the same list, so index, word and spec cannot drift apart.
//
// A native's entry receives one 32-bit integer per refinement, in the order
// the refinements stand in its spec text. native_ref() turns a refinement
// name into that position at compile time, so a body reads its integers by
// name and a misspelt or missing refinement fails the build.
#pragma once
#include <cstdint>
#include <span>
#include <string_view>

namespace kem {

enum NativeIndex : uint8_t {
#define KEM_NATIVE(index, cname, word, spec) NAT_##cname = index,
#include "runtime/interpreter/natives.def"
#undef KEM_NATIVE
};

constexpr int NATIVE_COUNT = 107;

struct NativeSpec {
    std::string_view word;
    std::string_view spec;
};

// Indexed by native index; entry 0 is empty.
inline constexpr NativeSpec NATIVE_SPECS[NATIVE_COUNT + 1] = {
    {"", ""},
#define KEM_NATIVE(index, cname, word, spec) {word, spec},
#include "runtime/interpreter/natives.def"
#undef KEM_NATIVE
};

// The native's word ("remove-each"); empty outside 1..NATIVE_COUNT.
constexpr std::string_view native_word(int index) {
    return index >= 1 && index <= NATIVE_COUNT ? NATIVE_SPECS[index].word : std::string_view{};
}

// The native's spec block as Kem source, brackets included; empty outside
// 1..NATIVE_COUNT.
constexpr std::string_view native_spec_text(int index) {
    return index >= 1 && index <= NATIVE_COUNT ? NATIVE_SPECS[index].spec : std::string_view{};
}

namespace native_spec_scan {

// Spec texts hold words, lit-words, set-words, refinements, type blocks and
// doc strings; a refinement is a '/' that starts an item outside a string.
// Calls f(name) for each refinement in order; stops early when f returns true.
template <typename F>
constexpr void each_refinement(std::string_view text, F f) {
    bool in_string = false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        if (in_string) {
            if (c == '^') i++;  // escaped character, possibly a quote
            else if (c == '"') in_string = false;
            continue;
        }
        if (c == '"') {
            in_string = true;
            continue;
        }
        if (c != '/') continue;
        char before = i > 0 ? text[i - 1] : ' ';
        if (before != ' ' && before != '\t' && before != '\n' && before != '[') continue;
        size_t end = i + 1;
        while (end < text.size() && text[end] != ' ' && text[end] != '\t' && text[end] != '\n' && text[end] != ']' &&
               text[end] != '"')
            end++;
        if (f(text.substr(i + 1, end - i - 1))) return;
        i = end - 1;
    }
}

} // namespace native_spec_scan

// Number of refinements of the native (the integers its entry receives).
constexpr int native_refinement_count(int index) {
    int n = 0;
    native_spec_scan::each_refinement(native_spec_text(index), [&](std::string_view) {
        n++;
        return false;
    });
    return n;
}

// Position (from 0) of a refinement among the native's integers, -1 when the
// native has no such refinement.
constexpr int native_refinement(int index, std::string_view name) {
    int n = 0, found = -1;
    native_spec_scan::each_refinement(native_spec_text(index), [&](std::string_view r) {
        if (r == name) found = n;
        n++;
        return found >= 0;
    });
    return found;
}

// native_refinement for native bodies: an unknown name does not compile.
consteval int native_ref(int index, std::string_view name) {
    int at = native_refinement(index, name);
    if (at < 0) throw "native has no such refinement";
    return at;
}

// The refinement names of a native in spec order; empty for none.
std::span<const std::string_view> native_refinement_names(int index);

// Index of the native with that word (exact spelling), 0 when none.
int native_index(std::string_view word);

} // namespace kem
