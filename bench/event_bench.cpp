// The run loop's cost: dispatching a burst of key and text events through
// the event passes against a bare SDL drain of the same events, and the CPU
// an idle program burns while it waits.
#include "bench_ratio.h"

#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_app_settings.h"

#include <SDL.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

KIVO_APP_SETTINGS kivo_app_settings = {"Event bench", 0, 0, 0};

namespace {

constexpr int kPairs = 1000;

// The headless driver unless the caller chose one, so `make bench` needs
// no display.
bool start_sdl()
{
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    return SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS) == 0;
}

bool open_bench_window()
{
    if (is_window_open(0)) {
        return true;
    }
    set_max_idle_ms(0);
    char title[] = "bench";
    return open_window(title, 320, 200, 0, 0) == 1;
}

void push_pairs(Uint32 window_id)
{
    SDL_Event key;
    std::memset(&key, 0, sizeof key);
    key.type = SDL_KEYDOWN;
    key.key.windowID = window_id;
    key.key.state = SDL_PRESSED;
    key.key.keysym.scancode = SDL_SCANCODE_A;
    key.key.keysym.sym = SDLK_a;
    SDL_Event text;
    std::memset(&text, 0, sizeof text);
    text.type = SDL_TEXTINPUT;
    text.text.windowID = window_id;
    std::strcpy(text.text.text, "a");
    for (int i = 0; i < kPairs; ++i) {
        SDL_PushEvent(&key);
        SDL_PushEvent(&text);
    }
}

void BM_dispatch_process_os_events(benchmark::State& s)
{
    if (!start_sdl() || !open_bench_window()) {
        s.SkipWithError("no SDL window");
        return;
    }
    set_max_idle_ms(0);
    Uint32 id = SDL_GetWindowID(host_sdl_window());
    for (auto _ : s) {
        s.PauseTiming();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        KEYBOARD::set_buffer_sz(10);
        s.ResumeTiming();
        push_pairs(id);
        // A pass takes one key with its text: the burst takes a pass a key.
        do {
            process_os_events();
        } while (events_input_waiting);
    }
}

void BM_dispatch_bare_poll(benchmark::State& s)
{
    if (!start_sdl() || !open_bench_window()) {
        s.SkipWithError("no SDL window");
        return;
    }
    Uint32 id = SDL_GetWindowID(host_sdl_window());
    for (auto _ : s) {
        s.PauseTiming();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        s.ResumeTiming();
        push_pairs(id);
        SDL_Event e;
        int n = 0;
        while (SDL_PollEvent(&e)) {
            ++n;
        }
        benchmark::DoNotOptimize(n);
    }
}

BENCHMARK(BM_dispatch_process_os_events)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_dispatch_bare_poll)->Unit(benchmark::kMicrosecond);

double seconds(clockid_t clock)
{
    struct timespec t;
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// 40 idle passes at the default wait, with the window open: the process's
// CPU time over the wall time they took.
void report_idle()
{
    if (!start_sdl() || !open_bench_window()) {
        std::printf("idle: no SDL window\n");
        return;
    }
    set_max_idle_ms(50);
    SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    process_os_events(); // settle anything the window itself posted
    double cpu0 = seconds(CLOCK_PROCESS_CPUTIME_ID), wall0 = seconds(CLOCK_MONOTONIC);
    for (int i = 0; i < 40; ++i) {
        process_os_events();
    }
    double cpu = seconds(CLOCK_PROCESS_CPUTIME_ID) - cpu0, wall = seconds(CLOCK_MONOTONIC) - wall0;
    std::printf("idle: 40 passes at 50 ms (%s driver): %.3f s wall, CPU / wall %.4f\n", SDL_GetCurrentVideoDriver(),
                wall, wall > 0 ? cpu / wall : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    int result = kivo_bench::run_with_ratios(argc, argv,
                                             {
                                                 {"1000 key+text pairs: event pass vs bare SDL_PollEvent",
                                                  "BM_dispatch_process_os_events", "BM_dispatch_bare_poll"},
                                             });
    if (result == 0) {
        report_idle();
    }
    close_window(0);
    SDL_Quit();
    return result;
}
