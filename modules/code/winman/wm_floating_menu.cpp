// WM_FLOATING_MENU: construction, rows, sizing to the popup area, the
// scroll buttons, the input pass and the closing of the popup chain.
#include "wm_floating_menu.h"

#include "keyboard.h"
#include "kivo_host.h"
#include "kivo_string.h"
#include "mouse.h"
#include "wm_button.h"
#include "wm_menu.h"
#include "wm_page_services.h"
#include "wm_s16.h"
#include "wm_script.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

constexpr INT_U8 trigger_release = 2;
constexpr INT_U8 trigger_press_and_repeat = 5;
constexpr INT_U32 ms_type_ahead = 400;
constexpr int type_ahead_max = 5;

bool is_separator(WM_SCREEN_OBJECT* o)
{
    return o && !(o->type & WM_TYPE_BUTTON);
}

WM_STYLE_SET* copy_of(WM_STYLE_SET* s)
{
    if (!s) {
        return nullptr;
    }
    WM_STYLE_SET* c = new WM_STYLE_SET();
    *c = *s;
    return c;
}

INT_S32 scroll_value(WM_GRID* g)
{
    return static_cast<INT_S32>(g->scroll_param.get_long(g->scroll_param.value));
}

INT_S32 scroll_max(WM_GRID* g)
{
    return static_cast<INT_S32>(g->scroll_param.get_long(g->scroll_param.max));
}

void set_scroll_value(WM_GRID* g, long v)
{
    g->scroll_param.set(g->scroll_param.value, v);
}

} // namespace

WM_FLOATING_MENU::WM_FLOATING_MENU(INT_S16 x, INT_S16 y, const char* title_text, WM_STYLE_SET& dialog_style,
                                   WM_STYLE_SET& title_style, WM_STYLE_SET& item_style,
                                   WM_STYLE_SET* alternate_item_style, INT_U8 draggable, INT_U8 not_to_delete,
                                   WM_STYLE_SET* separator_style, WM_STYLE_SET* up_arrow_style,
                                   WM_STYLE_SET* down_arrow_style, EFFECT_INFO* effect, WM_STYLE_SET* sub_menu_style)
    : WM_DIALOG(x, y, 50, 50, title_text, &dialog_style, &title_style, &item_style,
                effect ? effect : &default_floating_menu_effect_info),
      grid(nullptr), row_count(0), item_count(0), top_row(0), bottom_row(0), min_width(0),
      alternate_item_style_set(alternate_item_style ? alternate_item_style : &object_style_set),
      separator_style_set(copy_of(separator_style)), up_arrow_style_set(copy_of(up_arrow_style)),
      down_arrow_style_set(copy_of(down_arrow_style)), sub_menu_style_set(copy_of(sub_menu_style)), prev_buttons(0),
      prev_escape(0), prev_return(0), wait_release(1), prev_visible(0), draggable(draggable), closed(0),
      hidden_top(nullptr), hidden_bottom(nullptr), up_button(nullptr), down_button(nullptr), hidden_top_row(0),
      hidden_bottom_row(0), owner(nullptr), close_key(-1), close_key_latch(1), return_latch(1),
      type_ahead_ms(0), type_ahead{}
{
    no_delete = not_to_delete;
    grid_style_set.ssf = 0;
    grid_style_set.ssef = SSEF_GRID_NO_SCROLLBAR;
    grid_style_set.y_spacing = 0;
    grid_style_set.bg_colour = COLOUR_INVISIBLE;

    grid = new WM_GRID(grid_style_set.visible, nullptr, nullptr, nullptr);
    grid->setup(0, 0, 50, 50, 1, nullptr, grid_style_set, grid_style_set);
    const int font_h = dialog_style.font_y_sz >= 0 ? dialog_style.font_y_sz : surface->font_height;
    const int row_h =
        font_h + grid->calc_y_cell_gap_from_style_set(dialog_style) + std::max<int>(0, dialog_style.y_spacing);
    grid->set_row_pitch(0, row_h != 0 ? row_h
                                      : grid->calc_min_row_height(grid_style_set, nullptr) + grid_style_set.y_spacing);
    grid->childrens_allowed_focus = 0;
    add_object(grid, 1);

    calc_new_size();
    type |= WM_TYPE_FLOATING_MENU;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

WM_FLOATING_MENU::~WM_FLOATING_MENU()
{
    WM_DIALOG::hide(0, 0);
    set_childrens_allowed_focus(0);
    delete separator_style_set;
    delete up_arrow_style_set;
    delete down_arrow_style_set;
    delete sub_menu_style_set;
    separator_style_set = up_arrow_style_set = down_arrow_style_set = sub_menu_style_set = nullptr;
    if (grid) {
        clear_scrolling_buttons();
        grid->clear(1);
    }
    delete up_button;
    delete down_button;
    if (active_menu == this) {
        active_menu = nullptr;
    }
}

// ---- base operations ---------------------------------------------------------

void WM_FLOATING_MENU::hide(INT_U8 modals, INT_U8 children)
{
    hand_back_focus();
    WM_DIALOG::hide(modals, children);
    set_childrens_allowed_focus(0);
}

WM_MESG WM_FLOATING_MENU::update(INT_U8 modal)
{
    // The input pass skips hidden objects, so a chosen menu that is to go
    // asks the modal timed pass (which walks hidden ones too) to remove it.
    if (closed) {
        return WM_MESG_CLOSE_MODAL;
    }
    return WM_DIALOG::update(modal);
}

void WM_FLOATING_MENU::resize(INT_S16 nw, INT_S16 nh, INT_U8)
{
    if (nw != width || nh != height) {
        calc_new_size();
    }
}

void WM_FLOATING_MENU::set_title(const char* text)
{
    WM_DIALOG::set_title(text);
    calc_new_size();
}

// ---- rows ----------------------------------------------------------------------

WM_STYLE_SET& WM_FLOATING_MENU::next_item_style()
{
    return (item_count & 1) ? *alternate_item_style_set : object_style_set;
}

void WM_FLOATING_MENU::new_row_corners(INT_S16& x1, INT_S16& y1, INT_S16& x2, INT_S16& y2)
{
    WM_GRID_ROW row;
    row.set_layout(grid->width, grid->num_columns, grid->ratios.empty() ? nullptr : grid->ratios.data(),
                   grid->grid_style_set);
    row.set_height(to_s16(grid->default_row_height + grid->grid_style_set.y_spacing), grid->grid_style_set);
    row.get_coords(0, grid->scrollbar ? 1 : 0, x1, y1, x2, y2);
}

bool WM_FLOATING_MENU::append_row(WM_SCREEN_OBJECT* object)
{
    if (!grid->add_object(0, row_count, object)) {
        delete object;
        return false;
    }
    ++row_count;
    return true;
}

WM_BUTTON* WM_FLOATING_MENU::add_button(const char* caption, WM_OBJECT_CALLBACK cb, void* data1, void* data2,
                                        INT_U8 separator)
{
    if (!caption || !grid) {
        return nullptr;
    }
    if (separator) {
        add_seperator();
    }
    INT_S16 x1, y1, x2, y2;
    new_row_corners(x1, y1, x2, y2);
    WM_BUTTON* b =
        new WM_BUTTON(x1, y1, x2, y2, next_item_style(), caption, nullptr, cb, data1, data2, trigger_release);
    b->type |= WM_TYPE_BUTTON; // rows are told apart by this bit
    b->set_slide_select(1);
    b->can_focus = 0;
    if (!append_row(b)) {
        return nullptr;
    }
    ++item_count;
    calc_new_size();
    return b;
}

WM_MENU* WM_FLOATING_MENU::add_menu(const char* caption, INT_U8 separator, INT_U8 arrow, WM_STYLE_SET* s1,
                                    WM_STYLE_SET* s2)
{
    if (!caption || !grid) {
        return nullptr;
    }
    if (separator) {
        add_seperator();
    }
    INT_S16 x1, y1, x2, y2;
    new_row_corners(x1, y1, x2, y2);
    WM_STYLE_SET& popup_style = sub_menu_style_set ? *sub_menu_style_set : dialog_style_set;
    WM_STYLE_SET* first = s1 ? s1 : &object_style_set;
    WM_STYLE_SET* second = s2 ? s2 : alternate_item_style_set;
    if (item_count & 1) {
        std::swap(first, second);
    }
    WM_MENU* m = new WM_MENU(x1, y1, x2, y2, caption, 3, next_item_style(), popup_style, first, second,
                             separator_style_set, up_arrow_style_set, down_arrow_style_set, nullptr, nullptr);
    m->type |= WM_TYPE_BUTTON;
    m->can_focus = 0;
    if (arrow) {
        m->set_draw_flags(m->draw_flags | BUTTON_ARROW_RIGHT);
    }
    m->parent_menu = owner && (owner->type & WM_TYPE_MENU) ? owner : this;
    m->set_button_type(2);
    if (!append_row(m)) {
        return nullptr;
    }
    ++item_count;
    if (m->popup) {
        m->popup->min_width = grid->width;
    }
    m->position_popup();
    calc_new_size();
    if (m->popup) {
        m->popup->hide(0, 0);
    }
    m->clear_press();
    return m;
}

WM_SCRIPT* WM_FLOATING_MENU::add_seperator()
{
    if (!grid) {
        return nullptr;
    }
    WM_SCRIPT* s;
    int h;
    if (separator_style_set) {
        s = new WM_SCRIPT(0, 0, -1, -1, *separator_style_set, "");
        h = 0;
        for (IMAGE* piece : {s->skin.top_mid, s->skin.mid_mid, s->skin.bottom_mid}) {
            h += piece ? piece->height : 0;
        }
        if (h == 0) {
            h = grid->calc_min_row_height(grid->grid_style_set, nullptr);
        }
    } else {
        // A thin groove in the grid's background colour.
        s = new WM_SCRIPT(0, 0, 0, 2, "", -1, -1, -1, grid_style_set.fg_colour, grid_style_set.bg_colour, 1,
                          SCRIPT_INDENTED_BORDER);
        s->shading_type = 4;
        h = 3;
    }
    const int saved_pitch = grid->default_row_height + grid->grid_style_set.y_spacing;
    grid->set_row_pitch(grid->visible_lines, h);
    const bool placed = append_row(s);
    grid->set_row_pitch(grid->visible_lines, saved_pitch);
    return placed ? s : nullptr;
}

WM_SCREEN_OBJECT* WM_FLOATING_MENU::row_object(INT_S16 row)
{
    if (!grid || row < 0 || row >= row_count) {
        return nullptr;
    }
    if (hidden_top && row == hidden_top_row) {
        return hidden_top;
    }
    if (hidden_bottom && row == hidden_bottom_row) {
        return hidden_bottom;
    }
    return grid->get_object(0, row);
}

WM_BUTTON* WM_FLOATING_MENU::get_button(INT_S16 row)
{
    WM_SCREEN_OBJECT* o = row_object(row);
    return o && (o->type & WM_TYPE_BUTTON) ? static_cast<WM_BUTTON*>(o) : nullptr;
}

WM_MENU* WM_FLOATING_MENU::get_menu(INT_S16 row)
{
    WM_SCREEN_OBJECT* o = row_object(row);
    return o && (o->type & WM_TYPE_MENU) ? static_cast<WM_MENU*>(o) : nullptr;
}

INT_U8 WM_FLOATING_MENU::is_in_menu(INT_S16 px, INT_S16 py)
{
    if (!visible) {
        return 0;
    }
    if (is_in_it(px, py)) {
        return 1;
    }
    for (INT_S16 r = 0; r < row_count; ++r) {
        WM_SCREEN_OBJECT* o = row_object(r);
        if (o && o->is_in_it(px, py)) {
            return 1;
        }
        WM_MENU* m = get_menu(r);
        if (m && m->popup && m->popup->is_in_menu(px, py)) {
            return 1;
        }
    }
    return 0;
}

void WM_FLOATING_MENU::set_childrens_allowed_focus(INT_U8 on)
{
    for (INT_S16 r = 0; r < row_count; ++r) {
        if (WM_BUTTON* b = get_button(r)) {
            b->can_focus = on;
        }
    }
    for (WM_BUTTON* b : {up_button, down_button}) {
        if (b) {
            b->can_focus = on;
        }
    }
    if (grid) {
        grid->childrens_allowed_focus = on;
    }
}

void WM_FLOATING_MENU::clear_row_press(WM_SCREEN_OBJECT* row)
{
    if (!row || !(row->type & WM_TYPE_BUTTON)) {
        return;
    }
    static_cast<WM_BUTTON*>(row)->clear_press();
}

void WM_FLOATING_MENU::reset()
{
    for (INT_S16 r = 0; r < row_count; ++r) {
        clear_row_press(row_object(r));
    }
    measured_rows = 0;
    wait_release = 1;
    close_key_latch = 1;
    return_latch = 1;
    prev_buttons = prev_escape = prev_return = 0;
    prev_visible = 0;
    type_ahead[0] = 0;
}

void WM_FLOATING_MENU::hide_with_popup_children()
{
    for (INT_S16 r = 0; r < row_count; ++r) {
        WM_MENU* m = get_menu(r);
        if (m && m->popup) {
            m->popup->hide_with_popup_children();
        }
    }
    hide(0, 0);
}

// ---- closing -------------------------------------------------------------------

namespace {

// Hands put_away what a linked popup leaves open above it: the popup of the
// menu its owner hangs from, or that parent itself when it is a floating
// menu, with the `up` flag that one's own chain is walked with.
template <class PUT_AWAY> void put_away_parent_popup(WM_SCREEN_OBJECT* owner, PUT_AWAY put_away)
{
    if (!owner || !(owner->type & WM_TYPE_MENU)) {
        return;
    }
    WM_SCREEN_OBJECT* p = static_cast<WM_MENU*>(owner)->parent_menu;
    if (!p) {
        return;
    }
    if (p->type & WM_TYPE_MENU) {
        WM_MENU* m = static_cast<WM_MENU*>(p);
        if (m->popup) {
            put_away(m->popup, 1);
        }
        m->clear_press();
    } else if (p->type & WM_TYPE_FLOATING_MENU) {
        put_away(static_cast<WM_FLOATING_MENU*>(p), 0);
    }
}

} // namespace

void WM_FLOATING_MENU::close_linked_popup(INT_U8 up)
{
    put_away_parent_popup(owner, [up](WM_FLOATING_MENU* f, INT_U8 next_up) {
        f->close(false, false); // with effects; the menu stays
        if (up) {
            f->close_linked_popup(next_up);
        }
    });
}

void WM_FLOATING_MENU::hide_linked_popup(INT_U8 up)
{
    put_away_parent_popup(owner, [up](WM_FLOATING_MENU* f, INT_U8 next_up) {
        f->hide(0, 0);
        if (up) {
            f->hide_linked_popup(next_up);
        }
    });
}

void WM_FLOATING_MENU::hand_back_focus()
{
    INT_S16 column = 0, row = 0;
    const bool focused = (grid && grid->find_focal_child_object(column, row, 1)) ||
                         (focal_object && (focal_object == up_button || focal_object == down_button));
    if (!focused) {
        return;
    }
    // Up the chain: a sub-menu row's parent is the menu that owns the popup
    // holding it, or that popup itself; bounded, as a chain made by hand
    // could close on itself.
    WM_SCREEN_OBJECT* opener = owner;
    for (int depth = 0; depth < 64 && opener && (opener->type & WM_TYPE_MENU); ++depth) {
        WM_SCREEN_OBJECT* parent = static_cast<WM_MENU*>(opener)->parent_menu;
        if (!parent) {
            break;
        }
        opener = (parent->type & WM_TYPE_FLOATING_MENU) ? static_cast<WM_FLOATING_MENU*>(parent)->owner : parent;
    }
    if (opener) {
        opener->take_focus();
    }
}

void WM_FLOATING_MENU::close_all()
{
    hand_back_focus();
    close(false, !no_delete);
    if (no_delete) {
        reset();
    }
    close_linked_popup(1);
    // As after a choice: the owner missed the release of the key or button
    // that opened the menu, and the next press on it, which may come while
    // the menu still slides away, must count as one.
    if (owner && (owner->type & WM_TYPE_BUTTON)) {
        clear_row_press(owner);
    }
}

void WM_FLOATING_MENU::choose()
{
    hide(0, 0);
    hide_linked_popup(1);
    if (remove_when_closed) {
        closed = 1;
    }
    if (owner && (owner->type & WM_TYPE_BUTTON)) {
        clear_row_press(owner);
    }
}

// ---- size and scrolling ----------------------------------------------------------

void WM_FLOATING_MENU::calc_new_size()
{
    if (!grid) {
        return;
    }
    const WM_STYLE_SET& d = dialog_style_set;
    const int frame_x = d.border_left_gap + d.border_right_gap;
    const int cells_x = d.cell_left_gap + d.cell_right_gap;
    int w = title_width() + frame_x;

    INT_S16 ax1 = 0, ay1 = 0, ax2 = 32767, ay2 = 32767;
    if (WM_PAGE_SERVICES* services = page_services()) {
        services->get_popup_area(ax1, ay1, ax2, ay2);
    }
    // The grid gets the contents area, which the dialog ends a cell gap
    // above its bottom border: that gap is part of the height, or the rows
    // never fit their own view and the first one counts as scrolled away.
    int h = grid->calc_y_border_gap_from_style_set(grid_style_set) + get_title_height() + d.border_bottom_gap +
            d.cell_bottom_gap;

    const bool scrolled = grid->get_content_height() > grid->get_view_height();
    INT_S32 offset = scrolled ? grid->get_scroll_offset() : 0;
    int cut = 0;
    bool cut_made = fit_rows(offset, ay2 - ay1, h, cut);

    WM_STYLE_SET& o = object_style_set;
    const int row_extra = (o.border_left_gap >= 0 ? o.border_left_gap : get_shading_size(o.shading_type)) +
                          (o.border_right_gap >= 0 ? o.border_right_gap : get_shading_size(o.shading_type)) +
                          grid->calc_x_border_gap_from_style_set(grid_style_set) +
                          grid->calc_x_cell_gap_from_style_set(grid_style_set) + frame_x + cells_x;
    if (row_count > 0) {
        measured_rows = row_count;
        w = std::max(w, widest_text + row_extra);
    }
    if (cut_made && cut <= 0) {
        cut_made = false; // fewer than two rows fit: the menu overruns the area
    }
    const bool scrolling = cut_made || top_row > 0;
    bottom_row = to_s16(std::max(0, cut_made ? cut : row_count - 1));
    w = std::max(w, min_width + frame_x + cells_x);

    if (scrolling && top_row < row_count && is_separator(row_object(top_row))) {
        const int sh = row_object(top_row)->height;
        set_scroll_value(grid, scroll_value(grid) - sh);
        h -= sh;
        ++top_row;
        offset = grid->get_scroll_offset();
    }

    WM_DIALOG::resize(to_s16(w), to_s16(h), 0);
    grid->resize(to_s16(width - frame_x - cells_x),
                 to_s16(height - get_title_height() - d.border_bottom_gap - d.cell_bottom_gap), 1);
    if (scrolling) {
        set_scroll_value(grid, scroll_max(grid) - offset);
        if (grid->visible) {
            grid->check_scrolling();
        }
    }
    keep_inside(ax1, ay1, ax2, ay2);
    check_for_scrolling_buttons();
}

int WM_FLOATING_MENU::title_width()
{
    if (!title) {
        return 0;
    }
    INT_S16 gap = 0;
    WM_SCRIPT::calc_xgap_from_style_set(title_style_set, gap);
    const char* t = get_title();
    return gap + surface->get_string_width(title_style_set.font_id, title_style_set.font_x_sz,
                                           title_style_set.font_y_sz, t ? t : "", -1, 0);
}

bool WM_FLOATING_MENU::fit_rows(INT_S32 offset, int room, int& h, int& cut)
{
    INT_S32 above = offset; // left of the offset while walking the rows above the view
    top_row = 0;
    bool cut_made = false;
    if (measured_rows > row_count) {
        measured_rows = 0;
    }
    for (INT_S16 i = 0; i < row_count; ++i) {
        // Past the cut every row is in view: only the widths of rows not
        // measured yet are left to take.
        if (cut_made && i < measured_rows) {
            i = static_cast<INT_S16>(measured_rows - 1);
            continue;
        }
        WM_SCREEN_OBJECT* obj = row_object(i);
        const int rh = obj ? obj->height : grid->rows[i]->height;
        const bool in_view = above <= 0;
        if (!in_view) {
            ++top_row;
            above -= rh;
        }
        if (i >= measured_rows) {
            measure_row_text(i, obj);
        }
        if (in_view && !cut_made) {
            if (h + rh > room) {
                // A separator does not end the visible part.
                int k = i - 1;
                while (k > top_row && is_separator(row_object(static_cast<INT_S16>(k)))) {
                    h -= row_object(static_cast<INT_S16>(k))->height;
                    --k;
                }
                cut = k;
                cut_made = true;
            } else {
                h += rh;
            }
        }
    }
    return cut_made;
}

void WM_FLOATING_MENU::measure_row_text(INT_S16 row, WM_SCREEN_OBJECT* obj)
{
    const char* text = nullptr;
    if (obj && (obj->type & WM_TYPE_BUTTON)) {
        text = static_cast<WM_BUTTON*>(obj)->caption;
    } else if (obj && (obj->type & WM_TYPE_SCRIPT)) {
        WM_SCRIPT* s = static_cast<WM_SCRIPT*>(obj);
        text = s->text.type == 8 ? s->text.value.text : nullptr;
    }
    const WM_STYLE_SET& o = object_style_set;
    const INT_S32 tw = surface->get_string_width(o.font_id, o.font_x_sz, o.font_y_sz, text ? text : "", -1, 0);
    widest_text = row == 0 ? tw : std::max(widest_text, tw);
}

void WM_FLOATING_MENU::keep_inside(INT_S16 ax1, INT_S16 ay1, INT_S16 ax2, INT_S16 ay2)
{
    move_inside(get_x(), get_y(), ax1, ay1, ax2, ay2);
}

void WM_FLOATING_MENU::place_inside(INT_S16 nx, INT_S16 ny)
{
    INT_S16 ax1 = 0, ay1 = 0, ax2 = 32767, ay2 = 32767;
    if (WM_PAGE_SERVICES* services = page_services()) {
        services->get_popup_area(ax1, ay1, ax2, ay2);
    }
    move_inside(nx, ny, ax1, ay1, ax2, ay2);
}

void WM_FLOATING_MENU::move_inside(int from_x, int from_y, INT_S16 ax1, INT_S16 ay1, INT_S16 ax2, INT_S16 ay2)
{
    int nx = std::max<int>(from_x, ax1), ny = std::max<int>(from_y, ay1);
    if (nx + width - 1 > ax2) {
        nx = ax2 - width + 1;
    }
    if (ny + height - 1 > ay2) {
        ny = ay2 - height + 1;
    }
    if (nx != get_x() || ny != get_y()) {
        move(to_s16(nx), to_s16(ny));
    }
}

void WM_FLOATING_MENU::check_for_scrolling_buttons()
{
    if (!grid) {
        return;
    }
    if (grid->get_content_height() <= grid->get_view_height()) {
        clear_scrolling_buttons();
        return;
    }
    // Stands the scroll button in the row, keeping the row's object aside.
    auto stand_in = [this](WM_BUTTON*& button, WM_SCREEN_OBJECT*& hidden, INT_S16& hidden_row, INT_S16 row, bool up) {
        WM_SCREEN_OBJECT* o = grid->get_object(0, row);
        if (!o) {
            return;
        }
        if (!button) {
            INT_S16 x1, y1, x2, y2;
            new_row_corners(x1, y1, x2, y2);
            WM_STYLE_SET* own = up ? up_arrow_style_set : down_arrow_style_set;
            WM_STYLE_SET& style = own ? *own : object_style_set;
            const char* caption = (style.ssef & SSEF_FM_HIDE_SCROLLING_ARROWS) ? "" : (up ? "^" : "v");
            button =
                new WM_BUTTON(x1, y1, x2, y2, style, caption, nullptr, scrolling_callback, this,
                              reinterpret_cast<void*>(static_cast<intptr_t>(up ? 1 : 0)), trigger_press_and_repeat);
            button->type |= WM_TYPE_BUTTON;
            button->set_button_type(2);
        }
        button->can_focus = grid->childrens_allowed_focus;
        grid->remove_object(o, 0, 0);
        button->visible = 1;
        grid->add_object(0, row, button);
        hidden = o;
        hidden_row = row;
    };
    if (!hidden_top && scroll_value(grid) != scroll_max(grid)) {
        stand_in(up_button, hidden_top, hidden_top_row, top_row, true);
    }
    if (!hidden_bottom && scroll_value(grid) != 0 && !(hidden_top && bottom_row == hidden_top_row)) {
        stand_in(down_button, hidden_bottom, hidden_bottom_row, bottom_row, false);
    }
}

void WM_FLOATING_MENU::clear_scrolling_buttons()
{
    if (!grid) {
        return;
    }
    auto put_back = [this](WM_BUTTON* button, WM_SCREEN_OBJECT*& hidden, INT_S16& hidden_row) {
        if (!hidden) {
            return;
        }
        grid->remove_object(button, 0, 0);
        hidden->visible = 1;
        grid->add_object(0, hidden_row, hidden);
        if (visible) {
            hidden->request_draw();
        }
        hidden = nullptr;
        hidden_row = 0;
    };
    put_back(up_button, hidden_top, hidden_top_row);
    put_back(down_button, hidden_bottom, hidden_bottom_row);
}

void WM_FLOATING_MENU::scroll_by(INT_S32 pixels)
{
    clear_scrolling_buttons();
    set_scroll_value(grid, scroll_value(grid) + pixels);
    if (grid->visible) {
        grid->check_scrolling();
    }
}

WM_MESG WM_FLOATING_MENU::scrolling_callback(WM_SCREEN_OBJECT*, void* menu, void* direction)
{
    WM_FLOATING_MENU* m = static_cast<WM_FLOATING_MENU*>(menu);
    if (!m || !m->grid) {
        return WM_MESG_NONE;
    }
    m->clear_scrolling_buttons();
    INT_S32 step = 0;
    if (direction) {
        // One item row comes into view: separators above it come along.
        for (int k = m->top_row - 1; k >= 0; --k) {
            WM_SCREEN_OBJECT* o = m->row_object(static_cast<INT_S16>(k));
            step += o ? o->height : 0;
            if (!is_separator(o)) {
                break;
            }
        }
    } else if (WM_SCREEN_OBJECT* o = m->row_object(m->top_row)) {
        step = -o->height;
    }
    m->scroll_by(step);
    m->calc_new_size();
    const INT_S32 v = scroll_value(m->grid);
    if (v == scroll_max(m->grid)) {
        m->clear_row_press(m->up_button);
    }
    if (v == 0) {
        m->clear_row_press(m->down_button);
    }
    return WM_MESG_NONE;
}

// ---- input pass --------------------------------------------------------------------

void WM_FLOATING_MENU::run_navigation_keys()
{
    const INT_S32 code = KEYBOARD::code;
    INT_S16 column = 0, row = 0;
    if (!grid->childrens_allowed_focus) {
        static const INT_S32 switches[] = {KEY_UP,        KEY_DOWN,    KEY_LEFT, KEY_RIGHT,
                                           KEY_PAGE_DOWN, KEY_PAGE_UP, KEY_HOME, KEY_END};
        if (std::find(std::begin(switches), std::end(switches), code) != std::end(switches)) {
            KEYBOARD::get_code();
            set_childrens_allowed_focus(1);
        }
        return;
    }
    const bool paging = code == KEY_PAGE_UP || code == KEY_PAGE_DOWN || code == KEY_HOME || code == KEY_END;
    if (paging && grid->find_focal_child_object(column, row, 1)) {
        clear_scrolling_buttons();
        KEYBOARD::get_code();
        const int page = bottom_row - top_row;
        int target = 0;
        // Page Up moves the focus down a page and Page Down up one, as the
        // grid pages its view.
        if (code == KEY_PAGE_UP) {
            target = std::min(row + page - 1, row_count - 1);
        } else if (code == KEY_PAGE_DOWN) {
            target = std::max(row - page, 0);
        } else if (code == KEY_END) {
            target = grid->num_rows - 1;
        }
        focus_row(to_s16(target));
        return;
    }
    // A scroll button that took the focus hands it to the row it covers,
    // scrolled into view.
    if (hidden_top && up_button && focal_object == up_button) {
        const INT_S16 r = hidden_top_row;
        const int rh = hidden_top->height;
        scroll_by(rh);
        grid->give_child_object_focus(0, r);
        calc_new_size();
    } else if (hidden_bottom && down_button && focal_object == down_button) {
        const INT_S16 r = hidden_bottom_row;
        const int rh = hidden_bottom->height;
        scroll_by(-rh);
        grid->give_child_object_focus(0, r);
        calc_new_size();
    }
}

void WM_FLOATING_MENU::focus_row(INT_S16 row)
{
    grid->give_child_object_focus(0, row);
    calc_new_size();
    // A scroll button standing in the row takes the row out of the grid,
    // and the frame's focus repair would then pass the focus on: the view
    // moves one item row at a time until the row is uncovered. Bounded, as
    // a view of two rows may hold nothing but the two buttons.
    for (int step = 0; step < row_count; ++step) {
        const bool under_up = hidden_top && hidden_top_row == row;
        if (!under_up && !(hidden_bottom && hidden_bottom_row == row)) {
            break;
        }
        scrolling_callback(nullptr, this, reinterpret_cast<void*>(static_cast<intptr_t>(under_up ? 1 : 0)));
    }
}

void WM_FLOATING_MENU::run_type_ahead()
{
    if (KEYBOARD::buffer_index < 0) {
        return;
    }
    const INT_U8 ch = KEYBOARD::get_char();
    if (!ch) {
        return;
    }
    const INT_U32 now = get_ms_count();
    const size_t len = std::strlen(type_ahead);
    if (now - type_ahead_ms <= ms_type_ahead) {
        if (len < static_cast<size_t>(type_ahead_max)) {
            type_ahead[len] = static_cast<char>(ch);
            type_ahead[len + 1] = 0;
        }
    } else {
        type_ahead[0] = static_cast<char>(ch);
        type_ahead[1] = 0;
    }
    type_ahead_ms = now;

    INT_S16 column = 0, row = -1;
    const int start = grid->find_focal_child_object(column, row, 1) ? row + 1 : 0;
    const int rows = grid->num_rows;
    const short n = static_cast<short>(std::strlen(type_ahead));
    for (int k = 0; k < rows; ++k) {
        const INT_S16 r = to_s16((start + k) % rows);
        WM_BUTTON* b = get_button(r);
        if (b && b->caption && strncmpi(b->caption, type_ahead, n) == 0) {
            if (!grid->childrens_allowed_focus) {
                set_childrens_allowed_focus(1);
            }
            clear_scrolling_buttons();
            focus_row(r);
            return;
        }
    }
}

void WM_FLOATING_MENU::run_pointer_release()
{
    const INT_S16 px = MOUSE::x, py = MOUSE::y;
    const bool on_owner = owner && owner->is_in_it(px, py) && !owner->is_in_me(px, py);
    if (is_in_title_bar(px, py) || on_owner) {
        return;
    }
    WM_SCREEN_OBJECT* chosen = nullptr;
    for (INT_S16 r = 0; r < row_count && !chosen; ++r) {
        WM_SCREEN_OBJECT* o = row_object(r);
        if (o && (o->type & WM_TYPE_BUTTON) && !(o->type & WM_TYPE_MENU) && o != up_button && o != down_button &&
            o->is_in_it(px, py)) {
            chosen = o;
        }
    }
    if (chosen) {
        choose();
    } else if (!is_in_menu(px, py)) {
        close_all();
    }
}

WM_MESG WM_FLOATING_MENU::monitor()
{
    KEYBOARD keyboard_view; // keeps the typed-character buffer alive for this pass
    if (closed) {
        return WM_MESG_CLOSE_MODAL;
    }
    if (prev_visible != visible) {
        if (visible) {
            close_key_latch = 1;
            return_latch = 1;
            wait_release = 1;
        }
        prev_visible = visible;
    }
    if (!visible) {
        return WM_MESG_NONE;
    }
    if (grid) {
        run_navigation_keys();
        run_type_ahead();
    }

    const bool close_key_down = close_key != -1 && KEYBOARD::get_key_value(static_cast<INT_U32>(close_key));
    const bool escape = KEYBOARD::get_key_value(KEY_ESCAPE) || (!close_key_latch && close_key_down);
    // Return held since the menu showed (it opened a list) is no choice:
    // its release would close the menu it opened.
    const bool return_down = KEYBOARD::get_key_value(return_key) != 0;
    const bool ret = return_down && !return_latch;
    const INT_U32 buttons = MOUSE::buttons & 3;

    // The press that opened the menu must not operate a row.
    const bool mask_left = wait_release && (MOUSE::buttons & 1);
    if (mask_left) {
        MOUSE::process_mouse_button(1, 0);
    }
    can_drag = draggable && !wait_release;
    WM_FLOATING_MENU* saved = active_menu;
    active_menu = this;
    const WM_MESG result = WM_DIALOG::monitor();
    active_menu = saved;
    if (mask_left) {
        MOUSE::process_mouse_button(1, 1);
    }

    if (prev_escape && !escape) {
        close_all();
    }
    if (prev_return && !ret) {
        INT_S16 column, row;
        if (grid && grid->find_focal_child_object(column, row, 1)) {
            choose();
        } else {
            close_all();
        }
    }
    if (wait_release) {
        if (!buttons) {
            wait_release = 0;
        }
    } else if (prev_buttons && !buttons && visible) {
        run_pointer_release();
    }
    if (!close_key_down) {
        close_key_latch = 0;
    }
    if (!return_down) {
        return_latch = 0;
    }
    prev_buttons = buttons ? 1 : 0;
    prev_escape = escape ? 1 : 0;
    prev_return = ret ? 1 : 0;
    return result;
}
