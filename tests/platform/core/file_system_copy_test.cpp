#include "file_system.h"
#include "file_system_catalog.h"

#include "child_process.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;

class FileSystemCopy : public kivo_test::ScratchFolderTest
{
protected:
    void mkdirs(const std::vector<std::string>& names) const
    {
        for (const std::string& n : names) {
            ASSERT_EQ(mkdir(at(n).c_str(), 0755), 0) << n;
        }
    }
};

bool exists(const std::string& p)
{
    struct stat st;
    return lstat(p.c_str(), &st) == 0;
}

// Every path below a folder, relative to it.
std::set<std::string> tree(const std::string& root, const std::string& prefix = "")
{
    std::set<std::string> out;
    DIR* d = opendir((root + prefix).c_str());
    if (!d) {
        return out;
    }
    while (dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) {
            continue;
        }
        const std::string rel = prefix + "/" + e->d_name;
        out.insert(rel);
        struct stat st;
        if (lstat((root + rel).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            std::set<std::string> inner = tree(root, rel);
            out.insert(inner.begin(), inner.end());
        }
    }
    closedir(d);
    return out;
}

INT_S32 copy(const std::string& dir, const char* name, const std::string& dest, INT_U8 action,
             const char* new_name = nullptr, INT_U32 levels = 0, FS_COPY_FILTER filter = nullptr, void* data = nullptr,
             char* new_ref = nullptr, std::size_t new_ref_size = 0)
{
    return FSCopyObject(dir.c_str(), name, dest.c_str(), levels, 0, action, new_name, false, false, filter, data,
                        new_ref, new_ref_size);
}

TEST_F(FileSystemCopy, NumberedDuplicatesLevelsAndTheNewReference)
{
    mkdirs({"src", "dest"});
    ASSERT_TRUE(write_file(at("src/a.txt"), "new") && write_file(at("src/plain"), "p") &&
                write_file(at("src/.hidden"), "h") && write_file(at("src/x.tar.gz"), "t"));
    ASSERT_TRUE(write_file(at("dest/a.txt"), "old") && write_file(at("dest/plain"), "p0") &&
                write_file(at("dest/.hidden"), "h0") && write_file(at("dest/x.tar.gz"), "t0"));
    char ref[FS_PATH_MAX] = "?";
    ASSERT_EQ(copy(at("src"), "a.txt", at("dest"), FS_DUPLICATE_NUMBER, nullptr, 0, nullptr, nullptr, ref, sizeof(ref)),
              FS_OK);
    EXPECT_EQ(std::string(ref), at("dest/a 1.txt"));
    EXPECT_EQ(read_file(at("dest/a.txt")) + read_file(at("dest/a 1.txt")), "oldnew");
    for (int i = 2; i <= 9; ++i) {
        ASSERT_EQ(copy(at("src"), "a.txt", at("dest"), FS_DUPLICATE_NUMBER), FS_OK) << i;
        EXPECT_EQ(read_file(at("dest/a " + std::to_string(i) + ".txt")), "new");
    }
    // All nine taken: nothing more is made.
    const std::set<std::string> before = tree(at("dest"));
    EXPECT_EQ(copy(at("src"), "a.txt", at("dest"), FS_DUPLICATE_NUMBER, nullptr, 0, nullptr, nullptr, ref, sizeof(ref)),
              FS_EXISTS);
    EXPECT_STREQ(ref, "");
    EXPECT_EQ(tree(at("dest")), before);
    // No suffix, a hidden name, two dots; and a copy beside itself.
    EXPECT_EQ(copy(at("src"), "plain", at("dest"), FS_DUPLICATE_NUMBER), FS_OK);
    EXPECT_EQ(copy(at("src"), ".hidden", at("dest"), FS_DUPLICATE_NUMBER), FS_OK);
    EXPECT_EQ(copy(at("src"), "x.tar.gz", at("dest"), FS_DUPLICATE_NUMBER), FS_OK);
    EXPECT_EQ(copy(at("src"), "a.txt", at("src"), FS_DUPLICATE_NUMBER), FS_OK);
    EXPECT_EQ(read_file(at("dest/plain 1")) + read_file(at("dest/.hidden 1")) + read_file(at("dest/x.tar 1.gz")) +
                  read_file(at("src/a 1.txt")),
              "phtnew");
    // A name with no room for " 1" fails without making anything.
    const std::string longest(FS_NAME_MAX, 'n');
    ASSERT_TRUE(write_file(at("dest/" + longest), "x"));
    EXPECT_EQ(copy(at("src"), "plain", at("dest"), FS_DUPLICATE_NUMBER, longest.c_str()), FS_BAD_NAME);
    char small[8];
    EXPECT_EQ(
        copy(at("src"), "plain", at("dest"), FS_DUPLICATE_NUMBER, nullptr, 0, nullptr, nullptr, small, sizeof(small)),
        FS_BAD_NAME);
    EXPECT_FALSE(exists(at("dest/plain 2")));

    // Three levels below the copied folder: a limit leaves the folders at
    // its level empty.
    mkdirs({"top", "top/d1", "top/d1/d2", "out"});
    ASSERT_TRUE(write_file(at("top/f1"), "1") && write_file(at("top/d1/f2"), "2") &&
                write_file(at("top/d1/d2/f3"), "3"));
    const std::set<std::string> one = {"/f1", "/d1"}, two = {"/f1", "/d1", "/d1/f2", "/d1/d2"},
                                all = {"/f1", "/d1", "/d1/f2", "/d1/d2", "/d1/d2/f3"};
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, "l1", 1), FS_OK);
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, "l2", 2), FS_OK);
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, "l0", 0), FS_OK);
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, "l3", 3), FS_OK);
    EXPECT_EQ(tree(at("out/l1")), one);
    EXPECT_EQ(tree(at("out/l2")), two);
    EXPECT_EQ(tree(at("out/l0")), all);
    EXPECT_EQ(tree(at("out/l3")), all);
    EXPECT_EQ(read_file(at("out/l2/d1/f2")), "2");
}

struct SEEN
{
    std::vector<std::string> paths;
    std::vector<INT_U32> levels;
    long long bytes = 0;
    std::size_t stop_at = 0; // 0: never
};

bool record(const char* path, const char* name, INT_U32 level, const struct stat* info, void* data)
{
    SEEN& seen = *static_cast<SEEN*>(data);
    const char* slash = std::strrchr(path, '/');
    EXPECT_TRUE(slash && !std::strcmp(slash + 1, name)) << path;
    EXPECT_TRUE(exists(path)) << path; // told once it is made
    seen.paths.push_back(path);
    seen.levels.push_back(level);
    if (S_ISREG(info->st_mode)) {
        seen.bytes += info->st_size;
    }
    return seen.paths.size() == seen.stop_at;
}

TEST_F(FileSystemCopy, TheFilterIsToldOfEachObjectAndMayStopTheCopy)
{
    mkdirs({"top", "top/d1", "top/d1/d2", "out"});
    ASSERT_TRUE(write_file(at("top/f1"), "1") && write_file(at("top/d1/f2"), "22") &&
                write_file(at("top/d1/d2/f3"), "333"));
    SEEN seen;
    ASSERT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, nullptr, 0, record, &seen), FS_OK);
    // Told under the temporary name the copy is made under, to a free name
    // too: ".top.kivo-copy." and six characters.
    const std::string temporary = at("out/.top.kivo-copy.");
    std::set<std::string> told;
    for (const std::string& p : seen.paths) {
        ASSERT_EQ(p.compare(0, temporary.size(), temporary), 0) << p;
        told.insert(p.substr(temporary.size() + 6));
    }
    EXPECT_EQ(told, (std::set<std::string>{"", "/f1", "/d1", "/d1/f2", "/d1/d2", "/d1/d2/f3"}));
    EXPECT_EQ(seen.bytes, 6);
    for (std::size_t i = 0; i < seen.paths.size(); ++i) {
        const std::string rel = seen.paths[i].substr(temporary.size() + 6);
        EXPECT_EQ(seen.levels[i], static_cast<INT_U32>(std::count(rel.begin(), rel.end(), '/'))) << rel;
    }
    EXPECT_EQ(tree(at("out/top")), (std::set<std::string>{"/f1", "/d1", "/d1/f2", "/d1/d2", "/d1/d2/f3"}));
    // Stopped at the third object: nothing of the copy is left, and the
    // entry it was to replace is given back.
    ASSERT_TRUE(write_file(at("out/top/mine"), "keep"));
    const std::set<std::string> before = tree(at("out"));
    SEEN stopper;
    stopper.stop_at = 3;
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_REPLACE, nullptr, 0, record, &stopper), FS_USER_CANCELED);
    EXPECT_EQ(stopper.paths.size(), 3u);
    EXPECT_EQ(tree(at("out")), before);
    stopper.paths.clear();
    EXPECT_EQ(copy(work, "top", at("out"), FS_DUPLICATE_FAIL, "fresh", 0, record, &stopper), FS_USER_CANCELED);
    EXPECT_EQ(tree(at("out")), before);
    // The copied object itself stops it too: a file.
    stopper = SEEN();
    stopper.stop_at = 1;
    EXPECT_EQ(copy(at("top"), "f1", at("out"), FS_DUPLICATE_FAIL, nullptr, 0, record, &stopper), FS_USER_CANCELED);
    EXPECT_FALSE(exists(at("out/f1")));
}

TEST_F(FileSystemCopy, NeverIntoItselfAndNothingMade)
{
    mkdirs({"src", "src/inner", "src/inner/deeper"});
    ASSERT_TRUE(write_file(at("src/f"), "f"));
    const std::set<std::string> before = tree(at("src"));
    char ref[FS_PATH_MAX] = "?";
    for (const char* dest : {"src", "src/inner", "src/inner/deeper"}) {
        for (INT_U8 action : {FS_DUPLICATE_FAIL, FS_DUPLICATE_REPLACE, FS_DUPLICATE_NUMBER}) {
            EXPECT_EQ(copy(work, "src", at(dest), action, nullptr, 0, nullptr, nullptr, ref, sizeof(ref)),
                      FS_INSIDE_SOURCE)
                << dest;
            EXPECT_STREQ(ref, "");
        }
    }
    // Through a link to a folder inside it, too.
    ASSERT_EQ(symlink(at("src/inner").c_str(), at("to-inner").c_str()), 0);
    EXPECT_EQ(copy(work, "src", at("to-inner"), FS_DUPLICATE_NUMBER), FS_INSIDE_SOURCE);
    EXPECT_EQ(tree(at("src")), before);
}

// A drop box: a folder others may write and search but not read, written
// by a user who does not own it. The child drops to the unprivileged
// "nobody" ids; exit 77 where that cannot be done here.
TEST_F(FileSystemCopy, ADropBoxTakesCopiesFromAnotherUser)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give the drop box another owner than the copying user";
    }
    mkdirs({"src", "src/sub", "box"});
    ASSERT_TRUE(write_file(at("src/a.txt"), "letter") && write_file(at("src/sub/b"), "inner"));
    ASSERT_EQ(chmod(at("box").c_str(), 0733), 0);
    ASSERT_TRUE(write_file(at("box/taken"), "someone else's"));
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(work));
    const std::string src = at("src"), box = at("box");
    const uid_t nobody = 65534;
    int code = kivo_test::run_in_child([&] {
        if (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
            setresuid(nobody, nobody, nobody) != 0 || access(src.c_str(), R_OK | X_OK) != 0) {
            return 77;
        }
        if (opendir(box.c_str()) != nullptr || errno != EACCES) {
            return 1; // not a drop box to this user
        }
        char ref[FS_PATH_MAX];
        if (copy(src, "a.txt", box, FS_DUPLICATE_FAIL, nullptr, 0, nullptr, nullptr, ref, sizeof(ref)) != FS_OK ||
            box + "/a.txt" != ref) {
            return 2;
        }
        if (copy(src, "a.txt", box, FS_DUPLICATE_FAIL) != FS_EXISTS) {
            return 3;
        }
        if (copy(src, "a.txt", box, FS_DUPLICATE_NUMBER, nullptr, 0, nullptr, nullptr, ref, sizeof(ref)) != FS_OK ||
            box + "/a 1.txt" != ref) {
            return 4;
        }
        if (copy(src, "a.txt", box, FS_DUPLICATE_REPLACE, "taken") != FS_OK) {
            return 5;
        }
        if (copy(src, "sub", box, FS_DUPLICATE_FAIL) != FS_OK || copy(src, "sub", box, FS_DUPLICATE_NUMBER) != FS_OK) {
            return 6;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "cannot run as the unprivileged user here";
    }
    ASSERT_EQ(code, 0);
    EXPECT_EQ(tree(box),
              (std::set<std::string>{"/a.txt", "/a 1.txt", "/taken", "/sub", "/sub/b", "/sub 1", "/sub 1/b"}));
    EXPECT_EQ(read_file(box + "/a.txt") + read_file(box + "/a 1.txt") + read_file(box + "/taken") +
                  read_file(box + "/sub 1/b"),
              "letterletterletterinner");
    struct stat st;
    ASSERT_EQ(stat((box + "/a 1.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody);
}

TEST_F(FileSystemCopy, AReadOnlyVolumeIsLockedForCopiesAndMoves)
{
    EXPECT_EQ(fs_error_from_errno(EROFS), FS_VOLUME_LOCKED);
    mkdirs({"mnt"});
    ASSERT_TRUE(write_file(at("outside"), "o"));
    const std::string mnt = at("mnt");
    int code = kivo_test::run_on_own_mount(mnt, "tmpfs", 0, "size=1m", [&] {
        if (mkdir((mnt + "/d").c_str(), 0755) != 0 || !write_file(mnt + "/f", "f")) {
            return 1;
        }
        if (mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            return 77;
        }
        const char* m = mnt.c_str();
        if (FSCopyFile(work.c_str(), "outside", m, nullptr) != FS_VOLUME_LOCKED ||
            FSCopyFile(m, "f", m, "g") != FS_VOLUME_LOCKED) {
            return 2;
        }
        if (copy(work, "outside", mnt, FS_DUPLICATE_FAIL) != FS_VOLUME_LOCKED ||
            copy(mnt, "d", mnt, FS_DUPLICATE_NUMBER) != FS_VOLUME_LOCKED) {
            return 3;
        }
        if (FSMoveRename(m, "f", (mnt + "/d").c_str(), nullptr) != FS_VOLUME_LOCKED ||
            FSMoveRename(m, "f", m, "renamed") != FS_VOLUME_LOCKED) {
            return 4;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(code, 0);
}

TEST_F(FileSystemCopy, AForkCopyRefusesOneFileAtBothEndsAndKeepsWhatArrived)
{
    const std::string file = at("file"), linked = at("linked");
    std::string bytes;
    for (int i = 0; i < 12388; ++i) {
        bytes += static_cast<char>('a' + i % 26);
    }
    ASSERT_TRUE(write_file(file, bytes));
    ASSERT_EQ(link(file.c_str(), linked.c_str()), 0);
    char buffer[4096];
    int fd = open(file.c_str(), O_RDWR), again = open(linked.c_str(), O_WRONLY | O_APPEND);
    ASSERT_TRUE(fd >= 0 && again >= 0);
    EXPECT_EQ(FSCopyFork(fd, fd, buffer, sizeof(buffer)), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSCopyFork(fd, again, buffer, sizeof(buffer)), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSCopyFork(again, fd, buffer, sizeof(buffer)), FS_BAD_ARGUMENT);
    close(fd);
    close(again);
    EXPECT_EQ(read_file(file), bytes);

    // Onto a volume that fills: the destination holds what arrived, no
    // tail of zeros.
    const std::string mnt = at("mnt"), big = at("big");
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    std::string large;
    for (int i = 0; i < 300000; ++i) {
        large += static_cast<char>('A' + i % 23);
    }
    ASSERT_TRUE(write_file(big, large));
    int code = kivo_test::run_on_own_mount(mnt, "tmpfs", 0, "size=64k", [&] {
        int in = open(big.c_str(), O_RDONLY);
        int out = open((mnt + "/copy").c_str(), O_RDWR | O_CREAT, 0600);
        if (in < 0 || out < 0) {
            return 1;
        }
        static char piece[65536];
        if (FSCopyFork(in, out, piece, sizeof(piece)) == FS_OK) {
            return 2;
        }
        struct stat st;
        if (fstat(out, &st) != 0 || st.st_size <= 0 || st.st_size >= static_cast<off_t>(large.size())) {
            return 3;
        }
        const std::string got = read_file(mnt + "/copy");
        if (got.size() != static_cast<std::size_t>(st.st_size) || large.compare(0, got.size(), got) != 0) {
            return 4;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(code, 0);
}

TEST(FileSystemTempBuffer, SizesFollowTheRoundingRules)
{
    const INT_U64 lots = UINT64_MAX;
    const struct
    {
        std::size_t requested;
        INT_U64 free_memory, largest;
        std::size_t size;
    } cases[] = {
        {0, lots, lots, 4096},
        {4095, lots, lots, 4096},
        {5000, 0, 0, 4096},
        {10000, lots, lots, 8192},
        {0x40000, lots, lots, 0x40000},
        {0x40000, 250000, lots, 217088},                // (250000 - 32768) down to 4096
        {0x40000, lots, 200000, 196608},                // the largest block, down to 4096
        {0x40000, 100000, 50000, 49152},                // the smaller of the two
        {0x40000, 30000, lots, 4096},                   // nothing left but the least
        {0x40000, 40000, 3000, 4096},                   // both round to 0
        {SIZE_MAX, 8u << 20, lots, (8u << 20) - 32768}, // never more than is free
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fs_temp_buffer_size(c.requested, c.free_memory, c.largest), c.size)
            << c.requested << " " << c.free_memory << " " << c.largest;
    }
    std::size_t got = 1;
    void* buffer = GetTempBuffer(10000, &got);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(got, 8192u);
    std::memset(buffer, 0x5A, got);
    std::free(buffer);
    buffer = GetTempBuffer(0, &got);
    EXPECT_TRUE(buffer && got == 4096);
    std::free(buffer);
}

TEST_F(FileSystemCopy, NamedRoutinesOverThePathsAndTheForkRecordCallback)
{
    mkdirs({"d", "d/sub", "e"});
    ASSERT_TRUE(write_file(at("d/sub/locked"), "x") && write_file(at("d/f"), "f") && write_file(at("e/in"), "i"));
    ASSERT_EQ(chmod(at("d/sub/locked").c_str(), 0444), 0);
    ASSERT_EQ(symlink(at("d").c_str(), at("to-d").c_str()), 0);

    char ref[FS_PATH_MAX];
    EXPECT_EQ(FSMakeFSRef(nullptr, at("d").c_str(), "f", ref, sizeof(ref)), FS_OK);
    EXPECT_EQ(std::string(ref), at("d/f"));
    EXPECT_EQ(FSMakeFSRef(work.c_str(), "d/sub", nullptr, ref, sizeof(ref)), FS_OK);
    EXPECT_EQ(std::string(ref), at("d/sub"));
    EXPECT_EQ(FSMakeFSRef(work.c_str(), at("e").c_str(), "in", ref, sizeof(ref)), FS_OK); // absolute wins
    EXPECT_EQ(std::string(ref), at("e/in"));
    EXPECT_EQ(FSMakeFSRef(work.c_str(), "d", "none", ref, sizeof(ref)), FS_NOT_FOUND);
    EXPECT_STREQ(ref, "");
    EXPECT_EQ(FSMakeFSRef(work.c_str(), "d", "a/b", ref, sizeof(ref)), FS_BAD_NAME);
    EXPECT_EQ(FSMakeFSRef(work.c_str(), "d", "f", ref, 4), FS_BAD_NAME);
    EXPECT_EQ(FSMakeFSRef(work.c_str(), nullptr, "f", ref, sizeof(ref)), FS_BAD_ARGUMENT);

    FS_SPEC spec;
    INT_U8 is_directory = 9;
    char real_work[PATH_MAX];
    ASSERT_TRUE(realpath(work.c_str(), real_work));
    ASSERT_EQ(FSPathMakeFSSpec(at("d/f").c_str(), &spec, &is_directory), FS_OK);
    EXPECT_EQ(std::string(spec.parent) + "/" + spec.name, std::string(real_work) + "/d/f");
    EXPECT_EQ(is_directory, 0);
    ASSERT_EQ(FSPathMakeFSSpec(at("to-d").c_str(), &spec, &is_directory), FS_OK);
    EXPECT_TRUE(!std::strcmp(spec.name, "to-d") && is_directory == 1);
    ASSERT_EQ(symlink("/nonexistent/x", at("dangling").c_str()), 0);
    EXPECT_EQ(FSPathMakeFSSpec(at("dangling").c_str(), &spec, &is_directory), FS_OK);
    EXPECT_EQ(is_directory, 0);
    EXPECT_EQ(FSPathMakeFSSpec(at("none").c_str(), &spec, nullptr), FS_NOT_FOUND);
    EXPECT_EQ(FSPathMakeFSSpec(nullptr, &spec, nullptr), FS_BAD_ARGUMENT);

    // A folder through its name only; its locked file goes with it.
    EXPECT_EQ(FSDeleteContainer(at("to-d").c_str()), FS_NOT_A_DIRECTORY);
    EXPECT_EQ(FSDeleteContainer(at("e/in").c_str()), FS_NOT_A_DIRECTORY);
    EXPECT_TRUE(exists(at("d/f")) && exists(at("e/in")));
    EXPECT_EQ(FSDeleteContainerContents(at("e").c_str()), FS_OK);
    EXPECT_TRUE(exists(at("e")) && !exists(at("e/in")));
    EXPECT_EQ(FSDeleteContainer(at("d").c_str()), FS_OK);
    EXPECT_FALSE(exists(at("d")));
    EXPECT_EQ(FSDeleteContainer(at("d").c_str()), FS_NOT_FOUND);

    // Destroying a list of fork records closes each descriptor: the pipes'
    // readers see their ends.
    LINKED_LIST forks;
    ASSERT_EQ(InitLinkedList(&forks, MyCloseForkProc), FS_OK);
    int readers[2];
    for (int& reader : readers) {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        reader = ends[0];
        FS_FORK_RECORD* record = static_cast<FS_FORK_RECORD*>(std::malloc(sizeof(FS_FORK_RECORD)));
        ASSERT_NE(record, nullptr);
        record->fork = ends[1];
        ASSERT_EQ(AddToTail(&forks, record), FS_OK);
    }
    DestroyList(&forks);
    for (int reader : readers) {
        char c;
        EXPECT_EQ(read(reader, &c, 1), 0);
        close(reader);
    }
    MyCloseForkProc(nullptr);
}

} // namespace
