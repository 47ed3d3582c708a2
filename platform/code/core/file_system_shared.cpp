// What the file-system topics share: the one errno mapping, folder
// listings, paths split and copied out, and the naming and mark of the
// temporaries that saves and copies make beside their targets.
#include "file_system_shared.h"

#include "file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
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
const char temporary_mark_value[] = "1";

} // namespace

bool fs_mark_temporary(int fd)
{
    return fsetxattr(fd, temporary_mark_name, temporary_mark_value, sizeof temporary_mark_value - 1, 0) == 0;
}

bool fs_is_marked_temporary(int fd)
{
    char value[sizeof temporary_mark_value];
    ssize_t n = fgetxattr(fd, temporary_mark_name, value, sizeof value);
    return n == static_cast<ssize_t>(sizeof temporary_mark_value - 1) &&
           std::memcmp(value, temporary_mark_value, sizeof temporary_mark_value - 1) == 0;
}

bool fs_unmark_temporary(int fd)
{
    return fremovexattr(fd, temporary_mark_name) == 0 || errno == ENODATA || errno == ENOTSUP;
}

std::string fs_temporary_prefix(const std::string& target, const char* marker)
{
    std::string key = target;
    if (key.size() > kept_name_bytes) {
        // 64-bit FNV-1a: only needs to tell names apart, not resist anyone.
        unsigned long long hash = 14695981039346656037ull;
        for (unsigned char c : key) {
            hash = (hash ^ c) * 1099511628211ull;
        }
        char hex[17];
        std::snprintf(hex, sizeof hex, "%016llx", hash);
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

// Walks the folder open as `fd` (taken over and closed here), whose path
// with a trailing '/' is `base`. Each sub-folder is opened relative to its
// parent without following a link, so that a folder swapped for a link

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

std::string unique_suffix()
{
    static const char digits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    static std::atomic<unsigned long long> counter{0};
    unsigned long long v = 0;
    if (getrandom(&v, sizeof v, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof v)) {
        struct timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        v = (static_cast<unsigned long long>(getpid()) << 32) ^ static_cast<unsigned long long>(now.tv_nsec) ^
            (static_cast<unsigned long long>(now.tv_sec) << 20);
    }
    v += counter.fetch_add(1) * 0x9E3779B97F4A7C15ull;
    std::string s;
    for (int i = 0; i < suffix_length; ++i) {
        s += digits[v % 62];
        v /= 62;
    }
    return s;
}

// Gives `make` fresh names of the prefix until one is not taken; make

int open_folder_lock(const char* folder)
{
    return open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

bool wait_for_folder_lock(int fd, int how)
{
    // Polled rather than blocking, so that a holder that never lets go (a
    // stopped process) costs a bounded wait, not a hang.
    struct timespec pause = {0, 100000};
    for (long waited_ns = 0;; waited_ns += pause.tv_nsec) {
        if (flock(fd, how | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (waited_ns / 1000000 >= folder_lock_wait_ms) {
            errno = EWOULDBLOCK;
            return false;
        }
        nanosleep(&pause, nullptr);
        pause.tv_nsec = std::min(pause.tv_nsec * 2, 5000000L);
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
