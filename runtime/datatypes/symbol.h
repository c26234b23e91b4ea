// symbol!: the process-wide table of interned names.
//
// Every word names its spelling by a symbol id: the 1-based position of a
// symbol! cell in the symbol block (id n is cell n - 1; id 0 names nothing).
// Interning keeps case: each distinct spelling gets its own symbol, and a
// spelling equal to an earlier one when ASCII letter case is ignored records
// that earlier, canonical symbol as its alias. Comparisons that ignore case
// compare canonical ids, never text. Symbols are only ever added.
//
// symbol! cell: header type 13; payload word 1 the alias (-1 for a canonical
// symbol, else the canonical id); word 2 the node of the cached string! of the
// name (0 until first asked for); word 3 the node of the UTF-8 name, with a
// zero byte just past its tail. The collector keeps both nodes alive through
// the symbol block.
#pragma once
#include <cstdint>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"
#include "runtime/core/memory.h"

namespace kem {

constexpr uint32_t SYMBOL_TABLE_SIZE = 4000;

// The symbols hash table (kind 2) and the block of symbol! cells it indexes;
// both 0 until symbol_table_init. Collector roots.
extern NodeId symbol_table;
extern NodeId symbol_block;

// Makes the table with room for n names and plugs canonical ids into the hash
// keys. Once only: later calls do nothing.
void symbol_table_init(uint32_t n = SYMBOL_TABLE_SIZE);

// Number of symbols interned so far (the highest id).
inline uint32_t symbol_count() { return node_buffer(symbol_block)->used() / 16; }

// Interning. make and make_from_utf8 find the exact spelling or add it (with
// its alias when a case variant exists); make_caseless returns any spelling
// equal ignoring case and adds the name as canonical only when there is none.
uint32_t symbol_make(const char* name);
uint32_t symbol_make_caseless(const char* name);
uint32_t symbol_make_from_utf8(const uint8_t* bytes, uint32_t length);
// Interns a string! from its position. units: in, how many code points to
// take (negative: all); out, the byte length of the name. May be null.
uint32_t symbol_make_from_string(Cell* string, int32_t* units);

// The symbol's cell, its cached string made first; good until the next
// allocation. The id must name a symbol.
Cell* symbol_get(uint32_t id);
// Node of the cached string! of the name, decoding the UTF-8 name on first use.
NodeId symbol_to_string(uint32_t id);

// The raw alias field: -1, or the canonical id.
inline int32_t symbol_alias_of(uint32_t id) {
    return static_cast<int32_t>(node_buffer(symbol_block)->cell_head()[id - 1].data1);
}
// The canonical id: the alias when there is one, else the id itself. An id
// that names no symbol is its own canonical id.
inline uint32_t symbol_resolve(uint32_t id) {
    if (id == 0 || id > symbol_count()) return id;
    int32_t alias = symbol_alias_of(id);
    return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

// The UTF-8 name; good until the next allocation.
std::string_view symbol_name(uint32_t id);

// compare slot: the two names compared as strings under op; -2 when the
// second value is not a symbol!.
int32_t symbol_compare(Cell* value1, Cell* value2, CompareOp op);

void register_symbol();

} // namespace kem
