// The file-system lock against the primitive it replaced, a bare flock of
// the object itself: a hold alone (take and let go of one file's lock),
// and a Finder setter (a creator and type changed, the value read and
// written whole) against the same read and write of the value under a
// flock of the file. Each alone, and beside three child processes doing
// the same to the same file as fast as they can (ours beside ours, the
// reference beside the reference): the time of one call of this process.
// Then the contended Finder change as it was measured against the library
// before it had a lock of its own: three processes set and clear one
// Finder flag of one file in hot loops while this one changes it every
// 100 ms. The reference takes the lock as that library did, a flock of the
// file's folder tried again after pauses from 100 us doubling to 5 ms,
// and the system calls it made for the change (the path looked at, the
// value's size asked, the value read, changed and written whole). Its figures are the time per change of the
// three (the inverse of their rate, so its ratio is the reference's rate
// over ours) and the wait of the call every 100 ms.
#include "bench_ratio.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Files
{
    std::string dir, file;

    Files()
    {
        char pattern[] = "/tmp/kivo_fs_lock_bench_XXXXXX";
        if (!mkdtemp(pattern)) {
            std::fprintf(stderr, "fs_lock_bench: cannot make a temporary folder\n");
            std::exit(1);
        }
        dir = pattern;
        file = dir + "/notes.txt";
        // The quick run (a test) keeps its lock folder to itself.
        if (kivo_bench::quick()) {
            fs_shared::set_lock_bases_for_testing(dir.c_str(), dir.c_str());
        }
        std::FILE* f = std::fopen(file.c_str(), "wb");
        const bool made = f && std::fputs("words", f) >= 0;
        if (!f || std::fclose(f) != 0 || !made || FSChangeCreatorType(file.c_str(), 0x4B49564F, 0x54455854) != FS_OK) {
            std::fprintf(stderr, "fs_lock_bench: cannot make %s with a Finder value\n", file.c_str());
            std::exit(1);
        }
    }
    ~Files()
    {
        const std::string rm = "rm -rf '" + dir + "'";
        if (std::system(rm.c_str()) != 0) {
            std::fprintf(stderr, "fs_lock_bench: %s left behind\n", dir.c_str());
        }
    }
};

Files& files()
{
    static Files f;
    return f;
}

// The old primitive: the object opened and flocked, its value read,
// changed and written whole, the lock let go.
bool reference_setter(const char* path, unsigned round)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    unsigned char value[4096];
    bool done = false;
    if (flock(fd, LOCK_EX) == 0) {
        const ssize_t n = fgetxattr(fd, FS_FINDER_ATTRIBUTE, value, sizeof value);
        if (n > 0) {
            value[n - 1] = static_cast<unsigned char>(round);
            done = fsetxattr(fd, FS_FINDER_ATTRIBUTE, value, static_cast<std::size_t>(n), 0) == 0;
        }
        flock(fd, LOCK_UN);
    }
    close(fd);
    return done;
}

// The earlier library's lock: its folder flocked, tried again after
// pauses from 100 us doubling to 5 ms, for at most a minute.
bool earlier_lock(int folder)
{
    long pause_us = 100, waited_us = 0;
    while (flock(folder, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited_us >= 60000000) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
        waited_us += pause_us;
        pause_us = std::min(pause_us * 2, 5000L);
    }
    return true;
}

// A Finder flag's change as the earlier library made it: the path looked
// at, then under the folder's lock the object looked at, the value's size
// asked and the value read, changed and written whole.
bool earlier_flag_setter(const char* path, unsigned round)
{
    struct stat st;
    if (lstat(path, &st) != 0) {
        return false;
    }
    const int folder = open(files().dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) {
        return false;
    }
    bool done = false;
    unsigned char value[4096];
    if (earlier_lock(folder) && lstat(path, &st) == 0 && lgetxattr(path, FS_FINDER_ATTRIBUTE, nullptr, 0) > 0) {
        const ssize_t n = lgetxattr(path, FS_FINDER_ATTRIBUTE, value, sizeof value);
        if (n > 0) {
            value[n - 1] = static_cast<unsigned char>(round % 2);
            done = lsetxattr(path, FS_FINDER_ATTRIBUTE, value, static_cast<std::size_t>(n), XATTR_REPLACE) == 0;
        }
    }
    close(folder);
    return done;
}

bool our_flag_setter(const char* path, unsigned round)
{
    return (round % 2 ? FSSetIsStationery(path) : FSClearIsStationery(path)) == FS_OK;
}

bool our_setter(const char* path, unsigned round)
{
    return FSChangeCreatorType(path, 0x4B49564F, round % 2 ? 0x54455854 : 0x44415441) == FS_OK;
}

bool reference_hold(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const bool held = fd >= 0 && flock(fd, LOCK_EX) == 0;
    if (fd >= 0) {
        close(fd);
    }
    return held;
}

bool our_hold(const char* path)
{
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    fs_shared::OBJECT_HOLD hold;
    const bool held = fd >= 0 && hold.take(fd);
    hold.release();
    if (fd >= 0) {
        close(fd);
    }
    return held;
}

// The calls the children made, counted where every process sees them.
std::atomic<long>& rival_calls()
{
    static std::atomic<long>* calls = [] {
        void* shared =
            mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (shared == MAP_FAILED) {
            std::fprintf(stderr, "fs_lock_bench: no shared memory\n");
            std::exit(1);
        }
        return new (shared) std::atomic<long>(0);
    }();
    return *calls;
}

// Three children doing `op` to the file until they are stopped.
struct Rivals
{
    std::vector<pid_t> children;
    template <typename F> explicit Rivals(F op)
    {
        for (int i = 0; i < 3; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                for (unsigned round = 0;; ++round) {
                    op(files().file.c_str(), round);
                    rival_calls().fetch_add(1, std::memory_order_relaxed);
                }
            }
            children.push_back(pid);
        }
    }
    ~Rivals()
    {
        for (pid_t pid : children) {
            if (pid > 0) {
                kill(pid, SIGKILL);
                waitpid(pid, nullptr, 0);
            }
        }
    }
};

template <typename F> void run(benchmark::State& state, F op, bool contended)
{
    const char* path = files().file.c_str();
    std::unique_ptr<Rivals> rivals(contended ? new Rivals(op) : nullptr);
    unsigned round = 0;
    for (auto _ : state) {
        if (!op(path, ++round)) {
            state.SkipWithError("the call failed");
            break;
        }
    }
}

// Beside three children changing the file in hot loops, one change by
// this process every 100 ms; each iteration is one such period. Its time
// is, with `per_rival_call`, the period over the calls the children made
// in it, else the wait of this process's call.
template <typename F> void every_100_ms(benchmark::State& state, F op, bool per_rival_call)
{
    const char* path = files().file.c_str();
    Rivals rivals(op);
    std::this_thread::sleep_for(std::chrono::milliseconds(20)); // all of them busy
    unsigned round = 0;
    for (auto _ : state) {
        const auto began = Clock::now();
        const long calls_before = rival_calls().load();
        const bool done = op(path, ++round);
        const auto answered = Clock::now();
        if (!done) {
            state.SkipWithError("the call failed");
            break;
        }
        std::this_thread::sleep_until(began + std::chrono::milliseconds(100));
        const long calls = rival_calls().load() - calls_before;
        const std::chrono::duration<double> period = Clock::now() - began, wait = answered - began;
        state.SetIterationTime(per_rival_call ? period.count() / static_cast<double>(std::max(calls, 1L))
                                              : wait.count());
    }
}

void BM_HotLoopsOurs(benchmark::State& state)
{
    every_100_ms(state, our_flag_setter, true);
}
void BM_HotLoopsEarlier(benchmark::State& state)
{
    every_100_ms(state, earlier_flag_setter, true);
}
void BM_CallerBesideHotLoopsOurs(benchmark::State& state)
{
    every_100_ms(state, our_flag_setter, false);
}
void BM_CallerBesideHotLoopsEarlier(benchmark::State& state)
{
    every_100_ms(state, earlier_flag_setter, false);
}

void BM_HoldOurs(benchmark::State& state)
{
    run(
        state, [](const char* p, unsigned) { return our_hold(p); }, false);
}
void BM_HoldFlock(benchmark::State& state)
{
    run(
        state, [](const char* p, unsigned) { return reference_hold(p); }, false);
}
void BM_SetterOurs(benchmark::State& state)
{
    run(state, our_setter, false);
}
void BM_SetterFlock(benchmark::State& state)
{
    run(state, reference_setter, false);
}
void BM_HoldOursContended(benchmark::State& state)
{
    run(
        state, [](const char* p, unsigned) { return our_hold(p); }, true);
}
void BM_HoldFlockContended(benchmark::State& state)
{
    run(
        state, [](const char* p, unsigned) { return reference_hold(p); }, true);
}
void BM_SetterOursContended(benchmark::State& state)
{
    run(state, our_setter, true);
}
void BM_SetterFlockContended(benchmark::State& state)
{
    run(state, reference_setter, true);
}

BENCHMARK(BM_HoldOurs)->UseRealTime();
BENCHMARK(BM_HoldFlock)->UseRealTime();
BENCHMARK(BM_SetterOurs)->UseRealTime();
BENCHMARK(BM_SetterFlock)->UseRealTime();
BENCHMARK(BM_HoldOursContended)->UseRealTime();
BENCHMARK(BM_HoldFlockContended)->UseRealTime();
BENCHMARK(BM_SetterOursContended)->UseRealTime();
BENCHMARK(BM_SetterFlockContended)->UseRealTime();
// Ten periods of 100 ms a round (one in the quick run).
const int periods = kivo_bench::quick() ? 1 : 10;
BENCHMARK(BM_HotLoopsOurs)->UseManualTime()->Iterations(periods);
BENCHMARK(BM_HotLoopsEarlier)->UseManualTime()->Iterations(periods);
BENCHMARK(BM_CallerBesideHotLoopsOurs)->UseManualTime()->Iterations(periods);
BENCHMARK(BM_CallerBesideHotLoopsEarlier)->UseManualTime()->Iterations(periods);

} // namespace

int main(int argc, char** argv)
{
    files();
    auto named = [](const char* benchmark) {
        return std::string(benchmark) + "/iterations:" + std::to_string(periods) + "/manual_time";
    };
    const std::string loops_ours = named("BM_HotLoopsOurs"), loops_earlier = named("BM_HotLoopsEarlier"),
                      caller_ours = named("BM_CallerBesideHotLoopsOurs"),
                      caller_earlier = named("BM_CallerBesideHotLoopsEarlier");
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"hold, alone", "BM_HoldOurs/real_time", "BM_HoldFlock/real_time"},
            {"Finder setter, alone", "BM_SetterOurs/real_time", "BM_SetterFlock/real_time"},
            {"hold, beside 3 processes", "BM_HoldOursContended/real_time", "BM_HoldFlockContended/real_time"},
            {"Finder setter, beside 3 processes", "BM_SetterOursContended/real_time",
             "BM_SetterFlockContended/real_time"},
            {"Finder flag, 3 hot loops, per change (earlier flock)", loops_ours.c_str(), loops_earlier.c_str()},
            {"Finder flag every 100 ms beside them, wait (earlier flock)", caller_ours.c_str(), caller_earlier.c_str()},
        });
}
