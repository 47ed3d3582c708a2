#ifndef TOLLBECK_TEST_PROGRAM_PAGES_H
#define TOLLBECK_TEST_PROGRAM_PAGES_H

// The program's start-up run in-process on the harness's headless window:
// a test binary that links the pages defines db, ptm and kivo_app_settings
// as the program does, and each test starts from fresh page statics.
#include "app.h"
#include "database.h"
#include "folder.h"
#include "host_window.h"
#include "kivo_host.h"
#include "widget_test.h"
#include "wm_page_manager.h"
#include "wm_page_tool_manager.h"

#include <gtest/gtest.h>

extern DATABASE db;
extern WM_PAGE_TOOL_MANAGER ptm;

namespace kivo_test {

class ProgramPagesTest : public WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        db = DATABASE();
    }
    void TearDown() override
    {
        release_app_resources();
        WM_PAGE_TOOL_MANAGER::generic_object_callback = nullptr;
        WidgetTest::TearDown();
    }
    // Start-up from "$APPDATA/pages.bin" with the program's hooks; page
    // changes without effects, whose clock only the test moves.
    void start()
    {
        WM_PAGE_TOOL_MANAGER::generic_object_callback = create_generic_objects;
        FOLDER app("$APPDATA");
        ASSERT_TRUE(ptm.load(app, "pages.bin", nullptr));
        db.load();
        ASSERT_NE(ptm.init_app(nullptr), nullptr);
        ptm.page_manager->page_effects = 0;
        ptm.page_manager->page_effects_ms = 0;
        ASSERT_EQ(ptm.open_graphics(), 1);
        WM_SCREEN_OBJECT::surface = get_back_buffer(0);
        ptm.init_areas(starting_pages);
        run();
    }
    // Enough passes for a queued page to be built and drawn.
    static void run()
    {
        for (int i = 0; i < 20; i++) {
            kivo_fake_clock_advance_ms(100);
            ASSERT_TRUE(app_main());
        }
    }
};

} // namespace kivo_test

#endif
