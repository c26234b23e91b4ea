// Natives: do, get and set: evaluating a value, and reading and writing
// words and paths.
#include <algorithm>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/path.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/lexer/lexer.h"

namespace kem {

void register_control_eval_natives();

namespace {

using interp::pending;

inline bool word_kind(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// --- do --------------------------------------------------------------------------------

// One value that is not a block: evaluated as the only value of a block, with
// callables given back as they are (a word holding one still calls it).
void do_single_value() {
    const uint8_t t = type_of(stack::arguments);
    const bool evaluates = word_kind(t) || any_path_type(t) || any_callable_type(t) || t == TYPE_ISSUE;
    if (!evaluates) return;  // the value itself, already in the result cell
    Cell* holder = stack::push_slot();
    block_make_at(holder, 1);
    block_append_cell(holder, stack::arguments);
    const Cell code = *holder;
    interp::eval_expression(0, 1, &code, interp::EvalFlags::no_infix | interp::EvalFlags::literal_callables);
}

void do_value(const int32_t* refinements);

// Calls a function of the library with its leading arguments; its result
// takes the place of the native's arguments.
void call_library(const Cell fn, const Cell& name, const Cell* values, int n) {
    Cell* base = stack::arguments;
    stack::push(&fn);  // kept on the stack for the length of the call
    stack::push_interp_function_frame(&name, function_context(&fn));
    interp::push_callback_arguments(&fn, values, n);
    interp::call_function(&fn);
    if (pending()) return;
    stack::pop_function_frame_keep_result();
    *base = *(stack::top - 1);
    stack::top = base + 1;
}

// A script file or URL runs through the library's do-file, which finds its
// header, sets up system/script and the current folder for it and puts them
// back; it is given the source, no trace callback and the /args value.
void do_script(const Cell& source, const Cell& args) {
    const Cell* found = context_global_value_cell(rt_words.do_file.data2);
    if (!found || !is_type(found, TYPE_FUNCTION)) fire(Err::internal_not_done);
    const Cell values[3] = {source, none_value, args};
    call_library(*found, rt_words.do_file, values, 3);
}

// do/expand: the library's preprocessor/expand rewrites the block in place,
// with no job and without forgetting earlier macros.
void expand_block(const Cell& code) {
    const Cell* pre = context_global_value_cell(rt_words.preprocessor.data2);
    if (!pre || !is_type(pre, TYPE_OBJECT)) fire(Err::internal_not_done);
    const Cell* fn = object_rs_select(pre, &rt_words.expand);
    if (!is_type(fn, TYPE_FUNCTION)) fire(Err::internal_not_done);
    const Cell values[2] = {code, none_value};
    call_library(*fn, rt_words.expand, values, 2);
}

// do/trace: the evaluation runs under the callback; a nested do/trace keeps
// the tracer that is installed.
void do_traced(const int32_t* refinements, int32_t trace_at) {
    CallFrame* const claimed = stack::claim_return_target();
    const Cell callback = stack::arguments[trace_at];
    struct Cleanup {
        CallFrame* claimed;
        bool installed = false;
        bool active = true;
        void leave() {
            if (!active) return;
            active = false;
            stack::release_return_target(claimed);
            if (installed) {
                try {
                    interp::trace_uninstall();
                } catch (...) {
                    // Already leaving with an error or exit: that one goes on.
                }
            }
        }
        ~Cleanup() { leave(); }
    } cleanup{claimed};
    cleanup.installed = interp::trace_install(&callback);
    try {
        do_value(refinements);
    } catch (const KemError& e) {
        // The end event runs Kem code while the error is on its way to its
        // catcher, which makes the error's value from these cells.
        RootedError keep_error(e);
        cleanup.leave();
        throw;
    }
    cleanup.active = false;
    stack::release_return_target(claimed);
    if (cleanup.installed) interp::trace_uninstall();
    // A return or exit stopped at the frame this do marked: it belongs to the
    // function further out.
    if (claimed && stack::frames_top == claimed + 1 &&
        (last_throw_code == THROW_CODE_RETURN || last_throw_code == THROW_CODE_EXIT)) {
        const bool is_return = last_throw_code == THROW_CODE_RETURN;
        last_throw_code = 0;
        stack::unwind_return(is_return, true);
    }
}

void native_do(const int32_t* refinements) {
    const int32_t trace_at = refinements[native_ref(NAT_DO, "trace")];
    if (trace_at >= 0) {
        do_traced(refinements, trace_at);
        return;
    }
    do_value(refinements);
}

void do_value(const int32_t* refinements) {
    const int32_t expand = refinements[native_ref(NAT_DO, "expand")];
    const int32_t next_at = refinements[native_ref(NAT_DO, "next")];
    switch (type_of(stack::arguments)) {
    case TYPE_STRING: {
        // The string is replaced by the block it loads as, then run as one.
        const Cell source = stack::arguments[0];
        lexer_load_string(stack::arguments, &source, -1, false, true, true, true, nullptr, nullptr, nullptr);
        [[fallthrough]];
    }
    case TYPE_BLOCK:
    case TYPE_PAREN:
    case TYPE_HASH: {
        if (expand >= 0) {
            expand_block(stack::arguments[0]);
            if (pending()) return;
        }
        Cell code = stack::arguments[0];  // rooted by the result cell until the result lands there
        const int32_t length = int32_t(block_full_length(&code));
        set_series_position(&code, std::clamp(series_position(&code), 0, length));
        if (next_at < 0) {
            interp::eval_block(&code, true);
            return;
        }
        // The position word is checked before the code runs, written after.
        Cell position_word = stack::arguments[next_at];
        word_value_cell(&position_word);
        const uint32_t after = interp::eval_at(&code);
        if (pending()) return;
        set_series_position(&code, after);
        *word_value_cell(&position_word) = code;
        return;
    }
    case TYPE_FILE:
    case TYPE_URL: {
        const int32_t args_at = refinements[native_ref(NAT_DO, "args")];
        do_script(stack::arguments[0], args_at >= 0 ? stack::arguments[args_at] : none_value);
        return;
    }
    case TYPE_ERROR: error_raise(stack::arguments[0]);
    default: do_single_value(); return;
    }
}

// --- get -------------------------------------------------------------------------------

void native_get(const int32_t* refinements) {
    const bool any = refinements[native_ref(NAT_GET, "any")] >= 0;
    const Cell target = stack::arguments[0];
    const uint8_t t = type_of(&target);
    if (any_path_type(t)) {
        // The path names no call here, so it is given no code to take arguments from.
        interp::eval_path(&target, 0, 0, &target, interp::EvalFlags::get);
        return;
    }
    if (t == TYPE_OBJECT) {
        Cell obj = target;
        const Cell values = *object_reflect(&obj, int32_t(rt_symbols.values));
        stack::set_last(&values);
        return;
    }
    const Cell value = *word_value_cell(&target);
    if (!any && is_type(&value, TYPE_UNSET)) fire(Err::script_no_value, target);
    stack::set_last(&value);
}

// --- set -------------------------------------------------------------------------------

// The cells a value spreads over a block of words: a block kind's from its
// position; a map's pairs from its index, keys shown as words and removed
// pairs left out.
std::vector<Cell> spread_cells(const Cell* value) {
    if (!is_type(value, TYPE_MAP)) return block_cells_copy(value);
    std::vector<Cell> cells;
    const Cell storage{TYPE_BLOCK, 0, map_storage(value), 0};
    const uint32_t total = block_full_length(&storage);
    for (uint32_t k = value->data1 & ~1u; k + 1 < total; k += 2) {
        Cell key = *block_rs_abs_at(&storage, k);
        const Cell val = *block_rs_abs_at(&storage, k + 1);
        if (val.header == 0) continue;  // a removed pair
        if (is_type(&key, TYPE_SET_WORD)) set_type(&key, TYPE_WORD);
        cells.push_back(key);
        cells.push_back(val);
    }
    return cells;
}

// Sets every word of the block (from its position) to the value, or with a
// block-like value and no /only word i to value i (none past its end). /some
// leaves a word unchanged where its value is none. Nothing is set unless every
// target is a word kind and, without /any, no value is unset.
void set_many(const Cell* words_block, const Cell* value, bool any, bool only, bool some) {
    std::vector<Cell> words = block_cells_copy(words_block);
    if (words.empty()) return;
    // An object's change handler runs on each assignment and may clear the
    // blocks these cells came from, leaving the copies as the last reference
    // to a value still to be set or to a word's object.
    RootedCells keep_words(words.data(), uint32_t(words.size()));
    for (const Cell& w : words)
        if (!word_kind(type_of(&w))) fire(Err::script_invalid_arg, w);
    const uint8_t vt = type_of(value);
    if (only || !(any_block_type(vt) || vt == TYPE_MAP)) {
        if (some && vt == TYPE_NONE) return;
        const Cell v = *value;
        for (Cell& w : words) word_set(&w, &v);
        return;
    }
    std::vector<Cell> values = spread_cells(value);
    values.resize(std::max(values.size(), words.size()), none_value);
    RootedCells keep_values(values.data(), uint32_t(values.size()));
    if (!any)
        for (size_t i = 0; i < words.size(); i++)
            if (is_type(&values[i], TYPE_UNSET)) fire(Err::script_need_value, words[i]);
    for (size_t i = 0; i < words.size(); i++) {
        if (some && is_type(&values[i], TYPE_NONE)) continue;
        word_set(&words[i], &values[i]);
    }
}

void native_set(const int32_t* refinements) {
    const bool any = refinements[native_ref(NAT_SET, "any")] >= 0;
    const bool only = refinements[native_ref(NAT_SET, "only")] >= 0;
    const bool some = refinements[native_ref(NAT_SET, "some")] >= 0;
    Cell target = stack::arguments[0];
    const Cell value = stack::arguments[1];
    if (!any && is_type(&value, TYPE_UNSET)) fire(Err::script_need_value, target);
    switch (type_of(&target)) {
    case TYPE_BLOCK:
        stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);
        set_many(&target, &value, any, only, some);
        stack::pop_frame();
        break;
    case TYPE_PATH:
    case TYPE_LIT_PATH:
    case TYPE_SET_PATH:
    case TYPE_GET_PATH:
        // A set path takes the value to store from the top of the stack.
        stack::top = stack::arguments + 2;
        stack::push(&value);
        interp::eval_path(&target, 0, 0, &target, interp::EvalFlags::set);
        if (pending()) return;
        break;
    case TYPE_OBJECT: object_set_many(&target, &value, any, only, some); break;
    default: word_set(&target, &value); break;
    }
    stack::set_last(&value);
}

} // namespace

void register_control_eval_natives() {
    native_register(NAT_DO, native_do);
    native_register(NAT_GET, native_get);
    native_register(NAT_SET, native_set);
}

} // namespace kem
