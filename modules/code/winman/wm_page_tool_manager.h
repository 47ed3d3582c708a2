#ifndef KIVO_WM_PAGE_TOOL_MANAGER_H
#define KIVO_WM_PAGE_TOOL_MANAGER_H

// WM_PAGE_TOOL_MANAGER: the one owner of the loaded page definition ("pages.bin")
// and of the page manager built from it: its life cycle, loading and saving
// the definition, the named lookups, and turning the records into the
// running interface (start-up, pages and dialogs built from records).
#include "data_device.h"
#include "folder.h"
#include "kivo_types.h"
#include "wm_ptm_app_info.h"
#include "wm_screen_object.h"

class WM_PAGE_MANAGER;
class WM_AREA;
class WM_DIALOG;

// 1 when a w x h picture is within WM_MAX_PICTURE_SIDE and
// WM_MAX_PICTURE_PIXELS and not empty.
INT_U8 wm_picture_size_ok(long w, long h);

// Builds an application-defined widget from a record of type 0; null: none.
typedef WM_SCREEN_OBJECT* (*WM_PTM_GENERIC_OBJECT_HOOK)(WM_PTM_OBJECT_INFO& info, WM_OBJECT_CALLBACK callback,
                                                        void* data);

class WM_PAGE_TOOL_MANAGER : public WM_PTM_APP_INFO
{
public:
    static constexpr INT_U16 newest_version = 25;

    INT_U8 loaded;                 // 1 after a definition was read completely
    WM_PAGE_MANAGER* page_manager; // owned, null until made

    // The one instance; null before construction and after destruction.
    static inline WM_PAGE_TOOL_MANAGER*& me = wm_context.definition.me;
    // Version of the file being read; the records consult it.
    static inline INT_U16& file_version = wm_context.definition.file_version;
    // Optional progress hook, called with loading_data while a file is read.
    static inline void (*&loading_callback)(void* data) = wm_context.definition.loading_callback;
    static inline void*& loading_data = wm_context.definition.loading_data;
    // Makes the widgets of object records of type 0, with generic_object_data.
    static inline WM_PTM_GENERIC_OBJECT_HOOK& generic_object_callback =
        wm_context.state.page_tool_manager.generic_object_callback;
    static inline void*& generic_object_data = wm_context.state.page_tool_manager.generic_object_data;

    // A second manager while one exists ends the program (0x6C).
    WM_PAGE_TOOL_MANAGER();
    ~WM_PAGE_TOOL_MANAGER() override;
    WM_PAGE_TOOL_MANAGER(const WM_PAGE_TOOL_MANAGER&) = delete;
    WM_PAGE_TOOL_MANAGER& operator=(const WM_PAGE_TOOL_MANAGER&) = delete;

    // Reads the definition. `images` (may be null) receives whether the file
    // embeds its images. On failure the current error is 0x100C (no such
    // file) or 0x1007 with the file's name, "KIVO Modules" tells where
    // reading stopped, and `loaded` is 0 when the record was partly read.
    // The five named lists are sorted whatever the result.
    bool load(FOLDER& folder, const char* file_name, unsigned char* images);
    // Everything load does after opening: from the version (the device's
    // swap flag already set) to the end of the application record. Does
    // not sort and does not change `loaded`.
    bool read_definition(DATA_DEVICE& d, unsigned char* images);
    // Writes the version-25 file (lists in their current order) as a
    // whole-file save: the old file stays as it was unless all succeeded.
    bool save(FOLDER& folder, const char* file_name, unsigned char images);
    // The same onto a device, from the version on.
    bool write_definition(DATA_DEVICE& d, unsigned char images);

    // Binary searches of the sorted lists; `index` (may be null) gets the
    // position or -1. Null when the name is not there.
    WM_STYLE_SET* find_style_set(const char* name, long* index = nullptr);
    WM_PTM_FONT_INFO* find_font(const char* name, long* index = nullptr);
    WM_PTM_COLOUR_INFO* find_colour(const char* name, long* index = nullptr);
    WM_PTM_IMAGE_INFO* find_image(const char* name, long* index = nullptr);
    WM_PTM_CONSTANT_INFO* find_constant(const char* name, long* index = nullptr);

    // qsort/bsearch comparators over pointers to record pointers: strcmp of
    // the names, a null name counting as "".
    static int compare_style_sets(const void* a, const void* b);
    static int compare_fonts(const void* a, const void* b);
    static int compare_colours(const void* a, const void* b);
    static int compare_images(const void* a, const void* b);
    static int compare_constants(const void* a, const void* b);

    void sort_style_sets();
    void sort_fonts();
    void sort_colours();
    void sort_images();
    void sort_constants();

    // ---- start-up (each does nothing while nothing is loaded) ----------
    // Copies the definition's defaults into the widget classes; `pm`
    // (may be null) replaces the page manager, else one is made with the
    // file's area count. The page manager in use, or null.
    WM_PAGE_MANAGER* init_app(WM_PAGE_MANAGER* pm);
    // Opens window 0 at the file's size and paints its background with the
    // file's colour. The open_window result, or 0.
    INT_U8 open_graphics();
    // Reopens the window with the other full-screen flag; on failure the
    // old one is restored and 0 returned.
    INT_U8 toggle_fullscreen();
    // Shows the logo page first when the file asks for it (once per run),
    // else places the areas at once. `starting_pages` is called after.
    void init_areas(void (*starting_pages)());
    // Places every area by its record and calls the starting-pages
    // callback. 11 (the mix), or 0 while nothing is loaded.
    static WM_MESG setup_pages();

    // ---- building from records ------------------------------------------
    // Builds the page `page_id` of the area (-1: the current one) into the
    // current area: background, then widgets. 0 for an unknown area or page.
    INT_U8 setup_page(unsigned long page_id, WM_OBJECT_CALLBACK callback, long area);
    // Builds `count` records under `parent` (may be null), children first.
    void create_objects(WM_SCREEN_OBJECT* parent, WM_OBJECT_CALLBACK callback, WM_PTM_OBJECT_INFO* objects, long count);
    // A new dialog from the record named exactly `name`; null when none.
    WM_DIALOG* create_dialog(const char* name, WM_OBJECT_CALLBACK callback);
    // The page's own change method, else the definition's default.
    WM_MESG get_page_change_method(unsigned long page_id, long area);

    // Font lookups for reading and writing style sets; `tool_manager` is
    // the manager. The slot of the named font (by record name, else by
    // file name), or -1.
    static char style_set_read_find_font(const char* name, void* tool_manager);
    // The file name of the first font record holding that slot, or null.
    static const char* style_set_write_find_font(char font, void* tool_manager);

    // ---- resources from folders of loose files (wm_ptm_folders.cpp) ----
    // Each loads every matching file of the folder and of its subfolders:
    // fonts (".ttf", then ".otf"; the outermost call sorts the list and
    // installs them once), style sets (".ss"; with `resave` each set read
    // is written back in place), and constants, images and colours (every
    // ".cfg" of the tree, so each kind needs its own folder).
    void load_fonts(FOLDER& folder);
    void load_style_sets(FOLDER& folder, unsigned char resave);
    void load_constants(FOLDER& folder);
    void load_images(FOLDER& folder);
    void load_colours(FOLDER& folder);
    // Listing callbacks; `tool_manager` is the manager.
    static void load_fonts_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);
    static void load_style_sets_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);
    static void load_constants_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);
    static void load_images_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);
    static void load_colours_callback(FOLDER_CONTENT_ENTRY* entry, void* tool_manager);
    // One key and value of a ".cfg" file into a new record of `me`.
    static void add_constant(char* key, char* value, void* data);
    static bool add_image(char* key, char* value, void* data);
    static void add_colour(char* key, char* value, void* data);
    // A page of `area` (else area 0, made when there is none) from the
    // current area's widgets, then save; the result of save.
    bool add_page(FOLDER folder, const char* file_name, short area, unsigned char images);
    // One record per screen object, into the page, else the parent's
    // children; nothing when both are null.
    void add_screen_objects(PTRLLIST& list, class WM_PTM_PAGE_INFO* page, class WM_PTM_OBJECT_INFO* parent);
    // ---- end of resources from folders ----

private:
    void call_loading_callback();
    // The page manager's area object for record index i, when it has one.
    WM_AREA* area_object(long i);
};

#endif
