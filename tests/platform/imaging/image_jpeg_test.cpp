// JPEG reading (grey, RGB, progressive, CMYK; scaling while decoding),
// writing, and damaged files. Files come from libjpeg itself.
#include "image_codec_util.h"
#include "image_test_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <jpeglib.h>

using kivo_test::MEMORY_DATA_DEVICE;
using namespace imgtest;

namespace {

// 8-bit samples: 1 channel grey, 3 RGB, 4 CMYK (libjpeg adds the Adobe
// marker, inks inverted).
std::string make_jpeg(int w, int h, int components, const std::vector<INT_U8>& samples, int quality,
                      bool progressive = false, bool arithmetic = false)
{
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = w;
    cinfo.image_height = h;
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 3 ? JCS_RGB : JCS_CMYK;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (progressive) {
        jpeg_simple_progression(&cinfo);
    }
    cinfo.arith_code = arithmetic;
    jpeg_start_compress(&cinfo, TRUE);
    for (int y = 0; y < h; y++) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.data() + size_t(y) * w * components);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string out(reinterpret_cast<char*>(buffer), size);
    std::free(buffer);
    return out;
}

bool read_jpg(IMAGE& image, const std::string& bytes, short w = -1, short h = -1)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_jpg(image, d, w, h);
}

// Smooth samples (JPEG keeps those close).
std::vector<INT_U8> smooth(int w, int h, int components)
{
    std::vector<INT_U8> out;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            for (int c = 0; c < components; c++) {
                out.push_back(INT_U8(x * 150 / w + y * 50 / h + c * 20));
            }
        }
    }
    return out;
}

// The source index a target index shows when src indices map onto dst as
// c * (dst - 1) / (src - 1): the first source of the nearest mapped target
// index at or before it.
long source_for(long t, long src, long dst)
{
    auto map = [&](long c) { return src > 1 ? c * (dst - 1) / (src - 1) : 0; };
    long best = 0;
    for (long c = 0; c < src; c++) {
        if (map(c) <= t && map(c) > map(best)) {
            best = c;
        }
    }
    return best;
}

} // namespace

TEST(JpegRead, GreyRgbProgressiveAndCmykFilesDecodeCloseToTheirSource)
{
    const int w = 48, h = 32;
    for (int components : {1, 3}) {
        for (bool progressive : {false, true}) {
            SCOPED_TRACE(testing::Message() << components << " components, progressive " << progressive);
            std::vector<INT_U8> samples = smooth(w, h, components);
            IMAGE image;
            ASSERT_TRUE(read_jpg(image, make_jpeg(w, h, components, samples, 95, progressive)));
            const int g = components / 3, b = 2 * g; // grey: every channel from sample 0
            EXPECT_TRUE(same_picture(pattern(w, h,
                                             [&](int x, int y) {
                                                 const INT_U8* s = samples.data() + (y * w + x) * components;
                                                 return 0xFF000000u | INT_U32(s[0]) << 16 | INT_U32(s[g]) << 8 | s[b];
                                             }),
                                     image, 8));
        }
    }

    // CMYK, Adobe-inverted (255 = no ink): the left half no cyan, full
    // magenta and yellow = red; the right half half black = mid grey.
    std::vector<INT_U8> cmyk;
    for (int i = 0; i < 16 * 8; i++) {
        cmyk.insert(cmyk.end(),
                    {255, INT_U8(i % 16 < 8 ? 0 : 255), INT_U8(i % 16 < 8 ? 0 : 255), INT_U8(i % 16 < 8 ? 255 : 128)});
    }
    IMAGE image;
    ASSERT_TRUE(read_jpg(image, make_jpeg(16, 8, 4, cmyk, 100)));
    auto red_then_grey = [](int x, int) { return x < 8 ? 0xFFFF0000u : 0xFF808080u; };
    EXPECT_TRUE(same_picture(pattern(16, 8, red_then_grey), image, 6));
}

TEST(JpegRead, ScalingTakesTheFirstSourceRowAndColumnOfEachTarget)
{
    const long rows_for_5_of_50[5] = {0, 13, 25, 37, 49};
    for (long ty = 0; ty < 5; ty++) {
        ASSERT_EQ(source_for(ty, 50, 5), rows_for_5_of_50[ty]);
    }

    const int w = 100, h = 50;
    std::string file = make_jpeg(w, h, 3, smooth(w, h, 3), 90);
    IMAGE natural;
    ASSERT_TRUE(read_jpg(natural, file));
    const short sizes[4][2] = {{10, 5}, {200, 100}, {7, 50}, {100, 3}};
    for (const auto& size : sizes) {
        SCOPED_TRACE(testing::Message() << size[0] << " x " << size[1]);
        IMAGE scaled;
        ASSERT_TRUE(read_jpg(scaled, file, size[0], size[1]));
        EXPECT_TRUE(same_picture(pattern(size[0], size[1],
                                         [&](int tx, int ty) {
                                             return px(natural, int(source_for(tx, w, size[0])),
                                                       int(source_for(ty, h, size[1])));
                                         }),
                                 scaled));
    }

    // A one-pixel source fills any target with its one colour.
    std::string dot = make_jpeg(1, 1, 3, {10, 200, 30}, 95);
    IMAGE one, big;
    ASSERT_TRUE(read_jpg(one, dot));
    ASSERT_TRUE(read_jpg(big, dot, 4, 3));
    EXPECT_TRUE(same_picture(solid(4, 3, px(one, 0, 0)), big));
}

// A file whose data ends early, or that the decoder finds damaged, fails
// like a damaged PNG: the decoder would fill in made-up pixels.
TEST(JpegRead, TruncatedCorruptAndForgedFilesFail)
{
    // Busy content, so most of the file is picture data.
    const int w = 64, h = 48;
    std::vector<INT_U8> busy;
    for (int i = 0; i < w * h * 3; i++) {
        busy.push_back(INT_U8(i * 7919 % 251));
    }
    std::string file = make_jpeg(w, h, 3, busy, 90);
    IMAGE image;
    ASSERT_TRUE(read_jpg(image, file));
    std::string marker_in_data = file;
    marker_in_data.replace(file.size() / 2, 2, "\xFF\xD3"); // a restart marker the scan has none of
    for (const std::string& bad :
         {file.substr(0, file.size() - 2), marker_in_data, std::string("\xFF\xD8\xFF\xD9"), std::string(500, '\x55')}) {
        EXPECT_FALSE(read_jpg(image, bad)) << bad.size();
    }
    // Every cut fails (the empty file first); none crashes or hangs.
    for (size_t n = 0; n < file.size(); n += 29) {
        EXPECT_FALSE(read_jpg(image, file.substr(0, n))) << n;
    }

    // A frame header claiming 40000 x 48 is refused; so is one claiming
    // 30000 x 30000, more blocks than the file has bits. Both before the
    // image is touched.
    size_t sof = file.find("\xFF\xC0");
    ASSERT_NE(sof, std::string::npos);
    for (int claimed : {40000, 30000}) {
        std::string forged = file;
        forged[sof + 5] = char(claimed == 40000 ? 0 : claimed >> 8);
        forged[sof + 6] = char(claimed == 40000 ? 48 : claimed & 0xFF);
        forged[sof + 7] = char(claimed >> 8);
        forged[sof + 8] = char(claimed & 0xFF);
        image.reset(2, 2);
        EXPECT_FALSE(read_jpg(image, forged)) << claimed;
        EXPECT_EQ(image.width, 2) << claimed;
    }
    // Arithmetic coding, whose size no file length bounds, is refused.
    EXPECT_FALSE(read_jpg(image, make_jpeg(w, h, 3, busy, 90, false, true)));
    EXPECT_EQ(image.width, 2);

    // Each scan passes over the whole picture: a file padded with
    // thousands of repeated few-byte scans is refused, not decoded for
    // minutes.
    std::string many = make_jpeg(w, h, 1, std::vector<INT_U8>(w * h, 90), 90, true);
    size_t last_scan = many.rfind("\xFF\xDA"), end = many.size() - 2;
    std::string scan = many.substr(last_scan, end - last_scan);
    for (int i = 0; i < 600; i++) {
        many.insert(end, scan);
    }
    EXPECT_FALSE(read_jpg(image, many));
}

TEST(JpegWrite, RoundTripsWithinToleranceAndRefusesBadRequests)
{
    IMAGE image = pattern(40, 30, [](int x, int y) {
        return 0xFF000000u | INT_U32(x * 6) << 16 | INT_U32(y * 8) << 8 | INT_U32(x * 3 + y * 4);
    });
    for (INT_U8 progressive : {INT_U8(0), INT_U8(1)}) {
        MEMORY_DATA_DEVICE d;
        ASSERT_TRUE(image_write_jpg(image, d, 95, progressive));
        d.pos = 0;
        IMAGE back;
        ASSERT_TRUE(image_read_jpg(back, d, -1, -1));
        EXPECT_TRUE(same_picture(image, back, 8)) << int(progressive);
    }
    // Quality above 100 (any negative one too) fails and writes nothing.
    for (char quality : {char(101), char(-1)}) {
        MEMORY_DATA_DEVICE d;
        EXPECT_FALSE(image_write_jpg(image, d, quality, 0));
        EXPECT_TRUE(d.data.empty());
    }
    // An empty picture would make a broken file. (A device that stops
    // taking bytes is the save test's.)
    IMAGE empty;
    MEMORY_DATA_DEVICE d;
    EXPECT_FALSE(image_write_jpg(empty, d, 90, 0));
}
