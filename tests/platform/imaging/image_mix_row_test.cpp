#include "image_blend.h"
#include "image_test_util.h"

using namespace imgtest;

// Rows of every length up to beyond two AVX2 steps plus a tail, starting
// anywhere in the buffer; the pixels around the row must stay as they were.
// The opaque row fill is checked the same way.
TEST(ImageMixRow, VectorFormsMatchThePlainRules)
{
    std::mt19937 rng(29);
    const int size = 80;
    for (int round = 0; round < 600; ++round) {
        int n = static_cast<int>(rng() % 68), offset = static_cast<int>(rng() % 8);
        INT_U32 a = 1 + rng() % 254;
        if (round % 9 == 0) { // the ends of the alpha range
            a = round % 2 ? 1 : 254;
        }
        INT_U32 c = round % 11 == 0 ? (rng() % 2 ? 0xFFFFFFFFu : 0u) | (a << 24) : rng();
        std::vector<INT_U32> d(size);
        for (INT_U32& p : d) {
            p = round % 13 == 0 ? 0xFFFFFFFFu : random_pixel(rng);
        }
        std::vector<INT_U32> expect = d;
        kivo_pixel::mix_colour_row_plain(expect.data() + offset, n, c, a);
        for (int i = offset; i < offset + n; ++i) {
            ASSERT_EQ(expect[i], ref_blend((c & 0xFFFFFFu) | a << 24, d[i], 255)) << "plain round " << round;
        }
        std::vector<INT_U32> got = d;
        kivo_pixel::mix_colour_row_sse2(got.data() + offset, n, c, a);
        ASSERT_EQ(got, expect) << "sse2 round " << round;
        if (kivo_pixel::have_avx2()) {
            got = d;
            kivo_pixel::mix_colour_row_avx2(got.data() + offset, n, c, a);
            ASSERT_EQ(got, expect) << "avx2 round " << round;
        }
        got = d;
        kivo_pixel::mix_colour_row(got.data() + offset, n, c, a);
        ASSERT_EQ(got, expect) << "dispatch round " << round;
        // Opaque rows: lengths past the wide stores' unrolled step.
        int fill_n = static_cast<int>(rng() % 200);
        std::vector<INT_U32> filled(fill_n + 16, 0x12345678u), expect_fill = filled;
        std::fill(expect_fill.begin() + offset, expect_fill.begin() + offset + fill_n, c);
        kivo_pixel::fill_row(filled.data() + offset, fill_n, c);
        ASSERT_EQ(filled, expect_fill) << "fill round " << round;
    }
}
