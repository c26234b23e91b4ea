// ref!: its mold and its row.
#include "runtime/datatypes/ref.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

Cell* ref_push(const Cell* ref) { return stack::push(ref); }

namespace {

int32_t ref_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    string_append_ascii(buffer, "@");
    return string_form(value, buffer, refs.limit, part - 1);
}

} // namespace

void register_ref() {
    ActionRow row = ActionRow::none_all();
    row.inherit(ACT_MAKE).inherit(ACT_REFLECT).inherit(ACT_TO).inherit(ACT_FORM).inherit(ACT_COMPARE);
    for (int slot = ACT_AT; slot <= ACT_POKE; slot++) row.inherit(slot);
    for (int slot = ACT_REMOVE; slot <= ACT_SELECT; slot++) row.inherit(slot);
    for (int slot = ACT_SKIP; slot <= ACT_TAKE; slot++) row.inherit(slot);
    row.inherit(ACT_MODIFY).set<ACT_MOLD>(ref_mold);
    register_datatype(TYPE_REF, TYPE_STRING, "ref!", row);
    collector::set_mark_kind(TYPE_REF, collector::MK_BYTES2);
}

} // namespace kem
