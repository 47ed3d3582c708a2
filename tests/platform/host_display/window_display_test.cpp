// The window on a real X server (a private Xvfb): what the server shows is
// the back buffer pixel for pixel, a blit changes only the dirty rectangle,
// the OpenGL path puts the picture at the window's origin, in full screen
// both paths scale it into the same letterbox, and key characters follow
// the server's keymap, or the layout it names. The private server itself
// keeps what a client set after it left.
#include "host_internal.h"
#include "host_window.h"
#include "key_layout.h"
#include "keyboard.h"
#include "kivo_logo.h"
#include "sandbox.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// After gtest: Xlib's macros (None, Bool) would break its headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

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
        if (!server->start(1024, 768)) {
            return;
        }
        while (SDL_WasInit(SDL_INIT_VIDEO)) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        }
        setenv("DISPLAY", server->display().c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }

    static void TearDownTestSuite()
    {
        close_window(0);
        while (SDL_WasInit(SDL_INIT_VIDEO)) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO);
        }
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
            back_buffer.copy(&picture, picture.x, picture.y, 120, 60, picture.width, picture.height, IMAGE_COPY_BLEND);
        }
    }

    // The back buffer's colour channels, as the window must show them.
    static std::vector<std::uint32_t> buffer_rgb()
    {
        std::vector<std::uint32_t> out(static_cast<size_t>(W) * H);
        for (int j = 0; j < H; ++j) {
            for (int i = 0; i < W; ++i) {
                out[static_cast<size_t>(j) * W + i] = back_buffer.pixels[j * back_buffer.stride + i] & 0xFFFFFFu;
            }
        }
        return out;
    }

    static std::string first_difference(const XPixels& seen, const std::vector<std::uint32_t>& expected, int width = W)
    {
        for (size_t i = 0; i < expected.size() && i < seen.rgb.size(); ++i) {
            if (seen.rgb[i] != expected[i]) {
                return testing::PrintToString(i % width) + "," + testing::PrintToString(i / width) + ": shown " +
                       testing::PrintToString(seen.rgb[i]) + ", expected " + testing::PrintToString(expected[i]);
            }
        }
        return seen.rgb.empty() ? "nothing could be read" : "sizes differ";
    }

    // Without a window manager nobody answers the full-screen request: do
    // its part, the window moved over the whole screen, and let SDL see it.
    void cover_screen(const char* title, int sw, int sh, unsigned long* window)
    {
        *window = reader->wait_for_window(title, WAIT_MS);
        ASSERT_NE(0u, *window);
        Display* x = XOpenDisplay(server->display().c_str());
        ASSERT_NE(nullptr, x);
        XMoveResizeWindow(x, *window, 0, 0, static_cast<unsigned>(sw), static_cast<unsigned>(sh));
        XSync(x, False);
        XCloseDisplay(x);
        for (int i = 0; i < 200; ++i) {
            SDL_PumpEvents();
            int w = 0, h = 0;
            SDL_GetWindowSize(host_sdl_window(), &w, &h);
            if (w == sw && h == sh) {
                break;
            }
            SDL_Delay(10);
        }
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
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
    ASSERT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen)) << first_difference(seen, expected);

    // Pixels change inside and outside a smaller rectangle; only the
    // rectangle is marked, so only it may change on screen.
    const int x1 = 100, y1 = 50, x2 = 179, y2 = 129;
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; i += 7) {
            back_buffer.pixels[j * back_buffer.stride + i] = 0xFF000000u | static_cast<INT_U32>(i * 811 + j * 97);
        }
    }
    back_buffer.mark_dirty_area(x1, y1, x2, y2);
    std::vector<std::uint32_t> after = buffer_rgb();
    for (int j = 0; j < H; ++j) {
        for (int i = 0; i < W; ++i) {
            if (i < x1 || i > x2 || j < y1 || j > y2) {
                after[static_cast<size_t>(j) * W + i] = expected[static_cast<size_t>(j) * W + i];
            }
        }
    }
    ASSERT_NE(expected, after);
    blit_to_window(0);
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, after, WAIT_MS, &seen)) << first_difference(seen, after);
}

TEST_F(RealWindowTest, OpenGlPutsThePictureAtTheOrigin)
{
    char title[] = "Kivo GL window";
    ASSERT_EQ(1, open_window(title, W, H, 0, 0));
    if (!enable_opengl()) {
        GTEST_SKIP() << "no OpenGL under this X server: " << SDL_GetError();
    }
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
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen)) << first_difference(seen, expected);

    // Back to the renderer on the same window: the picture comes back whole.
    disable_opengl();
    EXPECT_EQ(0, is_opengl_enabled());
    back_buffer.fill_rect(0, 0, 9, 9, 0xFFFFFFFFu, 0);
    blit_to_window(0);
    expected = buffer_rgb();
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, W, H, expected, WAIT_MS, &seen)) << first_difference(seen, expected);
}

TEST_F(RealWindowTest, FullScreenLetterboxesAlikeOnBothPaths)
{
    // 256 x 128 on the 1024 x 768 screen: four times as large, 128 rows of
    // black above and below.
    const int bw = 256, bh = 128, sw = 1024, sh = 768, scale = 4, top = 128;
    char title[] = "Kivo full screen";
    ASSERT_EQ(1, open_window(title, bw, bh, 1, 0));
    for (int j = 0; j < bh; ++j) {
        for (int i = 0; i < bw; ++i) {
            back_buffer.pixels[j * back_buffer.stride + i] =
                0xFF000000u | (static_cast<INT_U32>((i * 2654435761u) ^ (j * 40503u)) & 0xFFFFFFu);
        }
    }
    std::vector<std::uint32_t> expected(static_cast<size_t>(sw) * sh, 0);
    for (int y = top; y < top + bh * scale; ++y) {
        for (int x = 0; x < sw; ++x) {
            expected[static_cast<size_t>(y) * sw + x] =
                back_buffer.pixels[(y - top) / scale * back_buffer.stride + x / scale] & 0xFFFFFFu;
        }
    }

    // A frame goes up before the window manager's move, as in a running
    // program; under Xvfb a window first drawn after it stays black.
    back_buffer.mark_dirty_area(0, 0, bw - 1, bh - 1);
    blit_to_window(0);
    unsigned long window = 0;
    ASSERT_NO_FATAL_FAILURE(cover_screen(title, sw, sh, &window));
    back_buffer.mark_dirty_area(0, 0, bw - 1, bh - 1);
    blit_to_window(0);
    XPixels seen;
    ASSERT_TRUE(reader->wait_for_rgb(window, 0, 0, sw, sh, expected, WAIT_MS, &seen))
        << "texture path: " << first_difference(seen, expected, sw);

    if (!enable_opengl()) {
        GTEST_SKIP() << "no OpenGL under this X server: " << SDL_GetError();
    }
    ASSERT_NO_FATAL_FAILURE(cover_screen(title, sw, sh, &window)); // the window was made again
    blit_to_window(0);
    EXPECT_TRUE(reader->wait_for_rgb(window, 0, 0, sw, sh, expected, WAIT_MS, &seen))
        << "OpenGL path: " << first_difference(seen, expected, sw);

    // The pointer maps back through the same letterbox.
    int bx = 0, by = 0;
    host_window_to_buffer(4 * 37 + 3, top + 4 * 21, &bx, &by);
    EXPECT_EQ(37, bx);
    EXPECT_EQ(21, by);
    host_window_to_buffer(10, top - 1, &bx, &by);
    EXPECT_EQ(-1, by);
}

// The server's names for its layout, as five NUL-ended strings on the
// root window.
void set_layout_names(Display* x, const std::string& value)
{
    Atom names = XInternAtom(x, "_XKB_RULES_NAMES", False);
    XChangeProperty(x, DefaultRootWindow(x), names, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(value.data()), static_cast<int>(value.size()));
    XSync(x, False);
}

// Notes whether anything opens a FIFO to read it. A writer waits for
// readers and lets each go at once (it reads the end of the file), so a
// reader is never left blocked.
class FifoWatch
{
public:
    explicit FifoWatch(const std::string& path) : path_(path)
    {
        if (mkfifo(path.c_str(), 0600) == 0) {
            thread_ = std::thread([this] { watch(); });
        }
    }
    ~FifoWatch() { stop(); }
    bool watching() const { return thread_.joinable(); }
    // Stops watching; true when a reader opened the FIFO.
    bool stop()
    {
        if (thread_.joinable()) {
            done_ = true;
            // Lets the writer's open return, whether it waits now or later.
            int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            thread_.join();
            if (fd >= 0) {
                close(fd);
            }
        }
        return opened_;
    }

private:
    void watch()
    {
        for (;;) {
            int fd = open(path_.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0 && errno != EINTR) {
                return;
            }
            if (fd >= 0) {
                close(fd);
            }
            if (done_) {
                return;
            }
            opened_ = opened_ || fd >= 0;
        }
    }

    std::string path_;
    std::thread thread_;
    std::atomic<bool> done_{false}, opened_{false};
};

TEST_F(RealWindowTest, KeyCharactersFollowTheServersLayout)
{
    // The names the server keeps, as read when its keymap cannot be.
    host_set_layout_source(host_server_layout_names);
    Display* x = XOpenDisplay(server->display().c_str());
    ASSERT_NE(nullptr, x);
    auto set_names = [&](const std::string& value) { set_layout_names(x, value); };
    char title[] = "Kivo keys";
    ASSERT_EQ(1, open_window(title, W, H, 0, 0));
    set_names(std::string("evdev\0pc105\0us\0\0", 17));
    EXPECT_STREQ("@", KEYBOARD::get_key_desc(19, 1));
    EXPECT_STREQ("z", KEYBOARD::get_key_desc(6, 0));
    set_names(std::string("evdev\0pc105\0de\0\0", 17));
    EXPECT_STREQ("\"", KEYBOARD::get_key_desc(19, 1));
    EXPECT_STREQ("y", KEYBOARD::get_key_desc(6, 0));
    // Without a window the server is asked on a connection of its own.
    close_window(0);
    EXPECT_STREQ("\xD6", KEYBOARD::get_key_desc(41, 1));
    set_names(std::string("evdev\0pc105\0us\0\0", 17));
    EXPECT_STREQ(":", KEYBOARD::get_key_desc(41, 1));

    // A name that leads out of the keyboard data, here to a FIFO nobody
    // writes, is no layout: the answer comes at once from the US table,
    // and nothing opened the FIFO.
    std::string dir = kivo_test::make_temp_dir("fifo");
    FifoWatch fifo(dir + "/fifo");
    ASSERT_TRUE(fifo.watching());
    std::string up;
    for (int i = 0; i < 24; ++i) {
        up += "../";
    }
    set_names(std::string("evdev\0pc105\0", 12) + up + dir.substr(1) + "/fifo" + std::string(2, '\0'));
    EXPECT_STREQ(":", KEYBOARD::get_key_desc(41, 1));
    EXPECT_FALSE(fifo.stop());
    host_set_layout_source(nullptr);
    XCloseDisplay(x);
}

TEST_F(RealWindowTest, KeyCharactersFollowTheServersKeymap)
{
    Display* x = XOpenDisplay(server->display().c_str());
    ASSERT_NE(nullptr, x);
    KeyCode z = XKeysymToKeycode(x, XK_z);
    ASSERT_NE(0, z);
    // One key changed by hand, as xmodmap -e "keycode N = ..." does.
    auto remap = [&](KeySym lower, KeySym upper) {
        KeySym syms[] = {lower, upper};
        XChangeKeyboardMapping(x, z, 2, syms, 1);
        XSync(x, False);
    };
    char title[] = "Kivo keymap";
    ASSERT_EQ(1, open_window(title, W, H, 0, 0));
    // The keymap holds over the names the server keeps.
    set_layout_names(x, std::string("evdev\0pc105\0de\0\0", 17));
    EXPECT_STREQ("@", KEYBOARD::get_key_desc(19, 1));
    EXPECT_STREQ("z", KEYBOARD::get_key_desc(6, 0));
    remap(XK_q, XK_Q);
    EXPECT_STREQ("q", KEYBOARD::get_key_desc(6, 0));
    EXPECT_STREQ("Q", KEYBOARD::get_key_desc(6, 1));
    EXPECT_STREQ("@", KEYBOARD::get_key_desc(19, 1));
    close_window(0);
    remap(XK_w, XK_W);
    EXPECT_STREQ("W", KEYBOARD::get_key_desc(6, 1));
    // A new keyboard layout replaces the whole keymap.
    ASSERT_EQ(0, std::system("setxkbmap -layout de"));
    EXPECT_STREQ("\"", KEYBOARD::get_key_desc(19, 1));
    EXPECT_STREQ("y", KEYBOARD::get_key_desc(6, 0));
    EXPECT_EQ(0, std::system("setxkbmap -layout us"));
    EXPECT_STREQ("z", KEYBOARD::get_key_desc(6, 0));
    XCloseDisplay(x);
}

// The private server takes a connection made the moment its last client
// has left, and keeps what that client set: a test that parks the pointer
// or binds a key with one tool and then connects again relies on both.
TEST(PrivateXServer, TakesTheNextClientAtOnceAndKeepsWhatTheLastOneSet)
{
    XvfbServer server;
    ASSERT_TRUE(server.start(1024, 768)) << server.error();
    for (int round = 0; round < 20; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        Display* leaving = XOpenDisplay(server.display().c_str());
        ASSERT_NE(nullptr, leaving);
        XWarpPointer(leaving, 0, DefaultRootWindow(leaving), 0, 0, 0, 0, round + 1, 2 * round + 1);
        XSync(leaving, False);
        XCloseDisplay(leaving);
        Display* next = XOpenDisplay(server.display().c_str());
        ASSERT_NE(nullptr, next) << "the connection right after the last client left was dropped";
        Window root = 0, child = 0;
        int x = -1, y = -1, wx = 0, wy = 0;
        unsigned mask = 0;
        XQueryPointer(next, DefaultRootWindow(next), &root, &child, &x, &y, &wx, &wy, &mask);
        XCloseDisplay(next);
        EXPECT_EQ(round + 1, x);
        EXPECT_EQ(2 * round + 1, y);
    }
}

} // namespace
