// The draw dialect in character cells: the shapes each command leaves on
// the screen, relative to the face and cut to its clip box; the arguments
// every command takes; and the errors of bad blocks.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/services/output.h"
#include "tui_support.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/draw_dialect.h"

namespace kem::test {
namespace {

using namespace gui;
using Rows = std::vector<std::string>;

// "#" for a full block; box-drawing characters as they are.
Rows blocks() {
    Rows rows = screen_rows();
    for (std::string& row : rows) {
        for (size_t at; (at = row.find("\xE2\x96\x88")) != std::string::npos;) row.replace(at, 3, "#");
    }
    return rows;
}

DrawContext face_at(int x, int y, int width, int height) {
    DrawContext ctx;
    ctx.origin_x = x;
    ctx.origin_y = y;
    ctx.clip = ClipBox{x, y, x + width, y + height};
    return ctx;
}

// The commands drawn on a fresh screen of 12 x 8 with the context.
Rows drawn(const std::string& commands, DrawContext ctx) {
    fresh_screen(12, 8);
    const Cell block = kem("[" + commands + "]", "tui-draw");
    draw_begin(ctx);
    draw_run(ctx, &block, false);
    return blocks();
}

const DrawContext WHOLE = face_at(0, 0, 12, 8);

TEST(TuiDraw, LinesAreFaceRelativeAndClipped) {
    struct Case {
        const char* what;
        const char* commands;
        DrawContext ctx;
        Rows expected;
    };
    const Case cases[] = {
        {"a line of four cells", "line 0x0 3x0", WHOLE,
         {"####........", "............", "............", "............", "............", "............",
          "............", "............"}},
        {"one point", "line 2x1 2x1", WHOLE,
         {"............", "..#.........", "............", "............", "............", "............",
          "............", "............"}},
        {"every octant, several points", "line 0x0 3x3 3x1 0x1", WHOLE,
         {"#...........", "####........", "..##........", "...#........", "............", "............",
          "............", "............"}},
        {"on a face: from its corner, cut at its edge", "line 0x0 5x0 0x2", face_at(5, 5, 3, 2),
         {"............", "............", "............", "............", "............", ".....###....",
          ".......#....", "............"}},
        {"a line coming in from outside the face shows inside it", "line -3x1 3x1", face_at(2, 2, 4, 3),
         {"............", "............", "............", "..####......", "............", "............",
          "............", "............"}},
        {"a line far beyond the screen is cut quickly", "line -2000000000x0 2000000000x0", face_at(0, 3, 12, 1),
         {"............", "............", "............", "############", "............", "............",
          "............", "............"}},
        {"points may be point2D! values", "line (0.9, 0.0) (2.2, 0.0)", WHOLE,
         {"###.........", "............", "............", "............", "............", "............",
          "............", "............"}},
    };
    for (const Case& c : cases) EXPECT_EQ(drawn(c.commands, c.ctx), c.expected) << c.what;
}

TEST(TuiDraw, BoxesOutlineAndFill) {
    const DrawContext face = face_at(5, 5, 6, 3);
    EXPECT_EQ(drawn("box 0x0 3x2", face),
              (Rows{"............", "............", "............", "............", "............",
                    ".....┌──┐...", ".....│..│...", ".....└──┘..."}));
    EXPECT_EQ(drawn("box 3x2 0x0", face)[5], ".....┌──┐...") << "the corners in any order";
    EXPECT_EQ(drawn("pen off box 0x0 3x2", face), drawn("", face)) << "nothing without pen and fill";
    // A fill without a pen; the fill switched off again.
    EXPECT_EQ(drawn("pen off fill-pen yellow box 0x0 1x1", face)[5], ".....  .....");
    EXPECT_EQ(cell_at(5, 5).bg, rgb_to_256(0x00FFFF));
    EXPECT_EQ(drawn("fill-pen yellow fill-pen off box 0x0 2x1", face)[5], ".....┌─┐....");
    EXPECT_EQ(cell_at(6, 5).bg, 0u);
    // Beyond the screen the far edge is drawn on its last column; beyond the
    // face's clip box the box is cut.
    EXPECT_EQ(drawn("box 0x0 20x1", face_at(8, 0, 4, 2))[0], "........┌──┐");
    EXPECT_EQ(drawn("box 0x0 20x1", face_at(2, 0, 4, 2))[0], "..┌───......");
    // A box reaching left of a face cut by its parent stays inside the cut.
    DrawContext cut = face_at(2, 0, 6, 2);
    cut.clip.left = 4;
    EXPECT_EQ(drawn("box 0x0 4x1", cut)[0], "....──┐.....");
    EXPECT_EQ(drawn("box 7x0 9x1 box -3x-3 -1x-1", face), drawn("", face)) << "wholly outside";
    EXPECT_EQ(drawn("box 1x1 4x4 2", face)[6], "......┌──┐..") << "a radius is taken and not used";
}

TEST(TuiDraw, TrianglesCirclesAndEllipses) {
    EXPECT_EQ(drawn("fill-pen blue triangle 0x0 4x0 2x3", WHOLE),
              (Rows{"#####.......", " # # .......", ".# #........", "..#.........", "............", "............",
                    "............", "............"}));
    EXPECT_EQ(drawn("pen off fill-pen blue triangle 0x0 4x0 2x3", WHOLE),
              (Rows{"     .......", "     .......", ".   ........", "............", "............", "............",
                    "............", "............"}))
        << "rows 0 to 2 filled, not the last";
    EXPECT_EQ(drawn("circle 10x5 0", WHOLE), drawn("", WHOLE));
    EXPECT_EQ(drawn("circle 5x2 2", WHOLE),
              (Rows{"...#####....", "..#.....#...", ".#.......#..", "..#.....#...", "...#####....", "............",
                    "............", "............"}))
        << "four cells wide each side, two rows high each side";
    EXPECT_EQ(drawn("pen off fill-pen yellow circle 5x2 2", WHOLE)[2], "..       ...") << "not the outline's cells";
    EXPECT_EQ(drawn("ellipse 1x1 4x2", WHOLE),
              (Rows{"............", "..###.......", ".#...#......", "..###.......", "............", "............",
                    "............", "............"}));
    EXPECT_EQ(drawn("ellipse 1x1 0x2", WHOLE), drawn("", WHOLE));
    // Face-relative and clipped like every shape.
    EXPECT_EQ(drawn("circle 0x0 2", face_at(7, 3, 5, 3)),
              (Rows{"............", "............", "............", "...........#", "..........#.", ".......###..",
                    "............", "............"}));
    EXPECT_EQ(drawn("circle 0x0 2000000000", WHOLE), drawn("", WHOLE)) << "an outline far off screen";
}

TEST(TuiDraw, TextTakesTheFontColourOverThePen) {
    const Cell font = kem("make object! [name: none size: none style: none angle: 0 color: 0.255.0]", "tui-font");
    (void)font;
    drawn("pen yellow text 1x0 {ab} font tui-font pen blue text 1x1 {c^/d}", face_at(1, 1, 5, 4));
    EXPECT_EQ(screen_rows()[1], "..ab........");
    EXPECT_EQ(cell_at(2, 1).fg, rgb_to_256(0x00FFFF)) << "the pen before any font";
    EXPECT_EQ(cell_at(2, 2).code, uint32_t('c'));
    EXPECT_EQ(cell_at(2, 2).fg, rgb_to_256(0x00FF00)) << "the font's colour after a later pen";
    EXPECT_EQ(cell_at(2, 3).code, uint32_t('d'));

    drawn("pen off text 0x0 {x^[[1my}", WHOLE);
    EXPECT_EQ(cell_at(0, 0).fg, 0u);
    EXPECT_EQ(cell_at(1, 0).style, STYLE_BOLD) << "escape sequences are read";

    // A rich-text face shows its styled characters.
    kem_face("type: 'rich-text text: {hey} data: [2x1 bold]", "tui-rich");
    const Cell block = kem("reduce ['text 1x1 tui-rich]", "tui-draw");
    fresh_screen(12, 8);
    DrawContext ctx = WHOLE;
    draw_run(ctx, &block, false);
    EXPECT_EQ(screen_rows()[1], ".hey........");
    EXPECT_EQ(cell_at(2, 1).style, STYLE_BOLD);
}

TEST(TuiDraw, EveryCommandTakesItsArguments) {
    // Blocks that draw without an error; the terminal shows few of them.
    const char* const accepted[] = {
        "pen yellow pen 1.2.3.4 fill-pen off pen off",
        "pen linear yellow blue",
        "pen linear yellow 0.5 blue 1.0 0x0 10x10 repeat",
        "fill-pen radial yellow blue green 5x5 3 1x1 reflect",
        "fill-pen diamond yellow blue 1x1 2x2 3x3 pad",
        "pen linear 0x0 0 100 yellow blue",
        "pen radial 5x5 0 10 1 2 3 yellow blue green",
        "fill-pen pattern 4x4 [box 0x0 1x1]",
        "fill-pen pattern 4x4 0x0 2x2 flip-xy [line 0x0 1x1]",
        "line-width 2 line-width 0.5 line-join round line-cap square line-pattern line-pattern 1 2 3",
        "anti-alias off anti-alias on",
        "polygon 0x0 1x1 2x0 polygon 0x0 1x1 2x0 3x3",
        "circle 5x5 2 3",
        "arc 5x5 2x2 0 90 arc 5x5 2x2 0 90 closed",
        "curve 0x0 1x1 2x2 curve 0x0 1x1 2x2 3x3",
        "spline 0x0 1x1 spline 0x0 1x1 2x2 closed",
        "shadow off shadow 2x2 shadow 2x2 3 4 yellow inset shadow 2x2 inset shadow 1x1 3 box 0x0 1x1",
        "clip 0x0 10x10 clip 0x0 10x10 intersect [box 0x0 5x5] clip [move 0x0 line 1x1]",
        "shape [move 0x0 'line 1x1 2x2 hline 5 'vline 3 arc 5x5 2 2 0 sweep large curve 1x1 2x2 3x3 "
        "curv 1x1 2x2 qcurve 1x1 2x2 qcurv 1x1 close [move 1x1] m: close]",
        "rotate 30 rotate 'pen 30 5x5 rotate 'fill-pen 30 [box 0x0 1x1]",
        "scale 0.5 50% scale 'pen 1 2 1x1 [box 0x0 1x1]",
        "translate 1x1 translate 'fill-pen 1x1 [box 0x0 1x1]",
        "skew 1 skew 1 2 3x3 [box 0x0 1x1]",
        "transform 30 1 1 2x2 transform 'pen 1x1 30 1 100% 2x2 [box 0x0 1x1]",
        "push [pen yellow] matrix [1 0 0 1 0 0] matrix 'pen [1.0 0 0 1 0 0]",
        "reset-matrix reset-matrix 'fill-pen invert-matrix invert-matrix 'pen",
        "[box 0x0 1x1 [line 0x0 1x1]] []",
    };
    for (const char* commands : accepted) {
        try {
            drawn(commands, WHOLE);
        } catch (const KemError& e) {
            ADD_FAILURE() << commands << ": error at " << e.args[0].data1;
        }
    }
}

TEST(TuiDraw, BadBlocksAreRefusedAtTheOffendingValue) {
    struct Case {
        const char* commands;
        uint32_t at;  // position of the error's block
    };
    const Case cases[] = {
        {"line 0x0", 2},        {"box 1x1", 2},           {"polygon 0x0 1x1", 3},    {"spline 0x0", 2},
        {"rotate 'foo 30", 1},  {"foo 1x1", 0},           {"42", 0},                 {"pen", 1},
        {"pen 42", 1},          {"pen linear yellow", 3},    {"pen linear 0x0 1 yellow blue", 4},
        {"pen pattern 2x2", 3}, {"matrix [1 2 3]", 1},    {"matrix [1 2 3 4 5 x]", 1}, {"text 0x0 42", 2},
        {"text 0x0 tui-font", 2}, {"circle 0x0 none", 2}, {"triangle 0x0 1x1", 3},   {"font 42", 1},
        {"shadow 2.0 3", 1},    {"shadow 2x2 3 4 5", 4},  {"line-join 'round", 1},   {"image 0x0", 1},
        {"shape [move]", 1},    {"shape [jump 1x1]", 0},  {"shape [42]", 0},         {"box 0x0 1x1 (5)", 3},
    };
    kem("make object! [name: none size: none style: none angle: 0 color: 0.255.0]", "tui-font");
    for (const Case& c : cases) {
        try {
            drawn(c.commands, WHOLE);
            ADD_FAILURE() << c.commands << " raised nothing";
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_draw_invalid) << c.commands;
            ASSERT_EQ(e.argc, 1);
            EXPECT_EQ(type_of(&e.args[0]), TYPE_BLOCK) << c.commands;
            EXPECT_EQ(e.args[0].data1, c.at) << c.commands;
        }
        EXPECT_EQ(cycle_depth(), 0u) << "the walk's blocks are off the cycle stack";
    }
}

TEST(TuiDraw, MarkersAndBlocksThatHoldThemselves) {
    // A set-word marks the command after it, for a script to change later.
    drawn("pen yellow m: box 1x1 4x4", WHOLE);
    EXPECT_EQ(run_kem("index? m"), "4");
    EXPECT_EQ(run_kem("pick m 1"), "box");
    EXPECT_EQ(run_kem("m/2: 2x2 m/3"), "4x4");
    const Cell block = *context_value_slot(global_context, uint32_t(context_find_word(global_context,
                                                                        symbol_make("tui-draw"), true)));
    fresh_screen(12, 8);
    DrawContext ctx = WHOLE;
    draw_run(ctx, &block, false);
    EXPECT_EQ(cell_at(2, 2).code, 0x250Cu) << "the changed box";

    kem("b: [box 0x0 1x1] append/only b b b", "tui-self");
    const Cell self = kem("b", "tui-self");
    try {
        draw_run(ctx, &self, false);
        ADD_FAILURE() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_draw_infinite);
    }
    EXPECT_EQ(cycle_depth(), 0u);
    const Cell deep = kem("c: [pen yellow] d: reduce [c] append/only c d d", "tui-self");
    EXPECT_THROW(draw_run(ctx, &deep, false), KemError);
}

TEST(TuiDraw, MarkersWhoseChangeRunsCodeKeepTheWalkWhole) {
    // Setting a marker bound to an object runs its change handler, which
    // may collect and move every buffer while the block is being walked.
    kem("tui-seen: 0 make object! [m: n: none on-change*: func [word old new] [tui-seen: tui-seen + 1 "
        "loop 20 [append/dup copy [] 1 50]]]",
        "tui-object");
    const Cell block = kem("bind [pen yellow m: box 1x1 4x4 [n: line 0x0 3x0]] tui-object", "tui-draw");
    fresh_screen(12, 8);
    DrawContext ctx = WHOLE;
    draw_run(ctx, &block, false);
    EXPECT_EQ(run_kem("tui-seen"), "2");
    EXPECT_EQ(run_kem("pick tui-object/m 1"), "box");
    EXPECT_EQ(run_kem("pick tui-object/n 1"), "line");
    EXPECT_EQ(blocks()[0], "####........");
    EXPECT_EQ(blocks()[1], ".┌──┐.......");
}

TEST(TuiDraw, ReportedAndSilentErrorsStopTheDrawing) {
    const Cell block = kem("[pen yellow box 0x0 1x1 line 0x0 foo box 3x3 4x4]", "tui-draw");
    const int fd = memfd_create("kem-draw-report", 0);
    ASSERT_GE(fd, 0);
    console_attach(fd, false);
    fresh_screen(12, 8);
    DrawContext ctx = WHOLE;
    draw_face_commands(ctx, &block);
    EXPECT_EQ(cell_at(0, 0).code, 0x250Cu) << "what came before the error is drawn";
    EXPECT_EQ(cell_at(3, 3).code, 0u) << "nothing after it";
    std::string out(size_t(lseek(fd, 0, SEEK_END)), '\0');
    ASSERT_EQ(pread(fd, out.data(), out.size(), 0), ssize_t(out.size()));
    EXPECT_EQ(out.rfind("*** Script Error: DRAW - invalid input at: ", 0), 0u) << out;
    EXPECT_NE(out.find("foo box 3x3 4x4"), std::string::npos) << out;
    console_probe();
    close(fd);

    // With the view silent the drawing stops without a word.
    kem("system: make system [view: make object! [silent?: true]]");
    fresh_screen(12, 8);
    EXPECT_NO_THROW(draw_run(ctx, &block, false));
    EXPECT_EQ(cell_at(0, 0).code, 0x250Cu);
    kem("system/view/silent?: false");

    // The draw of an image: no widget, no clip box; errors reach the caller.
    fresh_screen(12, 8);
    EXPECT_THROW(do_draw(nullptr, &block, false), KemError);
    EXPECT_NO_THROW(do_draw(nullptr, &block, true));
    const Cell fine = kem("[box 0x0 3x3]", "tui-draw");
    do_draw(nullptr, &fine, false);
    EXPECT_EQ(cell_at(0, 0).code, 0u) << "nothing on the screen";
    const Cell empty = kem("[]", "tui-draw");
    EXPECT_NO_THROW(do_draw(nullptr, &empty, false));
}

} // namespace
} // namespace kem::test
