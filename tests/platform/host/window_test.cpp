// The window, its back buffer and the blit under SDL's dummy driver: what
// reached the window is read back from the renderer.
#include "host_window.h"

#include "display_state.h"
#include "host_internal.h"
#include "kivo_host.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

OPEN_WINDOW_SETTINGS settings(short w, short h, INT_U8 full = 0)
{
    return {nullptr, w, h, full, -1, -1, -1, -1, 0};
}

class WindowTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        close_window(0);
        destroy_back_buffer();
        events_something_done = 0;
        window_close_handler = nullptr;
    }

    // The window's pixels (colour channels) over a rectangle.
    static std::vector<INT_U32> shown(int x, int y, int w, int h)
    {
        std::vector<INT_U32> out(static_cast<size_t>(w) * h);
        SDL_Rect r = {x, y, w, h};
        EXPECT_EQ(0, SDL_RenderReadPixels(host_sdl_renderer(), &r, SDL_PIXELFORMAT_ARGB8888, out.data(), w * 4));
        for (INT_U32& p : out) {
            p &= 0xFFFFFFu;
        }
        return out;
    }
    static INT_U32 shown_at(int x, int y) { return shown(x, y, 1, 1)[0]; }
    static COLOUR& pixel(int x, int y) { return back_buffer.pixels[y * back_buffer.stride + x]; }
};

TEST(WindowGeometry, SizesClampsAndCentring)
{
    struct Case
    {
        int screen_w, screen_h, menu;
        OPEN_WINDOW_SETTINGS s;
        int max_tex;
        WINDOW_GEOMETRY_RESULT result;
        short left, top, w, h, display_w;
    };
    OPEN_WINDOW_SETTINGS limited = settings(100, 100);
    limited.min_width = 200;
    limited.max_height = 50;
    OPEN_WINDOW_SETTINGS too_wide = settings(-1, -1);
    too_wide.min_width = 1021;
    OPEN_WINDOW_SETTINGS capped = settings(-1, -1);
    capped.max_width = 300;
    const Case cases[] = {
        // 65535 sizes: the screen less the frame, its top below the menu bar.
        {1024, 768, 0, settings(-1, -1), 0, WINDOW_GEOMETRY_OK, 0, 22, 1020, 746, 1024},
        {1440, 900, 25, settings(-1, -1), 0, WINDOW_GEOMETRY_OK, 0, 47, 1436, 878, 1440},
        {1024, 768, 22, settings(640, 480), 0, WINDOW_GEOMETRY_OK, 190, 133, 640, 480, 1024},
        {1024, 768, 0, limited, 0, WINDOW_GEOMETRY_OK, 410, 348, 200, 50, 1024},
        {1024, 768, 0, capped, 0, WINDOW_GEOMETRY_OK, 360, 22, 300, 746, 1024},
        {1024, 768, 0, too_wide, 0, WINDOW_GEOMETRY_LIMITS, 0, 0, 0, 0, 0},
        {1024, 768, 0, settings(0, 100), 0, WINDOW_GEOMETRY_BAD_SIZE, 0, 0, 0, 0, 0},
        {1024, 768, 0, settings(100, -7, 1), 0, WINDOW_GEOMETRY_BAD_SIZE, 0, 0, 0, 0, 0},
        // Full screen keeps the size asked for, up to a texture and 16 Mi pixels.
        {1024, 768, 30, settings(2000, 1000, 1), 0, WINDOW_GEOMETRY_OK, 0, 0, 2000, 1000, 2000},
        {1024, 768, 0, settings(5000, 3000, 1), 4096, WINDOW_GEOMETRY_OK, 0, 0, 1024, 768, 1024},
        {1024, 768, 0, settings(32767, 32767, 1), 0, WINDOW_GEOMETRY_OK, 0, 0, 1024, 768, 1024},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.s.width << "x" << c.s.height << " full " << int(c.s.full_screen));
        WINDOW_GEOMETRY g = compute_window_geometry(c.screen_w, c.screen_h, c.menu, c.s, c.max_tex, c.max_tex);
        ASSERT_EQ(c.result, g.result);
        if (c.result != WINDOW_GEOMETRY_OK) {
            continue;
        }
        EXPECT_EQ(c.left, g.left);
        EXPECT_EQ(c.top, g.top);
        EXPECT_EQ(c.w, g.width);
        EXPECT_EQ(c.h, g.height);
        EXPECT_EQ(c.display_w, g.display_width);
        EXPECT_EQ(c.s.full_screen ? 0 : 22, g.yborder);
    }
}

TEST(WindowIds, CoordinatesCarryTheId)
{
    EXPECT_EQ(29, get_window_id_from_pos(0x3000, 0x5000));
    EXPECT_EQ(0, get_window_id_from_pos(-1, 0x5000));
    EXPECT_EQ(0, get_window_id_from_pos(0x3000, -4096));
    for (short id = 0; id < 64; ++id) {
        EXPECT_EQ(id, get_window_id_from_pos(get_window_x(id) + 5, get_window_y(id) + 7));
    }
}

TEST_F(WindowTest, OpenQueryAndClose)
{
    display_width = display_height = -1; // the record before any window
    EXPECT_EQ(1024, get_desktop_width());
    EXPECT_EQ(768, get_desktop_height());
    EXPECT_EQ(0, open_window(nullptr, 320, 200, 0, 1));
    EXPECT_FALSE(is_window_open(0));
    EXPECT_EQ(0, get_next_unused_window_id());
    OPEN_WINDOW_SETTINGS impossible = settings(-1, -1);
    impossible.min_height = 2000;
    EXPECT_EQ(0, open_window(impossible, 0));
    EXPECT_FALSE(is_window_open(0));

    char title[] = "Window test";
    ASSERT_EQ(1, open_window(title, 320, 200, 0, 0));
    EXPECT_TRUE(is_window_open(0));
    EXPECT_FALSE(is_window_open(1));
    EXPECT_EQ(-1, get_next_unused_window_id());
    EXPECT_EQ(200, get_window_height(0));
    EXPECT_EQ(0, get_window_width(1));
    EXPECT_EQ(nullptr, get_back_buffer(2));
    int w = 0, h = 0;
    SDL_GetWindowSize(host_sdl_window(), &w, &h);
    EXPECT_EQ(320, w);
    EXPECT_EQ(200, h);
    EXPECT_STREQ("Window test", SDL_GetWindowTitle(host_sdl_window()));
    EXPECT_TRUE(back_buffer.locked && back_buffer.valid);
    EXPECT_EQ(COLOUR_BLACK, pixel(319, 199));

    set_window_title("Renamed", 3);
    EXPECT_STREQ("Window test", SDL_GetWindowTitle(host_sdl_window()));
    close_window(5);
    EXPECT_TRUE(is_window_open(0));
    close_window(-1);
    EXPECT_FALSE(is_window_open(0));
    EXPECT_EQ(nullptr, host_sdl_window());
    EXPECT_EQ(nullptr, kivo_host()->get_back_buffer());
}

TEST_F(WindowTest, BackBufferWithoutAWindow)
{
    create_back_buffer(64, 32);
    ASSERT_EQ(&back_buffer, kivo_host()->get_back_buffer());
    EXPECT_EQ(COLOUR_BLACK, pixel(63, 31));
    COLOUR* before = back_buffer.pixels;
    pixel(3, 3) = 0xFF123456u;
    create_back_buffer(64, 32);
    EXPECT_EQ(before, back_buffer.pixels);
    EXPECT_EQ(0xFF123456u, pixel(3, 3));
    blit_to_window(0); // no window: nothing to do
    EXPECT_EQ(0, events_something_done);

    destroy_back_buffer();
    EXPECT_EQ(nullptr, kivo_host()->get_back_buffer());
    EXPECT_EQ(&back_buffer, get_back_buffer(0));
    EXPECT_FALSE(back_buffer.locked);
}

// The pace of presents: none without a window; the display's interval
// with one. The software renderer of the headless driver reports vsync,
// but its presents do not wait for the display.
TEST_F(WindowTest, PresentPaceComesFromTheWindowsDisplay)
{
    EXPECT_EQ(get_present_pace(0).interval_us, 0u);
    ASSERT_EQ(1, open_window(nullptr, 320, 200, 0, 0));
    const PRESENT_PACE pace = get_present_pace(0);
    SDL_DisplayMode mode;
    ASSERT_EQ(SDL_GetCurrentDisplayMode(SDL_GetWindowDisplayIndex(host_sdl_window()), &mode), 0);
    EXPECT_EQ(pace.interval_us, 1000000u / static_cast<unsigned>(mode.refresh_rate > 0 ? mode.refresh_rate : 60));
    EXPECT_EQ(pace.vsync, 0);
    EXPECT_EQ(get_present_pace(3).interval_us, 0u);
}

TEST_F(WindowTest, OnlyTheDirtyRectangleReachesTheWindow)
{
    ASSERT_EQ(1, open_window(nullptr, 320, 200, 0, 0));
    back_buffer.fill_rect(0, 0, 159, 99, 0xFFFF0000u, 0);
    back_buffer.fill_rect(160, 100, 319, 199, 0xFF00FF00u, 0);
    blit_to_window(0);
    EXPECT_EQ(1, events_something_done);
    EXPECT_EQ(-1, back_buffer.dirty_x1);
    EXPECT_EQ(0xFF0000u, shown_at(10, 10));
    EXPECT_EQ(0x00FF00u, shown_at(300, 190));
    EXPECT_EQ(0x000000u, shown_at(300, 10));

    // Pixels changed behind the buffer's back: only the marked part goes up.
    events_something_done = 0;
    pixel(50, 50) = 0xFF0000FFu;
    pixel(200, 150) = 0xFF0000FFu;
    blit_to_window(0);
    EXPECT_EQ(0, events_something_done);
    EXPECT_EQ(0xFF0000u, shown_at(50, 50));
    back_buffer.mark_dirty_area(40, 40, 60, 60);
    blit_to_window(-1);
    EXPECT_EQ(1, events_something_done);
    EXPECT_EQ(0x0000FFu, shown_at(50, 50));
    EXPECT_EQ(0x00FF00u, shown_at(200, 150));

    // Other ids present nothing.
    back_buffer.mark_dirty_area(0, 0, 319, 199);
    blit_to_window(2);
    EXPECT_EQ(0x00FF00u, shown_at(200, 150));
}

TEST_F(WindowTest, DirtyRectangleBeyondAShrunkBuffer)
{
    ASSERT_EQ(1, open_window(nullptr, 320, 200, 0, 0));
    blit_to_window(0);
    create_back_buffer(100, 50);
    EXPECT_GT(back_buffer.dirty_x2, 99); // the old size stays marked
    back_buffer.fill_rect(0, 0, 99, 49, 0xFF808080u, 0);
    back_buffer.dirty_x1 = -300;
    back_buffer.dirty_y2 = 30000;
    blit_to_window(0);
    EXPECT_EQ(-1, back_buffer.dirty_x1);
    EXPECT_EQ(0x808080u, shown_at(99, 49));
}

TEST_F(WindowTest, CloseHandlers)
{
    ASSERT_EQ(1, open_window(nullptr, 64, 64, 0, 0));
    EXPECT_EQ(1, wch_exit_on_any_window_close(7));
    EXPECT_EQ(1, wch_exit_when_main_window_only_close(0));
    EXPECT_TRUE(is_window_open(0));
    EXPECT_EQ(0, wch_exit_when_main_window_only_close(9));
    EXPECT_TRUE(is_window_open(0));
    EXPECT_EQ(0, wch_exit_when_all_windows_closed(9)); // not a window: 0 stays open
    EXPECT_EQ(1, wch_exit_when_all_windows_closed(0));
    EXPECT_FALSE(is_window_open(0));
}

TEST_F(WindowTest, FullScreenScalesTheBufferAndEnds)
{
    ASSERT_EQ(1, open_window(nullptr, 320, 200, 1, 0));
    EXPECT_EQ(1, is_in_fullscreen_mode());
    EXPECT_TRUE(display_state.IsActive());
    EXPECT_EQ(nullptr, display_state.full_screen_window); // the mode is on this window
    EXPECT_EQ(320, get_desktop_width());
    int w = 0, h = 0;
    SDL_GetWindowSize(host_sdl_window(), &w, &h);
    EXPECT_EQ(1024, w);
    EXPECT_EQ(320, back_buffer.width);

    // 1024 / 320 = 3.2 on both axes: bars of 64 pixels above and below.
    back_buffer.fill_rect(0, 0, 159, 199, 0xFFFFFFFFu, 0);
    blit_to_window(0);
    EXPECT_EQ(0xFFFFFFu, shown_at(0, 64));
    EXPECT_EQ(0xFFFFFFu, shown_at(510, 703));
    EXPECT_EQ(0x000000u, shown_at(514, 384));
    int bx = 0, by = 0;
    host_window_to_buffer(512, 64 + 320, &bx, &by);
    EXPECT_EQ(160, bx);
    EXPECT_EQ(100, by);

    // Ending the mode keeps the window and the buffer; ending it again is
    // harmless.
    COLOUR* pixels = back_buffer.pixels;
    SDL_Window* window = host_sdl_window();
    EXPECT_EQ(0, display_state.RestoreMode());
    EXPECT_EQ(0, display_state.RestoreMode());
    EXPECT_EQ(window, host_sdl_window());
    EXPECT_EQ(pixels, back_buffer.pixels);
    EXPECT_FALSE(SDL_GetWindowFlags(host_sdl_window()) & SDL_WINDOW_FULLSCREEN);
    host_window_to_buffer(5, 6, &bx, &by);
    EXPECT_EQ(5, bx);
    close_window(0);
    EXPECT_EQ(0, is_in_fullscreen_mode());
    EXPECT_EQ(1024, get_desktop_width());
}

TEST(WindowDeathTest, NoDisplayIsAClearError)
{
    EXPECT_EXIT(
        {
            SDL_Quit();
            unsetenv("SDL_VIDEODRIVER");
            unsetenv("DISPLAY");
            unsetenv("WAYLAND_DISPLAY");
            open_window(nullptr, 320, 200, 0, 0);
        },
        testing::ExitedWithCode(1), "0013.*SDL_VIDEODRIVER=offscreen");
}

TEST(WindowDeathTest, ExitAppReportsAndEndsOnce)
{
    host_install_table();
    EXPECT_EXIT(exit_app("bad thing", 3), testing::ExitedWithCode(3), "bad thing");
    EXPECT_EXIT(exit_app("quiet", 0), testing::ExitedWithCode(0), testing::Not(testing::HasSubstr("quiet")));
    // A handler run by the exit that ends the program again ends it at once.
    EXPECT_EXIT(
        {
            std::atexit([] { exit_app("again", 7); });
            exit_app("first", 3);
        },
        testing::ExitedWithCode(7), "first");
}

TEST(WindowPopup, FallsBackToStderrHeadless)
{
    host_install_table();
    testing::internal::CaptureStderr();
    display_popup_dialog("Note", "hello");
    display_popup_dialog(nullptr, "skipped");
    EXPECT_EQ("Note: hello\n", testing::internal::GetCapturedStderr());
}

} // namespace
