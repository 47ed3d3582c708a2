#ifndef KIVO_STRING_H
#define KIVO_STRING_H

// The framework's growable 8-bit text, and the free string helpers beside
// it. Text is treated as bytes.
#include "data_device.h"
#include "kivo_types.h"

class KIVO_STRING : public DATA_DEVICE_CLIENT
{
public:
    // Owned, NUL-terminated when not null.
    char* buffer = nullptr;
    // Bytes allocated for buffer (0 when null).
    long alloc = 0;
    // Smallest allocation; keeps short strings from reallocating per append.
    long min_sz;

    static long default_min_str_sz;
    // Shared room for a formatted number or a one-byte text.
    static char workspace[24];

    KIVO_STRING();
    explicit KIVO_STRING(const char* s);
    KIVO_STRING(const KIVO_STRING& other);
    KIVO_STRING(KIVO_STRING&& other) noexcept;
    ~KIVO_STRING() override;

    KIVO_STRING& operator=(const KIVO_STRING& other);
    KIVO_STRING& operator=(KIVO_STRING&& other) noexcept;
    KIVO_STRING& operator=(const char* s);
    KIVO_STRING& operator=(short v);
    KIVO_STRING& operator=(long v);
    KIVO_STRING& operator=(int v) { return *this = static_cast<long>(v); }
    KIVO_STRING& operator+=(const char* s);
    KIVO_STRING& operator+=(long v);
    KIVO_STRING& operator+=(short v);
    KIVO_STRING& operator+=(int v) { return *this += static_cast<long>(v); }

    // Frees the buffer (null, alloc 0).
    void clear();
    // Grows to max(n, min_sz) when that exceeds alloc; false only when the
    // allocation fails (the old buffer is kept).
    bool reallocate_string(long n);
    // Text from byte `index`; "" when null or index is out of range.
    char* get_string(long index);

    // Position of `needle` at or after `start`, or -1.
    long find(const KIVO_STRING& needle, long start, INT_U8 case_sensitive) const;
    // Last position at or before `start` (negative: from the end) where
    // `needle` matches, or -1.
    long find_backwards(const KIVO_STRING& needle, long start, INT_U8 case_sensitive) const;
    // Deletes bytes first..last inclusive.
    bool remove(long first, long last);
    // Replaces the first occurrence of `find_text` at or after `start`.
    bool replace(const KIVO_STRING& find_text, const KIVO_STRING& with, long start);
    // Inserts s before byte `index` (0..length).
    void insert(const KIVO_STRING& s, long index);
    // Bytes start..end inclusive (end -1: to the last byte).
    KIVO_STRING get(long start, long end) const;
    void trim_start_whitespace();
    void trim_end_whitespace();

    // The text read as base64: the decoded size when out is null or
    // out_size < 1, else the result of decoding into out.
    long get_base64(INT_U8* out, long out_size) const;
    void set_base64(const INT_U8* data, long n);
    // Text -> base64 of its scrambled bytes, and back.
    void encrypt();
    void decrypt();

    void copy_into_clipboard();
    bool copy_from_clipboard();

    // Record: u32 length in the device's order, then the bytes (no NUL).
    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;

private:
    long length() const;
    void empty_rule();
    // Takes a freshly built buffer of `size` bytes in place of the old one.
    void take_buffer(char* fresh, long size);
};

// Number parsing that tolerates a missing text (null gives the default).
long kivo_strtol(const char* s, long dflt);
unsigned long kivo_strtoul(const char* s, unsigned long dflt);
double kivo_strtod(const char* s, double dflt);
// Upper-cases in place, byte by byte.
void kivo_strupr(char* s);
// Case-insensitive comparisons: 0 equal, -1 when a sorts first, else 1.
int strcmpi(const char* a, const char* b);
// Over at most n bytes; the first byte is always compared.
int strncmpi(const char* a, const char* b, short n);
// Latin-1 byte to 7-bit text; the result is a constant text, or `out` (or
// a static two-byte buffer when out is null).
const char* convert_char_to_7bit(INT_U8 c, char* out);

extern const char base64_digits[65];
extern const INT_U8 base64_values[256];
// Returns the encoded length; writes it and a NUL only when out_size has
// room for both. -1 for a negative n or missing input.
long encode_base64(const INT_U8* in, long n, char* out, long out_size);
// Returns the decoded size (without decoding when out is null or too
// small), the bytes produced, or -1 for text that is not base64.
long decode_base64(const char* in, INT_U8* out, long out_size);

// Keyless scrambler: n + 2 bytes out, framed by two random key bytes
// (the global random session). Results: the size needed with in null, 0
// when out_size is too small, else the bytes written.
long encrypt(const INT_U8* in, long n, INT_U8* out, long out_size);
// The reverse: n - 2 bytes out.
long decrypt(const INT_U8* in, long n, INT_U8* out, long out_size);

#endif
