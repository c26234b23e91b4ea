// Text in the terminal GUI: layout into cells with wrapping, clipping, wide
// characters and escape sequences; alignment; measures; the text-box
// metrics of rich-text faces; rich-text cells and their styles.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "runtime/datatypes/point.h"
#include "tui_support.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/draw_dialect.h"
#include "view/backends/terminal/rich_text.h"
#include "view/backends/terminal/text_layout.h"
#include "view/backends/terminal/text_metrics.h"

namespace kem::test {
namespace {

using namespace gui;
using Rows = std::vector<std::string>;

// Code points of UTF-8 text.
std::vector<uint32_t> code_points(const std::string& utf8) {
    std::vector<uint32_t> cps;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    while (p < end) {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        cps.push_back(uint32_t(cp));
    }
    return cps;
}

// The text laid out on a fresh screen.
Rows laid_out(const std::string& text, int width, int height, int x, int y, ClipBox clip, uint32_t layout,
              uint32_t style = 0) {
    fresh_screen(width, height);
    const std::vector<uint32_t> cps = code_points(text);
    TextStyle s;
    s.layout = layout;
    s.style = style;
    text_layout(text_of_code_points(cps.data(), uint32_t(cps.size())), x, y, clip, s);
    return screen_rows();
}

TEST(TuiText, LayoutWrapsAndClips) {
    struct Case {
        const char* what;
        const char* text;
        int x, y;
        ClipBox clip;
        uint32_t layout;
        Rows expected;
    };
    const ClipBox all{0, 0, 4, 3};
    const Case cases[] = {
        {"too wide without wrap: cut, then on after the line feed", "abcdef\ngh", 0, 0, all, 0,
         {"abcd", "gh..", "...."}},
        {"too wide with wrap: on the next row from x", "abcdef", 0, 0, all, LAYOUT_WRAP, {"abcd", "ef..", "...."}},
        {"wrap from x, not from the box's left", "abcdef", 1, 0, all, LAYOUT_WRAP, {".abc", ".def", "...."}},
        {"a filled row and a line feed leave an empty row", "abcd\nef", 0, 0, all, LAYOUT_WRAP,
         {"abcd", "....", "ef.."}},
        {"a wide character crossing the edge is left out", "abc中d\nx", 0, 0, all, 0, {"abc.", "x...", "...."}},
        {"with wrap it goes to the next row", "abc中d", 0, 0, all, LAYOUT_WRAP, {"abc.", "中d.", "...."}},
        {"text starting left of the box shows what lies inside", "abcdef", -2, 0, all, 0,
         {"cdef", "....", "...."}},
        {"a wide character on the left edge leaves its cells", "中ab", -1, 0, all, 0, {".ab.", "....", "...."}},
        {"rows above the box are passed over", "ab\ncd\nef", 0, -1, all, 0, {"cd..", "ef..", "...."}},
        {"wrapped rows above the box too", "abcdefgh", 0, -1, all, LAYOUT_WRAP, {"efgh", "....", "...."}},
        {"nothing below the box", "a\nb\nc\nd", 0, 0, ClipBox{0, 0, 4, 2}, 0, {"a...", "b...", "...."}},
        {"nothing outside the box", "abcdef\nghijkl\nmnop", 0, 0, ClipBox{1, 1, 3, 2}, 0,
         {"....", ".hi.", "...."}},
        {"a character with no width takes no cell", "e\u0301x", 0, 0, all, 0, {"ex..", "....", "...."}},
        {"a box beyond the screen is cut to it", "abcdefgh", 0, 0, ClipBox{-5, -5, 50, 50}, 0,
         {"abcd", "....", "...."}},
    };
    for (const Case& c : cases) EXPECT_EQ(laid_out(c.text, 4, 3, c.x, c.y, c.clip, c.layout), c.expected) << c.what;
}

TEST(TuiText, LayoutReadsEscapeSequences) {
    const ClipBox all{0, 0, 6, 1};
    // Bold in base colour 1, then palette colour 208.
    EXPECT_EQ(laid_out("\x1b[1;31mA\x1b[38;5;208mB", 6, 1, 0, 0, all, 0, STYLE_ESCAPES), Rows{"AB...."});
    EXPECT_EQ(cell_at(0, 0).style, STYLE_BOLD);
    EXPECT_EQ(cell_at(0, 0).fg, color_word(COLOR_BASE, 1));
    EXPECT_EQ(cell_at(1, 0).fg, color_word(COLOR_PALETTE, 208));
    EXPECT_EQ(cell_at(1, 0).style, STYLE_BOLD) << "the style goes on";

    // Erase and cursor sequences draw nothing and change nothing.
    EXPECT_EQ(laid_out("\x1b[2Ja\x1b[3Cb", 6, 1, 0, 0, all, 0, STYLE_ESCAPES), Rows{"ab...."});
    // An escape character without "[" is drawn like any character.
    EXPECT_EQ(laid_out("\x1bX", 6, 1, 0, 0, all, 0, STYLE_ESCAPES), Rows{"\x1bX...."});
    // Without STYLE_ESCAPES the sequence is text.
    EXPECT_EQ(laid_out("\x1b[1mA", 6, 1, 0, 0, all, 0), Rows{"\x1b[1mA."});
    EXPECT_EQ(cell_at(4, 0).style, 0u);
    // Reset clears the dim bit of a hint text.
    laid_out("a\x1b[0mb", 6, 1, 0, 0, all, 0, STYLE_ESCAPES | STYLE_DIM);
    EXPECT_EQ(cell_at(0, 0).style, STYLE_DIM);
    EXPECT_EQ(cell_at(1, 0).style, 0u);

    // A string leaves the cells' background; a run brings its own colours
    // and adds its style to the text's.
    fresh_screen(3, 1);
    cell_at(0, 0).bg = 7;
    const CellRun run = {{'x', 5, 6, STYLE_ITALIC}, {'y', 8, 9, 0}};
    TextStyle s;
    s.style = STYLE_BOLD;
    text_layout(text_of_run(run), 0, 0, ClipBox{0, 0, 3, 1}, s);
    EXPECT_EQ(screen_rows(), Rows{"xy."});
    EXPECT_EQ(cell_at(0, 0).bg, 5u);
    EXPECT_EQ(cell_at(0, 0).fg, 6u);
    EXPECT_EQ(cell_at(0, 0).style, STYLE_ITALIC | STYLE_BOLD);
    std::vector<uint32_t> text = {'z'};
    text_layout(text_of_code_points(text.data(), 1), 0, 0, ClipBox{0, 0, 3, 1}, TextStyle{});
    EXPECT_EQ(cell_at(0, 0).bg, 5u);
}

TEST(TuiText, EscapeSequencesAreReadToTheirEnd) {
    struct Case {
        const char* text;
        uint32_t read;
        SgrState after;
    };
    const SgrState start{0, 0, STYLE_BOLD};
    const Case cases[] = {
        {"\x1b[m", 3, start},             // no parameter: nothing
        {"\x1b[4;m", 5, start},           // "m" right after ";": nothing
        {"\x1b[0m", 4, SgrState{0, 0, 0}},
        {"\x1b[2;4m", 6, SgrState{0, 0, STYLE_BOLD | STYLE_DIM | STYLE_UNDERLINE}},
        {"\x1b[22m", 5, start},           // clears dim only
        {"\x1b[21m", 5, SgrState{0, 0, 0}},
        {"\x1b[1;2;3;4m", 10, SgrState{0, 0, STYLE_BOLD | STYLE_UNDERLINE}},  // a fourth drops the group before it
        {"\x1b[38;5;20m", 10, SgrState{0, color_word(COLOR_PALETTE, 20), STYLE_BOLD}},
        {"\x1b[48;5;21m", 10, SgrState{color_word(COLOR_PALETTE, 21), 0, STYLE_BOLD}},
        {"\x1b[38m", 5, start},
        {"\x1b[97;104m", 9, SgrState{color_word(COLOR_BASE, 14), color_word(COLOR_BASE, 17), STYLE_BOLD}},
        {"\x1b[39;49;6m", 10, SgrState{color_word(COLOR_BASE, 9), color_word(COLOR_BASE, 9), STYLE_BOLD}},
        {"\x1b[5;7;8m", 8, SgrState{0, 0, STYLE_BOLD | STYLE_BLINK | STYLE_REVERSE | STYLE_HIDDEN}},
        {"\x1b[10A", 5, start},
        {"\x1b[99999999999m", 14, start},  // too large to mean anything
        {"\x1b[1", 3, start},             // cut off by the end of the text
        {"\x1b[", 2, start},
        {"\x1bX", 0, start},
        {"\x1b", 0, start},
    };
    for (const Case& c : cases) {
        const std::vector<uint32_t> cps = code_points(c.text);
        SgrState s = start;
        EXPECT_EQ(parse_escape(text_of_code_points(cps.data(), uint32_t(cps.size())), 0, s), c.read) << c.text + 1;
        EXPECT_EQ(s.bg, c.after.bg) << c.text + 1;
        EXPECT_EQ(s.fg, c.after.fg) << c.text + 1;
        EXPECT_EQ(s.style, c.after.style) << c.text + 1;
    }
}

TEST(TuiText, MeasuresAndAlignment) {
    struct Case {
        const char* text;
        int limit;
        TextSize size, measure;
    };
    const Case cases[] = {
        {"", 10, {0, 1, 0}, {0, 1, 0}},
        {"ab\nc", 10, {2, 2, 4}, {2, 2, 4}},
        {"abcdef", 4, {4, 1, 4}, {4, 2, 6}},
        {"ab中d", 3, {2, 1, 2}, {3, 2, 4}},  // the wide one overshoots: taken back / moved on
        {"中", 1, {0, 1, 0}, {0, 1, 0}},     // wider than the wrap width alone ends the measure
        {"abc", 0, {0, 1, 0}, {3, 1, 3}},    // a wrap width of 0 is none
    };
    for (const Case& c : cases) {
        const std::vector<uint32_t> cps = code_points(c.text);
        const TextSource t = text_of_code_points(cps.data(), uint32_t(cps.size()));
        const TextSize s = text_size(t, c.limit), m = text_measure(t, c.limit);
        EXPECT_EQ(s.width, c.size.width) << c.text;
        EXPECT_EQ(s.lines, c.size.lines) << c.text;
        EXPECT_EQ(s.chars, c.size.chars) << c.text;
        EXPECT_EQ(m.width, c.measure.width) << c.text;
        EXPECT_EQ(m.lines, c.measure.lines) << c.text;
    }

    struct Align {
        const char* text;
        uint32_t bits;
        ClipBox expected;
    };
    const Align aligned[] = {
        {"abcd", ALIGN_CENTER | ALIGN_MIDDLE, {3, 1, 7, 2}},
        {"abcd", ALIGN_RIGHT | ALIGN_BOTTOM, {6, 2, 10, 3}},
        {"abcd", ALIGN_CENTER | ALIGN_RIGHT, {3, 0, 7, 1}},  // centre wins
        {"abcd", 0, {0, 0, 10, 3}},                          // no bits: the whole box
        {"abcdefghijkl", ALIGN_CENTER, {0, 0, 10, 2}},       // measured wrapped at the width
    };
    for (const Align& a : aligned) {
        const std::vector<uint32_t> cps = code_points(a.text);
        const ClipBox b = align_text(text_of_code_points(cps.data(), uint32_t(cps.size())), 10, 3, a.bits);
        EXPECT_EQ(b.left, a.expected.left) << a.text << " " << a.bits;
        EXPECT_EQ(b.top, a.expected.top) << a.text << " " << a.bits;
        EXPECT_EQ(b.right, a.expected.right) << a.text << " " << a.bits;
        EXPECT_EQ(b.bottom, a.expected.bottom) << a.text << " " << a.bits;
    }
}

TEST(TuiText, TextBoxMetricsOfRichTextFaces) {
    struct Case {
        const char* text;
        const char* size;      // Kem, or "none"
        int32_t type;
        const char* argument;  // Kem
        const char* expected;  // molded
    };
    const Case cases[] = {
        {"ab", "none", METRICS_LINE_HEIGHT, "0", "1.0"},
        {"ab", "none", METRICS_CARET_TO_OFFSET, "1", "(0, 0)"},
        {"ab", "none", METRICS_CARET_LOWER, "1", "(1, 1)"},
        {"ab", "none", METRICS_CARET_TO_OFFSET, "2", "(1, 0)"},
        {"a中b", "none", METRICS_CARET_TO_OFFSET, "2", "(1, 0)"},
        {"ab\ncd", "none", METRICS_CARET_TO_OFFSET, "4", "(0, 1)"},
        {"abcdef", "4x5", METRICS_CARET_TO_OFFSET, "5", "(0, 1)"},  // wrapped at the face's width
        {"abcdef", "4x5", METRICS_CARET_LOWER, "6", "(2, 2)"},
        {"中", "1x5", METRICS_CARET_TO_OFFSET, "1", "(0, 0)"},      // too wide for any row: the walk ends
        {"abc", "none", METRICS_OFFSET_TO_CARET, "1x0", "2"},
        {"abc", "none", METRICS_OFFSET_TO_CARET, "9x0", "4"},
        {"abc", "none", METRICS_OFFSET_TO_CHAR, "9x0", "3"},           // past the end: the last character
        {"ab\ncd", "none", METRICS_OFFSET_TO_CARET, "1x1", "5"},
        {"abcdef", "4x5", METRICS_OFFSET_TO_CARET, "1x1", "6"},
        {"中中", "1x5", METRICS_OFFSET_TO_CARET, "0x2147483647", "3"},  // too wide for a row: no endless carrying
        {"abcdef", "4x5", METRICS_OFFSET_TO_CARET, "(1, 1)", "6"},
        {"ab\ncde", "none", METRICS_SIZE, "0", "(3, 2)"},
        {"abcdef", "4x5", METRICS_SIZE, "0", "(4, 2)"},
        {"abcdef", "4x5", METRICS_LINE_COUNT, "0", "2"},
        {"abcdef", "(4.7, 5.0)", METRICS_LINE_COUNT, "0", "2"},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        for (size_t at; (at = text.find('\n')) != std::string::npos;) text.replace(at, 1, "^/");
        const Cell face = kem_face("type: 'rich-text text: \"" + text + "\" size: " + c.size);
        const Cell argument = kem(c.argument, "tui-argument");
        const Cell result = text_box_metrics(&face, &argument, c.type);
        EXPECT_EQ(mold_text(result), c.expected) << c.text << " type " << c.type << " " << c.argument;
    }
    const Cell no_text = kem_face("type: 'rich-text");
    const Cell zero = kem("0", "tui-argument");
    EXPECT_EQ(mold_text(text_box_metrics(&no_text, &zero, METRICS_SIZE)), "none");
}

TEST(TuiText, ParagraphsAndFonts) {
    struct Case {
        const char* para;
        uint32_t bits;
    };
    const Case cases[] = {
        {"align: 'center v-align: 'middle wrap?: true", ALIGN_CENTER | ALIGN_MIDDLE | LAYOUT_WRAP},
        {"align: 'right v-align: 'bottom", ALIGN_RIGHT | ALIGN_BOTTOM},
        {"align: 'left v-align: 'top wrap?: false", 0},
        {"align: 'justify v-align: 42", 0},
    };
    for (const Case& c : cases) {
        const Cell para = kem(std::string("make make object! [origin: none padding: none scroll: none align: none "
                                          "v-align: none wrap?: false] [") + c.para + "]");
        EXPECT_EQ(para_flags(&para), c.bits) << c.para;
    }
    const Cell none = kem("none");
    EXPECT_EQ(para_flags(&none), 0u);

    // The para facet is marked in the face's changed-facet mask.
    const Cell face = kem_face("state: reduce [none 1 none false]");
    update_para(&face);
    EXPECT_EQ(run_kem("pick tui-face/state 2"), std::to_string(0x40000 | 1));
    const Cell no_state = kem_face("", "tui-face-2");
    update_para(&no_state);

    Cell font = kem("make object! [name: none size: none style: none angle: 0 color: 10.20.30.40 anti-alias?: false "
                    "shadow: none state: reduce [null-handle] parent: none]");
    EXPECT_EQ(font_color(&font), 0x281E140Au);
    EXPECT_EQ(font_handle(&font), 0);
    free_font(&font);
    EXPECT_EQ(run_kem("tui-value/state"), "none");
    EXPECT_EQ(make_font(), 0);
}

TEST(TuiText, RichTextCellsTakeTheirStyles) {
    // Ranges count characters: one past U+FFFF is one cell like any other.
    const Cell face = kem_face(
        "type: 'rich-text text: \"a\U0001F600bcd\" color: 0.0.255 data: [3x1 bold 4x9 255.0.0 backdrop 0.0.0 "
        "1x1 italic underline 10.10.10 'x strike 'y border \"Mono\" 12 1.5]");
    CellRun run;
    rich_text_cells(&face, run);
    ASSERT_EQ(run.size(), 5u);
    EXPECT_EQ(run[1].code, 0x1F600u);
    EXPECT_EQ(run[2].code, uint32_t('b'));
    EXPECT_EQ(run[2].style, STYLE_BOLD);
    EXPECT_EQ(run[1].style, 0u);
    EXPECT_EQ(run[0].style, STYLE_ITALIC | STYLE_UNDERLINE | STYLE_STRIKE);
    EXPECT_EQ(run[0].bg, rgb_to_256(0xFF0000)) << "the face's colour";
    // A range past the end is cut to it.
    EXPECT_EQ(run[3].fg, rgb_to_256(0x0000FF));
    EXPECT_EQ(run[4].fg, rgb_to_256(0x0000FF));
    EXPECT_EQ(run[4].bg, rgb_to_256(0));

    // Without style runs the text is there all the same.
    const Cell plain = kem_face("type: 'rich-text text: \"hi\"", "tui-plain");
    rich_text_cells(&plain, run);
    ASSERT_EQ(run.size(), 2u);
    EXPECT_EQ(run[0].code, uint32_t('h'));
    EXPECT_EQ(run[0].bg, 0u);

    struct Bad {
        const char* data;
        uint32_t at;
    };
    const Bad bad[] = {{"[1x1 foo]", 1}, {"[1x1 backdrop 5]", 2}, {"[1x1 backdrop]", 2}, {"[none]", 0}};
    for (const Bad& b : bad) {
        const Cell f = kem_face(std::string("type: 'rich-text text: \"abc\" data: ") + b.data, "tui-bad");
        try {
            rich_text_cells(&f, run);
            ADD_FAILURE() << b.data << " raised nothing";
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_draw_invalid) << b.data;
            EXPECT_EQ(e.args[0].data1, b.at) << b.data;
        }
    }

    // The range operations cut their ranges to the run.
    CellRun cells(3, GuiCell{});
    set_style_bits(cells, -2, 3, STYLE_BOLD);
    set_style_bits(cells, 2, 100, STYLE_DIM);
    set_style_bits(cells, 5, 1, STYLE_ITALIC);
    EXPECT_EQ(cells[0].style, STYLE_BOLD);
    EXPECT_EQ(cells[1].style, 0u);
    EXPECT_EQ(cells[2].style, STYLE_DIM);
}

} // namespace
} // namespace kem::test
