#include "config_file.h"

#include "errors.h"
#include "folder.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class ConfigFileTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }

    std::string file() { return kivo_test::read_file(path("settings")); }
    void put(const std::string& bytes) { ASSERT_TRUE(kivo_test::write_file(path("settings"), bytes)); }

    std::string value_of(CONFIG_FILE& c, const char* key)
    {
        char v[256] = "?";
        if (!c.read(folder, key, v))
            return "<" + std::to_string(current_error_code) + ">";
        return v;
    }

    static void collect(char* key, char* value, void* user)
    {
        static_cast<std::vector<std::pair<std::string, std::string>>*>(user)->emplace_back(key, value);
    }

    FOLDER folder;
};

const char* const SAMPLE = "# colours\n\ncolour\n\t#FF0000\n  size\n   \nname\n\tbig  box\n";

} // namespace

TEST_F(ConfigFileTest, EntriesReadTheSameInBothModes)
{
    put(SAMPLE);
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        EXPECT_TRUE(c.exists(folder));
        EXPECT_EQ(value_of(c, "colour"), "#FF0000");
        EXPECT_EQ(value_of(c, "size"), ""); // key after blanks; a blank value line is empty
        EXPECT_EQ(value_of(c, "name"), "big  box");
        EXPECT_EQ(value_of(c, "Colour"), "<256>"); // keys are case-sensitive: 0x100
        EXPECT_STREQ(current_arg_string, "Colour");
        EXPECT_EQ(value_of(c, ""), "<4097>"); // 0x1001

        std::vector<std::pair<std::string, std::string>> all;
        EXPECT_TRUE(c.read_all(folder, collect, &all));
        // streaming: file order; cached: key order
        std::vector<std::pair<std::string, std::string>> expected = {
            {"colour", "#FF0000"}, {"size", ""}, {"name", "big  box"}};
        if (cached)
            std::swap(expected[1], expected[2]);
        EXPECT_EQ(all, expected);
        EXPECT_FALSE(c.read_all(folder, nullptr, nullptr));
        EXPECT_EQ(current_error_code, 0x1003);
    }
}

TEST_F(ConfigFileTest, StreamingWritesKeepCommentsAndPlacesCachedWritesDropComments)
{
    put(SAMPLE);
    CONFIG_FILE stream;
    stream.set_filename(nullptr, 0);
    ASSERT_TRUE(stream.write(folder, "colour", "#00FF00"));
    EXPECT_EQ(file(), "# colours\n\ncolour\n\t#00FF00\nsize\n\t\nname\n\tbig  box\n");
    ASSERT_TRUE(stream.write(folder, "added", "1"));
    EXPECT_EQ(file(), "# colours\n\ncolour\n\t#00FF00\nsize\n\t\nname\n\tbig  box\nadded\n\t1\n");
    EXPECT_FALSE(folder.file_exists("settings.tmp"));

    CONFIG_FILE cache; // cached is the default
    ASSERT_TRUE(cache.write(folder, "size", "7"));
    ASSERT_TRUE(cache.write(folder, "zebra", "z"));
    ASSERT_TRUE(cache.write(folder, "apple", "a"));
    // file order by id; new keys last in the order they came
    EXPECT_EQ(file(), "colour\n\t#00FF00\nsize\n\t7\nname\n\tbig  box\nadded\n\t1\nzebra\n\tz\napple\n\ta\n");
    EXPECT_EQ(value_of(cache, "apple"), "a");
    EXPECT_EQ(value_of(cache, "size"), "7");
}

TEST_F(ConfigFileTest, WritingAMissingFileCreatesItWithTheOneEntry)
{
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        std::string name = "new" + std::to_string(cached);
        CONFIG_FILE c;
        c.set_filename(name.c_str(), cached);
        EXPECT_FALSE(c.exists(folder));
        ASSERT_TRUE(c.write(folder, "k", nullptr));
        EXPECT_EQ(kivo_test::read_file(path(name)), "k\n\t\n");
    }
    // reading a missing file: 0x1002 with the file name
    CONFIG_FILE c;
    c.set_filename("absent", 1);
    char v[256];
    EXPECT_FALSE(c.read(folder, "k", v));
    EXPECT_EQ(current_error_code, 0x1002);
    EXPECT_STREQ(current_arg_string, "absent");
}

TEST_F(ConfigFileTest, DuplicateKeysAndAKeyWithoutValue)
{
    put("k\n\tfirst\nk\n\tsecond\n");
    CONFIG_FILE c;
    c.set_filename(nullptr, 0);
    EXPECT_EQ(value_of(c, "k"), "first");
    ASSERT_TRUE(c.write(folder, "k", "both"));
    EXPECT_EQ(file(), "k\n\tboth\nk\n\tboth\n");

    put("a\n\t1\ndangling");
    EXPECT_EQ(value_of(c, "a"), "1");
    EXPECT_EQ(value_of(c, "missing"), "<257>"); // 0x101: ends after a key
}

TEST_F(ConfigFileTest, NumbersInHexAndDecimal)
{
    CONFIG_FILE c;
    ASSERT_TRUE(c.write(folder, "hex", 0xFFFFFFFFu, 1));
    ASSERT_TRUE(c.write(folder, "dec", static_cast<INT_U32>(-5), 0));
    ASSERT_TRUE(c.write(folder, "word", "abc"));
    EXPECT_EQ(value_of(c, "hex"), "FFFFFFFF");
    EXPECT_EQ(value_of(c, "dec"), "-5");
    INT_U32 n = 0;
    ASSERT_TRUE(c.read(folder, "hex", n, 1));
    EXPECT_EQ(n, 0xFFFFFFFFu);
    ASSERT_TRUE(c.read(folder, "dec", n, 0));
    EXPECT_EQ(n, static_cast<INT_U32>(-5));
    n = 77;
    EXPECT_TRUE(c.read(folder, "word", n, 0)); // not a number: unchanged
    EXPECT_EQ(n, 77u);
    EXPECT_FALSE(c.read(folder, "nothing", n, 0));
}

TEST_F(ConfigFileTest, OverlongLinesAreCutWithoutSpillingIntoAPhantomKey)
{
    std::string wide;
    for (int i = 0; i < 60; ++i)
        wide += "\xE2\x98\xBA"; // 60 escapes of 5 bytes each do not fit 255
    put(std::string(100, 'K') + "\n\t" + std::string(300, 'v') + "\nnext\n\t" + wide + "\nlast\n\tok\n");
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        std::vector<std::pair<std::string, std::string>> all;
        ASSERT_TRUE(c.read_all(folder, collect, &all));
        ASSERT_EQ(all.size(), 3u);
        EXPECT_EQ(value_of(c, std::string(100, 'K').c_str()), std::string(255, 'v'));
        std::string v = value_of(c, "next");
        EXPECT_EQ(v.size(), 252u); // 50 whole groups and the two run bytes
        EXPECT_EQ(v.back(), '\x01');
        EXPECT_EQ(value_of(c, "last"), "ok");
    }
}

TEST_F(ConfigFileTest, LineBreaksInKeysAndValuesCannotSplitAnEntry)
{
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        std::string name = "f" + std::to_string(cached);
        CONFIG_FILE c;
        c.set_filename(name.c_str(), cached);
        ASSERT_TRUE(c.write(folder, "  key\nfake", "value\r\nfake\n\tx"));
        ASSERT_TRUE(c.write(folder, "other", "o"));
        EXPECT_EQ(kivo_test::read_file(path(name)), "key\n\tvalue\nother\n\to\n");
        EXPECT_FALSE(c.write(folder, "#comment", "v")); // would read back as a comment
        EXPECT_EQ(current_error_code, 0x1001);
        EXPECT_FALSE(c.write(folder, "\n", "v"));
        EXPECT_FALSE(c.write(folder, nullptr, "v"));
    }
    // a line break written as an escape group is a line break too
    CONFIG_FILE esc;
    esc.set_filename("esc", 0);
    ASSERT_TRUE(esc.write(folder, "k\x01,000a\x01" "fake", "v\x01,263A,000D\x01\tx"));
    ASSERT_TRUE(esc.write(folder, "other", "o"));
    EXPECT_EQ(kivo_test::read_file(path("esc")), "k\n\tv\xE2\x98\xBA\nother\n\to\n");

    // over-long keys and values are cut the way the reader cuts them
    CONFIG_FILE c;
    ASSERT_TRUE(c.write(folder, std::string(90, 'k').c_str(), std::string(300, 'v').c_str()));
    EXPECT_EQ(file(), std::string(79, 'k') + "\n\t" + std::string(255, 'v') + "\n");
    // a group crossing the limit goes whole, so the key written is the key
    // read back: a second write finds it instead of adding another
    const std::string key = std::string(70, 'k') + "\x01,263A,263B\x01";
    CONFIG_FILE stream;
    stream.set_filename("cut", 0);
    ASSERT_TRUE(stream.write(folder, key.c_str(), "1"));
    ASSERT_TRUE(stream.write(folder, key.c_str(), "2"));
    EXPECT_EQ(kivo_test::read_file(path("cut")), std::string(70, 'k') + "\xE2\x98\xBA\n\t2\n");
    EXPECT_EQ(value_of(stream, key.c_str()), "2");
}

TEST_F(ConfigFileTest, AFailedWriteKeepsTheGoodFileAndASortedTable)
{
    put("b\n\t2\nd\n\t4\n");
    CONFIG_FILE cache;
    EXPECT_EQ(value_of(cache, "d"), "4");
    // a folder in the way of the temporary copy makes every write fail
    ASSERT_EQ(mkdir(path("settings.tmp").c_str(), 0700), 0);
    ASSERT_TRUE(kivo_test::write_file(path("settings.tmp/block"), "x"));
    EXPECT_FALSE(cache.write(folder, "a", "1"));
    EXPECT_EQ(current_error_code, 0x1002);
    EXPECT_FALSE(cache.write(folder, "c", "3"));
    EXPECT_EQ(file(), "b\n\t2\nd\n\t4\n");
    // the table still answers every key by binary search
    EXPECT_EQ(value_of(cache, "a"), "1");
    EXPECT_EQ(value_of(cache, "b"), "2");
    EXPECT_EQ(value_of(cache, "c"), "3");
    EXPECT_EQ(value_of(cache, "d"), "4");

    CONFIG_FILE stream;
    stream.set_filename(nullptr, 0);
    EXPECT_FALSE(stream.write(folder, "b", "changed"));
    EXPECT_EQ(file(), "b\n\t2\nd\n\t4\n");
    kivo_test::remove_tree(path("settings.tmp"));

    // A stale ".tmp" left by a crashed run is never taken for the file.
    ASSERT_TRUE(kivo_test::write_file(path("gone.tmp"), "old\n\tstale\n"));
    stream.set_filename("gone", 0);
    ASSERT_TRUE(stream.write(folder, "new", "n"));
    EXPECT_EQ(kivo_test::read_file(path("gone")), "new\n\tn\n");
    EXPECT_FALSE(folder.file_exists("gone.tmp"));
}

TEST_F(ConfigFileTest, ACachedTableFollowsTheFolderItIsAskedAbout)
{
    put("k\n\there\n");
    std::string other = path("other");
    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
    ASSERT_TRUE(kivo_test::write_file(other + "/settings", "k\n\tthere\n"));
    FOLDER f2;
    ASSERT_TRUE(f2.set_from_path_string(other.c_str()));
    CONFIG_FILE c;
    EXPECT_EQ(value_of(c, "k"), "here");
    char v[256];
    ASSERT_TRUE(c.read(f2, "k", v));
    EXPECT_STREQ(v, "there");
    ASSERT_TRUE(c.write(f2, "k", "changed"));
    EXPECT_EQ(value_of(c, "k"), "here");
    EXPECT_EQ(kivo_test::read_file(other + "/settings"), "k\n\tchanged\n");
}

TEST_F(ConfigFileTest, AnUnreadableFileIsNotReplacedByAWrite)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind the super-user";
    put("k\n\tv\n");
    ASSERT_EQ(chmod(path("settings").c_str(), 0200), 0);
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        EXPECT_FALSE(c.write(folder, "other", "o"));
        EXPECT_EQ(current_error_code, 0x1002);
    }
    chmod(path("settings").c_str(), 0600);
    EXPECT_EQ(file(), "k\n\tv\n");
}

TEST_F(ConfigFileTest, EveryEntryReadsBackUnchangedAfterARewrite)
{
    // An indented key starting with '#', and a key whose wide characters
    // continue on the next piece of its long line (one run, as a short
    // line would give it).
    std::string wide;
    for (int i = 0; i < 10; ++i)
        wide += "\xE2\x98\xBA";
    std::string run = "\x01";
    for (int i = 0; i < 10; ++i)
        run += ",263A";
    run += "\x01";
    const std::string original = "  #hash\n\th\n" + std::string(240, ' ') + "w" + wide + "\n\tw\nk\n\t1\n";
    const std::vector<std::pair<std::string, std::string>> before = {{"#hash", "h"}, {"w" + run, "w"}, {"k", "1"}};
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        put(original);
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        std::vector<std::pair<std::string, std::string>> all;
        ASSERT_TRUE(c.read_all(folder, collect, &all));
        if (!cached) {
            EXPECT_EQ(all, before);
        }
        ASSERT_TRUE(c.write(folder, "k", "2"));
        CONFIG_FILE again;
        again.set_filename(nullptr, 0);
        all.clear();
        ASSERT_TRUE(again.read_all(folder, collect, &all));
        std::vector<std::pair<std::string, std::string>> after = before;
        after[2].second = "2";
        EXPECT_EQ(all, after);
        EXPECT_EQ(value_of(again, "#hash"), "h");
    }
}

TEST_F(ConfigFileTest, KeysAndValuesCompareAsTheyReadBackHoweverTheyAreEscaped)
{
    // an escaped Latin-1 letter, lower-case digits, an escaped blank
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        put("caf\xC3\xA9\n\t1\n");
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        EXPECT_EQ(value_of(c, "caf\x01,00e9\x01"), "1");
        ASSERT_TRUE(c.write(folder, "caf\x01,00E9\x01", "\x01,0020\x01two"));
        ASSERT_TRUE(c.write(folder, "k\x01,263a\x01", "\x01,D83D\x01\x01,DE00\x01"));
        EXPECT_EQ(file(), "caf\xC3\xA9\n\ttwo\nk\xE2\x98\xBA\n\t\xF0\x9F\x98\x80\n");
        CONFIG_FILE fresh;
        fresh.set_filename(nullptr, 0);
        for (CONFIG_FILE* r : {&c, &fresh}) {
            EXPECT_EQ(value_of(*r, "caf\xE9"), "two");
            EXPECT_EQ(value_of(*r, "k\x01,263A\x01"), "\x01,D83D,DE00\x01");
        }
    }
}

TEST_F(ConfigFileTest, MoreEntriesThanIdsCanNumberAreRefusedWhole)
{
    std::string many;
    for (int i = 0; i <= 0xFFFF + 1; ++i)
        many += "k" + std::to_string(i) + "\n\tv\n";
    put(many);
    CONFIG_FILE c;
    EXPECT_EQ(value_of(c, "k0"), "<4100>"); // 0x1004: never a part of the file
    EXPECT_FALSE(c.write(folder, "k0", "changed"));
    EXPECT_EQ(current_error_code, 0x1004);
    EXPECT_EQ(file(), many);
    CONFIG_FILE stream; // streaming mode holds no table: it still works
    stream.set_filename(nullptr, 0);
    EXPECT_EQ(value_of(stream, "k65536"), "v");
}
