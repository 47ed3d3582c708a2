// The window's blit side by side with the plain SDL calls it is made of:
// a whole 1024 x 768 buffer, and a 64 x 64 dirty rectangle, each against a
// full-size SDL_UpdateTexture + SDL_RenderCopy + SDL_RenderPresent on the
// same renderer. SDL's dummy driver is used unless SDL_VIDEODRIVER is set,
// so no display is needed.
#include "bench_ratio.h"
#include "host_internal.h"
#include "host_window.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

const int W = 1024, H = 768;

struct Setup
{
    SDL_Texture* reference = nullptr;

    Setup()
    {
        if (!std::getenv("SDL_VIDEODRIVER")) {
            setenv("SDL_VIDEODRIVER", "dummy", 1);
        }
        char title[] = "host bench";
        open_window(title, W, H, 0, 0);
        // A framed window is cut to the screen; the measurement wants the
        // full size, which the dummy display is.
        SDL_SetWindowSize(host_sdl_window(), W, H);
        SDL_PumpEvents();
        create_back_buffer(W, H);
        for (int j = 0; j < H; ++j) {
            for (int i = 0; i < W; ++i) {
                back_buffer.pixels[j * back_buffer.stride + i] =
                    0xFF000000u | static_cast<INT_U32>(i * 2654435761u + j);
            }
        }
        blit_to_window(0);
        reference = SDL_CreateTexture(host_sdl_renderer(), SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, W, H);
        SDL_SetTextureBlendMode(reference, SDL_BLENDMODE_NONE);
        SDL_RendererInfo info;
        int ww = 0, wh = 0;
        SDL_GetRendererOutputSize(host_sdl_renderer(), &ww, &wh);
        if (SDL_GetRendererInfo(host_sdl_renderer(), &info) == 0) {
            std::printf("video driver %s, renderer %s, output %d x %d\n", SDL_GetCurrentVideoDriver(), info.name, ww,
                        wh);
        }
    }
};

Setup& setup()
{
    static Setup s;
    return s;
}

void BM_blit_whole_ours(benchmark::State& state)
{
    setup();
    for (auto _ : state) {
        back_buffer.mark_dirty_area(0, 0, W - 1, H - 1);
        blit_to_window(0);
    }
}
BENCHMARK(BM_blit_whole_ours);

void BM_blit_dirty_64_ours(benchmark::State& state)
{
    setup();
    for (auto _ : state) {
        back_buffer.mark_dirty_area(300, 200, 363, 263);
        blit_to_window(0);
    }
}
BENCHMARK(BM_blit_dirty_64_ours);

void BM_plain_sdl_full(benchmark::State& state)
{
    Setup& s = setup();
    SDL_Renderer* r = host_sdl_renderer();
    for (auto _ : state) {
        SDL_UpdateTexture(s.reference, nullptr, back_buffer.pixels, back_buffer.stride * 4);
        SDL_RenderCopy(r, s.reference, nullptr, nullptr);
        SDL_RenderPresent(r);
    }
}
BENCHMARK(BM_plain_sdl_full);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {
            {"blit 1024x768 whole vs plain SDL upload+copy+present", "BM_blit_whole_ours", "BM_plain_sdl_full"},
            {"blit 64x64 dirty vs plain SDL full upload", "BM_blit_dirty_64_ours", "BM_plain_sdl_full"},
        });
}
