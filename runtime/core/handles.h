// The external handle table: resources outside the runtime's memory (platform
// bitmaps and the like) get a small index that values keep; the collector marks
// the indexes it reaches and the sweep releases every entry it did not reach.
#pragma once
#include <cstdint>

namespace kem {

constexpr uint32_t HANDLE_TYPE_CAPACITY = 20;
constexpr uint32_t HANDLE_INITIAL_ENTRIES = 1000;

// Entry flags: the type number in the low byte, then the free and mark bits.
constexpr uint32_t HANDLE_TYPE_MASK = 0xFF;
constexpr uint32_t HANDLE_FREE = 0x40000000;
constexpr uint32_t HANDLE_MARK = 0x80000000;

// Called with the resource when no value refers to it any more.
using HandleRelease = void (*)(uintptr_t value);

struct HandleType {
    const char* name;
    HandleRelease release;   // nullptr: nothing to release
};

// Every entry is on exactly one of the used and free lists, linked by `next`
// (-1 ends a list).
struct HandleEntry {
    uint32_t flags;
    int32_t next;
    uintptr_t value;         // a resource address or a node id
};

// Makes both arrays and links all entries into the free list in index order.
// A second call starts over with empty arrays (types included).
void handle_table_init();

// Returns the new type number (position + 1), or 0 when all 20 are taken.
uint32_t handle_type_register(const char* name, HandleRelease release);
const HandleType* handle_type(uint32_t type);

// Takes the first free entry for the resource and returns its index. The entry
// array doubles when its last free entry is taken; a refused growth ends the
// process with runtime error 94.
int32_t handle_alloc(uintptr_t value, uint32_t type);

// Calls the release callback of the type in the flags' low byte, if it has one.
void handle_release(uint32_t flags, uintptr_t value);

// The old value is released when it differs from the new one.
void handle_set_value(int32_t index, uintptr_t value);

// Releases the value when `release` is set; the entry goes back to the free
// list. Returns -1 (the caller's new index). An index that names no used entry
// is left alone.
int32_t handle_free(int32_t index, bool release);

// Sets the entry's mark bit; a non-zero value replaces the entry's value.
// True when the entry was unmarked before; false also for an index that names
// no used entry.
bool handle_mark(int32_t index, uintptr_t value);

// Calls f(type, value) for every used entry of that type.
void handle_foreach(uint32_t type, void (*f)(uint32_t type, uintptr_t value));

// After marking: marked entries lose their mark and stay; the others are
// released and freed.
void handle_sweep();

// The entry at an index (nullptr outside the array); valid until the next
// handle_alloc, which may move the array.
const HandleEntry* handle_entry(int32_t index);
uint32_t handle_capacity();
int32_t handle_used_head();
int32_t handle_free_head();

} // namespace kem
