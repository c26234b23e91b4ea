// handle!: an opaque reference to an object of the platform layer.
//
// Cell: header type 46; payload word 1 the handle class, word 2 the handle
// value (a 32-bit platform handle or table index), word 3 -1.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

enum HandleClass : uint32_t {
    HANDLE_CLASS_NULL = 0,
    HANDLE_CLASS_FD = 1,
    HANDLE_CLASS_MONITOR = 2,
    HANDLE_CLASS_WINDOW = 3,
    HANDLE_CLASS_FONT = 4,
    HANDLE_CLASS_RICH_TEXT = 5,
};

inline uint32_t handle_class(const Cell* c) { return c->data1; }
inline int32_t handle_value(const Cell* c) { return static_cast<int32_t>(c->data2); }

Cell* handle_set_in(Cell* c, int32_t value, uint32_t cls);
Cell* handle_push(int32_t value, uint32_t cls);
// A handle of value 0 and the null class.
Cell* handle_push_plain();
// Into the current call's result cell (the GUI backend returns its window and
// font handles this way).
Cell* handle_box(int32_t value, uint32_t cls);

void register_handle();

} // namespace kem
