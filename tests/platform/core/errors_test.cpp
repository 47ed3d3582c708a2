#include "errors.h"

#include "kivo_host.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string popup_text, console;

// Pop-ups and console output are recorded instead of shown.
class ErrorsTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        kivo_test::SandboxTest::SetUp();
        popup_text = console = "";
        KIVO_HOST_TABLE mine = {};
        mine.display_popup_dialog = [](const char*, const char* x) { popup_text = x; };
        mine.write_to_console = [](const char* x) { console += x; };
        kivo_set_host(&mine);
    }
    void TearDown() override
    {
        kivo_set_host(nullptr);
        set_error_code(0, nullptr);
        kivo_test::SandboxTest::TearDown();
    }
};

} // namespace

TEST(ErrorTables, UniqueCodes)
{
    std::set<INT_U32> codes;
    for (const ERROR_ROW* r = errors; r->code != ERROR_TABLE_END; ++r) {
        EXPECT_TRUE(codes.insert(r->code).second) << std::hex << r->code;
    }
}

TEST_F(ErrorsTest, CurrentErrorAndItsText)
{
    set_error_code(ERRCODE_CONFIG_ENTRY_NOT_FOUND, nullptr);
    EXPECT_EQ(current_error_code, 0x100);
    EXPECT_STREQ(get_error_text(), "Warning: The requested entry was not found in the config file ().");

    // Long arguments are cut to 1023 characters, and so is the formatted text.
    std::string big(2000, 'k');
    set_error_code(ERRCODE_CONFIG_OPEN, big.c_str());
    EXPECT_EQ(std::string(current_arg_string), big.substr(0, 1023));
    EXPECT_EQ(std::strlen(get_error_text()), 1023u);

    // A '%' in a text or an argument is never taken for a conversion.
    EXPECT_STREQ(get_error_text(ERRCODE_COLOUR_DARKEN_RANGE, "%s%n"),
                 "Error: Colour darkening percentage was over 100% or less than -100% which makes no sense.");
    EXPECT_STREQ(get_error_text(0x1009, "%n%s%d"), "Error: %n%s%d does not appear to be a package file.");
    EXPECT_STREQ(get_error_text(0, "x"), "No Error");
    EXPECT_STREQ(get_error_text(0x1011, "x"), "Unknown Error Code");

    // Re-raising with the current argument, or with an earlier text, keeps it whole.
    set_error_code(ERRCODE_FILE_READ, "a.bin");
    set_error_code(ERRCODE_FILE_WRITE, current_arg_string + 2);
    EXPECT_STREQ(current_arg_string, "bin");
    EXPECT_STREQ(get_error_text(ERRCODE_FILE_NOT_FOUND, get_error_text()),
                 "Error: Can not open file Error: Unable to write to file bin. as it was not found.");
}

TEST_F(ErrorsTest, WarningsAndDebugLines)
{
    const struct
    {
        WARNING_TYPE code;
        const char* arg;
        const char* text;
    } cases[] = {{WARN_DEBUG_FILE_OPEN, "/x/y.txt", "WARNING: 0002:\nUnable to open debug file /x/y.txt"},
                 {WARN_PALETTE_FULL, "not appended",
                  "WARNING: 0010:\nToo many colour for a 256 Palette \n\nDo you require more information?"},
                 {0x0099, "x", "WARNING: Undefined warning encountered"},
                 {WARN_DEBUG_MESSAGE, nullptr, "WARNING: 0000:\nDEBUG MESSAGE: "}};
    for (const auto& c : cases) {
        display_warning(c.code, c.arg);
        EXPECT_EQ(popup_text, c.text);
    }
    std::string big(10000, 'z'); // cut to the pop-up buffer, not overflowed
    display_warning(WARN_DEBUG_MESSAGE, big.c_str());
    EXPECT_EQ(popup_text, "WARNING: 0000:\nDEBUG MESSAGE: " + big.substr(0, 2017));
    popup_text = "";

    write_to_console("a.cpp", 12, "hello 100%s");
    write_to_console(nullptr, 12, "plain");
    std::string long_name(3000, 'f'); // never cut
    write_to_console(long_name.c_str(), -4, "t");
    EXPECT_EQ(console,
              "Debug - File: a.cpp Line 12: = hello 100%s\nplain\nDebug - File: " + long_name + " Line -4: = t\n");

    std::string p = path("log.txt"), missing = path("no/such/dir.txt");
    ASSERT_TRUE(kivo_test::write_file(p, "old\n"));
    write_to_file("b.cpp", 7, "one %d", p.c_str());
    write_to_file(nullptr, 0, "two", p.c_str());
    EXPECT_EQ(kivo_test::read_file(p) + popup_text, "old\nDebug - File: b.cpp Line 7: = one %d\ntwo\n");
    write_to_file(nullptr, 0, "x", missing.c_str());
    EXPECT_EQ(popup_text, "WARNING: 0002:\nUnable to open debug file " + missing);
}

// The default file is truncated only by its first use in a run, so these
// run in a fresh process where that state is known.
TEST_F(ErrorsTest, DefaultDebugFileStartsAfreshOncePerRun)
{
    std::string d = dir, ro = kivo_test::make_temp_dir("ro");
    EXPECT_EXIT(
        {
            if (chdir(d.c_str()) != 0) {
                std::_Exit(2);
            }
            kivo_test::write_file("debug.txt", "stale\n");
            write_to_file(nullptr, 0, "first", nullptr);
            write_to_file("c.cpp", 3, "second", nullptr);
            std::_Exit(kivo_test::read_file("debug.txt") == "first\nDebug - File: c.cpp Line 3: = second\n" ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
    kivo_set_host(nullptr); // the default pop-up writes "title: text" to stderr
    EXPECT_EXIT(
        {
            if (chdir(ro.c_str()) != 0 || mkdir("debug.txt", 0700) != 0) {
                std::_Exit(2);
            }
            write_to_file(nullptr, 0, "x", nullptr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "Warning: WARNING: 0001:\nUnable to create debug file debug.txt\n");
}

TEST(ErrorsDeath, FatalErrorsExitWithStatusOne)
{
    // No append flag: the argument is dropped, the trailing blank stays.
    EXPECT_EXIT(display_error(ERR_TCPIP_BUFFER_SIZE, "dropped"), ::testing::ExitedWithCode(1),
                "Error: ERROR: 000A:\nReceive buffer ssize supplied to TCPIP::TCPIP\\(\\) was invalid \n");
    EXPECT_EXIT(display_error(ERR_OPTION_UNKNOWN, "--bad"), ::testing::ExitedWithCode(1),
                "Error: ERROR: 0042:\nUnrecognised command line option: --bad\n\nDo you require more information\\?\n");
    EXPECT_EXIT(display_error(0x7777, "x"), ::testing::ExitedWithCode(1),
                "Error: ERROR: Undefined error encountered\n");
}
