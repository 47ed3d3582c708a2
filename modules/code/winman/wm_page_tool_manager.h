#ifndef KIVO_WM_PAGE_TOOL_MANAGER_H
#define KIVO_WM_PAGE_TOOL_MANAGER_H

// WM_PAGE_TOOL_MANAGER: the one owner of the loaded page definition ("pages.bin")
// and of the page manager built from it. This file holds its life cycle,
// loading and saving the definition, and the named lookups.
#include "data_device.h"
#include "folder.h"
#include "kivo_types.h"
#include "wm_ptm_app_info.h"

class WM_PAGE_MANAGER;

class WM_PAGE_TOOL_MANAGER : public WM_PTM_APP_INFO
{
public:
    static constexpr INT_U16 newest_version = 25;

    INT_U8 loaded; // 1 after a definition was read completely
    WM_PAGE_MANAGER* page_manager; // owned, null until made

    // The one instance; null before construction and after destruction.
    static WM_PAGE_TOOL_MANAGER* me;
    // Version of the file being read; the records consult it.
    static INT_U16 file_version;
    // Optional progress hook, called with loading_data while a file is read.
    static void (*loading_callback)(void* data);
    static void* loading_data;

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

private:
    void call_loading_callback();
};

#endif
