#ifndef KIVO_WM_STYLE_SET_H
#define KIVO_WM_STYLE_SET_H

// WM_STYLE_SET: the look of one kind of widget (colours for every state,
// border, font, text placement, margins, scroll-bar and grid sizes, and
// the base name of a family of skins), filled by code, from a
// configuration file or from a record. Widgets copy what they need out of
// it. A set can load its skins once (the runtime cache) so that widgets
// take shared copies instead of opening files.
#include "colour.h"
#include "config_file.h"
#include "data_device.h"
#include "folder.h"
#include "image_box.h"
#include "kivo_types.h"
#include "wm_screen_object.h"

// The font's name for a font slot; null counts as "".
typedef const char* (*WM_FONT_NAME_CALLBACK)(char font_id, void* data);
// The font slot for a font name.
typedef char (*WM_FONT_ID_CALLBACK)(const char* font_name, void* data);

class WM_STYLE_SET : public DATA_DEVICE_CLIENT
{
public:
    static constexpr int runtime_cache_sz = 31;
    static constexpr INT_U32 record_version = 9;

    char image_path[2048]; // alias path of the skins' folder, zeros behind the text
    SCROBJ_SHADING_TYPE shading_type;
    COLOUR fg_colour, bg_colour, fading_colour;
    COLOUR highlight_colour, highlight_text_colour;
    COLOUR active_colour, active_text_colour;
    COLOUR shading_colour; // taken by widgets only when its alpha is non-zero
    COLOUR mouse_over_colour, mouse_over_text_colour;
    COLOUR flashing_colour, flashing_text_colour;
    COLOUR disabled_colour, disabled_text_colour;
    COLOUR underline_colour;
    INT_U8 visible;
    INT_U32 ssf;  // drawing flags, bits 0-21
    INT_U32 ssef; // extended flags, bits 0-25
    INT_U8 sssf;  // what scale keeps: 0 width, 1 left, 2 right, 3 x font size, 4 height, 5 top, 6 bottom, 7 y font size
    INT_U16 shading_flags;        // edge flags of draw_shading
    INT_S8 font_id;               // -1: the surface's font
    INT_S16 font_x_sz, font_y_sz; // -1: the surface's size
    // Inner margins; -1 = not set.
    INT_S16 border_left_gap, border_right_gap, border_top_gap, border_bottom_gap;
    INT_S16 cell_left_gap, cell_right_gap, cell_top_gap, cell_bottom_gap;
    INT_S16 x_spacing, y_spacing;
    INT_S16 scrollbar_button_width, scrollbar_slider_width;
    INT_S16 grid_scrollbar_width, grid_two_tone_value;
    // Skins image_filename + "", "_up", "_down", ... "_more_over"; owned,
    // on WM_SCREEN_OBJECT::image_cache; null when absent.
    IMAGE_BOX* runtime_cache[runtime_cache_sz];
    char* image_filename; // new[], null when empty; clear leaves it
    char* name;           // new[], null when empty; clear leaves it
    INT_U8 image_cache_loaded;

    // IMAGE_CACHE::open_image flags of the skins (1; 8 = look up only);
    // wm_context.h.
    static inline INT_U8& cache_flags = wm_context.state.style_set.cache_flags;
    // 0: the runtime cache is never loaded.
    static inline INT_U8& cache_ibox_data = wm_context.state.style_set.cache_ibox_data;

    WM_STYLE_SET();
    // Each copy owns its strings and its boxes; the boxes share images.
    WM_STYLE_SET(const WM_STYLE_SET& other);
    WM_STYLE_SET& operator=(const WM_STYLE_SET& other);
    ~WM_STYLE_SET() override;

    // Defaults; empties the runtime cache; leaves name and image_filename.
    void clear();
    // Null or "" leaves the field null.
    void set_name(const char* text);
    void set_image_base_string(const char* text);
    // Text drawing flags (shadow 1, inset 2, chiseled 4, top 8, bottom 16,
    // left 32, right 64) from ssf.
    INT_U16 get_text_drawing_flags();
    INT_U8 get_image_cache_loaded() { return image_cache_loaded; }

    void load_runtime_image_cache();
    void clear_runtime_cache();
    // Adapts the gaps and font sizes to a widget resized from the old to
    // the new size, keeping what sssf retains.
    void scale(INT_S16 old_width, INT_S16 old_height, INT_S16 new_width, INT_S16 new_height);

    // `folder`: where the file lives; null: the file's own CONFIG_FILE::folder
    // (and "$HERE" paths are then not related to a folder). The writer
    // writes 94 keys one write at a time; it stops with false at a text
    // that the file would not give back whole. The reader needs 28
    // of its 110 keys; a missing one stops it with false, keeping what it
    // read before. Both fail on an image path whose alias FOLDER::set
    // does not know (it would end the program).
    bool write_to_config_file(CONFIG_FILE& cfg, WM_FONT_NAME_CALLBACK font_name, void* data, FOLDER* folder);
    bool read_from_config_file(CONFIG_FILE& cfg, WM_FONT_ID_CALLBACK font_id_of, void* data, FOLDER* folder);

    // Record version 9; reads versions up to 9 (above reads as 9). An
    // image path with an unknown alias fails the read and is not kept.
    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;

private:
    // Copies the text and zero-fills the rest of image_path.
    void set_image_path(const char* text);
    // One text key of a style-set file: name, image file, image path or font.
    bool read_text_key(int field, const char* value, WM_FONT_ID_CALLBACK font_id_of, void* data, FOLDER* folder);
    // The record's image file name, name and confined image path.
    bool get_names_and_path(DATA_DEVICE& d, INT_S32 version);
};

// The look of hints and the dialogs' default style sets, bound to the names
// WM_BUTTON and WM_DIALOG give them. They are built after the shared objects
// (wm_context.h) and destroyed before them, so sets holding skins give them
// back to a live cache at exit.
struct WM_DEFAULT_STYLE_SETS
{
    WM_STYLE_SET hint_style_set;
    INT_U8 hint_style_set_initialised = 0;
    WM_STYLE_SET default_dialog_style_set, default_title_style_set, default_object_style_set;
};

extern WM_DEFAULT_STYLE_SETS wm_default_style_sets;

#endif
