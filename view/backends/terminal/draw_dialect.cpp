#include "view/backends/terminal/draw_dialect.h"
#include <string>
#include <unordered_map>
#include "runtime/core/cycle.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "view/backends/terminal/draw_walk.h"
#include "view/backends/terminal/face_values.h"

namespace kem::gui {

namespace {

enum class Command {
    PEN, FILL_PEN, BOX, LINE, LINE_WIDTH, LINE_JOIN, LINE_CAP, LINE_PATTERN, TRIANGLE, POLYGON, CIRCLE, ELLIPSE,
    ANTI_ALIAS, FONT, TEXT, ARC, CURVE, SPLINE, IMAGE, SHADOW, CLIP, SHAPE, ROTATE, SCALE, TRANSLATE, SKEW,
    TRANSFORM, PUSH, MATRIX, RESET_MATRIX, INVERT_MATRIX,
};

enum class ShapeCommand { MOVE, LINE, HLINE, VLINE, ARC, CURVE, CURV, QCURVE, QCURV, CLOSE };

// Looks a command word up by its canonical symbol.
template <class T>
bool find_command(const std::initializer_list<std::pair<const char*, T>>& names, const Cell& word, T* out) {
    static std::unordered_map<uint32_t, T> table;
    if (table.empty()) {
        for (const auto& [name, command] : names) table.emplace(symbol_resolve(gui_symbol(name)), command);
    }
    const auto at = table.find(symbol_resolve(word.data2));
    if (at == table.end()) return false;
    *out = at->second;
    return true;
}

bool command_of(const Cell& word, Command* out) {
    using C = Command;
    return find_command<C>({{"pen", C::PEN},
                            {"fill-pen", C::FILL_PEN},
                            {"box", C::BOX},
                            {"line", C::LINE},
                            {"line-width", C::LINE_WIDTH},
                            {"line-join", C::LINE_JOIN},
                            {"line-cap", C::LINE_CAP},
                            {"line-pattern", C::LINE_PATTERN},
                            {"triangle", C::TRIANGLE},
                            {"polygon", C::POLYGON},
                            {"circle", C::CIRCLE},
                            {"ellipse", C::ELLIPSE},
                            {"anti-alias", C::ANTI_ALIAS},
                            {"font", C::FONT},
                            {"text", C::TEXT},
                            {"arc", C::ARC},
                            {"curve", C::CURVE},
                            {"spline", C::SPLINE},
                            {"image", C::IMAGE},
                            {"shadow", C::SHADOW},
                            {"clip", C::CLIP},
                            {"shape", C::SHAPE},
                            {"rotate", C::ROTATE},
                            {"scale", C::SCALE},
                            {"translate", C::TRANSLATE},
                            {"skew", C::SKEW},
                            {"transform", C::TRANSFORM},
                            {"push", C::PUSH},
                            {"matrix", C::MATRIX},
                            {"reset-matrix", C::RESET_MATRIX},
                            {"invert-matrix", C::INVERT_MATRIX}},
                           word, out);
}

bool shape_command_of(const Cell& word, ShapeCommand* out) {
    using S = ShapeCommand;
    return find_command<S>({{"move", S::MOVE},
                            {"line", S::LINE},
                            {"hline", S::HLINE},
                            {"vline", S::VLINE},
                            {"arc", S::ARC},
                            {"curve", S::CURVE},
                            {"curv", S::CURV},
                            {"qcurve", S::QCURVE},
                            {"qcurv", S::QCURV},
                            {"close", S::CLOSE}},
                           word, out);
}

constexpr const char* GRADIENTS[] = {"linear", "radial", "diamond", nullptr};
constexpr const char* SPREADS[] = {"pad", "repeat", "reflect", nullptr};
constexpr const char* TILE_MODES[] = {"tile", "flip-x", "flip-y", "flip-xy", "clamp", nullptr};
constexpr const char* IMAGE_FRAMES[] = {"border", "crop", nullptr};
constexpr const char* CLIP_MODES[] = {"replace", "intersect", "union", "xor", "exclude", nullptr};

// A block being drawn: on the cycle stack (so that a block met inside
// itself is refused) and rooted for as long as the walk lasts.
class OpenBlock {
public:
    OpenBlock(const Cell& block, bool report) : cell_(block), root_(&cell_) {
        if (cycle_find(series_node(&cell_))) draw_throw_error(&cell_, series_index(&cell_), Err::script_draw_infinite, report);
        level_ = cycle_depth();
        cycle_push(series_node(&cell_));
    }
    // An error empties the cycle stack; entries below this one are not ours.
    ~OpenBlock() {
        if (cycle_depth() > level_) cycle_drop(cycle_depth() - level_);
    }
    OpenBlock(const OpenBlock&) = delete;
    OpenBlock& operator=(const OpenBlock&) = delete;

private:
    Cell cell_;
    RootedCell root_;
    uint32_t level_ = 0;
};

class DrawInterpreter {
public:
    DrawInterpreter(DrawContext& ctx, bool report) : ctx_(ctx), report_(report) {}

    void run(const Cell& block) {
        OpenBlock open(block, report_);
        DrawWalk w(block, report_);
        while (!w.at_end()) {
            const Cell v = w.peek();
            switch (type_of(&v)) {
            case TYPE_WORD: command(w, v); break;
            case TYPE_SET_WORD: mark(w, v); break;
            case TYPE_BLOCK:
                w.skip();
                run(v);
                break;
            default: w.invalid();
            }
        }
    }

private:
    // The word is set to the block just after it, so that a script can find
    // and change the command that follows.
    void mark(DrawWalk& w, const Cell& set_word) {
        w.skip();
        Cell word = set_word;
        Cell place = w.series();
        place.data1 = w.pos();
        word_set(&word, &place);
    }

    void command(DrawWalk& w, const Cell& word) {
        Command c;
        if (!command_of(word, &c)) w.invalid();
        w.skip();
        double n;
        int32_t i;
        CellPoint p;
        switch (c) {
        case Command::PEN:
        case Command::FILL_PEN: pen(w, c == Command::FILL_PEN); break;
        case Command::BOX: {
            const CellPoint a = w.point(), e = w.point();
            w.optional_number(&n);
            draw_box(ctx_, a, e);
            break;
        }
        case Command::LINE: {
            const std::vector<CellPoint> points = w.points(2);
            draw_line(ctx_, points.data(), points.size());
            break;
        }
        case Command::LINE_WIDTH: w.number(); break;
        case Command::LINE_JOIN:
        case Command::LINE_CAP:
        case Command::ANTI_ALIAS: w.word(); break;
        case Command::LINE_PATTERN:
            while (w.optional_integer(&i)) {
            }
            break;
        case Command::TRIANGLE: {
            const CellPoint a = w.point(), e = w.point(), f = w.point();
            draw_triangle(ctx_, a, e, f);
            break;
        }
        case Command::POLYGON: w.points(3); break;
        case Command::CIRCLE: {
            const CellPoint centre = w.point();
            const double radius = w.number();
            w.optional_number(&n);
            draw_circle(ctx_, centre, saturate_int(radius));
            break;
        }
        case Command::ELLIPSE: {
            const CellPoint corner = w.point(), size = w.point();
            draw_ellipse(ctx_, corner, size);
            break;
        }
        case Command::FONT: font(w); break;
        case Command::TEXT: text(w); break;
        case Command::ARC:
            w.point();
            w.point();
            w.number();
            w.number();
            w.optional_word("closed");
            break;
        case Command::CURVE:
            w.point();
            w.point();
            w.point();
            w.optional_point(&p);
            break;
        case Command::SPLINE:
            w.points(2);
            w.optional_word("closed");
            break;
        case Command::IMAGE: image(w); break;
        case Command::SHADOW: shadow(w); break;
        case Command::CLIP: clip(w); break;
        case Command::SHAPE: shape(w.block()); break;
        case Command::ROTATE:
            w.optional_pen_target();
            w.number();
            w.optional_point(&p);
            local_block(w);
            break;
        case Command::SCALE:
            w.optional_pen_target();
            w.number(true);
            w.number(true);
            w.optional_point(&p);
            local_block(w);
            break;
        case Command::TRANSLATE:
            w.optional_pen_target();
            w.point();
            local_block(w);
            break;
        case Command::SKEW:
            w.optional_pen_target();
            w.number();
            w.optional_number(&n);
            w.optional_point(&p);
            local_block(w);
            break;
        case Command::TRANSFORM:
            w.optional_pen_target();
            w.optional_point(&p);
            w.number();
            w.number(true);
            w.number(true);
            w.point();
            local_block(w);
            break;
        case Command::PUSH: run(w.block()); break;
        case Command::MATRIX: matrix(w); break;
        case Command::RESET_MATRIX:
        case Command::INVERT_MATRIX: w.optional_pen_target(); break;
        }
    }

    // After a transformation or a clip: a block the change is local to.
    void local_block(DrawWalk& w) {
        Cell b;
        if (w.optional_block(&b)) run(b);
    }

    void pen(DrawWalk& w, bool fill) {
        uint32_t color;
        if (w.optional_word("off")) {
            fill ? draw_fill_pen(ctx_, 0, true) : draw_pen(ctx_, 0, true);
        } else if (const int kind = w.optional_word_of(GRADIENTS); kind >= 0) {
            gradient(w, kind);
        } else if (w.optional_word("pattern")) {
            CellPoint p;
            w.point();
            if (w.optional_point(&p)) w.optional_point(&p);
            w.optional_word_of(TILE_MODES);
            w.block();
        } else if (w.optional_word("bitmap")) {
            CellPoint p;
            w.image();
            if (w.optional_point(&p)) w.optional_point(&p);
            w.optional_word_of(TILE_MODES);
        } else if (w.optional_color(&color)) {
            fill ? draw_fill_pen(ctx_, color, false) : draw_pen(ctx_, color, false);
        } else {
            w.invalid();
        }
    }

    // Colour stops: colours, each with an optional float! offset; at least
    // two.
    void color_stops(DrawWalk& w) {
        int count = 0;
        uint32_t color;
        while (w.optional_color(&color)) {
            count++;
            const Cell offset = w.peek();
            if (is_type(&offset, TYPE_FLOAT)) w.skip();
        }
        if (count < 2) w.invalid();
    }

    // After `linear`, `radial` or `diamond` (kind 0, 1, 2).
    void gradient(DrawWalk& w, int kind) {
        CellPoint p;
        double n;
        if (w.optional_point(&p)) {
            int32_t i;
            if (!w.optional_integer(&i)) w.invalid();
            if (!w.optional_integer(&i)) w.invalid();
            for (int k = 0; k < 3 && w.optional_number(&n); k++) {
            }
            color_stops(w);
            return;
        }
        color_stops(w);
        if (kind == 0) {
            if (w.optional_point(&p)) w.point();
        } else if (kind == 1) {
            if (w.optional_point(&p)) {
                w.number();
                w.optional_point(&p);
            }
        } else if (w.optional_point(&p)) {
            w.point();
            w.optional_point(&p);
        }
        w.optional_word_of(SPREADS);
    }

    void font(DrawWalk& w) {
        Cell v = w.peek();
        if (is_type(&v, TYPE_WORD)) v = word_value(v);
        if (!is_type(&v, TYPE_OBJECT)) w.invalid();
        w.skip();
        draw_font(ctx_, &v);
    }

    void text(DrawWalk& w) {
        const CellPoint at = w.point();
        const Cell v = w.peek();
        const Cell type = field_value(&v, FACET_TYPE);
        const bool rich = is_type(&v, TYPE_OBJECT) && word_is(&type, gui_symbol("rich-text"));
        if (!is_type(&v, TYPE_STRING) && !rich) w.invalid();
        w.skip();
        draw_text(ctx_, at, &v);
    }

    void image(DrawWalk& w) {
        w.image();
        CellPoint p;
        uint32_t key;
        if (w.optional_point(&p)) {
            while (w.optional_point(&p)) {
            }
        }
        w.optional_color(&key);
        if (w.optional_word_of(IMAGE_FRAMES) >= 0) {
            w.point();
            w.point();
        }
    }

    void shadow(DrawWalk& w) {
        if (w.optional_word("off")) return;
        const Cell offset = w.peek();
        if (!is_type(&offset, TYPE_PAIR)) w.invalid();
        w.skip();
        int32_t i;
        uint32_t color;
        if (w.optional_integer(&i)) w.optional_integer(&i);
        // Only a word whose value is a colour is taken as the colour: any
        // other word is `inset` or the next command.
        w.optional_color(&color);
        w.optional_word("inset");
    }

    void clip(DrawWalk& w) {
        Cell b;
        if (w.optional_block(&b)) {
            shape(b);
        } else {
            w.point();
            w.point();
        }
        if (const int mode = w.optional_word_of(CLIP_MODES); mode >= 0) clip_mode_ = mode;
        local_block(w);
    }

    void matrix(DrawWalk& w) {
        w.optional_pen_target();
        const uint32_t at = w.pos();
        const Cell b = w.block();
        DrawWalk numbers(b, report_);
        int count = 0;
        double n;
        while (numbers.optional_number(&n)) count++;
        if (count != 6 || !numbers.at_end()) draw_error(&w.series(), at, report_);
    }

    // The shape sub-dialect: words draw in absolute coordinates, lit-words
    // relative to the current point; a terminal draws neither.
    void shape(const Cell& block) {
        OpenBlock open(block, report_);
        DrawWalk w(block, report_);
        while (!w.at_end()) {
            const Cell v = w.peek();
            ShapeCommand c;
            if (is_type(&v, TYPE_BLOCK)) {
                w.skip();
                shape(v);
                continue;
            }
            if (is_type(&v, TYPE_SET_WORD)) {
                mark(w, v);
                continue;
            }
            if ((!is_type(&v, TYPE_WORD) && !is_type(&v, TYPE_LIT_WORD)) || !shape_command_of(v, &c)) w.invalid();
            w.skip();
            switch (c) {
            case ShapeCommand::MOVE: w.point(); break;
            case ShapeCommand::LINE: w.points(1); break;
            case ShapeCommand::HLINE:
            case ShapeCommand::VLINE: w.number(); break;
            case ShapeCommand::ARC:
                w.point();
                w.number();
                w.number();
                w.number();
                for (int k = 0; k < 2 && (w.optional_word("sweep") || w.optional_word("large")); k++) {
                }
                break;
            case ShapeCommand::CURVE: w.points(3); break;
            case ShapeCommand::CURV:
            case ShapeCommand::QCURVE: w.points(2); break;
            case ShapeCommand::QCURV: w.points(1); break;
            case ShapeCommand::CLOSE: break;
            }
        }
    }

    DrawContext& ctx_;
    bool report_;
    int clip_mode_ = 0;  // of CLIP_MODES: the mode of later clips
};

} // namespace

void draw_run(DrawContext& ctx, const Cell* block, bool report) {
    DrawInterpreter interpreter(ctx, report);
    try {
        interpreter.run(*block);
    } catch (const DrawStopped&) {
    }
}

void draw_face_commands(DrawContext& ctx, const Cell* block) {
    if (!is_type(block, TYPE_BLOCK) || block_rs_length(block) <= 0) return;
    draw_begin(ctx);
    try {
        draw_run(ctx, block, true);
    } catch (const KemError& e) {
        // Errors of code run from the block (a marker word's change handler)
        // are printed like the block's own.
        error_print_report(e);
    }
}

void do_draw(const void* widget, const Cell* commands, bool report) {
    const bool drawable = is_type(commands, TYPE_BLOCK) && block_rs_length(commands) > 0;
    if (!drawable && !(widget && is_type(commands, TYPE_BLOCK))) return;
    DrawContext ctx;
    ctx.widget = widget;
    draw_begin(ctx);
    try {
        draw_run(ctx, commands, report);
    } catch (const KemError&) {
        if (!report) throw;
    }
}

} // namespace kem::gui
