// The value core: growing series at their tail, slicing, boot values and the
// small conversions every datatype uses.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem {

// Appends one cell at the tail (header unset!, payload left as it was), doubling
// the buffer when full. The buffer may move: re-read it through its node.
Cell* alloc_tail(SeriesBuffer* b);
Cell* block_alloc_tail(const Cell* series);
// Reserves n bytes at the tail and returns where they start.
uint8_t* alloc_tail_bytes(SeriesBuffer* b, uint32_t n);

// A new series holding count units from offset (both in units, from the head).
NodeId copy_series_slice(NodeId node, uint32_t offset, uint32_t count);

// Values of the boot environment, by index into the block the loader decoded.
void set_boot_values(Cell* base, uint32_t count);
Cell* boot_value(uint32_t n);
uint32_t boot_value_count();
uint32_t boot_value_data(uint32_t n);

const char* build_date();

// integer! as is; float! truncated toward zero, out-of-range error outside int32.
int32_t to_int_checked(const Cell* c);

// Appends n indents of four spaces to a string series; returns remaining - 4n.
int32_t mold_indent(NodeId string, uint32_t n, int32_t remaining);

// The first record is already at buf: fills count records by doubling the
// filled prefix; returns the address after the last record.
void* fill_repeat(void* buf, size_t record_size, size_t count);

} // namespace kem
