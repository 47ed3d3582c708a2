#ifndef KIVO_UTILS_H
#define KIVO_UTILS_H

// Small free functions of the core: the framework's command line, the
// credit text, a frame-rate meter, Internet dates, unique ids, 7-bit
// folding of Latin-1 text and a random password maker. Results returned
// as char* live in static buffers that the next call overwrites.
#include "kivo_types.h"

// Filters the command line: drops the host's "-psn_0..." argument and
// handles the framework's own "--kivo..." options (usage, channel list,
// channel switches; the first two and any unknown option end the
// program). new_argv lists what the application should see and ends with
// a null pointer; it stays valid until the next call. A call with argc 0
// frees it.
void handle_command_line_args(int argc, char** argv, int& new_argc, char**& new_argv);

// The application's name and version, the build date and time and the
// credits, in a static 1024-byte buffer.
char* get_credit_text(INT_U8 with_maker);

// Call once per frame: the frame count of the last whole wall-clock
// second. min (0 until known), max and avg receive the statistics when
// given.
INT_U32 get_frame_rate(INT_U32* min, INT_U32* max, INT_U32* avg);
// The same counting, formatted "<label>: <rate>hz (Min .., Max .., Avg ..)"
// (null label: "Frame Rate") whenever the rate changed.
char* get_frame_rate_string(const char* label);
// As above; true only when the text was formatted anew.
bool get_frame_rate_string(char*& out, const char* label);

// "Thu, 01 Jan 1970 00:00:00 GMT" for t = 0.
char* get_inet_date_string(INT_S64 t);

// Strictly increasing within a run and never 0: the larger of the time in
// seconds and the last id + 1.
INT_U32 get_unique_id();

// Latin-1 text folded to 7 bits ("AE" for 0xC6 and so on); stops before
// dest holds dest_size - 3 characters.
void convert_string_to_7bit(const char* source, char* dest, INT_S16 dest_size);

// The value of an upper-case hexadecimal digit ('0'-'9', 'A'-'F'); -1 for
// any other byte, the NUL among them, so a reader stops at the end.
int upper_hex_digit(unsigned char c);
// Compares the 7-bit forms character by character: -1, 0 or 1. A proper
// prefix compares less.
INT_S16 compare_7bit_strings(const char* a, const char* b, INT_U8 ignore_case);

// Letters and digits from the shared random session. Flags: 0x01 allow
// upper case, 0x02 require one, 0x04 allow digits, 0x08 require one, 0x10
// put the result on the clipboard. Null for min_len < 4 or > 256,
// min_len > max_len, or a requirement without its permission. buffer
// (at least max_len + 1 bytes) may be null: a static one is used.
char* generate_random_password(INT_S16 min_len, INT_S16 max_len, INT_U8 flags, char* buffer);

#endif
