// The natives that start other programs: call (external commands, their
// input, output and exit status) and browse (the desktop's opener).
#pragma once

namespace kem {

// Puts their bodies in the native table; start-up calls it after the table
// is filled.
void register_call_natives();

} // namespace kem
