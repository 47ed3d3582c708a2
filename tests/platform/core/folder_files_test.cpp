#include "folder.h"

#include "child_process.h"
#include "data_file.h"
#include "file_system.h"
#include "folder_fixture.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>

#include <string>
#include <vector>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;
using V = std::vector<std::string>;

class FolderFilesTest : public kivo_test::WorkFolderTest
{
protected:
    // Names in a contents list, folders marked with a trailing '/'.
    V list(FOLDER& f, const char* filter = nullptr, INT_U8 hidden = 1, FOLDER_FILTER_TYPE type = fft_ends_with,
           INT_U8 filter_dirs = 0)
    {
        V names;
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

TEST_F(FolderFilesTest, FilesAndDataFilesOpenOnlyWhatTheyShould)
{
    ASSERT_TRUE(write_file(work + "/keep", "abc"));
    for (const char* name : {"made", "keep"}) { // "r+" creates, and keeps what is there
        FILE* fp = here.open_file(name, "r+b");
        ASSERT_NE(fp, nullptr) << name;
        here.close_file(fp);
    }
    EXPECT_EQ(read_file(work + "/keep"), "abc");
    // Named pipes would block the open until the other end shows up.
    mkdirs(work + "/dir");
    ASSERT_EQ(mkfifo((work + "/pipe").c_str(), 0600), 0);
    for (const char* mode : {"rb", "r+b", "wb", "a"}) {
        EXPECT_EQ(here.open_file("pipe", mode), nullptr) << mode;
    }
    for (const char* bad : {"", ".", "..", "dir", "../keep", "dir/x", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(here.open_file(bad, "wb"), nullptr) << bad;
    }
    EXPECT_FALSE(here.open_file("missing", "rb") || here.open_file("missing", "a") || here.open_file("keep", nullptr));
    EXPECT_FALSE(here.open_data_file("missing", fm_read, -1) || here.open_data_file("pipe", fm_read, -1) ||
                 here.open_data_file("", fm_write, -1) || here.open_data_file("../escape", fm_write, -1) ||
                 here.open_data_file("x", static_cast<FILE_MODE>(3), -1));
    EXPECT_FALSE(exists(work + "/missing") || exists(work + "/dir/x") || exists(work + "/x") || exists(path("escape")));
    // Data files: closed once, written compressed when asked.
    DATA_FILE* f = here.open_data_file("z.gz", fm_write, -1, 1);
    ASSERT_TRUE(f && put_string(*f, "packed text"));
    here.close(f);
    here.close(f); // harmless: the first one set it to null
    EXPECT_EQ(read_file(work + "/z.gz").substr(0, 2), "\x1f\x8b");
    EXPECT_FALSE(here.open_data_file("z.gz", fm_update, -1, 1));
    DATA_FILE file(1024);
    EXPECT_FALSE(here.open_data_file("a", fm_write, 0, nullptr, 0));
    ASSERT_TRUE(here.open_data_file("a", fm_write, 0, &file, 0));
    EXPECT_FALSE(here.open_data_file("b", fm_write, 0, &file, 0) || exists(work + "/b")); // already open
    ASSERT_TRUE(put_u16(file, 0xBEEF) && file.close());
    EXPECT_EQ(read_file(work + "/a"), "\xEF\xBE");
}

TEST_F(FolderFilesTest, EntryInformationAndNames)
{
    ASSERT_TRUE(write_file(work + "/f.txt", std::string(1536, 'x')));
    mkdirs(work + "/sub");
    link("f.txt", work + "/link");
    EXPECT_TRUE(here.file_exists("sub") && here.file_exists("nope", 1));
    EXPECT_FALSE(here.file_exists("nope") || here.file_exists(nullptr));
    FOLDER_FILE_SETTINGS s;
    ASSERT_TRUE(here.set_file_permissions("f.txt", 0640) && here.get_file_settings("f.txt", s));
    EXPECT_TRUE(s.mode == (S_IFREG | 0640) && s.is_directory == 0);
    EXPECT_TRUE(here.get_file_settings("link", s) && s.size == 1536u); // the size of the file linked to
    EXPECT_FALSE(here.get_file_settings("nope", s) || here.set_file_permissions("nope", 0600));
    const struct
    {
        INT_U32 size;
        const char* text;
    } sizes[] = {{1024, "1024.0 b"}, {1025, "1.0 k"}, {3u << 20, "3.0 M"}, {0xFFFFFFFFu, "4.0 G"}};
    for (const auto& c : sizes) {
        s.size = c.size;
        EXPECT_STREQ(s.get_size_string(), c.text) << c.size;
    }
    // Unique names: refused when no usable entry name can come out; taken
    // names (any entry, even a dangling link) are passed over.
    char out[16], wide[300];
    EXPECT_FALSE(here.get_unique_name(out, 10, ".tmp") || here.get_unique_name(nullptr, 16, ".tmp") ||
                 here.get_unique_name(out, 16, nullptr) || here.get_unique_name(out, 16, "/x") ||
                 here.get_unique_name(wide, sizeof(wide), std::string(250, 's').c_str()));
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_ms(0xABC);
    ASSERT_TRUE(write_file(work + "/00000ABC.tmp", ""));
    mkdirs(work + "/00000ABD.tmp");
    link("gone", work + "/00000ABE.tmp");
    EXPECT_TRUE(here.get_unique_name(out, 16, ".tmp"));
    kivo_fake_clock_enable(0);
    EXPECT_STREQ(out, "00000ABF.tmp");
}

TEST_F(FolderFilesTest, CopyFilesAndTreesAndGiveBackWhatAFailedCopyReplaced)
{
    const std::string bytes("\0\1\2payload", 10), a_bin = work + "/src/a.bin", c = work + "/dest/src";
    const struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
    mkdirs({work + "/src/inner/.deep", work + "/dest"});
    ASSERT_TRUE(write_file(a_bin, bytes) && write_file(work + "/src/inner/.deep/h", "hidden"));
    ASSERT_EQ(chmod(a_bin.c_str(), 0604) | utimensat(AT_FDCWD, a_bin.c_str(), old_times, 0), 0);
    link("../a.bin", work + "/src/inner/rel");
    link("/nonexistent/target", work + "/src/dangling");
    FOLDER dest("$HERE/dest", 0, &here);
    // Contents, hidden entries, links as links, mode and time.
    EXPECT_TRUE(here.copy("src", dest, nullptr));
    EXPECT_EQ(read_file(c + "/a.bin") + read_file(c + "/inner/.deep/h"), bytes + "hidden");
    char target[256] = "";
    EXPECT_GT(readlink((c + "/inner/rel").c_str(), target, sizeof(target) - 1), 0);
    EXPECT_STREQ(target, "../a.bin");
    EXPECT_EQ(kind(c + "/dangling"), unsigned(S_IFLNK));
    struct stat st;
    EXPECT_TRUE(stat((c + "/a.bin").c_str(), &st) == 0 && st.st_mtime == 1000000 && (st.st_mode & 07777) == 0604);
    // A copy onto an existing name replaces it, a folder by a file too.
    ASSERT_TRUE(write_file(work + "/dest/one", "old contents") && write_file(work + "/one", "new"));
    EXPECT_TRUE(here.copy("src", dest, "renamed") && here.copy("one", dest, nullptr) &&
                here.copy("one", dest, "renamed"));
    EXPECT_EQ(read_file(work + "/dest/one") + read_file(work + "/dest/renamed"), "newnew");
    // Never into or below itself (refused before it starts), nor onto itself;
    // nothing is left behind.
    FOLDER src("$HERE/src", 0, &here);
    EXPECT_FALSE(here.copy("src", src, "again"));
    EXPECT_EQ(FSCopyObject(work.c_str(), "src", (work + "/src/inner").c_str(), 0, 0, FS_DUPLICATE_REPLACE, nullptr,
                           false, false, nullptr, nullptr, nullptr, 0),
              FS_INSIDE_SOURCE);
    EXPECT_FALSE(exists(work + "/src/again") || exists(work + "/src/inner/src"));
    EXPECT_FALSE(here.copy("one", here, nullptr));
    EXPECT_EQ(read_file(work + "/one"), "new");
    for (const std::string& bad : {std::string("bad/name"), std::string(256, 'n')}) {
        EXPECT_FALSE(here.copy("one", dest, bad.c_str())) << bad;
    }
    EXPECT_FALSE(here.copy("missing", dest, nullptr));
    // A pipe deep in the tree cannot be copied, so the copy fails late and
    // gives the entry it was replacing back.
    mkdirs({work + "/tree/a", work + "/dest/tree"});
    ASSERT_TRUE(write_file(work + "/tree/a/first", "1") && write_file(work + "/dest/tree/mine", "keep me"));
    ASSERT_EQ(mkfifo((work + "/tree/a/zz_pipe").c_str(), 0600), 0);
    EXPECT_FALSE(here.copy("tree", dest, nullptr) || here.copy("tree", dest, "fresh"));
    EXPECT_EQ(read_file(work + "/dest/tree/mine"), "keep me");
    EXPECT_EQ(list(dest), (V{"one", "renamed", "src/", "tree/"}));
}

// The copy runs in a child that is stopped part-way while its destination
// folder is deleted; a child that finished first proves nothing, so the
// race is run again.
TEST_F(FolderFilesTest, ACopyWhoseDestinationVanishesFails)
{
    ASSERT_TRUE(write_file(work + "/big", std::string(32 << 20, 'b')));
    int outcome = -2;
    for (int attempt = 0; attempt < 20 && outcome == -2; ++attempt) {
        mkdirs(work + "/gone");
        FOLDER gone("$HERE/gone", 0, &here);
        pid_t child = kivo_test::start_child([&] { return here.copy("big", gone, nullptr) ? 1 : 0; });
        // The copy is made under a temporary name: stopped once anything is there.
        auto empty = [&] {
            DIR* d = opendir((work + "/gone").c_str());
            int entries = 0;
            while (d && readdir(d)) {
                ++entries;
            }
            if (d) {
                closedir(d);
            }
            return entries <= 2;
        };
        for (long spin = 0; spin < 100000000 && empty(); ++spin) {
            if (waitpid(child, nullptr, WNOHANG) == child) {
                child = -1;
                break;
            }
        }
        int status = 0;
        if (child > 0 && kill(child, SIGSTOP) == 0 && waitpid(child, &status, WUNTRACED) == child &&
            WIFSTOPPED(status)) {
            kivo_test::remove_tree(work + "/gone");
            kill(child, SIGCONT);
            outcome = kivo_test::wait_child(child);
        } else if (child > 0) {
            kivo_test::wait_child(child);
        }
        kivo_test::remove_tree(work + "/gone");
    }
    EXPECT_EQ(outcome, 0);
}

TEST_F(FolderFilesTest, MoveNeverReplaces)
{
    mkdirs({work + "/a/sub", work + "/b"});
    ASSERT_TRUE(write_file(work + "/a/f", "first") && write_file(work + "/b/f", "second"));
    FOLDER a("$HERE/a", 0, &here), b("$HERE/b", 0, &here);
    EXPECT_FALSE(a.move("f", b, nullptr));
    EXPECT_TRUE(a.move("f", b, "g") && b.move("g", b, "h"));    // to another folder, then in place
    EXPECT_TRUE(b.move("h", b, nullptr) && b.move("h", b, "")); // already there
    EXPECT_FALSE(b.move("h", b, "f"));                          // taken
    EXPECT_EQ(list(b), (V{"f", "h"}));
    EXPECT_EQ(read_file(work + "/b/h") + read_file(work + "/b/f"), "firstsecond");
    EXPECT_TRUE(here.move("a", b, nullptr) && kind(work + "/b/a/sub") == S_IFDIR);
    FOLDER sub("$HERE/b/a/sub", 0, &here);
    EXPECT_FALSE(b.move("a", sub, nullptr) || b.move("missing", sub, nullptr) || b.move("h", sub, "x/y"));
    EXPECT_EQ(FSMoveRenameObjectUnicode(work.c_str(), "b", (work + "/b/h").c_str(), nullptr), FS_NOT_A_DIRECTORY);
}

TEST_F(FolderFilesTest, RemovalsStayInsideTheTree)
{
    std::string outside = path("outside");
    mkdirs({outside + "/keep", work + "/t/a/b/.hid", work + "/t/ro/inner"});
    ASSERT_TRUE(write_file(outside + "/keep/file", "x"));
    for (const char* f : {"/t/.dot", "/t/a/b/.hid/x", "/t/ro/inner/f"}) {
        ASSERT_TRUE(write_file(work + f, "x"));
    }
    link(outside, work + "/t/a/out");
    link(outside + "/keep/file", work + "/t/filelink");
    link(outside, work + "/dirlink");
    chmod((work + "/t/ro").c_str(), 0500);
    EXPECT_FALSE(here.remove_directory("t"));          // not empty
    EXPECT_FALSE(here.remove_directory("dirlink", 1)); // a link is not a folder
    EXPECT_FALSE(here.remove_directory_contents("dirlink") || here.remove_directory_contents("missing") ||
                 here.remove_directory(nullptr, 1));
    EXPECT_TRUE(here.remove_directory("t", 1) && !exists(work + "/t"));
    EXPECT_TRUE(here.remove("dirlink"));
    mkdirs(work + "/x/y");
    EXPECT_FALSE(here.remove("x") || here.remove("../outside")); // not empty; not inside
    // Deleting through a path that is a link removes only the link.
    link(outside, work + "/l2");
    EXPECT_EQ(FSDeleteObjects((work + "/l2").c_str()), FS_OK);
    EXPECT_EQ(read_file(outside + "/keep/file"), "x");
    // The folder's own contents (null name); the folder stays.
    EXPECT_TRUE(here.remove_directory_contents(nullptr));
    EXPECT_TRUE(list(here).empty() && kind(work) == S_IFDIR);
}

TEST_F(FolderFilesTest, EmptyingATreeThatCannotBeEmptiedFails)
{
    // Deeper than the deletion walk goes (even for the superuser, whom
    // permissions do not stop).
    std::string deep = work + "/deep/top";
    mkdirs(deep);
    for (int i = 0; i < 300; ++i) {
        deep += "/d";
    }
    mkdirs(deep);
    ASSERT_TRUE(write_file(deep + "/f", "x"));
    ASSERT_TRUE(write_file(work + "/deep/shallow", "x"));
    EXPECT_FALSE(here.remove_directory_contents("deep"));
    EXPECT_FALSE(here.remove_directory("deep", 1));
    EXPECT_TRUE(exists(work + "/deep/top") && !exists(work + "/deep/shallow")); // the rest went
    FOLDER deep_folder("$HERE/deep", 0, &here);
    EXPECT_FALSE(deep_folder.remove_directory_contents(nullptr));
}

TEST_F(FolderFilesTest, ContentsAndDirectoryListsFilterSortAndGrow)
{
    for (const char* f : {"b.ttf", "A.TTF", "a.ttf", "c.txt", ".h.ttf", "B.ttf"}) {
        ASSERT_TRUE(write_file(work + "/" + f, "x"));
    }
    mkdirs({work + "/dir", work + "/.hdir"});
    link("dir", work + "/zlink");
    const struct
    {
        const char* filter;
        INT_U8 hidden;
        int type;
        INT_U8 filter_dirs;
        V names;
    } cases[] = {
        {"", 1, fft_equals, 1, {".h.ttf", ".hdir/", "A.TTF", "a.ttf", "B.ttf", "b.ttf", "c.txt", "dir/", "zlink"}},
        {".ttf", 1, fft_ends_with, 0, {".h.ttf", ".hdir/", "a.ttf", "B.ttf", "b.ttf", "dir/"}},
        {".ttf", 0, fft_ends_with_nocase, 1, {"A.TTF", "a.ttf", "B.ttf", "b.ttf"}},
        {".ttf", 0, 42, 1, {"a.ttf", "B.ttf", "b.ttf"}},
        {"a", 0, fft_starts_with, 1, {"a.ttf"}},
        {"a", 0, fft_starts_with_nocase, 1, {"A.TTF", "a.ttf"}},
        {"t", 0, fft_contains, 1, {"a.ttf", "B.ttf", "b.ttf", "c.txt"}},
        {"T", 0, fft_contains_nocase, 1, {"A.TTF", "a.ttf", "B.ttf", "b.ttf", "c.txt"}},
        {"b.ttf", 0, fft_equals, 1, {"b.ttf"}},
        {"b.ttf", 0, fft_equals_nocase, 1, {"B.ttf", "b.ttf"}},
        {"a.ttf.longer", 0, fft_ends_with, 1, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(list(here, c.filter, c.hidden, static_cast<FOLDER_FILTER_TYPE>(c.type), c.filter_dirs), c.names)
            << (c.filter ? c.filter : "(null)") << " " << c.type;
    }
    // Directory lists: real objects, grown from one slot and appended to.
    chmod((work + "/a.ttf").c_str(), 0444);
    FOLDER_FILE_INFO* files = nullptr;
    long count = 0;
    here.get_dir_list(0, 0, 0, files, count, ".ttf", fft_ends_with, 1);
    here.get_dir_list(1, 0, 1, files, count);
    ASSERT_EQ(count, 4);
    EXPECT_TRUE(files[0].read_only == 1 && files[1].read_only == 0 && files[3].is_directory == 1);
    EXPECT_TRUE(files[2].folder == here);
    EXPECT_EQ(std::string(files[2].name) + "," + files[3].name, "b.ttf,dir");
    FOLDER::free_list(files);
    FOLDER::free_list(files); // the first one set it to null
    here.get_dir_list(0, 1, 0, files, count, "h.", fft_contains);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(files[0].is_hidden, 1);
    FOLDER::free_list(files);
    // Longer than any name can be: nothing matches, not even its first part.
    std::string name255(255, 'n');
    ASSERT_TRUE(write_file(work + "/" + name255, "x"));
    for (FOLDER_FILTER_TYPE t : {fft_equals, fft_starts_with, fft_contains}) {
        EXPECT_EQ(list(here, (name255 + "n").c_str(), 0, t, 0), V{"dir/"}) << t;
    }
    EXPECT_EQ(list(here, name255.c_str(), 0, fft_equals, 1), V{name255});
    FOLDER gone = native(work + "/dir");
    rmdir((work + "/dir").c_str());
    EXPECT_EQ(gone.start_contents_list(nullptr, 0, fft_ends_with, 0), nullptr);
}

TEST_F(FolderFilesTest, EightBitNamesAreUtf8OnDisk)
{
    ASSERT_TRUE(write_file(work + "/caf\xC3\xA9.txt", "menu"));
    mkdirs({work + "/\xC3\x9C"
                   "ber",
            work + "/\xE6\x97\xA5"});
    EXPECT_EQ(list(here), (V{"caf\xE9.txt",
                             "\xDC"
                             "ber/",
                             "\xE6\x97\xA5/"}));             // above 0xFF: as it is
    EXPECT_TRUE(here.copy("caf\xE9.txt", here, "na\xEFve")); // finds the file, writes the copy as UTF-8
    EXPECT_EQ(read_file(work + "/na\xC3\xAFve"), "menu");
    EXPECT_EQ(std::string(here.get_path_string("\xE9")), real(work) + "/\xC3\xA9");
    char out[2048];
    FOLDER f(here);
    ASSERT_TRUE(f.move_down("\xDC"
                            "ber"));
    EXPECT_STREQ(f.get_directory_name(), "\xDC"
                                         "ber");
    ASSERT_TRUE(f.get(out));
    EXPECT_TRUE(FOLDER(out) == f) << out;
    EXPECT_TRUE(here.get_path_to(f, out));
    EXPECT_STREQ(out, "$HERE/\xDC"
                      "ber/");
}

} // namespace
