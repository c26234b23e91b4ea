// OS services as values.
#include "runtime/io/os.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/platform/os.h"

namespace kem {

Cell* os_command_line() { return string_make_utf8(stack::push_slot(), platform::command_line()); }

Cell* os_get_info() {
    const platform::OsInfo info = platform::os_info();
    Cell* out = object_make_at(stack::push_slot(), 8);
    const NodeId ctx = object_context(out);
    const auto add = [ctx](const char* field, const Cell& value) {
        Cell word;
        word_make_at(symbol_make(field), &word);
        context_add_with_value(ctx, &word, &value);
    };
    Cell value;
    string_make_utf8(&value, info.name);
    add("name", value);
    word_make_at(symbol_make(info.arch.c_str()), &value);
    add("arch", value);
    tuple_make_at(&value, info.version, 3);
    add("version", value);
    make_integer(&value, info.build);
    add("build", value);
    return out;
}

} // namespace kem
