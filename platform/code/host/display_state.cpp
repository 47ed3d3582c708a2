// Full-screen display modes: the window is stretched over its display and
// the renderer scales the back buffer into it with letterboxing. Nothing
// here switches the desktop's resolution or depth.
#include "display_state.h"

#include "host_internal.h"

INT_U8 UDisplayState::gInited = 0;
INT_U8 UDisplayState::gGotNewMenuStuff = 0;
INT_U8 UDisplayState::gGotQuicktime = 0;
INT_U8 UDisplayState::gGotGoodQuicktime = 0;

UDisplayState display_state(0);

namespace {

// What an active mode must put back when it ends. The window itself is
// the state's `window`, which follows the window when it is remade (the
// OpenGL path does that).
struct MODE_RECORD
{
    Uint32 old_flags; // the window's full-screen flags before
};

bool video_running()
{
    return SDL_WasInit(SDL_INIT_VIDEO) != 0;
}

} // namespace

UDisplayState::UDisplayState(INT_S32 f) : UDisplayState(-1, f) {}

UDisplayState::UDisplayState(INT_S32 d, INT_S32 f)
{
    window = nullptr;
    paint_black = 1;
    flags = f;
    device = d;
    Initialise();
}

UDisplayState::UDisplayState(INT_S32 d, INT_S16 w, INT_S16 h, INT_S16 dep, INT_S32 f) : UDisplayState(d, f)
{
    if (w != -1) {
        width = w;
    }
    if (h != -1) {
        height = h;
    }
    if (dep != -1) {
        depth = dep;
    }
    if (gGotQuicktime && video_running()) {
        QTBegin();
    }
}

UDisplayState::~UDisplayState()
{
    if (IsActive() && video_running()) {
        end_mode();
    }
    // After SDL has stopped, the windows are gone with it.
    delete static_cast<MODE_RECORD*>(restore_state);
    restore_state = nullptr;
}

void UDisplayState::Initialise()
{
    if (!gInited) {
        StaticInitialise();
    }
    restore_state = nullptr;
    full_screen_window = nullptr;
    width = 640;
    height = 480;
    depth = 8;
    saved_depth = 0;
    if (device < 0) {
        device = 0;
    }
}

// Statics are built before main, where SDL must not be called: whether
// video runs is asked at each mode change instead.
INT_U8 UDisplayState::StaticInitialise()
{
    gInited = 1;
    gGotNewMenuStuff = 0;
    gGotQuicktime = gGotGoodQuicktime = 1;
    return gGotQuicktime;
}

void UDisplayState::SetSize(INT_S16 w, INT_S16 h)
{
    width = w;
    height = h;
}

void UDisplayState::SetDepth(INT_S16 d)
{
    depth = d;
}

void UDisplayState::SetDevice(INT_S32 d)
{
    device = d < 0 ? 0 : d;
}

void UDisplayState::SetDevice(SDL_Window* w)
{
    window = w;
}

INT_S16 UDisplayState::ChangeMode()
{
    if (!gGotQuicktime || !video_running()) {
        return DISPLAY_STATE_NO_VIDEO;
    }
    return QTBegin();
}

INT_S16 UDisplayState::RestoreMode()
{
    if (!gGotQuicktime || !video_running()) {
        return DISPLAY_STATE_NO_VIDEO;
    }
    return QTEnd();
}

INT_S16 UDisplayState::QTEnd()
{
    if (!IsActive()) {
        return 0;
    }
    end_mode();
    return 0;
}

INT_S16 UDisplayState::QTBegin()
{
    if (IsActive()) {
        end_mode();
    }
    INT_S32 screen = GetDeviceToUse(nullptr);
    saved_depth = GetDeviceDepth(screen);
    // The desktop keeps its depth: a mode at another depth simply shows
    // the picture at the desktop's.

    SDL_Window* target = window;
    Uint32 old_flags = 0;
    if (!target) {
        // No window given: a black one of its own covers the display.
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(screen, &bounds) != 0) {
            return -1;
        }
        full_screen_window = SDL_CreateWindow("", bounds.x, bounds.y, bounds.w, bounds.h,
                                              SDL_WINDOW_BORDERLESS | SDL_WINDOW_FULLSCREEN_DESKTOP);
        if (!full_screen_window) {
            return -1;
        }
        if (paint_black) {
            SDL_Surface* surface = SDL_GetWindowSurface(full_screen_window);
            if (surface) {
                SDL_FillRect(surface, nullptr, SDL_MapRGB(surface->format, 0, 0, 0));
                SDL_UpdateWindowSurface(full_screen_window);
            }
        }
        target = full_screen_window;
    } else {
        old_flags = SDL_GetWindowFlags(target) & SDL_WINDOW_FULLSCREEN_DESKTOP;
        if (SDL_SetWindowFullscreen(target, SDL_WINDOW_FULLSCREEN_DESKTOP) != 0) {
            return -1;
        }
    }
    // The picture keeps the size asked for and is scaled to the display.
    SDL_Renderer* renderer = SDL_GetRenderer(target);
    if (renderer && width > 0 && height > 0) {
        SDL_RenderSetLogicalSize(renderer, width, height);
    }
    MODE_RECORD* record = new MODE_RECORD;
    record->old_flags = old_flags;
    restore_state = record;
    return 0;
}

void UDisplayState::end_mode()
{
    MODE_RECORD* record = static_cast<MODE_RECORD*>(restore_state);
    restore_state = nullptr;
    if (full_screen_window) {
        SDL_DestroyWindow(full_screen_window);
        full_screen_window = nullptr;
    } else if (record && window) {
        // The application's window is only made windowed again, never closed.
        SDL_SetWindowFullscreen(window, record->old_flags);
        if (SDL_Renderer* renderer = SDL_GetRenderer(window)) {
            SDL_RenderSetLogicalSize(renderer, 0, 0);
        }
    }
    delete record;
}

INT_S32 UDisplayState::GetDeviceToUse(SDL_Window* w) const
{
    if (w) {
        return GetDeviceForWindow(w);
    }
    if (window) {
        return GetDeviceForWindow(window);
    }
    return device;
}

INT_S32 UDisplayState::GetDeviceForWindow(SDL_Window* w)
{
    int index = w ? SDL_GetWindowDisplayIndex(w) : -1;
    return index < 0 ? 0 : index;
}

INT_S32 UDisplayState::GetDeviceIndex(INT_S32 d)
{
    if (!video_running()) {
        return -1;
    }
    int count = SDL_GetNumVideoDisplays();
    return d >= 0 && d < count ? d : -1;
}

INT_S16 UDisplayState::GetDeviceDepth(INT_S32 d)
{
    SDL_DisplayMode mode;
    if (!host_start_video() || SDL_GetDesktopDisplayMode(d, &mode) != 0) {
        return 0;
    }
    return static_cast<INT_S16>(SDL_BYTESPERPIXEL(mode.format) * 8);
}

bool UDisplayState::HasDepth(INT_S32 d, INT_S16 wanted)
{
    if (!host_start_video()) {
        return false;
    }
    int count = SDL_GetNumDisplayModes(d);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(d, i, &mode) == 0 && static_cast<int>(SDL_BYTESPERPIXEL(mode.format) * 8) == wanted) {
            return true;
        }
    }
    return false;
}

namespace {

SDL_Rect device_rect(INT_S32 d)
{
    SDL_Rect r = {0, 0, 0, 0};
    if (!host_start_video() || SDL_GetDisplayBounds(d, &r) != 0) {
        r = {0, 0, 0, 0};
    }
    return r;
}

} // namespace

INT_S32 UDisplayState::GetDeviceWidth(SDL_Window* w) const
{
    return device_rect(GetDeviceToUse(w)).w;
}

INT_S32 UDisplayState::GetDeviceHeight(SDL_Window* w) const
{
    return device_rect(GetDeviceToUse(w)).h;
}

INT_S32 UDisplayState::GetDeviceLeft(SDL_Window* w) const
{
    return device_rect(GetDeviceToUse(w)).x;
}

INT_S32 UDisplayState::GetDeviceTop(SDL_Window* w) const
{
    return device_rect(GetDeviceToUse(w)).y;
}
