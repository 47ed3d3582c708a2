// WM_PAGE_MANAGER and WM_AREA: construction and shut-down of the areas,
// the pages queued and kept in each area's history and the page changes,
// the hit test over all areas, and the per-frame redraw of the update
// regions.
#include "wm_page_manager.h"

#include "errors.h"
#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "utils.h"

#include <functional>
#include <new>

namespace {

// Every callback and the data gone; an empty entry always draws a new id.
void empty_entry(WM_SCREEN_INFO& entry)
{
    entry = WM_SCREEN_INFO{};
    entry.unique_id = get_unique_id();
}

// Another descriptor of the area (not `entry` itself) that holds data.
bool area_holds(const WM_AREA& area, const void* data, const WM_SCREEN_INFO& entry)
{
    if (&area.next_page != &entry && area.next_page.data == data) {
        return true;
    }
    for (const WM_SCREEN_INFO& other : area.history) {
        if (&other != &entry && other.data == data) {
            return true;
        }
    }
    return false;
}

// A page shared by two descriptors is deleted only with the last of them.
void destroy_in(WM_AREA* areas, int count, WM_SCREEN_INFO& entry)
{
    bool shared = false;
    for (int i = 0; entry.data && i < count && !shared; ++i) {
        shared = area_holds(areas[i], entry.data, entry);
    }
    if (!shared && entry.destroy) {
        entry.destroy(entry.data);
    }
    empty_entry(entry);
}

// The manager whose area array holds area: the published one, or null
// while it is being built or torn down.
WM_PAGE_MANAGER* owner_of(const WM_AREA* area)
{
    WM_PAGE_MANAGER* pm = WM_SCREEN_OBJECT::pm;
    if (!pm || !pm->areas) {
        return nullptr;
    }
    const bool inside = std::greater_equal<const WM_AREA*>()(area, pm->areas) &&
                        std::less<const WM_AREA*>()(area, pm->areas + pm->area_count);
    return inside ? pm : nullptr;
}

// The whole surface as its clip; an empty surface has nothing to clip.
void clip_to_whole(IMAGE* surface)
{
    if (surface && surface->width > 0 && surface->height > 0) {
        surface->set_active_area(surface->x, surface->y, static_cast<INT_S16>(surface->x + surface->width - 1),
                                 static_cast<INT_S16>(surface->y + surface->height - 1));
    }
}

} // namespace

WM_AREA::WM_AREA()
    : WM_MANAGER(1, nullptr, nullptr, nullptr), history_index(0), history_count(1), pending_index(-1),
      clear_on_change(0), rebuild_on_change(0), rebuild_on_monitor(0)
{
    for (WM_SCREEN_INFO& entry : history) {
        empty_entry(entry);
    }
    empty_entry(next_page);
}

WM_AREA::~WM_AREA()
{
    clear();
    clear_objects(1, 0, 1);
}

void WM_AREA::clear()
{
    const INT_U8 was_visible = visible;
    if (history[history_index].objects_deleting) {
        history[history_index].objects_deleting();
    }
    clear_objects(0, 0, 1);
    mark_redraw_area();
    visible = dirty = was_visible;
    WM_PAGE_MANAGER* owner = owner_of(this);
    // A queued page is destroyed too: nothing else would ever delete it.
    auto destroy = [this, owner](WM_SCREEN_INFO& entry) {
        if (owner) {
            owner->destroy_entry(entry);
        } else {
            destroy_in(this, 1, entry);
        }
    };
    for (WM_SCREEN_INFO& entry : history) {
        destroy(entry);
    }
    destroy(next_page);
    clear_on_change = rebuild_on_change = rebuild_on_monitor = 0;
    history_index = 0;
    history_count = 1;
    pending_index = -1;
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
    wm_context.state.screen_object.page_services = this;
    current = 0;
    current_area = &areas[0];
    page_effects = 0;
    page_effects_ms = 700;
    pm_destructor = pm_shutdown;
    for (int i = 0; i < count; ++i) {
        areas[i].clear();
        areas[i].set_area(static_cast<INT_S16>(i));
    }
}

WM_PAGE_MANAGER::~WM_PAGE_MANAGER()
{
    for (int i = 0; i < area_count; ++i) {
        current = static_cast<INT_S16>(i);
        current_area = &areas[i];
        areas[i].clear();
    }
    // Widgets reach the manager through pm while they are deleted (a button
    // puts the injected click back), so pm goes last. With the count at 0
    // no area looks into the array while it is being taken apart.
    WM_AREA* doomed = areas;
    area_count = 0;
    delete[] doomed;
    areas = nullptr;
    current_area = nullptr;
    current = 0;
    page_effects = 0;
    page_effects_ms = 0;
    // The next manager (or the shut-down hook) must not find this one.
    if (WM_SCREEN_OBJECT::pm == this) {
        WM_SCREEN_OBJECT::pm = nullptr;
        wm_context.state.screen_object.page_services = nullptr;
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
        WM_AREA& a = areas[i];
        a.hide(0, 1);
        WM_SCREEN_INFO& entry = a.history[a.history_index];
        if (entry.objects_deleting) {
            entry.objects_deleting();
        }
        a.clear_objects(0, 0, 1);
        destroy_entry(a.history[a.history_index]);
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

WM_AREA* WM_PAGE_MANAGER::area_at(long area)
{
    if (area == -1) {
        area = current;
    }
    return area >= 0 && area < area_count ? &areas[area] : nullptr;
}

void WM_PAGE_MANAGER::make_current(long area)
{
    current = static_cast<INT_S16>(area);
    current_area = &areas[area];
}

void WM_PAGE_MANAGER::destroy_entry(WM_SCREEN_INFO& entry)
{
    destroy_in(areas, area_count, entry);
}

void WM_PAGE_MANAGER::set_next_page(long area, WM_PAGE_CREATE create, WM_PAGE_DESTROY destroy, void* data,
                                    WM_PAGE_MONITOR monitor, INT_U8 keep_in_history, INT_U32 unique_id,
                                    WM_PAGE_OBJECTS_DELETING objects_deleting)
{
    if (!create || area < 0 || area >= area_count) {
        return;
    }
    make_current(area);
    WM_SCREEN_INFO& next = areas[area].next_page;
    if (next.data == data) {
        // The same object queued again stays alive.
        empty_entry(next);
    } else if (next.data) {
        destroy_entry(next);
    }
    next.create = create;
    next.destroy = destroy;
    next.data = data;
    next.monitor = monitor;
    next.keep_in_history = keep_in_history;
    next.objects_deleting = objects_deleting;
    if (unique_id != 0) {
        next.unique_id = unique_id;
    }
    areas[area].pending_index = -1;
}

void WM_PAGE_MANAGER::set_next_page_to_history(long index, long area)
{
    WM_AREA* a = area_at(area);
    if (!a || index < 0 || index >= a->history_count) {
        return;
    }
    if (index == a->history_index) {
        a->rebuild_on_change = 1;
        return;
    }
    make_current(a - areas);
    destroy_entry(a->next_page);
    a->pending_index = static_cast<INT_S32>(index);
}

namespace {

// The nearest entry before (step -1) or after (step 1) the current one
// that shows another page; -1 when there is none.
long find_unique(const WM_AREA& a, int step)
{
    const INT_U32 id = a.history[a.history_index].unique_id;
    for (long i = a.history_index + step; i >= 0 && i < a.history_count; i += step) {
        if (a.history[i].unique_id != id) {
            return i;
        }
    }
    return -1;
}

} // namespace

void WM_PAGE_MANAGER::set_next_page_back_unique(long area)
{
    WM_AREA* a = area_at(area);
    const long i = a ? find_unique(*a, -1) : -1;
    if (i >= 0) {
        set_next_page_to_history(i, a - areas);
    }
}

void WM_PAGE_MANAGER::set_next_page_next_unique(long area)
{
    WM_AREA* a = area_at(area);
    const long i = a ? find_unique(*a, 1) : -1;
    if (i >= 0) {
        set_next_page_to_history(i, a - areas);
    }
}

INT_U8 WM_PAGE_MANAGER::is_back_unique_valid(long area)
{
    WM_AREA* a = area_at(area);
    const long i = a ? find_unique(*a, -1) : -1;
    return i >= 0 && a->history[i].create ? 1 : 0;
}

INT_U8 WM_PAGE_MANAGER::is_next_unique_valid(long area)
{
    WM_AREA* a = area_at(area);
    const long i = a ? find_unique(*a, 1) : -1;
    return i >= 0 && a->history[i].create ? 1 : 0;
}

void* WM_PAGE_MANAGER::get_page_data_from_history(long index, long area)
{
    if (area < 0 || area >= area_count || index < 0 || index >= areas[area].history_count) {
        return nullptr;
    }
    return areas[area].history[index].data;
}

INT_U8 WM_PAGE_MANAGER::is_page_data_valid(void* data)
{
    for (int i = 0; i < area_count; ++i) {
        const WM_AREA& a = areas[i];
        if (a.next_page.data == data) {
            return 1;
        }
        for (int h = 0; h < a.history_count; ++h) {
            if (a.history[h].data == data) {
                return 1;
            }
        }
    }
    return 0;
}

void WM_PAGE_MANAGER::clear_history(long area)
{
    WM_AREA* a = area_at(area);
    if (!a) {
        return;
    }
    for (int i = 0; i < WM_AREA::max_history; ++i) {
        if (i != a->history_index) {
            destroy_entry(a->history[i]);
        }
    }
    if (a->history_index != 0) {
        a->history[0] = a->history[a->history_index];
        empty_entry(a->history[a->history_index]);
        a->history_index = 0;
    }
    a->history[0].keep_in_history = 0;
    a->history_count = 1;
}

void WM_PAGE_MANAGER::delete_page_from_history(long index, long area)
{
    WM_AREA* a = area_at(area);
    // An index outside the entries in use would read past the array or
    // leave the area without a current entry.
    if (!a || index < 0 || index >= a->history_count || index == a->history_index) {
        return;
    }
    destroy_entry(a->history[index]);
    for (long i = index + 1; i < a->history_count; ++i) {
        a->history[i - 1] = a->history[i];
        empty_entry(a->history[i]);
        if (i == a->history_index) {
            a->history_index = static_cast<INT_S32>(i - 1);
        }
    }
    --a->history_count;
}

void WM_PAGE_MANAGER::rebuild_area(long area, INT_U8 modals)
{
    WM_AREA* a = area_at(area);
    if (!a) {
        return;
    }
    make_current(a - areas);
    WM_SCREEN_INFO& entry = a->history[a->history_index];
    if (entry.objects_deleting) {
        entry.objects_deleting();
    }
    a->clear_objects(modals, 1, 1);
    // The page's callbacks may have changed the history; read it again.
    WM_SCREEN_INFO& shown = a->history[a->history_index];
    if (shown.create) {
        shown.create(*this);
    }
    if (!WM_SCREEN_OBJECT::focal_object) {
        give_focus_to_next_object();
    }
}

void WM_PAGE_MANAGER::change_page(long area)
{
    if (area < 0 || area >= area_count) {
        return;
    }
    WM_AREA& a = areas[area];
    const INT_U8 was_visible = a.visible;
    make_current(area);
    if (a.clear_on_change) {
        a.clear();
        return;
    }
    if (!a.next_page.create && a.pending_index == -1) {
        if (a.rebuild_on_change && a.visible) {
            a.rebuild_on_change = 0;
            WM_SCREEN_INFO& entry = a.history[a.history_index];
            if (entry.objects_deleting) {
                entry.objects_deleting();
            }
            a.clear_objects(0, 0, 1);
            a.mark_redraw_area();
            a.visible = a.dirty = was_visible;
            if (a.history[a.history_index].create) {
                a.history[a.history_index].create(*this);
            }
            if (!WM_SCREEN_OBJECT::focal_object) {
                give_focus_to_next_object();
            }
            check_for_draw();
        }
        return;
    }
    // Keys typed while nothing on the old page took them belong to that
    // page: the new page's edits must not receive them.
    KEYBOARD::set_buffer_sz(KEYBOARD::buffer_sz);
    KEYBOARD::get_code();
    a.hide(0, 1);
    if (a.history[a.history_index].objects_deleting) {
        a.history[a.history_index].objects_deleting();
    }
    a.clear_objects(0, 0, 1);
    if (a.pending_index == -1) {
        WM_SCREEN_INFO& shown = a.history[a.history_index];
        if (shown == a.next_page) {
            shown.keep_in_history = 0; // the same page shown again replaces itself
        }
        if (!shown.keep_in_history) {
            destroy_entry(shown);
        } else if (++a.history_index == WM_AREA::max_history) {
            destroy_entry(a.history[0]);
            for (int i = 1; i < WM_AREA::max_history; ++i) {
                a.history[i - 1] = a.history[i];
            }
            empty_entry(a.history[WM_AREA::max_history - 1]);
            a.history_index = WM_AREA::max_history - 1;
            a.history_count = WM_AREA::max_history;
        }
        // The forward history is lost, from the slot the new page takes on.
        for (int i = a.history_index; i < a.history_count; ++i) {
            destroy_entry(a.history[i]);
        }
        a.history_count = a.history_index + 1;
        a.history[a.history_index] = a.next_page;
    } else {
        if (!a.history[a.history_index].keep_in_history) {
            destroy_entry(a.history[a.history_index]);
            --a.history_count;
        }
        a.history_index = a.pending_index;
    }
    // Its page now lives in the history.
    empty_entry(a.next_page);
    a.pending_index = -1;
    if (a.history[a.history_index].create) {
        a.history[a.history_index].create(*this);
    }
    if (!WM_SCREEN_OBJECT::focal_object) {
        give_focus_to_next_object();
    }
    a.mark_redraw_area();
    a.visible = a.dirty = was_visible;
    a.rebuild_on_change = a.rebuild_on_monitor = 0;
}

void WM_PAGE_MANAGER::go_to_page(long area)
{
    if (area < 0 || area >= area_count) {
        return;
    }
    // The count is read afresh: a page may change it.
    for (long i = 0; i < area_count; ++i) {
        change_page((area + i) % area_count);
    }
    check_for_draw();
}

void WM_PAGE_MANAGER::get_popup_area(INT_S16& x1, INT_S16& y1, INT_S16& x2, INT_S16& y2)
{
    // This host has one window, id 0.
    x1 = popup_x1 < 0 ? 0 : popup_x1;
    y1 = popup_y1 < 0 ? 0 : popup_y1;
    x2 = popup_x2 >= 0 ? popup_x2 : static_cast<INT_S16>(get_window_width(0) - 1);
    y2 = popup_y2 >= 0 ? popup_y2 : static_cast<INT_S16>(get_window_height(0) - 1);
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

void WM_PAGE_MANAGER::prepare_for_draw()
{
    for (int i = 0; i < area_count; ++i) {
        areas[i].prepare_tree_for_draw();
    }
    WM_SCREEN_OBJECT::prepare_modals_for_draw();
}

void WM_PAGE_MANAGER::check_for_draw()
{
    IMAGE* surface = WM_SCREEN_OBJECT::surface;
    prepare_for_draw();
    INT_S16& index = WM_SCREEN_OBJECT::update_regions_index;
    for (index = 0; index < WM_SCREEN_OBJECT::update_regions_sz; ++index) {
        if (!WM_SCREEN_OBJECT::is_update_region_valid()) {
            continue;
        }
        const WM_UPDATE_REGION& r = WM_SCREEN_OBJECT::update_regions[index];
        if (surface) {
            surface->set_active_area(r.left, r.top, r.right, r.bottom);
        }
        // Every region starts again from the background, replaced. A picture
        // the page layer has filled counts, whether or not its window is open.
        for (int w = 0; w < max_windows; ++w) {
            if (backgrounds[w].width != 0) {
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
