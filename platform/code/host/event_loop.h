// The run loop's own pieces that the entry point and the tests reach: the
// handling of one SDL event, the character rules, the replaceable idle
// wait and the signal handlers.
#ifndef KIVO_EVENT_LOOP_H
#define KIVO_EVENT_LOOP_H

#include <SDL.h>

#include "kivo_types.h"

// Handles one SDL event as the classic event loop did.
void main_window_events(const SDL_Event& e);

// The Quit command: window_aborted becomes the close handler's answer for
// window 0 (cleared when no handler is set).
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
// Forgets the physical buttons held and the pointer position recorded
// (tests start each case from there).
void host_reset_event_loop();

#endif
