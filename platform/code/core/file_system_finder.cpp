// Finder information and invisibility. The Finder information is kept
// where the file servers that share Linux folders with that platform's
// clients keep it, in each file's and folder's metadata attribute, so that
// what we store is what their clients see; an entry is also hidden by its
// folder's ".hidden" list, which the desktop reads.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

using namespace fs_shared;

namespace {

const char hidden_list_name[] = ".hidden";

// Times a change starts again on the object its path leads to now, and
// reads again a value another program changed meanwhile, before it gives
// up (FS_BAD_ARGUMENT).
constexpr int change_tries = 4;

bool same_object(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The list of the folder open as `dir`, read whole ("" when there is none),
// and the file it was read from. Nothing but a plain file of bounded size
// is read: a link could lead the rewrite onto another file, and a device
// or a pipe could hang or never end.
INT_S32 read_hidden_list(int dir, std::string& list, struct stat& held, bool& exists)
{
    list.clear();
    exists = false;
    if (fstatat(dir, hidden_list_name, &held, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? FS_OK : fs_error_from_errno(errno);
    }
    if (!S_ISREG(held.st_mode) || held.st_size > static_cast<off_t>(FS_HIDDEN_LIST_MAX)) {
        return FS_IO_ERROR;
    }
    int fd = openat(dir, hidden_list_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP ? FS_IO_ERROR : fs_error_from_errno(errno);
    }
    struct stat st;
    INT_S32 r = FS_OK;
    if (fstat(fd, &st) != 0) {
        r = fs_error_from_errno(errno);
    } else if (!same_object(st, held)) {
        r = FS_BAD_ARGUMENT; // replaced while it was being found
    } else {
        held = st;
    }
    // Read to its end, which a list growing meanwhile may put past the
    // limit.
    std::vector<char> piece(65536);
    while (r == FS_OK) {
        ssize_t n = read(fd, piece.data(), piece.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            r = n < 0 ? fs_error_from_errno(errno) : FS_OK;
            break;
        }
        list.append(piece.data(), static_cast<std::size_t>(n));
        if (list.size() > FS_HIDDEN_LIST_MAX) {
            r = FS_IO_ERROR;
        }
    }
    close(fd);
    if (r != FS_OK) {
        list.clear();
    }
    exists = r == FS_OK;
    return r;
}

bool same_time(const struct timespec& a, const struct timespec& b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// True while the folder's list is the file `held` as it was read (or is
// still missing): another program's change, in place or by replacing the
// file, is never written over.
bool list_unchanged(int dir, const struct stat& held, bool existed)
{
    struct stat now;
    if (fstatat(dir, hidden_list_name, &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT && !existed;
    }
    return existed && same_object(now, held) && now.st_size == held.st_size && same_time(now.st_mtim, held.st_mtim) &&
           same_time(now.st_ctim, held.st_ctim);
}

// Writes the list of the folder held as `folder` as a save of its
// ".hidden" is written: a new file made in that folder, marked as a save
// of the list (so that what a killed change leaves is cleared as saves'
// leftovers are), written, synced and renamed over the list only while
// the list is still the one read (`held`, or still missing). The file put
// in place is described in `placed`. A list this process may not write
// stays, as a save leaves a write-protected file.
INT_S32 write_hidden_list(const FOLDER_HOLD& folder, const std::string& list, const struct stat& held, bool existed,
                          struct stat& placed)
{
    const int dir = folder.dir();
    if (list.size() > FS_HIDDEN_LIST_MAX) {
        return FS_IO_ERROR; // no reader of ours would take it
    }
    if (existed && faccessat(dir, hidden_list_name, W_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0) {
        return fs_error_from_errno(errno);
    }
    if (folder.fd() >= 0) {
        clear_leftovers(folder.fd(), hidden_list_name);
    }
    const mode_t bits = existed ? held.st_mode & 07777 : 0666 & ~current_umask();
    TEMPORARY t;
    INT_S32 r = make_temporary_file(dir, fs_temporary_prefix(hidden_list_name, save_marker), hidden_list_name, O_WRONLY,
                                    bits, t);
    if (r != FS_OK) {
        return r;
    }
    for (std::size_t at = 0; r == FS_OK && at < list.size();) {
        const ssize_t n = write(t.fd, list.data() + at, list.size() - at);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
        } else if (n < 0 && errno != EINTR) {
            r = fs_error_from_errno(errno);
        }
    }
    // A file system that cannot sync at all (EINVAL) is taken as it is.
    if (r == FS_OK && fsync(t.fd) != 0 && errno != EINVAL) {
        r = fs_error_from_errno(errno);
    }
    if (fs_hidden_list_before_write) {
        fs_hidden_list_before_write();
    }
    if (r == FS_OK && !list_unchanged(dir, held, existed)) {
        r = FS_BAD_ARGUMENT;
    }
    if (r == FS_OK && renameat(dir, t.name.c_str(), dir, hidden_list_name) != 0) {
        r = fs_error_from_errno(errno);
    }
    if (r != FS_OK) {
        if (same_entry(dir, t.name.c_str(), t.made)) {
            unlinkat(dir, t.name.c_str(), 0);
        }
        close(t.fd);
        return r;
    }
    // Off only once in place, so that no kill leaves it unmarked under its
    // temporary name; the bits without the owner's write bit only then,
    // the mark needing it.
    if (t.marked) {
        fs_unmark_temporary(t.fd);
    }
    if (!(bits & S_IWUSR)) {
        fchmod(t.fd, bits);
    }
    fstat(t.fd, &placed);
    close(t.fd);
    // The rename reaches the disk with its folder.
    if (folder.fd() >= 0) {
        fsync(folder.fd());
    }
    return FS_OK;
}

// True when the list of the folder open as `dir` has a line that is
// exactly `name`. A list that cannot be read lists nothing.
bool listed_hidden(int dir, const std::string& name)
{
    std::string list;
    struct stat held;
    bool exists = false;
    return read_hidden_list(dir, list, held, exists) == FS_OK && fs_edit_hidden_list(list, name, false);
}

// ---- The metadata value ----

constexpr INT_U32 value_magic = 0x00051607;
constexpr INT_U32 value_version = 0x00020000;
constexpr std::size_t header_bytes = 26;
constexpr std::size_t descriptor_bytes = 12;
constexpr INT_U32 finder_entry_id = 9;
constexpr INT_U32 dates_entry_id = 8;
// "Never", for the backup date.
constexpr INT_U32 no_date = 0x80000000;

// The Finder flags are bytes 8-9, big-endian: each flag here is a bit of
// byte 8.
constexpr std::size_t flags_at = 8;
constexpr INT_U8 invisible_bit = FS_FLAG_INVISIBLE >> 8;
constexpr INT_U8 inited_bit = FS_FLAG_HAS_BEEN_INITED >> 8;

INT_U32 get_u32(const INT_U8* p)
{
    return static_cast<INT_U32>(p[0]) << 24 | static_cast<INT_U32>(p[1]) << 16 | static_cast<INT_U32>(p[2]) << 8 | p[3];
}

void put_u32(INT_U8* p, INT_U32 v)
{
    p[0] = static_cast<INT_U8>(v >> 24);
    p[1] = static_cast<INT_U8>(v >> 16);
    p[2] = static_cast<INT_U8>(v >> 8);
    p[3] = static_cast<INT_U8>(v);
}

// Reads a value through `get` (getxattr's arguments but the name):
// `exists` false when there is none, FS_NOT_SUPPORTED where the file
// system keeps none (ENOTSUP). A value is at most 64 KiB; the size is
// asked only of one too large for a first read (our own are 402 bytes),
// and asked again of one that grows meanwhile.
template <typename GET> INT_S32 read_value_with(GET get, std::vector<INT_U8>& value, bool& exists)
{
    value.clear();
    exists = false;
    INT_U8 small[1024];
    for (int tries = 0; tries < 4; ++tries) {
        ssize_t n = tries == 0 ? get(small, sizeof small) : get(value.data(), value.size());
        if (n >= 0) {
            if (tries == 0) {
                value.assign(small, small + n);
            } else {
                value.resize(static_cast<std::size_t>(n));
            }
            exists = true;
            return FS_OK;
        }
        if (errno == ERANGE) {
            n = get(nullptr, 0);
            if (n >= 0) {
                value.resize(static_cast<std::size_t>(n) + 1); // room to see it grow
                continue;
            }
        }
        value.clear();
        return errno == ENODATA ? FS_OK : fs_error_from_errno(errno);
    }
    value.clear();
    return FS_IO_ERROR;
}

// Where a Finder routine finds its object: its folder and name (folder ""
// for "/"), and a path that names it without a link at its end. Where it
// was found by opening it, `fd` (O_PATH) is the object opened and `st`
// what it is, for the change to take over.
struct FINDER_OBJECT
{
    std::string folder, name, path;
    int fd = -1;
    struct stat st = {};

    FINDER_OBJECT() = default;
    FINDER_OBJECT(const FINDER_OBJECT&) = delete;
    FINDER_OBJECT& operator=(const FINDER_OBJECT&) = delete;
    ~FINDER_OBJECT()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
};

// A path that names no link stands for its object as it is given: its
// folder is the path's own, relative or not, so a process working by paths
// relative to a folder above which it may not search still reaches the
// folder's list and lock. False where the path needs resolving. With
// `open_it`, the object is opened (never through a link at its end) in
// the walk that looks at it, rather than looked at and then walked to.
bool object_as_named(const char* path, FINDER_OBJECT& o, bool open_it)
{
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    std::string folder, name;
    split_last(p, folder, name);
    if (p == "/" || name == "." || name == "..") {
        return false;
    }
    struct stat st;
    // A slash at its end has a link followed: looked at as it always was.
    if (open_it && p.size() == std::strlen(path)) {
        const int fd = open(path, O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return false;
        }
        if (fstat(fd, &st) != 0 || S_ISLNK(st.st_mode)) {
            close(fd);
            return false;
        }
        o.fd = fd;
        o.st = st;
    } else if (lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) {
        return false;
    }
    o.folder.swap(folder);
    o.name.swap(name);
    o.path.swap(p);
    return true;
}

// The object a path leads to (through links).
INT_S32 object_led_to(const char* path, FINDER_OBJECT& o, bool open_it)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    if (object_as_named(path, o, open_it)) {
        return FS_OK;
    }
    char real[PATH_MAX];
    if (!realpath(path, real)) {
        return fs_error_from_errno(errno);
    }
    o.path = real;
    if (!std::strcmp(real, "/")) {
        o.folder.clear();
        o.name = "/";
    } else {
        split_last(real, o.folder, o.name);
    }
    return FS_OK;
}

// The entry a path names (a link itself).
INT_S32 entry_named(const char* path, FINDER_OBJECT& o, bool open_it)
{
    if (path && path[0] && object_as_named(path, o, open_it)) {
        return FS_OK;
    }
    INT_S32 r = split_reference(path, o.folder, o.name);
    o.path = join(o.folder, o.name);
    return r;
}

// An object opened once, every read and write of its value going to it
// whatever its name leads to meanwhile: `fd` (O_PATH, never through a
// link) for its lock and identity, `data` the same file or folder opened
// to be read where it may be (attribute calls take no O_PATH descriptor),
// else its /proc name. Links and devices keep no value and are not opened.
struct OPEN_OBJECT
{
    int fd = -1;
    int data = -1;
    struct stat st = {};
    char proc[32] = "";

    OPEN_OBJECT() = default;
    OPEN_OBJECT(const OPEN_OBJECT&) = delete;
    OPEN_OBJECT& operator=(const OPEN_OBJECT&) = delete;
    ~OPEN_OBJECT()
    {
        for (int d : {data, fd}) {
            if (d >= 0) {
                close(d);
            }
        }
    }

    // Opens `name` of the folder open as `dir`; "/" with dir -1.
    INT_S32 open_at(int dir, const std::string& name)
    {
        fd = dir < 0 ? open(name.c_str(), O_PATH | O_CLOEXEC)
                     : openat(dir, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || fstat(fd, &st) != 0) {
            return fs_error_from_errno(errno);
        }
        name_proc();
        if (storable()) {
            data = dir < 0 ? open(name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)
                           : openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            keep_data_if_same();
        }
        return FS_OK;
    }

    // The object open as `given` (O_PATH will do).
    INT_S32 adopt(int given)
    {
        fd = fcntl(given, F_DUPFD_CLOEXEC, 0);
        if (fd < 0 || fstat(fd, &st) != 0) {
            return fs_error_from_errno(errno);
        }
        name_proc();
        if (storable()) {
            data = open(proc, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            keep_data_if_same();
        }
        return FS_OK;
    }

    // The object `o` was opened as when it was found, by its path.
    void take_over(FINDER_OBJECT& o)
    {
        fd = o.fd;
        st = o.st;
        o.fd = -1;
        name_proc();
        if (storable()) {
            data = open(o.path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
            keep_data_if_same();
        }
    }

    void name_proc() { std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd); }

    void keep_data_if_same()
    {
        struct stat now;
        if (data >= 0 && (fstat(data, &now) != 0 || !same_object(now, st))) {
            close(data);
            data = -1;
        }
    }

    // Only files and folders carry user attributes.
    bool storable() const { return S_ISREG(st.st_mode) || S_ISDIR(st.st_mode); }

    ssize_t get(void* into, std::size_t size) const
    {
        return data >= 0 ? fgetxattr(data, FS_FINDER_ATTRIBUTE, into, size)
                         : getxattr(proc, FS_FINDER_ATTRIBUTE, into, size);
    }
    int set(const std::vector<INT_U8>& value, int flags) const
    {
        return data >= 0 ? fsetxattr(data, FS_FINDER_ATTRIBUTE, value.data(), value.size(), flags)
                         : setxattr(proc, FS_FINDER_ATTRIBUTE, value.data(), value.size(), flags);
    }
    int remove() const
    {
        return data >= 0 ? fremovexattr(data, FS_FINDER_ATTRIBUTE) : removexattr(proc, FS_FINDER_ATTRIBUTE);
    }
};

INT_S32 read_value(const OPEN_OBJECT& o, std::vector<INT_U8>& value, bool& exists)
{
    return read_value_with([&](void* into, std::size_t size) { return o.get(into, size); }, value, exists);
}

// The dates a new value starts with: the object's birth where the file
// system keeps it (else its last change of content), its last change and
// its last use.
FS_FINDER_DATES dates_of(const OPEN_OBJECT& o)
{
    FS_FINDER_DATES dates;
    dates.modified = o.st.st_mtim.tv_sec;
    dates.accessed = o.st.st_atim.tv_sec;
    dates.created = o.st.st_mtim.tv_sec;
    struct statx sx;
    if (statx(o.fd, "", AT_EMPTY_PATH, STATX_BTIME, &sx) == 0 && (sx.stx_mask & STATX_BTIME)) {
        dates.created = sx.stx_btime.tv_sec;
    }
    return dates;
}

enum INVISIBLE_CHANGE
{
    keep_invisible,
    set_invisible,
    clear_invisible,
};

// What a setter changes: the bits of `bytes` that `mask` has set (never
// the invisible bit), and the invisible bit, which goes into the list as
// well as into the value.
struct FINDER_CHANGE
{
    INT_U8 bytes[FS_FINDER_INFO_BYTES] = {};
    INT_U8 mask[FS_FINDER_INFO_BYTES] = {};
    INVISIBLE_CHANGE invisible = keep_invisible;
};

// The 32 bytes as an object's value holds them (zeros without a value or
// Finder entry); FS_IO_ERROR for a value that is not a valid header.
INT_S32 stored_finder_info(const std::vector<INT_U8>& value, bool exists, INT_U8* info, bool& has_entry)
{
    std::memset(info, 0, FS_FINDER_INFO_BYTES);
    has_entry = false;
    std::size_t at = FS_NO_FINDER_ENTRY;
    if (!exists) {
        return FS_OK;
    }
    if (!fs_find_finder_entry(value.data(), value.size(), at)) {
        return FS_IO_ERROR;
    }
    has_entry = at != FS_NO_FINDER_ENTRY;
    if (has_entry) {
        std::memcpy(info, value.data() + at, FS_FINDER_INFO_BYTES);
    }
    return FS_OK;
}

// A change of an object's value: the value as read, and what replaces it
// (empty when nothing changes or nothing can be stored).
struct VALUE_PLAN
{
    std::vector<INT_U8> value, next;
    bool existed = false;
    bool storable = false;
    // Only the stored copy of the invisible flag is set: an object this
    // process may not write is hidden by the list all the same.
    bool only_hidden = false;
};

// Reads the object's value and works out the change; nothing is written.
INT_S32 plan_value(const OPEN_OBJECT& o, const FINDER_CHANGE& c, VALUE_PLAN& p)
{
    p = VALUE_PLAN();
    p.storable = o.storable();
    if (p.storable) {
        INT_S32 r = read_value(o, p.value, p.existed);
        if (r == FS_NOT_SUPPORTED) {
            p.storable = false;
        } else if (r != FS_OK) {
            return r;
        }
    }
    INT_U8 before[FS_FINDER_INFO_BYTES], after[FS_FINDER_INFO_BYTES];
    bool has_entry = false;
    INT_S32 r = stored_finder_info(p.value, p.existed, before, has_entry);
    if (r != FS_OK) {
        return r;
    }
    if (p.existed && !has_entry) {
        return FS_IO_ERROR; // adding the entry would move the others
    }
    INT_U8 bytes[FS_FINDER_INFO_BYTES], mask[FS_FINDER_INFO_BYTES];
    std::memcpy(bytes, c.bytes, sizeof bytes);
    std::memcpy(mask, c.mask, sizeof mask);
    for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
        // Where nothing can be stored, only the list can change.
        if (!p.storable && (bytes[i] & mask[i]) != 0) {
            return FS_NOT_SUPPORTED;
        }
    }
    if (c.invisible != keep_invisible) {
        mask[flags_at] |= invisible_bit;
        bytes[flags_at] = static_cast<INT_U8>(c.invisible == set_invisible ? bytes[flags_at] | invisible_bit
                                                                           : bytes[flags_at] & ~invisible_bit);
    }
    bool changed = false;
    p.only_hidden = c.invisible == set_invisible;
    for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
        after[i] = static_cast<INT_U8>((before[i] & ~mask[i]) | (bytes[i] & mask[i]));
        changed = changed || after[i] != before[i];
        const int other_bits = (after[i] ^ before[i]) & ~(i == flags_at ? invisible_bit : 0);
        p.only_hidden = p.only_hidden && other_bits == 0;
    }
    if (p.storable && changed) {
        p.next = p.existed ? p.value : fs_make_finder_value(before, dates_of(o));
        fs_edit_finder_value(p.next, bytes, mask);
    }
    return FS_OK;
}

// Writes the planned value whole in one call, created where there was none
// and replaced where there was one, once it is read again and found as
// planned; a value another program changed meanwhile is planned again
// from what it holds now (at most change_tries times, then
// FS_BAD_ARGUMENT). `p` ends as written.
INT_S32 write_value(const OPEN_OBJECT& o, const FINDER_CHANGE& c, VALUE_PLAN& p)
{
    for (int tries = 0;; ++tries) {
        if (p.next.empty()) {
            return FS_OK;
        }
        std::vector<INT_U8> now;
        bool exists = false;
        INT_S32 r = read_value(o, now, exists);
        if (r != FS_OK) {
            return r;
        }
        if (exists == p.existed && now == p.value) {
            if (o.set(p.next, p.existed ? XATTR_REPLACE : XATTR_CREATE) == 0) {
                return FS_OK;
            }
            r = errno == EEXIST || errno == ENODATA ? FS_BAD_ARGUMENT : fs_error_from_errno(errno);
            if (r == FS_ACCESS_DENIED && p.only_hidden) {
                p.next.clear();
                return FS_OK;
            }
            if (r != FS_BAD_ARGUMENT) {
                return r;
            }
        }
        if (tries + 1 >= change_tries) {
            return FS_BAD_ARGUMENT;
        }
        r = plan_value(o, c, p);
        if (r != FS_OK) {
            return r;
        }
    }
}

// Puts back the value a change wrote (`p`), while it is still the one it
// wrote.
void restore_value(const OPEN_OBJECT& o, const VALUE_PLAN& p)
{
    std::vector<INT_U8> now;
    bool exists = false;
    if (p.next.empty() || read_value(o, now, exists) != FS_OK || !exists || now != p.next) {
        return;
    }
    if (p.existed) {
        o.set(p.value, XATTR_REPLACE);
    } else {
        o.remove();
    }
}

// A change answers only for the object its path leads to at its end: this
// answer sends it back to the start, on what the path leads to now.
constexpr INT_S32 moved_meanwhile = 1;

// How a change finds its object: a path, followed through links or naming
// the entry itself, or an object open already (`fd`), which the path
// names in its folder.
struct FINDER_TARGET
{
    const char* path = nullptr;
    bool entry = false;
    int fd = -1;
};

// True while the path still leads to the object changed, and, where its
// folder's list was changed, the object is still that folder's entry of
// that name and the folder still the one its path names.
bool still_there(const FINDER_TARGET& t, const FINDER_OBJECT& o, const OPEN_OBJECT& obj, int dir, bool listed)
{
    struct stat now;
    if (t.fd < 0 && (lstat(o.path.c_str(), &now) != 0 || !same_object(now, obj.st))) {
        return false;
    }
    if (!listed) {
        return true;
    }
    struct stat folder;
    return fstatat(dir, o.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && same_object(now, obj.st) &&
           fstat(dir, &folder) == 0 && stat(o.folder.c_str(), &now) == 0 && same_object(now, folder);
}

// Changes the value of the object open as `obj`, whose lock is held, and,
// with `lists`, the list of its folder, held as `folder`, under `name`.
// Everything that can refuse is looked at before anything is written. The
// list and the value are written in the order that keeps this library's
// reading (either hides) and the desktop's (the list alone) the same at
// every instant: the list first when an entry is hidden, the value first
// when it is shown; a second write that fails takes the first one back.
INT_S32 change_held(const OPEN_OBJECT& obj, const FINDER_CHANGE& c, const FOLDER_HOLD& folder, bool lists,
                    const std::string& name)
{
    VALUE_PLAN value;
    INT_S32 r = plan_value(obj, c, value);
    if (r != FS_OK) {
        return r;
    }
    std::string list;
    struct stat list_held = {}, list_placed = {};
    bool list_existed = false, list_changed = false;
    if (lists) {
        r = read_hidden_list(folder.dir(), list, list_held, list_existed);
        if (r != FS_OK) {
            return r;
        }
        const std::string before = list;
        list_changed = fs_edit_hidden_list(list, name, c.invisible == set_invisible);
        if (list.size() > FS_HIDDEN_LIST_MAX) {
            return FS_IO_ERROR; // the readers would refuse it
        }
        if (list_changed && c.invisible == set_invisible) {
            r = write_hidden_list(folder, list, list_held, list_existed, list_placed);
            if (r != FS_OK) {
                return r;
            }
            r = write_value(obj, c, value);
            if (r != FS_OK) {
                // Shown again while the list is still the one written here.
                struct stat placed_again;
                if (!list_existed && list_unchanged(folder.dir(), list_placed, true)) {
                    unlinkat(folder.dir(), hidden_list_name, 0);
                } else if (list_existed) {
                    write_hidden_list(folder, before, list_placed, true, placed_again);
                }
            }
            return r;
        }
    }
    r = write_value(obj, c, value);
    if (r == FS_OK && list_changed) {
        r = write_hidden_list(folder, list, list_held, list_existed, list_placed);
        if (r != FS_OK) {
            restore_value(obj, value);
        }
    }
    return r;
}

// One pass of a change on the object the path leads to now. The folder's
// lock is taken first when its list may change, then the object's own:
// every caller of ours reads, changes and writes the list of a folder and
// the value of an object (whatever name reached it) in turn. What a pass
// answers is for the object its path leads to at its end: where it leads
// elsewhere by then, the pass is to be made again (for an object given
// open, FS_BAD_ARGUMENT).
INT_S32 change_once(const FINDER_TARGET& t, FINDER_OBJECT& o, const FINDER_CHANGE& c)
{
    if (c.invisible != keep_invisible) {
        if (o.folder.empty() || o.name.find('\n') != std::string::npos) {
            return FS_BAD_ARGUMENT; // "/", or a name no line can hold
        }
        if (o.name[0] == '.' && c.invisible == clear_invisible) {
            return FS_BAD_NAME; // hidden by its name, whatever is stored
        }
    }
    const bool lists = c.invisible != keep_invisible && o.name[0] != '.';
    FOLDER_HOLD folder;
    int dir = -1, own_dir = -1;
    if (lists) {
        if (!folder.take(o.folder.c_str(), true)) {
            return fs_error_from_errno(errno);
        }
        dir = folder.dir();
    } else if (!o.folder.empty() && t.fd < 0 && o.fd < 0) {
        dir = own_dir = open(o.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            return fs_error_from_errno(errno);
        }
    }
    CLOSING closing{own_dir};
    OPEN_OBJECT obj;
    INT_S32 r = FS_OK;
    if (t.fd >= 0) {
        r = obj.adopt(t.fd);
    } else if (o.fd >= 0) {
        obj.take_over(o); // the entry in the folder held is looked at below
    } else {
        r = obj.open_at(dir, o.name);
    }
    if (r != FS_OK) {
        return r;
    }
    if (fs_finder_before_hold) {
        fs_finder_before_hold();
    }
    OBJECT_HOLD held;
    if (!held.take(obj.st.st_dev, obj.st.st_ino, true)) {
        return fs_error_from_errno(errno);
    }
    const INT_S32 elsewhere = t.fd >= 0 ? FS_BAD_ARGUMENT : moved_meanwhile;
    // A list is changed only in the folder its entry is in. Without one,
    // the look at the end says all: an object moved away before its lock
    // was taken keeps the change, as one moved just after it would.
    if (lists && !still_there(t, o, obj, dir, lists)) {
        return elsewhere;
    }
    r = change_held(obj, c, folder, lists, o.name);
    return still_there(t, o, obj, dir, lists) ? r : elsewhere;
}

// Runs a change on the object its path leads to, again on the object it
// leads to next while it leads elsewhere at the end of one (at most
// change_tries times, then FS_BAD_ARGUMENT). The object left behind keeps
// what was written to it. From the second pass on, the folder's lock is
// held to the end: a save takes it as it begins, so only saves begun
// before can still replace the object, and a file saved again and again
// (an autosave) is changed within the passes allowed.
INT_S32 change_finder(const FINDER_TARGET& t, const FINDER_CHANGE& c)
{
    FOLDER_HOLD saves_begun;
    for (int tries = 0; tries < change_tries; ++tries) {
        FINDER_OBJECT o;
        INT_S32 r = t.entry || t.fd >= 0 ? entry_named(t.path, o, t.fd < 0) : object_led_to(t.path, o, true);
        if (r == FS_OK && tries > 0 && saves_begun.dir() < 0 && !o.folder.empty() &&
            !saves_begun.take(o.folder.c_str(), true)) {
            r = fs_error_from_errno(errno);
        }
        if (r == FS_OK) {
            r = change_once(t, o, c);
        }
        if (r != moved_meanwhile) {
            return r;
        }
    }
    return FS_BAD_ARGUMENT;
}

// The 32 bytes as FSGetFinderInfo gives them.
INT_S32 read_finder_info(FINDER_OBJECT& o, INT_U8* info, bool& folder)
{
    CLOSING dir;
    OPEN_OBJECT obj;
    INT_S32 r = FS_OK;
    if (o.fd >= 0) {
        obj.take_over(o);
    } else {
        if (!o.folder.empty()) {
            dir.fd = open(o.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            if (dir.fd < 0) {
                return fs_error_from_errno(errno);
            }
        }
        r = obj.open_at(dir.fd, o.name);
    }
    std::vector<INT_U8> value;
    bool exists = false, has_entry = false;
    if (r == FS_OK && obj.storable()) {
        r = read_value(obj, value, exists);
        r = r == FS_NOT_SUPPORTED ? FS_OK : r;
    }
    if (r == FS_OK) {
        folder = S_ISDIR(obj.st.st_mode);
        r = stored_finder_info(value, exists, info, has_entry);
    }
    if (r != FS_OK || (info[flags_at] & invisible_bit) || o.folder.empty()) {
        return r;
    }
    if (o.name[0] == '.') {
        info[flags_at] |= invisible_bit;
        return r;
    }
    // The folder only where its list is to be read.
    if (dir.fd < 0) {
        dir.fd = open(o.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (dir.fd >= 0 && listed_hidden(dir.fd, o.name)) {
        info[flags_at] |= invisible_bit;
    }
    return r;
}

INT_S32 change_led_to(const char* path, const FINDER_CHANGE& c)
{
    FINDER_TARGET t;
    t.path = path;
    return change_finder(t, c);
}

INT_S32 change_flags(const char* path, bool set_bits, INT_U16 flag_bits)
{
    FINDER_CHANGE c;
    const INT_U16 stored = static_cast<INT_U16>(flag_bits & ~FS_FLAG_INVISIBLE);
    c.mask[flags_at] = static_cast<INT_U8>(stored >> 8);
    c.mask[flags_at + 1] = static_cast<INT_U8>(stored);
    if (set_bits) {
        c.bytes[flags_at] = c.mask[flags_at];
        c.bytes[flags_at + 1] = c.mask[flags_at + 1];
    }
    if (flag_bits & FS_FLAG_INVISIBLE) {
        c.invisible = set_bits ? set_invisible : clear_invisible;
    }
    return change_led_to(path, c);
}

INT_S32 change_hidden(const char* path, bool hide)
{
    FINDER_TARGET t;
    t.path = path;
    t.entry = true;
    FINDER_CHANGE c;
    c.invisible = hide ? set_invisible : clear_invisible;
    return change_finder(t, c);
}

} // namespace

const char FS_FINDER_ATTRIBUTE[] = "user.org.netatalk.Metadata";

void (*fs_hidden_list_before_write)() = nullptr;
void (*fs_finder_before_hold)() = nullptr;

bool fs_edit_hidden_list(std::string& list, const std::string& name, bool hide)
{
    // Lines end at '\n'; a last line without one is a line all the same.
    std::string kept;
    bool found = false;
    std::size_t at = 0;
    while (at < list.size()) {
        std::size_t end = list.find('\n', at);
        const std::size_t next = end == std::string::npos ? list.size() : end + 1;
        if (end == std::string::npos) {
            end = list.size();
        }
        const bool match = end - at == name.size() && !list.compare(at, end - at, name);
        found = found || match;
        if (!hide && !match) {
            kept.append(list, at, next - at);
        }
        at = next;
    }
    if (hide) {
        if (found) {
            return false;
        }
        if (!list.empty() && list.back() != '\n') {
            list += '\n';
        }
        list += name;
        list += '\n';
        return true;
    }
    if (found) {
        list.swap(kept);
    }
    return found;
}

bool fs_find_finder_entry(const INT_U8* value, std::size_t size, std::size_t& finder_at)
{
    finder_at = FS_NO_FINDER_ENTRY;
    if (size < header_bytes || get_u32(value) != value_magic || get_u32(value + 4) != value_version) {
        return false;
    }
    const std::size_t count = static_cast<std::size_t>(value[24]) << 8 | value[25];
    const std::size_t table_end = header_bytes + count * descriptor_bytes;
    if (table_end > size) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const INT_U8* d = value + header_bytes + i * descriptor_bytes;
        const std::size_t offset = get_u32(d + 4), length = get_u32(d + 8);
        if (offset > size || length > size - offset) {
            return false;
        }
        if (get_u32(d) == finder_entry_id) {
            if (length < FS_FINDER_INFO_BYTES || offset < table_end) {
                return false;
            }
            if (finder_at == FS_NO_FINDER_ENTRY) {
                finder_at = offset;
            }
        }
    }
    return true;
}

bool fs_edit_finder_value(std::vector<INT_U8>& value, const INT_U8* bytes, const INT_U8* mask)
{
    std::size_t at = FS_NO_FINDER_ENTRY;
    if (!fs_find_finder_entry(value.data(), value.size(), at) || at == FS_NO_FINDER_ENTRY) {
        return false;
    }
    for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
        value[at + i] = static_cast<INT_U8>((value[at + i] & ~mask[i]) | (bytes[i] & mask[i]));
    }
    return true;
}

INT_U32 fs_finder_date(INT_S64 unix_seconds)
{
    constexpr INT_S64 epoch_2000 = 946684800;
    INT_S64 since = unix_seconds - epoch_2000;
    if (since > INT32_MAX) {
        since = INT32_MAX;
    } else if (since < -static_cast<INT_S64>(INT32_MAX)) {
        since = -static_cast<INT_S64>(INT32_MAX);
    }
    return static_cast<INT_U32>(static_cast<INT_S32>(since));
}

std::vector<INT_U8> fs_make_finder_value(const INT_U8* finder_info, const FS_FINDER_DATES& dates)
{
    // The servers' order; the comment has room for 200 bytes, the four
    // entries of their own are empty.
    static const INT_U32 entries[][3] = {
        {4, 154, 0},          {dates_entry_id, 354, 16}, {finder_entry_id, FS_FINDER_VALUE_INFO_AT, 32},
        {14, 370, 4},         {0x80444556, 374, 0},      {0x80494E4F, 382, 0},
        {0x8053594E, 390, 0}, {0x8053567E, 398, 0},
    };
    std::vector<INT_U8> value(FS_FINDER_VALUE_BYTES, 0);
    put_u32(&value[0], value_magic);
    put_u32(&value[4], value_version);
    value[25] = sizeof entries / sizeof entries[0];
    for (std::size_t i = 0; i < sizeof entries / sizeof entries[0]; ++i) {
        for (std::size_t j = 0; j < 3; ++j) {
            put_u32(&value[header_bytes + i * descriptor_bytes + j * 4], entries[i][j]);
        }
    }
    std::memcpy(&value[FS_FINDER_VALUE_INFO_AT], finder_info, FS_FINDER_INFO_BYTES);
    // Created, modified, backed up, used.
    put_u32(&value[354], fs_finder_date(dates.created));
    put_u32(&value[358], fs_finder_date(dates.modified));
    put_u32(&value[362], no_date);
    put_u32(&value[366], fs_finder_date(dates.accessed));
    return value;
}

namespace fs_shared {

INT_S32 carry_finder_info(int from, const char* name, int copy)
{
    int fd = openat(from, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return fs_error_from_errno(errno);
    }
    std::vector<INT_U8> value;
    bool exists = false;
    INT_S32 r = read_value_with(
        [&](void* into, std::size_t size) { return fgetxattr(fd, FS_FINDER_ATTRIBUTE, into, size); }, value, exists);
    close(fd);
    if (r == FS_NOT_SUPPORTED || (r == FS_OK && !exists)) {
        return FS_OK;
    }
    if (r != FS_OK) {
        return r;
    }
    // A copy is a new object: the Finder has yet to place it.
    std::size_t at = FS_NO_FINDER_ENTRY;
    if (fs_find_finder_entry(value.data(), value.size(), at) && at != FS_NO_FINDER_ENTRY) {
        value[at + flags_at] &= static_cast<INT_U8>(~inited_bit);
    }
    if (fsetxattr(copy, FS_FINDER_ATTRIBUTE, value.data(), value.size(), 0) != 0) {
        return errno == ENOTSUP ? FS_OK : fs_error_from_errno(errno);
    }
    return FS_OK;
}

INT_S32 copy_finder_info(const char* source, const char* destination, int destination_fd)
{
    FINDER_OBJECT from, to;
    INT_S32 r = object_led_to(source, from, true);
    INT_U8 info[FS_FINDER_INFO_BYTES];
    bool folder = false;
    if (r == FS_OK) {
        r = read_finder_info(from, info, folder);
    }
    if (r == FS_OK) {
        r = destination_fd >= 0 ? entry_named(destination, to, false) : object_led_to(destination, to, false);
    }
    if (r != FS_OK) {
        return r;
    }
    FINDER_TARGET t;
    t.path = destination;
    t.fd = destination_fd;
    FINDER_CHANGE c;
    std::memcpy(c.bytes, info, sizeof info);
    std::memset(c.mask, 0xFF, sizeof c.mask);
    c.mask[flags_at] &= static_cast<INT_U8>(~invisible_bit);
    c.invisible = info[flags_at] & invisible_bit ? set_invisible : clear_invisible;
    if (c.invisible == clear_invisible && to.name[0] == '.') {
        c.invisible = keep_invisible; // hidden by its name: it stays so
    }
    r = change_finder(t, c);
    if (r == FS_NOT_SUPPORTED) {
        // Nothing is stored there: the list still takes the invisible bit.
        std::memset(c.mask, 0, sizeof c.mask);
        r = change_finder(t, c);
    }
    return r;
}

} // namespace fs_shared

INT_S32 FSSetInvisible(const char* path)
{
    return change_hidden(path, true);
}

INT_S32 FSClearInvisible(const char* path)
{
    return change_hidden(path, false);
}

INT_S32 FSGetFinderInfo(const char* path, INT_U8* finder_info, INT_U8* extended_info, bool* is_directory)
{
    FINDER_OBJECT o;
    INT_S32 r = object_led_to(path, o, true);
    INT_U8 info[FS_FINDER_INFO_BYTES];
    bool folder = false;
    if (r == FS_OK) {
        r = read_finder_info(o, info, folder);
    }
    if (r != FS_OK) {
        return r;
    }
    if (finder_info) {
        std::memcpy(finder_info, info, 16);
    }
    if (extended_info) {
        std::memcpy(extended_info, info + 16, 16);
    }
    if (is_directory) {
        *is_directory = folder;
    }
    return FS_OK;
}

INT_S32 FSSetFinderInfo(const char* path, const INT_U8* finder_info, const INT_U8* extended_info)
{
    if (!finder_info || !extended_info) {
        return FS_BAD_ARGUMENT;
    }
    FINDER_CHANGE c;
    std::memcpy(c.bytes, finder_info, 16);
    std::memcpy(c.bytes + 16, extended_info, 16);
    std::memset(c.mask, 0xFF, sizeof c.mask);
    c.mask[flags_at] &= static_cast<INT_U8>(~invisible_bit);
    c.invisible = finder_info[flags_at] & invisible_bit ? set_invisible : clear_invisible;
    return change_led_to(path, c);
}

INT_S32 FSChangeCreatorType(const char* path, INT_U32 creator, INT_U32 type)
{
    FINDER_CHANGE c;
    put_u32(c.bytes, type);
    put_u32(c.bytes + 4, creator);
    if (type != 0) {
        put_u32(c.mask, 0xFFFFFFFF);
    }
    if (creator != 0) {
        put_u32(c.mask + 4, 0xFFFFFFFF);
    }
    return change_led_to(path, c);
}

INT_S32 FSChangeFinderFlags(const char* path, bool set_bits, INT_U16 flag_bits)
{
    return change_flags(path, set_bits, flag_bits);
}

INT_S32 FSSetNameLocked(const char* path)
{
    return change_flags(path, true, FS_FLAG_NAME_LOCKED);
}

INT_S32 FSClearNameLocked(const char* path)
{
    return change_flags(path, false, FS_FLAG_NAME_LOCKED);
}

INT_S32 FSSetIsStationery(const char* path)
{
    return change_flags(path, true, FS_FLAG_STATIONERY);
}

INT_S32 FSClearIsStationery(const char* path)
{
    return change_flags(path, false, FS_FLAG_STATIONERY);
}

INT_S32 FSSetHasCustomIcon(const char* path)
{
    return change_flags(path, true, FS_FLAG_HAS_CUSTOM_ICON);
}

INT_S32 FSClearHasCustomIcon(const char* path)
{
    return change_flags(path, false, FS_FLAG_HAS_CUSTOM_ICON);
}

INT_S32 FSClearHasBeenInited(const char* path)
{
    return change_flags(path, false, FS_FLAG_HAS_BEEN_INITED);
}
