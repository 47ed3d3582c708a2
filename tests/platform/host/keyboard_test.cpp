#include "host_internal.h"
#include "key_layout.h"
#include "key_table.h"
#include "keyboard.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// The modifiers held through the events made here, which each event
// carries as SDL's do.
Uint16 modifiers_held = 0;

class KeyboardTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        kivo_fake_clock_enable(1);
        kivo_fake_clock_set_wall(5000);
        KEYBOARD::code = -1;
        KEYBOARD::set_buffer_sz(10);
        host_set_window_active(true);
        modifiers_held = 0;
    }
    void TearDown() override
    {
        host_set_window_active(false); // releases every key
        host_set_window_active(true);
        kivo_fake_clock_enable(0);
    }
};

// Translates one hand-made key event.
HOST_KEY key(Uint32 type, SDL_Scancode sc, SDL_Keycode sym = SDLK_UNKNOWN, Uint16 mod = 0)
{
    const Uint16 bit = sc == SDL_SCANCODE_LSHIFT   ? KMOD_LSHIFT
                       : sc == SDL_SCANCODE_RSHIFT ? KMOD_RSHIFT
                       : sc == SDL_SCANCODE_LCTRL  ? KMOD_LCTRL
                       : sc == SDL_SCANCODE_RCTRL  ? KMOD_RCTRL
                       : sc == SDL_SCANCODE_LALT   ? KMOD_LALT
                       : sc == SDL_SCANCODE_RALT   ? KMOD_RALT
                       : sc == SDL_SCANCODE_LGUI   ? KMOD_LGUI
                       : sc == SDL_SCANCODE_RGUI   ? KMOD_RGUI
                                                   : 0;
    modifiers_held = type == SDL_KEYDOWN ? modifiers_held | bit : modifiers_held & ~bit;
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = type;
    e.key.keysym = {sc, sym, static_cast<Uint16>(mod | modifiers_held), 0};
    HOST_KEY k{};
    EXPECT_TRUE(host_translate_key(e, &k));
    return k;
}

// What typing the UTF-8 text leaves in the keyboard buffer.
std::string typed(const char* utf8)
{
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_TEXTINPUT;
    std::strncpy(e.text.text, utf8, sizeof e.text.text - 1);
    INT_U32 out[32];
    for (int i = 0, n = host_translate_text(e, out, 32); i < n; ++i) {
        KEYBOARD::process_char_event(out[i]);
    }
    std::string s;
    while (INT_U8 c = KEYBOARD::get_char()) {
        s += static_cast<char>(c);
    }
    return s;
}

} // namespace

TEST_F(KeyboardTest, PendingCodeBufferAndCharacterMapping)
{
    KEYBOARD::process_key_event(36);
    EXPECT_EQ(KEYBOARD::get_code(), 36);
    EXPECT_EQ(KEYBOARD::get_code(), -1);
    EXPECT_EQ(last_keyboard_event, 5000);

    for (char c = '0'; c <= '9'; ++c) {
        KEYBOARD::process_char_event(static_cast<INT_U32>(c));
    }
    EXPECT_EQ(KEYBOARD::get_char(), '0');
    KEYBOARD::process_char_event('x'); // room again after one was read
    EXPECT_STREQ(KEYBOARD::buffer, "12345678x");
    KEYBOARD::set_buffer_sz(10); // the current size only empties it
    EXPECT_EQ(KEYBOARD::get_char(), 0);

    const INT_U32 cases[][2] = {{0x8E, 0xE9}, {0xDB, 0xA4},       {0xD2, 0x93},      {300, '?'},
                                {'A', 'A'},   {0xFFFFFF8E, 0xE9}, {0xFFFFFF7F, '?'}, {0x10000, '?'}};
    for (const auto& c : cases) {
        KEYBOARD::process_char_event(c[0]);
        EXPECT_EQ(KEYBOARD::last_ascii, c[1]) << c[0];
        EXPECT_EQ(KEYBOARD::get_char(), c[1]) << c[0];
    }
}

TEST_F(KeyboardTest, LastViewFreesTheBuffer)
{
    INT_S16 saved = KEYBOARD::instance_count;
    KEYBOARD::set_buffer_sz(0);
    KEYBOARD::instance_count = 0; // as if the global view had gone
    {
        KEYBOARD first;
        {
            KEYBOARD second(first);
        }
        EXPECT_EQ(KEYBOARD::buffer_sz, 10);
    }
    EXPECT_EQ(KEYBOARD::buffer, nullptr);
    EXPECT_EQ(KEYBOARD::buffer_sz, 0);
    KEYBOARD::instance_count = saved;
}

TEST_F(KeyboardTest, ScancodesGiveMacCodesAndFixedCharacters)
{
    const struct
    {
        SDL_Scancode sc;
        int mac;
        INT_U32 ch;
    } cases[] = {
        {SDL_SCANCODE_RETURN, 36, 13}, {SDL_SCANCODE_DELETE, 117, 127},   {SDL_SCANCODE_UP, 126, 30},
        {SDL_SCANCODE_F1, 122, 16},    {SDL_SCANCODE_KP_ENTER, 76, 3},    {SDL_SCANCODE_A, 0, 0},
        {SDL_SCANCODE_KP_9, 92, 0},    {SDL_SCANCODE_APPLICATION, -1, 0},
    };
    for (const auto& c : cases) {
        HOST_KEY k = key(SDL_KEYDOWN, c.sc);
        EXPECT_EQ(k.mac_code, c.mac) << c.sc;
        EXPECT_EQ(k.character, c.ch) << c.sc;
        EXPECT_FALSE(k.is_modifier);
        EXPECT_EQ(host_scancode_from_mac_code(c.mac), c.mac < 0 ? SDL_SCANCODE_UNKNOWN : c.sc);
        key(SDL_KEYUP, c.sc);
    }
    // Two keys share 42; the inverse gives the main one.
    EXPECT_EQ(key(SDL_KEYDOWN, SDL_SCANCODE_NONUSHASH).mac_code, 42);
    EXPECT_EQ(host_scancode_from_mac_code(42), SDL_SCANCODE_BACKSLASH);
    EXPECT_EQ(key(SDL_KEYDOWN, static_cast<SDL_Scancode>(600)).mac_code, -1);
}

TEST_F(KeyboardTest, ModifierKeysAndHeldKeys)
{
    const struct
    {
        SDL_Scancode sc;
        int mac;
        INT_U32 bit, answers_for;
    } cases[] = {{SDL_SCANCODE_LGUI, 55, 0x100, 55},   {SDL_SCANCODE_RGUI, 54, 0x100, 55},
                 {SDL_SCANCODE_LSHIFT, 56, 0x200, 56}, {SDL_SCANCODE_RSHIFT, 60, 0x200, 56},
                 {SDL_SCANCODE_LALT, 58, 0x800, 58},   {SDL_SCANCODE_RALT, 61, 0x800, 58},
                 {SDL_SCANCODE_LCTRL, 59, 0x1000, 59}, {SDL_SCANCODE_RCTRL, 62, 0x1000, 59}};
    for (const auto& c : cases) {
        HOST_KEY k = key(SDL_KEYDOWN, c.sc);
        EXPECT_TRUE(k.is_modifier);
        EXPECT_EQ(k.mac_code, c.mac);
        EXPECT_EQ(k.modifiers, c.bit) << c.sc;
        EXPECT_EQ(KEYBOARD::get_key_value(c.answers_for), 1) << c.sc;
        EXPECT_EQ(key(SDL_KEYUP, c.sc).modifiers, 0u);
        EXPECT_EQ(KEYBOARD::get_key_value(c.answers_for), 0);
    }
    // Caps Lock is a lock: its bit follows SDL's lock state.
    EXPECT_EQ(key(SDL_KEYDOWN, SDL_SCANCODE_CAPSLOCK, SDLK_CAPSLOCK, KMOD_CAPS).modifiers, 0x400u);
    EXPECT_EQ(key(SDL_KEYUP, SDL_SCANCODE_CAPSLOCK).modifiers, 0u);

    KEYBOARD::set_key_held(55, true); // a left-hand code never answers for the right
    KEYBOARD::set_key_held(5, true);
    KEYBOARD::set_key_held(127, true);
    EXPECT_EQ(KEYBOARD::get_key_value(54), 0);
    EXPECT_EQ(KEYBOARD::get_key_value(127), 1);
    EXPECT_EQ(KEYBOARD::get_key_value(261), 0); // 261 AND 127 is 5, yet out of range
    EXPECT_EQ(KEYBOARD::get_key_value(0xFFFFFFFFu), 0);
    host_set_window_active(false);
    EXPECT_EQ(KEYBOARD::get_key_value(5), 0);
    EXPECT_EQ(host_modifiers(), 0u);
    // Keys released while away never report: they are forgotten.
    host_set_window_active(true);
    EXPECT_EQ(KEYBOARD::get_key_value(5), 0);
}

TEST_F(KeyboardTest, ModifiedKeysMakeCharactersAndSwallowTheirText)
{
    const SDL_Scancode none = SDL_SCANCODE_UNKNOWN;
    const struct
    {
        SDL_Scancode held1, held2, sc;
        SDL_Keycode sym;
        INT_U32 ch;
        bool control_letter;
    } cases[] = {
        {none, none, SDL_SCANCODE_A, 'a', 0, false},
        {SDL_SCANCODE_LCTRL, none, SDL_SCANCODE_A, 'a', 1, true},
        {SDL_SCANCODE_RCTRL, none, SDL_SCANCODE_Z, 'z', 26, true},
        {SDL_SCANCODE_LCTRL, none, SDL_SCANCODE_BACKSPACE, SDLK_BACKSPACE, 8, false},
        {SDL_SCANCODE_LCTRL, none, SDL_SCANCODE_1, '1', 0, false},
        {SDL_SCANCODE_LGUI, SDL_SCANCODE_LSHIFT, SDL_SCANCODE_A, 'a', 'a', false},
        {SDL_SCANCODE_RGUI, SDL_SCANCODE_LCTRL, SDL_SCANCODE_1, '1', '1', false},
        {SDL_SCANCODE_LALT, none, SDL_SCANCODE_A, 'a', 'a', false},
        {SDL_SCANCODE_LALT, SDL_SCANCODE_RSHIFT, SDL_SCANCODE_A, 'a', 'A', false},
        {SDL_SCANCODE_LALT, none, SDL_SCANCODE_SEMICOLON, 0xE9, 0x8E, false}, // a layout's e acute
        {SDL_SCANCODE_LGUI, none, SDL_SCANCODE_A, 0x444, 0, false},           // no Mac Roman byte
        {SDL_SCANCODE_RALT, none, SDL_SCANCODE_Q, 'q', 0, false},             // AltGr composes text
    };
    for (const auto& c : cases) {
        key(SDL_KEYDOWN, c.held1);
        key(SDL_KEYDOWN, c.held2);
        HOST_KEY k = key(SDL_KEYDOWN, c.sc, c.sym);
        EXPECT_EQ(k.character, c.ch) << c.sc << " " << c.sym;
        EXPECT_EQ(k.control_letter, c.control_letter) << c.sc;
        // The key's text is typed only when the key made no printable
        // character: a control code comes with no text, so what follows
        // is another's. Once its text has been dropped, more is taken.
        const bool printable = c.ch >= 32 && c.ch != 127;
        EXPECT_EQ(typed("q"), printable ? "" : "q") << c.sc;
        key(SDL_KEYUP, c.sc);
        EXPECT_EQ(typed("r"), "r");
        key(SDL_KEYUP, c.held1);
        key(SDL_KEYUP, c.held2);
    }
    key(SDL_KEYDOWN, SDL_SCANCODE_B, 'b');
    EXPECT_EQ(typed("b"), "b");
}

// Only the text of a key that made a printable character is dropped: one
// text for each such key, even past its release and the next keys. Text with no
// key of its own (an input method, an on-screen keyboard, a key SDL does not
// know) is typed whatever key went before.
TEST_F(KeyboardTest, OnlyTheTextOfTheKeyThatMadeItsCharacterIsDropped)
{
    // A key down ('+') or up ('-') with its keycode, or text ('t').
    struct STEP
    {
        char what;
        SDL_Scancode sc;
        SDL_Keycode sym;
        const char* text;
    };
    auto down = [](SDL_Scancode sc, SDL_Keycode sym = SDLK_UNKNOWN) { return STEP{'+', sc, sym, nullptr}; };
    auto up = [](SDL_Scancode sc) { return STEP{'-', sc, SDLK_UNKNOWN, nullptr}; };
    auto text = [](const char* utf8) { return STEP{'t', SDL_SCANCODE_UNKNOWN, SDLK_UNKNOWN, utf8}; };
    const STEP option = down(SDL_SCANCODE_LALT), option_a = down(SDL_SCANCODE_A, 'a');
    const struct
    {
        const char* what;
        std::vector<STEP> steps;
        std::string want; // the characters of the keys and the text, in order
    } cases[] = {
        {"a key's own text", {option, option_a, text("a"), up(SDL_SCANCODE_A)}, "a"},
        {"its text differs from its character",
         {option, down(SDL_SCANCODE_SEMICOLON, 0xE9), text("e\xCC\x81")},
         "\xE9"},
        {"each repeat's own text", {option, option_a, text("a"), option_a, text("a")}, "aa"},
        {"an input method's text after the key's own", {option, option_a, text("a"), text("\xC3\xBC")}, "a\xFC"},
        {"its own text after its release", {option, option_a, up(SDL_SCANCODE_A), text("a")}, "a"},
        {"text after its own past its release",
         {option, option_a, up(SDL_SCANCODE_A), text("a"), text("\xC3\xBC")},
         "a\xFC"},
        {"text after Backspace",
         {down(SDL_SCANCODE_BACKSPACE), up(SDL_SCANCODE_BACKSPACE), text("\xC3\xA4\xC3\xB6")},
         "\b\xE4\xF6"},
        {"text after Return, Tab, an arrow and a Control letter",
         {down(SDL_SCANCODE_RETURN), up(SDL_SCANCODE_RETURN), down(SDL_SCANCODE_TAB), up(SDL_SCANCODE_TAB),
          down(SDL_SCANCODE_LEFT), up(SDL_SCANCODE_LEFT), down(SDL_SCANCODE_LCTRL), down(SDL_SCANCODE_A, 'a'),
          up(SDL_SCANCODE_A), up(SDL_SCANCODE_LCTRL), text("x")},
         "\r\t\x1C\x01x"},
        {"text while Backspace, Escape, Delete or a Control letter is down",
         {down(SDL_SCANCODE_BACKSPACE), text("\xC3\xA4"), down(SDL_SCANCODE_ESCAPE), text("\xC3\xB6"),
          down(SDL_SCANCODE_DELETE), text("x"), down(SDL_SCANCODE_LCTRL), down(SDL_SCANCODE_A, 'a'), text("y")},
         "\b\xE4\x1B\xF6\x7Fx\x01y"},
        // Keys in flight: each awaits its own text, the oldest first.
        {"the key's own text after a modifier", {option, option_a, down(SDL_SCANCODE_RSHIFT), text("a")}, "a"},
        {"two keys down and up, then both texts",
         {option, option_a, up(SDL_SCANCODE_A), down(SDL_SCANCODE_B, 'b'), up(SDL_SCANCODE_B), text("a"), text("b")},
         "ab"},
        {"two keys down, then both texts and one more",
         {option, option_a, down(SDL_SCANCODE_B, 'b'), text("a"), text("b"), text("\xC3\xBC")},
         "ab\xFC"},
        {"Return between a key and its text",
         {option, option_a, up(SDL_SCANCODE_A), down(SDL_SCANCODE_RETURN), up(SDL_SCANCODE_RETURN), text("a")},
         "a\r"},
    };
    for (const auto& c : cases) {
        std::string got;
        for (const STEP& s : c.steps) {
            if (s.what == 't') {
                got += typed(s.text);
            } else if (INT_U32 ch = key(s.what == '+' ? SDL_KEYDOWN : SDL_KEYUP, s.sc, s.sym).character) {
                KEYBOARD::process_char_event(ch);
                got += static_cast<char>(KEYBOARD::get_char());
            }
        }
        EXPECT_EQ(got, c.want) << c.what;
        host_set_window_active(false); // every key released
        host_set_window_active(true);
        modifiers_held = 0;
    }
}

TEST_F(KeyboardTest, TextArrivesAsTheSystemsCharacters)
{
    EXPECT_EQ(typed("Az"), "Az");
    EXPECT_EQ(typed("\xC3\xA9\xC2\xA4"), "\xE9\xA4");       // through Mac Roman 0x8E and 0xDB
    EXPECT_EQ(typed("\xC2\xA6\xC2\xBC"), "??");             // no Mac Roman byte gives these
    EXPECT_EQ(typed("\xE2\x82\xAC\xF0\x9F\x98\x80"), "??"); // above 0xFF
    EXPECT_EQ(typed("\xC0\xAF"
                    "\xC3"),
              "???"); // overlong, then cut short

    SDL_Event e;
    std::memset(&e, 'x', sizeof e);
    e.type = SDL_TEXTINPUT; // no terminating NUL in the event's text
    INT_U32 out[64];
    EXPECT_EQ(host_translate_text(e, out, 64), static_cast<int>(sizeof e.text.text));
    EXPECT_EQ(host_translate_text(e, out, 3), 3);
    e.type = SDL_KEYDOWN;
    EXPECT_EQ(host_translate_text(e, out, 64), 0);
}

TEST_F(KeyboardTest, UnmapCharInvertsTheMapping)
{
    int unmapped = 0;
    for (INT_U32 c = 0; c < 256; ++c) {
        INT_U32 b = KEYBOARD::unmap_char(c);
        if (b < 256) {
            EXPECT_EQ(KEYBOARD::ascii_mapping[b], c);
            for (INT_U32 lower = 0; lower < b; ++lower) {
                EXPECT_NE(KEYBOARD::ascii_mapping[lower], c) << "lowest byte wins";
            }
        }
        unmapped += b >= 256;
        KEYBOARD::process_char_event(b);
        EXPECT_EQ(KEYBOARD::last_ascii, b < 256 ? c : '?');
    }
    EXPECT_EQ(unmapped, 30);
    EXPECT_GE(KEYBOARD::unmap_char(0x263A), 256u);
}

TEST_F(KeyboardTest, KeyCharactersComeFromTheLayout)
{
    ASSERT_TRUE(host_start_video());
    const struct
    {
        INT_U32 key;
        INT_U8 shift;
        const char* desc;
    } cases[] = {{0, 0, "a"},  {0, 1, "A"},   {128, 0, "a"}, {18, 1, "!"},
                 {42, 1, "|"}, {36, 1, "\r"}, {49, 0, " "},  {56, 0, ""}};
    for (const auto& c : cases) {
        EXPECT_STREQ(KEYBOARD::get_key_desc(c.key, c.shift), c.desc) << c.key;
    }
}

namespace {

// The layout the injected source reports; an empty layout reads as none.
HOST_LAYOUT_NAMES injected;
bool injected_layout(HOST_LAYOUT_NAMES* out)
{
    *out = injected;
    return !injected.layout.empty();
}

// Each key's character in the given layout, unshifted then shifted, as
// bytes; a character above 0xFF shows as '?'.
std::string characters(const char* layout, unsigned group, const char* variant = "")
{
    injected = HOST_LAYOUT_NAMES{"evdev", "pc105", layout, variant, "", group};
    std::string out;
    for (INT_U32 key : {0u, 6u, 16u, 19u, 20u, 27u, 24u, 41u, 42u, 50u, 10u, 49u, 36u}) {
        out += static_cast<char>(KEYBOARD::get_key_ascii(key, 0));
        out += static_cast<char>(KEYBOARD::get_key_ascii(key, 1));
    }
    return out;
}

} // namespace

TEST_F(KeyboardTest, ShiftedCharactersComeFromTheActiveLayout)
{
    host_set_layout_source(injected_layout);
    // A, Z, Y, 2, 3, -, =, ;, backslash, `, the key beside left Shift,
    // space and Return, each unshifted and shifted.
    const std::string us = "aAzZyY2@3#-_=+;:\\|`~<>  \r\r";
    // Without a layout, SDL's keys shifted as on a US keyboard, which has no
    // key beside the left Shift.
    std::string us_table = us;
    us_table.replace(20, 2, std::string(2, '\0'));
    const std::string de = "aAyYzZ2\"3\xA7\xDF?\xB4`\xF6\xD6#'^\xB0<>  \r\r"; // dead keys give their accent
    const struct
    {
        const char* layout;
        unsigned group;
        const char* variant;
        std::string want;
    } cases[] = {
        {"us", 0, "", us},
        {"de", 0, "", de},
        {"de", 0, "nodeadkeys", "aAyYzZ2\"3\xA7\xDF?\xB4`\xF6\xD6#'^\xB0<>  \r\r"},
        {"us,de", 1, "", de}, // the second of two layouts is the active one
        {"us,de", 0, "", us},
        {"fr", 0, "",
         "qQwWyY\xE9"
         "2\"3)\xB0=+mM*\xB5\xB2~<>  \r\r"},
        {"xx-no-such", 0, "", us_table}, // not in the keyboard data
        // A name that is a path is no layout, even where the path would
        // lead to one.
        {"../symbols/de", 0, "", us_table},
        {"de", 0, "../de", us_table},
        {"de.", 0, "", us_table},
        {"", 0, "", us_table}, // no layout to read
    };
    for (const auto& c : cases) {
        EXPECT_EQ(characters(c.layout, c.group, c.variant), c.want) << c.layout << " group " << c.group;
    }
    // A character above 0xFF has no byte of its own.
    injected = HOST_LAYOUT_NAMES{"evdev", "pc105", "ru", "", "", 0};
    EXPECT_STREQ(KEYBOARD::get_key_desc(0, 0), "?");
    host_set_layout_source(nullptr);
}
