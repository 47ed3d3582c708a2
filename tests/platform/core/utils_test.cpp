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

namespace {

using ARGS = std::vector<std::string>;

ARGS filtered(std::vector<const char*> args)
{
    int n = 0;
    char** out = nullptr;
    handle_command_line_args(static_cast<int>(args.size()), const_cast<char**>(args.data()), n, out);
    EXPECT_EQ(out[n], nullptr);
    return ARGS(out, out + n);
}

// Inside a death test the console goes to stderr, where the test sees it.
void run(std::vector<const char*> args)
{
    KIVO_HOST_TABLE host = {};
    host.write_to_console = [](const char* text) { std::fputs(text, stderr); };
    kivo_set_host(&host);
    filtered(std::move(args));
}

} // namespace

TEST(CommandLine, FrameworkArgumentsAreFilteredOut)
{
    KIVO_HOST_TABLE quiet = {};
    quiet.write_to_console = [](const char*) {};
    kivo_set_host(&quiet);
    EXPECT_EQ(filtered({"prog", "-psn_0_12345", "--other", "-kivo", "file.txt"}),
              (ARGS{"prog", "--other", "-kivo", "file.txt"}));
    DEBUG_STREAM s{};
    s.setup("Test Switch", 0, 0);
    const std::string number = "--kivo-showdebug=" + std::to_string(DEBUG_STREAM::streams_sz - 1);
    EXPECT_EQ(filtered({"prog", number.c_str(), "x"}), (ARGS{"prog", "x"}));
    EXPECT_EQ(s.flags, DEBUG_STREAM_WRITE_TO_CONSOLE);
    std::vector<INT_U16> saved;
    for (INT_S16 i = 0; i < DEBUG_STREAM::streams_sz; ++i) {
        saved.push_back(DEBUG_STREAM::streams[i]->flags);
    }
    EXPECT_EQ(filtered({"prog", "--kivo-showdebug=ALL"}), ARGS{"prog"});
    for (INT_S16 i = 0; i < DEBUG_STREAM::streams_sz; ++i) {
        EXPECT_TRUE(DEBUG_STREAM::streams[i]->flags & DEBUG_STREAM_WRITE_TO_CONSOLE);
        DEBUG_STREAM::streams[i]->flags = saved[static_cast<std::size_t>(i)];
    }
    int n = 5;
    char** out = reinterpret_cast<char**>(&n);
    handle_command_line_args(0, nullptr, n, out); // frees the copy
    EXPECT_TRUE(n == 0 && out == nullptr);
    kivo_set_host(nullptr);
}

TEST(CommandLineDeathTest, FrameworkOptionsThatEndTheProgram)
{
    EXPECT_EXIT(run({"prog", "--kivo"}), ::testing::ExitedWithCode(0),
                "usage: prog \\[--kivo \\| --kivo-listdebug \\| --kivo-showdebug=x\\]\n\n"
                "  --kivo             - show usage and exit\n");
    // Every channel set up before main is listed, in that order.
    EXPECT_EXIT(run({"prog", "--KIVO-LISTDEBUG"}), ::testing::ExitedWithCode(0),
                "ID   Name\n-{20}\n\n 0   KIVO Platform\n 1   KIVO Modules\n 2   Mac Event Loop Debug\n"
                " 3   Default Path Trace\n 4   WAV file loading debug\n");
    const std::string past_end = std::to_string(DEBUG_STREAM::streams_sz);
    EXPECT_EXIT(run({"prog", ("--kivo-showdebug=" + past_end).c_str()}), ::testing::ExitedWithCode(1),
                "Enabling debug channel " + past_end + "\nERROR: Stream " + past_end + " was not found\n\n");
    // neither "all" nor a number, and any other "--kivo..." option: unknown
    EXPECT_EXIT(run({"prog", "--kivo-showdebug=lots"}), ::testing::ExitedWithCode(1),
                "ERROR: Command line option \"--kivo-showdebug=lots\" is not known\n\nusage: prog");
    for (const char* option : {"--kivox", "--KIVO", "--Kivo-showdebug=all"}) {
        EXPECT_EXIT(run({"prog", option}), ::testing::ExitedWithCode(1),
                    std::string("\"") + option + "\" is not known\n\nusage: prog");
    }
}

TEST(Utilities, InternetDatesUniqueIdsAndFrameRates)
{
    EXPECT_STREQ(get_inet_date_string(1234567890), "Fri, 13 Feb 2009 23:31:30 GMT");
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_wall(2000000000);
    INT_U32 a = get_unique_id();
    EXPECT_TRUE(a >= 2000000000u && get_unique_id() == a + 1) << a;
    kivo_fake_clock_set_wall(2100000000);
    EXPECT_EQ(get_unique_id(), 2100000000u);
    kivo_fake_clock_set_wall(0); // the clock going back never repeats an id
    EXPECT_EQ(get_unique_id(), 2100000001u);
    // whole seconds on the wall clock; the first second only starts the count
    INT_U32 mn = 9, mx = 9, avg = 9, rate = 9;
    auto frames = [&](INT_S64 second, int count) {
        kivo_fake_clock_set_wall(second);
        while (count-- > 0) {
            rate = get_frame_rate(&mn, &mx, &avg);
        }
        return rate;
    };
    EXPECT_TRUE(frames(1000, 30) == 0u && mn == 0u);
    frames(1001, 20);
    EXPECT_TRUE(frames(1002, 1) == 20u && mn == 20u && mx == 30u && avg == 25u) << mn << " " << mx << " " << avg;
    char* text = nullptr;
    EXPECT_TRUE(get_frame_rate_string(text, nullptr));
    EXPECT_STREQ(text, "Frame Rate: 20hz (Min 20hz, Max 30hz, Avg 25hz)");
    EXPECT_FALSE(get_frame_rate_string(text, "Other")); // unchanged rate: not formatted again
    EXPECT_STREQ(get_frame_rate_string("Other"), "Frame Rate: 20hz (Min 20hz, Max 30hz, Avg 25hz)");
    // a second with far fewer frames than the average restarts the statistics
    kivo_fake_clock_set_wall(1003);
    EXPECT_STREQ(get_frame_rate_string("FPS"), "FPS: 4hz (Min 0hz, Max 0hz, Avg 0hz)");
    kivo_fake_clock_enable(0);
}

TEST(Utilities, SevenBitFoldingAndComparison)
{
    char out[16];
    const struct
    {
        const char* in;
        INT_S16 size;
        const char* out;
    } folds[] = {{"\xC6lf", 5, "AE"},
                 {"\xC0\xE9\xFE\xD7z", sizeof out, "Aep?z"},
                 {"abc", 3, ""},
                 {"abc", 0, "keep"},
                 {"a\xDD", 5, "aYSS"}}; // the one three-letter form still fits
    for (const auto& f : folds) {
        std::strcpy(out, "keep");
        convert_string_to_7bit(f.in, out, f.size);
        EXPECT_STREQ(out, f.out) << f.in;
    }
    const struct
    {
        const char* a;
        const char* b;
        INT_U8 ignore_case;
        INT_S16 result;
    } compares[] = {{"\xE9t\xE9", "ete", 0, 0}, {"\xC9TE", "ete", 1, 0}, {"\xC9TE", "ete", 0, -1}, {"b", "a", 0, 1},
                    {"ab", "abc", 0, -1},       {"a", "", 0, 1},         {nullptr, "a", 0, -1},    {"", nullptr, 0, 0}};
    for (const auto& c : compares) {
        EXPECT_EQ(compare_7bit_strings(c.a, c.b, c.ignore_case), c.result) << c.a << "|" << c.b;
        EXPECT_EQ(compare_7bit_strings(c.b, c.a, c.ignore_case), -c.result) << c.b << "|" << c.a;
    }
}

TEST(Utilities, RandomPasswordsAndCreditText)
{
    const struct
    {
        INT_S16 min, max;
        INT_U8 flags;
    } refused[] = {{4, 8, 0x02}, {4, 8, 0x08}, {3, 8, 0}, {9, 8, 0}, {300, 400, 0}}; // 300: longer than any password
    for (const auto& r : refused) {
        EXPECT_EQ(generate_random_password(r.min, r.max, r.flags, nullptr), nullptr) << r.min << " " << int(r.flags);
    }
    const std::string lower = "abcdefghijklmnopqrstuvwxyz", upper = "ABCDEFGHIJKLMNOPQRSTUVWXYZ", digits = "0123456789";
    set_random_index(0x12345);
    for (int round = 0; round < 50; ++round) {
        const char* p = generate_random_password(4, 8, 0x01 | 0x02 | 0x04 | 0x08, nullptr);
        const std::string s = p ? p : "";
        EXPECT_TRUE(s.size() >= 4 && s.size() <= 8 && s.find_first_not_of(lower + upper + digits) == s.npos &&
                    s.find_first_of(upper) != s.npos && s.find_first_of(digits) != s.npos)
            << s;
    }
    char mine[300], clip[300];
    ASSERT_EQ(generate_random_password(256, 1000, 0x10, mine), mine);
    EXPECT_TRUE(std::strspn(mine, lower.c_str()) == 256u && mine[256] == 0);
    ASSERT_EQ(kivo_host()->get_clipboard_text(clip, sizeof clip), 1);
    EXPECT_STREQ(clip, mine);
    kivo_host()->set_clipboard_text("");
    std::string with = get_credit_text(1), without = get_credit_text(0);
    EXPECT_TRUE(::testing::internal::RE::PartialMatch(
        with, "^Tollbeck v1\\.0\nBuilt on [A-Z][a-z][a-z] [ 1-3][0-9] [0-9]{4} at [0-9]{2}:[0-9]{2}:[0-9]{2}\n\n"
              "This program was developed by K\\.I\\.V\\.O\\. Ltd using the K\\.I\\.V\\.O\\. "
              "Development Libraries\\.\n\n"))
        << with;
    EXPECT_NE(without.find("developed using the"), std::string::npos);
    EXPECT_NE(without.find("https://example.org"), std::string::npos);
}
