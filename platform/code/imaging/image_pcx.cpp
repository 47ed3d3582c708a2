// 256-colour PCX files: run-length pixel data, then the marker byte 12 and a
// 768-byte palette at the end of the file.
#include "image.h"

#include "data_device.h"
#include "image_codec_util.h"

#include <cstring>

namespace {

const long PCX_HEADER_SZ = 128;
const long PCX_PALETTE_SZ = 768;
const INT_U8 PCX_PALETTE_MARKER = 12;
// This palette colour is the reader's transparent key.
const INT_U8 KEY_R = 139, KEY_G = 154, KEY_B = 37;

// Byte source over a device that reads ahead in blocks. Once the device has
// nothing more to give, every further byte is 0 and `ended` is set.
struct BYTE_READER
{
    DATA_DEVICE& d;
    INT_U8 buf[4096];
    long used = 0, pos = 0;
    bool ended = false;

    explicit BYTE_READER(DATA_DEVICE& device) : d(device) {}

    INT_U8 next()
    {
        if (pos == used) {
            if (ended) {
                return 0;
            }
            used = d.read_data_block(buf, long(sizeof buf));
            pos = 0;
            d.error = used > 0 ? 0 : 1;
            if (used <= 0) {
                used = 0;
                ended = true;
                return 0;
            }
        }
        return buf[pos++];
    }
};

} // namespace

bool image_pcx_size(DATA_DEVICE& d, long& w, long& h)
{
    INT_U8 manufacturer = 0, version = 0, encoding = 0, bits = 0;
    INT_U16 x_min = 0, y_min = 0, x_max = 0, y_max = 0;
    if (!get_u8(d, manufacturer) || manufacturer != 10 || !get_u8(d, version) || !get_u8(d, encoding) ||
        !get_u8(d, bits) || !get_u16(d, x_min) || !get_u16(d, y_min) || !get_u16(d, x_max) || !get_u16(d, y_max)) {
        return false;
    }
    w = long(x_max) - long(x_min) + 1;
    h = long(y_max) - long(y_min) + 1;
    return true;
}

bool image_read_pcx(IMAGE& image, DATA_DEVICE& d)
{

    INT_U8 marker = 0;
    long marker_at = d.set_pos(-(PCX_PALETTE_SZ + 1), 1);
    if (marker_at < 0 || !get_u8(d, marker) || marker != PCX_PALETTE_MARKER) {
        return false;
    }
    INT_U8 palette_bytes[PCX_PALETTE_SZ];
    if (!get_bytes(d, palette_bytes, PCX_PALETTE_SZ)) {
        return false;
    }
    COLOUR palette[256];
    for (int i = 0; i < 256; i++) {
        const INT_U8* p = palette_bytes + 3 * i;
        INT_U32 alpha = (p[0] == KEY_R && p[1] == KEY_G && p[2] == KEY_B) ? 0 : 0xFF000000u;
        palette[i] = alpha | INT_U32(p[0]) << 16 | INT_U32(p[1]) << 8 | p[2];
    }

    // The header's size, then the rest of it, of which only the bytes of a
    // stored row matter.
    long w = 0, h = 0;
    INT_U8 reserved = 0, planes = 0;
    INT_U16 h_res = 0, v_res = 0, bytes_per_line = 0, palette_info = 0;
    INT_U8 ega_palette[48], filler[58];
    if (d.set_pos(0, 0) < 0 || !image_pcx_size(d, w, h)) {
        return false;
    }
    if (!get_u16(d, h_res) || !get_u16(d, v_res) || !get_bytes(d, ega_palette, sizeof ega_palette) ||
        !get_u8(d, reserved) || !get_u8(d, planes) || !get_u16(d, bytes_per_line) || !get_u16(d, palette_info) ||
        !get_bytes(d, filler, sizeof filler)) {
        return false;
    }

    if (w < 1 || h < 1 || !image_size_acceptable(INT_U64(w), INT_U64(h))) {
        return false;
    }
    // Runs of 63 pixels in 2 bytes are the most the data before the palette
    // can hold: a header claiming more is forged or the file cut.
    INT_U64 data_bytes = marker_at > PCX_HEADER_SZ ? INT_U64(marker_at - PCX_HEADER_SZ) : 0;
    if ((INT_U64(w) * INT_U64(h) + PCX_RUN_PIXELS - 1) / PCX_RUN_PIXELS * 2 > data_bytes) {
        return false;
    }
    if (!image_reset_for_read(image, w, h)) {
        return false;
    }
    COLOUR* pixels = image.pixels;
    long stride = image.stride;

    // One run counter carries across rows. A run of length 0 (0xC0) is an
    // empty run: its value byte is consumed and nothing is emitted.
    BYTE_READER in(d);
    long run = 0;
    COLOUR value = palette[0];
    for (long y = 0; y < h && !in.ended; y++) {
        COLOUR* row = pixels + y * long(stride);
        long x = 0;
        while (x < bytes_per_line) {
            if (run == 0) {
                INT_U8 b = in.next();
                if ((b & 0xC0) == 0xC0) {
                    run = b & 0x3F;
                    value = palette[in.next()];
                    if (run == 0) {
                        if (in.ended) {
                            break;
                        }
                        continue;
                    }
                } else {
                    run = 1;
                    value = palette[b];
                }
                if (in.ended) {
                    break;
                }
            }
            long n = run < bytes_per_line - x ? run : bytes_per_line - x;
            for (long i = x; i < x + n && i < w; i++) {
                row[i] = value;
            }
            x += n;
            run -= n;
        }
    }
    return true;
}

bool image_write_pcx(IMAGE& image, DATA_DEVICE& d)
{
    const COLOUR* pixels = image.pixels;
    long width = image.width, height = image.height, stride = image.stride;
    long w = width > 0 && pixels ? width : 0;
    long h = height > 0 && pixels ? height : 0;

    // The first write that fails ends the file: the device's error flag
    // stays set and the result says so.
    INT_U8 zeros[58] = {};
    if (!put_u8(d, 10) || !put_u8(d, 5) || !put_u8(d, 1) || !put_u8(d, 8) || !put_u16(d, 0) || !put_u16(d, 0) ||
        !put_u16(d, INT_U16(w - 1)) || !put_u16(d, INT_U16(h - 1)) || !put_u16(d, INT_U16(w)) ||
        !put_u16(d, INT_U16(h)) || !put_bytes(d, zeros, 48) || !put_u8(d, 0) || !put_u8(d, 1) ||
        !put_u16(d, INT_U16(w)) || !put_u16(d, 1) || !put_bytes(d, zeros, 58)) {
        return false;
    }

    // The palette grows as colours appear, up to 255 entries; a colour that
    // finds no room is written as index 0. The last hit is remembered since
    // neighbouring pixels mostly share a colour.
    INT_U32 palette[256];
    int used = 0, last = -1;
    INT_U8 codes[4096 + 2];
    long pending = 0;
    for (long y = 0; y < h; y++) {
        const COLOUR* row = pixels + y * long(stride);
        for (long x = 0; x < w; x++) {
            INT_U32 rgb = INT_U32(row[x]) & 0xFFFFFFu;
            int index = -1;
            if (last >= 0 && palette[last] == rgb) {
                index = last;
            }
            for (int i = 0; index < 0 && i < used; i++) {
                if (palette[i] == rgb) {
                    index = i;
                }
            }
            if (index < 0) {
                if (used < 255) {
                    palette[used] = rgb;
                    index = used++;
                } else {
                    index = 0;
                }
            }
            last = index;
            if (index >= 192) {
                codes[pending++] = 0xC1;
            }
            codes[pending++] = INT_U8(index);
            if (pending >= 4096) {
                if (!put_bytes(d, codes, pending)) {
                    return false;
                }
                pending = 0;
            }
        }
    }
    if (pending && !put_bytes(d, codes, pending)) {
        return false;
    }

    INT_U8 table[1 + PCX_PALETTE_SZ] = {PCX_PALETTE_MARKER};
    for (int i = 0; i < used; i++) {
        table[1 + 3 * i] = INT_U8(palette[i] >> 16);
        table[2 + 3 * i] = INT_U8(palette[i] >> 8);
        table[3 + 3 * i] = INT_U8(palette[i]);
    }
    return put_bytes(d, table, sizeof table);
}
