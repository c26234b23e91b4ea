// The draw dialect's walk over one block: reading and checking the
// arguments of a command. Shared by the commands and the shape sub-dialect.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "view/backends/terminal/draw_primitives.h"

namespace kem::gui {

// Thrown when the drawing stops without an error (a reported error, or a
// silent view): caught where the drawing began.
struct DrawStopped {};

// A position in a draw block. Values are copied out of the block as they are
// read: setting a marker word can run Kem code, which may move buffers.
class DrawWalk {
public:
    DrawWalk(const Cell& block, bool report) : block_(block), pos_(series_index(&block)), report_(report) {}

    const Cell& series() const { return block_; }
    uint32_t pos() const { return pos_; }
    bool at_end() const;
    // The value at the position, unset! at the end.
    Cell peek() const;
    void skip() { pos_++; }

    // draw-invalid (or draw-infinite) at the position.
    [[noreturn]] void invalid() const;

    // Points are pair! or point2D! values.
    CellPoint point();
    bool optional_point(CellPoint* p);
    // Two or more (or `at_least`) points, as many as follow.
    std::vector<CellPoint> points(size_t at_least);
    // integer! or float!; with percent also percent!.
    double number(bool percent = false);
    bool optional_number(double* n, bool percent = false);
    bool optional_integer(int32_t* n);
    // A tuple!, or a word whose value is one: its colour value.
    uint32_t color();
    bool optional_color(uint32_t* c);
    // A word! of any spelling; an optional one only when it names the symbol.
    void word();
    bool optional_word(const char* name);
    // A word! naming one of the names (null-terminated list): the index of
    // the name, -1 when the value is none of them.
    int optional_word_of(const char* const* names);
    Cell block();
    bool optional_block(Cell* b);
    // An image!, or a word whose value is one.
    void image();
    // A lit-word `pen` or `fill-pen` (any other lit-word is left alone).
    bool optional_pen_target();

private:
    Cell block_;
    uint32_t pos_;
    bool report_;
};

// The value of a word, or unset! when it has none (unbound, no slot).
Cell word_value(const Cell& word);

} // namespace kem::gui
