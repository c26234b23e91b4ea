// Memory from the operating system: whole frames of pages.
#pragma once
#include <cstddef>

namespace kem::platform {

constexpr size_t PAGE_SIZE = 4096;

// Committed read-write memory (read-write-execute with the flag); throws
// PlatformFault(THROW_CODE_OS_NO_MEMORY) when the system refuses.
void* virtual_alloc(size_t size, bool executable = false);
// Releases memory from virtual_alloc; throws PlatformFault(THROW_CODE_OS_FREE_FAILED) on failure.
void virtual_free(void* address, size_t size);

// Address space only (no access): committed later, part by part.
void* virtual_reserve(size_t size);
void virtual_commit(void* address, size_t size);
void virtual_decommit(void* address, size_t size);

} // namespace kem::platform
