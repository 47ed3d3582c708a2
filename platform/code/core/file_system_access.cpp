// Access and attributes: the user's privileges, locks of objects and
// volumes, folders' owners and rights, fork sizes, dates, the copy of an
// object's attributes, byte-range locks, and user and group names.
#include "file_system_catalog.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using namespace fs_shared;

namespace {

bool device_read_only(dev_t device)
{
    char path[64];
    std::snprintf(path, sizeof(path), "/sys/dev/block/%u:%u/ro", major(device), minor(device));
    std::FILE* f = std::fopen(path, "re");
    if (!f) {
        return false;
    }
    int c = std::fgetc(f);
    std::fclose(f);
    return c == '1';
}

bool immutable(const char* path, const struct stat& st)
{
    // Devices are not opened: opening one can have effects of its own.
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return false;
    }
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool fixed = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_IMMUTABLE_FL);
    close(fd);
    return fixed;
}

INT_S32 stat_folder(const char* path, struct stat& st)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    if (stat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    return S_ISDIR(st.st_mode) ? FS_OK : FS_NOT_A_DIRECTORY;
}

// The destination of an attribute copy, opened once and never through a
// link. Every change acts on the entry first opened, so a link or another
// file put in its place meanwhile is left alone; a destination that is a
// link is the link itself.
struct ATTRIBUTE_DESTINATION
{
    int fd = -1;      // O_PATH: the entry itself
    int data = -1;    // the same file or folder opened for its flags, else -1
    std::string path; // /proc's name for fd, for calls that take no descriptor
    struct stat st = {};
    int flags = 0;
    INT_S32 flags_error = FS_NOT_SUPPORTED; // FS_OK once the flags are read

    ~ATTRIBUTE_DESTINATION()
    {
        if (data >= 0) {
            close(data);
        }
        if (fd >= 0) {
            close(fd);
        }
    }

    INT_S32 open_entry(const char* name)
    {
        fd = open(name, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0) {
            return fs_error_from_errno(errno);
        }
        // Without /proc there is no such name: refused before any change.
        path = "/proc/self/fd/" + std::to_string(fd);
        struct stat named;
        if (stat(path.c_str(), &named) != 0 || named.st_dev != st.st_dev || named.st_ino != st.st_ino) {
            return FS_NOT_SUPPORTED;
        }
        // Devices are not opened: opening one can have effects of its own.
        // Links and devices keep no flags.
        if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
            data = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            if (data < 0) {
                flags_error = fs_error_from_errno(errno);
            } else if (ioctl(data, FS_IOC_GETFLAGS, &flags) == 0) {
                flags_error = FS_OK;
            } else if (errno != ENOTTY && errno != EOPNOTSUPP) {
                flags_error = fs_error_from_errno(errno);
            }
        }
        return FS_OK;
    }

    bool immutable() const { return flags_error == FS_OK && (flags & FS_IMMUTABLE_FL); }

    INT_S32 set_immutable(bool on)
    {
        int changed = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        if (ioctl(data, FS_IOC_SETFLAGS, &changed) != 0) {
            return errno == ENOTTY || errno == EOPNOTSUPP ? FS_NOT_SUPPORTED : fs_error_from_errno(errno);
        }
        return FS_OK;
    }
};

// The bits an attribute copy gives: the source's, with the destination's
// own write bits unless the lock goes across. A set-id bit comes only when
// the destination has the owner or group it runs as, and never onto a
// file the group or others may write: they keep writing it, the bit goes.
mode_t copied_mode(const struct stat& from, const struct stat& to, const struct stat& now, bool copy_lock_bit)
{
    mode_t mode = from.st_mode & 07777;
    if (!copy_lock_bit) {
        mode = (mode & ~static_cast<mode_t>(0222)) | (to.st_mode & 0222);
    }
    if (now.st_uid != from.st_uid) {
        mode &= ~static_cast<mode_t>(S_ISUID);
    }
    if (now.st_gid != from.st_gid) {
        mode &= ~static_cast<mode_t>(S_ISGID);
    }
    // On a folder neither bit runs anything as anyone (set-group-id only
    // hands its group to new entries, as in a shared group-writable folder).
    if (!S_ISDIR(now.st_mode) && (mode & (S_IWGRP | S_IWOTH))) {
        mode &= ~static_cast<mode_t>(S_ISUID | S_ISGID);
    }
    return mode;
}

// FSCopyFileMgrAttributes' steps once the destination takes changes: the
// Finder information, owner and group, bits and times.
INT_S32 copy_unlocked(const char* source, const char* destination, const struct stat& from,
                      const ATTRIBUTE_DESTINATION& to, bool copy_lock_bit)
{
    // The Finder information first of what follows: a damaged value there
    // is refused before the rest changes, and a destination whose new bits
    // take its write bits away takes no attribute from its owner after.
    INT_S32 r = copy_finder_info(source, destination, to.fd);
    if (r != FS_OK) {
        return r;
    }
    // Owner and group before the bits: a change of either clears the
    // set-id bits. The entry is given away only by a process that may
    // still set its bits and times afterwards; a caller that may not give
    // it away may still give it one of its own groups.
    const bool give_away = from.st_uid != to.st.st_uid && has_capability(CAP_CHOWN) && has_capability(CAP_FOWNER);
    const uid_t owner = give_away ? from.st_uid : static_cast<uid_t>(-1);
    const gid_t group = from.st_gid != to.st.st_gid ? from.st_gid : static_cast<gid_t>(-1);
    if ((give_away || group != static_cast<gid_t>(-1)) && fchownat(to.fd, "", owner, group, AT_EMPTY_PATH) != 0) {
        if (errno != EPERM) {
            return fs_error_from_errno(errno);
        }
        if (give_away && group != static_cast<gid_t>(-1) &&
            fchownat(to.fd, "", static_cast<uid_t>(-1), group, AT_EMPTY_PATH) != 0 && errno != EPERM) {
            return fs_error_from_errno(errno);
        }
    }
    struct stat now;
    if (fstat(to.fd, &now) != 0) {
        return fs_error_from_errno(errno);
    }
    // A link keeps no bits of its own.
    if (!S_ISLNK(now.st_mode) && chmod(to.path.c_str(), copied_mode(from, to.st, now, copy_lock_bit)) != 0) {
        return fs_error_from_errno(errno);
    }
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (utimensat(AT_FDCWD, to.path.c_str(), times, 0) != 0) {
        return fs_error_from_errno(errno);
    }
    return FS_OK;
}

INT_S32 set_range_lock(int fork, INT_U64 count, INT_U64 start, bool lock)
{
    if (fork < 0) {
        return FS_BAD_REFNUM;
    }
    if (start > static_cast<INT_U64>(INT64_MAX) || count > static_cast<INT_U64>(INT64_MAX) - start) {
        return FS_BAD_ARGUMENT;
    }
    int mode = fcntl(fork, F_GETFL);
    if (mode < 0) {
        return FS_BAD_REFNUM;
    }
    struct flock fl = {};
    fl.l_type = !lock ? F_UNLCK : (mode & O_ACCMODE) == O_RDONLY ? F_RDLCK : F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = static_cast<off_t>(start);
    fl.l_len = static_cast<off_t>(count);
    if (fcntl(fork, F_OFD_SETLK, &fl) != 0) {
        return errno == EAGAIN || errno == EACCES ? FS_RANGE_OVERLAP : fs_error_from_errno(errno);
    }
    return FS_OK;
}

} // namespace

INT_S32 FSGetUserPrivilegesPermissions(const char* path, INT_U8* user_privileges, INT_U32 permissions[4])
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (user_privileges) {
        const bool folder = S_ISDIR(st.st_mode);
        INT_U8 p = 0;
        if (faccessat(AT_FDCWD, path, folder ? R_OK | X_OK : R_OK, AT_EACCESS) != 0) {
            p |= folder ? FS_USER_NO_SEE_FOLDERS | FS_USER_NO_SEE_FILES : FS_USER_NO_SEE_FILES;
        }
        if (faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) != 0) {
            p |= FS_USER_NO_MAKE_CHANGES;
        }
        if (geteuid() != st.st_uid) {
            p |= FS_USER_NOT_OWNER;
        }
        *user_privileges = p;
    }
    if (permissions) {
        permissions[0] = st.st_uid;
        permissions[1] = st.st_gid;
        permissions[2] = st.st_mode & 0xFFFF;
        permissions[3] = static_cast<INT_U32>(st.st_rdev);
    }
    return FS_OK;
}

INT_S32 FSCheckLock(const char* path)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    struct statvfs vs;
    if (stat(path, &st) != 0 || statvfs(path, &vs) != 0) {
        return fs_error_from_errno(errno);
    }
    if ((st.st_mode & 0222) == 0 || immutable(path, st)) {
        return FS_FILE_LOCKED;
    }
    if (device_read_only(st.st_dev)) {
        return FS_VOLUME_HARDWARE_LOCKED;
    }
    if (vs.f_flag & ST_RDONLY) {
        return FS_VOLUME_LOCKED;
    }
    return FS_OK;
}

INT_S32 FSGetDirAccess(const char* path, INT_S32* owner_id, INT_S32* group_id, INT_S32* access_rights)
{
    struct stat st;
    INT_S32 r = stat_folder(path, st);
    if (r != FS_OK) {
        return r;
    }
    if (owner_id) {
        *owner_id = static_cast<INT_S32>(st.st_uid);
    }
    if (group_id) {
        *group_id = static_cast<INT_S32>(st.st_gid);
    }
    if (access_rights) {
        *access_rights = static_cast<INT_S32>(st.st_mode & 07777);
    }
    return FS_OK;
}

INT_S32 FSSetDirAccess(const char* path, INT_S32 owner_id, INT_S32 group_id, INT_S32 access_rights)
{
    struct stat st;
    INT_S32 r = stat_folder(path, st);
    if (r != FS_OK) {
        return r;
    }
    if (access_rights & ~07777) {
        return FS_BAD_ARGUMENT;
    }
    // The owner first: a change of owner clears the set-id bits.
    if ((owner_id != -1 || group_id != -1) &&
        chown(path, static_cast<uid_t>(owner_id), static_cast<gid_t>(group_id)) != 0) {
        return fs_error_from_errno(errno);
    }
    if (chmod(path, static_cast<mode_t>(access_rights)) != 0) {
        return fs_error_from_errno(errno);
    }
    return FS_OK;
}

INT_S32 FSGetForkSizes(const char* path, INT_U64* data_size, INT_U64* resource_size)
{
    struct stat st;
    INT_S32 r = stat_file(path, st);
    if (r != FS_OK) {
        return r;
    }
    if (data_size) {
        *data_size = static_cast<INT_U64>(st.st_size);
    }
    if (resource_size) {
        *resource_size = 0;
    }
    return FS_OK;
}

INT_S32 FSGetTotalForkSizes(const char* path, INT_U64* logical_size, INT_U64* physical_size, INT_U32* fork_count)
{
    struct stat st;
    INT_S32 r = stat_file(path, st);
    if (r != FS_OK) {
        return r;
    }
    if (logical_size) {
        *logical_size = static_cast<INT_U64>(st.st_size);
    }
    if (physical_size) {
        *physical_size = static_cast<INT_U64>(st.st_blocks) * 512;
    }
    if (fork_count) {
        *fork_count = 1;
    }
    return FS_OK;
}

INT_S32 FSBumpDate(const char* path)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // Whole seconds: a time that only moved within its second would look
    // unchanged to anything that compares dates in seconds.
    time_t seconds = now.tv_sec == st.st_mtim.tv_sec ? now.tv_sec + 1 : now.tv_sec;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    if (utimensat(AT_FDCWD, path, times, 0) != 0) {
        return fs_error_from_errno(errno);
    }
    return FS_OK;
}

INT_S32 FSCopyFileMgrAttributes(const char* source, const char* destination, bool copy_lock_bit)
{
    if (!source || !destination) {
        return FS_BAD_ARGUMENT;
    }
    struct stat from;
    if (stat(source, &from) != 0) {
        return fs_error_from_errno(errno);
    }
    ATTRIBUTE_DESTINATION to;
    INT_S32 r = to.open_entry(destination);
    if (r != FS_OK) {
        return r;
    }
    // What is refused for want of a right or of the attribute is refused
    // before anything changes. An immutable destination takes no change at
    // all unless copying the lock takes the attribute off first.
    const bool lock_from = copy_lock_bit && immutable(source, from);
    const bool fixed = to.immutable();
    const bool lock_change = copy_lock_bit && lock_from != fixed;
    if (fixed && !lock_change) {
        return FS_ACCESS_DENIED;
    }
    if (lock_change && !has_capability(CAP_LINUX_IMMUTABLE)) {
        return FS_ACCESS_DENIED;
    }
    if (lock_change && !fixed && to.flags_error != FS_OK) {
        return to.flags_error;
    }
    if (geteuid() != to.st.st_uid && !has_capability(CAP_FOWNER)) {
        return FS_ACCESS_DENIED;
    }
    if (lock_change && fixed) {
        r = to.set_immutable(false);
        if (r != FS_OK) {
            return r;
        }
    }
    r = copy_unlocked(source, destination, from, to, copy_lock_bit);
    // A step refused once the attribute came off puts it back: what is
    // refused leaves the destination protected as it was.
    if (r != FS_OK && lock_change && fixed) {
        to.set_immutable(true);
    }
    if (r != FS_OK) {
        return r;
    }
    // The attributes come last, the immutable one after every other: once
    // it is on, nothing changes.
    return lock_change && !fixed ? to.set_immutable(true) : FS_OK;
}

INT_S32 FSLockRangeCompat(int fork, INT_U64 count, INT_U64 start)
{
    return set_range_lock(fork, count, start, true);
}

INT_S32 FSUnlockRangeCompat(int fork, INT_U64 count, INT_U64 start)
{
    return set_range_lock(fork, count, start, false);
}

INT_S32 FSMapID(INT_S32 id, INT_S16 kind, char* name, std::size_t size)
{
    if (!name || size == 0 || (kind != FS_MAP_OWNER_ID && kind != FS_MAP_GROUP_ID)) {
        return FS_BAD_ARGUMENT;
    }
    std::vector<char> buf(1024);
    while (true) {
        const char* found = nullptr;
        int rc;
        if (kind == FS_MAP_OWNER_ID) {
            struct passwd pw, *res = nullptr;
            rc = getpwuid_r(static_cast<uid_t>(id), &pw, buf.data(), buf.size(), &res);
            if (res) {
                found = pw.pw_name;
            }
        } else {
            struct group gr, *res = nullptr;
            rc = getgrgid_r(static_cast<gid_t>(id), &gr, buf.data(), buf.size(), &res);
            if (res) {
                found = gr.gr_name;
            }
        }
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (!found) {
            return rc ? fs_error_from_errno(rc) : FS_NOT_FOUND;
        }
        return copy_out(found, name, size);
    }
}

INT_S32 FSMapName(const char* name, INT_S16 kind, INT_S32* id)
{
    if (!name || !id || (kind != FS_MAP_OWNER_NAME && kind != FS_MAP_GROUP_NAME)) {
        return FS_BAD_ARGUMENT;
    }
    std::vector<char> buf(1024);
    while (true) {
        bool found = false;
        int rc;
        if (kind == FS_MAP_OWNER_NAME) {
            struct passwd pw, *res = nullptr;
            rc = getpwnam_r(name, &pw, buf.data(), buf.size(), &res);
            if (res) {
                found = true;
                *id = static_cast<INT_S32>(pw.pw_uid);
            }
        } else {
            struct group gr, *res = nullptr;
            rc = getgrnam_r(name, &gr, buf.data(), buf.size(), &res);
            if (res) {
                found = true;
                *id = static_cast<INT_S32>(gr.gr_gid);
            }
        }
        if (rc == ERANGE && buf.size() < (1u << 20)) {
            buf.resize(buf.size() * 2);
            continue;
        }
        if (!found) {
            return rc ? fs_error_from_errno(rc) : FS_NOT_FOUND;
        }
        return FS_OK;
    }
}
