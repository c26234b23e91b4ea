// Running a script file: its Kem [...] header, then the code after it.
#pragma once
#include <string>

namespace kem {

// Loads and evaluates the script; returns the process exit status: 0, or
// 254 (-2) after an error nobody caught (reported on standard output).
int run_script_file(const std::string& path);

// The offset of the header ("Kem", optionally "/System", blanks, "["), or -1.
long find_script_header(const std::string& text);

} // namespace kem
