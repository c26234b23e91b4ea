#include "view/backends/terminal/draw_walk.h"
#include "runtime/core/cycle.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/draw_dialect.h"
#include "view/backends/terminal/face_values.h"

namespace kem::gui {

namespace {

bool is_number(const Cell& v, bool percent) {
    return is_type(&v, TYPE_INTEGER) || is_type(&v, TYPE_FLOAT) || (percent && is_type(&v, TYPE_PERCENT));
}

double number_of(const Cell& v) { return is_type(&v, TYPE_INTEGER) ? double(cell_int(&v)) : cell_float(&v); }

} // namespace

Cell word_value(const Cell& word) {
    Cell result;
    make_unset(&result);
    const NodeId ctx = word.data1;
    if (!ctx) return result;
    int32_t index = int32_t(word.data3);
    if (index < 0) index = context_find_word(ctx, word.data2, true);
    if (index < 0) return result;
    if (const Cell* slot = context_value_slot_checked(ctx, uint32_t(index))) result = *slot;
    return result;
}

void draw_throw_error(const Cell* block, uint32_t index, Err id, bool report) {
    // The blocks being walked leave the cycle stack first: the report forms
    // the block, which must not read as one met inside itself.
    cycle_reset();
    if (view_silent()) throw DrawStopped{};
    KemError error(id);
    error.argc = 1;
    error.args[0] = *block;
    error.args[0].data1 = index;
    if (!report) throw error;
    error_print_report(error);
    throw DrawStopped{};
}

void draw_error(const Cell* block, uint32_t index, bool report) {
    Cell at;
    make_unset(&at);
    if (index < block_full_length(block)) at = *block_rs_abs_at(block, index);
    const bool self = is_type(&at, TYPE_BLOCK) && series_node(&at) == series_node(block);
    draw_throw_error(block, index, self ? Err::script_draw_infinite : Err::script_draw_invalid, report);
}

bool DrawWalk::at_end() const { return pos_ >= block_full_length(&block_); }

Cell DrawWalk::peek() const {
    if (at_end()) {
        Cell none;
        make_unset(&none);
        return none;
    }
    return *block_rs_abs_at(&block_, pos_);
}

void DrawWalk::invalid() const { draw_error(&block_, pos_, report_); }

CellPoint DrawWalk::point() {
    CellPoint p;
    if (!optional_point(&p)) invalid();
    return p;
}

bool DrawWalk::optional_point(CellPoint* p) {
    const Cell v = peek();
    if (!point_of(&v, &p->x, &p->y)) return false;
    pos_++;
    return true;
}

std::vector<CellPoint> DrawWalk::points(size_t at_least) {
    std::vector<CellPoint> list;
    CellPoint p;
    while (optional_point(&p)) list.push_back(p);
    if (list.size() < at_least) invalid();
    return list;
}

double DrawWalk::number(bool percent) {
    double n;
    if (!optional_number(&n, percent)) invalid();
    return n;
}

bool DrawWalk::optional_number(double* n, bool percent) {
    const Cell v = peek();
    if (!is_number(v, percent)) return false;
    *n = number_of(v);
    pos_++;
    return true;
}

bool DrawWalk::optional_integer(int32_t* n) {
    const Cell v = peek();
    if (!is_type(&v, TYPE_INTEGER)) return false;
    *n = cell_int(&v);
    pos_++;
    return true;
}

uint32_t DrawWalk::color() {
    uint32_t c;
    if (!optional_color(&c)) invalid();
    return c;
}

bool DrawWalk::optional_color(uint32_t* c) {
    Cell v = peek();
    if (is_type(&v, TYPE_WORD)) v = word_value(v);
    if (!is_type(&v, TYPE_TUPLE)) return false;
    *c = tuple_color_value(&v);
    pos_++;
    return true;
}

void DrawWalk::word() {
    const Cell v = peek();
    if (!is_type(&v, TYPE_WORD)) invalid();
    pos_++;
}

bool DrawWalk::optional_word(const char* name) {
    const Cell v = peek();
    if (!is_type(&v, TYPE_WORD) || !word_is(&v, gui_symbol(name))) return false;
    pos_++;
    return true;
}

int DrawWalk::optional_word_of(const char* const* names) {
    for (int i = 0; names[i]; i++) {
        if (optional_word(names[i])) return i;
    }
    return -1;
}

Cell DrawWalk::block() {
    Cell b;
    if (!optional_block(&b)) invalid();
    return b;
}

bool DrawWalk::optional_block(Cell* b) {
    const Cell v = peek();
    if (!is_type(&v, TYPE_BLOCK)) return false;
    *b = v;
    pos_++;
    return true;
}

void DrawWalk::image() {
    Cell v = peek();
    if (is_type(&v, TYPE_WORD)) v = word_value(v);
    if (!is_type(&v, TYPE_IMAGE)) invalid();
    pos_++;
}

bool DrawWalk::optional_pen_target() {
    const Cell v = peek();
    if (!is_type(&v, TYPE_LIT_WORD) || !(word_is(&v, gui_symbol("pen")) || word_is(&v, gui_symbol("fill-pen"))))
        return false;
    pos_++;
    return true;
}

} // namespace kem::gui
