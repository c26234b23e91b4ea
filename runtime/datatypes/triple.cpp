// triple!: three signed 32-bit integers in payload words 1, 2 and 3, made
// only by the runtime. It has text forms and nothing else.
#include <string>
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"

namespace kem {

namespace {

int32_t triple_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    std::string text = "make triple! [";
    text += integer_form_signed(static_cast<int32_t>(value->data1));
    text += ' ';
    text += integer_form_signed(static_cast<int32_t>(value->data2));
    text += ' ';
    text += integer_form_signed(static_cast<int32_t>(value->data3));
    text += ']';
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

int32_t triple_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return triple_form(value, buffer, refs.limit, part);
}

} // namespace

void register_triple() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_FORM>(triple_form).set<ACT_MOLD>(triple_mold);
    register_datatype(TYPE_TRIPLE, 0, "triple!", row);
}

} // namespace kem
