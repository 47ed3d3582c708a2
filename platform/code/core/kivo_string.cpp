// Growable 8-bit text and the free string helpers.
#include "kivo_string.h"

#include "kivo_host.h"
#include "random_session.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

long KIVO_STRING::default_min_str_sz = 50;
char KIVO_STRING::workspace[24];

namespace {

char blank_text[1] = {0};

inline unsigned char lower(char c)
{
    return static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(c)));
}

// White space under the 7-bit rule: bytes of 0x80 and above never count.
inline bool is_7bit_space(char c)
{
    unsigned char u = static_cast<unsigned char>(c);
    return u < 0x80 && std::isspace(u);
}

inline long max_long(long a, long b)
{
    return a > b ? a : b;
}

} // namespace

KIVO_STRING::KIVO_STRING() : min_sz(default_min_str_sz) {}

KIVO_STRING::KIVO_STRING(const char* s) : min_sz(default_min_str_sz)
{
    if (s) {
        *this = s;
    }
}

KIVO_STRING::KIVO_STRING(const KIVO_STRING& other) : min_sz(other.min_sz)
{
    if (other.buffer) {
        *this = other.buffer;
    }
}

KIVO_STRING::KIVO_STRING(KIVO_STRING&& other) noexcept : buffer(other.buffer), alloc(other.alloc), min_sz(other.min_sz)
{
    other.buffer = nullptr;
    other.alloc = 0;
}

KIVO_STRING::~KIVO_STRING()
{
    std::free(buffer);
}

KIVO_STRING& KIVO_STRING::operator=(const KIVO_STRING& other)
{
    if (this != &other) {
        *this = static_cast<const char*>(other.buffer);
    }
    return *this;
}

KIVO_STRING& KIVO_STRING::operator=(KIVO_STRING&& other) noexcept
{
    if (this != &other) {
        std::free(buffer);
        buffer = other.buffer;
        alloc = other.alloc;
        min_sz = other.min_sz;
        other.buffer = nullptr;
        other.alloc = 0;
    }
    return *this;
}

long KIVO_STRING::length() const
{
    return buffer ? static_cast<long>(std::strlen(buffer)) : 0;
}

void KIVO_STRING::empty_rule()
{
    if (min_sz == 0) {
        clear();
    } else if (buffer) {
        buffer[0] = 0;
    }
}

void KIVO_STRING::clear()
{
    std::free(buffer);
    buffer = nullptr;
    alloc = 0;
}

void KIVO_STRING::take_buffer(char* fresh, long size)
{
    std::free(buffer);
    buffer = fresh;
    alloc = size;
}

bool KIVO_STRING::reallocate_string(long n)
{
    long size = max_long(n, min_sz);
    if (size <= alloc) {
        return true;
    }
    char* p = static_cast<char*>(std::realloc(buffer, static_cast<size_t>(size)));
    if (!p) {
        return false;
    }
    if (!buffer) {
        p[0] = 0;
    }
    buffer = p;
    alloc = size;
    return true;
}

char* KIVO_STRING::get_string(long index)
{
    if (!buffer || static_cast<unsigned long>(index) >= static_cast<unsigned long>(length())) {
        blank_text[0] = 0;
        return blank_text;
    }
    return buffer + index;
}

KIVO_STRING& KIVO_STRING::operator=(const char* s)
{
    if (!s) {
        empty_rule();
        return *this;
    }
    // The source may lie inside our own buffer (s = s.get_string(2)):
    // remember where, since growing can move it.
    bool inside = buffer && s >= buffer && s < buffer + alloc;
    long offset = inside ? static_cast<long>(s - buffer) : 0;
    size_t n = std::strlen(s);
    if (!reallocate_string(static_cast<long>(n) + 1)) {
        empty_rule();
        return *this;
    }
    std::memmove(buffer, inside ? buffer + offset : s, n + 1);
    return *this;
}

KIVO_STRING& KIVO_STRING::operator=(short v)
{
    if (reallocate_string(max_long(static_cast<long>(sizeof workspace), min_sz))) {
        std::snprintf(buffer, static_cast<size_t>(alloc), "%hd", v);
    }
    return *this;
}

KIVO_STRING& KIVO_STRING::operator=(long v)
{
    if (reallocate_string(max_long(static_cast<long>(sizeof workspace), min_sz))) {
        std::snprintf(buffer, static_cast<size_t>(alloc), "%ld", v);
    }
    return *this;
}

KIVO_STRING& KIVO_STRING::operator+=(const char* s)
{
    if (!s) {
        return *this;
    }
    if (!buffer) {
        return *this = s;
    }
    bool inside = s >= buffer && s < buffer + alloc;
    long offset = inside ? static_cast<long>(s - buffer) : 0;
    long len = length();
    size_t n = std::strlen(s);
    if (!reallocate_string(len + static_cast<long>(n) + 1)) {
        return *this;
    }
    std::memmove(buffer + len, inside ? buffer + offset : s, n);
    buffer[len + static_cast<long>(n)] = 0;
    return *this;
}

KIVO_STRING& KIVO_STRING::operator+=(long v)
{
    std::snprintf(workspace, sizeof workspace, "%ld", v);
    return *this += static_cast<const char*>(workspace);
}

KIVO_STRING& KIVO_STRING::operator+=(short v)
{
    std::snprintf(workspace, sizeof workspace, "%hd", v);
    return *this += static_cast<const char*>(workspace);
}

long KIVO_STRING::find(const KIVO_STRING& needle, long start, INT_U8 case_sensitive) const
{
    long len = length();
    long nlen = needle.length();
    if (!buffer || !needle.buffer || nlen == 0 || start < 0 || start >= len) {
        return -1;
    }
    if (case_sensitive) {
        const char* p = std::strstr(buffer + start, needle.buffer);
        return p ? static_cast<long>(p - buffer) : -1;
    }
    for (long p = start; p + nlen <= len; ++p) {
        long i = 0;
        while (i < nlen && lower(buffer[p + i]) == lower(needle.buffer[i])) {
            ++i;
        }
        if (i == nlen) {
            return p;
        }
    }
    return -1;
}

long KIVO_STRING::find_backwards(const KIVO_STRING& needle, long start, INT_U8 case_sensitive) const
{
    long len = length();
    long nlen = needle.length();
    if (!buffer || !needle.buffer || nlen == 0) {
        return -1;
    }
    long p = (start >= 0 && start < len - nlen) ? start : len - nlen;
    for (; p >= 0; --p) {
        long i = 0;
        if (case_sensitive) {
            while (i < nlen && buffer[p + i] == needle.buffer[i]) {
                ++i;
            }
        } else {
            while (i < nlen && lower(buffer[p + i]) == lower(needle.buffer[i])) {
                ++i;
            }
        }
        if (i == nlen) {
            return p;
        }
    }
    return -1;
}

bool KIVO_STRING::remove(long first, long last)
{
    long len = length();
    if (first > last || !buffer || first < 0 || last >= len) {
        return false;
    }
    std::memmove(buffer + first, buffer + last + 1, static_cast<size_t>(len - last));
    return true;
}

bool KIVO_STRING::replace(const KIVO_STRING& find_text, const KIVO_STRING& with, long start)
{
    long len = length();
    long flen = find_text.length();
    if (flen == 0 || len == 0 || start < 0 || start >= len) {
        return false;
    }
    long at = find(find_text, start, 1);
    if (at < 0) {
        return false;
    }
    long wlen = with.length();
    long total = len - flen + wlen;
    long size = max_long(total + 1, min_sz);
    char* fresh = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!fresh) {
        return false;
    }
    std::memcpy(fresh, buffer, static_cast<size_t>(at));
    if (wlen) {
        std::memcpy(fresh + at, with.buffer, static_cast<size_t>(wlen));
    }
    std::memcpy(fresh + at + wlen, buffer + at + flen, static_cast<size_t>(len - at - flen + 1));
    take_buffer(fresh, size);
    return true;
}

void KIVO_STRING::insert(const KIVO_STRING& s, long index)
{
    long slen = s.length();
    if (slen == 0) {
        return;
    }
    long len = length();
    if (len == 0) {
        *this = static_cast<const char*>(s.buffer);
        return;
    }
    if (index < 0 || index > len) {
        return;
    }
    long size = max_long(len + slen + 1, min_sz);
    char* fresh = static_cast<char*>(std::malloc(static_cast<size_t>(size)));
    if (!fresh) {
        return;
    }
    std::memcpy(fresh, buffer, static_cast<size_t>(index));
    std::memcpy(fresh + index, s.buffer, static_cast<size_t>(slen));
    std::memcpy(fresh + index + slen, buffer + index, static_cast<size_t>(len - index + 1));
    take_buffer(fresh, size);
}

KIVO_STRING KIVO_STRING::get(long start, long end) const
{
    KIVO_STRING out;
    long len = length();
    if (end == -1) {
        end = len - 1;
    }
    if (start < 0 || start >= len || end < start || end >= len) {
        return out;
    }
    if (out.reallocate_string(end - start + 2)) {
        std::memcpy(out.buffer, buffer + start, static_cast<size_t>(end - start + 1));
        out.buffer[end - start + 1] = 0;
    }
    return out;
}

void KIVO_STRING::trim_start_whitespace()
{
    if (!buffer) {
        return;
    }
    long i = 0;
    while (buffer[i] && is_7bit_space(buffer[i])) {
        ++i;
    }
    if (i) {
        std::memmove(buffer, buffer + i, std::strlen(buffer + i) + 1);
    }
}

void KIVO_STRING::trim_end_whitespace()
{
    for (long i = length() - 1; i >= 0 && is_7bit_space(buffer[i]); --i) {
        buffer[i] = 0;
    }
}

long KIVO_STRING::get_base64(INT_U8* out, long out_size) const
{
    if (length() == 0) {
        return 0;
    }
    if (!out || out_size < 1) {
        return decode_base64(buffer, nullptr, 0);
    }
    return decode_base64(buffer, out, out_size);
}

void KIVO_STRING::set_base64(const INT_U8* data, long n)
{
    if (!data || n < 1) {
        return;
    }
    long enc = encode_base64(data, n, nullptr, 0);
    if (enc < 0 || !reallocate_string(enc + 1)) {
        clear();
        return;
    }
    encode_base64(data, n, buffer, alloc);
}

void KIVO_STRING::encrypt()
{
    long n = length();
    if (n == 0) {
        return;
    }
    INT_U8* scrambled = static_cast<INT_U8*>(std::malloc(static_cast<size_t>(n + 2)));
    if (!scrambled) {
        return;
    }
    long m = ::encrypt(reinterpret_cast<const INT_U8*>(buffer), n, scrambled, n + 2);
    long enc = m > 0 ? encode_base64(scrambled, m, nullptr, 0) : -1;
    if (enc > 0 && reallocate_string(enc + 1)) {
        encode_base64(scrambled, m, buffer, alloc);
    }
    std::free(scrambled);
}

void KIVO_STRING::decrypt()
{
    long size = get_base64(nullptr, 0);
    if (size < 3) {
        return;
    }
    INT_U8* raw = static_cast<INT_U8*>(std::malloc(static_cast<size_t>(size)));
    if (!raw) {
        return;
    }
    long got = decode_base64(buffer, raw, size);
    // The plain text is shorter than its base64 form, so it fits in place.
    long plain = got >= 3 ? ::decrypt(raw, got, reinterpret_cast<INT_U8*>(buffer), alloc - 1) : 0;
    if (plain > 0) {
        buffer[plain] = 0;
    }
    std::free(raw);
}

void KIVO_STRING::copy_into_clipboard()
{
    kivo_host()->set_clipboard_text(buffer ? buffer : "");
}

bool KIVO_STRING::copy_from_clipboard()
{
    if (!kivo_host()->has_clipboard_text()) {
        return false;
    }
    char buf[1024];
    if (!kivo_host()->get_clipboard_text(buf, sizeof buf)) {
        return false;
    }
    buf[sizeof buf - 1] = 0;
    clear();
    *this = static_cast<const char*>(buf);
    return true;
}

bool KIVO_STRING::put_to_data_device(DATA_DEVICE& d)
{
    long len = length();
    if (len > 0x7FFFFFFFL) {
        d.error = 1;
        return false;
    }
    if (!put_u32(d, static_cast<INT_U32>(len))) {
        return false;
    }
    if (len == 0) {
        return true;
    }
    return d.write_data_block(reinterpret_cast<const INT_U8*>(buffer), len) == len;
}

bool KIVO_STRING::get_from_data_device(DATA_DEVICE& d)
{
    empty_rule();
    INT_U32 len;
    if (!get_u32(d, len)) {
        return false;
    }
    if (len == 0) {
        return true;
    }
    if (len & 0x80000000u) {
        return false;
    }
    // Grows only as fast as bytes arrive, so a corrupt length cannot
    // reserve gigabytes; a cut-off record is a failure, not an empty text.
    if (!read_text_bytes(d, len, &buffer, &alloc, min_sz)) {
        empty_rule();
        return false;
    }
    return true;
}

// ---- free functions ----

long kivo_strtol(const char* s, long dflt)
{
    return s ? std::strtol(s, nullptr, 10) : dflt;
}

unsigned long kivo_strtoul(const char* s, unsigned long dflt)
{
    return s ? std::strtoul(s, nullptr, 10) : dflt;
}

double kivo_strtod(const char* s, double dflt)
{
    return s ? std::strtod(s, nullptr) : dflt;
}

void kivo_strupr(char* s)
{
    if (!s) {
        return;
    }
    for (; *s; ++s) {
        *s = static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
    }
}

int strcmpi(const char* a, const char* b)
{
    if (!a) {
        a = "";
    }
    if (!b) {
        b = "";
    }
    for (;; ++a, ++b) {
        unsigned char x = lower(*a), y = lower(*b);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (!x) {
            return 0;
        }
    }
}

int strncmpi(const char* a, const char* b, short n)
{
    if (!a) {
        a = "";
    }
    if (!b) {
        b = "";
    }
    long count = n < 1 ? 1 : n;
    for (long i = 0; i < count; ++i) {
        unsigned char x = lower(a[i]), y = lower(b[i]);
        if (x != y) {
            return x < y ? -1 : 1;
        }
        if (!x) {
            return 0;
        }
    }
    return 0;
}

const char* convert_char_to_7bit(INT_U8 c, char* out)
{
    static char own[2];
    if (c >= 192) {
        // 192..255; null entries fall through to "?".
        static const char* const upper_half[64] = {"A", "A", "A", "A", "A", "A",   "AE",    "C",      // 192-199
                                                   "E", "E", "E", "E", "I", "I",   "I",     "I",      // 200-207
                                                   "D", "N", "O", "O", "O", "O",   "O",     nullptr,  // 208-215
                                                   "O", "U", "U", "U", "U", "YSS", nullptr, nullptr,  // 216-223
                                                   "a", "a", "a", "a", "a", "a",   "ae",    "c",      // 224-231
                                                   "e", "e", "e", "e", "i", "i",   "i",     "i",      // 232-239
                                                   "d", "n", "o", "o", "o", "o",   "o",     nullptr,  // 240-247
                                                   "o", "u", "u", "u", "u", "y",   "p",     nullptr}; // 248-255
        if (upper_half[c - 192]) {
            return upper_half[c - 192];
        }
    }
    char* dst = out ? out : own;
    dst[0] = c < 0x80 ? static_cast<char>(c) : '?';
    dst[1] = 0;
    return dst;
}

const char base64_digits[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Constant-initialised so it is usable during static construction.
#define B64_X 0xFF
const INT_U8 base64_values[256] = {
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, 62,    B64_X, B64_X, B64_X, 63,
    52,    53,    54,    55,    56,    57,    58,    59,    60,    61,    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, 0,     1,     2,     3,     4,     5,     6,     7,     8,     9,     10,    11,    12,    13,    14,
    15,    16,    17,    18,    19,    20,    21,    22,    23,    24,    25,    B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, 26,    27,    28,    29,    30,    31,    32,    33,    34,    35,    36,    37,    38,    39,    40,
    41,    42,    43,    44,    45,    46,    47,    48,    49,    50,    51,    B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X,
    B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X, B64_X};
#undef B64_X

long encode_base64(const INT_U8* in, long n, char* out, long out_size)
{
    if (n < 0 || (n > 0 && !in)) {
        return -1;
    }
    long len = ((n + 2) / 3) * 4;
    if (!out || out_size < len + 1) {
        return len;
    }
    long i = 0, o = 0;
    for (; i + 3 <= n; i += 3) {
        INT_U32 v = (static_cast<INT_U32>(in[i]) << 16) | (static_cast<INT_U32>(in[i + 1]) << 8) | in[i + 2];
        out[o++] = base64_digits[(v >> 18) & 63];
        out[o++] = base64_digits[(v >> 12) & 63];
        out[o++] = base64_digits[(v >> 6) & 63];
        out[o++] = base64_digits[v & 63];
    }
    if (n - i == 1) {
        out[o++] = base64_digits[in[i] >> 2];
        out[o++] = base64_digits[(in[i] & 3) << 4];
        out[o++] = '=';
        out[o++] = '=';
    } else if (n - i == 2) {
        out[o++] = base64_digits[in[i] >> 2];
        out[o++] = base64_digits[((in[i] & 3) << 4) | (in[i + 1] >> 4)];
        out[o++] = base64_digits[(in[i + 1] & 15) << 2];
        out[o++] = '=';
    }
    out[o] = 0;
    return len;
}

long decode_base64(const char* in, INT_U8* out, long out_size)
{
    if (!in) {
        return -1;
    }
    long len = static_cast<long>(std::strlen(in));
    if (len % 4) {
        return -1;
    }
    if (len == 0) {
        return 0;
    }
    long size = (len / 4) * 3;
    if (in[len - 1] == '=') {
        --size;
    }
    if (in[len - 2] == '=') {
        --size;
    }
    if (!out || size > out_size) {
        return size;
    }
    long produced = 0;
    for (long g = 0; g < len; g += 4) {
        if (g > 0 && (in[g] == 0 || in[g] == 13)) {
            break;
        }
        INT_U8 v[4];
        for (int k = 0; k < 4; ++k) {
            unsigned char c = static_cast<unsigned char>(in[g + k]);
            if (c == '=' && k >= 2) {
                v[k] = 0;
            } else if (base64_values[c] == 0xFF) {
                return -1;
            } else {
                v[k] = base64_values[c];
            }
        }
        int bytes = in[g + 2] == '=' ? 1 : in[g + 3] == '=' ? 2 : 3;
        INT_U8 b[3] = {static_cast<INT_U8>((v[0] << 2) | (v[1] >> 4)), static_cast<INT_U8>((v[1] << 4) | (v[2] >> 2)),
                       static_cast<INT_U8>((v[2] << 6) | v[3])};
        for (int k = 0; k < bytes && produced < out_size; ++k) {
            out[produced++] = b[k];
        }
        if (in[g + 3] == '=') {
            break;
        }
    }
    // The bytes actually produced: a padded group in the middle ends the
    // data early, and the caller must not take the rest as decoded.
    return produced;
}

// The position counter is as wide as the block, so blocks of any size
// scramble (only the low byte of k1 * i is used, as with a 16-bit counter).
long encrypt(const INT_U8* in, long n, INT_U8* out, long out_size)
{
    if (n < 0) {
        return 0;
    }
    if (!in) {
        return n + 2;
    }
    if (!out || out_size < n + 2) {
        return 0;
    }
    INT_U8 k1 = static_cast<INT_U8>(get_random_number(1, 256));
    INT_U8 k2 = static_cast<INT_U8>(get_random_number(1, 256));
    INT_U8 sum = 0;
    out[0] = k1;
    for (long i = 0; i < n; ++i) {
        out[i + 1] = static_cast<INT_U8>(static_cast<INT_U8>(k1 * i) ^ in[i] ^ k2 ^ static_cast<INT_U8>(~sum));
        sum = static_cast<INT_U8>(sum + in[i]);
    }
    out[n + 1] = k2;
    return n + 2;
}

long decrypt(const INT_U8* in, long n, INT_U8* out, long out_size)
{
    long size = n - 2;
    if (!in) {
        return size;
    }
    if (out_size < size) {
        return 0;
    }
    if (size < 1) {
        return size;
    }
    if (!out) {
        return 0;
    }
    INT_U8 k1 = in[0], k2 = in[n - 1];
    INT_U8 sum = 0;
    for (long i = 0; i < size; ++i) {
        out[i] = static_cast<INT_U8>(static_cast<INT_U8>(k1 * i) ^ in[i + 1] ^ k2 ^ static_cast<INT_U8>(~sum));
        sum = static_cast<INT_U8>(sum + out[i]);
    }
    return size;
}
