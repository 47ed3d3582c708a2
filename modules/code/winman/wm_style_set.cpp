// WM_STYLE_SET: defaults, deep copies, the runtime cache of skins, scaling,
// and the two stored forms: configuration files (one key table drives the
// reader and the writer) and the versioned record.
#include "wm_style_set.h"

#include "errors.h"
#include "wm_ptm_text.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>
#include <type_traits>

// A priority after the shared objects' (101): built after them, destroyed
// before them.
WM_DEFAULT_STYLE_SETS wm_default_style_sets __attribute__((init_priority(102)));

void wm_reset_default_style_sets()
{
    WM_DEFAULT_STYLE_SETS& sets = wm_default_style_sets;
    for (WM_STYLE_SET* set :
         {&sets.default_dialog_style_set, &sets.default_title_style_set, &sets.default_object_style_set}) {
        *set = WM_STYLE_SET();
    }
    sets.hint_style_set.clear_runtime_cache();
}

namespace {

// Text kept in a configuration value: longer text is cut by the file.
const std::size_t CONFIG_VALUE_MAX = 255;

// Skin name suffixes of the runtime cache, slot by slot; slot 10 tries
// "_alternate" before "_alt".
const char* const skin_suffixes[WM_STYLE_SET::runtime_cache_sz] = {"",
                                                                   "_up",
                                                                   "_down",
                                                                   "_disabled",
                                                                   "_over",
                                                                   "_active_up",
                                                                   "_active_down",
                                                                   "_active_disabled",
                                                                   "_active_over",
                                                                   "_highlighted",
                                                                   "_alternate",
                                                                   "_flashing",
                                                                   "_dragging",
                                                                   "_bg",
                                                                   "_empty",
                                                                   "_full",
                                                                   "_bar",
                                                                   "_bar_disabled",
                                                                   "_bar_over",
                                                                   "_slider_up",
                                                                   "_slider_down",
                                                                   "_slider_disabled",
                                                                   "_slider_over",
                                                                   "_less_up",
                                                                   "_less_down",
                                                                   "_less_disabled",
                                                                   "_less_over",
                                                                   "_more_up",
                                                                   "_more_down",
                                                                   "_more_disabled",
                                                                   "_more_over"};
const int ALTERNATE_SLOT = 10;

char* copy_text(const char* text)
{
    if (!text || !*text) {
        return nullptr;
    }
    std::size_t n = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) {
        std::memcpy(copy, text, n);
    }
    return copy;
}

void replace_text(char*& field, const char* text)
{
    char* copy = copy_text(text); // before the old text goes: text may be it
    delete[] field;
    field = copy;
}

// ---- the configuration key table -------------------------------------------

enum KIND : INT_U8
{
    KIND_TEXT,
    KIND_NUMBER,
    KIND_COLOUR,
    KIND_FLAG,
};

enum FIELD : INT_U8
{
    F_NAME,
    F_IMAGE_FILENAME,
    F_IMAGE_PATH,
    F_FONT_NAME,
    F_SHADING_TYPE,
    F_FG,
    F_BG,
    F_FADING,
    F_HIGHLIGHT,
    F_HIGHLIGHT_TEXT,
    F_ACTIVE,
    F_ACTIVE_TEXT,
    F_MOUSE_OVER,
    F_MOUSE_OVER_TEXT,
    F_FLASHING,
    F_FLASHING_TEXT,
    F_DISABLED,
    F_DISABLED_TEXT,
    F_UNDERLINE,
    F_VISIBLE,
    F_SHADING_FLAGS,
    F_DRAWING_FLAGS, // the old combined word: ssf low 16 bits, ssef high
    F_FONT_ID,
    F_FONT_X,
    F_FONT_Y,
    F_BORDER_LEFT,
    F_BORDER_RIGHT,
    F_BORDER_TOP,
    F_BORDER_BOTTOM,
    F_CELL_LEFT,
    F_CELL_RIGHT,
    F_CELL_TOP,
    F_CELL_BOTTOM,
    F_X_SPACING,
    F_Y_SPACING,
    F_SB_BUTTON_WIDTH,
    F_SB_SLIDER_WIDTH,
    F_GRID_SB_WIDTH,
    F_GRID_TWO_TONE,
    F_SSF,
    F_SSEF,
    F_SSSF,
};

// One key. The reader goes through the table in order; the writer writes
// the `written` keys in the same order, which is the file's order.
struct STYLE_KEY
{
    const char* key;
    KIND kind;
    FIELD field; // for a flag: its word
    INT_U8 bit;
    bool required;
    bool written;
};

constexpr STYLE_KEY text(const char* key, FIELD f, bool required)
{
    return {key, KIND_TEXT, f, 0, required, true};
}
constexpr STYLE_KEY number(const char* key, FIELD f, bool required = true, bool written = true)
{
    return {key, KIND_NUMBER, f, 0, required, written};
}
constexpr STYLE_KEY colour(const char* key, FIELD f, bool required)
{
    return {key, KIND_COLOUR, f, 0, required, true};
}
constexpr STYLE_KEY flag(const char* key, FIELD word, INT_U8 bit, bool written = true)
{
    return {key, KIND_FLAG, word, bit, false, written};
}

const STYLE_KEY style_keys[] = {
    text("name", F_NAME, false),
    text("image_filename", F_IMAGE_FILENAME, true),
    text("image_path", F_IMAGE_PATH, true), // the runtime cache loads right after it
    number("shading_type", F_SHADING_TYPE),
    colour("fg_colour", F_FG, true),
    colour("bg_colour", F_BG, true),
    colour("fading_colour", F_FADING, true),
    colour("highlight_colour", F_HIGHLIGHT, true),
    colour("highlight_text_colour", F_HIGHLIGHT_TEXT, true),
    colour("active_colour", F_ACTIVE, true),
    colour("active_text_colour", F_ACTIVE_TEXT, false),
    colour("mouse_over_colour", F_MOUSE_OVER, false),
    colour("mouse_over_text_colour", F_MOUSE_OVER_TEXT, false),
    colour("flashing_colour", F_FLASHING, false),
    colour("flashing_text_colour", F_FLASHING_TEXT, false),
    colour("disabled_colour", F_DISABLED, false),
    colour("disabled_text_colour", F_DISABLED_TEXT, false),
    colour("underline_colour", F_UNDERLINE, false),
    number("visible", F_VISIBLE),
    number("shading_flags", F_SHADING_FLAGS),
    number("drawing_flags", F_DRAWING_FLAGS, false, false),
    number("font_id", F_FONT_ID),
    number("font_x_sz", F_FONT_X),
    number("font_y_sz", F_FONT_Y),
    text("font_name", F_FONT_NAME, false),
    number("border_left_gap", F_BORDER_LEFT),
    number("border_right_gap", F_BORDER_RIGHT),
    number("border_top_gap", F_BORDER_TOP),
    number("border_bottom_gap", F_BORDER_BOTTOM),
    number("cell_left_gap", F_CELL_LEFT),
    number("cell_right_gap", F_CELL_RIGHT),
    number("cell_top_gap", F_CELL_TOP),
    number("cell_bottom_gap", F_CELL_BOTTOM),
    number("x_spacing", F_X_SPACING),
    number("y_spacing", F_Y_SPACING),
    number("scrollbar_button_width", F_SB_BUTTON_WIDTH),
    number("scrollbar_slider_width", F_SB_SLIDER_WIDTH),
    number("grid_scrollbar_width", F_GRID_SB_WIDTH),
    number("grid_two_tone_value", F_GRID_TWO_TONE),
    flag("ssf_draw_border", F_SSF, 0),
    flag("ssf_indent_border", F_SSF, 1),
    flag("ssf_outstanding_border", F_SSF, 2),
    flag("ssf_hfading", F_SSF, 3),
    flag("ssf_vfading", F_SSF, 4),
    flag("ssf_darkened_background", F_SSF, 5),
    flag("ssf_left_justify_text", F_SSF, 6),
    flag("ssf_right_justify_text", F_SSF, 7),
    flag("ssf_top_align_text", F_SSF, 20),
    flag("ssf_bottom_align_text", F_SSF, 21),
    flag("ssf_use_text_colour_for_outline", F_SSF, 8),
    flag("ssf_shadow_text", F_SSF, 9),
    flag("ssf_inset_text", F_SSF, 10),
    flag("ssf_chiseled_text", F_SSF, 11),
    flag("ssf_disabled", F_SSF, 12),
    flag("ssf_icon_left", F_SSF, 13),
    flag("ssf_icon_right", F_SSF, 14),
    flag("ssf_icon_top", F_SSF, 15),
    flag("ssf_icon_bottom", F_SSF, 16),
    flag("ssf_icon_attach_to_text", F_SSF, 17),
    flag("ssf_wrap_text", F_SSF, 18),
    flag("ssf_dont_resize_image", F_SSF, 19),
    // Older spellings of ssef bits, read only; the ssef keys below win.
    flag("ssf_invert_vfading_on_press", F_SSEF, 0, false),
    flag("ssf_indent_when_active", F_SSEF, 1, false),
    flag("ssf_left_arrow", F_SSEF, 2, false),
    flag("ssf_right_arrow", F_SSEF, 3, false),
    flag("ssf_up_arrow", F_SSEF, 4, false),
    flag("ssf_down_arrow", F_SSEF, 5, false),
    flag("ssf_auto_depress", F_SSEF, 6, false),
    flag("ssf_auto_actiavte", F_SSEF, 7, false),
    flag("ssf_sb_horizontal", F_SSEF, 9, false),
    flag("ssf_sb_with_buttons", F_SSEF, 10, false),
    flag("ssf_te_password", F_SSEF, 11, false),
    flag("ssf_grid_fix_top_row", F_SSEF, 12, false),
    flag("ssf_grid_two_tone", F_SSEF, 13, false),
    flag("ssf_grid_type_lines", F_SSEF, 14, false),
    flag("ssf_grid_type_cells", F_SSEF, 15, false),
    flag("ssef_invert_vfading_on_press", F_SSEF, 0),
    flag("ssef_indent_when_active", F_SSEF, 1),
    flag("ssef_left_arrow", F_SSEF, 2),
    flag("ssef_right_arrow", F_SSEF, 3),
    flag("ssef_up_arrow", F_SSEF, 4),
    flag("ssef_down_arrow", F_SSEF, 5),
    flag("ssef_auto_depress", F_SSEF, 6),
    flag("ssef_auto_actiavte", F_SSEF, 7),
    flag("ssef_dont_mask_click", F_SSEF, 8),
    flag("ssef_sb_horizontal", F_SSEF, 9),
    flag("ssef_sb_with_buttons", F_SSEF, 10),
    flag("ssef_te_password", F_SSEF, 11),
    flag("ssef_grid_fix_top_row", F_SSEF, 12),
    flag("ssef_grid_two_tone", F_SSEF, 13),
    flag("ssef_grid_type_lines", F_SSEF, 14),
    flag("ssef_grid_type_cells", F_SSEF, 15),
    flag("ssef_grid_scroll_by_line", F_SSEF, 16),
    flag("ssef_grid_no_scrollbar", F_SSEF, 17),
    flag("ssef_grid_only_draw_used_lines", F_SSEF, 18),
    flag("ssef_grid_dont_shorten_scrollbar", F_SSEF, 25),
    flag("ssef_pb_only_draw_bar", F_SSEF, 19),
    flag("ssef_pb_vertical", F_SSEF, 20),
    flag("ssef_pb_no_shading", F_SSEF, 21),
    flag("ssef_pb_position_text_on_bar", F_SSEF, 22),
    flag("ssef_pb_draw_alt_percentage", F_SSEF, 23),
    flag("ssef_fm_hide_scrolling_arrows", F_SSEF, 24),
    flag("sssf_retain_width", F_SSSF, 0),
    flag("sssf_retain_left_border", F_SSSF, 1),
    flag("sssf_retain_right_border", F_SSSF, 2),
    flag("sssf_retain_x_font_size", F_SSSF, 3),
    flag("sssf_retain_height", F_SSSF, 4),
    flag("sssf_retain_top_border", F_SSSF, 5),
    flag("sssf_retain_bottom_border", F_SSSF, 6),
    flag("sssf_retain_y_font_size", F_SSSF, 7),
};

// Calls fn with the number, colour or flag word a field names.
template <class FN> void visit_field(WM_STYLE_SET& s, FIELD f, FN fn)
{
    switch (f) {
    case F_SHADING_TYPE: fn(s.shading_type); break;
    case F_FG: fn(s.fg_colour); break;
    case F_BG: fn(s.bg_colour); break;
    case F_FADING: fn(s.fading_colour); break;
    case F_HIGHLIGHT: fn(s.highlight_colour); break;
    case F_HIGHLIGHT_TEXT: fn(s.highlight_text_colour); break;
    case F_ACTIVE: fn(s.active_colour); break;
    case F_ACTIVE_TEXT: fn(s.active_text_colour); break;
    case F_MOUSE_OVER: fn(s.mouse_over_colour); break;
    case F_MOUSE_OVER_TEXT: fn(s.mouse_over_text_colour); break;
    case F_FLASHING: fn(s.flashing_colour); break;
    case F_FLASHING_TEXT: fn(s.flashing_text_colour); break;
    case F_DISABLED: fn(s.disabled_colour); break;
    case F_DISABLED_TEXT: fn(s.disabled_text_colour); break;
    case F_UNDERLINE: fn(s.underline_colour); break;
    case F_VISIBLE: fn(s.visible); break;
    case F_SHADING_FLAGS: fn(s.shading_flags); break;
    case F_DRAWING_FLAGS: fn(s.ssf); break;
    case F_FONT_ID: fn(s.font_id); break;
    case F_FONT_X: fn(s.font_x_sz); break;
    case F_FONT_Y: fn(s.font_y_sz); break;
    case F_BORDER_LEFT: fn(s.border_left_gap); break;
    case F_BORDER_RIGHT: fn(s.border_right_gap); break;
    case F_BORDER_TOP: fn(s.border_top_gap); break;
    case F_BORDER_BOTTOM: fn(s.border_bottom_gap); break;
    case F_CELL_LEFT: fn(s.cell_left_gap); break;
    case F_CELL_RIGHT: fn(s.cell_right_gap); break;
    case F_CELL_TOP: fn(s.cell_top_gap); break;
    case F_CELL_BOTTOM: fn(s.cell_bottom_gap); break;
    case F_X_SPACING: fn(s.x_spacing); break;
    case F_Y_SPACING: fn(s.y_spacing); break;
    case F_SB_BUTTON_WIDTH: fn(s.scrollbar_button_width); break;
    case F_SB_SLIDER_WIDTH: fn(s.scrollbar_slider_width); break;
    case F_GRID_SB_WIDTH: fn(s.grid_scrollbar_width); break;
    case F_GRID_TWO_TONE: fn(s.grid_two_tone_value); break;
    case F_SSF: fn(s.ssf); break;
    case F_SSEF: fn(s.ssef); break;
    case F_SSSF: fn(s.sssf); break;
    default: break;
    }
}

// A number field as the file's 32-bit "%d" number: signed fields
// sign-extended, so -1 is written "-1".
template <class T> INT_U32 to_file_number(T v)
{
    return static_cast<INT_U32>(static_cast<INT_S32>(v));
}

// Whether the file gives the text back as it is: a value longer than the
// file keeps, broken by a line end, or starting with blanks the reader
// skips would come back as another text.
bool fits_config_value(const char* text)
{
    if (!text) {
        return true;
    }
    if (std::strlen(text) > CONFIG_VALUE_MAX || std::strpbrk(text, "\r\n")) {
        return false;
    }
    return text[0] != ' ' && text[0] != '\t';
}

// Whether FOLDER::set may be given a path: it ends the program on an alias
// it does not know.
bool stored_path_is_usable(const char* path)
{
    if (FOLDER::alias_is_known(path)) {
        return true;
    }
    set_error_code(ERRCODE_FILE_READ, path);
    return false;
}

// A path read from a file, as the set keeps it: its alias known, and
// leading nowhere outside the folder that alias names ("$HERE": `here`).
bool read_stored_path(const char* path, char* confined, FOLDER* here)
{
    if (!stored_path_is_usable(path)) {
        return false;
    }
    if (FOLDER::confine_stored_path(path, confined, here)) {
        return true;
    }
    set_error_code(ERRCODE_FILE_READ, path);
    return false;
}

// Truncated toward zero and kept in range: C++ leaves a conversion out of
// range undefined.
INT_S16 to_s16(double v)
{
    if (v != v) {
        return 0;
    }
    if (v <= -32768.0) {
        return -32768;
    }
    return v >= 32767.0 ? 32767 : static_cast<INT_S16>(v);
}

// Shares the change of an axis between its two gaps (a, b) as sssf says:
// keep_size retains the widget's extent, keep_a / keep_b the gaps.
void scale_axis(INT_S16& a, INT_S16& b, long old_sz, long new_sz, bool keep_size, bool keep_a, bool keep_b)
{
    if (keep_a && keep_b) {
        return;
    }
    if (keep_size) {
        if (!keep_a && !keep_b) {
            long sum = a + b;
            if (sum == 0) {
                return;
            }
            long free_space = new_sz - (old_sz - sum);
            long na = free_space * a / sum, nb = free_space * b / sum;
            a = to_s16(static_cast<double>(na));
            b = to_s16(static_cast<double>(nb));
            return;
        }
        INT_S16& other = keep_a ? b : a;
        if (other != 0) {
            other = to_s16(static_cast<double>(new_sz - (old_sz - other)));
        }
        return;
    }
    if (keep_a || keep_b) {
        INT_S16& other = keep_a ? b : a;
        long kept = keep_a ? a : b;
        if (old_sz - kept == 0) {
            return;
        }
        other = to_s16(static_cast<double>(other * (new_sz - kept) / (old_sz - kept)));
        return;
    }
    if (old_sz == 0) {
        return;
    }
    double ratio = static_cast<double>(new_sz) / static_cast<double>(old_sz);
    a = to_s16(a * ratio);
    b = to_s16(b * ratio);
}

} // namespace

WM_STYLE_SET::WM_STYLE_SET() : image_filename(nullptr), name(nullptr), image_cache_loaded(0)
{
    for (IMAGE_BOX*& box : runtime_cache) {
        box = nullptr;
    }
    clear();
}

WM_STYLE_SET::WM_STYLE_SET(const WM_STYLE_SET& other) : WM_STYLE_SET()
{
    *this = other;
}

WM_STYLE_SET::~WM_STYLE_SET()
{
    delete[] image_filename;
    delete[] name;
    clear_runtime_cache();
}

void WM_STYLE_SET::clear()
{
    set_image_path("");
    shading_type = 1;
    fg_colour = COLOUR_WHITE;
    bg_colour = COLOUR_BLACK;
    for (COLOUR* c : {&fading_colour, &highlight_colour, &highlight_text_colour, &active_colour, &active_text_colour,
                      &shading_colour, &mouse_over_colour, &mouse_over_text_colour, &flashing_colour,
                      &flashing_text_colour, &disabled_colour, &disabled_text_colour, &underline_colour}) {
        *c = COLOUR_INVISIBLE;
    }
    visible = 1;
    ssf = 5; // draw_border + outstanding_border
    ssef = 0;
    sssf = 0xEE;
    shading_flags = 0x00FF;
    font_id = -1;
    font_x_sz = font_y_sz = -1;
    border_left_gap = border_right_gap = border_top_gap = border_bottom_gap = -1;
    cell_left_gap = cell_right_gap = cell_top_gap = cell_bottom_gap = -1;
    x_spacing = y_spacing = 1;
    scrollbar_button_width = 15;
    scrollbar_slider_width = 10;
    grid_scrollbar_width = 15;
    grid_two_tone_value = 20;
    clear_runtime_cache();
}

WM_STYLE_SET& WM_STYLE_SET::operator=(const WM_STYLE_SET& o)
{
    if (this == &o) {
        return *this;
    }
    std::memcpy(image_path, o.image_path, sizeof image_path);
    shading_type = o.shading_type;
    fg_colour = o.fg_colour;
    bg_colour = o.bg_colour;
    fading_colour = o.fading_colour;
    highlight_colour = o.highlight_colour;
    highlight_text_colour = o.highlight_text_colour;
    active_colour = o.active_colour;
    active_text_colour = o.active_text_colour;
    shading_colour = o.shading_colour;
    mouse_over_colour = o.mouse_over_colour;
    mouse_over_text_colour = o.mouse_over_text_colour;
    flashing_colour = o.flashing_colour;
    flashing_text_colour = o.flashing_text_colour;
    disabled_colour = o.disabled_colour;
    disabled_text_colour = o.disabled_text_colour;
    underline_colour = o.underline_colour;
    visible = o.visible;
    ssf = o.ssf;
    ssef = o.ssef;
    sssf = o.sssf;
    shading_flags = o.shading_flags;
    font_id = o.font_id;
    font_x_sz = o.font_x_sz;
    font_y_sz = o.font_y_sz;
    border_left_gap = o.border_left_gap;
    border_right_gap = o.border_right_gap;
    border_top_gap = o.border_top_gap;
    border_bottom_gap = o.border_bottom_gap;
    cell_left_gap = o.cell_left_gap;
    cell_right_gap = o.cell_right_gap;
    cell_top_gap = o.cell_top_gap;
    cell_bottom_gap = o.cell_bottom_gap;
    x_spacing = o.x_spacing;
    y_spacing = o.y_spacing;
    scrollbar_button_width = o.scrollbar_button_width;
    scrollbar_slider_width = o.scrollbar_slider_width;
    grid_scrollbar_width = o.grid_scrollbar_width;
    grid_two_tone_value = o.grid_two_tone_value;
    replace_text(image_filename, o.image_filename);
    replace_text(name, o.name);
    clear_runtime_cache();
    for (int i = 0; i < runtime_cache_sz; i++) {
        if (!o.runtime_cache[i]) {
            continue;
        }
        IMAGE_BOX* box = new (std::nothrow) IMAGE_BOX;
        if (!box) {
            continue;
        }
        box->cache = &WM_SCREEN_OBJECT::image_cache;
        *box = *o.runtime_cache[i];
        runtime_cache[i] = box;
    }
    image_cache_loaded = o.image_cache_loaded;
    return *this;
}

void WM_STYLE_SET::set_image_path(const char* text)
{
    std::memset(image_path, 0, sizeof image_path);
    if (text) {
        std::memcpy(image_path, text, strnlen(text, sizeof image_path - 1));
    }
}

void WM_STYLE_SET::set_name(const char* text)
{
    replace_text(name, text);
}

void WM_STYLE_SET::set_image_base_string(const char* text)
{
    replace_text(image_filename, text);
}

INT_U16 WM_STYLE_SET::get_text_drawing_flags()
{
    // {ssf bit, text drawing flag}
    static const INT_U32 map[][2] = {{9, 0x01}, {10, 0x02}, {11, 0x04}, {20, 0x08}, {21, 0x10}, {6, 0x20}, {7, 0x40}};
    INT_U16 flags = 0;
    for (const auto& m : map) {
        if (ssf & (1u << m[0])) {
            flags = static_cast<INT_U16>(flags | m[1]);
        }
    }
    return flags;
}

void WM_STYLE_SET::clear_runtime_cache()
{
    for (IMAGE_BOX*& box : runtime_cache) {
        if (!box) {
            continue;
        }
        box->clear_images();
        delete box;
        box = nullptr;
    }
    image_cache_loaded = 0;
}

void WM_STYLE_SET::load_runtime_image_cache()
{
    if (!image_filename || !cache_ibox_data) {
        return;
    }
    clear_runtime_cache();
    IMAGE_BOX* box = nullptr;
    // A base name from a record may be of any length: a name that does not
    // fit loads nothing.
    char skin[2048];
    const std::size_t base_length = std::strlen(image_filename);
    if (base_length < sizeof skin) {
        std::memcpy(skin, image_filename, base_length);
    }
    // Only looking names up (the pictures came with the definition), a name
    // that no entry begins with finds nothing: one pass over the entries
    // marks the names that may, and the rest cost no lookups (most slots of
    // a skin are empty, and each tries several names).
    static_assert(runtime_cache_sz < 64, "a bit for each slot and one for the alternate name");
    const int alternate_bit = runtime_cache_sz;
    INT_U64 reachable = ~INT_U64(0);
    if ((cache_flags & IMAGE_CACHE::OPEN_LOOKUP_ONLY) && base_length < sizeof skin) {
        reachable = 0;
        auto begins = [](const char* text, const char* prefix) {
            while (*prefix && *text == *prefix) {
                ++text;
                ++prefix;
            }
            return *prefix == 0;
        };
        for (const IMAGE_CACHE::CACHE_ENTRY* e = WM_SCREEN_OBJECT::image_cache.head; e; e = e->next) {
            if (!e->file_name || std::strncmp(e->file_name, image_filename, base_length) != 0) {
                continue;
            }
            const char* rest = e->file_name + base_length;
            for (int slot = 0; slot < runtime_cache_sz; slot++) {
                if (begins(rest, skin_suffixes[slot])) {
                    reachable |= INT_U64(1) << slot;
                }
            }
            if (begins(rest, "_alt")) {
                reachable |= INT_U64(1) << alternate_bit;
            }
        }
    }
    // Tries one skin name; a valid box goes into the slot.
    auto try_name = [&](int slot, const char* suffix, int bit) {
        if (!(reachable & (INT_U64(1) << bit))) {
            return false;
        }
        if (!box && (box = new (std::nothrow) IMAGE_BOX) != nullptr) {
            box->cache = &WM_SCREEN_OBJECT::image_cache;
        }
        const std::size_t suffix_length = std::strlen(suffix);
        if (!box || base_length + suffix_length >= sizeof skin) {
            return false;
        }
        std::memcpy(skin + base_length, suffix, suffix_length + 1);
        box->load_images(image_path, skin, cache_flags);
        if (!box->are_images_valid()) {
            return false;
        }
        runtime_cache[slot] = box;
        box = nullptr;
        return true;
    };
    for (int slot = 0; slot < runtime_cache_sz; slot++) {
        if (!try_name(slot, skin_suffixes[slot], slot) && slot == ALTERNATE_SLOT) {
            try_name(slot, "_alt", alternate_bit);
        }
    }
    if (box) {
        box->clear_images();
        delete box;
    }
    image_cache_loaded = 1;
}

void WM_STYLE_SET::scale(INT_S16 old_width, INT_S16 old_height, INT_S16 new_width, INT_S16 new_height)
{
    scale_axis(border_left_gap, border_right_gap, old_width, new_width, sssf & 0x01, sssf & 0x02, sssf & 0x04);
    scale_axis(border_top_gap, border_bottom_gap, old_height, new_height, sssf & 0x10, sssf & 0x20, sssf & 0x40);
    auto scale_font = [](INT_S16& size, INT_S16 old_sz, INT_S16 new_sz) {
        if (old_sz == 0) {
            return;
        }
        size = to_s16(size * (static_cast<double>(new_sz) / old_sz));
    };
    if (!(sssf & 0x08)) {
        scale_font(font_x_sz, old_width, new_width);
    }
    if (!(sssf & 0x80)) {
        scale_font(font_y_sz, old_height, new_height);
    }
}

bool WM_STYLE_SET::write_to_config_file(CONFIG_FILE& cfg, WM_FONT_NAME_CALLBACK font_name, void* data, FOLDER* folder)
{
    FOLDER& f = folder ? *folder : cfg.folder;
    // The image folder relative to the file's folder: "$HERE/...".
    char path[2048];
    std::memcpy(path, image_path, sizeof path);
    path[sizeof path - 1] = 0;
    if (folder && path[0]) {
        if (!stored_path_is_usable(path)) {
            return false;
        }
        FOLDER images;
        char relative[2048];
        if (images.set(path) && folder->get_path_to(images, relative)) {
            std::memcpy(path, relative, sizeof path);
        }
    }
    for (const STYLE_KEY& k : style_keys) {
        if (!k.written) {
            continue;
        }
        bool ok = true;
        if (k.kind == KIND_TEXT) {
            const char* v = k.field == F_NAME             ? name
                            : k.field == F_IMAGE_FILENAME ? image_filename
                            : k.field == F_IMAGE_PATH     ? path
                            : font_name                   ? font_name(static_cast<char>(font_id), data)
                                                          : nullptr;
            // Refused rather than cut: a cut path names another folder, a
            // cut name finds another set.
            if (!fits_config_value(v)) {
                set_error_code(ERRCODE_FILE_WRITE, k.key);
                return false;
            }
            ok = cfg.write(f, k.key, v ? v : "");
        } else if (k.kind == KIND_COLOUR) {
            char hex[16];
            visit_field(*this, k.field, [&](auto& c) {
                std::snprintf(hex, sizeof hex, "#%08X", static_cast<unsigned>(static_cast<INT_U32>(c)));
            });
            ok = cfg.write(f, k.key, hex);
        } else {
            INT_U32 n = 0;
            visit_field(*this, k.field, [&](auto& v) {
                n = k.kind == KIND_FLAG ? (static_cast<INT_U32>(v) >> k.bit) & 1 : to_file_number(v);
            });
            ok = cfg.write(f, k.key, n, 0);
        }
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool WM_STYLE_SET::read_from_config_file(CONFIG_FILE& cfg, WM_FONT_ID_CALLBACK font_id_of, void* data, FOLDER* folder)
{
    FOLDER& f = folder ? *folder : cfg.folder;
    ssf = 0;
    ssef = 0;
    sssf = 0xEE;
    for (const STYLE_KEY& k : style_keys) {
        char value[256];
        bool present = false;
        if (k.kind == KIND_NUMBER || k.kind == KIND_FLAG) {
            // A value that is no number leaves a field as it was, and clears a flag.
            INT_U32 n = 0;
            if (k.kind == KIND_NUMBER) {
                visit_field(*this, k.field, [&](auto& v) { n = to_file_number(v); });
            }
            present = cfg.read(f, k.key, n, 0);
            if (present) {
                visit_field(*this, k.field, [&](auto& v) {
                    using T = std::remove_reference_t<decltype(v)>;
                    if (k.kind == KIND_FLAG) {
                        v = static_cast<T>((n & 0xFF) ? v | (1u << k.bit) : v & ~(1u << k.bit));
                    } else {
                        v = static_cast<T>(n);
                    }
                });
                if (k.field == F_DRAWING_FLAGS) {
                    ssef = ssf >> 16;
                    ssf &= 0xFFFF;
                }
            }
        } else {
            present = cfg.read(f, k.key, value);
            if (present && k.kind == KIND_COLOUR) {
                visit_field(*this, k.field, [&](auto& c) {
                    if constexpr (std::is_same_v<std::remove_reference_t<decltype(c)>, COLOUR>) {
                        c.set_from_string(value);
                    }
                });
            } else if (!present && k.kind == KIND_COLOUR && !k.required) {
                visit_field(*this, k.field, [&](auto& c) {
                    if constexpr (std::is_same_v<std::remove_reference_t<decltype(c)>, COLOUR>) {
                        c = COLOUR_INVISIBLE;
                    }
                });
            }
        }
        if (!present && k.required) {
            return false;
        }
        if (present && k.kind == KIND_TEXT && !read_text_key(k.field, value, font_id_of, data, folder)) {
            return false;
        }
    }
    return true;
}

bool WM_STYLE_SET::read_text_key(int field, const char* value, WM_FONT_ID_CALLBACK font_id_of, void* data,
                                 FOLDER* folder)
{
    switch (field) {
    case F_NAME: set_name(value); break;
    case F_IMAGE_FILENAME: set_image_base_string(value); break;
    case F_IMAGE_PATH: {
        // "$HERE" is the file's own folder; without one, the
        // application data's config folder.
        const bool here = std::strncmp(value, "$HERE", 5) == 0;
        char confined[2048];
        if (here && !folder) {
            if (!stored_path_is_usable(value)) {
                return false;
            }
            set_image_path("$APPDATA/config");
        } else {
            if (!read_stored_path(value, confined, here ? folder : nullptr)) {
                return false;
            }
            set_image_path(confined);
        }
        load_runtime_image_cache();
        break;
    }
    case F_FONT_NAME:
        if (value[0] && font_id_of) {
            font_id = static_cast<INT_S8>(font_id_of(value, data));
        }
        break;
    default: break;
    }
    return true;
}

bool WM_STYLE_SET::put_to_data_device(DATA_DEVICE& d)
{
    if (!put_u32(d, record_version) || !put_string(d, image_filename) || !put_string(d, name) ||
        !put_path_block(d, image_path) || !put_u32(d, shading_type)) {
        return false;
    }
    for (COLOUR c : {fg_colour, bg_colour, fading_colour, highlight_colour, highlight_text_colour, active_colour,
                     active_text_colour, shading_colour, mouse_over_colour, mouse_over_text_colour, flashing_colour,
                     flashing_text_colour, disabled_colour, disabled_text_colour, underline_colour}) {
        if (!put_u32(d, c)) {
            return false;
        }
    }
    if (!put_u8(d, visible) || !put_u32(d, ssf) || !put_u32(d, ssef) || !put_u8(d, sssf) ||
        !put_u16(d, shading_flags) || !put_s8(d, font_id)) {
        return false;
    }
    for (INT_S16 v : {font_x_sz, font_y_sz, border_left_gap, border_right_gap, border_top_gap, border_bottom_gap,
                      cell_left_gap, cell_right_gap, cell_top_gap, cell_bottom_gap, x_spacing, y_spacing,
                      scrollbar_button_width, scrollbar_slider_width, grid_scrollbar_width, grid_two_tone_value}) {
        if (!put_s16(d, v)) {
            return false;
        }
    }
    return true;
}

bool WM_STYLE_SET::get_names_and_path(DATA_DEVICE& d, INT_S32 version)
{
    // Both none until read; "" reads as none, as copy_text keeps it.
    delete[] name;
    name = nullptr;
    if (!wm_ptm_get_text(d, image_filename) || !wm_ptm_get_text(d, name)) {
        return false;
    }
    char path[DATA_PATH_BLOCK_SZ], confined[DATA_PATH_BLOCK_SZ];
    if (version <= 5) {
        // An old FOLDER record, screened and turned into its alias path.
        if (!FOLDER::get_old_folder(d, confined)) {
            return false;
        }
    } else if (!get_path_block(d, path)) {
        return false;
    } else if (!read_stored_path(path, confined, nullptr)) {
        d.error = 1;
        return false;
    }
    set_image_path(confined);
    return true;
}

bool WM_STYLE_SET::get_from_data_device(DATA_DEVICE& d)
{
    INT_S32 version;
    if (!get_s32(d, version)) {
        return false;
    }
    if (version > static_cast<INT_S32>(record_version)) {
        version = record_version;
    }
    if (!get_names_and_path(d, version)) {
        return false;
    }

    // {colour, read from this version on; 0 always}
    struct GATED
    {
        COLOUR* colour;
        INT_S32 since;
    };
    const GATED colours[] = {{&fg_colour, 0},
                             {&bg_colour, 0},
                             {&fading_colour, 0},
                             {&highlight_colour, 0},
                             {&highlight_text_colour, 0},
                             {&active_colour, 0},
                             {&active_text_colour, 5},
                             {&shading_colour, 0},
                             {&mouse_over_colour, 2},
                             {&mouse_over_text_colour, 2},
                             {&flashing_colour, 4},
                             {&flashing_text_colour, 3},
                             {&disabled_colour, 9},
                             {&disabled_text_colour, 9},
                             {&underline_colour, 8}};
    if (!get_u32(d, shading_type)) {
        return false;
    }
    for (const GATED& g : colours) {
        INT_U32 v = COLOUR_INVISIBLE;
        if ((g.since == 0 || version >= g.since) && !get_u32(d, v)) {
            return false;
        }
        *g.colour = v;
    }
    sssf = 0xEE;
    if (!get_u8(d, visible) || !get_u32(d, ssf) || !get_u32(d, ssef) || (version > 6 && !get_u8(d, sssf)) ||
        !get_u16(d, shading_flags) || !get_s8(d, font_id)) {
        return false;
    }
    for (INT_S16* v : {&font_x_sz, &font_y_sz, &border_left_gap, &border_right_gap, &border_top_gap, &border_bottom_gap,
                       &cell_left_gap, &cell_right_gap, &cell_top_gap, &cell_bottom_gap, &x_spacing, &y_spacing,
                       &scrollbar_button_width, &scrollbar_slider_width, &grid_scrollbar_width, &grid_two_tone_value}) {
        if (!get_s16(d, *v)) {
            return false;
        }
    }
    load_runtime_image_cache();
    return true;
}
