// The lock that saves, copies, hidden lists and Finder setters take:
// nobody else can hold it, it needs no right to read the folder, a thread
// never waits for its own hold, and its files go with their holds.
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_shared.h"
#include "folder.h"

#include "child_process.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
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

// Neither folder of ours can be had (the temporary folder's lock folder
// taken by another user first, no runtime folder): saves go on, and
// nothing of ours lands in the other user's folder.
TEST_F(FileSystemLock, ALockFolderTakenByAnotherUserIsNotUsed)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to be another user";
    }
    ASSERT_EQ(mkdir(at("tmp").c_str(), 01777), 0);
    ASSERT_EQ(chmod(at("tmp").c_str(), 01777), 0);
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(work));
    const std::string squatted = at("tmp/kivo-locks-0");
    const int code = kivo_test::run_in_child([&] {
        return !become_nobody() ? 77 : mkdir(squatted.c_str(), 0777) == 0 && chmod(squatted.c_str(), 0777) == 0 ? 0 : 1;
    });
    if (code == 77) {
        GTEST_SKIP() << "cannot become another user here";
    }
    ASSERT_EQ(code, 0);
    setenv("TMPDIR", at("tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", at("none").c_str(), 1);
    EXPECT_TRUE(save(at("notes.txt"), "kept"));
    EXPECT_EQ(FSSetInvisible(at("notes.txt").c_str()), FS_OK);
    EXPECT_EQ(kivo_test::read_file(at("notes.txt")), "kept");
    EXPECT_TRUE(entries(squatted).empty());
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

// Lock files come and go with their holds; those of killed holders go at
// a process's first hold, but one somebody holds stays.
TEST_F(FileSystemLock, LockFilesGoWithTheirHolds)
{
    const std::string run = at("run"), locks = at("run/kivo-locks");
    ASSERT_EQ(mkdir(run.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(locks.c_str(), 0700), 0);
    ASSERT_TRUE(kivo_test::write_file(locks + "/1-2.lock", ""));
    ASSERT_TRUE(kivo_test::write_file(locks + "/3-4.lock", ""));
    ASSERT_TRUE(kivo_test::write_file(locks + "/notes.txt", "not ours to take"));
    const int held = open((locks + "/3-4.lock").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    // A lock of another open file of this process stands for another holder.
    const int code = kivo_test::run_in_child([&] {
        setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        for (const char* f : {"a", "b", "c"}) {
            if (mkdir(at(f).c_str(), 0755) != 0 || !save(at(f) + "/notes.txt", f) ||
                FSSetInvisible((at(f) + "/notes.txt").c_str()) != FS_OK) {
                return 1;
            }
        }
        return 0;
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(entries(locks), (std::set<std::string>{"3-4.lock", "notes.txt"}));
    close(held);
}

} // namespace
