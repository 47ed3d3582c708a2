#ifndef KIVO_IMAGE_BLEND_H
#define KIVO_IMAGE_BLEND_H

// Per-pixel rules shared by the copy loops and the drawing code.
#include "colour.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kivo_pixel {

// Mixes s over d at alpha a (1 .. 254): R and B in one word, G in another,
// one multiplication per pair; divides by 256, so the result is at most 254
// per channel. d keeps its alpha.
inline INT_U32 mix(INT_U32 s, INT_U32 d, INT_U32 a)
{
    INT_U32 na = 255 - a;
    INT_U32 rb = (((s & 0xFF00FFu) * a + (d & 0xFF00FFu) * na) >> 8) & 0xFF00FFu;
    INT_U32 g = (((s & 0xFF00u) * a + (d & 0xFF00u) * na) >> 8) & 0xFF00u;
    return (d & 0xFF000000u) | rb | g;
}

// The blend of copy type 0 with threshold t.
inline INT_U32 blend(INT_U32 s, INT_U32 d, INT_U32 t)
{
    INT_U32 a = s >> 24;
    if (a == 0) {
        return d;
    }
    if (a >= t) {
        return s;
    }
    return mix(s, d, a);
}

// floor(x / 255) for x in 0 .. 65025, without a division.
inline INT_U32 div255(INT_U32 x)
{
    return (x * 0x8081u) >> 23;
}

// Copy type 0 over a row: d[i] = blend(s[i], d[i], t). The SSE2 form runs
// on every x86-64; the AVX2 form only where the processor has it, which
// blend_row checks once.
void blend_row(INT_U32* d, const INT_U32* s, int n, INT_U32 t);
void blend_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 t);
void blend_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 t);
bool have_avx2();

// Mixes one colour into a row at alpha a (1 .. 254): d[i] = mix(c, d[i], a).
// Translucent fills and panels go through it row by row. The plain form is
// the rule itself, kept to check the vector forms against; dispatch as for
// blend_row.
void mix_colour_row(INT_U32* d, int n, INT_U32 c, INT_U32 a);
// Sets a row to one colour (opaque fills and solid panel rows). Short
// rows, most of a page's fills, are set here without a call; long ones go
// to fill_row_long, which uses wide stores where the processor has them.
void fill_row_long(INT_U32* d, int n, INT_U32 c);
inline void fill_row(INT_U32* d, int n, INT_U32 c)
{
    if (n >= 64) {
        fill_row_long(d, n, c);
        return;
    }
#if defined(__SSE2__)
    if (n >= 4) {
        // Four at a time, the last four overlapping what came before.
        const __m128i v = _mm_set1_epi32(static_cast<int>(c));
        INT_U32* const last = d + n - 4;
        for (; d < last; d += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last), v);
        return;
    }
#endif
    for (int i = 0; i < n; ++i) {
        d[i] = c;
    }
}
// Sets `rows` rows of n pixels, stride words apart, to one colour: an
// opaque rectangle in one call, the processor's widest stores chosen once
// for all its rows.
void fill_rows(INT_U32* d, long stride, int n, int rows, INT_U32 c);
// Copies one run of n pixels onto `rows` rows stride words apart (a
// horizontal fade's colours on every row of its rectangle).
void copy_run_to_rows(INT_U32* d, long stride, const INT_U32* s, int n, int rows);
void mix_colour_row_plain(INT_U32* d, int n, INT_U32 c, INT_U32 a);
void mix_colour_row_sse2(INT_U32* d, int n, INT_U32 c, INT_U32 a);
void mix_colour_row_avx2(INT_U32* d, int n, INT_U32 c, INT_U32 a);

// A grey fade from s into d: each channel v of a pixel whose grey g is
// (30 R + 59 G + 11 B) / 100, or (R + G + B) / 3 when fast, becomes
// g + (v - g) x e / T (from grey) or v + (g - v) x e / T (to grey),
// truncated towards 0; the alpha becomes 255. grey_fade_row takes e at
// most T, and T 0 as full colour. The plain form is the rule itself
// (0 <= e <= T, T >= 1); the vector forms give its pixels for T up to
// grey_fade_vector_limit, beyond which grey_fade_row takes the plain one.
constexpr INT_U32 grey_fade_vector_limit = 65793;
void grey_fade_row(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast);
void grey_fade_row_plain(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast);
void grey_fade_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast);
void grey_fade_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast);

} // namespace kivo_pixel

#endif
