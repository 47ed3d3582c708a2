#ifndef KIVO_IMAGE_CODEC_UTIL_H
#define KIVO_IMAGE_CODEC_UTIL_H

// Shared guards of the image readers. Sizes are s16, so nothing larger
// than 32767 in either direction can be held; and a file must never be
// able to ask for so many pixels that the allocation fails (which is a
// fatal error) or starves the machine.
#include "kivo_types.h"

constexpr long IMAGE_MAX_SIDE = 32767;
// 16 Mi pixels (64 MiB, 4096 x 4096): far above any skin or picture the
// program shows, and small enough that a forged header costs little.
constexpr INT_U64 IMAGE_MAX_PIXELS = INT_U64(1) << 24;

// True when a w x h picture may be allocated (w, h >= 0).
inline bool image_size_acceptable(INT_U64 w, INT_U64 h)
{
    return w <= INT_U64(IMAGE_MAX_SIDE) && h <= INT_U64(IMAGE_MAX_SIDE) && w * h <= IMAGE_MAX_PIXELS;
}

class DATA_DEVICE;
class IMAGE;

// The codecs over any data device; the IMAGE members pass their DATA_FILE.
bool image_read_png(IMAGE& image, DATA_DEVICE& d);
bool image_write_png(IMAGE& image, DATA_DEVICE& d);
bool image_read_jpg(IMAGE& image, DATA_DEVICE& d, short w, short h);
bool image_write_jpg(IMAGE& image, DATA_DEVICE& d, char quality, INT_U8 progressive);
bool image_read_pcx(IMAGE& image, DATA_DEVICE& d);
bool image_write_pcx(IMAGE& image, DATA_DEVICE& d);
// Sends what a DATA_FILE holds back (its cache, and stdio's buffer of an
// uncompressed file) to the file; false when the file refuses it. Other
// devices hold nothing back.
bool image_flush_device(DATA_DEVICE& d);

#endif
