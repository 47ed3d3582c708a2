// WM_KEYBOARD: the two layouts as tables, the key grid built from a
// layout, the latches choosing the key set, and the pass that posts a key
// press into KEYBOARD one pass after it happened.
#include "wm_keyboard.h"

#include "wm_button.h"
#include "wm_grid.h"
#include "wm_names.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr INT_U8 G = WMK_GAP, SH = WMK_SHIFT, CA = WMK_CAPS, EX = WMK_EXT, EN = WMK_ENTER, BS = WMK_BACKSPACE,
                 TB = WMK_TAB, LT = WMK_LEFT, DN = WMK_DOWN, UP = WMK_UP, RT = WMK_RIGHT;

// English layout. Bytes above 127 are in the system's 8-bit set.
const INT_U8 en_row0_lower[] = {0x60, '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', '-', '=', BS};
const INT_U8 en_row0_upper[] = {0x60, '!', 0x22, 0xA3, '$', '%', '^', '&', '*', '(', ')', '_', '+', BS};
const INT_U8 en_row1_0[] = {TB, 'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p', '[', ']', '#', G};
const INT_U8 en_row1_1[] = {TB, 'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', '{', '}', '~', G};
const INT_U8 en_row1_2[] = {TB, 0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, '[', ']', '#', G};
const INT_U8 en_row1_3[] = {TB, 0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, '{', '}', '~', G};
const INT_U8 en_row2_0[] = {CA, 'a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', ';', '\'', EN};
const INT_U8 en_row2_1[] = {CA, 'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', ':', 0x40, EN};
const INT_U8 en_row2_2[] = {CA, 0xEA, 0xEB, 0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF2, 0xF3, '\'', EN};
const INT_U8 en_row2_3[] = {CA, 0xCA, 0xCB, 0xCC, 0xCD, 0xCE, 0xCF, 0xD0, 0xD1, 0xD2, 0xD3, 0x40, EN};
const INT_U8 en_row3_0[] = {SH, 'z', 'x', 'c', 'v', 'b', 'n', 'm', ',', '.', '/', '\\', UP, G};
const INT_U8 en_row3_1[] = {SH, 'Z', 'X', 'C', 'V', 'B', 'N', 'M', '<', '>', '?', 0x7C, UP, G};
const INT_U8 en_row3_2[] = {SH, 0xF4, 0xF5, 0xF6, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, '\\', UP, G};
const INT_U8 en_row3_3[] = {SH, 0xD4, 0xD5, 0xD6, 0xD8, 0xD9, 0xDA, 0xDB, 0xDC, 0xDD, 0xFE, 0x7C, UP, G};
const INT_U8 en_row4[] = {EX, G, ' ', G, LT, DN, RT};

// Phone layout: letters, shifted letters, digits and punctuation, symbols.
const INT_U8 ph_row0_0[] = {'q', 'w', 'e', 'r', 't', 'y', 'u', 'i', 'o', 'p'};
const INT_U8 ph_row0_1[] = {'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P'};
const INT_U8 ph_row0_2[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9', '0'};
const INT_U8 ph_row0_3[] = {'[', ']', '{', '}', '#', '%', '^', '*', '+', '='};
const INT_U8 ph_row1_0[] = {G, 'a', 's', 'd', 'f', 'g', 'h', 'j', 'k', 'l', G};
const INT_U8 ph_row1_1[] = {G, 'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', G};
const INT_U8 ph_row1_2[] = {G, '-', '/', ':', ';', '(', ')', '$', '&', '@', G};
const INT_U8 ph_row1_3[] = {G, '_', '\\', '|', '~', '<', '>', 0xA3, 0xA5, 0xB7, G};
const INT_U8 ph_row2_0[] = {SH, 'z', 'x', 'c', 'v', 'b', 'n', 'm', BS};
const INT_U8 ph_row2_1[] = {SH, 'Z', 'X', 'C', 'V', 'B', 'N', 'M', BS};
const INT_U8 ph_row2_2[] = {SH, '.', ',', '?', '!', '\'', 0x22, '`', BS};
const INT_U8 ph_row2_3[] = {SH, '.', ',', '?', '!', '\'', 0x22, '`', BS};
const INT_U8 ph_row3[] = {EX, ' ', EN};

// A row of count keys: the first weight, the middle one repeated, the last.
constexpr WMK_KEY_MAPPING::ROW row_of(INT_S16 count, INT_S16 first, INT_S16 middle, INT_S16 last)
{
    WMK_KEY_MAPPING::ROW r{count, {}};
    for (int k = 0; k < count; ++k) {
        r.weight[k] = k == 0 ? first : k == count - 1 ? last : middle;
    }
    return r;
}

WM_BUTTON* as_key(WM_SCREEN_OBJECT* o)
{
    return o && (o->type & WM_TYPE_BUTTON) ? static_cast<WM_BUTTON*>(o) : nullptr;
}

int kind_of(const WM_SCREEN_OBJECT* key)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(key->callback_data1));
}

void* kind_word(int kind)
{
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(kind));
}

} // namespace

WMK_KEY_MAPPING wkbm_english_british_default = {
    5,
    {row_of(14, 2, 2, 4), row_of(15, 3, 2, 1), row_of(13, 4, 2, 4), row_of(14, 5, 2, 1), {7, {4, 4, 12, 4, 2, 2, 2}}},
    {0, 0},
    {"<-", "TAB", "SHIFT", "CAPS", "Ext", "Space", "Enter", "<-", "dn", "up", "->"},
    {{en_row0_lower, en_row1_0, en_row2_0, en_row3_0, en_row4},
     {en_row0_upper, en_row1_1, en_row2_1, en_row3_1, en_row4},
     {en_row0_lower, en_row1_2, en_row2_2, en_row3_2, en_row4},
     {en_row0_upper, en_row1_3, en_row2_3, en_row3_3, en_row4}},
};

WMK_KEY_MAPPING wkbm_phone_default = {
    4,
    {row_of(10, 2, 2, 2), row_of(11, 1, 2, 1), row_of(9, 3, 2, 3), {3, {5, 10, 5}}, {}},
    {0, 0},
    {"<x", "", "Shift", "", ".?123", "space", "return", "", "", "", ""},
    {{ph_row0_0, ph_row1_0, ph_row2_0, ph_row3, nullptr},
     {ph_row0_1, ph_row1_1, ph_row2_1, ph_row3, nullptr},
     {ph_row0_2, ph_row1_2, ph_row2_2, ph_row3, nullptr},
     {ph_row0_3, ph_row1_3, ph_row2_3, ph_row3, nullptr}},
};

WM_KEYBOARD::WM_KEYBOARD(INT_S16 x1, INT_S16 y1, INT_S16 x2, INT_S16 y2, WM_STYLE_SET& key_style,
                         WMK_KEY_MAPPING* key_mapping, INT_U8 trigger, INT_U8 no_input, INT_U8 with_hints)
    : WM_SCREEN_OBJECT(1, nullptr, nullptr, nullptr), mapping(key_mapping), grid(nullptr), pending_code(-1),
      pending_char(0), shift(0), caps(0), ext(0), no_input_taken(no_input), highlighted_row(-1), highlighted_column(-1),
      trigger_bits(trigger), hints(with_hints), key_chars{}
{
    x = x1;
    y = y1;
    width = static_cast<INT_S16>(std::max(0, x2 - x1 + 1));
    height = static_cast<INT_S16>(std::max(0, y2 - y1 + 1));

    WM_STYLE_SET grid_style, bar_style;
    grid_style.ssf = 0;
    grid_style.bg_colour = COLOUR_INVISIBLE;
    grid_style.shading_flags = 15;
    grid_style.x_spacing = grid_style.y_spacing = 1;
    const int rows = row_count();
    grid = new WM_GRID(1, nullptr, nullptr, nullptr);
    grid->setup(0, 0, static_cast<INT_S16>(width - 1), static_cast<INT_S16>(height - 1),
                static_cast<INT_S16>(key_count(0)), rows ? mapping->rows[0].weight : nullptr, grid_style, bar_style);
    // Every row shares the height; the grid keeps that through later resizes.
    if (rows) {
        const INT_S16 lines = static_cast<INT_S16>(rows);
        grid->set_row_pitch(lines, grid->calc_row_height_from_visible_lines(lines));
    }
    add_object(grid, 1);

    for (int r = 0; r < rows; ++r) {
        grid->set_current_layout(static_cast<INT_S16>(key_count(r)), mapping->rows[r].weight);
        for (int c = 0; c < key_count(r); ++c) {
            WM_BUTTON* key = grid->add_button(static_cast<INT_S16>(c), static_cast<INT_S16>(r), "", key_style,
                                              keyboard_callback, kind_word(WMK_KIND_CHARACTER), this, trigger_bits);
            // A refused cell leaves no key.
            if (!key) {
                continue;
            }
            key->activated_callback = activated_callback;
            key->activated_data = this;
            key->activated = activated_callback(key, this);
            key->set_slide_select(no_input_taken);
        }
    }
    set_keys();
    type |= WM_TYPE_KEYBOARD;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
}

// The grid goes with the other children.
WM_KEYBOARD::~WM_KEYBOARD() = default;

int WM_KEYBOARD::row_count()
{
    return mapping ? std::min<int>(std::max<int>(mapping->row_count, 0), WMK_MAX_ROWS) : 0;
}

int WM_KEYBOARD::key_count(int row)
{
    if (row < 0 || row >= row_count()) {
        return 0;
    }
    return std::min<int>(std::max<int>(mapping->rows[row].key_count, 0), WMK_MAX_KEYS);
}

WM_BUTTON* WM_KEYBOARD::get_key(INT_S16 row, INT_S16 column)
{
    return grid ? as_key(grid->get_object(column, row)) : nullptr;
}

int WM_KEYBOARD::get_key_set()
{
    return (shift == caps ? 0 : 1) + (ext ? 2 : 0);
}

void WM_KEYBOARD::set_keys()
{
    struct SPECIAL
    {
        INT_U8 byte;
        int kind;
        int label;
    };
    static const SPECIAL specials[] = {
        {WMK_SHIFT, WMK_KIND_SHIFT, WMK_LABEL_SHIFT},
        {WMK_CAPS, WMK_KIND_CAPS, WMK_LABEL_CAPS},
        {WMK_EXT, WMK_KIND_EXT, WMK_LABEL_EXT},
        {WMK_ENTER, WMK_KIND_ENTER, WMK_LABEL_ENTER},
        {WMK_BACKSPACE, WMK_KIND_BACKSPACE, WMK_LABEL_BACKSPACE},
        {WMK_TAB, WMK_KIND_TAB, WMK_LABEL_TAB},
        {WMK_LEFT, WMK_KIND_LEFT, WMK_LABEL_LEFT},
        {WMK_DOWN, WMK_KIND_DOWN, WMK_LABEL_DOWN},
        {WMK_UP, WMK_KIND_UP, WMK_LABEL_UP},
        {WMK_RIGHT, WMK_KIND_RIGHT, WMK_LABEL_RIGHT},
    };
    const int set = get_key_set();
    highlighted_row = highlighted_column = -1;
    for_each_key([this, set](WM_BUTTON* key, int r, int c) {
        key->set_trigger_flags(trigger_bits);
        key->set_slide_select(no_input_taken);
        const INT_U8* bytes = mapping->keys[set][r];
        const INT_U8 byte = bytes ? bytes[c] : WMK_GAP;
        int kind = WMK_KIND_CHARACTER;
        INT_U8 typed = 0;
        const char* label = nullptr;
        char one[2] = {static_cast<char>(byte), '\0'};
        const auto* special =
            std::find_if(std::begin(specials), std::end(specials), [byte](const SPECIAL& s) { return s.byte == byte; });
        if (byte == WMK_GAP) {
            label = "";
            key->hide(0, 0);
        } else if (special != std::end(specials)) {
            kind = special->kind;
            label = mapping->label[special->label];
        } else {
            typed = byte;
            label = byte == ' ' ? mapping->label[WMK_LABEL_SPACE] : one;
        }
        if (kind == WMK_KIND_ENTER) {
            key->set_trigger_flags(2);
            if (highlighted_row < 0) {
                highlighted_row = static_cast<INT_S16>(r);
                highlighted_column = static_cast<INT_S16>(c);
            }
        }
        key->callback_data1 = kind_word(kind);
        key_chars[r][c] = typed;
        key->set_string(label ? label : "", 0);
        if (hints) {
            key->set_hint_text(label);
        }
        // The latch keys show their latch as it now is.
        const INT_U8 latched = activated_callback(key, this);
        if (latched != key->activated) {
            key->set_activated(latched);
        }
    });
    if (highlighted_row < 0) {
        highlighted_row = highlighted_column = 0;
    }
    // One highlighted key: the one Return presses.
    for_each_key([this](WM_BUTTON* key, int r, int c) {
        key->set_selected(r == highlighted_row && c == highlighted_column ? 1 : 0);
    });
}

WM_MESG WM_KEYBOARD::keyboard_callback(WM_SCREEN_OBJECT* key, void* kind, void* keyboard)
{
    auto* k = static_cast<WM_KEYBOARD*>(keyboard);
    if (!k || !key) {
        return WM_MESG_NONE;
    }
    INT_S16 row = -1, column = -1;
    INT_U8 typed = 0;
    if (k->grid && k->grid->get_object_cell(key, row, column, 1) && row < WMK_MAX_ROWS && column < WMK_MAX_KEYS) {
        typed = k->key_chars[row][column];
    }
    // Code and character posted, by kind (slot 0 unused); -1 / 0: left as they were.
    static const struct
    {
        INT_S32 code;
        INT_U8 character;
    } posts[] = {{-1, 0},       {-1, 0},     {KEY_DELETE, 8}, {KEY_TAB, 9},       {KEY_RETURN, 10}, {KEY_LEFT, 0},
                 {KEY_DOWN, 0}, {KEY_UP, 0}, {KEY_RIGHT, 0},  {KEY_CAPS_LOCK, 0}, {KEY_SHIFT, 0},   {-1, 0}};
    const int n = static_cast<int>(reinterpret_cast<std::intptr_t>(kind));
    if (n < WMK_KIND_CHARACTER || n > WMK_KIND_EXT) {
        return WM_MESG_NONE;
    }
    if (posts[n].code != -1) {
        k->pending_code = posts[n].code;
    }
    if (n == WMK_KIND_CHARACTER) {
        k->pending_char = typed;
    } else if (posts[n].character) {
        k->pending_char = posts[n].character;
    }
    switch (n) {
    case WMK_KIND_CHARACTER:
    case WMK_KIND_BACKSPACE:
    case WMK_KIND_TAB:
        // Shift holds for one character only.
        if (k->shift) {
            k->shift = 0;
            k->set_keys();
        }
        break;
    case WMK_KIND_CAPS:
        k->caps = !k->caps;
        k->set_keys();
        break;
    case WMK_KIND_SHIFT:
        k->shift = !k->shift;
        k->set_keys();
        break;
    case WMK_KIND_EXT:
        k->ext = !k->ext;
        k->set_keys();
        break;
    default: break;
    }
    return WM_MESG_NONE;
}

INT_U8 WM_KEYBOARD::activated_callback(WM_BUTTON* key, void* keyboard)
{
    const auto* k = static_cast<const WM_KEYBOARD*>(keyboard);
    if (!k || !key) {
        return 0;
    }
    switch (kind_of(key)) {
    case WMK_KIND_CAPS: return k->caps;
    case WMK_KIND_SHIFT: return k->shift;
    case WMK_KIND_EXT: return k->ext;
    default: return 0;
    }
}

WM_MESG WM_KEYBOARD::monitor()
{
    if (pending_code != -1 || pending_char) {
        if (pending_code != -1) {
            KEYBOARD::process_key_event(static_cast<INT_U32>(pending_code));
        }
        if (pending_char) {
            // KEYBOARD maps what it is given from the host's set into the
            // system's; the keys are written in the system's set already.
            KEYBOARD::process_char_event(KEYBOARD::unmap_char(pending_char));
        }
        pending_code = -1;
        pending_char = 0;
        return WM_MESG_NONE;
    }
    const WM_MESG result = WM_SCREEN_OBJECT::monitor();

    const INT_S32 code = KEYBOARD::code;
    if (code < KEY_LEFT || code > KEY_UP || !grid) {
        return result;
    }
    KEYBOARD::get_code();
    // 123 left, 124 right, 125 down, 126 up as the grid's directions.
    static const char directions[] = {0, 1, 3, 2};
    INT_S16 to_column = highlighted_column, to_row = highlighted_row;
    WM_BUTTON* next = as_key(grid->find_next_object(directions[code - KEY_LEFT], highlighted_column, highlighted_row,
                                                    &to_column, &to_row, 0));
    if (next && !next->selected) {
        next->set_selected(1);
        if (WM_BUTTON* old = get_key(highlighted_row, highlighted_column)) {
            old->set_selected(0);
        }
        highlighted_row = to_row;
        highlighted_column = to_column;
    }
    return result;
}

void WM_KEYBOARD::set_enter_enabled(INT_U8 enabled)
{
    for_each_key([enabled](WM_BUTTON* key, int, int) {
        if (kind_of(key) == WMK_KIND_ENTER) {
            key->set_enabled(enabled);
        }
    });
}

INT_U8 WM_KEYBOARD::get_enter_enabled()
{
    INT_U8 any = 0;
    for_each_key([&any](WM_BUTTON* key, int, int) { any |= kind_of(key) == WMK_KIND_ENTER && key->enabled; });
    return any;
}
