#include "runtime/datatypes/stack_words.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"

namespace kem::stack {

Cell frame_word(const CallFrame* f) {
    uint32_t sym = frame_symbol(f);
    if (!global_context) return Cell{TYPE_WORD, f->context, sym, 0xFFFFFFFF};  // before the word table exists
    // A frame named self keeps a plain block where others keep a context.
    if (f->context && type_of(context_cell(f->context)) == TYPE_CONTEXT)
        return context_symbol_cell_or_global(f->context, sym);
    return context_symbol_cell_or_global(global_context, sym);
}

Cell caller_word() {
    if (!frames_bottom) return Cell{TYPE_NONE, 0, 0, 0};
    CallFrame* f = throw_origin ? throw_origin - 1 : frames_top - 1;
    throw_origin = nullptr;
    for (; f >= frames_bottom; f--)
        if (frame_named(f)) return frame_word(f);
    return Cell{TYPE_NONE, 0, 0, 0};
}

void collect_calls(const Cell* block) {
    for (CallFrame* f = frames_top - 1; f > frames_bottom; f--) {
        if (!frame_named(f)) continue;
        Cell word = frame_word(f);
        block_append_cell(block, &word);
        Cell base{TYPE_INTEGER, 0, f->saved_args, 0};
        block_append_cell(block, &base);
    }
}

namespace {
// Whether the frame's word is worth listing at this level.
bool frame_listed(const CallFrame* f, int32_t level, Cell* word) {
    if (!frame_named(f)) return false;
    *word = frame_word(f);
    if (level > 1) return true;
    if (!word->data1) return false;
    // A report must not fail: a word whose value cannot be read is not listed.
    try {
        // A function of the system is one call, as a native is: only the
        // script's own functions are listed.
        Cell* value = word_value_cell(word);
        return value && type_of(value) == TYPE_FUNCTION && !function_is_system(value);
    } catch (const KemError&) {
        return false;
    }
}
} // namespace

void frame_words(int32_t level, const Cell* block, const CallFrame* end) {
    for (CallFrame* f = frames_bottom; f < end && f < frames_top; f++) {
        Cell word;
        if (frame_listed(f, level, &word)) block_append_cell(block, &word);
    }
}

int32_t form_frame_words(int32_t level, const CallFrame* end, Cell* string, int32_t limit) {
    for (CallFrame* f = frames_bottom; f < end && f < frames_top; f++) {
        Cell word;
        if (!frame_listed(f, level, &word)) continue;
        limit = form_direct(&word, string, nullptr, limit);
        string_append_ascii(string, " ");
        limit -= 1;
    }
    return limit;
}

} // namespace kem::stack
