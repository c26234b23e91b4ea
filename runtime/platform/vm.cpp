#include "runtime/platform/vm.h"
#include <sys/mman.h>

namespace kem::platform {

void* virtual_alloc(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
    return p;
}

void virtual_free(void* address, size_t size) {
    if (munmap(address, size) != 0) throw PlatformFault(THROW_CODE_OS_FREE_FAILED);
}

void* virtual_reserve(size_t size) {
    void* p = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
    return p;
}

void virtual_commit(void* address, size_t size) {
    if (mprotect(address, size, PROT_READ | PROT_WRITE) != 0) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
}

void virtual_decommit(void* address, size_t size) {
    // Give the pages back but keep the range reserved for later frames.
    madvise(address, size, MADV_DONTNEED);
    if (mprotect(address, size, PROT_NONE) != 0) throw PlatformFault(THROW_CODE_OS_FREE_FAILED);
}

} // namespace kem::platform
