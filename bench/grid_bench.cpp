// Scrolling a 600 x 400 grid of four text columns and 20-pixel rows, side
// by side with 100 rows and with 10,000 rows, each scrolled to its middle
// with a focused cell in view. One iteration steps forward and back (a
// line, or a page), each step followed by check_scrolling and the redraw
// of the grid's rectangle. The ratios 10,000 / 100 rows show whether a
// scroll costs rows in view or rows in the table; the floor compares a
// line with filling the grid's rectangle once per redraw. Both sides of
// every pair are our own code.
#include "bench_grid.h"
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_manager.h"

#include <benchmark/benchmark.h>

#include <cstdio>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 1240, H = 420;
const int GRID_W = 600, GRID_H = 400, ROW_H = 20, COLUMNS = 4;

WM_PAGE_MANAGER* manager = nullptr;
WM_GRID* small_grid = nullptr;
WM_GRID* large_grid = nullptr;

const kivo_bench::GRID_SHAPE SHAPE = {GRID_W, GRID_H, ROW_H, COLUMNS, "Row %d, column %d"};

// The middle of the table at the top of the view; the focus on a cell in
// the middle of the view, so the search for it is part of every scroll.
void scroll_to_middle(WM_GRID& g)
{
    kivo_bench::scroll_grid_to_middle(*manager, g);
    const int middle = (g.first_visible_row + g.last_visible_row) / 2;
    WM_SCREEN_OBJECT::focal_object = g.get_object(1, static_cast<INT_S16>(middle));
    manager->check_for_draw();
}

void scroll_bench(benchmark::State& state, WM_GRID* g, SCROLLBAR_BUTTON_DOWN_TYPE forward)
{
    if (!g->scrollbar) {
        state.SkipWithError("no scroll bar");
        return;
    }
    for (auto _ : state) {
        kivo_bench::step_grid(*manager, *g, forward);
        kivo_bench::step_grid(*manager, *g, forward - 1);
    }
}

void BM_line_100(benchmark::State& state)
{
    scroll_bench(state, small_grid, 2);
}
BENCHMARK(BM_line_100);

void BM_line_10000(benchmark::State& state)
{
    scroll_bench(state, large_grid, 2);
}
BENCHMARK(BM_line_10000);

void BM_page_100(benchmark::State& state)
{
    scroll_bench(state, small_grid, 4);
}
BENCHMARK(BM_page_100);

void BM_page_10000(benchmark::State& state)
{
    scroll_bench(state, large_grid, 4);
}
BENCHMARK(BM_page_10000);

// The floor: the grid's rectangle filled once for each of a line
// iteration's two redraws.
void BM_fill_grid_rect(benchmark::State& state)
{
    IMAGE* s = WM_SCREEN_OBJECT::surface;
    const auto x1 = large_grid->x, y1 = large_grid->y;
    const auto x2 = static_cast<INT_S16>(x1 + GRID_W - 1), y2 = static_cast<INT_S16>(y1 + GRID_H - 1);
    for (auto _ : state) {
        s->fill_rect(x1, y1, x2, y2, COLOUR_WHITE, 0);
        s->fill_rect(x1, y1, x2, y2, COLOUR_GREY, 0);
    }
}
BENCHMARK(BM_fill_grid_rect);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);

    const double build_ms = kivo_bench::add_grid_pair(*manager, SHAPE, 10000, small_grid, large_grid);
    manager->areas[0].mark_entire_redraw_area();
    manager->check_for_draw();
    scroll_to_middle(*small_grid);
    scroll_to_middle(*large_grid);

    std::printf("build of the 10,000-row grid: %.1f ms\n\n", build_ms);
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"line forward and back, 10,000 rows / 100 rows (target <= 1.2)", "BM_line_10000", "BM_line_100"},
         {"page forward and back, 10,000 rows / 100 rows (target <= 1.2)", "BM_page_10000", "BM_page_100"},
         {"line forward and back, 10,000 rows / two fills of the grid (floor)", "BM_line_10000", "BM_fill_grid_rect"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
