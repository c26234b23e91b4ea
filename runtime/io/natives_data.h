// The natives over byte data (checksum, compress, decompress), whose bodies
// live with the checksums and deflate they drive.
#pragma once

namespace kem {

// Puts their bodies in the native table; start-up calls it after the table
// is filled.
void register_data_natives();

} // namespace kem
