// The application record of the page-definition file: defaults, the reader
// of every version from 0 to 25, the version-25 writer, the list storage,
// and the bounded list counts all records of the file use.
#include "wm_ptm_app_info.h"

#include "wm_page_tool_manager.h"
#include "wm_ptm_array.h"
#include "wm_ptm_records.h"

#include <new>

namespace {

// The device a whole definition is being read from, and its end: found
// once, because finding the end of a cached file moves its cache.
DATA_DEVICE* bounded_device = nullptr;
long bounded_end = 0;

// What the open list claims hold on the device they were made on.
DATA_DEVICE* claimed_device = nullptr;
long long claimed_bytes = 0;
int open_claims = 0;

void call_loading_callback()
{
    if (WM_PAGE_TOOL_MANAGER::loading_callback) {
        WM_PAGE_TOOL_MANAGER::loading_callback(WM_PAGE_TOOL_MANAGER::loading_data);
    }
}

constexpr EFFECT_INFO default_popup_effect = {0x60, 100, 200, 0xE0};
constexpr EFFECT_INFO default_dialog_effect = {0x47C, 300, 1000, 0xC0};

// Version 25: u16 flags, u32 open delay, u32 displaying delay, u8 alpha.
bool get_effect(DATA_DEVICE& d, EFFECT_INFO& e)
{
    INT_U32 open = 0, displaying = 0;
    if (!get_u16(d, e.flags) || !get_u32(d, open) || !get_u32(d, displaying) || !get_u8(d, e.alpha)) {
        return false;
    }
    e.open_delay = static_cast<INT_S32>(open);
    e.displaying_delay = static_cast<INT_S32>(displaying);
    return true;
}

// Versions 8 to 24: four bytes, each non-zero one turning on one flag; the
// delays and alpha keep their defaults.
bool get_old_effect(DATA_DEVICE& d, EFFECT_INFO& e)
{
    static constexpr INT_U16 bits[4] = {0x10, 0x20, 0x01, 0x02};
    INT_U8 b[4];
    if (!get_bytes(d, b, 4)) {
        return false;
    }
    e.flags = 0;
    for (int i = 0; i < 4; i++) {
        if (b[i]) {
            e.flags = static_cast<INT_U16>(e.flags | bits[i]);
        }
    }
    return true;
}

bool put_effect(DATA_DEVICE& d, const EFFECT_INFO& e)
{
    return put_u16(d, e.flags) && put_u32(d, static_cast<INT_U32>(e.open_delay)) &&
           put_u32(d, static_cast<INT_U32>(e.displaying_delay)) && put_u8(d, e.alpha);
}

bool get_colour(DATA_DEVICE& d, COLOUR& c)
{
    INT_U32 v = 0;
    if (!get_u32(d, v)) {
        return false;
    }
    c = v;
    return true;
}

// The fewest bytes one element of each list takes in a version; counts are
// checked against these before anything is allocated.
long min_font_sz(INT_U16 v)
{
    if (v < 10) {
        return 8; // two strings
    }
    return v < 16 ? 8 + 1 + DATA_PATH_BLOCK_SZ + (v >= 14 ? 1 : 0) : 8 + DATA_PATH_BLOCK_SZ + 1;
}
long min_image_sz(INT_U16 v)
{
    if (v < 10) {
        return 8;
    }
    return v < 16 ? 8 + 1 + DATA_PATH_BLOCK_SZ : 8 + DATA_PATH_BLOCK_SZ;
}
constexpr long min_style_set_sz = DATA_PATH_BLOCK_SZ;
constexpr long min_colour_sz = 8;
long min_constant_sz(INT_U16 v)
{
    return v < 17 ? 8 : 5;
}
constexpr long min_dialog_sz = 20;
long min_area_sz(INT_U16 v)
{
    return v >= 8 && v <= 17 ? 22 : 20;
}

template <typename T> void free_pointer_list(T**& list, INT_S32& count)
{
    for (INT_S32 i = 0; i < count; i++) {
        delete list[i];
    }
    delete[] list;
    list = nullptr;
    count = 0;
}

template <typename T> void alloc_pointer_list(T**& list, INT_S32& count, long n)
{
    free_pointer_list(list, count);
    if (n <= 0 || n > PTM_MAX_LIST_COUNT) {
        return;
    }
    list = new (std::nothrow) T*[static_cast<size_t>(n)];
    if (!list) {
        return;
    }
    for (long i = 0; i < n; i++) {
        list[i] = new (std::nothrow) T;
        if (!list[i]) {
            count = static_cast<INT_S32>(i);
            free_pointer_list(list, count);
            return;
        }
    }
    count = static_cast<INT_S32>(n);
}

template <typename T> bool put_pointer_list(DATA_DEVICE& d, T** list, INT_S32 count)
{
    if (!put_u32(d, static_cast<INT_U32>(count))) {
        return false;
    }
    for (INT_S32 i = 0; i < count; i++) {
        if (!list[i]->put_to_data_device(d)) {
            return false;
        }
    }
    return true;
}

} // namespace

long ptm_bytes_left(DATA_DEVICE& d)
{
    long pos = d.get_pos();
    long end = bounded_end;
    if (&d != bounded_device) {
        end = d.set_pos(0, 1);
        d.set_pos(pos, 0);
    }
    long long left = static_cast<long long>(end) - pos;
    if (&d == claimed_device) {
        left -= claimed_bytes;
    }
    return left > 0 ? static_cast<long>(left) : 0;
}

PTM_LIST_CLAIM::PTM_LIST_CLAIM(DATA_DEVICE& d, INT_S32 count, long min_element_sz)
    : held(0), element_sz(min_element_sz > 0 ? min_element_sz : 0), counted(false)
{
    if (claimed_device && claimed_device != &d) {
        return;
    }
    claimed_device = &d;
    counted = true;
    ++open_claims;
    held = static_cast<long long>(count > 0 ? count : 0) * element_sz;
    claimed_bytes += held;
}

PTM_LIST_CLAIM::~PTM_LIST_CLAIM()
{
    if (!counted) {
        return;
    }
    claimed_bytes -= held;
    if (--open_claims == 0) {
        claimed_device = nullptr;
        claimed_bytes = 0;
    }
}

void PTM_LIST_CLAIM::next_element()
{
    if (counted && held >= element_sz) {
        held -= element_sz;
        claimed_bytes -= element_sz;
    }
}

bool ptm_get_count(DATA_DEVICE& d, INT_S32& count, long min_element_sz, INT_S32 max_count)
{
    INT_U32 raw = 0;
    if (!get_u32(d, raw)) {
        return false;
    }
    long long need = static_cast<long long>(raw) * (min_element_sz > 0 ? min_element_sz : 0);
    if (raw > static_cast<INT_U32>(max_count) || raw > 0x7FFFFFFFu || need > ptm_bytes_left(d)) {
        d.error = 1;
        return false;
    }
    count = static_cast<INT_S32>(raw);
    return true;
}

WM_PTM_APP_INFO::WM_PTM_APP_INFO()
    : name(nullptr), areas(nullptr), area_count(0), style_sets(nullptr), style_set_count(0), fonts(nullptr),
      font_count(0), colours(nullptr), colour_count(0), images(nullptr), image_count(0), constants(nullptr),
      constant_count(0), dialogs(nullptr), dialog_count(0), failed_kind(nullptr), failed_pos(0)
{
    clear();
}

WM_PTM_APP_INFO::~WM_PTM_APP_INFO()
{
    clear();
}

void WM_PTM_APP_INFO::clear()
{
    delete[] name;
    name = nullptr;
    // Dialogs and areas hold pointers into the resource lists: they go first.
    clear_dialogs();
    clear_areas();
    clear_style_sets();
    clear_fonts();
    clear_colours();
    clear_images();
    clear_constants();

    width = 800;
    height = 600;
    fullscreen = 0;
    show_logo = 0;
    app_flag_1 = app_flag_2 = 1;
    background_colour = COLOUR_GREY;
    object_effects_delay = 200;
    shading_type = 6;
    dark_shading_colour = 0xFF808080u;
    light_shading_colour = 0xFFFFFFFFu;
    border_colour = COLOUR_BLACK;
    outline_colour = COLOUR_YELLOW;
    page_effects = 0;
    page_effect_ms = 700;
    default_page_change_method = 10;
    menu_mode = 0;
    menu_effect_info = default_popup_effect;
    list_box_effect_info = default_popup_effect;
    dialog_effect_info = default_dialog_effect;

    hint_style_set.shading_type = 3;
    hint_style_set.fg_colour = COLOUR_BLACK;
    hint_style_set.bg_colour = 0xFFFFD000u;
    hint_style_set.fading_colour = COLOUR_RED;
    hint_style_set.ssf = 0x10B;
    hint_style_set.shading_flags = 0xF;
    dialog_style_set.fg_colour = COLOUR_BLUE;
    dialog_style_set.bg_colour = COLOUR_GREY;
    title_style_set.fg_colour = COLOUR_BLACK;
    title_style_set.bg_colour = COLOUR_RED;
    object_style_set.fg_colour = COLOUR_BLACK;
    object_style_set.bg_colour = COLOUR_GREY;
    object_style_set.highlight_colour = COLOUR_RED;
    object_style_set.highlight_text_colour = COLOUR_BLACK;
    object_style_set.ssf = 0x1;

    grey_background = 1;
    darken_background = 0;
    drag_contents = 1;
    can_drag = 1;
}

void WM_PTM_APP_INFO::clear_areas()
{
    wm_ptm_free_array(areas, area_count);
}
void WM_PTM_APP_INFO::clear_style_sets()
{
    free_pointer_list(style_sets, style_set_count);
}
void WM_PTM_APP_INFO::clear_fonts()
{
    free_pointer_list(fonts, font_count);
}
void WM_PTM_APP_INFO::clear_colours()
{
    free_pointer_list(colours, colour_count);
}
void WM_PTM_APP_INFO::clear_images()
{
    free_pointer_list(images, image_count);
}
void WM_PTM_APP_INFO::clear_constants()
{
    free_pointer_list(constants, constant_count);
}
void WM_PTM_APP_INFO::clear_dialogs()
{
    free_pointer_list(dialogs, dialog_count);
}

void WM_PTM_APP_INFO::alloc_areas(long n)
{
    wm_ptm_alloc_array(areas, area_count, n, PTM_MAX_LIST_COUNT);
}
void WM_PTM_APP_INFO::alloc_style_sets(long n)
{
    alloc_pointer_list(style_sets, style_set_count, n);
}
void WM_PTM_APP_INFO::alloc_fonts(long n)
{
    alloc_pointer_list(fonts, font_count, n);
}
void WM_PTM_APP_INFO::alloc_colours(long n)
{
    alloc_pointer_list(colours, colour_count, n);
}
void WM_PTM_APP_INFO::alloc_images(long n)
{
    alloc_pointer_list(images, image_count, n);
}
void WM_PTM_APP_INFO::alloc_constants(long n)
{
    alloc_pointer_list(constants, constant_count, n);
}
void WM_PTM_APP_INFO::alloc_dialogs(long n)
{
    alloc_pointer_list(dialogs, dialog_count, n);
}

void WM_PTM_APP_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

bool WM_PTM_APP_INFO::stop(DATA_DEVICE& d, const char* kind)
{
    failed_kind = kind;
    failed_pos = d.get_pos();
    return false;
}

namespace {

// Reads a pointer list: a bounded count, then each record in turn (the
// progress hook before each). A record is made only while the bytes left
// can still hold one, so a count the file does not back costs nothing, and
// a file that ends inside the list keeps the records read before the break.
template <typename T>
bool read_pointer_list(DATA_DEVICE& d, T**& list, INT_S32& count, void (WM_PTM_APP_INFO::*clear)(),
                       WM_PTM_APP_INFO& app, long min_sz)
{
    INT_S32 n = 0;
    if (!ptm_get_count(d, n, 0, PTM_MAX_LIST_COUNT)) {
        return false;
    }
    (app.*clear)();
    long fit = ptm_bytes_left(d) / min_sz;
    long room = n < fit ? n : fit;
    list = room > 0 ? new (std::nothrow) T*[static_cast<size_t>(room)] : nullptr;
    for (INT_S32 i = 0; i < n; i++) {
        call_loading_callback();
        if (!list || i >= room || ptm_bytes_left(d) < min_sz) {
            d.error = 1;
            return false;
        }
        T* record = new (std::nothrow) T;
        if (!record) {
            d.error = 1;
            return false;
        }
        // A record cut short by the end of the file is not kept.
        if (!record->get_from_data_device(d)) {
            delete record;
            return false;
        }
        list[count++] = record;
    }
    return true;
}

} // namespace

bool WM_PTM_APP_INFO::read_areas(DATA_DEVICE& d, INT_U16 version)
{
    call_loading_callback();
    INT_S32 n = 0;
    if (!ptm_get_count(d, n, min_area_sz(version), PTM_MAX_LIST_COUNT)) {
        return stop(d, "area list");
    }
    alloc_areas(n);
    if (area_count != n) {
        d.error = 1;
        return stop(d, "area list");
    }
    PTM_LIST_CLAIM claim(d, n, min_area_sz(version));
    for (INT_S32 i = 0; i < n; i++) {
        call_loading_callback();
        claim.next_element();
        if (!areas[i].get_from_data_device(d)) {
            return stop(d, "area");
        }
    }
    return true;
}

bool WM_PTM_APP_INFO::read_images(DATA_DEVICE& d, INT_U16 version)
{
    bool ok = read_pointer_list(d, images, image_count, &WM_PTM_APP_INFO::clear_images, *this, min_image_sz(version));
    // Version 8 pages came before the image list; their background names
    // become image records only now, so that no page points at a record
    // the list replaced.
    if (version == 8) {
        for (INT_S32 i = 0; i < area_count; i++) {
            areas[i].resolve_pending_backgrounds();
        }
    }
    return ok ? true : stop(d, "image");
}

bool WM_PTM_APP_INFO::read_short_record(DATA_DEVICE& d)
{
    COLOUR* colours_in_order[] = {&dialog_style_set.bg_colour,        &dialog_style_set.fg_colour,
                                  &title_style_set.bg_colour,         &title_style_set.fg_colour,
                                  &object_style_set.bg_colour,        &object_style_set.fg_colour,
                                  &object_style_set.highlight_colour, &object_style_set.highlight_text_colour};
    for (COLOUR* c : colours_in_order) {
        if (!get_colour(d, *c)) {
            return stop(d, "application");
        }
    }
    if (!get_u8(d, grey_background)) {
        return stop(d, "application");
    }
    if (!read_areas(d, WM_PAGE_TOOL_MANAGER::file_version)) {
        return false;
    }
    if (WM_PAGE_TOOL_MANAGER::file_version > 0 && !get_u32(d, shading_type)) {
        return stop(d, "application");
    }
    return true;
}

bool WM_PTM_APP_INFO::read_lists(DATA_DEVICE& d, INT_U16 v)
{
    call_loading_callback();
    if (v == 8 && !read_areas(d, v)) {
        return false;
    }
    if (!read_pointer_list(d, style_sets, style_set_count, &WM_PTM_APP_INFO::clear_style_sets, *this,
                           min_style_set_sz)) {
        return stop(d, "style set");
    }
    if (!read_pointer_list(d, fonts, font_count, &WM_PTM_APP_INFO::clear_fonts, *this, min_font_sz(v))) {
        return stop(d, "font");
    }
    if (!read_pointer_list(d, colours, colour_count, &WM_PTM_APP_INFO::clear_colours, *this, min_colour_sz)) {
        return stop(d, "colour");
    }
    if (!read_images(d, v)) {
        return false;
    }
    if (!read_pointer_list(d, constants, constant_count, &WM_PTM_APP_INFO::clear_constants, *this,
                           min_constant_sz(v))) {
        return stop(d, "constant");
    }
    if (v > 23 && !read_pointer_list(d, dialogs, dialog_count, &WM_PTM_APP_INFO::clear_dialogs, *this, min_dialog_sz)) {
        return stop(d, "dialog");
    }
    return v == 8 || read_areas(d, v);
}

bool WM_PTM_APP_INFO::get_from_data_device(DATA_DEVICE& d)
{
    // Counts of this read are checked against the end found once here.
    bool outermost = bounded_device == nullptr;
    if (outermost) {
        long pos = d.get_pos();
        bounded_end = d.set_pos(0, 1);
        d.set_pos(pos, 0);
        bounded_device = &d;
    }
    struct RELEASE
    {
        bool outermost;
        ~RELEASE()
        {
            if (outermost) {
                bounded_device = nullptr;
            }
        }
    } release{outermost};

    const INT_U16 v = WM_PAGE_TOOL_MANAGER::file_version;
    clear();
    failed_kind = nullptr;
    call_loading_callback();

    bool ok = wm_ptm_get_text(d, name) && get_s16(d, width) && get_s16(d, height) && get_u8(d, fullscreen) &&
              get_u8(d, page_effects) && get_u32(d, page_effect_ms) &&
              (v <= 16 || get_u32(d, default_page_change_method)) && get_colour(d, background_colour) &&
              get_colour(d, dark_shading_colour) && get_colour(d, light_shading_colour);
    if (!ok) {
        return stop(d, "application");
    }
    call_loading_callback();
    if (v <= 7) {
        return read_short_record(d);
    }

    INT_U8 ignored[2];
    ok = get_u8(d, show_logo) && (v <= 22 || (get_u8(d, app_flag_1) && get_u8(d, app_flag_2))) &&
         get_s16(d, object_effects_delay) && get_u32(d, shading_type) && get_colour(d, border_colour) &&
         get_colour(d, outline_colour) && (v > 17 || get_bytes(d, ignored, 2)) && get_u32(d, menu_mode);
    if (ok) {
        auto effect = v > 24 ? get_effect : get_old_effect;
        ok = effect(d, menu_effect_info) && effect(d, list_box_effect_info);
    }
    if (!ok) {
        return stop(d, "application");
    }
    if (!hint_style_set.get_from_data_device(d) || (v > 24 && !get_effect(d, dialog_effect_info)) ||
        !dialog_style_set.get_from_data_device(d) || !title_style_set.get_from_data_device(d) ||
        !object_style_set.get_from_data_device(d)) {
        return stop(d, "application style set");
    }
    ok = get_u8(d, drag_contents) && (v <= 24 || get_u8(d, can_drag)) && get_u8(d, grey_background) &&
         (v <= 17 || get_u8(d, darken_background));
    if (!ok) {
        return stop(d, "application");
    }
    return read_lists(d, v);
}

bool WM_PTM_APP_INFO::put_to_data_device(DATA_DEVICE& d)
{
    bool ok = put_string(d, name) && put_s16(d, width) && put_s16(d, height) && put_u8(d, fullscreen) &&
              put_u8(d, page_effects) && put_u32(d, page_effect_ms) && put_u32(d, default_page_change_method) &&
              put_u32(d, background_colour) && put_u32(d, dark_shading_colour) && put_u32(d, light_shading_colour) &&
              put_u8(d, show_logo) && put_u8(d, app_flag_1) && put_u8(d, app_flag_2) &&
              put_s16(d, object_effects_delay) && put_u32(d, shading_type) && put_u32(d, border_colour) &&
              put_u32(d, outline_colour) && put_u32(d, menu_mode) && put_effect(d, menu_effect_info) &&
              put_effect(d, list_box_effect_info) && hint_style_set.put_to_data_device(d) &&
              put_effect(d, dialog_effect_info) && dialog_style_set.put_to_data_device(d) &&
              title_style_set.put_to_data_device(d) && object_style_set.put_to_data_device(d) &&
              put_u8(d, drag_contents) && put_u8(d, can_drag) && put_u8(d, grey_background) &&
              put_u8(d, darken_background);
    ok = ok && put_pointer_list(d, style_sets, style_set_count) && put_pointer_list(d, fonts, font_count) &&
         put_pointer_list(d, colours, colour_count) && put_pointer_list(d, images, image_count) &&
         put_pointer_list(d, constants, constant_count) && put_pointer_list(d, dialogs, dialog_count) &&
         put_u32(d, static_cast<INT_U32>(area_count));
    for (INT_S32 i = 0; ok && i < area_count; i++) {
        ok = areas[i].put_to_data_device(d);
    }
    return ok;
}
