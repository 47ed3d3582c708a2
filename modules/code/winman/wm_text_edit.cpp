// WM_TEXT_EDIT: construction, the text setters, the per-pass input state
// machine (one key code and one character per pass), sideways scrolling,
// drawing and the glue to the shared on-screen keyboard.
#include "wm_text_edit.h"
#include "wm_s16.h"

#include "font.h"
#include "host_utils.h"
#include "keyboard.h"
#include "mouse.h"
#include "wm_clip.h"
#include "wm_dialog.h"
#include "wm_names.h"
#include "wm_page_services.h"

#include "wm_keyboard.h"
#include "wm_keyboard_dialog.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <string>

namespace {

constexpr INT_U8 CHAR_BACKSPACE = 8;

bool held(INT_U32 key)
{
    return KEYBOARD::get_key_value(key) != 0;
}

// What typing lets in: printable ASCII and every byte above 127.
bool typeable(unsigned c)
{
    return (c >= 32 && c <= 126) || (c >= 128 && c <= 255);
}

int hex_digit(unsigned char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

// Clipboard text marks characters above 0xFF as runs "\x01,XXXX,...\x01".
// Each code point of a run becomes one '?', as typed text above 0xFF does;
// a high surrogate and its low half are one code point. A 0x01 that opens
// no well-formed run stays as it is (the typed-character rule drops it).
std::string decode_escapes(const char* in)
{
    std::string out;
    const auto* s = reinterpret_cast<const unsigned char*>(in);
    std::size_t i = 0;
    while (s[i]) {
        if (s[i] != 1) {
            out += static_cast<char>(s[i++]);
            continue;
        }
        std::size_t j = i + 1;
        int points = 0;
        bool pending_high = false, ok = false;
        while (s[j] == ',') {
            unsigned v = 0;
            int k = 1;
            for (; k <= 4; ++k) {
                const int d = hex_digit(s[j + k]);
                if (d < 0) {
                    break;
                }
                v = (v << 4) | static_cast<unsigned>(d);
            }
            if (k <= 4) {
                break;
            }
            j += 5;
            const bool high = v >= 0xD800 && v <= 0xDBFF;
            const bool low = v >= 0xDC00 && v <= 0xDFFF;
            if (!(pending_high && low)) {
                ++points;
            }
            pending_high = high;
            if (s[j] == 1) {
                ok = true;
                break;
            }
        }
        if (!ok) {
            out += static_cast<char>(s[i++]);
            continue;
        }
        out.append(static_cast<std::size_t>(points), '?');
        i = j + 1;
    }
    return out;
}

void play_action_sound()
{
    if (WM_SCREEN_OBJECT::action_sound.is_loaded()) {
        WM_SCREEN_OBJECT::action_sound.platform_play();
    }
}

const char* chars(const KIVO_STRING& s)
{
    return s.buffer ? s.buffer : "";
}

// A run of text in the edit's font at the text's row, no outline.
void render_line(const WM_TEXT_EDIT& e, IMAGE& s, int px, int ty, const char* str, long n, COLOUR colour, short effect)
{
    s.process_and_render_string(to_s16(px), to_s16(ty), colour, COLOUR_INVISIBLE, COLOUR_INVISIBLE, e.font_id,
                                e.font_x_sz, e.font_y_sz, str, effect, n, 0);
}

} // namespace

// ---- keys and the selection ----------------------------------------------------

const WM_TEXT_EDIT_KEY text_edit_keys[] = {
    {KEY_FORWARD_DELETE, 0, 0, TEXT_EDIT_DELETE_FORWARD},
    {KEY_HOME, 0, 0, TEXT_EDIT_TO_START},
    {KEY_END, 0, 0, TEXT_EDIT_TO_END},
    {KEY_LEFT, 0, 1, TEXT_EDIT_WORD_LEFT},
    {KEY_LEFT, 0, 0, TEXT_EDIT_LEFT},
    {KEY_RIGHT, 0, 1, TEXT_EDIT_WORD_RIGHT},
    {KEY_RIGHT, 0, 0, TEXT_EDIT_RIGHT},
    {-1, CHAR_BACKSPACE, 0, TEXT_EDIT_DELETE_BACK},
    {-1, 'c', 1, TEXT_EDIT_COPY},
    {-1, 'x', 1, TEXT_EDIT_CUT},
    {-1, 'v', 1, TEXT_EDIT_PASTE},
    {-1, 'a', 1, TEXT_EDIT_SELECT_ALL},
    {-1, 'z', 1, TEXT_EDIT_REVERT},
};
const int text_edit_key_count = static_cast<int>(sizeof text_edit_keys / sizeof text_edit_keys[0]);

namespace {

// The first row for the code or character that the modifiers allow.
WM_TEXT_EDIT_OPERATION find_key(INT_S32 code, unsigned character, bool command, WM_TEXT_EDIT_OPERATION none)
{
    for (const WM_TEXT_EDIT_KEY& k : text_edit_keys) {
        if (k.code == code && (code != -1 || k.character == character) && (command || !k.command)) {
            return k.operation;
        }
    }
    return none;
}

WM_TEXT_EDIT_OPERATION table_operation_for_code(INT_S32 code, bool command)
{
    return code == -1 ? TEXT_EDIT_NONE : find_key(code, 0, command, TEXT_EDIT_NONE);
}

} // namespace

WM_TEXT_EDIT_OPERATION text_edit_operation_for_code(INT_S32 code, bool command)
{
    // Return is whichever key the screen objects take for it.
    if (code == static_cast<INT_S32>(WM_SCREEN_OBJECT::return_key)) {
        return TEXT_EDIT_RETURN;
    }
    return table_operation_for_code(code, command);
}

WM_TEXT_EDIT_OPERATION text_edit_operation_for_char(unsigned character, bool command)
{
    return find_key(-1, character, command, TEXT_EDIT_TYPE);
}

void WM_TEXT_SELECTION::extend(INT_S16 from, INT_S16 to)
{
    if (start == -1) {
        start = from;
    }
    end = to;
    if (start == end) {
        clear();
    }
}

void WM_TEXT_SELECTION::select_whole(INT_S16 length)
{
    if (length > 0 && !(std::min(start, end) == 0 && std::max(start, end) == length)) {
        start = 0;
        end = length;
    }
}

void WM_TEXT_SELECTION::get_span(long length, long& lo, long& hi) const
{
    lo = std::clamp<long>(std::min(start, end), 0, length);
    hi = std::clamp<long>(std::max(start, end), 0, length);
}

// ---- the edit ------------------------------------------------------------------------

WM_TEXT_EDIT::WM_TEXT_EDIT(INT_S16 x, INT_S16 y, INT_S16 width, INT_S16 max_len, const char* text, WM_STYLE_SET& style,
                           WM_OBJECT_CALLBACK callback, void* data1, void* data2)
    : WM_SCREEN_OBJECT(style.visible, callback, data1, data2)
{
    skin.cache = &image_cache;
    draw_flags = 0;
    const INT_U32 ssf = style.ssf;
    if (ssf & SSF_DRAW_BORDER) {
        draw_flags |= (ssf & SSF_INDENT_BORDER) ? TEXT_EDIT_INDENTED_BORDER : 0;
        draw_flags |= (ssf & SSF_OUTSTANDING_BORDER) ? TEXT_EDIT_OUTSTANDING_BORDER : 0;
    }
    // Style-set drawing flags and the draw flags they give.
    static const struct
    {
        INT_U32 ssf_bit;
        INT_U16 flag;
    } flag_map[] = {
        {SSF_ICON_LEFT, TEXT_EDIT_ICON_LEFT},
        {SSF_ICON_RIGHT, TEXT_EDIT_ICON_RIGHT},
        {SSF_ICON_TOP, TEXT_EDIT_ICON_TOP},
        {SSF_ICON_BOTTOM, TEXT_EDIT_ICON_BOTTOM},
        {SSF_DONT_RESIZE_IMAGE, TEXT_EDIT_DONT_RESIZE_IMAGE},
        {SSF_DARKENED_BACKGROUND, TEXT_EDIT_DARKENED},
    };
    for (const auto& m : flag_map) {
        if (ssf & m.ssf_bit) {
            draw_flags |= m.flag;
        }
    }
    if (style.ssef & SSEF_TE_PASSWORD) {
        draw_flags |= TEXT_EDIT_PASSWORD;
    }
    setup(x, y, width, max_len, text, style.fg_colour, style.bg_colour, style.font_id, style.font_x_sz, style.font_y_sz,
          style.border_left_gap, style.border_right_gap, style.border_top_gap, style.border_bottom_gap);
    if (style.image_filename) {
        set_images(style.image_path, style.image_filename, &style);
    }
    if (style.shading_colour.alpha()) {
        shading_colour = style.shading_colour;
    }
    if (style.active_text_colour.alpha()) {
        cursor_colour = style.active_text_colour;
    }
    if (style.highlight_colour.alpha()) {
        selection_colour = style.highlight_colour;
    }
    if (style.disabled_text_colour.alpha()) {
        prompt_colour = style.disabled_text_colour;
    }
}

WM_TEXT_EDIT::~WM_TEXT_EDIT()
{
    // A page change deletes the edit but keeps the modal objects: the
    // keyboard it opened must not call back into it.
    if (soft_keyboard && soft_keyboard->edit && soft_keyboard->edit->callback_data1 == this) {
        soft_keyboard->edit->callback = nullptr;
        soft_keyboard->edit->callback_data1 = nullptr;
        hide_keyboard();
    }
    text.clear();
    skin.clear_images();
}

void WM_TEXT_EDIT::setup(INT_S16 nx, INT_S16 ny, INT_S16 nwidth, INT_S16 nmax_len, const char* ntext,
                         COLOUR ntext_colour, COLOUR nbackground_colour, char nfont_id, INT_S16 nfont_x_sz,
                         INT_S16 nfont_y_sz, INT_S16 left, INT_S16 right, INT_S16 top, INT_S16 bottom)
{
    if (use_soft_keyboard == 0xFF) {
        PLATFORM_CAPS caps;
        caps.get_system_info();
        use_soft_keyboard = caps.has_keyboard ? 0 : 1;
    }
    font_id = static_cast<INT_S8>(nfont_id);
    font_x_sz = nfont_x_sz;
    font_y_sz = nfont_y_sz;
    if (surface) {
        get_drawn_font(font_id, font_x_sz, font_y_sz);
    }
    const INT_S16 edge = get_shading_size(1);
    border_left_gap = left == -1 ? edge : left;
    border_right_gap = right == -1 ? edge : right;
    border_top_gap = top == -1 ? edge : top;
    border_bottom_gap = bottom == -1 ? edge : bottom;
    x = nx;
    y = ny;
    width = nwidth;
    height = to_s16(long{border_top_gap} + border_bottom_gap + std::max<INT_S16>(font_y_sz, 0));

    return_pressed = 0;
    filter = nullptr;
    enabled = 1;
    max_len = std::max<INT_S16>(nmax_len, 0);
    selection.clear();
    set_buffer(ntext);
    prompt_text = "";

    text_colour = ntext_colour;
    background_colour = nbackground_colour;
    cursor_colour = ntext_colour;
    prompt_colour = ntext_colour;
    selection_colour = COLOUR_GREY;
    selection_colour.set_suitable_text_colour(text_colour);
    if (background_colour.alpha()) {
        selection_colour.resolve_conflict(background_colour, 0);
    }

    type |= WM_TYPE_TEXT_EDIT;
    if (creation_callback) {
        creation_callback(this, creation_data);
    }
    last_mouse_button = 0;
    selection.drag_x = -1;
    report_changes = 0;
    can_focus = 1;

    // Keys pressed before the edit existed must not act on it.
    if (KEYBOARD::code == KEY_RETURN || table_operation_for_code(KEYBOARD::code, false) != TEXT_EDIT_NONE) {
        KEYBOARD::get_code();
    }
}

void WM_TEXT_EDIT::set_prompt(const char* prompt)
{
    prompt_text = prompt ? prompt : "";
    // Shown only while the edit is empty.
    if (chars(text)[0] == '\0') {
        redraw_if_visible();
    }
}

void WM_TEXT_EDIT::set_buffer(const char* new_text)
{
    if (!new_text) {
        text = "";
    } else {
        std::string s(new_text);
        if (static_cast<long>(s.size()) > max_len) {
            s.resize(static_cast<std::size_t>(max_len));
        }
        text = s.c_str();
    }
    cursor = to_s16(text_length());
    selection.clear();
    tail.buffer = nullptr; // a new text: measured again
    redraw_if_visible();
}

void WM_TEXT_EDIT::set_buffer_len(INT_S16 length)
{
    if (length <= 0) {
        return;
    }
    max_len = length;
    std::string s(chars(text));
    if (static_cast<long>(s.size()) > max_len) {
        s.resize(static_cast<std::size_t>(max_len));
        text = s.c_str();
        cursor = max_len;
        selection.clear();
        tail.buffer = nullptr;
    }
    redraw_if_visible();
}

INT_U8 WM_TEXT_EDIT::can_have_focus()
{
    return enabled && WM_SCREEN_OBJECT::can_have_focus();
}

bool WM_TEXT_EDIT::soft_keyboard_hidden() const
{
    return use_soft_keyboard == 1 && !soft_keyboard;
}

void WM_TEXT_EDIT::select_all()
{
    selection.select_whole(to_s16(text_length()));
    redraw_if_visible();
}

void WM_TEXT_EDIT::take_focus()
{
    const bool had = focal_object == this;
    WM_SCREEN_OBJECT::take_focus();
    if (had) {
        return;
    }
    if (!soft_keyboard_hidden()) {
        select_all();
    }
    saved_text = chars(text);
}

void WM_TEXT_EDIT::delete_selection()
{
    long lo, hi;
    selection.get_span(text_length(), lo, hi);
    if (cursor > lo) {
        cursor = to_s16(cursor - (std::min<long>(cursor, hi) - lo));
    }
    replace_text(lo, hi, "", 0);
    selection.clear();
}

void WM_TEXT_EDIT::report_change(WM_MESG& result)
{
    if (!report_changes) {
        return;
    }
    play_action_sound();
    if (callback) {
        result = callback(this, callback_data1, callback_data2);
    }
}

WM_MESG WM_TEXT_EDIT::changed()
{
    WM_MESG result = 0;
    report_change(result);
    redraw_if_visible();
    return result;
}

long WM_TEXT_EDIT::text_length() const
{
    return text.buffer ? static_cast<long>(std::strlen(text.buffer)) : 0;
}

int WM_TEXT_EDIT::char_width(unsigned char c)
{
    const char one[2] = {static_cast<char>(c), '\0'};
    return surface->get_string_width(font_id, font_x_sz, font_y_sz, one, 1, 0);
}

long long WM_TEXT_EDIT::run_width(const char* t, long from, long to)
{
    long long w = 0;
    for (long i = from; i < to; ++i) {
        w += char_width(static_cast<unsigned char>(t[i]));
    }
    return w;
}

bool WM_TEXT_EDIT::measures_by_characters()
{
    const char* t = chars(text);
    const long len = text_length();
    // Another text than the one kept (set through the field itself, or
    // the very first): its escapes are counted again and its tail found
    // again.
    if (t != tail.buffer || len != tail.length) {
        tail.buffer = t;
        tail.length = len;
        tail.escapes = static_cast<long>(std::count(t, t + len, '\x01'));
        tail.first = -1;
    }
    if (!surface) {
        return false;
    }
    INT_S8 font;
    INT_S16 w, h;
    get_drawn_font(font, w, h);
    // Out of the font's sizes the surface measures a text by its bytes,
    // whatever length it is given.
    return tail.escapes == 0 && IMAGE::is_font_valid(font) && w >= 1 && h >= 1 && w <= IMAGE_FONT_MAX_PIXELS &&
           h <= IMAGE_FONT_MAX_PIXELS;
}

void WM_TEXT_EDIT::get_drawn_font(INT_S8& font, INT_S16& w, INT_S16& h) const
{
    font = font_id == -1 ? surface->font_slot : font_id;
    w = font_x_sz == -1 ? surface->font_width : font_x_sz;
    h = font_y_sz == -1 ? surface->font_height : font_y_sz;
}

bool WM_TEXT_EDIT::tail_matches_layout(int room, int wide)
{
    INT_S8 font;
    INT_S16 w, h;
    get_drawn_font(font, w, h);
    // The width of "W" stands in for the font itself: a slot loaded again
    // with another face changes it.
    const bool same = tail.surface == surface && tail.room == room && tail.wide == wide && tail.font == font &&
                      tail.font_w == w && tail.font_h == h;
    tail.surface = surface;
    tail.room = room;
    tail.wide = wide;
    tail.font = font;
    tail.font_w = w;
    tail.font_h = h;
    return same;
}

// Widths only grow towards the start of the text, so one step either way
// at a time reaches the smallest index whose rest fits.
void WM_TEXT_EDIT::settle_tail(const char* t, long len)
{
    while (tail.first < len && tail.width > tail.room) {
        tail.width -= char_width(static_cast<unsigned char>(t[tail.first++]));
    }
    while (tail.first > 0) {
        const int w = char_width(static_cast<unsigned char>(t[tail.first - 1]));
        if (tail.width + w > tail.room) {
            break;
        }
        tail.width += w;
        --tail.first;
    }
}

long WM_TEXT_EDIT::tail_start(const char* t, long len, int room, int wide)
{
    if (room < 0) {
        return LONG_MAX; // not even an empty rest fits
    }
    if (!tail_matches_layout(room, wide) || tail.first < 0 || tail.first > len) {
        tail.first = len;
        tail.width = 0;
    }
    settle_tail(t, len);
    return tail.first;
}

// The edit's own changes go through here, so that the kept tail moves with
// them: a change before it shifts it, one inside it changes its width, and
// one across its start makes the change's start the new one. Settling then
// costs the characters that came into view or left it.
bool WM_TEXT_EDIT::replace_text(long lo, long hi, const char* insert, long n)
{
    const long len = text_length();
    lo = std::clamp<long>(lo, 0, len);
    hi = std::clamp<long>(hi, lo, len);
    measures_by_characters(); // the kept text is this one
    const long new_len = len - (hi - lo) + n;
    if (new_len + 1 > text.alloc) {
        // Typing grows the buffer by doubling, not by a byte a character.
        const long room_for = std::max(new_len + 1, std::min(2 * text.alloc, static_cast<long>(max_len) + 1));
        if (!text.reallocate_string(room_for)) {
            return false;
        }
    }
    char* b = text.buffer;
    tail.escapes += static_cast<long>(std::count(insert, insert + n, '\x01') - std::count(b + lo, b + hi, '\x01'));
    bool keep = tail.first >= 0 && surface;
    if (keep) {
        keep = tail_matches_layout(text_room(), letter_w_width());
    }
    if (keep && hi <= tail.first) {
        tail.first += n - (hi - lo);
    } else if (keep) {
        tail.width += run_width(insert, 0, n) - run_width(b, std::max(lo, tail.first), hi);
        tail.first = std::min(lo, tail.first);
    }
    std::memmove(b + lo + n, b + hi, static_cast<std::size_t>(len - hi + 1));
    std::memcpy(b + lo, insert, static_cast<std::size_t>(n));
    tail.buffer = b;
    tail.length = new_len;
    if (keep) {
        settle_tail(b, new_len);
    } else {
        tail.first = -1;
    }
    return true;
}

// The first character drawn. W is the room for text and F how many "W"s
// fit in it; the text scrolls only once the cursor passes F, and then
// starts at the smallest index s from which the rest of the text measures
// no more than W, or at the cursor less F when that comes first. Without a
// usable font, or with no room at all, nothing can be measured sensibly,
// so the scroll never divides by zero and never starts past the cursor.
int WM_TEXT_EDIT::first_visible()
{
    if (!surface || !IMAGE::is_font_valid(font_id)) {
        return 0;
    }
    const int w = text_room();
    const int wide = letter_w_width();
    if (wide <= 0) {
        return 0;
    }
    const int fit = w / wide;
    if (cursor <= fit) {
        return 0;
    }
    const char* t = chars(text);
    if (!measures_by_characters()) {
        return first_visible_by_tails(t, w, fit);
    }
    const long by_cursor = std::max(0L, std::min<long>(cursor - fit, cursor));
    return static_cast<int>(std::min(by_cursor, tail_start(t, text_length(), w, wide)));
}

// The same by measuring the rest of the text from each index in turn: for
// texts whose escapes make a character's width depend on what precedes it.
int WM_TEXT_EDIT::first_visible_by_tails(const char* t, int room, int fit)
{
    const long len = text_length();
    for (int s = 0;; ++s) {
        if (s + fit >= cursor || s >= cursor || s >= len) {
            return s;
        }
        if (surface->get_string_width(font_id, font_x_sz, font_y_sz, t + s, -1, 0) <= room) {
            return s;
        }
    }
}

INT_S16 WM_TEXT_EDIT::convert_pos_to_index(INT_S16 px)
{
    const char* s = chars(text);
    const long len = text_length();
    const int x0 = x + border_left_gap;
    if (px < x0) {
        return 0;
    }
    if (px > x + width - border_right_gap - 1 || !surface) {
        return to_s16(len);
    }
    const int first = first_visible();
    const int target = px - x0;
    const bool by_characters = measures_by_characters();
    long long previous = 0, w = 0;
    for (long k = 1; first + k <= len; ++k) {
        w = by_characters ? w + char_width(static_cast<unsigned char>(s[first + k - 1]))
                          : surface->get_string_width(font_id, font_x_sz, font_y_sz, s + first, k, 0);
        if (w >= target) {
            return to_s16(first + (target - previous < w - target ? k - 1 : k));
        }
        previous = w;
    }
    return to_s16(len);
}

WM_MESG WM_TEXT_EDIT::monitor()
{
    WM_MESG result = 0;
    if (soft_keyboard && !soft_keyboard->visible) {
        hide_keyboard();
    }
    if (!selection.empty() && ((draw_flags & TEXT_EDIT_PASSWORD) || focal_object != this)) {
        selection.clear();
        redraw_if_visible();
    }
    if (!enabled || !visible) {
        selection.drag_x = -1;
        return WM_MESG_NONE;
    }
    const WM_MESG base = WM_SCREEN_OBJECT::monitor();
    if (base) {
        return base;
    }

    const INT_U8 left = MOUSE::buttons & 1;
    const bool inside = is_in_it(MOUSE::x, MOUSE::y);
    if (left != last_mouse_button) {
        if (!left) {
            selection.drag_x = -1;
        } else if (inside) {
            press_inside();
        }
    }
    last_mouse_button = left;

    if (focal_object == this) {
        if (left && inside) {
            drag_to(MOUSE::x);
        }
        const WM_MESG by_code = handle_code();
        const WM_MESG by_char = handle_char();
        result = by_char ? by_char : by_code;
    }

    WM_PAGE_SERVICES* services = page_services();
    if (services && inside && MOUSE::set_mouse_cursor(CURSOR_TEXT, 1)) {
        services->request_pointer(CURSOR_TEXT);
    }
    return result;
}

void WM_TEXT_EDIT::press_inside()
{
    const bool had = focal_object == this;
    take_focus();
    if (had) {
        move_cursor(convert_pos_to_index(MOUSE::x), false);
    }
    while (KEYBOARD::get_char()) {
    }
    if (soft_keyboard_hidden()) {
        show_keyboard();
    }
}

// The first pass of a held button notes where it is; once the pointer has
// moved from there, the text between is selected.
void WM_TEXT_EDIT::drag_to(INT_S16 px)
{
    if (selection.drag_x == -1) {
        selection.drag_x = px;
    } else if (px != selection.drag_x) {
        if (selection.start == -1) {
            selection.start = convert_pos_to_index(selection.drag_x);
        }
        move_cursor(convert_pos_to_index(px), true);
    }
}

void WM_TEXT_EDIT::move_cursor(INT_S16 to, bool extending)
{
    if (extending) {
        selection.extend(cursor, to);
    } else {
        selection.clear();
    }
    cursor = to;
    redraw_if_visible();
}

// The key-code half of a pass; the code is taken only when it is one the
// edit handles.
WM_MESG WM_TEXT_EDIT::handle_code()
{
    const WM_TEXT_EDIT_OPERATION operation =
        text_edit_operation_for_code(KEYBOARD::code, held(KEY_COMMAND) || held(KEY_CONTROL));
    if (operation == TEXT_EDIT_RETURN) {
        return press_return();
    }
    if (operation == TEXT_EDIT_NONE) {
        return WM_MESG_NONE;
    }
    KEYBOARD::get_code();
    if (operation == TEXT_EDIT_DELETE_FORWARD) {
        return delete_forward();
    }
    // A password field takes the cursor keys and leaves its cursor.
    if (!(draw_flags & TEXT_EDIT_PASSWORD)) {
        move_cursor(cursor_target(operation), held(KEY_SHIFT));
    }
    return WM_MESG_NONE;
}

// Return acts once the key is up again: while it is held the code waits.
// On a system without a keyboard it first brings the on-screen one up, and
// with that one up closes it as well.
WM_MESG WM_TEXT_EDIT::press_return()
{
    WM_MESG result = 0;
    if (held(return_key)) {
        return WM_MESG_NONE;
    }
    KEYBOARD::get_code();
    if (use_soft_keyboard == 1) {
        if (!soft_keyboard) {
            show_keyboard();
            return WM_MESG_NONE;
        }
        hide_keyboard();
    }
    return_pressed = 1;
    play_action_sound();
    if (callback) {
        result = callback(this, callback_data1, callback_data2);
    }
    return_pressed = 0;
    redraw_if_visible();
    return result;
}

WM_MESG WM_TEXT_EDIT::delete_forward()
{
    if (soft_keyboard_hidden()) {
        return WM_MESG_NONE;
    }
    if (!selection.empty()) {
        delete_selection();
    } else if (cursor < to_s16(text_length())) {
        replace_text(cursor, cursor + 1, "", 0);
    } else {
        return WM_MESG_NONE;
    }
    return changed();
}

WM_MESG WM_TEXT_EDIT::delete_back()
{
    if (!selection.empty()) {
        delete_selection();
    } else if (cursor > 0) {
        replace_text(cursor - 1, cursor, "", 0);
        --cursor;
    } else {
        return WM_MESG_NONE;
    }
    return changed();
}

INT_S16 WM_TEXT_EDIT::cursor_target(WM_TEXT_EDIT_OPERATION movement)
{
    const INT_S16 len = to_s16(text_length());
    const bool back = movement == TEXT_EDIT_LEFT || movement == TEXT_EDIT_WORD_LEFT;
    const int step = back ? -1 : 1;
    const char* t = chars(text);
    int c = cursor;
    switch (movement) {
    case TEXT_EDIT_TO_START: return 0;
    case TEXT_EDIT_TO_END: return len;
    case TEXT_EDIT_WORD_LEFT:
    case TEXT_EDIT_WORD_RIGHT:
        // Steps at least once, then stops at either end or on a space.
        while (c + step >= 0 && c + step <= len) {
            c += step;
            if (c == 0 || c == len || t[c] == ' ') {
                break;
            }
        }
        return to_s16(c);
    default: return to_s16(std::clamp(c + step, 0, static_cast<int>(len)));
    }
}

// A hidden password never reaches the clipboard, even when a drag selected
// it earlier in this same pass.
WM_MESG WM_TEXT_EDIT::copy_selection(bool cut)
{
    if ((draw_flags & TEXT_EDIT_PASSWORD) || selection.empty()) {
        return WM_MESG_NONE;
    }
    long lo, hi;
    selection.get_span(text_length(), lo, hi);
    KIVO_STRING(std::string(chars(text) + lo, static_cast<std::size_t>(hi - lo)).c_str()).copy_into_clipboard();
    if (!cut) {
        return WM_MESG_NONE;
    }
    delete_selection();
    return changed();
}

void WM_TEXT_EDIT::paste(WM_MESG& result)
{
    if (!selection.empty()) {
        delete_selection();
        redraw_if_visible();
    }
    KIVO_STRING clip;
    clip.copy_from_clipboard();
    std::string kept;
    for (const char ch : decode_escapes(chars(clip))) {
        const auto c = static_cast<unsigned char>(ch);
        if (typeable(c) && (!filter || filter(c))) {
            kept += ch;
        }
    }
    const long len = text_length();
    const long room = std::max<long>(0, max_len - len);
    if (static_cast<long>(kept.size()) > room) {
        kept.resize(static_cast<std::size_t>(room));
    }
    const long at = std::clamp<long>(cursor, 0, len);
    if (replace_text(at, at, kept.c_str(), static_cast<long>(kept.size()))) {
        cursor = to_s16(cursor + static_cast<long>(kept.size()));
    }
    report_change(result);
    redraw_if_visible();
}

WM_MESG WM_TEXT_EDIT::revert()
{
    set_buffer(chars(saved_text));
    select_all();
    return changed();
}

WM_MESG WM_TEXT_EDIT::type_char(unsigned c)
{
    if (!typeable(c) || (filter && !filter(static_cast<INT_U16>(c)))) {
        return WM_MESG_NONE;
    }
    if (!selection.empty()) {
        delete_selection();
        redraw_if_visible();
    }
    const long len = text_length();
    const long at = std::clamp<long>(cursor, 0, len);
    const char typed = static_cast<char>(c);
    if (len < max_len && replace_text(at, at, &typed, 1)) {
        ++cursor;
        return changed();
    }
    return WM_MESG_NONE;
}

// The character half of a pass: one character per pass.
WM_MESG WM_TEXT_EDIT::handle_char()
{
    const unsigned c = KEYBOARD::get_char();
    if (!c || soft_keyboard_hidden()) {
        return WM_MESG_NONE;
    }
    switch (text_edit_operation_for_char(c, held(KEY_COMMAND) || held(KEY_CONTROL))) {
    case TEXT_EDIT_DELETE_BACK: return delete_back();
    case TEXT_EDIT_COPY: return copy_selection(false);
    case TEXT_EDIT_CUT: return copy_selection(true);
    case TEXT_EDIT_PASTE: {
        WM_MESG result = 0;
        paste(result);
        return result;
    }
    case TEXT_EDIT_SELECT_ALL: select_all(); return WM_MESG_NONE;
    case TEXT_EDIT_REVERT: return revert();
    default: return type_char(c);
    }
}

void WM_TEXT_EDIT::draw_object()
{
    IMAGE* s = surface;
    if (!s) {
        return;
    }
    const INT_S16 x2 = to_s16(long{x} + width - 1), y2 = to_s16(long{y} + height - 1);
    draw_background(x2, y2);
    draw_icon(x2, y2);

    WM_CLIP_SAVER clip(s);
    const int tx = x + border_left_gap, ty = y + border_top_gap;
    // Across, the text stays between the side borders; down, the whole
    // field: accents of capitals and descenders reach past the font's
    // height into the top and bottom borders.
    s->add_rect_to_active_area(to_s16(tx), y, to_s16(x2 - border_right_gap), y2);
    const int cursor_x = draw_text(*s, tx, ty);
    if (focal_object == this && !soft_keyboard_hidden()) {
        s->draw_line(to_s16(cursor_x), to_s16(ty), to_s16(cursor_x), to_s16(ty + font_y_sz - 1), cursor_colour, 1, 1);
    }
}

void WM_TEXT_EDIT::draw_background(INT_S16 x2, INT_S16 y2)
{
    IMAGE* s = surface;
    if (skin.are_images_valid()) {
        skin.draw(x, y, x2, y2, (draw_flags & TEXT_EDIT_DONT_RESIZE_IMAGE) ? 0 : 1, s, IMAGE_COPY_BLEND);
    } else if (draw_flags & TEXT_EDIT_DARKENED) {
        s->darken_rect(x, y, x2, y2, 50);
    } else if (background_colour.alpha()) {
        s->fill_rect(x, y, x2, y2, background_colour, 1);
    }
    if (draw_flags & TEXT_EDIT_INDENTED_BORDER) {
        draw_shading(x, y, x2, y2, 0x800F, background_colour, shading_type, -1);
    }
    if (draw_flags & TEXT_EDIT_OUTSTANDING_BORDER) {
        draw_shading(x, y, x2, y2, 15, background_colour, shading_type, -1);
    }
}

// Centred in the border it is set to, or in the whole field.
void WM_TEXT_EDIT::draw_icon(INT_S16 x2, INT_S16 y2)
{
    if (icon.width <= 0 || icon.height <= 0) {
        return;
    }
    int ix1 = x, ix2 = x2, iy1 = y, iy2 = y2;
    if (draw_flags & TEXT_EDIT_ICON_LEFT) {
        ix2 = x + border_left_gap - 1;
    } else if (draw_flags & TEXT_EDIT_ICON_RIGHT) {
        ix1 = x2 - border_right_gap + 1;
    }
    if (draw_flags & TEXT_EDIT_ICON_TOP) {
        iy2 = y + border_top_gap - 1;
    } else if (draw_flags & TEXT_EDIT_ICON_BOTTOM) {
        iy1 = y2 - border_bottom_gap + 1;
    }
    if (ix2 >= ix1 && iy2 >= iy1) {
        WM_CLIP_SAVER clip(surface);
        surface->add_rect_to_active_area(to_s16(ix1), to_s16(iy1), to_s16(ix2), to_s16(iy2));
        icon.put(to_s16(ix1 + (ix2 - ix1 + 1 - icon.width) / 2), to_s16(iy1 + (iy2 - iy1 + 1 - icon.height) / 2),
                 surface, IMAGE_COPY_BLEND);
    }
}

int WM_TEXT_EDIT::draw_text(IMAGE& s, int tx, int ty)
{
    if (draw_flags & TEXT_EDIT_PASSWORD) {
        return draw_stars(s, tx, ty);
    }
    if (text_length() == 0) {
        // Plain, in a colour of its own: an engraved prompt has too little
        // contrast to be read on a light field.
        render_line(*this, s, tx, ty, chars(prompt_text), -1, prompt_colour, 0);
        return tx;
    }
    return draw_plain_text(s, tx, ty);
}

int WM_TEXT_EDIT::draw_stars(IMAGE& s, int tx, int ty)
{
    const int len = static_cast<int>(text_length());
    const int room = text_room();
    const int star = s.get_string_width(font_id, font_x_sz, font_y_sz, "*", 1, 0);
    int stars = len;
    if (star > 0) {
        stars = std::min(len, std::max(0, room / star));
    }
    // The stars before the cursor advance; the rest stand where the last
    // advancing one ended.
    const int before = std::min<int>(cursor, stars);
    for (int i = 0; i < stars; ++i) {
        render_line(*this, s, tx + std::min(i, before) * star, ty, "*", 1, text_colour, 0);
    }
    return tx + before * star + 1;
}

int WM_TEXT_EDIT::draw_plain_text(IMAGE& s, int tx, int ty)
{
    const char* t = chars(text);
    const int len = static_cast<int>(text_length());
    auto measure = [&](const char* str, long n) {
        return s.get_string_width(font_id, font_x_sz, font_y_sz, str, n, 0);
    };
    const int first = std::min(first_visible(), len);
    const bool by_characters = measures_by_characters();
    // Past the clip's right edge nothing shows: there the sum of the
    // characters' widths may stop, a pixel beyond it.
    const long long beyond = std::max(0, text_room()) + 1;
    const int from_first = by_characters ? 0 : measure(t + first, -1);
    auto boundary = [&](int k) {
        k = std::clamp(k, first, len);
        if (!by_characters) {
            return tx + from_first - measure(t + k, -1);
        }
        long long run = 0;
        for (int i = first; i < k && run <= beyond; ++i) {
            run += char_width(static_cast<unsigned char>(t[i]));
        }
        return static_cast<int>(tx + run);
    };
    if (!selection.empty()) {
        long lo, hi;
        selection.get_span(len, lo, hi);
        s.fill_rect(to_s16(boundary(static_cast<int>(lo)) - 1), to_s16(ty), to_s16(boundary(static_cast<int>(hi)) - 1),
                    to_s16(ty + font_y_sz - 1), selection_colour, 1);
    }
    render_line(*this, s, tx, ty, t + first, -1, text_colour, enabled ? 0 : 4);
    return boundary(cursor);
}

INT_U8 WM_TEXT_EDIT::set_images(const char* path, const char* name, WM_STYLE_SET* style)
{
    skin.cache = &image_cache;
    if (style && style->get_image_cache_loaded()) {
        if (IMAGE_BOX* cached = style->runtime_cache[0]) {
            skin = *cached;
        }
    } else if (!name) {
        skin.clear_images();
        return 0;
    } else {
        skin.load_images(path, name, 0);
    }
    return is_graphical();
}

void WM_TEXT_EDIT::clear_images()
{
    skin.clear_images();
}

void WM_TEXT_EDIT::show_keyboard()
{
    WM_PAGE_SERVICES* services = page_services();
    WM_SCREEN_OBJECT* area = services ? services->get_current_area() : nullptr;
    if (use_soft_keyboard != 1 || soft_keyboard || !area || !surface) {
        return;
    }
    WM_DIALOG::init_style_sets();
    WM_STYLE_SET style(WM_DIALOG::default_object_style_set);
    const INT_S16 edge = get_shading_size(style.shading_type);
    auto gap = [edge](INT_S16 g) { return g == -1 ? edge : g; };
    const INT_S8 font = style.font_id == -1 ? surface->font_slot : style.font_id;
    const INT_S16 fx = style.font_x_sz == -1 ? surface->font_width : style.font_x_sz;
    const INT_S16 fy = style.font_y_sz == -1 ? surface->font_height : style.font_y_sz;
    const long key = long{surface->get_string_width(font, fx, fy, "W", 1, 0)} + gap(style.border_left_gap) +
                     gap(style.border_right_gap);
    long w = std::max<long>(width, 22 * key);
    w = std::min<long>(w, area->width);
    const long h = 7 * (long{gap(style.border_top_gap)} + gap(style.border_bottom_gap) + fy);
    soft_keyboard =
        new WM_KEYBOARD_DIALOG(-1, -1, to_s16(w), to_s16(h), "Keyboard", chars(text), max_len, soft_keyboard_callback,
                               this, nullptr, style, style, &style, nullptr, &style, soft_key_mapping,
                               soft_key_ignore_in_me ? 2 : 5, 0, soft_key_ignore_in_me, soft_key_show_hint);
    area->add_modal_object(soft_keyboard, 0);
}

void WM_TEXT_EDIT::hide_keyboard()
{
    WM_KEYBOARD_DIALOG* dialog = soft_keyboard;
    soft_keyboard = nullptr;
    if (dialog) {
        dialog->close(false, true);
    }
}

WM_MESG WM_TEXT_EDIT::soft_keyboard_callback(WM_SCREEN_OBJECT* echo, void* edit, void*)
{
    auto* target = static_cast<WM_TEXT_EDIT*>(edit);
    auto* source = static_cast<WM_TEXT_EDIT*>(echo);
    if (!target || !source) {
        return WM_MESG_NONE;
    }
    target->set_buffer(chars(source->text));
    if (!target->report_changes) {
        return WM_MESG_NONE;
    }
    play_action_sound();
    return target->callback ? target->callback(target, target->callback_data1, target->callback_data2) : 0;
}
