// event!: making, field access, text forms and comparison (no parent type:
// every slot not set here is empty).
#include "runtime/datatypes/event.h"
#include <cmath>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

constexpr const char* TYPE_NAMES[EVT_TYPE_COUNT] = {
    "down",     "up",      "mid-down", "mid-up",  "alt-down", "alt-up",   "aux-down", "aux-up",   "click",
    "dbl-click", "wheel",  "over",     "key",     "key-down", "key-up",   "ime",      "focus",    "unfocus",
    "enter",    "zoom",    "pan",      "rotate",  "two-tap",  "press-tap", "select",  "change",   "menu",
    "close",    "move",    "resize",   "moving",  "resizing", "time",     "drawing",  "scroll",
};

// The words of the flags field, in the order it lists them; `command` is
// never listed.
struct FlagName {
    const char* name;
    uint32_t bit;
};
constexpr FlagName FLAG_NAMES[] = {
    {"away", EVENT_FLAG_AWAY},         {"down", EVENT_FLAG_DOWN},       {"mid-down", EVENT_FLAG_MID_DOWN},
    {"alt-down", EVENT_FLAG_ALT_DOWN}, {"aux-down", EVENT_FLAG_AUX_DOWN}, {"control", EVENT_FLAG_CONTROL},
    {"shift", EVENT_FLAG_SHIFT},       {"alt", EVENT_FLAG_ALT},
};
constexpr int LISTED_FLAGS = sizeof FLAG_NAMES / sizeof FLAG_NAMES[0];

// Special key codes -20 .. -42 (-30 has no key).
constexpr const char* KEY_NAMES[] = {
    "up", "down", "right", "left", "end", "home", "insert", "delete", "page-up", "page-down", nullptr,
    "F1", "F2",   "F3",    "F4",   "F5",  "F6",   "F7",     "F8",     "F9",      "F10",       "F11", "F12",
};
constexpr int32_t FIRST_KEY_CODE = -20;
constexpr int KEY_COUNT = sizeof KEY_NAMES / sizeof KEY_NAMES[0];

// Canonical symbols, interned on first use (the symbol table comes after the
// datatype registry).
struct EventSymbols {
    uint32_t types[EVT_TYPE_COUNT];
    uint32_t flags[LISTED_FLAGS];
    uint32_t command;
    uint32_t keys[KEY_COUNT];
    uint32_t fields[EVF_COUNT];
};

const EventSymbols& symbols() {
    static EventSymbols s = [] {
        EventSymbols t{};
        for (uint32_t i = 0; i < EVT_TYPE_COUNT; i++) t.types[i] = symbol_resolve(symbol_make(TYPE_NAMES[i]));
        for (int i = 0; i < LISTED_FLAGS; i++) t.flags[i] = symbol_resolve(symbol_make(FLAG_NAMES[i].name));
        t.command = symbol_resolve(symbol_make("command"));
        for (int i = 0; i < KEY_COUNT; i++) t.keys[i] = KEY_NAMES[i] ? symbol_make(KEY_NAMES[i]) : 0;
        const uint32_t fields[EVF_COUNT] = {
            rt_symbols.type,     rt_symbols.face,       rt_symbols.window,     rt_symbols.offset,
            rt_symbols.key,      rt_symbols.picked,     rt_symbols.flags,      rt_symbols.away_q,
            rt_symbols.down_q,   rt_symbols.mid_down_q, rt_symbols.alt_down_q, rt_symbols.aux_down_q,
            rt_symbols.ctrl_q,   rt_symbols.shift_q,    rt_symbols.orientation,
        };
        for (int i = 0; i < EVF_COUNT; i++) t.fields[i] = symbol_resolve(fields[i]);
        return t;
    }();
    return s;
}

// The one block the flags field returns, refilled at every read.
NodeId flags_block = 0;

void mark_flags_block() {
    if (flags_block) collector::mark_block_node(&flags_block);
}

Cell* flags_block_fill(uint32_t flags, Cell* out) {
    if (!flags_block) {
        Cell made;
        block_make_at(&made, LISTED_FLAGS);
        flags_block = series_node(&made);
        collector::add_layer_root("event flags", mark_flags_block);
    }
    make_series(out, TYPE_BLOCK, flags_block);
    block_set_tail_at(out, 0);
    for (int i = 0; i < LISTED_FLAGS; i++)
        if (flags & FLAG_NAMES[i].bit) word_make_in(symbols().flags[i], out);
    return out;
}

uint32_t flag_of_field(int32_t n) {
    switch (n) {
    case EVF_AWAY: return EVENT_FLAG_AWAY;
    case EVF_DOWN: return EVENT_FLAG_DOWN;
    case EVF_MID_DOWN: return EVENT_FLAG_MID_DOWN;
    case EVF_ALT_DOWN: return EVENT_FLAG_ALT_DOWN;
    case EVF_AUX_DOWN: return EVENT_FLAG_AUX_DOWN;
    case EVF_CTRL: return EVENT_FLAG_CONTROL;
    case EVF_SHIFT: return EVENT_FLAG_SHIFT;
    default: return 0;
    }
}

void script_field(const Cell& ev, int32_t n, Cell* out) {
    if (n == EVF_KEY) {
        const uint32_t cp = event_flags(&ev) & 0xFFFF;
        if (cp) *out = Cell{TYPE_CHAR, 0, cp, 0};
        else make_none(out);
        return;
    }
    if (!ev.data2) {
        if (n == EVF_OFFSET) pair_set_in(out, 0, 0);
        else if (n == EVF_PICKED) make_integer(out, 0);
        else make_none(out);
        return;
    }
    const Cell extra{TYPE_BLOCK, 0, ev.data2, 0};
    const int slot = n == EVF_FACE ? 0 : n == EVF_WINDOW ? 1 : n == EVF_OFFSET ? 2 : 3;
    *out = *block_rs_abs_at(&extra, slot);
}

void backend_field(const Cell& ev, int32_t n, Cell* out) {
    const GuiEventData* data = gui_event_data(ev.data2);
    if (!data || n == EVF_WINDOW) {
        make_none(out);
        return;
    }
    switch (n) {
    case EVF_FACE: *out = data->face; break;
    case EVF_OFFSET: pair_set_in(out, int32_t(std::trunc(data->x)), int32_t(std::trunc(data->y))); break;
    case EVF_KEY:
        if (!(event_flags(&ev) & EVENT_FLAG_SPECIAL_KEY)) {
            *out = Cell{TYPE_CHAR, 0, uint32_t(data->key), 0};
        } else {
            const int32_t i = FIRST_KEY_CODE - data->key;
            if (i >= 0 && i < KEY_COUNT && symbols().keys[i]) word_make_at(symbols().keys[i], out);
            else make_none(out);
        }
        break;
    default:
        if (event_type_code(&ev) == EVT_WHEEL) make_float(out, data->wheel);
        else make_integer(out, data->key);
    }
}

// --- actions ---------------------------------------------------------------

// The value a spec entry stands for: a bound word gives its value.
Cell spec_value(const Cell* c) {
    const uint8_t t = type_of(c);
    if ((t == TYPE_WORD || t == TYPE_GET_WORD) && c->data1) return *word_value_cell(c);
    return *c;
}

Cell* event_make(Cell* proto, Cell* spec, int32_t) {
    Cell ev{TYPE_EVENT | EVENT_SCRIPT_MADE, 0, 0, 0};
    Cell extra[4];
    make_none(&extra[0]);
    make_none(&extra[1]);
    pair_set_in(&extra[2], 0, 0);
    make_integer(&extra[3], 0);
    bool has_extra = false;
    if (is_type(spec, TYPE_BLOCK)) {
        Cell blk = *spec;
        const int32_t n = block_rs_length(&blk);
        for (int32_t i = 0; i + 1 < n; i++) {
            const Cell* at = block_rs_head(&blk) + i;
            if (!is_type(at, TYPE_SET_WORD)) continue;
            const uint32_t sym = symbol_resolve(at->data2);
            const Cell value = spec_value(at + 1);
            i++;
            const uint8_t vt = type_of(&value);
            if (sym == symbols().fields[EVF_TYPE - 1]) {
                if (vt == TYPE_WORD || vt == TYPE_LIT_WORD) event_set_type(&ev, &value);
            } else if (sym == symbols().fields[EVF_KEY - 1]) {
                if (vt == TYPE_CHAR) ev.data3 |= value.data2 & 0xFFFF;
            } else if (sym == symbols().fields[EVF_FLAGS - 1]) {
                if (vt == TYPE_BLOCK) {
                    Cell flags = value;
                    const int32_t m = block_rs_length(&flags);
                    for (int32_t j = 0; j < m; j++) {
                        const Cell* w = block_rs_head(&flags) + j;
                        if (is_type(w, TYPE_WORD)) ev.data3 |= event_flag_bit(w->data2);
                    }
                }
            } else if (sym == symbols().fields[EVF_FACE - 1] || sym == symbols().fields[EVF_WINDOW - 1]) {
                if (vt == TYPE_OBJECT) {
                    extra[sym == symbols().fields[EVF_FACE - 1] ? 0 : 1] = value;
                    has_extra = true;
                }
            } else if (sym == symbols().fields[EVF_OFFSET - 1]) {
                if (vt == TYPE_PAIR || vt == TYPE_POINT2D) {
                    extra[2] = value;
                    has_extra = true;
                }
            } else if (sym == symbols().fields[EVF_PICKED - 1]) {
                if (vt == TYPE_INTEGER) {
                    extra[3] = value;
                    has_extra = true;
                }
            }
        }
    }
    if (has_extra) {
        // The held values are objects and scalars: no node of theirs can go
        // while the block is made.
        Cell* const saved_top = stack::top;
        Cell* blk = block_push_only(4);
        for (const Cell& c : extra) block_append_cell(blk, &c);
        ev.data2 = series_node(blk);
        stack::top = saved_top;
    }
    *proto = ev;
    return proto;
}

int32_t event_form(Cell*, Cell* buffer, Cell*, int32_t part) {
    string_append_ascii(buffer, "event");
    return part - 5;
}

int32_t event_mold(Cell* value, Cell* buffer, const MoldArgs&, int32_t part, int32_t) {
    return event_form(value, buffer, nullptr, part);
}

int32_t event_compare(Cell*, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_EVENT)) return -2;
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
    case CompareOp::strict_equal:
    case CompareOp::sort:
    case CompareOp::case_sort:
    case CompareOp::same:
    case CompareOp::find: return 0;
    default: return -2;
    }
}

Cell* event_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    const Cell path = step.path ? *step.path : none_value;
    if (value) {
        if (event_field_index(element) != EVF_TYPE) fire(Err::script_bad_path_set, path, *element);
        if (!is_type(value, TYPE_WORD)) fire(Err::script_bad_path_set, path, *value);
        event_set_type(parent, value);
        return value;
    }
    const int32_t n = event_field_index(element);
    if (n < 0) fire(Err::script_invalid_path, path, *element);
    const Cell ev = *parent;
    Cell* out = stack::push_slot();
    event_get_field(&ev, n, out);
    return out;
}

Cell* event_pick(Cell* series, int32_t index, Cell* boxed) {
    if (boxed && any_word_type(type_of(boxed))) {
        index = event_field_index(boxed);
        if (index < 0) fire(Err::script_cannot_use, *boxed, *series);
    } else if (index < 1 || index > EVF_COUNT) {
        Cell shown;
        if (boxed) shown = *boxed;
        else make_integer(&shown, index);
        fire(Err::script_out_of_range, shown);
    }
    const Cell ev = *series;
    event_get_field(&ev, index, series);
    return series;
}

} // namespace

Cell* event_make_backend_at(Cell* c, uint32_t type, uint32_t handle, uint32_t flags) {
    *c = Cell{TYPE_EVENT, type, handle, flags};
    return c;
}

uint32_t event_type_symbol(uint32_t code) {
    return code >= 1 && code <= EVT_TYPE_COUNT ? symbols().types[code - 1] : 0;
}

uint32_t event_type_code_of(uint32_t symbol) {
    const uint32_t canonical = symbol_resolve(symbol);
    for (uint32_t i = 0; i < EVT_TYPE_COUNT; i++)
        if (symbols().types[i] == canonical) return i + 1;
    return 0;
}

void event_set_type(Cell* ev, const Cell* word) {
    const uint32_t code = event_type_code_of(word->data2);
    if (!code) {
        Cell shown = *word;
        set_type(&shown, TYPE_WORD);
        fire(Err::script_not_event_type, shown);
    }
    ev->data1 = code;
}

int32_t event_field_index(const Cell* word) {
    if (!any_word_type(type_of(word)) || is_type(word, TYPE_ISSUE)) return -1;
    const uint32_t canonical = symbol_resolve(word->data2);
    for (int32_t i = 0; i < EVF_COUNT; i++)
        if (symbols().fields[i] == canonical) return i + 1;
    return -1;
}

uint32_t event_flag_bit(uint32_t symbol) {
    const uint32_t canonical = symbol_resolve(symbol);
    for (int i = 0; i < LISTED_FLAGS; i++)
        if (symbols().flags[i] == canonical) return FLAG_NAMES[i].bit;
    return canonical == symbols().command ? EVENT_FLAG_COMMAND : 0;
}

void event_get_field(const Cell* ev_cell, int32_t n, Cell* out) {
    const Cell ev = *ev_cell;
    switch (n) {
    case EVF_TYPE:
        // A script-made event given no type has no type word.
        if (const uint32_t sym = event_type_symbol(event_type_code(&ev))) word_make_at(sym, out);
        else make_none(out);
        return;
    case EVF_FLAGS: flags_block_fill(event_flags(&ev), out); return;
    case EVF_ORIENTATION: make_none(out); return;
    default: break;
    }
    if (const uint32_t bit = flag_of_field(n)) {
        make_logic(out, (event_flags(&ev) & bit) != 0);
        return;
    }
    if (event_script_made(&ev)) script_field(ev, n, out);
    else backend_field(ev, n, out);
}

void register_event() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(event_make)
        .set<ACT_FORM>(event_form)
        .set<ACT_MOLD>(event_mold)
        .set<ACT_EVAL_PATH>(event_eval_path)
        .set<ACT_COMPARE>(event_compare)
        .set<ACT_PICK>(event_pick);
    register_datatype(TYPE_EVENT, 0, "event!", row);
    collector::set_mark_kind(TYPE_EVENT, collector::MK_EVENT);
}

} // namespace kem
