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
    // Host names that are not UTF-8 (or are overlong) come in unchanged.
    for (const char* raw : {"\xE9t\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
        EXPECT_TRUE(fs_name_from_host(raw, out, sizeof(out)) && !std::strcmp(out, raw)) << raw;
    }
    char small[4];
    EXPECT_FALSE(fs_name_to_host("\xE9\xE9", small, sizeof(small)));
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(fs_name_to_host("\xE9", small, sizeof(small)));
    EXPECT_FALSE(fs_name_to_host(nullptr, small, sizeof(small)));
}

} // namespace
