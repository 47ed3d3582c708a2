#ifndef KIVO_IMAGE_CODEC_UTIL_H
#define KIVO_IMAGE_CODEC_UTIL_H

// Shared guards of the image readers. Sizes are s16, so nothing larger
// than 32767 in either direction can be held. A file must never make a
// reader allocate more than its bytes could describe: each reader checks
// the size a header claims against the bytes left at its format's best
// compression before it allocates, and an allocation that still fails is a
// failed read, not the fatal error of IMAGE::reset.
#include "kivo_types.h"

constexpr long IMAGE_MAX_SIDE = 32767;

// True when a w x h picture may be held (w, h >= 0).
inline bool image_size_acceptable(INT_U64 w, INT_U64 h)
{
    return w <= INT_U64(IMAGE_MAX_SIDE) && h <= INT_U64(IMAGE_MAX_SIDE);
}

// Deflate codes at best 258 repeated bytes in two bits.
constexpr INT_U64 DEFLATE_BEST_RATIO = 1032;
// A PCX run holds at most 63 pixels in 2 bytes.
constexpr INT_U64 PCX_RUN_PIXELS = 63;

class DATA_DEVICE;
class IMAGE;

// Bytes from the device's position to its end; -1 when it cannot tell.
long image_bytes_left(DATA_DEVICE& d);
// IMAGE::reset to w x h for a reader: false, instead of ending the
// program, when the pixels cannot be allocated (the image is then empty),
// and false for a locked image that does not have that size already.
bool image_reset_for_read(IMAGE& image, long w, long h);
// The same, but newly allocated pixels are not zeroed: fresh is set when
// there are such, and the reader then writes every word of every row, the
// padding past the width included, or zeroes what it did not write.
bool image_reset_unfilled_for_read(IMAGE& image, long w, long h, bool& fresh);
// IMAGE::resize for a reader's picture, with the same failure rule; the
// picture stays as it was.
bool image_resize_for_read(IMAGE& image, short w, short h, INT_U8 quality);

// The codecs over any data device; the IMAGE members pass their DATA_FILE.
bool image_read_png(IMAGE& image, DATA_DEVICE& d);
bool image_write_png(IMAGE& image, DATA_DEVICE& d);
bool image_read_jpg(IMAGE& image, DATA_DEVICE& d, short w, short h);
bool image_write_jpg(IMAGE& image, DATA_DEVICE& d, char quality, INT_U8 progressive);
bool image_read_pcx(IMAGE& image, DATA_DEVICE& d);
bool image_write_pcx(IMAGE& image, DATA_DEVICE& d);
// The size a picture's header gives, read without decoding anything else:
// false when the bytes are not a header of that format. The device is left
// after the header.
bool image_png_size(DATA_DEVICE& d, long& w, long& h);
bool image_jpg_size(DATA_DEVICE& d, long& w, long& h);
bool image_pcx_size(DATA_DEVICE& d, long& w, long& h);
bool image_raw_size(DATA_DEVICE& d, long& w, long& h);
// Sends what a DATA_FILE holds back (its cache, and stdio's buffer of an
// uncompressed file) to the file; false when the file refuses it. Other
// devices hold nothing back.
bool image_flush_device(DATA_DEVICE& d);

#endif
