#ifndef KIVO_WM_DIALOG_H
#define KIVO_WM_DIALOG_H

// WM_DIALOG: the movable window-in-a-window: a framed rectangle with an
// optional title line and a contents container for its widgets, usually
// shown on the modal list. It can be dragged by its title or any empty part
// of it, and it opens and closes with timed fades and slides chosen by an
// EFFECT_INFO (wm_names.h). Construction, layout, dragging and drawing
// live in wm_dialog.cpp; the effects (fades, slides, their stepping and
// the effect-aware redraw) in wm_dialog_effects.cpp.
#include "colour.h"
#include "folder.h"
#include "image.h"
#include "image_box.h"
#include "kivo_types.h"
#include "wm_names.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class WM_SCRIPT;

// {0, 0, 0, 0xFF}; nothing reads it.
extern EFFECT_INFO blank_effect_info;

// The container of a dialog's widgets: draws nothing itself, never takes
// the focus, and clips the redraw of its children to its rectangle. A
// width or height of 0 or less makes it empty: nothing in it is drawn.
class WM_DIALOG_CONTENTS : public WM_SCREEN_OBJECT
{
public:
    WM_DIALOG_CONTENTS();
    INT_U8 can_have_focus() override { return 0; }
    void check_for_redraw() override;
};

class WM_DIALOG : public WM_SCREEN_OBJECT
{
public:
    struct POINT
    {
        INT_S16 x, y;
    };

    // ---- data (declaration order) -------------------------------------------
    INT_U8 dragging;
    WM_STYLE_SET dialog_style_set; // the frame: colours, gaps, shading, skin, flags
    WM_STYLE_SET title_style_set;
    WM_STYLE_SET object_style_set;        // default look of widgets placed in the dialog
    WM_SCRIPT* title;                     // a child; null: no title
    INT_S16 drag_offset_x, drag_offset_y; // position minus pointer at the drag's start
    INT_S16 outline_x, outline_y;         // where the XOR outline stands
    WM_SCREEN_OBJECT* contents;           // a child holding the widgets
    INT_U8 can_drag;
    INT_U8 was_pressed;  // left button at the previous monitor
    INT_U8 step_pending; // the next update may take an effect step
    IMAGE_BOX images;    // the skin; on WM_SCREEN_OBJECT::image_cache
    EFFECT_INFO effect_info;
    INT_S32 effect_delay;      // ms of the running fade and slide
    INT_U32 effect_start_ms;   // now_ms of the first step; 0 = not started
    INT_U8 remove_when_closed; // a completed close makes update return WM_MESG_CLOSE_MODAL
    INT_U8 effects_suppressed; // fades jump and no slide starts
    INT_U8 current_alpha;      // 0 nothing drawn, 255 drawn plainly, between: composited
    INT_U8 start_alpha, target_alpha;
    // Scratch pixels of the composition at partial alpha, kept between draws
    // only so that each draw does not map and fault in a new buffer; what
    // they hold means nothing outside draw_at_alpha.
    IMAGE compose_scratch;
    // Equal while no slide runs; (-1, -1) before the first start_animation.
    POINT slide_start, slide_end;
    INT_U8 slide_opening; // 1: the home point is slide_end; 0: slide_start
    // Set by the closing sequence (start_fade (0), start_animation (0)),
    // cleared when the dialog hides. A closing dialog counts as not shown.
    INT_U8 closing;
    // The whole-surface grey or darkening of this showing has been done;
    // cleared when the dialog hides.
    INT_U8 background_dimmed;

    // ---- class-wide state (wm_context.h) -------------------------------------
    // Dialogs made at x or y = -1 are centred in this rectangle; any of the
    // four at -1: in window 0.
    static inline INT_S16& default_positioning_x1 = wm_context.state.dialog.default_positioning_x1;
    static inline INT_S16& default_positioning_y1 = wm_context.state.dialog.default_positioning_y1;
    static inline INT_S16& default_positioning_x2 = wm_context.state.dialog.default_positioning_x2;
    static inline INT_S16& default_positioning_y2 = wm_context.state.dialog.default_positioning_y2;
    static inline INT_U8& style_sets_initialized = wm_context.state.dialog.style_sets_initialized;
    static inline INT_U8& default_can_drag = wm_context.state.dialog.default_can_drag; // 1
    // 1: the dialog follows the pointer; 0: an XOR outline does
    static inline INT_U8& drag_contents = wm_context.state.dialog.drag_contents;
    // Behind modal dialogs; 0.
    static inline INT_U8& darken_background = wm_context.state.dialog.darken_background;
    static inline INT_U8& grey_background = wm_context.state.dialog.grey_background;
    // Whose children are being monitored; null outside.
    static inline WM_DIALOG*& active_dialog = wm_context.state.dialog.active_dialog;
    // Shared objects (wm_context.cpp).
    static WM_STYLE_SET &default_dialog_style_set, &default_title_style_set, &default_object_style_set;
    // {0x47C, 300, 1000, 0xC0}
    static inline EFFECT_INFO& default_dialog_effect_info = wm_context.state.dialog.default_dialog_effect_info;

    // ---- construction ---------------------------------------------------------
    // Null style sets and effect take the class defaults. A dialog style set
    // with an image base name loads its skin.
    WM_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title_text, WM_STYLE_SET* dialog,
              WM_STYLE_SET* title_style, WM_STYLE_SET* object, EFFECT_INFO* effect);
    // The default style sets with each colour of non-zero alpha put in:
    // dialog background and text, title background and text, object
    // background, text, highlight and highlight text. No skin.
    WM_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title_text, COLOUR c1, COLOUR c2, COLOUR c3,
              COLOUR c4, COLOUR c5, COLOUR c6, COLOUR c7, COLOUR c8, INT_U8 visible, EFFECT_INFO* effect);
    // Hides the dialog and frees what it owns; the base takes it off the
    // modal list and deletes the children.
    ~WM_DIALOG() override;

    // Builds the default style sets once per run.
    static void init_style_sets();

    // ---- base operations ------------------------------------------------------
    // Cuts a running slide short at the home point; a greyed or darkened
    // background is painted normally again.
    void hide(INT_U8 modals, INT_U8 children) override;
    // Dragging, then the children with active_dialog set; a child's 2
    // closes the dialog.
    WM_MESG monitor() override;
    // Steps the running effect; completes a close (4 with remove_when_closed).
    WM_MESG update(INT_U8 modal) override;
    // Moves a running slide along with the dialog.
    void move(INT_S16 nx, INT_S16 ny) override;
    // Children follow the layout rule whatever the flag says.
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    // Forwarded to the contents container.
    void add_object(WM_SCREEN_OBJECT* object, INT_U8 relative) override;
    void remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative) override;
    INT_U8 can_have_focus() override { return 0; }
    // The home position: slide_end while slide_opening, else slide_start.
    INT_S16 get_x() override;
    INT_S16 get_y() override;
    // Starts the opening effects when the dialog is about to be drawn for
    // the first time since it was shown, and lays out the title and the
    // contents.
    void prepare_draw() override;
    // Not while closing: the keys typed as it leaves are the page's.
    bool holds_input() override { return !closing; }
    // Draws at partial alpha and greys or darkens behind a modal dialog.
    // Ends by calling draw_drag_outline, after the clip is restored.
    void check_for_redraw() override;
    // The skin, or the frame from dialog_style_set; nothing at alpha 0.
    void draw_object() override;

    // ---- title ----------------------------------------------------------------
    virtual INT_U8 is_in_title_bar(INT_S16 px, INT_S16 py);
    // Nothing without a title.
    virtual void set_title(const char* text);
    // "" without a title; null when the title holds no text.
    virtual const char* get_title();
    // Top border gap, plus the cell top gap and the title's height with a title.
    INT_S16 get_title_height();
    void draw_title();

    // ---- dragging ---------------------------------------------------------------
    // The title, or the dialog's rectangle off the contents' children.
    INT_U8 in_drag_area(INT_S16 px, INT_S16 py);
    // XORs the dialog-sized outline at (ox, oy) in COLOUR_WHITE onto the surface.
    void draw_xor_outline(INT_S16 ox, INT_S16 oy);
    // While an outline drag runs, XORs the outline onto the region being
    // redrawn, clipped to it. The redraw calls it after drawing the dialog.
    void draw_drag_outline();

    // ---- skin ---------------------------------------------------------------------
    // From the set's runtime cache when it is loaded, else from the folder;
    // a null name clears the skin. Returns whether the skin is usable.
    INT_U8 set_images(const char* folder, const char* name, WM_STYLE_SET* set);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    INT_U8 is_graphical() { return images.are_images_valid() ? 1 : 0; }

    // ---- effects (wm_dialog_effects.cpp) -----------------------------------------
    // Fade from current_alpha to target (0 = out), jumping where the flags say.
    void start_fade(INT_U8 target);
    // 1: the opening slide; 0: the closing one.
    void start_animation(INT_U8 opening);
    // The closing sequence: fade out and slide off, both at once when
    // immediate. With remove the completed close asks to be taken off the
    // modal list (update returns WM_MESG_CLOSE_MODAL).
    void close(bool immediate, bool remove);
    // The next opening jumps to its end: no fade, no slide.
    void open_at_once() { effects_suppressed = 1; }
    // "Flags: 0x%04X, Open Delay: %d, Displaying Delay %d, Alpha 0x%02X" in a
    // static 128-byte buffer, overwritten by each call.
    static const char* get_effect_desc(EFFECT_INFO* info);

    // ---- shared by both sources (wm_dialog.cpp) ----------------------------------
    // The page manager's current area, or window 0 when there is none.
    static void get_page_manager_rect(int& px, int& py, int& pw, int& ph);
    // Where a slide of a w x h dialog at (px, py) leaves the screen, by the
    // edge bits of effect_info; an axis without edge bits keeps its coordinate.
    POINT get_off_screen_point(int px, int py, int w, int h);

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style);
    }

    void setup(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title_text, EFFECT_INFO* effect);
    // Places the title and the contents by the layout rule.
    void lay_out();
    // Marks the four edges of a dialog-sized outline at (ox, oy) for redraw.
    void mark_outline(INT_S16 ox, INT_S16 oy);

private:
    // The steps of setup.
    void place(INT_S16 nx, INT_S16 ny, INT_S16 w, INT_S16 h);
    // Border and title gaps of -1 take the shading's ring, cell gaps 0.
    void fill_unset_gaps();
    void make_title_and_contents(const char* title_text, INT_S16 w, INT_S16 h);
    void reset_effects(EFFECT_INFO* effect);
    // The steps of check_for_redraw (wm_dialog_effects.cpp).
    void dim_background();
    void clip_to_home();
    void draw_at_alpha();
};

#endif
