#include "codec_fixtures.h"

#include "data_file.h"

#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace kivo_test {

namespace {

void png_append(png_structp png, png_bytep data, png_size_t n)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}

void png_no_flush(png_structp) {}

int channels_of(int colour_type)
{
    switch (colour_type) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        return 1;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
    case PNG_COLOR_TYPE_RGB:
        return 3;
    default:
        return 4;
    }
}

} // namespace

std::string make_png(const PNG_SPEC& s)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    int channels = channels_of(s.colour_type);
    size_t row_bytes = (size_t(s.width) * channels * s.bit_depth + 7) / 8;
    std::vector<png_byte> rows(row_bytes * s.height, 0);
    // Pack the samples MSB first at the bit depth, big-endian at 16 bits.
    for (int y = 0; y < s.height; y++)
        for (int i = 0; i < s.width * channels; i++) {
            unsigned v = s.samples[size_t(y) * s.width * channels + i];
            png_byte* row = rows.data() + y * row_bytes;
            if (s.bit_depth == 16) {
                row[2 * i] = png_byte(v >> 8);
                row[2 * i + 1] = png_byte(v);
            } else if (s.bit_depth == 8) {
                row[i] = png_byte(v);
            } else {
                int bit = i * s.bit_depth;
                row[bit / 8] |= png_byte(v << (8 - s.bit_depth - bit % 8));
            }
        }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return std::string();
    }
    png_set_write_fn(png, &out, png_append, png_no_flush);
    png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.colour_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (s.colour_type == PNG_COLOR_TYPE_PALETTE) {
        std::vector<png_color> pal(s.palette.size() / 3);
        for (size_t i = 0; i < pal.size(); i++)
            pal[i] = {s.palette[3 * i], s.palette[3 * i + 1], s.palette[3 * i + 2]};
        png_set_PLTE(png, info, pal.data(), int(pal.size()));
        if (!s.palette_alpha.empty())
            png_set_tRNS(png, info, s.palette_alpha.data(), int(s.palette_alpha.size()), nullptr);
    } else if (s.trns_colour) {
        png_color_16 c{};
        c.gray = s.trns_grey;
        c.red = s.trns_r;
        c.green = s.trns_g;
        c.blue = s.trns_b;
        png_set_tRNS(png, info, nullptr, 0, &c);
    }
    if (s.gamma > 0)
        png_set_gAMA(png, info, s.gamma);
    if (s.srgb)
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    png_write_info(png, info);
    std::vector<png_bytep> ptrs(s.height);
    for (int y = 0; y < s.height; y++)
        ptrs[y] = rows.data() + y * row_bytes;
    png_write_image(png, ptrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string make_jpeg(int width, int height, int components, const std::vector<INT_U8>& samples, int quality,
                      bool progressive)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = width;
    cinfo.image_height = height;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive)
        jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < height; y++) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(y) * width * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return out;
}

void fill_gradient(IMAGE& image, int w, int h)
{
    image.reset(short(w), short(h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            INT_U32 r = INT_U32(x * 255 / (w > 1 ? w - 1 : 1)), g = INT_U32(y * 255 / (h > 1 ? h - 1 : 1));
            INT_U32 b = (r + g) / 2;
            image.pixels[y * image.stride + x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
}

COLOUR pixel(const IMAGE& image, int x, int y)
{
    return image.pixels[y * image.stride + x];
}

std::string bytes_of(const std::vector<INT_U8>& data)
{
    return std::string(data.begin(), data.end());
}

void ImageFolderTest::SetUp()
{
    SandboxTest::SetUp();
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    folder.get(alias, nullptr);
}

void ImageFolderTest::write_png(const std::string& name, int w, int h, INT_U32 colour, INT_U32 marker)
{
    IMAGE image;
    image.reset(short(w), short(h));
    image.clear(colour, 1);
    for (int y = 0; marker && y < h; y++)
        image.pixels[y * image.stride] = marker;
    std::string file_name = name.find('.') == std::string::npos ? name + ".png" : name;
    DATA_FILE* file = folder.open_data_file(file_name.c_str(), fm_write, 0, 0);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(image.save_png(file));
    folder.close(file);
}

} // namespace kivo_test
