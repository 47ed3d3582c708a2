// The grid's drawing: its scroll bar kept in being and in place, row and
// cell backgrounds of three drawing types, empty slots below the rows,
// skins and the border; every visible cell object is put into its cell.
#include "wm_clip.h"
#include "wm_grid.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <algorithm>
#include <climits>

namespace {

// What the bar's own setup makes of a too small slider or side.
constexpr long BAR_MIN_SLIDER = 6, BAR_MIN_SIDE = 11;
constexpr short ROW_RADIUS = 2;
constexpr short DARKENED_PERCENT = 50;

bool shows(COLOUR c)
{
    return c.alpha() != 0;
}

struct RECT
{
    short x1, y1, x2, y2;
};

// Paints one row or cell rectangle: skin, or highlight, darkening or the
// background, then the two-tone darkening of odd slots.
struct ROW_PAINTER
{
    WM_GRID& grid;
    IMAGE& target;
    char corners; // non-zero: rounded shapes

    void plot(const RECT& r, COLOUR first, COLOUR second, short shade, IMAGE::PLOT_ROUNDED_RECT_TYPE kind)
    {
        target.plot_rounded_rect(r.x1, r.y1, r.x2, r.y2, ROW_RADIUS, corners, first, second, shade, kind);
    }

    void darken(const RECT& r, short percent)
    {
        if (corners) {
            plot(r, COLOUR_BLACK, COLOUR_BLACK, percent, IMAGE::PLOT_ROUNDED_RECT_DARKEN);
        } else {
            target.darken_rect(r.x1, r.y1, r.x2, r.y2, percent);
        }
    }

    void fill(const RECT& r, COLOUR c)
    {
        if (corners) {
            plot(r, c, COLOUR_BLACK, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
        } else {
            target.fill_rect(r.x1, r.y1, r.x2, r.y2, c, 1);
        }
    }

    void paint(const RECT& r, bool highlighted, bool odd)
    {
        WM_STYLE_SET& g = grid.grid_style_set;
        if (grid.is_graphical()) {
            IMAGE_BOX* skin = &grid.images;
            if (highlighted && grid.highlighted_images.are_images_valid()) {
                skin = &grid.highlighted_images;
            } else if (odd && grid.alternate_images.are_images_valid()) {
                skin = &grid.alternate_images;
            }
            skin->draw(r.x1, r.y1, r.x2, r.y2, 1, &target, IMAGE_COPY_BLEND);
        } else if (highlighted && shows(g.highlight_colour)) {
            fill(r, g.highlight_colour);
        } else if (g.ssf & SSF_DARKENED_BACKGROUND) {
            darken(r, DARKENED_PERCENT);
        } else if (shows(g.bg_colour)) {
            fill(r, g.bg_colour);
        }
        two_tone(r, highlighted, odd);
    }

    // Plain type: over the whole background only highlighted rows and the
    // two-tone darkening show.
    void paint_plain(const RECT& r, bool highlighted, bool odd)
    {
        if (highlighted && grid.is_graphical()) {
            if (grid.highlighted_images.are_images_valid()) {
                grid.highlighted_images.draw(r.x1, r.y1, r.x2, r.y2, 1, &target, IMAGE_COPY_BLEND);
            }
        } else if (highlighted && shows(grid.grid_style_set.highlight_colour)) {
            target.fill_rect(r.x1, r.y1, r.x2, r.y2, grid.grid_style_set.highlight_colour, 1);
        }
        two_tone(r, highlighted, odd);
    }

    void two_tone(const RECT& r, bool highlighted, bool odd)
    {
        if ((grid.grid_style_set.ssef & SSEF_GRID_TWO_TONE) && odd && !highlighted) {
            darken(r, grid.two_tone_value);
        }
    }
    // The whole grid behind the rows (plain type).
    void paint_whole(const RECT& r, short radius)
    {
        WM_STYLE_SET& g = grid.grid_style_set;
        auto plot = [&](COLOUR first, COLOUR second, short shade, IMAGE::PLOT_ROUNDED_RECT_TYPE kind) {
            target.plot_rounded_rect(r.x1, r.y1, r.x2, r.y2, radius, corners, first, second, shade, kind);
        };
        if (grid.is_graphical()) {
            grid.images.draw(r.x1, r.y1, r.x2, r.y2, 1, &target, IMAGE_COPY_BLEND);
        } else if (g.ssf & SSF_DARKENED_BACKGROUND) {
            if (corners) {
                plot(COLOUR_BLACK, COLOUR_BLACK, DARKENED_PERCENT, IMAGE::PLOT_ROUNDED_RECT_DARKEN);
            } else {
                target.darken_rect(r.x1, r.y1, r.x2, r.y2, DARKENED_PERCENT);
            }
        } else if (g.ssf & (SSF_HFADING | SSF_VFADING)) {
            const bool across = (g.ssf & SSF_HFADING) != 0;
            if (corners) {
                plot(g.bg_colour, g.fading_colour, 0,
                     across ? IMAGE::PLOT_ROUNDED_RECT_XFADE : IMAGE::PLOT_ROUNDED_RECT_YFADE);
            } else if (across) {
                target.fill_hfaded_rect(r.x1, r.y1, r.x2, r.y2, g.bg_colour, g.fading_colour, 1);
            } else {
                target.fill_vfaded_rect(r.x1, r.y1, r.x2, r.y2, g.bg_colour, g.fading_colour, 1);
            }
        } else if (shows(g.bg_colour)) {
            if (corners) {
                plot(g.bg_colour, COLOUR_BLACK, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
            } else {
                target.fill_rect(r.x1, r.y1, r.x2, r.y2, g.bg_colour, 1);
            }
        }
    }
};

} // namespace

void WM_GRID::draw_object()
{
    if (!surface) {
        return;
    }
    IMAGE& target = *surface;
    WM_CLIP_SAVER clip(&target);
    WM_STYLE_SET& g = grid_style_set;
    WM_GRID_ROW blank;
    make_template_row(blank);
    const INT_S32 spacing = g.y_spacing;
    // At least 1, so that no style's spacing makes the slot count divide by 0.
    const INT_S32 pitch = std::max<INT_S32>(1, blank.height + spacing);
    const INT_S32 view = get_view_height();
    const bool any_visible = last_visible_row != -1 && last_visible_row < num_rows;
    const INT_S32 shown = any_visible ? last_visible_row - first_visible_row + 1 : 0;
    const INT_S32 used = any_visible ? rows[last_visible_row]->bottom - rows[first_visible_row]->bottom +
                                           rows[first_visible_row]->height
                                     : 0;
    INT_S32 empty = std::max<INT_S32>(0, visible_lines ? visible_lines - shown : (view - used) / pitch);
    const INT_S32 count = std::max<INT_S32>(1, shown + empty);
    const bool scrolling = get_content_height() > view;
    const bool fixed = is_top_row_fixed();
    const INT_S32 bar_width = g.grid_scrollbar_width;
    INT_S32 spare = 0;

    if (scrolling && num_rows >= 2) {
        keep_scrollbar();
    } else {
        spare = std::max<INT_S32>(0, view - (empty * blank.height + (empty ? (empty - 1) * spacing : 0) + used));
        delete scrollbar;
        scrollbar = nullptr;
        if (fixed && num_rows > 0) {
            rows[0]->last_column_extra = 0;
        }
    }
    if (g.ssef & SSEF_GRID_ONLY_DRAW_USED_LINES) {
        empty = 0;
    }
    const INT_S32 partial = scrolling && any_visible && !(g.ssef & SSEF_GRID_SCROLL_BY_LINE)
                                ? get_row_top(first_visible_row) - get_scroll_offset()
                                : 0;
    const bool lines = (g.ssef & SSEF_GRID_TYPE_LINES) != 0;
    const bool cells = !lines && (g.ssef & SSEF_GRID_TYPE_CELLS) != 0;
    const char corners = static_cast<char>((g.shading_flags >> 4) & 0xF);
    const RECT whole = {x, y, to_s16(long{x} + width - 1), to_s16(long{y} + height - 1)};
    const int natural_radius = target.calc_rounded_rect_radius(whole.x1, whole.y1, whole.x2, whole.y2);
    const short whole_radius = static_cast<short>(std::min(20, std::max(2, natural_radius)));
    ROW_PAINTER painter{*this, target, corners};

    if (!lines && !cells) {
        painter.paint_whole(whole, whole_radius);
    }

    const long view_left = long{x} + g.border_left_gap;
    const long view_right = long{x} + width - g.border_right_gap - 1;
    const long band_top = long{y} + g.border_top_gap + (fixed && num_rows > 0 ? rows[0]->height + spacing : 0);
    const long view_bottom = long{y} + height - g.border_bottom_gap - 1;
    long cursor = long{y} + g.border_top_gap + partial;
    const INT_S32 last_slot = (any_visible ? last_visible_row : first_visible_row - 1) + empty;
    for (INT_S32 s = first_visible_row; s <= last_slot; ++s) {
        const bool made = any_visible && s <= last_visible_row;
        const bool header = s == first_visible_row && num_rows > 0 && fixed;
        WM_GRID_ROW& row = header ? *rows[0] : made ? *rows[s] : blank;
        if (made && !header && (g.ssef & SSEF_GRID_ONLY_DRAW_USED_LINES) &&
            std::none_of(row.objects.begin(), row.objects.end(), [](WM_SCREEN_OBJECT* o) { return o != nullptr; })) {
            continue;
        }
        const INT_S32 k = s - first_visible_row;
        const bool odd = (k & 1) != 0;
        const long extra = spare > 0 ? spare / count + (k < spare % count ? 1 : 0) : 0;
        const long top = header ? cursor - partial : cursor;
        if (!header) {
            target.add_rect_to_active_area(to_s16(view_left), to_s16(band_top), to_s16(view_right),
                                           to_s16(view_bottom));
        }
        const long bottom = top + row.height + extra - 1;
        const bool with_bar = scrollbar != nullptr;
        auto cell_rect = [&](INT_S16 c) {
            INT_S16 rx1, ry1, rx2, ry2;
            row.get_coords(c, with_bar ? 1 : 0, rx1, ry1, rx2, ry2);
            return RECT{to_s16(long{x} + rx1), to_s16(top + ry1), to_s16(long{x} + rx2),
                        to_s16(top + extra + ry2)};
        };
        const bool lit = row.highlighted != 0;
        if (lines) {
            const long right = view_right - (with_bar ? bar_width : 0) + row.last_column_extra;
            const RECT r = {to_s16(view_left), to_s16(top), to_s16(right), to_s16(bottom)};
            painter.paint(r, lit, odd);
        } else if (cells) {
            for (INT_S16 c = 0; c < row.num_objects; ++c) {
                painter.paint(cell_rect(c), lit, odd);
            }
        } else {
            painter.paint_plain({to_s16(view_left), to_s16(top), to_s16(view_right), to_s16(bottom)}, lit, odd);
        }
        for (INT_S16 c = 0; c < row.num_objects; ++c) {
            if (WM_SCREEN_OBJECT* object = row.objects[c]) {
                const RECT r = cell_rect(c);
                object->move(r.x1, r.y1);
                object->resize(to_s16(long{r.x2} - r.x1 + 1), to_s16(long{r.y2} - r.y1 + 1), 1);
            }
        }
        cursor += row.height + spacing + extra;
    }
    clip.restore();

    if (!is_graphical() && (g.ssf & SSF_DRAW_BORDER)) {
        const INT_U16 edges =
            static_cast<INT_U16>((g.shading_flags & 0x7FFF) | ((g.ssf & SSF_INDENT_BORDER) ? SHADING_SWAP : 0));
        const COLOUR saved_outline = outline_colour;
        if (g.ssf & SSF_USE_TEXT_COLOUR_FOR_OUTLINE) {
            outline_colour = g.fg_colour;
        }
        draw_shading(whole.x1, whole.y1, whole.x2, whole.y2, edges, g.bg_colour, 1, whole_radius);
        outline_colour = saved_outline;
    }
}

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
        const long needed =
            std::max<long>(s.scrollbar_slider_width, BAR_MIN_SLIDER) + 2L * s.scrollbar_button_width;
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
