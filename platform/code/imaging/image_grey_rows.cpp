// The grey fade over a row: the per-pixel rule, and the same four pixels
// per step with SSE2 and eight with AVX2 where the processor has it. The
// vector forms give exactly the rule's pixels: the grey's division and the
// step's e / T are multiplications whose rounding cannot reach the next
// whole number over the values that occur.
#include "image_blend.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KIVO_GREY_X86 1
#endif

namespace kivo_pixel {

void grey_fade_row_plain(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    const INT_S64 elapsed = e, duration = t;
    for (int i = 0; i < n; ++i) {
        const INT_U32 p = s[i];
        const int c[3] = {static_cast<int>(p >> 16 & 0xFF), static_cast<int>(p >> 8 & 0xFF),
                          static_cast<int>(p & 0xFF)};
        const int g = fast ? (c[0] + c[1] + c[2]) / 3 : (c[0] * 30 + c[1] * 59 + c[2] * 11) / 100;
        INT_U32 out = 0xFF;
        for (const int v : c) {
            const int moved = static_cast<int>((to_grey ? g - v : v - g) * elapsed / duration);
            out = out << 8 | static_cast<INT_U32>((to_grey ? v : g) + moved);
        }
        d[i] = out;
    }
}

#if defined(KIVO_GREY_X86) && defined(__SSE2__)

namespace {

// e / T as M / 2^24 with M = ceil(2^24 e / T), split into its high and low
// 16 bits. For a difference m of 0..255, floor(m M / 2^24) is floor(m e /
// T) while 255 / 2^24 < 1 / T, that is for T up to grey_fade_vector_limit;
// the product is taken as m Mh + floor(m Ml / 2^16), then shifted by 8,
// which stays within 16 bits.
struct STEP
{
    INT_U16 high, low;
};

STEP step_of(INT_U32 e, INT_U32 t)
{
    const INT_U64 m = ((static_cast<INT_U64>(e) << 24) + t - 1) / t;
    return {static_cast<INT_U16>(m >> 16), static_cast<INT_U16>(m & 0xFFFF)};
}

// Per pixel, lanes B, G, R, A: the weights of the grey's sum. The sums
// reach 25,500, and floor(x / 100) = floor(x * 20972 / 2^21) and floor(x /
// 3) = floor(x * 21846 / 2^16) over those ranges.
constexpr long long GREY_WEIGHTS = 0x0000001E003B000BLL, FAST_WEIGHTS = 0x0000000100010001LL;

template <bool TO_GREY> inline __m128i moved_sse2(__m128i v, __m128i g, __m128i high, __m128i low)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i diff = TO_GREY ? _mm_sub_epi16(g, v) : _mm_sub_epi16(v, g);
    const __m128i negative = _mm_cmpgt_epi16(zero, diff);
    const __m128i size = _mm_max_epi16(diff, _mm_sub_epi16(zero, diff));
    __m128i q = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(size, high), _mm_mulhi_epu16(size, low)), 8);
    q = _mm_sub_epi16(_mm_xor_si128(q, negative), negative);
    return _mm_add_epi16(TO_GREY ? v : g, q);
}

template <bool TO_GREY, bool FAST> void grey_fade_sse2(INT_U32* d, const INT_U32* s, int n, STEP step)
{
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_set1_epi64x(FAST ? FAST_WEIGHTS : GREY_WEIGHTS);
    const __m128i high = _mm_set1_epi16(static_cast<short>(step.high));
    const __m128i low = _mm_set1_epi16(static_cast<short>(step.low));
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const __m128i lo = _mm_unpacklo_epi8(p, zero), hi = _mm_unpackhi_epi8(p, zero);
        // B*wb + G*wg and R*wr in a pixel's two 32-bit lanes, then both
        // lanes hold the sum.
        __m128i sum_lo = _mm_madd_epi16(lo, weights), sum_hi = _mm_madd_epi16(hi, weights);
        sum_lo = _mm_add_epi32(sum_lo, _mm_shuffle_epi32(sum_lo, _MM_SHUFFLE(2, 3, 0, 1)));
        sum_hi = _mm_add_epi32(sum_hi, _mm_shuffle_epi32(sum_hi, _MM_SHUFFLE(2, 3, 0, 1)));
        const __m128i sums = _mm_packs_epi32(sum_lo, sum_hi);
        const __m128i grey = FAST ? _mm_mulhi_epu16(sums, _mm_set1_epi16(21846))
                                  : _mm_srli_epi16(_mm_mulhi_epu16(sums, _mm_set1_epi16(20972)), 5);
        const __m128i out_lo = moved_sse2<TO_GREY>(lo, _mm_unpacklo_epi16(grey, grey), high, low);
        const __m128i out_hi = moved_sse2<TO_GREY>(hi, _mm_unpackhi_epi16(grey, grey), high, low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_or_si128(_mm_packus_epi16(out_lo, out_hi), alpha));
    }
}

template <bool TO_GREY>
__attribute__((target("avx2"))) inline __m256i moved_avx2(__m256i v, __m256i g, __m256i high, __m256i low)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i diff = TO_GREY ? _mm256_sub_epi16(g, v) : _mm256_sub_epi16(v, g);
    const __m256i negative = _mm256_cmpgt_epi16(zero, diff);
    const __m256i size = _mm256_abs_epi16(diff);
    __m256i q = _mm256_srli_epi16(_mm256_add_epi16(_mm256_mullo_epi16(size, high), _mm256_mulhi_epu16(size, low)), 8);
    q = _mm256_sub_epi16(_mm256_xor_si256(q, negative), negative);
    return _mm256_add_epi16(TO_GREY ? v : g, q);
}

// The same in 128-bit halves: unpacking, packing and the shuffle work
// within each half, so pixels 0-3 and 4-7 come out in their order.
template <bool TO_GREY, bool FAST>
__attribute__((target("avx2"))) int grey_fade_avx2(INT_U32* d, const INT_U32* s, int n, STEP step)
{
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights = _mm256_set1_epi64x(FAST ? FAST_WEIGHTS : GREY_WEIGHTS);
    const __m256i high = _mm256_set1_epi16(static_cast<short>(step.high));
    const __m256i low = _mm256_set1_epi16(static_cast<short>(step.low));
    const __m256i alpha = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
        const __m256i lo = _mm256_unpacklo_epi8(p, zero), hi = _mm256_unpackhi_epi8(p, zero);
        __m256i sum_lo = _mm256_madd_epi16(lo, weights), sum_hi = _mm256_madd_epi16(hi, weights);
        sum_lo = _mm256_add_epi32(sum_lo, _mm256_shuffle_epi32(sum_lo, _MM_SHUFFLE(2, 3, 0, 1)));
        sum_hi = _mm256_add_epi32(sum_hi, _mm256_shuffle_epi32(sum_hi, _MM_SHUFFLE(2, 3, 0, 1)));
        const __m256i sums = _mm256_packs_epi32(sum_lo, sum_hi);
        const __m256i grey = FAST ? _mm256_mulhi_epu16(sums, _mm256_set1_epi16(21846))
                                  : _mm256_srli_epi16(_mm256_mulhi_epu16(sums, _mm256_set1_epi16(20972)), 5);
        const __m256i out_lo = moved_avx2<TO_GREY>(lo, _mm256_unpacklo_epi16(grey, grey), high, low);
        const __m256i out_hi = moved_avx2<TO_GREY>(hi, _mm256_unpackhi_epi16(grey, grey), high, low);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i),
                            _mm256_or_si256(_mm256_packus_epi16(out_lo, out_hi), alpha));
    }
    // Clean upper halves before any SSE code, as the blend rows do.
    _mm256_zeroupper();
    return i;
}

using GREY_ROW = void (*)(INT_U32*, const INT_U32*, int, STEP);
using GREY_ROW_AVX2 = int (*)(INT_U32*, const INT_U32*, int, STEP);

} // namespace

void grey_fade_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    static const GREY_ROW forms[2][2] = {{grey_fade_sse2<false, false>, grey_fade_sse2<false, true>},
                                         {grey_fade_sse2<true, false>, grey_fade_sse2<true, true>}};
    forms[to_grey][fast](d, s, n, step_of(e, t));
    const int done = n & ~3;
    grey_fade_row_plain(d + done, s + done, n - done, e, t, to_grey, fast);
}

void grey_fade_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    static const GREY_ROW_AVX2 forms[2][2] = {{grey_fade_avx2<false, false>, grey_fade_avx2<false, true>},
                                              {grey_fade_avx2<true, false>, grey_fade_avx2<true, true>}};
    const int done = forms[to_grey][fast](d, s, n, step_of(e, t));
    grey_fade_row_sse2(d + done, s + done, n - done, e, t, to_grey, fast);
}

void grey_fade_row(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    if (t == 0) {
        e = t = 1;
    }
    e = e < t ? e : t;
    if (t > grey_fade_vector_limit) {
        grey_fade_row_plain(d, s, n, e, t, to_grey, fast);
    } else if (have_avx2()) {
        grey_fade_row_avx2(d, s, n, e, t, to_grey, fast);
    } else {
        grey_fade_row_sse2(d, s, n, e, t, to_grey, fast);
    }
}

#else

void grey_fade_row_sse2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    grey_fade_row_plain(d, s, n, e, t, to_grey, fast);
}

void grey_fade_row_avx2(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    grey_fade_row_plain(d, s, n, e, t, to_grey, fast);
}

void grey_fade_row(INT_U32* d, const INT_U32* s, int n, INT_U32 e, INT_U32 t, bool to_grey, bool fast)
{
    if (t == 0) {
        e = t = 1;
    }
    grey_fade_row_plain(d, s, n, e < t ? e : t, t, to_grey, fast);
}

#endif

} // namespace kivo_pixel
