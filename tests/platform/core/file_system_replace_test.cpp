// Copies that take their target's name only when whole, what killed and
// failed copies leave behind, and deletes that stop at the first failure.
#include "file_system.h"

#include "child_process.h"
#include "console_capture.h"
#include "debug_stream.h"
#include "file_system_catalog_internal.h"
#include "folder.h"
#include "kivo_host.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;
using clock_type = std::chrono::steady_clock;

INT_S32 copy(const std::string& dir, const char* name, const std::string& dest, INT_U8 action,
             const char* new_name = nullptr, FS_COPY_FILTER filter = nullptr, void* data = nullptr)
{
    return FSCopyObject(dir.c_str(), name, dest.c_str(), 0, 0, action, new_name, false, false, filter, data, nullptr,
                        0);
}

// The names in a folder.
std::set<std::string> names(const std::string& dir)
{
    std::set<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) {
                out.insert(e->d_name);
            }
        }
        closedir(d);
    }
    return out;
}

// True when the entry carries the temporary mark of `target`.
bool marked(const std::string& path, const char* target)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    bool is = fd >= 0 && fs_is_marked_temporary(fd, target);
    if (fd >= 0) {
        close(fd);
    }
    return is;
}

bool mark(const std::string& path, const char* target)
{
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW);
    bool done = fd >= 0 && fs_mark_temporary(fd, target);
    if (fd >= 0) {
        close(fd);
    }
    return done;
}

// An empty entry of the private form a temporary has before its mark,
// as a kill at that moment leaves it.
bool unmarked_made(const std::string& dir, const std::string& name)
{
    const std::string prefix = ".kivo-new.", p = dir + "/" + name;
    struct stat st;
    return name.rfind(prefix, 0) == 0 && fs_is_temporary_suffix(name.c_str() + prefix.size()) &&
           lstat(p.c_str(), &st) == 0 &&
           ((S_ISDIR(st.st_mode) && names(p).empty()) || (S_ISREG(st.st_mode) && st.st_size == 0));
}

// Everything of a tree a user could tell apart: kinds, rights, sizes,
// modification times, contents and link targets, by relative path.
std::map<std::string, std::string> snapshot(const std::string& root, const std::string& rel = "")
{
    std::map<std::string, std::string> out;
    struct stat st;
    const std::string p = root + rel;
    if (lstat(p.c_str(), &st) != 0) {
        return out;
    }
    std::string& about = out[rel.empty() ? "." : rel];
    about = std::to_string(st.st_mode) + " " + std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) +
            "." + std::to_string(st.st_mtim.tv_nsec) + " ";
    if (S_ISREG(st.st_mode)) {
        about += read_file(p);
    } else if (S_ISLNK(st.st_mode)) {
        char target[256] = {};
        about += std::string(target, static_cast<std::size_t>(readlink(p.c_str(), target, sizeof target)));
    } else if (S_ISDIR(st.st_mode)) {
        for (const std::string& n : names(p)) {
            std::map<std::string, std::string> inner = snapshot(root, rel + "/" + n);
            out.insert(inner.begin(), inner.end());
        }
    }
    return out;
}

// A file's bytes, a folder's names or a link's target.
std::string what(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return "none";
    }
    if (S_ISDIR(st.st_mode)) {
        std::string all = "folder:";
        for (const std::string& n : names(path)) {
            all += n + "=" + what(path + "/" + n) + ";";
        }
        return all;
    }
    char target[256] = {};
    return S_ISLNK(st.st_mode)
               ? "link:" + std::string(target, static_cast<std::size_t>(readlink(path.c_str(), target, sizeof target)))
               : "file:" + read_file(path);
}

// The old entry a replacing copy meets: a folder holding "old", or a file.
::testing::AssertionResult make_old(const std::string& target, bool folder)
{
    const bool made =
        folder ? mkdir(target.c_str(), 0755) == 0 && write_file(target + "/old", "old") : write_file(target, "old");
    return made ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "cannot make " << target;
}

// Bytes that differ from one 8-byte word to the next, so that a tail of
// zeros or a piece out of place shows.
std::string pattern(std::size_t size, unsigned long long seed)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i + 8 <= size; i += 8) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        std::memcpy(&s[i], &seed, 8);
    }
    return s;
}

class FileSystemReplace : public kivo_test::ScratchFolderTest
{
protected:
    void SetUp() override
    {
        ScratchFolderTest::SetUp();
        ASSERT_EQ(mkdir(at("src").c_str(), 0755), 0);
        ASSERT_EQ(mkdir(at("dest").c_str(), 0755), 0);
    }

    // A copy of src/<source> to dest/<target> in a child, killed at `kills`
    // moments spread over the time one whole copy takes (a seeded draw in
    // each part). After each: `check` of the target; anything else in the
    // folder must be one marked temporary at most, or an empty one of the
    // private form, killed before its mark.
    template <typename CHECK>
    void kill_copies(const char* target, INT_U8 action, CHECK check, const char* source = "big", int kills = 40)
    {
        const std::string src = at("src"), dest = at("dest");
        auto start = [&] {
            return kivo_test::start_child([&] { return copy(src, source, dest, action, target) == FS_OK ? 0 : 1; });
        };
        const clock_type::time_point began = clock_type::now();
        ASSERT_EQ(kivo_test::wait_child(start()), 0);
        const clock_type::duration whole = clock_type::now() - began;
        check(true);
        std::mt19937 draw(43);
        std::uniform_real_distribution<double> within(0.0, 1.0);
        for (int i = 0; i < kills; ++i) {
            const pid_t child = start();
            ASSERT_GT(child, 0);
            std::this_thread::sleep_for(whole * ((i + within(draw)) / kills));
            kill(child, SIGKILL);
            kivo_test::wait_child(child);
            SCOPED_TRACE("kill " + std::to_string(i));
            check(false);
            int temporaries = 0;
            for (const std::string& n : names(dest)) {
                if (n != target) {
                    EXPECT_TRUE(marked(dest + "/" + n, target) || unmarked_made(dest, n)) << n;
                    ++temporaries;
                }
            }
            EXPECT_LE(temporaries, 1);
            if (HasFailure()) {
                return;
            }
        }
        // A copy that runs to its end clears what the last killed one left.
        ASSERT_EQ(copy(src, source, dest, action, target), FS_OK);
        EXPECT_EQ(names(dest), std::set<std::string>{target});
        check(true);
    }
};

TEST_F(FileSystemReplace, AReplacingCopyKilledAnywhereLeavesTheOldFileOrTheNewWhole)
{
    const std::string big = pattern(64u << 20, 1), old = pattern(5000, 2), target = at("dest/doc");
    ASSERT_TRUE(write_file(at("src/big"), big) && write_file(target, old));
    kill_copies("doc", FS_DUPLICATE_REPLACE, [&](bool finished) {
        const std::string now = read_file(target);
        EXPECT_TRUE(now == big || (!finished && now == old)) << "size " << now.size();
        if (now != old) {
            ASSERT_TRUE(write_file(target, old)); // the next copy replaces the old file again
        }
    });
}

TEST_F(FileSystemReplace, ACopyToAFreeNameKilledAnywhereLeavesNothingOrTheWholeObject)
{
    const std::string big = pattern(64u << 20, 3), target = at("dest/doc");
    ASSERT_TRUE(write_file(at("src/big"), big));
    // A folder of many files: built in place, it would stand under the
    // name part-made.
    ASSERT_EQ(mkdir(at("src/album").c_str(), 0755), 0);
    for (int i = 0; i < 64; ++i) {
        ASSERT_TRUE(write_file(at("src/album/p") + std::to_string(i), pattern(512, 20 + i)));
    }
    const std::string album = what(at("src/album"));
    const struct
    {
        const char* source;
        int kills;
    } cases[] = {{"big", 40}, {"album", 20}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const bool file = !std::strcmp(c.source, "big");
        kill_copies(
            "doc", FS_DUPLICATE_FAIL,
            [&](bool finished) {
                struct stat st;
                if (!finished && lstat(target.c_str(), &st) != 0) {
                    return;
                }
                EXPECT_TRUE(file ? read_file(target) == big : what(target) == album);
                kivo_test::remove_tree(target);
            },
            c.source, c.kills);
    }
}

// Another program saves the same file while a replacing copy fails for
// want of room: it renames its finished file onto the name at a moment
// spread over the failing copy's time. Its save is never deleted, and
// nothing else stays.
TEST_F(FileSystemReplace, ACopyFailingOnAFullVolumeNeverDeletesASaveRenamedOntoItsName)
{
    ASSERT_TRUE(write_file(at("src/big"), pattern(2u << 20, 5)));
    const std::string src = at("src"), mnt = at("dest");
    int code = kivo_test::run_on_own_mount(mnt, "tmpfs", 0, "size=1m", [&] {
        const std::string doc = mnt + "/doc";
        if (!write_file(doc, "old") || copy(src, "big", mnt, FS_DUPLICATE_REPLACE, "doc") == FS_OK ||
            read_file(doc) != "old" || names(mnt) != std::set<std::string>{"doc"}) {
            return 1;
        }
        const clock_type::time_point began = clock_type::now();
        for (int i = 0; i < 10; ++i) {
            copy(src, "big", mnt, FS_DUPLICATE_REPLACE, "doc");
        }
        const clock_type::duration failing = (clock_type::now() - began) / 10;
        std::mt19937 draw(44);
        for (int trial = 0; trial < 100; ++trial) {
            const std::string saved = "save " + std::to_string(trial);
            const clock_type::duration wait =
                std::chrono::duration_cast<clock_type::duration>(failing * 2 * (draw() % 1000) / 1000);
            int go[2];
            if (pipe(go) != 0 || !write_file(mnt + "/.save", saved)) {
                return 2;
            }
            const pid_t racer = kivo_test::start_child([&] {
                char c;
                if (read(go[0], &c, 1) != 1) {
                    return 1;
                }
                const clock_type::time_point until = clock_type::now() + wait;
                while (clock_type::now() < until) {
                }
                return rename((mnt + "/.save").c_str(), doc.c_str()) == 0 ? 0 : 1;
            });
            if (racer < 0 || write(go[1], "g", 1) != 1) {
                return 3;
            }
            const INT_S32 r = copy(src, "big", mnt, FS_DUPLICATE_REPLACE, "doc");
            close(go[0]);
            close(go[1]);
            if (kivo_test::wait_child(racer) != 0 || r == FS_OK) {
                return 4;
            }
            if (read_file(doc) != saved) {
                return 5; // the save is gone
            }
            if (names(mnt) != std::set<std::string>{"doc"}) {
                return 6; // something was left behind
            }
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "no private mount namespace with a tmpfs of its own here (needs root)";
    }
    EXPECT_EQ(code, 0);
}

// What a filter sees of a replacing copy, and stops.
struct WATCH
{
    std::string target;
    std::map<std::string, std::string> old;
    std::vector<std::string> told;
    std::size_t stop_at = 0;
    bool old_in_place = true;
};

bool watch(const char* path, const char*, INT_U32, const struct stat*, void* data)
{
    WATCH& w = *static_cast<WATCH*>(data);
    w.told.push_back(path);
    w.old_in_place = w.old_in_place && snapshot(w.target) == w.old;
    return w.told.size() == w.stop_at;
}

TEST_F(FileSystemReplace, AFolderReplacingAFolderKeepsTheOldOneInPlaceUntilItIsWhole)
{
    for (const char* d : {"src/top", "src/top/d1", "dest/top", "dest/top/sub"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    ASSERT_TRUE(write_file(at("src/top/f1"), "new 1") && write_file(at("src/top/d1/f2"), "new 2") &&
                write_file(at("src/top/f3"), "new 3"));
    ASSERT_TRUE(write_file(at("dest/top/mine"), "keep") && write_file(at("dest/top/sub/deep"), "deeper"));
    ASSERT_EQ(chmod(at("dest/top/mine").c_str(), 0640), 0);
    ASSERT_EQ(symlink("mine", at("dest/top/link").c_str()), 0);
    const struct timespec long_ago[2] = {{1000000, 0}, {1000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, at("dest/top/sub").c_str(), long_ago, 0), 0);
    WATCH w;
    w.target = at("dest/top");
    w.old = snapshot(w.target);

    // Stopped at each object in turn: the old folder stays in place, as it
    // was, all along, and nothing of the copy is left.
    for (std::size_t stop = 1; stop <= 5; ++stop) {
        w.told.clear();
        w.stop_at = stop;
        EXPECT_EQ(copy(at("src"), "top", at("dest"), FS_DUPLICATE_REPLACE, nullptr, watch, &w), FS_USER_CANCELED);
        EXPECT_EQ(w.told.size(), stop);
        EXPECT_TRUE(w.old_in_place);
        EXPECT_EQ(snapshot(w.target), w.old) << stop;
        EXPECT_EQ(names(at("dest")), std::set<std::string>{"top"});
    }
    // Told under the temporary name it is made under, never the target's.
    for (const std::string& p : w.told) {
        EXPECT_EQ(p.compare(0, at("dest/.top.kivo-copy.").size(), at("dest/.top.kivo-copy.")), 0) << p;
    }
    // Let through: the new folder takes the name whole.
    w.stop_at = 0;
    ASSERT_EQ(copy(at("src"), "top", at("dest"), FS_DUPLICATE_REPLACE, nullptr, watch, &w), FS_OK);
    EXPECT_TRUE(w.old_in_place);
    EXPECT_EQ(snapshot(at("dest/top")), snapshot(at("src/top")));
    EXPECT_EQ(names(at("dest")), std::set<std::string>{"top"});
    EXPECT_FALSE(marked(at("dest/top"), "top"));
}

// Where the kinds differ (files, folders, links) the old entry is in place
// until the new one takes its name in one step.
TEST_F(FileSystemReplace, EntriesOfAnotherKindAreReplacedInOneStep)
{
    ASSERT_EQ(mkdir(at("src/folder").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(at("src/folder/in"), "inside") && write_file(at("src/file"), "file"));
    ASSERT_EQ(symlink("elsewhere", at("src/link").c_str()), 0);
    const struct
    {
        const char* source;
        const char* old_kind;
    } cases[] = {
        {"file", "folder"}, {"folder", "file"}, {"link", "folder"},
        {"folder", "link"}, {"link", "file"},   {"file", "link"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + " over " + c.old_kind);
        const std::string target = at("dest/") + c.source;
        if (!std::strcmp(c.old_kind, "folder")) {
            ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
            ASSERT_TRUE(write_file(target + "/old", "old"));
        } else if (!std::strcmp(c.old_kind, "file")) {
            ASSERT_TRUE(write_file(target, "old"));
        } else {
            ASSERT_EQ(symlink("old", target.c_str()), 0);
        }
        WATCH w;
        w.target = target;
        w.old = snapshot(target);
        ASSERT_EQ(copy(at("src"), c.source, at("dest"), FS_DUPLICATE_REPLACE, nullptr, watch, &w), FS_OK);
        EXPECT_TRUE(w.old_in_place);
        EXPECT_EQ(what(target), what(at("src/") + c.source));
        EXPECT_EQ(names(at("dest")), std::set<std::string>{c.source});
        kivo_test::remove_tree(target);
    }
}

// Another program's entry under the name while a copy runs (made here by
// the filter, which runs inside the copy).
bool take_the_name(const char*, const char*, INT_U32, const struct stat*, void* data)
{
    const std::string& taken = *static_cast<std::string*>(data);
    EXPECT_EQ(rename((taken + ".theirs").c_str(), taken.c_str()), 0);
    return false;
}

bool take_the_name_and_stop(const char* path, const char* name, INT_U32 level, const struct stat* st, void* data)
{
    take_the_name(path, name, level, st, data);
    return true;
}

TEST_F(FileSystemReplace, ANameTakenMeanwhileIsNeverLostAndLeftoversGoOnlyWhenMarked)
{
    ASSERT_TRUE(write_file(at("src/f"), "copied"));
    std::string taken = at("dest/f");
    ASSERT_TRUE(write_file(taken + ".theirs", "theirs"));
    EXPECT_EQ(copy(at("src"), "f", at("dest"), FS_DUPLICATE_FAIL, nullptr, take_the_name, &taken), FS_EXISTS);
    EXPECT_EQ(read_file(taken), "theirs");
    EXPECT_EQ(names(at("dest")), std::set<std::string>{"f"});
    // A replacing copy stopped after another save landed on the name.
    ASSERT_TRUE(write_file(taken + ".theirs", "saved meanwhile"));
    EXPECT_EQ(copy(at("src"), "f", at("dest"), FS_DUPLICATE_REPLACE, nullptr, take_the_name_and_stop, &taken),
              FS_USER_CANCELED);
    EXPECT_EQ(read_file(taken), "saved meanwhile");
    EXPECT_EQ(names(at("dest")), std::set<std::string>{"f"});

    // What killed copies of "f" left: marked entries of the temporaries'
    // names go; an unmarked one, one still locked by its copy and one of
    // another name stay.
    const std::string d = at("dest/");
    for (const char* n : {".f.kivo-copy.Left01", ".f.kivo-copy.Unmark", ".f.kivo-copy.Locked", ".g.kivo-copy.Other1"}) {
        ASSERT_TRUE(write_file(d + n, "part"));
    }
    ASSERT_EQ(mkdir((d + ".f.kivo-copy.Folder").c_str(), 0700), 0);
    ASSERT_TRUE(write_file(d + ".f.kivo-copy.Folder/inner", "part"));
    ASSERT_TRUE(write_file(d + ".f.kivo-aside.Stale1", "replaced before"));
    for (const char* n : {".f.kivo-copy.Left01", ".f.kivo-copy.Locked", ".g.kivo-copy.Other1", ".f.kivo-copy.Folder",
                          ".f.kivo-aside.Stale1"}) {
        ASSERT_TRUE(mark(d + n, n[1] == 'g' ? "g" : "f")) << n;
    }
    int running = open((d + ".f.kivo-copy.Locked").c_str(), O_RDONLY);
    ASSERT_EQ(flock(running, LOCK_EX), 0);
    ASSERT_EQ(copy(at("src"), "f", at("dest"), FS_DUPLICATE_REPLACE), FS_OK);
    close(running);
    EXPECT_EQ(names(at("dest")),
              (std::set<std::string>{"f", ".f.kivo-copy.Unmark", ".f.kivo-copy.Locked", ".g.kivo-copy.Other1"}));
    EXPECT_EQ(read_file(taken), "copied");

    // An old entry a killed copy had moved aside, with the name free: the
    // only copy of it, given back.
    ASSERT_EQ(rename(taken.c_str(), (d + ".f.kivo-aside.Given1").c_str()), 0);
    ASSERT_TRUE(mark(d + ".f.kivo-aside.Given1", "f"));
    EXPECT_EQ(copy(at("src"), "f", at("dest"), FS_DUPLICATE_FAIL), FS_EXISTS);
    EXPECT_EQ(read_file(taken), "copied");
    EXPECT_FALSE(marked(taken, "f"));
    EXPECT_EQ(names(at("dest")).count(".f.kivo-aside.Given1"), 0u);
}

// Two programs copy different objects over one name at once, replacing:
// each call answers 0, the name holds one of the two whole, and nothing of
// either is left hidden beside it.
TEST_F(FileSystemReplace, ReplacingCopiesRacingOverOneNameLeaveOneWholeCopy)
{
    for (const char* d : {"src/d1", "src/d2"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    ASSERT_TRUE(write_file(at("src/f1"), pattern(40000, 6)) && write_file(at("src/f2"), pattern(50000, 7)) &&
                write_file(at("src/d1/in"), "one") && write_file(at("src/d2/in"), "two"));
    const struct
    {
        const char* sources[2];
        bool old_is_folder;
    } cases[] = {{{"f1", "f2"}, true}, {{"d1", "d2"}, false}};
    const std::string dest = at("dest"), shared = at("dest/shared");
    for (const auto& c : cases) {
        for (int trial = 0; trial < 30; ++trial) {
            SCOPED_TRACE(std::string(c.sources[0]) + " trial " + std::to_string(trial));
            ASSERT_TRUE(make_old(shared, c.old_is_folder));
            int go[2];
            ASSERT_EQ(pipe(go), 0);
            pid_t racers[2];
            for (int i = 0; i < 2; ++i) {
                racers[i] = kivo_test::start_child([&, i] {
                    char g;
                    return read(go[0], &g, 1) == 1 &&
                                   copy(at("src"), c.sources[i], dest, FS_DUPLICATE_REPLACE, "shared") == FS_OK
                               ? 0
                               : 1;
                });
            }
            ASSERT_EQ(write(go[1], "gg", 2), 2);
            for (pid_t racer : racers) {
                EXPECT_EQ(kivo_test::wait_child(racer), 0);
            }
            close(go[0]);
            close(go[1]);
            EXPECT_EQ(names(dest), std::set<std::string>{"shared"});
            const std::string now = what(shared);
            EXPECT_TRUE(now == what(at("src/") + c.sources[0]) || now == what(at("src/") + c.sources[1])) << now;
            if (HasFailure()) {
                return;
            }
            kivo_test::remove_tree(shared);
        }
    }
}

// An old entry set aside by a copy killed between its two renames, where
// the file system cannot swap (here by the test switch): the name is free
// and the old entry whole under a marked name. Whatever comes next to that
// name, a copy building a folder in place, a replacing copy or a save,
// gives it back before it looks at the name.
TEST_F(FileSystemReplace, AnEntrySetAsideByAKilledCopyIsGivenBackBeforeTheNameIsTaken)
{
    ASSERT_EQ(mkdir(at("src/album").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(at("src/album/new"), "new") && write_file(at("src/doc"), "copied"));
    const std::string dest = at("dest");
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dest.c_str()));
    const struct
    {
        const char* row;
        const char* source; // copied over the old entry and killed
        bool old_is_folder; // the old entry at "album"
        std::function<bool()> next;
        std::string after; // what "album" holds then
    } cases[] = {
        {"a folder copied to the free name", "album", true,
         [&] { return copy(at("src"), "album", dest, FS_DUPLICATE_FAIL) == FS_EXISTS; }, "folder:old=file:old;"},
        {"a replacing copy", "album", true,
         [&] { return copy(at("src"), "album", dest, FS_DUPLICATE_REPLACE) == FS_OK; }, "folder:new=file:new;"},
        {"a copy of a file to the free name", "album", false,
         [&] { return copy(at("src"), "doc", dest, FS_DUPLICATE_FAIL, "album") == FS_EXISTS; }, "file:old"},
        {"a save", "album", false,
         [&] {
             FILE* fp = FOLDER::open_whole_file((dest + "/album").c_str(), "wb");
             return fp && std::fputs("saved", fp) >= 0 && FOLDER::finish_file(fp, true);
         },
         "file:saved"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.row);
        const std::string target = dest + "/album";
        ASSERT_TRUE(make_old(target, c.old_is_folder));
        const std::string old = what(target);
        const int killed = kivo_test::run_in_child([&] {
            fs_copy_set_aside = [] { raise(SIGKILL); };
            return copy(at("src"), c.source, dest, FS_DUPLICATE_REPLACE);
        });
        ASSERT_EQ(killed, -1);
        EXPECT_EQ(what(target), "none");
        int asides = 0;
        for (const std::string& n : names(dest)) {
            if (n.rfind(".album.kivo-aside.", 0) == 0) {
                EXPECT_EQ(what(dest + "/" + n), old);
                EXPECT_TRUE(marked(dest + "/" + n, "album"));
                ++asides;
            }
        }
        ASSERT_EQ(asides, 1);
        EXPECT_TRUE(c.next());
        EXPECT_EQ(what(target), c.after);
        EXPECT_EQ(names(dest), std::set<std::string>{"album"});
        EXPECT_FALSE(marked(target, "album"));
        kivo_test::remove_tree(target);
    }
}

// An entry a copy through an aside (the test switch) answers
// FS_ENTRY_LEFT_ASIDE for, told to the caller, is the caller's: no save or
// copy of the name deletes it. Here another program takes the name between
// the copy's two renames, so that neither the new object nor the old one
// can have it.
std::string name_taken_meanwhile;
TEST_F(FileSystemReplace, AnEntryACopyLeftAsideAndToldOfIsTheCallersAndStays)
{
    ASSERT_EQ(mkdir(at("src/album").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(at("src/album/new"), "new") && write_file(at("src/doc"), "copied"));
    const std::string dest = at("dest"), target = at("dest/album");
    name_taken_meanwhile = target;
    fs_copy_set_aside = [] { ASSERT_TRUE(write_file(name_taken_meanwhile, "theirs")); };
    struct RESET
    {
        ~RESET() { fs_copy_set_aside = nullptr; }
    } reset;
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dest.c_str()));
    const struct
    {
        const char* source;
        bool old_is_folder;
    } cases[] = {{"album", true}, {"doc", true}, {"album", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.source) + (c.old_is_folder ? " over a folder" : " over a file"));
        ASSERT_TRUE(make_old(target, c.old_is_folder));
        const std::string old = what(target);
        ASSERT_EQ(copy(at("src"), c.source, dest, FS_DUPLICATE_REPLACE, "album"), FS_ENTRY_LEFT_ASIDE);
        std::string aside;
        for (const std::string& n : names(dest)) {
            aside = n.rfind(".album.kivo-aside.", 0) == 0 ? dest + "/" + n : aside;
        }
        ASSERT_FALSE(aside.empty());
        EXPECT_FALSE(marked(aside, "album"));
        // A save of the name, then a copy to it.
        FILE* fp = FOLDER::open_whole_file(target.c_str(), "wb");
        ASSERT_TRUE(fp && std::fputs("saved", fp) >= 0 && FOLDER::finish_file(fp, true));
        EXPECT_EQ(copy(at("src"), "doc", dest, FS_DUPLICATE_FAIL, "album"), FS_EXISTS);
        EXPECT_EQ(what(aside), old);
        EXPECT_EQ(names(dest).size(), 2u);
        kivo_test::remove_tree(aside);
        kivo_test::remove_tree(target);
    }
}

// The way through an aside (the test switch) killed anywhere: the name
// holds the old folder or the new one whole, or, between the two renames,
// nothing while the old one lies whole under its marked aside name, to be
// given back; the next replacing copy leaves just the new one.
TEST_F(FileSystemReplace, ACopyThroughAnAsideKilledAnywhereLosesNothing)
{
    ASSERT_EQ(mkdir(at("src/album").c_str(), 0755), 0);
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(write_file(at("src/album/p") + std::to_string(i), pattern(1u << 20, 8 + i)));
    }
    const std::string dest = at("dest"), target = at("dest/album");
    auto make_old = [&] { return mkdir(target.c_str(), 0755) == 0 && write_file(target + "/old", "old"); };
    ASSERT_TRUE(make_old());
    const std::string old = what(target), fresh = what(at("src/album"));
    fs_copy_set_aside = [] {};
    struct RESET
    {
        ~RESET() { fs_copy_set_aside = nullptr; }
    } reset;
    auto start = [&] {
        return kivo_test::start_child(
            [&] { return copy(at("src"), "album", dest, FS_DUPLICATE_REPLACE) == FS_OK ? 0 : 1; });
    };
    const clock_type::time_point began = clock_type::now();
    ASSERT_EQ(kivo_test::wait_child(start()), 0);
    const clock_type::duration whole = clock_type::now() - began;
    ASSERT_EQ(what(target), fresh);
    std::mt19937 draw(46);
    std::uniform_real_distribution<double> within(0.0, 1.0);
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        kivo_test::remove_tree(target);
        ASSERT_TRUE(make_old());
        const pid_t child = start();
        ASSERT_GT(child, 0);
        std::this_thread::sleep_for(whole * ((i + within(draw)) / 20));
        kill(child, SIGKILL);
        kivo_test::wait_child(child);
        const std::string now = what(target);
        bool old_aside = false;
        for (const std::string& n : names(dest)) {
            if (n != "album") {
                // Marked, or of the private form, killed before its mark.
                EXPECT_TRUE(marked(dest + "/" + n, "album") || unmarked_made(dest, n)) << n;
                old_aside = old_aside || (n.rfind(".album.kivo-aside.", 0) == 0 && what(dest + "/" + n) == old);
            }
        }
        EXPECT_TRUE(now == old || now == fresh || (now == "none" && old_aside)) << now.substr(0, 80);
        // The next copy gives back or clears whatever the killed one left:
        // one to the free name finds the old folder there again.
        if (now == "none") {
            EXPECT_EQ(copy(at("src"), "album", dest, FS_DUPLICATE_FAIL), FS_EXISTS);
            EXPECT_EQ(what(target), old);
        }
        ASSERT_EQ(copy(at("src"), "album", dest, FS_DUPLICATE_REPLACE), FS_OK);
        EXPECT_EQ(names(dest), std::set<std::string>{"album"});
        EXPECT_EQ(what(target), fresh);
        if (HasFailure()) {
            return;
        }
    }
}

// What a clean-up takes: of the pattern only entries marked as the
// target's; of the private form a temporary is made under before its mark,
// this user's entries, marked as the target's or empty and unmarked (a
// kill before the mark). An unmarked entry of the pattern is never a
// temporary: a user's own, even empty, stays through a copy and a save.
TEST_F(FileSystemReplace, OnlyMarkedTemporariesAndEmptyUnmarkedOnesOfThePrivateFormAreCleared)
{
    ASSERT_TRUE(write_file(at("src/f"), "copied"));
    const std::string d = at("dest/");
    const bool root = geteuid() == 0;
    const struct
    {
        const char* name;
        bool folder;
        const char* holds; // what a file, or a file inside a folder, holds, or null
        const char* mark;  // the target its mark names, or null
        bool locked;       // its save or copy still runs
        bool others;       // another user's
        bool cleared;
    } cases[] = {
        {".f.kivo-copy.Mine01", true, nullptr, nullptr, false, false, false},
        {".f.kivo-copy.Full01", true, "part", nullptr, false, false, false},
        {".f.kivo-copy.Other1", true, nullptr, "g", false, false, false},
        {".f.kivo-copy.Runs01", true, nullptr, nullptr, true, false, false},
        {".f.kivo-save.Abc123", false, nullptr, nullptr, false, false, false},
        {".f.kivo-save.Empty2", true, nullptr, nullptr, false, false, false},
        {".g.kivo-copy.Empty3", true, nullptr, nullptr, false, false, false},
        {".kivo-new.Empty4", true, nullptr, nullptr, false, false, true},
        {".kivo-new.Empty5", false, nullptr, nullptr, false, false, true},
        {".kivo-new.Ours01", true, "part", "f", false, false, true},
        {".kivo-new.Ours02", false, "part", "f", false, false, true},
        {".kivo-new.Full02", true, "part", nullptr, false, false, false},
        {".kivo-new.Part01", false, "part", nullptr, false, false, false},
        {".kivo-new.Other2", true, nullptr, "g", false, false, false},
        {".kivo-new.Runs02", false, nullptr, nullptr, true, false, false},
        {".kivo-new.Theirs", true, nullptr, nullptr, false, true, false},
        {".kivo-new.Short", true, nullptr, nullptr, false, false, false},
        {".kivo-new.Longer1", false, nullptr, nullptr, false, false, false},
    };
    std::vector<int> running;
    std::set<std::string> expected = {"f"};
    for (const auto& c : cases) {
        if (c.others && !root) {
            continue; // only the superuser can give it another owner
        }
        const std::string p = d + c.name;
        if (c.folder) {
            ASSERT_EQ(mkdir(p.c_str(), 0700), 0) << c.name;
            ASSERT_TRUE(!c.holds || write_file(p + "/inner", c.holds));
        } else {
            ASSERT_TRUE(write_file(p, c.holds ? c.holds : "")) << c.name;
        }
        if (c.mark) {
            ASSERT_TRUE(mark(p, c.mark)) << c.name;
        }
        if (c.locked) {
            running.push_back(open(p.c_str(), O_RDONLY));
            ASSERT_EQ(flock(running.back(), LOCK_EX), 0);
        }
        if (c.others) {
            ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
        }
        if (!c.cleared) {
            expected.insert(c.name);
        }
    }
    ASSERT_EQ(copy(at("src"), "f", at("dest"), FS_DUPLICATE_FAIL), FS_OK);
    EXPECT_EQ(names(at("dest")), expected);
    FILE* fp = FOLDER::open_whole_file(at("dest/f").c_str(), "wb");
    ASSERT_TRUE(fp && std::fputs("saved", fp) >= 0 && FOLDER::finish_file(fp, true));
    for (int fd : running) {
        close(fd);
    }
    EXPECT_EQ(names(at("dest")), expected);
    EXPECT_EQ(read_file(at("dest/f")), "saved");
    EXPECT_EQ(read_file(d + ".f.kivo-copy.Full01/inner") + read_file(d + ".kivo-new.Part01"), "partpart");
}

// An immutable file in the way, as the superuser can make one; held open,
// so that it is made mutable again wherever it was moved.
class IMMUTABLE
{
public:
    explicit IMMUTABLE(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_NONBLOCK))
    {
        ok_ = set(FS_IMMUTABLE_FL);
    }
    ~IMMUTABLE()
    {
        set(0);
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool ok() const { return ok_; }
    bool still() const
    {
        int flags = 0;
        return ioctl(fd_, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL);
    }

private:
    bool set(int flag)
    {
        int flags = 0;
        if (fd_ < 0 || ioctl(fd_, FS_IOC_GETFLAGS, &flags) != 0) {
            return false;
        }
        flags = (flags & ~FS_IMMUTABLE_FL) | flag;
        return ioctl(fd_, FS_IOC_SETFLAGS, &flags) == 0;
    }
    int fd_;
    bool ok_ = false;
};

TEST_F(FileSystemReplace, DeletesStopAtTheFirstFailureAndNeverClearImmutability)
{
    for (const char* d : {"del", "del/x", "del/y"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    for (const char* f : {"x/i", "x/1", "x/2", "x/3", "x/4", "y/i", "y/1", "y/2", "y/3", "y/4"}) {
        ASSERT_TRUE(write_file(at("del/") + f, f));
    }
    IMMUTABLE x(at("del/x/i")), y(at("del/y/i"));
    if (!x.ok() || !y.ok()) {
        GTEST_SKIP() << "cannot make a file immutable here (needs root and a file system that keeps the flag)";
    }
    EXPECT_EQ(FSDeleteObjects(at("del").c_str()), FS_ACCESS_DENIED);
    EXPECT_TRUE(x.still() && y.still());
    // Stopped at the first: the folder it came to second is untouched.
    EXPECT_TRUE(names(at("del/x")).size() == 5 || names(at("del/y")).size() == 5)
        << names(at("del/x")).size() << " " << names(at("del/y")).size();
    EXPECT_EQ(FSDeleteContainerContents(at("del").c_str()), FS_ACCESS_DENIED);
    EXPECT_TRUE(x.still() && y.still());

    // A folder replaced, by a folder or by a link, whose old tree cannot
    // all be deleted: the copy is in place, and where the rest of the old
    // one lies is told (a link's inside the folder it was made in). Told
    // to the caller, it is the caller's: the next copy of the name leaves
    // it as it is.
    ASSERT_EQ(mkdir(at("src/del").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(at("src/del/new"), "new"));
    ASSERT_EQ(symlink("elsewhere", at("src/ln").c_str()), 0);
    for (const char* d : {"ln", "ln/z"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    ASSERT_TRUE(write_file(at("ln/z/i"), "i") && write_file(at("ln/z/1"), "1"));
    IMMUTABLE z(at("ln/z/i"));
    ASSERT_TRUE(z.ok());
    for (const std::string name : {"del", "ln"}) {
        SCOPED_TRACE(name);
        INT_S32 r;
        {
            kivo_test::CONSOLE_CAPTURE capture(platform_debug_stream);
            r = copy(at("src"), name.c_str(), work, FS_DUPLICATE_REPLACE);
        }
        const std::string& console = kivo_test::CONSOLE_CAPTURE::text();
        EXPECT_EQ(r, FS_ENTRY_LEFT_ASIDE);
        EXPECT_EQ(what(at(name)), what(at("src/") + name));
        const std::string temporary = work + "/." + name + ".kivo-copy.";
        const std::size_t at_path = console.find(temporary);
        ASSERT_NE(at_path, std::string::npos) << console;
        const std::string made = console.substr(at_path, temporary.size() + 6);
        const std::string left = name == "del" ? made : made + "/ln";
        EXPECT_TRUE(names(left).count("x") || names(left).count("y") || names(left).count("z")) << left;
        const std::map<std::string, std::string> told = snapshot(made);
        EXPECT_FALSE(marked(made, name.c_str()) || marked(left, name.c_str()));
        EXPECT_EQ(copy(at("src"), name.c_str(), work, FS_DUPLICATE_FAIL), FS_EXISTS);
        EXPECT_EQ(snapshot(made), told);
    }
}

// A chain of `levels` folders "deep/d/d/...", with a file at its bottom.
bool make_chain(const std::string& root, int levels)
{
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    const char* name = "deep";
    for (int i = 0; i < levels && fd >= 0; ++i, name = "d") {
        int next = mkdirat(fd, name, 0755) == 0 ? openat(fd, name, O_RDONLY | O_DIRECTORY) : -1;
        close(fd);
        fd = next;
    }
    if (fd < 0) {
        return false;
    }
    int f = openat(fd, "bottom", O_WRONLY | O_CREAT, 0644);
    close(fd);
    return f >= 0 && close(f) == 0;
}

TEST_F(FileSystemReplace, TreesDeeperThan256LevelsAreRefused)
{
    ASSERT_TRUE(make_chain(at("src"), 256));
    EXPECT_EQ(copy(at("src"), "deep", at("dest"), FS_DUPLICATE_FAIL), FS_OK);
    EXPECT_EQ(FSDeleteObjects(at("dest/deep").c_str()), FS_OK);
    EXPECT_EQ(FSDeleteObjects(at("src/deep").c_str()), FS_OK);

    ASSERT_TRUE(make_chain(at("src"), 257));
    ASSERT_TRUE(write_file(at("dest/deep"), "old"));
    for (INT_U8 action : {FS_DUPLICATE_NUMBER, FS_DUPLICATE_REPLACE}) {
        EXPECT_EQ(copy(at("src"), "deep", at("dest"), action), FS_IO_ERROR);
        EXPECT_EQ(names(at("dest")), std::set<std::string>{"deep"});
        EXPECT_EQ(read_file(at("dest/deep")), "old");
    }
    EXPECT_EQ(FSDeleteObjects(at("src/deep").c_str()), FS_IO_ERROR);
    std::string bottom = at("src/deep");
    for (int i = 1; i < 257; ++i) {
        bottom += "/d";
    }
    struct stat st;
    EXPECT_EQ(lstat((bottom + "/bottom").c_str(), &st), 0);
}

} // namespace
