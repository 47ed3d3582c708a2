#ifndef KIVO_MOUSE_H
#define KIVO_MOUSE_H

// The pointer state that widgets read, shared by every MOUSE object (a
// widget makes a local one to read it), the pointer shapes, and the
// joystick, which exists as an interface only. Times are wall seconds
// (get_wall_seconds).
#include "kivo_types.h"

class MOUSE
{
public:
    // The first object sets number_of_buttons.
    MOUSE();
    ~MOUSE() {}

    // Records the click times (and those of button 1), then sets or clears
    // bit button-1 of buttons for buttons 1..32; other numbers change no bit.
    static void process_mouse_button(short button, INT_U8 pressed);
    static short get_max_buttons() { return 3; }

    // Shows or hides the pointer, sets events_something_done; returns 1.
    static INT_U8 set_pointer_visible(INT_U8 flag);
    // Change the pointer only when pointer_displayed says otherwise.
    static void display_pointer();
    static void hide_pointer();

    // Pointer shapes: -1 arrow (always set, whatever keep says), 0 arrow,
    // 1 pointing hand, 3 open hand, 4 closed hand, 5 I-beam. 1 for these
    // (a non-zero keep leaves the pointer as it is); 0 for 2 and any id
    // outside -1..5. The answer does not depend on whether the host could
    // make the shape.
    static INT_U8 set_mouse_cursor(INT_S8 id, INT_U8 keep);
    // Moves the pointer to (x, y) in back-buffer coordinates of the window;
    // nothing while no window is open.
    static void set_position(short x, short y);

    static INT_S16 x, y;              // window coordinates, -1 at start
    static INT_U32 buttons;           // bit n-1 while button n is held: 1 left, 2 right, 3 middle
    static INT_S32 wheel_pos;         // sum of the vertical wheel steps
    static INT_S16 number_of_buttons; // 0 until the first object
    static INT_U8 pointer_displayed;  // 1 at start
    static INT_S8 current_cursor;     // -1 at start
    static INT_S64 last_event_time;   // last movement, wheel or button change
    // Last button change, and the seconds since the one before (and the
    // same for presses and releases of button 1).
    static INT_S64 last_click_time;
    static INT_S32 last_click_gap;
    static INT_S64 last_left_down_time;
    static INT_S32 last_left_down_gap;
    static INT_S64 last_left_up_time;
    static INT_S32 last_left_up_gap;
};

extern MOUSE mouse;

struct JOYSTICK_INFO
{};

class JOYSTICK
{
public:
    INT_U8 read_joystick() { return 0; }
    // Leaves the record untouched.
    INT_U8 get_info(JOYSTICK_INFO&) { return 0; }
};

#endif
