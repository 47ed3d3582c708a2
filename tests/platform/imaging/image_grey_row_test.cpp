#include "image_blend.h"
#include "image_test_util.h"

using namespace imgtest;

namespace {

// The grey fade's rule written out once more, per pixel: the reference of
// the plain form.
INT_U32 faded(INT_U32 p, INT_S64 e, INT_S64 t, bool to_grey, bool fast)
{
    const INT_S64 c[3] = {p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF};
    const INT_S64 g = fast ? (c[0] + c[1] + c[2]) / 3 : (c[0] * 30 + c[1] * 59 + c[2] * 11) / 100;
    INT_U32 out = 0xFF;
    for (const INT_S64 v : c) {
        out = out << 8 | static_cast<INT_U32>(to_grey ? v + (g - v) * e / t : g + (v - g) * e / t);
    }
    return out;
}

} // namespace

// Rows of every length up to beyond two AVX2 steps plus a tail, anywhere in
// the buffer, at durations from 1 ms to beyond the vector forms' exact
// range and at every step of a few short ones; the pixels around the row
// stay as they were.
TEST(ImageGreyRow, VectorFormsMatchThePlainRule)
{
    std::mt19937 rng(32);
    const INT_U32 durations[] = {1, 2, 3, 7, 100, 255, 699, 700, 701, 10000, 65535, 65793, 65794, 100000};
    const int size = 80;
    for (int round = 0; round < 1500; ++round) {
        const int n = static_cast<int>(rng() % 68), offset = static_cast<int>(rng() % 8);
        const INT_U32 t = round % 3 ? durations[rng() % std::size(durations)] : 1 + rng() % 65793;
        INT_U32 e = round % 5 == 0 ? (round % 2 ? t : 0) : static_cast<INT_U32>(rng() % (INT_U64{t} + 1));
        const bool to_grey = rng() % 2, fast = rng() % 2;
        std::vector<INT_U32> s(size), d(size);
        for (int i = 0; i < size; ++i) {
            // Channels at both ends of their range as well as between.
            s[i] = round % 7 == 0 ? (rng() % 2 ? 0xFFFFFFFFu : 0u) ^ (rng() & 0xFF00FF00u) : random_pixel(rng);
            d[i] = random_pixel(rng);
        }
        std::vector<INT_U32> expect = d;
        kivo_pixel::grey_fade_row_plain(expect.data() + offset, s.data() + offset, n, e, t, to_grey, fast);
        for (int i = offset; i < offset + n; ++i) {
            ASSERT_EQ(expect[i], faded(s[i], e, t, to_grey, fast)) << "plain round " << round;
        }
        std::vector<INT_U32> got = d;
        kivo_pixel::grey_fade_row(got.data() + offset, s.data() + offset, n, e, t, to_grey, fast);
        ASSERT_EQ(got, expect) << "dispatch round " << round << " e " << e << " T " << t;
        if (t > kivo_pixel::grey_fade_vector_limit) {
            continue;
        }
        got = d;
        kivo_pixel::grey_fade_row_sse2(got.data() + offset, s.data() + offset, n, e, t, to_grey, fast);
        ASSERT_EQ(got, expect) << "sse2 round " << round << " e " << e << " T " << t;
        if (kivo_pixel::have_avx2()) {
            got = d;
            kivo_pixel::grey_fade_row_avx2(got.data() + offset, s.data() + offset, n, e, t, to_grey, fast);
            ASSERT_EQ(got, expect) << "avx2 round " << round << " e " << e << " T " << t;
        }
    }
    // Every step of short fades over every grey difference: all 256 values
    // in each channel against the others.
    std::vector<INT_U32> all(256 * 3);
    for (int v = 0; v < 256; ++v) {
        all[v] = 0xFF000000u | static_cast<INT_U32>(v) << 16;
        all[256 + v] = 0x80000000u | static_cast<INT_U32>(v) << 8 | 0xFF;
        all[512 + v] = static_cast<INT_U32>(v) | 0x00FF0000u;
    }
    // Beyond the vector forms' range their step would be one too large
    // here (blue, 227 from its grey): the plain rule is taken.
    const std::vector<INT_U32> blue(8, 0xFF0000FFu);
    std::vector<INT_U32> got(8);
    kivo_pixel::grey_fade_row(got.data(), blue.data(), 8, 30837, 100000, false, false);
    EXPECT_EQ(got, std::vector<INT_U32>(8, faded(blue[0], 30837, 100000, false, false)));
    for (const INT_U32 t : {3u, 17u, 701u}) {
        for (INT_U32 e = 0; e <= t; ++e) {
            for (const bool to_grey : {false, true}) {
                std::vector<INT_U32> expect(all.size()), got(all.size());
                kivo_pixel::grey_fade_row_plain(expect.data(), all.data(), static_cast<int>(all.size()), e, t, to_grey,
                                                false);
                kivo_pixel::grey_fade_row(got.data(), all.data(), static_cast<int>(all.size()), e, t, to_grey, false);
                ASSERT_EQ(got, expect) << "e " << e << " T " << t;
            }
        }
    }
}
