// Two list boxes side by side, one of 1,000 lines and one of 10: a redraw
// of the closed box, and one frame with its popup open (the popup's
// update and monitor, then a forced redraw of the popup with its visible
// rows). The popup area holds about a dozen rows, so the 1,000-line popup
// shows about as many rows as the 10-line one; the ratios 1,000 / 10 lines
// show whether a frame costs lines in view or lines in the list. Also
// printed: the time to add 1,000 lines, each row's text measured once.
// Both sides of every pair are our own code.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_floating_menu.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 640, H = 480;
WM_PAGE_MANAGER* manager = nullptr;
WM_LIST_BOX* small_box = nullptr;
WM_LIST_BOX* large_box = nullptr;
EFFECT_INFO no_effects = {0, 0, 0, 0xFF};

WM_LIST_BOX* build_box(int left, int lines)
{
    WM_STYLE_SET style;
    auto* box =
        new WM_LIST_BOX(static_cast<INT_S16>(left), 10, static_cast<INT_S16>(left + 199), 35, 0, 0, nullptr, 0, style,
                        style, style, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &no_effects);
    manager->areas[0].add_object(box, 0);
    for (int i = 0; i < lines; ++i) {
        box->add_line(("Line " + std::to_string(i)).c_str(), nullptr, 0, 0, 0);
    }
    box->set_current_selection(static_cast<INT_S16>(lines / 2), 1);
    return box;
}

void closed_redraw(benchmark::State& state, WM_LIST_BOX* box)
{
    for (auto _ : state) {
        box->request_draw();
        WM_SCREEN_OBJECT::force_draw_object(box);
    }
}

void BM_closed_10(benchmark::State& state)
{
    closed_redraw(state, small_box);
}
BENCHMARK(BM_closed_10);

void BM_closed_1000(benchmark::State& state)
{
    closed_redraw(state, large_box);
}
BENCHMARK(BM_closed_1000);

// Opens the box's popup, runs frames, and closes it again at once.
void open_frame(benchmark::State& state, WM_LIST_BOX* box)
{
    WM_MENU::menu_callback(box, box, nullptr);
    WM_FLOATING_MENU* popup = box->popup;
    WM_SCREEN_OBJECT::force_draw_object(popup);
    for (auto _ : state) {
        benchmark::DoNotOptimize(popup->update(1));
        benchmark::DoNotOptimize(popup->monitor());
        popup->request_draw();
        WM_SCREEN_OBJECT::force_draw_object(popup);
    }
    popup->hide(0, 0);
    box->monitor(); // takes the hidden popup off the modal list
}

void BM_open_10(benchmark::State& state)
{
    open_frame(state, small_box);
}
BENCHMARK(BM_open_10);

void BM_open_1000(benchmark::State& state)
{
    open_frame(state, large_box);
}
BENCHMARK(BM_open_1000);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);
    // Room below the boxes for the ten rows of the small popup, so that
    // the large one shows as many.
    WM_PAGE_MANAGER::popup_y1 = 36;
    WM_PAGE_MANAGER::popup_y2 = 276;

    small_box = build_box(10, 10);
    const auto start = std::chrono::steady_clock::now();
    large_box = build_box(320, 1000);
    const double add_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    manager->areas[0].mark_entire_redraw_area();
    manager->check_for_draw();

    std::printf("adding 1,000 lines: %.1f ms\n\n", add_ms);
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"redraw of the closed box, 1,000 lines / 10 lines (target <= 1.1)", "BM_closed_1000", "BM_closed_10"},
         {"frame with the popup open, 1,000 lines / 10 lines (target <= 1.2)", "BM_open_1000", "BM_open_10"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
