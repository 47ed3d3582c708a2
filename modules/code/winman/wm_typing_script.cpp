// WM_TYPING_SCRIPT: what differs from a text block is the typing step in
// update, the start at the first draw, and the click that finishes it.
#include "wm_typing_script.h"

#include "kivo_host.h"
#include "mouse.h"

#include <cstring>

WM_TYPING_SCRIPT::WM_TYPING_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style,
                                   const char* text)
    : WM_SCRIPT(x1, y1, x2, y2, style, text), typing_length(0), start_time(0), ms_per_character(20)
{
    setup();
}

WM_TYPING_SCRIPT::~WM_TYPING_SCRIPT() = default;

void WM_TYPING_SCRIPT::setup()
{
    const char* whole = text.type == 8 && text.value.text ? text.value.text : "";
    full_text = whole;
    typing_length = static_cast<INT_U32>(std::strlen(whole));
    start_time = 0;
    ms_per_character = 20;
    redraw_if_visible();
    text.set(text.value, "");
}

void WM_TYPING_SCRIPT::set_string(const char* s, INT_U8 grow)
{
    WM_SCRIPT::set_string(s, grow);
    setup();
}

void WM_TYPING_SCRIPT::finish_typing()
{
    typing_length = 0;
    redraw_if_visible();
    text.set(text.value, full_text.buffer ? full_text.buffer : "");
    if (action_sound.is_loaded()) {
        action_sound.platform_play();
    }
    if (callback) {
        callback(this, callback_data1, callback_data2);
    }
}

WM_MESG WM_TYPING_SCRIPT::monitor()
{
    // The click is not taken: the block's own pass still runs.
    if (typing_length && (MOUSE::buttons & 1) && is_in_me(MOUSE::x, MOUSE::y)) {
        finish_typing();
    }
    return WM_SCRIPT::monitor();
}

WM_MESG WM_TYPING_SCRIPT::update(INT_U8 modal)
{
    if (typing_length && start_time) {
        if (ms_per_character <= 0) {
            finish_typing();
        } else {
            // A start stored as 1 for a first draw at 0 is one tick ahead.
            INT_U32 elapsed = get_ms_count() - start_time;
            if (elapsed == 0xFFFFFFFFu) {
                elapsed = 0;
            }
            const INT_U32 count = elapsed / static_cast<INT_U32>(ms_per_character);
            if (count < typing_length) {
                redraw_if_visible();
                const KIVO_STRING shown = full_text.get(0, static_cast<long>(count));
                text.set(text.value, shown.buffer ? shown.buffer : "");
            } else {
                finish_typing();
            }
        }
    }
    return WM_SCRIPT::update(modal);
}

void WM_TYPING_SCRIPT::prepare_draw()
{
    // Typing starts with the frame that first draws the text.
    if (typing_length && !start_time && is_in_update_regions()) {
        // 0 means "not started", so a first draw when the counter reads 0
        // starts at 1.
        start_time = get_ms_count();
        if (!start_time) {
            start_time = 1;
        }
    }
}
