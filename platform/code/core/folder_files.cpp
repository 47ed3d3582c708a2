// FOLDER file operations: opening files by name, entry information,
// copy/move/delete, and contents lists.
#include "folder.h"

#include "file_system.h"
#include "kivo_host.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <strings.h>
#include <vector>

namespace {

// Entry information as the lists report it. A symbolic link is never a
// directory (so walks cannot loop or leave the tree); a link to a file
// reports that file's size and time.
struct ENTRY_INFO
{
    INT_U8 is_directory;
    INT_U16 mode;
    INT_U32 size;
    INT_U32 modified;
};

bool read_entry_info(int dirfd, const char* name, ENTRY_INFO& info)
{
    struct stat st;
    if (fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return false;
    }
    info.is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
    info.mode = static_cast<INT_U16>(st.st_mode & 0xFFFF);
    struct stat target;
    const struct stat& data =
        S_ISLNK(st.st_mode) && fstatat(dirfd, name, &target, 0) == 0 && S_ISREG(target.st_mode) ? target : st;
    info.size = data.st_size > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<INT_U32>(data.st_size < 0 ? 0 : data.st_size);
    info.modified = data.st_mtime < 0              ? 0u
                    : data.st_mtime > 0xFFFFFFFFLL ? 0xFFFFFFFFu
                                                   : static_cast<INT_U32>(data.st_mtime);
    return true;
}

// The shared fields of FOLDER_FILE_SETTINGS and FOLDER_CONTENT_ENTRY.
template <typename T> void fill_from(T& out, const ENTRY_INFO& info, const char* name)
{
    out.is_directory = info.is_directory;
    out.is_hidden = name[0] == '.' ? 1 : 0;
    out.mode = info.mode;
    out.size = info.size;
    out.modified = info.modified;
}

const char* find_nocase(const char* hay, const char* needle)
{
    std::size_t n = std::strlen(needle);
    for (; *hay; ++hay) {
        if (!strncasecmp(hay, needle, n)) {
            return hay;
        }
    }
    return n == 0 ? hay : nullptr;
}

bool filter_matches(const char* name, const char* filter, FOLDER_FILTER_TYPE type)
{
    std::size_t nl = std::strlen(name), fl = std::strlen(filter);
    switch (type) {
    case fft_ends_with_nocase: return fl <= nl && !strcasecmp(name + nl - fl, filter);
    case fft_starts_with: return !std::strncmp(name, filter, fl);
    case fft_starts_with_nocase: return !strncasecmp(name, filter, fl);
    case fft_contains: return std::strstr(name, filter) != nullptr;
    case fft_contains_nocase: return find_nocase(name, filter) != nullptr;
    case fft_equals: return !std::strcmp(name, filter);
    case fft_equals_nocase: return !strcasecmp(name, filter);
    case fft_ends_with:
    default: return fl <= nl && !std::strcmp(name + nl - fl, filter);
    }
}

struct LISTED_NAME
{
    std::string name; // as the system sees it
    std::string host; // as the directory holds it
};

// Listing order: case ignored first, then the bytes, so that it is the same
// on every machine whatever order the directory hands out.
bool name_before(const LISTED_NAME& a, const LISTED_NAME& b)
{
    int c = strcasecmp(a.name.c_str(), b.name.c_str());
    if (c != 0) {
        return c < 0;
    }
    return a.name < b.name;
}

} // namespace

struct FOLDER_CONTENTS_LIST
{
    int dirfd = -1; // the listed folder, held open while listing
    std::vector<LISTED_NAME> names;
    std::size_t next = 0;
    INT_U8 show_hidden = 0;
    FOLDER* folder = nullptr;
    char filter[256] = "";
    // A filter longer than any entry name matches none; cut short it
    // would match names it does not equal.
    bool filter_too_long = false;
    FOLDER_FILTER_TYPE type = fft_ends_with;
    INT_U8 filter_dirs = 0;
    std::string current;
};

// ---- files -------------------------------------------------------------------

FILE* FOLDER::open_file(const char* name, const char* stdio_mode)
{
    char p[FS_PATH_MAX];
    // Opening a name below the location fails by itself where the location
    // is no folder: only a file judged before it is made asks the disk.
    const bool judged_first = stdio_mode && stdio_mode[0] == 'w';
    if (!stdio_mode || location[0] != '/' || !std::memchr(location, 0, sizeof(location)) ||
        (judged_first && !validate_path(location)) || !child_path(name, p)) {
        return nullptr;
    }
    if (judged_first) {
        // A file written whole is only created by its rename; what stands
        // at the name now is never opened, only judged.
        struct stat st;
        if (stat(p, &st) == 0 ? !S_ISREG(st.st_mode) || on_kernel_file_system(p) : errno != ENOENT) {
            return nullptr;
        }
        return open_whole_file(p, stdio_mode);
    }
    // Opened first, then judged by what was opened: a name checked before
    // it is opened can be swapped for a pipe in between. Without a writer,
    // opening a named pipe would wait forever; O_NONBLOCK makes it return.
    const bool update = std::strchr(stdio_mode, '+') != nullptr;
    int flags = stdio_mode[0] == 'r' ? (update ? O_RDWR | O_CREAT : O_RDONLY) : (update ? O_RDWR : O_WRONLY) | O_APPEND;
    if (stdio_mode[0] != 'r' && stdio_mode[0] != 'a') {
        return nullptr;
    }
    int fd = ::open(p, flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    // Only plain files: a device never ends, and /proc holds processes'
    // memory.
    struct stat st;
    int status = -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || descriptor_on_kernel_file_system(fd) ||
        (status = fcntl(fd, F_GETFL)) < 0 || fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return nullptr;
    }
    FILE* fp = fdopen(fd, stdio_mode);
    if (!fp) {
        ::close(fd);
    }
    return fp;
}

bool FOLDER::close_file(FILE* fp)
{
    return !fp || finish_file(fp, true);
}

bool FOLDER::file_exists(const char* name, INT_U8 assume)
{
    if (assume) {
        return true;
    }
    char p[FS_PATH_MAX];
    struct stat st;
    return child_path(name, p) && lstat(p, &st) == 0;
}

bool FOLDER::get_file_settings(const char* name, FOLDER_FILE_SETTINGS& s)
{
    char p[FS_PATH_MAX];
    ENTRY_INFO info;
    if (!child_path(name, p) || !read_entry_info(AT_FDCWD, p, info)) {
        return false;
    }
    fill_from(s, info, name);
    return true;
}

bool FOLDER::set_file_permissions(const char* name, unsigned short mode)
{
    char p[FS_PATH_MAX];
    return child_path(name, p) && chmod(p, mode & 07777) == 0;
}

char* FOLDER_FILE_SETTINGS::get_size_string()
{
    static char buf[64];
    double v = size;
    const char* unit = "b";
    if (size > 1073741824u) {
        v = size / 1073741824.0;
        unit = "G";
    } else if (size > 1048576u) {
        v = size / 1048576.0;
        unit = "M";
    } else if (size > 1024u) {
        v = size / 1024.0;
        unit = "k";
    }
    std::snprintf(buf, sizeof(buf), "%.1lf %s", v, unit);
    return buf;
}

char* FOLDER_FILE_SETTINGS::get_modtime_string()
{
    static char buf[64];
    std::time_t t = static_cast<std::time_t>(modified);
    buf[0] = 0;
    if (ctime_r(&t, buf)) {
        std::size_t n = std::strlen(buf);
        if (n > 0 && buf[n - 1] == '\n') {
            buf[n - 1] = 0;
        }
    } else {
        buf[0] = 0;
    }
    return buf;
}

bool FOLDER::get_unique_name(char* out, short out_size, const char* suffix)
{
    if (!out || !suffix || out_size < 0 || static_cast<std::size_t>(out_size) < std::strlen(suffix) + 9) {
        return false;
    }
    // A suffix that cannot be part of an entry name gives no usable name.
    if (std::strchr(suffix, '/') || std::strlen(suffix) + 8 > FS_NAME_MAX) {
        return false;
    }
    INT_U32 counter = get_ms_count();
    // Bounded, so a folder that somehow holds every name cannot hang us.
    for (int tries = 0; tries < 100000; ++tries, ++counter) {
        std::snprintf(out, static_cast<std::size_t>(out_size), "%08X%s", static_cast<unsigned>(counter), suffix);
        if (!file_exists(out, 0)) {
            return true;
        }
    }
    out[0] = 0;
    return false;
}

// ---- copy, move, delete --------------------------------------------------------

bool FOLDER::host_names_for(FOLDER& dest, const char* name, const char* new_name, char* host, char* new_host)
{
    new_host[0] = 0; // empty: keep the name
    return validate_path(location) && validate_path(dest.location) && host_name(name, host) &&
           (!new_name || !new_name[0] || host_name(new_name, new_host));
}

bool FOLDER::copy(const char* name, FOLDER& dest, const char* new_name)
{
    char host[host_name_sz], new_host[host_name_sz];
    if (!host_names_for(dest, name, new_name, host, new_host)) {
        return false;
    }
    return FSCopyObject(path(), host, dest.path(), 0, 0, FS_DUPLICATE_REPLACE, new_host, false, false, nullptr, nullptr,
                        nullptr, 0) == FS_OK;
}

bool FOLDER::move(const char* name, FOLDER& dest, const char* new_name)
{
    char host[host_name_sz], new_host[host_name_sz];
    if (!host_names_for(dest, name, new_name, host, new_host)) {
        return false;
    }
    return FSMoveRenameObjectUnicode(path(), host, dest.path(), new_host) == FS_OK;
}

bool FOLDER::remove(const char* name)
{
    char p[FS_PATH_MAX];
    struct stat st;
    if (!child_path(name, p) || lstat(p, &st) != 0) {
        return false;
    }
    return (S_ISDIR(st.st_mode) ? rmdir(p) : unlink(p)) == 0;
}

bool FOLDER::remove_directory(const char* name, INT_U8 recursive)
{
    char p[FS_PATH_MAX];
    struct stat st;
    // A link to a folder is not a folder here: nothing outside the tree is touched.
    if (!child_path(name, p) || lstat(p, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    if (recursive && !remove_directory_contents(name)) {
        return false;
    }
    return rmdir(p) == 0;
}

bool FOLDER::remove_directory_contents(const char* name)
{
    char p[FS_PATH_MAX];
    if (name) {
        if (!child_path(name, p)) {
            return false;
        }
    } else if (!validate_path(location)) {
        return false;
    } else {
        std::snprintf(p, sizeof(p), "%s", path());
    }
    struct stat st;
    if (lstat(p, &st) != 0 || !S_ISDIR(st.st_mode)) {
        return false;
    }
    // Which entry could not be deleted is not told, but a folder left with
    // anything in it is a failure: the walk goes on past each one, and an
    // entry that vanished meanwhile is no loss.
    fs_delete_contents_past_failures(p);
    DIR* d = opendir(p);
    if (!d) {
        return false;
    }
    bool empty = true;
    while (dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")) {
            empty = false;
            break;
        }
    }
    closedir(d);
    return empty;
}

// ---- contents lists --------------------------------------------------------------

FOLDER_CONTENTS_LIST* FOLDER::start_contents_list(const char* filter, INT_U8 show_hidden, FOLDER_FILTER_TYPE type,
                                                  INT_U8 filter_dirs)
{
    if (!validate_path(location)) {
        return nullptr;
    }
    FOLDER_CONTENTS_LIST* h = new (std::nothrow) FOLDER_CONTENTS_LIST;
    if (!h) {
        return nullptr;
    }
    h->dirfd = ::open(path(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    int fd = h->dirfd >= 0 ? dup(h->dirfd) : -1;
    DIR* d = fd >= 0 ? fdopendir(fd) : nullptr;
    if (!d) {
        if (fd >= 0) {
            ::close(fd);
        }
        stop_contents_list(h);
        return nullptr;
    }
    while (dirent* e = readdir(d)) {
        char name[FS_PATH_MAX];
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..") &&
            fs_name_from_host(e->d_name, name, sizeof(name))) {
            h->names.push_back(LISTED_NAME{name, e->d_name});
        }
    }
    closedir(d);
    std::sort(h->names.begin(), h->names.end(), name_before);
    h->show_hidden = show_hidden;
    h->folder = this;
    std::snprintf(h->filter, sizeof(h->filter), "%s", filter ? filter : "");
    h->filter_too_long = filter && std::strlen(filter) >= sizeof(h->filter);
    h->type = type;
    h->filter_dirs = filter_dirs;
    return h;
}

bool FOLDER::get_contents_list_entry(FOLDER_CONTENTS_LIST* h, FOLDER_CONTENT_ENTRY& e)
{
    if (!h) {
        return false;
    }
    while (h->next < h->names.size()) {
        const LISTED_NAME& entry = h->names[h->next++];
        const std::string& name = entry.name;
        if (name[0] == '.' && !h->show_hidden) {
            continue;
        }
        ENTRY_INFO info;
        if (!read_entry_info(h->dirfd, entry.host.c_str(), info)) {
            continue; // gone since the folder was read
        }
        if (h->filter[0] && (!info.is_directory || h->filter_dirs) &&
            (h->filter_too_long || !filter_matches(name.c_str(), h->filter, h->type))) {
            continue;
        }
        h->current = name;
        e.folder = h->folder;
        e.name = &h->current[0];
        fill_from(e, info, name.c_str());
        return true;
    }
    return false;
}

void FOLDER::stop_contents_list(FOLDER_CONTENTS_LIST* h)
{
    if (!h) {
        return;
    }
    if (h->dirfd >= 0) {
        ::close(h->dirfd);
    }
    delete h;
}

void FOLDER::get_dir_list(INT_U8 directories, INT_U8 show_hidden, INT_U8 append, FOLDER_FILE_INFO*& list, long& count,
                          const char* filter, FOLDER_FILTER_TYPE type, long first_alloc, long grow)
{
    if (!append || !list || count < 0) {
        list = nullptr;
        count = 0;
    }
    long capacity = count;
    FOLDER_CONTENTS_LIST* h = start_contents_list(filter, show_hidden, type, 0);
    if (!h) {
        return;
    }
    FOLDER_CONTENT_ENTRY e;
    while (get_contents_list_entry(h, e)) {
        // A name cut to fit the entry would name another file, or none.
        if ((e.is_directory != 0) != (directories != 0) || std::strlen(e.name) >= sizeof(list[0].name)) {
            continue;
        }
        if (count >= capacity) {
            // Grows by at least half, so long listings stay linear.
            long more = capacity == 0 ? std::max(first_alloc, 1L) : std::max({grow, 1L, capacity / 2});
            FOLDER_FILE_INFO* bigger = new (std::nothrow) FOLDER_FILE_INFO[capacity + more];
            if (!bigger) {
                break;
            }
            for (long i = 0; i < count; ++i) {
                bigger[i] = list[i];
            }
            delete[] list;
            list = bigger;
            capacity += more;
        }
        FOLDER_FILE_INFO& f = list[count];
        f.folder = *this;
        std::snprintf(f.name, sizeof(f.name), "%s", e.name);
        f.is_directory = e.is_directory;
        f.is_hidden = e.is_hidden;
        f.read_only = (e.mode & 0200) ? 0 : 1;
        f.size = e.size;
        f.modified = e.modified;
        ++count;
    }
    stop_contents_list(h);
}

void FOLDER::free_list(FOLDER_FILE_INFO*& list)
{
    delete[] list;
    list = nullptr;
}
