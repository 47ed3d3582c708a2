// The page manager's frame driver: one pass of focus moves, the timed and
// input passes, the dispatch of their WM_MESG, the resize rebuild, the
// focus repair, redraw, present and pointer shape.
#include "wm_page_manager.h"

#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_frame_pacing.h"
#include "wm_names.h"

namespace {

// The codes the pass acts on.
constexpr WM_MESG MESG_CLOSE_DIALOGS = 3, MESG_REBUILD = 5, MESG_REBUILD_ALL = 6, MESG_CLOSE_AND_REBUILD = 7,
                  MESG_CLOSE_AND_REBUILD_ALL = 8, MESG_CLOSE_MODALS = 9, MESG_CHANGE = 10, MESG_MIX = 11,
                  MESG_FADE_IN = 12, MESG_GREYFADE_OUT_IN = 15, MESG_FADE_OUT = 16, MESG_GREYFADE_OUT = 17,
                  MESG_SLIDE_FIRST = 18, MESG_SLIDE_LAST = 32;

void show_busy_pointer()
{
    if (WM_PAGE_MANAGER::monitor_mouse_cursor && WM_PAGE_MANAGER::busy_mouse_cursor_on_page_change &&
        MOUSE::current_cursor != CURSOR_BUSY) {
        MOUSE::current_cursor = CURSOR_BUSY;
        MOUSE::set_mouse_cursor(CURSOR_BUSY, 0);
    }
}

} // namespace

void WM_PAGE_MANAGER::present_frame()
{
    // Only a present that shows something waits for its turn.
    const bool showing = back_buffer.dirty_x1 != -1 && back_buffer.dirty_x2 != -1 && back_buffer.dirty_y1 != -1 &&
                         back_buffer.dirty_y2 != -1;
    if (showing) {
        wm_wait_for_present();
    }
    blit_to_window(-1);
    if (showing) {
        wm_note_present();
    }
    if (frame_hook) {
        frame_hook();
    }
}

WM_MESG WM_PAGE_MANAGER::monitor(INT_U8 blit)
{
    using S = WM_SCREEN_OBJECT;
    if (last_window_width == 0 || last_window_height == 0) {
        last_window_width = get_window_width(0);
        last_window_height = get_window_height(0);
    }
    cursor_request = monitor_mouse_cursor ? 0 : -1;
    S::focal_object_monitored = 0;

    // The widgets of this pass see the injected click; the real pointer is
    // put back at the end.
    const bool injected = injected_x != -1 && injected_y != -1;
    const INT_S16 pointer_x = MOUSE::x, pointer_y = MOUSE::y;
    const INT_U8 left_down = MOUSE::buttons & 1;
    if (injected) {
        MOUSE::last_event_time = get_wall_seconds();
        MOUSE::x = injected_x;
        MOUSE::y = injected_y;
        MOUSE::process_mouse_button(1, injected_button);
    }

    if (KEYBOARD::code == static_cast<INT_S32>(KEY_TAB)) {
        KEYBOARD::get_code();
        const bool back = KEYBOARD::get_key_value(KEY_SHIFT) || KEYBOARD::get_key_value(KEY_SHIFT_EXTENDED);
        if (KEYBOARD::get_key_value(KEY_COMMAND) || KEYBOARD::get_key_value(KEY_CONTROL)) {
            back ? give_focus_to_prev_area() : give_focus_to_next_area();
        } else {
            back ? give_focus_to_prev_object() : give_focus_to_next_object();
        }
    }

    // The millisecond counter wraps after about 49 days, so only the
    // unsigned difference tells whether the delay has passed; a negative
    // delay means none.
    bool callbacks_due = true;
    if (monitor_delay_ms > 0) {
        const INT_U32 now = get_ms_count();
        callbacks_due = now - now_ltv >= static_cast<INT_U32>(monitor_delay_ms);
        if (callbacks_due) {
            now_ltv = now;
        }
    }

    // Timed pass. A message belongs to the area whose update produced it.
    WM_MESG message = 0;
    long message_area = 0;
    bool handled = false;
    for (int i = area_count - 1; i >= 0; --i) {
        make_current(i);
        WM_AREA& area = areas[i];
        if (!area.history[area.history_index].create && area.next_page.create) {
            message = page_effects ? MESG_FADE_IN : MESG_CHANGE;
            message_area = 0;
            area.visible = 1;
            area.dirty = 1;
            area.mark_redraw_area();
            handled = true;
        }
        if (area.rebuild_on_monitor && area.visible) {
            area.rebuild_on_monitor = 0;
            rebuild_area(i, 0);
            handled = true;
        }
        if (!message) {
            const WM_MESG r = area.update(0);
            check_for_draw();
            if (r != 0 && r != 1) {
                message = r;
                message_area = i;
                handled = true;
            }
        }
    }
    if (!message) {
        message = areas[0].update(1);
    }

    // Input pass: the topmost modal object alone, else every area.
    if (!handled && S::get_active_modal_object_count()) {
        long a = S::get_active_modal_object_area();
        if (a < -1) {
            a = -2 - a;
        }
        if (a >= 0 && a < area_count) {
            make_current(a);
            message_area = a;
            WM_PAGE_MONITOR page_monitor = areas[a].history[areas[a].history_index].monitor;
            if (callbacks_due && page_monitor) {
                message = page_monitor();
            }
            if (!message) {
                message = areas[a].monitor();
            }
        }
        handled = true;
    }
    if (!handled) {
        for (int i = area_count - 1; i >= 0 && !message; --i) {
            make_current(i);
            message_area = i;
            WM_AREA& area = areas[i];
            WM_PAGE_MONITOR page_monitor = area.history[area.history_index].monitor;
            if (area.visible && callbacks_due && page_monitor) {
                message = page_monitor();
                if (message) {
                    break;
                }
            }
            message = area.monitor();
        }
    }

    make_current(message_area);
    switch (message) {
    case MESG_CLOSE_DIALOGS:
        // Returned as it is, once the dialogs have started closing.
        close_modal_dialogs(0);
        break;
    case MESG_REBUILD:
    case MESG_CLOSE_AND_REBUILD:
        show_busy_pointer();
        rebuild_area(message_area, message == MESG_CLOSE_AND_REBUILD);
        message = 0;
        break;
    case MESG_REBUILD_ALL:
    case MESG_CLOSE_AND_REBUILD_ALL:
        // Visible areas from the message's on, wrapping; only the first may
        // close the modal objects.
        show_busy_pointer();
        for (int k = 0; k < area_count; ++k) {
            const long a = (message_area + k) % area_count;
            if (areas[a].visible) {
                rebuild_area(a, k == 0 && message == MESG_CLOSE_AND_REBUILD_ALL);
            }
        }
        message = 0;
        break;
    case MESG_CLOSE_MODALS:
        areas[0].clear_objects(1, 0, 0);
        if (areas[0].visible) {
            areas[0].mark_redraw_area();
        }
        message = 0;
        break;
    default:
        break;
    }
    if (message >= MESG_CHANGE && message <= MESG_SLIDE_LAST) {
        // The new pages' focus is theirs: the repair below leaves it alone.
        show_busy_pointer();
        S::focal_object_monitored = 1;
        using CHANGE = void (*)(WM_PAGE_MANAGER&, long);
        static const CHANGE changing[] = {
            [](WM_PAGE_MANAGER& m, long a) { m.mix_to_page(a); },
            [](WM_PAGE_MANAGER& m, long a) { m.fade_in_page(a); },
            [](WM_PAGE_MANAGER& m, long a) { m.greyfade_in_page(a); },
            [](WM_PAGE_MANAGER& m, long a) { m.fade_out_in_page(a); },
            [](WM_PAGE_MANAGER& m, long a) { m.greyfade_out_in_page(a); },
        };
        if (message >= MESG_SLIDE_FIRST) {
            // Five directions (0 random, then right, left, bottom, top) in
            // each of three styles.
            const int n = message - MESG_SLIDE_FIRST;
            slide_page(message_area, static_cast<unsigned char>(n % 5), static_cast<unsigned char>(n / 5));
        } else if (message >= MESG_MIX && message <= MESG_GREYFADE_OUT_IN) {
            changing[message - MESG_MIX](*this, message_area);
        } else {
            // A plain change, or one after the old pages faded out.
            if (message == MESG_FADE_OUT) {
                fade_out_page();
            } else if (message == MESG_GREYFADE_OUT) {
                greyfade_out_page();
            }
            go_to_page(message_area);
        }
    }
    // Any other code, 4 among them, goes back unchanged.

    if (check_screen_resize &&
        (get_window_width(0) != last_window_width || get_window_height(0) != last_window_height)) {
        last_window_width = get_window_width(0);
        last_window_height = get_window_height(0);
        areas[0].mark_entire_redraw_area();
        // Hidden areas too: they may be shown at the new size later.
        for (int i = area_count - 1; i >= 0; --i) {
            areas[i].rebuild_on_monitor = 0;
            rebuild_area(i, 0);
        }
    }

    // Focus repair: the focal object sat out this pass (hidden itself or
    // inside something hidden), or there is none. A hidden widget's own
    // monitor still reports the focal object as monitored, hence the test
    // of visible. A pass that took input keeps the focus where it is.
    const bool focal_hidden = S::focal_object && !S::focal_object->visible;
    if (message != 1 && (!S::focal_object_monitored || focal_hidden) && !give_focus_to_next_object() &&
        S::focal_object) {
        // The last focusable object is told while it still holds the focus;
        // its redraw waits for the draw step below, which sees it unfocused.
        WM_SCREEN_OBJECT* lost = S::focal_object;
        if (lost->visible) {
            lost->request_draw();
        }
        if (lost->focus_callback) {
            lost->focus_callback(lost, lost->focus_data);
        }
        // A callback that handed the focus on keeps that choice.
        if (S::focal_object == lost) {
            S::focal_object = nullptr;
        }
    }

    check_for_draw();
    if (blit) {
        present_frame();
    }
    if (injected) {
        MOUSE::last_event_time = get_wall_seconds();
        MOUSE::x = pointer_x;
        MOUSE::y = pointer_y;
        MOUSE::process_mouse_button(1, left_down);
    }
    if (monitor_mouse_cursor && cursor_request >= 0 && cursor_request <= CURSOR_BUSY &&
        cursor_request != MOUSE::current_cursor) {
        MOUSE::current_cursor = cursor_request;
        MOUSE::set_mouse_cursor(cursor_request, 0);
    }
    return message;
}
