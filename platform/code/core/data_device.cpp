// Byte-exact record fields on a data device.
#include "data_device.h"

#include <cstdlib>
#include <cstring>

void encode_u16(INT_U8* out, INT_U16 v, INT_U8 swap)
{
    for (int i = 0; i < 2; ++i) {
        out[swap ? 1 - i : i] = static_cast<INT_U8>(v >> (8 * i));
    }
}

void encode_u32(INT_U8* out, INT_U32 v, INT_U8 swap)
{
    for (int i = 0; i < 4; ++i) {
        out[swap ? 3 - i : i] = static_cast<INT_U8>(v >> (8 * i));
    }
}

void encode_u64(INT_U8* out, INT_U64 v, INT_U8 swap)
{
    for (int i = 0; i < 8; ++i) {
        out[swap ? 7 - i : i] = static_cast<INT_U8>(v >> (8 * i));
    }
}

INT_U16 decode_u16(const INT_U8* in, INT_U8 swap)
{
    INT_U16 v = 0;
    for (int i = 0; i < 2; ++i) {
        v = static_cast<INT_U16>(v | (static_cast<INT_U16>(in[swap ? 1 - i : i]) << (8 * i)));
    }
    return v;
}

INT_U32 decode_u32(const INT_U8* in, INT_U8 swap)
{
    INT_U32 v = 0;
    for (int i = 0; i < 4; ++i) {
        v |= static_cast<INT_U32>(in[swap ? 3 - i : i]) << (8 * i);
    }
    return v;
}

INT_U64 decode_u64(const INT_U8* in, INT_U8 swap)
{
    INT_U64 v = 0;
    for (int i = 0; i < 8; ++i) {
        v |= static_cast<INT_U64>(in[swap ? 7 - i : i]) << (8 * i);
    }
    return v;
}

namespace {

bool put_block(DATA_DEVICE& d, const INT_U8* data, long n)
{
    bool ok = d.write_data_block(data, n) == n;
    d.error = ok ? 0 : 1;
    return ok;
}

bool get_block(DATA_DEVICE& d, INT_U8* data, long n)
{
    bool ok = d.read_data_block(data, n) == n;
    d.error = ok ? 0 : 1;
    return ok;
}

// Signed fields are the unsigned bytes reinterpreted.
template <typename S, typename U> bool get_signed(DATA_DEVICE& d, S& v, bool (*get)(DATA_DEVICE&, U&))
{
    U u;
    if (!get(d, u)) {
        return false;
    }
    v = static_cast<S>(u);
    return true;
}

// The checks shared by put_bytes and get_bytes: true when the call is
// settled without a transfer (bad arguments, or nothing to move), with the
// result in `result`.
bool settled_without_transfer(DATA_DEVICE& d, const void* data, long n, bool& result)
{
    if (n > 0 && data) {
        return false;
    }
    result = n == 0;
    d.error = result ? 0 : 1;
    return true;
}

} // namespace

bool put_u8(DATA_DEVICE& d, INT_U8 v)
{
    return put_block(d, &v, 1);
}
bool put_s8(DATA_DEVICE& d, INT_S8 v)
{
    return put_u8(d, static_cast<INT_U8>(v));
}

bool put_u16(DATA_DEVICE& d, INT_U16 v)
{
    INT_U8 b[2];
    encode_u16(b, v, d.swap);
    return put_block(d, b, 2);
}

bool put_s16(DATA_DEVICE& d, INT_S16 v)
{
    return put_u16(d, static_cast<INT_U16>(v));
}

bool put_u32(DATA_DEVICE& d, INT_U32 v)
{
    INT_U8 b[4];
    encode_u32(b, v, d.swap);
    return put_block(d, b, 4);
}

bool put_s32(DATA_DEVICE& d, INT_S32 v)
{
    return put_u32(d, static_cast<INT_U32>(v));
}

bool put_float(DATA_DEVICE& d, float v)
{
    static_assert(sizeof(float) == 4, "IEEE single expected");
    INT_U32 bits;
    std::memcpy(&bits, &v, 4);
    return put_u32(d, bits);
}

bool put_double(DATA_DEVICE& d, double v)
{
    static_assert(sizeof(double) == 8, "IEEE double expected");
    INT_U64 bits;
    std::memcpy(&bits, &v, 8);
    INT_U8 b[8];
    encode_u64(b, bits, d.swap);
    return put_block(d, b, 8);
}

bool put_bytes(DATA_DEVICE& d, const void* data, long n)
{
    bool result;
    if (settled_without_transfer(d, data, n, result)) {
        return result;
    }
    return put_block(d, static_cast<const INT_U8*>(data), n);
}

bool put_string(DATA_DEVICE& d, const char* text)
{
    size_t len = text ? std::strlen(text) : 0;
    if (len > 0x7FFFFFFFu) {
        d.error = 1;
        return false;
    }
    if (!put_u32(d, static_cast<INT_U32>(len))) {
        return false;
    }
    return put_bytes(d, text, static_cast<long>(len));
}

bool put_path_block(DATA_DEVICE& d, const char* text)
{
    INT_U8 block[DATA_PATH_BLOCK_SZ] = {};
    size_t len = text ? std::strlen(text) : 0;
    if (len >= static_cast<size_t>(DATA_PATH_BLOCK_SZ)) {
        d.error = 1;
        return false;
    }
    if (len) {
        std::memcpy(block, text, len);
    }
    return put_block(d, block, DATA_PATH_BLOCK_SZ);
}

bool get_u8(DATA_DEVICE& d, INT_U8& v)
{
    return get_block(d, &v, 1);
}

bool get_s8(DATA_DEVICE& d, INT_S8& v)
{
    return get_signed(d, v, get_u8);
}

bool get_u16(DATA_DEVICE& d, INT_U16& v)
{
    INT_U8 b[2];
    if (!get_block(d, b, 2)) {
        return false;
    }
    v = decode_u16(b, d.swap);
    return true;
}

bool get_s16(DATA_DEVICE& d, INT_S16& v)
{
    return get_signed(d, v, get_u16);
}

bool get_u32(DATA_DEVICE& d, INT_U32& v)
{
    INT_U8 b[4];
    if (!get_block(d, b, 4)) {
        return false;
    }
    v = decode_u32(b, d.swap);
    return true;
}

bool get_s32(DATA_DEVICE& d, INT_S32& v)
{
    return get_signed(d, v, get_u32);
}

bool get_float(DATA_DEVICE& d, float& v)
{
    INT_U32 bits;
    if (!get_u32(d, bits)) {
        return false;
    }
    std::memcpy(&v, &bits, 4);
    return true;
}

bool get_double(DATA_DEVICE& d, double& v)
{
    INT_U8 b[8];
    if (!get_block(d, b, 8)) {
        return false;
    }
    INT_U64 bits = decode_u64(b, d.swap);
    std::memcpy(&v, &bits, 8);
    return true;
}

bool get_bytes(DATA_DEVICE& d, void* data, long n)
{
    bool result;
    if (settled_without_transfer(d, data, n, result)) {
        return result;
    }
    return get_block(d, static_cast<INT_U8*>(data), n);
}

bool get_string(DATA_DEVICE& d, char** text)
{
    if (!text) {
        return false;
    }
    *text = nullptr;
    INT_U32 len;
    if (!get_u32(d, len)) {
        return false;
    }
    if (len & 0x80000000u) {
        d.error = 1;
        return false;
    }
    char* buf = nullptr;
    long alloc = 0;
    bool ok = read_text_bytes(d, len, &buf, &alloc, 1);
    d.error = ok ? 0 : 1;
    if (!ok) {
        std::free(buf);
        return false;
    }
    *text = buf;
    return true;
}

bool get_path_block(DATA_DEVICE& d, char* out)
{
    if (!out) {
        return false;
    }
    bool ok = get_block(d, reinterpret_cast<INT_U8*>(out), DATA_PATH_BLOCK_SZ);
    if (!ok) {
        std::memset(out, 0, DATA_PATH_BLOCK_SZ);
    }
    out[DATA_PATH_BLOCK_SZ - 1] = 0;
    return ok;
}

namespace {

// Grows a realloc buffer to at least `need` bytes; the old buffer is kept on
// failure. A buffer that was null starts with a NUL.
bool grow_buffer(char** buf, long* alloc, long need)
{
    if (need <= *alloc) {
        return true;
    }
    char* p = static_cast<char*>(std::realloc(*buf, static_cast<size_t>(need)));
    if (!p) {
        return false;
    }
    if (!*buf) {
        p[0] = 0;
    }
    *buf = p;
    *alloc = need;
    return true;
}

// First step of reading a long text; later steps double, so a corrupt
// length costs at most about twice what the device really held.
constexpr long TEXT_READ_STEP = 1L << 20;

} // namespace

bool read_text_bytes(DATA_DEVICE& d, INT_U32 length, char** buf, long* alloc, long min_alloc)
{
    if (!buf || !alloc) {
        return false;
    }
    long total = static_cast<long>(length);
    long got = 0;
    for (;;) {
        long remaining = total - got;
        long step = got < TEXT_READ_STEP ? TEXT_READ_STEP : got;
        long chunk = remaining < step ? remaining : step;
        long need = got + chunk + 1;
        if (need < min_alloc) {
            need = min_alloc;
        }
        if (!grow_buffer(buf, alloc, need)) {
            if (*buf) {
                (*buf)[0] = 0;
            }
            return false;
        }
        if (chunk > 0 && d.read_data_block(reinterpret_cast<INT_U8*>(*buf) + got, chunk) != chunk) {
            (*buf)[0] = 0;
            return false;
        }
        got += chunk;
        if (got >= total) {
            break;
        }
    }
    (*buf)[total] = 0;
    return true;
}
