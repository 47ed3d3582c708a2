#ifndef KIVO_DEBUG_STREAM_H
#define KIVO_DEBUG_STREAM_H

// A named diagnostic channel. Its flags decide whether a message goes to
// the console, a pop-up and/or a file in "$USERPREFS/debug", and which
// prefixes it carries. A channel is configured per user by the file
// "<name>_release.cfg" in that folder; without one it is silent.
//
// There is no constructor: a channel in static storage is all zero (and
// silent) until setup, so the global channels need no construction order.
#include "kivo_types.h"

class FOLDER;
class TEXT_FILE;

enum : INT_U16
{
    DEBUG_STREAM_WRITE_TO_CONSOLE = 0x0001,
    DEBUG_STREAM_WRITE_TO_POPUP_DIALOG = 0x0002,
    DEBUG_STREAM_WRITE_TO_FILE = 0x0004,
    DEBUG_STREAM_TRUNCATE_FILE_ON_FIRST_WRITE = 0x0008,
    DEBUG_STREAM_KEEP_FILE_OPEN = 0x0010,
    DEBUG_STREAM_WRITE_FILE_HEADER = 0x0020,
    DEBUG_STREAM_WRITE_STREAM_NAME = 0x0040,
    DEBUG_STREAM_WRITE_CODE_LOCATION = 0x0080,
    DEBUG_STREAM_TRIGGER_BREAKPOINT = 0x0100,
    DEBUG_STREAM_FILE_ROLLING_BACKUP = 0x0200,
    DEBUG_STREAM_SAVE_CONFIG_ON_EXIT = 0x0400,
    DEBUG_STREAM_WRITE_DATE = 0x0800,
};

class DEBUG_STREAM
{
public:
    ~DEBUG_STREAM();

    // Registers the channel (once), names it (null or empty gives
    // "Debug Stream %p"), stores the flags and, with load_config, reads its
    // configuration file.
    void setup(const char* name, INT_U16 flags, INT_U8 load_config);
    // Reads "<name>_release.cfg"; true when a file was read. The flags are
    // cleared first, so a channel without a file is silent.
    bool load_config();
    // Writes every setting to "<name>_release.cfg", creating the folder.
    bool save_config();
    // One message; source_file may be null.
    void write_to_stream(const char* source_file, long line, const char* text, INT_U8 newline);
    void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The first registered channel of that exact name, or null.
    static DEBUG_STREAM* find_stream(const char* name);

    char name[256];
    char filename[256];
    INT_U16 flags;
    INT_U8 first_write;  // set by setup, cleared by the first write that reached the file
    TEXT_FILE* file;     // the kept-open output file, or null
    INT_U16 write_count; // lines written since the file was last rolled over
    INT_U16 rolling_limit;
    INT_U8 log_refused; // the log's place held something else, told once on standard error

    // Every registered channel, in registration order.
    static DEBUG_STREAM** streams;
    static INT_S16 streams_sz;

private:
    void close_file();
    // Opens `file` on the log in f; a link or anything but a plain file in
    // its place is refused (see report_refused_log).
    void open_log(FOLDER& f);
    void report_refused_log(FOLDER& f);
    void unregister();
};

// The core's channels "KIVO Platform" and "KIVO Modules", the host's
// "Mac Event Loop Debug" and "WAV file loading debug", and the folders'
// "Default Path Trace"; all are set up before main with flags 0 and their
// configuration files read.
extern DEBUG_STREAM platform_debug_stream;
extern DEBUG_STREAM modules_debug_stream;
extern DEBUG_STREAM mac_event_loop_debug;
extern DEBUG_STREAM wav_debug;
extern DEBUG_STREAM default_path_trace;

#endif
