// The result page: the name made from db, the race's picture, and the way back.
#include "result_page.h"

#include "app.h"
#include "database.h"
#include "keyboard.h"
#include "page_messages.h"
#include "settings_page.h"
#include "wm_image.h"
#include "wm_names.h"
#include "wm_ptm_records.h"
#include "wm_script.h"

#include <cstdint>

using namespace result_messages;

namespace {

// The image of the named record, when it exists and holds one.
IMAGE* race_picture(const char* name)
{
    WM_PTM_IMAGE_INFO* info = ptm.find_image(name);
    return info != nullptr ? info->image : nullptr;
}

} // namespace

RESULT_PAGE::RESULT_PAGE(WM_PAGE_MANAGER& manager)
{
    setup(0, manager, 0, 1, 0);
}

RESULT_PAGE::~RESULT_PAGE() = default;

WM_MESG RESULT_PAGE::get_change_method()
{
    return ptm.get_page_change_method(RESULT_PAGE_ID, 0);
}

void RESULT_PAGE::create(WM_PAGE_MANAGER&)
{
    create_page_or_notice(*this, RESULT_PAGE_ID);
}

WM_MESG RESULT_PAGE::monitor()
{
    // Return leads back as the Back button does; the button itself answers
    // its hotkey. The pending code, not the held key, so a quick tap counts.
    if (KEYBOARD::code == KEY_RETURN || KEYBOARD::code == KEY_ENTER) {
        KEYBOARD::get_code();
        return handle(nullptr, reinterpret_cast<void*>(static_cast<uintptr_t>(BACK)), nullptr);
    }
    return WM_MESG_NONE;
}

WM_MESG RESULT_PAGE::handle(WM_SCREEN_OBJECT* object, void* message, void*)
{
    switch (reinterpret_cast<uintptr_t>(message)) {
    case BACK:
        if (page_manager == nullptr) {
            break;
        }
        new SETTINGS_PAGE(*page_manager);
        return SETTINGS_PAGE::get_change_method();
    case NAME_TEXT:
        if (object != nullptr && (object->type & WM_TYPE_SCRIPT) != 0) {
            static_cast<WM_SCRIPT*>(object)->set_string(db.generate_name().buffer, 0);
        }
        break;
    case RACE_PICTURE:
        if (object != nullptr && (object->type & WM_TYPE_IMAGE) != 0) {
            IMAGE* picture = db.race == 0 ? race_picture("dwarf") : nullptr;
            if (picture == nullptr && db.race == 1) {
                picture = race_picture("elf");
            }
            if (picture == nullptr) {
                picture = race_picture("orc");
            }
            if (picture != nullptr) {
                // At the picture's size, or its drawing would scale the copy
                // back to the size of the record.
                static_cast<WM_IMAGE*>(object)->set_picture(*picture);
            }
        }
        break;
    default: break;
    }
    return WM_MESG_NONE;
}
