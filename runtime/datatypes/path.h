// path!, lit-path!, set-path! and get-path!: blocks of path elements written
// with "/" between them. A path cell has the block! layout (type 25..28, head
// index, series node) and takes its series actions from block!; making,
// conversion, the printed forms and copy are its own.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

inline bool any_path_type(uint8_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// An empty path! (position 0) with room for n cells (below 1 counts as 1).
Cell* path_make_at(Cell* c, int32_t n);

// --- actions ---------------------------------------------------------------------

// Any block kind is copied from its position; an integer!, float! or
// percent! gives an empty path with that much room; script bad-make-arg
// otherwise.
Cell* path_make(Cell* proto, Cell* spec, int32_t type);
// An object!, typeset! or map! becomes the path's one element; anything
// else converts as to block! does.
Cell* path_to(Cell* proto, Cell* spec, int32_t type);
Cell* path_copy(Cell* series, Cell* result, const CopyArgs& refs);
int32_t path_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t lit_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t set_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t get_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);

void register_path();
void register_lit_path();
void register_set_path();
void register_get_path();

} // namespace kem
