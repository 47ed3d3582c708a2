// Building list boxes from arrays of lines, as a page definition does: one
// box of 1,000 lines against ten boxes of 100 lines (the same number of
// lines), each built and deleted again. Equal cost means a line costs the
// same however many came before it. Also one box of 100 lines against a
// tenth of the ten, and the same pairs for a box that is on a shown page
// and gets its lines one add_line at a time, as the program fills its
// boxes. Both sides of every pair are our own code.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 640, H = 480;
WM_PAGE_MANAGER* manager = nullptr;
EFFECT_INFO no_effects = {0, 0, 0, 0xFF};
std::vector<std::string> texts;
std::vector<const char*> lines;

void build(int count)
{
    WM_STYLE_SET style;
    auto* box = new WM_LIST_BOX(10, 10, 209, 35, 0, static_cast<INT_S16>(count), lines.data(), 0, style, style, style,
                                nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &no_effects);
    benchmark::DoNotOptimize(box->line_count);
    delete box;
}

// `boxes` boxes of `count` lines each, one after the other.
void build_boxes(benchmark::State& state, int boxes, int count)
{
    for (auto _ : state) {
        for (int i = 0; i < boxes; ++i) {
            build(count);
        }
    }
}

// An empty box placed on the shown page, then `count` lines by add_line.
void add_on_page(int count)
{
    WM_STYLE_SET style;
    auto* box = new WM_LIST_BOX(10, 10, 209, 35, 0, 0, nullptr, 0, style, style, style, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, &no_effects);
    manager->areas[0].add_object(box, 0);
    for (int i = 0; i < count; ++i) {
        box->add_line(lines[static_cast<size_t>(i)], nullptr, 0, 0, 0);
    }
    benchmark::DoNotOptimize(box->line_count);
    manager->areas[0].remove_object(box, 1, 0);
}

void add_boxes(benchmark::State& state, int boxes, int count)
{
    for (auto _ : state) {
        for (int i = 0; i < boxes; ++i) {
            add_on_page(count);
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    // A popup area that holds about a dozen rows, as on the program's pages.
    WM_PAGE_MANAGER::popup_y1 = 36;
    WM_PAGE_MANAGER::popup_y2 = 276;
    for (int i = 0; i < 1000; ++i) {
        texts.push_back("Line " + std::to_string(i * 7919 % 1000) + (i % 3 ? " of the list" : ""));
    }
    for (const std::string& t : texts) {
        lines.push_back(t.c_str());
    }
    const struct
    {
        const char* name;
        int boxes, count;
    } cases[] = {
        {"BM_build_1000", 1, 1000}, {"BM_build_10x100", 10, 100}, {"BM_build_100", 1, 100}, {"BM_build_10x10", 10, 10}};
    for (const auto& c : cases) {
        benchmark::RegisterBenchmark(c.name, build_boxes, c.boxes, c.count);
    }
    const struct
    {
        const char* name;
        int boxes, count;
    } on_page[] = {
        {"BM_add_1000", 1, 1000}, {"BM_add_10x100", 10, 100}, {"BM_add_100", 1, 100}, {"BM_add_10x10", 10, 10}};
    for (const auto& c : on_page) {
        benchmark::RegisterBenchmark(c.name, add_boxes, c.boxes, c.count);
    }

    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"list-box build, 1,000 lines / 10 x 100 lines (ours; target <= 1.2)", "BM_build_1000", "BM_build_10x100"},
         {"list-box build, 100 lines / 10 x 10 lines (ours)", "BM_build_100", "BM_build_10x10"},
         {"add_line on a shown page, 1,000 lines / 10 x 100 lines (ours; target <= 1.2)", "BM_add_1000",
          "BM_add_10x100"},
         {"add_line on a shown page, 100 lines / 10 x 10 lines (ours)", "BM_add_100", "BM_add_10x10"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
