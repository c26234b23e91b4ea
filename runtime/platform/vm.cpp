#include "runtime/platform/vm.h"
#include <sys/mman.h>
#include <cstdint>
#include <cstdlib>

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

namespace {
constexpr size_t HUGE_PAGE = size_t(2) << 20;
}

TaskBuffer::TaskBuffer(size_t size) {
    if (size < HUGE_PAGE) {
        data_ = std::malloc(size ? size : 1);
        if (!data_) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
        return;
    }
    // A huge page must start at a multiple of its size: map one more and
    // start at the first such address.
    const size_t rounded = (size + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    mapped_ = rounded + HUGE_PAGE;
    mapping_ = virtual_alloc(mapped_);
    data_ = reinterpret_cast<void*>((reinterpret_cast<uintptr_t>(mapping_) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
    madvise(data_, rounded, MADV_HUGEPAGE);
}

TaskBuffer::~TaskBuffer() {
    if (mapping_) munmap(mapping_, mapped_);
    else std::free(data_);
}

} // namespace kem::platform
