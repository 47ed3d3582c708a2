// The page manager's frame driver: one pass of focus moves, the timed and
// input passes, the dispatch of their WM_MESG, the resize rebuild, the
// focus repair, redraw, present and pointer shape.
#include "wm_page_manager.h"

#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_frame_pacing.h"
#include "wm_names.h"

namespace {

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
    // The interval counts from the start of the present: a slow one (the
    // first textured copy compiles its shader) must not push the next
    // frame back by its own length as well.
    const INT_U32 started = get_ms_count();
    blit_to_window(-1);
    if (showing) {
        wm_note_present(started);
    }
    if (frame_hook) {
        frame_hook();
    }
}

// What one pass carries from step to step.
struct WM_PAGE_MANAGER::PASS
{
    WM_MESG message = WM_MESG_NONE;
    long message_area = 0; // the area whose pass produced the message
    bool handled = false;  // no input pass runs
    bool callbacks_due = true;
    // An injected click stands in for the real pointer during the pass.
    bool injected = false;
    INT_S16 pointer_x = 0, pointer_y = 0;
    INT_U8 left_down = 0;
};

WM_MESG WM_PAGE_MANAGER::run_frame(bool present, bool dispatch)
{
    PASS pass;
    begin_pass(pass);
    move_focus_on_tab();
    pass.callbacks_due = are_callbacks_due();
    run_timed_pass(pass);
    if (!pass.handled && WM_SCREEN_OBJECT::get_active_modal_object_count()) {
        run_modal_input_pass(pass);
    }
    if (!pass.handled) {
        run_area_input_pass(pass);
    }
    if (dispatch) {
        pass.message = dispatch_message(pass.message, pass.message_area);
    }
    rebuild_after_resize();
    repair_focus(pass.message);
    check_for_draw();
    // Input still queued behind an early end of the event pass is taken
    // first, pass after pass; the frames it draws show as often as the
    // display takes them, never waited for.
    if (present && (!events_input_waiting || wm_present_is_due())) {
        present_frame();
    }
    end_pass(pass);
    return pass.message;
}

void WM_PAGE_MANAGER::begin_pass(PASS& pass)
{
    if (last_window_width == 0 || last_window_height == 0) {
        last_window_width = get_window_width(0);
        last_window_height = get_window_height(0);
    }
    cursor_request = monitor_mouse_cursor ? 0 : -1;
    WM_SCREEN_OBJECT::focal_object_monitored = 0;

    // The widgets of this pass see the injected click; end_pass puts the
    // real pointer back.
    pass.injected = is_click_injected();
    pass.pointer_x = MOUSE::x;
    pass.pointer_y = MOUSE::y;
    pass.left_down = MOUSE::buttons & 1;
    if (pass.injected) {
        MOUSE::last_event_time = get_wall_seconds();
        MOUSE::x = injected_x;
        MOUSE::y = injected_y;
        MOUSE::process_mouse_button(1, injected_button);
    }
}

void WM_PAGE_MANAGER::move_focus_on_tab()
{
    if (KEYBOARD::code != static_cast<INT_S32>(KEY_TAB)) {
        return;
    }
    KEYBOARD::get_code();
    const bool back = KEYBOARD::get_key_value(KEY_SHIFT) || KEYBOARD::get_key_value(KEY_SHIFT_EXTENDED);
    if (KEYBOARD::get_key_value(KEY_COMMAND) || KEYBOARD::get_key_value(KEY_CONTROL)) {
        back ? give_focus_to_prev_area() : give_focus_to_next_area();
    } else {
        back ? give_focus_to_prev_object() : give_focus_to_next_object();
    }
}

bool WM_PAGE_MANAGER::are_callbacks_due()
{
    // The millisecond counter wraps after about 49 days, so only the
    // unsigned difference tells whether the delay has passed; a negative
    // delay means none.
    if (monitor_delay_ms <= 0) {
        return true;
    }
    const INT_U32 now = get_ms_count();
    if (now - now_ltv < static_cast<INT_U32>(monitor_delay_ms)) {
        return false;
    }
    now_ltv = now;
    return true;
}

void WM_PAGE_MANAGER::run_timed_pass(PASS& pass)
{
    // First pages and rebuilds in every area; updates until one gives a
    // message, which belongs to the area that gave it.
    for (int i = area_count - 1; i >= 0; --i) {
        make_current(i);
        WM_AREA& area = areas[i];
        if (!area.history[area.history_index].create && area.next_page.create) {
            pass.message = page_effects ? WM_MESG_FADE_IN : WM_MESG_CHANGE;
            pass.message_area = 0;
            area.visible = 1;
            area.dirty = 1;
            area.mark_redraw_area();
            pass.handled = true;
        }
        if (area.rebuild_on_monitor && area.visible) {
            area.rebuild_on_monitor = 0;
            rebuild_area(i, 0);
            pass.handled = true;
        }
        if (!pass.message) {
            const WM_MESG r = area.update(0);
            check_for_draw();
            if (r != WM_MESG_NONE && r != WM_MESG_TAKEN) {
                pass.message = r;
                pass.message_area = i;
                pass.handled = true;
            }
        }
    }
    // The modal objects' timed pass.
    if (!pass.message) {
        pass.message = areas[0].update(1);
    }
}

void WM_PAGE_MANAGER::run_modal_input_pass(PASS& pass)
{
    // The topmost modal object alone; one over an area that does not exist
    // sees no input.
    long a = WM_SCREEN_OBJECT::get_active_modal_object_area();
    if (a < -1) {
        a = -2 - a;
    }
    if (a >= 0 && a < area_count) {
        make_current(a);
        pass.message_area = a;
        WM_PAGE_MONITOR page_monitor = areas[a].history[areas[a].history_index].monitor;
        if (pass.callbacks_due && page_monitor) {
            pass.message = page_monitor();
        }
        if (!pass.message) {
            pass.message = areas[a].monitor();
        }
    }
    pass.handled = true;
}

void WM_PAGE_MANAGER::run_area_input_pass(PASS& pass)
{
    // From the last area to the first, each page's own monitor before its
    // widgets, until one gives a message.
    for (int i = area_count - 1; i >= 0 && !pass.message; --i) {
        make_current(i);
        pass.message_area = i;
        WM_AREA& area = areas[i];
        WM_PAGE_MONITOR page_monitor = area.history[area.history_index].monitor;
        if (area.visible && pass.callbacks_due && page_monitor) {
            pass.message = page_monitor();
            if (pass.message) {
                break;
            }
        }
        pass.message = area.monitor();
    }
}

WM_MESG WM_PAGE_MANAGER::dispatch_message(WM_MESG message, long area)
{
    make_current(area);
    switch (message) {
    case WM_MESG_CLOSE_DIALOGS:
        // Returned as it is, once the dialogs have started closing.
        close_modal_dialogs(0);
        return message;
    case WM_MESG_REBUILD:
    case WM_MESG_CLOSE_AND_REBUILD:
        show_busy_pointer();
        rebuild_area(area, message == WM_MESG_CLOSE_AND_REBUILD);
        return WM_MESG_NONE;
    case WM_MESG_REBUILD_ALL:
    case WM_MESG_CLOSE_AND_REBUILD_ALL:
        show_busy_pointer();
        rebuild_visible_areas(area, message == WM_MESG_CLOSE_AND_REBUILD_ALL);
        return WM_MESG_NONE;
    case WM_MESG_CLOSE_MODALS:
        areas[0].clear_objects(1, 0, 0);
        if (areas[0].visible) {
            areas[0].mark_redraw_area();
        }
        return WM_MESG_NONE;
    default: break;
    }
    if (message >= WM_MESG_CHANGE && message <= WM_MESG_LAST_CHANGE) {
        change_pages(message, area);
    }
    // Any other code, WM_MESG_CLOSE_MODAL among them, goes back unchanged.
    return message;
}

void WM_PAGE_MANAGER::rebuild_visible_areas(long from, bool modals)
{
    // From the message's area on, wrapping; only the first may close the
    // modal objects.
    for (int k = 0; k < area_count; ++k) {
        const long a = (from + k) % area_count;
        if (areas[a].visible) {
            rebuild_area(a, k == 0 && modals);
        }
    }
}

void WM_PAGE_MANAGER::change_pages(WM_MESG message, long area)
{
    // The new pages' focus is theirs: the focus repair leaves it alone.
    show_busy_pointer();
    WM_SCREEN_OBJECT::focal_object_monitored = 1;
    using RUN = void (*)(WM_PAGE_MANAGER&, long);
    static const RUN in_order_from_mix[] = {
        [](WM_PAGE_MANAGER& m, long a) { m.mix_to_page(a); },
        [](WM_PAGE_MANAGER& m, long a) { m.fade_in_page(a); },
        [](WM_PAGE_MANAGER& m, long a) { m.greyfade_in_page(a); },
        [](WM_PAGE_MANAGER& m, long a) { m.fade_out_in_page(a); },
        [](WM_PAGE_MANAGER& m, long a) { m.greyfade_out_in_page(a); },
    };
    if (message >= WM_MESG_SLIDE_OVER) {
        // Five directions in each of three styles.
        const int n = message - WM_MESG_SLIDE_OVER;
        slide_page(area, static_cast<unsigned char>(n % 5), static_cast<unsigned char>(n / 5));
    } else if (message >= WM_MESG_MIX && message <= WM_MESG_GREYFADE_OUT_IN) {
        in_order_from_mix[message - WM_MESG_MIX](*this, area);
    } else {
        // A plain change, or one after the old pages faded out.
        if (message == WM_MESG_FADE_OUT) {
            fade_out_page();
        } else if (message == WM_MESG_GREYFADE_OUT) {
            greyfade_out_page();
        }
        go_to_page(area);
    }
}

void WM_PAGE_MANAGER::rebuild_after_resize()
{
    if (!check_screen_resize ||
        (get_window_width(0) == last_window_width && get_window_height(0) == last_window_height)) {
        return;
    }
    last_window_width = get_window_width(0);
    last_window_height = get_window_height(0);
    areas[0].mark_entire_redraw_area();
    // Hidden areas too: they may be shown at the new size later.
    for (int i = area_count - 1; i >= 0; --i) {
        areas[i].rebuild_on_monitor = 0;
        rebuild_area(i, 0);
    }
}

void WM_PAGE_MANAGER::repair_focus(WM_MESG message)
{
    // The focal object sat out this pass (hidden itself or inside something
    // hidden), or there is none. A hidden widget's own monitor still reports
    // the focal object as monitored, hence the test of visible. A pass that
    // took input keeps the focus where it is. So does a shown one that only
    // sat out under a modal object with nothing to focus (the open list of
    // a list box): once that closes, the focus is where it was.
    using S = WM_SCREEN_OBJECT;
    const bool sat_out = !S::focal_object_monitored || (S::focal_object && !S::focal_object->visible);
    if (message == WM_MESG_TAKEN || !sat_out || give_focus_to_next_object() || !S::focal_object) {
        return;
    }
    if (S::focal_object->visible && S::get_active_modal_object(0)) {
        return;
    }
    // The last focusable object is told while it still holds the focus;
    // its redraw waits for the draw step, which sees it unfocused.
    WM_SCREEN_OBJECT* lost = S::focal_object;
    lost->redraw_if_visible();
    if (lost->focus_callback) {
        lost->focus_callback(lost, lost->focus_data);
    }
    // A callback that handed the focus on keeps that choice.
    if (S::focal_object == lost) {
        S::focal_object = nullptr;
    }
}

void WM_PAGE_MANAGER::end_pass(const PASS& pass)
{
    if (pass.injected) {
        MOUSE::last_event_time = get_wall_seconds();
        MOUSE::x = pass.pointer_x;
        MOUSE::y = pass.pointer_y;
        MOUSE::process_mouse_button(1, pass.left_down);
    }
    if (monitor_mouse_cursor && cursor_request >= 0 && cursor_request <= CURSOR_BUSY &&
        cursor_request != MOUSE::current_cursor) {
        MOUSE::current_cursor = cursor_request;
        MOUSE::set_mouse_cursor(cursor_request, 0);
    }
}
