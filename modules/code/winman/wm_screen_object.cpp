// WM_SCREEN_OBJECT: construction and destruction, the object tree, hit
// testing, modal objects, focus, visibility and geometry, and the monitor
// and update passes. Its class-wide state is in wm_context.h.
#include "wm_screen_object.h"

#include "file_system.h"
#include "folder.h"
#include "host_window.h"
#include "image_box.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_names.h"
#include "wm_page_services.h"
#include "wm_s16.h"

#include <vector>

namespace {

WM_SCREEN_OBJECT* object_of(const LISTNODE* node)
{
    return static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(node));
}

bool in_list(const PTRLLIST& list, const WM_SCREEN_OBJECT* object)
{
    for (const LISTNODE* n = list.head; n; n = n->next) {
        if (object_of(n) == object) {
            return true;
        }
    }
    return false;
}

// The modal passes walk a copy and skip what left the list meanwhile: a
// callback may delete a modal object, and with it its modal children.
std::vector<WM_SCREEN_OBJECT*> copy_of(const PTRLLIST& list)
{
    std::vector<WM_SCREEN_OBJECT*> out;
    out.reserve(static_cast<std::size_t>(list.count));
    for (const LISTNODE* n = list.head; n; n = n->next) {
        out.push_back(object_of(n));
    }
    return out;
}

// Walks the children in list order; the next node is taken before the
// call, as the list's own iterator would.
template <class F> void for_each_child(PTRLLIST& list, F f)
{
    for (LISTNODE* n = list.head; n;) {
        LISTNODE* next = n->next;
        if (WM_SCREEN_OBJECT* child = object_of(n)) {
            f(child);
        }
        n = next;
    }
}

template <class F> void for_each_child_backwards(PTRLLIST& list, F f)
{
    for (LISTNODE* n = list.tail; n;) {
        LISTNODE* prev = n->prev;
        if (WM_SCREEN_OBJECT* child = object_of(n)) {
            f(child);
        }
        n = prev;
    }
}

bool is_active_modal(WM_SCREEN_OBJECT* m)
{
    return m && m->visible && m->holds_input();
}

WM_SCREEN_OBJECT* topmost_active_modal(WM_OBJECT_TYPE mask)
{
    for (const LISTNODE* n = WM_SCREEN_OBJECT::modal_screen_objects.tail; n; n = n->prev) {
        WM_SCREEN_OBJECT* m = object_of(n);
        if (is_active_modal(m) && (m->type & mask) == mask) {
            return m;
        }
    }
    return nullptr;
}

// Whether a pass skips the child because it lies outside the page
// manager's current area (touching edges count as inside).
bool outside_current_area(WM_SCREEN_OBJECT* child, INT_U8 clip)
{
    if (!clip || child->area < 0) {
        return false;
    }
    WM_PAGE_SERVICES* services = WM_SCREEN_OBJECT::page_services();
    WM_SCREEN_OBJECT* a = services ? services->get_current_area() : nullptr;
    if (!a) {
        return false;
    }
    const int ax = a->get_x(), ay = a->get_y(), aw = a->get_width(), ah = a->get_height();
    const int cx = child->get_x(), cy = child->get_y();
    return !(cx <= ax + aw && cy <= ay + ah && cx + child->get_width() >= ax && cy + child->get_height() >= ay);
}

// Set only between the start and the end of the outermost update call.
INT_U8 update_timing = 1;

} // namespace

WM_SCREEN_OBJECT::WM_SCREEN_OBJECT(INT_U8 is_visible, WM_OBJECT_CALLBACK cb, void* data1, void* data2)
    : x(0), y(0), width(0), height(0), activated(0), visible(is_visible), dirty(is_visible), drawn(0), no_delete(0),
      shading_colour(COLOUR_INVISIBLE), area(-1), type(0), shading_type(1), callback(cb), right_click_callback(nullptr),
      right_click_mode(2), callback_data1(data1), callback_data2(data2), right_click_data1(nullptr),
      right_click_data2(nullptr), return_key_down(0), definition(nullptr), focus_callback(nullptr), focus_data(nullptr),
      can_focus(0), parent(nullptr)
{
    if (!surface) {
        surface = get_back_buffer(0);
    }
}

WM_SCREEN_OBJECT::~WM_SCREEN_OBJECT()
{
    if (right_mouse_object == this) {
        right_mouse_object = nullptr;
    }
    if (focal_object == this) {
        focal_object = nullptr;
        if (focus_callback) {
            focus_callback(this, focus_data);
        }
    }
    if (deletion_callback) {
        deletion_callback(this, deletion_data);
    }
    // No list may keep a pointer to a deleted object.
    if (parent) {
        parent->unlink_object(this);
    }
    while (modal_screen_objects.remove_node(this)) {
    }
    clear_objects(0, 0, 1);
}

void WM_SCREEN_OBJECT::link_object(WM_SCREEN_OBJECT* object)
{
    // A null iterator makes the insertion an append.
    objects.iterator = nullptr;
    if (objects.add_node(object)) {
        object->parent = this;
    }
}

bool WM_SCREEN_OBJECT::unlink_object(WM_SCREEN_OBJECT* object)
{
    for (LISTNODE* n = objects.head; n; n = n->next) {
        if (object_of(n) == object) {
            objects.remove_node_ref(n);
            object->parent = nullptr;
            return true;
        }
    }
    return false;
}

// ---- tree ---------------------------------------------------------------

void WM_SCREEN_OBJECT::add_object(WM_SCREEN_OBJECT* object, INT_U8 relative)
{
    if (!object) {
        return;
    }
    if (relative) {
        object->move(to_s16(object->x + x), to_s16(object->y + y));
    }
    object->set_area(area);
    link_object(object);
    if (object->visible && drawn) {
        object->mark_redraw_area();
    }
}

void WM_SCREEN_OBJECT::remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative)
{
    if (!object || !unlink_object(object)) {
        return;
    }
    object->hide(0, 0);
    if (destroy && !object->no_delete) {
        delete object;
        return;
    }
    object->set_area(area < -1 ? to_s16(-area - 2) : 0);
    if (relative) {
        object->move(to_s16(object->x - x), to_s16(object->y - y));
    }
}

void WM_SCREEN_OBJECT::clear_objects(INT_U8 modals, INT_U8, INT_U8 children)
{
    // Each object leaves its list before it is hidden or deleted, so a
    // destructor that unlinks itself finds nothing, and one that deletes
    // further modal objects leaves the walk a consistent list.
    if (modals) {
        while (LISTNODE* n = modal_screen_objects.tail) {
            WM_SCREEN_OBJECT* m = object_of(n);
            modal_screen_objects.remove_node_ref(n);
            if (!m) {
                continue;
            }
            if (m->no_delete) {
                m->hide(0, 0);
            } else {
                delete m;
            }
        }
    }
    if (children) {
        while (LISTNODE* n = objects.tail) {
            WM_SCREEN_OBJECT* child = object_of(n);
            objects.remove_node_ref(n);
            if (!child) {
                continue;
            }
            child->parent = nullptr;
            if (!modals) {
                modal_screen_objects.remove_node(child);
            }
            if (child->no_delete) {
                child->hide(0, 0);
            } else {
                delete child;
            }
        }
    }
    if (visible) {
        mark_redraw_area();
    }
}

WM_SCREEN_OBJECT* WM_SCREEN_OBJECT::get_screen_object(INT_S16 n)
{
    if (n < 0) {
        return nullptr;
    }
    for (const LISTNODE* node = objects.head; node; node = node->next) {
        if (n-- == 0) {
            return object_of(node);
        }
    }
    return nullptr;
}

void WM_SCREEN_OBJECT::set_area(INT_S16 new_area)
{
    area = new_area;
    for_each_child(objects, [new_area](WM_SCREEN_OBJECT* child) { child->set_area(new_area); });
}

// ---- hit testing ----------------------------------------------------------

INT_U8 WM_SCREEN_OBJECT::is_in_me(INT_S16 px, INT_S16 py)
{
    if (!visible) {
        return 0;
    }
    const int left = get_x(), top = get_y();
    return left <= px && px < left + get_width() && top <= py && py < top + get_height();
}

INT_U8 WM_SCREEN_OBJECT::is_in_child(INT_S16 px, INT_S16 py)
{
    for (const LISTNODE* n = objects.head; n; n = n->next) {
        WM_SCREEN_OBJECT* child = object_of(n);
        if (child && child->visible && child->is_in_it(px, py)) {
            return 1;
        }
    }
    return 0;
}

INT_U8 WM_SCREEN_OBJECT::is_in_it(INT_S16 px, INT_S16 py)
{
    if (!visible) {
        return 0;
    }
    return is_in_me(px, py) || is_in_child(px, py);
}

INT_U8 WM_SCREEN_OBJECT::is_in_it_masked(INT_S16 px, INT_S16 py, IMAGE_BOX* mask)
{
    if (!visible) {
        return 0;
    }
    if (is_in_child(px, py)) {
        return 1;
    }
    if (!is_in_me(px, py)) {
        return 0;
    }
    if (mask) {
        return mask->is_in_it(static_cast<short>(px - x), static_cast<short>(py - y), width, height) ? 1 : 0;
    }
    return 1;
}

INT_U8 WM_SCREEN_OBJECT::set_images(FOLDER& folder, const char* name, WM_STYLE_SET* style)
{
    char path[FS_PATH_MAX];
    if (!folder.get(path, nullptr)) {
        return load_skins_without_path(name, style);
    }
    return load_skins(path, name, style);
}

INT_U8 WM_SCREEN_OBJECT::load_skins(const char*, const char*, WM_STYLE_SET*)
{
    return 0;
}

INT_U8 WM_SCREEN_OBJECT::load_skins_without_path(const char* name, WM_STYLE_SET* style)
{
    return load_skins("", name, style);
}

WM_SCREEN_OBJECT* WM_SCREEN_OBJECT::find_object_at_pos(INT_S16 px, INT_S16 py)
{
    if (!visible || !is_in_it(px, py)) {
        return nullptr;
    }
    // The last answer wins: the child drawn last is on top.
    WM_SCREEN_OBJECT* found = nullptr;
    for (const LISTNODE* n = objects.head; n; n = n->next) {
        WM_SCREEN_OBJECT* child = object_of(n);
        if (child && child->visible) {
            if (WM_SCREEN_OBJECT* hit = child->find_object_at_pos(px, py)) {
                found = hit;
            }
        }
    }
    return found ? found : this;
}

// ---- modal objects ----------------------------------------------------------

void WM_SCREEN_OBJECT::add_modal_object(WM_SCREEN_OBJECT* object, INT_U8 relative)
{
    if (!object) {
        return;
    }
    if (relative) {
        object->move(to_s16(object->x + x), to_s16(object->y + y));
    }
    object->set_area(area < 0 ? area : to_s16(-2 - area));
    modal_screen_objects.iterator = nullptr;
    modal_screen_objects.add_node(object);
    if (object->visible && drawn) {
        object->mark_redraw_area();
    }
}

void WM_SCREEN_OBJECT::remove_modal_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative)
{
    if (!object || !modal_screen_objects.remove_node(object)) {
        return;
    }
    // The object that runs the pass is redrawn, not only the removed one.
    mark_redraw_area();
    if (destroy && !object->no_delete) {
        delete object;
        return;
    }
    object->set_area(area < -1 ? to_s16(-area - 2) : 0);
    if (relative) {
        object->move(to_s16(object->x - x), to_s16(object->y - y));
    }
}

INT_U8 WM_SCREEN_OBJECT::is_modal_object()
{
    return in_list(modal_screen_objects, this);
}

INT_S16 WM_SCREEN_OBJECT::get_active_modal_object_count()
{
    INT_S16 count = 0;
    for (const LISTNODE* n = modal_screen_objects.head; n; n = n->next) {
        if (is_active_modal(object_of(n))) {
            ++count;
        }
    }
    return count;
}

long WM_SCREEN_OBJECT::get_active_modal_object_area()
{
    WM_SCREEN_OBJECT* m = topmost_active_modal(0);
    return m ? m->area : -1;
}

WM_SCREEN_OBJECT* WM_SCREEN_OBJECT::get_active_modal_object(WM_OBJECT_TYPE mask)
{
    return topmost_active_modal(mask);
}

// ---- focus ---------------------------------------------------------------------

INT_U8 WM_SCREEN_OBJECT::can_have_focus()
{
    return can_focus;
}

void WM_SCREEN_OBJECT::take_focus()
{
    if (!can_have_focus() || focal_object == this || !visible) {
        return;
    }
    WM_SCREEN_OBJECT* previous = focal_object;
    focal_object = this;
    if (previous) {
        previous->redraw_if_visible();
        if (previous->focus_callback) {
            previous->focus_callback(previous, previous->focus_data);
        }
    }
    // Read again: the callback may have moved the focus.
    if (WM_SCREEN_OBJECT* now = focal_object) {
        now->redraw_if_visible();
        if (now->focus_callback) {
            now->focus_callback(now, now->focus_data);
        }
    }
    focal_object_monitored = 1;
}

// ---- visibility, state and geometry ---------------------------------------------

void WM_SCREEN_OBJECT::hide(INT_U8 modals, INT_U8 children)
{
    dirty = 0;
    drawn = 0;
    if (!visible) {
        return;
    }
    if (modals) {
        for_each_child_backwards(modal_screen_objects, [](WM_SCREEN_OBJECT* m) { m->hide(0, 0); });
    }
    if (children) {
        for_each_child_backwards(objects, [](WM_SCREEN_OBJECT* child) { child->hide(0, 0); });
    }
    visible = 0;
    mark_redraw_area();
}

void WM_SCREEN_OBJECT::set_activated(INT_U8 a)
{
    redraw_if_visible();
    activated = a;
}

void WM_SCREEN_OBJECT::move(INT_S16 nx, INT_S16 ny)
{
    if (nx == x && ny == y) {
        return;
    }
    const int dx = nx - x, dy = ny - y;
    for_each_child(objects,
                   [dx, dy](WM_SCREEN_OBJECT* child) { child->move(to_s16(child->x + dx), to_s16(child->y + dy)); });
    if (visible) {
        mark_redraw_area();
    }
    x = nx;
    y = ny;
    if (visible) {
        mark_redraw_area();
    }
}

void WM_SCREEN_OBJECT::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    if (visible) {
        mark_redraw_area();
    }
    if (children) {
        const int dw = nw - width, dh = nh - height;
        for_each_child(objects, [dw, dh, children](WM_SCREEN_OBJECT* child) {
            child->resize(to_s16(child->width + dw), to_s16(child->height + dh), children);
        });
    }
    width = nw;
    height = nh;
    if (visible) {
        mark_redraw_area();
    }
}

INT_S16 WM_SCREEN_OBJECT::get_x()
{
    return x;
}

INT_S16 WM_SCREEN_OBJECT::get_y()
{
    return y;
}

INT_S16 WM_SCREEN_OBJECT::get_width()
{
    return width;
}

INT_S16 WM_SCREEN_OBJECT::get_height()
{
    return height;
}

void WM_SCREEN_OBJECT::draw_object() {}

// ---- the passes -----------------------------------------------------------------

WM_MESG WM_SCREEN_OBJECT::monitor()
{
    if (focal_object == this) {
        focal_object_monitored = 1;
    }
    // The topmost active modal object is served alone.
    if (monitor_modals && modal_screen_objects.count) {
        if (WM_SCREEN_OBJECT* m = topmost_active_modal(0)) {
            monitor_modals = 0;
            if (m->area >= 0) {
                m->set_area(to_s16(-2 - area));
            }
            const WM_MESG r = m->monitor();
            monitor_modals = 1;
            if (r == WM_MESG_CLOSE_MODAL) {
                remove_modal_object(m, 1, 0);
                return WM_MESG_NONE;
            }
            return r;
        }
    }
    if (!visible) {
        return WM_MESG_NONE;
    }
    WM_MESG r = 0;
    for (LISTNODE* n = objects.head; n && !r;) {
        LISTNODE* next = n->next;
        WM_SCREEN_OBJECT* child = object_of(n);
        if (child && !outside_current_area(child, clip_monitor_to_area)) {
            r = child->monitor();
        }
        n = next;
    }
    if (r || !right_click_callback) {
        return r;
    }

    // Right button, or Command/Control+Return on the focal object, which
    // clicks at the object's centre.
    INT_U8 pressed = (MOUSE::buttons >> 1) & 1;
    INT_S16 px = MOUSE::x, py = MOUSE::y;
    const INT_U8 k = KEYBOARD::get_key_value(return_key);
    if (focal_object == this && (k || return_key_down) &&
        (KEYBOARD::get_key_value(KEY_COMMAND) || KEYBOARD::get_key_value(KEY_CONTROL))) {
        px = to_s16(x + width / 2);
        py = to_s16(y + height / 2);
        pressed = k;
    }
    return_key_down = k;
    if (pressed) {
        if (right_mouse_object || !is_in_it(px, py)) {
            return WM_MESG_NONE;
        }
        right_mouse_object = this;
        take_focus();
        return right_click_mode == 0 || right_click_mode == 2
                   ? right_click_callback(this, right_click_data1, right_click_data2)
                   : 0;
    }
    if (right_mouse_object != this) {
        return WM_MESG_NONE;
    }
    right_mouse_object = nullptr;
    if (!is_in_it(px, py)) {
        return WM_MESG_NONE;
    }
    return right_click_mode == 1 || right_click_mode == 2
               ? right_click_callback(this, right_click_data1, right_click_data2)
               : 0;
}

WM_MESG WM_SCREEN_OBJECT::update(INT_U8 modal)
{
    const INT_U8 outermost = update_timing;
    if (outermost) {
        static const INT_U32 periods[8] = {50, 125, 250, 500, 1000, 2000, 4000, 8000};
        update_timing = 0;
        now_ms = get_ms_count();
        flashing_flags = 0;
        for (int k = 0; k < 8; ++k) {
            flashing_flags |= static_cast<INT_U8>((now_ms / periods[k]) % 2 << k);
        }
    }
    WM_MESG r = 0;
    if (modal) {
        for (WM_SCREEN_OBJECT* m : copy_of(modal_screen_objects)) {
            if (!m || !in_list(modal_screen_objects, m)) {
                continue;
            }
            r = m->update(0);
            if (r == WM_MESG_CLOSE_MODAL) {
                remove_modal_object(m, 1, 0);
                r = 0;
            }
            if (r) {
                break;
            }
        }
    } else if (visible) {
        for (LISTNODE* n = objects.head; n && !r;) {
            LISTNODE* next = n->next;
            WM_SCREEN_OBJECT* child = object_of(n);
            if (child && !outside_current_area(child, clip_update_to_area)) {
                r = child->update(0);
            }
            n = next;
        }
    }
    update_timing = outermost;
    return r;
}
