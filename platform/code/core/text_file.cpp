#include "text_file.h"

#include "errors.h"
#include "text_file_plain.h"

#include <sys/stat.h>

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <new>

namespace kivo_text_file {

bool plain_only = false;

} // namespace kivo_text_file

namespace {

int hex_value(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

bool is_high_surrogate(INT_U32 c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(INT_U32 c)
{
    return c >= 0xDC00 && c <= 0xDFFF;
}

// Large enough that refills cost next to nothing per line.
const INT_S32 INPUT_SIZE = 64 * 1024;

const char HEX_DIGITS[] = "0123456789ABCDEF";

// Nothing has been written to the stream yet, and the file is empty.
bool at_file_start(FILE* stream)
{
    struct stat st;
    return std::ftell(stream) == 0 && std::fflush(stream) == 0 && fstat(fileno(stream), &st) == 0 && st.st_size == 0;
}

// Text bytes are tested eight at a time where a word's first byte is its
// lowest.
constexpr bool LITTLE_ENDIAN_WORDS = __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

} // namespace

TEXT_FILE::TEXT_FILE()
    : line_max(256), mode(fm_read), stream(nullptr), line_end(0), pushback{0, 0, 0}, utf16(0), swap(0), utf8(1),
      folder("$APP"), held(0), in(nullptr), in_size(0), in_pos(0), in_end(0), in_offset(-1),
      in_stream(nullptr), in_small{}
{}

TEXT_FILE::~TEXT_FILE()
{
    // FOLDER::close closes the stream first; this only catches a file
    // deleted without it (a file written whole still replaces its target).
    if (stream) {
        FOLDER::finish_file(stream, true);
    }
    if (in != in_small) {
        delete[] in;
    }
}

bool TEXT_FILE::can_read() const
{
    return stream && static_cast<int>(mode) == 0;
}

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

// Called by every read before it takes bytes: what was read ahead from
// another stream (the file reopened) is dropped.
void TEXT_FILE::start_input()
{
    if (in_stream == stream) {
        return;
    }
    in_stream = stream;
    in_pos = in_end = 0;
    in_offset = stream ? std::ftell(stream) : -1;
}

// The byte after the buffered ones, refilling the buffer; -1 at end of
// file or on an error (left on the stream for close to report).
int TEXT_FILE::fill_input()
{
    if (!stream) {
        return -1;
    }
    if (!in) {
        in = new (std::nothrow) INT_U8[INPUT_SIZE];
        in_size = in ? INPUT_SIZE : static_cast<INT_S32>(sizeof in_small);
        if (!in) {
            in = in_small;
        }
    }
    if (in_offset >= 0) {
        in_offset += in_end;
    }
    in_pos = 0;
    in_end = static_cast<INT_S32>(std::fread(in, 1, static_cast<size_t>(in_size), stream));
    if (in_end <= 0) {
        in_end = 0;
        return -1;
    }
    return in[in_pos++];
}

// Makes `offset` the next byte read: inside the buffer when it is there,
// else through the stream.
void TEXT_FILE::seek_input(long offset)
{
    if (in_offset >= 0 && offset >= in_offset && offset <= in_offset + in_end) {
        in_pos = static_cast<INT_S32>(offset - in_offset);
        return;
    }
    in_pos = in_end = 0;
    in_offset = std::fseek(stream, offset, SEEK_SET) == 0 ? offset : -1;
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
    if (!stream) {
        return -1;
    }
    if (utf16) {
        int lo = next_byte();
        if (lo < 0) {
            return -1;
        }
        int hi = next_byte();
        if (hi < 0) {
            return -1;
        }
        return swap ? (lo << 8) | hi : (hi << 8) | lo;
    }
    if (!utf8) {
        return next_byte();
    }
    return read_utf8_char();
}

INT_S32 TEXT_FILE::read_utf8_char()
{
    int b = next_byte();
    if (b < 0) {
        return -1;
    }
    if (b == 0xEF && in_offset >= 0 && in_offset + in_pos == 1) {
        int b2 = next_byte();
        int b3 = b2 < 0 ? -1 : next_byte();
        if (b2 == 0xBB && b3 == 0xBF) {
            return next_char(); // the signature is not text
        }
        seek_input(1);
    }
    if (b < 0x80) {
        return b;
    }
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
        int cb = next_byte();
        if (cb < 0) {
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
    if (valid && c > 0x10FFFF) {
        valid = false;
    }
    if (valid) {
        return static_cast<INT_S32>(c);
    }
    utf8 = 0;
    for (int i = 0; i < n; ++i) {
        push_back(got[i]);
    }
    return b;
}

INT_S32 TEXT_FILE::read_char()
{
    if (!can_read()) {
        return -1;
    }
    start_input();
    return next_char();
}

bool TEXT_FILE::operator>>(char* buffer)
{
    return read_line(buffer, line_max);
}

bool TEXT_FILE::read_line(char* buffer, INT_S16 size, INT_U8* whole)
{
    if (whole) {
        *whole = 1;
    }
    if (!buffer || size < 1) {
        return false;
    }
    buffer[0] = 0;
    if (!can_read() || size < 8) {
        return false;
    }
    start_input();
    const int limit = size - 1; // bytes of text the buffer holds
    int len = 0;
    bool run = false; // an escape run is open
    bool any = false;
    for (;;) {
        // Characters stored as one plain byte and line ends the first one
        // has settled, taken straight from the read-ahead bytes while
        // nothing waits to be delivered before them: what the loop below
        // does for them, without a call per character. UTF-8 for U+0080 to
        // U+00FF is two bytes that make one plain byte; every other
        // sequence, and the byte that might start a signature, goes the
        // long way. Plain 8-bit bytes from 0x80 up are plain.
        if (!run && held == 0 && pushback[0] == 0 && !utf16 && !kivo_text_file::plain_only) {
            const bool decode = utf8 != 0;
            const INT_S32 end_char = line_end;
            const INT_U8* src = in;
            const INT_S32 end = in_end;
            INT_S32 pos = in_pos;
            int n = len;
            bool ended = false;
            // In UTF-8 every byte from 0x80 up needs a look of its own.
            const std::uint64_t high = decode ? 0x8080808080808080u : 0;
            while (pos < end) {
                // Eight bytes at a time up to the first one below 14 (line
                // ends, 0 and 1 among them) or, decoding, above 0x7F. The
                // mask marks that byte exactly (no borrow reaches it from
                // the bytes before); bytes after it may be marked falsely.
                // The whole word is stored: what lies past the text is
                // overwritten or beyond its end.
                while (LITTLE_ENDIAN_WORDS && end - pos >= 8 && limit - n >= 8) {
                    std::uint64_t w;
                    std::memcpy(&w, src + pos, 8);
                    std::memcpy(buffer + n, &w, 8);
                    const std::uint64_t special = ((w - 0x0E0E0E0E0E0E0E0Eu) & ~w & 0x8080808080808080u) | (w & high);
                    if (special != 0) {
                        const int plain = __builtin_ctzll(special) >> 3;
                        pos += plain;
                        n += plain;
                        break;
                    }
                    pos += 8;
                    n += 8;
                }
                if (pos >= end) {
                    break;
                }
                unsigned b = src[pos];
                if (b >= 0x80 && decode) {
                    if ((b & 0xFE) != 0xC2 || pos + 1 >= end || (src[pos + 1] & 0xC0) != 0x80 || n >= limit) {
                        break;
                    }
                    buffer[n++] = static_cast<char>(((b & 0x1F) << 6) | (src[pos + 1] & 0x3F));
                    pos += 2;
                    continue;
                }
                if (b <= 13) {
                    if (b == 10 || b == 13) {
                        if (end_char == 0) {
                            break; // the first line end met decides: the long way
                        }
                        ++pos;
                        if (static_cast<INT_S32>(b) == end_char) {
                            ended = true;
                            break;
                        }
                        continue; // the other line-end character is dropped
                    }
                    if (b <= 1) {
                        break;
                    }
                }
                if (n >= limit) {
                    break;
                }
                buffer[n++] = static_cast<char>(b);
                ++pos;
            }
            in_pos = pos;
            any = any || ended || n != len;
            len = n;
            if (ended) {
                break;
            }
        }
        INT_S32 c = next_char();
        if (c < 0) {
            break;
        }
        if (c == 13 || c == 10) {
            if (line_end == 0) {
                line_end = c;
            }
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
            if (whole) {
                *whole = 0;
            }
            return false;
        }
        if (len + need > limit) {
            held = c + 1; // continues the line on the next call
            if (whole) {
                *whole = 0;
            }
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
                buffer[len++] = ',';
                for (int shift = 12; shift >= 0; shift -= 4) {
                    buffer[len++] = HEX_DIGITS[(units[g] >> shift) & 0xF];
                }
            }
        }
    }
    if (run) {
        buffer[len++] = 1;
    }
    buffer[len] = 0;
    return any;
}

bool TEXT_FILE::operator>>(char& c)
{
    if (!can_read()) {
        return false;
    }
    start_input();
    for (;;) {
        INT_S32 ch = next_char();
        if (ch < 0) {
            return false;
        }
        if (ch == 13 || ch == 10) {
            if (line_end == 0) {
                line_end = ch;
            }
            if (ch != line_end) {
                continue;
            }
            c = '\n';
            return true;
        }
        c = static_cast<char>(ch & 0xFF);
        return true;
    }
}

bool TEXT_FILE::put_byte(int b)
{
    return std::fputc(b, stream) != EOF;
}

bool TEXT_FILE::put_char(INT_U32 c)
{
    if (utf16) {
        if (c > 0x10FFFF) {
            c &= 0xFFFF; // no pair can carry it: its 16-bit value, as for any other
        }
        if (c == 10) {
            c = 13;
        }
        if (c > 0xFFFF) {
            INT_U32 v = c - 0x10000;
            return put_char(0xD800 + (v >> 10)) && put_char(0xDC00 + (v & 0x3FF));
        }
        return put_byte(static_cast<int>(c & 0xFF)) && put_byte(static_cast<int>((c >> 8) & 0xFF));
    }
    if (!utf8) {
        return put_byte(static_cast<int>(c & 0xFF));
    }
    // The file's first U+FEFF reads back as its signature: a text that
    // starts with the character gets a signature before it, so the
    // character itself survives.
    if (c == 0xFEFF && at_file_start(stream) && !(put_byte(0xEF) && put_byte(0xBB) && put_byte(0xBF))) {
        return false;
    }
    if (c < 0x80 || c > 0x10FFFF) {
        return put_byte(static_cast<int>(c & 0x7F));
    }
    if (c < 0x800) {
        return put_byte(static_cast<int>(0xC0 | (c >> 6))) && put_byte(static_cast<int>(0x80 | (c & 0x3F)));
    }
    if (c < 0x10000) {
        return put_byte(static_cast<int>(0xE0 | (c >> 12))) && put_byte(static_cast<int>(0x80 | ((c >> 6) & 0x3F))) &&
               put_byte(static_cast<int>(0x80 | (c & 0x3F)));
    }
    return put_byte(static_cast<int>(0xF0 | (c >> 18))) && put_byte(static_cast<int>(0x80 | ((c >> 12) & 0x3F))) &&
           put_byte(static_cast<int>(0x80 | ((c >> 6) & 0x3F))) && put_byte(static_cast<int>(0x80 | (c & 0x3F)));
}

bool TEXT_FILE::operator<<(const char* text)
{
    if (!can_write() || !text) {
        return false;
    }
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
    if (high) {
        ok = put_char(high) && ok;
    }
    return ok;
}

bool TEXT_FILE::operator<<(char c)
{
    if (!can_write()) {
        return false;
    }
    return put_char(static_cast<unsigned char>(c));
}

bool TEXT_FILE::printf(const char* format, ...)
{
    if (!format) {
        return false;
    }
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return *this << buf;
}

bool TEXT_FILE::write_char(INT_S32 c)
{
    if (!can_write()) {
        return false;
    }
    pushback[0] = pushback[1] = pushback[2] = 0;
    held = 0;
    return put_char(static_cast<INT_U32>(c));
}
