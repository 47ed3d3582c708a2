// The blend of copy type 0 over whole rows: four pixels per step with
// SSE2, eight with AVX2 where the processor has it. Both give exactly the
// per-pixel rule. Groups that are wholly invisible or wholly solid (most of
// a skin) skip the arithmetic.
#include "image_blend.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIVO_X86 1
#endif

namespace kivo_pixel {

#if defined(KIVO_X86) && defined(__SSE2__)

void blend_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    int i = 0;
    // Invisible pixels are never solid: a threshold of 0 acts as 1.
    INT_U32 solid_from = t ? t : 1;
    const __m128i zero = _mm_setzero_si128();
    const __m128i alpha_mask = _mm_set1_epi32((int)0xFF000000u);
    const __m128i tm1 = _mm_set1_epi32((int)solid_from - 1);
    for (; i + 4 <= n; i += 4) {
        __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i a32 = _mm_srli_epi32(sv, 24);
        __m128i clear = _mm_cmpeq_epi32(a32, zero);
        __m128i solid = _mm_cmpgt_epi32(a32, tm1);
        if (_mm_movemask_epi8(clear) == 0xFFFF)
            continue;
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
        __m128i rlo = _mm_srli_epi16(_mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dlo, 8), dlo),
                                                   _mm_mullo_epi16(_mm_sub_epi16(slo, dlo), alo)),
                                     8);
        __m128i rhi = _mm_srli_epi16(_mm_add_epi16(_mm_sub_epi16(_mm_slli_epi16(dhi, 8), dhi),
                                                   _mm_mullo_epi16(_mm_sub_epi16(shi, dhi), ahi)),
                                     8);
        __m128i mixed = _mm_packus_epi16(rlo, rhi);
        mixed = _mm_or_si128(_mm_andnot_si128(alpha_mask, mixed), _mm_and_si128(alpha_mask, dv));
        __m128i r = _mm_or_si128(_mm_and_si128(solid, sv), _mm_andnot_si128(solid, mixed));
        r = _mm_or_si128(_mm_and_si128(clear, dv), _mm_andnot_si128(clear, r));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
    for (; i < n; ++i)
        d[i] = blend(s[i], d[i], t);
}

__attribute__((target("avx2"))) void blend_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    int i = 0;
    // Invisible pixels are never solid: a threshold of 0 acts as 1.
    INT_U32 solid_from = t ? t : 1;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i alpha_mask = _mm256_set1_epi32((int)0xFF000000u);
    const __m256i tm1 = _mm256_set1_epi32((int)solid_from - 1);
    for (; i + 8 <= n; i += 8) {
        __m256i sv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        __m256i a32 = _mm256_srli_epi32(sv, 24);
        __m256i clear = _mm256_cmpeq_epi32(a32, zero);
        __m256i solid = _mm256_cmpgt_epi32(a32, tm1);
        if (_mm256_movemask_epi8(clear) == -1)
            continue;
        if (_mm256_movemask_epi8(solid) == -1) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), sv);
            continue;
        }
        __m256i dv = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        // The same lanes as the SSE2 form, within each 128-bit half.
        __m256i slo = _mm256_unpacklo_epi8(sv, zero), shi = _mm256_unpackhi_epi8(sv, zero);
        __m256i dlo = _mm256_unpacklo_epi8(dv, zero), dhi = _mm256_unpackhi_epi8(dv, zero);
        __m256i a16 = _mm256_or_si256(a32, _mm256_slli_epi32(a32, 16));
        __m256i alo = _mm256_unpacklo_epi32(a16, a16), ahi = _mm256_unpackhi_epi32(a16, a16);
        __m256i rlo = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(dlo, 8), dlo),
                             _mm256_mullo_epi16(_mm256_sub_epi16(slo, dlo), alo)),
            8);
        __m256i rhi = _mm256_srli_epi16(
            _mm256_add_epi16(_mm256_sub_epi16(_mm256_slli_epi16(dhi, 8), dhi),
                             _mm256_mullo_epi16(_mm256_sub_epi16(shi, dhi), ahi)),
            8);
        __m256i mixed = _mm256_packus_epi16(rlo, rhi);
        mixed = _mm256_blendv_epi8(mixed, dv, alpha_mask);
        __m256i r = _mm256_blendv_epi8(mixed, sv, solid);
        r = _mm256_blendv_epi8(r, dv, clear);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), r);
    }
    // Leave the upper halves clean, or later SSE code (ours or a library's)
    // pays a state-transition penalty on every instruction.
    _mm256_zeroupper();
    blend_row_sse2(d + i, s + i, n - i, t);
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
    if (have_avx2())
        blend_row_avx2(d, s, n, t);
    else
        blend_row_sse2(d, s, n, t);
}

#else

void blend_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 t)
{
    for (int i = 0; i < n; ++i)
        d[i] = blend(s[i], d[i], t);
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

#endif

} // namespace kivo_pixel
