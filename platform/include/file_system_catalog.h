#ifndef KIVO_FILE_SYSTEM_CATALOG_H
#define KIVO_FILE_SYSTEM_CATALOG_H

// One-call catalog routines beside the file-system helpers. An object is
// named by its native path (its "reference"), a volume by any path on it
// and reported by its mount point, an open fork by its file descriptor
// (a file has one fork: its data). Every routine returns 0 or one of the
// codes of file_system.h. A path naming a symbolic link stands for what it
// links to, except where a routine says it takes the entry itself. Names
// and paths are in the host's form (UTF-8) unless said otherwise.
//
// Finder information (creator, type, flags) is kept in the metadata
// attribute the Linux file servers keep it in (see the end). The host has
// no resource forks.
#include "file_system.h"
#include "kivo_types.h"

#include <cstddef>

// ---- Volumes ----

// What the volume tells of itself.
struct FS_VOL_PARMS
{
    INT_U32 block_size;     // bytes of an allocation block
    INT_U32 name_max;       // longest name, in bytes
    INT_U64 flags;          // the mount's ST_* bits (ST_RDONLY = 1, ST_NOSUID = 2, ...)
    INT_U64 file_system_id; // the volume's id while it is mounted
};
INT_S32 FSGetVolParms(const char* volume, FS_VOL_PARMS* parms);
// The mount point of the volume holding `path` (FS_NO_MORE_VOLUMES when
// the mount table names none).
INT_S32 FSGetVRefNum(const char* path, char* volume, std::size_t size);
// The volume's name (its mount point's last part, "/" for the root), the
// bytes free to an unprivileged user and the volume's size in bytes. Any
// out argument may be null.
INT_S32 FSGetVInfo(const char* volume, char* name, std::size_t name_size, INT_U64* free_bytes, INT_U64* total_bytes);
// The file system's magic number and its type name ("ext4", "tmpfs").
// Either out argument may be null.
INT_S32 FSGetVolFileSystemID(const char* volume, INT_U32* file_system_id, char* signature, std::size_t signature_size);
// Every mounted volume's mount point, in the mount table's order, as
// blocks from malloc in `volumes` (initialised here, so pass a fresh or
// empty list; DestroyList frees it). On an error the list is left empty
// and the count 0.
INT_S32 FSGetMountedVolumes(LINKED_LIST* volumes, INT_U32* count);

// A volume mount record: what mounting the volume again takes, from the
// mount table. It is for this host: its numbers are in the host's byte
// order. At most 65535 bytes:
//   offset 0  u16  length: bytes of the whole record
//   offset 2  u16  version: 1
//   offset 4  u32  flags: mount(2)'s MS_* bits of the mount's own options
//                  (MS_RDONLY, MS_NOSUID, MS_NODEV, MS_NOEXEC, MS_NOATIME,
//                  MS_NODIRATIME, MS_RELATIME, MS_STRICTATIME,
//                  MS_NOSYMFOLLOW; no other bit is allowed)
//   offset 8       four strings, each ended by a NUL, the last at the
//                  record's end: the mount source ("/dev/sda1", "tmpfs"),
//                  the file-system type ("ext4"), the file system's own
//                  options as the mount table shows them ("rw,size=2048k",
//                  mount(2)'s data) and the mount point (absolute).
// A mount that shows one folder of its volume (a bind mount) is recorded
// as the volume: mounted again from the record, it shows the whole of it.
// The size of the record of the volume holding `path` (FS_NOT_FOUND for a
// missing path; FS_BAD_NAME for a record that would pass 65535 bytes).
INT_S32 FSGetVolMountInfoSize(const char* path, INT_U16* size);
// Writes that record into `mount_info`, whose first two bytes hold the
// buffer's size on entry (the size FSGetVolMountInfoSize gave): a record
// that has grown past it since (the volume was replaced) gives FS_BAD_NAME
// and nothing is written.
INT_S32 FSGetVolMountInfo(const char* path, void* mount_info);
// Mounts a record's volume at its mount point with mount(2) and gives the
// mount point's path (links resolved). FS_BAD_ARGUMENT for a record that is
// not one (see above); the mount point: FS_NOT_FOUND when missing,
// FS_NOT_A_DIRECTORY when not a folder, FS_EXISTS when a volume is mounted
// on it already; FS_BAD_NAME when the path does not fit in `size`. All of
// these are found before anything is mounted. Without the privilege to
// mount: FS_ACCESS_DENIED; any other refusal of mount(2) is its error.
INT_S32 FSVolumeMount(const void* mount_info, char* volume, std::size_t size);

// ---- References ----

// The folder (an absolute path without links) and the name of the entry a
// path names; the entry itself, not what a link points to. The parent of
// "/" is "" and its name "/".
INT_S32 FSRefMakeFSSpec(const char* path, char* parent, std::size_t parent_size, char* name, std::size_t name_size);
INT_S32 FSGetParentRef(const char* path, char* parent, std::size_t size);
INT_S32 FSGetFileDirName(const char* path, char* name, std::size_t size);
// True when the path names an existing entry (a dangling link counts).
bool FSRefValid(const char* path);
// The path of the file an open descriptor is on: FS_BAD_REFNUM for a
// descriptor that is not open, FS_NOT_FOUND once the file was deleted,
// FS_BAD_ARGUMENT for a pipe or a socket.
INT_S32 FileRefNumGetFSRef(int fork, char* path, std::size_t size);

// A name as UTF-16 units (at most 255).
struct FS_UNICODE_NAME
{
    INT_U16 length;
    INT_U16 unicode[255];
};
// Between UTF-16 and the system's 8-bit names (Latin-1, one byte a unit).
// A unit above 0xFF or a 0 unit gives FS_BAD_NAME; so does a result that
// does not fit (out = ""), or an 8-bit name longer than 255 bytes. A
// length above 255 is FS_BAD_ARGUMENT.
INT_S32 UnicodeNameGetHFSName(const FS_UNICODE_NAME* unicode_name, char* name, std::size_t size);
INT_S32 HFSNameGetUnicodeName(const char* name, FS_UNICODE_NAME* unicode_name);

// ---- Access ----

// The user's privileges: bits set for what this process may NOT do.
enum : INT_U8
{
    FS_USER_NO_SEE_FOLDERS = 0x01,  // a folder it cannot list
    FS_USER_NO_SEE_FILES = 0x02,    // a folder it cannot list, a file it cannot read
    FS_USER_NO_MAKE_CHANGES = 0x04, // no write access (a read-only volume included)
    FS_USER_NOT_OWNER = 0x80,
};
// permissions: owner id, group id, mode (type and permission bits), and
// the device a special file stands for. Either out argument may be null.
INT_S32 FSGetUserPrivilegesPermissions(const char* path, INT_U8* user_privileges, INT_U32 permissions[4]);
// FS_FILE_LOCKED for an immutable object or one nobody may write (no write
// bit set), else FS_VOLUME_HARDWARE_LOCKED when the device is read-only,
// else FS_VOLUME_LOCKED on a read-only mount, else 0.
INT_S32 FSCheckLock(const char* path);
// A folder's owner, group and permission bits (0-07777); a file gives
// FS_NOT_A_DIRECTORY. Setting: an owner or group of -1 is kept; bits
// outside 07777 give FS_BAD_ARGUMENT.
INT_S32 FSGetDirAccess(const char* path, INT_S32* owner_id, INT_S32* group_id, INT_S32* access_rights);
INT_S32 FSSetDirAccess(const char* path, INT_S32 owner_id, INT_S32 group_id, INT_S32 access_rights);

// ---- Forks and dates ----

// The data fork is the file; the resource fork is always empty. A folder
// gives FS_NOT_A_FILE. Out arguments may be null.
INT_S32 FSGetForkSizes(const char* path, INT_U64* data_size, INT_U64* resource_size);
// Sums over the file's forks (one): bytes, bytes allocated on disk, count.
INT_S32 FSGetTotalForkSizes(const char* path, INT_U64* logical_size, INT_U64* physical_size, INT_U32* fork_count);
// Sets the modification time to now in whole seconds, one second later
// when that equals the old time, so that a change is always seen.
INT_S32 FSBumpDate(const char* path);
// Gives `destination` the access and modification times and the
// permission bits of `source` (folders as files), and its owner and group
// where this process may set them (a refused change of owner or group is
// passed over; the owner is given away only by a process that may still
// set the bits and times afterwards). The lock (FSCheckLock's
// FS_FILE_LOCKED: no write bit for anyone, or immutable) goes across only
// with copy_lock_bit: the write bits and the immutable attribute are then
// the source's; without it the destination keeps its own write bits and
// attribute. A set-user-id bit goes across only when the destination has
// the source's owner, a set-group-id bit only when it has its group, and
// neither onto a file its group or others may write (those write bits
// stay, the set-id bits are dropped): no copy makes a program that runs
// as someone else and that others may change. A folder keeps them with
// its write bits (a shared group-writable folder hands its group to what
// is made in it; nothing runs as anyone through a folder).
// A source that is a link stands for what it leads to; a destination
// never does. It is opened once without following a link and every change
// goes to that entry: a destination that is a link gets the owner, group
// and times itself, and what it leads to is left as it was (a link has no
// bits or immutable attribute of its own, so it gets none; copying a lock
// onto it gives FS_NOT_SUPPORTED).
// What is refused is refused before anything changes: FS_ACCESS_DENIED
// when this process neither owns the destination nor may change others'
// entries, when the destination is immutable and stays so, and when the
// immutable attribute would have to be put on or taken off without the
// privilege for it; FS_NOT_SUPPORTED when it would have to be put on and
// the destination's file system keeps no such attribute (or the host has
// no /proc). An immutable destination whose attribute is taken off (the
// source has none) takes it back when a later step is refused (a damaged
// Finder value, a list that cannot be read, a lock that cannot be had):
// the answer is that step's, and the destination stays protected. FS_NOT_FOUND when either is missing. The source's
// Finder information, as FSGetFinderInfo reads it, goes into the destination's (see the end): the destination's other
// entries are kept and no flag is cleared; the invisible flag goes through FSSetInvisible / FSClearInvisible (a
// destination whose name begins with '.' stays hidden), and it alone where the destination keeps no value (a link, a
// file system without user attributes). The value written is the entry's
// first opened; a destination name that no longer leads to it gives
// FS_BAD_ARGUMENT.
INT_S32 FSCopyFileMgrAttributes(const char* source, const char* destination, bool copy_lock_bit);

// ---- Invisible ----

// An entry is hidden by its folder's ".hidden" file, one name a line,
// which the desktop's file library reads. The path names the entry itself
// (a link, not what it leads to; a folder as a file). FSSetInvisible adds
// the name once (an entry already listed is left so), FSClearInvisible
// takes away every line that is exactly the name; every other line stays
// as it was, byte for byte, and the list is written as a whole-file save
// of ".hidden" is (FOLDER::open_whole_file): a new file made in the folder
// read, marked as a save of the list (what a killed change leaves goes
// with the next save or change of the list), synced and renamed over the
// list, so it is either whole and on the disk or not changed, with the
// old list's permission bits. Nothing is written when nothing changes.
// FS_NOT_FOUND for a missing entry; FS_BAD_ARGUMENT for a name with a
// newline (no line can hold it) and for "/" (no folder lists it). A name
// beginning with '.' is hidden by its name alone: FSSetInvisible answers 0
// and writes no list, FSClearInvisible FS_BAD_NAME (it cannot be shown but
// by renaming it). A ".hidden" that is not a plain file (a link, a folder,
// a pipe), or larger than FS_HIDDEN_LIST_MAX bytes, gives FS_IO_ERROR and is
// left alone, and so does a change that would make the list larger than
// that (the readers would refuse it): the list is kept as it was. A list
// another program replaced or changed in place while the new one was
// written is kept too (FS_BAD_ARGUMENT); so is one this process may not
// write (FS_ACCESS_DENIED). Callers of this library never lose each
// other's changes: the list is read, changed and written under the
// folder's lock, waited for while another holds it (at most a minute, then
// FS_IO_ERROR); where this user can have no lock folder (see the README)
// the change is refused, FS_IO_ERROR, rather than made without the lock.
// Bytes that are not text are kept as any others. The
// entry's stored invisible flag (see Finder information below) is set or
// cleared with the list, under the entry's own lock taken after its
// folder's, where it can be stored (a link keeps none, nor a file system
// without user attributes, nor, for FSSetInvisible, an entry this process
// may not write: the list hides it all the same); a name beginning with '.'
// gets it set. The list is written first when hiding and the value first
// when showing, so that this library and the desktop see the entry alike
// at every instant, a killed change included (the entry then reads hidden
// to both); a second write that fails takes the first one back. A stored
// flag that cannot be cleared gives FS_ACCESS_DENIED, and a value that is
// not a valid header FS_IO_ERROR; then neither is changed.
//
// The folder and the entry are opened once, and the list and the value
// read, checked and written through them, whatever their names lead to
// meanwhile. A change answers 0 only when, at its end, its path still leads
// to the entry changed, in the folder whose list was changed: where it
// leads to another one by then (a copy replaced the entry or its folder),
// the change is made again on that one, at most four times in all, then
// FS_BAD_ARGUMENT. What was written to the one left behind stays with it.
constexpr std::size_t FS_HIDDEN_LIST_MAX = 1 << 20;
INT_S32 FSSetInvisible(const char* path);
INT_S32 FSClearInvisible(const char* path);

// ---- Walks ----

// Told of each entry: its path, its name, its level (1 for the
// container's own entries) and whether it is a folder (a link never is).
// Returns true to end the walk.
typedef bool (*FS_ITERATE_FILTER)(const char* path, const char* name, INT_U32 level, bool is_directory, void* data);
struct FS_ITERATE_STATE
{
    INT_U32 max_levels;    // 0: every level
    INT_U32 current_level; // of the folder being walked
    FS_ITERATE_FILTER filter;
    void* data;
    bool quit; // set once the filter ended the walk
};
// Walks `container` depth first, entering sub-folders while max_levels is
// 0 or their level is below it (never through links). A walk the filter
// ends is a success; a folder that cannot be read ends it with its error.
// A tree deeper than FS_WALK_MAX_LEVELS (file_system.h) is refused: the
// container's own entries are level 1, an entry at level
// FS_WALK_MAX_LEVELS is taken (an empty folder there included), and the
// first entry found below it ends the walk with FS_IO_ERROR, untold.
INT_S32 FSIterateContainer(const char* container, INT_U32 max_levels, FS_ITERATE_FILTER filter, void* data);
// One folder of that walk, at state->current_level.
INT_S32 FSIterateContainerLevel(const char* folder, FS_ITERATE_STATE* state);
// The paths of a folder's entries as blocks from malloc, as
// FSGetMountedVolumes gives them.
INT_S32 FSGetDirectoryItems(const char* container, LINKED_LIST* items, INT_U32* count);

// ---- Byte-range locks ----

// Locks `count` bytes from `start` for this open file (count 0: to the
// end, however far the file grows); another opener's lock on any of them
// gives FS_RANGE_OVERLAP. Locks belong to the open file, not the process:
// a second open of the same file in this process conflicts too, and
// closing the last descriptor releases them. A descriptor opened read-only
// takes a shared lock, which stops other openers' locks from writable
// descriptors only.
INT_S32 FSLockRangeCompat(int fork, INT_U64 count, INT_U64 start);
INT_S32 FSUnlockRangeCompat(int fork, INT_U64 count, INT_U64 start);

// ---- Users and groups ----

enum : INT_S16
{
    FS_MAP_OWNER_ID = 1,   // FSMapID: user id to name
    FS_MAP_GROUP_ID = 2,   // FSMapID: group id to name
    FS_MAP_OWNER_NAME = 3, // FSMapName: user name to id
    FS_MAP_GROUP_NAME = 4, // FSMapName: group name to id
};
// FS_NOT_FOUND for an id or name the system does not know.
INT_S32 FSMapID(INT_S32 id, INT_S16 kind, char* name, std::size_t size);
INT_S32 FSMapName(const char* name, INT_S16 kind, INT_S32* id);

// ---- File-id references ----

// Names a file whatever it is called later, while its volume stays
// mounted. A folder gives FS_NOT_A_FILE; a file system that gives out no
// handles FS_NOT_SUPPORTED.
struct FS_FILE_ID
{
    INT_S32 mount_id;
    INT_S32 type;
    INT_U32 size; // bytes of handle in use
    INT_U8 handle[128];
};
INT_S32 FSCreateFileIDRef(const char* path, FS_FILE_ID* id);
// The file's present path: FS_FILE_ID_NOT_FOUND once it was deleted or for
// an id of another volume; FS_ACCESS_DENIED where the process lacks the
// right to open files by handle.
INT_S32 FSResolveFileIDRef(const char* volume, const FS_FILE_ID* id, char* path, std::size_t size);

// ---- The default folder ----

// Makes `folder` the working directory; the one before goes to old_folder.
INT_S32 FSSetDefault(const char* folder, char* old_folder, std::size_t size);
INT_S32 FSRestoreDefault(const char* old_folder);

// ---- Copies, moves and exchanges ----

// Copies everything of one open file into another from the start: the
// destination's size is set first (to the source's when both are files,
// else to 0, as for a destination open to append), then pieces of the
// buffer's size (rounded down to a multiple of 4096 when 4096 or more) go
// across until the source's end. Two files on one
// volume are copied by the kernel without the buffer. A null buffer or a
// size of 0 gives FS_BAD_ARGUMENT, and so do two ends on one file (nothing
// changed). A copy that fails part-way leaves the destination file holding
// just the bytes that arrived.
INT_S32 FSCopyFork(int source, int destination, void* buffer, std::size_t buffer_size);
// Copies one file (FS_NOT_A_FILE for a folder) into dest_dir under
// new_name (null or empty: the same name); never replaces (FS_EXISTS).
INT_S32 FSCopyFile(const char* dir, const char* name, const char* dest_dir, const char* new_name);
// FSMoveRenameObjectUnicode under its one-call name.
INT_S32 FSMoveRename(const char* dir, const char* name, const char* dest_dir, const char* new_name);
// Exchanges two files' contents: each path afterwards names what the other
// held, permission bits, owner and times included. Folders give
// FS_NOT_A_FILE, two volumes FS_DIFFERENT_VOLUMES. A path through links
// stands for the file they lead to: that file is exchanged and the links
// are left leading to it; a dangling link gives FS_NOT_FOUND, and a file
// moved while the exchange finds it FS_BAD_ARGUMENT. Where the file system
// cannot swap in one step, three renames through a free temporary name
// beside the first file do it, undone on a failure.
INT_S32 FSExchangeObjectsCompat(const char* a, const char* b);

// ---- Finder information ----

// Each file's and folder's Finder information is kept in its extended
// attribute "user.org.netatalk.Metadata", where the two file servers that
// share Linux folders with that platform's clients keep it, so that what is
// stored here is what their clients see, and the reverse. The value is an
// AppleDouble version 2 header, big-endian; its entry 9 holds the 32 bytes
// the routines take and give as they stand: 16 of Finder information (type
// at 0-3, creator at 4-7, flags at 8-9, big-endian, the rest the Finder's
// own) and 16 of extended information. Numbers given to the routines (codes,
// flags) are stored big-endian: creator 'KIVO' = 0x4B49564F is the bytes
// "KIVO" at 4-7.
//
// FSGetFinderInfo gives the bytes and whether the object is a folder (any
// out argument may be null); an object without a value, or with a valid one
// holding no Finder entry, reads as zeros. The invisible flag reads set
// when the object is hidden by its name (a leading '.'), by its folder's
// ".hidden" list (see FSSetInvisible) or by the stored flag.
//
// The setters change only what they name and keep every other byte of the
// value, its other entries included; an object without a value gets the
// 402 bytes the servers make (their eight entries, the dates from the
// object's times), and none is made for a change that changes nothing. A
// value in another layout (other entries, another order or size, as long
// as its header is valid) is read and edited where it stands, though a
// file server may not show a value it did not lay out itself. The
// invisible flag, given to FSSetFinderInfo (neither buffer may be null) or
// FSChangeFinderFlags, goes through FSSetInvisible / FSClearInvisible and
// their answers (a name beginning with '.': setting answers 0, clearing
// FS_BAD_NAME and changes nothing). FSChangeCreatorType leaves a code given
// as 0 as it is. Each read, change and write of a value is made through
// the object opened once, under the object's own lock, whatever name
// reached it (two hard links in two folders take the same lock), and the
// value written whole in one call; a change of the invisible flag takes
// the folder's lock first, as the hidden lists do; where no lock can be
// had a change is refused as theirs is. A change answers 0 only
// when its path leads, at its end, to the object carrying it, as for the
// hidden lists. A value that is not a valid header (magic, version, count,
// an entry outside the value, a Finder entry shorter than 32 bytes or over
// the header) gives FS_IO_ERROR and is never overwritten; so does, to a
// setter, a valid value without a Finder entry (adding one would move the
// others). The value is read again just before it is written: one another
// program changed, made or removed meanwhile is taken as it is now and the
// change made on it (at most four times, then FS_BAD_ARGUMENT), so that
// change is kept.
//
// A path that is a link stands for what it leads to (a dangling link gives
// FS_NOT_FOUND); the invisible flag then goes into the list of the folder
// of what it leads to. A file system without user extended attributes (and
// an object other than a file or folder) keeps no value: there a setter
// that would store something answers FS_NOT_SUPPORTED and changes nothing,
// one with nothing to change answers 0, and the invisible flag goes into
// the list alone. Copies (FSCopyObject, FOLDER::copy) carry the value, with
// has-been-initialised cleared; FSCopyFileMgrAttributes copies the 32 bytes.
// A whole-file save keeps it as it stands (FOLDER::replace_file).
enum : INT_U16
{
    FS_FLAG_INVISIBLE = 0x4000,
    FS_FLAG_NAME_LOCKED = 0x1000,
    FS_FLAG_STATIONERY = 0x0800,
    FS_FLAG_HAS_CUSTOM_ICON = 0x0400,
    FS_FLAG_HAS_BEEN_INITED = 0x0100,
};
INT_S32 FSGetFinderInfo(const char* path, INT_U8* finder_info, INT_U8* extended_info, bool* is_directory);
INT_S32 FSSetFinderInfo(const char* path, const INT_U8* finder_info, const INT_U8* extended_info);
INT_S32 FSChangeCreatorType(const char* path, INT_U32 creator, INT_U32 type);
INT_S32 FSChangeFinderFlags(const char* path, bool set_bits, INT_U16 flag_bits);
INT_S32 FSSetNameLocked(const char* path);
INT_S32 FSClearNameLocked(const char* path);
INT_S32 FSSetIsStationery(const char* path);
INT_S32 FSClearIsStationery(const char* path);
INT_S32 FSSetHasCustomIcon(const char* path);
INT_S32 FSClearHasCustomIcon(const char* path);
INT_S32 FSClearHasBeenInited(const char* path);

#endif
