// Keyboard focus moves of the page manager: the search for the focal
// object's neighbours, Tab and Shift-Tab through every area (or inside the
// topmost modal object), and Command-Tab from area to area.
#include "wm_grid.h"
#include "wm_page_manager.h"

namespace {

struct FOCUS_SEARCH
{
    INT_U8 found = 0;
    WM_SCREEN_OBJECT* first = nullptr;
    WM_SCREEN_OBJECT* last = nullptr;
    WM_SCREEN_OBJECT* previous = nullptr;
    WM_SCREEN_OBJECT* next = nullptr;

    void run(WM_PAGE_MANAGER& manager, WM_SCREEN_OBJECT* root)
    {
        manager.find_focal_objects(root, found, first, last, previous, next);
    }
};

// Inside the topmost visible modal object when there is one, else through
// every area in index order; the order wraps at either end.
INT_U8 give_focus_in_order(WM_PAGE_MANAGER& manager, bool forwards)
{
    FOCUS_SEARCH search;
    if (WM_SCREEN_OBJECT* modal = WM_SCREEN_OBJECT::get_active_modal_object(0)) {
        search.run(manager, modal);
    } else {
        for (int i = 0; i < manager.area_count; ++i) {
            search.run(manager, &manager.areas[i]);
        }
    }
    WM_SCREEN_OBJECT* target =
        forwards ? (search.next ? search.next : search.first) : (search.previous ? search.previous : search.last);
    if (!target) {
        return 0;
    }
    target->take_focus();
    return 1;
}

// step is 1 or -1. The move starts at the neighbour of the focal object's
// area, so Command-Tab always leaves the area it is in; with no focal object
// forwards starts at the first area, backwards at the last. Every index is
// taken modulo the area count: a focal object's area field may name an
// area that does not exist.
INT_U8 give_focus_to_area(WM_PAGE_MANAGER& manager, int step)
{
    const int count = manager.area_count;
    if (WM_SCREEN_OBJECT::get_active_modal_object_count() || count < 1) {
        return 0;
    }
    const WM_SCREEN_OBJECT* focal = WM_SCREEN_OBJECT::focal_object;
    int start = step > 0 ? 0 : count - 1;
    if (focal) {
        start = focal->area < 0 ? 0 : focal->area + step;
    }
    for (int k = 0; k < count; ++k) {
        WM_AREA& area = manager.areas[((start + k * step) % count + count) % count];
        if (!area.visible) {
            continue;
        }
        FOCUS_SEARCH search;
        search.run(manager, &area);
        if (!search.first) {
            return 0;
        }
        search.first->take_focus();
        return 1;
    }
    return 0;
}

} // namespace

void WM_PAGE_MANAGER::find_focal_objects(WM_SCREEN_OBJECT* object, INT_U8& found, WM_SCREEN_OBJECT*& first,
                                         WM_SCREEN_OBJECT*& last, WM_SCREEN_OBJECT*& previous, WM_SCREEN_OBJECT*& next)
{
    if (!object) {
        return;
    }
    WM_SCREEN_OBJECT* const focal = WM_SCREEN_OBJECT::focal_object;
    // A hidden focal object still counts as passed, so Tab goes on from it.
    if (!object->visible) {
        if (object == focal) {
            found = 1;
        }
        return;
    }
    if (previous && next) {
        return;
    }
    const bool focusable = object->can_have_focus() != 0;
    if (focusable) {
        if (!first) {
            first = object;
        }
        last = object;
    }
    if (object == focal) {
        found = 1;
    } else if (focusable && !next) {
        (found || !focal ? next : previous) = object;
    }
    // The child list's iterator is shared with any walk this one interrupts.
    PTRLLIST& children = object->objects;
    LISTNODE* const saved = children.iterator;
    children.iterator = children.head;
    while (!previous || !next) {
        auto* child = static_cast<WM_SCREEN_OBJECT*>(children.get_info_inc());
        if (!child) {
            break;
        }
        find_focal_objects(child, found, first, last, previous, next);
    }
    children.iterator = saved;
    // A grid's cells are not its children. Only rows wholly in view are
    // walked, so Tab never lands in a row scrolled partly out of sight.
    if (object->type & WM_TYPE_GRID) {
        auto* grid = static_cast<WM_GRID*>(object);
        for (INT_S16 row = 0; row < grid->num_rows && (!previous || !next); ++row) {
            if (!grid->is_row_visible(row)) {
                continue;
            }
            for (INT_S16 column = 0; column < grid->rows[row]->num_objects && (!previous || !next); ++column) {
                if (WM_SCREEN_OBJECT* cell = grid->get_object(column, row)) {
                    find_focal_objects(cell, found, first, last, previous, next);
                }
            }
        }
    }
}

INT_U8 WM_PAGE_MANAGER::give_focus_to_next_object()
{
    return give_focus_in_order(*this, true);
}

INT_U8 WM_PAGE_MANAGER::give_focus_to_prev_object()
{
    return give_focus_in_order(*this, false);
}

INT_U8 WM_PAGE_MANAGER::give_focus_to_next_area()
{
    return give_focus_to_area(*this, 1);
}

INT_U8 WM_PAGE_MANAGER::give_focus_to_prev_area()
{
    return give_focus_to_area(*this, -1);
}
