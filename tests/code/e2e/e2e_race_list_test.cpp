// The race list of the name program worked with the keyboard alone, as a
// person does: the built program on a private X server, driven with
// xdotool. What the window must show (the open list with its mark on each
// row, the name fields, the race shown) is drawn here headless from the
// same definition, each state set directly rather than reached by keys.
#include "e2e_fixture.h"
#include "keyboard.h"
#include "pages/settings_page.h"
#include "wm_floating_menu.h"
#include "wm_list_box.h"
#include "wm_script.h"
#include "wm_text_edit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using kivo_test::XPixels;

class RaceListProgramTest : public kivo_test::E2eTest
{
protected:
    // ---- headless, from the built definition -----------------------------------

    static PLACE place_of(WM_SCREEN_OBJECT* o) { return {o->x, o->y, o->width, o->height}; }
    SETTINGS_PAGE* settings_page() const
    {
        const WM_AREA& a = *ptm.page_manager->current_area;
        return dynamic_cast<SETTINGS_PAGE*>(static_cast<WM_PAGE_BASE*>(a.history[a.history_index].data));
    }
    // The window as it first shows, the places of the controls, and the
    // open list: plain as the pointer opens it, and with each row marked.
    void prepare()
    {
        kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
        ASSERT_NO_FATAL_FAILURE(start());
        SETTINGS_PAGE* s = settings_page();
        ASSERT_TRUE(s && s->race_list && s->race_list->popup && s->race_text && s->first_name_edit &&
                    s->second_name_edit);
        window_w = ptm.width, window_h = ptm.height;
        title = ptm.name ? ptm.name : "";
        first_settings = screen_rgb({0, 0, window_w, window_h});
        first = place_of(s->first_name_edit), second = place_of(s->second_name_edit);
        edits = {first, second};
        race_text = place_of(s->race_text);
        WM_FLOATING_MENU* popup = s->race_list->popup;
        point(s->race_list->x + 4, s->race_list->y + 4);
        press(1, true);
        kivo_fake_clock_advance_ms(100);
        ASSERT_TRUE(app_main());
        press(1, false);
        run();
        ASSERT_TRUE(popup->visible);
        list = place_of(popup);
        list_plain = screen_rgb(list);
        popup->set_childrens_allowed_focus(1);
        for (INT_S16 r = 0; r < popup->row_count; r++) {
            popup->get_button(r)->take_focus();
            run();
            list_marked.push_back(screen_rgb(list));
            EXPECT_NE(list_marked.back(), list_plain) << "row " << r << " is drawn no differently with the focus";
        }
        popup->hide(0, 0);
        point(-1, -1);
        run();
    }
    // A name field unfocused holding text, or focused with the caret after it.
    PIXELS field(WM_TEXT_EDIT* edit, const char* text, bool focused)
    {
        edit->set_buffer(text);
        if (focused) {
            edit->take_focus();
            KEYBOARD::process_key_event(KEY_END);
        } else {
            settings_page()->race_list->take_focus();
        }
        run();
        return screen_rgb(place_of(edit));
    }
    // The race shown once the list's selection is that race.
    PIXELS race_shown(INT_S16 race)
    {
        settings_page()->race_list->set_current_selection(race, 0);
        run();
        return screen_rgb(race_text);
    }

    // ---- the real program --------------------------------------------------------

    // The window until it matches the settings page as it first shows (the
    // name fields left out: their caret blinks), then the keyboard's focus.
    void launch()
    {
        ASSERT_NO_FATAL_FAILURE(start_program());
        PIXELS want = first_settings;
        blank_edits(want);
        bool shown = false;
        ASSERT_NO_FATAL_FAILURE(wait_until_shown(
            [&] {
                XPixels px;
                return read_window(&px) && px.rgb == want;
            },
            &shown));
        ASSERT_TRUE(shown) << "the settings page does not show as drawn headless";
        ASSERT_TRUE(reader->wait_for_focus(window, START_MS)) << "the window does not get the keyboard focus";
        ASSERT_TRUE(park_pointer());
    }

    PLACE first, second, race_text, list;
    PIXELS first_settings, list_plain;
    std::vector<PIXELS> list_marked; // one a row: Dwarf, Elf, Orc
};

} // namespace

// Return opens the list with the race chosen marked, Down and Up move the
// mark, Return picks the marked race, and the focus is back on the list:
// the letter typed next replaces no name, and Return opens the list again,
// marked on the race picked. The same after Escape, and with Return typed
// right behind the Escape.
TEST_F(RaceListProgramTest, TheKeysMoveAMarkThatShowsAndTheFocusComesBackToTheList)
{
    ASSERT_NO_FATAL_FAILURE(prepare());
    SETTINGS_PAGE* s = settings_page();
    const PIXELS ab = field(s->first_name_edit, "ab", false), cd = field(s->second_name_edit, "cd", false);
    const PIXELS orc = race_shown(2);
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(type("ab") && keys({"Tab"}) && type("cd") && keys({"Tab", "Return"}));
    EXPECT_TRUE(wait_for(list, list_marked[0])) << "the list opens without its mark on Dwarf";
    const struct
    {
        const char* key;
        int row;
    } moves[] = {{"Down", 1}, {"Up", 0}, {"Down", 1}, {"Down", 2}};
    for (const auto& m : moves) {
        ASSERT_TRUE(keys({m.key}));
        EXPECT_TRUE(wait_for(list, list_marked[m.row])) << "after " << m.key << " the mark is not on row " << m.row;
    }
    ASSERT_TRUE(keys({"Return"}));
    EXPECT_TRUE(wait_for(race_text, orc)) << "Return does not pick Orc";
    for (const char* closing : {"picked", "Escape"}) {
        SCOPED_TRACE(closing);
        ASSERT_TRUE(type("Q"));
        EXPECT_TRUE(wait_for(first, ab)) << "the first name changed";
        EXPECT_TRUE(wait_for(second, cd)) << "the second name changed";
        ASSERT_TRUE(keys({"Return"}));
        EXPECT_TRUE(wait_for(list, list_marked[2])) << "Return does not open the list again, marked on Orc";
        ASSERT_TRUE(keys({"Up", "Escape"}));
        EXPECT_TRUE(wait_for(race_text, orc)) << "Escape changed the race";
    }
    // Return right behind Escape, while the list still slides away, opens it again.
    ASSERT_TRUE(keys({"Return"}));
    ASSERT_TRUE(wait_for(list, list_marked[2]));
    ASSERT_TRUE(keys({"Escape", "Return"}, 0));
    EXPECT_TRUE(wait_for(list, list_marked[2])) << "Return behind Escape does not open the list again";
    close_program();
}

// Escape, Shift-Tab, End and q typed while the list closes, a person's
// 100 ms apart and at full speed: every key counts, in order, and the q
// ends the second name. Each round's q is deleted again and the focus
// taken back to the list.
TEST_F(RaceListProgramTest, KeysTypedAsTheListClosesAllCount)
{
    ASSERT_NO_FATAL_FAILURE(prepare());
    SETTINGS_PAGE* s = settings_page();
    const PIXELS ab = field(s->first_name_edit, "ab", false), cdq = field(s->second_name_edit, "cdq", true);
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(type("ab") && keys({"Tab"}) && type("cd") && keys({"Tab"}));
    int wrong = 0, rounds = 0;
    for (int delay_ms : {100, 100, 100, 0, 0, 0}) {
        SCOPED_TRACE(delay_ms);
        rounds++;
        ASSERT_TRUE(keys({"Return"}));
        ASSERT_TRUE(wait_for(list, list_marked[0])) << "the list does not open";
        ASSERT_TRUE(keys({"Escape", "shift+Tab", "End", "q"}, delay_ms));
        const bool landed = wait_for(second, cdq);
        EXPECT_TRUE(landed) << "the second name does not read \"cdq\"";
        EXPECT_TRUE(wait_for(first, ab)) << "the first name changed";
        wrong += !landed;
        if (!landed) {
            break; // the focus is no longer known: the rounds after would prove nothing
        }
        ASSERT_TRUE(keys({"BackSpace", "Tab"}));
    }
    EXPECT_EQ(wrong, 0) << "of " << rounds << " rounds";
    close_program();
}
