// WM_MANAGER: the root object of a widget tree.
#include "wm_manager.h"

#include "host_window.h"
#include "wm_clip.h"

WM_MANAGER::WM_MANAGER(INT_U8 visible, WM_OBJECT_CALLBACK callback, void* data1, void* data2)
    : WM_SCREEN_OBJECT(visible, callback, data1, data2)
{
    type |= WM_TYPE_MANAGER;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

void WM_MANAGER::resize(INT_S16 nw, INT_S16 nh, INT_U8)
{
    if (nw == width && nh == height) {
        return;
    }
    width = nw;
    height = nh;
    redraw_if_visible();
}

INT_U8 WM_MANAGER::can_have_focus()
{
    return 0;
}

INT_S16 WM_MANAGER::get_width()
{
    if (width == 0) {
        width = get_window_width(0);
    }
    return width;
}

INT_S16 WM_MANAGER::get_height()
{
    if (height == 0) {
        height = get_window_height(0);
    }
    return height;
}

void WM_MANAGER::check_for_redraw()
{
    get_width();
    get_height();
    WM_CLIP_SAVER clip(surface);
    if (surface) {
        surface->add_rect_to_active_area(x, y, static_cast<INT_S16>(x + width - 1),
                                         static_cast<INT_S16>(y + height - 1));
    }
    WM_SCREEN_OBJECT::check_for_redraw();
}

void WM_MANAGER::draw_object() {}
