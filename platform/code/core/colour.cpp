#include "colour.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <type_traits>

static_assert(sizeof(COLOUR) == 4, "a COLOUR is one pixel word");
static_assert(std::is_trivially_copyable<COLOUR>::value, "pixels are copied as bytes");

INT_U8 COLOUR::use_fast_greyscale = 0;
INT_U8 COLOUR::alpha_solid_threshold = 250;

namespace {

// Double to integer toward zero, masked to a byte. Values no int can hold
// (and NaN) give 0 rather than undefined behaviour.
INT_U32 trunc8(double v)
{
    if (!(v > -2147483648.0 && v < 2147483648.0)) {
        return 0;
    }
    return INT_U32(INT_S32(v)) & 0xFF;
}

INT_U32 pack(INT_U32 a, INT_U32 r, INT_U32 g, INT_U32 b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

double clamp01(double v)
{
    if (!(v > 0.0)) { // NaN counts as 0 too
        return 0.0;
    }
    return v > 1.0 ? 1.0 : v;
}

double cap1(double w)
{
    return w > 1.0 ? 1.0 : w;
}

COLOUR acmyk_to_colour(double a, double c, double m, double y, double k)
{
    double nk = 1.0 - k;
    return pack(trunc8(a * 255.0), trunc8((nk - nk * c) * 255.0), trunc8((nk - nk * m) * 255.0),
                trunc8((nk - nk * y) * 255.0));
}

int hex_digit(char ch)
{
    if (ch >= '0' && ch <= '9') {
        return ch - '0';
    }
    if (ch >= 'a' && ch <= 'f') {
        return ch - 'a' + 10;
    }
    if (ch >= 'A' && ch <= 'F') {
        return ch - 'A' + 10;
    }
    return -1;
}

// Reads up to `count` fields of exactly two hex digits each, no
// separators; fields that are missing stay 0.
void read_hex_pairs(const char* p, double* out, int count)
{
    for (int i = 0; i < count; ++i) {
        int hi = hex_digit(p[0]);
        int lo = hi < 0 ? -1 : hex_digit(p[1]);
        if (hi < 0 || lo < 0) {
            return;
        }
        out[i] = double(hi * 16 + lo);
        p += 2;
    }
}

bool keyword(const char* p, const char* word)
{
    for (; *word; ++p, ++word) {
        if (std::toupper(static_cast<unsigned char>(*p)) != *word) {
            return false;
        }
    }
    return true;
}

} // namespace

void COLOUR::get_ahsl(double& a, double& h, double& s, double& l) const
{
    a = alpha() / 255.0;
    double r = red() / 255.0, g = green() / 255.0, b = blue() / 255.0;
    double mx = r, mn = r;
    if (g > mx) {
        mx = g;
    }
    if (b > mx) {
        mx = b;
    }
    if (g < mn) {
        mn = g;
    }
    if (b < mn) {
        mn = b;
    }
    l = (mx + mn) / 2.0;
    s = 0.0;
    if (l > 0.0 && l < 1.0) {
        s = l < 0.5 ? (mx - mn) / (2.0 * l) : (mx - mn) / (2.0 - 2.0 * l);
    }
    h = 0.0;
    if (mx != mn) {
        double d = mx - mn;
        if (mx == r && mx != g) {
            h = (g - b) / d;
        } else if (mx == g && mx != b) {
            h = 2.0 + (b - r) / d;
        } else {
            h = 4.0 + (r - g) / d;
        }
        h /= 6.0;
        if (h < 0.0) {
            h += 1.0;
        }
    }
}

void COLOUR::set_ahsl(double a, double h, double s, double l)
{
    h = clamp01(h);
    s = clamp01(s);
    l = clamp01(l);
    double hd = 360.0 * h;
    double wr, wg, wb;
    if (hd < 120.0) {
        wr = (120.0 - hd) / 60.0;
        wg = hd / 60.0;
        wb = 0.0;
    } else if (hd < 240.0) {
        wr = 0.0;
        wg = (240.0 - hd) / 60.0;
        wb = (hd - 120.0) / 60.0;
    } else {
        wr = (hd - 240.0) / 60.0;
        wg = 0.0;
        wb = (360.0 - hd) / 60.0;
    }
    double w[3] = {cap1(wr), cap1(wg), cap1(wb)};
    INT_U32 ch[3];
    for (int i = 0; i < 3; ++i) {
        double c = w[i] * 2.0 * s + (1.0 - s);
        double v = l < 0.5 ? c * l : c * (1.0 - l) + 2.0 * l - 1.0;
        ch[i] = trunc8(v * 255.0);
    }
    value = pack(trunc8(a * 255.0), ch[0], ch[1], ch[2]);
}

void COLOUR::get_acmyk(double& a, double& c, double& m, double& y, double& k) const
{
    a = alpha() / 255.0;
    double cc = 1.0 - red() / 255.0, mm = 1.0 - green() / 255.0, yy = 1.0 - blue() / 255.0;
    k = cc;
    if (mm < k) {
        k = mm;
    }
    if (yy < k) {
        k = yy;
    }
    if (k >= 1.0) {
        // Pure black: no ink but black (the formula would divide 0 by 0).
        c = m = y = 0.0;
        return;
    }
    c = (cc - k) / (1.0 - k);
    m = (mm - k) / (1.0 - k);
    y = (yy - k) / (1.0 - k);
}

void COLOUR::set_acmyk(double a, double c, double m, double y, double k)
{
    value = acmyk_to_colour(a, c, m, y, k);
}

void COLOUR::recolour(COLOUR tint)
{
    INT_U32 gs = (INT_U32(red()) + green() + blue()) / 3;
    INT_U32 gt = (INT_U32(tint.red()) + tint.green() + tint.blue()) / 3;
    INT_U32 t[3] = {tint.red(), tint.green(), tint.blue()};
    INT_U32 ch[3];
    for (int i = 0; i < 3; ++i) {
        if (gs <= gt) {
            ch[i] = gt == 0 ? 0 : t[i] * gs / gt; // a black tint of a black source stays black
        } else {
            ch[i] = t[i] + (255 - t[i]) * (gs - gt) / (255 - gt);
        }
    }
    value = pack(alpha(), ch[0], ch[1], ch[2]);
}

void COLOUR::set_suitable_text_colour(const COLOUR& background)
{
    INT_U32 sum = INT_U32(background.red()) + background.green() + background.blue();
    value = sum < 384 ? 0xFFFFFFFFu : 0xFF000000u;
}

void COLOUR::set_contrasting_shade(const COLOUR& base, double amount)
{
    double a, h, s, l;
    base.get_ahsl(a, h, s, l);
    if (amount >= 0.0) {
        l = l > 1.0 - amount ? l - amount : l + amount;
    } else {
        l = l < -amount ? l - amount : l + amount;
    }
    INT_U32 own_alpha = alpha();
    set_ahsl(1.0, h, s, l);
    value = (value & 0x00FFFFFFu) | (own_alpha << 24);
}

bool COLOUR::resolve_conflict(const COLOUR& other, INT_U8 test_only)
{
    double oa, oh, os, ol, a, h, s, l;
    other.get_ahsl(oa, oh, os, ol);
    get_ahsl(a, h, s, l);
    auto near = [](double x, double y) { return (x > y ? x - y : y - x) < 0.2; };
    if (!(near(oh, h) && near(os, s) && near(ol, l))) {
        return false;
    }
    if (!test_only) {
        INT_U32 own_alpha = alpha();
        set_ahsl(1.0, h, s, ol > 0.5 ? ol - 0.2 : ol + 0.2);
        value = (value & 0x00FFFFFFu) | (own_alpha << 24);
    }
    return true;
}

void COLOUR::set_trialpha_colour(COLOUR c1, COLOUR c2, COLOUR c3)
{
    INT_U32 wr = red(), wg = green(), wb = blue();
    INT_U32 threshold = alpha_solid_threshold;
    INT_U32 cur = 0, sum = 0;
    auto layer = [&](COLOUR c, INT_U32 weight) {
        if (c.alpha() == 0) {
            return;
        }
        INT_U32 m = c.alpha() * weight / 255;
        if (m == 0) {
            // adds only its weight
        } else if (m >= threshold) {
            cur = (cur & 0xFF000000u) | (c.value & 0x00FFFFFFu);
        } else {
            INT_U32 ch[3];
            for (int i = 0; i < 3; ++i) {
                int sh = 16 - 8 * i;
                INT_U32 s = (c.value >> sh) & 0xFF, d = (cur >> sh) & 0xFF;
                ch[i] = (s * m + d * (255 - m)) >> 8;
            }
            cur = (cur & 0xFF000000u) | (ch[0] << 16) | (ch[1] << 8) | ch[2];
        }
        sum += weight;
    };
    if (wr > 0 && c1.alpha() != 0) {
        cur = c1.value;
        sum = c1.alpha() * wr / 255;
        layer(c2, wg);
        layer(c3, wb);
    } else if (wg > 0 && c2.alpha() != 0) {
        cur = c2.value;
        sum = c2.alpha() * wg / 255;
        layer(c3, wb);
    } else if (wb > 0 && c3.alpha() != 0) {
        value = (c3.value & 0x00FFFFFFu) | ((c3.alpha() * wb / 255) << 24);
        return;
    } else {
        value = 0;
        return;
    }
    value = (cur & 0x00FFFFFFu) | ((sum > 255 ? 255 : sum) << 24);
}

void COLOUR::set_from_string(const char* text)
{
    if (!text) {
        return;
    }
    char kind = text[0];
    if (kind != '#' && kind != '%' && kind != '&' && kind != '@') {
        return;
    }
    const char* p = text + 1;
    int model = 0; // 0 plain ARGB, 1 AHSL, 2 ACMYK
    if (keyword(p, "AHSL")) {
        model = 1;
        p += 4;
    } else if (keyword(p, "ACMYK")) {
        model = 2;
        p += 5;
    }
    // Fields the text does not supply are 0, never left over from before.
    double v[5] = {0, 0, 0, 0, 0};
    double scale = 1.0;
    int count = model == 2 ? 5 : 4;

    if (kind == '#') {
        while (*p == ' ') {
            ++p;
        }
        if (model == 0) {
            // The digit count, not the length of the text, decides whether
            // alpha is given: a trailing blank must not make it invisible.
            INT_U32 n = 0;
            int digits = 0;
            for (; hex_digit(*p) >= 0; ++p, ++digits) {
                n = (n << 4) | INT_U32(hex_digit(*p));
            }
            if (digits == 0) {
                return;
            }
            value = digits <= 6 ? (n | 0xFF000000u) : n;
            return;
        }
        read_hex_pairs(p, v, count);
        scale = 255.0;
    } else if (kind == '%' || kind == '&') {
        short s[5] = {0, 0, 0, 0, 0};
        if (model == 2) {
            std::sscanf(p, "%hd,%hd,%hd,%hd,%hd", &s[0], &s[1], &s[2], &s[3], &s[4]);
        } else {
            std::sscanf(p, "%hd,%hd,%hd,%hd", &s[0], &s[1], &s[2], &s[3]);
        }
        if (model == 0) {
            INT_U32 ch[4];
            for (int i = 0; i < 4; ++i) {
                ch[i] = INT_U32(kind == '%' ? s[i] * 255 / 100 : s[i]) & 0xFF;
            }
            value = pack(ch[0], ch[1], ch[2], ch[3]);
            return;
        }
        for (int i = 0; i < count; ++i) {
            v[i] = s[i];
        }
        scale = kind == '%' ? 100.0 : 255.0;
    } else {
        if (model == 2) {
            std::sscanf(p, "%lf,%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3], &v[4]);
        } else {
            std::sscanf(p, "%lf,%lf,%lf,%lf", &v[0], &v[1], &v[2], &v[3]);
        }
        if (model == 0) {
            value = pack(trunc8(v[0] * 255.0), trunc8(v[1] * 255.0), trunc8(v[2] * 255.0), trunc8(v[3] * 255.0));
            return;
        }
    }
    for (int i = 0; i < count; ++i) {
        v[i] /= scale;
    }
    if (model == 1) {
        set_ahsl(v[0], v[1], v[2], v[3]);
    } else {
        value = acmyk_to_colour(v[0], v[1], v[2], v[3], v[4]);
    }
}
