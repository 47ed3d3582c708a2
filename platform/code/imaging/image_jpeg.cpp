// JPEG reading (with nearest-sample scaling while decoding) and writing
// through libjpeg, over the data device.
//
// libjpeg's error exit long-jumps back into the calling function; every
// call has its own error manager and jump buffer, and nothing between the
// setjmp and the end of the coding owns a destructor.
#include "image.h"

#include "data_device.h"
#include "debug_stream.h"
#include "image_codec_util.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

namespace {

const size_t JPEG_IO_BUFFER_SZ = 16384;
// Every scan of a progressive or multi-scan file passes over the whole
// picture, and a scan can cost a few bytes: a small forged file of many
// thousands of scans would keep the decoder busy for minutes. Real files
// have about ten.
const int JPEG_MAX_SCANS = 500;

struct JPG_ERROR
{
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// Messages stay off the console: they go to the platform's debug channel
// when it is switched on.
void jpg_output_message(j_common_ptr cinfo)
{
    if (!platform_debug_stream.flags) {
        return;
    }
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    platform_debug_stream.write_to_stream(__FILE__, __LINE__, text, 1);
}

// A decoder's warning says the data is damaged or ends early, and the
// decoder would go on with made-up pixels: such a file fails to load, as a
// damaged PNG does. An unknown JFIF revision or colour transform code is no
// damage.
void jpg_emit_message(j_common_ptr cinfo, int level)
{
    jpeg_error_mgr* err = cinfo->err;
    if (level >= 0) {
        if (err->trace_level >= level) {
            (*err->output_message)(cinfo);
        }
        return;
    }
    (*err->output_message)(cinfo);
    err->num_warnings++;
    if (!cinfo->is_decompressor || err->msg_code == JWRN_JFIF_MAJOR || err->msg_code == JWRN_ADOBE_XFORM) {
        return;
    }
    std::longjmp(reinterpret_cast<JPG_ERROR*>(err)->jump, 1);
}

// Called as the decoder takes in the file: refuses files of too many scans.
void jpg_progress(j_common_ptr cinfo)
{
    if (!cinfo->is_decompressor || reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number <= JPEG_MAX_SCANS) {
        return;
    }
    if (platform_debug_stream.flags) {
        platform_debug_stream.write_to_stream(__FILE__, __LINE__, "JPEG file has too many scans", 1);
    }
    std::longjmp(reinterpret_cast<JPG_ERROR*>(cinfo->err)->jump, 1);
}

struct JPG_SOURCE
{
    jpeg_source_mgr pub;
    DATA_DEVICE* d;
    JOCTET* buffer;
};

void src_init(j_decompress_ptr) {}

boolean src_fill(j_decompress_ptr cinfo)
{
    JPG_SOURCE* src = reinterpret_cast<JPG_SOURCE*>(cinfo->src);
    long got = src->d->read_data_block(src->buffer, long(JPEG_IO_BUFFER_SZ));
    src->d->error = got > 0 ? 0 : 1;
    if (got <= 0) {
        // The end came early: the warning fails the read (see
        // jpg_emit_message); the end marker only keeps the decoder sound.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = size_t(got);
    return TRUE;
}

void src_skip(j_decompress_ptr cinfo, long n)
{
    JPG_SOURCE* src = reinterpret_cast<JPG_SOURCE*>(cinfo->src);
    if (n <= 0) {
        return;
    }
    while (n > long(src->pub.bytes_in_buffer)) {
        n -= long(src->pub.bytes_in_buffer);
        src_fill(cinfo);
    }
    src->pub.next_input_byte += n;
    src->pub.bytes_in_buffer -= size_t(n);
}

void src_term(j_decompress_ptr) {}

struct JPG_DEST
{
    jpeg_destination_mgr pub;
    DATA_DEVICE* d;
    JOCTET* buffer;
};

void dest_init(j_compress_ptr cinfo)
{
    JPG_DEST* dest = reinterpret_cast<JPG_DEST*>(cinfo->dest);
    dest->pub.next_output_byte = dest->buffer;
    dest->pub.free_in_buffer = JPEG_IO_BUFFER_SZ;
}

void dest_write(j_compress_ptr cinfo, size_t n)
{
    JPG_DEST* dest = reinterpret_cast<JPG_DEST*>(cinfo->dest);
    long put = dest->d->write_data_block(dest->buffer, long(n));
    dest->d->error = put == long(n) ? 0 : 1;
    if (put != long(n)) {
        ERREXIT(cinfo, JERR_FILE_WRITE);
    }
}

boolean dest_empty(j_compress_ptr cinfo)
{
    dest_write(cinfo, JPEG_IO_BUFFER_SZ);
    dest_init(cinfo);
    return TRUE;
}

void dest_term(j_compress_ptr cinfo)
{
    JPG_DEST* dest = reinterpret_cast<JPG_DEST*>(cinfo->dest);
    size_t n = JPEG_IO_BUFFER_SZ - dest->pub.free_in_buffer;
    if (n) {
        dest_write(cinfo, n);
    }
}

void attach_source(j_decompress_ptr cinfo, DATA_DEVICE* d)
{
    JPG_SOURCE* src = static_cast<JPG_SOURCE*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPG_SOURCE)));
    src->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, JPEG_IO_BUFFER_SZ));
    src->d = d;
    src->pub.init_source = src_init;
    src->pub.fill_input_buffer = src_fill;
    src->pub.skip_input_data = src_skip;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = src_term;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    cinfo->src = &src->pub;
}

void attach_dest(j_compress_ptr cinfo, DATA_DEVICE* d)
{
    JPG_DEST* dest = static_cast<JPG_DEST*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(JPG_DEST)));
    dest->buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, JPEG_IO_BUFFER_SZ));
    dest->d = d;
    dest->pub.init_destination = dest_init;
    dest->pub.empty_output_buffer = dest_empty;
    dest->pub.term_destination = dest_term;
    cinfo->dest = &dest->pub;
}

// CMYK rows in place to COLOUR words. Files with an Adobe marker store the
// inks inverted (255 = no ink), which is what the decoder hands back.
void cmyk_to_colour(JSAMPROW row, JDIMENSION n, bool inverted)
{
    for (JDIMENSION i = 0; i < n; i++) {
        JSAMPLE* p = row + 4 * i;
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted) {
            c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        }
        INT_U8 r = INT_U8(c * k / 255), g = INT_U8(m * k / 255), b = INT_U8(y * k / 255);
        p[0] = b, p[1] = g, p[2] = r, p[3] = 0xFF;
    }
}

} // namespace

void jpg_error_callback(j_common_ptr cinfo);

// The library's error manager with our exit and message output.
static jpeg_error_mgr* jpg_error_manager(JPG_ERROR& err)
{
    jpeg_error_mgr* mgr = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpg_error_callback;
    err.pub.output_message = jpg_output_message;
    err.pub.emit_message = jpg_emit_message;
    return mgr;
}

void jpg_error_callback(j_common_ptr cinfo)
{
    (*cinfo->err->output_message)(cinfo);
    JPG_ERROR* err = reinterpret_cast<JPG_ERROR*>(cinfo->err);
    std::longjmp(err->jump, 1);
}

bool image_jpg_size(DATA_DEVICE& device, long& w, long& h)
{
    jpeg_decompress_struct cinfo;
    JPG_ERROR err;
    cinfo.err = jpg_error_manager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    attach_source(&cinfo, &device);
    jpeg_read_header(&cinfo, TRUE);
    w = long(cinfo.image_width);
    h = long(cinfo.image_height);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool image_read_jpg(IMAGE& image, DATA_DEVICE& device, short w, short h)
{
    DATA_DEVICE* file = &device;
    jpeg_decompress_struct cinfo;
    JPG_ERROR err;
    jpeg_progress_mgr progress = {};
    progress.progress_monitor = jpg_progress;
    cinfo.err = jpg_error_manager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.progress = &progress;
    attach_source(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    if (!image_size_acceptable(cinfo.image_width, cinfo.image_height)) {
        ERREXIT(&cinfo, JERR_IMAGE_TOO_BIG);
    }
    // Arithmetic coding can describe a huge flat picture in a few hundred
    // bytes: no file length bounds what it would make the reader allocate,
    // so such files are refused.
    if (cinfo.arith_code) {
        ERREXIT(&cinfo, JERR_ARITH_NOTIMPL);
    }
    // Huffman coding spends at least a bit on every block of every
    // component: a file with fewer bytes left cannot hold the picture its
    // header claims, and must not make the reader allocate for it.
    INT_U64 blocks = 0;
    for (int c = 0; c < cinfo.num_components; c++) {
        blocks += INT_U64(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks;
    }
    long left = image_bytes_left(*file);
    if (left < 0 || blocks / 8 > INT_U64(left) + cinfo.src->bytes_in_buffer) {
        ERREXIT(&cinfo, JERR_INPUT_EOF);
    }

    bool cmyk = false;
    switch (cinfo.jpeg_color_space) {
    case JCS_GRAYSCALE:
    case JCS_YCbCr:
    case JCS_RGB: cinfo.out_color_space = JCS_EXT_BGRA; break;
    case JCS_CMYK:
    case JCS_YCCK:
        cinfo.out_color_space = JCS_CMYK;
        cmyk = true;
        break;
    default:
        // Unknown component layouts would show as garbage: refuse them.
        ERREXIT(&cinfo, JERR_CONVERSION_NOTIMPL);
    }
    jpeg_calc_output_dimensions(&cinfo);
    long src_w = long(cinfo.output_width), src_h = long(cinfo.output_height);
    if (src_w < 1 || src_h < 1 || !image_size_acceptable(INT_U64(src_w), INT_U64(src_h))) {
        ERREXIT(&cinfo, JERR_EMPTY_IMAGE);
    }
    long dst_w = w < 1 ? src_w : w, dst_h = h < 1 ? src_h : h;
    if (!image_size_acceptable(INT_U64(dst_w), INT_U64(dst_h))) {
        ERREXIT(&cinfo, JERR_IMAGE_TOO_BIG);
    }

    if (!image_reset_for_read(image, dst_w, dst_h)) {
        ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    }
    COLOUR* pixels = image.pixels;
    long stride = image.stride;
    JSAMPARRAY line =
        (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, JDIMENSION(src_w * 4), 1);
    jpeg_start_decompress(&cinfo);
    bool inverted = cinfo.saw_Adobe_marker;

    if (dst_w == src_w && dst_h == src_h) {
        // Same size: each scanline lands in its row.
        for (long y = 0; y < src_h; y++) {
            JSAMPROW row = reinterpret_cast<JSAMPROW>(pixels + y * long(stride));
            JSAMPROW target = cmyk ? line[0] : row;
            jpeg_read_scanlines(&cinfo, &target, 1);
            if (cmyk) {
                cmyk_to_colour(line[0], JDIMENSION(src_w), inverted);
                std::memcpy(row, line[0], size_t(src_w) * 4);
            }
        }
    } else {
        // Nearest sample while reading: the first source row and column that
        // map onto a target row or column win, gaps repeat the row above or
        // the pixel to the left. A source of one row or column maps to 0 and
        // is repeated across the target.
        long last_row = -1;
        for (long s = 0; s < src_h; s++) {
            JSAMPROW target = line[0];
            jpeg_read_scanlines(&cinfo, &target, 1);
            long t = src_h > 1 ? long(INT_S64(s) * (dst_h - 1) / (src_h - 1)) : 0;
            if (t <= last_row) {
                continue;
            }
            if (cmyk) {
                cmyk_to_colour(line[0], JDIMENSION(src_w), inverted);
            }
            for (long r = last_row + 1; r < t; r++) {
                std::memcpy(pixels + r * long(stride), pixels + (r - 1) * long(stride), size_t(dst_w) * 4);
            }
            COLOUR* row = pixels + t * long(stride);
            const INT_U8* in = line[0];
            long last_col = -1;
            for (long c = 0; c < src_w; c++) {
                long u = src_w > 1 ? long(INT_S64(c) * (dst_w - 1) / (src_w - 1)) : 0;
                if (u <= last_col) {
                    continue;
                }
                const INT_U8* p = in + 4 * c;
                COLOUR colour = INT_U32(p[0]) | INT_U32(p[1]) << 8 | INT_U32(p[2]) << 16 | INT_U32(p[3]) << 24;
                for (long k = last_col + 1; k < u; k++) {
                    row[k] = row[k - 1];
                }
                row[u] = colour;
                last_col = u;
            }
            for (long k = last_col + 1; k < dst_w; k++) {
                row[k] = row[k - 1];
            }
            last_row = t;
        }
        for (long r = last_row + 1; r < dst_h; r++) {
            std::memcpy(pixels + r * long(stride), pixels + (r - 1) * long(stride), size_t(dst_w) * 4);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool image_write_jpg(IMAGE& image, DATA_DEVICE& device, char quality, INT_U8 progressive)
{
    DATA_DEVICE* file = &device;
    const COLOUR* pixels = image.pixels;
    long width = image.width, height = image.height, stride = image.stride;
    if (INT_U8(quality) > 100) {
        return false;
    }
    // libjpeg cannot encode an empty picture; a file without one is broken.
    if (width < 1 || height < 1 || !pixels) {
        return false;
    }
    jpeg_compress_struct cinfo;
    JPG_ERROR err;
    cinfo.err = jpg_error_manager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    attach_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    JSAMPARRAY line =
        (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, JDIMENSION(width) * 3, 1);
    jpeg_start_compress(&cinfo, TRUE);
    for (long y = 0; y < height; y++) {
        const COLOUR* row = pixels + y * long(stride);
        JSAMPROW out = line[0];
        for (long x = 0; x < width; x++) {
            INT_U32 c = row[x];
            out[3 * x] = JSAMPLE(c >> 16);
            out[3 * x + 1] = JSAMPLE(c >> 8);
            out[3 * x + 2] = JSAMPLE(c);
        }
        jpeg_write_scanlines(&cinfo, line, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}
