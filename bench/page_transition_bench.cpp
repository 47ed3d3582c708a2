// One frame of each page transition over a 1024 x 768 back buffer, painted
// by its frame function from opaque page snapshots, against one blending
// copy of a 1024 x 768 picture of alpha 128 onto the same buffer; the grey
// fade also against two such copies (a frame of two pages blended). Both
// sides are our own code: the ratios show what a frame costs in copies. A
// summary of the time ratios is printed at the end.
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_manager.h"

#include <benchmark/benchmark.h>

// The widget library brings the host's entry point, which reads this.
KIVO_APP_SETTINGS kivo_app_settings = {"Page transition bench", 0, 0, 0};

namespace {

const int W = 1024, H = 768;
const WM_PAGE_MANAGER::effect_rect WHOLE = {0, 0, W, H};

IMAGE picture(INT_U32 alpha, INT_U32 seed)
{
    IMAGE im;
    im.reset(W, H);
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            im.pixels[static_cast<long>(j) * im.stride + i] =
                alpha << 24 | ((static_cast<INT_U32>(i * 7 + j * 3) * seed) & 0xFFFFFFu);
        }
    }
    return im;
}

// The back buffer, two opaque pages and the reference's picture. The mix
// and the fades set the alpha of their snapshot every frame; the slide and
// the grey fade get pages nobody changes.
struct Scene
{
    IMAGE screen = picture(255, 0x010203u);
    IMAGE old_page = picture(255, 0x0A0B0Cu), new_page = picture(255, 0x30201Fu);
    IMAGE still_old = old_page, still_new = new_page;
    IMAGE half = picture(128, 0x123457u);
};

Scene& scene()
{
    static Scene s;
    return s;
}

void BM_mix_frame(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        WM_PAGE_MANAGER::paint_mix_frame(s.screen, WHOLE, s.old_page, s.new_page, 128);
    }
}
BENCHMARK(BM_mix_frame);

void BM_black_fade_in_frame(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        WM_PAGE_MANAGER::paint_black_fade_frame(s.screen, WHOLE, s.new_page, 128);
    }
}
BENCHMARK(BM_black_fade_in_frame);

void BM_grey_fade_in_frame(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        WM_PAGE_MANAGER::paint_grey_fade_frame(s.screen, WHOLE, s.still_new, 350, 700, false);
    }
}
BENCHMARK(BM_grey_fade_in_frame);

void BM_slide_frame(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        WM_PAGE_MANAGER::paint_slide_frame(s.screen, WHOLE, s.still_old, s.still_new, 1, 2, 350, 700);
    }
}
BENCHMARK(BM_slide_frame);

void BM_blend_copy(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        s.screen.copy(&s.half, 0, 0, 0, 0, W, H, IMAGE_COPY_BLEND);
    }
}
BENCHMARK(BM_blend_copy);

void BM_two_blend_copies(benchmark::State& state)
{
    Scene& s = scene();
    for (auto _ : state) {
        s.screen.copy(&s.half, 0, 0, 0, 0, W, H, IMAGE_COPY_BLEND);
        s.screen.copy(&s.half, 0, 0, 0, 0, W, H, IMAGE_COPY_BLEND);
    }
}
BENCHMARK(BM_two_blend_copies);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"mix frame vs alpha-128 blend copy (both ours)", "BM_mix_frame", "BM_blend_copy"},
         {"black fade-in frame vs alpha-128 blend copy (both ours)", "BM_black_fade_in_frame", "BM_blend_copy"},
         {"grey fade-in frame vs alpha-128 blend copy (both ours)", "BM_grey_fade_in_frame", "BM_blend_copy"},
         {"slide frame (style 2) vs alpha-128 blend copy (both ours)", "BM_slide_frame", "BM_blend_copy"},
         {"grey fade-in frame vs two alpha-128 blend copies (both ours; target <= 1.2)", "BM_grey_fade_in_frame",
          "BM_two_blend_copies"}});
}
