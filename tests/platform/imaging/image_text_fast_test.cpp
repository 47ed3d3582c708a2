// The text drawing's fast form (vector rows, one dirty mark per run)
// against the plain one it replaced, over random texts, sizes, colours,
// thresholds, clips and placements.
#include "font_walk.h"
#include "image_test_util.h"

#include <functional>
#include <string>

namespace {

using namespace imgtest;

// Either way of drawing, whatever the test does in between.
struct PLAIN_TEXT
{
    explicit PLAIN_TEXT(bool on) { font_text_plain = on; }
    ~PLAIN_TEXT() { font_text_plain = false; }
};

// Random bytes of every kind the walk reads, the code-point escape (short
// and bad runs included) and line breaks among them.
std::string random_text(std::mt19937& rng)
{
    std::string s;
    const int n = static_cast<int>(rng() % 60);
    for (int i = 0; i < n; ++i) {
        switch (rng() % 12) {
        case 0: s += ' '; break;
        case 1:
            s += "\x01"
                 "263A,\x01";
            break;
        case 2:
            s += rng() % 2 ? "\x01"
                             "00e9\x01"
                           : "\x01"
                             "4x\x01";
            break;
        case 3: s += rng() % 3 ? '\n' : '-'; break;
        default: s += static_cast<char>(0x21 + rng() % 0xDE); break;
        }
    }
    return s;
}

TEST(ImageTextFast, RowsMatchThePlainRule)
{
    std::mt19937 rng(41);
    for (int round = 0; round < 2000; ++round) {
        const int n = static_cast<int>(rng() % 40), offset = static_cast<int>(rng() % 4);
        const INT_U32 solid = round % 7 == 0 ? (round % 2 ? 0 : 255) : rng() % 256;
        const INT_U32 colour = rng();
        std::vector<INT_U8> alpha(size_t(n) + 4);
        for (INT_U8& a : alpha) {
            const INT_U32 kind = rng() % 4;
            a = static_cast<INT_U8>(kind == 0 ? 0 : kind == 1 ? 255 : rng() % 256);
        }
        std::vector<INT_U32> d(size_t(n) + 8);
        for (INT_U32& p : d) {
            p = random_pixel(rng);
        }
        std::vector<INT_U32> want = d, got = d;
        text_row_plain(want.data() + offset, alpha.data(), n, colour, solid);
        text_row(got.data() + offset, alpha.data(), n, colour, solid);
        ASSERT_EQ(got, want) << "round " << round << " n " << n << " solid " << solid;

        // A block of rows, each with its own alphas, strides past the row.
        const int rows = static_cast<int>(rng() % 4);
        const long d_stride = n + 5, a_stride = n + 3;
        std::vector<INT_U8> block_alpha(size_t(rows * a_stride));
        for (INT_U8& a : block_alpha) {
            a = static_cast<INT_U8>(rng() % 3 == 0 ? 0 : rng() % 256);
        }
        std::vector<INT_U32> block_want(size_t(rows * d_stride + 8));
        for (INT_U32& p : block_want) {
            p = random_pixel(rng);
        }
        std::vector<INT_U32> block_got = block_want;
        for (int r = 0; r < rows; ++r) {
            text_row_plain(block_want.data() + offset + r * d_stride, block_alpha.data() + r * a_stride, n, colour,
                           solid);
        }
        text_block(block_got.data() + offset, d_stride, block_alpha.data(), a_stride, n, rows, colour, solid);
        ASSERT_EQ(block_got, block_want) << "block round " << round;
    }
}

class ImageTextFastTest : public FontSystemTest
{
protected:
    void SetUp() override
    {
        FontSystemTest::SetUp();
        threshold = COLOUR::alpha_solid_threshold;
    }
    void TearDown() override
    {
        COLOUR::alpha_solid_threshold = threshold;
        FontSystemTest::TearDown();
    }
    INT_U8 threshold = 0;
};

TEST_F(ImageTextFastTest, StringsDrawAndMarkAsThePlainFormDoes)
{
    std::mt19937 rng(7);
    const INT_S8 slots[] = {10, 18, 3, 19};
    for (int round = 0; round < 400; ++round) {
        const std::string text = random_text(rng);
        const INT_S8 slot = slots[rng() % 4];
        const short size = static_cast<short>(4 + rng() % 40);
        COLOUR colour = rng();
        if (round % 3 == 0) {
            colour.value |= 0xFF000000u;
        }
        const COLOUR back = rng() % 5 == 0 ? COLOUR(rng()) : COLOUR_INVISIBLE;
        const COLOUR underline = rng() % 5 == 0 ? COLOUR(rng()) : COLOUR_INVISIBLE;
        COLOUR::alpha_solid_threshold = static_cast<INT_U8>(round % 5 == 0 ? rng() % 256 : 255 - rng() % 12);
        const short effect = static_cast<short>(rng() % 4 == 0 ? 1 << (rng() % 3) : 0);
        const int w = 20 + static_cast<int>(rng() % 200), h = 10 + static_cast<int>(rng() % 80);
        const CANVAS ground(w, h, rng);
        // Placements that hold column -1 and ones that do not (a mark at
        // -1 reads as "clean"); a random clip; sometimes an earlier mark to
        // grow.
        const int ox = rng() % 4 == 0 ? -1 : static_cast<int>(rng() % 60) - 30;
        const int oy = static_cast<int>(rng() % 60) - 30;
        const int ax1 = ox + static_cast<int>(rng() % w) - 5, ay1 = oy + static_cast<int>(rng() % h) - 5;
        const int ax2 = ox + static_cast<int>(rng() % (w + 10)), ay2 = oy + static_cast<int>(rng() % (h + 10));
        const bool marked = rng() % 3 == 0;
        const int mx = ox + static_cast<int>(rng() % w), my = oy + static_cast<int>(rng() % h);
        auto prepare = [&](CANVAS& img) {
            img.x = static_cast<INT_S16>(ox);
            img.y = static_cast<INT_S16>(oy);
            for (int j = 0; j < h; ++j) {
                for (int i = 0; i < w; ++i) {
                    img.pixels[j * img.stride + i] = ground.pixels[j * ground.stride + i];
                }
            }
            img.set_active_area(static_cast<short>(ax1), static_cast<short>(ay1), static_cast<short>(ax2),
                                static_cast<short>(ay2));
            if (marked) {
                img.dirty_x1 = img.dirty_x2 = static_cast<INT_S16>(mx);
                img.dirty_y1 = img.dirty_y2 = static_cast<INT_S16>(my);
            }
        };
        CANVAS want(w, h), got(w, h);
        prepare(want);
        prepare(got);
        const int px = ox + static_cast<int>(rng() % (w + 60)) - 40;
        const int py = oy + static_cast<int>(rng() % (h + 40)) - 30;
        const bool boxed = rng() % 2 == 0;
        auto draw = [&](IMAGE& img) {
            if (boxed) {
                img.draw_string(static_cast<short>(px), static_cast<short>(py), static_cast<short>(px + w),
                                static_cast<short>(py + h), colour, back, underline, slot, size, size, text.c_str(),
                                static_cast<short>(effect | (8 << (rng() % 2)) | (0x20 << (rng() % 2))));
            } else {
                img.process_and_render_string(static_cast<short>(px), static_cast<short>(py), colour, back, underline,
                                              slot, size, size, text.c_str(), effect, -1, 0);
            }
        };
        const std::mt19937 at = rng;
        {
            PLAIN_TEXT plain(true);
            draw(want);
        }
        rng = at;
        draw(got);
        ASSERT_EQ(snapshot(got), snapshot(want)) << "round " << round;
        ASSERT_EQ(dirty(got), dirty(want)) << "round " << round;
    }
}

TEST_F(ImageTextFastTest, LightnessShiftOnFewColoursAsThePlainForm)
{
    // Grounds where pixels repeat (one colour, stripes, a few bands) and
    // one where they hardly do, so that worked-out pixels are both found
    // again and pushed out by others.
    const std::function<INT_U32(int, int)> grounds[] = {
        [](int, int) { return 0xFF2A3040u; },
        [](int x, int) { return x % 3 ? 0xFFF0E8D8u : 0x80102030u; },
        [](int x, int y) { return 0xFF000000u | static_cast<INT_U32>((x / 40 + y / 9) * 0x1F2F3F); },
        [](int x, int y) { return static_cast<INT_U32>(x * 2654435761u ^ y * 40503u); },
    };
    for (const auto& ground : grounds) {
        for (double shift : {0.15, -0.1, 0.8, -1.0}) {
            for (short size : {10, 22, 37}) {
                CANVAS want = pattern(260, 60, ground), got = pattern(260, 60, ground);
                auto draw = [&](IMAGE& img) {
                    img.render_string(3, 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, shift, 10, size, size,
                                      "Enter First Name", -1, 0);
                    img.process_and_render_string(3, 20, COLOUR_WHITE, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 19, size,
                                                  size, "Show my name", 4, -1, 0);
                };
                {
                    PLAIN_TEXT plain(true);
                    draw(want);
                }
                draw(got);
                ASSERT_EQ(snapshot(got), snapshot(want)) << "shift " << shift << " size " << size;
            }
        }
    }
}

} // namespace
