#ifndef KIVO_WM_LIST_BOX_H
#define KIVO_WM_LIST_BOX_H

// WM_LIST_BOX: a drop-down list. A menu whose popup holds one button per
// line; the face (the readout) shows the current line's text, cut to the
// button's width, and a copy of the line's image. A choice in the popup or
// the wheel over the closed box changes the selection, and the next
// monitor reports the change once through the change callback.
#include "kivo_types.h"
#include "wm_dialog.h"
#include "wm_menu.h"
#include "wm_style_set.h"

class WM_LIST_BOX : public WM_MENU
{
public:
    // ---- data (declaration order) -------------------------------------------
    INT_S16 current_selection;          // line index; -1 none
    INT_S16 reported_selection;         // as last seen by monitor; -1 after setup
    INT_U8 notify;                      // the latest change is to be reported
    INT_U8 refresh;                     // the next monitor re-cuts the readout (set by resize)
    void* current_data;                 // user data of the current line, copied on each readout refresh
    INT_U8 show_line_image;             // the face also shows a copy of the line's image
    INT_U8 pointer_was_over;            // the pointer was over the box at the last monitor
    WM_OBJECT_CALLBACK change_callback; // null = none
    void* change_data1;
    void* change_data2;
    INT_S16 line_count; // popup rows, separators included; at most 1,024

    // ---- class-wide state (wm_context.h) -------------------------------------
    // {0x60, 100, 200, 0xE0}: the popup's effect when none is given.
    static inline EFFECT_INFO& default_list_box_effect_info = wm_context.state.list_box.default_list_box_effect_info;

    // ---- construction -------------------------------------------------------
    // Corners inclusive; the popup opens below. `unused` and the style
    // references named unused are ignored. `count` lines from `lines`
    // (line i carries user data i), `start` selected quietly; both clamped.
    WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 unused, INT_S16 count, const char* const* lines,
                INT_S16 start, WM_STYLE_SET& button_style, WM_STYLE_SET& popup_style, WM_STYLE_SET& unused_style,
                WM_STYLE_SET* item_style, WM_STYLE_SET* s2, WM_STYLE_SET* s4, WM_STYLE_SET* s5,
                WM_OBJECT_CALLBACK change, void* data1, void* data2, EFFECT_INFO* effect);
    WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 unused, INT_S16 count, const char* const* lines,
                INT_S16 start, WM_STYLE_SET& button_style, WM_STYLE_SET& unused_style1, WM_STYLE_SET& popup_style,
                WM_STYLE_SET& unused_style2, WM_STYLE_SET* item_style, WM_OBJECT_CALLBACK change, void* data1,
                void* data2, WM_STYLE_SET* s2, EFFECT_INFO* effect);
    // The menu's colour form with c1, c2, c3 and c2 again; the caption left-aligned
    // with a down arrow.
    WM_LIST_BOX(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 unused, INT_S16 count, const char* const* lines,
                INT_S16 start, COLOUR c1, COLOUR c2, COLOUR c3, INT_U8 visible, WM_OBJECT_CALLBACK change, void* data1,
                void* data2, EFFECT_INFO* effect);

    // ---- base operations ----------------------------------------------------
    // The menu's pass, the wheel step, then the readout refresh and the report.
    WM_MESG monitor() override;
    // The menu's resize; the next monitor re-cuts the readout, reporting nothing.
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;

    // ---- lines ----------------------------------------------------------------
    // Appends a line (a sub-menu row when sub_menu is set), its user data
    // `data` when use_data is set, else its index; separator puts a
    // separator row, with its own index, before it. The row's button (or
    // menu); null for a null text or when the popup refuses the row (past
    // the 1,024th), and then no line is counted.
    WM_BUTTON* add_line(const char* text, void* data, INT_U8 sub_menu, INT_U8 use_data, INT_U8 separator);
    // Clamped to the lines; a change refreshes the readout and is reported
    // unless quiet. Nothing without lines.
    void set_current_selection(INT_S16 index, INT_U8 quiet);
    // The first line carrying `data`; no match changes nothing.
    void set_selection_from_data(void* data, INT_U8 quiet);
    // Every line button's callback: box is the list box. Returns 0.
    static WM_MESG list_box_selection_callback(WM_SCREEN_OBJECT* line, void* box, void* unused);
    // The readout, current_data and the image from the current line; an
    // empty readout without one (current_data then kept).
    void update_current_selection();
    // The caption, shortened from its end until it fits between the text
    // borders (no ellipsis); null or nothing fitting gives "".
    void set_readout_string(const char* text);

protected:
    void setup(INT_S16 count, const char* const* lines, INT_S16 start);

private:
    // Opened from the keyboard, the popup starts with navigation on and the
    // focus, drawn as the mark of the row Return picks, on the current line.
    void mark_current_line();
    // Makes the index current with a refreshed readout; notify as given.
    void select(INT_S16 index, INT_U8 report);
    INT_S16 clamp_line(long index);
};

#endif
