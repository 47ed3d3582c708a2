#ifndef KIVO_SETTINGS_LOCK_H
#define KIVO_SETTINGS_LOCK_H

#include <string>

// An advisory lock on a file for one read-modify-write, so that programs
// writing the same file wait for each other instead of losing each other's
// entries. Every write replaces the file by a rename, so a lock won after
// waiting may be on a file that is no longer the one the path names: then
// the current one is locked instead. A missing file is created empty to be
// locked; when no write replaced it, it is removed again.
class SETTINGS_LOCK
{
public:
    explicit SETTINGS_LOCK(const char* file);
    ~SETTINGS_LOCK();

    SETTINGS_LOCK(const SETTINGS_LOCK&) = delete;
    SETTINGS_LOCK& operator=(const SETTINGS_LOCK&) = delete;

    // False where the path names no plain file or the lock could not be
    // taken; the write that follows then reports its own failure.
    bool held() const { return fd >= 0; }

private:
    // The open file is still the one the path names.
    bool is_current(int f) const;

    std::string path;
    int fd = -1;
    bool created = false;
};

#endif
