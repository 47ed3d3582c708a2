// The race list of the name program worked with the keyboard alone, as a
// person does: the built program on a private X server, driven with
// xdotool. What the window must show (the open list with its mark on each
// row, the name fields, the race shown) is drawn here headless from the
// same definition, each state set directly rather than reached by keys.
#include "../program_pages.h"
#include "keyboard.h"
#include "pages/settings_page.h"
#include "program_child.h"
#include "wm_floating_menu.h"
#include "wm_list_box.h"
#include "wm_ptm_records.h"
#include "wm_script.h"
#include "wm_text_edit.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using kivo_test::XPixels;
using Clock = std::chrono::steady_clock;
using PIXELS = std::vector<std::uint32_t>;

// As in the other end-to-end tests: bounds only, each wait ends as soon
// as the window shows what it waits for.
const int START_MS = 20000, CHANGE_MS = 20000, TOOL_MS = 20000;

struct PLACE
{
    int x = 0, y = 0, w = 0, h = 0;
};

class RaceListProgramTest : public kivo_test::ProgramPagesTest
{
protected:
    void TearDown() override
    {
        const std::string said = HasFailure() ? program.err() : std::string();
        if (!said.empty()) {
            std::cerr << "The program said:\n" << said.substr(said.size() > 4000 ? said.size() - 4000 : 0) << "\n";
        }
        ProgramPagesTest::TearDown();
    }

    // ---- headless, from the built definition -----------------------------------

    static PLACE place_of(WM_SCREEN_OBJECT* o) { return {o->x, o->y, o->width, o->height}; }
    static PIXELS screen_rgb(const PLACE& r)
    {
        PIXELS rgb;
        for (int y = r.y; y < r.y + r.h; y++) {
            for (int x = r.x; x < r.x + r.w; x++) {
                rgb.push_back(at(x, y) & 0xFFFFFFu);
            }
        }
        return rgb;
    }
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

    bool xdo(std::vector<std::string> args)
    {
        kivo_test::ProgramChild tool;
        if (!tool.start("/usr/bin/xdotool", args, {"DISPLAY=" + server.display()})) {
            return false;
        }
        const int status = tool.wait_for_exit(TOOL_MS);
        EXPECT_EQ(status, 0) << "xdotool " << args[0] << ": " << tool.err();
        return status == 0;
    }
    // The keys with `delay_ms` between them (0: at full speed).
    bool keys(std::vector<std::string> names, int delay_ms = 80)
    {
        names.insert(names.begin(), {"key", "--delay", std::to_string(delay_ms)});
        return xdo(names);
    }
    bool type(const char* text) { return xdo({"type", "--delay", "80", text}); }
    bool wait_for(const PLACE& r, const PIXELS& expected)
    {
        XPixels out;
        return reader->wait_for_rgb(window, r.x, r.y, r.w, r.h, expected, CHANGE_MS, &out);
    }
    // The window until it matches the settings page as it first shows (the
    // name fields left out: their caret blinks), then the keyboard's focus.
    void launch()
    {
        ASSERT_TRUE(server.start(1024, 768)) << server.error();
        ASSERT_TRUE(xdo({"mousemove", "0", "0"}));
        ASSERT_TRUE(program.start(std::string(KIVO_TEST_BIN_DIR) + "/tollbeck", {},
                                  {"DISPLAY=" + server.display(), "SDL_VIDEODRIVER=x11"}));
        reader.reset(new kivo_test::XReader(server.display()));
        ASSERT_TRUE(reader->connected());
        PIXELS want = first_settings;
        blank_fields(want);
        bool shown = false;
        for (const Clock::time_point end = Clock::now() + std::chrono::milliseconds(START_MS);
             !shown && Clock::now() < end;) {
            window = reader->wait_for_window(title, START_MS);
            ASSERT_NE(window, 0u) << "no window titled " << title << "; the program said: " << program.err();
            XPixels px;
            shown = reader->read_rgb(window, 0, 0, window_w, window_h, &px) && (blank_fields(px.rgb), px.rgb == want);
            if (!shown) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        ASSERT_TRUE(shown) << "the settings page does not show as drawn headless";
        ASSERT_TRUE(reader->wait_for_focus(window, START_MS)) << "the window does not get the keyboard focus";
        ASSERT_TRUE(xdo({"mousemove", "--window", std::to_string(window), "1", "1", "sleep", "0.1"}));
    }
    void blank_fields(PIXELS& rgb) const
    {
        for (const PLACE& r : {first, second}) {
            for (int y = r.y; y < r.y + r.h; y++) {
                for (int x = r.x; x < r.x + r.w; x++) {
                    rgb[static_cast<std::size_t>(y) * window_w + x] = 0;
                }
            }
        }
    }
    void close_program()
    {
        EXPECT_TRUE(reader->request_close(window));
        EXPECT_EQ(program.wait_for_exit(START_MS), 0);
        const std::string said = program.err();
        EXPECT_EQ(said.find("ERROR: AddressSanitizer"), std::string::npos) << said;
        EXPECT_EQ(said.find("runtime error:"), std::string::npos) << said;
    }

    std::string title;
    int window_w = 0, window_h = 0;
    PLACE first, second, race_text, list;
    PIXELS first_settings, list_plain;
    std::vector<PIXELS> list_marked; // one a row: Dwarf, Elf, Orc
    kivo_test::XvfbServer server;
    kivo_test::ProgramChild program;
    std::unique_ptr<kivo_test::XReader> reader;
    unsigned long window = 0;
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
