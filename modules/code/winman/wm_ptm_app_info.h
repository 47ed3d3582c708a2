#ifndef KIVO_WM_PTM_APP_INFO_H
#define KIVO_WM_PTM_APP_INFO_H

// WM_PTM_APP_INFO: the application record of the page-definition file
// (window, defaults of the widget classes, the four dialog and hint style
// sets) with the lists of areas, dialogs and named resources. Also the
// reading helpers every record of that file shares: the file comes from
// outside, so each count is checked against the bytes left before anything
// is allocated for it.
#include "colour.h"
#include "data_device.h"
#include "kivo_types.h"
#include "wm_dialog.h"
#include "wm_style_set.h"

class WM_PTM_AREA_INFO;
class WM_PTM_FONT_INFO;
class WM_PTM_COLOUR_INFO;
class WM_PTM_IMAGE_INFO;
class WM_PTM_CONSTANT_INFO;
class WM_PTM_DIALOG_INFO;

// Pointer lists (and the areas) are walked with 16-bit indices.
constexpr INT_S32 PTM_MAX_LIST_COUNT = 32767;

// Bytes from the position to the end of the device, less what the lists
// being read hold for their elements not yet reached (0 when unknown); the
// position is left where it was.
long ptm_bytes_left(DATA_DEVICE& d);
// Reads a u32 list count and checks it: at most max_count, and count
// elements of at least min_element_sz bytes must fit in what is left.
// False (d.error set) for a short read or a count that cannot be; nothing
// is then to be allocated.
bool ptm_get_count(DATA_DEVICE& d, INT_S32& count, long min_element_sz, INT_S32 max_count = 0x7FFFFFFF);

// A list being read holds the least bytes of its elements not yet reached
// back from every count read before them, so that the levels of a nested
// list cannot each count the same bytes: a definition then costs memory in
// proportion to its size. Made once the count is checked, for the list's
// life on the stack; next_element before each element is read gives that
// element its own share. Claims on a device other than the one claimed
// first hold nothing.
class PTM_LIST_CLAIM
{
public:
    PTM_LIST_CLAIM(DATA_DEVICE& d, INT_S32 count, long min_element_sz);
    ~PTM_LIST_CLAIM();
    PTM_LIST_CLAIM(const PTM_LIST_CLAIM&) = delete;
    PTM_LIST_CLAIM& operator=(const PTM_LIST_CLAIM&) = delete;
    void next_element();

private:
    long long held;
    long long element_sz;
    bool counted;
};

class WM_PTM_APP_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name; // new[], null when none
    INT_S16 width, height;
    INT_U8 fullscreen;
    INT_U8 show_logo;
    INT_U8 app_flag_1, app_flag_2; // carried by the file, used by nothing
    COLOUR background_colour;
    INT_S16 object_effects_delay;
    INT_U32 shading_type;
    COLOUR dark_shading_colour, light_shading_colour;
    COLOUR border_colour, outline_colour;
    INT_U8 page_effects;
    INT_U32 page_effect_ms;
    INT_U32 default_page_change_method; // used for pages whose method is 0
    INT_U32 menu_mode;
    EFFECT_INFO menu_effect_info;
    EFFECT_INFO list_box_effect_info;
    WM_STYLE_SET hint_style_set;
    EFFECT_INFO dialog_effect_info;
    WM_STYLE_SET dialog_style_set, title_style_set, object_style_set;
    INT_U8 grey_background, darken_background;
    INT_U8 drag_contents, can_drag;

    // areas by value (new[]); the others are new[] arrays of owned records.
    WM_PTM_AREA_INFO* areas;
    INT_S32 area_count;
    WM_STYLE_SET** style_sets;
    INT_S32 style_set_count;
    WM_PTM_FONT_INFO** fonts;
    INT_S32 font_count;
    WM_PTM_COLOUR_INFO** colours;
    INT_S32 colour_count;
    WM_PTM_IMAGE_INFO** images;
    INT_S32 image_count;
    WM_PTM_CONSTANT_INFO** constants;
    INT_S32 constant_count;
    WM_PTM_DIALOG_INFO** dialogs;
    INT_S32 dialog_count;

    // Where the last failed read stopped: a record kind ("font", "area"...)
    // and the byte position, for the load's diagnostics. Null kind: none.
    const char* failed_kind;
    long failed_pos;

    WM_PTM_APP_INFO();
    ~WM_PTM_APP_INFO() override;
    WM_PTM_APP_INFO(const WM_PTM_APP_INFO&) = delete;
    WM_PTM_APP_INFO& operator=(const WM_PTM_APP_INFO&) = delete;

    // Frees the name and every list, then restores every default.
    void clear();
    void clear_areas();
    void clear_style_sets();
    void clear_fonts();
    void clear_colours();
    void clear_images();
    void clear_constants();
    void clear_dialogs();
    // Replace a list by n default records (none for n <= 0). A list whose
    // array cannot be made is left empty; readers compare the count.
    void alloc_areas(long n);
    void alloc_style_sets(long n);
    void alloc_fonts(long n);
    void alloc_colours(long n);
    void alloc_images(long n);
    void alloc_constants(long n);
    void alloc_dialogs(long n);

    // A copy of the text; null clears it; an equal text changes nothing.
    void set_name(const char* text);
    // Append a default record named "Area %d" ... "Dialog %d"; false when
    // memory runs out or the list already holds PTM_MAX_LIST_COUNT.
    bool create_new_area();
    bool create_new_style_set();
    bool create_new_font();
    bool create_new_colour();
    bool create_new_image();
    bool create_new_constant();
    bool create_new_dialog();
    // Destroy element i, keeping the order of the others; false for a bad
    // index. Deleting an image or style set first sets every reference to
    // it to none.
    bool delete_area(long i);
    bool delete_style_set(long i);
    bool delete_font(long i);
    bool delete_colour(long i);
    bool delete_image(long i);
    bool delete_constant(long i);
    bool delete_dialog(long i);

    // The version is WM_PAGE_TOOL_MANAGER::file_version (0 to 25).
    bool get_from_data_device(DATA_DEVICE& d) override;
    // Always the version-25 layout, lists in their current order.
    bool put_to_data_device(DATA_DEVICE& d) override;

private:
    bool read_short_record(DATA_DEVICE& d);
    bool read_lists(DATA_DEVICE& d, INT_U16 version);
    bool read_areas(DATA_DEVICE& d, INT_U16 version);
    bool read_images(DATA_DEVICE& d, INT_U16 version);
    bool stop(DATA_DEVICE& d, const char* kind);
};

#endif
