// The grid's layout: the slots of the view (rows in view, empty slots
// below them and the spare pixels they share), the scroll bar kept in
// being and in place, and every object of the rows in view put into its
// cell. It runs before a draw, and only when something it reads changed.
#include "wm_grid.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <algorithm>
#include <tuple>

namespace {

// What the bar's own setup makes of a too small slider or side.
constexpr long BAR_MIN_SLIDER = 6, BAR_MIN_SIDE = 11;

bool has_objects(const WM_GRID_ROW& row)
{
    return std::any_of(row.objects.begin(), row.objects.end(), [](WM_SCREEN_OBJECT* o) { return o != nullptr; });
}

} // namespace

// ---- the slots of the view ------------------------------------------------------

WM_GRID::VIEW_SLOTS::VIEW_SLOTS(WM_GRID& grid) : grid(grid)
{
    grid.make_template_row(blank);
    const WM_STYLE_SET& g = grid.grid_style_set;
    const INT_S32 spacing = g.y_spacing;
    // At least 1, so that no style's spacing makes the slot count divide by 0.
    const INT_S32 pitch = std::max<INT_S32>(1, blank.height + spacing);
    const INT_S32 view = grid.get_view_height();
    const INT_S16 first = grid.first_visible_row, last = grid.last_visible_row;
    any_visible = last != -1 && last < grid.num_rows;
    const INT_S32 shown = any_visible ? last - first + 1 : 0;
    const INT_S32 used =
        any_visible ? grid.rows[last]->bottom - grid.rows[first]->bottom + grid.rows[first]->height : 0;
    INT_S32 empty = std::max<INT_S32>(0, grid.visible_lines ? grid.visible_lines - shown : (view - used) / pitch);
    count = std::max<INT_S32>(1, shown + empty);
    const bool scrolling = grid.get_content_height() > view;
    wants_bar = scrolling && grid.num_rows >= 2;
    spare = wants_bar
                ? 0
                : std::max<INT_S32>(0, view - (empty * blank.height + (empty ? (empty - 1) * spacing : 0) + used));
    if (g.ssef & SSEF_GRID_ONLY_DRAW_USED_LINES) {
        empty = 0;
    }
    partial = scrolling && any_visible && !(g.ssef & SSEF_GRID_SCROLL_BY_LINE)
                  ? grid.get_row_top(first) - grid.get_scroll_offset()
                  : 0;
    cursor = long{grid.y} + g.border_top_gap + partial;
    slot = first;
    last_slot = (any_visible ? last : first - 1) + empty;
}

bool WM_GRID::VIEW_SLOTS::next(SLOT& out)
{
    const WM_STYLE_SET& g = grid.grid_style_set;
    for (; slot <= last_slot; ++slot) {
        const bool made = any_visible && slot <= grid.last_visible_row;
        const bool header = slot == grid.first_visible_row && grid.num_rows > 0 && grid.is_top_row_fixed();
        WM_GRID_ROW& row = header ? *grid.rows[0] : made ? *grid.rows[slot] : blank;
        // A made row without objects takes no room when only used lines show.
        if (made && !header && (g.ssef & SSEF_GRID_ONLY_DRAW_USED_LINES) && !has_objects(row)) {
            continue;
        }
        const INT_S32 k = slot - grid.first_visible_row;
        const long extra = spare > 0 ? spare / count + (k < spare % count ? 1 : 0) : 0;
        // The fixed header is not shifted by a part-scrolled first row.
        out = {&row, k, header ? cursor - partial : cursor, extra, header};
        cursor += row.height + g.y_spacing + extra;
        ++slot;
        return true;
    }
    return false;
}

void WM_GRID::SLOT::get_cell(INT_S16 column, bool with_bar, INT_S16 grid_x, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2,
                             INT_S16& cy2) const
{
    INT_S16 rx1, ry1, rx2, ry2;
    row->get_coords(column, with_bar ? 1 : 0, rx1, ry1, rx2, ry2);
    cx1 = to_s16(long{grid_x} + rx1);
    cy1 = to_s16(top + ry1);
    cx2 = to_s16(long{grid_x} + rx2);
    cy2 = to_s16(top + extra + ry2);
}

// ---- layout -----------------------------------------------------------------------

void WM_GRID::lay_out()
{
    VIEW_SLOTS slots(*this);
    if (slots.wants_scrollbar()) {
        keep_scrollbar();
    } else {
        drop_scrollbar();
    }
    const bool with_bar = scrollbar != nullptr;
    for (SLOT slot; slots.next(slot);) {
        for (INT_S16 c = 0; c < slot.row->num_objects; ++c) {
            if (WM_SCREEN_OBJECT* object = slot.row->objects[c]) {
                INT_S16 cx1, cy1, cx2, cy2;
                slot.get_cell(c, with_bar, x, cx1, cy1, cx2, cy2);
                object->move(cx1, cy1);
                object->resize(to_s16(long{cx2} - cx1 + 1), to_s16(long{cy2} - cy1 + 1), 1);
            }
        }
    }
    layout_stale = false;
    laid_out_for = layout_inputs();
}

bool WM_GRID::LAYOUT_INPUTS::operator==(const LAYOUT_INPUTS& o) const
{
    auto fields = [](const LAYOUT_INPUTS& i) {
        return std::tie(i.x, i.y, i.width, i.height, i.first_visible_row, i.last_visible_row, i.default_row_height,
                        i.visible_lines, i.scroll_value, i.scroll_max);
    };
    return fields(*this) == fields(o);
}

WM_GRID::LAYOUT_INPUTS WM_GRID::layout_inputs()
{
    return {x,
            y,
            width,
            height,
            first_visible_row,
            last_visible_row,
            default_row_height,
            visible_lines,
            scroll_param.get_long(scroll_param.value),
            scroll_param.get_long(scroll_param.max)};
}

void WM_GRID::lay_out_if_stale()
{
    if (layout_stale || !(layout_inputs() == laid_out_for)) {
        lay_out();
    }
}

// ---- the scroll bar ---------------------------------------------------------------

// While the rows do not fit: the bar made when there is room for it, or
// moved; under a fixed top row it starts below row 0, which spans over
// the bar's column.
void WM_GRID::keep_scrollbar()
{
    WM_STYLE_SET& g = grid_style_set;
    const INT_S32 bar_width = g.grid_scrollbar_width;
    const bool shorten =
        !(g.ssef & SSEF_GRID_NO_SCROLLBAR) && is_top_row_fixed() && !(g.ssef & SSEF_GRID_DONT_SHORTEN_SCROLLBAR);
    rows[0]->last_column_extra = shorten ? static_cast<INT_S16>(bar_width + 1) : 0;
    const long bar_top = long{y} + g.border_top_gap + (shorten ? rows[0]->height + g.y_spacing : 0);
    const long bar_left = long{x} + width - g.border_right_gap - bar_width - 1;
    const long bar_bottom = long{y} + height - g.border_bottom_gap - 1;
    if (scrollbar) {
        scrollbar->move(to_s16(bar_left), to_s16(bar_top));
    } else if (!(g.ssef & SSEF_GRID_NO_SCROLLBAR)) {
        // A buttoned bar with no room for its slider and buttons would end
        // the program in its setup: until there is room there is no bar,
        // and the keys still scroll.
        WM_STYLE_SET& s = scrollbar_style_set;
        const long along = (s.ssef & SSEF_SB_HORIZONTAL) ? bar_width + 1 : bar_bottom - bar_top + 1;
        const long needed = std::max<long>(s.scrollbar_slider_width, BAR_MIN_SLIDER) + 2L * s.scrollbar_button_width;
        if (!(s.ssef & SSEF_SB_WITH_BUTTONS) || std::max(along, BAR_MIN_SIDE) >= needed) {
            scrollbar = new WM_SCROLLBAR(to_s16(bar_left), to_s16(bar_top), to_s16(bar_left + bar_width),
                                         to_s16(bar_bottom), &scroll_param, s, nullptr, this, nullptr);
            if (mouse_wheel_half_line_factor > 0) {
                scrollbar->wheel_step = static_cast<INT_S16>(default_row_height / 2 * mouse_wheel_half_line_factor);
            }
            scrollbar->set_area(area);
            fit_scrollbar_slider();
            scrollbar->movement_callback = scrollbar_movement_callback;
        }
    }
}

void WM_GRID::drop_scrollbar()
{
    delete scrollbar;
    scrollbar = nullptr;
    if (is_top_row_fixed() && num_rows > 0) {
        rows[0]->last_column_extra = 0;
    }
}
