// Walks: a folder's tree told entry by entry to a filter, and the list of
// a folder's items.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

using namespace fs_shared;

namespace {

bool collect_item(const char* path, const char*, INT_U32, bool, void* data)
{
    static_cast<std::vector<std::string>*>(data)->push_back(path);
    return false;
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
        return fs_error_from_errno(e);
    }
    INT_S32 result = FS_OK;
    while (!state->quit) {
        errno = 0;
        dirent* e = readdir(d);
        if (!e) {
            // The end of the folder (no more items) is a success.
            result = errno ? fs_error_from_errno(errno) : FS_OK;
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
            result = fs_error_from_errno(errno);
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

} // namespace

void (*fs_walk_before_descent)(const char* path) = nullptr;

INT_S32 FSIterateContainerLevel(const char* folder, FS_ITERATE_STATE* state)
{
    if (!folder || !state || !state->filter) {
        return FS_BAD_ARGUMENT;
    }
    int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return fs_error_from_errno(errno);
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
