// The update-region list of WM_SCREEN_OBJECT: marking rectangles for
// redraw, merging them into at most 128 regions, and the redraw passes
// over the trees and the modal objects.
#include "wm_screen_object.h"

#include "host_window.h"
#include "wm_clip.h"
#include "wm_page_services.h"

#include <algorithm>
#include <vector>

namespace {

// Set while the outermost check_for_redraw of a region holds the clip.
INT_U8 clipping_set = 0;

int window_width_at(int x, int y)
{
    return get_window_width(get_window_id_from_pos(static_cast<INT_S16>(x), static_cast<INT_S16>(y)));
}

int window_height_at(int x, int y)
{
    return get_window_height(get_window_id_from_pos(static_cast<INT_S16>(x), static_cast<INT_S16>(y)));
}

WM_UPDATE_REGION region_of(int x1, int y1, int x2, int y2)
{
    return {static_cast<INT_S16>(y1), static_cast<INT_S16>(x1), static_cast<INT_S16>(x2), static_cast<INT_S16>(y2)};
}

// Method 0, and what a full list falls back to: region 0 grows to cover
// the rectangle (a side of -1 is unset and simply taken).
void widen_first_region(int x1, int y1, int x2, int y2)
{
    WM_UPDATE_REGION* regions = WM_SCREEN_OBJECT::update_regions;
    if (WM_SCREEN_OBJECT::update_regions_sz == 0) {
        WM_SCREEN_OBJECT::update_regions_sz = 1;
        regions[0] = region_of(-1, -1, -1, -1);
    }
    WM_UPDATE_REGION& r = regions[0];
    if (x1 < r.left || r.left == -1) {
        r.left = static_cast<INT_S16>(x1);
    }
    if (x2 > r.right || r.right == -1) {
        r.right = static_cast<INT_S16>(x2);
    }
    if (y1 < r.top || r.top == -1) {
        r.top = static_cast<INT_S16>(y1);
    }
    if (y2 > r.bottom || r.bottom == -1) {
        r.bottom = static_cast<INT_S16>(y2);
    }
}

std::vector<WM_SCREEN_OBJECT*> modal_objects()
{
    std::vector<WM_SCREEN_OBJECT*> out;
    for (const LISTNODE* n = WM_SCREEN_OBJECT::modal_screen_objects.head; n; n = n->next) {
        out.push_back(static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(n)));
    }
    return out;
}

bool is_modal(const WM_SCREEN_OBJECT* object)
{
    for (const LISTNODE* n = WM_SCREEN_OBJECT::modal_screen_objects.head; n; n = n->next) {
        if (PTRLLIST::stored_pointer(n) == object) {
            return true;
        }
    }
    return false;
}

} // namespace

// ---- marking ----------------------------------------------------------------

void WM_SCREEN_OBJECT::request_draw()
{
    visible = 1;
    dirty = 1;
    mark_redraw_area();
}

void WM_SCREEN_OBJECT::redraw_if_visible()
{
    if (visible) {
        request_draw();
    }
}

void WM_SCREEN_OBJECT::mark_redraw_area()
{
    const int w = window_width_at(x, y), h = window_height_at(x, y);
    const int gw = get_width(), gh = get_height();
    const int x1 = std::max<int>(x, 0), y1 = std::max<int>(y, 0);
    const int x2 = x + gw <= w ? x + gw - 1 : w - 1;
    const int y2 = y + gh <= h ? y + gh - 1 : h - 1;
    if (x2 < x1 || y2 < y1) {
        return;
    }
    add_update_region(static_cast<INT_S16>(x1), static_cast<INT_S16>(y1), static_cast<INT_S16>(x2),
                      static_cast<INT_S16>(y2));
}

void WM_SCREEN_OBJECT::mark_redraw_subarea(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2)
{
    if (x2 < x1 || y2 < y1) {
        return;
    }
    const int w = window_width_at(x, y), h = window_height_at(x, y);
    const int cx1 = std::max<int>(x1, 0), cy1 = std::max<int>(y1, 0);
    const int cx2 = x2 >= w ? w - 1 : x2, cy2 = y2 >= h ? h - 1 : y2;
    // Clamping can empty it: a rectangle wholly right of or below the
    // window would otherwise be stored inside out.
    if (cx2 < cx1 || cy2 < cy1) {
        return;
    }
    add_update_region(static_cast<INT_S16>(cx1), static_cast<INT_S16>(cy1), static_cast<INT_S16>(cx2),
                      static_cast<INT_S16>(cy2));
}

void WM_SCREEN_OBJECT::mark_entire_redraw_area()
{
    const int w = window_width_at(x, y), h = window_height_at(x, y);
    add_update_region(0, 0, static_cast<INT_S16>(w - 1), static_cast<INT_S16>(h - 1));
}

void WM_SCREEN_OBJECT::add_update_region(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2)
{
    if (update_regions_index != -1) {
        return;
    }
    if (update_region_method == 4) {
        const int w = window_width_at(x1, y1), h = window_height_at(x1, y1);
        update_regions[0] = region_of(0, 0, w - 1, h - 1);
        if (update_regions_sz == 0) {
            update_regions_sz = 1;
        }
        return;
    }
    if (update_region_method == 0) {
        widen_first_region(x1, y1, x2, y2);
        return;
    }
    if (update_region_method > 3) {
        return;
    }
    const int join = update_region_joining_value;
    int l = x1, t = y1, r = x2, b = y2;
    for (;;) {
        for (int i = 0; i < update_regions_sz; ++i) {
            const WM_UPDATE_REGION& u = update_regions[i];
            if (u.left <= l && u.right >= r && u.top <= t && u.bottom >= b) {
                return;
            }
        }
        if (update_region_method == 1) {
            break;
        }
        int joined = -1;
        for (int i = 0; i < update_regions_sz && joined < 0; ++i) {
            const WM_UPDATE_REGION& u = update_regions[i];
            const bool sides[4] = {l<u.right + join, r> u.left - join, t<u.bottom + join, b> u.top - join};
            const bool joins = update_region_method == 3 ? sides[0] && sides[1] && sides[2] && sides[3]
                                                         : sides[0] || sides[1] || sides[2] || sides[3];
            if (joins) {
                joined = i;
            }
        }
        if (joined < 0) {
            break;
        }
        // The union is added again from the start: it may now be contained
        // in, or join, further regions.
        const WM_UPDATE_REGION u = update_regions[joined];
        l = std::min<int>(l, u.left);
        t = std::min<int>(t, u.top);
        r = std::max<int>(r, u.right);
        b = std::max<int>(b, u.bottom);
        update_regions[joined] = update_regions[update_regions_sz - 1];
        --update_regions_sz;
    }
    if (update_regions_sz == max_update_regions) {
        widen_first_region(l, t, r, b);
    } else {
        update_regions[update_regions_sz++] = region_of(l, t, r, b);
    }
}

// ---- queries -------------------------------------------------------------------

namespace {

bool region_set(const WM_UPDATE_REGION& r)
{
    return r.top != -1 && r.left != -1 && r.right != -1 && r.bottom != -1;
}

bool meets(const WM_SCREEN_OBJECT& o, const WM_UPDATE_REGION& r)
{
    return o.x <= r.right && o.x + o.width - 1 >= r.left && o.y <= r.bottom && o.y + o.height - 1 >= r.top;
}

} // namespace

INT_U8 WM_SCREEN_OBJECT::is_update_region_valid()
{
    if (update_regions_index < 0 || update_regions_index >= max_update_regions) {
        return 0;
    }
    return region_set(update_regions[update_regions_index]);
}

INT_U8 WM_SCREEN_OBJECT::is_in_redraw_area()
{
    return is_update_region_valid() && meets(*this, update_regions[update_regions_index]);
}

INT_U8 WM_SCREEN_OBJECT::is_in_update_regions()
{
    if (update_regions_index != -1) {
        return is_in_redraw_area();
    }
    for (int i = 0; i < update_regions_sz && i < max_update_regions; ++i) {
        if (region_set(update_regions[i]) && meets(*this, update_regions[i])) {
            return 1;
        }
    }
    return 0;
}

// ---- redraw passes ----------------------------------------------------------------

void WM_SCREEN_OBJECT::prepare_tree_for_draw()
{
    if (visible) {
        // The object first: its layout may add or take out children.
        prepare_draw();
        for (LISTNODE* n = objects.head; n;) {
            LISTNODE* next = n->next;
            auto* child = static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(n));
            if (child && !is_modal(child)) {
                child->prepare_tree_for_draw();
            }
            n = next;
        }
    }
}

void WM_SCREEN_OBJECT::prepare_modals_for_draw()
{
    // A layout may close a modal object: each is checked against the list
    // before it is prepared.
    for (WM_SCREEN_OBJECT* m : modal_objects()) {
        if (m && is_modal(m)) {
            m->prepare_tree_for_draw();
        }
    }
}

void WM_SCREEN_OBJECT::check_for_redraw()
{
    if (!is_update_region_valid() || !visible) {
        return;
    }
    // The outermost call of a region narrows the clip once for the subtree.
    const bool outermost = !clipping_set;
    WM_CLIP_SAVER clip(outermost ? surface : nullptr);
    if (outermost) {
        const WM_UPDATE_REGION& r = update_regions[update_regions_index];
        if (surface) {
            surface->add_rect_to_active_area(r.left, r.top, r.right, r.bottom);
        }
        clipping_set = 1;
    }
    if (is_in_redraw_area()) {
        draw_object();
        drawn = 1;
        dirty = 0;
    }
    if (dirty) {
        drawn = 1;
        dirty = 0;
    }
    // Modal children are drawn by the modal pass, on top.
    for (LISTNODE* n = objects.head; n;) {
        LISTNODE* next = n->next;
        auto* child = static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(n));
        if (child && !is_modal(child)) {
            child->check_for_redraw();
        }
        n = next;
    }
    if (outermost) {
        clipping_set = 0;
    }
}

void WM_SCREEN_OBJECT::check_modal_redraw()
{
    if (!is_update_region_valid()) {
        return;
    }
    for (WM_SCREEN_OBJECT* m : modal_objects()) {
        if (!m || !is_modal(m)) {
            continue;
        }
        if (m->area >= 0) {
            m->set_area(static_cast<INT_S16>(-2 - area));
        }
        m->check_for_redraw();
    }
}

void WM_SCREEN_OBJECT::force_screen_redraw(INT_S16 window)
{
    WM_PAGE_SERVICES* services = page_services();
    if (!services || !surface || window < 0 || window >= WM_PAGE_SERVICES::max_windows) {
        return;
    }
    const int w = get_window_width(window), h = get_window_height(window);
    if (w < 1 || h < 1) {
        return;
    }
    const WM_UPDATE_REGION saved_region = update_regions[0];
    const INT_S16 saved_index = update_regions_index;
    update_regions_index = 0;
    update_regions[0] = region_of(0, 0, w - 1, h - 1);
    services->redraw_region_from(window);
    update_regions[0] = saved_region;
    update_regions_index = saved_index;
}

void WM_SCREEN_OBJECT::force_draw_object(WM_SCREEN_OBJECT* object)
{
    WM_PAGE_SERVICES* services = page_services();
    if (!services || !object || !surface) {
        return;
    }
    const WM_UPDATE_REGION saved_region = update_regions[0];
    const INT_S16 saved_index = update_regions_index;
    update_regions_index = 0;
    update_regions[0] = region_of(object->x, object->y, object->x + object->width - 1, object->y + object->height - 1);
    services->redraw_region_from(get_window_id_from_pos(object->x, object->y));
    if (object->area == -1) {
        object->prepare_tree_for_draw();
        WM_CLIP_SAVER clip(surface);
        const WM_UPDATE_REGION& r = update_regions[0];
        surface->set_active_area(r.left, r.top, r.right, r.bottom);
        object->check_for_redraw();
    }
    update_regions[0] = saved_region;
    update_regions_index = saved_index;
}
