// The image's own binary record ("kivorawimg") and the embedded image
// definitions compiled into the program.
#include "image.h"

#include "data_device.h"
#include "image_codec_util.h"

#include <cstring>

namespace {

const char RAW_TAG[10] = {'k', 'i', 'v', 'o', 'r', 'a', 'w', 'i', 'm', 'g'};
const INT_U8 RAW_VERSION = 1;
// Pixels are written in blocks of this many words, so a record costs a
// handful of transfers instead of one per pixel.
const long RAW_BLOCK_PIXELS = 4096;
// Rows without padding are read this many bytes at a time at most (a
// whole picture of up to 4096 x 4096).
const long RAW_READ_BYTES = 64L << 20;

// Stored words read straight into a row become pixels in place: nothing
// to do when the record's byte order is the host's, else each word turned
// round.
inline void raw_words_to_pixels(COLOUR* p, long n, INT_U8 swap)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    const bool turn = !swap;
#else
    const bool turn = swap != 0;
#endif
    if (!turn) {
        return;
    }
    for (long i = 0; i < n; i++) {
        p[i].value = __builtin_bswap32(p[i].value);
    }
}

} // namespace

bool IMAGE::get_from_data_device(DATA_DEVICE& d)
{
    long w = 0, h = 0;
    if (!image_raw_size(d, w, h)) {
        return false;
    }
    // Pixels are stored whole, four bytes each: a record claiming more than
    // the device holds is damaged, and must not cost the allocation.
    long left = image_bytes_left(d);
    bool fresh = false;
    if (left < 0 || INT_U64(w) * h * 4 > INT_U64(left) || !image_reset_unfilled_for_read(*this, w, h, fresh)) {
        // (A locked image cannot take the record's size either.)
        d.error = 1;
        return false;
    }
    if (w == 0 || h == 0) {
        return true;
    }
    // The stored words are read straight into the pixels, whole rows at a
    // time: rows without padding lie end to end and come in one transfer
    // (a data file hands a large one over without copying it through its
    // cache). New pixels were not zeroed, so their padding is zeroed here,
    // and a short record leaves the whole picture zero.
    const long row_bytes = long(w) * 4;
    const long rows_per_read = stride == w ? (RAW_READ_BYTES / row_bytes > 0 ? RAW_READ_BYTES / row_bytes : 1) : 1;
    for (long y = 0; y < h; y += rows_per_read) {
        const long rows = h - y < rows_per_read ? h - y : rows_per_read;
        COLOUR* first = pixels + y * long(stride);
        if (!get_bytes(d, first, rows * row_bytes)) {
            std::memset(static_cast<void*>(pixels), 0, size_t(height) * size_t(stride) * sizeof(COLOUR));
            return false;
        }
        raw_words_to_pixels(first, rows * w, d.swap);
        if (fresh && stride > w) {
            std::memset(static_cast<void*>(first + w), 0, size_t(stride - w) * sizeof(COLOUR));
        }
    }
    return true;
}

bool IMAGE::put_to_data_device(DATA_DEVICE& d)
{
    if (!put_bytes(d, RAW_TAG, sizeof RAW_TAG) || !put_u8(d, RAW_VERSION)) {
        return false;
    }
    if (!put_u16(d, INT_U16(width)) || !put_u16(d, INT_U16(height))) {
        return false;
    }
    if (width < 1 || height < 1 || !pixels) {
        return true;
    }
    INT_U8 block[RAW_BLOCK_PIXELS * 4];
    for (long y = 0; y < height; y++) {
        const COLOUR* row = pixels + y * long(stride);
        for (long x = 0; x < width;) {
            long n = width - x < RAW_BLOCK_PIXELS ? width - x : RAW_BLOCK_PIXELS;
            for (long i = 0; i < n; i++) {
                encode_u32(block + 4 * i, row[x + i], d.swap);
            }
            if (!put_bytes(d, block, n * 4)) {
                return false;
            }
            x += n;
        }
    }
    return true;
}

bool IMAGE::load_embedded_image_def(const INT_U8* bytes)
{
    if (!bytes) {
        return false;
    }
    long w = long(bytes[1]) << 8 | bytes[2];
    long h = long(bytes[3]) << 8 | bytes[4];
    if (!image_size_acceptable(INT_U64(w), INT_U64(h))) {
        return false;
    }
    reset(short(w), short(h));
    if (width != w || height != h || !pixels) {
        return w == 0 || h == 0;
    }
    const INT_U8* p = bytes + 5;
    for (long y = 0; y < h; y++) {
        COLOUR* row = pixels + y * long(stride);
        for (long x = 0; x < w; x++, p += 4) {
            row[x] = INT_U32(p[0]) | INT_U32(p[1]) << 8 | INT_U32(p[2]) << 16 | INT_U32(p[3]) << 24;
        }
    }
    return true;
}

bool image_raw_size(DATA_DEVICE& d, long& w, long& h)
{
    char tag[sizeof RAW_TAG];
    INT_U8 version = 0;
    INT_U16 rw = 0, rh = 0;
    if (!get_bytes(d, tag, sizeof tag) || std::memcmp(tag, RAW_TAG, sizeof tag) != 0 || !get_u8(d, version) ||
        version != RAW_VERSION || !get_u16(d, rw) || !get_u16(d, rh)) {
        return false;
    }
    w = rw;
    h = rh;
    return true;
}
