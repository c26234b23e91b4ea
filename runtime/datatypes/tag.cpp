// tag!: form, mold and the registration of the row.
#include "runtime/datatypes/tag.h"
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

int32_t tag_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    string_append_ascii(buffer, "<");
    int32_t left = string_form(value, buffer, arg, part - 1);
    string_append_ascii(buffer, ">");
    return left - 1;
}

int32_t tag_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return tag_form(value, buffer, refs.limit, part);
}

void register_tag() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_FORM>(tag_form).set<ACT_MOLD>(tag_mold);
    for (int slot : {ACT_RANDOM, ACT_UNUSED, ACT_SORT, ACT_TRIM}) row.none(slot);
    for (int slot = ACT_ABSOLUTE; slot <= ACT_XOR_T; slot++) row.none(slot);
    for (int slot = ACT_CREATE; slot <= ACT_WRITE; slot++)
        if (slot != ACT_MODIFY) row.none(slot);
    register_datatype(TYPE_TAG, TYPE_STRING, "tag!", row);
    collector::set_mark_kind(TYPE_TAG, collector::MK_BYTES2);
}

} // namespace kem
