// The scroll bar: travel, slider placement, the press, repeat, drag, wheel
// and key rules, reports, style sets, bad set-ups, and both looks.
#include "folder.h"
#include "keyboard.h"
#include "mouse.h"
#include "widget_test.h"
#include "wm_scrollbar.h"

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr COLOUR BAR = 0xFF204060u, SLIDER = 0xFFC08040u, BUTTON = 0xFF40C080u, ARROW = 0xFFFFFFFFu;
constexpr int X = 10, Y = 10;

WM_MESG count_reports(WM_SCREEN_OBJECT*, void* data, void*)
{
    ++*static_cast<int*>(data);
    return 7;
}

class ScrollbarTest : public kivo_test::WidgetTest
{
protected:
    // The bars give their skins back before the harness empties the cache.
    void TearDown() override { bars.clear(), WidgetTest::TearDown(); }
    // A parameter of `type` over lo..hi holding v.
    PARAMETER& param(long lo, long hi, long v, PARAM_TYPE type = 4)
    {
        params.emplace_back(new PARAMETER);
        PARAMETER& p = *params.back();
        p.reset_to_type(type);
        p.set(p.max, hi), p.set(p.min, lo), p.set(p.value, v);
        return p;
    }
    WM_SCROLLBAR* make(int x2, int y2, INT_S16 slider, PARAMETER* p, SCROLLBAR_TYPE type, INT_U8 flags = 0)
    {
        return new WM_SCROLLBAR(X, Y, static_cast<INT_S16>(x2), static_cast<INT_S16>(y2), slider, 15, p, type, flags,
                                BAR, SLIDER, BUTTON, ARROW, 1, count_reports, &reports, nullptr);
    }
    // Horizontal types are 100 x 20 at (X, Y), vertical ones 20 x 100;
    // slider 10, buttons 15, line step 1, page step 10, over 0..100.
    WM_SCROLLBAR& bar(SCROLLBAR_TYPE type, long v = 50, INT_U8 flags = 0, PARAMETER* p = nullptr)
    {
        const bool across = type < 2;
        bars.emplace_back(
            make(across ? X + 99 : X + 19, across ? Y + 19 : Y + 99, 10, p ? p : &param(0, 100, v), type, flags));
        bars.back()->page_step = 10;
        return *bars.back();
    }
    long value(WM_SCROLLBAR& b) { return b.param->get_long(b.param->value); }
    // One pass with the pointer at (px, py) and the left button as given.
    WM_MESG pass(WM_SCROLLBAR& b, int px, int py, bool left, INT_U32 ms = 1)
    {
        point(px, py);
        if (((MOUSE::buttons & 1) != 0) != left) {
            press(1, left);
        }
        return tick(ms, &b);
    }
    void draw(WM_SCROLLBAR& b) { screen().clear(kivo_test::SENTINEL, 1), b.draw_object(); }
    void picture(const std::string& name, INT_U32 colour)
    {
        FOLDER folder;
        imgtest::CANVAS image(8, 8, {colour});
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()) && folder.get(alias, nullptr));
        DATA_FILE* file = folder.open_data_file((name + ".png").c_str(), fm_write, 0, 0);
        ASSERT_TRUE(file && image.save_png(file) && folder.close(file));
    }
    std::vector<std::unique_ptr<PARAMETER>> params;
    std::vector<std::unique_ptr<WM_SCROLLBAR>> bars;
    int reports = 0;
    char alias[2048] = {};
};

TEST_F(ScrollbarTest, TravelAndSliderPlacement)
{
    const struct
    {
        SCROLLBAR_TYPE type;
        INT_S32 travel, start;
        long most;
    } rows[] = {{0, 90, X + 10, 100}, {1, 60, X + 25, 70}, {2, 90, Y, 100}, {3, 60, Y + 15, 70}};
    for (const auto& r : rows) {
        WM_SCROLLBAR& b = bar(r.type);
        EXPECT_TRUE(b.travel == r.travel && b.travel_start == r.start && b.get_max_travel() == r.most) << r.type;
        b.move(X + 5, Y + 5);
        b.resize(static_cast<INT_S16>(b.width + 20), static_cast<INT_S16>(b.height + 20), 0);
        EXPECT_TRUE(b.travel == r.travel + 20 && b.travel_start == r.start + 5) << r.type;
    }
    // The slider of the middle value, by its black end lines and its hover
    // zone, also where travel x range passes 32 bits.
    for (long hi : {100L, 2000000000L}) {
        WM_SCROLLBAR& b = bar(0, 0, 0, &param(0, hi, hi / 2));
        draw(b); // end lines at x + 46 and x + 55: the last slider column is x + 54
        const INT_U32 row[] = {at(X + 45, Y + 10), at(X + 46, Y + 10), at(X + 55, Y + 10)};
        EXPECT_TRUE(row[0] == BAR && row[1] == COLOUR_BLACK && row[2] == COLOUR_BLACK) << hi;
        pass(b, X + 53, Y + 10, false);
        const bool over = b.over_slider;
        pass(b, X + 54, Y + 10, false);
        EXPECT_TRUE(over && !b.over_slider) << hi;
    }
    // At the minimum the flat face runs from x + 2 to x + s.
    draw(bar(0, 0));
    EXPECT_TRUE(at(X + 4, Y + 10) == SLIDER && at(X + 10, Y + 10) == COLOUR_BLACK && at(X + 11, Y + 10) == BAR);
}

TEST_F(ScrollbarTest, PressesPickButtonsAndPagesWithTheVerticalMaximumOnTop)
{
    // Offsets along the bar; the slider of types 1 and 3 lies at 45..54.
    const struct
    {
        SCROLLBAR_TYPE type;
        int a;
        long want;
        SCROLLBAR_BUTTON_DOWN_TYPE action;
    } rows[] = {{1, 5, 49, 2},  {1, 30, 40, 4}, {1, 90, 51, 1}, {1, 70, 60, 3}, {3, 5, 51, 1},
                {3, 30, 60, 3}, {3, 90, 49, 2}, {3, 70, 40, 4}, {2, 80, 40, 4}, {2, 5, 60, 3}};
    for (const auto& r : rows) {
        WM_SCROLLBAR& b = bar(r.type);
        pass(b, r.type < 2 ? X + r.a : X + 10, r.type < 2 ? Y + 10 : Y + r.a, true);
        EXPECT_TRUE(value(b) == r.want && b.button_down == r.action && !b.dragging) << r.type << " " << r.a;
    }
    EXPECT_EQ(reports, 10);
}

TEST_F(ScrollbarTest, HeldButtonRepeatsAfterTheThresholdThenAtTheRate)
{
    WM_SCROLLBAR& b = bar(1);
    const struct
    {
        INT_U32 ms;
        int px;
        bool left;
        long want;
    } steps[] = {{1, X + 95, true, 51}, {500, X + 95, true, 51}, {1, X + 95, true, 52},    {60, X + 95, true, 52},
                 {1, X + 95, true, 53}, {61, X + 95, true, 54},  {100, X + 200, true, 54}, // leaving drops the action
                 {1, X + 95, true, 55}, {500, X + 95, true, 55}, {1, X + 95, false, 55},   {1000, X + 95, false, 55}};
    for (const auto& s : steps) {
        pass(b, s.px, Y + 10, s.left, s.ms);
        EXPECT_EQ(value(b), s.want) << s.ms;
    }
    EXPECT_EQ(reports, 5);
}

TEST_F(ScrollbarTest, DragsSnapNearTheEndsAndNeverStartOutside)
{
    WM_SCROLLBAR& b = bar(0); // ts 20, travel 90, slider at columns 55..64
    pass(b, X + 50, Y + 10, true);
    EXPECT_EQ(b.dragging, 1);
    // drag_offset 6: q = pointer + 6; within 2 of either end snaps.
    const struct
    {
        int px, py;
        long want;
    } moves[] = {{X + 5, Y + 10, 0},
                 {X + 6, Y + 10, 2},
                 {X + 92, Y + 10, 97},
                 {X + 93, Y + 10, 100},
                 {X + 40, Y + 300, 40}}; // the last one off the bar
    for (const auto& m : moves) {
        pass(b, m.px, m.py, true);
        EXPECT_EQ(value(b), m.want) << m.px;
    }
    pass(b, X + 40, Y + 10, false);
    EXPECT_EQ(b.dragging, 0);

    // A press from outside acts on entry but never drags.
    WM_SCROLLBAR& c = bar(0);
    pass(c, X + 300, Y + 10, true);
    pass(c, X + 50, Y + 10, true);
    EXPECT_TRUE(!c.dragging && value(c) == 50);
    pass(c, X + 30, Y + 10, true);
    EXPECT_EQ(value(c), 40);
}

TEST_F(ScrollbarTest, KeysByOrientationAndModifierAndMovementCallback)
{
    const INT_U32 none = 0, cmd = kivo_test::KEY_COMMAND, ctrl = kivo_test::KEY_CONTROL;
    const struct
    {
        SCROLLBAR_TYPE type;
        INT_U32 key, mod;
        long want;
    } rows[] = {{0, 115, none, 0},  {0, 119, none, 100}, {0, 123, none, 49}, {0, 123, cmd, 40},  {0, 124, none, 51},
                {0, 124, ctrl, 60}, {0, 126, none, 50},  {2, 115, none, 50}, {2, 115, cmd, 100}, {2, 119, ctrl, 0},
                {2, 126, none, 51}, {2, 125, ctrl, 40},  {2, 116, none, 40}, {2, 121, none, 60}, {2, 36, none, 50}};
    for (const auto& r : rows) {
        WM_SCROLLBAR& b = bar(r.type);
        WM_SCREEN_OBJECT::focal_object = &b;
        hold_key(cmd, r.mod == cmd), hold_key(ctrl, r.mod == ctrl);
        KEYBOARD::process_key_event(r.key);
        pass(b, 700, 500, false);
        // Every code is taken, handled or not.
        EXPECT_TRUE(value(b) == r.want && KEYBOARD::code == -1) << r.type << " " << r.key << " " << r.mod;
    }
    // A movement callback gives every step: keys, presses and repeats.
    static std::vector<SCROLLBAR_BUTTON_DOWN_TYPE> asked;
    WM_SCROLLBAR& b = bar(1);
    b.movement_callback = [](WM_SCROLLBAR*, SCROLLBAR_BUTTON_DOWN_TYPE a) -> long { return asked.push_back(a), 3; };
    WM_SCREEN_OBJECT::focal_object = &b;
    KEYBOARD::process_key_event(123);
    pass(b, 700, 500, false);           // key: 47
    pass(b, X + 70, Y + 10, true);      // track beyond the slider: 50
    pass(b, X + 70, Y + 10, true, 501); // repeat: 53
    pass(b, X + 70, Y + 10, false);
    pass(b, X + 5, Y + 10, true); // less button: 50
    EXPECT_TRUE(asked == (std::vector<SCROLLBAR_BUTTON_DOWN_TYPE>{2, 3, 3, 2}) && value(b) == 50);
}

TEST_F(ScrollbarTest, WheelFocusAndReportsToTheOwner)
{
    WM_SCROLLBAR& older = bar(0);
    WM_SCROLLBAR& newest = bar(0, 90);
    const bool newest_has_it = WM_SCROLLBAR::mouse_wheel_focus == &newest;
    newest.wheel_step = 20, MOUSE::wheel_pos = 3;
    pass(older, 700, 500, false), pass(newest, 700, 500, false);
    EXPECT_TRUE(newest_has_it && value(older) == 50 && value(newest) == 100); // 90 + 60, clamped
    MOUSE::wheel_pos = 0x10000 - 2;                                           // read as a signed 16-bit count
    pass(older, X + 5, Y + 10, false);
    EXPECT_TRUE(WM_SCROLLBAR::mouse_wheel_focus == &older && value(older) == 50) << "entering resets the count";
    MOUSE::wheel_pos = 0x10000 - 2;
    pass(older, 700, 500, false);
    EXPECT_EQ(value(older), 48);
    bars.front().reset();
    EXPECT_EQ(WM_SCROLLBAR::mouse_wheel_focus, nullptr);
    // Owner changes are reported once; a disabled bar only reports.
    WM_SCROLLBAR& b = bar(1);
    b.enabled = 0, reports = 0;
    b.param->set(b.param->value, 70L);
    EXPECT_EQ(tick(1, &b), 7);
    EXPECT_TRUE(tick(1, &b) == 0 && reports == 1);
    WM_SCREEN_OBJECT::focal_object = &b, MOUSE::wheel_pos = 1;
    KEYBOARD::process_key_event(124);
    pass(b, X + 95, Y + 10, true);
    EXPECT_TRUE(value(b) == 70 && b.button_down == 0);
}

TEST_F(ScrollbarTest, SetupRepairsSizesAndEndsTheProgramOnBadInput)
{
    // Corners right to left, a 4-pixel slider, a 4 x 3 rectangle, a double.
    std::unique_ptr<WM_SCROLLBAR> swapped(make(X - 99, Y - 19, 4, &param(0, 9, 0), 0));
    EXPECT_TRUE(swapped->slider_sz == 6 && swapped->x == X - 99 && swapped->width == 100);
    std::unique_ptr<WM_SCROLLBAR> tiny(make(X + 3, Y + 2, 6, &param(0, 9, 0), 2));
    EXPECT_TRUE(tiny->width == 11 && tiny->height == 11);
    std::unique_ptr<WM_SCROLLBAR> floating(make(X + 99, Y + 19, 10, &param(0, 100, 50, 7), 0));
    EXPECT_EQ(floating->old_value, 50);
    const struct
    {
        PARAMETER* p;
        SCROLLBAR_TYPE type;
        int length;
        const char* code;
    } bad[] = {{nullptr, 0, 99, "0072"},
               {&param(0, 0, 0, 9), 0, 99, "0073"},
               {&param(5, 5, 5), 0, 99, "0070"},
               {&param(0, 9, 0), 1, 38, "0070"},
               {&param(0, 9, 0), 4, 99, "0074"}};
    for (const auto& b : bad) {
        EXPECT_EXIT(make(X + b.length, Y + 19, 10, b.p, b.type), ::testing::ExitedWithCode(1), b.code);
    }
}

TEST_F(ScrollbarTest, StyleSetGivesTypeLookAndState)
{
    const struct
    {
        INT_U32 ssef, ssf;
        INT_U16 edges;
        SCROLLBAR_TYPE type;
        INT_U8 flags;
    } rows[] = {{0x600, 0, 0xFF, 1, 0x1},
                {0x200, 0x18, 0x0F, 0, 0x6},
                {0x400, 0x80000, 0x0F, 3, 0x10},
                {0, 0x1000, 0x0F, 2, 0}};
    for (const auto& r : rows) {
        WM_STYLE_SET style;
        style.ssef = r.ssef, style.ssf = r.ssf, style.shading_flags = r.edges;
        style.active_colour = SLIDER;
        WM_SCROLLBAR b(X, Y, X + 99, Y + 99, &param(0, 9, 0), style, nullptr, nullptr, nullptr);
        EXPECT_TRUE(b.type == r.type && b.draw_flags == r.flags && b.enabled == (r.ssf & 0x1000 ? 0 : 1)) << r.ssef;
        EXPECT_EQ(b.button_colour, SLIDER) << "the buttons take the slider's colour";
    }
}

TEST_F(ScrollbarTest, SkinPiecesFollowTheStateAndFallBackToColours)
{
    const char* const suffixes[] = {"_bar",         "_bar_disabled",    "_bar_over",    "_slider_up",
                                    "_slider_down", "_slider_disabled", "_slider_over", "_less_up",
                                    "_less_down",   "_less_disabled",   "_less_over",   "_more_up",
                                    "_more_down",   "_more_disabled",   "_more_over"};
    auto colour = [](int i) { return 0xFF000000u | static_cast<INT_U32>(0x0F0A05 * (i + 1)); };
    for (int i = 0; i < 15; ++i) {
        picture(std::string("sk") + suffixes[i], colour(i));
    }
    WM_SCROLLBAR& b = bar(1);
    ASSERT_TRUE(b.set_images(alias, "sk", nullptr));
    enum
    {
        UP,
        OV,
        DN,
        DIS
    };
    // Boxes of track, slider, less and more by state, and a column of each.
    const int boxes[4][4] = {{0, 2, 0, 1}, {3, 6, 4, 5}, {7, 10, 8, 9}, {11, 14, 12, 13}}, cols[4] = {30, 50, 5, 95};
    const struct
    {
        bool focus;
        INT_U8 drag, enabled;
        INT_U32 held;
        int state[4];
    } rows[] = {{false, 0, 1, 0, {UP, UP, UP, UP}},
                {true, 0, 1, 0, {OV, OV, OV, OV}},
                {true, 1, 1, 2, {OV, DN, DN, OV}},
                {false, 1, 1, 1, {UP, DN, UP, DN}},
                {true, 1, 0, 1, {DIS, DIS, DIS, DIS}}};
    for (const auto& r : rows) {
        WM_SCREEN_OBJECT::focal_object = r.focus ? &b : nullptr;
        b.dragging = r.drag, b.enabled = r.enabled, b.button_down = r.held, draw(b);
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(at(X + cols[k], Y + 10), colour(boxes[k][r.state[k]])) << k;
        }
    }
    // Optional pieces: a plain bar needs three; without its disabled slider
    // a disabled bar shows the up piece. Bit 4 keeps pieces 8 x 8, centred.
    WM_SCROLLBAR& plain = bar(0, 50, SCROLLBAR_NATURAL_SIZE);
    ASSERT_TRUE(plain.set_images(alias, "sk", nullptr));
    plain.image_boxes[WM_SCROLLBAR::BOX_SLIDER_DISABLED].clear_images();
    plain.enabled = 0, WM_SCREEN_OBJECT::focal_object = nullptr;
    draw(plain);
    EXPECT_TRUE(at(X + 46, Y + 10) == colour(3) && at(X + 2, Y + 2) == kivo_test::SENTINEL);
    // One missing piece: the whole bar in colours.
    b.image_boxes[WM_SCROLLBAR::BOX_MORE_DOWN].clear_images();
    draw(b);
    EXPECT_TRUE(!b.is_graphical() && at(X + 30, Y + 10) == BAR);
    // From a style's loaded cache.
    WM_STYLE_SET style;
    std::snprintf(style.image_path, sizeof style.image_path, "%s", alias);
    style.set_image_base_string("sk");
    style.load_runtime_image_cache();
    WM_SCROLLBAR styled(X, Y, X + 99, Y + 19, &param(0, 9, 0), style, nullptr, nullptr, nullptr);
    EXPECT_TRUE(styled.is_graphical());
}

TEST_F(ScrollbarTest, ColourLooksShadeHeldButtonsTheOtherWay)
{
    auto green = [this](int px, int py) { return (at(px, py) >> 8) & 0xFF; };
    WM_SCROLLBAR& b = bar(1, 50, SCROLLBAR_VFADING);
    for (INT_U32 held : {0u, 2u}) {
        b.button_down = held, draw(b);
        // The less button's face fades from its colour to black, reversed while held.
        EXPECT_EQ(green(X + 8, Y + 5) > green(X + 8, Y + 14), held == 0) << held;
        EXPECT_EQ(at(X + 17, Y + 10), COLOUR_BLACK) << "separating line";
    }
    draw(bar(0, 50, SCROLLBAR_ROUNDED)); // no flat end lines
    EXPECT_TRUE(at(X + 50, Y + 10) == SLIDER && at(X + 55, Y + 10) != COLOUR_BLACK);
}

// An empty range or no travel leaves nothing to divide by; steps past a
// small type's width do not wrap.
TEST_F(ScrollbarTest, EmptyRangeNoTravelAndNarrowTypesStaySound)
{
    WM_SCROLLBAR& empty = bar(0);
    empty.param->set(empty.param->min, 100L);
    WM_SCROLLBAR& stuck = bar(0);
    stuck.slider_sz = 100, stuck.set_travel();
    for (WM_SCROLLBAR* b : {&stuck, &empty}) {
        const long before = value(*b);
        pass(*b, X + 50, Y + 10, true), pass(*b, X + 90, Y + 10, true), pass(*b, X + 90, Y + 10, false);
        EXPECT_EQ(value(*b), before);
        draw(*b);
    }
    EXPECT_EQ(at(empty.travel_start, Y + 10), COLOUR_BLACK) << "slider at its start";
    WM_SCROLLBAR::mouse_wheel_focus = &stuck, MOUSE::wheel_pos = 2;
    pass(stuck, 700, 500, false);
    EXPECT_EQ(value(stuck), 52);

    WM_SCROLLBAR& narrow = bar(0, 0, 0, &param(0, 200, 1, 1));
    WM_SCREEN_OBJECT::focal_object = &narrow, narrow.line_step = 5;
    KEYBOARD::process_key_event(123);
    pass(narrow, 700, 500, false);
    EXPECT_EQ(value(narrow), 0);
}

} // namespace
