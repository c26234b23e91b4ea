// Ctrl-C while code runs at the console: the console's own end.
//
// Once armed, an interrupt (SIGINT) ends the process silently with status 0:
// the terminal is put back, the file last handed over here (the console's
// settings and history) is written, replacing the old one only once it is
// all on the disk, and the process exits. A second interrupt while that is
// under way ends the process at once. Everything the end does is done in the
// signal handler, so it ends code that is busy anywhere: in a loop, a long
// native, a blocking call. An interrupt that was ignored when the process
// started stays ignored.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace kem::platform {

void arm_console_interrupt();
// Holds an interrupt back while the console makes the file's new content
// (code has just been entered): one that comes meanwhile takes effect at
// release_interrupt, with the new content.
void hold_interrupt();
void release_interrupt();
// What the file at path must hold if the process ended now; replaces what
// was handed over before. A path that names no file that can be replaced
// (a folder, a device) leaves nothing to write.
void keep_file_for_interrupt(const std::string& path, std::vector<uint8_t> bytes);

} // namespace kem::platform
