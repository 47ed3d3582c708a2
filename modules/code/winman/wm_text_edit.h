#ifndef KIVO_WM_TEXT_EDIT_H
#define KIVO_WM_TEXT_EDIT_H

// WM_TEXT_EDIT: a single-line field of 8-bit text with a cursor, a
// selection (mouse drag or Shift with the cursor keys), clipboard copy, cut
// and paste, select all and revert, an optional character filter, a
// password mode, a prompt shown while empty, and the shared on-screen
// keyboard on systems without a real one. The ready-made character
// filters are declared at the end.
#include "colour.h"
#include "image.h"
#include "image_box.h"
#include "kivo_string.h"
#include "kivo_types.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class FOLDER;
class WM_KEYBOARD_DIALOG;
struct WMK_KEY_MAPPING;

// Asked about each character (0..255); non-zero accepts it.
typedef INT_U8 (*WM_TEXT_EDIT_FILTER)(INT_U16 character);

// What a key asks of a text edit. The real keyboard and the on-screen one
// reach an edit alike, as key codes and characters in KEYBOARD, and
// text_edit_keys maps both to these. Shift held with a cursor movement
// selects from where the cursor was.
enum WM_TEXT_EDIT_OPERATION : INT_U8
{
    TEXT_EDIT_NONE,           // not the edit's: the key code stays pending
    TEXT_EDIT_RETURN,         // WM_SCREEN_OBJECT::return_key: the callback with return_pressed set
    TEXT_EDIT_DELETE_FORWARD, // the selection, or the character after the cursor
    TEXT_EDIT_DELETE_BACK,    // the selection, or the character before the cursor
    TEXT_EDIT_TO_START,
    TEXT_EDIT_TO_END,
    TEXT_EDIT_LEFT, // one character
    TEXT_EDIT_RIGHT,
    TEXT_EDIT_WORD_LEFT, // on to a space or an end of the text
    TEXT_EDIT_WORD_RIGHT,
    TEXT_EDIT_COPY,
    TEXT_EDIT_CUT,
    TEXT_EDIT_PASTE,
    TEXT_EDIT_SELECT_ALL,
    TEXT_EDIT_REVERT, // back to the text the edit had when it took the focus
    TEXT_EDIT_TYPE,   // the character goes in when it is typeable and the filter lets it
};

// One row of the key table: a key code (character 0), or a character
// (code -1). A row with `command` set needs Command or Control held and
// comes before the row of the same key without it, which matches either way.
struct WM_TEXT_EDIT_KEY
{
    INT_S32 code;
    INT_U8 character;
    INT_U8 command;
    WM_TEXT_EDIT_OPERATION operation;
};
extern const WM_TEXT_EDIT_KEY text_edit_keys[];
extern const int text_edit_key_count;

// The operation of a pending key code; TEXT_EDIT_NONE for codes the edit
// leaves alone.
WM_TEXT_EDIT_OPERATION text_edit_operation_for_code(INT_S32 code, bool command);
// The operation of a typed character; TEXT_EDIT_TYPE for every other one.
WM_TEXT_EDIT_OPERATION text_edit_operation_for_char(unsigned character, bool command);

// The selected span of an edit's text, as character indices: `start`
// where the selection began (what Shift and drags extend from), `end` its
// moving end; both -1 when nothing is selected. Extending back onto the
// start selects nothing and clears both, so the edit never keeps equal ends.
struct WM_TEXT_SELECTION
{
    INT_S16 start = -1;
    INT_S16 end = -1;
    INT_S16 drag_x = -1; // pointer x where a drag began; -1 none (clear leaves it)

    bool empty() const { return start == -1 || end == -1; }
    void clear() { start = end = -1; }
    // The end moves to `to`; a selection not begun yet begins at `from`.
    void extend(INT_S16 from, INT_S16 to);
    // All of a text `length` long, unless all of it is selected already
    // (in either direction); nothing for an empty text.
    void select_whole(INT_S16 length);
    // The span in text order, both ends clamped to 0..length.
    void get_span(long length, long& lo, long& hi) const;
};

// draw_flags bits.
constexpr INT_U16 TEXT_EDIT_INDENTED_BORDER = 0x1;
constexpr INT_U16 TEXT_EDIT_OUTSTANDING_BORDER = 0x2;
constexpr INT_U16 TEXT_EDIT_PASSWORD = 0x4;
constexpr INT_U16 TEXT_EDIT_ICON_LEFT = 0x8;
constexpr INT_U16 TEXT_EDIT_ICON_RIGHT = 0x10;
constexpr INT_U16 TEXT_EDIT_ICON_TOP = 0x20;
constexpr INT_U16 TEXT_EDIT_ICON_BOTTOM = 0x40;
constexpr INT_U16 TEXT_EDIT_DONT_RESIZE_IMAGE = 0x80; // skin at its own size
constexpr INT_U16 TEXT_EDIT_DARKENED = 0x100;

class WM_TEXT_EDIT : public WM_SCREEN_OBJECT
{
public:
    // ---- data (declaration order) -------------------------------------------
    KIVO_STRING text;           // never longer than max_len
    KIVO_STRING prompt_text;    // shown while text is empty (set_prompt)
    KIVO_STRING saved_text;     // taken on gaining the focus; what revert restores
    INT_S16 max_len;            // characters
    INT_S16 cursor;             // insertion index, 0..length
    INT_U8 return_pressed;      // 1 only while the callback runs for Return
    WM_TEXT_EDIT_FILTER filter; // null: every printable character
    INT_U8 enabled;             // 0: no input, no focus
    COLOUR text_colour;
    COLOUR background_colour;
    COLOUR cursor_colour;
    COLOUR selection_colour;
    INT_U8 last_mouse_button; // button 1 at the previous pass
    INT_U8 report_changes;    // 1: each change plays the action sound and calls the callback (set_reports_changes)
    INT_S8 font_id;           // resolved by setup
    INT_S16 font_x_sz, font_y_sz;
    INT_S16 border_left_gap, border_right_gap, border_top_gap, border_bottom_gap; // text margins
    WM_TEXT_SELECTION selection;
    INT_U16 draw_flags; // TEXT_EDIT_* bits
    IMAGE icon;         // width 0: none
    IMAGE_BOX skin;
    // The prompt's colour: the text colour, or the style's disabled-text
    // colour (greyed text) when that shows.
    COLOUR prompt_colour;

    // ---- class-wide state (wm_context.h) -------------------------------------
    // 0xFF undecided: the first setup sets 1 when the system reports no
    // keyboard, else 0.
    static inline INT_U8& use_soft_keyboard = wm_context.state.text_edit.use_soft_keyboard;
    // The one keyboard dialog now shown, shared by every edit; null none.
    static inline WM_KEYBOARD_DIALOG*& soft_keyboard = wm_context.state.text_edit.soft_keyboard;
    // wkbm_english_british_default
    static inline WMK_KEY_MAPPING*& soft_key_mapping = wm_context.state.text_edit.soft_key_mapping;
    // The keys' hints, 0.
    static inline INT_U8& soft_key_show_hint = wm_context.state.text_edit.soft_key_show_hint;
    // The keys' no input-taken result, 0; set: the keys trigger on
    // release (2), clear: on press and auto-repeat (5).
    static inline INT_U8& soft_key_ignore_in_me = wm_context.state.text_edit.soft_key_ignore_in_me;

    // ---- construction -------------------------------------------------------
    WM_TEXT_EDIT(INT_S16 x, INT_S16 y, INT_S16 width, INT_S16 max_len, const char* text, WM_STYLE_SET& style,
                 WM_OBJECT_CALLBACK callback, void* data1, void* data2);
    ~WM_TEXT_EDIT() override;

    // font_id -1 (0xFF) and sizes -1 take the surface's; borders -1 take
    // the edit's shading size. Height = top + bottom + font y size.
    void setup(INT_S16 x, INT_S16 y, INT_S16 width, INT_S16 max_len, const char* text, COLOUR text_colour,
               COLOUR background_colour, char font_id, INT_S16 font_x_sz, INT_S16 font_y_sz, INT_S16 left,
               INT_S16 right, INT_S16 top, INT_S16 bottom);

    // ---- virtual operations ---------------------------------------------------
    WM_MESG monitor() override;
    INT_U8 can_have_focus() override;
    void take_focus() override;
    INT_S16 get_x() override { return x; }
    INT_S16 get_y() override { return y; }
    void draw_object() override;

    // ---- operations -----------------------------------------------------------
    // Null: empty. The text is cut to max_len; the cursor goes to its end.
    void set_buffer(const char* new_text);
    // Nothing for 0 or less; a longer text is cut.
    void set_buffer_len(INT_S16 length);
    // The text shown while the edit is empty (null: none).
    void set_prompt(const char* prompt);
    // Whether each change plays the action sound and calls the callback.
    void set_reports_changes(bool on) { report_changes = on ? 1 : 0; }
    // The character boundary nearest to window x.
    INT_S16 convert_pos_to_index(INT_S16 px);
    // The skin: the style's cached box when its cache is loaded, else
    // "<name>" boxes from the path (null name: cleared). Whether it is valid.
    INT_U8 set_images(const char* path, const char* name, WM_STYLE_SET* style);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    INT_U8 is_graphical() { return skin.are_images_valid() ? 1 : 0; }

    // ---- the shared soft keyboard -------------------------------------------
    void show_keyboard();
    static void hide_keyboard();
    // Change callback of the keyboard dialog's echo edit; edit is the
    // WM_TEXT_EDIT it serves (null once that edit is gone).
    static WM_MESG soft_keyboard_callback(WM_SCREEN_OBJECT* echo, void* edit, void* unused);

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style);
    }

private:
    // Sideways scrolling, kept from edit to edit so that a keystroke costs
    // what the field shows, not what the text holds. From `first` on, the
    // rest of the text fits the room for text and is `width` pixels wide,
    // as the sum of its characters' widths; first is the smallest such
    // index (-1: to be found again, from the end). The others are what it
    // was found for: another text, size or font finds it again.
    struct VISIBLE_TAIL
    {
        long first = -1;
        long long width = 0;
        long escapes = 0; // bytes 0x01 in the text, which measure by runs
        const char* buffer = nullptr;
        long length = 0;
        int room = 0, wide = 0;
        INT_S8 font = 0;
        INT_S16 font_w = 0, font_h = 0;
        const IMAGE* surface = nullptr;
    };
    VISIBLE_TAIL tail;

    long text_length() const;
    // The pixels the text may take: the width less the side borders and
    // the cursor's column.
    int text_room() const { return width - (border_left_gap + border_right_gap) - 1; }
    // The width of "W" in the edit's font: how wide a character may be.
    int letter_w_width() { return surface->get_string_width(font_id, font_x_sz, font_y_sz, "W", 1, 0); }
    // The font and sizes the surface draws the text in: its own for -1.
    void get_drawn_font(INT_S8& font, INT_S16& w, INT_S16& h) const;
    int first_visible();
    // first_visible for a text measured whole: `room` as text_room, `fit`
    // the "W"s that fit in it.
    int first_visible_by_tails(const char* t, int room, int fit);
    // Whether each character measures alone, so that widths add up: a
    // usable font and size, and no escape byte in the text.
    bool measures_by_characters();
    int char_width(unsigned char c);
    long long run_width(const char* t, long from, long to);
    // The text between lo and hi (clamped) becomes the n bytes at `insert`;
    // the kept tail follows.
    bool replace_text(long lo, long hi, const char* insert, long n);
    // Whether the kept tail was found for this room and font; records them.
    bool tail_matches_layout(int room, int wide);
    void settle_tail(const char* t, long len);
    // The smallest index whose rest of the text fits `room` (LONG_MAX for
    // none); found from the end when the kept one is stale.
    long tail_start(const char* t, long len, int room, int wide);
    void delete_selection();
    void select_all();
    void report_change(WM_MESG& result);
    // A change made: reported when asked, and a redraw.
    WM_MESG changed();
    // The mouse half of a pass: a press inside focuses the edit (a press
    // on a focused one places the cursor), a drag selects.
    void press_inside();
    void drag_to(INT_S16 px);
    WM_MESG handle_code();
    WM_MESG handle_char();
    // The operations the key table names.
    WM_MESG press_return();
    WM_MESG delete_forward();
    WM_MESG delete_back();
    // Where a cursor movement takes the cursor.
    INT_S16 cursor_target(WM_TEXT_EDIT_OPERATION movement);
    // The cursor to `to`; extending, the selection runs from where it
    // began (the cursor's old place when none did) to there, else it goes.
    void move_cursor(INT_S16 to, bool extending);
    WM_MESG copy_selection(bool cut);
    void paste(WM_MESG& result);
    WM_MESG revert();
    WM_MESG type_char(unsigned c);
    bool soft_keyboard_hidden() const;
    // The steps of draw_object; draw_text gives the cursor's x.
    void draw_background(INT_S16 x2, INT_S16 y2);
    void draw_icon(INT_S16 x2, INT_S16 y2);
    int draw_text(IMAGE& s, int tx, int ty);
    int draw_stars(IMAGE& s, int tx, int ty);
    int draw_plain_text(IMAGE& s, int tx, int ty);
};

// The ready-made filters (1 accept, 0 reject). Classes are ASCII only: a
// letter is A-Z or a-z, a digit 0-9, whatever the C locale says.
INT_U8 text_edit_number_filter(INT_U16 c);
INT_U8 text_edit_name_with_space_filter(INT_U16 c);
INT_U8 text_edit_name_without_space_filter(INT_U16 c);
INT_U8 text_edit_name_with_space_and_numbers_filter(INT_U16 c);
INT_U8 text_edit_filename_filter(INT_U16 c);

#endif
