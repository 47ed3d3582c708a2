// Typing at the end of a 300-pixel text edit that holds 100, 1,000, 10,000
// and 32,000 characters. One iteration is two keystrokes, each one pass of
// the edit and the page's redraw: a typed letter, then a backspace, so the
// length stays put. The ratios against 100 characters show whether a
// keystroke costs what the field shows or what the text holds. Both sides
// of every pair are our own code.
#include "bench_pages.h"
#include "bench_ratio.h"
#include "image.h"
#include "keyboard.h"
#include "kivo_app_settings.h"
#include "wm_page_manager.h"
#include "wm_style_set.h"
#include "wm_text_edit.h"

#include <benchmark/benchmark.h>

#include <string>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int W = 640, H = 200;
const int LENGTHS[] = {100, 1000, 10000, 32000};
WM_PAGE_MANAGER* manager = nullptr;
WM_TEXT_EDIT* edits[4] = {};

std::string words(size_t bytes)
{
    const char* const pool[] = {"lorem", "ipsum", "dolor", "sit", "amet", "Tollbeck", "elit", "sed", "magna"};
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i) {
        s += pool[(i * 7 + i / 3) % (sizeof pool / sizeof pool[0])];
        s += ' ';
    }
    s.resize(bytes);
    return s;
}

// A letter or a backspace through the keyboard buffer, the edit's pass and
// the redraw of what it asked for.
void keystroke(WM_TEXT_EDIT* edit, unsigned c)
{
    KEYBOARD::process_char_event(KEYBOARD::unmap_char(c));
    benchmark::DoNotOptimize(edit->monitor());
    manager->check_for_draw();
}

void typing(benchmark::State& state, int which)
{
    WM_TEXT_EDIT* edit = edits[which];
    if (!edit) {
        state.SkipWithError("no font");
        return;
    }
    WM_SCREEN_OBJECT::focal_object = edit;
    for (auto _ : state) {
        keystroke(edit, 'x');
        keystroke(edit, 8);
    }
}

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    manager = kivo_bench::new_page_manager(W, H);
    manager->backgrounds[0].clear(COLOUR_DARK_GREY, 1);
    // No question to the system about a keyboard: the real one is used.
    WM_TEXT_EDIT::use_soft_keyboard = 0;
    if (IMAGE::is_font_valid(WM_SCREEN_OBJECT::surface->font_slot)) {
        WM_STYLE_SET style;
        style.fg_colour = COLOUR_BLACK;
        style.bg_colour = COLOUR_WHITE;
        style.font_x_sz = style.font_y_sz = 16;
        for (int i = 0; i < 4; ++i) {
            const std::string text = words(static_cast<size_t>(LENGTHS[i]));
            edits[i] = new WM_TEXT_EDIT(10, static_cast<INT_S16>(10 + 40 * i), 300, 32767, text.c_str(), style, nullptr,
                                        nullptr, nullptr);
            manager->areas[0].add_object(edits[i], 0);
        }
    }
    manager->areas[0].mark_entire_redraw_area();
    manager->check_for_draw();
    for (int i = 0; i < 4; ++i) {
        benchmark::RegisterBenchmark(("BM_type_" + std::to_string(LENGTHS[i])).c_str(), typing, i);
    }

    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"keystroke at the end, 32,000 / 100 characters (ours; target <= 2)", "BM_type_32000", "BM_type_100"},
         {"keystroke at the end, 10,000 / 100 characters (ours)", "BM_type_10000", "BM_type_100"},
         {"keystroke at the end, 1,000 / 100 characters (ours)", "BM_type_1000", "BM_type_100"}});
    delete manager;
    destroy_back_buffer();
    IMAGE::shutdown_font_system();
    return rc;
}
