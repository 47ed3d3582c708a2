// The active keyboard layout: which character a key gives, with and
// without Shift. It is the X server's own keymap as it stands, changes
// made key by key included; where that cannot be read, the layout the
// server names (rules, model, layout, variant, options) compiled from the
// system's keyboard data. Where the names come from can be replaced, so
// tests need no server.
#ifndef KIVO_KEY_LAYOUT_H
#define KIVO_KEY_LAYOUT_H

#include "kivo_types.h"

#include <cstddef>
#include <string>

struct HOST_LAYOUT_NAMES
{
    // Empty fields take the keyboard data's defaults.
    std::string rules, model, layout, variant, options;
    // Which of the comma-separated layouts is active, from 0.
    unsigned group;
};

// Fills the names of the active layout; false when none can be read.
using HOST_LAYOUT_SOURCE = bool (*)(HOST_LAYOUT_NAMES* out);

// Installs a source; returns the previous one. Null: the X server that
// SDL's window is on, its keymap first, then the names it keeps. Any other
// source leaves the server's keymap out.
HOST_LAYOUT_SOURCE host_set_layout_source(HOST_LAYOUT_SOURCE source);

// The names the X server keeps for its layout (the _XKB_RULES_NAMES
// property of its root window) and its active group.
bool host_server_layout_names(HOST_LAYOUT_NAMES* out);

// The five names of that property's bytes: NUL-separated, in the order
// rules, model, layout, variant, options; missing ones empty.
void host_split_layout_names(const char* bytes, std::size_t size, HOST_LAYOUT_NAMES* out);

// The character (Unicode) of the key at an SDL scancode in the active
// layout, Shift held when shift is set; 0 when the key gives none. A dead
// key gives its accent as a character of its own ('^' for the circumflex).
// False when no layout can be read or compiled, or its names hold anything
// but letters, digits and "_,()+:-".
// With `dead`, also whether the key is a dead key (an accent that waits
// for the next key), told only where the answer is true.
bool host_layout_character(int scancode, bool shift, INT_U32* out, bool* dead = nullptr);

#endif
