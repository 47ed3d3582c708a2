#ifndef KIVO_WM_PAGE_MANAGER_H
#define KIVO_WM_PAGE_MANAGER_H

// WM_PAGE_MANAGER: the one page manager, reached through
// WM_SCREEN_OBJECT::pm. It owns a fixed array of screen areas (WM_AREA),
// one background picture per window, and the per-frame redraw of the
// update regions. Each area shows one page, keeps a history of the pages
// shown in it and a queued next page; the frame driver (monitor) carries
// out queued changes, plainly or through a timed transition.
// WM_AREA is the root object of one area's widget tree.
#include "image.h"
#include "kivo_types.h"
#include "wm_manager.h"
#include "wm_page_base.h"
#include "wm_page_services.h"

class WM_AREA : public WM_MANAGER
{
public:
    static constexpr int max_history = 20;

    WM_SCREEN_INFO history[max_history]; // 0..history_count-1 in use, the rest empty
    WM_SCREEN_INFO next_page;            // no create function: nothing queued
    INT_S32 history_index;               // the current entry; 0 when empty
    INT_S32 history_count;               // 1 for an empty area
    INT_S32 pending_index;               // entry to move to at the next change; -1 none
    // Requests the manager honours and clears: empty the area at the next
    // change; rebuild the current page at the next change with nothing
    // queued; rebuild it in the next pass.
    INT_U8 clear_on_change;
    INT_U8 rebuild_on_change;
    INT_U8 rebuild_on_monitor;

    WM_AREA();
    // Clears the area, then takes every modal object and every child with it.
    ~WM_AREA() override;

    // Tells the current page its objects go, removes them (modal objects
    // stay) and destroys every entry and the queued page.
    void clear();
};

class WM_PAGE_MANAGER : public WM_PAGE_SERVICES
{
public:
    WM_AREA* current_area;          // always &areas[current]
    IMAGE backgrounds[max_windows]; // per window id; every redraw of a region starts from it
    WM_AREA* areas;                 // area_count of them, owned
    INT_S16 area_count;             // at least 1
    INT_S16 current;
    INT_U8 page_effects;                           // an area's first page fades in
    INT_U32 page_effects_ms;                       // length of the page transitions, 700
    INT_S16 injected_x, injected_y;                // a click the next pass simulates; -1 = none
    INT_U8 injected_button;                        // 1 pressed, 0 released
    INT_S16 last_window_width, last_window_height; // 0 until the first pass
    INT_S8 cursor_request;                         // pointer shape wanted at the end of the pass; -1 = leave it

    // An area count below 1 or a second page manager is fatal. A negative
    // key_buffer leaves the keyboard's buffer as it is.
    WM_PAGE_MANAGER(INT_S16 count, long key_buffer);
    // Gives up WM_SCREEN_OBJECT::pm and pm_destructor once the areas and
    // their widgets are gone.
    ~WM_PAGE_MANAGER();
    WM_PAGE_MANAGER(const WM_PAGE_MANAGER&) = delete;
    WM_PAGE_MANAGER& operator=(const WM_PAGE_MANAGER&) = delete;

    // Keeps the last picture as each window's background, then hides and
    // empties every area, destroys each current page and closes every
    // modal object.
    void shutdown();

    // Area arguments take -1 for the current area, except where an index is
    // asked for; one that names no area makes the call do nothing.

    // Queues a page in area (an index; made current); a page already queued
    // there is destroyed. Nothing without create.
    void set_next_page(long area, WM_PAGE_CREATE create, WM_PAGE_DESTROY destroy, void* data, WM_PAGE_MONITOR monitor,
                       INT_U8 keep_in_history, INT_U32 unique_id, WM_PAGE_OBJECTS_DELETING objects_deleting);
    // Asks the next change to move to history entry index; the current
    // index asks for a rebuild instead.
    void set_next_page_to_history(long index, long area);
    // The same move to the nearest earlier (later) entry whose unique id
    // differs from the current one; nothing when there is none.
    void set_next_page_back_unique(long area);
    void set_next_page_next_unique(long area);
    // 1 when that entry exists and has a create function.
    INT_U8 is_back_unique_valid(long area);
    INT_U8 is_next_unique_valid(long area);
    // Null for an area below 0 or an index outside 0..history_count-1.
    void* get_page_data_from_history(long index, long area);
    // 1 when some area's next page or history entry in use holds data.
    INT_U8 is_page_data_valid(void* data);
    // Keeps only the current entry, as entry 0.
    void clear_history(long area);
    // Destroys one entry other than the current one and closes the gap.
    void delete_page_from_history(long index, long area);
    // Starts the closing effects of every dialog on the modal list, topmost first; immediate: no fade or slide.
    void close_modal_dialogs(INT_U8 immediate);
    // Carries out the queued change of one area (an index), or its clear or
    // rebuild request, without redrawing.
    void change_page(long area);
    // change_page on every area from area on, wrapping, then the redraw.
    void go_to_page(long area);
    // The region pop-ups must stay in; -1 statics give the window's edges.
    void get_popup_area(INT_S16& x1, INT_S16& y1, INT_S16& x2, INT_S16& y2) override;

    // One frame: focus moves on Tab, the timed and input passes, the
    // dispatch of their WM_MESG, the resize rebuild, the focus repair,
    // redraw, present (when blit) and pointer shape. Returns the WM_MESG.
    WM_MESG monitor(INT_U8 blit) { return run_frame(blit != 0, true); }
    // The same frame; without dispatch the WM_MESG comes back as the passes
    // gave it, nothing acting on it (the widget tests' frame).
    WM_MESG run_frame(bool present, bool dispatch);

    // Walks one subtree in focus order, updating the five results; callers
    // chain it over several subtrees.
    void find_focal_objects(WM_SCREEN_OBJECT* object, INT_U8& found, WM_SCREEN_OBJECT*& first, WM_SCREEN_OBJECT*& last,
                            WM_SCREEN_OBJECT*& previous, WM_SCREEN_OBJECT*& next);
    // 1 when an object was asked to take the focus.
    INT_U8 give_focus_to_next_object();
    INT_U8 give_focus_to_prev_object();
    // Refused (0) while a modal object is active.
    INT_U8 give_focus_to_next_area();
    INT_U8 give_focus_to_prev_area();

    // Blocking transitions over the page-effects rectangle, page_effects_ms
    // long. All but the two fade-outs change every area from area on.
    void mix_to_page(long area);
    void fade_in_page(long area);
    void greyfade_in_page(long area);
    void fade_out_page();
    void greyfade_out_page();
    void fade_out_in_page(long area);
    void greyfade_out_in_page(long area);
    // direction 0 random, 1 from the right, 2 left, 3 bottom, 4 top; style 0
    // the new page slides over, 1 the old page slides away, 2 both move.
    void slide_page(long area, unsigned char direction, unsigned char style);

    // Left, top, width and height of a transition's rectangle.
    struct effect_rect
    {
        int x, y, w, h;
    };
    // One frame of each transition, painted into target over r from page
    // snapshots the size of r. level 0..255; elapsed 0..duration ms.
    static void paint_mix_frame(IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page, int level);
    // The page at alpha over black: level for a fade-in, 255 - level out.
    static void paint_black_fade_frame(IMAGE& target, const effect_rect& r, IMAGE& page, int alpha);
    // to_grey false: grey at 0, the page's colours at duration; true: the reverse.
    static void paint_grey_fade_frame(IMAGE& target, const effect_rect& r, const IMAGE& page, INT_U32 elapsed,
                                      INT_U32 duration, bool to_grey);
    static void paint_slide_frame(IMAGE& target, const effect_rect& r, IMAGE& old_page, IMAGE& new_page, int direction,
                                  int style, INT_U32 elapsed, INT_U32 duration);
    // The object under the point in the highest-numbered area that has one;
    // else the highest-numbered area hit; else null.
    WM_SCREEN_OBJECT* find_object_at_pos(INT_S16 px, INT_S16 py) override;
    // The layout step (prepare_draw) over every area tree and the modal
    // objects, then every update region redrawn (background, area trees,
    // modal objects) and the list emptied.
    void check_for_draw();
    void prepare_for_draw();

    // The rest of what widgets ask (wm_page_services.h): the injected-click
    // fields, the cursor request (only while monitor_mouse_cursor is set),
    // current_area and the backgrounds.
    void inject_click(INT_S16 x, INT_S16 y, INT_U8 button) override;
    void cancel_injected_click() override;
    bool is_click_injected() const override;
    void request_pointer(INT_S8 shape) override;
    WM_SCREEN_OBJECT* get_current_area() override;
    void redraw_region_from(INT_S16 window) override;

    // ---- class-wide state (wm_context.h) -------------------------------------
    static inline INT_S16& monitor_delay_ms = wm_context.state.page_manager.monitor_delay_ms;
    // -1 = the window's edge
    static inline INT_S16& popup_x1 = wm_context.state.page_manager.popup_x1;
    static inline INT_S16& popup_y1 = wm_context.state.page_manager.popup_y1;
    static inline INT_S16& popup_x2 = wm_context.state.page_manager.popup_x2;
    static inline INT_S16& popup_y2 = wm_context.state.page_manager.popup_y2;
    static inline INT_S16& page_effects_x1 = wm_context.state.page_manager.page_effects_x1;
    static inline INT_S16& page_effects_y1 = wm_context.state.page_manager.page_effects_y1;
    static inline INT_S16& page_effects_x2 = wm_context.state.page_manager.page_effects_x2;
    static inline INT_S16& page_effects_y2 = wm_context.state.page_manager.page_effects_y2;
    static inline INT_U8& busy_mouse_cursor_on_page_change =
        wm_context.state.page_manager.busy_mouse_cursor_on_page_change;
    // Widgets may ask for pointer shapes.
    static inline INT_U8& monitor_mouse_cursor = wm_context.state.page_manager.monitor_mouse_cursor;
    static inline INT_U8& check_screen_resize = wm_context.state.page_manager.check_screen_resize;
    // Called after every present; null in the program (a test seam).
    static inline void (*&frame_hook)() = wm_context.state.page_manager.frame_hook;

private:
    // get_ms_count of the last pass in which the pages' monitor callbacks ran.
    static inline INT_U32& now_ltv = wm_context.state.page_manager.now_ltv;

    // The steps of monitor, in the order it takes them, and the state one
    // pass hands from step to step.
    struct PASS;
    // Window size on the first pass, the pointer-shape request reset and
    // the injected click in.
    void begin_pass(PASS& pass);
    // Tab, with Shift backwards, with Command or Control by area.
    void move_focus_on_tab();
    // Whether the pages' monitor callbacks run in this pass.
    bool are_callbacks_due();
    void run_timed_pass(PASS& pass);
    void run_modal_input_pass(PASS& pass);
    void run_area_input_pass(PASS& pass);
    // Acts on the pass's message as the message's area; returns what
    // monitor returns.
    WM_MESG dispatch_message(WM_MESG message, long area);
    // rebuild_area on every visible area from `from` on, wrapping; modals
    // applies to the first only.
    void rebuild_visible_areas(long from, bool modals);
    // Shows the queued pages by a page-change code's transition.
    void change_pages(WM_MESG message, long area);
    // Every area rebuilt once after the window changed size.
    void rebuild_after_resize();
    // The focus to the next object when the focal one sat the pass out.
    void repair_focus(WM_MESG message);
    // The real pointer back after an injected click, and the pointer shape.
    void end_pass(const PASS& pass);

    // Blits the back buffer to the window, then calls frame_hook.
    void present_frame();
    // How one timed transition runs (with the transitions).
    struct TRANSITION;
    // Every timed transition over the page-effects rectangle: the plain
    // change without a surface or a duration, the snapshots around the
    // page change, then the paced frames, each presented.
    void run_transition(const TRANSITION& how, long area);
    // As the current area: tells the page its objects go, clears them
    // (modal objects too when modals), builds the page again and gives the
    // focus to the first object when nothing has it.
    void rebuild_area(long area, INT_U8 modals);
    // Destroys the page of one descriptor (unless another descriptor of
    // this manager holds it too) and empties the descriptor.
    void destroy_entry(WM_SCREEN_INFO& entry);
    WM_AREA* area_at(long area); // -1 the current one; null when out of range
    void make_current(long area);

    friend class WM_AREA;
};

// Shuts the current page manager down; nothing when there is none.
void pm_shutdown();

#endif
