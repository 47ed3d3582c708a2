#ifndef KIVO_FOLDER_H
#define KIVO_FOLDER_H

// A FOLDER names a directory. Programs position one with a portable alias
// path ("$APPDATA/images", "$HERE/../config") and open files by name in
// it; a FOLDER describes itself back as an alias path, which is how it is
// stored. Here the location is the directory's canonical absolute path.
//
// Aliases (N = the application's name, E = the executable's folder):
//   $APP, $BASE          alternative base path; else $KIVO_APP_DIR; else E
//   $SYSAPP, $INSTDATA   /opt/N
//   $APPDATA             first existing of E/../share/N, $XDG_DATA_DIRS/N
//   $USERDATA            $XDG_DATA_HOME/N   (~/.local/share/N)
//   $USERPREFS           $XDG_CONFIG_HOME/N (~/.config/N)
//   $TEMP                a private folder made for this run under $TMPDIR
//   $ROOT0               /
//   $FONTDATA, $ICONDATA the folders above + "fonts" / "icons"
//   $HERE                the reference folder, or where the folder is
// Failed lookups fall back to "$APP" and its "data" folders.
#include "data_device.h"
#include "data_file.h" // FILE_MODE
#include "kivo_types.h"

#include <cstdio>

class TEXT_FILE;

enum SYSTEM_PATH_TYPES : int
{
    spt_application = 0,
    spt_system_applications = 1,
    spt_installed_data = 2,
    spt_shared_application_data = 3,
    spt_user_data = 4,
    spt_user_preferences = 5,
    spt_temporary = 6,
};

// How a contents list matches names against its filter; values above 7
// behave as 0.
enum FOLDER_FILTER_TYPE : int
{
    fft_ends_with = 0,
    fft_ends_with_nocase = 1,
    fft_starts_with = 2,
    fft_starts_with_nocase = 3,
    fft_contains = 4,
    fft_contains_nocase = 5,
    fft_equals = 6,
    fft_equals_nocase = 7,
};

class FOLDER;

// One entry of a contents list; `name` is valid until the next call.
struct FOLDER_CONTENT_ENTRY
{
    FOLDER* folder = nullptr;
    char* name = nullptr;
    INT_U8 is_directory = 0;
    INT_U8 is_hidden = 0;
    INT_U16 mode = 0;
    INT_U32 size = 0;
    INT_U32 modified = 0;
};

struct FOLDER_FILE_SETTINGS
{
    INT_U8 is_directory = 0;
    INT_U8 is_hidden = 0;
    INT_U16 mode = 0;
    INT_U32 size = 0;
    INT_U32 modified = 0;

    // "%.1lf %s" with G, M, k or b (static buffer).
    char* get_size_string();
    // ctime of `modified` without its newline (static buffer).
    char* get_modtime_string();
};

// Open contents list (see FOLDER::start_contents_list).
struct FOLDER_CONTENTS_LIST;

class FOLDER : public DATA_DEVICE_CLIENT
{
public:
    // The canonical absolute path, NUL-terminated.
    INT_U8 location[2048];

    // Note the 4th flag: skip_system (set's 4th is create_alias).
    explicit FOLDER(const char* path = "$APP", INT_U8 create = 0, FOLDER* relative_to = nullptr,
                    INT_U8 skip_system = 0);
    FOLDER(const FOLDER& f);
    FOLDER& operator=(const FOLDER& f);
    ~FOLDER() override;

    // Same directory (device and inode).
    bool operator==(const FOLDER& f) const;
    bool operator!=(const FOLDER& f) const { return !(*this == f); }

    // Positioning.
    bool set(const char* path, INT_U8 create = 0, FOLDER* relative_to = nullptr, INT_U8 create_alias = 0,
             INT_U8 no_fallback = 0, INT_U8 skip_system = 0);

    // While one lives (they nest), set works out each alias path once: a
    // later set of the same text with the same flags, creating nothing and
    // with no folder to start from, takes the folder and result found the
    // first time, until alias_generation moves. For work that positions
    // folders by the same few paths many times over and may take the disk
    // as it stood for its length, such as reading one definition file.
    // "$HERE" (which depends on the folder) and "$TEMP" (whose first use
    // makes a folder) are always worked out.
    class RESOLVE_ONCE
    {
    public:
        RESOLVE_ONCE();
        ~RESOLVE_ONCE();
        RESOLVE_ONCE(const RESOLVE_ONCE&) = delete;
        RESOLVE_ONCE& operator=(const RESOLVE_ONCE&) = delete;
    };
    bool goto_preset_folder(const char* alias, INT_U8 create = 0, FOLDER* relative_to = nullptr, INT_U8 no_fallback = 0,
                            INT_U8 skip_system = 0);
    // app_name null: the application's own name.
    bool get_system_folder(SYSTEM_PATH_TYPES type, const char* app_name, INT_U8 create);
    bool move_down(const char* name, INT_U8 create = 0);
    bool move_up();
    bool change_to_drive(short n);
    bool set_from_path_string(const char* native_path);
    static bool validate_path(const INT_U8* location);

    // Description. The alias path forms need `out` of at least 2048 bytes;
    // they return false (and write "") when the path does not fit.
    bool get(char* out, FOLDER* relative_to = nullptr);
    bool calc_relative_path(char* out, FOLDER& f);
    bool get_path_to(FOLDER& target, char* out);
    // Native path, with "/" and `file` appended when given (static buffer;
    // "" when the result would not fit). `file` is one entry of the folder:
    // a name holding '/', or "." or "..", gives "" and error 0x100C.
    char* get_path_string(const char* file = nullptr);
    // The folder's own name ("" when there is none; static buffer).
    char* get_directory_name();
    // Native path of an alias path; the folders need not exist (static
    // buffer; "" when the result would not fit).
    static char* get_path_string_from_custom(const char* alias_path, const char* file = nullptr);
    static short get_drive_count();
    static char* get_drive_name(short n);
    short get_current_drive();
    static short get_drive_type(short n);

    // Record: u8 OS id (0xFF) and the 2048-byte alias path block. Reading
    // a path whose alias is unknown, or that confine_stored_path refuses,
    // fails (error 0x1007, d.error set) and leaves the folder where it was.
    // A record of a host location (any other id) gives "$APP".
    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    // Whether set knows the alias a path begins with: a registered custom
    // path or a built-in alias. A path not beginning with '$' passes (set
    // refuses it without ending the program). set ends the program on an
    // unknown alias, so every path read from a file is checked first.
    static bool alias_is_known(const char* path);
    // Reads a FOLDER record into its alias path (`out`, 2048 bytes): "$APP"
    // when the place it names no longer exists. False on a short read, or
    // for a path get_from_data_device refuses (as it does).
    static bool get_old_folder(DATA_DEVICE& d, char* out);
    // Folder paths read from files come from outside: one may only lead
    // into the folder its alias names. Refused (false, `out` "") are
    // "$ROOT" paths (absolute ones), paths with a ".." step above the
    // alias's folder, and paths beginning with "..". `out` (2048 bytes)
    // gets the path with its ".." steps folded away, so that walking it
    // never climbs back out through a link. With `here`, "$HERE" stands
    // for that folder's alias path: the path may climb up to that alias's
    // folder, or, for a folder outside every alias, not above `here`.
    // Whether the alias is known is alias_is_known's answer. Paths the
    // program builds itself are not held to this.
    static bool confine_stored_path(const char* path, char* out, FOLDER* here = nullptr);

    // Custom aliases, checked before the built-in ones (exact case).
    static void add_custom_path(const char* name, FOLDER& f);
    static void remove_custom_path(const char* name);
    static void delete_custom_path(void* entry);
    static void set_alt_base_path(FOLDER& f, const char* app_name);
    static void clear_alt_base_path();
    static void set_alt_icon_path(FOLDER& f);
    static void clear_alt_icon_path();
    static void get_alt_base_path(FOLDER& out, char* app_name_out, unsigned short size);
    static void get_alt_icon_path(FOLDER& out);
    static void write_default_path_trace();

    // Native path of the "$TEMP" folder made by this run ("" before).
    static char temp_path[2048];
    // Forgets the cached executable folder and name (tests change them).
    static void reset_host_cache();
    // Changes whenever what an alias names may have changed short of the
    // disk: custom and alternative paths, the host cache, the "$TEMP"
    // folder, the environment. An alias path worked out for a folder stays
    // its description while this holds and the folders on disk stay as
    // they were. Costs no system call.
    static INT_U32 alias_generation();

    // Files. A mode beginning with 'w' writes the file whole (see
    // open_whole_file): the target changes only when close_file succeeds.
    // Other modes work on the file in place. Only a regular file outside
    // the kernel's file systems is opened, judged by what the open found,
    // and no open waits (a pipe or device at the name is refused at once).
    FILE* open_file(const char* name, const char* stdio_mode);
    // Closes a stream (see finish_file); true when everything written
    // reached the disk.
    bool close_file(FILE* fp);
    // byte_order -1: the file starts with a byte-order byte (0 written, read
    // back as the swap flag); any other value: no such byte, swap = value.
    DATA_FILE* open_data_file(const char* name, FILE_MODE mode, char byte_order, INT_U8 gzip = 0);
    bool open_data_file(const char* name, FILE_MODE mode, char byte_order, DATA_FILE* file, INT_U8 gzip);
    // Flushes, closes and deletes the file; nulls the pointer. True when
    // everything written reached the disk (true for a null pointer).
    bool close(DATA_FILE*& file);
    TEXT_FILE* open_text_file(const char* name, FILE_MODE mode, INT_U8 unicode);
    bool open_text_file(const char* name, FILE_MODE mode, INT_U8 unicode, TEXT_FILE* file);
    // As close (DATA_FILE*&).
    bool close(TEXT_FILE*& file);

    // Whole-file saves. SIGXFSZ is ignored from start-up (where it still
    // has its default action), so a save past the file-size limit fails
    // with EFBIG and is reported instead of ending the program. The stream
    // is a new file beside the target (beside the real file when the
    // target is a symbolic link), with the target's permission bits, or a
    // new file's when there is no target (the owner's write bit added
    // until the file is in place). A target that exists and is not a plain
    // file (a device) is opened in place instead. Null on failure. The new
    // file is named ".<target>.kivo-save.XXXXXX" (a target name longer than
    // 200 bytes: its first 200 bytes, '.', and 16 hex digits of a hash of
    // it); it is made without a name where the file system can (O_TMPFILE)
    // and named only once it carries the temporary mark naming the target
    // (fs_mark_temporary), which comes off after its rename; where the old
    // file's extended attributes leave the mark no room beside them, the
    // new file takes a name of the pattern bound to it (see the README)
    // and loses the mark before it is given them. Before the target is
    // looked at, under the folder's lock (waited for at most 60 s), what
    // killed saves and copies of the same target left is cleared: files of
    // exactly that pattern whose mark names the target, or whose name is
    // bound to them, and whose save no longer runs (their lock is free)
    // are removed, and
    // an old entry a killed copy set aside is given back, and entries of
    // the private name temporaries have before their mark go when marked
    // so, or empty and unmarked (see fs_mark_temporary); nothing else is
    // touched. Where the file system keeps no extended attributes nothing
    // is marked, so only those empty ones are removed there.
    static FILE* open_whole_file(const char* native_path, const char* stdio_mode);
    // Closes any stream. A whole-file save is flushed, fsynced, closed and
    // put in its target's place (replace_file) when `keep` is set and all
    // of that succeeded; otherwise the new file is removed and the target
    // is left as it was. Any other stream is flushed and closed. True when
    // everything written reached the disk (for a whole-file save: the
    // target now holds it).
    static bool finish_file(FILE* fp, bool keep);
    // The last step of every whole-file save: puts the finished file
    // `new_path` in the place of `target` (of the real file when `target`
    // is a symbolic link) and makes the change durable. new_path must lie
    // beside that real file: a rename cannot cross file systems. The new
    // file takes the owner and group, the extended attributes and the
    // permission bits of the file it replaces, and then its name, the
    // attributes and the rename under that file's lock. A file whose owner
    // or group this process cannot give, or that has other hard links, is
    // written in place instead, its old bytes first copied whole and synced
    // to ".<name>.kivo-old.XXXXXX" beside it, which is removed once the new
    // bytes are synced (see the README), its set-id bits given back (one
    // whose set-id bits this process could not give back is left as it
    // was: false); new_path is then removed. False
    // leaves both files as they were, except where a write in place failed
    // and the old bytes could not be written back: they stay in that copy.
    static bool replace_file(const char* new_path, const char* target);
    bool file_exists(const char* name, INT_U8 assume = 0);
    // Whether `name` here is a plain file to read: a regular file (through
    // links), not a device, pipe or socket, nor a file of the kernel's own
    // file systems (/proc, /sys). Asked before a file is opened.
    bool is_plain_file(const char* name);
    bool get_file_settings(const char* name, FOLDER_FILE_SETTINGS& s);
    bool set_file_permissions(const char* name, unsigned short mode);
    bool get_unique_name(char* out, short out_size, const char* suffix);

    // Copying, moving, deleting. A move never replaces an existing entry;
    // deleting never follows a symbolic link.
    bool copy(const char* name, FOLDER& dest, const char* new_name = nullptr);
    bool move(const char* name, FOLDER& dest, const char* new_name = nullptr);
    bool remove(const char* name);
    bool remove_directory(const char* name, INT_U8 recursive = 0);
    bool remove_directory_contents(const char* name);

    // Contents lists, sorted by name (case ignored first, then bytes).
    FOLDER_CONTENTS_LIST* start_contents_list(const char* filter, INT_U8 show_hidden, FOLDER_FILTER_TYPE type,
                                              INT_U8 filter_dirs);
    static bool get_contents_list_entry(FOLDER_CONTENTS_LIST* handle, FOLDER_CONTENT_ENTRY& e);
    static void stop_contents_list(FOLDER_CONTENTS_LIST* handle);

    void get_dir_list(INT_U8 directories, INT_U8 show_hidden, INT_U8 append, struct FOLDER_FILE_INFO*& list,
                      long& count, const char* filter = nullptr, FOLDER_FILTER_TYPE type = fft_ends_with,
                      long first_alloc = 10, long grow = 5);
    static void free_list(struct FOLDER_FILE_INFO*& list);

private:
    struct UNPOSITIONED
    {};
    explicit FOLDER(UNPOSITIONED);
    friend struct FOLDER_STATICS;
    friend struct FOLDER_FILE_INFO;

    const char* path() const { return reinterpret_cast<const char*>(location); }
    bool resolve(const char* path, INT_U8 create, FOLDER* relative_to, INT_U8 create_alias, INT_U8 no_fallback,
                 INT_U8 skip_system);
    bool set_location(const char* native_path);
    void ensure_positioned();
    bool go_app(INT_U8 create, INT_U8 skip_system);
    bool climb_for(const char* name);
    static bool is_custom_alias(const char* alias);
    // alias_is_known and confine_stored_path for a path read from d:
    // failing, d.error and error 0x1007 are set.
    static bool stored_path_is_usable(DATA_DEVICE& d, const char* path, char* confined);
    // Whether a native path lies on /proc, /sys or the like (or cannot be
    // looked at).
    static bool on_kernel_file_system(const char* native_path);
    // The same for the file an open descriptor reads.
    static bool descriptor_on_kernel_file_system(int fd);
    static void write_trace_text(const char* text);
    // Host form of one entry name (see fs_name_to_host), and the native
    // path of a child.
    static constexpr std::size_t host_name_sz = 2 * 255 + 1;
    static bool host_name(const char* name, char* out);
    bool child_path(const char* name, char* out) const;
    // Host forms of an entry name and of an optional new name ("" = none)
    // for a copy or move into dest; false when either cannot be used.
    bool host_names_for(FOLDER& dest, const char* name, const char* new_name, char* host, char* new_host);
};

// Entry of the array get_dir_list builds (free it with free_list).
struct FOLDER_FILE_INFO
{
    FOLDER_FILE_INFO() : folder(FOLDER::UNPOSITIONED{}) {}

    FOLDER folder;
    char name[256] = "";
    INT_U8 is_directory = 0;
    INT_U8 is_hidden = 0;
    INT_U8 read_only = 0;
    INT_U32 size = 0;
    INT_U32 modified = 0;
};

#endif
