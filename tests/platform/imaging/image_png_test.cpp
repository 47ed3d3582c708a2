// PNG reading of every colour type and depth, gamma, round trips and bad
// files. Files are made with libpng itself; decoded pixels are compared.
#include "codec_fixtures.h"
#include "image.h"
#include "image_codec_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <sys/resource.h>

#include <cmath>
#include <cstring>

using kivo_test::make_png;
using kivo_test::MEMORY_DATA_DEVICE;
using kivo_test::PNG_SPEC;
using kivo_test::pixel;

namespace {

bool read_png(IMAGE& image, const std::string& bytes)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_png(image, d);
}

// Expected 8-bit value of a sample at a bit depth.
unsigned to8(unsigned v, int depth)
{
    if (depth == 16)
        return v >> 8;
    return v * 255 / ((1u << depth) - 1);
}

// Deterministic samples covering the whole range of the depth.
std::vector<INT_U16> samples_for(int count, int depth, unsigned seed)
{
    std::vector<INT_U16> out(count);
    unsigned max = depth == 16 ? 0xFFFF : (1u << depth) - 1;
    for (int i = 0; i < count; i++) {
        seed = seed * 1103515245u + 12345u;
        out[i] = INT_U16((seed >> 8) % (max + 1));
    }
    return out;
}

struct CASE
{
    int colour_type, depth;
    bool interlaced;
};

} // namespace

TEST(PngRead, EveryColourTypeAndDepthArrivesAsColourWords)
{
    const CASE cases[] = {
        {PNG_COLOR_TYPE_GRAY, 1, false},       {PNG_COLOR_TYPE_GRAY, 2, false},
        {PNG_COLOR_TYPE_GRAY, 4, false},       {PNG_COLOR_TYPE_GRAY, 8, false},
        {PNG_COLOR_TYPE_GRAY, 16, false},      {PNG_COLOR_TYPE_GRAY_ALPHA, 8, false},
        {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false}, {PNG_COLOR_TYPE_RGB, 8, false},
        {PNG_COLOR_TYPE_RGB, 16, false},       {PNG_COLOR_TYPE_RGB_ALPHA, 8, false},
        {PNG_COLOR_TYPE_RGB_ALPHA, 16, false}, {PNG_COLOR_TYPE_PALETTE, 1, false},
        {PNG_COLOR_TYPE_PALETTE, 2, false},    {PNG_COLOR_TYPE_PALETTE, 4, false},
        {PNG_COLOR_TYPE_PALETTE, 8, false},    {PNG_COLOR_TYPE_RGB_ALPHA, 8, true},
        {PNG_COLOR_TYPE_GRAY, 2, true},        {PNG_COLOR_TYPE_PALETTE, 4, true},
    };
    for (const CASE& c : cases) {
        for (int with_trns = 0; with_trns < (c.colour_type == PNG_COLOR_TYPE_PALETTE ? 2 : 1); with_trns++) {
            SCOPED_TRACE(testing::Message() << "type " << c.colour_type << " depth " << c.depth << " interlaced "
                                            << c.interlaced << " tRNS " << with_trns);
            PNG_SPEC s;
            s.width = 13;
            s.height = 9;
            s.colour_type = c.colour_type;
            s.bit_depth = c.depth;
            s.interlaced = c.interlaced;
            int channels = c.colour_type == 0 || c.colour_type == 3 ? 1 : c.colour_type == 4 ? 2 : c.colour_type == 2 ? 3 : 4;
            s.samples = samples_for(s.width * s.height * channels, c.depth, unsigned(c.colour_type * 31 + c.depth));
            int entries = c.colour_type == PNG_COLOR_TYPE_PALETTE ? 1 << c.depth : 0;
            for (int i = 0; i < entries; i++) {
                s.palette.push_back(INT_U8(i * 37));
                s.palette.push_back(INT_U8(255 - i * 11));
                s.palette.push_back(INT_U8(i * 5 + 3));
                if (with_trns)
                    s.palette_alpha.push_back(INT_U8(i * 97 % 256));
            }
            IMAGE image;
            ASSERT_TRUE(read_png(image, make_png(s)));
            ASSERT_EQ(image.width, s.width);
            ASSERT_EQ(image.height, s.height);
            int tolerance = c.depth == 16 ? 1 : 0;
            for (int y = 0; y < s.height; y++)
                for (int x = 0; x < s.width; x++) {
                    const INT_U16* v = s.samples.data() + (y * s.width + x) * channels;
                    unsigned r, g, b, a = 255;
                    if (c.colour_type == PNG_COLOR_TYPE_PALETTE) {
                        r = s.palette[3 * v[0]], g = s.palette[3 * v[0] + 1], b = s.palette[3 * v[0] + 2];
                        if (with_trns)
                            a = s.palette_alpha[v[0]];
                    } else if (channels <= 2) {
                        r = g = b = to8(v[0], c.depth);
                        if (channels == 2)
                            a = to8(v[1], c.depth);
                    } else {
                        r = to8(v[0], c.depth), g = to8(v[1], c.depth), b = to8(v[2], c.depth);
                        if (channels == 4)
                            a = to8(v[3], c.depth);
                    }
                    INT_U32 got = pixel(image, x, y);
                    ASSERT_NEAR(int(got >> 24), int(a), tolerance) << x << "," << y;
                    ASSERT_NEAR(int(got >> 16 & 0xFF), int(r), tolerance) << x << "," << y;
                    ASSERT_NEAR(int(got >> 8 & 0xFF), int(g), tolerance) << x << "," << y;
                    ASSERT_NEAR(int(got & 0xFF), int(b), tolerance) << x << "," << y;
                }
        }
    }
}

TEST(PngRead, TransparentColourOfGreyAndRgbFilesBecomesAlpha)
{
    PNG_SPEC grey;
    grey.width = 3;
    grey.height = 1;
    grey.colour_type = PNG_COLOR_TYPE_GRAY;
    grey.samples = {10, 20, 30};
    grey.trns_colour = true;
    grey.trns_grey = 20;
    IMAGE image;
    ASSERT_TRUE(read_png(image, make_png(grey)));
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), 0xFF0A0A0Au);
    EXPECT_EQ(INT_U32(pixel(image, 1, 0)) >> 24, 0u);
    EXPECT_EQ(INT_U32(pixel(image, 2, 0)), 0xFF1E1E1Eu);

}

TEST(PngRead, GammaIsCorrectedForTheScreenOnly)
{
    PNG_SPEC s;
    s.width = 5;
    s.height = 1;
    s.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
    s.samples = {0, 64, 128, 77, 200, 255, 16, 128, 128, 128, 128, 128, 250, 1, 99, 255, 3, 3, 3, 0};
    auto expect_unchanged = [&](const PNG_SPEC& spec) {
        IMAGE image;
        ASSERT_TRUE(read_png(image, make_png(spec)));
        for (int x = 0; x < 5; x++) {
            const INT_U16* v = spec.samples.data() + 4 * x;
            EXPECT_EQ(INT_U32(pixel(image, x, 0)), INT_U32(v[3]) << 24 | INT_U32(v[0]) << 16 | INT_U32(v[1]) << 8 | v[2]);
        }
    };
    // No gamma information, the usual 1/2.2, and sRGB.
    expect_unchanged(s);
    PNG_SPEC usual = s;
    usual.gamma = 1 / 2.2;
    expect_unchanged(usual);
    PNG_SPEC srgb = s;
    srgb.srgb = true;
    expect_unchanged(srgb);

    // A linear file is brightened for the display; alpha is untouched.
    PNG_SPEC linear = s;
    linear.gamma = 1.0;
    IMAGE image;
    ASSERT_TRUE(read_png(image, make_png(linear)));
    for (int x = 0; x < 5; x++) {
        const INT_U16* v = linear.samples.data() + 4 * x;
        INT_U32 got = pixel(image, x, 0);
        EXPECT_EQ(got >> 24, v[3]);
        for (int ch = 0; ch < 3; ch++) {
            double expected = 255.0 * std::pow(v[ch] / 255.0, 1.0 / (IMAGE::screen_gamma * 1.0));
            EXPECT_NEAR(double(got >> (16 - 8 * ch) & 0xFF), expected, 1.0) << x << " channel " << ch;
        }
    }
}

TEST(PngWrite, SavedPicturesReloadIdenticalWithTheirTextChunks)
{
    IMAGE image;
    image.reset(17, 5);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 17; x++)
            image.pixels[y * image.stride + x] = INT_U32(x * 15) << 24 | INT_U32(y * 50) << 16 | INT_U32(x * 7) << 8 | 200u;
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(image_write_png(image, d));
    d.pos = 0;
    IMAGE back;
    ASSERT_TRUE(image_read_png(back, d));
    ASSERT_EQ(back.width, 17);
    ASSERT_EQ(back.height, 5);
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 17; x++)
            ASSERT_EQ(INT_U32(pixel(back, x, y)), INT_U32(pixel(image, x, y))) << x << "," << y;

    // The two text chunks are stored uncompressed.
    std::string bytes = kivo_test::bytes_of(d.data);
    EXPECT_NE(bytes.find("Author"), std::string::npos);
    EXPECT_NE(bytes.find("Created by K.I.V.O. Ltd Platform Library"), std::string::npos);
    EXPECT_NE(bytes.find("Website"), std::string::npos);

    // An empty picture has no valid PNG form.
    IMAGE empty;
    MEMORY_DATA_DEVICE none;
    EXPECT_FALSE(image_write_png(empty, none));
}

TEST(PngRead, DamagedAndOversizedFilesFailWithoutTouchingMuchMemory)
{
    PNG_SPEC s;
    s.width = 40;
    s.height = 30;
    s.colour_type = PNG_COLOR_TYPE_RGB;
    s.samples = samples_for(40 * 30 * 3, 8, 7);
    std::string good = make_png(s);
    IMAGE image;
    EXPECT_FALSE(read_png(image, ""));
    EXPECT_FALSE(read_png(image, "GIF89a"));
    // Every cut of the file fails; none crashes.
    for (size_t n = 0; n < good.size(); n += (n < 64 ? 1 : 37))
        EXPECT_FALSE(read_png(image, good.substr(0, n))) << n;

    // Patch the IHDR size (and its CRC) past what an image can hold.
    auto with_size = [&](INT_U32 w, INT_U32 h) {
        std::string bytes = good;
        unsigned char* p = reinterpret_cast<unsigned char*>(&bytes[0]);
        for (int i = 0; i < 4; i++) {
            p[16 + i] = (unsigned char)(w >> (24 - 8 * i));
            p[20 + i] = (unsigned char)(h >> (24 - 8 * i));
        }
        uLong crc = crc32(0, p + 12, 17);
        for (int i = 0; i < 4; i++)
            p[29 + i] = (unsigned char)(crc >> (24 - 8 * i));
        return bytes;
    };
    image.reset(3, 3);
    EXPECT_FALSE(read_png(image, with_size(40000, 30)));
    EXPECT_FALSE(read_png(image, with_size(40, 0x7FFFFFFF)));
    EXPECT_FALSE(read_png(image, with_size(32767, 32767)));
    // Refused before the image was re-sized.
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 3);
}

TEST(PngRead, ForgedChunkLengthsCostNoMemory)
{
    // Found by the fuzzer: a tEXt chunk that claims 2 GB made libpng
    // allocate it all before the read ran out of data.
    const INT_U8 forged[] = {
        0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D,
        0x49, 0x48, 0x44, 0x52, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x05,
        0x08, 0x06, 0x00, 0x00, 0x00, 0x89, 0x9A, 0xF6, 0xD8, 0x00, 0x00, 0x00,
        0x04, 0x73, 0x42, 0x49, 0x54, 0x08, 0x08, 0x08, 0x08, 0x7C, 0x08, 0x64,
        0x88, 0x7A, 0x00, 0x00, 0x2F, 0x74, 0x45, 0x58, 0x74, 0x41, 0x75, 0x74,
        0x68, 0x0D, 0x0A, 0x1A, 0x0A, 0x6F, 0x72, 0x00, 0x43, 0x72, 0x65, 0x61,
        0x74, 0x65, 0x64, 0x20, 0x62, 0x79, 0x20, 0x4B, 0x2E, 0x49, 0x2E, 0x56,
        0x2E, 0x4F, 0x2E, 0x29, 0x4C, 0x74, 0x64, 0x20, 0x50, 0x6C, 0x61, 0x74,
        0x66, 0x6F, 0x72, 0x6D, 0x89, 0x50, 0x4E, 0x47, 0xFE, 0xFF, 0xFF, 0xFF,
        0x49, 0x0D, 0x06, 0x06, 0x91, 0x74, 0xC2, 0x20, 0x74, 0x45, 0x58, 0x74,
        0x57, 0x65, 0x62, 0x73, 0x69, 0x74, 0x65, 0x00, 0x68, 0x74, 0x74, 0x70,
        0x23, 0xE9, 0xC4, 0xA4, 0x91, 0x74, 0xC2, 0x74, 0x95, 0xC0, 0xD9, 0x00,
        0xBA, 0x9F, 0x0C, 0x6E, 0x63, 0x40, 0xE0, 0x09, 0x00, 0x00, 0x00, 0x00,
        0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82,
    };
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    IMAGE image;
    EXPECT_FALSE(read_png(image, std::string(reinterpret_cast<const char*>(forged), sizeof forged)));
    getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256L * 1024); // kilobytes
}
