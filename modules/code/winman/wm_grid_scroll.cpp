// WM_GRID scrolling and focus: the steps the scroll bar asks for, the
// visible-row bookkeeping, arrow and page keys, and the monitor, update,
// redraw, hit-test and resize walks over the cells in view.
#include "wm_grid.h"

#include "keyboard.h"
#include "mouse.h"
#include "wm_clip.h"
#include "wm_names.h"
#include "wm_s16.h"

#include <algorithm>

namespace {

// The bar's actions as the grid reads them: a vertical bar has its
// maximum (the top of the content) above.
constexpr SCROLLBAR_BUTTON_DOWN_TYPE LINE_BACK = 1, LINE_FORWARD = 2, PAGE_BACK = 3, PAGE_FORWARD = 4;

long scroll_value(PARAMETER& p)
{
    return p.get_long(p.value);
}

// PARAMETER::set clamps as well, but only after storing at 32 bits.
void set_scroll_value(PARAMETER& p, long v)
{
    const long lo = p.get_long(p.min), hi = p.get_long(p.max);
    p.set(p.value, v < lo ? lo : v > hi ? hi : v);
}

// Row top on screen, in 32 bits: content taller than 32,767 pixels puts
// far rows outside the 16-bit range.
long screen_top(WM_GRID& g, int row)
{
    const long scrolled = g.get_content_height() > g.get_view_height() ? g.get_scroll_offset() : 0;
    return g.y + g.grid_style_set.border_top_gap + g.get_row_top(static_cast<INT_S16>(row)) - scrolled;
}

// Calls f on every object of rows first..last in row and column order
// until one answers non-zero. Bounds are read again at each step: a cell's
// handler may empty the grid.
template <class F> WM_MESG walk_cells(WM_GRID& g, int first, int last, bool skip_row0, F f)
{
    for (int r = first < 0 ? 0 : first; r <= last && r < g.num_rows; ++r) {
        if (r == 0 && skip_row0) {
            continue;
        }
        for (int c = 0; r < g.num_rows && c < g.rows[r]->num_objects; ++c) {
            if (WM_SCREEN_OBJECT* o = g.rows[r]->objects[c]) {
                if (const WM_MESG m = f(o)) {
                    return m;
                }
            }
        }
    }
    return 0;
}

// The step for action 1 to 4 with nothing fixed: R is the row at the top
// of the view and H how far the view's top lies inside it.
long computed_step(WM_GRID& g, SCROLLBAR_BUTTON_DOWN_TYPE type)
{
    const int n = g.num_rows;
    if (n < 1) {
        return 0;
    }
    const long offset = g.get_scroll_offset(), view = g.get_view_height(), ys = g.grid_style_set.y_spacing;
    auto bottom = [&g](int k) { return static_cast<long>(g.rows[k]->bottom); };
    int r = g.first_visible_row < 0 ? 0 : g.first_visible_row >= n ? n - 1 : g.first_visible_row;
    while (r < n - 1 && bottom(r) <= offset) {
        ++r;
    }
    const long hidden = offset - g.get_row_top(static_cast<INT_S16>(r));
    switch (type) {
    case LINE_FORWARD: return g.rows[r]->height + ys - hidden;
    case LINE_BACK: return hidden ? hidden : r == 0 ? 0 : g.rows[r - 1]->height + ys;
    case PAGE_BACK: {
        const long t = bottom(r) - view + 1;
        if (r == 0 || bottom(r - 1) < t) {
            return hidden;
        }
        int k = r - 1;
        while (k > 0 && bottom(k - 1) >= t) {
            --k;
        }
        return hidden + bottom(r) - bottom(k);
    }
    case PAGE_FORWARD: {
        const long t = bottom(r) + view - 1;
        int k = r;
        if (view > 1) {
            k = r + 1;
            while (k < n && bottom(k) < t) {
                ++k;
            }
            if (k >= n) {
                k = n - 1;
            }
        }
        // Row 0 has no row before it: the top of the content stands in.
        return (k > 0 ? bottom(k - 1) : 0) - bottom(r) - hidden;
    }
    default: return 0;
    }
}

long grid_step(WM_GRID& g, SCROLLBAR_BUTTON_DOWN_TYPE type)
{
    if ((type == LINE_BACK || type == LINE_FORWARD) && g.line_step) {
        return g.line_step;
    }
    if ((type == PAGE_BACK || type == PAGE_FORWARD) && g.page_step) {
        return g.page_step;
    }
    const long step = computed_step(g, type);
    // When the row after the top row is taller than the view, or the top
    // row is the last, the page would be 0 or go backwards: take a line.
    if (type == PAGE_FORWARD && step < 1) {
        return grid_step(g, LINE_FORWARD);
    }
    // A magnitude: the bar applies the direction.
    return step < 0 ? 0 : step;
}

// Arrow keys between focusable cells, then Home, End and the page keys on
// a grid whose bar holds the wheel focus. Codes it does not act on stay
// pending.
void monitor_keys(WM_GRID& g)
{
    PARAMETER& p = g.scroll_param;
    const INT_S32 k = KEYBOARD::code;
    if (k >= KEY_LEFT && k <= KEY_UP) {
        INT_S16 column = 0, row = 0;
        if (g.find_focal_child_object(column, row, 0)) {
            KEYBOARD::get_code();
            // 123 left, 124 right, 125 down, 126 up.
            static const char directions[] = {0, 1, 3, 2};
            INT_S16 to_column = column, to_row = row;
            WM_SCREEN_OBJECT* next = g.find_next_object(directions[k - KEY_LEFT], column, row, &to_column, &to_row, 1);
            if (next) {
                next->take_focus();
                if (!g.visible || !g.is_row_visible(to_row)) {
                    set_scroll_value(p, scroll_value(p) - (g.rows[to_row]->bottom - g.rows[row]->bottom));
                }
            }
            return;
        }
    }
    if (!g.scrollbar || WM_SCROLLBAR::mouse_wheel_focus != g.scrollbar) {
        return;
    }
    const bool command = KEYBOARD::get_key_value(KEY_COMMAND) || KEYBOARD::get_key_value(KEY_CONTROL);
    const long v = scroll_value(p);
    long to = v;
    switch (k) {
    case KEY_HOME: to = p.get_long(p.max); break;
    case KEY_END: to = p.get_long(p.min); break;
    case KEY_PAGE_UP: // 116 moves down the table and 121 up, by design
        to = v - grid_step(g, PAGE_FORWARD);
        break;
    case KEY_PAGE_DOWN: to = v + grid_step(g, PAGE_BACK); break;
    case KEY_DOWN: to = v - grid_step(g, command ? PAGE_FORWARD : LINE_FORWARD); break;
    case KEY_UP: to = v + grid_step(g, command ? PAGE_BACK : LINE_BACK); break;
    default: return;
    }
    KEYBOARD::get_code();
    set_scroll_value(p, to);
    g.redraw_if_visible();
}

} // namespace

// The index answers; the walk, visible rows first, stays for a stale entry
// and for an object that sits in more than one cell, where the first one
// in that order is the answer.
bool WM_GRID::find_cell(WM_SCREEN_OBJECT* object, bool fully_visible_only, INT_S16& column, INT_S16& row)
{
    if (!object) {
        return false;
    }
    if (!cells_shared) {
        const auto entry = cell_index.find(object);
        if (entry == cell_index.end()) {
            return false;
        }
        const CELL cell = entry->second;
        if (cell.row < num_rows && cell.column < rows[cell.row]->num_objects &&
            rows[cell.row]->objects[cell.column] == object) {
            if (fully_visible_only && !is_row_visible(cell.row)) {
                return false;
            }
            row = cell.row;
            column = cell.column;
            return true;
        }
        cell_index.erase(entry);
    }
    auto in_row = [&](int r) {
        if (fully_visible_only && !is_row_visible(static_cast<INT_S16>(r))) {
            return false;
        }
        for (int c = 0; c < rows[r]->num_objects; ++c) {
            if (rows[r]->objects[c] == object) {
                column = static_cast<INT_S16>(c);
                row = static_cast<INT_S16>(r);
                return true;
            }
        }
        return false;
    };
    const int first = first_visible_row, last = last_visible_row;
    bool found = false;
    for (int r = first < 0 ? 0 : first; !found && r <= last && r < num_rows; ++r) {
        found = in_row(r);
    }
    for (int r = 0; !found && r < num_rows; ++r) {
        found = (r < first || r > last) && in_row(r);
    }
    if (found && !cells_shared) {
        cell_index[object] = {row, column};
    }
    return found;
}

long WM_GRID::scrollbar_movement_callback(WM_SCROLLBAR* bar, SCROLLBAR_BUTTON_DOWN_TYPE type)
{
    auto* grid = bar ? static_cast<WM_GRID*>(bar->callback_data1) : nullptr;
    return grid ? grid_step(*grid, type) : 0;
}

void WM_GRID::check_scrolling()
{
    if (num_rows < 1) {
        return;
    }
    const long value = scroll_value(scroll_param), max = scroll_param.get_long(scroll_param.max);
    if (value == last_scroll_value && max == last_scroll_max) {
        return;
    }
    INT_S16 focus_column = 0, focus_row = 0;
    const bool has_focus = find_cell(focal_object, false, focus_column, focus_row);
    last_scroll_value = static_cast<INT_S32>(value);
    last_scroll_max = static_cast<INT_S32>(max);

    const long offset = max - value, view = get_view_height();
    int first = first_visible_row < 0 ? 0 : first_visible_row >= num_rows ? num_rows - 1 : first_visible_row;
    if (first > 0 && offset < rows[first - 1]->bottom) {
        while (first > 0 && offset < rows[first - 1]->bottom) {
            --first;
        }
    } else {
        while (first < num_rows - 1 && offset > rows[first]->bottom) {
            ++first;
        }
    }
    first_visible_row = static_cast<INT_S16>(first);
    // Row tops only grow, so the walk ends at the first row starting below
    // the view and costs the rows in view, not the rows in the table.
    const long above = get_row_top(first_visible_row) - offset;
    last_visible_row = -1;
    for (int k = first; k < num_rows && get_row_top(static_cast<INT_S16>(k)) - offset <= view - above; ++k) {
        last_visible_row = static_cast<INT_S16>(k);
    }

    if (has_focus && !is_row_visible(focus_row)) {
        // The focus goes to the same column of the nearest fully visible
        // row, looking from the focus row towards the view. While every
        // row has height, rows start further down the further down the
        // table they are, so no row outside first..last is wholly in
        // view and the look starts at the view's edge.
        const int mid = first_visible_row + (last_visible_row - first_visible_row) / 2;
        const int step = focus_row > mid ? -1 : 1;
        int from = focus_row + step, to = step > 0 ? num_rows - 1 : 0;
        const WM_STYLE_SET& s = grid_style_set;
        if (s.y_spacing + s.cell_top_gap + s.cell_bottom_gap + 2 > 0) {
            from = step > 0 ? std::max<int>(from, first_visible_row) : std::min<int>(from, last_visible_row);
            to = step > 0 ? std::min<int>(to, last_visible_row) : std::max<int>(to, first_visible_row);
        }
        for (int k = from; step > 0 ? k <= to : k >= to; k += step) {
            if (is_row_visible(static_cast<INT_S16>(k))) {
                if (WM_SCREEN_OBJECT* o = get_object(focus_column, static_cast<INT_S16>(k))) {
                    o->take_focus();
                }
                break;
            }
        }
    }
    redraw_if_visible();
}

void WM_GRID::set_scroll_to_row(INT_S16 row)
{
    if (row < 0 || row >= num_rows) {
        return;
    }
    if (visible && is_row_visible(row)) {
        check_scrolling();
        return;
    }
    int reference = row < first_visible_row ? first_visible_row : last_visible_row;
    reference = reference < 0 ? 0 : reference >= num_rows ? num_rows - 1 : reference;
    set_scroll_value(scroll_param, scroll_value(scroll_param) - (rows[row]->bottom - rows[reference]->bottom));
    if (visible && is_row_visible(row)) {
        check_scrolling();
        return;
    }
    // The row's bottom now sits where the reference row's did; one more row
    // height brings it wholly in, downwards for a row above the view.
    const long nudge = row < first_visible_row ? -rows[row]->height : rows[row]->height;
    set_scroll_value(scroll_param, scroll_value(scroll_param) - nudge);
    if (visible) {
        check_scrolling();
    }
}

void WM_GRID::give_child_object_focus(INT_S16 column, INT_S16 row)
{
    WM_SCREEN_OBJECT* object = get_object(column, row);
    if (!object || !object->can_have_focus()) {
        return;
    }
    INT_S16 focus_column = 0, focus_row = 0;
    int from = first_visible_row;
    if (visible && find_cell(focal_object, true, focus_column, focus_row)) {
        from = focus_row;
    }
    object->take_focus();
    if (visible && is_row_visible(row)) {
        return;
    }
    int reference = from == 0 && row >= 1 ? 1 : from;
    reference = reference < 0 ? 0 : reference >= num_rows ? num_rows - 1 : reference;
    set_scroll_value(scroll_param, scroll_value(scroll_param) - (rows[row]->bottom - rows[reference]->bottom));
}

INT_U8 WM_GRID::find_focal_child_object(INT_S16& column, INT_S16& row, INT_U8 any_row)
{
    return find_cell(focal_object, !any_row, column, row) ? 1 : 0;
}

WM_SCREEN_OBJECT* WM_GRID::find_next_object(char direction, INT_S16 column, INT_S16 row, INT_S16* out_column,
                                            INT_S16* out_row, INT_U8 need_focus)
{
    const bool across = direction == 0 || direction == 1;
    if ((!across && direction != 2 && direction != 3) || (across && (row < 0 || row >= num_rows))) {
        return nullptr;
    }
    const int step = direction == 0 || direction == 2 ? -1 : 1;
    const int end = across ? rows[row]->num_objects : num_rows;
    int k = (across ? column : row) + step;
    // A start outside the row or table walks from its nearer end.
    k = k < 0 && step > 0 ? 0 : k >= end && step < 0 ? end - 1 : k;
    int c = column, r = row;
    WM_SCREEN_OBJECT* found = nullptr;
    for (; k >= 0 && k < end && !found; k += step) {
        (across ? c : r) = k;
        WM_SCREEN_OBJECT* o = get_object(static_cast<INT_S16>(c), static_cast<INT_S16>(r));
        if (o && o->visible && (!need_focus || o->can_have_focus())) {
            found = o;
        }
    }
    if (out_column) {
        *out_column = static_cast<INT_S16>(c);
    }
    if (out_row) {
        *out_row = static_cast<INT_S16>(r);
    }
    return found;
}

INT_U8 WM_GRID::is_row_visible(INT_S16 row)
{
    if (!visible || row < 0 || row >= num_rows) {
        return 0;
    }
    const long top = screen_top(*this, row);
    const long header = is_top_row_fixed() ? rows[0]->height : 0;
    return top >= y + grid_style_set.border_top_gap + header &&
           top + rows[row]->height - 1 <= y + height - grid_style_set.border_bottom_gap - 1;
}

INT_U8 WM_GRID::get_row_y_pos(INT_S16 row, long& y1, long& y2)
{
    if (row < 0 || row >= num_rows) {
        return 0;
    }
    y1 = screen_top(*this, row);
    y2 = y1 + rows[row]->height - 1;
    return 1;
}

WM_MESG WM_GRID::monitor()
{
    if (!visible) {
        return WM_MESG_NONE;
    }
    current_grid = this;
    WM_MESG result = WM_SCREEN_OBJECT::monitor();
    if (scrollbar && is_in_it(MOUSE::x, MOUSE::y) && WM_SCROLLBAR::mouse_wheel_focus != scrollbar) {
        WM_SCROLLBAR::mouse_wheel_focus = scrollbar;
        MOUSE::wheel_pos = 0;
    }
    if (childrens_allowed_focus) {
        monitor_keys(*this);
    }
    if (!result && scrollbar) {
        result = scrollbar->monitor();
    }
    auto run = [](WM_SCREEN_OBJECT* o) { return o->monitor(); };
    if (!result && first_visible_row != 0 && is_top_row_fixed()) {
        result = walk_cells(*this, 0, 0, false, run);
    }
    if (!result) {
        // Objects whose middle lies on or below the view's bottom line are
        // left alone, unless nothing of their size could ever fit.
        const long bottom_line = y + height - grid_style_set.border_bottom_gap - 1, view = get_view_height();
        result = walk_cells(*this, first_visible_row, last_visible_row, false, [&](WM_SCREEN_OBJECT* o) {
            const bool below = o->get_y() + o->get_height() / 2 >= bottom_line && o->get_height() <= view;
            return o->visible && !below ? o->monitor() : 0;
        });
    }
    check_scrolling();
    current_grid = nullptr;
    return result;
}

WM_MESG WM_GRID::update(INT_U8 modal)
{
    if (!visible) {
        return WM_MESG_NONE;
    }
    current_grid = this;
    WM_MESG result = WM_SCREEN_OBJECT::update(modal);
    if (!result && scrollbar) {
        result = scrollbar->update(0);
    }
    auto run = [](WM_SCREEN_OBJECT* o) { return o->update(0); };
    if (!result && first_visible_row != 0 && is_top_row_fixed()) {
        result = walk_cells(*this, 0, 0, false, run);
    }
    if (!result) {
        result = walk_cells(*this, first_visible_row, last_visible_row, false, run);
    }
    check_scrolling();
    current_grid = nullptr;
    return result;
}

void WM_GRID::prepare_draw()
{
    if (is_in_update_regions()) {
        lay_out_if_stale();
    }
}

void WM_GRID::check_for_redraw()
{
    if (!is_update_region_valid() || !visible) {
        return;
    }
    if (is_in_redraw_area()) {
        draw_object();
        dirty = 0;
        drawn = 1;
    }
    auto redraw = [](WM_SCREEN_OBJECT* o) {
        o->check_for_redraw();
        return 0;
    };
    {
        WM_CLIP_SAVER clip(surface);
        const bool fixed = is_top_row_fixed() && num_rows > 0;
        if (fixed) {
            walk_cells(*this, 0, 0, false, redraw);
        }
        // Cells are clipped to the view below the header band.
        if (surface) {
            const WM_STYLE_SET& s = grid_style_set;
            const long header = fixed ? rows[0]->height + s.y_spacing : 0;
            surface->add_rect_to_active_area(to_s16(x + s.border_left_gap), to_s16(y + s.border_top_gap + header),
                                             to_s16(x + width - s.border_right_gap - 1),
                                             to_s16(y + height - s.border_bottom_gap - 1));
        }
        walk_cells(*this, first_visible_row, last_visible_row, fixed, redraw);
    }
    if (scrollbar) {
        scrollbar->check_for_redraw();
    }
    // Modal children are drawn by the modal pass, on top.
    for (LISTNODE* n = objects.head; n;) {
        LISTNODE* next = n->next;
        auto* child = static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(n));
        if (child && !child->is_modal_object()) {
            child->check_for_redraw();
        }
        n = next;
    }
}

WM_SCREEN_OBJECT* WM_GRID::find_object_at_pos(INT_S16 px, INT_S16 py)
{
    if (!visible || !is_in_it(px, py)) {
        return nullptr;
    }
    // The last answer wins.
    WM_SCREEN_OBJECT* found = this;
    auto ask = [&](WM_SCREEN_OBJECT* o) {
        if (WM_SCREEN_OBJECT* hit = o->find_object_at_pos(px, py)) {
            found = hit;
        }
        return 0;
    };
    if (scrollbar) {
        ask(scrollbar);
    }
    walk_cells(*this, first_visible_row, last_visible_row, false, ask);
    if (first_visible_row != 0 && is_top_row_fixed()) {
        walk_cells(*this, 0, 0, false, ask);
    }
    return found;
}

void WM_GRID::resize(INT_S16 nw, INT_S16 nh, INT_U8 children)
{
    if (nw == width && nh == height) {
        return;
    }
    WM_SCREEN_OBJECT::resize(nw, nh, children);
    // The next layout makes it again at the new place.
    delete scrollbar;
    scrollbar = nullptr;
    layout_stale = true;
    const WM_STYLE_SET& s = grid_style_set;
    const long view = get_view_height();
    if (visible_lines != 0) {
        const long pitch = (view + s.y_spacing) / visible_lines - s.y_spacing;
        default_row_height = to_s16(pitch < 1 ? 1 : pitch);
    }
    if (num_rows < 1) {
        return;
    }
    // New heights go in before the scroll range is taken from the content,
    // so that the range fits the rows as they now are.
    if (visible_lines != 0) {
        const long least = static_cast<long>(s.cell_top_gap) + s.cell_bottom_gap + 2;
        long bottom = 0;
        for (int k = 0; k < num_rows; ++k) {
            WM_GRID_ROW* row = rows[k];
            row->height = to_s16(default_row_height < least ? least : default_row_height);
            row->inner_top = s.cell_top_gap;
            row->inner_bottom = to_s16(static_cast<long>(row->height) - s.cell_bottom_gap - s.cell_top_gap - 1);
            bottom += row->height + s.y_spacing;
            row->bottom = static_cast<INT_S32>(bottom);
        }
    }
    const long content = get_content_height();
    const long max = content > view ? content - view : 0;
    if (max != scroll_param.get_long(scroll_param.max)) {
        scroll_param.set(scroll_param.max, max);
        redraw_if_visible();
    }
    last_scroll_value = last_scroll_max = -1;
    check_scrolling();
    const long first_top = get_row_top(first_visible_row);
    const long above = content > view ? first_top - get_scroll_offset() : 0;
    last_visible_row = -1;
    bool in_view = true;
    for (int k = 0; k < num_rows; ++k) {
        rows[k]->calc_ratios(width, grid_style_set);
        // Tops only grow: once a row starts below the view, all later ones do.
        in_view = in_view && get_row_top(static_cast<INT_S16>(k)) - first_top + above <= view;
        if (in_view) {
            last_visible_row = static_cast<INT_S16>(k);
        }
    }
}
