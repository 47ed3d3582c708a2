#ifndef KIVO_WM_NAMES_H
#define KIVO_WM_NAMES_H

// The numbers the widget layer shares, by name: the style-set flag bits,
// the key codes widgets act on, the pointer shapes they ask for and the
// effects of dialogs and menus. Stored style sets, hotkeys and page
// definitions hold these values, so none of them may move.
#include "kivo_types.h"

// ---- WM_STYLE_SET::ssf, the drawing flags ----------------------------------
// The configuration key of each is "ssf_" and its name in lower case.
constexpr INT_U32 SSF_DRAW_BORDER = 1u << 0;
constexpr INT_U32 SSF_INDENT_BORDER = 1u << 1;      // with draw_border: sunken
constexpr INT_U32 SSF_OUTSTANDING_BORDER = 1u << 2; // with draw_border: raised
constexpr INT_U32 SSF_HFADING = 1u << 3;            // background to fading colour, left to right
constexpr INT_U32 SSF_VFADING = 1u << 4;            // the same, top to bottom
constexpr INT_U32 SSF_DARKENED_BACKGROUND = 1u << 5;
constexpr INT_U32 SSF_LEFT_JUSTIFY_TEXT = 1u << 6;
constexpr INT_U32 SSF_RIGHT_JUSTIFY_TEXT = 1u << 7;
constexpr INT_U32 SSF_USE_TEXT_COLOUR_FOR_OUTLINE = 1u << 8;
constexpr INT_U32 SSF_SHADOW_TEXT = 1u << 9;
constexpr INT_U32 SSF_INSET_TEXT = 1u << 10;
constexpr INT_U32 SSF_CHISELED_TEXT = 1u << 11;
constexpr INT_U32 SSF_DISABLED = 1u << 12;
constexpr INT_U32 SSF_ICON_LEFT = 1u << 13;
constexpr INT_U32 SSF_ICON_RIGHT = 1u << 14;
constexpr INT_U32 SSF_ICON_TOP = 1u << 15;
constexpr INT_U32 SSF_ICON_BOTTOM = 1u << 16;
constexpr INT_U32 SSF_ICON_ATTACH_TO_TEXT = 1u << 17;
constexpr INT_U32 SSF_WRAP_TEXT = 1u << 18;
constexpr INT_U32 SSF_DONT_RESIZE_IMAGE = 1u << 19; // skins drawn at their own size
constexpr INT_U32 SSF_TOP_ALIGN_TEXT = 1u << 20;
constexpr INT_U32 SSF_BOTTOM_ALIGN_TEXT = 1u << 21;

// ---- WM_STYLE_SET::ssef, the extended flags --------------------------------
// The configuration key of each is "ssef_" and its name in lower case,
// except SSEF_AUTO_ACTIVATE, stored as "ssef_auto_actiavte".
constexpr INT_U32 SSEF_INVERT_VFADING_ON_PRESS = 1u << 0;
constexpr INT_U32 SSEF_INDENT_WHEN_ACTIVE = 1u << 1;
constexpr INT_U32 SSEF_LEFT_ARROW = 1u << 2;
constexpr INT_U32 SSEF_RIGHT_ARROW = 1u << 3;
constexpr INT_U32 SSEF_UP_ARROW = 1u << 4;
constexpr INT_U32 SSEF_DOWN_ARROW = 1u << 5;
constexpr INT_U32 SSEF_AUTO_DEPRESS = 1u << 6;  // a button's down look follows the pointer
constexpr INT_U32 SSEF_AUTO_ACTIVATE = 1u << 7; // the pointer over a button stands for the left button
constexpr INT_U32 SSEF_DONT_MASK_CLICK = 1u << 8;
constexpr INT_U32 SSEF_SB_HORIZONTAL = 1u << 9;
constexpr INT_U32 SSEF_SB_WITH_BUTTONS = 1u << 10;
constexpr INT_U32 SSEF_TE_PASSWORD = 1u << 11;
constexpr INT_U32 SSEF_GRID_FIX_TOP_ROW = 1u << 12;    // row 0 stays at the top of the view
constexpr INT_U32 SSEF_GRID_TWO_TONE = 1u << 13;       // odd slots darkened by two_tone_value percent
constexpr INT_U32 SSEF_GRID_TYPE_LINES = 1u << 14;     // one background per row
constexpr INT_U32 SSEF_GRID_TYPE_CELLS = 1u << 15;     // one background per cell
constexpr INT_U32 SSEF_GRID_SCROLL_BY_LINE = 1u << 16; // the first visible row is drawn whole at the top
constexpr INT_U32 SSEF_GRID_NO_SCROLLBAR = 1u << 17;
constexpr INT_U32 SSEF_GRID_ONLY_DRAW_USED_LINES = 1u << 18; // no empty slots; rows without objects take no room
constexpr INT_U32 SSEF_PB_ONLY_DRAW_BAR = 1u << 19;
constexpr INT_U32 SSEF_PB_VERTICAL = 1u << 20;
constexpr INT_U32 SSEF_PB_NO_SHADING = 1u << 21;
constexpr INT_U32 SSEF_PB_POSITION_TEXT_ON_BAR = 1u << 22;
constexpr INT_U32 SSEF_PB_DRAW_ALT_PERCENTAGE = 1u << 23;
constexpr INT_U32 SSEF_FM_HIDE_SCROLLING_ARROWS = 1u << 24;    // a floating menu's "^" and "v" show no caption
constexpr INT_U32 SSEF_GRID_DONT_SHORTEN_SCROLLBAR = 1u << 25; // the bar runs beside a fixed top row too

// ---- key codes -------------------------------------------------------------
// Mac virtual key codes, as KEYBOARD reports them on every host.
constexpr INT_S32 KEY_RETURN = 36;
constexpr INT_S32 KEY_TAB = 48;
constexpr INT_S32 KEY_DELETE = 51; // Backspace: deletes backwards
constexpr INT_S32 KEY_ESCAPE = 53;
constexpr INT_S32 KEY_COMMAND = 55;
constexpr INT_S32 KEY_SHIFT = 56;
constexpr INT_S32 KEY_CAPS_LOCK = 57;
constexpr INT_S32 KEY_CONTROL = 59;
constexpr INT_S32 KEY_ENTER = 76; // on the keypad
constexpr INT_S32 KEY_HOME = 115;
constexpr INT_S32 KEY_PAGE_UP = 116;
constexpr INT_S32 KEY_FORWARD_DELETE = 117;
constexpr INT_S32 KEY_END = 119;
constexpr INT_S32 KEY_PAGE_DOWN = 121;
constexpr INT_S32 KEY_LEFT = 123; // the four arrows run left, right, down, up
constexpr INT_S32 KEY_RIGHT = 124;
constexpr INT_S32 KEY_DOWN = 125;
constexpr INT_S32 KEY_UP = 126;
// The right Shift of the extended key table; never held on this host.
constexpr INT_S32 KEY_SHIFT_EXTENDED = 261;

// ---- pointer shapes --------------------------------------------------------
// Ids for MOUSE::set_mouse_cursor and WM_PAGE_MANAGER::cursor_request.
constexpr INT_S8 CURSOR_ARROW = 0;
constexpr INT_S8 CURSOR_OVER = 1;      // pointing hand
constexpr INT_S8 CURSOR_PRESSED = 2;   // refused by this host: widgets then ask for another
constexpr INT_S8 CURSOR_DRAGGABLE = 3; // open hand
constexpr INT_S8 CURSOR_DRAGGING = 4;  // closed hand
constexpr INT_S8 CURSOR_TEXT = 5;      // I-beam
constexpr INT_S8 CURSOR_BUSY = 6;      // during a page change; refused by this host

// ---- EFFECT_INFO, the open and close effects of dialogs and menus ---------
constexpr INT_U16 EFFECT_FADE_ON_OPEN = 0x1;  // a fade up from alpha 0 is animated; else it jumps
constexpr INT_U16 EFFECT_FADE_ON_CLOSE = 0x2; // a fade down to 0 is animated
constexpr INT_U16 EFFECT_FADE_DOWN = 0x4;     // a fade down to a non-zero level is animated
constexpr INT_U16 EFFECT_FADE_UP = 0x8;       // a fade up from a non-zero level is animated
constexpr INT_U16 EFFECT_SLIDE_ON_OPEN = 0x10;
constexpr INT_U16 EFFECT_SLIDE_ON_CLOSE = 0x20;
constexpr INT_U16 EFFECT_FROM_TOP = 0x40;
constexpr INT_U16 EFFECT_FROM_LEFT = 0x80;
constexpr INT_U16 EFFECT_FROM_BOTTOM = 0x100; // ignored with EFFECT_FROM_TOP
constexpr INT_U16 EFFECT_FROM_RIGHT = 0x200;  // ignored with EFFECT_FROM_LEFT
constexpr INT_U16 EFFECT_EDGE_WINDOW = 0x400; // off-screen point just outside the window
// Just outside the page manager's rectangle; ignored with the window edge.
constexpr INT_U16 EFFECT_EDGE_PAGE_MANAGER = 0x800;

// The open and close effects of a dialog; copied by value into each one.
struct EFFECT_INFO
{
    INT_U16 flags;            // EFFECT_* bits
    INT_S32 open_delay;       // ms of an opening or closing fade and of every slide
    INT_S32 displaying_delay; // ms of a fade between two visible levels (drag and drop)
    INT_U8 alpha;             // 0-255, the level while dragged
};

#endif
