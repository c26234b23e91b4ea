// Printing the report of an error without raising it.
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/string.h"
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

// One console write, for which the GUI's picture steps aside.
struct ConsoleWrite {
    ConsoleWrite() { prin_parts_begin(); }
    ~ConsoleWrite() { prin_parts_end(false); }
    ConsoleWrite(const ConsoleWrite&) = delete;
    ConsoleWrite& operator=(const ConsoleWrite&) = delete;
};

} // namespace

void error_print_report(const KemError& e) {
    try {
        Cell err = *error_from_exception(e);
        Cell buf;
        string_make_at(&buf, 256);
        Cell* holder = stack::push(&buf);
        form_direct(&err, holder, nullptr, 0x7FFFFFFF);
        SeriesBuffer* b = node_buffer(series_node(holder));
        ConsoleWrite write;
        write_text(b->head_ptr(), b->used(), b->unit(), true);
    } catch (const KemError&) {
        ConsoleWrite write;
        report_error_line(e);
    }
}

} // namespace kem
