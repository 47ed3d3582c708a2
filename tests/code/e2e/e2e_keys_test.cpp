// Keys a person types into a name field of the running program, on a
// private X server through xdotool: chords whose character the program
// makes itself but for which the window system sends no text, dead keys,
// and text that comes with no key, each followed by more letters. The
// field is compared with the same field drawn here headless holding the
// text wanted.
#include "e2e_fixture.h"
#include "pages/settings_page.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <string>
#include <vector>

namespace {

using kivo_test::XPixels;

// Gives each keycode the keysyms (plain, then with Shift) until the
// server's next change: a dead acute on the key that holds '=' on a US
// layout, as a German keyboard has it, and a-umlaut on a keycode no key
// uses, so that it arrives as text with no key the program knows.
bool bind_keys(const std::string& display)
{
    Display* d = XOpenDisplay(display.c_str());
    if (!d) {
        return false;
    }
    const KeyCode equal = XKeysymToKeycode(d, XK_equal);
    int lo = 0, hi = 0, per = 0;
    XDisplayKeycodes(d, &lo, &hi);
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(lo), hi - lo + 1, &per);
    int spare = 0;
    for (int code = hi; map && code >= lo && !spare; code--) {
        bool unused = true;
        for (int i = 0; i < per; i++) {
            unused = unused && map[(code - lo) * per + i] == NoSymbol;
        }
        spare = unused ? code : 0;
    }
    if (map) {
        XFree(map);
    }
    KeySym dead[2] = {XK_dead_acute, XK_dead_grave}, umlaut[2] = {XK_adiaeresis, XK_Adiaeresis};
    if (equal && spare) {
        XChangeKeyboardMapping(d, equal, 2, dead, 1);
        XChangeKeyboardMapping(d, spare, 2, umlaut, 1);
    }
    XSync(d, False);
    XCloseDisplay(d);
    return equal && spare;
}

class KeysTest : public kivo_test::E2eTest
{
protected:
    // The focused first name field holding each of texts (Latin-1), and
    // empty, drawn headless; the heading the window shows once started.
    void draw_fields(const std::vector<std::string>& texts)
    {
        kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
        ASSERT_NO_FATAL_FAILURE(start());
        ASSERT_TRUE(place(SETTINGS_PAGE_ID, 5, 6, &edit));
        title = ptm.name ? ptm.name : "";
        heading = {0, 0, ptm.width, edit.y - 60};
        heading_rgb = screen_rgb(heading);
        empty = screen_rgb(edit);
        ASSERT_NO_FATAL_FAILURE(draw_field_holding(edit, empty, texts, &holding));
        release_app_resources();
    }

    // The program on its own X server, once its window shows the settings
    // page's heading and has the keyboard focus.
    void launch()
    {
        ASSERT_NO_FATAL_FAILURE(start_program());
        window = reader->wait_for_window(title, START_MS);
        ASSERT_NE(window, 0u) << "no window titled " << title << "; the program said: " << program.err();
        XPixels shown;
        bool up = false;
        ASSERT_NO_FATAL_FAILURE(wait_until_shown(
            [&] {
                return reader->read_rgb(window, heading.x, heading.y, heading.w, heading.h, &shown) &&
                       shown.rgb == heading_rgb;
            },
            &up));
        ASSERT_TRUE(up) << "the settings page does not show";
        ASSERT_TRUE(reader->wait_for_focus(window, START_MS)) << "the window does not get the keyboard focus";
    }
    // The first name field clicked and emptied; false when it does not empty.
    bool empty_field()
    {
        const std::string x = std::to_string(edit.x + edit.w / 2), y = std::to_string(edit.y + edit.h / 2);
        return xdo({"mousemove", "--window", std::to_string(window), x, y, "click", "1", "sleep", "0.2", "mousemove",
                    "--window", std::to_string(window), "1", "1", "key", "ctrl+a", "BackSpace"}) &&
               wait_for(edit, empty);
    }

    PLACE edit, heading;
    PIXELS heading_rgb, empty;
    std::vector<PIXELS> holding;
};

} // namespace

// A chord with Control makes the character of its key (Option and Command
// give the key's own letter), but the window system sends no text for it.
// A dead key sends none either, and its accent comes with the next letter.
// None of these costs a later character, whatever comes after it: letters,
// a second chord, or text with no key of its own, as from an input method.
TEST_F(KeysTest, NoChordOrDeadKeyCostsALaterCharacter)
{
    const struct
    {
        const char* what;
        std::vector<std::string> keys; // xdotool key names
        std::string want;              // Latin-1
    } cases[] = {
        {"Control-Alt-K", {"M", "i", "ctrl+alt+k", "r", "a"}, "Mikra"},
        {"two chords", {"M", "i", "ctrl+alt+k", "ctrl+alt+k", "r", "a"}, "Mikkra"},
        {"Control-Super-K", {"M", "i", "ctrl+super+k", "r", "a"}, "Mikra"},
        {"Control-Alt-Shift-K", {"M", "i", "ctrl+alt+shift+k", "r", "a"}, "MiKra"},
        {"a dead key", {"M", "i", "dead_acute", "a", "r", "a"}, "Mi\xE1ra"},
        {"Alt and a dead key", {"M", "i", "alt+dead_acute", "a", "r", "a"}, "Mi\xE1ra"},
        {"text alone after a chord", {"M", "i", "ctrl+alt+k", "adiaeresis", "r", "a"}, "Mik\xE4ra"},
    };
    std::vector<std::string> texts;
    for (const auto& c : cases) {
        texts.push_back(c.want);
    }
    ASSERT_NO_FATAL_FAILURE(draw_fields(texts));
    ASSERT_NO_FATAL_FAILURE(launch());
    ASSERT_TRUE(bind_keys(server.display()));
    int wrong = 0, tried = 0;
    // At a person's pace and at full speed.
    for (int delay_ms : {80, 0}) {
        for (std::size_t i = 0; i < std::size(cases); i++) {
            SCOPED_TRACE(std::string(cases[i].what) + ", " + std::to_string(delay_ms) + " ms between keys");
            ASSERT_TRUE(empty_field()) << "the first name field does not empty";
            ASSERT_TRUE(keys(cases[i].keys, delay_ms));
            const bool right = wait_for(edit, holding[i]);
            EXPECT_TRUE(right) << "the field does not hold what was typed";
            wrong += !right;
            tried++;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << tried;
    close_program();
}
