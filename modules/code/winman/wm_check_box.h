#ifndef KIVO_WM_CHECK_BOX_H
#define KIVO_WM_CHECK_BOX_H

// WM_CHECK_BOX: a two-state widget made of two buttons, both its children:
// a square box that shows the state ("X" or a space, or its activated
// skins when it has skins) and a caption to its right. A click on either
// toggles the state and calls the check box's own callback.
#include "colour.h"
#include "kivo_types.h"
#include "wm_button.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class WM_CHECK_BOX : public WM_SCREEN_OBJECT
{
public:
    INT_U8 checked;          // 0 or 1
    WM_BUTTON* box_button;   // child
    WM_BUTTON* label_button; // child

    // Font -1 and sizes -1 take the surface's. The user's callback gets
    // (check box, user1, user2) after each toggle; its result is ignored.
    WM_CHECK_BOX(INT_S16 x, INT_S16 y, COLOUR background, COLOUR text, const char* caption, char font_id,
                 INT_S16 font_x_sz, INT_S16 font_y_sz, WM_OBJECT_CALLBACK user_callback, void* user1, void* user2,
                 INT_U8 visible);
    // Colours and font from the style; the box takes the style's skins.
    WM_CHECK_BOX(INT_S16 x, INT_S16 y, WM_STYLE_SET& style, const char* caption, WM_OBJECT_CALLBACK user_callback,
                 void* user1, void* user2);
    ~WM_CHECK_BOX() override;

    // Always hides the two buttons with it.
    void hide(INT_U8 modals, INT_U8 children) override;
    // Keeps the size setup gave it.
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    // A button that may take the focus and one that is enabled.
    INT_U8 can_have_focus() override;
    // The buttons draw; the check box itself draws nothing.
    void draw_object() override;

    void setup(INT_S16 x, INT_S16 y, COLOUR background, COLOUR text, const char* caption, char font_id,
               INT_S16 font_x_sz, INT_S16 font_y_sz);
    // The box's activated look follows on its next pass.
    void set_checked(INT_U8 state);

    // The inner buttons' callback (check_box: the WM_CHECK_BOX). Hides the
    // inherited field: the user's callback is WM_SCREEN_OBJECT::callback.
    static WM_MESG callback(WM_SCREEN_OBJECT* button, void* check_box, void* unused);
    // The box's activated_callback: the state.
    static INT_U8 activated_callback(WM_BUTTON* button, void* check_box);

private:
    // A box without skins shows the state as its caption.
    void show_state();
};

#endif
