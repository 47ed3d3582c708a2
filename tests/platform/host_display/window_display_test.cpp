// The window on a real X server (a private Xvfb): what the server shows is
// the back buffer pixel for pixel, a blit changes only the dirty rectangle,
// and the OpenGL path puts the picture at the window's origin.
#include "host_internal.h"
#include "host_window.h"
#include "kivo_logo.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using kivo_test::XPixels;
using kivo_test::XReader;
using kivo_test::XvfbServer;

const int W = 320, H = 200;
const int WAIT_MS = 5000;

class RealWindowTest : public ::testing::Test
{
protected:
    static XvfbServer* server;

    static void SetUpTestSuite()
    {
        server = new XvfbServer;
        if (!server->start(1024, 768))
            return;
        while (SDL_WasInit(SDL_INIT_VIDEO))
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        setenv("DISPLAY", server->display().c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }

    static void TearDownTestSuite()
    {
        close_window(0);
        while (SDL_WasInit(SDL_INIT_VIDEO))
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        setenv("SDL_VIDEODRIVER", "dummy", 1);
        unsetenv("DISPLAY");
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        ASSERT_TRUE(server->running()) << server->error();
        reader.reset(new XReader(server->display()));
        ASSERT_TRUE(reader->connected());
    }

    void TearDown() override
    {
        close_window(0);
        reader.reset();
    }

    // Four opaque quadrants; the logo blended over the middle when asked.
    static void draw_picture(bool logo)
    {
        back_buffer.fill_rect(0, 0, W / 2 - 1, H / 2 - 1, 0xFFE01010u, 0);
        back_buffer.fill_rect(W / 2, 0, W - 1, H / 2 - 1, 0xFF10C020u, 0);
        back_buffer.fill_rect(0, H / 2, W / 2 - 1, H - 1, 0xFF2030F0u, 0);
        back_buffer.fill_rect(W / 2, H / 2, W - 1, H - 1, 0xFFF0E000u, 0);
        if (logo) {
            IMAGE picture;
            get_kivo_logo(picture);
            back_buffer.copy(&picture, picture.x, picture.y, 120, 60, picture.width, picture.height,
                             IMAGE_COPY_BLEND);
        }
    }

    // The back buffer's colour channels, as the window must show them.
    static std::vector<std::uint32_t> buffer_rgb()
    {
        std::vector<std::uint32_t> out(static_cast<size_t>(W) * H);
        for (int j = 0; j < H; ++j)
            for (int i = 0; i < W; ++i)
                out[static_cast<size_t>(j) * W + i] = back_buffer.pixels[j * back_buffer.stride + i] & 0xFFFFFFu;
        return out;
    }

    static std::string first_difference(const XPixels& seen, const std::vector<std::uint32_t>& expected)
    {
        for (size_t i = 0; i < expected.size() && i < seen.rgb.size(); ++i) {
            if (seen.rgb[i] != expected[i])
                return testing::PrintToString(i % W) + "," + testing::PrintToString(i / W) + ": shown " +
                       testing::PrintToString(seen.rgb[i]) + ", expected " + testing::PrintToString(expected[i]);
        }
        return seen.rgb.empty() ? "nothing could be read" : "sizes differ";
    }

    std::unique_ptr<XReader> reader;
};

XvfbServer* RealWindowTest::server = nullptr;

TEST_F(RealWindowTest, ShowsTheBufferAndOnlyTheDirtyRectangleChanges)
{
    char title[] = "Kivo real window";
    ASSERT_EQ(1, open_window(title, W, H, 0, 0));
    draw_picture(true);
    blit_to_window(0);
    unsigned long window = reader->wait_for_window(title, WAIT_MS);
    ASSERT_NE(0u, window);
    std::vector<std::uint32_t> expected = buffer_rgb();
    XPixels seen;
    ASSERT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen))
        << first_difference(seen, expected);

    // Pixels change inside and outside a smaller rectangle; only the
    // rectangle is marked, so only it may change on screen.
    const int x1 = 100, y1 = 50, x2 = 179, y2 = 129;
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; i += 7)
            back_buffer.pixels[j * back_buffer.stride + i] = 0xFF000000u | static_cast<INT_U32>(i * 811 + j * 97);
    back_buffer.mark_dirty_area(x1, y1, x2, y2);
    std::vector<std::uint32_t> after = buffer_rgb();
    for (int j = 0; j < H; ++j)
        for (int i = 0; i < W; ++i)
            if (i < x1 || i > x2 || j < y1 || j > y2)
                after[static_cast<size_t>(j) * W + i] = expected[static_cast<size_t>(j) * W + i];
    ASSERT_NE(expected, after);
    blit_to_window(0);
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, after, WAIT_MS, &seen)) << first_difference(seen, after);
}

TEST_F(RealWindowTest, OpenGlPutsThePictureAtTheOrigin)
{
    char title[] = "Kivo GL window";
    ASSERT_EQ(1, open_window(title, W, H, 0, 0));
    if (!enable_opengl())
        GTEST_SKIP() << "no OpenGL under this X server: " << SDL_GetError();
    ASSERT_EQ(1, is_opengl_enabled());
    // Other GL code may have moved the raster position: (0, 0) in object
    // coordinates is the window's centre. The blit must not depend on it.
    auto raster_pos = reinterpret_cast<void (*)(int, int)>(SDL_GL_GetProcAddress("glRasterPos2i"));
    ASSERT_NE(nullptr, raster_pos);
    raster_pos(0, 0);
    draw_picture(false);
    blit_to_window(0);
    unsigned long window = reader->wait_for_window(title, WAIT_MS);
    ASSERT_NE(0u, window);
    std::vector<std::uint32_t> expected = buffer_rgb();
    XPixels seen;
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen))
        << first_difference(seen, expected);

    // Back to the renderer on the same window: the picture comes back whole.
    disable_opengl();
    EXPECT_EQ(0, is_opengl_enabled());
    back_buffer.fill_rect(0, 0, 9, 9, 0xFFFFFFFFu, 0);
    blit_to_window(0);
    expected = buffer_rgb();
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen))
        << first_difference(seen, expected);
}

} // namespace
