// Metadata values holding Finder information, read from extended
// attributes other programs write: the reader never reaches outside the
// value, and an edit of a valid one changes the Finder entry's masked bits
// and keeps every other byte. The input is 32 bytes to put in, a 32-byte
// mask, then the value.
#include "file_system_catalog_internal.h"

#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    const std::size_t n = FS_FINDER_INFO_BYTES;
    if (size < 2 * n) {
        return 0;
    }
    const INT_U8* bytes = data;
    const INT_U8* mask = data + n;
    // A block of exactly the value's size, so that a read past it is caught.
    const std::vector<INT_U8> value(data + 2 * n, data + size);
    std::size_t at = 0;
    const bool valid = fs_find_finder_entry(value.data(), value.size(), at);
    if (valid && at != FS_NO_FINDER_ENTRY) {
        const std::size_t table_end = 26 + 12 * (static_cast<std::size_t>(value[24]) << 8 | value[25]);
        if (at < table_end || at > value.size() || value.size() - at < n) {
            std::abort();
        }
    }
    std::vector<INT_U8> edited = value;
    if (fs_edit_finder_value(edited, bytes, mask) != (valid && at != FS_NO_FINDER_ENTRY)) {
        std::abort();
    }
    if (!valid || at == FS_NO_FINDER_ENTRY) {
        if (edited != value) {
            std::abort(); // refused, and untouched
        }
        return 0;
    }
    for (std::size_t i = 0; i < value.size(); ++i) {
        const bool inside = i >= at && i < at + n;
        const INT_U8 want =
            inside ? static_cast<INT_U8>((value[i] & ~mask[i - at]) | (bytes[i - at] & mask[i - at])) : value[i];
        if (edited[i] != want) {
            std::abort();
        }
    }
    std::size_t again = 0;
    if (!fs_find_finder_entry(edited.data(), edited.size(), again) || again != at) {
        std::abort();
    }
    // What we make from the same bytes is valid and holds them.
    const std::vector<INT_U8> made = fs_make_finder_value(bytes, FS_FINDER_DATES());
    if (!fs_find_finder_entry(made.data(), made.size(), again) || again != FS_FINDER_VALUE_INFO_AT ||
        std::memcmp(made.data() + again, bytes, n) != 0) {
        std::abort();
    }
    return 0;
}
