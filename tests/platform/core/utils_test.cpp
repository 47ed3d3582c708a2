#include "utils.h"

#include "debug_stream.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "random_session.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The core's credit text reads the application's settings record.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

#define LOWER "abcdefghijklmnopqrstuvwxyz"
#define UPPER "ABCDEFGHIJKLMNOPQRSTUVWXYZ"
#define DIGITS "0123456789"

namespace {

// Inside a death test the console goes to stderr, where the test sees it.
void console_to_stderr()
{
    KIVO_HOST_TABLE host = {};
    host.write_to_console = [](const char* text) { std::fputs(text, stderr); };
    kivo_set_host(&host);
}

std::vector<std::string> filtered(std::vector<const char*> args)
{
    int n = 0;
    char** out = nullptr;
    handle_command_line_args(static_cast<int>(args.size()), const_cast<char**>(args.data()), n, out);
    std::vector<std::string> result;
    for (int i = 0; i < n; ++i)
        result.push_back(out[i]);
    EXPECT_EQ(out[n], nullptr);
    return result;
}

void run(std::vector<const char*> args)
{
    console_to_stderr();
    filtered(std::move(args));
}

} // namespace

TEST(CommandLine, FrameworkArgumentsAreFilteredOut)
{
    KIVO_HOST_TABLE quiet = {};
    quiet.write_to_console = [](const char*) {};
    kivo_set_host(&quiet);
    EXPECT_EQ(filtered({"prog", "-psn_0_12345", "file.txt"}), (std::vector<std::string>{"prog", "file.txt"}));
    EXPECT_EQ(filtered({"prog", "--other", "-kivo"}), (std::vector<std::string>{"prog", "--other", "-kivo"}));

    DEBUG_STREAM s{};
    s.setup("Test Switch", 0, 0);
    char number[40];
    std::snprintf(number, sizeof number, "--KIVO-showdebug=%d", DEBUG_STREAM::streams_sz - 1);
    EXPECT_EQ(filtered({"prog", number, "x"}), (std::vector<std::string>{"prog", "x"}));
    EXPECT_EQ(s.flags, DEBUG_STREAM_WRITE_TO_CONSOLE);

    std::vector<INT_U16> saved;
    for (INT_S16 i = 0; i < DEBUG_STREAM::streams_sz; ++i)
        saved.push_back(DEBUG_STREAM::streams[i]->flags);
    EXPECT_EQ(filtered({"prog", "--kivo-showdebug=ALL"}), std::vector<std::string>{"prog"});
    for (INT_S16 i = 0; i < DEBUG_STREAM::streams_sz; ++i) {
        EXPECT_TRUE(DEBUG_STREAM::streams[i]->flags & DEBUG_STREAM_WRITE_TO_CONSOLE);
        DEBUG_STREAM::streams[i]->flags = saved[static_cast<std::size_t>(i)];
    }

    int n = 5;
    char** out = reinterpret_cast<char**>(&n);
    handle_command_line_args(0, nullptr, n, out); // frees the copy
    EXPECT_EQ(n, 0);
    EXPECT_EQ(out, nullptr);
    kivo_set_host(nullptr);
}

TEST(CommandLineDeathTest, FrameworkOptionsThatEndTheProgram)
{
    EXPECT_EXIT(run({"prog", "--kivo"}), ::testing::ExitedWithCode(0),
                "usage: prog \\[--kivo \\| --kivo-listdebug \\| --kivo-showdebug=x\\]\n\n"
                "  --kivo             - show usage and exit\n");
    EXPECT_EXIT(run({"prog", "--KIVO-LISTDEBUG"}), ::testing::ExitedWithCode(0),
                "ID   Name\n-{20}\n\n.*[0-9]   KIVO Platform\n.*[0-9]   KIVO Modules\n");

    char past_end[40];
    std::snprintf(past_end, sizeof past_end, "--kivo-showdebug=%d", DEBUG_STREAM::streams_sz);
    std::string expected = "Enabling debug channel " + std::to_string(DEBUG_STREAM::streams_sz) +
                           "\nERROR: Stream " + std::to_string(DEBUG_STREAM::streams_sz) + " was not found\n\n";
    EXPECT_EXIT(run({"prog", past_end}), ::testing::ExitedWithCode(1), expected);

    // Neither "all" nor a number, and any other "--kivo..." option: unknown.
    EXPECT_EXIT(run({"prog", "--kivo-showdebug=lots"}), ::testing::ExitedWithCode(1),
                "ERROR: Command line option \"--kivo-showdebug=lots\" is not known\n\nusage: prog");
    EXPECT_EXIT(run({"prog", "--kivox"}), ::testing::ExitedWithCode(1), "\"--kivox\" is not known");
}

TEST(Utilities, InternetDatesAndUniqueIds)
{
    EXPECT_STREQ(get_inet_date_string(0), "Thu, 01 Jan 1970 00:00:00 GMT");
    EXPECT_STREQ(get_inet_date_string(1234567890), "Fri, 13 Feb 2009 23:31:30 GMT");
    EXPECT_STREQ(get_inet_date_string(951782400), "Tue, 29 Feb 2000 00:00:00 GMT");

    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_wall(2000000000);
    INT_U32 a = get_unique_id();
    INT_U32 b = get_unique_id();
    EXPECT_GE(a, 2000000000u);
    EXPECT_EQ(b, a + 1);
    kivo_fake_clock_set_wall(2100000000);
    EXPECT_EQ(get_unique_id(), 2100000000u);
    kivo_fake_clock_set_wall(0); // the clock going back never repeats an id
    EXPECT_EQ(get_unique_id(), 2100000001u);
    kivo_fake_clock_enable(0);
}

TEST(Utilities, FrameRateCountsWholeSecondsOnTheWallClock)
{
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_wall(1000);
    INT_U32 mn = 9, mx = 9, avg = 9;
    for (int i = 0; i < 30; ++i)
        EXPECT_EQ(get_frame_rate(&mn, &mx, &avg), 0u); // nothing measured yet
    EXPECT_EQ(mn, 0u);
    kivo_fake_clock_set_wall(1001);
    EXPECT_EQ(get_frame_rate(&mn, &mx, &avg), 30u);
    EXPECT_EQ(mn, 30u);
    for (int i = 0; i < 19; ++i)
        get_frame_rate(nullptr, nullptr, nullptr);
    kivo_fake_clock_set_wall(1002);
    EXPECT_EQ(get_frame_rate(&mn, &mx, &avg), 20u);
    EXPECT_EQ(mn, 20u);
    EXPECT_EQ(mx, 30u);
    EXPECT_EQ(avg, 25u);

    char* text = nullptr;
    EXPECT_TRUE(get_frame_rate_string(text, nullptr));
    EXPECT_STREQ(text, "Frame Rate: 20hz (Min 20hz, Max 30hz, Avg 25hz)");
    EXPECT_FALSE(get_frame_rate_string(text, "Other")); // unchanged rate: not formatted again
    EXPECT_STREQ(get_frame_rate_string("Other"), "Frame Rate: 20hz (Min 20hz, Max 30hz, Avg 25hz)");

    // A second with far fewer frames than the average restarts the statistics.
    kivo_fake_clock_set_wall(1003);
    EXPECT_STREQ(get_frame_rate_string("FPS"), "FPS: 4hz (Min 0hz, Max 0hz, Avg 0hz)");
    kivo_fake_clock_enable(0);
}

TEST(Utilities, SevenBitFoldingAndComparison)
{
    char out[16];
    convert_string_to_7bit("\xC6lf", out, 5);
    EXPECT_STREQ(out, "AE");
    convert_string_to_7bit("\xC0\xE9\xFE\xD7z", out, sizeof out);
    EXPECT_STREQ(out, "Aep?z");
    convert_string_to_7bit("abc", out, 3);
    EXPECT_STREQ(out, "");
    std::strcpy(out, "keep");
    convert_string_to_7bit("abc", out, 0);
    EXPECT_STREQ(out, "keep");

    EXPECT_EQ(compare_7bit_strings("\xE9t\xE9", "ete", 0), 0);
    EXPECT_EQ(compare_7bit_strings("\xC9TE", "ete", 1), 0);
    EXPECT_EQ(compare_7bit_strings("\xC9TE", "ete", 0), -1);
    EXPECT_EQ(compare_7bit_strings("b", "a", 0), 1);
    EXPECT_EQ(compare_7bit_strings("ab", "abc", 0), -1); // a proper prefix compares less
    EXPECT_EQ(compare_7bit_strings("abc", "ab", 0), 1);
    EXPECT_EQ(compare_7bit_strings(nullptr, "a", 0), -1);
    EXPECT_EQ(compare_7bit_strings("a", "", 0), 1);
    EXPECT_EQ(compare_7bit_strings("", nullptr, 0), 0);
}

TEST(Utilities, RandomPasswords)
{
    EXPECT_EQ(generate_random_password(4, 8, 0x02, nullptr), nullptr);
    EXPECT_EQ(generate_random_password(4, 8, 0x08, nullptr), nullptr);
    EXPECT_EQ(generate_random_password(3, 8, 0, nullptr), nullptr);
    EXPECT_EQ(generate_random_password(9, 8, 0, nullptr), nullptr);
    EXPECT_EQ(generate_random_password(300, 400, 0, nullptr), nullptr); // longer than any password

    set_random_index(0x12345);
    for (int round = 0; round < 50; ++round) {
        const char* p = generate_random_password(4, 8, 0x01 | 0x02 | 0x04 | 0x08, nullptr);
        ASSERT_NE(p, nullptr);
        std::string s = p;
        EXPECT_TRUE(s.size() >= 4 && s.size() <= 8 && s.find_first_not_of(LOWER UPPER DIGITS) == std::string::npos &&
                    s.find_first_of(UPPER) != std::string::npos && s.find_first_of(DIGITS) != std::string::npos)
            << s;
    }
    char mine[300];
    char* p = generate_random_password(256, 1000, 0x10, mine);
    ASSERT_EQ(p, mine);
    EXPECT_EQ(std::strlen(mine), 256u);
    EXPECT_EQ(std::strspn(mine, LOWER), 256u);
    char clip[300];
    ASSERT_EQ(kivo_host()->get_clipboard_text(clip, sizeof clip), 1);
    EXPECT_STREQ(clip, mine);
    kivo_host()->set_clipboard_text("");
}

TEST(Utilities, CreditText)
{
    std::string with = get_credit_text(1);
    EXPECT_TRUE(::testing::internal::RE::PartialMatch(
        with, ::testing::internal::RE("^Tollbeck v1\\.0\nBuilt on [A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4} at "
                                      "[0-9]{2}:[0-9]{2}:[0-9]{2}\n\nThis program was developed by K\\.I\\.V\\.O\\. "
                                      "Ltd using the K\\.I\\.V\\.O\\. Development Libraries\\.\n\n")))
        << with;
    std::string without = get_credit_text(0);
    EXPECT_NE(without.find("developed using the"), std::string::npos);
    EXPECT_NE(without.find("https://example.org"), std::string::npos);
}
