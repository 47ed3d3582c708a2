#ifndef KIVO_HOST_WINDOW_H
#define KIVO_HOST_WINDOW_H

// The one window of the program and its back buffer. Everything is drawn
// into the back-buffer IMAGE; blit_to_window presents the part of it that
// changed. The calls take window ids so that code written for several
// windows keeps working, but only window 0 exists (65535, read as -1, means
// "every window" where a call accepts it).
#include "image.h"
#include "kivo_types.h"

// Asked whether the program may end when a window closes; non-zero = end.
typedef INT_U8 (*WINDOW_CLOSE_HANDLER)(short id);

struct OPEN_WINDOW_SETTINGS
{
    char* title;                  // null = ""
    short width, height;          // client size; 65535 (-1) = the screen's
    INT_U8 full_screen;           // the buffer keeps its size, scaled to fill the display
    short min_width, max_width;   // 65535 (-1) = no limit
    short min_height, max_height; // 65535 (-1) = no limit
    INT_U8 no_title_bar;          // a borderless window (the splash window)
};

// ---- globals ---------------------------------------------------------------

// The back buffer: one IMAGE for the whole run, empty until
// create_back_buffer gives it pixels (stride = width, locked, valid).
extern IMAGE back_buffer;
// Set when something was drawn or sent since the last event pass; a set
// flag skips the run loop's idle wait.
extern INT_U8 events_something_done;
// Null at start.
extern WINDOW_CLOSE_HANDLER window_close_handler;
// The desktop size recorded by the last open_window; 65535 (-1) = measure
// again at the next get_desktop_width / get_desktop_height. In full screen
// it is the window's size.
extern INT_S16 display_width, display_height;
// Frame sizes: 2, 22 and 0 for a framed window, all 0 in full screen.
extern INT_S16 window_xborder_size, window_yborder_size, window_title_size;
extern INT_U8 in_fullscreen_mode;

// ---- geometry ----------------------------------------------------------------

enum WINDOW_GEOMETRY_RESULT : int
{
    WINDOW_GEOMETRY_OK = 0,
    WINDOW_GEOMETRY_LIMITS = 1,   // the limits cannot be met: open_window returns 0
    WINDOW_GEOMETRY_BAD_SIZE = 2, // a side below 1: the window cannot be made
};

struct WINDOW_GEOMETRY
{
    WINDOW_GEOMETRY_RESULT result;
    short left, top;     // client area, relative to the screen's origin
    short width, height; // client size = the back buffer's size
    short display_width, display_height;
    short xborder, yborder, title;
};

// Full-screen back buffers above this many pixels are cut to the screen.
constexpr long WINDOW_MAX_FULL_SCREEN_PIXELS = 16L * 1024 * 1024;

// Where open_window puts a window on a screen of screen_w x screen_h whose
// menu bar is menu_bar_h high. max_texture_w / _h are the renderer's
// largest texture (0 = not known), which caps a full-screen request.
WINDOW_GEOMETRY compute_window_geometry(int screen_w, int screen_h, int menu_bar_h,
                                        const OPEN_WINDOW_SETTINGS& settings, int max_texture_w, int max_texture_h);

// ---- windows -----------------------------------------------------------------

// 1 when the window is open; 0 for an id other than 0 or limits that cannot
// be met. A window that cannot be made, or no display at all, is fatal.
INT_U8 open_window(OPEN_WINDOW_SETTINGS& settings, short id);
INT_U8 open_window(char* title, short width, short height, unsigned char full_screen, short id);
// Id 0 or 65535; any other id, or no window, does nothing.
void close_window(short id);

// The back buffer for id 0 (with or without pixels), else null.
IMAGE* get_back_buffer(short id);
short get_window_width(short id); // the back buffer's width for 0, else 0
short get_window_height(short id);
bool is_window_open(short id);
short get_next_unused_window_id(); // 0 while no window is open, else -1
short get_focal_window_id();       // 0
void set_window_title(const char* text, short id);
INT_U8 is_in_fullscreen_mode();
// The recorded desktop size, measured from the screen when the record is
// 65535 (also before the first open_window); 0 when there is no screen.
short get_desktop_width();
short get_desktop_height();

// Presents the dirty rectangle of the back buffer (clamped to the buffer)
// and marks it clean; a clean buffer or no window presents nothing.
void blit_to_window(short id);

// How presents to window 0 are to be paced: the refresh interval of the
// window's display in microseconds (60 Hz when the display does not say;
// 0 while no window is open), and whether a present already waits for the
// display's refresh (vsync of the renderer, or the OpenGL swap interval).
struct PRESENT_PACE
{
    INT_U32 interval_us;
    INT_U8 vsync;
};
PRESENT_PACE get_present_pace(short id);

// Nothing for the current size; otherwise new pixels cleared to black,
// active area the whole buffer. Works with no window.
void create_back_buffer(short width, short height);
void destroy_back_buffer();

// ---- the OpenGL path ------------------------------------------------------------

// 1 when the window now presents through OpenGL; 0 (the plain path stays)
// when there is no window or no OpenGL.
INT_U8 enable_opengl();
void disable_opengl();
INT_U8 is_opengl_enabled();
// A set flag makes the next blit draw the whole buffer even when clean.
void set_opengl_needs_refresh(INT_U8 refresh);
void set_opengl_window(short id); // does nothing

// ---- ids in screen coordinates -------------------------------------------------

// Bits 12-14 of x and y; 0 when either is negative. 0..63.
short get_window_id_from_pos(INT_S16 x, INT_S16 y);
short get_window_x(short id); // (id AND 56) * 512
short get_window_y(short id); // (id AND 7) * 4096

// ---- close handlers ------------------------------------------------------------

void set_window_close_handler(WINDOW_CLOSE_HANDLER handler);
INT_U8 wch_exit_on_any_window_close(short id);         // always 1
INT_U8 wch_exit_when_main_window_only_close(short id); // 1 for 0, else closes it: 0
INT_U8 wch_exit_when_all_windows_closed(short id);     // closes it: 1 when none is left

#endif
