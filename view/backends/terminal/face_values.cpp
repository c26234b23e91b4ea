#include "view/backends/terminal/face_values.h"
#include <cmath>
#include <unordered_map>
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem::gui {

Cell* field_at(const Cell* object, uint32_t index) {
    if (!object || !is_type(object, TYPE_OBJECT)) return nullptr;
    return context_value_slot_checked(object_context(object), index);
}

Cell field_value(const Cell* object, uint32_t index) {
    const Cell* v = field_at(object, index);
    Cell none;
    make_none(&none);
    return v ? *v : none;
}

Cell* field_named(const Cell* object, const char* name) {
    if (!object || !is_type(object, TYPE_OBJECT)) return nullptr;
    const NodeId ctx = object_context(object);
    const int32_t i = context_find_word(ctx, gui_symbol(name), true);
    return i < 0 ? nullptr : context_value_slot_checked(ctx, uint32_t(i));
}

bool is_face(const Cell* value) {
    if (!is_type(value, TYPE_OBJECT)) return false;
    const Cell* proto = context_global_value_cell(gui_symbol("face!"));
    if (proto && is_type(proto, TYPE_OBJECT) && object_class_id(proto) == object_class_id(value)) return true;
    for (const char* name : {"type", "offset", "size", "parent", "pane", "state", "para", "font", "actors"}) {
        if (!field_named(value, name)) return false;
    }
    return true;
}

bool word_is(const Cell* word, uint32_t symbol) {
    return any_word_type(type_of(word)) && symbol_resolve(word->data2) == symbol_resolve(symbol);
}

uint32_t gui_symbol(const char* name) {
    // Symbols are never removed, so an id once made stays good. Names are
    // string literals: their address is key enough (a spelling met at two
    // addresses is interned once and found twice).
    static std::unordered_map<const char*, uint32_t> made;
    auto [at, fresh] = made.try_emplace(name, 0);
    if (fresh) at->second = symbol_make(name);
    return at->second;
}

Cell* view_field(const char* name) {
    if (!global_context) return nullptr;  // before the runtime's words exist
    const int32_t slot = context_find_word(global_context, gui_symbol("system"), true);
    if (slot < 0) return nullptr;
    const Cell* system = context_value_slot_checked(global_context, uint32_t(slot));
    return field_named(field_named(system, "view"), name);
}

bool view_silent() {
    const Cell* silent = view_field("silent?");
    return silent && is_type(silent, TYPE_LOGIC) && silent->data1 != 0;
}

int32_t saturate_int(double value) {
    if (std::isnan(value)) return 0;
    if (value >= 2147483647.0) return INT32_MAX;
    if (value <= -2147483648.0) return INT32_MIN;
    return int32_t(value);
}

bool point_of(const Cell* value, int32_t* x, int32_t* y) {
    if (is_type(value, TYPE_PAIR)) {
        *x = pair_x(value);
        *y = pair_y(value);
        return true;
    }
    if (is_type(value, TYPE_POINT2D)) {
        *x = saturate_int(point_axis(value, 0));
        *y = saturate_int(point_axis(value, 1));
        return true;
    }
    return false;
}

} // namespace kem::gui
