// The lock that saves, copies, hidden lists and Finder setters take:
// nobody else can hold it, it needs no right to read the folder, a thread
// never waits for its own hold, every process of the user takes the same
// one whatever its environment, killed holders leave no lock files, a hold
// nobody waits for is taken at once, and a lock folder removed under
// running holds is made again.
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"
#include "folder.h"

#include "child_process.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>

namespace {

constexpr uid_t nobody = 65534;

bool save(const std::string& file, const std::string& text)
{
    FILE* fp = FOLDER::open_whole_file(file.c_str(), "wb");
    return fp && std::fwrite(text.data(), 1, text.size(), fp) == text.size() && FOLDER::finish_file(fp, true);
}

std::set<std::string> entries(const std::string& folder)
{
    std::set<std::string> names;
    if (DIR* d = opendir(folder.c_str())) {
        while (dirent* e = readdir(d)) {
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
                names.insert(e->d_name);
            }
        }
        closedir(d);
    }
    return names;
}

// Becomes "nobody" in a child; false where that cannot be done here.
bool become_nobody()
{
    return setgroups(0, nullptr) == 0 && setresgid(nobody, nobody, nobody) == 0 &&
           setresuid(nobody, nobody, nobody) == 0;
}

class FileSystemLock : public kivo_test::ScratchFolderTest
{};

TEST_F(FileSystemLock, AHoldThisThreadHasIsTakenAgainAtOnce)
{
    const int fd = open(work.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    fs_shared::OBJECT_HOLD first, again;
    fs_shared::FOLDER_HOLD folder;
    ASSERT_TRUE(first.take(fd));
    // Each would wait a minute for itself and fail if it were not the same hold.
    EXPECT_TRUE(again.take(fd));
    EXPECT_TRUE(folder.take(work.c_str()));
    again.release();
    folder.release();
    EXPECT_TRUE(first.held());
    // Another thread waits until this one lets go.
    std::atomic<bool> taken{false};
    std::thread other([&] {
        fs_shared::OBJECT_HOLD theirs;
        taken = theirs.take(fd);
    });
    first.release();
    other.join();
    EXPECT_TRUE(taken);
    close(fd);
}

// Another user who may read the folder and its files locks them all the
// ways flock allows; every call of ours goes on at once.
TEST_F(FileSystemLock, AnotherUserCannotHoldOrDelayOurCalls)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to be another user";
    }
    ASSERT_EQ(mkdir(at("shared").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(at("shared/album").c_str(), 0755), 0);
    for (const char* f : {"shared/notes.txt", "shared/other.txt", "shared/album/a.txt"}) {
        ASSERT_TRUE(kivo_test::write_file(at(f), "words"));
    }
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(work));
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    const std::string shared = at("shared");
    const pid_t child = kivo_test::start_child([&] {
        close(ready[0]);
        close(done[1]);
        if (!become_nobody()) {
            return 77;
        }
        for (const char* f : {"", "/notes.txt", "/other.txt", "/album", "/album/a.txt"}) {
            int fd = open((shared + f).c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) {
                return 1;
            }
        }
        char c = 1;
        if (write(ready[1], &c, 1) != 1) {
            return 2;
        }
        return read(done[0], &c, 1) == 0 ? 0 : 3; // held until we are done
    });
    close(ready[1]);
    close(done[0]);
    char c = 0;
    const bool holding = read(ready[0], &c, 1) == 1;
    close(ready[0]);
    if (holding) {
        EXPECT_TRUE(save(at("shared/notes.txt"), "mine"));
        EXPECT_EQ(FSCopyObject(shared.c_str(), "album", shared.c_str(), 0, 0, FS_DUPLICATE_REPLACE, "copy", false,
                               false, nullptr, nullptr, nullptr, 0),
                  FS_OK);
        EXPECT_EQ(FSSetInvisible(at("shared/other.txt").c_str()), FS_OK);
        EXPECT_EQ(FSChangeCreatorType(at("shared/notes.txt").c_str(), 0x4B49564F, 0x54455854), FS_OK);
        EXPECT_EQ(FSCopyFileMgrAttributes(at("shared/notes.txt").c_str(), at("shared/other.txt").c_str(), false),
                  FS_OK);
    }
    close(done[1]);
    const int code = kivo_test::wait_child(child);
    if (code == 77) {
        GTEST_SKIP() << "cannot become another user here";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(kivo_test::read_file(at("shared/notes.txt")), "mine");
}

// The lock file's name of the object a path names.
std::string lock_file_of(const std::string& path)
{
    struct stat st;
    char name[48] = "";
    if (stat(path.c_str(), &st) == 0) {
        std::snprintf(name, sizeof name, "%llx-%llx.lock", static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
    }
    return name;
}

// Two processes of this user, each set up (its environment) by its own
// function, hide 50 names of their own in `box` at once: released together
// once both are ready, `between` run after the first is ready and before
// the second starts. The names answered other than 0 and the names the
// list lacks.
struct HIDING
{
    int refused = 0, lost = 0;
};
HIDING hide_together(
    const std::string& box, const std::function<bool()>& first, const std::function<bool()>& second,
    const std::function<void()>& between = [] {})
{
    constexpr int names_each = 50;
    int ready[2], go[2];
    if (pipe(ready) != 0 || pipe(go) != 0) {
        return {-1, -1};
    }
    auto hider = [&](char who, const std::function<bool()>& setup) {
        return [&, who] {
            for (int i = 0; i < names_each; ++i) {
                if (!kivo_test::write_file(box + "/" + who + std::to_string(i), "x")) {
                    return 255;
                }
            }
            char c = 1;
            if (!setup() || write(ready[1], &c, 1) != 1 || read(go[0], &c, 1) != 1) {
                return 255;
            }
            int refused = 0;
            for (int i = 0; i < names_each; ++i) {
                refused += FSSetInvisible((box + "/" + who + std::to_string(i)).c_str()) != FS_OK;
            }
            return refused;
        };
    };
    char c = 0;
    const pid_t a = kivo_test::start_child(hider('a', first));
    const bool a_ready = read(ready[0], &c, 1) == 1;
    between();
    const pid_t b = kivo_test::start_child(hider('b', second));
    const bool b_ready = read(ready[0], &c, 1) == 1;
    if (a_ready && b_ready && write(go[1], "gg", 2) != 2) {
        c = 0;
    }
    for (int fd : {ready[0], ready[1], go[0], go[1]}) {
        close(fd);
    }
    const int code_a = kivo_test::wait_child(a), code_b = kivo_test::wait_child(b);
    if (code_a < 0 || code_a > names_each || code_b < 0 || code_b > names_each) {
        return {-1, -1};
    }
    HIDING h;
    h.refused = code_a + code_b;
    const std::string list = "\n" + kivo_test::read_file(box + "/.hidden");
    for (char who : {'a', 'b'}) {
        for (int i = 0; i < names_each; ++i) {
            h.lost += list.find("\n" + (who + std::to_string(i)) + "\n") == std::string::npos;
        }
    }
    return h;
}

// Processes of one user lock in one folder whatever their environment:
// with and without a runtime folder, with two temporary folders, and one
// that chose while the runtime folder was away beside one started once it
// was back. Every change of the one list is kept.
TEST_F(FileSystemLock, ProcessesOfOneUserLockAlikeWhateverTheirEnvironment)
{
    const std::string run = at("run"), later = at("later"), tmp_a = at("tmp-a"), tmp_b = at("tmp-b");
    for (const std::string& f : {run, tmp_a, tmp_b}) {
        ASSERT_EQ(mkdir(f.c_str(), 0700), 0);
    }
    auto runtime = [](const std::string& folder) {
        return [folder] { return setenv("XDG_RUNTIME_DIR", folder.c_str(), 1) == 0; };
    };
    auto temporary = [](const std::string& folder) {
        return [folder] { return unsetenv("XDG_RUNTIME_DIR") == 0 && setenv("TMPDIR", folder.c_str(), 1) == 0; };
    };
    const std::string first_change = at("first");
    ASSERT_TRUE(kivo_test::write_file(first_change, "x"));
    const struct
    {
        const char* label;
        std::function<bool()> first, second;
        std::function<void()> between;
    } pairs[] = {
        {"a runtime folder and none", runtime(run), temporary(tmp_a), [] {}},
        {"two temporary folders", temporary(tmp_a), temporary(tmp_b), [] {}},
        {"the runtime folder away, then back",
         [&] { return runtime(later)() && FSSetInvisible(first_change.c_str()) == FS_OK; }, runtime(later),
         [&] { mkdir(later.c_str(), 0700); }},
    };
    for (const auto& pair : pairs) {
        const std::string box = at(pair.label);
        ASSERT_EQ(mkdir(box.c_str(), 0755), 0);
        const HIDING h = hide_together(box, pair.first, pair.second, pair.between);
        EXPECT_EQ(h.refused, 0) << pair.label;
        EXPECT_EQ(h.lost, 0) << pair.label;
    }
}

// Another user took the lock folder's name under /tmp first: every process
// of ours goes to one in the home, a process that chose /tmp before the
// name was taken included, and nothing of ours lands in the other user's
// folder. Where the home has none to give either, a change of a list or a
// Finder value is refused rather than made without the lock; a save goes on.
TEST_F(FileSystemLock, ALockFolderTakenByAnotherUserIsNotUsed)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to be another user";
    }
    const std::string tmp = at("tmp"), home = at("home");
    ASSERT_EQ(mkdir(tmp.c_str(), 01777), 0);
    ASSERT_EQ(chmod(tmp.c_str(), 01777), 0);
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(work));
    fs_shared::set_lock_bases_for_testing(tmp.c_str(), home.c_str());
    const std::string ours = tmp + "/kivo-locks-" + std::to_string(geteuid()), box = at("box");
    ASSERT_EQ(mkdir(box.c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(at("first"), "x"));
    int squatted = -1;
    const HIDING h = hide_together(
        box, [&] { return FSSetInvisible(at("first").c_str()) == FS_OK; }, [] { return true; },
        [&] {
            // The name freed (the folder emptied and removed by a cleaner) and taken.
            kivo_test::remove_tree(ours);
            squatted = kivo_test::run_in_child([&] {
                return !become_nobody() ? 77 : mkdir(ours.c_str(), 0777) == 0 && chmod(ours.c_str(), 0777) == 0 ? 0 : 1;
            });
        });
    if (squatted == 77) {
        GTEST_SKIP() << "cannot become another user here";
    }
    ASSERT_EQ(squatted, 0);
    EXPECT_EQ(h.refused, 0);
    EXPECT_EQ(h.lost, 0);
    EXPECT_TRUE(save(at("notes.txt"), "kept"));
    EXPECT_EQ(FSSetInvisible(at("notes.txt").c_str()), FS_OK);
    EXPECT_EQ(kivo_test::read_file(at("notes.txt")), "kept");
    EXPECT_TRUE(entries(ours).empty());
    const std::set<std::string> cache = entries(home + "/.cache");
    ASSERT_EQ(cache.size(), 1u);
    EXPECT_EQ(cache.begin()->rfind("kivo-locks", 0), 0u);
    EXPECT_TRUE(entries(home + "/.cache/" + *cache.begin()).count(lock_file_of(at("notes.txt"))));
    // No home to hold one.
    fs_shared::set_lock_bases_for_testing(tmp.c_str(), at("notes.txt").c_str());
    ASSERT_TRUE(kivo_test::write_file(at("other.txt"), "x"));
    const std::string list = kivo_test::read_file(at(".hidden"));
    EXPECT_EQ(FSSetInvisible(at("other.txt").c_str()), FS_IO_ERROR);
    EXPECT_EQ(FSChangeCreatorType(at("other.txt").c_str(), 0x4B49564F, 0), FS_IO_ERROR);
    EXPECT_EQ(kivo_test::read_file(at(".hidden")), list);
    EXPECT_TRUE(save(at("other.txt"), "saved all the same"));
    EXPECT_EQ(kivo_test::read_file(at("other.txt")), "saved all the same");
}

// A new temporary whose lock another's clean-up holds at that instant (it
// may delete it) is not used: another is made, and the one held is gone.
TEST_F(FileSystemLock, ATemporaryHeldByAnotherIsNotUsed)
{
    static std::string folder;
    static int held = -1;
    static ino_t held_node = 0;
    folder = work;
    held = -1;
    // On the first temporary only: its private name is the one entry so named.
    auto hold_new = [] {
        for (const std::string& n : entries(folder)) {
            if (held < 0 && n.rfind(".kivo-new.", 0) == 0) {
                held = open((folder + "/" + n).c_str(), O_RDONLY | O_CLOEXEC);
                struct stat st;
                if (held >= 0 && flock(held, LOCK_EX | LOCK_NB) == 0 && fstat(held, &st) == 0) {
                    held_node = st.st_ino;
                }
            }
        }
    };
    struct stat st;
    fs_no_unnamed_files = hold_new;
    const bool saved = save(at("notes.txt"), "kept");
    fs_no_unnamed_files = nullptr;
    ASSERT_GE(held, 0);
    EXPECT_TRUE(saved);
    ASSERT_EQ(stat(at("notes.txt").c_str(), &st), 0);
    EXPECT_NE(st.st_ino, held_node);
    EXPECT_EQ(kivo_test::read_file(at("notes.txt")), "kept");
    EXPECT_EQ(entries(work), std::set<std::string>{"notes.txt"});
    close(held);
    held = -1;
    ASSERT_EQ(mkdir(at("album").c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(at("album/a.txt"), "a"));
    fs_temporary_folder_made = hold_new;
    const INT_S32 copied = FSCopyObject(work.c_str(), "album", work.c_str(), 0, 0, FS_DUPLICATE_REPLACE, "copy", false,
                                        false, nullptr, nullptr, nullptr, 0);
    fs_temporary_folder_made = nullptr;
    ASSERT_GE(held, 0);
    EXPECT_EQ(copied, FS_OK);
    ASSERT_EQ(stat(at("copy").c_str(), &st), 0);
    EXPECT_NE(st.st_ino, held_node);
    EXPECT_EQ(kivo_test::read_file(at("copy/a.txt")), "a");
    EXPECT_EQ(entries(work), (std::set<std::string>{"album", "copy", "notes.txt"}));
    close(held);
}

// A copy's filter that saves, hides and sets Finder information inside the
// object the copy is making, to a free name and over an old one.
TEST_F(FileSystemLock, ACopysFilterWorksInsideTheCopyBeingMade)
{
    ASSERT_EQ(mkdir(at("album").c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(at("album/a.txt"), "a"));
    ASSERT_EQ(mkdir(at("old").c_str(), 0755), 0);
    struct RESULTS
    {
        int calls = 0, failures = 0;
    };
    FS_COPY_FILTER filter = [](const char* path, const char*, INT_U32 level, const struct stat*, void* data) {
        RESULTS& r = *static_cast<RESULTS*>(data);
        if (level == 0) {
            const std::string inside = std::string(path) + "/note.txt";
            r.calls++;
            r.failures += !save(inside, "from the filter");
            r.failures += FSSetInvisible(inside.c_str()) != FS_OK;
            r.failures += FSChangeCreatorType(inside.c_str(), 0x4B49564F, 0) != FS_OK;
            r.failures += FSSetInvisible(path) != FS_OK;
        }
        return false;
    };
    for (const char* target : {"new", "old"}) {
        RESULTS results;
        EXPECT_EQ(FSCopyObject(work.c_str(), "album", work.c_str(), 0, 0, FS_DUPLICATE_REPLACE, target, false, false,
                               filter, &results, nullptr, 0),
                  FS_OK)
            << target;
        EXPECT_EQ(results.calls, 1) << target;
        EXPECT_EQ(results.failures, 0) << target;
        EXPECT_EQ(kivo_test::read_file(at(target) + "/a.txt"), "a") << target;
    }
}

// A save to a pipe waits for its reader; meanwhile the folder is not held.
TEST_F(FileSystemLock, ASaveWaitingForAPipesReaderHoldsNothing)
{
    ASSERT_EQ(mkfifo(at("pipe").c_str(), 0600), 0);
    ASSERT_TRUE(kivo_test::write_file(at("other.txt"), "x"));
    std::atomic<long> writer{0};
    std::atomic<bool> saved{false};
    std::thread saver([&] {
        writer = syscall(SYS_gettid);
        saved = save(at("pipe"), "through the pipe");
    });
    // Until the writer is inside its open of the pipe, bounded.
    bool opening = false;
    for (int i = 0; i < 10000 && !opening; ++i) {
        long tid = writer;
        std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
        long number = -1;
        opening = tid != 0 && (in >> number) && number == SYS_openat;
        if (!opening) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    EXPECT_TRUE(opening);
    EXPECT_EQ(FSSetInvisible(at("other.txt").c_str()), FS_OK);
    const int reader = open(at("pipe").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    char bytes[64];
    ssize_t n = 0, got = 0;
    while ((n = read(reader, bytes + got, sizeof bytes - static_cast<std::size_t>(got))) > 0) {
        got += n;
    }
    close(reader);
    saver.join();
    EXPECT_TRUE(saved);
    EXPECT_EQ(std::string(bytes, static_cast<std::size_t>(got)), "through the pipe");
}

// Two processes of a user who may write and search the folder but not
// read it hide their own names there: every change is kept.
TEST_F(FileSystemLock, HidingInAFolderThatCannotBeReadLosesNoName)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to be another user";
    }
    const std::string box = at("box"), run = at("run");
    ASSERT_EQ(mkdir(box.c_str(), 0300), 0);
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    for (const std::string& f : {box, run}) {
        ASSERT_EQ(chown(f.c_str(), nobody, nobody), 0);
    }
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(work));
    constexpr int names_each = 40;
    auto hider = [&](char who) {
        return [=] {
            if (!become_nobody() || setenv("XDG_RUNTIME_DIR", run.c_str(), 1) != 0) {
                return 77;
            }
            if (opendir(box.c_str()) != nullptr) {
                return 1; // not a folder this user may not read
            }
            int failed = 0;
            for (int i = 0; i < names_each; ++i) {
                const std::string file = box + "/" + who + std::to_string(i);
                failed += !kivo_test::write_file(file, "x") || FSSetInvisible(file.c_str()) != FS_OK;
            }
            return failed == 0 ? 0 : 2;
        };
    };
    const pid_t a = kivo_test::start_child(hider('a')), b = kivo_test::start_child(hider('b'));
    const int code_a = kivo_test::wait_child(a), code_b = kivo_test::wait_child(b);
    if (code_a == 77 || code_b == 77) {
        GTEST_SKIP() << "cannot become another user here";
    }
    EXPECT_EQ(code_a, 0);
    EXPECT_EQ(code_b, 0);
    const std::string list = kivo_test::read_file(box + "/.hidden");
    int lost = 0;
    for (char who : {'a', 'b'}) {
        for (int i = 0; i < names_each; ++i) {
            lost += list.find(who + std::to_string(i) + "\n") == std::string::npos;
        }
    }
    EXPECT_EQ(lost, 0) << list;
}

// A process keeps only a few lock files of those it let go; those of
// ended and killed holders go at a process's first hold, but one somebody
// holds stays.
TEST_F(FileSystemLock, LockFilesOfHoldersGoneGoAtAProcesssFirstHold)
{
    const std::string tmp = at("tmp"), locks = tmp + "/kivo-locks-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(locks.c_str(), 0700), 0);
    fs_shared::set_lock_bases_for_testing(tmp.c_str(), at("home").c_str());
    ASSERT_TRUE(kivo_test::write_file(locks + "/1-2.lock", ""));
    ASSERT_TRUE(kivo_test::write_file(locks + "/3-4.lock", ""));
    ASSERT_TRUE(kivo_test::write_file(locks + "/notes.txt", "not ours to take"));
    const int held = open((locks + "/3-4.lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    // A lock of another open file of this process stands for another holder.
    ASSERT_EQ(mkdir(at("a").c_str(), 0755), 0);
    const int code = kivo_test::run_in_child([&] {
        for (int i = 0; i < 40; ++i) {
            const std::string file = at("a/") + std::to_string(i);
            if (!save(file, "x") || FSSetInvisible(file.c_str()) != FS_OK) {
                return 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(code, 0);
    std::set<std::string> left = entries(locks);
    EXPECT_FALSE(left.count("1-2.lock"));
    EXPECT_LT(left.size(), 20u) << "of 41 objects held";
    ASSERT_TRUE(kivo_test::write_file(at("b"), "x"));
    EXPECT_EQ(kivo_test::run_in_child([&] { return FSSetInvisible(at("b").c_str()) == FS_OK ? 0 : 1; }), 0);
    EXPECT_EQ(entries(locks),
              (std::set<std::string>{"3-4.lock", "notes.txt", lock_file_of(work), lock_file_of(at("b"))}));
    close(held);
}

// The times this thread has waited (slept or blocked) so far.
long waits_of_this_thread()
{
    struct rusage r;
    return getrusage(RUSAGE_THREAD, &r) == 0 ? r.ru_nvcsw : 0;
}

// Nobody waits for these objects, so no hold waits: not on a lock file
// made as it is taken (an object never held, or one whose file was
// dropped from those the process keeps open), nor on one made new as it is
// taken because it was a day old.
TEST_F(FileSystemLock, AHoldNobodyWaitsForIsTakenAtOnce)
{
    const std::string tmp = at("tmp"), locks = tmp + "/kivo-locks-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    fs_shared::set_lock_bases_for_testing(tmp.c_str(), at("home").c_str());
    constexpr dev_t dev = 0x5eed;
    fs_shared::OBJECT_HOLD hold;
    ASSERT_TRUE(hold.take(dev, ino_t{1000}));
    hold.release();
    // A day and more old, as the file of an object held all along is.
    const std::string old = locks + "/5eed-3e9.lock";
    ASSERT_TRUE(kivo_test::write_file(old, ""));
    const struct timespec two_days_ago[2] = {{std::time(nullptr) - 2 * 86400, 0}, {std::time(nullptr) - 2 * 86400, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, old.c_str(), two_days_ago, 0), 0);
    const long before = waits_of_this_thread();
    int takes = 0, taken = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (ino_t ino = 1; ino <= 40; ++ino, ++takes) {
            taken += hold.take(dev, ino);
            hold.release();
        }
    }
    for (int again = 0; again < 2; ++again, ++takes) {
        taken += hold.take(dev, ino_t{1001});
        hold.release();
    }
    const long waits = waits_of_this_thread() - before;
    EXPECT_EQ(taken, takes);
    EXPECT_LT(waits, takes / 4) << "of " << takes << " holds";
    struct stat st;
    ASSERT_EQ(stat(old.c_str(), &st), 0);
    EXPECT_GT(st.st_mtime, two_days_ago[1].tv_sec + 86400);
}

// The thread's id once it pauses in a wait (bounded): its system call.
bool pausing(const std::atomic<long>& thread)
{
    for (int i = 0; i < 10000; ++i) {
        std::ifstream in("/proc/self/task/" + std::to_string(thread.load()) + "/syscall");
        long number = -1;
        if (thread.load() != 0 && (in >> number) && (number == SYS_clock_nanosleep || number == SYS_nanosleep)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// A cleaner removes the lock folder with the lock files in it: a hold
// taken inside another, a waiter whose lock file went with it, and the
// calls after it go on in the folder made again, which is private again.
TEST_F(FileSystemLock, ALockFolderRemovedUnderHoldsIsMadeAgain)
{
    const std::string tmp = at("tmp"), locks = tmp + "/kivo-locks-" + std::to_string(geteuid());
    ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
    fs_shared::set_lock_bases_for_testing(tmp.c_str(), at("home").c_str());
    ASSERT_TRUE(kivo_test::write_file(at("notes.txt"), "x"));
    struct stat notes;
    ASSERT_EQ(stat(at("notes.txt").c_str(), &notes), 0);
    // Held by another open file of the lock file, standing for another
    // process, while this process's waiter has its own open.
    fs_shared::OBJECT_HOLD hold;
    ASSERT_TRUE(hold.take(notes.st_dev, notes.st_ino));
    hold.release();
    const int other = open((locks + "/" + lock_file_of(at("notes.txt"))).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX | LOCK_NB), 0);
    std::atomic<long> waiter{0};
    std::atomic<bool> taken{false};
    std::thread waiting([&] {
        waiter = syscall(SYS_gettid);
        fs_shared::OBJECT_HOLD theirs;
        taken = theirs.take(notes.st_dev, notes.st_ino);
    });
    EXPECT_TRUE(pausing(waiter));
    kivo_test::remove_tree(locks);
    close(other);
    waiting.join();
    EXPECT_TRUE(taken);
    fs_shared::FOLDER_HOLD folder;
    ASSERT_TRUE(folder.take(work.c_str()));
    kivo_test::remove_tree(locks);
    EXPECT_TRUE(hold.take(notes.st_dev, notes.st_ino)) << std::strerror(errno);
    hold.release();
    folder.release();
    kivo_test::remove_tree(locks);
    EXPECT_EQ(FSSetInvisible(at("notes.txt").c_str()), FS_OK);
    EXPECT_TRUE(save(at("notes.txt"), "saved"));
    struct stat st;
    ASSERT_EQ(lstat(locks.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

} // namespace
