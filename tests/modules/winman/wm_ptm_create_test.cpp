// Widgets made from object records: each type code and the steps after
// construction; records marked hidden through their widgets' setters.
#include "folder.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_check_box.h"
#include "wm_grid.h"
#include "wm_image.h"
#include "wm_manager.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"
#include "wm_script.h"
#include "wm_text_edit.h"
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

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

constexpr INT_U32 FACE = 0xFF3060C0u;

// One change made through a widget's own operation.
struct SETTER
{
    const char* name;
    std::function<void(WM_SCREEN_OBJECT&)> call;
};

// An application record of the edit kind, made as the program makes it.
WM_SCREEN_OBJECT* make_edit(WM_PTM_OBJECT_INFO& info, WM_OBJECT_CALLBACK callback, void*)
{
    return info.style_set ? new WM_TEXT_EDIT(info.x, info.y, info.width, 20, info.text, *info.style_set, callback,
                                             nullptr, nullptr)
                          : nullptr;
}

class HiddenRecordTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        style.bg_colour = FACE;
        style.fg_colour = COLOUR_BLACK;
        WM_TEXT_EDIT::use_soft_keyboard = 0; // not asked of the system
        file.image = &picture;
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
        DATA_FILE* out = folder.open_data_file("face.png", fm_write, 0, 0);
        ASSERT_TRUE(out && picture.save_png(out) && folder.close(out));
        record.x = 100;
        record.y = 80;
        record.width = 200;
        record.height = 120;
        record.style_set = &style;
    }
    void TearDown() override
    {
        WM_PAGE_TOOL_MANAGER::generic_object_callback = nullptr;
        WidgetTest::TearDown();
    }
    // Each setter runs on a widget made afresh from the record, first marked
    // hidden through `visible`, then shown, alone under a root. A hidden
    // widget stays hidden after its creation and after the setter, and the
    // frame after it draws nothing; a shown one is repainted by that frame.
    void check_setters(INT_U8& visible, const std::vector<SETTER>& setters)
    {
        for (const INT_U8 shown : {0, 1}) {
            visible = shown;
            for (const SETTER& setter : setters) {
                WM_MANAGER root;
                WM_SCREEN_OBJECT* widget = record.create(handler);
                ASSERT_NE(widget, nullptr);
                root.add_object(widget, 0);
                EXPECT_EQ(widget->visible, shown) << setter.name << " (made)";
                if (!shown) {
                    widget->hide(0, 0); // so that each setter is judged alone
                }
                draw_regions(&root);
                screen().clear(kivo_test::SENTINEL, 1);
                setter.call(*widget);
                EXPECT_EQ(widget->visible, shown) << setter.name;
                draw_regions(&root);
                const std::vector<INT_U32> pixels = imgtest::snapshot(screen());
                const bool drawn =
                    std::any_of(pixels.begin(), pixels.end(), [](INT_U32 p) { return p != kivo_test::SENTINEL; });
                EXPECT_EQ(drawn, shown != 0) << setter.name << (shown ? " shown" : " hidden");
            }
        }
    }
    WM_STYLE_SET style;
    imgtest::CANVAS picture{40, 20, {FACE}};
    WM_PTM_IMAGE_INFO file;
    FOLDER folder;
    WM_PTM_OBJECT_INFO record;
};

TEST_F(HiddenRecordTest, GridFromAStyleSetMarkedHidden)
{
    record.type = WM_TYPE_GRID;
    // Rows to clear, delete and scroll to: 0 to `last`, an object in the last.
    auto with_rows = [](WM_SCREEN_OBJECT& w, INT_S16 last, const std::function<void(WM_GRID&)>& then) {
        auto& grid = static_cast<WM_GRID&>(w);
        ASSERT_NE(grid.add_object(0, last, new kivo_test::PROBE(0, 0, 1, 1, FACE)), nullptr);
        then(grid);
    };
    check_setters(
        style.visible,
        {{"set_row_pitch", [](WM_SCREEN_OBJECT& w) { static_cast<WM_GRID&>(w).set_row_pitch(0, 31); }},
         {"add_object", [&](WM_SCREEN_OBJECT& w) { with_rows(w, 0, [](WM_GRID&) {}); }},
         {"clear_rows", [&](WM_SCREEN_OBJECT& w) { with_rows(w, 0, [](WM_GRID& g) { g.clear_rows(0, 0); }); }},
         {"delete_rows", [&](WM_SCREEN_OBJECT& w) { with_rows(w, 0, [](WM_GRID& g) { g.delete_rows(0, 0); }); }},
         {"clear", [&](WM_SCREEN_OBJECT& w) { with_rows(w, 0, [](WM_GRID& g) { g.clear(1); }); }},
         {"set_scroll_to_row",
          [&](WM_SCREEN_OBJECT& w) { with_rows(w, 9, [](WM_GRID& g) { g.set_scroll_to_row(9); }); }},
         {"resize", [](WM_SCREEN_OBJECT& w) { w.resize(210, 130, 1); }},
         {"move", [](WM_SCREEN_OBJECT& w) { w.move(104, 80); }}});
}

TEST_F(HiddenRecordTest, ImageFromARecordMarkedHidden)
{
    record.type = WM_TYPE_IMAGE;
    record.image = &file;
    check_setters(
        record.visible,
        {{"set_picture fitted", [this](WM_SCREEN_OBJECT& w) { static_cast<WM_IMAGE&>(w).set_picture(picture, true); }},
         {"set_picture", [this](WM_SCREEN_OBJECT& w) { static_cast<WM_IMAGE&>(w).set_picture(picture); }},
         {"load_picture", [this](WM_SCREEN_OBJECT& w) { static_cast<WM_IMAGE&>(w).load_picture(folder, "face.png"); }},
         {"resize", [](WM_SCREEN_OBJECT& w) { w.resize(60, 30, 0); }},
         {"move", [](WM_SCREEN_OBJECT& w) { w.move(104, 80); }}});
}

TEST_F(HiddenRecordTest, TextEditFromAStyleSetMarkedHidden)
{
    // The application record kind the program makes its edits from.
    WM_PAGE_TOOL_MANAGER::generic_object_callback = make_edit;
    auto edit = [](WM_SCREEN_OBJECT& w) -> WM_TEXT_EDIT& { return static_cast<WM_TEXT_EDIT&>(w); };
    check_setters(style.visible, {{"set_buffer", [&](WM_SCREEN_OBJECT& w) { edit(w).set_buffer("Ann"); }},
                                  {"set_buffer null", [&](WM_SCREEN_OBJECT& w) { edit(w).set_buffer(nullptr); }},
                                  {"set_buffer_len", [&](WM_SCREEN_OBJECT& w) { edit(w).set_buffer_len(2); }},
                                  {"set_prompt", [&](WM_SCREEN_OBJECT& w) { edit(w).set_prompt("Name"); }},
                                  {"monitor dropping a selection",
                                   [&](WM_SCREEN_OBJECT& w) {
                                       edit(w).text = "Ann"; // not through set_buffer, which redraws
                                       edit(w).selection.start = 0;
                                       edit(w).selection.end = 3;
                                       w.monitor(); // the edit does not hold the focus
                                   }},
                                  {"resize", [](WM_SCREEN_OBJECT& w) { w.resize(150, 40, 0); }},
                                  {"move", [](WM_SCREEN_OBJECT& w) { w.move(104, 80); }}});
}

TEST_F(HiddenRecordTest, TextBlockAndCheckBoxFromStyleSetsMarkedHidden)
{
    record.type = WM_TYPE_SCRIPT;
    check_setters(style.visible,
                  {{"set_colours",
                    [](WM_SCREEN_OBJECT& w) {
                        static_cast<WM_SCRIPT&>(w).set_colours(COLOUR(FACE), COLOUR_WHITE, COLOUR_BLACK, 0);
                    }},
                   {"set_string", [](WM_SCREEN_OBJECT& w) { static_cast<WM_SCRIPT&>(w).set_string("Ann", 1); }}});
    record.type = WM_TYPE_CHECK_BOX;
    check_setters(style.visible,
                  {{"set_checked", [](WM_SCREEN_OBJECT& w) { static_cast<WM_CHECK_BOX&>(w).set_checked(1); }}});
}
} // namespace
