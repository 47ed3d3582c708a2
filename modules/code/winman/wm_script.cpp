// WM_SCRIPT: what differs from a screen object is its look (skin or
// background, border, icon, text placed or wrapped), the flash phase, and
// the linked object that sees the input first.
#include "wm_script.h"

#include "wm_clip.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <algorithm>
#include <cstdio>

namespace {

// Style-set ssf bits and the script flag each one gives (the two border
// flags also need draw_border).
struct SSF_TO_SCRIPT
{
    INT_U32 ssf_bit;
    INT_U32 script_flag;
};
const SSF_TO_SCRIPT ssf_table[] = {
    {SSF_LEFT_JUSTIFY_TEXT, SCRIPT_LEFT_JUSTIFY},
    {SSF_RIGHT_JUSTIFY_TEXT, SCRIPT_RIGHT_JUSTIFY},
    {SSF_TOP_ALIGN_TEXT, SCRIPT_TOP_ALIGN},
    {SSF_BOTTOM_ALIGN_TEXT, SCRIPT_BOTTOM_ALIGN},
    {SSF_DARKENED_BACKGROUND, SCRIPT_DARKENED},
    {SSF_HFADING, SCRIPT_HFADING},
    {SSF_VFADING, SCRIPT_VFADING},
    {SSF_USE_TEXT_COLOUR_FOR_OUTLINE, SCRIPT_TEXT_COLOUR_OUTLINE},
    {SSF_SHADOW_TEXT, SCRIPT_SHADOW_TEXT},
    {SSF_INSET_TEXT, SCRIPT_INSET_TEXT},
    {SSF_CHISELED_TEXT, SCRIPT_CHISELED_TEXT},
    {SSF_ICON_LEFT, SCRIPT_ICON_LEFT},
    {SSF_ICON_RIGHT, SCRIPT_ICON_RIGHT},
    {SSF_ICON_TOP, SCRIPT_ICON_TOP},
    {SSF_ICON_BOTTOM, SCRIPT_ICON_BOTTOM},
    {SSF_ICON_ATTACH_TO_TEXT, SCRIPT_ICON_ATTACHED},
    {SSF_WRAP_TEXT, SCRIPT_WRAP},
    {SSF_DONT_RESIZE_IMAGE, SCRIPT_SKIN_OWN_SIZE},
};

// Text-drawing flags of the script flags; the effects only while enabled.
struct TEXT_FLAG
{
    INT_U32 script_flag;
    short text_flag;
};
const TEXT_FLAG placement_flags[] = {
    {SCRIPT_LEFT_JUSTIFY, 32}, {SCRIPT_RIGHT_JUSTIFY, 64}, {SCRIPT_TOP_ALIGN, 8}, {SCRIPT_BOTTOM_ALIGN, 16}};
const TEXT_FLAG effect_flags[] = {{SCRIPT_SHADOW_TEXT, 1}, {SCRIPT_INSET_TEXT, 2}, {SCRIPT_CHISELED_TEXT, 4}};
constexpr short TEXT_CHISELED = 4;

INT_U32 script_flags_of(const WM_STYLE_SET& style)
{
    INT_U32 flags = 0;
    if (style.ssf & SSF_DRAW_BORDER) {
        if (style.ssf & SSF_INDENT_BORDER) {
            flags |= SCRIPT_INDENTED_BORDER;
        }
        if (style.ssf & SSF_OUTSTANDING_BORDER) {
            flags |= SCRIPT_OUTSTANDING_BORDER;
        }
    }
    for (const SSF_TO_SCRIPT& e : ssf_table) {
        if (style.ssf & e.ssf_bit) {
            flags |= e.script_flag;
        }
    }
    return flags;
}

// The string a parameter holds; null for any other type.
const char* string_of(const PARAMETER& p)
{
    return p.type == 8 ? p.value.text : nullptr;
}

bool visible_colour(COLOUR c)
{
    return c.alpha() != 0;
}

// One axis of the text origin: the near edge when `near`, the far edge
// when `far`, else centred between the gaps (halves toward zero).
int text_origin(int pos, int size, int near_gap, int far_gap, int extent, bool near, bool far)
{
    if (near) {
        return pos + near_gap;
    }
    if (far) {
        return pos + size - far_gap - extent - 1;
    }
    return pos + near_gap + (size - near_gap - far_gap - extent) / 2;
}

// One axis of an icon: its range [lo, hi], and the text origin moved to
// make room when the icon is attached to the text.
struct ICON_AXIS
{
    int lo, hi;
    bool sided; // an icon side was asked for: drawing keeps to the range
};
ICON_AXIS icon_axis(int pos, int size, int near_gap, int far_gap, int& origin, int extent, int icon, int spacing,
                    bool attached, bool icon_near, bool icon_far, bool justify_near, bool justify_far)
{
    if (!attached) {
        if (icon_near) {
            return {pos, pos + near_gap, true};
        }
        if (icon_far) {
            return {pos + size - far_gap - 1, pos + size - 1, true};
        }
        return {pos, pos + size - 1, false};
    }
    const bool centred = !justify_near && !justify_far;
    if (icon_near) {
        origin += justify_near ? icon + spacing : centred ? (icon + spacing) / 2 : 0;
        return {origin - spacing - icon, origin - spacing, true};
    }
    if (icon_far) {
        origin -= justify_far ? icon + spacing : centred ? (icon + spacing) / 2 : 0;
        return {origin + extent + spacing - 1, origin + extent + spacing + icon - 1, true};
    }
    return {origin, origin + extent - 1, false};
}

} // namespace

WM_SCRIPT::WM_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* text, char font_id, INT_S16 font_x_sz,
                     INT_S16 font_y_sz, COLOUR text_colour, COLOUR bg_colour, INT_U8 visible, INT_U32 script_flags)
    : WM_SCREEN_OBJECT(visible, nullptr, nullptr, nullptr), flash_text(""), flashing(0), flash_bg_colour(0),
      flash_text_colour(COLOUR_INVISIBLE), draw_background(1), script_flags(script_flags), linked_object(nullptr)
{
    skin.cache = &image_cache;
    flash_skin.cache = &image_cache;
    setup(x1, y1, x2, y2, text, font_id, font_x_sz, font_y_sz, text_colour, bg_colour, -1, -1, -1, -1, -1, -1);
}

WM_SCRIPT::WM_SCRIPT(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style, const char* text)
    : WM_SCREEN_OBJECT(style.visible, nullptr, nullptr, nullptr), flash_text(""), flashing(0), flash_bg_colour(0),
      flash_text_colour(COLOUR_INVISIBLE), draw_background(1), script_flags(script_flags_of(style)),
      linked_object(nullptr)
{
    skin.cache = &image_cache;
    flash_skin.cache = &image_cache;
    shading_type = style.shading_type;
    INT_U16 edges = style.shading_flags & 0x7FFF;
    if (script_flags & SCRIPT_INDENTED_BORDER) {
        edges |= SHADING_SWAP;
    }
    setup(x1, y1, x2, y2, text, style.font_id, style.font_x_sz, style.font_y_sz, style.fg_colour, style.bg_colour,
          style.border_left_gap, style.border_right_gap, style.border_top_gap, style.border_bottom_gap, style.x_spacing,
          style.y_spacing);
    edge_flags = edges;
    if (visible_colour(style.fading_colour)) {
        fading_colour = style.fading_colour;
    }
    if (visible_colour(style.shading_colour)) {
        shading_colour = style.shading_colour;
    }
    auto take_shown = [this](COLOUR from, COLOUR& to) {
        if (visible_colour(from)) {
            redraw_if_visible();
            to = from;
        }
    };
    take_shown(style.flashing_text_colour, flash_text_colour);
    take_shown(style.underline_colour, underline_colour);
    if (style.image_filename) {
        set_images(style.image_path, style.image_filename, &style);
    }
}

WM_SCRIPT::~WM_SCRIPT()
{
    clear_images();
}

void WM_SCRIPT::setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* text, char font_id, INT_S16 font_x_sz,
                      INT_S16 font_y_sz, const COLOUR& text_colour, const COLOUR& bg_colour, INT_S16 left_gap,
                      INT_S16 right_gap, INT_S16 top_gap, INT_S16 bottom_gap, INT_S16 icon_x_spacing,
                      INT_S16 icon_y_spacing)
{
    // The text calls take an explicit font: resolve the surface's here.
    this->font_id = static_cast<INT_S8>(font_id);
    this->font_x_sz = font_x_sz;
    this->font_y_sz = font_y_sz;
    if (surface) {
        if (this->font_id == -1) {
            this->font_id = surface->font_slot;
        }
        if (font_x_sz == -1) {
            this->font_x_sz = surface->font_width;
        }
        if (font_y_sz == -1) {
            this->font_y_sz = surface->font_height;
        }
    }
    const INT_S16 shading = get_shading_size(1);
    border_left_gap = left_gap == -1 ? shading : left_gap;
    border_right_gap = right_gap == -1 ? shading : right_gap;
    border_top_gap = top_gap == -1 ? shading : top_gap;
    border_bottom_gap = bottom_gap == -1 ? shading : bottom_gap;
    this->icon_x_spacing = icon_x_spacing == -1 ? border_left_gap : icon_x_spacing;
    this->icon_y_spacing = icon_y_spacing == -1 ? border_top_gap : icon_y_spacing;

    x = x1;
    y = y1;
    edge_flags = 15;
    const long w = static_cast<long>(x2) - x1 + 1, h = static_cast<long>(y2) - y1 + 1;
    width = to_s16(w > 0 ? w : measure_text(text ? text : "") + border_left_gap + border_right_gap);
    height = to_s16(h > 0 ? h : static_cast<long>(this->font_y_sz) + border_top_gap + border_bottom_gap);
    this->text.set(this->text.value, text ? text : "");

    this->text_colour = text_colour;
    this->bg_colour = bg_colour;
    underline_colour = COLOUR_INVISIBLE;
    flash_text_colour = COLOUR_INVISIBLE;
    fading_colour = COLOUR_BLACK;
    enabled = 1;
    flashing = 0;
    flash_mask = 0x20;
    linked_object = nullptr;
    type |= WM_TYPE_SCRIPT;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

INT_S32 WM_SCRIPT::measure_text(const char* s)
{
    if (!surface || !s) {
        return 0;
    }
    return surface->get_string_width(font_id, font_x_sz, font_y_sz, s, -1, 0);
}

void WM_SCRIPT::set_colours(const COLOUR& background, const COLOUR& text, const COLOUR& third, INT_U8 trialpha)
{
    bg_colour = background;
    text_colour = text;
    if (skin.are_images_valid()) {
        if (trialpha) {
            skin.set_trialpha_colours(background, text, third);
        } else {
            skin.recolour(background);
        }
    }
    redraw_if_visible();
}

INT_U8 WM_SCRIPT::set_images(const char* folder, const char* name, WM_STYLE_SET* style)
{
    if (style && style->get_image_cache_loaded()) {
        auto take = [](IMAGE_BOX& box, const IMAGE_BOX* from) {
            if (from) {
                box = *from;
            } else {
                box.clear_images();
            }
        };
        take(skin, style->runtime_cache[0]);
        take(flash_skin, style->runtime_cache[11]);
        if (!skin.are_images_valid()) {
            take(skin, style->runtime_cache[1]);
        }
        return is_graphical();
    }
    clear_images();
    if (!name) {
        return 0;
    }
    // A base name from a record may be of any length: a name that does not
    // fit loads nothing.
    auto load = [&](IMAGE_BOX& box, const char* suffix) {
        char skin_name[2048];
        const int n = std::snprintf(skin_name, sizeof skin_name, "%s%s", name, suffix);
        if (n >= 0 && static_cast<std::size_t>(n) < sizeof skin_name) {
            box.load_images(folder, skin_name, 0);
        }
    };
    load(skin, "");
    if (!skin.are_images_valid()) {
        load(skin, "_up");
    }
    load(flash_skin, "_flashing");
    return is_graphical();
}

INT_U8 WM_SCRIPT::load_skins_without_path(const char*, WM_STYLE_SET*)
{
    clear_images();
    return 0;
}

void WM_SCRIPT::clear_images()
{
    skin.clear_images();
    flash_skin.clear_images();
}

void WM_SCRIPT::set_string(const char* s, INT_U8 grow)
{
    text.set(text.value, s ? s : "");
    if (grow) {
        // In the block's own font: the surface's may be another size.
        width = to_s16(std::max<long>(width, measure_text(s ? s : "") + 1L));
    }
    // After the change, so that a widened block repaints its new part too.
    redraw_if_visible();
}

void WM_SCRIPT::calc_xgap_from_style_set(WM_STYLE_SET& style, INT_S16& result)
{
    const bool left = style.border_left_gap != -1, right = style.border_right_gap != -1;
    long font = style.font_x_sz;
    if (font == -1) {
        font = surface ? surface->font_width : 0;
    }
    if (left && right) {
        result = to_s16(static_cast<long>(style.border_left_gap) + style.border_right_gap);
    } else if (!left && !right) {
        result = to_s16(font);
    } else {
        result = to_s16(font / 2 + (left ? style.border_left_gap : style.border_right_gap));
    }
}

void WM_SCRIPT::calc_ygap_from_style_set(WM_STYLE_SET& style, INT_S16 base_gap, INT_S16& result)
{
    const bool top = style.border_top_gap != -1, bottom = style.border_bottom_gap != -1;
    if (top && bottom) {
        result = to_s16(static_cast<long>(style.border_top_gap) + style.border_bottom_gap);
    } else if (!top && !bottom) {
        result = to_s16(2L * base_gap);
    } else {
        result = to_s16(static_cast<long>(base_gap) + (top ? style.border_top_gap : style.border_bottom_gap));
    }
}

INT_S16 WM_SCRIPT::get_preview_size(WM_STYLE_SET& style, const char* s, INT_S16& w, INT_S16& h)
{
    INT_S16 x_gap = 0, y_gap = 0;
    calc_xgap_from_style_set(style, x_gap);
    calc_ygap_from_style_set(style, get_shading_type_size(style.shading_type), y_gap);
    INT_S8 font = style.font_id;
    long fx = style.font_x_sz, fy = style.font_y_sz, text_w = 0;
    if (surface) {
        font = font == -1 ? surface->font_slot : font;
        fx = fx == -1 ? surface->font_width : fx;
        fy = fy == -1 ? surface->font_height : fy;
        text_w = surface->get_string_width(font, to_s16(fx), to_s16(fy), s ? s : "", -1, 0);
    }
    w = to_s16(x_gap + text_w + 1);
    h = to_s16(y_gap + fy + 1);
    return h;
}

WM_MESG WM_SCRIPT::monitor()
{
    if (linked_object) {
        const WM_MESG r = linked_object->monitor();
        if (r != 0) {
            return r;
        }
    }
    return WM_SCREEN_OBJECT::monitor();
}

WM_MESG WM_SCRIPT::update(INT_U8 modal)
{
    const char* on_text = string_of(flash_text);
    if (on_text && *on_text && visible) {
        const INT_U8 on = (flash_mask & flashing_flags) != 0 ? 1 : 0;
        if (on != flashing) {
            flashing = on;
            request_draw();
        }
    }
    return WM_SCREEN_OBJECT::update(modal);
}

INT_U8 WM_SCRIPT::is_in_it(INT_S16 px, INT_S16 py)
{
    const bool masked = skin.are_images_valid() && !(script_flags & SCRIPT_RECT_HIT_TEST);
    return is_in_it_masked(px, py, masked ? &skin : nullptr);
}

void WM_SCRIPT::draw_object()
{
    if (!surface) {
        return;
    }
    IMAGE& s = *surface;
    const int w = width, h = height;
    const short x1 = x, y1 = y, x2 = to_s16(x + w - 1L), y2 = to_s16(y + h - 1L);
    const short radius = static_cast<short>(std::min(20, s.calc_rounded_rect_radius(x1, y1, x2, y2) / 2));
    WM_CLIP_SAVER block_clip(&s);
    s.add_rect_to_active_area(x1, y1, x2, y2);
    const COLOUR back = flashing && visible_colour(flash_bg_colour) ? flash_bg_colour : bg_colour;

    if (skin.are_images_valid()) {
        IMAGE_BOX& box = flashing && flash_skin.are_images_valid() ? flash_skin : skin;
        box.draw(x1, y1, x2, y2, (script_flags & SCRIPT_SKIN_OWN_SIZE) ? 0 : 1, &s, IMAGE_COPY_BLEND);
    } else {
        if (draw_background) {
            fill_background(x1, y1, x2, y2, radius, back);
        }
        draw_border(x1, y1, x2, y2, radius, back);
    }

    const char* shown = string_of(flashing ? flash_text : text);
    // Resolved in setup; an owner may have written -1 since.
    const INT_S8 font = font_id == -1 ? s.font_slot : font_id;
    const short fx = font_x_sz == -1 ? s.font_width : font_x_sz, fy = font_y_sz == -1 ? s.font_height : font_y_sz;

    const bool left_justify = (script_flags & SCRIPT_LEFT_JUSTIFY) != 0;
    const bool right_justify = !left_justify && (script_flags & SCRIPT_RIGHT_JUSTIFY);
    const bool top_align = (script_flags & SCRIPT_TOP_ALIGN) != 0;
    const bool bottom_align = !top_align && (script_flags & SCRIPT_BOTTOM_ALIGN);
    const bool wrap = (script_flags & SCRIPT_WRAP) != 0;
    const bool with_icon = icon.width != 0 && icon.height != 0 && icon.pixels;
    const bool attached = (script_flags & SCRIPT_ICON_ATTACHED) != 0;

    // Only the one-line origin and an attached icon need the text's width;
    // a wrapped block does not walk its whole text twice.
    const int text_w = shown && (!wrap || (with_icon && attached)) ? s.get_string_width(font, fx, fy, shown, -1, 0) : 0;
    int tx = text_origin(x1, w, border_left_gap, border_right_gap, text_w, left_justify, right_justify);
    int ty = text_origin(y1, h, border_top_gap, border_bottom_gap, fy, top_align, bottom_align);

    if (with_icon) {
        const ICON_AXIS ax = icon_axis(x1, w, border_left_gap, border_right_gap, tx, text_w, icon.width, icon_x_spacing,
                                       attached, (script_flags & SCRIPT_ICON_LEFT) != 0,
                                       (script_flags & SCRIPT_ICON_RIGHT) != 0, left_justify, right_justify);
        const ICON_AXIS ay = icon_axis(y1, h, border_top_gap, border_bottom_gap, ty, fy, icon.height, icon_y_spacing,
                                       attached, (script_flags & SCRIPT_ICON_TOP) != 0,
                                       (script_flags & SCRIPT_ICON_BOTTOM) != 0, top_align, bottom_align);
        WM_CLIP_SAVER icon_clip(&s);
        s.add_rect_to_active_area(ax.sided ? to_s16(ax.lo) : x1, ay.sided ? to_s16(ay.lo) : y1,
                                  ax.sided ? to_s16(ax.hi) : x2, ay.sided ? to_s16(ay.hi) : y2);
        icon.put(to_s16(ax.lo + (ax.hi - ax.lo - icon.width) / 2), to_s16(ay.lo + (ay.hi - ay.lo - icon.height) / 2),
                 &s, IMAGE_COPY_BLEND);
    }

    if (!shown) {
        return;
    }
    const short ix1 = to_s16(x1 + border_left_gap), iy1 = to_s16(y1 + border_top_gap);
    const short ix2 = to_s16(x1 + w - border_right_gap - 1L), iy2 = to_s16(y1 + h - border_bottom_gap - 1L);
    s.add_rect_to_active_area(ix1, iy1, ix2, iy2);
    const COLOUR colour = flashing && visible_colour(flash_text_colour) ? flash_text_colour : text_colour;
    const short flags = text_flags();
    if (wrap) {
        s.draw_string(ix1, iy1, ix2, iy2, colour, COLOUR_INVISIBLE, underline_colour, font, fx, fy, shown, flags);
    } else {
        s.process_and_render_string(to_s16(tx), to_s16(ty), colour, COLOUR_INVISIBLE, underline_colour, font, fx, fy,
                                    shown, flags, -1, 0);
    }
}

short WM_SCRIPT::text_flags() const
{
    short flags = 0;
    for (const TEXT_FLAG& f : placement_flags) {
        flags = static_cast<short>(flags | ((script_flags & f.script_flag) ? f.text_flag : 0));
    }
    if (!enabled) {
        return static_cast<short>(flags | TEXT_CHISELED);
    }
    for (const TEXT_FLAG& f : effect_flags) {
        flags = static_cast<short>(flags | ((script_flags & f.script_flag) ? f.text_flag : 0));
    }
    return flags;
}

void WM_SCRIPT::fill_background(short x1, short y1, short x2, short y2, short radius, COLOUR back)
{
    IMAGE& s = *surface;
    const char corners = static_cast<char>((edge_flags >> 4) & 15);
    const bool flash_back = flashing && visible_colour(flash_bg_colour);
    if ((script_flags & SCRIPT_DARKENED) && !flash_back) {
        if (corners) {
            s.plot_rounded_rect(x1, y1, x2, y2, radius, corners, COLOUR_BLACK, COLOUR_BLACK, 50,
                                IMAGE::PLOT_ROUNDED_RECT_DARKEN);
        } else {
            s.darken_rect(x1, y1, x2, y2, 50);
        }
        return;
    }
    if (!visible_colour(back)) {
        return;
    }
    const bool hfade = (script_flags & SCRIPT_HFADING) != 0, vfade = !hfade && (script_flags & SCRIPT_VFADING);
    if (corners) {
        if (hfade || vfade) {
            s.plot_rounded_rect(x1, y1, x2, y2, radius, corners, back, fading_colour, 0,
                                hfade ? IMAGE::PLOT_ROUNDED_RECT_XFADE : IMAGE::PLOT_ROUNDED_RECT_YFADE);
        } else {
            s.plot_rounded_rect(x1, y1, x2, y2, radius, corners, back, COLOUR_BLACK, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
        }
    } else if (hfade) {
        s.fill_hfaded_rect(x1, y1, x2, y2, back, fading_colour, 1);
    } else if (vfade) {
        s.fill_vfaded_rect(x1, y1, x2, y2, back, fading_colour, 1);
    } else {
        s.fill_rect(x1, y1, x2, y2, back, 1);
    }
}

void WM_SCRIPT::draw_border(short x1, short y1, short x2, short y2, short radius, COLOUR back)
{
    if (!(script_flags & (SCRIPT_INDENTED_BORDER | SCRIPT_OUTSTANDING_BORDER))) {
        return;
    }
    const COLOUR outline = (script_flags & SCRIPT_TEXT_COLOUR_OUTLINE) ? text_colour : outline_colour;
    const INT_U16 flags = (script_flags & SCRIPT_INDENTED_BORDER) ? edge_flags | SHADING_SWAP : edge_flags & 0x7FFF;
    draw_shading(x1, y1, x2, y2, flags, back, 1, radius, outline);
}
