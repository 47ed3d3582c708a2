// The grid's ready-made list box, kept apart so that the grid's own
// sources need no menu headers.
#include "wm_grid.h"

#include "wm_list_box.h"

WM_LIST_BOX* WM_GRID::add_list_box(INT_S16 column, INT_S16 row, INT_S16 unused, INT_S16 count, const char* const* lines,
                                   INT_S16 start, WM_STYLE_SET& button_style, WM_STYLE_SET& style2,
                                   WM_STYLE_SET& popup_style, WM_STYLE_SET& style4, WM_STYLE_SET* item_style,
                                   WM_OBJECT_CALLBACK cb, void* data1, void* data2, WM_STYLE_SET* s2)
{
    INT_S16 cx1, cy1, cx2, cy2;
    get_relative_cell(column, row, cx1, cy1, cx2, cy2);
    return adopt(column, row,
                 new WM_LIST_BOX(cx1, cy1, cx2, cy2, unused, count, lines, start, button_style, style2, popup_style,
                                 style4, item_style, cb, data1, data2, s2, nullptr));
}
