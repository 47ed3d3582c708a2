#include "file_system.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

TEST(FileSystemNames, ValidNamesAndPaths)
{
    const std::string longest(255, 'n'), too_long(256, 'n');
    for (const char* ok : {"a", "...", ".hidden", "a b", "\xE9", longest.c_str()})
        EXPECT_TRUE(fs_is_valid_name(ok)) << ok;
    for (const char* bad : {"", ".", "..", "a/b", "/", too_long.c_str()})
        EXPECT_FALSE(fs_is_valid_name(bad)) << bad;
    EXPECT_FALSE(fs_is_valid_name(nullptr));
    // A path that does not fit is "" and an error, never cut.
    const struct { const char *folder, *name; INT_S32 result; const char* path; } paths[] = {
        {"/a", "bc", FS_OK, "/a/bc"}, {"/", "bc", FS_OK, "/bc"}, {"/a", nullptr, FS_OK, "/a"},
        {"/abcdef", "ghij", FS_BAD_NAME, ""}, {nullptr, "x", FS_BAD_ARGUMENT, nullptr}};
    for (const auto& p : paths) {
        char buf[12];
        EXPECT_EQ(FSMakePath(p.folder, p.name, buf, sizeof(buf)), p.result) << p.path;
        if (p.path) {
            EXPECT_STREQ(buf, p.path);
        }
    }
}

TEST(FileSystemNames, EightBitNamesMeetUtf8OnTheHost)
{
    const struct { const char *inside, *host; } pairs[] = {
        {"plain.txt", "plain.txt"},
        {"caf\xE9", "caf\xC3\xA9"},
        {"\xC3\xA9", "\xC3\x83\xC2\xA9"},                         // 8-bit text that looks like UTF-8
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"}, // above 0xFF: as it is
        {"a\xE9/\xE6\x97\xA5", "a\xC3\xA9/\xE6\x97\xA5"},         // each part on its own
        {"", ""},
    };
    char out[64];
    for (const auto& p : pairs) {
        ASSERT_TRUE(fs_name_to_host(p.inside, out, sizeof(out))) << p.inside;
        EXPECT_STREQ(out, p.host);
        ASSERT_TRUE(fs_name_from_host(p.host, out, sizeof(out))) << p.host;
        EXPECT_STREQ(out, p.inside);
    }
    // Host names that are not UTF-8 (or are overlong) come in unchanged.
    for (const char* raw : {"\xE9t\xE9", "\xC0\xAF", "\xED\xA0\x80", "\xF8\x88\x80\x80\x80"}) {
        ASSERT_TRUE(fs_name_from_host(raw, out, sizeof(out)));
        EXPECT_STREQ(out, raw);
    }
    char small[4];
    EXPECT_FALSE(fs_name_to_host("\xE9\xE9", small, sizeof(small)));
    EXPECT_STREQ(small, "");
    EXPECT_TRUE(fs_name_to_host("\xE9", small, sizeof(small)));
    EXPECT_FALSE(fs_name_to_host(nullptr, small, sizeof(small)));
}

using FileSystemTest = kivo_test::SandboxTest;

TEST_F(FileSystemTest, NodesAndChildFolders)
{
    mkdir(path("d").c_str(), 0700);
    ASSERT_TRUE(kivo_test::write_file(path("f"), "x"));
    ASSERT_EQ(symlink("d", path("ld").c_str()), 0);
    ASSERT_EQ(symlink(".", path("self").c_str()), 0);
    INT_U64 dev = 0, node = 0, child = 0;
    INT_U8 is_dir = 9;
    EXPECT_EQ(FSGetNodeID(path("d").c_str(), &dev, &node, &is_dir), FS_OK);
    EXPECT_EQ(is_dir, 1);
    EXPECT_EQ(FSGetNodeID(path("missing").c_str(), &dev, &node, &is_dir), FS_NOT_FOUND);
    EXPECT_TRUE(get_child_id(dir.c_str(), "d", &child));
    EXPECT_EQ(child, node);
    EXPECT_TRUE(get_child_id(dir.c_str(), "ld", nullptr));
    for (const char* not_child : {"self", "f", ".."}) // the folder itself, a file, the parent
        EXPECT_FALSE(get_child_id(dir.c_str(), not_child, nullptr)) << not_child;
}

} // namespace
