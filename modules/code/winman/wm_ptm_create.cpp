// Widgets from object records: the style set and corners a record gives,
// then one constructor per type code.
#include "wm_button.h"
#include "wm_check_box.h"
#include "wm_grid.h"
#include "wm_image.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"
#include "wm_s16.h"
#include "wm_script.h"
#include "wm_style_set.h"
#include "wm_typing_script.h"

#include <algorithm>
#include <cstdint>
#include <new>

namespace {

constexpr WM_OBJECT_TYPE RECORD_GENERIC = 0;
constexpr WM_OBJECT_TYPE RECORD_TYPING_SCRIPT = 0x20000000;

void* as_data(INT_U32 word)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(word));
}

// A negative size (normally -1, "not given") passes through as the corner.
INT_S16 inclusive_end(INT_S16 start, INT_S16 size)
{
    return size >= 0 ? static_cast<INT_S16>(start + size - 1) : size;
}

// Copies the record's picture into the widget at the record's size.
void apply_picture(WM_IMAGE& widget, const WM_PTM_OBJECT_INFO& record)
{
    IMAGE* source = record.image ? record.image->image : nullptr;
    if (!source) {
        return;
    }
    widget.set_picture(*source, true);
}

// Grids are built in place: the base with the style set's own visibility,
// then setup. The record's cell style set goes where the grid takes the
// look of its scroll bar.
WM_GRID* create_grid(const WM_PTM_OBJECT_INFO& record, WM_OBJECT_CALLBACK handler, WM_STYLE_SET& style,
                     WM_STYLE_SET& fallback, INT_S16 x2, INT_S16 y2)
{
    // The parser's own buffer, valid until its next call: setup copies it
    // before any other grid is parsed, and nobody frees it.
    INT_S16* ratios = nullptr;
    INT_S16 count = 0;
    WM_GRID::get_ratios_from_csv_string(record.grid_column_ratios, ratios, count);
    if (count != record.grid_columns) {
        ratios = nullptr;
    }
    WM_GRID* grid = new (std::nothrow) WM_GRID(style.visible, handler, as_data(record.aid), as_data(record.user_data));
    if (!grid) {
        return nullptr;
    }
    WM_STYLE_SET& cell = record.grid_cell_style_set ? *record.grid_cell_style_set : fallback;
    grid->setup(record.x, record.y, x2, y2, record.grid_columns, ratios, style, cell);
    grid->set_row_pitch(0, record.grid_row_height ? record.grid_row_height
                                                  : grid->calc_min_row_height(grid->grid_style_set, nullptr));
    return grid;
}

} // namespace

WM_SCREEN_OBJECT* WM_PTM_OBJECT_INFO::create(WM_OBJECT_CALLBACK handler)
{
    WM_STYLE_SET fallback;
    if (do_not_create) {
        return nullptr;
    }
    WM_STYLE_SET& style = custom_style_set ? *custom_style_set : style_set ? *style_set : fallback;
    const INT_S16 x2 = inclusive_end(x, width);
    const INT_S16 y2 = inclusive_end(y, height);
    const char* caption = text ? text : "";
    const char* hint_text = hint ? hint : "";
    void* data1 = as_data(aid);
    void* data2 = as_data(user_data);

    WM_SCREEN_OBJECT* made = nullptr;
    switch (type) {
    case RECORD_GENERIC:
        if (WM_PAGE_TOOL_MANAGER::generic_object_callback) {
            made = WM_PAGE_TOOL_MANAGER::generic_object_callback(*this, handler,
                                                                 WM_PAGE_TOOL_MANAGER::generic_object_data);
        }
        if (!made) {
            made = new (std::nothrow) WM_SCRIPT(x, y, x2, y2, style, caption);
        }
        break;
    case WM_TYPE_SCRIPT: made = new (std::nothrow) WM_SCRIPT(x, y, x2, y2, style, caption); break;
    case WM_TYPE_IMAGE: {
        // A picture this large would ask for gigabytes: the record builds
        // nothing. A 16-bit side is within WM_MAX_PICTURE_SIDE, and a size
        // not given (-1) still makes the empty picture.
        if (width > 0 && height > 0 && static_cast<long>(width) * height > WM_MAX_PICTURE_PIXELS) {
            break;
        }
        WM_IMAGE* image =
            new (std::nothrow) WM_IMAGE(x, y, width, height, visible, handler, data1, data2, image_trigger);
        if (image) {
            apply_picture(*image, *this);
        }
        made = image;
        break;
    }
    case RECORD_TYPING_SCRIPT:
        // The constructor restarts typing with the caption as the text to type.
        made = new (std::nothrow) WM_TYPING_SCRIPT(x, y, x2, y2, style, caption);
        break;
    case WM_TYPE_CHECK_BOX: made = new (std::nothrow) WM_CHECK_BOX(x, y, style, caption, handler, data1, data2); break;
    case WM_TYPE_BUTTON: {
        WM_BUTTON* button =
            new (std::nothrow) WM_BUTTON(x, y, x2, y2, style, caption, hint_text, handler, data1, data2, trigger);
        if (button) {
            button->set_enabled(enabled);
            button->set_hotkey(hotkey);
        }
        made = button;
        break;
    }
    case WM_TYPE_GRID: made = create_grid(*this, handler, style, fallback, x2, y2); break;
    default: break;
    }
    if (made) {
        made->definition = this;
    }
    return made;
}
