// The open and close effects of WM_DIALOG: starting fades and slides,
// stepping them against now_ms, and the redraw that composes a dialog at
// partial alpha and greys or darkens what lies behind a modal one.
#include "wm_dialog.h"

#include "host_window.h"
#include "wm_clip.h"
#include "wm_s16.h"

#include <algorithm>
#include <cstdio>

EFFECT_INFO blank_effect_info = {0, 0, 0, 0xFF};

namespace {

// Delays come from the page definition: a slide of hours would block the
// pages as surely as a hang, and a negative one means none.
constexpr INT_S32 MAX_EFFECT_DELAY_MS = 10000;

INT_U32 usable_delay(INT_S32 ms)
{
    return static_cast<INT_U32>(std::clamp<INT_S32>(ms, 0, MAX_EFFECT_DELAY_MS));
}

// start + elapsed x (end - start) / delay, truncating towards zero; the
// product overflows 32 bits for long delays.
int interpolate(int start, int end, INT_U32 elapsed, INT_U32 delay)
{
    return start + static_cast<int>(static_cast<INT_S64>(elapsed) * (end - start) / static_cast<INT_S64>(delay));
}

bool same_point(const WM_DIALOG::POINT& a, const WM_DIALOG::POINT& b)
{
    return a.x == b.x && a.y == b.y;
}

} // namespace

void WM_DIALOG::start_fade(INT_U8 target)
{
    // A running close is kept: fading back up would leave a dialog that
    // never finishes closing.
    if (closing) {
        return;
    }
    start_alpha = current_alpha;
    effect_start_ms = 0;
    target_alpha = target;
    const INT_U16 f = effect_info.flags;
    effect_delay = target == 0 || current_alpha == 0 ? effect_info.open_delay : effect_info.displaying_delay;
    if (current_alpha < target) {
        if (!(f & EFFECT_FADE_ON_OPEN) && current_alpha == 0) {
            current_alpha = target;
        }
        if (!(f & EFFECT_FADE_UP) && current_alpha != 0) {
            current_alpha = target;
        }
    } else if (current_alpha > target) {
        if (!(f & EFFECT_FADE_ON_CLOSE) && target == 0) {
            current_alpha = 0;
        }
        if (!(f & EFFECT_FADE_DOWN) && target != 0) {
            current_alpha = target;
        }
    }
    if (effects_suppressed) {
        current_alpha = target;
    }
    redraw_if_visible();
}

void WM_DIALOG::close(bool immediate, bool remove)
{
    remove_when_closed = remove ? 1 : 0;
    effects_suppressed = immediate ? 1 : 0;
    start_fade(0);
    start_animation(0);
    effects_suppressed = 0;
}

void WM_DIALOG::start_animation(INT_U8 opening)
{
    if (closing) {
        // An immediate close asked for during a close ends it at the next
        // update, at the home point; any other request keeps it running.
        if (!opening && effects_suppressed) {
            const POINT home = slide_opening ? slide_end : slide_start;
            WM_SCREEN_OBJECT::move(home.x, home.y);
            slide_start = slide_end = home;
            current_alpha = target_alpha = 0;
        }
        return;
    }
    if (!same_point(slide_start, slide_end)) {
        WM_SCREEN_OBJECT::move(slide_end.x, slide_end.y);
    }
    slide_start = slide_end = POINT{x, y};
    if (!opening) {
        // A hidden dialog gets no update, so its close ends here, as a
        // completed one would; shown again, it opens with its effects.
        if (!visible) {
            current_alpha = target_alpha;
            return;
        }
        closing = 1;
    }
    const INT_U16 f = effect_info.flags;
    if (effects_suppressed || !(f & (opening ? EFFECT_SLIDE_ON_OPEN : EFFECT_SLIDE_ON_CLOSE))) {
        return;
    }
    // Without an edge bit there is nowhere to slide to, and a closing slide
    // that never leaves its home point would never complete.
    const POINT off = get_off_screen_point(x, y, width, height);
    if (same_point(off, slide_end)) {
        return;
    }
    effect_start_ms = 0;
    effect_delay = effect_info.open_delay;
    slide_opening = opening;
    if (opening) {
        slide_start = off;
    } else {
        slide_end = off;
        // A close that jumped to alpha 0 still shows the dialog as it leaves.
        if (current_alpha == 0 && target_alpha == 0) {
            current_alpha = target_alpha = 255;
        }
    }
    WM_SCREEN_OBJECT::move(slide_start.x, slide_start.y);
    redraw_if_visible();
}

WM_MESG WM_DIALOG::update(INT_U8 modal)
{
    if (!visible && !dragging) {
        return WM_MESG_NONE;
    }
    if (const WM_MESG r = WM_SCREEN_OBJECT::update(modal)) {
        return r;
    }
    // Read now: the close may complete below, which clears it.
    const bool leaving = closing != 0;
    WM_MESG result = 0;
    if (step_pending && (current_alpha != target_alpha || !same_point({x, y}, slide_end))) {
        if (effect_start_ms == 0) {
            effect_start_ms = now_ms;
        }
        // Unsigned, so the counter's wrap does not end an effect early.
        const INT_U32 elapsed = now_ms - effect_start_ms;
        const INT_U32 delay = usable_delay(effect_delay);
        if (elapsed >= delay) {
            current_alpha = target_alpha;
            WM_SCREEN_OBJECT::move(slide_end.x, slide_end.y);
        } else {
            if (current_alpha != target_alpha) {
                current_alpha = static_cast<INT_U8>(interpolate(start_alpha, target_alpha, elapsed, delay));
            }
            const int nx = x != slide_end.x ? interpolate(slide_start.x, slide_end.x, elapsed, delay) : x;
            const int ny = y != slide_end.y ? interpolate(slide_start.y, slide_end.y, elapsed, delay) : y;
            WM_SCREEN_OBJECT::move(to_s16(nx), to_s16(ny));
        }
        result = WM_MESG_TAKEN;
        focal_object_monitored = 1;
        redraw_if_visible();
    }
    const bool at_end = same_point({x, y}, slide_end);
    const bool left_home = !same_point({x, y}, slide_start) && !slide_opening;
    if (!(drawn == 0 && is_in_redraw_area()) && current_alpha == target_alpha && at_end &&
        (current_alpha == 0 || left_home)) {
        WM_SCREEN_OBJECT::move(slide_start.x, slide_start.y);
        slide_start = slide_end = POINT{x, y};
        hide(0, 0);
        if (remove_when_closed) {
            result = WM_MESG_CLOSE_MODAL;
        }
    }
    step_pending = result != WM_MESG_TAKEN;
    // A dialog leaving holds no input (holds_input), so its steps take
    // none either: the page's input pass runs in every frame of the close.
    return leaving && result == WM_MESG_TAKEN ? WM_MESG_NONE : result;
}

void WM_DIALOG::prepare_draw()
{
    // Shown and about to be drawn: the opening effects start. A closing
    // dialog finishes its close instead of opening again.
    if (surface && !drawn && is_in_update_regions() && !closing) {
        start_fade(255);
        start_animation(1);
        effects_suppressed = 0;
    }
    // The title and the contents where this frame draws the dialog.
    if (is_in_update_regions()) {
        lay_out();
    }
}

void WM_DIALOG::check_for_redraw()
{
    if (!surface || !visible || !is_update_region_valid()) {
        draw_drag_outline();
        return;
    }
    WM_CLIP_SAVER clip(surface);
    if ((grey_background || darken_background) && !(type & WM_TYPE_FLOATING_MENU) && is_modal_object()) {
        dim_background();
    }
    clip_to_home();
    draw_at_alpha();
    clip.restore();
    draw_drag_outline();
}

// Grey is idempotent but darkening is not: the whole surface is done once
// per showing, and after that only the region being redrawn, which the
// pages have just painted afresh.
void WM_DIALOG::dim_background()
{
    WM_CLIP_SAVER clip(surface);
    if (!background_dimmed) {
        surface->set_active_area(0, 0, to_s16(surface->width - 1), to_s16(surface->height - 1));
        background_dimmed = 1;
    }
    if (grey_background) {
        surface->make_grey();
    }
    if (darken_background) {
        const short window = get_window_id_from_pos(x, y);
        surface->darken_rect(0, 0, to_s16(get_window_width(window) - 1), to_s16(get_window_height(window) - 1), 50);
    }
}

// The clip is an intersection, so this masks: a slide with no edge shows
// only inside the home rectangle, one from the page manager's edge only
// inside the page manager.
void WM_DIALOG::clip_to_home()
{
    const INT_U16 f = effect_info.flags;
    int mx = x, my = y, mw = width, mh = height;
    if ((f & EFFECT_EDGE_PAGE_MANAGER) && !(f & EFFECT_EDGE_WINDOW)) {
        get_page_manager_rect(mx, my, mw, mh);
    } else if (!same_point({x, y}, slide_end) && !(f & EFFECT_EDGE_WINDOW)) {
        const POINT home = slide_opening ? slide_end : slide_start;
        mx = home.x;
        my = home.y;
    }
    surface->add_rect_to_active_area(to_s16(mx), to_s16(my), to_s16(mx + mw - 1), to_s16(my + mh - 1));
}

// At partial alpha the dialog is drawn plainly, taken off the surface, the
// surface put back as it was and the dialog blended on. Only the part on
// the surface is composed: the rest is never shown.
void WM_DIALOG::draw_at_alpha()
{
    const int alpha = current_alpha;
    const bool partial = alpha > 0 && alpha < 255;
    const int ox1 = std::max<int>(x, 0), oy1 = std::max<int>(y, 0);
    const int ox2 = std::min<int>(x + width, surface->width) - 1, oy2 = std::min<int>(y + height, surface->height) - 1;
    const bool composes = partial && ox1 <= ox2 && oy1 <= oy2;
    const INT_S16 saved_dirty[4] = {surface->dirty_x1, surface->dirty_y1, surface->dirty_x2, surface->dirty_y2};
    IMAGE under;
    if (partial) {
        surface->dirty_x1 = surface->dirty_y1 = surface->dirty_x2 = surface->dirty_y2 = -1;
    }
    if (composes) {
        under.reset(to_s16(ox2 - ox1 + 1), to_s16(oy2 - oy1 + 1));
        under.get(to_s16(ox1), to_s16(oy1), surface, IMAGE_COPY_REPLACE);
    }
    if (alpha) {
        WM_SCREEN_OBJECT::check_for_redraw();
    } else {
        drawn = 1;
        dirty = 0;
    }
    if (composes && surface->dirty_x1 != -1) {
        IMAGE& dialog_pixels = compose_scratch;
        dialog_pixels.reset(under.width, under.height);
        dialog_pixels.get(to_s16(ox1), to_s16(oy1), surface, IMAGE_COPY_REPLACE);
        under.put(to_s16(ox1), to_s16(oy1), surface, IMAGE_COPY_REPLACE);
        dialog_pixels.realpha(static_cast<INT_U8>(alpha), 0, 0);
        dialog_pixels.put(to_s16(ox1), to_s16(oy1), surface, IMAGE_COPY_BLEND);
    }
    // Whatever was dirty before still has to reach the window.
    if (partial && saved_dirty[0] != -1) {
        surface->mark_dirty_area(saved_dirty[0], saved_dirty[1], saved_dirty[2], saved_dirty[3]);
    }
}

const char* WM_DIALOG::get_effect_desc(EFFECT_INFO* info)
{
    static char text[128];
    text[0] = '\0';
    if (info) {
        std::snprintf(text, sizeof text, "Flags: 0x%04X, Open Delay: %d, Displaying Delay %d, Alpha 0x%02X",
                      static_cast<unsigned>(info->flags), static_cast<int>(info->open_delay),
                      static_cast<int>(info->displaying_delay), static_cast<unsigned>(info->alpha));
    }
    return text;
}
