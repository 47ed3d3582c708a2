#ifndef KIVO_TEST_CHILD_PROCESS_H
#define KIVO_TEST_CHILD_PROCESS_H

// Runs part of a test in a forked child process: a file-size limit (a disk
// that fills) or a second program writing the same file at the same time.
#include <csignal>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace kivo_test {

// Starts `body` in a forked child; with size_limit >= 0 no file of the
// child can grow past that many bytes (RLIMIT_FSIZE, with SIGXFSZ ignored,
// so such a write just fails as on a full disk). The child ends with what
// body returns (0..255). -1 when the fork failed.
template <typename F> pid_t start_child(F body, long size_limit = -1)
{
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(size_limit);
    if (size_limit >= 0 && (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || setrlimit(RLIMIT_FSIZE, &limit) != 0)) {
        _exit(255);
    }
    _exit(body());
}

// The exit code of a child of start_child, -1 when it did not exit.
inline int wait_child(pid_t pid)
{
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

template <typename F> int run_in_child(F body, long size_limit = -1)
{
    return wait_child(start_child(body, size_limit));
}

// Runs `body` in a child of its own mount namespace, with a file system of
// `type` mounted on `folder` (flags and options as mount(2) takes them).
// The child ends with 77 where that cannot be had (no privilege), else
// with what body returns.
template <typename F>
int run_on_own_mount(const std::string& folder, const char* type, unsigned long flags, const char* options, F body)
{
    return run_in_child([&] {
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("kivo", folder.c_str(), type, flags, options) != 0) {
            return 77;
        }
        return body();
    });
}

} // namespace kivo_test

#endif
