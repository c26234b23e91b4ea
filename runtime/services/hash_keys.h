// Hashing and comparing the keys of the hash tables.
//
// Every table hashes a key with `hash_value` and decides equality with
// `hash_keys_equal`, which asks the compare slot of the stored key's datatype.
// The datatypes plug in through `hash_compare_slots` (the registry copies each
// type's compare entry there) and through `hash_key_hooks` (case mapping and
// canonical symbol ids); until they do, integer! and char! and the string kinds
// compare through built-ins, ASCII letters fold, and a symbol is its own
// canonical id.
#pragma once
#include <array>
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"
#include "runtime/core/memory.h"

namespace kem {

// A key that is part of a string: laid out like a string value (position,
// node), its third payload word, when not negative, a length in code points.
// Never a value of the language.
constexpr uint8_t TYPE_LOOKUP_SLICE = 56;

// MurmurHash3 seed of the whole process; the random generator's start-up sets
// it to HASH_SEED_AT_START before any table is made.
constexpr uint32_t HASH_SEED_AT_START = 0x0055660C;
extern uint32_t hash_seed;

// MurmurHash3 x86 32-bit of n bytes with the process seed.
uint32_t murmur3_hash(const void* bytes, uint32_t n);

// The MurmurHash3 finaliser alone, no seed.
inline uint32_t hash_int(uint32_t x) {
    x ^= x >> 16;
    x *= 0x85EBCA6B;
    x ^= x >> 13;
    x *= 0xC2B2AE35;
    x ^= x >> 16;
    return x;
}

// The code points of a string value from its position to its tail (a lookup
// slice: at most its length), each one upper-cased unless case_sensitive.
uint32_t hash_string(const Cell* string, bool case_sensitive);

// A symbol name: ASCII capitals folded to lower case, then murmur3.
uint32_t hash_symbol_name(const uint8_t* name, uint32_t length);
// A symbol! cell, through its UTF-8 name (node in payload word 3).
uint32_t hash_symbol(const Cell* symbol);

// Copies a name into the shared scratch buffer with bytes 0x41..0x5A OR-ed with
// 0x60; returns the buffer, valid until the next call.
const uint8_t* fold_ascii_name(const uint8_t* name, uint32_t length);

// The hash of any key cell; tables always pass case_sensitive = false.
uint32_t hash_value(const Cell* key, bool case_sensitive);

// True for the types whose hash depends on a node id, so a table holding them
// must be re-indexed after the collector moved nodes.
bool hash_node_key(uint8_t type);

// --- Plugging datatypes in ------------------------------------------------

// The hash of a date! key; the date! module defines it.
uint32_t date_key_hash(const Cell* key);

// A datatype's compare slot: -1, 0 or 1, or -2 when the values cannot be compared.
using HashCompareFn = int32_t (*)(Cell* value1, Cell* value2, CompareOp op);
// Indexed by type id. An empty entry compares by identity: the same type byte
// and payload give 0, anything else -2.
extern std::array<HashCompareFn, 256> hash_compare_slots;

struct HashKeyHooks {
    // Simple upper-case mapping of one code point (ASCII only by default).
    uint32_t (*upper_case)(uint32_t code_point);
    // Canonical id of a symbol (the id itself by default).
    uint32_t (*resolve_symbol)(uint32_t symbol);
};
extern HashKeyHooks hash_key_hooks;

// Puts the built-in compare entries and the default hooks back (tests).
void hash_keys_reset();

// The outcome of a comparison operator between a stored key and a looked-up
// key, through the stored key's compare entry. An ordering of values that
// cannot be compared raises script invalid-compare.
bool hash_keys_compare(const Cell* stored, const Cell* key, CompareOp op);
inline bool hash_keys_equal(const Cell* stored, const Cell* key, CompareOp op) {
    // Integer equality needs no call: the common keys of map! and hash!.
    if ((op == CompareOp::equal || op == CompareOp::strict_equal) && type_of(stored) == TYPE_INTEGER &&
        type_of(key) == TYPE_INTEGER)
        return stored->data2 == key->data2;
    return hash_keys_compare(stored, key, op);
}

// The built-in compare entries, usable by the datatypes themselves.
int32_t hash_compare_integers(Cell* value1, Cell* value2, CompareOp op);
int32_t hash_compare_strings(Cell* value1, Cell* value2, CompareOp op);

} // namespace kem
