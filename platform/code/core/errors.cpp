#include "errors.h"

#include "kivo_host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Everything here is constant data or zero-initialised, so it is safe to use
// from statics built before main. No message or argument is ever handed to a
// printf-style function as its format: some texts contain a bare '%'.

INT_U16 current_error_code = 0;
char current_arg_string[1024] = {0};

// Rows are searched linearly; the first match wins.
extern const ERROR_ROW errors[] = {
    {0x0000, 0, "Main window pointer invalid", "The main window was used before it was opened or after it was closed."},
    {0x0001, 0, "Unable to open screen mode", nullptr},
    {0x0002, 0, "OpenGraphics() not called", "The graphics system must be started before anything is drawn."},
    {0x0003, 0, "COLOUR_INVISIBLE was passed as an invalid argument",
     "An invisible colour cannot be used for this operation."},
    {0x0004, 0, "No MicroSoft mouse driver installed", "A mouse driver is needed to use this program."},
    {0x0005, 0, "Two mouse handlers declared", "Only one mouse handler may exist at a time."},
    {0x0006, 0, "Three joystick handlers declared", "At most two joystick handlers may exist at a time."},
    {0x0007, 0, "Two keyboard handlers declared", "Only one keyboard handler may exist at a time."},
    {0x0008, 0, "Unable to allocate keyboard buffer", nullptr},
    {0x0009, 1, "Unable to open keyboard configuration file",
     "Check that the keyboard configuration file exists and can be read."},
    {0x000A, 0, "Receive buffer ssize supplied to TCPIP::TCPIP() was invalid", nullptr},
    {0x000B, 0, "Unable to allocate dynamic memory for TCP/IP layer",
     "Close other running applications to free memory."},
    {0x000C, 0, "Path type constant passed to function FOLDER::set() was invalid", nullptr},
    {0x000D, 0, "Platform OS ID read from disk in function FOLDER::get_from_data_device() was invalid", nullptr},
    {0x000E, 0, "Attempted to read data from a file that was opened for writing", nullptr},
    {0x000F, 0, "Attempted to write to a file that was opened for reading", nullptr},
    {0x0010, 0, "Unable to create swap image", "Close other running applications to free memory."},
    {0x0011, 0, "Unable to allocate dynamic memory for colour mapping array",
     "Close other running applications to free memory."},
    {0x0012, 0, "The desktop colour depth is not supported",
     "Set the desktop to a colour depth of thousands or millions of colours."},
    {0x0013, 1, "Unable to open the window", "The window system refused to create the program's window."},
    {0x0014, 0, "Two sound handlers declared", "Only one sound handler may exist at a time."},
    {0x0015, 0, "Unable to allocate dynamic memory for data file cache",
     "Close other running applications to free memory."},
    {0x0020, 0, "Unable to allocate dynamic memory for image", "Close other running applications to free memory."},
    {0x0021, 0, "Unable to startup the font system", nullptr},
    {0x0022, 0, "Unable to load font from disk",
     "The font file was either not found or was corrupt, check all required font files are present and that they "
     "contain valid information"},
    {0x0023, 0, "Unable to allocate dynamic memory for font", "Close other running applications to free memory."},
    {0x0024, 0, "Unable to set the font pixel size", nullptr},
    {0x0025, 0, "Unable to render font glyph", nullptr},
    {0x0026, 1, "Unable to open PCX image file", "Check that the image file exists and can be read."},
    {0x0027, 1, "Unable to read PCX header from file", "The image file is damaged or is not a PCX image."},
    {0x0028, 0, "Invalid number of sprite images specified", nullptr},
    {0x0029, 0, "Unable to allocate memory for sprite image", nullptr},
    {0x002A, 1, "No PCX palatte found in file", nullptr},
    {0x0030, 0, "Invalid number of stars specified for starfeild", nullptr},
    {0x0031, 0, "Invalid starfield dimentions specifed", nullptr},
    {0x0032, 0, "Unable to allocate memory for starfield", nullptr},
    {0x0040, 1, "Invalid argument format for command line option:",
     "Run the program with --help to see the options and their arguments."},
    {0x0041, 1, "No argument for command line option:", "This option must be followed by its argument."},
    {0x0042, 1, "Unrecognised command line option:", "Run the program with --help to see the options it accepts."},
    {0x0050, 0, "Unable to allocate dynamic memory for http", "Close other running applications to free memory."},
    {0x0051, 0, "Unable to open sockets", "The network layer of the system could not be started."},
    {0x0060, 0, "Screen object has invalid size",
     "A screen object must have a width and height of at least one pixel."},
    {0x0061, 0, "Unable to allocate memory for button title", nullptr},
    {0x0062, 0, "Invalid button size or title", nullptr},
    {0x0063, 0, "Unable to allocate memory for dialog title", nullptr},
    {0x0064, 0, "Invalid dialog size or title", nullptr},
    {0x0065, 0, "Unable to allocate memory for script title", nullptr},
    {0x0066, 0, "Unable to allocate memory for about box close button", nullptr},
    {0x0067, 0, "Unable to allocate memory for about box scripts", nullptr},
    {0x0068, 0, "Unable to allocate memory for keypad data members", nullptr},
    {0x0069, 0, "Invalid area count supplied to page manager",
     "There must be at least one area supplied to the page manager"},
    {0x006A, 0, "Two page managers declared",
     "Page manager is used to control the window manager system and there should be only one declared"},
    {0x006B, 0, "Unable to allocate memory for page manager areas", nullptr},
    {0x006C, 0, "Two page tool managers declared",
     "Page tool manager is used to control the window manager system and there should be only one declared"},
    {0x0070, 0, "Srollbar slew values are invalid", nullptr},
    {0x0071, 0, "Scrollbar is not on the drawable screen", nullptr},
    {0x0072, 0, "The scrollbar slew variable pointer is invalid", nullptr},
    {0x0073, 0, "Scrollbar slew variable is of the wrong type",
     "Scrollbar slew varible in not an integer based parameter, must be a INT_S8_TYPE, INT_TYPE, INT_S16_TYPE or "
     "INT_S32_TYPE"},
    {0x0074, 0, "Invalid scrollbar type", nullptr},
    {0x0080, 0, "Invalid dimensions passed to edit box constructor", nullptr},
    {0x0081, 0, "Unable to allocate memory for edit box buffer", nullptr},
    {0x0090, 0, "Unable to allocate memory for text window screen buffer", nullptr},
    {0x0091, 0, "Unable to allocate memory for text window data buffer",
     "Close other running applications to free memory."},
    {0x0100, 0, "Invalid number of rows passed to list box", nullptr},
    {0x0101, 0, "List box start selection not found in list", nullptr},
    {0x0110, 0, "Invalid dimensions passed to progress bar constructor", nullptr},
    {0x0111, 0, "Unable to allocate memory for progress bar title", nullptr},
    {ERROR_TABLE_END, 0, nullptr, nullptr},
};

extern const ERROR_ROW warnings[] = {
    {0x0000, 1, "DEBUG MESSAGE:", nullptr},
    {0x0001, 1, "Unable to create debug file", nullptr},
    {0x0002, 1, "Unable to open debug file", nullptr},
    {0x0003, 1, "Sound layer was unable to start", nullptr},
    {0x0010, 0, "Too many colour for a 256 Palette", "The image has more colours than a 256-colour palette can hold."},
    {0x0020, 0, "Scrollbar dimentions are invalid", nullptr},
    {0x0021, 0, "Slider bar width is invalid", nullptr},
    {ERROR_TABLE_END, 0, nullptr, nullptr},
};

namespace {

struct TEXT_ROW
{
    INT_U16 code;
    const char* text;
};

// "%s" marks where the argument goes.
constexpr TEXT_ROW error_texts[] = {
    {0x0000, "No Error"},
    {0x0100, "Warning: The requested entry was not found in the config file (%s)."},
    {0x0101, "Warning: Found end of config file before it was expected, this may indicate a corrupt file."},
    {0x1000, "Error: Colour darkening percentage was over 100% or less than -100% which makes no sense."},
    {0x1001, "Error: A blank or invalid ID arg was requested from the config file."},
    {0x1002, "Error: Error trying to open the config file %s."},
    {0x1003, "Error: Trying to read entire config file without supplying a callback function."},
    {0x1004, "Error: Unable to allocate dynamic memory for config file reader. Make sure that you have enough free "
             "memory by closing other running applications."},
    {0x1005, "Error: Unable to open the package file %s in append mode."},
    {0x1006, "Error: Unable to open the package file %s in write mode"},
    {0x1007, "Error: Unable to read from file %s."},
    {0x1008, "Error: Unable to write to file %s."},
    {0x1009, "Error: %s does not appear to be a package file."},
    {0x100A, "Error: %s has unsupported package version."},
    {0x100B, "Error: Unable to allocate dynamic memory for package system. Make sure that you have enough free memory "
             "by closing other running applications."},
    {0x100C, "Error: Can not open file %s as it was not found."},
    {0x100D, "Error: Package file did not open correctly."},
    {0x100E, "Error: Unable to open file %s for packing."},
    {0x100F, "Error: Unable to create file %s."},
    {0x1010, "Error: File %s not found in package."},
};

char error_text_buffer[1024];

// Appends src to dst (size bytes in all), cutting at the buffer's end.
void append_cut(char* dst, std::size_t size, const char* src)
{
    std::size_t used = std::strlen(dst);
    if (used + 1 >= size) {
        return;
    }
    std::size_t room = size - 1 - used;
    std::size_t n = std::strlen(src);
    if (n > room) {
        n = room;
    }
    std::memcpy(dst + used, src, n);
    dst[used + n] = '\0';
}

// Builds "<prefix>%04X:\n<message> [argument]" (or the undefined text),
// shows it and returns nothing; the caller decides whether to end.
void show_table_message(const ERROR_ROW* table, INT_U32 code, const char* argument, const char* prefix,
                        const char* undefined, const char* title)
{
    char text[2048];
    const ERROR_ROW* row = find_error_row(table, code);
    if (!row) {
        display_message(title, undefined, nullptr);
        return;
    }
    char head[32];
    std::snprintf(head, sizeof head, "%s: %04X:\n", prefix, static_cast<unsigned>(code));
    text[0] = '\0';
    append_cut(text, sizeof text, head);
    append_cut(text, sizeof text, row->message);
    append_cut(text, sizeof text, " ");
    if (row->append_arg && argument) {
        append_cut(text, sizeof text, argument);
    }
    display_message(title, text, row->more_info);
}

} // namespace

const ERROR_ROW* find_error_row(const ERROR_ROW* table, INT_U32 code)
{
    for (; table->code != ERROR_TABLE_END; ++table) {
        if (table->code == code) {
            return table;
        }
    }
    return nullptr;
}

void set_error_code(INT_U16 code, const char* argument)
{
    current_error_code = code;
    if (!argument) {
        argument = "";
    }
    // memmove: the argument may be the current argument itself.
    std::size_t n = 0;
    while (n < sizeof current_arg_string - 1 && argument[n]) {
        ++n;
    }
    std::memmove(current_arg_string, argument, n);
    current_arg_string[n] = '\0';
}

const char* get_error_text(INT_U16 code, const char* argument)
{
    const char* text = "Unknown Error Code";
    for (const TEXT_ROW& row : error_texts) {
        if (row.code == code) {
            text = row.text;
            break;
        }
    }
    const char* mark = std::strstr(text, "%s");
    if (!mark) {
        return text;
    }
    // An argument taken from an earlier result would be overwritten below.
    char earlier[sizeof error_text_buffer];
    if (argument && argument >= error_text_buffer && argument < error_text_buffer + sizeof error_text_buffer) {
        std::memcpy(earlier, error_text_buffer, sizeof earlier);
        argument = earlier + (argument - error_text_buffer);
    }
    // Splice the argument in by hand rather than through a format string.
    std::size_t lead = static_cast<std::size_t>(mark - text);
    if (lead >= sizeof error_text_buffer) {
        lead = sizeof error_text_buffer - 1;
    }
    std::memcpy(error_text_buffer, text, lead);
    error_text_buffer[lead] = '\0';
    append_cut(error_text_buffer, sizeof error_text_buffer, argument ? argument : "");
    append_cut(error_text_buffer, sizeof error_text_buffer, mark + 2);
    return error_text_buffer;
}

const char* get_error_text()
{
    return get_error_text(current_error_code, current_arg_string);
}

void display_message(const char* title, const char* text, const char* more_info)
{
    if (!text) {
        text = "";
    }
    if (more_info) {
        static const char suffix[] = "\n\nDo you require more information?";
        std::size_t n = std::strlen(text);
        char* combined = static_cast<char*>(std::malloc(n + sizeof suffix));
        if (combined) {
            std::memcpy(combined, text, n);
            std::memcpy(combined + n, suffix, sizeof suffix);
            display_popup_dialog(title, combined);
            std::free(combined);
            return;
        }
    }
    display_popup_dialog(title, text);
}

void display_error(ERROR_TYPE code, const char* argument)
{
    show_table_message(errors, code, argument, "ERROR", "ERROR: Undefined error encountered", "Error");
    exit_app("Application was unable to continue", 1);
}

void display_warning(WARNING_TYPE code, const char* argument)
{
    show_table_message(warnings, code, argument, "WARNING", "WARNING: Undefined warning encountered", "Warning");
}

void write_to_console(const char* source_file, long line, const char* text)
{
    if (source_file) {
        // In pieces, so a long file name is never cut.
        char tail[48];
        std::snprintf(tail, sizeof tail, " Line %ld: = ", line);
        write_to_console("Debug - File: ");
        write_to_console(source_file);
        write_to_console(tail);
    }
    write_to_console(text ? text : "");
    write_to_console("\n");
}

void write_to_file(const char* source_file, long line, const char* text, const char* path)
{
    static bool first_pass = true;
    const bool is_default = (path == nullptr);
    const char* name = is_default ? "debug.txt" : path;
    // The default file starts afresh once per run; named files only grow.
    const bool truncate = is_default && first_pass;
    std::FILE* f = std::fopen(name, truncate ? "w" : "a");
    if (is_default) {
        first_pass = false;
    }
    if (!f) {
        display_warning(truncate ? WARN_DEBUG_FILE_CREATE : WARN_DEBUG_FILE_OPEN, name);
        return;
    }
    if (!text) {
        text = "";
    }
    if (source_file) {
        std::fprintf(f, "Debug - File: %s Line %ld: = %s\n", source_file, line, text);
    } else {
        std::fprintf(f, "%s\n", text);
    }
    std::fclose(f);
}
