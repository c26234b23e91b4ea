// The routines of the file and OS services.
#include "runtime/io/routines.h"
#include "runtime/core/errors.h"
#include "runtime/io/os.h"
#include "runtime/io/simple_io.h"

namespace kem {

namespace {

Cell* exists_q(Cell* args) {
    make_logic(args, simple_io_file_exists(args));
    return args;
}

Cell* create_dir(Cell* args) {
    if (!simple_io_make_dir(args)) fire(Err::access_no_create, args[0]);
    return nullptr;
}

// The download cache keeps what a user fetched: its folder is the user's alone.
Cell* create_private_dir(Cell* args) {
    if (!simple_io_make_dir(args, true)) fire(Err::access_no_create, args[0]);
    return nullptr;
}

Cell* os_info(Cell*) { return os_get_info(); }

// The data's bytes as write converts them for a file, straight to standard
// output: none of the console's colour handling or terminal translation.
Cell* write_stdout(Cell* args) {
    simple_io_write(nullptr, args, nullptr, nullptr, false, false, false);
    return nullptr;
}

} // namespace

std::span<const RoutineEntry> io_routines() {
    static constexpr RoutineEntry table[] = {
        {"create-dir", R"KEM(["Create the given directory" path [file!]])KEM", create_dir},
        {"_create-private-dir", R"KEM(["Creates a folder that only its owner may use" path [file!]])KEM",
         create_private_dir},
        {"exists?", R"KEM(["Returns TRUE if the file exists" path [file!] return: [logic!]])KEM", exists_q},
        {"os-info", R"KEM(["Returns detailed operating system version information"])KEM", os_info},
        {"write-stdout", R"KEM(["Write data to STDOUT" data [any-type!]])KEM", write_stdout},
    };
    return table;
}

} // namespace kem
