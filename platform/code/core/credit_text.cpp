// Kept apart from the other utilities: it is the one piece of the core that
// needs the application's settings record.
#include "kivo_app_settings.h"
#include "utils.h"

#include <cstdio>

char* get_credit_text(INT_U8 with_maker)
{
    static char text[1024];
    const char* name = kivo_app_settings.name_and_version ? kivo_app_settings.name_and_version : "";
    std::snprintf(text, sizeof text,
                  "%s\nBuilt on %s at %s\n\nThis program was developed %susing the K.I.V.O. Development "
                  "Libraries.\n\nhttps://example.org\nAll rights reserved.\n",
                  name, __DATE__, __TIME__, with_maker ? "by K.I.V.O. Ltd " : "");
    return text;
}
