// The active keyboard layout: which character a key gives, with and
// without Shift. The layout is named as the X server names it (rules,
// model, layout, variant, options) and compiled from the system's keyboard
// data; where it comes from can be replaced, so tests need no server.
#ifndef KIVO_KEY_LAYOUT_H
#define KIVO_KEY_LAYOUT_H

#include "kivo_types.h"

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

// Installs a source (null: the X server that SDL's window is on); returns
// the previous one.
HOST_LAYOUT_SOURCE host_set_layout_source(HOST_LAYOUT_SOURCE source);

// The character (Unicode) of the key at an SDL scancode in the active
// layout, Shift held when shift is set; 0 when the key gives none. A dead
// key gives its accent as a character of its own ('^' for the circumflex).
// False when no layout can be read or compiled.
bool host_layout_character(int scancode, bool shift, INT_U32* out);

#endif
