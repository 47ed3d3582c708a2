#include "image.h"
#include "image_test_util.h"
#include "resample.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using imgtest::px;

namespace {

// The filter as plainly written: one weights array per output pixel, the
// horizontal pass into a temporary, then column by column.
struct RefContrib
{
    std::vector<double> w;
    long left, right;
};

std::vector<RefContrib> ref_contributions(long n, long s, double scale)
{
    double width = 1.0, f = 1.0;
    if (scale < 1.0) {
        width = 1.0 / scale;
        f = scale;
    }
    std::vector<RefContrib> out;
    for (long i = 0; i < n; ++i) {
        RefContrib c;
        double centre = i / scale;
        c.left = std::max(0L, (long)std::floor(centre - width));
        c.right = std::min(s - 1, (long)std::ceil(centre + width));
        double total = 0;
        for (long j = c.left; j <= c.right; ++j) {
            double wt = f * std::max(0.0, 1.0 - std::fabs((centre - j) * f));
            c.w.push_back(wt);
            total += wt;
        }
        if (total > 0)
            for (double& wt : c.w)
                wt /= total;
        out.push_back(c);
    }
    return out;
}

INT_U32 ref_pixel(const INT_U32* src, long step, const RefContrib& c)
{
    int sum[4] = {0, 0, 0, 0};
    for (long j = c.left; j <= c.right; ++j)
        for (int k = 0; k < 4; ++k)
            sum[k] += (int)(((src[j * step] >> (8 * k)) & 0xFF) * c.w[j - c.left]);
    return INT_U32((sum[3] & 0xFF) << 24 | (sum[2] & 0xFF) << 16 | (sum[1] & 0xFF) << 8 |
                   (sum[0] & 0xFF));
}

std::vector<INT_U32> ref_scale(const std::vector<INT_U32>& src, long sw, long sh, long dw, long dh)
{
    std::vector<INT_U32> temp((size_t)(dw * sh)), dst((size_t)(dw * dh));
    auto hc = ref_contributions(dw, sw, (double)dw / sw);
    for (long r = 0; r < sh; ++r)
        for (long i = 0; i < dw; ++i)
            temp[(size_t)(r * dw + i)] = ref_pixel(&src[(size_t)(r * sw)], 1, hc[(size_t)i]);
    auto vc = ref_contributions(dh, sh, (double)dh / sh);
    for (long x = 0; x < dw; ++x)
        for (long i = 0; i < dh; ++i)
            dst[(size_t)(i * dw + x)] = ref_pixel(&temp[(size_t)x], dw, vc[(size_t)i]);
    return dst;
}

IMAGE* make(int w, int h, std::mt19937& rng)
{
    IMAGE* im = new IMAGE;
    im->setup((short)w, (short)h);
    imgtest::fill_random(*im, rng);
    return im;
}

} // namespace

TEST(ImageResize, TargetSizesAndAspect)
{
    IMAGE im;
    im.setup(100, 50);
    im.keep_aspect = 1;
    im.resize(300, 300, 0);
    EXPECT_EQ(im.width, 300);
    EXPECT_EQ(im.height, 150);
    im.reset(100, 50);
    im.resize(-1, 25, 0);
    EXPECT_EQ(im.width, 50);
    EXPECT_EQ(im.height, 25);
    im.reset(100, 50);
    im.resize(60, -1, 0);
    EXPECT_EQ(im.height, 30);
    im.reset(100, 50);
    im.resize(300, 100, 0); // equal ratios: width follows the height
    EXPECT_EQ(im.width, 200);

    // A maximum refits once into its box: 100 x 50 at most 80 wide.
    im.reset(100, 50);
    im.max_width = 80;
    im.resize(100, 50, 0);
    EXPECT_EQ(im.width, 80);
    EXPECT_EQ(im.height, 40);
    EXPECT_EQ(im.max_width, 80); // written back after the reset

    // Without keep-aspect the maxima simply cap.
    IMAGE plain;
    plain.setup(10, 10);
    plain.max_height = 4;
    plain.resize(30, 30, 0);
    EXPECT_EQ(plain.width, 30);
    EXPECT_EQ(plain.height, 4);
    plain.resize(-2, 5, 0);
    EXPECT_EQ(plain.width, 30);

    // Empty images and zero sides neither divide by zero nor resample.
    IMAGE empty;
    empty.keep_aspect = 1;
    empty.resize(40, -1, 1);
    EXPECT_EQ(empty.pixels, nullptr);
    plain.resize(0, 7, 1);
    EXPECT_EQ(plain.pixels, nullptr);
    EXPECT_EQ(plain.width, 0);
}

TEST(ImageResize, LockedOrSameSizeKeepsThePixels)
{
    std::mt19937 rng(2);
    IMAGE im;
    im.setup(6, 4);
    imgtest::fill_random(im, rng);
    auto before = imgtest::snapshot(im);
    COLOUR* p = im.pixels;
    im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1;
    im.resize(-1, -1, 1);
    EXPECT_EQ(im.pixels, p);
    EXPECT_EQ(imgtest::snapshot(im), before);
    EXPECT_EQ(im.dirty_x2, 5);
    EXPECT_EQ(im.dirty_y2, 3);
    im.locked = 1;
    im.resize(12, 12, 1);
    EXPECT_EQ(im.width, 6);
    EXPECT_EQ(im.pixels, p);
}

TEST(ImageResize, NearestNeighbourPicksBySixteenSixteenSteps)
{
    IMAGE im;
    im.setup(4, 1);
    for (int i = 0; i < 4; ++i)
        im.pixels[i] = 0xFF000000u | INT_U32(i);
    im.resize(2, 1, 0);
    EXPECT_EQ(im.pixels[0], 0xFF000000u);
    EXPECT_EQ(im.pixels[1], 0xFF000002u);
    im.resize(4, 1, 0);
    EXPECT_EQ(im.pixels[1], 0xFF000000u);
    EXPECT_EQ(im.pixels[2], 0xFF000002u);

    IMAGE tall;
    tall.setup(1, 3);
    for (int j = 0; j < 3; ++j)
        px(tall, 0, j) = INT_U32(j + 1);
    tall.resize(2, 7, 0);
    const INT_U32 rows[7] = {1, 1, 1, 2, 2, 3, 3}; // 3 * 65536 / 7 per row
    for (int j = 0; j < 7; ++j) {
        EXPECT_EQ(px(tall, 0, j), rows[j]) << j;
        EXPECT_EQ(px(tall, 1, j), rows[j]) << j;
    }
    // Wide sources: the step is computed without 32-bit overflow.
    IMAGE wide;
    wide.setup(32767, 1);
    for (int i = 0; i < 32767; ++i)
        wide.pixels[i] = INT_U32(i);
    wide.resize(16383, 1, 0);
    const INT_U64 step = (32767ull << 16) / 16383;
    for (int i = 0; i < 16383; ++i)
        ASSERT_EQ(wide.pixels[i], INT_U32((i * step) >> 16)) << i;
}

TEST(ImageResize, BilinearWorkedCases)
{
    IMAGE im;
    im.setup(2, 1);
    im.pixels[0] = 0xFF000000u;
    im.pixels[1] = 0xFFFFFFFFu;
    im.resize(4, 1, 1); // samples at 0, 0.5, 1 and 1.5
    EXPECT_EQ(im.pixels[0], 0xFF000000u);
    EXPECT_EQ(im.pixels[1], 0xFE7F7F7Fu); // alpha too: 127 + 127
    EXPECT_EQ(im.pixels[2], 0xFFFFFFFFu);
    EXPECT_EQ(im.pixels[3], 0xFFFFFFFFu);

    // Truncating each product loses units: 255 at half weights gives 254.
    IMAGE flat;
    flat.setup(4, 1);
    for (int i = 0; i < 4; ++i)
        flat.pixels[i] = 0xFFFFFFFFu;
    flat.resize(2, 1, 1);
    EXPECT_LT(flat.pixels[1] & 0xFF, 255u);
}

TEST(ImageResize, FilterMatchesThePlainTranscription)
{
    std::mt19937 rng(99);
    const int sizes[][4] = {{1, 1, 5, 3},   {7, 5, 3, 2},   {40, 30, 13, 7}, {13, 9, 40, 31},
                            {64, 3, 17, 9}, {5, 64, 9, 17}, {33, 33, 33, 12}, {100, 20, 7, 60}};
    for (auto& s : sizes) {
        IMAGE* im = make(s[0], s[1], rng);
        std::vector<INT_U32> src = imgtest::snapshot(*im);
        im->resize((short)s[2], (short)s[3], 1);
        ASSERT_EQ(im->width, s[2]);
        EXPECT_EQ(imgtest::snapshot(*im), ref_scale(src, s[0], s[1], s[2], s[3]))
            << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3];
        delete im;
    }
    for (int round = 0; round < 12; ++round) {
        int sw = 1 + (int)(rng() % 70), sh = 1 + (int)(rng() % 50);
        int dw = 1 + (int)(rng() % 70), dh = 1 + (int)(rng() % 50);
        IMAGE* im = make(sw, sh, rng);
        std::vector<INT_U32> src = imgtest::snapshot(*im);
        im->resize((short)dw, (short)dh, 1);
        EXPECT_EQ(imgtest::snapshot(*im), ref_scale(src, sw, sh, dw, dh))
            << sw << "x" << sh << " -> " << dw << "x" << dh;
        delete im;
    }
}

TEST(ImageResize, ProgressCallbackCanCancel)
{
    static int calls = 0;
    static int stop_at = -1;
    std::vector<COLOUR> src(12 * 8, COLOUR(0xFF808080u)), dst(6 * 4);
    C2PassScale<CBilinearFilter> scaler([](INT_U8 percent) {
        EXPECT_LE(percent, 100);
        return calls++ != stop_at;
    });
    EXPECT_EQ(scaler.Scale(src.data(), 12, 12, 8, dst.data(), 6, 6, 4), dst.data());
    EXPECT_EQ(calls, 8 + 6); // each source row, then each output column
    EXPECT_EQ(dst[6 * 3 + 5] & 0xFFFFFFu, 0x808080u);
    calls = 0;
    stop_at = 10;
    EXPECT_EQ(scaler.Scale(src.data(), 12, 12, 8, dst.data(), 6, 6, 4), nullptr);
    EXPECT_TRUE(scaler.cancelled);
}
