// The page showing the generated name and the race's picture.
#ifndef TOLLBECK_RESULT_PAGE_H
#define TOLLBECK_RESULT_PAGE_H

#include "wm_page_base.h"

constexpr INT_U32 RESULT_PAGE_ID = 0x497881d3;

class RESULT_PAGE : public WM_PAGE_BASE
{
public:
    // Queues the page as the next page of area 0; the page manager owns it.
    explicit RESULT_PAGE(WM_PAGE_MANAGER& manager);
    ~RESULT_PAGE() override;

    static WM_MESG get_change_method();

    void create(WM_PAGE_MANAGER& manager) override;
    // Return and keypad Enter go back to the settings page.
    WM_MESG monitor() override;
    WM_MESG handle(WM_SCREEN_OBJECT* object, void* message, void* data) override;
};

#endif
