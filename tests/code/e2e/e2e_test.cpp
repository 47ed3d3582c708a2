// The name program as a person uses it: the built program on a private X
// server, driven with xdotool. Every place comes from the built pages.bin;
// the name shown is compared with the same result page drawn here headless
// from the same definition, and the picture by its race's colour. Each page
// reached is saved as a PNG in the build tree.
#include "database.h"
#include "e2e_fixture.h"
#include "folder.h"
#include "image.h"
#include "keyboard.h"
#include "pages/result_page.h"
#include "pages/settings_page.h"
#include "wm_button.h"
#include "wm_floating_menu.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_ptm_records.h"
#include "wm_text_edit.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using kivo_test::XPixels;

// One visit to the result page: the names typed, the race and how it is chosen.
enum class RACE_CONTROL
{
    LIST,
    BUTTON,
    NEXT
};
struct VISIT
{
    const char* first;
    const char* second;
    INT_S16 race;
    RACE_CONTROL control;
    // Filled in from the headless page.
    std::string name;
    std::vector<std::uint32_t> name_pixels;
};

// Binds keycodes that no key uses to a-, o- and u-umlaut (Shift gives the
// capitals), so that xdotool presses them as keys of the layout: a binding
// xdotool makes for a single key press is undone before the program looks
// the key up.
bool bind_umlauts(const std::string& display)
{
    Display* d = XOpenDisplay(display.c_str());
    if (!d) {
        return false;
    }
    int lo = 0, hi = 0, per = 0;
    XDisplayKeycodes(d, &lo, &hi);
    KeySym* map = XGetKeyboardMapping(d, static_cast<KeyCode>(lo), hi - lo + 1, &per);
    const KeySym pairs[][2] = {
        {XK_adiaeresis, XK_Adiaeresis}, {XK_odiaeresis, XK_Odiaeresis}, {XK_udiaeresis, XK_Udiaeresis}};
    int bound = 0;
    for (int code = hi; map && code >= lo && bound < 3; code--) {
        bool unused = true;
        for (int i = 0; i < per; i++) {
            unused = unused && map[(code - lo) * per + i] == NoSymbol;
        }
        if (unused) {
            KeySym syms[2] = {pairs[bound][0], pairs[bound][1]};
            XChangeKeyboardMapping(d, code, 2, syms, 1);
            bound++;
        }
    }
    if (map) {
        XFree(map);
    }
    XSync(d, False);
    XCloseDisplay(d);
    return bound == 3;
}

// The channel (0 blue, 1 green, 2 red) with the largest sum over the
// pixels, when it beats each other channel by a third; else -1.
int dominant_channel(const std::vector<std::uint32_t>& argb, bool opaque_only)
{
    double sum[3] = {0, 0, 0};
    for (std::uint32_t c : argb) {
        if (!opaque_only || (c >> 24) == 0xFF) {
            for (int k = 0; k < 3; k++) {
                sum[k] += (c >> (8 * k)) & 0xFF;
            }
        }
    }
    for (int k = 0; k < 3; k++) {
        if (sum[k] > 1.3 * sum[(k + 1) % 3] && sum[k] > 1.3 * sum[(k + 2) % 3]) {
            return k;
        }
    }
    return -1;
}

class ProgramTest : public kivo_test::E2eTest
{
protected:
    // ---- the definition and the headless pages -------------------------------

    // A click as the program's passes see one: the press in a pass of its
    // own, then the release and enough passes for what it started.
    static void click_headless(const PLACE& r)
    {
        point(r.mid_x(), r.mid_y());
        press(1, true);
        kivo_fake_clock_advance_ms(100);
        ASSERT_TRUE(app_main());
        press(1, false);
        run();
    }
    // The list box at the place opened headless with a click, as the real
    // one is: the open popup's place and pixels, and the place of its line
    // reading `caption`, which has to show there. Closed with a click again.
    static void open_list(const PLACE& box_place, const std::string& caption, PLACE* popup,
                          std::vector<std::uint32_t>* pixels, PLACE* line)
    {
        auto* box = dynamic_cast<WM_LIST_BOX*>(ptm.page_manager->find_object_at_pos(
            static_cast<INT_S16>(box_place.mid_x()), static_cast<INT_S16>(box_place.mid_y())));
        ASSERT_TRUE(box && box->popup) << "no list box at the race list's place";
        WM_FLOATING_MENU* menu = box->popup;
        ASSERT_NO_FATAL_FAILURE(click_headless(box_place));
        ASSERT_TRUE(menu->visible) << "a click does not open the race list";
        *popup = {menu->x, menu->y, menu->width, menu->height};
        *pixels = screen_rgb(*popup);
        WM_BUTTON* found = nullptr;
        for (INT_S16 r = 0; r < menu->row_count && !found; r++) {
            WM_BUTTON* b = menu->get_button(r);
            found = b && caption == b->caption ? b : nullptr;
        }
        ASSERT_NE(found, nullptr) << "no line \"" << caption << "\" in the race list";
        *line = {found->x, found->y, found->width, found->height};
        // The pointer finds the line where it is drawn: shown, not under a
        // scroll button.
        EXPECT_EQ(menu->find_object_at_pos(static_cast<INT_S16>(line->mid_x()), static_cast<INT_S16>(line->mid_y())),
                  found)
            << "the line \"" << caption << "\" does not show in the open race list";
        ASSERT_NO_FATAL_FAILURE(click_headless(box_place));
        EXPECT_FALSE(menu->visible) << "a second click does not close the race list";
        point(-1, -1);
    }

    // ---- the real program ----------------------------------------------------

    // A press and a release held apart, so that the program's pass sees both.
    bool click(const PLACE& r) { return click_at(r.mid_x(), r.mid_y()); }
    bool click_at(int x, int y)
    {
        return xdo({"mousemove", "--window", std::to_string(window), std::to_string(x), std::to_string(y), "sleep",
                    "0.1", "mousedown", "1", "sleep", "0.25", "mouseup", "1", "sleep", "0.1"});
    }
    bool type_into(const PLACE& edit, const char* text)
    {
        return click(edit) && keys({"End", "BackSpace", "BackSpace", "BackSpace", "BackSpace", "BackSpace"}) &&
               type(text);
    }

    // Reads until the same picture shows for 300 ms running (a page change
    // has ended), at most timeout_ms.
    bool settle(XPixels* out, int timeout_ms = CHANGE_MS)
    {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeout_ms);
        XPixels previous;
        Clock::time_point since = Clock::now();
        while (Clock::now() < end) {
            if (!read_window(out)) {
                return false;
            }
            if (out->rgb != previous.rgb) {
                previous = *out;
                since = Clock::now();
            } else if (Clock::now() - since >= std::chrono::milliseconds(300)) {
                return true;
            }
            pause_ms(50);
        }
        return false;
    }
    // Reads until the window (edits blanked) equals expected, at most
    // CHANGE_MS; false at once when the window cannot be read.
    bool wait_for_window(const XPixels& expected, XPixels* out)
    {
        const Clock::time_point end = Clock::now() + std::chrono::milliseconds(CHANGE_MS);
        for (;;) {
            if (!read_window(out)) {
                return false;
            }
            if (out->rgb == expected.rgb) {
                return true;
            }
            if (Clock::now() >= end) {
                return false;
            }
            pause_ms(50);
        }
    }
    // Saves the window as it shows now into the build tree.
    void screenshot(const std::string& name) { ASSERT_TRUE(save_window(name)) << name; }
    // For a failure's message: the window as it shows now, saved under the
    // test's name and `what`, and where.
    std::string failure_picture(const std::string& what)
    {
        const std::string name = std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                 "-failed-" + std::to_string(++failure_pictures) + "-" + what;
        return save_window(name) ? "; the window is in " + std::string(KIVO_TEST_SCREENSHOT_DIR) + "/" + name + ".png"
                                 : "; the window could not be read";
    }
    bool save_window(const std::string& name)
    {
        XPixels shot;
        if (!reader || !reader->read_rgb(window, 0, 0, window_w, window_h, &shot)) {
            return false;
        }
        IMAGE image;
        image.setup(static_cast<short>(shot.width), static_cast<short>(shot.height));
        for (int y = 0; y < shot.height; y++) {
            for (int x = 0; x < shot.width; x++) {
                image.pixels[static_cast<long>(y) * image.stride + x] = COLOUR(0xFF000000u | shot.at(x, y));
            }
        }
        mkdir(KIVO_TEST_SCREENSHOT_DIR, 0755);
        FOLDER folder;
        DATA_FILE* file = folder.set_from_path_string(KIVO_TEST_SCREENSHOT_DIR)
                              ? folder.open_data_file((name + ".png").c_str(), fm_write, 0, 0)
                              : nullptr;
        if (!file) {
            return false;
        }
        const bool saved = image.save_png(file);
        return folder.close(file) && saved;
    }

    // ---- shared by the tests ---------------------------------------------------

    // The places of the controls, from the built definition (ptm loaded).
    struct PLACES
    {
        PLACE result_button, race_list, first_edit, second_edit, previous, next, race_text, dwarf, orc, elf;
        PLACE back, name, picture;
    };
    void find_places(PLACES& p)
    {
        struct WANTED
        {
            INT_U32 page, aid, cid;
            PLACE* at;
        };
        const WANTED wanted[] = {
            {SETTINGS_PAGE_ID, 1, 2, &p.result_button},
            {SETTINGS_PAGE_ID, 3, 4, &p.race_list},
            {SETTINGS_PAGE_ID, 5, 6, &p.first_edit},
            {SETTINGS_PAGE_ID, 7, 8, &p.second_edit},
            {SETTINGS_PAGE_ID, 9, 0, &p.previous},
            {SETTINGS_PAGE_ID, 10, 0, &p.next},
            {SETTINGS_PAGE_ID, 0, 11, &p.race_text},
            {SETTINGS_PAGE_ID, 12, 13, &p.dwarf},
            {SETTINGS_PAGE_ID, 14, 15, &p.orc},
            {SETTINGS_PAGE_ID, 16, 17, &p.elf},
            {RESULT_PAGE_ID, 1, 0, &p.back},
            {RESULT_PAGE_ID, 0, 2, &p.name},
            {RESULT_PAGE_ID, 0, 3, &p.picture},
        };
        for (const WANTED& w : wanted) {
            ASSERT_TRUE(place(w.page, w.aid, w.cid, w.at)) << std::hex << w.page << " " << w.aid << "," << w.cid;
        }
        edits = {p.first_edit, p.second_edit};
        window_w = ptm.width, window_h = ptm.height;
        title = ptm.name ? ptm.name : "";
    }
    // The name shown for these names and race, drawn headless (ptm loaded).
    std::vector<std::uint32_t> name_pixels(const char* first, const char* second, INT_S16 race, const PLACE& name)
    {
        db.first_name = first;
        db.second_name = second;
        db.race = race;
        new RESULT_PAGE(*WM_SCREEN_OBJECT::pm);
        ptm.page_manager->go_to_page(0);
        run();
        return screen_rgb(name);
    }
    // What the keyboard sessions compare against, drawn headless: the
    // places, the settings page as it first shows and its heading (the
    // window above the first name field), the focused first name field
    // empty and holding each of `texts` (Latin-1), and the name made of
    // "Mira Stone" for the first race. The definition stays loaded for more.
    struct SESSION
    {
        PLACES at;
        std::vector<std::uint32_t> first_settings, settings_heading, empty_field, mira;
        std::vector<std::vector<std::uint32_t>> field_holding;
    };
    void prepare_session(SESSION& s, const std::vector<std::string>& texts = {})
    {
        kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
        ASSERT_NO_FATAL_FAILURE(start());
        ASSERT_NO_FATAL_FAILURE(find_places(s.at));
        s.first_settings = screen_rgb({0, 0, window_w, window_h});
        s.settings_heading = screen_rgb(heading(s.at));
        s.empty_field = screen_rgb(s.at.first_edit);
        ASSERT_NO_FATAL_FAILURE(draw_field_holding(s.at.first_edit, s.empty_field, texts, &s.field_holding));
        s.mira = name_pixels("Mira", "Stone", 0, s.at.name);
    }
    PLACE heading(const PLACES& at) const { return {0, 0, window_w, at.first_edit.y - 60}; }
    // The program on its own X server, once its window shows the settings
    // page as first_settings (the whole window, drawn headless) has it.
    void launch(const std::vector<std::uint32_t>& first_settings)
    {
        ASSERT_NO_FATAL_FAILURE(start_program());
        XPixels shown, first_shown;
        first_shown.width = window_w, first_shown.height = window_h, first_shown.rgb = first_settings;
        blank_edits(first_shown.rgb);
        bool first_page = false;
        ASSERT_NO_FATAL_FAILURE(wait_until_shown([&] { return wait_for_window(first_shown, &shown); }, &first_page));
        EXPECT_TRUE(first_page) << "the settings page does not show as drawn headless";
        // Keys sent before then would go to no window.
        EXPECT_TRUE(reader->wait_for_focus(window, START_MS)) << "the window does not get the keyboard focus";
        ASSERT_TRUE(park_pointer());
    }
    // The region of the window as it shows now, nothing blanked.
    std::vector<std::uint32_t> shown_rgb(const PLACE& r)
    {
        XPixels px;
        EXPECT_TRUE(reader->read_rgb(window, r.x, r.y, r.w, r.h, &px));
        return px.rgb;
    }

    int failure_pictures = 0;
};

} // namespace

TEST_F(ProgramTest, APersonMakesANameWithEachRaceControl)
{
    // Names whose results are known; each visit chooses its race with another control.
    VISIT visits[] = {
        {"Ray", "Ben", 1, RACE_CONTROL::LIST, "", {}},
        {"Tim", "Ray", 2, RACE_CONTROL::BUTTON, "", {}},
        {"Ben", "Ray", 0, RACE_CONTROL::NEXT, "", {}}, // next after the Orc of the visit before
    };
    const char* const control_names[] = {"list", "button", "next"};

    // ---- the places, the names and the pictures, from the built definition
    kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_NE(ptm.name, nullptr);
    PLACES at;
    ASSERT_NO_FATAL_FAILURE(find_places(at));
    PLACE &result_button = at.result_button, &race_list = at.race_list, &first_edit = at.first_edit;
    PLACE &second_edit = at.second_edit, &next = at.next, &dwarf = at.dwarf, &orc = at.orc, &elf = at.elf;
    PLACE &back = at.back, &name = at.name, &picture = at.picture;
    // The race pictures' own colours, and their places: the widget takes
    // the picture's size.
    const char* const race_pictures[] = {"dwarf", "elf", "orc"};
    int race_channel[3];
    PLACE race_rect[3];
    for (int r = 0; r < 3; r++) {
        WM_PTM_IMAGE_INFO* info = ptm.find_image(race_pictures[r]);
        ASSERT_TRUE(info && info->image) << race_pictures[r];
        const IMAGE& im = *info->image;
        std::vector<std::uint32_t> argb;
        for (int y = 0; y < im.height; y++) {
            for (int x = 0; x < im.width; x++) {
                argb.push_back(static_cast<std::uint32_t>(im.pixels[static_cast<long>(y) * im.stride + x]));
            }
        }
        race_channel[r] = dominant_channel(argb, true);
        race_rect[r] = {picture.x, picture.y, im.width, im.height};
    }
    ASSERT_TRUE(race_channel[0] >= 0 && race_channel[1] >= 0 && race_channel[2] >= 0);
    ASSERT_TRUE(race_channel[0] != race_channel[1] && race_channel[1] != race_channel[2] &&
                race_channel[0] != race_channel[2])
        << "the race pictures cannot be told apart by their colour";
    // The settings page as it first shows, and each result page.
    const std::vector<std::uint32_t> first_settings = screen_rgb({0, 0, window_w, window_h});
    // The race list open, and where its line of the list visit's race lies.
    PLACE list_popup, list_line;
    std::vector<std::uint32_t> list_popup_pixels;
    for (const VISIT& v : visits) {
        if (v.control == RACE_CONTROL::LIST) {
            ASSERT_NO_FATAL_FAILURE(open_list(race_list, DATABASE::get_race_name(v.race).buffer, &list_popup,
                                              &list_popup_pixels, &list_line));
        }
    }
    for (VISIT& v : visits) {
        v.name_pixels = name_pixels(v.first, v.second, v.race, name);
        v.name = db.generate_name().buffer;
    }
    // Each name draws differently, or the comparison below would prove nothing.
    EXPECT_NE(visits[0].name_pixels, visits[1].name_pixels);
    EXPECT_NE(visits[1].name_pixels, visits[2].name_pixels);
    release_app_resources();

    // ---- the program on its own display
    ASSERT_NO_FATAL_FAILURE(launch(first_settings));
    XPixels shown;
    screenshot("1-settings");

    int shot = 2;
    for (VISIT& v : visits) {
        SCOPED_TRACE(v.name);
        switch (v.control) {
        case RACE_CONTROL::LIST:
            // Opened and chosen with the pointer: the open list shows as
            // it does headless, and its line is clicked where it shows there.
            ASSERT_TRUE(click(race_list));
            EXPECT_TRUE(wait_for(list_popup, list_popup_pixels, &shown))
                << "the open race list does not show as drawn headless";
            screenshot(std::to_string(shot++) + "-list-open");
            ASSERT_TRUE(click(list_line));
            break;
        case RACE_CONTROL::BUTTON: ASSERT_TRUE(click(v.race == 0 ? dwarf : v.race == 1 ? elf : orc)); break;
        case RACE_CONTROL::NEXT: ASSERT_TRUE(click(next)); break;
        }
        ASSERT_TRUE(type_into(first_edit, v.first));
        ASSERT_TRUE(type_into(second_edit, v.second));
        ASSERT_TRUE(park_pointer());
        XPixels settings;
        ASSERT_TRUE(settle(&settings));
        screenshot(std::to_string(shot++) + "-settings-by-" + control_names[static_cast<int>(v.control)]);

        ASSERT_TRUE(click(result_button));
        ASSERT_TRUE(park_pointer());
        EXPECT_TRUE(wait_for(name, v.name_pixels, &shown)) << "the result page does not show \"" << v.name << "\" (by "
                                                           << control_names[static_cast<int>(v.control)] << ")";
        ASSERT_TRUE(settle(&shown));
        XPixels face;
        ASSERT_TRUE(reader->read_rgb(window, race_rect[v.race].x, race_rect[v.race].y, race_rect[v.race].w,
                                     race_rect[v.race].h, &face));
        EXPECT_EQ(dominant_channel(face.rgb, false), race_channel[v.race]) << race_pictures[v.race];
        screenshot(std::to_string(shot++) + "-result-" + race_pictures[v.race]);

        // Back: the settings page as it was left.
        ASSERT_TRUE(click(back));
        ASSERT_TRUE(park_pointer());
        EXPECT_TRUE(wait_for_window(settings, &shown)) << "the settings page does not show again";
    }

    close_program();
}

// The keyboard alone, accented capitals, keys typed where nothing takes
// them, and then a long run of random input, after which the program still
// draws and closes as it should. Each step waits for what the window shows,
// never for a time: a loaded machine may hold the program still at any point.
TEST_F(ProgramTest, KeyboardUseAndARandomSession)
{
    SESSION session;
    ASSERT_NO_FATAL_FAILURE(prepare_session(session, {"AOU", "\xC4\xD6\xDC", "W"}));
    const PLACES& at = session.at;
    const std::vector<std::uint32_t>& mira = session.mira;
    const std::vector<std::uint32_t>& empty_field = session.empty_field;
    const std::vector<std::uint32_t>&bare = session.field_holding[0], &umlauts = session.field_holding[1];
    const std::vector<std::uint32_t>& w = session.field_holding[2];
    const std::vector<std::uint32_t> hello = name_pixels("hello", "Stone", 0, at.name);
    ASSERT_NE(mira, hello) << "the two names must draw differently for the check to mean anything";
    ASSERT_NE(umlauts, bare) << "accented capitals must draw more than the bare letters for the check to mean anything";
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(session.first_settings));
    // The first name field has the focus from the start: its prompt and caret.
    screenshot("k1-focused-empty-field");

    // Accented capitals typed into it show as drawn headless, not as the
    // bare letters.
    XPixels shown;
    ASSERT_TRUE(type("AOU"));
    EXPECT_TRUE(wait_for(at.first_edit, bare, &shown)) << "\"AOU\" does not show" << failure_picture("aou");
    ASSERT_TRUE(keys({"BackSpace", "BackSpace", "BackSpace"}));
    EXPECT_TRUE(wait_for(at.first_edit, empty_field, &shown))
        << "Backspace does not empty the field" << failure_picture("backspace");
    ASSERT_TRUE(bind_umlauts(server.display()));
    ASSERT_TRUE(keys({"Adiaeresis", "Odiaeresis", "Udiaeresis"}));
    EXPECT_TRUE(wait_for(at.first_edit, umlauts, &shown))
        << "\"\xC3\x84\xC3\x96\xC3\x9C\" does not show" << failure_picture("umlauts");
    screenshot("k2-field-holding-umlauts");

    // Both names and the result by keyboard: Tab from field to field, on
    // through the race controls to the result button, and Return.
    ASSERT_TRUE(keys({"ctrl+a", "BackSpace"}));
    ASSERT_TRUE(type("Mira"));
    ASSERT_TRUE(keys({"Tab"}));
    ASSERT_TRUE(type("Stone"));
    ASSERT_TRUE(keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"}));
    EXPECT_TRUE(wait_for(at.name, mira, &shown))
        << "Tab and Return do not reach the result" << failure_picture("tab-and-return");
    ASSERT_TRUE(settle(&shown));
    screenshot("k3-result-by-keyboard");

    // Typed on the result page, where nothing takes it, then back by each
    // key and forward again: the name is still made of "Mira". The Tabs
    // start from the first name field, clicked: a Tab that comes while the
    // page is still coming in only gives it its first focus.
    for (const char* leave : {"Escape", "Return"}) {
        SCOPED_TRACE(leave);
        ASSERT_TRUE(type("hello"));
        ASSERT_TRUE(keys({leave}));
        EXPECT_TRUE(wait_for(heading(at), session.settings_heading, &shown))
            << leave << " does not leave the result page" << failure_picture("leave");
        ASSERT_TRUE(settle(&shown));
        ASSERT_TRUE(click(at.first_edit));
        ASSERT_TRUE(park_pointer());
        ASSERT_TRUE(keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"}));
        EXPECT_TRUE(wait_for(at.name, mira, &shown))
            << "the first name took the keys typed on the result page" << failure_picture("back-and-forth");
        ASSERT_TRUE(settle(&shown));
    }

    // A seeded random session: clicks anywhere in the window, the keys a
    // person presses, letters and pastes, twenty to an xdotool call. Where
    // each lands depends on how far the program has got, so only its end is
    // checked: the program comes back to the settings page and still draws.
    const unsigned seed = 20240601;
    SCOPED_TRACE("random session, seed " + std::to_string(seed));
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const char* const named_keys[] = {"Tab", "shift+Tab", "Return",    "Escape", "Left", "Right",
                                      "Up",  "Down",      "BackSpace", "Home",   "End",  "KP_Enter"};
    for (int events = 0; events < 520;) {
        std::vector<std::string> run;
        for (int k = 0; k < 20; k++, events++) {
            switch (pick(5)) {
            case 0:
                run.insert(run.end(), {"mousemove", "--window", std::to_string(window), std::to_string(pick(window_w)),
                                       std::to_string(pick(window_h)), "click", "1"});
                break;
            case 1:
            case 2: run.insert(run.end(), {"key", "--delay", "30", named_keys[pick(12)]}); break;
            case 3:
                run.insert(run.end(), {"key", "--delay", "30", std::string(1, static_cast<char>('a' + pick(26)))});
                break;
            default: // a paste, sometimes of the field's own text copied first
                run.insert(run.end(), {"key", "--delay", "30"});
                if (pick(2)) {
                    run.insert(run.end(), {"ctrl+a", "ctrl+c"});
                }
                run.push_back("ctrl+v");
                break;
            }
        }
        ASSERT_TRUE(xdo(run)) << "after " << events << " events";
    }
    // The last keys may have started a page change: the picture is kept
    // once it has come to rest.
    ASSERT_TRUE(settle(&shown)) << "the window does not come to rest after the session"
                                << failure_picture("after-the-session");
    screenshot("k4-after-the-random-session");
    // Still drawing: back on the settings page (Escape leaves the result
    // page, a click outside closes an open list), a letter typed into the
    // emptied first name field shows there as drawn headless.
    ASSERT_TRUE(keys({"Escape"}));
    ASSERT_TRUE(park_pointer());
    ASSERT_TRUE(xdo({"click", "1", "sleep", "0.3", "key", "Escape"}));
    EXPECT_TRUE(wait_for(heading(at), session.settings_heading, &shown))
        << "the settings page does not come back" << failure_picture("settings-again");
    ASSERT_TRUE(settle(&shown));
    ASSERT_TRUE(click(at.first_edit));
    ASSERT_TRUE(park_pointer());
    ASSERT_TRUE(keys({"ctrl+a", "BackSpace"}));
    EXPECT_TRUE(wait_for(at.first_edit, empty_field, &shown))
        << "the first name field does not empty" << failure_picture("emptied");
    ASSERT_TRUE(type("W"));
    EXPECT_TRUE(wait_for(at.first_edit, w, &shown)) << "the window no longer redraws" << failure_picture("w");
    close_program();
}

// Keys typed while the program is held still, as a starved or busy one is,
// each take effect once it runs again: Control-A selects, Backspace
// deletes, each name reaches its field, the Tabs reach the result button.
TEST_F(ProgramTest, KeysTypedWhileTheProgramIsHeldStillEachTakeEffect)
{
    SESSION session;
    ASSERT_NO_FATAL_FAILURE(prepare_session(session));
    const PLACES& at = session.at;
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(session.first_settings));
    ASSERT_TRUE(type("Xy"));
    ASSERT_EQ(kill(program.pid(), SIGSTOP), 0);
    const bool sent = keys({"ctrl+a", "BackSpace"}) && type("Mira", 30) && keys({"Tab"}) && type("Stone", 30) &&
                      keys({"Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Tab", "Return"});
    ASSERT_EQ(kill(program.pid(), SIGCONT), 0);
    ASSERT_TRUE(sent);
    XPixels shown;
    EXPECT_TRUE(wait_for(at.name, session.mira, &shown))
        << "the keys typed while the program was held still do not reach the result" << failure_picture("held-still");
    close_program();
}

// Text that comes with no key the program knows of, as from an input method
// or characters bound to keys added after it started, shows in the name
// field after Backspace, a key that makes a character of its own.
TEST_F(ProgramTest, TextWithoutAKeyOfItsOwnShowsAfterBackspace)
{
    kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
    ASSERT_NO_FATAL_FAILURE(start());
    PLACES at;
    ASSERT_NO_FATAL_FAILURE(find_places(at));
    const std::vector<std::uint32_t> first_settings = screen_rgb({0, 0, window_w, window_h});
    // The focused first name field holding "Miäöü", drawn headless.
    for (unsigned char c : std::string("Mi\xE4\xF6\xFC")) {
        KEYBOARD::process_char_event(KEYBOARD::unmap_char(c));
    }
    run();
    const std::vector<std::uint32_t> typed = screen_rgb(at.first_edit);
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(first_settings));
    ASSERT_TRUE(type("Mira"));
    ASSERT_TRUE(keys({"BackSpace", "BackSpace"}));
    // Bound to keycodes the program's keyboard never knew: each arrives as
    // text alone.
    ASSERT_TRUE(bind_umlauts(server.display()));
    ASSERT_TRUE(type("äöü"));
    XPixels shown;
    EXPECT_TRUE(wait_for(at.first_edit, typed, &shown)) << "\"äöü\" typed after Backspace does not show";
    screenshot("t1-text-after-backspace");
    close_program();
}

// A move and a click with no pause between press and release, as a quick
// person makes one: each is seen, going to the result page and back.
TEST_F(ProgramTest, AQuickClickIsNeverLost)
{
    SESSION session;
    ASSERT_NO_FATAL_FAILURE(prepare_session(session));
    const PLACES& at = session.at;
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(session.first_settings));
    ASSERT_TRUE(type("Mira"));
    ASSERT_TRUE(keys({"Tab"}));
    ASSERT_TRUE(type("Stone"));
    XPixels shown;
    for (int round = 0; round < 4; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(xdo({"mousemove", "--window", std::to_string(window), std::to_string(at.result_button.mid_x()),
                         std::to_string(at.result_button.mid_y()), "click", "1"}));
        // One lost click ends the test: the rounds after it would click
        // on the wrong page.
        ASSERT_TRUE(wait_for(at.name, session.mira, &shown)) << "the click on the result button was lost";
        ASSERT_TRUE(settle(&shown));
        ASSERT_TRUE(xdo({"mousemove", "--window", std::to_string(window), std::to_string(at.back.mid_x()),
                         std::to_string(at.back.mid_y()), "click", "1"}));
        ASSERT_TRUE(wait_for(heading(at), session.settings_heading, &shown)) << "the click on Back was lost";
        ASSERT_TRUE(settle(&shown));
    }
    close_program();
}

// Input queued faster than the program takes it, while it is held still:
// a thousand clicks on a control, then more clicks than SDL's queue holds,
// then keys. The close request queued behind them is still heard, and
// acted on before that input: the program ends with status 0.
TEST_F(ProgramTest, ACloseRequestIsHeardBehindAFloodOfInput)
{
    SESSION session;
    ASSERT_NO_FATAL_FAILURE(prepare_session(session));
    const PLACES& at = session.at;
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(session.first_settings));
    ASSERT_EQ(kill(program.pid(), SIGSTOP), 0);
    EXPECT_TRUE(reader->fake_clicks(window, at.next.mid_x(), at.next.mid_y(), 1000));
    EXPECT_TRUE(reader->fake_clicks(window, 1, 1, 40000));
    // Keys last and not too many: SDL looks through all the input queued
    // behind each key's release, so their reading time grows with the
    // square of what follows them.
    EXPECT_TRUE(reader->fake_keys("a", 5000));
    EXPECT_TRUE(reader->request_close(window));
    ASSERT_EQ(kill(program.pid(), SIGCONT), 0);
    // Only a hang fails here: how long the close takes is measured apart.
    // Nearly all of the test's time is the 40000 clicks: a press and a
    // release each end a pass, and each pass waits on round trips to the X
    // server (SDL taking events in, the frame shown), 0.1 to 0.4 ms a click,
    // before the close queued behind them is read: 5 to 15 s, more on a
    // loaded machine. The 5000 keys take about 0.3 s, the 1000 clicks on
    // Next 0.4 s; nothing here waits a fixed time.
    expect_clean_exit(60000);
}

// Typed at full speed, with no gap between keys: every character reaches
// the field that had the focus when it was typed, in order, whether its
// key is one the program knows (letters, Tab) or the text comes alone
// (umlauts on keys bound after the start).
TEST_F(ProgramTest, EveryCharacterOfABurstLandsInTheFieldItWasTypedInto)
{
    const struct
    {
        const char* first;  // Latin-1, as the field holds it
        const char* second; // Latin-1
        const char* typed;  // UTF-8, as xdotool types it
    } bursts[] = {
        {"Mira", "Stone", "Mira\tStone"},
        {"Mi\xE4\xF6\xFC", "Stone", "Miäöü\tStone"},
        {"mira", "stone", "mira\tstone"},
        {"\xC4\xD6\xDC\x61", "bcd", "ÄÖÜa\tbcd"},
        {"\xC4\xD6\xDC\x61", "\xC4\xD6\xDC\x62\x63\x64", "ÄÖÜa\tÄÖÜbcd"},
        {"a", "\xE4\xF6\xFC\x62\x63\x64", "a\täöübcd"},
    };
    kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
    ASSERT_NO_FATAL_FAILURE(start());
    PLACES at;
    ASSERT_NO_FATAL_FAILURE(find_places(at));
    const std::vector<std::uint32_t> first_settings = screen_rgb({0, 0, window_w, window_h});
    const std::vector<std::uint32_t> first_empty = screen_rgb(at.first_edit), second_empty = screen_rgb(at.second_edit);
    // Both fields as they show holding each burst's names, drawn headless:
    // the first name typed, a Tab, the second name; then both emptied again
    // and the focus back on the first.
    std::vector<std::vector<std::uint32_t>> want_first, want_second;
    auto type_chars = [](const std::string& text, bool erase) {
        for (unsigned char c : text) {
            KEYBOARD::process_char_event(erase ? '\b' : KEYBOARD::unmap_char(c));
        }
        run();
    };
    for (const auto& b : bursts) {
        type_chars(b.first, false);
        KEYBOARD::process_key_event(48);
        run();
        type_chars(b.second, false);
        want_first.push_back(screen_rgb(at.first_edit));
        want_second.push_back(screen_rgb(at.second_edit));
        type_chars(b.second, true);
        auto* first = dynamic_cast<WM_TEXT_EDIT*>(ptm.page_manager->find_object_at_pos(
            static_cast<INT_S16>(at.first_edit.mid_x()), static_cast<INT_S16>(at.first_edit.mid_y())));
        ASSERT_NE(first, nullptr);
        first->take_focus();
        type_chars(b.first, true);
        ASSERT_EQ(screen_rgb(at.first_edit), first_empty);
        ASSERT_EQ(screen_rgb(at.second_edit), second_empty);
    }
    ASSERT_NE(want_first[0], want_first[1]) << "the first names must draw differently for the check to mean anything";
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(first_settings));
    ASSERT_TRUE(bind_umlauts(server.display()));
    XPixels shown;
    int wrong = 0;
    for (std::size_t i = 0; i < std::size(bursts); i++) {
        SCOPED_TRACE(bursts[i].typed);
        // Both fields emptied, the focus on the first.
        ASSERT_TRUE(click(at.second_edit) && keys({"ctrl+a", "BackSpace"}) && click(at.first_edit) &&
                    keys({"ctrl+a", "BackSpace"}) && park_pointer());
        ASSERT_TRUE(wait_for(at.second_edit, second_empty, &shown)) << failure_picture("second-not-emptied");
        ASSERT_TRUE(wait_for(at.first_edit, first_empty, &shown)) << failure_picture("first-not-emptied");
        ASSERT_TRUE(type(bursts[i].typed, 0));
        const bool first = wait_for(at.first_edit, want_first[i], &shown);
        const bool second = wait_for(at.second_edit, want_second[i], &shown);
        EXPECT_TRUE(first && second) << (first ? "" : "the first field is wrong; ")
                                     << (second ? "" : "the second field is wrong")
                                     << failure_picture("burst-" + std::to_string(i));
        wrong += !(first && second);
    }
    EXPECT_EQ(wrong, 0) << "of " << std::size(bursts) << " bursts";
    close_program();
}

// A capital, a Tab and more typed in one burst while the program is held
// still: the Shift of the capital does not make a backward Tab of the Tab
// after it, though its release comes in no event of its own then. The
// names land in their fields, and Tabs and Return typed the same way
// reach the result made of them.
TEST_F(ProgramTest, ACapitalAndTabsTypedWhileHeldStillEachLandWhereTyped)
{
    kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
    ASSERT_NO_FATAL_FAILURE(start());
    PLACES at;
    ASSERT_NO_FATAL_FAILURE(find_places(at));
    const std::vector<std::uint32_t> first_settings = screen_rgb({0, 0, window_w, window_h});
    for (unsigned char c : std::string("Bjorn")) {
        KEYBOARD::process_char_event(c);
    }
    run();
    KEYBOARD::process_key_event(48);
    run();
    for (unsigned char c : std::string("Tu")) {
        KEYBOARD::process_char_event(c);
    }
    run();
    const std::vector<std::uint32_t> bjorn = screen_rgb(at.first_edit), tu = screen_rgb(at.second_edit);
    const std::vector<std::uint32_t> name = name_pixels("Bjorn", "Tu", 0, at.name);
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(first_settings));
    XPixels shown;
    for (const char* burst : {"Bjorn\tTu", "\t\t\t\t\t\t\t\r"}) {
        SCOPED_TRACE(burst);
        ASSERT_EQ(kill(program.pid(), SIGSTOP), 0);
        const bool sent = type(burst, 0);
        ASSERT_EQ(kill(program.pid(), SIGCONT), 0);
        ASSERT_TRUE(sent);
        if (burst[0] == 'B') {
            EXPECT_TRUE(wait_for(at.first_edit, bjorn, &shown)) << "the first name" << failure_picture("first");
            EXPECT_TRUE(wait_for(at.second_edit, tu, &shown)) << "the second name" << failure_picture("second");
        }
    }
    EXPECT_TRUE(wait_for(at.name, name, &shown))
        << "the Tabs and Return do not reach the result" << failure_picture("result");
    close_program();
}

// Return on the race list with the focus opens it, and it stays open: the
// release of that Return is no choice in the list. Closed again, the list
// still has the focus.
TEST_F(ProgramTest, ReturnOpensTheRaceListAndLeavesItOpen)
{
    kivo_test::redirect_appdata(KIVO_TEST_SHARE_DIR);
    ASSERT_NO_FATAL_FAILURE(start());
    PLACES at;
    ASSERT_NO_FATAL_FAILURE(find_places(at));
    const std::vector<std::uint32_t> first_settings = screen_rgb({0, 0, window_w, window_h});
    PLACE popup, line;
    std::vector<std::uint32_t> popup_pixels;
    ASSERT_NO_FATAL_FAILURE(open_list(at.race_list, DATABASE::get_race_name(0).buffer, &popup, &popup_pixels, &line));
    const std::vector<std::uint32_t> closed_pixels = screen_rgb(popup);
    // Opened with Return, the list marks the race chosen: drawn so here.
    WM_SCREEN_OBJECT* box = ptm.page_manager->find_object_at_pos(static_cast<INT_S16>(at.race_list.mid_x()),
                                                                 static_cast<INT_S16>(at.race_list.mid_y()));
    ASSERT_NE(box, nullptr);
    box->take_focus();
    hold_key(KEY_RETURN, true);
    ASSERT_TRUE(app_main());
    hold_key(KEY_RETURN, false);
    run();
    popup_pixels = screen_rgb(popup);
    release_app_resources();

    ASSERT_NO_FATAL_FAILURE(launch(first_settings));
    ASSERT_TRUE(click(at.second_edit) && park_pointer());
    ASSERT_TRUE(keys({"Tab", "Return"}));
    XPixels shown;
    ASSERT_TRUE(wait_for(popup, popup_pixels, &shown)) << "Return does not open the list" << failure_picture("open");
    ASSERT_TRUE(settle(&shown));
    EXPECT_EQ(shown_rgb(popup), popup_pixels) << "the list closes again" << failure_picture("closed");
    // Closed with Escape, the focus is still on the list: Return opens it again.
    ASSERT_TRUE(keys({"Escape"}));
    EXPECT_TRUE(wait_for(popup, closed_pixels, &shown))
        << "Escape does not close the list" << failure_picture("escape");
    ASSERT_TRUE(keys({"Return"}));
    EXPECT_TRUE(wait_for(popup, popup_pixels, &shown)) << "the list lost the focus" << failure_picture("again");
    close_program();
}
