// The run loop's own pieces that the entry point and the tests reach: the
// handling of one SDL event, the character rules, the replaceable idle
// wait and the signal handlers.
#ifndef KIVO_EVENT_LOOP_H
#define KIVO_EVENT_LOOP_H

#include <SDL.h>

#include "kivo_types.h"

// Handles one SDL event as the classic event loop did.
void main_window_events(const SDL_Event& e);

// A command or wheel event as the application's event handler takes it.
// Classes and commands are four-character codes (host_four_cc).
struct HOST_EVENT
{
    INT_U32 event_class; // 'cmds' or 'mous'
    INT_U32 kind;        // cmds: 1 process a command, 2 update its status; mous: 10 wheel moved
    INT_U32 command;     // cmds: 'quit', 'pref', 'abou' ...
    INT_U32 attributes;  // cmds: bit 0 set when the command comes from a menu
    INT_S32 wheel_axis;  // mous: 1 vertical, 2 horizontal
    INT_S32 wheel_delta; // mous: steps, positive away from the user
};

constexpr INT_U32 host_four_cc(const char (&code)[5])
{
    return static_cast<INT_U32>(static_cast<unsigned char>(code[0])) << 24 |
           static_cast<INT_U32>(static_cast<unsigned char>(code[1])) << 16 |
           static_cast<INT_U32>(static_cast<unsigned char>(code[2])) << 8 |
           static_cast<INT_U32>(static_cast<unsigned char>(code[3]));
}

// The answer for a command the handler does not know.
constexpr INT_S32 EVENT_NOT_HANDLED = -9874;

// The application's event handler: 'quit' sets window_aborted to the close
// handler's answer for window 0 (cleared when no handler is set), 'pref'
// and 'abou' set kivo_app_info [0] and [1], a vertical wheel step moves
// MOUSE's wheel position and time. Returns 0 for what it handles or
// ignores, EVENT_NOT_HANDLED for a command it does not know.
INT_S32 process_event(const HOST_EVENT& e);

// The Quit command through process_event.
void host_quit_command();

// The run loop's character rules for a key-down: character as the key
// translation gave it, modifiers in the Mac bits, control_letter when the
// key translation made the character from a letter with Control. Returns
// the character to post (0 for none), kept to 8 bits.
INT_U32 host_apply_char_rules(INT_U32 character, INT_U32 modifiers, bool control_letter);

// The idle wait: waits up to ms (0: polls once) for one event; true with
// the event in *e. Replaceable so tests see the length without waiting.
using HOST_IDLE_WAIT = bool (*)(INT_U32 ms, SDL_Event* e);
// Installs a wait (null: the built-in one); returns the previous one.
HOST_IDLE_WAIT host_set_idle_wait(HOST_IDLE_WAIT wait);

// SIGINT and SIGTERM become the Quit command at the next pass; each
// handler restores the default action, so a second signal ends the
// process even when Quit is refused.
void host_install_signal_handlers();
// With on, quit requests and closes of the main window are heard as SDL
// takes them in, before its queue, and acted on at the start of the next
// pass, ahead of every queued event; their queued copies are then skipped.
// Off stops that. Either way what was heard and not yet acted on is
// forgotten. The window calls it as it opens and closes.
void host_listen_for_close_requests(bool on);
// Forgets the physical buttons held and the pointer position recorded
// (tests start each case from there).
void host_reset_event_loop();

#endif
