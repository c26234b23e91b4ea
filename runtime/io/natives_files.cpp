// Natives over files: size?.
#include "runtime/io/natives_files.h"
#include <climits>
#include "runtime/core/stack.h"
#include "runtime/datatypes/float.h"
#include "runtime/interpreter/natives.h"
#include "runtime/io/simple_io.h"

namespace kem {

namespace {

void native_size_q(const int32_t*) {
    Cell* result = stack::arguments;
    const int64_t size = simple_io_file_size(result);
    // An integer! holds 31 bits: a larger size is a float!, which holds every
    // size a file can have exactly, rather than a wrapped wrong number.
    if (size < 0) make_none(result);
    else if (size > INT32_MAX) make_float(result, double(size));
    else make_integer(result, int32_t(size));
    stack::keep_result();
}

} // namespace

void register_file_natives() { native_register(NAT_SIZE_Q, native_size_q); }

} // namespace kem
