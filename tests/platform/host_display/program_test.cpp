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
