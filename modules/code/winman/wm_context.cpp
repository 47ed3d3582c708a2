// The widget layer's shared state: the context of plain values, and the
// shared objects that own memory, bound to the names their classes give
// them.
#include "wm_context.h"

#include "image.h"
#include "image_cache.h"
#include "llist.h"
#include "sound.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_screen_object.h"
#include "wm_style_set.h"

namespace {

// A constant: should an initial value in wm_context.h stop being one, this
// no longer compiles, rather than the context being filled in by a
// constructor that may run after another source's has written to it.
constexpr WM_CONTEXT initial_context{};

// The shared objects that own memory. A static object of the program may
// hold images on the cache (a page tool manager, a style set), so these
// are built before every static object without a priority and destroyed
// after all of them. Inside, the cache comes before everything that may
// hold images on it, which therefore goes first at exit.
struct SHARED_OBJECTS
{
    PTRLLIST modal_screen_objects;
    IMAGE_CACHE image_cache{false, WM_MAX_PICTURE_PIXELS};
    WM_STYLE_SET hint_style_set;
    INT_U8 hint_style_set_initialised = 0;
    WM_STYLE_SET default_dialog_style_set, default_title_style_set, default_object_style_set;
    IMAGE up_arrow_image, down_arrow_image, left_arrow_image, right_arrow_image;
    SOUND_BUFFER action_sound;
};

SHARED_OBJECTS shared __attribute__((init_priority(101)));

} // namespace

WM_CONTEXT wm_context = initial_context;

PTRLLIST& WM_SCREEN_OBJECT::modal_screen_objects = shared.modal_screen_objects;
IMAGE_CACHE& WM_SCREEN_OBJECT::image_cache = shared.image_cache;
SOUND_BUFFER& WM_SCREEN_OBJECT::action_sound = shared.action_sound;
IMAGE& WM_SCREEN_OBJECT::up_arrow_image = shared.up_arrow_image;
IMAGE& WM_SCREEN_OBJECT::down_arrow_image = shared.down_arrow_image;
IMAGE& WM_SCREEN_OBJECT::left_arrow_image = shared.left_arrow_image;
IMAGE& WM_SCREEN_OBJECT::right_arrow_image = shared.right_arrow_image;
WM_STYLE_SET& WM_BUTTON::hint_style_set = shared.hint_style_set;
INT_U8& WM_BUTTON::hint_style_set_initialised = shared.hint_style_set_initialised;
WM_STYLE_SET& WM_DIALOG::default_dialog_style_set = shared.default_dialog_style_set;
WM_STYLE_SET& WM_DIALOG::default_title_style_set = shared.default_title_style_set;
WM_STYLE_SET& WM_DIALOG::default_object_style_set = shared.default_object_style_set;

void wm_clear_shared_objects()
{
    shared.modal_screen_objects.clear();
    // Every set gives its skins back to the cache before it empties: a box
    // left holding an emptied entry is freed memory the next time the
    // cache has pictures. The hint set keeps its look and loads its skins
    // again when next used.
    for (WM_STYLE_SET* set :
         {&shared.default_dialog_style_set, &shared.default_title_style_set, &shared.default_object_style_set}) {
        *set = WM_STYLE_SET();
    }
    shared.hint_style_set.clear_runtime_cache();
    shared.image_cache.clear();
    shared.action_sound.platform_clear();
    for (IMAGE* arrow :
         {&shared.up_arrow_image, &shared.down_arrow_image, &shared.left_arrow_image, &shared.right_arrow_image}) {
        *arrow = IMAGE();
    }
}
