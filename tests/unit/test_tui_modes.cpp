// The terminal while a GUI is up: the mode sequences the backend writes,
// the console's size, and the terminal put back exactly on every way out.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <cstring>
#include <string>
#include "pty_support.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/terminal.h"
#include "tui_support.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/screen.h"

namespace kem::test {
namespace {

using namespace gui;

const std::string MOUSE_ON = "\x1b[?1000h\x1b[?1003h\x1b[?1015h\x1b[?1006h";
const std::string MOUSE_OFF = "\x1b[?1000l\x1b[?1003l\x1b[?1015l\x1b[?1006l";

class Modes : public ::testing::Test {
protected:
    void SetUp() override {
        console = ConsoleState{};
        screen_shutdown();
        capture_output();
    }
    void TearDown() override {
        // Nothing of these tests may reach the real terminal.
        platform::note_terminal_mode(1, platform::MODE_MOUSE | platform::MODE_ALT_SCREEN | platform::MODE_CURSOR_HIDDEN,
                                     false);
        set_output_sink(nullptr);
        console = ConsoleState{};
    }
    std::string take() {
        std::string out = written();
        written().clear();
        return out;
    }
};

TEST_F(Modes, TheSequencesAreWrittenExactly) {
    struct Case {
        void (*write)();
        std::string expected;
    };
    const Case cases[] = {
        {[] { set_private_mode(2004); }, "\x1b[?2004h"},
        {[] { reset_private_mode(7); }, "\x1b[?7l"},
        {ask_cursor_position, "\x1b[6n"},
        {enter_alt_screen, "\x1b[?1049h\x1b[2J"},
        {leave_alt_screen, "\x1b[?1049l"},
        {mouse_on, MOUSE_ON},
        {mouse_off, MOUSE_OFF},
        {[] { cursor_down(3); }, "\x1b[3B"},
        {[] { cursor_down(0); }, ""},
        // The cursor is hidden and shown once each, however often asked.
        {[] {
             hide_cursor();
             hide_cursor();
         },
         "\x1b[?25l"},
        {[] {
             show_cursor();
             show_cursor();
         },
         "\x1b[?25h"},
        {show_cursor, ""},
    };
    for (const Case& c : cases) {
        c.write();
        EXPECT_EQ(take(), c.expected);
    }
}

TEST_F(Modes, ModesStillOnAreKnownToTheRestorePath) {
    const unsigned all = platform::MODE_MOUSE | platform::MODE_ALT_SCREEN | platform::MODE_CURSOR_HIDDEN;
    mouse_on();
    enter_alt_screen();
    hide_cursor();
    EXPECT_EQ(platform::terminal_modes() & all, all);
    mouse_off();
    leave_alt_screen();
    show_cursor();
    EXPECT_EQ(platform::terminal_modes() & all, 0u);
    take();

    // Full-screen windows take the alternate screen once, and give it back.
    enter_full_screen();
    EXPECT_EQ(take(), "") << "not a full-screen window";
    screen.full_screen = true;
    enter_full_screen();
    enter_full_screen();
    leave_full_screen();
    leave_full_screen();
    EXPECT_EQ(take(), "\x1b[?1049h\x1b[2J\x1b[?1049l");
}

TEST_F(Modes, TheConsoleSizeAndTheCursorReport) {
    int width = 0, height = 0;
    if (!platform::is_terminal(1)) {
        EXPECT_EQ(console_size(&width, &height), -1);
        EXPECT_EQ(width, 80);
        EXPECT_EQ(height, 24);
    }
    cursor_report(5, 10);
    EXPECT_EQ(console.origin_row, 4);
    EXPECT_EQ(console.cursor_column, 9);

    // The size is written into the screen face, without a change report.
    kem("system: make system [view: make object! [screens: reduce [make object! [type: 'screen offset: 0x0 "
        "size: 1x1]]]]");
    console.width = 1;
    refresh_screen_size();
    console_size(&width, &height);
    EXPECT_EQ(run_kem("system/view/screens/1/size"), std::to_string(width) + "x" + std::to_string(height));
    EXPECT_EQ(console.width, width);

    // Redirected standard input: the GUI never takes the console.
    if (!platform::is_terminal(0)) {
        console_begin();
        EXPECT_FALSE(console.active);
        EXPECT_EQ(take(), "");
    }
}

// Ways a process with a GUI up can end, run in a child on a pseudo-terminal.
enum class Ending { LOOP_ENDS, QUIT, SIGNAL_TERM, SIGNAL_INT, RUNTIME_ERROR };

class ModesOnATerminal : public PtyTest {
protected:
    void SetUp() override {
        PtyTest::SetUp();
        // An unusual state, to see it come back exactly.
        termios t;
        ASSERT_EQ(tcgetattr(slave_, &t), 0);
        t.c_lflag &= ~tcflag_t(ECHOCTL);
        t.c_cc[VERASE] = 8;
        ASSERT_EQ(tcsetattr(slave_, TCSANOW, &t), 0);
        ASSERT_EQ(tcgetattr(slave_, &before_), 0);
    }
    // Runs the ending in a child whose standard input and output are the
    // terminal; the bytes it wrote, and how it ended.
    std::string run(Ending ending, int* status) {
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(slave_, 0);
            dup2(slave_, 1);
            set_output_sink(nullptr);
            console = ConsoleState{};
            console_begin();
            if (!console.active) _exit(90);
            enter_alt_screen();
            mouse_on();
            hide_cursor();
            switch (ending) {
            case Ending::LOOP_ENDS:
                mouse_off();
                leave_alt_screen();
                show_cursor();
                console_end();
                _exit(0);
            case Ending::QUIT: exit_process(3);
            case Ending::SIGNAL_TERM: raise(SIGTERM); break;
            case Ending::SIGNAL_INT: raise(SIGINT); break;
            case Ending::RUNTIME_ERROR: report_runtime_error(1, nullptr);
            }
            _exit(91);
        }
        std::string out;
        do {
            out += drain_master(20);
        } while (waitpid(pid, status, WNOHANG) != pid);
        // What the child wrote last may still wait to be read.
        return out + drain_master();
    }

    termios before_{};
};

TEST_F(ModesOnATerminal, EveryWayOutPutsTheTerminalBack) {
    const std::string setup = "\x1b[6n\x1b[?1049h\x1b[2J" + MOUSE_ON + "\x1b[?25l";
    const std::string undone = MOUSE_OFF + "\x1b[?1049l\x1b[?25h";
    struct Case {
        Ending ending;
        const char* what;
        int exit_status;  // or -signal
    };
    const Case cases[] = {
        {Ending::LOOP_ENDS, "the event loop ends", 0},
        {Ending::QUIT, "quit", 3},
        {Ending::SIGNAL_TERM, "a terminating signal", -SIGTERM},
        {Ending::SIGNAL_INT, "Ctrl-C from outside", -SIGINT},
        {Ending::RUNTIME_ERROR, "a fatal runtime error", 1},
    };
    for (const Case& c : cases) {
        int status = 0;
        const std::string out = run(c.ending, &status);
        ASSERT_EQ(out.substr(0, setup.size()), setup) << c.what;
        EXPECT_EQ(out.substr(setup.size(), undone.size()), undone) << c.what;
        if (c.exit_status >= 0) {
            EXPECT_TRUE(WIFEXITED(status)) << c.what;
            EXPECT_EQ(WEXITSTATUS(status), c.exit_status) << c.what;
        } else {
            EXPECT_TRUE(WIFSIGNALED(status)) << c.what;
            EXPECT_EQ(WTERMSIG(status), -c.exit_status) << c.what;
        }
        if (c.ending == Ending::RUNTIME_ERROR) {
            EXPECT_NE(out.find("*** Runtime Error 1: access violation"), std::string::npos) << out;
        } else {
            EXPECT_EQ(out.size(), setup.size() + undone.size()) << c.what << ": nothing undone twice";
        }
        expect_terminal_state(before_);
    }
}

} // namespace
} // namespace kem::test
