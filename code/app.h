// The name program's hooks into the host's start-up and run loop, and the
// widgets it builds for records of its own kinds.
#ifndef TOLLBECK_APP_H
#define TOLLBECK_APP_H

#include "wm_page_tool_manager.h"

// The one page tool manager; defined beside the program's entry point.
extern WM_PAGE_TOOL_MANAGER ptm;

void app_construct(short argc, char** argv);
bool app_main();
void app_destruct();
void starting_pages();
WM_SCREEN_OBJECT* create_generic_objects(WM_PTM_OBJECT_INFO& info, WM_OBJECT_CALLBACK callback, void* data);

// Gives up what ptm owns (page manager, definition) and what
// create_generic_objects remembers, so that nothing outlives the widget
// library's statics. The next create_generic_objects reads its constants again.
void release_app_resources();

#endif
