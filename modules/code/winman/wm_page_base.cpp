// The page descriptor's comparison, and WM_PAGE_BASE: binding a page to an
// area and the static trampolines through which the page manager reaches
// the page it shows.
#include "wm_page_base.h"

#include "wm_page_manager.h"

namespace {

// The page of the current history entry of the manager's current area.
WM_PAGE_BASE* shown_page(WM_PAGE_MANAGER* manager)
{
    if (!manager || !manager->current_area) {
        return nullptr;
    }
    const WM_AREA& a = *manager->current_area;
    if (a.history_index < 0 || a.history_index >= WM_AREA::max_history) {
        return nullptr;
    }
    return static_cast<WM_PAGE_BASE*>(a.history[a.history_index].data);
}

} // namespace

INT_U8 WM_SCREEN_INFO::operator==(const WM_SCREEN_INFO& other) const
{
    if (create != other.create || destroy != other.destroy || monitor != other.monitor || compare != other.compare ||
        objects_deleting != other.objects_deleting || unique_id != other.unique_id) {
        return 0;
    }
    if (compare) {
        return compare(data, other.data) ? 1 : 0;
    }
    return data == other.data ? 1 : 0;
}

WM_PAGE_BASE::WM_PAGE_BASE() : page_id(0), area(-1), page_manager(nullptr) {}

WM_PAGE_BASE::~WM_PAGE_BASE() = default;

namespace {

// The area object a page's helpers act on; null when the page is unbound
// or its area names none.
WM_AREA* page_area(WM_PAGE_MANAGER* manager, long area)
{
    if (!manager) {
        return nullptr;
    }
    if (area == -1) {
        return manager->current_area;
    }
    return area >= 0 && area < manager->area_count ? &manager->areas[area] : nullptr;
}

} // namespace

void WM_PAGE_BASE::add_object(WM_SCREEN_OBJECT* object, unsigned char relative)
{
    if (WM_AREA* a = page_area(page_manager, area)) {
        a->add_object(object, relative);
    }
}

void WM_PAGE_BASE::remove_object(WM_SCREEN_OBJECT* object, unsigned char destroy, unsigned char relative)
{
    if (WM_AREA* a = page_area(page_manager, area)) {
        a->remove_object(object, destroy, relative);
    }
}

short WM_PAGE_BASE::get_width()
{
    WM_AREA* a = page_area(page_manager, area);
    return a ? a->get_width() : 0;
}

short WM_PAGE_BASE::get_height()
{
    WM_AREA* a = page_area(page_manager, area);
    return a ? a->get_height() : 0;
}

WM_MESG WM_PAGE_BASE::handle(WM_SCREEN_OBJECT*, void*, void*)
{
    return WM_MESG_NONE;
}

WM_MESG WM_PAGE_BASE::monitor()
{
    return WM_MESG_NONE;
}

void WM_PAGE_BASE::objects_deleting() {}

INT_U8 WM_PAGE_BASE::operator==(WM_PAGE_BASE& other)
{
    return page_id == other.page_id ? 1 : 0;
}

void WM_PAGE_BASE::setup(long area, WM_PAGE_MANAGER& manager, unsigned char keep_in_history, unsigned char monitor,
                         INT_U32 id)
{
    const long target = area == -1 ? manager.current : area;
    manager.set_next_page(target, create_callback, destroy_callback, this, monitor ? monitor_callback : nullptr,
                          keep_in_history, id, objects_deleting_callback);
    // With no such area nothing was queued, and the current area's queued
    // descriptor may hold something that is not a page.
    if (target >= 0 && target < manager.area_count) {
        manager.current_area->next_page.compare = data_compare_func;
    }
    page_id = id;
    page_manager = &manager;
    this->area = area;
}

void WM_PAGE_BASE::create_callback(WM_PAGE_MANAGER& manager)
{
    if (WM_PAGE_BASE* page = shown_page(&manager)) {
        page->create(manager);
    }
}

void WM_PAGE_BASE::destroy_callback(void*& data)
{
    if (data) {
        delete static_cast<WM_PAGE_BASE*>(data);
    }
    data = nullptr;
}

INT_U8 WM_PAGE_BASE::data_compare_func(void* a, void* b)
{
    if (!a || !b) {
        return a == b ? 1 : 0;
    }
    return *static_cast<WM_PAGE_BASE*>(a) == *static_cast<WM_PAGE_BASE*>(b) ? 1 : 0;
}

WM_MESG WM_PAGE_BASE::handle_callback(WM_SCREEN_OBJECT* object, void* data1, void* data2)
{
    WM_PAGE_BASE* page = shown_page(WM_SCREEN_OBJECT::pm);
    return page ? page->handle(object, data1, data2) : 0;
}

WM_MESG WM_PAGE_BASE::monitor_callback()
{
    WM_PAGE_BASE* page = shown_page(WM_SCREEN_OBJECT::pm);
    return page ? page->monitor() : 0;
}

void WM_PAGE_BASE::objects_deleting_callback()
{
    if (WM_PAGE_BASE* page = shown_page(WM_SCREEN_OBJECT::pm)) {
        page->objects_deleting();
    }
}
