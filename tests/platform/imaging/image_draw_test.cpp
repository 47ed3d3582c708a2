#include "errors.h"
#include "image.h"
#include "image_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <utility>

using imgtest::clean;
using imgtest::expect_dirty;
using imgtest::px;

namespace {

// Pixels whose word differs from the background.
std::set<std::pair<int, int>> touched(IMAGE& im, INT_U32 background = 0)
{
    std::set<std::pair<int, int>> out;
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i)
            if (px(im, i, j) != background)
                out.insert({i, j});
    return out;
}


} // namespace

TEST(ImageDrawDeath, InvisibleColourIsFatalForLinesAndOutlines)
{
    IMAGE im;
    im.setup(8, 8);
    EXPECT_EXIT(im.draw_line(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 1), ::testing::ExitedWithCode(1),
                "COLOUR_INVISIBLE");
    EXPECT_EXIT(im.draw_rect(0, 0, 3, 3, 0x00FFFFFFu, 1, 15), ::testing::ExitedWithCode(1),
                "COLOUR_INVISIBLE");
    EXPECT_EXIT(im.draw_xor_rect(0, 0, 3, 3, 0x00FFFFFFu), ::testing::ExitedWithCode(1),
                "COLOUR_INVISIBLE");
    // The gate comes first: an image that may not be drawn into ignores it.
    im.valid = 0;
    im.draw_line(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 1);
    IMAGE empty;
    empty.draw_rect(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 15);
}

TEST(ImageDraw, FillStoresBlendsClipsAndMarks)
{
    IMAGE im;
    im.setup(10, 10);
    im.set_active_area(2, 2, 7, 7);
    clean(im);
    im.fill_rect(9, 9, 0, 4, 0x80FF0000u, 0); // corners in any order; stored as is
    EXPECT_EQ(touched(im).size(), 6u * 4u);
    EXPECT_EQ(px(im, 2, 4), 0x80FF0000u);
    expect_dirty(im, 2, 4, 7, 7);
    im.fill_rect(2, 4, 2, 4, 0x80FFFFFFu, 1); // blended: alpha of the pixel stays
    EXPECT_EQ(px(im, 2, 4), 0x80FE7F7Fu);
    im.fill_rect(2, 4, 2, 4, 0x00FFFFFFu, 1);
    EXPECT_EQ(px(im, 2, 4), 0x80FE7F7Fu);
    clean(im);
    im.fill_rect(8, 0, 9, 9, COLOUR_WHITE, 0); // wholly outside the clip
    EXPECT_EQ(px(im, 8, 5), 0u);
    expect_dirty(im, -1, -1, -1, -1);
}

TEST(ImageDraw, ClearWholeRestoresTheClipExactly)
{
    IMAGE im;
    im.setup(6, 4);
    im.set_active_area(1, 1, 2, 2);
    im.clear(COLOUR_RED, 0);
    EXPECT_EQ(touched(im).size(), 4u);
    im.clear(COLOUR_BLUE, 1);
    EXPECT_EQ(touched(im, COLOUR_BLUE).size(), 0u);
    EXPECT_EQ(im.active_x1, 1);
    EXPECT_EQ(im.active_y2, 2);
    // An empty clip stays empty: later drawing must not land on pixel 0,0.
    im.add_rect_to_active_area(5, 3, 5, 3);
    im.valid = 0;
    im.clear(COLOUR_GREEN, 1);
    EXPECT_EQ(touched(im, COLOUR_GREEN).size(), 0u);
    EXPECT_EQ(im.active_x1, -1);
    EXPECT_EQ(im.active_y2, -1);
    EXPECT_EQ(im.valid, 0);
    im.valid = 1;
    im.fill_rect(0, 0, 0, 0, COLOUR_RED, 0);
    EXPECT_EQ(px(im, 0, 0), COLOUR_GREEN);
}

TEST(ImageDraw, RectangleOutlinesTouchEachPixelOnce)
{
    IMAGE im;
    im.setup(20, 20);
    const COLOUR half_red = 0x80FF0000u; // once: red 127; twice: 190
    im.draw_rect(0, 0, 9, 9, half_red, 1, 15);
    auto t = touched(im);
    EXPECT_EQ(t.size(), 36u);
    for (auto& p : t)
        EXPECT_EQ(px(im, p.first, p.second), 0x007F0000u);

    // Left edge beyond the clip: no left side at the clamped column.
    im.clear(0, 1);
    im.set_active_area(2, 0, 19, 19);
    im.draw_rect(0, 0, 9, 9, half_red, 1, 15);
    for (int j = 0; j < 10; ++j)
        EXPECT_EQ(px(im, 2, j), 0u) << j;
    EXPECT_EQ(px(im, 3, 0), 0x007F0000u);
    EXPECT_EQ(px(im, 9, 5), 0x007F0000u);

    // Only the chosen sides; thick outlines nest around the rectangle.
    im.reset(20, 20);
    im.clear(0, 1);
    im.draw_rect(5, 5, 10, 10, COLOUR_WHITE, 1, 4 | 2);
    EXPECT_EQ(touched(im).size(), 4u + 6u);
    im.clear(0, 1);
    im.draw_rect(5, 5, 10, 10, COLOUR_WHITE, 3, 15);
    EXPECT_EQ(px(im, 4, 4), COLOUR_WHITE); // outlines at -1, 0 and +1
    EXPECT_EQ(px(im, 3, 3), 0u);
    EXPECT_EQ(px(im, 4, 6), COLOUR_WHITE);
    EXPECT_EQ(px(im, 6, 6), COLOUR_WHITE);
    EXPECT_EQ(px(im, 7, 7), 0u);
    EXPECT_EQ(px(im, 11, 8), COLOUR_WHITE);
}

TEST(ImageDraw, LinesStepByTheErrorTerm)
{
    IMAGE im;
    im.setup(12, 12);
    const std::set<std::pair<int, int>> expect = {{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 2}};
    im.draw_line(0, 0, 4, 2, COLOUR_WHITE, 1, 0);
    EXPECT_EQ(touched(im), expect);
    expect_dirty(im, 0, 0, 4, 2);
    im.clear(0, 1);
    im.draw_line(4, 2, 0, 0, COLOUR_WHITE, 1, 0); // either direction
    EXPECT_EQ(touched(im), expect);

    im.clear(0, 1);
    im.draw_line(0, 0, 2, 4, COLOUR_WHITE, 1, 0); // y-major mirrors it
    EXPECT_EQ(touched(im), (std::set<std::pair<int, int>>{{0, 0}, {0, 1}, {1, 2}, {1, 3}, {2, 4}}));
    im.clear(0, 1);
    im.draw_line(6, 6, 6, 6, COLOUR_WHITE, 1, 0);
    EXPECT_EQ(touched(im).size(), 1u);

    im.clear(0, 1);
    im.draw_line(2, 5, 9, 5, COLOUR_WHITE, 3, 0); // thick: parallel copies at -1, 0, +1
    EXPECT_EQ(touched(im).size(), 24u);
    EXPECT_EQ(px(im, 2, 4), COLOUR_WHITE);
    EXPECT_EQ(px(im, 9, 6), COLOUR_WHITE);

    im.clear(0, 1);
    im.set_active_area(0, 0, 5, 11);
    im.draw_line(-20, 3, 30, 3, 0x80FFFFFFu, 1, 1); // clipped and blended
    EXPECT_EQ(touched(im).size(), 6u);
    EXPECT_EQ(px(im, 5, 3), 0x007F7F7Fu);
}

TEST(ImageDraw, XorRectangleTwiceRestoresColours)
{
    std::mt19937 rng(17);
    IMAGE im;
    im.setup(16, 12);
    imgtest::fill_random(im, rng);
    auto before = imgtest::snapshot(im);
    im.draw_xor_rect(12, 9, 3, 2, 0xFF00FFFFu);
    EXPECT_EQ((INT_U32)px(im, 3, 2), before[2 * 16 + 3] | 0xFF000000u); // corner XORed twice
    EXPECT_EQ((INT_U32)px(im, 5, 2), (before[2 * 16 + 5] ^ 0xFF00FFFFu) | 0xFF000000u);
    im.draw_xor_rect(3, 2, 12, 9, 0xFF00FFFFu);
    auto after = imgtest::snapshot(im);
    for (size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i] & 0xFFFFFFu, before[i] & 0xFFFFFFu) << i;

    // Sides beyond the clip are not drawn at its edge.
    IMAGE b;
    b.setup(10, 10);
    b.set_active_area(0, 0, 5, 9);
    b.draw_xor_rect(1, 1, 8, 4, COLOUR_WHITE);
    EXPECT_EQ(px(b, 5, 2), 0u);
    EXPECT_EQ(px(b, 5, 1), COLOUR_WHITE);
    EXPECT_EQ(px(b, 1, 2), COLOUR_WHITE);
}

TEST(ImageDraw, RoundingsAndRoundedOutlines)
{
    IMAGE im;
    EXPECT_EQ(im.calc_rounded_rect_radius(0, 0, 29, 11), 4);
    EXPECT_EQ(im.calc_rounded_rect_radius(0, 0, 1, 30), 0);
    im.setup(40, 40);
    // Top-left quarter of radius 5 at corner 10,10: from (10,15) to (15,10).
    im.draw_rounding(10, 10, 5, 1 | 8, COLOUR_WHITE);
    EXPECT_EQ(px(im, 10, 15), COLOUR_WHITE);
    EXPECT_EQ(px(im, 15, 10), COLOUR_WHITE);
    EXPECT_EQ(px(im, 10, 10), 0u);
    for (auto& p : touched(im)) {
        EXPECT_LE(p.first, 15);
        EXPECT_LE(p.second, 15);
    }
    im.clear(0, 1);
    im.draw_rounding(10, 10, 0, 1, COLOUR_WHITE);
    im.draw_rounding(10, 10, -1, 1, COLOUR_WHITE);
    im.draw_rounding(10, 10, 3, 0, COLOUR_WHITE);
    EXPECT_TRUE(touched(im).empty());

    // Square corners when no bit is set: the plain outline.
    im.draw_rounded_rect(5, 5, 20, 14, COLOUR_WHITE, 3, 0);
    IMAGE ref;
    ref.setup(40, 40);
    ref.draw_rect(5, 5, 20, 14, COLOUR_WHITE, 1, 15);
    EXPECT_EQ(touched(im), touched(ref));
    // Rounded corners (radius 20 / 3 = 6): arcs join the sides, corner
    // points left out, nothing outside the rectangle.
    im.clear(0, 1);
    im.draw_rounded_rect(5, 5, 24, 24, COLOUR_WHITE, -1, 15);
    for (auto p : {std::make_pair(5, 5), {24, 24}, {5, 24}, {24, 5}, {6, 6}})
        EXPECT_EQ(px(im, p.first, p.second), 0u) << p.first << "," << p.second;
    for (auto p : {std::make_pair(5, 11), {11, 5}, {5, 18}, {11, 24}, {24, 11}, {18, 5},
                   {24, 18}, {18, 24}, {15, 5}, {5, 15}})
        EXPECT_EQ(px(im, p.first, p.second), COLOUR_WHITE) << p.first << "," << p.second;
    for (auto& p : touched(im)) {
        EXPECT_TRUE(p.first >= 5 && p.first <= 24 && p.second >= 5 && p.second <= 24);
        EXPECT_FALSE(p.first > 8 && p.first < 21 && p.second > 8 && p.second < 21);
    }
}

TEST(ImageDraw, FadedFills)
{
    IMAGE im;
    im.setup(256, 3);
    im.fill_hfaded_rect(0, 0, 255, 2, 0xFF000000u, 0xFFFFFFFFu, 0);
    for (int k = 0; k < 256; ++k)
        ASSERT_EQ(px(im, k, 1), 0xFF000000u | INT_U32(k) * 0x010101u) << k;
    // Alpha fades too, truncating toward zero both ways.
    im.fill_hfaded_rect(0, 0, 3, 0, 0x00FF0000u, 0xFF000000u, 0);
    EXPECT_EQ(px(im, 1, 0), 0x55AA0000u);
    EXPECT_EQ(px(im, 2, 0), 0xAA550000u);
    // The offset counts from the rectangle's own edge even when clipped.
    im.set_active_area(2, 0, 255, 2);
    im.fill_hfaded_rect(0, 2, 4, 2, 0xFF000000u, 0xFF040404u, 0);
    EXPECT_EQ(px(im, 2, 2), 0xFF020202u);
    // One column wide: a span of 0 is the first colour.
    im.fill_hfaded_rect(9, 0, 9, 2, COLOUR_RED, COLOUR_BLUE, 0);
    EXPECT_EQ(px(im, 9, 1), COLOUR_RED);

    IMAGE v;
    v.setup(2, 5);
    v.fill_vfaded_rect(0, 4, 1, 0, 0xFF000000u, 0xFF0000FFu, 0);
    EXPECT_EQ(px(v, 1, 2), 0xFF00007Fu);
    EXPECT_EQ(px(v, 0, 4), 0xFF0000FFu);
    v.fill_vfaded_rect(0, 3, 1, 3, COLOUR_GREEN, COLOUR_BLUE, 0);
    EXPECT_EQ(px(v, 0, 3), COLOUR_GREEN);
    v.fill_vfaded_rect(0, 0, 1, 0, 0x80FFFFFFu, 0x80FFFFFFu, 1); // blended
    EXPECT_EQ(px(v, 0, 0), 0xFF7F7F7Fu);
}

TEST(ImageDraw, RoundedPanels)
{
    IMAGE a, b;
    a.setup(40, 20);
    b.setup(40, 20);
    a.plot_rounded_rect(2, 3, 31, 14, -1, 15, COLOUR_WHITE, 0, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
    b.plot_rounded_rect(2, 3, 31, 14, 4, 15, COLOUR_WHITE, 0, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
    EXPECT_EQ(imgtest::snapshot(a), imgtest::snapshot(b)); // 30 x 12: radius 4
    EXPECT_EQ(px(a, 2, 3), 0u);
    EXPECT_EQ(px(a, 3, 3), 0u);
    EXPECT_EQ(px(a, 6, 3), COLOUR_WHITE);
    EXPECT_EQ(px(a, 2, 7), COLOUR_WHITE);
    EXPECT_EQ(px(a, 31, 14), 0u);
    EXPECT_EQ(px(a, 16, 8), COLOUR_WHITE);
    // Only the chosen corners are rounded.
    b.clear(0, 1);
    b.plot_rounded_rect(2, 3, 31, 14, 4, 2, COLOUR_WHITE, 0, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
    EXPECT_EQ(px(b, 2, 3), COLOUR_WHITE);
    EXPECT_EQ(px(b, 31, 3), 0u);
    EXPECT_GT(touched(b).size(), touched(a).size());

    // Gradients are stored opaque; a span of 0 gives the first colour.
    IMAGE g;
    g.setup(5, 5);
    g.plot_rounded_rect(0, 0, 4, 0, 1, 0, 0x10000000u, 0x10FFFFFFu, 0,
                        IMAGE::PLOT_ROUNDED_RECT_XFADE);
    EXPECT_EQ(px(g, 2, 0), 0xFF7F7F7Fu);
    g.plot_rounded_rect(3, 1, 3, 4, 1, 0, 0x10000000u, 0x10FFFFFFu, 0,
                        IMAGE::PLOT_ROUNDED_RECT_XFADE);
    EXPECT_EQ(px(g, 3, 2), 0xFF000000u);
    g.plot_rounded_rect(0, 1, 0, 4, 1, 0, 0x10000000u, 0x10FFFFFFu, 0,
                        IMAGE::PLOT_ROUNDED_RECT_YFADE);
    EXPECT_EQ(px(g, 0, 4), 0xFFFFFFFFu);
    g.plot_rounded_rect(1, 1, 1, 1, 1, 0, 0x10000000u, 0x10FFFFFFu, 0,
                        IMAGE::PLOT_ROUNDED_RECT_YFADE);
    EXPECT_EQ(px(g, 1, 1), 0xFF000000u);

    // Darkening, and a shade out of range leaves the pixels and says why.
    g.clear(0x80C86432u, 1);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, 50, IMAGE::PLOT_ROUNDED_RECT_DARKEN);
    EXPECT_EQ(px(g, 2, 2), 0x80643219u);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, -100, IMAGE::PLOT_ROUNDED_RECT_DARKEN);
    EXPECT_EQ(px(g, 2, 2), 0x80C86432u);
    set_error_code(0, nullptr);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, 101, IMAGE::PLOT_ROUNDED_RECT_DARKEN);
    EXPECT_EQ(px(g, 2, 2), 0x80C86432u);
    EXPECT_EQ(current_error_code, ERRCODE_COLOUR_DARKEN_RANGE);
    clean(g);
    g.plot_rounded_rect(0, 0, 4, 4, 0, 15, COLOUR_WHITE, 0, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
    g.plot_rounded_rect(1, 1, 3, 3, 1, 15, COLOUR_WHITE, 0, 0, (IMAGE::PLOT_ROUNDED_RECT_TYPE)7);
    EXPECT_EQ(px(g, 2, 2), 0x80C86432u);
    expect_dirty(g, 1, 1, 3, 3); // an unknown type still marks
}

TEST(ImageDraw, CirclesByTheirProperties)
{
    const int n = 41, c = 20;
    for (int type = 0; type < 3; ++type)
        for (int aa = 0; aa < 2; ++aa) {
            IMAGE im;
            im.setup(n, n);
            im.clear(type == 2 ? 0xFF808080u : 0u, 1);
            INT_U32 bg = px(im, 0, 0);
            im.plot_circle(c, c, 12, type == 2 ? 0xFFFFFFFFu : 0xC0FFFFFFu, 50,
                           (IMAGE::PLOT_CIRCLE_TYPE)type, 2, (INT_U8)aa);
            auto t = touched(im, bg);
            ASSERT_FALSE(t.empty());
            for (int j = 0; j < n; ++j)
                for (int i = 0; i < n; ++i) {
                    INT_U32 v = px(im, i, j);
                    // Eight-fold symmetry.
                    ASSERT_EQ(v, (INT_U32)px(im, n - 1 - i, j)) << type << aa << " " << i << "," << j;
                    ASSERT_EQ(v, (INT_U32)px(im, i, n - 1 - j));
                    ASSERT_EQ(v, (INT_U32)px(im, j, i));
                    // Nothing beyond radius + thickness / 2 + 1.
                    double r = std::hypot(i - c, j - c);
                    if (r > 14) {
                        ASSERT_EQ(v, bg) << type << aa << " " << i << "," << j;
                    }
                }
            bool centre_hit = px(im, c, c) != bg;
            EXPECT_EQ(centre_hit, type != 0) << type; // ring versus disc
            if (type == 0) {
                EXPECT_NE(px(im, c + 12, c), bg); // the ring's middle lies on the radius
                EXPECT_EQ(px(im, c + 9, c), bg);
            }
        }

    // Anti-aliased shading darkens the full interior by the shade.
    IMAGE s;
    s.setup(21, 21);
    s.clear(0xFFC86432u, 1);
    s.plot_circle(10, 10, 6, COLOUR_WHITE, 50, IMAGE::PLOT_CIRCLE_SHADED, 1, 1);
    EXPECT_EQ(px(s, 10, 10), 0xFF643219u);

    // Too big for the canvas: nothing at all.
    IMAGE big;
    big.setup(600, 600);
    big.plot_circle(300, 300, 296, COLOUR_WHITE, 0, IMAGE::PLOT_CIRCLE_DISC, 1, 0);
    EXPECT_TRUE(touched(big).empty());
    big.plot_circle(300, 300, 295, COLOUR_WHITE, 0, IMAGE::PLOT_CIRCLE_DISC, 1, 0);
    EXPECT_FALSE(touched(big).empty());
}

TEST(ImageDraw, DarkenRect)
{
    IMAGE im;
    im.setup(4, 4);
    im.clear(0x80C86432u, 1);
    set_error_code(ERRCODE_FILE_READ, "x");
    im.darken_rect(0, 0, 1, 1, 0);
    EXPECT_EQ(px(im, 0, 0), 0x80C86432u);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    im.darken_rect(0, 0, 1, 1, 50);
    EXPECT_EQ(px(im, 1, 1), 0x80643219u);
    EXPECT_EQ(px(im, 2, 2), 0x80C86432u);
    EXPECT_EQ(current_error_code, 0);
    im.darken_rect(3, 3, 2, 2, 150);
    EXPECT_EQ(px(im, 3, 3), 0x80000000u);
}

TEST(ImageEdit, PixelEditsOverTheActiveArea)
{
    IMAGE im;
    im.setup(4, 2);
    im.clear(0xFF102030u, 1);
    im.make_grey();
    EXPECT_EQ(px(im, 3, 1), 0xFF1C1C1Cu); // (16x30 + 32x59 + 48x11) / 100 = 28
    im.clear(0xFF102030u, 1);
    COLOUR::use_fast_greyscale = 1;
    im.make_grey();
    COLOUR::use_fast_greyscale = 0;
    EXPECT_EQ(px(im, 0, 0), 0xFF202020u);

    im.clear(0xFF102030u, 1);
    px(im, 1, 0) = 0x00102030u;
    im.realpha(128, 1, 0);
    EXPECT_EQ(px(im, 0, 0), 0x80102030u);
    EXPECT_EQ(px(im, 1, 0), 0x00102030u);
    im.realpha(7, 0, 1);
    EXPECT_EQ(px(im, 0, 0), 0x07102030u);
    EXPECT_EQ(px(im, 1, 0), 0x00102030u);
    im.realpha(9, 0, 0);
    EXPECT_EQ(px(im, 1, 0), 0x09102030u);

    im.clear(0x80FF0000u, 1);
    im.set_trialpha_colours(0xFF123456u, 0, 0, 1);
    EXPECT_EQ(px(im, 0, 0), 0x80123456u); // alpha 255 scaled by the old 128
    im.clear(0x40808080u, 1);
    im.recolour(0xFF0066CCu);
    EXPECT_EQ(px(im, 2, 1), 0x402B80D4u);

    im.clear(0x40112233u, 1);
    px(im, 0, 0) = 0xFF112233u;
    im.replace_colour(0xFF112233u, 0xFFABCDEFu, 0);
    EXPECT_EQ(px(im, 0, 0), 0xFFABCDEFu);
    EXPECT_EQ(px(im, 1, 0), 0x40112233u);
    im.replace_colour(0x00112233u, 0x00445566u, 1);
    EXPECT_EQ(px(im, 1, 0), 0x40445566u);

    // Only the active area, and an empty one edits nothing.
    im.clear(0xFF000000u, 1);
    im.set_active_area(1, 0, 1, 1);
    im.realpha(0, 0, 0);
    EXPECT_EQ(px(im, 1, 1), 0x00000000u);
    EXPECT_EQ(px(im, 0, 1), 0xFF000000u);
    im.add_rect_to_active_area(3, 0, 3, 0);
    im.realpha(0, 0, 0);
    EXPECT_EQ(px(im, 0, 0), 0xFF000000u);
}

TEST(ImageEdit, RotationTurnsAndGrows)
{
    IMAGE im;
    im.setup(6, 3);
    px(im, 0, 0) = COLOUR_RED;
    px(im, 5, 2) = COLOUR_BLUE;
    im.rotate_deg(90);
    EXPECT_NEAR(im.width, 3, 1);
    EXPECT_NEAR(im.height, 6, 1);
    int reds = 0, blues = 0;
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i) {
            reds += px(im, i, j) == COLOUR_RED;
            blues += px(im, i, j) == COLOUR_BLUE;
        }
    // Nearest pixels without filtering: each lands, possibly twice.
    EXPECT_GE(reds, 1);
    EXPECT_LE(reds, 2);
    EXPECT_GE(blues, 1);
    EXPECT_LE(blues, 2);

    IMAGE same;
    same.setup(5, 4);
    std::mt19937 rng(1);
    imgtest::fill_random(same, rng);
    auto before = imgtest::snapshot(same);
    same.rotate_rad(0.0f);
    EXPECT_EQ(imgtest::snapshot(same), before);

    // A locked image keeps its array: turning it does nothing.
    same.locked = 1;
    same.rotate_deg(90);
    EXPECT_EQ(same.width, 5);
    EXPECT_EQ(imgtest::snapshot(same), before);

    IMAGE empty;
    empty.rotate_deg(45);
    EXPECT_EQ(empty.pixels, nullptr);
}
