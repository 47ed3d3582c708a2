// References: an object is its path. Paths made from a folder and a name,
// split into folder and name, node ids, the path of an open file, and the
// working folder.
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_shared.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

using namespace fs_shared;

INT_S32 FSMakePath(const char* dir, const char* name, char* buf, std::size_t size)
{
    if (!dir || !buf || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    int n;
    if (!name || !name[0]) {
        n = std::snprintf(buf, size, "%s", dir);
    } else {
        std::size_t dl = std::strlen(dir);
        const char* sep = dl > 0 && dir[dl - 1] == '/' ? "" : "/";
        n = std::snprintf(buf, size, "%s%s%s", dir, sep, name);
    }
    if (n < 0 || static_cast<std::size_t>(n) >= size) {
        buf[0] = 0;
        return FS_BAD_NAME;
    }
    return FS_OK;
}

INT_S32 FSGetNodeID(const char* path, INT_U64* device, INT_U64* node, INT_U8* is_directory)
{
    if (!path) {
        return FS_BAD_ARGUMENT;
    }
    struct stat st;
    if (stat(path, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (device) {
        *device = st.st_dev;
    }
    if (node) {
        *node = st.st_ino;
    }
    if (is_directory) {
        *is_directory = S_ISDIR(st.st_mode) ? 1 : 0;
    }
    return FS_OK;
}

bool get_child_id(const char* dir, const char* name, INT_U64* child_id)
{
    if (!fs_is_valid_name(name)) {
        return false;
    }
    char path[FS_PATH_MAX];
    if (FSMakePath(dir, name, path, sizeof(path)) != FS_OK) {
        return false;
    }
    struct stat parent, child;
    if (stat(dir, &parent) != 0 || stat(path, &child) != 0 || !S_ISDIR(child.st_mode)) {
        return false;
    }
    if (parent.st_dev == child.st_dev && parent.st_ino == child.st_ino) {
        return false;
    }
    if (child_id) {
        *child_id = child.st_ino;
    }
    return true;
}

INT_S32 FSMakeFSRef(const char* volume, const char* directory, const char* name, char* ref, std::size_t size)
{
    if (!directory || !ref || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    ref[0] = 0;
    if (name && name[0] && !fs_is_valid_name(name)) {
        return FS_BAD_NAME;
    }
    char folder[FS_PATH_MAX];
    INT_S32 r = directory[0] != '/' && volume && volume[0] ? FSMakePath(volume, directory, folder, sizeof(folder))
                                                           : FSMakePath(directory, nullptr, folder, sizeof(folder));
    if (r == FS_OK && !folder[0]) {
        r = FS_BAD_ARGUMENT;
    }
    if (r == FS_OK) {
        r = FSMakePath(folder, name, ref, size);
    }
    struct stat st;
    if (r == FS_OK && lstat(ref, &st) != 0) {
        r = fs_error_from_errno(errno);
    }
    if (r != FS_OK) {
        ref[0] = 0;
    }
    return r;
}

INT_S32 FSPathMakeFSSpec(const char* path, FS_SPEC* spec, INT_U8* is_directory)
{
    if (!path || !spec) {
        return FS_BAD_ARGUMENT;
    }
    INT_S32 r = FSRefMakeFSSpec(path, spec->parent, sizeof(spec->parent), spec->name, sizeof(spec->name));
    if (r == FS_OK && is_directory && FSGetNodeID(path, nullptr, nullptr, is_directory) != FS_OK) {
        *is_directory = 0; // a dangling link leads to no folder
    }
    return r;
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
        return fs_error_from_errno(errno);
    }
    target[n] = 0;
    if (target[0] != '/') {
        return FS_BAD_ARGUMENT; // "pipe:[...]", "socket:[...]"
    }
    return copy_out(target, path, size);
}

INT_S32 FSSetDefault(const char* folder, char* old_folder, std::size_t size)
{
    if (!folder || !old_folder || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    if (!getcwd(old_folder, size)) {
        int e = errno;
        old_folder[0] = 0;
        return e == ERANGE ? FS_BAD_NAME : fs_error_from_errno(e);
    }
    if (chdir(folder) != 0) {
        return fs_error_from_errno(errno);
    }
    return FS_OK;
}

INT_S32 FSRestoreDefault(const char* old_folder)
{
    if (!old_folder || !old_folder[0]) {
        return FS_BAD_ARGUMENT;
    }
    if (chdir(old_folder) != 0) {
        return fs_error_from_errno(errno);
    }
    return FS_OK;
}
