#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include "child_process.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

class FileSystemCatalog : public kivo_test::ScratchFolderTest
{
protected:
    std::string real(const std::string& p) const
    {
        char buf[PATH_MAX];
        return realpath(p.c_str(), buf) ? buf : "";
    }
};

std::set<std::string> list_texts(LINKED_LIST& list)
{
    std::set<std::string> texts;
    LINKED_LIST_NODE* it = nullptr;
    for (InitIterator(&list, &it); it; Next(&it)) {
        texts.insert(static_cast<const char*>(GetData(it)));
    }
    return texts;
}

TEST(FileSystemCatalogMounts, MountTableLinesAndTheVolumesOfThisMachine)
{
    const struct
    {
        const char* line;
        bool ok;
        const char* point;
        const char* type;
    } lines[] = {
        {"27 1 254:0 / / rw,relatime - ext4 /dev/vda rw", true, "/", "ext4"},
        {"40 31 0:37 / /mnt/a\\040b\\134c rw shared:7 master:2 - tmp\\040fs none rw", true, "/mnt/a b\\c", "tmp fs"},
        {"41 31 0:37 / /x\\9 rw - tmpfs none rw", true, "/x\\9", "tmpfs"}, // not an escape: kept
        {"41 31 0:37 / /x\\000y rw - tmpfs none rw", false, "", ""},       // an escaped NUL
        {"41 31 0:37 / rel rw - tmpfs none rw", false, "", ""},
        {"41 31 0:37 / /x rw shared:1 tmpfs none rw", false, "", ""}, // no separator
        {"x 31 0:37 / /x rw - tmpfs none rw", false, "", ""},
        {"41 31 0:37 / /x rw -", false, "", ""},
        {"", false, "", ""},
    };
    for (const auto& l : lines) {
        FS_MOUNT_ENTRY e;
        ASSERT_EQ(fs_parse_mount_line(l.line, e), l.ok) << l.line;
        if (l.ok) {
            EXPECT_TRUE(e.mount_point == l.point && e.fs_type == l.type) << e.mount_point << " " << e.fs_type;
        }
    }

    LINKED_LIST volumes;
    INT_U32 count = 0;
    ASSERT_EQ(FSGetMountedVolumes(&volumes, &count), FS_OK);
    std::set<std::string> points = list_texts(volumes);
    EXPECT_EQ(count, GetNumberOfItems(&volumes));
    EXPECT_TRUE(points.count("/"));
    DestroyList(&volumes);

    char name[64], type[32];
    INT_U64 free_bytes = 0, total_bytes = 0;
    ASSERT_EQ(FSGetVInfo("/", name, sizeof(name), &free_bytes, &total_bytes), FS_OK);
    EXPECT_STREQ(name, "/");
    EXPECT_GT(total_bytes, 0u);
    EXPECT_LE(free_bytes, total_bytes);
    INT_U32 id = 0;
    ASSERT_EQ(FSGetVolFileSystemID("/proc/self", &id, type, sizeof(type)), FS_OK);
    EXPECT_STREQ(type, "proc"); // a mount inside the root's volume wins over it
    EXPECT_EQ(id, 0x9FA0u);
    EXPECT_EQ(FSGetVInfo("/no/such/volume", nullptr, 0, &free_bytes, nullptr), FS_NOT_FOUND);
}

// In a child of its own mount namespace: a small tmpfs over a scratch
// folder, remounted read-only. Exit codes: 0 fine, 77 not permitted here,
// other values the failed check.
TEST_F(FileSystemCatalog, ReadOnlyTmpfsIsALockedVolumeOfItsOwn)
{
    const std::string mnt = at("mnt"), file = mnt + "/f";
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    int code = kivo_test::run_on_own_mount(mnt, "tmpfs", 0, "size=1m", [&] {
        if (!kivo_test::write_file(file, "x") || FSCheckLock(file.c_str()) != FS_OK) {
            return 1;
        }
        if (mount(nullptr, mnt.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
            return 77;
        }
        char volume[PATH_MAX], real_mnt[PATH_MAX];
        INT_U64 total = 0;
        INT_U8 privileges = 0;
        if (FSCheckLock(file.c_str()) != FS_VOLUME_LOCKED) {
            return 2;
        }
        if (FSGetVRefNum(file.c_str(), volume, sizeof(volume)) != FS_OK || !realpath(mnt.c_str(), real_mnt) ||
            std::strcmp(volume, real_mnt) != 0) {
            return 3;
        }
        if (FSGetVInfo(volume, nullptr, 0, nullptr, &total) != FS_OK || total != 1024 * 1024) {
            return 4;
        }
        if (FSGetUserPrivilegesPermissions(file.c_str(), &privileges, nullptr) != FS_OK ||
            !(privileges & FS_USER_NO_MAKE_CHANGES)) {
            return 5;
        }
        if (FSBumpDate(file.c_str()) != FS_VOLUME_LOCKED) {
            return 6;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(code, 0);
}

TEST_F(FileSystemCatalog, LocksPrivilegesAndFolderAccess)
{
    const std::string plain = at("plain"), fixed = at("fixed"), sub = at("sub");
    ASSERT_TRUE(kivo_test::write_file(plain, "p") && kivo_test::write_file(fixed, "f"));
    ASSERT_EQ(mkdir(sub.c_str(), 0700), 0);
    EXPECT_EQ(FSCheckLock(plain.c_str()), FS_OK);
    ASSERT_EQ(chmod(fixed.c_str(), 0444), 0);
    EXPECT_EQ(FSCheckLock(fixed.c_str()), FS_FILE_LOCKED);
    EXPECT_EQ(FSCheckLock(at("none").c_str()), FS_NOT_FOUND);
    // Immutable, where this file system and process may set it.
    int fd = open(plain.c_str(), O_RDONLY);
    int flags = 0;
    if (fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        int set = flags | FS_IMMUTABLE_FL;
        if (ioctl(fd, FS_IOC_SETFLAGS, &set) == 0) {
            EXPECT_EQ(FSCheckLock(plain.c_str()), FS_FILE_LOCKED);
            ioctl(fd, FS_IOC_SETFLAGS, &flags);
        }
    }
    if (fd >= 0) {
        close(fd);
    }

    INT_U8 privileges = 0xFF;
    INT_U32 permissions[4] = {};
    ASSERT_EQ(FSGetUserPrivilegesPermissions(sub.c_str(), &privileges, permissions), FS_OK);
    EXPECT_EQ(privileges, 0);
    EXPECT_EQ(permissions[0], geteuid());
    EXPECT_EQ(permissions[2], S_IFDIR | 0700u);
    if (geteuid() == 0 && chown(plain.c_str(), 65534, 65534) == 0) {
        ASSERT_EQ(FSGetUserPrivilegesPermissions(plain.c_str(), &privileges, permissions), FS_OK);
        EXPECT_EQ(privileges, FS_USER_NOT_OWNER);
        EXPECT_EQ(permissions[1], 65534u);
    }

    INT_S32 owner = -2, group = -2, rights = -2;
    ASSERT_EQ(FSSetDirAccess(sub.c_str(), -1, -1, 0750), FS_OK);
    ASSERT_EQ(FSGetDirAccess(sub.c_str(), &owner, &group, &rights), FS_OK);
    EXPECT_EQ(owner, static_cast<INT_S32>(geteuid()));
    EXPECT_EQ(rights, 0750);
    EXPECT_EQ(FSSetDirAccess(sub.c_str(), -1, -1, 010000), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSGetDirAccess(plain.c_str(), &owner, &group, &rights), FS_NOT_A_DIRECTORY);
}

TEST_F(FileSystemCatalog, RangeLockedByAnotherProcess)
{
    const std::string file = at("shared");
    ASSERT_TRUE(kivo_test::write_file(file, std::string(400, 'x')));
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = kivo_test::start_child([&] {
        close(ready[0]);
        close(release[1]); // else the end of the release pipe never comes
        int fd = open(file.c_str(), O_RDWR);
        struct flock fl = {};
        fl.l_type = F_WRLCK;
        fl.l_start = 100;
        fl.l_len = 100;
        char c = fcntl(fd, F_OFD_SETLK, &fl) == 0 ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1 || read(release[0], &c, 1) < 0) {
            return 1;
        }
        return 0;
    });
    close(ready[1]);
    close(release[0]);
    char c = 0;
    const bool held = read(ready[0], &c, 1) == 1 && c == 'y';
    close(ready[0]);
    int mine = open(file.c_str(), O_RDWR), other = open(file.c_str(), O_RDWR);
    if (held) {
        EXPECT_EQ(FSLockRangeCompat(mine, 10, 150), FS_RANGE_OVERLAP);
        EXPECT_EQ(FSLockRangeCompat(mine, 0, 150), FS_RANGE_OVERLAP); // from 150 to the end
        EXPECT_EQ(FSLockRangeCompat(mine, 50, 0), FS_OK);
    }
    close(release[1]); // the child ends and its lock goes with it
    ASSERT_EQ(kivo_test::wait_child(child), 0);
    ASSERT_TRUE(held && mine >= 0 && other >= 0);
    EXPECT_EQ(FSLockRangeCompat(mine, 10, 150), FS_OK);
    // A second open of the file, even in this process, is another opener.
    EXPECT_EQ(FSLockRangeCompat(other, 1, 155), FS_RANGE_OVERLAP);
    EXPECT_EQ(FSUnlockRangeCompat(mine, 10, 150), FS_OK);
    EXPECT_EQ(FSLockRangeCompat(other, 1, 155), FS_OK);
    EXPECT_EQ(FSLockRangeCompat(-1, 1, 0), FS_BAD_REFNUM);
    EXPECT_EQ(FSLockRangeCompat(mine, 1, ~0ull), FS_BAD_ARGUMENT);
    close(mine);
    close(other);
}

TEST_F(FileSystemCatalog, ReferencesNamesUsersAndFileIds)
{
    const std::string sub = at("sub"), file = at("sub/f.txt"), base = real(work);
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(file, "abc"));
    const struct
    {
        std::string ref;
        INT_S32 result;
        std::string parent, name;
    } refs[] = {{file, FS_OK, base + "/sub", "f.txt"},
                {sub + "/", FS_OK, base, "sub"},
                {sub + "/..", FS_OK, real(base + "/.."), base.substr(base.rfind('/') + 1)},
                {"/", FS_OK, "", "/"},
                {at("gone"), FS_NOT_FOUND, "", ""}};
    for (const auto& r : refs) {
        char parent[PATH_MAX] = "", name[256] = "";
        ASSERT_EQ(FSRefMakeFSSpec(r.ref.c_str(), parent, sizeof(parent), name, sizeof(name)), r.result) << r.ref;
        EXPECT_TRUE(r.parent == parent && r.name == name) << r.ref << ": " << parent << " " << name;
        EXPECT_EQ(FSRefValid(r.ref.c_str()), r.result == FS_OK);
    }
    char small[4];
    EXPECT_EQ(FSGetFileDirName(file.c_str(), small, sizeof(small)), FS_BAD_NAME);

    char held[PATH_MAX];
    int fd = open(file.c_str(), O_RDONLY);
    ASSERT_EQ(FileRefNumGetFSRef(fd, held, sizeof(held)), FS_OK);
    EXPECT_EQ(held, base + "/sub/f.txt");
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    EXPECT_EQ(FileRefNumGetFSRef(ends[0], held, sizeof(held)), FS_BAD_ARGUMENT);
    close(ends[0]);
    close(ends[1]);
    EXPECT_EQ(FileRefNumGetFSRef(ends[0], held, sizeof(held)), FS_BAD_REFNUM);

    FS_UNICODE_NAME wide = {4, {'c', 'a', 'f', 0xE9}};
    char narrow[8];
    ASSERT_EQ(UnicodeNameGetHFSName(&wide, narrow, sizeof(narrow)), FS_OK);
    EXPECT_STREQ(narrow, "caf\xE9");
    FS_UNICODE_NAME back = {};
    ASSERT_EQ(HFSNameGetUnicodeName(narrow, &back), FS_OK);
    EXPECT_TRUE(back.length == 4 && !std::memcmp(back.unicode, wide.unicode, sizeof(INT_U16) * 4));
    for (INT_U16 unit : {0x0000, 0x0100, 0x65E5}) {
        wide.unicode[1] = unit;
        EXPECT_EQ(UnicodeNameGetHFSName(&wide, narrow, sizeof(narrow)), FS_BAD_NAME) << unit;
    }
    EXPECT_EQ(HFSNameGetUnicodeName(std::string(256, 'n').c_str(), &back), FS_BAD_NAME);

    char user[64];
    INT_S32 id = -1;
    const struct
    {
        INT_S16 to_name, to_id;
    } kinds[] = {{FS_MAP_OWNER_ID, FS_MAP_OWNER_NAME}, {FS_MAP_GROUP_ID, FS_MAP_GROUP_NAME}};
    for (const auto& k : kinds) {
        ASSERT_EQ(FSMapID(0, k.to_name, user, sizeof(user)), FS_OK);
        EXPECT_STREQ(user, "root");
        ASSERT_EQ(FSMapName("root", k.to_id, &id), FS_OK);
        EXPECT_EQ(id, 0);
        EXPECT_EQ(FSMapName("no-such-kivo-name", k.to_id, &id), FS_NOT_FOUND);
    }
    if (FSMapID(static_cast<INT_S32>(geteuid()), FS_MAP_OWNER_ID, user, sizeof(user)) == FS_OK) {
        ASSERT_EQ(FSMapName(user, FS_MAP_OWNER_NAME, &id), FS_OK);
        EXPECT_EQ(id, static_cast<INT_S32>(geteuid()));
    }
    EXPECT_EQ(FSMapID(0, FS_MAP_OWNER_NAME, user, sizeof(user)), FS_BAD_ARGUMENT);

    // A file id follows a renamed file and fails once it is deleted. The
    // file is held open across the delete, so that its inode cannot go to
    // another file while the test looks; once closed, whatever the inode
    // became (free, or some other test's new file, perhaps being made at
    // that moment), the file is not found.
    FS_FILE_ID file_id;
    char volume[PATH_MAX], found[PATH_MAX];
    EXPECT_EQ(FSCreateFileIDRef(sub.c_str(), &file_id), FS_NOT_A_FILE);
    INT_S32 made = FSCreateFileIDRef(file.c_str(), &file_id);
    ASSERT_TRUE(made == FS_OK || made == FS_NOT_SUPPORTED) << made;
    if (made == FS_OK) {
        ASSERT_EQ(FSGetVRefNum(file.c_str(), volume, sizeof(volume)), FS_OK);
        ASSERT_EQ(rename(file.c_str(), at("moved").c_str()), 0);
        INT_S32 r = FSResolveFileIDRef(volume, &file_id, found, sizeof(found));
        if (r != FS_ACCESS_DENIED) {
            ASSERT_EQ(r, FS_OK);
            EXPECT_EQ(found, base + "/moved");
            ASSERT_EQ(unlink(found), 0);
            EXPECT_EQ(FSResolveFileIDRef(volume, &file_id, found, sizeof(found)), FS_FILE_ID_NOT_FOUND);
            close(fd);
            fd = -1;
            EXPECT_EQ(FSResolveFileIDRef(volume, &file_id, found, sizeof(found)), FS_FILE_ID_NOT_FOUND);
        }
        FS_FILE_ID forged = file_id;
        ++forged.mount_id;
        EXPECT_EQ(FSResolveFileIDRef(volume, &forged, found, sizeof(found)), FS_FILE_ID_NOT_FOUND);
    }
    if (fd >= 0) {
        close(fd);
    }
    // What the kernel answers for a handle whose file is gone: ESTALE, or
    // from ext4 ENOMEM while the inode is being given to a new file.
    EXPECT_EQ(fs_file_id_open_error(ESTALE), FS_FILE_ID_NOT_FOUND);
    EXPECT_EQ(fs_file_id_open_error(ENOMEM), FS_FILE_ID_NOT_FOUND);
    EXPECT_EQ(fs_file_id_open_error(EPERM), FS_ACCESS_DENIED);
    EXPECT_EQ(fs_file_id_open_error(EOPNOTSUPP), FS_NOT_SUPPORTED);
}

// The clock the date is bumped from: time() reads a coarser one, which can
// still be in the second before.
time_t realtime_seconds()
{
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return now.tv_sec;
}

TEST_F(FileSystemCatalog, ForkSizesBumpedDatesAndCopies)
{
    const std::string file = at("data"), sub = at("sub");
    const std::string bytes = [] {
        std::string s;
        for (int i = 0; i < 10000; ++i) {
            s += static_cast<char>('a' + i % 23);
        }
        return s;
    }();
    ASSERT_TRUE(kivo_test::write_file(file, bytes));
    ASSERT_EQ(mkdir(sub.c_str(), 0755), 0);
    INT_U64 data = 1, resource = 1, logical = 0, physical = 0;
    INT_U32 forks = 0;
    ASSERT_EQ(FSGetForkSizes(file.c_str(), &data, &resource), FS_OK);
    EXPECT_TRUE(data == bytes.size() && resource == 0);
    ASSERT_EQ(FSGetTotalForkSizes(file.c_str(), &logical, &physical, &forks), FS_OK);
    EXPECT_TRUE(logical == bytes.size() && physical >= logical && forks == 1);
    EXPECT_EQ(FSGetForkSizes(sub.c_str(), &data, &resource), FS_NOT_A_FILE);
    EXPECT_EQ(FSGetTotalForkSizes(sub.c_str(), &logical, &physical, &forks), FS_NOT_A_FILE);

    // A time in this second moves on by one; an old one becomes now.
    for (bool this_second : {true, false}) {
        const time_t before = realtime_seconds();
        const struct timespec old[2] = {{0, UTIME_OMIT}, {this_second ? before : 1000, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), old, 0), 0);
        ASSERT_EQ(FSBumpDate(file.c_str()), FS_OK);
        const time_t after = realtime_seconds();
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_GE(st.st_mtim.tv_sec, before + (this_second ? 1 : 0));
        EXPECT_LE(st.st_mtim.tv_sec, after + (this_second ? 1 : 0));
        EXPECT_EQ(st.st_mtim.tv_nsec, 0);
    }

    // Fork copies: onto a longer file (the kernel's copy), into a pipe
    // (through a 5000-byte buffer, used 4096 at a time).
    const std::string longer = at("longer");
    ASSERT_TRUE(kivo_test::write_file(longer, std::string(20000, '#')));
    char buffer[5000];
    int in = open(file.c_str(), O_RDONLY), out = open(longer.c_str(), O_RDWR);
    ASSERT_TRUE(in >= 0 && out >= 0);
    lseek(in, 123, SEEK_SET);
    ASSERT_EQ(FSCopyFork(in, out, buffer, sizeof(buffer)), FS_OK);
    EXPECT_EQ(kivo_test::read_file(longer), bytes);
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(FSCopyFork(in, ends[1], buffer, sizeof(buffer)), FS_OK);
    close(ends[1]);
    std::string piped;
    char chunk[4096];
    for (ssize_t n; (n = read(ends[0], chunk, sizeof(chunk))) > 0;) {
        piped.append(chunk, static_cast<std::size_t>(n));
    }
    EXPECT_EQ(piped, bytes);
    EXPECT_EQ(FSCopyFork(in, out, nullptr, 4096), FS_BAD_ARGUMENT);
    EXPECT_EQ(FSCopyFork(in, ends[1], buffer, sizeof(buffer)), FS_BAD_REFNUM);
    close(ends[0]);
    close(out);
    // Onto a file opened to append, which the kernel's copy refuses: the
    // buffer's writes land at the end, so the copy is all the file holds.
    ASSERT_TRUE(kivo_test::write_file(longer, std::string(20000, '#')));
    out = open(longer.c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(out, 0);
    ASSERT_EQ(FSCopyFork(in, out, buffer, sizeof(buffer)), FS_OK);
    EXPECT_EQ(kivo_test::read_file(longer), bytes);
    close(in);
    close(out);

    ASSERT_EQ(FSCopyFile(work.c_str(), "data", sub.c_str(), "copy"), FS_OK);
    EXPECT_EQ(kivo_test::read_file(sub + "/copy"), bytes);
    EXPECT_EQ(FSCopyFile(work.c_str(), "data", sub.c_str(), "copy"), FS_EXISTS);
    EXPECT_EQ(FSCopyFile(work.c_str(), "sub", work.c_str(), "sub2"), FS_NOT_A_FILE);
}

TEST_F(FileSystemCatalog, ExchangeSwapsTwoFilesContents)
{
    const std::string a = at("a"), b = at("sub/b");
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(a, "alpha") && kivo_test::write_file(b, "beta"));
    ASSERT_EQ(FSExchangeObjectsCompat(a.c_str(), b.c_str()), FS_OK);
    EXPECT_EQ(kivo_test::read_file(a) + "|" + kivo_test::read_file(b), "beta|alpha");
    // The way taken where the file system cannot swap in one step.
    ASSERT_EQ(fs_exchange_by_renaming(a.c_str(), b.c_str()), FS_OK);
    EXPECT_EQ(kivo_test::read_file(a) + "|" + kivo_test::read_file(b), "alpha|beta");
    EXPECT_EQ(fs_exchange_by_renaming(a.c_str(), at("none").c_str()), FS_NOT_FOUND);
    EXPECT_EQ(kivo_test::read_file(a), "alpha"); // undone
    LINKED_LIST items;
    INT_U32 count = 0;
    ASSERT_EQ(FSGetDirectoryItems(work.c_str(), &items, &count), FS_OK);
    EXPECT_EQ(list_texts(items), (std::set<std::string>{a, at("sub")})); // no temporary left
    DestroyList(&items);
    EXPECT_EQ(FSExchangeObjectsCompat(a.c_str(), at("sub").c_str()), FS_NOT_A_FILE);
    EXPECT_EQ(FSExchangeObjectsCompat(a.c_str(), "/proc/self/status"), FS_DIFFERENT_VOLUMES);
}

// A path through a link stands for the file the link leads to: that file
// takes part, and the link keeps leading to it.
TEST_F(FileSystemCatalog, ExchangeThroughLinksSwapsTheFilesTheyLeadTo)
{
    for (const char* d : {"dir1", "dir2", "dir2/folder"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    const std::string x = at("dir1/x.txt"), y = at("dir2/y.txt"), link = at("dir1/link");
    ASSERT_TRUE(kivo_test::write_file(x, "x") && kivo_test::write_file(y, "y"));
    ASSERT_EQ(symlink("x.txt", link.c_str()), 0);
    ASSERT_EQ(symlink("../dir1/link", at("dir2/chain").c_str()), 0); // a link to a link
    ASSERT_EQ(symlink("folder", at("dir2/to_folder").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", at("dir2/dangling").c_str()), 0);
    auto contents = [&] { return kivo_test::read_file(x) + kivo_test::read_file(y); };
    auto is_link = [](const std::string& p) {
        struct stat st;
        return lstat(p.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    };
    const struct
    {
        std::string a, b;
        INT_S32 result;
        const char* after; // x.txt's and y.txt's contents
    } cases[] = {
        {link, y, FS_OK, "yx"},
        {y, link, FS_OK, "xy"},
        {at("dir2/chain"), y, FS_OK, "yx"},
        {y, x, FS_OK, "xy"},
        {link, x, FS_OK, "xy"}, // the same file twice
        {link, at("dir2/to_folder"), FS_NOT_A_FILE, "xy"},
        {at("dir2/to_folder"), y, FS_NOT_A_FILE, "xy"},
        {link, at("dir2/dangling"), FS_NOT_FOUND, "xy"},
        {at("dir2/dangling"), y, FS_NOT_FOUND, "xy"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FSExchangeObjectsCompat(c.a.c_str(), c.b.c_str()), c.result) << c.a << " " << c.b;
        EXPECT_EQ(contents(), c.after) << c.a << " " << c.b;
        EXPECT_EQ(kivo_test::read_file(link), kivo_test::read_file(x)); // the link still leads to x.txt
        EXPECT_TRUE(is_link(link) && is_link(at("dir2/dangling")) && !is_link(x) && !is_link(y));
    }
    struct stat st;
    EXPECT_TRUE(stat(at("dir2/folder").c_str(), &st) == 0 && S_ISDIR(st.st_mode));

    // A descriptor's link names the entry it was opened by; that entry is
    // gone while the file lives on under another name, so there is no
    // entry to exchange: refused, nothing changed.
    const std::string other = at("dir1/other");
    ASSERT_EQ(::link(x.c_str(), other.c_str()), 0);
    int fd = open(other.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(unlink(other.c_str()), 0);
    const std::string through_fd = "/proc/self/fd/" + std::to_string(fd);
    EXPECT_EQ(FSExchangeObjectsCompat(through_fd.c_str(), y.c_str()), FS_BAD_ARGUMENT);
    EXPECT_EQ(contents(), "xy");
    close(fd);
}

struct WALK
{
    std::set<std::string> seen; // "name:level", "/" after a folder
    std::string stop_at;
};

bool record(const char*, const char* name, INT_U32 level, bool is_directory, void* data)
{
    auto* w = static_cast<WALK*>(data);
    w->seen.insert(std::string(name) + (is_directory ? "/" : "") + ":" + std::to_string(level));
    return w->stop_at == name;
}

TEST_F(FileSystemCatalog, WalksKeepToTheirDepthAndStopWhenTold)
{
    for (const char* d : {"d1", "d1/d2", "d1/d2/d3"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    for (const char* f : {"f1", "d1/f2", "d1/d2/f3", "d1/d2/d3/f4"}) {
        ASSERT_TRUE(kivo_test::write_file(at(f), f));
    }
    ASSERT_EQ(symlink("d1", at("link").c_str()), 0);
    const std::set<std::string> depth2 = {"f1:1", "d1/:1", "link:1", "f2:2", "d2/:2"};
    std::set<std::string> all = depth2;
    all.insert({"f3:3", "d3/:3", "f4:4"});
    const struct
    {
        INT_U32 levels;
        std::set<std::string> seen;
    } walks[] = {{2, depth2}, {0, all}};
    for (const auto& w : walks) {
        WALK walk;
        ASSERT_EQ(FSIterateContainer(work.c_str(), w.levels, record, &walk), FS_OK);
        EXPECT_EQ(walk.seen, w.seen) << w.levels;
    }
    // Stopped at d2: nothing below it, only what came before.
    WALK stopped;
    stopped.stop_at = "d2";
    ASSERT_EQ(FSIterateContainer(at("d1").c_str(), 0, record, &stopped), FS_OK);
    EXPECT_TRUE(stopped.seen.count("d2/:1") && !stopped.seen.count("d3/:2") && !stopped.seen.count("f3:2"));
    EXPECT_EQ(FSIterateContainer(at("f1").c_str(), 0, record, &stopped), FS_NOT_A_DIRECTORY);
    EXPECT_EQ(FSIterateContainer(work.c_str(), 0, nullptr, nullptr), FS_BAD_ARGUMENT);
}

// What the walk hook does when the walk is about to go into `target`:
// the folder is moved away and `replace` puts something in its place.
struct SWAP
{
    std::string target, parked, outside;
    bool as_link = true;
    int swaps = 0; // done as planned
};
SWAP* swap_plan = nullptr;

void swap_before_descent(const char* path)
{
    SWAP& s = *swap_plan;
    if (s.target != path) {
        return;
    }
    if (rename(path, s.parked.c_str()) == 0 &&
        (s.as_link ? symlink(s.outside.c_str(), path) == 0 : kivo_test::write_file(path, "now a file"))) {
        ++s.swaps;
    }
}

TEST_F(FileSystemCatalog, WalkNeverEntersAFolderSwappedAfterTheListing)
{
    const std::string outside = at("outside"), tree = at("tree");
    for (const char* d : {"outside", "outside/deep", "tree", "tree/sub", "tree/sub/inner"}) {
        ASSERT_EQ(mkdir(at(d).c_str(), 0755), 0);
    }
    for (const char* f : {"outside/secret", "outside/deep/secret2", "tree/sub/inner/f"}) {
        ASSERT_TRUE(kivo_test::write_file(at(f), f));
    }
    struct HOOK_GUARD
    {
        ~HOOK_GUARD()
        {
            fs_walk_before_descent = nullptr;
            swap_plan = nullptr;
        }
    } guard;
    const struct
    {
        const char* target; // swapped just before the walk goes in
        bool as_link;
        std::set<std::string> seen;
    } cases[] = {
        {"tree/sub", true, {"sub/:1"}},
        {"tree/sub", false, {"sub/:1"}},
        {"tree/sub/inner", true, {"sub/:1", "inner/:2"}},
    };
    for (const auto& c : cases) {
        SWAP plan{at(c.target), at("parked"), outside, c.as_link, 0};
        swap_plan = &plan;
        fs_walk_before_descent = swap_before_descent;
        WALK walk;
        EXPECT_EQ(FSIterateContainer(tree.c_str(), 0, record, &walk), FS_OK) << c.target;
        EXPECT_EQ(plan.swaps, 1);
        EXPECT_EQ(walk.seen, c.seen) << c.target; // nothing of "outside"
        fs_walk_before_descent = nullptr;
        // Put the tree back for the next case.
        ASSERT_EQ(unlink(at(c.target).c_str()), 0);
        ASSERT_EQ(rename(at("parked").c_str(), at(c.target).c_str()), 0);
    }
}

TEST_F(FileSystemCatalog, WalksRefuseTreesDeeperThanTheirLimit)
{
    // A chain of folders "d" down to the last level the walk takes.
    std::string deepest = work;
    for (INT_U32 level = 1; level <= FS_WALK_MAX_LEVELS; ++level) {
        deepest += "/d";
        ASSERT_EQ(mkdir(deepest.c_str(), 0755), 0) << level;
    }
    WALK walk;
    ASSERT_EQ(FSIterateContainer(work.c_str(), 0, record, &walk), FS_OK);
    EXPECT_EQ(walk.seen.size(), FS_WALK_MAX_LEVELS);
    EXPECT_TRUE(walk.seen.count("d/:" + std::to_string(FS_WALK_MAX_LEVELS)));
    // One entry further down.
    ASSERT_TRUE(kivo_test::write_file(deepest + "/f", "f"));
    WALK deeper;
    EXPECT_EQ(FSIterateContainer(work.c_str(), 0, record, &deeper), FS_IO_ERROR);
    EXPECT_EQ(deeper.seen, walk.seen); // the entry below the limit untold
    WALK limited;
    EXPECT_EQ(FSIterateContainer(work.c_str(), FS_WALK_MAX_LEVELS, record, &limited), FS_OK);
    EXPECT_EQ(limited.seen, walk.seen);
}

// Times to the nanosecond, for comparing.
std::string times_of(const struct stat& st)
{
    return std::to_string(st.st_atim.tv_sec) + "." + std::to_string(st.st_atim.tv_nsec) + " " +
           std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// Takes one capability out of this process's effective set (in a child).
bool drop_capability(int capability)
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    data[capability / 32].effective &= ~(1u << (capability % 32));
    return syscall(SYS_capset, &header, data) == 0;
}

bool set_immutable_flag(const std::string& path, bool on)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool done = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    done = done && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return done;
}

// Takes the immutable attribute off files whatever a test does, or their
// folder could not be removed.
struct UNFIX
{
    std::vector<std::string> paths;
    ~UNFIX()
    {
        for (const std::string& p : paths) {
            set_immutable_flag(p, false);
        }
    }
};

TEST_F(FileSystemCatalog, AttributesCopyTimesBitsAndOwnerAndTheLockOnlyWhenAsked)
{
    const std::string locked = at("locked"), unlocked = at("open"), folder = at("folder");
    ASSERT_TRUE(kivo_test::write_file(locked, "s"));
    ASSERT_TRUE(kivo_test::write_file(unlocked, "d"));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const struct timespec times[2] = {{1000000000, 123456789}, {1200000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, locked.c_str(), times, 0), 0);
    struct stat from, to;
    const struct
    {
        mode_t source, destination;
        bool copy_lock;
        mode_t after;
    } cases[] = {
        {0444, 0666, false, 0666}, // the destination keeps its write bits...
        {0444, 0666, true, 0444},  // ...unless the lock is asked for
        {04751, 0400, false, 04551},
        {04751, 0400, true, 04751},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(chmod(locked.c_str(), c.source), 0);
        for (const std::string& destination : {unlocked, folder}) {
            ASSERT_EQ(chmod(destination.c_str(), c.destination), 0);
            ASSERT_EQ(FSCopyFileMgrAttributes(locked.c_str(), destination.c_str(), c.copy_lock), FS_OK);
            ASSERT_EQ(stat(locked.c_str(), &from), 0);
            ASSERT_EQ(stat(destination.c_str(), &to), 0);
            EXPECT_EQ(to.st_mode & 07777, c.after) << std::oct << c.source << " " << c.destination;
            EXPECT_EQ(times_of(to), times_of(from));
            EXPECT_EQ(FSCheckLock(destination.c_str()) == FS_FILE_LOCKED, (c.after & 0222) == 0);
        }
    }
    EXPECT_EQ(FSCopyFileMgrAttributes(at("missing").c_str(), unlocked.c_str(), true), FS_NOT_FOUND);
    EXPECT_EQ(FSCopyFileMgrAttributes(locked.c_str(), at("missing").c_str(), true), FS_NOT_FOUND);

    if (geteuid() != 0) {
        GTEST_SKIP() << "owners and the immutable attribute are the superuser's to give";
    }
    ASSERT_EQ(chown(locked.c_str(), 12345, 23456), 0);
    ASSERT_EQ(FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), false), FS_OK);
    ASSERT_EQ(stat(unlocked.c_str(), &to), 0);
    EXPECT_TRUE(to.st_uid == 12345u && to.st_gid == 23456u) << to.st_uid << ":" << to.st_gid;
    // A caller that may not give files away still gets the rest across.
    ASSERT_EQ(chown(locked.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(locked.c_str(), 0640), 0);
    EXPECT_EQ(kivo_test::run_in_child([&] {
                  if (!drop_capability(CAP_CHOWN)) {
                      return 77;
                  }
                  struct stat now;
                  return FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), true) == FS_OK &&
                                 stat(unlocked.c_str(), &now) == 0 && (now.st_mode & 07777) == 0640 &&
                                 now.st_uid == 12345u
                             ? 0
                             : 1;
              }),
              0);

    // The immutable attribute, where the file system keeps it.
    UNFIX unfix{{locked, unlocked}};
    if (!set_immutable_flag(locked, true)) {
        GTEST_SKIP() << "no immutable attribute on this file system";
    }
    EXPECT_EQ(FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), false), FS_OK);
    EXPECT_EQ(FSCheckLock(unlocked.c_str()), FS_OK);
    EXPECT_EQ(FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), true), FS_OK);
    EXPECT_EQ(FSCheckLock(unlocked.c_str()), FS_FILE_LOCKED);
    // An immutable destination: only copying the lock (here: none) opens it.
    ASSERT_TRUE(set_immutable_flag(locked, false));
    EXPECT_EQ(FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), false), FS_ACCESS_DENIED);
    EXPECT_EQ(FSCopyFileMgrAttributes(locked.c_str(), unlocked.c_str(), true), FS_OK);
    EXPECT_EQ(FSCheckLock(unlocked.c_str()), FS_OK);
}

// Ids no account of this machine is expected to have.
constexpr uid_t stranger = 40001;
constexpr gid_t strangers = 40001, club = 40002;

// What an attribute copy may change on an entry itself: bits, owner, times.
std::string attributes_of(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return "missing";
    }
    char mode[16];
    std::snprintf(mode, sizeof(mode), "%o ", static_cast<unsigned>(st.st_mode & 07777));
    return mode + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid) + " " + times_of(st);
}

TEST_F(FileSystemCatalog, AttributesGoToALinkAtTheDestinationNotToWhatItLeadsTo)
{
    const std::string source = at("source"), secret = at("secret"), link = at("link");
    ASSERT_TRUE(kivo_test::write_file(source, "s") && kivo_test::write_file(secret, "k"));
    ASSERT_EQ(symlink("secret", link.c_str()), 0);
    ASSERT_EQ(chmod(secret.c_str(), 0600), 0);
    const struct timespec times[2] = {{1200000000, 3}, {1200000000, 4}};
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    const bool root = geteuid() == 0;
    ASSERT_TRUE(!root || chown(source.c_str(), stranger, strangers) == 0);
    const std::string kept = attributes_of(secret);
    for (bool copy_lock : {false, true}) {
        ASSERT_EQ(FSCopyFileMgrAttributes(source.c_str(), link.c_str(), copy_lock), FS_OK);
        EXPECT_EQ(attributes_of(secret), kept);
        struct stat made;
        ASSERT_EQ(lstat(link.c_str(), &made), 0);
        EXPECT_EQ(times_of(made), "1200000000.3 1200000000.4");
        EXPECT_TRUE(!root || (made.st_uid == stranger && made.st_gid == strangers)) << made.st_uid;
    }
    // A link takes no lock: refused, and the link left as it was.
    if (!root) {
        GTEST_SKIP() << "the immutable attribute is the superuser's to give";
    }
    const std::string link_kept = attributes_of(link);
    ASSERT_EQ(chown(source.c_str(), 0, 0), 0);
    ASSERT_EQ(utimensat(AT_FDCWD, source.c_str(), nullptr, 0), 0);
    UNFIX unfix{{source}};
    if (!set_immutable_flag(source, true)) {
        GTEST_SKIP() << "no immutable attribute on this file system";
    }
    EXPECT_EQ(FSCopyFileMgrAttributes(source.c_str(), link.c_str(), true), FS_NOT_SUPPORTED);
    EXPECT_EQ(attributes_of(link), link_kept);
}

TEST_F(FileSystemCatalog, AttributesNeedingWhatIsMissingAreRefusedBeforeAnythingChanges)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "owners and the immutable attribute are the superuser's to give";
    }
    const std::string source = at("source"), destination = at("destination"), ram = at("ram");
    ASSERT_TRUE(kivo_test::write_file(source, "s") && kivo_test::write_file(destination, "d"));
    ASSERT_EQ(chown(source.c_str(), stranger, strangers), 0);
    ASSERT_EQ(chmod(source.c_str(), 0444), 0);
    const struct timespec times[2] = {{1000000000, 1}, {1000000000, 2}};
    ASSERT_EQ(utimensat(AT_FDCWD, destination.c_str(), times, 0), 0);
    UNFIX unfix{{source, destination}};
    if (!set_immutable_flag(source, false)) {
        GTEST_SKIP() << "no immutable attribute on this file system";
    }
    // Without the privilege the attribute can be neither put on nor taken off.
    for (bool source_locked : {true, false}) {
        ASSERT_TRUE(set_immutable_flag(source, source_locked) && set_immutable_flag(destination, !source_locked));
        const std::string kept = attributes_of(destination);
        int code = kivo_test::run_in_child([&] {
            if (!drop_capability(CAP_LINUX_IMMUTABLE)) {
                return 77;
            }
            return FSCopyFileMgrAttributes(source.c_str(), destination.c_str(), true) == FS_ACCESS_DENIED ? 0 : 1;
        });
        if (code == 77) {
            GTEST_SKIP() << "the privilege cannot be dropped here";
        }
        EXPECT_EQ(code, 0) << source_locked;
        EXPECT_EQ(attributes_of(destination), kept) << source_locked;
        EXPECT_EQ(FSCheckLock(destination.c_str()) == FS_FILE_LOCKED, !source_locked);
        ASSERT_TRUE(set_immutable_flag(destination, false));
    }
    // A step that refuses once an immutable destination's attribute is off
    // (so that the source's lack of it can come across) leaves the
    // destination as it was, protected: a Finder value that is not a valid
    // header, a folder list that is not a plain file, a lock that cannot be
    // had (its folder takes no new lock file).
    const std::string run = at("run"), locks = run + "/kivo-locks-" + std::to_string(geteuid());
    ASSERT_TRUE(mkdir(run.c_str(), 0700) == 0 && mkdir(locks.c_str(), 0700) == 0);
    unfix.paths.push_back(locks);
    ASSERT_TRUE(set_immutable_flag(locks, true));
    const char* refusals[] = {"a damaged value", "a list that is a pipe", "no lock"};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(refusals[i]);
        const std::string folder = at("refused" + std::to_string(i)), onto = folder + "/destination";
        ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
        ASSERT_TRUE(kivo_test::write_file(onto, "d"));
        ASSERT_EQ(i != 0 || lsetxattr(onto.c_str(), FS_FINDER_ATTRIBUTE, "AD", 2, 0) == 0, true);
        ASSERT_EQ(i != 1 || mkfifo((folder + "/.hidden").c_str(), 0644) == 0, true);
        unfix.paths.push_back(onto);
        ASSERT_TRUE(set_immutable_flag(onto, true));
        const std::string kept = attributes_of(onto);
        const int code = kivo_test::run_in_child([&] {
            if (i == 2) {
                fs_shared::set_lock_bases_for_testing(run.c_str(), run.c_str());
            }
            const INT_S32 want = i == 2 ? FS_ACCESS_DENIED : FS_IO_ERROR;
            return FSCopyFileMgrAttributes(source.c_str(), onto.c_str(), true) == want ? 0 : 1;
        });
        EXPECT_EQ(code, 0);
        EXPECT_EQ(FSCheckLock(onto.c_str()), FS_FILE_LOCKED);
        EXPECT_EQ(attributes_of(onto), kept);
    }
    // A file system that keeps no such attribute cannot take the lock.
    ASSERT_EQ(mkdir(ram.c_str(), 0755), 0);
    ASSERT_TRUE(set_immutable_flag(source, true));
    int code = kivo_test::run_on_own_mount(ram, "ramfs", 0, nullptr, [&] {
        const std::string onto = ram + "/destination";
        if (!kivo_test::write_file(onto, "d")) {
            return 1;
        }
        const std::string kept = attributes_of(onto);
        return FSCopyFileMgrAttributes(source.c_str(), onto.c_str(), true) == FS_NOT_SUPPORTED &&
                       attributes_of(onto) == kept
                   ? 0
                   : 1;
    });
    EXPECT_TRUE(code == 0 || code == 77) << code; // 77: no mount of our own here
}

TEST_F(FileSystemCatalog, SetIdBitsComeOnlyWithTheirOwnerAndGroupAndNeverWithOthersWrite)
{
    const std::string source = at("source"), file = at("destination"), folder = at("folder");
    ASSERT_TRUE(kivo_test::write_file(source, "s") && kivo_test::write_file(file, "d"));
    ASSERT_EQ(mkdir(folder.c_str(), 0700), 0);
    const struct
    {
        mode_t source, destination;
        bool copy_lock;
        const char* after_file;
        const char* after_folder; // where set-id bits run nothing as anyone
    } writable[] = {
        {04755, 0666, false, "777 ", "4777 "}, // the destination's write bits stay, the set-id bit goes
        {02755, 0664, false, "775 ", "2775 "},
        {06777, 0600, true, "777 ", "6777 "}, // the source's own write bits, with the lock
        {06755, 0600, true, "6755 ", "6755 "},
    };
    for (const auto& c : writable) {
        ASSERT_EQ(chmod(source.c_str(), c.source), 0);
        for (const std::string& destination : {file, folder}) {
            ASSERT_EQ(chmod(destination.c_str(), c.destination), 0);
            ASSERT_EQ(FSCopyFileMgrAttributes(source.c_str(), destination.c_str(), c.copy_lock), FS_OK);
            const char* after = destination == file ? c.after_file : c.after_folder;
            EXPECT_EQ(attributes_of(destination).rfind(after, 0), 0u) << attributes_of(destination);
        }
    }

    if (geteuid() != 0) {
        GTEST_SKIP() << "owners are the superuser's to give";
    }
    // The superuser's set-id file, copied by the superuser or by a user who
    // may give a file only its own groups.
    const struct
    {
        gid_t source_group;
        bool as_stranger;
        const char* after;
    } owners[] = {
        {club, false, "6755 0:40002 "},    // both come across, both bits with them
        {0, true, "755 40001:40001 "},     // neither comes: no set-id bit
        {club, true, "2755 40001:40002 "}, // only the group comes
    };
    ASSERT_EQ(chmod(work.c_str(), 0711), 0);
    for (const auto& c : owners) {
        ASSERT_EQ(chown(source.c_str(), 0, c.source_group), 0);
        ASSERT_EQ(chmod(source.c_str(), 06755), 0);
        ASSERT_EQ(chown(file.c_str(), stranger, strangers), 0);
        ASSERT_EQ(chmod(file.c_str(), 0644), 0);
        int code = kivo_test::run_in_child([&] {
            const gid_t groups[] = {club};
            if (chdir(work.c_str()) != 0 ||
                (c.as_stranger && (setgroups(1, groups) != 0 || setgid(strangers) != 0 || setuid(stranger) != 0))) {
                return 77;
            }
            return FSCopyFileMgrAttributes("source", "destination", false) == FS_OK ? 0 : 1;
        });
        if (code == 77) {
            GTEST_SKIP() << "cannot become another user here";
        }
        EXPECT_EQ(code, 0);
        EXPECT_EQ(attributes_of(file).rfind(c.after, 0), 0u) << attributes_of(file);
    }
}

// The record of a volume, copied out of a buffer of the size asked for.
std::vector<INT_U8> mount_record(const char* path, INT_S32& result)
{
    INT_U16 size = 0;
    result = FSGetVolMountInfoSize(path, &size);
    if (result != FS_OK) {
        return {};
    }
    std::vector<INT_U8> record(size);
    std::memcpy(record.data(), &size, 2);
    result = FSGetVolMountInfo(path, record.data());
    return record;
}

TEST(FileSystemCatalogMounts, MountRecordsOfThisMachineAndRecordsRefused)
{
    INT_S32 r;
    std::vector<INT_U8> bytes = mount_record("/proc/self", r);
    ASSERT_EQ(r, FS_OK);
    FS_MOUNT_RECORD record;
    ASSERT_TRUE(fs_parse_mount_record(bytes.data(), bytes.size(), record));
    EXPECT_TRUE(record.fs_type == "proc" && record.mount_point == "/proc")
        << record.fs_type << " " << record.mount_point;
    // A buffer that is too small is left alone.
    std::vector<INT_U8> small(bytes.size() - 1, 0xAB);
    const INT_U16 room = static_cast<INT_U16>(small.size());
    std::memcpy(small.data(), &room, 2);
    EXPECT_EQ(FSGetVolMountInfo("/proc/self", small.data()), FS_BAD_NAME);
    EXPECT_EQ(small[2], 0xAB);
    mount_record("/no/such/path", r);
    EXPECT_EQ(r, FS_NOT_FOUND);

    FS_MOUNT_ENTRY entry;
    entry.source = "src";
    entry.fs_type = "tmpfs";
    entry.super_options = "size=4k";
    entry.mount_point = "/no/such/point"; // a record let through fails to find it, mounting nothing
    entry.mount_options = "ro,nosuid,nodev,noexec,relatime,unknown";
    const std::string made = fs_make_mount_record(entry);
    ASSERT_TRUE(fs_parse_mount_record(reinterpret_cast<const INT_U8*>(made.data()), made.size(), record));
    EXPECT_EQ(record.flags, static_cast<INT_U32>(MS_RDONLY | MS_NOSUID | MS_NODEV | MS_NOEXEC | MS_RELATIME));
    EXPECT_TRUE(record.source == "src" && record.options == "size=4k" && record.mount_point == entry.mount_point);
    // Each damage is refused before anything is looked at or mounted.
    const std::function<void(std::string&)> damages[] = {
        [](std::string& b) { b[0] = 11; },                          // shorter than any record
        [](std::string& b) { b[0] = static_cast<char>(b[0] + 1); }, // longer than the bytes
        [](std::string& b) { b[2] = 2; },                           // another version
        [](std::string& b) { b[7] = 0x40; },                        // a flag this host does not know
        [](std::string& b) { b.back() = 'x'; },                     // the last string unended
        [](std::string& b) {
            b.insert(b.size() - 1, 1, '\0');
            b[0] = static_cast<char>(b[0] + 1);
        },                                              // a fifth
        [](std::string& b) { b[b.size() - 15] = 'n'; }, // "nno/such/point": not absolute
    };
    char volume[PATH_MAX];
    for (const auto& damage : damages) {
        std::string bad = made;
        damage(bad);
        EXPECT_EQ(FSVolumeMount(bad.data(), volume, sizeof(volume)), FS_BAD_ARGUMENT);
    }
    EXPECT_EQ(FSVolumeMount(nullptr, volume, sizeof(volume)), FS_BAD_ARGUMENT);
}

// In a child of its own mount namespace: a 2 MiB tmpfs, unmounted, comes
// back from its record. Exit codes: 0 fine, 77 not permitted here, other
// values the failed check.
TEST_F(FileSystemCatalog, VolumeMountBringsATmpfsBackFromItsRecord)
{
    const std::string mnt = at("mnt"), file = at("file");
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    ASSERT_TRUE(kivo_test::write_file(file, ""));
    const std::string real_mnt = real(mnt);
    int code = kivo_test::run_on_own_mount(mnt, "tmpfs", MS_NOSUID | MS_NODEV, "size=2m,mode=0750", [&] {
        INT_S32 r;
        std::vector<INT_U8> record = mount_record(mnt.c_str(), r);
        struct statfs fs;
        if (r != FS_OK || umount(mnt.c_str()) != 0 || statfs(mnt.c_str(), &fs) != 0 || fs.f_type == TMPFS_MAGIC) {
            return 1;
        }
        char volume[PATH_MAX];
        std::vector<char> tight(real_mnt.size(), 'x');
        if (FSVolumeMount(record.data(), tight.data(), tight.size()) != FS_BAD_NAME || statfs(mnt.c_str(), &fs) != 0 ||
            fs.f_type == TMPFS_MAGIC) {
            return 2; // mounted although the path could not be given back
        }
        // Without the privilege: the host's refusal.
        if (kivo_test::run_in_child([&] {
                return drop_capability(CAP_SYS_ADMIN) &&
                               FSVolumeMount(record.data(), volume, sizeof(volume)) == FS_ACCESS_DENIED
                           ? 0
                           : 1;
            }) != 0) {
            return 3;
        }
        if (FSVolumeMount(record.data(), volume, sizeof(volume)) != FS_OK || real_mnt != volume) {
            return 4;
        }
        struct stat st;
        if (statfs(mnt.c_str(), &fs) != 0 || fs.f_type != TMPFS_MAGIC ||
            static_cast<INT_U64>(fs.f_blocks) * fs.f_bsize != 2u << 20 || stat(mnt.c_str(), &st) != 0 ||
            (st.st_mode & 07777) != 0750 || !(fs.f_flags & ST_NOSUID) || !(fs.f_flags & ST_NODEV)) {
            return 5;
        }
        if (FSVolumeMount(record.data(), volume, sizeof(volume)) != FS_EXISTS) {
            return 6; // mounted on already
        }
        if (umount(mnt.c_str()) != 0 || rmdir(mnt.c_str()) != 0 ||
            FSVolumeMount(record.data(), volume, sizeof(volume)) != FS_NOT_FOUND) {
            return 7;
        }
        if (rename(file.c_str(), mnt.c_str()) != 0 ||
            FSVolumeMount(record.data(), volume, sizeof(volume)) != FS_NOT_A_DIRECTORY) {
            return 8;
        }
        return 0;
    });
    if (code == 77) {
        GTEST_SKIP() << "no private mount namespace here";
    }
    EXPECT_EQ(code, 0);
}

TEST_F(FileSystemCatalog, DefaultFolderIsTheWorkingDirectory)
{
    char old[PATH_MAX], now[PATH_MAX];
    ASSERT_TRUE(kivo_test::write_file(at("f"), "f"));
    ASSERT_EQ(FSSetDefault(work.c_str(), old, sizeof(old)), FS_OK);
    ASSERT_TRUE(getcwd(now, sizeof(now)));
    EXPECT_EQ(now, real(work));
    ASSERT_EQ(FSRestoreDefault(old), FS_OK);
    ASSERT_TRUE(getcwd(now, sizeof(now)));
    EXPECT_STREQ(now, old);
    EXPECT_EQ(FSSetDefault(at("f").c_str(), old, sizeof(old)), FS_NOT_A_DIRECTORY);
}

} // namespace
