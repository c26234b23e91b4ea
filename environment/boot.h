// The library's start-up: the global values every script can count on,
// made after the runtime is up.
#pragma once
#include <initializer_list>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/datatypes/routine.h"

namespace kem {

// The named typesets, bound to their global words (they must exist before
// any argument list is built, since every spec names them).
void boot_typesets();

// The constants no literal can write (null-handle).
void boot_constants();

// The global routines (C++ bodies with a Kem spec), the type predicates among them.
void boot_routines();
void boot_type_predicates();
// A routine! value of a C++ body whose spec is given as Kem source.
Cell make_routine(const char* spec_text, RoutineFn fn);

// The infix operators, each an op! of the function beside it.
void boot_operators();

// The root values of the boot block, in order: the system object's source,
// the number of scripts run before it (an integer), then one script per
// library source, each positioned past its header.
enum BootValue : uint32_t { BOOT_SYSTEM = 0, BOOT_EARLY_COUNT = 1, BOOT_SCRIPTS = 2 };
// Boot value n; a program without its boot block ends here with a message.
const Cell* boot_code(uint32_t n);

// Runs the library's scripts from the boot block: before the system object
// the constants, colours and library functions; after it (late) the
// libraries that keep their state in it, such as reactivity. Their words
// that the internals object holds are bound to it (environment/codecs.h).
void boot_library(bool late, const Cell& internals);

// A codec object made from its Kem source, then each named field set to a
// routine of that spec and body.
struct CodecRoutine {
    const char* field;
    const char* spec;
    RoutineFn fn;
};
Cell make_codec_object(std::string_view source, std::initializer_list<CodecRoutine> routines);

// The KEMBIN codec object (title, name, mime-type, suffixes, compact?,
// encode, encode*, decode), made anew for system/codecs.
Cell make_kembin_codec();

// The five image codec objects (title, name, mime-type, suffixes, encode,
// decode) as a block of key words and objects, in the order system/codecs
// takes them: png, jpeg, bmp, gif, tiff.
Cell make_image_codecs();

// The last start-up step: cli-console-ctx/launch, then the end of the
// process: status 0 when it returns, 254 after an error that reached no
// catch (reported), runtime error 95 for an exit that found no catcher.
[[noreturn]] void run_console();

// The runtime, the typesets and the boot script, once. Every function the
// library and the system object make is marked as part of the system.
void boot_all();

} // namespace kem
