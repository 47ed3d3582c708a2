#include "test_pages.h"

#include "host_main.h"
#include "host_window.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_frame_pacing.h"

#include <algorithm>
#include <functional>
#include <vector>

using namespace kivo_test;

namespace {

using FrameDriver = PageTest;
using S = WM_SCREEN_OBJECT;

// Each present advances the clock, so a transition's frames come 350 ms apart.
int presents;
void count_present()
{
    ++presents;
    kivo_fake_clock_advance_ms(350);
}

int cursor_in_create;

// A manager with one page per area (ids 1, 2, ...), shown by the first
// pass: plainly, or fading in with page effects, and created only once.
WM_PAGE_MANAGER* with_pages(int count, std::vector<TEST_PAGE*>& pages, INT_U8 effects = 0)
{
    delete S::pm;
    auto* manager = new WM_PAGE_MANAGER(static_cast<INT_S16>(count), -1);
    manager->page_effects = effects;
    pages.clear();
    TEST_PAGE::created.clear();
    for (int i = 0; i < count; ++i) {
        pages.push_back(new TEST_PAGE(*manager, static_cast<INT_U32>(i + 1), i));
        pages.back()->on_create = [](TEST_PAGE&) { cursor_in_create = MOUSE::current_cursor; };
    }
    EXPECT_EQ(manager->monitor(1), effects ? WM_MESG_FADE_IN : WM_MESG_CHANGE);
    EXPECT_EQ(TEST_PAGE::created.size(), static_cast<size_t>(count));
    TEST_PAGE::created.clear();
    cursor_in_create = -2;
    return manager;
}

PROBE* focusable(WM_SCREEN_OBJECT& parent)
{
    auto* p = new PROBE(0, 0, 10, 10, COLOUR_RED);
    p->can_focus = 1;
    parent.add_object(p, 0);
    return p;
}

} // namespace

TEST_F(FrameDriver, MonitorDelayHoldsBackOnlyThePageCallbacks)
{
    std::vector<TEST_PAGE*> pages;
    with_pages(1, pages);
    PROBE* widget = pages[0]->widgets[0];
    // Ten passes 40 ms apart, also across the counter's sign bit and its wrap.
    const struct
    {
        INT_S16 delay;
        INT_U32 start_ms;
        int page_calls;
    } rows[] = {{100, 1000000, 4}, {100, 0x80000010u, 4}, {100, 0xFFFFFFC0u, 4}, {0, 1000000, 10}, {-5, 0, 10}};
    for (const auto& row : rows) {
        wm_context.state.page_manager = {};
        WM_PAGE_MANAGER::monitor_delay_ms = row.delay;
        kivo_fake_clock_set_ms(row.start_ms);
        pages[0]->monitor_count = widget->monitor_count = 0;
        for (int pass = 0; pass < 10; ++pass, kivo_fake_clock_advance_ms(40)) {
            S::pm->monitor(1);
        }
        EXPECT_EQ(pages[0]->monitor_count, row.page_calls) << row.delay << " from " << row.start_ms;
        EXPECT_EQ(widget->monitor_count, 10);
    }
}

TEST_F(FrameDriver, DispatchRebuildsAndClosesAsAsked)
{
    // Page 1 shows in area 0, page 2 in area 1, two modal probes over area
    // 0. The code comes from area 1's widget (timed pass), or from page 1
    // (modal pass), so the message's area is 1 or 0.
    const struct
    {
        WM_MESG code;
        int from, hidden_area;
        WM_MESG result;
        long rebuilt_1, rebuilt_2;
        int modals_left;
    } rows[] = {
        {5, 1, -1, 0, 0, 1, 2}, {5, 0, -1, 0, 1, 0, 2}, {6, 1, -1, 0, 1, 1, 2},   {6, 1, 0, 0, 0, 1, 2},
        {7, 1, -1, 0, 0, 1, 0}, {8, 1, -1, 0, 1, 1, 0}, {8, 0, 0, 0, 0, 1, 2},    {9, 1, -1, 0, 0, 0, 0},
        {3, 1, -1, 3, 0, 0, 2}, {4, 1, -1, 4, 0, 0, 2}, {-1, 1, -1, -1, 0, 0, 2}, {33, 1, -1, 33, 0, 0, 2},
    };
    std::vector<TEST_PAGE*> pages;
    for (const auto& row : rows) {
        WM_PAGE_MANAGER* manager = with_pages(2, pages);
        manager->areas[0].add_modal_object(new PROBE(0, 0, 10, 10, COLOUR_GREEN), 0);
        manager->areas[0].add_modal_object(new PROBE(0, 0, 10, 10, COLOUR_GREEN), 0);
        if (row.hidden_area >= 0) {
            manager->areas[row.hidden_area].visible = 0;
        }
        (row.from ? pages[1]->widgets[0]->update_results : pages[0]->monitor_results).push_back(row.code);
        const int live = PROBE::live;
        EXPECT_EQ(manager->monitor(1), row.result) << row.code;
        const auto& created = TEST_PAGE::created;
        EXPECT_EQ(std::count(created.begin(), created.end(), 1u), row.rebuilt_1) << row.code;
        EXPECT_EQ(std::count(created.begin(), created.end(), 2u), row.rebuilt_2) << row.code;
        // Each page keeps one widget; only the modal probes go, each once.
        EXPECT_EQ(PROBE::live, live - 2 + row.modals_left) << row.code;
        EXPECT_EQ(cursor_in_create, created.empty() ? -2 : 6);
        EXPECT_EQ(MOUSE::current_cursor, 0);
    }
}

TEST_F(FrameDriver, PageChangeCodesRunTheirTransitions)
{
    WM_PAGE_MANAGER::frame_hook = count_present;
    std::vector<TEST_PAGE*> pages;
    for (WM_MESG code = WM_MESG_CHANGE; code <= WM_MESG_LAST_CHANGE; ++code) {
        WM_PAGE_MANAGER* manager = with_pages(1, pages, code % 2);
        (new TEST_PAGE(*manager, 9, 0, 1, COLOUR_BLUE))->on_create = pages[0]->on_create;
        pages[0]->widgets[0]->monitor_results.push_back(code);
        presents = 0;
        EXPECT_EQ(manager->monitor(1), code);
        EXPECT_EQ(TEST_PAGE::created, std::vector<INT_U32>{9}) << code;
        EXPECT_EQ(code == WM_MESG_CHANGE ? presents == 1 : presents > 1, true) << code << ": " << presents;
        EXPECT_EQ(at(400, 300), COLOUR_BLUE.value) << code;
        EXPECT_EQ(cursor_in_create, 6);
        EXPECT_EQ(MOUSE::current_cursor, 0);
    }
}

TEST_F(FrameDriver, ResizeAndRebuildRequestsRebuildOnce)
{
    std::vector<TEST_PAGE*> pages;
    WM_PAGE_MANAGER* manager = with_pages(2, pages);
    manager->areas[1].visible = 0;
    manager->areas[1].rebuild_on_monitor = 1;
    create_back_buffer(640, 480);
    manager->monitor(1);
    manager->monitor(1);
    EXPECT_EQ(TEST_PAGE::created, (std::vector<INT_U32>{2, 1})); // hidden areas too, last first
    EXPECT_EQ(manager->areas[1].rebuild_on_monitor, 0);

    TEST_PAGE::created.clear();
    manager->areas[0].rebuild_on_monitor = manager->areas[1].rebuild_on_monitor = 1;
    manager->monitor(1);
    manager->monitor(1);
    EXPECT_EQ(TEST_PAGE::created, std::vector<INT_U32>{1}); // hidden area 1 waits
    EXPECT_EQ(manager->areas[1].rebuild_on_monitor, 1);
}

TEST_F(FrameDriver, FocusRepairPassesTheFocusOnAndTellsTheLastOneOnce)
{
    WM_PAGE_MANAGER manager(1, -1);
    PROBE* w0 = focusable(manager.areas[0]);
    auto* box = new PROBE(0, 0, 10, 10, COLOUR_INVISIBLE);
    manager.areas[0].add_object(box, 0);
    PROBE* w1 = focusable(*box);
    // Each call of the callback records the focal object it sees.
    static std::vector<WM_SCREEN_OBJECT*> seen;
    static std::function<void()> then;
    seen.clear();
    then = nullptr;
    w1->focus_callback = [](WM_SCREEN_OBJECT*, void*) {
        seen.push_back(S::focal_object);
        if (then) {
            then();
        }
    };
    S::focal_object = w0;
    w0->visible = 0;
    box->monitor_results.push_back(WM_MESG_TAKEN); // the focus stays
    EXPECT_EQ(manager.monitor(1), WM_MESG_TAKEN);
    EXPECT_EQ(S::focal_object, w0);
    manager.monitor(1);
    EXPECT_EQ(S::focal_object, w1);

    box->visible = 0; // hides w1 with it
    seen.clear();
    manager.monitor(1);
    manager.monitor(1);
    EXPECT_EQ(S::focal_object, nullptr);
    EXPECT_EQ(seen, std::vector<WM_SCREEN_OBJECT*>{w1}); // told once, while still focused

    // A callback that hands the focus to an object it makes focusable keeps it.
    box->visible = 1;
    w1->take_focus();
    auto* late = new PROBE(20, 0, 10, 10, COLOUR_RED);
    manager.areas[0].add_object(late, 0);
    then = [late] { late->can_focus = 1, late->take_focus(); };
    box->visible = 0;
    manager.monitor(1);
    EXPECT_EQ(S::focal_object, late);
    then = nullptr;
}

TEST_F(FrameDriver, InjectedClickLeavesThePointerAndModalAreasStayInRange)
{
    WM_PAGE_MANAGER manager(1, -1);
    auto* widget = new PROBE(0, 0, 100, 100, COLOUR_RED);
    manager.areas[0].add_object(widget, 0);
    std::vector<int> seen;
    widget->on_monitor = [&seen](PROBE&) {
        seen = {MOUSE::x, MOUSE::y, static_cast<int>(MOUSE::buttons & 1)};
        S::pm->cursor_request = 1; // the hand
    };
    point(5, 6);
    manager.injected_x = 50;
    manager.injected_y = 60;
    manager.injected_button = 1;
    manager.monitor(1);
    EXPECT_EQ(seen, (std::vector<int>{50, 60, 1}));
    EXPECT_EQ((std::vector<int>{MOUSE::x, MOUSE::y, static_cast<int>(MOUSE::buttons & 1)}),
              (std::vector<int>{5, 6, 0}));
    EXPECT_EQ(MOUSE::current_cursor, 1);

    // A modal object over an area that does not exist: nothing is monitored.
    auto* stray = new PROBE(0, 0, 10, 10, COLOUR_RED);
    manager.areas[0].add_modal_object(stray, 0);
    stray->area = -2 - 7;
    widget->monitor_count = 0;
    EXPECT_EQ(manager.monitor(1), 0);
    EXPECT_EQ(stray->monitor_count + widget->monitor_count, 0);
}

namespace {

PRESENT_PACE sixty_hertz(short)
{
    return {16667, 0};
}

void count_only()
{
    ++presents;
}

} // namespace

// While input waits behind an early end of the event pass, a frame goes
// out only when it needs no wait; the others are skipped, their drawing
// kept for the next frame. Without waiting input the frame waits its turn.
TEST_F(FrameDriver, QueuedInputSkipsTheFramesThatWouldWait)
{
    WM_PAGE_MANAGER manager(1, -1);
    auto* widget = new PROBE(0, 0, 100, 100, COLOUR_RED);
    manager.areas[0].add_object(widget, 0);
    wm_present_pace = sixty_hertz;
    wm_frame_pacer().forget();
    WM_PAGE_MANAGER::frame_hook = count_only;
    presents = 0;
    struct Step
    {
        INT_U8 waiting;
        INT_U32 advance_ms; // before the pass
        int presents;       // after it
        INT_U32 waited_ms;  // the clock moved by the pass
    };
    const Step steps[] = {
        {1, 0, 1, 0},  // the first frame is due at once
        {1, 5, 1, 0},  // skipped, not waited for
        {1, 5, 1, 0},  // still not due
        {1, 7, 2, 0},  // a whole interval has passed
        {0, 0, 3, 17}, // no input waiting: paced as before
    };
    for (const Step& s : steps) {
        kivo_fake_clock_advance_ms(s.advance_ms);
        events_input_waiting = s.waiting;
        back_buffer.mark_dirty_area(0, 0, 9, 9);
        const INT_U32 before = get_ms_count();
        manager.monitor(1);
        EXPECT_EQ(presents, s.presents) << int(s.waiting) << " +" << s.advance_ms;
        EXPECT_EQ(get_ms_count() - before, s.waited_ms) << int(s.waiting) << " +" << s.advance_ms;
    }
    events_input_waiting = 0;
    WM_PAGE_MANAGER::frame_hook = nullptr;
    wm_present_pace = get_present_pace;
}
