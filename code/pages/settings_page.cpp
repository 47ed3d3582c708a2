// The settings page: keeps its race controls in step with db, enables the
// result button only while both names are filled in, and leads to the result.
#include "settings_page.h"

#include "app.h"
#include "colour.h"
#include "database.h"
#include "page_messages.h"
#include "result_page.h"
#include "wm_button.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_script.h"
#include "wm_text_edit.h"

#include <cstdint>

using namespace settings_messages;

namespace {

// The object as a T when its type bits say it is one, else null.
template <typename T> T* as(WM_SCREEN_OBJECT* object, WM_OBJECT_TYPE bits)
{
    return object != nullptr && (object->type & bits) == bits ? static_cast<T*>(object) : nullptr;
}

bool has_text(const WM_TEXT_EDIT* edit)
{
    return edit != nullptr && edit->text.buffer != nullptr && edit->text.buffer[0] != '\0';
}

void select_button(WM_BUTTON* b, bool on)
{
    if (b != nullptr) {
        b->set_held_look(on);
    }
}

void* race_data(INT_S16 race)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(race));
}

// Keeps a race button in slot, held while race is the race of db.
void remember_race_button(WM_SCREEN_OBJECT* object, WM_BUTTON*& slot, INT_S16 race)
{
    if (WM_BUTTON* b = as<WM_BUTTON>(object, WM_TYPE_BUTTON)) {
        slot = b;
        select_button(b, db.race == race);
    }
}

} // namespace

void create_page_or_notice(WM_PAGE_BASE& page, INT_U32 page_id)
{
    if (ptm.setup_page(page_id, WM_PAGE_BASE::handle_callback, -1)) {
        return;
    }
    INT_S16 w = page.get_width(), h = page.get_height();
    WM_BUTTON* notice =
        new WM_BUTTON(static_cast<INT_S16>(w / 4), static_cast<INT_S16>(h / 3), static_cast<INT_S16>(3 * w / 4),
                      static_cast<INT_S16>(2 * h / 3), COLOUR_BLUE, COLOUR_GREY, "Unable to find the requested page.",
                      0, 0, 15, nullptr, nullptr, nullptr, 1, 3);
    page.add_object(notice, 1);
}

SETTINGS_PAGE::SETTINGS_PAGE(WM_PAGE_MANAGER& manager)
    : ok_button(nullptr), first_name_edit(nullptr), second_name_edit(nullptr), race_list(nullptr), race_text(nullptr),
      elf_button(nullptr), orc_button(nullptr), dwarf_button(nullptr)
{
    setup(0, manager, 0, 0, 0);
}

SETTINGS_PAGE::~SETTINGS_PAGE() = default;

WM_MESG SETTINGS_PAGE::get_change_method()
{
    return ptm.get_page_change_method(SETTINGS_PAGE_ID, 0);
}

void SETTINGS_PAGE::create(WM_PAGE_MANAGER& manager)
{
    create_page_or_notice(*this, SETTINGS_PAGE_ID);
    // Buttons take no focus of their own; here each control is reached
    // with Tab, in the order of the page's records, and answers Return.
    if (manager.current_area == nullptr) {
        return;
    }
    for (INT_S16 i = 0; WM_SCREEN_OBJECT* o = manager.current_area->get_screen_object(i); i++) {
        if (o->type & WM_TYPE_BUTTON) {
            o->can_focus = 1;
        }
    }
}

void SETTINGS_PAGE::update_ok_button()
{
    if (ok_button != nullptr) {
        ok_button->set_enabled(has_text(first_name_edit) && has_text(second_name_edit));
    }
}

void SETTINGS_PAGE::show_race()
{
    if (race_list != nullptr) {
        race_list->set_selection_from_data(race_data(db.race), 1);
    }
    if (race_text != nullptr) {
        race_text->set_string(DATABASE::get_race_name(db.race).buffer, 0);
    }
    select_button(dwarf_button, db.race == 0);
    select_button(orc_button, db.race != 0 && db.race != 1);
    select_button(elf_button, db.race == 1);
}

WM_MESG SETTINGS_PAGE::handle(WM_SCREEN_OBJECT* object, void* message, void*)
{
    const uintptr_t m = reinterpret_cast<uintptr_t>(message);
    // The records hold 32-bit numbers: anything wider is no message of the page.
    if (m > UINT32_MAX) {
        return WM_MESG_NONE;
    }
    return remember(object, static_cast<INT_U32>(m)) ? WM_MESG_NONE : act(object, static_cast<INT_U32>(m));
}

bool SETTINGS_PAGE::remember(WM_SCREEN_OBJECT* object, INT_U32 message)
{
    // Every creation of the layout is handled here, or the compiler says so.
    switch (static_cast<CREATION>(message)) {
    case OK_BUTTON:
        if (WM_BUTTON* b = as<WM_BUTTON>(object, WM_TYPE_BUTTON)) {
            ok_button = b;
            update_ok_button();
        }
        return true;
    case RACE_LIST:
        if (WM_LIST_BOX* list = as<WM_LIST_BOX>(object, WM_TYPE_LIST_BOX)) {
            race_list = list;
            for (INT_S16 r = 0; r < db.race_count; r++) {
                list->add_line(DATABASE::get_race_name(r).buffer, race_data(r), 0, 1, 0);
            }
            list->set_selection_from_data(race_data(db.race), 0);
        }
        return true;
    case FIRST_NAME_EDIT:
    case SECOND_NAME_EDIT:
        if (WM_TEXT_EDIT* edit = as<WM_TEXT_EDIT>(object, WM_TYPE_TEXT_EDIT)) {
            const bool first = message == FIRST_NAME_EDIT;
            (first ? first_name_edit : second_name_edit) = edit;
            edit->set_reports_changes(true);
            edit->set_buffer((first ? db.first_name : db.second_name).buffer);
            edit->set_prompt(first ? "Enter First Name" : "Enter Second Name");
            update_ok_button();
        }
        return true;
    case RACE_TEXT:
        if (WM_SCRIPT* text = as<WM_SCRIPT>(object, WM_TYPE_SCRIPT)) {
            race_text = text;
            race_text->set_string(DATABASE::get_race_name(db.race).buffer, 0);
        }
        return true;
    case DWARF_BUTTON: remember_race_button(object, dwarf_button, 0); return true;
    case ELF_BUTTON: remember_race_button(object, elf_button, 1); return true;
    case ORC_BUTTON: remember_race_button(object, orc_button, 2); return true;
    }
    return false;
}

WM_MESG SETTINGS_PAGE::act(WM_SCREEN_OBJECT* object, INT_U32 message)
{
    // As above, for every action.
    switch (static_cast<ACTION>(message)) {
    case SHOW_NAME:
        if (first_name_edit != nullptr) {
            db.first_name = first_name_edit->text;
        }
        if (second_name_edit != nullptr) {
            db.second_name = second_name_edit->text;
        }
        if (race_list != nullptr) {
            db.race = static_cast<INT_S16>(reinterpret_cast<intptr_t>(race_list->current_data));
        }
        if (page_manager == nullptr) {
            break;
        }
        new RESULT_PAGE(*page_manager);
        return RESULT_PAGE::get_change_method();
    case RACE_PICKED:
        // A choice in the list is a race change like any other.
        if (race_list != nullptr && object == race_list) {
            db.race = static_cast<INT_S16>(reinterpret_cast<intptr_t>(race_list->current_data));
            show_race();
        }
        break;
    case FIRST_NAME_CHANGED:
    case SECOND_NAME_CHANGED: update_ok_button(); break;
    case PREVIOUS_RACE:
        db.race = static_cast<INT_S16>(db.race - 1 < 0 ? db.race_count - 1 : db.race - 1);
        show_race();
        break;
    case NEXT_RACE:
        db.race = static_cast<INT_S16>(db.race + 1 >= db.race_count ? 0 : db.race + 1);
        show_race();
        break;
    case PICK_DWARF:
        db.race = 0;
        show_race();
        break;
    case PICK_ELF:
        db.race = 1;
        show_race();
        break;
    case PICK_ORC:
        db.race = 2;
        show_race();
        break;
    }
    return WM_MESG_NONE;
}
