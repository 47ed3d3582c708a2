// Every test binary starts here: the whole process runs in a private
// sandbox (HOME, XDG folders and TMPDIR under a fresh temporary folder),
// headless, so no test can touch the real home folder or open a display.
#include "sandbox.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    kivo_test::enter_process_sandbox();
    int result = RUN_ALL_TESTS();
    kivo_test::leave_process_sandbox();
    return result;
}
