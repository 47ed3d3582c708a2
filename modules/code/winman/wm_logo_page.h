#ifndef KIVO_WM_LOGO_PAGE_H
#define KIVO_WM_LOGO_PAGE_H

// The splash shown before an application's first page: one picture, or a
// composition of several, on the whole window with an optional line of
// text, for a number of whole seconds or until a left click. It is queued
// as a bare page descriptor (no page object, no data), so nothing is
// deleted when it is replaced. One logo per run.
#include "colour.h"
#include "folder.h"
#include "image.h"
#include "kivo_types.h"
#include "wm_screen_object.h"

class WM_PAGE_MANAGER;

// One picture of the composed form. flags: 1 offset from the left, 2 from
// the right (neither: centred across); 4 from the top, 8 from the bottom
// (neither: centred down). The box colour is drawn behind the picture
// when its alpha is not 0.
struct LOGO_IMAGE
{
    IMAGE image;
    INT_U8 flags;
    INT_S16 offset;
    COLOUR box_colour;
};

// File form: the picture `name` of `folder`, at window size when
// `scale_to_window`. Without a picture the goto function runs at once and
// nothing is queued.
void wm_logo_page(WM_PAGE_MANAGER& pm, FOLDER& folder, const char* name, WM_MESG (*goto_func)(), long seconds,
                  long fade_in_ms, long fade_out_ms, unsigned char scale_to_window);
// Composed form: the pictures placed on a window-sized background; a
// translucent background keeps what window 0's background already shows.
void wm_logo_page(WM_PAGE_MANAGER& pm, LOGO_IMAGE* images, short count, COLOUR background, WM_MESG (*goto_func)(),
                  long seconds, long fade_in_ms, long fade_out_ms);

// The descriptor's create and monitor callbacks.
void wm_logo_page_setup(WM_PAGE_MANAGER& pm);
WM_MESG wm_logo_page_monitor();

// At most 24 characters; x -1 centres across, y -1 down. Call before the
// logo is shown.
void wm_logo_set_message(short x, short y, const char* text, COLOUR colour, char font, short font_x_size,
                         short font_y_size);
void wm_logo_set_displaying_logo_callback(void (*callback)());

// Everything above back to its state at program start (a run shows one
// logo; tests run several).
void wm_logo_page_reset();

#endif
