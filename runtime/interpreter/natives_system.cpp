// Natives: unset new-line new-line? context? wait to-local-file set-env get-env
// list-env now as transcode. apply lives in natives_system_apply.cpp.
#include <algorithm>
#include <optional>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/date.h"
#include "runtime/datatypes/file.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/time.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/lexer/lexer.h"
#include "runtime/platform/platform.h"
#include "runtime/services/unicode/text.h"

namespace kem {

void register_system_apply_natives();

namespace {

// A refinement without an argument is present for any value but -1.
inline bool given(const int32_t* refinements, int at) { return refinements[at] != -1; }

// The result cell of a native without arguments lies at the data top: claim it
// as a pushed cell, so that the cells pushed after it stay above it.
Cell* result_slot() {
    stack::top = stack::arguments;
    return stack::push_slot();
}

// --- unset, new-line, new-line?, context? ------------------------------------------

void native_unset(const int32_t*) {
    Cell* args = stack::arguments;
    const Cell target = args[0];
    if (is_type(&target, TYPE_WORD)) {
        Cell word = target;  // setting resolves the word's index in place: work on a copy
        word_set(&word, &unset_value);
    } else {
        // Read by index: a change handler may run Kem code that alters the block.
        for (uint32_t i = uint32_t(std::max(series_position(&target), 0)); i < block_full_length(&target); i++) {
            Cell item = *block_rs_abs_at(&target, i);
            if (!is_type(&item, TYPE_WORD)) continue;
            word_set(&item, &unset_value);
            if (interp::pending()) return;
        }
    }
    make_unset(args);
    stack::keep_result();
}

constexpr int NEW_LINE_ALL = native_ref(NAT_NEW_LINE, "all");
constexpr int NEW_LINE_SKIP = native_ref(NAT_NEW_LINE, "skip");

void native_new_line(const int32_t* refinements) {
    Cell* args = stack::arguments;
    const Cell position = args[0];
    const bool mark = args[1].data1 != 0;
    const bool all = given(refinements, NEW_LINE_ALL);
    const int32_t skip_at = refinements[NEW_LINE_SKIP];
    int64_t step = 1;
    if (skip_at >= 0) {
        step = cell_int(args + skip_at);
        if (step < 1) fire(Err::script_out_of_range, args[skip_at]);
    }
    const uint32_t start = uint32_t(std::max(series_position(&position), 0));
    const uint32_t tail = block_full_length(&position);
    if (start < tail) {
        Cell* cells = block_rs_abs_at(&position, 0);
        const uint32_t end = (all || skip_at >= 0) ? tail : start + 1;
        for (uint32_t i = start; i < end; i++) {
            // Every step-th cell follows the value, the cells between get the opposite.
            const bool on = (step == 1 || (i - start) % step == 0) ? mark : !mark;
            if (on) cells[i].header |= HEADER_NEW_LINE;
            else cells[i].header &= ~HEADER_NEW_LINE;
        }
    }
    stack::keep_result();  // the position is already the result
}

void native_new_line_q(const int32_t*) {
    Cell* args = stack::arguments;
    const Cell position = args[0];
    const int32_t at = series_position(&position);
    const bool marked = at >= 0 && uint32_t(at) < block_full_length(&position) &&
                        (block_rs_abs_at(&position, uint32_t(at))->header & HEADER_NEW_LINE) != 0;
    make_logic(args, marked);
    stack::keep_result();
}

void native_context_q(const int32_t*) {
    Cell* args = stack::arguments;
    const NodeId ctx = args[0].data1;
    // An unbound word has no context to ask for its self value.
    if (ctx) *args = *context_self_cell(ctx);
    else make_none(args);
    stack::keep_result();
}

// --- wait, to-local-file ------------------------------------------------------------

WaitPasses wait_passes = nullptr;

void native_wait(const int32_t*) {
    Cell* args = stack::arguments;
    double seconds;
    switch (type_of(args)) {
    case TYPE_INTEGER: seconds = cell_int(args); break;
    case TYPE_FLOAT: seconds = cell_float(args); break;
    case TYPE_TIME: seconds = time_get(args); break;
    default: fire(Err::script_invalid_arg, args[0]);
    }
    if (!wait_passes || !wait_passes(platform::wait_milliseconds(seconds))) platform::wait(seconds);
    make_none(args);
    stack::keep_result();
}

constexpr int TO_LOCAL_FILE_FULL = native_ref(NAT_TO_LOCAL_FILE, "full");

void native_to_local_file(const int32_t* refinements) {
    Cell* args = stack::arguments;
    const Cell path = args[0];
    Cell* local = string_make_at(stack::push_slot(), uint32_t(std::max(string_rs_length(&path), 0)));
    file_to_local_path(&path, local, given(refinements, TO_LOCAL_FILE_FULL));
    stack::set_last_keep(local);
}

// --- environment ----------------------------------------------------------------------

// The text of a string kind from its position, or a word's spelling, as UTF-8.
// A NUL stays in the text: the platform layer refuses such names rather than
// acting on the part before the NUL.
std::string env_text(Cell* value) {
    if (any_word_type(type_of(value))) return std::string(symbol_name(value->data2));
    int32_t length = -1;
    const uint8_t* bytes = string_to_utf8_data(value, &length, false);
    return std::string(reinterpret_cast<const char*>(bytes), size_t(std::max(length, 0)));
}

void native_set_env(const int32_t*) {
    Cell* args = stack::arguments;
    const std::string name = env_text(args);
    std::optional<std::string> value;
    if (!is_type(args + 1, TYPE_NONE)) value = env_text(args + 1);
    if (!platform::set_env(name, value)) {
        // Nothing was set: say so instead of answering as if it had been.
        if (value && value->find('\0') != std::string::npos) fire(Err::script_invalid_arg, args[1]);
        fire(Err::script_invalid_arg, args[0]);
    }
    args[0] = args[1];
    stack::keep_result();
}

void native_get_env(const int32_t*) {
    Cell* args = stack::arguments;
    const std::optional<std::string> value = platform::get_env(env_text(args));
    if (value) string_make_utf8(args, *value);
    else make_none(args);
    stack::keep_result();
}

void native_list_env(const int32_t*) {
    Cell* result = result_slot();
    const auto vars = platform::list_env();
    map_make_at(result, nullptr, int32_t(vars.size()));
    for (const auto& [name, value] : vars) {
        Cell* key = string_make_utf8(stack::push_slot(), name);
        Cell* text = string_make_utf8(stack::push_slot(), value);
        // Names differing only in letter case are different variables here.
        map_store(result, key, text, true, nullptr);
        stack::top = result + 1;
    }
}

// --- now ------------------------------------------------------------------------------

constexpr int NOW_YEAR = native_ref(NAT_NOW, "year");
constexpr int NOW_MONTH = native_ref(NAT_NOW, "month");
constexpr int NOW_DAY = native_ref(NAT_NOW, "day");
constexpr int NOW_TIME = native_ref(NAT_NOW, "time");
constexpr int NOW_ZONE = native_ref(NAT_NOW, "zone");
constexpr int NOW_DATE = native_ref(NAT_NOW, "date");
constexpr int NOW_WEEKDAY = native_ref(NAT_NOW, "weekday");
constexpr int NOW_YEARDAY = native_ref(NAT_NOW, "yearday");
constexpr int NOW_PRECISE = native_ref(NAT_NOW, "precise");
constexpr int NOW_UTC = native_ref(NAT_NOW, "utc");

// The refinements that each ask for one part of the date, with its field.
constexpr struct {
    int refinement;
    int32_t field;
} NOW_FIELDS[] = {
    {NOW_YEAR, DATE_FIELD_YEAR}, {NOW_MONTH, DATE_FIELD_MONTH},     {NOW_DAY, DATE_FIELD_DAY},
    {NOW_TIME, DATE_FIELD_TIME}, {NOW_ZONE, DATE_FIELD_ZONE},       {NOW_WEEKDAY, DATE_FIELD_WEEKDAY},
    {NOW_YEARDAY, DATE_FIELD_YEARDAY},
};

void native_now(const int32_t* refinements) {
    const bool date_only = given(refinements, NOW_DATE);
    const bool precise = given(refinements, NOW_PRECISE);
    int chosen = int(date_only) + int(precise);
    for (const auto& f : NOW_FIELDS) chosen += int(given(refinements, f.refinement));
    // /precise refines /time rather than asking for a part of its own.
    if (precise && given(refinements, NOW_TIME)) chosen--;
    if (chosen > 1) fire(Err::script_bad_refines);

    // Date and time from one clock reading, so that they cannot straddle midnight.
    const platform::DateTime clock = platform::get_date_time(given(refinements, NOW_UTC), precise);
    Cell* result = result_slot();
    Cell date;
    date_make_from_clock(&date, clock.date, clock.seconds, date_only);
    *result = date;
    if (date_only) return;
    for (const auto& f : NOW_FIELDS) {
        if (!given(refinements, f.refinement)) continue;
        const Cell part = *date_push_field(&date, f.field);
        stack::set_last_keep(&part);
        return;
    }
}

// --- as -------------------------------------------------------------------------------

inline bool block_family(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}

void native_as(const int32_t*) {
    Cell* args = stack::arguments;
    const uint8_t target = is_type(args, TYPE_DATATYPE) ? uint8_t(args[0].data1) : type_of(args);
    const uint8_t source = type_of(args + 1);
    if (!((block_family(target) && block_family(source)) || (any_string_type(target) && any_string_type(source)))) {
        Cell from, to;
        make_datatype(&from, source);
        make_datatype(&to, target);
        fire(Err::script_not_same_class, from, to);
    }
    // The same series at the same position, seen as another type: nothing is copied.
    Cell retyped = args[1];
    set_type(&retyped, target);
    stack::set_last_keep(&retyped);
}

// --- transcode ------------------------------------------------------------------------

// The values a callback receives, in the order of its arguments:
// event input type line token.
constexpr int CALLBACK_VALUES = 5;
constexpr int CALLBACK_INPUT = 1;

// Runs the callback function with the event's values as its arguments and
// answers the truth of its result; a callback that moved its `input`
// argument moves the event's input too.
bool run_callback(const Cell& function, LexerEventArgs& event) {
    Cell* saved_top = stack::top;
    const Cell fn = function;
    Cell values[CALLBACK_VALUES] = {event.event, event.input, event.type, {}, event.token};
    make_integer(&values[3], event.line);

    stack::push_function_frame(&rt_words.lexer_callback, function_context(&fn));
    // A callback may take fewer values than there are; refinements stay off.
    const int taken = interp::push_callback_arguments(&fn, values, CALLBACK_VALUES);

    interp::call_function(&fn, interp::CALLBACK_LEXER);
    if (interp::pending()) throw PendingExit{};
    const bool answer = is_truthy(stack::arguments);
    if (taken > CALLBACK_INPUT) event.input = stack::arguments[CALLBACK_INPUT];
    stack::pop_function_frame_keep_result();
    stack::top = saved_top;
    return answer;
}

// The first value of a function's body (none for an empty body): a block
// there lists the events the callback wants.
Cell body_first(const Cell& fn) {
    const Cell body = *function_body(&fn);
    if (is_type(&body, TYPE_BLOCK) && block_rs_length(&body) > 0)
        return *block_rs_abs_at(&body, uint32_t(series_position(&body)));
    return none_value;
}

constexpr int TRANSCODE_NEXT = native_ref(NAT_TRANSCODE, "next");
constexpr int TRANSCODE_ONE = native_ref(NAT_TRANSCODE, "one");
constexpr int TRANSCODE_PRESCAN = native_ref(NAT_TRANSCODE, "prescan");
constexpr int TRANSCODE_SCAN = native_ref(NAT_TRANSCODE, "scan");
constexpr int TRANSCODE_PART = native_ref(NAT_TRANSCODE, "part");
constexpr int TRANSCODE_INTO = native_ref(NAT_TRANSCODE, "into");
constexpr int TRANSCODE_TRACE = native_ref(NAT_TRANSCODE, "trace");

void native_transcode(const int32_t* refinements) {
    Cell* args = stack::arguments;
    Cell* source = args;

    // The position is kept within the series, in the argument itself: the rest
    // that /next answers is measured from it.
    const int64_t total = series_unit_count(source);
    set_series_position(source, std::clamp<int64_t>(series_position(source), 0, total));

    TranscodeRequest request;
    const bool next = given(refinements, TRANSCODE_NEXT);
    request.one = given(refinements, TRANSCODE_ONE);
    request.prescan = given(refinements, TRANSCODE_PRESCAN);
    request.scan = given(refinements, TRANSCODE_SCAN);
    // /next with /one gives the value alone; with /scan it keeps its [type rest] form.
    request.next = next && (!request.one || request.scan);
    if (refinements[TRANSCODE_PART] >= 0) {
        const Cell* part = args + refinements[TRANSCODE_PART];
        if (is_type(part, TYPE_BINARY) && !is_type(source, TYPE_BINARY)) fire(Err::script_not_same_type);
        request.part = part;
    }
    if (refinements[TRANSCODE_INTO] >= 0) request.into = args + refinements[TRANSCODE_INTO];

    LexerCallback callback;
    if (refinements[TRANSCODE_TRACE] >= 0) {
        callback.function = args[refinements[TRANSCODE_TRACE]];
        const Cell first = body_first(callback.function);
        callback.mask = lexer_event_mask(&first);
        LexerCallback* self = &callback;
        callback.hook = [self](LexerEventArgs& event) { return run_callback(self->function, event); };
        request.trace = &callback;
    }

    Cell* result = stack::push_slot();
    make_unset(result);
    try {
        transcode(source, request, result);
    } catch (const PendingExit&) {
        return;
    }
    stack::set_last_keep(result);
}

} // namespace

void register_system_natives() {
    native_register(NAT_UNSET, native_unset);
    native_register(NAT_NEW_LINE, native_new_line);
    native_register(NAT_NEW_LINE_Q, native_new_line_q);
    native_register(NAT_CONTEXT_Q, native_context_q);
    native_register(NAT_WAIT, native_wait);
    native_register(NAT_TO_LOCAL_FILE, native_to_local_file);
    native_register(NAT_SET_ENV, native_set_env);
    native_register(NAT_GET_ENV, native_get_env);
    native_register(NAT_LIST_ENV, native_list_env);
    native_register(NAT_NOW, native_now);
    native_register(NAT_AS, native_as);
    native_register(NAT_TRANSCODE, native_transcode);
    register_system_apply_natives();
}

void set_wait_passes(WaitPasses passes) { wait_passes = passes; }

} // namespace kem
