// Pixel loops side by side with reference libraries on the same pictures:
// copies against pixman and memcpy, the bilinear resize against
// stb_image_resize's triangle filter and pixman's filtered transforms.
// Results differ in rounding (the references premultiply or use half-pixel
// centres); only speed is compared. A summary of ours / reference times is
// printed at the end.
#include "bench_ratio.h"
#include "image.h"
#include "resample.h"

#include <benchmark/benchmark.h>
#include <pixman.h>

#define STB_IMAGE_RESIZE_IMPLEMENTATION
#define STBIR_ASSERT(x) ((void)0)
#include <stb/stb_image_resize.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace {

const int W = 1024, H = 768;

// A skin-like picture: 32 x 32 blocks that are clear, opaque, or fade
// across their width, a third of each, with random colours.
void fill_skin(COLOUR* p, int w, int h, long stride, unsigned seed)
{
    std::mt19937 rng(seed);
    const int B = 32;
    for (int by = 0; by < h; by += B) {
        for (int bx = 0; bx < w; bx += B) {
            int kind = (int)(rng() % 3);
            for (int j = by; j < std::min(h, by + B); ++j) {
                for (int i = bx; i < std::min(w, bx + B); ++i) {
                    INT_U32 a = kind == 0 ? 0 : kind == 1 ? 255 : (INT_U32)((i - bx) * 255 / (B - 1));
                    p[(long)j * stride + i] = (a << 24) | (rng() & 0xFFFFFFu);
                }
            }
        }
    }
}

struct Pictures
{
    IMAGE src, dst;
    std::vector<INT_U32> src_pre, dst_pm;         // premultiplied copies for pixman
    std::vector<INT_U32> dst_start, dst_pm_start; // destinations restored between runs
    pixman_image_t *p_src, *p_dst;

    Pictures()
    {
        src.alignment = dst.alignment = 1;
        src.setup(W, H);
        dst.setup(W, H);
        fill_skin(src.pixels, W, H, W, 1);
        fill_skin(dst.pixels, W, H, W, 2);
        src_pre.resize((size_t)W * H);
        dst_pm.resize((size_t)W * H);
        for (size_t i = 0; i < src_pre.size(); ++i) {
            src_pre[i] = premultiply(src.pixels[i]);
            dst_pm[i] = premultiply(dst.pixels[i]);
        }
        dst_start.assign(reinterpret_cast<INT_U32*>(dst.pixels),
                         reinterpret_cast<INT_U32*>(dst.pixels) + (size_t)W * H);
        dst_pm_start = dst_pm;
        p_src = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, src_pre.data(), W * 4);
        p_dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, dst_pm.data(), W * 4);
    }
    ~Pictures()
    {
        pixman_image_unref(p_src);
        pixman_image_unref(p_dst);
    }
    void restore()
    {
        std::memcpy(dst.pixels, dst_start.data(), dst_start.size() * 4);
        std::memcpy(dst_pm.data(), dst_pm_start.data(), dst_pm_start.size() * 4);
    }
    static INT_U32 premultiply(INT_U32 c)
    {
        INT_U32 a = c >> 24, out = a << 24;
        for (int sh = 0; sh < 24; sh += 8) {
            out |= (((c >> sh) & 0xFF) * a / 255) << sh;
        }
        return out;
    }
};

Pictures& pictures()
{
    static Pictures p;
    return p;
}

void pixels_processed(benchmark::State& state, long n)
{
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_blend_ours(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        p.dst.copy(&p.src, 0, 0, 0, 0, W, H, IMAGE_COPY_BLEND);
        benchmark::DoNotOptimize(p.dst.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_blend_pixman_over(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, p.p_src, nullptr, p.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(p.dst_pm.data());
    }
    pixels_processed(state, (long)W * H);
}

// Every source pixel translucent (alpha 1 .. 254): no group of pixels can
// be skipped or stored whole, so each one is mixed.
struct Translucent
{
    IMAGE src, dst;
    std::vector<INT_U32> src_pre, dst_pm, dst_start, dst_pm_start;
    pixman_image_t *p_src, *p_dst;

    Translucent()
    {
        src.alignment = dst.alignment = 1;
        src.setup(W, H);
        dst.setup(W, H);
        std::mt19937 rng(3);
        for (long i = 0; i < (long)W * H; ++i) {
            src.pixels[i] = ((1 + rng() % 254) << 24) | (rng() & 0xFFFFFFu);
            dst.pixels[i] = 0xFF000000u | (rng() & 0xFFFFFFu);
        }
        src_pre.resize((size_t)W * H);
        dst_pm.resize((size_t)W * H);
        for (size_t i = 0; i < src_pre.size(); ++i) {
            src_pre[i] = Pictures::premultiply(src.pixels[i]);
            dst_pm[i] = dst.pixels[i];
        }
        const INT_U32* first = reinterpret_cast<INT_U32*>(dst.pixels);
        dst_start.assign(first, first + (size_t)W * H);
        dst_pm_start = dst_pm;
        p_src = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, src_pre.data(), W * 4);
        p_dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, dst_pm.data(), W * 4);
    }
    ~Translucent()
    {
        pixman_image_unref(p_src);
        pixman_image_unref(p_dst);
    }
};

Translucent& translucent()
{
    static Translucent t;
    return t;
}

// Both destinations start opaque and stay so (ours keeps the
// destination's alpha; OVER onto opaque gives opaque), so every round
// does the same work.
void BM_blend_translucent_ours(benchmark::State& state)
{
    Translucent& t = translucent();
    std::memcpy(t.dst.pixels, t.dst_start.data(), t.dst_start.size() * 4);
    for (auto _ : state) {
        t.dst.copy(&t.src, 0, 0, 0, 0, W, H, IMAGE_COPY_BLEND);
        benchmark::DoNotOptimize(t.dst.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_blend_translucent_pixman_over(benchmark::State& state)
{
    Translucent& t = translucent();
    std::memcpy(t.dst_pm.data(), t.dst_pm_start.data(), t.dst_pm_start.size() * 4);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_OVER, t.p_src, nullptr, t.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(t.dst_pm.data());
    }
    pixels_processed(state, (long)W * H);
}

void BM_replace_ours(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        p.dst.copy(&p.src, 0, 0, 0, 0, W, H, IMAGE_COPY_REPLACE);
        benchmark::DoNotOptimize(p.dst.pixels);
    }
    pixels_processed(state, (long)W * H);
}

void BM_replace_memcpy_rows(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        for (int j = 0; j < H; ++j) {
            std::memcpy(p.dst_pm.data() + (size_t)j * W, p.src_pre.data() + (size_t)j * W, W * 4);
        }
        benchmark::DoNotOptimize(p.dst_pm.data());
    }
    pixels_processed(state, (long)W * H);
}

void BM_alpha_multiply_ours(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        p.dst.copy(&p.src, 0, 0, 0, 0, W, H, IMAGE_COPY_ALPHA_MULTIPLY);
        benchmark::DoNotOptimize(p.dst.pixels);
        // Keep the destination alpha from collapsing to 0 over the run.
        state.PauseTiming();
        p.restore();
        state.ResumeTiming();
    }
    pixels_processed(state, (long)W * H);
}

// Ours scales the destination's alpha by the source's and keeps its colour;
// on premultiplied pixels that is the whole destination times the source's
// alpha, which is IN_REVERSE with no mask.
void BM_alpha_multiply_pixman_in_reverse(benchmark::State& state)
{
    Pictures& p = pictures();
    p.restore();
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_IN_REVERSE, p.p_src, nullptr, p.p_dst, 0, 0, 0, 0, 0, 0, W, H);
        benchmark::DoNotOptimize(p.dst_pm.data());
        state.PauseTiming();
        p.restore();
        state.ResumeTiming();
    }
    pixels_processed(state, (long)W * H);
}

struct ResizeCase
{
    int sw, sh, dw, dh;
    std::vector<COLOUR> src, dst;
    pixman_image_t *p_src, *p_dst;
    ResizeCase(int a, int b, int c, int d) : sw(a), sh(b), dw(c), dh(d)
    {
        src.resize((size_t)sw * sh);
        dst.resize((size_t)dw * dh);
        fill_skin(src.data(), sw, sh, sw, 3);
        // Straight alpha read as premultiplied: the speed is the same.
        p_src = pixman_image_create_bits(PIXMAN_a8r8g8b8, sw, sh, reinterpret_cast<uint32_t*>(src.data()), sw * 4);
        p_dst = pixman_image_create_bits(PIXMAN_a8r8g8b8, dw, dh, reinterpret_cast<uint32_t*>(dst.data()), dw * 4);
        pixman_transform_t t;
        pixman_transform_init_scale(&t, pixman_double_to_fixed((double)sw / dw),
                                    pixman_double_to_fixed((double)sh / dh));
        pixman_image_set_transform(p_src, &t);
        // Edges clamp, as ours and stb's do.
        pixman_image_set_repeat(p_src, PIXMAN_REPEAT_PAD);
    }
    ~ResizeCase()
    {
        pixman_image_unref(p_src);
        pixman_image_unref(p_dst);
    }
};

ResizeCase& shrink_case()
{
    static ResizeCase c(1920, 1080, 200, 100);
    return c;
}

// A fifteenth: some of its weights lie just below a small fraction, and
// their products are taken in doubles.
ResizeCase& fifteenth_case()
{
    static ResizeCase c(1920, 1080, 128, 72);
    return c;
}

ResizeCase& enlarge_case()
{
    static ResizeCase c(640, 480, 1024, 768);
    return c;
}

ResizeCase& double_case()
{
    static ResizeCase c(1024, 768, 2048, 1536);
    return c;
}

void resize_ours(benchmark::State& state, ResizeCase& c)
{
    C2PassScale<CBilinearFilter> scaler;
    for (auto _ : state) {
        benchmark::DoNotOptimize(scaler.Scale(c.src.data(), c.sw, c.sw, c.sh, c.dst.data(), c.dw, c.dw, c.dh));
    }
    pixels_processed(state, (long)c.dw * c.dh);
}

void resize_stb(benchmark::State& state, ResizeCase& c)
{
    for (auto _ : state) {
        int ok =
            stbir_resize_uint8_generic((const unsigned char*)c.src.data(), c.sw, c.sh, c.sw * 4,
                                       (unsigned char*)c.dst.data(), c.dw, c.dh, c.dw * 4, 4, STBIR_ALPHA_CHANNEL_NONE,
                                       0, STBIR_EDGE_CLAMP, STBIR_FILTER_TRIANGLE, STBIR_COLORSPACE_LINEAR, nullptr);
        benchmark::DoNotOptimize(ok);
    }
    pixels_processed(state, (long)c.dw * c.dh);
}

// pixman's bilinear filter reads the 2 x 2 pixels around each sample: the
// same tent as ours when enlarging. Shrinking it still reads only four
// pixels for each output pixel (ours reads all under the wider tent), a
// different job, so it is no reference for shrinking.
void resize_pixman_bilinear(benchmark::State& state, ResizeCase& c)
{
    pixman_image_set_filter(c.p_src, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, c.p_src, nullptr, c.p_dst, 0, 0, 0, 0, 0, 0, c.dw, c.dh);
        benchmark::DoNotOptimize(c.dst.data());
    }
    pixels_processed(state, (long)c.dw * c.dh);
}

// Shrinking with our filter in pixman's terms: a triangle as wide as the
// scale, sampled from the source pixels (no reconstruction). pixman sums
// all of its 2-D window for each output pixel rather than in two passes.
void resize_pixman_triangle(benchmark::State& state, ResizeCase& c)
{
    int n = 0;
    pixman_fixed_t* params = pixman_filter_create_separable_convolution(
        &n, pixman_double_to_fixed((double)c.sw / c.dw), pixman_double_to_fixed((double)c.sh / c.dh),
        PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_IMPULSE, PIXMAN_KERNEL_LINEAR, PIXMAN_KERNEL_LINEAR, 4, 4);
    pixman_image_set_filter(c.p_src, PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, n);
    std::free(params);
    for (auto _ : state) {
        pixman_image_composite32(PIXMAN_OP_SRC, c.p_src, nullptr, c.p_dst, 0, 0, 0, 0, 0, 0, c.dw, c.dh);
        benchmark::DoNotOptimize(c.dst.data());
    }
    pixels_processed(state, (long)c.dw * c.dh);
}

void BM_resize_shrink_ours(benchmark::State& s)
{
    resize_ours(s, shrink_case());
}
void BM_resize_shrink_stb(benchmark::State& s)
{
    resize_stb(s, shrink_case());
}
void BM_resize_shrink_pixman_triangle(benchmark::State& s)
{
    resize_pixman_triangle(s, shrink_case());
}
void BM_resize_fifteenth_ours(benchmark::State& s)
{
    resize_ours(s, fifteenth_case());
}
void BM_resize_fifteenth_stb(benchmark::State& s)
{
    resize_stb(s, fifteenth_case());
}
void BM_resize_enlarge_ours(benchmark::State& s)
{
    resize_ours(s, enlarge_case());
}
void BM_resize_enlarge_stb(benchmark::State& s)
{
    resize_stb(s, enlarge_case());
}
void BM_resize_double_ours(benchmark::State& s)
{
    resize_ours(s, double_case());
}
void BM_resize_double_stb(benchmark::State& s)
{
    resize_stb(s, double_case());
}
void BM_resize_double_pixman_bilinear(benchmark::State& s)
{
    resize_pixman_bilinear(s, double_case());
}

BENCHMARK(BM_blend_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_blend_pixman_over)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_replace_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_replace_memcpy_rows)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_blend_translucent_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_blend_translucent_pixman_over)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_alpha_multiply_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_alpha_multiply_pixman_in_reverse)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_shrink_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_shrink_stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_shrink_pixman_triangle)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_fifteenth_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_fifteenth_stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_enlarge_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_enlarge_stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_double_ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_double_stb)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_resize_double_pixman_bilinear)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"blend copy vs pixman OVER", "BM_blend_ours", "BM_blend_pixman_over"},
            {"replace vs memcpy rows", "BM_replace_ours", "BM_replace_memcpy_rows"},
            {"all-translucent blend copy 1024x768 vs pixman OVER (target <= 1.0)", "BM_blend_translucent_ours",
             "BM_blend_translucent_pixman_over"},
            {"alpha multiply vs pixman IN_REVERSE", "BM_alpha_multiply_ours", "BM_alpha_multiply_pixman_in_reverse"},
            {"bilinear 1920x1080->200x100 vs stb triangle", "BM_resize_shrink_ours", "BM_resize_shrink_stb"},
            {"bilinear 1920x1080->200x100 vs pixman separable triangle", "BM_resize_shrink_ours",
             "BM_resize_shrink_pixman_triangle"},
            {"bilinear 1920x1080->128x72 vs stb triangle", "BM_resize_fifteenth_ours", "BM_resize_fifteenth_stb"},
            {"bilinear 640x480->1024x768 vs stb triangle", "BM_resize_enlarge_ours", "BM_resize_enlarge_stb"},
            {"bilinear 1024x768->2048x1536 vs stb triangle", "BM_resize_double_ours", "BM_resize_double_stb"},
            {"bilinear 1024x768->2048x1536 vs pixman bilinear", "BM_resize_double_ours",
             "BM_resize_double_pixman_bilinear"},
        });
}
