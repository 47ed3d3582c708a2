#ifndef KIVO_WM_PAGE_BASE_H
#define KIVO_WM_PAGE_BASE_H

// The page descriptor (WM_SCREEN_INFO), which is all the page manager knows
// of a page, and WM_PAGE_BASE, the class application pages derive from.
// A page queues itself from its constructor through setup; the manager
// reaches it only through the descriptor's static trampolines.
#include "kivo_types.h"
#include "wm_screen_object.h"

class WM_PAGE_MANAGER;

typedef void (*WM_PAGE_CREATE)(WM_PAGE_MANAGER& manager);
// Deletes the page data and nulls the pointer.
typedef void (*WM_PAGE_DESTROY)(void*& data);
typedef WM_MESG (*WM_PAGE_MONITOR)();
// Non-zero when the two data pointers hold equal pages.
typedef INT_U8 (*WM_PAGE_COMPARE)(void* a, void* b);
typedef void (*WM_PAGE_OBJECTS_DELETING)();

struct WM_SCREEN_INFO
{
    WM_PAGE_CREATE create; // null: an empty descriptor
    WM_PAGE_DESTROY destroy;
    WM_PAGE_MONITOR monitor;
    WM_PAGE_COMPARE compare; // null: data compared as pointers
    WM_PAGE_OBJECTS_DELETING objects_deleting;
    void* data;             // the page object
    INT_U8 keep_in_history; // 0: the next page shown replaces this entry
    INT_U32 unique_id;      // the page id once built, else a get_unique_id

    // Callbacks and ids first; only when they all match are the data
    // compared, by this descriptor's compare. keep_in_history is ignored.
    INT_U8 operator==(const WM_SCREEN_INFO& other) const;
};

class WM_PAGE_BASE
{
public:
    INT_U32 page_id;
    long area; // -1: whichever area is current when asked
    WM_PAGE_MANAGER* page_manager;

    WM_PAGE_BASE();
    virtual ~WM_PAGE_BASE();
    WM_PAGE_BASE(const WM_PAGE_BASE&) = delete;
    WM_PAGE_BASE& operator=(const WM_PAGE_BASE&) = delete;

    // These four act on the page's area object; nothing (or 0) without one.
    virtual void add_object(WM_SCREEN_OBJECT* object, unsigned char relative);
    virtual void remove_object(WM_SCREEN_OBJECT* object, unsigned char destroy, unsigned char relative);
    virtual short get_width();
    virtual short get_height();
    virtual void create(WM_PAGE_MANAGER& manager) = 0;
    virtual WM_MESG handle(WM_SCREEN_OBJECT* object, void* data1, void* data2);
    virtual WM_MESG monitor();
    virtual void objects_deleting();
    // Pages with equal page ids are equal.
    virtual INT_U8 operator==(WM_PAGE_BASE& other);

    // Queues this page (made with new: the manager deletes it) as the next
    // page of area (-1: the current area). An area that names no area
    // queues nothing, and the page is then the caller's to delete.
    void setup(long area, WM_PAGE_MANAGER& manager, unsigned char keep_in_history, unsigned char monitor, INT_U32 id);

    // The descriptor's callbacks. All but destroy_callback and
    // data_compare_func act on the page of the current history entry of
    // the current area, and do nothing (return 0) when there is none.
    static void create_callback(WM_PAGE_MANAGER& manager);
    static void destroy_callback(void*& data);
    static INT_U8 data_compare_func(void* a, void* b);
    // The callback of every widget a page builds.
    static WM_MESG handle_callback(WM_SCREEN_OBJECT* object, void* data1, void* data2);
    static WM_MESG monitor_callback();
    static void objects_deleting_callback();
};

#endif
