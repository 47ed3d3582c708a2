#ifndef KIVO_BENCH_GRID_H
#define KIVO_BENCH_GRID_H

// The grid the scrolling benchmarks share: text cells on white with no gaps
// between them, added to the page manager's area, and the scroll steps
// they time.
#include "kivo_types.h"
#include "wm_grid.h"
#include "wm_page_manager.h"
#include "wm_style_set.h"

#include <chrono>
#include <cstdio>

namespace kivo_bench {

struct GRID_SHAPE
{
    int width, height; // pixels
    int row_height;    // pixels
    int columns;
    const char* label; // printf format of a cell's text given row and column; 31 bytes at most
};

// A grid of `rows` rows at (left, 10), every cell a line of text.
inline WM_GRID* add_text_grid(WM_PAGE_MANAGER& manager, int left, int rows, const GRID_SHAPE& shape)
{
    WM_STYLE_SET style, bar_style;
    style.bg_colour = COLOUR_WHITE;
    for (INT_S16* gap : {&style.cell_left_gap, &style.cell_right_gap, &style.cell_top_gap, &style.cell_bottom_gap,
                         &style.x_spacing, &style.y_spacing}) {
        *gap = 0;
    }
    auto* grid = new WM_GRID(1, nullptr, nullptr, nullptr);
    grid->setup(static_cast<INT_S16>(left), 10, static_cast<INT_S16>(left + shape.width - 1),
                static_cast<INT_S16>(10 + shape.height - 1), static_cast<INT_S16>(shape.columns), nullptr, style,
                bar_style);
    grid->max_rows = -1;
    grid->default_row_height = static_cast<INT_S16>(shape.row_height);
    manager.areas[0].add_object(grid, 0);
    char text[32];
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < shape.columns; ++c) {
            std::snprintf(text, sizeof text, shape.label, r, c);
            grid->add_script(static_cast<INT_S16>(c), static_cast<INT_S16>(r), text, COLOUR_BLACK, COLOUR_INVISIBLE, 0);
        }
    }
    return grid;
}

// Two grids side by side: `small` of 100 rows at the left, `large` of
// `large_rows` to its right. Returns the milliseconds the large one took
// to build.
inline double add_grid_pair(WM_PAGE_MANAGER& manager, const GRID_SHAPE& shape, int large_rows, WM_GRID*& small,
                            WM_GRID*& large)
{
    small = add_text_grid(manager, 10, 100, shape);
    const auto start = std::chrono::steady_clock::now();
    large = add_text_grid(manager, 10 + shape.width + 20, large_rows, shape);
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The middle of the table at the top of the view, and the redraw.
inline void scroll_grid_to_middle(WM_PAGE_MANAGER& manager, WM_GRID& g)
{
    const long max = g.scroll_param.get_long(g.scroll_param.max);
    g.scroll_param.set(g.scroll_param.value, max - max / 2);
    g.check_scrolling();
    manager.check_for_draw();
}

// One press of a scroll-bar button as the bar moves the grid, then
// check_scrolling and the redraw. Types 2 and 4 go towards the minimum
// (down the table).
inline void step_grid(WM_PAGE_MANAGER& manager, WM_GRID& g, SCROLLBAR_BUTTON_DOWN_TYPE type)
{
    const long amount = WM_GRID::scrollbar_movement_callback(g.scrollbar, type);
    const long value = g.scroll_param.get_long(g.scroll_param.value);
    g.scroll_param.set(g.scroll_param.value, type % 2 == 0 ? value - amount : value + amount);
    g.check_scrolling();
    manager.check_for_draw();
}

} // namespace kivo_bench

#endif
