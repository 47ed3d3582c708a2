#ifndef KIVO_TEST_CHILD_PROCESS_H
#define KIVO_TEST_CHILD_PROCESS_H

// Runs part of a test in a forked child process: a file-size limit (a disk
// that fills) or a second program writing the same file at the same time.
#include <csignal>
#include <fcntl.h>
#include <linux/loop.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
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

// Makes `image` (a new file) a small ext4 file system with mkfs.ext4:
// 8 MiB, 4 KiB blocks, 256-byte inodes and no journal, a file's extended
// attributes sharing its inode's spare room and one block, as ext4's are
// by default. False where mkfs.ext4 is missing or fails.
inline bool make_ext4_image(const std::string& image)
{
    const int fd = ::open(image.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    const bool sized = fd >= 0 && ftruncate(fd, 8 << 20) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return sized &&
           run_in_child([&] {
               const char* args[] = {
                   "mkfs.ext4",   "-q",   "-F", "-b", "4096", "-I", "256", "-m", "0", "-O", "^has_journal,^ea_inode",
                   image.c_str(), nullptr};
               const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
               if (null >= 0) {
                   dup2(null, 1);
               }
               for (const char* at : {"/usr/sbin/mkfs.ext4", "/sbin/mkfs.ext4"}) {
                   execv(at, const_cast<char* const*>(args));
               }
               return 127;
           }) == 0;
}

// Attaches `image` to a free loop device, which lets it go again once
// nothing holds the device (unmounted and `loop` closed): the device's
// path, or "" where none can be had.
inline std::string attach_loop(const std::string& image, int& loop)
{
    const int control = ::open("/dev/loop-control", O_RDWR | O_CLOEXEC);
    const int file = ::open(image.c_str(), O_RDWR | O_CLOEXEC);
    std::string device;
    loop = -1;
    // Another process may take the free device first.
    for (int tries = 0; control >= 0 && file >= 0 && device.empty() && tries < 50; ++tries) {
        const int n = ioctl(control, LOOP_CTL_GET_FREE);
        if (n < 0) {
            break;
        }
        const std::string at = "/dev/loop" + std::to_string(n);
        loop = ::open(at.c_str(), O_RDWR | O_CLOEXEC);
        struct loop_config config = {};
        config.fd = static_cast<__u32>(file);
        config.info.lo_flags = LO_FLAGS_AUTOCLEAR;
        if (loop >= 0 && ioctl(loop, LOOP_CONFIGURE, &config) == 0) {
            device = at;
        } else if (loop >= 0) {
            ::close(loop);
            loop = -1;
        }
    }
    for (int fd : {control, file}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return device;
}

// Runs `body` in a child of its own mount namespace with a new ext4 file
// system, made in `image`, mounted on `folder`: it goes with the child,
// however the child ends. 77 where that cannot be had (no mkfs.ext4, no
// loop device, no privilege), else what body returns.
template <typename F> int run_on_own_ext4(const std::string& image, const std::string& folder, F body)
{
    if (!make_ext4_image(image)) {
        return 77;
    }
    return run_in_child([&] {
        int loop = -1;
        std::string device;
        if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            (device = attach_loop(image, loop)).empty() ||
            mount(device.c_str(), folder.c_str(), "ext4", 0, nullptr) != 0) {
            return 77;
        }
        ::close(loop);
        return body();
    });
}

} // namespace kivo_test

#endif
