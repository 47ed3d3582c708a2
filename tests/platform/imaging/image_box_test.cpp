// Skinned boxes: the layouts, span sharing, tiling, overlays, the stored
// result, hit tests and shared references. Skins are written by the test.
#include "codec_fixtures.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "image_box.h"
#include "image_cache.h"

#include <gtest/gtest.h>

#include <type_traits>

namespace {

const INT_U32 TL = 0xFF100000u, TM = 0xFF200000u, TR = 0xFF300000u, ML = 0xFF400000u, MM = 0xFF500000u,
              MR = 0xFF600000u, BL = 0xFF700000u, BM = 0xFF800000u, BR = 0xFF900000u, BACK = 0xFF0000FFu;

class ImageBoxTest : public kivo_test::ImageFolderTest
{
protected:
    IMAGE_CACHE cache;
    IMAGE target;
    INT_U8 saved_store = IMAGE_BOX::store_local_result;

    void SetUp() override
    {
        ImageFolderTest::SetUp();
        target.reset(64, 48);
        target.clear(BACK, 1);
    }
    void TearDown() override
    {
        IMAGE_BOX::store_local_result = saved_store;
        ImageFolderTest::TearDown();
    }
    void piece(const std::string& name, int w, int h, INT_U32 colour, INT_U32 marker = 0)
    {
        write_png(name, w, h, colour, marker);
    }

    // Nine-slice set with ends left x top, right x bottom and 1-pixel middles
    // unless given.
    void nine(const char* base, int left, int right, int top, int bottom, int mid_w = 1, int mid_h = 1,
              INT_U32 tm_marker = 0)
    {
        std::string b = base;
        piece(b + "_top_left", left, top, TL);
        piece(b + "_top_mid", mid_w, top, TM, tm_marker);
        piece(b + "_top_right", right, top, TR);
        piece(b + "_mid_left", left, mid_h, ML);
        piece(b + "_mid_mid", mid_w, mid_h, MM);
        piece(b + "_mid_right", right, mid_h, MR);
        piece(b + "_bottom_left", left, bottom, BL);
        piece(b + "_bottom_mid", mid_w, bottom, BM);
        piece(b + "_bottom_right", right, bottom, BR);
    }

    INT_U32 at(int x, int y) { return target.pixels[y * target.stride + x]; }
};

} // namespace

static_assert(!std::is_copy_constructible<IMAGE_BOX>::value, "boxes share their stored result only by assignment");

TEST_F(ImageBoxTest, NineSliceSharesTheSpanBetweenEndsAndTilesTheRest)
{
    nine("n", 8, 4, 3, 3);
    IMAGE_BOX box;
    EXPECT_EQ(box.mid_mid, nullptr);
    EXPECT_EQ(box.result, nullptr);
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "n", 0));
    for (INT_U8 store : {INT_U8(0), INT_U8(1)}) {
        IMAGE_BOX::store_local_result = store;
        target.clear(BACK, 1);
        // 10 wide with ends 8 and 4: columns 6 and 3, a middle of 1.
        box.draw(2, 1, 11, 20, 0, &target, IMAGE_COPY_REPLACE);
        const INT_U32 top[10] = {TL, TL, TL, TL, TL, TL, TM, TR, TR, TR};
        const INT_U32 mid[10] = {ML, ML, ML, ML, ML, ML, MM, MR, MR, MR};
        const INT_U32 bottom[10] = {BL, BL, BL, BL, BL, BL, BM, BR, BR, BR};
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(at(2 + i, 1), top[i]) << i;
            EXPECT_EQ(at(2 + i, 3), top[i]) << i;
            EXPECT_EQ(at(2 + i, 4), mid[i]) << i;
            EXPECT_EQ(at(2 + i, 17), mid[i]) << i;
            EXPECT_EQ(at(2 + i, 18), bottom[i]) << i;
            EXPECT_EQ(at(2 + i, 20), bottom[i]) << i;
        }
        EXPECT_EQ(at(1, 5), BACK);
        EXPECT_EQ(at(12, 5), BACK);
        EXPECT_EQ(at(5, 21), BACK);
    }
    box.clear_images();

    // Exactly as wide as the two ends: no centre and no edge tiles.
    nine("w", 8, 4, 3, 3);
    IMAGE_BOX exact;
    exact.cache = &cache;
    ASSERT_TRUE(exact.load_images(alias, "w", 0));
    IMAGE_BOX::store_local_result = 0;
    target.clear(BACK, 1);
    exact.draw(0, 0, 11, 9, 0, &target, IMAGE_COPY_REPLACE);
    for (int x = 0; x < 12; x++)
        for (int y = 0; y < 10; y++)
            ASSERT_TRUE(at(x, y) != TM && at(x, y) != MM && at(x, y) != BM) << x << "," << y;
    EXPECT_EQ(at(7, 5), ML);
    EXPECT_EQ(at(8, 5), MR);
    exact.clear_images();
}

TEST_F(ImageBoxTest, EdgesTileWithTheLastTileCutAndTheCentreStaysInItsCell)
{
    // 10-pixel top edge tiles over 25 pixels: three tiles, the last cut to 5.
    nine("t", 2, 2, 2, 2, 10, 10, 0xFFABCDEFu);
    IMAGE_BOX box;
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "t", 0));
    IMAGE_BOX::store_local_result = 0;
    box.draw(0, 0, 28, 20, 0, &target, IMAGE_COPY_REPLACE);
    for (int x : {2, 12, 22})
        EXPECT_EQ(at(x, 0), 0xFFABCDEFu) << x;
    EXPECT_EQ(at(26, 0), TM);
    EXPECT_EQ(at(27, 0), TR);
    box.clear_images();

    // A translucent right edge over the background: the centre tiles must
    // not reach under it (its cell ends one pixel before the edge).
    nine("c", 2, 2, 2, 2, 3, 3);
    piece("c_mid_right", 2, 3, 0x00000000u);
    ASSERT_TRUE(box.load_images(alias, "c", 0));
    target.clear(BACK, 1);
    box.draw(0, 0, 10, 9, 0, &target, IMAGE_COPY_BLEND);
    EXPECT_EQ(at(8, 4), MM);
    EXPECT_EQ(at(9, 4), BACK);
    EXPECT_EQ(at(4, 8), BM);
    box.clear_images();
}

TEST_F(ImageBoxTest, ThreeSliceAndSingleLayouts)
{
    piece("h_left", 3, 4, ML);
    piece("h_mid", 2, 4, MM);
    piece("h_right", 5, 4, MR);
    piece("v_top", 6, 2, TM);
    piece("v_mid", 6, 3, MM);
    piece("v_bottom", 6, 4, BM);
    piece("s", 4, 2, MM);
    IMAGE_BOX::store_local_result = 0;
    IMAGE_BOX box;
    box.cache = &cache;

    ASSERT_TRUE(box.load_images(alias, "h", 0));
    box.draw(0, 0, 19, 9, 0, &target, IMAGE_COPY_REPLACE);
    for (int y : {0, 9}) {
        EXPECT_EQ(at(2, y), ML);
        EXPECT_EQ(at(3, y), MM);
        EXPECT_EQ(at(14, y), MM);
        EXPECT_EQ(at(15, y), MR);
        EXPECT_EQ(at(19, y), MR);
    }
    EXPECT_EQ(at(20, 0), BACK);
    EXPECT_EQ(at(0, 10), BACK);

    target.clear(BACK, 1);
    ASSERT_TRUE(box.load_images(alias, "v", 0));
    box.draw(0, 0, 9, 19, 0, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(9, 1), TM);
    EXPECT_EQ(at(9, 2), MM);
    EXPECT_EQ(at(0, 15), MM);
    EXPECT_EQ(at(0, 16), BM);
    EXPECT_EQ(at(10, 5), BACK);

    // A single picture smaller than the box is centred; stretched it fills.
    target.clear(BACK, 1);
    ASSERT_TRUE(box.load_images(alias, "s", 0));
    box.draw(0, 0, 9, 5, 0, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(3, 2), MM);
    EXPECT_EQ(at(6, 3), MM);
    EXPECT_EQ(at(2, 2), BACK);
    EXPECT_EQ(at(7, 2), BACK);
    EXPECT_EQ(at(3, 1), BACK);
    box.draw(0, 0, 9, 5, 1, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(0, 0), MM);
    EXPECT_EQ(at(9, 5), MM);

    // Only "_left" and "_mid": false, but what opened is kept.
    piece("p_left", 2, 2, ML);
    piece("p_mid", 2, 2, MM);
    EXPECT_FALSE(box.load_images(alias, "p", 0));
    EXPECT_TRUE(box.are_images_valid());
    EXPECT_NE(box.mid_left, nullptr);
    EXPECT_FALSE(box.load_images(alias, "absent", 0));
    EXPECT_FALSE(box.are_images_valid());
    IMAGE_BOX no_cache;
    EXPECT_FALSE(no_cache.load_images(alias, "s", 0));
    box.clear_images();
}

TEST_F(ImageBoxTest, StoredResultComposesOnceAndIsBlittedAgain)
{
    piece("s", 4, 4, MM);
    IMAGE_BOX::store_local_result = 1;
    IMAGE_BOX box;
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "s", 0));
    box.draw(0, 0, 3, 3, 0, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(1, 1), MM);
    // Change the piece behind the box's back: the same size blits the
    // stored picture; redraw composes it again.
    box.mid_mid->clear(0xFF00FF00u, 1);
    box.draw(10, 0, 13, 3, 0, &target, IMAGE_COPY_REPLACE);
    EXPECT_EQ(at(11, 1), MM);
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
    IMAGE half;
    half.reset(10, 10);
    half.clear(MM, 1);
    for (int y = 0; y < 10; y++)
        for (int x = 0; x < 5; x++)
            half.pixels[y * half.stride + x] = 0;
    DATA_FILE* file = folder.open_data_file("o.png", fm_write, 0, 0);
    ASSERT_TRUE(half.save_png(file));
    folder.close(file);
    piece("o_colay", 2, 2, 0xFF00FF00u);
    piece("o_solay", 1, 1, 0xFF00FFFFu);
    piece("o_tolay", 3, 3, 0xFFFFFF00u);

    IMAGE_BOX box;
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "o", 0));
    ASSERT_NE(box.colay, nullptr);
    for (INT_U8 store : {INT_U8(0), INT_U8(1)}) {
        IMAGE_BOX::store_local_result = store;
        target.clear(BACK, 1);
        box.redraw = 1;
        box.draw(0, 0, 9, 9, 0, &target, IMAGE_COPY_BLEND);
        // The tiled overlay is drawn last where the box is opaque; the
        // centred one lies under it; nothing shows where the box is clear.
        EXPECT_EQ(at(7, 7), 0xFFFFFF00u) << int(store);
        EXPECT_EQ(at(2, 2), BACK) << int(store);
    }
    // Direct drawing with copy types 2 and 3 draws no overlays.
    IMAGE_BOX::store_local_result = 0;
    target.clear(BACK, 1);
    box.draw(0, 0, 9, 9, 0, &target, IMAGE_COPY_ALPHA_MASK);
    EXPECT_EQ(at(5, 5) & 0xFFFFFFu, BACK & 0xFFFFFFu);
    box.clear_images();
}

TEST_F(ImageBoxTest, HitTestsFollowThePieceUnderThePoint)
{
    nine("n", 8, 4, 3, 3);
    piece("n_mid_right", 4, 1, 0x00000000u); // the right edge is clear
    IMAGE_BOX box;
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "n", 0));
    // Box 20 x 10: the right band starts after x = 20 - 4.
    EXPECT_TRUE(box.is_in_it(0, 5, 20, 10));
    EXPECT_TRUE(box.is_in_it(16, 5, 20, 10)); // x = w - right: still the middle
    EXPECT_FALSE(box.is_in_it(17, 5, 20, 10));
    EXPECT_TRUE(box.is_in_it(19, 0, 20, 10));
    EXPECT_TRUE(box.is_in_it(10, 9, 20, 10));
    box.clear_images();

    piece("s", 4, 2, MM);
    ASSERT_TRUE(box.load_images(alias, "s", 0));
    EXPECT_TRUE(box.is_in_it(3, 4, 10, 10));
    EXPECT_FALSE(box.is_in_it(0, 0, 10, 10));
    box.clear_images();
    EXPECT_FALSE(box.is_in_it(3, 4, 10, 10));
}

TEST_F(ImageBoxTest, AssignmentSharesPiecesAndSurvivesSelfAssignment)
{
    nine("n", 2, 2, 2, 2);
    IMAGE_BOX a, b;
    a.cache = b.cache = &cache;
    ASSERT_TRUE(a.load_images(alias, "n", 0));
    IMAGE* mid = a.mid_mid;
    a = a;
    EXPECT_EQ(a.mid_mid, mid);
    EXPECT_EQ(cache.get_entry(mid)->uses, 1);
    b = a;
    EXPECT_EQ(b.mid_mid, mid);
    EXPECT_EQ(cache.get_entry(mid)->uses, 2);
    // Editing one box gives it private copies; the other keeps the skin.
    b.recolour(0xFFFF0000u);
    EXPECT_NE(b.mid_mid, mid);
    EXPECT_EQ(a.mid_mid, mid);
    b.make_grey();
    b.replace_colour(MM, BACK);
    b.set_trialpha_colours(TL, TM, TR);
    a.clear_images();
    b.clear_images();
    EXPECT_EQ(cache.get_entry(mid)->uses, 0);
    EXPECT_EQ(a.mid_mid, nullptr);
}
