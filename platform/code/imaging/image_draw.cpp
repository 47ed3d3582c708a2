// IMAGE drawing primitives and whole-area pixel edits. Everything clips to
// the active area and marks what it touched dirty.
#include "image.h"

#include "errors.h"
#include "image_blend.h"
#include "image_draw_plain.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

INT_U8 IMAGE::circle_bitmap[IMAGE::circle_bitmap_size];

namespace {

short to_short(int v)
{
    return static_cast<short>(std::max(-32768, std::min(32767, v)));
}

using kivo_draw_plain::darken;
using kivo_draw_plain::shade_in_range;

// d[i] = blend(c, d[i], t) over a row: nothing for an invisible colour, a
// fill at the solid threshold, else one mix at the colour's alpha.
void blend_colour_row(COLOUR* d, int n, COLOUR c, INT_U32 t)
{
    INT_U32 a = c.alpha();
    if (a == 0 || n <= 0) {
        return;
    }
    if (a >= t) {
        kivo_pixel::fill_row(reinterpret_cast<INT_U32*>(d), n, c);
    } else {
        kivo_pixel::mix_colour_row(reinterpret_cast<INT_U32*>(d), n, c, a);
    }
}

// darken(p, shade) is per channel a function of the byte alone: one table
// per call instead of three divisions per pixel.
struct DARKEN_TABLE
{
    INT_U8 v[256];
    void fill(int shade)
    {
        for (int k = 0; k < 256; ++k) {
            v[k] = static_cast<INT_U8>(std::max(0, std::min(255, k * (100 - shade) / 100)));
        }
    }
    void row(COLOUR* d, int n) const
    {
        for (int i = 0; i < n; ++i) {
            INT_U32 p = d[i];
            d[i] = (p & 0xFF000000u) | (static_cast<INT_U32>(v[(p >> 16) & 0xFF]) << 16) |
                   (static_cast<INT_U32>(v[(p >> 8) & 0xFF]) << 8) | v[p & 0xFF];
        }
    }
};

// out[i] = the fade's colour at offset k0 + i of span, per channel
// f + (k * (t - f)) / span truncated towards zero, as a division per
// channel would give, by stepping quotient and remainder: a division per
// pixel and channel costs more than the copy of the row.
void fade_run(COLOUR* out, int n, int k0, int span, COLOUR from, COLOUR to)
{
    if (span == 0) {
        std::fill(out, out + n, from);
        return;
    }
    struct STEP
    {
        long base, q, r, dq, dr;
        bool down;
    } ch[4];
    for (int c = 0; c < 4; ++c) {
        const long f = static_cast<long>((from >> (8 * c)) & 0xFF), t = static_cast<long>((to >> (8 * c)) & 0xFF);
        const long d = t > f ? t - f : f - t, at = static_cast<long>(k0) * d;
        ch[c] = {f, at / span, at % span, d / span, d % span, t < f};
    }
    for (int i = 0; i < n; ++i) {
        INT_U32 v = 0;
        for (int c = 0; c < 4; ++c) {
            STEP& s = ch[c];
            const long value = s.down ? s.base - s.q : s.base + s.q;
            v |= static_cast<INT_U32>(value & 0xFF) << (8 * c);
            s.q += s.dq;
            s.r += s.dr;
            if (s.r >= span) {
                s.r -= span;
                ++s.q;
            }
        }
        out[i] = v;
    }
}

// The largest k with k * k < m, for m >= 1.
long root_below(long m)
{
    long k = static_cast<long>(std::sqrt(static_cast<double>(m - 1)));
    while (k > 0 && k * k > m - 1) {
        --k;
    }
    while ((k + 1) * (k + 1) <= m - 1) {
        ++k;
    }
    return k;
}

} // namespace

bool IMAGE::drawing_gate()
{
    if (!valid || active_x1 == -1 || active_x2 == -1 || active_y1 == -1 || active_y2 == -1) {
        return false;
    }
    if (!pixels) {
        display_error(ERR_GRAPHICS_NOT_OPEN);
    }
    return true;
}

// The gate of lines and outlines: an invisible colour is a fatal error,
// so widgets must test alpha before drawing.
bool IMAGE::outline_gate(COLOUR c)
{
    if (!drawing_gate()) {
        return false;
    }
    if (c.alpha() == 0) {
        display_error(ERR_COLOUR_INVISIBLE_ARG);
    }
    return true;
}

// Normalises the rectangle; false when it misses the active area, else
// clamps it to the area and marks it dirty.
bool IMAGE::clip_rect(short& x1, short& y1, short& x2, short& y2)
{
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    if (x2 < active_x1 || x1 > active_x2 || y2 < active_y1 || y1 > active_y2) {
        return false;
    }
    x1 = std::max(x1, active_x1);
    x2 = std::min(x2, active_x2);
    y1 = std::max(y1, active_y1);
    y2 = std::min(y2, active_y2);
    mark_dirty_area(x1, y1, x2, y2);
    return true;
}

void IMAGE::fill_rect(short x1, short y1, short x2, short y2, COLOUR c, INT_U8 blend)
{
    if (!drawing_gate() || !clip_rect(x1, y1, x2, y2)) {
        return;
    }
    INT_U32 a = c.alpha();
    int w = x2 - x1 + 1;
    COLOUR* row = at(x1, y1);
    if (blend && a == 0) { // checked first: an invisible colour is never solid
        return;
    }
    if (!blend || a >= COLOUR::alpha_solid_threshold) {
        kivo_pixel::fill_rows(reinterpret_cast<INT_U32*>(row), stride, w, y2 - y1 + 1, c);
        return;
    }
    for (int j = y1; j <= y2; ++j, row += stride) {
        kivo_pixel::mix_colour_row(reinterpret_cast<INT_U32*>(row), w, c, a);
    }
}

void IMAGE::clear(COLOUR c, INT_U8 whole)
{
    if (!whole) {
        fill_rect(x, y, x + width - 1, y + height - 1, c, 0);
        return;
    }
    // Put the clip back exactly as it was, an empty one included.
    INT_S16 saved[4] = {active_x1, active_x2, active_y1, active_y2};
    INT_U8 saved_valid = valid;
    set_active_area(x, y, x + width - 1, y + height - 1);
    valid = 1;
    fill_rect(x, y, x + width - 1, y + height - 1, c, 0);
    valid = saved_valid;
    active_x1 = saved[0];
    active_x2 = saved[1];
    active_y1 = saved[2];
    active_y2 = saved[3];
}

void IMAGE::draw_rect_outline(int x1, int y1, int x2, int y2, COLOUR c, char sides)
{
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    if (x2 < active_x1 || x1 > active_x2 || y2 < active_y1 || y1 > active_y2) {
        return;
    }
    // A side beyond the clip is dropped rather than drawn at the clip's edge.
    if (x1 < active_x1) {
        sides &= ~1;
    }
    if (x2 > active_x2) {
        sides &= ~2;
    }
    if (y1 < active_y1) {
        sides &= ~4;
    }
    if (y2 > active_y2) {
        sides &= ~8;
    }
    x1 = std::max<int>(x1, active_x1);
    x2 = std::min<int>(x2, active_x2);
    y1 = std::max<int>(y1, active_y1);
    y2 = std::min<int>(y2, active_y2);
    mark_dirty_area(static_cast<short>(x1), static_cast<short>(y1), static_cast<short>(x2), static_cast<short>(y2));
    INT_U32 t = COLOUR::alpha_solid_threshold;
    auto hline = [&](int row) {
        COLOUR* p = at(x1 + 1, row);
        for (int i = x1 + 1; i < x2; ++i, ++p) {
            *p = kivo_pixel::blend(c, *p, t);
        }
    };
    auto vline = [&](int col) {
        COLOUR* p = at(col, y1);
        for (int j = y1; j <= y2; ++j, p += stride) {
            *p = kivo_pixel::blend(c, *p, t);
        }
    };
    if (sides & 4) {
        hline(y1);
    }
    if (sides & 8) {
        hline(y2);
    }
    if (sides & 1) {
        vline(x1);
    }
    if (sides & 2) {
        vline(x2);
    }
}

void IMAGE::draw_rect(short x1, short y1, short x2, short y2, COLOUR c, short thickness, char sides)
{
    if (!outline_gate(c)) {
        return;
    }
    if (thickness < 2) {
        draw_rect_outline(x1, y1, x2, y2, c, sides);
        return;
    }
    int h = thickness / 2;
    for (int k = 0; k < thickness; ++k) {
        draw_rect_outline(x1 - h + k, y1 - h + k, x2 + h - k, y2 + h - k, c, sides);
    }
}

void IMAGE::draw_thin_line(int x1, int y1, int x2, int y2, COLOUR c, INT_U8 blend)
{
    int dx = std::abs(x2 - x1), dy = std::abs(y2 - y1);
    bool x_major = dx >= dy;
    if ((x_major && x2 < x1) || (!x_major && y2 < y1)) {
        std::swap(x1, x2);
        std::swap(y1, y2);
    }
    mark_dirty_area(to_short(x1), to_short(y1), to_short(x2), to_short(y2));
    INT_U32 t = COLOUR::alpha_solid_threshold;
    auto plot = [&](int px, int py) {
        if (px < active_x1 || px > active_x2 || py < active_y1 || py > active_y2) {
            return;
        }
        COLOUR* p = at(px, py);
        *p = blend ? COLOUR(kivo_pixel::blend(c, *p, t)) : c;
    };
    // Walk the major axis; the error term moves the minor one.
    int major = x_major ? dx : dy, minor = x_major ? dy : dx;
    int from = x_major ? x1 : y1, to = x_major ? x2 : y2;
    int b = x_major ? y1 : x1, b_end = x_major ? y2 : x2;
    int step = (x_major ? y2 >= y1 : x2 >= x1) ? 1 : -1;
    // Only the stretch over the active area can plot. A line that misses
    // the area costs nothing, and the walk starts where the area begins:
    // after k steps the minor axis has moved floor(k x minor / major) and
    // the error is the remainder, so the skip is exact.
    int lo = x_major ? active_x1 : active_y1, hi = x_major ? active_x2 : active_y2;
    int b_lo = x_major ? active_y1 : active_x1, b_hi = x_major ? active_y2 : active_x2;
    if (to < lo || from > hi || std::max(b, b_end) < b_lo || std::min(b, b_end) > b_hi) {
        return;
    }
    long long err = 0;
    if (from < lo && major > 0) {
        long long before = static_cast<long long>(lo - from - 1) * minor; // error after the skipped steps' checks
        b += step * static_cast<int>(before / major);
        err = before % major + minor;
        from = lo;
    }
    to = std::min(to, hi);
    for (int a = from; a <= to; ++a) {
        if (err >= major && major > 0) {
            err -= major;
            b += step;
        }
        if (x_major) {
            plot(a, b);
        } else {
            plot(b, a);
        }
        err += minor;
    }
}

void IMAGE::draw_line(short x1, short y1, short x2, short y2, COLOUR c, short thickness, INT_U8 blend)
{
    if (!outline_gate(c)) {
        return;
    }
    if (thickness < 2) {
        draw_thin_line(x1, y1, x2, y2, c, blend);
        return;
    }
    bool x_major = std::abs(x2 - x1) >= std::abs(y2 - y1);
    for (int k = 0; k < thickness; ++k) {
        int off = -(thickness / 2) + k;
        if (x_major) {
            draw_thin_line(x1, y1 + off, x2, y2 + off, c, blend);
        } else {
            draw_thin_line(x1 + off, y1, x2 + off, y2, c, blend);
        }
    }
}

void IMAGE::draw_xor_rect(short x1, short y1, short x2, short y2, COLOUR c)
{
    if (!outline_gate(c)) {
        return;
    }
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    bool left = x1 >= active_x1, right = x2 <= active_x2;
    bool top = y1 >= active_y1, bottom = y2 <= active_y2;
    if (!clip_rect(x1, y1, x2, y2)) {
        return;
    }
    auto flip = [c](COLOUR* p) { *p = (*p ^ c) | 0xFF000000u; };
    if (top) {
        for (int i = x1; i <= x2; ++i) {
            flip(at(i, y1));
        }
    }
    if (bottom) {
        for (int i = x1; i <= x2; ++i) {
            flip(at(i, y2));
        }
    }
    if (left) {
        for (int j = y1; j <= y2; ++j) {
            flip(at(x1, j));
        }
    }
    if (right) {
        for (int j = y1; j <= y2; ++j) {
            flip(at(x2, j));
        }
    }
}

void IMAGE::draw_rounding(short x0, short y0, short radius, char corner, COLOUR c)
{
    int r = radius;
    if (r < 0) {
        return;
    }
    int first, sx, sy; // i's start, and the directions of the quarter
    if (corner & 1) {
        first = -r;
        sx = 1;
        sy = 1;
    } else if (corner & 2) {
        first = 0;
        sx = -1;
        sy = 1;
    } else if (corner & 4) {
        first = -r;
        sx = 1;
        sy = -1;
    } else if (corner & 8) {
        first = 0;
        sx = -1;
        sy = -1;
    } else {
        return;
    }
    int px = 0, py = 0;
    for (int i = first; i <= first + r; ++i) {
        int s = static_cast<int>(std::sqrt(static_cast<double>(r) * r - static_cast<double>(i) * i));
        int nx = x0 + sx * r + i, ny = y0 + sy * (r - s);
        if (i > first) {
            draw_line(to_short(px), to_short(py), to_short(nx), to_short(ny), c, 1, 1);
        }
        px = nx;
        py = ny;
    }
}

void IMAGE::draw_rounded_rect(short x1, short y1, short x2, short y2, COLOUR c, short radius, char corners)
{
    int r = radius == -1 ? calc_rounded_rect_radius(x1, y1, x2, y2) : radius;
    auto line = [&](int ax, int ay, int bx, int by) {
        draw_line(to_short(ax), to_short(ay), to_short(bx), to_short(by), c, 1, 1);
    };
    line(x1 + r, y1, x2 - r, y1);
    line(x1 + r, y2, x2 - r, y2);
    line(x1, y1 + r, x1, y2 - r);
    line(x2, y1 + r, x2, y2 - r);
    struct
    {
        int bit, cx, cy, toward_x, toward_y;
    } corner[4] = {
        {1, x1, y1, x1 + r, y1 + r},
        {2, x2, y1, x2 - r, y1 + r},
        {4, x1, y2, x1 + r, y2 - r},
        {8, x2, y2, x2 - r, y2 - r},
    };
    for (auto& k : corner) {
        if (corners & k.bit) {
            draw_rounding(to_short(k.cx), to_short(k.cy), to_short(r), static_cast<char>(k.bit), c);
        } else {
            line(k.cx, k.cy, k.toward_x, k.cy);
            line(k.cx, k.cy, k.cx, k.toward_y);
        }
    }
}

short IMAGE::calc_rounded_rect_radius(short x1, short y1, short x2, short y2)
{
    return static_cast<short>(std::min((x2 - x1 + 1) / 3, (y2 - y1 + 1) / 3));
}

void IMAGE::fill_faded(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend, bool vertical)
{
    if (!drawing_gate()) {
        return;
    }
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    int origin = vertical ? y1 : x1;
    int span = vertical ? y2 - y1 : x2 - x1;
    if (!clip_rect(x1, y1, x2, y2)) {
        return;
    }
    // The colour at offset k; a span of 0 is the first colour.
    auto at_offset = [&](int k) -> COLOUR {
        if (span == 0) {
            return from;
        }
        INT_U32 out = 0;
        for (int sh = 0; sh <= 24; sh += 8) {
            int f = static_cast<int>((from >> sh) & 0xFF), t = static_cast<int>((to >> sh) & 0xFF);
            out |= static_cast<INT_U32>((f + static_cast<long>(k) * (t - f) / span) & 0xFF) << sh;
        }
        return out;
    };
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    int w = x2 - x1 + 1;
    COLOUR* row = at(x1, y1);
    // Each row is one colour (vertical) or the same run of colours
    // (horizontal), laid on by the row routines.
    if (vertical) {
        for (int j = y1; j <= y2; ++j, row += stride) {
            COLOUR c = at_offset(j - origin);
            if (blend) {
                blend_colour_row(row, w, c, thr);
            } else {
                kivo_pixel::fill_row(reinterpret_cast<INT_U32*>(row), w, c);
            }
        }
        return;
    }
    // Alpha runs between the two ends' alphas: when both are solid (and
    // visible, whatever the threshold), so is every colour, and a blend of
    // the run is a copy of it.
    const INT_U32 solid = std::max<INT_U32>(thr, 1);
    const bool copy = !blend || (from.alpha() >= solid && to.alpha() >= solid);
    constexpr int chunk = 2048;
    COLOUR line_colours[chunk];
    for (int i0 = 0; i0 < w; i0 += chunk) {
        int n = std::min(chunk, w - i0);
        fade_run(line_colours, n, x1 + i0 - origin, span, from, to);
        const INT_U32* line = reinterpret_cast<const INT_U32*>(line_colours);
        COLOUR* p = row + i0;
        if (copy) {
            kivo_pixel::copy_run_to_rows(reinterpret_cast<INT_U32*>(p), stride, line, n, y2 - y1 + 1);
            continue;
        }
        for (int j = y1; j <= y2; ++j, p += stride) {
            kivo_pixel::blend_row(reinterpret_cast<INT_U32*>(p), line, n, thr);
        }
    }
}

void IMAGE::fill_hfaded_rect(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend)
{
    fill_faded(x1, y1, x2, y2, from, to, blend, false);
}

void IMAGE::fill_vfaded_rect(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend)
{
    fill_faded(x1, y1, x2, y2, from, to, blend, true);
}

// Works in spans: per row the corners' cuts are worked out once, and the
// columns between them go to one row routine. A pixel in a corner's zone is
// inside when (X - cx)^2 + (Y - cy)^2 < r^2, as the per-pixel form says
// (image_draw_plain.cpp), which the tests hold this to.
void IMAGE::plot_rounded_rect(short x1, short y1, short x2, short y2, short radius, char corners, COLOUR c1, COLOUR c2,
                              short shade, PLOT_ROUNDED_RECT_TYPE type)
{
    if (!drawing_gate()) {
        return;
    }
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    int r = radius == -1 ? calc_rounded_rect_radius(x1, y1, x2, y2) : radius;
    if (r < 1) {
        return;
    }
    mark_dirty_area(x1, y1, x2, y2);
    if (type < PLOT_ROUNDED_RECT_SOLID || type > PLOT_ROUNDED_RECT_DARKEN) {
        return;
    }
    if (type == PLOT_ROUNDED_RECT_DARKEN && !shade_in_range(shade)) {
        // Out-of-range shades leave the pixels and record why.
        set_error_code(ERRCODE_COLOUR_DARKEN_RANGE, nullptr);
        COLOUR::write_error_to_debug_stream(__FILE__, __LINE__);
        return;
    }
    auto gradient = [&](int k, int span) { return kivo_draw_plain::gradient(c1, c2, k, span); };
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    int row_from = std::max<int>(y1, active_y1), row_to = std::min<int>(y2, active_y2);
    int col_from = std::max<int>(x1, active_x1), col_to = std::min<int>(x2, active_x2);
    if (x1 >= stride || col_from > col_to) {
        return;
    }
    // The horizontal fade is the same on every row: worked out once.
    std::vector<COLOUR> xcols;
    if (type == PLOT_ROUNDED_RECT_XFADE) {
        xcols.resize(static_cast<std::size_t>(col_to - col_from + 1));
        for (int X = col_from; X <= col_to; ++X) {
            xcols[X - col_from] = gradient(X - x1, x2 - x1);
        }
    }
    DARKEN_TABLE table;
    if (type == PLOT_ROUNDED_RECT_DARKEN) {
        table.fill(shade);
    }

    long rr = static_cast<long>(r) * r;
    // Columns left of xa belong to the left corners, from xb on to the
    // right ones; with r past half the width the two overlap, and a left
    // corner then takes precedence, as in the per-pixel test.
    const int xa = x1 + r, xb = x2 - r + 1;
    const int cut[2] = {std::min(xa, xb), std::max(xa, xb)};
    for (int Y = row_from; Y <= row_to; ++Y) {
        if (Y - y >= height) {
            continue;
        }
        bool top = Y<y1 + r, bottom = Y> y2 - r;
        // The corner owning this row's left columns (top-left before
        // bottom-left), and its inside columns [llo, lhi]; then the right.
        auto inside = [&](int cx, int cy, int& lo, int& hi) {
            long dy = static_cast<long>(Y) - cy, m = rr - dy * dy;
            if (m <= 0) {
                lo = 1;
                hi = 0;
                return;
            }
            long k = root_below(m);
            lo = static_cast<int>(cx - k);
            hi = static_cast<int>(cx + k);
        };
        bool left_corner = false, right_corner = false;
        int llo = 0, lhi = 0, rlo = 0, rhi = 0;
        if ((corners & 1) && top) {
            left_corner = true;
            inside(x1 + r, y1 + r, llo, lhi);
        } else if ((corners & 4) && bottom) {
            left_corner = true;
            inside(x1 + r, y2 - r, llo, lhi);
        }
        if ((corners & 2) && top) {
            right_corner = true;
            inside(x2 - r, y1 + r, rlo, rhi);
        } else if ((corners & 8) && bottom) {
            right_corner = true;
            inside(x2 - r, y2 - r, rlo, rhi);
        }
        COLOUR ycol = type == PLOT_ROUNDED_RECT_YFADE ? gradient(Y - y1, y2 - y1) : COLOUR(0);
        // Three stretches, each wholly left-zone or not and right-zone or not.
        for (int piece = 0; piece < 3; ++piece) {
            int lo = piece == 0 ? col_from : std::max(col_from, cut[piece - 1]);
            int hi = piece == 2 ? col_to : std::min(col_to, cut[piece] - 1);
            if (lo > hi) {
                continue;
            }
            if (lo < xa && left_corner) {
                lo = std::max(lo, llo);
                hi = std::min(hi, lhi);
            } else if (lo >= xb && right_corner) {
                lo = std::max(lo, rlo);
                hi = std::min(hi, rhi);
            }
            if (lo > hi) {
                continue;
            }
            COLOUR* p = at(lo, Y);
            int n = hi - lo + 1;
            switch (type) {
            case PLOT_ROUNDED_RECT_SOLID: blend_colour_row(p, n, c1, thr); break;
            case PLOT_ROUNDED_RECT_XFADE:
                std::copy(xcols.begin() + (lo - col_from), xcols.begin() + (hi - col_from + 1), p);
                break;
            case PLOT_ROUNDED_RECT_YFADE: kivo_pixel::fill_row(reinterpret_cast<INT_U32*>(p), n, ycol); break;
            default: table.row(p, n); break;
            }
        }
    }
}

// The filled circle as spans: the canvas of the per-pixel form
// (image_draw_plain.cpp) holds on each subsample row one span centred on
// the circle's centre, so one half-width per subrow says it all, and a
// pixel's coverage is counted from the three half-widths of its row.
void IMAGE::plot_circle(short cx, short cy, short radius, COLOUR c, short shade, PLOT_CIRCLE_TYPE type, short thickness,
                        INT_U8 anti_alias)
{
    if (type == PLOT_CIRCLE_RING) {
        kivo_draw_plain::plot_circle(*this, cx, cy, radius, c, shade, type, thickness, anti_alias);
        return;
    }
    if (!drawing_gate() || radius < 1) {
        return;
    }
    int R = radius + thickness / 2;
    if (R < 1) {
        return;
    }
    short bx1 = to_short(cx - R), by1 = to_short(cy - R), bx2 = to_short(cx + R), by2 = to_short(cy + R);
    if (!clip_rect(bx1, by1, bx2, by2)) {
        return;
    }
    long D = 6L * R + 3;
    // The canvas bound of the per-pixel form: larger circles draw nothing.
    if (D * D >= static_cast<long>(circle_bitmap_size)) {
        return;
    }
    const int centre = 3 * R + 1;
    // Half-width of each subsample row's span, -1 for none.
    int half[1800];
    static_assert(1800L * 1800 >= static_cast<long>(circle_bitmap_size), "a subrow for every canvas row");
    std::fill(half, half + D, -1);
    auto span = [&](int row, int h) { half[row] = std::max(half[row], h); };
    kivo_draw_plain::midpoint_circle(R, [&](int a, int b) {
        span(centre + b, a);
        span(centre - b, a);
        span(centre + a, b);
        span(centre - a, b);
    });
    INT_U32 thr = COLOUR::alpha_solid_threshold;
    INT_U32 a = c.alpha();
    bool darken_ok = shade_in_range(shade);
    bool range_error = false;
    // What a pixel with coverage cov (1 .. 9) gets.
    auto plot = [&](COLOUR* p, int cov) {
        if (!kivo_draw_plain::plot_circle_pixel(p, cov, c, thr, shade, type == PLOT_CIRCLE_SHADED, anti_alias,
                                                darken_ok)) {
            range_error = true;
        }
    };
    DARKEN_TABLE table;
    bool table_filled = false;
    // The same for a run of fully covered pixels.
    auto plot_run = [&](COLOUR* p, int n) {
        if (n <= 0) {
            return;
        }
        if (type != PLOT_CIRCLE_SHADED) {
            blend_colour_row(p, n, c, thr);
            if (!anti_alias && a != 0 && a < thr) {
                kivo_pixel::mix_colour_row(reinterpret_cast<INT_U32*>(p), n, c, a);
            }
        } else if (!anti_alias) {
            blend_colour_row(p, n, c, thr);
        } else if (darken_ok) {
            if (!table_filled) {
                table.fill(shade);
            }
            table_filled = true;
            table.row(p, n);
        } else {
            range_error = true;
        }
    };
    // Pixel d columns from the centre one covers subsamples 3d - 1 .. 3d + 1
    // from the centre; a subrow of half-width h covers those within h.
    auto count = [](int h, int d) {
        if (d == 0) {
            return h < 0 ? 0 : h == 0 ? 1 : 3;
        }
        return std::max(0, std::min(3, h - 3 * d + 2));
    };
    for (int Y = by1; Y <= by2; ++Y) {
        const int* h = half + static_cast<long>(Y - (cy - R)) * 3;
        int hmax = std::max(h[0], std::max(h[1], h[2]));
        if (hmax < 0) {
            continue;
        }
        int hmin = std::min(h[0], std::min(h[1], h[2]));
        int any = (hmax + 1) / 3;                   // |d| <= any: some coverage
        int full = hmin >= 1 ? (hmin - 1) / 3 : -1; // |d| <= full: coverage 9
        int run_lo = std::max<int>(bx1, cx - full), run_hi = std::min<int>(bx2, cx + full);
        if (run_lo <= run_hi) {
            plot_run(at(run_lo, Y), run_hi - run_lo + 1);
        }
        for (int d = full + 1; d <= any; ++d) {
            int cov = count(h[0], d) + count(h[1], d) + count(h[2], d);
            if (cov == 0) {
                continue;
            }
            if (cx - d >= bx1 && cx - d <= bx2) {
                plot(at(cx - d, Y), cov);
            }
            if (d > 0 && cx + d >= bx1 && cx + d <= bx2) {
                plot(at(cx + d, Y), cov);
            }
        }
    }
    if (range_error) {
        set_error_code(ERRCODE_COLOUR_DARKEN_RANGE, nullptr);
        COLOUR::write_error_to_debug_stream(__FILE__, __LINE__);
    }
}

void IMAGE::darken_rect(short x1, short y1, short x2, short y2, short percent)
{
    if (!drawing_gate() || percent < 1) {
        return;
    }
    if (percent > 100) {
        percent = 100;
    }
    if (!clip_rect(x1, y1, x2, y2)) {
        return;
    }
    // Darkening clears the current error, once for the whole call.
    set_error_code(ERRCODE_NONE, nullptr);
    int w = x2 - x1 + 1;
    COLOUR* row = at(x1, y1);
    for (int j = y1; j <= y2; ++j, row += stride) {
        for (int i = 0; i < w; ++i) {
            row[i] = darken(row[i], percent);
        }
    }
}

// ---- edits of the active area --------------------------------------------

bool IMAGE::edit_region(int& x1, int& y1, int& x2, int& y2)
{
    if (width < 1 || height < 1 || !pixels) {
        return false;
    }
    // An empty clip edits nothing (clamping it would pick pixel 0,0).
    if (active_x1 == -1 || active_x2 == -1 || active_y1 == -1 || active_y2 == -1) {
        return false;
    }
    x1 = std::max<int>(active_x1, x);
    x2 = std::min<int>(active_x2, x + width - 1);
    y1 = std::max<int>(active_y1, y);
    y2 = std::min<int>(active_y2, y + height - 1);
    if (x1 > x2 || y1 > y2) {
        return false;
    }
    mark_dirty_area(static_cast<short>(x1), static_cast<short>(y1), static_cast<short>(x2), static_cast<short>(y2));
    return true;
}

namespace {

template <class F> void for_each_pixel(COLOUR* first, long stride, int w, int h, F f)
{
    for (int j = 0; j < h; ++j, first += stride) {
        for (int i = 0; i < w; ++i) {
            first[i] = f(first[i]);
        }
    }
}

} // namespace

void IMAGE::realpha(INT_U8 alpha_value, INT_U8 multiply, INT_U8 only_visible)
{
    int x1, y1, x2, y2;
    if (!edit_region(x1, y1, x2, y2)) {
        return;
    }
    INT_U32 A = alpha_value;
    for_each_pixel(at(x1, y1), stride, x2 - x1 + 1, y2 - y1 + 1, [&](COLOUR p) -> COLOUR {
        if (multiply) {
            return (p & 0xFFFFFFu) | (kivo_pixel::div255(p.alpha() * A) << 24);
        }
        if (only_visible && p.alpha() == 0) {
            return p;
        }
        return (p & 0xFFFFFFu) | (A << 24);
    });
}

void IMAGE::set_trialpha_colours(COLOUR c1, COLOUR c2, COLOUR c3, INT_U8 keep_alpha)
{
    int x1, y1, x2, y2;
    if (!edit_region(x1, y1, x2, y2)) {
        return;
    }
    for_each_pixel(at(x1, y1), stride, x2 - x1 + 1, y2 - y1 + 1, [&](COLOUR p) -> COLOUR {
        COLOUR n = p;
        n.set_trialpha_colour(c1, c2, c3);
        if (keep_alpha) {
            n = (n & 0xFFFFFFu) | (kivo_pixel::div255(p.alpha() * n.alpha()) << 24);
        }
        return n;
    });
}

void IMAGE::recolour(COLOUR tint)
{
    int x1, y1, x2, y2;
    if (!edit_region(x1, y1, x2, y2)) {
        return;
    }
    for_each_pixel(at(x1, y1), stride, x2 - x1 + 1, y2 - y1 + 1, [&](COLOUR p) -> COLOUR {
        p.recolour(tint);
        return p;
    });
}

void IMAGE::make_grey()
{
    int x1, y1, x2, y2;
    if (!edit_region(x1, y1, x2, y2)) {
        return;
    }
    bool fast = COLOUR::use_fast_greyscale != 0;
    for_each_pixel(at(x1, y1), stride, x2 - x1 + 1, y2 - y1 + 1, [&](COLOUR p) -> COLOUR {
        INT_U32 r = p.red(), g = p.green(), b = p.blue();
        INT_U32 grey = fast ? (r + g + b) / 3 : (r * 30 + g * 59 + b * 11) / 100;
        return (p & 0xFF000000u) | (grey << 16) | (grey << 8) | grey;
    });
}

void IMAGE::replace_colour(COLOUR from, COLOUR to, INT_U8 rgb_only)
{
    int x1, y1, x2, y2;
    if (!edit_region(x1, y1, x2, y2)) {
        return;
    }
    for_each_pixel(at(x1, y1), stride, x2 - x1 + 1, y2 - y1 + 1, [&](COLOUR p) -> COLOUR {
        if (rgb_only) {
            return ((p ^ from) & 0xFFFFFFu) == 0 ? COLOUR((p & 0xFF000000u) | (to & 0xFFFFFFu)) : p;
        }
        return p == from ? to : p;
    });
}

void IMAGE::rotate_rad(float radians)
{
    // A locked image keeps its array, so it cannot take the turned size.
    if (locked) {
        return;
    }
    float c = std::cos(radians), s = std::sin(radians);
    int W = width, H = height;
    float cxs[3] = {static_cast<float>(W), 0.0f, static_cast<float>(W)};
    float cys[3] = {0.0f, static_cast<float>(H), static_cast<float>(H)};
    float min_x = 0, min_y = 0, max_x = 0, max_y = 0;
    for (int k = 0; k < 3; ++k) {
        float X = c * cxs[k] - s * cys[k], Y = s * cxs[k] + c * cys[k];
        min_x = k == 0 ? std::min(0.0f, X) : std::min(min_x, X);
        min_y = k == 0 ? std::min(0.0f, Y) : std::min(min_y, Y);
        max_x = k == 0 ? X : std::max(max_x, X);
        max_y = k == 0 ? Y : std::max(max_y, Y);
    }
    float fw = std::ceil(std::fabs(max_x) - min_x), fh = std::ceil(std::fabs(max_y) - min_y);
    // A turned size no image can hold leaves the picture as it is.
    if (!(fw >= 0.0f && fw <= 32767.0f && fh >= 0.0f && fh <= 32767.0f)) {
        return;
    }
    COLOUR* old = pixels;
    long old_stride = stride;
    pixels = nullptr;
    width = height = 0;
    reset(static_cast<short>(fw), static_cast<short>(fh));
    clear(COLOUR_INVISIBLE, 0);
    if (old && pixels) {
        for (int j = 0; j < height; ++j) {
            for (int i = 0; i < width; ++i) {
                float fx = i + min_x, fy = j + min_y;
                int sx = static_cast<int>(c * fx + s * fy), sy = static_cast<int>(c * fy - s * fx);
                if (sx >= 0 && sx < W && sy >= 0 && sy < H) {
                    pixels[static_cast<long>(j) * stride + i] = old[static_cast<long>(sy) * old_stride + sx];
                }
            }
        }
    }
    std::free(old);
}

void IMAGE::rotate_deg(float degrees)
{
    rotate_rad(static_cast<float>(degrees * 3.1415926535898 / 180));
}
