#ifndef KIVO_FILE_SYSTEM_CATALOG_INTERNAL_H
#define KIVO_FILE_SYSTEM_CATALOG_INTERNAL_H

// The pieces of the catalog routines that tests reach on their own: the
// mount-table reader, the exchange that file systems without an atomic
// swap take, the reading of a failed open by file id, and the moment a
// walk goes into a folder.
#include "kivo_types.h"

#include <string>

struct FS_MOUNT_ENTRY
{
    INT_S32 mount_id = 0;
    std::string mount_point; // octal escapes undone
    std::string fs_type;
    std::string source;
};

// One line of /proc/self/mountinfo, without its newline. False for a line
// that is not one (too few fields, no "-" separator, a mount point that is
// not absolute or holds an escaped NUL).
bool fs_parse_mount_line(const std::string& line, FS_MOUNT_ENTRY& entry);

// Exchanges two entries of one volume by renaming the first to a free
// temporary name beside it, the second to the first, and the temporary to
// the second; a failed step undoes the ones before.
INT_S32 fs_exchange_by_renaming(const char* a, const char* b);

// The result for an errno of open_by_handle_at: FS_FILE_ID_NOT_FOUND for
// every answer that means the file is gone (ESTALE, and ENOMEM from ext4
// while its inode is being reused).
INT_S32 fs_file_id_open_error(int err);

// Called, when set, after a walk has told of a folder and before it goes
// into it: tests change the tree at that moment. Null in the program.
extern void (*fs_walk_before_descent)(const char* path);

#endif
