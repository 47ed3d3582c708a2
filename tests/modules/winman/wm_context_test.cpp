// The shared state of the widget layer: every class's name for it has its
// own place in the one context, that is ready before any static object is
// built; a new run starts from the documented values and keeps the
// registered page tool manager; the shared objects empty without leaving
// anything holding images of the emptied cache.
#include "widget_test.h"

#include "data_file.h"
#include "folder.h"
#include "wm_button.h"
#include "wm_context.h"
#include "wm_dialog.h"
#include "wm_floating_menu.h"
#include "wm_grid.h"
#include "wm_image.h"
#include "wm_keyboard.h"
#include "wm_list_box.h"
#include "wm_menu.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_scrollbar.h"
#include "wm_style_set.h"
#include "wm_text_edit.h"

#include <algorithm>
#include <cstring>
#include <vector>

using namespace kivo_test;

namespace {

using S = WM_SCREEN_OBJECT;
using ContextTest = WidgetTest;

// Built before main and before the widget library's own sources (a test's
// objects come first in the link), as a program's page tool manager is:
// what it finds shows whether the context and the shared objects were
// ready then.
struct EARLY_OBJECT
{
    INT_U32 return_key = S::return_key;
    INT_U32 update_region_method = S::update_region_method;
    long cache_limit = S::image_cache.max_pixels;
} early;

struct FIELD
{
    const char* at;
    size_t size;
};

template <class T> FIELD field(T& value)
{
    return {reinterpret_cast<const char*>(&value), sizeof value};
}

bool same_effect(const EFFECT_INFO& e, INT_U16 flags, INT_S32 open, INT_S32 displaying, INT_U8 alpha)
{
    return e.flags == flags && e.open_delay == open && e.displaying_delay == displaying && e.alpha == alpha;
}

} // namespace

TEST(WmContext, IsReadyForStaticObjectsBuiltBeforeMain)
{
    EXPECT_EQ(early.return_key, 36u);
    EXPECT_EQ(early.update_region_method, 3u);
    EXPECT_EQ(early.cache_limit, WM_MAX_PICTURE_PIXELS);
}

// A name bound to another's place, or left outside the context, would
// escape the harness's reset or share a value by accident.
TEST(WmContext, EveryClassNameHasItsOwnPlaceInTheContext)
{
    using B = WM_BUTTON;
    using D = WM_DIALOG;
    using P = WM_PAGE_MANAGER;
    using T = WM_PAGE_TOOL_MANAGER;
    using E = WM_TEXT_EDIT;
    std::vector<FIELD> fields = {field(S::focal_object),
                                 field(S::focal_object_monitored),
                                 field(S::return_key),
                                 field(S::right_mouse_object),
                                 field(S::monitor_modals),
                                 field(S::creation_callback),
                                 field(S::creation_data),
                                 field(S::deletion_callback),
                                 field(S::deletion_data),
                                 field(S::system_default_shading_type),
                                 field(S::flashing_flags),
                                 field(S::now_ms),
                                 field(S::clip_update_to_area),
                                 field(S::clip_monitor_to_area),
                                 field(S::object_effects_delay),
                                 field(S::surface),
                                 field(S::pm),
                                 field(S::dark_shading_colour),
                                 field(S::light_shading_colour),
                                 field(S::border_colour),
                                 field(S::outline_colour),
                                 field(S::default_shading_base_colour),
                                 field(S::update_regions),
                                 field(S::update_regions_sz),
                                 field(S::update_regions_index),
                                 field(S::update_region_method),
                                 field(S::update_region_joining_value),
                                 field(B::auto_pressing_button),
                                 field(B::auto_pressing_ltv),
                                 field(B::auto_pressing_button_down_delay),
                                 field(B::auto_pressing_delay),
                                 field(B::auto_repeat_rate),
                                 field(B::auto_repeat_threshhold),
                                 field(B::fast_disabled_text),
                                 field(D::default_positioning_x1),
                                 field(D::default_positioning_y1),
                                 field(D::default_positioning_x2),
                                 field(D::default_positioning_y2),
                                 field(D::style_sets_initialized),
                                 field(D::default_can_drag),
                                 field(D::drag_contents),
                                 field(D::darken_background),
                                 field(D::grey_background),
                                 field(D::active_dialog),
                                 field(D::default_dialog_effect_info),
                                 field(WM_FLOATING_MENU::active_menu),
                                 field(WM_FLOATING_MENU::default_floating_menu_effect_info),
                                 field(WM_GRID::mouse_wheel_half_line_factor),
                                 field(WM_GRID::current_grid),
                                 field(WM_IMAGE::default_show_clickable_cursor),
                                 field(WM_LIST_BOX::default_list_box_effect_info),
                                 field(WM_MENU::menu_mode),
                                 field(WM_MENU::default_menu_effect_info),
                                 field(P::monitor_delay_ms),
                                 field(P::popup_x1),
                                 field(P::popup_y1),
                                 field(P::popup_x2),
                                 field(P::popup_y2),
                                 field(P::page_effects_x1),
                                 field(P::page_effects_y1),
                                 field(P::page_effects_x2),
                                 field(P::page_effects_y2),
                                 field(P::busy_mouse_cursor_on_page_change),
                                 field(P::monitor_mouse_cursor),
                                 field(P::check_screen_resize),
                                 field(P::frame_hook),
                                 field(T::me),
                                 field(T::file_version),
                                 field(T::loading_callback),
                                 field(T::loading_data),
                                 field(T::generic_object_callback),
                                 field(T::generic_object_data),
                                 field(WM_PTM_OBJECT_INFO::ptm),
                                 field(WM_SCROLLBAR::button_auto_repeat_threshhold),
                                 field(WM_SCROLLBAR::button_auto_repeat_rate),
                                 field(WM_SCROLLBAR::mouse_wheel_focus),
                                 field(WM_STYLE_SET::cache_flags),
                                 field(WM_STYLE_SET::cache_ibox_data),
                                 field(E::use_soft_keyboard),
                                 field(E::soft_keyboard),
                                 field(E::soft_key_mapping),
                                 field(E::soft_key_show_hint),
                                 field(E::soft_key_ignore_in_me)};
    const char* begin = reinterpret_cast<const char*>(&wm_context);
    for (size_t i = 0; i < fields.size(); ++i) {
        EXPECT_TRUE(fields[i].at >= begin && fields[i].at + fields[i].size <= begin + sizeof wm_context) << i;
    }
    std::sort(fields.begin(), fields.end(), [](const FIELD& a, const FIELD& b) { return a.at < b.at; });
    for (size_t i = 1; i < fields.size(); ++i) {
        EXPECT_LE(fields[i - 1].at + fields[i - 1].size, fields[i].at) << "overlap at offset " << fields[i].at - begin;
    }
}

TEST_F(ContextTest, ANewRunStartsFromTheDocumentedValuesAndKeepsTheRegisteredManager)
{
    const INT_U16 version_before = WM_PAGE_TOOL_MANAGER::file_version;
    WM_PAGE_TOOL_MANAGER manager;
    WM_PAGE_TOOL_MANAGER::file_version = 17;
    PROBE probe(0, 0, 1, 1, COLOUR_RED);
    S::focal_object = &probe;
    S::update_regions_index = 5;
    WM_DIALOG::default_positioning_y2 = 40;
    WM_DIALOG::default_dialog_effect_info = {};
    WM_MENU::menu_mode = 2;
    WM_TEXT_EDIT::soft_key_mapping = &wkbm_phone_default;
    WM_PAGE_MANAGER::popup_x2 = 7;
    WM_SCROLLBAR::button_auto_repeat_rate = 1;

    wm_context.state = {};
    EXPECT_EQ(S::focal_object, nullptr);
    EXPECT_EQ(S::return_key, 36u);
    EXPECT_EQ(S::monitor_modals, 1);
    EXPECT_EQ(S::system_default_shading_type, 6u);
    EXPECT_EQ(S::object_effects_delay, 200u);
    const COLOUR colours[] = {S::dark_shading_colour, S::light_shading_colour, S::border_colour, S::outline_colour,
                              S::default_shading_base_colour};
    const COLOUR documented[] = {COLOUR_DARK_GREY, COLOUR_WHITE, COLOUR_BLACK, COLOUR_YELLOW, COLOUR_INVISIBLE};
    EXPECT_TRUE(std::equal(colours, colours + 5, documented));
    EXPECT_EQ(S::update_regions_sz, 0);
    EXPECT_EQ(S::update_regions_index, -1);
    EXPECT_EQ(S::update_region_method, 3u);
    EXPECT_EQ(S::update_region_joining_value, 32);
    EXPECT_EQ(WM_BUTTON::auto_pressing_button_down_delay, 500u);
    EXPECT_EQ(WM_BUTTON::auto_repeat_rate, 30u);
    EXPECT_EQ(WM_BUTTON::auto_repeat_threshhold, 300u);
    EXPECT_EQ(WM_DIALOG::default_positioning_y2, -1);
    EXPECT_EQ(WM_DIALOG::default_can_drag, 1);
    EXPECT_EQ(WM_DIALOG::drag_contents, 1);
    EXPECT_TRUE(same_effect(WM_DIALOG::default_dialog_effect_info, 0x47C, 300, 1000, 0xC0));
    EXPECT_TRUE(same_effect(WM_FLOATING_MENU::default_floating_menu_effect_info, 0xF, 200, 200, 0xE0));
    EXPECT_TRUE(same_effect(WM_MENU::default_menu_effect_info, 0x60, 100, 200, 0xE0));
    EXPECT_TRUE(same_effect(WM_LIST_BOX::default_list_box_effect_info, 0x60, 100, 200, 0xE0));
    EXPECT_EQ(WM_MENU::menu_mode, 0u);
    EXPECT_EQ(WM_TEXT_EDIT::use_soft_keyboard, 0xFF);
    EXPECT_EQ(WM_TEXT_EDIT::soft_key_mapping, &wkbm_english_british_default);
    EXPECT_EQ(WM_PAGE_MANAGER::popup_x2, -1);
    EXPECT_EQ(WM_PAGE_MANAGER::busy_mouse_cursor_on_page_change, 1);
    EXPECT_EQ(WM_SCROLLBAR::button_auto_repeat_threshhold, 500u);
    EXPECT_EQ(WM_SCROLLBAR::button_auto_repeat_rate, 60u);
    EXPECT_EQ(WM_GRID::mouse_wheel_half_line_factor, 1);
    EXPECT_EQ(WM_STYLE_SET::cache_flags, 1);
    EXPECT_EQ(WM_STYLE_SET::cache_ibox_data, 1);

    // The manager was built before the run began, as a program's is.
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::me, &manager);
    EXPECT_EQ(WM_PTM_OBJECT_INFO::ptm, &manager);
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::file_version, 17);
    WM_PAGE_TOOL_MANAGER::file_version = version_before;
}

TEST_F(ContextTest, SharedObjectsEmptyWithoutLeavingSkinsOfTheEmptiedCache)
{
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    char alias[2048] = {};
    folder.get(alias, nullptr);
    imgtest::CANVAS picture(2, 2, {0xFF336699u});
    DATA_FILE* file = folder.open_data_file("skin.png", fm_write, 0, 0);
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(picture.save_png(file));
    folder.close(file);
    // The hint set outlives a run: put back as it was, for the tests after.
    const WM_STYLE_SET hint_before = WM_BUTTON::hint_style_set;
    auto load_skin = [&alias](WM_STYLE_SET& set) {
        std::memcpy(set.image_path, alias, sizeof alias);
        set.set_image_base_string("skin");
        set.load_runtime_image_cache();
        return set.get_image_cache_loaded() == 1;
    };
    ASSERT_TRUE(load_skin(WM_DIALOG::default_dialog_style_set));
    ASSERT_TRUE(load_skin(WM_BUTTON::hint_style_set));
    WM_BUTTON::hint_style_set.fg_colour = 0xFF010203u;
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    auto* modal = new PROBE(0, 0, 10, 10, COLOUR_RED);
    root.add_modal_object(modal, 0);
    S::up_arrow_image = picture;
    ASSERT_TRUE(load_action_sound());

    wm_clear_shared_objects();
    EXPECT_EQ(S::modal_screen_objects.head, nullptr);
    EXPECT_EQ(PROBE::live, 1); // taken off the list, not deleted
    EXPECT_EQ(WM_DIALOG::default_dialog_style_set.get_image_cache_loaded(), 0);
    EXPECT_EQ(WM_DIALOG::default_dialog_style_set.fg_colour, WM_STYLE_SET().fg_colour);
    EXPECT_EQ(S::image_cache.head, nullptr);
    EXPECT_EQ(S::up_arrow_image.width, 0);
    EXPECT_FALSE(S::action_sound.is_loaded());
    // The hint's look stays; its skins went back before the cache emptied,
    // so replacing the set once the cache holds pictures again touches
    // nothing freed.
    EXPECT_EQ(WM_BUTTON::hint_style_set.fg_colour, 0xFF010203u);
    EXPECT_EQ(WM_BUTTON::hint_style_set.get_image_cache_loaded(), 0);
    WM_STYLE_SET other;
    ASSERT_TRUE(load_skin(other));
    WM_BUTTON::hint_style_set = hint_before;
    delete modal;
}
