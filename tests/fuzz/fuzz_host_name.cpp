// Names read from the disk into the system's 8-bit form and back: any
// bytes come back exactly, whatever they hold.
#include "file_system.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    std::string host(reinterpret_cast<const char*>(data), size);
    host = host.c_str(); // a name ends at its first NUL
    // Inside, a byte may take 7 (a run of one raw byte).
    std::string inside(7 * host.size() + 1, '\x7F');
    if (!fs_name_from_host(host.c_str(), &inside[0], inside.size())) {
        std::abort();
    }
    std::string back(host.size() + 1, '\x7F');
    if (!fs_name_to_host(inside.c_str(), &back[0], back.size()) || host != back.c_str()) {
        std::abort();
    }
    // Any text made inside converts to the host within a buffer of twice
    // its size, or is refused without writing past it.
    std::string out(2 * host.size() + 1, '\x7F');
    fs_name_to_host(host.c_str(), &out[0], out.size());
    return 0;
}
