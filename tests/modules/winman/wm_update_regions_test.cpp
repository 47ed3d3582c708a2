#include "widget_test.h"

#include "wm_clip.h"
#include "wm_manager.h"

#include <array>
#include <vector>

using namespace kivo_test;
using namespace imgtest;

namespace {

using UpdateRegions = WidgetTest;
using S = WM_SCREEN_OBJECT;
using Box = std::array<int, 4>; // x1, y1, x2, y2

std::vector<Box> regions()
{
    std::vector<Box> out;
    for (int i = 0; i < S::update_regions_sz; ++i) {
        const WM_UPDATE_REGION& r = S::update_regions[i];
        out.push_back({r.left, r.top, r.right, r.bottom});
    }
    return out;
}

void add(const Box& b)
{
    S::add_update_region(static_cast<INT_S16>(b[0]), static_cast<INT_S16>(b[1]), static_cast<INT_S16>(b[2]),
                         static_cast<INT_S16>(b[3]));
}

} // namespace

TEST_F(UpdateRegions, MarkingClipsToTheWindow)
{
    const struct
    {
        int x, y, w, h;
        std::vector<Box> want;
    } cases[] = {
        {-10, -10, 30, 30, {{0, 0, 19, 19}}},
        {-50, 10, 30, 30, {}}, // wholly left of the window
        {790, 590, 30, 30, {{790, 590, 799, 599}}},
        {10, 10, 0, 5, {}},
    };
    for (const auto& c : cases) {
        S::update_regions_sz = 0;
        PROBE p(c.x, c.y, c.w, c.h, COLOUR_RED, 0);
        p.mark_redraw_area();
        EXPECT_EQ(regions(), c.want) << c.x << "," << c.y;
    }

    // A subarea is not limited to the object, but is to the window; one
    // wholly right of or below the window adds nothing.
    PROBE p(0, 0, 10, 10, COLOUR_RED, 0);
    const struct
    {
        Box in;
        std::vector<Box> want;
    } subareas[] = {
        {{-5, -5, 300, 20}, {{0, 0, 300, 20}}},
        {{700, 500, 900, 700}, {{700, 500, 799, 599}}},
        {{900, 10, 950, 20}, {}},
        {{10, 650, 20, 700}, {}},
        {{20, 10, 10, 20}, {}},
    };
    for (const auto& c : subareas) {
        S::update_regions_sz = 0;
        p.mark_redraw_subarea(static_cast<INT_S16>(c.in[0]), static_cast<INT_S16>(c.in[1]),
                              static_cast<INT_S16>(c.in[2]), static_cast<INT_S16>(c.in[3]));
        EXPECT_EQ(regions(), c.want) << c.in[0] << "," << c.in[1];
    }
    S::update_regions_sz = 0;
    p.mark_entire_redraw_area();
    EXPECT_EQ(regions(), (std::vector<Box>{{0, 0, 799, 599}}));
}

TEST_F(UpdateRegions, MethodsMergeContainAndOverflow)
{
    const struct
    {
        INT_U32 method;
        std::vector<Box> in, want;
    } cases[] = {
        // Within 32 pixels on every side: one region (40 < 10 + 32).
        {3, {{0, 0, 10, 10}, {40, 0, 50, 10}, {100, 0, 110, 10}}, {{0, 0, 50, 10}, {100, 0, 110, 10}}},
        // A grown rectangle joins again: the union reaches the third.
        {3, {{0, 0, 10, 10}, {80, 0, 90, 10}, {40, 0, 50, 10}}, {{0, 0, 90, 10}}},
        {3, {{0, 0, 100, 100}, {10, 10, 20, 20}}, {{0, 0, 100, 100}}},
        {1, {{0, 0, 10, 10}, {5, 5, 15, 15}, {2, 2, 8, 8}}, {{0, 0, 10, 10}, {5, 5, 15, 15}}},
        // Any one side near enough is a join.
        {2, {{0, 0, 10, 10}, {400, 0, 410, 10}}, {{0, 0, 410, 10}}},
        {0, {{50, 60, 70, 80}, {10, 100, 20, 110}}, {{10, 60, 70, 110}}},
        {4, {{5, 5, 6, 6}, {10, 10, 20, 20}}, {{0, 0, 799, 599}}},
        {5, {{5, 5, 6, 6}}, {}},
    };
    for (const auto& c : cases) {
        S::update_regions_sz = 0;
        S::update_region_method = c.method;
        for (const Box& b : c.in) {
            add(b);
        }
        EXPECT_EQ(regions(), c.want) << "method " << c.method;
    }

    // The 129th separate rectangle widens region 0.
    S::update_regions_sz = 0;
    S::update_region_method = 3;
    for (int i = 0; i < 129; ++i) {
        const int x = (i % 16) * 48, y = (i / 16) * 48;
        add({x, y, x + 7, y + 7});
    }
    ASSERT_EQ(S::update_regions_sz, 128);
    EXPECT_EQ(regions()[0], (Box{0, 0, 7, 8 * 48 + 7}));
}

TEST_F(UpdateRegions, RequestsDuringADrawAreDropped)
{
    add({0, 0, 10, 10});
    S::update_regions_index = 0;
    add({300, 300, 310, 310});
    PROBE p(500, 500, 10, 10, COLOUR_RED);
    p.request_draw();
    EXPECT_EQ(regions().size(), 1u);
    S::update_regions_index = -1;
}

TEST_F(UpdateRegions, OnlyMarkedRegionsRepaint)
{
    WM_MANAGER root;
    auto* left = new PROBE(10, 10, 20, 20, COLOUR_RED);
    auto* right = new PROBE(300, 10, 20, 20, COLOUR_BLUE);
    root.add_object(left, 0);
    root.add_object(right, 0);
    draw_regions(&root); // the first pass draws the dirty objects' regions: none marked yet
    EXPECT_EQ(left->draw_count + right->draw_count, 0);

    left->request_draw();
    draw_regions(&root);
    EXPECT_EQ(left->draw_count, 1);
    EXPECT_EQ(right->draw_count, 0);
    EXPECT_EQ(at(10, 10), COLOUR_RED.value);
    EXPECT_EQ(at(300, 10), SENTINEL);

    // A subarea repaints the objects that meet it, clipped to it.
    root.mark_redraw_subarea(25, 10, 305, 12);
    draw_regions(&root);
    EXPECT_EQ(right->draw_count, 1);
    EXPECT_EQ(at(305, 12), COLOUR_BLUE.value);
    EXPECT_EQ(at(305, 13), SENTINEL);
    EXPECT_TRUE(left->drawn && right->drawn && !left->dirty);
}

TEST_F(UpdateRegions, HiddenParentsAndModalChildren)
{
    WM_MANAGER root;
    auto* parent = new PROBE(0, 0, 100, 100, COLOUR_RED);
    auto* child = new PROBE(10, 10, 10, 10, COLOUR_GREEN);
    auto* modal_child = new PROBE(5, 5, 20, 20, COLOUR_BLUE);
    root.add_object(parent, 0);
    parent->add_object(child, 0);
    parent->add_object(modal_child, 0);
    root.add_modal_object(modal_child, 0);
    root.mark_entire_redraw_area();
    draw_regions(&root);
    // The modal child is drawn once, by the modal pass, over the tree.
    EXPECT_EQ(modal_child->draw_count, 1);
    EXPECT_EQ(PROBE::draw_log, (std::vector<const PROBE*>{parent, child, modal_child}));
    EXPECT_EQ(at(12, 12), COLOUR_BLUE.value);

    parent->hide(0, 0);
    child->request_draw();
    draw_regions(&root);
    EXPECT_EQ(child->draw_count, 1); // the hidden parent keeps its subtree undrawn
    root.remove_modal_object(modal_child, 0, 0);
}

TEST_F(UpdateRegions, ManagerTakesTheWindowSizeAndMarksOnlyItsNewRectangle)
{
    WM_MANAGER manager;
    EXPECT_EQ(manager.get_width(), SCREEN_W);
    EXPECT_EQ(manager.get_height(), SCREEN_H);

    manager.resize(SCREEN_W, SCREEN_H, 1);
    EXPECT_EQ(S::update_regions_sz, 0);
    manager.hide(0, 0);
    S::update_regions_sz = 0;
    manager.resize(100, 50, 1);
    EXPECT_EQ(regions(), std::vector<Box>{}); // hidden: not even the new one
    manager.visible = 1;
    manager.resize(40, 30, 1);
    EXPECT_EQ(regions(), (std::vector<Box>{{0, 0, 39, 29}}));

    // Its redraw is clipped to its rectangle, and the clip comes back exactly.
    auto* wide = new PROBE(0, 0, 200, 10, COLOUR_RED);
    manager.add_object(wide, 0);
    manager.mark_entire_redraw_area();
    draw_regions(&manager);
    EXPECT_EQ(at(39, 0), COLOUR_RED.value);
    EXPECT_EQ(at(40, 0), SENTINEL);
}

TEST_F(UpdateRegions, ClipSaverRestoresAnEmptyClipExactly)
{
    CANVAS image(10, 10);
    image.active_x1 = image.active_x2 = image.active_y1 = image.active_y2 = -1;
    {
        WM_CLIP_SAVER clip(&image);
        image.set_active_area(2, 2, 5, 5);
    }
    EXPECT_EQ(active(image), NO_RECT);
    image.set_active_area(1, 2, 3, 4);
    {
        WM_CLIP_SAVER clip(&image);
        image.add_rect_to_active_area(50, 50, 60, 60);
        clip.restore();
        EXPECT_EQ(active(image), (Rect{1, 2, 3, 4}));
        image.set_active_area(0, 0, 9, 9);
    }
    EXPECT_EQ(active(image), (Rect{1, 2, 3, 4}));
}
