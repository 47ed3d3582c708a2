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

class WM_PTM_IMAGE_INFO;

// A new record's name: the format with the record's position counted from 1
// ("Area %d", "Page %d", "Font %d", ...), as a new[] string; null when the
// allocation fails.
char* wm_ptm_default_name(const char* format, long number);
// A new[] copy of a text; null for null or a failed allocation.
char* wm_ptm_copy_text(const char* text);
// Reads a string field into `field` (freed first): length 0, or a text
// that starts with a NUL, is none; the text ends at its first NUL. False
// on a short read or when memory runs out; the field is then none.
class WM_PTM_TEXT;
bool wm_ptm_get_text(DATA_DEVICE& d, char*& field);
bool wm_ptm_get_text(DATA_DEVICE& d, WM_PTM_TEXT& field);

// A text a record owns, read as a const char*: null for none, else a
// NUL-terminated copy. Up to 15 bytes are kept inside it, so that the short
// names and folder paths most records carry cost no allocation of their
// own (a definition may hold hundreds of thousands of pages); longer texts
// live in new[] storage.
class WM_PTM_TEXT
{
public:
    WM_PTM_TEXT() noexcept;
    ~WM_PTM_TEXT();
    WM_PTM_TEXT(const WM_PTM_TEXT&) = delete;
    WM_PTM_TEXT& operator=(const WM_PTM_TEXT&) = delete;

    operator const char*() const noexcept { return bytes[inside_max] == 0 ? bytes : stored(); }
    // A copy of the text (null: none); an equal text keeps the copy held.
    // False, leaving none, when memory runs out.
    bool set(const char* text);
    // The first n bytes of text, with a NUL after them.
    bool set(const char* text, size_t n);
    void clear() noexcept;
    // Takes over other's text; other is left with none.
    void take(WM_PTM_TEXT& other) noexcept;

private:
    static constexpr size_t inside_max = 15;
    // A text of up to inside_max bytes sits at the start with bytes[15] 0,
    // which also ends it. Otherwise bytes[15] is 1 and the first bytes hold
    // the new[] pointer (null for none).
    alignas(char*) char bytes[inside_max + 1];

    char* stored() const noexcept;
    void store(char* text) noexcept;
};

class WM_PTM_PAGE_INFO : public DATA_DEVICE_CLIENT
{
public:
    INT_U32 id;                     // the id pages ask for; clear keeps it
    INT_U32 change_method;          // page-change message; 0 = the default
    WM_PTM_TEXT name;
    WM_PTM_IMAGE_INFO* background;  // in the application's images; not owned
    WM_PTM_OBJECT_INFO* objects;    // new[], null when none
    INT_S32 object_count;

    WM_PTM_PAGE_INFO();
    ~WM_PTM_PAGE_INFO() override;
    WM_PTM_PAGE_INFO(const WM_PTM_PAGE_INFO&) = delete;
    WM_PTM_PAGE_INFO& operator=(const WM_PTM_PAGE_INFO&) = delete;

    void set_name(const char* text);
    // Frees the objects and the name; background none, change_method 0.
    void clear();
    // Takes over every field of `other` (nothing copied), which is cleared.
    void move_from(WM_PTM_PAGE_INFO& other);
    // Replaces the objects by n default records (none for n <= 0);
    // object_count is n only when the array was made.
    void alloc(long n);
    bool create_new_object(unsigned long type);
    bool delete_object(long index);
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

class WM_PTM_DIALOG_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;
    char* title;
    INT_S16 x, y;            // -1 centres
    INT_S16 width, height;   // 200 x 200 by default
    WM_PTM_OBJECT_INFO* objects;
    INT_S32 object_count;

    WM_PTM_DIALOG_INFO();
    ~WM_PTM_DIALOG_INFO() override;
    WM_PTM_DIALOG_INFO(const WM_PTM_DIALOG_INFO&) = delete;
    WM_PTM_DIALOG_INFO& operator=(const WM_PTM_DIALOG_INFO&) = delete;

    void set_name(const char* text);
    void set_title(const char* text);
    void clear();
    void alloc(long n);
    bool create_new_object(unsigned long type);
    bool delete_object(long index);

    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    bool read(DATA_DEVICE& d, INT_U16 version);
};

class WM_PTM_FONT_INFO : public DATA_DEVICE_CLIENT
{
public:
    char* name;       // family name the font is installed and found under
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
    IMAGE* image;     // a use of WM_SCREEN_OBJECT::image_cache; null = none
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
    COLOUR colour;    // 0xFF000000 by default

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
    PARAMETER value;  // a text parameter holding "" by default

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
