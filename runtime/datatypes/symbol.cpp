// symbol!: interning names and giving their text back.
#include "runtime/datatypes/symbol.h"
#include <cstring>
#include "runtime/collector/collector.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hashtable.h"
#include "runtime/services/unicode/text.h"

namespace kem {

NodeId symbol_table = 0;
NodeId symbol_block = 0;

namespace {

uint32_t resolve_hook(uint32_t id) { return symbol_resolve(id); }

// A symbol cell's id when the cell lies in the symbol block, else 0 (a copy).
uint32_t id_of_cell(const Cell* symbol) {
    const SeriesBuffer* b = node_buffer(symbol_block);
    const Cell* head = const_cast<SeriesBuffer*>(b)->cell_head();
    if (symbol < head || symbol >= head + b->used() / 16) return 0;
    return static_cast<uint32_t>(symbol - head) + 1;
}

// The string node of any symbol cell: cached when it has an id.
NodeId string_of_cell(const Cell* symbol) {
    if (symbol->data2) return symbol->data2;
    if (uint32_t id = id_of_cell(symbol)) return symbol_to_string(id);
    SeriesBuffer* name = node_buffer(symbol->data3);
    return load_text_new(name->head_ptr(), name->used());
}

} // namespace

void symbol_table_init(uint32_t n) {
    if (symbol_table) return;
    symbol_block = alloc_cells(n ? n : 1);
    Cell block;
    make_series(&block, TYPE_BLOCK, symbol_block);
    symbol_table = hash_make(n, &block, HASH_SYMBOLS, 0);
    collector::add_layer_root("symbol table", [] {
        collector::mark_table(&symbol_table);
        collector::mark_block_node(&symbol_block);
    });
    // Context word tables hash and match words by canonical id from now on.
    hash_key_hooks.resolve_symbol = resolve_hook;
}

uint32_t symbol_make(const char* name) {
    return symbol_table_find(symbol_table, reinterpret_cast<const uint8_t*>(name),
                             static_cast<uint32_t>(std::strlen(name)), false);
}

uint32_t symbol_make_caseless(const char* name) {
    return symbol_table_find(symbol_table, reinterpret_cast<const uint8_t*>(name),
                             static_cast<uint32_t>(std::strlen(name)), true);
}

uint32_t symbol_make_from_utf8(const uint8_t* bytes, uint32_t length) {
    return symbol_table_find(symbol_table, bytes, length, false);
}

uint32_t symbol_make_from_string(Cell* string, int32_t* units) {
    int32_t limit = units ? *units : -1;
    // The bytes live in the string's conversion buffer, which interning never
    // expands, so they stay put while the name is copied.
    const uint8_t* bytes = string_to_utf8_data(string, &limit, false);
    if (units) *units = limit;
    return symbol_table_find(symbol_table, bytes, static_cast<uint32_t>(limit), false);
}

NodeId symbol_to_string(uint32_t id) {
    Cell* cell = node_buffer(symbol_block)->cell_head() + (id - 1);
    if (cell->data2) return cell->data2;
    SeriesBuffer* name = node_buffer(cell->data3);
    NodeId text = load_text_new(name->head_ptr(), name->used());
    // Loading allocated: reach the cell again.
    node_buffer(symbol_block)->cell_head()[id - 1].data2 = text;
    return text;
}

Cell* symbol_get(uint32_t id) {
    symbol_to_string(id);
    return node_buffer(symbol_block)->cell_head() + (id - 1);
}

std::string_view symbol_name(uint32_t id) {
    SeriesBuffer* name = node_buffer(node_buffer(symbol_block)->cell_head()[id - 1].data3);
    return std::string_view(reinterpret_cast<const char*>(name->head_ptr()), name->used());
}

int32_t symbol_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_SYMBOL)) return -2;
    // Making a string never moves the symbol block: both cells stay put.
    Cell s1, s2;
    make_series(&s1, TYPE_STRING, string_of_cell(value1));
    make_series(&s2, TYPE_STRING, string_of_cell(value2));
    return string_compare_series(&s1, &s2, op, false);
}

void register_symbol() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_COMPARE>(symbol_compare);
    register_datatype(TYPE_SYMBOL, 0, "symbol!", row);
    collector::set_mark_kind(TYPE_SYMBOL, collector::MK_SYMBOL);
}

} // namespace kem
