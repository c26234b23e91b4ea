// Finding a script's header in its text.
#pragma once
#include <string>

namespace kem {

// The offset of the header ("Kem", optionally "/System", blanks, "["), or -1.
long find_script_header(const std::string& text);

} // namespace kem
