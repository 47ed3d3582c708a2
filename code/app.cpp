// The name program's side of start-up: reading its page definition, opening
// the window, queueing the first page, and building its list boxes and edits.
#include "app.h"

#include "database.h"
#include "errors.h"
#include "folder.h"
#include "host_window.h"
#include "image.h"
#include "kivo_host.h"
#include "pages/settings_page.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_ptm_records.h"
#include "wm_text_edit.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// What create_generic_objects reads on its first call. Style sets are its
// own copies: a definition loaded again would free the records.
struct GENERIC_KINDS
{
    INT_U8 first_pass = 1;
    INT_U8 listbox_found = 0, editbox_found = 0;
    INT_S16 listbox_id = 0, editbox_id = 0;
    WM_STYLE_SET* grid_style_set = nullptr;
    WM_STYLE_SET* grid_sb_style_set = nullptr;
};

GENERIC_KINDS kinds;

void read_kind(const char* name, INT_U8& found, INT_S16& id)
{
    WM_PTM_CONSTANT_INFO* c = ptm.find_constant(name);
    found = c != nullptr;
    id = found ? static_cast<INT_S16>(c->value.get_long(c->value.value)) : 0;
}

WM_STYLE_SET* copy_style_set(const char* name)
{
    WM_STYLE_SET* s = ptm.find_style_set(name);
    return s != nullptr ? new WM_STYLE_SET(*s) : nullptr;
}

// The line that ends the program when its definition cannot be used.
std::string definition_fault(FOLDER& folder, bool missing)
{
    const std::string path = folder.get_path_string("pages.bin");
    return "Error: the page definition " + (path.empty() ? std::string("pages.bin") : path) +
           (missing ? " was not found." : " is damaged or cannot be read.");
}

// Where a font file is looked for: in its folder, or, where that folder is
// missing, where "$FONTDATA" would have it, the "fonts" folder beside the
// program's data.
std::string font_file_path(const char* alias_path, const char* file)
{
    const std::string alias = alias_path ? alias_path : "";
    FOLDER folder;
    if (FOLDER::alias_is_known(alias.c_str()) && folder.set(alias.c_str())) {
        return folder.get_path_string(file);
    }
    const std::string fonts = "$FONTDATA";
    if (alias.compare(0, fonts.size(), fonts) == 0) {
        FOLDER data("$APPDATA");
        return data.get_path_string("fonts") + alias.substr(fonts.size()) + "/" + file;
    }
    return alias + "/" + file;
}

std::string font_fault(const std::string& path)
{
    struct stat st;
    const bool missing = stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
    return "Error: the font " + path + (missing ? " was not found." : " is damaged or cannot be read.");
}

// The line that ends the program when a font it draws with is not loaded:
// every font of the definition, the known fonts its style sets name and
// the default one. Without them the window would show no text, or text
// in another face, and say nothing. Empty when every one is there.
std::string missing_font()
{
    for (INT_S32 i = 0; i < ptm.font_count; i++) {
        const WM_PTM_FONT_INFO* f = ptm.fonts[i];
        if (f && f->font_slot == 255) {
            return font_fault(font_file_path(f->path, f->filename ? f->filename : ""));
        }
    }
    std::vector<INT_S8> slots = {IMAGE().font_slot};
    for (INT_S32 i = 0; i < ptm.style_set_count; i++) {
        if (ptm.style_sets[i] && ptm.style_sets[i]->font_id >= 0) {
            slots.push_back(ptm.style_sets[i]->font_id);
        }
    }
    for (INT_S8 slot : slots) {
        const char* file = IMAGE::get_font_info_filename(slot);
        if (file && !IMAGE::is_font_valid(slot)) {
            return font_fault(font_file_path("$FONTDATA", file));
        }
    }
    return "";
}

bool matches(INT_U8 found, INT_S16 id, INT_U32 generic_type)
{
    return found && static_cast<INT_S32>(generic_type) == static_cast<INT_S32>(id);
}

} // namespace

void release_app_resources()
{
    delete ptm.page_manager;
    ptm.page_manager = nullptr;
    ptm.clear();
    delete kinds.grid_style_set;
    delete kinds.grid_sb_style_set;
    kinds = GENERIC_KINDS();
}

WM_SCREEN_OBJECT* create_generic_objects(WM_PTM_OBJECT_INFO& info, WM_OBJECT_CALLBACK callback, void*)
{
    if (kinds.first_pass) {
        read_kind("GENERIC_OBJ_LISTBOX", kinds.listbox_found, kinds.listbox_id);
        read_kind("GENERIC_OBJ_EDITBOX", kinds.editbox_found, kinds.editbox_id);
        kinds.grid_style_set = copy_style_set("Listbox Popup");
        kinds.grid_sb_style_set = copy_style_set("Grid Scrollbar");
        kinds.first_pass = 0;
    }
    void* aid = reinterpret_cast<void*>(static_cast<uintptr_t>(info.aid));
    void* user = reinterpret_cast<void*>(static_cast<uintptr_t>(info.user_data));
    if (matches(kinds.listbox_found, kinds.listbox_id, info.generic_type)) {
        if (info.style_set == nullptr || kinds.grid_style_set == nullptr || kinds.grid_sb_style_set == nullptr) {
            return nullptr;
        }
        INT_S16 x2 = static_cast<INT_S16>(info.x + info.width - 1);
        INT_S16 y2 = static_cast<INT_S16>(info.y + info.height - 1);
        return new WM_LIST_BOX(info.x, info.y, x2, y2, 5, 0, nullptr, 0, *info.style_set, *kinds.grid_style_set,
                               *kinds.grid_sb_style_set, nullptr, nullptr, nullptr, nullptr, callback, aid, user,
                               nullptr);
    }
    if (matches(kinds.editbox_found, kinds.editbox_id, info.generic_type)) {
        if (info.style_set == nullptr) {
            return nullptr;
        }
        return new WM_TEXT_EDIT(info.x, info.y, info.width, 20, info.text, *info.style_set, callback, aid, user);
    }
    return nullptr;
}

void starting_pages()
{
    new SETTINGS_PAGE(*ptm.page_manager);
}

void app_construct(short, char**)
{
    // The host may end the program from inside any step (a window that
    // cannot open ends it there). Registered now, after every static was
    // built, the release runs before any of them is destroyed.
    std::atexit(release_app_resources);
    FOLDER* folder = new FOLDER("$APPDATA");
    WM_PAGE_TOOL_MANAGER::generic_object_callback = create_generic_objects;
    WM_PAGE_TOOL_MANAGER::generic_object_data = nullptr;
    if (!ptm.load(*folder, "pages.bin", nullptr)) {
        // Without its pages the program has nothing to show: one line
        // saying where it looked and why, and a failure instead of vanishing.
        const std::string reason = definition_fault(*folder, current_error_code == ERRCODE_FILE_NOT_FOUND);
        delete folder;
        release_app_resources();
        exit_app(reason.c_str(), 1);
    }
    const std::string font = missing_font();
    if (!font.empty()) {
        delete folder;
        release_app_resources();
        exit_app(font.c_str(), 1);
    }
    db.load();
    ptm.init_app(nullptr);
    if (!ptm.open_graphics()) {
        delete folder;
        release_app_resources();
        display_error(ERR_WINDOW_OPEN);
    }
    set_window_close_handler(wch_exit_on_any_window_close);
    ptm.init_areas(starting_pages);
    delete folder;
}

bool app_main()
{
    WM_PAGE_MANAGER* manager = ptm.page_manager;
    return manager != nullptr && manager->monitor(1) != WM_MESG_END_RUN;
}

void app_destruct()
{
    release_app_resources();
}
