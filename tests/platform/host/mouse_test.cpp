#include "host_internal.h"
#include "host_window.h"
#include "kivo_host.h"
#include "mouse.h"

#include <gtest/gtest.h>

TEST(Mouse, ButtonsAndClickTimes)
{
    kivo_fake_clock_enable(1);
    MOUSE::buttons = 0;
    kivo_fake_clock_set_wall(1000);
    MOUSE::process_mouse_button(1, 1);
    kivo_fake_clock_set_wall(1003);
    MOUSE::process_mouse_button(1, 0);
    EXPECT_EQ(MOUSE::buttons, 0u);
    EXPECT_EQ(MOUSE::last_click_gap, 3);
    EXPECT_EQ(MOUSE::last_left_down_time, 1000);

    kivo_fake_clock_set_wall(1010);
    for (short b : {33, 0, -1}) {
        MOUSE::process_mouse_button(b, 1);
    }
    EXPECT_EQ(MOUSE::buttons, 0u);
    EXPECT_EQ(MOUSE::last_click_time, 1010);
    EXPECT_EQ(MOUSE::last_left_up_time, 1003); // only button 1 moves these
    MOUSE::process_mouse_button(32, 1);
    MOUSE::process_mouse_button(2, 1);
    EXPECT_EQ(MOUSE::buttons, 0x80000002u);

    // A clock far from the last click keeps the gap within 32 bits.
    kivo_fake_clock_set_wall(INT64_C(1) << 40);
    MOUSE::process_mouse_button(3, 0);
    EXPECT_EQ(MOUSE::last_click_gap, INT32_MAX);
    MOUSE::buttons = 0;
    kivo_fake_clock_enable(0);
}

TEST(Mouse, CursorAnswersFollowTheIdTable)
{
    // The same answers before video starts and after, where the headless
    // driver can make no cursor at all.
    const int cases[][3] = {{-1, 1, 1}, {-1, 0, 1}, {0, 1, 1}, {1, 0, 1}, {2, 0, 0}, {3, 0, 1},
                            {4, 0, 1},  {5, 0, 1},  {5, 1, 1}, {6, 0, 0}, {-2, 0, 0}};
    for (int round = 0; round < 2; ++round) {
        for (const auto& c : cases) {
            EXPECT_EQ(MOUSE::set_mouse_cursor(static_cast<INT_S8>(c[0]), static_cast<INT_U8>(c[1])), c[2])
                << c[0] << " keep " << c[1];
        }
        ASSERT_TRUE(host_start_video());
    }
}

TEST(Mouse, PointerVisibilityAndPosition)
{
    MOUSE view; // the first view counts the buttons
    EXPECT_EQ(MOUSE::number_of_buttons, 3);
    events_something_done = 0;
    MOUSE::display_pointer(); // already shown: nothing to do
    EXPECT_EQ(events_something_done, 0);
    MOUSE::hide_pointer();
    EXPECT_EQ(events_something_done, 1);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    MOUSE::display_pointer();
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);

    MOUSE::set_position(10, 20); // no window: nothing happens
    ASSERT_EQ(open_window(nullptr, 320, 200, 0, 0), 1);
    MOUSE::set_position(17, 33);
    SDL_PumpEvents();
    int x = -1, y = -1;
    SDL_GetMouseState(&x, &y);
    EXPECT_EQ(x, 17);
    EXPECT_EQ(y, 33);
    close_window(0);
    events_something_done = 0;
}
