#ifndef KIVO_WM_KEYBOARD_DIALOG_H
#define KIVO_WM_KEYBOARD_DIALOG_H

// WM_KEYBOARD_DIALOG: the soft-keyboard window a text edit opens where
// there is no keyboard: from top to bottom an echo text edit, the
// on-screen keyboard and a "Close" button in the bottom right corner.
// Typing and handing the text back belong to the edit and the keyboard.
#include "kivo_types.h"
#include "wm_dialog.h"
#include "wm_keyboard.h"
#include "wm_style_set.h"

class WM_BUTTON;
class WM_TEXT_EDIT;

class WM_KEYBOARD_DIALOG : public WM_DIALOG
{
public:
    WM_TEXT_EDIT* edit;      // the echo field; in the contents
    WM_KEYBOARD* keyboard;   // in the contents
    WM_BUTTON* close_button; // "Close"; in the contents

    // x or y -1 centres the dialog (WM_DIALOG). text, max_length, callback
    // and its data go to the echo edit; trigger_bits, no_input_taken and
    // hints to the keyboard. close_deletes: "Close" removes and deletes the
    // dialog (1) or fades it out and keeps it (0). Null styles take the
    // dialog defaults.
    WM_KEYBOARD_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title, const char* text,
                       INT_S16 max_length, WM_OBJECT_CALLBACK callback, void* data1, void* data2,
                       WM_STYLE_SET& keyboard_style, WM_STYLE_SET& edit_style, WM_STYLE_SET* dialog_style,
                       WM_STYLE_SET* title_style, WM_STYLE_SET* object_style, WMK_KEY_MAPPING* mapping,
                       INT_U8 trigger_bits, INT_U8 close_deletes, INT_U8 no_input_taken, INT_U8 hints);
    // Forgets itself as the text edits' shared soft keyboard.
    ~WM_KEYBOARD_DIALOG() override;

    // "Close": data1 as the WM_MESG: WM_MESG_CLOSE_DIALOG closes the dialog
    // and keeps it, WM_MESG_CLOSE_MODAL has the modal pass remove and delete it.
    static WM_MESG close_button_callback(WM_SCREEN_OBJECT* button, void* data1, void* data2);
};

#endif
