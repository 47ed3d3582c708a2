#ifndef KIVO_TEST_PEAK_MEMORY_H
#define KIVO_TEST_PEAK_MEMORY_H

// How far a piece of code raises a process's resident memory: the code
// runs in a forked child, whose peak is first set to what it holds, and
// the answer is the peak it reaches above that, in kB. -1 when the system
// cannot tell (no /proc, or a peak that cannot be reset).
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace kivo_test {

// A "Vm...:" line of /proc/self/status, in kB; -1 when absent.
inline long process_status_kb(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(key), key) == 0) {
            return std::atol(line.c_str() + std::strlen(key));
        }
    }
    return -1;
}

template <typename F> long peak_memory_growth_kb(F body)
{
    int fds[2];
    if (pipe(fds) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        long growth = -1;
        std::ofstream reset("/proc/self/clear_refs");
        reset << "5" << std::flush; // the peak becomes what is held now
        long before = process_status_kb("VmRSS:");
        if (reset && before >= 0) {
            body();
            long peak = process_status_kb("VmHWM:");
            growth = peak >= 0 ? peak - before : -1;
        }
        ssize_t sent = write(fds[1], &growth, sizeof growth);
        _exit(sent == static_cast<ssize_t>(sizeof growth) ? 0 : 1);
    }
    close(fds[1]);
    long growth = -1;
    if (pid < 0 || read(fds[0], &growth, sizeof growth) != static_cast<ssize_t>(sizeof growth)) {
        growth = -1;
    }
    close(fds[0]);
    int status = 0;
    if (pid > 0) {
        waitpid(pid, &status, 0);
    }
    return growth;
}

} // namespace kivo_test

#endif
