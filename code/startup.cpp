// Program entry of the name program. Until its pages exist, it shows the
// maker's splash for two seconds, then its own window with the logo.
#include "host_main.h"
#include "host_window.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "kivo_logo.h"

#include <cstdio>

KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

INT_U32 splash_shown_at = 0;
bool main_window_shown = false;

void show_main_window()
{
    char title[64];
    std::snprintf(title, sizeof title, "%s", kivo_app_settings.name_and_version);
    // open_window closes the splash first.
    if (!open_window(title, 640, 480, 0, 0))
        return;
    IMAGE* bb = get_back_buffer(0);
    bb->clear(COLOUR_BLACK, 1);
    IMAGE logo;
    get_kivo_logo(logo);
    logo.put(static_cast<short>((bb->width - logo.width) / 2), static_cast<short>((bb->height - logo.height) / 2),
             nullptr, IMAGE_COPY_REPLACE);
    blit_to_window(0);
}

} // namespace

void app_construct(short, char**)
{
    set_window_close_handler(wch_exit_on_any_window_close);
    IMAGE splash;
    get_kivo_logo_with_text(splash);
    open_splash_window(splash, 0);
    splash_shown_at = get_ms_count();
}

bool app_main()
{
    if (!main_window_shown && get_ms_count() - splash_shown_at >= 2000) {
        main_window_shown = true;
        show_main_window();
    }
    return true;
}

void app_destruct()
{
}

int main(int argc, char** argv)
{
    return host_main(argc, argv, {app_construct, app_main, app_destruct});
}
