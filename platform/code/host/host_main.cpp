// The program's entry: start-up in its fixed order, the run loop, and the
// shut-down that undoes it.
#include "host_main.h"

#include "data_file.h"
#include "event_loop.h"
#include "folder.h"
#include "host_internal.h"
#include "host_window.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "utils.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

void fetch_process_info()
{
    if (got_process_info) {
        return;
    }
    ssize_t n = readlink("/proc/self/exe", application_fsspec, sizeof application_fsspec - 1);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof application_fsspec - 1) {
        application_fsspec[0] = 0; // missing or cut: no answer beats a wrong one
        return;
    }
    application_fsspec[n] = 0;
    got_process_info = 1;
}

// Only the folder this run made is in temp_path, and removal never
// follows a link, so this cannot reach anything else.
void remove_temp_folder()
{
    if (!FOLDER::temp_path[0]) {
        return;
    }
    FOLDER f;
    if (!f.set_from_path_string(FOLDER::temp_path)) {
        return;
    }
    char name[1024];
    std::snprintf(name, sizeof name, "%s", f.get_directory_name());
    if (name[0] && f.move_up()) {
        f.remove_directory(name, 1);
    }
}

} // namespace

int host_main(int argc, char** argv, const KIVO_APP_HOOKS& hooks)
{
    // Without these two hints SDL turns signals into quit events itself,
    // and one close box brings a close and a quit, asking the handler twice.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    host_install_table();
    host_install_signal_handlers();
    window_aborted = 0;

    fetch_process_info();

    IMAGE::startup_font_system();
    int app_argc = 0;
    char** app_argv = nullptr;
    handle_command_line_args(argc, argv, app_argc, app_argv);
    // Only after the command line: the video layer's start can complain on
    // standard error (no XDG_RUNTIME_DIR, say), and a request for the usage
    // prints the usage alone. A failure is not fatal here: the first
    // open_window reports why SDL cannot run.
    SDL_Init(SDL_INIT_VIDEO | SDL_INIT_EVENTS);
    if (hooks.app_construct) {
        hooks.app_construct(static_cast<short>(app_argc), app_argv);
    }

    for (;;) {
        bool go_on = hooks.app_main && hooks.app_main();
        if (!go_on || window_aborted) {
            break;
        }
        process_os_events();
    }

    window_aborted = 1;
    if (pm_destructor) {
        pm_destructor();
    }
    if (hooks.app_destruct) {
        hooks.app_destruct();
    }
    close_window(static_cast<short>(65535));
    IMAGE::shutdown_font_system();
    if (kivo_app_settings.show_credits) {
        const char* credits = get_credit_text(0);
        if (credits && credits[0]) {
            display_popup_dialog("K.I.V.O. Development Libraries", credits);
        }
    }
    DATA_FILE::set_cache_buffers_sz(0);
    handle_command_line_args(0, nullptr, app_argc, app_argv);
    remove_temp_folder();
    SDL_Quit();
    return 0;
}
