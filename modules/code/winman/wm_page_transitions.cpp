// WM_PAGE_MANAGER's timed page transitions: snapshots of the transition
// rectangle, the timing loops on the millisecond counter, and one paint
// function per kind of frame, which tests and benchmarks call directly.
#include "wm_page_manager.h"

#include "image_blend.h"
#include "kivo_host.h"
#include "random_session.h"
#include "wm_clip.h"
#include "wm_frame_pacing.h"

#include <algorithm>
#include <climits>
#include <functional>

namespace {

using RECT = WM_PAGE_MANAGER::effect_rect;

// No input is read while a transition runs, so a page definition's
// duration is never taken beyond this.
constexpr INT_U32 longest_transition_ms = 10000;

INT_U32 transition_ms(INT_U32 stored)
{
    return std::min(stored, longest_transition_ms);
}

// All four statics set: their rectangle (corners inclusive, 16-bit sizes);
// otherwise the whole target.
RECT effect_area(const IMAGE& target)
{
    using P = WM_PAGE_MANAGER;
    if (P::page_effects_x1 != -1 && P::page_effects_y1 != -1 && P::page_effects_x2 != -1 && P::page_effects_y2 != -1) {
        return {P::page_effects_x1, P::page_effects_y1,
                static_cast<INT_S16>(P::page_effects_x2 - P::page_effects_x1 + 1),
                static_cast<INT_S16>(P::page_effects_y2 - P::page_effects_y1 + 1)};
    }
    return {0, 0, target.width, target.height};
}

// The clip becomes r within the picture, or empty when r misses it. Frames
// paint nothing outside r, not even a fade's black.
void clip_to(IMAGE& target, const RECT& r)
{
    const int x1 = std::max<int>(r.x, target.x), x2 = std::min(r.x + r.w, target.x + target.width) - 1;
    const int y1 = std::max<int>(r.y, target.y), y2 = std::min(r.y + r.h, target.y + target.height) - 1;
    if (x1 > x2 || y1 > y2) {
        target.active_x1 = target.active_y1 = target.active_x2 = target.active_y2 = -1;
        return;
    }
    target.active_x1 = static_cast<INT_S16>(x1);
    target.active_y1 = static_cast<INT_S16>(y1);
    target.active_x2 = static_cast<INT_S16>(x2);
    target.active_y2 = static_cast<INT_S16>(y2);
}

// Blends the w x h page onto target at (px, py). Positions come as int
// because a slide's may leave the 16-bit range; nothing there can be
// painted, so the copy starts where that range does.
void put_at(IMAGE& target, IMAGE& page, int px, int py, int w, int h)
{
    int sx = 0, sy = 0;
    if (px < SHRT_MIN) {
        sx = SHRT_MIN - px;
        px = SHRT_MIN;
    }
    if (py < SHRT_MIN) {
        sy = SHRT_MIN - py;
        py = SHRT_MIN;
    }
    if (px > SHRT_MAX || py > SHRT_MAX || sx >= w || sy >= h) {
        return;
    }
    target.copy(&page, static_cast<short>(sx), static_cast<short>(sy), static_cast<short>(px), static_cast<short>(py),
                static_cast<short>(w - sx), static_cast<short>(h - sy), IMAGE_COPY_BLEND);
}

// The target's block r as a picture of its own at (0, 0); empty when r is.
void take_snapshot(IMAGE& snapshot, IMAGE& target, const RECT& r)
{
    snapshot.reset(static_cast<short>(r.w), static_cast<short>(r.h));
    snapshot.copy(&target, static_cast<short>(r.x), static_cast<short>(r.y), 0, 0, static_cast<short>(r.w),
                  static_cast<short>(r.h), IMAGE_COPY_BLEND);
}

// Frames at an elapsed time 0..duration until the one at duration. Each
// frame first waits for its turn at the display and is then painted for
// the moment it is shown. With restarts, the counter going back starts the
// timing again from 0; without, the unsigned difference stays right when
// the counter wraps during the run. `between`, when given, runs after the
// frame at 0 has gone out, in the wait for the next.
template <class FRAME>
void run_frames(INT_U32 duration, bool restarts, FRAME frame, const std::function<void()>& between = nullptr)
{
    wm_wait_for_present();
    INT_U32 t0 = get_ms_count();
    if (between) {
        frame(0);
        between();
        wm_wait_for_present();
    }
    for (;;) {
        const INT_U32 t = get_ms_count();
        if (restarts && t < t0) {
            t0 = t;
        }
        const INT_U32 elapsed = std::min(t - t0, duration);
        frame(elapsed);
        if (elapsed == duration) {
            return;
        }
        wm_wait_for_present();
    }
}

// The level 0..255 of a frame at elapsed (at most duration, not 0).
int level_at(INT_U32 elapsed, INT_U32 duration)
{
    return static_cast<int>(255ull * elapsed / duration);
}

// Out, then in, T / 2 each. The halves run on the manager's duration,
// which is put back afterwards. Below 2 ms there are no halves: the plain
// change.
void run_out_then_in(WM_PAGE_MANAGER& pm, long area, void (WM_PAGE_MANAGER::*out)(), void (WM_PAGE_MANAGER::*in)(long))
{
    IMAGE* target = WM_SCREEN_OBJECT::surface;
    const INT_U32 kept = pm.page_effects_ms, duration = transition_ms(kept);
    if (!target || duration < 2) {
        pm.go_to_page(area);
        return;
    }
    const RECT r = effect_area(*target);
    IMAGE current;
    take_snapshot(current, *target, r);
    pm.page_effects_ms = duration / 2;
    (pm.*out)();
    // The old page again under the change's redraw, not presented.
    put_at(*target, current, r.x, r.y, r.w, r.h);
    (pm.*in)(area);
    pm.page_effects_ms = kept;
}

} // namespace

void WM_PAGE_MANAGER::paint_mix_frame(IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page, int level)
{
    WM_CLIP_SAVER saver(&target);
    clip_to(target, r);
    put_at(target, old_page, r.x, r.y, r.w, r.h);
    new_page.realpha(static_cast<INT_U8>(level), 0, 0);
    put_at(target, new_page, r.x, r.y, r.w, r.h);
}

void WM_PAGE_MANAGER::paint_black_fade_frame(IMAGE& target, const effect_rect& r, IMAGE& page, int alpha)
{
    WM_CLIP_SAVER saver(&target);
    clip_to(target, r);
    target.clear(COLOUR_BLACK, 0);
    page.realpha(static_cast<INT_U8>(alpha), 0, 0);
    put_at(target, page, r.x, r.y, r.w, r.h);
}

void WM_PAGE_MANAGER::paint_grey_fade_frame(IMAGE& target, const effect_rect& r, const IMAGE& page, INT_U32 elapsed,
                                            INT_U32 duration, bool to_grey)
{
    WM_CLIP_SAVER saver(&target);
    clip_to(target, r);
    if (duration == 0 || target.active_x1 == -1 || !target.pixels) {
        return;
    }
    const INT_U32 e = std::min(elapsed, duration);
    const bool fast = COLOUR::use_fast_greyscale != 0;
    // Columns c and rows of the page that land inside the clip.
    const int c1 = target.active_x1 - r.x, c2 = target.active_x2 - r.x;
    const int r1 = target.active_y1 - r.y, r2 = target.active_y2 - r.y;
    const bool readable = page.pixels && page.active_x1 != -1 && page.active_y1 != -1;
    const int n = c2 - c1 + 1;
    for (int row = r1; row <= r2; ++row) {
        COLOUR* out =
            target.pixels + static_cast<long>(r.y + row - target.y) * target.stride + (target.active_x1 - target.x);
        // Columns a .. b-1 of the run read the page. Pixels outside its
        // active area count as invisible: grey and channels 0, so black.
        int a = n, b = n;
        if (readable && row >= page.active_y1 && row <= page.active_y2) {
            a = std::clamp(page.active_x1 - c1, 0, n);
            b = std::clamp(page.active_x2 + 1 - c1, a, n);
        }
        std::fill(out, out + a, COLOUR_BLACK);
        if (a < b) {
            const COLOUR* in = page.pixels + static_cast<long>(row - page.y) * page.stride + (c1 + a - page.x);
            kivo_pixel::grey_fade_row(reinterpret_cast<INT_U32*>(out + a), reinterpret_cast<const INT_U32*>(in), b - a,
                                      e, duration, to_grey, fast);
        }
        std::fill(out + b, out + n, COLOUR_BLACK);
    }
    target.mark_dirty_area(target.active_x1, target.active_y1, target.active_x2, target.active_y2);
}

void WM_PAGE_MANAGER::paint_slide_frame(IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page,
                                        int direction, int style, INT_U32 elapsed, INT_U32 duration)
{
    // Pixels moved so far, along the width (1, 2) or the height (3, 4).
    const INT_U64 span = static_cast<INT_U64>(std::max(0, direction <= 2 ? r.w : r.h));
    const int d = elapsed >= duration ? static_cast<int>(span) : static_cast<int>(span * elapsed / duration);
    // A direction above 4 has no movement: both pages stand at r.
    int nx = r.x, ny = r.y, ox = r.x, oy = r.y;
    switch (direction) {
    case 1: // from the right
        nx = r.x + r.w - d;
        ox = nx - r.w;
        break;
    case 2: // from the left
        nx = r.x + d - r.w;
        ox = r.x + d;
        break;
    case 3: // from the bottom
        ny = r.y + r.h - d;
        oy = ny - r.h;
        break;
    case 4: // from the top
        ny = r.y + d - r.h;
        oy = r.y + d;
        break;
    default: break;
    }
    WM_CLIP_SAVER saver(&target);
    clip_to(target, r);
    if (style == 0) {
        put_at(target, old_page, r.x, r.y, r.w, r.h);
        put_at(target, new_page, nx, ny, r.w, r.h);
    } else if (style == 1) {
        put_at(target, new_page, r.x, r.y, r.w, r.h);
        put_at(target, old_page, ox, oy, r.w, r.h);
    } else {
        put_at(target, old_page, ox, oy, r.w, r.h);
        put_at(target, new_page, nx, ny, r.w, r.h);
    }
}

// What a timed transition shows and how it keeps time. OLD_PAGE shows the
// page before the change and changes nothing; NEW_PAGE and BOTH_PAGES
// change the page and show the page after it, BOTH_PAGES the one before
// as well. LEVELS restarts its timing when the counter goes back; ELAPSED
// runs on across a wrap.
struct WM_PAGE_MANAGER::TRANSITION
{
    enum PAGES
    {
        OLD_PAGE,
        NEW_PAGE,
        BOTH_PAGES
    };
    enum CLOCK
    {
        LEVELS,
        ELAPSED
    };
    using PAINT = std::function<void(IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page,
                                     INT_U32 elapsed, INT_U32 duration)>;
    PAGES pages;
    CLOCK clock;
    PAINT paint;
    // The frame at 0 shows nothing of the new page (a level of 0).
    bool starts_without_new_page = false;
};

void WM_PAGE_MANAGER::run_transition(const TRANSITION& how, long area)
{
    IMAGE* target = WM_SCREEN_OBJECT::surface;
    const INT_U32 duration = transition_ms(page_effects_ms);
    const bool changes = how.pages != TRANSITION::OLD_PAGE;
    if (!target || duration == 0) {
        if (changes) {
            go_to_page(area);
        }
        return;
    }
    const effect_rect r = effect_area(*target);
    IMAGE old_page, new_page;
    if (how.pages != TRANSITION::NEW_PAGE) {
        take_snapshot(old_page, *target, r);
        if (changes) {
            // Painted over the new page's redraw, which must not show through.
            old_page.realpha(255, 0, 0);
        }
    }
    auto build_new_page = [&] {
        go_to_page(area);
        take_snapshot(new_page, *target, r);
    };
    // A first frame that shows none of the new page, over the whole
    // target, goes out before that page is built (the page's creation and
    // first draw, its first glyphs): the building then fills the wait for
    // the next frame instead of delaying the first. The frames are the
    // same; what the new page's redraw leaves outside the frame would not
    // be, hence the whole target only.
    const bool early =
        changes && how.starts_without_new_page && r.x == 0 && r.y == 0 && r.w == target->width && r.h == target->height;
    if (changes && !early) {
        build_new_page();
    }
    run_frames(
        duration, how.clock == TRANSITION::LEVELS,
        [&](INT_U32 elapsed) {
            how.paint(*target, r, old_page, new_page, elapsed, duration);
            present_frame();
        },
        early ? std::function<void()>(build_new_page) : nullptr);
}

void WM_PAGE_MANAGER::mix_to_page(long area)
{
    run_transition(
        {TRANSITION::BOTH_PAGES, TRANSITION::LEVELS,
         [](IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page, INT_U32 elapsed, INT_U32 duration) {
             paint_mix_frame(target, r, old_page, new_page, level_at(elapsed, duration));
         },
         true},
        area);
}

void WM_PAGE_MANAGER::fade_in_page(long area)
{
    run_transition({TRANSITION::NEW_PAGE, TRANSITION::LEVELS,
                    [](IMAGE& target, const effect_rect& r, IMAGE&, IMAGE& new_page, INT_U32 elapsed,
                       INT_U32 duration) { paint_black_fade_frame(target, r, new_page, level_at(elapsed, duration)); },
                    true},
                   area);
}

void WM_PAGE_MANAGER::fade_out_page()
{
    run_transition(
        {TRANSITION::OLD_PAGE, TRANSITION::LEVELS,
         [](IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE&, INT_U32 elapsed, INT_U32 duration) {
             paint_black_fade_frame(target, r, old_page, 255 - level_at(elapsed, duration));
         }},
        -1);
}

void WM_PAGE_MANAGER::greyfade_in_page(long area)
{
    run_transition({TRANSITION::NEW_PAGE, TRANSITION::ELAPSED,
                    [](IMAGE& target, const effect_rect& r, IMAGE&, IMAGE& new_page, INT_U32 elapsed,
                       INT_U32 duration) { paint_grey_fade_frame(target, r, new_page, elapsed, duration, false); }},
                   area);
}

void WM_PAGE_MANAGER::greyfade_out_page()
{
    run_transition({TRANSITION::OLD_PAGE, TRANSITION::ELAPSED,
                    [](IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE&, INT_U32 elapsed,
                       INT_U32 duration) { paint_grey_fade_frame(target, r, old_page, elapsed, duration, true); }},
                   -1);
}

void WM_PAGE_MANAGER::fade_out_in_page(long area)
{
    run_out_then_in(*this, area, &WM_PAGE_MANAGER::fade_out_page, &WM_PAGE_MANAGER::fade_in_page);
}

void WM_PAGE_MANAGER::greyfade_out_in_page(long area)
{
    run_out_then_in(*this, area, &WM_PAGE_MANAGER::greyfade_out_page, &WM_PAGE_MANAGER::greyfade_in_page);
}

void WM_PAGE_MANAGER::slide_page(long area, unsigned char direction, unsigned char style)
{
    // Drawn once, at the first frame: the whole slide keeps the one direction.
    int way = direction;
    run_transition({TRANSITION::BOTH_PAGES, TRANSITION::ELAPSED,
                    [&way, style](IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page,
                                  INT_U32 elapsed, INT_U32 duration) {
                        if (way == 0) {
                            way = static_cast<int>(get_random_number(1, 5));
                        }
                        paint_slide_frame(target, r, old_page, new_page, way, style, elapsed, duration);
                    }},
                   area);
}
