#ifndef KIVO_WM_PTM_TEXT_H
#define KIVO_WM_PTM_TEXT_H

// The texts of the page definition's records: new[] copies owned by their
// record (null = none), or WM_PTM_TEXTs, which keep short texts inside
// them; and reading either from a file.
#include "data_device.h"

#include <cstddef>

// A text a record owns, read as a const char*: null for none, else a
// NUL-terminated copy. Up to 15 bytes are kept inside it, so that the short
// names and folder paths most records carry cost no allocation of their
// own (a definition may hold hundreds of thousands of pages); longer texts
// live in new[] storage. A copy that runs out of memory is none; a move
// leaves the source with none.
class WM_PTM_TEXT
{
public:
    WM_PTM_TEXT() noexcept;
    ~WM_PTM_TEXT();
    WM_PTM_TEXT(const WM_PTM_TEXT& other);
    WM_PTM_TEXT(WM_PTM_TEXT&& other) noexcept;
    WM_PTM_TEXT& operator=(const WM_PTM_TEXT& other);
    WM_PTM_TEXT& operator=(WM_PTM_TEXT&& other) noexcept;

    operator const char*() const noexcept { return bytes[inside_max] == 0 ? bytes : stored(); }
    // A copy of the text (null: none); an equal text keeps the copy held.
    // False, leaving none, when memory runs out.
    bool set(const char* text);
    // The first n bytes of text, with a NUL after them.
    bool set(const char* text, size_t n);
    void clear() noexcept;

private:
    static constexpr size_t inside_max = 15;
    // A text of up to inside_max bytes sits at the start with bytes[15] 0,
    // which also ends it. Otherwise bytes[15] is 1 and the first bytes hold
    // the new[] pointer (null for none).
    alignas(char*) char bytes[inside_max + 1];

    char* stored() const noexcept;
    void store(char* text) noexcept;
    // Takes over other's text; other is left with none.
    void take(WM_PTM_TEXT& other) noexcept;
};

// A new record's name: the format with the record's position counted from 1
// ("Area %d", "Page %d", "Font %d", ...), as a new[] string; null when the
// allocation fails.
char* wm_ptm_default_name(const char* format, long number);
// A new[] copy of a text; null for null or a failed allocation.
char* wm_ptm_copy_text(const char* text);
// A setter of a new[] text field: the field becomes a copy of `text` (none
// for null or a failed copy); an equal text keeps the copy held.
void wm_ptm_set_text(char*& field, const char* text);
// Reads a string field into `field` (freed first): length 0, or a text
// that starts with a NUL, is none; the text ends at its first NUL. False
// on a short read or when memory runs out; the field is then none.
bool wm_ptm_get_text(DATA_DEVICE& d, char*& field);
bool wm_ptm_get_text(DATA_DEVICE& d, WM_PTM_TEXT& field);

#endif
