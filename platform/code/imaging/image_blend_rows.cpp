// The blend of copy type 0 over whole rows, and one colour mixed into a
// row: four pixels per step with SSE2, eight with AVX2 where the processor
// has it. All give exactly the per-pixel rule. In the blend, groups that
// are wholly invisible or wholly solid (most of a skin) skip the arithmetic.
#include "image_blend.h"

#include <algorithm>
#include <cstdint>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIVO_X86 1
#endif

namespace kivo_pixel {

void mix_colour_row_plain(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    for (int i = 0; i < n; ++i) {
        d[i] = mix(c, d[i], a);
    }
}

#if defined(KIVO_X86) && defined(__SSE2__)

void blend_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    int i = 0;
    // Invisible pixels are never solid: a threshold of 0 acts as 1.
    INT_U32 solid_from = t ? t : 1;
    const __m128i zero = _mm_setzero_si128();
    const __m128i alpha_mask = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    const __m128i tm1 = _mm_set1_epi32(static_cast<int>(solid_from) - 1);
    for (; i + 4 <= n; i += 4) {
        __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i a32 = _mm_srli_epi32(sv, 24);
        __m128i clear = _mm_cmpeq_epi32(a32, zero);
        __m128i solid = _mm_cmpgt_epi32(a32, tm1);
        if (_mm_movemask_epi8(clear) == 0xFFFF) {
            continue;
        }
        if (_mm_movemask_epi8(solid) == 0xFFFF) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), sv);
            continue;
        }
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        // Two pixels per half, one 16-bit lane per channel. s*a + d*(255-a)
        // is d*256 - d + (s-d)*a: the terms wrap in 16 bits but the sum (at
        // most 65025) comes out exact, with one multiplication.
        __m128i slo = _mm_unpacklo_epi8(sv, zero), shi = _mm_unpackhi_epi8(sv, zero);
        __m128i dlo = _mm_unpacklo_epi8(dv, zero), dhi = _mm_unpackhi_epi8(dv, zero);
        __m128i a16 = _mm_or_si128(a32, _mm_slli_epi32(a32, 16));
        __m128i alo = _mm_unpacklo_epi32(a16, a16), ahi = _mm_unpackhi_epi32(a16, a16);
        __m128i rlo = _mm_srli_epi16(
            _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dlo, 8), dlo), _mm_mullo_epi16(_mm_sub_epi16(slo, dlo), alo)),
            8);
        __m128i rhi = _mm_srli_epi16(
            _mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dhi, 8), dhi), _mm_mullo_epi16(_mm_sub_epi16(shi, dhi), ahi)),
            8);
        __m128i mixed = _mm_packus_epi16(rlo, rhi);
        mixed = _mm_or_si128(_mm_andnot_si128(alpha_mask, mixed), _mm_and_si128(alpha_mask, dv));
        __m128i r = _mm_or_si128(_mm_and_si128(solid, sv), _mm_andnot_si128(solid, mixed));
        r = _mm_or_si128(_mm_and_si128(clear, dv), _mm_andnot_si128(clear, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
    for (; i < n; ++i) {
        d[i] = blend(s[i], d[i], t);
    }
}

__attribute__((target("avx2"))) void blend_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    int i = 0;
    // Invisible pixels are never solid: a threshold of 0 acts as 1.
    INT_U32 solid_from = t ? t : 1;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i alpha_mask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i tm1 = _mm256_set1_epi32(static_cast<int>(solid_from) - 1);
    // Each pixel's alpha byte into the four 16-bit lanes the unpacking
    // gives it, zero above: the first two pixels of each 128-bit half, and
    // the last two.
    const __m256i alpha_lo = _mm256_setr_epi8(3, -1, 3, -1, 3, -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1, 3, -1, 3, -1, 3,
                                              -1, 3, -1, 7, -1, 7, -1, 7, -1, 7, -1);
    const __m256i alpha_hi = _mm256_add_epi8(alpha_lo, _mm256_set1_epi16(8));
    for (; i + 8 <= n; i += 8) {
        __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        __m256i a32 = _mm256_srli_epi32(sv, 24);
        __m256i clear = _mm256_cmpeq_epi32(a32, zero);
        __m256i solid = _mm256_cmpgt_epi32(a32, tm1);
        if (_mm256_movemask_epi8(clear) == -1) {
            continue;
        }
        if (_mm256_movemask_epi8(solid) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), sv);
            continue;
        }
        __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        // The same lanes as the SSE2 form, within each 128-bit half.
        __m256i slo = _mm256_unpacklo_epi8(sv, zero), shi = _mm256_unpackhi_epi8(sv, zero);
        __m256i dlo = _mm256_unpacklo_epi8(dv, zero), dhi = _mm256_unpackhi_epi8(dv, zero);
        __m256i alo = _mm256_shuffle_epi8(sv, alpha_lo), ahi = _mm256_shuffle_epi8(sv, alpha_hi);
        __m256i rlo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(dlo, 8), dlo),
                                                         _mm256_mullo_epi16(_mm256_sub_epi16(slo, dlo), alo)),
                                        8);
        __m256i rhi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(dhi, 8), dhi),
                                                         _mm256_mullo_epi16(_mm256_sub_epi16(shi, dhi), ahi)),
                                        8);
        __m256i r = _mm256_blendv_epi8(_mm256_packus_epi16(rlo, rhi), dv, alpha_mask);
        r = _mm256_blendv_epi8(r, sv, solid);
        r = _mm256_blendv_epi8(r, dv, clear);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), r);
    }
    // Leave the upper halves clean, or later SSE code (ours or a library's)
    // pays a state-transition penalty on every instruction.
    _mm256_zeroupper();
    blend_row_sse2(d + i, s + i, n - i, t);
}

// Mixing one colour: per 16-bit lane, (c*a + d*(255-a)) >> 8, with c*a
// worked out once per call. Both terms fit 16 bits (their sum is at most
// 65025). The alpha lane has weights 0 and 256, which gives d's alpha back
// unchanged. One pixel's four lanes make one 64-bit pattern.
static long long colour_times_alpha(INT_U32 c, INT_U32 a)
{
    unsigned long long r = ((c >> 16) & 0xFF) * a, g = ((c >> 8) & 0xFF) * a, b = (c & 0xFF) * a;
    return static_cast<long long>(b | g << 16 | r << 32);
}

static long long mix_weights(INT_U32 a)
{
    unsigned long long na = 255 - a;
    return static_cast<long long>(na | na << 16 | na << 32 | 256ull << 48);
}

// Two pixels in the low and high halves of v, widened to 16-bit lanes.
static inline __m128i mix_lanes(__m128i v, __m128i ca, __m128i w)
{
    return _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(v, w), ca), 8);
}

// The last 0 .. 3 pixels of a row, in the same lanes: a short row costs
// no scalar loop.
static inline void mix_colour_tail(INT_U32* d, int n, __m128i ca, __m128i w)
{
    const __m128i zero = _mm_setzero_si128();
    if (n & 2) {
        __m128i dv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(d));
        __m128i r = mix_lanes(_mm_unpacklo_epi8(dv, zero), ca, w);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(r, r));
        d += 2;
    }
    if (n & 1) {
        __m128i dv = _mm_cvtsi32_si128(static_cast<int>(*d));
        __m128i r = mix_lanes(_mm_unpacklo_epi8(dv, zero), ca, w);
        *d = static_cast<INT_U32>(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
    }
}

void mix_colour_row_sse2(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    int i = 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i ca = _mm_set1_epi64x(colour_times_alpha(c, a));
    const __m128i w = _mm_set1_epi64x(mix_weights(a));
    for (; i + 4 <= n; i += 4) {
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        __m128i lo = mix_lanes(_mm_unpacklo_epi8(dv, zero), ca, w);
        __m128i hi = mix_lanes(_mm_unpackhi_epi8(dv, zero), ca, w);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
    }
    if (i < n) {
        mix_colour_tail(d + i, n - i, ca, w);
    }
}

__attribute__((target("avx2"))) void mix_colour_row_avx2(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    int i = 0;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ca = _mm256_set1_epi64x(colour_times_alpha(c, a));
    const __m256i w = _mm256_set1_epi64x(mix_weights(a));
    for (; i + 8 <= n; i += 8) {
        __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        __m256i lo = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpacklo_epi8(dv, zero), w), ca), 8);
        __m256i hi = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(_mm256_unpackhi_epi8(dv, zero), w), ca), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), _mm256_packus_epi16(lo, hi));
    }
    const __m128i ca4 = _mm256_castsi256_si128(ca), w4 = _mm256_castsi256_si128(w);
    // As in blend_row_avx2: clean upper halves before any SSE code; the
    // rest of the row needs only the lower ones.
    _mm256_zeroupper();
    if (i + 4 <= n) {
        const __m128i zero4 = _mm_setzero_si128();
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        __m128i lo = mix_lanes(_mm_unpacklo_epi8(dv, zero4), ca4, w4);
        __m128i hi = mix_lanes(_mm_unpackhi_epi8(dv, zero4), ca4, w4);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_packus_epi16(lo, hi));
        i += 4;
    }
    if (i < n) {
        mix_colour_tail(d + i, n - i, ca4, w4);
    }
}

bool have_avx2()
{
    // Safe before main too: the probe is initialised here, not by a
    // constructor that may not have run yet.
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

void blend_row(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    if (have_avx2()) {
        blend_row_avx2(d, s, n, t);
    } else {
        blend_row_sse2(d, s, n, t);
    }
}

// Four 32-byte stores per turn: the compiler's own loop for std::fill
// stores 16 bytes at a time, a quarter slower on large fills.
__attribute__((target("avx2"))) static void fill_row_avx2(INT_U32* d, int n, INT_U32 c)
{
    const __m256i v = _mm256_set1_epi32(static_cast<int>(c));
    int i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i* p = reinterpret_cast<__m256i*>(d + i);
        _mm256_storeu_si256(p, v);
        _mm256_storeu_si256(p + 1, v);
        _mm256_storeu_si256(p + 2, v);
        _mm256_storeu_si256(p + 3, v);
    }
    for (; i + 8 <= n; i += 8) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), v);
    }
    _mm256_zeroupper();
    for (; i < n; ++i) {
        d[i] = c;
    }
}

void fill_row_long(INT_U32* d, int n, INT_U32 c)
{
    if (n >= 64 && have_avx2()) {
        fill_row_avx2(d, n, c);
    } else {
        std::fill(d, d + (n > 0 ? n : 0), c);
    }
}

// Per row one unaligned store at each end and aligned ones between: a
// store across two cache lines costs two, and a small rectangle's rows
// start anywhere. Rows of fewer than eight pixels take fill_row.
__attribute__((target("avx2"))) static void fill_rows_avx2(INT_U32* d, long stride, int n, int rows, INT_U32 c)
{
    const __m256i v = _mm256_set1_epi32(static_cast<int>(c));
    for (int j = 0; j < rows; ++j, d += stride) {
        INT_U32* const last = d + n - 8;
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(last);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v);
        std::uintptr_t a = (reinterpret_cast<std::uintptr_t>(d) + 32) & ~std::uintptr_t{31};
        for (; a + 128 <= end; a += 128) {
            auto* p = reinterpret_cast<__m256i*>(a);
            _mm256_store_si256(p, v);
            _mm256_store_si256(p + 1, v);
            _mm256_store_si256(p + 2, v);
            _mm256_store_si256(p + 3, v);
        }
        for (; a < end; a += 32) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(a), v);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(last), v);
    }
    _mm256_zeroupper();
}

// The same with 16-byte stores, for short rows: an unaligned end store
// then straddles two cache lines less often, which is most of the cost of
// a row of a few dozen pixels.
static void fill_rows_sse2(INT_U32* d, long stride, int n, int rows, INT_U32 c)
{
    const __m128i v = _mm_set1_epi32(static_cast<int>(c));
    for (int j = 0; j < rows; ++j, d += stride) {
        INT_U32* const last = d + n - 4;
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(last);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        std::uintptr_t a = (reinterpret_cast<std::uintptr_t>(d) + 16) & ~std::uintptr_t{15};
        for (; a + 64 <= end; a += 64) {
            auto* p = reinterpret_cast<__m128i*>(a);
            _mm_store_si128(p, v);
            _mm_store_si128(p + 1, v);
            _mm_store_si128(p + 2, v);
            _mm_store_si128(p + 3, v);
        }
        for (; a < end; a += 16) {
            _mm_store_si128(reinterpret_cast<__m128i*>(a), v);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(last), v);
    }
}

void fill_rows(INT_U32* d, long stride, int n, int rows, INT_U32 c)
{
    if (n >= 64 && have_avx2()) {
        fill_rows_avx2(d, stride, n, rows, c);
        return;
    }
    if (n >= 4) {
        fill_rows_sse2(d, stride, n, rows, c);
        return;
    }
    for (int j = 0; j < rows; ++j, d += stride) {
        fill_row(d, n, c);
    }
}

// As fill_rows_avx2: aligned stores between one unaligned store at each
// end; the run itself is read unaligned, from the first level cache.
__attribute__((target("avx2"))) static void copy_run_to_rows_avx2(INT_U32* d, long stride, const INT_U32* s, int n,
                                                                  int rows)
{
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s));
    const __m256i final = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + n - 8));
    for (int j = 0; j < rows; ++j, d += stride) {
        INT_U32* const last = d + n - 8;
        const std::uintptr_t end = reinterpret_cast<std::uintptr_t>(last);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), first);
        std::uintptr_t a = (reinterpret_cast<std::uintptr_t>(d) + 32) & ~std::uintptr_t{31};
        const INT_U32* from = s + (a - reinterpret_cast<std::uintptr_t>(d)) / sizeof(INT_U32);
        for (; a + 128 <= end; a += 128, from += 32) {
            auto* p = reinterpret_cast<__m256i*>(a);
            auto* q = reinterpret_cast<const __m256i*>(from);
            const __m256i v0 = _mm256_loadu_si256(q), v1 = _mm256_loadu_si256(q + 1);
            const __m256i v2 = _mm256_loadu_si256(q + 2), v3 = _mm256_loadu_si256(q + 3);
            _mm256_store_si256(p, v0);
            _mm256_store_si256(p + 1, v1);
            _mm256_store_si256(p + 2, v2);
            _mm256_store_si256(p + 3, v3);
        }
        for (; a < end; a += 32, from += 8) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(a),
                               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)));
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(last), final);
    }
    _mm256_zeroupper();
}

void copy_run_to_rows(INT_U32* d, long stride, const INT_U32* s, int n, int rows)
{
    if (n >= 8 && have_avx2()) {
        copy_run_to_rows_avx2(d, stride, s, n, rows);
        return;
    }
    for (int j = 0; j < rows; ++j, d += stride) {
        std::copy(s, s + n, d);
    }
}

void mix_colour_row(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    if (have_avx2()) {
        mix_colour_row_avx2(d, n, c, a);
    } else {
        mix_colour_row_sse2(d, n, c, a);
    }
}

#else

void blend_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    for (int i = 0; i < n; ++i) {
        d[i] = blend(s[i], d[i], t);
    }
}

void blend_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    blend_row_sse2(d, s, n, t);
}

bool have_avx2()
{
    return false;
}

void blend_row(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    blend_row_sse2(d, s, n, t);
}

void mix_colour_row_sse2(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    mix_colour_row_plain(d, n, c, a);
}

void mix_colour_row_avx2(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    mix_colour_row_plain(d, n, c, a);
}

void mix_colour_row(INT_U32* d, int n, INT_U32 c, INT_U32 a)
{
    mix_colour_row_plain(d, n, c, a);
}

void fill_row_long(INT_U32* d, int n, INT_U32 c)
{
    std::fill(d, d + (n > 0 ? n : 0), c);
}

void fill_rows(INT_U32* d, long stride, int n, int rows, INT_U32 c)
{
    for (int j = 0; j < rows; ++j, d += stride) {
        fill_row(d, n, c);
    }
}

void copy_run_to_rows(INT_U32* d, long stride, const INT_U32* s, int n, int rows)
{
    for (int j = 0; j < rows; ++j, d += stride) {
        std::copy(s, s + (n > 0 ? n : 0), d);
    }
}

#endif

} // namespace kivo_pixel
