#include "config_file.h"

#include "child_process.h"
#include "errors.h"
#include "folder.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using ENTRIES = std::vector<std::pair<std::string, std::string>>;

std::string repeat(const std::string& s, int n)
{
    return n > 0 ? s + repeat(s, n - 1) : "";
}

const char* const SAMPLE = "# colours\n\ncolour\n\t#FF0000\n  size\n   \nname\n\tbig  box\n";

class ConfigFileTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }

    std::string file(const std::string& name = "settings") { return kivo_test::read_file(path(name)); }
    void put(const std::string& bytes) { ASSERT_TRUE(kivo_test::write_file(path("settings"), bytes)); }

    // The value read, or the error code as "<code>".
    std::string value_of(CONFIG_FILE& c, const std::string& key, FOLDER* in = nullptr)
    {
        char v[256] = "?";
        return c.read(in ? *in : folder, key.c_str(), v) ? v : "<" + std::to_string(current_error_code) + ">";
    }

    // Every entry in the order read_all gives them; {"!", ""} when it fails.
    ENTRIES entries(CONFIG_FILE& c)
    {
        ENTRIES all;
        auto add = [](char* key, char* value, void* user) { static_cast<ENTRIES*>(user)->emplace_back(key, value); };
        return c.read_all(folder, add, &all) ? all : ENTRIES{{"!", ""}};
    }

    FOLDER folder;
};

} // namespace

TEST_F(ConfigFileTest, EntriesReadTheSameInBothModesAndFromTheFolderAskedAbout)
{
    put(SAMPLE);
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        EXPECT_EQ(value_of(c, "size"), "");        // key after blanks; a blank value line is empty
        EXPECT_EQ(value_of(c, "Colour"), "<256>"); // keys are case-sensitive: 0x100
        EXPECT_EQ(value_of(c, ""), "<4097>");      // 0x1001
        ENTRIES expected = {{"colour", "#FF0000"}, {"size", ""}, {"name", "big  box"}};
        if (cached) { // key order, not file order
            std::swap(expected[1], expected[2]);
        }
        EXPECT_EQ(entries(c), expected);
        EXPECT_TRUE(!c.read_all(folder, nullptr, nullptr) && current_error_code == 0x1003);
    }
    CONFIG_FILE c;
    c.set_filename(nullptr, 0);
    put("a\n\t1\ndangling");
    EXPECT_EQ(value_of(c, "missing"), "<257>"); // 0x101: ends after a key
    put("k\n\tfirst\nk\n\tsecond\n");
    EXPECT_EQ(value_of(c, "k"), "first");
    ASSERT_TRUE(c.write(folder, "k", "both"));
    EXPECT_EQ(file(), "k\n\tboth\nk\n\tboth\n");
    // A cached table follows the folder it is asked about.
    FOLDER other("$HERE/other", 1, &folder);
    ASSERT_TRUE(kivo_test::write_file(path("other/settings"), "k\n\tthere\n"));
    CONFIG_FILE cache;
    EXPECT_EQ(value_of(cache, "k"), "both");
    EXPECT_EQ(value_of(cache, "k", &other), "there");
    ASSERT_TRUE(cache.write(other, "k", "changed"));
    EXPECT_EQ(value_of(cache, "k"), "both");
    EXPECT_EQ(file("other/settings"), "k\n\tchanged\n");
}

TEST_F(ConfigFileTest, WritesKeepCommentsWhenStreamingIdOrderWhenCachedAndNumbersIn32Bits)
{
    put(SAMPLE);
    CONFIG_FILE stream;
    stream.set_filename(nullptr, 0);
    ASSERT_TRUE(stream.write(folder, "colour", "#00FF00") && stream.write(folder, "added", "1"));
    EXPECT_EQ(file(), "# colours\n\ncolour\n\t#00FF00\nsize\n\t\nname\n\tbig  box\nadded\n\t1\n");
    CONFIG_FILE cache; // cached is the default
    ASSERT_TRUE(cache.write(folder, "size", "7") && cache.write(folder, "zebra", "z") &&
                cache.write(folder, "apple", "a"));
    EXPECT_EQ(file(), "colour\n\t#00FF00\nsize\n\t7\nname\n\tbig  box\nadded\n\t1\nzebra\n\tz\napple\n\ta\n");
    // numbers are 32 bits in hex or decimal, on a file the first write makes
    cache.set_filename("new", 1);
    ASSERT_TRUE(cache.write(folder, "k", nullptr) && cache.write(folder, "hex", 0xFFFFFFFFu, 1) &&
                cache.write(folder, "dec", static_cast<INT_U32>(-5), 0) && cache.write(folder, "word", "abc"));
    EXPECT_EQ(file("new"), "k\n\t\nhex\n\tFFFFFFFF\ndec\n\t-5\nword\n\tabc\n");
    INT_U32 n = 77;
    EXPECT_TRUE(cache.read(folder, "word", n, 0) && n == 77u); // not a number: unchanged
    EXPECT_TRUE(cache.read(folder, "hex", n, 1) && n == 0xFFFFFFFFu);
    EXPECT_TRUE(cache.read(folder, "dec", n, 0) && n == static_cast<INT_U32>(-5));
}

TEST_F(ConfigFileTest, LongLinesAndLineBreaksCannotSplitAnEntry)
{
    const std::string wide = "\xE2\x98\xBA";
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        put(std::string(100, 'K') + "\n\t" + std::string(300, 'v') + "\nnext\n\t" + repeat(wide, 60) + "\nlast\n\tok");
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        EXPECT_EQ(entries(c).size(), 3u);
        EXPECT_EQ(value_of(c, std::string(100, 'K')), std::string(255, 'v'));
        std::string v = value_of(c, "next");
        EXPECT_TRUE(v.size() == 252u && v.back() == '\x01') << v.size(); // 60 groups do not fit: 50 do
        EXPECT_EQ(value_of(c, "last"), "ok");
        std::string name = "f" + std::to_string(cached);
        c.set_filename(name.c_str(), cached);
        ASSERT_TRUE(c.write(folder, "  key\nfake", "value\r\nfake\n\tx"));
        ASSERT_TRUE(c.write(folder,
                            "k\x01,000a\x01"
                            "fake",
                            "v\x01,263A,000D\x01\tx")); // escaped breaks too
        EXPECT_EQ(file(name), "key\n\tvalue\nk\n\tv" + wide + "\n");
        // '#' would read back as a comment
        for (const char* bad : {"#comment", "\n", static_cast<const char*>(nullptr)}) {
            EXPECT_TRUE(!c.write(folder, bad, "v") && current_error_code == 0x1001) << bad;
        }
    }
    // over-long keys and values are cut the way the reader cuts them
    CONFIG_FILE c;
    c.set_filename("long", 1);
    ASSERT_TRUE(c.write(folder, std::string(90, 'k').c_str(), std::string(300, 'v').c_str()));
    EXPECT_EQ(file("long"), std::string(79, 'k') + "\n\t" + std::string(255, 'v') + "\n");
    // a group crossing the limit goes whole, so a second write finds the key
    const std::string key = std::string(70, 'k') + "\x01,263A,263B\x01";
    c.set_filename("cut", 0);
    ASSERT_TRUE(c.write(folder, key.c_str(), "1") && c.write(folder, key.c_str(), "2"));
    EXPECT_EQ(file("cut"), std::string(70, 'k') + wide + "\n\t2\n");
    EXPECT_EQ(value_of(c, key), "2");
}

TEST_F(ConfigFileTest, AFailedWriteKeepsTheGoodFileAndASortedTable)
{
    put("b\n\t2\nd\n\t4\n");
    CONFIG_FILE cache;
    EXPECT_EQ(value_of(cache, "d"), "4");
    // A disk that fills fails the write, with its error; the table stays
    // sorted. (Every kind of save on a full disk is tried beside the others.)
    int r = kivo_test::run_in_child(
        [&] {
            bool failed = !cache.write(folder, "a", std::string(250, 'v').c_str()) && current_error_code == 0x1002;
            return failed && value_of(cache, "b") == "2" && value_of(cache, "d") == "4" ? 1 : 0;
        },
        20);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(file(), "b\n\t2\nd\n\t4\n");
    // a file that is there but cannot be opened is not taken for a missing one
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        CONFIG_FILE c;
        c.set_filename("pipe", cached);
        EXPECT_TRUE(!c.write(folder, "other", "o") && current_error_code == 0x1002) << int(cached);
    }
    struct stat st;
    EXPECT_TRUE(lstat(path("pipe").c_str(), &st) == 0 && S_ISFIFO(st.st_mode));
}

TEST_F(ConfigFileTest, EntriesCompareAndReadBackAsTheReaderGivesThemAfterARewrite)
{
    // An indented '#' key, and a key whose wide characters continue on the
    // next piece of its long line: one run, as a short line would give it.
    const ENTRIES before = {{"#hash", "h"}, {"w\x01" + repeat(",263A", 10) + "\x01", "w"}, {"k", "1"}};
    const ENTRIES sorted = {before[0], before[2], before[1]};
    ENTRIES after = before;
    after[2].second = "2";
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        put("  #hash\n\th\n" + std::string(240, ' ') + "w" + repeat("\xE2\x98\xBA", 10) + "\n\tw\nk\n\t1\n");
        CONFIG_FILE c, fresh;
        c.set_filename(nullptr, cached);
        fresh.set_filename(nullptr, 0);
        EXPECT_EQ(entries(c), cached ? sorted : before);
        ASSERT_TRUE(c.write(folder, "k", "2"));
        EXPECT_EQ(entries(fresh), after);
        // escaped Latin-1, lower-case digits, an escaped blank, split surrogates
        put("caf\xC3\xA9\n\t1\n");
        c.set_filename(nullptr, cached); // drops the table
        EXPECT_EQ(value_of(c, "caf\x01,00e9\x01"), "1");
        ASSERT_TRUE(c.write(folder, "caf\x01,00E9\x01", "\x01,0020\x01two"));
        ASSERT_TRUE(c.write(folder, "k\x01,263a\x01", "\x01,D83D\x01\x01,DE00\x01"));
        EXPECT_EQ(file(), "caf\xC3\xA9\n\ttwo\nk\xE2\x98\xBA\n\t\xF0\x9F\x98\x80\n");
        for (CONFIG_FILE* r : {&c, &fresh}) {
            EXPECT_EQ(value_of(*r, "caf\xE9"), "two");
            EXPECT_EQ(value_of(*r, "k\x01,263A\x01"), "\x01,D83D,DE00\x01");
        }
    }
}

TEST_F(ConfigFileTest, MoreEntriesThanIdsCanNumberAreRefusedWhole)
{
    std::string many;
    for (int i = 0; i <= 0xFFFF + 1; ++i) {
        many += "k" + std::to_string(i) + "\n\tv\n";
    }
    put(many);
    CONFIG_FILE c;
    EXPECT_EQ(value_of(c, "k0"), "<4100>"); // 0x1004: never a part of the file
    EXPECT_TRUE(!c.write(folder, "k0", "changed") && current_error_code == 0x1004);
    EXPECT_EQ(file(), many);
    c.set_filename(nullptr, 0); // streaming mode holds no table: it still works
    EXPECT_EQ(value_of(c, "k65536"), "v");
}
