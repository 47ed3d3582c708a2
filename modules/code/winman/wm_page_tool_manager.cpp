// The page tool manager's life cycle, loading and saving the page
// definition, and the lookups by name over its sorted lists.
#include "wm_page_tool_manager.h"

#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "host_window.h"
#include "kivo_app_settings.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_grid.h"
#include "wm_list_box.h"
#include "wm_logo_page.h"
#include "wm_menu.h"
#include "wm_page_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"
#include "wm_screen_object.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Where a file can stop before its application record is reached.
const char kind_version[] = "version";
const char kind_images_flag[] = "images flag";
const char kind_embedded_images[] = "embedded images";

} // namespace

WM_PAGE_TOOL_MANAGER::WM_PAGE_TOOL_MANAGER() : loaded(0), page_manager(nullptr)
{
    if (me) {
        display_error(ERR_TWO_PAGE_TOOL_MANAGERS);
    }
    me = this;
    WM_PTM_OBJECT_INFO::ptm = this;
}

WM_PAGE_TOOL_MANAGER::~WM_PAGE_TOOL_MANAGER()
{
    delete page_manager;
    page_manager = nullptr;
    if (me == this) {
        me = nullptr;
    }
    WM_PTM_OBJECT_INFO::ptm = me;
    // The records go while `ptm` no longer names this manager; none of
    // their destructors looks at it.
    clear();
}

void WM_PAGE_TOOL_MANAGER::call_loading_callback()
{
    if (loading_callback) {
        loading_callback(loading_data);
    }
}

bool WM_PAGE_TOOL_MANAGER::read_definition(DATA_DEVICE& d, unsigned char* images)
{
    // Every font, image and style set names its folder by an alias path,
    // mostly the same few: each is worked out once for the whole read.
    FOLDER::RESOLVE_ONCE resolve_once;
    unsigned char local = 0;
    unsigned char& flag = images ? *images : local;
    flag = 0;
    INT_U16 version = 0;
    if (!get_u16(d, version) || version > newest_version) {
        d.error = 1;
        failed_kind = kind_version;
        failed_pos = 0;
        return false;
    }
    file_version = version;
    call_loading_callback();
    if (version > 14) {
        if (!get_u8(d, flag)) {
            failed_kind = kind_images_flag;
            failed_pos = d.get_pos();
            return false;
        }
        if (flag && !WM_SCREEN_OBJECT::image_cache.get_from_data_device(d)) {
            failed_kind = kind_embedded_images;
            failed_pos = d.get_pos();
            return false;
        }
    }
    call_loading_callback();
    WM_STYLE_SET::cache_flags = flag ? 8 : 1;
    bool ok = get_from_data_device(d);
    call_loading_callback();
    return ok;
}

bool WM_PAGE_TOOL_MANAGER::load(FOLDER& folder, const char* file_name, unsigned char* images)
{
    if (images) {
        *images = 0;
    }
    DATA_FILE* file = folder.open_data_file(file_name, fm_read, -1, 0);
    if (!file) {
        bool missing = !folder.file_exists(file_name);
        set_error_code(missing ? ERRCODE_FILE_NOT_FOUND : ERRCODE_FILE_READ, file_name);
        modules_debug_stream.printf("%s: cannot open the page definition", file_name ? file_name : "");
        return false;
    }
    failed_kind = nullptr;
    bool ok = read_definition(*file, images);
    bool record_read =
        failed_kind != kind_version && failed_kind != kind_images_flag && failed_kind != kind_embedded_images;
    folder.close(file);
    call_loading_callback();
    if (!ok) {
        set_error_code(ERRCODE_FILE_READ, file_name);
        modules_debug_stream.printf("%s: reading stopped in the %s record at byte %ld", file_name,
                                    failed_kind ? failed_kind : "application", failed_pos);
    }
    // A file refused before its record was reached leaves the definition
    // held before as it was.
    if (ok || record_read) {
        loaded = ok ? 1 : 0;
    }
    sort_style_sets();
    sort_fonts();
    sort_colours();
    sort_images();
    sort_constants();
    call_loading_callback();
    return ok;
}

bool WM_PAGE_TOOL_MANAGER::write_definition(DATA_DEVICE& d, unsigned char images)
{
    return put_u16(d, newest_version) && put_u8(d, images) &&
           (!images || WM_SCREEN_OBJECT::image_cache.put_to_data_device(d)) && put_to_data_device(d);
}

bool WM_PAGE_TOOL_MANAGER::save(FOLDER& folder, const char* file_name, unsigned char images)
{
    DATA_FILE* file = folder.open_data_file(file_name, fm_write, -1, 0);
    if (!file) {
        return false;
    }
    // A failed write leaves the error flag set, so closing keeps the old
    // file whole.
    if (!write_definition(*file, images)) {
        file->error = 1;
    }
    return folder.close(file);
}

namespace {

template <typename T> const char* name_of(const T* r)
{
    return r->name ? r->name : "";
}

template <typename T> int compare_named(const void* a, const void* b)
{
    return std::strcmp(name_of(*static_cast<T* const*>(a)), name_of(*static_cast<T* const*>(b)));
}

template <typename T> T* find_named(T** list, INT_S32 count, const char* name, long* index)
{
    const char* key = name ? name : "";
    long lo = 0, hi = static_cast<long>(count) - 1;
    while (lo <= hi) {
        long mid = lo + (hi - lo) / 2;
        int c = std::strcmp(key, name_of(list[mid]));
        if (c == 0) {
            if (index) {
                *index = mid;
            }
            return list[mid];
        }
        if (c < 0) {
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    if (index) {
        *index = -1;
    }
    return nullptr;
}

template <typename T> void sort_named(T** list, INT_S32 count)
{
    if (count > 1) {
        std::qsort(list, static_cast<size_t>(count), sizeof(T*), compare_named<T>);
    }
}

} // namespace

int WM_PAGE_TOOL_MANAGER::compare_style_sets(const void* a, const void* b)
{
    return compare_named<WM_STYLE_SET>(a, b);
}
int WM_PAGE_TOOL_MANAGER::compare_fonts(const void* a, const void* b)
{
    return compare_named<WM_PTM_FONT_INFO>(a, b);
}
int WM_PAGE_TOOL_MANAGER::compare_colours(const void* a, const void* b)
{
    return compare_named<WM_PTM_COLOUR_INFO>(a, b);
}
int WM_PAGE_TOOL_MANAGER::compare_images(const void* a, const void* b)
{
    return compare_named<WM_PTM_IMAGE_INFO>(a, b);
}
int WM_PAGE_TOOL_MANAGER::compare_constants(const void* a, const void* b)
{
    return compare_named<WM_PTM_CONSTANT_INFO>(a, b);
}

void WM_PAGE_TOOL_MANAGER::sort_style_sets()
{
    sort_named(style_sets, style_set_count);
}
void WM_PAGE_TOOL_MANAGER::sort_fonts()
{
    sort_named(fonts, font_count);
}
void WM_PAGE_TOOL_MANAGER::sort_colours()
{
    sort_named(colours, colour_count);
}
void WM_PAGE_TOOL_MANAGER::sort_images()
{
    sort_named(images, image_count);
}
void WM_PAGE_TOOL_MANAGER::sort_constants()
{
    sort_named(constants, constant_count);
}

WM_STYLE_SET* WM_PAGE_TOOL_MANAGER::find_style_set(const char* name, long* index)
{
    return find_named(style_sets, style_set_count, name, index);
}
WM_PTM_FONT_INFO* WM_PAGE_TOOL_MANAGER::find_font(const char* name, long* index)
{
    return find_named(fonts, font_count, name, index);
}
WM_PTM_COLOUR_INFO* WM_PAGE_TOOL_MANAGER::find_colour(const char* name, long* index)
{
    return find_named(colours, colour_count, name, index);
}
WM_PTM_IMAGE_INFO* WM_PAGE_TOOL_MANAGER::find_image(const char* name, long* index)
{
    return find_named(images, image_count, name, index);
}
WM_PTM_CONSTANT_INFO* WM_PAGE_TOOL_MANAGER::find_constant(const char* name, long* index)
{
    return find_named(constants, constant_count, name, index);
}

// ---- turning the definition into the running interface ----------------------

namespace {

// The starting-pages callback, the manager setup_pages works on, and
// whether the logo was shown in this run (wm_context.h).
auto& setup_func = wm_context.state.page_tool_manager.setup_func;
auto& logo_me = wm_context.state.page_tool_manager.logo_me;
auto& already_faded = wm_context.state.page_tool_manager.already_faded;

} // namespace

INT_U8 wm_picture_size_ok(long w, long h)
{
    return w > 0 && h > 0 && w <= WM_MAX_PICTURE_SIDE && h <= WM_MAX_PICTURE_SIDE && w * h <= WM_MAX_PICTURE_PIXELS;
}

WM_AREA* WM_PAGE_TOOL_MANAGER::area_object(long i)
{
    // The file counts its areas in 32 bits, the page manager in 16, and a
    // page manager given to init_app may have fewer than the definition.
    if (!page_manager || !page_manager->areas || i < 0 || i >= page_manager->area_count) {
        return nullptr;
    }
    return &page_manager->areas[i];
}

WM_PAGE_MANAGER* WM_PAGE_TOOL_MANAGER::init_app(WM_PAGE_MANAGER* pm)
{
    if (!loaded) {
        return nullptr;
    }
    if (name) {
        KIVO_APP_SETTINGS::set_app_name_and_version(name);
    }
    if (pm) {
        page_manager = pm;
    } else if (!page_manager) {
        page_manager = new WM_PAGE_MANAGER(static_cast<INT_S16>(area_count), -1);
    }
    WM_SCREEN_OBJECT::object_effects_delay = static_cast<INT_U16>(object_effects_delay);
    WM_SCREEN_OBJECT::system_default_shading_type = static_cast<SCROBJ_SHADING_TYPE>(shading_type);
    WM_SCREEN_OBJECT::dark_shading_colour = dark_shading_colour;
    WM_SCREEN_OBJECT::light_shading_colour = light_shading_colour;
    WM_SCREEN_OBJECT::border_colour = border_colour;
    WM_SCREEN_OBJECT::outline_colour = outline_colour;
    page_manager->page_effects = page_effects;
    page_manager->page_effects_ms = page_effect_ms;
    WM_MENU::menu_mode = menu_mode;
    WM_MENU::default_menu_effect_info = menu_effect_info;
    WM_LIST_BOX::default_list_box_effect_info = list_box_effect_info;
    WM_BUTTON::hint_style_set = hint_style_set;
    WM_BUTTON::hint_style_set_initialised = 1;
    WM_DIALOG::default_dialog_effect_info = dialog_effect_info;
    WM_DIALOG::init_style_sets();
    WM_DIALOG::default_dialog_style_set = dialog_style_set;
    WM_DIALOG::init_style_sets();
    WM_DIALOG::default_title_style_set = title_style_set;
    WM_DIALOG::init_style_sets();
    WM_DIALOG::default_object_style_set = object_style_set;
    WM_DIALOG::grey_background = grey_background;
    WM_DIALOG::darken_background = darken_background;
    WM_DIALOG::drag_contents = drag_contents;
    WM_DIALOG::default_can_drag = can_drag;
    return page_manager;
}

namespace {

// Window 0's background at the window's size; a never-sized one starts
// black so that nothing undefined shows around what is drawn on it.
void size_background(WM_PAGE_MANAGER& pm)
{
    IMAGE& back = pm.backgrounds[0];
    short ww = get_window_width(0);
    short wh = get_window_height(0);
    if (!wm_picture_size_ok(ww, wh)) {
        return;
    }
    if (back.width == 0 || back.height == 0) {
        back.reset(ww, wh);
        back.fill_rect(0, 0, static_cast<short>(ww - 1), static_cast<short>(wh - 1), COLOUR_BLACK, 0);
    } else if (back.width != ww || back.height != wh) {
        back.resize(ww, wh, static_cast<INT_U8>(!IMAGE::use_quick_resize));
    }
}

} // namespace

INT_U8 WM_PAGE_TOOL_MANAGER::open_graphics()
{
    if (!loaded) {
        return 0;
    }
    INT_U8 result = open_window(name ? name : const_cast<char*>(""), width, height, fullscreen, 0);
    if (page_manager) {
        page_manager->areas[0].mark_entire_redraw_area();
        size_background(*page_manager);
        IMAGE& back = page_manager->backgrounds[0];
        if (back.width > 0 && back.height > 0) {
            back.fill_rect(0, 0, static_cast<short>(back.width - 1), static_cast<short>(back.height - 1),
                           background_colour, 0);
        }
    }
    return result;
}

INT_U8 WM_PAGE_TOOL_MANAGER::toggle_fullscreen()
{
    if (!loaded) {
        return 0;
    }
    char* title = name ? name : const_cast<char*>("");
    INT_U8 wanted = fullscreen ? 0 : 1;
    INT_U8 result = open_window(title, width, height, wanted, 0);
    if (result) {
        fullscreen = wanted;
        return result;
    }
    open_window(title, width, height, fullscreen, 0);
    return 0;
}

void WM_PAGE_TOOL_MANAGER::init_areas(void (*starting_pages)())
{
    // A partly read definition may ask for the logo while there is no page
    // manager to queue it on.
    if (!loaded) {
        return;
    }
    setup_func = starting_pages;
    logo_me = this;
    if (starting_pages && show_logo && !already_faded && page_manager) {
        already_faded = 1;
        FOLDER folder("$APPDATA/images");
        wm_logo_page(*page_manager, folder, "logo", setup_pages, 2, 1500, 1500, 1);
        return;
    }
    setup_pages();
}

WM_MESG WM_PAGE_TOOL_MANAGER::setup_pages()
{
    WM_PAGE_TOOL_MANAGER* t = logo_me;
    if (!t || !t->loaded) {
        return WM_MESG_NONE;
    }
    for (long i = 0; i < t->area_count; i++) {
        WM_AREA* a = t->area_object(i);
        if (!a) {
            break;
        }
        const WM_PTM_AREA_INFO& r = t->areas[i];
        a->move(r.x, r.y);
        a->resize(r.width, r.height, 1);
    }
    if (setup_func) {
        setup_func();
    }
    return WM_MESG_MIX;
}

INT_U8 WM_PAGE_TOOL_MANAGER::setup_page(unsigned long page_id, WM_OBJECT_CALLBACK callback, long area)
{
    if (area == -1) {
        area = WM_SCREEN_OBJECT::pm ? WM_SCREEN_OBJECT::pm->current : -1;
    }
    if (area < 0 || area >= area_count || !page_manager) {
        return 0;
    }
    WM_PTM_AREA_INFO& ar = areas[area];
    WM_PTM_PAGE_INFO* page = nullptr;
    for (long i = 0; i < ar.page_count && ar.pages; i++) {
        if (ar.pages[i].id == page_id) {
            page = &ar.pages[i];
            break;
        }
    }
    if (!page) {
        return 0;
    }
    if (page->background && page->background->image) {
        WM_AREA* a = area_object(area);
        long ax = a ? a->get_x() : ar.x;
        long ay = a ? a->get_y() : ar.y;
        long aw = a ? a->get_width() : ar.width;
        long ah = a ? a->get_height() : ar.height;
        // A damaged or hostile file must not make us scale to gigabytes;
        // a picture of the area's size is drawn as it is, without a copy.
        if (wm_picture_size_ok(aw, ah)) {
            IMAGE* picture = page->background->image;
            IMAGE scaled;
            if (picture->width != aw || picture->height != ah) {
                scaled = *picture;
                scaled.resize(static_cast<short>(aw), static_cast<short>(ah),
                              static_cast<INT_U8>(!IMAGE::use_quick_resize));
                picture = &scaled;
            }
            page_manager->areas[0].mark_entire_redraw_area();
            size_background(*page_manager);
            IMAGE& back = page_manager->backgrounds[0];
            back.copy(picture, 0, 0, static_cast<short>(ax), static_cast<short>(ay), picture->width, picture->height,
                      IMAGE_COPY_BLEND);
        }
    }
    WM_AREA* current = page_manager->current_area;
    create_objects(current, callback, page->objects, page->object_count);
    if (current) {
        current->history[current->history_index].unique_id = static_cast<INT_U32>(page_id);
    }
    return 1;
}

void WM_PAGE_TOOL_MANAGER::create_objects(WM_SCREEN_OBJECT* parent, WM_OBJECT_CALLBACK callback,
                                          WM_PTM_OBJECT_INFO* objects, long count)
{
    if (!objects) {
        return;
    }
    for (long i = 0; i < count; i++) {
        WM_PTM_OBJECT_INFO& r = objects[i];
        WM_SCREEN_OBJECT* w = r.create(callback);
        if (!w) {
            continue;
        }
        if (r.objects && r.object_count > 0) {
            create_objects(w, callback, r.objects, r.object_count);
        }
        if (callback && r.cid) {
            callback(w, reinterpret_cast<void*>(static_cast<uintptr_t>(r.cid)), nullptr);
        }
        if (!parent) {
            continue;
        }
        if ((parent->type & WM_TYPE_GRID) && r.grid_row != -1 && r.grid_column != -1 &&
            static_cast<WM_GRID*>(parent)->add_object(r.grid_column, r.grid_row, w)) {
            continue;
        }
        // No cell, or one the grid refused: the page may already hold the
        // widget from its creation message, so it stays alive as a plain
        // child that its parent deletes with the others.
        parent->add_object(w, 1);
    }
}

WM_DIALOG* WM_PAGE_TOOL_MANAGER::create_dialog(const char* dialog_name, WM_OBJECT_CALLBACK callback)
{
    if (!dialog_name || !dialogs) {
        return nullptr;
    }
    for (long i = 0; i < dialog_count; i++) {
        WM_PTM_DIALOG_INFO* r = dialogs[i];
        if (!r || !r->name || std::strcmp(r->name, dialog_name) != 0) {
            continue;
        }
        WM_DIALOG* d = new WM_DIALOG(r->x, r->y, r->width, r->height, r->title, nullptr, nullptr, nullptr, nullptr);
        create_objects(d->contents, callback, r->objects, r->object_count);
        return d;
    }
    return nullptr;
}

WM_MESG WM_PAGE_TOOL_MANAGER::get_page_change_method(unsigned long page_id, long area)
{
    if (area == -1) {
        area = WM_SCREEN_OBJECT::pm ? WM_SCREEN_OBJECT::pm->current : -1;
    }
    if (area >= 0 && area < area_count && areas[area].pages) {
        const WM_PTM_AREA_INFO& ar = areas[area];
        for (long i = 0; i < ar.page_count; i++) {
            if (ar.pages[i].id == page_id && ar.pages[i].change_method) {
                return static_cast<WM_MESG>(ar.pages[i].change_method);
            }
        }
    }
    return static_cast<WM_MESG>(default_page_change_method);
}

char WM_PAGE_TOOL_MANAGER::style_set_read_find_font(const char* font_name, void* tool_manager)
{
    WM_PAGE_TOOL_MANAGER* t = static_cast<WM_PAGE_TOOL_MANAGER*>(tool_manager);
    if (!t || !font_name) {
        return -1;
    }
    t->sort_fonts();
    WM_PTM_FONT_INFO* f = t->find_font(font_name);
    // A set rewritten here names its font by file name.
    for (long i = 0; !f && i < t->font_count; i++) {
        if (t->fonts[i]->filename && std::strcmp(t->fonts[i]->filename, font_name) == 0) {
            f = t->fonts[i];
        }
    }
    return f ? static_cast<char>(static_cast<INT_S8>(f->font_slot)) : static_cast<char>(-1);
}

const char* WM_PAGE_TOOL_MANAGER::style_set_write_find_font(char font, void* tool_manager)
{
    WM_PAGE_TOOL_MANAGER* t = static_cast<WM_PAGE_TOOL_MANAGER*>(tool_manager);
    if (!t) {
        return nullptr;
    }
    for (long i = 0; i < t->font_count; i++) {
        if (static_cast<INT_S8>(t->fonts[i]->font_slot) == static_cast<INT_S8>(font)) {
            return t->fonts[i]->filename;
        }
    }
    return nullptr;
}
