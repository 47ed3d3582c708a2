// The system-information record, filled from uname, sysconf, sysinfo,
// /proc and statvfs.
#include "folder.h"
#include "host_utils.h"
#include "mouse.h"
#include "tcpip.h"

#include <sys/statvfs.h>
#include <sys/sysinfo.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr INT_U8 platform_linux = 17; // the same id as FOLDER's native locations
constexpr INT_U32 unknown_ram_mb = 1024;
constexpr long most_processors = 4096;

// The value after ':' of each line of a /proc file that starts with key,
// in order, into values (at most count of them); returns how many.
int read_proc_values(const char* path, const char* key, double* values, int count)
{
    FILE* f = std::fopen(path, "r");
    if (!f) {
        return 0;
    }
    const std::size_t key_len = std::strlen(key);
    char line[512];
    int found = 0;
    while (found < count && std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, key_len) != 0) {
            continue;
        }
        const char* colon = std::strchr(line + key_len, ':');
        if (colon) {
            values[found++] = std::strtod(colon + 1, nullptr);
        }
    }
    std::fclose(f);
    return found;
}

} // namespace

PLATFORM_CAPS::~PLATFORM_CAPS()
{
    free_arrays();
}

void PLATFORM_CAPS::free_arrays()
{
    delete[] os_version_text;
    delete[] processor_mhz;
    delete[] volume_free_mb;
    os_version_text = nullptr;
    processor_mhz = nullptr;
    volume_free_mb = nullptr;
}

void PLATFORM_CAPS::get_system_info()
{
    free_arrays();
    platform_id = platform_linux;
    os_version = 0;
    os_version_text = new char[50];
    os_version_text[0] = 0;
    utsname names;
    if (uname(&names) == 0) {
        std::snprintf(os_version_text, 50, "%.24s %.24s", names.sysname, names.release);
    }
    flag_1 = 1;
    flag_2 = 0;

    std::memset(host_name, 0, sizeof host_name);
    if (gethostname(host_name, sizeof host_name - 1) != 0) {
        host_name[0] = 0;
    }
    host_name[std::strcspn(host_name, ".")] = 0;

    long cpus = sysconf(_SC_NPROCESSORS_ONLN);
    if (cpus < 1) {
        cpus = 1;
    } else if (cpus > most_processors) {
        cpus = most_processors;
    }
    processor_count = static_cast<INT_S32>(cpus);
    value_1 = 2;
    processor_mhz = new INT_U32[processor_count]();
    double* mhz = new double[processor_count];
    int known = read_proc_values("/proc/cpuinfo", "cpu MHz", mhz, processor_count);
    for (int i = 0; i < known; ++i) {
        processor_mhz[i] = mhz[i] > 0 ? static_cast<INT_U32>(mhz[i]) : 0;
    }
    delete[] mhz;
    flag_3 = 0;

    ram_mb = unknown_ram_mb;
    logical_ram_mb = unknown_ram_mb;
    struct sysinfo memory;
    INT_U64 free_bytes = 0;
    if (sysinfo(&memory) == 0) {
        INT_U64 unit = memory.mem_unit ? memory.mem_unit : 1;
        ram_mb = static_cast<INT_U32>(memory.totalram * unit >> 20);
        logical_ram_mb = static_cast<INT_U32>((memory.totalram + memory.totalswap) * unit >> 20);
        free_bytes = memory.freeram * unit;
    }
    double available_kb = 0;
    if (read_proc_values("/proc/meminfo", "MemAvailable", &available_kb, 1) == 1) {
        free_bytes = static_cast<INT_U64>(available_kb) * 1024u;
    }
    free_memory_mb = static_cast<INT_S32>(free_bytes >> 20);
    logical_ram_mb_2 = logical_ram_mb;
    flag_4 = 1;

    volume_count = FOLDER::get_drive_count();
    volume_free_mb = new INT_U32[volume_count > 0 ? volume_count : 0]();
    for (short i = 0; i < volume_count; ++i) {
        const char* root = FOLDER::get_drive_name(i);
        struct statvfs space;
        if (root && statvfs(root, &space) == 0) {
            volume_free_mb[i] = static_cast<INT_U32>(static_cast<INT_U64>(space.f_bavail) * space.f_frsize >> 20);
        }
    }
    flag_5 = 1;
    flag_6 = 1;

    // A temporary TCPIP works over the transport installed now, so tests
    // with the fake one never ask the network's resolver.
    {
        TCPIP net(1, 1, 1, 2048);
        std::snprintf(network_host_name, sizeof network_host_name, "%s", net.get_host_name());
        std::snprintf(network_address, sizeof network_address, "%s",
                      network_host_name[0] ? net.get_host_addr(network_host_name) : "");
    }

    has_keyboard = 1;
    flag_7 = 1;
    mouse_buttons = static_cast<INT_U16>(MOUSE::number_of_buttons > 0 ? MOUSE::number_of_buttons : 0);
    std::memset(reserved, 0, sizeof reserved);
}
