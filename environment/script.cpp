#include "environment/script.h"
#include <cctype>
#include <fstream>
#include <sstream>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/output.h"

namespace kem {

namespace {

std::string molded(const Cell& v) {
    Cell value = v;
    Cell buf;
    string_make_at(&buf, 64);
    mold_direct(&value, &buf, MoldArgs{}, 1000, 0);
    SeriesBuffer* b = node_buffer(series_node(&buf));
    std::string text;
    for (uint32_t i = 0; i < b->used() / b->unit(); i++) {
        int32_t cp = string_char_at(&buf, i);
        if (cp < 0x80) text += char(cp);
        else text += '?';
    }
    return text;
}

// The one-line report, for an error that cannot be made into an error! value
// (before the system object exists).
void report_error_line(const KemError& e) {
    std::string args[3];
    for (int i = 0; i < e.argc; i++) {
        Cell a = e.args[i];
        // Words and strings read as their text; other values as molded.
        if (type_of(&a) == TYPE_STRING) {
            std::string m = molded(a);
            args[i] = m.size() >= 2 ? m.substr(1, m.size() - 2) : m;
        } else {
            args[i] = molded(a);
        }
    }
    std::string type = error_category_info(error_category(e.id)).type_text;
    write_utf8("*** " + type + ": " + error_message(e.id, args, e.argc), true);
}

// The report of an error nobody caught, as print shows an error! value. The
// call stack must still hold the frames of the raise: where and the stack
// line come from them.
void report_error(const KemError& e) {
    try {
        Cell err = *error_from_exception(e);
        Cell buf;
        string_make_at(&buf, 256);
        Cell* holder = stack::push(&buf);
        form_direct(&err, holder, nullptr, 0x7FFFFFFF);
        SeriesBuffer* b = node_buffer(series_node(holder));
        write_text(b->head_ptr(), b->used(), b->unit(), true);
    } catch (const KemError&) {
        report_error_line(e);
    }
}

} // namespace

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
        report_error(e);
        stack::init();
        return 254;
    }
    return 0;
}

} // namespace kem
