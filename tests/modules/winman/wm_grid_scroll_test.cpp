#include "test_pages.h"

#include "keyboard.h"
#include "mouse.h"
#include "wm_grid.h"
#include "wm_names.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <random>

using namespace kivo_test;

namespace {

using GridScroll = PageTest;

std::vector<int> rows_of(int count, int height)
{
    return std::vector<int>(static_cast<size_t>(count), height);
}

// A grid at (10, 10), 100 wide, without gaps, with a view of `view` pixels,
// a focusable probe in each cell, and the bar its layout would make.
std::unique_ptr<WM_GRID> make_grid(const std::vector<int>& heights, int view, int columns = 1, int spacing = 0)
{
    WM_STYLE_SET style, bar_style;
    style.border_left_gap = style.border_right_gap = style.border_top_gap = style.border_bottom_gap = 0;
    style.cell_top_gap = style.cell_bottom_gap = 0;
    style.y_spacing = static_cast<INT_S16>(spacing);
    auto g = std::make_unique<WM_GRID>(1, nullptr, nullptr, nullptr);
    g->setup(10, 10, 109, static_cast<INT_S16>(9 + view), static_cast<INT_S16>(columns), nullptr, style, bar_style);
    g->max_rows = -1;
    g->childrens_allowed_focus = 1;
    for (size_t r = 0; r < heights.size(); ++r) {
        g->default_row_height = static_cast<INT_S16>(heights[r]);
        for (int c = 0; c < columns; ++c) {
            auto* probe = new PROBE(0, 0, 1, 1, COLOUR_INVISIBLE);
            probe->can_focus = 1;
            g->add_object(static_cast<INT_S16>(c), static_cast<INT_S16>(r), probe);
        }
    }
    g->scrollbar = new WM_SCROLLBAR(98, 10, 109, static_cast<INT_S16>(9 + view), 10, 0, &g->scroll_param, 2, 0,
                                    COLOUR_GREY, COLOUR_WHITE, COLOUR_GREY, COLOUR_BLACK, 1, nullptr, g.get(), nullptr);
    g->scrollbar->movement_callback = WM_GRID::scrollbar_movement_callback;
    return g;
}

void scroll_to(WM_GRID& g, long offset)
{
    g.scroll_param.set(g.scroll_param.value, g.scroll_param.get_long(g.scroll_param.max) - offset);
    g.check_scrolling();
}

PROBE* cell(WM_GRID& g, int column, int row)
{
    return static_cast<PROBE*>(g.get_object(static_cast<INT_S16>(column), static_cast<INT_S16>(row)));
}

void key(WM_GRID& g, int code)
{
    KEYBOARD::code = -1;
    KEYBOARD::process_key_event(static_cast<INT_U32>(code));
    g.monitor();
}

} // namespace

TEST_F(GridScroll, StepsFromTheRowAtTheTopOfTheView)
{
    const std::vector<int> layouts[] = {rows_of(6, 20), rows_of(8, 10), {20, 100, 20}, {20, 100}, {100}};
    // Layout, view, offset, action, step. In the last three a page would be
    // 0 or negative (the next row taller than the view, the top row the
    // last, row 0 alone) and takes the line step instead.
    const int cases[][5] = {{0, 50, 10, 2, 10}, {0, 50, 10, 1, 10}, {0, 50, 0, 1, 0},  {0, 50, 20, 1, 20},
                            {0, 50, 20, 9, 0},  {1, 35, 30, 3, 30}, {1, 35, 0, 4, 30}, {2, 50, 0, 4, 20},
                            {3, 50, 70, 4, 50}, {4, 50, 0, 4, 100}};
    for (const auto& c : cases) {
        auto g = make_grid(layouts[c[0]], c[1]);
        scroll_to(*g, c[2]);
        EXPECT_EQ(WM_GRID::scrollbar_movement_callback(g->scrollbar, static_cast<INT_U32>(c[3])), c[4]) << c[3];
    }
}

TEST_F(GridScroll, VisibleRowsAndTheFocusHandedToTheNearestFullyVisibleRow)
{
    // Focus row, offset, first and last visible row, focus row after; row 2 stays first at 60.
    const int cases[][5] = {{0, 30, 1, 4, 2}, {9, 0, 0, 2, 1}, {3, 60, 2, 6, 3}, {5, 60, 2, 6, 4}};
    for (const auto& c : cases) {
        auto g = make_grid(rows_of(10, 20), 50);
        cell(*g, 0, c[0])->take_focus();
        scroll_to(*g, c[1]);
        EXPECT_EQ(g->first_visible_row, c[2]);
        EXPECT_EQ(g->last_visible_row, c[3]);
        EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, cell(*g, 0, c[4])) << c[0];
    }
}

TEST_F(GridScroll, WheelFocusThenHomeEndAndPageKeys)
{
    auto g = make_grid(rows_of(10, 20), 50);
    WM_SCROLLBAR::mouse_wheel_focus = nullptr;
    point(20, 20);
    MOUSE::wheel_pos = 3;
    g->monitor();
    EXPECT_EQ(WM_SCROLLBAR::mouse_wheel_focus, g->scrollbar);
    EXPECT_EQ(MOUSE::wheel_pos, 0);

    point(300, 300);
    // Key, Control held, offset after (from 60 of 150). 117, 123 with no
    // focal cell, and any key once the wheel focus is elsewhere stay pending.
    const int cases[][3] = {{KEY_HOME, 0, 0},  {KEY_END, 0, 150},  {KEY_PAGE_UP, 0, 100}, {KEY_PAGE_DOWN, 0, 20},
                            {KEY_DOWN, 0, 80}, {KEY_DOWN, 1, 100}, {KEY_UP, 0, 40},       {KEY_UP, 1, 20},
                            {117, 0, 60},      {KEY_LEFT, 0, 60},  {KEY_HOME, 2, 60}};
    for (const auto& c : cases) {
        scroll_to(*g, 60);
        hold_key(KEY_CONTROL, c[1] == 1);
        WM_SCROLLBAR::mouse_wheel_focus = c[1] == 2 ? nullptr : g->scrollbar;
        key(*g, c[0]);
        EXPECT_EQ(g->get_scroll_offset(), c[2]) << c[0];
        EXPECT_EQ(KEYBOARD::code, c[2] == 60 ? c[0] : -1) << c[0];
    }
}

TEST_F(GridScroll, ArrowsMoveBetweenFocusableCellsAndScrollHitTestAndHiding)
{
    auto g = make_grid(rows_of(10, 20), 50, 2);
    cell(*g, 0, 2)->can_focus = 0;
    cell(*g, 0, 3)->visible = 0;
    cell(*g, 0, 1)->take_focus();
    // Key; the cell focused after it (column, row); the offset.
    const int cases[][4] = {{KEY_DOWN, 0, 4, 60}, {KEY_UP, 0, 1, 0}, {KEY_RIGHT, 1, 1, 0}, {KEY_LEFT, 0, 1, 0}};
    for (const auto& c : cases) {
        key(*g, c[0]);
        EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, cell(*g, c[1], c[2])) << c[0];
        EXPECT_EQ(g->get_scroll_offset(), c[3]) << c[0];
    }
    scroll_to(*g, 10);
    cell(*g, 0, 1)->move(10, 20); // where the next layout puts it, over row 0's old place
    EXPECT_EQ(g->find_object_at_pos(20, 25), cell(*g, 0, 1));
    g->hide(0, 0);
    EXPECT_EQ(g->monitor() + g->update(0), 0);
    EXPECT_EQ(g->find_object_at_pos(50, 25), nullptr);
    scroll_to(*g, 30);
    EXPECT_FALSE(g->visible);
}

TEST_F(GridScroll, ScrollingARowIntoViewFocusingACellAndResizing)
{
    auto g = make_grid(rows_of(10, 20), 50);
    // Rows below the view and rows above it (1, 3, 0) come wholly into view.
    const int rows[][2] = {{5, 80}, {1, 20}, {9, 150}, {3, 50}, {0, 0}};
    for (const auto& r : rows) {
        g->set_scroll_to_row(static_cast<INT_S16>(r[0]));
        EXPECT_EQ(g->get_scroll_offset(), r[1]) << r[0];
    }
    cell(*g, 0, 0)->take_focus();
    cell(*g, 0, 3)->can_focus = 0;
    g->give_child_object_focus(0, 3);
    g->give_child_object_focus(0, 7);
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, cell(*g, 0, 7));
    EXPECT_EQ(g->get_scroll_offset(), 120);

    g->visible_lines = 5;
    g->resize(100, 200, 0);
    EXPECT_EQ(g->scrollbar, nullptr);
    // The range fits the new 40-pixel rows; the value (30) stays.
    EXPECT_EQ(g->scroll_param.get_long(g->scroll_param.max), 200);
    EXPECT_EQ(g->first_visible_row, 4);
    EXPECT_EQ(g->last_visible_row, 9);
}

TEST_F(GridScroll, TwoThousandRowsScrollEndToEnd)
{
    auto g = make_grid(rows_of(2000, 20), 50);
    long y1 = 0, y2 = 0;
    g->get_row_y_pos(1999, y1, y2);
    EXPECT_EQ(y1, 10 + 39980);
    int presses = 0;
    for (long last = -1; g->get_scroll_offset() != last && presses < 2000; ++presses) {
        last = g->get_scroll_offset();
        key(*g, KEY_PAGE_UP);
    }
    EXPECT_EQ(presses, 1000); // 40 pixels a page, and one press that finds the end
    EXPECT_EQ(g->first_visible_row, 1997);
    EXPECT_EQ(g->last_visible_row, 1999);
    key(*g, KEY_HOME);
    EXPECT_EQ(g->last_visible_row, 2);
}

TEST_F(GridScroll, TabWalksOnlyTheCellsOfRowsWhollyInView)
{
    WM_PAGE_MANAGER manager(1, -1);
    WM_GRID* grid = nullptr;
    (new TEST_PAGE(manager, 1, 0))->on_create = [&grid](TEST_PAGE& page) {
        grid = make_grid(rows_of(6, 20), 50, 2).release();
        page.add_object(grid, 0);
        scroll_to(*grid, 10); // row 0 partly above, row 3 partly below
    };
    manager.monitor(1);
    WM_SCREEN_OBJECT::focal_object = nullptr;
    const int presses[][3] = {{0, 0, 1}, {0, 1, 1}, {0, 0, 2}, {0, 1, 2}, {0, 0, 1}, {1, 1, 2}}; // shift, cell
    for (const auto& p : presses) {
        hold_key(KEY_SHIFT, p[0] != 0);
        KEYBOARD::process_key_event(KEY_TAB);
        manager.monitor(1);
        EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, cell(*grid, p[1], p[2])) << p[1] << p[2];
    }
}

// The index of cells against the walk over the rows, through a seeded run
// of placements, replacements, removals, row clears and deletions, one
// object in two cells, and scrolls with the focus out of view; the grids
// have rows of many heights, and spacing that keeps rows apart and, once,
// spacing that does not.
TEST_F(GridScroll, CellsAndTheFocusFoundAsByWalkingTheRows)
{
    // Rows shorter than the spacing overlap: rows 8 to 13 lie wholly in
    // view beyond the last visible row the walk counts (4).
    auto overlapping = make_grid({30, 19, 36, 36, 36, 3, 3, 3, 3, 4, 4, 4, 14, 14, 14, 14, 11, 40, 40}, 100, 1, -8);
    cell(*overlapping, 0, 18)->take_focus();
    scroll_to(*overlapping, 6);
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, cell(*overlapping, 0, 13));

    std::mt19937 rng(32);
    for (const int spacing : {-8, 0, -1}) {
        std::vector<int> heights;
        for (int r = 0; r < 60; ++r) {
            heights.push_back(2 + static_cast<int>(rng() % 39));
        }
        std::vector<std::unique_ptr<PROBE>> kept; // objects the grid only lets go, outliving it
        auto g = make_grid(heights, 100, 3, spacing);
        // Row-major from the top (forward) or rows from the bottom; with
        // in_view, the rows first..last first.
        auto walk = [&](WM_SCREEN_OBJECT* o, bool forward, bool in_view, bool whole, int& column, int& row) {
            std::vector<int> order;
            for (int i = 0; i < g->num_rows; ++i) {
                order.push_back(forward ? i : g->num_rows - 1 - i);
            }
            if (in_view) {
                std::stable_partition(order.begin(), order.end(),
                                      [&](int r) { return r >= g->first_visible_row && r <= g->last_visible_row; });
            }
            for (const int r : order) {
                for (int c = 0; c < g->rows[r]->num_objects; ++c) {
                    if (g->rows[r]->objects[c] == o && (!whole || g->is_row_visible(static_cast<INT_S16>(r)))) {
                        column = c, row = r;
                        return true;
                    }
                }
            }
            return false;
        };
        PROBE outside(0, 0, 1, 1, COLOUR_INVISIBLE);
        for (int step = 0; step < 300; ++step) {
            const int r = static_cast<int>(rng() % static_cast<unsigned>(g->num_rows)), c = static_cast<int>(rng() % 3);
            const auto row = static_cast<INT_S16>(r), column = static_cast<INT_S16>(c);
            if (step == 250) { // the same object in a second cell, as a caller may place it
                kept.emplace_back(new PROBE(0, 0, 1, 1, COLOUR_INVISIBLE));
                kept.back()->no_delete = 1;
                g->add_object(0, 0, kept.back().get());
                g->add_object(2, static_cast<INT_S16>(g->num_rows - 1), kept.back().get());
            }
            const unsigned op = rng() % 7;
            if (op < 2) {
                auto* probe = new PROBE(0, 0, 1, 1, COLOUR_INVISIBLE);
                probe->can_focus = 1;
                g->add_object(column, row, probe);
            } else if (op == 2 && g->get_object(column, row)) {
                g->remove_object(g->get_object(column, row), 1, 0);
            } else if (op == 3) {
                g->clear_rows(row, static_cast<INT_S16>(r + rng() % 3));
            } else if (op == 4 && g->num_rows > 20) {
                g->delete_rows(row, static_cast<INT_S16>(std::min(r + 2, g->num_rows - 1)));
            } else if (op > 4) {
                // The focus on a cell anywhere, then a scroll (to where the
                // view stands, too).
                WM_SCREEN_OBJECT* focus = g->get_object(column, row);
                WM_SCREEN_OBJECT::focal_object = focus;
                g->last_scroll_value = -1;
                scroll_to(*g, static_cast<long>(rng() % 2000));
                int fc = 0, fr = 0;
                if (focus && walk(focus, true, true, false, fc, fr) && !g->is_row_visible(static_cast<INT_S16>(fr))) {
                    const int mid = g->first_visible_row + (g->last_visible_row - g->first_visible_row) / 2;
                    const int way = fr > mid ? -1 : 1;
                    WM_SCREEN_OBJECT* want = focus;
                    for (int k = fr + way; k >= 0 && k < g->num_rows; k += way) {
                        if (g->is_row_visible(static_cast<INT_S16>(k))) {
                            WM_SCREEN_OBJECT* there = g->get_object(static_cast<INT_S16>(fc), static_cast<INT_S16>(k));
                            want = there ? there : focus;
                            break;
                        }
                    }
                    ASSERT_EQ(WM_SCREEN_OBJECT::focal_object, want) << "spacing " << spacing << " step " << step;
                }
            }
            // Every placed object and one that is not, by both walks and as
            // the focus, in any row or in rows wholly in view only.
            std::vector<WM_SCREEN_OBJECT*> placed = {&outside};
            for (int k = 0; k < g->num_rows; ++k) {
                std::copy_if(g->rows[k]->objects.begin(), g->rows[k]->objects.end(), std::back_inserter(placed),
                             [](WM_SCREEN_OBJECT* o) { return o != nullptr; });
            }
            for (WM_SCREEN_OBJECT* o : placed) {
                for (const int form : {0, 1, 2, 3}) {
                    int wc = -1, wr = -1;
                    INT_S16 gc = -1, gr = -1;
                    WM_SCREEN_OBJECT::focal_object = o;
                    const bool want =
                        form < 2 ? walk(o, form == 0, false, false, wc, wr) : walk(o, true, true, form == 2, wc, wr);
                    const bool got = form < 2 ? g->get_object_cell(o, gr, gc, form == 0 ? 1 : 0) != 0
                                              : g->find_focal_child_object(gc, gr, form == 3 ? 1 : 0) != 0;
                    ASSERT_EQ(std::vector<int>({got, gc, gr}), std::vector<int>({want, wc, wr}))
                        << "spacing " << spacing << " step " << step << " form " << form;
                }
            }
            WM_SCREEN_OBJECT::focal_object = nullptr;
        }
    }
}
