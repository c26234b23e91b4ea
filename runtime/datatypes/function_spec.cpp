// function! specs: validation, attributes, type blocks, duplicates, the
// collection of locals for the function native, and local slots.
#include <algorithm>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

inline uint32_t canonical(const Cell* word) { return symbol_resolve(word->data2); }
inline bool named(const Cell* word, uint32_t symbol) { return canonical(word) == symbol_resolve(symbol); }
inline bool is_local_refinement(const Cell* c) {
    return is_type(c, TYPE_REFINEMENT) && named(c, rt_refinements.local.data2);
}
inline bool argument_kind(uint8_t t) { return t == TYPE_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD; }

inline int32_t start_of(const Cell* blk) { return std::max(series_position(blk), 0); }

// The type of item k, or -1 past the tail.
int type_at(const Cell* blk, int32_t k) {
    return k < int32_t(block_full_length(blk)) ? type_of(block_rs_abs_at(blk, uint32_t(k))) : -1;
}

// --- collecting locals ---------------------------------------------------------------

struct Collector {
    Cell collection;
    Cell ignore;

    bool ignored(uint32_t symbol) const {
        const uint32_t total = block_full_length(&ignore);
        for (uint32_t i = 0; i < total; i++) {
            const Cell* c = block_rs_abs_at(&ignore, i);
            if (is_type(c, TYPE_WORD) && canonical(c) == symbol) return true;
        }
        return false;
    }

    // function/collect-word: once per name, never an argument or extern word.
    void collect_word(const Cell* item) {
        Cell word = *item;
        word.header = TYPE_WORD;
        if (ignored(canonical(&word))) return;
        block_append_cell(&collection, &word);
        block_append_cell(&ignore, &word);
    }

    // function/collect-in-block: the loop words of foreach and remove-each.
    void collect_in_block(const Cell* block) {
        const Cell blk = *block;
        for (int32_t i = start_of(&blk); i < int32_t(block_full_length(&blk)); i++) {
            const Cell item = *block_rs_abs_at(&blk, uint32_t(i));
            if (argument_kind(type_of(&item))) collect_word(&item);
        }
    }

    // function/collect-deep: set-words anywhere in the body, and loop words.
    void collect_deep(const Cell* block) {
        const Cell blk = *block;
        // A body that contains itself is walked once.
        if (cycle_find(series_node(&blk))) return;
        CycleScope open(series_node(&blk));
        for (int32_t i = start_of(&blk); i < int32_t(block_full_length(&blk)); i++) {
            const Cell item = *block_rs_abs_at(&blk, uint32_t(i));
            const uint8_t t = type_of(&item);
            if (t == TYPE_BLOCK || t == TYPE_PAREN) {
                collect_deep(&item);
            } else if (t == TYPE_SET_WORD) {
                collect_word(&item);
            } else if (t == TYPE_WORD) {
                const int next = type_at(&blk, i + 1);
                const uint32_t sym = canonical(&item);
                const bool each = sym == symbol_resolve(rt_symbols.foreach) ||
                                  sym == symbol_resolve(rt_symbols.remove_each);
                if (each && next == TYPE_BLOCK) {
                    collect_in_block(block_rs_abs_at(&blk, uint32_t(i + 1)));
                } else if ((each || sym == symbol_resolve(rt_symbols.repeat)) &&
                           (next == TYPE_WORD || next == TYPE_SET_WORD)) {
                    const Cell word = *block_rs_abs_at(&blk, uint32_t(i + 1));
                    collect_word(&word);
                }
            }
        }
    }
};

} // namespace

// --- validation -------------------------------------------------------------------------

void function_fire_bad_spec(const Cell* spec) { fire(Err::script_bad_func_def, *spec); }

int32_t function_spec_attributes(const Cell* block) {
    const Cell blk = *block;
    int32_t flags = 0;
    for (int32_t i = start_of(&blk); i < int32_t(block_full_length(&blk)); i++) {
        const Cell* item = block_rs_abs_at(&blk, uint32_t(i));
        if (!is_type(item, TYPE_WORD)) return -1;
        if (named(item, rt_symbols.trace)) flags |= int32_t(FUNCTION_TRACE);
        else if (named(item, rt_symbols.no_trace)) flags |= int32_t(FUNCTION_NO_TRACE);
    }
    return flags;
}

void function_check_type_block(const Cell* block) {
    const Cell blk = *block;
    for (int32_t i = start_of(&blk); i < int32_t(block_full_length(&blk)); i++) {
        const Cell item = *block_rs_abs_at(&blk, uint32_t(i));
        const Cell* value = &item;
        if (is_type(&item, TYPE_WORD)) {
            value = word_value_cell(&item);
            if (is_type(value, TYPE_UNSET)) fire(Err::script_no_value, item);
        }
        const uint8_t t = type_of(value);
        if (t != TYPE_DATATYPE && t != TYPE_TYPESET && t != TYPE_WORD) fire(Err::script_invalid_type_spec, item);
    }
}

void function_check_duplicates(const Cell* spec) {
    const Cell blk = *spec;
    std::vector<Cell> names;
    for (int32_t i = start_of(&blk); i < int32_t(block_full_length(&blk)); i++) {
        const Cell* item = block_rs_abs_at(&blk, uint32_t(i));
        if (argument_kind(type_of(item)) || is_type(item, TYPE_REFINEMENT)) names.push_back(*item);
    }
    for (size_t i = 0; i < names.size(); i++)
        for (size_t j = i + 1; j < names.size(); j++)
            if (canonical(&names[i]) == canonical(&names[j])) fire(Err::script_dup_vars, names[i]);
}

uint32_t function_validate(const Cell* spec_in) {
    const Cell spec = *spec_in;
    const int32_t total = int32_t(block_full_length(&spec));
    auto item = [&](int32_t k) { return block_rs_abs_at(&spec, uint32_t(k)); };
    int32_t i = start_of(&spec);
    uint32_t flags = 0;
    if (i < total && is_type(item(i), TYPE_BLOCK)) {
        int32_t attributes = function_spec_attributes(item(i));
        if (attributes < 0) function_fire_bad_spec(&spec);
        flags = uint32_t(attributes);
        i++;
    }
    bool return_seen = false, local_seen = false;
    while (i < total) {
        const uint8_t t = type_of(item(i));
        const int next = type_at(&spec, i + 1);
        switch (t) {
        case TYPE_WORD:
        case TYPE_LIT_WORD:
        case TYPE_GET_WORD:
            if (local_seen && t != TYPE_WORD) function_fire_bad_spec(&spec);
            // The type block comes before the doc string.
            if (next == TYPE_STRING && type_at(&spec, i + 2) == TYPE_BLOCK) function_fire_bad_spec(&spec);
            if (return_seen && !local_seen) function_fire_bad_spec(&spec);
            if (next == TYPE_BLOCK) {
                function_check_type_block(item(i + 1));
                i += 2;
            } else {
                i++;
            }
            break;
        case TYPE_SET_WORD: {
            if (!named(item(i), rt_symbols.return_) || return_seen || local_seen) function_fire_bad_spec(&spec);
            if (next != TYPE_BLOCK) function_fire_bad_spec(&spec);
            const int after = type_at(&spec, i + 2);
            if (after != -1 && after != TYPE_REFINEMENT && after != TYPE_STRING) function_fire_bad_spec(&spec);
            return_seen = true;
            i += 2;
            break;
        }
        case TYPE_REFINEMENT:
            if (is_local_refinement(item(i))) local_seen = true;
            else if (local_seen || return_seen) function_fire_bad_spec(&spec);
            if (next != -1 && !argument_kind(uint8_t(next)) && next != TYPE_REFINEMENT && next != TYPE_SET_WORD &&
                next != TYPE_STRING)
                function_fire_bad_spec(&spec);
            i++;
            break;
        case TYPE_STRING: i++; break;
        default: function_fire_bad_spec(&spec);
        }
    }
    function_check_duplicates(&spec);
    return flags;
}

// --- locals -----------------------------------------------------------------------------

Cell function_collect_words(Cell* spec, const Cell* body) {
    Collector c;
    block_make_at(&c.collection, 8);
    block_clone_at(&c.ignore, spec, false, false);
    set_type(&c.ignore, TYPE_BLOCK);

    const int32_t first = start_of(spec);
    const int32_t total = int32_t(block_full_length(spec));
    int32_t extern_at = -1;
    for (int32_t i = first; i < total && extern_at < 0; i++) {
        const Cell* item = block_rs_abs_at(spec, uint32_t(i));
        if (is_type(item, TYPE_REFINEMENT) && named(item, rt_refinements.extern_.data2)) extern_at = i;
    }
    if (extern_at >= 0) {
        int32_t k = extern_at + 1;
        while (k < total && is_type(block_rs_abs_at(spec, uint32_t(k)), TYPE_WORD)) k++;
        // Locals declared after the extern words stay locals.
        if (k < total && is_local_refinement(block_rs_abs_at(spec, uint32_t(k)))) {
            for (int32_t j = k + 1; j < total; j++) {
                Cell word = *block_rs_abs_at(spec, uint32_t(j));
                if (!is_type(&word, TYPE_WORD)) continue;
                word.header = TYPE_WORD;
                block_append_cell(&c.collection, &word);
            }
        }
        block_set_tail_at(spec, uint32_t(extern_at));
    }

    for (uint32_t i = 0; i < block_full_length(&c.ignore); i++) {
        Cell* item = block_rs_abs_at(&c.ignore, i);
        const uint8_t t = type_of(item);
        if (t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD || t == TYPE_REFINEMENT) {
            set_type(item, TYPE_WORD);
        } else if (extern_at >= 0 && t != TYPE_WORD && t != TYPE_BLOCK && t != TYPE_STRING) {
            fire(Err::script_bad_func_extern, *item);
        }
    }

    if (body && any_block_type(type_of(body))) c.collect_deep(body);

    if (block_full_length(&c.collection) > 0) {
        if (function_count_locals(spec, uint32_t(first), true) < 0) block_append_cell(spec, &rt_refinements.local);
        // A word named local would clash with the /local refinement's own slot.
        for (uint32_t i = 0; i < block_full_length(&c.collection);) {
            if (named(block_rs_abs_at(&c.collection, i), rt_words.local.data2)) series_delete_units(&c.collection, i, 1);
            else i++;
        }
        block_append_all(spec, &c.collection);
    }
    return c.collection;
}

int32_t function_count_locals(const Cell* spec, uint32_t start, bool ask) {
    const int32_t total = int32_t(block_full_length(spec));
    int32_t count = 0;
    bool found = false;
    for (int32_t i = int32_t(start); i < total; i++) {
        const Cell* item = block_rs_abs_at(spec, uint32_t(i));
        if (!found) {
            if (is_local_refinement(item)) {
                found = true;
                count = 1;
            }
        } else if (is_type(item, TYPE_WORD)) {
            count++;
        }
    }
    return ask && !found ? -1 : count;
}

void function_init_locals(uint32_t n) {
    stack::push(&false_value);
    for (uint32_t i = 1; i < n; i++) stack::push(&none_value);
}

} // namespace kem
