#include "runtime/platform/vm.h"
#include <sys/mman.h>
#include <cstdint>
#include <cstdlib>

namespace kem::platform {

namespace {
constexpr size_t HUGE_PAGE = size_t(2) << 20;
}

void* virtual_alloc(size_t size, bool executable) {
    int prot = PROT_READ | PROT_WRITE | (executable ? PROT_EXEC : 0);
    if (size < HUGE_PAGE) {
        void* p = mmap(nullptr, size, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
        return p;
    }
    // From 2 MB on, the memory starts on a huge page boundary and asks for
    // huge pages: each is filled at one fault instead of 512.
    const size_t mapped = size + HUGE_PAGE;
    auto* raw = static_cast<uint8_t*>(mmap(nullptr, mapped, prot, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    if (raw == MAP_FAILED) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
    auto* p = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(raw) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1));
    const size_t after = (size + PAGE_SIZE - 1) & ~(PAGE_SIZE - 1);
    if (p > raw) munmap(raw, size_t(p - raw));
    if (raw + mapped > p + after) munmap(p + after, size_t(raw + mapped - (p + after)));
    madvise(p, size, MADV_HUGEPAGE);
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

TaskBuffer::TaskBuffer(size_t size) {
    if (size < HUGE_PAGE) {
        data_ = std::malloc(size ? size : 1);
        if (!data_) throw PlatformFault(THROW_CODE_OS_NO_MEMORY);
        return;
    }
    data_ = virtual_alloc(size);
    mapped_ = size;
}

TaskBuffer::~TaskBuffer() {
    if (mapped_) munmap(data_, mapped_);
    else std::free(data_);
}

} // namespace kem::platform
