// Keys from terminal bytes, raw mode and key reads over a pseudo-terminal.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include <string>
#include <vector>
#include "pty_support.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/keys.h"

using namespace kem::keys;
using namespace kem::platform;

namespace {

// Events as short text: a character as "c:<code>" ("S-" before it with
// Shift), a key as its name, a cursor report as "at:<row>,<column>", a mouse
// report as "m:<button>@<column>,<row>" ("up" after it for a release).
std::string describe(const KeyEvent& e) {
    static const char* const names[] = {"UP",  "DOWN", "LEFT", "RIGHT", "HOME", "END", "INS", "DEL",
                                        "PGUP", "PGDN", "OTHER", "F1",  "F2",   "F3",  "F4",  "F5",
                                        "F6",  "F7",   "F8",   "F9",    "F10",  "F11", "F12"};
    switch (e.kind) {
    case KeyEvent::CHARACTER: return (e.shift ? "S-c:" : "c:") + std::to_string(e.code);
    case KeyEvent::KEY: return names[e.code];
    case KeyEvent::MOUSE:
        return "m:" + std::to_string(e.code) + "@" + std::to_string(e.column) + "," + std::to_string(e.row) +
               (e.release ? "up" : "");
    default: return "at:" + std::to_string(e.row) + "," + std::to_string(e.column);
    }
}

std::vector<std::string> drain(KeyDecoder& d) {
    std::vector<std::string> out;
    KeyEvent e;
    while (d.next(&e)) out.push_back(describe(e));
    return out;
}

// Fed at once, then flushed as when no more bytes come.
std::vector<std::string> decode_whole(const std::string& bytes) {
    KeyDecoder d;
    d.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    d.flush();
    return drain(d);
}

using Events = std::vector<std::string>;

} // namespace

TEST(KeyDecoder, SequencesOfTheTerminalFamilies) {
    const struct {
        const char* bytes;
        Events events;
    } cases[] = {
        {"a\r\x7f\x08\x03\t", {"c:97", "c:13", "c:127", "c:8", "c:3", "c:9"}},
        // xterm normal and application cursor keys, Home and End
        {"\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F", {"UP", "DOWN", "RIGHT", "LEFT", "HOME", "END"}},
        {"\x1bOA\x1bOB\x1bOC\x1bOD\x1bOH\x1bOF", {"UP", "DOWN", "RIGHT", "LEFT", "HOME", "END"}},
        // modifiers are dropped: Ctrl-Left, Shift-Up, Alt-End
        {"\x1b[1;5D\x1b[1;2A\x1b[1;3F", {"LEFT", "UP", "END"}},
        // VT220 editing keys, with a modifier too
        {"\x1b[1~\x1b[2~\x1b[3~\x1b[4~\x1b[5~\x1b[6~\x1b[3;5~", {"HOME", "INS", "DEL", "END", "PGUP", "PGDN", "DEL"}},
        // rxvt: Home and End as 7 and 8, modifiers as ^ @ $, Shift and Ctrl arrows
        {"\x1b[7~\x1b[8~\x1b[3^\x1b[7$\x1b[2@", {"HOME", "END", "DEL", "HOME", "INS"}},
        {"\x1b[a\x1b[d\x1bOc\x1bOb", {"UP", "LEFT", "RIGHT", "DOWN"}},
        // Alt with an arrow in rxvt, Alt with a character, Alt-Backspace
        {"\x1b\x1b[C\x1b" "b\x1b\x7f", {"RIGHT", "c:98", "c:127"}},
        // function keys: xterm, VT220, rxvt and the Linux console, with a modifier too
        {"\x1bOP\x1bOS\x1b[15~\x1b[[A\x1b[[E\x1b[1;2P\x1b[11~", {"F1", "F4", "F5", "F1", "F5", "F1", "F1"}},
        {"\x1b[17~\x1b[21~\x1b[23~\x1b[24;5~\x1b[16~", {"F6", "F10", "F11", "F12", "OTHER"}},
        // keypad Enter and digits in application mode, Shift-Tab
        {"\x1bOM\x1bOq\x1bOk\x1b[Z", {"c:13", "c:49", "c:43", "S-c:9"}},
        // other keys with modifiers: xterm's 27;mod;code~ and CSI u; Ctrl gives control codes
        {"\x1b[27;5;13~\x1b[97;5u\x1b[233u", {"c:13", "c:1", "c:233"}},
        // a cursor position report, and reports that are no position
        {"\x1b[12;40R\x1b[?1;2c", {"at:12,40", "OTHER"}},
        // SGR mouse reports: press, release, motion, wheel; a report with too
        // few or too many numbers, or a private marker elsewhere, is none
        {"\x1b[<0;3;4M\x1b[<0;3;4m\x1b[<35;120;2M\x1b[<65;1;1M",
         {"m:0@3,4", "m:0@3,4up", "m:35@120,2", "m:65@1,1"}},
        {"\x1b[<0;3M\x1b[<0;1;2;3;4M\x1b[1<0;3;4M", {"OTHER", "OTHER", "OTHER"}},
        // UTF-8, one to four bytes
        {"\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80", {"c:233", "c:26085", "c:128512"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decode_whole(c.bytes), c.events) << "bytes: " << c.bytes + 1;
        // Any split between reads gives the same keys.
        const std::string bytes = c.bytes;
        KeyDecoder d;
        for (char b : bytes) d.feed(uint8_t(b));
        EXPECT_EQ(drain(d), c.events) << "byte by byte: " << c.bytes + 1;
    }
}

TEST(KeyDecoder, CutOffAndBrokenSequencesKeepTheirKeys) {
    const struct {
        const char* bytes;
        Events events;
    } cases[] = {
        // Escape alone, twice, and sequences the wait cut off: every byte is a key
        {"\x1b", {"c:27"}},
        {"\x1b\x1b", {"c:27", "c:27"}},
        {"\x1b[", {"c:27", "c:91"}},
        {"\x1b[1;5", {"c:27", "c:91", "c:49", "c:59", "c:53"}},
        {"\x1bO", {"c:27", "c:79"}},
        // a byte that breaks a sequence ends it and is read afresh
        {"\x1b[1\x01x", {"c:27", "c:91", "c:49", "c:1", "c:120"}},
        {"\x1b[2\x1b[A", {"c:27", "c:91", "c:50", "UP"}},
        {"\x1b[<0;12", {"c:27", "c:91", "c:60", "c:48", "c:59", "c:49", "c:50"}},
        // Escape then something that is no Alt key
        {"\x1b\x1bx", {"c:27", "c:120"}},
        // bytes that are no UTF-8: one replacement each, the breaking byte kept
        {"\xe9" "ab", {"c:65533", "c:97", "c:98"}},
        {"\x80\xff", {"c:65533", "c:65533"}},
        {"\xe6\x97", {"c:65533", "c:65533"}},
        {"\xed\xa0\x80", {"c:65533", "c:65533", "c:65533"}},
    };
    for (const auto& c : cases) EXPECT_EQ(decode_whole(c.bytes), c.events) << "bytes: " << c.bytes;

    // A sequence longer than the decoder keeps is broken, not dropped.
    const std::string long_sequence = "\x1b[" + std::string(KeyDecoder::MAX_SEQUENCE, '1') + "A";
    Events got = decode_whole(long_sequence);
    ASSERT_EQ(got.size(), long_sequence.size());
    EXPECT_EQ(got.front(), "c:27");
    EXPECT_EQ(got.back(), "c:65");
}

TEST(KeyDecoder, WaitsForTheRestOfASequence) {
    KeyDecoder d;
    d.feed(0x1b);
    d.feed('[');
    EXPECT_TRUE(d.pending());
    EXPECT_TRUE(drain(d).empty());
    d.feed('B');
    EXPECT_FALSE(d.pending());
    EXPECT_EQ(drain(d), Events{"DOWN"});

    // A cursor report is taken out of the queue; the keys around it stay in order.
    d.feed(reinterpret_cast<const uint8_t*>("x\x1b[3;7Ry"), 8);
    int row = 0, column = 0;
    ASSERT_TRUE(d.take_cursor_report(&row, &column));
    EXPECT_EQ(row, 3);
    EXPECT_EQ(column, 7);
    EXPECT_FALSE(d.take_cursor_report(&row, &column));
    EXPECT_EQ(drain(d), (Events{"c:120", "c:121"}));
}

// --- raw mode and key reads over a pseudo-terminal ------------------------------

class RawPty : public kem::test::PtyTest {
protected:
    void TearDown() override {
        restore_terminal();
        kem::test::PtyTest::TearDown();
    }
};

TEST_F(RawPty, RawModeIsUndoneExactly) {
    termios before;
    ASSERT_EQ(tcgetattr(slave_, &before), 0);
    ASSERT_TRUE(enter_raw_mode(slave_));
    EXPECT_TRUE(raw_mode_active());
    termios raw;
    ASSERT_EQ(tcgetattr(slave_, &raw), 0);
    EXPECT_FALSE(raw.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(raw.c_iflag & (ICRNL | IXON));
    EXPECT_EQ(raw.c_oflag, before.c_oflag) << "output processing is kept";

    hide_cursor(slave_, true);
    restore_terminal();
    EXPECT_FALSE(raw_mode_active());
    expect_terminal_state(before);
    // The cursor hidden during the edit is shown again.
    std::string written;
    pollfd p{master_, POLLIN, 0};
    while (written.find("\x1b[?25h") == std::string::npos && poll(&p, 1, 1000) > 0) {
        char bytes[64];
        ssize_t n = read(master_, bytes, sizeof bytes);
        if (n <= 0) break;
        written.append(bytes, size_t(n));
    }
    EXPECT_EQ(written, "\x1b[?25l\x1b[?25h");
    restore_terminal();  // a second time does nothing
    EXPECT_FALSE(raw_mode_active());
}

TEST_F(RawPty, KeysArriveAndAHangUpEndsTheRead) {
    ASSERT_TRUE(enter_raw_mode(slave_));
    type("a\x1b[Ab\x03");
    KeyEvent e;
    Events got;
    for (int i = 0; i < 4; i++) {
        ASSERT_EQ(read_key(slave_, &e), KeyRead::KEY);
        got.push_back(describe(e));
    }
    EXPECT_EQ(got, (Events{"c:97", "UP", "c:98", "c:3"}));

    // An Escape with nothing after it is the Escape key once the wait runs out.
    type("\x1b");
    ASSERT_EQ(read_key(slave_, &e), KeyRead::KEY);
    EXPECT_EQ(describe(e), "c:27");

    // Once the terminal hangs up, the read fails at once, every time, instead
    // of waiting or spinning.
    close(master_);
    master_ = -1;
    EXPECT_EQ(read_key(slave_, &e), KeyRead::FAILED);
    EXPECT_EQ(read_key(slave_, &e), KeyRead::FAILED);
}

TEST_F(RawPty, KeysTypedBeforeACursorReportAreKept) {
    ASSERT_TRUE(enter_raw_mode(slave_));
    type("q\x1b[5;9R");
    auto at = terminal_cursor(slave_, slave_, 500);
    ASSERT_TRUE(at.has_value());
    EXPECT_EQ(at->row, 4);
    EXPECT_EQ(at->column, 8);
    KeyEvent e;
    ASSERT_EQ(read_key(slave_, &e), KeyRead::KEY);
    EXPECT_EQ(describe(e), "c:113");
}
