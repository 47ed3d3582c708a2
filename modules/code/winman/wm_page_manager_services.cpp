// The page manager's side of the page services: what widgets may ask of it.
#include "wm_page_manager.h"

#include "wm_clip.h"

void WM_PAGE_MANAGER::inject_click(INT_S16 x, INT_S16 y, INT_U8 button)
{
    injected_x = x;
    injected_y = y;
    injected_button = button;
}

void WM_PAGE_MANAGER::cancel_injected_click()
{
    injected_x = injected_y = -1;
    injected_button = 0;
}

bool WM_PAGE_MANAGER::is_click_injected() const
{
    return injected_x != -1 && injected_y != -1;
}

void WM_PAGE_MANAGER::request_pointer(INT_S8 shape)
{
    if (monitor_mouse_cursor) {
        cursor_request = shape;
    }
}

WM_SCREEN_OBJECT* WM_PAGE_MANAGER::get_current_area()
{
    return current_area;
}

void WM_PAGE_MANAGER::redraw_region_from(INT_S16 window)
{
    using S = WM_SCREEN_OBJECT;
    IMAGE* surface = S::surface;
    if (!surface || window < 0 || window >= max_windows || S::update_regions_index < 0 ||
        S::update_regions_index >= S::max_update_regions) {
        return;
    }
    prepare_for_draw();
    const WM_UPDATE_REGION& r = S::update_regions[S::update_regions_index];
    WM_CLIP_SAVER clip(surface);
    surface->set_active_area(r.left, r.top, r.right, r.bottom);
    backgrounds[window].put(0, 0, surface, IMAGE_COPY_BLEND);
    for (int i = 0; i < area_count; ++i) {
        areas[i].check_for_redraw();
    }
    if (area_count > 0) {
        areas[0].check_modal_redraw();
    }
}
