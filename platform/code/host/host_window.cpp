// The one window, its back buffer and the blit: the window's geometry, the
// SDL window and renderer, and the streaming texture that carries the back
// buffer's dirty rectangle to the screen.
#include "host_window.h"

#include "display_state.h"
#include "errors.h"
#include "event_loop.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window_state.h"

#include <algorithm>
#include <cmath>
#include <cstring>

IMAGE back_buffer;
INT_U8 events_something_done = 0;
WINDOW_CLOSE_HANDLER window_close_handler = nullptr;
INT_S16 display_width = -1, display_height = -1;
INT_S16 window_xborder_size = 0, window_yborder_size = 0, window_title_size = 0;
INT_U8 in_fullscreen_mode = 0;

namespace {

HOST_WINDOW_STATE state = {nullptr, nullptr, nullptr, 0, 0};

const char* const no_display_hint = "No display was found. Run the program on a desktop or under Xvfb, or set "
                                    "SDL_VIDEODRIVER=offscreen to run it without a window.";

// The event pass open_window runs after showing the window and before it
// returns, so the window system sees the new window.
void open_window_event_pass()
{
    // The window is new: hand its first events over without the idle wait,
    // which would only delay the first frame.
    events_something_done = 1;
    process_os_events();
}

// With no driver asked for, SDL quietly falls back to a driver that shows
// nothing; a program nobody can see is worse than a clear message.
void refuse_invisible_window()
{
    const char* asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (asked && asked[0]) {
        return;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0)) {
        display_error(ERR_WINDOW_OPEN, no_display_hint);
    }
}

bool valid_id(short id)
{
    return id == 0 || id == -1;
}

short clamp_short(int v)
{
    return static_cast<short>(std::max(-32768, std::min(32767, v)));
}

// The main display's size and the height of its menu bar; false without
// video.
bool measure_screen(SDL_Rect* bounds, int* menu_bar)
{
    if (!host_start_video() || SDL_GetDisplayBounds(0, bounds) != 0) {
        return false;
    }
    SDL_Rect usable;
    *menu_bar = 0;
    if (SDL_GetDisplayUsableBounds(0, &usable) == 0) {
        *menu_bar = std::max(0, usable.y - bounds->y);
    }
    return true;
}

void drop_texture()
{
    if (state.texture) {
        SDL_DestroyTexture(state.texture);
    }
    state.texture = nullptr;
    state.texture_w = state.texture_h = 0;
}

// The texture follows the back buffer's size, which create_back_buffer
// may change while the window is open.
bool ensure_texture()
{
    if (state.texture && state.texture_w == back_buffer.width && state.texture_h == back_buffer.height) {
        return true;
    }
    drop_texture();
    state.texture = SDL_CreateTexture(state.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                      back_buffer.width, back_buffer.height);
    if (!state.texture) {
        return false;
    }
    // The old copy ignored alpha: the window shows the colour channels only.
    SDL_SetTextureBlendMode(state.texture, SDL_BLENDMODE_NONE);
    state.texture_w = back_buffer.width;
    state.texture_h = back_buffer.height;
    return true;
}

bool is_clean(const IMAGE& im)
{
    return im.dirty_x1 == -1 || im.dirty_x2 == -1 || im.dirty_y1 == -1 || im.dirty_y2 == -1;
}

void mark_clean(IMAGE& im)
{
    im.dirty_x1 = im.dirty_x2 = im.dirty_y1 = im.dirty_y2 = -1;
}

} // namespace

// ---- host contract ------------------------------------------------------------

HOST_WINDOW_STATE& host_window_state()
{
    return state;
}

bool host_start_video()
{
    host_install_table();
    if (SDL_WasInit(SDL_INIT_VIDEO)) {
        return true;
    }
    return SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
}

SDL_Window* host_sdl_window()
{
    return state.window;
}

SDL_Renderer* host_sdl_renderer()
{
    return state.renderer;
}

HOST_LETTERBOX host_letterbox(int out_w, int out_h, int buf_w, int buf_h)
{
    HOST_LETTERBOX b = {0, 0, out_w, out_h, 1.0f};
    if (out_w < 1 || out_h < 1 || buf_w < 1 || buf_h < 1) {
        return b;
    }
    // The renderer's own rule, step for step, so both paths put every
    // pixel in the same place.
    float want = static_cast<float>(buf_w) / buf_h;
    float real = static_cast<float>(out_w) / out_h;
    if (std::fabs(want - real) < 0.0001f) {
        b.scale = static_cast<float>(out_w) / buf_w;
    } else if (want > real) {
        b.scale = static_cast<float>(out_w) / buf_w;
        b.h = static_cast<int>(std::floor(buf_h * b.scale));
        b.y = (out_h - b.h) / 2;
    } else {
        b.scale = static_cast<float>(out_h) / buf_h;
        b.w = static_cast<int>(std::floor(buf_w * b.scale));
        b.x = (out_w - b.w) / 2;
    }
    return b;
}

void host_window_to_buffer(int wx, int wy, int* bx, int* by)
{
    int lw = 0, lh = 0;
    if (state.renderer) {
        SDL_RenderGetLogicalSize(state.renderer, &lw, &lh);
    }
    if (!state.renderer && state.window && in_fullscreen_mode && back_buffer.width > 0) {
        // OpenGL presents: the same letterbox, computed here.
        int ww = 0, wh = 0;
        SDL_GetWindowSize(state.window, &ww, &wh);
        HOST_LETTERBOX b = host_letterbox(ww, wh, back_buffer.width, back_buffer.height);
        *bx = static_cast<int>(std::floor((wx - b.x) / b.scale));
        *by = static_cast<int>(std::floor((wy - b.y) / b.scale));
        return;
    }
    if (!state.renderer || lw == 0 || lh == 0) {
        *bx = wx;
        *by = wy;
        return;
    }
    float fx = 0, fy = 0;
    SDL_RenderWindowToLogical(state.renderer, wx, wy, &fx, &fy);
    *bx = static_cast<int>(std::floor(fx));
    *by = static_cast<int>(std::floor(fy));
}

bool host_make_renderer()
{
    if (!state.window) {
        return false;
    }
    drop_texture();
    // No vsync: the run loop paces itself, and a blit must not wait for
    // the display.
    state.renderer = SDL_CreateRenderer(state.window, -1, 0);
    if (!state.renderer) {
        return false;
    }
    if (back_buffer.pixels) {
        if (in_fullscreen_mode) {
            SDL_RenderSetLogicalSize(state.renderer, back_buffer.width, back_buffer.height);
        }
        // A new renderer shows nothing yet: the whole buffer goes up once.
        back_buffer.mark_dirty_area(0, 0, back_buffer.width - 1, back_buffer.height - 1);
    }
    return true;
}

void host_drop_renderer()
{
    drop_texture();
    if (state.renderer) {
        SDL_DestroyRenderer(state.renderer);
    }
    state.renderer = nullptr;
}

// ---- geometry -------------------------------------------------------------------

WINDOW_GEOMETRY compute_window_geometry(int screen_w, int screen_h, int menu_bar_h, const OPEN_WINDOW_SETTINGS& s,
                                        int max_texture_w, int max_texture_h)
{
    WINDOW_GEOMETRY g = {WINDOW_GEOMETRY_OK, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    int w = s.width == -1 ? screen_w : s.width;
    int h = s.height == -1 ? screen_h : s.height;
    if (s.min_width != -1 && w < s.min_width) {
        w = s.min_width;
    }
    if (s.max_width != -1 && w > s.max_width) {
        w = s.max_width;
    }
    if (s.min_height != -1 && h < s.min_height) {
        h = s.min_height;
    }
    if (s.max_height != -1 && h > s.max_height) {
        h = s.max_height;
    }

    int display_w, display_h, xframe, yframe, title;
    if (s.full_screen) {
        // The buffer keeps the size asked for while a renderer can hold it
        // as one texture and it stays a sane allocation; beyond that it is
        // cut to the screen, like a framed window but without the frame.
        bool too_big = static_cast<long>(w) * h > WINDOW_MAX_FULL_SCREEN_PIXELS ||
                       (max_texture_w > 0 && w > max_texture_w) || (max_texture_h > 0 && h > max_texture_h);
        if (too_big) {
            w = std::min(w, screen_w);
            h = std::min(h, screen_h);
        }
        display_w = w;
        display_h = h;
        xframe = yframe = title = 0;
    } else {
        w = std::min(w, screen_w - 4);
        h = std::min(h, screen_h - 22);
        display_w = screen_w;
        display_h = screen_h;
        xframe = 2;
        yframe = 22;
        title = 0;
    }

    int left = (display_w - (w + 2 * xframe)) / 2;
    int top = (display_h - (h + yframe)) / 2;
    if (!s.full_screen && yframe + menu_bar_h + title > top) {
        top = menu_bar_h + yframe + title;
    }

    g.left = clamp_short(left);
    g.top = clamp_short(top);
    g.width = clamp_short(w);
    g.height = clamp_short(h);
    g.display_width = clamp_short(display_w);
    g.display_height = clamp_short(display_h);
    g.xborder = static_cast<short>(xframe);
    g.yborder = static_cast<short>(yframe);
    g.title = static_cast<short>(title);

    if ((s.min_width != -1 && w < s.min_width) || (s.max_width != -1 && w > s.max_width) ||
        (s.min_height != -1 && h < s.min_height) || (s.max_height != -1 && h > s.max_height)) {
        g.result = WINDOW_GEOMETRY_LIMITS;
    } else if (w < 1 || h < 1) {
        g.result = WINDOW_GEOMETRY_BAD_SIZE;
    }
    return g;
}

// ---- windows --------------------------------------------------------------------

INT_U8 open_window(OPEN_WINDOW_SETTINGS& s, short id)
{
    const char* title = s.title ? s.title : "";
    if (id != 0) {
        return 0;
    }
    if (state.window) {
        close_window(0);
    }

    if (!host_start_video()) {
        display_error(ERR_WINDOW_OPEN, SDL_GetError());
    }
    refuse_invisible_window();
    SDL_Rect screen;
    int menu_bar = 0;
    if (!measure_screen(&screen, &menu_bar)) {
        display_error(ERR_WINDOW_OPEN, SDL_GetError());
    }

    WINDOW_GEOMETRY g = compute_window_geometry(screen.w, screen.h, menu_bar, s, 0, 0);
    if (g.result == WINDOW_GEOMETRY_LIMITS) {
        return 0;
    }
    if (g.result == WINDOW_GEOMETRY_BAD_SIZE) {
        display_error(ERR_WINDOW_OPEN, "The window's width and height must be at least 1.");
    }

    Uint32 flags = s.no_title_bar ? SDL_WINDOW_BORDERLESS : 0;
    // A full-screen window becomes the display's size at once; it starts
    // no larger than the screen so that ending the mode leaves a sane window.
    int create_w = s.full_screen ? std::min<int>(g.width, screen.w) : g.width;
    int create_h = s.full_screen ? std::min<int>(g.height, screen.h) : g.height;
    state.window = SDL_CreateWindow(title, screen.x + g.left, screen.y + g.top, create_w, create_h, flags);
    if (!state.window || !host_make_renderer()) {
        const char* reason = SDL_GetError();
        if (state.window) {
            SDL_DestroyWindow(state.window);
        }
        state.window = nullptr;
        display_error(ERR_WINDOW_OPEN, reason);
    }
    if (s.full_screen) {
        SDL_RendererInfo info;
        if (SDL_GetRendererInfo(state.renderer, &info) == 0 &&
            (info.max_texture_width > 0 || info.max_texture_height > 0)) {
            g = compute_window_geometry(screen.w, screen.h, menu_bar, s, info.max_texture_width,
                                        info.max_texture_height);
        }
    }
    display_width = g.display_width;
    display_height = g.display_height;
    window_xborder_size = g.xborder;
    window_yborder_size = g.yborder;
    window_title_size = g.title;

    SDL_SetWindowTitle(state.window, title);
    host_listen_for_close_requests(true);
    host_watch_key_state(true);
    SDL_ShowWindow(state.window);
    open_window_event_pass();

    if (s.full_screen) {
        display_state.SetDevice(state.window);
        display_state.SetSize(g.width, g.height);
        display_state.SetDepth(32);
        display_state.ChangeMode();
        in_fullscreen_mode = 1;
    }
    create_back_buffer(g.width, g.height);
    if (in_fullscreen_mode) {
        SDL_RenderSetLogicalSize(state.renderer, g.width, g.height);
    }

    SDL_RaiseWindow(state.window);
    open_window_event_pass();
    return 1;
}

INT_U8 open_window(char* title, short width, short height, unsigned char full_screen, short id)
{
    OPEN_WINDOW_SETTINGS s = {title, width, height, full_screen, -1, -1, -1, -1, 0};
    return open_window(s, id);
}

void close_window(short id)
{
    if (!valid_id(id) || !state.window) {
        return;
    }
    disable_opengl();
    if (in_fullscreen_mode) {
        display_state.RestoreMode();
        // The desktop has its own size again; measure it at the next ask.
        display_width = display_height = -1;
    }
    in_fullscreen_mode = 0;
    if (display_state.window == state.window) {
        display_state.SetDevice(static_cast<SDL_Window*>(nullptr));
    }
    destroy_back_buffer();
    host_drop_renderer();
    host_listen_for_close_requests(false);
    host_watch_key_state(false);
    SDL_DestroyWindow(state.window);
    state.window = nullptr;
}

IMAGE* get_back_buffer(short id)
{
    return id == 0 ? &back_buffer : nullptr;
}

short get_window_width(short id)
{
    return id == 0 ? back_buffer.width : 0;
}

short get_window_height(short id)
{
    return id == 0 ? back_buffer.height : 0;
}

bool is_window_open(short id)
{
    return id == 0 && state.window != nullptr;
}

short get_next_unused_window_id()
{
    return state.window ? -1 : 0;
}

short get_focal_window_id()
{
    return 0;
}

void set_window_title(const char* text, short id)
{
    if (id == 0 && state.window) {
        SDL_SetWindowTitle(state.window, text ? text : "");
    }
}

INT_U8 is_in_fullscreen_mode()
{
    return in_fullscreen_mode;
}

namespace {

void measure_desktop()
{
    if (display_width != -1 && display_height != -1) {
        return;
    }
    SDL_Rect screen;
    int menu_bar = 0;
    if (!measure_screen(&screen, &menu_bar)) {
        return;
    }
    display_width = clamp_short(screen.w);
    display_height = clamp_short(screen.h);
}

} // namespace

short get_desktop_width()
{
    measure_desktop();
    return display_width == -1 ? 0 : display_width;
}

short get_desktop_height()
{
    measure_desktop();
    return display_height == -1 ? 0 : display_height;
}

// ---- back buffer and blit --------------------------------------------------------

void create_back_buffer(short width, short height)
{
    // Widgets draw into the buffer with no window at all, through the
    // core's table.
    host_install_table();
    if (back_buffer.pixels && back_buffer.width == width && back_buffer.height == height) {
        return;
    }
    back_buffer.locked = 0;
    back_buffer.alignment = 1; // stride = width: rows go up without repacking
    back_buffer.x = back_buffer.y = 0;
    back_buffer.reset(width, height);
    back_buffer.locked = 1;
    back_buffer.valid = 1;
    if (!back_buffer.pixels) {
        return;
    }
    back_buffer.set_active_area(0, 0, width - 1, height - 1);
    back_buffer.clear(COLOUR_BLACK, 1);
    if (state.renderer && in_fullscreen_mode) {
        SDL_RenderSetLogicalSize(state.renderer, width, height);
    }
}

void destroy_back_buffer()
{
    back_buffer.locked = 0;
    back_buffer.reset(0, 0);
}

void blit_to_window(short id)
{
    if (!valid_id(id) || !state.window) {
        return;
    }
    if (host_gl_blit()) {
        return;
    }
    if (!state.renderer || !back_buffer.pixels || back_buffer.width < 1 || back_buffer.height < 1) {
        return;
    }
    if (is_clean(back_buffer) || !ensure_texture()) {
        return;
    }

    // A reset or a smaller buffer can leave the rectangle beyond the pixels.
    int x1 = std::max(0, static_cast<int>(std::min(back_buffer.dirty_x1, back_buffer.dirty_x2)));
    int x2 = std::min(back_buffer.width - 1, static_cast<int>(std::max(back_buffer.dirty_x1, back_buffer.dirty_x2)));
    int y1 = std::max(0, static_cast<int>(std::min(back_buffer.dirty_y1, back_buffer.dirty_y2)));
    int y2 = std::min(back_buffer.height - 1, static_cast<int>(std::max(back_buffer.dirty_y1, back_buffer.dirty_y2)));
    mark_clean(back_buffer);
    if (x1 > x2 || y1 > y2) {
        return;
    }

    SDL_Rect rect = {x1, y1, x2 - x1 + 1, y2 - y1 + 1};
    const COLOUR* first = back_buffer.pixels + static_cast<long>(y1) * back_buffer.stride + x1;
    SDL_UpdateTexture(state.texture, &rect, first, back_buffer.stride * static_cast<int>(sizeof(COLOUR)));
    int lw = 0, lh = 0;
    SDL_RenderGetLogicalSize(state.renderer, &lw, &lh);
    if (lw != 0) {
        // Letterboxed: the bars around the picture stay black.
        SDL_SetRenderDrawColor(state.renderer, 0, 0, 0, 255);
        SDL_RenderClear(state.renderer);
    }
    SDL_Rect whole = {0, 0, back_buffer.width, back_buffer.height};
    SDL_RenderCopy(state.renderer, state.texture, nullptr, &whole);
    SDL_RenderPresent(state.renderer);
    events_something_done = 1;
}

PRESENT_PACE get_present_pace(short id)
{
    PRESENT_PACE pace = {0, 0};
    if (!valid_id(id) || !state.window) {
        return pace;
    }
    SDL_DisplayMode mode;
    const int display = SDL_GetWindowDisplayIndex(state.window);
    int hz = 60;
    if (display >= 0 && SDL_GetCurrentDisplayMode(display, &mode) == 0 && mode.refresh_rate > 0) {
        hz = mode.refresh_rate;
    }
    pace.interval_us = 1000000u / static_cast<INT_U32>(hz);
    if (is_opengl_enabled()) {
        pace.vsync = SDL_GL_GetSwapInterval() != 0 ? 1 : 0;
    } else if (state.renderer) {
        // The software renderer reports vsync, yet presents by copying to
        // the window's surface at once.
        SDL_RendererInfo info;
        pace.vsync = SDL_GetRendererInfo(state.renderer, &info) == 0 && (info.flags & SDL_RENDERER_PRESENTVSYNC) &&
                     !(info.flags & SDL_RENDERER_SOFTWARE);
    }
    return pace;
}

// ---- ids in screen coordinates and close handlers ---------------------------------

short get_window_id_from_pos(INT_S16 x, INT_S16 y)
{
    if (x < 0 || y < 0) {
        return 0;
    }
    return static_cast<short>(((x & 0x7000) >> 9) | ((y & 0x7000) >> 12));
}

short get_window_x(short id)
{
    return static_cast<short>((id & 56) * 512);
}

short get_window_y(short id)
{
    return static_cast<short>((id & 7) * 4096);
}

void set_window_close_handler(WINDOW_CLOSE_HANDLER handler)
{
    window_close_handler = handler;
}

INT_U8 wch_exit_on_any_window_close(short)
{
    return 1;
}

INT_U8 wch_exit_when_main_window_only_close(short id)
{
    if (id == 0) {
        return 1;
    }
    close_window(id);
    return 0;
}

INT_U8 wch_exit_when_all_windows_closed(short id)
{
    close_window(id);
    for (short i = 0; i < 64; ++i) {
        if (is_window_open(i)) {
            return 0;
        }
    }
    return 1;
}
