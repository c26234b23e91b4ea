// The natives over files whose bodies live with the file layer: size?.
#pragma once

namespace kem {

// Puts their bodies in the native table; start-up calls it after the table
// is filled.
void register_file_natives();

} // namespace kem
