// The 3-D borders (shading) and direction arrows that widgets draw around
// and inside their rectangles, with the light and dark colours behind them.
#include "wm_screen_object.h"

#include "errors.h"
#include "kivo_host.h"
#include "wm_s16.h"

#include <algorithm>

namespace {

// What one ring of a border is drawn in.
enum RING_KIND
{
    RING_FIXED,   // dark on the top and left, light on the bottom and right; never swapped
    RING_BORDER,  // border_colour all round
    RING_OUTLINE, // outline_colour all round
    RING_RAISED,  // light on the top and left, dark on the bottom and right; swapped by 0x8000
};

struct RING_LIST
{
    int count;
    RING_KIND rings[4]; // from the outside in
};

// Types 2 to 9; index with the type minus 2.
const RING_LIST ring_lists[] = {
    {3, {RING_FIXED, RING_BORDER, RING_RAISED}},
    {1, {RING_OUTLINE}},
    {1, {RING_RAISED}},
    {2, {RING_OUTLINE, RING_RAISED}},
    {2, {RING_RAISED, RING_RAISED}},
    {3, {RING_OUTLINE, RING_RAISED, RING_RAISED}},
    {3, {RING_RAISED, RING_RAISED, RING_RAISED}},
    {4, {RING_OUTLINE, RING_RAISED, RING_RAISED, RING_RAISED}},
};

// Null for 0, for a 1 left after resolution and for anything above 9.
const RING_LIST* rings_of(SCROBJ_SHADING_TYPE shading)
{
    if (shading < 2 || shading > 9) {
        return nullptr;
    }
    return &ring_lists[shading - 2];
}

// Keeps alpha; each of R, G, B becomes min(255, channel x percent / 100).
COLOUR scaled(COLOUR c, int percent)
{
    INT_U32 out = c.value & 0xFF000000u;
    for (int shift = 0; shift <= 16; shift += 8) {
        int v = static_cast<int>((c.value >> shift) & 0xFF) * percent / 100;
        out |= static_cast<INT_U32>(std::min(255, v)) << shift;
    }
    // A derived colour is a success of its own: it leaves no stale error.
    set_error_code(ERRCODE_NONE, nullptr);
    return out;
}

bool is_set(COLOUR c)
{
    return c.alpha() != 0;
}

// An invisible colour draws nothing, and the surface would end the program
// for it, so lines and arcs in one are skipped. Border and outline colours
// come from the page definition and may be invisible.
void line(IMAGE* target, int x1, int y1, int x2, int y2, COLOUR c)
{
    if (is_set(c)) {
        target->draw_line(to_s16(x1), to_s16(y1), to_s16(x2), to_s16(y2), c, 1, 1);
    }
}

void arc(IMAGE* target, int cx, int cy, int r, int corner, COLOUR c)
{
    if (is_set(c)) {
        target->draw_rounding(to_s16(cx), to_s16(cy), to_s16(r), static_cast<char>(corner), c);
    }
}

// Draws into the shared surface, which is the back buffer when unset.
IMAGE* drawing_target()
{
    IMAGE* target = WM_SCREEN_OBJECT::surface;
    return target ? target : kivo_host()->get_back_buffer();
}

constexpr INT_U16 ANY_ROUNDED_CORNER =
    SHADING_ROUND_TOP_LEFT | SHADING_ROUND_TOP_RIGHT | SHADING_ROUND_BOTTOM_LEFT | SHADING_ROUND_BOTTOM_RIGHT;

// The rings of one border and their colours.
struct RINGS
{
    IMAGE* target;
    const RING_LIST* list;
    COLOUR dark, light, outline;
    bool swap, rounded;

    // Ring k's colour on the top side (top and left edges, top corners) or
    // the bottom side (bottom and right edges, bottom corners).
    COLOUR colour(int k, bool top_side) const
    {
        switch (list->rings[k]) {
        case RING_FIXED: return rounded || top_side ? dark : light;
        case RING_BORDER: return WM_SCREEN_OBJECT::border_colour;
        case RING_OUTLINE: return outline;
        case RING_RAISED: break;
        }
        return top_side != swap ? light : dark;
    }
    template <class DRAW> void each(DRAW draw) const
    {
        for (int k = 0; k < list->count; ++k) {
            draw(k);
        }
    }
};

// Each edge the flags name, a line per ring.
void shade_square(const RINGS& g, int x1, int y1, int x2, int y2, INT_U16 flags)
{
    IMAGE* t = g.target;
    if (flags & SHADING_EDGE_TOP) {
        g.each([&](int k) { line(t, x1 + k, y1 + k, x2 - k, y1 + k, g.colour(k, true)); });
    }
    if (flags & SHADING_EDGE_LEFT) {
        g.each([&](int k) { line(t, x1 + k, y1 + k, x1 + k, y2 - k, g.colour(k, true)); });
    }
    if (flags & SHADING_EDGE_BOTTOM) {
        g.each([&](int k) { line(t, x1 + k, y2 - k, x2 - k, y2 - k, g.colour(k, false)); });
    }
    if (flags & SHADING_EDGE_RIGHT) {
        g.each([&](int k) { line(t, x2 - k, y1 + k, x2 - k, y2 - k, g.colour(k, false)); });
    }
}

// The edges shortened by the rounded corners of radius r, then the corner
// arcs, a ring at a time.
void shade_rounded(const RINGS& g, int x1, int y1, int x2, int y2, INT_U16 flags, int r)
{
    IMAGE* t = g.target;
    const bool round_tl = (flags & SHADING_ROUND_TOP_LEFT) != 0, round_tr = (flags & SHADING_ROUND_TOP_RIGHT) != 0;
    const bool round_bl = (flags & SHADING_ROUND_BOTTOM_LEFT) != 0;
    const bool round_br = (flags & SHADING_ROUND_BOTTOM_RIGHT) != 0;
    // How far each rounded corner shortens the edges that meet there.
    const int tl = round_tl ? r : 0, tr = round_tr ? r : 0, bl = round_bl ? r : 0, br = round_br ? r : 0;
    if (flags & SHADING_EDGE_TOP) {
        g.each([&](int k) { line(t, x1 + k + tl, y1 + k, x2 - k - tr, y1 + k, g.colour(k, true)); });
    }
    if (flags & SHADING_EDGE_LEFT) {
        g.each([&](int k) { line(t, x1 + k, y2 - k - bl, x1 + k, y1 + k + tl, g.colour(k, true)); });
    }
    if (round_tl) {
        g.each([&](int k) { arc(t, x1 + k, y1 + k, r, 1, g.colour(k, true)); });
    }
    if (round_tr) {
        g.each([&](int k) { arc(t, x2 - k, y1 + k, r, 2, g.colour(k, true)); });
    }
    if (flags & SHADING_EDGE_RIGHT) {
        g.each([&](int k) { line(t, x2 - k, y1 + k + tr, x2 - k, y2 - k - br, g.colour(k, false)); });
    }
    if (flags & SHADING_EDGE_BOTTOM) {
        g.each([&](int k) { line(t, x2 - k - br, y2 - k, x1 + k + bl, y2 - k, g.colour(k, false)); });
    }
    if (round_bl) {
        g.each([&](int k) { arc(t, x1 + k, y2 - k, r, 4, g.colour(k, false)); });
    }
    if (round_br) {
        g.each([&](int k) { arc(t, x2 - k, y2 - k, r, 8, g.colour(k, false)); });
    }
}

} // namespace

INT_S16 WM_SCREEN_OBJECT::get_shading_type_size(SCROBJ_SHADING_TYPE shading)
{
    // One resolution only: a default of 1 must not stand for itself again.
    if (shading == 1) {
        shading = system_default_shading_type;
    }
    const RING_LIST* list = rings_of(shading);
    return static_cast<INT_S16>(list ? list->count : 0);
}

INT_S16 WM_SCREEN_OBJECT::get_shading_size(SCROBJ_SHADING_TYPE shading)
{
    if (shading == 1) {
        shading = shading_type;
        if (shading == 1) {
            shading = system_default_shading_type;
        }
    }
    const RING_LIST* list = rings_of(shading);
    return static_cast<INT_S16>(list ? list->count : 0);
}

void WM_SCREEN_OBJECT::get_shading_colours(COLOUR base, COLOUR& dark, COLOUR& light)
{
    // The object's own colour, then the class colour as it stands, then the
    // base and the default base scaled, then the fixed fallback.
    auto derive = [&](COLOUR fixed, int percent, COLOUR fallback) {
        if (is_set(shading_colour)) {
            return scaled(shading_colour, percent);
        }
        if (is_set(fixed)) {
            return fixed;
        }
        if (is_set(base)) {
            return scaled(base, percent);
        }
        if (is_set(default_shading_base_colour)) {
            return scaled(default_shading_base_colour, percent);
        }
        return fallback;
    };
    dark = derive(dark_shading_colour, 70, COLOUR_DARK_GREY);
    light = derive(light_shading_colour, 130, COLOUR_WHITE);
}

void WM_SCREEN_OBJECT::draw_shading(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_U16 flags, COLOUR base,
                                    SCROBJ_SHADING_TYPE shading, INT_S16 radius)
{
    draw_shading(x1, y1, x2, y2, flags, base, shading, radius, outline_colour);
}

void WM_SCREEN_OBJECT::draw_shading(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_U16 flags, COLOUR base,
                                    SCROBJ_SHADING_TYPE shading, INT_S16 radius, COLOUR outline)
{
    if (shading == 1) {
        shading = shading_type == 1 ? system_default_shading_type : shading_type;
    }
    const RING_LIST* list = rings_of(shading);
    IMAGE* target = drawing_target();
    if (!list || !target) {
        return;
    }
    COLOUR dark, light;
    get_shading_colours(base, dark, light);
    const RINGS rings{
        target, list, dark, light, outline, (flags & SHADING_SWAP) != 0, (flags & ANY_ROUNDED_CORNER) != 0};
    if (!rings.rounded) {
        shade_square(rings, x1, y1, x2, y2, flags);
        return;
    }
    const int r = radius == -1 ? target->calc_rounded_rect_radius(x1, y1, x2, y2) : radius;
    shade_rounded(rings, x1, y1, x2, y2, flags, r);
}

void WM_SCREEN_OBJECT::draw_arrow(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR colour,
                                  SCROBJ_ARROW_TYPE direction, INT_S16 x_gap, INT_S16 y_gap)
{
    IMAGE* const pictures[4] = {&up_arrow_image, &down_arrow_image, &left_arrow_image, &right_arrow_image};
    IMAGE* target = drawing_target();
    if (direction > 3 || !target) {
        return;
    }
    const int gx = x_gap == -1 ? (x2 - x1 + 1) / 3 : x_gap;
    const int gy = y_gap == -1 ? (y2 - y1 + 1) / 3 : y_gap;
    IMAGE* picture = pictures[direction];
    if (picture->width != 0) {
        picture->put(to_s16(x1 + (x2 - x1 - picture->width) / 2), to_s16(y1 + (y2 - y1 - picture->height) / 2), target,
                     IMAGE_COPY_BLEND);
        return;
    }
    if (!is_set(colour)) {
        return;
    }
    // A fan of lines from the apex to every pixel of the opposite side.
    const int mx = x1 + (x2 - x1 + 1) / 2, my = y1 + (y2 - y1 + 1) / 2;
    switch (direction) {
    case 0:
        for (int i = x1 + gx; i <= x2 - gx; ++i) {
            line(target, i, y2 - gy, mx, y1 + gy, colour);
        }
        break;
    case 1:
        for (int i = x1 + gx; i <= x2 - gx; ++i) {
            line(target, mx, y2 - gy, i, y1 + gy, colour);
        }
        break;
    case 2:
        for (int i = y1 + gy; i <= y2 - gy; ++i) {
            line(target, x1 + gx, my, x2 - gx, i, colour);
        }
        break;
    default:
        for (int i = y1 + gy; i <= y2 - gy; ++i) {
            line(target, x1 + gx, i, x2 - gx, my, colour);
        }
        break;
    }
}
