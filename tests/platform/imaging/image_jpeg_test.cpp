// JPEG reading (grey, RGB, progressive, CMYK; scaling while decoding),
// writing, and damaged files. Files come from libjpeg itself.
#include "codec_fixtures.h"
#include "image.h"
#include "image_codec_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

using kivo_test::make_jpeg;
using kivo_test::MEMORY_DATA_DEVICE;
using kivo_test::pixel;

namespace {

bool read_jpg(IMAGE& image, const std::string& bytes, short w = -1, short h = -1)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_jpg(image, d, w, h);
}

// Smooth samples (JPEG keeps those close) in `components` channels.
std::vector<INT_U8> smooth(int w, int h, int components)
{
    std::vector<INT_U8> out;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < components; c++)
                out.push_back(INT_U8(x * 150 / w + y * 50 / h + c * 20));
    return out;
}

int channel(COLOUR c, int shift)
{
    return int(INT_U32(c) >> shift & 0xFF);
}

// Target column (or row) of source index c when src is mapped onto dst.
long map_index(long c, long src, long dst)
{
    return src > 1 ? c * (dst - 1) / (src - 1) : 0;
}

// The source index a target index shows: the first source index of the
// nearest mapped target index at or before it.
long source_for(long t, long src, long dst)
{
    long best = 0;
    for (long c = 0; c < src; c++)
        if (map_index(c, src, dst) <= t && map_index(c, src, dst) > map_index(best, src, dst))
            best = c;
    return best;
}

} // namespace

TEST(JpegRead, GreyRgbAndProgressiveFilesDecodeCloseToTheirSource)
{
    const int w = 48, h = 32;
    for (int components : {1, 3})
        for (bool progressive : {false, true}) {
            SCOPED_TRACE(testing::Message() << components << " components, progressive " << progressive);
            std::vector<INT_U8> samples = smooth(w, h, components);
            IMAGE image;
            ASSERT_TRUE(read_jpg(image, make_jpeg(w, h, components, samples, 95, progressive)));
            ASSERT_EQ(image.width, w);
            ASSERT_EQ(image.height, h);
            int worst = 0;
            for (int y = 0; y < h; y++)
                for (int x = 0; x < w; x++) {
                    COLOUR c = pixel(image, x, y);
                    ASSERT_EQ(channel(c, 24), 255);
                    const INT_U8* s = samples.data() + (y * w + x) * components;
                    int r = s[0], g = components == 3 ? s[1] : s[0], b = components == 3 ? s[2] : s[0];
                    worst = std::max({worst, std::abs(channel(c, 16) - r), std::abs(channel(c, 8) - g),
                                      std::abs(channel(c, 0) - b)});
                    if (components == 1) {
                        ASSERT_EQ(channel(c, 16), channel(c, 8));
                        ASSERT_EQ(channel(c, 8), channel(c, 0));
                    }
                }
            EXPECT_LE(worst, 8);
        }
}

TEST(JpegRead, CmykFilesAreConvertedNotShownAsGarbage)
{
    // libjpeg stores CMYK with the Adobe marker: inverted inks, 255 = none.
    const int w = 16, h = 8;
    std::vector<INT_U8> samples;
    for (int i = 0; i < w * h; i++) {
        bool left = (i % w) < w / 2;
        // Left: no cyan, full magenta and yellow, no black = red.
        // Right: half black over white = mid grey.
        const INT_U8 red[4] = {255, 0, 0, 255}, grey[4] = {255, 255, 255, 128};
        samples.insert(samples.end(), left ? red : grey, (left ? red : grey) + 4);
    }
    IMAGE image;
    ASSERT_TRUE(read_jpg(image, make_jpeg(w, h, 4, samples, 100, false)));
    COLOUR red = pixel(image, 2, 4), grey = pixel(image, 13, 4);
    EXPECT_EQ(channel(red, 24), 255);
    EXPECT_NEAR(channel(red, 16), 255, 6);
    EXPECT_NEAR(channel(red, 8), 0, 6);
    EXPECT_NEAR(channel(red, 0), 0, 6);
    for (int shift : {16, 8, 0})
        EXPECT_NEAR(channel(grey, shift), 128, 6);
}

TEST(JpegRead, ScalingTakesTheFirstSourceRowAndColumnOfEachTarget)
{
    const int w = 100, h = 50;
    std::string file = make_jpeg(w, h, 3, smooth(w, h, 3), 90, false);
    IMAGE natural;
    ASSERT_TRUE(read_jpg(natural, file));

    // Shrinking 100 x 50 to 10 x 5 takes rows 0, 13, 25, 37, 49.
    const long rows[5] = {0, 13, 25, 37, 49};
    struct SIZE
    {
        short w, h;
    };
    for (SIZE size : {SIZE{10, 5}, SIZE{200, 100}, SIZE{7, 50}, SIZE{100, 3}}) {
        SCOPED_TRACE(testing::Message() << size.w << " x " << size.h);
        IMAGE scaled;
        ASSERT_TRUE(read_jpg(scaled, file, size.w, size.h));
        ASSERT_EQ(scaled.width, size.w);
        ASSERT_EQ(scaled.height, size.h);
        for (long ty = 0; ty < size.h; ty++) {
            long sy = source_for(ty, h, size.h);
            if (size.w == 10 && size.h == 5) {
                ASSERT_EQ(sy, rows[ty]);
            }
            for (long tx = 0; tx < size.w; tx++)
                ASSERT_EQ(INT_U32(pixel(scaled, int(tx), int(ty))),
                          INT_U32(pixel(natural, int(source_for(tx, w, size.w)), int(sy))))
                    << tx << "," << ty;
        }
    }

    // A one-pixel source fills any target with its one colour.
    std::string dot = make_jpeg(1, 1, 3, {10, 200, 30}, 95, false);
    IMAGE one, big;
    ASSERT_TRUE(read_jpg(one, dot));
    ASSERT_TRUE(read_jpg(big, dot, 4, 3));
    for (int y = 0; y < 3; y++)
        for (int x = 0; x < 4; x++)
            EXPECT_EQ(INT_U32(pixel(big, x, y)), INT_U32(pixel(one, 0, 0)));
}

TEST(JpegRead, TruncatedFilesArePaddedCorruptOnesFail)
{
    // Busy content, so most of the file is picture data.
    const int w = 64, h = 48;
    std::vector<INT_U8> busy;
    for (int i = 0; i < w * h * 3; i++)
        busy.push_back(INT_U8(i * 7919 % 251));
    std::string file = make_jpeg(w, h, 3, busy, 90, false);
    IMAGE image;
    // Cut in the middle of the picture data: decoded, the rest padded.
    EXPECT_TRUE(read_jpg(image, file.substr(0, file.size() * 2 / 3)));
    EXPECT_EQ(image.width, w);
    // Every cut decodes or fails; none crashes or hangs.
    for (size_t n = 0; n < file.size(); n += 29)
        read_jpg(image, file.substr(0, n));
    EXPECT_FALSE(read_jpg(image, ""));
    EXPECT_FALSE(read_jpg(image, "\xFF\xD8\xFF\xD9"));
    EXPECT_FALSE(read_jpg(image, std::string(500, '\x55')));

    // A frame header claiming 40000 x 48 is refused before allocation.
    std::string big = file;
    size_t sof = big.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    big[sof + 7] = char(40000 >> 8);
    big[sof + 8] = char(40000 & 0xFF);
    image.reset(2, 2);
    EXPECT_FALSE(read_jpg(image, big));
    EXPECT_EQ(image.width, 2);
}

TEST(JpegWrite, RoundTripsWithinToleranceAndRefusesBadRequests)
{
    IMAGE image;
    kivo_test::fill_gradient(image, 40, 30);
    for (INT_U8 progressive : {INT_U8(0), INT_U8(1)}) {
        MEMORY_DATA_DEVICE d;
        ASSERT_TRUE(image_write_jpg(image, d, 95, progressive));
        d.pos = 0;
        IMAGE back;
        ASSERT_TRUE(image_read_jpg(back, d, -1, -1));
        ASSERT_EQ(back.width, 40);
        ASSERT_EQ(back.height, 30);
        for (int y = 0; y < 30; y++)
            for (int x = 0; x < 40; x++)
                for (int shift : {16, 8, 0})
                    ASSERT_NEAR(channel(pixel(back, x, y), shift), channel(pixel(image, x, y), shift), 8);
    }
    // Quality above 100 (any negative one too) fails and writes nothing.
    for (char quality : {char(101), char(-1)}) {
        MEMORY_DATA_DEVICE d;
        EXPECT_FALSE(image_write_jpg(image, d, quality, 0));
        EXPECT_TRUE(d.data.empty());
    }
    // An empty picture would make a broken file.
    IMAGE empty;
    MEMORY_DATA_DEVICE d;
    EXPECT_FALSE(image_write_jpg(empty, d, 90, 0));
    // A device that stops taking bytes fails the save.
    MEMORY_DATA_DEVICE full;
    full.fail_after(100);
    EXPECT_FALSE(image_write_jpg(image, full, 90, 0));
}
