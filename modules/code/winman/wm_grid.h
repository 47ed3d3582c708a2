#ifndef KIVO_WM_GRID_H
#define KIVO_WM_GRID_H

// WM_GRID: the table widget. Child widgets sit in rows of cells whose
// column widths come from a list of ratios; rows are made on demand, drawn
// with row or cell backgrounds, and scrolled vertically through a scroll
// bar the grid makes when the rows are taller than its view. Rows and
// cells live in wm_grid.cpp, scrolling, focus and the frame passes in
// wm_grid_scroll.cpp, the scroll bar and the places of the cell objects in
// wm_grid_layout.cpp, drawing in wm_grid_draw.cpp.
//
// Cell objects are not in `objects` and have no parent: the grid alone
// deletes them (replace, remove with delete, row clear, clear, the
// destructor), hiding and dropping a no_delete one instead. Anything else
// takes a cell object out with remove_object first.
#include "folder.h"
#include "image_box.h"
#include "kivo_types.h"
#include "param.h"
#include "wm_names.h" // the grid bits of WM_STYLE_SET::ssef, SSEF_GRID_*
#include "wm_screen_object.h"
#include "wm_scrollbar.h"
#include "wm_style_set.h"

#include <unordered_map>
#include <vector>

class WM_BUTTON;
class WM_IMAGE;
class WM_SCRIPT;

// One row of cells. Column edges are relative to the grid's left edge;
// the row's top in content coordinates is bottom - height - y_spacing.
class WM_GRID_ROW
{
public:
    INT_U8 highlighted = 0;                 // drawn highlighted; set by users
    std::vector<WM_SCREEN_OBJECT*> objects; // one slot per column, owned; null = empty cell
    INT_S16 num_objects = 0;                // slots (= columns of this row)
    INT_S16 height = 0;                     // pixels, y_spacing not included
    INT_S16 inner_top = 0;                  // cell interior's top from the row's top (cell_top_gap)
    INT_S16 inner_bottom = 0;               // cell interior's bottom from the row's top (inclusive)
    // Sum of height + y_spacing over this row and every row above it.
    INT_S32 bottom = 0;
    // Per column: interior's left and right (inclusive) edge, without and
    // with the scroll bar shown.
    std::vector<INT_S16> x1, x1_sb, x2, x2_sb;
    std::vector<INT_S16> ratios;   // >= 0 a weight; < 0 a fixed interior of -r pixels
    INT_S16 last_column_extra = 0; // added to the last column's right edge (row 0 over the bar's column)

    WM_GRID_ROW() = default;
    // Deletes the row's objects (see clear).
    ~WM_GRID_ROW();
    WM_GRID_ROW(const WM_GRID_ROW&) = delete;
    WM_GRID_ROW& operator=(const WM_GRID_ROW&) = delete;

    // No slots and no columns; objects deleted (no_delete ones hidden and
    // dropped). height, bottom and last_column_extra stay.
    void clear();
    // That many cells with a copy of the ratios (null: all 1), column edges
    // for a grid `width` pixels wide. A changed column count clears the row first.
    void set_layout(INT_S16 width, INT_S16 columns, const INT_S16* ratios, WM_STYLE_SET& set);
    // The column edges from the ratios.
    void calc_ratios(INT_S16 width, WM_STYLE_SET& set);
    // height from a pitch that includes y_spacing; moves this row's bottom
    // by the change (the caller fixes the rows below).
    void set_height(INT_S16 pitch, WM_STYLE_SET& set);
    // The cell's interior relative to the grid's left edge and the row's
    // top; all 0 for a column outside the row.
    void get_coords(INT_S16 column, INT_U8 with_scrollbar, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2, INT_S16& cy2);
    // 0 when the column is outside; else the old object is hidden (and
    // deleted when `destroy`), the new one stored, 1.
    INT_U8 set_object(INT_S16 column, WM_SCREEN_OBJECT* object, INT_U8 destroy);
};

class WM_GRID : public WM_SCREEN_OBJECT
{
public:
    // ---- data (declaration order) -------------------------------------------
    std::vector<WM_GRID_ROW*> rows; // owned; num_rows entries
    INT_S16 num_rows;               // at most 32,767
    INT_S16 first_visible_row;      // first row at least partly in view
    INT_S16 last_visible_row;       // last row starting in view; -1 none
    INT_S32 max_rows;               // 1024 after setup; -1 no limit
    std::vector<INT_S16> ratios;    // the current layout, given to every new row
    INT_S16 num_columns;
    INT_S16 default_row_height;       // new rows and the empty slots below the last row
    INT_S16 visible_lines;            // 0 off; else resize derives default_row_height from it
    WM_STYLE_SET grid_style_set;      // unset gaps and font filled by setup
    WM_STYLE_SET scrollbar_style_set; // the look of the bar the grid makes
    INT_S16 two_tone_value;           // percent
    IMAGE_BOX images;                 // row background skin
    IMAGE_BOX highlighted_images;     // "%s_highlighted"
    IMAGE_BOX alternate_images;       // "%s_alternate"
    INT_U8 childrens_allowed_focus;   // arrow keys move the focus between cells
    // Pixels, s32; scroll offset = max - value (value = max shows the top).
    PARAMETER scroll_param;
    WM_SCROLLBAR* scrollbar;                    // owned, vertical; made by lay_out; null none
    INT_S32 last_scroll_value, last_scroll_max; // at the last visibility pass
    INT_S32 line_step, page_step;               // fixed steps in pixels; 0 = from the rows

    // ---- class-wide state (wm_context.h) -------------------------------------
    // 1; times half a row is the wheel step
    static inline INT_S16& mouse_wheel_half_line_factor = wm_context.state.grid.mouse_wheel_half_line_factor;
    // The grid whose monitor or update runs; null otherwise.
    static inline WM_GRID*& current_grid = wm_context.state.grid.current_grid;

    // ---- construction -------------------------------------------------------
    // The base, two default style sets, three empty boxes on the shared
    // cache and a signed 32-bit scroll parameter at 0; then call setup.
    WM_GRID(INT_U8 visible, WM_OBJECT_CALLBACK callback, void* data1, void* data2);
    ~WM_GRID() override;

    // Corners inclusive; a side of 1 or less makes a 6 x 6 grid. columns
    // <= 0: no layout until set_current_layout. Null ratios: all 1.
    void setup(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_S16 columns, const INT_S16* ratios,
               WM_STYLE_SET& grid_style, WM_STYLE_SET& scrollbar_style);

    // ---- cells (wm_grid.cpp) ------------------------------------------------
    // Places the object in the cell, making rows up to `row`; the object,
    // or null when refused (the object then stays its caller's).
    WM_SCREEN_OBJECT* add_object(INT_S16 column, INT_S16 row, WM_SCREEN_OBJECT* object);
    // A plain child outside the cells.
    void add_object(WM_SCREEN_OBJECT* object, INT_U8 relative) override;
    // A cell object is hidden, deleted when asked, its slot emptied; any
    // other object goes to the base.
    void remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative) override;
    WM_SCREEN_OBJECT* get_object(INT_S16 column, INT_S16 row);
    // Rows from 0 up (forward) or from the last down; 1 with the cell.
    INT_U8 get_object_cell(WM_SCREEN_OBJECT* object, INT_S16& row, INT_S16& column, INT_U8 forward);
    // columns > 0: the layout of rows made from now on (null ratios: all 1).
    void set_current_layout(INT_S16 columns, const INT_S16* new_ratios);
    void clear(INT_U8 keep_layout);
    // Empties the made rows first..last, keeping them with the current layout.
    void clear_rows(INT_S16 first, INT_S16 last);
    // Takes rows first..last out; the rows below move up. Nothing unless
    // 0 <= first <= last < num_rows.
    void delete_rows(INT_S16 first, INT_S16 last);
    // Screen rectangle of a cell, also of a row not made yet; 1 when the
    // row lies in the view. Coordinates clamped to 16 bits.
    INT_U8 get_cell_coords(INT_S16 column, INT_S16 row, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2, INT_S16& cy2);

    // ---- sizing (wm_grid.cpp) -----------------------------------------------
    // Row pitch that fits a cell of cell_style (null: grid_style) in a grid of grid_style.
    INT_S16 calc_min_row_height(WM_STYLE_SET& grid_style, WM_STYLE_SET* cell_style);
    // The pitch that shows exactly `lines` rows; 0 for 0 lines.
    INT_S16 calc_row_height_from_visible_lines(INT_S16 lines);
    // The rows to come: visible_lines (0 off) and the pitch of new rows and
    // of the empty slots below the last row (at least one pixel of row).
    void set_row_pitch(INT_S16 lines, int pitch);
    INT_S16 calc_x_border_gap_from_style_set(WM_STYLE_SET& style);
    INT_S16 calc_y_border_gap_from_style_set(WM_STYLE_SET& style);
    INT_S16 calc_x_cell_gap_from_style_set(WM_STYLE_SET& style);
    INT_S16 calc_y_cell_gap_from_style_set(WM_STYLE_SET& style);
    // Comma-separated ratios. `out` points into the parser's own buffer,
    // valid until the next call; nobody frees it. A 0 field, a field that
    // is not a number, more than 112 fields or a field longer than 111
    // characters give null and 0.
    static void get_ratios_from_csv_string(const char* text, INT_S16*& out, INT_S16& count);

    // ---- skins (wm_grid.cpp) ------------------------------------------------
    // From the set's runtime cache when loaded, else name, "%s_highlighted"
    // and "%s_alternate" from the folder; a null name clears. 1 when the
    // base skin is valid.
    INT_U8 set_images(const char* folder_path, const char* name, WM_STYLE_SET* set);
    using WM_SCREEN_OBJECT::set_images; // from a FOLDER
    void clear_images();
    INT_U8 is_graphical();

    // ---- ready-made cells (wm_grid.cpp) -------------------------------------
    // Each builds the widget over the cell and places it; null (and the
    // widget deleted) when the cell is refused.
    WM_BUTTON* add_button(INT_S16 column, INT_S16 row, const char* caption, WM_STYLE_SET& style,
                          WM_OBJECT_CALLBACK callback, void* data1, void* data2, INT_U8 trigger_flags);
    // In the grid's font; the hotkey is a Mac key code (0xFFFFFFFF none).
    WM_BUTTON* add_button(INT_S16 column, INT_S16 row, const char* caption, COLOUR colour1, COLOUR colour2,
                          unsigned long hotkey, WM_OBJECT_CALLBACK callback, void* data1, void* data2,
                          INT_U8 trigger_flags);
    WM_SCRIPT* add_script(INT_S16 column, INT_S16 row, const char* text, WM_STYLE_SET& style);
    WM_SCRIPT* add_script(INT_S16 column, INT_S16 row, const char* text, COLOUR foreground, COLOUR background,
                          unsigned long flags);
    // The picture loaded from the folder at the cell's size.
    WM_IMAGE* add_image(INT_S16 column, INT_S16 row, FOLDER& folder, const char* file_name, WM_OBJECT_CALLBACK callback,
                        void* data1, void* data2);
    class WM_LIST_BOX* add_list_box(INT_S16 column, INT_S16 row, INT_S16 unused, INT_S16 count,
                                    const char* const* lines, INT_S16 start, WM_STYLE_SET& button_style,
                                    WM_STYLE_SET& style2, WM_STYLE_SET& popup_style, WM_STYLE_SET& style4,
                                    WM_STYLE_SET* item_style, WM_OBJECT_CALLBACK callback, void* data1, void* data2,
                                    WM_STYLE_SET* s2);

    // ---- base operations (wm_grid.cpp) --------------------------------------
    // Cell objects and plain children move with the grid.
    void move(INT_S16 nx, INT_S16 ny) override;
    // The grid, its bar and every cell object.
    void set_area(INT_S16 new_area) override;
    // Never: the cells take the focus.
    INT_U8 can_have_focus() override;

    // ---- scrolling, focus and frame passes (wm_grid_scroll.cpp) -------------
    // The bar's movement callback (the grid is its callback_data1): the
    // step in pixels for action 1 to 4, a magnitude; 0 for others.
    static long scrollbar_movement_callback(WM_SCROLLBAR* bar, SCROLLBAR_BUTTON_DOWN_TYPE type);
    // Re-derives the visible rows after a scroll change; keeps the focus in view.
    void check_scrolling();
    void set_scroll_to_row(INT_S16 row);
    void give_child_object_focus(INT_S16 column, INT_S16 row);
    // The focal object's cell; only fully visible rows unless any_row. 1 when found.
    INT_U8 find_focal_child_object(INT_S16& column, INT_S16& row, INT_U8 any_row);
    // direction 0 left, 1 right, 2 up, 3 down; the first usable object or null.
    WM_SCREEN_OBJECT* find_next_object(char direction, INT_S16 column, INT_S16 row, INT_S16* out_column,
                                       INT_S16* out_row, INT_U8 need_focus);
    // The row is made, the grid visible and the row wholly in the view
    // (below a fixed top row).
    INT_U8 is_row_visible(INT_S16 row);
    // Screen rows of a made row; 0 for others.
    INT_U8 get_row_y_pos(INT_S16 row, long& y1, long& y2);
    WM_MESG monitor() override;
    WM_MESG update(INT_U8 modal) override;
    // Lays the cells out again when their inputs changed.
    void prepare_draw() override;
    void check_for_redraw() override;
    WM_SCREEN_OBJECT* find_object_at_pos(INT_S16 px, INT_S16 py) override;
    void resize(INT_S16 nw, INT_S16 nh, INT_U8 children) override;

    // ---- layout (wm_grid_layout.cpp) ----------------------------------------
    // Keeps the scroll bar (made while the rows do not fit the view, gone
    // when they do) and puts each object of the rows in view into its cell.
    // The redraw pass calls it before it draws the grid whenever the rows,
    // the size, the place or the scroll changed since the last layout.
    void lay_out();

    // ---- drawing (wm_grid_draw.cpp) -----------------------------------------
    // Paints what the last layout placed; changes nothing.
    void draw_object() override;

    // ---- shared geometry ----------------------------------------------------
    // Height of the view inside the border gaps.
    INT_S32 get_view_height()
    {
        return static_cast<INT_S32>(height) - grid_style_set.border_top_gap - grid_style_set.border_bottom_gap;
    }
    // Last row's bottom - y_spacing; 0 without rows.
    INT_S32 get_content_height() { return num_rows > 0 ? rows[num_rows - 1]->bottom - grid_style_set.y_spacing : 0; }
    // max - value of scroll_param: pixels of content above the view.
    INT_S32 get_scroll_offset()
    {
        return static_cast<INT_S32>(scroll_param.get_long(scroll_param.max) -
                                    scroll_param.get_long(scroll_param.value));
    }
    // Row top in content coordinates.
    INT_S32 get_row_top(INT_S16 row) { return rows[row]->bottom - rows[row]->height - grid_style_set.y_spacing; }
    bool is_top_row_fixed() { return (grid_style_set.ssef & SSEF_GRID_FIX_TOP_ROW) != 0; }

protected:
    INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style) override
    {
        return set_images(path, name, style);
    }

private:
    // The cell of every object placed by add_object, so that finding an
    // object's cell (the focus among them) costs no walk over the rows.
    // An entry is checked against the row before it is believed; a stale
    // one, or an object placed in two cells at once (cells_shared), falls
    // back to the walk in row order.
    struct CELL
    {
        INT_S16 row, column;
    };
    std::unordered_map<const WM_SCREEN_OBJECT*, CELL> cell_index;
    bool cells_shared = false;

    // The object's cell in row order; false when it is in none.
    bool walk_for_cell(WM_SCREEN_OBJECT* object, bool forward, INT_S16& row, INT_S16& column);
    // The object's cell, only a fully visible row's when asked.
    bool find_cell(WM_SCREEN_OBJECT* object, bool fully_visible_only, INT_S16& column, INT_S16& row);
    // A row array entry whose objects leave the index.
    void unindex_row(WM_GRID_ROW& row);
    // A row of the current layout at default_row_height, standing for rows
    // not made yet.
    void make_template_row(WM_GRID_ROW& row);
    // Resizes and moves the object onto the cell's rectangle.
    void place_in_cell(WM_SCREEN_OBJECT* object, INT_S16 column, INT_S16 row);
    // The cell's interior relative to the grid (row top 0): from the row,
    // or from a template row when it is not made yet.
    void get_relative_cell(INT_S16 column, INT_S16 row, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2, INT_S16& cy2);
    // Places a ready-made widget; deletes it and answers null when refused.
    template <class W> W* adopt(INT_S16 column, INT_S16 row, W* widget)
    {
        if (add_object(column, row, widget)) {
            return widget;
        }
        delete widget;
        return nullptr;
    }
    // The bar's slider for the current content, with a redraw.
    void fit_scrollbar_slider();
    // A layout while the rows do not fit: the bar made or moved.
    void keep_scrollbar();
    // A layout while they fit: the bar gone, row 0 back to its own width.
    void drop_scrollbar();

    // One slot of the view: a made row, row 0 standing fixed at the top,
    // or the template row standing for an empty slot below the rows.
    struct SLOT
    {
        WM_GRID_ROW* row;
        INT_S32 index; // from the first visible row; odd ones may be darker
        long top;      // screen row of the row's top
        long extra;    // spare pixels added to the slot's height
        bool header;   // row 0 fixed at the top
        // The cell's rectangle on screen, corners inclusive.
        void get_cell(INT_S16 column, bool with_bar, INT_S16 grid_x, INT_S16& cx1, INT_S16& cy1, INT_S16& cx2,
                      INT_S16& cy2) const;
    };
    // The slots of the view in order, worked out once for the layout and
    // the drawing alike: the rows in view, then empty slots down to the
    // view's bottom. While the rows fit, the spare pixels are shared out
    // among the slots one by one from the top.
    class VIEW_SLOTS
    {
    public:
        explicit VIEW_SLOTS(WM_GRID& grid);
        // The next slot in order; false after the last.
        bool next(SLOT& slot);
        // Rows taller than the view, and at least two of them.
        bool wants_scrollbar() const { return wants_bar; }

    private:
        WM_GRID& grid;
        WM_GRID_ROW blank;
        bool any_visible, wants_bar;
        INT_S32 count, spare, partial, slot, last_slot;
        long cursor;
    };
    // The rows and every slot's background, clipped to the view.
    void draw_rows(IMAGE& target);

    // What a layout depends on besides the rows and cells (whose changes
    // set layout_stale): fields callers also set directly.
    struct LAYOUT_INPUTS
    {
        INT_S16 x, y, width, height, first_visible_row, last_visible_row, default_row_height, visible_lines;
        long scroll_value, scroll_max;
        bool operator==(const LAYOUT_INPUTS& o) const;
    };
    LAYOUT_INPUTS layout_inputs();
    LAYOUT_INPUTS laid_out_for{};
    bool layout_stale = true;
    // Lays the grid out when anything it depends on changed.
    void lay_out_if_stale();
};

#endif
