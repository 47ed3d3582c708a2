// The splash window, and the times of the last user input.
#include "host_main.h"

#include "host_window.h"
#include "image.h"
#include "keyboard.h"
#include "mouse.h"

void open_splash_window(IMAGE& image, short)
{
    // An empty picture would ask for a window of no size, which is fatal.
    if (image.width < 1 || image.height < 1) {
        return;
    }
    OPEN_WINDOW_SETTINGS s;
    char title[] = "Please Wait";
    s.title = title;
    s.width = image.width;
    s.height = image.height;
    s.full_screen = 0;
    s.min_width = s.max_width = s.min_height = s.max_height = static_cast<short>(65535);
    s.no_title_bar = 1;
    if (!open_window(s, 0)) {
        return;
    }
    IMAGE* bb = get_back_buffer(0);
    bb->set_active_area(0, 0, static_cast<short>(bb->width - 1), static_cast<short>(bb->height - 1));
    image.put(0, 0, nullptr, IMAGE_COPY_REPLACE);
    blit_to_window(static_cast<short>(65535));
}

INT_S64 get_last_keyboard_event()
{
    return last_keyboard_event;
}

INT_S64 get_last_input_event()
{
    return MOUSE::last_event_time > last_keyboard_event ? MOUSE::last_event_time : last_keyboard_event;
}
