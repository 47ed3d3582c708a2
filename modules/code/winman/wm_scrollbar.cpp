// WM_SCROLLBAR: construction, geometry, skins and the input pass - what
// the pointer, the wheel and the keys do to the bar's value each frame.
#include "wm_scrollbar.h"

#include "errors.h"
#include "keyboard.h"
#include "mouse.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <cstdio>
#include <limits>
#include <utility>

namespace {

constexpr PARAM_TYPE POINTER_PARAM = 9;
constexpr PARAM_TYPE LAST_INTEGER_PARAM = 5;
constexpr INT_S16 MIN_SLIDER = 6;
constexpr INT_S16 MIN_SIDE = 10; // x2 - x1 and y2 - y1

constexpr INT_U16 ROUNDED_CORNERS = 0xF0;

// The bar's boxes sit in a style's runtime cache from this slot on, in
// the same order.
constexpr int STYLE_FIRST_BAR_SLOT = 16;
const char* const box_suffixes[WM_SCROLLBAR::BOX_COUNT] = {
    "_bar",         "_bar_disabled",  "_bar_over",  "_slider_up",     "_slider_down", "_slider_disabled",
    "_slider_over", "_less_up",       "_less_down", "_less_disabled", "_less_over",   "_more_up",
    "_more_down",   "_more_disabled", "_more_over"};
constexpr std::size_t SKIN_NAME_MAX = 1024;

// a x b / c truncated toward zero. Large ranges overflow 64 bits only
// with float limits far beyond any pixel count; those go through long double.
long mul_div(long a, long b, long c)
{
    long p;
    if (!__builtin_mul_overflow(a, b, &p)) {
        return p / c;
    }
    return static_cast<long>(static_cast<long double>(a) * b / c);
}

long add_saturated(long a, long b)
{
    long sum;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b > 0 ? std::numeric_limits<long>::max() : std::numeric_limits<long>::min();
    }
    return sum;
}

} // namespace

WM_SCROLLBAR::WM_SCROLLBAR(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, PARAMETER* p, WM_STYLE_SET& style,
                           WM_OBJECT_CALLBACK cb, void* data1, void* data2)
    : WM_SCREEN_OBJECT(style.visible, cb, data1, data2)
{
    for (IMAGE_BOX& box : image_boxes) {
        box.cache = &image_cache;
    }
    shading_type = style.shading_type;
    const bool with_buttons = (style.ssef & SSEF_SB_WITH_BUTTONS) != 0;
    const SCROLLBAR_TYPE t = (style.ssef & SSEF_SB_HORIZONTAL) ? (with_buttons ? 1 : 0) : (with_buttons ? 3 : 2);
    INT_U8 flags = 0;
    if (style.shading_flags & ROUNDED_CORNERS) {
        flags |= SCROLLBAR_ROUNDED;
    }
    if (style.ssf & SSF_VFADING) {
        flags |= SCROLLBAR_VFADING;
    }
    if (style.ssf & SSF_HFADING) {
        flags |= SCROLLBAR_HFADING;
    }
    if (style.ssf & SSF_DONT_RESIZE_IMAGE) {
        flags |= SCROLLBAR_NATURAL_SIZE;
    }
    setup(x1, y1, x2, y2, style.scrollbar_slider_width, style.scrollbar_button_width, p, t, flags, style.bg_colour,
          style.active_colour, style.active_colour, style.fg_colour);
    if (style.ssf & SSF_DISABLED) {
        enabled = 0;
        redraw_if_visible();
    }
    if (style.image_filename) {
        set_images(style.image_path, style.image_filename, &style);
    }
    if (style.shading_colour.alpha()) {
        shading_colour = style.shading_colour;
    }
}

WM_SCROLLBAR::WM_SCROLLBAR(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 slider_size, INT_S16 button_size,
                           PARAMETER* p, SCROLLBAR_TYPE t, INT_U8 flags, COLOUR bar, COLOUR slider, COLOUR button,
                           COLOUR arrow, INT_U8 is_visible, WM_OBJECT_CALLBACK cb, void* data1, void* data2)
    : WM_SCREEN_OBJECT(is_visible, cb, data1, data2)
{
    for (IMAGE_BOX& box : image_boxes) {
        box.cache = &image_cache;
    }
    setup(x1, y1, x2, y2, slider_size, button_size, p, t, flags, bar, slider, button, arrow);
}

WM_SCROLLBAR::~WM_SCROLLBAR()
{
    for (int i = BOX_COUNT - 1; i >= 0; --i) {
        image_boxes[i].clear_images();
    }
    // Nothing else may compare a later bar with this address.
    if (mouse_wheel_focus == this) {
        mouse_wheel_focus = nullptr;
    }
}

void WM_SCROLLBAR::setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 slider_size, INT_S16 button_size,
                         PARAMETER* p, SCROLLBAR_TYPE t, INT_U8 flags, COLOUR bar, COLOUR slider, COLOUR button,
                         COLOUR arrow)
{
    if (!p) {
        display_error(ERR_SCROLLBAR_SLEW_POINTER);
    }
    // Float, double and text values are read and written as whole numbers.
    if (p->type == POINTER_PARAM) {
        display_error(ERR_SCROLLBAR_SLEW_TYPE);
    }
    if (p->get_long(p->min) >= p->get_long(p->max)) {
        display_error(ERR_SCROLLBAR_SLEW_VALUES);
    }
    if (x1 > x2) {
        std::swap(x1, x2);
    }
    if (y1 > y2) {
        std::swap(y1, y2);
    }
    if (slider_size < MIN_SLIDER) {
        display_warning(WARN_SLIDER_WIDTH);
        slider_size = MIN_SLIDER;
    }
    if (x2 - x1 < MIN_SIDE) {
        display_warning(WARN_SCROLLBAR_SIZE);
        x2 = to_s16(long{x1} + MIN_SIDE);
    }
    if (y2 - y1 < MIN_SIDE) {
        display_warning(WARN_SCROLLBAR_SIZE);
        y2 = to_s16(long{y1} + MIN_SIDE);
    }
    enabled = 1;
    param = p;
    type = t;
    x = x1;
    y = y1;
    width = to_s16(long{x2} - x1 + 1);
    height = to_s16(long{y2} - y1 + 1);
    button_sz = button_size;
    slider_sz = slider_size;
    bar_colour = bar;
    slider_colour = slider;
    button_colour = button;
    arrow_colour = arrow;
    dragging = 0;
    old_value = value();
    last_left_button = 0;
    line_step = page_step = 1;
    repeat_ms = 0;
    draw_flags = flags;
    button_down = 0;
    movement_callback = nullptr;
    wheel_step = 1;
    over_bar = over_slider = over_less = over_more = 0;
    if (draw_flags & SCROLLBAR_AUTO_LOOK) {
        draw_flags |= SCROLLBAR_ROUNDED | (horizontal() ? SCROLLBAR_VFADING : SCROLLBAR_HFADING);
    }
    set_travel();
    mouse_wheel_focus = this;
    MOUSE::wheel_pos = 0;
    WM_SCREEN_OBJECT::type |= WM_TYPE_SCROLLBAR;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

void WM_SCROLLBAR::set_travel()
{
    const long w = width, h = height, s = slider_sz, b = button_sz;
    switch (type) {
    case 0:
        travel = static_cast<INT_S32>(w - s);
        travel_start = static_cast<INT_S32>(x + s);
        break;
    case 1:
        if (w < s + 2 * b) {
            display_error(ERR_SCROLLBAR_SLEW_VALUES);
        }
        travel = static_cast<INT_S32>(w - s - 2 * b);
        travel_start = static_cast<INT_S32>(x + s + b);
        break;
    case 2:
        travel = static_cast<INT_S32>(h - s);
        travel_start = y;
        break;
    case 3:
        if (h < s + 2 * b) {
            display_error(ERR_SCROLLBAR_SLEW_VALUES);
        }
        travel = static_cast<INT_S32>(h - s - 2 * b);
        travel_start = static_cast<INT_S32>(y + b);
        break;
    default: display_error(ERR_SCROLLBAR_TYPE);
    }
}

long WM_SCROLLBAR::get_max_travel()
{
    switch (type) {
    case 0: return width;
    case 1: return long{width} - 2 * button_sz;
    case 2: return height;
    case 3: return long{height} - 2 * button_sz;
    default: return 0;
    }
}

void WM_SCROLLBAR::move(INT_S16 nx, INT_S16 ny)
{
    if (nx == x && ny == y) {
        return;
    }
    WM_SCREEN_OBJECT::move(nx, ny);
    set_travel();
}

void WM_SCROLLBAR::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    WM_SCREEN_OBJECT::resize(nw, nh, children);
    set_travel();
}

INT_U8 WM_SCROLLBAR::can_have_focus()
{
    return enabled && can_focus;
}

bool WM_SCROLLBAR::set_images(const char* folder_path, const char* name, WM_STYLE_SET* style)
{
    // The button pieces belong to buttoned bars only.
    const int used = buttoned() ? BOX_COUNT : BOX_LESS_UP;
    if (style && style->get_image_cache_loaded()) {
        for (int i = 0; i < used; ++i) {
            if (IMAGE_BOX* from = style->runtime_cache[STYLE_FIRST_BAR_SLOT + i]) {
                image_boxes[i] = *from;
            }
        }
    } else if (!name) {
        clear_images();
        return false;
    } else {
        char skin[SKIN_NAME_MAX];
        for (int i = 0; i < used; ++i) {
            const int n = std::snprintf(skin, sizeof skin, "%s%s", name, box_suffixes[i]);
            // A name that does not fit names no file of ours.
            if (n < 0 || static_cast<std::size_t>(n) >= sizeof skin) {
                image_boxes[i].clear_images();
            } else {
                image_boxes[i].load_images(folder_path, skin, 0);
            }
        }
    }
    for (int i = used; i < BOX_COUNT; ++i) {
        image_boxes[i].clear_images();
    }
    return is_graphical();
}

void WM_SCROLLBAR::clear_images()
{
    for (IMAGE_BOX& box : image_boxes) {
        box.clear_images();
    }
}

bool WM_SCROLLBAR::is_graphical()
{
    for (int i : {BOX_BAR, BOX_SLIDER_UP, BOX_SLIDER_DOWN}) {
        if (!image_boxes[i].are_images_valid()) {
            return false;
        }
    }
    if (buttoned()) {
        for (int i : {BOX_LESS_UP, BOX_LESS_DOWN, BOX_MORE_UP, BOX_MORE_DOWN}) {
            if (!image_boxes[i].are_images_valid()) {
                return false;
            }
        }
    }
    return true;
}

long WM_SCROLLBAR::value()
{
    return param->get_long(param->value);
}

void WM_SCROLLBAR::set_value(long v)
{
    // The parameter stores at its own width before it clamps, so a step
    // past the width would wrap (a u8 at 0 stepping down would land on its
    // maximum); whole-number types are clamped here first.
    const long lo = param->get_long(param->min), hi = param->get_long(param->max);
    if (param->type <= LAST_INTEGER_PARAM && lo <= hi) {
        v = v < lo ? lo : v > hi ? hi : v;
    }
    param->set(param->value, v);
}

bool WM_SCROLLBAR::movable()
{
    return travel > 0 && range() > 0;
}

long WM_SCROLLBAR::range()
{
    long r;
    if (__builtin_sub_overflow(param->get_long(param->max), param->get_long(param->min), &r)) {
        return 0;
    }
    return r;
}

long WM_SCROLLBAR::slider_pos(long v)
{
    // An empty range or no travel leaves nothing to divide by: the slider
    // sits at its start.
    if (!movable()) {
        return travel_start;
    }
    const long from = horizontal() ? param->get_long(param->min) : param->get_long(param->max);
    long offset;
    if (__builtin_sub_overflow(horizontal() ? v : from, horizontal() ? from : v, &offset)) {
        offset = 0;
    }
    long q = mul_div(travel, offset, range());
    q = q < -32768 ? -32768 : q > 32767 ? 32767 : q;
    return travel_start + q;
}

long WM_SCROLLBAR::step_of(SCROLLBAR_BUTTON_DOWN_TYPE action)
{
    if (movement_callback) {
        return movement_callback(this, action);
    }
    return action <= 2 ? line_step : page_step;
}

void WM_SCROLLBAR::apply(SCROLLBAR_BUTTON_DOWN_TYPE action)
{
    const long step = step_of(action);
    const bool up = action == 1 || action == 3;
    const long down = step == std::numeric_limits<long>::min() ? std::numeric_limits<long>::max() : -step;
    set_value(add_saturated(value(), up ? step : down));
}

void WM_SCROLLBAR::update_hover(INT_S16 mx, INT_S16 my)
{
    const long w = width, h = height, b = button_sz, s = slider_sz;
    const long pos = slider_pos(old_value);
    const bool skinned = is_graphical();
    // Strictly inside (x1, x2) x (y1, y2).
    auto in = [mx, my](long x1, long x2, long y1, long y2) { return x1 < mx && mx < x2 && y1 < my && my < y2; };
    const long r = x + w - 1, btm = y + h - 1; // last column and row
    bool slider, bar, less, more;
    if (horizontal()) {
        slider = in(pos - s, pos - 1, y, btm);
        less = skinned ? in(x, x + b - 1, y, btm) : in(x + 2, x + b + 1, y + 2, btm - 2);
        more = skinned ? in(x + w - b, r, y, btm) : in(x + w - b - 3, r - 2, y + 2, btm - 2);
    } else {
        slider = in(x, r, pos, pos + s - 1);
        less = skinned ? in(x, r, y + h - b, btm) : in(x + 2, r - 2, y + h - b - 2, btm - 2);
        more = skinned ? in(x, r, y, y + b - 1) : in(x + 2, r - 2, y + 2, y + b + 1);
    }
    if (skinned && type == 1) {
        bar = in(x + b, x + w - b - 1, y, btm);
    } else if (skinned && type == 3) {
        bar = in(x, r, y + b, y + h - b - 1);
    } else {
        bar = in(x, r, y, btm);
    }
    const INT_U8 now[4] = {bar, slider, less, more};
    INT_U8* flags[4] = {&over_bar, &over_slider, &over_less, &over_more};
    bool changed = false;
    for (int i = 0; i < 4; ++i) {
        changed = changed || *flags[i] != now[i];
    }
    if (changed) {
        redraw_if_visible();
        for (int i = 0; i < 4; ++i) {
            *flags[i] = now[i];
        }
    }
}

SCROLLBAR_BUTTON_DOWN_TYPE WM_SCROLLBAR::press_action(long a)
{
    if (!movable()) {
        return 0;
    }
    const long s = slider_sz, ts = travel_start, end = long{travel_start} + travel;
    const long pos = slider_pos(value());
    const bool buttons = buttoned();
    if (horizontal()) {
        return buttons && a < ts - s ? 2 : a < pos - s ? 4 : buttons && a > end ? 1 : a > pos ? 3 : 0;
    }
    return buttons && a < ts ? 1 : a < pos ? 3 : buttons && a > end + s ? 2 : a > pos + s ? 4 : 0;
}

void WM_SCROLLBAR::grab(INT_S16 mx, INT_S16 my, long a)
{
    const long s = slider_sz, ts = travel_start, end = long{travel_start} + travel;
    const bool band = horizontal() ? (y <= my && my < y + long{height} && ts - s <= mx && mx <= end)
                                   : (x <= mx && mx < x + long{width} && ts <= my && my <= end + s);
    if (button_down || last_left_button || !band) {
        return;
    }
    dragging = 1;
    const long pos = slider_pos(value());
    const bool on_slider = horizontal() ? (pos - s < a && a < pos) : (pos < a && a < pos + s);
    drag_offset = on_slider ? static_cast<INT_S32>(pos - a + 1) : 0;
}

void WM_SCROLLBAR::drag(long a)
{
    // Without travel or range a drag has nothing to map onto.
    if (!movable()) {
        return;
    }
    const long ts = travel_start, end = long{travel_start} + travel;
    long q = a + drag_offset;
    if (q < ts + 2) {
        q = ts;
    } else if (q > end - 2) {
        q = end;
    }
    const long lo = param->get_long(param->min), part = mul_div(q - ts, range(), travel);
    set_value(horizontal() ? lo + part : lo + range() - part);
}

void WM_SCROLLBAR::read_key()
{
    // A focused bar takes every pending code, handled or not.
    const INT_S32 code = KEYBOARD::get_code();
    if (code < 0) {
        return;
    }
    const bool mod = KEYBOARD::get_key_value(KEY_COMMAND) || KEYBOARD::get_key_value(KEY_CONTROL);
    const INT_U32 key = static_cast<INT_U32>(code);
    const long lo = param->get_long(param->min), hi = param->get_long(param->max);
    if (horizontal()) {
        switch (key) {
        case KEY_HOME: set_value(lo); break;
        case KEY_END: set_value(hi); break;
        case KEY_LEFT: apply(mod ? 4 : 2); break;
        case KEY_RIGHT: apply(mod ? 3 : 1); break;
        default: break;
        }
        return;
    }
    // Page Up pages towards the minimum (the slider moves down), as Command
    // with the down arrow does; Page Down the other way.
    switch (key) {
    case KEY_HOME:
        if (mod) {
            set_value(hi);
        }
        break;
    case KEY_END:
        if (mod) {
            set_value(lo);
        }
        break;
    case KEY_UP: apply(mod ? 3 : 1); break;
    case KEY_DOWN: apply(mod ? 4 : 2); break;
    case KEY_PAGE_UP: apply(4); break;
    case KEY_PAGE_DOWN: apply(3); break;
    default: break;
    }
}

// One pass, in the order the state moves:
//   button up                      -> idle (drag and held action dropped)
//   down, inside, action held      -> repeat after the delay, then at the rate
//   down, inside, idle             -> the press rule picks an action (one step now)
//   down, no action, fresh press on the slider band -> dragging
//   down, outside                  -> the held action is dropped; a drag goes on
WM_MESG WM_SCROLLBAR::monitor()
{
    const WM_MESG base = WM_SCREEN_OBJECT::monitor();
    if (base || !visible) {
        return base;
    }
    bool redraw = false;
    if (enabled) {
        const INT_U32 now = now_ms;
        const INT_S16 mx = MOUSE::x, my = MOUSE::y;
        const bool left = (MOUSE::buttons & 1) != 0;
        const long a = horizontal() ? mx : my;
        update_hover(mx, my);
        const bool inside = is_in_it(mx, my) != 0;
        if (!inside && left) {
            redraw = redraw || button_down;
            button_down = 0;
        }
        if (inside && mouse_wheel_focus != this) {
            mouse_wheel_focus = this;
            MOUSE::wheel_pos = 0;
        }
        if (mouse_wheel_focus == this) {
            const long count = static_cast<INT_S16>(MOUSE::wheel_pos);
            MOUSE::wheel_pos = 0;
            if (count) {
                set_value(add_saturated(value(), count * wheel_step));
            }
        }
        if (focal_object == this) {
            read_key();
        }
        if (!left) {
            redraw = redraw || dragging || button_down;
            dragging = 0;
            button_down = 0;
        } else {
            bool repeated = false;
            if (inside) {
                take_focus();
                if (button_down) {
                    // Unsigned differences keep working across the counter's wrap.
                    const INT_U32 wait = repeating ? button_auto_repeat_rate : button_auto_repeat_threshhold;
                    if (now - repeat_ms > wait) {
                        apply(button_down);
                        repeating = 1;
                        repeat_ms = now;
                        redraw = true;
                    }
                    repeated = true;
                } else if (!dragging) {
                    if (const SCROLLBAR_BUTTON_DOWN_TYPE action = press_action(a)) {
                        button_down = action;
                        repeat_ms = now;
                        repeating = 0;
                        apply(action);
                        redraw = true;
                    }
                }
            }
            if (!repeated) {
                grab(mx, my, a);
                if (dragging) {
                    drag(a);
                }
            }
        }
        last_left_button = left ? 1 : 0;
    }
    if (value() == old_value) {
        if (redraw && visible) {
            request_draw();
        }
        return WM_MESG_NONE;
    }
    redraw_if_visible();
    const WM_MESG result = callback ? callback(this, callback_data1, callback_data2) : 0;
    old_value = value();
    return result;
}
