// A wrapped text block (400 x 600, no background, no border) drawing 2 KB
// and 8 KB of text into a headless back buffer, against the surface's own
// wrapped-text call for the same text in the same inner box. The block
// should cost its clip and its origin, not a second pass over the text.
// Both sides are our own code. A summary of the time ratios is printed at
// the end.
#include "bench_ratio.h"
#include "host_window.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_script.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

constexpr int W = 800, H = 600;
constexpr INT_S16 X1 = 200, Y1 = 0, X2 = X1 + 399, Y2 = Y1 + 599;
constexpr INT_U32 INK = 0xFF202020u;

std::string paragraph(size_t bytes)
{
    const char* const words[] = {"lorem",  "ipsum", "dolor",  "sit",     "amet",   "consectetur", "adipiscing",
                                 "elit",   "sed",   "do",     "eiusmod", "tempor", "incididunt",  "ut",
                                 "labore", "et",    "dolore", "magna",   "aliqua", "Tollbeck"};
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i) {
        s += words[(i * 7 + i / 3) % (sizeof words / sizeof words[0])];
        s += ' ';
    }
    s.resize(bytes);
    return s;
}

struct SCENE
{
    std::string text_2k = paragraph(2048), text_8k = paragraph(8192);
    std::unique_ptr<WM_SCRIPT> block_2k, block_8k;
    bool ready = false;

    SCENE()
    {
        IMAGE::startup_font_system();
        create_back_buffer(W, H);
        WM_SCREEN_OBJECT::surface = get_back_buffer(0);
        if (!WM_SCREEN_OBJECT::surface || !IMAGE::is_font_valid(WM_SCREEN_OBJECT::surface->font_slot)) {
            return;
        }
        auto make = [](const std::string& text) {
            auto* b = new WM_SCRIPT(X1, Y1, X2, Y2, text.c_str(), -1, -1, -1, INK, COLOUR_INVISIBLE, 1, SCRIPT_WRAP);
            b->draw_background = 0;
            return b;
        };
        block_2k.reset(make(text_2k));
        block_8k.reset(make(text_8k));
        ready = true;
    }
};

SCENE& scene()
{
    static SCENE s;
    return s;
}

void draw_block(benchmark::State& state, WM_SCRIPT* block)
{
    if (!scene().ready) {
        state.SkipWithError("no back buffer or no font");
        return;
    }
    for (auto _ : state) {
        block->draw_object();
    }
}

// The same call the block ends in, into its inner box (gaps of the default
// two-ring shading).
void draw_reference(benchmark::State& state, const std::string& text)
{
    SCENE& s = scene();
    if (!s.ready) {
        state.SkipWithError("no back buffer or no font");
        return;
    }
    IMAGE& surface = *WM_SCREEN_OBJECT::surface;
    WM_SCRIPT& b = *s.block_2k;
    const short x1 = static_cast<short>(X1 + b.border_left_gap), y1 = static_cast<short>(Y1 + b.border_top_gap);
    const short x2 = static_cast<short>(X2 - b.border_right_gap), y2 = static_cast<short>(Y2 - b.border_bottom_gap);
    for (auto _ : state) {
        surface.draw_string(x1, y1, x2, y2, INK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, b.font_id, b.font_x_sz,
                            b.font_y_sz, text.c_str(), 0);
    }
}

void BM_script_wrapped_2k(benchmark::State& state)
{
    draw_block(state, scene().block_2k.get());
}
BENCHMARK(BM_script_wrapped_2k);

void BM_draw_string_2k(benchmark::State& state)
{
    draw_reference(state, scene().text_2k);
}
BENCHMARK(BM_draw_string_2k);

void BM_script_wrapped_8k(benchmark::State& state)
{
    draw_block(state, scene().block_8k.get());
}
BENCHMARK(BM_script_wrapped_8k);

void BM_draw_string_8k(benchmark::State& state)
{
    draw_reference(state, scene().text_8k);
}
BENCHMARK(BM_draw_string_8k);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"wrapped text block 400 x 600, 2 KB vs draw_string (both ours; target <= 1.15)", "BM_script_wrapped_2k",
          "BM_draw_string_2k"},
         {"wrapped text block 400 x 600, 8 KB vs draw_string (both ours; target <= 1.15)", "BM_script_wrapped_8k",
          "BM_draw_string_8k"}});
}
