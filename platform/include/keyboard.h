#ifndef KIVO_KEYBOARD_H
#define KIVO_KEYBOARD_H

// The keyboard state that widgets read: the one pending key code, the
// typed-character buffer and the keys held now. The state is shared by
// every KEYBOARD object; an object is only a view that keeps the buffer
// alive. Key codes are Mac virtual key codes (0..127) on every host.
#include "kivo_types.h"

// Asked by KEYBOARD::gets with event 0 (no character yet, after a pass)
// or 1 (the line changed, or Enter); 0 ends the input.
typedef INT_U8 (*KEYBOARD_GETS_FILTER)(INT_U8 event, char* buffer, void* data);

class KEYBOARD
{
public:
    // The first view makes the 10-character buffer when there is none; the
    // last one to go frees it. The global `keyboard` keeps one view alive.
    KEYBOARD();
    KEYBOARD(const KEYBOARD&);
    KEYBOARD& operator=(const KEYBOARD&) = default;
    ~KEYBOARD();

    // Posts a key code as the pending code (one slot: a second key
    // overwrites the first).
    static void process_key_event(INT_U32 code);
    // The pending code, which is then -1 (none).
    static INT_S32 get_code();
    // Posts a character. Below 256, or a sign-extended byte 0xFFFFFF80 to
    // 0xFFFFFFFF, it maps through ascii_mapping by its low byte; any other
    // value arrives as '?'. A full buffer drops it.
    static void process_char_event(INT_U32 character);
    // The oldest typed character, taken off; 0 when there is none. Unsigned,
    // so the bytes above 127 compare as characters, not below 32.
    static INT_U8 get_char();
    // Negative: ignored; the current size: emptied; 0: freed; otherwise a
    // new empty buffer of that many bytes (size 0 when it cannot be made).
    static void set_buffer_sz(long size);

    // 1 while key 0..127 is held; 0 otherwise, for key >> 3 of 16 or more
    // and while the window is inactive. The right-hand Command, Shift,
    // Option and Control (54, 60, 61, 62) also answer for 55, 56, 58, 59.
    static INT_U8 get_key_value(INT_U32 key);
    // Holds or releases key 0..127 in the host's own table (other codes
    // are ignored); the event translation and headless tests use it.
    static void set_key_held(INT_U32 key, bool held);
    // Releases every key (test fixtures start from here).
    static void release_all_keys();
    // Edits the NUL-terminated line in buffer (size bytes) at position with
    // the typed characters: Backspace erases before the position, Enter ends
    // the line, characters from 32 up are stored while they fit. Every write
    // stays inside the buffer, whatever position is given (it is kept to
    // 0 .. size - 1). With wait, runs event passes until Enter or the filter
    // ends it. Returns 1 the filter ended input, 2 Enter, 3 no character and
    // no wait (also for no buffer), 4 one character handled and no wait.
    static INT_U8 gets(INT_U8 wait, INT_S32& position, char* buffer, INT_S32 size, KEYBOARD_GETS_FILTER filter,
                       void* data);

    // The character that key (AND 127) gives in the current layout, as a
    // character of the system's 8-bit set (0 for none). With shift, letters
    // are upper-cased and the US layout's symbols shifted.
    static signed char get_key_ascii(INT_U32 key, INT_U8 shift);
    // The same as a one-character text in a static buffer.
    static const char* get_key_desc(INT_U32 key, INT_U8 shift);

    // The inverse of ascii_mapping: the lowest byte that maps to the
    // character c, or a value of 256 or more (which arrives as '?') when no
    // byte does. Post text with process_char_event(unmap_char(c)).
    static INT_U32 unmap_char(INT_U32 c);

    static INT_S32 code;         // pending key code, -1 = none
    static char* buffer;         // typed characters, null = no buffer
    static INT_S32 buffer_sz;    // bytes; holds at most buffer_sz - 1
    static INT_S32 buffer_index; // newest character, -1 = empty
    static INT_U8 last_ascii;    // the last mapped character
    static INT_S16 instance_count;
    // Mac Roman to the system's 8-bit set (Windows-1252).
    static const INT_U8 ascii_mapping[256];
};

// Wall seconds (get_wall_seconds) of the last key or character event; 0
// before any.
extern INT_S64 last_keyboard_event;

extern KEYBOARD keyboard;

#endif
