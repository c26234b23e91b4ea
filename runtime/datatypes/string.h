// string!: text series of 1-, 2- or 4-byte code units.
#pragma once
#include <cstdint>
#include <string_view>
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kem {

// Appends ASCII text at the tail, written in the buffer's own unit width.
void string_append_ascii(NodeId string, std::string_view text);
inline void string_append_ascii(const Cell* string, std::string_view text) {
    string_append_ascii(series_node(string), text);
}

// A new empty string! with room for n units, made at cell c.
Cell* string_make_at(Cell* c, uint32_t n, uint32_t unit = 1);

// Cuts the string to at most n units from its head.
void string_truncate(NodeId string, uint32_t n);

} // namespace kem
