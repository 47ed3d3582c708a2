// Scrolling a 600 x 400 grid of two text columns and 20-pixel rows while
// the focus is out of view, side by side with 100 rows and with 32,000
// rows, each scrolled to its middle. One iteration is a line forward and a
// line back, each step followed by check_scrolling and the redraw. Two
// cases: the focus on a cell of the last row, put back there before each
// step (the grid then moves it into view), and the focus on a widget
// outside the grid. The ratios 32,000 / 100 rows show whether a step costs
// the rows in view or the rows in the table. Both sides of every pair are
// our own code.
#include "bench_grid.h"
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_manager.h"
#include "wm_script.h"

#include <benchmark/benchmark.h>

#include <cstdio>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 1240, H = 460;

WM_PAGE_MANAGER* manager = nullptr;
WM_GRID* small_grid = nullptr;
WM_GRID* large_grid = nullptr;
WM_SCRIPT* outside = nullptr; // a widget of the page that is no cell

// 600 x 400 pixels, 20-pixel rows, two columns; labels of one length in
// both grids: the same text to draw.
const kivo_bench::GRID_SHAPE SHAPE = {600, 400, 20, 2, "Row %05d, column %d"};

// A line forward and a line back, the focus put back before each step.
void scroll_bench(benchmark::State& state, WM_GRID* g, bool focus_in_grid)
{
    if (!g->scrollbar) {
        state.SkipWithError("no scroll bar");
        return;
    }
    WM_SCREEN_OBJECT* focus = focus_in_grid ? g->get_object(1, static_cast<INT_S16>(g->num_rows - 1)) : outside;
    auto step = [&](SCROLLBAR_BUTTON_DOWN_TYPE type) {
        WM_SCREEN_OBJECT::focal_object = focus;
        kivo_bench::step_grid(*manager, *g, type);
    };
    for (auto _ : state) {
        step(2);
        step(1);
    }
    WM_SCREEN_OBJECT::focal_object = nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);

    const double build_ms = kivo_bench::add_grid_pair(*manager, SHAPE, 32000, small_grid, large_grid);
    outside = new WM_SCRIPT(10, 420, 300, 450, "Outside the grids", -1, -1, -1, COLOUR_BLACK, COLOUR_WHITE, 1, 0);
    manager->areas[0].add_object(outside, 0);
    manager->areas[0].mark_entire_redraw_area();
    manager->check_for_draw();
    kivo_bench::scroll_grid_to_middle(*manager, *small_grid);
    kivo_bench::scroll_grid_to_middle(*manager, *large_grid);
    const struct
    {
        const char* name;
        WM_GRID* grid;
        bool focus_in_grid;
    } cases[] = {{"BM_far_cell_100", small_grid, true},
                 {"BM_far_cell_32000", large_grid, true},
                 {"BM_outside_100", small_grid, false},
                 {"BM_outside_32000", large_grid, false}};
    for (const auto& c : cases) {
        benchmark::RegisterBenchmark(c.name, scroll_bench, c.grid, c.focus_in_grid);
    }

    std::printf("build of the 32,000-row grid: %.1f ms\n\n", build_ms);
    const int rc =
        kivo_bench::run_with_ratios(argc, argv,
                                    {{"line step, focus on a far cell, 32,000 / 100 rows (ours; target <= 1.2)",
                                      "BM_far_cell_32000", "BM_far_cell_100"},
                                     {"line step, focus outside the grid, 32,000 / 100 rows (ours; target <= 1.2)",
                                      "BM_outside_32000", "BM_outside_100"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
