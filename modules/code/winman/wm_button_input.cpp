// WM_BUTTON's input pass: what the pointer, the Return key and the hotkey
// do to a button each frame, with the idle auto-press, dragging, the hint,
// the looks that follow the pointer and the pointer shapes it asks for.
#include "wm_button.h"

#include "host_main.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "random_session.h"
#include "wm_names.h"
#include "wm_page_services.h"
#include "wm_s16.h"
#include "wm_script.h"

namespace {

constexpr INT_U32 NO_HOTKEY = 0xFFFFFFFFu;

// Event numbers, also the trigger_flags bits that let them through.
constexpr INT_U8 EVENT_PRESS = 1, EVENT_RELEASE = 2, EVENT_REPEAT = 4, EVENT_RELEASE_OUTSIDE = 8;

// Drag codes, also the drag_codes bits that report them.
constexpr INT_U32 DRAG_FIRST_MOVE = 1, DRAG_DROP_AT_START = 2, DRAG_DROP_ON_OTHER = 4, DRAG_DROP_ON_SELF = 8;

bool cursor_available(INT_S8 id)
{
    return MOUSE::set_mouse_cursor(id, 1) != 0;
}

// What the page manager has under the point; nothing without one.
WM_SCREEN_OBJECT* object_under(INT_S16 px, INT_S16 py)
{
    WM_PAGE_SERVICES* services = WM_SCREEN_OBJECT::page_services();
    return services ? services->find_object_at_pos(px, py) : nullptr;
}

} // namespace

WM_MESG WM_BUTTON::monitor()
{
    const INT_S16 px = MOUSE::x, py = MOUSE::y;
    bool left = (MOUSE::buttons & 1) != 0;
    bool right = (MOUSE::buttons & 2) != 0;
    bool inside = is_in_it(px, py) != 0;
    bool type2 = button_type == 2;
    read_keys(inside, left, right, type2);

    WM_MESG result = 0;
    if (run_auto_press(result)) {
        return result;
    }
    if (type2) {
        // The pointer stands for the left button; a real press inside is
        // not one more press.
        if (inside && left) {
            return WM_MESG_NONE;
        }
        left = inside;
    }
    result = WM_SCREEN_OBJECT::monitor();
    if (result || !visible) {
        return result;
    }
    if (drag_callback && run_drag(px, py, inside, left, right, result)) {
        return result;
    }
    if (hint) {
        run_hint(px, py, left);
    }
    ask_activated();
    if (!enabled) {
        return WM_MESG_NONE;
    }
    const INT_U8 event = track_press(inside, left, type2);
    result = event ? fire_event(event, left) : 0;
    request_cursor(inside, left, right);
    last_left = left ? 1 : 0;
    last_right = right ? 1 : 0;
    return result;
}

void WM_BUTTON::read_keys(bool& inside, bool& left, bool& right, bool& type2)
{
    const bool ret = KEYBOARD::get_key_value(return_key) != 0;
    const bool hot = hotkey != NO_HOTKEY && KEYBOARD::get_key_value(hotkey) != 0;
    // The key going down is a press on the button, coming up a release on it.
    auto click = [&](bool down) {
        inside = true;
        left = down;
        right = false;
        type2 = false;
    };
    if ((focal_object == this || selected) && (ret || return_down)) {
        click(ret);
    } else if (hot || hotkey_down) {
        click(hot);
    }
    return_down = ret ? 1 : 0;
    hotkey_down = hot ? 1 : 0;
}

bool WM_BUTTON::run_auto_press(WM_MESG& result)
{
    const INT_U32 now = now_ms;
    if (auto_pressing_button) {
        if (now - auto_pressing_ltv <= auto_pressing_button_down_delay) {
            return false;
        }
        WM_PAGE_SERVICES* services = page_services();
        if (!services || !services->is_click_injected()) {
            // Someone else took the injection back: nothing is left to release.
            auto_pressing_button = nullptr;
            return false;
        }
        if (MOUSE::buttons & 1) {
            // Held for the down delay: release where it was pressed.
            auto_pressing_ltv = now;
            services->inject_click(auto_pressing_button->centre_x(), auto_pressing_button->centre_y(), 0);
        } else {
            auto_pressing_ltv = 0;
            services->cancel_injected_click();
            auto_pressing_button = nullptr;
        }
        result = WM_MESG_TAKEN;
        return true;
    }
    if (!auto_pressing_delay) {
        return false;
    }
    // Any input within this second restarts the idle time.
    if (!auto_pressing_ltv || get_wall_seconds() == get_last_input_event()) {
        auto_pressing_ltv = now;
        return false;
    }
    // A hidden button is never chosen: the click at its centre would land
    // on whatever is drawn there instead.
    WM_PAGE_SERVICES* services = page_services();
    if (!services || !visible || !enabled || !auto_press_odds || now - auto_pressing_ltv <= auto_pressing_delay ||
        get_random_number(auto_press_odds) != 0) {
        return false;
    }
    auto_pressing_ltv = now;
    auto_pressing_button = this;
    services->inject_click(centre_x(), centre_y(), 1);
    result = WM_MESG_TAKEN;
    return true;
}

bool WM_BUTTON::run_drag(INT_S16 px, INT_S16 py, bool inside, bool left, bool right, WM_MESG& result)
{
    const bool dragging = drag_x != -1 && drag_y != -1;
    const bool right_held = right_drag && right;
    if (inside && ((left && !last_left) || (right_held && !last_right))) {
        drag_x = px;
        drag_y = py;
        drag_started = 0;
        drag_offset_x = to_s16(x - px);
        drag_offset_y = to_s16(y - py);
        redraw_if_visible();
        return false;
    }
    if (!dragging) {
        return false;
    }
    WM_MESG r = 0;
    if (left || right_held) {
        if (px == drag_x && py == drag_y) {
            return false;
        }
        const int old_x = drag_x + drag_offset_x, old_y = drag_y + drag_offset_y;
        mark_redraw_subarea(to_s16(old_x), to_s16(old_y), to_s16(old_x + width - 1), to_s16(old_y + height - 1));
        drag_x = px;
        drag_y = py;
        if (!drag_started) {
            // Modal while dragged: drawn above everything and served first.
            add_modal_object(this, 0);
            if (drag_codes & DRAG_FIRST_MOVE) {
                r = drag_callback(this, object_under(px, py), px, py, DRAG_FIRST_MOVE, drag_data1, drag_data2);
            }
            drag_started = 1;
        }
        redraw_if_visible();
    } else {
        redraw_if_visible();
        remove_modal_object(this, 0, 0);
        WM_SCREEN_OBJECT* target = object_under(px, py);
        INT_U32 code = DRAG_DROP_AT_START;
        if (px != x - drag_offset_x || py != y - drag_offset_y) {
            code = target == this ? DRAG_DROP_ON_SELF : DRAG_DROP_ON_OTHER;
            // Dropped elsewhere: the release is the drop, not a click.
            armed = 0;
        }
        // Over before the callback runs: it may delete the button.
        drag_x = drag_y = -1;
        drag_started = 0;
        if (drag_codes & code) {
            r = drag_callback(this, target, px, py, code, drag_data1, drag_data2);
        }
    }
    result = r;
    return r != 0;
}

void WM_BUTTON::run_hint(INT_S16 px, INT_S16 py, bool left)
{
    if (enabled && hint_when_down) {
        if (down && !hint_shown()) {
            hint_saved_focus = focal_object;
            open_hint(to_s16(x + (width - hint->width) / 2), to_s16(y - hint->height));
        } else if (!down && hint_shown()) {
            close_hint();
            // Give the focus back only while nothing else moved it: the
            // press moved it here. Anything else may be gone by now.
            if (focal_object == this && hint_saved_focus != this) {
                focal_object = hint_saved_focus;
                redraw_if_visible();
                if (focal_object && focal_object->visible) {
                    focal_object->request_draw();
                }
            }
            hint_saved_focus = nullptr;
            hint_x = hint_y = -1;
        }
        return;
    }
    if (enabled && is_in_it(px, py)) {
        const INT_U32 t = static_cast<INT_U32>(get_wall_seconds());
        const bool rested = t - hint_time > 1;
        if (hint_x == -1 || left) {
            if (hint_shown()) {
                close_hint();
            }
            hint_time = t;
            hint_x = px;
            hint_y = py;
        } else if ((hint_shown() || !rested) && (px != hint_x || py != hint_y)) {
            hint_x = px;
            hint_y = py;
            place_hint(px, to_s16(py - hint->height));
        } else if (rested && !hint_shown()) {
            open_hint(hint_x, to_s16(hint_y - hint->height));
        }
        return;
    }
    if (hint_shown()) {
        close_hint();
        // A hint was up: the button now under the pointer opens its own on
        // its next pass, above the pointer.
        WM_SCREEN_OBJECT* under = object_under(px, py);
        if (under && under != this && (under->type & WM_TYPE_BUTTON)) {
            if (WM_BUTTON* next = dynamic_cast<WM_BUTTON*>(under)) {
                next->hint_time = hint_time;
                next->hint_x = px;
                next->hint_y = py;
            }
        }
    }
    hint_x = hint_y = -1;
}

void WM_BUTTON::open_hint(INT_S16 hx, INT_S16 hy)
{
    place_hint(hx, hy);
    if (!hint_shown()) {
        add_modal_object(hint, 0);
        hint->request_draw();
    }
}

void WM_BUTTON::place_hint(INT_S16 hx, INT_S16 hy)
{
    int left = hx, top = hy;
    if (surface) {
        if (left + hint->width > surface->width) {
            left = surface->width - hint->width;
        }
        if (top + hint->height > surface->height) {
            top = surface->height - hint->height;
        }
    }
    hint->move(to_s16(left < 0 ? 0 : left), to_s16(top < 0 ? 0 : top));
}

// The press fields, one pass. I: over the button (or a key's click), L: the
// left button (for type 2 the pointer stands for it), T2: type 2.
//
//   when                                        then                                      event
//   slide_select                                armed = I and L
//   type 2                                      down = I
//   an over look                                pointer_over = I
//   type 1 or slide_select                      down = I
//   L goes down, I or T2                        armed, repeating = 0, press_time, focus   1
//   L comes up, I or T2, armed or slide_select  armed = 0, repeating = 0, press_time = 0   2
//     (0 after a repeat, unless slide_select)
//   trigger 8: L comes up, not I, still armed   armed = 0                                  8
//   trigger 4: I, L or T2, armed or slide,      repeating, press_time = now                4
//     now - press_time > 300 ms (repeating: > 30 ms)
//   type 0 and an event                         down = L
//   L up                                        armed = 0; type 0: down = 0
//
// Each change of a drawn field (pointer_over, down) asks for a redraw.
INT_U8 WM_BUTTON::track_press(bool inside, bool left, bool type2)
{
    const INT_U8 in = inside ? 1 : 0, held = left ? 1 : 0;
    auto follow = [this](INT_U8& field, INT_U8 value) {
        if (field != value) {
            field = value;
            redraw_if_visible();
        }
    };
    if (slide_select) {
        armed = in & held;
    }
    if (type2) {
        follow(down, in);
    }
    if (has_over_look()) {
        follow(pointer_over, in);
    }
    if (button_type == 1 || slide_select) {
        follow(down, in);
    }

    INT_U8 event = 0;
    if ((inside || type2) && held != last_left) {
        if (left) {
            armed = 1;
            repeating = 0;
            press_time = now_ms;
            take_focus();
            event = EVENT_PRESS;
        } else if (armed || slide_select) {
            armed = 0;
            event = repeating && !slide_select ? 0 : EVENT_RELEASE;
            repeating = 0;
            press_time = 0;
        }
    }
    if ((trigger_flags & EVENT_RELEASE_OUTSIDE) && !inside && last_left && !left && armed) {
        armed = 0;
        event = EVENT_RELEASE_OUTSIDE;
    }
    if ((trigger_flags & EVENT_REPEAT) && inside && (left || type2) && (armed || slide_select)) {
        const INT_U32 wait = repeating ? auto_repeat_rate : auto_repeat_threshhold;
        if (now_ms - press_time > wait) {
            repeating = 1;
            press_time = now_ms;
            event = EVENT_REPEAT;
        }
    }
    if (event && button_type == 0) {
        down = held;
    }
    if (!left) {
        armed = 0;
        if (down && button_type == 0) {
            down = 0;
            redraw_if_visible();
        }
    }
    return event;
}

WM_MESG WM_BUTTON::fire_event(INT_U8 event, bool)
{
    WM_MESG result = 0;
    if (event & trigger_flags) {
        release_event = event == EVENT_RELEASE || event == EVENT_RELEASE_OUTSIDE ? 1 : 0;
        if (action_sound.is_loaded()) {
            action_sound.platform_play();
        }
        if (callback) {
            result = callback(this, callback_data1, callback_data2);
        }
        release_event = 0;
        // Taken input stops the pass, except for a sliding selection,
        // whose owner goes on looking at its other rows.
        if (!result) {
            result = slide_select ? WM_MESG_NONE : WM_MESG_TAKEN;
        }
    }
    ask_activated();
    redraw_if_visible();
    return result;
}

void WM_BUTTON::ask_activated()
{
    if (!activated_callback) {
        return;
    }
    const INT_U8 a = activated_callback(this, activated_data);
    if (a != activated) {
        set_activated(a);
    }
}

WM_MESG WM_BUTTON::report_as_held(WM_OBJECT_CALLBACK report, void* data1, void* data2)
{
    const INT_U8 saved = last_left;
    last_left = 1;
    const WM_MESG result = report(this, data1, data2);
    last_left = saved;
    return result;
}

bool WM_BUTTON::has_over_look()
{
    return image_boxes[BOX_OVER].are_images_valid() || mouse_over_colour.alpha() || mouse_over_text_colour.alpha() ||
           over_icon.width != 0;
}

void WM_BUTTON::request_cursor(bool inside, bool left, bool right)
{
    WM_PAGE_SERVICES* services = page_services();
    if (!services) {
        return;
    }
    INT_S8 id = 0;
    if (drag_x != -1 && drag_y != -1) {
        id = cursor_available(CURSOR_DRAGGING) ? CURSOR_DRAGGING : CURSOR_DRAGGABLE;
    } else if (inside) {
        if ((left || right || down) && cursor_available(CURSOR_PRESSED)) {
            id = CURSOR_PRESSED;
        } else if (drag_callback && cursor_available(CURSOR_DRAGGABLE)) {
            id = CURSOR_DRAGGABLE;
        } else {
            id = CURSOR_OVER;
        }
    }
    if (id && cursor_available(id)) {
        services->request_pointer(id);
    }
}
