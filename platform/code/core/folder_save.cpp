// Whole-file saves: a file written whole goes to a new file beside its
// target and replaces it by a rename only once all of it is on the disk, so
// a full disk, a size limit or a crash leaves the old file as it was.
//
// The new file is made without a name (O_TMPFILE), marked as a temporary
// of its target (see fs_mark_temporary: the mark names the target) and
// locked, and only then named; it is written, synced and renamed over the
// target, and the mark comes off after the rename. So a save killed at any
// moment leaves either nothing or a marked file of the saves' pattern, and
// the next save of the same target, saves and copies sharing one clean-up,
// removes it under the folder's lock (it also gives back what a killed copy
// had set aside, before this save looks at its target). A file the user or
// the program saved under a name of that pattern carries no mark, or one
// that names itself, and stays. Where the file system cannot make unnamed
// files, the new file is made under a private name and marked there before
// it takes its name (see fs_shared::make_temporary_file); a kill before its
// mark leaves it empty under the private name, which a clean-up removes.
// Where the file system keeps no extended attributes the new files go
// unmarked: saves work as anywhere else, and what killed ones leave there
// under the saves' pattern stays for the user to remove.
//
// The new file takes what the old one carried before it takes the name:
// its owner and group, its extended attributes (the Finder value and the
// access control list among them) and its permission bits, the attributes
// and the rename under the old file's own lock, so that a Finder change
// made meanwhile is read from it and kept. Where those attributes fill the
// room the file system gives a file's (ext4's), the mark would cost them
// theirs: the new file then trades it for a name bound to itself, which
// clean-ups know it by as well (see unmark_for_room). A file whose owner
// or group this process cannot give, or one with other hard links, is
// not replaced but written in place, with its old bytes first put whole
// on the disk in a copy beside it that no clean-up takes, and its set-id
// bits given back after the writing took them off (see write_in_place).
#include "folder.h"

#include "file_system.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Streams of whole-file saves still open, with their new file and target.
// While a save runs it holds a lock on its new file, through lock_fd, until
// the file is renamed or removed: a later clean-up removes only marked new
// files whose lock it can take, those a killed save left.
struct WHOLE_FILE
{
    FILE* fp;
    std::string new_path;
    std::string target;
    int lock_fd;
    mode_t bits; // the permission bits the file takes
    bool marked; // carries the temporary mark
};

std::mutex whole_files_lock;

// A write past the file-size limit (RLIMIT_FSIZE) would end the process
// with SIGXFSZ, losing what it holds; ignored, the write fails with EFBIG
// and the save reports it like a full disk. Set at start-up of every
// program that links the folder code (the program and the tests alike),
// unless the program has a handler of its own by then.
struct FILE_SIZE_SIGNAL
{
    FILE_SIZE_SIGNAL()
    {
        struct sigaction now;
        if (sigaction(SIGXFSZ, nullptr, &now) == 0 && now.sa_handler == SIG_DFL && !(now.sa_flags & SA_SIGINFO)) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
    }
};
FILE_SIZE_SIGNAL file_size_signal;

// Never destroyed: debug channels may close their files during exit.
std::vector<WHOLE_FILE>& whole_files()
{
    static std::vector<WHOLE_FILE>* files = new std::vector<WHOLE_FILE>;
    return *files;
}

// Symbolic-link hops followed before a path is taken for a loop.
constexpr int MAX_LINK_HOPS = 40;
std::string folder_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path finally names, symbolic links followed (a relative link
// from its own folder), whether or not that file exists. False for a loop.
bool real_target(const char* path, std::string& out)
{
    std::string at = path;
    for (int hops = 0; hops < MAX_LINK_HOPS; ++hops) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = at;
            return true;
        }
        char link[FS_PATH_MAX];
        ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
        if (n < 0) {
            return false;
        }
        link[n] = 0;
        if (link[0] == '/') {
            at = link;
        } else {
            at = (at.find('/') == std::string::npos ? std::string() : folder_of(at) + "/") + link;
        }
    }
    return false;
}

bool take_whole_file(FILE* fp, WHOLE_FILE& out)
{
    std::lock_guard<std::mutex> hold(whole_files_lock);
    std::vector<WHOLE_FILE>& files = whole_files();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].fp == fp) {
            out = files[i];
            files.erase(files.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

FILE* open_whole(const char* native_path, const char* stdio_mode)
{
    if (!native_path || !native_path[0] || !stdio_mode || stdio_mode[0] != 'w') {
        return nullptr;
    }
    std::string target;
    if (!real_target(native_path, target)) {
        return nullptr;
    }
    const std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    const std::string folder = folder_of(target);

    // What killed saves and copies of this target left is cleared, and an
    // entry a killed copy had set aside given back, before the target is
    // looked at; the new file is made under the same hold, so no clean-up
    // takes it before it is marked. A folder that cannot be read is held
    // too, but nothing is cleared there.
    fs_shared::FOLDER_HOLD hold;
    if (!hold.take(folder.c_str())) {
        return nullptr;
    }
    if (hold.fd() >= 0) {
        fs_shared::clear_leftovers(hold.fd(), base.c_str());
    }

    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        return nullptr;
    }
    // Devices and pipes cannot be replaced: they are written as they are,
    // opened once the hold is let go (a pipe waits for its reader).
    if (exists && !S_ISREG(st.st_mode)) {
        hold.release();
        return std::fopen(target.c_str(), stdio_mode);
    }
    // A file the user protected from writing stays protected, although the
    // folder would allow replacing it.
    if (exists && access(target.c_str(), W_OK) != 0) {
        return nullptr;
    }
    const mode_t bits = exists ? (st.st_mode & 07777) : (0666 & ~fs_shared::current_umask());

    // A folder we may write but not read is named into through a path
    // descriptor.
    fs_shared::TEMPORARY t;
    const INT_S32 made =
        hold.dir() < 0 ? FS_NOT_FOUND
                       : fs_shared::make_temporary_file(hold.dir(), fs_temporary_prefix(base, fs_shared::save_marker),
                                                        base.c_str(), O_RDWR, bits, t);
    if (made != FS_OK) {
        return nullptr;
    }
    hold.release();
    const std::string new_path = folder + "/" + t.name;
    int lock_fd = fcntl(t.fd, F_DUPFD_CLOEXEC, 0);
    FILE* fp = lock_fd >= 0 ? fdopen(t.fd, stdio_mode) : nullptr;
    if (fp) {
        std::lock_guard<std::mutex> hold_list(whole_files_lock);
        whole_files().push_back(WHOLE_FILE{fp, new_path, target, lock_fd, bits, t.marked});
        return fp;
    }
    unlink(new_path.c_str());
    ::close(t.fd);
    if (lock_fd >= 0) {
        ::close(lock_fd);
    }
    return nullptr;
}

// What follows the name of a save's target in the name of the copy of its
// old bytes while it is written in place.
constexpr char kept_marker[] = ".kivo-old.";

// fs_mark_temporary's attribute: the new file's own, never carried over.
const char temporary_mark[] = "user.kivo.temporary";
// What a save keeps or fails: the Finder value and the access control
// lists. Any other attribute the system refuses to read or give is left.
bool must_keep(const std::string& name)
{
    return name == FS_FINDER_ATTRIBUTE || name == "system.posix_acl_access" || name == "system.posix_acl_default";
}
bool refused(int err)
{
    return err == EPERM || err == EACCES || err == ENOTSUP || err == EINVAL;
}

// A growing list or value read with `get` (the size asked first, then read
// again while it grows meanwhile). False with errno set.
template <typename GET> bool read_sized(GET get, std::vector<char>& out)
{
    for (int tries = 0; tries < 8; ++tries) {
        ssize_t n = get(nullptr, 0);
        if (n < 0) {
            return false;
        }
        out.resize(static_cast<std::size_t>(n));
        n = n == 0 ? 0 : get(out.data(), out.size());
        if (n >= 0) {
            out.resize(static_cast<std::size_t>(n));
            return true;
        }
        if (errno != ERANGE) {
            return false;
        }
    }
    errno = ERANGE;
    return false;
}

// The names `list` gives (listxattr's form); none where the file system
// keeps no attributes.
template <typename LIST> bool attribute_names(LIST list, std::vector<std::string>& names)
{
    std::vector<char> all;
    if (!read_sized(list, all)) {
        return errno == ENOTSUP;
    }
    for (std::size_t at = 0; at < all.size();) {
        const std::size_t length = strnlen(all.data() + at, all.size() - at);
        if (length > 0) {
            names.emplace_back(all.data() + at, length);
        }
        at += length + 1;
    }
    return true;
}

// Gives the new file open as `to` the extended attributes of the old file
// `from` (a path that leads to it), and takes off those it was given by
// its folder that the old one lacks (an inherited access control list),
// those first, so that they leave their room to the old file's. False
// with errno set.
bool carry_attributes(const std::string& from, int to)
{
    std::vector<std::string> old_names, new_names;
    if (!attribute_names([&](char* b, std::size_t n) { return listxattr(from.c_str(), b, n); }, old_names) ||
        !attribute_names([&](char* b, std::size_t n) { return flistxattr(to, b, n); }, new_names)) {
        return false;
    }
    for (const std::string& name : new_names) {
        if (name != temporary_mark && std::find(old_names.begin(), old_names.end(), name) == old_names.end() &&
            fremovexattr(to, name.c_str()) != 0 && errno != ENODATA && (must_keep(name) || !refused(errno))) {
            return false;
        }
    }
    std::vector<char> value;
    for (const std::string& name : old_names) {
        if (name == temporary_mark) {
            continue;
        }
        const char* n = name.c_str();
        if (!read_sized([&](char* b, std::size_t size) { return getxattr(from.c_str(), n, b, size); }, value) ||
            fsetxattr(to, n, value.data(), value.size(), 0) != 0) {
            if (errno != ENODATA && (must_keep(name) || !refused(errno))) {
                return false;
            }
        }
    }
    return true;
}

// Gives the file open as `fd` the permission bits `bits`. A write, a cut
// or a change of owner by a process without CAP_FSETID takes set-uid off
// a file, and set-gid where its group may run it or the writer is not of
// that group; only the owner may give them back, and set-gid only while
// of the group (a change of mode by anyone else takes it off): where
// set-id bits did not stay, false with errno EPERM.
bool give_bits(int fd, mode_t bits)
{
    if (fchmod(fd, bits) != 0) {
        return false;
    }
    struct stat st;
    if (!(bits & (S_ISUID | S_ISGID))) {
        return true;
    }
    if (fstat(fd, &st) != 0) {
        return false;
    }
    if ((st.st_mode & 07777) != bits) {
        errno = EPERM;
        return false;
    }
    return true;
}

// True when the file open as `fd`, just written, still has the permission
// bits `bits` or has been given them back (see give_bits). Bits that
// stayed are not given again: a change of mode by one who is not of the
// file's group takes its set-gid off.
bool kept_bits(int fd, mode_t bits)
{
    struct stat st;
    return fstat(fd, &st) == 0 && ((st.st_mode & 07777) == bits || give_bits(fd, bits));
}

bool synced(int fd)
{
    return fsync(fd) == 0 || errno == EINVAL;
}

// Makes a folder's entries durable; where it may not be read (a drop box),
// the whole file system, through `inside`, a file in it (-1: nothing).
bool sync_folder(const std::string& folder, int inside)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return inside >= 0 && syncfs(inside) == 0;
    }
    const bool ok = synced(fd);
    ::close(fd);
    return ok;
}

// Writes all that `from` holds over the start of `to` and cuts `to` to its
// length, calling `each` after every block. False with errno set.
template <typename EACH> bool copy_bytes(int from, int to, EACH each)
{
    constexpr std::size_t block = 1 << 16;
    std::vector<char> buffer(block);
    off_t at = 0;
    for (;;) {
        const ssize_t n = pread(from, buffer.data(), block, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            return ftruncate(to, at) == 0;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = pwrite(to, buffer.data() + done, static_cast<std::size_t>(n - done), at + done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return false;
            }
            done += w;
        }
        at += n;
        each();
    }
}

void tell_step(int step)
{
    if (fs_save_in_place_step) {
        fs_save_in_place_step(step);
    }
}

// What one look at the target came to.
enum PLACED
{
    place_failed,
    place_renamed,
    place_written,
    place_again, // the name led to another file by the time it was held
};

// The old file's name and folder: `dir` (O_PATH) open on the folder
// `folder`, `name` in it.
struct TARGET
{
    int dir;
    std::string folder, name;
};

// Writes the bytes of the new file open as `from` into the old file open
// as `file` (for reading and writing, its lock held), so that its inode,
// and with it its links, owner and attributes, stays. Until the new bytes
// are on the disk the old ones stand whole under the name or in `copy`,
// which was made for them: they are copied there and synced while it is
// a marked temporary (a kill leaves it to the next save's clean-up), then
// it takes a name no clean-up takes (".<name>.kivo-old.XXXXXX"), with
// the old owner and group where this process may give them, before the
// file is touched, and it is removed once the new bytes are synced. The
// file keeps its permission bits: set-id bits the writing took off are
// given back, and where they cannot be the save fails. A failure after
// the file was touched writes the old bytes back; the copy stays where
// even that fails.
bool write_in_place(int from, int file, const struct stat& old, const TARGET& t, fs_shared::TEMPORARY& copy)
{
    const auto none = [] {};
    const mode_t bits = old.st_mode & 07777;
    bool kept = false;
    const bool copied = copy_bytes(file, copy.fd, none) && synced(copy.fd);
    if (copied) {
        tell_step(fs_step_copy_synced);
    }
    std::string kept_name;
    if (copied && fs_shared::make_unique(fs_temporary_prefix(t.name, kept_marker), kept_name, [&](const char* n) {
                      return fs_rename_noreplace(t.dir, copy.name.c_str(), t.dir, n);
                  }) == FS_OK) {
        copy.name = kept_name;
        kept = sync_folder(t.folder, copy.fd);
    }
    if (!kept) {
        unlinkat(t.dir, copy.name.c_str(), 0);
        return false;
    }
    fs_unmark_temporary(copy.fd);
    if (fchown(copy.fd, old.st_uid, old.st_gid) == 0 || fchown(copy.fd, static_cast<uid_t>(-1), old.st_gid) == 0) {
        fchmod(copy.fd, (old.st_mode & 0777) | S_IRUSR | S_IWUSR);
    }
    tell_step(fs_step_copy_kept);

    if (copy_bytes(from, file, [] { tell_step(fs_step_new_bytes_part); }) && kept_bits(file, bits)) {
        tell_step(fs_step_new_bytes_written);
        if (synced(file)) {
            tell_step(fs_step_new_bytes_synced);
            unlinkat(t.dir, copy.name.c_str(), 0);
            tell_step(fs_step_copy_removed);
            return true;
        }
    }
    const int err = errno;
    if (copy_bytes(copy.fd, file, none)) {
        kept_bits(file, bits); // as far as this process may give them
        if (synced(file)) {
            unlinkat(t.dir, copy.name.c_str(), 0);
        }
    }
    errno = err;
    return false;
}

// True when writing the file `st` describes takes set-id bits off that
// this process cannot give back (see give_bits): set-uid unless it is the
// owner; set-gid unless it is of the group and, where the group may run
// the file, the owner. With CAP_FSETID writing takes none off.
bool loses_set_id(const struct stat& st)
{
    if (!(st.st_mode & (S_ISUID | S_ISGID)) || fs_shared::has_capability(CAP_FSETID)) {
        return false;
    }
    const bool owner = geteuid() == st.st_uid || fs_shared::has_capability(CAP_FOWNER);
    const bool member = fs_shared::in_group(st.st_gid);
    return ((st.st_mode & S_ISUID) && !owner) ||
           ((st.st_mode & S_ISGID) && (!member || ((st.st_mode & S_IXGRP) && !owner)));
}

// The save of a file that cannot be replaced: the old file, named as `st`
// describes, is held and written in place (see write_in_place). One
// whose set-id bits would be lost is left untouched (EPERM).
PLACED place_in_place(int new_fd, const TARGET& t, const struct stat& st)
{
    const int file = openat(t.dir, t.name.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    fs_shared::CLOSING closing{file};
    struct stat now;
    if (file < 0 || fstat(file, &now) != 0) {
        return errno == ENOENT ? place_again : place_failed;
    }
    if (now.st_dev != st.st_dev || now.st_ino != st.st_ino) {
        return place_again;
    }
    if (loses_set_id(now)) {
        errno = EPERM;
        return place_failed;
    }
    // The copy is made under the folder's lock, as every temporary is, and
    // that lock let go before the file's own is taken: Finder changes take
    // the two in the other order.
    fs_shared::TEMPORARY copy;
    {
        fs_shared::FOLDER_HOLD folder;
        if (!folder.take(t.dir) ||
            fs_shared::make_temporary_file(folder.dir(), fs_temporary_prefix(t.name, fs_shared::save_marker),
                                           t.name.c_str(), O_RDWR, S_IRUSR, copy) != FS_OK) {
            return place_failed;
        }
    }
    fs_shared::CLOSING closing_copy{copy.fd};
    tell_step(fs_step_copy_made);
    fs_shared::OBJECT_HOLD hold;
    if (!hold.take(file)) {
        unlinkat(t.dir, copy.name.c_str(), 0);
        return place_failed;
    }
    if (!fs_shared::same_entry(t.dir, t.name.c_str(), now)) {
        unlinkat(t.dir, copy.name.c_str(), 0);
        return place_again;
    }
    return write_in_place(new_fd, file, now, t, copy) ? place_written : place_failed;
}

// Errors of an attribute that finds no room beside what the file carries.
bool no_room(int err)
{
    return err == ENOSPC || err == E2BIG;
}

// The new file of a save, open as `fd`, named `path` beside its target `t`
// and marked as its, whose old file's attributes find no room beside the
// mark: it takes a name of its pattern bound to it (see
// fs_shared::bound_suffix), which clean-ups know it by, and only then
// loses its mark. Its lock keeps clean-ups off it meanwhile, and a kill
// at any moment leaves it known by the mark or by that name. False with
// errno set; `path` names the file still.
bool unmark_for_room(int fd, std::string& path, const TARGET& t)
{
    const std::string prefix = fs_temporary_prefix(t.name, fs_shared::save_marker);
    const std::string was = path.substr(path.rfind('/') + 1);
    for (int which = 0; which < fs_shared::bound_names; ++which) {
        const std::string suffix = fs_shared::bound_suffix(fd, t.name.c_str(), which);
        if (suffix.empty()) {
            return false;
        }
        const std::string name = prefix + suffix;
        if (fs_rename_noreplace(t.dir, was.c_str(), t.dir, name.c_str()) == 0) {
            path = fs_shared::join(t.folder, name);
            return fs_unmark_temporary(fd);
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

// The old file, named as `st` describes, held while the new file open as
// `new_fd` (`new_path`), already given its owner and group, takes its
// attributes and bits and then its name. A save's own new file (`own`)
// whose mark leaves the old file's attributes no room loses it first, and
// new_path follows it to its name then (see unmark_for_room).
PLACED place_by_renaming(int new_fd, std::string& new_path, bool own, const TARGET& t, const struct stat& st)
{
    const int old = openat(t.dir, t.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    fs_shared::CLOSING closing{old};
    struct stat now;
    if (old < 0 || fstat(old, &now) != 0) {
        return errno == ENOENT ? place_again : place_failed;
    }
    fs_shared::OBJECT_HOLD hold;
    if (!hold.take(old)) {
        return place_failed;
    }
    if (now.st_dev != st.st_dev || now.st_ino != st.st_ino || now.st_nlink != st.st_nlink || now.st_uid != st.st_uid ||
        now.st_gid != st.st_gid || !fs_shared::same_entry(t.dir, t.name.c_str(), now)) {
        return place_again;
    }
    const std::string proc = "/proc/self/fd/" + std::to_string(old);
    bool carried = carry_attributes(proc, new_fd);
    if (!carried && own && no_room(errno)) {
        carried = unmark_for_room(new_fd, new_path, t) && carry_attributes(proc, new_fd);
        if (carried && fs_save_unmarked) {
            fs_save_unmarked();
        }
    }
    if (!carried || !give_bits(new_fd, now.st_mode & 07777) ||
        std::rename(new_path.c_str(), fs_shared::join(t.folder, t.name).c_str()) != 0) {
        return place_failed;
    }
    return place_renamed;
}

// Number of looks at a target that other saves keep replacing.
constexpr int place_tries = 8;

// Puts the finished new file, open as `new_fd` and named `new_path`
// beside the real file `real`, in that file's place, and makes that
// durable. place_written: the new file's bytes were written into the old
// file, and the new file stays for the caller to remove, under new_path
// (a save's own new file, `own`, may have taken another name).
PLACED place_new_file(int new_fd, std::string& new_path, bool own, const std::string& real)
{
    TARGET t{-1, folder_of(real), real.substr(real.rfind('/') == std::string::npos ? 0 : real.rfind('/') + 1)};
    t.dir = ::open(t.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    fs_shared::CLOSING closing{t.dir};
    if (t.dir < 0) {
        return place_failed;
    }
    PLACED placed = place_again;
    for (int tries = 0; placed == place_again && tries < place_tries; ++tries) {
        struct stat st, mine;
        if (fstat(new_fd, &mine) != 0) {
            placed = place_failed;
        } else if (fstatat(t.dir, t.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // A new name: nothing to keep.
            placed = errno == ENOENT && std::rename(new_path.c_str(), real.c_str()) == 0 ? place_renamed : place_failed;
        } else if (!S_ISREG(st.st_mode)) {
            placed = place_failed;
        } else if (st.st_nlink > 1) {
            placed = place_in_place(new_fd, t, st);
        } else if ((st.st_uid != mine.st_uid || st.st_gid != mine.st_gid) &&
                   fchown(new_fd, st.st_uid, st.st_gid) != 0) {
            placed = errno == EPERM || errno == EINVAL ? place_in_place(new_fd, t, st) : place_failed;
        } else {
            placed = place_by_renaming(new_fd, new_path, own, t, st);
        }
    }
    if (placed == place_renamed) {
        // The rename itself reaches the disk only with its folder. The
        // file is in place already, so a folder that cannot be synced
        // changes nothing.
        sync_folder(t.folder, -1);
    }
    return placed == place_again ? place_failed : placed;
}

} // namespace

FILE* FOLDER::open_whole_file(const char* native_path, const char* stdio_mode)
{
    return open_whole(native_path, stdio_mode);
}

bool FOLDER::finish_file(FILE* fp, bool keep)
{
    if (!fp) {
        return false;
    }
    WHOLE_FILE whole;
    bool is_whole = take_whole_file(fp, whole);
    bool ok = !std::ferror(fp);
    // A file system that cannot sync at all (EINVAL) is taken as it is.
    if (is_whole) {
        ok = keep && ok && std::fflush(fp) == 0 && synced(fileno(fp));
    }
    ok = std::fclose(fp) == 0 && ok;
    if (!is_whole) {
        return ok;
    }
    // The bits an existing target has are given as it is replaced; a new
    // file's, where they take the owner's write bit away, only once the
    // mark is off, which needs that bit.
    struct stat old;
    const bool had_target = ok && stat(whole.target.c_str(), &old) == 0;
    const PLACED placed = ok ? place_new_file(whole.lock_fd, whole.new_path, whole.marked, whole.target) : place_failed;
    if (placed == place_renamed) {
        // Off only now, so that no kill leaves the new file unmarked; one
        // left on the target by a kill here names the target itself, and
        // nothing takes it for a leftover.
        if (whole.marked) {
            fs_unmark_temporary(whole.lock_fd);
        }
        if (!had_target && !(whole.bits & S_IWUSR)) {
            fchmod(whole.lock_fd, whole.bits);
        }
    } else {
        unlink(whole.new_path.c_str());
    }
    ::close(whole.lock_fd);
    return placed != place_failed;
}

bool FOLDER::replace_file(const char* new_path, const char* target)
{
    std::string real;
    if (!new_path || !target || !real_target(target, real)) {
        return false;
    }
    const int fd = ::open(new_path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    std::string path = new_path;
    const PLACED placed =
        fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? place_new_file(fd, path, false, real) : place_failed;
    if (fd >= 0) {
        ::close(fd);
    }
    if (placed == place_written) {
        unlink(new_path);
    }
    return placed != place_failed;
}

void (*fs_save_in_place_step)(int step) = nullptr;
void (*fs_save_unmarked)() = nullptr;
