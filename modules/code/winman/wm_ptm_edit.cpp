// Editing the application record's lists in memory: appending records with
// their default names and deleting them. Areas are held by value and move
// into a new array; the other lists are arrays of owned pointers.
#include "wm_ptm_app_info.h"
#include "wm_ptm_array.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"
#include "wm_style_set.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Appends an owned record; the list is unchanged (and the record deleted)
// when it is full or the larger array cannot be made.
template <class T> bool append(T**& list, INT_S32& count, T* record)
{
    if (!record || count >= PTM_MAX_LIST_COUNT) {
        delete record;
        return false;
    }
    T** grown = new (std::nothrow) T*[static_cast<size_t>(count) + 1];
    if (!grown) {
        delete record;
        return false;
    }
    for (INT_S32 i = 0; i < count; ++i) {
        grown[i] = list[i];
    }
    grown[count] = record;
    delete[] list;
    list = grown;
    ++count;
    return true;
}

// A new default record named after its position (the count after adding).
template <class T> T* named_record(const char* format, INT_S32 count)
{
    if (count >= PTM_MAX_LIST_COUNT) {
        return nullptr;
    }
    T* record = new (std::nothrow) T;
    if (record) {
        record->name = wm_ptm_default_name(format, count + 1L);
    }
    if (record && !record->name) {
        delete record;
        return nullptr;
    }
    return record;
}

// Destroys element i and closes the gap; the array keeps its size.
template <class T> bool remove(T** list, INT_S32& count, long i)
{
    if (i < 0 || i >= count) {
        return false;
    }
    delete list[i];
    for (INT_S32 j = static_cast<INT_S32>(i); j + 1 < count; ++j) {
        list[j] = list[j + 1];
    }
    list[--count] = nullptr;
    return true;
}

// Sets every reference to a record that is about to go to none, so that no
// page or object keeps a pointer into freed memory.
void forget_in_objects(WM_PTM_OBJECT_INFO* objects, INT_S32 count, const void* gone)
{
    for (INT_S32 i = 0; i < count; ++i) {
        WM_PTM_OBJECT_INFO& o = objects[i];
        if (o.image == gone) {
            o.image = nullptr;
        }
        if (o.style_set == gone) {
            o.style_set = nullptr;
        }
        if (o.grid_cell_style_set == gone) {
            o.grid_cell_style_set = nullptr;
        }
        forget_in_objects(o.objects, o.object_count, gone);
    }
}

void forget(WM_PTM_APP_INFO& app, const void* gone)
{
    for (INT_S32 a = 0; a < app.area_count; ++a) {
        WM_PTM_AREA_INFO& area = app.areas[a];
        for (INT_S32 p = 0; p < area.page_count; ++p) {
            if (area.pages[p].background == gone) {
                area.pages[p].background = nullptr;
            }
            forget_in_objects(area.pages[p].objects, area.pages[p].object_count, gone);
        }
    }
    for (INT_S32 i = 0; i < app.dialog_count; ++i) {
        forget_in_objects(app.dialogs[i]->objects, app.dialogs[i]->object_count, gone);
    }
}

} // namespace

bool WM_PTM_APP_INFO::create_new_area()
{
    const long number = area_count + 1L;
    return wm_ptm_grow_array(areas, area_count, PTM_MAX_LIST_COUNT, [number](WM_PTM_AREA_INFO& added) {
        added.name = wm_ptm_default_name("Area %d", number);
        return added.name != nullptr;
    });
}

bool WM_PTM_APP_INFO::create_new_style_set()
{
    if (style_set_count >= PTM_MAX_LIST_COUNT) {
        return false;
    }
    auto* set = new (std::nothrow) WM_STYLE_SET;
    if (set) {
        char text[24]; // room for any count, though it stops at 32767
        std::snprintf(text, sizeof text, "Style Set %d", style_set_count + 1);
        set->set_name(text);
    }
    if (set && !set->name) {
        delete set;
        return false;
    }
    return append(style_sets, style_set_count, set);
}

bool WM_PTM_APP_INFO::create_new_font()
{
    return append(fonts, font_count, named_record<WM_PTM_FONT_INFO>("Font %d", font_count));
}

bool WM_PTM_APP_INFO::create_new_colour()
{
    return append(colours, colour_count, named_record<WM_PTM_COLOUR_INFO>("Colour %d", colour_count));
}

bool WM_PTM_APP_INFO::create_new_image()
{
    return append(images, image_count, named_record<WM_PTM_IMAGE_INFO>("Image %d", image_count));
}

bool WM_PTM_APP_INFO::create_new_constant()
{
    return append(constants, constant_count, named_record<WM_PTM_CONSTANT_INFO>("Constant %d", constant_count));
}

bool WM_PTM_APP_INFO::create_new_dialog()
{
    return append(dialogs, dialog_count, named_record<WM_PTM_DIALOG_INFO>("Dialog %d", dialog_count));
}

bool WM_PTM_APP_INFO::delete_area(long i)
{
    return wm_ptm_remove_from_array(areas, area_count, i);
}

bool WM_PTM_APP_INFO::delete_style_set(long i)
{
    if (i < 0 || i >= style_set_count) {
        return false;
    }
    forget(*this, style_sets[i]);
    return remove(style_sets, style_set_count, i);
}

bool WM_PTM_APP_INFO::delete_font(long i)
{
    return remove(fonts, font_count, i);
}

bool WM_PTM_APP_INFO::delete_colour(long i)
{
    return remove(colours, colour_count, i);
}

bool WM_PTM_APP_INFO::delete_image(long i)
{
    if (i < 0 || i >= image_count) {
        return false;
    }
    forget(*this, images[i]);
    return remove(images, image_count, i);
}

bool WM_PTM_APP_INFO::delete_constant(long i)
{
    return remove(constants, constant_count, i);
}

bool WM_PTM_APP_INFO::delete_dialog(long i)
{
    return remove(dialogs, dialog_count, i);
}
