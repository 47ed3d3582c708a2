#include "file_system.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

TEST(FileSystemNames, ValidNamesPathsAndEightBitNamesOnTheHost)
{
    const std::string longest(255, 'n'), too_long(256, 'n');
    for (const char* ok : {"a", "...", ".hidden", "a b", "\xE9", longest.c_str()}) {
        EXPECT_TRUE(fs_is_valid_name(ok)) << ok;
    }
    for (const char* bad : {"", ".", "..", "a/b", "/", too_long.c_str(), static_cast<const char*>(nullptr)}) {
        EXPECT_FALSE(fs_is_valid_name(bad)) << bad;
    }
    // A path that does not fit is "" and an error, never cut.
    const struct
    {
        const char *folder, *name;
        INT_S32 result;
        const char* path;
    } paths[] = {{"/a", "bc", FS_OK, "/a/bc"},
                 {"/", "bc", FS_OK, "/bc"},
                 {"/a", nullptr, FS_OK, "/a"},
                 {"/abcdef", "ghij", FS_BAD_NAME, ""},
                 {nullptr, "x", FS_BAD_ARGUMENT, "?"}};
    for (const auto& p : paths) {
        char buf[12] = "?";
        EXPECT_EQ(FSMakePath(p.folder, p.name, buf, sizeof(buf)), p.result) << p.path;
        EXPECT_STREQ(buf, p.path);
    }
    // Names are 8-bit inside and UTF-8 on the host, each part on its own.
    const struct
    {
        const char *inside, *host;
    } pairs[] = {
        {"caf\xE9", "caf\xC3\xA9"},
        {"\xC3\xA9", "\xC3\x83\xC2\xA9"},                         // 8-bit text that looks like UTF-8
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"}, // above 0xFF: as it is
        {"a\xE9/\xE6\x97\xA5", "a\xC3\xA9/\xE6\x97\xA5"},
        {"", ""},
    };
    char out[64];
    for (const auto& p : pairs) {
        EXPECT_TRUE(fs_name_to_host(p.inside, out, sizeof(out)) && !std::strcmp(out, p.host)) << p.inside;
        EXPECT_TRUE(fs_name_from_host(p.host, out, sizeof(out)) && !std::strcmp(out, p.inside)) << p.host;
    }
    // Host bytes that are not text (not UTF-8, overlong, a surrogate, the
    // run marker 0x01, or UTF-8 whose 8-bit form would read as UTF-8 above
    // 0xFF) come in as runs of raw bytes, and every host name goes back as
    // it was; other 8-bit text next to them stays text.
    const struct
    {
        const char *host, *inside;
    } raw[] = {
        {"\xE9t\xE9", "\x01,DCE9\x01t\x01,DCE9\x01"},
        {"\xC0\xAF", "\x01,DCC0,DCAF\x01"},
        {"\xED\xA0\x80", "\x01,DCED,DCA0,DC80\x01"},
        {"\xF8\x88\x80\x80\x80/caf\xC3\xA9\xFF", "\x01,DCF8,DC88,DC80,DC80,DC80\x01/caf\xE9\x01,DCFF\x01"},
        {"a\x01,DC41\x01", "a\x01,DC01\x01,DC41\x01,DC01\x01"},
        {"\xE6\x97\xA5\x01", "\x01,DCE6,DC97,DCA5,DC01\x01"},
        {"\xC3\x84\xC2\xA9", "\x01,DCC3,DC84,DCC2,DCA9\x01"},
    };
    for (const auto& r : raw) {
        EXPECT_TRUE(fs_name_from_host(r.host, out, sizeof(out)) && !std::strcmp(out, r.inside)) << r.host;
        EXPECT_TRUE(fs_name_to_host(r.inside, out, sizeof(out)) && !std::strcmp(out, r.host)) << r.host;
    }
    // Names made inside that only look like runs stay 8-bit text: a group
    // of a character, of a byte never kept raw, cut short, or unclosed.
    for (const char* inside : {"\x01,263A\x01", "\x01,DC41\x01", "\x01,DCF\x01", "\x01,DCFF", "\x01\x01"}) {
        EXPECT_TRUE(fs_name_to_host(inside, out, sizeof(out)) && !std::strcmp(out, inside)) << inside + 1;
    }
    char small[4];
    EXPECT_FALSE(fs_name_to_host("\xE9\xE9", small, sizeof(small)));
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(fs_name_to_host("\xE9", small, sizeof(small)));
    EXPECT_FALSE(fs_name_to_host(nullptr, small, sizeof(small)));
}

} // namespace
