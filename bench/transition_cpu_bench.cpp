// The processor time one real 700 ms page transition takes, in an 800 x
// 600 window (the headless SDL driver when no other is chosen): a slide
// and a grey fade-in, each from the page manager's own page change to its
// last present. The processor time is set against the transition's
// length, 700 ms; the wall time beside it shows that the length stays.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "host_window.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_manager.h"
#include "wm_script.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 800, H = 600;
const INT_U32 LENGTH_MS = 700;
WM_PAGE_MANAGER* manager = nullptr;
bool ready = false;

// A page of labelled strips in the colour its data names.
void create_page(WM_PAGE_MANAGER& pm)
{
    WM_AREA& area = *pm.current_area;
    const auto tint = static_cast<INT_U32>(reinterpret_cast<std::uintptr_t>(area.history[area.history_index].data));
    for (int k = 0; k < 12; ++k) {
        const auto y = static_cast<INT_S16>(k * 50);
        area.add_object(new WM_SCRIPT(0, y, W - 1, static_cast<INT_S16>(y + 49), "A line of the page", -1, -1, -1,
                                      COLOUR_BLACK, COLOUR(0xFF000000u | (tint * (k + 1))), 1, 0),
                        0);
    }
}

double process_seconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

INT_U32 next_tint = 0x102030u;

// One transition to a new page; the time reported is the processor's
// (cpu) or the wall clock's.
void transition(benchmark::State& state, bool grey, bool cpu)
{
    if (!ready) {
        state.SkipWithError("no window");
        return;
    }
    for (auto _ : state) {
        next_tint = next_tint * 7 + 0x0F0E0D;
        manager->set_next_page(0, create_page, nullptr,
                               reinterpret_cast<void*>(static_cast<std::uintptr_t>(next_tint & 0x3F3F3F)), nullptr, 0,
                               0, nullptr);
        const double c0 = process_seconds();
        const auto w0 = std::chrono::steady_clock::now();
        if (grey) {
            manager->greyfade_in_page(0);
        } else {
            manager->slide_page(0, 1, 2);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        state.SetIterationTime(cpu ? process_seconds() - c0 : wall);
    }
}

void BM_slide_cpu(benchmark::State& state)
{
    transition(state, false, true);
}
BENCHMARK(BM_slide_cpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_grey_fade_cpu(benchmark::State& state)
{
    transition(state, true, true);
}
BENCHMARK(BM_grey_fade_cpu)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

void BM_slide_wall(benchmark::State& state)
{
    transition(state, false, false);
}
BENCHMARK(BM_slide_wall)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The reference: the transition's length as the page manager holds it.
void BM_length(benchmark::State& state)
{
    for (auto _ : state) {
        state.SetIterationTime(LENGTH_MS / 1000.0);
    }
}
BENCHMARK(BM_length)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

// The names the runs report under.
const char* const SLIDE_CPU = "BM_slide_cpu/iterations:1/manual_time";
const char* const GREY_FADE_CPU = "BM_grey_fade_cpu/iterations:1/manual_time";
const char* const SLIDE_WALL = "BM_slide_wall/iterations:1/manual_time";
const char* const LENGTH = "BM_length/iterations:1/manual_time";

} // namespace

int main(int argc, char** argv)
{
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    IMAGE::startup_font_system();
    char title[] = "Transition bench";
    if (open_window(title, W, H, 0, 0)) {
        WM_SCREEN_OBJECT::surface = get_back_buffer(0);
        manager = new WM_PAGE_MANAGER(1, -1);
        manager->backgrounds[0].setup(W, H);
        manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);
        manager->page_effects_ms = LENGTH_MS;
        manager->set_next_page(0, create_page, nullptr, reinterpret_cast<void*>(std::uintptr_t{0x203040}), nullptr, 0,
                               0, nullptr);
        manager->go_to_page(0);
        ready = true;
    }
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"processor time of a 700 ms slide / 700 ms (target <= 0.35)", SLIDE_CPU, LENGTH},
         {"processor time of a 700 ms grey fade-in / 700 ms (target <= 0.35)", GREY_FADE_CPU, LENGTH},
         {"wall time of a 700 ms slide / 700 ms (the length kept)", SLIDE_WALL, LENGTH}});
    delete manager;
    close_window(0);
    IMAGE::shutdown_font_system();
    return rc;
}
