#ifndef KIVO_WIDGET_TEST_H
#define KIVO_WIDGET_TEST_H

// The harness of every widget, page and application test: a fixture with
// fake clocks, a seeded random session, the fonts, a headless 800 x 600
// back buffer as the drawing surface and every static of the widget layer
// at its initial value; a probe widget; and tick(), one frame of the page
// manager's pass.
#include "image_test_util.h"
#include "sandbox.h"
#include "wm_names.h"
#include "wm_page_manager.h"
#include "wm_screen_object.h"

#include <deque>
#include <functional>
#include <vector>

namespace kivo_test {

// The surface starts filled with this: any other pixel was drawn.
constexpr INT_U32 SENTINEL = 0xFF123456u;
constexpr int SCREEN_W = 800, SCREEN_H = 600;
// Where the fake wall clock starts (seconds).
constexpr INT_S64 START_WALL = 1700000000;

// Key codes (Mac) that tests hold, also under this namespace.
using ::KEY_COMMAND;
using ::KEY_CONTROL;
using ::KEY_RETURN;
using ::KEY_SHIFT;
using ::KEY_TAB;

// A test-only screen object: counts its passes, hands out scripted
// results, and fills its rectangle with its colour when drawn.
class PROBE : public WM_SCREEN_OBJECT
{
public:
    PROBE(int x, int y, int w, int h, COLOUR colour, INT_U8 visible = 1);
    ~PROBE() override;

    WM_MESG monitor() override;
    WM_MESG update(INT_U8 modal) override;
    void draw_object() override;

    COLOUR colour; // invisible: draws nothing
    int draw_count = 0, monitor_count = 0, update_count = 0;
    // One result per call while not empty; then the base pass runs.
    std::deque<WM_MESG> monitor_results, update_results;
    // Run first in each call, e.g. to change the tree in the middle of a pass.
    std::function<void(PROBE&)> on_monitor, on_update;

    static int live;                           // probes not yet destroyed
    static std::vector<const PROBE*> draw_log; // every draw, in order
};

class WidgetTest : public SandboxTest
{
protected:
    void SetUp() override;
    // Deletes the page manager when there is one, and with it every
    // object still on the modal list.
    void TearDown() override;

    // The widget layer at its start: the context's state, the shared
    // objects (the modal list emptied, nothing in it deleted) and the logo
    // page. The page tool manager's registration and the hint style set
    // stay (wm_context.h).
    static void reset_statics();

    // One frame in the page manager's order: both clocks advance, the
    // injected click is applied, update (areas last to first, then the
    // modal objects), monitor (the topmost modal object's area, or areas
    // last to first until a result), redraw; returns the WM_MESG. Without a
    // page manager the same passes run on root.
    WM_MESG tick(INT_U32 ms, WM_SCREEN_OBJECT* root = nullptr);
    // The redraw step over one root, for forms without a page manager.
    static void draw_regions(WM_SCREEN_OBJECT* root);

    // Input: pointer position, buttons (1 left, 2 right), held keys.
    static void point(int x, int y);
    static void press(short button, bool down);
    static void hold_key(INT_U32 code, bool held);

    // A short generated note in WM_SCREEN_OBJECT::action_sound. With the
    // fake clock frozen, platform_is_playing after an action shows that
    // the action started it.
    bool load_action_sound();

    static IMAGE& screen() { return *WM_SCREEN_OBJECT::surface; }
    static INT_U32 at(int x, int y) { return imgtest::px(screen(), x, y); }

    INT_U32 elapsed_ms = 0;
};

} // namespace kivo_test

#endif
