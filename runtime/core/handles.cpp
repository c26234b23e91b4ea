#include "runtime/core/handles.h"
#include <cstdlib>
#include "runtime/platform/exit.h"

namespace kem {

namespace {
// The entry array moves when it grows, so it is not put on the exit list of
// heap blocks (that list would keep its old address); the OS takes it back.
HandleType* types = nullptr;
uint32_t type_count = 0;
HandleEntry* entries = nullptr;
uint32_t capacity = 0;
int32_t used_head = -1;
int32_t free_head = -1;

[[noreturn]] void out_of_memory(void* caller) { report_runtime_error(94, caller); }

// Links entries from..capacity-1 into one free chain in index order.
void link_free(uint32_t from) {
    for (uint32_t i = from; i < capacity; i++) {
        entries[i].flags = HANDLE_FREE;
        entries[i].value = 0;
        entries[i].next = i + 1 < capacity ? static_cast<int32_t>(i + 1) : -1;
    }
}

void grow(void* caller) {
    // Indexes are int32 and -1 is taken: stay well below the limit.
    if (capacity >= (1u << 30)) out_of_memory(caller);
    uint32_t old = capacity;
    auto* bigger = static_cast<HandleEntry*>(std::realloc(entries, sizeof(HandleEntry) * old * 2));
    if (!bigger) out_of_memory(caller);
    entries = bigger;
    capacity = old * 2;
    link_free(old);
    if (free_head < 0) free_head = static_cast<int32_t>(old);
    else {
        int32_t last = free_head;
        while (entries[last].next >= 0) last = entries[last].next;
        entries[last].next = static_cast<int32_t>(old);
    }
}

bool is_used(int32_t index) {
    return index >= 0 && static_cast<uint32_t>(index) < capacity && !(entries[index].flags & HANDLE_FREE);
}

// Takes a used entry off the used list (prev: its predecessor, -1 at the head)
// and pushes it on the free list.
void unlink_to_free(int32_t index, int32_t prev) {
    if (prev < 0) used_head = entries[index].next;
    else entries[prev].next = entries[index].next;
    entries[index].flags = HANDLE_FREE;
    entries[index].value = 0;
    entries[index].next = free_head;
    free_head = index;
}
} // namespace

void handle_table_init() {
    std::free(types);
    std::free(entries);
    types = static_cast<HandleType*>(std::calloc(HANDLE_TYPE_CAPACITY, sizeof(HandleType)));
    entries = static_cast<HandleEntry*>(std::malloc(sizeof(HandleEntry) * HANDLE_INITIAL_ENTRIES));
    if (!types || !entries) out_of_memory(__builtin_return_address(0));
    type_count = 0;
    capacity = HANDLE_INITIAL_ENTRIES;
    link_free(0);
    free_head = 0;
    used_head = -1;
}

uint32_t handle_type_register(const char* name, HandleRelease release) {
    if (type_count == HANDLE_TYPE_CAPACITY) return 0;
    types[type_count] = HandleType{name, release};
    return ++type_count;
}

const HandleType* handle_type(uint32_t type) {
    return type >= 1 && type <= type_count ? &types[type - 1] : nullptr;
}

int32_t handle_alloc(uintptr_t value, uint32_t type) {
    // The free list never runs dry: the last free entry brings the next half.
    if (free_head < 0 || entries[free_head].next < 0) grow(__builtin_return_address(0));
    int32_t index = free_head;
    HandleEntry& e = entries[index];
    free_head = e.next;
    e.flags = type & HANDLE_TYPE_MASK;
    e.value = value;
    e.next = used_head;
    used_head = index;
    return index;
}

void handle_release(uint32_t flags, uintptr_t value) {
    const HandleType* t = handle_type(flags & HANDLE_TYPE_MASK);
    if (t && t->release) t->release(value);
}

void handle_set_value(int32_t index, uintptr_t value) {
    if (!is_used(index)) return;
    uintptr_t old = entries[index].value;
    entries[index].value = value;
    if (old != value) handle_release(entries[index].flags, old);
}

int32_t handle_free(int32_t index, bool release) {
    if (!is_used(index)) return -1;
    int32_t prev = -1;
    for (int32_t i = used_head; i != index; i = entries[i].next) prev = i;
    uint32_t flags = entries[index].flags;
    uintptr_t value = entries[index].value;
    // The entry is back on the free list before the callback runs, so the
    // callback sees a consistent table.
    unlink_to_free(index, prev);
    if (release) handle_release(flags, value);
    return -1;
}

bool handle_mark(int32_t index, uintptr_t value) {
    if (!is_used(index)) return false;
    HandleEntry& e = entries[index];
    bool was_unmarked = !(e.flags & HANDLE_MARK);
    e.flags |= HANDLE_MARK;
    if (value) e.value = value;
    return was_unmarked;
}

void handle_foreach(uint32_t type, void (*f)(uint32_t type, uintptr_t value)) {
    for (int32_t i = used_head; i >= 0;) {
        // Read the entry before the call: the callback may grow the array.
        uint32_t t = entries[i].flags & HANDLE_TYPE_MASK;
        uintptr_t value = entries[i].value;
        int32_t next = entries[i].next;
        if (t == type) f(t, value);
        i = next;
    }
}

void handle_sweep() {
    int32_t prev = -1;
    for (int32_t i = used_head; i >= 0;) {
        int32_t next = entries[i].next;
        if (entries[i].flags & HANDLE_MARK) {
            entries[i].flags &= ~HANDLE_MARK;
            prev = i;
        } else {
            uint32_t flags = entries[i].flags;
            uintptr_t value = entries[i].value;
            unlink_to_free(i, prev);
            handle_release(flags, value);
        }
        i = next;
    }
}

const HandleEntry* handle_entry(int32_t index) {
    return index >= 0 && static_cast<uint32_t>(index) < capacity ? &entries[index] : nullptr;
}
uint32_t handle_capacity() { return capacity; }
int32_t handle_used_head() { return used_head; }
int32_t handle_free_head() { return free_head; }

} // namespace kem
