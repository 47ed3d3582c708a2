// Skinned boxes: the layouts, span sharing, tiling, overlays, the stored
// result, hit tests and shared references. Skins are written by the test.
#include "codec_fixtures.h"
#include "image_box.h"
#include "image_cache.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <type_traits>

namespace {

// One colour per nine-slice piece, row by row.
const INT_U32 TL = 0xFF100000u, TM = 0xFF200000u, TR = 0xFF300000u, ML = 0xFF400000u, MM = 0xFF500000u,
              MR = 0xFF600000u, BL = 0xFF700000u, BM = 0xFF800000u, BR = 0xFF900000u, BACK = 0xFF0000FFu;

class ImageBoxTest : public kivo_test::ImageFolderTest
{
protected:
    IMAGE_CACHE cache;
    IMAGE target = kivo_test::solid(64, 48, BACK);
    IMAGE_BOX box;
    INT_U8 saved_store = IMAGE_BOX::store_local_result;

    void TearDown() override
    {
        box.clear_images();
        IMAGE_BOX::store_local_result = saved_store;
        ImageFolderTest::TearDown();
    }
    // Nine-slice set: ends left x top and right x bottom, middles mid_w x mid_h.
    void nine(const char* base, int left, int right, int top, int bottom, int mid_w = 1, int mid_h = 1,
              INT_U32 tm_marker = 0)
    {
        const int w[3] = {left, mid_w, right}, h[3] = {top, mid_h, bottom};
        for (int r = 0; r < 3; r++)
            for (int c = 0; c < 3; c++)
                write_png(kivo_test::nine_name(base, r, c), w[c], h[r], 0xFF000000u | INT_U32(r * 3 + c + 1) << 20,
                          r == 0 && c == 1 ? tm_marker : 0);
    }
    // Loads the skin into `box` and draws it over a fresh background.
    void draw(const char* skin, int x1, int y1, int x2, int y2, INT_U8 stretch = 0,
              IMAGE_COPY_TYPE copy = IMAGE_COPY_REPLACE)
    {
        box.cache = &cache;
        if (skin) {
            ASSERT_TRUE(box.load_images(alias, skin, 0));
        }
        target.clear(BACK, 1);
        box.draw(short(x1), short(y1), short(x2), short(y2), stretch, &target, copy);
    }
    INT_U32 at(int x, int y) { return target.pixels[y * target.stride + x]; }
    struct AT
    {
        int x, y;
        INT_U32 colour;
    };
    void expect_at(std::initializer_list<AT> points)
    {
        for (const AT& p : points)
            EXPECT_EQ(at(p.x, p.y), p.colour) << p.x << "," << p.y;
    }
};

} // namespace

static_assert(!std::is_copy_constructible<IMAGE_BOX>::value, "boxes share their stored result only by assignment");

TEST_F(ImageBoxTest, NineSliceSharesTheSpanBetweenEndsAndTilesTheRest)
{
    EXPECT_TRUE(box.mid_mid == nullptr && box.result == nullptr);
    nine("n", 8, 4, 3, 3);
    for (INT_U8 store : {INT_U8(0), INT_U8(1)}) {
        IMAGE_BOX::store_local_result = store;
        // 10 wide with ends 8 and 4: columns 6 and 3, a middle of 1.
        draw(store ? nullptr : "n", 2, 1, 11, 20);
        const INT_U32 cols[3][10] = {{TL, TL, TL, TL, TL, TL, TM, TR, TR, TR},
                                     {ML, ML, ML, ML, ML, ML, MM, MR, MR, MR},
                                     {BL, BL, BL, BL, BL, BL, BM, BR, BR, BR}};
        const int rows[6] = {1, 3, 4, 17, 18, 20}; // first and last of each band
        for (int i = 0; i < 10; i++)
            for (int r = 0; r < 6; r++)
                EXPECT_EQ(at(2 + i, rows[r]), cols[r / 2][i]) << i << "," << rows[r];
        expect_at({{1, 5, BACK}, {12, 5, BACK}, {5, 21, BACK}});
    }
    box.clear_images();

    // Exactly as wide as the two ends: no centre and no edge tiles. (A new
    // skin: the cache now holds the ends of "n" at their shared sizes.)
    IMAGE_BOX::store_local_result = 0;
    nine("w", 8, 4, 3, 3);
    draw("w", 0, 0, 11, 9);
    for (int x = 0; x < 12; x++)
        for (int y = 0; y < 10; y++)
            ASSERT_TRUE(at(x, y) != TM && at(x, y) != MM && at(x, y) != BM) << x << "," << y;
    expect_at({{7, 5, ML}, {8, 5, MR}});
}

TEST_F(ImageBoxTest, EdgesTileWithTheLastTileCutAndTheCentreStaysInItsCell)
{
    IMAGE_BOX::store_local_result = 0;
    // 10-pixel top edge tiles over 25 pixels: three tiles, the last cut to 5.
    nine("t", 2, 2, 2, 2, 10, 10, 0xFFABCDEFu);
    draw("t", 0, 0, 28, 20);
    for (int x : {2, 12, 22})
        EXPECT_EQ(at(x, 0), 0xFFABCDEFu) << x;
    expect_at({{26, 0, TM}, {27, 0, TR}});
    box.clear_images();

    // A translucent right edge over the background: the centre tiles must
    // not reach under it (its cell ends one pixel before the edge).
    nine("c", 2, 2, 2, 2, 3, 3);
    write_png("c_mid_right", 2, 3, 0x00000000u);
    draw("c", 0, 0, 10, 9, 0, IMAGE_COPY_BLEND);
    expect_at({{8, 4, MM}, {9, 4, BACK}, {4, 8, BM}});
}

TEST_F(ImageBoxTest, ThreeSliceAndSingleLayouts)
{
    IMAGE_BOX::store_local_result = 0;
    write_png("h_left", 3, 4, ML);
    write_png("h_mid", 2, 4, MM);
    write_png("h_right", 5, 4, MR);
    draw("h", 0, 0, 19, 9);
    expect_at({{2, 0, ML}, {3, 0, MM}, {14, 0, MM}, {15, 0, MR}, {19, 0, MR}, {20, 0, BACK}, {2, 9, ML}, {3, 9, MM},
               {14, 9, MM}, {15, 9, MR}, {19, 9, MR}, {0, 10, BACK}});

    write_png("v_top", 6, 2, TM);
    write_png("v_mid", 6, 3, MM);
    write_png("v_bottom", 6, 4, BM);
    draw("v", 0, 0, 9, 19);
    expect_at({{9, 1, TM}, {9, 2, MM}, {0, 15, MM}, {0, 16, BM}, {10, 5, BACK}});

    // A single picture smaller than the box is centred; stretched it fills.
    write_png("s", 4, 2, MM);
    draw("s", 0, 0, 9, 5);
    for (int x = 0; x < 10; x++)
        EXPECT_EQ(at(x, 2), x >= 3 && x <= 6 ? MM : BACK) << x;
    expect_at({{3, 1, BACK}, {6, 3, MM}});
    draw(nullptr, 0, 0, 9, 5, 1);
    expect_at({{0, 0, MM}, {9, 5, MM}});

    // Only "_left" and "_mid": false, but what opened is kept.
    write_png("p_left", 2, 2, ML);
    write_png("p_mid", 2, 2, MM);
    EXPECT_FALSE(box.load_images(alias, "p", 0));
    EXPECT_TRUE(box.are_images_valid() && box.mid_left != nullptr);
    EXPECT_FALSE(box.load_images(alias, "absent", 0));
    EXPECT_FALSE(box.are_images_valid());
    IMAGE_BOX no_cache;
    EXPECT_FALSE(no_cache.load_images(alias, "s", 0));
}

TEST_F(ImageBoxTest, StoredResultComposesOnceAndIsBlittedAgain)
{
    IMAGE_BOX::store_local_result = 1;
    write_png("s", 4, 4, MM);
    draw("s", 0, 0, 3, 3);
    // Change the piece behind the box's back: the same size blits the
    // stored picture; redraw composes it again.
    box.mid_mid->clear(0xFF00FF00u, 1);
    box.draw(10, 0, 13, 3, 0, &target, IMAGE_COPY_REPLACE);
    expect_at({{1, 1, MM}, {11, 1, MM}});
    box.redraw = 1;
    box.draw(20, 0, 23, 3, 0, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(21, 1), 0xFF00FF00u);
    EXPECT_EQ(box.redraw, 0);
    box.clear_images();
    EXPECT_EQ(box.result, nullptr);
}

TEST_F(ImageBoxTest, OverlaysAreCentredScaledAndTiledUnderTheBoxMask)
{
    // A 10 x 10 box whose single piece is opaque except a clear left half.
    IMAGE half = kivo_test::pattern(10, 10, [](int x, int) { return x < 5 ? 0 : MM; });
    save(half, "o.png");
    write_png("o_colay", 2, 2, 0xFF00FF00u);
    write_png("o_solay", 1, 1, 0xFF00FFFFu);
    write_png("o_tolay", 3, 3, 0xFFFFFF00u);
    for (INT_U8 store : {INT_U8(0), INT_U8(1)}) {
        SCOPED_TRACE(int(store));
        IMAGE_BOX::store_local_result = store;
        box.redraw = 1;
        draw(store ? nullptr : "o", 0, 0, 9, 9, 0, IMAGE_COPY_BLEND);
        ASSERT_NE(box.colay, nullptr);
        // The tiled overlay is drawn last where the box is opaque; the
        // centred one lies under it; nothing shows where the box is clear.
        expect_at({{7, 7, 0xFFFFFF00u}, {2, 2, BACK}});
    }
    // Direct drawing with copy types 2 and 3 draws no overlays.
    IMAGE_BOX::store_local_result = 0;
    draw(nullptr, 0, 0, 9, 9, 0, IMAGE_COPY_ALPHA_MASK);
    EXPECT_EQ(at(5, 5) & 0xFFFFFFu, BACK & 0xFFFFFFu);
}

TEST_F(ImageBoxTest, HitTestsFollowThePieceUnderThePoint)
{
    nine("n", 8, 4, 3, 3);
    write_png("n_mid_right", 4, 1, 0x00000000u); // the right edge is clear
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "n", 0));
    // Box 20 x 10: the right band starts after x = 20 - 4.
    const short hits[5][3] = {{0, 5, 1}, {16, 5, 1}, {17, 5, 0}, {19, 0, 1}, {10, 9, 1}};
    for (const auto& h : hits)
        EXPECT_EQ(box.is_in_it(h[0], h[1], 20, 10), bool(h[2])) << h[0] << "," << h[1];
    box.clear_images();

    write_png("s", 4, 2, MM);
    ASSERT_TRUE(box.load_images(alias, "s", 0));
    EXPECT_TRUE(box.is_in_it(3, 4, 10, 10) && !box.is_in_it(0, 0, 10, 10));
    box.clear_images();
    EXPECT_FALSE(box.is_in_it(3, 4, 10, 10));
}

TEST_F(ImageBoxTest, AssignmentSharesPiecesAndSurvivesSelfAssignment)
{
    nine("n", 2, 2, 2, 2);
    IMAGE_BOX& a = box;
    IMAGE_BOX b;
    a.cache = b.cache = &cache;
    ASSERT_TRUE(a.load_images(alias, "n", 0));
    IMAGE* mid = a.mid_mid;
    a = a;
    EXPECT_TRUE(a.mid_mid == mid && cache.get_entry(mid)->uses == 1);
    b = a;
    EXPECT_TRUE(b.mid_mid == mid && cache.get_entry(mid)->uses == 2);
    // Editing one box gives it private copies; the other keeps the skin.
    b.recolour(0xFFFF0000u);
    EXPECT_TRUE(b.mid_mid != mid && a.mid_mid == mid);
    b.make_grey();
    b.replace_colour(MM, BACK);
    b.set_trialpha_colours(TL, TM, TR);
    a.clear_images();
    b.clear_images();
    EXPECT_TRUE(cache.get_entry(mid)->uses == 0 && a.mid_mid == nullptr);
}
