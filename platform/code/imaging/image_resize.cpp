// IMAGE::resize and the loops of the two-pass filter.
#include "image.h"

#include "errors.h"
#include "image_codec_util.h"
#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The non-zero run of one output pixel's weights: products with a zero
// weight truncate to 0, so leaving them out changes nothing.
struct Taps
{
    const double* weights;
    long first, count;
};

std::vector<Taps> trimmed_taps(const LineContribType& c)
{
    std::vector<Taps> out((std::size_t)c.line_length);
    for (long i = 0; i < c.line_length; ++i) {
        const PixelContribType& p = c.rows[i];
        long a = p.left, b = p.right;
        while (a <= b && p.weights[a - p.left] == 0.0)
            ++a;
        while (b >= a && p.weights[b - p.left] == 0.0)
            --b;
        out[(std::size_t)i] = {p.weights + (a - p.left), a, b - a + 1};
    }
    return out;
}

inline INT_U32 pack_sums(const INT_S32 s[4])
{
    return (INT_U32(s[3] & 0xFF) << 24) | (INT_U32(s[2] & 0xFF) << 16) |
           (INT_U32(s[1] & 0xFF) << 8) | INT_U32(s[0] & 0xFF);
}

#if defined(__SSE2__)
// Lanes hold B, G (lo) and R, A (hi) sums; each masked to 8 bits.
inline INT_U32 pack_lanes(__m128i lo, __m128i hi)
{
    __m128i v = _mm_and_si128(_mm_unpacklo_epi64(lo, hi), _mm_set1_epi32(0xFF));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    return (INT_U32)_mm_cvtsi128_si32(v);
}

// One pixel as four doubles: B, G in the first pair, R, A in the second.
inline void unpack_pd(INT_U32 c, __m128d& bg, __m128d& ra)
{
    __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128((int)c), zero), zero);
    bg = _mm_cvtepi32_pd(v);
    ra = _mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0x0E));
}
#endif

} // namespace

namespace kivo_resample {

COLOUR scale_one(const COLOUR* src, long step, const PixelContribType& pc)
{
    INT_S32 sum[4] = {0, 0, 0, 0};
    for (long j = pc.left; j <= pc.right; ++j) {
        INT_U32 c = src[j * step];
        double w = pc.weights[j - pc.left];
        for (int k = 0; k < 4; ++k)
            sum[k] += (INT_S32)((double)((c >> (8 * k)) & 0xFF) * w);
    }
    return pack_sums(sum);
}

void scale_rows(const COLOUR* src, long src_stride, long rows, COLOUR* dst, long dst_stride,
                const LineContribType& contrib)
{
    std::vector<Taps> taps = trimmed_taps(contrib);
    long used = 0; // source pixels any output reads
    for (const Taps& t : taps)
        used = std::max(used, t.first + t.count);
#if defined(__SSE2__)
    // Each source row is turned into doubles once; every output pixel then
    // costs two multiplications, two truncations and two additions per tap.
    double* row_d = (double*)std::malloc(sizeof(double) * 4 * (std::size_t)(used > 0 ? used : 1));
#else
    double* row_d = nullptr;
#endif
    for (long r = 0; r < rows; ++r) {
        const COLOUR* s = src + r * src_stride;
        COLOUR* d = dst + r * dst_stride;
#if defined(__SSE2__)
        if (row_d) {
            for (long j = 0; j < used; ++j) {
                __m128d bg, ra;
                unpack_pd(s[j], bg, ra);
                _mm_storeu_pd(row_d + 4 * j, bg);
                _mm_storeu_pd(row_d + 4 * j + 2, ra);
            }
            for (long i = 0; i < contrib.line_length; ++i) {
                const Taps& t = taps[(std::size_t)i];
                __m128i lo = _mm_setzero_si128(), hi = _mm_setzero_si128();
                const double* p = row_d + 4 * t.first;
                for (long k = 0; k < t.count; ++k, p += 4) {
                    __m128d w = _mm_set1_pd(t.weights[k]);
                    lo = _mm_add_epi32(lo, _mm_cvttpd_epi32(_mm_mul_pd(_mm_loadu_pd(p), w)));
                    hi = _mm_add_epi32(hi, _mm_cvttpd_epi32(_mm_mul_pd(_mm_loadu_pd(p + 2), w)));
                }
                d[i] = pack_lanes(lo, hi);
            }
            continue;
        }
#endif
        for (long i = 0; i < contrib.line_length; ++i)
            d[i] = scale_one(s, 1, contrib.rows[i]);
    }
    std::free(row_d);
}

// The vertical pass, walked by output rows so that every read and write
// runs along memory; each output pixel still sums its own column.
void scale_columns(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, long columns,
                   const LineContribType& contrib)
{
    std::vector<Taps> taps = trimmed_taps(contrib);
    std::vector<INT_S32> acc((std::size_t)columns * 4 + 4);
    for (long i = 0; i < contrib.line_length; ++i) {
        const Taps& t = taps[(std::size_t)i];
        COLOUR* d = dst + i * dst_stride;
#if defined(__SSE2__)
        INT_S32* a = acc.data();
        std::fill(acc.begin(), acc.end(), 0);
        for (long k = 0; k < t.count; ++k) {
            const COLOUR* s = src + (t.first + k) * src_stride;
            __m128d w = _mm_set1_pd(t.weights[k]);
            for (long x = 0; x < columns; ++x) {
                __m128d bg, ra;
                unpack_pd(s[x], bg, ra);
                __m128i sum = _mm_unpacklo_epi64(_mm_cvttpd_epi32(_mm_mul_pd(bg, w)),
                                                 _mm_cvttpd_epi32(_mm_mul_pd(ra, w)));
                __m128i* slot = reinterpret_cast<__m128i*>(a + 4 * x);
                _mm_storeu_si128(slot, _mm_add_epi32(_mm_loadu_si128(slot), sum));
            }
        }
        for (long x = 0; x < columns; ++x)
            d[x] = pack_sums(a + 4 * x);
#else
        for (long x = 0; x < columns; ++x)
            d[x] = scale_one(src + x, src_stride, contrib.rows[i]);
#endif
    }
}

} // namespace kivo_resample

namespace {

// A derived side: 0 for what an empty image cannot give, and never more
// than an image side can hold.
int derived_side(double v)
{
    if (!(v >= 0.0))
        return 0;
    return v > 32767.0 ? 32767 : (int)v;
}

double ratio(double a, double b)
{
    if (b == 0.0)
        return a > 0.0 ? std::numeric_limits<double>::infinity()
                       : std::numeric_limits<double>::quiet_NaN();
    return a / b;
}

} // namespace

void IMAGE::resize(short w, short h, INT_U8 quality) { resize_to(w, h, quality, true); }

bool image_resize_for_read(IMAGE& image, short w, short h, INT_U8 quality)
{
    return image.resize_to(w, h, quality, false);
}

bool IMAGE::resize_to(short w, short h, INT_U8 quality, bool fatal)
{
    if (locked)
        return true;
    int rw = w == -1 ? width : w;
    int rh = h == -1 ? height : h;
    bool height_follows = false;
    if (keep_aspect && (w != -1 || h != -1)) {
        if (h == -1)
            height_follows = true;
        else if (w == -1)
            height_follows = false;
        else
            height_follows = ratio(width, w) > ratio(height, h);
    }
    if (rw < 0 || rh < 0)
        return true;
    if (max_width > 0 && max_width < rw)
        rw = max_width;
    if (max_height > 0 && max_height < rh)
        rh = max_height;
    if (keep_aspect) {
        int box_w = rw, box_h = rh;
        if (height_follows)
            rh = width ? derived_side((double)height * rw / width) : 0;
        else
            rw = height ? derived_side((double)width * rh / height) : 0;
        if ((max_width > 0 && rw > max_width) || (max_height > 0 && rh > max_height)) {
            return resize_to((short)box_w, (short)box_h, !use_quick_resize, fatal);
        }
    }
    if (rw == width && rh == height) {
        mark_dirty_area(x, y, x + width - 1, y + height - 1);
        return true;
    }
    COLOUR* old = pixels;
    int ow = width, oh = height;
    long os = stride;
    INT_S16 keep_max_w = max_width, keep_max_h = max_height;
    INT_S16 keep_area[4] = {active_x1, active_y1, active_x2, active_y2};
    pixels = nullptr;
    if (!image_reset_for_read(*this, rw, rh)) {
        if (fatal)
            display_error(ERR_IMAGE_MEMORY);
        // A reader's picture stays as it was decoded.
        pixels = old;
        width = (INT_S16)ow;
        height = (INT_S16)oh;
        stride = (INT_S32)os;
        active_x1 = keep_area[0], active_y1 = keep_area[1], active_x2 = keep_area[2], active_y2 = keep_area[3];
        max_width = keep_max_w;
        max_height = keep_max_h;
        return false;
    }
    max_width = keep_max_w;
    max_height = keep_max_h;
    if (old && pixels && width > 0 && height > 0) {
        if (quality == 0) {
            // 16.16 steps in 64 bits: 32767 x 65536 only just fits 32.
            INT_U64 step_x = ((INT_U64)ow << 16) / (INT_U64)width;
            INT_U64 step_y = ((INT_U64)oh << 16) / (INT_U64)height;
            INT_U64 acc_y = 0;
            long src_row = 0;
            for (int j = 0; j < height; ++j) {
                const COLOUR* s = old + src_row * os;
                COLOUR* d = pixels + (long)j * stride;
                INT_U64 pos = 0;
                for (int i = 0; i < width; ++i, pos += step_x)
                    d[i] = s[pos >> 16];
                acc_y += step_y;
                src_row += (long)(acc_y >> 16);
                acc_y &= 0xFFFF;
            }
        } else {
            C2PassScale<CBilinearFilter> scaler;
            scaler.Scale(old, (INT_U32)ow, (INT_U32)os, (INT_U32)oh, pixels, (INT_U32)width,
                         (INT_U32)stride, (INT_U32)height);
        }
    }
    std::free(old);
    return true;
}
