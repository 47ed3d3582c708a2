#include "file_system.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>

namespace {

TEST(FileSystemNames, ValidNamesAndPaths)
{
    for (const char* ok : {"a", "...", ".hidden", "a b", "\xE9"})
        EXPECT_TRUE(fs_is_valid_name(ok)) << ok;
    for (const char* bad : {"", ".", "..", "a/b", "/"})
        EXPECT_FALSE(fs_is_valid_name(bad)) << bad;
    EXPECT_FALSE(fs_is_valid_name(nullptr));
    EXPECT_TRUE(fs_is_valid_name(std::string(255, 'n').c_str()));
    EXPECT_FALSE(fs_is_valid_name(std::string(256, 'n').c_str()));

    char buf[12];
    EXPECT_EQ(FSMakePath("/a", "bc", buf, sizeof(buf)), FS_OK);
    EXPECT_STREQ(buf, "/a/bc");
    EXPECT_EQ(FSMakePath("/", "bc", buf, sizeof(buf)), FS_OK);
    EXPECT_STREQ(buf, "/bc");
    EXPECT_EQ(FSMakePath("/a", nullptr, buf, sizeof(buf)), FS_OK);
    EXPECT_STREQ(buf, "/a");
    EXPECT_EQ(FSMakePath("/abcdef", "ghij", buf, sizeof(buf)), FS_BAD_NAME); // 12 bytes + NUL
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(FSMakePath(nullptr, "x", buf, sizeof(buf)), FS_BAD_ARGUMENT);
}

TEST(FileSystemNames, EightBitNamesMeetUtf8OnTheHost)
{
    struct
    {
        const char* inside;
        const char* host;
    } pairs[] = {
        {"plain.txt", "plain.txt"},
        {"caf\xE9", "caf\xC3\xA9"},
        {"\xC3\xA9", "\xC3\x83\xC2\xA9"},              // 8-bit text that looks like UTF-8
        {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE6\x97\xA5\xE6\x9C\xAC"}, // above 0xFF: as it is
        {"a\xE9/\xE6\x97\xA5", "a\xC3\xA9/\xE6\x97\xA5"}, // each part on its own
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

class FileSystemTest : public kivo_test::SandboxTest
{
};

TEST_F(FileSystemTest, NodesAndChildFolders)
{
    mkdir(path("d").c_str(), 0700);
    ASSERT_TRUE(kivo_test::write_file(path("f"), "x"));
    ASSERT_EQ(symlink("d", path("ld").c_str()), 0);
    ASSERT_EQ(symlink(".", path("self").c_str()), 0);
    INT_U64 dev = 0, node = 0, node2 = 0;
    INT_U8 is_dir = 9;
    EXPECT_EQ(FSGetNodeID(path("d").c_str(), &dev, &node, &is_dir), FS_OK);
    EXPECT_EQ(is_dir, 1);
    EXPECT_EQ(FSGetNodeID(path("missing").c_str(), &dev, &node, &is_dir), FS_NOT_FOUND);
    EXPECT_TRUE(get_child_id(dir.c_str(), "d", &node2));
    EXPECT_EQ(node2, node);
    EXPECT_TRUE(get_child_id(dir.c_str(), "ld", nullptr));
    EXPECT_FALSE(get_child_id(dir.c_str(), "self", nullptr)); // the folder itself
    EXPECT_FALSE(get_child_id(dir.c_str(), "f", nullptr));
    EXPECT_FALSE(get_child_id(dir.c_str(), "..", nullptr));
    EXPECT_EQ(fs_error_from_errno(ENOENT), FS_NOT_FOUND);
    EXPECT_EQ(fs_error_from_errno(EXDEV), FS_DIFFERENT_VOLUMES);
    EXPECT_EQ(fs_error_from_errno(EEXIST), FS_EXISTS);
}

} // namespace
