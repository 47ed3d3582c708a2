#ifndef KIVO_WM_PTM_RECORDS_H
#define KIVO_WM_PTM_RECORDS_H

// The page definition's records besides the application and object records:
// areas with their pages, dialogs, and the named fonts, images, colours and
// constants. Texts are new[] copies owned by their record (null = none), or
// WM_PTM_TEXTs, which keep short texts inside them.
// get_from_data_device reads the version in WM_PAGE_TOOL_MANAGER::file_version;
// read() takes it as an argument. Writers always write version 25.
#include "colour.h"
#include "data_device.h"
#include "image.h"
#include "kivo_types.h"
#include "param.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_text.h"

class WM_PTM_IMAGE_INFO;

// A page of an area; the records of its widgets are in `objects`.
class WM_PTM_PAGE_INFO : public DATA_DEVICE_CLIENT, public WM_PTM_OBJECT_LIST
{
public:
    INT_U32 id;            // the id pages ask for; clear keeps it
    INT_U32 change_method; // page-change message; 0 = the default
    WM_PTM_TEXT name;
    WM_PTM_IMAGE_INFO* background; // in the application's images; not owned

    WM_PTM_PAGE_INFO();
    ~WM_PTM_PAGE_INFO() override;
    WM_PTM_PAGE_INFO(const WM_PTM_PAGE_INFO&) = delete;
    WM_PTM_PAGE_INFO& operator=(const WM_PTM_PAGE_INFO&) = delete;

    void set_name(const char* text);
    // Frees the objects and the name; background none, change_method 0.
    void clear();
    // Takes over every field of `other` (nothing copied), which is cleared.
    void move_from(WM_PTM_PAGE_INFO& other);
    // Null or "": no background. Otherwise appends an image record named
    // "Page %x" (the id) with this file name to the manager's images; it
    // keeps the default folder and is not opened.
    void set_background_from_filename(const char* file_name);
    // Version 8 files list their areas before their images: a page read
    // from one keeps its background's file name aside until the image list
    // is in, then this makes it the image record. Nothing for other pages.
    void resolve_pending_background();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

class WM_PTM_AREA_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;
    INT_S16 x, y;
    INT_S16 width, height;   // 800 x 600 by default
    INT_U32 reserved;        // kept and written back; 0xFFFFFFFF by default
    WM_PTM_PAGE_INFO* pages; // new[], null when none
    INT_S32 page_count;

    WM_PTM_AREA_INFO();
    ~WM_PTM_AREA_INFO() override;
    WM_PTM_AREA_INFO(const WM_PTM_AREA_INFO&) = delete;
    WM_PTM_AREA_INFO& operator=(const WM_PTM_AREA_INFO&) = delete;

    void set_name(const char* text);
    void clear();
    void move_from(WM_PTM_AREA_INFO& other);
    void alloc(long n);
    // Appends a page named "Page %d" with a fresh unique id.
    bool create_new_page();
    bool delete_page(long index);
    // Every page's resolve_pending_background.
    void resolve_pending_backgrounds();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

// The records of the dialog's widgets are in `objects`.
class WM_PTM_DIALOG_INFO : public DATA_DEVICE_CLIENT, public WM_PTM_OBJECT_LIST
{
public:
    char* name;
    char* title;
    INT_S16 x, y;          // -1 centres
    INT_S16 width, height; // 200 x 200 by default

    WM_PTM_DIALOG_INFO();
    ~WM_PTM_DIALOG_INFO() override;
    WM_PTM_DIALOG_INFO(const WM_PTM_DIALOG_INFO&) = delete;
    WM_PTM_DIALOG_INFO& operator=(const WM_PTM_DIALOG_INFO&) = delete;

    void set_name(const char* text);
    void set_title(const char* text);
    void clear();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

class WM_PTM_FONT_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name; // family name the font is installed and found under
    // Alias path of the folder, under 2048 bytes; "$APPDATA/fonts" by
    // default.
    WM_PTM_TEXT path;
    char* filename;
    // The slot held, 255 = not loaded. Before loading: the slot wanted,
    // 255 = any.
    INT_U8 font_slot;

    WM_PTM_FONT_INFO();
    ~WM_PTM_FONT_INFO() override;
    WM_PTM_FONT_INFO(const WM_PTM_FONT_INFO&) = delete;
    WM_PTM_FONT_INFO& operator=(const WM_PTM_FONT_INFO&) = delete;

    void set_name(const char* text);
    void set_filename(const char* text);
    // Frees the slot this record installed, then the defaults.
    void clear();
    // Installs the font in the slot asked for, else in any free one. Only
    // while the font system runs and the path's alias is known. The slot,
    // or -1 (font_slot 255).
    char load_font();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);

private:
    INT_S8 held_slot; // the slot load_font installed, -1 = none
};

class WM_PTM_IMAGE_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;
    // Alias path of the folder, under 2048 bytes; "$APPDATA/images" by
    // default.
    WM_PTM_TEXT path;
    IMAGE* image; // a use of WM_SCREEN_OBJECT::image_cache; null = none
    char* filename;

    WM_PTM_IMAGE_INFO();
    ~WM_PTM_IMAGE_INFO() override;
    WM_PTM_IMAGE_INFO(const WM_PTM_IMAGE_INFO&) = delete;
    WM_PTM_IMAGE_INFO& operator=(const WM_PTM_IMAGE_INFO&) = delete;

    void set_name(const char* text);
    void set_filename(const char* text);
    // Drops the image's cache use, then the defaults.
    void clear();
    // Opens filename in path at its natural size (dropping any image held);
    // none without a file name, an unknown alias or a file that fails.
    IMAGE* load_image();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);

private:
    void release_image();
};

class WM_PTM_COLOUR_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;
    COLOUR colour; // 0xFF000000 by default

    WM_PTM_COLOUR_INFO();
    ~WM_PTM_COLOUR_INFO() override;
    WM_PTM_COLOUR_INFO(const WM_PTM_COLOUR_INFO&) = delete;
    WM_PTM_COLOUR_INFO& operator=(const WM_PTM_COLOUR_INFO&) = delete;

    void set_name(const char* text);
    void clear();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

class WM_PTM_CONSTANT_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;
    PARAMETER value; // a text parameter holding "" by default

    WM_PTM_CONSTANT_INFO();
    ~WM_PTM_CONSTANT_INFO() override;
    WM_PTM_CONSTANT_INFO(const WM_PTM_CONSTANT_INFO&) = delete;
    WM_PTM_CONSTANT_INFO& operator=(const WM_PTM_CONSTANT_INFO&) = delete;

    void set_name(const char* text);
    // Frees the name; the value becomes "" (its type stays).
    void clear();

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

#endif
