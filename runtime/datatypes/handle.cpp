// handle!: cells, text forms, comparison and the row (nothing is inherited
// from integer!).
#include "runtime/datatypes/handle.h"
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hash_keys.h"

namespace kem {

Cell* handle_set_in(Cell* c, int32_t value, uint32_t cls) {
    *c = Cell{TYPE_HANDLE, cls, static_cast<uint32_t>(value), 0xFFFFFFFF};
    return c;
}

Cell* handle_push(int32_t value, uint32_t cls) { return handle_set_in(stack::push_slot(), value, cls); }

Cell* handle_push_plain() { return handle_push(0, HANDLE_CLASS_NULL); }

Cell* handle_box(int32_t value, uint32_t cls) { return handle_set_in(stack::arguments, value, cls); }

namespace {

// Indexed by class; a class beyond the table has no name to show.
constexpr const char* CLASS_NAMES[] = {"null", "fd", "monitor", "window", "font", "rich-text"};
constexpr uint32_t CLASS_COUNT = sizeof CLASS_NAMES / sizeof CLASS_NAMES[0];

int32_t handle_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string text = string_int_to_hex(handle_value(value), false);
    text += 'h';
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t handle_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    if (!refs.all) {
        string_append_ascii(buffer, "handle!");
        return part - 7;
    }
    string_append_ascii(buffer, "#[handle! ");
    part = handle_form(value, buffer, refs.limit, part - 10);
    uint32_t cls = handle_class(value);
    if (cls > 0 && cls < CLASS_COUNT) {
        std::string name = std::string(" ") + CLASS_NAMES[cls];
        string_append_ascii(buffer, name);
        part -= int32_t(name.size());
    }
    string_append_ascii(buffer, "]");
    return part - 1;
}

int32_t handle_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_HANDLE)) return -2;
    int32_t a = handle_value(value1);
    int32_t b = handle_value(value2);
    return (a > b) - (a < b);
}

} // namespace

void register_handle() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_FORM>(handle_form).set<ACT_MOLD>(handle_mold).set<ACT_COMPARE>(handle_compare);
    register_datatype(TYPE_HANDLE, TYPE_INTEGER, "handle!", row);
    collector::set_mark_kind(TYPE_HANDLE, collector::MK_HANDLE);
    hash_compare_slots[TYPE_HANDLE] = handle_compare;
}

} // namespace kem
