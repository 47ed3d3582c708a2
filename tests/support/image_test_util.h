#ifndef KIVO_IMAGE_TEST_UTIL_H
#define KIVO_IMAGE_TEST_UTIL_H

// Helpers shared by the image tests: pictures made to order, whole-picture
// comparison, plain per-channel transcriptions of the pixel rules to check
// the fast loops against, a sandbox folder to write image files into, and
// the program's fonts loaded.
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace imgtest {

using kivo_test::SandboxTest;
using Rect = std::array<int, 4>; // x1, y1, x2, y2
const Rect NO_RECT = {-1, -1, -1, -1};

// A pixel by placed coordinates.
inline COLOUR& px(IMAGE& im, int x, int y)
{
    return im.pixels[(long)(y - im.y) * im.stride + (x - im.x)];
}
inline INT_U32 px(const IMAGE& im, int x, int y)
{
    return im.pixels[(long)(y - im.y) * im.stride + (x - im.x)];
}

inline Rect dirty(const IMAGE& im)
{
    return {im.dirty_x1, im.dirty_y1, im.dirty_x2, im.dirty_y2};
}
inline Rect active(const IMAGE& im)
{
    return {im.active_x1, im.active_y1, im.active_x2, im.active_y2};
}
inline void clean(IMAGE& im)
{
    im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1;
}

// A third invisible, a third opaque (some at or near the threshold), the
// rest partly transparent.
inline INT_U32 random_pixel(std::mt19937& rng)
{
    INT_U32 rgb = rng() & 0xFFFFFFu, kind = rng() % 6;
    return rgb | (kind < 2 ? 0 : kind == 2 ? 255 : kind == 3 ? 245 + rng() % 11 : rng() & 0xFFu) << 24;
}

// An image set up at w x h, not dirty, its pixels all `fill` or, given
// one value per pixel, those row by row; or random ones.
struct CANVAS : IMAGE
{
    CANVAS(int w, int h, const std::vector<INT_U32>& fill = {0})
    {
        setup((short)w, (short)h);
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                pixels[(long)j * stride + i] = fill.size() == 1 ? fill[0] : fill.at((size_t)(j * w + i));
            }
        }
        clean(*this);
    }
    CANVAS(int w, int h, std::mt19937& rng) : CANVAS(w, h)
    {
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                px(*this, i, j) = random_pixel(rng);
            }
        }
    }
};

inline CANVAS solid(int w, int h, INT_U32 colour)
{
    return CANVAS(w, h, {colour});
}

// A w x h picture coloured f(x, y).
template <class F> CANVAS pattern(int w, int h, F f)
{
    CANVAS image(w, h);
    for (int i = 0; i < w * h; i++) {
        px(image, i % w, i / w) = f(i % w, i / w);
    }
    return image;
}

inline std::vector<INT_U32> snapshot(const IMAGE& im)
{
    std::vector<INT_U32> v;
    for (int j = 0; j < im.height; ++j) {
        for (int i = 0; i < im.width; ++i) {
            v.push_back(im.pixels[(long)j * im.stride + i]);
        }
    }
    return v;
}

// Same size, every channel within `tolerance`.
inline testing::AssertionResult same_picture(const IMAGE& want, const IMAGE& got, int tolerance = 0)
{
    if (got.width != want.width || got.height != want.height) {
        return testing::AssertionFailure() << "size " << got.width << " x " << got.height;
    }
    for (int i = 0; i < want.width * want.height; i++) {
        INT_U32 a = px(want, i % want.width, i / want.width), b = px(got, i % want.width, i / want.width);
        for (int shift = 0; shift < 32; shift += 8) {
            if (std::abs(int(a >> shift & 0xFF) - int(b >> shift & 0xFF)) > tolerance) {
                return testing::AssertionFailure() << "pixel " << i % want.width << "," << i / want.width << std::hex
                                                   << ": 0x" << b << ", expected 0x" << a;
            }
        }
    }
    return testing::AssertionSuccess();
}

// Copy type 0, channel by channel.
inline INT_U32 ref_blend(INT_U32 s, INT_U32 d, INT_U32 threshold)
{
    INT_U32 a = s >> 24;
    if (a == 0 || a >= threshold) {
        return a ? s : d;
    }
    INT_U32 out = d & 0xFF000000u;
    for (int sh = 0; sh <= 16; sh += 8) {
        out |= ((((s >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (255 - a)) >> 8) << sh;
    }
    return out;
}

// Copy types 1 (replace), 2 (alpha mask), 3 (alpha multiply), else blend.
inline INT_U32 ref_combine(INT_U32 s, INT_U32 d, int type, INT_U32 threshold)
{
    const INT_U32 a = s >> 24, rgb = d & 0xFFFFFFu;
    return type == 1   ? s
           : type == 2 ? rgb | (a ? 0xFF000000u : 0)
           : type == 3 ? rgb | (a * (d >> 24) / 255) << 24
                       : ref_blend(s, d, threshold);
}

// Name of one of the nine skin pieces: row and column 0..2.
inline std::string nine_name(const std::string& base, int row, int col)
{
    static const char *const rows[3] = {"_top", "_mid", "_bottom"}, *const cols[3] = {"_left", "_mid", "_right"};
    return base + rows[row] + cols[col];
}

// The folder of the fonts shipped with the program.
inline std::string shared_fonts()
{
    return std::string(KIVO_TEST_SHARE_DIR) + "/fonts";
}

// The shipped fonts as "$FONTDATA" and the font system started for each
// test; both undone after it.
class FontSystemTest : public SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        FOLDER f;
        ASSERT_TRUE(f.set_from_path_string(shared_fonts().c_str()));
        FOLDER::add_custom_path("$FONTDATA", f);
        IMAGE::startup_font_system();
    }
    void TearDown() override
    {
        IMAGE::shutdown_font_system();
        FOLDER::remove_custom_path("$FONTDATA");
        SandboxTest::TearDown();
    }
};

class ImageFolderTest : public SandboxTest
{
protected:
    FOLDER folder;
    char alias[2048] = {};
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
        folder.get(alias, nullptr);
    }
    // kind: 'p' PNG, 'j' JPEG, 'x' PCX, 'r' raw record. True when the
    // whole file reached the disk.
    static bool save_file(FOLDER& folder, IMAGE& image, const std::string& name, char kind)
    {
        DATA_FILE* file = folder.open_data_file(name.c_str(), fm_write, kind == 'r' ? -1 : 0, 0);
        if (!file) {
            return false;
        }
        bool ok = kind == 'p'   ? image.save_png(file)
                  : kind == 'j' ? image.save_jpg(file, 95, 0)
                  : kind == 'x' ? image.save_256_colour_pcx(file)
                                : image.put_to_data_device(*file);
        return folder.close(file) && ok;
    }
    void save(IMAGE& image, const std::string& name, char kind = 'p')
    {
        ASSERT_TRUE(save_file(folder, image, name, kind)) << name;
    }
    // name + ".png", one colour, `marker` (when non-zero) in the first column.
    void write_png(const std::string& name, int w, int h, INT_U32 colour, INT_U32 marker = 0)
    {
        CANVAS image(w, h, {colour});
        for (int y = 0; marker && y < h; y++) {
            px(image, 0, y) = marker;
        }
        save(image, name + ".png");
    }
};

} // namespace imgtest

#endif
