// WM_KEYBOARD_DIALOG: what differs from a dialog is its three children,
// laid out once: the echo edit on top, the keyboard below it and "Close" in
// the bottom right corner.
#include "wm_keyboard_dialog.h"

#include "wm_button.h"
#include "wm_text_edit.h"

#include <cstdint>

WM_KEYBOARD_DIALOG::WM_KEYBOARD_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title, const char* text,
                                       INT_S16 max_length, WM_OBJECT_CALLBACK callback, void* data1, void* data2,
                                       WM_STYLE_SET& keyboard_style, WM_STYLE_SET& edit_style,
                                       WM_STYLE_SET* dialog_style, WM_STYLE_SET* title_style,
                                       WM_STYLE_SET* object_style, WMK_KEY_MAPPING* mapping, INT_U8 trigger_bits,
                                       INT_U8 close_deletes, INT_U8 no_input_taken, INT_U8 hints)
    : WM_DIALOG(x, y, w, h, title, dialog_style, title_style, object_style, nullptr), edit(nullptr), keyboard(nullptr),
      close_button(nullptr)
{
    const int cw = contents->width, ch = contents->height;
    const int ys = dialog_style_set.y_spacing;
    WM_STYLE_SET& o = object_style_set;
    auto gap = [&](INT_S16 g) { return g == -1 ? static_cast<int>(get_shading_size(o.shading_type)) : g; };
    const INT_S8 font = o.font_id != -1 || !surface ? o.font_id : surface->font_slot;
    const INT_S16 font_w = o.font_x_sz != -1 || !surface ? o.font_x_sz : surface->font_width;
    const INT_S16 font_h = o.font_y_sz != -1 || !surface ? o.font_y_sz : surface->font_height;
    const int button_h = gap(o.border_top_gap) + gap(o.border_bottom_gap) + font_h;
    const int caption_w = surface ? surface->get_string_width(font, font_w, font_h, "Close", -1, 0) : 0;
    auto s16 = [](int v) { return static_cast<INT_S16>(v); };

    // One pixel narrower than the contents: the edit takes a width, not a right edge.
    edit = new WM_TEXT_EDIT(0, 0, s16(cw - 1), max_length, text, edit_style, callback, data1, data2);
    keyboard = new WM_KEYBOARD(0, s16(edit->height + ys), s16(cw - 1), s16(ch - 2 * ys - button_h - 1), keyboard_style,
                               mapping, trigger_bits, no_input_taken, hints);
    const WM_MESG close_code = close_deletes ? WM_MESG_CLOSE_MODAL : WM_MESG_CLOSE_DIALOG;
    void* close_result = reinterpret_cast<void*>(static_cast<std::intptr_t>(close_code));
    close_button = new WM_BUTTON(s16(cw - (gap(o.border_left_gap) + gap(o.border_right_gap) + caption_w) - 1),
                                 s16(ch - ys - button_h - 1), s16(cw - 1), s16(ch - ys - 1), o, "Close", "",
                                 close_button_callback, close_result, nullptr, 2);
    add_object(keyboard, 1);
    add_object(edit, 1);
    add_object(close_button, 1);
    type |= WM_TYPE_KEYBOARD_DIALOG;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

WM_KEYBOARD_DIALOG::~WM_KEYBOARD_DIALOG()
{
    // Deleted by a shut-down or a clear rather than by hide_keyboard: no
    // edit may go on reaching for it.
    if (WM_TEXT_EDIT::soft_keyboard == this) {
        WM_TEXT_EDIT::soft_keyboard = nullptr;
    }
}

WM_MESG WM_KEYBOARD_DIALOG::close_button_callback(WM_SCREEN_OBJECT*, void* data1, void*)
{
    return static_cast<WM_MESG>(reinterpret_cast<std::intptr_t>(data1));
}
