#ifndef KIVO_FILE_SYSTEM_CATALOG_INTERNAL_H
#define KIVO_FILE_SYSTEM_CATALOG_INTERNAL_H

// The pieces of the catalog routines that tests reach on their own: the
// mount-table reader, the volume mount records, the edit of a folder's
// list of hidden names, the reading and editing of the metadata values
// that keep Finder information, the exchange that file systems without an
// atomic swap take, the reading of a failed open by file id, the moment a
// walk goes into a folder, the moment a hidden list is replaced, the
// copies' way for file systems that cannot swap two entries and the saves'
// way for file systems that cannot make unnamed files.
#include "kivo_types.h"

#include <cstddef>
#include <string>
#include <vector>

struct FS_MOUNT_ENTRY
{
    INT_S32 mount_id = 0;
    std::string mount_point; // octal escapes undone, as in every field here
    std::string fs_type;
    std::string source;
    std::string mount_options; // of this mount: "rw,nosuid,relatime"
    std::string super_options; // of the file system: "rw,size=2048k"
};

// One line of /proc/self/mountinfo, without its newline. False for a line
// that is not one (too few fields, no "-" separator, a mount point that is
// not absolute or holds an escaped NUL).
bool fs_parse_mount_line(const std::string& line, FS_MOUNT_ENTRY& entry);

// A volume mount record (its layout is in file_system_catalog.h) taken
// apart. flags are mount(2)'s MS_* bits.
struct FS_MOUNT_RECORD
{
    INT_U32 flags = 0;
    std::string source;
    std::string fs_type;
    std::string options;
    std::string mount_point;
};
// The mount(2) flags of a mount's own options ("ro,nosuid,noatime").
INT_U32 fs_mount_flags(const std::string& mount_options);
// The record of a mount.
std::string fs_make_mount_record(const FS_MOUNT_ENTRY& entry);
// Reads a record from `size` bytes. False for anything that is not one:
// a length field outside 12..size, another version, flags this host does
// not know, a string without its NUL within the length, bytes after the
// fourth string, an empty type or a mount point that is not absolute.
bool fs_parse_mount_record(const INT_U8* bytes, std::size_t size, FS_MOUNT_RECORD& record);

// Adds `name` (hide) to, or removes it from, the bytes of a folder's
// ".hidden" list, one name a line: added once at the end (after a newline
// put to a last line without one), removed wherever a line is exactly it;
// every other byte is kept. True when the list changed.
bool fs_edit_hidden_list(std::string& list, const std::string& name, bool hide);

// A metadata value (the attribute FS_FINDER_ATTRIBUTE) is a big-endian
// header: magic, version, 16 filler bytes, a 16-bit count, then that many
// descriptors {u32 id, u32 offset, u32 length}. Entry 9 is the Finder
// information: 16 bytes of its own (type, creator, flags, ...) and 16 of
// extended information.
extern const char FS_FINDER_ATTRIBUTE[];
constexpr std::size_t FS_FINDER_INFO_BYTES = 32;
// The size of the value the file servers make, and where its Finder
// entry lies.
constexpr std::size_t FS_FINDER_VALUE_BYTES = 402;
constexpr std::size_t FS_FINDER_VALUE_INFO_AT = 122;
// fs_find_finder_entry's answer for a valid value without a Finder entry.
constexpr std::size_t FS_NO_FINDER_ENTRY = static_cast<std::size_t>(-1);

// Walks the descriptors of `size` bytes of a value, in whatever order they
// stand. False for a value that is not a valid header: shorter than its
// header and descriptors, another magic or version, an entry reaching past
// the end, a Finder entry shorter than 32 bytes or lying over the header or
// the descriptors (writing it would damage them). True with `finder_at`
// the offset of the (first) Finder entry, or FS_NO_FINDER_ENTRY.
bool fs_find_finder_entry(const INT_U8* value, std::size_t size, std::size_t& finder_at);

// Puts the bits of `bytes` that `mask` has set (32 bytes each) into the
// Finder entry of a valid value; every other bit and byte stays. False,
// nothing changed, for a value that is not valid or has no Finder entry.
bool fs_edit_finder_value(std::vector<INT_U8>& value, const INT_U8* bytes, const INT_U8* mask);

// The dates of a new value, in seconds since 1970 (UTC).
struct FS_FINDER_DATES
{
    INT_S64 created = 0;
    INT_S64 modified = 0;
    INT_S64 accessed = 0;
};
// A date as the values keep it: signed seconds since 2000-01-01 UTC, held
// within the 32 bits (0x80000000 means "never" and is not given).
INT_U32 fs_finder_date(INT_S64 unix_seconds);
// The value the servers make for an object that has none: their eight
// entries in their order (comment, dates, Finder information at 122, the
// file information and four of their own, all but the dates and the
// Finder information empty), FS_FINDER_VALUE_BYTES long.
std::vector<INT_U8> fs_make_finder_value(const INT_U8* finder_info, const FS_FINDER_DATES& dates);

// Exchanges two entries of one volume by renaming the first to a free
// temporary name beside it, the second to the first, and the temporary to
// the second; a failed step undoes the ones before.
INT_S32 fs_exchange_by_renaming(const char* a, const char* b);

// The result for an errno of open_by_handle_at: FS_FILE_ID_NOT_FOUND for
// every answer that means the file is gone (ESTALE, and ENOMEM from ext4
// while its inode is being reused).
INT_S32 fs_file_id_open_error(int err);

// Called, when set, after a walk has told of a folder and before it goes
// into it: tests change the tree at that moment. Null in the program.
extern void (*fs_walk_before_descent)(const char* path);

// Called, when set, once a new hidden list is written and before it takes
// the old one's place: tests change the old list at that moment. Null in
// the program.
extern void (*fs_hidden_list_before_write)();

// Called, when set, once a Finder change has found its object and before
// it takes the object's lock: tests replace the object at that moment.
// Null in the program.
extern void (*fs_finder_before_hold)();

// When set, replacing copies take the way of file systems that cannot swap
// two entries even where the file system can: the old entry steps aside
// under a marked name and the new one then takes the name. Called between
// the two renames: tests end or stop the copy at that moment. Null in the
// program.
extern void (*fs_copy_set_aside)();

// When set, temporary files are made as where the file system refuses
// unnamed files (O_TMPFILE): under a name from the start. Called once the
// new file has that first name and before it carries its mark: tests stop
// a save at that moment, or stretch it so that kills land in it. Null in
// the program.
extern void (*fs_no_unnamed_files)();

// The steps of a save written in place (see FOLDER::finish_file): the copy
// of the old bytes made (a marked temporary, empty), holding them synced,
// under its kept name; a block of the new bytes written into the file
// (after each), all of them, synced; the copy removed.
enum FS_IN_PLACE_STEP
{
    fs_step_copy_made = 1,
    fs_step_copy_synced,
    fs_step_copy_kept,
    fs_step_new_bytes_part,
    fs_step_new_bytes_written,
    fs_step_new_bytes_synced,
    fs_step_copy_removed,
};

// Called, when set, after each step of a save written in place: tests end
// the save at that moment. Null in the program.
extern void (*fs_save_in_place_step)(int step);

// Called, when set, once a save's new file that found no room for its old
// file's attributes beside its mark has a name bound to it, no mark and
// those attributes, before it takes its target's name: tests end the save
// at that moment. Null in the program.
extern void (*fs_save_unmarked)();

// When set, called once a copy's new folder has its private name and
// before it carries its mark and lock: tests hold that lock as another's
// clean-up would. Null in the program.
extern void (*fs_temporary_folder_made)();

#endif
