#include "debug_stream.h"

#include "colour.h"
#include "config_file.h"
#include "errors.h"
#include "folder.h"
#include "kivo_host.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

std::string console; // what reached the console, and each pop-up as "[title|text]"

class DebugStreamTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        console.clear();
        KIVO_HOST_TABLE host = {};
        host.write_to_console = [](const char* text) { console += text; };
        host.display_popup_dialog = [](const char* title, const char* text) {
            console += std::string("[") + title + "|" + text + "]";
        };
        kivo_set_host(&host);
        kivo_fake_clock_enable(1);
        kivo_fake_clock_set_wall(0);
        ASSERT_TRUE(debug.set("$USERPREFS/debug", 1, nullptr, 1));
    }

    void TearDown() override
    {
        kivo_set_host(nullptr);
        kivo_fake_clock_enable(0);
        SandboxTest::TearDown();
    }

    void configure(const std::string& name, const std::string& entries)
    {
        ASSERT_TRUE(kivo_test::write_file(debug.get_path_string((name + "_release.cfg").c_str()), entries));
    }

    std::string output(const std::string& file) { return kivo_test::read_file(debug.get_path_string(file.c_str())); }

    FOLDER debug;
};

} // namespace

TEST_F(DebugStreamTest, SettingsFilesSwitchChannelsOnPrefixesAndWhatIsSaved)
{
    configure("Test Off", "disabled\n\t1\nwrite_to_console\n\t1\n");
    for (const char* name : {"Test Absent", "Test Off"}) {
        DEBUG_STREAM s{};
        s.setup(name, 0xFFFF, 1);
        EXPECT_EQ(s.flags, 0) << name;
        s.write_to_stream("here.cpp", 1, "nothing", 1);
    }
    EXPECT_TRUE(console.empty() && !debug.file_exists("Test Absent.txt"));
    configure("Test On", "write_to_console\n\t1\nwrite_stream_name\n\t1\nwrite_code_location\n\t1\n"
                         "trigger_breakpoint\n\t1\nfilename\n\tother.log\nfile_rolling_limit\n\t7\n");
    DEBUG_STREAM on{};
    on.setup("Test On", 0, 1);
    EXPECT_TRUE(on.flags == 0x01C1 && on.rolling_limit == 7 && std::string(on.filename) == "other.log");
    on.write_to_stream("here.cpp", 12, "text", 1);
    on.write_to_stream(nullptr, 12, "no location", 0);
    on.printf("%d+%d", 1, 2);
    EXPECT_EQ(console, "<Test On>: (here.cpp,12) text\n<Test On>: no location<Test On>: 1+2");
    // A pop-up has no name prefix; a long text is cut so the line stays within 2047 characters.
    console.clear();
    on.flags = DEBUG_STREAM_WRITE_TO_CONSOLE | DEBUG_STREAM_WRITE_TO_POPUP_DIALOG | DEBUG_STREAM_WRITE_STREAM_NAME |
               DEBUG_STREAM_WRITE_DATE;
    on.write_to_stream("f.cpp", 3, "hello", 1);
    EXPECT_EQ(console, "<Test On>: Thu, 01 Jan 1970 00:00:00 GMT hello\n[Test On|Thu, 01 Jan 1970 00:00:00 GMT hello]");
    console.clear();
    on.flags = DEBUG_STREAM_WRITE_TO_CONSOLE | DEBUG_STREAM_WRITE_STREAM_NAME;
    on.write_to_stream(nullptr, 0, std::string(3000, 'x').c_str(), 0);
    EXPECT_TRUE(console.size() == 2047u && console.back() == 'x') << console.size();
    // What is saved reads back the same (the keys read are checked by name
    // above).
    DEBUG_STREAM s{};
    s.setup("Test Save", 0, 0);
    s.flags = DEBUG_STREAM_WRITE_TO_FILE | DEBUG_STREAM_WRITE_CODE_LOCATION | DEBUG_STREAM_FILE_ROLLING_BACKUP;
    s.rolling_limit = 9;
    std::snprintf(s.filename, sizeof s.filename, "saved.log");
    ASSERT_TRUE(s.save_config());
    DEBUG_STREAM back{};
    back.setup("Test Save", 0, 1);
    EXPECT_EQ(back.flags, s.flags);
    EXPECT_EQ(back.rolling_limit, 9);
    EXPECT_STREQ(back.filename, "saved.log");
}

TEST_F(DebugStreamTest, FileOutputWithHeaderTruncationKeptOpenFileAndRollingBackup)
{
    kivo_fake_clock_set_wall(86400 * 365);
    ASSERT_TRUE(kivo_test::write_file(debug.get_path_string("Test File.txt"), "from an earlier run\n"));
    DEBUG_STREAM s{};
    s.setup("Test File",
            DEBUG_STREAM_WRITE_TO_FILE | DEBUG_STREAM_TRUNCATE_FILE_ON_FIRST_WRITE | DEBUG_STREAM_WRITE_FILE_HEADER |
                DEBUG_STREAM_KEEP_FILE_OPEN,
            0);
    s.write_to_stream(nullptr, 0, "one", 1);
    s.write_to_stream(nullptr, 0, "two", 1);
    EXPECT_NE(s.file, nullptr);
    const std::string kept = "======================================\n> Debug stream: Test File\n"
                             "> Written: Fri, 01 Jan 1971 00:00:00 GMT\n\none\ntwo\n";
    EXPECT_EQ(output("Test File.txt"), kept); // flushed while still open
    // without truncation a new run appends, and a closed file is reopened
    DEBUG_STREAM a{};
    a.setup("Test File", DEBUG_STREAM_WRITE_TO_FILE, 0);
    a.write_to_stream(nullptr, 0, "three", 1);
    a.write_to_stream(nullptr, 0, "four", 1);
    EXPECT_EQ(output("Test File.txt"), kept + "three\nfour\n");
    configure("Test Roll", "write_to_file\n\t1\nfile_rolling_backup\n\t1\nfile_rolling_limit\n\t3\n");
    DEBUG_STREAM r{};
    r.setup("Test Roll", 0, 1);
    auto roll = [&](int from, int to) {
        for (int i = from; i <= to; ++i) {
            r.printf("%d\n", i);
        }
        return output("Test Roll.txt.bak") + "|" + output("Test Roll.txt");
    };
    EXPECT_EQ(roll(1, 4), "1\n2\n3\n|4\n");
    EXPECT_EQ(roll(5, 7), "4\n5\n6\n|7\n");
}

TEST_F(DebugStreamTest, ALinkWhereTheLogGoesIsRefusedAndToldOnce)
{
    const std::string victim = path("victim");
    ASSERT_TRUE(kivo_test::write_file(victim, "precious\n"));
    ASSERT_EQ(symlink(victim.c_str(), debug.get_path_string("Test Link.txt")), 0);
    ASSERT_EQ(mkfifo(debug.get_path_string("Test Pipe.txt"), 0600), 0);
    for (const char* name : {"Test Link", "Test Pipe"}) {
        SCOPED_TRACE(name);
        DEBUG_STREAM s{};
        s.setup(name, DEBUG_STREAM_WRITE_TO_FILE | DEBUG_STREAM_TRUNCATE_FILE_ON_FIRST_WRITE, 0);
        testing::internal::CaptureStderr();
        s.write_to_stream(nullptr, 0, "one", 1);
        s.write_to_stream(nullptr, 0, "two", 1);
        const std::string told = testing::internal::GetCapturedStderr();
        EXPECT_EQ(s.file, nullptr);
        EXPECT_NE(told.find(name), std::string::npos) << told;
        EXPECT_EQ(told.find('\n'), told.size() - 1) << told; // one line, once
    }
    EXPECT_EQ(kivo_test::read_file(victim), "precious\n");
}

TEST_F(DebugStreamTest, TheRegistryHoldsEachChannelOnce)
{
    INT_S16 before = DEBUG_STREAM::streams_sz;
    {
        DEBUG_STREAM s{};
        s.setup("Test Twice", DEBUG_STREAM_WRITE_TO_FILE | DEBUG_STREAM_KEEP_FILE_OPEN, 0);
        s.write_to_stream(nullptr, 0, "kept open", 1);
        s.setup("Test Twice Renamed", 0, 0); // closes the kept-open file
        EXPECT_EQ(s.file, nullptr);
        EXPECT_EQ(DEBUG_STREAM::find_stream("Test Twice Renamed"), &s);
        DEBUG_STREAM unnamed{};
        unnamed.setup(nullptr, 0, 0);
        EXPECT_EQ(std::string(unnamed.name).rfind("Debug Stream ", 0), 0u);
        EXPECT_EQ(DEBUG_STREAM::streams_sz, before + 2);
    }
    EXPECT_EQ(DEBUG_STREAM::streams_sz, before);
    EXPECT_EQ(DEBUG_STREAM::find_stream(nullptr), nullptr);
}

TEST_F(DebugStreamTest, LibraryErrorsReachThePlatformChannelWhenItIsOn)
{
    INT_U16 saved = platform_debug_stream.flags;
    set_error_code(0x100, "k");
    platform_debug_stream.flags = DEBUG_STREAM_WRITE_TO_CONSOLE | DEBUG_STREAM_WRITE_CODE_LOCATION;
    COLOUR::write_error_to_debug_stream("img.cpp", 5);
    CONFIG_FILE cfg;
    cfg.set_filename("absent", 1);
    char v[256];
    EXPECT_FALSE(cfg.read(debug, "k", v));
    platform_debug_stream.flags = saved;
    EXPECT_TRUE(::testing::internal::RE::FullMatch(
        console, "\\(img\\.cpp,5\\) Warning: The requested entry was not found in the config file \\(k\\)\\.\n"
                 "\\(config_file,[0-9]+\\) Error: Error trying to open the config file absent\\.\n"))
        << console;
}
