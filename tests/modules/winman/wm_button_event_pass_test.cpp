// Clicks through the host's real event pass: however quickly a press and
// its release follow each other, the button sees both.
#include "event_loop.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "mouse.h"
#include "widget_test.h"
#include "wm_button.h"

#include <cstring>

namespace {

class ButtonEventPassTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        new WM_PAGE_MANAGER(1, -1); // the fixture deletes it
        char title[] = "event pass";
        ASSERT_EQ(open_window(title, kivo_test::SCREEN_W, kivo_test::SCREEN_H, 0, 0), 1);
        set_max_idle_ms(0);
        host_reset_event_loop();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        SDL_WarpMouseInWindow(host_sdl_window(), 130, 110);
        frames(2);
    }
    void TearDown() override
    {
        WidgetTest::TearDown();
        close_window(0);
        set_max_idle_ms(50);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }
    // The run loop's turn: one event pass, one application step.
    void frames(int n)
    {
        for (int i = 0; i < n; ++i) {
            process_os_events();
            tick(10);
        }
    }
    void push_click()
    {
        for (Uint32 type : {SDL_MOUSEBUTTONDOWN, SDL_MOUSEBUTTONUP}) {
            SDL_Event e;
            std::memset(&e, 0, sizeof e);
            e.type = type;
            e.button.windowID = SDL_GetWindowID(host_sdl_window());
            e.button.button = SDL_BUTTON_LEFT;
            e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
            e.button.x = 130;
            e.button.y = 110;
            ASSERT_EQ(SDL_PushEvent(&e), 1);
        }
    }
    static WM_MESG count(WM_SCREEN_OBJECT*, void* calls, void*)
    {
        ++*static_cast<int*>(calls);
        return 0;
    }
};

} // namespace

TEST_F(ButtonEventPassTest, EveryQueuedClickFiresTheButton)
{
    // Trigger 1 fires on the press, 2 on the release inside.
    const struct
    {
        INT_U8 trigger;
        int clicks;
    } cases[] = {{2, 1}, {2, 3}, {1, 1}, {1, 3}};
    for (const auto& c : cases) {
        int calls = 0;
        auto* b = new WM_BUTTON(100, 100, 159, 119, COLOUR_GREY, COLOUR_BLACK, "OK", 0, 0, 15, count, &calls, nullptr,
                                1, c.trigger);
        WM_SCREEN_OBJECT::pm->areas[0].add_object(b, 0);
        frames(1);
        for (int i = 0; i < c.clicks; ++i) {
            ASSERT_NO_FATAL_FAILURE(push_click());
        }
        frames(4 * c.clicks);
        EXPECT_EQ(calls, c.clicks) << "trigger " << int(c.trigger);
        EXPECT_EQ(MOUSE::buttons, 0u);
        WM_SCREEN_OBJECT::pm->areas[0].remove_object(b, 1, 0);
    }
}
