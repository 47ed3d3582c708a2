#ifndef KIVO_TEXT_FILE_H
#define KIVO_TEXT_FILE_H

// Line-oriented text in three encodings: 8-bit text decoded and encoded as
// UTF-8 (falling back to plain 8-bit at the first invalid sequence), and
// UTF-16 in either byte order. Inside the system text is plain 8-bit; a
// character above 0xFF travels as an escape run: byte 0x01, then ",%04X"
// per character, then 0x01. Files are opened and closed by FOLDER
// (open_text_file / close), which fills in the stream and encoding fields.
// Reading goes through a buffer of the file's own: a read-mode stream's
// position runs ahead of the text handed out, so the stream is not to be
// read or positioned by anyone else.
#include "folder.h"
#include "kivo_string.h"
#include "kivo_types.h"

#include <cstdio>

class TEXT_FILE
{
public:
    TEXT_FILE();
    ~TEXT_FILE();
    TEXT_FILE(const TEXT_FILE&) = delete;
    TEXT_FILE& operator=(const TEXT_FILE&) = delete;

    // One line into a buffer of line_max bytes, without its line end.
    // False at end of file with nothing read.
    bool operator>>(char* buffer);
    // The same into a buffer of `size` bytes (at least 8). `whole` (when
    // given) is set to 1 when the line end or end of file was reached, 0
    // when the buffer filled first and the line continues on the next call.
    // A character whose escaped form cannot fit the buffer at all (one
    // above U+FFFF takes 12 bytes) is dropped: that read fails with error
    // 0x1007 and the next one goes on after it.
    bool read_line(char* buffer, INT_S16 size, INT_U8* whole = nullptr);
    // One character (its low byte), with the line-end rule of line reading.
    bool operator>>(char& c);
    // Writes text, expanding escape runs into the file's encoding.
    bool operator<<(const char* text);
    // Writes one character 0..255.
    bool operator<<(char c);
    // Formats at most 1023 characters and writes them.
    bool printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // The next decoded character, -1 at end of file.
    INT_S32 read_char();
    // Writes one character and empties the pushback.
    bool write_char(INT_S32 c);

    // Filled by FOLDER::open_text_file.
    INT_S16 line_max;    // size of a line buffer including the NUL
    FILE_MODE mode;      // 0 read, 1 write, 2 append
    FILE* stream;        // null when closed
    INT_S32 line_end;    // first line-end character met (13 or 10), 0 until then
    INT_S32 pushback[3]; // characters to deliver next, first one first, each
                         // stored as character + 1 so that 0 means empty
    INT_U8 utf16;        // the file is UTF-16
    INT_U8 swap;         // the UTF-16 file is big-endian
    INT_U8 utf8;         // 8-bit files are decoded/encoded as UTF-8
    FOLDER folder;       // the folder the file lies in
    KIVO_STRING name;    // the file name

private:
    friend class FOLDER; // opening a file starts its reading state afresh

    // A character read by a full line buffer, delivered first by the next
    // read (+ 1, 0 = none); kept apart from the decoder's pushback.
    INT_S32 held;

    // Bytes read ahead from `stream`: in[in_pos..in_end) are still to come
    // and in[0] lies at file offset in_offset (-1 when the stream cannot
    // tell). The buffer is bound to in_stream; another stream starts over.
    INT_U8* in;
    INT_S32 in_size;
    INT_S32 in_pos;
    INT_S32 in_end;
    long in_offset;
    FILE* in_stream;
    INT_U8 in_small[64]; // the buffer when a larger one cannot be had

    void start_input();
    int next_byte() { return in_pos < in_end ? in[in_pos++] : fill_input(); }
    int fill_input();
    void seek_input(long offset);
    INT_S32 next_char();
    INT_S32 read_utf8_char();
    void push_back(INT_S32 c);
    bool put_char(INT_U32 c);
    bool put_byte(int b);
    bool can_read() const;
    bool can_write() const;
};

#endif
