// UTF-8 from other programs (typed text, the clipboard): one decoder that
// never trusts the bytes it is given.
#include "host_internal.h"

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
    if (c == 0)
        return 0;
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
