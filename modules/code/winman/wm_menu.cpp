// WM_MENU: what a menu adds to its button: the owned popup, its placement
// and flip, opening and closing, the group ring and the switching of open
// popups between members.
#include "wm_menu.h"

#include "mouse.h"
#include "wm_floating_menu.h"
#include "wm_names.h"
#include "wm_page_services.h"
#include "wm_s16.h"

namespace {

constexpr INT_U16 ALL_EDGES = 15;
constexpr INT_U8 TRIGGER_PRESS = 1;

// The page manager's popup area; without one, the surface.
void popup_area(int& x1, int& y1, int& x2, int& y2)
{
    if (WM_PAGE_SERVICES* services = WM_SCREEN_OBJECT::page_services()) {
        INT_S16 a, b, c, d;
        services->get_popup_area(a, b, c, d);
        x1 = a;
        y1 = b;
        x2 = c;
        y2 = d;
        return;
    }
    const IMAGE* s = WM_SCREEN_OBJECT::surface;
    x1 = y1 = 0;
    x2 = s ? s->width - 1 : 32767;
    y2 = s ? s->height - 1 : 32767;
}

} // namespace

WM_MENU::WM_MENU(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* caption, MENU_TYPE type,
                 WM_STYLE_SET& button_style, WM_STYLE_SET& popup_style, WM_STYLE_SET* item_style, WM_STYLE_SET* s2,
                 WM_STYLE_SET* s3, WM_STYLE_SET* s4, WM_STYLE_SET* s5, EFFECT_INFO* effect, WM_STYLE_SET* s6)
    : WM_BUTTON(x1, y1, x2, y2, button_style, caption, nullptr, menu_callback, nullptr, nullptr, TRIGGER_PRESS),
      popup(nullptr)
{
    callback_data1 = this;
    setup(type, popup_style, item_style, s2, s3, s4, s5, effect, s6);
    // Only later placements use them, as the popup is already placed.
    x_gap = button_style.x_spacing;
    y_gap = button_style.y_spacing;
}

WM_MENU::WM_MENU(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR c1, COLOUR c2, COLOUR c3, COLOUR c4,
                 const char* caption, INT_U8 visible, MENU_TYPE type, EFFECT_INFO* effect)
    : WM_BUTTON(x1, y1, x2, y2, c1, c2, caption, 0, 0, ALL_EDGES, menu_callback, nullptr, nullptr, visible,
                TRIGGER_PRESS),
      popup(nullptr)
{
    callback_data1 = this;
    WM_STYLE_SET style;
    style.fg_colour = c2;
    style.bg_colour = c1;
    style.highlight_colour = c3;
    style.highlight_text_colour = c4;
    style.shading_flags = ALL_EDGES;
    style.ssf = SSF_DRAW_BORDER | SSF_OUTSTANDING_BORDER;
    style.visible = visible;
    setup(type, style, nullptr, nullptr, nullptr, nullptr, nullptr, effect, nullptr);
}

void WM_MENU::setup(MENU_TYPE type, WM_STYLE_SET& popup_style, WM_STYLE_SET* item_style, WM_STYLE_SET* s2,
                    WM_STYLE_SET* s3, WM_STYLE_SET* s4, WM_STYLE_SET* s5, EFFECT_INFO* effect, WM_STYLE_SET* s6)
{
    popup_open = 0;
    next = previous = nullptr;
    parent_menu = nullptr;
    open_callback = nullptr;
    open_data1 = open_data2 = nullptr;
    x_gap = y_gap = 0;
    menu_type = type;

    WM_STYLE_SET items;
    if (item_style) {
        items = *item_style;
    } else {
        items.fg_colour = popup_style.fg_colour;
        items.bg_colour = popup_style.bg_colour;
        items.highlight_colour = popup_style.highlight_colour;
        items.highlight_text_colour = popup_style.highlight_text_colour;
        // The row with the focus is drawn as one under the pointer: the
        // popup style's own look for it, or the keys move an unseen mark.
        items.mouse_over_colour = popup_style.mouse_over_colour;
        items.mouse_over_text_colour = popup_style.mouse_over_text_colour;
        items.font_id = popup_style.font_id;
        items.font_x_sz = popup_style.font_x_sz;
        items.font_y_sz = popup_style.font_y_sz;
        items.ssf = SSF_LEFT_JUSTIFY_TEXT;
        items.ssef = SSEF_AUTO_DEPRESS;
    }
    popup = new WM_FLOATING_MENU(x, y, nullptr, popup_style, popup_style, items, s2, 0, 1, s3, s4, s5,
                                 effect ? effect : &default_menu_effect_info, s6);
    popup->owner = this;
    popup->no_delete = 1;
    fit_popup_width();

    if (menu_mode == 1 || menu_mode == 2) {
        redraw_if_visible();
        set_button_type(menu_mode == 1 ? 0 : 2);
    }
    this->type |= WM_TYPE_MENU;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
    position_popup();
}

WM_MENU::~WM_MENU()
{
    remove_from_group();
    if (popup) {
        // Whether open or still closing, nothing may keep pointing at it.
        remove_modal_object(popup, 1, 0);
        delete popup;
        popup = nullptr;
    }
}

void WM_MENU::fit_popup_width()
{
    const INT_S16 frame = to_s16(long{popup->width} - (popup->contents ? popup->contents->width : 0));
    popup->min_width = to_s16(long{width} - frame);
}

// ---- opening and closing ----------------------------------------------------------

WM_MESG WM_MENU::menu_callback(WM_SCREEN_OBJECT*, void* data, void*)
{
    WM_MENU* menu = static_cast<WM_MENU*>(data);
    if (!menu || !menu->popup) {
        return WM_MESG_NONE;
    }
    WM_FLOATING_MENU* p = menu->popup;
    // Before its first draw the popup has not opened yet: a second press
    // opens it again rather than closing what was never shown. One still
    // leaving opens again too, at once, its close cut short.
    if (p->is_modal_object() && p->drawn && !p->closing) {
        menu->close_popup(false);
        return WM_MESG_NONE;
    }
    if (p->closing) {
        p->hide(0, 0);
    }
    if (menu->open_callback) {
        menu->open_callback(menu, menu->open_data1, menu->open_data2);
    }
    menu->show_popup();
    p->reset();
    p->request_draw();
    menu->position_popup();
    return WM_MESG_NONE;
}

void WM_MENU::show_popup()
{
    if (!popup->is_modal_object()) {
        add_modal_object(popup, 0);
    }
    popup_open = 1;
}

void WM_MENU::close_popup(bool immediate)
{
    popup->hand_back_focus();
    popup->close(immediate, !popup->no_delete);
}

// ---- passes --------------------------------------------------------------------------

WM_MESG WM_MENU::monitor()
{
    if (popup_open && popup && !popup->visible) {
        remove_modal_object(popup, 0, 0);
        popup_open = 0;
    }
    return WM_BUTTON::monitor();
}

WM_MESG WM_MENU::update(INT_U8 modal)
{
    if (!visible) {
        return WM_MESG_NONE;
    }
    const WM_MESG r = WM_BUTTON::update(modal);
    if (r) {
        return r;
    }
    if (!popup_open || !popup || !popup->visible) {
        return WM_MESG_NONE;
    }
    if (popup->current_alpha != popup->target_alpha || popup->x != popup->slide_end.x ||
        popup->y != popup->slide_end.y) {
        return WM_MESG_NONE;
    }
    const INT_S16 px = MOUSE::x, py = MOUSE::y;
    if (WM_BUTTON::is_in_it(px, py) || popup->is_in_menu(px, py)) {
        return WM_MESG_NONE;
    }
    WM_MENU* member = find_group_member_at_pos(px, py);
    if (member && member != this && member->enabled && member->popup) {
        close_popup(true);
        clear_press();
        WM_FLOATING_MENU* other = member->popup;
        member->position_popup();
        if (member->open_callback) {
            member->open_callback(member, member->open_data1, member->open_data2);
        }
        // Hidden first, so that its showing starts over, at once.
        other->hide(0, 0);
        other->open_at_once();
        member->show_popup();
        other->request_draw();
        member->set_down(1);
        return WM_MESG_NONE;
    }
    if (button_type == 2) {
        close_popup(false);
        clear_press();
    }
    return WM_MESG_NONE;
}

// ---- placement -----------------------------------------------------------------------

void WM_MENU::position_popup()
{
    if (!popup || menu_type > 3) {
        return;
    }
    // Each type flips at most once: the new type's keep rule holds on the
    // side that made it flip. The bound only guards against a loop.
    for (int round = 0; round < 3; ++round) {
        const long w = width, h = height, gx = x_gap, gy = y_gap;
        long pw = popup->width, ph = popup->height;
        // Below, above, left, right.
        const long at[4][2] = {{x, y + h + gy}, {x, y - ph - gy}, {x - pw - gx, y}, {x + w + gx, y}};
        // Sized where it is, then moved once to the side's place kept
        // inside the area: a move walks every row of the popup, and moving
        // it beside the menu and back into the area for each added line
        // made filling a long list cost the square of its lines.
        popup->calc_new_size();
        popup->place_inside(to_s16(at[menu_type][0]), to_s16(at[menu_type][1]));
        int x1, y1, x2, y2;
        popup_area(x1, y1, x2, y2);
        pw = popup->width;
        ph = popup->height;
        const long below = y + h + gy + ph, above = y - gy - ph;
        const long left = x - gx - pw, right = x + w + gx + pw;
        MENU_TYPE flipped = menu_type;
        switch (menu_type) {
        case 0:
            if (below > y2 && above > y1) {
                flipped = 1;
            }
            break;
        case 1:
            if (!(below >= y2 || above >= y1)) {
                flipped = 0;
            }
            break;
        case 2:
            if (!(left >= x1 || right >= x2)) {
                flipped = 3;
            }
            break;
        default:
            if (!(left <= x1 || right <= x2)) {
                flipped = 2;
            }
            break;
        }
        if (flipped == menu_type) {
            return;
        }
        menu_type = flipped;
    }
}

void WM_MENU::hide(INT_U8 modals, INT_U8 children)
{
    WM_BUTTON::hide(modals, children);
    if (popup) {
        popup->hide_with_popup_children();
    }
}

void WM_MENU::move(INT_S16 nx, INT_S16 ny)
{
    if (nx == x && ny == y) {
        return;
    }
    WM_BUTTON::move(nx, ny);
    position_popup();
}

void WM_MENU::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    const bool shown = popup && popup->visible;
    WM_BUTTON::resize(nw, nh, children);
    if (!popup) {
        return;
    }
    fit_popup_width();
    popup->calc_new_size();
    if (shown) {
        popup->request_draw();
    }
    position_popup();
}

void WM_MENU::set_area(INT_S16 new_area)
{
    if (popup) {
        popup->set_area(new_area);
    }
    WM_BUTTON::set_area(new_area);
}

void WM_MENU::set_hotkey(unsigned long code)
{
    WM_BUTTON::set_hotkey(code);
    if (popup) {
        popup->close_key = static_cast<INT_S32>(hotkey);
    }
}

// ---- group ring ------------------------------------------------------------------------

void WM_MENU::add_to_group(WM_MENU* other)
{
    remove_from_group();
    if (!other || other == this) {
        return;
    }
    if (other->next && other->previous) {
        previous = other->previous;
        next = other;
        previous->next = this;
        other->previous = this;
    } else {
        next = previous = other;
        other->next = other->previous = this;
    }
}

void WM_MENU::remove_from_group()
{
    if (!next || !previous) {
        return;
    }
    if (next == previous) {
        next->next = next->previous = nullptr;
    } else {
        previous->next = next;
        next->previous = previous;
    }
    next = previous = nullptr;
}

WM_MENU* WM_MENU::find_group_member_at_pos(INT_S16 px, INT_S16 py)
{
    if (!next || !previous) {
        return nullptr;
    }
    if (is_in_it(px, py)) {
        return this;
    }
    for (WM_MENU* m = next; m && m != this; m = m->next) {
        if (m->is_in_it(px, py)) {
            return m;
        }
    }
    return nullptr;
}
