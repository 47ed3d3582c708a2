// The active keyboard layout, read from the X server's layout names and
// compiled with xkbcommon; keys are found by their position names, so the
// answer does not depend on the server's keycodes.
#include "key_layout.h"

#include "debug_stream.h"
#include "host_internal.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdarg>
#include <cstdio>
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

bool read_x_server(HOST_LAYOUT_NAMES* out);

HOST_LAYOUT_SOURCE source = read_x_server;

// The last layout compiled, kept until the names change.
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

// The display of SDL's window; without a window, a connection of our own
// to the server SDL would use.
Display* x_display(bool* own)
{
    *own = false;
    if (SDL_Window* w = host_sdl_window()) {
        SDL_SysWMinfo info;
        SDL_VERSION(&info.version);
        if (SDL_GetWindowWMInfo(w, &info) && info.subsystem == SDL_SYSWM_X11) {
            return info.info.x11.display;
        }
        return nullptr;
    }
    const char* driver = host_start_video() ? SDL_GetCurrentVideoDriver() : nullptr;
    if (!driver || std::strcmp(driver, "x11") != 0) {
        return nullptr;
    }
    *own = true;
    return XOpenDisplay(nullptr);
}

// The server keeps the names of its layout on the root window as five
// strings, each ended by a NUL; the active group comes from XKB's state.
bool read_x_server(HOST_LAYOUT_NAMES* out)
{
    bool own = false;
    Display* dpy = x_display(&own);
    if (!dpy) {
        return false;
    }
    bool read = false;
    Atom property = XInternAtom(dpy, "_XKB_RULES_NAMES", True);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, left = 0;
    unsigned char* data = nullptr;
    if (property != None &&
        XGetWindowProperty(dpy, DefaultRootWindow(dpy), property, 0, 1024, False, XA_STRING, &type, &format, &count,
                           &left, &data) == Success &&
        type == XA_STRING && format == 8 && data) {
        std::string* fields[] = {&out->rules, &out->model, &out->layout, &out->variant, &out->options};
        const char* p = reinterpret_cast<const char*>(data);
        const char* end = p + count;
        for (std::string* f : fields) {
            const char* stop = static_cast<const char*>(std::memchr(p, 0, static_cast<std::size_t>(end - p)));
            f->assign(p, stop ? stop : end);
            p = stop ? stop + 1 : end;
        }
        out->group = 0;
        XkbStateRec state;
        if (XkbGetState(dpy, XkbUseCoreKbd, &state) == Success) {
            out->group = state.group;
        }
        read = !out->layout.empty();
    }
    if (data) {
        XFree(data);
    }
    if (own) {
        XCloseDisplay(dpy);
    }
    return read;
}

} // namespace

HOST_LAYOUT_SOURCE host_set_layout_source(HOST_LAYOUT_SOURCE next)
{
    HOST_LAYOUT_SOURCE previous = source;
    source = next ? next : read_x_server;
    forget_compiled();
    return previous;
}

bool host_layout_character(int scancode, bool shift, INT_U32* out)
{
    HOST_LAYOUT_NAMES names;
    names.group = 0;
    if (!out || !source(&names)) {
        return false;
    }
    xkb_keymap* keymap = keymap_for(names);
    if (!keymap) {
        return false;
    }
    *out = 0;
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
    xkb_state_update_mask(state, mods, 0, 0, 0, 0, names.group);
    xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
    xkb_state_unref(state);
    for (const auto& d : kDeadKeys) {
        if (d[0] == sym) {
            *out = d[1];
            return true;
        }
    }
    *out = xkb_keysym_to_utf32(sym);
    return true;
}
