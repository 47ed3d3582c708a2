#ifndef KIVO_HOST_UTILS_H
#define KIVO_HOST_UTILS_H

// Small host services: sleeps, the text clipboard, length-prefixed and
// UTF-16 string conversions, the user's and machine's names, the
// system-information record and desktop services. get_ms_count lives in
// kivo_host.h.
#include "kivo_types.h"

#include <cstddef>

class FOLDER;

// Sleeps s seconds / ms milliseconds (whole seconds first, then the rest).
// While the fake clock is on they advance its millisecond counter instead.
void wait_in_seconds(INT_U32 s);
void wait_in_ms(INT_U32 ms);

// The text clipboard, shared with other programs as UTF-8 and converted to
// and from the system's 8-bit text (characters above 0xFF as escape runs).
// SDL video is started on first use. get_clipboard_text copies at most
// size - 1 bytes and a NUL, never splitting an escape group; false when
// there is no text, or buf is null or size 0.
bool is_text_in_clipboard();
bool get_clipboard_text(char* buf, std::size_t size);
// A null text is ignored (false).
bool set_clipboard_text(const char* text);
// Puts the clipboard entries into the core's host table (idempotent).
void install_clipboard_host();

// Length-prefixed strings: one length byte, then the characters. Texts of
// 255 or more characters keep their first 254. The buffer holds 256 bytes;
// the forms without one use a static buffer overwritten by the next call.
unsigned char* C_TO_P_STR_BUFFER(const char* text, unsigned char* buffer);
unsigned char* C_TO_P_STR(const char* text);
// NUL-terminated copy of a length-prefixed string (buffer of 256 bytes).
char* P_TO_C_STR_BUFFER(const unsigned char* pstring, char* buffer);
char* P_TO_C_STR(const unsigned char* pstring);
// The low byte of each UTF-16 unit. count < 0: up to the first 0 unit;
// count 0: empty; at most 255 units either way (buffer of 256 bytes).
char* UTF16_TO_C_STR_BUFFER(const INT_U16* units, long count, char* buffer);
char* UTF16_TO_C_STR(const INT_U16* units, long count);
// count UTF-16 units as system text in a static 1024-byte buffer: units up
// to 0xFF as that byte, runs of larger units as 0x01, ",%04x" per unit,
// 0x01. A text too long for the buffer ends at a unit boundary, with its
// run closed.
char* cfstring_to_string(const INT_U16* units, long count);
// The string resource of that id as new UTF-16 units, ended by a 0 unit
// (the caller's to delete[]); null when there is no such resource. This
// host keeps no string resources, so the answer is always null.
INT_U16* CreateCFStringFromStringResource(INT_S16 id);

// The login name (short_name non-zero), else the full name from the
// password database when it has one. "" when neither is known.
char* MoreCSCopyUserName(INT_U8 short_name);
// The machine's host name; "" when unknown.
char* MoreCSCopyMachineName();
// Always false on this host.
bool is_macosx();

// What the system reports about itself. get_system_info fills it and may
// be called again: the three arrays are freed first, and by the destructor.
class PLATFORM_CAPS
{
public:
    PLATFORM_CAPS() = default;
    ~PLATFORM_CAPS();
    PLATFORM_CAPS(const PLATFORM_CAPS&) = delete;
    PLATFORM_CAPS& operator=(const PLATFORM_CAPS&) = delete;

    void get_system_info();

    INT_U8 platform_id = 0;          // 17 on this host
    INT_U32 os_version = 0;          // 0: the version text is uname's
    char* os_version_text = nullptr; // new[50]: system name and release
    INT_U8 flag_1 = 0;               // 1
    INT_U8 flag_2 = 0;               // 0
    char host_name[256] = {};        // up to the first '.'
    INT_S32 processor_count = 0;
    INT_U32 value_1 = 0;              // 2
    INT_U32* processor_mhz = nullptr; // new[processor_count]; 0 when unknown
    INT_U8 flag_3 = 0;                // 0
    INT_U32 ram_mb = 0;               // 1024 when unknown
    INT_U32 logical_ram_mb = 0;       // 1024 when unknown
    INT_S32 free_memory_mb = 0;
    INT_U32 logical_ram_mb_2 = 0; // logical_ram_mb again
    INT_U8 flag_4 = 0;            // 1
    INT_S16 volume_count = 0;
    INT_U32* volume_free_mb = nullptr; // new[volume_count]; 0 when unreadable
    INT_U8 flag_5 = 0;                 // 1
    INT_U8 flag_6 = 0;                 // 1
    char network_host_name[100] = {};
    char network_address[20] = {};
    INT_U8 has_keyboard = 0; // 1
    INT_U8 flag_7 = 0;       // 1
    INT_U16 mouse_buttons = 0;
    INT_U8 reserved[3] = {};

private:
    void free_arrays();
};

// Desktop services. The opener is xdg-open, or `gio open` where xdg-open is
// not installed, started without a shell with the path or address as one
// argument; 0 when it started, non-zero when it could not be started (an
// address that starts with '-' is refused). A null folder means the name
// is the whole path; with a folder, the name is one entry of it (a name
// holding '/', or "." or "..", is refused with FS_BAD_ARGUMENT). A file
// that does not exist gives FS_NOT_FOUND and starts nothing.
INT_S32 open_url_in_default_browser(const char* url);
INT_S32 open_file_with_default_app(FOLDER* folder, const char* name);
// Starts the program and ends this one: status 0, or 1 with the reason
// when it could not be started.
[[noreturn]] void run_program(FOLDER* folder, const char* name);
// This program's file: its folder and its name (name holds 256 bytes).
bool get_running_app(FOLDER* folder, char* name);
// Shortcuts on the desktop ($XDG_DESKTOP_DIR when absolute, else
// $HOME/Desktop; -43 when it is missing). Type 2: "<name>.url" holding the
// target as an internet shortcut; other types: a symbolic link `name` (the
// target's base name when name is null or empty) to the target. The target
// is target_folder's path and `target`, or `target` alone. arg3, arg5 and
// arg6 are not used on this host. A target holding a control character
// (below 0x20, or 0x7F) is refused with FS_BAD_ARGUMENT and nothing is
// made. 0 or a negative file-system code.
INT_S32 create_desktop_shortcut(short type, const char* target, const char* arg3, const char* name, const char* arg5,
                                const char* arg6, FOLDER* target_folder);
INT_S32 remove_desktop_shortcut(short type, const char* target, const char* arg3, const char* name, const char* arg5,
                                const char* arg6, FOLDER* target_folder);
// Nothing on this host.
INT_S32 create_os_menu_shortcut();
INT_S32 remove_os_menu_shortcut();
// Reaps finished openers without waiting; runs at each start of an opener
// and at exit.
void reap_finished_openers();

#endif
