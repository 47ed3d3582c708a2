// Skinned boxes: the layouts, span sharing, tiling, overlays, the stored
// result, hit tests and shared references. Skins are written by the test.
#include "image_box.h"
#include "image_cache.h"
#include "image_test_util.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <vector>

using namespace imgtest;

namespace {

// One colour per nine-slice piece, row by row: piece(row, col).
INT_U32 piece(int row, int col)
{
    return 0xFF000000u | INT_U32(row * 3 + col + 1) << 20;
}
// Band 0, 1 or 2 of v in a span of `size` with ends `first` and `last`.
int band(int v, int first, int size, int last)
{
    return v < first ? 0 : v < size - last ? 1 : 2;
}
const INT_U32 TM = piece(0, 1), TR = piece(0, 2), ML = piece(1, 0), MM = piece(1, 1), MR = piece(1, 2),
              BM = piece(2, 1), BACK = 0xFF0000FFu;

class ImageBoxTest : public ImageFolderTest
{
protected:
    IMAGE_CACHE cache;
    IMAGE target = solid(64, 48, BACK);
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
        for (int r = 0; r < 3; r++) {
            for (int c = 0; c < 3; c++) {
                write_png(nine_name(base, r, c), w[c], h[r], piece(r, c), r == 0 && c == 1 ? tm_marker : 0);
            }
        }
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
    // The w x h box drawn at (x, y) with a one-pixel frame of what is around it.
    IMAGE framed(int x, int y, int w, int h)
    {
        return pattern(w + 2, h + 2, [&](int i, int j) { return at(x - 1 + i, y - 1 + j); });
    }
    // What framed() should show: f(x, y) inside, the background around.
    template <class F> static IMAGE boxed(int w, int h, F f)
    {
        return pattern(w + 2, h + 2, [&](int x, int y) { return x && y && x <= w && y <= h ? f(x - 1, y - 1) : BACK; });
    }
    struct AT
    {
        int x, y;
        INT_U32 colour;
    };
    void expect_at(std::initializer_list<AT> points)
    {
        for (const AT& p : points) {
            EXPECT_EQ(at(p.x, p.y), p.colour) << p.x << "," << p.y;
        }
    }
};

} // namespace

static_assert(!std::is_copy_constructible<IMAGE_BOX>::value, "boxes share their stored result only by assignment");

TEST_F(ImageBoxTest, NineSliceSharesTheSpanBetweenEndsAndTilesTheRest)
{
    nine("n", 8, 4, 3, 3);
    for (INT_U8 store : {INT_U8(0), INT_U8(1)}) {
        IMAGE_BOX::store_local_result = store;
        // 10 wide with ends 8 and 4: columns 6 and 3, a middle of 1.
        draw(store ? nullptr : "n", 2, 1, 11, 20);
        auto slices = [](int x, int y) { return piece(band(y, 3, 20, 3), band(x, 6, 10, 3)); };
        EXPECT_TRUE(same_picture(boxed(10, 20, slices), framed(2, 1, 10, 20)));
    }
    box.clear_images();

    // Exactly as wide as the two ends: no centre and no edge tiles. (A new
    // skin: the cache now holds the ends of "n" at their shared sizes.)
    IMAGE_BOX::store_local_result = 0;
    nine("w", 8, 4, 3, 3);
    draw("w", 1, 1, 12, 10);
    auto ends_only = [](int x, int y) { return piece(band(y, 3, 10, 3), band(x, 8, 12, 4)); };
    EXPECT_TRUE(same_picture(boxed(12, 10, ends_only), framed(1, 1, 12, 10)));
}

TEST_F(ImageBoxTest, EdgesTileWithTheLastTileCutAndTheCentreStaysInItsCell)
{
    IMAGE_BOX::store_local_result = 0;
    // 10-pixel top edge tiles over 25 pixels: three tiles, the last cut to 5.
    nine("t", 2, 2, 2, 2, 10, 10, 0xFFABCDEFu);
    draw("t", 0, 0, 28, 20);
    for (int x : {2, 12, 22}) {
        EXPECT_EQ(at(x, 0), 0xFFABCDEFu) << x;
    }
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
    draw("h", 1, 1, 20, 10);
    auto across = [](int x, int) { return piece(1, band(x, 3, 20, 5)); };
    EXPECT_TRUE(same_picture(boxed(20, 10, across), framed(1, 1, 20, 10)));
    write_png("v_top", 6, 2, TM);
    write_png("v_mid", 6, 3, MM);
    write_png("v_bottom", 6, 4, BM);
    draw("v", 1, 1, 10, 20);
    auto down = [](int, int y) { return piece(band(y, 2, 20, 4), 1); };
    EXPECT_TRUE(same_picture(boxed(10, 20, down), framed(1, 1, 10, 20)));

    // A single picture smaller than the box is centred; stretched it fills.
    write_png("s", 4, 2, MM);
    draw("s", 1, 1, 10, 6);
    auto centred = [](int x, int y) { return x >= 3 && x <= 6 && y >= 2 && y <= 3 ? MM : BACK; };
    EXPECT_TRUE(same_picture(boxed(10, 6, centred), framed(1, 1, 10, 6)));
    draw(nullptr, 1, 1, 10, 6, 1);
    EXPECT_TRUE(same_picture(boxed(10, 6, [](int, int) { return MM; }), framed(1, 1, 10, 6)));

    // Only "_left" and "_mid": false, but what opened is kept.
    write_png("p_left", 2, 2, ML);
    write_png("p_mid", 2, 2, MM);
    EXPECT_FALSE(box.load_images(alias, "p", 0));
    EXPECT_TRUE(box.are_images_valid() && box.mid_left != nullptr);
    EXPECT_FALSE(box.load_images(alias, "absent", 0) || box.are_images_valid());
    EXPECT_FALSE(IMAGE_BOX().load_images(alias, "s", 0)); // no cache
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
    IMAGE half = pattern(10, 10, [](int x, int) { return x < 5 ? 0 : MM; });
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

    // Offsets far beyond the box tile as their remainder does, without
    // walking the tiles that lie wholly before it.
    IMAGE tile = pattern(3, 2, [](int x, int y) { return 0xFF000000u | INT_U32(x * 80 + y * 20) << 8; });
    IMAGE back = solid(10, 10, MM);
    save(tile, "s_tolay.png");
    save(back, "s.png");
    IMAGE tiled[2];
    for (int k : {0, 1}) {
        box.overlay_x = INT_S16(1 + k * 3 * 10000);
        box.overlay_y = INT_S16(1 + k * 2 * 16000);
        draw("s", 1, 1, 10, 10, 0, IMAGE_COPY_BLEND);
        tiled[k] = framed(1, 1, 10, 10);
    }
    EXPECT_TRUE(same_picture(tiled[0], tiled[1]));
    EXPECT_EQ(px(tiled[0], 1, 1), 0xFF006400u); // tile (1, 1) at the box's corner
}

TEST_F(ImageBoxTest, HitTestsFollowThePieceUnderThePoint)
{
    nine("n", 8, 4, 3, 3);
    write_png("n_mid_right", 4, 1, 0x00000000u); // the right edge is clear
    box.cache = &cache;
    ASSERT_TRUE(box.load_images(alias, "n", 0));
    // Box 20 x 10: the right band starts after x = 20 - 4.
    const short hits[5][3] = {{0, 5, 1}, {16, 5, 1}, {17, 5, 0}, {19, 0, 1}, {10, 9, 1}};
    for (const auto& h : hits) {
        EXPECT_EQ(box.is_in_it(h[0], h[1], 20, 10), bool(h[2])) << h[0] << "," << h[1];
    }
    box.clear_images();
    // A single picture is hit only where it is drawn, centred.
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
    a.clear_images();
    b.clear_images();
    EXPECT_TRUE(cache.get_entry(mid)->uses == 0 && a.mid_mid == nullptr);

    // Without a cache clearing does nothing: neither the pieces nor the
    // stored result are touched.
    IMAGE piece, *result = new IMAGE;
    IMAGE_BOX bare;
    bare.mid_mid = &piece;
    bare.result = result;
    bare.clear_images();
    EXPECT_TRUE(bare.mid_mid == &piece && bare.result == result);
    bare.mid_mid = nullptr; // the destructor frees the result
}

// The names a box asks its cache for are the base with each piece's suffix,
// as the formatted "%s%s" into 4096 bytes would give them; one that would not
// fit there is never asked for. With nothing on disk every name asked for
// stays in the cache as a failed entry, in order.
TEST_F(ImageBoxTest, PieceNamesAreTheBaseAndSuffixWithinTheBound)
{
    const char* const suffixes[] = {"_colay", "_solay", "_tolay", "_top_left", "_left", "_top", ""};
    for (size_t length : {size_t(0), size_t(1), size_t(4085), size_t(4086), size_t(4089), size_t(4090), size_t(4095),
                          size_t(4096), size_t(5000)}) {
        SCOPED_TRACE(length);
        std::string base(length, 'k');
        if (length > 2) {
            base[length / 2] = 'z';
        }
        std::vector<std::string> want;
        for (const char* suffix : suffixes) {
            char formed[4096];
            int n = std::snprintf(formed, sizeof formed, "%s%s", base.c_str(), suffix);
            if (n >= 0 && size_t(n) < sizeof formed) {
                want.push_back(formed);
            }
        }
        IMAGE_CACHE keeping;
        IMAGE_BOX named;
        named.cache = &keeping;
        EXPECT_FALSE(named.load_images(alias, base.c_str(), 0));
        std::vector<std::string> asked;
        for (IMAGE_CACHE::CACHE_ENTRY* e = keeping.head; e; e = e->next) {
            asked.push_back(e->file_name ? e->file_name : "(null)");
        }
        EXPECT_EQ(asked, want);
    }
}
