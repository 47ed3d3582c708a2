#ifndef KIVO_IMAGE_TEST_UTIL_H
#define KIVO_IMAGE_TEST_UTIL_H

// Helpers shared by the image tests: pixel access by placed coordinates,
// random pictures with the alpha mix real skins have, and plain per-channel
// transcriptions of the pixel rules to check the fast loops against.
#include "image.h"

#include <array>
#include <random>
#include <vector>

namespace imgtest {

using Rect = std::array<int, 4>; // x1, y1, x2, y2
const Rect NO_RECT = {-1, -1, -1, -1};

inline COLOUR& px(IMAGE& im, int x, int y)
{
    return im.pixels[(long)(y - im.y) * im.stride + (x - im.x)];
}

inline Rect dirty(const IMAGE& im) { return {im.dirty_x1, im.dirty_y1, im.dirty_x2, im.dirty_y2}; }
inline Rect active(const IMAGE& im) { return {im.active_x1, im.active_y1, im.active_x2, im.active_y2}; }
inline void clean(IMAGE& im) { im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1; }

// A third invisible, a third opaque (some at or near the threshold), the
// rest partly transparent.
inline INT_U32 random_pixel(std::mt19937& rng)
{
    INT_U32 rgb = rng() & 0xFFFFFFu, kind = rng() % 6;
    return rgb | (kind < 2 ? 0 : kind == 2 ? 255 : kind == 3 ? 245 + rng() % 11 : rng() & 0xFFu) << 24;
}

inline void fill_random(IMAGE& im, std::mt19937& rng)
{
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i)
            im.pixels[(long)j * im.stride + i] = random_pixel(rng);
}

// An image set up at w x h, not dirty, its pixels all `fill` or, given
// one value per pixel, those row by row.
struct CANVAS : IMAGE
{
    CANVAS(int w, int h, const std::vector<INT_U32>& fill = {0})
    {
        setup((short)w, (short)h);
        for (int j = 0; j < h; ++j)
            for (int i = 0; i < w; ++i)
                pixels[(long)j * stride + i] = fill.size() == 1 ? fill[0] : fill.at((size_t)(j * w + i));
        clean(*this);
    }
    CANVAS(int w, int h, std::mt19937& rng) : CANVAS(w, h) { fill_random(*this, rng); }
};

inline std::vector<INT_U32> snapshot(const IMAGE& im)
{
    std::vector<INT_U32> v;
    for (int j = 0; j < im.height; ++j)
        for (int i = 0; i < im.width; ++i)
            v.push_back(im.pixels[(long)j * im.stride + i]);
    return v;
}

// Copy type 0, channel by channel.
inline INT_U32 ref_blend(INT_U32 s, INT_U32 d, INT_U32 threshold)
{
    INT_U32 a = s >> 24;
    if (a == 0 || a >= threshold)
        return a ? s : d;
    INT_U32 out = d & 0xFF000000u;
    for (int sh = 0; sh <= 16; sh += 8)
        out |= ((((s >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (255 - a)) >> 8) << sh;
    return out;
}

// Copy types 1 (replace), 2 (alpha mask), 3 (alpha multiply), else blend.
inline INT_U32 ref_combine(INT_U32 s, INT_U32 d, int type, INT_U32 threshold)
{
    const INT_U32 a = s >> 24, rgb = d & 0xFFFFFFu;
    return type == 1 ? s : type == 2 ? rgb | (a ? 0xFF000000u : 0) : type == 3 ? rgb | (a * (d >> 24) / 255) << 24
                                                                               : ref_blend(s, d, threshold);
}

} // namespace imgtest

#endif
