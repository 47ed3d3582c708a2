// The span-based rounded panel and circle, and the row-based faded fills,
// against their per-pixel forms: random shapes, clips, placements,
// colours, thresholds and shades; the pictures, the dirty rectangles and
// the error codes must agree exactly.
#include "errors.h"
#include "image_draw_plain.h"
#include "image_test_util.h"

#include <functional>

using namespace imgtest;

namespace {

// Two equal placed surfaces with random pixels and a random clip.
struct PAIR
{
    CANVAS fast, plain;
    PAIR(int w, int h, std::mt19937& rng) : fast(w, h, rng), plain(w, h)
    {
        short px0 = (short)((int)(rng() % 21) - 10), py0 = (short)((int)(rng() % 21) - 10);
        // Some at the ends of the coordinate range, where sums could overflow.
        if (rng() % 8 == 0) {
            px0 = rng() % 2 ? (short)(32767 - w + 1) : (short)-32768;
            py0 = rng() % 2 ? (short)(32767 - h + 1) : (short)-32768;
        }
        for (IMAGE* im : {(IMAGE*)&fast, (IMAGE*)&plain}) {
            im->x = px0;
            im->y = py0;
        }
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                plain.pixels[(long)j * plain.stride + i] = fast.pixels[(long)j * fast.stride + i];
            }
        }
        short ax1 = px0, ay1 = py0, ax2 = (short)(px0 + w - 1), ay2 = (short)(py0 + h - 1);
        if (rng() % 2) {
            ax1 = (short)(px0 + (int)(rng() % w));
            ax2 = (short)(px0 + (int)(rng() % w));
            ay1 = (short)(py0 + (int)(rng() % h));
            ay2 = (short)(py0 + (int)(rng() % h));
        }
        fast.set_active_area(ax1, ay1, ax2, ay2);
        plain.set_active_area(ax1, ay1, ax2, ay2);
        clean(fast);
        clean(plain);
    }
    // Draws with both and compares everything either can change.
    testing::AssertionResult check(const std::function<void(IMAGE&)>& draw_fast,
                                   const std::function<void(IMAGE&)>& draw_plain)
    {
        set_error_code(0, nullptr);
        draw_fast(fast);
        INT_U16 fast_error = current_error_code;
        set_error_code(0, nullptr);
        draw_plain(plain);
        if (fast_error != current_error_code) {
            return testing::AssertionFailure() << "error " << fast_error << " vs " << current_error_code;
        }
        if (dirty(fast) != dirty(plain)) {
            return testing::AssertionFailure() << "dirty rectangle differs";
        }
        std::vector<INT_U32> want = snapshot(plain), got = snapshot(fast);
        for (size_t i = 0; i < want.size(); ++i) {
            if (want[i] != got[i]) {
                return testing::AssertionFailure() << "pixel " << i % fast.width << "," << i / fast.width << std::hex
                                                   << ": 0x" << got[i] << ", expected 0x" << want[i];
            }
        }
        return testing::AssertionSuccess();
    }
};

// Alphas where the blend changes its rule, and some others.
INT_U32 random_colour(std::mt19937& rng)
{
    const int thr = COLOUR::alpha_solid_threshold;
    const int alphas[] = {0, 1, 127, 128, 254, 255, thr - 1, thr, thr + 1, (int)(rng() % 256)};
    int a = std::max(0, std::min(255, alphas[rng() % 10]));
    return (INT_U32)a << 24 | (rng() & 0xFFFFFFu);
}

short random_shade(std::mt19937& rng)
{
    const short out_of_range[] = {101, -101, 150, -200, 356, 1000};
    return rng() % 4 ? (short)((int)(rng() % 201) - 100) : out_of_range[rng() % 6];
}

// Sets the solid threshold for one scope, an edge value or a random one.
struct THRESHOLD
{
    INT_U8 saved = COLOUR::alpha_solid_threshold;
    explicit THRESHOLD(std::mt19937& rng)
    {
        const int values[] = {255, 0, 1, 128, 200, (int)(rng() % 256)};
        COLOUR::alpha_solid_threshold = (INT_U8)values[rng() % 6];
    }
    ~THRESHOLD() { COLOUR::alpha_solid_threshold = saved; }
};

} // namespace

TEST(ImageRound, PanelSpansMatchThePerPixelPanel)
{
    std::mt19937 rng(2501);
    for (int round = 0; round < 600; ++round) {
        THRESHOLD threshold(rng);
        int w = 8 + (int)(rng() % 60), h = 8 + (int)(rng() % 50);
        PAIR pair(w, h, rng);
        // Corners anywhere from well outside to inside; some 1 pixel wide
        // or high, some given in reverse order.
        auto coord = [&](int base, int size) { return (short)(base - 15 + (int)(rng() % (size + 30))); };
        short x1 = coord(pair.fast.x, w), y1 = coord(pair.fast.y, h);
        short x2 = rng() % 8 == 0 ? x1 : coord(pair.fast.x, w);
        short y2 = rng() % 8 == 0 ? y1 : coord(pair.fast.y, h);
        const short radii[] = {-1, 0, 1, 2, 3, 40, 300, (short)(rng() % 30)};
        short radius = radii[rng() % 8];
        char corners = (char)(rng() % 16);
        COLOUR c1 = random_colour(rng), c2 = random_colour(rng);
        short shade = random_shade(rng);
        int type = rng() % 10 == 0 ? (rng() % 2 ? -1 : 4) : (int)(rng() % 4);
        auto t = (IMAGE::PLOT_ROUNDED_RECT_TYPE)type;
        ASSERT_TRUE(
            pair.check([&](IMAGE& im) { im.plot_rounded_rect(x1, y1, x2, y2, radius, corners, c1, c2, shade, t); },
                       [&](IMAGE& im) {
                           kivo_draw_plain::plot_rounded_rect(im, x1, y1, x2, y2, radius, corners, c1, c2, shade, t);
                       }))
            << "round " << round << ": " << x1 << "," << y1 << " " << x2 << "," << y2 << " r " << radius << " corners "
            << (int)corners << " type " << type << " threshold " << (int)COLOUR::alpha_solid_threshold;
    }
}

TEST(ImageRound, CircleSpansMatchThePerPixelCircle)
{
    std::mt19937 rng(2502);
    for (int round = 0; round < 600; ++round) {
        THRESHOLD threshold(rng);
        int w = 8 + (int)(rng() % 90), h = 8 + (int)(rng() % 90);
        PAIR pair(w, h, rng);
        short radius = rng() % 20 == 0 ? (short)((int)(rng() % 400) - 100) : (short)(1 + rng() % 60);
        short cx = (short)(pair.fast.x - radius - 5 + (int)(rng() % (w + 2 * radius + 10)));
        short cy = (short)(pair.fast.y - radius - 5 + (int)(rng() % (h + 2 * radius + 10)));
        short thickness = rng() % 3 ? (short)(rng() % 12) : (short)((int)(rng() % 80) - 20);
        int type = rng() % 10 == 0 ? 3 : (int)(rng() % 3);
        auto t = (IMAGE::PLOT_CIRCLE_TYPE)type;
        INT_U8 aa = (INT_U8)(rng() % 2);
        COLOUR c = random_colour(rng);
        short shade = random_shade(rng);
        ASSERT_TRUE(pair.check(
            [&](IMAGE& im) { im.plot_circle(cx, cy, radius, c, shade, t, thickness, aa); },
            [&](IMAGE& im) { kivo_draw_plain::plot_circle(im, cx, cy, radius, c, shade, t, thickness, aa); }))
            << "round " << round << ": centre " << cx << "," << cy << " r " << radius << " thickness " << thickness
            << " type " << type << " aa " << (int)aa << " threshold " << (int)COLOUR::alpha_solid_threshold;
    }
}

TEST(ImageRound, FadedFillRowsMatchThePerPixelFill)
{
    std::mt19937 rng(2503);
    for (int round = 0; round < 500; ++round) {
        THRESHOLD threshold(rng);
        // Some wider than the 2,048 colours worked out at a time.
        const int widths[] = {2600, 1200, 90, 90, 90};
        int w = 1 + (int)(rng() % widths[round % 5]), h = 1 + (int)(rng() % 40);
        PAIR pair(w, h, rng);
        auto coord = [&](int base, int size) { return (short)(base - 8 + (int)(rng() % (size + 16))); };
        short x1 = coord(pair.fast.x, w), y1 = coord(pair.fast.y, h);
        short x2 = coord(pair.fast.x, w), y2 = coord(pair.fast.y, h);
        COLOUR from = random_colour(rng), to = rng() % 4 ? COLOUR(random_colour(rng)) : from;
        if (rng() % 4 == 0) { // both ends solid: the blend becomes a copy
            from = from | 0xFF000000u;
            to = to | 0xFF000000u;
        }
        char blend = (char)(rng() % 2);
        bool vertical = rng() % 2;
        ASSERT_TRUE(pair.check(
            [&](IMAGE& im) {
                if (vertical) {
                    im.fill_vfaded_rect(x1, y1, x2, y2, from, to, blend);
                } else {
                    im.fill_hfaded_rect(x1, y1, x2, y2, from, to, blend);
                }
            },
            [&](IMAGE& im) { kivo_draw_plain::fill_faded(im, x1, y1, x2, y2, from, to, blend, vertical); }))
            << "round " << round << ": " << x1 << "," << y1 << " " << x2 << "," << y2 << (vertical ? " v" : " h")
            << " blend " << (int)blend << " threshold " << (int)COLOUR::alpha_solid_threshold;
    }
}

// Solid fills go to wide stores aligned within each row: every width and
// start column against one store per pixel.
TEST(ImageRound, SolidFillsMatchThePerPixelFill)
{
    std::mt19937 rng(2504);
    for (int round = 0; round < 800; ++round) {
        THRESHOLD threshold(rng);
        int w = 1 + (int)(rng() % (round % 7 == 0 ? 300 : 70)), h = 1 + (int)(rng() % 30);
        PAIR pair(w, h, rng);
        auto coord = [&](int base, int size) { return (short)(base - 8 + (int)(rng() % (size + 16))); };
        short x1 = coord(pair.fast.x, w), y1 = coord(pair.fast.y, h);
        short x2 = coord(pair.fast.x, w), y2 = rng() % 4 == 0 ? y1 : coord(pair.fast.y, h);
        COLOUR c = random_colour(rng);
        INT_U8 blend = (INT_U8)(rng() % 2);
        if (blend && (c.alpha() == 0 || c.alpha() < COLOUR::alpha_solid_threshold)) {
            c = c | 0xFF000000u;
        }
        ASSERT_TRUE(pair.check([&](IMAGE& im) { im.fill_rect(x1, y1, x2, y2, c, blend); },
                               [&](IMAGE& im) {
                                   int ax1 = std::max<int>(std::min(x1, x2), im.active_x1);
                                   int ax2 = std::min<int>(std::max(x1, x2), im.active_x2);
                                   int ay1 = std::max<int>(std::min(y1, y2), im.active_y1);
                                   int ay2 = std::min<int>(std::max(y1, y2), im.active_y2);
                                   // Any corner of the clip at -1 is the empty clip.
                                   if (im.active_x1 == -1 || im.active_x2 == -1 || im.active_y1 == -1 ||
                                       im.active_y2 == -1 || ax1 > ax2 || ay1 > ay2) {
                                       return;
                                   }
                                   im.mark_dirty_area((short)ax1, (short)ay1, (short)ax2, (short)ay2);
                                   for (int j = ay1; j <= ay2; ++j) {
                                       for (int i = ax1; i <= ax2; ++i) {
                                           im.pixels[(long)(j - im.y) * im.stride + (i - im.x)] = c;
                                       }
                                   }
                               }))
            << "round " << round << ": " << x1 << "," << y1 << " " << x2 << "," << y2 << " blend " << (int)blend;
    }
}
