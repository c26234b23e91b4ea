// none!: the empty value; it stands in for an empty series in a few actions.
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

const Cell none_value = {TYPE_NONE, 0, 0, 0};

Cell* none_box() {
    stack::arguments->header = TYPE_NONE;
    return stack::arguments;
}

Cell* none_push() {
    Cell* c = stack::push_slot();
    c->header = TYPE_NONE;
    return c;
}

namespace {

Cell* none_make(Cell* proto, Cell* spec, int32_t type) { return none_push(); }

int32_t none_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string_append_ascii(buffer, "none");
    return part - 4;
}

int32_t none_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    if (!refs.all) return none_form(value, buffer, refs.limit, part);
    string_append_ascii(buffer, "#(none)");
    return part - 7;
}

int32_t none_compare(Cell* value, Cell* other, CompareOp op) {
    if (type_of(other) != TYPE_NONE) return -2;
    return compare_unordered(op) ? 0 : -2;
}

Cell* none_clear(Cell* series) { return none_box(); }
Cell* none_find(Cell*, Cell*, const FindArgs&) { return none_box(); }
int32_t none_length(Cell* series) { return -1; }
Cell* none_remove(Cell*, const RemoveArgs&) { return none_box(); }
Cell* none_select(Cell*, Cell*, const SelectArgs&) { return none_box(); }
Cell* none_take(Cell*, const TakeArgs&) { return none_box(); }

} // namespace

void register_none() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(none_make)
        .set<ACT_TO>(none_make)
        .set<ACT_FORM>(none_form)
        .set<ACT_MOLD>(none_mold)
        .set<ACT_COMPARE>(none_compare)
        .set<ACT_CLEAR>(none_clear)
        .set<ACT_FIND>(none_find)
        .set<ACT_LENGTH_Q>(none_length)
        .set<ACT_REMOVE>(none_remove)
        .set<ACT_SELECT>(none_select)
        .set<ACT_TAKE>(none_take);
    register_datatype(TYPE_NONE, 0, "none!", row);
}

} // namespace kem
