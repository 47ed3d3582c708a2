#ifndef KIVO_WM_MANAGER_H
#define KIVO_WM_MANAGER_H

// WM_MANAGER: the root of one widget tree (each page-manager area, each
// dialog's contents). It draws nothing, never takes the focus, takes the
// window's size while its own is 0, and clips the redraw of its tree to
// its rectangle.
#include "wm_screen_object.h"

class WM_MANAGER : public WM_SCREEN_OBJECT
{
public:
    explicit WM_MANAGER(INT_U8 visible = 1, WM_OBJECT_CALLBACK callback = nullptr, void* data1 = nullptr,
                        void* data2 = nullptr);
    ~WM_MANAGER() override = default;

    // Marks only the new rectangle, through request_draw; children keep
    // their size whatever the flag says.
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    INT_U8 can_have_focus() override;
    // A size of 0 becomes window 0's size, stored in the field.
    INT_S16 get_width() override;
    INT_S16 get_height() override;
    void check_for_redraw() override;
    void draw_object() override;
};

#endif
