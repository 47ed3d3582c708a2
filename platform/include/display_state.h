#ifndef KIVO_DISPLAY_STATE_H
#define KIVO_DISPLAY_STATE_H

// Full-screen display modes. A mode is the window stretched over a whole
// display with the picture scaled (letterboxed) to it; the desktop's own
// resolution and colour depth are never switched. A device is a display
// index (0 = the main display); a window is the host window.
#include "kivo_types.h"

struct SDL_Window;

// What ChangeMode and RestoreMode return when video is not running.
constexpr INT_S16 DISPLAY_STATE_NO_VIDEO = -2020;

class UDisplayState
{
public:
    // Non-null while a mode is active: what ending it must put back.
    void* restore_state;
    // The borderless black window the state made itself when it was given
    // no window; null otherwise.
    SDL_Window* full_screen_window;
    // The window to make full screen (null = make one on the device).
    SDL_Window* window;
    INT_S32 device;
    INT_S16 width, height; // the desired size; 640 x 480 by default
    INT_S16 depth;         // desired bits per pixel; 8 by default
    INT_S16 saved_depth;   // the display's depth when the mode began
    INT_S32 flags;
    INT_U8 paint_black;

    static INT_U8 gInited, gGotNewMenuStuff, gGotQuicktime, gGotGoodQuicktime;

    // None of the constructors touches video, except the five-argument one,
    // which begins the mode at once when video is running.
    explicit UDisplayState(INT_S32 flags);
    UDisplayState(INT_S32 device, INT_S32 flags);
    // 65535 (-1) keeps that default.
    UDisplayState(INT_S32 device, INT_S16 width, INT_S16 height, INT_S16 depth, INT_S32 flags);
    ~UDisplayState();
    UDisplayState(const UDisplayState&) = delete;
    UDisplayState& operator=(const UDisplayState&) = delete;

    void Initialise();
    // Whether the display modes can ever work in this build.
    static INT_U8 StaticInitialise();

    void SetSize(INT_S16 w, INT_S16 h);
    void SetDepth(INT_S16 d);
    void SetDevice(INT_S32 d); // -1 = the main display
    void SetDevice(SDL_Window* w);

    // 0 on success; DISPLAY_STATE_NO_VIDEO when video is not running.
    INT_S16 ChangeMode();
    // 0 with no mode active; DISPLAY_STATE_NO_VIDEO when video is not running.
    INT_S16 RestoreMode();
    bool IsActive() const { return restore_state != nullptr; }

    // Begins the mode (ending an active one first).
    INT_S16 QTBegin();
    // Ends an active mode; 0 when none is.
    INT_S16 QTEnd();

    INT_S32 GetDeviceToUse(SDL_Window* w) const;
    static INT_S32 GetDeviceForWindow(SDL_Window* w);
    // 0-based position of the display; -1 when there is no such display.
    static INT_S32 GetDeviceIndex(INT_S32 d);
    // Bits per pixel of the display's current mode (bytes per pixel x 8);
    // 0 when it cannot be read.
    static INT_S16 GetDeviceDepth(INT_S32 d);
    // Whether some mode of the display has that depth.
    static bool HasDepth(INT_S32 d, INT_S16 depth);
    INT_S32 GetDeviceWidth(SDL_Window* w) const;
    INT_S32 GetDeviceHeight(SDL_Window* w) const;
    INT_S32 GetDeviceLeft(SDL_Window* w) const;
    INT_S32 GetDeviceTop(SDL_Window* w) const;

private:
    void end_mode();
};

// The state the window uses for its full-screen mode; built with flags 0.
extern UDisplayState display_state;

#endif
