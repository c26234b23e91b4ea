// issue!: making issues from names, text and words, its mold, its comparison
// and its row (form comes from word!).
#include "runtime/datatypes/issue.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"

namespace kem {

namespace {

Cell issue_of_symbol(uint32_t symbol) { return Cell{TYPE_ISSUE, global_context, symbol, 0xFFFFFFFF}; }

} // namespace

Cell* issue_set_in(Cell* c, const char* name) {
    *c = issue_of_symbol(symbol_make(name));
    return c;
}

Cell* issue_make_in(const Cell* block, const char* name) {
    const Cell issue = issue_of_symbol(symbol_make(name));
    Cell* c = block_alloc_tail(block);
    *c = issue;
    return c;
}

Cell* issue_push(const Cell* word) {
    Cell* c = stack::push(word);
    set_type(c, TYPE_ISSUE);
    return c;
}

Cell* issue_make(Cell* proto, Cell* spec, int32_t type) {
    uint32_t symbol;
    switch (type_of(spec)) {
    case TYPE_STRING: {
        Cell text = *spec;
        symbol = symbol_make_from_string(&text, nullptr);
        break;
    }
    case TYPE_CHAR: {
        Cell text;
        string_make_at(&text, 1);
        string_append_char(&text, cell_int(spec));
        symbol = symbol_make_from_string(&text, nullptr);
        break;
    }
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD:
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: symbol = spec->data2; break;
    default: {
        // word! decides what else names a word, or refuses it; it pushes its result.
        Cell* saved_top = stack::top;
        symbol = word_make(proto, spec, TYPE_ISSUE)->data2;
        stack::top = saved_top;
        break;
    }
    }
    *proto = issue_of_symbol(symbol);
    return proto;
}

namespace {

int32_t issue_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    string_append_ascii(buffer, "#");
    return word_form(value, buffer, refs.limit, part - 1);
}

int32_t issue_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_ISSUE)) return -2;
    return word_compare(value1, value2, op);
}

} // namespace

void register_issue() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(issue_make)
        .set<ACT_TO>(issue_make)
        .inherit(ACT_FORM)
        .set<ACT_MOLD>(issue_mold)
        .set<ACT_COMPARE>(issue_compare);
    register_datatype(TYPE_ISSUE, TYPE_WORD, "issue!", row);
    hash_compare_slots[TYPE_ISSUE] = issue_compare;
}

} // namespace kem
