// The object record of the page definition: ownership and copying, its
// bytes in every file version (with the legacy block of versions 0 to 7),
// and the naming and numbering of its action and creation messages.
#include "wm_ptm_object_info.h"

#include "folder.h"
#include "wm_names.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_array.h"
#include "wm_ptm_records.h"
#include "wm_style_set.h"

#include <cstring>
#include <initializer_list>
#include <new>

namespace {

// Old record flags and the style-set drawing (ssf) and extended (ssef) flags they map to.
struct FLAG_MAP
{
    INT_U32 old_bit, ssf, ssef;
};

// Old button flags (0x200 depends on the shading flags and is handled apart).
const FLAG_MAP old_button_flags[] = {
    {0x1, SSF_LEFT_JUSTIFY_TEXT, 0},
    {0x2, SSF_RIGHT_JUSTIFY_TEXT, 0},
    {0x10, 0, SSEF_LEFT_ARROW},
    {0x20, 0, SSEF_RIGHT_ARROW},
    {0x40, 0, SSEF_UP_ARROW},
    {0x80, 0, SSEF_DOWN_ARROW},
    {0x100, SSF_DARKENED_BACKGROUND, 0},
    {0x400, SSF_HFADING, 0},
    {0x800, SSF_VFADING, 0},
    {0x1000, SSF_DRAW_BORDER, 0},
    {0x8000, SSF_INSET_TEXT, 0},
    {0x10000, SSF_CHISELED_TEXT, 0},
    {0x20000, SSF_ICON_LEFT, 0},
    {0x40000, SSF_ICON_RIGHT, 0},
    {0x80000, SSF_ICON_TOP, 0},
    {0x100000, SSF_ICON_BOTTOM, 0},
    {0x200000, SSF_ICON_ATTACH_TO_TEXT, 0},
    {0x400000, SSF_WRAP_TEXT, 0},
    {0x800000, SSF_DONT_RESIZE_IMAGE, 0},
};

const FLAG_MAP old_text_flags[] = {
    {0x1, SSF_DRAW_BORDER | SSF_INDENT_BORDER, 0},
    {0x2, SSF_DRAW_BORDER | SSF_OUTSTANDING_BORDER, 0},
    {0x4, SSF_LEFT_JUSTIFY_TEXT, 0},
    {0x8, SSF_RIGHT_JUSTIFY_TEXT, 0},
    {0x40, SSF_DARKENED_BACKGROUND, 0},
    {0x80, SSF_HFADING, 0},
    {0x100, SSF_VFADING, 0},
    {0x800, SSF_INSET_TEXT, 0},
    {0x1000, SSF_CHISELED_TEXT, 0},
    {0x2000, SSF_ICON_LEFT, 0},
    {0x4000, SSF_ICON_RIGHT, 0},
    {0x8000, SSF_ICON_TOP, 0},
};

template <size_t N> void map_flags(const FLAG_MAP (&map)[N], INT_U32 old, WM_STYLE_SET& s)
{
    for (const FLAG_MAP& m : map) {
        if (old & m.old_bit) {
            s.ssf |= m.ssf;
            s.ssef |= m.ssef;
        }
    }
}

// Old type codes (before version 13): 2 a button, 4 an image, else text.
WM_OBJECT_TYPE convert_old_type(INT_U32 code)
{
    return code == 2 ? WM_TYPE_BUTTON : code == 4 ? WM_TYPE_IMAGE : WM_TYPE_SCRIPT;
}

// Triggers of versions 8 to 11 were u32 codes.
INT_U8 convert_old_trigger(INT_U32 code)
{
    return code == 0 ? 1 : code == 1 ? 2 : 3;
}

} // namespace

long WM_PTM_OBJECT_INFO::min_file_size(INT_U16 version)
{
    if (version < 8) {
        return 4 + 4 + 12 + 1 + 8 + 4; // type, shading, ids, visible, box, count
    }
    long n = 4 + 4 * 5 + 8 + 1 + 4 + 4 + 4 + 1 + 1 + 4; // type .. visible, count
    n += version >= 22 ? 1 : 0;                         // do_not_create
    n += version >= 11 && version <= 17 ? 4 : 0;        // the discarded word
    n += version >= 21 ? 4 + 12 : 0;                    // generic_type, grid fields
    n += version >= 12 ? 2 : 8;                         // triggers: u8 or u32
    n += version >= 19 ? 1 : 0;                         // hotkey flag
    n += version >= 17 ? 4 : 0;                         // image index
    n += version >= 20 ? 4 : 0;                         // grid cell
    return n;
}

namespace {

template <class T> T* list_entry(T** list, INT_S32 count, INT_S32 index)
{
    return list && index >= 0 && index < count ? list[index] : nullptr;
}

template <class T> INT_S32 list_index(T** list, INT_S32 count, const T* entry)
{
    if (!list || !entry) {
        return -1;
    }
    for (INT_S32 i = 0; i < count; ++i) {
        if (list[i] == entry) {
            return i;
        }
    }
    return -1;
}

WM_STYLE_SET* style_set_at(INT_S32 index)
{
    WM_PAGE_TOOL_MANAGER* m = WM_PTM_OBJECT_INFO::ptm;
    return m ? list_entry(m->style_sets, m->style_set_count, index) : nullptr;
}

INT_S32 style_set_index(const WM_STYLE_SET* s)
{
    WM_PAGE_TOOL_MANAGER* m = WM_PTM_OBJECT_INFO::ptm;
    return m ? list_index(m->style_sets, m->style_set_count, s) : -1;
}

bool get_style_set_ref(DATA_DEVICE& d, WM_STYLE_SET*& field)
{
    INT_S32 index = -1;
    if (!get_s32(d, index)) {
        return false;
    }
    field = style_set_at(index);
    return true;
}

// Skips n bytes in blocks; stops (false) at the end of the data, so a
// corrupt length costs no more reads than the data holds.
bool skip_bytes(DATA_DEVICE& d, INT_U32 n)
{
    INT_U8 buf[256];
    while (n > 0) {
        long k = n < sizeof buf ? static_cast<long>(n) : static_cast<long>(sizeof buf);
        if (!get_bytes(d, buf, k)) {
            return false;
        }
        n -= static_cast<INT_U32>(k);
    }
    return true;
}

// The image base name of an old button: the first 255 bytes count.
bool get_legacy_image_name(DATA_DEVICE& d, WM_STYLE_SET& s)
{
    INT_U32 length = 0;
    if (!get_u32(d, length)) {
        return false;
    }
    char name[256] = {};
    INT_U32 kept = length < 255 ? length : 255;
    if (!get_bytes(d, name, static_cast<long>(kept)) || !skip_bytes(d, length - kept)) {
        return false;
    }
    s.set_image_base_string(name);
    // Old button skins lived in "$APPDATA/buttons".
    FOLDER f;
    char path[2048] = {};
    if (f.set("$APPDATA")) {
        f.move_down("buttons", 0);
        f.get(path);
    }
    std::memcpy(s.image_path, path, sizeof s.image_path);
    return true;
}

bool get_font(DATA_DEVICE& d, WM_STYLE_SET& s)
{
    INT_U8 font_id = 0;
    if (!get_u8(d, font_id)) {
        return false;
    }
    s.font_id = static_cast<INT_S8>(font_id);
    return get_s16(d, s.font_x_sz) && get_s16(d, s.font_y_sz);
}

// ASCII only, whatever the locale.
bool starts_with_nocase(const char* text, const char* prefix)
{
    for (; *prefix; ++text, ++prefix) {
        auto a = static_cast<unsigned char>(*text), b = static_cast<unsigned char>(*prefix);
        if (a >= 'a' && a <= 'z') {
            a = static_cast<unsigned char>(a - 'a' + 'A');
        }
        if (b >= 'a' && b <= 'z') {
            b = static_cast<unsigned char>(b - 'a' + 'A');
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

} // namespace

// ---- the sub-record list -----------------------------------------------------

WM_PTM_OBJECT_LIST::~WM_PTM_OBJECT_LIST()
{
    delete[] objects;
}

WM_PTM_OBJECT_LIST::WM_PTM_OBJECT_LIST(const WM_PTM_OBJECT_LIST& other)
{
    alloc(other.object_count);
    for (INT_S32 i = 0; i < object_count; ++i) {
        objects[i] = other.objects[i];
    }
}

WM_PTM_OBJECT_LIST::WM_PTM_OBJECT_LIST(WM_PTM_OBJECT_LIST&& other) noexcept
    : objects(other.objects), object_count(other.object_count)
{
    other.objects = nullptr;
    other.object_count = 0;
}

WM_PTM_OBJECT_LIST& WM_PTM_OBJECT_LIST::operator=(WM_PTM_OBJECT_LIST other) noexcept
{
    std::swap(objects, other.objects);
    std::swap(object_count, other.object_count);
    return *this;
}

void WM_PTM_OBJECT_LIST::alloc(long n)
{
    wm_ptm_alloc_array(objects, object_count, n, WM_PTM_ARRAY_MAX);
}

bool WM_PTM_OBJECT_LIST::create_new_object(unsigned long type)
{
    return wm_ptm_grow_array(objects, object_count, WM_PTM_ARRAY_MAX, [type](WM_PTM_OBJECT_INFO& added) {
        added.type = static_cast<WM_OBJECT_TYPE>(type);
        return true;
    });
}

bool WM_PTM_OBJECT_LIST::delete_object(long index)
{
    return wm_ptm_remove_from_array(objects, object_count, index);
}

bool WM_PTM_OBJECT_LIST::read_objects(DATA_DEVICE& d, INT_U16 version, int depth)
{
    INT_S32 n = 0;
    const long min_sz = WM_PTM_OBJECT_INFO::min_file_size(version);
    if (!ptm_get_count(d, n, min_sz)) {
        return false;
    }
    alloc(n);
    if (object_count != n) {
        d.error = 1;
        return false;
    }
    PTM_LIST_CLAIM claim(d, n, min_sz);
    for (INT_S32 i = 0; i < n; ++i) {
        claim.next_element();
        if (!objects[i].read(d, version, depth)) {
            return false;
        }
    }
    return true;
}

bool WM_PTM_OBJECT_LIST::write_objects(DATA_DEVICE& d)
{
    if (!put_u32(d, static_cast<INT_U32>(object_count))) {
        return false;
    }
    for (INT_S32 i = 0; i < object_count; ++i) {
        if (!objects[i].put_to_data_device(d)) {
            return false;
        }
    }
    return true;
}

// ---- the record ----------------------------------------------------------------

// Each field copies, moves and frees itself. Defined here, where the
// custom style set's type is complete.
WM_PTM_OBJECT_INFO::WM_PTM_OBJECT_INFO() = default;
WM_PTM_OBJECT_INFO::~WM_PTM_OBJECT_INFO() = default;
WM_PTM_OBJECT_INFO::WM_PTM_OBJECT_INFO(const WM_PTM_OBJECT_INFO& other) = default;
WM_PTM_OBJECT_INFO::WM_PTM_OBJECT_INFO(WM_PTM_OBJECT_INFO&& other) noexcept = default;
WM_PTM_OBJECT_INFO& WM_PTM_OBJECT_INFO::operator=(const WM_PTM_OBJECT_INFO& other) = default;
WM_PTM_OBJECT_INFO& WM_PTM_OBJECT_INFO::operator=(WM_PTM_OBJECT_INFO&& other) noexcept = default;

WM_PTM_OBJECT_INFO& WM_PTM_OBJECT_INFO::operator=(WM_SCREEN_OBJECT*)
{
    return *this;
}

void WM_PTM_OBJECT_INFO::clear()
{
    *this = WM_PTM_OBJECT_INFO();
}

void WM_PTM_OBJECT_INFO::set_text(const char* t)
{
    text.set(t);
}

void WM_PTM_OBJECT_INFO::set_hint(const char* t)
{
    hint.set(t);
}

void WM_PTM_OBJECT_INFO::set_grid_column_ratios(const char* t)
{
    grid_column_ratios.set(t);
}

void WM_PTM_OBJECT_INFO::create_custom_style_set()
{
    if (!custom_style_set) {
        custom_style_set.reset(new (std::nothrow) WM_STYLE_SET);
    }
}

void WM_PTM_OBJECT_INFO::delete_custom_style_set()
{
    custom_style_set.reset();
}

void WM_PTM_OBJECT_INFO::move_from(WM_PTM_OBJECT_INFO& other)
{
    if (&other == this) {
        return;
    }
    *this = std::move(other);
    other.clear();
}

void WM_PTM_OBJECT_INFO::copy_from(WM_PTM_OBJECT_INFO& other)
{
    if (&other != this) {
        *this = other;
    }
}

void WM_PTM_OBJECT_INFO::set_id(char*& name, const char* text, const char* prefix)
{
    name = nullptr;
    if (!text || !prefix) {
        return;
    }
    size_t prefix_len = std::strlen(prefix);
    size_t start = starts_with_nocase(text, prefix) ? 0 : prefix_len;
    size_t len = start + std::strlen(text);
    char* out = new (std::nothrow) char[len + 1];
    if (!out) {
        return;
    }
    std::memcpy(out, prefix, start);
    for (size_t i = start; i < len; ++i) {
        auto c = static_cast<unsigned char>(text[i - start]);
        bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        out[i] = !alnum ? '_' : (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
    }
    out[len] = '\0';
    name = out;
}

const char* WM_PTM_OBJECT_INFO::look_for_id(unsigned long id, WM_PTM_OBJECT_INFO* except)
{
    if (this != except) {
        if (aid == id) {
            return aid_name;
        }
        if (cid == id) {
            return cid_name;
        }
    }
    for (INT_S32 i = 0; i < object_count; ++i) {
        if (const char* found = objects[i].look_for_id(id, except)) {
            return found;
        }
    }
    return nullptr;
}

unsigned long WM_PTM_OBJECT_INFO::look_for_id(const char* name, WM_PTM_OBJECT_INFO* except)
{
    if (!name) {
        return 0;
    }
    if (this != except) {
        if (aid_name && std::strcmp(aid_name, name) == 0) {
            return aid;
        }
        if (cid_name && std::strcmp(cid_name, name) == 0) {
            return cid;
        }
    }
    for (INT_S32 i = 0; i < object_count; ++i) {
        if (unsigned long found = objects[i].look_for_id(name, except)) {
            return found;
        }
    }
    return 0;
}

namespace {

// One group of top-level records in which ids must differ: a page, or one
// of the dialogs.
struct ID_SCOPE
{
    WM_PTM_OBJECT_INFO* objects;
    INT_S32 count;
};

bool used_in(const ID_SCOPE& s, unsigned long n, WM_PTM_OBJECT_INFO* self)
{
    for (INT_S32 i = 0; i < s.count; ++i) {
        if (s.objects[i].look_for_id(n, self)) {
            return true;
        }
    }
    return false;
}

// The smallest number from 1 that is not `avoid` and not used. Each scope
// is searched until n is free in it, then the next one, never going back:
// a number used only in an earlier dialog can therefore come out.
unsigned long first_free(const ID_SCOPE* scopes, long count, unsigned long avoid, WM_PTM_OBJECT_INFO* self)
{
    unsigned long n = 1;
    while (n == avoid) {
        ++n;
    }
    for (long s = 0; s < count; ++s) {
        while (used_in(scopes[s], n, self) || n == avoid) {
            ++n;
        }
    }
    return n;
}

// The id name set_id makes of `text` (none for null or ""), into `field`.
void name_id(WM_PTM_TEXT& field, const char* text, const char* prefix)
{
    char* name = nullptr;
    if (text && *text) {
        WM_PTM_OBJECT_INFO::set_id(name, text, prefix);
    }
    field.set(name);
    delete[] name;
}

void number_ids(WM_PTM_OBJECT_INFO& r, const char* action, const char* creation, const ID_SCOPE* scopes, long count)
{
    name_id(r.aid_name, action, "AID_");
    name_id(r.cid_name, creation, "CID_");
    r.aid = r.cid = 0;
    // A name another record already has keeps its number; the last wins.
    for (long s = 0; s < count; ++s) {
        for (INT_S32 i = 0; i < scopes[s].count; ++i) {
            WM_PTM_OBJECT_INFO& other = scopes[s].objects[i];
            if (unsigned long n = r.aid_name ? other.look_for_id(r.aid_name, &r) : 0) {
                r.aid = static_cast<INT_U32>(n);
            }
            if (unsigned long n = r.cid_name ? other.look_for_id(r.cid_name, &r) : 0) {
                r.cid = static_cast<INT_U32>(n);
            }
        }
    }
    if (r.aid == 0 && r.aid_name) {
        r.aid = static_cast<INT_U32>(first_free(scopes, count, 0, &r));
    }
    if (r.cid == 0 && r.cid_name) {
        r.cid = static_cast<INT_U32>(first_free(scopes, count, r.aid, &r));
    }
}

} // namespace

void WM_PTM_OBJECT_INFO::set_ids(const char* action_text, const char* creation_text, WM_PTM_PAGE_INFO* page)
{
    ID_SCOPE scope = {page ? page->objects : nullptr, page ? page->object_count : 0};
    number_ids(*this, action_text, creation_text, &scope, 1);
}

void WM_PTM_OBJECT_INFO::set_ids(const char* action_text, const char* creation_text, WM_PTM_DIALOG_INFO** dialogs,
                                 long count)
{
    ID_SCOPE* scopes = count > 0 && dialogs ? new (std::nothrow) ID_SCOPE[static_cast<size_t>(count)] : nullptr;
    if (!scopes) {
        count = 0;
    }
    for (long i = 0; i < count; ++i) {
        scopes[i] = dialogs[i] ? ID_SCOPE{dialogs[i]->objects, dialogs[i]->object_count} : ID_SCOPE{nullptr, 0};
    }
    number_ids(*this, action_text, creation_text, scopes, count);
    delete[] scopes;
}

bool WM_PTM_OBJECT_INFO::get_from_data_device(DATA_DEVICE& d)
{
    return read(d, WM_PAGE_TOOL_MANAGER::file_version, 0);
}

namespace {

// Colours stored as u32 values, in the order given.
bool get_colours(DATA_DEVICE& d, std::initializer_list<COLOUR*> colours)
{
    for (COLOUR* c : colours) {
        INT_U32 v = 0;
        if (!get_u32(d, v)) {
            return false;
        }
        *c = COLOUR(v);
    }
    return true;
}

// Versions 0 to 7, after the ids: a button's text, hint (7), six colours,
// a word nothing reads, its flags (u16 up to 4, then u32), shading flags,
// a byte nothing reads, the indent byte, its skin (from 3), the enabled
// byte (from 4) and its font (from 6).
bool read_legacy_button(WM_PTM_OBJECT_INFO& r, WM_STYLE_SET& s, DATA_DEVICE& d, INT_U16 version)
{
    INT_U32 discarded = 0, old_flags = 0;
    INT_U16 old_flags16 = 0;
    INT_U8 byte = 0, indent = 0;
    if (!wm_ptm_get_text(d, r.text) || (version == 7 && !wm_ptm_get_text(d, r.hint))) {
        return false;
    }
    if (!get_colours(d, {&s.bg_colour, &s.fg_colour, &s.fading_colour, &s.active_colour, &s.highlight_colour,
                         &s.highlight_text_colour}) ||
        !get_u32(d, discarded)) {
        return false;
    }
    if (version <= 4) {
        if (!get_u16(d, old_flags16)) {
            return false;
        }
        old_flags = old_flags16;
    } else if (!get_u32(d, old_flags)) {
        return false;
    }
    if (!get_u16(d, s.shading_flags) || !get_u8(d, byte) || !get_u8(d, indent) ||
        (version >= 3 && !get_legacy_image_name(d, s)) || (version >= 4 && !get_u8(d, r.enabled)) ||
        (version >= 6 && !get_font(d, s))) {
        return false;
    }
    s.ssf = s.ssef = 0;
    map_flags(old_button_flags, old_flags, s);
    if (old_flags & 0x200) {
        s.ssf |= SSF_DRAW_BORDER | ((s.shading_flags & 0x8000) ? SSF_INDENT_BORDER : SSF_OUTSTANDING_BORDER);
    }
    if (indent) {
        s.ssef |= SSEF_INDENT_WHEN_ACTIVE;
    }
    return true;
}

// Versions 0 to 7, after the ids: a text block's text, three colours, its
// flags, shading flags and its font (from 6).
bool read_legacy_text(WM_PTM_OBJECT_INFO& r, WM_STYLE_SET& s, DATA_DEVICE& d, INT_U16 version)
{
    INT_U16 old_flags = 0;
    if (!wm_ptm_get_text(d, r.text) || !get_colours(d, {&s.bg_colour, &s.fg_colour, &s.fading_colour}) ||
        !get_u16(d, old_flags) || !get_u16(d, s.shading_flags) || (version >= 6 && !get_font(d, s))) {
        return false;
    }
    s.ssf = s.ssef = 0;
    map_flags(old_text_flags, old_flags, s);
    return true;
}

// Versions 8 to 25, after the type: the ids and the box.
bool read_ids_and_box(WM_PTM_OBJECT_INFO& r, DATA_DEVICE& d)
{
    return wm_ptm_get_text(d, r.aid_name) && get_u32(d, r.aid) && get_u32(d, r.user_data) &&
           wm_ptm_get_text(d, r.cid_name) && get_u32(d, r.cid) && get_s16(d, r.x) && get_s16(d, r.y) &&
           get_s16(d, r.width) && get_s16(d, r.height);
}

// Then a word nothing reads (11 to 17), the custom style set behind a flag
// byte, the text, the shared style set, the generic type (from 21), the
// hint and the enabled byte.
bool read_look(WM_PTM_OBJECT_INFO& r, DATA_DEVICE& d, INT_U16 version)
{
    INT_U32 discarded = 0;
    INT_U8 custom = 0;
    if ((version >= 11 && version <= 17 && !get_u32(d, discarded)) || !get_u8(d, custom)) {
        return false;
    }
    if (custom) {
        r.create_custom_style_set();
        if (!r.custom_style_set || !r.custom_style_set->get_from_data_device(d)) {
            return false;
        }
    }
    return wm_ptm_get_text(d, r.text) && get_style_set_ref(d, r.style_set) &&
           (version < 21 || get_u32(d, r.generic_type)) && wm_ptm_get_text(d, r.hint) && get_u8(d, r.enabled);
}

// A trigger: a byte from version 12, a u32 code before.
bool get_trigger(DATA_DEVICE& d, INT_U16 version, INT_U8& trigger)
{
    if (version >= 12) {
        return get_u8(d, trigger);
    }
    INT_U32 code = 0;
    if (!get_u32(d, code)) {
        return false;
    }
    trigger = convert_old_trigger(code);
    return true;
}

// Then the button's trigger, the hotkey behind a flag byte (from 19), the
// picture's trigger and the visible byte.
bool read_triggers(WM_PTM_OBJECT_INFO& r, DATA_DEVICE& d, INT_U16 version)
{
    INT_U8 has_hotkey = 0;
    if (!get_trigger(d, version, r.trigger) ||
        (version >= 19 && (!get_u8(d, has_hotkey) || (has_hotkey && !get_u32(d, r.hotkey))))) {
        return false;
    }
    return get_trigger(d, version, r.image_trigger) && get_u8(d, r.visible);
}

// Then the picture's index (from 17), the grid's row height, columns,
// column ratios and cell style set (from 21), and the cell in a parent
// grid (from 20).
bool read_picture_and_grid(WM_PTM_OBJECT_INFO& r, DATA_DEVICE& d, INT_U16 version)
{
    if (version >= 17) {
        INT_S32 index = -1;
        if (!get_s32(d, index)) {
            return false;
        }
        WM_PAGE_TOOL_MANAGER* m = WM_PTM_OBJECT_INFO::ptm;
        r.image = m ? list_entry(m->images, m->image_count, index) : nullptr;
    }
    if (version >= 21 && (!get_s16(d, r.grid_row_height) || !get_s16(d, r.grid_columns) ||
                          !wm_ptm_get_text(d, r.grid_column_ratios) || !get_style_set_ref(d, r.grid_cell_style_set))) {
        return false;
    }
    return version < 20 || (get_s16(d, r.grid_row) && get_s16(d, r.grid_column));
}

} // namespace

// The fields of versions 0 to 7 (after the type) that are not in the
// custom style set it makes.
bool WM_PTM_OBJECT_INFO::read_legacy(DATA_DEVICE& d, INT_U16 version)
{
    create_custom_style_set();
    if (!custom_style_set) {
        return false;
    }
    WM_STYLE_SET& s = *custom_style_set;
    if (!get_u32(d, s.shading_type) || !get_u32(d, aid) || !get_u32(d, user_data) || !get_u32(d, cid) ||
        !get_u8(d, s.visible) || !get_s16(d, x) || !get_s16(d, y) || !get_s16(d, width) || !get_s16(d, height)) {
        return false;
    }
    if (version >= 2 && (!wm_ptm_get_text(d, aid_name) || !wm_ptm_get_text(d, cid_name))) {
        return false;
    }
    if (type == WM_TYPE_BUTTON) {
        return read_legacy_button(*this, s, d, version);
    }
    return type != WM_TYPE_SCRIPT || read_legacy_text(*this, s, d, version);
}

bool WM_PTM_OBJECT_INFO::read(DATA_DEVICE& d, INT_U16 version, int depth)
{
    clear();
    // Each level is a stack frame here: a crafted file must not nest deeper.
    if (depth >= max_depth) {
        return false;
    }
    if ((version >= 22 && !get_u8(d, do_not_create)) || !get_u32(d, type)) {
        return false;
    }
    if (version < 13) {
        type = convert_old_type(type);
    }
    const bool fields = version < 8 ? read_legacy(d, version)
                                    : read_ids_and_box(*this, d) && read_look(*this, d, version) &&
                                          read_triggers(*this, d, version) && read_picture_and_grid(*this, d, version);
    return fields && read_objects(d, version, depth + 1);
}

bool WM_PTM_OBJECT_INFO::put_to_data_device(DATA_DEVICE& d)
{
    WM_PAGE_TOOL_MANAGER* m = ptm;
    const INT_S32 image_index = m ? list_index(m->images, m->image_count, image) : -1;
    return put_u8(d, do_not_create) && put_u32(d, type) && put_string(d, aid_name) && put_u32(d, aid) &&
           put_u32(d, user_data) && put_string(d, cid_name) && put_u32(d, cid) && put_s16(d, x) && put_s16(d, y) &&
           put_s16(d, width) && put_s16(d, height) && put_u8(d, custom_style_set ? 1 : 0) &&
           (!custom_style_set || custom_style_set->put_to_data_device(d)) && put_string(d, text) &&
           put_s32(d, style_set_index(style_set)) && put_u32(d, generic_type) && put_string(d, hint) &&
           put_u8(d, enabled) && put_u8(d, trigger) && put_u8(d, hotkey != 0xFFFFFFFF ? 1 : 0) &&
           (hotkey == 0xFFFFFFFF || put_u32(d, hotkey)) && put_u8(d, image_trigger) && put_u8(d, visible) &&
           put_s32(d, image_index) && put_s16(d, grid_row_height) && put_s16(d, grid_columns) &&
           put_string(d, grid_column_ratios) && put_s32(d, style_set_index(grid_cell_style_set)) &&
           put_s16(d, grid_row) && put_s16(d, grid_column) && write_objects(d);
}
