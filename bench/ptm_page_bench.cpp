// Building a page of 40 buttons and 10 text blocks from its records
// (setup_page with a handler that returns at once, then the widgets
// deleted) against building the same widgets with their constructors and
// adding them to the area. Both sides are our own code: the ratio is what
// the records cost on top of the widgets.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_button.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"
#include "wm_script.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <cstdio>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

constexpr int buttons = 40, texts = 10;

WM_MESG handler(WM_SCREEN_OBJECT*, void*, void*)
{
    return 0;
}

INT_S16 cell_x(int i)
{
    return static_cast<INT_S16>((i % 8) * 120);
}
INT_S16 cell_y(int i)
{
    return static_cast<INT_S16>((i / 8) * 60);
}

struct SCENE
{
    WM_PAGE_TOOL_MANAGER ptm;
    INT_U32 page_id = 0;
    char captions[buttons + texts][16];

    SCENE()
    {
        ptm.page_manager = kivo_bench::new_page_manager(1024, 768);
        ptm.create_new_area();
        ptm.areas[0].width = 1024, ptm.areas[0].height = 768;
        ptm.areas[0].create_new_page();
        WM_PTM_PAGE_INFO& page = ptm.areas[0].pages[0];
        page_id = page.id;
        page.alloc(buttons + texts);
        for (int i = 0; i < buttons + texts; i++) {
            std::snprintf(captions[i], sizeof captions[i], i < buttons ? "Button %d" : "Text %d", i);
            WM_PTM_OBJECT_INFO& r = page.objects[i];
            r.type = i < buttons ? WM_TYPE_BUTTON : WM_TYPE_SCRIPT;
            r.x = cell_x(i), r.y = cell_y(i), r.width = 110, r.height = 50;
            r.set_text(captions[i]);
            r.cid = static_cast<INT_U32>(i + 1);
        }
    }
    ~SCENE()
    {
        WM_SCREEN_OBJECT::surface = nullptr;
        ptm.clear();
    }
};

SCENE* scene = nullptr;

void BM_page_from_records(benchmark::State& state)
{
    WM_AREA& area = scene->ptm.page_manager->areas[0];
    for (auto _ : state) {
        scene->ptm.setup_page(scene->page_id, handler, 0);
        area.clear_objects(0, 0, 1);
    }
}

void BM_page_from_constructors(benchmark::State& state)
{
    WM_AREA& area = scene->ptm.page_manager->areas[0];
    for (auto _ : state) {
        WM_STYLE_SET style;
        for (int i = 0; i < buttons + texts; i++) {
            INT_S16 x = cell_x(i), y = cell_y(i);
            INT_S16 x2 = static_cast<INT_S16>(x + 109), y2 = static_cast<INT_S16>(y + 49);
            WM_SCREEN_OBJECT* w;
            if (i < buttons) {
                WM_BUTTON* b = new WM_BUTTON(x, y, x2, y2, style, scene->captions[i], "", handler, nullptr, nullptr, 2);
                b->set_hotkey(0xFFFFFFFFu);
                w = b;
            } else {
                w = new WM_SCRIPT(x, y, x2, y2, style, scene->captions[i]);
            }
            handler(w, nullptr, nullptr);
            area.add_object(w, 1);
        }
        area.clear_objects(0, 0, 1);
    }
}

BENCHMARK(BM_page_from_records);
BENCHMARK(BM_page_from_constructors);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    scene = new SCENE;
    const int rc =
        kivo_bench::run_with_ratios(argc, argv,
                                    {{"page of 40 buttons + 10 texts from records vs constructors (both ours)",
                                      "BM_page_from_records", "BM_page_from_constructors"}});
    delete scene;
    IMAGE::shutdown_font_system();
    return rc;
}
