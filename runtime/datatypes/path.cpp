// The path family: making, conversion, copy, the printed forms and the rows.
#include "runtime/datatypes/path.h"
#include <algorithm>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

namespace {

// The elements from the position with "/" between them, each formed or
// molded by its own row; a path met again inside itself writes the marker.
int32_t write_elements(Cell* value, Cell* buffer, bool mold, const MoldArgs& refs, int32_t part, int32_t indent) {
    if (mold_cycle(value, series_node(buffer), part, mold)) return part;
    const Cell path = *value;
    CycleScope open(series_node(&path));
    for (int32_t i = std::max(series_position(&path), 0); i < int32_t(block_full_length(&path)); i++) {
        if (refs.limit && part < 1) break;
        Cell* element = block_rs_abs_at(&path, uint32_t(i));
        // Elements are written whole: /only of the path must not strip a
        // nested paren's delimiters and change what the path says.
        part = mold ? mold_direct(element, buffer, mold_nested(refs), part, indent)
                    : form_direct(element, buffer, refs.limit, part);
        if (i + 1 < int32_t(block_full_length(&path))) {
            string_append_ascii(buffer, "/");
            part--;
        }
    }
    return part;
}

int32_t affix(Cell* buffer, std::string_view text, int32_t part) {
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

// Cells a numeric make spec asks room for, truncated toward zero.
int32_t room_of(const Cell* spec) {
    if (is_type(spec, TYPE_INTEGER)) return cell_int(spec);
    Cell number = *spec;
    set_type(&number, TYPE_FLOAT);
    return to_int_checked(&number);
}

} // namespace

Cell* path_make_at(Cell* c, int32_t n) {
    block_make_at(c, n);
    set_type(c, TYPE_PATH);
    return c;
}

// --- actions -------------------------------------------------------------------------

Cell* path_make(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t st = type_of(spec);
    Cell* result;
    if (any_block_type(st)) {
        result = block_clone(spec, false, false);
    } else if (st == TYPE_INTEGER || st == TYPE_FLOAT || st == TYPE_PERCENT) {
        const int32_t n = room_of(spec);
        result = stack::push_slot();
        path_make_at(result, n);
    } else {
        Cell dt;
        make_datatype(&dt, uint8_t(type));
        fire(Err::script_bad_make_arg, dt, *spec);
    }
    set_type(result, uint32_t(type));
    return result;
}

Cell* path_to(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t st = type_of(spec);
    if (st == TYPE_OBJECT || st == TYPE_TYPESET || st == TYPE_MAP) {
        const Cell element = *spec;
        Cell* result = block_push_only(1);
        block_append_cell(result, &element);
        set_type(result, uint32_t(type));
        return result;
    }
    Cell* result = block_to(proto, spec, type);
    set_type(result, uint32_t(type));
    return result;
}

Cell* path_copy(Cell* series, Cell* result, const CopyArgs& refs) {
    const uint8_t type = type_of(series);
    block_copy(series, result, refs);
    set_type(result, type);
    return result;
}

int32_t path_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_elements(value, buffer, false, MoldArgs{.limit = arg}, part, 0);
}

int32_t path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return write_elements(value, buffer, true, refs, part, indent);
}

int32_t lit_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    part = affix(buffer, "'", part);
    return path_mold(value, buffer, refs, part, indent);
}

int32_t set_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    part = path_mold(value, buffer, refs, part, indent);
    return affix(buffer, ":", part);
}

int32_t get_path_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    part = affix(buffer, ":", part);
    return path_mold(value, buffer, refs, part, indent);
}

// --- rows ------------------------------------------------------------------------------

namespace {

// The block! slots every path type takes over.
constexpr ActionSlot INHERITED_SLOTS[] = {
    ACT_REFLECT, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT,     ACT_BACK,   ACT_CHANGE, ACT_CLEAR,
    ACT_FIND,    ACT_HEAD,      ACT_HEAD_Q,  ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT,
    ACT_PICK,    ACT_POKE,      ACT_PUT,     ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP,  ACT_SWAP,
    ACT_TAIL,    ACT_TAIL_Q,    ACT_TAKE,    ACT_MODIFY,
};

ActionRow inherited_row() {
    ActionRow row = ActionRow::none_all();
    for (ActionSlot slot : INHERITED_SLOTS) row.inherit(slot);
    return row;
}

// lit-path!, set-path! and get-path! take everything from path! but their mold.
void register_path_kind(uint8_t type, const char* name, action_sig::Mold mold) {
    ActionRow row = inherited_row();
    row.inherit(ACT_MAKE).inherit(ACT_TO).inherit(ACT_FORM).inherit(ACT_COPY).set<ACT_MOLD>(mold);
    register_datatype(type, TYPE_PATH, name, row);
    collector::set_mark_kind(type, collector::MK_CELLS2);
}

} // namespace

void register_path() {
    ActionRow row = inherited_row();
    row.set<ACT_MAKE>(path_make)
        .set<ACT_TO>(path_to)
        .set<ACT_FORM>(path_form)
        .set<ACT_MOLD>(path_mold)
        .set<ACT_COPY>(path_copy);
    register_datatype(TYPE_PATH, TYPE_BLOCK, "path!", row);
    collector::set_mark_kind(TYPE_PATH, collector::MK_CELLS2);
}

void register_lit_path() { register_path_kind(TYPE_LIT_PATH, "lit-path!", lit_path_mold); }
void register_set_path() { register_path_kind(TYPE_SET_PATH, "set-path!", set_path_mold); }
void register_get_path() { register_path_kind(TYPE_GET_PATH, "get-path!", get_path_mold); }

} // namespace kem
