#ifndef KIVO_RESAMPLE_H
#define KIVO_RESAMPLE_H

// Two-pass separable resampling of COLOUR arrays: a horizontal pass into a
// temporary, then a vertical pass. Each output channel is the sum of the
// source channels times their weights, every product truncated toward zero
// on its own, so results are reproducible bit for bit.
#include "colour.h"

#include <cmath>
#include <cstdlib>
#include <vector>

class CGenericFilter
{
public:
    virtual ~CGenericFilter() = default;
    virtual double Filter(double x) = 0;
};

// A triangle of half-width `width`.
class CBilinearFilter : public CGenericFilter
{
public:
    double width = 1.0;
    double Filter(double x) override
    {
        x = std::fabs(x);
        return x < width ? width - x : 0.0;
    }
};

// The window of source pixels one output pixel draws on; the weight of
// source pixel j is weights[j - left].
struct PixelContribType
{
    double* weights;
    long left, right;
};

// One pass's contributions. All weights live in one buffer.
struct LineContribType
{
    PixelContribType* rows = nullptr;
    long window_size = 0;
    long line_length = 0;
    std::vector<PixelContribType> row_store;
    std::vector<double> weight_store;
};

namespace kivo_resample {
// The hot loops, shared by every filter.
void scale_rows(const COLOUR* src, long src_stride, long rows, COLOUR* dst, long dst_stride,
                const LineContribType& contrib);
void scale_columns(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, long columns,
                   const LineContribType& contrib);
COLOUR scale_one(const COLOUR* src, long step, const PixelContribType& pc);
} // namespace kivo_resample

template <class FilterClass> class C2PassScale
{
public:
    typedef bool (*PROGRESS)(INT_U8 percent);

    explicit C2PassScale(PROGRESS callback = nullptr) : progress_callback(callback) {}
    virtual ~C2PassScale() = default;

    // Strides are in pixels. Returns dst, or null when cancelled (or when
    // an array is missing or the temporary cannot be allocated).
    COLOUR* Scale(COLOUR* src, INT_U32 src_width, INT_U32 src_stride, INT_U32 src_height, COLOUR* dst,
                  INT_U32 dst_width, INT_U32 dst_stride, INT_U32 dst_height)
    {
        cancelled = false;
        if (!src || !dst) {
            return nullptr;
        }
        // Nothing to write (and a scale of 0 would give a window of infinite width).
        if (!dst_width || !dst_height) {
            return dst;
        }
        std::size_t count = static_cast<std::size_t>(dst_stride) * src_height;
        COLOUR* temp = static_cast<COLOUR*>(std::calloc(count ? count : 1, sizeof(COLOUR)));
        if (!temp) {
            return nullptr;
        }
        HorizScale(src, src_width, src_stride, src_height, temp, dst_width, dst_stride);
        if (!cancelled) {
            VertScale(temp, dst_width, dst_stride, src_height, dst, dst_stride, dst_height);
        }
        std::free(temp);
        return cancelled ? nullptr : dst;
    }

    PROGRESS progress_callback;
    bool cancelled = false;

    void CalcContributions(LineContribType& c, long line_length, long src_size, double scale)
    {
        FilterClass filter;
        double width = filter.width, fscale = 1.0;
        if (scale < 1.0) {
            width = width / scale;
            fscale = scale;
        }
        c.line_length = line_length;
        c.window_size = 2 * static_cast<long>(std::ceil(width)) + 2;
        c.row_store.assign(static_cast<std::size_t>(line_length), PixelContribType());
        c.weight_store.assign(static_cast<std::size_t>(line_length * c.window_size), 0.0);
        c.rows = c.row_store.data();
        for (long i = 0; i < line_length; ++i) {
            PixelContribType& p = c.rows[i];
            p.weights = c.weight_store.data() + i * c.window_size;
            double centre = static_cast<double>(i) / scale;
            long left = static_cast<long>(std::floor(centre - width));
            long right = static_cast<long>(std::ceil(centre + width));
            p.left = left < 0 ? 0 : left;
            p.right = right > src_size - 1 ? src_size - 1 : right;
            double total = 0.0;
            for (long j = p.left; j <= p.right; ++j) {
                double w = fscale * filter.Filter((centre - static_cast<double>(j)) * fscale);
                p.weights[j - p.left] = w;
                total += w;
            }
            if (total > 0.0) {
                for (long j = p.left; j <= p.right; ++j) {
                    p.weights[j - p.left] /= total;
                }
            }
        }
    }

private:
    void HorizScale(const COLOUR* src, INT_U32 src_width, INT_U32 src_stride, INT_U32 height, COLOUR* dst,
                    INT_U32 dst_width, INT_U32 dst_stride)
    {
        LineContribType c;
        CalcContributions(c, dst_width, src_width, static_cast<double>(dst_width) / src_width);
        if (!progress_callback) {
            kivo_resample::scale_rows(src, src_stride, height, dst, dst_stride, c);
            return;
        }
        for (INT_U32 y = 0; y < height; ++y) {
            if (!progress_callback(static_cast<INT_U8>(static_cast<double>(y) / height * 50))) {
                cancelled = true;
                return;
            }
            const std::size_t row = y;
            ScaleRow(src + row * src_stride, dst + row * dst_stride, c);
        }
    }

    void VertScale(const COLOUR* src, INT_U32 width, INT_U32 src_stride, INT_U32 src_height, COLOUR* dst,
                   INT_U32 dst_stride, INT_U32 dst_height)
    {
        LineContribType c;
        CalcContributions(c, dst_height, src_height, static_cast<double>(dst_height) / src_height);
        if (!progress_callback) {
            kivo_resample::scale_columns(src, src_stride, dst, dst_stride, width, c);
            return;
        }
        for (INT_U32 x = 0; x < width; ++x) {
            if (!progress_callback(static_cast<INT_U8>(static_cast<double>(x) / width * 50 + 50))) {
                cancelled = true;
                return;
            }
            ScaleCol(src + x, src_stride, dst + x, dst_stride, c);
        }
    }

    // One row of the horizontal pass, pixel by pixel (the bulk loops give
    // the same sums).
    void ScaleRow(const COLOUR* src, COLOUR* dst, const LineContribType& c)
    {
        for (long i = 0; i < c.line_length; ++i) {
            dst[i] = kivo_resample::scale_one(src, 1, c.rows[i]);
        }
    }

    // One column of the vertical pass; strides in pixels.
    void ScaleCol(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, const LineContribType& c)
    {
        for (long i = 0; i < c.line_length; ++i) {
            dst[i * dst_stride] = kivo_resample::scale_one(src, src_stride, c.rows[i]);
        }
    }
};

#endif
