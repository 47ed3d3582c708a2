#include "settings_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

SETTINGS_LOCK::SETTINGS_LOCK(const char* file) : path(file)
{
    // Bounded: each retry means another program completed a write.
    for (int tries = 0; tries < 1000 && fd < 0 && file[0]; ++tries) {
        // Without waiting: a named pipe would wait for a writer.
        bool made = false;
        int f = ::open(file, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (f < 0 && errno == ENOENT) {
            f = ::open(file, O_RDONLY | O_NONBLOCK | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            made = f >= 0;
            if (f < 0 && errno == EEXIST) {
                continue;
            }
        }
        // Only a plain file is locked. Anything else cannot be written
        // and the write reports it.
        struct stat st;
        if (f >= 0 && (fstat(f, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(f);
            return;
        }
        if (f < 0) {
            return;
        }
        int r;
        while ((r = flock(f, LOCK_EX)) != 0 && errno == EINTR) {
        }
        if (r == 0 && is_current(f)) {
            fd = f;
            created = made;
            return;
        }
        ::close(f);
        if (r != 0) {
            return;
        }
    }
}

SETTINGS_LOCK::~SETTINGS_LOCK()
{
    if (fd < 0) {
        return;
    }
    struct stat st;
    char real[PATH_MAX];
    if (created && is_current(fd) && fstat(fd, &st) == 0 && st.st_size == 0 && realpath(path.c_str(), real)) {
        unlink(real);
    }
    ::close(fd);
}

bool SETTINGS_LOCK::is_current(int f) const
{
    struct stat a, b;
    return fstat(f, &a) == 0 && stat(path.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
