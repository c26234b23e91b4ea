// paren!: its mold and its row.
#include "runtime/datatypes/paren.h"
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

Cell* paren_push(const Cell* block) {
    Cell* c = stack::push(block);
    set_type(c, TYPE_PAREN);
    return c;
}

namespace {

int32_t paren_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    // A paren inside itself writes the marker instead of recursing.
    if (mold_cycle(value, series_node(buffer), part, true)) return part;
    if (!refs.only) {
        string_append_ascii(buffer, "(");
        part--;
    }
    part = block_mold_each(value, buffer, refs, part, indent);
    if (!refs.only) {
        string_append_ascii(buffer, ")");
        part--;
    }
    return part;
}

} // namespace

void register_paren() {
    ActionRow row = ActionRow::none_all();
    for (int slot = ACT_MAKE; slot <= ACT_FORM; slot++) row.inherit(slot);
    row.inherit(ACT_EVAL_PATH).inherit(ACT_COMPARE).inherit(ACT_MODIFY);
    for (int slot = ACT_APPEND; slot <= ACT_TAKE; slot++) row.inherit(slot);
    row.set<ACT_MOLD>(paren_mold);
    register_datatype(TYPE_PAREN, TYPE_BLOCK, "paren!", row);
    collector::set_mark_kind(TYPE_PAREN, collector::MK_CELLS2);
}

} // namespace kem
