// The run loop's pass and event handling, with injected SDL events under
// the dummy driver and the idle wait replaced by a recorder.
#include "event_loop.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <vector>

namespace {

std::vector<INT_U32> waits_asked;
bool wait_brings_quit = false;
bool recording_wait(INT_U32 ms, SDL_Event* e)
{
    waits_asked.push_back(ms);
    std::memset(e, 0, sizeof *e);
    e->type = SDL_QUIT;
    return wait_brings_quit;
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
        if (type == SDL_WINDOWEVENT)
            e.window.event = detail;
        if (type == SDL_MOUSEBUTTONDOWN || type == SDL_MOUSEBUTTONUP)
            e.button.button = detail, e.button.x = 40, e.button.y = 30;
        return e;
    }
    // Through the SDL queue and one pass.
    void pass_with(Uint32 type, Uint8 detail = 0)
    {
        SDL_Event e = event(type, detail);
        ASSERT_EQ(SDL_PushEvent(&e), 1);
        process_os_events();
    }
    void key(SDL_Scancode sc, bool down)
    {
        SDL_Event e;
        std::memset(&e, 0, sizeof e);
        e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
        e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
        e.key.keysym.scancode = sc;
        e.key.keysym.sym = SDL_GetKeyFromScancode(sc);
        main_window_events(e);
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
        for (SDL_Scancode sc : c.held)
            key(sc, true);
        MOUSE::buttons = 0x7; // the press releases the other two
        pass_with(SDL_MOUSEBUTTONDOWN, c.physical);
        EXPECT_EQ(MOUSE::buttons, c.buttons) << int(c.physical) << ", " << c.held.size() << " held";
        pass_with(SDL_MOUSEBUTTONUP, c.physical);
        EXPECT_EQ(MOUSE::buttons, 0u);
        for (SDL_Scancode sc : c.held)
            key(sc, false);
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
        {'a', 0, false, 'a'},          {13, 0, false, 10},             {0xE9, 0, false, 0xE9},
        {'a', cmd | shift, false, 'A'}, {'a', cmd, false, 'a'},        {13, cmd, false, 10},
        {'1', cmd | shift, false, '1'}, // was 17
        {'[', cmd | shift, false, '['}, // was ';'
        {'@', opt, false, '@'},         // was 0x15
        {'~', opt | shift, false, '~'}, // was '>'
        {1, ctrl, true, 'a'},          {1, ctrl | shift, true, 'A'},  {26, ctrl, true, 'z'},
        {'1', ctrl, false, '1'},        // was 145
        {8, ctrl, false, 8},            // Control-Backspace still deletes
        {13, ctrl, false, 10},          // Control-Return
        {1, ctrl, false, 1},            // Home
        {1, cmd | ctrl, true, 1},       // Command comes first
    };
    for (const Case& c : cases)
        EXPECT_EQ(host_apply_char_rules(c.character, c.modifiers, c.control_letter), c.expected)
            << c.character << " with " << std::hex << c.modifiers;
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

TEST_F(EventLoop, IdleWaitLengthAndWhenItIsSkipped)
{
    struct Case
    {
        INT_U32 max_ms;
        INT_U8 something_done;
        std::vector<INT_U32> asked;
    };
    const Case cases[] = {
        {50, 0, {50}},     // 3 ticks
        {0, 0, {}},        // never waits
        {50, 1, {}},       // something was done
        {10, 0, {0}},      // 0 ticks: polls once
        {30, 0, {16}},     // 1 tick
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
