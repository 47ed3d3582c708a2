#include "image_test_util.h"
#include "resample.h"

#include <cmath>

using namespace imgtest;

namespace {

// The two-pass filter as plainly written: one weights array per output
// pixel, the horizontal pass into a temporary, then column by column.
struct RefContrib
{
    std::vector<double> w;
    long left, right;
};

std::vector<RefContrib> ref_contributions(long n, long s, double scale)
{
    double width = scale < 1.0 ? 1.0 / scale : 1.0, f = scale < 1.0 ? scale : 1.0;
    std::vector<RefContrib> out((size_t)n);
    for (long i = 0; i < n; ++i) {
        RefContrib& c = out[(size_t)i];
        double centre = i / scale, total = 0;
        c.left = std::max(0L, (long)std::floor(centre - width));
        c.right = std::min(s - 1, (long)std::ceil(centre + width));
        for (long j = c.left; j <= c.right; ++j) {
            c.w.push_back(f * std::max(0.0, 1.0 - std::fabs((centre - j) * f)));
            total += c.w.back();
        }
        for (double& wt : c.w)
            wt = total > 0 ? wt / total : wt;
    }
    return out;
}

INT_U32 ref_pixel(const INT_U32* src, long step, const RefContrib& c)
{
    INT_U32 out = 0;
    for (int k = 0; k < 4; ++k) {
        int sum = 0;
        for (long j = c.left; j <= c.right; ++j)
            sum += (int)(((src[j * step] >> (8 * k)) & 0xFF) * c.w[(size_t)(j - c.left)]);
        out |= INT_U32(sum & 0xFF) << (8 * k);
    }
    return out;
}

std::vector<INT_U32> ref_scale(const std::vector<INT_U32>& src, long sw, long sh, long dw, long dh)
{
    std::vector<INT_U32> temp((size_t)(dw * sh)), dst((size_t)(dw * dh));
    auto hc = ref_contributions(dw, sw, (double)dw / sw), vc = ref_contributions(dh, sh, (double)dh / sh);
    for (long r = 0; r < sh; ++r)
        for (long i = 0; i < dw; ++i)
            temp[(size_t)(r * dw + i)] = ref_pixel(&src[(size_t)(r * sw)], 1, hc[(size_t)i]);
    for (long x = 0; x < dw; ++x)
        for (long i = 0; i < dh; ++i)
            dst[(size_t)(i * dw + x)] = ref_pixel(&temp[(size_t)x], dw, vc[(size_t)i]);
    return dst;
}

} // namespace

TEST(ImageResize, TargetSizesAspectAndLock)
{
    const struct { short w, h; INT_U8 keep; short max_w, max_h, to_w, to_h; int ew, eh; } cases[] = {
        {100, 50, 1, 0, 0, 300, 300, 300, 150},
        {100, 50, 1, 0, 0, -1, 25, 50, 25},
        {100, 50, 1, 0, 0, 60, -1, 60, 30},
        {100, 50, 1, 0, 0, 300, 100, 200, 100}, // equal ratios: width follows the height
        {100, 50, 1, 80, 0, 100, 50, 80, 40},   // a maximum refits once into its box
        {10, 10, 0, 0, 4, 30, 30, 30, 4},       // without keep-aspect the maxima simply cap
        {10, 10, 0, 0, 4, -2, 5, 10, 10},
        {10, 10, 0, 0, 0, 0, 7, 0, 0},          // zero sides and empty images: no 0/0
        {0, 0, 1, 0, 0, 40, -1, 0, 0},
    };
    for (auto& c : cases) {
        IMAGE im;
        im.reset(c.w, c.h);
        im.keep_aspect = c.keep;
        im.max_width = c.max_w;
        im.max_height = c.max_h;
        im.resize(c.to_w, c.to_h, 1);
        EXPECT_EQ(im.width, c.ew) << c.w << "x" << c.h << " -> " << c.to_w << "x" << c.to_h;
        EXPECT_EQ(im.height, c.eh) << c.w << "x" << c.h << " -> " << c.to_w << "x" << c.to_h;
        EXPECT_EQ(im.max_width, c.max_w); // written back after the reset
        EXPECT_EQ(im.pixels == nullptr, c.ew == 0);
    }
    // The same size keeps the pixels and marks them dirty; a locked image
    // keeps everything.
    std::mt19937 rng(2);
    CANVAS im(6, 4, rng);
    auto before = snapshot(im);
    im.resize(-1, -1, 1);
    EXPECT_EQ(dirty(im), (Rect{0, 0, 5, 3}));
    im.locked = 1;
    im.resize(12, 12, 1);
    EXPECT_EQ(snapshot(im), before);
}

TEST(ImageResize, NearestNeighbourPicksBySixteenSixteenSteps)
{
    CANVAS im(4, 1, {0, 1, 2, 3});
    im.resize(2, 1, 0);
    EXPECT_EQ(snapshot(im), (std::vector<INT_U32>{0, 2}));
    im.resize(4, 1, 0);
    EXPECT_EQ(snapshot(im), (std::vector<INT_U32>{0, 0, 2, 2}));

    im.reset(1, 3);
    for (int j = 0; j < 3; ++j)
        px(im, 0, j) = INT_U32(j + 1);
    im.resize(2, 7, 0); // 3 * 65536 / 7 per row
    EXPECT_EQ(snapshot(im), (std::vector<INT_U32>{1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}));

    // The widest source: rows padded to 32768 pixels, 16.16 positions near 2^31.
    im.reset(32767, 1);
    for (int i = 0; i < 32767; ++i)
        im.pixels[i] = INT_U32(i);
    im.resize(16383, 1, 0);
    const INT_U64 step = (32767ull << 16) / 16383;
    for (int i = 0; i < 16383; ++i)
        ASSERT_EQ(im.pixels[i], INT_U32((i * step) >> 16)) << i;
}

TEST(ImageResize, BilinearMatchesThePlainTranscription)
{
    // Worked case: samples at 0, 0.5, 1 and 1.5, alpha too (127 + 127).
    CANVAS im(2, 1, {0xFF000000u, 0xFFFFFFFFu});
    im.resize(4, 1, 1);
    EXPECT_EQ(snapshot(im), (std::vector<INT_U32>{0xFF000000u, 0xFE7F7F7Fu, 0xFFFFFFFFu, 0xFFFFFFFFu}));

    std::mt19937 rng(99);
    std::vector<std::array<int, 4>> sizes = {{1, 1, 5, 3},   {7, 5, 3, 2},   {40, 30, 13, 7},  {13, 9, 40, 31},
                                             {64, 3, 17, 9}, {5, 64, 9, 17}, {33, 33, 33, 12}, {100, 20, 7, 60}};
    for (int round = 0; round < 12; ++round)
        sizes.push_back({1 + (int)(rng() % 70), 1 + (int)(rng() % 50), 1 + (int)(rng() % 70), 1 + (int)(rng() % 50)});
    for (auto& s : sizes) {
        CANVAS im((short)s[0], (short)s[1], rng);
        std::vector<INT_U32> src = snapshot(im);
        im.resize((short)s[2], (short)s[3], 1);
        ASSERT_EQ(im.width, s[2]);
        EXPECT_EQ(snapshot(im), ref_scale(src, s[0], s[1], s[2], s[3]))
            << s[0] << "x" << s[1] << " -> " << s[2] << "x" << s[3];
    }
}

TEST(ImageResize, ProgressCallbackCanCancel)
{
    static int calls = 0, stop_at = -1;
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

    // With a callback the passes go row by row and column by column; the
    // sums are the bulk loops' own.
    std::mt19937 rng(8);
    for (auto& c : src)
        c = random_pixel(rng);
    std::vector<COLOUR> bulk(dst.size());
    C2PassScale<CBilinearFilter> plain, watched([](INT_U8) { return true; });
    ASSERT_EQ(watched.Scale(src.data(), 12, 12, 8, dst.data(), 6, 6, 4), dst.data());
    plain.Scale(src.data(), 12, 12, 8, bulk.data(), 6, 6, 4);
    EXPECT_EQ(dst, bulk);

    // Nothing to write, or nothing to write into: no infinitely wide window.
    EXPECT_EQ(plain.Scale(src.data(), 12, 12, 8, dst.data(), 0, 6, 4), dst.data());
    EXPECT_EQ(plain.Scale(src.data(), 12, 12, 8, dst.data(), 6, 6, 0), dst.data());
    EXPECT_EQ(plain.Scale(src.data(), 12, 12, 8, nullptr, 6, 6, 4), nullptr);
}
