// Copies: whole objects (a file, a link, a folder with everything in it)
// made under a temporary name and put in place in one step, single files
// and forks, and the copy buffer.
#include "debug_stream.h"
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"
#include "utils.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace fs_shared;

namespace {

// What a copy asks GetTempBuffer for.
constexpr std::size_t copy_buffer_request = 0x40000;
constexpr std::size_t temp_buffer_unit = 4096;

// What every object of one copy shares.
struct COPY_JOB
{
    INT_U32 max_levels;
    FS_COPY_FILTER filter;
    void* filter_data;
    void* buffer;
    std::size_t buffer_size;
};

bool filter_stops(const COPY_JOB& job, const std::string& path, const char* name, int level, const struct stat& st)
{
    return job.filter && job.filter(path.c_str(), name, static_cast<INT_U32>(level), &st, job.filter_data);
}

// The source's times and rights; with owner_write the owner keeps the
// right to write, which taking the temporary mark off still needs.
void set_times_and_rights(int fd, const struct stat& st, bool owner_write)
{
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    futimens(fd, times);
    fchmod(fd, (st.st_mode & 07777) | (owner_write ? S_IWUSR : 0));
}

// Fills the new file `out` from `in`. Its whole size is allocated first, so
// that a volume without room fails before any byte is copied.
INT_S32 fill_file(int in, int out, const struct stat& st, const COPY_JOB& job)
{
    if (st.st_size > 0) {
        int e = posix_fallocate(out, 0, st.st_size);
        // A file system that cannot allocate in advance is just written.
        if (e != 0 && e != EOPNOTSUPP && e != ENOSYS) {
            return fs_error_from_errno(e);
        }
    }
    return FSCopyFork(in, out, job.buffer, job.buffer_size);
}

// The new file is opened for writing only, so that a folder we may write
// but not read (a drop box) takes it as well.
INT_S32 copy_file_at(int srcdir, const char* name, int dstdir, const char* new_name, const struct stat& st,
                     const COPY_JOB& job)
{
    int in = openat(srcdir, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (in < 0) {
        return fs_error_from_errno(errno);
    }
    int out = openat(dstdir, new_name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (out < 0) {
        int e = errno;
        close(in);
        return fs_error_from_errno(e);
    }
    INT_S32 result = fill_file(in, out, st, job);
    result = result == FS_OK ? carry_finder_info(srcdir, name, out) : result;
    if (result == FS_OK) {
        set_times_and_rights(out, st, false);
    }
    close(in);
    if (close(out) != 0 && result == FS_OK) {
        result = fs_error_from_errno(errno);
    }
    return result;
}

INT_S32 copy_link_at(int srcdir, const char* name, int dstdir, const char* new_name)
{
    char target[4096];
    ssize_t n = readlinkat(srcdir, name, target, sizeof(target) - 1);
    if (n < 0) {
        return fs_error_from_errno(errno);
    }
    target[n] = 0;
    return symlinkat(target, dstdir, new_name) == 0 ? FS_OK : fs_error_from_errno(errno);
}

INT_S32 copy_entry_at(int srcdir, const char* name, int dstdir, const char* new_name, int level,
                      const std::string& path, const COPY_JOB& job);

// Copies what the source folder `name` of `srcdir` holds into the folder
// open as `to`, which the copy made (`path` names it for the filter).
// Below the level limit it stays empty.
INT_S32 fill_folder(int srcdir, const char* name, int to, int level, const std::string& path, const COPY_JOB& job)
{
    int from = open_dir_nofollow(srcdir, name);
    if (from < 0) {
        return fs_error_from_errno(errno);
    }
    INT_S32 result = FS_OK;
    if (job.max_levels == 0 || static_cast<INT_U32>(level) < job.max_levels) {
        INT_S32 walk = for_each_name(from, [&](const char* n) {
            result = copy_entry_at(from, n, to, n, level + 1, path + "/" + n, job);
            return result == FS_OK;
        });
        result = first_error(result, walk);
    }
    close(from);
    return result;
}

// An entry inside a copied folder, made in place: a failure removes the
// whole copied object, which the copy made.
INT_S32 copy_entry_at(int srcdir, const char* name, int dstdir, const char* new_name, int level,
                      const std::string& path, const COPY_JOB& job)
{
    if (static_cast<INT_U32>(level) > FS_WALK_MAX_LEVELS) {
        return FS_IO_ERROR;
    }
    struct stat st;
    if (fstatat(srcdir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fs_error_from_errno(errno);
    }
    INT_S32 r;
    if (S_ISREG(st.st_mode)) {
        r = copy_file_at(srcdir, name, dstdir, new_name, st, job);
    } else if (S_ISLNK(st.st_mode)) {
        r = copy_link_at(srcdir, name, dstdir, new_name);
    } else if (!S_ISDIR(st.st_mode)) {
        return FS_BAD_ARGUMENT; // devices, sockets and pipes are not copied
    } else {
        // Created private and writable; the source's rights are set once it is full.
        if (mkdirat(dstdir, new_name, 0700) != 0) {
            return fs_error_from_errno(errno);
        }
        if (filter_stops(job, path, new_name, level, st)) {
            return FS_USER_CANCELED;
        }
        int to = open_dir_nofollow(dstdir, new_name);
        if (to < 0) {
            return fs_error_from_errno(errno);
        }
        r = fill_folder(srcdir, name, to, level, path, job);
        r = r == FS_OK ? carry_finder_info(srcdir, name, to) : r;
        if (r == FS_OK) {
            set_times_and_rights(to, st, false);
        }
        close(to);
        return r;
    }
    return r == FS_OK && filter_stops(job, path, new_name, level, st) ? FS_USER_CANCELED : r;
}

// ---- The copied object itself, made under a temporary name ----

// True when the folder open as `dirfd` is still the one the path `dir`
// names, and `name` is in it.
bool still_reachable(const char* dir, int dirfd, const char* name)
{
    struct stat held, named, entry;
    return fstat(dirfd, &held) == 0 && stat(dir, &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino && fstatat(dirfd, name, &entry, AT_SYMLINK_NOFOLLOW) == 0;
}

// Removes what a copy made, and only that: the name must still hold it.
INT_S32 remove_own(int dir, const char* name, const struct stat& made)
{
    return same_entry(dir, name, made) ? delete_entry_at(dir, name, 0) : FS_OK;
}

// The entry a replacing copy meant to replace, left under another name
// (`where`, in the destination): told, never left hidden silently.
INT_S32 report_left(const char* dest_dir, const std::string& where)
{
    if (platform_debug_stream.flags) {
        const std::string text = "copy: the replaced entry is left at " + join(dest_dir, where);
        platform_debug_stream.write_to_stream(__FILE__, __LINE__, text.c_str(), 1);
    }
    return FS_ENTRY_LEFT_ASIDE;
}

// No swap on this file system (or the test switch): the old entry steps
// aside under a name marked as the target's, the new one takes the
// target's name and the old one is deleted, once the folder's lock is let
// go; when the new one cannot take the name the old one is given back. A
// kill between the two renames leaves the name free and the old entry
// aside: the next save or copy of the name gives it back before it looks.
// An old entry that is a link cannot carry the mark: it steps aside
// unmarked, and a kill there leaves it under the aside name for good.
INT_S32 put_in_place_by_aside(int to, int dir, const char* name, const char* target, const char* dest_dir,
                              FOLDER_HOLD& hold, bool& placed)
{
    std::string aside;
    INT_S32 r = make_unique(fs_temporary_prefix(target, aside_marker), aside,
                            [&](const char* n) { return fs_rename_noreplace(to, target, to, n); });
    struct stat moved;
    if (r != FS_OK || fstatat(to, aside.c_str(), &moved, AT_SYMLINK_NOFOLLOW) != 0) {
        return r != FS_OK ? r : report_left(dest_dir, aside);
    }
    if (fs_copy_set_aside) {
        fs_copy_set_aside();
    }
    if (fs_rename_noreplace(dir, name, to, target) == 0) {
        placed = true;
        hold.release();
        return remove_own(to, aside.c_str(), moved) == FS_OK ? FS_OK : report_left(dest_dir, aside);
    }
    int e = errno;
    if (fs_rename_noreplace(to, aside.c_str(), to, target) != 0) {
        return report_left(dest_dir, aside);
    }
    return fs_error_from_errno(e);
}

// Gives the whole new object at (dir, name) the target's name in `to`,
// under the folder's lock (`hold`, when it could be had), which it lets go
// before deleting what the new object replaced. A free name is taken only
// while it is free; a file or link replaces a file or link in one rename;
// where a folder is on either side the two are swapped in one step and the
// old one, now under the temporary name (`where` in the destination), is
// deleted. At no instant does the target name hold a part, or nothing in
// place of the old entry.
INT_S32 put_in_place(int to, int dir, const char* name, const std::string& where, const char* target, bool replace,
                     bool is_folder, const char* dest_dir, FOLDER_HOLD& hold, bool& placed)
{
    struct stat old;
    bool present = fstatat(to, target, &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (!present || !replace) {
        if (fs_rename_noreplace(dir, name, to, target) == 0) {
            placed = true;
            return FS_OK;
        }
        // Taken meanwhile: only a replacing copy goes on, over what is there now.
        if (errno != EEXIST || !replace) {
            return fs_error_from_errno(errno);
        }
        if (fstatat(to, target, &old, AT_SYMLINK_NOFOLLOW) != 0) {
            return fs_error_from_errno(errno);
        }
    }
    if (!is_folder && !S_ISDIR(old.st_mode)) {
        if (renameat(dir, name, to, target) != 0) {
            return fs_error_from_errno(errno);
        }
        placed = true;
        return FS_OK;
    }
    // The old entry is marked first: wherever a kill leaves it, it is a
    // leftover of this copy. One that cannot carry the mark (a link, or what
    // we may not open) goes unmarked.
    struct stat held;
    int old_fd = open_entry(to, target, held);
    if (old_fd >= 0) {
        old = held;
        fs_mark_temporary(old_fd, target);
        flock(old_fd, LOCK_EX | LOCK_NB);
    }
    INT_S32 r = FS_OK;
    if (!fs_copy_set_aside && renameat2(dir, name, to, target, RENAME_EXCHANGE) == 0) {
        placed = true;
        // What came out is what held the name at the swap: the entry looked
        // at, or one a program that takes no lock put there meanwhile. It
        // was replaced either way, and goes as the old entry would.
        struct stat out;
        if (fstatat(dir, name, &out, AT_SYMLINK_NOFOLLOW) == 0) {
            if (old_fd >= 0 && (out.st_dev != old.st_dev || out.st_ino != old.st_ino)) {
                fs_unmark_temporary(old_fd); // left where that program put it
            }
            hold.release();
            r = remove_own(dir, name, out) == FS_OK ? FS_OK : report_left(dest_dir, where);
        }
    } else if (fs_copy_set_aside || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        r = put_in_place_by_aside(to, dir, name, target, dest_dir, hold, placed);
    } else {
        r = fs_error_from_errno(errno);
    }
    if (old_fd >= 0) {
        // Deleted, back in its place or told to the caller (whose it then
        // is, and whom no clean-up may take it from): no temporary now.
        fs_unmark_temporary(old_fd);
        close(old_fd);
    }
    return r;
}

// Copies a file, link or folder to `target` through a temporary: the
// target name keeps the old entry whole (or stays free) until the new one
// is whole. A failed or stopped copy removes only its temporary. Called
// holding the folder's lock, with the leftovers cleared and the target
// looked at; the lock is let go while the copy is made (the filter may
// save in this folder) and taken again, and the leftovers cleared again,
// for the look at the target that decides how the copy takes its name.
INT_S32 copy_through_temporary(int from, const char* name, const struct stat& st, int to, const char* dest_dir,
                               const char* target, bool replace, const COPY_JOB& job, FOLDER_HOLD& hold)
{
    const std::string prefix = fs_temporary_prefix(target, copy_marker);
    TEMPORARY t;
    INT_S32 r = S_ISREG(st.st_mode) ? make_temporary_file(to, prefix, target, O_WRONLY, 0600, t)
                                    : make_temporary_folder(to, prefix, target, t);
    const bool locked = hold.dir() >= 0;
    hold.release();
    if (r != FS_OK) {
        return r;
    }
    const std::string temp_path = join(dest_dir, t.name);
    // Where the new object itself lies, and its name there.
    int dir = to;
    std::string entry = t.name, where = t.name;
    if (S_ISREG(st.st_mode)) {
        int in = openat(from, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        r = in < 0 ? fs_error_from_errno(errno) : fill_file(in, t.fd, st, job);
        if (in >= 0) {
            close(in);
        }
        // On the disk before it takes the name: a crash then leaves the old
        // file or the new one, never an empty one.
        if (r == FS_OK && fsync(t.fd) != 0 && errno != EINVAL) {
            r = fs_error_from_errno(errno);
        }
        if (r == FS_OK && filter_stops(job, temp_path, t.name.c_str(), 0, st)) {
            r = FS_USER_CANCELED;
        }
    } else if (S_ISDIR(st.st_mode)) {
        r = filter_stops(job, temp_path, t.name.c_str(), 0, st) ? FS_USER_CANCELED
                                                                : fill_folder(from, name, t.fd, 0, temp_path, job);
    } else {
        // A link cannot carry the mark: it is made inside the marked folder.
        dir = t.fd;
        entry = target;
        where = t.name + "/" + target;
        r = copy_link_at(from, name, t.fd, target);
        if (r == FS_OK && filter_stops(job, join(temp_path.c_str(), target), target, 0, st)) {
            r = FS_USER_CANCELED;
        }
    }
    r = r == FS_OK && !S_ISLNK(st.st_mode) ? carry_finder_info(from, name, t.fd) : r;
    if (r == FS_OK && !S_ISLNK(st.st_mode)) {
        set_times_and_rights(t.fd, st, true);
    }
    // A destination folder deleted or replaced while the copy ran holds a
    // copy nobody can reach: that is no copy.
    if (r == FS_OK && !still_reachable(dest_dir, to, t.name.c_str())) {
        r = FS_NOT_FOUND;
    }
    if (r == FS_OK && locked) {
        if (hold.take(to)) {
            if (hold.fd() >= 0) {
                clear_leftovers(hold.fd(), target);
            }
        } else {
            r = fs_error_from_errno(errno);
        }
    }
    bool placed = false;
    if (r == FS_OK) {
        r = put_in_place(to, dir, entry.c_str(), where, target, replace, S_ISDIR(st.st_mode), dest_dir, hold, placed);
    }
    hold.release();
    if (placed && !S_ISLNK(st.st_mode)) {
        // Taken off only now, so that no kill leaves an unmarked temporary;
        // a mark left on the target by a kill here means nothing there.
        fs_unmark_temporary(t.fd);
        if (!(st.st_mode & S_IWUSR)) {
            fchmod(t.fd, st.st_mode & 07777);
        }
    }
    // What is still ours goes: the temporary when the new object did not
    // take the name, a link's folder once the link did. That folder still
    // holding the old entry, which was told to the caller, is the caller's.
    if (!placed) {
        remove_own(to, t.name.c_str(), t.made);
    } else if (S_ISLNK(st.st_mode) &&
               (!same_entry(to, t.name.c_str(), t.made) || unlinkat(to, t.name.c_str(), AT_REMOVEDIR) != 0)) {
        fs_unmark_temporary(t.fd);
    }
    close(t.fd);
    return r;
}

// "name 1.ext": a blank and the digit before the last '.', or at the end
// when there is none (a leading '.' marks a hidden name, not a suffix).
bool numbered_name(const char* name, int digit, char* out, std::size_t size)
{
    const char* dot = std::strrchr(name, '.');
    if (!dot || dot == name) {
        dot = name + std::strlen(name);
    }
    int n = std::snprintf(out, size, "%.*s %d%s", static_cast<int>(dot - name), name, digit, dot);
    return n > 0 && static_cast<std::size_t>(n) < size && fs_is_valid_name(out);
}

// True when the folder `inner` is `outer` or lies below it.
bool is_inside(const char* outer, const char* inner)
{
    char a[PATH_MAX], b[PATH_MAX];
    if (!realpath(outer, a) || !realpath(inner, b)) {
        return false;
    }
    std::size_t n = std::strlen(a);
    if (std::strncmp(a, b, n) != 0) {
        return false;
    }
    return b[n] == 0 || b[n] == '/' || (n == 1 && a[0] == '/');
}

} // namespace

INT_S32 FSCopyObject(const char* dir, const char* name, const char* dest_dir, INT_U32 max_levels, INT_U32,
                     INT_U8 duplicate_action, const char* new_name, bool, bool, FS_COPY_FILTER filter,
                     void* filter_data, char* new_ref, std::size_t new_ref_size)
{
    if (new_ref) {
        if (new_ref_size == 0) {
            return FS_BAD_ARGUMENT;
        }
        new_ref[0] = 0;
    }
    const char* target = nullptr;
    int from = -1, to = -1;
    INT_S32 opened = open_source_and_dest(dir, name, dest_dir, new_name, FS_DEST_NOT_FOLDER, target, from, to);
    if (opened != FS_OK) {
        return opened;
    }
    INT_S32 result = FS_OK;
    bool replace = false;
    char numbered[FS_NAME_MAX + 1];
    struct stat source, st;
    if (fstatat(from, name, &source, AT_SYMLINK_NOFOLLOW) != 0) {
        result = fs_error_from_errno(errno);
    } else if (S_ISDIR(source.st_mode)) {
        char src[FS_PATH_MAX];
        result = FSMakePath(dir, name, src, sizeof(src));
        if (result == FS_OK && is_inside(src, dest_dir)) {
            result = FS_INSIDE_SOURCE;
        }
    } else if (!S_ISREG(source.st_mode) && !S_ISLNK(source.st_mode)) {
        result = FS_BAD_ARGUMENT; // devices, sockets and pipes are not copied
    }
    // What killed saves and copies of a name left goes, and an entry a
    // killed copy had set aside comes back, before the name is looked at,
    // under the folder's lock, held until the copy has made its temporary.
    // Where the destination cannot be listed (a drop box) it is held all
    // the same, but nothing is cleared, and names in it are only looked up.
    FOLDER_HOLD hold;
    if (result == FS_OK && !hold.take(to)) {
        result = fs_error_from_errno(errno);
    }
    auto look = [&](const char* n) {
        if (hold.fd() >= 0) {
            clear_leftovers(hold.fd(), n);
        }
        return fstatat(to, n, &st, AT_SYMLINK_NOFOLLOW) == 0;
    };
    if (result == FS_OK && look(target)) {
        if (duplicate_action == FS_DUPLICATE_NUMBER) {
            result = FS_EXISTS;
            for (int digit = 1; digit <= 9 && result == FS_EXISTS; ++digit) {
                if (!numbered_name(target, digit, numbered, sizeof(numbered))) {
                    result = FS_BAD_NAME;
                } else if (look(numbered)) {
                    continue;
                } else {
                    result = errno == ENOENT ? FS_OK : fs_error_from_errno(errno);
                }
            }
            if (result == FS_OK) {
                target = numbered;
            }
        } else if (same_node(from, name, to, target)) {
            result = FS_EXISTS; // the entry itself; replacing it would lose it
        } else if (duplicate_action != FS_DUPLICATE_REPLACE) {
            result = FS_EXISTS;
        } else {
            replace = true;
        }
    }
    char target_path[FS_PATH_MAX];
    if (result == FS_OK) {
        result = FSMakePath(dest_dir, target, target_path, sizeof(target_path));
    }
    if (result == FS_OK && new_ref && std::strlen(target_path) >= new_ref_size) {
        result = FS_BAD_NAME;
    }
    COPY_JOB job{max_levels, filter, filter_data, nullptr, 0};
    if (result == FS_OK) {
        // A buffer of whole 512-byte blocks, or no copy.
        job.buffer = GetTempBuffer(copy_buffer_request, &job.buffer_size);
        job.buffer_size &= ~static_cast<std::size_t>(511);
        if (!job.buffer || job.buffer_size == 0) {
            result = FS_NO_MEMORY;
        }
    }
    if (result == FS_OK) {
        result = copy_through_temporary(from, name, source, to, dest_dir, target, replace, job, hold);
    }
    hold.release();
    if (result == FS_OK && new_ref) {
        std::memcpy(new_ref, target_path, std::strlen(target_path) + 1);
    }
    std::free(job.buffer);
    close(from);
    close(to);
    return result;
}

void (*fs_copy_set_aside)() = nullptr;

std::size_t fs_temp_buffer_size(std::size_t requested, INT_U64 free_memory, INT_U64 largest_block)
{
    const INT_U64 unit = temp_buffer_unit;
    std::size_t size = requested / unit * unit;
    if (size <= unit) {
        return unit;
    }
    INT_U64 room = free_memory > 32768 ? (free_memory - 32768) / unit * unit : 0;
    room = std::min(room, largest_block / unit * unit);
    if (size <= room) {
        return size;
    }
    if (room > SIZE_MAX) {
        room = SIZE_MAX / unit * unit;
    }
    return room ? static_cast<std::size_t>(room) : unit;
}

namespace {

// Memory the kernel can give without swapping: MemAvailable counts the
// caches it would drop; older kernels only say what is free.
INT_U64 free_memory_bytes()
{
    if (std::FILE* f = std::fopen("/proc/meminfo", "re")) {
        char line[128];
        unsigned long long kb = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof(line), f)) {
            found = std::sscanf(line, "MemAvailable: %llu kB", &kb) == 1;
        }
        std::fclose(f);
        if (found) {
            return static_cast<INT_U64>(kb) * 1024;
        }
    }
    struct sysinfo info;
    if (sysinfo(&info) != 0) {
        return 0;
    }
    return (static_cast<INT_U64>(info.freeram) + info.bufferram) * info.mem_unit;
}

// The most the process may still map: what its address-space limit leaves.
INT_U64 largest_block_bytes()
{
    struct rlimit limit;
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
        return UINT64_MAX;
    }
    unsigned long long pages = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "re")) {
        if (std::fscanf(f, "%llu", &pages) != 1) {
            pages = 0;
        }
        std::fclose(f);
    }
    const INT_U64 used = static_cast<INT_U64>(pages) * static_cast<INT_U64>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

} // namespace

void* GetTempBuffer(std::size_t requested, std::size_t* actual)
{
    // A size beyond the free memory is not tried: it would be promised by
    // overcommit and then missing when the copy touches it.
    std::size_t size = fs_temp_buffer_size(requested, free_memory_bytes(), largest_block_bytes());
    void* buffer = std::malloc(size);
    if (!buffer && size > temp_buffer_unit) {
        size = temp_buffer_unit;
        buffer = std::malloc(size);
    }
    if (actual) {
        *actual = buffer ? size : 0;
    }
    return buffer;
}

INT_S32 FSCopyFork(int source, int destination, void* buffer, std::size_t buffer_size)
{
    if (!buffer || buffer_size == 0) {
        return FS_BAD_ARGUMENT;
    }
    struct stat from, to;
    if (fstat(source, &from) != 0 || fstat(destination, &to) != 0) {
        return FS_BAD_REFNUM;
    }
    // One file at both ends would be cut to size and read back over what
    // is being written.
    if (from.st_dev == to.st_dev && from.st_ino == to.st_ino) {
        return FS_BAD_ARGUMENT;
    }
    const bool files = S_ISREG(from.st_mode) && S_ISREG(to.st_mode);
    const int to_flags = fcntl(destination, F_GETFL);
    if (to_flags < 0) {
        return FS_BAD_REFNUM;
    }
    // A source that is not a file has no size to give, and a destination
    // opened to append is written at its end whatever its size: either
    // starts empty, so that it ends up holding just what came.
    const off_t size = S_ISREG(from.st_mode) && !(to_flags & O_APPEND) ? from.st_size : 0;
    if (S_ISREG(to.st_mode) && ftruncate(destination, size) != 0) {
        return fs_error_from_errno(errno);
    }
    for (int fd : {source, destination}) {
        if (lseek(fd, 0, SEEK_SET) < 0 && errno != ESPIPE) {
            return fs_error_from_errno(errno);
        }
    }
    // A copy cut short (a full volume) keeps what arrived, not a tail of
    // zeros that would pass for the rest.
    off_t copied = 0;
    auto failed = [&](INT_S32 r) {
        if (S_ISREG(to.st_mode)) {
            (void)!ftruncate(destination, copied);
        }
        return r;
    };
    if (files) {
        while (true) {
            ssize_t n = copy_file_range(source, nullptr, destination, nullptr, 1u << 30, 0);
            if (n == 0) {
                return FS_OK;
            }
            if (n > 0) {
                copied += n;
                continue;
            }
            if (errno == EINTR) {
                continue;
            }
            // Other volumes, other kinds of file, a destination opened to
            // append: the buffer goes on from where the kernel stopped.
            if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP && errno != EBADF) {
                return failed(fs_error_from_errno(errno));
            }
            break;
        }
    }
    const std::size_t piece = buffer_size >= 4096 ? buffer_size & ~static_cast<std::size_t>(4095) : buffer_size;
    char* bytes = static_cast<char*>(buffer);
    while (true) {
        ssize_t got = read(source, bytes, piece);
        if (got == 0) {
            return FS_OK; // the end of the source
        }
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failed(fs_error_from_errno(errno));
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(destination, bytes + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return failed(put < 0 ? fs_error_from_errno(errno) : FS_IO_ERROR);
            }
            done += put;
            copied += put;
        }
    }
}

INT_S32 FSCopyFile(const char* dir, const char* name, const char* dest_dir, const char* new_name)
{
    if (!dir || !fs_is_valid_name(name)) {
        return FS_BAD_ARGUMENT;
    }
    char source[FS_PATH_MAX];
    INT_S32 r = FSMakePath(dir, name, source, sizeof(source));
    if (r != FS_OK) {
        return r;
    }
    struct stat st;
    if (lstat(source, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return FS_NOT_A_FILE;
    }
    return FSCopyObject(dir, name, dest_dir, 0, 0, FS_DUPLICATE_FAIL, new_name, false, false, nullptr, nullptr, nullptr,
                        0);
}
