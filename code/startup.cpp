// Program entry of the name program. The framework's start-up grows here
// as its layers arrive; for now it runs the framework's command line.
#include "kivo_app_settings.h"
#include "utils.h"

KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

int main(int argc, char** argv)
{
    int app_argc = 0;
    char** app_argv = nullptr;
    handle_command_line_args(argc, argv, app_argc, app_argv);
    handle_command_line_args(0, nullptr, app_argc, app_argv);
    return 0;
}
