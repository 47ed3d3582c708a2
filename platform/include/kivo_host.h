#ifndef KIVO_HOST_H
#define KIVO_HOST_H

// The core's only way up to the host: console, pop-ups, program exit,
// clipboard and the back buffer go through this table. The defaults need
// no display (stdout, stderr lines, std::exit, an in-memory clipboard), so
// the core and its tests run headless; the window layer installs its own.
#include "kivo_types.h"

class IMAGE;

struct KIVO_HOST_TABLE
{
    // Raw console output of one piece of text (no newline added).
    void (*write_to_console)(const char* text);
    // A modal message; must not call display_error itself.
    void (*display_popup_dialog)(const char* title, const char* text);
    // Ends the program with the given exit status; must not return.
    void (*exit_app)(const char* reason, int status);
    INT_U8 (*has_clipboard_text)();
    // Copies at most size-1 bytes of the clipboard's text and a NUL into buf;
    // returns 0 when there is no text.
    INT_U8 (*get_clipboard_text)(char* buf, std::size_t size);
    INT_U8 (*set_clipboard_text)(const char* text);
    // The window's back buffer, or null when there is no back buffer.
    IMAGE* (*get_back_buffer)();
    // Non-zero once the font system has started.
    INT_U8 (*font_system_started)();
};

// The table in force. Never null; entries are never null.
KIVO_HOST_TABLE* kivo_host();
// Installs a table's entries (its null entries keep what is installed, so
// layers can install their parts independently); null restores the defaults.
void kivo_set_host(const KIVO_HOST_TABLE* table);
// The built-in defaults, for hosts that wrap them.
const KIVO_HOST_TABLE* kivo_default_host();

// Convenience wrappers over the table.
void write_to_console(const char* text);
void display_popup_dialog(const char* title, const char* text);
[[noreturn]] void exit_app(const char* reason, int status = 0);

// Millisecond counter: monotonic microseconds / 1000, wrapping at 2^32.
INT_U32 get_ms_count();
// Wall clock in whole seconds since the epoch (event times).
INT_S64 get_wall_seconds();

// Test override of both clocks. While enabled the counters only move when
// advanced; the fake millisecond counter starts well above 0 because 0
// means "unset" in several places.
void kivo_fake_clock_enable(INT_U8 on);
void kivo_fake_clock_advance_ms(INT_U32 ms);
void kivo_fake_clock_set_ms(INT_U32 ms);
void kivo_fake_clock_set_wall(INT_S64 seconds);
// Non-zero while the fake clock is on: waits then advance it instead of
// sleeping.
INT_U8 kivo_fake_clock_is_on();

#endif
