// Scrolling a 600 x 400 grid of two text columns and 20-pixel rows while
// the focus is out of view, side by side with 100 rows and with 32,000
// rows, each scrolled to its middle. One iteration is a line forward and a
// line back, each step followed by check_scrolling and the redraw. Two
// cases: the focus on a cell of the last row, put back there before each
// step (the grid then moves it into view), and the focus on a widget
// outside the grid. The ratios 32,000 / 100 rows show whether a step costs
// the rows in view or the rows in the table. Both sides of every pair are
// our own code.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_grid.h"
#include "wm_page_manager.h"
#include "wm_script.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 1240, H = 460;
const int GRID_W = 600, GRID_H = 400, ROW_H = 20, COLUMNS = 2;

WM_PAGE_MANAGER* manager = nullptr;
WM_GRID* small_grid = nullptr;
WM_GRID* large_grid = nullptr;
WM_SCRIPT* outside = nullptr; // a widget of the page that is no cell

WM_GRID* build_grid(int left, int rows)
{
    WM_STYLE_SET style, bar_style;
    style.bg_colour = COLOUR_WHITE;
    for (INT_S16* gap : {&style.cell_left_gap, &style.cell_right_gap, &style.cell_top_gap, &style.cell_bottom_gap,
                         &style.x_spacing, &style.y_spacing}) {
        *gap = 0;
    }
    auto* grid = new WM_GRID(1, nullptr, nullptr, nullptr);
    grid->setup(static_cast<INT_S16>(left), 10, static_cast<INT_S16>(left + GRID_W - 1), 10 + GRID_H - 1, COLUMNS,
                nullptr, style, bar_style);
    grid->max_rows = -1;
    grid->default_row_height = ROW_H;
    manager->areas[0].add_object(grid, 0);
    char text[32];
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < COLUMNS; ++c) {
            // Labels of one length in both grids: the same text to draw.
            std::snprintf(text, sizeof text, "Row %05d, column %d", r, c);
            grid->add_script(static_cast<INT_S16>(c), static_cast<INT_S16>(r), text, COLOUR_BLACK, COLOUR_INVISIBLE, 0);
        }
    }
    return grid;
}

void scroll_to_middle(WM_GRID& g)
{
    const long max = g.scroll_param.get_long(g.scroll_param.max);
    g.scroll_param.set(g.scroll_param.value, max - max / 2);
    g.check_scrolling();
    manager->check_for_draw();
}

// Types 2 and 4 go towards the minimum (down the table).
void step(WM_GRID& g, SCROLLBAR_BUTTON_DOWN_TYPE type, WM_SCREEN_OBJECT* focus)
{
    WM_SCREEN_OBJECT::focal_object = focus;
    const long amount = WM_GRID::scrollbar_movement_callback(g.scrollbar, type);
    const long value = g.scroll_param.get_long(g.scroll_param.value);
    g.scroll_param.set(g.scroll_param.value, type % 2 == 0 ? value - amount : value + amount);
    g.check_scrolling();
    manager->check_for_draw();
}

void scroll_bench(benchmark::State& state, WM_GRID* g, bool focus_in_grid)
{
    if (!g->scrollbar) {
        state.SkipWithError("no scroll bar");
        return;
    }
    WM_SCREEN_OBJECT* focus = focus_in_grid ? g->get_object(1, static_cast<INT_S16>(g->num_rows - 1)) : outside;
    for (auto _ : state) {
        step(*g, 2, focus);
        step(*g, 1, focus);
    }
    WM_SCREEN_OBJECT::focal_object = nullptr;
}

void BM_far_cell_100(benchmark::State& state)
{
    scroll_bench(state, small_grid, true);
}
BENCHMARK(BM_far_cell_100);

void BM_far_cell_32000(benchmark::State& state)
{
    scroll_bench(state, large_grid, true);
}
BENCHMARK(BM_far_cell_32000);

void BM_outside_100(benchmark::State& state)
{
    scroll_bench(state, small_grid, false);
}
BENCHMARK(BM_outside_100);

void BM_outside_32000(benchmark::State& state)
{
    scroll_bench(state, large_grid, false);
}
BENCHMARK(BM_outside_32000);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);

    small_grid = build_grid(10, 100);
    const auto start = std::chrono::steady_clock::now();
    large_grid = build_grid(10 + GRID_W + 20, 32000);
    const double build_ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    outside = new WM_SCRIPT(10, 420, 300, 450, "Outside the grids", -1, -1, -1, COLOUR_BLACK, COLOUR_WHITE, 1, 0);
    manager->areas[0].add_object(outside, 0);
    manager->areas[0].mark_entire_redraw_area();
    manager->check_for_draw();
    scroll_to_middle(*small_grid);
    scroll_to_middle(*large_grid);

    std::printf("build of the 32,000-row grid: %.1f ms\n\n", build_ms);
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"line step, focus on a far cell, 32,000 / 100 rows (ours; target <= 1.2)", "BM_far_cell_32000",
          "BM_far_cell_100"},
         {"line step, focus outside the grid, 32,000 / 100 rows (ours; target <= 1.2)", "BM_outside_32000",
          "BM_outside_100"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
