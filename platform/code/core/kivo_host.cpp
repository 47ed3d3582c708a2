#include "kivo_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

void default_console(const char* text)
{
    std::fputs(text ? text : "", stdout);
    std::fflush(stdout);
}

void default_popup(const char* title, const char* text)
{
    std::fprintf(stderr, "%s: %s\n", title ? title : "", text ? text : "");
    std::fflush(stderr);
}

[[noreturn]] void default_exit(const char*, int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(status);
}

std::string& clipboard()
{
    static std::string text;
    return text;
}

INT_U8 default_has_clipboard()
{
    return clipboard().empty() ? 0 : 1;
}

INT_U8 default_get_clipboard(char* buf, std::size_t size)
{
    if (!buf || size == 0 || clipboard().empty()) {
        return 0;
    }
    std::snprintf(buf, size, "%s", clipboard().c_str());
    return 1;
}

INT_U8 default_set_clipboard(const char* text)
{
    clipboard() = text ? text : "";
    return 1;
}

IMAGE* default_back_buffer()
{
    return nullptr;
}
INT_U8 default_font_system_started()
{
    return 0;
}

// Constant-initialised, so it is usable by statics built before main.
constexpr KIVO_HOST_TABLE defaults = {
    default_console,       default_popup,         default_exit,        default_has_clipboard,
    default_get_clipboard, default_set_clipboard, default_back_buffer, default_font_system_started,
};

KIVO_HOST_TABLE current = defaults;

struct FAKE_CLOCK
{
    INT_U8 on;
    INT_U32 ms;
    INT_S64 wall;
};
FAKE_CLOCK fake = {0, 1000000u, 1700000000};

} // namespace

KIVO_HOST_TABLE* kivo_host()
{
    return &current;
}
const KIVO_HOST_TABLE* kivo_default_host()
{
    return &defaults;
}

void kivo_set_host(const KIVO_HOST_TABLE* table)
{
    if (!table) {
        current = defaults;
        return;
    }
    if (table->write_to_console) {
        current.write_to_console = table->write_to_console;
    }
    if (table->display_popup_dialog) {
        current.display_popup_dialog = table->display_popup_dialog;
    }
    if (table->exit_app) {
        current.exit_app = table->exit_app;
    }
    if (table->has_clipboard_text) {
        current.has_clipboard_text = table->has_clipboard_text;
    }
    if (table->get_clipboard_text) {
        current.get_clipboard_text = table->get_clipboard_text;
    }
    if (table->set_clipboard_text) {
        current.set_clipboard_text = table->set_clipboard_text;
    }
    if (table->get_back_buffer) {
        current.get_back_buffer = table->get_back_buffer;
    }
    if (table->font_system_started) {
        current.font_system_started = table->font_system_started;
    }
}

void write_to_console(const char* text)
{
    current.write_to_console(text);
}

void display_popup_dialog(const char* title, const char* text)
{
    current.display_popup_dialog(title, text);
}

void exit_app(const char* reason, int status)
{
    current.exit_app(reason, status);
    // A host whose exit returned must still not let a fatal error go on.
    std::_Exit(status);
}

INT_U32 get_ms_count()
{
    if (fake.on) {
        return fake.ms;
    }
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    INT_U64 us = static_cast<INT_U64>(ts.tv_sec) * 1000000u + static_cast<INT_U64>(ts.tv_nsec) / 1000u;
    return static_cast<INT_U32>(us / 1000u);
}

INT_S64 get_wall_seconds()
{
    if (fake.on) {
        return fake.wall;
    }
    return static_cast<INT_S64>(std::time(nullptr));
}

void kivo_fake_clock_enable(INT_U8 on)
{
    fake.on = on;
    if (on) {
        fake.ms = 1000000u;
        fake.wall = 1700000000;
    }
}

void kivo_fake_clock_advance_ms(INT_U32 ms)
{
    fake.ms += ms; // wraps like the real counter
}

void kivo_fake_clock_set_ms(INT_U32 ms)
{
    fake.ms = ms;
}
INT_U8 kivo_fake_clock_is_on()
{
    return fake.on;
}
void kivo_fake_clock_set_wall(INT_S64 seconds)
{
    fake.wall = seconds;
}
