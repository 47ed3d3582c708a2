// The run loop's pass and event handling, with injected SDL events under
// the dummy driver and the idle wait replaced by a recorder.
#include "debug_stream.h"
#include "event_loop.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "key_layout.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"

#include <SDL_syswm.h>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The modifiers held through the key events made here, which each event
// carries as SDL's do.
Uint16 modifiers_held = 0;

// A key press or release as SDL queues it.
SDL_Event key_event(SDL_Scancode sc, bool down = true)
{
    const Uint16 bit = sc == SDL_SCANCODE_LSHIFT  ? KMOD_LSHIFT
                       : sc == SDL_SCANCODE_LCTRL ? KMOD_LCTRL
                       : sc == SDL_SCANCODE_LALT  ? KMOD_LALT
                       : sc == SDL_SCANCODE_LGUI  ? KMOD_LGUI
                                                  : 0;
    modifiers_held = down ? modifiers_held | bit : modifiers_held & ~bit;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = sc;
    e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
    e.key.keysym.mod = modifiers_held;
    return e;
}

std::vector<INT_U32> waits_asked;
bool wait_brings_quit = false;
bool recording_wait(INT_U32 ms, SDL_Event* e)
{
    waits_asked.push_back(ms);
    std::memset(e, 0, sizeof *e);
    e->type = SDL_QUIT;
    return wait_brings_quit;
}

// Events that arrive while the pass waits: the wait brings the first.
std::vector<SDL_Event> arriving;
bool arriving_wait(INT_U32, SDL_Event* e)
{
    for (SDL_Event& a : arriving) {
        SDL_PushEvent(&a);
    }
    arriving.clear();
    return SDL_PeepEvents(e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0;
}

int handler_calls = 0;
INT_U8 handler_answer = 1;
INT_U8 answering_handler(short id)
{
    ++handler_calls;
    return id == 0 ? handler_answer : 0;
}

class EventLoop : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS), 0) << SDL_GetError();
        host_reset_event_loop();
        host_set_idle_wait(recording_wait);
        set_max_idle_ms(0);
        waits_asked.clear();
        wait_brings_quit = false;
        handler_calls = 0;
        handler_answer = 1;
        window_close_handler = nullptr;
        window_aborted = events_something_done = 0;
        MOUSE::buttons = 0;
        KEYBOARD::release_all_keys();
        KEYBOARD::set_buffer_sz(10);
        KEYBOARD::get_code();
        modifiers_held = 0;
    }
    void TearDown() override
    {
        close_window(0);
        host_set_idle_wait(nullptr);
        set_max_idle_ms(50);
        window_close_handler = nullptr;
        window_aborted = 0;
        KEYBOARD::release_all_keys();
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
    }

    void open_test_window()
    {
        char title[] = "test";
        ASSERT_EQ(open_window(title, 64, 48, 0, 0), 1);
        SDL_FlushEvents(SDL_FIRSTEVENT, SDL_LASTEVENT);
        window_id = SDL_GetWindowID(host_sdl_window());
    }
    SDL_Event event(Uint32 type, Uint8 detail = 0)
    {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = type;
        e.window.windowID = window_id; // the same offset in every window-bound event
        if (type == SDL_WINDOWEVENT) {
            e.window.event = detail;
        }
        if (type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP) {
            e.button.button = detail, e.button.x = 40, e.button.y = 30;
        }
        return e;
    }
    // Through the SDL queue and one pass.
    void pass_with(Uint32 type, Uint8 detail = 0)
    {
        SDL_Event e = event(type, detail);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        process_os_events();
    }
    void key(SDL_Scancode sc, bool down) { main_window_events(key_event(sc, down)); }
    // The characters the keyboard holds after the events, each taken as the
    // main window takes it; every key is released after, for the next case.
    static std::string characters_from(const std::vector<SDL_Event>& events)
    {
        for (const SDL_Event& e : events) {
            main_window_events(e);
        }
        std::string got;
        while (INT_U8 ch = KEYBOARD::get_char()) {
            got += static_cast<char>(ch);
        }
        KEYBOARD::release_all_keys();
        return got;
    }
    Uint32 window_id = 0;
};

} // namespace

TEST_F(EventLoop, QuitTheCloseBoxAndSigtermAskTheHandler)
{
    window_aborted = 1;
    pass_with(SDL_QUIT); // no handler: the flag is cleared, nothing else
    EXPECT_EQ(window_aborted, 0);
    window_close_handler = answering_handler;
    handler_answer = 0;
    pass_with(SDL_QUIT);
    EXPECT_EQ(window_aborted, 0);
    handler_answer = 1;
    pass_with(SDL_QUIT);
    EXPECT_EQ(window_aborted, 1);

    open_test_window();
    window_aborted = 0;
    pass_with(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE);
    EXPECT_EQ(window_aborted, 1);
    EXPECT_EQ(handler_calls, 3);

    host_install_signal_handlers();
    window_aborted = 0;
    window_close_handler = nullptr;
    ASSERT_EQ(raise(SIGTERM), 0);
    process_os_events(); // no handler yet: the signal waits for one
    EXPECT_EQ(window_aborted, 0);
    window_close_handler = answering_handler;
    process_os_events();
    EXPECT_EQ(window_aborted, 1);
    EXPECT_EQ(handler_calls, 4);
    // One-shot: a second SIGTERM would end the process.
    struct sigaction now;
    ASSERT_EQ(sigaction(SIGTERM, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

TEST_F(EventLoop, ClicksFollowTheModifierRulesAtThePassPosition)
{
    open_test_window();
    SDL_WarpMouseInWindow(host_sdl_window(), 10, 20);
    struct Case
    {
        std::vector<SDL_Scancode> held;
        Uint8 physical;
        INT_U32 buttons;
    };
    const Case cases[] = {
        {{SDL_SCANCODE_LCTRL, SDL_SCANCODE_LSHIFT}, SDL_BUTTON_LEFT, 0x4},
        {{SDL_SCANCODE_LCTRL}, SDL_BUTTON_LEFT, 0x2},
        {{SDL_SCANCODE_LSHIFT}, SDL_BUTTON_LEFT, 0x1},
        {{}, SDL_BUTTON_LEFT, 0x1},
        {{}, SDL_BUTTON_RIGHT, 0x2},
        {{SDL_SCANCODE_LCTRL}, SDL_BUTTON_MIDDLE, 0x4},
    };
    for (const Case& c : cases) {
        for (SDL_Scancode sc : c.held) {
            key(sc, true);
        }
        MOUSE::buttons = 0x7; // the press releases the other two
        pass_with(SDL_MOUSEBUTTONDOWN, c.physical);
        EXPECT_EQ(MOUSE::buttons, c.buttons) << int(c.physical) << ", " << c.held.size() << " held";
        pass_with(SDL_MOUSEBUTTONUP, c.physical);
        EXPECT_EQ(MOUSE::buttons, 0u);
        for (SDL_Scancode sc : c.held) {
            key(sc, false);
        }
    }
    // The position is the pass's, never the event's (40, 30).
    EXPECT_EQ(MOUSE::x, 10);
    EXPECT_EQ(MOUSE::y, 20);

    // A release clears only its own report while another button is held.
    pass_with(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    pass_with(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT);
    pass_with(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
    EXPECT_EQ(MOUSE::buttons, 0x2u);
    pass_with(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT);
    EXPECT_EQ(MOUSE::buttons, 0u);
}

TEST(EventLoopRules, CharacterRules)
{
    const INT_U32 cmd = 0x100, shift = 0x200, opt = 0x800, ctrl = 0x1000;
    struct Case
    {
        INT_U32 character, modifiers;
        bool control_letter;
        INT_U32 expected;
    };
    const Case cases[] = {
        {'a', 0, false, 'a'},
        {13, 0, false, 10},
        {0xE9, 0, false, 0xE9},
        {'a', cmd | shift, false, 'A'},
        {'a', cmd, false, 'a'},
        {13, cmd, false, 10},
        {'1', cmd | shift, false, '1'}, // was 17
        {'[', cmd | shift, false, '['}, // was ';'
        {'@', opt, false, '@'},         // was 0x15
        {'~', opt | shift, false, '~'}, // was '>'
        {1, ctrl, true, 'a'},
        {1, ctrl | shift, true, 'A'},
        {26, ctrl, true, 'z'},
        {'1', ctrl, false, '1'},  // was 145
        {8, ctrl, false, 8},      // Control-Backspace still deletes
        {13, ctrl, false, 10},    // Control-Return
        {1, ctrl, false, 1},      // Home
        {1, cmd | ctrl, true, 1}, // Command comes first
    };
    for (const Case& c : cases) {
        EXPECT_EQ(host_apply_char_rules(c.character, c.modifiers, c.control_letter), c.expected)
            << c.character << " with " << std::hex << c.modifiers;
    }
}

TEST_F(EventLoop, KeysTextAndFocusReachTheKeyboard)
{
    SDL_Event t = event(SDL_TEXTINPUT);
    std::strcpy(t.text.text, "h\xC3\xA9");
    main_window_events(t);
    EXPECT_EQ(KEYBOARD::get_char(), 'h');
    EXPECT_EQ(static_cast<unsigned char>(KEYBOARD::get_char()), 0xE9);

    key(SDL_SCANCODE_LCTRL, true);
    EXPECT_EQ(KEYBOARD::get_code(), -1); // a modifier posts no code
    key(SDL_SCANCODE_A, true);
    EXPECT_EQ(KEYBOARD::get_code(), 0);
    EXPECT_EQ(KEYBOARD::get_char(), 'a');

    open_test_window();
    EXPECT_EQ(KEYBOARD::get_key_value(59), 1); // Control still held
    pass_with(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST);
    pass_with(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED);
    EXPECT_TRUE(host_window_is_active());
    EXPECT_EQ(KEYBOARD::get_key_value(59), 0);
    events_something_done = 0;
    main_window_events(event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_EXPOSED));
    EXPECT_EQ(events_something_done, 1); // the whole buffer went out again
}

// A key that made a printable character has its own text dropped, the
// first before the next key-down, whatever comes between; a key whose
// character is a control code sends none, so the text after it is typed.
TEST_F(EventLoop, TypedTextComesOnceWhateverComesBetween)
{
    open_test_window();
    auto down = [](SDL_Scancode sc) { return key_event(sc); };
    auto up = [](SDL_Scancode sc) { return key_event(sc, false); };
    auto text = [this](const char* utf8) {
        SDL_Event e = event(SDL_TEXTINPUT);
        std::strcpy(e.text.text, utf8);
        return e;
    };
    const SDL_Event option = down(SDL_SCANCODE_LALT), a = down(SDL_SCANCODE_A), a_up = up(SDL_SCANCODE_A);
    const struct
    {
        const char* what;
        std::vector<SDL_Event> events;
        std::string want; // the keyboard's characters
    } cases[] = {
        {"Option-A, its release, its text", {option, a, a_up, text("a")}, "a"},
        {"Option-A, its text", {option, a, text("a")}, "a"},
        {"Option-A, its text after other events, then more text",
         {option, a, event(SDL_MOUSEMOTION), event(SDL_TEXTEDITING), event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST),
          event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED), a_up, text("a"), text("\xC3\xBC")},
         "a\xFC"},
        {"Backspace, its release, text",
         {down(SDL_SCANCODE_BACKSPACE), up(SDL_SCANCODE_BACKSPACE), text("\xC3\xA4")},
         "\b\xE4"},
        {"Return, text", {down(SDL_SCANCODE_RETURN), text("\xC3\xB6")}, "\n\xF6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(characters_from(c.events), c.want) << c.what;
    }
}

TEST_F(EventLoop, IdleWaitLengthAndWhenItIsSkipped)
{
    struct Case
    {
        INT_U32 max_ms;
        INT_U8 something_done;
        std::vector<INT_U32> asked;
    };
    const Case cases[] = {
        {50, 0, {50}}, // 3 ticks
        {0, 0, {}},    // never waits
        {50, 1, {}},   // something was done
        {10, 0, {0}},  // 0 ticks: polls once
        {30, 0, {16}}, // 1 tick
    };
    for (const Case& c : cases) {
        waits_asked.clear();
        set_max_idle_ms(c.max_ms);
        events_something_done = c.something_done;
        process_os_events();
        EXPECT_EQ(waits_asked, c.asked) << c.max_ms << " ms, done " << int(c.something_done);
        EXPECT_EQ(events_something_done, 0);
    }
    // An event the wait brings is handled in the same pass.
    window_close_handler = answering_handler;
    wait_brings_quit = true;
    set_max_idle_ms(50);
    process_os_events();
    EXPECT_EQ(window_aborted, 1);
}

TEST_F(EventLoop, ProcessEventTakesQuitAndTheVerticalWheel)
{
    const INT_U32 cmds = host_four_cc("cmds"), mous = host_four_cc("mous"), quit = host_four_cc("quit");
    struct Case
    {
        HOST_EVENT e;
        bool handler;
        INT_S32 result;
        INT_U8 aborted; // 7: left alone
        INT_S32 wheel;  // change of the wheel position
    };
    const Case cases[] = {
        {{cmds, 1, quit, 0, 0, 0}, false, 0, 0, 0}, // no handler: Quit has no effect
        {{cmds, 1, quit, 1, 0, 0}, true, 0, 1, 0},
        {{cmds, 1, host_four_cc("open"), 0, 0, 0}, true, EVENT_NOT_HANDLED, 7, 0},
        {{cmds, 2, quit, 1, 0, 0}, true, 0, 7, 0},                 // the menu's Quit item
        {{cmds, 2, quit, 0, 0, 0}, true, EVENT_NOT_HANDLED, 7, 0}, // not from a menu
        {{mous, 10, 0, 0, 1, 3}, true, 0, 7, 3},
        {{mous, 10, 0, 0, 1, -5}, true, 0, 7, -5},
        {{mous, 10, 0, 0, 2, 4}, true, 0, 7, 0}, // horizontal
        {{host_four_cc("keyb"), 1, quit, 0, 0, 0}, true, 0, 7, 0},
    };
    for (const Case& c : cases) {
        window_close_handler = c.handler ? answering_handler : nullptr;
        window_aborted = 7;
        MOUSE::last_event_time = 0;
        INT_S32 wheel = MOUSE::wheel_pos;
        EXPECT_EQ(process_event(c.e), c.result) << c.e.kind << " " << c.e.command;
        EXPECT_EQ(window_aborted, c.aborted) << c.e.kind << " " << c.e.command;
        EXPECT_EQ(MOUSE::wheel_pos - wheel, c.wheel);
        EXPECT_EQ(MOUSE::last_event_time != 0, c.wheel != 0);
    }
    handler_answer = 0;
    EXPECT_EQ(process_event({cmds, 1, quit, 0, 0, 0}), 0);
    EXPECT_EQ(window_aborted, 0); // a handler that refuses keeps the program running
    kivo_app_info[0] = kivo_app_info[1] = 0;
    EXPECT_EQ(process_event({cmds, 1, host_four_cc("pref"), 0, 0, 0}), 0);
    EXPECT_EQ(process_event({cmds, 1, host_four_cc("abou"), 0, 0, 0}), 0);
    EXPECT_TRUE(kivo_app_info[0] == 1 && kivo_app_info[1] == 1);
    kivo_app_info[0] = kivo_app_info[1] = 0;

    // SDL's wheel: vertical steps only, turned back when SDL reports them
    // flipped.
    struct Wheel
    {
        int x, y;
        Uint32 direction;
        INT_S32 change;
    };
    for (const Wheel& w : {Wheel{0, 2, SDL_MOUSEWHEEL_NORMAL, 2}, Wheel{0, 2, SDL_MOUSEWHEEL_FLIPPED, -2},
                           Wheel{3, 0, SDL_MOUSEWHEEL_NORMAL, 0}}) {
        SDL_Event e = event(SDL_MOUSEWHEEL);
        e.wheel.x = w.x;
        e.wheel.y = w.y;
        e.wheel.direction = w.direction;
        INT_S32 before = MOUSE::wheel_pos;
        main_window_events(e);
        EXPECT_EQ(MOUSE::wheel_pos - before, w.change) << w.x << "," << w.y;
    }
}

namespace {

std::string console;

} // namespace

TEST_F(EventLoop, FocusAndOtherProgramsAreLoggedAndLeftAlone)
{
    KIVO_HOST_TABLE capture = {};
    capture.write_to_console = [](const char* text) { console += text; };
    kivo_set_host(&capture);
    const INT_U16 flags = mac_event_loop_debug.flags;
    mac_event_loop_debug.flags = DEBUG_STREAM_WRITE_TO_CONSOLE;
    open_test_window();
    window_close_handler = answering_handler;

    struct Case
    {
        Uint32 type;
        Uint8 window_event;
        const char* file; // the dropped name SDL hands over to be freed
        const char* line;
    };
    const Case cases[] = {
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_TAKE_FOCUS, nullptr, "\tosEvt\n"},
        {SDL_WINDOWEVENT, SDL_WINDOWEVENT_LEAVE, nullptr, "\tosEvt\n"},
        {SDL_APP_DIDENTERBACKGROUND, 0, nullptr, "\tosEvt\n"},
        {SDL_DROPBEGIN, 0, nullptr, "\tkHighLevelEvent\n"},
        {SDL_DROPFILE, 0, "/tmp/dropped file.txt", "\tkHighLevelEvent\n"},
        {SDL_DROPTEXT, 0, "dropped text", "\tkHighLevelEvent\n"},
    };
    for (const Case& c : cases) {
        SDL_Event e = event(c.type, c.window_event);
        if (c.type != SDL_WINDOWEVENT) {
            e.drop.file = c.file ? SDL_strdup(c.file) : nullptr;
        }
        console.clear();
        MOUSE::buttons = 0x2;
        KEYBOARD::code = -1;
        events_something_done = 0;
        main_window_events(e);
        EXPECT_NE(console.find(" Got id "), std::string::npos) << console;
        EXPECT_EQ(console.substr(console.size() - std::strlen(c.line)), c.line) << console;
        EXPECT_TRUE(MOUSE::buttons == 0x2 && KEYBOARD::code == -1 && events_something_done == 0 &&
                    window_aborted == 0 && handler_calls == 0 && host_window_is_active())
            << console;
    }

    // Losing the focus is also a suspend; the window is deactivated after it.
    console.clear();
    main_window_events(event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_LOST));
    EXPECT_LT(console.find("\tosEvt\n"), console.find("\ractivateEvt\n")) << console;
    EXPECT_FALSE(host_window_is_active());
    main_window_events(event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_FOCUS_GAINED));
    // The session asking the program to quit arrives from another program
    // and becomes the Quit command.
    console.clear();
    main_window_events(event(SDL_QUIT));
    EXPECT_NE(console.find("\tkHighLevelEvent\n"), std::string::npos) << console;
    EXPECT_EQ(window_aborted, 1);

    mac_event_loop_debug.flags = flags;
    capture.write_to_console = kivo_default_host()->write_to_console;
    kivo_set_host(&capture);
}

namespace {

// The layout the injected source reports.
const char* layout_named = "us";
bool named_layout(HOST_LAYOUT_NAMES* out)
{
    *out = HOST_LAYOUT_NAMES{"evdev", "pc105", layout_named, "", "", 0};
    return true;
}

} // namespace

// A chord's character is made here, and its text is awaited only where the
// window system sends one: Control makes a control code of most keys in
// its lookup (K, 2, space), which goes as no text, and a dead key sends
// none. What is typed after such a key is typed, an input method's text
// too; a chord whose key stays printable under Control (1, Shift-/ as '?')
// still has its own text dropped.
TEST_F(EventLoop, AKeyAwaitsATextOnlyWhereTheWindowSystemSendsOne)
{
    open_test_window();
    // A key pressed with the modifiers its event says are held.
    auto chord = [](Uint16 mod, SDL_Scancode sc, SDL_Keycode sym = 0) {
        SDL_Event e = key_event(sc);
        e.key.keysym.mod = mod;
        e.key.keysym.sym = sym ? sym : e.key.keysym.sym;
        return e;
    };
    auto text = [this](const char* utf8) {
        SDL_Event e = event(SDL_TEXTINPUT);
        std::strcpy(e.text.text, utf8);
        return e;
    };
    const Uint16 ctrl_alt = KMOD_LCTRL | KMOD_LALT, shifted = ctrl_alt | KMOD_LSHIFT;
    const SDL_Event k = chord(ctrl_alt, SDL_SCANCODE_K), k_up = key_event(SDL_SCANCODE_K, false);
    const struct
    {
        const char* what;
        const char* layout; // null: none can be read
        std::vector<SDL_Event> events;
        std::string want; // the keyboard's characters
    } cases[] = {
        {"Control-Option-K, then r", "us", {k, k_up, text("r")}, "kr"},
        {"two chords, then ra", "us", {k, k_up, k, k_up, text("r"), text("a")}, "kkra"},
        {"Control-Command-K, then an input method's text",
         "us",
         {chord(KMOD_LCTRL | KMOD_LGUI, SDL_SCANCODE_K), text("\xC3\xBC")},
         "k\xFC"},
        {"Control-Option-Shift-K", "us", {chord(shifted, SDL_SCANCODE_K), text("r")}, "Kr"},
        {"Control-Option-2 and space",
         "us",
         {chord(ctrl_alt, SDL_SCANCODE_2), chord(ctrl_alt, SDL_SCANCODE_SPACE), text("r")},
         "2 r"},
        {"Control-Option-K with no layout", nullptr, {k, text("r")}, "kr"},
        {"Control-Option-1 and its text", "us", {chord(ctrl_alt, SDL_SCANCODE_1), text("1"), text("r")}, "1r"},
        {"Control-Option-Shift-/ and its text '?'",
         "us",
         {chord(shifted, SDL_SCANCODE_SLASH), text("?"), text("r")},
         "/r"},
        {"the same with no layout", nullptr, {chord(shifted, SDL_SCANCODE_SLASH), text("?"), text("r")}, "/r"},
        // A dead circumflex as SDL may give it: the layout says it is dead.
        {"Option and a dead key, then r", "de", {chord(KMOD_LALT, SDL_SCANCODE_GRAVE, '^'), text("r")}, "^r"},
    };
    for (const auto& c : cases) {
        layout_named = c.layout;
        host_set_layout_source(c.layout ? named_layout : nullptr);
        EXPECT_EQ(characters_from(c.events), c.want) << c.what;
    }
    host_set_layout_source(nullptr);
}

// Widgets see one button state, and one key code with the keys held as
// it was pressed, per application step: a pass ends after a button change,
// and before the next key event once a key posted its code or a key other
// than a modifier was released (a widget acting on the release sees it
// before the next key), the rest left for the next pass. Keys piled up
// behind a busy step are each seen, and a key's text comes with it.
TEST_F(EventLoop, APassEndsAfterAButtonChangeOrBeforeTheNextKey)
{
    open_test_window();
    set_max_idle_ms(50);
    auto push = [this](SDL_Event e) { ASSERT_EQ(SDL_PushEvent(&e), 1); };
    auto up = [](SDL_Scancode sc) { return key_event(sc, false); };
    SDL_Event text = event(SDL_TEXTINPUT);
    std::strcpy(text.text.text, "a");
    push(key_event(SDL_SCANCODE_A));
    push(text);
    push(up(SDL_SCANCODE_A));
    push(event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT));
    push(event(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT));
    push(event(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT));
    push(event(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT));
    push(key_event(SDL_SCANCODE_LCTRL));
    push(key_event(SDL_SCANCODE_C));
    push(up(SDL_SCANCODE_C));
    push(up(SDL_SCANCODE_LCTRL));
    push(key_event(SDL_SCANCODE_TAB));
    push(key_event(SDL_SCANCODE_TAB));
    push(key_event(SDL_SCANCODE_RETURN));
    push(key_event(SDL_SCANCODE_B));
    // Each pass: buttons afterwards, the key code and characters it left,
    // whether Control was held then, whether it waited.
    struct Step
    {
        INT_U32 buttons;
        INT_S32 code;
        const char* chars;
        INT_U8 control;
        bool waited;
    };
    const Step steps[] = {
        {0x0, 0, "a", 0, false},   {0x1, -1, "", 0, false},   {0x0, -1, "", 0, false}, {0x2, -1, "", 0, false},
        {0x0, -1, "", 0, false},   {0x0, 8, "c", 1, false},   {0x0, -1, "", 1, false}, {0x0, 48, "\t", 0, false},
        {0x0, 48, "\t", 0, false}, {0x0, 36, "\n", 0, false}, {0x0, 11, "", 0, false}, {0x0, -1, "", 0, true},
    };
    int pass = 0;
    for (const Step& s : steps) {
        waits_asked.clear();
        process_os_events();
        ++pass;
        EXPECT_EQ(MOUSE::buttons, s.buttons) << "pass " << pass;
        EXPECT_EQ(KEYBOARD::get_code(), s.code) << "pass " << pass;
        std::string chars;
        while (INT_U8 c = KEYBOARD::get_char()) {
            chars += static_cast<char>(c);
        }
        EXPECT_EQ(chars, s.chars) << "pass " << pass;
        EXPECT_EQ(KEYBOARD::get_key_value(59), s.control) << "pass " << pass;
        EXPECT_EQ(!waits_asked.empty(), s.waited) << "pass " << pass;
    }

    // Keys that arrive while a pass waits: the key the wait brings has its
    // text in its pass all the same, the next key waits for the next pass.
    arriving = {key_event(SDL_SCANCODE_A), text, up(SDL_SCANCODE_A), key_event(SDL_SCANCODE_TAB)};
    host_set_idle_wait(arriving_wait);
    process_os_events();
    EXPECT_EQ(KEYBOARD::get_code(), 0);
    EXPECT_EQ(KEYBOARD::get_char(), 'a');
    EXPECT_EQ(events_input_waiting, 1);
    process_os_events();
    EXPECT_EQ(KEYBOARD::get_code(), -1); // the release of A
    process_os_events();
    EXPECT_EQ(KEYBOARD::get_code(), 48);
    EXPECT_EQ(KEYBOARD::get_char(), '\t');
    EXPECT_EQ(KEYBOARD::get_char(), 0);
}

// SDL's queue holds 65,535 events and drops the rest. A close request
// behind a flood is heard all the same and acted on before the queued
// input; one the handler refuses leaves that input in its order, and no
// request is acted on twice.
TEST_F(EventLoop, ACloseRequestGoesBeforeEveryQueuedEvent)
{
    open_test_window();
    window_close_handler = answering_handler;
    set_max_idle_ms(50);

    // Refused: the keys on both sides of it are taken, in their order.
    handler_answer = 0;
    SDL_Event a = event(SDL_TEXTINPUT), b = event(SDL_TEXTINPUT), quit = event(SDL_QUIT);
    std::strcpy(a.text.text, "a");
    std::strcpy(b.text.text, "b");
    ASSERT_EQ(SDL_PushEvent(&a), 1);
    ASSERT_EQ(SDL_PushEvent(&quit), 1);
    ASSERT_EQ(SDL_PushEvent(&b), 1);
    process_os_events();
    EXPECT_EQ(handler_calls, 1);
    EXPECT_EQ(window_aborted, 0);
    EXPECT_EQ(KEYBOARD::get_char(), 'a');
    EXPECT_EQ(KEYBOARD::get_char(), 0); // a character to an application step
    process_os_events();
    EXPECT_EQ(KEYBOARD::get_char(), 'b');
    EXPECT_EQ(handler_calls, 1);

    // A flood fills the queue; the quit and the close box after it are dropped
    // from the queue, yet the first pass asks about each and ends the run
    // before a single key is taken.
    handler_answer = 1;
    SDL_Event k = key_event(SDL_SCANCODE_K);
    int queued = 0;
    for (int i = 0; i < 70000; ++i) {
        queued += SDL_PushEvent(&k) == 1;
    }
    ASSERT_LT(queued, 70000) << "the queue took the whole flood";
    SDL_Event close = event(SDL_WINDOWEVENT, SDL_WINDOWEVENT_CLOSE);
    ASSERT_LT(SDL_PushEvent(&quit), 1);
    ASSERT_LT(SDL_PushEvent(&close), 1);
    process_os_events();
    EXPECT_EQ(window_aborted, 1);
    EXPECT_EQ(handler_calls, 3);
    EXPECT_EQ(KEYBOARD::get_code(), -1);
    EXPECT_EQ(SDL_PeepEvents(nullptr, 0, SDL_PEEKEVENT, SDL_KEYDOWN, SDL_KEYDOWN), queued);
}

// A flood is taken over several passes. Each pass before the last leaves
// input waiting and does not wait itself; the last one waits again.
TEST_F(EventLoop, AFloodIsTakenInSharesOverSeveralPasses)
{
    open_test_window();
    set_max_idle_ms(50);
    // Pointer moves: each key would end its pass by itself.
    SDL_Event m = event(SDL_MOUSEMOTION);
    for (int i = 0; i < 5000; ++i) {
        ASSERT_EQ(SDL_PushEvent(&m), 1);
    }
    int passes = 0;
    do {
        waits_asked.clear();
        process_os_events();
        ++passes;
        EXPECT_EQ(waits_asked.empty(), events_input_waiting == 1) << "pass " << passes;
    } while (events_input_waiting && passes < 5000);
    EXPECT_GT(passes, 1);
    EXPECT_LT(passes, 5000);
    EXPECT_FALSE(SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT));

    // A button change with nothing behind it leaves no input waiting.
    pass_with(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT);
    EXPECT_EQ(events_input_waiting, 0);
    pass_with(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT);
}

// Every character takes an application step of its own, also one whose key
// has no code (an umlaut the key table does not know) or that comes with
// no key at all (an input method): a field takes one a step, and a Tab
// behind it must not move the focus first. A key's own text is dropped
// once for each key still awaiting it, and a key counts the modifiers its
// own event says were held, not a release that never came.
TEST_F(EventLoop, EachCharacterTakesAStepWithTheModifiersOfItsKey)
{
    open_test_window();
    set_max_idle_ms(50);
    auto text = [this](const char* utf8) {
        SDL_Event e = event(SDL_TEXTINPUT);
        std::strcpy(e.text.text, utf8);
        return e;
    };
    // Passes until the queue is empty: what each left, as a code (or '-'
    // for none) and the characters, with '^' for Shift held then.
    auto passes = [](std::vector<SDL_Event> events) {
        for (SDL_Event& e : events) {
            EXPECT_EQ(SDL_PushEvent(&e), 1);
        }
        std::vector<std::string> got;
        for (int n = 0; n < 50 && SDL_HasEvents(SDL_FIRSTEVENT, SDL_LASTEVENT); n++) {
            process_os_events();
            const INT_S32 code = KEYBOARD::get_code();
            std::string step = code < 0 ? "-" : std::to_string(code);
            while (INT_U8 c = KEYBOARD::get_char()) {
                step += static_cast<char>(c);
            }
            got.push_back(step + (KEYBOARD::get_key_value(56) ? "^" : ""));
        }
        KEYBOARD::release_all_keys();
        return got;
    };
    SDL_Event umlaut = key_event(SDL_SCANCODE_UNKNOWN);
    umlaut.key.keysym.sym = 0xE4;
    SDL_Event umlaut_up = umlaut;
    umlaut_up.type = SDL_KEYUP;
    const SDL_Scancode A = SDL_SCANCODE_A, B = SDL_SCANCODE_B, TAB = SDL_SCANCODE_TAB;
    using V = std::vector<std::string>;
    EXPECT_EQ(passes({umlaut, text("\xC3\xA4"), umlaut_up, key_event(A), text("a"), key_event(A, false), key_event(TAB),
                      key_event(TAB, false), text("\xC3\xB6"), text("\xC3\xBC")}),
              (V{"-\xE4", "0a", "-", "48\t", "-\xF6", "-\xFC"}));

    // Option-A and Option-B, then their texts; both down, then the texts;
    // Option-A, Return, then A's text.
    const SDL_Event option = key_event(SDL_SCANCODE_LALT);
    const SDL_Event a = key_event(A), a_up = key_event(A, false), b = key_event(B), b_up = key_event(B, false);
    const SDL_Event ret = key_event(SDL_SCANCODE_RETURN), ret_up = key_event(SDL_SCANCODE_RETURN, false);
    key_event(SDL_SCANCODE_LALT, false);
    EXPECT_EQ(passes({option, a, a_up, b, b_up, text("a"), text("b")}), (V{"0a", "-", "11b", "-"}));
    EXPECT_EQ(passes({option, a, b, text("a"), text("b")}), (V{"0a", "11b", "-"}));
    EXPECT_EQ(passes({option, a, a_up, ret, ret_up, text("a")}), (V{"0a", "-", "36\n", "-"}));

    // A capital whose Shift release never came: the Tab's own event says
    // Shift is up, and the Tab is a Tab forward.
    const SDL_Event shift = key_event(SDL_SCANCODE_LSHIFT), capital = key_event(B);
    modifiers_held = 0;
    EXPECT_EQ(passes({shift, capital, text("B"), key_event(B, false), key_event(TAB), key_event(TAB, false)}),
              (V{"11B^", "-^", "48\t", "-"}));

    // SDL itself may keep such a Shift in its state, taking its release for
    // a repeat: the window system's own key press, which comes right
    // before SDL's key-down, says what was held.
    auto server_press = [](unsigned state, SDL_SysWMmsg* m) {
        std::memset(m, 0, sizeof *m);
        m->subsystem = SDL_SYSWM_X11;
        m->msg.x11.event.type = KeyPress;
        m->msg.x11.event.xkey.state = state;
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = SDL_SYSWMEVENT;
        e.syswm.msg = m;
        SDL_PushEvent(&e); // read as it is pushed, never queued
    };
    SDL_SysWMmsg plain, shifted;
    modifiers_held = 0;
    SDL_Event shift_down = key_event(SDL_SCANCODE_LSHIFT), capital_down = key_event(B);
    SDL_Event capital_up = key_event(B, false);
    const SDL_Event tab = key_event(TAB), tab_up = key_event(TAB, false);
    ASSERT_EQ(tab.key.keysym.mod, KMOD_LSHIFT);
    ASSERT_EQ(SDL_PushEvent(&shift_down), 1);
    server_press(ShiftMask, &shifted);
    ASSERT_EQ(SDL_PushEvent(&capital_down), 1);
    ASSERT_EQ(SDL_PushEvent(&capital_up), 1);
    server_press(0, &plain);
    EXPECT_EQ(passes({tab, tab_up}), (V{"11^", "-^", "48\t", "-"}));
}
