#ifndef KIVO_IMAGE_RESIZE_PLAIN_H
#define KIVO_IMAGE_RESIZE_PLAIN_H

// The two passes of the resampling filter written pixel by pixel: what the
// table-driven passes in image_resize.cpp must give bit for bit.
#include "resample.h"

namespace kivo_resample {
void scale_rows_plain(const COLOUR* src, long src_stride, long rows, COLOUR* dst, long dst_stride,
                      const LineContribType& contrib);
void scale_columns_plain(const COLOUR* src, long src_stride, COLOUR* dst, long dst_stride, long columns,
                         const LineContribType& contrib);
} // namespace kivo_resample

#endif
