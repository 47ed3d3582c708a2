// The per-pixel rounded panel, circle and faded fill (see
// image_draw_plain.h).
#include "image_draw_plain.h"

#include "errors.h"
#include "image_blend.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace kivo_draw_plain {

namespace {

short to_short(int v)
{
    return static_cast<short>(std::max(-32768, std::min(32767, v)));
}

bool drawing_gate(IMAGE& im)
{
    if (!im.valid || im.active_x1 == -1 || im.active_x2 == -1 || im.active_y1 == -1 || im.active_y2 == -1) {
        return false;
    }
    if (!im.pixels) {
        display_error(ERR_GRAPHICS_NOT_OPEN);
    }
    return true;
}

COLOUR* at(IMAGE& im, int px, int py)
{
    return im.pixels + static_cast<long>(py - im.y) * im.stride + (px - im.x);
}

void order_corners(short& x1, short& y1, short& x2, short& y2)
{
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
}

bool clip_rect(IMAGE& im, short& x1, short& y1, short& x2, short& y2)
{
    order_corners(x1, y1, x2, y2);
    if (x2 < im.active_x1 || x1 > im.active_x2 || y2 < im.active_y1 || y1 > im.active_y2) {
        return false;
    }
    x1 = std::max(x1, im.active_x1);
    x2 = std::min(x2, im.active_x2);
    y1 = std::max(y1, im.active_y1);
    y2 = std::min(y2, im.active_y2);
    im.mark_dirty_area(x1, y1, x2, y2);
    return true;
}

} // namespace

void plot_rounded_rect(IMAGE& im, short x1, short y1, short x2, short y2, short radius, char corners, COLOUR c1,
                       COLOUR c2, short shade, IMAGE::PLOT_ROUNDED_RECT_TYPE type)
{
    if (!drawing_gate(im)) {
        return;
    }
    order_corners(x1, y1, x2, y2);
    int r = radius == -1 ? im.calc_rounded_rect_radius(x1, y1, x2, y2) : radius;
    if (r < 1) {
        return;
    }
    im.mark_dirty_area(x1, y1, x2, y2);
    if (type < IMAGE::PLOT_ROUNDED_RECT_SOLID || type > IMAGE::PLOT_ROUNDED_RECT_DARKEN) {
        return;
    }
    bool shade_ok = shade_in_range(shade);
    if (type == IMAGE::PLOT_ROUNDED_RECT_DARKEN && !shade_ok) {
        // Out-of-range shades leave the pixels and record why.
        set_error_code(ERRCODE_COLOUR_DARKEN_RANGE, nullptr);
        COLOUR::write_error_to_debug_stream(__FILE__, __LINE__);
        return;
    }
    auto gradient = [&](int k, int span) { return kivo_draw_plain::gradient(c1, c2, k, span); };
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    long rr = static_cast<long>(r) * r;
    int row_from = std::max<int>(y1, im.active_y1), row_to = std::min<int>(y2, im.active_y2);
    int col_from = std::max<int>(x1, im.active_x1), col_to = std::min<int>(x2, im.active_x2);
    if (x1 >= im.stride) {
        return;
    }
    for (int Y = row_from; Y <= row_to; ++Y) {
        if (Y - im.y >= im.height) {
            continue;
        }
        COLOUR ycol = type == IMAGE::PLOT_ROUNDED_RECT_YFADE ? gradient(Y - y1, y2 - y1) : COLOUR(0);
        bool top = Y<y1 + r, bottom = Y> y2 - r;
        COLOUR* p = at(im, col_from, Y);
        for (int X = col_from; X <= col_to; ++X, ++p) {
            bool left = X<x1 + r, right = X> x2 - r;
            int cx = 0, cy = 0;
            bool zone = true;
            if ((corners & 1) && left && top) {
                cx = x1 + r;
                cy = y1 + r;
            } else if ((corners & 4) && left && bottom) {
                cx = x1 + r;
                cy = y2 - r;
            } else if ((corners & 2) && right && top) {
                cx = x2 - r;
                cy = y1 + r;
            } else if ((corners & 8) && right && bottom) {
                cx = x2 - r;
                cy = y2 - r;
            } else {
                zone = false;
            }
            // trunc(sqrt(n)) < r is n < r^2 for whole n.
            if (zone && static_cast<long>(X - cx) * (X - cx) + static_cast<long>(Y - cy) * (Y - cy) >= rr) {
                continue;
            }
            switch (type) {
            case IMAGE::PLOT_ROUNDED_RECT_SOLID: *p = kivo_pixel::blend(c1, *p, thr); break;
            case IMAGE::PLOT_ROUNDED_RECT_XFADE: *p = gradient(X - x1, x2 - x1); break;
            case IMAGE::PLOT_ROUNDED_RECT_YFADE: *p = ycol; break;
            default: *p = darken(*p, shade); break;
            }
        }
    }
}

void plot_circle(IMAGE& im, short cx, short cy, short radius, COLOUR c, short shade, IMAGE::PLOT_CIRCLE_TYPE type,
                 short thickness, INT_U8 anti_alias)
{
    if (!drawing_gate(im) || radius < 1) {
        return;
    }
    int R = radius + thickness / 2;
    if (R < 1) {
        return;
    }
    short bx1 = to_short(cx - R), by1 = to_short(cy - R), bx2 = to_short(cx + R), by2 = to_short(cy + R);
    if (!clip_rect(im, bx1, by1, bx2, by2)) {
        return;
    }
    long D = 6L * R + 3;
    if (D * D >= static_cast<long>(IMAGE::circle_bitmap_size)) {
        return;
    }
    INT_U8* canvas = IMAGE::circle_bitmap;
    std::memset(canvas, 0, static_cast<std::size_t>(D * D));
    const int centre = 3 * R + 1;
    const int run = 3 * thickness;
    auto set = [&](int u, int v) { canvas[static_cast<long>(v) * D + u] = 1; };
    auto span = [&](int row, int half) {
        for (int u = centre - half; u <= centre + half; ++u) {
            set(u, row);
        }
    };
    // Ring: from a point a run of subsamples towards the centre, along the
    // point's major axis. A ring thicker than its radius would run through
    // the centre and out of the circle (and the canvas) on the far side; it
    // stops at the point's mirror image.
    auto ring_run = [&](int u, int v, int du, int dv) {
        int n = std::min(run, 2 * std::abs(du ? u - centre : v - centre) + 1);
        for (int k = 0; k < n; ++k) {
            set(u + du * k, v + dv * k);
        }
    };
    midpoint_circle(R, [&](int a, int b) {
        if (type == IMAGE::PLOT_CIRCLE_RING) {
            ring_run(centre + a, centre + b, 0, -1);
            ring_run(centre - a, centre + b, 0, -1);
            ring_run(centre + a, centre - b, 0, 1);
            ring_run(centre - a, centre - b, 0, 1);
            ring_run(centre + b, centre + a, -1, 0);
            ring_run(centre - b, centre + a, 1, 0);
            ring_run(centre + b, centre - a, -1, 0);
            ring_run(centre - b, centre - a, 1, 0);
        } else {
            span(centre + b, a);
            span(centre - b, a);
            span(centre + a, b);
            span(centre - a, b);
        }
    });
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    bool darken_ok = shade_in_range(shade);
    bool range_error = false;
    for (int Y = by1; Y <= by2; ++Y) {
        const INT_U8* sub = canvas + static_cast<long>(Y - (cy - R)) * 3 * D;
        COLOUR* p = at(im, bx1, Y);
        for (int X = bx1; X <= bx2; ++X, ++p) {
            int u = (X - (cx - R)) * 3;
            int cov = sub[u] + sub[u + 1] + sub[u + 2] + sub[D + u] + sub[D + u + 1] + sub[D + u + 2] + sub[2 * D + u] +
                      sub[2 * D + u + 1] + sub[2 * D + u + 2];
            if (cov == 0) {
                continue;
            }
            if (!plot_circle_pixel(p, cov, c, thr, shade, type == IMAGE::PLOT_CIRCLE_SHADED, anti_alias, darken_ok)) {
                range_error = true;
            }
        }
    }
    if (range_error) {
        set_error_code(ERRCODE_COLOUR_DARKEN_RANGE, nullptr);
        COLOUR::write_error_to_debug_stream(__FILE__, __LINE__);
    }
}

void fill_faded(IMAGE& im, short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend, bool vertical)
{
    if (!drawing_gate(im)) {
        return;
    }
    order_corners(x1, y1, x2, y2);
    int origin = vertical ? y1 : x1;
    int span = vertical ? y2 - y1 : x2 - x1;
    if (!clip_rect(im, x1, y1, x2, y2)) {
        return;
    }
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    for (int j = y1; j <= y2; ++j) {
        for (int i = x1; i <= x2; ++i) {
            int k = (vertical ? j : i) - origin;
            INT_U32 c = 0;
            for (int sh = 0; sh <= 24; sh += 8) {
                int f = static_cast<int>((from >> sh) & 0xFF), t = static_cast<int>((to >> sh) & 0xFF);
                c |= static_cast<INT_U32>((span == 0 ? f : f + static_cast<long>(k) * (t - f) / span) & 0xFF) << sh;
            }
            COLOUR* p = at(im, i, j);
            *p = blend ? COLOUR(kivo_pixel::blend(c, *p, thr)) : COLOUR(c);
        }
    }
}

} // namespace kivo_draw_plain
