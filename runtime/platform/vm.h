// Memory from the operating system: whole frames of pages.
#pragma once
#include <cstddef>
#include <cstdint>
#include <exception>

namespace kem {

// Codes of the platform's failures below the language, in the range of the
// runtime's throw codes (errors.h).
constexpr uint32_t THROW_CODE_OS_NO_MEMORY = 0x7FFFFFF7;
constexpr uint32_t THROW_CODE_OS_FREE_FAILED = 0x7FFFFFF6;

// A failure of the platform layer below the language (refused memory).
struct PlatformFault : std::exception {
    uint32_t code;
    explicit PlatformFault(uint32_t c) : code(c) {}
    const char* what() const noexcept override { return "platform fault"; }
};

} // namespace kem

namespace kem::platform {

constexpr size_t PAGE_SIZE = 4096;

// Committed read-write memory (read-write-execute with the flag); throws
// PlatformFault(THROW_CODE_OS_NO_MEMORY) when the system refuses. From 2 MB
// on it starts on a huge page boundary and asks for the system's huge pages,
// each filled at one fault rather than one per 4 KB page: fresh memory costs
// far more than the work done in it.
void* virtual_alloc(size_t size, bool executable = false);
// Releases memory from virtual_alloc; throws PlatformFault(THROW_CODE_OS_FREE_FAILED) on failure.
void virtual_free(void* address, size_t size);

// Address space only (no access): committed later, part by part.
void* virtual_reserve(size_t size);
void virtual_commit(void* address, size_t size);
void virtual_decommit(void* address, size_t size);

// A large buffer that one task fills and drops (the keys of a sort): from the
// heap, or from 2 MB on from virtual_alloc and its huge pages. Throws
// PlatformFault(THROW_CODE_OS_NO_MEMORY) when the system refuses.
class TaskBuffer {
public:
    explicit TaskBuffer(size_t size);
    ~TaskBuffer();
    TaskBuffer(const TaskBuffer&) = delete;
    TaskBuffer& operator=(const TaskBuffer&) = delete;
    void* data() const { return data_; }

private:
    void* data_ = nullptr;
    size_t mapped_ = 0;  // 0 when the buffer came from the heap
};

} // namespace kem::platform
