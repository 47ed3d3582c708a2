#ifndef KIVO_WM_PAGE_MANAGER_H
#define KIVO_WM_PAGE_MANAGER_H

// WM_PAGE_MANAGER: the one page manager, reached through
// WM_SCREEN_OBJECT::pm. It owns a fixed array of screen areas (WM_AREA),
// one background picture per window, and the per-frame redraw of the
// update regions. WM_AREA is the root object of one area's widget tree.
#include "image.h"
#include "kivo_types.h"
#include "wm_manager.h"

class WM_AREA : public WM_MANAGER
{
public:
    WM_AREA();
    // Takes every modal object and every child with it.
    ~WM_AREA() override;
};

class WM_PAGE_MANAGER
{
public:
    static constexpr int max_windows = 64;

    WM_AREA* current_area;   // always &areas[current]
    IMAGE backgrounds[max_windows]; // per window id; every redraw of a region starts from it
    WM_AREA* areas;          // area_count of them, owned
    INT_S16 area_count;      // at least 1
    INT_S16 current;
    INT_U8 page_effects;     // an area's first page fades in
    INT_U32 page_effects_ms; // length of the page transitions, 700
    INT_S16 injected_x, injected_y; // a click the next pass simulates; -1 = none
    INT_U8 injected_button;  // 1 pressed, 0 released
    INT_S16 last_window_width, last_window_height; // 0 until the first pass
    INT_S8 cursor_request;   // pointer shape wanted at the end of the pass; -1 = leave it

    // An area count below 1 or a second page manager is fatal. A negative
    // key_buffer leaves the keyboard's buffer as it is.
    WM_PAGE_MANAGER(INT_S16 count, long key_buffer);
    // Gives up WM_SCREEN_OBJECT::pm and pm_destructor once the areas and
    // their widgets are gone.
    ~WM_PAGE_MANAGER();
    WM_PAGE_MANAGER(const WM_PAGE_MANAGER&) = delete;
    WM_PAGE_MANAGER& operator=(const WM_PAGE_MANAGER&) = delete;

    // Keeps the last picture as each window's background, then hides and
    // empties every area and closes every modal object.
    void shutdown();
    // The object under the point in the highest-numbered area that has one;
    // else the highest-numbered area hit; else null.
    WM_SCREEN_OBJECT* find_object_at_pos(INT_S16 px, INT_S16 py);
    // Redraws every update region (background, area trees, modal objects)
    // and empties the list.
    void check_for_draw();

    static INT_S16 monitor_delay_ms;
    static INT_S16 popup_x1, popup_y1, popup_x2, popup_y2; // -1 = the window's edge
    static INT_S16 page_effects_x1, page_effects_y1, page_effects_x2, page_effects_y2;
    static INT_U8 busy_mouse_cursor_on_page_change;
    static INT_U8 monitor_mouse_cursor; // widgets may ask for pointer shapes
    static INT_U8 check_screen_resize;
};

// Shuts the current page manager down; nothing when there is none.
void pm_shutdown();

#endif
