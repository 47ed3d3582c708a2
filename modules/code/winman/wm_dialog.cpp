// WM_DIALOG: what differs from a screen object when it is built, laid out,
// dragged and drawn: the title and contents container, the default style
// sets, moves and resizes that keep a running slide consistent, and the
// skin or colour frame. The contents container lives here too.
#include "wm_dialog.h"

#include "errors.h"
#include "host_window.h"
#include "mouse.h"
#include "wm_clip.h"
#include "wm_floating_menu.h"
#include "wm_names.h"
#include "wm_page_services.h"
#include "wm_s16.h"
#include "wm_script.h"

#include <algorithm>
#include <new>

WM_STYLE_SET& WM_DIALOG::default_dialog_style_set = wm_default_style_sets.default_dialog_style_set;
WM_STYLE_SET& WM_DIALOG::default_title_style_set = wm_default_style_sets.default_title_style_set;
WM_STYLE_SET& WM_DIALOG::default_object_style_set = wm_default_style_sets.default_object_style_set;

namespace {

constexpr short DARKEN_PERCENT = 50;

bool shows(COLOUR c)
{
    return c.alpha() != 0;
}

// The base's visible byte comes from the set, so the defaults must exist first.
INT_U8 visible_of(const WM_STYLE_SET* dialog)
{
    WM_DIALOG::init_style_sets();
    return dialog ? dialog->visible : WM_DIALOG::default_dialog_style_set.visible;
}

} // namespace

// ---- contents container ------------------------------------------------------

WM_DIALOG_CONTENTS::WM_DIALOG_CONTENTS() : WM_SCREEN_OBJECT(1, nullptr, nullptr, nullptr)
{
    type |= WM_TYPE_MANAGER;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

void WM_DIALOG_CONTENTS::check_for_redraw()
{
    WM_CLIP_SAVER clip(surface);
    if (surface) {
        if (width <= 0 || height <= 0) {
            surface->active_x1 = surface->active_y1 = surface->active_x2 = surface->active_y2 = -1;
        } else {
            surface->add_rect_to_active_area(x, y, to_s16(long{x} + width - 1), to_s16(long{y} + height - 1));
        }
    }
    WM_SCREEN_OBJECT::check_for_redraw();
}

// ---- construction ----------------------------------------------------------------

WM_DIALOG::WM_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title_text, WM_STYLE_SET* dialog,
                     WM_STYLE_SET* title_style, WM_STYLE_SET* object, EFFECT_INFO* effect)
    : WM_SCREEN_OBJECT(visible_of(dialog), nullptr, nullptr, nullptr),
      dialog_style_set(dialog ? *dialog : default_dialog_style_set),
      title_style_set(title_style ? *title_style : default_title_style_set),
      object_style_set(object ? *object : default_object_style_set)
{
    images.cache = &image_cache;
    setup(x, y, w, h, title_text, effect);
    if (dialog_style_set.image_filename) {
        set_images(dialog_style_set.image_path, dialog_style_set.image_filename, &dialog_style_set);
    }
}

WM_DIALOG::WM_DIALOG(INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h, const char* title_text, COLOUR c1, COLOUR c2,
                     COLOUR c3, COLOUR c4, COLOUR c5, COLOUR c6, COLOUR c7, COLOUR c8, INT_U8 visible,
                     EFFECT_INFO* effect)
    : WM_SCREEN_OBJECT((init_style_sets(), visible), nullptr, nullptr, nullptr),
      dialog_style_set(default_dialog_style_set), title_style_set(default_title_style_set),
      object_style_set(default_object_style_set)
{
    images.cache = &image_cache;
    const struct
    {
        COLOUR colour;
        COLOUR* slot;
    } overrides[] = {
        {c1, &dialog_style_set.bg_colour},        {c2, &dialog_style_set.fg_colour},
        {c3, &title_style_set.bg_colour},         {c4, &title_style_set.fg_colour},
        {c5, &object_style_set.bg_colour},        {c6, &object_style_set.fg_colour},
        {c7, &object_style_set.highlight_colour}, {c8, &object_style_set.highlight_text_colour},
    };
    for (const auto& o : overrides) {
        if (shows(o.colour)) {
            *o.slot = o.colour;
        }
    }
    setup(x, y, w, h, title_text, effect);
}

WM_DIALOG::~WM_DIALOG()
{
    hide(0, 0);
    clear_images();
}

void WM_DIALOG::setup(INT_S16 nx, INT_S16 ny, INT_S16 w, INT_S16 h, const char* title_text, EFFECT_INFO* effect)
{
    was_pressed = 0;
    place(nx, ny, w, h);
    dragging = 0;
    can_drag = default_can_drag;
    drag_offset_x = drag_offset_y = 0;
    outline_x = outline_y = 0;
    fill_unset_gaps();
    make_title_and_contents(title_text, w, h);
    reset_effects(effect);
    redraw_if_visible();
    start_animation(1);
    type |= WM_TYPE_DIALOG;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
    if (shows(dialog_style_set.shading_colour)) {
        shading_colour = dialog_style_set.shading_colour;
    }
}

// A side of -1 centres the dialog in the default positioning rectangle
// when one is set, else in window 0.
void WM_DIALOG::place(INT_S16 nx, INT_S16 ny, INT_S16 w, INT_S16 h)
{
    if (default_positioning_x1 != -1 && default_positioning_y1 != -1 && default_positioning_x2 != -1 &&
        default_positioning_y2 != -1) {
        if (nx == -1) {
            nx = to_s16(default_positioning_x1 + ((default_positioning_x2 - default_positioning_x1) - w) / 2);
        }
        if (ny == -1) {
            ny = to_s16(default_positioning_y1 + ((default_positioning_y2 - default_positioning_y1) - h) / 2);
        }
    } else {
        if (nx == -1) {
            nx = to_s16((get_window_width(0) - w) / 2);
        }
        if (ny == -1) {
            ny = to_s16((get_window_height(0) - h) / 2);
        }
    }
    x = nx;
    y = ny;
    width = w;
    height = h;
}

void WM_DIALOG::fill_unset_gaps()
{
    WM_STYLE_SET& s = dialog_style_set;
    const INT_S16 ring = get_shading_size(s.shading_type);
    for (INT_S16* gap :
         {&s.border_left_gap, &s.border_right_gap, &s.border_top_gap, &s.border_bottom_gap, &s.cell_top_gap}) {
        if (*gap == -1) {
            *gap = ring;
        }
    }
    for (INT_S16* gap : {&s.cell_left_gap, &s.cell_right_gap, &s.cell_bottom_gap}) {
        if (*gap == -1) {
            *gap = 0;
        }
    }
}

void WM_DIALOG::make_title_and_contents(const char* title_text, INT_S16 w, INT_S16 h)
{
    const WM_STYLE_SET& s = dialog_style_set;
    title = nullptr;
    // An empty text still makes a title line, which set_title can fill later.
    if (title_text) {
        // Inclusive corners; a bottom above the top fits the text's height.
        title = new (std::nothrow) WM_SCRIPT(s.border_left_gap, s.border_top_gap,
                                             to_s16(long{w} - s.border_right_gap - 1), -1, title_style_set, title_text);
        if (!title) {
            display_error(ERR_DIALOG_TITLE_MEMORY);
        }
        WM_SCREEN_OBJECT::add_object(title, 1);
    }
    contents = new WM_DIALOG_CONTENTS();
    const int t = title ? s.cell_top_gap + title->height : 0;
    contents->x = to_s16(s.border_left_gap + s.cell_left_gap);
    contents->y = to_s16(s.border_top_gap + t);
    contents->width = to_s16(long{w} - s.border_left_gap - s.border_right_gap - s.cell_left_gap - s.cell_right_gap);
    contents->height = to_s16(long{h} - s.border_top_gap - t - s.border_bottom_gap - s.cell_bottom_gap);
    WM_SCREEN_OBJECT::add_object(contents, 1);
}

// The effects as given (null: the default), fully shown unless the dialog
// fades in, at its home with no slide yet.
void WM_DIALOG::reset_effects(EFFECT_INFO* effect)
{
    effect_info = effect ? *effect : default_dialog_effect_info;
    effect_delay = effect_info.open_delay;
    effect_start_ms = 0;
    remove_when_closed = effects_suppressed = 0;
    current_alpha = start_alpha = (effect_info.flags & EFFECT_FADE_ON_OPEN) ? 0 : 255;
    target_alpha = 255;
    slide_start = slide_end = POINT{-1, -1};
    slide_opening = 1;
    step_pending = 1;
    closing = background_dimmed = 0;
}

void WM_DIALOG::init_style_sets()
{
    if (style_sets_initialized) {
        return;
    }
    style_sets_initialized = 1;
    WM_STYLE_SET& d = default_dialog_style_set;
    d = WM_STYLE_SET();
    d.shading_flags &= 0xFF0F; // no rounded corners
    d.shading_type = 4;
    d.fg_colour = COLOUR_BLUE;
    d.bg_colour = COLOUR_GREY;

    WM_STYLE_SET& t = default_title_style_set;
    t = WM_STYLE_SET();
    t.shading_type = 4;
    t.fg_colour = COLOUR_BLACK;
    t.bg_colour = COLOUR_RED;

    WM_STYLE_SET& o = default_object_style_set;
    o = WM_STYLE_SET();
    o.shading_flags |= 0xF0;
    for (INT_S16* gap : {&o.border_left_gap, &o.border_right_gap, &o.border_top_gap, &o.border_bottom_gap}) {
        *gap = to_s16(*gap + 5);
    }
    o.shading_type = 4;
    o.fg_colour = COLOUR_BLACK;
    o.bg_colour = COLOUR_GREY;
    o.highlight_colour = COLOUR_RED;
    o.highlight_text_colour = COLOUR_BLACK;
    o.ssf = SSF_DRAW_BORDER; // border only
}

// ---- layout and geometry ------------------------------------------------------------

void WM_DIALOG::lay_out()
{
    const WM_STYLE_SET& s = dialog_style_set;
    const int t = title ? s.cell_top_gap + title->height : 0;
    if (title) {
        title->move(to_s16(long{x} + s.border_left_gap), to_s16(long{y} + s.border_top_gap));
        title->resize(to_s16(long{width} - s.border_left_gap - s.border_right_gap), title->height, 0);
    }
    if (contents) {
        contents->move(to_s16(long{x} + s.border_left_gap + s.cell_left_gap), to_s16(long{y} + s.border_top_gap + t));
        contents->resize(
            to_s16(long{width} - s.border_left_gap - s.border_right_gap - s.cell_left_gap - s.cell_right_gap),
            to_s16(long{height} - s.border_top_gap - t - s.border_bottom_gap - s.cell_bottom_gap), 0);
    }
}

INT_S16 WM_DIALOG::get_x()
{
    return slide_opening ? slide_end.x : slide_start.x;
}

INT_S16 WM_DIALOG::get_y()
{
    return slide_opening ? slide_end.y : slide_start.y;
}

void WM_DIALOG::get_page_manager_rect(int& px, int& py, int& pw, int& ph)
{
    WM_PAGE_SERVICES* services = page_services();
    if (WM_SCREEN_OBJECT* a = services ? services->get_current_area() : nullptr) {
        px = a->get_x();
        py = a->get_y();
        pw = a->get_width();
        ph = a->get_height();
        return;
    }
    px = py = 0;
    pw = get_window_width(0);
    ph = get_window_height(0);
}

WM_DIALOG::POINT WM_DIALOG::get_off_screen_point(int px, int py, int w, int h)
{
    const INT_U16 f = effect_info.flags;
    const bool left = f & EFFECT_FROM_LEFT, right = !left && (f & EFFECT_FROM_RIGHT);
    const bool top = f & EFFECT_FROM_TOP, bottom = !top && (f & EFFECT_FROM_BOTTOM);
    // The rectangle whose outside the dialog leaves to; without an edge
    // flag, the dialog's own.
    int ex = px, ey = py, ew = w, eh = h;
    if (f & EFFECT_EDGE_WINDOW) {
        const INT_S16 id = get_window_id_from_pos(to_s16(px), to_s16(py));
        ex = ey = 0;
        ew = get_window_width(id);
        eh = get_window_height(id);
    } else if (f & EFFECT_EDGE_PAGE_MANAGER) {
        get_page_manager_rect(ex, ey, ew, eh);
    }
    int rx = px, ry = py;
    if (left) {
        rx = ex - w;
    } else if (right) {
        rx = ex + ew;
    }
    if (top) {
        ry = ey - h;
    } else if (bottom) {
        ry = ey + eh;
    }
    return POINT{to_s16(rx), to_s16(ry)};
}

void WM_DIALOG::move(INT_S16 nx, INT_S16 ny)
{
    const bool sliding = slide_start.x != slide_end.x || slide_start.y != slide_end.y;
    if (!sliding || (x == slide_end.x && y == slide_end.y)) {
        if (nx == x && ny == y) {
            return;
        }
        WM_SCREEN_OBJECT::move(nx, ny);
        slide_start = slide_end = POINT{nx, ny};
        return;
    }
    // A running slide keeps its course relative to the new home point.
    POINT& home = slide_opening ? slide_end : slide_start;
    POINT& away = slide_opening ? slide_start : slide_end;
    const int dx = nx - home.x, dy = ny - home.y;
    if (!dx && !dy) {
        return;
    }
    WM_SCREEN_OBJECT::move(to_s16(x + dx), to_s16(y + dy));
    home = POINT{nx, ny};
    if (!(effect_info.flags & (EFFECT_EDGE_WINDOW | EFFECT_EDGE_PAGE_MANAGER))) {
        away = POINT{to_s16(away.x + dx), to_s16(away.y + dy)};
    }
}

void WM_DIALOG::resize(INT_S16 nw, INT_S16 nh, INT_U8)
{
    if (nw == width && nh == height) {
        return;
    }
    const bool sliding = x != slide_end.x || y != slide_end.y;
    if (sliding && !slide_opening) {
        // The home point stays; only the off-screen end follows the size,
        // or the close would end where it started, or off the screen.
        slide_end = get_off_screen_point(slide_start.x, slide_start.y, nw, nh);
    } else if (sliding) {
        const INT_U16 f = effect_info.flags;
        const bool left = f & EFFECT_FROM_LEFT, right = !left && (f & EFFECT_FROM_RIGHT);
        const bool top = f & EFFECT_FROM_TOP, bottom = !top && (f & EFFECT_FROM_BOTTOM);
        int sx = slide_start.x, sy = slide_start.y;
        if (f & (EFFECT_EDGE_WINDOW | EFFECT_EDGE_PAGE_MANAGER)) {
            int ex = 0, ey = 0, ew = 0, eh = 0;
            if (f & EFFECT_EDGE_WINDOW) {
                const INT_S16 id = get_window_id_from_pos(slide_end.x, slide_end.y);
                ew = get_window_width(id);
                eh = get_window_height(id);
            } else {
                get_page_manager_rect(ex, ey, ew, eh);
            }
            sx = left ? ex - nw : right ? ex + ew + nw : sx;
            sy = top ? ey - nh : bottom ? ey + eh + nh : sy;
        } else {
            const int dw = nw - width, dh = nh - height;
            sx = left ? sx - dw : right ? sx + dw : sx;
            sy = top ? sy - dh : bottom ? sy + dh : sy;
        }
        slide_start = POINT{to_s16(sx), to_s16(sy)};
    }
    WM_SCREEN_OBJECT::resize(nw, nh, 0);
    lay_out();
}

void WM_DIALOG::hide(INT_U8 modals, INT_U8 children)
{
    if (x != slide_end.x || y != slide_end.y) {
        const POINT home = slide_opening ? slide_end : slide_start;
        WM_SCREEN_OBJECT::move(home.x, home.y);
    }
    effects_suppressed = 0;
    slide_start = slide_end = POINT{x, y};
    current_alpha = target_alpha;
    if (visible && !(type & WM_TYPE_FLOATING_MENU) && (grey_background || darken_background)) {
        mark_entire_redraw_area();
    }
    if (dragging && !drag_contents) {
        mark_outline(outline_x, outline_y);
    }
    dragging = 0;
    closing = background_dimmed = 0;
    WM_SCREEN_OBJECT::hide(modals, children);
}

void WM_DIALOG::add_object(WM_SCREEN_OBJECT* object, INT_U8 relative)
{
    contents->add_object(object, relative);
}

void WM_DIALOG::remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative)
{
    contents->remove_object(object, destroy, relative);
}

// ---- title --------------------------------------------------------------------------

INT_U8 WM_DIALOG::is_in_title_bar(INT_S16 px, INT_S16 py)
{
    return title && title->is_in_it(px, py) ? 1 : 0;
}

void WM_DIALOG::set_title(const char* text)
{
    if (title) {
        title->set_string(text, 0);
    }
}

const char* WM_DIALOG::get_title()
{
    if (!title) {
        return "";
    }
    return title->text.type == 8 ? title->text.value.text : nullptr;
}

INT_S16 WM_DIALOG::get_title_height()
{
    const WM_STYLE_SET& s = dialog_style_set;
    return to_s16(s.border_top_gap + (title ? s.cell_top_gap + title->height : 0));
}

void WM_DIALOG::draw_title()
{
    if (title) {
        title->draw_object();
    }
}

// ---- dragging ------------------------------------------------------------------------

INT_U8 WM_DIALOG::in_drag_area(INT_S16 px, INT_S16 py)
{
    if (is_in_title_bar(px, py)) {
        return 1;
    }
    return is_in_me(px, py) && !(contents && contents->is_in_child(px, py)) ? 1 : 0;
}

void WM_DIALOG::draw_xor_outline(INT_S16 ox, INT_S16 oy)
{
    if (surface) {
        surface->draw_xor_rect(ox, oy, to_s16(long{ox} + width - 1), to_s16(long{oy} + height - 1), COLOUR_WHITE);
    }
}

void WM_DIALOG::mark_outline(INT_S16 ox, INT_S16 oy)
{
    const INT_S16 x2 = to_s16(long{ox} + width - 1), y2 = to_s16(long{oy} + height - 1);
    mark_redraw_subarea(ox, oy, x2, oy);
    mark_redraw_subarea(ox, y2, x2, y2);
    mark_redraw_subarea(ox, oy, ox, y2);
    mark_redraw_subarea(x2, oy, x2, y2);
}

// The outline is never XORed away: each region under it is repainted from
// the pages and gets the outline again here, so a redraw between two
// pointer moves leaves no inverted pixels behind.
void WM_DIALOG::draw_drag_outline()
{
    if (!visible || !dragging || drag_contents || !surface || !is_update_region_valid()) {
        return;
    }
    WM_CLIP_SAVER clip(surface);
    const WM_UPDATE_REGION& r = update_regions[update_regions_index];
    surface->add_rect_to_active_area(r.left, r.top, r.right, r.bottom);
    draw_xor_outline(outline_x, outline_y);
}

WM_MESG WM_DIALOG::monitor()
{
    const INT_S16 px = MOUSE::x, py = MOUSE::y;
    const INT_U8 left = MOUSE::buttons & 1;
    if (!visible && !dragging) {
        return WM_MESG_NONE;
    }
    const bool shown = target_alpha != 0 && !closing;
    // A floating menu whose grid has a focused row keeps the focus here.
    if (type & WM_TYPE_FLOATING_MENU) {
        WM_GRID* g = static_cast<WM_FLOATING_MENU*>(this)->grid;
        INT_S16 column, row;
        if (g && g->find_focal_child_object(column, row, 0)) {
            focal_object_monitored = 1;
        }
    }
    if (left) {
        if (dragging && drag_contents) {
            move(to_s16(px + drag_offset_x), to_s16(py + drag_offset_y));
        } else if (dragging) {
            const INT_S16 ox = to_s16(px + drag_offset_x), oy = to_s16(py + drag_offset_y);
            if (ox != outline_x || oy != outline_y) {
                mark_outline(outline_x, outline_y);
                outline_x = ox;
                outline_y = oy;
                mark_outline(ox, oy);
            }
        } else if (!was_pressed && can_drag && in_drag_area(px, py)) {
            // From where the dialog is drawn, also in the middle of a slide,
            // so that the point taken stays under the pointer.
            dragging = 1;
            outline_x = x;
            outline_y = y;
            drag_offset_x = to_s16(outline_x - px);
            drag_offset_y = to_s16(outline_y - py);
            start_fade(effect_info.alpha);
            if (!drag_contents) {
                mark_outline(outline_x, outline_y);
            }
        }
    } else if (dragging) {
        dragging = 0;
        start_fade(255);
        if (!drag_contents) {
            mark_outline(outline_x, outline_y);
            move(outline_x, outline_y);
        }
    }
    if (dragging || current_alpha != target_alpha || x != slide_end.x || y != slide_end.y) {
        focal_object_monitored = 1;
    }
    was_pressed = left;
    if (dragging || !shown || !visible) {
        return WM_MESG_NONE;
    }

    WM_DIALOG* const previous = active_dialog;
    active_dialog = this;
    const WM_MESG r = WM_SCREEN_OBJECT::monitor();
    active_dialog = previous;
    if (r == WM_MESG_CLOSE_DIALOG || (!visible && !dragging)) {
        close(effects_suppressed != 0, false);
        return r == WM_MESG_CLOSE_DIALOG ? WM_MESG_NONE : r;
    }
    return r;
}

// ---- drawing --------------------------------------------------------------------------

void WM_DIALOG::draw_object()
{
    if (!current_alpha) {
        return;
    }
    IMAGE* s = surface;
    const INT_S16 x2 = to_s16(long{x} + width - 1), y2 = to_s16(long{y} + height - 1);
    const WM_STYLE_SET& set = dialog_style_set;
    if (is_graphical()) {
        images.draw(x, y, x2, y2, 1, s, IMAGE_COPY_BLEND);
    } else {
        const char corners = static_cast<char>((set.shading_flags >> 4) & 0xF);
        const COLOUR bg = set.bg_colour, fade = set.fading_colour;
        if (set.ssf & SSF_DARKENED_BACKGROUND) {
            if (corners) {
                s->plot_rounded_rect(x, y, x2, y2, -1, corners, COLOUR_BLACK, COLOUR_BLACK, DARKEN_PERCENT,
                                     IMAGE::PLOT_ROUNDED_RECT_DARKEN);
            } else {
                s->darken_rect(x, y, x2, y2, DARKEN_PERCENT);
            }
        } else if (shows(bg)) {
            if (corners) {
                const IMAGE::PLOT_ROUNDED_RECT_TYPE kind = (set.ssf & SSF_HFADING)   ? IMAGE::PLOT_ROUNDED_RECT_XFADE
                                                           : (set.ssf & SSF_VFADING) ? IMAGE::PLOT_ROUNDED_RECT_YFADE
                                                                                     : IMAGE::PLOT_ROUNDED_RECT_SOLID;
                s->plot_rounded_rect(x, y, x2, y2, -1, corners, bg, fade, 0, kind);
            } else if (set.ssf & SSF_HFADING) {
                s->fill_hfaded_rect(x, y, x2, y2, bg, fade, 1);
            } else if (set.ssf & SSF_VFADING) {
                s->fill_vfaded_rect(x, y, x2, y2, bg, fade, 1);
            } else {
                s->fill_rect(x, y, x2, y2, bg, 1);
            }
        }
        if (set.ssf & (SSF_INDENT_BORDER | SSF_OUTSTANDING_BORDER)) {
            const INT_U16 flags = (set.ssf & SSF_INDENT_BORDER) ? static_cast<INT_U16>(set.shading_flags | SHADING_SWAP)
                                                                : static_cast<INT_U16>(set.shading_flags & 0x7FFF);
            const COLOUR outline = (set.ssf & SSF_USE_TEXT_COLOUR_FOR_OUTLINE) ? set.fg_colour : outline_colour;
            draw_shading(x, y, x2, y2, flags, bg, set.shading_type, -1, outline);
        }
    }
}

// ---- skin ---------------------------------------------------------------------------------

INT_U8 WM_DIALOG::set_images(const char* folder, const char* name, WM_STYLE_SET* set)
{
    images.cache = &image_cache;
    if (set && set->get_image_cache_loaded()) {
        if (set->runtime_cache[0]) {
            images = *set->runtime_cache[0];
        }
        return is_graphical();
    }
    if (!name) {
        clear_images();
        return 0;
    }
    images.load_images(folder, name, 0);
    return is_graphical();
}

void WM_DIALOG::clear_images()
{
    images.clear_images();
}
