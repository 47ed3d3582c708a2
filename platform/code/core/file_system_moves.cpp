// Moves and exchanges: renames that never replace, moves with a new name,
// and the exchange of two files' contents.
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

using namespace fs_shared;

namespace {

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
        return fs_error_from_errno(errno);
    }
    char real[FS_PATH_MAX];
    INT_S32 r = fstat(fd, &out.st) == 0 ? FileRefNumGetFSRef(fd, real, sizeof(real)) : fs_error_from_errno(errno);
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
        return fs_error_from_errno(errno);
    }
    struct stat now;
    if (fstatat(file.folder, file.name.c_str(), &now, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? FS_BAD_ARGUMENT : fs_error_from_errno(errno);
    }
    if (now.st_dev != file.st.st_dev || now.st_ino != file.st.st_ino) {
        return FS_BAD_ARGUMENT;
    }
    return FS_OK;
}

} // namespace

int fs_rename_noreplace(int from_dir, const char* from, int to_dir, const char* to)
{
    if (renameat2(from_dir, from, to_dir, to, RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return -1;
    }
    // The file system lacks the flag: a hard link fails on an existing
    // target for files; folders are checked first.
    struct stat st;
    if (fstatat(from_dir, from, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return -1;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (linkat(from_dir, from, to_dir, to, 0) != 0) {
            return -1;
        }
        return unlinkat(from_dir, from, 0);
    }
    if (fstatat(to_dir, to, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return renameat(from_dir, from, to_dir, to);
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
                return fs_error_from_errno(errno);
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
        return fs_error_from_errno(e);
    }
    if (fs_rename_noreplace(AT_FDCWD, temp, AT_FDCWD, b) != 0) {
        int e = errno;
        fs_rename_noreplace(AT_FDCWD, a, AT_FDCWD, b);
        fs_rename_noreplace(AT_FDCWD, temp, AT_FDCWD, a);
        return fs_error_from_errno(e);
    }
    return FS_OK;
}

INT_S32 FSMoveRenameObjectUnicode(const char* dir, const char* name, const char* dest_dir, const char* new_name)
{
    const char* target = nullptr;
    int from = -1, to = -1;
    INT_S32 opened = open_source_and_dest(dir, name, dest_dir, new_name, FS_NOT_A_DIRECTORY, target, from, to);
    if (opened != FS_OK) {
        return opened;
    }
    INT_S32 result = FS_OK;
    struct stat st;
    if (fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        result = fs_error_from_errno(errno);
    } else if (same_node(from, ".", to, ".") && !std::strcmp(name, target)) {
        result = FS_OK; // already there under that name
    } else if (fs_rename_noreplace(from, name, to, target) != 0) {
        result = fs_error_from_errno(errno);
    }
    close(from);
    close(to);
    return result;
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
        return fs_error_from_errno(errno);
    }
    return fs_exchange_by_renaming(fa.path.c_str(), fb.path.c_str());
}
