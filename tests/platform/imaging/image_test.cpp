#include "image_blend.h"
#include "image_test_util.h"
#include "kivo_host.h"

using namespace imgtest;

TEST(ImageSurface, StrideFollowsTheAlignmentRule)
{
    struct Case
    {
        int align, w, stride;
    } cases[] = {
        {0, 5, 6}, {1, 5, 5}, {4, 5, 8}, {4, 8, 8}, {0, 8, 8}, {-3, 7, 8}, {3, 7, 9}, {2, 1, 2},
    };
    for (auto& c : cases) {
        IMAGE im;
        im.alignment = (INT_S8)c.align;
        im.reset((short)c.w, 3);
        EXPECT_EQ(im.stride, c.stride) << c.align << " " << c.w;
        for (int i = 0; i < im.stride * 3; ++i) {
            ASSERT_EQ(im.pixels[i], 0u); // new pixels are transparent black
        }
    }
}

TEST(ImageSurface, ResetKeepsResizesEmptiesAndRespectsTheLock)
{
    CANVAS im(10, 8);
    COLOUR* before = im.pixels;
    px(im, 3, 3) = 0xFF112233u;
    im.set_active_area(2, 2, 4, 4);
    clean(im);
    im.reset(10, 8); // same size: pixels stay, active area whole again
    EXPECT_EQ(im.pixels, before);
    EXPECT_EQ(px(im, 3, 3), 0xFF112233u);
    EXPECT_EQ(active(im), (Rect{0, 0, 9, 7}));
    EXPECT_EQ(dirty(im), (Rect{0, 0, 9, 7}));

    clean(im);
    im.reset(4, 4); // other size: zeroed, the old extent marked before the change
    EXPECT_EQ(px(im, 3, 3), 0u);
    EXPECT_EQ(dirty(im), (Rect{0, 0, 9, 7}));
    EXPECT_EQ(active(im), (Rect{0, 0, 3, 3}));

    im.reset(0, 10); // empty: never dirty, nothing to clip to
    EXPECT_EQ(im.pixels, nullptr);
    im.mark_dirty_area(-5, -5, 5, 5);
    im.set_active_area(-3, -3, 7, 7);
    EXPECT_EQ(active(im), NO_RECT);
    EXPECT_EQ(dirty(im), NO_RECT);

    im.reset(20, 20);
    im.locked = 1;
    im.set_active_area(1, 1, 2, 2);
    im.reset(3, 3); // locked: nothing changes
    EXPECT_EQ(im.width, 20);
    EXPECT_EQ(active(im), (Rect{1, 1, 2, 2}));
}

TEST(ImageSurface, ActiveAreaOnlyNarrowsAndDirtyAreaOnlyGrows)
{
    CANVAS im(20, 10);
    clean(im);
    // 'S' sets the active area, 'A' narrows it, 'D' marks dirty; then the
    // rectangle that gives.
    const struct
    {
        char op;
        short x1, y1, x2, y2;
        Rect after;
    } steps[] = {
        {'S', 25, 8, -4, 2, {0, 2, 19, 8}}, // clamped and swapped
        {'S', 2, 2, 12, 8, {2, 2, 12, 8}},  {'A', 15, 0, 5, 5, {5, 2, 12, 5}},
        {'A', 0, 0, 30, 30, {5, 2, 12, 5}},                               // never grows
        {'A', 14, 0, 18, 9, NO_RECT},                                     // disjoint: empty
        {'A', 0, 0, 19, 9, NO_RECT},                                      // and stays empty
        {'S', 0, 0, 19, 9, {0, 0, 19, 9}},  {'A', 20, 0, 30, 9, NO_RECT}, // beyond the image: empty,
        {'S', 0, 0, 19, 9, {0, 0, 19, 9}},  {'A', 3, -9, 8, -1, NO_RECT}, // not its edge column or row
        {'D', -8, 3, -2, 4, {0, 3, 0, 4}},                                // wholly left: column 0 still counts
        {'D', 7, 9, 5, 20, {0, 3, 7, 9}},   {'D', 2, 1, 3, 2, {0, 1, 7, 9}},
    };
    for (auto& t : steps) {
        if (t.op == 'S') {
            im.set_active_area(t.x1, t.y1, t.x2, t.y2);
        } else if (t.op == 'A') {
            im.add_rect_to_active_area(t.x1, t.y1, t.x2, t.y2);
        } else {
            im.mark_dirty_area(t.x1, t.y1, t.x2, t.y2);
        }
        EXPECT_EQ(t.op == 'D' ? dirty(im) : active(im), t.after) << t.op << " " << t.x1 << "," << t.y1;
    }
    // An empty clip lets no copy in; a reset opens it again.
    CANVAS src(4, 4, {0xFF00FF00u});
    im.copy(&src, 0, 0, 0, 0, 4, 4, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(im, 0, 0), 0u);
    im.reset(10, 10);
    im.copy(&src, 0, 0, 0, 0, 4, 4, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(im, 0, 0), 0xFF00FF00u);
}

TEST(ImageCopy, EveryTypeClipAndOverlapMatchesThePlainModel)
{
    // Destination pixel (dx+i, dy+j) inside the active area takes source
    // pixel (sx+i, sy+j) when that lies inside the source, combined by the
    // per-channel rule from the pixels as they were before the copy, even
    // when source and destination are one image. Unknown types (9) blend.
    std::mt19937 rng(11);
    const INT_U8 saved = COLOUR::alpha_solid_threshold;
    auto pick = [&](int lo, int hi) { return lo + (int)(rng() % (unsigned)(hi - lo + 1)); };
    for (int round = 0; round < 3000; ++round) {
        const int type = round % 5 == 4 ? 9 : round % 4;
        const bool same = round % 3 == 0;
        CANVAS dst(pick(1, 40), pick(1, 9), rng), src(pick(1, 40), pick(1, 9), rng);
        IMAGE& from = same ? dst : src;
        if (round % 5 == 0) {
            int x1 = pick(0, dst.width - 1), y1 = pick(0, dst.height - 1);
            dst.set_active_area((short)x1, (short)y1, (short)pick(x1, dst.width - 1), (short)pick(y1, dst.height - 1));
        }
        int sx = pick(-4, from.width + 2), sy = pick(-4, from.height + 2), w = pick(0, from.width + 4);
        int dx = same ? sx + pick(-3, 3) : pick(-4, dst.width + 2);
        int dy = same ? sy + pick(-2, 2) : pick(-4, dst.height + 2);
        int h = pick(0, from.height + 3);
        const INT_U32 t = COLOUR::alpha_solid_threshold = round % 8 == 5 ? INT_U8(rng() % 256) : saved;
        auto s = snapshot(from), d = snapshot(dst), expect = d;
        Rect box = NO_RECT;
        for (int j = 0; j < h; ++j) {
            for (int i = 0; i < w; ++i) {
                int X = dx + i, Y = dy + j, SX = sx + i, SY = sy + j;
                if (X < dst.active_x1 || X > dst.active_x2 || Y < dst.active_y1 || Y > dst.active_y2 || SX < 0 ||
                    SY < 0 || SX >= from.width || SY >= from.height) {
                    continue;
                }
                expect[(size_t)(Y * dst.width + X)] =
                    ref_combine(s[(size_t)(SY * from.width + SX)], d[(size_t)(Y * dst.width + X)], type, t);
                box = box == NO_RECT ? Rect{X, Y, X, Y} : Rect{box[0], box[1], X, Y};
            }
        }
        clean(dst);
        dst.copy(&from, (short)sx, (short)sy, (short)dx, (short)dy, (short)w, (short)h, (IMAGE_COPY_TYPE)type);
        ASSERT_EQ(snapshot(dst), expect) << "round " << round;
        ASSERT_EQ(dirty(dst), box) << "round " << round;
    }
    COLOUR::alpha_solid_threshold = saved;

    // Nothing for a missing or empty source, an empty or invalid destination.
    CANVAS src(3, 3, {COLOUR_WHITE}), dst(3, 3);
    IMAGE empty;
    dst.copy(nullptr, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    dst.copy(&empty, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    empty.copy(&src, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    dst.valid = 0;
    dst.copy(&src, 0, 0, 0, 0, 3, 3, IMAGE_COPY_REPLACE);
    EXPECT_EQ(snapshot(dst), std::vector<INT_U32>(9, 0u));
}

TEST(ImageCopy, PutAndGetArgumentOrderAndTheBackBuffer)
{
    CANVAS a(4, 4), b(8, 8), c(2, 2);
    px(a, 1, 2) = 0xFFABCDEFu;
    a.put(5, 4, 1, 2, 1, 1, &b, IMAGE_COPY_REPLACE); // destination first, then source
    EXPECT_EQ(px(b, 5, 4), 0xFFABCDEFu);
    a.put(2, 3, &b, IMAGE_COPY_REPLACE); // whole image at 2,3
    c.get(3, 5, &b, IMAGE_COPY_REPLACE); // this image's size from the source's x,y
    EXPECT_EQ(px(b, 3, 5), 0xFFABCDEFu);
    EXPECT_EQ(px(c, 0, 0), 0xFFABCDEFu);

    // Onto itself, or to a missing back buffer: nothing.
    a.put(0, 0, 1, 2, 1, 1, &a, IMAGE_COPY_REPLACE);
    c.get(0, 0, nullptr, IMAGE_COPY_REPLACE);
    EXPECT_EQ(px(a, 0, 0), 0u);
    EXPECT_EQ(px(c, 0, 0), 0xFFABCDEFu);

    static CANVAS screen(8, 8);
    px(a, 0, 0) = 0xFF010101u;
    KIVO_HOST_TABLE host = {};
    host.get_back_buffer = []() -> IMAGE* { return &screen; };
    kivo_set_host(&host);
    a.put(6, 6, nullptr, IMAGE_COPY_REPLACE);
    c.get(7, 7, nullptr, IMAGE_COPY_REPLACE);
    kivo_set_host(nullptr);
    EXPECT_EQ(px(screen, 6, 6), 0xFF010101u);
    EXPECT_EQ(px(c, 0, 0), 0u);
}

TEST(ImageCopy, BothVectorBlendRowsMatchThePlainRule)
{
    std::mt19937 rng(23);
    for (int round = 0; round < 400; ++round) {
        int n = (int)(rng() % 41), offset = (int)(rng() % 3);
        INT_U32 t = round % 5 == 0 ? rng() % 256 : 250;
        std::vector<INT_U32> s(64), d(64);
        for (int i = 0; i < 64; ++i) {
            s[i] = random_pixel(rng);
            d[i] = random_pixel(rng);
            if (round % 7 == 0) { // whole groups invisible or solid take the short cuts
                s[i] = (s[i] & 0xFFFFFFu) | (i < 32 ? 0u : 0xFF000000u);
            } else if (round % 7 == 3) { // and whole translucent groups theirs
                s[i] = (s[i] & 0xFFFFFFu) | (1 + rng() % 200) << 24;
            }
        }
        std::vector<INT_U32> expect = d;
        for (int i = offset; i < offset + n; ++i) {
            expect[i] = ref_blend(s[i], d[i], t);
        }
        std::vector<INT_U32> got = d;
        kivo_pixel::blend_row_sse2(got.data() + offset, s.data() + offset, n, t);
        ASSERT_EQ(got, expect) << "sse2 round " << round;
        if (kivo_pixel::have_avx2()) {
            got = d;
            kivo_pixel::blend_row_avx2(got.data() + offset, s.data() + offset, n, t);
            ASSERT_EQ(got, expect) << "avx2 round " << round;
        }
    }
}

TEST(ImageCopy, AssignmentAndCopyConstructionAreDeep)
{
    std::mt19937 rng(3);
    CANVAS a(7, 5, rng);
    IMAGE b(a), c, e;
    c = a;
    c = c;
    EXPECT_EQ(snapshot(b), snapshot(a));
    EXPECT_EQ(snapshot(c), snapshot(a));
    px(a, 0, 0) = 0x01020304u;
    EXPECT_NE(px(b, 0, 0), 0x01020304u);
    EXPECT_NE(px(c, 0, 0), 0x01020304u);
    c = e; // assigning an empty image empties
    EXPECT_EQ(c.pixels, nullptr);
}

TEST(ImageExport, FormatsRowOrdersAndTurning)
{
    const std::vector<INT_U32> v = {0x11223344u, 0xFF00FF00u, 0x80FF0000u, 0x01020304u, 0xFFFFFFFFu, 0x000000FFu};
    CANVAS im(3, 2, v);
    im.pixels[3] = 0xDEADBEEFu; // stride 4: padding must never be exported
    auto exported = [&](short pitch, char order, char format, unsigned char turn) {
        std::vector<INT_U32> out(8, 0u);
        im.get_opengl_format_buffer(out.data(), pitch, order, format, turn);
        return out;
    };
    // As the window layer does: bottom row first. Pitch 4 leaves the gap alone.
    EXPECT_EQ(exported(-1, -1, 0, 0), (std::vector<INT_U32>{v[3], v[4], v[5], v[0], v[1], v[2], 0, 0}));
    EXPECT_EQ(exported(4, 1, 1, 0), (std::vector<INT_U32>{0x11443322u, 0xFF00FF00u, 0x800000FFu, 0, 0x01040302u,
                                                          0xFFFFFFFFu, 0x00FF0000u, 0}));
    // Turned a quarter clockwise: row j is column j read bottom up, rows of
    // length 2 under pitch -1; format 0 never turns.
    EXPECT_EQ(exported(-1, 1, 1, 1), (std::vector<INT_U32>{0x01040302u, 0x11443322u, 0xFFFFFFFFu, 0xFF00FF00u,
                                                           0x00FF0000u, 0x800000FFu, 0, 0}));
    EXPECT_EQ(exported(-1, 1, 0, 1), exported(-1, 1, 0, 0));

    EXPECT_EQ(exported(-4, 1, 0, 0), std::vector<INT_U32>(8, 0u)); // rows before the buffer: nothing

    std::vector<INT_U16> rgb565(6);
    im.get_opengl_format_buffer(rgb565.data(), -1, 1, 0, 0); // 32-bit words would overrun it: nothing
    EXPECT_EQ(rgb565, std::vector<INT_U16>(6, 0));
    im.get_opengl_format_buffer(rgb565.data(), -1, 1, 2, 0);
    EXPECT_EQ(rgb565, (std::vector<INT_U16>{0x2188, 0x07E0, 0xF800, 0x0000, 0xFFFF, 0x001F}));
}
