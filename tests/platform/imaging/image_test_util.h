#ifndef KIVO_IMAGE_TEST_UTIL_H
#define KIVO_IMAGE_TEST_UTIL_H

// Helpers shared by the image tests: pixel access by placed coordinates,
// random pictures with the alpha mix real skins have, and plain per-channel
// transcriptions of the pixel rules to check the fast loops against.
#include "image.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace imgtest {

inline COLOUR& px(IMAGE& im, int x, int y)
{
    return im.pixels[(long)(y - im.y) * im.stride + (x - im.x)];
}

// A third invisible, a third opaque (some at or near the threshold), the
// rest partly transparent.
inline INT_U32 random_pixel(std::mt19937& rng)
{
    INT_U32 rgb = rng() & 0xFFFFFFu;
    switch (rng() % 6) {
    case 0:
    case 1:
        return rgb;
    case 2:
        return rgb | 0xFF000000u;
    case 3:
        return rgb | (INT_U32(245 + rng() % 11) << 24);
    default:
        return rgb | ((rng() & 0xFFu) << 24);
    }
}

inline void fill_random(IMAGE& im, std::mt19937& rng)
{
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i)
            im.pixels[(long)j * im.stride + i] = random_pixel(rng);
}

inline void expect_dirty(const IMAGE& im, int x1, int y1, int x2, int y2)
{
    EXPECT_EQ(im.dirty_x1, x1);
    EXPECT_EQ(im.dirty_y1, y1);
    EXPECT_EQ(im.dirty_x2, x2);
    EXPECT_EQ(im.dirty_y2, y2);
}

inline void clean(IMAGE& im)
{
    im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1;
}

inline std::vector<INT_U32> snapshot(const IMAGE& im)
{
    std::vector<INT_U32> v;
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i)
            v.push_back(im.pixels[(long)j * im.stride + i]);
    return v;
}

inline INT_U32 chan(INT_U32 c, int shift)
{
    return (c >> shift) & 0xFF;
}

// Copy type 0, channel by channel.
inline INT_U32 ref_blend(INT_U32 s, INT_U32 d, INT_U32 threshold)
{
    INT_U32 a = s >> 24;
    if (a == 0)
        return d;
    if (a >= threshold)
        return s;
    INT_U32 out = d & 0xFF000000u;
    for (int sh = 0; sh <= 16; sh += 8)
        out |= ((chan(s, sh) * a + chan(d, sh) * (255 - a)) >> 8) << sh;
    return out;
}

inline INT_U32 ref_combine(INT_U32 s, INT_U32 d, int type, INT_U32 threshold)
{
    switch (type) {
    case 1:
        return s;
    case 2:
        return (d & 0xFFFFFFu) | ((s >> 24) ? 0xFF000000u : 0);
    case 3:
        return (d & 0xFFFFFFu) | (((s >> 24) * (d >> 24) / 255) << 24);
    default:
        return ref_blend(s, d, threshold);
    }
}

} // namespace imgtest

#endif
