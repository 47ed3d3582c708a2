#ifndef KIVO_WM_CONTEXT_H
#define KIVO_WM_CONTEXT_H

// WM_CONTEXT: the state the widget layer shares between its objects, in one
// place. Every class keeps its public names for it (WM_SCREEN_OBJECT::
// focal_object, WM_BUTTON::auto_repeat_rate, ...): each is a reference bound
// here, documented at its class. The one context is `wm_context`.
//
// It holds plain values only, and every initial value below is a constant,
// so the context is filled in before any constructor of the program runs:
// a page tool manager built before main registers itself here, and nothing
// overwrites that later. The objects that own memory are apart:
// WM_SHARED_OBJECTS below, and the default style sets (wm_style_set.h).
//
// A class's new shared value is a field with its initial value in the
// class's group (a new class adds a group and its member in STATE), and in
// the class `static inline T& name = wm_context.state.group.name;`. A new
// run then starts it afresh with the rest.
#include "colour.h"
#include "image.h"
#include "image_cache.h"
#include "kivo_types.h"
#include "llist.h"
#include "sound.h"
#include "wm_names.h"

// The largest picture the widget layer takes from a definition or a style
// set, or is asked by one to make: a side beyond 32767 or more pixels than
// this is refused, not allocated. The shared image cache holds to it.
constexpr long WM_MAX_PICTURE_SIDE = 32767;
constexpr long WM_MAX_PICTURE_PIXELS = 16L * 1024 * 1024;
// What all the pictures of the shared image cache hold together (256 MB of
// pixels): a definition and its style sets share it, and a picture past it
// is refused as one past WM_MAX_PICTURE_PIXELS is.
constexpr long WM_MAX_TOTAL_PICTURE_PIXELS = 64L * 1024 * 1024;

class WM_BUTTON;
class WM_DIALOG;
class WM_FLOATING_MENU;
class WM_GRID;
class WM_KEYBOARD_DIALOG;
class WM_PAGE_MANAGER;
class WM_PAGE_SERVICES;
class WM_PAGE_TOOL_MANAGER;
class WM_PTM_OBJECT_INFO;
class WM_SCREEN_OBJECT;
class WM_SCROLLBAR;
struct WMK_KEY_MAPPING;
extern WMK_KEY_MAPPING wkbm_english_british_default;

// One update region, inclusive window coordinates in this order; -1 unset.
struct WM_UPDATE_REGION
{
    INT_S16 top, left, right, bottom;
};

// One group of values per class, named after it. The classes' own type
// names are declared by headers that include this one, so the hooks' types
// are spelled out here: WM_OBJECT_HOOK for the creation and deletion hooks,
// WM_PTM_GENERIC_OBJECT_HOOK (with WM_MESG as INT_S32) for the generic one.
struct WM_CONTEXT
{
    struct SCREEN_OBJECT_STATE
    {
        WM_SCREEN_OBJECT* focal_object = nullptr;
        INT_U8 focal_object_monitored = 0;
        INT_U32 return_key = KEY_RETURN;
        WM_SCREEN_OBJECT* right_mouse_object = nullptr;
        INT_U8 monitor_modals = 1;
        void (*creation_callback)(WM_SCREEN_OBJECT* object, void* data) = nullptr;
        void* creation_data = nullptr;
        void (*deletion_callback)(WM_SCREEN_OBJECT* object, void* data) = nullptr;
        void* deletion_data = nullptr;
        INT_U32 system_default_shading_type = 6;
        INT_U8 flashing_flags = 0;
        INT_U32 now_ms = 0;
        INT_U8 clip_update_to_area = 1;
        INT_U8 clip_monitor_to_area = 1;
        INT_U32 object_effects_delay = 200;
        IMAGE* surface = nullptr;
        WM_PAGE_MANAGER* pm = nullptr;
        // pm as widgets see it: set and cleared by the page manager with pm.
        WM_PAGE_SERVICES* page_services = nullptr;
        COLOUR dark_shading_colour = COLOUR_DARK_GREY;
        COLOUR light_shading_colour = COLOUR_WHITE;
        COLOUR border_colour = COLOUR_BLACK;
        COLOUR outline_colour = COLOUR_YELLOW;
        COLOUR default_shading_base_colour = COLOUR_INVISIBLE;

        static constexpr int max_update_regions = 128;
        WM_UPDATE_REGION update_regions[max_update_regions] = {};
        INT_S16 update_regions_sz = 0;
        INT_S16 update_regions_index = -1;
        INT_U32 update_region_method = 3;
        INT_S16 update_region_joining_value = 32;
    };

    struct BUTTON_STATE
    {
        WM_BUTTON* auto_pressing_button = nullptr;
        INT_U32 auto_pressing_ltv = 0;
        INT_U32 auto_pressing_button_down_delay = 500;
        INT_U32 auto_pressing_delay = 0;
        INT_U32 auto_repeat_rate = 30;
        INT_U32 auto_repeat_threshhold = 300;
        INT_U8 fast_disabled_text = 0;
    };

    struct DIALOG_STATE
    {
        INT_S16 default_positioning_x1 = -1, default_positioning_y1 = -1;
        INT_S16 default_positioning_x2 = -1, default_positioning_y2 = -1;
        INT_U8 style_sets_initialized = 0;
        INT_U8 default_can_drag = 1;
        INT_U8 drag_contents = 1;
        INT_U8 darken_background = 0, grey_background = 0;
        WM_DIALOG* active_dialog = nullptr;
        EFFECT_INFO default_dialog_effect_info = {EFFECT_FADE_DOWN | EFFECT_FADE_UP | EFFECT_SLIDE_ON_OPEN |
                                                      EFFECT_SLIDE_ON_CLOSE | EFFECT_FROM_TOP | EFFECT_EDGE_WINDOW,
                                                  300, 1000, 0xC0};
    };

    struct FLOATING_MENU_STATE
    {
        WM_FLOATING_MENU* active_menu = nullptr;
        EFFECT_INFO default_floating_menu_effect_info = {
            EFFECT_FADE_ON_OPEN | EFFECT_FADE_ON_CLOSE | EFFECT_FADE_DOWN | EFFECT_FADE_UP, 200, 200, 0xE0};
    };

    struct GRID_STATE
    {
        INT_S16 mouse_wheel_half_line_factor = 1;
        WM_GRID* current_grid = nullptr;
    };

    struct IMAGE_STATE
    {
        INT_U8 default_show_clickable_cursor = 0;
    };

    struct LIST_BOX_STATE
    {
        EFFECT_INFO default_list_box_effect_info = {EFFECT_SLIDE_ON_CLOSE | EFFECT_FROM_TOP, 100, 200, 0xE0};
    };

    struct MENU_STATE
    {
        INT_U32 menu_mode = 0;
        EFFECT_INFO default_menu_effect_info = {EFFECT_SLIDE_ON_CLOSE | EFFECT_FROM_TOP, 100, 200, 0xE0};
    };

    struct PAGE_MANAGER_STATE
    {
        INT_S16 monitor_delay_ms = 0;
        INT_S16 popup_x1 = -1, popup_y1 = -1, popup_x2 = -1, popup_y2 = -1;
        INT_S16 page_effects_x1 = -1, page_effects_y1 = -1, page_effects_x2 = -1, page_effects_y2 = -1;
        INT_U8 busy_mouse_cursor_on_page_change = 1;
        INT_U8 monitor_mouse_cursor = 1;
        INT_U8 check_screen_resize = 1;
        void (*frame_hook)() = nullptr;
        INT_U32 now_ltv = 0;
    };

    // The hooks a program installs, and what setup_pages works on.
    struct PAGE_TOOL_MANAGER_STATE
    {
        WM_SCREEN_OBJECT* (*generic_object_callback)(WM_PTM_OBJECT_INFO& info,
                                                     INT_S32 (*callback)(WM_SCREEN_OBJECT*, void*, void*),
                                                     void* data) = nullptr;
        void* generic_object_data = nullptr;
        void (*setup_func)() = nullptr;
        WM_PAGE_TOOL_MANAGER* logo_me = nullptr;
        INT_U8 already_faded = 0;
    };

    struct SCROLLBAR_STATE
    {
        INT_U32 button_auto_repeat_threshhold = 500;
        INT_U32 button_auto_repeat_rate = 60;
        WM_SCROLLBAR* mouse_wheel_focus = nullptr;
    };

    struct STYLE_SET_STATE
    {
        INT_U8 cache_flags = 1;
        INT_U8 cache_ibox_data = 1;
    };

    struct TEXT_EDIT_STATE
    {
        INT_U8 use_soft_keyboard = 0xFF;
        WM_KEYBOARD_DIALOG* soft_keyboard = nullptr;
        WMK_KEY_MAPPING* soft_key_mapping = &wkbm_english_british_default;
        INT_U8 soft_key_show_hint = 0;
        INT_U8 soft_key_ignore_in_me = 0;
    };

    // What a run of the widget layer starts from; `wm_context.state = {}`
    // starts again (the tests' fixture does, around every test).
    struct STATE
    {
        SCREEN_OBJECT_STATE screen_object;
        BUTTON_STATE button;
        DIALOG_STATE dialog;
        FLOATING_MENU_STATE floating_menu;
        GRID_STATE grid;
        IMAGE_STATE image;
        LIST_BOX_STATE list_box;
        MENU_STATE menu;
        PAGE_MANAGER_STATE page_manager;
        PAGE_TOOL_MANAGER_STATE page_tool_manager;
        SCROLLBAR_STATE scrollbar;
        STYLE_SET_STATE style_set;
        TEXT_EDIT_STATE text_edit;
    };

    // The page tool manager that registered itself (as me, and as the
    // records' ptm), the version of the file it reads and its progress
    // hook. They belong to that manager, which may be built before a run
    // starts, so starting one keeps them.
    struct DEFINITION
    {
        WM_PAGE_TOOL_MANAGER* me = nullptr;
        WM_PAGE_TOOL_MANAGER* ptm = nullptr;
        INT_U16 file_version = 0;
        void (*loading_callback)(void* data) = nullptr;
        void* loading_data = nullptr;
    };

    STATE state;
    DEFINITION definition;
};

extern WM_CONTEXT wm_context;

// The shared objects that own memory, reached by WM_SCREEN_OBJECT's names.
// A static object of the program may hold images on the cache (a page tool
// manager, a style set), so these are built before every static object
// without a priority and destroyed after all of them, and after the
// default style sets (wm_style_set.cpp). Inside, the cache comes before the
// pictures, which therefore go first at exit.
struct WM_SHARED_OBJECTS
{
    PTRLLIST modal_screen_objects;
    IMAGE_CACHE image_cache; // holds to WM_MAX_PICTURE_PIXELS and WM_MAX_TOTAL_PICTURE_PIXELS
    IMAGE up_arrow_image, down_arrow_image, left_arrow_image, right_arrow_image;
    SOUND_BUFFER action_sound;

    WM_SHARED_OBJECTS();
};

extern WM_SHARED_OBJECTS wm_shared_objects;

// The shared objects and the default style sets at their start, in this
// order: the modal list emptied (nothing in it deleted), the dialogs' three
// default style sets fresh, the image cache emptied, the action sound
// cleared and the four arrow pictures empty. The hint style set keeps its
// look, with WM_BUTTON::hint_style_set_initialised (like `definition`, it
// is set up once for the program), but gives its skins back before the
// cache empties.
void wm_clear_shared_objects();

// The default style sets' part of that (defined with the style sets).
void wm_reset_default_style_sets();

#endif
