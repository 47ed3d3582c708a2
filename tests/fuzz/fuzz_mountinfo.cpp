// Lines of the kernel's mount table, which carry mount points that any
// user who can mount (or name a folder) chose.
#include "file_system_catalog_internal.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::size_t at = 0;
    while (at <= text.size()) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            end = text.size();
        }
        FS_MOUNT_ENTRY entry;
        if (fs_parse_mount_line(text.substr(at, end - at), entry) && entry.mount_point[0] != '/') {
            __builtin_trap(); // a mount point is always absolute
        }
        at = end + 1;
    }
    return 0;
}
