// The application's name and version, set at run time from a loaded
// definition rather than by static initialisation.
#include "kivo_app_settings.h"

#include <cstring>

namespace {

char name_and_version_buffer[256];

} // namespace

void KIVO_APP_SETTINGS::set_app_name_and_version(const char* text)
{
    if (!text) {
        return;
    }
    size_t n = strnlen(text, sizeof name_and_version_buffer - 1);
    std::memcpy(name_and_version_buffer, text, n);
    name_and_version_buffer[n] = '\0';
    kivo_app_settings.name_and_version = name_and_version_buffer;
}
