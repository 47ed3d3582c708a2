// PNG reading of every colour type and depth, gamma, round trips and bad
// files. Files are made with libpng itself; decoded pixels are compared.
#include "alloc_watch.h"
#include "image_codec_util.h"
#include "image_test_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cmath>

using kivo_test::MEMORY_DATA_DEVICE;
using namespace imgtest;

namespace {

const int channels_of[7] = {1, 0, 3, 1, 2, 0, 4}; // by PNG_COLOR_TYPE_*

struct PNG_PICTURE
{
    int width = 13, height = 9, colour_type = PNG_COLOR_TYPE_RGB_ALPHA, bit_depth = 8;
    bool interlaced = false, srgb = false;
    double gamma = 0; // non-zero: a gAMA chunk
    std::vector<png_color> palette;
    std::vector<INT_U8> palette_alpha; // tRNS alphas
    int trns_grey = -1;                // a tRNS grey level
    std::vector<INT_U16> samples;      // one per channel, at the depth
};

void png_append(png_structp png, png_bytep data, png_size_t n)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<char*>(data), n);
}

std::string make_png(const PNG_PICTURE& s)
{
    std::string out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    int samples_per_row = s.width * channels_of[s.colour_type];
    size_t row_bytes = (size_t(samples_per_row) * s.bit_depth + 7) / 8;
    std::vector<png_byte> rows(row_bytes * s.height, 0);
    std::vector<png_bytep> ptrs(s.height);
    // Samples packed MSB first, big-endian at 16 bits.
    for (int y = 0; y < s.height; y++) {
        png_byte* row = ptrs[y] = rows.data() + y * row_bytes;
        for (int i = 0; i < samples_per_row; i++) {
            unsigned v = s.samples[size_t(y) * samples_per_row + i];
            if (s.bit_depth == 16) {
                row[2 * i] = png_byte(v >> 8), row[2 * i + 1] = png_byte(v);
            } else {
                row[i * s.bit_depth / 8] |= png_byte(v << (8 - s.bit_depth - i * s.bit_depth % 8));
            }
        }
    }
    png_set_write_fn(png, &out, png_append, [](png_structp) {});
    png_set_IHDR(png, info, s.width, s.height, s.bit_depth, s.colour_type,
                 s.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!s.palette.empty()) {
        png_set_PLTE(png, info, s.palette.data(), int(s.palette.size()));
    }
    if (!s.palette_alpha.empty()) {
        png_set_tRNS(png, info, s.palette_alpha.data(), int(s.palette_alpha.size()), nullptr);
    }
    png_color_16 key{};
    key.gray = png_uint_16(s.trns_grey);
    if (s.trns_grey >= 0) {
        png_set_tRNS(png, info, nullptr, 0, &key);
    }
    if (s.gamma > 0) {
        png_set_gAMA(png, info, s.gamma);
    }
    if (s.srgb) {
        png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    }
    png_write_info(png, info);
    png_write_image(png, ptrs.data());
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

bool read_png(IMAGE& image, const std::string& bytes)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_png(image, d);
}

unsigned to8(unsigned v, int depth)
{
    return depth == 16 ? v >> 8 : v * 255 / ((1u << depth) - 1);
}

// Deterministic samples over the whole range of the depth.
std::vector<INT_U16> samples_for(int count, int depth, unsigned seed)
{
    std::vector<INT_U16> out(count);
    for (INT_U16& v : out) {
        seed = seed * 1103515245u + 12345u;
        v = INT_U16((seed >> 8) % (depth == 16 ? 0x10000u : 1u << depth));
    }
    return out;
}

// The colour word a pixel with samples v arrives as.
INT_U32 expected(const PNG_PICTURE& s, const INT_U16* v)
{
    int channels = channels_of[s.colour_type], depth = s.bit_depth;
    unsigned r, g, b, a;
    if (s.colour_type == PNG_COLOR_TYPE_PALETTE) {
        r = s.palette[v[0]].red, g = s.palette[v[0]].green, b = s.palette[v[0]].blue;
        a = s.palette_alpha.empty() ? 255 : s.palette_alpha[v[0]];
    } else {
        int step = channels >= 3 ? 1 : 0; // grey: one sample for all three
        r = to8(v[0], depth), g = to8(v[step], depth), b = to8(v[2 * step], depth);
        a = channels % 2 == 0 ? to8(v[channels - 1], depth) : v[0] == s.trns_grey ? 0 : 255;
    }
    return a << 24 | r << 16 | g << 8 | b;
}

} // namespace

TEST(PngRead, EveryColourTypeDepthAndInterlaceArrivesAsColourWords)
{
    for (int type : {0, 2, 3, 4, 6}) {
        for (int depth : {1, 2, 4, 8, 16}) {
            for (int interlaced = 0; interlaced < 2; interlaced++) {
                for (int trns = 0; trns < (type == PNG_COLOR_TYPE_PALETTE || type == 0 ? 2 : 1); trns++) {
                    if ((type == PNG_COLOR_TYPE_PALETTE && depth == 16) || (type != 0 && type != 3 && depth < 8)) {
                        continue;
                    }
                    SCOPED_TRACE(testing::Message() << "type " << type << " depth " << depth << " interlaced "
                                                    << interlaced << " tRNS " << trns);
                    PNG_PICTURE s;
                    s.colour_type = type, s.bit_depth = depth, s.interlaced = interlaced;
                    int channels = channels_of[type];
                    s.samples = samples_for(s.width * s.height * channels, depth, unsigned(type * 31 + depth));
                    if (trns && type == PNG_COLOR_TYPE_GRAY) {
                        s.trns_grey = s.samples[1]; // pixel 1 and all of its level become transparent
                    }
                    for (int i = 0; type == PNG_COLOR_TYPE_PALETTE && i < 1 << depth; i++) {
                        s.palette.push_back({INT_U8(i * 37), INT_U8(255 - i * 11), INT_U8(i * 5 + 3)});
                        if (trns) {
                            s.palette_alpha.push_back(INT_U8(i * 97 % 256));
                        }
                    }
                    IMAGE image;
                    ASSERT_TRUE(read_png(image, make_png(s)));
                    EXPECT_TRUE(same_picture(
                        pattern(s.width, s.height,
                                [&](int x, int y) { return expected(s, &s.samples[(y * s.width + x) * channels]); }),
                        image, depth == 16 ? 1 : 0));
                }
            }
        }
    }
}

TEST(PngRead, GammaIsCorrectedForTheScreenOnly)
{
    // No gamma information, the usual 1/2.2 and sRGB load unchanged; a
    // linear file is brightened for the display, its alpha untouched.
    PNG_PICTURE s;
    s.width = 5, s.height = 1;
    s.samples = {0, 64, 128, 77, 200, 255, 16, 128, 128, 128, 128, 128, 250, 1, 99, 255, 3, 3, 3, 0};
    for (int kind = 0; kind < 4; kind++) {
        s.gamma = kind == 1 ? 1 / 2.2 : kind == 3 ? 1.0 : 0;
        s.srgb = kind == 2;
        auto shown = [&](int v) { return kind < 3 ? v : int(255.0 * std::pow(v / 255.0, 1.0 / IMAGE::screen_gamma)); };
        IMAGE image;
        ASSERT_TRUE(read_png(image, make_png(s)));
        for (int i = 0; i < 20; i++) {
            EXPECT_NEAR(int(px(image, i / 4, 0) >> (i % 4 == 3 ? 24 : 16 - 8 * (i % 4)) & 0xFF),
                        i % 4 == 3 ? s.samples[i] : shown(s.samples[i]), i % 4 == 3 ? 0 : kind / 3)
                << "kind " << kind << " sample " << i;
        }
    }
}

TEST(PngWrite, SavedPicturesReloadIdenticalWithTheirTextChunks)
{
    IMAGE image = pattern(
        17, 5, [](int x, int y) { return INT_U32(x * 15) << 24 | INT_U32(y * 50) << 16 | INT_U32(x * 7) << 8 | 200u; });
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(image_write_png(image, d));
    d.pos = 0;
    IMAGE back;
    ASSERT_TRUE(image_read_png(back, d));
    EXPECT_TRUE(same_picture(image, back));
    // The text chunks are stored uncompressed.
    for (const char* text : {"Author", "Created by K.I.V.O. Ltd Platform Library", "Website"}) {
        EXPECT_NE(d.str().find(text), std::string::npos) << text;
    }
    // An empty picture has no valid PNG form.
    IMAGE empty;
    MEMORY_DATA_DEVICE none;
    EXPECT_FALSE(image_write_png(empty, none));
}

TEST(PngRead, DamagedAndOversizedFilesFailWithoutTouchingMuchMemory)
{
    PNG_PICTURE s;
    s.width = 40, s.height = 30, s.colour_type = PNG_COLOR_TYPE_RGB;
    s.samples = samples_for(40 * 30 * 3, 8, 7);
    std::string good = make_png(s);
    IMAGE image;
    EXPECT_FALSE(read_png(image, "GIF89a"));
    for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 37)) {
        EXPECT_FALSE(read_png(image, good.substr(0, n))) << n;
    }

    // Patch the IHDR size (and its CRC) past what an image can hold; it is
    // refused before the image is re-sized.
    auto with_size = [&](INT_U32 w, INT_U32 h) {
        std::string bytes = good;
        unsigned char* p = reinterpret_cast<unsigned char*>(&bytes[0]);
        for (int i = 0; i < 4; i++) {
            p[16 + i] = (unsigned char)(w >> (24 - 8 * i));
            p[20 + i] = (unsigned char)(h >> (24 - 8 * i));
        }
        uLong crc = crc32(0, p + 12, 17);
        for (int i = 0; i < 4; i++) {
            p[29 + i] = (unsigned char)(crc >> (24 - 8 * i));
        }
        return bytes;
    };
    // Sizes an image can hold but this file's few bytes could not inflate
    // to are refused the same way: a forged header costs no allocation.
    image.reset(3, 3);
    for (INT_U32 side : {40000u, 32767u, 4100u}) {
        EXPECT_FALSE(read_png(image, with_size(side, side))) << side;
    }
    EXPECT_FALSE(read_png(image, with_size(40, 0x7FFFFFFF)));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 3);
}

TEST(PngRead, ForgedChunkLengthsCostNoMemory)
{
    // Found by the fuzzer: a tEXt chunk that claims 2 GB, and a pCAL chunk
    // that claims 1 GB, made libpng allocate it all before the read ran out
    // of data.
    const INT_U8 text[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00,
        0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x05, 0x08, 0x06, 0x00, 0x00, 0x00, 0x89, 0x9A, 0xF6, 0xD8, 0x00,
        0x00, 0x00, 0x04, 0x73, 0x42, 0x49, 0x54, 0x08, 0x08, 0x08, 0x08, 0x7C, 0x08, 0x64, 0x88, 0x7A, 0x00,
        0x00, 0x2F, 0x74, 0x45, 0x58, 0x74, 0x41, 0x75, 0x74, 0x68, 0x0D, 0x0A, 0x1A, 0x0A, 0x6F, 0x72, 0x00,
        0x43, 0x72, 0x65, 0x61, 0x74, 0x65, 0x64, 0x20, 0x62, 0x79, 0x20, 0x4B, 0x2E, 0x49, 0x2E, 0x56, 0x2E,
        0x4F, 0x2E, 0x29, 0x4C, 0x74, 0x64, 0x20, 0x50, 0x6C, 0x61, 0x74, 0x66, 0x6F, 0x72, 0x6D, 0x89, 0x50,
        0x4E, 0x47, 0xFE, 0xFF, 0xFF, 0xFF, 0x49, 0x0D, 0x06, 0x06, 0x91, 0x74, 0xC2, 0x20, 0x74, 0x45, 0x58,
        0x74, 0x57, 0x65, 0x62, 0x73, 0x69, 0x74, 0x65, 0x00, 0x68, 0x74, 0x74, 0x70, 0x23, 0xE9, 0xC4, 0xA4,
        0x91, 0x74, 0xC2, 0x74, 0x95, 0xC0, 0xD9, 0x00, 0xBA, 0x9F, 0x0C, 0x6E, 0x63, 0x40, 0xE0, 0x09, 0x00,
        0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82,
    };
    // A valid header, then a pCAL chunk that claims 1 GB; its checksum
    // would come after the data, so nothing stops the claim earlier.
    const INT_U8 header[] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44,
                             0x52, 0x00, 0x00, 0x00, 0x09, 0x00, 0x00, 0x3F, 0x07, 0x08, 0x00, 0x00, 0x00, 0x00, 0,
                             0,    0,    0,    0x41, 0x54, 0x00, 0x00, 0x70, 0x43, 0x41, 0x4C, 0xCB, 0x99, 0xB6};
    std::string calibration(reinterpret_cast<const char*>(header), sizeof header);
    uLong crc = crc32(0, header + 12, 17);
    for (int i = 0; i < 4; i++) {
        calibration[29 + i] = static_cast<char>(crc >> (24 - 8 * i));
    }
    for (const std::string& bytes : {std::string(reinterpret_cast<const char*>(text), sizeof text), calibration}) {
        IMAGE image;
        long long largest = kivo_test::largest_allocation([&] { EXPECT_FALSE(read_png(image, bytes)); });
        EXPECT_LT(largest, 16LL << 20);
    }
}
