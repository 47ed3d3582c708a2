#include "errors.h"
#include "image_test_util.h"

#include <algorithm>
#include <cmath>
#include <set>

using namespace imgtest;

namespace {

using Points = std::set<std::pair<int, int>>;

// Pixels whose word differs from the background.
Points touched(IMAGE& im, INT_U32 background = 0)
{
    Points out;
    for (int j = 0; j < im.height; ++j) {
        for (int i = 0; i < im.width; ++i) {
            if (px(im, i, j) != background) {
                out.insert({i, j});
            }
        }
    }
    return out;
}

// The top-left corner as rows of '#' (differs from the background) and
// '.', joined by '|'; the expectation's shape gives the corner's size.
std::string picture(IMAGE& im, const std::string& like, INT_U32 background = 0)
{
    std::string out;
    for (size_t k = 0, x = 0, y = 0; k < like.size(); ++k, ++x) {
        if (like[k] == '|') {
            out += '|', x = size_t(-1), ++y;
        } else {
            out += px(im, (int)x, (int)y) != background ? '#' : '.';
        }
    }
    return out;
}

void expect_pixels(IMAGE& im, INT_U32 value, const Points& where)
{
    for (auto& p : where) {
        EXPECT_EQ(px(im, p.first, p.second), value) << p.first << "," << p.second;
    }
}

} // namespace

TEST(ImageDrawDeath, InvisibleColourIsFatalForLinesAndOutlines)
{
    CANVAS im(8, 8);
    EXPECT_EXIT(im.draw_line(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 1), ::testing::ExitedWithCode(1), "COLOUR_INVISIBLE");
    EXPECT_EXIT(im.draw_rect(0, 0, 3, 3, 0x00FFFFFFu, 1, 15), ::testing::ExitedWithCode(1), "COLOUR_INVISIBLE");
    EXPECT_EXIT(im.draw_xor_rect(0, 0, 3, 3, 0x00FFFFFFu), ::testing::ExitedWithCode(1), "COLOUR_INVISIBLE");
    // The gate comes first: an image that may not be drawn into ignores it.
    im.valid = 0;
    im.draw_line(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 1);
    IMAGE empty;
    empty.draw_rect(0, 0, 3, 3, COLOUR_INVISIBLE, 1, 15);
}

TEST(ImageDraw, FillAndClearKeepToTheClip)
{
    CANVAS im(10, 10);
    im.set_active_area(2, 2, 7, 7);
    clean(im);
    im.fill_rect(9, 9, 0, 4, 0x80FF0000u, 0); // corners in any order; stored as is
    EXPECT_EQ(touched(im).size(), 6u * 4u);
    EXPECT_EQ(px(im, 2, 4), 0x80FF0000u);
    EXPECT_EQ(dirty(im), (Rect{2, 4, 7, 7}));
    im.fill_rect(2, 4, 2, 4, 0x80FFFFFFu, 1); // blended: alpha of the pixel stays
    const INT_U8 saved = COLOUR::alpha_solid_threshold;
    COLOUR::alpha_solid_threshold = 0; // even then an invisible colour leaves the pixel
    im.fill_rect(2, 4, 2, 4, 0x00FFFFFFu, 1);
    COLOUR::alpha_solid_threshold = saved;
    EXPECT_EQ(px(im, 2, 4), 0x80FE7F7Fu);
    clean(im);
    im.fill_rect(8, 0, 9, 9, COLOUR_WHITE, 0); // wholly outside the clip
    EXPECT_EQ(px(im, 8, 5), 0u);
    EXPECT_EQ(dirty(im), NO_RECT);

    // clear(c, 1) fills everything and restores the clip exactly; an empty
    // clip stays empty, so later drawing does not land on pixel 0,0.
    im.reset(6, 4);
    im.set_active_area(1, 1, 2, 2);
    im.clear(COLOUR_RED, 0);
    EXPECT_EQ(touched(im).size(), 4u);
    im.clear(COLOUR_BLUE, 1);
    EXPECT_TRUE(touched(im, COLOUR_BLUE).empty());
    EXPECT_EQ(active(im), (Rect{1, 1, 2, 2}));
    im.add_rect_to_active_area(5, 3, 5, 3);
    im.valid = 0;
    im.clear(COLOUR_GREEN, 1);
    EXPECT_TRUE(touched(im, COLOUR_GREEN).empty());
    EXPECT_EQ(active(im), NO_RECT);
    im.valid = 1;
    im.fill_rect(0, 0, 0, 0, COLOUR_RED, 0);
    EXPECT_EQ(px(im, 0, 0), COLOUR_GREEN);
}

TEST(ImageDraw, OutlinesAndLinesPixelByPixel)
{
    // Outlines touch each pixel once (half red once is red 127, twice 190).
    CANVAS im(12, 12);
    im.draw_rect(6, 4, 1, 1, 0x80FF0000u, 1, 15);
    const char* box = "........|.######.|.#....#.|.#....#.|.######.|........";
    EXPECT_EQ(picture(im, box), box);
    for (auto& p : touched(im)) {
        EXPECT_EQ(px(im, p.first, p.second), 0x007F0000u);
    }

    // 'R' is draw_rect, 'X' draw_xor_rect (lines are checked against the
    // plain walk below); then the active area's left and right. A side
    // beyond the clip is dropped, not drawn at its edge.
    const struct
    {
        char op;
        short x1, y1, x2, y2, thickness;
        char sides;
        short clip_x1, clip_x2;
        const char* expect;
    } cases[] = {
        {'R', 1, 1, 6, 4, 1, 2 | 4, 0, 11, "........|..#####.|......#.|......#.|......#.|........"}, // right, top
        {'R', 0, 0, 9, 5, 1, 15, 2, 11, "...#######.|.........#.|.........#.|.........#.|.........#.|...#######."},
        {'R', 2, 2, 7, 7, 3, 15, 0, 11, // thick outlines nest at -1, 0 and +1
         "..........|.########.|.########.|.########.|.###..###.|"
         ".###..###.|.########.|.########.|.########.|.........."},
        {'X', 1, 1, 8, 4, 1, 0, 0, 5, ".......|.#####.|.#.....|.#.....|.#####.|......."},
    };
    for (auto& c : cases) {
        im.reset(12, 12);
        im.clear(0, 1);
        im.set_active_area(c.clip_x1, 0, c.clip_x2, 11);
        clean(im);
        if (c.op == 'R') {
            im.draw_rect(c.x1, c.y1, c.x2, c.y2, COLOUR_WHITE, c.thickness, c.sides);
        } else {
            im.draw_xor_rect(c.x1, c.y1, c.x2, c.y2, COLOUR_WHITE);
        }
        EXPECT_EQ(picture(im, c.expect), c.expect) << c.op << " " << c.x1 << "," << c.y1 << " " << c.x2 << "," << c.y2;
    }
    im.clear(0, 1);
    clean(im);
    im.draw_line(0, 0, 4, 2, 0x80FFFFFFu, 1, 1); // blended
    EXPECT_EQ(px(im, 4, 2), 0x007F7F7Fu);
    EXPECT_EQ(dirty(im), (Rect{0, 0, 4, 2}));

    // XOR outlines pass corners twice; drawn twice they restore the colours.
    std::mt19937 rng(17);
    CANVAS x(16, 12, rng);
    auto before = snapshot(x);
    x.draw_xor_rect(12, 9, 3, 2, 0xFF00FFFFu);
    EXPECT_EQ(px(x, 3, 2), before[2 * 16 + 3] | 0xFF000000u);
    EXPECT_EQ(px(x, 5, 2), (before[2 * 16 + 5] ^ 0xFF00FFFFu) | 0xFF000000u);
    x.draw_xor_rect(3, 2, 12, 9, 0xFF00FFFFu);
    auto after = snapshot(x);
    for (size_t i = 0; i < after.size(); ++i) {
        EXPECT_EQ(after[i] & 0xFFFFFFu, before[i] & 0xFFFFFFu) << i;
    }
}

TEST(ImageDraw, LinesFromFarOffMatchThePlainWalk)
{
    // The error-term walk over every step, plotting what lands in the clip;
    // thick lines as parallel copies.
    auto walk = [](Points& out, int x1, int y1, int x2, int y2, const Rect& clip) {
        int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
        bool xm = dx >= dy;
        if ((xm && x2 < x1) || (!xm && y2 < y1)) {
            std::swap(x1, x2), std::swap(y1, y2);
        }
        int major = xm ? dx : dy, minor = xm ? dy : dx, b = xm ? y1 : x1;
        int step = (xm ? y2 >= y1 : x2 >= x1) ? 1 : -1, err = 0;
        for (int a = xm ? x1 : y1; a <= (xm ? x2 : y2); ++a, err += minor) {
            if (err >= major && major > 0) {
                err -= major, b += step;
            }
            int X = xm ? a : b, Y = xm ? b : a;
            if (X >= clip[0] && Y >= clip[1] && X <= clip[2] && Y <= clip[3]) {
                out.insert({X, Y});
            }
        }
    };
    std::mt19937 rng(5);
    auto coord = [&](int size) {
        int far[] = {-32768, -32767, -20000, -300, 300, 20000, 32766, 32767};
        return rng() % 3 ? (int)(rng() % (unsigned)(size + 8)) - 4 : far[rng() % 8];
    };
    CANVAS im(24, 16);
    for (int round = 0; round < 400; ++round) {
        im.clear(0, 1);
        im.set_active_area((short)(rng() % 12), (short)(rng() % 8), (short)(12 + rng() % 12), (short)(8 + rng() % 8));
        const Rect clip = active(im);
        int x1 = coord(24), y1 = coord(16), x2 = coord(24), y2 = coord(16), t = 1 + (int)(rng() % 4);
        Points expect;
        bool xm = std::abs(x2 - x1) >= std::abs(y2 - y1);
        for (int k = 0; k < t; ++k) {
            int off = t < 2 ? 0 : -(t / 2) + k;
            walk(expect, x1 + (xm ? 0 : off), y1 + (xm ? off : 0), x2 + (xm ? 0 : off), y2 + (xm ? off : 0), clip);
        }
        im.draw_line((short)x1, (short)y1, (short)x2, (short)y2, COLOUR_WHITE, (short)t, 0);
        ASSERT_EQ(touched(im), expect) << x1 << "," << y1 << " " << x2 << "," << y2 << " t " << t;
    }
    // The thickest line covers the whole picture (and takes no longer than
    // the picture is big).
    im.reset(24, 16);
    im.draw_line(-32768, 5, 32767, 6, COLOUR_WHITE, 32767, 0);
    EXPECT_EQ(touched(im).size(), 24u * 16u);
}

TEST(ImageDraw, RoundingsAndRoundedOutlines)
{
    CANVAS im(40, 40), ref(40, 40);
    // Top-left quarter of radius 5 at corner 10,10: from (10,15) to (15,10).
    // A radius below 1 or no corner bit draws nothing.
    im.draw_rounding(10, 10, 5, 1 | 8, COLOUR_WHITE);
    im.draw_rounding(30, 30, 0, 1, COLOUR_WHITE);
    im.draw_rounding(30, 30, 3, 0, COLOUR_WHITE);
    expect_pixels(im, COLOUR_WHITE, {{10, 15}, {15, 10}});
    for (auto& p : touched(im)) {
        EXPECT_TRUE(p.first <= 15 && p.second <= 15 && p != std::make_pair(10, 10));
    }

    // Square corners when no bit is set: the plain outline. Rounded corners
    // (radius 20 / 3 = 6): arcs join the sides, corner points left out,
    // nothing outside the rectangle.
    im.clear(0, 1);
    im.draw_rounded_rect(5, 5, 20, 14, COLOUR_WHITE, 3, 0);
    ref.draw_rect(5, 5, 20, 14, COLOUR_WHITE, 1, 15);
    EXPECT_EQ(touched(im), touched(ref));
    im.clear(0, 1);
    im.draw_rounded_rect(5, 5, 24, 24, COLOUR_WHITE, -1, 15);
    expect_pixels(im, 0, {{5, 5}, {24, 24}, {5, 24}, {24, 5}, {6, 6}});
    expect_pixels(im, COLOUR_WHITE, {{5, 11}, {11, 5}, {5, 18}, {11, 24}, {24, 11}, {18, 5}, {24, 18}, {18, 24}});
    for (auto& p : touched(im)) {
        EXPECT_TRUE(p.first >= 5 && p.first <= 24 && p.second >= 5 && p.second <= 24 &&
                    !(p.first > 8 && p.first < 21 && p.second > 8 && p.second < 21));
    }
}

TEST(ImageDraw, FadedFillsRoundedPanelsAndDarkening)
{
    CANVAS im(256, 3);
    im.fill_hfaded_rect(0, 0, 255, 2, 0xFF000000u, 0xFFFFFFFFu, 0);
    for (int k = 0; k < 256; ++k) {
        ASSERT_EQ(px(im, k, 1), 0xFF000000u | INT_U32(k) * 0x010101u) << k;
    }
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

    CANVAS v(2, 5);
    v.fill_vfaded_rect(0, 4, 1, 0, 0xFF000000u, 0xFF0000FFu, 0);
    EXPECT_EQ(px(v, 1, 2), 0xFF00007Fu);
    v.fill_vfaded_rect(0, 3, 1, 3, COLOUR_GREEN, COLOUR_BLUE, 0);
    EXPECT_EQ(px(v, 0, 3), COLOUR_GREEN);
    v.fill_vfaded_rect(0, 0, 1, 0, 0x80FFFFFFu, 0x80FFFFFFu, 1); // blended
    EXPECT_EQ(px(v, 0, 0), 0xFF7F7F7Fu);

    const auto SOLID = IMAGE::PLOT_ROUNDED_RECT_SOLID, XFADE = IMAGE::PLOT_ROUNDED_RECT_XFADE,
               YFADE = IMAGE::PLOT_ROUNDED_RECT_YFADE, DARKEN = IMAGE::PLOT_ROUNDED_RECT_DARKEN;
    CANVAS a(40, 20), b(40, 20);
    a.plot_rounded_rect(2, 3, 31, 14, -1, 15, COLOUR_WHITE, 0, 0, SOLID);
    b.plot_rounded_rect(2, 3, 31, 14, 4, 15, COLOUR_WHITE, 0, 0, SOLID);
    EXPECT_EQ(snapshot(a), snapshot(b)); // 30 x 12: radius 4
    expect_pixels(a, 0, {{2, 3}, {3, 3}, {31, 14}});
    expect_pixels(a, COLOUR_WHITE, {{6, 3}, {2, 7}, {16, 8}});
    // Only the chosen corners are rounded.
    b.clear(0, 1);
    b.plot_rounded_rect(2, 3, 31, 14, 4, 2, COLOUR_WHITE, 0, 0, SOLID);
    EXPECT_TRUE(px(b, 2, 3) == COLOUR_WHITE && px(b, 31, 3) == 0u && px(b, 31, 14) == COLOUR_WHITE);

    // Gradients are stored opaque; a span of 0 gives the first colour.
    CANVAS g(5, 5);
    const struct
    {
        int x1, y1, x2, y2;
        IMAGE::PLOT_ROUNDED_RECT_TYPE type;
        int x, y;
        INT_U32 expect;
    } fades[] = {
        {0, 0, 4, 0, XFADE, 2, 0, 0xFF7F7F7Fu},
        {3, 1, 3, 4, XFADE, 3, 2, 0xFF000000u},
        {0, 1, 0, 4, YFADE, 0, 4, 0xFFFFFFFFu},
        {1, 1, 1, 1, YFADE, 1, 1, 0xFF000000u},
    };
    for (auto& f : fades) {
        g.plot_rounded_rect((short)f.x1, (short)f.y1, (short)f.x2, (short)f.y2, 1, 0, 0x10000000u, 0x10FFFFFFu, 0,
                            f.type);
        EXPECT_EQ(px(g, f.x, f.y), f.expect) << f.x << "," << f.y;
    }

    // Darkening, and a shade out of range leaves the pixels and says why;
    // darken_rect clears the error once per call that darkens.
    g.clear(0x80C86432u, 1);
    set_error_code(ERRCODE_FILE_READ, "x");
    g.darken_rect(0, 0, 4, 4, 0);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    g.darken_rect(1, 1, 0, 0, 50);
    EXPECT_EQ(current_error_code, 0);
    EXPECT_TRUE(px(g, 0, 0) == 0x80643219u && px(g, 2, 0) == 0x80C86432u);
    g.darken_rect(4, 4, 4, 4, 150);
    EXPECT_EQ(px(g, 4, 4), 0x80000000u);
    g.clear(0x80C86432u, 1);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, 50, DARKEN);
    EXPECT_EQ(px(g, 2, 2), 0x80643219u);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, -100, DARKEN);
    g.plot_rounded_rect(0, 0, 4, 4, 1, 0, 0, 0, 101, DARKEN);
    EXPECT_EQ(px(g, 2, 2), 0x80C86432u);
    EXPECT_EQ(current_error_code, ERRCODE_COLOUR_DARKEN_RANGE);
    clean(g);
    g.plot_rounded_rect(0, 0, 4, 4, 0, 15, COLOUR_WHITE, 0, 0, SOLID); // radius 0: nothing
    g.plot_rounded_rect(1, 1, 3, 3, 1, 15, COLOUR_WHITE, 0, 0, (IMAGE::PLOT_ROUNDED_RECT_TYPE)7);
    EXPECT_EQ(px(g, 2, 2), 0x80C86432u);
    EXPECT_EQ(dirty(g), (Rect{1, 1, 3, 3})); // an unknown type still marks
}

TEST(ImageDraw, CirclesByTheirProperties)
{
    // Radius 12 at thickness 2, and a ring so thick it runs through the
    // centre (radius 1 at thickness 24): both reach 13.
    const int n = 41, c = 20;
    for (int type = 0; type < 4; ++type) {
        for (int aa = 0; aa < 2; ++aa) {
            CANVAS im(n, n, {type == 2 ? 0xFF808080u : 0u});
            INT_U32 bg = px(im, 0, 0);
            bool thick = type == 3;
            im.plot_circle(c, c, thick ? 1 : 12, type == 2 ? 0xFFFFFFFFu : 0xC0FFFFFFu, 50,
                           (IMAGE::PLOT_CIRCLE_TYPE)(thick ? 0 : type), thick ? 24 : 2, (INT_U8)aa);
            ASSERT_FALSE(touched(im, bg).empty());
            for (int j = 0; j < n; ++j) {
                for (int i = 0; i < n; ++i) {
                    INT_U32 v = px(im, i, j);
                    // Eight-fold symmetry; nothing beyond radius + thickness / 2 + 1.
                    ASSERT_EQ(v, (INT_U32)px(im, n - 1 - i, j)) << type << aa << " " << i << "," << j;
                    ASSERT_EQ(v, (INT_U32)px(im, i, n - 1 - j));
                    ASSERT_EQ(v, (INT_U32)px(im, j, i));
                    if (std::hypot(i - c, j - c) > 14) {
                        ASSERT_EQ(v, bg) << type << aa << " " << i << "," << j;
                    }
                }
            }
            EXPECT_EQ(px(im, c, c) != bg, type != 0) << type; // ring versus disc (or a ring that fills)
            if (type == 0) {
                EXPECT_NE(px(im, c + 12, c), bg); // the ring's middle lies on the radius
                EXPECT_EQ(px(im, c + 9, c), bg);
            }
        }
    }

    // Anti-aliased shading darkens the full interior by the shade.
    CANVAS s(21, 21, {0xFFC86432u});
    s.plot_circle(10, 10, 6, COLOUR_WHITE, 50, IMAGE::PLOT_CIRCLE_SHADED, 1, 1);
    EXPECT_EQ(px(s, 10, 10), 0xFF643219u);

    // Too big for the canvas: nothing at all.
    CANVAS big(600, 600);
    big.plot_circle(300, 300, 296, COLOUR_WHITE, 0, IMAGE::PLOT_CIRCLE_DISC, 1, 0);
    EXPECT_TRUE(touched(big).empty());
    big.plot_circle(300, 300, 295, COLOUR_WHITE, 0, IMAGE::PLOT_CIRCLE_DISC, 1, 0);
    EXPECT_FALSE(touched(big).empty());
}

TEST(ImageEdit, PixelEditsOverTheActiveArea)
{
    CANVAS im(4, 2);
    // Each edit from a uniform picture, then the pixel it should give.
    const struct
    {
        INT_U32 ground;
        void (*edit)(IMAGE&);
        INT_U32 expect;
    } edits[] = {
        {0xFF102030u, [](IMAGE& i) { i.make_grey(); }, 0xFF1C1C1Cu}, // (16x30 + 32x59 + 48x11) / 100
        {0xFF102030u,
         [](IMAGE& i) {
             COLOUR::use_fast_greyscale = 1;
             i.make_grey();
             COLOUR::use_fast_greyscale = 0;
         },
         0xFF202020u},
        {0xFF102030u, [](IMAGE& i) { i.realpha(128, 1, 0); }, 0x80102030u},
        {0x00102030u, [](IMAGE& i) { i.realpha(7, 0, 1); }, 0x00102030u}, // invisible pixels skipped when asked
        {0x00102030u, [](IMAGE& i) { i.realpha(9, 0, 0); }, 0x09102030u},
        {0x80FF0000u, [](IMAGE& i) { i.set_trialpha_colours(0xFF123456u, 0, 0, 1); }, 0x80123456u},
        {0x40808080u, [](IMAGE& i) { i.recolour(0xFF0066CCu); }, 0x402B80D4u},
        {0x40112233u, [](IMAGE& i) { i.replace_colour(0xFF112233u, 0xFFABCDEFu, 0); }, 0x40112233u}, // exact match
        {0x40112233u, [](IMAGE& i) { i.replace_colour(0x00112233u, 0x00445566u, 1); }, 0x40445566u},
        {0x00102030u, [](IMAGE& i) { i.replace_colour(0x00102030u, 0xFFABCDEFu, 0); }, 0xFFABCDEFu},
    };
    for (auto& e : edits) {
        im.clear(e.ground, 1);
        e.edit(im);
        EXPECT_EQ(px(im, 3, 1), e.expect) << std::hex << e.ground;
    }

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
    CANVAS im(6, 3);
    px(im, 0, 0) = COLOUR_RED;
    px(im, 5, 2) = COLOUR_BLUE;
    auto before = snapshot(im);
    im.rotate_rad(0.0f);
    im.locked = 1; // a locked image keeps its array: turning it does nothing
    im.rotate_deg(90);
    EXPECT_EQ(snapshot(im), before);
    im.locked = 0;
    im.rotate_deg(90);
    EXPECT_TRUE(std::abs(im.width - 3) <= 1 && std::abs(im.height - 6) <= 1);
    // Nearest pixels without filtering: each lands, possibly twice.
    auto all = snapshot(im);
    for (COLOUR c : {COLOUR_RED, COLOUR_BLUE}) {
        auto k = std::count(all.begin(), all.end(), (INT_U32)c);
        EXPECT_TRUE(k == 1 || k == 2) << k;
    }
    IMAGE empty;
    empty.rotate_deg(45);
    EXPECT_EQ(empty.pixels, nullptr);
}
