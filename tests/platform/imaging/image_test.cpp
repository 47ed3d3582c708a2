#include "image.h"
#include "image_blend.h"
#include "image_test_util.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <cstring>

using imgtest::clean;
using imgtest::expect_dirty;
using imgtest::px;

namespace {

void expect_active(const IMAGE& im, int x1, int y1, int x2, int y2)
{
    EXPECT_EQ(im.active_x1, x1);
    EXPECT_EQ(im.active_y1, y1);
    EXPECT_EQ(im.active_x2, x2);
    EXPECT_EQ(im.active_y2, y2);
}

void zero(IMAGE& im)
{
    for (long i = 0; i < (long)im.height * im.stride; ++i)
        im.pixels[i] = 0;
}


} // namespace

TEST(ImageSurface, FreshAndEmptyImages)
{
    IMAGE im;
    EXPECT_EQ(im.pixels, nullptr);
    EXPECT_EQ(im.width, 0);
    EXPECT_EQ(im.height, 0);
    expect_active(im, -1, -1, -1, -1);
    expect_dirty(im, -1, -1, -1, -1);
    EXPECT_EQ(im.valid, 1);
    EXPECT_EQ(im.font_slot, 10);
    EXPECT_EQ(im.font_width, 22);
    EXPECT_EQ(im.font_height, 22);
    EXPECT_EQ(IMAGE::use_quick_resize, 1);
    // An empty image never becomes dirty and has nothing to clip to.
    im.mark_dirty_area(-5, -5, 5, 5);
    expect_dirty(im, -1, -1, -1, -1);
    im.set_active_area(-3, -3, 7, 7);
    expect_active(im, -1, -1, -1, -1);
}

TEST(ImageSurface, StrideFollowsTheAlignmentRule)
{
    struct Case { int align, w, stride; } cases[] = {
        {0, 5, 6}, {1, 5, 5}, {4, 5, 8}, {4, 8, 8}, {0, 8, 8}, {-3, 7, 8}, {3, 7, 9}, {2, 1, 2},
    };
    for (auto& c : cases) {
        IMAGE im;
        im.alignment = (INT_S8)c.align;
        im.reset((short)c.w, 3);
        EXPECT_EQ(im.stride, c.stride) << c.align << " " << c.w;
        for (int i = 0; i < im.stride * 3; ++i)
            ASSERT_EQ(im.pixels[i], 0u); // new pixels are transparent black
    }
}

TEST(ImageSurface, ResetKeepsResizesEmptiesAndRespectsTheLock)
{
    IMAGE im;
    im.setup(10, 8);
    COLOUR* before = im.pixels;
    px(im, 3, 3) = 0xFF112233u;
    im.set_active_area(2, 2, 4, 4);
    im.max_width = 50;
    clean(im);
    im.reset(10, 8); // same size: pixels stay, active area whole again
    EXPECT_EQ(im.pixels, before);
    EXPECT_EQ(px(im, 3, 3), 0xFF112233u);
    expect_active(im, 0, 0, 9, 7);
    expect_dirty(im, 0, 0, 9, 7);
    EXPECT_EQ(im.max_width, 0);

    clean(im);
    im.reset(4, 4); // other size: zeroed, old extent marked dirty
    EXPECT_EQ(px(im, 3, 3), 0u);
    expect_dirty(im, 0, 0, 9, 7); // the old extent, marked before the change
    expect_active(im, 0, 0, 3, 3);

    im.reset(0, 10);
    EXPECT_EQ(im.pixels, nullptr);
    EXPECT_EQ(im.width, 0);
    EXPECT_EQ(im.height, 0);
    expect_active(im, -1, -1, -1, -1);
    expect_dirty(im, -1, -1, -1, -1);

    im.reset(20, 20);
    im.locked = 1;
    COLOUR* locked_pixels = im.pixels;
    im.set_active_area(1, 1, 2, 2);
    im.max_height = 9;
    im.reset(3, 3);
    EXPECT_EQ(im.pixels, locked_pixels);
    EXPECT_EQ(im.width, 20);
    expect_active(im, 1, 1, 2, 2);
    EXPECT_EQ(im.max_height, 9);
}

TEST(ImageSurface, ActiveAreaClampsSwapsAndOnlyNarrows)
{
    IMAGE im;
    im.setup(20, 10);
    im.set_active_area(25, 8, -4, 2);
    expect_active(im, 0, 2, 19, 8);
    im.valid = 0;
    im.set_active_area(1, 1, 2, 2);
    EXPECT_EQ(im.valid, 0); // the valid flag is not the clip's business
    im.valid = 1;

    im.set_active_area(2, 2, 12, 8);
    im.add_rect_to_active_area(15, 0, 5, 5);
    expect_active(im, 5, 2, 12, 5);
    im.add_rect_to_active_area(0, 0, 30, 30); // never grows
    expect_active(im, 5, 2, 12, 5);
    im.add_rect_to_active_area(14, 0, 18, 9); // disjoint: empty
    expect_active(im, -1, -1, -1, -1);
    im.add_rect_to_active_area(0, 0, 19, 9); // still empty
    expect_active(im, -1, -1, -1, -1);

    IMAGE src;
    src.setup(4, 4);
    for (int i = 0; i < 16; ++i)
        src.pixels[i] = 0xFF00FF00u;
    im.copy(&src, 0, 0, 0, 0, 4, 4, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(im, 0, 0), 0u);
    im.reset(20, 10);
    im.copy(&src, 0, 0, 0, 0, 4, 4, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(im, 0, 0), 0xFF00FF00u);
}

TEST(ImageSurface, DirtyAreaClampsAndGrows)
{
    IMAGE im;
    im.setup(10, 10);
    clean(im);
    im.mark_dirty_area(-8, 3, -2, 4); // wholly left: column 0 still counts
    expect_dirty(im, 0, 3, 0, 4);
    im.mark_dirty_area(7, 9, 5, 20);
    expect_dirty(im, 0, 3, 7, 9);
    im.mark_dirty_area(2, 1, 3, 2);
    expect_dirty(im, 0, 1, 7, 9);
}

TEST(ImageCopy, PerTypeRulesAtTheirBoundaries)
{
    IMAGE src, dst;
    src.setup(4, 1);
    dst.setup(4, 1);
    src.pixels[0] = 0xFAFFFFFFu; // alpha 250: replaces, alpha included
    src.pixels[1] = 0xF9FFFFFFu; // 249 over white: divides by 256 -> 254
    src.pixels[2] = 0x00123456u; // invisible: leaves d
    src.pixels[3] = 0x80FF0000u;
    for (int i = 0; i < 4; ++i)
        dst.pixels[i] = 0x40FFFFFFu;
    dst.pixels[3] = 0xFF0000FFu;
    dst.copy(&src, 0, 0, 0, 0, 4, 1, IMAGE_COPY_BLEND);
    EXPECT_EQ(dst.pixels[0], 0xFAFFFFFFu);
    EXPECT_EQ(dst.pixels[1], 0x40FEFEFEu);
    EXPECT_EQ(dst.pixels[2], 0x40FFFFFFu);
    EXPECT_EQ(dst.pixels[3], 0xFF7F007Eu);

    // Any unknown type blends.
    dst.pixels[1] = 0x40FFFFFFu;
    dst.copy(&src, 1, 0, 1, 0, 1, 1, (IMAGE_COPY_TYPE)9);
    EXPECT_EQ(dst.pixels[1], 0x40FEFEFEu);

    for (int i = 0; i < 4; ++i)
        dst.pixels[i] = 0x7F010203u;
    dst.copy(&src, 0, 0, 0, 0, 4, 1, IMAGE_COPY_ALPHA_MASK);
    EXPECT_EQ(dst.pixels[0], 0xFF010203u);
    EXPECT_EQ(dst.pixels[2], 0x00010203u);

    src.pixels[0] = 0x80000000u;
    src.pixels[1] = 0x80000000u;
    dst.pixels[0] = 0xFF010203u;
    dst.pixels[1] = 0x00010203u;
    dst.copy(&src, 0, 0, 0, 0, 2, 1, IMAGE_COPY_ALPHA_MULTIPLY);
    EXPECT_EQ(dst.pixels[0], 0x80010203u);
    EXPECT_EQ(dst.pixels[1], 0x00010203u);

    dst.copy(&src, 0, 0, 0, 0, 4, 1, IMAGE_COPY_REPLACE);
    EXPECT_EQ(imgtest::snapshot(dst), imgtest::snapshot(src));
}

TEST(ImageCopy, ClippingOnEverySide)
{
    IMAGE src, dst;
    src.setup(6, 6);
    dst.setup(10, 10);
    for (int j = 0; j < 6; ++j)
        for (int i = 0; i < 6; ++i)
            px(src, i, j) = 0xFF000000u | INT_U32(j * 16 + i);
    clean(dst);
    // sx = -3: three further right and three narrower.
    dst.copy(&src, -3, 0, 2, 1, 5, 2, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(dst, 4, 1), 0u);
    EXPECT_EQ(px(dst, 5, 1), 0xFF000000u);
    EXPECT_EQ(px(dst, 6, 2), 0xFF000011u);
    EXPECT_EQ(px(dst, 7, 1), 0u);
    expect_dirty(dst, 5, 1, 6, 2);

    // The active area clips left/top (moving the source) and right/bottom.
    zero(dst);
    dst.set_active_area(3, 3, 4, 8);
    clean(dst);
    dst.copy(&src, 0, 0, 1, 1, 6, 6, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(dst, 3, 3), 0xFF000022u);
    EXPECT_EQ(px(dst, 4, 6), 0xFF000053u);
    EXPECT_EQ(px(dst, 5, 3), 0u);
    EXPECT_EQ(px(dst, 3, 7), 0u); // source ran out at row 5
    expect_dirty(dst, 3, 3, 4, 6);

    // Source right and bottom; nothing for empty or invalid cases.
    dst.reset(10, 10);
    zero(dst);
    dst.copy(&src, 4, 4, 0, 0, 9, 9, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(dst, 1, 1), 0xFF000055u);
    EXPECT_EQ(px(dst, 2, 2), 0u);
    zero(dst);
    dst.copy(&src, 6, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    dst.copy(&src, 0, 0, 10, 0, 3, 3, IMAGE_COPY_REPLACE);
    dst.copy(&src, 0, 0, 0, 0, 0, 3, IMAGE_COPY_REPLACE);
    dst.copy(nullptr, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    dst.valid = 0;
    dst.copy(&src, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    IMAGE empty;
    dst.valid = 1;
    dst.copy(&empty, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    empty.copy(&src, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    EXPECT_EQ(imgtest::snapshot(dst), std::vector<INT_U32>(100, 0u));
}

TEST(ImageCopy, PutAndGetArgumentOrderAndTheBackBuffer)
{
    IMAGE a, b;
    a.setup(4, 4);
    b.setup(8, 8);
    px(a, 1, 2) = 0xFFABCDEFu;
    // put: destination first, then source.
    a.put(5, 4, 1, 2, 1, 1, &b, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(b, 5, 4), 0xFFABCDEFu);
    a.put(2, 3, &b, IMAGE_COPY_REPLACE); // whole image at 2,3
    EXPECT_EQ(px(b, 3, 5), 0xFFABCDEFu);
    // get: this image's size from the source's x,y.
    IMAGE c;
    c.setup(2, 2);
    c.get(3, 5, &b, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(c, 0, 0), 0xFFABCDEFu);

    // Onto itself, or to a missing back buffer: nothing.
    a.put(0, 0, 1, 2, 1, 1, &a, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(a, 0, 0), 0u);
    a.put(0, 0, nullptr, IMAGE_COPY_REPLACE);
    c.get(0, 0, nullptr, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(c, 0, 0), 0xFFABCDEFu);

    static IMAGE* back = nullptr;
    IMAGE screen;
    screen.setup(8, 8);
    back = &screen;
    KIVO_HOST_TABLE host = {};
    host.get_back_buffer = []() { return back; };
    kivo_set_host(&host);
    a.put(6, 6, nullptr, IMAGE_COPY_REPLACE);
    c.get(7, 7, nullptr, IMAGE_COPY_REPLACE);
    screen.put(0, 0, nullptr, IMAGE_COPY_REPLACE); // the back buffer onto itself
    kivo_set_host(nullptr);
    EXPECT_EQ(px(c, 0, 0), 0u);
    EXPECT_EQ(px(screen, 6, 6), 0u);
    px(a, 0, 0) = 0xFF010101u;
    kivo_set_host(&host);
    a.put(6, 6, nullptr, IMAGE_COPY_REPLACE);
    kivo_set_host(nullptr);
    EXPECT_EQ(px(screen, 6, 6), 0xFF010101u);
}

TEST(ImageCopy, FastLoopsMatchThePlainRules)
{
    std::mt19937 rng(11);
    for (int round = 0; round < 60; ++round) {
        int w = 1 + (int)(rng() % 37), h = 1 + (int)(rng() % 5);
        IMAGE src, dst;
        src.setup((short)w, (short)h);
        dst.setup((short)w, (short)h);
        imgtest::fill_random(src, rng);
        imgtest::fill_random(dst, rng);
        int type = round % 4;
        INT_U8 saved = COLOUR::alpha_solid_threshold;
        COLOUR::alpha_solid_threshold = (round % 8 == 5) ? INT_U8(rng() % 256) : saved;
        auto s = imgtest::snapshot(src), d = imgtest::snapshot(dst);
        dst.copy(&src, 0, 0, 0, 0, (short)w, (short)h, (IMAGE_COPY_TYPE)type);
        auto got = imgtest::snapshot(dst);
        for (size_t i = 0; i < d.size(); ++i)
            ASSERT_EQ(got[i], imgtest::ref_combine(s[i], d[i], type, COLOUR::alpha_solid_threshold))
                << "type " << type << " pixel " << i;
        COLOUR::alpha_solid_threshold = saved;
    }
}

TEST(ImageCopy, BothVectorBlendRowsMatchThePlainRule)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        int n = (int)(rng() % 41), offset = (int)(rng() % 3);
        INT_U32 t = round % 5 == 0 ? rng() % 256 : 250;
        std::vector<INT_U32> s(64), d(64);
        for (int i = 0; i < 64; ++i) {
            s[i] = imgtest::random_pixel(rng);
            d[i] = imgtest::random_pixel(rng);
        }
        if (round % 7 == 0) // whole groups invisible or solid take the short cuts
            for (int i = 0; i < 64; ++i)
                s[i] = (s[i] & 0xFFFFFFu) | (i < 32 ? 0u : 0xFF000000u);
        std::vector<INT_U32> expect = d;
        for (int i = 0; i < n; ++i)
            expect[offset + i] = imgtest::ref_blend(s[offset + i], d[offset + i], t);
        std::vector<INT_U32> got = d;
        kivo_pixel::blend_row_sse2(got.data() + offset, s.data() + offset, n, t);
        ASSERT_EQ(got, expect) << "sse2 round " << round;
        if (kivo_pixel::have_avx2()) {
            got = d;
            kivo_pixel::blend_row_avx2(got.data() + offset, s.data() + offset, n, t);
            ASSERT_EQ(got, expect) << "avx2 round " << round;
        }
    }
    // The paired-channel scalar form against the per-channel rule.
    for (int k = 0; k < 200000; ++k) {
        INT_U32 s = rng(), d = rng(), a = 1 + rng() % 254;
        ASSERT_EQ(kivo_pixel::mix((s & 0xFFFFFFu) | (a << 24), d, a),
                  imgtest::ref_blend((s & 0xFFFFFFu) | (a << 24), d, 255));
    }
}

TEST(ImageCopy, OverlappingCopyWithinOneImageInEveryDirection)
{
    std::mt19937 rng(5);
    for (int type = 0; type < 4; ++type)
        for (int ddx = -3; ddx <= 3; ++ddx)
            for (int ddy = -2; ddy <= 2; ++ddy) {
                IMAGE im;
                im.setup(16, 9);
                imgtest::fill_random(im, rng);
                auto before = imgtest::snapshot(im);
                const int sx = 4, sy = 3, w = 9, h = 4;
                im.copy(&im, sx, sy, (short)(sx + ddx), (short)(sy + ddy), w, h,
                        (IMAGE_COPY_TYPE)type);
                auto expect = before;
                for (int j = 0; j < h; ++j)
                    for (int i = 0; i < w; ++i) {
                        size_t to = (size_t)(sy + ddy + j) * 16 + (sx + ddx + i);
                        expect[to] = imgtest::ref_combine(before[(size_t)(sy + j) * 16 + sx + i],
                                                          before[to], type, 250);
                    }
                ASSERT_EQ(imgtest::snapshot(im), expect) << type << " " << ddx << " " << ddy;
            }
}

TEST(ImageCopy, AssignmentAndCopyConstructionAreDeep)
{
    std::mt19937 rng(3);
    IMAGE a;
    a.setup(7, 5);
    imgtest::fill_random(a, rng);
    IMAGE b(a);
    IMAGE c;
    c = a;
    c = c;
    EXPECT_NE(b.pixels, a.pixels);
    EXPECT_EQ(imgtest::snapshot(b), imgtest::snapshot(a));
    EXPECT_EQ(imgtest::snapshot(c), imgtest::snapshot(a));
    px(a, 0, 0) = 0x01020304u;
    EXPECT_NE(px(b, 0, 0), 0x01020304u);
    IMAGE e;
    c = e; // assigning an empty image empties
    EXPECT_EQ(c.pixels, nullptr);
}

TEST(ImageExport, FormatsRowOrdersAndTurning)
{
    IMAGE im;
    im.setup(3, 2); // stride 4: padding must never be exported
    const INT_U32 v[2][3] = {{0x11223344u, 0xFF00FF00u, 0x80FF0000u},
                             {0x01020304u, 0xFFFFFFFFu, 0x000000FFu}};
    for (int j = 0; j < 2; ++j)
        for (int i = 0; i < 3; ++i)
            px(im, i, j) = v[j][i];
    im.pixels[3] = 0xDEADBEEFu;

    INT_U32 out[12];
    std::memset(out, 0, sizeof out);
    im.get_opengl_format_buffer(out, -1, -1, 0, 0); // as the window layer does
    const INT_U32 bottom_up[6] = {v[1][0], v[1][1], v[1][2], v[0][0], v[0][1], v[0][2]};
    EXPECT_EQ(std::memcmp(out, bottom_up, sizeof bottom_up), 0);

    std::memset(out, 0, sizeof out);
    im.get_opengl_format_buffer(out, 4, 1, 1, 0);
    EXPECT_EQ(out[0], 0x11443322u);
    EXPECT_EQ(out[2], 0x800000FFu);
    EXPECT_EQ(out[3], 0u); // pitch 4 leaves the gap alone
    EXPECT_EQ(out[4], 0x01040302u);

    // Turned a quarter clockwise: row j is column j read bottom up; rows of
    // length 2 under pitch -1.
    std::memset(out, 0, sizeof out);
    im.get_opengl_format_buffer(out, -1, 1, 1, 1);
    EXPECT_EQ(out[0], 0x01040302u);
    EXPECT_EQ(out[1], 0x11443322u);
    EXPECT_EQ(out[3], 0xFF00FF00u);
    EXPECT_EQ(out[4], 0x00FF0000u);
    EXPECT_EQ(out[5], 0x800000FFu);
    EXPECT_EQ(out[6], 0u);

    INT_U16 rgb565[6];
    im.get_opengl_format_buffer(rgb565, -1, 1, 2, 0);
    EXPECT_EQ(rgb565[1], 0x07E0);
    EXPECT_EQ(rgb565[2], 0xF800);
    EXPECT_EQ(rgb565[4], 0xFFFF);
    EXPECT_EQ(rgb565[5], 0x001F);
}
