#ifndef KIVO_APP_SETTINGS_H
#define KIVO_APP_SETTINGS_H

// The application's settings record. Every program linking the core's
// credit text defines the one global `kivo_app_settings`, filled by static
// (constant) initialisation.
#include "kivo_types.h"

struct KIVO_APP_SETTINGS
{
    const char* name_and_version; // e.g. "Tollbeck v1.0"
    INT_U8 show_credits;          // show the credit text at exit
    INT_U8 about_menu_item;       // add an "About" menu item
    INT_U8 preferences_menu_item; // add a "Preferences" menu item

    // Copies at most 255 characters of `text` into one static buffer
    // (always terminated) and points name_and_version of
    // kivo_app_settings at it. Null leaves everything as it was.
    static void set_app_name_and_version(const char* text);
};

extern KIVO_APP_SETTINGS kivo_app_settings;

#endif
