// Drawing primitives side by side with cairo on the same 1024 x 768 ARGB32
// surface: rounded panels (opaque, translucent, vertically faded), filled
// anti-aliased circles and thin lines. Ours draws rounded panels and lines
// without anti-aliasing, so cairo draws those with CAIRO_ANTIALIAS_NONE to
// compare like with like; a pair against cairo's default (anti-aliased)
// panel fill is printed too, for scale. Our circle is anti-aliased (3 x 3
// subsamples), compared with cairo's default anti-aliased arc fill. Cairo
// works premultiplied and rounds differently: only speed is compared.
// Lines have no pixman reference: pixman has no line stroking.
#include "bench_ratio.h"
#include "image.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int W = 1024, H = 768;
const int PANELS = 64, PANEL_W = 300, PANEL_H = 60, PANEL_R = 12;
const int CIRCLES = 64, CIRCLE_R = 40;
const int LINES = 256;

struct Shape
{
    int x, y;
};

struct Scene
{
    IMAGE ours;
    std::vector<INT_U32> theirs;
    cairo_surface_t* surface;
    cairo_t* cr;
    std::vector<Shape> panels, circles;
    std::vector<Shape> line_from, line_to;

    Scene()
    {
        ours.alignment = 1;
        ours.setup(W, H);
        theirs.assign((size_t)W * H, 0xFF404040u);
        surface = cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(theirs.data()),
                                                      CAIRO_FORMAT_ARGB32, W, H, W * 4);
        cr = cairo_create(surface);
        std::mt19937 rng(7);
        for (int i = 0; i < PANELS; ++i) {
            panels.push_back({(int)(rng() % (W - PANEL_W)), (int)(rng() % (H - PANEL_H))});
        }
        for (int i = 0; i < CIRCLES; ++i) {
            circles.push_back(
                {CIRCLE_R + (int)(rng() % (W - 2 * CIRCLE_R)), CIRCLE_R + (int)(rng() % (H - 2 * CIRCLE_R))});
        }
        for (int i = 0; i < LINES; ++i) {
            line_from.push_back({(int)(rng() % W), (int)(rng() % H)});
            line_to.push_back({(int)(rng() % W), (int)(rng() % H)});
        }
        reset();
    }
    ~Scene()
    {
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    void reset()
    {
        ours.clear(0xFF404040u, 1);
        std::fill(theirs.begin(), theirs.end(), 0xFF404040u);
        cairo_surface_mark_dirty(surface);
    }
    void cairo_rounded(double x, double y, double w, double h, double r)
    {
        cairo_new_sub_path(cr);
        cairo_arc(cr, x + w - r, y + r, r, -M_PI / 2, 0);
        cairo_arc(cr, x + w - r, y + h - r, r, 0, M_PI / 2);
        cairo_arc(cr, x + r, y + h - r, r, M_PI / 2, M_PI);
        cairo_arc(cr, x + r, y + r, r, M_PI, 3 * M_PI / 2);
        cairo_close_path(cr);
    }
};

Scene& scene()
{
    static Scene s;
    return s;
}

void pixels_processed(benchmark::State& state, long n)
{
    state.SetItemsProcessed(state.iterations() * n);
}

// ---- rounded panels --------------------------------------------------------

void panels_ours(benchmark::State& state, COLOUR c)
{
    Scene& s = scene();
    s.reset();
    for (auto _ : state) {
        for (const Shape& p : s.panels) {
            s.ours.plot_rounded_rect((short)p.x, (short)p.y, (short)(p.x + PANEL_W - 1), (short)(p.y + PANEL_H - 1),
                                     PANEL_R, 15, c, c, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)PANELS * PANEL_W * PANEL_H);
}

void panels_cairo(benchmark::State& state, double alpha, cairo_antialias_t aa)
{
    Scene& s = scene();
    s.reset();
    cairo_set_antialias(s.cr, aa);
    cairo_set_source_rgba(s.cr, 0.2, 0.4, 0.8, alpha);
    for (auto _ : state) {
        // One path and one fill per panel, as a widget redraw would.
        for (const Shape& p : s.panels) {
            s.cairo_rounded(p.x, p.y, PANEL_W, PANEL_H, PANEL_R);
            cairo_fill(s.cr);
        }
        cairo_surface_flush(s.surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_DEFAULT);
    pixels_processed(state, (long)PANELS * PANEL_W * PANEL_H);
}

void BM_panels_opaque_ours(benchmark::State& s)
{
    panels_ours(s, 0xFF3366CCu);
}
void BM_panels_opaque_cairo_aa_none(benchmark::State& s)
{
    panels_cairo(s, 1.0, CAIRO_ANTIALIAS_NONE);
}
void BM_panels_opaque_cairo_aa_default(benchmark::State& s)
{
    panels_cairo(s, 1.0, CAIRO_ANTIALIAS_DEFAULT);
}
void BM_panels_alpha80_ours(benchmark::State& s)
{
    panels_ours(s, 0x803366CCu);
}
void BM_panels_alpha80_cairo_aa_none(benchmark::State& s)
{
    panels_cairo(s, 128.0 / 255, CAIRO_ANTIALIAS_NONE);
}

// A vertically faded opaque panel: ours computes one colour per row; cairo
// fills the same path with a two-stop vertical linear gradient.
void BM_panels_yfade_ours(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    for (auto _ : state) {
        for (const Shape& p : s.panels) {
            s.ours.plot_rounded_rect((short)p.x, (short)p.y, (short)(p.x + PANEL_W - 1), (short)(p.y + PANEL_H - 1),
                                     PANEL_R, 15, 0xFF3366CCu, 0xFF102040u, 0, IMAGE::PLOT_ROUNDED_RECT_YFADE);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)PANELS * PANEL_W * PANEL_H);
}

void BM_panels_yfade_cairo_aa_none(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_NONE);
    for (auto _ : state) {
        for (const Shape& p : s.panels) {
            cairo_pattern_t* g = cairo_pattern_create_linear(0, p.y, 0, p.y + PANEL_H - 1);
            cairo_pattern_add_color_stop_rgb(g, 0, 0.2, 0.4, 0.8);
            cairo_pattern_add_color_stop_rgb(g, 1, 0.06, 0.12, 0.25);
            cairo_set_source(s.cr, g);
            s.cairo_rounded(p.x, p.y, PANEL_W, PANEL_H, PANEL_R);
            cairo_fill(s.cr);
            cairo_pattern_destroy(g);
        }
        cairo_surface_flush(s.surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_DEFAULT);
    pixels_processed(state, (long)PANELS * PANEL_W * PANEL_H);
}

// ---- circles ---------------------------------------------------------------

void BM_circles_aa_ours(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    for (auto _ : state) {
        for (const Shape& p : s.circles) {
            s.ours.plot_circle((short)p.x, (short)p.y, CIRCLE_R, 0xFF3366CCu, 0, IMAGE::PLOT_CIRCLE_DISC, 1, 1);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
    pixels_processed(state, (long)CIRCLES * (2 * CIRCLE_R + 1) * (2 * CIRCLE_R + 1));
}

void BM_circles_aa_cairo(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_DEFAULT);
    cairo_set_source_rgb(s.cr, 0.2, 0.4, 0.8);
    for (auto _ : state) {
        for (const Shape& p : s.circles) {
            cairo_new_sub_path(s.cr);
            cairo_arc(s.cr, p.x + 0.5, p.y + 0.5, CIRCLE_R + 0.5, 0, 2 * M_PI);
            cairo_fill(s.cr);
        }
        cairo_surface_flush(s.surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    pixels_processed(state, (long)CIRCLES * (2 * CIRCLE_R + 1) * (2 * CIRCLE_R + 1));
}

// ---- lines -----------------------------------------------------------------

void BM_lines_ours(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    for (auto _ : state) {
        for (int i = 0; i < LINES; ++i) {
            s.ours.draw_line((short)s.line_from[i].x, (short)s.line_from[i].y, (short)s.line_to[i].x,
                             (short)s.line_to[i].y, 0xFF3366CCu, 1, 1);
        }
        benchmark::DoNotOptimize(s.ours.pixels);
    }
}

void BM_lines_cairo_aa_none(benchmark::State& state)
{
    Scene& s = scene();
    s.reset();
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_NONE);
    cairo_set_source_rgb(s.cr, 0.2, 0.4, 0.8);
    cairo_set_line_width(s.cr, 1.0);
    for (auto _ : state) {
        // One stroke per line, as ours draws them one call each.
        for (int i = 0; i < LINES; ++i) {
            cairo_move_to(s.cr, s.line_from[i].x + 0.5, s.line_from[i].y + 0.5);
            cairo_line_to(s.cr, s.line_to[i].x + 0.5, s.line_to[i].y + 0.5);
            cairo_stroke(s.cr);
        }
        cairo_surface_flush(s.surface);
        benchmark::DoNotOptimize(s.theirs.data());
    }
    cairo_set_antialias(s.cr, CAIRO_ANTIALIAS_DEFAULT);
}

BENCHMARK(BM_panels_opaque_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_opaque_cairo_aa_none)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_opaque_cairo_aa_default)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_alpha80_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_alpha80_cairo_aa_none)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_yfade_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_panels_yfade_cairo_aa_none)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_circles_aa_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_circles_aa_cairo)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_lines_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_lines_cairo_aa_none)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"rounded panels opaque vs cairo fill, aa none", "BM_panels_opaque_ours", "BM_panels_opaque_cairo_aa_none"},
            {"rounded panels opaque vs cairo fill, aa default (ours not aa)", "BM_panels_opaque_ours",
             "BM_panels_opaque_cairo_aa_default"},
            {"rounded panels alpha 0x80 vs cairo fill, aa none", "BM_panels_alpha80_ours",
             "BM_panels_alpha80_cairo_aa_none"},
            {"rounded panels y-faded vs cairo linear gradient, aa none", "BM_panels_yfade_ours",
             "BM_panels_yfade_cairo_aa_none"},
            {"circle r40 anti-aliased vs cairo arc fill, aa default", "BM_circles_aa_ours", "BM_circles_aa_cairo"},
            {"line thickness 1 vs cairo stroke width 1, aa none", "BM_lines_ours", "BM_lines_cairo_aa_none"},
        });
}
