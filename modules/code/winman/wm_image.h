#ifndef KIVO_WM_IMAGE_H
#define KIVO_WM_IMAGE_H

// WM_IMAGE: a picture in a rectangle of a page that can act as a button.
// A press and/or a release of the left button over it (or of the return
// key while it holds the focus) plays the action sound and calls its
// callback with the click position.
#include "wm_screen_object.h"

class FOLDER;

class WM_IMAGE : public WM_SCREEN_OBJECT
{
public:
    // trigger: bit 0 fires on press, bit 1 on release.
    WM_IMAGE(INT_S16 x, INT_S16 y, INT_S16 width, INT_S16 height, INT_U8 visible, WM_OBJECT_CALLBACK callback,
             void* data1, void* data2, INT_U8 trigger);
    ~WM_IMAGE() override;

    WM_MESG monitor() override;
    // The picture follows the new size (resampled; quality unless
    // IMAGE::use_quick_resize).
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    // A width or height below 1 takes the picture's size; otherwise the
    // picture is fitted to the widget in place (lossy).
    void prepare_draw() override;
    // The picture, centred, with the border and, while focused or under the
    // pointer, the highlight.
    void draw_object() override;

    // The picture shown, copied. The widget takes the picture's size; with
    // fit it keeps its own and the picture is resampled to it (quality
    // unless IMAGE::use_quick_resize).
    void set_picture(const IMAGE& source, bool fit = false);
    // The picture from a file, at the widget's size.
    void load_picture(FOLDER& folder, const char* file_name);

    IMAGE picture;
    INT_U8 button_down;       // left button (or the return key) at the last pass
    INT_U8 continuous;        // a held press fires on every pass
    INT_S16 click_x, click_y; // relative to the top-left while the callback runs; -1 otherwise
    INT_U16 shading_flags;    // edge flags of the border; 0 = none
    INT_U8 trigger;           // 1 fire on press, 2 on release
    INT_U8 pointer_over;
    COLOUR highlight_colour; // filled over the picture when its alpha is non-zero
    INT_U8 key_down;         // the return key at the last pass
    INT_U8 show_clickable_cursor;

    // 0 (wm_context.h)
    static inline INT_U8& default_show_clickable_cursor = wm_context.state.image.default_show_clickable_cursor;
};

#endif
