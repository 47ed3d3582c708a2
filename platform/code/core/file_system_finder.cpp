// Finder information and invisibility: an entry is hidden by its folder's
// ".hidden" list; the rest of the Finder information has no counterpart
// here yet.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include "folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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
// holds when it could be had (so no caller of ours changes the list
// meanwhile). The list must still be the one read, unchanged (or still be
// missing): a change another program made meanwhile, in place or by
// replacing the file, would otherwise be lost, or a link put in its place
// followed.
INT_S32 write_hidden_list(int dir, const std::string& folder, const std::string& list, const struct stat& held,
                          bool existed, bool folder_locked)
{
    const std::string target = (folder == "/" ? "" : folder) + "/" + hidden_list_name;
    errno = 0;
    FILE* fp = folder_locked ? open_whole_file_in_locked_folder(target.c_str(), "wb")
                             : FOLDER::open_whole_file(target.c_str(), "wb");
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
    // Read, change and write under the folder's lock: two of our callers
    // changing one list at once would each write back what it read, and
    // one change would be lost. A folder we may not read is not locked.
    int dir = open_folder_lock(folder.c_str());
    const bool locked = dir >= 0;
    if (locked && !wait_for_folder_lock(dir, LOCK_EX)) {
        r = fs_error_from_errno(errno);
        close(dir);
        return r;
    }
    if (!locked) {
        dir = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) {
            return fs_error_from_errno(errno);
        }
    }
    std::string list;
    struct stat held = {};
    bool existed = false;
    r = read_hidden_list(dir, list, held, existed);
    if (r == FS_OK && fs_edit_hidden_list(list, name, hide)) {
        r = write_hidden_list(dir, folder, list, held, existed, locked);
    }
    close(dir);
    return r;
}

} // namespace

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

INT_S32 FSSetInvisible(const char* path)
{
    return change_hidden(path, true);
}

INT_S32 FSClearInvisible(const char* path)
{
    return change_hidden(path, false);
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
