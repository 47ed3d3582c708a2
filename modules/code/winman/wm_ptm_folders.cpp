// The page tool manager's loaders of loose resource files: fonts, style
// sets, and named constants, images and colours from ".cfg" files, each
// found through a whole folder tree; and a page record made from the
// widgets on screen.
#include "config_file.h"
#include "settings_lock.h"
#include "wm_page_manager.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

// The folder being listed; image and font records take their path from it.
FOLDER* load_current_path = nullptr;
INT_U8 load_resave_style_sets = 0;

typedef void (*ENTRY_CALLBACK)(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);

// Every entry ending in `ending` (case counts), and every directory.
void list_folder(FOLDER& folder, const char* ending, ENTRY_CALLBACK callback, void* tool_manager)
{
    FOLDER_CONTENTS_LIST* list = folder.start_contents_list(ending, 1, fft_ends_with, 0);
    if (!list) {
        return;
    }
    FOLDER_CONTENT_ENTRY e;
    while (FOLDER::get_contents_list_entry(list, e)) {
        callback(&e, tool_manager);
    }
    FOLDER::stop_contents_list(list);
}

// A directory entry: the same listing inside it. False for a file.
bool descend(FOLDER_CONTENT_ENTRY* entry, const char* ending, ENTRY_CALLBACK callback, void* tool_manager)
{
    if (!entry->is_directory) {
        return false;
    }
    FOLDER sub(*entry->folder);
    if (sub.move_down(entry->name)) {
        FOLDER* saved = load_current_path;
        load_current_path = &sub;
        list_folder(sub, ending, callback, tool_manager);
        load_current_path = saved;
    }
    return true;
}

void notify_loading()
{
    if (WM_PAGE_TOOL_MANAGER::loading_callback) {
        WM_PAGE_TOOL_MANAGER::loading_callback(WM_PAGE_TOOL_MANAGER::loading_data);
    }
}

// The records of one ".cfg" file, in key order.
void read_cfg(FOLDER_CONTENT_ENTRY* entry, CONFIG_FILE::READ_ALL_CALLBACK add, void* tool_manager)
{
    notify_loading();
    CONFIG_FILE cfg;
    cfg.set_filename(entry->name, 1);
    cfg.read_all(*entry->folder, add, tool_manager);
}

void add_image_entry(char* key, char* value, void* data)
{
    WM_PAGE_TOOL_MANAGER::add_image(key, value, data);
}

void load_cfg_tree(FOLDER& folder, ENTRY_CALLBACK callback, void* tool_manager)
{
    FOLDER* saved = load_current_path;
    load_current_path = &folder;
    list_folder(folder, ".cfg", callback, tool_manager);
    load_current_path = saved;
}

// The alias path of the folder being listed ("" when it has none).
void current_path_into(WM_PTM_TEXT& path)
{
    char text[DATA_PATH_BLOCK_SZ];
    if (!load_current_path || !load_current_path->get(text)) {
        text[0] = 0;
    }
    path.set(text);
}

// Longest set file name whose new file's name ("." + name + ".ss-new")
// still fits an entry name.
constexpr std::size_t MAX_RESAVED_NAME = 200;

// Written beside the source and moved over it only when complete, so a
// failed write leaves the source as it was. The source stays locked
// meanwhile, so the new file's name, fixed by the source's, can only be
// found there already when a rewrite of the same set was killed: that
// file is removed first.
void resave_style_set(WM_STYLE_SET& set, FOLDER& folder, const char* name, void* tool_manager)
{
    if (std::strlen(name) > MAX_RESAVED_NAME) {
        return;
    }
    const std::string temp = "." + std::string(name) + ".ss-new";
    const std::string target = folder.get_path_string(name);
    const std::string temp_path = folder.get_path_string(temp.c_str());
    if (target.empty() || temp_path.empty()) {
        return;
    }
    SETTINGS_LOCK lock(target.c_str());
    if (!lock.held()) {
        return;
    }
    // Anything else by that name was not made by a rewrite: it stays, and
    // the set is not rewritten through it.
    struct stat st;
    if (lstat(temp_path.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || st.st_uid != geteuid() || !folder.remove(temp.c_str()))) {
        return;
    }
    CONFIG_FILE out;
    out.set_filename(temp.c_str(), 1);
    const bool written =
        set.write_to_config_file(out, WM_PAGE_TOOL_MANAGER::style_set_write_find_font, tool_manager, &folder);
    if (!written || !FOLDER::replace_file(temp_path.c_str(), target.c_str())) {
        folder.remove(temp.c_str());
    }
}

} // namespace

// ---- fonts -------------------------------------------------------------------

void WM_PAGE_TOOL_MANAGER::load_fonts(FOLDER& folder)
{
    static INT_U8 master = 1;
    const INT_U8 was_master = master;
    master = 0;
    FOLDER* saved = load_current_path;
    load_current_path = &folder;
    list_folder(folder, ".ttf", load_fonts_callback, this);
    FOLDER_CONTENTS_LIST* list = folder.start_contents_list(".otf", 1, fft_ends_with, 0);
    if (list) {
        FOLDER_CONTENT_ENTRY e;
        while (FOLDER::get_contents_list_entry(list, e)) {
            if (!e.is_directory) {
                load_fonts_callback(&e, this);
            }
        }
        FOLDER::stop_contents_list(list);
    }
    master = was_master;
    if (was_master) {
        sort_fonts();
        for (INT_S32 i = 0; i < font_count; i++) {
            fonts[i]->load_font();
        }
    }
    load_current_path = saved;
}

void WM_PAGE_TOOL_MANAGER::load_fonts_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager)
{
    auto* ptm = static_cast<WM_PAGE_TOOL_MANAGER*>(tool_manager);
    if (entry->is_directory) {
        FOLDER sub(*entry->folder);
        if (sub.move_down(entry->name)) {
            ptm->load_fonts(sub);
        }
        return;
    }
    notify_loading();
    if (!ptm->create_new_font()) {
        return;
    }
    WM_PTM_FONT_INFO* font = ptm->fonts[ptm->font_count - 1];
    const std::string file = entry->name;
    font->set_filename(file.c_str());
    font->set_name(file.substr(0, file.size() >= 4 ? file.size() - 4 : 0).c_str());
    current_path_into(font->path);
}

// ---- style sets --------------------------------------------------------------

void WM_PAGE_TOOL_MANAGER::load_style_sets(FOLDER& folder, unsigned char resave)
{
    load_resave_style_sets = resave;
    FOLDER* saved = load_current_path;
    load_current_path = &folder;
    list_folder(folder, ".ss", load_style_sets_callback, this);
    load_current_path = saved;
}

void WM_PAGE_TOOL_MANAGER::load_style_sets_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager)
{
    if (descend(entry, ".ss", load_style_sets_callback, tool_manager)) {
        return;
    }
    notify_loading();
    auto* ptm = static_cast<WM_PAGE_TOOL_MANAGER*>(tool_manager);
    if (!ptm->create_new_style_set()) {
        return;
    }
    const long index = ptm->style_set_count - 1;
    FOLDER& folder = *entry->folder;
    CONFIG_FILE cfg;
    cfg.set_filename(entry->name, 1);
    // A set that does not read whole adds nothing, and its file must not
    // be rewritten from what was partly read.
    if (!ptm->style_sets[index]->read_from_config_file(cfg, style_set_read_find_font, ptm, &folder)) {
        ptm->delete_style_set(index);
        return;
    }
    if (!load_resave_style_sets) {
        return;
    }
    resave_style_set(*ptm->style_sets[index], folder, entry->name, ptm);
}

// ---- constants, images, colours ---------------------------------------------

void WM_PAGE_TOOL_MANAGER::load_constants(FOLDER& folder)
{
    load_cfg_tree(folder, load_constants_callback, this);
}

void WM_PAGE_TOOL_MANAGER::load_images(FOLDER& folder)
{
    load_cfg_tree(folder, load_images_callback, this);
}

void WM_PAGE_TOOL_MANAGER::load_colours(FOLDER& folder)
{
    load_cfg_tree(folder, load_colours_callback, this);
}

void WM_PAGE_TOOL_MANAGER::load_constants_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager)
{
    if (!descend(entry, ".cfg", load_constants_callback, tool_manager)) {
        read_cfg(entry, add_constant, tool_manager);
    }
}

void WM_PAGE_TOOL_MANAGER::load_images_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager)
{
    if (!descend(entry, ".cfg", load_images_callback, tool_manager)) {
        read_cfg(entry, add_image_entry, tool_manager);
    }
}

void WM_PAGE_TOOL_MANAGER::load_colours_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager)
{
    if (!descend(entry, ".cfg", load_colours_callback, tool_manager)) {
        read_cfg(entry, add_colour, tool_manager);
    }
}

void WM_PAGE_TOOL_MANAGER::add_constant(char* key, char* value, void*)
{
    if (!me || !me->create_new_constant()) {
        return;
    }
    WM_PTM_CONSTANT_INFO* c = me->constants[me->constant_count - 1];
    c->set_name(key);
    c->value.set(c->value.value, value);
}

bool WM_PAGE_TOOL_MANAGER::add_image(char* key, char* value, void*)
{
    if (!me || !me->create_new_image()) {
        return false;
    }
    WM_PTM_IMAGE_INFO* im = me->images[me->image_count - 1];
    im->set_name(key);
    current_path_into(im->path);
    im->set_filename(value);
    return im->load_image() != nullptr;
}

void WM_PAGE_TOOL_MANAGER::add_colour(char* key, char* value, void*)
{
    if (!me || !me->create_new_colour()) {
        return;
    }
    WM_PTM_COLOUR_INFO* c = me->colours[me->colour_count - 1];
    c->set_name(key);
    c->colour.set_from_string(value);
}

// ---- a page from the screen --------------------------------------------------

bool WM_PAGE_TOOL_MANAGER::add_page(FOLDER folder, const char* file_name, short area, unsigned char images)
{
    if (area < 0 || area >= area_count) {
        area = 0;
        if (area_count == 0) {
            create_new_area();
        }
    }
    if (area_count > 0 && areas[area].create_new_page()) {
        WM_PTM_AREA_INFO& a = areas[area];
        WM_PAGE_MANAGER* pm = WM_SCREEN_OBJECT::pm;
        // Without a page manager there is no screen to take: an empty page.
        if (pm && pm->current_area) {
            add_screen_objects(pm->current_area->objects, &a.pages[a.page_count - 1], nullptr);
        }
    }
    return save(folder, file_name, images);
}

void WM_PAGE_TOOL_MANAGER::add_screen_objects(PTRLLIST& list, WM_PTM_PAGE_INFO* page, WM_PTM_OBJECT_INFO* parent)
{
    WM_PTM_OBJECT_LIST* records = page ? static_cast<WM_PTM_OBJECT_LIST*>(page) : parent;
    if (!records) {
        return;
    }
    for (const LISTNODE* n = list.head; n; n = n->next) {
        if (records->create_new_object(0)) {
            records->objects[records->object_count - 1] = static_cast<WM_SCREEN_OBJECT*>(PTRLLIST::stored_pointer(n));
        }
    }
}
