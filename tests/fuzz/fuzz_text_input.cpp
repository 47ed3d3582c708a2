// Typed text from other programs: the UTF-8 decoder and the text-event
// translation must stop at the NUL, whatever bytes come before it.
#include "host_internal.h"
#include "keyboard.h"
#include "kivo_app_settings.h"

#include <cstring>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    // The decoder on the whole input, NUL-terminated.
    std::vector<char> text(data, data + size);
    text.push_back(0);
    const char* p = text.data();
    const char* end = text.data() + size;
    while (INT_U32 c = host_utf8_next(p)) {
        if (p > end || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            __builtin_trap();
        }
    }

    // The same bytes as one text event, cut to the event's size.
    SDL_Event e;
    std::memset(&e, 0, sizeof e);
    e.type = SDL_TEXTINPUT;
    std::memcpy(e.text.text, data, size < sizeof e.text.text ? size : sizeof e.text.text);
    INT_U32 out[sizeof e.text.text];
    int n = host_translate_text(e, out, static_cast<int>(sizeof out / sizeof out[0]));
    for (int i = 0; i < n; ++i) {
        KEYBOARD::process_char_event(out[i]);
    }
    KEYBOARD::set_buffer_sz(10);
    return 0;
}
