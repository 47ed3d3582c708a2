// Keys a person types into a name field of the running program, on a
// private X server through xdotool: chords whose character the program
// makes itself but for which the window system sends no text, dead keys,
// and text that comes with no key, each followed by more letters. The
// field is compared with the same field drawn here headless holding the
// text wanted. The program's globals are defined in e2e_test.cpp.
#include "../program_pages.h"
#include "keyboard.h"
#include "pages/settings_page.h"
#include "program_child.h"
#include "wm_ptm_records.h"
#include "wm_text_edit.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

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

const std::string PROGRAM = std::string(KIVO_TEST_BIN_DIR) + "/tollbeck";
// Bounds of the waits, on a machine running the rest of the suite beside
// it: the program's start under the sanitizers, keys worked through, an
// xdotool run. A wait ends as soon as the window shows what it waits for.
const int START_MS = 20000, CHANGE_MS = 20000, TOOL_MS = 20000;

struct PLACE
{
    int x = 0, y = 0, w = 0, h = 0;
};

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

class KeysTest : public kivo_test::ProgramPagesTest
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

    // The settings page's first name field, from the built definition.
    static bool first_edit_place(PLACE* out)
    {
        int found = 0;
        for (INT_S32 i = 0; i < ptm.area_count; i++) {
            const WM_PTM_AREA_INFO& a = ptm.areas[i];
            for (INT_S32 j = 0; j < a.page_count; j++) {
                const WM_PTM_PAGE_INFO& p = a.pages[j];
                for (INT_S32 k = 0; p.id == SETTINGS_PAGE_ID && k < p.object_count; k++) {
                    const WM_PTM_OBJECT_INFO& o = p.objects[k];
                    if (o.aid == 5 && o.cid == 6) {
                        *out = {a.x + o.x, a.y + o.y, o.width, o.height};
                        found++;
                    }
                }
            }
        }
        return found == 1 && out->w > 0 && out->h > 0;
    }
    static std::vector<std::uint32_t> screen_rgb(const PLACE& r)
    {
        std::vector<std::uint32_t> rgb;
        for (int y = r.y; y < r.y + r.h; y++) {
            for (int x = r.x; x < r.x + r.w; x++) {
                rgb.push_back(at(x, y) & 0xFFFFFFu);
            }
        }
        return rgb;
    }
    // The focused first name field holding each of texts (Latin-1), and
    // empty, drawn headless; the heading the window shows once started.
    void draw_fields(const std::vector<std::string>& texts)
    {
        kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
        ASSERT_NO_FATAL_FAILURE(start());
        ASSERT_TRUE(first_edit_place(&edit));
        title = ptm.name ? ptm.name : "";
        heading = {0, 0, ptm.width, edit.y - 60};
        heading_rgb = screen_rgb(heading);
        empty = screen_rgb(edit);
        for (const std::string& text : texts) {
            for (unsigned char c : text) {
                KEYBOARD::process_char_event(KEYBOARD::unmap_char(c));
            }
            run();
            holding.push_back(screen_rgb(edit));
            for (std::size_t i = 0; i < text.size(); i++) {
                KEYBOARD::process_char_event('\b');
            }
            run();
            ASSERT_EQ(screen_rgb(edit), empty) << "\"" << text << "\" is not deleted again";
        }
        release_app_resources();
    }

    bool xdo(const std::vector<std::string>& args)
    {
        kivo_test::ProgramChild tool;
        if (!tool.start("/usr/bin/xdotool", args, {"DISPLAY=" + server.display()})) {
            return false;
        }
        const int status = tool.wait_for_exit(TOOL_MS);
        EXPECT_EQ(status, 0) << "xdotool " << args[0] << ": " << tool.err();
        return status == 0;
    }
    // The program on its own X server, once its window shows the settings
    // page's heading and has the keyboard focus.
    void launch()
    {
        ASSERT_TRUE(server.start(1024, 768)) << server.error();
        ASSERT_TRUE(xdo({"mousemove", "0", "0"}));
        ASSERT_TRUE(program.start(PROGRAM, {}, {"DISPLAY=" + server.display(), "SDL_VIDEODRIVER=x11"}));
        reader.reset(new kivo_test::XReader(server.display()));
        ASSERT_TRUE(reader->connected());
        window = reader->wait_for_window(title, START_MS);
        ASSERT_NE(window, 0u) << "no window titled " << title << "; the program said: " << program.err();
        XPixels shown;
        // SDL may make its window again with its renderer: the one that
        // shows the heading is the program's.
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(START_MS);
        bool up = false;
        while (!up && Clock::now() < end) {
            window = reader->find_window(title);
            up = window && reader->read_rgb(window, heading.x, heading.y, heading.w, heading.h, &shown) &&
                 shown.rgb == heading_rgb;
            if (!up) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        ASSERT_TRUE(up) << "the settings page does not show";
        ASSERT_TRUE(reader->wait_for_focus(window, START_MS)) << "the window does not get the keyboard focus";
    }
    bool field_shows(const std::vector<std::uint32_t>& want)
    {
        XPixels shown;
        return reader->wait_for_rgb(window, edit.x, edit.y, edit.w, edit.h, want, CHANGE_MS, &shown);
    }
    // The first name field clicked and emptied; false when it does not empty.
    bool empty_field()
    {
        const std::string x = std::to_string(edit.x + edit.w / 2), y = std::to_string(edit.y + edit.h / 2);
        return xdo({"mousemove", "--window", std::to_string(window), x, y, "click", "1", "sleep", "0.2", "mousemove",
                    "--window", std::to_string(window), "1", "1", "key", "ctrl+a", "BackSpace"}) &&
               field_shows(empty);
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
    PLACE edit, heading;
    std::vector<std::uint32_t> heading_rgb, empty;
    std::vector<std::vector<std::uint32_t>> holding;
    kivo_test::XvfbServer server;
    kivo_test::ProgramChild program;
    std::unique_ptr<kivo_test::XReader> reader;
    unsigned long window = 0;
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
    for (const char* delay : {"80", "0"}) {
        for (std::size_t i = 0; i < std::size(cases); i++) {
            SCOPED_TRACE(std::string(cases[i].what) + ", " + delay + " ms between keys");
            ASSERT_TRUE(empty_field()) << "the first name field does not empty";
            std::vector<std::string> args = {"key", "--delay", delay};
            args.insert(args.end(), cases[i].keys.begin(), cases[i].keys.end());
            ASSERT_TRUE(xdo(args));
            const bool right = field_shows(holding[i]);
            EXPECT_TRUE(right) << "the field does not hold what was typed";
            wrong += !right;
            tried++;
        }
    }
    EXPECT_EQ(wrong, 0) << "of " << tried;
    close_program();
}
