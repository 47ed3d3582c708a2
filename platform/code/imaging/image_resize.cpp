// IMAGE::resize and the loops of the two-pass filter.
#include "image.h"

#include "errors.h"
#include "image_codec_util.h"
#include "image_resize_plain.h"
#include "resample.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

inline INT_U32 pack_sums(const INT_S32 s[4])
{
    return (INT_U32(s[3] & 0xFF) << 24) | (INT_U32(s[2] & 0xFF) << 16) | (INT_U32(s[1] & 0xFF) << 8) |
           INT_U32(s[0] & 0xFF);
}

#if defined(__SSE2__)
// Every product is (INT_S32)(channel * weight). For a weight in [0, 1] the
// same 256 results mostly come from (channel * m) >> 16 with one whole m:
// the fractions p/q (q <= 255) either side of the weight are at least
// 1/65025 apart, more than a step of 1/65536, so w x 65536 rounded up or
// down is such an m. Each m is checked against all 256 channel values, as
// a double product may round onto a whole number. 65536 keeps the channel
// as it is. The rest (negative, above 1, or just below some p/q where the
// double products round up for some channels and not for others) are
// loose taps, multiplied in doubles.
const INT_S32 kLoose = -1;
const INT_S32 kWhole = 65536;

// All 256 without an early way out, which lets the loop be vectorised.
bool same_products(double w, INT_S32 m)
{
    INT_S32 differ = 0;
    for (INT_S32 c = 0; c < 256; ++c) {
        differ |= static_cast<INT_S32>(static_cast<double>(c) * w) ^ ((c * m) >> 16);
    }
    return differ == 0;
}

INT_S32 fixed_multiplier(double w)
{
    if (!(w >= 0.0 && w <= 1.0)) {
        return kLoose;
    }
    double x = w * 65536.0;
    INT_S32 up = static_cast<INT_S32>(std::ceil(x)), down = static_cast<INT_S32>(std::floor(x));
    if (same_products(w, up)) {
        return up;
    }
    if (down != up && same_products(w, down)) {
        return down;
    }
    return kLoose;
}

// A pass's weights as multipliers, found once per distinct weight: a scale
// has few (two or three when doubling), and each costs 256 checks.
class MultiplierCache
{
public:
    INT_S32 get(double w)
    {
        INT_U64 bits;
        std::memcpy(&bits, &w, sizeof bits);
        Slot& s = slots[(bits * 0x9E3779B97F4A7C15ull) >> 56];
        if (!s.used || s.bits != bits) {
            s = {bits, fixed_multiplier(w), true};
        }
        return s.m;
    }

private:
    struct Slot
    {
        INT_U64 bits = 0;
        INT_S32 m = 0;
        bool used = false;
    };
    Slot slots[256];
};

// A tap the multipliers cannot give: output pixel, source pixel, weight.
struct LooseTap
{
    long out, src;
    double weight;
};

// One pass in fixed point. Each output pixel reads `count` source pixels
// from `first`, with the multipliers mult[i * taps ...]; zero weights at
// either end are left out (their products truncate to 0). A loose tap has
// the multiplier 0 and its products are added afterwards: only the low
// byte of each channel's sum is kept, so the order of the sum is free.
struct FixedTaps
{
    long taps = 0; // the most any output pixel reads
    long used = 0; // source pixels any output pixel reads
    std::vector<long> first, count;
    std::vector<INT_S32> mult;
    std::vector<LooseTap> loose; // by output pixel
    bool any_whole = false;
};

FixedTaps fixed_taps(const LineContribType& c)
{
    FixedTaps f;
    std::size_t n = static_cast<std::size_t>(std::max(c.line_length, 0L));
    f.first.assign(n, 0);
    f.count.assign(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const PixelContribType& p = c.rows[i];
        long a = p.left, b = p.right;
        while (a <= b && p.weights[a - p.left] == 0.0) {
            ++a;
        }
        while (b >= a && p.weights[b - p.left] == 0.0) {
            --b;
        }
        f.first[i] = b >= a ? a : 0;
        f.count[i] = b >= a ? b - a + 1 : 0;
        f.taps = std::max(f.taps, f.count[i]);
        f.used = std::max(f.used, f.first[i] + f.count[i]);
    }
    f.mult.assign(n * static_cast<std::size_t>(f.taps), 0);
    MultiplierCache cache;
    for (std::size_t i = 0; i < n; ++i) {
        const PixelContribType& p = c.rows[i];
        for (long k = 0; k < f.count[i]; ++k) {
            double w = p.weights[f.first[i] + k - p.left];
            INT_S32 m = cache.get(w);
            if (m == kLoose) {
                f.loose.push_back({static_cast<long>(i), f.first[i] + k, w});
                m = 0;
            }
            f.any_whole |= m == kWhole;
            f.mult[i * static_cast<std::size_t>(f.taps) + static_cast<std::size_t>(k)] = m;
        }
    }
    return f;
}

// Two output pixels of the horizontal pass side by side, one tap: their
// source pixels, and the multipliers for their four channels each.
struct PairTap
{
    __m128i mult;  // 16-bit multipliers: mulhi gives (c * m) >> 16
    __m128i whole; // all ones where the weight keeps the channel
    long a, b;
};

std::vector<PairTap> pair_taps(const FixedTaps& f)
{
    std::size_t n = f.first.size(), taps = static_cast<std::size_t>(f.taps);
    std::vector<PairTap> out((n + 1) / 2 * taps);
    for (std::size_t i = 0; i < n; i += 2) {
        // Every pixel reads `taps` sources; a short run starts early near
        // the end so that no read passes the source.
        long start[2] = {0, 0};
        for (std::size_t h = 0; h < 2 && i + h < n; ++h) {
            start[h] = std::min(f.first[i + h], f.used - f.taps);
        }
        for (std::size_t k = 0; k < taps; ++k) {
            INT_U16 lane_m[2] = {0, 0}, lane_w[2] = {0, 0};
            for (std::size_t h = 0; h < 2 && i + h < n; ++h) {
                std::size_t o = i + h;
                long t = start[h] + static_cast<long>(k) - f.first[o];
                if (t < 0 || t >= f.count[o]) {
                    continue;
                }
                INT_S32 v = f.mult[o * taps + static_cast<std::size_t>(t)];
                if (v == kWhole) {
                    lane_w[h] = 0xFFFF;
                } else if (v > 0) {
                    lane_m[h] = static_cast<INT_U16>(v);
                }
            }
            PairTap& e = out[i / 2 * taps + k];
            const short m0 = static_cast<short>(lane_m[0]), m1 = static_cast<short>(lane_m[1]);
            const short w0 = static_cast<short>(lane_w[0]), w1 = static_cast<short>(lane_w[1]);
            e.mult = _mm_set_epi16(m1, m1, m1, m1, m0, m0, m0, m0);
            e.whole = _mm_set_epi16(w1, w1, w1, w1, w0, w0, w0, w0);
            e.a = start[0] + static_cast<long>(k);
            e.b = start[1] + static_cast<long>(k);
        }
    }
    return out;
}

// The horizontal pass over one row. The 16-bit sums wrap, but only their
// low bytes are kept, and those are the 32-bit sums' own.
template <bool Whole> void fixed_row(const COLOUR* s, COLOUR* d, long n, const PairTap* table, long taps)
{
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    for (long i = 0; i < n; i += 2, table += taps) {
        __m128i acc = zero;
        for (long k = 0; k < taps; ++k) {
            const PairTap& e = table[k];
            __m128i px = _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(s[e.a])),
                                            _mm_cvtsi32_si128(static_cast<int>(s[e.b])));
            px = _mm_unpacklo_epi8(px, zero);
            acc = _mm_add_epi16(acc, _mm_mulhi_epu16(px, e.mult));
            if (Whole) {
                acc = _mm_add_epi16(acc, _mm_and_si128(px, e.whole));
            }
        }
        __m128i out = _mm_packus_epi16(_mm_and_si128(acc, low), zero);
        if (i + 1 < n) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(d + i), out);
        } else {
            d[i] = static_cast<INT_U32>(_mm_cvtsi128_si32(out));
        }
    }
}

// One pixel as four doubles: B, G in the first pair, R, A in the second.
inline void unpack_pd(INT_U32 c, __m128d& bg, __m128d& ra)
{
    __m128i zero = _mm_setzero_si128();
    __m128i v = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(c)), zero), zero);
    bg = _mm_cvtepi32_pd(v);
    ra = _mm_cvtepi32_pd(_mm_shuffle_epi32(v, 0x0E));
}

// Lanes hold B, G (lo) and R, A (hi) sums; each masked to 8 bits.
inline INT_U32 pack_lanes(__m128i lo, __m128i hi)
{
    __m128i v = _mm_and_si128(_mm_unpacklo_epi64(lo, hi), _mm_set1_epi32(0xFF));
    v = _mm_packs_epi32(v, v);
    v = _mm_packus_epi16(v, v);
    return static_cast<INT_U32>(_mm_cvtsi128_si32(v));
}

// One loose tap's products, each channel's truncated product in its byte.
inline __m128i products_in_doubles(INT_U32 c, double w)
{
    __m128d bg, ra;
    unpack_pd(c, bg, ra);
    __m128d wv = _mm_set1_pd(w);
    return _mm_cvtsi32_si128(
        static_cast<int>(pack_lanes(_mm_cvttpd_epi32(_mm_mul_pd(bg, wv)), _mm_cvttpd_epi32(_mm_mul_pd(ra, wv)))));
}

// A pixel's sums, low bytes only, plus one loose tap's products.
inline COLOUR add_loose(COLOUR d, INT_U32 c, double w)
{
    __m128i sums = _mm_cvtsi32_si128(static_cast<int>(d));
    return static_cast<INT_U32>(_mm_cvtsi128_si32(_mm_add_epi8(sums, products_in_doubles(c, w))));
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
        for (int k = 0; k < 4; ++k) {
            sum[k] += static_cast<INT_S32>(static_cast<double>((c >> (8 * k)) & 0xFF) * w);
        }
    }
    return pack_sums(sum);
}

void scale_rows_plain(const COLOUR* src, long src_stride, long rows, COLOUR* dst, long dst_stride,
                      const LineContribType& contrib)
{
    for (long r = 0; r < rows; ++r) {
        for (long i = 0; i < contrib.line_length; ++i) {
            dst[r * dst_stride + i] = scale_one(src + r * src_stride, 1, contrib.rows[i]);
        }
    }
}

void scale_columns_plain(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, long columns,
                         const LineContribType& contrib)
{
    for (long i = 0; i < contrib.line_length; ++i) {
        for (long x = 0; x < columns; ++x) {
            dst[i * dst_stride + x] = scale_one(src + x, src_stride, contrib.rows[i]);
        }
    }
}

// The weights of each output column become 16-bit multipliers once per
// pass; two output pixels are then summed together in 16-bit lanes.
void scale_rows(const COLOUR* src, long src_stride, long rows, COLOUR* dst, long dst_stride,
                const LineContribType& contrib)
{
#if defined(__SSE2__)
    FixedTaps f = fixed_taps(contrib);
    if (f.taps > 0 && f.taps <= f.used) {
        std::vector<PairTap> table = pair_taps(f);
        long n = contrib.line_length;
        for (long r = 0; r < rows; ++r) {
            const COLOUR* s = src + r * src_stride;
            COLOUR* d = dst + r * dst_stride;
            if (f.any_whole) {
                fixed_row<true>(s, d, n, table.data(), f.taps);
            } else {
                fixed_row<false>(s, d, n, table.data(), f.taps);
            }
            for (const LooseTap& t : f.loose) {
                d[t.out] = add_loose(d[t.out], s[t.src], t.weight);
            }
        }
        return;
    }
#endif
    scale_rows_plain(src, src_stride, rows, dst, dst_stride, contrib);
}

// The vertical pass, walked by output rows so that every read and write
// runs along memory; four pixels at a time, each summing its own column.
void scale_columns(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, long columns,
                   const LineContribType& contrib)
{
#if defined(__SSE2__)
    FixedTaps f = fixed_taps(contrib);
    std::vector<const COLOUR*> rows(static_cast<std::size_t>(f.taps) + 1);
    struct Lanes
    {
        __m128i v;
    };
    std::vector<Lanes> mult(static_cast<std::size_t>(f.taps) + 1);
    std::vector<char> whole(static_cast<std::size_t>(f.taps) + 1);
    const __m128i zero = _mm_setzero_si128(), low = _mm_set1_epi16(0xFF);
    auto loose = f.loose.begin();
    for (long i = 0; i < contrib.line_length; ++i) {
        COLOUR* d = dst + i * dst_stride;
        std::size_t ii = static_cast<std::size_t>(i);
        long count = f.count[ii];
        const INT_S32* m = f.mult.data() + ii * static_cast<std::size_t>(f.taps);
        if (count == 1 && m[0] == kWhole) {
            // The row as it is.
            std::memmove(d, src + f.first[ii] * src_stride,
                         sizeof(COLOUR) * static_cast<std::size_t>(std::max(columns, 0L)));
            continue;
        }
        for (long k = 0; k < count; ++k) {
            rows[k] = src + (f.first[ii] + k) * src_stride;
            whole[k] = m[k] == kWhole;
            mult[k].v = _mm_set1_epi16(static_cast<short>(m[k] == kWhole ? 0 : m[k]));
        }
        long x = 0;
        for (; x + 4 <= columns; x += 4) {
            __m128i lo = zero, hi = zero;
            for (long k = 0; k < count; ++k) {
                __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + x));
                __m128i vl = _mm_unpacklo_epi8(v, zero), vh = _mm_unpackhi_epi8(v, zero);
                if (whole[k]) {
                    lo = _mm_add_epi16(lo, vl);
                    hi = _mm_add_epi16(hi, vh);
                } else {
                    lo = _mm_add_epi16(lo, _mm_mulhi_epu16(vl, mult[k].v));
                    hi = _mm_add_epi16(hi, _mm_mulhi_epu16(vh, mult[k].v));
                }
            }
            _mm_storeu_si128(reinterpret_cast<__m128i*>(d + x),
                             _mm_packus_epi16(_mm_and_si128(lo, low), _mm_and_si128(hi, low)));
        }
        for (; loose != f.loose.end() && loose->out == i; ++loose) {
            const COLOUR* s = src + loose->src * src_stride;
            for (long v = 0; v < x; ++v) {
                d[v] = add_loose(d[v], s[v], loose->weight);
            }
        }
        for (; x < columns; ++x) {
            d[x] = scale_one(src + x, src_stride, contrib.rows[i]);
        }
    }
#else
    scale_columns_plain(src, src_stride, dst, dst_stride, columns, contrib);
#endif
}

} // namespace kivo_resample

namespace {

// A derived side: 0 for what an empty image cannot give, and never more
// than an image side can hold.
int derived_side(double v)
{
    if (!(v >= 0.0)) {
        return 0;
    }
    return v > 32767.0 ? 32767 : static_cast<int>(v);
}

double ratio(double a, double b)
{
    if (b == 0.0) {
        return a > 0.0 ? std::numeric_limits<double>::infinity() : std::numeric_limits<double>::quiet_NaN();
    }
    return a / b;
}

} // namespace

void IMAGE::resize(short w, short h, INT_U8 quality)
{
    resize_to(w, h, quality, true);
}

bool image_resize_for_read(IMAGE& image, short w, short h, INT_U8 quality)
{
    return image.resize_to(w, h, quality, false);
}

bool IMAGE::resize_to(short w, short h, INT_U8 quality, bool fatal)
{
    if (locked) {
        return true;
    }
    int rw = w == -1 ? width : w;
    int rh = h == -1 ? height : h;
    bool height_follows = false;
    if (keep_aspect && (w != -1 || h != -1)) {
        if (h == -1) {
            height_follows = true;
        } else if (w == -1) {
            height_follows = false;
        } else {
            height_follows = ratio(width, w) > ratio(height, h);
        }
    }
    if (rw < 0 || rh < 0) {
        return true;
    }
    if (max_width > 0 && max_width < rw) {
        rw = max_width;
    }
    if (max_height > 0 && max_height < rh) {
        rh = max_height;
    }
    if (keep_aspect) {
        int box_w = rw, box_h = rh;
        if (height_follows) {
            rh = width ? derived_side(static_cast<double>(height) * rw / width) : 0;
        } else {
            rw = height ? derived_side(static_cast<double>(width) * rh / height) : 0;
        }
        if ((max_width > 0 && rw > max_width) || (max_height > 0 && rh > max_height)) {
            return resize_to(static_cast<short>(box_w), static_cast<short>(box_h), !use_quick_resize, fatal);
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
        if (fatal) {
            display_error(ERR_IMAGE_MEMORY);
        }
        // A reader's picture stays as it was decoded.
        pixels = old;
        width = static_cast<INT_S16>(ow);
        height = static_cast<INT_S16>(oh);
        stride = static_cast<INT_S32>(os);
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
            INT_U64 step_x = (static_cast<INT_U64>(ow) << 16) / static_cast<INT_U64>(width);
            INT_U64 step_y = (static_cast<INT_U64>(oh) << 16) / static_cast<INT_U64>(height);
            INT_U64 acc_y = 0;
            long src_row = 0;
            for (int j = 0; j < height; ++j) {
                const COLOUR* s = old + src_row * os;
                COLOUR* d = pixels + static_cast<long>(j) * stride;
                INT_U64 pos = 0;
                for (int i = 0; i < width; ++i, pos += step_x) {
                    d[i] = s[pos >> 16];
                }
                acc_y += step_y;
                src_row += static_cast<long>(acc_y >> 16);
                acc_y &= 0xFFFF;
            }
        } else {
            C2PassScale<CBilinearFilter> scaler;
            scaler.Scale(old, static_cast<INT_U32>(ow), static_cast<INT_U32>(os), static_cast<INT_U32>(oh), pixels,
                         static_cast<INT_U32>(width), static_cast<INT_U32>(stride), static_cast<INT_U32>(height));
        }
    }
    std::free(old);
    return true;
}
