// The one-call catalog routines: volumes from the mount table and statvfs,
// their mount records, references as paths, access, fork sizes, dates,
// attributes, the folders' hidden lists, walks, byte-range locks, user and
// group names, file handles, the working directory, fork copies and
// exchanges.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"

#include "folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

// The one mapping of the whole library.
INT_S32 catalog_error(int err)
{
    return fs_error_from_errno(err);
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

// ---- the mount table ----

// Undoes the kernel's \ooo escapes (space, tab, newline, backslash).
bool unescape(const std::string& field, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' &&
            field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            c = static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
            if (c == 0) {
                return false;
            }
            i += 3;
        }
        out += c;
    }
    return true;
}

INT_S32 read_mounts(std::vector<FS_MOUNT_ENTRY>& mounts)
{
    std::FILE* f = std::fopen("/proc/self/mountinfo", "re");
    if (!f) {
        return catalog_error(errno);
    }
    char* line = nullptr;
    std::size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, f)) > 0) {
        std::string text(line, static_cast<std::size_t>(n));
        if (text.back() == '\n') {
            text.pop_back();
        }
        FS_MOUNT_ENTRY entry;
        if (fs_parse_mount_line(text, entry)) {
            mounts.push_back(std::move(entry));
        }
    }
    std::free(line);
    std::fclose(f);
    return FS_OK;
}

bool path_within(const std::string& mount_point, const char* path)
{
    if (mount_point == "/") {
        return true;
    }
    std::size_t n = mount_point.size();
    return !std::strncmp(path, mount_point.c_str(), n) && (path[n] == 0 || path[n] == '/');
}

// The mount whose point is the longest prefix of the path's real form; of
// two on one point the later, which hides the earlier.
INT_S32 mount_of(const char* path, FS_MOUNT_ENTRY& out)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    char real[PATH_MAX];
    if (!realpath(path, real)) {
        return catalog_error(errno);
    }
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    const FS_MOUNT_ENTRY* best = nullptr;
    for (const FS_MOUNT_ENTRY& m : mounts) {
        if (path_within(m.mount_point, real) && (!best || m.mount_point.size() >= best->mount_point.size())) {
            best = &m;
        }
    }
    if (!best) {
        return FS_NO_MORE_VOLUMES;
    }
    out = *best;
    return FS_OK;
}

// ---- mount records ----

const struct
{
    const char* name;
    INT_U32 flag;
} mount_flag_names[] = {
    {"ro", MS_RDONLY},         {"nosuid", MS_NOSUID},           {"nodev", MS_NODEV},
    {"noexec", MS_NOEXEC},     {"noatime", MS_NOATIME},         {"nodiratime", MS_NODIRATIME},
    {"relatime", MS_RELATIME}, {"strictatime", MS_STRICTATIME}, {"nosymfollow", MS_NOSYMFOLLOW},
};

INT_U32 known_mount_flags()
{
    INT_U32 all = 0;
    for (const auto& f : mount_flag_names) {
        all |= f.flag;
    }
    return all;
}

constexpr std::size_t mount_record_header = 8;
constexpr INT_U16 mount_record_version = 1;

// ---- references ----

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
        return catalog_error(errno);
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
            return catalog_error(errno);
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
        return catalog_error(errno);
    }
    parent = real;
    return FS_OK;
}

// The file a path leads to once every link is followed: what it is, its
// path without links, and the folder entry that holds it.
struct LINKED_FILE
{
    struct stat st = {};
    std::string path;
    int folder = -1; // the entry's folder, held open once found
    std::string name;
    LINKED_FILE() = default;
    LINKED_FILE(const LINKED_FILE&) = delete;
    LINKED_FILE& operator=(const LINKED_FILE&) = delete;
    ~LINKED_FILE()
    {
        if (folder >= 0) {
            close(folder);
        }
    }
};

// The kernel follows the links in one step and names where it arrived; a
// dangling link leads nowhere (FS_NOT_FOUND).
INT_S32 find_linked_file(const char* path, LINKED_FILE& out)
{
    int fd = open(path, O_PATH | O_CLOEXEC);
    if (fd < 0) {
        return catalog_error(errno);
    }
    char real[FS_PATH_MAX];
    INT_S32 r = fstat(fd, &out.st) == 0 ? FileRefNumGetFSRef(fd, real, sizeof(real)) : catalog_error(errno);
    close(fd);
    if (r == FS_OK) {
        out.path = real;
    }
    return r;
}

// Opens the folder of the file's entry and checks that the entry is still
// that file and no link: a tree changed in the meantime is refused rather
// than acting on whatever has taken the file's place.
INT_S32 hold_entry(LINKED_FILE& file)
{
    std::string head;
    split_last(file.path, head, file.name);
    file.folder = open(head.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (file.folder < 0) {
        return catalog_error(errno);
    }
    struct stat now;
    if (fstatat(file.folder, file.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? FS_BAD_ARGUMENT : catalog_error(errno);
    }
    if (now.st_dev != file.st.st_dev || now.st_ino != file.st.st_ino) {
        return FS_BAD_ARGUMENT;
    }
    return FS_OK;
}

// ---- access ----

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
        return catalog_error(errno);
    }
    return S_ISDIR(st.st_mode) ? FS_OK : FS_NOT_A_DIRECTORY;
}

INT_S32 stat_file(const char* path, struct stat& st)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    if (stat(path, &st) != 0) {
        return catalog_error(errno);
    }
    return S_ISDIR(st.st_mode) ? FS_NOT_A_FILE : FS_OK;
}

// Puts the immutable attribute on or takes it off. A file system that keeps
// no such attribute holds no file locked that way: taking it off there is
// done already.
INT_S32 set_immutable(const char* path, const struct stat& st, bool on)
{
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return on ? FS_NOT_SUPPORTED : FS_OK;
    }
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return catalog_error(errno);
    }
    INT_S32 r = FS_OK;
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
        if (on) {
            r = errno == ENOTTY ? FS_NOT_SUPPORTED : catalog_error(errno);
        }
    } else if (((flags & FS_IMMUTABLE_FL) != 0) != on) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        if (ioctl(fd, FS_IOC_SETFLAGS, &flags) != 0) {
            r = errno == ENOTTY ? FS_NOT_SUPPORTED : catalog_error(errno);
        }
    }
    close(fd);
    return r;
}

// ---- hidden lists ----

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
        return errno == ENOENT ? FS_OK : catalog_error(errno);
    }
    if (!S_ISREG(held.st_mode) || held.st_size > static_cast<off_t>(FS_HIDDEN_LIST_MAX)) {
        return FS_IO_ERROR;
    }
    int fd = openat(dir, hidden_list_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ELOOP ? FS_IO_ERROR : catalog_error(errno);
    }
    struct stat st;
    INT_S32 r = FS_OK;
    if (fstat(fd, &st) != 0) {
        r = catalog_error(errno);
    } else if (st.st_dev != held.st_dev || st.st_ino != held.st_ino) {
        r = FS_BAD_ARGUMENT; // replaced while it was being found
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
            r = n < 0 ? catalog_error(errno) : FS_OK;
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

// Writes the list as a save is written. The list must still be the one
// read (or still be missing): a change another program made meanwhile
// would otherwise be lost, or a link put in its place followed.
INT_S32 write_hidden_list(int dir, const std::string& folder, const std::string& list, const struct stat& held,
                          bool existed)
{
    const std::string target = (folder == "/" ? "" : folder) + "/" + hidden_list_name;
    errno = 0;
    FILE* fp = FOLDER::open_whole_file(target.c_str(), "wb");
    if (!fp) {
        return errno ? catalog_error(errno) : FS_IO_ERROR;
    }
    const bool written = list.empty() || std::fwrite(list.data(), 1, list.size(), fp) == list.size();
    struct stat now;
    const bool same = fstatat(dir, hidden_list_name, &now, AT_SYMLINK_NOFOLLOW) == 0
                          ? existed && now.st_dev == held.st_dev && now.st_ino == held.st_ino
                          : errno == ENOENT && !existed;
    if (!FOLDER::finish_file(fp, written && same)) {
        return written && !same ? FS_BAD_ARGUMENT : FS_IO_ERROR;
    }
    return FS_OK;
}

INT_S32 change_hidden(const char* path, bool hide)
{
    std::string folder, name;
    INT_S32 r = split_reference(path, folder, name);
    if (r != FS_OK) {
        return r;
    }
    if (folder.empty() || name.find('\n') != std::string::npos) {
        return FS_BAD_ARGUMENT; // "/", or a name no line can hold
    }
    if (name[0] == '.') {
        // Hidden by its name, whatever the list says.
        return hide ? FS_OK : FS_BAD_NAME;
    }
    int dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        return catalog_error(errno);
    }
    std::string list;
    struct stat held = {};
    bool existed = false;
    r = read_hidden_list(dir, list, held, existed);
    if (r == FS_OK && fs_edit_hidden_list(list, name, hide)) {
        r = write_hidden_list(dir, folder, list, held, existed);
    }
    close(dir);
    return r;
}

// ---- walks ----

bool collect_item(const char* path, const char*, INT_U32, bool, void* data)
{
    static_cast<std::vector<std::string>*>(data)->push_back(path);
    return false;
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
// after the listing is not entered: the walk never leaves its tree.
INT_S32 iterate_level_at(int fd, const std::string& base, FS_ITERATE_STATE* state)
{
    DIR* d = fdopendir(fd);
    if (!d) {
        int e = errno;
        close(fd);
        return catalog_error(e);
    }
    INT_S32 result = FS_OK;
    while (!state->quit) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) {
            // The end of the folder (no more items) is a success.
            result = errno ? catalog_error(errno) : FS_OK;
            break;
        }
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) {
            continue;
        }
        // Refused rather than risking the stack; an empty folder at the
        // last level is no deeper than that level.
        if (state->current_level > FS_WALK_MAX_LEVELS) {
            result = FS_IO_ERROR;
            break;
        }
        const std::string path = base + e->d_name;
        bool is_directory = e->d_type == DT_DIR;
        struct stat st;
        if (e->d_type == DT_UNKNOWN && fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
            is_directory = S_ISDIR(st.st_mode);
        }
        if (state->filter(path.c_str(), e->d_name, state->current_level, is_directory, state->data)) {
            state->quit = true;
            break;
        }
        if (!is_directory || (state->max_levels != 0 && state->current_level >= state->max_levels)) {
            continue;
        }
        if (fs_walk_before_descent) {
            fs_walk_before_descent(path.c_str());
        }
        int sub = openat(dirfd(d), e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (sub < 0) {
            // No longer a folder (a link or a file took its place): there
            // is nothing of this tree to enter.
            if (errno == ELOOP || errno == ENOTDIR) {
                continue;
            }
            result = catalog_error(errno);
            break;
        }
        ++state->current_level;
        result = iterate_level_at(sub, path + '/', state);
        --state->current_level;
        if (result != FS_OK) {
            break;
        }
    }
    closedir(d);
    return result;
}

// ---- locks ----

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
        return errno == EAGAIN || errno == EACCES ? FS_RANGE_OVERLAP : catalog_error(errno);
    }
    return FS_OK;
}

// ---- file handles ----

struct HANDLE_BUFFER
{
    alignas(file_handle) unsigned char bytes[sizeof(file_handle) + sizeof(FS_FILE_ID::handle)];
    file_handle* get() { return reinterpret_cast<file_handle*>(bytes); }
};

INT_S32 handle_error(int err)
{
    switch (err) {
    case EOPNOTSUPP:
    case ENOSYS:
    case EOVERFLOW: return FS_NOT_SUPPORTED;
    case EPERM: return FS_ACCESS_DENIED;
    case ESTALE: return FS_FILE_ID_NOT_FOUND;
    default: return catalog_error(err);
    }
}

} // namespace

void (*fs_walk_before_descent)(const char* path) = nullptr;

INT_S32 fs_file_id_open_error(int err)
{
    // ext4 answers ENOMEM, not ESTALE, when the handle's inode number is
    // being given to a new file at that very moment (the inode cache finds
    // it half made and gives up): the handle's own file is gone all the
    // same. The kernel's small allocations for the look-up do not fail, so
    // this is the only way to see that error here.
    return err == ENOMEM ? FS_FILE_ID_NOT_FOUND : handle_error(err);
}

bool fs_parse_mount_line(const std::string& line, FS_MOUNT_ENTRY& entry)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t end = line.find(' ', at);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (end > at) {
            fields.push_back(line.substr(at, end - at));
        }
        at = end + 1;
    }
    // id, parent, device, root, mount point, options, optional fields...,
    // "-", type, source, super options
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") {
        ++dash;
    }
    if (fields.size() < 9 || dash + 2 >= fields.size()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long id = std::strtol(fields[0].c_str(), &end, 10);
    if (*end || errno || id < 0 || id > INT32_MAX) {
        return false;
    }
    FS_MOUNT_ENTRY e;
    e.mount_id = static_cast<INT_S32>(id);
    if (!unescape(fields[4], e.mount_point) || e.mount_point.empty() || e.mount_point[0] != '/' ||
        !unescape(fields[dash + 1], e.fs_type) || !unescape(fields[dash + 2], e.source) ||
        !unescape(fields[5], e.mount_options) ||
        (dash + 3 < fields.size() && !unescape(fields[dash + 3], e.super_options))) {
        return false;
    }
    entry = std::move(e);
    return true;
}

INT_U32 fs_mount_flags(const std::string& mount_options)
{
    INT_U32 flags = 0;
    std::size_t at = 0;
    while (at <= mount_options.size()) {
        std::size_t end = mount_options.find(',', at);
        if (end == std::string::npos) {
            end = mount_options.size();
        }
        const std::string option = mount_options.substr(at, end - at);
        for (const auto& f : mount_flag_names) {
            if (option == f.name) {
                flags |= f.flag;
            }
        }
        at = end + 1;
    }
    return flags;
}

std::string fs_make_mount_record(const FS_MOUNT_ENTRY& entry)
{
    std::string record(mount_record_header, '\0');
    for (const std::string* field : {&entry.source, &entry.fs_type, &entry.super_options, &entry.mount_point}) {
        record.append(field->c_str(), field->size() + 1);
    }
    const INT_U16 length = static_cast<INT_U16>(record.size() <= 0xFFFF ? record.size() : 0);
    const INT_U32 flags = fs_mount_flags(entry.mount_options);
    std::memcpy(&record[0], &length, 2);
    std::memcpy(&record[2], &mount_record_version, 2);
    std::memcpy(&record[4], &flags, 4);
    return record;
}

bool fs_parse_mount_record(const INT_U8* bytes, std::size_t size, FS_MOUNT_RECORD& record)
{
    if (!bytes || size < mount_record_header + 4) {
        return false;
    }
    INT_U16 length, version;
    INT_U32 flags;
    std::memcpy(&length, bytes, 2);
    std::memcpy(&version, bytes + 2, 2);
    std::memcpy(&flags, bytes + 4, 4);
    if (length < mount_record_header + 4 || length > size || version != mount_record_version ||
        (flags & ~known_mount_flags())) {
        return false;
    }
    FS_MOUNT_RECORD r;
    r.flags = flags;
    std::size_t at = mount_record_header;
    for (std::string* field : {&r.source, &r.fs_type, &r.options, &r.mount_point}) {
        const void* nul = at < length ? std::memchr(bytes + at, 0, length - at) : nullptr;
        if (!nul) {
            return false;
        }
        const std::size_t end = static_cast<std::size_t>(static_cast<const INT_U8*>(nul) - bytes);
        field->assign(reinterpret_cast<const char*>(bytes + at), end - at);
        at = end + 1;
    }
    if (at != length || r.fs_type.empty() || r.mount_point.empty() || r.mount_point[0] != '/') {
        return false;
    }
    record = std::move(r);
    return true;
}

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

INT_S32 fs_exchange_by_renaming(const char* a, const char* b)
{
    if (!a || !b || !a[0] || !b[0]) {
        return FS_BAD_ARGUMENT;
    }
    std::string folder, last;
    split_last(a, folder, last);
    // The counter goes on from call to call, so a name left by a crash is
    // passed over in one try.
    static INT_U32 counter = 0x5EC70000u;
    char temp[FS_PATH_MAX] = "";
    for (int tries = 0; tries < 1000 && !temp[0]; ++tries) {
        char hex[9];
        std::snprintf(hex, sizeof(hex), "%08X", static_cast<unsigned>(counter++));
        INT_S32 r = FSMakePath(folder.c_str(), hex, temp, sizeof(temp));
        if (r != FS_OK) {
            return r;
        }
        if (fs_rename_noreplace(AT_FDCWD, a, AT_FDCWD, temp) != 0) {
            if (errno != EEXIST) {
                return catalog_error(errno);
            }
            temp[0] = 0;
        }
    }
    if (!temp[0]) {
        return FS_EXISTS;
    }
    if (fs_rename_noreplace(AT_FDCWD, b, AT_FDCWD, a) != 0) {
        int e = errno;
        fs_rename_noreplace(AT_FDCWD, temp, AT_FDCWD, a);
        return catalog_error(e);
    }
    if (fs_rename_noreplace(AT_FDCWD, temp, AT_FDCWD, b) != 0) {
        int e = errno;
        fs_rename_noreplace(AT_FDCWD, a, AT_FDCWD, b);
        fs_rename_noreplace(AT_FDCWD, temp, AT_FDCWD, a);
        return catalog_error(e);
    }
    return FS_OK;
}

INT_S32 FSGetVolParms(const char* volume, FS_VOL_PARMS* parms)
{
    if (!volume || !parms) {
        return FS_BAD_ARGUMENT;
    }
    struct statvfs vs;
    if (statvfs(volume, &vs) != 0) {
        return catalog_error(errno);
    }
    parms->block_size = static_cast<INT_U32>(vs.f_frsize ? vs.f_frsize : vs.f_bsize);
    parms->name_max = static_cast<INT_U32>(vs.f_namemax);
    parms->flags = vs.f_flag;
    parms->file_system_id = vs.f_fsid;
    return FS_OK;
}

namespace {

// The mount record of the volume holding `path`.
INT_S32 mount_record_of(const char* path, std::string& record)
{
    FS_MOUNT_ENTRY m;
    INT_S32 r = mount_of(path, m);
    if (r == FS_OK) {
        record = fs_make_mount_record(m);
    }
    return r;
}

} // namespace

INT_S32 FSGetVolMountInfoSize(const char* path, INT_U16* size)
{
    if (!size) {
        return FS_BAD_ARGUMENT;
    }
    std::string record;
    INT_S32 r = mount_record_of(path, record);
    if (r != FS_OK) {
        return r;
    }
    if (record.size() > 0xFFFF) {
        return FS_BAD_NAME;
    }
    *size = static_cast<INT_U16>(record.size());
    return FS_OK;
}

INT_S32 FSGetVolMountInfo(const char* path, void* mount_info)
{
    if (!mount_info) {
        return FS_BAD_ARGUMENT;
    }
    std::string record;
    INT_S32 r = mount_record_of(path, record);
    if (r != FS_OK) {
        return r;
    }
    INT_U16 room;
    std::memcpy(&room, mount_info, 2);
    if (record.size() > room) {
        return FS_BAD_NAME;
    }
    std::memcpy(mount_info, record.data(), record.size());
    return FS_OK;
}

INT_S32 FSVolumeMount(const void* mount_info, char* volume, std::size_t size)
{
    if (!mount_info || !volume || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    const INT_U8* bytes = static_cast<const INT_U8*>(mount_info);
    INT_U16 length;
    std::memcpy(&length, bytes, 2);
    FS_MOUNT_RECORD record;
    if (!fs_parse_mount_record(bytes, length, record)) {
        return FS_BAD_ARGUMENT;
    }
    char real[PATH_MAX];
    struct stat st;
    if (!realpath(record.mount_point.c_str(), real) || stat(real, &st) != 0) {
        return catalog_error(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return FS_NOT_A_DIRECTORY;
    }
    if (std::strlen(real) >= size) {
        volume[0] = 0;
        return FS_BAD_NAME;
    }
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    for (const FS_MOUNT_ENTRY& m : mounts) {
        if (m.mount_point == real) {
            return FS_EXISTS;
        }
    }
    if (mount(record.source.c_str(), real, record.fs_type.c_str(), record.flags,
              record.options.empty() ? nullptr : record.options.c_str()) != 0) {
        return catalog_error(errno);
    }
    return copy_out(real, volume, size);
}

INT_S32 FSGetVRefNum(const char* path, char* volume, std::size_t size)
{
    FS_MOUNT_ENTRY m;
    INT_S32 r = mount_of(path, m);
    return r != FS_OK ? r : copy_out(m.mount_point, volume, size);
}

INT_S32 FSGetVInfo(const char* volume, char* name, std::size_t name_size, INT_U64* free_bytes, INT_U64* total_bytes)
{
    if (!volume) {
        return FS_BAD_ARGUMENT;
    }
    struct statvfs vs;
    if (statvfs(volume, &vs) != 0) {
        return catalog_error(errno);
    }
    if (name) {
        FS_MOUNT_ENTRY m;
        INT_S32 r = mount_of(volume, m);
        if (r == FS_OK) {
            std::string head, last;
            split_last(m.mount_point, head, last);
            r = copy_out(last.empty() ? "/" : last, name, name_size);
        }
        if (r != FS_OK) {
            return r;
        }
    }
    const INT_U64 unit = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
    if (free_bytes) {
        *free_bytes = static_cast<INT_U64>(vs.f_bavail) * unit;
    }
    if (total_bytes) {
        *total_bytes = static_cast<INT_U64>(vs.f_blocks) * unit;
    }
    return FS_OK;
}

INT_S32 FSGetVolFileSystemID(const char* volume, INT_U32* file_system_id, char* signature, std::size_t signature_size)
{
    if (!volume) {
        return FS_BAD_ARGUMENT;
    }
    struct statfs fs;
    if (statfs(volume, &fs) != 0) {
        return catalog_error(errno);
    }
    if (signature) {
        FS_MOUNT_ENTRY m;
        INT_S32 r = mount_of(volume, m);
        if (r == FS_OK) {
            r = copy_out(m.fs_type, signature, signature_size);
        }
        if (r != FS_OK) {
            return r;
        }
    }
    if (file_system_id) {
        *file_system_id = static_cast<INT_U32>(fs.f_type);
    }
    return FS_OK;
}

INT_S32 FSGetMountedVolumes(LINKED_LIST* volumes, INT_U32* count)
{
    if (!volumes || !count) {
        return FS_BAD_ARGUMENT;
    }
    InitLinkedList(volumes, MyDisposeDataProc);
    *count = 0;
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    std::vector<std::string> points;
    for (const FS_MOUNT_ENTRY& m : mounts) {
        points.push_back(m.mount_point);
    }
    return fill_list(volumes, count, points);
}

INT_S32 FSRefMakeFSSpec(const char* path, char* parent, std::size_t parent_size, char* name, std::size_t name_size)
{
    std::string p, n;
    INT_S32 r = split_reference(path, p, n);
    if (r == FS_OK) {
        r = copy_out(p, parent, parent_size);
    }
    if (r == FS_OK) {
        r = copy_out(n, name, name_size);
    }
    return r;
}

INT_S32 FSGetParentRef(const char* path, char* parent, std::size_t size)
{
    std::string p, n;
    INT_S32 r = split_reference(path, p, n);
    return r != FS_OK ? r : copy_out(p, parent, size);
}

INT_S32 FSGetFileDirName(const char* path, char* name, std::size_t size)
{
    std::string p, n;
    INT_S32 r = split_reference(path, p, n);
    return r != FS_OK ? r : copy_out(n, name, size);
}

bool FSRefValid(const char* path)
{
    struct stat st;
    return path && path[0] && lstat(path, &st) == 0;
}

INT_S32 FileRefNumGetFSRef(int fork, char* path, std::size_t size)
{
    struct stat st;
    if (fork < 0 || fstat(fork, &st) != 0) {
        return FS_BAD_REFNUM;
    }
    if (st.st_nlink == 0) {
        return FS_NOT_FOUND;
    }
    char link[32], target[PATH_MAX];
    std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fork);
    ssize_t n = readlink(link, target, sizeof(target) - 1);
    if (n < 0) {
        return catalog_error(errno);
    }
    target[n] = 0;
    if (target[0] != '/') {
        return FS_BAD_ARGUMENT; // "pipe:[...]", "socket:[...]"
    }
    return copy_out(target, path, size);
}

INT_S32 UnicodeNameGetHFSName(const FS_UNICODE_NAME* unicode_name, char* name, std::size_t size)
{
    if (!unicode_name || !name || size == 0 || unicode_name->length > FS_NAME_MAX) {
        return FS_BAD_ARGUMENT;
    }
    std::string out;
    for (INT_U16 i = 0; i < unicode_name->length; ++i) {
        INT_U16 unit = unicode_name->unicode[i];
        if (unit == 0 || unit > 0xFF) {
            name[0] = 0;
            return FS_BAD_NAME;
        }
        out += static_cast<char>(unit);
    }
    return copy_out(out, name, size);
}

INT_S32 HFSNameGetUnicodeName(const char* name, FS_UNICODE_NAME* unicode_name)
{
    if (!name || !unicode_name) {
        return FS_BAD_ARGUMENT;
    }
    std::size_t n = std::strlen(name);
    if (n > FS_NAME_MAX) {
        unicode_name->length = 0;
        return FS_BAD_NAME;
    }
    for (std::size_t i = 0; i < n; ++i) {
        unicode_name->unicode[i] = static_cast<unsigned char>(name[i]);
    }
    unicode_name->length = static_cast<INT_U16>(n);
    return FS_OK;
}

INT_S32 FSGetUserPrivilegesPermissions(const char* path, INT_U8* user_privileges, INT_U32 permissions[4])
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        return catalog_error(errno);
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
        return catalog_error(errno);
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
        return catalog_error(errno);
    }
    if (chmod(path, static_cast<mode_t>(access_rights)) != 0) {
        return catalog_error(errno);
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
        return catalog_error(errno);
    }
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    // Whole seconds: a time that only moved within its second would look
    // unchanged to anything that compares dates in seconds.
    time_t seconds = now.tv_sec == st.st_mtim.tv_sec ? now.tv_sec + 1 : now.tv_sec;
    const struct timespec times[2] = {{0, UTIME_OMIT}, {seconds, 0}};
    if (utimensat(AT_FDCWD, path, times, 0) != 0) {
        return catalog_error(errno);
    }
    return FS_OK;
}

INT_S32 FSCopyFileMgrAttributes(const char* source, const char* destination, bool copy_lock_bit)
{
    if (!source || !destination) {
        return FS_BAD_ARGUMENT;
    }
    struct stat from, to;
    if (stat(source, &from) != 0 || stat(destination, &to) != 0) {
        return catalog_error(errno);
    }
    const bool lock_from = copy_lock_bit && immutable(source, from);
    // An immutable destination takes no change at all: an attribute the
    // source lacks goes first.
    INT_S32 r = FS_OK;
    if (copy_lock_bit && !lock_from && immutable(destination, to)) {
        r = set_immutable(destination, to, false);
        if (r != FS_OK) {
            return r;
        }
    }
    // Owner and group before the bits: a change of either clears the
    // set-id bits. A caller who may not give the file away may still give
    // it one of its own groups.
    if ((from.st_uid != to.st_uid || from.st_gid != to.st_gid) && chown(destination, from.st_uid, from.st_gid) != 0) {
        if (errno != EPERM) {
            return catalog_error(errno);
        }
        if (from.st_gid != to.st_gid && chown(destination, static_cast<uid_t>(-1), from.st_gid) != 0 &&
            errno != EPERM) {
            return catalog_error(errno);
        }
    }
    mode_t mode = from.st_mode & 07777;
    if (!copy_lock_bit) {
        mode = (mode & ~static_cast<mode_t>(0222)) | (to.st_mode & 0222);
    }
    if (chmod(destination, mode) != 0) {
        return catalog_error(errno);
    }
    const struct timespec times[2] = {from.st_atim, from.st_mtim};
    if (utimensat(AT_FDCWD, destination, times, 0) != 0) {
        return catalog_error(errno);
    }
    return lock_from ? set_immutable(destination, to, true) : FS_OK;
}

INT_S32 FSSetInvisible(const char* path)
{
    return change_hidden(path, true);
}

INT_S32 FSClearInvisible(const char* path)
{
    return change_hidden(path, false);
}

INT_S32 FSIterateContainerLevel(const char* folder, FS_ITERATE_STATE* state)
{
    if (!folder || !state || !state->filter) {
        return FS_BAD_ARGUMENT;
    }
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return catalog_error(errno);
    }
    std::string base = folder;
    if (base.back() != '/') {
        base += '/';
    }
    return iterate_level_at(fd, base, state);
}

INT_S32 FSIterateContainer(const char* container, INT_U32 max_levels, FS_ITERATE_FILTER filter, void* data)
{
    FS_ITERATE_STATE state = {max_levels, 1, filter, data, false};
    return FSIterateContainerLevel(container, &state);
}

INT_S32 FSGetDirectoryItems(const char* container, LINKED_LIST* items, INT_U32* count)
{
    if (!items || !count) {
        return FS_BAD_ARGUMENT;
    }
    InitLinkedList(items, MyDisposeDataProc);
    *count = 0;
    std::vector<std::string> paths;
    INT_S32 r = FSIterateContainer(container, 1, collect_item, &paths);
    return r != FS_OK ? r : fill_list(items, count, paths);
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
            return rc ? catalog_error(rc) : FS_NOT_FOUND;
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
            return rc ? catalog_error(rc) : FS_NOT_FOUND;
        }
        return FS_OK;
    }
}

INT_S32 FSCreateFileIDRef(const char* path, FS_FILE_ID* id)
{
    if (!id) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    INT_S32 r = stat_file(path, st);
    if (r != FS_OK) {
        return r;
    }
    HANDLE_BUFFER h;
    h.get()->handle_bytes = sizeof(id->handle);
    int mount_id = 0;
    if (name_to_handle_at(AT_FDCWD, path, h.get(), &mount_id, AT_SYMLINK_FOLLOW) != 0) {
        return handle_error(errno);
    }
    id->mount_id = mount_id;
    id->type = h.get()->handle_type;
    id->size = h.get()->handle_bytes;
    std::memcpy(id->handle, h.get()->f_handle, id->size);
    return FS_OK;
}

INT_S32 FSResolveFileIDRef(const char* volume, const FS_FILE_ID* id, char* path, std::size_t size)
{
    if (!volume || !id || id->size > sizeof(id->handle) || !path || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    // Opened for reading: the kernel takes no path-only descriptor here.
    int mount_fd = open(volume, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (mount_fd < 0) {
        return catalog_error(errno);
    }
    // A handle is only meaningful on the mount that gave it: on another
    // volume the same bytes could name some other file.
    HANDLE_BUFFER h;
    h.get()->handle_bytes = sizeof(id->handle);
    int volume_mount = -1;
    INT_S32 r = FS_OK;
    if (name_to_handle_at(mount_fd, "", h.get(), &volume_mount, AT_EMPTY_PATH) != 0) {
        r = handle_error(errno);
    } else if (volume_mount != id->mount_id) {
        r = FS_FILE_ID_NOT_FOUND;
    }
    int fd = -1;
    if (r == FS_OK) {
        h.get()->handle_type = id->type;
        h.get()->handle_bytes = id->size;
        std::memcpy(h.get()->f_handle, id->handle, id->size);
        fd = open_by_handle_at(mount_fd, h.get(), O_PATH | O_CLOEXEC);
        if (fd < 0) {
            r = fs_file_id_open_error(errno);
        }
    }
    close(mount_fd);
    if (fd >= 0) {
        r = FileRefNumGetFSRef(fd, path, size);
        if (r == FS_NOT_FOUND) {
            r = FS_FILE_ID_NOT_FOUND; // deleted, still held open elsewhere
        }
        close(fd);
    }
    return r;
}

INT_S32 FSSetDefault(const char* folder, char* old_folder, std::size_t size)
{
    if (!folder || !old_folder || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    if (!getcwd(old_folder, size)) {
        int e = errno;
        old_folder[0] = 0;
        return e == ERANGE ? FS_BAD_NAME : catalog_error(e);
    }
    if (chdir(folder) != 0) {
        return catalog_error(errno);
    }
    return FS_OK;
}

INT_S32 FSRestoreDefault(const char* old_folder)
{
    if (!old_folder || !old_folder[0]) {
        return FS_BAD_ARGUMENT;
    }
    if (chdir(old_folder) != 0) {
        return catalog_error(errno);
    }
    return FS_OK;
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
        return catalog_error(errno);
    }
    for (int fd : {source, destination}) {
        if (lseek(fd, 0, SEEK_SET) < 0 && errno != ESPIPE) {
            return catalog_error(errno);
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
                return failed(catalog_error(errno));
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
            return failed(catalog_error(errno));
        }
        for (ssize_t done = 0; done < got;) {
            ssize_t put = write(destination, bytes + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR) {
                continue;
            }
            if (put <= 0) {
                return failed(put < 0 ? catalog_error(errno) : FS_IO_ERROR);
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
        return catalog_error(errno);
    }
    if (S_ISDIR(st.st_mode)) {
        return FS_NOT_A_FILE;
    }
    return FSCopyObject(dir, name, dest_dir, 0, 0, FS_DUPLICATE_FAIL, new_name, false, false, nullptr, nullptr, nullptr,
                        0);
}

INT_S32 FSMoveRename(const char* dir, const char* name, const char* dest_dir, const char* new_name)
{
    return FSMoveRenameObjectUnicode(dir, name, dest_dir, new_name);
}

INT_S32 FSExchangeObjectsCompat(const char* a, const char* b)
{
    if (!a || !b || !a[0] || !b[0]) {
        return FS_BAD_ARGUMENT;
    }
    // Links are followed: the files they lead to are exchanged, and the
    // links stay as they are, still leading to them.
    LINKED_FILE fa, fb;
    INT_S32 r = find_linked_file(a, fa);
    if (r == FS_OK) {
        r = find_linked_file(b, fb);
    }
    if (r != FS_OK) {
        return r;
    }
    if (S_ISDIR(fa.st.st_mode) || S_ISDIR(fb.st.st_mode)) {
        return FS_NOT_A_FILE;
    }
    if (fa.st.st_dev != fb.st.st_dev) {
        return FS_DIFFERENT_VOLUMES;
    }
    if (fa.st.st_ino == fb.st.st_ino) {
        return FS_OK; // one file under two names: nothing to exchange
    }
    r = hold_entry(fa);
    if (r == FS_OK) {
        r = hold_entry(fb);
    }
    if (r != FS_OK) {
        return r;
    }
    if (renameat2(fa.folder, fa.name.c_str(), fb.folder, fb.name.c_str(), RENAME_EXCHANGE) == 0) {
        return FS_OK;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        return catalog_error(errno);
    }
    return fs_exchange_by_renaming(fa.path.c_str(), fb.path.c_str());
}

INT_S32 FSGetFinderInfo(const char*, INT_U8*, INT_U8*, bool*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSSetFinderInfo(const char*, const INT_U8*, const INT_U8*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSChangeCreatorType(const char*, INT_U32, INT_U32)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSChangeFinderFlags(const char*, bool, INT_U16)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSSetNameLocked(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSClearNameLocked(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSSetIsStationery(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSClearIsStationery(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSSetHasCustomIcon(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSClearHasCustomIcon(const char*)
{
    return FS_NOT_SUPPORTED;
}
INT_S32 FSClearHasBeenInited(const char*)
{
    return FS_NOT_SUPPORTED;
}
