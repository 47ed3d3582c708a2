// Finder information and invisibility. The Finder information is kept
// where the file servers that share Linux folders with that platform's
// clients keep it, in each file's and folder's metadata attribute, so that
// what we store is what their clients see; an entry is also hidden by its
// folder's ".hidden" list, which the desktop reads.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include "folder.h"

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
    } else if (st.st_dev != held.st_dev || st.st_ino != held.st_ino) {
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

// Writes the list as a save is written, in a folder whose lock the caller
// holds (so no caller of ours changes the list
// meanwhile). The list must still be the one read, unchanged (or still be
// missing): a change another program made meanwhile, in place or by
// replacing the file, would otherwise be lost, or a link put in its place
// followed.
INT_S32 write_hidden_list(int dir, const std::string& folder, const std::string& list, const struct stat& held,
                          bool existed)
{
    const std::string target = (folder == "/" ? "" : folder) + "/" + hidden_list_name;
    errno = 0;
    FILE* fp = FOLDER::open_whole_file(target.c_str(), "wb");
    if (!fp) {
        return errno ? fs_error_from_errno(errno) : FS_IO_ERROR;
    }
    const bool written = list.empty() || std::fwrite(list.data(), 1, list.size(), fp) == list.size();
    if (fs_hidden_list_before_write) {
        fs_hidden_list_before_write();
    }
    struct stat now;
    const bool same = fstatat(dir, hidden_list_name, &now, AT_SYMLINK_NOFOLLOW) == 0
                          ? existed && now.st_dev == held.st_dev && now.st_ino == held.st_ino &&
                                now.st_size == held.st_size && same_time(now.st_mtim, held.st_mtim) &&
                                same_time(now.st_ctim, held.st_ctim)
                          : errno == ENOENT && !existed;
    if (!FOLDER::finish_file(fp, written && same)) {
        return written && !same ? FS_BAD_ARGUMENT : FS_IO_ERROR;
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
// system keeps none (ENOTSUP). A value is at most 64 KiB; one that grows
// between asking its size and reading it is asked again.
template <typename GET> INT_S32 read_value_with(GET get, std::vector<INT_U8>& value, bool& exists)
{
    value.clear();
    exists = false;
    for (int tries = 0; tries < 4; ++tries) {
        ssize_t n = get(nullptr, 0);
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n) + 1); // a buffer even for an empty value
            n = get(value.data(), value.size());
        }
        if (n >= 0) {
            value.resize(static_cast<std::size_t>(n));
            exists = true;
            return FS_OK;
        }
        if (errno == ENODATA) {
            value.clear();
            return FS_OK;
        }
        if (errno != ERANGE) {
            value.clear();
            return fs_error_from_errno(errno);
        }
    }
    value.clear();
    return FS_IO_ERROR;
}

// What a Finder routine works on: its folder and name, for the folder's
// lock and list (folder "" for "/"), and the path the attribute calls
// take: the object itself, never followed, or /proc/self/fd/N for an open
// descriptor, followed to it.
struct FINDER_OBJECT
{
    std::string folder, name, path;
    bool follow = false;
};

// A path that names no link stands for its object as it is given: its
// folder is the path's own, relative or not, so a process working by paths
// relative to a folder above which it may not search still reaches the
// folder's list and lock. False where the path needs resolving.
bool object_as_named(const char* path, FINDER_OBJECT& o)
{
    struct stat st;
    if (lstat(path, &st) != 0 || S_ISLNK(st.st_mode)) {
        return false;
    }
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') {
        p.pop_back();
    }
    std::string folder, name;
    split_last(p, folder, name);
    if (p == "/" || name == "." || name == "..") {
        return false;
    }
    o.folder = folder;
    o.name = name;
    o.path = p;
    return true;
}

// The object a path leads to (through links).
INT_S32 object_led_to(const char* path, FINDER_OBJECT& o)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    if (object_as_named(path, o)) {
        return FS_OK;
    }
    char real[PATH_MAX];
    if (!realpath(path, real)) {
        return fs_error_from_errno(errno);
    }
    o.path = real;
    if (o.path == "/") {
        o.folder.clear();
        o.name = "/";
    } else {
        split_last(o.path, o.folder, o.name);
    }
    return FS_OK;
}

// The entry a path names (a link itself).
INT_S32 entry_named(const char* path, FINDER_OBJECT& o)
{
    if (path && path[0] && object_as_named(path, o)) {
        return FS_OK;
    }
    INT_S32 r = split_reference(path, o.folder, o.name);
    o.path = join(o.folder, o.name);
    return r;
}

int stat_object(const FINDER_OBJECT& o, struct stat& st)
{
    return o.follow ? stat(o.path.c_str(), &st) : lstat(o.path.c_str(), &st);
}

INT_S32 read_value(const FINDER_OBJECT& o, std::vector<INT_U8>& value, bool& exists)
{
    return read_value_with(
        [&](void* into, std::size_t size) {
            return o.follow ? getxattr(o.path.c_str(), FS_FINDER_ATTRIBUTE, into, size)
                            : lgetxattr(o.path.c_str(), FS_FINDER_ATTRIBUTE, into, size);
        },
        value, exists);
}

// Writes the whole value in one call: created where there was none,
// replaced where there was one. A value that another program made or
// removed meanwhile is left to it (FS_BAD_ARGUMENT).
INT_S32 write_value(const FINDER_OBJECT& o, const std::vector<INT_U8>& value, bool existed)
{
    const int flags = existed ? XATTR_REPLACE : XATTR_CREATE;
    const int done = o.follow ? setxattr(o.path.c_str(), FS_FINDER_ATTRIBUTE, value.data(), value.size(), flags)
                              : lsetxattr(o.path.c_str(), FS_FINDER_ATTRIBUTE, value.data(), value.size(), flags);
    if (done == 0) {
        return FS_OK;
    }
    return errno == EEXIST || errno == ENODATA ? FS_BAD_ARGUMENT : fs_error_from_errno(errno);
}

// Puts back the value as it was before this call wrote it.
void restore_value(const FINDER_OBJECT& o, const std::vector<INT_U8>& value, bool existed)
{
    if (existed) {
        write_value(o, value, true);
    } else if (o.follow) {
        removexattr(o.path.c_str(), FS_FINDER_ATTRIBUTE);
    } else {
        lremovexattr(o.path.c_str(), FS_FINDER_ATTRIBUTE);
    }
}

// The dates a new value starts with: the object's birth where the file
// system keeps it (else its last change of content), its last change and
// its last use.
FS_FINDER_DATES dates_of(const FINDER_OBJECT& o, const struct stat& st)
{
    FS_FINDER_DATES dates;
    dates.modified = st.st_mtim.tv_sec;
    dates.accessed = st.st_atim.tv_sec;
    dates.created = st.st_mtim.tv_sec;
    struct statx sx;
    if (statx(AT_FDCWD, o.path.c_str(), o.follow ? 0 : AT_SYMLINK_NOFOLLOW, STATX_BTIME, &sx) == 0 &&
        (sx.stx_mask & STATX_BTIME)) {
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

// Reads, changes and writes an object's value and its folder's list under
// the folder's lock, taken once here. Nothing is changed unless all of it
// can be: the list is read and the value checked before either is written,
// and a list that cannot be written puts the value back.
INT_S32 change_finder(const FINDER_OBJECT& o, const FINDER_CHANGE& c)
{
    if (c.invisible != keep_invisible) {
        if (o.folder.empty() || o.name.find('\n') != std::string::npos) {
            return FS_BAD_ARGUMENT; // "/", or a name no line can hold
        }
        if (o.name[0] == '.' && c.invisible == clear_invisible) {
            return FS_BAD_NAME; // hidden by its name, whatever is stored
        }
    }
    // The folder's lock keeps every caller of ours from reading, changing
    // and writing its list or one of its objects' values meanwhile.
    FOLDER_HOLD held;
    if (!o.folder.empty() && (!held.take(o.folder.c_str()) || held.dir() < 0)) {
        return fs_error_from_errno(errno);
    }
    INT_S32 r = FS_OK;
    struct stat st;
    if (stat_object(o, st) != 0) {
        return fs_error_from_errno(errno);
    }
    // Only files and folders carry user attributes.
    bool storable = S_ISREG(st.st_mode) || S_ISDIR(st.st_mode);
    std::vector<INT_U8> value;
    bool existed = false;
    if (storable) {
        r = read_value(o, value, existed);
        if (r == FS_NOT_SUPPORTED) {
            storable = false;
        } else if (r != FS_OK) {
            return r;
        }
    }
    INT_U8 before[FS_FINDER_INFO_BYTES], after[FS_FINDER_INFO_BYTES];
    bool has_entry = false;
    r = stored_finder_info(value, existed, before, has_entry);
    if (r != FS_OK) {
        return r;
    }
    if (existed && !has_entry) {
        return FS_IO_ERROR; // adding the entry would move the others
    }
    INT_U8 bytes[FS_FINDER_INFO_BYTES], mask[FS_FINDER_INFO_BYTES];
    std::memcpy(bytes, c.bytes, sizeof bytes);
    std::memcpy(mask, c.mask, sizeof mask);
    for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
        // Where nothing can be stored, only the list can change.
        if (!storable && (bytes[i] & mask[i]) != 0) {
            return FS_NOT_SUPPORTED;
        }
    }
    if (c.invisible != keep_invisible) {
        mask[flags_at] |= invisible_bit;
        bytes[flags_at] = static_cast<INT_U8>(c.invisible == set_invisible ? bytes[flags_at] | invisible_bit
                                                                           : bytes[flags_at] & ~invisible_bit);
    }
    bool changed = false;
    for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
        after[i] = static_cast<INT_U8>((before[i] & ~mask[i]) | (bytes[i] & mask[i]));
        changed = changed || after[i] != before[i];
    }
    std::vector<INT_U8> next;
    if (storable && changed) {
        next = existed ? value : fs_make_finder_value(before, dates_of(o, st));
        fs_edit_finder_value(next, bytes, mask);
    }
    std::string list;
    struct stat list_held = {};
    bool list_existed = false, list_changed = false;
    if (c.invisible != keep_invisible && o.name[0] != '.') {
        r = read_hidden_list(held.dir(), list, list_held, list_existed);
        if (r != FS_OK) {
            return r;
        }
        list_changed = fs_edit_hidden_list(list, o.name, c.invisible == set_invisible);
    }
    if (!next.empty()) {
        r = write_value(o, next, existed);
        // An object this process may not write (a file without its write
        // bit) is hidden by the list, or its name, all the same: only the
        // stored copy of that one flag goes without. Anything else asked
        // for, or a flag to be cleared, is refused.
        bool only_hidden = c.invisible == set_invisible;
        for (std::size_t i = 0; i < FS_FINDER_INFO_BYTES; ++i) {
            const int other_bits = (after[i] ^ before[i]) & ~(i == flags_at ? invisible_bit : 0);
            only_hidden = only_hidden && other_bits == 0;
        }
        if (r == FS_ACCESS_DENIED && only_hidden) {
            next.clear();
            r = FS_OK;
        }
        if (r != FS_OK) {
            return r;
        }
    }
    if (list_changed) {
        r = write_hidden_list(held.dir(), o.folder, list, list_held, list_existed);
        if (r != FS_OK && !next.empty()) {
            restore_value(o, value, existed);
        }
    }
    return r;
}

// The 32 bytes as FSGetFinderInfo gives them.
INT_S32 read_finder_info(const FINDER_OBJECT& o, INT_U8* info, bool& folder)
{
    struct stat st;
    if (stat_object(o, st) != 0) {
        return fs_error_from_errno(errno);
    }
    folder = S_ISDIR(st.st_mode);
    std::vector<INT_U8> value;
    bool exists = false, has_entry = false;
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)) {
        INT_S32 r = read_value(o, value, exists);
        if (r != FS_OK && r != FS_NOT_SUPPORTED) {
            return r;
        }
    }
    INT_S32 r = stored_finder_info(value, exists, info, has_entry);
    if (r != FS_OK || (info[flags_at] & invisible_bit) || o.folder.empty()) {
        return r;
    }
    bool hidden = o.name[0] == '.';
    if (!hidden) {
        int dir = open(o.folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        hidden = dir >= 0 && listed_hidden(dir, o.name);
        if (dir >= 0) {
            close(dir);
        }
    }
    if (hidden) {
        info[flags_at] |= invisible_bit;
    }
    return FS_OK;
}

INT_S32 change_led_to(const char* path, const FINDER_CHANGE& c)
{
    FINDER_OBJECT o;
    INT_S32 r = object_led_to(path, o);
    return r != FS_OK ? r : change_finder(o, c);
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
    FINDER_OBJECT o;
    INT_S32 r = entry_named(path, o);
    if (r != FS_OK) {
        return r;
    }
    FINDER_CHANGE c;
    c.invisible = hide ? set_invisible : clear_invisible;
    return change_finder(o, c);
}

} // namespace

const char FS_FINDER_ATTRIBUTE[] = "user.org.netatalk.Metadata";

void (*fs_hidden_list_before_write)() = nullptr;

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
    INT_S32 r = object_led_to(source, from);
    INT_U8 info[FS_FINDER_INFO_BYTES];
    bool folder = false;
    if (r == FS_OK) {
        r = read_finder_info(from, info, folder);
    }
    if (r == FS_OK) {
        r = destination_fd >= 0 ? entry_named(destination, to) : object_led_to(destination, to);
    }
    if (r != FS_OK) {
        return r;
    }
    if (destination_fd >= 0) {
        to.path = "/proc/self/fd/" + std::to_string(destination_fd);
        to.follow = true;
    }
    FINDER_CHANGE c;
    std::memcpy(c.bytes, info, sizeof info);
    std::memset(c.mask, 0xFF, sizeof c.mask);
    c.mask[flags_at] &= static_cast<INT_U8>(~invisible_bit);
    c.invisible = info[flags_at] & invisible_bit ? set_invisible : clear_invisible;
    if (c.invisible == clear_invisible && to.name[0] == '.') {
        c.invisible = keep_invisible; // hidden by its name: it stays so
    }
    r = change_finder(to, c);
    if (r == FS_NOT_SUPPORTED) {
        // Nothing is stored there: the list still takes the invisible bit.
        std::memset(c.mask, 0, sizeof c.mask);
        r = change_finder(to, c);
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
    INT_S32 r = object_led_to(path, o);
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
