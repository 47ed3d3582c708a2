// The shared keyboard state, the host's own table of held keys, and the
// translation of SDL key and text events into Mac key codes, modifier bits
// and characters.
#include "keyboard.h"

#include "host_internal.h"
#include "key_layout.h"
#include "key_table.h"
#include "kivo_host.h"

#include <climits>
#include <cstring>
#include <new>

INT_S32 KEYBOARD::code = -1;
char* KEYBOARD::buffer = nullptr;
INT_S32 KEYBOARD::buffer_sz = 0;
INT_S32 KEYBOARD::buffer_index = -1;
INT_U8 KEYBOARD::last_ascii = 0;
INT_S16 KEYBOARD::instance_count = 0;

const INT_U8 KEYBOARD::ascii_mapping[256] = {
    0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, 0x11, 0x12,
    0x13, 0x14, 0x15, 0x16, 0x17, 0x18, 0x19, 0x1A, 0x1B, 0x1C, 0x1D, 0x1E, 0x1F, 0x20, 0x21, 0x22, 0x23, 0x24, 0x25,
    0x26, 0x27, 0x28, 0x29, 0x2A, 0x2B, 0x2C, 0x2D, 0x2E, 0x2F, 0x30, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38,
    0x39, 0x3A, 0x3B, 0x3C, 0x3D, 0x3E, 0x3F, 0x40, 0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A, 0x4B,
    0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x51, 0x52, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E,
    0x5F, 0x60, 0x61, 0x62, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6A, 0x6B, 0x6C, 0x6D, 0x6E, 0x6F, 0x70, 0x71,
    0x72, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7A, 0x7B, 0x7C, 0x7D, 0x7E, 0x7F, 0xC4, 0xC5, 0xC7, 0xC9, 0xD1,
    0xD6, 0xDC, 0xE1, 0xE0, 0xE2, 0xE4, 0xE3, 0xE5, 0xE7, 0xE9, 0xE8, 0xEA, 0xEB, 0xED, 0xEC, 0xEE, 0xEF, 0xF1, 0xF3,
    0xF2, 0xF4, 0xF6, 0xF5, 0xFA, 0xF9, 0xFB, 0xFC, 0xA0, 0xB0, 0xA2, 0xA3, 0xA7, 0xA5, 0xB6, 0xDF, 0xAE, 0xA9, 0x99,
    0x91, 0xA8, 0xAD, 0xC6, 0xD8, 0xB0, 0xB1, 0xB2, 0xB3, 0xA5, 0xB5, 0xB6, 0xB7, 0xB8, 0xB9, 0xBA, 0xAA, 0xBA, 0xBD,
    0xE6, 0xF8, 0xBF, 0xA1, 0xAC, 0xC3, 0xC4, 0xC5, 0xC6, 0xAB, 0xBB, 0x85, 0xA0, 0xC0, 0xC3, 0xD5, 0xCE, 0xCF, 0xD0,
    0xD1, 0x93, 0x94, 0x91, 0x92, 0xF7, 0xD7, 0xFF, 0xD9, 0xDA, 0xA4, 0xDC, 0xDD, 0xDE, 0xDF, 0xE0, 0xB7, 0xE2, 0xE3,
    0xE4, 0xC2, 0xCA, 0xC1, 0xCB, 0xC8, 0xCD, 0xCE, 0xCF, 0xCC, 0xD3, 0xD4, 0xF0, 0xD2, 0xDA, 0xDB, 0xD9, 0xF5, 0xF6,
    0xF7, 0xAF, 0xF9, 0xFA, 0xFB, 0xB8, 0xFD, 0xFE, 0xFF,
};

INT_S64 last_keyboard_event = 0;

KEYBOARD keyboard;

namespace {

constexpr INT_U32 kCommand = 0x100, kShift = 0x200, kCapsLock = 0x400, kOption = 0x800, kControl = 0x1000;

// The host's own key map: SDL's keyboard state misses injected events.
bool held_keys[128];
bool caps_locked = false;
bool window_active = true;
// A character a key made itself must not be typed a second time by the
// text of the same key press. That text comes after the key-down, though
// not always right behind it: an input method may hand it back after the
// key's release, a change of focus, other events or the next keys. So
// each such key awaits one text, and texts are dropped while keys await
// theirs, the oldest key's first. It goes by place, not by content:
// composed text may differ from the character. Only a key the window
// system sends a text for awaits one, since nothing would ever end a wait
// for a text that never comes, and each later text would be dropped in its
// place: a key whose character is a control code (Return, Backspace,
// arrows, Control letters), a chord that Control makes a control code of
// in the window system's lookup (Control-Alt-K), and a dead key send none.
int key_texts_awaited = 0;

bool is_control_code(INT_U32 c)
{
    return c < 32 || c == 127;
}

bool is_held(int mac_code)
{
    return held_keys[mac_code];
}

// A modifier counts for a key only when it was held for that key press:
// the key event's own modifier state. Keys queued behind a busy program
// can come without the release of a modifier before them (the window
// system's reading takes it for a repeat), and the held keys would then
// say Shift for a Tab typed after a capital.
void take_event_modifiers(Uint16 mod)
{
    const struct
    {
        Uint16 left_bit, right_bit;
        int left, right;
    } pairs[] = {{KMOD_LGUI, KMOD_RGUI, 55, 54},
                 {KMOD_LSHIFT, KMOD_RSHIFT, 56, 60},
                 {KMOD_LALT, KMOD_RALT, 58, 61},
                 {KMOD_LCTRL, KMOD_RCTRL, 59, 62}};
    for (const auto& p : pairs) {
        held_keys[p.left] = (mod & p.left_bit) != 0;
        held_keys[p.right] = (mod & p.right_bit) != 0;
    }
}

// The character of an SDL keycode when it stands for one (letters, digits
// and symbols are their own code points), else 0.
INT_U32 keycode_character(SDL_Keycode sym)
{
    if (sym < 32 || sym == 127 || (sym & SDLK_SCANCODE_MASK) != 0 || sym > 0x10FFFF) {
        return 0;
    }
    return static_cast<INT_U32>(sym);
}

INT_U32 upper_ascii(INT_U32 c)
{
    return c >= 'a' && c <= 'z' ? c - 32 : c;
}

// What a shifted key gives on a US layout, for when no layout can be read.
INT_U32 us_shift(INT_U32 c)
{
    static const char plain[] = "`1234567890-=[]\\;',./";
    static const char shifted[] = "~!@#$%^&*()_+{}|:\"<>?";
    if (c >= 'a' && c <= 'z') {
        return c - 32;
    }
    for (int i = 0; plain[i]; ++i) {
        if (static_cast<INT_U32>(plain[i]) == c) {
            return static_cast<unsigned char>(shifted[i]);
        }
    }
    return c;
}

// What Control makes of a Latin-1 character in the X server's lookup of a
// key's text.
INT_U32 with_control(INT_U32 c)
{
    if ((c >= '@' && c < 127) || c == ' ') {
        return c & 0x1F;
    }
    if (c == '2') {
        return 0;
    }
    if (c >= '3' && c <= '7') {
        return c - ('3' - 0x1B);
    }
    if (c == '8') {
        return 127;
    }
    return c == '/' ? '_' & 0x1F : c;
}

// Whether the window system sends a text for a key that made a printable
// character: its text is the character of the key as Shift has it, which
// Control may turn into a control code, and a control code goes as no
// text. A dead key sends none; its accent comes with the next key's text.
bool key_sends_text(const SDL_Keysym& key)
{
    const bool shift = is_held(56) || is_held(60);
    INT_U32 c = 0;
    bool dead = false;
    const bool known = host_layout_character(key.scancode, shift, &c, &dead) && c != 0;
    if (dead) {
        return false;
    }
    if (!is_held(59) && !is_held(62)) {
        return true;
    }
    if (!known) {
        c = keycode_character(key.sym);
        c = shift ? us_shift(c) : c;
    }
    return !is_control_code(with_control(c));
}

// The key's character before the run loop's rules; control_letter is set
// when it was made from a letter with Control.
INT_U32 key_character(int mac_code, SDL_Keycode sym, bool* control_letter)
{
    *control_letter = false;
    INT_U32 fixed = host_fixed_character(mac_code);
    if (fixed != 0) {
        return fixed;
    }
    INT_U32 base = keycode_character(sym);
    if (base == 0) {
        return 0;
    }
    bool command = is_held(54) || is_held(55);
    // Only the left Alt is Option here: the right one is AltGr on many
    // layouts, and what it composes arrives as text.
    bool option = is_held(58);
    if (command || option) {
        // Command gives the unshifted character, Option the base one,
        // upper-cased with Shift.
        if (!command && (is_held(56) || is_held(60))) {
            base = upper_ascii(base);
        }
        // The run loop keeps key characters to 8 bits: one without a Mac
        // Roman byte is left to the text event, which types it as '?'.
        INT_U32 mac = KEYBOARD::unmap_char(base);
        return mac < 256 ? mac : 0;
    }
    if ((is_held(59) || is_held(62)) && base >= 'a' && base <= 'z') {
        *control_letter = true;
        return base & 0x1F;
    }
    return 0;
}

} // namespace

KEYBOARD::KEYBOARD()
{
    if (!buffer) {
        set_buffer_sz(10);
    }
    ++instance_count;
}

KEYBOARD::KEYBOARD(const KEYBOARD&) : KEYBOARD() {}

KEYBOARD::~KEYBOARD()
{
    if (instance_count > 0) {
        --instance_count;
    }
    if (instance_count == 0) {
        set_buffer_sz(0);
    }
}

void KEYBOARD::process_key_event(INT_U32 key)
{
    last_keyboard_event = get_wall_seconds();
    code = static_cast<INT_S32>(key);
}

INT_S32 KEYBOARD::get_code()
{
    INT_S32 c = code;
    code = -1;
    return c;
}

void KEYBOARD::process_char_event(INT_U32 character)
{
    last_keyboard_event = get_wall_seconds();
    INT_U8 c = '?';
    if (character < 256 || character >= 0xFFFFFF80u) {
        c = ascii_mapping[character & 0xFF];
    }
    last_ascii = c;
    if (c != 0 && buffer && buffer_index + 1 < buffer_sz - 1) {
        buffer[++buffer_index] = static_cast<char>(c);
        buffer[buffer_index + 1] = 0;
    }
}

INT_U8 KEYBOARD::get_char()
{
    if (!buffer || buffer_index < 0) {
        return 0;
    }
    INT_U8 c = static_cast<INT_U8>(buffer[0]);
    std::memmove(buffer, buffer + 1, static_cast<size_t>(buffer_index));
    buffer[buffer_index--] = 0;
    return c;
}

void KEYBOARD::set_buffer_sz(long size)
{
    if (size < 0) {
        return;
    }
    buffer_index = -1;
    if (size == buffer_sz) {
        if (buffer) {
            buffer[0] = 0;
        }
        return;
    }
    delete[] buffer;
    buffer = nullptr;
    buffer_sz = 0;
    if (size == 0 || size > INT_MAX) {
        return;
    }
    buffer = new (std::nothrow) char[static_cast<size_t>(size)]();
    if (buffer) {
        buffer_sz = static_cast<INT_S32>(size);
    }
}

INT_U8 KEYBOARD::get_key_value(INT_U32 key)
{
    if (!window_active || (key >> 3) >= 16) {
        return 0;
    }
    int k = static_cast<int>(key);
    // The right-hand twin of each left-hand modifier.
    static const int twins[][2] = {{55, 54}, {56, 60}, {58, 61}, {59, 62}};
    for (const auto& t : twins) {
        if (k == t[0] && is_held(t[1])) {
            return 1;
        }
    }
    return is_held(k) ? 1 : 0;
}

void KEYBOARD::set_key_held(INT_U32 key, bool held)
{
    if (key < 128) {
        held_keys[key] = held;
    }
}

void KEYBOARD::release_all_keys()
{
    for (bool& k : held_keys) {
        k = false;
    }
}

signed char KEYBOARD::get_key_ascii(INT_U32 key, INT_U8 shift)
{
    int mac_code = static_cast<int>(key & 127);
    INT_U32 c = host_fixed_character(mac_code);
    if (c == 0) {
        int scancode = host_scancode_from_mac_code(mac_code);
        if (scancode == SDL_SCANCODE_UNKNOWN) {
            return 0;
        }
        if (!host_layout_character(scancode, shift != 0, &c)) {
            // No layout could be read: SDL's key, shifted as on a US layout.
            if (!host_start_video()) {
                return 0;
            }
            c = keycode_character(SDL_GetKeyFromScancode(static_cast<SDL_Scancode>(scancode)));
            if (shift) {
                c = us_shift(c);
            }
        }
    }
    return c < 256 ? static_cast<signed char>(c) : '?';
}

const char* KEYBOARD::get_key_desc(INT_U32 key, INT_U8 shift)
{
    static char text[2];
    text[0] = static_cast<char>(get_key_ascii(key, shift));
    text[1] = 0;
    return text;
}

INT_U32 KEYBOARD::unmap_char(INT_U32 c)
{
    if (c < 256) {
        for (int b = 0; b < 256; ++b) {
            if (ascii_mapping[b] == c) {
                return static_cast<INT_U32>(b);
            }
        }
        return c + 256;
    }
    return c;
}

INT_U32 host_modifiers()
{
    INT_U32 bits = caps_locked ? kCapsLock : 0;
    if (is_held(54) || is_held(55)) {
        bits |= kCommand;
    }
    if (is_held(56) || is_held(60)) {
        bits |= kShift;
    }
    if (is_held(58) || is_held(61)) {
        bits |= kOption;
    }
    if (is_held(59) || is_held(62)) {
        bits |= kControl;
    }
    return bits;
}

bool host_translate_key(const SDL_Event& e, HOST_KEY* out)
{
    if ((e.type != SDL_KEYDOWN && e.type != SDL_KEYUP) || !out) {
        return false;
    }
    bool down = e.type == SDL_KEYDOWN;
    int mac_code = host_mac_code_from_scancode(e.key.keysym.scancode);
    if (mac_code >= 0) {
        KEYBOARD::set_key_held(static_cast<INT_U32>(mac_code), down);
    }
    caps_locked = (e.key.keysym.mod & KMOD_CAPS) != 0;
    out->mac_code = mac_code;
    out->is_modifier = host_is_modifier_code(mac_code);
    if (down && !out->is_modifier) {
        take_event_modifiers(e.key.keysym.mod);
    }
    out->control_letter = false;
    out->character = 0;
    if (down && !out->is_modifier) {
        out->character = key_character(mac_code, e.key.keysym.sym, &out->control_letter);
    }
    out->modifiers = host_modifiers();
    if (down && out->character != 0 && !is_control_code(out->character) && key_sends_text(e.key.keysym) &&
        key_texts_awaited < INT_MAX) {
        ++key_texts_awaited;
    }
    return true;
}

int host_translate_text(const SDL_Event& e, INT_U32* out, int max)
{
    if (e.type != SDL_TEXTINPUT || !out || max <= 0) {
        return 0;
    }
    if (key_texts_awaited > 0) {
        --key_texts_awaited;
        return 0;
    }
    // A hand-made event need not end its text with a NUL.
    char text[sizeof(e.text.text) + 1];
    std::memcpy(text, e.text.text, sizeof(e.text.text));
    text[sizeof(e.text.text)] = 0;
    const char* p = text;
    int n = 0;
    while (n < max) {
        INT_U32 c = host_utf8_next(p);
        if (c == 0) {
            break;
        }
        out[n++] = KEYBOARD::unmap_char(c);
    }
    return n;
}

bool host_window_is_active()
{
    return window_active;
}

void host_set_window_active(bool active)
{
    window_active = active;
    if (!active) {
        // Keys released elsewhere never report here: forget them all.
        KEYBOARD::release_all_keys();
    }
}
