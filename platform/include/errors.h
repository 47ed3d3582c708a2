#ifndef KIVO_ERRORS_H
#define KIVO_ERRORS_H

// Error reporting: a current recoverable error (code + argument text), and
// the fatal/warning pop-ups driven by the constant code tables.
#include "kivo_types.h"

typedef INT_U32 ERROR_TYPE;
typedef INT_U32 WARNING_TYPE;

// Codes of the recoverable errors (set_error_code / get_error_text).
constexpr INT_U16 ERRCODE_NONE = 0x0000;
constexpr INT_U16 ERRCODE_CONFIG_ENTRY_NOT_FOUND = 0x0100;
constexpr INT_U16 ERRCODE_CONFIG_EARLY_END = 0x0101;
constexpr INT_U16 ERRCODE_COLOUR_DARKEN_RANGE = 0x1000;
constexpr INT_U16 ERRCODE_CONFIG_BAD_ID = 0x1001;
constexpr INT_U16 ERRCODE_CONFIG_OPEN = 0x1002;
constexpr INT_U16 ERRCODE_CONFIG_NO_CALLBACK = 0x1003;
constexpr INT_U16 ERRCODE_CONFIG_NO_MEMORY = 0x1004;
constexpr INT_U16 ERRCODE_PACKAGE_OPEN_APPEND = 0x1005;
constexpr INT_U16 ERRCODE_PACKAGE_OPEN_WRITE = 0x1006;
constexpr INT_U16 ERRCODE_FILE_READ = 0x1007;
constexpr INT_U16 ERRCODE_FILE_WRITE = 0x1008;
constexpr INT_U16 ERRCODE_NOT_A_PACKAGE = 0x1009;
constexpr INT_U16 ERRCODE_PACKAGE_VERSION = 0x100A;
constexpr INT_U16 ERRCODE_PACKAGE_NO_MEMORY = 0x100B;
constexpr INT_U16 ERRCODE_FILE_NOT_FOUND = 0x100C;
constexpr INT_U16 ERRCODE_PACKAGE_NOT_OPEN = 0x100D;
constexpr INT_U16 ERRCODE_PACK_OPEN = 0x100E;
constexpr INT_U16 ERRCODE_FILE_CREATE = 0x100F;
constexpr INT_U16 ERRCODE_FILE_NOT_IN_PACKAGE = 0x1010;

// Codes of display_error.
constexpr ERROR_TYPE ERR_MAIN_WINDOW_INVALID = 0x0000;
constexpr ERROR_TYPE ERR_SCREEN_MODE = 0x0001;
constexpr ERROR_TYPE ERR_GRAPHICS_NOT_OPEN = 0x0002;
constexpr ERROR_TYPE ERR_COLOUR_INVISIBLE_ARG = 0x0003;
constexpr ERROR_TYPE ERR_NO_MOUSE_DRIVER = 0x0004;
constexpr ERROR_TYPE ERR_TWO_MOUSE_HANDLERS = 0x0005;
constexpr ERROR_TYPE ERR_THREE_JOYSTICK_HANDLERS = 0x0006;
constexpr ERROR_TYPE ERR_TWO_KEYBOARD_HANDLERS = 0x0007;
constexpr ERROR_TYPE ERR_KEYBOARD_BUFFER_MEMORY = 0x0008;
constexpr ERROR_TYPE ERR_KEYBOARD_CONFIG_OPEN = 0x0009;
constexpr ERROR_TYPE ERR_TCPIP_BUFFER_SIZE = 0x000A;
constexpr ERROR_TYPE ERR_TCPIP_MEMORY = 0x000B;
constexpr ERROR_TYPE ERR_FOLDER_PATH_TYPE = 0x000C;
constexpr ERROR_TYPE ERR_FOLDER_OS_ID = 0x000D;
constexpr ERROR_TYPE ERR_READ_FROM_WRITE_FILE = 0x000E;
constexpr ERROR_TYPE ERR_WRITE_TO_READ_FILE = 0x000F;
constexpr ERROR_TYPE ERR_SWAP_IMAGE = 0x0010;
constexpr ERROR_TYPE ERR_COLOUR_MAP_MEMORY = 0x0011;
constexpr ERROR_TYPE ERR_COLOUR_DEPTH = 0x0012;
constexpr ERROR_TYPE ERR_WINDOW_OPEN = 0x0013;
constexpr ERROR_TYPE ERR_TWO_SOUND_HANDLERS = 0x0014;
constexpr ERROR_TYPE ERR_DATA_FILE_CACHE_MEMORY = 0x0015;
constexpr ERROR_TYPE ERR_IMAGE_MEMORY = 0x0020;
constexpr ERROR_TYPE ERR_FONT_SYSTEM_START = 0x0021;
constexpr ERROR_TYPE ERR_FONT_LOAD = 0x0022;
constexpr ERROR_TYPE ERR_FONT_MEMORY = 0x0023;
constexpr ERROR_TYPE ERR_FONT_PIXEL_SIZE = 0x0024;
constexpr ERROR_TYPE ERR_FONT_GLYPH = 0x0025;
constexpr ERROR_TYPE ERR_PCX_OPEN = 0x0026;
constexpr ERROR_TYPE ERR_PCX_HEADER = 0x0027;
constexpr ERROR_TYPE ERR_SPRITE_COUNT = 0x0028;
constexpr ERROR_TYPE ERR_SPRITE_MEMORY = 0x0029;
constexpr ERROR_TYPE ERR_PCX_PALETTE = 0x002A;
constexpr ERROR_TYPE ERR_STAR_COUNT = 0x0030;
constexpr ERROR_TYPE ERR_STARFIELD_SIZE = 0x0031;
constexpr ERROR_TYPE ERR_STARFIELD_MEMORY = 0x0032;
constexpr ERROR_TYPE ERR_OPTION_FORMAT = 0x0040;
constexpr ERROR_TYPE ERR_OPTION_NO_ARGUMENT = 0x0041;
constexpr ERROR_TYPE ERR_OPTION_UNKNOWN = 0x0042;
constexpr ERROR_TYPE ERR_HTTP_MEMORY = 0x0050;
constexpr ERROR_TYPE ERR_SOCKETS_OPEN = 0x0051;
constexpr ERROR_TYPE ERR_SCREEN_OBJECT_SIZE = 0x0060;
constexpr ERROR_TYPE ERR_BUTTON_TITLE_MEMORY = 0x0061;
constexpr ERROR_TYPE ERR_BUTTON_SIZE = 0x0062;
constexpr ERROR_TYPE ERR_DIALOG_TITLE_MEMORY = 0x0063;
constexpr ERROR_TYPE ERR_DIALOG_SIZE = 0x0064;
constexpr ERROR_TYPE ERR_SCRIPT_TITLE_MEMORY = 0x0065;
constexpr ERROR_TYPE ERR_ABOUT_BUTTON_MEMORY = 0x0066;
constexpr ERROR_TYPE ERR_ABOUT_SCRIPTS_MEMORY = 0x0067;
constexpr ERROR_TYPE ERR_KEYPAD_MEMORY = 0x0068;
constexpr ERROR_TYPE ERR_PAGE_AREA_COUNT = 0x0069;
constexpr ERROR_TYPE ERR_TWO_PAGE_MANAGERS = 0x006A;
constexpr ERROR_TYPE ERR_PAGE_AREAS_MEMORY = 0x006B;
constexpr ERROR_TYPE ERR_TWO_PAGE_TOOL_MANAGERS = 0x006C;
constexpr ERROR_TYPE ERR_SCROLLBAR_SLEW_VALUES = 0x0070;
constexpr ERROR_TYPE ERR_SCROLLBAR_OFF_SCREEN = 0x0071;
constexpr ERROR_TYPE ERR_SCROLLBAR_SLEW_POINTER = 0x0072;
constexpr ERROR_TYPE ERR_SCROLLBAR_SLEW_TYPE = 0x0073;
constexpr ERROR_TYPE ERR_SCROLLBAR_TYPE = 0x0074;
constexpr ERROR_TYPE ERR_EDIT_BOX_SIZE = 0x0080;
constexpr ERROR_TYPE ERR_EDIT_BOX_MEMORY = 0x0081;
constexpr ERROR_TYPE ERR_TEXT_WINDOW_SCREEN_MEMORY = 0x0090;
constexpr ERROR_TYPE ERR_TEXT_WINDOW_DATA_MEMORY = 0x0091;
constexpr ERROR_TYPE ERR_LIST_BOX_ROWS = 0x0100;
constexpr ERROR_TYPE ERR_LIST_BOX_START = 0x0101;
constexpr ERROR_TYPE ERR_PROGRESS_BAR_SIZE = 0x0110;
constexpr ERROR_TYPE ERR_PROGRESS_BAR_MEMORY = 0x0111;

// Codes of display_warning.
constexpr WARNING_TYPE WARN_DEBUG_MESSAGE = 0x0000;
constexpr WARNING_TYPE WARN_DEBUG_FILE_CREATE = 0x0001;
constexpr WARNING_TYPE WARN_DEBUG_FILE_OPEN = 0x0002;
constexpr WARNING_TYPE WARN_SOUND_START = 0x0003;
constexpr WARNING_TYPE WARN_PALETTE_FULL = 0x0010;
constexpr WARNING_TYPE WARN_SCROLLBAR_SIZE = 0x0020;
constexpr WARNING_TYPE WARN_SLIDER_WIDTH = 0x0021;

// One row of the error and warning tables; code 0xFFFFFFFF ends a table.
struct ERROR_ROW
{
    INT_U32 code;
    INT_U32 append_arg; // non-zero: the caller's argument follows the message
    const char* message;
    const char* more_info; // null when there is none
};
constexpr INT_U32 ERROR_TABLE_END = 0xFFFFFFFFu;

// The tables themselves (constant data, usable before main).
extern const ERROR_ROW errors[];
extern const ERROR_ROW warnings[];
// The row of a code in one of the tables, or null.
const ERROR_ROW* find_error_row(const ERROR_ROW* table, INT_U32 code);

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
