// The widget layer's shared state: the context of plain values and the
// shared objects.
#include "wm_context.h"

namespace {

// A constant: should an initial value in wm_context.h stop being one, this
// no longer compiles, rather than the context being filled in by a
// constructor that may run after another source's has written to it.
constexpr WM_CONTEXT initial_context{};

} // namespace

WM_CONTEXT wm_context = initial_context;

WM_SHARED_OBJECTS::WM_SHARED_OBJECTS() : image_cache(false, WM_MAX_PICTURE_PIXELS, WM_MAX_TOTAL_PICTURE_PIXELS) {}

// The priority builds these before every static object without one, and
// destroys them after all of those and after the default style sets.
WM_SHARED_OBJECTS wm_shared_objects __attribute__((init_priority(101)));

void wm_clear_shared_objects()
{
    WM_SHARED_OBJECTS& shared = wm_shared_objects;
    shared.modal_screen_objects.clear();
    // Every set gives its skins back to the cache before it empties: a box
    // left holding an emptied entry is freed memory the next time the
    // cache has pictures. The hint set keeps its look and loads its skins
    // again when next used.
    wm_reset_default_style_sets();
    shared.image_cache.clear();
    shared.action_sound.platform_clear();
    for (IMAGE* arrow :
         {&shared.up_arrow_image, &shared.down_arrow_image, &shared.left_arrow_image, &shared.right_arrow_image}) {
        *arrow = IMAGE();
    }
}
