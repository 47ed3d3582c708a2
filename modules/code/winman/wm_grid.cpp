// The grid's layout: rows and their column edges, cells made on demand,
// the ratio text parser, sizing helpers, skins and ready-made cell widgets.
#include "wm_grid.h"

#include "wm_button.h"
#include "wm_image.h"
#include "wm_s16.h"
#include "wm_script.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Cells own their objects, but one kept alive elsewhere (no_delete) is
// only hidden and let go, as the base tree does.
void discard(WM_SCREEN_OBJECT* object)
{
    object->hide(0, 0);
    if (!object->no_delete) {
        delete object;
    }
}

// An unset (-1) border gap: one pixel, plus the ring width of the set's
// shading when it draws a border.
INT_S16 border_gap(WM_SCREEN_OBJECT& self, WM_STYLE_SET& set, INT_S16 gap)
{
    if (gap != -1) {
        return gap;
    }
    return static_cast<INT_S16>(1 + ((set.ssf & SSF_DRAW_BORDER) ? self.get_shading_type_size(set.shading_type) : 0));
}

INT_S16 set_or_zero(INT_S16 v)
{
    return v == -1 ? 0 : v;
}

// Smallest row that still has a one-pixel cell interior.
INT_S16 min_row_height(WM_STYLE_SET& set)
{
    return to_s16(static_cast<int>(set.cell_top_gap) + set.cell_bottom_gap + 2);
}

} // namespace

// ---- rows -------------------------------------------------------------------

WM_GRID_ROW::~WM_GRID_ROW()
{
    clear();
}

void WM_GRID_ROW::clear()
{
    highlighted = 0;
    for (WM_SCREEN_OBJECT* object : objects) {
        if (object) {
            discard(object);
        }
    }
    objects.clear();
    num_objects = 0;
    for (std::vector<INT_S16>* column : {&x1, &x1_sb, &x2, &x2_sb, &ratios}) {
        column->clear();
    }
}

void WM_GRID_ROW::set_layout(INT_S16 width, INT_S16 columns, const INT_S16* new_ratios, WM_STYLE_SET& set)
{
    columns = std::max<INT_S16>(columns, 0);
    if (num_objects != columns) {
        clear();
        num_objects = columns;
    }
    for (std::vector<INT_S16>* column : {&x1, &x1_sb, &x2, &x2_sb}) {
        column->resize(static_cast<std::size_t>(num_objects));
    }
    objects.resize(static_cast<std::size_t>(num_objects), nullptr);
    ratios.assign(static_cast<std::size_t>(num_objects), 1);
    if (new_ratios) {
        std::copy(new_ratios, new_ratios + num_objects, ratios.begin());
    }
    calc_ratios(width, set);
}

// Sums are 16-bit as the layout has always kept them; products 32-bit.
void WM_GRID_ROW::calc_ratios(INT_S16 width, WM_STYLE_SET& set)
{
    const int n = num_objects;
    if (n <= 0 || static_cast<int>(ratios.size()) != n || static_cast<int>(x1.size()) != n) {
        return;
    }
    const int gap = set.cell_left_gap + set.cell_right_gap + set.x_spacing;
    auto fixed_width = [gap](INT_S16 r) { return gap - static_cast<int>(r); };
    INT_S16 weights = 0, fixed = 0;
    for (INT_S16 r : ratios) {
        if (r >= 0) {
            weights = static_cast<INT_S16>(weights + r);
        } else {
            fixed = static_cast<INT_S16>(fixed + fixed_width(r));
        }
    }
    const INT_S16 avail = static_cast<INT_S16>(width - set.border_left_gap - set.border_right_gap);
    const int share = static_cast<INT_S16>(avail - fixed);
    const int share_sb = static_cast<INT_S16>(avail - fixed - set.grid_scrollbar_width);
    const int lead = set.x_spacing / 2 + set.border_left_gap + set.cell_left_gap;
    INT_S16 weights_before = 0, fixed_before = 0;
    for (int i = 0; i < n; ++i) {
        const int w = weights_before;
        x1[i] = static_cast<INT_S16>((weights ? w * share / weights : 0) + lead + fixed_before);
        x1_sb[i] = static_cast<INT_S16>((weights ? w * share_sb / weights : 0) + lead + fixed_before);
        if (i > 0) {
            x2[i - 1] = static_cast<INT_S16>(x1[i] - gap - 1);
            x2_sb[i - 1] = static_cast<INT_S16>(x1_sb[i] - gap - 1);
        }
        if (ratios[i] >= 0) {
            weights_before = static_cast<INT_S16>(weights_before + ratios[i]);
        } else {
            fixed_before = static_cast<INT_S16>(fixed_before + fixed_width(ratios[i]));
        }
    }
    x2[n - 1] = static_cast<INT_S16>(width - set.border_right_gap - set.cell_right_gap - 1);
    x2_sb[n - 1] = static_cast<INT_S16>(x2[n - 1] - set.grid_scrollbar_width - 1);
}

void WM_GRID_ROW::set_height(INT_S16 pitch, WM_STYLE_SET& set)
{
    const INT_S16 old = height;
    height = std::max(to_s16(static_cast<int>(pitch) - set.y_spacing), min_row_height(set));
    inner_top = set.cell_top_gap;
    inner_bottom = to_s16(static_cast<int>(height) - set.cell_bottom_gap - set.cell_top_gap - 1);
    bottom += height - old;
}

void WM_GRID_ROW::get_coords(INT_S16 column, INT_U8 with_scrollbar, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2,
                             INT_S16& cy2)
{
    if (column < 0 || column >= num_objects || static_cast<int>(x1.size()) != num_objects) {
        cx1 = cy1 = cx2 = cy2 = 0;
        return;
    }
    cx1 = with_scrollbar ? x1_sb[column] : x1[column];
    cx2 = with_scrollbar ? x2_sb[column] : x2[column];
    if (column == num_objects - 1) {
        cx2 = to_s16(static_cast<int>(cx2) + last_column_extra);
    }
    cy1 = inner_top;
    cy2 = inner_bottom;
}

INT_U8 WM_GRID_ROW::set_object(INT_S16 column, WM_SCREEN_OBJECT* object, INT_U8 destroy)
{
    if (column < 0 || column >= num_objects) {
        return 0;
    }
    WM_SCREEN_OBJECT*& slot = objects[column];
    if (slot && slot != object) {
        if (destroy) {
            discard(slot);
        } else {
            slot->hide(0, 0);
        }
    }
    slot = object;
    return 1;
}

// ---- construction -------------------------------------------------------------

WM_GRID::WM_GRID(INT_U8 visible, WM_OBJECT_CALLBACK callback, void* data1, void* data2)
    : WM_SCREEN_OBJECT(visible, callback, data1, data2), num_rows(0), first_visible_row(0), last_visible_row(-1),
      max_rows(1024), num_columns(0), default_row_height(0), visible_lines(0), two_tone_value(20),
      childrens_allowed_focus(0), scrollbar(nullptr), last_scroll_value(0), last_scroll_max(0), line_step(0),
      page_step(0)
{
    for (IMAGE_BOX* box : {&images, &highlighted_images, &alternate_images}) {
        box->cache = &image_cache;
    }
    scroll_param.reset_to_type(4);
}

WM_GRID::~WM_GRID()
{
    if (current_grid == this) {
        current_grid = nullptr;
    }
    clear(0);
    clear_images();
}

void WM_GRID::setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 columns, const INT_S16* new_ratios,
                    WM_STYLE_SET& grid_style, WM_STYLE_SET& scrollbar_style)
{
    max_rows = 1024;
    clear(0);
    grid_style_set = grid_style;
    WM_STYLE_SET& g = grid_style_set;
    if (surface) {
        if (g.font_id == -1) {
            g.font_id = surface->font_slot;
        }
        if (g.font_x_sz == -1) {
            g.font_x_sz = surface->font_width;
        }
        if (g.font_y_sz == -1) {
            g.font_y_sz = surface->font_height;
        }
    }
    for (INT_S16* gap : {&g.border_left_gap, &g.border_right_gap, &g.border_top_gap, &g.border_bottom_gap}) {
        *gap = border_gap(*this, g, *gap);
    }
    for (INT_S16* gap : {&g.cell_left_gap, &g.cell_right_gap, &g.cell_top_gap, &g.cell_bottom_gap}) {
        *gap = set_or_zero(*gap);
    }
    x = x1;
    y = y1;
    width = to_s16(static_cast<int>(x2) - x1 + 1);
    height = to_s16(static_cast<int>(y2) - y1 + 1);
    scrollbar_style_set = scrollbar_style;
    two_tone_value = g.grid_two_tone_value;
    childrens_allowed_focus = 0;
    line_step = page_step = 0;
    if (width <= 1 || height <= 1) {
        width = height = 6;
    }
    if (columns > 0) {
        set_current_layout(columns, new_ratios);
    }
    set_images(g.image_path, g.image_filename, &g);
    type |= WM_TYPE_GRID;
    shading_type = g.shading_type;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

// ---- cells ----------------------------------------------------------------------

void WM_GRID::make_template_row(WM_GRID_ROW& row)
{
    row.height = std::max(default_row_height, min_row_height(grid_style_set));
    row.inner_top = grid_style_set.cell_top_gap;
    row.inner_bottom =
        to_s16(static_cast<int>(row.height) - grid_style_set.cell_bottom_gap - grid_style_set.cell_top_gap - 1);
    row.set_layout(width, num_columns, ratios.empty() ? nullptr : ratios.data(), grid_style_set);
}

void WM_GRID::place_in_cell(WM_SCREEN_OBJECT* object, INT_S16 column, INT_S16 row)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_cell_coords(column, row, cx1, cy1, cx2, cy2);
    object->resize(to_s16(static_cast<int>(cx2) - cx1 + 1), to_s16(static_cast<int>(cy2) - cy1 + 1), 1);
    object->move(cx1, cy1);
}

void WM_GRID::fit_scrollbar_slider()
{
    const long long content = std::max<INT_S32>(get_content_height(), 1);
    const long long length = scrollbar->get_max_travel() * static_cast<long long>(get_view_height()) / content;
    scrollbar->slider_sz = to_s16(std::max<long long>(length, scrollbar_style_set.scrollbar_slider_width));
    scrollbar->set_travel();
    scrollbar->redraw_if_visible();
}

WM_SCREEN_OBJECT* WM_GRID::add_object(INT_S16 column, INT_S16 row, WM_SCREEN_OBJECT* object)
{
    // Row indices are 16-bit, so the table stops at 32,767 rows.
    if (!object || row < 0 || row == SHRT_MAX || (max_rows != -1 && row >= max_rows)) {
        return nullptr;
    }
    // Rows are made even when the column is refused.
    layout_stale = true;
    const INT_S32 view = get_view_height();
    const INT_S32 spacing = grid_style_set.y_spacing;
    const bool was_taller = get_content_height() > view;
    if (row >= num_rows) {
        if (last_visible_row == -1) {
            last_visible_row = 0;
        }
        const INT_S32 old_content = num_rows ? rows[num_rows - 1]->bottom : 0;
        for (INT_S16 k = num_rows; k <= row; ++k) {
            WM_GRID_ROW* made = new WM_GRID_ROW;
            make_template_row(*made);
            made->bottom = (k ? rows[k - 1]->bottom : 0) + made->height + spacing;
            rows.push_back(made);
            if (static_cast<INT_S32>(made->bottom - made->height) -
                    (rows[first_visible_row]->bottom - rows[first_visible_row]->height) <=
                view) {
                last_visible_row = k;
            }
        }
        num_rows = static_cast<INT_S16>(row + 1);
        // The maximum and the value grow together: the view stays put.
        const long value = scroll_param.get_long(scroll_param.value);
        scroll_param.set(scroll_param.max, static_cast<long>(std::max<INT_S32>(0, get_content_height() - view)));
        scroll_param.set(scroll_param.value, value + (rows[num_rows - 1]->bottom - old_content));
    }
    // Spare height is spread only while the rows fit; once they do not,
    // the rows above move back to their plain places.
    if (!was_taller && get_content_height() > view) {
        for (INT_S16 r = 0; r < row; ++r) {
            for (INT_S16 c = 0; c < rows[r]->num_objects; ++c) {
                if (WM_SCREEN_OBJECT* other = rows[r]->objects[c]) {
                    place_in_cell(other, c, r);
                }
            }
        }
    }
    object->set_area(area);
    redraw_if_visible();
    place_in_cell(object, column, row);
    if (scrollbar) {
        fit_scrollbar_slider();
    }
    WM_GRID_ROW* target = rows[row];
    if (column < 0 || column >= target->num_objects) {
        return nullptr;
    }
    if (WM_SCREEN_OBJECT* old = target->objects[column]; old && old != object) {
        cell_index.erase(old);
    }
    INT_S16 at_row, at_column;
    if (find_cell(object, false, at_column, at_row) && (at_row != row || at_column != column)) {
        cells_shared = true;
    }
    target->set_object(column, object, 1);
    cell_index[object] = {row, column};
    return object;
}

void WM_GRID::add_object(WM_SCREEN_OBJECT* object, INT_U8 relative)
{
    WM_SCREEN_OBJECT::add_object(object, relative);
}

void WM_GRID::remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative)
{
    if (!object) {
        return;
    }
    INT_S16 row, column;
    if (!get_object_cell(object, row, column, 1)) {
        WM_SCREEN_OBJECT::remove_object(object, destroy, relative);
        return;
    }
    rows[row]->objects[column] = nullptr;
    cell_index.erase(object);
    layout_stale = true;
    if (destroy) {
        discard(object);
    } else {
        object->hide(0, 0);
    }
}

WM_SCREEN_OBJECT* WM_GRID::get_object(INT_S16 column, INT_S16 row)
{
    if (row < 0 || row >= num_rows || column < 0 || column >= rows[row]->num_objects) {
        return nullptr;
    }
    return rows[row]->objects[column];
}

INT_U8 WM_GRID::get_object_cell(WM_SCREEN_OBJECT* object, INT_S16& row, INT_S16& column, INT_U8 forward)
{
    if (cells_shared) {
        return walk_for_cell(object, forward != 0, row, column) ? 1 : 0;
    }
    return find_cell(object, false, column, row) ? 1 : 0;
}

bool WM_GRID::walk_for_cell(WM_SCREEN_OBJECT* object, bool forward, INT_S16& row, INT_S16& column)
{
    for (int i = 0; i < num_rows; ++i) {
        const INT_S16 r = static_cast<INT_S16>(forward ? i : num_rows - 1 - i);
        for (INT_S16 c = 0; c < rows[r]->num_objects; ++c) {
            if (rows[r]->objects[c] == object) {
                row = r;
                column = c;
                return true;
            }
        }
    }
    return false;
}

void WM_GRID::unindex_row(WM_GRID_ROW& row)
{
    for (WM_SCREEN_OBJECT* object : row.objects) {
        if (object) {
            cell_index.erase(object);
        }
    }
}

void WM_GRID::set_current_layout(INT_S16 columns, const INT_S16* new_ratios)
{
    if (columns <= 0) {
        return;
    }
    if (new_ratios) {
        ratios.assign(new_ratios, new_ratios + columns);
    } else {
        ratios.assign(static_cast<std::size_t>(columns), 1);
    }
    num_columns = columns;
}

void WM_GRID::clear(INT_U8 keep_layout)
{
    for (WM_GRID_ROW* row : rows) {
        delete row;
    }
    rows.clear();
    cell_index.clear();
    cells_shared = false;
    delete scrollbar;
    scrollbar = nullptr;
    if (!keep_layout) {
        ratios.clear();
        num_columns = default_row_height = visible_lines = 0;
    }
    num_rows = 0;
    first_visible_row = 0;
    last_visible_row = -1;
    scroll_param.set(scroll_param.value, 0L);
    scroll_param.set(scroll_param.max, 0L);
    last_scroll_value = last_scroll_max = 0;
    layout_stale = true;
    redraw_if_visible();
}

void WM_GRID::clear_rows(INT_S16 first, INT_S16 last)
{
    for (int r = std::max<int>(first, 0); r <= last && r < num_rows; ++r) {
        unindex_row(*rows[r]);
        rows[r]->clear();
        rows[r]->set_layout(width, num_columns, ratios.empty() ? nullptr : ratios.data(), grid_style_set);
    }
    layout_stale = true;
    redraw_if_visible();
}

void WM_GRID::delete_rows(INT_S16 first, INT_S16 last)
{
    if (first < 0 || first > last || last >= num_rows) {
        return;
    }
    std::vector<WM_GRID_ROW*> old;
    old.swap(rows);
    num_rows = 0;
    clear(1);
    const INT_S16 saved_height = default_row_height;
    INT_S16 next = 0;
    for (std::size_t i = 0; i < old.size(); ++i) {
        WM_GRID_ROW* row = old[i];
        if (static_cast<INT_S16>(i) < first || static_cast<INT_S16>(i) > last) {
            set_current_layout(row->num_objects, row->ratios.data());
            default_row_height = row->height;
            for (INT_S16 c = 0; c < row->num_objects; ++c) {
                WM_SCREEN_OBJECT* object = row->objects[c];
                row->objects[c] = nullptr;
                if (object && !add_object(c, next, object)) {
                    discard(object);
                }
            }
            ++next;
        }
        delete row;
    }
    default_row_height = saved_height;
    redraw_if_visible();
}

// The rectangle the next layout gives the cell, but for the y_spacing that
// the fitting below counts in the rows shown.
INT_U8 WM_GRID::get_cell_coords(INT_S16 column, INT_S16 row, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2, INT_S16& cy2)
{
    WM_GRID_ROW blank;
    make_template_row(blank);
    const INT_S32 spacing = grid_style_set.y_spacing;
    const INT_S32 pitch = std::max<INT_S32>(1, blank.height + spacing);
    const INT_S32 view = get_view_height();
    const bool any_visible = last_visible_row != -1 && last_visible_row < num_rows;
    WM_GRID_ROW* first = any_visible ? rows[first_visible_row] : nullptr;
    WM_GRID_ROW* last = any_visible ? rows[last_visible_row] : nullptr;
    const INT_S32 used = any_visible ? last->bottom - first->bottom + first->height + spacing : 0;
    const INT_S32 fit = std::max<INT_S32>(0, (view - used) / pitch);
    const INT_S32 slots = (!any_visible && fit == 0) ? 1 : fit;
    const INT_S32 count = std::max<INT_S32>(1, last_visible_row + 1 + fit);
    const INT_S32 spare = get_content_height() > view
                              ? 0
                              : std::max<INT_S32>(0, view - (blank.height * slots + (slots - 1) * spacing + used));
    INT_S32 top;
    INT_U8 in_view;
    WM_GRID_ROW* source;
    if (row < 0 || row >= num_rows) {
        const INT_S32 beyond = static_cast<INT_S32>(row) - (last_visible_row + 1);
        top = (any_visible ? last->bottom : 0) + beyond * pitch;
        in_view = beyond < slots ? 1 : 0;
        source = &blank;
    } else {
        source = rows[row];
        top = (source->bottom - source->height) - (first ? first->bottom - first->height : 0);
        in_view = row >= first_visible_row && row <= last_visible_row ? 1 : 0;
    }
    const INT_S32 k = static_cast<INT_S32>(row) - first_visible_row;
    INT_S32 extra = 0;
    if (spare > 0 && k >= 0) {
        top += (spare / count) * k + std::min(spare % count, k);
        extra = spare / count + (k < spare % count ? 1 : 0);
    }
    INT_S16 rx1, ry1, rx2, ry2;
    source->get_coords(column, scrollbar ? 1 : 0, rx1, ry1, rx2, ry2);
    const INT_S32 base_y = static_cast<INT_S32>(y) + grid_style_set.border_top_gap + top;
    cx1 = to_s16(static_cast<long long>(x) + rx1);
    cx2 = to_s16(static_cast<long long>(x) + rx2);
    cy1 = to_s16(static_cast<long long>(base_y) + ry1);
    cy2 = to_s16(static_cast<long long>(base_y) + ry2 + extra);
    return in_view;
}

// ---- sizing ------------------------------------------------------------------------

INT_S16 WM_GRID::calc_min_row_height(WM_STYLE_SET& grid_style, WM_STYLE_SET* cell_style)
{
    WM_STYLE_SET& s = cell_style ? *cell_style : grid_style;
    const INT_S16 ring = get_shading_type_size(s.shading_type);
    const INT_S16 font_h = s.font_y_sz != -1 ? s.font_y_sz : (surface ? surface->font_height : 0);
    return to_s16(static_cast<int>(s.border_top_gap != -1 ? s.border_top_gap : ring) +
                  (s.border_bottom_gap != -1 ? s.border_bottom_gap : ring) + font_h +
                  set_or_zero(grid_style.cell_top_gap) + set_or_zero(grid_style.cell_bottom_gap) +
                  set_or_zero(grid_style.y_spacing));
}

void WM_GRID::set_row_pitch(INT_S16 lines, int pitch)
{
    const INT_S16 height = std::max<INT_S16>(1, to_s16(static_cast<long long>(pitch) - grid_style_set.y_spacing));
    if (lines == visible_lines && height == default_row_height) {
        return;
    }
    visible_lines = lines;
    default_row_height = height;
    // The empty slots below the last row take the new pitch.
    redraw_if_visible();
}

INT_S16 WM_GRID::calc_row_height_from_visible_lines(INT_S16 lines)
{
    if (lines == 0) {
        return 0;
    }
    return to_s16((get_view_height() + grid_style_set.y_spacing) / lines);
}

INT_S16 WM_GRID::calc_x_border_gap_from_style_set(WM_STYLE_SET& style)
{
    return to_s16(static_cast<int>(border_gap(*this, style, style.border_left_gap)) +
                  border_gap(*this, style, style.border_right_gap));
}

INT_S16 WM_GRID::calc_y_border_gap_from_style_set(WM_STYLE_SET& style)
{
    return to_s16(static_cast<int>(border_gap(*this, style, style.border_top_gap)) +
                  border_gap(*this, style, style.border_bottom_gap));
}

INT_S16 WM_GRID::calc_x_cell_gap_from_style_set(WM_STYLE_SET& style)
{
    return to_s16(static_cast<int>(set_or_zero(style.cell_left_gap)) + set_or_zero(style.cell_right_gap));
}

INT_S16 WM_GRID::calc_y_cell_gap_from_style_set(WM_STYLE_SET& style)
{
    return to_s16(static_cast<int>(set_or_zero(style.cell_top_gap)) + set_or_zero(style.cell_bottom_gap));
}

// Readers keep the pointer only until their next call; the fixed buffers
// bound what a text may hold, and a text beyond them is refused whole.
void WM_GRID::get_ratios_from_csv_string(const char* text, INT_S16*& out, INT_S16& count)
{
    static INT_S16 parsed[112];
    constexpr std::size_t max_fields = sizeof parsed / sizeof parsed[0];
    constexpr std::size_t max_field_length = 111;
    out = nullptr;
    count = 0;
    if (!text || !*text) {
        return;
    }
    std::size_t n = 0;
    for (const char* field = text;; ++n) {
        const char* comma = std::strchr(field, ',');
        const std::size_t length = comma ? static_cast<std::size_t>(comma - field) : std::strlen(field);
        if (n == max_fields || length > max_field_length) {
            return;
        }
        char buffer[max_field_length + 1];
        std::memcpy(buffer, field, length);
        buffer[length] = '\0';
        char* end = nullptr;
        errno = 0;
        const long v = std::strtol(buffer, &end, 10);
        // As "%hd" reads it: leading blanks and a sign, then digits, the
        // rest ignored. No digits, out of range or 0 refuses the list.
        if (end == buffer || errno == ERANGE || v == 0 || v < SHRT_MIN || v > SHRT_MAX) {
            return;
        }
        parsed[n] = static_cast<INT_S16>(v);
        if (!comma) {
            break;
        }
        field = comma + 1;
    }
    out = parsed;
    count = static_cast<INT_S16>(n + 1);
}

// ---- skins -----------------------------------------------------------------------

INT_U8 WM_GRID::set_images(const char* folder_path, const char* name, WM_STYLE_SET* set)
{
    // Runtime cache slots of the base, "_highlighted" and "_alternate" skins.
    constexpr int slots[] = {0, 9, 10};
    IMAGE_BOX* boxes[] = {&images, &highlighted_images, &alternate_images};
    if (set && set->get_image_cache_loaded()) {
        for (int i = 0; i < 3; ++i) {
            if (IMAGE_BOX* from = set->runtime_cache[slots[i]]) {
                *boxes[i] = *from;
            } else {
                boxes[i]->clear_images();
            }
        }
        return is_graphical();
    }
    if (!name) {
        clear_images();
        return 0;
    }
    const char* suffixes[] = {"", "_highlighted", "_alternate"};
    for (int i = 0; i < 3; ++i) {
        char skin[2048];
        const int n = std::snprintf(skin, sizeof skin, "%s%s", name, suffixes[i]);
        boxes[i]->clear_images();
        // A name that does not fit names no file of ours.
        if (n >= 0 && static_cast<std::size_t>(n) < sizeof skin) {
            boxes[i]->load_images(folder_path, skin, 0);
        }
    }
    return is_graphical();
}

void WM_GRID::clear_images()
{
    for (IMAGE_BOX* box : {&images, &highlighted_images, &alternate_images}) {
        box->clear_images();
    }
}

INT_U8 WM_GRID::is_graphical()
{
    return images.are_images_valid() ? 1 : 0;
}

// ---- ready-made cells --------------------------------------------------------------

void WM_GRID::get_relative_cell(INT_S16 column, INT_S16 row, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2, INT_S16& cy2)
{
    WM_GRID_ROW blank;
    WM_GRID_ROW* source = &blank;
    if (row >= 0 && row < num_rows) {
        source = rows[row];
    } else {
        make_template_row(blank);
    }
    source->get_coords(column, scrollbar ? 1 : 0, cx1, cy1, cx2, cy2);
    cx1 = to_s16(static_cast<int>(cx1) + x);
    cx2 = to_s16(static_cast<int>(cx2) + x);
    cy1 = to_s16(static_cast<int>(cy1) + y);
    cy2 = to_s16(static_cast<int>(cy2) + y);
}

WM_BUTTON* WM_GRID::add_button(INT_S16 column, INT_S16 row, const char* caption, WM_STYLE_SET& style,
                               WM_OBJECT_CALLBACK cb, void* data1, void* data2, INT_U8 trigger_flags)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    return adopt(column, row,
                 new WM_BUTTON(cx1, cy1, cx2, cy2, style, caption, nullptr, cb, data1, data2, trigger_flags));
}

WM_BUTTON* WM_GRID::add_button(INT_S16 column, INT_S16 row, const char* caption, COLOUR colour1, COLOUR colour2,
                               unsigned long hotkey, WM_OBJECT_CALLBACK cb, void* data1, void* data2,
                               INT_U8 trigger_flags)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    // The colour constructor's draw-flags slot is no hotkey: the key goes
    // through set_hotkey and the flags stay 0.
    WM_BUTTON* button =
        new WM_BUTTON(cx1, cy1, cx2, cy2, colour2, colour1, caption, static_cast<char>(grid_style_set.font_id),
                      grid_style_set.font_x_sz, grid_style_set.font_y_sz, 0, 0, 0, cb, data1, data2, 1, 3);
    button->set_hotkey(hotkey);
    button->redraw_if_visible();
    button->highlight_colour = COLOUR_INVISIBLE;
    button->set_trigger_flags(trigger_flags);
    return adopt(column, row, button);
}

WM_SCRIPT* WM_GRID::add_script(INT_S16 column, INT_S16 row, const char* text, WM_STYLE_SET& style)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    return adopt(column, row, new WM_SCRIPT(cx1, cy1, cx2, cy2, style, text));
}

WM_SCRIPT* WM_GRID::add_script(INT_S16 column, INT_S16 row, const char* text, COLOUR foreground, COLOUR background,
                               unsigned long flags)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    return adopt(column, row,
                 new WM_SCRIPT(cx1, cy1, cx2, cy2, text, static_cast<char>(grid_style_set.font_id),
                               grid_style_set.font_x_sz, grid_style_set.font_y_sz, foreground, background, 1,
                               static_cast<INT_U32>(flags)));
}

WM_IMAGE* WM_GRID::add_image(INT_S16 column, INT_S16 row, FOLDER& folder, const char* file_name, WM_OBJECT_CALLBACK cb,
                             void* data1, void* data2)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    const INT_S16 w = to_s16(static_cast<int>(cx2) - cx1 + 1), h = to_s16(static_cast<int>(cy2) - cy1 + 1);
    WM_IMAGE* image = new WM_IMAGE(cx1, cy1, w, h, 1, cb, data1, data2, 3);
    image->load_picture(folder, file_name);
    return adopt(column, row, image);
}

// ---- base operations ----------------------------------------------------------------

void WM_GRID::move(INT_S16 nx, INT_S16 ny)
{
    if (nx == x && ny == y) {
        return;
    }
    const int dx = nx - x, dy = ny - y;
    for (WM_GRID_ROW* row : rows) {
        for (WM_SCREEN_OBJECT* object : row->objects) {
            if (object) {
                object->move(to_s16(object->get_x() + dx), to_s16(object->get_y() + dy));
            }
        }
    }
    WM_SCREEN_OBJECT::move(nx, ny);
}

void WM_GRID::set_area(INT_S16 new_area)
{
    WM_SCREEN_OBJECT::set_area(new_area);
    if (scrollbar) {
        scrollbar->set_area(new_area);
    }
    for (WM_GRID_ROW* row : rows) {
        for (WM_SCREEN_OBJECT* object : row->objects) {
            if (object) {
                object->set_area(new_area);
            }
        }
    }
}

INT_U8 WM_GRID::can_have_focus()
{
    return 0;
}
