// The optional OpenGL presentation of the back buffer: an SDL OpenGL
// context on the window and glDrawPixels of the whole buffer. The few GL
// calls are fetched from SDL at run time, so nothing links the GL library.
#include "display_state.h"
#include "host_internal.h"
#include "host_window.h"
#include "host_window_state.h"

#include <vector>

namespace {

// The GL values used here, fixed by the GL ABI.
constexpr unsigned GL_BLEND = 0x0BE2;
constexpr unsigned GL_SRC_ALPHA = 0x0302;
constexpr unsigned GL_ONE_MINUS_SRC_ALPHA = 0x0303;
constexpr unsigned GL_COLOR_BUFFER_BIT = 0x4000;
constexpr unsigned GL_DEPTH_BUFFER_BIT = 0x0100;
constexpr unsigned GL_BGRA = 0x80E1;
constexpr unsigned GL_UNSIGNED_BYTE = 0x1401;

struct GL_CALLS
{
    void (*ClearColor)(float, float, float, float);
    void (*Clear)(unsigned);
    void (*Enable)(unsigned);
    void (*BlendFunc)(unsigned, unsigned);
    void (*Viewport)(int, int, int, int);
    void (*PixelZoom)(float, float);
    void (*WindowPos2f)(float, float);
    void (*DrawPixels)(int, int, unsigned, unsigned, const void*);
};

GL_CALLS gl = {};
SDL_GLContext context = nullptr;
INT_U8 needs_refresh = 0;
std::vector<INT_U32> staging;
int staging_w = 0, staging_h = 0;

template <typename F> bool fetch(F& slot, const char* name)
{
    slot = reinterpret_cast<F>(SDL_GL_GetProcAddress(name));
    return slot != nullptr;
}

bool fetch_calls()
{
    return fetch(gl.ClearColor, "glClearColor") && fetch(gl.Clear, "glClear") && fetch(gl.Enable, "glEnable") &&
           fetch(gl.BlendFunc, "glBlendFunc") && fetch(gl.Viewport, "glViewport") &&
           fetch(gl.PixelZoom, "glPixelZoom") && fetch(gl.WindowPos2f, "glWindowPos2f") &&
           fetch(gl.DrawPixels, "glDrawPixels");
}

// The window again, with OpenGL: same place, size, title and style.
SDL_Window* recreate_with_gl(SDL_Window* old)
{
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(old, &x, &y);
    SDL_GetWindowSize(old, &w, &h);
    Uint32 keep = SDL_GetWindowFlags(old) & (SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
    return SDL_CreateWindow(SDL_GetWindowTitle(old), x, y, w, h, keep | SDL_WINDOW_OPENGL);
}

} // namespace

INT_U8 enable_opengl()
{
    HOST_WINDOW_STATE& st = host_window_state();
    if (!st.window) {
        return 0;
    }
    if (context) {
        return 1;
    }
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 24);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);

    // A new window is made beside the old one, so a failure leaves the
    // plain path exactly as it was.
    SDL_Window* fresh = nullptr;
    SDL_Window* target = st.window;
    if (!(SDL_GetWindowFlags(st.window) & SDL_WINDOW_OPENGL)) {
        fresh = recreate_with_gl(st.window);
        if (!fresh) {
            return 0;
        }
        target = fresh;
    } else {
        // The renderer may hold its own context on this window.
        host_drop_renderer();
    }
    context = SDL_GL_CreateContext(target);
    if (!context || !fetch_calls()) {
        if (context) {
            SDL_GL_DeleteContext(context);
        }
        context = nullptr;
        if (fresh) {
            SDL_DestroyWindow(fresh);
        } else {
            host_make_renderer();
        }
        return 0;
    }
    if (fresh) {
        host_drop_renderer();
        if (display_state.window == st.window) {
            display_state.window = fresh;
        }
        SDL_DestroyWindow(st.window);
        st.window = fresh;
    }
    SDL_GL_MakeCurrent(st.window, context);
    gl.ClearColor(0, 0, 0, 1);
    gl.Clear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    needs_refresh = 1;
    return 1;
}

void disable_opengl()
{
    if (!context) {
        return;
    }
    HOST_WINDOW_STATE& st = host_window_state();
    SDL_GL_MakeCurrent(st.window, nullptr);
    SDL_GL_DeleteContext(context);
    context = nullptr;
    staging.clear();
    staging.shrink_to_fit();
    staging_w = staging_h = 0;
    host_make_renderer();
}

INT_U8 is_opengl_enabled()
{
    return context ? 1 : 0;
}

void set_opengl_needs_refresh(INT_U8 refresh)
{
    needs_refresh = refresh;
}

void set_opengl_window(short) {}

bool host_gl_blit()
{
    if (!context) {
        return false;
    }
    HOST_WINDOW_STATE& st = host_window_state();
    int w = back_buffer.width, h = back_buffer.height;
    if (!back_buffer.pixels || w < 1 || h < 1) {
        return true;
    }
    if (w != staging_w || h != staging_h) {
        staging.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), 0);
        staging_w = w;
        staging_h = h;
        back_buffer.mark_dirty_area(0, 0, static_cast<short>(w - 1), static_cast<short>(h - 1));
    }
    bool clean = back_buffer.dirty_x1 == -1 || back_buffer.dirty_x2 == -1 || back_buffer.dirty_y1 == -1 ||
                 back_buffer.dirty_y2 == -1;
    if (!needs_refresh && clean) {
        return true;
    }
    needs_refresh = 0;
    // Rows bottom up, as glDrawPixels reads them.
    back_buffer.get_opengl_format_buffer(staging.data(), static_cast<short>(w), 0, 0, 0);
    back_buffer.dirty_x1 = back_buffer.dirty_x2 = back_buffer.dirty_y1 = back_buffer.dirty_y2 = -1;
    SDL_GL_MakeCurrent(st.window, context);
    int dw = 0, dh = 0;
    SDL_GL_GetDrawableSize(st.window, &dw, &dh);
    // The viewport keeps the size the context was made with until told:
    // a window that went full screen afterwards would be drawn in a corner.
    gl.Viewport(0, 0, dw, dh);
    HOST_LETTERBOX box = {0, 0, w, h, 1.0f};
    if (in_fullscreen_mode) {
        box = host_letterbox(dw, dh, w, h);
        // Letterboxed: the bars around the picture stay black.
        gl.ClearColor(0, 0, 0, 1);
        gl.Clear(GL_COLOR_BUFFER_BIT);
    }
    gl.Enable(GL_BLEND);
    gl.BlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    gl.PixelZoom(box.scale, box.scale);
    // The raster position is the picture's bottom left in window
    // coordinates (GL counts up from the bottom), set directly: the
    // default, the viewport's centre, would put it in the middle.
    gl.WindowPos2f(static_cast<float>(box.x), static_cast<float>(dh - box.y) - h * box.scale);
    gl.DrawPixels(w, h, GL_BGRA, GL_UNSIGNED_BYTE, staging.data());
    SDL_GL_SwapWindow(st.window);
    events_something_done = 1;
    return true;
}
