#ifndef KIVO_FUZZ_SUPPORT_H
#define KIVO_FUZZ_SUPPORT_H

// What the file-based fuzz targets share: a quiet host table whose program
// exit is either an expected outcome (thrown back to the target) or a
// finding (a trap), and a private folder for the bytes under test.
#include "kivo_host.h"

#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kivo_fuzz {

// Thrown by the quiet host's exit when the target allows the program to end.
struct ProgramEnded
{
    int status;
};

inline bool& exit_allowed()
{
    static bool allowed = false;
    return allowed;
}

inline void quiet_console(const char*) {}
inline void quiet_popup(const char*, const char*) {}
inline void checked_exit(const char*, int status)
{
    if (!exit_allowed()) {
        __builtin_trap(); // a fatal error on outside bytes is a finding
    }
    throw ProgramEnded{status};
}

// Installs the quiet host once; exits throw only when `allow_exit`.
inline void install_quiet_host(bool allow_exit)
{
    static KIVO_HOST_TABLE table = {};
    table.write_to_console = quiet_console;
    table.display_popup_dialog = quiet_popup;
    table.exit_app = checked_exit;
    kivo_set_host(&table);
    exit_allowed() = allow_exit;
}

inline int remove_entry(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

// A private folder for this process, removed at exit. The name is never
// destroyed: the removal runs after the static objects made before it are
// gone, and would read a freed string.
inline const std::string& scratch_dir()
{
    static const std::string* dir = [] {
        // Memory-backed when there is such a folder: targets write a file
        // per input.
        const char* tmp = std::getenv("TMPDIR");
        std::string base = tmp && tmp[0] == '/' ? tmp : access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string d = base + "/kivo-fuzz-XXXXXX";
        if (!mkdtemp(&d[0])) {
            std::abort();
        }
        auto* kept = new std::string(d);
        std::atexit([] { nftw(scratch_dir().c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS); });
        return kept;
    }();
    return *dir;
}

inline bool write_scratch(const char* name, const void* data, size_t n)
{
    std::FILE* f = std::fopen((scratch_dir() + "/" + name).c_str(), "wb");
    if (!f) {
        return false;
    }
    bool ok = std::fwrite(data, 1, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

} // namespace kivo_fuzz

#endif
