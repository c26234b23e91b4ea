// A pseudo-terminal for the tests of the terminal layers: the slave side
// stands for the program's terminal, the master side for the person at it.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kem::test {

class PtyTest : public ::testing::Test {
protected:
    void SetUp() override {
        master_ = posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(master_, 0);
        ASSERT_EQ(grantpt(master_), 0);
        ASSERT_EQ(unlockpt(master_), 0);
        slave_ = open(ptsname(master_), O_RDWR | O_NOCTTY);
        ASSERT_GE(slave_, 0);
    }
    void TearDown() override {
        if (slave_ >= 0) close(slave_);
        if (master_ >= 0) close(master_);
    }
    // Keys typed at the terminal.
    void type(const char* bytes) { ASSERT_EQ(write(master_, bytes, strlen(bytes)), ssize_t(strlen(bytes))); }
    // What the program wrote, as far as it arrives while bytes keep coming
    // within the wait.
    std::string drain_master(int wait_ms = 50) {
        std::string out;
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, wait_ms) > 0) {
            char b[256];
            const ssize_t n = read(master_, b, sizeof b);
            if (n <= 0) break;
            out.append(b, size_t(n));
        }
        return out;
    }
    // The terminal's state is the one given, every flag and control
    // character of it.
    void expect_terminal_state(const termios& expected) {
        termios now;
        ASSERT_EQ(tcgetattr(slave_, &now), 0);
        EXPECT_EQ(now.c_iflag, expected.c_iflag);
        EXPECT_EQ(now.c_oflag, expected.c_oflag);
        EXPECT_EQ(now.c_cflag, expected.c_cflag);
        EXPECT_EQ(now.c_lflag, expected.c_lflag);
        EXPECT_EQ(0, memcmp(now.c_cc, expected.c_cc, sizeof now.c_cc));
    }
    int master_ = -1, slave_ = -1;
};

} // namespace kem::test
