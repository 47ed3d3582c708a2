#ifndef KIVO_WM_PAGE_SERVICES_H
#define KIVO_WM_PAGE_SERVICES_H

// WM_PAGE_SERVICES: all that widgets ask of the page manager. The page
// manager implements it, and widgets reach it through
// WM_SCREEN_OBJECT::page_services() (null while there is no page manager),
// so that they never include the page layer.
#include "kivo_types.h"
#include "wm_screen_object.h"

class WM_PAGE_SERVICES
{
public:
    // Windows with a background of their own: ids 0 .. max_windows - 1.
    static constexpr int max_windows = 64;

    // A click the next pass simulates at (x, y): button 1 pressed, 0
    // released. It stands until it is cancelled or injected anew.
    virtual void inject_click(INT_S16 x, INT_S16 y, INT_U8 button) = 0;
    virtual void cancel_injected_click() = 0;
    virtual bool is_click_injected() const = 0;

    // The pointer shape (0..6) to show at the end of this pass; ignored
    // while the page manager sets no pointer shapes.
    virtual void request_pointer(INT_S8 shape) = 0;

    // The area being monitored, updated or built.
    virtual WM_SCREEN_OBJECT* get_current_area() = 0;
    // The object under the point in the highest-numbered area that has
    // one; else the highest-numbered area hit; else null.
    virtual WM_SCREEN_OBJECT* find_object_at_pos(INT_S16 px, INT_S16 py) = 0;
    // The region pop-ups must stay in.
    virtual void get_popup_area(INT_S16& x1, INT_S16& y1, INT_S16& x2, INT_S16& y2) = 0;
    // Redraws the update region being redrawn (update_regions_index, which
    // the caller sets) from a window's background: the background, every
    // area tree, then the modal objects, clipped to the region. A window
    // outside 0 .. max_windows - 1 draws nothing.
    virtual void redraw_region_from(INT_S16 window) = 0;

protected:
    virtual ~WM_PAGE_SERVICES() = default;
};

#endif
