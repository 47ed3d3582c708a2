// The program itself, run as a child process: with no display it fails
// with a clear message; its command line works anywhere.
#include "program_child.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const int WAIT_MS = 10000;
const std::string PROGRAM = std::string(KIVO_TEST_BIN_DIR) + "/tollbeck";

} // namespace

TEST(Program, NoDisplayFailsClearlyAndTheCommandLineStillWorks)
{
    kivo_test::ProgramChild c;
    ASSERT_TRUE(c.start(PROGRAM, {}));
    EXPECT_EQ(c.wait_for_exit(WAIT_MS), 1);
    EXPECT_NE(c.err().find("Unable to open the window"), std::string::npos);

    ASSERT_TRUE(c.start(PROGRAM, {"--kivo"}));
    EXPECT_EQ(c.wait_for_exit(WAIT_MS), 0);
    EXPECT_NE(c.out().find("usage: "), std::string::npos);
}

// A request for the usage or the debug channels prints that alone, even
// where the video layer would complain on starting (no XDG_RUNTIME_DIR):
// the command line is handled before it starts.
TEST(Program, TheCommandLinePrintsOnlyWhatItWasAskedFor)
{
    for (const char* arg : {"--kivo", "--kivo-listdebug"}) {
        SCOPED_TRACE(arg);
        kivo_test::ProgramChild c;
        ASSERT_TRUE(c.start("/usr/bin/env", {"-u", "XDG_RUNTIME_DIR", PROGRAM, arg}));
        EXPECT_EQ(c.wait_for_exit(WAIT_MS), 0);
        EXPECT_EQ(c.err(), "");
        EXPECT_EQ(c.out().find(arg[6] ? "ID   Name\n" : "usage: "), 0u) << c.out();
    }
}
