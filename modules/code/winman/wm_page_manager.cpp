// WM_PAGE_MANAGER and WM_AREA: construction and shut-down of the areas,
// the hit test over all areas, and the per-frame redraw of the update
// regions.
#include "wm_page_manager.h"

#include "errors.h"
#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"

#include <new>

INT_S16 WM_PAGE_MANAGER::monitor_delay_ms = 0;
INT_S16 WM_PAGE_MANAGER::popup_x1 = -1;
INT_S16 WM_PAGE_MANAGER::popup_y1 = -1;
INT_S16 WM_PAGE_MANAGER::popup_x2 = -1;
INT_S16 WM_PAGE_MANAGER::popup_y2 = -1;
INT_S16 WM_PAGE_MANAGER::page_effects_x1 = -1;
INT_S16 WM_PAGE_MANAGER::page_effects_y1 = -1;
INT_S16 WM_PAGE_MANAGER::page_effects_x2 = -1;
INT_S16 WM_PAGE_MANAGER::page_effects_y2 = -1;
INT_U8 WM_PAGE_MANAGER::busy_mouse_cursor_on_page_change = 1;
INT_U8 WM_PAGE_MANAGER::monitor_mouse_cursor = 1;
INT_U8 WM_PAGE_MANAGER::check_screen_resize = 1;

namespace {

// The whole surface as its clip; an empty surface has nothing to clip.
void clip_to_whole(IMAGE* surface)
{
    if (surface && surface->width > 0 && surface->height > 0) {
        surface->set_active_area(surface->x, surface->y, static_cast<INT_S16>(surface->x + surface->width - 1),
                                 static_cast<INT_S16>(surface->y + surface->height - 1));
    }
}

} // namespace

WM_AREA::WM_AREA() : WM_MANAGER(1, nullptr, nullptr, nullptr) {}

WM_AREA::~WM_AREA()
{
    clear_objects(1, 0, 1);
}

WM_PAGE_MANAGER::WM_PAGE_MANAGER(INT_S16 count, long key_buffer)
    : current_area(nullptr), areas(nullptr), area_count(0), current(0), page_effects(0), page_effects_ms(0),
      injected_x(-1), injected_y(-1), injected_button(0), last_window_width(0), last_window_height(0),
      cursor_request(-1)
{
    KEYBOARD::set_buffer_sz(key_buffer);
    if (count < 1) {
        display_error(ERR_PAGE_AREA_COUNT);
    }
    if (WM_SCREEN_OBJECT::pm) {
        display_error(ERR_TWO_PAGE_MANAGERS);
    }
    areas = new (std::nothrow) WM_AREA[count];
    if (!areas) {
        display_error(ERR_PAGE_AREAS_MEMORY);
    }
    area_count = count;
    WM_SCREEN_OBJECT::pm = this;
    current = 0;
    current_area = &areas[0];
    page_effects = 0;
    page_effects_ms = 700;
    pm_destructor = pm_shutdown;
    for (int i = 0; i < count; ++i) {
        areas[i].set_area(static_cast<INT_S16>(i));
    }
}

WM_PAGE_MANAGER::~WM_PAGE_MANAGER()
{
    for (int i = 0; i < area_count; ++i) {
        current = static_cast<INT_S16>(i);
        current_area = &areas[i];
        areas[i].clear_objects(0, 0, 1);
    }
    // Widgets reach the manager through pm while they are deleted (a button
    // puts the injected click back), so pm goes last.
    delete[] areas;
    areas = nullptr;
    current_area = nullptr;
    area_count = 0;
    current = 0;
    page_effects = 0;
    page_effects_ms = 0;
    // The next manager (or the shut-down hook) must not find this one.
    if (WM_SCREEN_OBJECT::pm == this) {
        WM_SCREEN_OBJECT::pm = nullptr;
        if (pm_destructor == pm_shutdown) {
            pm_destructor = nullptr;
        }
    }
}

void WM_PAGE_MANAGER::shutdown()
{
    IMAGE* surface = WM_SCREEN_OBJECT::surface;
    clip_to_whole(surface);
    for (int w = 0; w < max_windows; ++w) {
        if (is_window_open(static_cast<short>(w))) {
            backgrounds[w].get(0, 0, surface, IMAGE_COPY_BLEND);
        }
    }
    for (int i = 0; i < area_count; ++i) {
        current = static_cast<INT_S16>(i);
        current_area = &areas[i];
        areas[i].hide(0, 1);
        areas[i].clear_objects(0, 0, 1);
    }
    if (area_count > 0) {
        areas[0].clear_objects(1, 0, 0);
    }
}

void pm_shutdown()
{
    if (WM_SCREEN_OBJECT::pm) {
        WM_SCREEN_OBJECT::pm->shutdown();
    }
}

WM_SCREEN_OBJECT* WM_PAGE_MANAGER::find_object_at_pos(INT_S16 px, INT_S16 py)
{
    WM_SCREEN_OBJECT* area_hit = nullptr;
    for (int i = area_count - 1; i >= 0; --i) {
        WM_SCREEN_OBJECT* found = areas[i].find_object_at_pos(px, py);
        if (found && found != &areas[i]) {
            return found;
        }
        if (found && !area_hit) {
            area_hit = found;
        }
    }
    return area_hit;
}

void WM_PAGE_MANAGER::check_for_draw()
{
    IMAGE* surface = WM_SCREEN_OBJECT::surface;
    INT_S16& index = WM_SCREEN_OBJECT::update_regions_index;
    for (index = 0; index < WM_SCREEN_OBJECT::update_regions_sz; ++index) {
        if (!WM_SCREEN_OBJECT::is_update_region_valid()) {
            continue;
        }
        const WM_UPDATE_REGION& r = WM_SCREEN_OBJECT::update_regions[index];
        if (surface) {
            surface->set_active_area(r.left, r.top, r.right, r.bottom);
        }
        // Every region starts again from the background, replaced.
        for (int w = 0; w < max_windows; ++w) {
            if (get_window_width(static_cast<short>(w)) != 0) {
                backgrounds[w].put(0, 0, surface, IMAGE_COPY_REPLACE);
            }
        }
        for (int i = 0; i < area_count; ++i) {
            areas[i].check_for_redraw();
        }
        if (area_count > 0) {
            areas[0].check_modal_redraw();
        }
        clip_to_whole(surface);
    }
    index = -1;
    WM_SCREEN_OBJECT::update_regions_sz = 0;
}
