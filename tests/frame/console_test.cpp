#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "quro/console.h"
#include "quro/quro.h"

namespace {

TEST(Console, OpeningTwiceKeepsOneConsole) {
    EXPECT_EQ(open_console(), 0);
    EXPECT_TRUE(quro::console_is_open());
    EXPECT_EQ(open_console(), 0);
    EXPECT_EQ(clear_console(), 0);
    EXPECT_EQ(write_line(), 0);
    EXPECT_EQ(close_console(), 0);
    EXPECT_FALSE(quro::console_is_open());
}

TEST(Console, ClosingAndClearingWithoutConsoleDoNothing) {
    EXPECT_EQ(close_console(), 0);
    EXPECT_EQ(clear_console(), 0);
    EXPECT_FALSE(quro::console_is_open());
}

TEST(Console, StandardStreamsSurviveOpenAndClose) {
    // Route standard output into a pipe, open and close the console, and check that printf output
    // still arrives in the pipe and that descriptors 1 and 2 are still open.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    ASSERT_GE(saved, 0);
    ASSERT_GE(dup2(fds[1], STDOUT_FILENO), 0);

    open_console();
    clear_console();
    close_console();
    const bool out_open = fcntl(STDOUT_FILENO, F_GETFD) != -1;
    const bool err_open = fcntl(STDERR_FILENO, F_GETFD) != -1;
    std::printf("still here\n");
    std::fflush(stdout);

    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(fds[1]);
    char buf[64] = {0};
    const ssize_t n = read(fds[0], buf, sizeof(buf) - 1);
    close(fds[0]);

    EXPECT_TRUE(out_open);
    EXPECT_TRUE(err_open);
    ASSERT_GT(n, 0);
    // A pipe is not a terminal: no escape sequences, only our line.
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(n)), "still here\n");
}

}  // namespace
