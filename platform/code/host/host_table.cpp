// The window layer's entries in the core's host table: message boxes, the
// program's exit and the back buffer.
#include "display_state.h"
#include "host_internal.h"
#include "host_utils.h"
#include "host_window.h"
#include "kivo_host.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The headless drivers cannot show a box, and SDL would then try the X
// server directly; a test run under Xvfb must never wait for a click.
bool message_box_possible()
{
    const char* driver = SDL_WasInit(SDL_INIT_VIDEO) ? SDL_GetCurrentVideoDriver() : SDL_GetHint(SDL_HINT_VIDEODRIVER);
    return !driver || (std::strcmp(driver, "dummy") != 0 && std::strcmp(driver, "offscreen") != 0);
}

void host_popup(const char* title, const char* text)
{
    if (!title || !text) {
        return;
    }
    if (message_box_possible() &&
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_INFORMATION, title, text, host_sdl_window()) == 0) {
        return;
    }
    kivo_default_host()->display_popup_dialog(title, text);
}

bool exiting = false;

[[noreturn]] void host_exit(const char* reason, int status)
{
    // Code run by std::exit (static destructors, atexit handlers) can end
    // up here again; exiting twice is undefined, so the second call ends
    // the process where it stands.
    if (exiting) {
        _exit(status);
    }
    exiting = true;
    close_window(-1);
    display_state.RestoreMode();
    SDL_Quit();
    if (status != 0 && reason && reason[0]) {
        std::fprintf(stderr, "%s\n", reason);
    }
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

IMAGE* host_back_buffer()
{
    return back_buffer.pixels ? &back_buffer : nullptr;
}

} // namespace

void host_install_table()
{
    static const KIVO_HOST_TABLE entries = {
        nullptr, host_popup, host_exit, nullptr, nullptr, nullptr, host_back_buffer, nullptr,
    };
    kivo_set_host(&entries);
    install_clipboard_host();
}
