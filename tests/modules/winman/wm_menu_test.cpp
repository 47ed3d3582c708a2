// Menus: menu modes, placement and its flips, every way to close, groups
// and destruction, with frames through the page manager.
#include "kivo_host.h"
#include "widget_test.h"
#include "wm_floating_menu.h"
#include "wm_menu.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
using P = WM_PAGE_MANAGER;

class MenuTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        new WM_PAGE_MANAGER(1, -1); // the fixture deletes it, and the menus with it
    }
    static WM_MESG frame(INT_U32 ms = 20)
    {
        kivo_fake_clock_advance_ms(ms);
        return S::pm->monitor(0);
    }
    // A 60 x 20 menu at (x, y) in area 0 with three rows.
    static WM_MENU* menu(INT_S16 x, INT_S16 y, MENU_TYPE type = 0)
    {
        auto* m = new WM_MENU(x, y, static_cast<INT_S16>(x + 59), static_cast<INT_S16>(y + 19), COLOUR_GREY,
                              COLOUR_BLACK, COLOUR_RED, COLOUR_WHITE, "Menu", 1, type, nullptr);
        for (const char* row : {"One", "Two", "Three"}) {
            m->popup->add_button(row, nullptr, nullptr, nullptr, 0);
        }
        m->position_popup();
        S::pm->areas[0].add_object(m, 0);
        return m;
    }
    static void click(int x, int y) { point(x, y), press(1, true), frame(), press(1, false), frame(); }
    static void settle()
    {
        for (int i = 0; i < 20; ++i) {
            frame(30);
        }
    }
    static bool is_open(WM_MENU* m) { return m->popup_open && m->popup->visible && m->popup->is_modal_object(); }
};

} // namespace

TEST_F(MenuTest, MenuModesAndDefaultItemStyle)
{
    const BUTTON_TYPE forced[] = {1, 0, 2}; // mode 0 keeps the style's type
    for (INT_U32 mode : {0u, 1u, 2u}) {
        WM_MENU::menu_mode = mode;
        WM_STYLE_SET button, popup;
        button.ssef = 0x40; // a down look that follows the pointer: type 1
        WM_MENU styled(10, 10, 109, 29, "Styled", 0, button, popup, nullptr, nullptr, nullptr, nullptr, nullptr,
                       nullptr, nullptr);
        EXPECT_EQ(styled.button_type, forced[mode]) << mode;
        EXPECT_GE(styled.popup->width, styled.width) << "the popup is at least as wide as its button";
        EXPECT_EQ(styled.popup->object_style_set.ssf + (styled.popup->object_style_set.ssef << 8), 0x4040u);
    }
}

TEST_F(MenuTest, PlacementFlipsAndKeepsTheFlip)
{
    const struct
    {
        MENU_TYPE type;
        INT_S16 x, y;
        INT_S16 area[4];
        MENU_TYPE after;
        bool beside = true; // false: pushed into the area instead
    } rows[] = {
        {0, 100, 100, {-1, -1, -1, -1}, 0},          // fits below
        {0, 100, 500, {-1, -1, -1, 519}, 1},         // near the bottom: above
        {0, 100, 500, {-1, 495, -1, 530}, 0, false}, // fits neither way: stays below
        {3, 700, 100, {-1, -1, 759, -1}, 2},         // at the right edge: left
        {2, 10, 100, {-1, -1, -1, -1}, 3},           // at the left edge: right
        {7, 100, 100, {-1, -1, -1, -1}, 7},          // no such side: not moved
    };
    for (const auto& r : rows) {
        P::popup_x1 = r.area[0], P::popup_y1 = r.area[1], P::popup_x2 = r.area[2], P::popup_y2 = r.area[3];
        WM_MENU* m = menu(r.x, r.y, r.type);
        const INT_S16 px = m->popup->x, py = m->popup->y;
        m->move(static_cast<INT_S16>(r.x + 1), r.y); // placed again: the flip is kept
        EXPECT_EQ(m->menu_type, r.after) << r.type << " at " << r.x << "," << r.y;
        const WM_FLOATING_MENU* p = m->popup;
        const int at[][2] = {{m->x, m->y + m->height},
                             {m->x, m->y - p->height},
                             {m->x - p->width, m->y},
                             {m->x + m->width, m->y},
                             {px, py}};
        const int k = r.after < 4 ? r.after : 4;
        EXPECT_TRUE(!r.beside || (p->x == at[k][0] && p->y == at[k][1])) << p->x << "," << p->y;
        S::pm->areas[0].remove_object(m, 1, 0);
    }
}

TEST_F(MenuTest, EveryCloseTakesThePopupOffTheList)
{
    constexpr INT_U32 KEY_F = 3;
    const struct
    {
        INT_U32 mode;
        std::function<void(WM_MENU*)> close;
    } rows[] = {
        {0, [](WM_MENU*) { click(120, 110); }}, // pressed again
        {0, [](WM_MENU*) { hold_key(KEY_F, true), frame(), hold_key(KEY_F, false); }},
        {2,
         [](WM_MENU* m) {
             point(120, m->popup->y + 5), settle();
             EXPECT_TRUE(is_open(m));
             point(500, 500);
         }},
    };
    for (const auto& r : rows) {
        WM_MENU::menu_mode = r.mode;
        WM_MENU* m = menu(100, 100);
        m->set_hotkey(KEY_F);
        r.mode == 2 ? (point(120, 110), frame(), void(frame())) : click(120, 110);
        ASSERT_TRUE(is_open(m)) << r.mode;
        // Pressed again before its first draw: opened again, listed once.
        m->popup->drawn = 0;
        WM_MENU::menu_callback(m, m, nullptr);
        EXPECT_EQ(S::modal_screen_objects.count, 1);
        settle();
        ASSERT_TRUE(is_open(m));
        r.close(m);
        settle();
        EXPECT_FALSE(m->popup_open);
        EXPECT_EQ(S::modal_screen_objects.count, 0) << "the menu took its closed popup off the list";
        if (r.mode == 0) {
            click(120, 110);
            EXPECT_TRUE(is_open(m)) << "and opens it again";
        }
        S::pm->areas[0].remove_object(m, 1, 0);
    }
}

// A row with the focus, in the popup or in the popup of one of its
// sub-menus, hands it back to the menu whichever way the popup goes.
TEST_F(MenuTest, TheFocusOnARowGoesBackToTheMenu)
{
    auto tap = [](INT_U32 key) { hold_key(key, true), frame(), hold_key(key, false), frame(); };
    const struct
    {
        const char* how;
        bool in_sub_menu;
        std::function<void()> close;
    } ways[] = {
        {"Return", false, [&] { tap(KEY_RETURN); }},
        {"Escape", false, [&] { tap(KEY_ESCAPE); }},
        {"a press on the menu", false, [] { click(120, 110); }},
        {"Return in a sub-menu", true, [&] { tap(KEY_RETURN); }},
    };
    // Ahead of the menu: the page's focus repair would give it the focus.
    auto* first = new kivo_test::PROBE(0, 0, 10, 10, COLOUR_INVISIBLE);
    first->can_focus = 1;
    S::pm->areas[0].add_object(first, 0);
    for (const auto& way : ways) {
        WM_MENU* m = menu(100, 100);
        WM_FLOATING_MENU* popup = m->popup;
        if (way.in_sub_menu) {
            WM_MENU* more = m->popup->add_menu("More", 0, 1, nullptr, nullptr);
            more->popup->add_button("Deep", nullptr, nullptr, nullptr, 0);
            popup = more->popup;
        }
        m->can_focus = 1;
        m->take_focus();
        click(120, 110);
        if (way.in_sub_menu) {
            S::pm->areas[0].add_modal_object(popup, 0);
            popup->request_draw();
            frame();
        }
        popup->set_childrens_allowed_focus(1);
        popup->get_button(0)->take_focus();
        frame();
        ASSERT_EQ(S::focal_object, popup->get_button(0)) << way.how;
        way.close();
        settle();
        EXPECT_FALSE(popup->visible) << way.how;
        EXPECT_EQ(S::focal_object, m) << way.how;
        S::pm->areas[0].remove_object(m, 1, 0);
    }
}

TEST_F(MenuTest, GroupsSwitchOpenPopups)
{
    WM_MENU* m[3] = {menu(0, 0), menu(100, 0), menu(200, 0)};
    auto links = [&m] { // next and previous of each; 3 = none
        std::vector<long> out;
        for (WM_MENU* a : m) {
            out.insert(out.end(), {std::find(m, m + 3, a->next) - m, std::find(m, m + 3, a->previous) - m});
        }
        return out;
    };
    m[1]->add_to_group(m[0]);
    EXPECT_EQ(links(), (std::vector<long>{1, 1, 0, 0, 3, 3}));
    m[2]->add_to_group(m[0]);
    EXPECT_EQ(links(), (std::vector<long>{1, 2, 2, 0, 0, 1}));
    m[2]->set_enabled(0);
    click(20, 10);
    ASSERT_TRUE(is_open(m[0]));
    point(120, 10), frame(), frame();
    EXPECT_TRUE(is_open(m[1]));
    EXPECT_TRUE(m[1]->down);
    EXPECT_FALSE(m[0]->popup->visible) << "closed without its slide";
    point(220, 10);
    settle();
    EXPECT_TRUE(is_open(m[1])) << "a disabled member does not switch";

    m[1]->remove_from_group();
    EXPECT_EQ(links(), (std::vector<long>{2, 2, 3, 3, 0, 0}));
    m[0]->remove_from_group();
    EXPECT_EQ(links(), (std::vector<long>{3, 3, 3, 3, 3, 3}));
}

TEST_F(MenuTest, DestroyedMenusLeaveNoModalEntry)
{
    for (bool closing : {false, true}) {
        WM_MENU* m = menu(100, 100);
        click(120, 110);
        if (closing) {
            WM_MENU::menu_callback(m, m, nullptr);
        }
        ASSERT_TRUE(is_open(m) && m->popup->closing == closing);
        S::pm->areas[0].remove_object(m, 1, 0);
        EXPECT_EQ(S::modal_screen_objects.count, 0) << closing;
        settle();
    }
}
