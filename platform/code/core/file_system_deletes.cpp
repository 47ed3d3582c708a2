// Deletes: a file, a link, or a folder with everything in it.
#include "file_system.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

using namespace fs_shared;

namespace {

INT_S32 delete_contents_at(int dirfd, int depth, bool go_on = false);

} // namespace

// An immutable entry is never made mutable to delete it: the host's
// refusal stops the delete like any other error. With go_on, every entry
// that can be deleted is, at every level, and the first error is returned.
INT_S32 fs_shared::delete_entry_at(int parent, const char* name, int depth, bool go_on)
{
    // Refused rather than risking the stack.
    if (static_cast<INT_U32>(depth) > FS_WALK_MAX_LEVELS) {
        return FS_IO_ERROR;
    }
    struct stat st;
    if (fstatat(parent, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return fs_error_from_errno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (unlinkat(parent, name, 0) != 0) {
            return fs_error_from_errno(errno);
        }
        return FS_OK;
    }
    // A folder without owner rights could not be emptied; give them back
    // (the only way to delete what it holds, as the owner would).
    if ((st.st_mode & 0700) != 0700) {
        fchmodat(parent, name, (st.st_mode & 07777) | 0700, 0);
    }
    int fd = open_dir_nofollow(parent, name);
    if (fd < 0) {
        return fs_error_from_errno(errno);
    }
    INT_S32 r = delete_contents_at(fd, depth + 1, go_on);
    close(fd);
    if ((r == FS_OK || go_on) && unlinkat(parent, name, AT_REMOVEDIR) != 0) {
        r = first_error(r, fs_error_from_errno(errno));
    }
    return r;
}

namespace {

// Deletes every entry, stopping at the first that cannot be deleted (with
// go_on, going past it).
INT_S32 delete_contents_at(int dirfd, int depth, bool go_on)
{
    INT_S32 result = FS_OK;
    INT_S32 walk = for_each_name(dirfd, [&](const char* n) {
        result = first_error(result, delete_entry_at(dirfd, n, depth, go_on));
        return result == FS_OK || go_on;
    });
    return first_error(result, walk);
}

} // namespace

INT_S32 FSDeleteObjects(const char* path)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    return delete_entry_at(AT_FDCWD, path, 0);
}

INT_S32 FSDeleteContainer(const char* path)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (lstat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return FS_NOT_A_DIRECTORY;
    }
    return FSDeleteObjects(path);
}

namespace {

INT_S32 delete_contents_of(const char* path, bool go_on)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    int fd = open_dir_nofollow(AT_FDCWD, path);
    if (fd < 0) {
        return fs_error_from_errno(errno);
    }
    INT_S32 r = delete_contents_at(fd, 1, go_on);
    close(fd);
    return r;
}

} // namespace

INT_S32 FSDeleteContainerContents(const char* path)
{
    return delete_contents_of(path, false);
}

INT_S32 fs_delete_contents_past_failures(const char* path)
{
    return delete_contents_of(path, true);
}
