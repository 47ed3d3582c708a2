#ifndef KIVO_FILE_SYSTEM_SHARED_H
#define KIVO_FILE_SYSTEM_SHARED_H

// What the file-system topics share among themselves (not for callers of
// the library): folder listings and descriptors, paths split into folder
// and name, the list blocks of listings, and fresh names for temporaries.
#include "file_system.h"
#include "kivo_types.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace fs_shared {

int open_dir_nofollow(int at, const char* name);

INT_S32 first_error(INT_S32 sofar, INT_S32 now);

// Reads the names of a directory (without "." and ".."); the callback
// returns false to stop. The DIR owns its own descriptor (a duplicate).
template <typename F> INT_S32 for_each_name(int dirfd, F f)
{
    int fd = dup(dirfd);
    if (fd < 0) {
        return fs_error_from_errno(errno);
    }
    DIR* d = fdopendir(fd);
    if (!d) {
        int e = errno;
        close(fd);
        return fs_error_from_errno(e);
    }
    INT_S32 result = FS_OK;
    errno = 0;
    while (dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) {
            continue;
        }
        if (!f(e->d_name)) {
            result = FS_IO_ERROR;
            break;
        }
        errno = 0;
    }
    if (result == FS_OK && errno != 0) {
        result = fs_error_from_errno(errno);
    }
    closedir(d);
    return result;
}

// Deletes one entry of the folder open as `parent` (a folder with all it
// holds); `depth` is its level: 0 for the object a delete is given, 1 for
// a folder's own entries. An entry below FS_WALK_MAX_LEVELS is refused
// (FS_IO_ERROR). With go_on it goes past what cannot be deleted; the first
// error.
INT_S32 delete_entry_at(int parent, const char* name, int depth, bool go_on = false);

// The text into a caller's buffer: FS_BAD_NAME (and "") when it does not fit.
INT_S32 copy_out(const std::string& text, char* out, std::size_t size);

// `folder` + "/" + `name`, with no second '/' after a folder that ends in
// one; the name alone for an empty folder.
std::string join(const std::string& folder, const std::string& name);

// "a/b/c" into "a/b" and "c"; "c" into "." and "c"; "/c" into "/" and "c".
void split_last(const std::string& path, std::string& head, std::string& last);
// The folder (absolute, no links) and the name of the entry a path names.
INT_S32 split_reference(const char* path, std::string& parent, std::string& name);

// Texts as blocks from malloc in a list from InitLinkedList.
INT_S32 fill_list(LINKED_LIST* list, INT_U32* count, const std::vector<std::string>& texts);

// stat of a path that must not be a folder (FS_NOT_A_FILE).
INT_S32 stat_file(const char* path, struct stat& st);

// The process's file-mode creation mask, read without changing it.
mode_t current_umask();

// True when this process holds the capability in its effective set.
bool has_capability(int capability);
// True when `gid` is this process's effective group or one of its others.
bool in_group(gid_t gid);

// Six letters or digits, fresh each call, that end a temporary's name.
std::string unique_suffix();

// The name a save's new file takes before its mark comes off, where its
// old file's extended attributes leave no room beside the mark (ext4
// gives a file's attributes one block, which they may fill): the prefix
// of its target and six characters bound to that file and target (a hash
// of the target's name and of the file's inode number and birth time),
// one of bound_names such, so that no other file, a copy of it neither,
// carries them but by a chance of about one in 10^10. Clean-ups know a
// save's file by such a name as by its mark. "" when the file open as `fd`
// cannot be looked at.
constexpr int bound_names = 4;
std::string bound_suffix(int fd, const char* target, int which);
// True when `suffix` is one of the bound names' ends of the file open as
// `fd` and `target`.
bool has_bound_suffix(int fd, const char* suffix, const char* target);

// Gives `make` fresh names of the prefix until one is not taken; make
// returns 0, or -1 with errno set.
template <typename F> INT_S32 make_unique(const std::string& prefix, std::string& name, F make)
{
    for (int tries = 0; tries < 100; ++tries) {
        name = prefix + unique_suffix();
        if (make(name.c_str()) == 0) {
            return FS_OK;
        }
        if (errno != EEXIST) {
            return fs_error_from_errno(errno);
        }
    }
    return FS_EXISTS;
}

// The lock of one file or folder among this user's processes and threads
// that use this library: a lock file named by the object's device and
// inode in a folder only this user can open, so that nobody else can hold
// it or make us wait, and no right to read the object is needed. The
// folder is chosen from the user's id and the system, never from the
// environment, so every process of the user locks in the same one:
// "/tmp/kivo-locks-<uid>" (mode 0700, its owner and mode checked, never
// a link), made when missing; where another user took that name first
// (or /tmp refuses it), "kivo-locks-<machine id>" in the ".cache" of the
// user's home from the password database, made then, and from then on
// used by every process of the user while it exists. Each outermost hold
// of a thread looks again whether the path still leads to the folder
// chosen, and chooses anew when not, as does any hold that finds the
// folder removed under it. Where neither folder can be had, a
// hold for saves and copies serialises the threads of this process alone,
// and one taken with all_processes (hidden lists, Finder information)
// fails with ENOLCK. Lock files outlive their holds: a process keeps the
// last few it let go open, so that holding the object again is one flock,
// and deletes one where nobody holds it as it stops keeping it; those of
// ended and killed processes go at a process's first hold. A hold this
// thread already has is taken again at once (the count goes up): never
// waited for. Another holder is waited for at most folder_lock_wait_ms.
// Nothing may block while a hold is kept (a device or pipe is opened
// before, or after letting go). Let go at the latest when the hold is
// destroyed.
constexpr int folder_lock_wait_ms = 60000;
class OBJECT_HOLD
{
public:
    OBJECT_HOLD() = default;
    OBJECT_HOLD(const OBJECT_HOLD&) = delete;
    OBJECT_HOLD& operator=(const OBJECT_HOLD&) = delete;
    ~OBJECT_HOLD() { release(); }
    // The lock of the object open as `fd` (O_PATH will do), or of the one
    // with that device and inode. True when held; false with errno set
    // (EWOULDBLOCK when the wait ran out, ENOLCK where all_processes asks
    // for a lock no lock folder can give).
    bool take(int fd, bool all_processes = false);
    bool take(dev_t dev, ino_t ino, bool all_processes = false);
    bool held() const { return held_; }
    void release();

private:
    dev_t dev_ = 0;
    ino_t ino_ = 0;
    bool held_ = false;
};

// For tests: the folders that stand for /tmp and for the user's home in
// the choice of the lock folder (null: the real ones), from the next hold.
void set_lock_bases_for_testing(const char* temporary, const char* home);

// A folder's lock, taken while its list changes: saves and copies hold it
// while they clear what killed ones left, look at their target and make
// their temporary, and a replacing copy again from its look at the entry
// it replaces until that entry is out of the name; a hidden list is read,
// changed and written under it.
class FOLDER_HOLD
{
public:
    FOLDER_HOLD() = default;
    FOLDER_HOLD(const FOLDER_HOLD&) = delete;
    FOLDER_HOLD& operator=(const FOLDER_HOLD&) = delete;
    ~FOLDER_HOLD() { release(); }
    // Takes the lock of the folder open as `at` (O_PATH will do), or of the
    // folder a path names. False, with errno set, when the folder cannot be
    // opened at all or the wait ran out (EWOULDBLOCK); all_processes as
    // for OBJECT_HOLD.
    bool take(int at, bool all_processes = false);
    bool take(const char* folder, bool all_processes = false);
    // The held folder open to be listed; -1 where it may not be read (a
    // drop box, held all the same) or when not held.
    int fd() const { return fd_; }
    // The held folder, to name entries in; -1 when not held.
    int dir() const { return dir_; }
    void release();

private:
    bool hold(bool all_processes);
    OBJECT_HOLD lock_;
    int fd_ = -1;
    int dir_ = -1;
};

// What follows a temporary's target name in its name: a save's new file, a
// copy's new object (and the old one once swapped out), and the old entry
// while a copy takes its name where the file system cannot swap the two.
constexpr char save_marker[] = ".kivo-save.";
constexpr char copy_marker[] = ".kivo-copy.";
constexpr char aside_marker[] = ".kivo-aside.";
// The private name a temporary that cannot be made without a name (a
// folder, or a file where O_TMPFILE is refused) has until it carries its
// mark: this and six fresh characters. Only then does it take its name of
// the pattern, so no entry of the pattern is ours without its mark.
constexpr char private_prefix[] = ".kivo-new.";

// Closes the descriptor it holds (-1: none) when it goes out of scope.
struct CLOSING
{
    int fd = -1;
    CLOSING() = default;
    explicit CLOSING(int held) : fd(held) {}
    CLOSING(const CLOSING&) = delete;
    CLOSING& operator=(const CLOSING&) = delete;
    ~CLOSING()
    {
        if (fd >= 0) {
            ::close(fd);
        }
    }
};

// A temporary while it is made: its name in the folder, the descriptor that
// holds its lock, and what it is.
struct TEMPORARY
{
    std::string name;
    int fd = -1;
    struct stat made = {};
    bool marked = false; // false where the file system keeps no mark
};

// A new plain file in the folder open as `dir` (O_PATH will do), named
// `prefix` and six fresh characters, marked as a temporary of `target`
// and locked (flock) before it has that name: it is made without a name
// (O_TMPFILE) and named once marked, or, where the file system cannot
// make unnamed files, made under a private name (private_prefix), marked
// and locked there, and then renamed without replacing. The caller holds
// the folder lock meanwhile, so that no clean-up takes the private entry
// before it is locked. `access` is O_WRONLY or O_RDWR; the file gets
// `mode` and the owner's write bit, which the mark needs.
INT_S32 make_temporary_file(int dir, const std::string& prefix, const char* target, int access, mode_t mode,
                            TEMPORARY& t);
// The same for a folder (0700, open to be read), always made under a
// private name first.
INT_S32 make_temporary_folder(int dir, const std::string& prefix, const char* target, TEMPORARY& t);

// Clears what killed saves and copies of `target` left in the folder open
// as `dir` (readable: the folder lock's descriptor), under the folder lock
// held exclusively. Only entries of this user whose own lock is free are
// taken. Of the temporaries' names of that target, only those marked as
// that target's: a save's file or a copy's file or folder is deleted; an
// aside is given back when the target name is free (it holds the only copy
// of the old entry) and deleted when not. A save's file is deleted too
// where its name is bound to it (see bound_suffix). An entry of those
// names without either is never a temporary of ours (a user's own, one marked as
// another target's, an aside a copy told its caller of) and stays. Of the
// private names, an entry marked as that target's is deleted (killed before
// its rename), and one without any mark when empty (killed before its
// mark); one marked as another target's is left to that target's clean-up.
void clear_leftovers(int dir, const char* target);

// A plain file or folder of `dir`, opened without following a link or
// blocking (never a device or pipe), with what it is; -1 when it cannot be.
int open_entry(int dir, const char* name, struct stat& st);
// True when `name` of `dir` is still the entry `known` describes.
bool same_entry(int dir, const char* name, const struct stat& known);

bool same_node(int a_dir, const char* a, int b_dir, const char* b);

INT_S32 open_source_and_dest(const char* dir, const char* name, const char* dest_dir, const char* new_name,
                             INT_S32 not_folder, const char*& target, int& from, int& to);

// Gives the file or folder a copy made, open as `copy`, the Finder
// information of its source, the entry `name` of the folder open as
// `from`: the source's metadata value, has-been-initialised cleared (a
// value that is not a valid header goes as it stands). A source without
// one, or a copy on a file system that keeps none, is done; any other
// failure is its error.
INT_S32 carry_finder_info(int from, const char* name, int copy);

// FSCopyFileMgrAttributes' Finder step: the source's 32 bytes, as
// FSGetFinderInfo reads them, into the destination's value (its other
// entries kept, no flag cleared), the invisible bit through the
// destination's folder's list as FSSetInvisible and FSClearInvisible keep
// it (a name beginning with '.' stays hidden). Where the destination's file
// system keeps no value only the invisible bit goes across. With
// destination_fd (not -1; an O_PATH descriptor will do) the value written
// is that open object's, the path naming it in its folder.
INT_S32 copy_finder_info(const char* source, const char* destination, int destination_fd = -1);

} // namespace fs_shared

#endif
