#ifndef KIVO_HOST_MAIN_H
#define KIVO_HOST_MAIN_H

// The program's entry and its one run loop: start-up, one step of the
// application alternating with one pass of host events, shut-down. The
// application hands its three hooks to host_main from its own main.
#include "kivo_types.h"

class IMAGE;

struct KIVO_APP_HOOKS
{
    // Once before the loop, with the command line left after the
    // framework's own options.
    void (*app_construct)(short argc, char** argv);
    // One step per loop turn; false ends the loop.
    bool (*app_main)();
    // Once after the loop, after pm_destructor.
    void (*app_destruct)();
};

// Runs the program: start-up, the run loop, shut-down; returns 0. The
// command line's own options may end the process before that.
int host_main(int argc, char** argv, const KIVO_APP_HOOKS& hooks);

// One pass of host event handling: queued client messages, the pointer
// position, the waiting events up to a change of the buttons, one key that
// posts its code with its text, or a flood's share (the rest wait for the
// next pass), the idle wait, sound, then events_something_done cleared.
// Safe to re-enter from code that waits.
void process_os_events();

// Longest idle wait of a pass in milliseconds (0: never wait).
INT_U32 get_max_idle_ms();
void set_max_idle_ms(INT_U32 ms);

// The run is to end; set by the close box or Quit when the window-close
// handler agrees, and by host_main after the loop.
extern INT_U8 window_aborted;
// The last pass ended early, after a change of the buttons or after its
// share of a flood, and left events queued: the next pass should come at
// once, and a frame not yet due is better skipped than waited for.
extern INT_U8 events_input_waiting;
// Longest idle wait per pass, 50 ms at start; 0 never waits.
extern INT_U32 events_max_delay_ms;
// Modifier bits (Command 0x100, Shift 0x200, Option 0x800, Control
// 0x1000) that turn a left click into the middle (Control-Shift, 0x1200)
// or the right button (Control, 0x1000).
extern INT_S16 middle_mouse_modifier;
extern INT_S16 right_mouse_modifier;
// Requests for the application: [0] Preferences, [1] About. There is no
// application menu on this host, so both stay 0.
extern INT_U8 kivo_app_info[2];
// The running program's own file, read once at start-up; "" and
// got_process_info 0 when it could not be read.
extern char application_fsspec[4096];
extern INT_U8 got_process_info;
// The page manager's shut-down, called once after the loop and before
// app_destruct when it is set; null at start.
extern void (*pm_destructor)();

// Opens the main window as a title-less "Please Wait" window of the
// image's size and shows the image in it. The short is not used.
void open_splash_window(IMAGE& image, short unused);

// Wall seconds of the last key event, and of the last key, pointer,
// wheel or button event (0 before any).
INT_S64 get_last_keyboard_event();
INT_S64 get_last_input_event();

#endif
