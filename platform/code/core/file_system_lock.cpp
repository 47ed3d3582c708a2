// The lock that saves, copies, hidden lists and Finder setters take on a
// file or folder. It lives apart from the object, as a lock file named by
// the object's device and inode in a folder only this user can open, so
// only this user's processes (and their threads) take part: nobody else
// can hold it, and it needs no right to read what it locks.
#include "file_system_shared.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs_shared {

namespace {

constexpr char runtime_lock_folder[] = "kivo-locks";
constexpr char temporary_lock_folder[] = "kivo-locks-";

// A folder of ours that nobody else may enter: a link, another owner or
// any right for group or others disqualifies it.
bool is_private_folder(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

int open_private(int at, const char* name, bool make)
{
    if (make && mkdirat(at, name, 0700) == 0) {
        fchmodat(at, name, 0700, 0); // whatever the umask took away
    } else if (make && errno != EEXIST) {
        return -1;
    }
    int fd = openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (!is_private_folder(fd) || fstat(fd, &st) != 0 || (st.st_mode & 0700) != 0700)) {
        close(fd);
        fd = -1;
    }
    return fd;
}

// The lock files' folder: "kivo-locks" in the runtime folder the system
// made for this user, else "kivo-locks-<uid>" of our own under the
// temporary folder; -1 where neither can be had.
int find_lock_folder(const char* runtime, const char* temporary)
{
    if (runtime && runtime[0] == '/') {
        int base = open(runtime, O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (base >= 0) {
            int fd = is_private_folder(base) ? open_private(base, runtime_lock_folder, true) : -1;
            close(base);
            if (fd >= 0) {
                return fd;
            }
        }
    }
    int base = open(temporary && temporary[0] == '/' ? temporary : "/tmp", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base < 0) {
        return -1;
    }
    const std::string name = temporary_lock_folder + std::to_string(geteuid());
    int fd = open_private(base, name.c_str(), true);
    close(base);
    return fd;
}

std::string lock_file_name(dev_t dev, ino_t ino)
{
    char name[48];
    std::snprintf(name, sizeof name, "%llx-%llx.lock", static_cast<unsigned long long>(dev),
                  static_cast<unsigned long long>(ino));
    return name;
}

bool is_lock_file_name(const char* name)
{
    const std::size_t n = std::strlen(name);
    return n > 5 && !std::strcmp(name + n - 5, ".lock") && std::strspn(name, "0123456789abcdef-") == n - 5;
}

// True once the lock file `name` is locked through `fd` and is still the
// file the name leads to: a holder deletes its file before letting go, so
// a lock taken on a deleted file locks nothing and is taken again.
bool locked_current(int folder, const char* name, int fd)
{
    struct stat held, named;
    return fstat(fd, &held) == 0 && fstatat(folder, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Lock files of holders that were killed: deleted where nobody holds them.
void sweep(int folder)
{
    const int list = openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (list < 0) {
        return;
    }
    std::vector<std::string> names;
    for_each_name(list, [&](const char* n) {
        if (is_lock_file_name(n)) {
            names.emplace_back(n);
        }
        return names.size() < 100000;
    });
    close(list);
    for (const std::string& n : names) {
        int fd = openat(folder, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 && locked_current(folder, n.c_str(), fd)) {
            unlinkat(folder, n.c_str(), 0);
        }
        close(fd);
    }
}

// The folder for the current environment, opened once and swept once
// while the environment names the same folders. A duplicate, for the
// caller to close.
int lock_folder()
{
    static std::mutex guard;
    static std::string known_key;
    static int known = -1;
    static bool looked = false;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const char* temporary = std::getenv("TMPDIR");
    // A child that changed its user inherits the folder of another.
    const std::string key =
        std::to_string(geteuid()) + '\n' + (runtime ? runtime : "") + '\n' + (temporary ? temporary : "");
    std::lock_guard<std::mutex> hold(guard);
    struct stat st;
    const bool gone = known >= 0 && (fstat(known, &st) != 0 || st.st_nlink == 0);
    if (!looked || key != known_key || gone) {
        if (known >= 0) {
            close(known);
        }
        known = find_lock_folder(runtime, temporary);
        known_key = key;
        looked = true;
        if (known >= 0) {
            sweep(known);
        }
    }
    return known >= 0 ? fcntl(known, F_DUPFD_CLOEXEC, 0) : -1;
}

// Holds of this thread, each taken once whatever the count: a second hold
// of the same object in this thread is the first one again.
struct THREAD_HOLD
{
    dev_t dev;
    ino_t ino;
    int folder; // -1: held in the process table alone
    int fd;
    int count;
};
thread_local std::vector<THREAD_HOLD> thread_holds;

// Where no private folder can be had, the lock still serialises this
// process's threads, and no more.
std::mutex process_guard;
std::condition_variable process_changed;
std::map<std::pair<dev_t, ino_t>, std::thread::id> process_holds;

bool take_in_process(dev_t dev, ino_t ino)
{
    std::unique_lock<std::mutex> hold(process_guard);
    const auto key = std::make_pair(dev, ino);
    if (!process_changed.wait_for(hold, std::chrono::milliseconds(folder_lock_wait_ms),
                                  [&] { return !process_holds.count(key); })) {
        errno = EWOULDBLOCK;
        return false;
    }
    process_holds[key] = std::this_thread::get_id();
    return true;
}

void let_go_in_process(dev_t dev, ino_t ino)
{
    {
        std::lock_guard<std::mutex> hold(process_guard);
        process_holds.erase(std::make_pair(dev, ino));
    }
    process_changed.notify_all();
}

// Takes the lock file of (dev, ino) in `folder`; its descriptor, or -1
// with errno set (EWOULDBLOCK when the wait ran out). Waited for without
// blocking in the lock, so that a holder that never lets go (a stopped
// process) costs a bounded wait, not a hang: woken when a lock file of the
// folder is closed or deleted, as its holder lets go, and every 10 ms
// all the same (for a release between our try and our watch).
int take_lock_file(int folder, dev_t dev, ino_t ino)
{
    const std::string name = lock_file_name(dev, ino);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(folder_lock_wait_ms);
    int fd = -1, watch = -1;
    bool watch_tried = false;
    while (true) {
        if (fd < 0) {
            fd = openat(folder, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
            if (fd < 0) {
                break;
            }
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (locked_current(folder, name.c_str(), fd)) {
                if (watch >= 0) {
                    close(watch);
                }
                return fd;
            }
            // Deleted by the holder that let go: open it anew at once.
            close(fd);
            fd = -1;
            continue;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            errno = EWOULDBLOCK;
            break;
        }
        if (!watch_tried) {
            watch_tried = true;
            watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
            const std::string at = "/proc/self/fd/" + std::to_string(folder);
            if (watch >= 0 && inotify_add_watch(watch, at.c_str(), IN_CLOSE | IN_DELETE | IN_ONLYDIR) < 0) {
                close(watch);
                watch = -1;
            }
            continue;
        }
        struct pollfd p = {watch, POLLIN, 0};
        poll(watch >= 0 ? &p : nullptr, watch >= 0 ? 1 : 0, static_cast<int>(std::min<long long>(left.count(), 10)));
        char events[4096];
        while (watch >= 0 && read(watch, events, sizeof events) > 0) {
        }
    }
    const int e = errno;
    for (int f : {fd, watch}) {
        if (f >= 0) {
            close(f);
        }
    }
    errno = e;
    return -1;
}

} // namespace

bool OBJECT_HOLD::take(int fd)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        release();
        return false;
    }
    return take(st.st_dev, st.st_ino);
}

bool OBJECT_HOLD::take(dev_t dev, ino_t ino)
{
    release();
    for (THREAD_HOLD& h : thread_holds) {
        if (h.dev == dev && h.ino == ino) {
            ++h.count;
            dev_ = dev;
            ino_ = ino;
            held_ = true;
            return true;
        }
    }
    THREAD_HOLD h{dev, ino, lock_folder(), -1, 1};
    if (h.folder >= 0) {
        h.fd = take_lock_file(h.folder, dev, ino);
        if (h.fd < 0) {
            const int e = errno;
            close(h.folder);
            errno = e;
            return false;
        }
    } else if (!take_in_process(dev, ino)) {
        return false;
    }
    thread_holds.push_back(h);
    dev_ = dev;
    ino_ = ino;
    held_ = true;
    return true;
}

void OBJECT_HOLD::release()
{
    if (!held_) {
        return;
    }
    held_ = false;
    const int e = errno;
    for (std::size_t i = 0; i < thread_holds.size(); ++i) {
        THREAD_HOLD& h = thread_holds[i];
        if (h.dev != dev_ || h.ino != ino_ || --h.count > 0) {
            continue;
        }
        if (h.folder >= 0) {
            // Deleted while still held, so that lock files come and go
            // with their holds.
            unlinkat(h.folder, lock_file_name(h.dev, h.ino).c_str(), 0);
            close(h.fd);
            close(h.folder);
        } else {
            let_go_in_process(h.dev, h.ino);
        }
        thread_holds.erase(thread_holds.begin() + static_cast<long>(i));
        break;
    }
    errno = e;
}

bool FOLDER_HOLD::take(int at)
{
    release();
    dir_ = openat(at, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return hold();
}

bool FOLDER_HOLD::take(const char* folder)
{
    release();
    dir_ = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return hold();
}

bool FOLDER_HOLD::hold()
{
    if (dir_ < 0 || !lock_.take(dir_)) {
        const int e = errno;
        release();
        errno = e;
        return false;
    }
    // Listed only where it may be read; a drop box is held all the same.
    fd_ = openat(dir_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return true;
}

void FOLDER_HOLD::release()
{
    lock_.release();
    for (int* fd : {&fd_, &dir_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

} // namespace fs_shared
