#include "image_resize_plain.h"
#include "image_test_util.h"
#include "resample.h"

#include <cmath>
#include <limits>

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
        for (double& wt : c.w) {
            wt = total > 0 ? wt / total : wt;
        }
    }
    return out;
}

INT_U32 ref_pixel(const INT_U32* src, long step, const RefContrib& c)
{
    INT_U32 out = 0;
    for (int k = 0; k < 4; ++k) {
        int sum = 0;
        for (long j = c.left; j <= c.right; ++j) {
            sum += (int)(((src[j * step] >> (8 * k)) & 0xFF) * c.w[(size_t)(j - c.left)]);
        }
        out |= INT_U32(sum & 0xFF) << (8 * k);
    }
    return out;
}

std::vector<INT_U32> ref_scale(const std::vector<INT_U32>& src, long sw, long sh, long dw, long dh)
{
    std::vector<INT_U32> temp((size_t)(dw * sh)), dst((size_t)(dw * dh));
    auto hc = ref_contributions(dw, sw, (double)dw / sw), vc = ref_contributions(dh, sh, (double)dh / sh);
    for (long r = 0; r < sh; ++r) {
        for (long i = 0; i < dw; ++i) {
            temp[(size_t)(r * dw + i)] = ref_pixel(&src[(size_t)(r * sw)], 1, hc[(size_t)i]);
        }
    }
    for (long x = 0; x < dw; ++x) {
        for (long i = 0; i < dh; ++i) {
            dst[(size_t)(i * dw + x)] = ref_pixel(&temp[(size_t)x], dw, vc[(size_t)i]);
        }
    }
    return dst;
}

// A pass's contributions from hand-made windows: (first source pixel,
// weights) per output pixel.
struct HandContrib
{
    LineContribType c;
    explicit HandContrib(const std::vector<std::pair<long, std::vector<double>>>& pixels)
    {
        c.line_length = (long)pixels.size();
        c.row_store.resize(pixels.size());
        for (auto& p : pixels) {
            c.window_size = std::max(c.window_size, (long)p.second.size());
        }
        c.weight_store.assign(pixels.size() * (size_t)std::max(c.window_size, 1L), 0.0);
        for (size_t i = 0; i < pixels.size(); ++i) {
            PixelContribType& r = c.row_store[i];
            r.weights = c.weight_store.data() + i * (size_t)std::max(c.window_size, 1L);
            r.left = pixels[i].first;
            r.right = r.left + (long)pixels[i].second.size() - 1;
            std::copy(pixels[i].second.begin(), pixels[i].second.end(), r.weights);
        }
        c.rows = c.row_store.data();
    }
};

// Both passes, table-driven against plain, on one source of sw x sh with
// the given stride; every pixel of both outputs, padding included.
void expect_passes_match(const std::vector<INT_U32>& src, long sw, long sh, long stride, const LineContribType& across,
                         const LineContribType& down, const char* what)
{
    long dw = across.line_length, dstride = dw + 3;
    const COLOUR* s = reinterpret_cast<const COLOUR*>(src.data());
    std::vector<COLOUR> fast((size_t)(dstride * sh), COLOUR(0x5A5A5A5Au)), plain = fast;
    kivo_resample::scale_rows(s, stride, sh, fast.data(), dstride, across);
    kivo_resample::scale_rows_plain(s, stride, sh, plain.data(), dstride, across);
    ASSERT_EQ(fast, plain) << what << ": rows of " << sw << "x" << sh << " -> " << dw;

    long dh = down.line_length;
    std::vector<COLOUR> fast_v((size_t)(stride * dh), COLOUR(0xA5A5A5A5u)), plain_v = fast_v;
    kivo_resample::scale_columns(s, stride, fast_v.data(), stride, sw, down);
    kivo_resample::scale_columns_plain(s, stride, plain_v.data(), stride, sw, down);
    ASSERT_EQ(fast_v, plain_v) << what << ": columns of " << sw << "x" << sh << " -> " << dh;
}

} // namespace

TEST(ImageResize, TargetSizesAspectAndLock)
{
    const struct
    {
        short w, h;
        INT_U8 keep;
        short max_w, max_h, to_w, to_h;
        int ew, eh;
    } cases[] = {
        {100, 50, 1, 0, 0, 300, 300, 300, 150}, {100, 50, 1, 0, 0, -1, 25, 50, 25}, {100, 50, 1, 0, 0, 60, -1, 60, 30},
        {100, 50, 1, 0, 0, 300, 100, 200, 100}, // equal ratios: width follows the height
        {100, 50, 1, 80, 0, 100, 50, 80, 40},   // a maximum refits once into its box
        {10, 10, 0, 0, 4, 30, 30, 30, 4},       // without keep-aspect the maxima simply cap
        {10, 10, 0, 0, 4, -2, 5, 10, 10},       {10, 10, 0, 0, 0, 0, 7, 0, 0}, // zero sides and empty images: no 0/0
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
    for (int j = 0; j < 3; ++j) {
        px(im, 0, j) = INT_U32(j + 1);
    }
    im.resize(2, 7, 0); // 3 * 65536 / 7 per row
    EXPECT_EQ(snapshot(im), (std::vector<INT_U32>{1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}));

    // The widest source: rows padded to 32768 pixels, 16.16 positions near 2^31.
    im.reset(32767, 1);
    for (int i = 0; i < 32767; ++i) {
        im.pixels[i] = INT_U32(i);
    }
    im.resize(16383, 1, 0);
    const INT_U64 step = (32767ull << 16) / 16383;
    for (int i = 0; i < 16383; ++i) {
        ASSERT_EQ(im.pixels[i], INT_U32((i * step) >> 16)) << i;
    }
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
    for (int round = 0; round < 12; ++round) {
        sizes.push_back({1 + (int)(rng() % 70), 1 + (int)(rng() % 50), 1 + (int)(rng() % 70), 1 + (int)(rng() % 50)});
    }
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
    for (auto& c : src) {
        c = random_pixel(rng);
    }
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

TEST(ImageResize, TablePassesMatchThePlainPasses)
{
    std::mt19937 rng(25);
    C2PassScale<CBilinearFilter> scaler;
    for (int round = 0; round < 300; ++round) {
        long sw = 1 + (long)(rng() % 64), sh = 1 + (long)(rng() % 64);
        long dw = 1 + (long)(rng() % 64), dh = 1 + (long)(rng() % 64);
        if (round < 8) { // exact doubling and halving, where weights are 1 and 1/2
            dw = round % 2 ? sw * 2 : std::max(1L, sw / 2);
            dh = round % 2 ? sh * 2 : std::max(1L, sh / 2);
        }
        long stride = sw + (long)(rng() % 5);
        std::vector<INT_U32> src((size_t)(stride * sh));
        for (auto& p : src) {
            p = round % 2 ? random_pixel(rng) : (INT_U32)rng();
        }
        LineContribType across, down;
        scaler.CalcContributions(across, dw, sw, (double)dw / sw);
        scaler.CalcContributions(down, dh, sh, (double)dh / sh);
        expect_passes_match(src, sw, sh, stride, across, down, "bilinear");
        if (HasFatalFailure()) {
            return;
        }
    }

    // Weights of any filter: negative, above 1, 1 and just below, tiny,
    // thirds, just below a fifth (no multiplier gives its products), zeros
    // inside and at the ends, no weights at all; pixels of every kind next
    // to each other, and a width that leaves a column over from the fours.
    const double third = 1.0 / 3.0, below_one = std::nextafter(1.0, 0.0);
    const std::vector<std::vector<double>> kinds = {
        {1.0},
        {0.5, 0.5},
        {third, third, third},
        {0.0, 0.25, 0.75, 0.0},
        {-0.25, 1.25},
        {1.5},
        {0.1, 0.2, 0.7},
        {below_one},
        {0.999999999},
        {1e-300, 1.0},
        {0.6, 0.0, 0.4},
        {},
        {0.0, 0.0},
        {2.0 / 255, 253.0 / 255},
        {std::numeric_limits<double>::denorm_min()},
        {std::nextafter(0.2, 0.0), 0.8},
    };
    const long side = 13;
    std::vector<std::pair<long, std::vector<double>>> pixels;
    for (int i = 0; i < 40; ++i) {
        const auto& w = kinds[rng() % kinds.size()];
        pixels.push_back({(long)(rng() % (side - w.size() + 1)), w});
    }
    std::vector<INT_U32> src((size_t)(side * side));
    for (auto& p : src) {
        p = (INT_U32)rng();
    }
    HandContrib hand(pixels);
    pixels.resize(side); // the vertical pass reads no further than the rows there are
    HandContrib hand_down(pixels);
    expect_passes_match(src, side, side, side, hand.c, hand_down.c, "hand-made");
}

TEST(ImageResize, TablePassesMatchForEveryChannelAndSmallFraction)
{
    // The weights p/q (q up to 255) and their neighbours either way are
    // where a double product lands on, or just off, a whole number; each
    // is applied to every channel value (a row of 64 pixels holds them all).
    std::vector<INT_U32> src(64);
    for (INT_U32 j = 0; j < 64; ++j) {
        src[j] = (4 * j) | (4 * j + 1) << 8 | (4 * j + 2) << 16 | (4 * j + 3) << 24;
    }
    const COLOUR* s = reinterpret_cast<const COLOUR*>(src.data());
    for (int q = 1; q <= 255; ++q) {
        std::vector<std::pair<long, std::vector<double>>> rows;
        for (int p = 0; p <= q; ++p) {
            double w = (double)p / q;
            for (double v : {w, std::nextafter(w, 0.0), std::nextafter(w, 2.0)}) {
                rows.push_back({0, {v}});
            }
        }
        HandContrib down(rows);
        std::vector<COLOUR> fast(rows.size() * 64), plain(rows.size() * 64);
        kivo_resample::scale_columns(s, 64, fast.data(), 64, 64, down.c);
        kivo_resample::scale_columns_plain(s, 64, plain.data(), 64, 64, down.c);
        ASSERT_EQ(fast, plain) << "q = " << q;
    }
}
