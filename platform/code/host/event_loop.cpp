// One pass of host event handling and the handling of each SDL event, in
// the order and with the rules of the classic event loop they replace.
#include "event_loop.h"

#include "debug_stream.h"
#include "event_client.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "sound.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <ctime>

// The run loop's globals live here, not beside host_main, so that code
// which only runs passes (open_window, line input) links without the
// entry point and what it pulls in.
INT_U8 window_aborted = 0;
INT_U32 events_max_delay_ms = 50;
INT_S16 middle_mouse_modifier = 0x1200;
INT_S16 right_mouse_modifier = 0x1000;
INT_U8 kivo_app_info[2] = {0, 0};
char application_fsspec[4096] = "";
INT_U8 got_process_info = 0;
void (*pm_destructor)() = nullptr;
INT_U8 events_input_waiting = 0;

INT_U32 get_max_idle_ms()
{
    return events_max_delay_ms;
}

void set_max_idle_ms(INT_U32 ms)
{
    events_max_delay_ms = ms;
}

namespace {

// The classic event kinds, for the log.
enum : int
{
    CLASSIC_MOUSE_DOWN = 1,
    CLASSIC_MOUSE_UP = 2,
    CLASSIC_KEY_DOWN = 3,
    CLASSIC_KEY_UP = 4,
    CLASSIC_AUTO_KEY = 5,
    CLASSIC_UPDATE = 6,
    CLASSIC_ACTIVATE = 8,
    CLASSIC_OS = 15,
    CLASSIC_HIGH_LEVEL = 23,
};

constexpr INT_U32 CLASS_COMMAND = host_four_cc("cmds");
constexpr INT_U32 CLASS_MOUSE = host_four_cc("mous");
constexpr INT_U32 KIND_PROCESS_COMMAND = 1, KIND_UPDATE_STATUS = 2, KIND_WHEEL_MOVED = 10;
constexpr INT_U32 COMMAND_QUIT = host_four_cc("quit");
constexpr INT_U32 COMMAND_PREFERENCES = host_four_cc("pref");
constexpr INT_U32 COMMAND_ABOUT = host_four_cc("abou");

constexpr INT_U32 MOD_COMMAND = 0x100;
constexpr INT_U32 MOD_SHIFT = 0x200;
constexpr INT_U32 MOD_OPTION = 0x800;
constexpr INT_U32 MOD_CONTROL = 0x1000;

volatile std::sig_atomic_t quit_signal = 0;

// The most events one pass takes from the queue: a flood is handled over
// several passes, with the application's steps and frames in between.
constexpr int PASS_EVENT_LIMIT = 256;

// Quit requests and closes of the main window, counted by the watch as SDL
// takes them in, before its queue: a full queue drops what comes after.
std::atomic<int> quits_heard{0}, closes_heard{0};
// Queued copies of requests already acted on, skipped when they come up.
// A copy the full queue dropped leaves its count behind; that only ever
// skips the copy of a later request, which the watch heard too.
int quits_ahead = 0, closes_ahead = 0;

long event_sequence = 0;
int last_pointer_x = 0, last_pointer_y = 0;

// Set when a key-down posts its code, or a key or text posts a character:
// the keyboard keeps one code, which the next application step takes, and
// a field takes one character a step. The character of a key without a
// code of its own (an umlaut the key table does not know, an input
// method's text) takes a step too, or the field falls behind and a Tab
// after it moves the focus before that character is typed. A key's
// release counts as a posted code (main_window_events).
bool key_code_posted = false, key_char_posted = false;

// The button each physical button (SDL's 1 left, 2 middle, 3 right)
// reported when it went down; 0 while it is up.
int reported_button[4] = {0, 0, 0, 0};

void log_event(int what, const char* line)
{
    ++event_sequence;
    mac_event_loop_debug.printf("%ld Got id %d\n", event_sequence, what);
    mac_event_loop_debug.printf("%s", line);
}

bool is_main_window(Uint32 window_id)
{
    SDL_Window* w = host_sdl_window();
    return w && SDL_GetWindowID(w) == window_id;
}

void mark_whole_buffer_and_blit()
{
    IMAGE* bb = get_back_buffer(0);
    if (bb && bb->width > 0 && bb->height > 0) {
        bb->mark_dirty_area(0, 0, static_cast<short>(bb->width - 1), static_cast<short>(bb->height - 1));
        blit_to_window(0);
    }
}

void mouse_down(const SDL_MouseButtonEvent& b)
{
    log_event(CLASSIC_MOUSE_DOWN, "\tmouseDown\n");
    if (!is_main_window(b.windowID) || b.button < 1 || b.button > 3) {
        return;
    }
    int button = 1;
    if (b.button == SDL_BUTTON_RIGHT) {
        button = 2;
    } else if (b.button == SDL_BUTTON_MIDDLE) {
        button = 3;
    } else {
        // SDL's own modifier state misses injected events; the host keeps its own.
        INT_U32 mods = host_modifiers();
        INT_U32 middle = static_cast<INT_U16>(middle_mouse_modifier);
        INT_U32 right = static_cast<INT_U16>(right_mouse_modifier);
        if ((mods & middle) == middle) {
            button = 3;
        } else if ((mods & right) == right) {
            button = 2;
        }
    }
    reported_button[b.button] = button;
    // Exactly one button pressed, the other two released.
    MOUSE::process_mouse_button(3, button == 3);
    MOUSE::process_mouse_button(2, button == 2);
    MOUSE::process_mouse_button(1, button == 1);
}

// Each physical button clears the bit it reported; with none held the
// mask is empty. No click times: the classic mouse-up recorded none.
void mouse_up(const SDL_MouseButtonEvent& b)
{
    log_event(CLASSIC_MOUSE_UP, "\tmouseUp\n");
    if (b.button >= 1 && b.button <= 3 && reported_button[b.button]) {
        MOUSE::buttons &= ~(1u << (reported_button[b.button] - 1));
        reported_button[b.button] = 0;
    }
    if (!reported_button[1] && !reported_button[2] && !reported_button[3]) {
        MOUSE::buttons = 0;
    }
}

void key_down(const SDL_Event& e)
{
    log_event(e.key.repeat ? CLASSIC_AUTO_KEY : CLASSIC_KEY_DOWN, "\tKeyDown/autoKey\n");
    HOST_KEY k;
    if (!host_translate_key(e, &k) || k.is_modifier) {
        return;
    }
    INT_U32 c = host_apply_char_rules(k.character, k.modifiers, k.control_letter);
    if (k.mac_code >= 0) {
        KEYBOARD::process_key_event(static_cast<INT_U32>(k.mac_code));
        key_code_posted = true;
    }
    if (c) {
        KEYBOARD::process_char_event(c);
        key_char_posted = true;
    }
}

void text_input(const SDL_Event& e)
{
    log_event(CLASSIC_KEY_DOWN, "\tKeyDown/autoKey\n");
    INT_U32 chars[SDL_TEXTINPUTEVENT_TEXT_SIZE];
    int n = host_translate_text(e, chars, SDL_TEXTINPUTEVENT_TEXT_SIZE);
    for (int i = 0; i < n; ++i) {
        KEYBOARD::process_char_event(chars[i]);
        key_char_posted = true;
    }
}

void wheel(const SDL_MouseWheelEvent& w)
{
    const bool flipped = w.direction == SDL_MOUSEWHEEL_FLIPPED;
    if (w.y != 0) {
        process_event(HOST_EVENT{CLASS_MOUSE, KIND_WHEEL_MOVED, 0, 0, 1, flipped ? -w.y : w.y});
    }
    if (w.x != 0) {
        process_event(HOST_EVENT{CLASS_MOUSE, KIND_WHEEL_MOVED, 0, 0, 2, flipped ? -w.x : w.x});
    }
}

// Focus and suspend/resume reach the program as the old system's
// operating-system event, which asked nothing of it.
void os_event()
{
    log_event(CLASSIC_OS, "\tosEvt\n");
}

void window_event(const SDL_WindowEvent& w)
{
    if (!is_main_window(w.windowID)) {
        log_event(CLASSIC_OS, "\t*** unknown ***\n");
        return;
    }
    switch (w.event) {
    case SDL_WINDOWEVENT_CLOSE:
        log_event(CLASSIC_MOUSE_DOWN, "\tmouseDown\n");
        host_quit_command();
        break;
    case SDL_WINDOWEVENT_FOCUS_GAINED:
        // The program comes to the front (resume), then its window is
        // activated.
        os_event();
        log_event(CLASSIC_ACTIVATE, "\ractivateEvt\n");
        host_set_window_active(true);
        mark_whole_buffer_and_blit();
        break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        // Keys released while another window has the focus never arrive.
        os_event();
        log_event(CLASSIC_ACTIVATE, "\ractivateEvt\n");
        host_set_window_active(false);
        break;
    case SDL_WINDOWEVENT_TAKE_FOCUS:
    case SDL_WINDOWEVENT_ENTER:
    case SDL_WINDOWEVENT_LEAVE: os_event(); break;
    case SDL_WINDOWEVENT_EXPOSED:
        log_event(CLASSIC_UPDATE, "\tupdateEvt\n");
        mark_whole_buffer_and_blit();
        break;
    default: log_event(CLASSIC_OS, "\t*** unknown ***\n"); break;
    }
}

bool headless_driver()
{
    const char* driver = SDL_GetCurrentVideoDriver();
    return !driver || std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "offscreen") == 0;
}

// The pointer in back-buffer coordinates. SDL keeps the last position
// inside the window after the pointer left it; the global position shows
// where it really is, outside every widget.
void read_pointer(SDL_Window* w, int* x, int* y)
{
    int wx = 0, wy = 0;
    if (headless_driver() || SDL_GetMouseFocus() == w) {
        SDL_GetMouseState(&wx, &wy);
    } else {
        int gx = 0, gy = 0, left = 0, top = 0;
        SDL_GetGlobalMouseState(&gx, &gy);
        SDL_GetWindowPosition(w, &left, &top);
        wx = gx - left;
        wy = gy - top;
    }
    host_window_to_buffer(wx, wy, x, y);
}

// SDL's timed wait polls every millisecond under the headless drivers,
// where no outside event can arrive: there a plain sleep, which a signal
// cuts short, costs nothing.
bool default_idle_wait(INT_U32 ms, SDL_Event* e)
{
    if (ms == 0) {
        return SDL_PollEvent(e) != 0;
    }
    if (!headless_driver()) {
        return SDL_WaitEventTimeout(e, static_cast<int>(ms)) != 0;
    }
    struct timespec t;
    t.tv_sec = static_cast<time_t>(ms / 1000);
    t.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    nanosleep(&t, nullptr);
    return SDL_PollEvent(e) != 0;
}

HOST_IDLE_WAIT idle_wait = default_idle_wait;

extern "C" void on_quit_signal(int)
{
    quit_signal = 1;
}

// A signal that arrives before the program has a close handler (during
// start-up) stays pending until one is set: the one-shot handler is spent,
// so dropping it would leave only an abrupt end for the second signal.
void take_quit_signal()
{
    if (quit_signal && window_close_handler) {
        quit_signal = 0;
        host_quit_command();
    }
}

// Runs on the thread that pushes the event (the one that pumps, for what
// the window system sends), so it only counts.
int SDLCALL hear_close_requests(void*, SDL_Event* e)
{
    if (e->type == SDL_QUIT) {
        ++quits_heard;
    } else if (e->type == SDL_WINDOWEVENT && e->window.event == SDL_WINDOWEVENT_CLOSE &&
               is_main_window(e->window.windowID)) {
        ++closes_heard;
    }
    return 1;
}

// The requests heard since the last look, handled as their queued events
// are, each once. True when one of them ends the run.
bool take_heard_requests()
{
    bool heard = false;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    for (int n = quits_heard.exchange(0); n > 0; --n, heard = true) {
        ++quits_ahead;
        e.type = SDL_QUIT;
        main_window_events(e);
    }
    SDL_Window* w = host_sdl_window();
    for (int n = closes_heard.exchange(0); n > 0 && w; --n, heard = true) {
        ++closes_ahead;
        e.type = SDL_WINDOWEVENT;
        e.window.event = SDL_WINDOWEVENT_CLOSE;
        e.window.windowID = SDL_GetWindowID(w);
        main_window_events(e);
    }
    return heard && window_aborted;
}

// A queued quit or close whose request was already acted on.
bool taken_ahead(const SDL_Event& e)
{
    if (e.type == SDL_QUIT && quits_ahead > 0) {
        --quits_ahead;
        return true;
    }
    if (e.type == SDL_WINDOWEVENT && e.window.event == SDL_WINDOWEVENT_CLOSE && closes_ahead > 0 &&
        is_main_window(e.window.windowID)) {
        --closes_ahead;
        return true;
    }
    return false;
}

bool any_event_queued()
{
    // SDL's end-of-poll marker is no event of the program's.
    return SDL_HasEvents(SDL_FIRSTEVENT, SDL_POLLSENTINEL - 1) || SDL_HasEvents(SDL_POLLSENTINEL + 1, SDL_LASTEVENT);
}

// Takes queued events into the pass. Widgets see only whether a button is
// down now: a press and its release in one pass would never be seen.
// Likewise they see one key code and the keys held now: a second key in the
// pass would replace the first, a modifier's release would change what the
// first meant (Control-A typed as 'a'), and the text of the first would
// reach the control a Tab after it moved to. So taking ends after a change
// of the buttons, before the next key event once a key has posted its code
// or a character (the key's own text, right behind it, still comes),
// before the next text once a character was posted, or after the pass's
// share of a flood; the pass then does not wait, so the rest stays queued
// for the next pass, after an application step. Events come straight from
// the queue: SDL_PollEvent would leave its end-of-poll marker behind when
// taking stops early, ending the next pass there.
void take_queued_events(int& taken, bool& buttons_changed)
{
    SDL_Event e;
    while (!buttons_changed && taken < PASS_EVENT_LIMIT &&
           SDL_PeepEvents(&e, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
        const bool key = e.type == SDL_KEYDOWN || e.type == SDL_KEYUP;
        if ((key && (key_code_posted || key_char_posted)) || (e.type == SDL_TEXTINPUT && key_char_posted)) {
            return;
        }
        SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
        if (e.type == SDL_POLLSENTINEL || taken_ahead(e)) {
            continue;
        }
        ++taken;
        const INT_U32 buttons = MOUSE::buttons;
        main_window_events(e);
        buttons_changed = MOUSE::buttons != buttons;
    }
}

} // namespace

INT_U32 host_apply_char_rules(INT_U32 c, INT_U32 modifiers, bool control_letter)
{
    bool shift = (modifiers & MOD_SHIFT) != 0;
    if (modifiers & MOD_COMMAND) {
        // Only letters have a shifted form to recover; other characters
        // moved down by 32 became control codes.
        if (shift && c >= 'a' && c <= 'z') {
            c -= 32;
        }
    } else if (modifiers & MOD_OPTION) {
        // The key translation already gives the base character with Option;
        // moving it down by 64 or 43 corrupts '@', '[', '{', '|', '~'.
    } else if (modifiers & MOD_CONTROL) {
        // Only letters made into control codes go back to letters: keys
        // with a character of their own (Backspace, Return...) keep it.
        if (control_letter && c >= 1 && c <= 26) {
            c += shift ? 64 : 96;
        }
    }
    if (c == 13) {
        c = 10;
    }
    return c & 0xFF;
}

INT_S32 process_event(const HOST_EVENT& e)
{
    if (e.event_class == CLASS_COMMAND && e.kind == KIND_PROCESS_COMMAND) {
        if (e.command == COMMAND_PREFERENCES) {
            kivo_app_info[0] = 1;
        } else if (e.command == COMMAND_ABOUT) {
            kivo_app_info[1] = 1;
        } else if (e.command == COMMAND_QUIT) {
            // A handler that refuses keeps the program running.
            window_aborted = window_close_handler && window_close_handler(0) ? 1 : 0;
        } else {
            return EVENT_NOT_HANDLED;
        }
        return 0;
    }
    if (e.event_class == CLASS_COMMAND && e.kind == KIND_UPDATE_STATUS) {
        // There is no menu whose Quit item could be enabled or disabled.
        return (e.attributes & 1) && e.command == COMMAND_QUIT ? 0 : EVENT_NOT_HANDLED;
    }
    if (e.event_class == CLASS_MOUSE && e.kind == KIND_WHEEL_MOVED && e.wheel_axis == 1) {
        MOUSE::last_event_time = get_wall_seconds();
        MOUSE::wheel_pos += e.wheel_delta;
    }
    return 0;
}

void host_quit_command()
{
    process_event(HOST_EVENT{CLASS_COMMAND, KIND_PROCESS_COMMAND, COMMAND_QUIT, 0, 0, 0});
}

HOST_IDLE_WAIT host_set_idle_wait(HOST_IDLE_WAIT wait)
{
    HOST_IDLE_WAIT previous = idle_wait;
    idle_wait = wait ? wait : default_idle_wait;
    return previous;
}

void host_install_signal_handlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_quit_signal;
    sigemptyset(&sa.sa_mask);
    // One-shot: a run whose Quit is refused can still be stopped by a
    // second signal. No restart, so the idle sleep ends at once.
    sa.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

void host_listen_for_close_requests(bool on)
{
    // Removed first: SDL forgets its watches when its event loop stops,
    // and a watch added twice would count each request twice.
    SDL_DelEventWatch(hear_close_requests, nullptr);
    quits_heard = closes_heard = 0;
    quits_ahead = closes_ahead = 0;
    if (on) {
        SDL_AddEventWatch(hear_close_requests, nullptr);
    }
}

void host_reset_event_loop()
{
    quit_signal = 0;
    quits_heard = closes_heard = 0;
    quits_ahead = closes_ahead = 0;
    events_input_waiting = 0;
    last_pointer_x = last_pointer_y = 0;
    std::memset(reported_button, 0, sizeof reported_button);
}

void main_window_events(const SDL_Event& e)
{
    switch (e.type) {
    case SDL_MOUSEBUTTONDOWN: mouse_down(e.button); break;
    case SDL_MOUSEBUTTONUP: mouse_up(e.button); break;
    case SDL_KEYDOWN: key_down(e); break;
    case SDL_KEYUP: {
        log_event(CLASSIC_KEY_UP, "\t*** unknown ***\n");
        HOST_KEY k;
        // The held-key table only. A key's release ends the taking as its
        // code does: widgets that act on a release (Escape closing a list)
        // must see it in a step before the key typed after it.
        if (host_translate_key(e, &k) && k.mac_code >= 0 && !k.is_modifier) {
            key_code_posted = true;
        }
        break;
    }
    case SDL_TEXTINPUT: text_input(e); break;
    case SDL_MOUSEWHEEL: wheel(e.wheel); break;
    case SDL_WINDOWEVENT: window_event(e.window); break;
    case SDL_APP_WILLENTERBACKGROUND:
    case SDL_APP_DIDENTERBACKGROUND:
    case SDL_APP_WILLENTERFOREGROUND:
    case SDL_APP_DIDENTERFOREGROUND: os_event(); break;
    case SDL_QUIT:
        // The session asks the program to quit: an event from another
        // program, which becomes the Quit command.
        log_event(CLASSIC_HIGH_LEVEL, "\tkHighLevelEvent\n");
        host_quit_command();
        break;
    case SDL_DROPFILE:
    case SDL_DROPTEXT:
        // Nothing here opens dropped documents.
        SDL_free(e.drop.file);
        log_event(CLASSIC_HIGH_LEVEL, "\tkHighLevelEvent\n");
        break;
    case SDL_DROPBEGIN:
    case SDL_DROPCOMPLETE: log_event(CLASSIC_HIGH_LEVEL, "\tkHighLevelEvent\n"); break;
    default: log_event(0, "\t*** unknown ***\n"); break;
    }
}

void process_os_events()
{
    EVENT_CLIENT::send_queued_messages();

    SDL_PumpEvents();
    // A close request goes before every input queued ahead of it; when it
    // ends the run, that input is left where it is.
    if (take_heard_requests()) {
        events_input_waiting = 0;
        check_playing_sound_buffers();
        events_something_done = 0;
        return;
    }
    if (SDL_Window* w = host_sdl_window()) {
        int x = 0, y = 0;
        read_pointer(w, &x, &y);
        if (x != last_pointer_x || y != last_pointer_y) {
            last_pointer_x = x;
            last_pointer_y = y;
            MOUSE::x = static_cast<INT_S16>(x);
            MOUSE::y = static_cast<INT_S16>(y);
            MOUSE::last_event_time = get_wall_seconds();
        }
    }

    int taken = 0;
    bool buttons_changed = false;
    key_code_posted = key_char_posted = false;
    take_queued_events(taken, buttons_changed);
    take_quit_signal();
    // A posted code or character wants an application step now: the pass
    // does not wait.
    const bool cut_short = buttons_changed || key_code_posted || key_char_posted || taken == PASS_EVENT_LIMIT;
    events_input_waiting = cut_short && any_event_queued() ? 1 : 0;

    if (events_max_delay_ms && !events_something_done && !cut_short) {
        // The classic wait counted in ticks of 1/60 s: 50 ms is 3 ticks.
        INT_U64 ticks = static_cast<INT_U64>(events_max_delay_ms) * 60 / 1000;
        INT_U64 ms = ticks * 1000 / 60;
        SDL_Event e;
        const bool got = idle_wait(static_cast<INT_U32>(ms < 0x7FFFFFFF ? ms : 0x7FFFFFFF), &e);
        // A request heard while waiting goes before the event the wait brought.
        if (!take_heard_requests() && got && !taken_ahead(e)) {
            const INT_U32 buttons = MOUSE::buttons;
            main_window_events(e);
            // A key's text is queued right behind it and comes in its pass,
            // also that of a key without a code.
            if ((key_code_posted || key_char_posted || e.type == SDL_KEYDOWN) && MOUSE::buttons == buttons) {
                take_queued_events(taken, buttons_changed);
                events_input_waiting = any_event_queued() ? 1 : 0;
            }
        }
        take_quit_signal();
    }

    check_playing_sound_buffers();
    events_something_done = 0;
}
