// The fixed table between SDL scancodes (physical key positions) and Mac
// virtual key codes, which stay the system's key codes whatever the layout:
// stored hotkeys and every widget compare against them.
#ifndef KIVO_KEY_TABLE_H
#define KIVO_KEY_TABLE_H

#include "kivo_types.h"

// The Mac code of a scancode; -1 for a key without one or a scancode out
// of range.
int host_mac_code_from_scancode(int scancode);
// The scancode of a Mac code (the main key where two share it, as the
// backslash and the non-US hash); 0 (SDL_SCANCODE_UNKNOWN) for none.
int host_scancode_from_mac_code(int mac_code);
// The character a key gives whatever the layout and modifiers (Return 13,
// the arrows 28-31, the function keys 16...); 0 for none.
INT_U32 host_fixed_character(int mac_code);
// Command, Shift, Caps Lock, Option and Control, either hand (54 to 62).
bool host_is_modifier_code(int mac_code);

#endif
