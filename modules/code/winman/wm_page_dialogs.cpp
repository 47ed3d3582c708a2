// The page manager's closing of the dialogs on the modal list.
#include "wm_dialog.h"
#include "wm_page_manager.h"

void WM_PAGE_MANAGER::close_modal_dialogs(INT_U8 immediate)
{
    // Nothing leaves the list here: the modal pass removes each dialog when
    // its close completes. The walk borrows the list's own iterator, which
    // a caller may be using.
    PTRLLIST& list = WM_SCREEN_OBJECT::modal_screen_objects;
    LISTNODE* const saved = list.iterator;
    list.iterator = list.tail;
    while (list.iterator) {
        auto* object = static_cast<WM_SCREEN_OBJECT*>(list.get_info_dec());
        auto* dialog = object && (object->type & WM_TYPE_DIALOG) ? dynamic_cast<WM_DIALOG*>(object) : nullptr;
        if (dialog) {
            dialog->close(immediate, true);
        }
    }
    list.iterator = saved;
}
