#ifndef KIVO_FILE_SYSTEM_H
#define KIVO_FILE_SYSTEM_H

// File-system helpers under FOLDER: paths, node ids, move with rename,
// recursive copy and delete. Entries are named by a folder's native path
// plus one name. Every routine returns 0 on success or one of the codes
// below. Symbolic links are never followed into while copying or deleting:
// a link is copied as a link and deleted as a link. Links in a path's
// components above its last are followed, in every routine (only the
// entry a path names is opened without following, where a routine says
// so): a privileged caller must not pass a path through folders others
// can write.
#include "kivo_types.h"

#include <sys/stat.h>

#include <cstddef>
#include <string>

enum : INT_S32
{
    FS_OK = 0,
    FS_NO_MORE_VOLUMES = -35, // also: no volume holds the path
    FS_IO_ERROR = -36,
    FS_BAD_NAME = -37,
    FS_END_OF_FILE = -39,
    FS_NOT_FOUND = -43,
    FS_VOLUME_HARDWARE_LOCKED = -44, // the device itself is read-only
    FS_FILE_LOCKED = -45,            // immutable, or no write bit for anyone
    FS_VOLUME_LOCKED = -46,          // mounted read-only
    FS_EXISTS = -48,
    FS_BAD_ARGUMENT = -50,
    FS_BAD_REFNUM = -51, // not an open file descriptor
    FS_NO_MEMORY = -108,
    FS_USER_CANCELED = -128, // a copy's filter stopped it
    FS_NOT_A_DIRECTORY = -120,
    // What this host or this volume cannot do at all (see
    // file_system_catalog.h for the routines that always answer it).
    FS_NOT_SUPPORTED = -123,
    FS_FILE_ID_NOT_FOUND = -1300,
    FS_NOT_A_FILE = -1302,
    FS_DIFFERENT_VOLUMES = -1303,
    FS_DEST_NOT_FOLDER = -1407,
    FS_NO_MORE_ITEMS = -1417,
    FS_INSIDE_SOURCE = -1234,
    FS_ACCESS_DENIED = -5000,
    FS_RANGE_OVERLAP = -5021, // another opener holds a lock on the range
    // A replacing copy could neither give back the entry it was to replace
    // (the copy failed) nor delete it (the copy is in place): that entry
    // lies in the destination under another name, which the "KIVO
    // Platform" debug channel names.
    FS_ENTRY_LEFT_ASIDE = -5043,
};

// Longest native path the folder layer handles, terminator included.
constexpr std::size_t FS_PATH_MAX = 2048;
// Longest single name.
constexpr std::size_t FS_NAME_MAX = 255;
// The deepest level that walks, copies and deletes take, rather than
// risking the stack. Each counts the same way: a folder's own entries are
// level 1 (the object a copy or delete is given is level 0), an entry at
// level FS_WALK_MAX_LEVELS is taken (an empty folder there included), and
// the first entry found below it ends the whole walk, copy or delete with
// FS_IO_ERROR.
constexpr INT_U32 FS_WALK_MAX_LEVELS = 256;

// Duplicate actions of FSCopyObject when the target name is taken.
enum : INT_U8
{
    FS_DUPLICATE_FAIL = 0,
    FS_DUPLICATE_REPLACE = 1,
    FS_DUPLICATE_NUMBER = 2, // "name 1.ext" .. "name 9.ext", the first free
};

// Maps an errno value to the codes above, for every routine of the
// file-system helpers and the catalog alike (EROFS: FS_VOLUME_LOCKED).
INT_S32 fs_error_from_errno(int err);

// rename that never replaces its target (a taken one gives EEXIST), each
// path taken from its folder descriptor (AT_FDCWD: the working folder).
// 0, or -1 with errno set.
int fs_rename_noreplace(int from_dir, const char* from, int to_dir, const char* to);

// Temporaries of saves and copies carry a mark that no name can give: an
// extended attribute ("user.kivo.temporary") whose value is the name of
// the target the temporary belongs to (the name it is to take, or the
// name it replaced: an old entry a copy moves out of the way). It is set
// before the temporary has its name: on a file made unnamed (O_TMPFILE)
// where the file system can, and elsewhere, a folder always, while it has
// a private name of its own form (".kivo-new." + six characters); it is
// taken off once the temporary holds its target's name, and off an old
// entry once a copy is done with it; a kill between leaves the mark on the
// target, where it names the target itself and so nothing clears it.
// Clean-ups take only entries of a temporary's name whose mark names the
// target being cleared (or, a save's new file that had to lose its mark
// to leave its old file's attributes their room, whose name is bound to
// it: see FOLDER::open_whole_file), so a file whose name merely looks like
// a temporary's, or a saved file that kept its own mark, is never touched;
// of the private form they take this user's entries marked so, and empty
// ones without any mark (killed before their mark). Where the file system
// keeps no extended attributes the mark cannot be set (false, errno set),
// and the leftovers made there under a temporary's name are left alone.
// `target` is one name (no '/'), not empty.
bool fs_mark_temporary(int fd, const char* target);
// True when the file or folder open as `fd` (not O_PATH) carries the mark
// and it names `target`.
bool fs_is_marked_temporary(int fd, const char* target);
// Takes the mark off; true when it is gone (or was never there).
bool fs_unmark_temporary(int fd);

// The start of the name of a temporary made beside `target` (a save's or
// a copy's): "." + the target's name (cut to 200 bytes and followed by a
// hash of all of it when longer, so every key of a long name is longer
// than any whole one and the temporary's name stays within FS_NAME_MAX)
// + `marker` (at most 12 bytes). Six letters or digits follow it.
std::string fs_temporary_prefix(const std::string& target, const char* marker);
// True when `p` is exactly the six letters or digits that end a
// temporary's name.
bool fs_is_temporary_suffix(const char* p);

// True when `name` can name one entry of a folder: not empty, no '/', not
// "." or "..", at most FS_NAME_MAX bytes.
bool fs_is_valid_name(const char* name);

// Names inside the system are 8-bit (Latin-1) text; the host's are UTF-8,
// or any bytes at all. Both conversions work on each '/'-separated part on
// its own and return false (out = "") when the result does not fit in
// `size`. Every host name comes back unchanged through both.
// Host bytes that cannot be told as text are kept inside as a run of raw
// bytes: 0x01, ",DCXX" per byte XX (uppercase hex), 0x01.
// To the host: a part holding such a run gives the runs' bytes, and its
// other bytes 0x80-0xFF become two-byte sequences; a part that is UTF-8
// holding characters above 0xFF is kept as it is (a host name that came
// back unchanged, see below); in any other part bytes 0x80-0xFF become
// two-byte sequences.
bool fs_name_to_host(const char* name, char* out, std::size_t size);
// From the host: a UTF-8 part with characters above 0xFF is kept as it is;
// one whose characters all fit in 8 bits becomes those bytes. A part that
// is not UTF-8, or holds the byte 0x01, keeps its invalid bytes and 0x01
// (and the bytes of any character above 0xFF) in runs, the rest as 8-bit
// text; so does one whose 8-bit form would read as UTF-8 above 0xFF, with
// every byte from 0x80 up in runs.
bool fs_name_from_host(const char* name, char* out, std::size_t size);

// dir + "/" + name into buf (name null or empty: dir itself).
// FS_BAD_ARGUMENT when an argument is null, FS_BAD_NAME when the result
// does not fit.
INT_S32 FSMakePath(const char* dir, const char* name, char* buf, std::size_t size);

// Device and inode of the directory or file a path names (links followed);
// is_directory may be null.
INT_S32 FSGetNodeID(const char* path, INT_U64* device, INT_U64* node, INT_U8* is_directory);

// True when `name` in `dir` is (or links to) a directory other than `dir`
// itself; its inode goes to child_id when that is not null.
bool get_child_id(const char* dir, const char* name, INT_U64* child_id);

// Moves `name` of `dir` into `dest_dir`, under `new_name` when that is
// non-empty. Never replaces an existing entry (FS_EXISTS); another file
// system gives FS_DIFFERENT_VOLUMES. Moving onto itself changes nothing.
INT_S32 FSMoveRenameObjectUnicode(const char* dir, const char* name, const char* dest_dir, const char* new_name);

// Told of each object a copy makes, once it is made, under the path and
// name it has then (see FSCopyObject: the copied object, a folder with all
// it holds, is made under a temporary name), with its level (0 for the
// copied object itself, 1 for a copied folder's own entries) and the
// catalog information it gets (the source's). Returns true to stop the
// copy.
typedef bool (*FS_COPY_FILTER)(const char* path, const char* name, INT_U32 level, const struct stat* info, void* data);

// Copies `name` of `dir` (a file, a link, or a folder with everything in
// it) into `dest_dir` under `new_name` (null or empty: the same name).
// max_levels 0 copies every level; otherwise the folders at that level are
// made empty. catalog_info_wanted, want_spec and want_name are accepted
// and change nothing: the filter always gets the whole stat record, and
// the new path holds both the folder and the name. A folder is never
// copied into itself (FS_INSIDE_SOURCE, nothing made). When the target name
// is taken: FS_DUPLICATE_FAIL gives FS_EXISTS; FS_DUPLICATE_REPLACE puts
// the copy in the existing entry's place and deletes that entry, or leaves
// it as it was when the copy fails; FS_DUPLICATE_NUMBER takes the first
// free of "name 1.ext" .. "name 9.ext" (FS_EXISTS when all nine are taken).
// The copied object, whatever it is and whether or not it replaces an
// entry, is made whole under a temporary name beside the target ("." + the
// target's name, cut and hashed past 200 bytes, + ".kivo-copy." + six
// characters), space for a file allocated first (a full volume fails before
// any byte is copied), marked as the target's before it has that name
// (fs_mark_temporary; a link is made inside a marked folder) and locked
// while made, and then takes the target's name in one step: a free name
// only while still free (a rename that never replaces, or where the file
// system refuses that, fs_rename_noreplace's way, under the folder's lock;
// FS_EXISTS when taken meanwhile), a file or link over a file or link by a
// rename over it, and where a folder is on either side by swapping the two,
// the old entry then being deleted under the temporary name (where the file
// system cannot swap, the old entry steps aside under a ".kivo-aside." name
// marked as the target's meanwhile, and the name is free for that moment;
// an old entry that is a link cannot carry the mark and steps aside
// unmarked, so that a copy killed at that moment leaves it there, never
// given back nor deleted). Whatever the swap took out of the name is
// deleted as the replaced entry, even when a program that takes no lock put
// it there after the copy looked. A killed copy leaves the name free or
// holding a whole object, never a part. Before the copy looks at the target
// name (and at each numbered name it tries), and again before it puts a
// temporary in place, what killed saves and copies of that name left goes
// (see fs_mark_temporary): their marked temporaries are deleted, and an old
// entry set aside is given back when the name is free (so a copy to a free
// name finds it taken again: FS_EXISTS). An old entry a copy answers
// FS_ENTRY_LEFT_ASIDE for (the debug output names where it lies) is the
// caller's: its mark is off and no clean-up takes it. That clean-up, the
// look and the making of the temporary, and the look at the target, the
// swap and the check of what it took out, run under the destination
// folder's lock, the one the saves, copies and hidden lists of this library
// take (among this user's processes; see README): two copies over one name
// take it in turn, and the last one's object stays, the other deleted. The
// lock is waited for at most 60 s (then FS_IO_ERROR, nothing left), and is
// not held while objects are copied, while the filter runs or while a
// replaced entry is deleted. A filter that stops the copy gives
// FS_USER_CANCELED. A failed copy removes what it made and nothing else
// (checked by device and inode just before), and never leaves the replaced
// entry hidden without saying so (FS_ENTRY_LEFT_ASIDE). A tree deeper than
// FS_WALK_MAX_LEVELS is refused: the copied folder's own entries are level
// 1, an entry at level FS_WALK_MAX_LEVELS is taken (an empty folder there
// included), and the first entry found below it ends the copy with
// FS_IO_ERROR, the copy then removing what it made. The destination needs
// only write and search rights (a drop box): nothing in it is read or
// listed, and nothing cleared there. new_ref (may be null) gets the new
// object's path; FS_BAD_NAME, before anything is made, when it does not
// fit.
INT_S32 FSCopyObject(const char* dir, const char* name, const char* dest_dir, INT_U32 max_levels,
                     INT_U32 catalog_info_wanted, INT_U8 duplicate_action, const char* new_name, bool want_spec,
                     bool want_name, FS_COPY_FILTER filter, void* filter_data, char* new_ref, std::size_t new_ref_size);

// A buffer from malloc for copying: `requested` rounded down to a multiple
// of 4096, at least 4096. When more than 4096 bytes cannot be had, the
// smaller of the free memory less 32768 and the largest block the process
// may still map, both rounded down to 4096 (4096 when that is 0). The size
// obtained goes to *actual (0, with a null result, when none).
void* GetTempBuffer(std::size_t requested, std::size_t* actual);
// The size GetTempBuffer tries for a request, given the free memory and
// the largest block.
std::size_t fs_temp_buffer_size(std::size_t requested, INT_U64 free_memory, INT_U64 largest_block);

// Deletes the entry a path names: a file or link, or a folder with
// everything in it. Stops at the first entry that cannot be deleted and
// returns its error, leaving the rest. A tree deeper than
// FS_WALK_MAX_LEVELS is refused: the deleted folder's own entries are
// level 1, an entry at level FS_WALK_MAX_LEVELS is taken (an empty folder
// there included), and the first entry found below it ends the delete with
// FS_IO_ERROR, as any other error does: what was deleted before stays
// deleted, that entry and the folders above it stay. A folder without
// owner rights gets them back to be emptied; an immutable entry is never
// made mutable (FS_ACCESS_DENIED).
INT_S32 FSDeleteObjects(const char* path);
// The same for a folder only (FS_NOT_A_DIRECTORY otherwise, a link to a
// folder included).
INT_S32 FSDeleteContainer(const char* path);
// Deletes everything inside a folder (not following a link given as path),
// stopping as FSDeleteObjects does; the folder's own entries are level 1,
// so it takes the trees FSDeleteObjects takes of the folder.
INT_S32 FSDeleteContainerContents(const char* path);
// The same going past what cannot be deleted, at every level, as
// FOLDER::remove_directory_contents does (an entry below
// FS_WALK_MAX_LEVELS among them: it and the folders above it stay); the
// first error.
INT_S32 fs_delete_contents_past_failures(const char* path);

// The path of an existing object: `directory` (taken from `volume`, a path
// on the volume, when it is relative and volume is not null or empty) and
// `name` in it (null or empty: the directory itself).
INT_S32 FSMakeFSRef(const char* volume, const char* directory, const char* name, char* ref, std::size_t size);

// An object as its folder (absolute, no links) and its name.
struct FS_SPEC
{
    char parent[FS_PATH_MAX];
    char name[FS_NAME_MAX + 1];
};
// The folder and name of the entry a path names (a link itself, not what it links
// to), and whether the path leads to a folder (is_directory may be null).
INT_S32 FSPathMakeFSSpec(const char* path, FS_SPEC* spec, INT_U8* is_directory);

// A small singly linked list of data pointers. The list's dispose callback
// (may be null) gets each node's data when the list is destroyed.
typedef void (*LINKED_LIST_DISPOSE_PROC)(void* data);
struct LINKED_LIST_NODE
{
    LINKED_LIST_NODE* next;
    void* data;
};
struct LINKED_LIST
{
    LINKED_LIST_NODE* head;
    LINKED_LIST_NODE* tail;
    INT_U32 count;
    LINKED_LIST_DISPOSE_PROC dispose;
};

// Empties the record (without freeing anything) and sets its callback;
// FS_BAD_ARGUMENT for a null list.
INT_S32 InitLinkedList(LINKED_LIST* list, LINKED_LIST_DISPOSE_PROC dispose);
// 0 for a null list.
INT_U32 GetNumberOfItems(const LINKED_LIST* list);
// FS_BAD_ARGUMENT for a null list or data, FS_NO_MEMORY when no node can
// be had.
INT_S32 AddToTail(LINKED_LIST* list, void* data);
// An iterator is a node pointer: the head, then Next until null.
void InitIterator(const LINKED_LIST* list, LINKED_LIST_NODE** iterator);
void Next(LINKED_LIST_NODE** iterator);
// The node's data; null for a null iterator.
void* GetData(const LINKED_LIST_NODE* iterator);
// Moves every node of source into destination after `after` (null: at the
// front), leaving source empty with no callback. Does nothing unless source
// has nodes, both lists have the same callback, and `after` is null or a
// node of destination.
void InsertList(LINKED_LIST* destination, LINKED_LIST* source, LINKED_LIST_NODE* after);
// Gives each node's data to the callback, frees the nodes, and clears the
// list and its callback.
void DestroyList(LINKED_LIST* list);
// The stock callbacks: frees a block from malloc; closes the descriptor of
// an FS_FORK_RECORD from malloc and frees the record.
void MyDisposeDataProc(void* data);
struct FS_FORK_RECORD
{
    int fork;
};
void MyCloseForkProc(void* data);

#endif
