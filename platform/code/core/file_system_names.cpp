// Names: which names one folder entry can have, and names between the
// system's 8-bit text, the host's bytes and UTF-16.
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_shared.h"
#include "utils.h"

#include <cstdio>
#include <cstring>
#include <string>

using namespace fs_shared;

bool fs_is_valid_name(const char* name)
{
    if (!name || !name[0] || std::strchr(name, '/')) {
        return false;
    }
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) {
        return false;
    }
    return std::strlen(name) <= FS_NAME_MAX;
}

namespace {

// Length of the UTF-8 sequence at p (within n bytes) and its value; 0 when
// it is not a valid, shortest-form sequence.
std::size_t utf8_char(const unsigned char* p, std::size_t n, INT_U32& c)
{
    if (p[0] < 0x80) {
        c = p[0];
        return 1;
    }
    std::size_t len = p[0] >= 0xF0 ? 4 : p[0] >= 0xE0 ? 3 : p[0] >= 0xC0 ? 2 : 0;
    if (len == 0 || p[0] > 0xF4 || len > n) {
        return 0;
    }
    c = p[0] & (0x7F >> len);
    for (std::size_t i = 1; i < len; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (p[i] & 0x3F);
    }
    static const INT_U32 least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (c < least[len] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
        return 0;
    }
    return len;
}

// Highest character of a valid UTF-8 part, or -1 when it is not UTF-8.
long utf8_max(const unsigned char* p, std::size_t n)
{
    long top = 0;
    for (std::size_t i = 0; i < n;) {
        INT_U32 c;
        std::size_t len = utf8_char(p + i, n - i, c);
        if (!len) {
            return -1;
        }
        if (static_cast<long>(c) > top) {
            top = static_cast<long>(c);
        }
        i += len;
    }
    return top;
}

// A host name's bytes that are not UTF-8 travel inside as one kind of
// escape run, the form the system's text gives characters above 0xFF:
// 0x01, a group ",DCXX" per byte XX, 0x01. DC00 + XX is a lone low
// surrogate, which is no character, so no name made of text is ever read
// as such a run. The bytes kept so are those of invalid sequences, 0x01
// itself, and in a part that needs a run anyway, those of characters above
// 0xFF.
constexpr unsigned char RAW_RUN = 0x01;

// Whether the five bytes at p are a group of one raw byte (0x01 or 0x80
// and above, the only ones ever kept so), and which.
bool raw_group(const unsigned char* p, unsigned char& b)
{
    if (p[0] != ',' || p[1] != 'D' || p[2] != 'C') {
        return false;
    }
    int hi = upper_hex_digit(p[3]);
    int lo = hi < 0 ? -1 : upper_hex_digit(p[4]);
    if (lo < 0) {
        return false;
    }
    b = static_cast<unsigned char>(hi * 16 + lo);
    return b == RAW_RUN || b >= 0x80;
}

// Length of the run of raw bytes at p (within n bytes), both 0x01
// included; 0 when none starts there.
std::size_t raw_run(const unsigned char* p, std::size_t n)
{
    if (n < 7 || p[0] != RAW_RUN) {
        return 0;
    }
    std::size_t i = 1;
    unsigned char b;
    while (i + 5 < n && raw_group(p + i, b)) {
        i += 5;
    }
    return i > 1 && p[i] == RAW_RUN ? i + 1 : 0;
}

// Bytes into a bounded buffer; `ok` turns false, for good, on the first
// that does not fit (one byte always stays for the NUL). Raw bytes in a
// row share one run, closed by the next other byte or by end_run.
struct NAME_OUT
{
    char* out;
    std::size_t size;
    std::size_t len;
    bool ok;
    bool in_run;

    void byte(unsigned char b)
    {
        if (!ok || len + 1 >= size) {
            ok = false;
            return;
        }
        out[len++] = static_cast<char>(b);
    }
    void end_run()
    {
        if (in_run) {
            in_run = false;
            byte(RAW_RUN);
        }
    }
    void put(unsigned char b)
    {
        end_run();
        byte(b);
    }
    // 8-bit text as UTF-8.
    void put_latin1(unsigned char c)
    {
        if (c < 0x80) {
            put(c);
        } else {
            put(static_cast<unsigned char>(0xC0 | (c >> 6)));
            put(static_cast<unsigned char>(0x80 | (c & 0x3F)));
        }
    }
    void put_raw(unsigned char b)
    {
        static const char hex[] = "0123456789ABCDEF";
        if (!in_run) {
            byte(RAW_RUN);
            in_run = true;
        }
        const char group[] = {',', 'D', 'C', hex[b >> 4], hex[b & 15]};
        for (char c : group) {
            byte(static_cast<unsigned char>(c));
        }
    }
};

void part_to_host(const unsigned char* p, std::size_t n, NAME_OUT& o)
{
    bool has_run = false;
    for (std::size_t i = 0; i < n && !has_run; ++i) {
        has_run = p[i] == RAW_RUN && raw_run(p + i, n - i) > 0;
    }
    if (has_run) {
        // Runs give their bytes back; the rest is 8-bit text.
        for (std::size_t i = 0; i < n;) {
            std::size_t r = p[i] == RAW_RUN ? raw_run(p + i, n - i) : 0;
            if (r == 0) {
                o.put_latin1(p[i++]);
                continue;
            }
            for (std::size_t k = 1; k + 1 < r; k += 5) {
                unsigned char b = 0;
                raw_group(p + i + k, b);
                o.put(b);
            }
            i += r;
        }
        return;
    }
    // UTF-8 holding characters above 0xFF is a host name that came back
    // as it was.
    bool keep = utf8_max(p, n) > 0xFF;
    for (std::size_t i = 0; i < n; ++i) {
        if (keep) {
            o.put(p[i]);
        } else {
            o.put_latin1(p[i]);
        }
    }
}

void part_from_host(const unsigned char* p, std::size_t n, NAME_OUT& o)
{
    long top = utf8_max(p, n);
    bool plain = top >= 0 && !std::memchr(p, RAW_RUN, n);
    if (plain && top > 0xFF) {
        for (std::size_t i = 0; i < n; ++i) {
            o.put(p[i]);
        }
        return;
    }
    // Characters that all fit in 8 bits become those bytes, unless the
    // bytes would read back as UTF-8 above 0xFF ("\xC4\xA9" for the host's
    // "\xC3\x84\xC2\xA9"): then every byte of 0x80 and above is kept raw.
    bool mistakable = false;
    if (plain) {
        const std::size_t start = o.len;
        for (std::size_t i = 0; i < n;) {
            INT_U32 c = 0;
            i += utf8_char(p + i, n - i, c);
            o.put(static_cast<unsigned char>(c));
        }
        if (!o.ok || utf8_max(reinterpret_cast<const unsigned char*>(o.out) + start, o.len - start) <= 0xFF) {
            return;
        }
        o.len = start; // written again below
        mistakable = true;
    }
    for (std::size_t i = 0; i < n;) {
        INT_U32 c = 0;
        std::size_t len = mistakable ? 0 : utf8_char(p + i, n - i, c);
        if (len > 0 && c != RAW_RUN && c <= 0xFF) {
            o.put(static_cast<unsigned char>(c));
            i += len;
        } else if (p[i] < 0x80 && p[i] != RAW_RUN) {
            o.put(p[i++]);
        } else {
            o.put_raw(p[i++]);
        }
    }
    o.end_run();
}

bool convert_parts(const char* name, char* out, std::size_t size, bool to_host)
{
    if (!name || !out || size == 0) {
        return false;
    }
    NAME_OUT o{out, size, 0, true, false};
    const unsigned char* p = reinterpret_cast<const unsigned char*>(name);
    while (true) {
        std::size_t n = std::strcspn(reinterpret_cast<const char*>(p), "/");
        if (to_host) {
            part_to_host(p, n, o);
        } else {
            part_from_host(p, n, o);
        }
        p += n;
        if (!*p) {
            break;
        }
        o.put('/');
        ++p;
    }
    if (!o.ok) {
        out[0] = 0;
        return false;
    }
    out[o.len] = 0;
    return true;
}

} // namespace

bool fs_name_to_host(const char* name, char* out, std::size_t size)
{
    return convert_parts(name, out, size, true);
}

bool fs_name_from_host(const char* name, char* out, std::size_t size)
{
    return convert_parts(name, out, size, false);
}

INT_S32 UnicodeNameGetHFSName(const FS_UNICODE_NAME* unicode_name, char* name, std::size_t size)
{
    if (!unicode_name || !name || size == 0 || unicode_name->length > FS_NAME_MAX) {
        return FS_BAD_ARGUMENT;
    }
    std::string out;
    for (INT_U16 i = 0; i < unicode_name->length; ++i) {
        INT_U16 unit = unicode_name->unicode[i];
        if (unit == 0 || unit > 0xFF) {
            name[0] = 0;
            return FS_BAD_NAME;
        }
        out += static_cast<char>(unit);
    }
    return copy_out(out, name, size);
}

INT_S32 HFSNameGetUnicodeName(const char* name, FS_UNICODE_NAME* unicode_name)
{
    if (!name || !unicode_name) {
        return FS_BAD_ARGUMENT;
    }
    std::size_t n = std::strlen(name);
    if (n > FS_NAME_MAX) {
        unicode_name->length = 0;
        return FS_BAD_NAME;
    }
    for (std::size_t i = 0; i < n; ++i) {
        unicode_name->unicode[i] = static_cast<unsigned char>(name[i]);
    }
    unicode_name->length = static_cast<INT_U16>(n);
    return FS_OK;
}
