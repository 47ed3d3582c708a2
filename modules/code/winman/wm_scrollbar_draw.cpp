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
        image_boxes[box].draw(to_s16(r.x1), to_s16(r.y1), to_s16(r.x2), to_s16(r.y2), stretch, surface, IMAGE_COPY_BLEND);
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
    IMAGE& target = *surface;
    const long w = width, h = height, b = button_sz, s = slider_sz;
    const long r = x + w - 1, btm = y + h - 1;
    const long pos = slider_pos(old_value);
    const bool rounded = (draw_flags & SCROLLBAR_ROUNDED) != 0;
    // Faces fade top to bottom, else left to right, else are solid.
    const IMAGE::PLOT_ROUNDED_RECT_TYPE fade = (draw_flags & SCROLLBAR_VFADING)   ? IMAGE::PLOT_ROUNDED_RECT_YFADE
                                               : (draw_flags & SCROLLBAR_HFADING) ? IMAGE::PLOT_ROUNDED_RECT_XFADE
                                                                                  : IMAGE::PLOT_ROUNDED_RECT_SOLID;
    auto face = [&](RECT f, COLOUR from, COLOUR to) {
        if (rounded) {
            target.plot_rounded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), -1, ALL_CORNERS, from, to, 0, fade);
        } else if (fade == IMAGE::PLOT_ROUNDED_RECT_YFADE) {
            target.fill_vfaded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, to, 1);
        } else if (fade == IMAGE::PLOT_ROUNDED_RECT_XFADE) {
            target.fill_hfaded_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, to, 1);
        } else {
            target.fill_rect(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), from, 1);
        }
    };
    auto line = [&](long x1, long y1, long x2, long y2) {
        target.draw_line(to_s16(x1), to_s16(y1), to_s16(x2), to_s16(y2), border_colour, 1, 1);
    };
    auto shade = [&](RECT f, INT_U16 flags, COLOUR base, SCROBJ_SHADING_TYPE shading) {
        draw_shading(to_s16(f.x1), to_s16(f.y1), to_s16(f.x2), to_s16(f.y2), flags, base, shading, -1);
    };

    if (rounded) {
        target.plot_rounded_rect(to_s16(x), to_s16(y), to_s16(r), to_s16(btm), -1, ALL_CORNERS, bar_colour, COLOUR_BLACK, 0,
                                 IMAGE::PLOT_ROUNDED_RECT_SOLID);
    } else {
        target.fill_rect(to_s16(x), to_s16(y), to_s16(r), to_s16(btm), bar_colour, 1);
    }

    if (horizontal()) {
        if (rounded) {
            face({pos - s + 2, y + 2, pos - 2, btm - 2}, slider_colour, COLOUR_BLACK);
            shade({pos - s + 2, y + 2, pos - 2, btm - 2}, ROUNDED_EDGES, slider_colour, OWN_SHADING);
        } else {
            face({pos - s + 2, y + 2, pos, btm - 2}, slider_colour, COLOUR_BLACK);
            shade({pos - s + 2, y + 2, pos - 1, btm - 2}, EDGES, slider_colour, FLAT_SHADING);
            line(pos, y + 2, pos, btm - 2);
            line(pos - s + 1, y + 2, pos - s + 1, btm - 2);
        }
    } else if (rounded) {
        face({x + 2, pos + 1, r - 2, pos + s - 2}, slider_colour, COLOUR_BLACK);
        shade({x + 2, pos + 1, r - 2, pos + s - 2}, ROUNDED_EDGES, slider_colour, OWN_SHADING);
    } else {
        face({x + 2, pos, r - 2, pos + s - 1}, slider_colour, COLOUR_BLACK);
        shade({x + 2, pos + 1, r - 2, pos + s - 2}, EDGES, slider_colour, FLAT_SHADING);
        line(x + 2, pos, r - 2, pos);
        line(x + 2, pos + s - 1, r - 2, pos + s - 1);
    }

    if (buttoned()) {
        // In drawing order: less then more across, more then less down.
        const BUTTON_LOOK left{{x + 2, y + 2, x + b + 1, btm - 2}, {x + b + 2, y + 2, x + b + 2, btm - 2},
                               {x + 2, y + 2, x + b + 1, btm - 2}, {x + 3, y + 3, x + b, btm - 3},
                               ARROW_LEFT, 3, 1};
        const BUTTON_LOOK right{{x + w - b - 3, y + 2, r - 2, btm - 2}, {x + w - b - 3, y + 2, x + w - b - 3, btm - 2},
                                {x + w - b - 2, y + 2, r - 2, btm - 2}, {x + w - b - 1, y + 3, r - 3, btm - 3},
                                ARROW_RIGHT, 3, 1};
        const BUTTON_LOOK top{{x + 2, y + 2, r - 2, y + b + 1}, {x + 2, y + b + 2, r - 2, y + b + 2},
                              {x + 2, y + 2, r - 2, y + b + 1}, {x + 3, y + 3, r - 3, y + b},
                              ARROW_UP, 1, 3};
        const BUTTON_LOOK bottom{{x + 2, y + h - b - 2, r - 2, btm - 2}, {x + 2, y + h - b - 3, r - 2, y + h - b - 3},
                                 {x + 2, y + h - b - 2, r - 2, btm - 2}, {x + 3, y + h - b - 1, r - 3, btm - 3},
                                 ARROW_DOWN, 1, 3};
        struct
        {
            const BUTTON_LOOK& look;
            bool held;
        } const buttons[2] = {{type == 1 ? left : top, button_down == (type == 1 ? 2u : 1u)},
                              {type == 1 ? right : bottom, button_down == (type == 1 ? 1u : 2u)}};
        for (const auto& button : buttons) {
            const BUTTON_LOOK& k = button.look;
            // A held button's gradient runs the other way.
            if (button.held) {
                face(k.face, COLOUR_BLACK, button_colour);
            } else {
                face(k.face, button_colour, COLOUR_BLACK);
            }
            const INT_U16 pressed = button.held ? SHADING_SWAP : 0;
            if (rounded) {
                shade(k.shading, static_cast<INT_U16>(ROUNDED_EDGES | pressed), button_colour, OWN_SHADING);
            } else {
                line(k.line.x1, k.line.y1, k.line.x2, k.line.y2);
                shade(k.shading, static_cast<INT_U16>(EDGES | pressed), button_colour, FLAT_SHADING);
            }
            draw_arrow(to_s16(k.arrow.x1), to_s16(k.arrow.y1), to_s16(k.arrow.x2), to_s16(k.arrow.y2), arrow_colour,
                       k.direction, k.x_gap, k.y_gap);
        }
    }

    if (rounded) {
        target.draw_rounded_rect(to_s16(x + 1), to_s16(y + 1), to_s16(r - 1), to_s16(btm - 1), border_colour, -1, ALL_CORNERS);
        shade({x, y, r, btm}, static_cast<INT_U16>(ROUNDED_EDGES | SHADING_SWAP), bar_colour, OWN_SHADING);
    } else {
        target.draw_rect(to_s16(x + 1), to_s16(y + 1), to_s16(r - 1), to_s16(btm - 1), border_colour, 1, ALL_SIDES);
        shade({x, y, r, btm}, static_cast<INT_U16>(EDGES | SHADING_SWAP), bar_colour, FLAT_SHADING);
    }
}
