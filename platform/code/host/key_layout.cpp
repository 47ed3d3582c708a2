// The active keyboard layout: the X server's keymap as it stands, or,
// where that cannot be read, the layout the server names, compiled from
// the system's keyboard data. Keys are found by their position names, so
// the answer does not depend on the server's keycodes.
#include "key_layout.h"

#include "debug_stream.h"
#include "host_internal.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <xcb/xcb.h>
// A field of the keyboard extension's protocol header is a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct KEY_NAME
{
    SDL_Scancode scancode;
    const char* name;
};

// The keys that give characters, by their place on the keyboard.
constexpr KEY_NAME kKeyNames[] = {
    {SDL_SCANCODE_GRAVE, "TLDE"},
    {SDL_SCANCODE_1, "AE01"},
    {SDL_SCANCODE_2, "AE02"},
    {SDL_SCANCODE_3, "AE03"},
    {SDL_SCANCODE_4, "AE04"},
    {SDL_SCANCODE_5, "AE05"},
    {SDL_SCANCODE_6, "AE06"},
    {SDL_SCANCODE_7, "AE07"},
    {SDL_SCANCODE_8, "AE08"},
    {SDL_SCANCODE_9, "AE09"},
    {SDL_SCANCODE_0, "AE10"},
    {SDL_SCANCODE_MINUS, "AE11"},
    {SDL_SCANCODE_EQUALS, "AE12"},
    {SDL_SCANCODE_Q, "AD01"},
    {SDL_SCANCODE_W, "AD02"},
    {SDL_SCANCODE_E, "AD03"},
    {SDL_SCANCODE_R, "AD04"},
    {SDL_SCANCODE_T, "AD05"},
    {SDL_SCANCODE_Y, "AD06"},
    {SDL_SCANCODE_U, "AD07"},
    {SDL_SCANCODE_I, "AD08"},
    {SDL_SCANCODE_O, "AD09"},
    {SDL_SCANCODE_P, "AD10"},
    {SDL_SCANCODE_LEFTBRACKET, "AD11"},
    {SDL_SCANCODE_RIGHTBRACKET, "AD12"},
    {SDL_SCANCODE_BACKSLASH, "BKSL"},
    {SDL_SCANCODE_NONUSHASH, "BKSL"},
    {SDL_SCANCODE_A, "AC01"},
    {SDL_SCANCODE_S, "AC02"},
    {SDL_SCANCODE_D, "AC03"},
    {SDL_SCANCODE_F, "AC04"},
    {SDL_SCANCODE_G, "AC05"},
    {SDL_SCANCODE_H, "AC06"},
    {SDL_SCANCODE_J, "AC07"},
    {SDL_SCANCODE_K, "AC08"},
    {SDL_SCANCODE_L, "AC09"},
    {SDL_SCANCODE_SEMICOLON, "AC10"},
    {SDL_SCANCODE_APOSTROPHE, "AC11"},
    {SDL_SCANCODE_NONUSBACKSLASH, "LSGT"},
    {SDL_SCANCODE_Z, "AB01"},
    {SDL_SCANCODE_X, "AB02"},
    {SDL_SCANCODE_C, "AB03"},
    {SDL_SCANCODE_V, "AB04"},
    {SDL_SCANCODE_B, "AB05"},
    {SDL_SCANCODE_N, "AB06"},
    {SDL_SCANCODE_M, "AB07"},
    {SDL_SCANCODE_COMMA, "AB08"},
    {SDL_SCANCODE_PERIOD, "AB09"},
    {SDL_SCANCODE_SLASH, "AB10"},
    {SDL_SCANCODE_SPACE, "SPCE"},
};

// A dead key stands for its accent: described, it shows the accent alone.
constexpr INT_U32 kDeadKeys[][2] = {
    {0xFE50, '`'},  {0xFE51, 0xB4}, {0xFE52, '^'},  {0xFE53, '~'},
    {0xFE54, 0xAF}, {0xFE57, 0xA8}, {0xFE58, 0xB0}, {0xFE5B, 0xB8},
};

// Where layout names come from; null: the X server, whose own keymap is
// asked first.
HOST_LAYOUT_SOURCE source = nullptr;

// The last layout compiled from names, kept until the names change.
struct COMPILED
{
    bool tried = false;
    std::string key;
    xkb_keymap* keymap = nullptr;
};
COMPILED compiled;

void forget_compiled()
{
    if (compiled.keymap) {
        xkb_keymap_unref(compiled.keymap);
    }
    compiled = COMPILED();
}

// What the keyboard data reports goes to the platform's channel, not to
// the program's standard error.
void log_to_channel(xkb_context*, xkb_log_level, const char* format, va_list args)
{
    if (!platform_debug_stream.flags) {
        return;
    }
    char line[512];
    std::vsnprintf(line, sizeof line, format, args);
    platform_debug_stream.write_to_stream(nullptr, 0, line, 0);
}

xkb_context* context()
{
    static xkb_context* ctx = nullptr;
    static bool tried = false;
    if (!tried) {
        tried = true;
        ctx = xkb_context_new(XKB_CONTEXT_NO_ENVIRONMENT_NAMES);
        if (ctx) {
            xkb_context_set_log_fn(ctx, log_to_channel);
        }
    }
    return ctx;
}

// The names end up in the keyboard data's file look-ups, which follow
// relative paths: only the characters layout names are written with pass,
// so no name leads out of that data ('.' and '/' are not among them).
bool plain_name(const std::string& s)
{
    for (char c : s) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  (c != 0 && std::strchr("_,()+:-", c));
        if (!ok) {
            return false;
        }
    }
    return true;
}

bool plain_names(const HOST_LAYOUT_NAMES& n)
{
    return plain_name(n.rules) && plain_name(n.model) && plain_name(n.layout) && plain_name(n.variant) &&
           plain_name(n.options);
}

xkb_keymap* keymap_for(const HOST_LAYOUT_NAMES& n)
{
    std::string key = n.rules + '\n' + n.model + '\n' + n.layout + '\n' + n.variant + '\n' + n.options;
    if (compiled.tried && compiled.key == key) {
        return compiled.keymap;
    }
    forget_compiled();
    compiled.tried = true;
    compiled.key = key;
    xkb_context* ctx = context();
    if (!ctx) {
        return nullptr;
    }
    auto field = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    xkb_rule_names names = {field(n.rules), field(n.model), field(n.layout), field(n.variant), field(n.options)};
    compiled.keymap = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    return compiled.keymap;
}

// A connection of our own to the X server SDL uses: the keymap's change
// notices are asked for on it, and SDL's connection must not see them.
struct SERVER
{
    std::string display;
    xcb_connection_t* conn = nullptr;
    xcb_window_t root = 0;
    // The keyboard extension answered and its change notices were asked for.
    bool xkb = false;
    std::uint8_t first_event = 0;
    // The server's keymap as last read; null until read again.
    xkb_keymap* keymap = nullptr;
};
SERVER server;

void disconnect()
{
    if (server.keymap) {
        xkb_keymap_unref(server.keymap);
    }
    if (server.conn) {
        xcb_disconnect(server.conn);
    }
    server = SERVER();
}

// The display of SDL's window; without a window, the one SDL would open.
// False when SDL does not draw through X.
bool display_name(std::string* out)
{
    if (SDL_Window* w = host_sdl_window()) {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (!SDL_GetWindowWMInfo(w, &info) || info.subsystem != SDL_SYSWM_X11) {
            return false;
        }
        *out = DisplayString(info.info.x11.display);
        return true;
    }
    const char* driver = host_start_video() ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!driver || std::strcmp(driver, "x11") != 0) {
        return false;
    }
    const char* env = std::getenv("DISPLAY");
    *out = env ? env : "";
    return true;
}

void ask_for_notices()
{
    std::uint8_t first_event = 0;
    if (!xkb_x11_setup_xkb_extension(server.conn, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                     XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &first_event, nullptr)) {
        return;
    }
    // A new keyboard, or any part of the keymap changed (a key remapped).
    const std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    const std::uint16_t parts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
                                XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
                                XCB_XKB_MAP_PART_KEY_BEHAVIORS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details = {};
    xcb_generic_error_t* error =
        xcb_request_check(server.conn, xcb_xkb_select_events_aux_checked(server.conn, XCB_XKB_ID_USE_CORE_KBD, events,
                                                                         0, events, parts, parts, &details));
    if (error) {
        std::free(error);
        return;
    }
    server.xkb = true;
    server.first_event = first_event;
}

// Takes the notices that arrived; any of them makes the keymap old. Reading
// also finds a server that has gone away, before anything is sent to it.
void take_notices()
{
    while (xcb_generic_event_t* e = xcb_poll_for_event(server.conn)) {
        if ((e->response_type & 0x7F) == server.first_event && server.keymap) {
            xkb_keymap_unref(server.keymap);
            server.keymap = nullptr;
        }
        std::free(e);
    }
}

// The connection, made again when the display changed or the server went
// away; null when there is no X server to ask.
xcb_connection_t* connection()
{
    std::string name;
    if (!display_name(&name)) {
        return nullptr;
    }
    if (server.conn && server.display == name) {
        take_notices();
        if (!xcb_connection_has_error(server.conn)) {
            return server.conn;
        }
    }
    disconnect();
    int screen = 0;
    server.conn = xcb_connect(name.empty() ? nullptr : name.c_str(), &screen);
    if (xcb_connection_has_error(server.conn)) {
        disconnect();
        return nullptr;
    }
    server.display = name;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(server.conn));
    for (int i = 0; i < screen && it.rem > 1; ++i) {
        xcb_screen_next(&it);
    }
    server.root = it.data ? it.data->root : 0;
    ask_for_notices();
    return server.conn;
}

// The active group from the keyboard's state; 0 without the extension.
bool active_group(unsigned* group)
{
    *group = 0;
    if (!server.xkb) {
        return true;
    }
    xcb_xkb_get_state_reply_t* state =
        xcb_xkb_get_state_reply(server.conn, xcb_xkb_get_state(server.conn, XCB_XKB_ID_USE_CORE_KBD), nullptr);
    if (!state) {
        return false;
    }
    *group = state->group;
    std::free(state);
    return true;
}

// The server's own keymap as it stands, and its active group. The state's
// answer comes after every notice of a change the server made before it,
// so a change made before this call is always seen.
xkb_keymap* live_keymap(unsigned* group)
{
    xcb_connection_t* conn = connection();
    xkb_context* ctx = context();
    if (!conn || !server.xkb || !ctx || !active_group(group)) {
        return nullptr;
    }
    take_notices();
    if (!server.keymap) {
        std::int32_t device = xkb_x11_get_core_keyboard_device_id(conn);
        if (device >= 0) {
            server.keymap = xkb_x11_keymap_new_from_device(ctx, conn, device, XKB_KEYMAP_COMPILE_NO_FLAGS);
        }
    }
    return server.keymap;
}

// The keysym of a key in a keymap, Shift held or not, in one group;
// XKB_KEY_NoSymbol for a key the layout leaves empty or does not know.
// False when it cannot be worked out.
bool keysym_in(xkb_keymap* keymap, unsigned group, int scancode, bool shift, xkb_keysym_t* out)
{
    *out = XKB_KEY_NoSymbol;
    const char* key_name = nullptr;
    for (const KEY_NAME& k : kKeyNames) {
        if (k.scancode == scancode) {
            key_name = k.name;
        }
    }
    xkb_keycode_t code = key_name ? xkb_keymap_key_by_name(keymap, key_name) : XKB_KEYCODE_INVALID;
    if (code == XKB_KEYCODE_INVALID) {
        return true;
    }
    xkb_state* state = xkb_state_new(keymap);
    if (!state) {
        return false;
    }
    xkb_mod_index_t shift_index = xkb_keymap_mod_get_index(keymap, XKB_MOD_NAME_SHIFT);
    xkb_mod_mask_t mods = shift && shift_index != XKB_MOD_INVALID ? 1u << shift_index : 0;
    xkb_state_update_mask(state, mods, 0, 0, 0, 0, group);
    *out = xkb_state_key_get_one_sym(state, code);
    xkb_state_unref(state);
    return true;
}

// The character of a keysym; a dead key's is its accent.
INT_U32 keysym_character(xkb_keysym_t sym)
{
    for (const auto& d : kDeadKeys) {
        if (d[0] == sym) {
            return d[1];
        }
    }
    return xkb_keysym_to_utf32(sym);
}

} // namespace

// The server keeps the names of its layout on the root window as five
// strings, each ended by a NUL; the active group comes from XKB's state.
void host_split_layout_names(const char* bytes, std::size_t size, HOST_LAYOUT_NAMES* out)
{
    std::string* fields[] = {&out->rules, &out->model, &out->layout, &out->variant, &out->options};
    const char* p = bytes;
    const char* end = bytes + size;
    for (std::string* f : fields) {
        const char* stop = static_cast<const char*>(std::memchr(p, 0, static_cast<std::size_t>(end - p)));
        f->assign(p, stop ? stop : end);
        p = stop ? stop + 1 : end;
    }
}

bool host_server_layout_names(HOST_LAYOUT_NAMES* out)
{
    xcb_connection_t* conn = connection();
    if (!conn) {
        return false;
    }
    static const char kProperty[] = "_XKB_RULES_NAMES";
    xcb_intern_atom_reply_t* atom =
        xcb_intern_atom_reply(conn, xcb_intern_atom(conn, 1, sizeof kProperty - 1, kProperty), nullptr);
    xcb_atom_t property = atom ? atom->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(atom);
    if (property == XCB_ATOM_NONE) {
        return false;
    }
    xcb_get_property_reply_t* reply = xcb_get_property_reply(
        conn, xcb_get_property(conn, 0, server.root, property, XCB_ATOM_STRING, 0, 1024), nullptr);
    bool read = false;
    if (reply && reply->type == XCB_ATOM_STRING && reply->format == 8) {
        host_split_layout_names(static_cast<const char*>(xcb_get_property_value(reply)),
                                static_cast<std::size_t>(xcb_get_property_value_length(reply)), out);
        read = active_group(&out->group) && !out->layout.empty();
    }
    std::free(reply);
    return read;
}

HOST_LAYOUT_SOURCE host_set_layout_source(HOST_LAYOUT_SOURCE next)
{
    HOST_LAYOUT_SOURCE previous = source;
    source = next;
    forget_compiled();
    return previous;
}

namespace {

// The keysym of the key in the active layout; false when no layout can be
// read.
bool layout_keysym(int scancode, bool shift, xkb_keysym_t* out)
{
    unsigned group = 0;
    xkb_keymap* keymap = source ? nullptr : live_keymap(&group);
    if (!keymap) {
        HOST_LAYOUT_NAMES names;
        names.group = 0;
        HOST_LAYOUT_SOURCE names_from = source ? source : host_server_layout_names;
        // A name that could lead the look-up out of the keyboard data
        // counts as no layout at all.
        if (!names_from(&names) || !plain_names(names)) {
            return false;
        }
        keymap = keymap_for(names);
        group = names.group;
    }
    return keymap && keysym_in(keymap, group, scancode, shift, out);
}

} // namespace

bool host_layout_character(int scancode, bool shift, INT_U32* out, bool* dead)
{
    xkb_keysym_t sym = XKB_KEY_NoSymbol;
    if (!out || !layout_keysym(scancode, shift, &sym)) {
        return false;
    }
    *out = keysym_character(sym);
    if (dead) {
        *dead = sym >= XKB_KEY_dead_grave && sym <= XKB_KEY_dead_longsolidusoverlay;
    }
    return true;
}

namespace {

// The modifier state of the window system's last key press, while SDL has
// not yet made its key-down of it.
bool server_key_pending = false;
unsigned server_key_state = 0;

// Runs as SDL queues each event, in the order the window system sent
// them: a key press's own message comes right before SDL's key-down of it.
// The messages themselves are never queued.
int SDLCALL correct_key_state(void*, SDL_Event* e)
{
    if (e->type == SDL_SYSWMEVENT) {
        const SDL_SysWMmsg* m = e->syswm.msg;
        server_key_pending = m && m->subsystem == SDL_SYSWM_X11 && m->msg.x11.event.type == KeyPress;
        if (server_key_pending) {
            server_key_state = m->msg.x11.event.xkey.state;
        }
        return 0;
    }
    if (e->type == SDL_KEYDOWN && server_key_pending) {
        server_key_pending = false;
        Uint16 mod = e->key.keysym.mod;
        // The side a modifier was held on is SDL's; whether it was held at
        // all is the server's. Alt is Mod1, or Mod5 as AltGr on many
        // layouts, which side it was not told then.
        const struct
        {
            unsigned mask;
            Uint16 bits, added;
        } kinds[] = {{ShiftMask, KMOD_SHIFT, KMOD_LSHIFT},
                     {ControlMask, KMOD_CTRL, KMOD_LCTRL},
                     {Mod1Mask | Mod5Mask, KMOD_ALT, KMOD_NONE},
                     {Mod4Mask, KMOD_GUI, KMOD_LGUI}};
        for (const auto& k : kinds) {
            if (!(server_key_state & k.mask)) {
                mod &= static_cast<Uint16>(~k.bits);
            } else if (!(mod & k.bits)) {
                mod |= k.added;
            }
        }
        e->key.keysym.mod = mod;
    }
    return 1;
}

} // namespace

void host_watch_key_state(bool on)
{
    SDL_EventFilter filter = nullptr;
    void* data = nullptr;
    const bool ours = SDL_GetEventFilter(&filter, &data) && filter == correct_key_state;
    server_key_pending = false;
    if (on && !filter) {
        SDL_SetEventFilter(correct_key_state, nullptr);
        SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    } else if (!on && ours) {
        SDL_EventState(SDL_SYSWMEVENT, SDL_DISABLE);
        SDL_SetEventFilter(nullptr, nullptr);
    }
}
