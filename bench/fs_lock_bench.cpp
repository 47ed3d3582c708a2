// The file-system lock against the primitive it replaced, a bare flock of
// the object itself: a hold alone (take and let go of one file's lock),
// and a Finder setter (a creator and type changed, the value read and
// written whole) against the same read and write of the value under a
// flock of the file. Each alone, and beside three child processes doing
// the same to the same file as fast as they can (ours beside ours, the
// reference beside the reference): the time of one call of this process.
#include "bench_ratio.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

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

} // namespace

int main(int argc, char** argv)
{
    files();
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"hold, alone", "BM_HoldOurs/real_time", "BM_HoldFlock/real_time"},
            {"Finder setter, alone", "BM_SetterOurs/real_time", "BM_SetterFlock/real_time"},
            {"hold, beside 3 processes", "BM_HoldOursContended/real_time", "BM_HoldFlockContended/real_time"},
            {"Finder setter, beside 3 processes", "BM_SetterOursContended/real_time",
             "BM_SetterFlockContended/real_time"},
        });
}
