// The page tool manager turning a definition saved and loaded here into the
// running interface: start-up, pages and dialogs built from their records.
#include "alloc_watch.h"
#include "console_capture.h"
#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "host_window.h"
#include "image_box.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "peak_memory.h"
#include "ptm_crafted.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_grid.h"
#include "wm_menu.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

// init_app names the application here; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

std::map<long, WM_SCREEN_OBJECT*> built; // creation message -> widget
std::vector<long> order;
int starts = 0;

WM_MESG on_widget(WM_SCREEN_OBJECT* w, void* d1, void*)
{
    order.push_back(static_cast<long>(reinterpret_cast<uintptr_t>(d1)));
    return built[order.back()] = w, 0;
}

class PtmStartupTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        built.clear(), order.clear(), starts = 0;
    }
    void TearDown() override
    {
        delete ptm.page_manager;
        ptm.page_manager = nullptr;
        ptm.clear();
        WidgetTest::TearDown();
    }
    template <typename T>
    static WM_PTM_OBJECT_INFO& add(T& owner, INT_U32 cid, int row = -1, int col = -1, WM_OBJECT_TYPE type = 0x10)
    {
        EXPECT_TRUE(owner.create_new_object(type));
        WM_PTM_OBJECT_INFO& r = owner.objects[owner.object_count - 1];
        r.cid = cid, r.x = 3, r.y = 4, r.width = 30, r.height = 10, r.grid_columns = 2;
        r.grid_row = static_cast<INT_S16>(row), r.grid_column = static_cast<INT_S16>(col);
        return r;
    }
    // Two areas; area 0: a page on a 40 x 20 picture with a grid (children: a cell, column -1,
    // a refused cell) and a text block, and a page of method 12. Two dialogs.
    void build_and_load()
    {
        imgtest::CANVAS pic(40, 20, {0xFF00FF00u});
        FOLDER images("$APPDATA/images", 1);
        DATA_FILE* f = images.open_data_file("bg.png", fm_write, 0, 0);
        ASSERT_TRUE(f && pic.save_png(f) && images.close(f));
        WM_PAGE_TOOL_MANAGER& d = ptm;
        d.set_name("Startup App");
        d.width = 320, d.height = 200, d.background_colour = 0xFF204060u;
        d.object_effects_delay = 77, d.shading_type = 3, d.border_colour = 0xFF111111u;
        d.page_effects = 1, d.page_effect_ms = 1234, d.menu_mode = 2, d.grey_background = 1, d.can_drag = 0;
        d.dialog_effect_info.open_delay = 55, d.hint_style_set.fg_colour = 0xFF0A0B0Cu;
        ASSERT_TRUE(d.create_new_area() && d.create_new_area() && d.create_new_image());
        d.images[0]->set_filename("bg.png");
        d.areas[0].x = 10, d.areas[0].y = 20, d.areas[0].width = 200, d.areas[0].height = 100;
        d.areas[1].y = 150, d.areas[1].width = 320, d.areas[1].height = 50;
        ASSERT_TRUE(d.areas[0].create_new_page() && d.areas[0].create_new_page());
        WM_PTM_PAGE_INFO& p = d.areas[0].pages[0];
        p.background = d.images[0];
        d.areas[0].pages[1].change_method = 12;
        WM_PTM_OBJECT_INFO& grid = add(p, 1, -1, -1, WM_TYPE_GRID);
        add(grid, 5, 0, 0), add(grid, 6, 0, -1), add(grid, 7, -5, 0);
        add(p, 8);
        ASSERT_TRUE(d.create_new_dialog() && d.create_new_dialog());
        d.dialogs[0]->set_name("Ask2"), d.dialogs[1]->set_name("Ask");
        add(*d.dialogs[1], 9);
        FOLDER app("$APPDATA");
        ASSERT_TRUE(d.save(app, "pages.bin", 0));
        d.clear();
        ASSERT_TRUE(d.load(app, "pages.bin", nullptr));
        page_id = d.areas[0].pages[0].id;
    }
    // The program's start with the definition loaded: the page manager, the
    // window, the areas, and the first page shown on its background.
    void show_first_page(WM_PAGE_MANAGER*& pm)
    {
        pm = ptm.init_app(nullptr);
        ASSERT_NE(pm, nullptr);
        ASSERT_EQ(ptm.open_graphics(), 1);
        WM_SCREEN_OBJECT::surface = get_back_buffer(0);
        ptm.init_areas(nullptr);
        EXPECT_EQ(ptm.setup_page(ptm.areas[0].pages[0].id, on_widget, 0), 1);
        EXPECT_EQ(imgtest::px(pm->backgrounds[0], 10, 20), 0xFF204060u);
    }
    WM_PAGE_TOOL_MANAGER ptm;
    INT_U32 page_id = 0;
};

TEST_F(PtmStartupTest, NothingLoadedDoesNothingThenStartUpReachesEveryDefault)
{
    EXPECT_EQ(ptm.init_app(nullptr), nullptr);
    EXPECT_EQ(ptm.open_graphics(), 0);
    EXPECT_EQ(ptm.toggle_fullscreen(), 0);
    ptm.init_areas([] { starts++; });
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::setup_pages(), 0);
    EXPECT_EQ(starts, 0);
    build_and_load();
    WM_PAGE_MANAGER* pm = ptm.init_app(nullptr);
    ASSERT_NE(pm, nullptr);
    EXPECT_EQ(pm->area_count, 2);
    EXPECT_STREQ(kivo_app_settings.name_and_version, "Startup App");
    KIVO_APP_SETTINGS::set_app_name_and_version(std::string(300, 'n').c_str());
    EXPECT_EQ(std::string(kivo_app_settings.name_and_version), std::string(255, 'n'));
    EXPECT_EQ(WM_SCREEN_OBJECT::object_effects_delay + WM_SCREEN_OBJECT::system_default_shading_type, 77u + 3u);
    EXPECT_EQ(WM_SCREEN_OBJECT::border_colour, 0xFF111111u);
    EXPECT_EQ(pm->page_effects_ms, 1234u);
    EXPECT_EQ(WM_MENU::menu_mode, 2u);
    EXPECT_EQ(WM_BUTTON::hint_style_set.fg_colour, 0xFF0A0B0Cu);
    EXPECT_EQ(WM_BUTTON::hint_style_set_initialised, 1);
    EXPECT_EQ(WM_DIALOG::default_dialog_effect_info.open_delay, 55);
    EXPECT_EQ(WM_DIALOG::grey_background, 1);
    EXPECT_EQ(WM_DIALOG::default_can_drag, 0);
    EXPECT_EQ(ptm.open_graphics(), 1);
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
    EXPECT_EQ(get_window_width(0) * 1000 + get_window_height(0), 320200);
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 319, 199), 0xFF204060u);
    ptm.init_areas([] { starts++; });
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(pm->areas[0].x + pm->areas[0].height + pm->areas[1].y, 10 + 100 + 150);
    EXPECT_EQ(ptm.toggle_fullscreen(), 1);
    WM_SCREEN_OBJECT::surface = get_back_buffer(0); // the harness clears the window's back buffer
}

TEST_F(PtmStartupTest, PagesAndDialogsAreBuiltFromTheirRecords)
{
    build_and_load();
    // A given page manager with fewer areas than the definition: only its own are placed.
    WM_PAGE_MANAGER* pm = ptm.init_app(new WM_PAGE_MANAGER(1, -1));
    ASSERT_NE(pm, nullptr);
    ptm.init_areas(nullptr);
    EXPECT_EQ(ptm.setup_page(page_id, on_widget, 2), 0);
    EXPECT_EQ(ptm.setup_page(page_id + 1000, on_widget, 0), 0);
    EXPECT_TRUE(built.empty());
    ASSERT_EQ(ptm.setup_page(page_id, on_widget, -1), 1);
    // Children's messages first; the refused cell's widget stays alive.
    EXPECT_EQ(order, (std::vector<long>{5, 6, 7, 1, 8}));
    auto* grid = static_cast<WM_GRID*>(built[1]);
    INT_S16 row = -1, col = -1;
    EXPECT_TRUE(grid->get_object_cell(built[5], row, col, 1));
    EXPECT_FALSE(grid->get_object_cell(built[6], row, col, 1));
    EXPECT_EQ(built[6]->x, grid->x + 3);
    EXPECT_EQ(built[7]->y, grid->y + 4);
    built[7]->resize(12, 12, 1);
    EXPECT_EQ(built[8]->definition, &ptm.areas[0].pages[0].objects[1]);
    EXPECT_EQ(pm->current_area->history[pm->current_area->history_index].unique_id, page_id);
    // 40 x 20 scaled to the 200 x 100 area at (10, 20).
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 10, 20), 0xFF00FF00u);
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 209, 119), 0xFF00FF00u);
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 210, 119), COLOUR_BLACK);
    // An area too large to scale a picture to (19.7 Mi pixels) gets none.
    pm->areas[0].resize(32767, 600, 0);
    imgtest::px(pm->backgrounds[0], 10, 20) = COLOUR_BLACK;
    ASSERT_EQ(ptm.setup_page(page_id, on_widget, 0), 1);
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 10, 20), COLOUR_BLACK);
    EXPECT_EQ(ptm.create_dialog("As", on_widget), nullptr);
    WM_DIALOG* dialog = ptm.create_dialog("Ask", on_widget);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(built[9]->definition, &ptm.dialogs[1]->objects[0]);
    delete dialog;
    EXPECT_EQ(ptm.get_page_change_method(ptm.areas[0].pages[1].id, 0), 12);
    EXPECT_EQ(ptm.get_page_change_method(page_id, 0), 10);
    EXPECT_EQ(ptm.get_page_change_method(ptm.areas[0].pages[1].id, 5), 10);
}

// A flat picture of 4097 x 4097 is a few kilobytes of file and 64 MiB of
// pixels: named as a page background it is refused from its header, and
// the page shows without it. A background of the area's size is drawn as
// it is, with no scaled copy made.
TEST_F(PtmStartupTest, BackgroundsPastThePictureLimitAreRefusedFromTheirHeader)
{
    FOLDER images("$APPDATA/images", 1);
    ASSERT_TRUE(kivo_test::write_flat_png(images.get_path_string("huge.png"), 4097, 4097));
    imgtest::CANVAS fit(200, 100, {0xFF00FF00u});
    DATA_FILE* f = images.open_data_file("fit.png", fm_write, 0, 0);
    ASSERT_TRUE(f && fit.save_png(f) && images.close(f));
    WM_PAGE_TOOL_MANAGER& d = ptm;
    d.width = 320, d.height = 200, d.background_colour = 0xFF204060u;
    ASSERT_TRUE(d.create_new_area() && d.create_new_image() && d.create_new_image());
    d.areas[0].x = 10, d.areas[0].y = 20, d.areas[0].width = 200, d.areas[0].height = 100;
    d.images[0]->set_name("huge"), d.images[0]->set_filename("huge.png");
    d.images[1]->set_name("fit"), d.images[1]->set_filename("fit.png");
    ASSERT_TRUE(d.areas[0].create_new_page() && d.areas[0].create_new_page());
    d.areas[0].pages[0].background = d.images[0];
    d.areas[0].pages[1].background = d.images[1];
    FOLDER app("$APPDATA");
    ASSERT_TRUE(d.save(app, "pages.bin", 0));
    d.clear();

    bool loaded = false;
    long long largest = kivo_test::largest_allocation([&] { loaded = d.load(app, "pages.bin", nullptr); });
    ASSERT_TRUE(loaded);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    EXPECT_STREQ(current_arg_string, "huge.png");
    if (largest >= 0) {
        EXPECT_LT(largest, 16L << 20);
    }
    ASSERT_EQ(d.find_image("huge")->image, nullptr);
    ASSERT_NE(d.find_image("fit")->image, nullptr);

    WM_PAGE_MANAGER* pm = nullptr;
    ASSERT_NO_FATAL_FAILURE(show_first_page(pm));
    largest =
        kivo_test::largest_allocation([&] { EXPECT_EQ(ptm.setup_page(d.areas[0].pages[1].id, on_widget, 0), 1); });
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 10, 20), 0xFF00FF00u);
    EXPECT_EQ(imgtest::px(pm->backgrounds[0], 209, 119), 0xFF00FF00u);
    if (largest >= 0) {
        EXPECT_LT(largest, 200 * 100 * 4);
    }
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
}

// One flat picture of 16 Mi pixels (64 MB), named by itself and by a hard
// link, in a folder named in as many ways as there are records: "$TEMP" in
// each letter case, then the folder or a link to it. Each way was once an
// entry of its own, 4.2 GB for 64 of them. One decode serves every image
// record and every style set's skin.
TEST_F(PtmStartupTest, OnePictureThroughEverySpellingAndLinkIsDecodedOnce)
{
    FOLDER images("$TEMP/images", 1);
    const std::string big = images.get_path_string("big.png");
    const std::string hard = images.get_path_string("hard.png");
    ASSERT_EQ(big.rfind(std::getenv("TMPDIR"), 0), 0u) << big;
    ASSERT_TRUE(kivo_test::write_flat_png(big, 4096, 4096));
    ASSERT_EQ(link(big.c_str(), hard.c_str()), 0);
    auto spelled = [](int i) {
        std::string alias = "$TEMP";
        for (int bit = 0; bit < 4; bit++) {
            if (i & (1 << bit)) {
                alias[1 + bit] = static_cast<char>(alias[1 + bit] - 'A' + 'a');
            }
        }
        return alias + (i < 16 ? "/images" : "/via" + std::to_string(i >> 4));
    };
    FOLDER temp("$TEMP");
    for (int via = 1; via < 5; via++) {
        ASSERT_EQ(symlink("images", temp.get_path_string(("via" + std::to_string(via)).c_str())), 0);
    }
    WM_PAGE_TOOL_MANAGER& d = ptm;
    constexpr int records = 64, sets = 16;
    for (int i = 0; i < records; i++) {
        ASSERT_TRUE(d.create_new_image());
        d.images[i]->set_name(("pic" + std::to_string(i)).c_str());
        d.images[i]->set_filename(i % 2 ? "big.png" : "hard.png");
        d.images[i]->path.set(spelled(i).c_str());
    }
    for (int i = 0; i < sets; i++) {
        ASSERT_TRUE(d.create_new_style_set());
        WM_STYLE_SET* set = d.style_sets[d.style_set_count - 1];
        set->set_name(("set" + std::to_string(i)).c_str());
        set->set_image_base_string(i % 2 ? "big" : "hard");
        std::memset(set->image_path, 0, sizeof set->image_path);
        const std::string folder = spelled(records + i);
        std::memcpy(set->image_path, folder.c_str(), folder.size());
    }
    FOLDER app("$APPDATA");
    ASSERT_TRUE(d.save(app, "spelled.bin", 0));
    d.clear();

    long growth = kivo_test::peak_memory_growth_kb([&] { EXPECT_TRUE(d.load(app, "spelled.bin", nullptr)); });
    if (growth >= 0) {
        std::printf("peak growth of loading %d records and %d style sets: %ld kB\n", records, sets, growth);
        EXPECT_LT(growth, 200L * 1024);
    }
    ASSERT_TRUE(d.load(app, "spelled.bin", nullptr));
    ASSERT_EQ(d.image_count, records);
    IMAGE* first = d.images[0]->image;
    ASSERT_TRUE(first && first->width == 4096 && first->height == 4096);
    int shared = 0, skins = 0;
    for (int i = 0; i < records; i++) {
        shared += d.images[i]->image == first ? 1 : 0;
    }
    for (int i = 0; i < d.style_set_count; i++) {
        IMAGE_BOX* box = d.style_sets[i]->runtime_cache[0];
        skins += box && box->mid_mid == first ? 1 : 0;
    }
    EXPECT_EQ(shared, records);
    EXPECT_EQ(skins, sets);
    long entries = 0;
    for (IMAGE_CACHE::CACHE_ENTRY* e = WM_SCREEN_OBJECT::image_cache.head; e; e = e->next) {
        entries += e->image.width > 0 ? 1 : 0;
    }
    EXPECT_EQ(entries, 1);
}

// Four pictures of 16 Mi pixels fill the 64 Mi the shared cache holds
// together: a fifth, named as a page background, is refused (error 0x1007,
// a debug line) and the page shows without it. Once the definition is let
// go, its pictures make room for the next one's.
TEST_F(PtmStartupTest, PicturesPastTheTotalAreRefusedAndThePageShowsWithoutThem)
{
    FOLDER images("$APPDATA/images", 1);
    WM_PAGE_TOOL_MANAGER& d = ptm;
    d.width = 320, d.height = 200, d.background_colour = 0xFF204060u;
    ASSERT_TRUE(d.create_new_area());
    d.areas[0].width = 200, d.areas[0].height = 100;
    constexpr int pictures = 5;
    for (int i = 0; i < pictures; i++) {
        const std::string name = "full" + std::to_string(i) + ".png";
        ASSERT_TRUE(kivo_test::write_flat_png(images.get_path_string(name.c_str()), 4096, 4096));
        ASSERT_TRUE(d.create_new_image());
        d.images[i]->set_name(("full" + std::to_string(i)).c_str());
        d.images[i]->set_filename(name.c_str());
    }
    ASSERT_TRUE(d.areas[0].create_new_page());
    d.areas[0].pages[0].background = d.images[pictures - 1];
    FOLDER app("$APPDATA");
    ASSERT_TRUE(d.save(app, "full.bin", 0));
    d.clear();

    set_error_code(ERRCODE_NONE, nullptr);
    bool loaded;
    {
        kivo_test::CONSOLE_CAPTURE capture(platform_debug_stream);
        loaded = d.load(app, "full.bin", nullptr);
    }
    const std::string& console = kivo_test::CONSOLE_CAPTURE::text();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    EXPECT_STREQ(current_arg_string, "full4.png");
    EXPECT_NE(console.find("full4.png: picture of 16777216 pixels refused"), std::string::npos) << console;
    for (int i = 0; i < pictures; i++) {
        EXPECT_EQ(d.find_image(("full" + std::to_string(i)).c_str())->image != nullptr, i < pictures - 1) << i;
    }

    WM_PAGE_MANAGER* pm = nullptr;
    ASSERT_NO_FATAL_FAILURE(show_first_page(pm));
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
    delete ptm.page_manager;
    ptm.page_manager = nullptr;

    // Once the definition is let go, its pictures, unused, give their room
    // up to the next picture asked for.
    d.clear();
    IMAGE* later = WM_SCREEN_OBJECT::image_cache.open_image("$APPDATA/images", "full4.png", -1, -1);
    ASSERT_NE(later, nullptr);
    WM_SCREEN_OBJECT::image_cache.do_close(WM_SCREEN_OBJECT::image_cache.get_entry(later));
}

TEST_F(PtmStartupTest, FontLookupsFindRecordsByNameThenFileName)
{
    ASSERT_TRUE(ptm.create_new_font() && ptm.create_new_font());
    ptm.fonts[0]->set_name("Serif"), ptm.fonts[0]->set_filename("Arial"), ptm.fonts[0]->font_slot = 255;
    ptm.fonts[1]->set_name("Arial"), ptm.fonts[1]->set_filename("Arial.ttf"), ptm.fonts[1]->font_slot = 4;
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::style_set_read_find_font("Arial", &ptm), 4);
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::style_set_read_find_font("Arial.ttf", &ptm), 4);
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::style_set_read_find_font("Mono", &ptm), -1);
    EXPECT_STREQ(WM_PAGE_TOOL_MANAGER::style_set_write_find_font(4, &ptm), "Arial.ttf");
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::style_set_write_find_font(5, &ptm), nullptr);
}

} // namespace
