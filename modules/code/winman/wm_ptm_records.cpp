// The page definition's area, page, dialog, font, image, colour and
// constant records: their editing, readers for every file version and the
// version-25 writers.
#include "wm_ptm_records.h"

#include "folder.h"
#include "utils.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_app_info.h"
#include "wm_ptm_array.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <unordered_map>
#include <utility>

namespace {

// The fewest bytes a page record takes, for checking a page count against
// the bytes left: id, name length, background (a name length before
// version 17, else an index and the change method), object count.
long min_page_sz(INT_U16 version)
{
    return version < 17 ? 16 : 20;
}

bool read_rect(DATA_DEVICE& d, INT_S16& x, INT_S16& y, INT_S16& w, INT_S16& h)
{
    return get_s16(d, x) && get_s16(d, y) && get_s16(d, w) && get_s16(d, h);
}

bool write_rect(DATA_DEVICE& d, INT_S16 x, INT_S16 y, INT_S16 w, INT_S16 h)
{
    return put_s16(d, x) && put_s16(d, y) && put_s16(d, w) && put_s16(d, h);
}

// A record's folder path: as a path block holds it, at most 2047 bytes.
bool set_path(DATA_DEVICE* d, WM_PTM_TEXT& path, const char* text)
{
    if (path.set(text, strnlen(text, DATA_PATH_BLOCK_SZ - 1))) {
        return true;
    }
    if (d) {
        d->error = 1;
    }
    return false;
}

// The folder of a font or image record: absent before version 10, a FOLDER
// record in 10 to 15, a path block from 16. A stored alias the folders do
// not know stays in `path` as text: the resource is then not loaded (the
// loaders check again), and the record still reads and writes it back. A
// path that would lead outside its alias's folder is dropped (""): the
// record reads on, and its resource is never loaded.
bool read_path(DATA_DEVICE& d, INT_U16 version, WM_PTM_TEXT& path)
{
    char block[DATA_PATH_BLOCK_SZ];
    char confined[DATA_PATH_BLOCK_SZ];
    if (version > 15) {
        if (!get_path_block(d, block)) {
            set_path(nullptr, path, block);
            return false;
        }
        FOLDER::confine_stored_path(block, confined);
        return set_path(&d, path, confined);
    }
    if (version < 10) {
        return true;
    }
    long start = d.get_pos();
    INT_U8 os_id = 0;
    if (!get_u8(d, os_id) || !get_bytes(d, block, sizeof(block))) {
        return false;
    }
    block[sizeof(block) - 1] = 0;
    if (os_id == 0xFF && (!FOLDER::confine_stored_path(block, confined) || !FOLDER::alias_is_known(block))) {
        return set_path(&d, path, confined);
    }
    // The folder reader turns a host location into an alias path.
    if (d.set_pos(start, 0) != start) {
        d.error = 1;
        return false;
    }
    // It leaves the path as it was when it fails.
    return FOLDER::get_old_folder(d, block) && set_path(&d, path, block);
}

WM_PTM_APP_INFO* definition()
{
    return WM_PAGE_TOOL_MANAGER::me;
}

// The background file names of version 8 pages that wait for the image
// list (new[] texts), by page. Only files of that version put any here, so
// the names wait beside the pages rather than in a field each page carries.
std::unordered_map<const WM_PTM_PAGE_INFO*, char*>& pending_backgrounds()
{
    static auto* names = new std::unordered_map<const WM_PTM_PAGE_INFO*, char*>;
    return *names;
}

// The name waiting for `page`, taken out of the table; null when none.
char* take_pending_background(const WM_PTM_PAGE_INFO* page)
{
    auto& names = pending_backgrounds();
    if (names.empty()) {
        return nullptr;
    }
    auto found = names.find(page);
    if (found == names.end()) {
        return nullptr;
    }
    char* name = found->second;
    names.erase(found);
    return name;
}

} // namespace

// ---- page --------------------------------------------------------------------

WM_PTM_PAGE_INFO::WM_PTM_PAGE_INFO() : id(0), change_method(0), background(nullptr) {}

WM_PTM_PAGE_INFO::~WM_PTM_PAGE_INFO()
{
    clear();
}

void WM_PTM_PAGE_INFO::set_name(const char* text)
{
    name.set(text);
}

void WM_PTM_PAGE_INFO::clear()
{
    alloc(0);
    name.clear();
    delete[] take_pending_background(this);
    background = nullptr;
    change_method = 0;
}

void WM_PTM_PAGE_INFO::move_from(WM_PTM_PAGE_INFO& other)
{
    if (&other == this) {
        return;
    }
    clear();
    id = other.id;
    name = std::move(other.name);
    background = other.background;
    change_method = other.change_method;
    WM_PTM_OBJECT_LIST::operator=(std::move(other));
    // The waiting name moves with the page, without a new allocation.
    auto& waiting = pending_backgrounds();
    if (!waiting.empty()) {
        auto node = waiting.extract(&other);
        if (node) {
            node.key() = this;
            waiting.insert(std::move(node));
        }
    }
    other.clear();
}

void WM_PTM_PAGE_INFO::set_background_from_filename(const char* file_name)
{
    background = nullptr;
    WM_PTM_APP_INFO* app = definition();
    if (!file_name || !file_name[0] || !app || !app->create_new_image()) {
        return;
    }
    WM_PTM_IMAGE_INFO* record = app->images[app->image_count - 1];
    char text[20];
    std::snprintf(text, sizeof(text), "Page %x", static_cast<unsigned>(id));
    record->set_name(text);
    record->set_filename(file_name);
    background = record;
}

void WM_PTM_PAGE_INFO::resolve_pending_background()
{
    char* file_name = take_pending_background(this);
    if (file_name) {
        set_background_from_filename(file_name);
        delete[] file_name;
    }
}

bool WM_PTM_PAGE_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_PAGE_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    if (!get_u32(d, id) || !wm_ptm_get_text(d, name)) {
        return false;
    }
    if (version < 17) {
        char* file_name = nullptr;
        if (!wm_ptm_get_text(d, file_name)) {
            return false;
        }
        // Version 8 reads its images after the areas, and reading them
        // replaces the image list: the record is made once they are in.
        if (version != 8 || !file_name) {
            set_background_from_filename(file_name);
            delete[] file_name;
        } else {
            try {
                pending_backgrounds()[this] = file_name;
            } catch (const std::bad_alloc&) {
                delete[] file_name;
                d.error = 1;
                return false;
            }
        }
    } else {
        INT_S32 index = -1;
        if (!get_s32(d, index)) {
            return false;
        }
        WM_PTM_APP_INFO* app = definition();
        if (app && index >= 0 && index < app->image_count) {
            background = app->images[index];
        }
        if (!get_u32(d, change_method)) {
            return false;
        }
    }
    return read_objects(d, version, 0);
}

bool WM_PTM_PAGE_INFO::put_to_data_device(DATA_DEVICE& d)
{
    INT_S32 index = -1;
    WM_PTM_APP_INFO* app = definition();
    for (INT_S32 i = 0; app && background && i < app->image_count; ++i) {
        if (app->images[i] == background) {
            index = i;
            break;
        }
    }
    return put_u32(d, id) && put_string(d, name) && put_s32(d, index) && put_u32(d, change_method) && write_objects(d);
}

// ---- area --------------------------------------------------------------------

WM_PTM_AREA_INFO::WM_PTM_AREA_INFO()
    : name(nullptr), x(0), y(0), width(800), height(600), reserved(0xFFFFFFFF), pages(nullptr), page_count(0)
{}

WM_PTM_AREA_INFO::~WM_PTM_AREA_INFO()
{
    clear();
}

void WM_PTM_AREA_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_AREA_INFO::clear()
{
    wm_ptm_free_array(pages, page_count);
    delete[] name;
    name = nullptr;
    x = y = 0;
    width = 800;
    height = 600;
    reserved = 0xFFFFFFFF;
}

void WM_PTM_AREA_INFO::move_from(WM_PTM_AREA_INFO& other)
{
    if (&other == this) {
        return;
    }
    clear();
    name = other.name;
    x = other.x;
    y = other.y;
    width = other.width;
    height = other.height;
    reserved = other.reserved;
    pages = other.pages;
    page_count = other.page_count;
    other.name = nullptr;
    other.pages = nullptr;
    other.page_count = 0;
    other.clear();
}

void WM_PTM_AREA_INFO::alloc(long n)
{
    wm_ptm_alloc_array(pages, page_count, n, WM_PTM_ARRAY_MAX);
}

bool WM_PTM_AREA_INFO::create_new_page()
{
    const int number = static_cast<int>(page_count) + 1;
    return wm_ptm_grow_array(pages, page_count, WM_PTM_ARRAY_MAX, [number](WM_PTM_PAGE_INFO& page) {
        page.id = get_unique_id();
        char text[20];
        std::snprintf(text, sizeof(text), "Page %d", number);
        page.name.set(text);
        return true;
    });
}

bool WM_PTM_AREA_INFO::delete_page(long index)
{
    return wm_ptm_remove_from_array(pages, page_count, index);
}

void WM_PTM_AREA_INFO::resolve_pending_backgrounds()
{
    for (INT_S32 i = 0; i < page_count; ++i) {
        pages[i].resolve_pending_background();
    }
}

bool WM_PTM_AREA_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_AREA_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    INT_S32 n = 0;
    if (!wm_ptm_get_text(d, name) || !read_rect(d, x, y, width, height) || !get_u32(d, reserved) ||
        !ptm_get_count(d, n, min_page_sz(version))) {
        return false;
    }
    alloc(n);
    if (page_count != n) {
        d.error = 1;
        return false;
    }
    PTM_LIST_CLAIM claim(d, n, min_page_sz(version));
    for (INT_S32 i = 0; i < n; ++i) {
        claim.next_element();
        if (!pages[i].read(d, version)) {
            return false;
        }
    }
    // Two bytes whose meaning is lost; nothing reads them.
    INT_U8 ignored = 0;
    if (version >= 8 && version <= 17) {
        return get_u8(d, ignored) && get_u8(d, ignored);
    }
    return true;
}

bool WM_PTM_AREA_INFO::put_to_data_device(DATA_DEVICE& d)
{
    if (!put_string(d, name) || !write_rect(d, x, y, width, height) || !put_u32(d, reserved) ||
        !put_u32(d, static_cast<INT_U32>(page_count))) {
        return false;
    }
    for (INT_S32 i = 0; i < page_count; ++i) {
        if (!pages[i].put_to_data_device(d)) {
            return false;
        }
    }
    return true;
}

// ---- dialog ------------------------------------------------------------------

WM_PTM_DIALOG_INFO::WM_PTM_DIALOG_INFO() : name(nullptr), title(nullptr), x(-1), y(-1), width(200), height(200) {}

WM_PTM_DIALOG_INFO::~WM_PTM_DIALOG_INFO()
{
    clear();
}

void WM_PTM_DIALOG_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_DIALOG_INFO::set_title(const char* text)
{
    wm_ptm_set_text(title, text);
}

void WM_PTM_DIALOG_INFO::clear()
{
    alloc(0);
    delete[] name;
    name = nullptr;
    delete[] title;
    title = nullptr;
    x = y = -1;
    width = height = 200;
}

bool WM_PTM_DIALOG_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_DIALOG_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    return wm_ptm_get_text(d, name) && wm_ptm_get_text(d, title) && read_rect(d, x, y, width, height) &&
           read_objects(d, version, 0);
}

bool WM_PTM_DIALOG_INFO::put_to_data_device(DATA_DEVICE& d)
{
    return put_string(d, name) && put_string(d, title) && write_rect(d, x, y, width, height) && write_objects(d);
}

// ---- font --------------------------------------------------------------------

WM_PTM_FONT_INFO::WM_PTM_FONT_INFO() : name(nullptr), filename(nullptr), font_slot(255), held_slot(-1)
{
    path.set("$APPDATA/fonts");
}

WM_PTM_FONT_INFO::~WM_PTM_FONT_INFO()
{
    clear();
}

void WM_PTM_FONT_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_FONT_INFO::set_filename(const char* text)
{
    wm_ptm_set_text(filename, text);
}

void WM_PTM_FONT_INFO::clear()
{
    // Only a slot this record installed: -1 would free every font, and a
    // requested slot may belong to another record.
    if (held_slot >= 0 && IMAGE::is_font_system_setup()) {
        IMAGE::free_font(held_slot);
    }
    held_slot = -1;
    font_slot = 255;
    delete[] name;
    name = nullptr;
    delete[] filename;
    filename = nullptr;
    path.set("$APPDATA/fonts");
}

char WM_PTM_FONT_INFO::load_font()
{
    INT_U8 wanted = font_slot;
    if (held_slot >= 0 && IMAGE::is_font_system_setup()) {
        IMAGE::free_font(held_slot);
    }
    held_slot = -1;
    font_slot = 255;
    // Without the font system, installing is fatal; an unknown alias would
    // end the program in FOLDER::set.
    if (!IMAGE::is_font_system_setup() || !filename || !FOLDER::alias_is_known(path)) {
        return -1;
    }
    // The loader opens the file through the folder, which refuses anything
    // but a plain file, and hands the face that very file. The folder starts
    // on the path itself rather than on "$APP" (a walk of the disk of its
    // own); within a definition's read, asking again for the result costs
    // only the lookup of the path worked out once.
    FOLDER folder(path);
    if (!folder.set(path)) {
        return -1;
    }
    INT_S8 ask = wanted < 128 ? static_cast<INT_S8>(wanted) : -1;
    INT_S8 got = IMAGE::load_font(filename, name, ask, &folder);
    if (got < 0 && ask != -1) {
        got = IMAGE::load_font(filename, name, -1, &folder);
    }
    if (got >= 0) {
        held_slot = got;
        font_slot = static_cast<INT_U8>(got);
    }
    return static_cast<char>(got);
}

bool WM_PTM_FONT_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_FONT_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    if (version < 8) {
        return true;
    }
    if (!wm_ptm_get_text(d, name) || !wm_ptm_get_text(d, filename) || !read_path(d, version, path)) {
        return false;
    }
    if (version >= 14 && !get_u8(d, font_slot)) {
        return false;
    }
    load_font();
    return true;
}

bool WM_PTM_FONT_INFO::put_to_data_device(DATA_DEVICE& d)
{
    return put_string(d, name) && put_string(d, filename) && put_path_block(d, path) && put_u8(d, font_slot);
}

// ---- image -------------------------------------------------------------------

WM_PTM_IMAGE_INFO::WM_PTM_IMAGE_INFO() : name(nullptr), image(nullptr), filename(nullptr)
{
    path.set("$APPDATA/images");
}

WM_PTM_IMAGE_INFO::~WM_PTM_IMAGE_INFO()
{
    // As clear, less the default folder that nothing would read.
    release_image();
    delete[] name;
    delete[] filename;
}

void WM_PTM_IMAGE_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_IMAGE_INFO::set_filename(const char* text)
{
    wm_ptm_set_text(filename, text);
}

void WM_PTM_IMAGE_INFO::release_image()
{
    if (image) {
        IMAGE_CACHE::CACHE_ENTRY* entry = WM_SCREEN_OBJECT::image_cache.get_entry(image);
        if (entry) {
            WM_SCREEN_OBJECT::image_cache.do_close(entry);
        }
    }
    image = nullptr;
}

void WM_PTM_IMAGE_INFO::clear()
{
    release_image();
    delete[] name;
    name = nullptr;
    delete[] filename;
    filename = nullptr;
    path.set("$APPDATA/images");
}

IMAGE* WM_PTM_IMAGE_INFO::load_image()
{
    release_image();
    if (filename && FOLDER::alias_is_known(path)) {
        image = WM_SCREEN_OBJECT::image_cache.open_image(path, filename, -1, -1, 0);
    }
    return image;
}

bool WM_PTM_IMAGE_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_IMAGE_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    if (version < 8) {
        return true;
    }
    if (!wm_ptm_get_text(d, name) || !wm_ptm_get_text(d, filename) || !read_path(d, version, path)) {
        return false;
    }
    load_image();
    return true;
}

bool WM_PTM_IMAGE_INFO::put_to_data_device(DATA_DEVICE& d)
{
    return put_string(d, name) && put_string(d, filename) && put_path_block(d, path);
}

// ---- colour ------------------------------------------------------------------

WM_PTM_COLOUR_INFO::WM_PTM_COLOUR_INFO() : name(nullptr), colour(0xFF000000) {}

WM_PTM_COLOUR_INFO::~WM_PTM_COLOUR_INFO()
{
    clear();
}

void WM_PTM_COLOUR_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_COLOUR_INFO::clear()
{
    delete[] name;
    name = nullptr;
    colour = 0xFF000000;
}

bool WM_PTM_COLOUR_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_COLOUR_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    if (version < 8) {
        return true;
    }
    INT_U32 value = 0;
    if (!wm_ptm_get_text(d, name) || !get_u32(d, value)) {
        return false;
    }
    colour = value;
    return true;
}

bool WM_PTM_COLOUR_INFO::put_to_data_device(DATA_DEVICE& d)
{
    return put_string(d, name) && put_u32(d, colour.value);
}

// ---- constant ----------------------------------------------------------------

WM_PTM_CONSTANT_INFO::WM_PTM_CONSTANT_INFO() : name(nullptr), value("") {}

WM_PTM_CONSTANT_INFO::~WM_PTM_CONSTANT_INFO()
{
    clear();
}

void WM_PTM_CONSTANT_INFO::set_name(const char* text)
{
    wm_ptm_set_text(name, text);
}

void WM_PTM_CONSTANT_INFO::clear()
{
    delete[] name;
    name = nullptr;
    value.set(value.value, "");
}

bool WM_PTM_CONSTANT_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version);
}

bool WM_PTM_CONSTANT_INFO::read(DATA_DEVICE& d, INT_U16 version)
{
    clear();
    if (version < 8) {
        return true;
    }
    if (!wm_ptm_get_text(d, name)) {
        return false;
    }
    if (version >= 17) {
        return value.get_from_data_device(d);
    }
    // Older files hold a number, kept as its signed decimal text.
    INT_U32 number = 0;
    if (!get_u32(d, number)) {
        return false;
    }
    value.reset_to_type(8);
    value.set(value.value, static_cast<long>(static_cast<INT_S32>(number)));
    return true;
}

bool WM_PTM_CONSTANT_INFO::put_to_data_device(DATA_DEVICE& d)
{
    return put_string(d, name) && value.put_to_data_device(d);
}
