#ifndef KIVO_WM_SCREEN_OBJECT_H
#define KIVO_WM_SCREEN_OBJECT_H

// WM_SCREEN_OBJECT: the base of everything on screen. Objects form trees
// (a parent owns its children; coordinates are absolute window
// coordinates), one class-wide list holds the modal objects, one object
// holds the keyboard focus, and a class-wide list of update regions
// collects what must be redrawn. The two per-frame passes are `monitor`
// (input) and `update` (timing); drawing happens only in `draw_object`,
// called by the redraw pass with the surface clipped to one region.
#include "colour.h"
#include "image.h"
#include "image_cache.h"
#include "kivo_types.h"
#include "llist.h"
#include "sound.h"
#include "wm_context.h"

// What callbacks and passes hand up the tree. The numbers are stored in
// page definitions (a page's change method), so they never change; any
// other value travels up unchanged.
typedef INT_S32 WM_MESG;
constexpr WM_MESG WM_MESG_NONE = 0;  // nothing happened; the pass goes on
constexpr WM_MESG WM_MESG_TAKEN = 1; // input taken, nothing asked; keeps the focus where it is
// The dialog holding the caller closes with its effects and is kept.
constexpr WM_MESG WM_MESG_CLOSE_DIALOG = 2;
// Every modal dialog closes with its effects; the page manager returns it as it came.
constexpr WM_MESG WM_MESG_CLOSE_DIALOGS = 3;
// The modal pass removes and deletes the modal object that returned it, and passes 0 on.
constexpr WM_MESG WM_MESG_CLOSE_MODAL = 4;
// Rebuilds of the message's area, or of every visible area from it on;
// the CLOSE_AND forms close every modal object first.
constexpr WM_MESG WM_MESG_REBUILD = 5;
constexpr WM_MESG WM_MESG_REBUILD_ALL = 6;
constexpr WM_MESG WM_MESG_CLOSE_AND_REBUILD = 7;
constexpr WM_MESG WM_MESG_CLOSE_AND_REBUILD_ALL = 8;
// Every modal object of the first area closes; the widgets stay.
constexpr WM_MESG WM_MESG_CLOSE_MODALS = 9;
// Page changes: the queued pages shown in every area from the message's
// on, plainly or through a transition. Returned as they came.
constexpr WM_MESG WM_MESG_CHANGE = 10;
constexpr WM_MESG WM_MESG_MIX = 11;
constexpr WM_MESG WM_MESG_FADE_IN = 12;
constexpr WM_MESG WM_MESG_GREYFADE_IN = 13;
constexpr WM_MESG WM_MESG_FADE_OUT_IN = 14;
constexpr WM_MESG WM_MESG_GREYFADE_OUT_IN = 15;
constexpr WM_MESG WM_MESG_FADE_OUT = 16;
constexpr WM_MESG WM_MESG_GREYFADE_OUT = 17;
// Slides, five codes each: the first plus the direction (0 random, 1 from
// the right, 2 left, 3 bottom, 4 top). OVER: the new page slides over the
// old; AWAY: the old page slides off the new; BOTH: both pages move.
constexpr WM_MESG WM_MESG_SLIDE_OVER = 18;
constexpr WM_MESG WM_MESG_SLIDE_AWAY = 23;
constexpr WM_MESG WM_MESG_SLIDE_BOTH = 28;
constexpr WM_MESG WM_MESG_LAST_CHANGE = 32;
// From the page manager's monitor: the run loop ends.
constexpr WM_MESG WM_MESG_END_RUN = -1;

// The type bits each class ORs into `type` (a derived class keeps its
// base's bit).
typedef INT_U32 WM_OBJECT_TYPE;
constexpr WM_OBJECT_TYPE WM_TYPE_MANAGER = 0x1;
constexpr WM_OBJECT_TYPE WM_TYPE_BUTTON = 0x2;
constexpr WM_OBJECT_TYPE WM_TYPE_MENU = 0x4;
constexpr WM_OBJECT_TYPE WM_TYPE_IMAGE = 0x8;
constexpr WM_OBJECT_TYPE WM_TYPE_SCRIPT = 0x10;
constexpr WM_OBJECT_TYPE WM_TYPE_DIALOG = 0x20;
constexpr WM_OBJECT_TYPE WM_TYPE_SCROLLBAR = 0x80;
constexpr WM_OBJECT_TYPE WM_TYPE_GRID = 0x1000;
constexpr WM_OBJECT_TYPE WM_TYPE_LIST_BOX = 0x2000;
constexpr WM_OBJECT_TYPE WM_TYPE_TEXT_EDIT = 0x8000;
constexpr WM_OBJECT_TYPE WM_TYPE_FLOATING_MENU = 0x400000;
constexpr WM_OBJECT_TYPE WM_TYPE_KEYBOARD = 0x800000;
constexpr WM_OBJECT_TYPE WM_TYPE_KEYBOARD_DIALOG = 0x1000000;
constexpr WM_OBJECT_TYPE WM_TYPE_CHECK_BOX = 0x8000000;

// Border styles: 0 none, 1 the object's own type (and when that is 1 too,
// system_default_shading_type), 2 to 9 one to four one-pixel rings; any
// other value draws nothing.
typedef INT_U32 SCROBJ_SHADING_TYPE;
// Edge flags of draw_shading: 1 top, 2 bottom, 4 left, 8 right; 16, 32, 64,
// 128 round the top-left, top-right, bottom-left, bottom-right corners;
// 0x8000 swaps light and dark (the pressed look).
constexpr INT_U16 SHADING_EDGE_TOP = 0x1;
constexpr INT_U16 SHADING_EDGE_BOTTOM = 0x2;
constexpr INT_U16 SHADING_EDGE_LEFT = 0x4;
constexpr INT_U16 SHADING_EDGE_RIGHT = 0x8;
constexpr INT_U16 SHADING_ROUND_TOP_LEFT = 0x10;
constexpr INT_U16 SHADING_ROUND_TOP_RIGHT = 0x20;
constexpr INT_U16 SHADING_ROUND_BOTTOM_LEFT = 0x40;
constexpr INT_U16 SHADING_ROUND_BOTTOM_RIGHT = 0x80;
constexpr INT_U16 SHADING_SWAP = 0x8000;
// Arrow directions: 0 up, 1 down, 2 left, 3 right; others draw nothing.
typedef INT_U32 SCROBJ_ARROW_TYPE;

class FOLDER;
class IMAGE_BOX;
class WM_SCREEN_OBJECT;
class WM_STYLE_SET;
class WM_PAGE_MANAGER;
class WM_PAGE_SERVICES;
// The page layer's record of one widget; only a pointer is kept here.
class WM_PTM_OBJECT_INFO;

typedef WM_MESG (*WM_OBJECT_CALLBACK)(WM_SCREEN_OBJECT* object, void* data1, void* data2);
typedef void (*WM_FOCUS_CALLBACK)(WM_SCREEN_OBJECT* object, void* data);
typedef void (*WM_OBJECT_HOOK)(WM_SCREEN_OBJECT* object, void* data);

class WM_SCREEN_OBJECT
{
public:
    // ---- data -----------------------------------------------------------
    INT_S16 x, y;          // left and top edge in window coordinates
    INT_S16 width, height; // covers x..x+width-1, y..y+height-1
    INT_U8 activated;      // widget-defined, set through set_activated
    INT_U8 visible;        // shown, hit-tested, monitored and drawn
    INT_U8 dirty;          // a redraw was requested
    INT_U8 drawn;          // drawn since it was last hidden
    INT_U8 no_delete;      // removal and clearing hide it instead of deleting it
    COLOUR shading_colour; // own shading base when its alpha is non-zero
    PTRLLIST objects;      // the children, later ones on top; owned
    // Page-manager area: -1 none; -2-n shown modally over area n.
    INT_S16 area;
    WM_OBJECT_TYPE type;
    SCROBJ_SHADING_TYPE shading_type;
    WM_OBJECT_CALLBACK callback;
    WM_OBJECT_CALLBACK right_click_callback; // null: no right-click handling
    INT_U32 right_click_mode;                // 0 on press, 1 on release, 2 both
    void* callback_data1;
    void* callback_data2;
    void* right_click_data1;
    void* right_click_data2;
    INT_U8 return_key_down;         // the return key at the last right-click check
    WM_PTM_OBJECT_INFO* definition; // the record that built it; null for code-built objects
    WM_FOCUS_CALLBACK focus_callback;
    void* focus_data;
    INT_U8 can_focus;

    // ---- virtual operations (slot order) ----------------------------------
    WM_SCREEN_OBJECT(INT_U8 visible, WM_OBJECT_CALLBACK callback, void* data1, void* data2);
    virtual ~WM_SCREEN_OBJECT();
    WM_SCREEN_OBJECT(const WM_SCREEN_OBJECT&) = delete;
    WM_SCREEN_OBJECT& operator=(const WM_SCREEN_OBJECT&) = delete;

    // Shows the object and marks its area: for callers that mean to show
    // it. A change to how it looks uses redraw_if_visible instead.
    virtual void request_draw();
    virtual void hide(INT_U8 modals, INT_U8 children);
    virtual WM_MESG monitor();
    virtual WM_MESG update(INT_U8 modal);
    virtual INT_U8 is_in_it(INT_S16 px, INT_S16 py);
    virtual INT_U8 is_in_me(INT_S16 px, INT_S16 py);
    virtual INT_U8 is_in_child(INT_S16 px, INT_S16 py);
    virtual WM_SCREEN_OBJECT* find_object_at_pos(INT_S16 px, INT_S16 py);
    virtual void move(INT_S16 nx, INT_S16 ny);
    virtual void resize(INT_S16 nw, INT_S16 nh, INT_U8 children);
    virtual void set_area(INT_S16 new_area);
    virtual void add_object(WM_SCREEN_OBJECT* object, INT_U8 relative);
    virtual void remove_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative);
    virtual INT_U8 can_have_focus();
    virtual void take_focus();
    virtual void set_activated(INT_U8 a);
    virtual INT_S16 get_x();
    virtual INT_S16 get_y();
    virtual INT_S16 get_width();
    virtual INT_S16 get_height();
    virtual void check_for_redraw();
    virtual void check_modal_redraw();
    virtual void draw_object();
    // The frame's layout step, before its regions are drawn: what a draw
    // needs settled (a grid's cells, a dialog's opening effects) is done
    // here, so that drawing changes nothing. Visible objects only.
    virtual void prepare_draw() {}
    // Whether the object, shown on the modal list, holds the input of what
    // lies below it. One on its way out (a dialog in its closing effects)
    // takes no input itself, so the keys typed meanwhile go to the page.
    virtual bool holds_input() { return true; }

    // ---- tree -------------------------------------------------------------
    // Modal objects are hidden (no_delete) or deleted and the list emptied;
    // children likewise. The middle flag has no effect.
    void clear_objects(INT_U8 modals, INT_U8 flag, INT_U8 children);
    // The n-th child (0-based); null outside 0..count-1.
    WM_SCREEN_OBJECT* get_screen_object(INT_S16 n);

    // ---- modal objects ----------------------------------------------------
    void add_modal_object(WM_SCREEN_OBJECT* object, INT_U8 relative);
    void remove_modal_object(WM_SCREEN_OBJECT* object, INT_U8 destroy, INT_U8 relative);
    INT_U8 is_modal_object();
    // Active: visible and holding the input (holds_input).
    static INT_S16 get_active_modal_object_count();
    // Area of the topmost active modal object; -1 when there is none.
    static long get_active_modal_object_area();
    // The topmost active modal object carrying every bit of mask (0: any).
    static WM_SCREEN_OBJECT* get_active_modal_object(WM_OBJECT_TYPE mask);

    // ---- update regions and redraw ------------------------------------------
    // request_draw while the object is shown; a hidden one stays hidden and
    // is drawn whole when it is shown.
    void redraw_if_visible();
    void mark_redraw_area();
    void mark_redraw_subarea(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2);
    void mark_entire_redraw_area();
    // Ignored while a redraw runs (update_regions_index is not -1).
    static void add_update_region(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2);
    static INT_U8 is_update_region_valid();
    INT_U8 is_in_redraw_area();
    // In the region being redrawn or, outside a redraw, in any update region.
    INT_U8 is_in_update_regions();
    // The layout step over this object's visible tree, and over the modal
    // objects' trees.
    void prepare_tree_for_draw();
    static void prepare_modals_for_draw();
    // Immediate redraws into the surface; nothing while there is no page manager.
    static void force_screen_redraw(INT_S16 window);
    static void force_draw_object(WM_SCREEN_OBJECT* object);

    // ---- shading and arrows -------------------------------------------------
    // Ring counts: 0 for 0, 1 still 1 after resolution, and above 9.
    INT_S16 get_shading_type_size(SCROBJ_SHADING_TYPE shading);
    INT_S16 get_shading_size(SCROBJ_SHADING_TYPE shading);
    void get_shading_colours(COLOUR base, COLOUR& dark, COLOUR& light);
    // Inside the inclusive rectangle; radius -1 = the surface's choice. The
    // outline rings take outline_colour, or the colour given.
    void draw_shading(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_U16 flags, COLOUR base,
                      SCROBJ_SHADING_TYPE shading, INT_S16 radius);
    void draw_shading(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, INT_U16 flags, COLOUR base,
                      SCROBJ_SHADING_TYPE shading, INT_S16 radius, COLOUR outline);
    // Gaps -1 = a third of the extent.
    void draw_arrow(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, COLOUR colour, SCROBJ_ARROW_TYPE direction,
                    INT_S16 x_gap, INT_S16 y_gap);

    // ---- class-wide state (wm_context.h) -------------------------------------
    static inline WM_SCREEN_OBJECT*& focal_object = wm_context.state.screen_object.focal_object;
    static inline INT_U8& focal_object_monitored = wm_context.state.screen_object.focal_object_monitored;
    static inline INT_U32& return_key = wm_context.state.screen_object.return_key; // KEYBOARD key code, 36
    static inline WM_SCREEN_OBJECT*& right_mouse_object = wm_context.state.screen_object.right_mouse_object;
    // Bottom first, topmost last; owns nothing.
    static inline PTRLLIST& modal_screen_objects = wm_shared_objects.modal_screen_objects;
    static inline INT_U8& monitor_modals = wm_context.state.screen_object.monitor_modals;
    static inline WM_OBJECT_HOOK& creation_callback = wm_context.state.screen_object.creation_callback;
    static inline void*& creation_data = wm_context.state.screen_object.creation_data;
    static inline WM_OBJECT_HOOK& deletion_callback = wm_context.state.screen_object.deletion_callback;
    static inline void*& deletion_data = wm_context.state.screen_object.deletion_data;
    static inline SCROBJ_SHADING_TYPE& system_default_shading_type =
        wm_context.state.screen_object.system_default_shading_type; // 6
    // Blink phases: bit k = (now_ms / P_k) mod 2, P = 50, 125, 250, 500,
    // 1000, 2000, 4000, 8000 ms.
    static inline INT_U8& flashing_flags = wm_context.state.screen_object.flashing_flags;
    // get_ms_count at the start of the current update pass
    static inline INT_U32& now_ms = wm_context.state.screen_object.now_ms;
    static inline INT_U8& clip_update_to_area = wm_context.state.screen_object.clip_update_to_area;
    static inline INT_U8& clip_monitor_to_area = wm_context.state.screen_object.clip_monitor_to_area;
    static inline INT_U32& object_effects_delay = wm_context.state.screen_object.object_effects_delay; // ms, 200
    // The shared drawing surface; the first object sets it to the back buffer.
    static inline IMAGE*& surface = wm_context.state.screen_object.surface;
    static inline WM_PAGE_MANAGER*& pm = wm_context.state.screen_object.pm;
    // What widgets may ask of pm (wm_page_services.h); null without one.
    static WM_PAGE_SERVICES* page_services() { return wm_context.state.screen_object.page_services; }
    // Images shared by every widget.
    static inline IMAGE_CACHE& image_cache = wm_shared_objects.image_cache;
    static inline SOUND_BUFFER& action_sound = wm_shared_objects.action_sound;
    static inline IMAGE& up_arrow_image = wm_shared_objects.up_arrow_image;
    static inline IMAGE& down_arrow_image = wm_shared_objects.down_arrow_image;
    static inline IMAGE& left_arrow_image = wm_shared_objects.left_arrow_image;
    static inline IMAGE& right_arrow_image = wm_shared_objects.right_arrow_image;
    static inline COLOUR& dark_shading_colour = wm_context.state.screen_object.dark_shading_colour;
    static inline COLOUR& light_shading_colour = wm_context.state.screen_object.light_shading_colour;
    static inline COLOUR& border_colour = wm_context.state.screen_object.border_colour;
    static inline COLOUR& outline_colour = wm_context.state.screen_object.outline_colour;
    static inline COLOUR& default_shading_base_colour = wm_context.state.screen_object.default_shading_base_colour;

    static constexpr int max_update_regions = WM_CONTEXT::SCREEN_OBJECT_STATE::max_update_regions;
    static inline WM_UPDATE_REGION (&update_regions)[max_update_regions] =
        wm_context.state.screen_object.update_regions;
    static inline INT_S16& update_regions_sz = wm_context.state.screen_object.update_regions_sz; // 0..128
    // The region being redrawn; -1 outside a redraw.
    static inline INT_S16& update_regions_index = wm_context.state.screen_object.update_regions_index;
    // 0 one union, 1 separate, 2 join on any side, 3 join within J, 4 whole window
    static inline INT_U32& update_region_method = wm_context.state.screen_object.update_region_method;
    // J, pixels
    static inline INT_S16& update_region_joining_value = wm_context.state.screen_object.update_region_joining_value;

protected:
    // Appends a child and makes this object its parent; takes a child out
    // of `objects` and clears its parent. Widgets that keep their own
    // children use these, so no child keeps a pointer to a parent it has left.
    void link_object(WM_SCREEN_OBJECT* object);
    bool unlink_object(WM_SCREEN_OBJECT* object);
    // is_in_it for an object drawn from a skin: inside the rectangle, the
    // mask's clear pixels let a click through; a null mask takes the whole
    // rectangle.
    INT_U8 is_in_it_masked(INT_S16 px, INT_S16 py, IMAGE_BOX* mask);
    // Skins named `name` from a folder, for the widgets drawn from skins,
    // which make it public (using WM_SCREEN_OBJECT::set_images): load_skins
    // with the folder's alias path (FOLDER::get), else load_skins_without_path.
    INT_U8 set_images(FOLDER& folder, const char* name, WM_STYLE_SET* style);
    // The widget's own set_images(path, name, style); 1 when the skin is
    // usable. A widget without skins has none to load: 0.
    virtual INT_U8 load_skins(const char* path, const char* name, WM_STYLE_SET* style);
    // A folder that has no alias path: load_skins from "".
    virtual INT_U8 load_skins_without_path(const char* name, WM_STYLE_SET* style);

private:
    WM_SCREEN_OBJECT* parent;
};

#endif
