// Dialog fades and slides on the fake clock, every way a dialog closes,
// the darkened background and partial alpha, through the page manager.
#include "test_pages.h"

#include "kivo_host.h"
#include "wm_dialog.h"

#include <array>
#include <climits>
#include <functional>
#include <map>

using namespace kivo_test;

namespace {

using S = WM_SCREEN_OBJECT;
using SAMPLE = std::array<int, 3>; // x, y, alpha
EFFECT_INFO def = {0x47C, 300, 1000, 0xC0}, fades = {0xF, 200, 200, 0xE0};

EFFECT_INFO slide(INT_U16 flags, INT_S32 delay = 300)
{
    return {flags, delay, 0, 0xFF};
}

// Dialogs stand at (300, 200), 200 x 100, holding one probe, over a green
// page in an 800 x 600 window.
class DialogEffects : public PageTest
{
protected:
    void SetUp() override
    {
        PageTest::SetUp();
        new TEST_PAGE(*new WM_PAGE_MANAGER(1, -1), 1, 0, 1, COLOUR_GREEN);
        frame(0);
    }
    static WM_MESG frame(INT_U32 ms) { return kivo_fake_clock_advance_ms(ms), S::pm->monitor(0); }
    static WM_DIALOG* open(EFFECT_INFO e, INT_S16 x = 300, INT_S16 y = 200, INT_S16 w = 200, INT_S16 h = 100)
    {
        const COLOUR o = COLOUR_INVISIBLE;
        auto* d = new WM_DIALOG(x, y, w, h, nullptr, COLOUR_BLUE, o, o, o, o, o, o, o, 1, &e);
        d->add_object(new PROBE(10, 10, 20, 20, COLOUR_RED), 1);
        S::pm->areas[0].add_modal_object(d, 0);
        return d;
    }
    static PROBE* child(WM_DIALOG* d) { return static_cast<PROBE*>(d->contents->get_screen_object(0)); }
    // Sixteen frames of ms, or until the dialog hides; what each step left,
    // by ms since the effect's first step.
    static std::map<INT_U32, SAMPLE> run(WM_DIALOG* d, INT_U32 ms)
    {
        std::map<INT_U32, SAMPLE> out;
        for (int i = 0; i < 16 && d->visible; ++i) {
            frame(ms);
            if (!d->step_pending) {
                out[get_ms_count() - d->effect_start_ms] = {d->x, d->y, d->current_alpha};
            }
        }
        return out;
    }
};

} // namespace

TEST_F(DialogEffects, EffectsFollowTheClock)
{
    S::pm->areas[0].move(50, 40); // the page manager's rectangle
    S::pm->areas[0].resize(600, 500, 0);
    const struct
    {
        EFFECT_INFO effect;
        INT_U32 ms, t;
        SAMPLE at_t;
        bool closes = false;
    } rows[] = {
        {def, 75, 0, {300, -100, 255}},
        {def, 75, 150, {300, 50, 255}},
        {def, 75, 300, {300, 200, 255}},
        {def, 75, 150, {300, 50, 255}, true},
        {fades, 50, 0, {300, 200, 0}},
        {fades, 50, 100, {300, 200, 127}},
        {fades, 50, 200, {300, 200, 255}},
        {fades, 50, 100, {300, 200, 128}, true},
        // Left over right, top over bottom, the window over the page manager; diagonally.
        {slide(0x690), 75, 0, {-200, 200, 255}},
        {slide(0x610), 75, 0, {800, 200, 255}},
        {slide(0xD50), 75, 0, {300, -100, 255}},
        {slide(0x910), 75, 0, {300, 540, 255}},
        {slide(0x310), 75, 0, {500, 300, 255}},
        {slide(0x8D0), 75, 150, {75, 70, 255}},
        // No waiting on a delay of 0 or less; an hour-long slide takes ten seconds.
        {slide(0x450, 0), 75, 0, {300, 200, 255}},
        {slide(0x450, -1), 75, 0, {300, 200, 255}},
        {slide(0x450, INT_MIN), 75, 0, {300, 200, 255}},
        {slide(0x450, 3600000), 2500, 5000, {300, 50, 255}},
        {slide(0x450, 3600000), 2500, 10000, {300, 200, 255}},
    };
    for (const auto& row : rows) {
        kivo_fake_clock_set_ms(0xFFFFFF60u); // every effect runs across the counter's wrap
        WM_DIALOG* d = open(row.effect);
        auto samples = run(d, row.ms);
        if (row.closes) {
            d->start_fade(0);
            d->start_animation(0);
            samples = run(d, row.ms);
        }
        EXPECT_EQ(samples[row.t], row.at_t) << std::hex << row.effect.flags << std::dec << " at " << row.t;
        delete d;
    }
    EXPECT_STREQ(WM_DIALOG::get_effect_desc(&def), "Flags: 0x047C, Open Delay: 300, Displaying Delay 1000, Alpha 0xC0");
}

TEST_F(DialogEffects, EveryClosePathEndsHidden)
{
    S::update_region_method = 0; // one region: the first draw is the dialog's
    auto closes_by = [](WM_MESG m) {
        return [m](WM_DIALOG* d) {
            child(d)->monitor_results = {m};
            return frame(50);
        };
    };
    const struct
    {
        const char* path;
        EFFECT_INFO effect;
        bool removed;
        WM_MESG result;
        std::function<WM_MESG(WM_DIALOG*)> close;
    } rows[] = {
        {"before its first draw", def, false, 0,
         [](WM_DIALOG* d) { return d->start_fade(0), d->start_animation(0), 0; }},
        {"child's 2", def, false, 0, closes_by(2)},
        {"callback hides", def, false, 1,
         [](WM_DIALOG* d) {
             child(d)->on_monitor = [d](PROBE&) { d->hide(0, 0); };
             return child(d)->monitor_results = {1}, frame(50);
         }},
        {"close_modal_dialogs", def, true, 0, [](WM_DIALOG*) { return S::pm->close_modal_dialogs(0), 0; }},
        {"immediate", def, true, 0, [](WM_DIALOG*) { return S::pm->close_modal_dialogs(1), 0; }},
        {"code 3", def, true, 3, closes_by(3)},
        // While it slides out it is not shown: its children take no input,
        // and the page under it takes all of it, in every frame.
        {"again while closing", def, true, 0,
         [closes_by](WM_DIALOG* d) {
             closes_by(2)(d);
             auto* page = new PROBE(0, 0, 10, 10, COLOUR_INVISIBLE);
             S::pm->areas[0].add_object(page, 0);
             const int seen = child(d)->monitor_count;
             frame(75), frame(75);
             EXPECT_EQ(child(d)->monitor_count, seen);
             EXPECT_EQ(page->monitor_count, 2);
             EXPECT_EQ(S::get_active_modal_object_count(), 0);
             S::pm->areas[0].remove_object(page, 1, 0);
             return S::pm->close_modal_dialogs(0), 0;
         }},
        {"nowhere to slide", slide(0x30), true, 0, [](WM_DIALOG*) { return S::pm->close_modal_dialogs(0), 0; }},
    };
    for (const auto& row : rows) {
        WM_DIALOG* d = open(row.effect);
        const int probes = PROBE::live;
        if (&row != &rows[0]) {
            run(d, 75);
        }
        EXPECT_EQ(row.close(d), row.result) << row.path;
        for (int i = 0; i < 20; ++i) {
            frame(50);
        }
        EXPECT_EQ(S::modal_screen_objects.count, row.removed ? 0 : 1) << row.path;
        EXPECT_EQ(PROBE::live, row.removed ? probes - 1 : probes) << row.path;
        if (!row.removed) {
            EXPECT_FALSE(d->visible) << row.path;
            child(d)->on_monitor = nullptr;
            d->request_draw(); // shown again: it opens with its slide
            EXPECT_EQ(run(d, 75)[150][1], 50) << row.path;
            EXPECT_TRUE(d->visible && d->y == 200) << row.path;
            delete d;
        }
    }
}

TEST_F(DialogEffects, TheBackgroundIsDarkenedOnce)
{
    WM_DIALOG::darken_background = 1;
    S::update_region_method = 1;
    imgtest::CANVAS once(1, 1, {COLOUR_GREEN});
    once.darken_rect(0, 0, 0, 0, 50);
    open(def);
    for (int i = 0; i < 12; ++i) {
        S::add_update_region(10, 10, 20, 20);
        frame(75);
    }
    EXPECT_EQ(at(15, 15), once.pixels[0]);
    EXPECT_EQ(at(700, 550), once.pixels[0]);
}

TEST_F(DialogEffects, PartialAlphaBlendsTheDialogOverThePage)
{
    imgtest::CANVAS mixed(1, 1, {COLOUR_GREEN}), top(1, 1, {(COLOUR_BLUE & 0xFFFFFFu) | 0x80000000u});
    mixed.copy(&top, 0, 0, 0, 0, 1, 1, IMAGE_COPY_BLEND);
    // Wholly on the surface, half off it, and far larger than it.
    const std::array<INT_S16, 4> rows[] = {{300, 200, 200, 100}, {700, 500, 200, 100}, {-100, -50, 32767, 32767}};
    for (const auto& [x, y, w, h] : rows) {
        WM_DIALOG* d = open(slide(0), x, y, w, h);
        frame(0);
        d->current_alpha = d->target_alpha = 128;
        d->request_draw();
        frame(0);
        EXPECT_EQ(at(std::max<int>(x, 0) + 50, std::max<int>(y, 0) + 50), mixed.pixels[0]) << x;
        // Beside it, and under the one larger than the surface.
        EXPECT_EQ(at(std::max(x - 1, 0), 599), x > 0 ? INT_U32{COLOUR_GREEN} : INT_U32{mixed.pixels[0]}) << x;
        delete d;
        frame(0);
    }
}
