#include "folder.h"

#include "file_system.h"
#include "folder_fixture.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;

class FolderFilesTest : public kivo_test::WorkFolderTest
{
protected:
    std::vector<std::string> list(FOLDER& f, const char* filter, INT_U8 hidden, FOLDER_FILTER_TYPE type,
                                  INT_U8 filter_dirs)
    {
        std::vector<std::string> names;
        FOLDER_CONTENTS_LIST* h = f.start_contents_list(filter, hidden, type, filter_dirs);
        EXPECT_NE(h, nullptr);
        FOLDER_CONTENT_ENTRY e;
        while (FOLDER::get_contents_list_entry(h, e)) {
            EXPECT_EQ(e.folder, &f);
            names.push_back(std::string(e.name) + (e.is_directory ? "/" : ""));
        }
        FOLDER::stop_contents_list(h);
        return names;
    }
};

TEST_F(FolderFilesTest, OpenFileCreatesOnlyForWritingModes)
{
    EXPECT_EQ(here.open_file("missing", "rb"), nullptr);
    EXPECT_FALSE(exists(work + "/missing"));
    EXPECT_EQ(here.open_file("missing", "a"), nullptr);
    for (const char* mode : {"r+b", "wb", "w"}) {
        std::string name = std::string("made_") + mode;
        FILE* fp = here.open_file(name.c_str(), mode);
        ASSERT_NE(fp, nullptr) << mode;
        here.close_file(fp);
        EXPECT_EQ(read_file(work + "/" + name), "");
    }
    ASSERT_TRUE(write_file(work + "/keep", "abc"));
    FILE* fp = here.open_file("keep", "r+b");
    ASSERT_NE(fp, nullptr);
    here.close_file(fp);
    EXPECT_EQ(read_file(work + "/keep"), "abc");

    // Named pipes would block the open until the other end shows up.
    ASSERT_EQ(mkfifo((work + "/pipe").c_str(), 0600), 0);
    for (const char* mode : {"rb", "r+b", "wb", "a"})
        EXPECT_EQ(here.open_file("pipe", mode), nullptr) << mode;

    mkdirs(work + "/dir");
    for (const char* bad : {"", ".", "..", "dir", "../keep", "dir/x"})
        EXPECT_EQ(here.open_file(bad, "wb"), nullptr) << bad;
    EXPECT_EQ(here.open_file(nullptr, "rb"), nullptr);
    EXPECT_EQ(here.open_file("keep", nullptr), nullptr);
    EXPECT_FALSE(exists(work + "/dir/x"));
    here.close_file(nullptr);
}

TEST_F(FolderFilesTest, EntryInformationAndNames)
{
    ASSERT_TRUE(write_file(work + "/f.txt", std::string(1536, 'x')));
    mkdirs(work + "/sub");
    ASSERT_EQ(symlink("f.txt", (work + "/link").c_str()), 0);
    ASSERT_TRUE(write_file(work + "/.hidden", ""));

    EXPECT_TRUE(here.file_exists("f.txt"));
    EXPECT_TRUE(here.file_exists("sub"));
    EXPECT_FALSE(here.file_exists("nope"));
    EXPECT_TRUE(here.file_exists("nope", 1));
    EXPECT_FALSE(here.file_exists(nullptr));

    FOLDER_FILE_SETTINGS s;
    ASSERT_TRUE(here.get_file_settings("f.txt", s));
    EXPECT_EQ(s.size, 1536u);
    EXPECT_EQ(s.is_directory, 0);
    EXPECT_STREQ(s.get_size_string(), "1.5 k");
    ASSERT_TRUE(here.set_file_permissions("f.txt", 0640));
    ASSERT_TRUE(here.get_file_settings("f.txt", s));
    EXPECT_EQ(s.mode & 07777, 0640);
    EXPECT_TRUE(S_ISREG(s.mode));
    ASSERT_TRUE(here.get_file_settings("sub", s));
    EXPECT_EQ(s.is_directory, 1);
    ASSERT_TRUE(here.get_file_settings(".hidden", s));
    EXPECT_EQ(s.is_hidden, 1);
    ASSERT_TRUE(here.get_file_settings("link", s));
    EXPECT_EQ(s.size, 1536u);
    EXPECT_FALSE(here.get_file_settings("nope", s));
    EXPECT_FALSE(here.set_file_permissions("nope", 0600));

    struct
    {
        INT_U32 size;
        const char* text;
    } sizes[] = {{0, "0.0 b"},           {1024, "1024.0 b"},       {1025, "1.0 k"},
                 {1048576, "1024.0 k"}, {3u << 20, "3.0 M"},     {3u << 30, "3.0 G"},
                 {0xFFFFFFFFu, "4.0 G"}};
    for (const auto& c : sizes) {
        s.size = c.size;
        EXPECT_STREQ(s.get_size_string(), c.text) << c.size;
    }
    s.modified = 0;
    std::string t = s.get_modtime_string();
    EXPECT_FALSE(t.empty());
    EXPECT_EQ(t.find('\n'), std::string::npos);

    char out[16];
    EXPECT_FALSE(here.get_unique_name(out, 10, ".tmp"));
    EXPECT_FALSE(here.get_unique_name(nullptr, 16, ".tmp"));
    EXPECT_FALSE(here.get_unique_name(out, 16, nullptr));
    EXPECT_FALSE(here.get_unique_name(out, 16, "/x")); // no usable entry name
    char wide[300];
    EXPECT_FALSE(here.get_unique_name(wide, sizeof(wide), std::string(250, 's').c_str()));
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_ms(0xABC);
    ASSERT_TRUE(write_file(work + "/00000ABC.tmp", ""));
    mkdirs(work + "/00000ABD.tmp");
    ASSERT_EQ(symlink("gone", (work + "/00000ABE.tmp").c_str()), 0);
    EXPECT_TRUE(here.get_unique_name(out, 16, ".tmp"));
    kivo_fake_clock_enable(0);
    EXPECT_STREQ(out, "00000ABF.tmp");
}

TEST_F(FolderFilesTest, CopyFilesAndTrees)
{
    mkdirs(work + "/src/inner/.deep");
    ASSERT_TRUE(write_file(work + "/src/a.bin", std::string("\0\1\2payload", 10)));
    ASSERT_TRUE(write_file(work + "/src/inner/.deep/h", "hidden"));
    ASSERT_EQ(symlink("../a.bin", (work + "/src/inner/rel").c_str()), 0);
    ASSERT_EQ(symlink("/nonexistent/target", (work + "/src/dangling").c_str()), 0);
    chmod((work + "/src/a.bin").c_str(), 0604);
    struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
    utimensat(AT_FDCWD, (work + "/src/a.bin").c_str(), old_times, 0);
    mkdirs(work + "/dest");
    FOLDER dest("$HERE/dest", 0, &here);

    EXPECT_TRUE(here.copy("src", dest, nullptr));
    std::string c = work + "/dest/src";
    EXPECT_EQ(read_file(c + "/a.bin"), std::string("\0\1\2payload", 10));
    EXPECT_EQ(read_file(c + "/inner/.deep/h"), "hidden");
    char target[256] = "";
    ASSERT_GT(readlink((c + "/inner/rel").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "../a.bin"); // links are copied as links
    EXPECT_TRUE(exists(c + "/dangling"));
    struct stat st;
    ASSERT_EQ(stat((c + "/a.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_mtime, 1000000);

    // Renamed copy of a file; a copy onto an existing name replaces it.
    EXPECT_TRUE(here.copy("src", dest, "renamed"));
    ASSERT_TRUE(write_file(work + "/dest/one", "old contents"));
    ASSERT_TRUE(write_file(work + "/one", "new"));
    EXPECT_TRUE(here.copy("one", dest, nullptr));
    EXPECT_EQ(read_file(work + "/dest/one"), "new");
    // A folder replaced by a file.
    EXPECT_TRUE(here.copy("one", dest, "renamed"));
    EXPECT_EQ(read_file(work + "/dest/renamed"), "new");

    // Never into itself or below itself; nothing is left behind.
    FOLDER src("$HERE/src", 0, &here), inner("$HERE/src/inner", 0, &here);
    EXPECT_FALSE(here.copy("src", src, "again"));
    EXPECT_FALSE(here.copy("src", inner, nullptr));
    EXPECT_FALSE(exists(work + "/src/again"));
    EXPECT_FALSE(exists(work + "/src/inner/src"));
    EXPECT_EQ(FSCopyObject(work.c_str(), "src", (work + "/src/inner").c_str(), nullptr, FS_DUPLICATE_FAIL),
              FS_INSIDE_SOURCE);
    EXPECT_FALSE(here.copy("one", here, nullptr)); // onto itself
    EXPECT_EQ(read_file(work + "/one"), "new");
    EXPECT_FALSE(here.copy("missing", dest, nullptr));
    EXPECT_FALSE(here.copy("one", dest, "bad/name"));
    EXPECT_FALSE(here.copy("one", dest, std::string(256, 'n').c_str()));
    EXPECT_EQ(FSCopyObject(work.c_str(), "one", (work + "/one").c_str(), nullptr, 0), FS_DEST_NOT_FOLDER);
}

TEST_F(FolderFilesTest, FailedReplaceGivesTheOldEntryBack)
{
    // A pipe deep in the tree cannot be copied, so the copy fails late.
    mkdirs(work + "/tree/a");
    ASSERT_TRUE(write_file(work + "/tree/a/first", "1"));
    ASSERT_EQ(mkfifo((work + "/tree/a/zz_pipe").c_str(), 0600), 0);
    mkdirs(work + "/dest/tree");
    ASSERT_TRUE(write_file(work + "/dest/tree/mine", "keep me"));
    FOLDER dest("$HERE/dest", 0, &here);
    EXPECT_FALSE(here.copy("tree", dest, nullptr));
    EXPECT_EQ(read_file(work + "/dest/tree/mine"), "keep me");
    EXPECT_EQ(list(dest, nullptr, 1, fft_ends_with, 0), std::vector<std::string>{"tree/"});
    EXPECT_FALSE(here.copy("tree", dest, "fresh"));
    EXPECT_FALSE(exists(work + "/dest/fresh"));
}

TEST_F(FolderFilesTest, UnreadableSourceFailsCleanly)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    mkdirs(work + "/tree");
    ASSERT_TRUE(write_file(work + "/tree/secret", "s"));
    chmod((work + "/tree/secret").c_str(), 0);
    mkdirs(work + "/dest");
    FOLDER dest("$HERE/dest", 0, &here);
    EXPECT_FALSE(here.copy("tree", dest, nullptr));
    EXPECT_FALSE(exists(work + "/dest/tree"));
    EXPECT_EQ(here.open_file("tree", "rb"), nullptr);
    chmod((work + "/tree/secret").c_str(), 0600);
}

TEST_F(FolderFilesTest, MoveNeverReplaces)
{
    mkdirs(work + "/a/sub");
    mkdirs(work + "/b");
    ASSERT_TRUE(write_file(work + "/a/f", "first"));
    ASSERT_TRUE(write_file(work + "/b/f", "second"));
    FOLDER a("$HERE/a", 0, &here), b("$HERE/b", 0, &here);

    EXPECT_FALSE(a.move("f", b, nullptr));
    EXPECT_EQ(read_file(work + "/a/f"), "first");
    EXPECT_EQ(read_file(work + "/b/f"), "second");
    EXPECT_TRUE(a.move("f", b, "g"));
    EXPECT_EQ(read_file(work + "/b/g"), "first");
    EXPECT_FALSE(exists(work + "/a/f"));
    EXPECT_TRUE(b.move("g", b, "h")); // rename in place
    EXPECT_EQ(read_file(work + "/b/h"), "first");
    EXPECT_TRUE(b.move("h", b, nullptr)); // already there
    EXPECT_TRUE(b.move("h", b, ""));
    EXPECT_EQ(read_file(work + "/b/h"), "first");
    EXPECT_FALSE(b.move("h", b, "f")); // taken
    EXPECT_TRUE(here.move("a", b, nullptr));
    EXPECT_TRUE(is_dir(work + "/b/a/sub"));
    FOLDER sub("$HERE/b/a/sub", 0, &here);
    FOLDER bb("$HERE/b", 0, &here);
    EXPECT_FALSE(bb.move("a", sub, nullptr)); // into itself
    EXPECT_FALSE(bb.move("missing", sub, nullptr));
    EXPECT_FALSE(bb.move("h", sub, "x/y"));
    EXPECT_EQ(FSMoveRenameObjectUnicode(work.c_str(), "b", (work + "/b/h").c_str(), nullptr), FS_NOT_A_DIRECTORY);
}

TEST_F(FolderFilesTest, RemovalsStayInsideTheTree)
{
    std::string outside = path("outside");
    mkdirs(outside + "/keep");
    ASSERT_TRUE(write_file(outside + "/keep/file", "precious"));
    mkdirs(work + "/t/a/b/.hid");
    ASSERT_TRUE(write_file(work + "/t/.dot", ""));
    ASSERT_TRUE(write_file(work + "/t/a/b/.hid/x", "x"));
    ASSERT_EQ(symlink(outside.c_str(), (work + "/t/a/out").c_str()), 0);
    ASSERT_EQ(symlink((outside + "/keep/file").c_str(), (work + "/t/filelink").c_str()), 0);
    mkdirs(work + "/t/ro/inner");
    ASSERT_TRUE(write_file(work + "/t/ro/inner/f", ""));
    chmod((work + "/t/ro").c_str(), 0500);
    ASSERT_EQ(symlink(outside.c_str(), (work + "/dirlink").c_str()), 0);

    EXPECT_FALSE(here.remove_directory("t"));             // not empty
    EXPECT_FALSE(here.remove_directory("dirlink", 1));    // a link is not a folder
    EXPECT_FALSE(here.remove_directory_contents("dirlink"));
    EXPECT_FALSE(here.remove_directory_contents("missing"));
    EXPECT_FALSE(here.remove_directory(nullptr, 1));
    EXPECT_TRUE(is_dir(outside + "/keep"));
    EXPECT_TRUE(here.remove_directory("t", 1));
    EXPECT_FALSE(exists(work + "/t"));
    EXPECT_EQ(read_file(outside + "/keep/file"), "precious");

    EXPECT_TRUE(here.remove("dirlink"));
    EXPECT_TRUE(is_dir(outside + "/keep"));
    ASSERT_TRUE(write_file(work + "/f", ""));
    mkdirs(work + "/empty");
    EXPECT_TRUE(here.remove("f"));
    EXPECT_TRUE(here.remove("empty"));
    EXPECT_FALSE(here.remove("f"));
    EXPECT_FALSE(here.remove("../outside"));

    // The folder's own contents (null name).
    mkdirs(work + "/x/y");
    ASSERT_TRUE(write_file(work + "/z", ""));
    EXPECT_TRUE(here.remove_directory_contents(nullptr));
    EXPECT_EQ(list(here, nullptr, 1, fft_ends_with, 0).size(), 0u);
    EXPECT_TRUE(is_dir(work));

    // Deleting through a path that is a link removes only the link.
    ASSERT_EQ(symlink(outside.c_str(), (work + "/l2").c_str()), 0);
    EXPECT_EQ(FSDeleteObjects((work + "/l2").c_str()), FS_OK);
    EXPECT_EQ(FSDeleteContainerContents(outside.c_str()), FS_OK);
    EXPECT_FALSE(exists(outside + "/keep"));
}

TEST_F(FolderFilesTest, ContentsListsFilterAndSort)
{
    for (const char* f : {"b.ttf", "A.TTF", "a.ttf", "c.txt", ".h.ttf", "B.ttf"})
        ASSERT_TRUE(write_file(work + "/" + f, "x"));
    mkdirs(work + "/dir");
    mkdirs(work + "/.hdir");
    ASSERT_EQ(symlink("dir", (work + "/zlink").c_str()), 0);

    using V = std::vector<std::string>;
    EXPECT_EQ(list(here, nullptr, 0, fft_ends_with, 0), (V{"A.TTF", "a.ttf", "B.ttf", "b.ttf", "c.txt", "dir/", "zlink"}));
    EXPECT_EQ(list(here, "", 1, fft_equals, 1),
              (V{".h.ttf", ".hdir/", "A.TTF", "a.ttf", "B.ttf", "b.ttf", "c.txt", "dir/", "zlink"}));
    EXPECT_EQ(list(here, ".ttf", 1, fft_ends_with, 0), (V{".h.ttf", ".hdir/", "a.ttf", "B.ttf", "b.ttf", "dir/"}));
    EXPECT_EQ(list(here, ".ttf", 0, fft_ends_with_nocase, 1), (V{"A.TTF", "a.ttf", "B.ttf", "b.ttf"}));
    EXPECT_EQ(list(here, ".ttf", 0, static_cast<FOLDER_FILTER_TYPE>(42), 1), (V{"a.ttf", "B.ttf", "b.ttf"}));
    EXPECT_EQ(list(here, "a", 0, fft_starts_with, 1), (V{"a.ttf"}));
    EXPECT_EQ(list(here, "a", 0, fft_starts_with_nocase, 1), (V{"A.TTF", "a.ttf"}));
    EXPECT_EQ(list(here, "t", 0, fft_contains, 1), (V{"a.ttf", "B.ttf", "b.ttf", "c.txt"}));
    EXPECT_EQ(list(here, "T", 0, fft_contains_nocase, 1), (V{"A.TTF", "a.ttf", "B.ttf", "b.ttf", "c.txt"}));
    EXPECT_EQ(list(here, "b.ttf", 0, fft_equals, 1), (V{"b.ttf"}));
    EXPECT_EQ(list(here, "b.ttf", 0, fft_equals_nocase, 1), (V{"B.ttf", "b.ttf"}));
    EXPECT_EQ(list(here, "a.ttf.longer", 0, fft_ends_with, 1), V{});
    // Longer than any name can be: nothing matches, not even its first part.
    std::string name255(255, 'n');
    ASSERT_TRUE(write_file(work + "/" + name255, "x"));
    for (FOLDER_FILTER_TYPE t : {fft_equals, fft_starts_with, fft_contains})
        EXPECT_EQ(list(here, (name255 + "n").c_str(), 0, t, 0), V{"dir/"}) << t;
    EXPECT_EQ(list(here, name255.c_str(), 0, fft_equals, 1), V{name255});
    unlink((work + "/" + name255).c_str());

    FOLDER_CONTENTS_LIST* h = here.start_contents_list(nullptr, 0, fft_ends_with, 0);
    FOLDER_CONTENT_ENTRY e;
    ASSERT_TRUE(FOLDER::get_contents_list_entry(h, e));
    EXPECT_STREQ(e.name, "A.TTF");
    EXPECT_EQ(e.size, 1u);
    EXPECT_TRUE(S_ISREG(e.mode));
    EXPECT_GT(e.modified, 0u);
    FOLDER::stop_contents_list(h);
    EXPECT_FALSE(FOLDER::get_contents_list_entry(nullptr, e));
    FOLDER::stop_contents_list(nullptr);

    FOLDER gone{"$APP"};
    ASSERT_TRUE(gone.set_from_path_string((work + "/dir").c_str()));
    rmdir((work + "/dir").c_str());
    EXPECT_EQ(gone.start_contents_list(nullptr, 0, fft_ends_with, 0), nullptr);
}

TEST_F(FolderFilesTest, DirectoryListsGrowAndAppend)
{
    for (int i = 0; i < 23; ++i)
        ASSERT_TRUE(write_file(work + "/f" + std::to_string(100 + i) + ".png", ""));
    mkdirs(work + "/d1");
    mkdirs(work + "/d2");
    ASSERT_TRUE(write_file(work + "/.hidden.png", ""));
    chmod((work + "/f100.png").c_str(), 0444);

    FOLDER_FILE_INFO* files = nullptr;
    long count = 0;
    here.get_dir_list(0, 0, 0, files, count, ".png", fft_ends_with, 0, 1);
    ASSERT_EQ(count, 23);
    EXPECT_STREQ(files[0].name, "f100.png");
    EXPECT_EQ(files[0].read_only, 1);
    EXPECT_EQ(files[1].read_only, 0);
    EXPECT_STREQ(files[22].name, "f122.png");
    EXPECT_TRUE(files[22].folder == here);
    here.get_dir_list(1, 0, 1, files, count);
    ASSERT_EQ(count, 25);
    EXPECT_STREQ(files[23].name, "d1");
    EXPECT_EQ(files[24].is_directory, 1);
    EXPECT_STREQ(files[0].name, "f100.png");
    FOLDER::free_list(files);
    EXPECT_EQ(files, nullptr);
    FOLDER::free_list(files);

    here.get_dir_list(0, 1, 0, files, count, "hidden", fft_contains);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(files[0].is_hidden, 1);
    FOLDER::free_list(files);
}

TEST_F(FolderFilesTest, EightBitNamesAreUtf8OnDisk)
{
    ASSERT_TRUE(write_file(work + "/caf\xC3\xA9.txt", "menu"));
    mkdirs(work + "/\xC3\x9C" "ber");
    mkdirs(work + "/\xE6\x97\xA5");
    EXPECT_EQ(list(here, nullptr, 0, fft_ends_with, 0),
              (std::vector<std::string>{"caf\xE9.txt", "\xDC" "ber/", "\xE6\x97\xA5/"}));
    FILE* fp = here.open_file("caf\xE9.txt", "rb");
    ASSERT_NE(fp, nullptr);
    here.close_file(fp);
    EXPECT_TRUE(here.copy("caf\xE9.txt", here, "na\xEFve"));
    EXPECT_EQ(read_file(work + "/na\xC3\xAFve"), "menu");
    EXPECT_EQ(std::string(here.get_path_string("\xE9")), real(work) + "/\xC3\xA9");

    char out[2048];
    for (const char* name : {"\xDC" "ber", "\xE6\x97\xA5"}) {
        FOLDER f(here);
        ASSERT_TRUE(f.move_down(name)) << name;
        EXPECT_STREQ(f.get_directory_name(), name);
        ASSERT_TRUE(f.get(out));
        EXPECT_EQ(std::string(out).substr(std::string(out).size() - std::strlen(name)), name);
        FOLDER back(out);
        EXPECT_TRUE(back == f) << out;
        ASSERT_TRUE(here.get_path_to(f, out));
        EXPECT_EQ(std::string(out), std::string("$HERE/") + name + "/");
    }
}

} // namespace
