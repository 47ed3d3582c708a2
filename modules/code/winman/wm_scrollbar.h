#ifndef KIVO_WM_SCROLLBAR_H
#define KIVO_WM_SCROLLBAR_H

// WM_SCROLLBAR: a horizontal or vertical bar whose slider shows and edits
// the integer value of a caller's PARAMETER between its minimum and
// maximum, with optional less and more buttons at its ends. Construction,
// geometry and the input pass live in wm_scrollbar.cpp, the skinned and
// colour-drawn looks in wm_scrollbar_draw.cpp.
//
// A vertical bar has its maximum at the top. The less button lowers the
// value (left, or bottom), the more button raises it (right, or top).
#include "colour.h"
#include "image_box.h"
#include "kivo_types.h"
#include "param.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

class FOLDER;
class WM_SCROLLBAR;

// 0 horizontal, 1 horizontal with buttons, 2 vertical, 3 vertical with
// buttons; anything else is refused (error 116) wherever travel is computed.
typedef INT_U32 SCROLLBAR_TYPE;
// The held action, and the question put to the movement callback: 0 none,
// 1 a line towards the maximum, 2 a line towards the minimum, 3 a page
// towards the maximum, 4 a page towards the minimum.
typedef INT_U32 SCROLLBAR_BUTTON_DOWN_TYPE;
// The step (a positive amount) to take for action 1 to 4.
typedef long (*WM_SCROLLBAR_MOVEMENT_CALLBACK)(WM_SCROLLBAR* bar, SCROLLBAR_BUTTON_DOWN_TYPE action);

// draw_flags bits.
constexpr INT_U8 SCROLLBAR_ROUNDED = 0x1;
constexpr INT_U8 SCROLLBAR_VFADING = 0x2;       // faces fade top to bottom
constexpr INT_U8 SCROLLBAR_HFADING = 0x4;       // faces fade left to right
constexpr INT_U8 SCROLLBAR_NATURAL_SIZE = 0x10; // skin pieces are not stretched
constexpr INT_U8 SCROLLBAR_AUTO_LOOK = 0x80;    // setup adds rounded and a fade by orientation

class WM_SCROLLBAR : public WM_SCREEN_OBJECT
{
public:
    // The skin pieces in image_boxes, with the suffix set_images loads.
    enum
    {
        BOX_BAR,             // "%s_bar"
        BOX_BAR_DISABLED,    // "%s_bar_disabled"
        BOX_BAR_OVER,        // "%s_bar_over"
        BOX_SLIDER_UP,       // "%s_slider_up"
        BOX_SLIDER_DOWN,     // "%s_slider_down"
        BOX_SLIDER_DISABLED, // "%s_slider_disabled"
        BOX_SLIDER_OVER,     // "%s_slider_over"
        BOX_LESS_UP,         // "%s_less_up"
        BOX_LESS_DOWN,       // "%s_less_down"
        BOX_LESS_DISABLED,   // "%s_less_disabled"
        BOX_LESS_OVER,       // "%s_less_over"
        BOX_MORE_UP,         // "%s_more_up"
        BOX_MORE_DOWN,       // "%s_more_down"
        BOX_MORE_DISABLED,   // "%s_more_disabled"
        BOX_MORE_OVER,       // "%s_more_over"
        BOX_COUNT
    };

    // ---- data (declaration order) -------------------------------------------
    // Hides the base's type bits; those are WM_SCREEN_OBJECT::type here.
    SCROLLBAR_TYPE type = 0;
    PARAMETER* param = nullptr; // the value and its limits; owned by the caller
    // The value last reported; the slider is drawn for it. A long, so that
    // an unsigned 32-bit value is kept whole.
    long old_value = 0;
    INT_S32 travel = 0;      // pixels over which the slider's reference point moves
    INT_S32 drag_offset = 0; // added to the pointer coordinate while dragging
    // The slider's reference point at the minimum (horizontal: its end
    // column + 1) or at the maximum (vertical: its top row).
    INT_S32 travel_start = 0;
    INT_S16 slider_sz = 6; // along the bar, at least 6; set_travel after changing it
    INT_S16 button_sz = 0; // each button, along the bar
    COLOUR bar_colour = 0, slider_colour = 0, button_colour = 0, arrow_colour = 0;
    INT_U8 dragging = 0;
    INT_U8 last_left_button = 0;          // the left button at the previous pass
    INT_U8 draw_flags = 0;                // SCROLLBAR_* bits above
    INT_S32 page_step = 1, line_step = 1; // steps without a movement callback
    INT_U8 enabled = 1;                   // 0: input ignored, changes still reported
    INT_U32 repeat_ms = 0;                // now_ms of the held action's last step
    SCROLLBAR_BUTTON_DOWN_TYPE button_down = 0;
    INT_U8 repeating = 0;                                               // the held action is past its first delay
    WM_SCROLLBAR_MOVEMENT_CALLBACK movement_callback = nullptr;         // null: line_step and page_step
    INT_S16 wheel_step = 1;                                             // value change per wheel notch
    INT_U8 over_bar = 0, over_slider = 0, over_less = 0, over_more = 0; // hover flags of the last pass
    IMAGE_BOX image_boxes[BOX_COUNT];

    // ---- class-wide state (wm_context.h) -------------------------------------
    // ms held before the first repeat, 500
    static inline INT_U32& button_auto_repeat_threshhold = wm_context.state.scrollbar.button_auto_repeat_threshhold;
    // ms between repeats, 60
    static inline INT_U32& button_auto_repeat_rate = wm_context.state.scrollbar.button_auto_repeat_rate;
    // The one bar the mouse wheel moves; only compared, never followed.
    static inline WM_SCROLLBAR*& mouse_wheel_focus = wm_context.state.scrollbar.mouse_wheel_focus;

    // ---- construction -------------------------------------------------------
    // Corners inclusive. The type, sizes, look and colours come from the
    // style set.
    WM_SCROLLBAR(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, PARAMETER* param, WM_STYLE_SET& style,
                 WM_OBJECT_CALLBACK callback, void* data1, void* data2);
    WM_SCROLLBAR(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 slider_size, INT_S16 button_size,
                 PARAMETER* param, SCROLLBAR_TYPE type, INT_U8 draw_flags, COLOUR bar, COLOUR slider, COLOUR button,
                 COLOUR arrow, INT_U8 visible, WM_OBJECT_CALLBACK callback, void* data1, void* data2);
    // Empties the skin boxes; gives up the wheel focus when it holds it.
    ~WM_SCROLLBAR() override;

    // Ends the program for a null (114), pointer-typed (115) or empty-range
    // (112) parameter, an unknown type (116) or a buttoned bar shorter than
    // slider and buttons (112). Warns and repairs a slider below 6 (33) and
    // a side below 11 pixels (32). Takes the wheel focus.
    void setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 slider_size, INT_S16 button_size,
               PARAMETER* param, SCROLLBAR_TYPE type, INT_U8 draw_flags, COLOUR bar, COLOUR slider, COLOUR button,
               COLOUR arrow);

    // ---- base operations ----------------------------------------------------
    WM_MESG monitor() override;
    // Nothing when unchanged; else the base's, then set_travel.
    void move(INT_S16 nx, INT_S16 ny) override;
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;
    INT_U8 can_have_focus() override;
    void draw_object() override;

    // ---- geometry -------------------------------------------------------------
    // travel and travel_start from the rectangle, slider_sz and button_sz.
    void set_travel();
    // The length slider and travel share: the bar less its buttons; 0 for
    // an unknown type.
    long get_max_travel();

    // ---- skins ----------------------------------------------------------------
    // From the style's runtime cache when loaded, else "<name>_bar" and so
    // on from the folder; the button pieces only for buttoned types. The
    // answer is is_graphical().
    bool set_images(const char* folder_path, const char* name, WM_STYLE_SET* style);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    // Track, slider up and down, and for buttoned types the up and down
    // pieces of both buttons, are usable.
    bool is_graphical();

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style) ? 1 : 0;
    }

private:
    bool horizontal() const { return type == 0 || type == 1; }
    bool buttoned() const { return type == 1 || type == 3; }
    long value();
    // Through PARAMETER::set; whole-number types clamped first.
    void set_value(long v);
    // max - min; 0 when it does not fit in a long.
    long range();
    // A non-empty range and a positive travel: positions can be computed.
    bool movable();
    // The slider's end column + 1 (horizontal) or top row (vertical) for v;
    // travel_start when the range is empty.
    long slider_pos(long v);
    // The step of action 1 to 4, from the movement callback or the fields.
    long step_of(SCROLLBAR_BUTTON_DOWN_TYPE action);
    void apply(SCROLLBAR_BUTTON_DOWN_TYPE action);
    void update_hover(INT_S16 mx, INT_S16 my);
    // The action a press at axis coordinate a chooses; 0 none.
    SCROLLBAR_BUTTON_DOWN_TYPE press_action(long a);
    void grab(INT_S16 mx, INT_S16 my, long a);
    void drag(long a);
    void read_key();
    // Skinned and colour looks (wm_scrollbar_draw.cpp).
    void draw_skin();
    void draw_colours();
};

#endif
