#ifndef KIVO_WM_BUTTON_H
#define KIVO_WM_BUTTON_H

// WM_BUTTON: the push button, drawn from state skins or from colours with
// shading, fading and rounded corners, with a caption, an optional icon, a
// hint that pops up when the pointer rests on it, a flash text and an
// activated look asked from its owner. Construction and drawing live in
// wm_button.cpp, the per-frame input pass in wm_button_input.cpp.
//
// Other names some callers use for these fields:
//   "pressed-inside", "held"                        -> armed
//   "mouse-held"                                    -> last_left
//   "menu-row byte", "input-taken suppression"      -> slide_select
//   "highlighted flag"                              -> selected
//   "own image"                                     -> icon
//   "text borders"                                  -> border_*_gap
#include "colour.h"
#include "image.h"
#include "image_box.h"
#include "kivo_types.h"
#include "param.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class FOLDER;
class WM_BUTTON;
class WM_SCRIPT;

// 0 plain; 1 the down look follows the pointer; 2 the pointer being over
// the button stands for the left button.
typedef INT_U32 BUTTON_TYPE;

// code: 1 first move, 2 dropped where it started, 4 dropped on another
// object (target may be null), 8 dropped on the button itself elsewhere.
typedef WM_MESG (*WM_DRAG_CALLBACK)(WM_BUTTON* button, WM_SCREEN_OBJECT* target, short x, short y, INT_U32 code,
                                    void* data1, void* data2);
// The activated flag the button should show.
typedef INT_U8 (*WM_ACTIVATED_CALLBACK)(WM_BUTTON* button, void* data);

// draw_flags bits.
constexpr INT_U32 BUTTON_TEXT_LEFT = 0x1;
constexpr INT_U32 BUTTON_TEXT_RIGHT = 0x2;
constexpr INT_U32 BUTTON_TEXT_TOP = 0x4;
constexpr INT_U32 BUTTON_TEXT_BOTTOM = 0x8;
constexpr INT_U32 BUTTON_ARROW_LEFT = 0x10;
constexpr INT_U32 BUTTON_ARROW_RIGHT = 0x20;
constexpr INT_U32 BUTTON_ARROW_UP = 0x40;
constexpr INT_U32 BUTTON_ARROW_DOWN = 0x80;
constexpr INT_U32 BUTTON_DARKENED = 0x100;
constexpr INT_U32 BUTTON_FIXED_RELIEF = 0x200; // the sunken bit is not driven by the state
constexpr INT_U32 BUTTON_HFADING = 0x400;
constexpr INT_U32 BUTTON_VFADING = 0x800;
constexpr INT_U32 BUTTON_INVERT_VFADING = 0x1000; // while sunken
constexpr INT_U32 BUTTON_TEXT_OUTLINE = 0x2000;   // border outline in the text colour
constexpr INT_U32 BUTTON_TEXT_SHADOW = 0x4000;
constexpr INT_U32 BUTTON_TEXT_INSET = 0x8000;
constexpr INT_U32 BUTTON_TEXT_CHISELED = 0x10000;
constexpr INT_U32 BUTTON_ICON_LEFT = 0x20000;
constexpr INT_U32 BUTTON_ICON_RIGHT = 0x40000;
constexpr INT_U32 BUTTON_ICON_TOP = 0x80000;
constexpr INT_U32 BUTTON_ICON_BOTTOM = 0x100000;
constexpr INT_U32 BUTTON_ICON_ATTACHED = 0x200000; // to the caption
constexpr INT_U32 BUTTON_WRAP_TEXT = 0x400000;
constexpr INT_U32 BUTTON_DONT_RESIZE_IMAGE = 0x800000;
constexpr INT_U32 BUTTON_DONT_MASK_CLICK = 0x1000000;

class WM_BUTTON : public WM_SCREEN_OBJECT
{
public:
    // The state skins in image_boxes, with the suffix set_images loads.
    enum
    {
        BOX_UP,              // "%s_up"
        BOX_DOWN,            // "%s_down"
        BOX_DISABLED,        // "%s_disabled"
        BOX_OVER,            // "%s_over"
        BOX_ACTIVE_UP,       // "%s_active_up"
        BOX_ACTIVE_DOWN,     // "%s_active_down"
        BOX_ACTIVE_DISABLED, // "%s_active_disabled"
        BOX_ACTIVE_OVER,     // "%s_active_over"
        BOX_HIGHLIGHTED,     // "%s_highlighted"
        BOX_FLASHING,        // "%s_flashing"
        BOX_DRAGGING,        // "%s_dragging"
        BOX_COUNT
    };

    // ---- data (declaration order) -------------------------------------------
    INT_U8 indent_when_active; // drawn sunken while activated
    // Edge flags for draw_shading: 0-3 edges, 0x10-0x80 rounded corners,
    // 0x8000 sunken.
    INT_U16 shading_flags;
    char active_mark[2]; // one character drawn in the left gap while activated; "" = none
    char* caption;       // owned, never null after construction
    COLOUR background_colour;
    COLOUR active_background_colour;
    COLOUR active_text_colour;
    COLOUR highlight_colour; // face while down
    COLOUR text_colour;
    COLOUR highlight_text_colour; // caption while down
    COLOUR fading_colour;         // second colour of a faded face
    COLOUR mouse_over_colour;     // while hot: pointer over, focused or selected
    COLOUR mouse_over_text_colour;
    COLOUR flashing_colour; // face during the flash phase
    COLOUR flashing_text_colour;
    COLOUR disabled_colour;
    COLOUR disabled_text_colour;              // taken even when invisible
    COLOUR underline_colour;                  // third colour of every caption draw
    INT_U8 down;                              // drawn pressed
    INT_U8 last_left, last_right;             // mouse buttons at the previous pass
    INT_U8 armed;                             // a press began on the button
    INT_U8 slide_select;                      // press anywhere, release over the button
    INT_U8 enabled;                           // 0: disabled look, no input
    INT_U8 pointer_over;                      // kept only while the button has an over look
    WM_ACTIVATED_CALLBACK activated_callback; // asked after every event; null = none
    void* activated_data;
    BUTTON_TYPE button_type;
    INT_U32 draw_flags; // BUTTON_* bits above
    char font_id;       // font slot
    INT_S16 font_x_sz, font_y_sz;
    WM_SCRIPT* hint;                    // owned; null = none
    INT_U32 hint_time;                  // wall seconds when the pointer came to rest
    INT_S16 hint_x, hint_y;             // last pointer position over the button; -1 = none
    INT_U8 hint_when_down;              // show the hint while down instead of on rest
    WM_SCREEN_OBJECT* hint_saved_focus; // focus to give back when the hint closes
    INT_S16 border_left_gap, border_right_gap, border_top_gap, border_bottom_gap; // caption insets
    INT_S16 x_spacing, y_spacing; // between an attached icon and the caption
    INT_U8 trigger_flags;         // events that call the callback: 1 press, 2 release, 4 repeat, 8 release outside
    INT_U8 release_event;         // 1 while the callback runs for event 2 or 8
    INT_U8 return_down;           // Return at the previous pass
    INT_U32 hotkey;               // Mac key code; 0xFFFFFFFF = none
    INT_U8 hotkey_down;           // the hotkey at the previous pass
    INT_U8 selected;              // keyboard selection by the owner: Return acts on it, drawn hot
    PARAMETER flash_text;         // a non-empty text makes the button flash
    INT_U8 flashing;              // 1 = the flash phase is shown
    INT_U8 flash_mask;            // over flashing_flags; 0x20
    INT_U32 press_time;           // ms of the last press or repeat
    INT_U8 repeating;             // a repeat was given during this press
    INT_U8 right_drag;            // the right button may start a drag
    INT_U8 drag_started;          // the drag has moved
    INT_S16 drag_x, drag_y;       // pointer of the drag; -1 = none
    INT_S16 drag_offset_x, drag_offset_y; // button position minus the pointer at the drag's start
    WM_DRAG_CALLBACK drag_callback;       // null: not draggable
    void* drag_data1;
    void* drag_data2;
    INT_U8 drag_codes;     // drag codes (1, 2, 4, 8) that are reported
    IMAGE icon, over_icon; // width 0 = none; over_icon while hot
    IMAGE drag_image;      // drawn at the pointer while dragged; width 0 = none
    IMAGE_BOX image_boxes[BOX_COUNT];
    INT_U8 auto_press_odds; // 1 in n chance per check of the idle auto-press

    // ---- class-wide state (wm_context.h) -------------------------------------
    // Being auto-pressed; null = none.
    static inline WM_BUTTON*& auto_pressing_button = wm_context.state.button.auto_pressing_button;
    // ms of the auto-press's last step
    static inline INT_U32& auto_pressing_ltv = wm_context.state.button.auto_pressing_ltv;
    // ms held, 500
    static inline INT_U32& auto_pressing_button_down_delay = wm_context.state.button.auto_pressing_button_down_delay;
    // ms idle before an auto-press; 0 = never
    static inline INT_U32& auto_pressing_delay = wm_context.state.button.auto_pressing_delay;
    static inline INT_U32& auto_repeat_rate = wm_context.state.button.auto_repeat_rate; // ms, 30
    // ms to the first repeat, 300
    static inline INT_U32& auto_repeat_threshhold = wm_context.state.button.auto_repeat_threshhold;
    // Disabled captions drawn twice, engraved.
    static inline INT_U8& fast_disabled_text = wm_context.state.button.fast_disabled_text;
    // The look of every hint, a shared object (wm_context.cpp), and whether
    // it was set up; neither goes back to its start with a new run.
    static WM_STYLE_SET& hint_style_set;
    static INT_U8& hint_style_set_initialised;

    // ---- construction -------------------------------------------------------
    // Corners inclusive; a width or height of 0 or less is fitted to the
    // caption. The button takes font -1, -1, -1 (the surface's) and gaps -1.
    WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR background, COLOUR text, const char* caption,
              BUTTON_TYPE type, unsigned long draw_flags, unsigned short shading_flags, WM_OBJECT_CALLBACK callback,
              void* user1, void* user2, INT_U8 visible, INT_U8 trigger_flags);
    WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR background, COLOUR text, const char* caption,
              char font_id, INT_S16 font_x_sz, INT_S16 font_y_sz, BUTTON_TYPE type, unsigned long draw_flags,
              unsigned short shading_flags, WM_OBJECT_CALLBACK callback, void* user1, void* user2, INT_U8 visible,
              INT_U8 trigger_flags);
    WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style, const char* caption,
              const char* hint_text, WM_OBJECT_CALLBACK callback, void* user1, void* user2, INT_U8 trigger_flags);
    ~WM_BUTTON() override;

    // ---- base operations ----------------------------------------------------
    void request_draw() override;
    // shading_flags as the next draw shows them: sunken while down (or
    // activated with indent_when_active) unless the relief is fixed.
    INT_U16 drawn_shading_flags() const;
    // Closes the hint first.
    void hide(INT_U8 modals, INT_U8 children) override;
    WM_MESG monitor() override;
    // Follows the flash phase.
    WM_MESG update(INT_U8 modal) override;
    // Skinned buttons answer by box 0's alpha mask unless BUTTON_DONT_MASK_CLICK.
    INT_U8 is_in_it(INT_S16 px, INT_S16 py) override;
    INT_U8 can_have_focus() override;
    void draw_object() override;

    // Keeps the low 32 bits; 0xFFFFFFFF (-1) = none.
    virtual void set_hotkey(unsigned long code);

    // ---- setters and queries -------------------------------------------------
    // Null text: 0 and nothing changes. widen: the width grows to the
    // caption's width + 1 in the button's own font.
    INT_U8 set_string(const char* text, INT_U8 widen);
    void set_text_colour(COLOUR c);
    // Also makes a hidden button visible.
    void set_colours(COLOUR face, COLOUR text, COLOUR third, INT_U8 tri);
    // From the style's runtime cache when loaded, else "<name>_up" and so
    // on from the folder (bare name for up and down when those are
    // missing). 1 when boxes 0 and 1 are valid.
    INT_U8 set_images(const char* folder_path, const char* name, WM_STYLE_SET* style);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    INT_U8 is_graphical();
    // Null or "" leaves no hint.
    void set_hint_text(const char* text);

    // ---- state set by the owner ----------------------------------------------
    // Each stores the value and asks for a redraw when a drawn field changes
    // while the button is visible.
    // 0: the disabled look, and no input; disabling also lets go of the down look.
    void set_enabled(INT_U8 on);
    // The pressed look until the next input pass decides again.
    void set_down(INT_U8 on);
    // Drawn pressed and kept so whatever the pointer does (BUTTON_FIXED_RELIEF
    // and the sunken edge bit), as a chosen one of several options is.
    void set_held_look(bool on);
    void set_selected(INT_U8 on);
    void set_draw_flags(INT_U32 flags);
    // Back at rest: not down, not armed, no pointer over, no mouse buttons
    // remembered, no auto-repeat under way.
    void clear_press();
    // How presses work; these change nothing drawn.
    void set_button_type(BUTTON_TYPE type);
    void set_slide_select(INT_U8 on);
    void set_trigger_flags(INT_U8 flags);

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style);
    }

    void setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* caption, COLOUR background,
               COLOUR active_background, COLOUR highlight, BUTTON_TYPE type, char font_id, INT_S16 font_x_sz,
               INT_S16 font_y_sz, INT_S16 left_gap, INT_S16 right_gap, INT_S16 top_gap, INT_S16 bottom_gap,
               INT_S16 x_space, INT_S16 y_space, INT_U8 trigger);

    // ---- helpers of the input pass (wm_button_input.cpp) --------------------
    // Simulated clicks from Return (focused or selected) and the hotkey:
    // may set inside, left and right, clears type2; stores return_down and
    // hotkey_down.
    void read_keys(bool& inside, bool& left, bool& right, bool& type2);
    // The auto-press in progress, then the idle watch; true with `result`
    // when the pass ends here.
    bool run_auto_press(WM_MESG& result);
    // The drag; true with `result` when the callback answered non-zero.
    bool run_drag(INT_S16 px, INT_S16 py, bool inside, bool left, bool right, WM_MESG& result);
    void run_hint(INT_S16 px, INT_S16 py, bool left);
    // Opens the hint at (hx, hy), clamped into the surface.
    void open_hint(INT_S16 hx, INT_S16 hy);
    void place_hint(INT_S16 hx, INT_S16 hy);
    // The press fields' transitions; the event (0, 1, 2, 4 or 8).
    INT_U8 track_press(bool inside, bool left, bool type2);
    // Sound, callback and the result rule for an event.
    WM_MESG fire_event(INT_U8 event, bool left);
    // activated := activated_callback's answer, with a redraw on change.
    void ask_activated();
    // Calls `report` with the mouse-held flag (last_left) reading held, as
    // during a press, and gives the flag back afterwards.
    WM_MESG report_as_held(WM_OBJECT_CALLBACK report, void* data1, void* data2);
    bool has_over_look();
    void request_cursor(bool inside, bool left, bool right);

    // ---- shared by both sources (wm_button.cpp) -----------------------------
    bool hint_shown();
    // Hides the hint and takes it off the modal list; it stays owned.
    void close_hint();
    // x + w / 2, y + h / 2, halves toward zero.
    INT_S16 centre_x() { return static_cast<INT_S16>(x + width / 2); }
    INT_S16 centre_y() { return static_cast<INT_S16>(y + height / 2); }

private:
    // What one draw shows, worked out once from the state.
    struct LOOK
    {
        INT_S16 x, y; // where the button is drawn: its place, or the drag ghost's
        bool hot;     // pointer over, focused or selected
        bool activated;
        INT_U16 edges; // drawn_shading_flags ()
        bool sunken;   // its 0x8000 bit
        int press;     // caption, icon and arrow offset: 0 or 1
        COLOUR face, text;
    };
    // Stores a changed value, with a redraw when visible.
    template <class T> void change(T& field, T value)
    {
        if (field != value) {
            redraw_if_visible();
            field = value;
        }
    }
    // Steps of setup.
    static void init_hint_style_set();
    void set_default_colours(COLOUR background, COLOUR active_background, COLOUR highlight);
    // In the button's font and size.
    INT_S32 text_width(const char* text);
    INT_S16 line_height();
    void draw_skin(const LOOK& look);
    void draw_face(const LOOK& look, short radius);
    void draw_caption_and_icon(const LOOK& look);
    // Where the caption goes: at (tx, ty) on one line, or wrapped in the
    // box ax1..ax2 by ay1..ay2; tw and th its width and line height.
    struct CAPTION_PLACE
    {
        int tx, ty, tw, th, ax1, ay1, ax2, ay2;
    };
    // The caption's text effect bits from the draw flags; engraved when disabled.
    short caption_effect(const LOOK& look);
    CAPTION_PLACE place_caption(const LOOK& look, const char* text);
    // The icon in its box, or attached beside the caption, which it moves over.
    void draw_icon_beside_caption(const LOOK& look, IMAGE& img, CAPTION_PLACE& place);
    void draw_caption(const LOOK& look, const char* text, short effect, const CAPTION_PLACE& place);
    // Clipped to (cx1, cy1)-(cx2, cy2); faded when disabled.
    void put_icon(IMAGE& img, int ix, int iy, int cx1, int cy1, int cx2, int cy2);
    void draw_marks(const LOOK& look);
    void draw_drag();
    // The whole button with its top-left at (x, y); the drag ghost too when
    // with_drag.
    void draw_at(INT_S16 x, INT_S16 y, bool with_drag);
};

#endif
