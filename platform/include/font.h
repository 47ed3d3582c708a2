#ifndef KIVO_FONT_H
#define KIVO_FONT_H

// The process-wide font table behind IMAGE's text calls: outline faces
// opened through FreeType, one slot each, and one glyph cache for all of
// them, keyed by slot, pixel size and character.
// The operations themselves are IMAGE's static members (image.h).
#include "kivo_types.h"

// FreeType's own handle types, declared here so that users of this header
// need no FreeType include path.
struct FT_FaceRec_;
typedef struct FT_FaceRec_* FT_Face;
struct FT_LibraryRec_;
typedef struct FT_LibraryRec_* FT_Library;

// Rows of the known-font table; row i belongs to slot i.
constexpr int IMAGE_KNOWN_FONT_COUNT = 23;
// A slot is a signed byte, so the table never holds more than this.
constexpr int IMAGE_MAX_FONT_SLOTS = 128;
// Larger pixel sizes are refused like sizes below 1: one glyph at 1024
// pixels already holds about a megabyte of coverage.
constexpr int IMAGE_FONT_MAX_PIXELS = 1024;
// What the glyph cache holds at most (coverage and bookkeeping) before it
// lets the least recently used glyphs go: the Latin-1 set of a face at 22
// pixels takes under 100 KB, so this keeps well over a hundred face and
// size pairs.
constexpr unsigned long IMAGE_GLYPH_CACHE_BYTES = 16ul << 20;

// One rendered glyph. Held only in memory, so the fields are plain 32-bit.
struct IMAGE_FONT_GLYPH
{
    INT_S32 size_w, size_h;              // pixel size it was rendered at
    INT_S32 advance;                     // whole pixels
    INT_S32 left, top;                   // bitmap offset from the pen
    INT_S32 width, rows;                 // bitmap size in pixels
    INT_S32 pitch;                       // bytes per bitmap row, never below width
    INT_U8* bitmap;                      // pitch x rows coverage bytes (at least 1 byte)
    INT_S32 face_height, face_descender; // font units, for the baseline
};

// An entry of the glyph cache (font_walk.h).
struct FONT_CACHED_GLYPH;

struct IMAGE_FONT_SLOT
{
    char name[128];
    FT_Face face;        // null when the slot is free
    INT_U8 coverage_max; // coverage of a fully covered pixel
    // The cache's entry last used for each code 0-255, at whatever size
    // (null: none): while a text keeps to one size, its glyphs are found
    // here without a look-up. The cache owns the entries.
    FONT_CACHED_GLYPH* recent[256];
    // The pixel size the face was last set to (-1 = not yet; 0 is a size
    // the text calls ask for), so that a run of glyph misses at one size
    // sets it once: setting a size runs the face's hinting set-up.
    INT_S32 set_w, set_h;
};

// Declaring a global instance of either before main chooses the option.
class IMAGE_PREFER_FREETYPE
{
public:
    IMAGE_PREFER_FREETYPE();
};

class IMAGE_DONT_PRELOAD_FONTS
{
public:
    IMAGE_DONT_PRELOAD_FONTS();
};

#endif
