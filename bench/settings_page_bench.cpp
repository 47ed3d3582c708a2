// The program's settings page, built from the program's own pages.bin with
// its real style sets (several faces, each at its own size), redrawn whole
// over the headless back buffer, against a memcpy of the same frame. Unlike
// the widget benchmarks, whose widgets share one style, this page mixes
// faces and sizes the way the program does, so the glyph cache has to keep
// them all. Also: a list box on the shown page filled by add_line, as the
// page fills its own, with 1,000 lines against ten boxes of 100.
#include "app.h"
#include "bench_ratio.h"
#include "database.h"
#include "folder.h"
#include "host_window.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_page_tool_manager.h"
#include "wm_screen_object.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

// The program defines these beside its entry point.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};
DATABASE db;
WM_PAGE_TOOL_MANAGER ptm;

namespace {

bool page_ready = false;
std::vector<INT_U32> frame_copy;

int objects_under(WM_SCREEN_OBJECT* root)
{
    int n = 0;
    for (INT_S16 i = 0; WM_SCREEN_OBJECT* child = root->get_screen_object(i); ++i) {
        n += 1 + objects_under(child);
    }
    return n;
}

// Start-up as the program runs it, on SDL's dummy driver: the definition,
// the window and the settings page, without page effects.
bool start_settings_page()
{
    FOLDER app("$APPDATA");
    WM_PAGE_TOOL_MANAGER::generic_object_callback = create_generic_objects;
    if (!ptm.load(app, "pages.bin", nullptr) || !ptm.init_app(nullptr)) {
        return false;
    }
    ptm.page_manager->page_effects = 0;
    if (!ptm.open_graphics()) {
        return false;
    }
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
    ptm.init_areas(starting_pages);
    // The logo, when the definition asks for one, runs on the clock.
    for (int i = 0; i < 400 && WM_SCREEN_OBJECT::surface; ++i) {
        app_main();
        if (objects_under(&ptm.page_manager->areas[0]) > 10) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    IMAGE* s = WM_SCREEN_OBJECT::surface;
    return s && s->pixels && objects_under(&ptm.page_manager->areas[0]) > 10;
}

// The page's list box and the object that holds it.
WM_LIST_BOX* find_list_box(WM_SCREEN_OBJECT* root, WM_SCREEN_OBJECT*& holder)
{
    for (INT_S16 i = 0; WM_SCREEN_OBJECT* child = root->get_screen_object(i); ++i) {
        if (child->type & WM_TYPE_LIST_BOX) {
            holder = root;
            return static_cast<WM_LIST_BOX*>(child);
        }
        if (WM_LIST_BOX* box = find_list_box(child, holder)) {
            return box;
        }
    }
    return nullptr;
}

std::vector<std::string> line_texts;

// A box beside the page's own, with its style sets, on the same parent:
// each line added while the page is shown, then the box taken off again.
void fill_box_on_page(WM_LIST_BOX* model, WM_SCREEN_OBJECT* page, int count)
{
    WM_STYLE_SET* face = ptm.find_style_set("Race List");
    WM_STYLE_SET* popup = ptm.find_style_set("Listbox Popup");
    WM_STYLE_SET* bar = ptm.find_style_set("Grid Scrollbar");
    auto* box = new WM_LIST_BOX(model->x, model->y, static_cast<INT_S16>(model->x + model->width - 1),
                                static_cast<INT_S16>(model->y + model->height - 1), 5, 0, nullptr, 0, *face, *popup,
                                *bar, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
    page->add_object(box, 0);
    for (int i = 0; i < count; ++i) {
        box->add_line(line_texts[static_cast<size_t>(i)].c_str(), nullptr, 0, 0, 0);
    }
    benchmark::DoNotOptimize(box->line_count);
    page->remove_object(box, 1, 0);
}

void add_lines_on_page(benchmark::State& state, int boxes, int count)
{
    WM_SCREEN_OBJECT* page = nullptr;
    WM_LIST_BOX* model = page_ready ? find_list_box(&ptm.page_manager->areas[0], page) : nullptr;
    if (!model || !ptm.find_style_set("Race List") || !ptm.find_style_set("Listbox Popup") ||
        !ptm.find_style_set("Grid Scrollbar")) {
        state.SkipWithError("the settings page has no list box");
        return;
    }
    for (auto _ : state) {
        for (int i = 0; i < boxes; ++i) {
            fill_box_on_page(model, page, count);
        }
    }
    ptm.page_manager->areas[0].mark_entire_redraw_area();
    ptm.page_manager->check_for_draw();
}

void redraw_all()
{
    ptm.page_manager->areas[0].mark_entire_redraw_area();
    ptm.page_manager->check_for_draw();
}

void BM_settings_page_redraw(benchmark::State& state)
{
    if (!page_ready) {
        state.SkipWithError("the settings page could not be built");
        return;
    }
    for (auto _ : state) {
        redraw_all();
        benchmark::DoNotOptimize(WM_SCREEN_OBJECT::surface->pixels);
    }
}
BENCHMARK(BM_settings_page_redraw)->Unit(benchmark::kMicrosecond);

void BM_frame_memcpy(benchmark::State& state)
{
    if (!page_ready) {
        state.SkipWithError("the settings page could not be built");
        return;
    }
    const IMAGE& s = *WM_SCREEN_OBJECT::surface;
    const size_t words = static_cast<size_t>(s.stride) * static_cast<size_t>(s.height);
    frame_copy.resize(words);
    for (auto _ : state) {
        std::memcpy(frame_copy.data(), s.pixels, words * sizeof(INT_U32));
        benchmark::DoNotOptimize(frame_copy.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_frame_memcpy)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    setenv("SDL_VIDEODRIVER", "dummy", 0);
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    IMAGE::startup_font_system();
    page_ready = start_settings_page();
    for (int i = 0; i < 1000; ++i) {
        line_texts.push_back("Line " + std::to_string(i * 7919 % 1000) + (i % 3 ? " of the list" : ""));
    }
    benchmark::RegisterBenchmark("BM_add_lines_1000_on_page", add_lines_on_page, 1, 1000)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark("BM_add_lines_10x100_on_page", add_lines_on_page, 10, 100)
        ->Unit(benchmark::kMicrosecond);
    const int rc =
        kivo_bench::run_with_ratios(argc, argv,
                                    {{"settings page full redraw / memcpy of the frame (target <= 6)",
                                      "BM_settings_page_redraw", "BM_frame_memcpy"},
                                     {"list box on the shown page, 1,000 lines by add_line / 10 x 100 (target <= 1.2)",
                                      "BM_add_lines_1000_on_page", "BM_add_lines_10x100_on_page"}});
    release_app_resources();
    WM_SCREEN_OBJECT::surface = nullptr;
    IMAGE::shutdown_font_system();
    return rc;
}
