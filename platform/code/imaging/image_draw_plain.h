#ifndef KIVO_IMAGE_DRAW_PLAIN_H
#define KIVO_IMAGE_DRAW_PLAIN_H

// The per-pixel forms of the rounded panel, the circle and the faded
// fills: each pixel tested and drawn on its own, the plain statement of
// what every pixel gets. The drawing in image_draw.cpp works in spans and
// rows and is tested against these; the ring circle still draws through
// its bitmap here.
#include "image.h"
#include "image_blend.h"

#include <algorithm>

namespace kivo_draw_plain {

// One darkening by percent (also a brightening when negative), clamped.
inline INT_U32 darken(INT_U32 p, int percent)
{
    INT_U32 out = p & 0xFF000000u;
    for (int sh = 0; sh <= 16; sh += 8) {
        int v = static_cast<int>((p >> sh) & 0xFF) * (100 - percent) / 100;
        out |= static_cast<INT_U32>(std::max(0, std::min(255, v))) << sh;
    }
    return out;
}

// A shade is usable while (shade + 100) taken as a byte is at most 200.
inline bool shade_in_range(int shade)
{
    return static_cast<INT_U8>(shade + 100) <= 200;
}

// Step k of a panel's fade from c1 to c2 over span steps, opaque; a span
// of 0 is the first colour.
inline COLOUR gradient(COLOUR c1, COLOUR c2, int k, int span)
{
    INT_U32 out = 0xFF000000u;
    for (int sh = 0; sh <= 16; sh += 8) {
        int a = static_cast<int>((c1 >> sh) & 0xFF), b = static_cast<int>((c2 >> sh) & 0xFF);
        int v = span == 0 ? a : a + k * (b - a) / span;
        out |= static_cast<INT_U32>(v & 0xFF) << sh;
    }
    return out;
}

// The midpoint circle of radius 3R on doubled coordinates: f(a, b) for
// every point of one octant, in subsamples from the centre.
template <typename F> void midpoint_circle(int R, F f)
{
    int bound = 6 * R, err = -6 * R;
    for (int i = 0; i <= bound; ++i) {
        if ((i & 1) == 0) {
            f(i / 2, bound / 2);
        }
        err += i;
        if (err >= 0) {
            err -= bound;
            --bound;
        }
    }
}

// What a circle pixel covered by cov of its 9 subsamples (1 .. 9) becomes.
// False, the pixel left, for a fully covered shaded pixel whose shade is out
// of range.
inline bool plot_circle_pixel(COLOUR* p, int cov, COLOUR c, INT_U32 thr, short shade, bool shaded, INT_U8 anti_alias,
                              bool darken_ok)
{
    if (!shaded) {
        if (!anti_alias) {
            *p = kivo_pixel::blend(c, *p, thr);
            if (cov >= 4) {
                *p = kivo_pixel::blend(c, *p, thr);
            }
        } else if (cov < 9) {
            INT_U32 scaled = (c & 0xFFFFFFu) | ((cov * c.alpha() / 9) << 24);
            *p = kivo_pixel::blend(scaled, *p, thr);
        } else {
            *p = kivo_pixel::blend(c, *p, thr);
        }
        return true;
    }
    if (!anti_alias) {
        if (cov >= 4) {
            *p = kivo_pixel::blend(c, *p, thr);
        }
    } else if (cov < 9) {
        INT_U32 out = 0xFF000000u;
        for (int sh = 0; sh <= 16; sh += 8) {
            int pc = static_cast<int>((*p >> sh) & 0xFF);
            int d = (pc * (100 - shade) / 100) & 0xFF;
            out |= static_cast<INT_U32>((d * cov + pc * (9 - cov)) / 9) << sh;
        }
        *p = out;
    } else if (darken_ok) {
        *p = darken(*p, shade);
    } else {
        return false;
    }
    return true;
}

void plot_rounded_rect(IMAGE& im, short x1, short y1, short x2, short y2, short radius, char corners, COLOUR c1,
                       COLOUR c2, short shade, IMAGE::PLOT_ROUNDED_RECT_TYPE type);
void plot_circle(IMAGE& im, short cx, short cy, short radius, COLOUR c, short shade, IMAGE::PLOT_CIRCLE_TYPE type,
                 short thickness, INT_U8 anti_alias);
// fill_hfaded_rect and fill_vfaded_rect, each pixel's colour worked out
// and blended on its own.
void fill_faded(IMAGE& im, short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend, bool vertical);

} // namespace kivo_draw_plain

#endif
