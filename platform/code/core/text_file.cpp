#include "text_file.h"

#include "errors.h"

#include <cstdarg>
#include <cstring>

namespace {

int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool is_high_surrogate(INT_U32 c) { return c >= 0xD800 && c <= 0xDBFF; }
bool is_low_surrogate(INT_U32 c) { return c >= 0xDC00 && c <= 0xDFFF; }

} // namespace

TEXT_FILE::TEXT_FILE()
    : line_max(256), mode(fm_read), stream(nullptr), line_end(0), pushback{0, 0, 0},
      utf16(0), swap(0), utf8(1), folder("$APP"), held(0)
{
}

TEXT_FILE::~TEXT_FILE()
{
    // FOLDER::close closes the stream first; this only catches a file
    // deleted without it (a file written whole still replaces its target).
    if (stream)
        FOLDER::finish_file(stream, true);
}

bool TEXT_FILE::can_read() const { return stream && static_cast<int>(mode) == 0; }

bool TEXT_FILE::can_write() const
{
    return stream && (static_cast<int>(mode) == 1 || static_cast<int>(mode) == 2);
}

void TEXT_FILE::push_back(INT_S32 c)
{
    for (int i = 0; i < 3; ++i) {
        if (pushback[i] == 0) {
            pushback[i] = c + 1;
            return;
        }
    }
}

// The next character of any encoding: pushback first, then the stream.
INT_S32 TEXT_FILE::next_char()
{
    if (held != 0) {
        INT_S32 c = held - 1;
        held = 0;
        return c;
    }
    if (pushback[0] != 0) {
        INT_S32 c = pushback[0] - 1;
        pushback[0] = pushback[1];
        pushback[1] = pushback[2];
        pushback[2] = 0;
        return c;
    }
    if (!stream)
        return -1;
    if (utf16) {
        int lo = std::fgetc(stream);
        if (lo == EOF)
            return -1;
        int hi = std::fgetc(stream);
        if (hi == EOF)
            return -1;
        return swap ? (lo << 8) | hi : (hi << 8) | lo;
    }
    if (!utf8) {
        int b = std::fgetc(stream);
        return b == EOF ? -1 : b;
    }
    return read_utf8_char();
}

INT_S32 TEXT_FILE::read_utf8_char()
{
    int b = std::fgetc(stream);
    if (b == EOF)
        return -1;
    if (b == 0xEF && std::ftell(stream) == 1) {
        int b2 = std::fgetc(stream);
        int b3 = b2 == EOF ? EOF : std::fgetc(stream);
        if (b2 == 0xBB && b3 == 0xBF)
            return next_char(); // the signature is not text
        std::fseek(stream, 1, SEEK_SET);
    }
    if (b < 0x80)
        return b;
    int extra;
    INT_U32 c;
    if ((b & 0xE0) == 0xC0) {
        extra = 1;
        c = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
        extra = 2;
        c = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
        extra = 3;
        c = b & 0x07;
    } else {
        utf8 = 0;
        return b;
    }
    int got[3];
    int n = 0;
    bool valid = true;
    while (n < extra) {
        int cb = std::fgetc(stream);
        if (cb == EOF) {
            valid = false;
            break;
        }
        got[n++] = cb;
        if ((cb & 0xC0) != 0x80) {
            valid = false;
            break;
        }
        c = (c << 6) | static_cast<INT_U32>(cb & 0x3F);
    }
    // Beyond the last code point cannot be carried as a surrogate pair:
    // treated like any other invalid sequence.
    if (valid && c > 0x10FFFF)
        valid = false;
    if (valid)
        return static_cast<INT_S32>(c);
    utf8 = 0;
    for (int i = 0; i < n; ++i)
        push_back(got[i]);
    return b;
}

INT_S32 TEXT_FILE::read_char()
{
    if (!can_read())
        return -1;
    return next_char();
}

bool TEXT_FILE::operator>>(char* buffer) { return read_line(buffer, line_max); }

bool TEXT_FILE::read_line(char* buffer, INT_S16 size, INT_U8* whole)
{
    if (whole)
        *whole = 1;
    if (!buffer || size < 1)
        return false;
    buffer[0] = 0;
    if (!can_read() || size < 8)
        return false;
    const int limit = size - 1; // bytes of text the buffer holds
    int len = 0;
    bool run = false; // an escape run is open
    bool any = false;
    for (;;) {
        INT_S32 c = next_char();
        if (c < 0)
            break;
        if (c == 13 || c == 10) {
            if (line_end == 0)
                line_end = c;
            if (c == line_end) {
                any = true;
                break;
            }
            continue; // the other line-end character is dropped
        }
        any = true;
        // How the character is stored: a plain byte, one escape group, or a
        // surrogate pair of two groups for characters above U+FFFF. Bytes 0
        // and 1 are stored escaped too: read back as bytes, 0 would end the
        // text and 1 would open a run.
        INT_U32 units[2];
        int groups = 0;
        if (c > 0xFFFF) {
            INT_U32 v = static_cast<INT_U32>(c) - 0x10000;
            units[0] = 0xD800 + (v >> 10);
            units[1] = 0xDC00 + (v & 0x3FF);
            groups = 2;
        } else if (c > 0xFF || c <= 1) {
            units[0] = static_cast<INT_U32>(c);
            groups = 1;
        }
        // Room needed, always keeping one byte to close an open run.
        int need = groups == 0 ? (run ? 2 : 1) : (run ? 0 : 1) + groups * 5 + 1;
        if (len == 0 && need > limit) {
            // Too wide for this buffer even on its own: holding it back would
            // hand the caller the same empty piece for ever. It is dropped
            // and the read fails, so the next read goes on after it.
            set_error_code(ERRCODE_FILE_READ, name.get_string(0));
            buffer[0] = 0;
            if (whole)
                *whole = 0;
            return false;
        }
        if (len + need > limit) {
            held = c + 1; // continues the line on the next call
            if (whole)
                *whole = 0;
            break;
        }
        if (groups == 0) {
            if (run) {
                buffer[len++] = 1;
                run = false;
            }
            buffer[len++] = static_cast<char>(c);
        } else {
            if (!run) {
                buffer[len++] = 1;
                run = true;
            }
            for (int g = 0; g < groups; ++g) {
                std::snprintf(buffer + len, 6, ",%04X", static_cast<unsigned>(units[g]));
                len += 5;
            }
        }
    }
    if (run)
        buffer[len++] = 1;
    buffer[len] = 0;
    return any;
}

bool TEXT_FILE::operator>>(char& c)
{
    if (!can_read())
        return false;
    for (;;) {
        INT_S32 ch = next_char();
        if (ch < 0)
            return false;
        if (ch == 13 || ch == 10) {
            if (line_end == 0)
                line_end = ch;
            if (ch != line_end)
                continue;
            c = '\n';
            return true;
        }
        c = static_cast<char>(ch & 0xFF);
        return true;
    }
}

bool TEXT_FILE::put_byte(int b) { return std::fputc(b, stream) != EOF; }

bool TEXT_FILE::put_char(INT_U32 c)
{
    if (utf16) {
        if (c > 0x10FFFF)
            c &= 0xFFFF; // no pair can carry it: its 16-bit value, as for any other
        if (c == 10)
            c = 13;
        if (c > 0xFFFF) {
            INT_U32 v = c - 0x10000;
            return put_char(0xD800 + (v >> 10)) && put_char(0xDC00 + (v & 0x3FF));
        }
        return put_byte(static_cast<int>(c & 0xFF)) && put_byte(static_cast<int>((c >> 8) & 0xFF));
    }
    if (!utf8)
        return put_byte(static_cast<int>(c & 0xFF));
    if (c < 0x80 || c > 0x10FFFF)
        return put_byte(static_cast<int>(c & 0x7F));
    if (c < 0x800)
        return put_byte(static_cast<int>(0xC0 | (c >> 6))) && put_byte(static_cast<int>(0x80 | (c & 0x3F)));
    if (c < 0x10000)
        return put_byte(static_cast<int>(0xE0 | (c >> 12))) &&
               put_byte(static_cast<int>(0x80 | ((c >> 6) & 0x3F))) &&
               put_byte(static_cast<int>(0x80 | (c & 0x3F)));
    return put_byte(static_cast<int>(0xF0 | (c >> 18))) && put_byte(static_cast<int>(0x80 | ((c >> 12) & 0x3F))) &&
           put_byte(static_cast<int>(0x80 | ((c >> 6) & 0x3F))) && put_byte(static_cast<int>(0x80 | (c & 0x3F)));
}

bool TEXT_FILE::operator<<(const char* text)
{
    if (!can_write() || !text)
        return false;
    bool ok = true;
    bool escape = false;
    INT_U32 value = 0;
    int digits = 0;
    INT_U32 high = 0; // a high surrogate waiting for its low half
    auto emit = [&](INT_U32 c) {
        if (high) {
            INT_U32 h = high;
            high = 0;
            // A UTF-8 file takes the pair as one character; UTF-16 and
            // 8-bit files take the units as they are.
            if (is_low_surrogate(c) && utf8 && !utf16) {
                ok = put_char(0x10000 + ((h - 0xD800) << 10) + (c - 0xDC00)) && ok;
                return;
            }
            ok = put_char(h) && ok;
        }
        if (is_high_surrogate(c) && utf8 && !utf16) {
            high = c;
            return;
        }
        ok = put_char(c) && ok;
    };
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        unsigned char b = *p;
        if (b == 1) {
            // Always toggles: an unfinished group is dropped, never the end
            // of the run, so a short group cannot swallow the text after it.
            // The ',' before each group is skipped below like any other
            // byte that is not a digit.
            escape = !escape;
            digits = 0;
            value = 0;
            continue;
        }
        if (!escape) {
            emit(b);
            continue;
        }
        int h = hex_value(b);
        if (h < 0) {
            digits = 0; // an unfinished group is dropped with the byte that ended it
            value = 0;
            continue;
        }
        value = (value << 4) | static_cast<INT_U32>(h);
        if (++digits == 4) {
            emit(value);
            digits = 0;
            value = 0;
        }
    }
    if (high)
        ok = put_char(high) && ok;
    return ok;
}

bool TEXT_FILE::operator<<(char c)
{
    if (!can_write())
        return false;
    return put_char(static_cast<unsigned char>(c));
}

bool TEXT_FILE::printf(const char* format, ...)
{
    if (!format)
        return false;
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return *this << buf;
}

bool TEXT_FILE::write_char(INT_S32 c)
{
    if (!can_write())
        return false;
    pushback[0] = pushback[1] = pushback[2] = 0;
    held = 0;
    return put_char(static_cast<INT_U32>(c));
}
