#include "widget_test.h"

#include "keyboard.h"

using namespace kivo_test;

namespace {

using Focus = WidgetTest;
using S = WM_SCREEN_OBJECT;

PROBE* widget(WM_SCREEN_OBJECT& parent, INT_U8 focusable = 1, INT_U8 visible = 1)
{
    auto* p = new PROBE(0, 0, 10, 10, COLOUR_RED, visible);
    p->can_focus = focusable;
    parent.add_object(p, 0);
    return p;
}

// One pass with Tab pending and the modifiers held; the widgets must not
// see the Tab.
void press_tab(bool shift, INT_U32 modifier = 0)
{
    KEYBOARD::release_all_keys();
    KEYBOARD::set_key_held(KEY_SHIFT, shift);
    KEYBOARD::set_key_held(modifier, modifier != 0);
    KEYBOARD::process_key_event(KEY_TAB);
    S::pm->monitor(1);
    EXPECT_EQ(KEYBOARD::code, -1);
}

} // namespace

TEST_F(Focus, TabWalksTheAreasInOrderOrStaysInsideTheDialog)
{
    WM_PAGE_MANAGER manager(2, -1);
    PROBE* a = widget(manager.areas[0]);
    widget(manager.areas[0], 0);
    PROBE* b = widget(*widget(manager.areas[0], 0));
    PROBE* gone = widget(manager.areas[0], 1, 0);
    widget(*widget(manager.areas[0], 0, 0)); // in a hidden box: never chosen
    PROBE* c = widget(manager.areas[1]);
    PROBE* d = widget(manager.areas[1]);
    // Another walk of the area's children is in progress.
    LISTNODE* walking = manager.areas[0].objects.head->next;
    manager.areas[0].objects.iterator = walking;

    const struct
    {
        PROBE* focal;
        bool shift;
        PROBE* expected;
    } rows[] = {{nullptr, false, a}, {nullptr, true, d}, {a, false, b},    {b, false, c},  {d, false, a},
                {a, true, d},        {c, true, b},       {gone, false, c}, {gone, true, b}}; // hidden, yet passed
    for (const auto& row : rows) {
        S::focal_object = row.focal;
        press_tab(row.shift);
        EXPECT_EQ(S::focal_object, row.expected) << row.shift;
    }
    EXPECT_EQ(manager.areas[0].objects.iterator, walking);

    // The topmost visible modal object alone; no area moves meanwhile.
    auto* dialog = new PROBE(0, 0, 50, 50, COLOUR_INVISIBLE);
    PROBE* first = widget(*dialog);
    PROBE* second = widget(*dialog);
    manager.areas[0].add_modal_object(dialog, 0);
    auto* closed = new PROBE(0, 0, 50, 50, COLOUR_INVISIBLE, 0);
    widget(*closed);
    manager.areas[0].add_modal_object(closed, 0); // hidden, on top
    for (PROBE* expected : {first, second, first}) {
        press_tab(false);
        EXPECT_EQ(S::focal_object, expected);
    }
    press_tab(true);
    press_tab(false, KEY_COMMAND);
    press_tab(true, KEY_CONTROL);
    EXPECT_EQ(S::focal_object, second);

    first->visible = second->visible = 0;
    EXPECT_EQ(manager.give_focus_to_next_object(), 0);
    EXPECT_EQ(manager.give_focus_to_prev_object(), 0);
}

TEST_F(Focus, AreaMovesStartAtTheNeighbouringAreaModuloTheCount)
{
    auto* manager = new WM_PAGE_MANAGER(3, -1);
    PROBE* a0 = widget(manager->areas[0]);
    PROBE* a1 = widget(manager->areas[1]);
    PROBE* a2 = widget(manager->areas[2]);
    widget(manager->areas[2]);
    PROBE stray(0, 0, 10, 10, COLOUR_RED);
    stray.can_focus = 1;

    const struct
    {
        PROBE* focal;
        int stray_area; // of the focal object in no area
        bool shift;
        int hide; // 1 area 1, 2 area 1's widget
        PROBE* expected;
    } rows[] = {
        {nullptr, 0, false, 0, a0}, {nullptr, 0, true, 0, a2}, {a0, 0, false, 0, a1}, {a0, 0, false, 1, a2},
        {a0, 0, true, 0, a2},       {a2, 0, false, 0, a0},     {a2, 0, true, 1, a0},  {&stray, -1, true, 0, a0},
        {&stray, 7, false, 0, a2},  {&stray, 9, true, 0, a2},  {a0, 0, false, 2, a0}, // area 1 has nothing to focus
    };
    for (const auto& row : rows) {
        manager->areas[1].visible = row.hide != 1;
        a1->visible = row.hide != 2;
        stray.area = static_cast<INT_S16>(row.stray_area);
        S::focal_object = row.focal;
        press_tab(row.shift, row.shift ? KEY_COMMAND : KEY_CONTROL);
        EXPECT_EQ(S::focal_object, row.expected);
    }

    // One area, nothing focal: the backward move starts at area 0 too.
    S::focal_object = nullptr;
    delete manager;
    manager = new WM_PAGE_MANAGER(1, -1);
    PROBE* only = widget(manager->areas[0]);
    EXPECT_EQ(manager->give_focus_to_prev_area(), 1);
    EXPECT_EQ(S::focal_object, only);
}
