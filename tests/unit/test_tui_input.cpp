// The GUI's view of console input (key codes and mouse reports from the
// decoder's events) and face timers advanced in frame steps.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "runtime/services/keys.h"
#include "view/backends/terminal/input.h"
#include "view/backends/terminal/timers.h"

using namespace kem;
using namespace kem::gui;

namespace {

// Every input the bytes give, as "k:<key>/<special>[S]" or
// "m:<button>@<x>,<y>[up] <flags>".
std::vector<std::string> inputs(const std::string& bytes, bool flush = true) {
    keys::KeyDecoder d;
    d.feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (flush) d.flush();
    std::vector<std::string> out;
    keys::KeyEvent e;
    while (d.next(&e)) {
        const GuiInput in = translate_key(e);
        switch (in.kind) {
        case GuiInput::KEY:
            out.push_back("k:" + std::to_string(in.key) + "/" + std::to_string(in.special) + (in.shift ? "S" : ""));
            break;
        case GuiInput::MOUSE:
            out.push_back("m:" + std::to_string(in.button) + "@" + std::to_string(in.column) + "," +
                          std::to_string(in.row) + (in.release ? "up " : " ") + std::to_string(in.flags));
            break;
        case GuiInput::CURSOR_REPORT: out.push_back("at"); break;
        case GuiInput::NONE: out.push_back("none"); break;
        }
    }
    return out;
}

using Inputs = std::vector<std::string>;

} // namespace

TEST(GuiInput, KeysAndMouseReports) {
    const struct {
        const char* bytes;
        Inputs want;
    } cases[] = {
        // line feed is Enter (13), backspace is 127, Shift-Tab is Tab with Shift
        {"\n\x08\t\x1b[Z", {"k:13/0", "k:127/0", "k:9/0", "k:9/0S"}},
        {"\x1b[A\x1b[B\x1b[C\x1b[D\x1b[F\x1b[H\x1b[3~\x1b[5~\x1b[6~",
         {"k:0/-20", "k:0/-21", "k:0/-22", "k:0/-23", "k:0/-24", "k:0/-25", "k:0/-27", "k:0/-28", "k:0/-29"}},
        // F1, F5, F12; Insert gives nothing
        {"\x1bOP\x1b[15~\x1b[24~\x1b[2~", {"k:0/-31", "k:0/-35", "k:0/-42", "none"}},
        // a character beyond the BMP is one key
        {"\xf0\x9f\x98\x80", {"k:128512/0"}},
        // left press and release at column 3, row 4 (0-based 2, 3); a right
        // press with Shift and Control; motion; wheel up and down
        {"\x1b[<0;3;4M\x1b[<0;3;4m\x1b[<22;1;1M\x1b[<35;5;6M\x1b[<64;1;1M\x1b[<65;1;1M",
         {"m:0@2,3 0", "m:0@2,3up 0", "m:2@0,0 805306368", "m:3@4,5 0", "m:4@0,0 0", "m:5@0,0 0"}},
        // buttons 6 and 7 are dropped
        {"\x1b[<66;1;1M", {"none"}},
    };
    for (const auto& c : cases) EXPECT_EQ(inputs(c.bytes), c.want) << c.bytes + 1;
}

TEST(GuiInput, CutOffReportWaitsForItsRest) {
    keys::KeyDecoder d;
    const std::string head = "\x1b[<0;12;", tail = "5M";
    d.feed(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    keys::KeyEvent e;
    EXPECT_FALSE(d.next(&e));
    EXPECT_TRUE(d.pending());
    d.feed(reinterpret_cast<const uint8_t*>(tail.data()), tail.size());
    ASSERT_TRUE(d.next(&e));
    const GuiInput in = translate_key(e);
    EXPECT_EQ(in.kind, GuiInput::MOUSE);
    EXPECT_EQ(in.column, 11);
    EXPECT_EQ(in.row, 4);
}

namespace {
int fired[3];
void count(void* data) { fired[reinterpret_cast<intptr_t>(data)]++; }
} // namespace

TEST(GuiTimers, FireInFrameStepsAndDropTheSurplus) {
    timers_clear();
    fired[0] = fired[1] = fired[2] = 0;
    timer_add(reinterpret_cast<void*>(0), 100, count);        // rate 10
    timer_add(reinterpret_cast<void*>(1), 2000, count);       // 0:0:2
    timer_add(reinterpret_cast<void*>(2), 1, count, true);    // one shot
    for (int pass = 1; pass <= 122; pass++) timers_tick(33);
    // 100 ms fires every fourth pass (132 ms), two seconds every 61st pass
    EXPECT_EQ(fired[0], 122 / 4);
    EXPECT_EQ(fired[1], 2);
    EXPECT_EQ(fired[2], 1);
    // one per call, the last added first
    timer_add(reinterpret_cast<void*>(0), 5, count);
    timer_remove(reinterpret_cast<void*>(0));
    EXPECT_EQ(timer_count(), 3u);
    timers_tick(33);
    EXPECT_EQ(fired[0], 122 / 4);  // the repeating 100 ms record is still there
    timers_clear();
}
