#include "debug_stream.h"

#include "config_file.h"
#include "folder.h"
#include "kivo_host.h"
#include "text_file.h"
#include "utils.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

DEBUG_STREAM** DEBUG_STREAM::streams = nullptr;
INT_S16 DEBUG_STREAM::streams_sz = 0;

// No constructor: zero storage until the set-up below runs, and a zero
// channel writes nothing, so a message from another file's static
// initialiser is merely dropped.
DEBUG_STREAM platform_debug_stream;
DEBUG_STREAM modules_debug_stream;
DEBUG_STREAM mac_event_loop_debug;
DEBUG_STREAM wav_debug;
DEBUG_STREAM default_path_trace;

namespace {

struct GLOBAL_CHANNELS
{
    GLOBAL_CHANNELS()
    {
        platform_debug_stream.setup("KIVO Platform", 0, 1);
        modules_debug_stream.setup("KIVO Modules", 0, 1);
        mac_event_loop_debug.setup("Mac Event Loop Debug", 0, 1);
        default_path_trace.setup("Default Path Trace", 0, 1);
        wav_debug.setup("WAV file loading debug", 0, 1);
    }
};
GLOBAL_CHANNELS global_channels;

const char* const DEBUG_FOLDER = "$USERPREFS/debug";

// The boolean keys of the configuration file and their flag bits.
struct FLAG_KEY
{
    INT_U16 bit;
    const char* key;
};
constexpr FLAG_KEY flag_keys[] = {
    {DEBUG_STREAM_WRITE_TO_CONSOLE, "write_to_console"},
    {DEBUG_STREAM_WRITE_TO_POPUP_DIALOG, "write_to_popup_dialog"},
    {DEBUG_STREAM_WRITE_TO_FILE, "write_to_file"},
    {DEBUG_STREAM_TRUNCATE_FILE_ON_FIRST_WRITE, "truncate_file_on_first_write"},
    {DEBUG_STREAM_KEEP_FILE_OPEN, "keep_file_open"},
    {DEBUG_STREAM_WRITE_FILE_HEADER, "write_file_header"},
    {DEBUG_STREAM_WRITE_STREAM_NAME, "write_stream_name"},
    {DEBUG_STREAM_WRITE_CODE_LOCATION, "write_code_location"},
    {DEBUG_STREAM_TRIGGER_BREAKPOINT, "trigger_breakpoint"},
    {DEBUG_STREAM_FILE_ROLLING_BACKUP, "file_rolling_backup"},
};

// Points the folder and the (cached) configuration file at a channel's
// settings; false when the folder cannot be set.
bool open_config(const char* name, FOLDER& f, CONFIG_FILE& cfg, INT_U8 create)
{
    if (!f.set(DEBUG_FOLDER, create, nullptr, create, 0, 0)) {
        return false;
    }
    char cfg_name[270];
    std::snprintf(cfg_name, sizeof cfg_name, "%s_release.cfg", name);
    cfg.set_filename(cfg_name, 1);
    return true;
}

} // namespace

void DEBUG_STREAM::setup(const char* stream_name, INT_U16 stream_flags, INT_U8 load)
{
    bool registered = false;
    for (INT_S16 i = 0; i < streams_sz; ++i) {
        registered = registered || streams[i] == this;
    }
    if (!registered && streams_sz < 0x7FFF) { // the count is 16 bits
        void* grown = std::realloc(streams, sizeof(DEBUG_STREAM*) * (streams_sz + 1));
        if (grown) {
            streams = static_cast<DEBUG_STREAM**>(grown);
            streams[streams_sz++] = this;
        }
    }
    if (stream_name && *stream_name) {
        std::snprintf(name, sizeof name, "%s", stream_name);
    } else {
        std::snprintf(name, sizeof name, "Debug Stream %p", static_cast<void*>(this));
    }
    flags = stream_flags;
    std::snprintf(filename, sizeof filename, "%.251s.txt", name);
    rolling_limit = 100;
    write_count = 0;
    if (load) {
        load_config();
    }
    close_file();
    first_write = 1;
    log_refused = 0;
}

bool DEBUG_STREAM::load_config()
{
    flags = 0;
    std::snprintf(filename, sizeof filename, "%.251s.txt", name);
    FOLDER f;
    CONFIG_FILE cfg;
    if (!open_config(name, f, cfg, 0) || !cfg.exists(f)) {
        return false;
    }
    char value[256];
    if (cfg.read(f, "filename", value) && value[0]) {
        std::snprintf(filename, sizeof filename, "%s", value);
    }
    INT_U32 number = 0;
    if (cfg.read(f, "disabled", number, 0) && number) {
        return true;
    }
    for (const FLAG_KEY& k : flag_keys) {
        number = 0;
        if (cfg.read(f, k.key, number, 0) && number) {
            flags |= k.bit;
        }
    }
    number = 100;
    cfg.read(f, "file_rolling_limit", number, 0);
    rolling_limit = static_cast<INT_U16>(number);
    return true;
}

bool DEBUG_STREAM::save_config()
{
    FOLDER f;
    CONFIG_FILE cfg;
    if (!open_config(name, f, cfg, 1)) {
        return false;
    }
    bool ok = true;
    for (const FLAG_KEY& k : flag_keys) {
        ok = cfg.write(f, k.key, (flags & k.bit) ? 1u : 0u, 0) && ok;
    }
    ok = cfg.write(f, "filename", filename) && ok;
    ok = cfg.write(f, "disabled", flags == 0 ? 1u : 0u, 0) && ok;
    ok = cfg.write(f, "file_rolling_limit", rolling_limit, 0) && ok;
    return ok;
}

void DEBUG_STREAM::close_file()
{
    if (file) {
        FOLDER f;
        f.close(file);
        file = nullptr;
    }
}

void DEBUG_STREAM::open_log(FOLDER& f)
{
    // The log is the file of its own name, never one that a link placed
    // where it goes leads to: it is opened (made when missing) without
    // following a link, and the stream written through must be that file.
    int fd =
        ::open(f.get_path_string(filename), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat held;
    if (fd < 0 || fstat(fd, &held) != 0 || !S_ISREG(held.st_mode)) {
        int err = fd < 0 ? errno : 0;
        if (fd >= 0) {
            ::close(fd);
        }
        if (fd >= 0 || err == ELOOP) {
            report_refused_log(f);
        }
        return;
    }
    // The log stays in place, readable while it is written: it is emptied
    // where it is rather than written whole.
    bool emptied = !first_write || !(flags & DEBUG_STREAM_TRUNCATE_FILE_ON_FIRST_WRITE) || ftruncate(fd, 0) == 0;
    if (emptied) {
        file = f.open_text_file(filename, fm_update, 0);
        struct stat now;
        if (file &&
            (fstat(fileno(file->stream), &now) != 0 || now.st_dev != held.st_dev || now.st_ino != held.st_ino)) {
            f.close(file);
            file = nullptr;
            report_refused_log(f);
        }
    }
    ::close(fd);
}

void DEBUG_STREAM::report_refused_log(FOLDER& f)
{
    if (!log_refused) {
        log_refused = 1;
        std::fprintf(stderr, "%s: not writing the log %s: it is not a plain file of its own\n", name,
                     f.get_path_string(filename));
    }
}

void DEBUG_STREAM::write_to_stream(const char* source_file, long line, const char* text, INT_U8 newline)
{
    if (!flags) {
        return;
    }
    char buf[2048];
    std::size_t len = 0;
    auto append = [&](const char* format, auto... args) {
        if (len < sizeof buf - 1) {
            int n = std::snprintf(buf + len, sizeof buf - len, format, args...);
            if (n > 0) {
                len = len + static_cast<std::size_t>(n) < sizeof buf - 1 ? len + static_cast<std::size_t>(n)
                                                                         : sizeof buf - 1;
            }
        }
    };
    buf[0] = 0;
    if (flags & DEBUG_STREAM_WRITE_STREAM_NAME) {
        append("<%s>: ", name);
    }
    std::size_t name_len = len; // the pop-up leaves the channel name out
    if (flags & DEBUG_STREAM_WRITE_DATE) {
        append("%s ", get_inet_date_string(get_wall_seconds()));
    }
    if ((flags & DEBUG_STREAM_WRITE_CODE_LOCATION) && source_file) {
        append("(%s,%d) ", source_file, static_cast<int>(line));
    }
    append("%s", text ? text : "");

    if (flags & DEBUG_STREAM_WRITE_TO_CONSOLE) {
        write_to_console(buf);
        if (newline) {
            write_to_console("\n");
        }
    }

    if (flags & DEBUG_STREAM_WRITE_TO_FILE) {
        FOLDER f;
        if (f.set(DEBUG_FOLDER, 1, nullptr, 1, 0, 0)) {
            if ((flags & DEBUG_STREAM_FILE_ROLLING_BACKUP) && write_count >= rolling_limit) {
                close_file();
                char bak[264];
                std::snprintf(bak, sizeof bak, "%s.bak", filename);
                if (f.file_exists(bak, 0)) {
                    f.remove(bak);
                }
                f.move(filename, f, bak);
                write_count = 0;
            }
            if (!file) {
                open_log(f);
            }
            if (file) {
                if (first_write && (flags & DEBUG_STREAM_WRITE_FILE_HEADER)) {
                    *file << "======================================\n";
                    *file << "> Debug stream: ";
                    *file << name;
                    *file << "\n";
                    *file << "> Written: ";
                    *file << get_inet_date_string(get_wall_seconds());
                    *file << "\n\n";
                }
                *file << buf;
                if (newline) {
                    *file << "\n";
                }
                ++write_count;
                if (!(flags & DEBUG_STREAM_KEEP_FILE_OPEN)) {
                    close_file();
                } else {
                    std::fflush(file->stream);
                }
                first_write = 0;
            }
        }
    }

    if (flags & DEBUG_STREAM_WRITE_TO_POPUP_DIALOG) {
        display_popup_dialog(name, buf + name_len);
    }
}

void DEBUG_STREAM::printf(const char* format, ...)
{
    // The event loop logs every event on channels that are normally off:
    // a silent channel must cost no formatting.
    if (!format || !flags) {
        return;
    }
    char buf[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    write_to_stream(nullptr, 0, buf, 0);
}

DEBUG_STREAM* DEBUG_STREAM::find_stream(const char* stream_name)
{
    if (!stream_name) {
        return nullptr;
    }
    for (INT_S16 i = 0; i < streams_sz; ++i) {
        if (std::strcmp(streams[i]->name, stream_name) == 0) {
            return streams[i];
        }
    }
    return nullptr;
}

void DEBUG_STREAM::unregister()
{
    // Every occurrence, so no dangling pointer is left for the listing.
    INT_S16 kept = 0;
    for (INT_S16 i = 0; i < streams_sz; ++i) {
        if (streams[i] != this) {
            streams[kept++] = streams[i];
        }
    }
    streams_sz = kept;
    if (streams_sz == 0) {
        std::free(streams);
        streams = nullptr;
    }
}

DEBUG_STREAM::~DEBUG_STREAM()
{
    if (flags & DEBUG_STREAM_SAVE_CONFIG_ON_EXIT) {
        save_config();
    }
    unregister();
    close_file();
}
