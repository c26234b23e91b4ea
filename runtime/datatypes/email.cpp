// email!: mold, the /user and /host path access, and the registration of the row.
#include "runtime/datatypes/email.h"
#include <algorithm>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

namespace {

enum class EmailPart { none, user, host };

bool same_ascii_caseless(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

EmailPart part_named(const Cell* element) {
    if (!is_type(element, TYPE_WORD)) return EmailPart::none;
    std::string_view name = symbol_name(element->data2);
    if (same_ascii_caseless(name, "user")) return EmailPart::user;
    if (same_ascii_caseless(name, "host")) return EmailPart::host;
    return EmailPart::none;
}

} // namespace

int32_t email_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return string_form(value, buffer, refs.limit, part);
}

Cell* email_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    if (is_type(element, TYPE_INTEGER)) return string_eval_path(parent, element, value, step);
    EmailPart which = part_named(element);
    if (which == EmailPart::none) fire(Err::script_invalid_path, step.path ? *step.path : none_value, *element);

    // A second reference to the same text, never a copy: setting changes the address itself.
    Cell ref = *parent;
    uint32_t total = string_full_length(&ref);
    uint32_t pos = uint32_t(std::clamp<int64_t>(series_position(&ref), 0, total));
    int32_t at = string_find_char(&ref, '@');
    uint32_t before_at = at >= 0 ? uint32_t(at) : total - pos;
    uint32_t start = pos, length = before_at;
    if (which == EmailPart::host) {
        // Without an "@" the host is the empty text at the tail.
        start = std::min(pos + before_at + 1, total);
        length = total - start;
    }
    set_series_position(&ref, start);
    if (!value) {
        Cell* result = string_make_at(stack::push_slot(), std::max<uint32_t>(length, 1));
        string_concat_into(result, &ref, int32_t(length), 0, true, CONCAT_APPEND);
        return result;
    }
    Cell data = *value;
    string_change(&ref, &data, int32_t(length), false, 1);
    return value;
}

void register_email() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MOLD>(email_mold).set<ACT_EVAL_PATH>(email_eval_path);
    for (int slot : {ACT_RANDOM, ACT_UNUSED, ACT_SORT, ACT_TRIM}) row.none(slot);
    for (int slot = ACT_ABSOLUTE; slot <= ACT_XOR_T; slot++) row.none(slot);
    for (int slot = ACT_CREATE; slot <= ACT_WRITE; slot++)
        if (slot != ACT_MODIFY) row.none(slot);
    register_datatype(TYPE_EMAIL, TYPE_STRING, "email!", row);
    collector::set_mark_kind(TYPE_EMAIL, collector::MK_BYTES2);
}

} // namespace kem
