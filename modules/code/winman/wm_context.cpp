// The widget layer's shared state: the context of plain values, the shared
// objects, and the default style sets bound to the names WM_BUTTON and
// WM_DIALOG give them.
#include "wm_context.h"

#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

namespace {

// A constant: should an initial value in wm_context.h stop being one, this
// no longer compiles, rather than the context being filled in by a
// constructor that may run after another source's has written to it.
constexpr WM_CONTEXT initial_context{};

// The look of hints and the dialogs' default style sets.
struct DEFAULT_STYLE_SETS
{
    WM_STYLE_SET hint_style_set;
    INT_U8 hint_style_set_initialised = 0;
    WM_STYLE_SET default_dialog_style_set, default_title_style_set, default_object_style_set;
};

} // namespace

WM_CONTEXT wm_context = initial_context;

WM_SHARED_OBJECTS::WM_SHARED_OBJECTS() : image_cache(false, WM_MAX_PICTURE_PIXELS, WM_MAX_TOTAL_PICTURE_PIXELS) {}

// The priority builds these two before every static object without one,
// in this order, and destroys them after all of those, in the reverse
// order: sets holding skins give them back to a live cache at exit.
WM_SHARED_OBJECTS wm_shared_objects __attribute__((init_priority(101)));
namespace {
DEFAULT_STYLE_SETS style_sets __attribute__((init_priority(101)));
} // namespace

WM_STYLE_SET& WM_BUTTON::hint_style_set = style_sets.hint_style_set;
INT_U8& WM_BUTTON::hint_style_set_initialised = style_sets.hint_style_set_initialised;
WM_STYLE_SET& WM_DIALOG::default_dialog_style_set = style_sets.default_dialog_style_set;
WM_STYLE_SET& WM_DIALOG::default_title_style_set = style_sets.default_title_style_set;
WM_STYLE_SET& WM_DIALOG::default_object_style_set = style_sets.default_object_style_set;

void wm_clear_shared_objects()
{
    WM_SHARED_OBJECTS& shared = wm_shared_objects;
    shared.modal_screen_objects.clear();
    // Every set gives its skins back to the cache before it empties: a box
    // left holding an emptied entry is freed memory the next time the
    // cache has pictures. The hint set keeps its look and loads its skins
    // again when next used.
    for (WM_STYLE_SET* set : {&style_sets.default_dialog_style_set, &style_sets.default_title_style_set,
                              &style_sets.default_object_style_set}) {
        *set = WM_STYLE_SET();
    }
    style_sets.hint_style_set.clear_runtime_cache();
    shared.image_cache.clear();
    shared.action_sound.platform_clear();
    for (IMAGE* arrow :
         {&shared.up_arrow_image, &shared.down_arrow_image, &shared.left_arrow_image, &shared.right_arrow_image}) {
        *arrow = IMAGE();
    }
}
