#ifndef KIVO_IMAGE_H
#define KIVO_IMAGE_H

// IMAGE: the one pixel surface of the system. A rectangle of COLOUR words
// (0xAARRGGBB; bytes B, G, R, A in memory, which is SDL's ARGB8888) with a
// clip rectangle (the active area) and a dirty rectangle for the window
// layer. Coordinates are "placed": the top-left pixel sits at (x, y).
//
// The class is split into sections by subsystem: surfaces and copying,
// drawing, resampling, then text and files, which live in their own
// sources.
#include "colour.h"
#include "data_device.h"
#include "kivo_types.h"

// Fixed to int, so that any value is a valid copy type: an unknown one
// behaves as blend.
enum IMAGE_COPY_TYPE : int
{
    IMAGE_COPY_BLEND = 0,          // mix by source alpha; at the solid threshold replace
    IMAGE_COPY_REPLACE = 1,        // d = s
    IMAGE_COPY_ALPHA_MASK = 2,     // d alpha = 255 where s alpha is non-zero, else 0
    IMAGE_COPY_ALPHA_MULTIPLY = 3, // d alpha = floor(s alpha x d alpha / 255)
};

class DATA_FILE;
class FOLDER;
class TEXT_FILE;

// What a file is, whatever it was named by: the same for every spelling of
// its folder, every link and hard link, while its bytes stay as they were
// written (a write moves the modification time, a replacement the inode).
struct IMAGE_FILE_ID
{
    bool known = false;
    INT_U64 device = 0, inode = 0;
    INT_S64 size = 0, modified_sec = 0, modified_nsec = 0;

    bool same(const IMAGE_FILE_ID& o) const
    {
        return known && o.known && device == o.device && inode == o.inode && size == o.size &&
               modified_sec == o.modified_sec && modified_nsec == o.modified_nsec;
    }
};

// Asked about each file a load opens, before any pixel of it is read.
class IMAGE_LOAD_CHECK
{
public:
    enum VERDICT
    {
        READ,   // go on and read it
        HAVE,   // the asker holds these pixels already: stop, no error
        REFUSE, // too many pixels: fail as for a picture past the limit
    };
    // `w` x `h`: the picture's size as its header gives it (0 x 0 when the
    // header could not tell).
    virtual VERDICT opened(const IMAGE_FILE_ID& file, long w, long h) = 0;

protected:
    ~IMAGE_LOAD_CHECK() = default;
};

class IMAGE : public DATA_DEVICE_CLIENT
{
public:
    // ---- data -----------------------------------------------------------
    INT_S16 x, y;          // placement of the top-left pixel
    INT_S16 height, width; // size in pixels
    INT_S32 stride;        // pixels from one row to the next (32-bit: width 32767 pads to 32768)
    INT_S8 alignment;      // stride rule: 1 = width, n >= 2 = multiple of n, else even
    COLOUR* pixels;        // height x stride words, owned; null when empty
    INT_U8 locked;         // freezes size and pixel array (drawing still works)
    INT_S16 active_x1, active_x2, active_y1, active_y2; // inclusive clip; all -1 = empty
    INT_U8 valid;                                       // drawing and copying happen only while non-zero
    INT_U8 keep_aspect;                                 // resize keeps the aspect ratio
    INT_S8 font_slot;                                   // default font for text drawn into the image
    INT_S16 font_width, font_height;
    INT_S16 dirty_x1, dirty_x2, dirty_y1, dirty_y2; // touched since presented; -1 = clean
    INT_S16 max_width, max_height;                  // limits for resize; 0 = none
    void* cache_entry;                              // the image cache entry that owns this image, or null

    // ---- surfaces and copying -------------------------------------------
    IMAGE();
    IMAGE(const IMAGE& source); // deep copy
    virtual ~IMAGE();

    void setup(short w, short h);
    void reset(short w, short h);
    IMAGE& operator=(const IMAGE& source);

    IMAGE* set_active_area(short x1, short y1, short x2, short y2);
    IMAGE* add_rect_to_active_area(short x1, short y1, short x2, short y2);
    void mark_dirty_area(short x1, short y1, short x2, short y2);

    void copy(IMAGE* source, short sx, short sy, short dx, short dy, short w, short h, IMAGE_COPY_TYPE type);
    // A null target (or source) is the window's back buffer; nothing happens
    // when there is none or it is this image.
    void put(short dx, short dy, short sx, short sy, short w, short h, IMAGE* target, IMAGE_COPY_TYPE type);
    void put(short x, short y, IMAGE* target, IMAGE_COPY_TYPE type);
    void get(short x, short y, IMAGE* source, IMAGE_COPY_TYPE type);

    // Pixels for a texture upload. Format 0: words unchanged; 1: red and
    // blue exchanged; 2: 16-bit 5-6-5 (a 16-bit buffer takes only this
    // one). Pitch -1 is the output row length (below -1 writes nothing); a
    // row order other than 1 stores rows bottom up.
    void get_opengl_format_buffer(INT_U32* buffer, short pitch, char row_order, char format,
                                  unsigned char columns_as_rows);
    void get_opengl_format_buffer(INT_U16* buffer, short pitch, char row_order, char format,
                                  unsigned char columns_as_rows);

    // ---- drawing ----------------------------------------------------------
    // Both fixed to int, so that any value a caller passes is defined.
    enum PLOT_CIRCLE_TYPE : int
    {
        PLOT_CIRCLE_RING = 0,
        PLOT_CIRCLE_DISC = 1,
        PLOT_CIRCLE_SHADED = 2,
    };
    enum PLOT_ROUNDED_RECT_TYPE : int
    {
        PLOT_ROUNDED_RECT_SOLID = 0,
        PLOT_ROUNDED_RECT_XFADE = 1,
        PLOT_ROUNDED_RECT_YFADE = 2,
        PLOT_ROUNDED_RECT_DARKEN = 3,
    };
    // Supersampling canvas of plot_circle.
    static const std::size_t circle_bitmap_size = 0x300000;
    static INT_U8 circle_bitmap[circle_bitmap_size];

    void fill_rect(short x1, short y1, short x2, short y2, COLOUR c, INT_U8 blend);
    void clear(COLOUR c, INT_U8 whole);
    // sides: 1 left, 2 right, 4 top, 8 bottom.
    void draw_rect(short x1, short y1, short x2, short y2, COLOUR c, short thickness, char sides);
    void draw_line(short x1, short y1, short x2, short y2, COLOUR c, short thickness, INT_U8 blend);
    void draw_xor_rect(short x1, short y1, short x2, short y2, COLOUR c);
    // corner: 1 top-left, 2 top-right, 4 bottom-left, 8 bottom-right.
    void draw_rounding(short x, short y, short radius, char corner, COLOUR c);
    void draw_rounded_rect(short x1, short y1, short x2, short y2, COLOUR c, short radius, char corners);
    short calc_rounded_rect_radius(short x1, short y1, short x2, short y2);
    void fill_hfaded_rect(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend);
    void fill_vfaded_rect(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend);
    void plot_rounded_rect(short x1, short y1, short x2, short y2, short radius, char corners, COLOUR c1, COLOUR c2,
                           short shade, PLOT_ROUNDED_RECT_TYPE type);
    void plot_circle(short x, short y, short radius, COLOUR c, short shade, PLOT_CIRCLE_TYPE type, short thickness,
                     INT_U8 anti_alias);
    void darken_rect(short x1, short y1, short x2, short y2, short percent);

    // Edits of every pixel in the active area.
    void realpha(INT_U8 alpha, INT_U8 multiply, INT_U8 only_visible);
    void set_trialpha_colours(COLOUR c1, COLOUR c2, COLOUR c3, INT_U8 keep_alpha);
    void recolour(COLOUR tint);
    void make_grey();
    void replace_colour(COLOUR from, COLOUR to, INT_U8 rgb_only);

    void rotate_rad(float radians);
    void rotate_deg(float degrees);

    // ---- resampling -------------------------------------------------------
    // The quality callers pass by default is the negation of this (1 =
    // nearest neighbour).
    static INT_U8 use_quick_resize;
    // w or h -1 keeps (or, with keep_aspect, derives) that side; quality 0
    // is nearest neighbour, anything else the two-pass bilinear filter.
    void resize(short w, short h, INT_U8 quality);

    // ---- text (font slots, measuring and drawing strings) -----------------
    // Implemented in font.cpp (the slot table) and image_text.cpp. Slots
    // are signed bytes; -1 means "any" or "the image's default" as noted.
    static void startup_font_system();
    static void shutdown_font_system();
    static bool is_font_system_setup();
    // The slot used, or -1: file missing, slot taken, a known slot asked for
    // another file, a face without outlines, or the table full. A null
    // folder is "$FONTDATA".
    static INT_S8 load_font(const char* file, const char* name, INT_S8 slot, FOLDER* folder);
    static void free_font(INT_S8 slot); // -1 frees every slot
    static bool is_font_valid(INT_S8 slot);
    static const char* get_font_name(INT_S8 slot);
    // File and family name of a known-font row, null above the last row.
    static const char* get_font_info_filename(INT_S8 row);
    static const char* get_font_info_name(INT_S8 row);

    static INT_U8 shadow_alpha;
    static INT_S16 shadow_x_offset, shadow_y_offset;
    static INT_U8 inset_alpha;
    static INT_S16 inset_x_offset, inset_y_offset;
    static double chiseled_light_blend_value, chiseled_dark_blend_value;
    static INT_S16 chiseled_x_offset, chiseled_y_offset;

    // len counts characters (-1 = to the NUL); code_mode is the starting
    // state of the 0x01 code-point escape. Font, w or h -1 take the image's
    // defaults here only; an unusable font or size gives the byte length.
    INT_S32 get_string_width(INT_S8 font, short w, short h, const char* text, long len, INT_U8 code_mode);
    // One run of glyphs with y the top of the line box; a non-zero
    // lightness_shift lightens or darkens the pixels under the glyphs
    // instead of drawing the text colour.
    void render_string(short x, short y, COLOUR text, COLOUR back, COLOUR underline, double lightness_shift,
                       INT_S8 font, short w, short h, const char* str, long len, INT_U8 code_mode);
    // effect: 1 drop shadow, 2 inset, 4 chiseled (the first bit set wins).
    void process_and_render_string(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font, short w,
                                   short h, const char* str, short effect, long len, INT_U8 code_mode);
    // Text wrapped into a box. flags: effect bits, then 0x08 top, 0x10
    // bottom (else middle), 0x20 left, 0x40 right (else centred).
    void draw_string(short x1, short y1, short x2, short y2, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font,
                     short w, short h, const char* str, short flags);
    void draw_char(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font, short w, short h, char c,
                   short effect);
    // printf-style; the formatted text is cut at 5119 characters.
    void draw_text(short x, short y, COLOUR text, COLOUR back, COLOUR underline, INT_S8 font, short w, short h,
                   const char* format, ...);
    void draw_text(short x, short y, COLOUR text, COLOUR back, INT_S8 font, short w, short h, const char* format, ...);
    void draw_text(short x, short y, COLOUR text, COLOUR back, const char* format, ...);

    // ---- files (loaders, writers, the raw record) -------------------------
    // Implemented by the codec sources (image_load, image_png, image_jpeg,
    // image_pcx, image_raw).
    // The display's gamma that PNG pictures are corrected to (2.2).
    static double screen_gamma;
    // Finds the picture by name in the folder (by its extension, then with
    // ".png", ".jpg", ".pcx", ".raw" appended, then the bare name in each
    // format) and scales it to w x h (-1: natural size).
    bool load(FOLDER& folder, const char* name, short w, short h);
    // As load, with a picture of more than max_pixels pixels (0: no limit
    // but the sides of 32767) refused from its file's header, before any
    // pixel is allocated, and a size asked for of more refused outright;
    // either fails like a picture that cannot be read.
    bool load(FOLDER& folder, const char* name, short w, short h, long max_pixels);
    // As load, with `check` (may be null) asked about each file opened.
    bool load(FOLDER& folder, const char* name, short w, short h, long max_pixels, IMAGE_LOAD_CHECK* check);
    // The writers send everything to the file before they return (a full
    // disk shows in their result). A writer that fails sets the file's error
    // flag, so that closing it keeps the file's old content.
    bool load_png(DATA_FILE* file);
    bool save_png(DATA_FILE* file);
    // w, h below 1: natural size; otherwise nearest-sample scaled as read.
    bool load_jpg(DATA_FILE* file, short w, short h);
    bool save_jpg(DATA_FILE* file, char quality, INT_U8 progressive);
    bool load_256_colour_pcx(DATA_FILE* file);
    bool save_256_colour_pcx(DATA_FILE* file);
    // The "kivorawimg" record.
    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;
    // Pixels compiled into the program; false only for null.
    bool load_embedded_image_def(const INT_U8* bytes);
    // Writes C source that defines this picture as an embedded definition;
    // false when any of it could not be written.
    bool save_embedded_image_def(TEXT_FILE& file, const char* array_name);
    // A strip of the frames named by format with first .. last (last -1:
    // until the first one missing), side by side.
    void create_sprite_image_from_path(FOLDER& folder, const char* format, short first, short last);
    // Cuts the picture into the nine skin files "<base>_top_left.png" ..
    // "<base>_mid_mid.png". True when all nine reached the disk; a file
    // that fails keeps its old content and the others are still written.
    bool save_nine_titled_pngs(FOLDER& folder, const char* base);

private:
    bool drawing_gate();
    bool outline_gate(COLOUR c);
    bool clip_rect(short& x1, short& y1, short& x2, short& y2);
    bool edit_region(int& x1, int& y1, int& x2, int& y2);
    COLOUR* at(int px, int py) { return pixels + static_cast<long>(py - y) * stride + (px - x); }
    void draw_rect_outline(int x1, int y1, int x2, int y2, COLOUR c, char sides);
    void draw_thin_line(int x1, int y1, int x2, int y2, COLOUR c, INT_U8 blend);
    void fill_faded(short x1, short y1, short x2, short y2, COLOUR from, COLOUR to, char blend, bool vertical);
    void export_pixels(void* buffer, short pitch, char row_order, char format, unsigned char columns_as_rows);
    // resize; with `fatal` clear, pixels that cannot be allocated leave the
    // image as it was and give false instead of ending the program.
    bool resize_to(short w, short h, INT_U8 quality, bool fatal);
    friend bool image_resize_for_read(IMAGE& image, short w, short h, INT_U8 quality);
};

#endif
