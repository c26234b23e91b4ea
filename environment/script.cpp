#include "environment/script.h"
#include <cctype>
#include <fstream>
#include <sstream>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/error.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/output.h"

namespace kem {

long find_script_header(const std::string& text) {
    for (size_t at = text.find("Kem"); at != std::string::npos; at = text.find("Kem", at + 1)) {
        size_t i = at + 3;
        if (text.compare(i, 7, "/System") == 0) i += 7;
        size_t blanks = i;
        while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) i++;
        if (i < text.size() && text[i] == '[' && (i > blanks || i == blanks)) return long(at);
    }
    return -1;
}

int run_script_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        write_utf8("*** Error: cannot open: " + path, true);
        return 1;
    }
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    long at = find_script_header(text);
    if (at < 0) {
        write_utf8("*** Error: Kem header not found!", true);
        return 1;
    }
    try {
        Cell* code = stack::push_slot();
        lexer_scan(code, reinterpret_cast<const uint8_t*>(text.data() + at), uint32_t(text.size() - size_t(at)), false,
                   true, true, true, nullptr, nullptr, nullptr, nullptr);
        Cell body = *code;
        body.data1 += 2;  // past Kem and its header block
        interp::eval_block(&body, false);
        last_throw_code = 0;
        stack::init();
    } catch (const KemError& e) {
        error_print_report(e);
        stack::init();
        return 254;
    }
    return 0;
}

} // namespace kem
