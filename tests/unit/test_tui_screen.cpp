// The terminal GUI's cell screen: frame bytes, attribute and colour
// sequences, the palette mapping, and the inline area around console output.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "runtime/core/memory.h"
#include "runtime/services/output.h"
#include "tui_support.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/screen.h"

namespace kem::test {
namespace {

using namespace gui;

bool starts_with(const std::string& s, const std::string& start) { return s.rfind(start, 0) == 0; }
bool ends_with(const std::string& s, const std::string& end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

class Screen : public ::testing::Test {
protected:
    void SetUp() override {
        screen_shutdown();
        console = ConsoleState{};
        capture_output();
    }
    void TearDown() override {
        set_output_sink(nullptr);
        set_screen_client(nullptr);
        console = ConsoleState{};
        screen_shutdown();
    }
    // The bytes of one frame of the cells as they are.
    std::string frame(bool caret = false) {
        written().clear();
        write_screen(caret);
        return written();
    }
};

TEST_F(Screen, FramesAreWrittenAsTheirCellsSay) {
    struct Case {
        const char* what;
        int width, height;
        std::vector<GuiCell> cells;  // row-major; missing cells stay empty
        std::string expected;
    };
    const GuiCell bold{'b', 0, 0, STYLE_BOLD};
    const GuiCell red_bg{'r', color_word(COLOR_BASE, 1), 0, 0};
    const Case cases[] = {
        {"empty cells are spaces; rows end with the background reset", 2, 2, {}, "\r\x1b[0J  \x1b[49m\r\n  "},
        {"attributes change only between neighbours and end plain", 3, 1, {bold, bold, {'p', 0, 0, 0}},
         "\r\x1b[0J\x1b[1mbb\x1b[22mp"},
        {"the last cell's attributes are ended", 1, 1, {bold}, "\r\x1b[0J\x1b[1mb\x1b[22m"},
        {"a wide character is written once, its continuation not at all", 3, 1,
         {{0x4E2D, 0, 0, 0}, {0, 0, 0, STYLE_CONTINUATION}, {'x', 0, 0, 0}}, "\r\x1b[0J\xE4\xB8\xAD" "x"},
        {"a masked cell shows a star whatever its character", 2, 1, {{0, 0, 0, STYLE_MASKED}, {'s', 0, 0, STYLE_MASKED}},
         "\r\x1b[0J**"},
        {"a background goes on after the row reset", 1, 2, {red_bg, red_bg},
         "\r\x1b[0J\x1b[41mr\x1b[49m\r\n\x1b[41mr\x1b[49m"},
        {"control characters cannot act on the terminal", 3, 1, {{'\r', 0, 0, 0}, {0x1B, 0, 0, 0}, {0x9B, 0, 0, 0}},
         "\r\x1b[0J   "},
    };
    for (const Case& c : cases) {
        screen_shutdown();
        set_screen_size(c.width, c.height);
        for (size_t i = 0; i < c.cells.size(); i++) screen.cells[i] = c.cells[i];
        EXPECT_EQ(frame(), c.expected) << c.what;
        EXPECT_EQ(screen.lines_written, c.height - 1) << c.what;
        EXPECT_TRUE(screen.frame_written);
        EXPECT_FALSE(screen.needs_redraw);
    }
}

TEST_F(Screen, FramesGoBackToTheirStartAndPlaceTheCaret) {
    set_screen_size(3, 3);
    EXPECT_EQ(frame(), "\r\x1b[0J   \x1b[49m\r\n   \x1b[49m\r\n   ");
    // The next frame begins where this one did.
    EXPECT_TRUE(starts_with(frame(), "\r\x1b[2A\x1b[0J"));

    screen.caret_column = 1;
    screen.caret_row = 0;
    EXPECT_TRUE(ends_with(frame(true), "   \r\x1b[2A\x1b[1C"));
    EXPECT_EQ(screen.lines_written, 0);
    EXPECT_TRUE(starts_with(frame(), "\r\x1b[0J   ")) << "no rows to go up from the caret's row 0";

    // A caret at the last row's start needs no move; without a shown caret
    // the cursor stays after the last cell.
    screen.caret_column = 0;
    screen.caret_row = 2;
    EXPECT_TRUE(ends_with(frame(true), "   \r"));
    EXPECT_EQ(screen.lines_written, 2);
    frame(false);
    EXPECT_EQ(screen.lines_written, 2);

    screen.full_screen = true;
    EXPECT_TRUE(starts_with(frame(), "\x1b[H   "));
    screen_shutdown();
    EXPECT_EQ(frame(), "") << "a screen of no size writes nothing";
}

TEST_F(Screen, AttributeChangesAreWrittenInOrder) {
    struct Case {
        uint32_t from, to;
        std::string expected;
    };
    const Case cases[] = {
        {STYLE_BOLD, 0, "\x1b[22m"},
        {0, STYLE_DIM | STYLE_REVERSE | STYLE_BOLD | STYLE_ITALIC | STYLE_STRIKE | STYLE_UNDERLINE,
         "\x1b[2m\x1b[7m\x1b[1m\x1b[3m\x1b[9m\x1b[4m"},
        {STYLE_REVERSE | STYLE_ITALIC | STYLE_STRIKE | STYLE_UNDERLINE, 0, "\x1b[27m\x1b[23m\x1b[29m\x1b[24m"},
        // One sequence ends bold and dim together: the one that stays is
        // written again.
        {STYLE_BOLD | STYLE_DIM, STYLE_BOLD, "\x1b[22m\x1b[1m"},
        {STYLE_BOLD | STYLE_DIM, STYLE_DIM, "\x1b[22m\x1b[2m"},
        {STYLE_BOLD, STYLE_DIM, "\x1b[2m\x1b[22m\x1b[2m"},
        {STYLE_DIM, STYLE_BOLD, "\x1b[22m\x1b[1m"},
        {STYLE_BOLD | STYLE_DIM, 0, "\x1b[22m\x1b[22m"},
        // Blink and hidden are never written.
        {0, STYLE_BLINK | STYLE_HIDDEN, ""},
    };
    for (const Case& c : cases) {
        std::string out;
        emit_attributes(out, GuiCell{0, 0, 0, c.from}, GuiCell{0, 0, 0, c.to});
        EXPECT_EQ(out, c.expected) << std::hex << c.from << " -> " << c.to;
    }
    std::string out;
    emit_attributes(out, GuiCell{0, 0, 0, 0}, GuiCell{0, color_word(COLOR_BASE, 4), color_word(COLOR_BASE, 1), 0});
    EXPECT_EQ(out, "\x1b[31m\x1b[44m") << "the foreground, then the background";
}

TEST(TuiColors, ColorWordsHaveTheirSgrText) {
    struct Case {
        uint32_t word;
        bool foreground;
        const char* expected;
    };
    const Case cases[] = {
        {0, true, "\x1b[39m"},
        {0, false, "\x1b[49m"},
        {color_word(COLOR_BASE, 3), false, "\x1b[43m"},
        {color_word(COLOR_BASE, 9), true, "\x1b[39m"},
        {color_word(COLOR_BASE, 8), false, "\x1b[0m"},
        {color_word(COLOR_BASE, 16), true, "\x1b[96m"},
        {color_word(COLOR_BASE, 17), false, "\x1b[107m"},
        {0x02000010, true, "\x1b[38;5;16m"},
        {0x020000D0, false, "\x1b[48;5;208m"},
        {0x04FF8000, false, "\x1b[48;2;255;128;0m"},
        {0x04010203, true, "\x1b[38;2;1;2;3m"},
        {0x03000001, true, "\x1b[0m"},
    };
    for (const Case& c : cases) {
        std::string out;
        append_color_sequence(out, c.word, c.foreground);
        EXPECT_EQ(out, c.expected) << std::hex << c.word;
    }
}

TEST(TuiColors, TupleColorsMapToTheNearestPaletteEntry) {
    struct Case {
        uint8_t r, g, b, alpha;
        uint32_t expected;
    };
    const Case cases[] = {
        {128, 128, 128, 0, 0x020000F4},  // grey 244; cube 102 is farther
        {0, 0, 0, 0, 0x02000010},        // cube 16 is strictly nearer than grey 232
        {255, 255, 255, 0, 0x020000E7},
        {255, 0, 0, 0, 0x020000C4},
        {0, 0, 255, 0, 0x02000015},
        {8, 8, 8, 0, 0x020000E8},
        {95, 135, 175, 0, 0x02000043},   // cube levels 1, 2, 3 exactly
        {250, 250, 250, 0, 0x020000E7},  // the grey candidate is capped at 23
        {10, 20, 30, 254, 0x020000E9},   // only a fully transparent colour is the default
        {10, 20, 30, 255, 0},
    };
    for (const Case& c : cases) {
        const uint32_t tuple = uint32_t(c.r) | uint32_t(c.g) << 8 | uint32_t(c.b) << 16 | uint32_t(c.alpha) << 24;
        EXPECT_EQ(rgb_to_256(tuple), c.expected) << int(c.r) << "." << int(c.g) << "." << int(c.b);
    }
    // The palette itself: the cube's levels and the grey ramp.
    EXPECT_EQ(palette_rgb(16 + 36 * 5 + 6 * 2 + 1).r, 255);
    EXPECT_EQ(palette_rgb(16 + 36 * 5 + 6 * 2 + 1).g, 135);
    EXPECT_EQ(palette_rgb(16 + 36 * 5 + 6 * 2 + 1).b, 95);
    EXPECT_EQ(palette_rgb(255).r, 238);
}

TEST(TuiColors, ImagePixelsKeepTheirColourInEveryDepth) {
    // Pixels count alpha as opacity: an opaque pixel is a colour, not the
    // terminal's default.
    EXPECT_EQ(pixel_color_word(0xFF808080, COLOR_MODE_256), 0x020000F4u);
    EXPECT_EQ(pixel_color_word(0xFFFF0000, COLOR_MODE_256), 0x020000C4u);
    EXPECT_EQ(pixel_color_word(0xFF0000FF, COLOR_MODE_256), 0x02000015u) << "red and blue bytes swapped for the tuple";
    EXPECT_EQ(pixel_color_word(0x00FF0000, COLOR_MODE_256), 0u) << "a fully transparent pixel";
    EXPECT_EQ(pixel_color_word(0xFFFF8000, COLOR_MODE_24BIT), 0x04FF8000u);
    EXPECT_EQ(pixel_color_word(0x80FF8000, COLOR_MODE_24BIT), 0x04FF8000u);
}

TEST(TuiColors, TheDepthComesFromColortermAndTerm) {
    struct Case {
        const char* colorterm;
        const char* term;
        int expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, COLOR_MODE_24BIT},
        {nullptr, "xterm-256color", COLOR_MODE_256},
        {"truecolor", "xterm-256color", COLOR_MODE_24BIT},
        {"24BIT", "screen-256color", COLOR_MODE_24BIT},
        {"TrueColor", nullptr, COLOR_MODE_24BIT},
        {"x256", "xterm", COLOR_MODE_256},
        {"", "xterm", COLOR_MODE_24BIT},
        {"yes", "vt100", COLOR_MODE_24BIT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(color_mode_from(c.colorterm, c.term), c.expected)
            << (c.colorterm ? c.colorterm : "-") << " " << (c.term ? c.term : "-");
    }
}

// A client with one window of a given extent, drawing one character.
struct FakeWindows {
    static inline bool open = true;
    static inline bool caret = false;
    static inline int renders = 0;
    static inline int resized_width = 0;
    static bool extent(float* l, float* t, float* r, float* b) {
        *l = 0;
        *t = 0;
        *r = 4;
        *b = 2;
        return open;
    }
    static void render() {
        renders++;
        cell_at(0, 0).code = 'w';
    }
    static bool shown() { return caret; }
    static void resize(int width, int) { resized_width = width; }
};
const ScreenClient fake_client{FakeWindows::extent, FakeWindows::render, FakeWindows::shown, FakeWindows::resize};

TEST_F(Screen, AFrameIsDrawnOnlyWhenAskedForAndThereIsAWindow) {
    console.active = true;
    console.width = 3;
    FakeWindows::renders = 0;
    screen.needs_redraw = true;
    flush_screen();
    EXPECT_EQ(written(), "") << "no windows";

    set_screen_client(&fake_client);
    FakeWindows::open = false;
    flush_screen();
    EXPECT_EQ(FakeWindows::renders, 0) << "no top window";
    FakeWindows::open = true;
    screen.needs_redraw = false;
    flush_screen();
    EXPECT_EQ(FakeWindows::renders, 0) << "no redraw asked for";

    screen.needs_redraw = true;
    flush_screen();
    EXPECT_EQ(FakeWindows::renders, 1);
    EXPECT_EQ(screen.width, 3) << "cut to the console's width";
    EXPECT_EQ(screen.height, 2);
    EXPECT_EQ(written(), "\x1b[?25l\r\x1b[0Jw  \x1b[49m\r\n   ");

    // With a caret the cursor is shown after the frame.
    written().clear();
    FakeWindows::caret = true;
    screen.caret_column = 2;
    screen.caret_row = 1;
    screen.needs_redraw = true;
    flush_screen();
    EXPECT_EQ(written(), "\r\x1b[1A\x1b[0Jw  \x1b[49m\r\n   \r\x1b[2C\x1b[?25h");
    FakeWindows::caret = false;

    // The inline area is kept on the console.
    console.height = 10;
    console.origin_row = 9;
    flush_screen();
    EXPECT_EQ(console.origin_row, 8);
    screen.full_screen = true;
    flush_screen();
    EXPECT_EQ(console.origin_row, 0);

    // A new console size reaches the windows, and the alternate screen is
    // redrawn at once.
    screen.in_alt_screen = true;
    screen.needs_redraw = true;
    screen_resize_windows(7, 5);
    EXPECT_EQ(FakeWindows::resized_width, 7);
    EXPECT_EQ(FakeWindows::renders, 3);
}

TEST_F(Screen, TheInlineAreaIsErasedAndLeftBelow) {
    set_screen_size(2, 3);
    erase_inline_area();
    EXPECT_EQ(written(), "") << "no frame yet";

    frame();
    written().clear();
    erase_inline_area();
    EXPECT_EQ(written(), "\r\x1b[2A\x1b[0J");
    EXPECT_EQ(screen.lines_written, 0);

    // One row: the row is erased all the same, so no text of the frame is
    // left beside what is printed over it.
    set_screen_size(2, 1);
    frame();
    written().clear();
    erase_inline_area();
    EXPECT_EQ(written(), "\r\x1b[0J");

    // Leaving: the cursor goes from the row it is on to below the last one.
    set_screen_size(2, 3);
    frame();
    written().clear();
    leave_inline_area(false);
    EXPECT_EQ(written(), "\r\n");
    EXPECT_FALSE(screen.picture_kept);
    screen.caret_row = 0;
    screen.caret_column = 0;
    frame(true);
    written().clear();
    leave_inline_area(false);
    EXPECT_EQ(written(), "\x1b[2B\r\n") << "a caret on the first row leaves the picture whole";

    // A picture left for the next loop is drawn over from its top row, from
    // the line below it; console output in between starts a new area.
    console.height = 24;
    frame();
    leave_inline_area(true);
    EXPECT_TRUE(screen.picture_kept);
    EXPECT_TRUE(starts_with(frame(), "\r\x1b[3A\x1b[0J")) << "drawn where it was";
    leave_inline_area(true);
    forget_picture();
    EXPECT_TRUE(starts_with(frame(), "\r\x1b[0J")) << "drawn at the cursor";
}

TEST_F(Screen, ConsoleOutputPausesThePicture) {
    memory_init();
    static int fd = -1;
    fd = memfd_create("kem-gui-output", 0);
    ASSERT_GE(fd, 0);
    // The backend's bytes and the console's go to one file, in order.
    set_output_sink([](const char* bytes, size_t n) { ASSERT_EQ(write(fd, bytes, n), ssize_t(n)); });
    console_attach(fd, false);
    screen_init();
    set_screen_size(2, 2);
    write_screen(false);
    ASSERT_EQ(ftruncate(fd, 0), 0);
    lseek(fd, 0, SEEK_SET);

    print_line("no gui");
    console.active = true;
    print_line("hi");
    EXPECT_TRUE(screen.needs_redraw);
    EXPECT_FALSE(screen.frame_written);
    std::string out(size_t(lseek(fd, 0, SEEK_END)), '\0');
    ASSERT_EQ(pread(fd, out.data(), out.size(), 0), ssize_t(out.size()));
    EXPECT_EQ(out, "no gui\n\r\x1b[1A\x1b[0Jhi\n\x1b[6n");

    set_screen_hooks(nullptr, nullptr);
    console_probe();
    close(fd);
}

} // namespace
} // namespace kem::test
