#include "file_system.h"
#include "file_system_catalog.h"
#include "folder.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <functional>
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

// A folder "top" in `dir` whose tree goes down `levels` levels (its own
// entries are level 1): a chain of folders "d" whose last level holds an
// empty folder "e" or a file "f". Made relative to each folder in turn.
bool make_tree(const std::string& dir, int levels, bool file_last)
{
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const char* name = "top";
    for (int level = 0; level < levels && fd >= 0; ++level, name = "d") {
        int next = mkdirat(fd, name, 0755) == 0 ? openat(fd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0) {
        return false;
    }
    int file = file_last ? openat(fd, "f", O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644) : -1;
    bool made = file_last ? file >= 0 && close(file) == 0 : mkdirat(fd, "e", 0755) == 0;
    close(fd);
    return made;
}

// The level of the deepest entry of such a tree: 0 when it is empty, -1
// when it is missing.
int deepest(const std::string& top)
{
    int fd = open(top.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int level = fd < 0 ? -1 : 0;
    struct stat st;
    while (fd >= 0 && fstatat(fd, "d", &st, 0) == 0) {
        int next = openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        close(fd);
        fd = next;
        ++level;
    }
    if (fd >= 0 && (fstatat(fd, "e", &st, 0) == 0 || fstatat(fd, "f", &st, 0) == 0)) {
        ++level;
    }
    if (fd >= 0) {
        close(fd);
    }
    return level;
}

class FileSystemDepth : public kivo_test::ScratchFolderTest
{};

bool deepest_told(const char*, const char*, INT_U32 level, bool, void* data)
{
    INT_U32& deepest_level = *static_cast<INT_U32*>(data);
    deepest_level = std::max(deepest_level, level);
    return false;
}

TEST_F(FileSystemDepth, EveryRoutineTakesTheDeepestLevelAndRefusesOneMore)
{
    const int deepest_taken = static_cast<int>(FS_WALK_MAX_LEVELS);
    // Each runs on the tree "top" of a folder; then `checked` there is
    // `after` levels deep when the tree was taken, and `refused` levels
    // deep when it was refused (-1: missing). A tree is made again only
    // once a routine has deleted it.
    const struct
    {
        const char* routine;
        std::function<INT_S32(const std::string& dir, int levels)> run;
        const char* checked;
        int after, refused;
    } routines[] = {
        {"walk",
         [](const std::string& dir, int levels) {
             INT_U32 told = 0;
             INT_S32 r = FSIterateContainer((dir + "/top").c_str(), 0, deepest_told, &told);
             EXPECT_TRUE(r != FS_OK || told == static_cast<INT_U32>(levels)) << told;
             return r;
         },
         "top", deepest_taken, deepest_taken + 1},
        {"FSCopyObject",
         [](const std::string& dir, int) {
             return FSCopyObject(dir.c_str(), "top", dir.c_str(), 0, 0, FS_DUPLICATE_FAIL, "copy", false, false,
                                 nullptr, nullptr, nullptr, 0);
         },
         "copy", deepest_taken, -1},
        {"FOLDER::copy",
         [](const std::string& dir, int) {
             // It only tells whether it copied.
             FOLDER folder;
             return folder.set_from_path_string(dir.c_str()) && folder.copy("top", folder, "folder copy") ? FS_OK
                                                                                                          : FS_IO_ERROR;
         },
         "folder copy", deepest_taken, -1},
        {"FSDeleteObjects", [](const std::string& dir, int) { return FSDeleteObjects((dir + "/top").c_str()); }, "top",
         -1, deepest_taken + 1},
        {"FSDeleteContainer", [](const std::string& dir, int) { return FSDeleteContainer((dir + "/top").c_str()); },
         "top", -1, deepest_taken + 1},
        {"FSDeleteContainerContents",
         [](const std::string& dir, int) { return FSDeleteContainerContents((dir + "/top").c_str()); }, "top", 0,
         deepest_taken + 1},
        {"fs_delete_contents_past_failures",
         [](const std::string& dir, int) { return fs_delete_contents_past_failures((dir + "/top").c_str()); }, "top", 0,
         deepest_taken + 1},
    };
    const struct
    {
        int levels;
        bool file_last;
    } trees[] = {{deepest_taken, false}, {deepest_taken, true}, {deepest_taken + 1, false}, {deepest_taken + 1, true}};
    int folders = 0;
    for (const auto& t : trees) {
        const bool taken = t.levels <= deepest_taken;
        std::string dir;
        for (const auto& r : routines) {
            if (dir.empty()) {
                dir = at(std::to_string(++folders));
                ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
                ASSERT_TRUE(make_tree(dir, t.levels, t.file_last));
            }
            const std::string what = std::string(r.routine) + (t.file_last ? " file at " : " folder at ");
            EXPECT_EQ(r.run(dir, t.levels), taken ? FS_OK : FS_IO_ERROR) << what << t.levels;
            EXPECT_EQ(deepest(dir + "/" + r.checked), taken ? r.after : r.refused) << what << t.levels;
            if (deepest(dir + "/top") != t.levels) {
                dir.clear();
            }
        }
    }
}

} // namespace
