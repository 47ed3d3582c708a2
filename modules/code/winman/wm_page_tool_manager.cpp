// The page tool manager's life cycle, loading and saving the page
// definition, and the lookups by name over its sorted lists.
#include "wm_page_tool_manager.h"

#include "data_file.h"
#include "debug_stream.h"
#include "errors.h"
#include "wm_page_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"
#include "wm_screen_object.h"

#include <cstdlib>
#include <cstring>

WM_PAGE_TOOL_MANAGER* WM_PAGE_TOOL_MANAGER::me = nullptr;
INT_U16 WM_PAGE_TOOL_MANAGER::file_version = 0;
void (*WM_PAGE_TOOL_MANAGER::loading_callback)(void*) = nullptr;
void* WM_PAGE_TOOL_MANAGER::loading_data = nullptr;

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
    bool record_read = failed_kind != kind_version && failed_kind != kind_images_flag &&
                       failed_kind != kind_embedded_images;
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

template <typename T> const char* name_of(const T* r) { return r->name ? r->name : ""; }

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

int WM_PAGE_TOOL_MANAGER::compare_style_sets(const void* a, const void* b) { return compare_named<WM_STYLE_SET>(a, b); }
int WM_PAGE_TOOL_MANAGER::compare_fonts(const void* a, const void* b) { return compare_named<WM_PTM_FONT_INFO>(a, b); }
int WM_PAGE_TOOL_MANAGER::compare_colours(const void* a, const void* b)
{
    return compare_named<WM_PTM_COLOUR_INFO>(a, b);
}
int WM_PAGE_TOOL_MANAGER::compare_images(const void* a, const void* b) { return compare_named<WM_PTM_IMAGE_INFO>(a, b); }
int WM_PAGE_TOOL_MANAGER::compare_constants(const void* a, const void* b)
{
    return compare_named<WM_PTM_CONSTANT_INFO>(a, b);
}

void WM_PAGE_TOOL_MANAGER::sort_style_sets() { sort_named(style_sets, style_set_count); }
void WM_PAGE_TOOL_MANAGER::sort_fonts() { sort_named(fonts, font_count); }
void WM_PAGE_TOOL_MANAGER::sort_colours() { sort_named(colours, colour_count); }
void WM_PAGE_TOOL_MANAGER::sort_images() { sort_named(images, image_count); }
void WM_PAGE_TOOL_MANAGER::sort_constants() { sort_named(constants, constant_count); }

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
