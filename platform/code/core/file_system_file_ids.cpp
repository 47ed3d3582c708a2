// File-id references: a file named by the handle its file system gives
// out, whatever it is called later.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

using namespace fs_shared;

namespace {

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
    default: return fs_error_from_errno(err);
    }
}

} // namespace

INT_S32 fs_file_id_open_error(int err)
{
    // ext4 answers ENOMEM, not ESTALE, when the handle's inode number is
    // being given to a new file at that very moment (the inode cache finds
    // it half made and gives up): the handle's own file is gone all the
    // same. The kernel's small allocations for the look-up do not fail, so
    // this is the only way to see that error here.
    return err == ENOMEM ? FS_FILE_ID_NOT_FOUND : handle_error(err);
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
        return fs_error_from_errno(errno);
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
