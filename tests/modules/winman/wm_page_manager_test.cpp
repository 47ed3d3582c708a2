#include "widget_test.h"

#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"

#include <vector>

using namespace kivo_test;
using namespace imgtest;

namespace {

using PageManager = WidgetTest;
using PageManagerDeath = WidgetTest;
using S = WM_SCREEN_OBJECT;

// Areas side by side or overlapping: area i at its rectangle.
void place(WM_PAGE_MANAGER& manager, int i, int x, int y, int w, int h)
{
    manager.areas[i].move(static_cast<INT_S16>(x), static_cast<INT_S16>(y));
    manager.areas[i].resize(static_cast<INT_S16>(w), static_cast<INT_S16>(h), 0);
}

} // namespace

TEST_F(PageManagerDeath, AreaCountAndASecondManagerAreFatal)
{
    EXPECT_EXIT(WM_PAGE_MANAGER(0, -1), ::testing::ExitedWithCode(1), "0069");
    auto* manager = new WM_PAGE_MANAGER(2, -1);
    EXPECT_EXIT(WM_PAGE_MANAGER(1, -1), ::testing::ExitedWithCode(1), "006A");
    EXPECT_EQ(S::pm, manager);
}

TEST_F(PageManager, BuildsVisibleAreasAndGivesEverythingBackWhenDeleted)
{
    std::vector<WM_SCREEN_OBJECT*> created;
    S::creation_callback = [](WM_SCREEN_OBJECT* o, void* data) {
        static_cast<std::vector<WM_SCREEN_OBJECT*>*>(data)->push_back(o);
    };
    S::creation_data = &created;
    auto* manager = new WM_PAGE_MANAGER(3, 20);
    EXPECT_EQ(KEYBOARD::buffer_sz, 20);
    ASSERT_EQ(created.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(created[i], &manager->areas[i]);
        EXPECT_TRUE(manager->areas[i].visible);
    }
    EXPECT_EQ(manager->current_area, &manager->areas[0]);
    S::creation_callback = nullptr;

    // Widgets still find the manager while they are deleted; afterwards
    // neither pm nor the shut-down hook points at it, so a new one can be made.
    auto* widget = new PROBE(0, 0, 10, 10, COLOUR_RED);
    manager->areas[1].add_object(widget, 0);
    auto* dialog = new PROBE(0, 0, 10, 10, COLOUR_RED);
    manager->areas[2].add_modal_object(dialog, 0);
    static int deleted_with_pm;
    deleted_with_pm = 0;
    S::deletion_callback = [](WM_SCREEN_OBJECT*, void*) { deleted_with_pm += S::pm != nullptr; };
    delete manager;
    S::deletion_callback = nullptr;
    EXPECT_EQ(deleted_with_pm, 5); // two widgets, three areas
    EXPECT_EQ(PROBE::live, 0);
    EXPECT_EQ(S::pm, nullptr);
    EXPECT_EQ(pm_destructor, nullptr);
    new WM_PAGE_MANAGER(1, -1); // the fixture deletes it
    EXPECT_NE(S::pm, nullptr);
}

TEST_F(PageManager, FindObjectAtPosPrefersHigherAreasAndTheirWidgets)
{
    WM_PAGE_MANAGER manager(2, -1);
    place(manager, 0, 0, 0, 400, 400);
    place(manager, 1, 200, 200, 400, 300);
    auto* low = new PROBE(250, 250, 20, 20, COLOUR_RED);
    auto* high = new PROBE(250, 250, 20, 20, COLOUR_RED);
    auto* only_low = new PROBE(300, 300, 20, 20, COLOUR_RED);
    manager.areas[0].add_object(low, 0);
    manager.areas[0].add_object(only_low, 0);
    manager.areas[1].add_object(high, 0);
    const struct
    {
        int x, y;
        WM_SCREEN_OBJECT* want;
    } cases[] = {
        {255, 255, high},              // both areas' widgets: the higher area's
        {305, 305, only_low},          // a widget beats the higher area's background
        {210, 210, &manager.areas[1]}, // bare background of both
        {10, 10, &manager.areas[0]},
        {700, 10, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manager.find_object_at_pos(static_cast<INT_S16>(c.x), static_cast<INT_S16>(c.y)), c.want)
            << c.x << "," << c.y;
    }
}

TEST_F(PageManager, CheckForDrawPaintsBackgroundTreesThenModalObjects)
{
    WM_PAGE_MANAGER manager(2, -1);
    S::update_regions_sz = 0; // a new manager asks to redraw its areas
    manager.backgrounds[0] = solid(SCREEN_W, SCREEN_H, 0x80FFFFFFu);
    auto* widget = new PROBE(10, 10, 50, 50, COLOUR_RED);
    auto* other = new PROBE(100, 10, 50, 50, COLOUR_GREEN);
    auto* dialog = new PROBE(40, 40, 30, 30, COLOUR_BLUE);
    manager.areas[0].add_object(widget, 0);
    manager.areas[1].add_object(other, 0);
    manager.areas[1].add_modal_object(dialog, 0);
    S::add_update_region(0, 0, 99, 99);
    manager.check_for_draw();

    // Replace: the half-clear background lands as it is, not blended.
    EXPECT_EQ(at(0, 0), 0x80FFFFFFu);
    EXPECT_EQ(at(99, 99), 0x80FFFFFFu);
    EXPECT_EQ(at(100, 100), SENTINEL); // outside the region
    EXPECT_EQ(at(15, 15), COLOUR_RED.value);
    EXPECT_EQ(at(45, 45), COLOUR_BLUE.value);
    EXPECT_EQ(at(100, 20), SENTINEL);
    EXPECT_EQ(other->draw_count, 0);
    EXPECT_EQ(dialog->area, -3);
    EXPECT_EQ(PROBE::draw_log, (std::vector<const PROBE*>{widget, dialog}));
    EXPECT_EQ(S::update_regions_index, -1);
    EXPECT_EQ(S::update_regions_sz, 0);
    EXPECT_EQ(active(screen()), (Rect{0, 0, SCREEN_W - 1, SCREEN_H - 1}));
}

TEST_F(PageManager, CheckForDrawPaintsEveryFilledBackgroundWhetherItsWindowIsOpenOrNot)
{
    WM_PAGE_MANAGER manager(1, -1);
    S::update_regions_sz = 0;
    // Window 0 is open with no picture; window 5 is not open but has one.
    ASSERT_NE(get_window_width(0), 0);
    ASSERT_EQ(get_window_width(5), 0);
    manager.backgrounds[5] = solid(40, 40, 0xFF2468ACu);
    S::add_update_region(0, 0, 99, 99);
    manager.check_for_draw();
    EXPECT_EQ(at(0, 0), 0xFF2468ACu);
    EXPECT_EQ(at(39, 39), 0xFF2468ACu);
    EXPECT_EQ(at(40, 40), SENTINEL); // window 0's empty picture paints nothing
}

TEST_F(PageManager, ForcedRedrawsBlendTheBackgroundAndNeedAManager)
{
    PROBE loose(10, 10, 5, 5, COLOUR_GREEN);
    S::force_screen_redraw(0);
    S::force_draw_object(&loose);
    EXPECT_EQ(loose.draw_count, 0);
    EXPECT_EQ(at(12, 12), SENTINEL);

    WM_PAGE_MANAGER manager(1, -1);
    S::update_regions_sz = 0; // a new manager asks to redraw its areas
    manager.backgrounds[0] = solid(SCREEN_W, SCREEN_H, 0xFF0000FFu);
    px(manager.backgrounds[0], 0, 0) = 0x00FFFFFFu; // clear: blending keeps the sentinel
    auto* widget = new PROBE(100, 100, 10, 10, COLOUR_RED);
    manager.areas[0].add_object(widget, 0);
    S::add_update_region(300, 300, 310, 310);
    S::force_screen_redraw(0);
    EXPECT_EQ(at(0, 0), SENTINEL);
    EXPECT_EQ(at(1, 0), 0xFF0000FFu);
    EXPECT_EQ(at(105, 105), COLOUR_RED.value);
    // The pending region and the index are given back.
    EXPECT_EQ(S::update_regions_sz, 1);
    EXPECT_EQ(S::update_regions[0].left, 300);
    EXPECT_EQ(S::update_regions_index, -1);

    // An object of no area is drawn by the forced draw of itself alone.
    screen().clear(SENTINEL, 1);
    S::force_draw_object(&loose);
    EXPECT_EQ(at(12, 12), COLOUR_GREEN.value);
    EXPECT_EQ(at(9, 9), SENTINEL);
    EXPECT_EQ(widget->draw_count, 1);
}

TEST_F(PageManager, MonitorAndUpdateSkipChildrenOutsideTheCurrentArea)
{
    WM_PAGE_MANAGER manager(2, -1);
    place(manager, 0, 0, 0, 400, 600);
    place(manager, 1, 400, 0, 400, 600);
    auto* inside = new PROBE(10, 10, 10, 10, COLOUR_RED);
    auto* touching = new PROBE(400, 10, 10, 10, COLOUR_RED); // touches area 0's right edge
    auto* outside = new PROBE(500, 10, 10, 10, COLOUR_RED);
    for (PROBE* p : {inside, touching, outside}) {
        manager.areas[0].add_object(p, 0);
    }
    tick(10);
    EXPECT_EQ(inside->monitor_count, 1);
    EXPECT_EQ(touching->monitor_count, 1);
    EXPECT_EQ(outside->monitor_count + outside->update_count, 0);
    S::clip_monitor_to_area = 0;
    tick(10);
    EXPECT_EQ(outside->monitor_count, 1);
    EXPECT_EQ(outside->update_count, 0);
}

TEST_F(PageManager, TickServesTheModalAreaAndAppliesTheInjectedClick)
{
    WM_PAGE_MANAGER manager(2, -1);
    auto* page_widget = new PROBE(0, 0, 100, 100, COLOUR_RED);
    manager.areas[0].add_object(page_widget, 0);
    auto* dialog = new PROBE(200, 200, 50, 50, COLOUR_BLUE);
    manager.areas[1].add_modal_object(dialog, 0);
    dialog->monitor_results = {12};
    int left_during_pass = -1;
    dialog->on_monitor = [&](PROBE&) { left_during_pass = static_cast<int>(MOUSE::buttons & 1); };
    point(5, 5);
    manager.injected_x = 220;
    manager.injected_y = 220;
    manager.injected_button = 1;
    EXPECT_EQ(tick(16), 12);
    EXPECT_EQ(manager.current, 1);
    EXPECT_EQ(page_widget->monitor_count, 0);
    EXPECT_EQ(left_during_pass, 1);
    EXPECT_EQ(MOUSE::x, 5);
    EXPECT_EQ(MOUSE::buttons & 1, 0u);
    EXPECT_EQ(get_wall_seconds(), START_WALL);
    tick(1000);
    EXPECT_EQ(get_wall_seconds(), START_WALL + 1);
    EXPECT_EQ(S::now_ms, 1001016u);
}

TEST_F(PageManager, ShutdownEmptiesTheAreasAndClosesModalObjects)
{
    pm_shutdown(); // no manager: nothing
    auto* manager = new WM_PAGE_MANAGER(2, -1);
    manager->areas[0].add_object(new PROBE(0, 0, 10, 10, COLOUR_RED), 0);
    auto* kept = new PROBE(0, 0, 10, 10, COLOUR_RED);
    kept->no_delete = 1;
    manager->areas[1].add_object(kept, 0);
    manager->areas[1].add_modal_object(new PROBE(0, 0, 10, 10, COLOUR_RED), 0);
    pm_destructor();
    EXPECT_EQ(PROBE::live, 1);
    EXPECT_FALSE(kept->visible);
    EXPECT_FALSE(manager->areas[0].visible || manager->areas[1].visible);
    EXPECT_EQ(S::modal_screen_objects.count, 0);
    delete kept;
}

// The page manager is built before the window opens: the surface is the
// back buffer without pixels, and a frame and the shut-down still work.
TEST_F(PageManager, WorksBeforeTheBackBufferHasPixels)
{
    destroy_back_buffer();
    S::surface = nullptr;
    new WM_PAGE_MANAGER(1, -1);
    EXPECT_EQ(S::surface, get_back_buffer(0));
    S::pm->areas[0].add_object(new PROBE(0, 0, 10, 10, COLOUR_RED), 0);
    S::pm->areas[0].request_draw();
    tick(16);
    pm_shutdown();
    EXPECT_EQ(PROBE::live, 0);
}
