// Full-screen display modes under SDL's dummy driver (one 1024 x 768
// display at 32 bits per pixel).
#include "display_state.h"

#include "host_internal.h"

#include <gtest/gtest.h>

namespace {

class DisplayStateTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(host_start_video()); }
};

TEST_F(DisplayStateTest, DeviceQueries)
{
    UDisplayState state(0);
    EXPECT_EQ(0, state.RestoreMode()); // no mode active
    EXPECT_EQ(-1, UDisplayState::GetDeviceIndex(1));
    EXPECT_EQ(-1, UDisplayState::GetDeviceIndex(-1));
    EXPECT_EQ(1024, state.GetDeviceWidth(nullptr));
    EXPECT_EQ(768, state.GetDeviceHeight(nullptr));
    EXPECT_TRUE(UDisplayState::HasDepth(0, 32));
    EXPECT_FALSE(UDisplayState::HasDepth(0, 8));
}

TEST_F(DisplayStateTest, ModeOfItsOwnIsABlackWindowOverTheDisplay)
{
    Uint32 first_id = 0;
    {
        // 65535 for all three keeps 640 x 480 x 8; video runs, so the mode begins.
        UDisplayState state(0, -1, -1, -1, 0);
        EXPECT_EQ(640, state.width);
        EXPECT_EQ(480, state.height);
        EXPECT_EQ(8, state.depth);
        ASSERT_TRUE(state.IsActive());
        ASSERT_NE(nullptr, state.full_screen_window);
        EXPECT_EQ(32, state.saved_depth);
        EXPECT_EQ(32, UDisplayState::GetDeviceDepth(0)); // depth 8 is never set
        int w = 0, h = 0;
        SDL_GetWindowSize(state.full_screen_window, &w, &h);
        EXPECT_EQ(1024, w);
        SDL_Surface* surface = SDL_GetWindowSurface(state.full_screen_window);
        ASSERT_NE(nullptr, surface);
        EXPECT_EQ(0u, static_cast<Uint32*>(surface->pixels)[5] & 0xFFFFFFu);

        // Beginning again ends the old mode first.
        first_id = SDL_GetWindowID(state.full_screen_window);
        EXPECT_EQ(0, state.ChangeMode());
        EXPECT_EQ(nullptr, SDL_GetWindowFromID(first_id));
        first_id = SDL_GetWindowID(state.full_screen_window);
        EXPECT_NE(nullptr, SDL_GetWindowFromID(first_id));
    }
    EXPECT_EQ(nullptr, SDL_GetWindowFromID(first_id)); // the destructor ended it
}

TEST_F(DisplayStateTest, WithoutVideoNothingChanges)
{
    while (SDL_WasInit(SDL_INIT_VIDEO)) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
    }
    UDisplayState state(0, 800, 600, 32, 0); // video is off: no mode begins
    EXPECT_FALSE(state.IsActive());
    EXPECT_EQ(DISPLAY_STATE_NO_VIDEO, state.ChangeMode());
    EXPECT_EQ(DISPLAY_STATE_NO_VIDEO, state.RestoreMode());
}

} // namespace
