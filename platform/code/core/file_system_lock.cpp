// The lock that saves, copies, hidden lists and Finder setters take on a
// file or folder. It lives apart from the object, as a lock file named by
// the object's device and inode in a folder only this user can open, so
// only this user's processes (and their threads) take part: nobody else
// can hold it, and it needs no right to read what it locks. The folder is
// chosen from the user's id and the system alone, the same for every
// process of the user whatever its environment.
#include "file_system_shared.h"

#include <fcntl.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace fs_shared {

namespace {

constexpr char temporary_lock_folder[] = "kivo-locks-"; // and the uid
constexpr char home_lock_folder[] = "kivo-locks";       // and the machine's id
// Unheld lock files a process keeps open, so that taking a lock again is
// one flock: the least recently let go is closed (and its file deleted
// where nobody holds it) beyond this many.
constexpr std::size_t kept_lock_files = 16;
// A lock file this old is made new as it is taken, so that no cleaner of
// old files in /tmp takes it while it is held.
constexpr std::time_t old_lock_file_s = 24 * 60 * 60;

// A folder of ours that nobody else may enter: a link, another owner or
// any right for group or others disqualifies it.
bool is_private(const struct stat& st, uid_t uid = geteuid())
{
    return S_ISDIR(st.st_mode) && st.st_uid == uid && (st.st_mode & 077) == 0 && (st.st_mode & 0700) == 0700;
}

// The private folder `name` of `at`, made (0700) when missing and `make`.
// -1 with `refused` true where the name is not a private folder of ours
// or cannot be made there; false for a failure that may pass (errno).
int open_private(int at, const char* name, bool make, bool& refused)
{
    refused = false;
    if (make && mkdirat(at, name, 0700) == 0) {
        fchmodat(at, name, 0700, 0); // whatever the umask took away
    } else if (make && errno != EEXIST) {
        refused = errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOENT || errno == ENOTDIR ||
                  errno == ELOOP || errno == ENOSPC || errno == EDQUOT;
        return -1;
    }
    const int fd = openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        refused = errno == ELOOP || errno == ENOTDIR || errno == EACCES || (errno == ENOENT && !make);
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !is_private(st)) {
        refused = true;
        close(fd);
        return -1;
    }
    return fd;
}

// The folder the lock files are in, and the path it was found by, looked
// at again at each outermost hold.
struct PLACE
{
    int fd = -1;
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    PLACE(const PLACE&) = delete;
    PLACE& operator=(const PLACE&) = delete;
    PLACE(int folder, std::string at) : fd(folder), path(std::move(at))
    {
        struct stat st;
        if (fstat(fd, &st) == 0) {
            dev = st.st_dev;
            ino = st.st_ino;
        }
    }
    ~PLACE() { close(fd); }
};

// An unheld lock file kept open.
struct KEPT
{
    dev_t dev;
    ino_t ino;
    int fd;
};

// What every thread of the process shares, under `guard`. The bases are
// "/tmp" and the user's home from the password database, but for tests.
std::mutex guard;
std::string temporary_base = "/tmp", home_base;
std::shared_ptr<PLACE> chosen;
uid_t chosen_for = 0;
std::vector<KEPT> kept; // the least recently let go first
// Counts the forks: a child shares its parent's open files, and so its
// locks, so it keeps none of the parent's and lets none of them go.
unsigned long process_generation = 0;

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

// True once the lock file locked through `fd` is still in its folder: a
// lock file is deleted only by one who holds it, and never renamed, so a
// lock taken on a deleted file locks nothing and is taken again. What
// fstat tells of it in `held`.
bool locked_current(int fd, struct stat& held)
{
    if (fstat(fd, &held) != 0 || held.st_nlink == 0) {
        return false;
    }
    if (held.st_mtime < std::time(nullptr) - old_lock_file_s) {
        futimens(fd, nullptr);
    }
    return true;
}

bool locked_current(int fd)
{
    struct stat held;
    return locked_current(fd, held);
}

// Closes a lock file this process has let go, deleting it where nobody
// else holds it at that instant.
void drop_lock_file(int folder, const char* name, int fd)
{
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && locked_current(fd)) {
        unlinkat(folder, name, 0);
    }
    close(fd);
}

// Lock files of holders that were killed or ended: deleted where nobody
// holds them.
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
        const int fd = openat(folder, n.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            drop_lock_file(folder, n.c_str(), fd);
        }
    }
}

std::string home_of(uid_t uid)
{
    if (!home_base.empty()) {
        return home_base;
    }
    std::vector<char> strings(16384);
    struct passwd entry, *found = nullptr;
    if (getpwuid_r(uid, &entry, strings.data(), strings.size(), &found) != 0 || !found || !found->pw_dir ||
        found->pw_dir[0] != '/') {
        return "";
    }
    return found->pw_dir;
}

// The system's id of this machine, so that a home shared between machines
// gives each its own lock folder; "" where it has none.
std::string machine_suffix()
{
    std::ifstream in("/etc/machine-id");
    std::string id;
    in >> id;
    if (id.empty() || id.size() > 64 || id.find_first_not_of("0123456789abcdef") != std::string::npos) {
        return "";
    }
    return "-" + id;
}

// Where this user's lock files go, the same for every process of the user
// at any instant: "kivo-locks" in the home's ".cache" once it exists (it
// is made only where the first place cannot be had, and from then on
// serves every process), else "kivo-locks-<uid>" under /tmp, made when
// missing. Null with errno set where neither can be had: ENOLCK where the
// places are refused (another user took the name, the home has none),
// another errno for a failure that may pass, with nothing made then.
std::shared_ptr<PLACE> choose_place()
{
    const uid_t uid = geteuid();
    const std::string home = home_of(uid);
    const std::string cache = home.empty() ? std::string() : home + "/.cache";
    static const std::string home_name = home_lock_folder + machine_suffix();
    bool refused = false;
    if (!home.empty()) {
        struct stat st;
        const std::string at = cache + "/" + home_name;
        if (lstat(at.c_str(), &st) == 0) {
            const int c = open(cache.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
            const int fd = c >= 0 ? open_private(c, home_name.c_str(), false, refused) : -1;
            const int e = errno;
            if (c >= 0) {
                close(c);
            }
            errno = refused || c < 0 ? ENOLCK : e;
            return fd >= 0 ? std::make_shared<PLACE>(fd, at) : nullptr;
        }
        if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
            return nullptr;
        }
    }
    const std::string name = temporary_lock_folder + std::to_string(uid);
    const int base = open(temporary_base.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (base >= 0) {
        const int fd = open_private(base, name.c_str(), true, refused);
        const int e = errno;
        close(base);
        if (fd >= 0) {
            return std::make_shared<PLACE>(fd, temporary_base + "/" + name);
        }
        if (!refused) {
            errno = e;
            return nullptr;
        }
    } else if (errno != ENOENT && errno != ENOTDIR && errno != EACCES) {
        return nullptr;
    }
    // Somebody else's, or none to be had: the home's, made now.
    int h = home.empty() ? -1 : open(home.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (h >= 0 && mkdirat(h, ".cache", 0700) != 0 && errno != EEXIST) {
        close(h);
        h = -1;
    }
    const int c = h >= 0 ? openat(h, ".cache", O_PATH | O_DIRECTORY | O_CLOEXEC) : -1;
    const int fd = c >= 0 ? open_private(c, home_name.c_str(), true, refused) : -1;
    for (int f : {h, c}) {
        if (f >= 0) {
            close(f);
        }
    }
    if (fd < 0) {
        errno = ENOLCK;
        return nullptr;
    }
    return std::make_shared<PLACE>(fd, cache + "/" + home_name);
}

// The kept lock files, taken out for the caller to close; it has `guard`.
std::vector<KEPT> take_kept()
{
    std::vector<KEPT> all;
    all.swap(kept);
    return all;
}

void at_fork_prepare()
{
    guard.lock();
}

void at_fork_parent()
{
    guard.unlock();
}

void at_fork_child()
{
    ++process_generation;
    for (const KEPT& k : kept) {
        close(k.fd);
    }
    kept.clear();
    guard.unlock();
}

// The place for a thread's outermost hold: the one chosen before while its
// path still leads to it, a private folder of this user; else chosen
// again (and what killed holders left there swept), the kept lock files
// of the old one let go. With `dev`, a kept lock file of that object is
// taken out for the caller (`fd`, else -1).
std::shared_ptr<PLACE> current_place(dev_t dev, ino_t ino, int& fd)
{
    static const bool forks_seen = pthread_atfork(at_fork_prepare, at_fork_parent, at_fork_child) == 0;
    (void)forks_seen;
    fd = -1;
    std::vector<KEPT> stale;
    std::shared_ptr<PLACE> place;
    {
        const uid_t uid = geteuid();
        std::lock_guard<std::mutex> hold(guard);
        struct stat st;
        if (!chosen || chosen_for != uid || lstat(chosen->path.c_str(), &st) != 0 || st.st_dev != chosen->dev ||
            st.st_ino != chosen->ino || !is_private(st, uid)) {
            stale = take_kept();
            chosen = choose_place();
            chosen_for = uid;
            if (chosen) {
                sweep(chosen->fd);
            }
        }
        place = chosen;
        for (std::size_t i = kept.size(); place && i-- > 0;) {
            if (kept[i].dev == dev && kept[i].ino == ino) {
                fd = kept[i].fd;
                kept.erase(kept.begin() + static_cast<long>(i));
                break;
            }
        }
    }
    const int e = errno;
    for (const KEPT& k : stale) {
        close(k.fd);
    }
    errno = e;
    return place;
}

// An inner hold's kept lock file of (dev, ino) in `place`, or -1.
int kept_lock_file(const PLACE& place, dev_t dev, ino_t ino)
{
    std::lock_guard<std::mutex> hold(guard);
    if (chosen.get() != &place) {
        return -1;
    }
    for (std::size_t i = kept.size(); i-- > 0;) {
        if (kept[i].dev == dev && kept[i].ino == ino) {
            const int fd = kept[i].fd;
            kept.erase(kept.begin() + static_cast<long>(i));
            return fd;
        }
    }
    return -1;
}

// Lets go of a lock file and keeps it open while its place is still the
// chosen one; the one let go longest ago goes beyond kept_lock_files.
void keep_lock_file(const std::shared_ptr<PLACE>& place, dev_t dev, ino_t ino, int fd, unsigned long generation)
{
    if (generation != process_generation) {
        close(fd); // the parent's hold, shared by the fork: not ours to end
        return;
    }
    flock(fd, LOCK_UN);
    KEPT dropped = {dev, ino, fd};
    {
        std::lock_guard<std::mutex> hold(guard);
        if (chosen == place) {
            kept.push_back(dropped);
            dropped.fd = -1;
            if (kept.size() > kept_lock_files) {
                dropped = kept.front();
                kept.erase(kept.begin());
            }
        }
    }
    if (dropped.fd >= 0) {
        drop_lock_file(place->fd, lock_file_name(dropped.dev, dropped.ino).c_str(), dropped.fd);
    }
}

// Holds of this thread, each taken once whatever the count: a second hold
// of the same object in this thread is the first one again.
struct THREAD_HOLD
{
    dev_t dev;
    ino_t ino;
    std::shared_ptr<PLACE> place; // null: held in the process table alone
    int fd;
    int count;
    unsigned long generation;
};
thread_local std::vector<THREAD_HOLD> thread_holds;

// Where no private folder can be had, the lock of a save or copy still
// serialises this process's threads, and no more.
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

// A waiter that has waited this long says so, and whoever takes the lock
// while one says so, not having waited that long itself, lets go and gives
// way: polling alone would let busy holders that take the lock again
// within microseconds starve a waiter. The sign is a read lock on the lock
// file's first byte through the waiter's own open file, which flock does
// not see: the waiter drops it as it takes the lock, and it goes with the
// waiter's file when that ends, so nothing but a waiter starving now gives
// it (no time of the file, which making or refreshing it sets too).
constexpr auto starving_after = std::chrono::milliseconds(20);
// The pauses between tries: from the shortest to the longest, doubled at
// each try; a taker that gave way pauses the longest.
constexpr long first_pause_us = 50, longest_pause_us = 250;

bool lock_first_byte(int fd, short type, int command)
{
    struct flock byte = {};
    byte.l_type = type;
    byte.l_whence = SEEK_SET;
    byte.l_start = 0;
    byte.l_len = 1;
    if (fcntl(fd, command, &byte) != 0) {
        return false;
    }
    return command != F_OFD_GETLK || byte.l_type != F_UNLCK;
}

// False where it cannot be said now (a file system that emulates flock
// with byte-range locks refuses it while the lock is held): said again at
// the next try.
bool say_starving(int fd)
{
    return lock_first_byte(fd, F_RDLCK, F_OFD_SETLK);
}

void stop_saying_starving(int fd)
{
    lock_first_byte(fd, F_UNLCK, F_OFD_SETLK);
}

// True while a waiter through another open file says it starves.
bool another_starving(int fd)
{
    return lock_first_byte(fd, F_WRLCK, F_OFD_GETLK);
}

// Takes the lock file of (dev, ino) in `folder`, through `fd` when one
// was kept open; its descriptor, or -1 with errno set (EWOULDBLOCK when
// the deadline passed, ENOENT when the folder is gone). Waited for without
// blocking in the lock, so that a holder that never lets go (a stopped
// process) costs a bounded wait, not a hang: tried again after a pause
// that grows from 50 us to 250 us, and given way to as above once waited
// for long.
int take_lock_file(int folder, dev_t dev, ino_t ino, int fd, std::chrono::steady_clock::time_point deadline)
{
    std::string name; // made only when the file is to be opened
    const auto began = std::chrono::steady_clock::now();
    long pause_us = first_pause_us;
    bool starving = false, said = false;
    while (true) {
        if (fd < 0) {
            if (name.empty()) {
                name = lock_file_name(dev, ino);
            }
            fd = openat(folder, name.c_str(), O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
            if (fd < 0) {
                break;
            }
            said = false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (!locked_current(fd)) {
                // Deleted by one who held it: open it anew at once.
                if (said) {
                    stop_saying_starving(fd);
                }
                close(fd);
                fd = -1;
                continue;
            }
            if (starving || !another_starving(fd)) {
                if (said) {
                    stop_saying_starving(fd);
                }
                return fd;
            }
            flock(fd, LOCK_UN);
            pause_us = longest_pause_us; // the starving waiter's turn
        } else if (errno != EWOULDBLOCK && errno != EINTR) {
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) {
            errno = EWOULDBLOCK;
            break;
        }
        starving = starving || now - began >= starving_after;
        if (starving && !said) {
            said = say_starving(fd);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(pause_us));
        pause_us = std::min(pause_us * 2, longest_pause_us);
    }
    const int e = errno;
    if (fd >= 0) {
        if (said) {
            stop_saying_starving(fd);
        }
        close(fd);
    }
    errno = e;
    return -1;
}

} // namespace

bool OBJECT_HOLD::take(int fd, bool all_processes)
{
    struct stat st;
    if (fstat(fd, &st) != 0) {
        release();
        return false;
    }
    return take(st.st_dev, st.st_ino, all_processes);
}

bool OBJECT_HOLD::take(dev_t dev, ino_t ino, bool all_processes)
{
    release();
    for (THREAD_HOLD& h : thread_holds) {
        if (h.dev == dev && h.ino == ino) {
            if (all_processes && !h.place) {
                errno = ENOLCK;
                return false;
            }
            ++h.count;
            dev_ = dev;
            ino_ = ino;
            held_ = true;
            return true;
        }
    }
    // An inner hold goes where the thread's outermost one went.
    int kept_fd = -1;
    errno = ENOLCK;
    std::shared_ptr<PLACE> place = thread_holds.empty() ? current_place(dev, ino, kept_fd) : thread_holds.front().place;
    if (place && !thread_holds.empty()) {
        kept_fd = kept_lock_file(*place, dev, ino);
    }
    THREAD_HOLD h{dev, ino, nullptr, -1, 1, process_generation};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(folder_lock_wait_ms);
    while (place) {
        h.fd = take_lock_file(place->fd, dev, ino, kept_fd, deadline);
        if (h.fd >= 0 || errno != ENOENT) {
            break;
        }
        // The folder is gone (a cleaner of /tmp took it, say): chosen and
        // made again, with the checks of an outermost hold.
        std::shared_ptr<PLACE> again = current_place(dev, ino, kept_fd);
        const bool late = std::chrono::steady_clock::now() >= deadline;
        if (again && (again == place || late)) {
            if (kept_fd >= 0) {
                close(kept_fd);
            }
            // Still there by its path, or removed again and again all along.
            errno = late ? EWOULDBLOCK : ENOENT;
            return false;
        }
        place = std::move(again);
    }
    if (place) {
        if (h.fd < 0) {
            return false;
        }
        h.place = place;
    } else if (all_processes) {
        return false; // errno from the choice of the place
    } else if (!take_in_process(dev, ino)) {
        return false;
    }
    thread_holds.push_back(std::move(h));
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
        if (h.place) {
            keep_lock_file(h.place, h.dev, h.ino, h.fd, h.generation);
        } else {
            let_go_in_process(h.dev, h.ino);
        }
        thread_holds.erase(thread_holds.begin() + static_cast<long>(i));
        break;
    }
    errno = e;
}

bool FOLDER_HOLD::take(int at, bool all_processes)
{
    release();
    dir_ = openat(at, ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return hold(all_processes);
}

bool FOLDER_HOLD::take(const char* folder, bool all_processes)
{
    release();
    dir_ = open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
    return hold(all_processes);
}

bool FOLDER_HOLD::hold(bool all_processes)
{
    if (dir_ < 0 || !lock_.take(dir_, all_processes)) {
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

void set_lock_bases_for_testing(const char* temporary, const char* home)
{
    std::vector<KEPT> stale;
    {
        std::lock_guard<std::mutex> hold(guard);
        temporary_base = temporary ? temporary : "/tmp";
        home_base = home ? home : "";
        stale = take_kept();
        chosen.reset();
    }
    for (const KEPT& k : stale) {
        close(k.fd);
    }
}

} // namespace fs_shared
