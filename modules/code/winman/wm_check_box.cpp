// WM_CHECK_BOX: what differs from a screen object is the pair of buttons it
// builds as children and the state their clicks toggle.
#include "wm_check_box.h"

#include "wm_names.h"

WM_CHECK_BOX::WM_CHECK_BOX(INT_S16 x, INT_S16 y, COLOUR background, COLOUR text, const char* caption, char font_id,
                           INT_S16 font_x_sz, INT_S16 font_y_sz, WM_OBJECT_CALLBACK user_callback, void* user1,
                           void* user2, INT_U8 visible)
    : WM_SCREEN_OBJECT(visible, user_callback, user1, user2), checked(0), box_button(nullptr), label_button(nullptr)
{
    setup(x, y, background, text, caption, font_id, font_x_sz, font_y_sz);
}

WM_CHECK_BOX::WM_CHECK_BOX(INT_S16 x, INT_S16 y, WM_STYLE_SET& style, const char* caption,
                           WM_OBJECT_CALLBACK user_callback, void* user1, void* user2)
    : WM_SCREEN_OBJECT(style.visible, user_callback, user1, user2), checked(0), box_button(nullptr),
      label_button(nullptr)
{
    setup(x, y, style.bg_colour, style.fg_colour, caption, style.font_id, style.font_x_sz, style.font_y_sz);
    if (style.image_filename) {
        box_button->set_images(style.image_path, style.image_filename, nullptr);
    }
    if (style.ssf & SSF_DONT_RESIZE_IMAGE) {
        box_button->set_draw_flags(box_button->draw_flags | BUTTON_DONT_RESIZE_IMAGE);
    }
}

// The base deletes both buttons with the other children.
WM_CHECK_BOX::~WM_CHECK_BOX() = default;

void WM_CHECK_BOX::setup(INT_S16 x, INT_S16 y, COLOUR background, COLOUR text, const char* caption, char font_id,
                         INT_S16 font_x_sz, INT_S16 font_y_sz)
{
    checked = 0;
    const int fx = font_x_sz == -1 && surface ? surface->font_width : font_x_sz;
    const int fy = font_y_sz == -1 && surface ? surface->font_height : font_y_sz;
    const int gap = fx / 2;
    // The box holds one character of the font inside its border.
    const int border = 2 * get_shading_size(1);
    const int box_w = fx + border < 10 ? 10 : fx + border;
    const int box_h = fy + border < 10 ? 10 : fy + border;

    box_button =
        new WM_BUTTON(x, y, static_cast<INT_S16>(x + box_w - 1), static_cast<INT_S16>(y + box_h - 1), background, text,
                      "", font_id, font_x_sz, font_y_sz, 0, BUTTON_FIXED_RELIEF, 0x800F, callback, this, nullptr, 1, 2);
    box_button->activated_callback = activated_callback;
    box_button->activated_data = this;
    box_button->activated = activated_callback(box_button, this);
    box_button->can_focus = 1;
    add_object(box_button, 0);

    // Corners one short of the start on both axes: sized to the caption
    // wherever the check box stands (-1, -1 would not be left of a
    // negative x).
    const INT_S16 label_x = static_cast<INT_S16>(x + gap + box_w);
    label_button = new WM_BUTTON(label_x, y, static_cast<INT_S16>(label_x - 1), static_cast<INT_S16>(y - 1),
                                 COLOUR_INVISIBLE, text, caption, font_id, font_x_sz, font_y_sz, 0, BUTTON_FIXED_RELIEF,
                                 0, callback, this, nullptr, 1, 2);
    add_object(label_button, 0);

    this->x = x;
    this->y = y;
    width = static_cast<INT_S16>(gap + label_button->width + box_w);
    height = label_button->height > box_button->height ? label_button->height : box_button->height;
    type |= WM_TYPE_CHECK_BOX;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

void WM_CHECK_BOX::show_state()
{
    if (!box_button->is_graphical()) {
        box_button->set_string(checked ? "X" : " ", 0);
    }
}

void WM_CHECK_BOX::set_checked(INT_U8 state)
{
    checked = state;
    show_state();
    redraw_if_visible();
}

WM_MESG WM_CHECK_BOX::callback(WM_SCREEN_OBJECT*, void* check_box, void*)
{
    WM_CHECK_BOX* self = static_cast<WM_CHECK_BOX*>(check_box);
    if (!self) {
        return WM_MESG_NONE;
    }
    self->checked = self->checked ? 0 : 1;
    self->show_state();
    self->redraw_if_visible();
    // The inner button has played it for this click already; playing
    // again restarts it.
    if (action_sound.is_loaded()) {
        action_sound.platform_play();
    }
    if (WM_OBJECT_CALLBACK user = self->WM_SCREEN_OBJECT::callback) {
        user(self, self->callback_data1, self->callback_data2);
    }
    // The inner button hands this up as "input taken".
    return WM_MESG_NONE;
}

INT_U8 WM_CHECK_BOX::activated_callback(WM_BUTTON*, void* check_box)
{
    return check_box ? static_cast<WM_CHECK_BOX*>(check_box)->checked : 0;
}

INT_U8 WM_CHECK_BOX::can_have_focus()
{
    const bool focusable = box_button->can_focus || label_button->can_focus;
    const bool usable = box_button->enabled || label_button->enabled;
    return focusable && usable ? 1 : 0;
}

void WM_CHECK_BOX::hide(INT_U8 modals, INT_U8)
{
    WM_SCREEN_OBJECT::hide(modals, 1);
}

void WM_CHECK_BOX::resize(INT_S16, INT_S16, INT_U8) {}

void WM_CHECK_BOX::draw_object() {}
