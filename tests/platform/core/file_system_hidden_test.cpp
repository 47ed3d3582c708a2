#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"

#include "child_process.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

class HiddenList : public kivo_test::ScratchFolderTest
{
protected:
    std::string list() const { return kivo_test::read_file(at(".hidden")); }
    // The folder's entries other than `besides`: what a save left.
    std::set<std::string> others(const std::set<std::string>& besides) const
    {
        std::set<std::string> names;
        if (DIR* d = opendir(work.c_str())) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                if (n != "." && n != ".." && !besides.count(n)) {
                    names.insert(n);
                }
            }
            closedir(d);
        }
        return names;
    }
    ino_t node(const std::string& name) const
    {
        struct stat st;
        return lstat(at(name).c_str(), &st) == 0 ? st.st_ino : 0;
    }
};

TEST(HiddenListEdit, AddsOnceRemovesEveryCopyAndKeepsOtherLinesByteForByte)
{
    const struct
    {
        const char* list;
        bool hide;
        bool changed;
        const char* after;
    } cases[] = {
        {"", true, true, "f\n"},
        {"f\n", true, false, "f\n"},
        {"a\nf", true, false, "a\nf"},               // a last line without newline counts
        {"a", true, true, "a\nf\n"},                 // the last line gets its newline first
        {"a\r\nf\r\n", true, true, "a\r\nf\r\nf\n"}, // "f\r" names another file
        {"f\n\nf\nb\r\nf", false, true, "\nb\r\n"},  // every copy, blank lines kept
        {"a\nf", false, true, "a\n"},
        {"a\r\nf\r\n", false, false, "a\r\nf\r\n"},
        {"ff\nf \n", false, false, "ff\nf \n"},
    };
    for (const auto& c : cases) {
        std::string list = c.list;
        EXPECT_EQ(fs_edit_hidden_list(list, "f", c.hide), c.changed) << c.list;
        EXPECT_EQ(list, c.after) << c.list;
    }
    std::string binary("\xFF\x00\n", 3);
    ASSERT_TRUE(fs_edit_hidden_list(binary, "f", true));
    EXPECT_EQ(binary, std::string("\xFF\x00\nf\n", 5));
}

TEST_F(HiddenList, SetAndClearRewriteTheFoldersListWhole)
{
    ASSERT_TRUE(kivo_test::write_file(at("f"), "f"));
    ASSERT_EQ(mkdir(at("d").c_str(), 0755), 0);
    ASSERT_EQ(symlink("missing", at("l").c_str()), 0);
    const std::string before("keep\r\n\n\xFF\x00 bin\nf\nlast", 19);
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), before));
    ASSERT_EQ(chmod(at(".hidden").c_str(), 0640), 0);

    ASSERT_EQ(FSSetInvisible(at("f").c_str()), FS_OK); // listed already: nothing written
    EXPECT_EQ(list(), before);
    ASSERT_EQ(FSClearInvisible(at("f").c_str()), FS_OK);
    const std::string cleared("keep\r\n\n\xFF\x00 bin\nlast", 17);
    EXPECT_EQ(list(), cleared);
    const ino_t first = node(".hidden");
    ASSERT_EQ(FSClearInvisible(at("f").c_str()), FS_OK);
    EXPECT_EQ(node(".hidden"), first); // not listed: not rewritten

    ASSERT_EQ(FSSetInvisible(at("f").c_str()), FS_OK);
    ASSERT_EQ(FSSetInvisible(at("f").c_str()), FS_OK);
    ASSERT_EQ(FSSetInvisible((at("d") + "/").c_str()), FS_OK); // a folder as a file
    ASSERT_EQ(FSSetInvisible(at("l").c_str()), FS_OK);         // the link, not what it names
    EXPECT_EQ(list(), cleared + "\nf\nd\nl\n");
    struct stat st;
    ASSERT_EQ(stat(at(".hidden").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    ASSERT_EQ(FSClearInvisible(at("d").c_str()), FS_OK);
    EXPECT_EQ(list(), cleared + "\nf\nl\n");
    EXPECT_EQ(others({"f", "d", "l", ".hidden"}), std::set<std::string>()); // no save left behind

    // A list made where there was none.
    ASSERT_EQ(FSSetInvisible((at("d") + "/inner").c_str()), FS_NOT_FOUND);
    ASSERT_TRUE(kivo_test::write_file(at("d/inner"), ""));
    ASSERT_EQ(FSSetInvisible((at("d") + "/inner").c_str()), FS_OK);
    EXPECT_EQ(kivo_test::read_file(at("d/.hidden")), "inner\n");
}

TEST_F(HiddenList, NamesNoLineCanShowAndListsThatAreNotPlainText)
{
    ASSERT_TRUE(kivo_test::write_file(at("a\nb"), ""));
    ASSERT_TRUE(kivo_test::write_file(at(".dot"), ""));
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    EXPECT_EQ(FSSetInvisible(at("a\nb").c_str()), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSClearInvisible(at("a\nb").c_str()), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSSetInvisible(at(".dot").c_str()), FS_OK); // hidden by its name already
    EXPECT_EQ(FSClearInvisible(at(".dot").c_str()), FS_BAD_NAME);
    EXPECT_EQ(FSSetInvisible(at("missing").c_str()), FS_NOT_FOUND);
    EXPECT_EQ(FSClearInvisible(at("missing").c_str()), FS_NOT_FOUND);
    EXPECT_EQ(FSSetInvisible("/"), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSSetInvisible(nullptr), FS_BAD_ARGUMENT);
    EXPECT_EQ(node(".hidden"), 0u); // none of these wrote a list

    // A link is not followed onto the file it names, a folder or an
    // oversized list not read: each is left as it was.
    ASSERT_TRUE(kivo_test::write_file(at("elsewhere"), "precious"));
    ASSERT_EQ(symlink("elsewhere", at(".hidden").c_str()), 0);
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_IO_ERROR);
    EXPECT_EQ(kivo_test::read_file(at("elsewhere")), "precious");
    ASSERT_EQ(unlink(at(".hidden").c_str()), 0);
    ASSERT_EQ(mkdir(at(".hidden").c_str(), 0755), 0);
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_IO_ERROR);
    ASSERT_EQ(rmdir(at(".hidden").c_str()), 0);
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), "x\n"));
    ASSERT_EQ(truncate(at(".hidden").c_str(), FS_HIDDEN_LIST_MAX + 1), 0);
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_IO_ERROR);
    EXPECT_EQ(FSClearInvisible(at("f").c_str()), FS_IO_ERROR);
    struct stat st;
    ASSERT_EQ(stat(at(".hidden").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, static_cast<off_t>(FS_HIDDEN_LIST_MAX + 1));
    ASSERT_EQ(truncate(at(".hidden").c_str(), FS_HIDDEN_LIST_MAX), 0); // at the limit: read
    EXPECT_EQ(FSClearInvisible(at("f").c_str()), FS_OK);

    // A change is never written past the limit: the list stays as it was,
    // what it lists still hidden.
    std::string full = "x\n" + std::string(FS_HIDDEN_LIST_MAX - 7, 'n') + "\n";
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), full));
    ASSERT_TRUE(kivo_test::write_file(at("x"), "") && kivo_test::write_file(at("g"), ""));
    ASSERT_EQ(FSSetInvisible(at("f").c_str()), FS_OK); // to the limit less two
    ASSERT_EQ(FSSetInvisible(at("g").c_str()), FS_OK); // to the limit
    full += "f\ng\n";
    EXPECT_TRUE(list() == full); // not shown: a megabyte
    ASSERT_TRUE(kivo_test::write_file(at("h"), ""));
    EXPECT_EQ(FSSetInvisible(at("h").c_str()), FS_IO_ERROR);
    EXPECT_TRUE(list() == full);
    INT_U8 info[16] = {};
    ASSERT_EQ(FSGetFinderInfo(at("x").c_str(), info, nullptr, nullptr), FS_OK);
    EXPECT_EQ(info[8] & 0x40, 0x40);
    EXPECT_EQ(FSClearInvisible(at("g").c_str()), FS_OK);
}

// A list that cannot be written whole (here past a file-size limit, as on a
// full disk) is reported and leaves the old one as it was.
TEST_F(HiddenList, AFailedWriteIsReportedAndKeepsTheOldList)
{
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    const std::string before(8000, 'n');
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), before + "\n"));
    const std::string hidden = at("f");
    int code = kivo_test::run_in_child([&] { return FSSetInvisible(hidden.c_str()) == FS_IO_ERROR ? 0 : 1; }, 4096);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(list(), before + "\n");
    EXPECT_EQ(others({"f", ".hidden"}), std::set<std::string>());
}

// Programs of ours changing one folder's list at once: every change stays
// and none is refused, the list being read, changed and written under the
// folder's lock. Each process sets, then clears, names of its own.
TEST_F(HiddenList, RacingChangesAreAllKept)
{
    for (const auto& race : {std::pair<int, int>{2, 200}, std::pair<int, int>{8, 40}}) {
        const int processes = race.first, names = race.second;
        for (int p = 0; p < processes; ++p) {
            for (int n = 0; n < names; ++n) {
                ASSERT_TRUE(kivo_test::write_file(at(std::to_string(p) + "-" + std::to_string(n)), ""));
            }
        }
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        auto change_all = [&](int p, bool hide) {
            for (int n = 0; n < names; ++n) {
                const std::string path = at(std::to_string(p) + "-" + std::to_string(n));
                if ((hide ? FSSetInvisible(path.c_str()) : FSClearInvisible(path.c_str())) != FS_OK) {
                    return 1;
                }
            }
            return 0;
        };
        for (bool hide : {true, false}) {
            std::vector<pid_t> children;
            for (int p = 0; p < processes; ++p) {
                children.push_back(kivo_test::start_child([&, p] {
                    char c;
                    return read(go[0], &c, 1) == 1 ? change_all(p, hide) : 2;
                }));
            }
            ASSERT_EQ(write(go[1], std::string(processes, 'g').data(), processes), processes);
            for (pid_t child : children) {
                EXPECT_EQ(kivo_test::wait_child(child), 0) << (hide ? "set" : "clear");
            }
            std::vector<std::string> want;
            for (int p = 0; hide && p < processes; ++p) {
                for (int n = 0; n < names; ++n) {
                    want.push_back(std::to_string(p) + "-" + std::to_string(n));
                }
            }
            std::sort(want.begin(), want.end());
            std::vector<std::string> lines;
            const std::string got = list();
            for (std::size_t at = 0, end; at < got.size(); at = end + 1) {
                end = got.find('\n', at);
                lines.push_back(got.substr(at, end - at));
            }
            std::sort(lines.begin(), lines.end());
            EXPECT_EQ(lines, want) << processes << " x " << names << (hide ? " set" : " cleared");
        }
        close(go[0]);
        close(go[1]);
    }
}

// A list another program changes in place while ours is being written is
// not overwritten: the change is reported and the other program's list kept.
TEST_F(HiddenList, AListChangedInPlaceMeanwhileIsKept)
{
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), "a\n"));
    static std::string hidden;
    hidden = at(".hidden");
    fs_hidden_list_before_write = [] {
        std::FILE* f = std::fopen(hidden.c_str(), "ab");
        std::fputs("b\n", f);
        std::fclose(f);
    };
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_BAD_ARGUMENT);
    fs_hidden_list_before_write = nullptr;
    EXPECT_EQ(list(), "a\nb\n");
    EXPECT_EQ(others({"f", ".hidden"}), std::set<std::string>());
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_OK);
    EXPECT_EQ(list(), "a\nb\nf\n");
}

// Programs killed while they hide and show an entry, at seeded moments
// over a hiding and a showing: the list is written first when hiding and
// the value first when showing, so this library's reading (either hides)
// and the desktop's (the list alone) agree whenever the kill came. What a
// killed change left goes with the next change of the list.
TEST_F(HiddenList, AKillAnywhereLeavesTheLibraryAndTheDesktopAgreeing)
{
    std::string lines;
    for (int i = 0; lines.size() < 200000; ++i) {
        lines += "other-" + std::to_string(i) + "\n";
    }
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), lines));
    const std::string f = at("f");
    const auto began = std::chrono::steady_clock::now();
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(i % 2 == 0 ? FSSetInvisible(f.c_str()) : FSClearInvisible(f.c_str()), FS_OK);
    }
    const auto two_changes = (std::chrono::steady_clock::now() - began) / 2;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    std::mt19937 draw(44);
    std::uniform_real_distribution<double> within(0.0, 1.0);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const pid_t child = kivo_test::start_child([&] {
            if (write(ready[1], "r", 1) != 1) {
                return 2;
            }
            for (bool hide = true;; hide = !hide) {
                if ((hide ? FSSetInvisible(f.c_str()) : FSClearInvisible(f.c_str())) != FS_OK) {
                    return 1;
                }
            }
        });
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        std::this_thread::sleep_for(two_changes * within(draw));
        kill(child, SIGKILL);
        EXPECT_EQ(kivo_test::wait_child(child), -1); // no change failed
        INT_U8 info[16] = {};
        ASSERT_EQ(FSGetFinderInfo(f.c_str(), info, nullptr, nullptr), FS_OK);
        std::string now = list();
        EXPECT_EQ((info[8] & 0x40) != 0, fs_edit_hidden_list(now, "f", false));
    }
    close(ready[0]);
    close(ready[1]);
    ASSERT_EQ(FSSetInvisible(f.c_str()), FS_OK);
    ASSERT_EQ(FSClearInvisible(f.c_str()), FS_OK);
    EXPECT_EQ(list(), lines);
    EXPECT_EQ(others({"f", ".hidden"}), std::set<std::string>());
}

} // namespace
