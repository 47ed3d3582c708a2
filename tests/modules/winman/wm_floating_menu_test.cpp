// The floating menu: rows and their lookups, sizing to the popup area
// with the scroll buttons, keyboard navigation and type-ahead, the
// latching of Escape and the close key, choosing by mouse and Return, and
// the closing of the popup chain. Frames run through the page manager.
#include "keyboard.h"
#include "kivo_host.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_floating_menu.h"
#include "wm_menu.h"

#include <string>
#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
using P = WM_PAGE_MANAGER;
using FM = WM_FLOATING_MENU;
EFFECT_INFO no_effects = {0, 0, 0, 0xFF};

class FloatingMenuTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        WM_DIALOG::init_style_sets();
        new WM_PAGE_MANAGER(1, -1); // deleted by the fixture with every modal object
        frame();
    }
    static WM_MESG frame(INT_U32 ms = 20)
    {
        kivo_fake_clock_advance_ms(ms);
        return S::pm->monitor(0);
    }
    // A free menu at (100, 50) holding the rows (";" is a separator), shown.
    static FM* open(std::vector<const char*> rows, WM_OBJECT_CALLBACK cb = nullptr, INT_S32 close_key = -1)
    {
        auto* m =
            new FM(100, 50, nullptr, WM_DIALOG::default_dialog_style_set, WM_DIALOG::default_title_style_set,
                   WM_DIALOG::default_object_style_set, nullptr, 0, 0, nullptr, nullptr, nullptr, &no_effects, nullptr);
        m->close_key = close_key;
        for (const char* r : rows) {
            if (std::string(r) == ";") {
                m->add_seperator();
            } else {
                m->add_button(r, cb, m, nullptr, 0);
            }
        }
        S::pm->areas[0].add_modal_object(m, 0);
        frame();
        frame();
        return m;
    }
    // Return pressed and let go, a step each.
    static void press_return()
    {
        hold_key(kivo_test::KEY_RETURN, true);
        frame();
        hold_key(kivo_test::KEY_RETURN, false);
        frame();
    }
    static void click(S* o) { click_at(o->x + 2, o->y + 2); }
    static void click_at(int x, int y)
    {
        kivo_test::WidgetTest::point(x, y);
        press(1, true);
        frame();
        press(1, false);
        frame();
    }
    // The first character gap_ms after the last one, the rest 50 ms apart.
    static void type(const char* text, INT_U32 gap_ms)
    {
        for (const char* c = text; *c; ++c) {
            KEYBOARD::process_char_event(KEYBOARD::unmap_char(static_cast<unsigned char>(*c)));
            frame(c == text ? gap_ms : 50);
        }
    }
    static const char* cell_caption(FM* m, INT_S16 row)
    {
        S* o = m->grid->get_object(0, row);
        return o && (o->type & WM_TYPE_BUTTON) ? static_cast<WM_BUTTON*>(o)->caption : "";
    }
    static int chosen;
    static WM_MESG count_choice(S*, void*, void*)
    {
        ++chosen;
        return 0;
    }
};
int FloatingMenuTest::chosen = 0;

TEST_F(FloatingMenuTest, RowsAndLookups)
{
    FM* m = open({"Alpha"});
    EXPECT_EQ(m->add_button(nullptr, nullptr, nullptr, nullptr, 1), nullptr);
    EXPECT_EQ(m->row_count, 1);
    WM_MENU* sub = m->add_menu("More", 1, 1, nullptr, nullptr);
    ASSERT_NE(sub, nullptr);
    EXPECT_EQ(m->row_count, 3);
    EXPECT_EQ(m->item_count, 2);
    EXPECT_EQ(m->get_button(1), nullptr) << "the separator";
    EXPECT_EQ(m->get_menu(2), sub);
    sub->popup->add_button("Deep", nullptr, nullptr, nullptr, 0);
    sub->popup->visible = 1;
    EXPECT_TRUE(m->is_in_menu(sub->popup->x + 1, sub->popup->y + 1));
    EXPECT_TRUE(m->is_in_menu(m->x + 1, m->y + 1));
    EXPECT_FALSE(m->is_in_menu(5, 5));
    m->visible = 0;
    EXPECT_FALSE(m->is_in_menu(m->x + 1, m->y + 1));

    // A row the grid refuses is not left behind (the leak check sees it).
    m->grid->max_rows = m->row_count;
    EXPECT_EQ(m->add_button("Late", nullptr, nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(m->add_menu("Late", 0, 0, nullptr, nullptr), nullptr);
    EXPECT_EQ(m->add_seperator(), nullptr);
    EXPECT_EQ(m->row_count, 3);
    EXPECT_EQ(m->item_count, 2);
}

TEST_F(FloatingMenuTest, SizesToWidestRowAndPopupArea)
{
    FM* m = open({"ab"});
    const WM_STYLE_SET& o = m->object_style_set;
    auto text_w = [&](const char* t) {
        return S::surface->get_string_width(o.font_id, o.font_x_sz, o.font_y_sz, t, -1, 0);
    };
    const int w1 = m->width, h1 = m->height, rh = m->get_button(0)->height;
    m->add_button("a much longer caption", nullptr, nullptr, nullptr, 0);
    EXPECT_EQ(m->width - w1, text_w("a much longer caption") - text_w("ab"));
    EXPECT_EQ(m->height - h1, rh);

    // Rows A B ; C D E F G H in an area about four rows high.
    FM* s = open({"A", "B", ";", "C", "D", "E", "F", "G", "H"});
    const int full = s->height;
    P::popup_y1 = 50;
    P::popup_y2 = static_cast<INT_S16>(50 + full / 2);
    s->calc_new_size();
    EXPECT_LE(s->y + s->height - 1, P::popup_y2);
    EXPECT_EQ(s->top_row, 0);
    EXPECT_STREQ(cell_caption(s, 0), "A");
    EXPECT_STREQ(cell_caption(s, s->bottom_row), "v");
    EXPECT_LT(s->bottom_row, s->row_count - 1);

    const struct
    {
        long direction;
        INT_S16 top;
    } steps[] = {{0, 1}, {0, 3}, {1, 1}}; // the separator is skipped both ways
    for (const auto& st : steps) {
        FM::scrolling_callback(nullptr, s, reinterpret_cast<void*>(st.direction));
        EXPECT_EQ(s->top_row, st.top);
        EXPECT_STREQ(cell_caption(s, s->top_row), "^");
        EXPECT_STREQ(s->get_button(s->top_row)->caption, st.top == 1 ? "B" : "C");
    }
    FM::scrolling_callback(nullptr, s, reinterpret_cast<void*>(1L));
    EXPECT_EQ(s->top_row, 0);
    EXPECT_STREQ(cell_caption(s, 0), "A");
}

TEST_F(FloatingMenuTest, NavigationKeysMoveTheFocus)
{
    FM* m = open({"r0", "r1", "r2", "r3", "r4"});
    KEYBOARD::process_key_event(125);
    frame();
    EXPECT_EQ(KEYBOARD::code, -1);
    EXPECT_TRUE(m->grid->childrens_allowed_focus);
    EXPECT_TRUE(m->get_button(4)->can_focus);
    m->get_button(0)->take_focus();
    const struct
    {
        INT_S32 key;
        INT_S16 row;
    } keys[] = {{116, 3}, {121, 0}, {119, 4}, {115, 0}};
    for (const auto& k : keys) {
        KEYBOARD::process_key_event(static_cast<INT_U32>(k.key));
        frame();
        EXPECT_EQ(S::focal_object, m->get_button(k.row)) << k.key;
    }
    m->start_fade(0); // closing: the rows are no longer monitored
    S::focal_object_monitored = 0;
    m->WM_DIALOG::monitor();
    EXPECT_TRUE(S::focal_object_monitored);
}

TEST_F(FloatingMenuTest, TypeAheadMatchesPrefixes)
{
    FM* m = open({"bb", "Bravo", "bread", "abcdeXY", "cherry"});
    const struct
    {
        const char* text;
        INT_U32 gap_ms;
        INT_S16 row;
    } typed[] = {
        {"b", 500, 0},       {"r", 100, 1}, // "br" within 400 ms, case-insensitive
        {"b", 500, 2},                      // a pause restarts the prefix
        {"abcdefg", 500, 3},                // only five characters compare
        {"c", 500, 4},       {"b", 500, 0}, // from the last row it wraps to row 0
    };
    for (const auto& t : typed) {
        type(t.text, t.gap_ms);
        EXPECT_EQ(S::focal_object, m->get_button(t.row)) << t.text;
    }
    EXPECT_TRUE(m->grid->childrens_allowed_focus);
}

TEST_F(FloatingMenuTest, EscapeAndCloseKeyHeldAtOpening)
{
    hold_key(53, true);
    FM* m = open({"one"});
    frame();
    EXPECT_TRUE(m->visible);
    hold_key(53, false);
    frame();
    frame();
    EXPECT_EQ(S::modal_screen_objects.head, nullptr); // closed, removed and deleted

    hold_key(12, true);
    m = open({"one"}, nullptr, 12);
    hold_key(12, false);
    frame();
    frame();
    EXPECT_TRUE(m->visible);
    hold_key(12, true);
    frame();
    hold_key(12, false);
    frame();
    frame();
    EXPECT_EQ(S::modal_screen_objects.head, nullptr);
}

// Return on a list opens its menu: that Return's release is no choice and
// does not close the menu; a Return pressed once it shows does.
TEST_F(FloatingMenuTest, ReturnHeldAtOpeningLeavesItOpen)
{
    chosen = 0;
    hold_key(kivo_test::KEY_RETURN, true);
    FM* m = open({"one", "two"}, count_choice);
    hold_key(kivo_test::KEY_RETURN, false);
    frame();
    frame();
    EXPECT_TRUE(m->visible);
    EXPECT_EQ(chosen, 0);
    m->set_childrens_allowed_focus(1);
    m->get_button(1)->take_focus();
    press_return();
    EXPECT_EQ(chosen, 1);
    EXPECT_FALSE(m->visible);
}

TEST_F(FloatingMenuTest, ChoosingByMouseAndReturn)
{
    chosen = 0;
    point(1, 1);
    press(1, true); // the press that opens the menu
    FM* m = open({"one", "two"}, count_choice);
    point(m->get_button(0)->x + 2, m->get_button(0)->y + 2);
    press(1, false);
    frame();
    EXPECT_EQ(chosen, 0);
    EXPECT_TRUE(m->visible);
    click(m->get_button(0));
    EXPECT_EQ(chosen, 1);
    EXPECT_FALSE(m->visible);
    EXPECT_FALSE(m->closed);

    // A chosen menu that is to go leaves the modal list and is deleted.
    S::pm->areas[0].remove_modal_object(m, 1, 0);
    m = open({"one", "two"}, count_choice);
    m->remove_when_closed = 1;
    click(m->get_button(1));
    frame();
    EXPECT_EQ(chosen, 2);
    EXPECT_EQ(S::modal_screen_objects.head, nullptr);

    m = open({"one", "two"}, count_choice);
    m->set_childrens_allowed_focus(1);
    m->get_button(1)->take_focus();
    press_return();
    EXPECT_EQ(chosen, 3);
    EXPECT_FALSE(m->visible);

    // A click outside closes it; only the hidden menu above stays listed.
    open({"x"});
    click_at(5, 5);
    frame();
    EXPECT_EQ(S::modal_screen_objects.head->next, nullptr);
}

TEST_F(FloatingMenuTest, PopupChainClosesAndHides)
{
    auto* top =
        new WM_MENU(10, 10, 69, 29, COLOUR_GREY, COLOUR_BLACK, COLOUR_RED, COLOUR_WHITE, "File", 1, 0, &no_effects);
    S::pm->areas[0].add_object(top, 0);
    FM* a = top->popup;
    WM_MENU* more = a->add_menu("More", 0, 1, nullptr, nullptr);
    WM_MENU* deeper = more->popup->add_menu("Deeper", 0, 1, nullptr, nullptr);
    for (FM* f : {a, more->popup, deeper->popup}) {
        f->visible = 1;
    }
    top->set_down(1);
    deeper->popup->hide_linked_popup(1);
    EXPECT_FALSE(more->popup->visible);
    EXPECT_FALSE(a->visible);
    EXPECT_FALSE(top->down);

    a->visible = more->popup->visible = 1;
    deeper->popup->close_linked_popup(1);
    EXPECT_TRUE(more->popup->closing);
    EXPECT_TRUE(a->closing);
    EXPECT_FALSE(a->remove_when_closed);

    // A free menu's sub-menu closes the free menu itself.
    FM* f = open({"x"});
    WM_MENU* row = f->add_menu("Sub", 0, 0, nullptr, nullptr);
    row->popup->close_linked_popup(1);
    EXPECT_TRUE(f->closing);
}

} // namespace

// Twelve rows a to l, five of them shown. A row reached by typing its
// letter, and the row a page key names (116: row + shown - 2, 121: row -
// shown + 1, within the rows), keep the focus and are shown with no scroll
// button over them from the frame of the key on.
TEST_F(FloatingMenuTest, PageKeysEndOnTheirRowShownUncovered)
{
    const struct
    {
        INT_U32 key;
        int from, to;
    } cases[] = {
        {116, 0, 3},   {116, 1, 4},  {116, 4, 7}, {116, 5, 8}, {116, 6, 9}, {116, 7, 10}, {116, 8, 11},
        {116, 11, 11}, {121, 11, 7}, {121, 8, 4}, {121, 5, 1}, {121, 4, 0}, {121, 0, 0},
    };
    const std::vector<const char*> letters = {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l"};
    for (const auto& k : cases) {
        SCOPED_TRACE(std::to_string(k.key) + " from " + std::to_string(k.from));
        FM* m = open(letters);
        P::popup_y1 = 50;
        P::popup_y2 = static_cast<INT_S16>(50 + m->height - 6 * m->get_button(0)->height - 1);
        m->calc_new_size();
        frame();
        ASSERT_EQ(m->bottom_row - m->top_row, 4);
        auto shown_with_focus = [m](int row) {
            INT_S16 c = 0, r = -1;
            return S::focal_object == m->get_button(static_cast<INT_S16>(row)) &&
                   m->grid->find_focal_child_object(c, r, 0) && r == row;
        };
        type(letters[static_cast<size_t>(k.from)], 1000);
        frame();
        EXPECT_TRUE(shown_with_focus(k.from));
        KEYBOARD::process_key_event(k.key);
        for (int f = 0; f < 2; ++f) {
            frame();
            EXPECT_TRUE(shown_with_focus(k.to)) << "frame " << f;
        }
        S::pm->areas[0].remove_modal_object(m, 1, 0);
        P::popup_y1 = P::popup_y2 = -1;
    }
}
