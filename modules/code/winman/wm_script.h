#ifndef KIVO_WM_SCRIPT_H
#define KIVO_WM_SCRIPT_H

// WM_SCRIPT: a block of text (label, caption, hint, title) with an optional
// skin or a plain, faded or darkened background, a border, an icon beside
// the text, one line or wrapped text, and a flash between two looks. It
// never takes the focus and can let a linked object see the input first.
#include "folder.h"
#include "image_box.h"
#include "param.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

// script_flags bits.
constexpr INT_U32 SCRIPT_INDENTED_BORDER = 0x1;
constexpr INT_U32 SCRIPT_OUTSTANDING_BORDER = 0x2;
constexpr INT_U32 SCRIPT_LEFT_JUSTIFY = 0x4; // wins over right
constexpr INT_U32 SCRIPT_RIGHT_JUSTIFY = 0x8;
constexpr INT_U32 SCRIPT_TOP_ALIGN = 0x10; // wins over bottom
constexpr INT_U32 SCRIPT_BOTTOM_ALIGN = 0x20;
constexpr INT_U32 SCRIPT_DARKENED = 0x40;
constexpr INT_U32 SCRIPT_HFADING = 0x80;
constexpr INT_U32 SCRIPT_VFADING = 0x100;
constexpr INT_U32 SCRIPT_TEXT_COLOUR_OUTLINE = 0x200;
constexpr INT_U32 SCRIPT_SHADOW_TEXT = 0x400;
constexpr INT_U32 SCRIPT_INSET_TEXT = 0x800;
constexpr INT_U32 SCRIPT_CHISELED_TEXT = 0x1000;
constexpr INT_U32 SCRIPT_ICON_LEFT = 0x2000;
constexpr INT_U32 SCRIPT_ICON_RIGHT = 0x4000;
constexpr INT_U32 SCRIPT_ICON_TOP = 0x8000;
constexpr INT_U32 SCRIPT_ICON_BOTTOM = 0x10000;
constexpr INT_U32 SCRIPT_ICON_ATTACHED = 0x20000;
constexpr INT_U32 SCRIPT_WRAP = 0x40000;
constexpr INT_U32 SCRIPT_SKIN_OWN_SIZE = 0x80000; // the skin is not stretched
constexpr INT_U32 SCRIPT_RECT_HIT_TEST = 0x1000000;

class WM_SCRIPT : public WM_SCREEN_OBJECT
{
public:
    PARAMETER text;       // drawn only while it holds a string
    PARAMETER flash_text; // the on phase's text; flashing runs while it is a non-empty string
    INT_U8 flashing;      // 1 while the on phase is shown
    COLOUR text_colour;
    COLOUR underline_colour; // third colour of every text draw
    COLOUR bg_colour;
    COLOUR fading_colour;         // second colour of faded backgrounds
    COLOUR flash_bg_colour;       // background of the on phase when its alpha is non-zero
    COLOUR flash_text_colour;     // text colour of the on phase when its alpha is non-zero
    INT_U8 draw_background;       // 0: no background fill
    INT_S8 font_id;               // -1: the surface's font
    INT_S16 font_x_sz, font_y_sz; // -1: the surface's size
    // Text insets from the edges.
    INT_S16 border_left_gap, border_right_gap, border_top_gap, border_bottom_gap;
    INT_S16 icon_x_spacing, icon_y_spacing; // between the icon and the text
    INT_U32 script_flags;
    // draw_shading flags: 1, 2, 4, 8 the sides, 0x10 to 0x80 the rounded
    // corners, 0x8000 indented.
    INT_U16 edge_flags;
    INT_U8 enabled;                  // 0: the text is drawn chiseled
    INT_U8 flash_mask;               // bits of flashing_flags that drive the phase (0x20: 2000 ms)
    WM_SCREEN_OBJECT* linked_object; // monitored first; not owned
    IMAGE icon;                      // drawn beside the text when it has a width
    IMAGE_BOX skin;                  // replaces background and border when usable
    IMAGE_BOX flash_skin;            // replaces the skin in the on phase when usable

    // Corners are inclusive; a width or height of 0 or less fits the text.
    WM_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* text, char font_id, INT_S16 font_x_sz,
              INT_S16 font_y_sz, COLOUR text_colour, COLOUR bg_colour, INT_U8 visible, INT_U32 script_flags);
    WM_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style, const char* text);
    ~WM_SCRIPT() override;

    // Font and sizes -1 take the surface's; gaps -1 the block's shading
    // width; spacings -1 the left and top gap. Ends in the creation hook.
    void setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* text, char font_id, INT_S16 font_x_sz,
               INT_S16 font_y_sz, const COLOUR& text_colour, const COLOUR& bg_colour, INT_S16 left_gap,
               INT_S16 right_gap, INT_S16 top_gap, INT_S16 bottom_gap, INT_S16 icon_x_spacing, INT_S16 icon_y_spacing);

    // A usable skin takes the three colours (trialpha set) or is tinted by
    // the background; the block is redrawn either way.
    void set_colours(const COLOUR& background, const COLOUR& text, const COLOUR& third, INT_U8 trialpha);
    // From a style whose runtime cache is loaded, else from the folder:
    // name, else name + "_up"; the flash skin name + "_flashing". A null
    // name clears both. Returns whether the skin is usable.
    INT_U8 set_images(const char* folder, const char* name, WM_STYLE_SET* style);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    INT_U8 is_graphical() { return skin.are_images_valid() ? 1 : 0; }

    // Null counts as "". grow: the width becomes at least the text's width
    // in the block's font + 1; it never narrows.
    virtual void set_string(const char* text, INT_U8 grow);

    // Total text insets of a block of that style (-1 sizes take the
    // surface's): both gaps set, their sum; one, it plus half the x font
    // size (vertically, plus base_gap); none, the x font size (twice base_gap).
    static void calc_xgap_from_style_set(WM_STYLE_SET& style, INT_S16& result);
    static void calc_ygap_from_style_set(WM_STYLE_SET& style, INT_S16 base_gap, INT_S16& result);
    // The size a block of that style needs for the text; returns the height.
    INT_S16 get_preview_size(WM_STYLE_SET& style, const char* text, INT_S16& w, INT_S16& h);

    WM_MESG monitor() override;
    WM_MESG update(INT_U8 modal) override;
    INT_U8 is_in_it(INT_S16 px, INT_S16 py) override;
    INT_U8 can_have_focus() override { return 0; }
    void draw_object() override;

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style);
    }
    // A folder without an alias path clears the skins.
    INT_U8 load_skins_without_path(const char* name, WM_STYLE_SET* style) override;
    // The text's pixel width in the block's font and sizes.
    INT_S32 measure_text(const char* s);

private:
    // Text-drawing flags (effects 1, 2, 4; top 8, bottom 16, left 32, right 64).
    short text_flags() const;
    void fill_background(short x1, short y1, short x2, short y2, short radius, COLOUR back);
    void draw_border(short x1, short y1, short x2, short y2, short radius, COLOUR back);
};

#endif
