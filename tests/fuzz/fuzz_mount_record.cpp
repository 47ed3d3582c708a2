// Volume mount records, which callers may keep and hand back changed: a
// record read is one that makes the same record again.
#include "file_system_catalog_internal.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    FS_MOUNT_RECORD record;
    if (!fs_parse_mount_record(data, size, record)) {
        return 0;
    }
    if (record.mount_point[0] != '/' || record.fs_type.empty()) {
        std::abort();
    }
    FS_MOUNT_ENTRY entry;
    entry.source = record.source;
    entry.fs_type = record.fs_type;
    entry.super_options = record.options;
    entry.mount_point = record.mount_point;
    for (const char* name :
         {"ro", "nosuid", "nodev", "noexec", "noatime", "nodiratime", "relatime", "strictatime", "nosymfollow"}) {
        if (fs_mount_flags(name) & record.flags) {
            entry.mount_options += std::string(entry.mount_options.empty() ? "" : ",") + name;
        }
    }
    INT_U16 length;
    std::memcpy(&length, data, 2);
    const std::string again = fs_make_mount_record(entry);
    if (again.size() != length || std::memcmp(again.data(), data, length) != 0) {
        std::abort();
    }
    return 0;
}
