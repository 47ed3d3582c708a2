// A page of 40 buttons over a headless 1024 x 768 back buffer: 20 colour
// buttons (rounded, vertically faded, shaded) and 20 skinned from a style
// set's runtime cache, all with captions. Its full redraw is measured
// against one put of a 1024 x 768 picture, and the redraw after the
// pointer moves onto one colour button against the full redraw. Both sides
// of each pair are our own code: the ratios show how the cost scales.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "mouse.h"
#include "wm_button.h"
#include "wm_page_manager.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 1024, H = 768;
const int BUTTONS = 40, BUTTON_W = 120, BUTTON_H = 30;
const char* const skin_states[] = {"skin_up", "skin_down", "skin_over"};
const char* const rows[] = {"_top", "_mid", "_bottom"};
const char* const cols[] = {"_left", "_mid", "_right"};

// A private folder holding nine-slice skins for the up, down and over states.
struct SKIN_FOLDER
{
    char alias[2048] = {};
    std::string native;
    std::vector<std::string> files;
    bool ready = false;

    SKIN_FOLDER()
    {
        char pattern[] = "/tmp/widget_button_bench_XXXXXX";
        if (!mkdtemp(pattern)) {
            return;
        }
        native = pattern;
        FOLDER folder;
        if (!folder.set_from_path_string(pattern) || !folder.get(alias, nullptr)) {
            return;
        }
        for (int s = 0; s < 3; ++s) {
            for (int r = 0; r < 3; ++r) {
                for (int c = 0; c < 3; ++c) {
                    IMAGE piece;
                    piece.setup(8, 8);
                    piece.clear(0xFF204060u + static_cast<INT_U32>(s * 0x202020 + (r * 3 + c) * 0x050505), 1);
                    const std::string name = std::string(skin_states[s]) + rows[r] + cols[c] + ".png";
                    DATA_FILE* file = folder.open_data_file(name.c_str(), fm_write, 0, 0);
                    if (!file || !piece.save_png(file)) {
                        return;
                    }
                    folder.close(file);
                    files.push_back(native + "/" + name);
                }
            }
        }
        ready = true;
    }
    ~SKIN_FOLDER()
    {
        for (const std::string& f : files) {
            std::remove(f.c_str());
        }
        if (!native.empty()) {
            rmdir(native.c_str());
        }
    }
};

struct Page
{
    SKIN_FOLDER skins;
    WM_STYLE_SET style;
    WM_PAGE_MANAGER* manager = nullptr;
    std::vector<WM_BUTTON*> buttons;

    Page()
    {
        manager = kivo_bench::new_page_manager(W, H);
        kivo_bench::paint_gradient(manager->backgrounds[0], W, H);
        std::snprintf(style.image_path, sizeof style.image_path, "%s", skins.alias);
        style.set_image_base_string("skin");
        style.load_runtime_image_cache();
        for (int k = 0; k < BUTTONS; ++k) {
            const auto bx = static_cast<INT_S16>(8 + (k % 8) * 126), by = static_cast<INT_S16>(8 + (k / 8) * 150);
            const auto bx2 = static_cast<INT_S16>(bx + BUTTON_W - 1), by2 = static_cast<INT_S16>(by + BUTTON_H - 1);
            WM_BUTTON* b;
            if (k % 2 == 0) {
                b = new WM_BUTTON(bx, by, bx2, by2, 0xFF000000u | (k * 0x051F3Du), COLOUR_WHITE, "Colour", 0,
                                  BUTTON_VFADING, 0xFF, nullptr, nullptr, nullptr, 1, 2);
                b->fading_colour = COLOUR_BLACK;
                b->mouse_over_colour = COLOUR_ORANGE;
            } else {
                b = new WM_BUTTON(bx, by, bx2, by2, style, "Skinned", nullptr, nullptr, nullptr, nullptr, 2);
            }
            manager->areas[0].add_object(b, 0);
            buttons.push_back(b);
        }
        redraw_all();
    }
    ~Page() { delete manager; }
    void redraw_all()
    {
        manager->areas[0].mark_entire_redraw_area();
        manager->check_for_draw();
    }
};

Page& page()
{
    static Page p;
    return p;
}

void BM_button_page_redraw_full(benchmark::State& state)
{
    Page& p = page();
    if (!p.skins.ready || !p.buttons[1]->is_graphical()) {
        state.SkipWithError("no skins");
        return;
    }
    for (auto _ : state) {
        p.redraw_all();
    }
}
BENCHMARK(BM_button_page_redraw_full);

// Where every redraw begins: the background put over the whole window.
void BM_background_put(benchmark::State& state)
{
    Page& p = page();
    for (auto _ : state) {
        p.manager->backgrounds[0].put(0, 0, WM_SCREEN_OBJECT::surface, IMAGE_COPY_REPLACE);
    }
}
BENCHMARK(BM_background_put);

// One monitor pass with the pointer moved onto, then off, a colour button,
// and the redraw that follows.
void BM_pointer_onto_button(benchmark::State& state)
{
    Page& p = page();
    WM_BUTTON* target = p.buttons[18];
    bool on = false;
    for (auto _ : state) {
        on = !on;
        MOUSE::x = static_cast<INT_S16>(on ? target->x + 10 : target->x - 3);
        MOUSE::y = static_cast<INT_S16>(target->y + 10);
        p.manager->areas[0].monitor();
        p.manager->check_for_draw();
    }
    MOUSE::x = MOUSE::y = -1;
}
BENCHMARK(BM_pointer_onto_button);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"page of 40 buttons vs one 1024 x 768 put (both ours)", "BM_button_page_redraw_full", "BM_background_put"},
         {"pointer onto one button vs the page of 40 (both ours)", "BM_pointer_onto_button",
          "BM_button_page_redraw_full"}});
    IMAGE::shutdown_font_system();
    return rc;
}
