#include "environment/script.h"
#include <cctype>

namespace kem {

long find_script_header(const std::string& text) {
    for (size_t at = text.find("Kem"); at != std::string::npos; at = text.find("Kem", at + 1)) {
        size_t i = at + 3;
        if (text.compare(i, 7, "/System") == 0) i += 7;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
        if (i < text.size() && text[i] == '[') return long(at);
    }
    return -1;
}

} // namespace kem
