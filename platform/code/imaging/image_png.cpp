// PNG reading and writing through libpng, over the data device.
//
// libpng reports errors by long-jumping back to the setjmp in the calling
// function, so nothing between the setjmp and the end of the coding may own
// a destructor; locals changed after the setjmp are volatile.
#include "image.h"

#include "data_device.h"
#include "data_file.h"
#include "debug_stream.h"
#include "image_codec_util.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// The display's gamma; with files stored at the usual 1/2.2 this cancels
// out, so a file without gamma information loads unchanged.
double IMAGE::screen_gamma = 2.2;

namespace {

void png_read_cb(png_structp png, png_bytep out, png_size_t n)
{
    DATA_DEVICE* d = static_cast<DATA_DEVICE*>(png_get_io_ptr(png));
    long got = d->read_data_block(out, long(n));
    d->error = got == long(n) ? 0 : 1;
    if (got != long(n)) {
        png_error(png, "unexpected end of PNG data");
    }
}

void png_write_cb(png_structp png, png_bytep data, png_size_t n)
{
    DATA_DEVICE* d = static_cast<DATA_DEVICE*>(png_get_io_ptr(png));
    long put = d->write_data_block(data, long(n));
    d->error = put == long(n) ? 0 : 1;
    if (put != long(n)) {
        png_error(png, "unable to write PNG data");
    }
}

void png_flush_cb(png_structp png)
{
    DATA_DEVICE* d = static_cast<DATA_DEVICE*>(png_get_io_ptr(png));
    if (!image_flush_device(*d)) {
        d->error = 1;
        png_error(png, "unable to write PNG data");
    }
}

// Errors end the coding through the long jump. Neither errors nor warnings
// (profile checks, benign chunk complaints) belong on the console: they go
// to the platform's debug channel when it is switched on.
void png_message(png_const_charp text)
{
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream(__FILE__, __LINE__, text, 1);
    }
}

[[noreturn]] void png_error_cb(png_structp png, png_const_charp text)
{
    png_message(text);
    png_longjmp(png, 1);
}

void png_warning_cb(png_structp, png_const_charp text)
{
    png_message(text);
}

const png_alloc_size_t PNG_CHUNK_MALLOC_MAX = 8 * 1024 * 1024;

const char* const PNG_AUTHOR_TEXT = "Created by K.I.V.O. Ltd Platform Library";
const char* const PNG_WEBSITE_TEXT = "http://www.kivo.example/";

} // namespace

bool image_flush_device(DATA_DEVICE& d)
{
    DATA_FILE* file = dynamic_cast<DATA_FILE*>(&d);
    if (!file || !file->is_open()) {
        return true;
    }
    return file->flush_cache() && (file->gz || std::fflush(file->fp) == 0);
}

bool image_png_size(DATA_DEVICE& d, long& w, long& h)
{
    // The signature, then the header chunk, which must come first: its
    // length (13), its type, then the width and height, big-endian.
    static const INT_U8 start[16] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    INT_U8 head[24];
    if (d.read_data_block(head, sizeof head) != long(sizeof head) || std::memcmp(head, start, sizeof start) != 0) {
        return false;
    }
    auto big_endian = [](const INT_U8* b) {
        return long(INT_U32(b[0]) << 24 | INT_U32(b[1]) << 16 | INT_U32(b[2]) << 8 | b[3]);
    };
    w = big_endian(head + 16);
    h = big_endian(head + 20);
    return true;
}

bool image_read_png(IMAGE& image, DATA_DEVICE& device)
{
    DATA_DEVICE* d = &device;

    png_byte signature[4];
    for (int i = 0; i < 4; i++) {
        long got = d->read_data_block(signature + i, 1);
        d->error = got == 1 ? 0 : 1;
        if (got != 1) {
            return false;
        }
    }
    if (png_sig_cmp(signature, 0, 4) != 0) {
        return false;
    }

    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_cb, png_warning_cb);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    png_bytepp volatile rows = nullptr;
    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }

    png_set_read_fn(png, d, png_read_cb);
#ifdef KIVO_FUZZ
    // Mutated files rarely keep valid checksums; let the fuzzer past them.
    png_set_crc_action(png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
#endif
    png_set_sig_bytes(png, 4);
    // libpng refuses larger headers itself before any row is read, and no
    // chunk may make it allocate more than a few megabytes (a forged text
    // chunk length would otherwise cost gigabytes before the read fails).
    png_set_user_limits(png, IMAGE_MAX_SIDE, IMAGE_MAX_SIDE);
    png_set_chunk_malloc_max(png, PNG_CHUNK_MALLOC_MAX);
    png_set_chunk_cache_max(png, 256);
    // The chunks that are read whole into memory and that a picture does
    // not need are skipped unread.
    // (The calibration chunks are read whole below the chunk limit: a
    // 53-byte file claiming a gigabyte of pCAL asked for that gigabyte.)
    static const png_byte skipped[] = "tEXt\0zTXt\0iTXt\0iCCP\0sPLT\0eXIf\0pCAL\0sCAL";
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, skipped, 8);
    png_read_info(png, info);

    png_uint_32 w = 0, h = 0;
    int bit_depth = 0, colour_type = 0;
    png_get_IHDR(png, info, &w, &h, &bit_depth, &colour_type, nullptr, nullptr, nullptr);
    if (!image_size_acceptable(w, h)) {
        png_error(png, "image too large");
    }
    // The rows unpacked, without their filter bytes, are more than the
    // bytes left could inflate to: the header is forged or the file cut.
    INT_U64 row_bits = INT_U64(w) * png_get_bit_depth(png, info) * png_get_channels(png, info);
    long left = image_bytes_left(*d);
    if (left < 0 || row_bits * h / 8 / DEFLATE_BEST_RATIO > INT_U64(left)) {
        png_error(png, "file too short for the picture's size");
    }

    png_set_strip_16(png);
    png_set_packing(png);
    // Palette and grey pictures are expanded, so every kind arrives as
    // B, G, R, A words.
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_set_palette_to_rgb(png);
    }
    if (colour_type == PNG_COLOR_TYPE_GRAY && bit_depth < 8) {
        png_set_expand_gray_1_2_4_to_8(png);
    }
    if (png_get_valid(png, info, PNG_INFO_tRNS)) {
        png_set_tRNS_to_alpha(png);
    }
    if (!(colour_type & PNG_COLOR_MASK_COLOR)) {
        png_set_gray_to_rgb(png);
    }
    double file_gamma = 0.45455;
    if (!png_get_valid(png, info, PNG_INFO_sRGB) && png_get_valid(png, info, PNG_INFO_gAMA)) {
        png_get_gAMA(png, info, &file_gamma);
    }
    png_set_gamma(png, IMAGE::screen_gamma, file_gamma);
    png_set_swap(png);
    if (colour_type & PNG_COLOR_MASK_COLOR) {
        png_set_bgr(png);
    }
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != png_size_t(w) * 4) {
        png_error(png, "unexpected row layout");
    }

    if (!image_reset_for_read(image, long(w), long(h))) {
        png_error(png, "image cannot take the picture's size");
    }
    rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * (h ? h : 1)));
    if (!rows) {
        png_error(png, "out of memory");
    }
    for (png_uint_32 r = 0; r < h; r++) {
        rows[r] = reinterpret_cast<png_bytep>(image.pixels + long(r) * image.stride);
    }
    png_read_image(png, rows);
    png_read_end(png, nullptr);

    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool image_write_png(IMAGE& image, DATA_DEVICE& device)
{
    DATA_DEVICE* d = &device;
    const COLOUR* pixels = image.pixels;
    // Kept in memory: they are read after the setjmp.
    volatile png_uint_32 out_w = image.width > 0 && pixels ? png_uint_32(image.width) : 0;
    volatile png_uint_32 out_h = image.height > 0 && pixels ? png_uint_32(image.height) : 0;

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, png_error_cb, png_warning_cb);
    if (!png) {
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    long h = long(out_h), stride = image.stride;
    png_bytepp rows = static_cast<png_bytepp>(std::malloc(sizeof(png_bytep) * (h ? h : 1)));
    if (!rows) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    for (long r = 0; r < h; r++) {
        rows[r] = reinterpret_cast<png_bytep>(const_cast<COLOUR*>(pixels) + r * stride);
    }
    if (setjmp(png_jmpbuf(png))) {
        std::free(rows);
        png_destroy_write_struct(&png, &info);
        return false;
    }

    png_set_write_fn(png, d, png_write_cb, png_flush_cb);
    // A picture without pixels has no valid header: libpng refuses it here.
    png_set_IHDR(png, info, out_w, out_h, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_color_8 sig_bit;
    sig_bit.red = sig_bit.green = sig_bit.blue = sig_bit.alpha = 8;
    sig_bit.gray = 0;
    png_set_sBIT(png, info, &sig_bit);
    png_text text[2];
    text[0].compression = PNG_TEXT_COMPRESSION_NONE;
    text[0].key = const_cast<png_charp>("Author");
    text[0].text = const_cast<png_charp>(PNG_AUTHOR_TEXT);
    text[0].text_length = 0;
    text[0].itxt_length = 0;
    text[0].lang = nullptr;
    text[0].lang_key = nullptr;
    text[1] = text[0];
    text[1].key = const_cast<png_charp>("Website");
    text[1].text = const_cast<png_charp>(PNG_WEBSITE_TEXT);
    png_set_text(png, info, text, 2);
    png_write_info(png, info);
    png_set_bgr(png);
    png_write_image(png, rows);
    png_write_end(png, nullptr);
    // libpng does not flush after the last chunk itself: a file the disk
    // refused must not pass for saved.
    png_flush_cb(png);

    std::free(rows);
    png_destroy_write_struct(&png, &info);
    return true;
}
