// The text clipboard over SDL's, shared with other programs as UTF-8.
#include "host_internal.h"
#include "host_utils.h"
#include "kivo_host.h"

namespace {

INT_U8 table_has_text()
{
    return is_text_in_clipboard() ? 1 : 0;
}

INT_U8 table_get_text(char* buf, std::size_t size)
{
    return get_clipboard_text(buf, size) ? 1 : 0;
}

INT_U8 table_set_text(const char* text)
{
    return set_clipboard_text(text) ? 1 : 0;
}

} // namespace

// SDL's clipboard works only once its video subsystem runs.
bool is_text_in_clipboard()
{
    return host_start_video() && SDL_HasClipboardText() == SDL_TRUE;
}

bool get_clipboard_text(char* buf, std::size_t size)
{
    if (!buf || size == 0) {
        return false;
    }
    buf[0] = 0;
    if (!is_text_in_clipboard()) {
        return false;
    }
    char* text = SDL_GetClipboardText();
    if (!text) {
        return false;
    }
    host_text_from_utf8(text, buf, size);
    SDL_free(text);
    return true;
}

bool set_clipboard_text(const char* text)
{
    if (!text || !host_start_video()) {
        return false;
    }
    return SDL_SetClipboardText(host_text_to_utf8(text).c_str()) == 0;
}

void install_clipboard_host()
{
    KIVO_HOST_TABLE entries = {};
    entries.has_clipboard_text = table_has_text;
    entries.get_clipboard_text = table_get_text;
    entries.set_clipboard_text = table_set_text;
    kivo_set_host(&entries);
}
