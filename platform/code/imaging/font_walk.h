#ifndef KIVO_FONT_WALK_H
#define KIVO_FONT_WALK_H

// Shared by measuring, drawing and line layout, so that all three read a
// text the same way and a measured width is exactly what gets drawn.
#include "font.h"

// Reads the characters of a text: byte 0x01 toggles the code-point escape
// (a ',' right behind it goes with it); inside the escape four hex digits
// give one 16-bit code and one ',' after them is skipped.
struct FONT_TEXT_WALK
{
    const char* text;
    long pos;         // next byte to read
    long remaining;   // characters still to read; negative = to the NUL
    INT_U8 code_mode; // escape state at pos

    FONT_TEXT_WALK(const char* t, long len, INT_U8 mode) : text(t), pos(0), remaining(len), code_mode(mode ? 1 : 0) {}

    static int hex_digit(unsigned char c)
    {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    }

    // The next character's code, false at the end. start and start_mode
    // receive where the character begins and the escape state there.
    bool next(INT_U32& code, long* start = nullptr, INT_U8* start_mode = nullptr)
    {
        for (;;) {
            if (remaining == 0) {
                return false;
            }
            unsigned char c = static_cast<unsigned char>(text[pos]);
            if (c == 0) {
                return false;
            }
            if (c == 0x01) {
                code_mode = code_mode ? 0 : 1;
                ++pos;
                if (text[pos] == ',') {
                    ++pos;
                }
                continue;
            }
            long begin = pos;
            if (!code_mode) {
                code = c;
                ++pos;
            } else {
                INT_U32 v = 0;
                int n = 0;
                for (; n < 4; ++n) {
                    int d = hex_digit(static_cast<unsigned char>(text[pos]));
                    if (d < 0) {
                        break;
                    }
                    v = v * 16 + INT_U32(d);
                    ++pos;
                }
                if (n < 4) {
                    // A short run draws nothing; the byte that cut it short
                    // goes with it, except a 0x01, which still toggles so
                    // that one bad run cannot swallow the rest of the text.
                    unsigned char stop = static_cast<unsigned char>(text[pos]);
                    if (stop == 0) {
                        return false;
                    }
                    if (stop != 0x01) {
                        ++pos;
                    }
                    continue;
                }
                if (text[pos] == ',') {
                    ++pos;
                }
                code = v;
            }
            if (start) {
                *start = begin;
            }
            if (start_mode) {
                *start_mode = code_mode;
            }
            if (remaining > 0) {
                --remaining;
            }
            return true;
        }
    }
};

// The slot's table entry when the slot is valid, else null.
IMAGE_FONT_SLOT* font_slot_entry(INT_S8 slot);

// One glyph in the cache, on a list from the most to the least recently
// used.
struct FONT_CACHED_GLYPH
{
    IMAGE_FONT_GLYPH glyph;
    INT_U64 key;              // slot, pixel size and code (font.cpp)
    unsigned long bytes;      // what it counts against the budget
    FONT_CACHED_GLYPH* newer; // null for the most recently used
    FONT_CACHED_GLYPH* older; // null for the least recently used
};

// The glyph of a code rendered at pixel size w x h (the requested size less
// one), from the cache or rendered into it. The slot must be valid. The
// glyph stays valid until the next call of font_get_glyph or font_glyph,
// which may let it go.
IMAGE_FONT_GLYPH* font_get_glyph(INT_S8 slot, INT_U32 code, short w, short h);

// The ends of the cache's list (font.cpp keeps them).
struct FONT_GLYPH_LIST
{
    FONT_CACHED_GLYPH* newest;
    FONT_CACHED_GLYPH* oldest;

    void unlink(FONT_CACHED_GLYPH* e)
    {
        (e->newer ? e->newer->older : newest) = e->older;
        (e->older ? e->older->newer : oldest) = e->newer;
        e->newer = e->older = nullptr;
    }
    void push_front(FONT_CACHED_GLYPH* e)
    {
        e->older = newest;
        e->newer = nullptr;
        (newest ? newest->newer : oldest) = e;
        newest = e;
    }
    // Makes a listed glyph the most recently used.
    void to_front(FONT_CACHED_GLYPH* e)
    {
        if (e == newest) {
            return;
        }
        unlink(e);
        push_front(e);
    }
};
extern FONT_GLYPH_LIST font_glyph_list;

// The glyph as font_get_glyph gives it, taken straight from the slot's
// recent table when it is there at this size (the common case while
// drawing).
inline IMAGE_FONT_GLYPH* font_glyph(IMAGE_FONT_SLOT* s, INT_S8 slot, INT_U32 code, short w, short h)
{
    if (code < 256) {
        FONT_CACHED_GLYPH* e = s->recent[code];
        if (e && e->glyph.size_w == w && e->glyph.size_h == h) {
            font_glyph_list.to_front(e);
            return &e->glyph;
        }
    }
    return font_get_glyph(slot, code, w, h);
}

// The cache's budget in bytes (IMAGE_GLYPH_CACHE_BYTES at start); a lower
// budget takes effect at once. The most recently used glyph always stays.
void font_set_glyph_cache_budget(unsigned long bytes);
// What the cache holds now: its glyphs, their bytes, and how many glyphs
// FreeType has rendered into it since the process started.
unsigned long font_glyph_cache_count();
unsigned long font_glyph_cache_bytes();
unsigned long font_glyph_renders();

// Text coverage into a row of n pixels: alpha 0 leaves a pixel, an alpha
// at or past `solid` writes the colour, anything between mixes the colour
// in (kivo_pixel::mix). The plain form is the rule itself; text_row gives
// the same pixels four at a time where the processor allows.
void text_row(INT_U32* d, const INT_U8* alpha, int n, INT_U32 colour, INT_U32 solid);
void text_row_plain(INT_U32* d, const INT_U8* alpha, int n, INT_U32 colour, INT_U32 solid);
// text_row over a glyph's rows: d moves on by d_stride pixels a row, alpha
// by a_stride bytes, and the colour's lanes are set up once.
void text_block(INT_U32* d, long d_stride, const INT_U8* alpha, long a_stride, int n, int rows, INT_U32 colour,
                INT_U32 solid);

// Set, render_string draws as it always did, a glyph at a time through the
// per-pixel rule (the lightness shift worked out for every pixel); the
// tests compare the two ways.
extern bool font_text_plain;

// 1 <= w, h <= IMAGE_FONT_MAX_PIXELS.
inline bool font_size_ok(short w, short h)
{
    return w >= 1 && h >= 1 && w <= IMAGE_FONT_MAX_PIXELS && h <= IMAGE_FONT_MAX_PIXELS;
}

#endif
