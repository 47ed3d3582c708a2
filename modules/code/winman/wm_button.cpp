// WM_BUTTON: what differs from a screen object when it is built and drawn:
// the caption and its sizing, the skins or the colour face, the icon, the
// marks and arrows, the drag picture, and the hint's life.
#include "wm_button.h"

#include "errors.h"
#include "wm_clip.h"
#include "wm_names.h"
#include "wm_page_services.h"
#include "wm_s16.h"
#include "wm_script.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

WM_STYLE_SET& WM_BUTTON::hint_style_set = wm_default_style_sets.hint_style_set;
INT_U8& WM_BUTTON::hint_style_set_initialised = wm_default_style_sets.hint_style_set_initialised;

namespace {

// The hint's look: pale yellow fading to red, framed, black text.
constexpr COLOUR HINT_BACKGROUND = 0xFFFFD000u;
constexpr COLOUR HINT_FADING = COLOUR_RED;
constexpr SCROBJ_SHADING_TYPE HINT_SHADING_TYPE = 3;
constexpr INT_U32 HINT_SSF = SSF_DRAW_BORDER | SSF_INDENT_BORDER | SSF_HFADING | SSF_USE_TEXT_COLOUR_FOR_OUTLINE;

// Alpha of a disabled icon's cover, and of a drag ghost's background.
constexpr INT_U8 DISABLED_ICON_ALPHA = 208;
constexpr INT_U8 GHOST_ALPHA = 160;
constexpr short DARKEN_PERCENT = 50;
constexpr short MAX_RADIUS = 20;
// Longest skin name set_images forms (base name and suffix).
constexpr std::size_t SKIN_NAME_MAX = 1024;

constexpr INT_U16 SUNKEN = SHADING_SWAP;
constexpr INT_U16 EDGES = 0xF;

// Style flags (of ssf or of ssef) that map one to one onto draw_flags.
struct FLAG_MAP
{
    INT_U32 ssf, ssef;
    INT_U32 draw_flag;
};
const FLAG_MAP style_flags[] = {
    {SSF_LEFT_JUSTIFY_TEXT, 0, BUTTON_TEXT_LEFT},
    {SSF_RIGHT_JUSTIFY_TEXT, 0, BUTTON_TEXT_RIGHT},
    {SSF_TOP_ALIGN_TEXT, 0, BUTTON_TEXT_TOP},
    {SSF_BOTTOM_ALIGN_TEXT, 0, BUTTON_TEXT_BOTTOM},
    {0, SSEF_LEFT_ARROW, BUTTON_ARROW_LEFT},
    {0, SSEF_RIGHT_ARROW, BUTTON_ARROW_RIGHT},
    {0, SSEF_UP_ARROW, BUTTON_ARROW_UP},
    {0, SSEF_DOWN_ARROW, BUTTON_ARROW_DOWN},
    {SSF_DARKENED_BACKGROUND, 0, BUTTON_DARKENED},
    {SSF_HFADING, 0, BUTTON_HFADING},
    {SSF_VFADING, 0, BUTTON_VFADING},
    {0, SSEF_INVERT_VFADING_ON_PRESS, BUTTON_INVERT_VFADING},
    {SSF_USE_TEXT_COLOUR_FOR_OUTLINE, 0, BUTTON_TEXT_OUTLINE},
    {SSF_SHADOW_TEXT, 0, BUTTON_TEXT_SHADOW},
    {SSF_INSET_TEXT, 0, BUTTON_TEXT_INSET},
    {SSF_CHISELED_TEXT, 0, BUTTON_TEXT_CHISELED},
    {SSF_ICON_LEFT, 0, BUTTON_ICON_LEFT},
    {SSF_ICON_RIGHT, 0, BUTTON_ICON_RIGHT},
    {SSF_ICON_TOP, 0, BUTTON_ICON_TOP},
    {SSF_ICON_BOTTOM, 0, BUTTON_ICON_BOTTOM},
    {SSF_ICON_ATTACH_TO_TEXT, 0, BUTTON_ICON_ATTACHED},
    {SSF_WRAP_TEXT, 0, BUTTON_WRAP_TEXT},
    {SSF_DONT_RESIZE_IMAGE, 0, BUTTON_DONT_RESIZE_IMAGE},
    {0, SSEF_DONT_MASK_CLICK, BUTTON_DONT_MASK_CLICK},
};

// Style colours a styled button takes when they are visible.
struct COLOUR_MAP
{
    COLOUR WM_STYLE_SET::*from;
    COLOUR WM_BUTTON::*to;
};
const COLOUR_MAP style_colours[] = {
    {&WM_STYLE_SET::fading_colour, &WM_BUTTON::fading_colour},
    {&WM_STYLE_SET::highlight_text_colour, &WM_BUTTON::highlight_text_colour},
    {&WM_STYLE_SET::shading_colour, &WM_BUTTON::shading_colour},
    {&WM_STYLE_SET::mouse_over_colour, &WM_BUTTON::mouse_over_colour},
    {&WM_STYLE_SET::mouse_over_text_colour, &WM_BUTTON::mouse_over_text_colour},
    {&WM_STYLE_SET::flashing_text_colour, &WM_BUTTON::flashing_text_colour},
    {&WM_STYLE_SET::disabled_colour, &WM_BUTTON::disabled_colour},
    {&WM_STYLE_SET::disabled_text_colour, &WM_BUTTON::disabled_text_colour},
    {&WM_STYLE_SET::active_text_colour, &WM_BUTTON::active_text_colour},
};

// Per state box: the suffix of its file and its slot in a style's runtime cache.
struct SKIN_STATE
{
    const char* suffix;
    int style_slot;
};
const SKIN_STATE skin_states[WM_BUTTON::BOX_COUNT] = {
    {"_up", 1},          {"_down", 2},        {"_disabled", 3},        {"_over", 4},
    {"_active_up", 5},   {"_active_down", 6}, {"_active_disabled", 7}, {"_active_over", 8},
    {"_highlighted", 9}, {"_flashing", 11},   {"_dragging", 12},
};

bool shows(COLOUR c)
{
    return c.alpha() != 0;
}

// One step of a precedence chain: when `when` holds, `colour` replaces
// what the earlier steps chose.
struct STEP
{
    bool when;
    COLOUR colour;
};
template <std::size_t N> COLOUR last_match(COLOUR first, const STEP (&steps)[N])
{
    for (const STEP& s : steps) {
        if (s.when) {
            first = s.colour;
        }
    }
    return first;
}

} // namespace

WM_BUTTON::WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR background, COLOUR text,
                     const char* caption, BUTTON_TYPE type, unsigned long draw_flags, unsigned short shading_flags,
                     WM_OBJECT_CALLBACK callback, void* user1, void* user2, INT_U8 visible, INT_U8 trigger_flags)
    : WM_BUTTON(x1, y1, x2, y2, background, text, caption, -1, -1, -1, type, draw_flags, shading_flags, callback, user1,
                user2, visible, trigger_flags)
{}

WM_BUTTON::WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR background, COLOUR text,
                     const char* caption, char font_id, INT_S16 font_x_sz, INT_S16 font_y_sz, BUTTON_TYPE type,
                     unsigned long draw_flags, unsigned short shading_flags, WM_OBJECT_CALLBACK callback, void* user1,
                     void* user2, INT_U8 visible, INT_U8 trigger_flags)
    : WM_SCREEN_OBJECT(visible, callback, user1, user2), caption(nullptr), hint(nullptr), flash_text("")
{
    setup(x1, y1, x2, y2, caption, background, background, background, type, font_id, font_x_sz, font_y_sz, -1, -1, -1,
          -1, -1, -1, trigger_flags);
    change(this->shading_flags, static_cast<INT_U16>(shading_flags));
    change(this->draw_flags, static_cast<INT_U32>(draw_flags));
    set_text_colour(text);
}

WM_BUTTON::WM_BUTTON(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& style, const char* caption,
                     const char* hint_text, WM_OBJECT_CALLBACK callback, void* user1, void* user2, INT_U8 trigger_flags)
    : WM_SCREEN_OBJECT(style.visible, callback, user1, user2), caption(nullptr), hint(nullptr), flash_text("")
{
    shading_type = style.shading_type;
    const BUTTON_TYPE kind = (style.ssef & SSEF_AUTO_DEPRESS) ? 1 : (style.ssef & SSEF_AUTO_ACTIVATE) ? 2 : 0;
    INT_U16 edges = 0;
    INT_U32 flags = 0;
    if (style.ssf & SSF_DRAW_BORDER) {
        edges = static_cast<INT_U16>((style.shading_flags & 0x7FFF) | ((style.ssf & SSF_INDENT_BORDER) ? SUNKEN : 0));
        if (style.ssf & (SSF_INDENT_BORDER | SSF_OUTSTANDING_BORDER)) {
            flags = BUTTON_FIXED_RELIEF;
        }
    }
    for (const FLAG_MAP& m : style_flags) {
        if ((style.ssf & m.ssf) || (style.ssef & m.ssef)) {
            flags |= m.draw_flag;
        }
    }
    setup(x1, y1, x2, y2, caption, style.bg_colour, shows(style.active_colour) ? style.active_colour : style.bg_colour,
          style.highlight_colour, kind, static_cast<char>(style.font_id), style.font_x_sz, style.font_y_sz,
          style.border_left_gap, style.border_right_gap, style.border_top_gap, style.border_bottom_gap, style.x_spacing,
          style.y_spacing, trigger_flags);
    change(shading_flags, edges);
    change(draw_flags, flags);
    set_text_colour(style.fg_colour);
    for (const COLOUR_MAP& m : style_colours) {
        if (shows(style.*m.from)) {
            change(this->*m.to, style.*m.from);
        }
    }
    if (hint_text) {
        set_hint_text(hint_text);
    }
    if (style.ssf & SSF_DISABLED) {
        set_enabled(0);
    }
    if (style.ssef & SSEF_INDENT_WHEN_ACTIVE) {
        indent_when_active = 1;
    }
    if (style.image_filename) {
        set_images(style.image_path, style.image_filename, &style);
    }
    if (shows(style.underline_colour)) {
        change(underline_colour, style.underline_colour);
    }
}

void WM_BUTTON::setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, const char* text, COLOUR background,
                      COLOUR active_background, COLOUR highlight, BUTTON_TYPE type, char font, INT_S16 font_w,
                      INT_S16 font_h, INT_S16 left_gap, INT_S16 right_gap, INT_S16 top_gap, INT_S16 bottom_gap,
                      INT_S16 x_space, INT_S16 y_space, INT_U8 trigger)
{
    init_hint_style_set();
    font_id = font;
    font_x_sz = font_w;
    font_y_sz = font_h;
    if (surface) {
        if (font_id == -1) {
            font_id = static_cast<char>(surface->font_slot);
        }
        if (font_x_sz == -1) {
            font_x_sz = surface->font_width;
        }
        if (font_y_sz == -1) {
            font_y_sz = surface->font_height;
        }
    }
    right_drag = 1;
    drag_started = 0;
    drag_x = drag_y = -1;
    drag_offset_x = drag_offset_y = 0;
    drag_callback = nullptr;
    drag_data1 = drag_data2 = nullptr;
    drag_codes = 0;

    const INT_S16 edge = get_shading_size(1);
    border_left_gap = left_gap == -1 ? edge : left_gap;
    border_right_gap = right_gap == -1 ? edge : right_gap;
    border_top_gap = top_gap == -1 ? edge : top_gap;
    border_bottom_gap = bottom_gap == -1 ? edge : bottom_gap;
    x_spacing = x_space == -1 ? border_left_gap : x_space;
    y_spacing = y_space == -1 ? border_top_gap : y_space;

    if (!text) {
        text = "";
    }
    const long w = long{x2} - x1 + 1, h = long{y2} - y1 + 1;
    width = w > 0 ? to_s16(w) : to_s16(text_width(text) + border_left_gap + border_right_gap);
    height = h > 0 ? to_s16(h) : to_s16(long{line_height()} + border_top_gap + border_bottom_gap);
    x = x1;
    y = y1;

    indent_when_active = 0;
    shading_flags = EDGES;
    active_mark[0] = active_mark[1] = '\0';
    set_default_colours(background, active_background, highlight);
    down = last_left = last_right = armed = slide_select = 0;
    enabled = 1;
    pointer_over = 0;
    activated_callback = nullptr;
    activated_data = nullptr;
    button_type = type;
    draw_flags = 0;
    hint_time = 0;
    hint_x = hint_y = -1;
    hint_when_down = 0;
    hint_saved_focus = nullptr;
    trigger_flags = trigger;
    release_event = return_down = 0;
    hotkey = 0xFFFFFFFFu;
    hotkey_down = selected = 0;
    press_time = 0;
    repeating = 0;
    auto_press_odds = 10;
    for (IMAGE_BOX& box : image_boxes) {
        box.cache = &image_cache;
    }

    if (!set_string(text, 0)) {
        display_error(ERR_BUTTON_TITLE_MEMORY);
    }
    WM_SCREEN_OBJECT::type |= WM_TYPE_BUTTON; // the argument of the same name is the button type
    flashing = 0;
    flash_mask = 0x20;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

// The hints' look, made once for every button.
void WM_BUTTON::init_hint_style_set()
{
    if (hint_style_set_initialised) {
        return;
    }
    hint_style_set.shading_type = HINT_SHADING_TYPE;
    hint_style_set.fg_colour = COLOUR_BLACK;
    hint_style_set.bg_colour = HINT_BACKGROUND;
    hint_style_set.fading_colour = HINT_FADING;
    hint_style_set.shading_flags = EDGES;
    hint_style_set.ssf = HINT_SSF;
    hint_style_set_initialised = 1;
}

// The three colours given; black text and fading, and every colour of a
// state (active text, highlighted text, pointer over, flashing, disabled,
// underline) invisible, so that the state draws as the plain button does.
void WM_BUTTON::set_default_colours(COLOUR background, COLOUR active_background, COLOUR highlight)
{
    background_colour = background;
    active_background_colour = active_background;
    active_text_colour = COLOUR_INVISIBLE;
    highlight_colour = highlight;
    text_colour = COLOUR_BLACK;
    highlight_text_colour = COLOUR_INVISIBLE;
    fading_colour = COLOUR_BLACK;
    mouse_over_colour = mouse_over_text_colour = COLOUR_INVISIBLE;
    flashing_colour = COLOUR_INVISIBLE;
    flashing_text_colour = COLOUR_INVISIBLE;
    disabled_colour = disabled_text_colour = COLOUR_INVISIBLE;
    underline_colour = COLOUR_INVISIBLE;
}

WM_BUTTON::~WM_BUTTON()
{
    // The page manager would otherwise go on pressing where this button was.
    if (auto_pressing_button == this) {
        auto_pressing_button = nullptr;
        auto_pressing_ltv = 0;
        if (WM_PAGE_SERVICES* services = page_services()) {
            services->cancel_injected_click();
        }
    }
    set_hint_text(nullptr);
    delete[] caption;
    caption = nullptr;
    clear_images();
}

// ---- setters and queries ------------------------------------------------------

INT_S32 WM_BUTTON::text_width(const char* text)
{
    if (!text || !*text) {
        return 0;
    }
    IMAGE scratch;
    IMAGE* s = surface ? surface : &scratch;
    return s->get_string_width(static_cast<INT_S8>(font_id), font_x_sz, font_y_sz, text, -1, 0);
}

INT_S16 WM_BUTTON::line_height()
{
    return font_y_sz == -1 && surface ? surface->font_height : font_y_sz;
}

INT_U8 WM_BUTTON::set_string(const char* text, INT_U8 widen)
{
    if (!text) {
        return 0;
    }
    redraw_if_visible();
    delete[] caption;
    const std::size_t n = std::strlen(text) + 1;
    caption = new (std::nothrow) char[n];
    if (!caption) {
        return 0;
    }
    std::memcpy(caption, text, n);
    if (widen) {
        const INT_S16 wanted = to_s16(long{text_width(caption)} + 1);
        if (wanted > width) {
            width = wanted;
            redraw_if_visible();
        }
    }
    return 1;
}

void WM_BUTTON::set_text_colour(COLOUR c)
{
    change(text_colour, c);
}

void WM_BUTTON::set_colours(COLOUR face, COLOUR text, COLOUR third, INT_U8 tri)
{
    background_colour = active_background_colour = face;
    text_colour = text;
    if (is_graphical()) {
        for (int i = BOX_UP; i <= BOX_HIGHLIGHTED; ++i) {
            if (tri) {
                image_boxes[i].set_trialpha_colours(face, text, third);
            } else {
                image_boxes[i].recolour(face);
            }
        }
    }
    request_draw();
}

INT_U8 WM_BUTTON::set_images(const char* folder_path, const char* name, WM_STYLE_SET* style)
{
    if (style && style->get_image_cache_loaded()) {
        for (int i = 0; i < BOX_COUNT; ++i) {
            if (IMAGE_BOX* from = style->runtime_cache[skin_states[i].style_slot]) {
                image_boxes[i] = *from;
            }
        }
        for (int i : {BOX_UP, BOX_DOWN}) {
            if (!image_boxes[i].are_images_valid() && style->runtime_cache[0]) {
                image_boxes[i] = *style->runtime_cache[0];
            }
        }
        return is_graphical();
    }
    if (!name) {
        clear_images();
        return 0;
    }
    char skin[SKIN_NAME_MAX];
    for (int i = 0; i < BOX_COUNT; ++i) {
        IMAGE_BOX& box = image_boxes[i];
        const int n = std::snprintf(skin, sizeof skin, "%s%s", name, skin_states[i].suffix);
        // A name that does not fit names no file of ours: load nothing.
        const bool fits = n >= 0 && static_cast<std::size_t>(n) < sizeof skin;
        if (!fits) {
            box.clear_images();
        } else if (box.load_images(folder_path, skin, 0)) {
            continue;
        }
        if (i == BOX_UP || i == BOX_DOWN) {
            box.load_images(folder_path, name, 0);
        }
    }
    return is_graphical();
}

void WM_BUTTON::clear_images()
{
    for (IMAGE_BOX& box : image_boxes) {
        box.clear_images();
    }
}

INT_U8 WM_BUTTON::is_graphical()
{
    return image_boxes[BOX_UP].are_images_valid() && image_boxes[BOX_DOWN].are_images_valid();
}

void WM_BUTTON::set_hint_text(const char* text)
{
    if (hint) {
        close_hint();
        delete hint;
        hint = nullptr;
    }
    if (!text || !*text) {
        return;
    }
    hint_style_set.visible = 0;
    hint = new WM_SCRIPT(0, 0, -5, -3, hint_style_set, text);
    // Monitored before the hint, so that the button can close it; the
    // modal list only hides it.
    hint->linked_object = this;
    hint->no_delete = 1;
}

void WM_BUTTON::set_enabled(INT_U8 on)
{
    if (on == enabled) {
        return;
    }
    if (!on) {
        down = 0;
    }
    change(enabled, on);
}

void WM_BUTTON::set_down(INT_U8 on)
{
    change(down, on);
}

void WM_BUTTON::set_held_look(bool on)
{
    change(draw_flags, on ? (draw_flags | BUTTON_FIXED_RELIEF) : (draw_flags & ~BUTTON_FIXED_RELIEF));
    change(shading_flags, static_cast<INT_U16>(on ? (shading_flags | SUNKEN) : (shading_flags & ~SUNKEN)));
}

void WM_BUTTON::set_selected(INT_U8 on)
{
    change(selected, on);
}

void WM_BUTTON::set_draw_flags(INT_U32 flags)
{
    change(draw_flags, flags);
}

void WM_BUTTON::clear_press()
{
    // Of these only down and pointer_over are drawn.
    if ((down || pointer_over) && visible) {
        request_draw();
    }
    down = armed = last_left = last_right = pointer_over = 0;
    press_time = 0;
    repeating = 0;
}

void WM_BUTTON::set_button_type(BUTTON_TYPE type)
{
    button_type = type;
}

void WM_BUTTON::set_slide_select(INT_U8 on)
{
    slide_select = on;
}

void WM_BUTTON::set_trigger_flags(INT_U8 flags)
{
    trigger_flags = flags;
}

bool WM_BUTTON::hint_shown()
{
    return hint && hint->visible && hint->is_modal_object();
}

void WM_BUTTON::close_hint()
{
    if (hint) {
        hint->hide(0, 0);
        remove_modal_object(hint, 0, 0);
    }
}

void WM_BUTTON::set_hotkey(unsigned long code)
{
    hotkey = static_cast<INT_U32>(code & 0xFFFFFFFFul);
}

// ---- base operations ------------------------------------------------------------

void WM_BUTTON::request_draw()
{
    if (drag_started) {
        const long gx = long{drag_x} + drag_offset_x, gy = long{drag_y} + drag_offset_y;
        mark_redraw_subarea(to_s16(gx), to_s16(gy), to_s16(gx + width - 1), to_s16(gy + height - 1));
    }
    WM_SCREEN_OBJECT::request_draw();
}

void WM_BUTTON::hide(INT_U8 modals, INT_U8 children)
{
    close_hint();
    WM_SCREEN_OBJECT::hide(modals, children);
}

WM_MESG WM_BUTTON::update(INT_U8 modal)
{
    const bool has_flash = flash_text.type == 8 && flash_text.value.text && flash_text.value.text[0];
    if (has_flash && visible) {
        const INT_U8 phase = (flash_mask & flashing_flags) ? 1 : 0;
        if (phase != flashing) {
            flashing = phase;
            request_draw();
        }
    }
    return WM_SCREEN_OBJECT::update(modal);
}

INT_U8 WM_BUTTON::is_in_it(INT_S16 px, INT_S16 py)
{
    const bool masked = is_graphical() && !(draw_flags & BUTTON_DONT_MASK_CLICK);
    return is_in_it_masked(px, py, masked ? &image_boxes[BOX_UP] : nullptr);
}

INT_U8 WM_BUTTON::can_have_focus()
{
    return enabled && can_focus ? 1 : 0;
}

// ---- drawing --------------------------------------------------------------------

void WM_BUTTON::draw_object()
{
    draw_at(x, y, true);
}

void WM_BUTTON::draw_at(INT_S16 x, INT_S16 y, bool with_drag)
{
    IMAGE* s = surface;
    if (!s || width <= 0 || height <= 0) {
        return;
    }
    WM_CLIP_SAVER clip(s);
    const INT_S16 x2 = to_s16(long{x} + width - 1), y2 = to_s16(long{y} + height - 1);
    s->add_rect_to_active_area(x, y, x2, y2);
    const short radius = std::min<short>(static_cast<short>(s->calc_rounded_rect_radius(x, y, x2, y2) / 2), MAX_RADIUS);

    LOOK look;
    look.x = x;
    look.y = y;
    look.hot = pointer_over || focal_object == this || selected;
    look.activated = activated != 0;
    const bool mark_shown = active_mark[0] != '\0';
    const STEP face_steps[] = {
        {look.hot && shows(mouse_over_colour), mouse_over_colour},
        {look.activated && !mark_shown, active_background_colour},
        {down && shows(highlight_colour), highlight_colour},
        {flashing && shows(flashing_colour), flashing_colour},
        {!enabled && shows(disabled_colour), disabled_colour},
    };
    look.face = last_match(background_colour, face_steps);
    const STEP text_steps[] = {
        {look.activated && !mark_shown && shows(active_text_colour), active_text_colour},
        {down && shows(highlight_text_colour), highlight_text_colour},
        {flashing && shows(flashing_text_colour), flashing_text_colour},
        {look.hot && shows(mouse_over_text_colour), mouse_over_text_colour},
        {!enabled, disabled_text_colour},
    };
    look.text = last_match(text_colour, text_steps);

    look.edges = drawn_shading_flags();
    look.sunken = (look.edges & SUNKEN) != 0;
    look.press = enabled && look.sunken && (look.edges & EDGES) ? 1 : 0;

    if (is_graphical()) {
        draw_skin(look);
    } else {
        draw_face(look, radius);
    }
    draw_caption_and_icon(look);
    draw_marks(look);
    if (with_drag && drag_started) {
        draw_drag();
    }
}

void WM_BUTTON::draw_skin(const LOOK& look)
{
    const INT_S16 x = look.x, y = look.y;
    // The first valid box whose state holds, most specific first.
    const struct
    {
        bool when;
        int box;
    } order[] = {
        {flashing != 0, BOX_FLASHING},
        {down != 0, BOX_HIGHLIGHTED},
        {look.activated && !enabled, BOX_ACTIVE_DISABLED},
        {look.activated && look.sunken, BOX_ACTIVE_DOWN},
        {look.activated && look.hot, BOX_ACTIVE_OVER},
        {look.activated, BOX_ACTIVE_UP},
        {!enabled, BOX_DISABLED},
        {look.sunken, BOX_DOWN},
        {look.hot, BOX_OVER},
        {true, BOX_UP},
    };
    for (const auto& o : order) {
        if (o.when && image_boxes[o.box].are_images_valid()) {
            image_boxes[o.box].draw(x, y, to_s16(long{x} + width - 1), to_s16(long{y} + height - 1),
                                    (draw_flags & BUTTON_DONT_RESIZE_IMAGE) ? 0 : 1, surface, IMAGE_COPY_BLEND);
            return;
        }
    }
}

INT_U16 WM_BUTTON::drawn_shading_flags() const
{
    if (draw_flags & BUTTON_FIXED_RELIEF) {
        return shading_flags;
    }
    const bool pressed_look = down || (indent_when_active && activated);
    return static_cast<INT_U16>(pressed_look ? (shading_flags | SUNKEN) : (shading_flags & ~SUNKEN));
}

void WM_BUTTON::draw_face(const LOOK& look, short radius)
{
    const INT_S16 x = look.x, y = look.y;
    IMAGE* s = surface;
    const INT_S16 x2 = to_s16(long{x} + width - 1), y2 = to_s16(long{y} + height - 1);
    const char corners = static_cast<char>((shading_flags >> 4) & 0xF);
    const COLOUR f = look.face;
    const bool faded_allowed = !(down && shows(highlight_colour));
    if ((draw_flags & BUTTON_DARKENED) && !(flashing && shows(flashing_colour))) {
        if (corners) {
            s->plot_rounded_rect(x, y, x2, y2, radius, corners, COLOUR_BLACK, COLOUR_BLACK, DARKEN_PERCENT,
                                 IMAGE::PLOT_ROUNDED_RECT_DARKEN);
        } else {
            s->darken_rect(x, y, x2, y2, DARKEN_PERCENT);
        }
    } else if (shows(f)) {
        if ((draw_flags & BUTTON_HFADING) && faded_allowed) {
            if (corners) {
                s->plot_rounded_rect(x, y, x2, y2, radius, corners, f, fading_colour, 0,
                                     IMAGE::PLOT_ROUNDED_RECT_XFADE);
            } else {
                s->fill_hfaded_rect(x, y, x2, y2, f, fading_colour, 1);
            }
        } else if ((draw_flags & BUTTON_VFADING) && faded_allowed) {
            const bool invert = look.sunken && (draw_flags & BUTTON_INVERT_VFADING);
            const COLOUR top = invert ? fading_colour : f, bottom = invert ? f : fading_colour;
            if (corners) {
                s->plot_rounded_rect(x, y, x2, y2, radius, corners, top, bottom, 0, IMAGE::PLOT_ROUNDED_RECT_YFADE);
            } else {
                s->fill_vfaded_rect(x, y, x2, y2, top, bottom, 1);
            }
        } else if (corners) {
            s->plot_rounded_rect(x, y, x2, y2, radius, corners, f, COLOUR_BLACK, 0, IMAGE::PLOT_ROUNDED_RECT_SOLID);
        } else {
            s->fill_rect(x, y, x2, y2, f, 1);
        }
    }
    const COLOUR outline = (draw_flags & BUTTON_TEXT_OUTLINE) ? text_colour : outline_colour;
    draw_shading(x, y, x2, y2, look.edges, f, 1, radius, outline);
}

void WM_BUTTON::draw_caption_and_icon(const LOOK& look)
{
    const char* text = caption;
    if (flashing) {
        text = flash_text.type == 8 ? flash_text.value.text : nullptr;
    }
    const short effect = caption_effect(look);
    CAPTION_PLACE place = place_caption(look, text);
    IMAGE* img = look.hot && over_icon.width ? &over_icon : &icon;
    if (img->width) {
        draw_icon_beside_caption(look, *img, place);
    }
    if (text && *text) {
        draw_caption(look, text, effect, place);
    }
}

short WM_BUTTON::caption_effect(const LOOK& look)
{
    const struct
    {
        INT_U32 flag;
        short effect;
    } effects[] = {
        {BUTTON_TEXT_LEFT, 32},  {BUTTON_TEXT_RIGHT, 64}, {BUTTON_TEXT_TOP, 8},      {BUTTON_TEXT_BOTTOM, 16},
        {BUTTON_TEXT_SHADOW, 1}, {BUTTON_TEXT_INSET, 2},  {BUTTON_TEXT_CHISELED, 4},
    };
    short e = 0;
    for (const auto& m : effects) {
        if (draw_flags & m.flag) {
            e = static_cast<short>(e | m.effect);
        }
    }
    // Disabled captions are engraved: inset where the colour shows, else
    // chiseled from the face alone.
    if (!enabled && !fast_disabled_text) {
        e = static_cast<short>((e & 0x78) | (shows(look.text) ? 2 : 4));
    }
    return e;
}

WM_BUTTON::CAPTION_PLACE WM_BUTTON::place_caption(const LOOK& look, const char* text)
{
    const INT_S16 x = look.x, y = look.y;
    const int lg = border_left_gap, rg = border_right_gap, tg = border_top_gap, bg = border_bottom_gap;
    const int w = width, h = height;
    CAPTION_PLACE c;
    c.tw = text_width(text);
    c.th = line_height();
    c.tx = (draw_flags & BUTTON_TEXT_LEFT)    ? x + lg
           : (draw_flags & BUTTON_TEXT_RIGHT) ? x + w - rg - c.tw - 1
                                              : x + lg + (w - lg - rg - c.tw) / 2;
    c.ty = (draw_flags & BUTTON_TEXT_TOP)      ? y + tg
           : (draw_flags & BUTTON_TEXT_BOTTOM) ? y + h - bg - c.th - 1
                                               : y + tg + (h - tg - bg - c.th) / 2;
    c.ax1 = x + lg;
    c.ax2 = x + w - rg - 1;
    c.ay1 = y + tg;
    c.ay2 = y + h - bg - 1;
    return c;
}

void WM_BUTTON::draw_icon_beside_caption(const LOOK& look, IMAGE& img, CAPTION_PLACE& c)
{
    const INT_S16 x = look.x, y = look.y;
    const int press = look.press;
    const int iw = img.width, ih = img.height;
    const int w = width, h = height;
    const bool attached = (draw_flags & BUTTON_ICON_ATTACHED) != 0;
    // One axis of the icon's box: `lo_side`/`hi_side` say where the icon
    // sits, `lo_align`/`hi_align` where the caption is justified; an
    // attached icon moves the caption by `shift` (whole or half).
    auto place = [&](int& t, int extent, int lo_gap, int hi_gap, int len, int isz, int spacing, bool lo_side,
                     bool hi_side, bool lo_align, bool hi_align, int origin, int& i1, int& i2) {
        if (!attached) {
            i1 = lo_side ? origin : hi_side ? origin + extent - hi_gap - 1 : origin + lo_gap;
            i2 = lo_side ? origin + lo_gap : hi_side ? origin + extent - 1 : origin + extent - hi_gap - 1;
            return;
        }
        const int shift = spacing + isz;
        if (lo_side) {
            t += lo_align ? shift : hi_align ? 0 : shift / 2;
            i2 = t - spacing;
            i1 = i2 - isz;
        } else if (hi_side) {
            t -= hi_align ? shift : lo_align ? 0 : shift / 2;
            i1 = t + len + spacing - 1;
            i2 = i1 + isz;
        } else {
            i1 = t;
            i2 = t + len - 1;
        }
    };
    int ix1, ix2, iy1, iy2;
    place(c.tx, w, border_left_gap, border_right_gap, c.tw, iw, x_spacing, draw_flags & BUTTON_ICON_LEFT,
          draw_flags & BUTTON_ICON_RIGHT, draw_flags & BUTTON_TEXT_LEFT, draw_flags & BUTTON_TEXT_RIGHT, x, ix1, ix2);
    place(c.ty, h, border_top_gap, border_bottom_gap, c.th, ih, y_spacing, draw_flags & BUTTON_ICON_TOP,
          draw_flags & BUTTON_ICON_BOTTOM, draw_flags & BUTTON_TEXT_TOP, draw_flags & BUTTON_TEXT_BOTTOM, y, iy1, iy2);
    if (attached && (draw_flags & BUTTON_ICON_LEFT)) {
        c.ax1 += (iw + x_spacing) / 2;
        c.ax2 += iw / 2 + x_spacing;
    } else if (attached && (draw_flags & BUTTON_ICON_RIGHT)) {
        c.ax1 -= (iw + x_spacing) / 2;
        c.ax2 -= iw / 2 + x_spacing;
    }
    const bool x_side = draw_flags & (BUTTON_ICON_LEFT | BUTTON_ICON_RIGHT);
    const bool y_side = draw_flags & (BUTTON_ICON_TOP | BUTTON_ICON_BOTTOM);
    put_icon(img, ix1 + (ix2 - ix1 - iw) / 2 + press, iy1 + (iy2 - iy1 - ih) / 2 + press, x_side ? ix1 : x,
             y_side ? iy1 : y, x_side ? ix2 : x + w - 1, y_side ? iy2 : y + h - 1);
}

void WM_BUTTON::draw_caption(const LOOK& look, const char* text, short effect, const CAPTION_PLACE& c)
{
    IMAGE* s = surface;
    const INT_S8 font = static_cast<INT_S8>(font_id);
    auto put_text = [&](int dx, COLOUR colour, COLOUR underline) {
        if (draw_flags & BUTTON_WRAP_TEXT) {
            s->draw_string(to_s16(c.ax1 + dx), to_s16(c.ay1 + dx), to_s16(c.ax2 + dx), to_s16(c.ay2 + dx), colour,
                           COLOUR_INVISIBLE, underline, font, font_x_sz, font_y_sz, text, effect);
        } else {
            s->process_and_render_string(to_s16(c.tx + dx), to_s16(c.ty + dx), colour, COLOUR_INVISIBLE, underline,
                                         font, font_x_sz, font_y_sz, text, effect, -1, 0);
        }
    };
    if (!enabled && fast_disabled_text) {
        COLOUR dark, light;
        get_shading_colours(look.face, dark, light);
        const bool underlined = shows(underline_colour);
        put_text(1, light, underlined ? light : COLOUR_INVISIBLE);
        put_text(0, dark, underlined ? dark : COLOUR_INVISIBLE);
    } else {
        put_text(look.press, look.text, underline_colour);
    }
}

void WM_BUTTON::put_icon(IMAGE& img, int ix, int iy, int cx1, int cy1, int cx2, int cy2)
{
    IMAGE* s = surface;
    // The icon's own box, within the button: nothing outside the button's
    // rectangle is marked for redraw, so nothing is drawn there.
    WM_CLIP_SAVER clip(s);
    s->add_rect_to_active_area(to_s16(cx1), to_s16(cy1), to_s16(cx2), to_s16(cy2));
    if (enabled) {
        img.put(to_s16(ix), to_s16(iy), s, IMAGE_COPY_BLEND);
        return;
    }
    // What was under the icon goes back over it, partly see-through.
    IMAGE under;
    under.setup(img.width, img.height);
    under.get(to_s16(ix), to_s16(iy), s, IMAGE_COPY_REPLACE);
    img.put(to_s16(ix), to_s16(iy), s, IMAGE_COPY_BLEND);
    under.realpha(DISABLED_ICON_ALPHA, 1, 0);
    under.put(to_s16(ix), to_s16(iy), s, IMAGE_COPY_BLEND);
}

void WM_BUTTON::draw_marks(const LOOK& look)
{
    const INT_S16 x = look.x, y = look.y;
    IMAGE* s = surface;
    const int p = look.press;
    COLOUR dark, light;
    get_shading_colours(look.face, dark, light);
    const INT_S8 font = static_cast<INT_S8>(font_id);
    const int lg = border_left_gap, bg = border_bottom_gap, th = line_height();

    if (look.activated && active_mark[0]) {
        WM_CLIP_SAVER clip(s);
        s->add_rect_to_active_area(x, y, to_s16(x + lg), to_s16(long{y} + height - 1));
        const int mw = text_width(active_mark);
        const int my = y + (height - th) / 2 - bg;
        auto mark = [&](int mx, int yy, COLOUR c) {
            s->draw_text(to_s16(mx), to_s16(yy), c, COLOUR_INVISIBLE, font, font_x_sz, font_y_sz, "%s", active_mark);
        };
        if (enabled) {
            mark(x + (lg + p - mw) / 2, my + p, look.text);
        } else {
            mark(x + (lg - mw + 1) / 2, my + 1, light);
            mark(x + (lg - mw) / 2, my, dark);
        }
    }

    const struct
    {
        INT_U32 flag;
        SCROBJ_ARROW_TYPE direction;
    } arrows[] = {{BUTTON_ARROW_LEFT, 2}, {BUTTON_ARROW_RIGHT, 3}, {BUTTON_ARROW_UP, 0}, {BUTTON_ARROW_DOWN, 1}};
    const int inset = get_shading_size(1);
    const int x1 = x + inset, y1 = y + inset, x2 = x + width - 1 - inset, y2 = y + height - 1 - inset;
    for (const auto& a : arrows) {
        if (!(draw_flags & a.flag)) {
            continue;
        }
        auto arrow = [&](int d, COLOUR c) {
            draw_arrow(to_s16(x1 + d), to_s16(y1 + d), to_s16(x2 + d), to_s16(y2 + d), c, a.direction, -1, -1);
        };
        if (enabled) {
            arrow(p, look.text);
        } else {
            arrow(1, light);
            arrow(0, dark);
        }
    }
}

void WM_BUTTON::draw_drag()
{
    IMAGE* s = surface;
    WM_CLIP_SAVER clip(s);
    s->set_active_area(s->x, s->y, to_s16(long{s->x} + s->width - 1), to_s16(long{s->y} + s->height - 1));
    const INT_S16 gx = to_s16(long{drag_x} + drag_offset_x), gy = to_s16(long{drag_y} + drag_offset_y);
    if (drag_image.width) {
        drag_image.put(gx, gy, s, IMAGE_COPY_BLEND);
        return;
    }
    IMAGE_BOX& box = image_boxes[BOX_DRAGGING];
    if (box.are_images_valid()) {
        box.draw(gx, gy, to_s16(long{gx} + width - 1), to_s16(long{gy} + height - 1),
                 (draw_flags & BUTTON_DONT_RESIZE_IMAGE) ? 0 : 1, s, IMAGE_COPY_BLEND);
        return;
    }
    // The button drawn again at the pointer, then what was there laid over
    // it at partial alpha.
    IMAGE under;
    under.setup(width, height);
    under.get(gx, gy, s, IMAGE_COPY_REPLACE);
    draw_at(gx, gy, false);
    under.realpha(GHOST_ALPHA, 0, 0);
    under.put(gx, gy, s, IMAGE_COPY_BLEND);
}
