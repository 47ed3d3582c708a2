// WM_IMAGE: what differs from a screen object is the picture, fitted to the
// rectangle when drawn, and the press and release it reacts to.
#include "wm_image.h"

#include "keyboard.h"
#include "mouse.h"
#include "wm_page_services.h"

WM_IMAGE::WM_IMAGE(INT_S16 x, INT_S16 y, INT_S16 width, INT_S16 height, INT_U8 visible, WM_OBJECT_CALLBACK callback,
                   void* data1, void* data2, INT_U8 trigger)
    : WM_SCREEN_OBJECT(visible, callback, data1, data2), button_down(0), continuous(0), click_x(-1), click_y(-1),
      shading_flags(0), trigger(trigger), pointer_over(0), highlight_colour(COLOUR_INVISIBLE), key_down(0),
      show_clickable_cursor(default_show_clickable_cursor)
{
    picture.setup(width, height);
    this->x = x;
    this->y = y;
    this->width = width;
    this->height = height;
    type |= WM_TYPE_IMAGE;
    // Last, so that the hook sees the finished widget and what it sets stays.
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

WM_IMAGE::~WM_IMAGE() = default;

void WM_IMAGE::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    WM_SCREEN_OBJECT::resize(nw, nh, children);
    picture.resize(nw, nh, !IMAGE::use_quick_resize);
}

void WM_IMAGE::set_picture(const IMAGE& source, bool fit)
{
    if (fit) {
        picture.reset(source.width, source.height);
        // copy only reads its source.
        picture.copy(const_cast<IMAGE*>(&source), 0, 0, 0, 0, source.width, source.height, IMAGE_COPY_REPLACE);
        picture.resize(width, height, IMAGE::use_quick_resize ? 0 : 1);
    } else {
        // Sized first, so that the old picture is not resampled for nothing.
        WM_SCREEN_OBJECT::resize(source.width, source.height, 0);
        picture = source;
    }
    redraw_if_visible();
}

void WM_IMAGE::load_picture(FOLDER& folder, const char* file_name)
{
    picture.load(folder, file_name, width, height);
    redraw_if_visible();
}

void WM_IMAGE::prepare_draw()
{
    // Any size below 1 takes the picture's: a negative one cannot be drawn.
    if (width <= 0 || height <= 0) {
        width = picture.width;
        height = picture.height;
        if (width > 0 && height > 0) {
            redraw_if_visible();
        }
    } else if (picture.width == 0 || picture.height == 0) {
        picture.reset(width, height);
    } else if (picture.width != width || picture.height != height) {
        // In place and lossy: later draws find the size already right.
        picture.resize(width, height, !IMAGE::use_quick_resize);
    }
}

void WM_IMAGE::draw_object()
{
    if (width <= 0 || height <= 0) {
        return;
    }
    const int left = x + (width - picture.width) / 2, top = y + (height - picture.height) / 2;
    const INT_S16 x1 = static_cast<INT_S16>(left), y1 = static_cast<INT_S16>(top);
    const INT_S16 x2 = static_cast<INT_S16>(left + width - 1), y2 = static_cast<INT_S16>(top + height - 1);
    picture.put(x1, y1, surface, IMAGE_COPY_BLEND);
    draw_shading(x1, y1, x2, y2, shading_flags, COLOUR_INVISIBLE, 1, -1);
    if ((focal_object == this || pointer_over) && highlight_colour.alpha() != 0 && surface) {
        surface->fill_rect(x1, y1, x2, y2, highlight_colour, 1);
    }
}

WM_MESG WM_IMAGE::monitor()
{
    WM_MESG r = WM_SCREEN_OBJECT::monitor();
    if (r != 0 || !visible) {
        return r;
    }
    INT_S16 px = MOUSE::x, py = MOUSE::y;
    INT_U8 down = (MOUSE::buttons & 1) ? 1 : 0;
    const INT_U8 k = KEYBOARD::get_key_value(return_key) ? 1 : 0;
    INT_U8 over;
    // From the pass the return key goes down on the focused widget to the
    // pass it comes up, the key is the button, pressed at the centre: a
    // held key must not let the mouse clear the press it began.
    if (focal_object == this && (k || key_down)) {
        px = static_cast<INT_S16>(x + width / 2);
        py = static_cast<INT_S16>(y + height / 2);
        down = k;
        over = is_in_it(px, py);
    } else {
        over = is_in_it(px, py);
        if (over != pointer_over) {
            pointer_over = over;
            redraw_if_visible();
        }
    }

    r = 0;
    if (over) {
        const bool changed = down != button_down || (continuous && down);
        const bool allowed = down ? (trigger & 1) != 0 : (trigger & 2) != 0;
        if (changed && allowed) {
            click_x = static_cast<INT_S16>(px - x);
            click_y = static_cast<INT_S16>(py - y);
            if (action_sound.is_loaded()) {
                action_sound.platform_play();
            }
            if (callback) {
                r = callback(this, callback_data1, callback_data2);
            }
            click_x = click_y = -1;
        }
        if (show_clickable_cursor) {
            // The pressed shape is asked for first and the hand is the fallback.
            const INT_S8 id = down && MOUSE::set_mouse_cursor(2, 1) ? 2 : 1;
            WM_PAGE_SERVICES* services = page_services();
            if (services && MOUSE::set_mouse_cursor(id, 1)) {
                services->request_pointer(id);
            }
        }
    }
    button_down = down;
    key_down = k;
    return r;
}
