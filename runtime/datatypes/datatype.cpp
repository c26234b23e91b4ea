// datatype!: a value naming a type; payload word 1 holds the type id.
#include "runtime/datatypes/datatype.h"
#include <string>
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

Cell* datatype_make_in(const Cell* block, uint8_t type) {
    Cell* c = block_alloc_tail(block);
    make_datatype(c, type);
    return c;
}

namespace {

int32_t datatype_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    const DatatypeName& n = datatype_names[value->data1];
    string_append_ascii(buffer, std::string_view(n.name, n.length));
    return part - int32_t(n.length);
}

int32_t datatype_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const DatatypeName& n = datatype_names[value->data1];
    std::string_view name(n.name, n.length + 1);
    if (!refs.all) {
        string_append_ascii(buffer, name);
        return part - int32_t(name.size());
    }
    std::string text = "#(" + std::string(name) + ")";
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t datatype_compare(Cell* value, Cell* other, CompareOp op) {
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
    case CompareOp::strict_equal:
    case CompareOp::same:
    case CompareOp::find: return (type_of(other) == TYPE_DATATYPE && other->data1 == value->data1) ? 0 : 1;
    default: return -2;
    }
}

} // namespace

void register_datatype_type() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_FORM>(datatype_form).set<ACT_MOLD>(datatype_mold).set<ACT_COMPARE>(datatype_compare);
    register_datatype(TYPE_DATATYPE, 0, "datatype!", row);
}

} // namespace kem
