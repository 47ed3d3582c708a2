#ifndef KIVO_WM_KEYBOARD_H
#define KIVO_WM_KEYBOARD_H

// WM_KEYBOARD: the on-screen keyboard, a grid of push buttons laid out from
// a key mapping. A key press is posted into the shared KEYBOARD state at
// the start of the next pass, so the focused text edit reads it as typed.
// Shift, Caps and Ext latch and pick which of the four key sets the keys
// show; Shift lets go after one character.
#include "keyboard.h"
#include "kivo_types.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class WM_BUTTON;
class WM_GRID;

constexpr int WMK_MAX_ROWS = 5;
constexpr int WMK_MAX_KEYS = 15;
constexpr int WMK_KEY_SETS = 4; // 0 normal, 1 shifted, 2 ext, 3 ext shifted

// Key bytes of WMK_KEY_MAPPING::keys with a meaning of their own; every
// other byte is a character key typing that byte (system 8-bit set).
constexpr INT_U8 WMK_GAP = 0; // built, then hidden for good
constexpr INT_U8 WMK_SHIFT = 2;
constexpr INT_U8 WMK_CAPS = 3;
constexpr INT_U8 WMK_EXT = 4;
constexpr INT_U8 WMK_ENTER = 5;
constexpr INT_U8 WMK_BACKSPACE = 8;
constexpr INT_U8 WMK_TAB = 9;
constexpr INT_U8 WMK_LEFT = 12;
constexpr INT_U8 WMK_DOWN = 13;
constexpr INT_U8 WMK_UP = 14;
constexpr INT_U8 WMK_RIGHT = 15;

// Slots of WMK_KEY_MAPPING::label.
enum WMK_LABEL
{
    WMK_LABEL_BACKSPACE,
    WMK_LABEL_TAB,
    WMK_LABEL_SHIFT,
    WMK_LABEL_CAPS,
    WMK_LABEL_EXT,
    WMK_LABEL_SPACE,
    WMK_LABEL_ENTER,
    WMK_LABEL_LEFT,
    WMK_LABEL_DOWN,
    WMK_LABEL_UP,
    WMK_LABEL_RIGHT,
    WMK_LABEL_COUNT
};

// A key button's first callback data word.
enum WMK_KEY_KIND
{
    WMK_KIND_CHARACTER = 1,
    WMK_KIND_BACKSPACE,
    WMK_KIND_TAB,
    WMK_KIND_ENTER,
    WMK_KIND_LEFT,
    WMK_KIND_DOWN,
    WMK_KIND_UP,
    WMK_KIND_RIGHT,
    WMK_KIND_CAPS,
    WMK_KIND_SHIFT,
    WMK_KIND_EXT
};

// One layout, static data. Rows beyond row_count and keys beyond a row's
// key_count are ignored; counts outside 1..5 and 0..15 are cut to them.
struct WMK_KEY_MAPPING
{
    INT_S16 row_count;
    struct ROW
    {
        INT_S16 key_count;
        // Column ratios of the grid: >= 0 a share of the row, < 0 a fixed width.
        INT_S16 weight[WMK_MAX_KEYS];
    } rows[WMK_MAX_ROWS];
    INT_U8 filler[2];
    const char* label[WMK_LABEL_COUNT]; // captions of the special keys; null counts as ""
    // Per set and row, one byte per key position (key_count bytes); null:
    // every key of the row is a gap.
    const INT_U8* keys[WMK_KEY_SETS][WMK_MAX_ROWS];
};

// The English layout, the text edit's default; and a phone layout nothing uses.
extern WMK_KEY_MAPPING wkbm_english_british_default;
extern WMK_KEY_MAPPING wkbm_phone_default;

class WM_KEYBOARD : public WM_SCREEN_OBJECT
{
public:
    // ---- data (declaration order) -------------------------------------------
    WMK_KEY_MAPPING* mapping;                    // not owned; null: no keys
    WM_GRID* grid;                               // a child; holds the key buttons
    KEYBOARD keyboard_view;                      // keeps the shared character buffer alive
    INT_S32 pending_code;                        // posted by the next monitor; -1 none
    INT_U8 pending_char;                         // posted by the next monitor; 0 none
    INT_U8 shift, caps, ext;                     // latches
    INT_U8 no_input_taken;                       // copied into every key's slide_select
    INT_S16 highlighted_row, highlighted_column; // moved by the real arrow keys; -1 before set_keys
    INT_U8 trigger_bits;                         // the keys' events: 1 press, 2 release, 4 repeat (Enter keys: 2)
    INT_U8 hints;                                // every key shows its caption as its hint

    // ---- construction -------------------------------------------------------
    // Corners inclusive.
    WM_KEYBOARD(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& key_style, WMK_KEY_MAPPING* mapping,
                INT_U8 trigger_bits, INT_U8 no_input_taken, INT_U8 hints);
    ~WM_KEYBOARD() override;

    // Posts what the last key press left and ends the pass there;
    // otherwise the keys, then the real arrow keys move the highlight.
    WM_MESG monitor() override;

    // Kind, character and caption of every key from the set the latches
    // pick: shift == caps gives 0 (2 with ext), else 1 (3 with ext). A gap
    // key is hidden and is not shown again by a later set.
    void set_keys();
    // The key buttons' callback: data1 the key kind, data2 the keyboard; 0.
    static WM_MESG keyboard_callback(WM_SCREEN_OBJECT* key, void* kind, void* keyboard);
    // The latch a Caps, Shift or Ext key shows; 0 for other keys.
    static INT_U8 activated_callback(WM_BUTTON* key, void* keyboard);
    // Enables or disables every Enter key; a disabled one is let up.
    void set_enter_enabled(INT_U8 enabled);
    // 1 when any Enter key is enabled.
    INT_U8 get_enter_enabled();

    // The key button in the cell; null for an empty cell or outside.
    WM_BUTTON* get_key(INT_S16 row, INT_S16 column);
    // The set set_keys shows for the current latches (0..3).
    int get_key_set();

private:
    // The byte each key types in the current set.
    INT_U8 key_chars[WMK_MAX_ROWS][WMK_MAX_KEYS];
    int row_count();
    int key_count(int row);
    // f(key, row, column) for every key button; empty cells are skipped.
    template <class F> void for_each_key(F f)
    {
        for (int r = 0; r < row_count(); ++r) {
            for (int c = 0; c < key_count(r); ++c) {
                if (WM_BUTTON* key = get_key(static_cast<INT_S16>(r), static_cast<INT_S16>(c))) {
                    f(key, r, c);
                }
            }
        }
    }
};

#endif
