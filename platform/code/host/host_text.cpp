// UTF-8 from other programs (typed text, the clipboard): one decoder that
// never trusts the bytes it is given.
#include "host_internal.h"
#include "utils.h"

#include <cstdio>

namespace {

constexpr INT_U32 kReplacement = 0xFFFD;

bool is_continuation(unsigned char c)
{
    return (c & 0xC0) == 0x80;
}

} // namespace

INT_U32 host_utf8_next(const char*& p)
{
    const unsigned char* s = reinterpret_cast<const unsigned char*>(p);
    unsigned char c = s[0];
    if (c == 0) {
        return 0;
    }
    if (c < 0x80) {
        ++p;
        return c;
    }
    int len;
    INT_U32 value, min;
    if ((c & 0xE0) == 0xC0) {
        len = 2, value = c & 0x1F, min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        len = 3, value = c & 0x0F, min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        len = 4, value = c & 0x07, min = 0x10000;
    } else {
        ++p;
        return kReplacement;
    }
    // A NUL is not a continuation byte, so the walk stops at the end.
    for (int i = 1; i < len; ++i) {
        if (!is_continuation(s[i])) {
            ++p;
            return kReplacement;
        }
        value = (value << 6) | (s[i] & 0x3F);
    }
    if (value < min || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        ++p;
        return kReplacement;
    }
    p += len;
    return value;
}

// ---- The system's own text and UTF-8 ----

namespace {

bool is_high_surrogate(INT_U32 u)
{
    return u >= 0xD800 && u <= 0xDBFF;
}
bool is_low_surrogate(INT_U32 u)
{
    return u >= 0xDC00 && u <= 0xDFFF;
}

// An escape run at s (s[0] is 0x01) in exactly the form the converter
// writes: at least one ",XXXX" group, only characters that need a group
// (above 0xFF; a surrogate only as the first half of a pair), then 0x01.
// Returns the run's length in bytes, both 0x01 included, or 0 when it is
// not such a run. Appends its characters to out when out is given.
std::size_t scan_run(const unsigned char* s, std::string* out)
{
    std::size_t i = 1;
    INT_U32 high = 0;
    int groups = 0;
    for (;;) {
        if (s[i] == 1) {
            return groups > 0 && !high ? i + 1 : 0;
        }
        if (s[i] != ',') {
            return 0;
        }
        INT_U32 v = 0;
        for (int k = 1; k <= 4; ++k) {
            int d = upper_hex_digit(s[i + k]); // stops at a NUL before reading past it
            if (d < 0) {
                return 0;
            }
            v = (v << 4) | static_cast<INT_U32>(d);
        }
        i += 5;
        ++groups;
        INT_U32 c = 0;
        if (high) {
            if (!is_low_surrogate(v)) {
                return 0;
            }
            c = 0x10000 + ((high - 0xD800) << 10) + (v - 0xDC00);
            high = 0;
        } else if (is_high_surrogate(v)) {
            high = v;
            continue;
        } else if (v < 0x100 || is_low_surrogate(v)) {
            return 0;
        } else {
            c = v;
        }
        if (out) {
            host_append_utf8(*out, c);
        }
    }
}

} // namespace

void host_append_utf8(std::string& out, INT_U32 c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string host_text_to_utf8(const char* text)
{
    std::string out;
    if (!text) {
        return out;
    }
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    std::size_t i = 0;
    while (s[i]) {
        if (s[i] == 1) {
            std::size_t n = scan_run(s + i, nullptr);
            // The writer joins neighbouring runs, so a run right before
            // another could not come back as it was: both stay bytes.
            if (n > 0 && !(s[i + n] == 1 && scan_run(s + i + n, nullptr) > 0)) {
                scan_run(s + i, &out);
                i += n;
                continue;
            }
        }
        host_append_utf8(out, s[i]);
        ++i;
    }
    return out;
}

std::size_t host_text_from_utf8(const char* utf8, char* buf, std::size_t size)
{
    if (!buf || size == 0) {
        return 0;
    }
    buf[0] = 0;
    if (!utf8) {
        return 0;
    }
    const std::size_t limit = size - 1; // bytes of text the buffer holds
    std::size_t len = 0;
    bool run = false;
    const char* p = utf8;
    for (;;) {
        INT_U32 c = host_utf8_next(p);
        if (c == 0) {
            break;
        }
        INT_U32 units[2];
        int groups = 0;
        if (c > 0xFFFF) {
            INT_U32 v = c - 0x10000;
            units[0] = 0xD800 + (v >> 10);
            units[1] = 0xDC00 + (v & 0x3FF);
            groups = 2;
        } else if (c > 0xFF) {
            units[0] = c;
            groups = 1;
        }
        // Room needed, always keeping one byte to close an open run.
        std::size_t need = groups == 0 ? (run ? 2 : 1) : (run ? 0 : 1) + groups * 5 + 1;
        if (len + need > limit) {
            break;
        }
        if (groups == 0) {
            if (run) {
                buf[len++] = 1;
                run = false;
            }
            buf[len++] = static_cast<char>(c);
            continue;
        }
        if (!run) {
            buf[len++] = 1;
            run = true;
        }
        for (int g = 0; g < groups; ++g) {
            std::snprintf(buf + len, 6, ",%04X", static_cast<unsigned>(units[g]));
            len += 5;
        }
    }
    if (run) {
        buf[len++] = 1;
    }
    buf[len] = 0;
    return len;
}
