// The button's input pass: events and their trigger flags, auto-repeat,
// keys, dragging, hints, the idle auto-press, looks and pointer shapes.
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "random_session.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_script.h"

#include <string>
#include <vector>

namespace {

class ButtonInputTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        WM_BUTTON::auto_pressing_delay = WM_BUTTON::auto_pressing_ltv = 0;
        new WM_PAGE_MANAGER(1, -1); // the fixture deletes it
        MOUSE::last_event_time = last_keyboard_event = 0;
        tick(10);
    }
    void TearDown() override
    {
        WidgetTest::TearDown();
        WM_BUTTON::auto_pressing_delay = WM_BUTTON::auto_pressing_ltv = 0;
    }
    static WM_AREA& area() { return WM_SCREEN_OBJECT::pm->areas[0]; }
    // 60 x 20 at (x, y).
    WM_BUTTON* add(int x, int y, INT_U8 trigger)
    {
        auto* b = new WM_BUTTON(static_cast<INT_S16>(x), static_cast<INT_S16>(y), static_cast<INT_S16>(x + 59),
                                static_cast<INT_S16>(y + 19), COLOUR_GREY, COLOUR_BLACK, "OK", 0, 0, 15, record, this,
                                nullptr, 1, trigger);
        b->drag_data1 = this;
        area().add_object(b, 0);
        return b;
    }
    // P press, R release, A repeat; answers 0.
    static WM_MESG record(WM_SCREEN_OBJECT* object, void* self, void*)
    {
        auto* b = static_cast<WM_BUTTON*>(object);
        static_cast<ButtonInputTest*>(self)->log += b->release_event ? 'R' : b->repeating ? 'A' : 'P';
        return 0;
    }
    // The code and the target: A the button, 0 the area, B another.
    static WM_MESG record_drag(WM_BUTTON* b, WM_SCREEN_OBJECT* target, short, short, INT_U32 code, void* self, void*)
    {
        static_cast<ButtonInputTest*>(self)->log += std::to_string(code) + (target == b         ? "A "
                                                                            : target == &area() ? "0 "
                                                                                                : "B ");
        return 0;
    }
    // A frame per step: P, H, R press, hold, release at (110, 105); p, h,
    // r the same at (10, 10); E, e Return and Y, y key 49 down and up.
    // Gives "log|results|looks|pointer shapes": looks - up, d down, o over,
    // D both; shapes - for none asked.
    std::string run(WM_BUTTON* b, const char* steps)
    {
        std::string results, looks, shapes;
        for (const char* s = steps; *s; ++s) {
            const std::string k(1, *s);
            if (k.find_first_of("EeYy") != std::string::npos) {
                hold_key(k == "E" || k == "e" ? kivo_test::KEY_RETURN : 49, k == "E" || k == "Y");
            } else {
                point(k[0] < 'a' ? 110 : 10, k[0] < 'a' ? 105 : 10);
                press(1, k.find_first_of("PHph") != std::string::npos);
            }
            const WM_MESG r = tick(10);
            results += r ? static_cast<char>('0' + r) : '.';
            looks += "-doD"[b->down + 2 * b->pointer_over];
            const INT_S8 shape = WM_SCREEN_OBJECT::pm->cursor_request;
            shapes += shape < 0 ? '-' : static_cast<char>('0' + shape);
        }
        return log + "|" + results + "|" + looks + "|" + shapes;
    }
    std::string log;
};

} // namespace

TEST_F(ButtonInputTest, EventsLooksAndPointerShapesFollowTheInput)
{
    // s slide_select, 1 and 2 the button type, f focused, S selected, x
    // disabled, o an over look, d draggable, a activated, m no pointer
    // shapes; the hotkey is 49 throughout. Shape 2 is not one the host has.
    const struct
    {
        INT_U8 trigger;
        const char *flags, *steps, *want;
    } cases[] = {
        {1, "", "PHR", "P|1..|dd-|111"},
        {2, "", "PHR", "R|..1|dd-|111"},
        {3, "", "PHR", "PR|1.1|dd-|111"},
        {2, "", "PHhr", "|....|ddd-|1100"},
        {8, "", "PHhr", "R|...1|ddd-|1100"},
        {2, "", "phHR", "|....|----|0011"},
        {2, "s", "phHR", "R|....|--d-|0011"},
        {2, "1", "rRPRr", "R|...1.|-ddd-|01110"},
        {3, "2", "rRPRr", "PR|.1..1|-ddd-|01010"}, // a real press inside is ignored
        {3, "f", "EEe", "PR|1.1|dd-|111"},
        {3, "S", "EEe", "PR|1.1|dd-|111"},
        {3, "", "EEe", "|...|---|000"},
        {3, "", "YYy", "PR|1.1|dd-|111"},
        {3, "xa", "PHR", "|...|---|000"},
        {2, "od", "RPR", "R|..1|oDo|343"},
        {2, "m", "R", "|.|-|-"},
    };
    INT_U8 active = 1;
    for (auto& c : cases) {
        WM_BUTTON* b = add(100, 100, c.trigger);
        const std::string flags = c.flags;
        auto has = [&flags](char f) { return flags.find(f) != std::string::npos; };
        b->slide_select = has('s');
        b->button_type = has('1') ? 1 : has('2') ? 2 : 0;
        b->selected = has('S');
        b->enabled = !has('x');
        b->mouse_over_colour = has('o') ? COLOUR_WHITE : COLOUR_INVISIBLE;
        b->drag_callback = has('d') ? record_drag : nullptr;
        b->activated_callback = [](WM_BUTTON*, void* data) { return *static_cast<INT_U8*>(data); };
        b->activated_data = has('a') ? &active : &b->activated;
        b->set_hotkey(49);
        WM_SCREEN_OBJECT::focal_object = has('f') ? b : nullptr;
        WM_PAGE_MANAGER::monitor_mouse_cursor = !has('m');
        log.clear();
        EXPECT_EQ(run(b, c.steps), c.want) << int(c.trigger) << flags << " " << c.steps;
        EXPECT_EQ(b->last_left + b->armed, 0);
        EXPECT_EQ(b->activated, has('a'));
        area().remove_object(b, 1, 0);
    }
}

TEST_F(ButtonInputTest, RepeatsAfterTheThresholdThenAtTheRate)
{
    // The second run's first interval ends past the counter's wrap, where
    // a sum would wrap small and repeat at once.
    for (INT_U8 slide : {0, 1}) {
        kivo_fake_clock_set_ms(slide ? 0xFFFFFFFFu - 304 : 5000u);
        WM_BUTTON* b = add(100, 100, 7);
        b->slide_select = slide;
        log.clear();
        point(110, 105);
        press(1, true);
        for (INT_U32 ms : {10u, 290u, 10u, 1u, 30u, 1u, 31u}) {
            tick(ms);
        }
        EXPECT_EQ(run(b, "R"), slide ? "PAAAR|.|-|1" : "PAAA|.|-|1"); // no release after a repeat
        area().remove_object(b, 1, 0);
    }
}

TEST_F(ButtonInputTest, DragReportsItsCodesAndIsModalWhileMoving)
{
    // A at (100, 100), B at (300, 100); the path starts with the press.
    // clear: 1 clear_objects (1, 1, 1), 2 clear_objects (1, 0, 0) mid-drag.
    const struct
    {
        INT_U8 codes, clear;
        std::vector<int> path;
        const char* log;
        int deleted;
    } cases[] = {
        {15, 0, {110, 105}, "2A R", 0},                       // where it started, and clicked
        {15, 0, {110, 105, 400, 300, 120, 110}, "10 8A ", 0}, // on itself elsewhere
        {15, 0, {110, 105, 400, 300, 310, 105}, "10 4B ", 0},
        {4, 0, {110, 105, 400, 300}, "40 ", 0},
        {15, 1, {110, 105, 400, 300}, "10 ", 2},
        {15, 2, {110, 105, 400, 300}, "10 ", 1},
    };
    int deleted = 0;
    WM_SCREEN_OBJECT::deletion_callback = [](WM_SCREEN_OBJECT*, void* n) { ++*static_cast<int*>(n); };
    WM_SCREEN_OBJECT::deletion_data = &deleted;
    for (auto& c : cases) {
        WM_BUTTON* a = add(100, 100, 2);
        add(300, 100, 2);
        a->drag_callback = record_drag;
        a->drag_codes = c.codes;
        log.clear();
        deleted = 0;
        press(1, true);
        for (std::size_t i = 0; i < c.path.size(); i += 2) {
            point(c.path[i], c.path[i + 1]);
            tick(10);
            EXPECT_EQ(a->is_modal_object(), i > 0);
        }
        if (c.clear) {
            area().clear_objects(1, c.clear == 1, c.clear == 1);
            tick(10);
        }
        press(1, false);
        tick(10);
        EXPECT_EQ(log, c.log);
        EXPECT_EQ(deleted, c.deleted); // each once
        EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.count, 0);
        EXPECT_TRUE(c.clear || a->drag_x == -1);
        area().clear_objects(0, 0, 1);
    }
    WM_SCREEN_OBJECT::deletion_callback = nullptr;
}

TEST_F(ButtonInputTest, HintsOpenOnRestClampedAndPassOnToTheNextButton)
{
    // In the bottom-right corner: opens one to two seconds into the rest,
    // above the pointer, moved into the surface.
    WM_BUTTON* a = add(740, 570, 0);
    WM_BUTTON* b = add(680, 570, 0);
    a->set_hint_text("A hint that is rather long");
    b->set_hint_text("Second");
    tick(1010 - elapsed_ms % 1000); // the rest starts just after a whole second
    point(790, 580);
    std::string shown;
    for (int i = 0; i < 5; ++i) {
        tick(500);
        shown += a->hint->visible ? '+' : '-';
    }
    EXPECT_EQ(shown, "---++");
    EXPECT_EQ(a->hint->x * 1000 + a->hint->y, (800 - a->hint->width) * 1000 + 580 - a->hint->height);
    // Handed on: the next button's opens above the pointer on its next pass.
    point(700, 580);
    tick(10);
    tick(10);
    EXPECT_FALSE(a->hint->visible);
    EXPECT_TRUE(b->hint->visible);
    EXPECT_EQ(b->hint->x * 1000 + b->hint->y, 700 * 1000 + 580 - b->hint->height);
    // An idle frame changes nothing, so it draws nothing.
    screen().clear(kivo_test::SENTINEL, 1);
    tick(10);
    EXPECT_EQ(at(b->hint->x + 3, b->hint->y + 3), kivo_test::SENTINEL);
    EXPECT_EQ(at(700, 580), kivo_test::SENTINEL);
    b->enabled = 0;
    tick(10);
    EXPECT_FALSE(b->hint->visible || b->hint->is_modal_object());

    // While down: centred above (at the top: moved down to 0), and the
    // focus the press took goes back.
    WM_BUTTON* c = add(100, 0, 0);
    c->button_type = 1;
    c->hint_when_down = c->can_focus = a->can_focus = 1;
    c->set_hint_text("Down");
    a->take_focus();
    point(110, 5);
    tick(10);
    tick(10);
    EXPECT_TRUE(c->hint->visible);
    EXPECT_EQ(c->hint->x * 1000 + c->hint->y, (100 + (60 - c->hint->width) / 2) * 1000);
    press(1, true);
    tick(10);
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, c);
    press(1, false);
    point(10, 300);
    tick(10);
    tick(10);
    EXPECT_FALSE(c->hint->visible);
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, a);
}

TEST_F(ButtonInputTest, IdleAutoPressClicksThroughTheInjection)
{
    // Seeded, 1 in 3. Never with delay 0, never a hidden button; destroying
    // the chosen button takes the injection back.
    const struct
    {
        INT_U32 delay;
        INT_U8 visible;
        bool chosen, destroy;
    } cases[] = {
        {1000, 1, true, false},
        {0, 1, false, false},
        {1000, 0, false, false},
        {1000, 1, true, true},
    };
    WM_PAGE_MANAGER& manager = *WM_SCREEN_OBJECT::pm;
    for (auto& c : cases) {
        WM_BUTTON::auto_pressing_ltv = 0;
        WM_BUTTON::auto_pressing_delay = c.delay;
        set_random_index(0x5EEDu);
        WM_BUTTON* b = add(100, 100, 2);
        b->auto_press_odds = 3;
        b->visible = c.visible;
        log.clear();
        int chosen_at = -1, cleared_at = -1;
        for (int i = 0; i < 100 && cleared_at < 0; ++i) {
            tick(100);
            if (chosen_at < 0 && WM_BUTTON::auto_pressing_button == b) {
                chosen_at = i;
                EXPECT_EQ(manager.injected_x * 1000 + manager.injected_y, 130110);
                if (c.destroy) {
                    area().remove_object(b, 1, 0);
                }
            }
            cleared_at = chosen_at >= 0 && !WM_BUTTON::auto_pressing_button ? i : -1;
        }
        EXPECT_EQ(chosen_at >= 0, c.chosen);
        EXPECT_EQ(manager.injected_x + manager.injected_y + manager.injected_button, -2);
        if (c.chosen) {
            // Idle past the delay; pressed 500 ms, released, cleared 500 ms later.
            EXPECT_GE(chosen_at, 11);
            EXPECT_EQ(cleared_at - chosen_at, c.destroy ? 0 : 12);
            EXPECT_EQ(log + std::to_string(WM_BUTTON::auto_pressing_ltv), c.destroy ? "0" : "R0");
        }
        area().clear_objects(0, 0, 1);
    }
}
