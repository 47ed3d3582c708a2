#include "utils.h"

#include "debug_stream.h"
#include "kivo_host.h"
#include "kivo_string.h"
#include "random_session.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// ---- command line ----

char** filtered_args = nullptr;

void console_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void console_printf(const char* format, ...)
{
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    write_to_console(buf);
}

void print_usage(const char* program)
{
    console_printf("usage: %s [--kivo | --kivo-listdebug | --kivo-showdebug=x]\n\n", program);
    write_to_console("  --kivo             - show usage and exit\n");
    write_to_console("  --kivo-listdebug   - list debug channels\n");
    write_to_console("  --kivo-showdebug=x - show debug channel x (where x is channel number or \"all\")\n\n");
}

// A channel number as "%hd" reads one (leading blanks, a sign, digits),
// without overflowing on long digit runs.
bool read_channel_number(const char* text, long& n)
{
    char* end = nullptr;
    n = std::strtol(text, &end, 10);
    return end != text;
}

// ---- frame rate ----

struct FRAME_METER
{
    INT_U8 started;
    INT_S64 second; // the wall-clock second being counted
    INT_U32 frames; // frames counted in that second
    INT_U32 rate;   // frames of the last whole second
    INT_U32 min;    // 0xFFFFFFFF while unknown
    INT_U32 max;
    INT_U64 total;
    INT_U32 seconds;
    INT_U32 avg;
    INT_U32 formatted_rate; // the rate last formatted, 0xFFFFFFFF = none yet
    char text[256];
};
FRAME_METER meter = {0, 0, 0, 0, 0xFFFFFFFFu, 0, 0, 0, 0, 0xFFFFFFFFu, ""};

// Counts one frame. The first call starts the count; when the second
// changes, the finished second's count becomes the rate (seconds without
// any frame are not counted).
void count_frame()
{
    INT_S64 now = get_wall_seconds();
    if (!meter.started) {
        meter.started = 1;
        meter.second = now;
    } else if (now != meter.second) {
        meter.rate = meter.frames;
        if (meter.rate < meter.min) {
            meter.min = meter.rate;
        }
        if (meter.rate > meter.max) {
            meter.max = meter.rate;
        }
        meter.total += meter.rate;
        ++meter.seconds;
        meter.avg = static_cast<INT_U32>(meter.total / meter.seconds);
        if (meter.avg / 2 > meter.min) {
            meter.min = 0xFFFFFFFFu;
            meter.max = 0;
            meter.total = 0;
            meter.seconds = 0;
            meter.avg = 0;
        }
        meter.frames = 0;
        meter.second = now;
    }
    ++meter.frames;
}

INT_U32 known_min()
{
    return meter.min == 0xFFFFFFFFu ? 0 : meter.min;
}

bool format_frame_rate(const char* label)
{
    if (meter.rate == meter.formatted_rate) {
        return false;
    }
    meter.formatted_rate = meter.rate;
    std::snprintf(meter.text, sizeof meter.text, "%s: %uhz (Min %uhz, Max %uhz, Avg %uhz)",
                  label ? label : "Frame Rate", meter.rate, known_min(), meter.max, meter.avg);
    return true;
}

bool is_upper(int c)
{
    return c >= 'A' && c <= 'Z';
}
bool is_lower(int c)
{
    return c >= 'a' && c <= 'z';
}
bool is_digit(int c)
{
    return c >= '0' && c <= '9';
}

} // namespace

void handle_command_line_args(int argc, char** argv, int& new_argc, char**& new_argv)
{
    std::free(filtered_args);
    filtered_args = nullptr;
    if (argc <= 0 || !argv) {
        new_argc = 0;
        new_argv = nullptr;
        return;
    }
    filtered_args = static_cast<char**>(std::malloc(sizeof(char*) * (static_cast<std::size_t>(argc) + 1)));
    if (!filtered_args) {
        new_argc = argc;
        new_argv = argv;
        return;
    }
    const char* program = argv[0] ? argv[0] : "";
    int kept = 0;
    for (int i = 0; i < argc; ++i) {
        char* arg = argv[i];
        if (!arg || std::strncmp(arg, "-psn_0", 6) == 0) {
            continue;
        }
        if (strncmpi(arg, "--kivo", 6) != 0) {
            filtered_args[kept++] = arg;
            continue;
        }
        // Exact: "--KIVO" is an unknown option, as is any other spelling.
        if (std::strcmp(arg, "--kivo") == 0) {
            print_usage(program);
            exit_app("Command line usage shown", 0);
        }
        if (strcmpi(arg, "--kivo-listdebug") == 0) {
            write_to_console("ID   Name\n--------------------\n\n");
            for (INT_S16 s = 0; s < DEBUG_STREAM::streams_sz; ++s) {
                console_printf("%2d   %s\n", s, DEBUG_STREAM::streams[s]->name);
            }
            write_to_console("\n");
            exit_app("Debug channels listed", 0);
        }
        if (std::strncmp(arg, "--kivo-showdebug=", 17) == 0) {
            const char* what = arg + 17;
            long n = 0;
            if (strcmpi(what, "all") == 0) {
                console_printf("Enabling all %d debug channels\n", DEBUG_STREAM::streams_sz);
                for (INT_S16 s = 0; s < DEBUG_STREAM::streams_sz; ++s) {
                    DEBUG_STREAM::streams[s]->flags |= DEBUG_STREAM_WRITE_TO_CONSOLE;
                }
                continue;
            }
            if (read_channel_number(what, n)) {
                console_printf("Enabling debug channel %ld\n", n);
                if (n < 0 || n >= DEBUG_STREAM::streams_sz) {
                    console_printf("ERROR: Stream %ld was not found\n\n", n);
                    exit_app("Debug channel not found", 1);
                }
                DEBUG_STREAM::streams[n]->flags |= DEBUG_STREAM_WRITE_TO_CONSOLE;
                continue;
            }
            // neither "all" nor a number: an unknown option
        }
        console_printf("ERROR: Command line option \"%s\" is not known\n\n", arg);
        print_usage(program);
        exit_app("Unknown command line option", 1);
    }
    filtered_args[kept] = nullptr;
    new_argc = kept;
    new_argv = filtered_args;
}

INT_U32 get_frame_rate(INT_U32* min, INT_U32* max, INT_U32* avg)
{
    count_frame();
    if (min) {
        *min = known_min();
    }
    if (max) {
        *max = meter.max;
    }
    if (avg) {
        *avg = meter.avg;
    }
    return meter.rate;
}

char* get_frame_rate_string(const char* label)
{
    count_frame();
    format_frame_rate(label);
    return meter.text;
}

bool get_frame_rate_string(char*& out, const char* label)
{
    count_frame();
    out = meter.text;
    return format_frame_rate(label);
}

char* get_inet_date_string(INT_S64 t)
{
    static const char* const days[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                           "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    static char text[64];
    std::time_t tt = static_cast<std::time_t>(t);
    std::tm parts;
    if (!gmtime_r(&tt, &parts) || parts.tm_wday < 0 || parts.tm_wday > 6 || parts.tm_mon < 0 || parts.tm_mon > 11) {
        text[0] = 0;
        return text;
    }
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[parts.tm_wday], parts.tm_mday,
                  months[parts.tm_mon], parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

INT_U32 get_unique_id()
{
    static INT_U32 last = 0;
    INT_S64 now = get_wall_seconds();
    INT_U32 id = now > 0 ? static_cast<INT_U32>(now) : 0;
    if (id <= last) {
        id = last + 1;
    }
    if (id == 0) {
        id = 1;
    }
    last = id;
    return id;
}

void convert_string_to_7bit(const char* source, char* dest, INT_S16 dest_size)
{
    if (!source || !dest || dest_size < 1) {
        return;
    }
    dest[0] = 0;
    std::size_t len = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source); *p; ++p) {
        if (static_cast<long>(len) >= dest_size - 3) {
            break;
        }
        char one[2];
        const char* form = convert_char_to_7bit(*p, one);
        std::size_t n = std::strlen(form);
        std::memcpy(dest + len, form, n + 1);
        len += n;
    }
}

INT_S16 compare_7bit_strings(const char* a, const char* b, INT_U8 ignore_case)
{
    bool a_empty = !a || !*a;
    bool b_empty = !b || !*b;
    if (a_empty || b_empty) {
        return static_cast<INT_S16>(a_empty == b_empty ? 0 : a_empty ? -1 : 1);
    }
    std::size_t i = 0;
    for (; a[i]; ++i) {
        if (!b[i]) {
            return 1; // b is a proper prefix of a
        }
        char fa[2], fb[2];
        const char* x = convert_char_to_7bit(static_cast<INT_U8>(a[i]), fa);
        const char* y = convert_char_to_7bit(static_cast<INT_U8>(b[i]), fb);
        int r = ignore_case ? strcmpi(x, y) : std::strcmp(x, y);
        if (r != 0) {
            return static_cast<INT_S16>(r < 0 ? -1 : 1);
        }
    }
    // a ended: a proper prefix of b compares less
    return static_cast<INT_S16>(b[i] ? -1 : 0);
}

char* generate_random_password(INT_S16 min_len, INT_S16 max_len, INT_U8 flags, char* buffer)
{
    static char own[260];
    if (min_len < 4 || min_len > max_len || min_len > 256) {
        return nullptr;
    }
    if (((flags & 0x02) && !(flags & 0x01)) || ((flags & 0x08) && !(flags & 0x04))) {
        return nullptr;
    }
    char* out = buffer ? buffer : own;
    long len = get_random_number(min_len, (max_len < 256 ? max_len : 256) + 1);
    for (;;) {
        bool has_upper = false;
        bool has_digit = false;
        long n = 0;
        while (n < len) {
            int c = static_cast<int>(get_random_number(32, 127));
            if (is_upper(c)) {
                if (!(flags & 0x01)) {
                    continue;
                }
                has_upper = true;
            } else if (is_digit(c)) {
                if (!(flags & 0x04)) {
                    continue;
                }
                has_digit = true;
            } else if (!is_lower(c)) {
                continue;
            }
            out[n++] = static_cast<char>(c);
        }
        out[n] = 0;
        if ((flags & 0x02) && !has_upper) {
            continue;
        }
        if ((flags & 0x08) && !has_digit) {
            continue;
        }
        break;
    }
    if (flags & 0x10) {
        kivo_host()->set_clipboard_text(out);
    }
    return out;
}

int upper_hex_digit(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
