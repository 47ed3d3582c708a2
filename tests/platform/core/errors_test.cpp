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

// Records pop-ups and console output instead of showing them.
struct Capture
{
    static std::string title, text, console;
    static int popups;
};
std::string Capture::title, Capture::text, Capture::console;
int Capture::popups = 0;

class ErrorsTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        kivo_test::SandboxTest::SetUp();
        Capture::title.clear();
        Capture::text.clear();
        Capture::console.clear();
        Capture::popups = 0;
        KIVO_HOST_TABLE mine = {};
        mine.display_popup_dialog = [](const char* t, const char* x) {
            Capture::title = t;
            Capture::text = x;
            ++Capture::popups;
        };
        mine.write_to_console = [](const char* x) { Capture::console += x; };
        kivo_set_host(&mine);
    }
    void TearDown() override
    {
        kivo_set_host(nullptr);
        set_error_code(0, nullptr);
        kivo_test::SandboxTest::TearDown();
    }
};

int count_rows(const ERROR_ROW* t)
{
    int n = 0;
    while (t[n].code != ERROR_TABLE_END)
        ++n;
    return n;
}

} // namespace

TEST(ErrorTables, ShapeAndQuotedRows)
{
    ASSERT_EQ(count_rows(errors), 67);
    ASSERT_EQ(count_rows(warnings), 7);
    std::set<INT_U32> codes, appenders;
    int more = 0;
    for (const ERROR_ROW* r = errors; r->code != ERROR_TABLE_END; ++r) {
        EXPECT_TRUE(codes.insert(r->code).second) << std::hex << r->code;
        ASSERT_NE(r->message, nullptr);
        if (r->append_arg)
            appenders.insert(r->code);
        if (r->more_info)
            ++more;
    }
    EXPECT_EQ(appenders, (std::set<INT_U32>{0x09, 0x13, 0x26, 0x27, 0x2A, 0x40, 0x41, 0x42}));
    EXPECT_EQ(more, 31);

    std::set<INT_U32> wcodes;
    for (const ERROR_ROW* r = warnings; r->code != ERROR_TABLE_END; ++r) {
        EXPECT_TRUE(wcodes.insert(r->code).second);
        EXPECT_EQ(r->append_arg != 0, r->code <= 3);
        EXPECT_EQ(r->more_info != nullptr, r->code == 0x10);
    }

    // Texts quoted elsewhere, misspellings and all.
    auto message = [](INT_U32 code) {
        for (const ERROR_ROW* r = errors; r->code != ERROR_TABLE_END; ++r)
            if (r->code == code)
                return std::string(r->message);
        return std::string();
    };
    EXPECT_EQ(message(99), "Unable to allocate memory for dialog title");
    EXPECT_EQ(message(105), "Invalid area count supplied to page manager");
    EXPECT_EQ(message(107), "Unable to allocate memory for page manager areas");
    EXPECT_EQ(message(112), "Srollbar slew values are invalid");
    EXPECT_EQ(message(115), "Scrollbar slew variable is of the wrong type");
    EXPECT_EQ(message(0x31), "Invalid starfield dimentions specifed");
    EXPECT_EQ(message(ERR_PROGRESS_BAR_MEMORY), "Unable to allocate memory for progress bar title");
}

TEST_F(ErrorsTest, CurrentErrorAndTexts)
{
    set_error_code(ERRCODE_CONFIG_ENTRY_NOT_FOUND, nullptr);
    EXPECT_EQ(current_error_code, 0x100);
    EXPECT_STREQ(get_error_text(),
                 "Warning: The requested entry was not found in the config file ().");

    // The argument is cut to 1023 characters and stays terminated.
    std::string big(2000, 'k');
    set_error_code(ERRCODE_CONFIG_OPEN, big.c_str());
    EXPECT_EQ(std::strlen(current_arg_string), 1023u);
    EXPECT_EQ(std::string(current_arg_string), big.substr(0, 1023));
    // The formatted text is cut at its buffer, never overflows.
    EXPECT_EQ(std::strlen(get_error_text()), 1023u);

    // A '%' in a text or an argument is never taken for a conversion.
    EXPECT_STREQ(get_error_text(ERRCODE_COLOUR_DARKEN_RANGE, "%s%n%d"),
                 "Error: Colour darkening percentage was over 100% or less than -100% which makes no sense.");
    EXPECT_STREQ(get_error_text(0x1009, "%n%s%d"), "Error: %n%s%d does not appear to be a package file.");
    EXPECT_STREQ(get_error_text(0x1010, "a.png"), "Error: File a.png not found in package.");
    EXPECT_STREQ(get_error_text(0, "x"), "No Error");
    EXPECT_STREQ(get_error_text(0x1011, "x"), "Unknown Error Code");
    EXPECT_STREQ(get_error_text(0x0102, nullptr), "Unknown Error Code");
}

TEST_F(ErrorsTest, WarningsComposeAndReturn)
{
    display_warning(WARN_DEBUG_FILE_OPEN, "/x/y.txt");
    EXPECT_EQ(Capture::title, "Warning");
    EXPECT_EQ(Capture::text, "WARNING: 0002:\nUnable to open debug file /x/y.txt");

    display_warning(WARN_PALETTE_FULL, "ignored");
    EXPECT_EQ(Capture::text,
              "WARNING: 0010:\nToo many colour for a 256 Palette \n\nDo you require more information?");

    display_warning(0x0099, "x");
    EXPECT_EQ(Capture::text, "WARNING: Undefined warning encountered");

    // A null argument on an appending row leaves the trailing blank alone.
    display_warning(WARN_DEBUG_MESSAGE, nullptr);
    EXPECT_EQ(Capture::text, "WARNING: 0000:\nDEBUG MESSAGE: ");
    EXPECT_EQ(Capture::popups, 4);

    // A huge argument is cut, not overflowed.
    std::string big(10000, 'z');
    display_warning(WARN_DEBUG_MESSAGE, big.c_str());
    EXPECT_GT(Capture::text.size(), 1000u);
    EXPECT_LT(Capture::text.size(), 10000u);
}

TEST_F(ErrorsTest, ConsoleLines)
{
    write_to_console("a.cpp", 12, "hello 100%s");
    EXPECT_EQ(Capture::console, "Debug - File: a.cpp Line 12: = hello 100%s\n");
    Capture::console.clear();
    write_to_console(nullptr, 12, "plain");
    EXPECT_EQ(Capture::console, "plain\n");
}

TEST_F(ErrorsTest, FileLinesAppendToNamedFiles)
{
    std::string p = path("log.txt");
    ASSERT_TRUE(kivo_test::write_file(p, "old\n"));
    write_to_file("b.cpp", 7, "one %d", p.c_str());
    write_to_file(nullptr, 0, "two", p.c_str());
    EXPECT_EQ(kivo_test::read_file(p), "old\nDebug - File: b.cpp Line 7: = one %d\ntwo\n");
    EXPECT_EQ(Capture::popups, 0);

    std::string missing = path("no/such/dir.txt");
    write_to_file(nullptr, 0, "x", missing.c_str());
    EXPECT_EQ(Capture::popups, 1);
    EXPECT_EQ(Capture::text, "WARNING: 0002:\nUnable to open debug file " + missing);
}

// The default file is truncated only by its first use in a run: checked in
// a fresh process so the run's first-pass state is known.
TEST_F(ErrorsTest, DefaultDebugFileStartsAfreshOncePerRun)
{
    std::string d = dir;
    EXPECT_EXIT(
        {
            if (chdir(d.c_str()) != 0)
                std::_Exit(2);
            kivo_test::write_file("debug.txt", "stale\n");
            write_to_file(nullptr, 0, "first", nullptr);
            write_to_file("c.cpp", 3, "second", nullptr);
            bool ok = kivo_test::read_file("debug.txt") ==
                      "first\nDebug - File: c.cpp Line 3: = second\n";
            std::_Exit(ok ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ErrorsDeath, DefaultDebugFileThatCannotBeCreatedWarns)
{
    std::string d = kivo_test::make_temp_dir("ro");
    EXPECT_EXIT(
        {
            // A folder named debug.txt cannot be opened as a file.
            if (chdir(d.c_str()) != 0 || mkdir("debug.txt", 0700) != 0)
                std::_Exit(2);
            write_to_file(nullptr, 0, "x", nullptr);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "Warning: WARNING: 0001:\nUnable to create debug file debug.txt\n");
}

TEST(ErrorsDeath, FatalErrorsExitWithStatusOne)
{
    // Row without the append flag: the argument is not shown, the blank stays.
    EXPECT_EXIT(display_error(ERR_TCPIP_BUFFER_SIZE, "ignored"), ::testing::ExitedWithCode(1),
                "Error: ERROR: 000A:\nReceive buffer ssize supplied to TCPIP::TCPIP\\(\\) was invalid \n");
    EXPECT_EXIT(display_error(ERR_OPTION_UNKNOWN, "--bad"), ::testing::ExitedWithCode(1),
                "Error: ERROR: 0042:\nUnrecognised command line option: --bad\n\nDo you require "
                "more information\\?\n");
    EXPECT_EXIT(display_error(0x7777, "x"), ::testing::ExitedWithCode(1),
                "Error: ERROR: Undefined error encountered\n");
}
