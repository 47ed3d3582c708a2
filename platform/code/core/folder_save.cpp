// Whole-file saves: a file written whole goes to a new file beside its
// target and replaces it by a rename only once all of it is on the disk, so
// a full disk, a size limit or a crash leaves the old file as it was.
//
// The new file is made without a name (O_TMPFILE), marked as a temporary
// of its target (see fs_mark_temporary: the mark names the target) and
// locked, and only then named; it is written, synced and renamed over the
// target, and the mark comes off after the rename. So a save killed at any
// moment leaves either nothing or a marked file of the saves' pattern, and
// the next save of the same target, saves and copies sharing one clean-up,
// removes it under the folder's lock (it also gives back what a killed copy
// had set aside, before this save looks at its target). A file the user or
// the program saved under a name of that pattern carries no mark, or one
// that names itself, and stays. Where the file system cannot make unnamed
// files, the new file is made under a private name and marked there before
// it takes its name (see fs_shared::make_temporary_file); a kill before its
// mark leaves it empty under the private name, which a clean-up removes.
// Where the file system keeps no extended attributes the new files go
// unmarked: saves work as anywhere else, and what killed ones leave there
// under the saves' pattern stays for the user to remove.
#include "folder.h"

#include "file_system.h"
#include "file_system_shared.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
// the file is renamed or removed: a later clean-up removes only marked new
// files whose lock it can take, those a killed save left.
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

FILE* open_whole(const char* native_path, const char* stdio_mode)
{
    if (!native_path || !native_path[0] || !stdio_mode || stdio_mode[0] != 'w') {
        return nullptr;
    }
    std::string target;
    if (!real_target(native_path, target)) {
        return nullptr;
    }
    const std::string base = target.substr(target.rfind('/') == std::string::npos ? 0 : target.rfind('/') + 1);
    const std::string folder = folder_of(target);

    // What killed saves and copies of this target left is cleared, and an
    // entry a killed copy had set aside given back, before the target is
    // looked at; the new file is made under the same hold, so no clean-up
    // takes it before it is marked. A folder that cannot be read is held
    // too, but nothing is cleared there.
    fs_shared::FOLDER_HOLD hold;
    if (!hold.take(folder.c_str())) {
        return nullptr;
    }
    if (hold.fd() >= 0) {
        fs_shared::clear_leftovers(hold.fd(), base.c_str());
    }

    struct stat st;
    bool exists = stat(target.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        return nullptr;
    }
    // Devices and pipes cannot be replaced: they are written as they are,
    // opened once the hold is let go (a pipe waits for its reader).
    if (exists && !S_ISREG(st.st_mode)) {
        hold.release();
        return std::fopen(target.c_str(), stdio_mode);
    }
    // A file the user protected from writing stays protected, although the
    // folder would allow replacing it.
    if (exists && access(target.c_str(), W_OK) != 0) {
        return nullptr;
    }
    const mode_t bits = exists ? (st.st_mode & 07777) : (0666 & ~fs_shared::current_umask());

    // A folder we may write but not read is named into through a path
    // descriptor.
    fs_shared::TEMPORARY t;
    const INT_S32 made =
        hold.dir() < 0 ? FS_NOT_FOUND
                       : fs_shared::make_temporary_file(hold.dir(), fs_temporary_prefix(base, fs_shared::save_marker),
                                                        base.c_str(), O_RDWR, bits, t);
    if (made != FS_OK) {
        return nullptr;
    }
    hold.release();
    const std::string new_path = folder + "/" + t.name;
    int lock_fd = fcntl(t.fd, F_DUPFD_CLOEXEC, 0);
    FILE* fp = lock_fd >= 0 ? fdopen(t.fd, stdio_mode) : nullptr;
    if (fp) {
        std::lock_guard<std::mutex> hold_list(whole_files_lock);
        whole_files().push_back(WHOLE_FILE{fp, new_path, target, lock_fd, bits, t.marked});
        return fp;
    }
    unlink(new_path.c_str());
    ::close(t.fd);
    if (lock_fd >= 0) {
        ::close(lock_fd);
    }
    return nullptr;
}

} // namespace

FILE* FOLDER::open_whole_file(const char* native_path, const char* stdio_mode)
{
    return open_whole(native_path, stdio_mode);
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
    // The bits an existing target has are given by replace_file; a new
    // file's, where they take the owner's write bit away, only once the
    // mark is off, which needs that bit.
    struct stat old;
    const bool had_target = ok && stat(whole.target.c_str(), &old) == 0;
    if (ok) {
        ok = replace_file(whole.new_path.c_str(), whole.target.c_str());
    }
    if (ok) {
        // Off only now, so that no kill leaves the new file unmarked; one
        // left on the target by a kill here names the target itself, and
        // nothing takes it for a leftover.
        if (whole.marked) {
            fs_unmark_temporary(whole.lock_fd);
        }
        if (!had_target && !(whole.bits & S_IWUSR)) {
            fchmod(whole.lock_fd, whole.bits);
        }
    } else {
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
