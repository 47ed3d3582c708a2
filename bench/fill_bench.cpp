// Solid fills side by side with pixman and cairo on the same surface size.
//
// Translucent fills: ours mixes straight colour c into the destination at
// alpha a, (c * a + d * (255 - a)) >> 8 per channel, and keeps the
// destination's alpha byte. pixman and cairo composite a premultiplied
// source OVER the destination, d * (255 - a) / 255 + c' with rounding, and
// change the destination's alpha too. The results differ in rounding and
// in the alpha byte; the work per pixel (one multiply-add per channel) is
// the same, so only speed is compared. Opaque fills are a plain store on
// every side. The horizontal gradient is opaque: ours works out one row
// of colours and lays it on every row; pixman's linear gradient is
// composited with SRC, a copy, as ours is for an opaque fade.
#include "bench_ratio.h"
#include "image.h"

#include <benchmark/benchmark.h>
#include <cairo/cairo.h>
#include <pixman.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

const int W = 1024, H = 768;
const INT_U32 TRANSLUCENT = 0x80336699u; // alpha 0x80
const INT_U32 OPAQUE = 0xFF336699u;

INT_U32 premultiply(INT_U32 c)
{
    INT_U32 a = c >> 24, out = a << 24;
    for (int sh = 0; sh < 24; sh += 8) {
        out |= (((c >> sh) & 0xFF) * a / 255) << sh;
    }
    return out;
}

pixman_color_t pixman_colour(INT_U32 straight)
{
    // pixman's solid colours are premultiplied, 16 bits a channel.
    INT_U32 p = premultiply(straight);
    auto wide = [](INT_U32 v) { return static_cast<uint16_t>((v & 0xFF) * 0x101); };
    return pixman_color_t{wide(p >> 16), wide(p >> 8), wide(p), wide(p >> 24)};
}

struct Rect
{
    short x1, y1, x2, y2;
};

struct Surfaces
{
    IMAGE ours;
    std::vector<INT_U32> theirs; // premultiplied, shared by pixman and cairo
    std::vector<INT_U32> start;
    pixman_image_t *p_dst, *p_translucent, *p_opaque;
    cairo_surface_t* c_surface;
    cairo_t* cr;
    std::vector<Rect> small; // the same list for every side
    std::vector<Rect> cells; // 32 x 24 each, as a page's small panels

    Surfaces()
    {
        ours.alignment = 1;
        ours.setup(W, H);
        std::mt19937 rng(5);
        start.resize((size_t)W * H);
        for (INT_U32& p : start) {
            p = 0xFF000000u | (rng() & 0xFFFFFFu);
        }
        theirs = start;
        restore();
        p_dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, theirs.data(), W * 4);
        pixman_color_t t = pixman_colour(TRANSLUCENT), o = pixman_colour(OPAQUE);
        p_translucent = pixman_image_create_solid_fill(&t);
        p_opaque = pixman_image_create_solid_fill(&o);
        c_surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(theirs.data()),
                                                        CAIRO_FORMAT_ARGB32, W, H, W * 4);
        cr = cairo_create(c_surface);
        for (int i = 0; i < 2000; ++i) {
            int w = 8 + static_cast<int>(rng() % 57), h = 8 + static_cast<int>(rng() % 57);
            int x = static_cast<int>(rng() % (W - w)), y = static_cast<int>(rng() % (H - h));
            small.push_back({static_cast<short>(x), static_cast<short>(y), static_cast<short>(x + w - 1),
                             static_cast<short>(y + h - 1)});
        }
        for (int i = 0; i < 2000; ++i) {
            int x = static_cast<int>(rng() % (W - 32)), y = static_cast<int>(rng() % (H - 24));
            cells.push_back(
                {static_cast<short>(x), static_cast<short>(y), static_cast<short>(x + 31), static_cast<short>(y + 23)});
        }
    }
    ~Surfaces()
    {
        cairo_destroy(cr);
        cairo_surface_destroy(c_surface);
        pixman_image_unref(p_dst);
        pixman_image_unref(p_translucent);
        pixman_image_unref(p_opaque);
    }
    // Opaque destinations on both sides: a mix and OVER then do the same
    // arithmetic on every pixel whatever the colours.
    void restore()
    {
        std::memcpy(ours.pixels, start.data(), start.size() * 4);
        std::memcpy(theirs.data(), start.data(), start.size() * 4);
    }
    void cairo_colour(INT_U32 c)
    {
        cairo_set_source_rgba(cr, ((c >> 16) & 0xFF) / 255.0, ((c >> 8) & 0xFF) / 255.0, (c & 0xFF) / 255.0,
                              (c >> 24) / 255.0);
    }
};

Surfaces& surfaces()
{
    static Surfaces s;
    return s;
}

long small_pixels()
{
    long n = 0;
    for (const Rect& r : surfaces().small) {
        n += static_cast<long>(r.x2 - r.x1 + 1) * (r.y2 - r.y1 + 1);
    }
    return n;
}

void pixels_processed(benchmark::State& state, long n)
{
    state.SetItemsProcessed(state.iterations() * n);
}

// ---- (a) one translucent fill over the whole surface ---------------------

void BM_fill_translucent_ours(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    for (auto _ : state) {
        s.ours.fill_rect(0, 0, W - 1, H - 1, TRANSLUCENT, 1);
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_fill_translucent_pixman_over(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, s.p_translucent, nullptr, s.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)W * H);
}

void BM_fill_translucent_cairo_paint(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    cairo_set_operator(s.cr, CAIRO_OPERATOR_OVER);
    s.cairo_colour(TRANSLUCENT);
    for (auto _ : state) {
        cairo_paint(s.cr);
        cairo_surface_flush(s.c_surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)W * H);
}

// ---- (b) 2000 small translucent fills -------------------------------------

void BM_small_translucent_ours(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    for (auto _ : state) {
        for (const Rect& r : s.small) {
            s.ours.fill_rect(r.x1, r.y1, r.x2, r.y2, TRANSLUCENT, 1);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, small_pixels());
}

void BM_small_translucent_pixman_over(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    for (auto _ : state) {
        for (const Rect& r : s.small) {
            pixman_image_composite32(PIXMAN_OP_OVER, s.p_translucent, nullptr, s.p_dst, 0, 0, 0, 0, r.x1, r.y1,
                                     r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
        }
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, small_pixels());
}

void BM_small_translucent_cairo_fill(benchmark::State& state)
{
    Surfaces& s = surfaces();
    s.restore();
    cairo_set_operator(s.cr, CAIRO_OPERATOR_OVER);
    s.cairo_colour(TRANSLUCENT);
    for (auto _ : state) {
        for (const Rect& r : s.small) {
            cairo_rectangle(s.cr, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1);
            cairo_fill(s.cr);
        }
        cairo_surface_flush(s.c_surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, small_pixels());
}

// ---- (c) one opaque fill over the whole surface ---------------------------

void BM_fill_opaque_ours(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        s.ours.fill_rect(0, 0, W - 1, H - 1, OPAQUE, 1);
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_fill_opaque_pixman_fill(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        pixman_fill(s.theirs.data(), W, 32, 0, 0, W, H, OPAQUE);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)W * H);
}

void BM_fill_opaque_pixman_src(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, s.p_opaque, nullptr, s.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)W * H);
}

void BM_fill_opaque_cairo_source(benchmark::State& state)
{
    Surfaces& s = surfaces();
    cairo_set_operator(s.cr, CAIRO_OPERATOR_SOURCE);
    s.cairo_colour(OPAQUE);
    for (auto _ : state) {
        cairo_rectangle(s.cr, 0, 0, W, H);
        cairo_fill(s.cr);
        cairo_surface_flush(s.c_surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)W * H);
}

// ---- (d) 2000 small opaque fills -----------------------------------------

// Our opaque fills of a list of rectangles, every round.
void fill_opaque_ours(benchmark::State& state, const std::vector<Rect>& rects, long pixels)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        for (const Rect& r : rects) {
            s.ours.fill_rect(r.x1, r.y1, r.x2, r.y2, OPAQUE, 1);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, pixels);
}

void BM_small_opaque_ours(benchmark::State& state)
{
    fill_opaque_ours(state, surfaces().small, small_pixels());
}

void BM_small_opaque_pixman_fill(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        for (const Rect& r : s.small) {
            pixman_fill(s.theirs.data(), W, 32, r.x1, r.y1, r.x2 - r.x1 + 1, r.y2 - r.y1 + 1, OPAQUE);
        }
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, small_pixels());
}

void BM_cells_opaque_ours(benchmark::State& state)
{
    fill_opaque_ours(state, surfaces().cells, 2000L * 32 * 24);
}

void BM_cells_opaque_pixman_fill(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        for (const Rect& r : s.cells) {
            pixman_fill(s.theirs.data(), W, 32, r.x1, r.y1, 32, 24, OPAQUE);
        }
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, 2000L * 32 * 24);
}

// ---- (e) a horizontal gradient over the whole surface ---------------------

const INT_U32 FADE_FROM = 0xFF204080u, FADE_TO = 0xFFE0C0A0u;

void BM_hgradient_ours(benchmark::State& state)
{
    Surfaces& s = surfaces();
    for (auto _ : state) {
        s.ours.fill_hfaded_rect(0, 0, W - 1, H - 1, FADE_FROM, FADE_TO, 1);
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_hgradient_pixman_linear_src(benchmark::State& state)
{
    Surfaces& s = surfaces();
    auto stop = [](pixman_fixed_t at, INT_U32 c) {
        auto wide = [](INT_U32 v) { return static_cast<uint16_t>((v & 0xFF) * 0x101); };
        return pixman_gradient_stop_t{at, pixman_color_t{wide(c >> 16), wide(c >> 8), wide(c), wide(c >> 24)}};
    };
    const pixman_gradient_stop_t stops[2] = {stop(0, FADE_FROM), stop(pixman_fixed_1, FADE_TO)};
    const pixman_point_fixed_t p1 = {pixman_int_to_fixed(0), 0}, p2 = {pixman_int_to_fixed(W - 1), 0};
    pixman_image_t* gradient = pixman_image_create_linear_gradient(&p1, &p2, stops, 2);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, gradient, nullptr, s.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixman_image_unref(gradient);
    pixels_processed(state, (long)W * H);
}

BENCHMARK(BM_fill_translucent_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_translucent_pixman_over)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_translucent_cairo_paint)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_translucent_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_translucent_pixman_over)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_translucent_cairo_fill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_opaque_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_opaque_pixman_fill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_opaque_pixman_src)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_fill_opaque_cairo_source)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_opaque_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_small_opaque_pixman_fill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_cells_opaque_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_cells_opaque_pixman_fill)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_hgradient_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_hgradient_pixman_linear_src)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"fill_rect alpha 0x80 1024x768 vs pixman OVER solid", "BM_fill_translucent_ours",
             "BM_fill_translucent_pixman_over"},
            {"fill_rect alpha 0x80 1024x768 vs cairo paint OVER", "BM_fill_translucent_ours",
             "BM_fill_translucent_cairo_paint"},
            {"2000 small fills alpha 0x80 vs pixman OVER solid", "BM_small_translucent_ours",
             "BM_small_translucent_pixman_over"},
            {"2000 small fills alpha 0x80 vs cairo rectangle fill OVER", "BM_small_translucent_ours",
             "BM_small_translucent_cairo_fill"},
            {"opaque fill_rect 1024x768 vs pixman_fill", "BM_fill_opaque_ours", "BM_fill_opaque_pixman_fill"},
            {"opaque fill_rect 1024x768 vs pixman SRC solid", "BM_fill_opaque_ours", "BM_fill_opaque_pixman_src"},
            {"opaque fill_rect 1024x768 vs cairo fill SOURCE", "BM_fill_opaque_ours", "BM_fill_opaque_cairo_source"},
            {"2000 small opaque fills vs pixman_fill (target <= 1.0)", "BM_small_opaque_ours",
             "BM_small_opaque_pixman_fill"},
            {"2000 opaque fills of 32x24 vs pixman_fill (target <= 1.0)", "BM_cells_opaque_ours",
             "BM_cells_opaque_pixman_fill"},
            {"horizontal gradient 1024x768 vs pixman linear SRC (target <= 1.0)", "BM_hgradient_ours",
             "BM_hgradient_pixman_linear_src"},
        });
}
