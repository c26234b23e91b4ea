// map!: key/value pairs kept in insertion order, indexed by a hash table.
//
// Cell: payload word 1 an index (0 except while foreach walks the map), word
// 2 the node of the storage block, word 3 the node of the hash table (kind
// HASH_MAP) that indexes the keys of that block. The storage block holds the
// pairs side by side, key then value. A pair whose value cell has an all-zero
// header is removed: it keeps its place and its bucket, every action skips
// it, and storing the same key again revives it where it stands.
//
// Keys are stored normalised (map_normalize_key): series keys as private
// copies, any-word keys as set-words. Lookups of word keys match the stored
// set-words whatever their own kind.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// Lookup operators passed to the hash table.
constexpr CompareOp MAP_LOOKUP_EQUAL = CompareOp::equal;          // keys equal as equal? says (letters without case)
constexpr CompareOp MAP_LOOKUP_STRICT = CompareOp::strict_equal;  // /case
constexpr CompareOp MAP_LOOKUP_SAME = CompareOp::same;            // /same

inline NodeId map_storage(const Cell* map) { return map->data2; }
inline NodeId map_table(const Cell* map) { return map->data3; }
// The live entries.
int32_t map_count(const Cell* map);

bool map_valid_key_type(uint8_t type);
// The key as the map stores it, written into out. A type that cannot be a
// key raises script invalid-path: the path (none! when null) and the key's
// datatype.
void map_normalize_key(const Cell* key, Cell* out, const Cell* path);

// Makes out a map. With a block, the pairs from the block's position become
// the storage (the block itself when it is at its head, else a copy of that
// part); an odd number of values raises script invalid-arg naming the block,
// a repeated key gives its value to the first pair and its own pair leaves
// the storage. Without a block the map is empty with room for `size` pairs.
// Sizes too large for one buffer raise internal no-memory. This is the
// entry point of the lexer and of the serialised-value decoder.
Cell* map_make_at(Cell* out, const Cell* block, int32_t size);

// Stores value under key (lookup /case when case_): a live entry gets the
// value, a removed one revives in place, a new key is normalised and its pair
// appended. path names the path being set in an invalid-path error (or null).
// Returns value.
Cell* map_store(Cell* map, const Cell* key, Cell* value, bool case_, const Cell* path);
// The cell index of the live entry's key found with the lookup operator, or
// -1 when the key is missing or its entry removed.
int32_t map_find_key(const Cell* map, const Cell* key, CompareOp op);

// Adds the pairs of a block!, paren! or hash! (odd length: script invalid-arg
// naming it) or of a map!, in order; used by the extend native.
void map_extend(Cell* map, const Cell* spec, bool case_);

// One foreach step: assigns the loop words in turn the next cells of the map
// from its index (key, value, key ...), a set-word key as a word!, skipping
// removed pairs and moving the map's index past what was taken; words left
// when the map ends get none. Every loop word must be a word!, set-word!,
// lit-word! or get-word! (else script invalid-arg naming it). Returns true
// when at least one cell was assigned.
bool map_collect_key_words(const Cell* words, Cell* map);

// The reflected blocks, written into out: the live keys (set-words as
// word!), the live values, or the pairs with a new-line marker on each key.
enum class MapField : uint8_t { words, values, body };
Cell* map_reflect_into(const Cell* map, MapField field, Cell* out);

// A deep copy into result, the cycle stack emptied first.
Cell* map_copy_deep(const Cell* map, Cell* result);

// Equality and order of two maps under comparison operator op.
int32_t map_compare_maps(Cell* value1, Cell* value2, CompareOp op);

// --- actions ----------------------------------------------------------------------

Cell* map_make(Cell* proto, Cell* spec, int32_t type);
Cell* map_to(Cell* proto, Cell* spec, int32_t type);
Cell* map_reflect(Cell* value, int32_t field_symbol);
int32_t map_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t map_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
Cell* map_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
int32_t map_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* map_clear(Cell* map);
Cell* map_copy(Cell* value, Cell* result, const CopyArgs& refs);
Cell* map_find(Cell* series, Cell* value, const FindArgs& refs);
int32_t map_length_q(Cell* map);
Cell* map_put(Cell* series, Cell* key, Cell* value, const PutArgs& refs);
// Only remove/key: without it script missing-arg.
Cell* map_remove(Cell* series, const RemoveArgs& refs);
Cell* map_select(Cell* series, Cell* value, const SelectArgs& refs);

void register_map();

} // namespace kem
