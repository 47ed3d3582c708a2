// The first page: the two names and the race, and the way to the result.
#ifndef TOLLBECK_SETTINGS_PAGE_H
#define TOLLBECK_SETTINGS_PAGE_H

#include "wm_page_base.h"

class WM_BUTTON;
class WM_TEXT_EDIT;
class WM_LIST_BOX;
class WM_SCRIPT;

constexpr INT_U32 SETTINGS_PAGE_ID = 0x4978817d;

class SETTINGS_PAGE : public WM_PAGE_BASE
{
public:
    // Widgets of the page's area, told by their creation messages; never deleted here.
    WM_BUTTON* ok_button;
    WM_TEXT_EDIT* first_name_edit;
    WM_TEXT_EDIT* second_name_edit;
    WM_LIST_BOX* race_list;
    WM_SCRIPT* race_text;
    WM_BUTTON* elf_button;
    WM_BUTTON* orc_button;
    WM_BUTTON* dwarf_button;

    // Queues the page as the next page of area 0; the page manager owns it.
    explicit SETTINGS_PAGE(WM_PAGE_MANAGER& manager);
    ~SETTINGS_PAGE() override;

    static WM_MESG get_change_method();

    void create(WM_PAGE_MANAGER& manager) override;
    // A creation message is remembered, any other is acted on.
    WM_MESG handle(WM_SCREEN_OBJECT* object, void* message, void* data) override;

private:
    // A creation message of the page: keeps the widget that sent it and
    // shows db on it. False for any other message.
    bool remember(WM_SCREEN_OBJECT* object, INT_U32 message);
    // An action of the page; the page change method when it leads to
    // another page, else WM_MESG_NONE.
    WM_MESG act(WM_SCREEN_OBJECT* object, INT_U32 message);
    void update_ok_button();
    // Shows race of db on every race control the page knows.
    void show_race();
};

// The page's widgets, or else a button telling that the page is missing.
void create_page_or_notice(WM_PAGE_BASE& page, INT_U32 page_id);

#endif
