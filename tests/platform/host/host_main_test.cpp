// The program entry with recording hooks, line input, the splash window
// and the last-input times, under SDL's dummy driver.
#include "event_loop.h"
#include "folder.h"
#include "host_internal.h"
#include "host_main.h"
#include "host_window.h"
#include "image.h"
#include "image_test_util.h"
#include "keyboard.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "kivo_logo.h"
#include "mouse.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <string>
#include <vector>

// The host library reads the application settings; this binary has one.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

std::vector<std::string> calls;
std::vector<INT_U32> waits;
int main_steps_left = 0;
std::string temp_made;

bool counting_wait(INT_U32 ms, SDL_Event*)
{
    waits.push_back(ms);
    return false;
}

void note(const std::string& what)
{
    calls.push_back(what);
}

void record_pm_destructor()
{
    note("pm_destructor");
}

void construct_recording(short argc, char** argv)
{
    std::string line = "construct fonts=" + std::to_string(IMAGE::is_font_system_setup() ? 1 : 0);
    for (short i = 0; i < argc; ++i) {
        line += std::string(" ") + argv[i];
    }
    note(line);
    host_set_idle_wait(counting_wait);
    set_max_idle_ms(50);
    pm_destructor = record_pm_destructor;
    FOLDER temp;
    ASSERT_TRUE(temp.get_system_folder(spt_temporary, nullptr, 1));
    temp_made = FOLDER::temp_path;
    ASSERT_TRUE(kivo_test::write_file(temp_made + "/scratch.txt", "x"));
}

void construct_with_window(short argc, char** argv)
{
    construct_recording(argc, argv);
    char title[] = "t";
    ASSERT_EQ(open_window(title, 32, 24, 0, 0), 1);
    waits.clear(); // open_window's own passes
}

bool main_step()
{
    note("main after " + std::to_string(waits.size()) + " waits");
    return main_steps_left-- > 0;
}

void destruct_recording()
{
    note(std::string("destruct window=") + (is_window_open(0) ? "1" : "0") +
         " fonts=" + (IMAGE::is_font_system_setup() ? "1" : "0"));
}

bool exists(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

class HostMain : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        calls.clear();
        waits.clear();
        temp_made.clear();
        pm_destructor = nullptr;
    }
    void TearDown() override
    {
        host_set_idle_wait(nullptr);
        set_max_idle_ms(50);
        pm_destructor = nullptr;
        window_close_handler = nullptr;
        window_aborted = 0;
        FOLDER::temp_path[0] = 0;
        // host_main's signal handlers stay; put the defaults back.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        SandboxTest::TearDown();
    }
};

} // namespace

TEST_F(HostMain, StartUpLoopAndShutDownInOrder)
{
    // No window: nothing draws, so every pass waits once.
    char a0[] = "prog", a1[] = "-psn_0_4711", a2[] = "file.txt";
    char* argv[] = {a0, a1, a2, nullptr};
    main_steps_left = 2;
    host_main(1, argv, {construct_recording, main_step, nullptr});
    EXPECT_EQ(calls, (std::vector<std::string>{"construct fonts=1 prog", "main after 0 waits", "main after 1 waits",
                                               "main after 2 waits", "pm_destructor"}));
    EXPECT_EQ(waits, (std::vector<INT_U32>{50, 50}));
    // A false first step runs no pass.
    calls.clear();
    waits.clear();
    main_steps_left = 0;
    host_main(1, argv, {construct_recording, main_step, nullptr});
    EXPECT_TRUE(waits.empty());
    EXPECT_EQ(calls.size(), 3u);

    calls.clear();
    main_steps_left = 2;
    EXPECT_EQ(host_main(3, argv, {construct_with_window, main_step, destruct_recording}), 0);
    // Passes with the window open may skip their wait (the first blit),
    // so only the order is checked here.
    ASSERT_EQ(calls.size(), 6u);
    EXPECT_EQ(calls[0], "construct fonts=1 prog file.txt");
    EXPECT_EQ(calls[1], "main after 0 waits");
    EXPECT_EQ(calls[3].rfind("main after ", 0), 0u);
    EXPECT_EQ(calls[4], "pm_destructor");
    EXPECT_EQ(calls[5], "destruct window=1 fonts=1");
    EXPECT_FALSE(is_window_open(0));
    EXPECT_FALSE(IMAGE::is_font_system_setup());
    EXPECT_EQ(window_aborted, 1);
    ASSERT_FALSE(temp_made.empty());
    EXPECT_FALSE(exists(temp_made));
    EXPECT_EQ(got_process_info, 1);
    EXPECT_EQ(std::string(application_fsspec).find('/'), 0u);
}

namespace {

struct FILTER_LOG
{
    std::vector<int> events;
    INT_U8 answer = 1;
};

INT_U8 logging_filter(INT_U8 event, char*, void* data)
{
    FILTER_LOG* log = static_cast<FILTER_LOG*>(data);
    log->events.push_back(event);
    return log->answer;
}

void type(const char* text)
{
    for (const char* p = text; *p; ++p) {
        KEYBOARD::process_char_event(static_cast<unsigned char>(*p));
    }
}

class Gets : public ::testing::Test
{
protected:
    void SetUp() override
    {
        KEYBOARD::set_buffer_sz(32);
        set_max_idle_ms(0);
    }
    void TearDown() override
    {
        KEYBOARD::set_buffer_sz(10);
        set_max_idle_ms(50);
    }
    // A 6-byte line with guard bytes on both sides.
    char guarded[10];
    char* line = guarded + 2;
    static constexpr INT_S32 size = 6;
    void expect_guards()
    {
        EXPECT_EQ(std::string(guarded, 2), "##");
        EXPECT_EQ(std::string(guarded + 8, 2), "##");
    }
};

} // namespace

TEST_F(Gets, EditsStayInsideTheBufferWhateverThePosition)
{
    struct Case
    {
        const char* before; // copied with its NUL when that fits the 6 bytes
        INT_S32 pos;
        const char* typed;
        const char* after;
        INT_S32 pos_after;
        int result;
    };
    const Case cases[] = {
        {"", 0, "abcdefgh", "abcde", 5, 4}, // the last byte stays the NUL
        {"ab", -7, "z", "z", 1, 4},         // stored with a NUL behind it
        {"ab", 1000, "z", "ab", 5, 4},      // kept to size - 1, where nothing fits
        {"abc", 3, "\b\b\b\b", "", 0, 4},   // Backspace at the start is ignored
        {"ab", 2, "\x01", "ab", 2, 4},      // below 32: ignored
        {"abcd", 1, "\n", "a", 2, 2},       // Enter cuts and moves past the cut
        {"xxxxxx", 5, "\n", "xxxxx", 5, 2}, // Enter on a last byte that was no NUL
    };
    for (const Case& c : cases) {
        std::memset(guarded, '#', sizeof guarded);
        std::memcpy(line, c.before, std::min<std::size_t>(std::strlen(c.before) + 1, size));
        INT_S32 pos = c.pos;
        type(c.typed);
        int result = 0;
        for (std::size_t k = 0; k < std::strlen(c.typed); ++k) {
            result = KEYBOARD::gets(0, pos, line, size, nullptr, nullptr);
        }
        EXPECT_EQ(std::string(line, strnlen(line, size)), c.after) << c.before << " at " << c.pos;
        EXPECT_EQ(pos, c.pos_after) << c.before << " at " << c.pos;
        EXPECT_EQ(result, c.result) << c.before << " at " << c.pos;
        expect_guards();
    }
    INT_S32 pos = 0;
    EXPECT_EQ(KEYBOARD::gets(0, pos, line, size, nullptr, nullptr), 3);
    type("a");
    EXPECT_EQ(KEYBOARD::gets(1, pos, nullptr, 8, nullptr, nullptr), 3);
    EXPECT_EQ(KEYBOARD::gets(1, pos, line, 0, nullptr, nullptr), 3);
}

TEST_F(Gets, WaitingAsksTheFilter)
{
    std::strcpy(line, "ab");
    INT_S32 pos = 2;
    FILTER_LOG log;
    type("c\b\x01X\n");
    // Asked after each change and at Enter, not for the ignored 0x01.
    EXPECT_EQ(KEYBOARD::gets(1, pos, line, size, logging_filter, &log), 2);
    EXPECT_STREQ(line, "abX");
    EXPECT_EQ(log.events, (std::vector<int>{1, 1, 1, 1}));
    // Nothing typed: asked after a pass; a refusal ends the input.
    log.events.clear();
    log.answer = 0;
    EXPECT_EQ(KEYBOARD::gets(1, pos, line, size, logging_filter, &log), 1);
    EXPECT_EQ(log.events, (std::vector<int>{0}));
}

TEST(Splash, WindowOfTheImageSizeShowingIt)
{
    IMAGE logo;
    get_kivo_logo_with_text(logo);
    ASSERT_EQ(logo.width, 195);
    ASSERT_EQ(logo.height, 80);
    set_max_idle_ms(0);
    open_splash_window(logo, 0);
    set_max_idle_ms(50);
    ASSERT_TRUE(is_window_open(0));
    SDL_Window* w = host_sdl_window();
    int ww = 0, wh = 0;
    SDL_GetWindowSize(w, &ww, &wh);
    EXPECT_EQ(ww, 195);
    EXPECT_EQ(wh, 80);
    EXPECT_STREQ(SDL_GetWindowTitle(w), "Please Wait");
    EXPECT_NE(SDL_GetWindowFlags(w) & SDL_WINDOW_BORDERLESS, 0u);
    EXPECT_TRUE(imgtest::same_picture(logo, back_buffer));
    EXPECT_EQ(back_buffer.dirty_x1, -1); // presented
    close_window(0);
}

TEST(LastInput, LaterOfKeyboardAndPointer)
{
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_wall(1000);
    KEYBOARD::process_key_event(5);
    KEYBOARD::get_code();
    kivo_fake_clock_set_wall(1009);
    MOUSE::process_mouse_button(1, 1);
    MOUSE::process_mouse_button(1, 0);
    EXPECT_EQ(get_last_keyboard_event(), 1000);
    EXPECT_EQ(get_last_input_event(), 1009);
    kivo_fake_clock_set_wall(1020);
    KEYBOARD::process_char_event('k');
    KEYBOARD::get_char();
    EXPECT_EQ(get_last_input_event(), 1020);
    kivo_fake_clock_enable(0);
}
