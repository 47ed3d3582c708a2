// Whole-file saves: a file written whole goes to a new file beside its
// target and replaces it by a rename only once all of it is on the disk, so
// a full disk, a size limit or a crash leaves the old file as it was.
//
// A save killed part-way leaves its new file behind; the next save of the
// same target removes it. A leftover is known by its temporary mark (see
// fs_mark_temporary), set when the new file is made and taken off just
// before its rename, never by its name alone: a name can take any form, so
// a file the user or the program saved under a name of the same pattern
// carries no mark and stays. Where the file system keeps no extended
// attributes the new files go unmarked: saves work as anywhere else, and
// what killed ones leave there stays for the user to remove.
#include "folder.h"

#include "file_system.h"
#include "file_system_shared.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

// Streams of whole-file saves still open, with their new file and target.
// While a save runs it holds a lock on its new file, through lock_fd, until
// the file is renamed or removed: a later save of the same target removes
// only marked new files whose lock it can take, those a killed save left.
struct WHOLE_FILE
{
    FILE* fp;
    std::string new_path;
    std::string target;
    int lock_fd;
    mode_t bits; // the permission bits the file takes
    bool marked; // carries the temporary mark
};

std::mutex whole_files_lock;

// A write past the file-size limit (RLIMIT_FSIZE) would end the process
// with SIGXFSZ, losing what it holds; ignored, the write fails with EFBIG
// and the save reports it like a full disk. Set at start-up of every
// program that links the folder code (the program and the tests alike),
// unless the program has a handler of its own by then.
struct FILE_SIZE_SIGNAL
{
    FILE_SIZE_SIGNAL()
    {
        struct sigaction now;
        if (sigaction(SIGXFSZ, nullptr, &now) == 0 && now.sa_handler == SIG_DFL && !(now.sa_flags & SA_SIGINFO)) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
    }
};
FILE_SIZE_SIGNAL file_size_signal;

// Never destroyed: debug channels may close their files during exit.
std::vector<WHOLE_FILE>& whole_files()
{
    static std::vector<WHOLE_FILE>* files = new std::vector<WHOLE_FILE>;
    return *files;
}

// Symbolic-link hops followed before a path is taken for a loop.
constexpr int MAX_LINK_HOPS = 40;
// Part of the names of the new files of these saves: files of any other
// name beside the target, whatever they look like, are never touched.
const char SAVE_MARKER[] = ".kivo-save.";

std::string folder_of(const std::string& path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path finally names, symbolic links followed (a relative link
// from its own folder), whether or not that file exists. False for a loop.
bool real_target(const char* path, std::string& out)
{
    std::string at = path;
    for (int hops = 0; hops < MAX_LINK_HOPS; ++hops) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            out = at;
            return true;
        }
        char link[FS_PATH_MAX];
        ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
        if (n < 0) {
            return false;
        }
        link[n] = 0;
        if (link[0] == '/') {
            at = link;
        } else {
            at = (at.find('/') == std::string::npos ? std::string() : folder_of(at) + "/") + link;
        }
    }
    return false;
}

// Read where the system shows it: setting the mask to ask for it would
// change it for a moment for every thread.
mode_t current_umask()
{
    if (FILE* status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        unsigned mask = 0;
        bool found = false;
        while (!found && std::fgets(line, sizeof line, status)) {
            found = std::sscanf(line, "Umask: %o", &mask) == 1;
        }
        std::fclose(status);
        if (found) {
            return static_cast<mode_t>(mask & 0777);
        }
    }
    mode_t mask = umask(0);
    umask(mask);
    return mask;
}

// Removes the new files that saves of the same target left when they were
// killed: names of exactly the saves' pattern (prefix with its marker and
// six characters), plain files of this user that carry the temporary mark,
// whose save's lock is free. The folder is locked exclusively meanwhile
// (see open_whole_file), so a file just made whose lock or mark is not yet
// there is never among them.
void remove_leftovers(int dir, const std::string& prefix)
{
    int list_fd = fcntl(dir, F_DUPFD_CLOEXEC, 0);
    DIR* d = list_fd >= 0 ? fdopendir(list_fd) : nullptr;
    if (!d) {
        if (list_fd >= 0) {
            ::close(list_fd);
        }
        return;
    }
    std::vector<std::string> found;
    while (dirent* e = readdir(d)) {
        if (std::strncmp(e->d_name, prefix.c_str(), prefix.size()) == 0 &&
            fs_is_temporary_suffix(e->d_name + prefix.size())) {
            found.push_back(e->d_name);
        }
    }
    closedir(d);
    for (const std::string& name : found) {
        int fd = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        struct stat held, now;
        if (fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == geteuid() && fs_is_marked_temporary(fd) &&
            flock(fd, LOCK_EX | LOCK_NB) == 0 && fstatat(dir, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 &&
            now.st_dev == held.st_dev && now.st_ino == held.st_ino) {
            unlinkat(dir, name.c_str(), 0);
        }
        ::close(fd);
    }
}

bool take_whole_file(FILE* fp, WHOLE_FILE& out)
{
    std::lock_guard<std::mutex> hold(whole_files_lock);
    std::vector<WHOLE_FILE>& files = whole_files();
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (files[i].fp == fp) {
            out = files[i];
            files.erase(files.begin() + static_cast<long>(i));
            return true;
        }
    }
    return false;
}

// With folder_locked the caller holds the folder's lock exclusively.
FILE* open_whole(const char* native_path, const char* stdio_mode, bool folder_locked)
{
    if (!native_path || !native_path[0] || !stdio_mode || stdio_mode[0] != 'w') {
        return nullptr;
    }
    std::string target;
    if (!real_target(native_path, target)) {
        return nullptr;
    }
    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        return nullptr;
    }
    // Devices and pipes cannot be replaced: they are written as they are.
    if (exists && !S_ISREG(st.st_mode)) {
        return std::fopen(target.c_str(), stdio_mode);
    }
    // A file the user protected from writing stays protected, although the
    // folder would allow replacing it.
    if (exists && access(target.c_str(), W_OK) != 0) {
        return nullptr;
    }

    std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    const std::string folder = folder_of(target);
    const std::string prefix = fs_temporary_prefix(base, SAVE_MARKER);
    std::string new_path = folder + "/" + prefix + "XXXXXX";

    mode_t bits = exists ? (st.st_mode & 07777) : (0666 & ~current_umask());

    // New files are made under a shared lock on the folder, and locked and
    // marked before it is let go; what killed saves left is cleared under
    // the exclusive lock. When another save holds the folder, this one
    // leaves the clearing to the next.
    int dir = fs_shared::open_folder_lock(folder.c_str());
    if (dir >= 0) {
        if (folder_locked || flock(dir, LOCK_EX | LOCK_NB) == 0) {
            remove_leftovers(dir, prefix);
        } else {
            flock(dir, LOCK_SH);
        }
    }
    int fd = mkostemp(&new_path[0], O_CLOEXEC);
    // Where the file system keeps no locks, nothing is cleared either.
    if (fd >= 0) {
        flock(fd, LOCK_EX | LOCK_NB);
    }
    int lock_fd = fd >= 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 0) : -1;
    // Setting the mark and taking it off need the owner's write bit: bits
    // without it are given only once the mark is off (finish_file). A file
    // left unmarked (no extended attributes here) is only never cleared.
    bool made = lock_fd >= 0 && fchmod(fd, bits | S_IWUSR) == 0;
    bool marked = made && fs_mark_temporary(fd);
    if (dir >= 0) {
        ::close(dir);
    }
    if (fd < 0) {
        return nullptr;
    }
    FILE* fp = made ? fdopen(fd, stdio_mode) : nullptr;
    if (fp) {
        std::lock_guard<std::mutex> hold(whole_files_lock);
        whole_files().push_back(WHOLE_FILE{fp, new_path, target, lock_fd, bits, marked});
        return fp;
    }
    unlink(new_path.c_str());
    ::close(fd);
    if (lock_fd >= 0) {
        ::close(lock_fd);
    }
    return nullptr;
}

} // namespace

FILE* FOLDER::open_whole_file(const char* native_path, const char* stdio_mode)
{
    return open_whole(native_path, stdio_mode, false);
}

FILE* fs_shared::open_whole_file_in_locked_folder(const char* native_path, const char* stdio_mode)
{
    return open_whole(native_path, stdio_mode, true);
}

bool FOLDER::finish_file(FILE* fp, bool keep)
{
    if (!fp) {
        return false;
    }
    WHOLE_FILE whole;
    bool is_whole = take_whole_file(fp, whole);
    bool ok = !std::ferror(fp);
    // A file system that cannot sync at all (EINVAL) is taken as it is.
    if (is_whole) {
        ok = keep && ok && std::fflush(fp) == 0 && (fsync(fileno(fp)) == 0 || errno == EINVAL);
    }
    ok = std::fclose(fp) == 0 && ok;
    if (!is_whole) {
        return ok;
    }
    // A file that kept its mark could be taken for a leftover once in place.
    if (ok && whole.marked) {
        ok = fs_unmark_temporary(whole.lock_fd);
    }
    if (ok && !(whole.bits & S_IWUSR)) {
        ok = fchmod(whole.lock_fd, whole.bits) == 0;
    }
    if (ok) {
        ok = replace_file(whole.new_path.c_str(), whole.target.c_str());
    }
    if (!ok) {
        unlink(whole.new_path.c_str());
    }
    if (whole.lock_fd >= 0) {
        ::close(whole.lock_fd);
    }
    return ok;
}

bool FOLDER::replace_file(const char* new_path, const char* target)
{
    std::string real;
    if (!new_path || !target || !real_target(target, real)) {
        return false;
    }
    struct stat st;
    if (stat(real.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || chmod(new_path, st.st_mode & 07777) != 0)) {
        return false;
    }
    if (std::rename(new_path, real.c_str()) != 0) {
        return false;
    }
    // The rename itself reaches the disk only with its folder. The file is
    // in place already, so a folder that cannot be synced changes nothing.
    int dir = ::open(folder_of(real).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        fsync(dir);
        ::close(dir);
    }
    return true;
}
