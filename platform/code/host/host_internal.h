// What the host's own modules share with each other: the SDL window, the
// key translation and the text converters. Only host sources and host
// tests include it; the public headers in platform/include never include SDL.
#ifndef KIVO_HOST_INTERNAL_H
#define KIVO_HOST_INTERNAL_H

#include <SDL.h>

#include "kivo_types.h"

// ---- Window (host_window.cpp) ----

// SDL's video subsystem, started on first need; false (SDL_GetError says
// why) when it cannot start.
bool host_start_video();
// Installs the host's entries in the core's host table (popup, exit_app,
// get_back_buffer); installing again changes nothing.
void host_install_table();
// The main window and its renderer; null while no window is open.
SDL_Window* host_sdl_window();
SDL_Renderer* host_sdl_renderer();
// Maps a position in window pixels to back-buffer coordinates (they differ
// only in full screen, where the buffer is scaled with letterboxing).
void host_window_to_buffer(int wx, int wy, int* bx, int* by);

// ---- Keyboard and mouse (keyboard.cpp, mouse.cpp) ----

// The Mac modifier bits the host keeps itself (SDL's own state misses
// injected events): Command 0x100, Shift 0x200, Caps Lock 0x400,
// Option 0x800, Control 0x1000.
INT_U32 host_modifiers();

// One SDL key event translated. mac_code is -1 for a key with no Mac code.
// A modifier key updates the held table and the bits and posts nothing
// (is_modifier). character is the Mac-style character before the run
// loop's character rules, 0 when the key gives none (the typed character
// then arrives by SDL_TEXTINPUT).
struct HOST_KEY
{
    INT_S32 mac_code;
    INT_U32 modifiers;
    INT_U32 character;
    bool is_modifier;
    // The character is a letter key's (letter AND 0x1F), made with Control
    // held; keys with a character of their own (Return, Backspace...) keep
    // theirs under Control.
    bool control_letter;
};
// Translates SDL_KEYDOWN / SDL_KEYUP (updating the held-key table and the
// modifier bits); false for any other event. A key-down other than a
// modifier's sets the held modifiers to the event's own state (keysym.mod).
bool host_translate_key(const SDL_Event& e, HOST_KEY* out);
// Translates SDL_TEXTINPUT into characters as posted to KEYBOARD (Mac
// Roman bytes, or a value of 256 or more for a character without one);
// returns how many were written, at most max. Each key-down that made a
// printable character of its own awaits one text; while keys await theirs
// a text event is the oldest one's and is dropped (returns 0), whatever
// events came between; any other is taken.
int host_translate_text(const SDL_Event& e, INT_U32* out, int max);
// While on, SDL's record of the modifiers in each key-down is set right
// from the window system's own key event, where SDL reads that (X11):
// SDL takes a modifier's release followed, in a queue of keys, by another
// press of it for a repeat and drops the release.
void host_watch_key_state(bool on);

// The window's active flag: starts set; focus lost clears it (and every
// held key), focus gained sets it. get_key_value answers 0 while clear.
bool host_window_is_active();
void host_set_window_active(bool active);

// ---- Text from and to other programs (host_text.cpp) ----

// Decodes one UTF-8 character at p and moves p past it. A byte that starts
// no valid sequence, a sequence cut short, an overlong form, a surrogate or
// a value above 0x10FFFF gives U+FFFD and moves p by one byte. Never reads
// past the terminating NUL; at the NUL returns 0 and leaves p there.
INT_U32 host_utf8_next(const char*& p);

// The system's own text is 8-bit; a character above 0xFF travels as an
// escape run: 0x01, ",%04X" per UTF-16 unit (upper-case digits), 0x01.
// Only runs in exactly that form, holding characters that need them, are
// read as characters; anything else (no closing 0x01, a group that is not
// ',' and four digits, a run right before another run) is taken as plain
// bytes, so that every byte string comes back unchanged from
// host_text_from_utf8. Bytes 0x80-0xFF are U+0080-U+00FF.
#include <cstddef>
#include <string>
std::string host_text_to_utf8(const char* text);
// Appends one character (at most 0x10FFFF, no surrogate) as UTF-8.
void host_append_utf8(std::string& out, INT_U32 c);
// UTF-8 from another program into system text in buf (size bytes, NUL
// included): characters above 0xFF, and what the decoder replaces, become
// escape runs. A character that does not fit ends the text; a group is
// never split and an open run is closed. Returns the length written
// (0 and nothing written when buf is null or size is 0).
std::size_t host_text_from_utf8(const char* utf8, char* buf, std::size_t size);

#endif
