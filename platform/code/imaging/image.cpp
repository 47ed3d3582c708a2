// IMAGE: construction, sizing, the active and dirty areas, the block copy
// and the pixel export.
#include "image.h"

#include "errors.h"
#include "image_blend.h"
#include "image_codec_util.h"
#include "kivo_host.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Lower bound first, then the upper one, so that an empty extent
// (hi = lo - 1) always yields hi.
int clamp_coord(int v, int lo, int hi)
{
    if (v < lo) {
        v = lo;
    }
    if (v > hi) {
        v = hi;
    }
    return v;
}

int stride_for(int w, int alignment)
{
    if (alignment == 1) {
        return w;
    }
    if (alignment >= 2) {
        return (w + alignment - 1) / alignment * alignment;
    }
    return (w & 1) ? w + 1 : w;
}

} // namespace

INT_U8 IMAGE::use_quick_resize = 1;

IMAGE::IMAGE()
{
    setup(-1, -1);
}

IMAGE::IMAGE(const IMAGE& source)
{
    setup(-1, -1);
    *this = source;
}

IMAGE::~IMAGE()
{
    cache_entry = nullptr;
    std::free(pixels);
    pixels = nullptr;
}

void IMAGE::setup(short w, short h)
{
    x = y = 0;
    height = width = stride = 0;
    alignment = 0;
    pixels = nullptr;
    locked = 0;
    active_x1 = active_x2 = active_y1 = active_y2 = -1;
    valid = 1;
    keep_aspect = 0;
    font_slot = 10;
    font_width = font_height = 22;
    dirty_x1 = dirty_x2 = dirty_y1 = dirty_y2 = -1;
    max_width = max_height = 0;
    cache_entry = nullptr;
    reset(w, h);
}

// The work of reset; false when the pixels could not be allocated, which
// leaves the image empty. New pixels are zero unless `fresh` is given:
// then they are left as the allocator hands them over, and *fresh says
// whether there are such (a reader that writes every word skips the
// zeroing; the same size keeps the old pixels).
static bool take_size(IMAGE& im, short w, short h, bool* fresh = nullptr)
{
    if (fresh) {
        *fresh = false;
    }
    im.max_width = im.max_height = 0;
    if (w == im.width && h == im.height && im.pixels) {
        im.mark_dirty_area(im.x, im.y, im.x + w - 1, im.y + h - 1);
        im.set_active_area(im.x, im.y, im.x + w - 1, im.y + h - 1);
        return true;
    }
    std::free(im.pixels);
    im.pixels = nullptr;
    bool ok = true;
    if (w > 0 && h > 0) {
        if (im.width > 0 && im.height > 0) {
            im.mark_dirty_area(im.x, im.y, im.x + im.width - 1, im.y + im.height - 1);
        }
        im.height = h;
        im.width = w;
        im.stride = stride_for(w, im.alignment);
        // In size_t: 32767 x 32767 words is more than 2^31 bytes.
        std::size_t count = static_cast<std::size_t>(im.height) * static_cast<std::size_t>(im.stride);
        if (fresh) {
            // malloc's size argument is checked here; calloc checks its own.
            if (count <= SIZE_MAX / sizeof(COLOUR)) {
                im.pixels = static_cast<COLOUR*>(std::malloc(count * sizeof(COLOUR)));
            }
            *fresh = im.pixels != nullptr;
        } else {
            im.pixels = static_cast<COLOUR*>(std::calloc(count, sizeof(COLOUR)));
        }
        ok = im.pixels != nullptr;
    }
    if (!im.pixels) {
        im.width = im.height = im.stride = 0;
        im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1;
    }
    im.set_active_area(im.x, im.y, im.x + im.width - 1, im.y + im.height - 1);
    im.valid = 1;
    return ok;
}

void IMAGE::reset(short w, short h)
{
    if (locked) {
        return;
    }
    if (!take_size(*this, w, h)) {
        display_error(ERR_IMAGE_MEMORY);
    }
}

static bool reset_for_read(IMAGE& image, long w, long h, bool* fresh)
{
    if (fresh) {
        *fresh = false;
    }
    if (w < 0 || h < 0 || w > IMAGE_MAX_SIDE || h > IMAGE_MAX_SIDE) {
        return false;
    }
    if (!image.locked && !take_size(image, short(w), short(h), fresh)) {
        return false;
    }
    return w == 0 || h == 0 || (image.width == w && image.height == h && image.pixels);
}

bool image_reset_for_read(IMAGE& image, long w, long h)
{
    return reset_for_read(image, w, h, nullptr);
}

bool image_reset_unfilled_for_read(IMAGE& image, long w, long h, bool& fresh)
{
    return reset_for_read(image, w, h, &fresh);
}

IMAGE& IMAGE::operator=(const IMAGE& source)
{
    if (&source == this) {
        return *this;
    }
    reset(source.width, source.height);
    copy(const_cast<IMAGE*>(&source), source.x, source.y, x, y, source.width, source.height, IMAGE_COPY_REPLACE);
    return *this;
}

IMAGE* IMAGE::set_active_area(short x1, short y1, short x2, short y2)
{
    int ax1 = x1, ax2 = x2, ay1 = y1, ay2 = y2;
    if (ax1 > ax2) {
        std::swap(ax1, ax2);
    }
    if (ay1 > ay2) {
        std::swap(ay1, ay2);
    }
    active_x1 = static_cast<INT_S16>(clamp_coord(ax1, x, x + width - 1));
    active_x2 = static_cast<INT_S16>(clamp_coord(ax2, x, x + width - 1));
    active_y1 = static_cast<INT_S16>(clamp_coord(ay1, y, y + height - 1));
    active_y2 = static_cast<INT_S16>(clamp_coord(ay2, y, y + height - 1));
    return this;
}

IMAGE* IMAGE::add_rect_to_active_area(short x1, short y1, short x2, short y2)
{
    if (active_x1 == -1 || active_x2 == -1 || active_y1 == -1 || active_y2 == -1) {
        active_x1 = active_x2 = active_y1 = active_y2 = -1;
        return this;
    }
    // Intersect with the image and the rectangle as given: clamping the
    // rectangle first would pull one beyond the image onto its edge row or
    // column, which then survives the intersection.
    int ax1 = x1, ax2 = x2, ay1 = y1, ay2 = y2;
    if (ax1 > ax2) {
        std::swap(ax1, ax2);
    }
    if (ay1 > ay2) {
        std::swap(ay1, ay2);
    }
    int nx1 = std::max<int>({active_x1, ax1, x}), nx2 = std::min<int>({active_x2, ax2, x + width - 1});
    int ny1 = std::max<int>({active_y1, ay1, y}), ny2 = std::min<int>({active_y2, ay2, y + height - 1});
    if (nx1 > nx2 || ny1 > ny2) {
        active_x1 = active_x2 = active_y1 = active_y2 = -1;
        return this;
    }
    active_x1 = static_cast<INT_S16>(nx1);
    active_x2 = static_cast<INT_S16>(nx2);
    active_y1 = static_cast<INT_S16>(ny1);
    active_y2 = static_cast<INT_S16>(ny2);
    return this;
}

void IMAGE::mark_dirty_area(short x1, short y1, short x2, short y2)
{
    int cx1 = clamp_coord(x1, x, x + width - 1), cx2 = clamp_coord(x2, x, x + width - 1);
    int cy1 = clamp_coord(y1, y, y + height - 1), cy2 = clamp_coord(y2, y, y + height - 1);
    if (cx1 > cx2) {
        std::swap(cx1, cx2);
    }
    if (cy1 > cy2) {
        std::swap(cy1, cy2);
    }
    if (dirty_x1 == -1 || dirty_x1 > cx1) {
        dirty_x1 = static_cast<INT_S16>(cx1);
    }
    if (dirty_x2 == -1 || dirty_x2 < cx2) {
        dirty_x2 = static_cast<INT_S16>(cx2);
    }
    if (dirty_y1 == -1 || dirty_y1 > cy1) {
        dirty_y1 = static_cast<INT_S16>(cy1);
    }
    if (dirty_y2 == -1 || dirty_y2 < cy2) {
        dirty_y2 = static_cast<INT_S16>(cy2);
    }
}

// ---- the copy loops, one per copy type ---------------------------------

namespace {

// One pixel of any copy type except replace.
inline INT_U32 combine(IMAGE_COPY_TYPE type, INT_U32 s, INT_U32 d, INT_U32 t)
{
    if (type == IMAGE_COPY_ALPHA_MASK) {
        return (d & 0x00FFFFFFu) | (s >> 24 ? 0xFF000000u : 0u);
    }
    if (type == IMAGE_COPY_ALPHA_MULTIPLY) {
        return (d & 0x00FFFFFFu) | (kivo_pixel::div255((s >> 24) * (d >> 24)) << 24);
    }
    return kivo_pixel::blend(s, d, t);
}

void copy_row_alpha_multiply(COLOUR* dst, const COLOUR* src, int n)
{
    INT_U32* d = reinterpret_cast<INT_U32*>(dst);
    const INT_U32* s = reinterpret_cast<const INT_U32*>(src);
    int i = 0;
#if defined(__SSE2__)
    // floor(a x b / 255) as (p + 1 + (p >> 8)) >> 8 in 16-bit lanes: exact
    // for every product of two bytes.
    const __m128i rgb = _mm_set1_epi32(0x00FFFFFF);
    const __m128i one = _mm_set1_epi32(1);
    for (; i + 4 <= n; i += 4) {
        __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        __m128i p = _mm_mullo_epi16(_mm_srli_epi32(sv, 24), _mm_srli_epi32(dv, 24));
        __m128i q = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(p, one), _mm_srli_epi32(p, 8)), 8);
        __m128i r = _mm_or_si128(_mm_and_si128(dv, rgb), _mm_slli_epi32(q, 24));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), r);
    }
#endif
    for (; i < n; ++i) {
        d[i] = combine(IMAGE_COPY_ALPHA_MULTIPLY, s[i], d[i], 0);
    }
}

} // namespace

void IMAGE::copy(IMAGE* source, short sx_in, short sy_in, short dx_in, short dy_in, short w_in, short h_in,
                 IMAGE_COPY_TYPE type)
{
    if (!valid || active_x1 == -1 || active_x2 == -1 || active_y1 == -1 || active_y2 == -1) {
        return;
    }
    if (!source || !pixels || !source->pixels || w_in < 1 || h_in < 1) {
        return;
    }
    int sx = sx_in, sy = sy_in, dx = dx_in, dy = dy_in, w = w_in, h = h_in;
    // Destination left and top.
    if (dx < active_x1) {
        sx += active_x1 - dx;
        w -= active_x1 - dx;
        dx = active_x1;
    }
    if (dy < active_y1) {
        sy += active_y1 - dy;
        h -= active_y1 - dy;
        dy = active_y1;
    }
    // Source left and top, in the source's own placed coordinates.
    if (sx < source->x) {
        dx += source->x - sx;
        w -= source->x - sx;
        sx = source->x;
    }
    if (sy < source->y) {
        dy += source->y - sy;
        h -= source->y - sy;
        sy = source->y;
    }
    if (w < 1 || h < 1) {
        return;
    }
    // Source right and bottom, then destination right and bottom.
    if (sx + w > source->x + source->width) {
        w = source->x + source->width - sx;
    }
    if (sy + h > source->y + source->height) {
        h = source->y + source->height - sy;
    }
    if (dx + w > active_x2) {
        w = std::min(w, active_x2 - dx + 1);
    }
    if (dy + h > active_y2) {
        h = std::min(h, active_y2 - dy + 1);
    }
    if (w < 1 || h < 1) {
        return;
    }
    mark_dirty_area(static_cast<short>(dx), static_cast<short>(dy), static_cast<short>(dx + w - 1),
                    static_cast<short>(dy + h - 1));

    COLOUR* drow = at(dx, dy);
    const COLOUR* srow = source->at(sx, sy);
    long dstep = stride, sstep = source->stride;
    // Copying within one image: walk rows (and, on one row, pixels) in the
    // order that reads every source pixel before it is overwritten.
    bool same = source == this;
    if (same && dy > sy) {
        drow += static_cast<long>(h - 1) * dstep;
        srow += static_cast<long>(h - 1) * sstep;
        dstep = -dstep;
        sstep = -sstep;
    }
    bool backwards = same && dy == sy && dx > sx;
    INT_U32 t = COLOUR::alpha_solid_threshold;
    for (int r = 0; r < h; ++r, drow += dstep, srow += sstep) {
        if (type == IMAGE_COPY_REPLACE) {
            std::memmove(drow, srow, static_cast<std::size_t>(w) * sizeof(COLOUR));
        } else if (backwards) {
            for (int i = w - 1; i >= 0; --i) {
                drow[i] = combine(type, srow[i], drow[i], t);
            }
        } else if (type == IMAGE_COPY_ALPHA_MASK) {
            for (int i = 0; i < w; ++i) {
                drow[i] = combine(type, srow[i], drow[i], t);
            }
        } else if (type == IMAGE_COPY_ALPHA_MULTIPLY) {
            copy_row_alpha_multiply(drow, srow, w);
        } else {
            kivo_pixel::blend_row(reinterpret_cast<INT_U32*>(drow), reinterpret_cast<const INT_U32*>(srow), w, t);
        }
    }
}

namespace {

// A null image in put and get is the window's back buffer (null without one).
IMAGE* or_back_buffer(IMAGE* im)
{
    return im ? im : kivo_host()->get_back_buffer();
}

} // namespace

void IMAGE::put(short dx, short dy, short sx, short sy, short w, short h, IMAGE* target, IMAGE_COPY_TYPE type)
{
    target = or_back_buffer(target);
    if (target && target != this) {
        target->copy(this, sx, sy, dx, dy, w, h, type);
    }
}

void IMAGE::put(short px, short py, IMAGE* target, IMAGE_COPY_TYPE type)
{
    put(px, py, x, y, width, height, target, type);
}

void IMAGE::get(short px, short py, IMAGE* source, IMAGE_COPY_TYPE type)
{
    source = or_back_buffer(source);
    if (source && source != this) {
        copy(source, px, py, x, y, width, height, type);
    }
}

// ---- pixel export -------------------------------------------------------

void IMAGE::get_opengl_format_buffer(INT_U32* buffer, short pitch, char row_order, char format,
                                     unsigned char columns_as_rows)
{
    export_pixels(buffer, pitch, row_order, format, columns_as_rows);
}

void IMAGE::get_opengl_format_buffer(INT_U16* buffer, short pitch, char row_order, char format,
                                     unsigned char columns_as_rows)
{
    // The 32-bit formats would write twice the buffer's size.
    if (format == 2) {
        export_pixels(buffer, pitch, row_order, format, columns_as_rows);
    }
}

void IMAGE::export_pixels(void* buffer, short pitch, char row_order, char format, unsigned char columns_as_rows)
{
    // A pitch below -1 would put the rows before the buffer.
    if (!buffer || !pixels || width < 1 || height < 1 || pitch < -1) {
        return;
    }
    // Only the converting formats turn the picture; the plain copy never does.
    bool turn = columns_as_rows && (format == 1 || format == 2);
    int rows = turn ? width : height;
    int row_len = turn ? height : width;
    // Pitch -1 is the length of an output row (the image's width unless
    // turned), so turned rows never overlap.
    long p = pitch == -1 ? row_len : pitch;
    long first = row_order == 1 ? 0 : static_cast<long>(rows - 1) * p;
    long step = row_order == 1 ? p : -p;
    auto convert = [format](INT_U32 c) -> INT_U32 {
        if (format == 2) {
            return ((c & 0xF80000u) >> 8) | ((c & 0xFC00u) >> 5) | ((c & 0xF8u) >> 3);
        }
        if (format == 1) {
            return (c & 0xFF00FF00u) | ((c >> 16) & 0xFFu) | ((c & 0xFFu) << 16);
        }
        return c;
    };
    for (int r = 0; r < rows; ++r) {
        long base = first + r * step;
        for (int i = 0; i < row_len; ++i) {
            // Turned a quarter clockwise: output row r is column r, bottom up.
            INT_U32 c = turn ? static_cast<INT_U32>(pixels[static_cast<long>(height - 1 - i) * stride + r])
                             : static_cast<INT_U32>(pixels[static_cast<long>(r) * stride + i]);
            if (format == 2) {
                static_cast<INT_U16*>(buffer)[base + i] = static_cast<INT_U16>(convert(c));
            } else {
                static_cast<INT_U32*>(buffer)[base + i] = convert(c);
            }
        }
    }
}
