// The shared pointer state, the pointer shapes and the pointer warp.
#include "mouse.h"

#include "host_internal.h"
#include "host_window.h"
#include "kivo_host.h"

#include <climits>

INT_S16 MOUSE::x = -1;
INT_S16 MOUSE::y = -1;
INT_U32 MOUSE::buttons = 0;
INT_S32 MOUSE::wheel_pos = 0;
INT_S16 MOUSE::number_of_buttons = 0;
INT_U8 MOUSE::pointer_displayed = 1;
INT_S8 MOUSE::current_cursor = -1;
INT_S64 MOUSE::last_event_time = 0;
INT_S64 MOUSE::last_click_time = 0;
INT_S32 MOUSE::last_click_gap = 0;
INT_S64 MOUSE::last_left_down_time = 0;
INT_S32 MOUSE::last_left_down_gap = 0;
INT_S64 MOUSE::last_left_up_time = 0;
INT_S32 MOUSE::last_left_up_gap = 0;

MOUSE mouse;

namespace {

// A gap in seconds, kept within 32 bits (the first click measures from 0).
INT_S32 gap(INT_S64 now, INT_S64 then)
{
    INT_S64 d = now - then;
    return static_cast<INT_S32>(d > INT_MAX ? INT_MAX : (d < INT_MIN ? INT_MIN : d));
}

// The two hands SDL has no system cursor for, 16 x 16: 'X' black,
// '.' white, anything else transparent. The hot spot is the centre.
const char* const kOpenHand[16] = {
    "       XX       ", "   XX X..XXX    ", "  X..XX..X..X   ", "  X..XX..X..X X ",
    "   X..X..X..XX.X", "   X..X..X..X..X", " XX X.......X..X", "X..XX..........X",
    "X...X.........X ", " X............X ", "  X...........X ", "  X..........X  ",
    "   X.........X  ", "    X.......X   ", "     X......X   ", "     X......X   ",
};
const char* const kClosedHand[16] = {
    "                ", "                ", "                ", "    XX XX XX    ",
    "   X..X..X..XX  ", "   X.........X.X", "    X..........X", "   XX..........X",
    "  X...........X ", "  X...........X ", "  X..........X  ", "   X.........X  ",
    "    X.......X   ", "     X......X   ", "     X......X   ", "                ",
};

SDL_Cursor* bitmap_cursor(const char* const rows[16])
{
    Uint8 data[32] = {}, mask[32] = {};
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 16; ++i) {
            Uint8 bit = static_cast<Uint8>(0x80 >> (i & 7));
            char c = rows[j][i];
            if (c == 'X' || c == '.') {
                mask[j * 2 + i / 8] |= bit;
            }
            if (c == 'X') {
                data[j * 2 + i / 8] |= bit;
            }
        }
    }
    return SDL_CreateCursor(data, mask, 16, 16, 8, 8);
}

// Each shape is made once, and only once video runs (before that SDL
// cannot make any). The headless drivers make none: the shape is then
// simply not shown.
SDL_Cursor* cursor_for(int id)
{
    static SDL_Cursor* made[6];
    static bool tried[6];
    if (!tried[id] && SDL_WasInit(SDL_INIT_VIDEO)) {
        tried[id] = true;
        switch (id) {
        case 1: made[id] = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_HAND); break;
        case 3: made[id] = bitmap_cursor(kOpenHand); break;
        case 4: made[id] = bitmap_cursor(kClosedHand); break;
        case 5: made[id] = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_IBEAM); break;
        default: made[id] = SDL_CreateSystemCursor(SDL_SYSTEM_CURSOR_ARROW); break;
        }
    }
    return made[id];
}

} // namespace

MOUSE::MOUSE()
{
    if (number_of_buttons == 0) {
        number_of_buttons = get_max_buttons();
    }
}

void MOUSE::process_mouse_button(short button, INT_U8 pressed)
{
    INT_S64 now = get_wall_seconds();
    last_click_gap = gap(now, last_click_time);
    last_event_time = last_click_time = now;
    if (button == 1) {
        if (pressed) {
            last_left_down_gap = gap(now, last_left_down_time);
            last_left_down_time = now;
        } else {
            last_left_up_gap = gap(now, last_left_up_time);
            last_left_up_time = now;
        }
    }
    if (button >= 1 && button <= 32) {
        INT_U32 bit = 1u << (button - 1);
        buttons = pressed ? (buttons | bit) : (buttons & ~bit);
    }
}

INT_U8 MOUSE::set_pointer_visible(INT_U8 flag)
{
    SDL_ShowCursor(flag ? SDL_ENABLE : SDL_DISABLE);
    events_something_done = 1;
    return 1;
}

void MOUSE::display_pointer()
{
    if (!pointer_displayed) {
        set_pointer_visible(1);
        pointer_displayed = 1;
    }
}

void MOUSE::hide_pointer()
{
    if (pointer_displayed) {
        set_pointer_visible(0);
        pointer_displayed = 0;
    }
}

INT_U8 MOUSE::set_mouse_cursor(INT_S8 id, INT_U8 keep)
{
    if (id < -1 || id > 5 || id == 2) {
        return 0;
    }
    if (keep && id != -1) {
        return 1;
    }
    SDL_Cursor* c = cursor_for(id < 0 ? 0 : id);
    if (c) {
        SDL_SetCursor(c);
    }
    return 1;
}

void MOUSE::set_position(short px, short py)
{
    SDL_Window* w = host_sdl_window();
    if (!w) {
        return;
    }
    int wx = px, wy = py;
    // In full screen the buffer is scaled into the window.
    if (SDL_Renderer* r = host_sdl_renderer()) {
        SDL_RenderLogicalToWindow(r, static_cast<float>(px), static_cast<float>(py), &wx, &wy);
    }
    SDL_WarpMouseInWindow(w, wx, wy);
}
