// What the file-system topics share: the one errno mapping, folder
// listings, paths split and copied out, and the naming and mark of the
// temporaries that saves and copies make beside their targets.
#include "file_system_shared.h"

#include "file_system.h"
#include "file_system_catalog_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

INT_S32 fs_error_from_errno(int err)
{
    switch (err) {
    case 0: return FS_OK;
    case ENOENT: return FS_NOT_FOUND;
    case ENOTDIR: return FS_NOT_A_DIRECTORY;
    case EEXIST:
    case ENOTEMPTY: return FS_EXISTS;
    case ENOMEM: return FS_NO_MEMORY;
    case EXDEV: return FS_DIFFERENT_VOLUMES;
    case EACCES:
    case EPERM: return FS_ACCESS_DENIED;
    case EROFS: return FS_VOLUME_LOCKED;
    case EBADF: return FS_BAD_REFNUM;
    case EOPNOTSUPP: return FS_NOT_SUPPORTED;
    case ENAMETOOLONG: return FS_BAD_NAME;
    case EINVAL:
    case ELOOP: return FS_BAD_ARGUMENT;
    default: return FS_IO_ERROR;
    }
}

namespace {

// Temporaries lie beside their target: "." + its name (cut to
// kept_name_bytes and followed by a hash of all of it when longer, so
// that every temporary's name stays within FS_NAME_MAX) + a marker + six
// characters. A whole copy gets the target's name in one rename.
constexpr std::size_t kept_name_bytes = 200;
constexpr int suffix_length = 6;

const char temporary_mark_name[] = "user.kivo.temporary";

const char suffix_digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// 64-bit FNV-1a over `text`, from `hash`: it only needs to tell names
// apart, not resist anyone.
constexpr unsigned long long fnv_start = 14695981039346656037ull;
unsigned long long fnv1a(unsigned long long hash, const std::string& text)
{
    for (unsigned char c : text) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    return hash;
}

// Six letters or digits of `v`.
std::string suffix_of(unsigned long long v)
{
    std::string s;
    for (int i = 0; i < suffix_length; ++i) {
        s += suffix_digits[v % 62];
        v /= 62;
    }
    return s;
}

} // namespace

bool fs_mark_temporary(int fd, const char* target)
{
    if (!target || !target[0]) {
        errno = EINVAL;
        return false;
    }
    return fsetxattr(fd, temporary_mark_name, target, std::strlen(target), 0) == 0;
}

bool fs_is_marked_temporary(int fd, const char* target)
{
    char value[FS_NAME_MAX + 1];
    const ssize_t n = fgetxattr(fd, temporary_mark_name, value, sizeof value);
    return target && n >= 0 && static_cast<std::size_t>(n) == std::strlen(target) &&
           std::memcmp(value, target, static_cast<std::size_t>(n)) == 0;
}

bool fs_unmark_temporary(int fd)
{
    return fremovexattr(fd, temporary_mark_name) == 0 || errno == ENODATA || errno == ENOTSUP;
}

std::string fs_temporary_prefix(const std::string& target, const char* marker)
{
    std::string key = target;
    if (key.size() > kept_name_bytes) {
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", fnv1a(fnv_start, key));
        key = key.substr(0, kept_name_bytes) + "." + hex;
    }
    return "." + key + marker;
}

bool fs_is_temporary_suffix(const char* p)
{
    for (int i = 0; i < suffix_length; ++i) {
        if (!std::isalnum(static_cast<unsigned char>(p[i])) || static_cast<unsigned char>(p[i]) >= 0x80) {
            return false;
        }
    }
    return p[suffix_length] == 0;
}

namespace fs_shared {

int open_dir_nofollow(int at, const char* name)
{
    return openat(at, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

INT_S32 first_error(INT_S32 sofar, INT_S32 now)
{
    return sofar != FS_OK ? sofar : now;
}

INT_S32 copy_out(const std::string& text, char* out, std::size_t size)
{
    if (!out || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    if (text.size() >= size) {
        out[0] = 0;
        return FS_BAD_NAME;
    }
    std::memcpy(out, text.c_str(), text.size() + 1);
    return FS_OK;
}

std::string join(const std::string& folder, const std::string& name)
{
    if (folder.empty()) {
        return name;
    }
    return folder + (folder.back() == '/' ? "" : "/") + name;
}

void split_last(const std::string& path, std::string& head, std::string& last)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        head = ".";
        last = path;
    } else {
        head = slash == 0 ? "/" : path.substr(0, slash);
        last = path.substr(slash + 1);
    }
}

INT_S32 split_reference(const char* path, std::string& parent, std::string& name)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (lstat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    std::string head;
    split_last(p, head, name);
    if (p == "/" || name == "." || name == "..") {
        // Only the whole path, resolved, says which entry these name.
        char real[PATH_MAX];
        if (!realpath(path, real)) {
            return fs_error_from_errno(errno);
        }
        if (!std::strcmp(real, "/")) {
            parent.clear();
            name = "/";
            return FS_OK;
        }
        split_last(real, head, name);
    }
    char real[PATH_MAX];
    if (!realpath(head.c_str(), real)) {
        return fs_error_from_errno(errno);
    }
    parent = real;
    return FS_OK;
}

INT_S32 fill_list(LINKED_LIST* list, INT_U32* count, const std::vector<std::string>& texts)
{
    for (const std::string& t : texts) {
        char* copy = strdup(t.c_str());
        INT_S32 r = copy ? AddToTail(list, copy) : FS_NO_MEMORY;
        if (r != FS_OK) {
            std::free(copy);
            DestroyList(list);
            InitLinkedList(list, MyDisposeDataProc);
            *count = 0;
            return r;
        }
    }
    *count = GetNumberOfItems(list);
    return FS_OK;
}

INT_S32 stat_file(const char* path, struct stat& st)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    if (stat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    return S_ISDIR(st.st_mode) ? FS_NOT_A_FILE : FS_OK;
}

// Read where the system shows it: setting the mask to ask for it would
// change it for a moment for every thread.
mode_t current_umask()
{
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask & 0777);
        }
    }
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

bool has_capability(int capability)
{
    __user_cap_header_struct header = {_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2] = {};
    if (syscall(SYS_capget, &header, data) != 0) {
        return false;
    }
    return (data[capability / 32].effective >> (capability % 32)) & 1u;
}

bool in_group(gid_t gid)
{
    if (getegid() == gid) {
        return true;
    }
    const int n = getgroups(0, nullptr);
    std::vector<gid_t> groups(n > 0 ? static_cast<std::size_t>(n) : 0);
    const int got = n > 0 ? getgroups(n, groups.data()) : 0;
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

std::string unique_suffix()
{
    static std::atomic<unsigned long long> counter{0};
    unsigned long long v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        v = (static_cast<unsigned long long>(getpid()) << 32) ^ static_cast<unsigned long long>(now.tv_nsec) ^
            (static_cast<unsigned long long>(now.tv_sec) << 20);
    }
    v += counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    return suffix_of(v);
}

std::string bound_suffix(int fd, const char* target, int which)
{
    struct statx sx;
    if (!target || statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_BTIME, &sx) != 0) {
        return "";
    }
    // Where the file system keeps no birth time the inode number alone.
    const bool born = (sx.stx_mask & STATX_BTIME) != 0;
    char key[96];
    std::snprintf(key, sizeof key, "%llu.%lld.%u.%d/", static_cast<unsigned long long>(sx.stx_ino),
                  born ? static_cast<long long>(sx.stx_btime.tv_sec) : 0LL, born ? sx.stx_btime.tv_nsec : 0u, which);
    return suffix_of(fnv1a(fnv1a(fnv_start, key), target));
}

bool has_bound_suffix(int fd, const char* suffix, const char* target)
{
    for (int which = 0; which < bound_names; ++which) {
        const std::string mine = bound_suffix(fd, target, which);
        if (mine.empty()) {
            return false;
        }
        if (mine == suffix) {
            return true;
        }
    }
    return false;
}

namespace {

// Marks the new temporary open as `fd` as `target`'s and locks it. False,
// with errno set, when its rights cannot be given or its lock cannot be
// taken (another's clean-up holds it at this instant, and may delete it):
// such a temporary is not used.
bool prepare_temporary(int fd, mode_t given, const char* target, TEMPORARY& t)
{
    if (fchmod(fd, given) != 0) {
        return false;
    }
    t.marked = fs_mark_temporary(fd, target);
    return flock(fd, LOCK_EX | LOCK_NB) == 0;
}

// Tries to make a temporary again where one made was held by another's
// clean-up; the same answer every time gives up with that answer.
constexpr int temporary_tries = 3;

// Takes back a temporary made under the private name `made` that cannot
// go on: the entry goes only while it is still the one made (and empty).
void discard_made(int dir, const std::string& made, TEMPORARY& t)
{
    if (same_entry(dir, made.c_str(), t.made)) {
        unlinkat(dir, made.c_str(), S_ISDIR(t.made.st_mode) ? AT_REMOVEDIR : 0);
    }
    close(t.fd);
    t.fd = -1;
    t.name.clear();
}

// Gives the temporary made under the private name `made`, marked and
// locked through t.fd, its name of the pattern without replacing anything.
INT_S32 name_temporary(int dir, const std::string& made, const std::string& prefix, TEMPORARY& t)
{
    INT_S32 r = make_unique(prefix, t.name, [&](const char* n) {
        if (fs_rename_noreplace(dir, made.c_str(), dir, n) == 0) {
            return 0;
        }
        const bool no_links = errno == EPERM || errno == EOPNOTSUPP || errno == ENOSYS || errno == EMLINK;
        if (S_ISDIR(t.made.st_mode) || !no_links) {
            return -1;
        }
        // A file system without the flag and without hard links: a look,
        // then a rename, under the folder lock the caller holds.
        struct stat st;
        if (fstatat(dir, n, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return -1;
        }
        return errno == ENOENT ? renameat(dir, made.c_str(), dir, n) : -1;
    });
    if (r != FS_OK) {
        discard_made(dir, made, t);
    }
    return r;
}

// Opens what was just made under the private name `made` (fd: already
// open, or -1 for a folder to be opened) into t, with what it is.
INT_S32 hold_made(int dir, const std::string& made, int fd, TEMPORARY& t)
{
    const bool folder = fd < 0;
    t.fd = folder ? open_dir_nofollow(dir, made.c_str()) : fd;
    if (t.fd < 0 || fstat(t.fd, &t.made) != 0) {
        const INT_S32 r = fs_error_from_errno(errno);
        // Still empty, if still ours: rmdir takes no other folder.
        if (folder) {
            unlinkat(dir, made.c_str(), AT_REMOVEDIR);
        } else {
            unlinkat(dir, made.c_str(), 0);
        }
        if (t.fd >= 0) {
            close(t.fd);
        }
        t.fd = -1;
        return r;
    }
    return FS_OK;
}

} // namespace

INT_S32 make_temporary_file(int dir, const std::string& prefix, const char* target, int access, mode_t mode,
                            TEMPORARY& t)
{
    // Made private (and under any umask writable by its owner) until then.
    const mode_t given = (mode & 07777) | S_IWUSR;
    INT_S32 r = FS_NOT_SUPPORTED;
    int fd = fs_no_unnamed_files ? -1 : openat(dir, ".", O_TMPFILE | access | O_CLOEXEC, 0600);
    if (fs_no_unnamed_files) {
        errno = EOPNOTSUPP;
    }
    if (fd >= 0) {
        if (!prepare_temporary(fd, given, target, t)) {
            r = fs_error_from_errno(errno);
            close(fd);
            return r;
        }
        char proc[32];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        r = make_unique(prefix, t.name, [&](const char* n) {
            int linked = linkat(AT_FDCWD, proc, dir, n, AT_SYMLINK_FOLLOW);
            return linked != 0 && errno == ENOENT ? linkat(fd, "", dir, n, AT_EMPTY_PATH) : linked;
        });
        if (r == FS_OK) {
            t.fd = fd;
            fstat(fd, &t.made);
            return FS_OK;
        }
        close(fd);
        if (r == FS_EXISTS) {
            return r;
        }
    } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
        return fs_error_from_errno(errno);
    }
    // No unnamed file: a private name until it is marked.
    for (int tries = 1;; ++tries) {
        std::string made;
        r = make_unique(private_prefix, made, [&](const char* n) {
            fd = openat(dir, n, O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | access, 0600);
            return fd < 0 ? -1 : 0;
        });
        if (r != FS_OK || (r = hold_made(dir, made, fd, t)) != FS_OK) {
            return r;
        }
        if (fs_no_unnamed_files) {
            fs_no_unnamed_files();
        }
        if (prepare_temporary(fd, given, target, t)) {
            return name_temporary(dir, made, prefix, t);
        }
        const int e = errno;
        discard_made(dir, made, t);
        if (e != EWOULDBLOCK || tries == temporary_tries) {
            return fs_error_from_errno(e);
        }
    }
}

INT_S32 make_temporary_folder(int dir, const std::string& prefix, const char* target, TEMPORARY& t)
{
    for (int tries = 1;; ++tries) {
        std::string made;
        INT_S32 r = make_unique(private_prefix, made, [&](const char* n) { return mkdirat(dir, n, 0700); });
        if (r != FS_OK || (r = hold_made(dir, made, -1, t)) != FS_OK) {
            return r;
        }
        if (fs_temporary_folder_made) {
            fs_temporary_folder_made();
        }
        t.marked = fs_mark_temporary(t.fd, target);
        if (flock(t.fd, LOCK_EX | LOCK_NB) == 0) {
            return name_temporary(dir, made, prefix, t);
        }
        const int e = errno;
        discard_made(dir, made, t);
        if (e != EWOULDBLOCK || tries == temporary_tries) {
            return fs_error_from_errno(e);
        }
    }
}

int open_entry(int dir, const char* name, struct stat& st)
{
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
        return -1;
    }
    int fd = openat(dir, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat held;
    if (fd >= 0 && (fstat(fd, &held) != 0 || held.st_dev != st.st_dev || held.st_ino != st.st_ino)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

bool same_entry(int dir, const char* name, const struct stat& known)
{
    struct stat now;
    return fstatat(dir, name, &now, AT_SYMLINK_NOFOLLOW) == 0 && now.st_dev == known.st_dev &&
           now.st_ino == known.st_ino;
}

void clear_leftovers(int dir, const char* target)
{
    enum KIND
    {
        SAVE,
        COPY,
        ASIDE,
        MADE
    };
    const std::string prefixes[] = {fs_temporary_prefix(target, save_marker), fs_temporary_prefix(target, copy_marker),
                                    fs_temporary_prefix(target, aside_marker), private_prefix};
    // Listed through a descriptor of its own: one shared with the lock's
    // would go on from where an earlier listing stopped.
    const int list = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list < 0) {
        return;
    }
    std::vector<std::pair<std::string, KIND>> found;
    for_each_name(list, [&](const char* n) {
        for (KIND k : {SAVE, COPY, ASIDE, MADE}) {
            const std::string& prefix = prefixes[k];
            if (!std::strncmp(n, prefix.c_str(), prefix.size()) && fs_is_temporary_suffix(n + prefix.size())) {
                found.emplace_back(n, k);
            }
        }
        return true;
    });
    close(list);
    for (const auto& f : found) {
        const char* name = f.first.c_str();
        struct stat st;
        int fd = open_entry(dir, name, st);
        if (fd < 0) {
            continue;
        }
        // A save or copy still running holds its temporary's lock.
        if (st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0 && same_entry(dir, name, st)) {
            const bool ours =
                fs_is_marked_temporary(fd, target) ||
                (f.second == SAVE && S_ISREG(st.st_mode) && has_bound_suffix(fd, name + prefixes[SAVE].size(), target));
            if (!ours) {
                // Of the pattern, never ours; of the private form, killed
                // before its mark when empty (rmdir takes only an empty
                // folder) and without a mark of any target.
                const bool no_mark =
                    fgetxattr(fd, temporary_mark_name, nullptr, 0) < 0 && (errno == ENODATA || errno == ENOTSUP);
                if (f.second == MADE && no_mark && (S_ISDIR(st.st_mode) || (fstat(fd, &st) == 0 && st.st_size == 0))) {
                    unlinkat(dir, name, S_ISDIR(st.st_mode) ? AT_REMOVEDIR : 0);
                }
            } else if (f.second == SAVE) {
                if (S_ISREG(st.st_mode)) {
                    unlinkat(dir, name, 0);
                }
            } else if (f.second == COPY || f.second == MADE) {
                delete_entry_at(dir, name, 0);
            } else if (fs_rename_noreplace(dir, name, dir, target) == 0) {
                fs_unmark_temporary(fd);
            } else if (errno == EEXIST) {
                delete_entry_at(dir, name, 0);
            }
        }
        close(fd);
    }
}

bool same_node(int a_dir, const char* a, int b_dir, const char* b)
{
    struct stat sa, sb;
    if (fstatat(a_dir, a, &sa, AT_SYMLINK_NOFOLLOW) != 0 || fstatat(b_dir, b, &sb, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Checks the names and opens the source and destination folders; `target`
// is the name the entry will have. A destination that is not a folder
// gives `not_folder`.
INT_S32 open_source_and_dest(const char* dir, const char* name, const char* dest_dir, const char* new_name,
                             INT_S32 not_folder, const char*& target, int& from, int& to)
{
    if (!dir || !dest_dir || !fs_is_valid_name(name)) {
        return FS_BAD_ARGUMENT;
    }
    target = new_name && new_name[0] ? new_name : name;
    if (!fs_is_valid_name(target)) {
        return FS_BAD_ARGUMENT;
    }
    from = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (from < 0) {
        return fs_error_from_errno(errno);
    }
    // Only named into, never read: a folder we may write but not list will do.
    to = open(dest_dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (to < 0) {
        int e = errno;
        close(from);
        return e == ENOTDIR || e == ENOENT ? not_folder : fs_error_from_errno(e);
    }
    return FS_OK;
}

} // namespace fs_shared

void (*fs_no_unnamed_files)() = nullptr;
void (*fs_temporary_folder_made)() = nullptr;
