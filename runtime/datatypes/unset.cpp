// unset!: the value of nothing.
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

const Cell unset_value = {TYPE_UNSET, 0, 0, 0};

Cell* unset_push() {
    Cell* c = stack::push_slot();
    c->header = TYPE_UNSET;
    return c;
}

namespace {

Cell* unset_make(Cell* proto, Cell* spec, int32_t type) { return unset_push(); }

int32_t unset_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) { return part; }

int32_t unset_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    string_append_ascii(buffer, refs.all ? "#(unset)" : "unset");
    return part - (refs.all ? 8 : 5);
}

int32_t unset_compare(Cell* value, Cell* other, CompareOp op) {
    if (type_of(other) != TYPE_UNSET) return -2;
    return compare_unordered(op) ? 0 : -2;
}

} // namespace

void register_unset() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(unset_make)
        .set<ACT_TO>(unset_make)
        .set<ACT_FORM>(unset_form)
        .set<ACT_MOLD>(unset_mold)
        .set<ACT_COMPARE>(unset_compare);
    register_datatype(TYPE_UNSET, 0, "unset!", row);
}

} // namespace kem
