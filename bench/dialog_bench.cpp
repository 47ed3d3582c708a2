// One redraw of a 400 x 300 dialog (title, colour frame, shading) over a
// 1024 x 768 page, composed at alpha 128, against the same redraw at full
// alpha. Both sides are our own code: the ratio is what partial alpha adds
// (the dialog's rectangle copied four times and blended once).
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_dialog.h"
#include "wm_page_manager.h"

#include <benchmark/benchmark.h>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

constexpr int W = 1024, H = 768;

struct SCENE
{
    WM_PAGE_MANAGER* manager = nullptr;
    WM_DIALOG* dialog = nullptr;

    SCENE()
    {
        manager = kivo_bench::new_page_manager(W, H);
        kivo_bench::paint_gradient(manager->backgrounds[0], W, H);
        EFFECT_INFO still = {0, 0, 0, 0xFF};
        const COLOUR none = COLOUR_INVISIBLE;
        dialog = new WM_DIALOG(-1, -1, 400, 300, "Settings", COLOUR_GREY, COLOUR_BLUE, none, none, none, none, none,
                               none, 1, &still);
        manager->areas[0].add_modal_object(dialog, 0);
        manager->check_for_draw();
    }
    ~SCENE() { delete manager; }
    // The dialog's own redraw of its rectangle, as the modal pass runs it
    // once the page has been painted there.
    void redraw(INT_U8 alpha)
    {
        using S = WM_SCREEN_OBJECT;
        dialog->current_alpha = dialog->target_alpha = alpha;
        const INT_S16 x2 = static_cast<INT_S16>(dialog->x + 399), y2 = static_cast<INT_S16>(dialog->y + 299);
        S::update_regions[0] = {dialog->y, dialog->x, x2, y2};
        S::update_regions_sz = 1;
        S::update_regions_index = 0;
        S::surface->set_active_area(dialog->x, dialog->y, x2, y2);
        dialog->check_for_redraw();
        S::surface->set_active_area(0, 0, W - 1, H - 1);
        S::update_regions_index = -1;
        S::update_regions_sz = 0;
    }
};

// Made at the first benchmark, after the font system has started; gone
// before it stops.
SCENE* the_scene = nullptr;

SCENE& scene()
{
    if (!the_scene) {
        the_scene = new SCENE;
    }
    return *the_scene;
}

void BM_dialog_redraw_alpha_128(benchmark::State& state)
{
    SCENE& s = scene();
    for (auto _ : state) {
        s.redraw(128);
    }
}
BENCHMARK(BM_dialog_redraw_alpha_128);

void BM_dialog_redraw_alpha_255(benchmark::State& state)
{
    SCENE& s = scene();
    for (auto _ : state) {
        s.redraw(255);
    }
}
BENCHMARK(BM_dialog_redraw_alpha_255);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    const int rc = kivo_bench::run_with_ratios(argc, argv,
                                               {{"dialog redraw at alpha 128 vs at 255 (both ours; target <= 8)",
                                                 "BM_dialog_redraw_alpha_128", "BM_dialog_redraw_alpha_255"}});
    delete the_scene;
    IMAGE::shutdown_font_system();
    return rc;
}
