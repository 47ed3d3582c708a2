// The page transitions on the fake clock. The frame hook records a CRC32 of
// the transition rectangle at every present; the expected frames are built
// from the two pages with plain copies (and the grey formula).
#include "widget_test.h"

#include "host_window.h"
#include "kivo_host.h"
#include "random_session.h"
#include "wm_frame_pacing.h"

#include <zlib.h>

#include <cstdint>

namespace {

using namespace kivo_test;
using imgtest::CANVAS;
using imgtest::px;
using P = WM_PAGE_MANAGER;
using RECT = P::effect_rect;

constexpr INT_U32 OLD = 0x20, NEW = 0xC0, RED = 0xFFFF0000u;
constexpr int W = 200, H = 150, CELL = 25;
constexpr INT_U32 SEED = (0x1234u << 10) | 100;

// A page is a grid of probe cells, each of its own colour, so a frame shows
// where each page stands.
INT_U32 look(INT_U32 tag, int x, int y)
{
    return tag == RED ? RED : 0xFF000000u | tag << 16 | static_cast<INT_U32>(x / CELL * 29) << 8 | (y / CELL * 41);
}

void create_page(WM_PAGE_MANAGER& pm)
{
    WM_AREA& area = *pm.current_area;
    const auto tag = static_cast<INT_U32>(reinterpret_cast<std::uintptr_t>(area.history[area.history_index].data));
    for (int k = 0; k < W / CELL * (H / CELL); ++k) {
        const int x = k % (W / CELL) * CELL, y = k / (W / CELL) * CELL;
        area.add_object(new PROBE(x, y, CELL, CELL, look(tag, x, y)), 0);
    }
}

// The page OLD shown in area 0 and NEW queued after it, effects of 700 ms.
void show_old_queue_new(WM_PAGE_MANAGER& pm)
{
    pm.set_next_page(0, create_page, nullptr, reinterpret_cast<void*>(std::uintptr_t{OLD}), nullptr, 1, 0, nullptr);
    pm.go_to_page(0);
    pm.set_next_page(0, create_page, nullptr, reinterpret_cast<void*>(std::uintptr_t{NEW}), nullptr, 1, 0, nullptr);
    pm.page_effects_ms = 700;
}

uLong crc_of(const IMAGE& im, const RECT& r)
{
    uLong crc = crc32(0, nullptr, 0);
    for (int y = r.y; y < r.y + r.h; ++y) {
        const COLOUR* row = im.pixels + static_cast<long>(y - im.y) * im.stride + (r.x - im.x);
        crc = crc32(crc, reinterpret_cast<const Bytef*>(row), static_cast<uInt>(r.w * 4));
    }
    return crc;
}

RECT seen_rect;
INT_U32 step_ms;
std::vector<uLong> seen;
std::vector<INT_U32> seen_at; // the counter at each present

void record()
{
    seen.push_back(crc_of(*WM_SCREEN_OBJECT::surface, seen_rect));
    seen_at.push_back(get_ms_count());
    kivo_fake_clock_advance_ms(step_ms);
}

// A display of 60 Hz, with or without vsync, for the length of a scope.
struct DISPLAY_PACE
{
    static INT_U8 vsync;
    static PRESENT_PACE sixty_hertz(short) { return {16667, vsync}; }
    explicit DISPLAY_PACE(INT_U8 with_vsync)
    {
        vsync = with_vsync;
        wm_present_pace = sixty_hertz;
        wm_frame_pacer().forget();
    }
    ~DISPLAY_PACE() { wm_present_pace = get_present_pace; }
};
INT_U8 DISPLAY_PACE::vsync = 0;

// kind: 'm' mix, 'i' / 'o' black fade in / out at level `value`; 'g' / 'G'
// grey fade in / out and 's' slide at `value` ms of `duration`; 'N' / 'O'
// the new / old page; anything else black.
struct FRAME
{
    char kind;
    int value, duration;
};

// The picture of r that a frame must show.
uLong expected(const FRAME& f, const RECT& r, int direction, int style)
{
    auto page = [&](INT_U32 tag) {
        return imgtest::pattern(r.w, r.h, [&](int i, int j) { return look(tag, r.x + i, r.y + j); });
    };
    CANVAS o = page(OLD), n = page(NEW), out = imgtest::solid(r.w, r.h, COLOUR_BLACK);
    auto over = [&](CANVAS& src, int alpha, int x, int y) {
        src.realpha(static_cast<INT_U8>(alpha), 0, 0);
        out.copy(&src, 0, 0, static_cast<short>(x), static_cast<short>(y), static_cast<short>(r.w),
                 static_cast<short>(r.h), IMAGE_COPY_BLEND);
    };
    const INT_S64 e = f.value, T = f.duration;
    const int d = T ? static_cast<int>((direction <= 2 ? r.w : r.h) * e / T) : 0;
    const int nx = direction == 1 ? r.w - d : direction == 2 ? d - r.w : 0;
    const int ny = direction == 3 ? r.h - d : direction == 4 ? d - r.h : 0;
    const int ox = direction == 1 ? nx - r.w : direction == 2 ? d : 0;
    const int oy = direction == 3 ? ny - r.h : direction == 4 ? d : 0;
    if (f.kind == 'm' || f.kind == 'O') {
        over(o, 255, 0, 0);
    }
    if (f.kind == 's') { // first and second copy of each style
        over(style == 1 ? n : o, 255, style == 2 ? ox : 0, style == 2 ? oy : 0);
        over(style == 1 ? o : n, 255, style == 1 ? ox : nx, style == 1 ? oy : ny);
    }
    if (f.kind == 'm' || f.kind == 'i' || f.kind == 'N' || f.kind == 'o') {
        f.kind == 'o' ? over(o, 255 - f.value, 0, 0) : over(n, f.kind == 'N' ? 255 : f.value, 0, 0);
    }
    for (int i = 0; (f.kind == 'g' || f.kind == 'G') && i < r.w * r.h; ++i) {
        const COLOUR p = px(f.kind == 'g' ? n : o, i % r.w, i / r.w);
        const INT_S64 c[3] = {p.red(), p.green(), p.blue()};
        const INT_S64 g =
            COLOUR::use_fast_greyscale ? (c[0] + c[1] + c[2]) / 3 : (c[0] * 30 + c[1] * 59 + c[2] * 11) / 100;
        INT_U32 q = 0xFF;
        for (const INT_S64 v : c) {
            q = q << 8 | static_cast<INT_U32>(f.kind == 'g' ? g + (v - g) * e / T : v + (g - v) * e / T);
        }
        px(out, i % r.w, i / r.w) = q;
    }
    return crc_of(out, {0, 0, r.w, r.h});
}

using Transitions = WidgetTest;

TEST_F(Transitions, EveryKindPresentsItsFramesAndEndsOnItsPicture)
{
    create_back_buffer(W, H);
    auto* pm = new P(1, -1); // the fixture deletes it
    P::frame_hook = record;
    // Queues the page `tag`; shown at once unless a transition will show it.
    auto queue = [pm](INT_U32 tag, bool show) {
        pm->set_next_page(0, create_page, nullptr, reinterpret_cast<void*>(static_cast<std::uintptr_t>(tag)), nullptr,
                          1, 0, nullptr);
        if (show) {
            pm->go_to_page(0);
        }
    };
    struct ROW
    {
        char call;               // 'm', 'i', 'g', 'o', 'G' as the frames; 'x' / 'X' out-then-in; 's' slide
        INT_U32 ms, step, clock; // page effects ms, clock step per frame, counter at the start (0: as it is)
        int direction, style;
        char final;
        std::vector<FRAME> frames;
    };
    const INT_U32 wrap = 0xFFFFFFFFu - 100;
    const std::vector<ROW> rows = {
        {'m', 700, 350, 0, 0, 0, 'N', {{'m', 0, 0}, {'m', 127, 0}, {'m', 255, 0}}},
        {'i', 700, 350, 0, 0, 0, 'N', {{'i', 0, 0}, {'i', 127, 0}, {'i', 255, 0}}},
        {'g', 700, 350, 0, 0, 0, 'N', {{'g', 0, 700}, {'g', 350, 700}, {'g', 700, 700}}},
        {'o', 700, 350, 0, 0, 0, 'B', {{'o', 0, 0}, {'o', 127, 0}, {'o', 255, 0}}},
        {'G', 700, 350, 0, 0, 0, 'G', {{'G', 0, 700}, {'G', 350, 700}, {'G', 700, 700}}},
        {'x', 701, 350, 0, 0, 0, 'N', {{'o', 0, 0}, {'o', 255, 0}, {'i', 0, 0}, {'i', 255, 0}}},
        {'X', 701, 350, 0, 0, 0, 'N', {{'G', 0, 350}, {'G', 350, 350}, {'g', 0, 350}, {'g', 350, 350}}},
        {'s', 700, 350, 0, 0, 2, 'N', {{'s', 0, 700}, {'s', 350, 700}, {'s', 700, 700}}},
        {'s', 700, 350, 0, 3, 1, 'N', {{'s', 0, 700}, {'s', 350, 700}, {'s', 700, 700}}},
        {'s', 700, 300, 0, 1, 0, 'N', {{'s', 0, 700}, {'s', 300, 700}, {'s', 600, 700}, {'s', 700, 700}}},
        {'s', 700, 350, 0, 2, 0, 'N', {{'s', 0, 700}, {'s', 350, 700}, {'s', 700, 700}}},
        {'s', 700, 350, 0, 4, 2, 'N', {{'s', 0, 700}, {'s', 350, 700}, {'s', 700, 700}}},
        // No duration: the plain change, or nothing painted.
        {'m', 0, 350, 0, 0, 0, 'N', {}},
        {'o', 0, 350, 0, 0, 0, 'O', {}},
        {'G', 0, 350, 0, 0, 0, 'O', {}},
        {'x', 1, 350, 0, 0, 0, 'N', {}},
        {'m', 1, 350, 0, 0, 0, 'N', {{'m', 0, 0}, {'m', 255, 0}}},
        // Cut to 10 s; the stored time stays.
        {'m', 60000, 5000, 0, 0, 0, 'N', {{'m', 0, 0}, {'m', 127, 0}, {'m', 255, 0}}},
        // The counter wraps: slides and grey fades go on, a mix starts its timing again.
        {'s', 700, 350, wrap, 1, 2, 'N', {{'s', 0, 700}, {'s', 350, 700}, {'s', 700, 700}}},
        {'g', 700, 350, wrap, 0, 0, 'N', {{'g', 0, 700}, {'g', 350, 700}, {'g', 700, 700}}},
        {'m', 700, 350, wrap, 0, 0, 'N', {{'m', 0, 0}, {'m', 0, 0}, {'m', 127, 0}, {'m', 255, 0}}},
    };
    set_random_index(SEED);
    const int drawn = static_cast<int>(get_random_number(1, 5));
    const INT_U32 after_draw = get_random_index();
    for (const bool statics : {false, true}) {
        P::page_effects_x1 = P::page_effects_y1 = P::page_effects_x2 = P::page_effects_y2 = -1;
        if (statics) {
            P::page_effects_x1 = 10, P::page_effects_y1 = 20, P::page_effects_x2 = 109, P::page_effects_y2 = 69;
        }
        seen_rect = statics ? RECT{10, 20, 100, 50} : RECT{0, 0, W, H};
        for (std::size_t k = 0; k < rows.size(); ++k) {
            const ROW& row = rows[k];
            SCOPED_TRACE(testing::Message() << "row " << k << (statics ? " in the statics' rectangle" : ""));
            queue(OLD, true);
            queue(NEW, false);
            pm->page_effects_ms = row.ms;
            step_ms = row.step;
            if (row.clock) {
                kivo_fake_clock_set_ms(row.clock);
            }
            set_random_index(SEED);
            seen.clear();
            switch (row.call) {
            case 'm': pm->mix_to_page(0); break;
            case 'i': pm->fade_in_page(0); break;
            case 'g': pm->greyfade_in_page(0); break;
            case 'o': pm->fade_out_page(); break;
            case 'G': pm->greyfade_out_page(); break;
            case 'x': pm->fade_out_in_page(0); break;
            case 'X': pm->greyfade_out_in_page(0); break;
            default:
                pm->slide_page(0, static_cast<unsigned char>(row.direction), static_cast<unsigned char>(row.style));
            }
            std::vector<uLong> want;
            for (const FRAME& f : row.frames) {
                want.push_back(expected(f, seen_rect, row.direction ? row.direction : drawn, row.style));
            }
            EXPECT_EQ(seen, want);
            EXPECT_EQ(pm->page_effects_ms, row.ms);
            EXPECT_EQ(get_random_index(), row.call == 's' && !row.direction ? after_draw : SEED);
            EXPECT_EQ(crc_of(screen(), seen_rect), expected({row.final, 1, 1}, seen_rect, 0, 0));
            // Outside the rectangle only a page change shows.
            const bool stays = row.call == 'o' || row.call == 'G';
            EXPECT_TRUE(!statics || at(W - 1, H - 1) == look(stays ? OLD : NEW, W - 1, H - 1));
        }
    }
    // The grey of pure red by either formula.
    for (const INT_U8 fast : {0, 1}) {
        COLOUR::use_fast_greyscale = fast;
        queue(RED, true);
        pm->greyfade_out_page();
        EXPECT_EQ(px(screen(), 10, 20), fast ? 0xFF555555u : 0xFF4C4C4Cu);
    }
    COLOUR::use_fast_greyscale = 0;
}

// The wait before a present at 60 Hz, 17 ms after the last one: none
// before any present, with vsync or without a window, past the interval,
// or after a counter that went back; across the counter's wrap the rest.
// The page shown at each present, by its tag.
std::vector<INT_U32> shown_pages;
WM_PAGE_MANAGER* watched = nullptr;

void record_page()
{
    const WM_AREA& area = *watched->current_area;
    shown_pages.push_back(
        static_cast<INT_U32>(reinterpret_cast<std::uintptr_t>(area.history[area.history_index].data)));
    record();
}

TEST_F(Transitions, AFirstFrameWithoutTheNewPageGoesOutBeforeItIsBuilt)
{
    create_back_buffer(W, H);
    auto* pm = new P(1, -1); // the fixture deletes it
    watched = pm;
    P::frame_hook = record_page;
    step_ms = 350;
    // kind, statics set, whether the first present still shows the old page's turn
    const struct
    {
        char kind;
        bool statics;
        bool early;
    } rows[] = {{'m', false, true}, {'i', false, true}, {'g', false, false}, {'m', true, false}, {'i', true, false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.kind << (row.statics ? " in the statics' rectangle" : ""));
        P::page_effects_x1 = P::page_effects_y1 = P::page_effects_x2 = P::page_effects_y2 = -1;
        if (row.statics) {
            P::page_effects_x1 = 10, P::page_effects_y1 = 20, P::page_effects_x2 = 109, P::page_effects_y2 = 69;
        }
        seen_rect = row.statics ? RECT{10, 20, 100, 50} : RECT{0, 0, W, H};
        show_old_queue_new(*pm);
        shown_pages.clear();
        seen.clear();
        row.kind == 'm' ? pm->mix_to_page(0) : row.kind == 'i' ? pm->fade_in_page(0) : pm->greyfade_in_page(0);
        ASSERT_EQ(shown_pages.size(), 3u);
        EXPECT_EQ(shown_pages[0], row.early ? OLD : NEW);
        EXPECT_TRUE(shown_pages[1] == NEW && shown_pages[2] == NEW);
        // The frames are the ones the page would show built first.
        const std::vector<FRAME> want =
            row.kind == 'g'   ? std::vector<FRAME>{{'g', 0, 700}, {'g', 350, 700}, {'g', 700, 700}}
            : row.kind == 'm' ? std::vector<FRAME>{{'m', 0, 0}, {'m', 127, 0}, {'m', 255, 0}}
                              : std::vector<FRAME>{{'i', 0, 0}, {'i', 127, 0}, {'i', 255, 0}};
        for (size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(seen[k], expected(want[k], seen_rect, 0, 0)) << k;
        }
    }
    P::frame_hook = nullptr;
    P::page_effects_x1 = P::page_effects_y1 = P::page_effects_x2 = P::page_effects_y2 = -1;
}

TEST(FramePacer, WaitsOutTheRestOfARefreshInterval)
{
    const INT_U32 rows[][5] = {// interval, vsync, last (0 none), now, wait
                               {16667, 0, 0, 5, 0},          {16667, 0, 1000, 1010, 7}, {16667, 0, 1000, 1017, 0},
                               {16667, 1, 1000, 1001, 0},    {0, 0, 1000, 1001, 0},     {16667, 0, 2000, 1990, 0},
                               {16667, 0, 0xFFFFFFF8u, 2, 7}};
    for (const auto& r : rows) {
        WM_FRAME_PACER pacer;
        if (r[2]) {
            pacer.presented(r[2]);
        }
        EXPECT_EQ(pacer.wait_ms(r[3], {r[0], static_cast<INT_U8>(r[1])}), r[4]) << r[3];
    }
}

// A present that itself takes most of an interval (the first textured
// copy compiles its shader) does not push the next frame back by its own
// length: the interval counts from its start.
TEST_F(Transitions, ASlowPresentCountsFromItsStart)
{
    DISPLAY_PACE pace(0);
    const INT_U32 rows[][2] = {{12, 5}, {17, 0}, {30, 0}, {0, 17}}; // the present's length, the wait after it
    for (const auto& r : rows) {
        wm_frame_pacer().forget();
        const INT_U32 started = get_ms_count();
        kivo_fake_clock_advance_ms(r[0]);
        wm_note_present(started);
        const INT_U32 before = get_ms_count();
        wm_wait_for_present();
        EXPECT_EQ(get_ms_count() - before, r[1]) << r[0];
    }
}

// Frames that take 1 ms each: without vsync one frame per 17 ms, each
// painted for the moment it is shown, the last at the full length; with
// vsync the present itself waits, and nothing else does. A pass of the
// page manager that shows something waits its turn as well; one that
// shows nothing does not.
TEST_F(Transitions, PacedToTheDisplayInTheirLength)
{
    create_back_buffer(W, H);
    auto* pm = new P(1, -1); // the fixture deletes it
    P::frame_hook = record;
    P::page_effects_x1 = P::page_effects_y1 = P::page_effects_x2 = P::page_effects_y2 = -1;
    seen_rect = RECT{0, 0, W, H};
    step_ms = 1;
    for (const INT_U8 vsync : {0, 1}) {
        DISPLAY_PACE pace(vsync);
        show_old_queue_new(*pm);
        seen.clear();
        seen_at.clear();
        pm->mix_to_page(0);
        ASSERT_EQ(seen.size(), vsync ? 701u : 43u);
        const INT_U32 start = seen_at[0];
        for (size_t k = 0; k < seen.size(); ++k) {
            const INT_U32 at = static_cast<INT_U32>(vsync ? k : 17 * k);
            ASSERT_EQ(seen_at[k] - start, at) << k;
            if (!vsync) {
                const int level = static_cast<int>(std::min<INT_U32>(255, 255 * at / 700));
                EXPECT_EQ(seen[k], expected({'m', level, 0}, seen_rect, 0, 0)) << k;
            }
        }
    }
    P::frame_hook = nullptr;
    DISPLAY_PACE pace(0);
    pm->monitor(1);
    const INT_U32 first = get_ms_count();
    pm->monitor(1);
    EXPECT_EQ(get_ms_count() - first, 17u);
    back_buffer.dirty_x1 = back_buffer.dirty_x2 = back_buffer.dirty_y1 = back_buffer.dirty_y2 = -1;
    pm->monitor(1);
    EXPECT_EQ(get_ms_count() - first, 17u);
}

} // namespace
