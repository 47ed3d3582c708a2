#include "wm_logo_page.h"

#include "host_window.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_page_manager.h"

#include <cstring>
#include <ctime>

namespace {

IMAGE image;
WM_MESG (*goto_starting_pages)() = nullptr;
long seconds_to_show = 0;
long fade_out_time_ms = 0;
void (*displaying_logo_callback)() = nullptr;
char msg[25] = "";
short msg_x = 0, msg_y = 0;
COLOUR msg_colour = COLOUR_WHITE;
char msg_font = 0;
short msg_font_x_size = -1, msg_font_y_size = -1;

// Of the monitor: when the logo ends (0 = not started), and whether one
// pass has run, so a click held from before cannot end it unseen.
time_t expire_time = 0;
INT_U8 done_one_pass = 0;

void empty_image()
{
    image.reset(-1, -1);
}

// Step shared by both forms: the fade-in, the fade-out kept for the end,
// and the page queued in the current area.
void queue_logo(WM_PAGE_MANAGER& pm, long fade_in_ms, long fade_out_ms)
{
    pm.page_effects = fade_in_ms != 0 ? 1 : 0;
    if (fade_in_ms != 0) {
        pm.page_effects_ms = static_cast<INT_U32>(fade_in_ms);
    }
    fade_out_time_ms = fade_out_ms;
    pm.set_next_page(pm.current, wm_logo_page_setup, nullptr, nullptr, wm_logo_page_monitor, 0, 0, nullptr);
}

void mark_whole_window()
{
    WM_SCREEN_OBJECT::add_update_region(0, 0, static_cast<INT_S16>(get_window_width(0) - 1),
                                        static_cast<INT_S16>(get_window_height(0) - 1));
}

} // namespace

void wm_logo_page(WM_PAGE_MANAGER& pm, FOLDER& folder, const char* name, WM_MESG (*goto_func)(), long seconds,
                  long fade_in_ms, long fade_out_ms, unsigned char scale_to_window)
{
    empty_image();
    goto_starting_pages = goto_func;
    seconds_to_show = seconds;
    const short w = scale_to_window ? get_window_width(0) : -1;
    const short h = scale_to_window ? get_window_height(0) : -1;
    IMAGE_CACHE& cache = WM_SCREEN_OBJECT::image_cache;
    IMAGE* cached = cache.open_image(folder, name, w, h, IMAGE_CACHE::OPEN_LOOKUP_ONLY);
    if (cached) {
        image = *cached;
        cache.do_close(cache.get_entry(cached));
    } else if (!image.load(folder, name, w, h, WM_MAX_PICTURE_PIXELS)) {
        empty_image();
    }
    if (image.width <= 0) {
        if (goto_func) {
            goto_func();
        }
        return;
    }
    queue_logo(pm, fade_in_ms, fade_out_ms);
}

void wm_logo_page(WM_PAGE_MANAGER& pm, LOGO_IMAGE* images, short count, COLOUR background, WM_MESG (*goto_func)(),
                  long seconds, long fade_in_ms, long fade_out_ms)
{
    goto_starting_pages = goto_func;
    seconds_to_show = seconds;
    const short ww = get_window_width(0), wh = get_window_height(0);
    image.reset(ww, wh);
    if (background.alpha() >= COLOUR::alpha_solid_threshold) {
        image.clear(background, 1);
    } else {
        mark_whole_window();
        pm.backgrounds[0].reset(ww, wh);
        image.copy(&pm.backgrounds[0], 0, 0, 0, 0, ww, wh, IMAGE_COPY_REPLACE);
    }
    for (short i = 0; images && i < count; i++) {
        LOGO_IMAGE& e = images[i];
        const int pw = e.image.width, ph = e.image.height;
        if (pw <= 0) {
            continue;
        }
        int x = (ww - pw) / 2, y = (wh - ph) / 2;
        if (e.flags & 1) {
            x = e.offset;
        } else if (e.flags & 2) {
            x = ww - pw - e.offset - 1;
        }
        if (e.flags & 4) {
            y = e.offset;
        } else if (e.flags & 8) {
            y = wh - ph - e.offset - 1;
        }
        if (e.box_colour.alpha() != 0) {
            image.fill_rect(static_cast<short>(x), static_cast<short>(y), static_cast<short>(x + pw),
                            static_cast<short>(y + ph), e.box_colour, 1);
        }
        image.copy(&e.image, 0, 0, static_cast<short>(x), static_cast<short>(y), static_cast<short>(pw),
                   static_cast<short>(ph), IMAGE_COPY_BLEND);
    }
    queue_logo(pm, fade_in_ms, fade_out_ms);
}

void wm_logo_page_setup(WM_PAGE_MANAGER& pm)
{
    const short ww = get_window_width(0), wh = get_window_height(0);
    const int x = (ww - image.width) / 2, y = (wh - image.height) / 2;
    IMAGE& back = pm.backgrounds[0];
    const bool was_empty = back.width == 0;
    mark_whole_window();
    back.reset(ww, wh);
    if (was_empty) {
        back.clear(COLOUR_BLACK, 1);
    }
    if (image.width > 0 && image.height > 0) {
        back.copy(&image, 0, 0, static_cast<short>(x), static_cast<short>(y), image.width, image.height,
                  IMAGE_COPY_BLEND);
    }
    if (msg[0]) {
        mark_whole_window();
        back.reset(ww, wh);
        back.process_and_render_string(msg_x, msg_y, msg_colour, COLOUR_INVISIBLE, COLOUR_INVISIBLE,
                                       static_cast<INT_S8>(msg_font), msg_font_x_size, msg_font_y_size, msg, 0, -1, 0);
    }
}

WM_MESG wm_logo_page_monitor()
{
    const time_t now = static_cast<time_t>(get_wall_seconds());
    if (expire_time == 0) {
        expire_time = now + seconds_to_show;
        return WM_MESG_NONE;
    }
    if (done_one_pass && expire_time < now) {
        empty_image();
        const WM_MESG r = goto_starting_pages ? goto_starting_pages() : 0;
        if (fade_out_time_ms != 0 && WM_SCREEN_OBJECT::pm) {
            WM_SCREEN_OBJECT::pm->page_effects_ms = static_cast<INT_U32>(fade_out_time_ms);
        }
        return r;
    }
    if (displaying_logo_callback) {
        displaying_logo_callback();
    }
    if (MOUSE::buttons & 1) {
        expire_time = now - 1;
    }
    done_one_pass = 1;
    return WM_MESG_NONE;
}

void wm_logo_set_message(short x, short y, const char* text, COLOUR colour, char font, short font_x_size,
                         short font_y_size)
{
    msg[0] = 0;
    if (text) {
        std::strncpy(msg, text, sizeof(msg) - 1);
        msg[sizeof(msg) - 1] = 0;
    }
    msg_x = x;
    msg_y = y;
    msg_colour = colour;
    msg_font = font;
    msg_font_x_size = font_x_size;
    msg_font_y_size = font_y_size;
    IMAGE* s = get_back_buffer(0);
    if (x == -1) {
        const INT_S32 tw = s ? s->get_string_width(static_cast<INT_S8>(font), font_x_size, font_y_size, msg, -1, 0) : 0;
        msg_x = static_cast<short>((get_window_width(0) - tw) / 2);
    }
    if (y == -1) {
        const int fh = font_y_size == -1 ? (s ? s->font_height : 0) : font_y_size;
        msg_y = static_cast<short>((get_window_height(0) - fh) / 2);
    }
}

void wm_logo_set_displaying_logo_callback(void (*callback)())
{
    displaying_logo_callback = callback;
}

void wm_logo_page_reset()
{
    empty_image();
    goto_starting_pages = nullptr;
    seconds_to_show = 0;
    fade_out_time_ms = 0;
    displaying_logo_callback = nullptr;
    msg[0] = 0;
    msg_x = msg_y = 0;
    msg_colour = COLOUR_WHITE;
    msg_font = 0;
    msg_font_x_size = msg_font_y_size = -1;
    expire_time = 0;
    done_one_pass = 0;
}
