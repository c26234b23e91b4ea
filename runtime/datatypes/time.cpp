// time!: cells, fields, text form, make/to, and the row that takes the
// arithmetic core of float! and adds what differs for times.
#include "runtime/datatypes/time.h"
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"

namespace kem {

// --- cells -----------------------------------------------------------------------

Cell* time_make_at(Cell* c, double seconds) {
    *c = Cell{TYPE_TIME, 0, 0, 0};
    set_cell_float(c, seconds);
    return c;
}

Cell* time_make_in(const Cell* block, uint32_t high, uint32_t low) {
    return time_make_at(block_alloc_tail(block), std::bit_cast<double>((uint64_t(high) << 32) | low));
}

Cell* time_push(double seconds) { return time_make_at(stack::push_slot(), seconds); }

double time_from_parts(int32_t hours, int64_t minutes, double seconds, bool negative) {
    double s = seconds + double(minutes) * SECONDS_PER_MINUTE + std::fabs(double(hours)) * SECONDS_PER_HOUR;
    return negative || hours < 0 ? -s : s;
}

// --- fields ------------------------------------------------------------------------

namespace {

[[noreturn]] void fire_type_limit() {
    Cell t;
    make_datatype(&t, TYPE_INTEGER);
    fire(Err::script_type_limit, t);
}

// The magnitude split into whole hours, minutes and seconds. The hours are
// taken from what the hour's remainder leaves, so the three parts always add
// up to the magnitude again.
struct TimeParts {
    bool negative;
    double hours;
    double minutes;
    double seconds;
};

TimeParts split(double x) {
    double a = std::fabs(x);
    double within_hour = std::fmod(a, SECONDS_PER_HOUR);
    return TimeParts{x < 0.0, (a - within_hour) / SECONDS_PER_HOUR, std::floor(within_hour / SECONDS_PER_MINUTE),
                     std::fmod(a, SECONDS_PER_MINUTE)};
}

double join(const TimeParts& p) {
    double m = p.hours * SECONDS_PER_HOUR + p.minutes * SECONDS_PER_MINUTE + p.seconds;
    return p.negative ? -m : m;
}

const char* const field_names[] = {"hour", "minute", "second"};

// Canonical symbol ids of the field words, interned on first use.
uint32_t field_symbol(int i) {
    static uint32_t ids[3] = {0, 0, 0};
    if (!ids[i]) ids[i] = symbol_resolve(symbol_make(field_names[i]));
    return ids[i];
}

[[noreturn]] void fire_invalid_path(const Cell* path, const Cell* element) {
    fire(Err::script_invalid_path, path ? *path : none_value, *element);
}

} // namespace

int32_t time_hours(double seconds) {
    TimeParts p = split(seconds);
    if (!fits_int32(p.hours)) fire_type_limit();
    int32_t h = static_cast<int32_t>(p.hours);
    return p.negative ? -h : h;
}

int32_t time_minutes(double seconds) { return trunc_to_int32(split(seconds).minutes); }

double time_seconds(double seconds) { return std::fmod(seconds, SECONDS_PER_MINUTE); }

int32_t time_field_index(const Cell* word, const Cell* value) {
    uint32_t symbol = symbol_resolve(word->data2);
    for (int i = 0; i < 3; i++)
        if (symbol == field_symbol(i)) return i + 1;
    if (is_type(value, TYPE_TIME)) fire(Err::script_cannot_use, *word, *value);
    return -1;
}

Cell* time_push_field(const Cell* time, int32_t field) {
    double x = cell_float(time);
    switch (field) {
    case TIME_HOUR: return integer_push(time_hours(x));
    case TIME_MINUTE: return integer_push(time_minutes(x));
    default: return float_push(time_seconds(x));
    }
}

double time_set_field(double seconds, int32_t field, const Cell* value) {
    uint8_t t = type_of(value);
    bool number_ok = t == TYPE_INTEGER || (field == TIME_SECOND && t == TYPE_FLOAT);
    if (!number_ok) fire(Err::script_invalid_arg, *value);
    TimeParts p = split(seconds);
    switch (field) {
    case TIME_HOUR: {
        int32_t v = cell_int(value);
        if (v != 0) p.negative = v < 0;
        p.hours = std::fabs(double(v));
        break;
    }
    case TIME_MINUTE: p.minutes = cell_int(value); break;
    default: {
        // The seconds field reads with the time's sign, so it is written so too.
        double v = t == TYPE_INTEGER ? double(cell_int(value)) : cell_float(value);
        p.seconds = p.negative ? -v : v;
        break;
    }
    }
    return join(p);
}

// --- conversions ------------------------------------------------------------------------

int32_t time_to_integer(double seconds) {
    double r = std::round(seconds);
    if (!fits_int32(r)) fire_type_limit();
    return static_cast<int32_t>(r);
}

namespace {

std::string time_text(double x) {
    if (!std::isfinite(x)) return float_form_float(x, FORM_FLOAT);
    std::string text;
    if (x < 0.0) {
        text = "-";
        x = -x;
    }
    TimeParts p = split(x);
    char digits[400];
    std::snprintf(digits, sizeof digits, "%.0f:%02d:", p.hours, int(p.minutes));
    text += digits;
    if (p.seconds < TIME_SECONDS_EPSILON) {
        text += "00";
    } else {
        const char* s = float_form_float(p.seconds, FORM_TIME);
        if (s[0] == '\0' || s[1] == '\0' || s[1] == '.') text += '0';
        text += s;
    }
    return text;
}

} // namespace

int32_t time_form_time(double seconds, Cell* buffer, int32_t part) {
    std::string text = time_text(seconds);
    string_append_ascii(buffer, text);
    return part - int32_t(text.size());
}

void time_invalid_error(const Cell* spec) {
    Cell t;
    make_datatype(&t, TYPE_TIME);
    fire(Err::script_bad_to_arg, t, *spec);
}

void notify_scalar_owner(const Cell* owner, const Cell* word, const Cell& old_value, const Cell& new_value) {
    if (!owner) return;
    uint8_t t = type_of(owner);
    if (t == TYPE_OBJECT) {
        if (!owner->data3 || !context_on_change || !word) return;
        // The handler runs Kem code: everything it is given sits on the data stack.
        Cell* saved_top = stack::top;
        Cell* object = stack::push(owner);
        Cell* field = stack::push(word);
        Cell* old_cell = stack::push(&old_value);
        Cell* new_cell = stack::push(&new_value);
        context_on_change(object, field, old_cell, new_cell);
        stack::top = saved_top;
    } else if (any_block_type(t)) {
        series_notify_owner(owner, ChangeWord::poked, &new_value);
    }
}

// --- make and to --------------------------------------------------------------------

namespace {

// [hours minutes seconds], each optional; only the hours may be negative,
// and then they negate the whole.
double from_block(const Cell* spec) {
    std::vector<Cell> items = block_cells_copy(spec);
    if (items.size() > 3) time_invalid_error(spec);
    double parts[3] = {0.0, 0.0, 0.0};
    bool negative = false;
    for (size_t i = 0; i < items.size(); i++) {
        const Cell* item = &items[i];
        uint8_t t = type_of(item);
        bool ok = t == TYPE_INTEGER || (i == 2 && t == TYPE_FLOAT);
        if (!ok) time_invalid_error(spec);
        double v = t == TYPE_INTEGER ? double(cell_int(item)) : cell_float(item);
        if (v < 0.0) {
            if (i != 0) time_invalid_error(spec);
            negative = true;
            v = -v;
        }
        parts[i] = v;
    }
    double s = parts[0] * SECONDS_PER_HOUR + parts[1] * SECONDS_PER_MINUTE + parts[2];
    return negative ? -s : s;
}

double from_text(const Cell* spec) {
    Cell loaded;
    make_unset(&loaded);
    load_one_value(spec, &loaded);
    if (!is_type(&loaded, TYPE_TIME)) time_invalid_error(spec);
    return cell_float(&loaded);
}

} // namespace

Cell* time_make(Cell* proto, Cell* spec, int32_t type) {
    double s;
    uint8_t t = type_of(spec);
    switch (t) {
    case TYPE_TIME:
    case TYPE_FLOAT:
    case TYPE_PERCENT: s = cell_float(spec); break;
    case TYPE_INTEGER: s = cell_int(spec); break;
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: s = from_block(spec); break;
    default:
        if (!any_string_type(t)) time_invalid_error(spec);
        s = from_text(spec);
        break;
    }
    return time_make_at(proto, s);
}

// --- the action row ----------------------------------------------------------------------

int32_t time_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return time_form_time(cell_float(value), buffer, part);
}

int32_t time_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return time_form_time(cell_float(value), buffer, part);
}

Cell* time_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    int32_t field;
    if (is_type(element, TYPE_INTEGER)) {
        field = cell_int(element);
        if (field < TIME_HOUR || field > TIME_SECOND) fire_invalid_path(step.path, element);
    } else if (is_type(element, TYPE_WORD)) {
        field = time_field_index(element, parent);
    } else {
        fire_invalid_path(step.path, element);
    }
    if (!value) return time_push_field(parent, field);

    const Cell old = *parent;
    set_cell_float(parent, time_set_field(cell_float(parent), field, value));
    if (step.notify) notify_scalar_owner(step.owner, step.prev_element, old, *parent);
    return value;
}

Cell* time_pick(Cell* value, int32_t index, Cell* boxed) {
    Cell index_cell;
    if (!boxed) boxed = integer_make_at(&index_cell, index);
    int32_t field = is_type(boxed, TYPE_WORD) ? time_field_index(boxed, value) : index;
    if (field < TIME_HOUR || field > TIME_SECOND) fire(Err::script_out_of_range, *boxed);
    return time_push_field(value, field);
}

namespace {

Cell* time_add() {
    if (is_type(stack::arg(1), TYPE_DATE)) {
        swap_arguments();
        return date_do_math(OP_ADD);
    }
    return float_do_math(OP_ADD);
}

Cell* time_subtract() {
    if (is_type(stack::arg(1), TYPE_DATE)) fire_not_related_op(OP_SUBTRACT, stack::arg(1));
    return float_do_math(OP_SUBTRACT);
}

Cell* time_multiply() {
    if (is_type(stack::arg(1), TYPE_TIME)) fire_not_related_op(OP_MULTIPLY, stack::arg(1));
    return float_do_math(OP_MULTIPLY);
}

// time / time is a ratio; time / number stays a time.
Cell* time_divide() {
    bool ratio = is_type(stack::arg(1), TYPE_TIME);
    Cell* result = float_do_math(OP_DIVIDE);
    if (ratio && is_type(result, TYPE_TIME)) set_type(result, TYPE_FLOAT);
    return result;
}

// An integer scale is given to the float rounding as a float, so the result
// stays a double (a time far beyond 32 bits of seconds rounds as well).
Cell* time_round(Cell* n, const RoundArgs& refs) {
    Cell float_scale;
    RoundArgs as_float = refs;
    if (refs.to && (is_type(refs.to, TYPE_INTEGER) || is_type(refs.to, TYPE_CHAR))) {
        make_float(&float_scale, double(cell_int(refs.to)));
        as_float.to = &float_scale;
    }
    Cell* result = float_round(n, as_float);
    set_type(result, TYPE_TIME);
    return result;
}

// Only the seconds of the minute count; the nudge keeps 2.0 - tiny even.
int32_t whole_seconds_of_minute(const Cell* value) {
    double x = cell_float(value);
    double s = x >= 0.0 ? x + TIME_SECONDS_EPSILON : x - TIME_SECONDS_EPSILON;
    return trunc_to_int32(std::fmod(s, SECONDS_PER_MINUTE));
}

bool time_even_q(Cell* value) { return (whole_seconds_of_minute(value) & 1) == 0; }
bool time_odd_q(Cell* value) { return (whole_seconds_of_minute(value) & 1) != 0; }

} // namespace

void register_time() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(time_make)
        .inherit(ACT_RANDOM)
        .set<ACT_TO>(time_make)
        .set<ACT_FORM>(time_form)
        .set<ACT_MOLD>(time_mold)
        .set<ACT_EVAL_PATH>(time_eval_path)
        .inherit(ACT_COMPARE)
        .inherit(ACT_ABSOLUTE)
        .set<ACT_ADD>(time_add)
        .set<ACT_DIVIDE>(time_divide)
        .set<ACT_MULTIPLY>(time_multiply)
        .inherit(ACT_NEGATE)
        .inherit(ACT_REMAINDER)
        .set<ACT_ROUND>(time_round)
        .set<ACT_SUBTRACT>(time_subtract)
        .set<ACT_EVEN_Q>(time_even_q)
        .set<ACT_ODD_Q>(time_odd_q)
        .set<ACT_PICK>(time_pick);
    register_datatype(TYPE_TIME, TYPE_FLOAT, "time!", row);
    hash_compare_slots[TYPE_TIME] = float_compare;
}

} // namespace kem
