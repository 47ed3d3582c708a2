// The list box: construction, lines and selection, the readout cut to the
// face, and the pass that steps by the wheel and reports each change once.
#include "wm_list_box.h"

#include "mouse.h"
#include "wm_floating_menu.h"
#include "wm_grid.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// The face of the colour form: caption on the left, a down arrow.
constexpr INT_U32 colour_form_draw_flags = BUTTON_TEXT_LEFT | BUTTON_ARROW_DOWN;

// The grid of a popup takes no more rows than this.
constexpr INT_S16 max_lines = 1024;

EFFECT_INFO* effect_or_default(EFFECT_INFO* effect)
{
    return effect ? effect : &WM_LIST_BOX::default_list_box_effect_info;
}

} // namespace

// ---- construction -------------------------------------------------------------------

WM_LIST_BOX::WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16, INT_S16 count,
                         const char* const* lines, INT_S16 start, WM_STYLE_SET& button_style, WM_STYLE_SET& popup_style,
                         WM_STYLE_SET&, WM_STYLE_SET* item_style, WM_STYLE_SET* s2, WM_STYLE_SET* s4, WM_STYLE_SET* s5,
                         WM_OBJECT_CALLBACK change, void* data1, void* data2, EFFECT_INFO* effect)
    : WM_MENU(x1, y1, x2, y2, "", 0, button_style, popup_style, item_style, s2, nullptr, s4, s5,
              effect_or_default(effect), nullptr),
      change_callback(change), change_data1(data1), change_data2(data2)
{
    setup(count, lines, start);
}

WM_LIST_BOX::WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16, INT_S16 count,
                         const char* const* lines, INT_S16 start, WM_STYLE_SET& button_style, WM_STYLE_SET&,
                         WM_STYLE_SET& popup_style, WM_STYLE_SET&, WM_STYLE_SET* item_style, WM_OBJECT_CALLBACK change,
                         void* data1, void* data2, WM_STYLE_SET* s2, EFFECT_INFO* effect)
    : WM_MENU(x1, y1, x2, y2, "", 0, button_style, popup_style, item_style, s2, nullptr, nullptr, nullptr,
              effect_or_default(effect), nullptr),
      change_callback(change), change_data1(data1), change_data2(data2)
{
    setup(count, lines, start);
}

WM_LIST_BOX::WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16, INT_S16 count,
                         const char* const* lines, INT_S16 start, COLOUR c1, COLOUR c2, COLOUR c3, INT_U8 visible,
                         WM_OBJECT_CALLBACK change, void* data1, void* data2, EFFECT_INFO* effect)
    : WM_MENU(x1, y1, x2, y2, c1, c2, c3, c2, "", visible, 0, effect_or_default(effect)), change_callback(change),
      change_data1(data1), change_data2(data2)
{
    set_draw_flags(colour_form_draw_flags);
    setup(count, lines, start);
}

void WM_LIST_BOX::setup(INT_S16 count, const char* const* lines, INT_S16 start)
{
    type |= WM_TYPE_LIST_BOX;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
    show_line_image = 1;
    line_count = 0;
    refresh = 0;
    notify = 0;
    current_data = nullptr;
    pointer_was_over = 0;
    current_selection = reported_selection = -1;
    // The popup refuses rows past its limit anyway; the clamp spares a
    // damaged count thousands of refused attempts.
    const int n = lines ? std::clamp<int>(count, 0, max_lines) : 0;
    for (int i = 0; i < n; ++i) {
        add_line(lines[i], reinterpret_cast<void*>(static_cast<std::intptr_t>(i)), 0, 1, 0);
    }
    if (line_count > 0) {
        set_current_selection(start, 1);
    }
}

// ---- lines ---------------------------------------------------------------------------

WM_BUTTON* WM_LIST_BOX::add_line(const char* text, void* data, INT_U8 sub_menu, INT_U8 use_data, INT_U8 separator)
{
    if (!text || !popup) {
        return nullptr;
    }
    // A separator takes the index before the line's.
    const INT_S16 index = static_cast<INT_S16>(line_count + (separator ? 1 : 0));
    WM_BUTTON* row = nullptr;
    if (sub_menu) {
        row = popup->add_menu(text, separator, 1, nullptr, nullptr);
    } else {
        void* user = use_data ? data : reinterpret_cast<void*>(static_cast<std::intptr_t>(index));
        row = popup->add_button(text, list_box_selection_callback, this, user, separator);
    }
    // Counting what the popup holds keeps line indices equal to row numbers
    // when it refused the line (and perhaps took its separator).
    line_count = popup->row_count;
    position_popup();
    if (!row) {
        return nullptr;
    }
    if (index == current_selection || (separator && index - 1 == current_selection)) {
        update_current_selection();
    }
    return row;
}

INT_S16 WM_LIST_BOX::clamp_line(long index)
{
    return static_cast<INT_S16>(std::clamp<long>(index, 0, line_count - 1));
}

void WM_LIST_BOX::select(INT_S16 index, INT_U8 report)
{
    current_selection = index;
    update_current_selection();
    redraw_if_visible();
    notify = report;
}

void WM_LIST_BOX::set_current_selection(INT_S16 index, INT_U8 quiet)
{
    if (line_count <= 0) {
        return;
    }
    const INT_S16 line = clamp_line(index);
    if (line != current_selection) {
        select(line, quiet ? 0 : 1);
    }
}

void WM_LIST_BOX::set_selection_from_data(void* data, INT_U8 quiet)
{
    for (INT_S16 i = 0; popup && i < line_count; ++i) {
        WM_BUTTON* line = popup->get_button(i);
        if (line && line->callback_data2 == data) {
            set_current_selection(i, quiet);
            return;
        }
    }
}

WM_MESG WM_LIST_BOX::list_box_selection_callback(WM_SCREEN_OBJECT* line, void* box, void*)
{
    auto* self = static_cast<WM_LIST_BOX*>(box);
    if (!self || !self->popup) {
        return WM_MESG_NONE;
    }
    for (INT_S16 i = 0; i < self->line_count; ++i) {
        if (self->popup->get_button(i) == line) {
            if (i != self->current_selection) {
                self->select(i, 1);
            }
            return WM_MESG_NONE;
        }
    }
    return WM_MESG_NONE;
}

// ---- readout -------------------------------------------------------------------------

void WM_LIST_BOX::update_current_selection()
{
    WM_BUTTON* line = popup && current_selection >= 0 ? popup->get_button(current_selection) : nullptr;
    if (!line) {
        set_string("", 0);
        return;
    }
    current_data = line->callback_data2;
    if (show_line_image) {
        icon.reset(line->icon.width, line->icon.height);
        icon.copy(&line->icon, 0, 0, 0, 0, line->icon.width, line->icon.height, IMAGE_COPY_REPLACE);
        redraw_if_visible();
    }
    set_readout_string(line->caption);
}

void WM_LIST_BOX::set_readout_string(const char* text)
{
    if (!text) {
        set_string("", 0);
        return;
    }
    IMAGE scratch;
    IMAGE* s = surface ? surface : &scratch;
    const auto font = static_cast<INT_S8>(static_cast<INT_U8>(font_id) == 0xFF ? s->font_slot : font_id);
    const INT_S16 fx = font_x_sz == -1 ? s->font_width : font_x_sz;
    const INT_S16 fy = font_y_sz == -1 ? s->font_height : font_y_sz;
    const long room = long{width} - border_left_gap - border_right_gap;
    std::string cut(text);
    while (!cut.empty() && s->get_string_width(font, fx, fy, cut.c_str(), -1, 0) > room) {
        cut.pop_back();
    }
    set_string(cut.c_str(), 0);
}

// ---- passes ----------------------------------------------------------------------------

void WM_LIST_BOX::mark_current_line()
{
    // Just opened (not drawn yet, no row focused) with no mouse button
    // down: by Return or the hotkey. The pointer's own opening marks nothing.
    if (!popup_open || !popup || !popup->visible || popup->drawn || !popup->grid ||
        popup->grid->childrens_allowed_focus || (MOUSE::buttons & 1) || current_selection < 0) {
        return;
    }
    popup->set_childrens_allowed_focus(1);
    popup->focus_row(current_selection);
}

WM_MESG WM_LIST_BOX::monitor()
{
    const WM_MESG menu_result = WM_MENU::monitor();
    mark_current_line();
    if (menu_result) {
        return menu_result;
    }
    // Wheel turns made before the pointer came over the box are not for it.
    const bool over = is_in_it(MOUSE::x, MOUSE::y) != 0;
    if (over && !pointer_was_over) {
        MOUSE::wheel_pos = 0;
    }
    pointer_was_over = over ? 1 : 0;
    const auto wheel = static_cast<INT_S16>(MOUSE::wheel_pos & 0xFFFF);
    if (over && wheel) {
        MOUSE::wheel_pos = 0;
        if (line_count > 0) {
            // Turning up (positive) moves towards the first line.
            const INT_S16 line = clamp_line(static_cast<INT_S16>(current_selection - wheel));
            if (line != current_selection) {
                select(line, 1);
            }
        }
    }

    if (current_selection == reported_selection && !refresh) {
        return WM_MESG_NONE;
    }
    refresh = 0;
    update_current_selection();
    WM_MESG result = 0;
    if (current_selection != reported_selection) {
        if (notify && change_callback) {
            result = report_as_held(change_callback, change_data1, change_data2);
        }
        reported_selection = current_selection;
    }
    return result;
}

void WM_LIST_BOX::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    WM_MENU::resize(nw, nh, children);
    refresh = 1;
}
