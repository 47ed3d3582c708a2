// WM_SCROLLBAR's two looks: skin pieces chosen by state, or the colour
// look with its track, slider, buttons, outline and shading. The slider is
// drawn for old_value; nothing here changes the bar.
#include "wm_scrollbar.h"

#include "wm_s16.h"

namespace {

constexpr INT_U16 EDGES = 0xF, ROUNDED_EDGES = 0xFF;
constexpr SCROBJ_SHADING_TYPE OWN_SHADING = 1, FLAT_SHADING = 4;
constexpr SCROBJ_ARROW_TYPE ARROW_UP = 0, ARROW_DOWN = 1, ARROW_LEFT = 2, ARROW_RIGHT = 3;
constexpr char ALL_CORNERS = 15, ALL_SIDES = 15;

struct RECT
{
    long x1, y1, x2, y2;
};

// One button of the colour look: face, separating line, shading, arrow.
struct BUTTON_LOOK
{
    RECT face, line, shading, arrow;
    SCROBJ_ARROW_TYPE direction;
    short x_gap, y_gap;
};

// The strokes of the colour look: faces (solid or faded, square or
// rounded), lines in the border colour and shading rings.
struct PAINT
{
    WM_SCROLLBAR& bar;
    IMAGE& target;
    bool rounded;
    IMAGE::PLOT_ROUNDED_RECT_TYPE fade;

    void face(RECT f, COLOUR from, COLOUR to) const
    {
        if (rounded) {
            target.plot_rounded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), -1, ALL_CORNERS, from, to,
                                     0, fade);
        } else if (fade == IMAGE::PLOT_ROUNDED_RECT_YFADE) {
            target.fill_vfaded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, to, 1);
        } else if (fade == IMAGE::PLOT_ROUNDED_RECT_XFADE) {
            target.fill_hfaded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, to, 1);
        } else {
            target.fill_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, 1);
        }
    }
    void line(long x1, long y1, long x2, long y2) const
    {
        target.draw_line(to_s16(x1), to_s16(y1), to_s16(x2), to_s16(y2), WM_SCREEN_OBJECT::border_colour, 1, 1);
    }
    void shade(RECT f, INT_U16 flags, COLOUR base, SCROBJ_SHADING_TYPE shading) const
    {
        bar.draw_shading(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), flags, base, shading, -1);
    }
    // The whole bar in its colour.
    void track(RECT w) const
    {
        if (rounded) {
            target.plot_rounded_rect(to_s16(w.x1), to_s16(w.y1), to_s16(w.x2), to_s16(w.y2), -1, ALL_CORNERS,
                                     bar.bar_colour, COLOUR_BLACK, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
        } else {
            target.fill_rect(to_s16(w.x1), to_s16(w.y1), to_s16(w.x2), to_s16(w.y2), bar.bar_colour, 1);
        }
    }
    // A border line inside the edge, and the bar's own shading sunk.
    void outline(RECT w) const
    {
        if (rounded) {
            target.draw_rounded_rect(to_s16(w.x1 + 1), to_s16(w.y1 + 1), to_s16(w.x2 - 1), to_s16(w.y2 - 1),
                                     WM_SCREEN_OBJECT::border_colour, -1, ALL_CORNERS);
            shade(w, static_cast<INT_U16>(ROUNDED_EDGES | SHADING_SWAP), bar.bar_colour, OWN_SHADING);
        } else {
            target.draw_rect(to_s16(w.x1 + 1), to_s16(w.y1 + 1), to_s16(w.x2 - 1), to_s16(w.y2 - 1),
                             WM_SCREEN_OBJECT::border_colour, 1, ALL_SIDES);
            shade(w, static_cast<INT_U16>(EDGES | SHADING_SWAP), bar.bar_colour, FLAT_SHADING);
        }
    }
};

// The slider at `pos` (its end column + 1 across, its top row down): a
// rounded one shaded all round, a square one flat with a line at each end.
void paint_slider(const PAINT& paint, RECT w, long pos, bool across)
{
    const long s = paint.bar.slider_sz;
    const COLOUR c = paint.bar.slider_colour;
    if (across) {
        if (paint.rounded) {
            paint.face({pos - s + 2, w.y1 + 2, pos - 2, w.y2 - 2}, c, COLOUR_BLACK);
            paint.shade({pos - s + 2, w.y1 + 2, pos - 2, w.y2 - 2}, ROUNDED_EDGES, c, OWN_SHADING);
        } else {
            paint.face({pos - s + 2, w.y1 + 2, pos, w.y2 - 2}, c, COLOUR_BLACK);
            paint.shade({pos - s + 2, w.y1 + 2, pos - 1, w.y2 - 2}, EDGES, c, FLAT_SHADING);
            paint.line(pos, w.y1 + 2, pos, w.y2 - 2);
            paint.line(pos - s + 1, w.y1 + 2, pos - s + 1, w.y2 - 2);
        }
    } else if (paint.rounded) {
        paint.face({w.x1 + 2, pos + 1, w.x2 - 2, pos + s - 2}, c, COLOUR_BLACK);
        paint.shade({w.x1 + 2, pos + 1, w.x2 - 2, pos + s - 2}, ROUNDED_EDGES, c, OWN_SHADING);
    } else {
        paint.face({w.x1 + 2, pos, w.x2 - 2, pos + s - 1}, c, COLOUR_BLACK);
        paint.shade({w.x1 + 2, pos + 1, w.x2 - 2, pos + s - 2}, EDGES, c, FLAT_SHADING);
        paint.line(w.x1 + 2, pos, w.x2 - 2, pos);
        paint.line(w.x1 + 2, pos + s - 1, w.x2 - 2, pos + s - 1);
    }
}

void paint_button(const PAINT& paint, const BUTTON_LOOK& k, bool held)
{
    const COLOUR c = paint.bar.button_colour;
    // A held button's gradient runs the other way.
    if (held) {
        paint.face(k.face, COLOUR_BLACK, c);
    } else {
        paint.face(k.face, c, COLOUR_BLACK);
    }
    const INT_U16 pressed = held ? SHADING_SWAP : 0;
    if (paint.rounded) {
        paint.shade(k.shading, static_cast<INT_U16>(ROUNDED_EDGES | pressed), c, OWN_SHADING);
    } else {
        paint.line(k.line.x1, k.line.y1, k.line.x2, k.line.y2);
        paint.shade(k.shading, static_cast<INT_U16>(EDGES | pressed), c, FLAT_SHADING);
    }
    paint.bar.draw_arrow(to_s16(k.arrow.x1), to_s16(k.arrow.y1), to_s16(k.arrow.x2), to_s16(k.arrow.y2),
                         paint.bar.arrow_colour, k.direction, k.x_gap, k.y_gap);
}

// Both buttons of a buttoned bar, in drawing order: less then more
// across, more then less down.
void paint_buttons(const PAINT& paint, RECT edge)
{
    const WM_SCROLLBAR& bar = paint.bar;
    const long x = edge.x1, y = edge.y1, r = edge.x2, btm = edge.y2, b = bar.button_sz;
    const long w = r - x + 1, h = btm - y + 1;
    const BUTTON_LOOK left{{x + 2, y + 2, x + b + 1, btm - 2},
                           {x + b + 2, y + 2, x + b + 2, btm - 2},
                           {x + 2, y + 2, x + b + 1, btm - 2},
                           {x + 3, y + 3, x + b, btm - 3},
                           ARROW_LEFT,
                           3,
                           1};
    const BUTTON_LOOK right{{x + w - b - 3, y + 2, r - 2, btm - 2},
                            {x + w - b - 3, y + 2, x + w - b - 3, btm - 2},
                            {x + w - b - 2, y + 2, r - 2, btm - 2},
                            {x + w - b - 1, y + 3, r - 3, btm - 3},
                            ARROW_RIGHT,
                            3,
                            1};
    const BUTTON_LOOK top{{x + 2, y + 2, r - 2, y + b + 1},
                          {x + 2, y + b + 2, r - 2, y + b + 2},
                          {x + 2, y + 2, r - 2, y + b + 1},
                          {x + 3, y + 3, r - 3, y + b},
                          ARROW_UP,
                          1,
                          3};
    const BUTTON_LOOK bottom{{x + 2, y + h - b - 2, r - 2, btm - 2},
                             {x + 2, y + h - b - 3, r - 2, y + h - b - 3},
                             {x + 2, y + h - b - 2, r - 2, btm - 2},
                             {x + 3, y + h - b - 1, r - 3, btm - 3},
                             ARROW_DOWN,
                             1,
                             3};
    const bool across = bar.type == 1;
    paint_button(paint, across ? left : top, bar.button_down == (across ? 2u : 1u));
    paint_button(paint, across ? right : bottom, bar.button_down == (across ? 1u : 2u));
}

} // namespace

void WM_SCROLLBAR::draw_object()
{
    if (!surface || !param) {
        return;
    }
    if (is_graphical()) {
        draw_skin();
    } else {
        draw_colours();
    }
}

void WM_SCROLLBAR::draw_skin()
{
    const long w = width, h = height, b = button_sz, s = slider_sz;
    const long pos = slider_pos(old_value);
    const bool focused = focal_object == this;
    const INT_U8 stretch = (draw_flags & SCROLLBAR_NATURAL_SIZE) ? 0 : 1;
    auto usable = [this](int box) { return image_boxes[box].are_images_valid(); };
    // Disabled when it has that piece, then held, then over when it has
    // that piece, else up. The track has no held piece (held = -1).
    auto choose = [&](int up, int held_box, bool held, int disabled, int over, bool hover) {
        if (!enabled && usable(disabled)) {
            return disabled;
        }
        if (held && held_box >= 0) {
            return held_box;
        }
        return (focused || hover) && usable(over) ? over : up;
    };
    auto put = [&](int box, RECT r) {
        image_boxes[box].draw(to_s16(r.x1), to_s16(r.y1), to_s16(r.x2), to_s16(r.y2), stretch, surface,
                              IMAGE_COPY_BLEND);
    };
    const int less = choose(BOX_LESS_UP, BOX_LESS_DOWN, button_down == 2, BOX_LESS_DISABLED, BOX_LESS_OVER, over_less);
    const int more = choose(BOX_MORE_UP, BOX_MORE_DOWN, button_down == 1, BOX_MORE_DISABLED, BOX_MORE_OVER, over_more);
    RECT track{x, y, x + w - 1, y + h - 1};
    if (type == 1) {
        put(less, {x, y, x + b - 1, y + h - 1});
        put(more, {x + w - b, y, x + w - 1, y + h - 1});
        track = {x + b, y, x + w - b - 1, y + h - 1};
    } else if (type == 3) {
        put(more, {x, y, x + w - 1, y + b - 1});
        put(less, {x, y + h - b, x + w - 1, y + h - 1});
        track = {x, y + b, x + w - 1, y + h - b - 1};
    }
    put(choose(BOX_BAR, -1, false, BOX_BAR_DISABLED, BOX_BAR_OVER, over_bar), track);
    const int slider =
        choose(BOX_SLIDER_UP, BOX_SLIDER_DOWN, dragging != 0, BOX_SLIDER_DISABLED, BOX_SLIDER_OVER, over_slider);
    put(slider, horizontal() ? RECT{pos - s, y, pos - 1, y + h - 1} : RECT{x, pos, x + w - 1, pos + s - 1});
}

void WM_SCROLLBAR::draw_colours()
{
    const bool rounded = (draw_flags & SCROLLBAR_ROUNDED) != 0;
    // Faces fade top to bottom, else left to right, else are solid.
    const IMAGE::PLOT_ROUNDED_RECT_TYPE fade = (draw_flags & SCROLLBAR_VFADING)   ? IMAGE::PLOT_ROUNDED_RECT_YFADE
                                               : (draw_flags & SCROLLBAR_HFADING) ? IMAGE::PLOT_ROUNDED_RECT_XFADE
                                                                                  : IMAGE::PLOT_ROUNDED_RECT_SOLID;
    const PAINT paint{*this, *surface, rounded, fade};
    const RECT whole{x, y, x + width - 1, y + height - 1};
    paint.track(whole);
    paint_slider(paint, whole, slider_pos(old_value), horizontal());
    if (buttoned()) {
        paint_buttons(paint, whole);
    }
    paint.outline(whole);
}
