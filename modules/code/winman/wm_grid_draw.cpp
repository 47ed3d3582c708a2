// The grid's drawing: row and cell backgrounds of three drawing types,
// empty slots below the rows, skins and the border, over the slots and
// the scroll bar the layout settled.
#include "wm_clip.h"
#include "wm_grid.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <algorithm>
#include <climits>

namespace {

constexpr short ROW_RADIUS = 2;
constexpr short DARKENED_PERCENT = 50;

bool shows(COLOUR c)
{
    return c.alpha() != 0;
}

// Bits 4 to 7 of the shading flags: the corners drawn rounded.
char corners_of(const WM_STYLE_SET& g)
{
    return static_cast<char>((g.shading_flags >> 4) & 0xF);
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
    const RECT whole = {x, y, to_s16(long{x} + width - 1), to_s16(long{y} + height - 1)};
    const int natural_radius = target.calc_rounded_rect_radius(whole.x1, whole.y1, whole.x2, whole.y2);
    const short whole_radius = static_cast<short>(std::min(20, std::max(2, natural_radius)));
    if (!(g.ssef & (SSEF_GRID_TYPE_LINES | SSEF_GRID_TYPE_CELLS))) {
        ROW_PAINTER{*this, target, corners_of(g)}.paint_whole(whole, whole_radius);
    }
    draw_rows(target);
    clip.restore();

    if (!is_graphical() && (g.ssf & SSF_DRAW_BORDER)) {
        const INT_U16 edges =
            static_cast<INT_U16>((g.shading_flags & 0x7FFF) | ((g.ssf & SSF_INDENT_BORDER) ? SHADING_SWAP : 0));
        const COLOUR outline = (g.ssf & SSF_USE_TEXT_COLOUR_FOR_OUTLINE) ? g.fg_colour : outline_colour;
        draw_shading(whole.x1, whole.y1, whole.x2, whole.y2, edges, g.bg_colour, 1, whole_radius, outline);
    }
}

void WM_GRID::draw_rows(IMAGE& target)
{
    WM_STYLE_SET& g = grid_style_set;
    const bool lines = (g.ssef & SSEF_GRID_TYPE_LINES) != 0;
    const bool cells = !lines && (g.ssef & SSEF_GRID_TYPE_CELLS) != 0;
    ROW_PAINTER painter{*this, target, corners_of(g)};
    const long view_left = long{x} + g.border_left_gap;
    const long view_right = long{x} + width - g.border_right_gap - 1;
    const long band_top =
        long{y} + g.border_top_gap + (is_top_row_fixed() && num_rows > 0 ? rows[0]->height + g.y_spacing : 0);
    const long view_bottom = long{y} + height - g.border_bottom_gap - 1;
    const bool with_bar = scrollbar != nullptr;
    VIEW_SLOTS slots(*this);
    for (SLOT slot; slots.next(slot);) {
        // Rows below the header band are clipped to the view under it.
        if (!slot.header) {
            target.add_rect_to_active_area(to_s16(view_left), to_s16(band_top), to_s16(view_right),
                                           to_s16(view_bottom));
        }
        const WM_GRID_ROW& row = *slot.row;
        const bool lit = row.highlighted != 0, odd = (slot.index & 1) != 0;
        const long bottom = slot.top + row.height + slot.extra - 1;
        if (lines) {
            const long right = view_right - (with_bar ? g.grid_scrollbar_width : 0) + row.last_column_extra;
            painter.paint({to_s16(view_left), to_s16(slot.top), to_s16(right), to_s16(bottom)}, lit, odd);
        } else if (cells) {
            for (INT_S16 c = 0; c < row.num_objects; ++c) {
                RECT r;
                slot.get_cell(c, with_bar, x, r.x1, r.y1, r.x2, r.y2);
                painter.paint(r, lit, odd);
            }
        } else {
            painter.paint_plain({to_s16(view_left), to_s16(slot.top), to_s16(view_right), to_s16(bottom)}, lit, odd);
        }
    }
}
