#include "runtime/platform/shared_library.h"
#include <dlfcn.h>

namespace kem::platform {

bool SharedLibrary::open() {
    // The handle stays open for the life of the process: the pointers keep
    // pointing into it.
    void* handle = dlopen(file_, RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    for (size_t i = 0; i < count_; i++) {
        void* found = dlsym(handle, symbols_[i].name);
        if (!found) {
            for (size_t k = 0; k < i; k++) *symbols_[k].pointer = nullptr;
            dlclose(handle);
            return false;
        }
        *symbols_[i].pointer = found;
    }
    return true;
}

} // namespace kem::platform
