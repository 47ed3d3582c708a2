#ifndef KIVO_WM_FLOATING_MENU_H
#define KIVO_WM_FLOATING_MENU_H

// WM_FLOATING_MENU: a popup list of choices. A dialog whose contents is a
// one-column grid holding, one per row, push buttons, sub-menu rows and
// separators. It sizes itself to its widest row and to the page manager's
// popup area, shows "^" and "v" buttons in place of its first and last
// visible rows when the rows do not fit, moves the focus with the keys and
// by typed prefix, and closes itself (with its parent popups) on a choice,
// on Escape or the close key, or on a click elsewhere.
#include "kivo_types.h"
#include "wm_dialog.h"
#include "wm_grid.h"
#include "wm_names.h" // SSEF_FM_HIDE_SCROLLING_ARROWS
#include "wm_style_set.h"

class WM_BUTTON;
class WM_MENU;
class WM_SCRIPT;

class WM_FLOATING_MENU : public WM_DIALOG
{
public:
    // ---- data (declaration order) -------------------------------------------
    WM_GRID* grid;                          // the rows; a child of the contents; null only if it could not be made
    INT_S16 row_count;                      // rows in use, separators included; at most the grid's 1,024
    INT_S16 item_count;                     // button and sub-menu rows; odd ones take the alternate style
    INT_S16 top_row;                        // first visible row
    INT_S16 bottom_row;                     // last visible row
    INT_S16 min_width;                      // minimum content width, set by the owning menu
    WM_STYLE_SET grid_style_set;            // the grid's own and cell style
    WM_STYLE_SET* alternate_item_style_set; // odd item rows; not owned
    WM_STYLE_SET* separator_style_set;      // owned copy or null
    WM_STYLE_SET* up_arrow_style_set;       // owned copy or null: the "^" button
    WM_STYLE_SET* down_arrow_style_set;     // owned copy or null: the "v" button
    WM_STYLE_SET* sub_menu_style_set;       // owned copy or null: popup style of sub-menus
    INT_U8 prev_buttons;                    // left or right button down at the previous monitor
    INT_U8 prev_escape;                     // Escape (or the close key) down at the previous monitor
    INT_U8 prev_return;                     // the return key down at the previous monitor
    INT_U8 wait_release;                    // mouse ignored until every button is up; set on showing
    INT_U8 prev_visible;                    // visibility seen by the previous monitor
    INT_U8 draggable;
    // Hid itself after a choice with remove_when_closed: monitor and update
    // return WM_MESG_CLOSE_MODAL.
    INT_U8 closed;
    WM_SCREEN_OBJECT* hidden_top;    // row object taken out while "^" stands in its row
    WM_SCREEN_OBJECT* hidden_bottom; // row object taken out while "v" stands in its row
    WM_BUTTON* up_button;            // made on first need, kept until destruction
    WM_BUTTON* down_button;
    INT_S16 hidden_top_row, hidden_bottom_row;
    WM_SCREEN_OBJECT* owner; // the WM_MENU whose popup this is; null for a free menu
    INT_S32 close_key;       // a key code that closes like Escape; -1 = none
    INT_U8 close_key_latch;  // the close key is ignored until seen up once after showing
    INT_U8 return_latch;     // so is the return key: the press that opened the menu
    INT_U32 type_ahead_ms;   // get_ms_count of the last type-ahead character
    char type_ahead[6];      // typed prefix: up to 5 characters and a zero

    // ---- class-wide state (wm_context.h) -------------------------------------
    // Whose monitor runs; null outside.
    static inline WM_FLOATING_MENU*& active_menu = wm_context.state.floating_menu.active_menu;
    // {0xF, 200, 200, 0xE0}
    static inline EFFECT_INFO& default_floating_menu_effect_info =
        wm_context.state.floating_menu.default_floating_menu_effect_info;

    // ---- construction -------------------------------------------------------
    // item_style becomes the dialog's object_style_set; a null alternate
    // style takes it too. The four optional sets are copied. A null effect
    // takes default_floating_menu_effect_info. not_to_delete sets no_delete.
    WM_FLOATING_MENU(INT_S16 x, INT_S16 y, const char* title_text, WM_STYLE_SET& dialog_style,
                     WM_STYLE_SET& title_style, WM_STYLE_SET& item_style, WM_STYLE_SET* alternate_item_style,
                     INT_U8 draggable, INT_U8 not_to_delete, WM_STYLE_SET* separator_style,
                     WM_STYLE_SET* up_arrow_style, WM_STYLE_SET* down_arrow_style, EFFECT_INFO* effect,
                     WM_STYLE_SET* sub_menu_style);
    // Every row, the scroll buttons and the owned style copies go.
    ~WM_FLOATING_MENU() override;

    // ---- base operations ------------------------------------------------------
    // The dialog's hide, then navigation off.
    void hide(INT_U8 modals, INT_U8 children) override;
    WM_MESG monitor() override;
    // 4 while closed, so that the modal timed pass (which also walks hidden
    // objects) removes a chosen free menu; else the dialog's update.
    WM_MESG update(INT_U8 modal) override;
    // The menu sizes itself: a changed size runs calc_new_size.
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    // Sets the title text, then calc_new_size.
    void set_title(const char* text) override;

    // ---- rows -----------------------------------------------------------------
    // A button row in the item style of its parity, released to act; its
    // callback's 0 stays 0. Null for a null caption, without a grid, or when
    // the grid refuses the row (past the 1,024th row): nothing is left made.
    WM_BUTTON* add_button(const char* caption, WM_OBJECT_CALLBACK callback, void* data1, void* data2, INT_U8 separator);
    // A sub-menu row (MENU_TYPE 3) whose popup takes s1 and s2 (null: the
    // menu's item styles) as its item styles; arrow draws the right arrow.
    // Null as add_button.
    WM_MENU* add_menu(const char* caption, INT_U8 separator, INT_U8 arrow, WM_STYLE_SET* s1, WM_STYLE_SET* s2);
    // Appends a separator row; null when the grid refuses it.
    WM_SCRIPT* add_seperator();
    // The row's object when it is a button (a menu is one too) / a menu;
    // null outside 0..row_count-1. A row under a scroll button answers with
    // its hidden object.
    WM_BUTTON* get_button(INT_S16 row);
    WM_MENU* get_menu(INT_S16 row);
    // Shown, and the point on the menu, one of its rows, or (recursively)
    // the open popup of a sub-menu row.
    INT_U8 is_in_menu(INT_S16 px, INT_S16 py);
    // Keyboard navigation: the can-focus byte of the rows and scroll
    // buttons, and the grid's childrens_allowed_focus.
    void set_childrens_allowed_focus(INT_U8 on);
    // No row pressed, wait for release and latch the close key again,
    // previous states cleared, type-ahead emptied. The owner calls it on opening.
    void reset();
    // The popups of the sub-menu rows (recursively), then this menu.
    void hide_with_popup_children();
    // Walk the popup chain above this menu: close with effects / hide.
    void close_linked_popup(INT_U8 up);
    void hide_linked_popup(INT_U8 up);
    // Escape, the close key or a click outside: this menu and its parents
    // close with their effects.
    void close_all();
    // When a row of this menu or a scroll button has the focus, it goes back
    // to the control the chain of popups hangs from (the owner of the first
    // one), as it closes: left on a hidden row, the page's focus repair would
    // hand it to the page's first control.
    void hand_back_focus();
    // Gives the row the focus and shows it with no scroll button over it
    // (navigation must be on for a row to take it).
    void focus_row(INT_S16 row);

    // ---- size and scrolling ---------------------------------------------------
    // Width from the title and the widest row, height from the rows that fit
    // the popup area; kept inside that area; scroll buttons as needed.
    void calc_new_size();
    // Moves to (nx, ny), or as near as lies inside the popup area, in one
    // move; calc_new_size first, so that the size is the one kept inside.
    void place_inside(INT_S16 nx, INT_S16 ny);
    void clear_scrolling_buttons();
    void check_for_scrolling_buttons();
    // The scroll buttons' callback: data1 the menu, data2 1 for "^", 0 for "v".
    static WM_MESG scrolling_callback(WM_SCREEN_OBJECT* button, void* menu, void* direction);

private:
    // The item style of the next item row.
    WM_STYLE_SET& next_item_style();
    // The cell rectangle of row `row_count` (relative to the grid's left
    // edge and the row's top), as a new row would have it.
    void new_row_corners(INT_S16& x1, INT_S16& y1, INT_S16& x2, INT_S16& y2);
    // Puts the object in row `row_count`; on refusal deletes it and answers false.
    bool append_row(WM_SCREEN_OBJECT* object);
    // The row's object, looking through a scroll button to the hidden one.
    WM_SCREEN_OBJECT* row_object(INT_S16 row);
    // Hides the menu after a choice, with its parents; closed when it is to go.
    void choose();
    // Keyboard passes of monitor.
    void run_navigation_keys();
    void run_type_ahead();
    // The release of a mouse button, after the dialog's pass: a choice, or
    // a close when it was outside the menu tree.
    void run_pointer_release();
    // Scrolls by pixels (positive: towards the top) after clearing the
    // scroll buttons; then calc_new_size.
    void scroll_by(INT_S32 pixels);
    void clear_row_press(WM_SCREEN_OBJECT* row);
    // The steps of calc_new_size. The title's text and gaps; 0 without one.
    int title_width();
    // Walks the rows: counts those scrolled above the view (offset pixels)
    // in top_row, adds to h the heights of those in view that fit in
    // `room`, measures the texts not measured yet. True when the rows were
    // cut, at `cut`, the last row shown (not a separator).
    bool fit_rows(INT_S32 offset, int room, int& h, int& cut);
    void measure_row_text(INT_S16 row, WM_SCREEN_OBJECT* obj);
    // Moved, when it must be, to lie inside the popup area.
    void keep_inside(INT_S16 ax1, INT_S16 ay1, INT_S16 ax2, INT_S16 ay2);
    // From (from_x, from_y), moved when it must be to lie inside the area.
    void move_inside(int from_x, int from_y, INT_S16 ax1, INT_S16 ay1, INT_S16 ax2, INT_S16 ay2);

    // The widest row text so far, over rows 0..measured_rows-1: each row is
    // measured once, when a size is first worked out with it, not at every
    // row added after it. Opening the menu (reset) measures them all again.
    INT_S32 widest_text = 0;
    INT_S16 measured_rows = 0;
};

#endif
