// Widgets made from object records: each type code and the steps after construction.
#include "widget_test.h"
#include "wm_button.h"
#include "wm_grid.h"
#include "wm_image.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"
#include <memory>

namespace {
using CreateTest = kivo_test::WidgetTest;
WM_MESG handler(WM_SCREEN_OBJECT*, void*, void*)
{
    return 0;
}
int hook_calls = 0;
WM_SCREEN_OBJECT* hook(WM_PTM_OBJECT_INFO&, WM_OBJECT_CALLBACK callback, void* data)
{
    return hook_calls++ || callback != handler || data != &hook_calls ? nullptr : new kivo_test::PROBE(0, 0, 5, 5, 0);
}

TEST_F(CreateTest, EachTypeCodeMakesItsWidgetWithTheRecordsSteps)
{
    WM_PAGE_TOOL_MANAGER::generic_object_callback = hook;
    WM_PAGE_TOOL_MANAGER::generic_object_data = &hook_calls;
    IMAGE pic; // 40 x 20, right half blue, for records of 80 x 40
    pic.setup(40, 20);
    pic.fill_rect(20, 0, 39, 19, 0xFF0000FFu, 0);
    WM_PTM_IMAGE_INFO file; // not in the image cache: nothing to give back
    file.image = &pic;
    const WM_OBJECT_TYPE table[][2] = {{0, 0},
                                       {0, 0x10},
                                       {0x2, 0x2},
                                       {0x8, 0x8},
                                       {0x10, 0x10},
                                       {0x1000, 0x1000},
                                       {0x8000000, 0x8000000},
                                       {0x20000000, 0x10},
                                       {0x8, 0},
                                       {0x4, 0},
                                       {0x10, 0}};
    for (INT_U32 k = 0; k < 11; ++k) { // {code, widget bits}; the last three make none
        WM_PTM_OBJECT_INFO r;
        r.type = table[k][0];
        r.do_not_create = k == 10;
        r.width = k == 8 ? 8192 : 80;
        r.height = k == 8 ? 8192 : 40;
        r.image = &file;
        r.enabled = 0;
        r.hotkey = 65;
        r.set_grid_column_ratios("3,1,2"); // three ratios for four columns: equal weights
        r.grid_columns = 4;
        r.grid_row_height = 2; // at most y_spacing: a pitch of 1
        r.create_custom_style_set();
        r.custom_style_set->y_spacing = 2;
        std::unique_ptr<WM_SCREEN_OBJECT> w(r.create(handler));
        ASSERT_TRUE(k >= 8 ? !w : w && (w->type & table[k][1]) == table[k][1] && w->definition == &r) << k;
        EXPECT_TRUE(k || dynamic_cast<kivo_test::PROBE*>(w.get()));
        auto* b = dynamic_cast<WM_BUTTON*>(w.get());
        EXPECT_TRUE(!b || (b->enabled == 0 && b->down == 0 && b->hotkey == 65));
        auto* i = dynamic_cast<WM_IMAGE*>(w.get());
        EXPECT_TRUE(!i || (i->picture.width == 80 && i->picture.height == 40 &&
                           imgtest::px(i->picture, 70, 30) == 0xFF0000FFu));
        auto* g = dynamic_cast<WM_GRID*>(w.get());
        EXPECT_TRUE(!g || (g->ratios == std::vector<INT_S16>(4, 1) && g->default_row_height == 1));
    }
    EXPECT_EQ(hook_calls, 2);
    WM_PAGE_TOOL_MANAGER::generic_object_callback = nullptr;
}
} // namespace
