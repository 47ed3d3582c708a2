// Program entry of the name program: its three globals, built before main
// in this order, and the hooks the host calls.
#include "app.h"
#include "database.h"
#include "host_main.h"
#include "kivo_app_settings.h"

DATABASE db;
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};
WM_PAGE_TOOL_MANAGER ptm;

int main(int argc, char** argv)
{
    return host_main(argc, argv, {app_construct, app_main, app_destruct});
}
