// Shared libraries opened on first use.
//
// The libraries only some scripts need (libcurl, the picture codecs,
// libcrypto) are not linked into the runtime: a script that does not use them
// does not load them at start-up. Each is opened when first asked for, and its
// functions are found once into pointers typed by the library's own header.
// The file that calls a library declares in its own namespace one pointer per
// function, under the function's own name, so that its calls (and the
// header's macros, which expand to calls) reach the pointer, not the symbol:
//
//     #define PNG_FUNCTIONS(F) F(png_create_read_struct) F(png_read_info) ...
//     KEM_LIBRARY_FUNCTIONS(png, PNG_FUNCTIONS)  // the pointers and png_symbols
//     SharedLibrary libpng(KEM_LIBPNG, png_symbols);
//     ... if (!libpng.ready()) return false; png_read_info(png, info); ...
//
// The file names (KEM_LIBPNG and the others) are the sonames of the libraries
// the build found, given by CMakeLists.txt.
#pragma once
#include <cstddef>

namespace kem::platform {

struct LibrarySymbol {
    const char* name;
    void** pointer;
};

class SharedLibrary {
public:
    template <size_t N>
    constexpr SharedLibrary(const char* file, const LibrarySymbol (&symbols)[N]) : file_(file), symbols_(symbols), count_(N) {}
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Whether the library and all its functions are there: opened and found
    // at the first call; a library found missing is not looked for again.
    bool ready() {
        if (state_ == State::unknown) state_ = open() ? State::ready : State::missing;
        return state_ == State::ready;
    }
    // The library's file name, for messages.
    const char* file() const { return file_; }

private:
    bool open();

    enum class State { unknown, ready, missing };
    const char* file_;
    const LibrarySymbol* symbols_;
    size_t count_;
    State state_ = State::unknown;
};

} // namespace kem::platform

// One pointer to a library function, named as the function.
#define KEM_LIBRARY_POINTER(name) static decltype(&::name) name = nullptr;
// The entry that finds it.
#define KEM_LIBRARY_SYMBOL(name) ::kem::platform::LibrarySymbol{#name, reinterpret_cast<void**>(&name)},
// The pointers of a list of functions, and the entries that find them, in
// prefix##_symbols.
#define KEM_LIBRARY_FUNCTIONS(prefix, LIST) \
    LIST(KEM_LIBRARY_POINTER)               \
    static const ::kem::platform::LibrarySymbol prefix##_symbols[] = {LIST(KEM_LIBRARY_SYMBOL)};
