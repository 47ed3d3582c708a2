#ifndef KIVO_ERRORS_H
#define KIVO_ERRORS_H

// Error reporting: a current recoverable error (code + argument text), and
// the fatal/warning pop-ups driven by the constant code tables.
#include "kivo_types.h"

typedef INT_U32 ERROR_TYPE;
typedef INT_U32 WARNING_TYPE;

// The last recoverable error (0 = none) and its argument, always
// NUL-terminated.
extern INT_U16 current_error_code;
extern char current_arg_string[1024];

// Stores the code and at most 1023 characters of the argument (null = "").
void set_error_code(INT_U16 code, const char* argument);
// The text for a code, formatted with the argument when the text takes one;
// the result lives in a static buffer that the next call overwrites.
const char* get_error_text(INT_U16 code, const char* argument);
// The text of the current error.
const char* get_error_text();

void display_message(const char* title, const char* text, const char* more_info);
// Shows the fatal error and ends the program with a non-zero status.
[[noreturn]] void display_error(ERROR_TYPE code, const char* argument = nullptr);
void display_warning(WARNING_TYPE code, const char* argument = nullptr);

// Debug lines to the console or to a text file ("debug.txt" when path is null).
void write_to_console(const char* source_file, long line, const char* text);
void write_to_file(const char* source_file, long line, const char* text, const char* path);

#endif
