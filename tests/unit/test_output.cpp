#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <termios.h>
#include <unistd.h>
#include <string>
#include <thread>
#include <vector>
#include "pty_support.h"
#include "runtime/core/memory.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/keys.h"
#include "runtime/services/output.h"
#include "runtime/services/unicode/text.h"

using namespace kem;
using namespace std::string_literals;

namespace {

const std::string VISIBLE_ESC = "\xE2\x90\x9B";  // U+241B, an ESC shown on a terminal

// Captures console output in a memory file that can pose as a terminal.
class Output : public ::testing::Test {
public:
    size_t written() const { return size_t(lseek(fd_, 0, SEEK_END)); }

protected:
    void SetUp() override {
        memory_init();
        fd_ = memfd_create("kem-output", 0);
        ASSERT_GE(fd_, 0);
        output_hooks_init();
        set_screen_hooks(nullptr, nullptr);
        cursor_ok = true;
        cursor_column = 3;
        cursor_row = 5;
        console_set_queries(fake_cursor, fake_size);
    }
    void TearDown() override {
        console_set_queries(nullptr, nullptr);
        set_screen_hooks(nullptr, nullptr);
        output_hooks_init();
        console_probe();
        close(fd_);
    }

    void attach(bool terminal) {
        console_attach(fd_, terminal);
        take();
    }
    // What was written since the last call.
    std::string take() {
        std::string out;
        off_t end = lseek(fd_, 0, SEEK_END);
        out.resize(size_t(end));
        EXPECT_EQ(pread(fd_, out.data(), out.size(), 0), ssize_t(out.size()));
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        lseek(fd_, 0, SEEK_SET);
        return out;
    }

    static Cell make_string(const std::vector<int32_t>& cps, uint32_t unit, uint32_t index = 0) {
        NodeId n = alloc_string_buffer(uint32_t(cps.size()), unit);
        SeriesBuffer* b = node_buffer(n);
        for (size_t i = 0; i < cps.size(); i++) write_unit(b->head_ptr() + i * unit, unit, cps[i]);
        b->tail = b->head + uint32_t(cps.size()) * unit;
        Cell c;
        make_series(&c, TYPE_STRING, n, index);
        return c;
    }
    static std::vector<int32_t> points(const std::string& ascii) { return {ascii.begin(), ascii.end()}; }

    // Prints a string of the given code points and unit through the default writer.
    std::string print(const std::vector<int32_t>& cps, uint32_t unit, bool new_line = false) {
        Cell s = make_string(cps, unit);
        output_writers_call(&s, new_line);
        return take();
    }

    static bool fake_cursor(int* column, int* row) {
        *column = cursor_column;
        *row = cursor_row;
        return cursor_ok;
    }
    static bool fake_size(int* columns, int* rows) {
        *columns = 80;
        *rows = 24;
        return true;
    }
    static inline bool cursor_ok = true;
    static inline int cursor_column = 0, cursor_row = 0;
    int fd_ = -1;
};

// --- Text by unit --------------------------------------------------------------

TEST_F(Output, StringsOfEveryUnitLeaveAsUtf8) {
    struct Case {
        std::vector<int32_t> cps;
        uint32_t unit;
        std::string bytes;
    } cases[] = {
        {{0xE9}, 1, "\xC3\xA9"},
        {{'a', 0xFF, 'b'}, 1, "a\xC3\xBF" "b"},
        {{0x20AC, 'x'}, 2, "\xE2\x82\xAC" "x"},
        {{0x4E00, 0xE9}, 2, "\xE4\xB8\x80\xC3\xA9"},
        {{0x1F600, 'z'}, 4, "\xF0\x9F\x98\x80" "z"},
        {{0x10FFFF}, 4, "\xF4\x8F\xBF\xBF"},
        {{}, 1, ""},
    };
    for (bool terminal : {false, true}) {
        attach(terminal);
        for (auto& c : cases) {
            EXPECT_EQ(print(c.cps, c.unit), c.bytes) << "unit " << c.unit << " terminal " << terminal;
            EXPECT_EQ(print(c.cps, c.unit, true), c.bytes + "\n") << "unit " << c.unit << " terminal " << terminal;
        }
    }
}

TEST_F(Output, PrintsFromTheStringsPosition) {
    attach(false);
    Cell s = make_string({'a', 'b', 0x20AC}, 2, 1);
    print_string_by_unit(&s, true);
    EXPECT_EQ(take(), "b\xE2\x82\xAC\n");
    s.data1 = 7;  // past the tail: only the line end
    print_string_by_unit(&s, true);
    EXPECT_EQ(take(), "\n");
}

TEST_F(Output, UnknownUnitPrintsTheErrorLine) {
    attach(false);
    Cell s;
    make_series(&s, TYPE_STRING, alloc_cells(2));  // a buffer of 16-byte units
    print_string_by_unit(&s, false);
    EXPECT_EQ(take(), "Error: unknown string encoding: 16\n");
}

// A redirected file gets exactly the code points; a terminal never gets bytes
// it would read as control sequences of its own.
TEST_F(Output, TerminalShowsControlIntroducersAndBadCodePointsSafely) {
    struct Case {
        std::vector<int32_t> cps;
        uint32_t unit;
        std::string redirected, terminal;
    } cases[] = {
        {{0x9B, '2', 'J'}, 1, "\xC2\x9B" "2J", "\xEF\xBF\xBD" "2J"},
        {{0x9D, '0', ';'}, 2, "\xC2\x9D" "0;", "\xEF\xBF\xBD" "0;"},
        {{0xD800}, 2, "\xED\xA0\x80", "\xEF\xBF\xBD"},
        {{0x110000}, 4, "\xEF\xBF\xBD", "\xEF\xBF\xBD"},
        {{'\t', 7, 0x7F, 0xA0}, 1, "\t\x07\x7F\xC2\xA0", "\t\x07\x7F\xC2\xA0"},
    };
    for (auto& c : cases) {
        attach(false);
        EXPECT_EQ(print(c.cps, c.unit), c.redirected);
        attach(true);
        EXPECT_EQ(print(c.cps, c.unit), c.terminal);
    }
}

TEST_F(Output, LongTextCrossesTheBufferIntact) {
    // 700 two-byte characters, a sequence where the buffer fills, 700 more.
    std::vector<int32_t> cps(700, 0xE9);
    for (char ch : "\x1b[2;3H"s) cps.push_back(ch);
    cps.insert(cps.end(), 700, 0xE9);
    std::string e2;
    for (int i = 0; i < 700; i++) e2 += "\xC3\xA9";

    attach(false);
    EXPECT_EQ(print(cps, 1, true), e2 + "\x1b[2;3H" + e2 + "\n");
    attach(true);
    EXPECT_EQ(print(cps, 1, true), e2 + "\x1b[4;3H" + e2 + "\n");
}

// --- The escape dialect ----------------------------------------------------------

struct EscapeCase {
    const char* input;
    const char* vt;  // what a terminal gets (default colours, cursor at column 3, row 5)
};
const EscapeCase escape_cases[] = {
    {"\x1b[s", "\x1b[s"},
    {"\x1b[u", "\x1b[u\x1b[0m"},
    {"\x1b[H", "\x1b[H"},
    {"\x1b[f", "\x1b[H"},
    {"\x1b[5;2H", "\x1b[3;6H"},  // column 5, row 2 from 0: VT row 3, column 6
    {"\x1b[0;0f", "\x1b[1;1H"},
    {"\x1b[5H", ""},
    {"\x1b[5;H", ""},
    {"\x1b[1;2;3H", ""},
    {"\x1b[3A", "\x1b[3A"},
    {"\x1b[5B", "\x1b[5B"},
    {"\x1b[12C", "\x1b[12C"},
    {"\x1b[4D", "\x1b[4D"},
    {"\x1b[0A", ""},  // VT would move by one
    {"\x1b[B", ""},
    {"\x1b[J", "\x1b[2K\x1b[J"},
    {"\x1b[0J", ""},
    {"\x1b[1J", "\x1b[5;1H\x1b[1J\x1b[2K\x1b[6;4H"},
    {"\x1b[2J", "\x1b[2J\x1b[3J\x1b[H"},
    {"\x1b[3J", ""},
    {"\x1b[K", "\x1b[K"},
    {"\x1b[0K", ""},
    {"\x1b[1K", "\x1b[1K\r"},
    {"\x1b[2K", "\x1b[2K\r"},
    {"\x1b[m", "\x1b[0m"},
    {"\x1b[0m", "\x1b[0m"},
    {"\x1b[31m", "\x1b[0;31m"},
    {"\x1b[34m", "\x1b[0;34m"},
    {"\x1b[33;44m", "\x1b[0;33;44m"},
    {"\x1b[1m", "\x1b[0;97;100m"},       // intensity of both halves
    {"\x1b[1;31;42m", "\x1b[0;91;102m"},  // three codes, applied in order
    {"\x1b[4m", "\x1b[0;4m"},
    {"\x1b[7m", "\x1b[0;30;47m"},  // halves exchanged
    {"\x1b[39m", "\x1b[0;97m"},
    {"\x1b[49m", "\x1b[0;100m"},
    {"\x1b[112m", "\x1b[0;30;47m"},   // any other number is the attribute word
    {"\x1b[65536m", "\x1b[0;97;100m"},  // parameters wrap at 65535: code 1
    {"\x1b[37;40m", "\x1b[0m"},         // the default colours again
    {"\x1b[1;m", ""},
    {"\x1b[x", ""},
    {"a\x1b[zb", "ab"},
    {"x\x1b[2;3Hy", "x\x1b[4;3Hy"},
    {"\x1b" "X", "\xE2\x90\x9B" "X"},
    {"\x1b", "\xE2\x90\x9B"},
    {"\x1b[12", "\xE2\x90\x9B[12"},
    {"\x1b\x1b[H", "\xE2\x90\x9B\x1b[H"},
};

TEST_F(Output, EscapeDialectTranslatedOnTerminalUnchangedWhenRedirected) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        for (auto& c : escape_cases) {
            auto cps = points(c.input);
            attach(true);
            EXPECT_EQ(print(cps, unit), c.vt) << "unit " << unit << " input " << testing::PrintToString(c.input);
            attach(false);
            EXPECT_EQ(print(cps, unit), c.input) << "unit " << unit;
        }
    }
}

TEST_F(Output, ColoursPersistAndErasingUsesTheDefaults) {
    attach(true);
    EXPECT_EQ(print(points("\x1b[31mred"), 1), "\x1b[0;31mred");
    EXPECT_EQ(console_attributes(), 0x04);
    // Erased cells take the default colours, then red is back in force.
    EXPECT_EQ(print(points("\x1b[K"), 1), "\x1b[0m\x1b[K\x1b[0;31m");
    EXPECT_EQ(print(points("\x1b[44m"), 1), "\x1b[0;31;44m");
    EXPECT_EQ(print(points("\x1b[u"), 1), "\x1b[u\x1b[0;31;44m");
    EXPECT_EQ(print(points("\x1b[0mok"), 1), "\x1b[0mok");
    EXPECT_EQ(console_attributes(), 0x07);
    EXPECT_EQ(print(points("\x1b[K"), 1), "\x1b[K");
}

TEST_F(Output, EraseAboveNeedsTheCursorRow) {
    attach(true);
    cursor_row = 0;  // nothing above the first row
    EXPECT_EQ(print(points("\x1b[1Jx"), 1), "x");
    cursor_ok = false;  // a terminal that does not answer: erase nothing rather than guess
    cursor_row = 5;
    EXPECT_EQ(print(points("\x1b[1Jx"), 1), "x");
}

TEST_F(Output, QueryIsAskedAfterThePendingTextIsOut) {
    attach(true);
    static size_t seen;
    static int self_fd;
    self_fd = fd_;
    console_set_queries(
        [](int* c, int* r) {
            seen = size_t(lseek(self_fd, 0, SEEK_END));
            *c = 0;
            *r = 2;
            return true;
        },
        fake_size);
    print(points("abc\x1b[1J"), 1);
    EXPECT_EQ(seen, 3u);
}

TEST_F(Output, ReportPrintsTheTerminalsFacts) {
    attach(true);
    EXPECT_EQ(print(points("\x1b[?25l"), 1),
              "Screen buffer size: 80 x 24\nCursor position: 3, 5\n"
              "Window: left 0, top 0, right 79, bottom 23\nMaximum window size: 80 x 24\n25l");
}

TEST_F(Output, EscapesWorkBesideSupplementaryCharacters) {
    attach(true);
    EXPECT_EQ(print({27, '[', '3', '2', 'm', 0x1F600, 27, '[', 'm'}, 4, true),
              "\x1b[0;32m\xF0\x9F\x98\x80\x1b[0m\n");
    EXPECT_EQ(print({27, '[', 0x20AC, 'a'}, 2), "a");  // a final character of any width ends it
}

// --- Hooks -------------------------------------------------------------------

std::vector<std::string> hook_log;
void writer_a(const Cell*, bool nl) { hook_log.push_back(nl ? "a+" : "a"); }
void writer_b(const Cell*, bool nl) { hook_log.push_back(nl ? "b+" : "b"); }
void after_a(const uint8_t* t, uint32_t n, uint32_t u) { hook_log.push_back("A:" + std::string((const char*)t, n) + std::to_string(u)); }
void after_b(const uint8_t*, uint32_t, uint32_t u) { hook_log.push_back("B" + std::to_string(u)); }

TEST_F(Output, WritersRunInRegistrationOrderAfterTheConsole) {
    attach(false);
    hook_log.clear();
    EXPECT_EQ(output_writer_count(), 1u);
    output_hook_add(writer_a, nullptr);
    output_hook_add(nullptr, nullptr);
    output_hook_add(writer_b, after_a);
    output_hook_add(writer_a, after_b);
    EXPECT_EQ(output_writer_count(), 4u);
    EXPECT_EQ(output_after_hook_count(), 2u);
    EXPECT_EQ(print(points("hi"), 1, true), "hi\n");
    EXPECT_EQ(hook_log, (std::vector<std::string>{"a+", "b+", "a+"}));

    hook_log.clear();
    output_hooks_call(reinterpret_cast<const uint8_t*>("xy"), 2, 1);
    EXPECT_EQ(hook_log, (std::vector<std::string>{"A:xy1", "B1"}));

    // Removal takes the first occurrence only; the console writer can go too.
    hook_log.clear();
    output_hook_remove(writer_a, after_a);
    output_hook_remove(print_string_by_unit, nullptr);
    EXPECT_EQ(print(points("hi"), 1, false), "");
    EXPECT_EQ(hook_log, (std::vector<std::string>{"b", "a"}));
    output_hooks_call(reinterpret_cast<const uint8_t*>("z"), 1, 4);
    EXPECT_EQ(hook_log.back(), "B4");

    // Many writers: the lists grow past their first capacity.
    output_hooks_init();
    hook_log.clear();
    for (int i = 0; i < 12; i++) output_hook_add(i % 2 ? writer_b : writer_a, nullptr);
    print(points("x"), 1);
    ASSERT_EQ(hook_log.size(), 12u);
    EXPECT_EQ(hook_log[10], "a");
    EXPECT_EQ(hook_log[11], "b");
}

TEST_F(Output, ScreenIsPausedAroundEachWrite) {
    attach(true);
    static std::vector<std::string> events;
    static Output* self;
    self = this;
    events.clear();
    set_screen_hooks([] { events.push_back("suspend@" + std::to_string(self->written())); },
                     [] { events.push_back("resume@" + std::to_string(self->written())); });
    Cell s = make_string(points("abc"), 1);
    output_writers_call(&s, true);
    print_line("n=", 42);
    EXPECT_EQ(events, (std::vector<std::string>{"suspend@0", "resume@4", "suspend@4", "resume@9"}));
}

// --- Plain printing --------------------------------------------------------------

TEST_F(Output, PlainPrintsOfTextAndNumbers) {
    attach(false);
    print_line("Cannot allocate memory: init-buffer: ", 1234);
    EXPECT_EQ(take(), "Cannot allocate memory: init-buffer: 1234\n");
    print_parts("a", -5, "b"s, std::string_view("c"), int64_t(-9223372036854775807LL - 1), 7u);
    EXPECT_EQ(take(), "a-5bc-92233720368547758087");
    print_line();
    EXPECT_EQ(take(), "\n");
    print_line("\x1b[31m\xC3\xA9");  // UTF-8 passes as it is
    EXPECT_EQ(take(), "\x1b[31m\xC3\xA9\n");
    attach(true);
    print_line("\x1b[31m\xC3\xA9", 1);
    EXPECT_EQ(take(), "\x1b[0;31m\xC3\xA9" "1\n");
    write_utf8("\x1b" "c\xFF", false);  // a terminal reset and a bad byte, both shown harmlessly
    EXPECT_EQ(take(), VISIBLE_ESC + "c\xEF\xBF\xBD");
}

// --- Display width -----------------------------------------------------------

TEST(CharWidth, Table) {
    struct Case {
        int32_t cp;
        int width, cjk;
    } cases[] = {
        {0, 0, 0},           {'A', 1, 1},        {'\t', 1, 1},       {27, 1, 1},
        {0x7F, 1, 1},        {0x9F, 1, 1},       {0xA0, 1, 1},       {0xA1, 1, 2},
        {0xAD, 1, 2},        {0x0300, 0, 0},     {0x0301, 0, 0},     {0x036F, 0, 0},
        {0x0370, 1, 1},      {0x0600, 1, 1},     {0x0610, 0, 0},     {0x1100, 2, 2},
        {0x115F, 2, 2},      {0x1160, 0, 0},     {0x200B, 0, 0},     {0x200D, 0, 0},
        {0x2010, 1, 2},      {0x3000, 2, 2},     {0x302A, 0, 0},     {0x3042, 2, 2},
        {0x4E00, 2, 2},      {0x9FFF, 2, 2},     {0xAC00, 2, 2},     {0xD7A3, 2, 2},
        {0xFE0F, 0, 0},      {0xFF01, 2, 2},     {0xFF61, 1, 1},     {0xFFFD, 1, 2},
        {0x1F600, 2, 2},     {0x1F1E6, 1, 1},    {0x20000, 2, 2},    {0x2FFFD, 2, 2},
        {0x2FFFE, 1, 1},     {0x30000, 2, 2},    {0x3FFFD, 2, 2},    {0xE0001, 0, 0},
        {0xE0100, 0, 0},     {0xE01EF, 0, 0},    {0xE01F0, 1, 1},    {0xF0000, 1, 2},
        {0x10FFFD, 1, 2},    {0x10FFFF, 1, 1},   {0x110000, 1, 1},   {-1, 1, 1},
    };
    for (auto& c : cases) {
        EXPECT_EQ(unicode::char_width(c.cp), c.width) << std::hex << c.cp;
        EXPECT_EQ(unicode::char_width_cjk(c.cp), c.cjk) << std::hex << c.cp;
    }
}

// --- The terminal layer, against a pseudo-terminal -----------------------------

using Pty = test::PtyTest;

TEST_F(Pty, TerminalFacts) {
    EXPECT_TRUE(platform::is_terminal(slave_));
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    EXPECT_FALSE(platform::is_terminal(pipe_fds[0]));
    EXPECT_FALSE(platform::terminal_size(pipe_fds[1]).has_value());
    close(pipe_fds[0]);
    close(pipe_fds[1]);

    winsize ws{};
    ASSERT_EQ(ioctl(slave_, TIOCSWINSZ, &ws), 0);
    EXPECT_FALSE(platform::terminal_size(slave_).has_value()) << "0 x 0 is no size";
    ws.ws_col = 132;
    ws.ws_row = 43;
    ASSERT_EQ(ioctl(slave_, TIOCSWINSZ, &ws), 0);
    auto size = platform::terminal_size(slave_);
    ASSERT_TRUE(size.has_value());
    EXPECT_EQ(size->columns, 132);
    EXPECT_EQ(size->rows, 43);
}

TEST_F(Pty, CursorReportIsAskedAndParsed) {
    termios before;
    ASSERT_EQ(tcgetattr(slave_, &before), 0);
    // The answer waits in the input queue behind stray keys and a broken report.
    const char reply[] = "k\x1b[9\x1b[12;40R";
    ASSERT_EQ(write(master_, reply, sizeof reply - 1), ssize_t(sizeof reply - 1));
    auto at = keys::terminal_cursor(slave_, slave_);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->column, 39);
    EXPECT_EQ(at->row, 11);
    EXPECT_NE(drain_master().find("\x1b[6n"), std::string::npos);

    termios after;
    ASSERT_EQ(tcgetattr(slave_, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag) << "input mode restored";

    // No answer: nothing after the timeout.
    EXPECT_FALSE(keys::terminal_cursor(slave_, slave_, 30).has_value());
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    EXPECT_FALSE(keys::terminal_cursor(pipe_fds[0], slave_, 30).has_value());
    close(pipe_fds[0]);
    close(pipe_fds[1]);
}

TEST(Terminal, WriteAllWaitsOnAFullNonBlockingPipe) {
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    fcntl(pipe_fds[1], F_SETFL, O_NONBLOCK);
    std::string got;
    std::thread reader([&] {
        char b[4096];
        ssize_t n;
        while ((n = read(pipe_fds[0], b, sizeof b)) > 0) got.append(b, size_t(n));
    });
    std::string huge(300000, 'w');  // several times a pipe's capacity
    EXPECT_TRUE(platform::write_all(pipe_fds[1], huge.data(), huge.size()));
    close(pipe_fds[1]);
    reader.join();
    close(pipe_fds[0]);
    EXPECT_EQ(got, huge);
}

} // namespace
