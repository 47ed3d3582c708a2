// The font table: start-up and shut-down of FreeType, the 23 known fonts,
// loading and freeing slots, and the per-slot glyph cache.
#include "font.h"

#include "debug_stream.h"
#include "errors.h"
#include "folder.h"
#include "font_walk.h"
#include "image.h"
#include "kivo_host.h"

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct FONT_FILE_ROW
{
    const char* file;
    const char* name;
};

// Row i belongs to slot i. Rows 6 and 13 are this system's own script and
// display faces.
constexpr FONT_FILE_ROW font_files[IMAGE_KNOWN_FONT_COUNT] = {
    {"Achafexp.ttf", "Charming Font Expanded"},
    {"Achafita.ttf", "Charming Font Italic"},
    {"Achaflft.ttf", "Charming Font Left Leaning"},
    {"Achafont.ttf", "Charming Font"},
    {"Achafout.ttf", "Charming Font Outline"},
    {"Achafsex.ttf", "Charming Font Super Extended"},
    {"Script.ttf", "Script"},
    {"BabelSans-BoldOblique.ttf", "Babel Sans Bold Italic"},
    {"BabelSans-Bold.ttf", "Babel Sans Bold"},
    {"BabelSans-Oblique.ttf", "Babel Sans Italic"},
    {"BabelSans.ttf", "Babel Sans"},
    {"Impressed Metal.ttf", "Impressed Metal"},
    {"WeekdaysRomanSlant.ttf", "Weekdays Roman Slant"},
    {"Display.ttf", "Display"},
    {"ZendaEmbossed.ttf", "Zenda Embossed"},
    {"zenda.ttf", "Zenda"},
    {"ZenFraxFreestyleCondensed.ttf", "Zen Frax Freestyle Condensed"},
    {"ZenFrax.ttf", "Zen Frax"},
    {"zxspectr.ttf", "ZX Spectrum"},
    {"LinLibertine_Bd-4.1.0.ttf", "Libertine Bold"},
    {"LinLibertine_BI-4.0.5.ttf", "Libertine Bold Italic"},
    {"LinLibertine_It-4.0.6.ttf", "Libertine Italic"},
    {"LinLibertine_Re-4.4.1.ttf", "Libertine Regular"},
};

// Process-wide state, constant-initialised so that the option objects may
// change it before main.
IMAGE_FONT_SLOT* fonts = nullptr;
INT_S16 fonts_sz = 0;
FT_Library font_engine = nullptr;
INT_U8 setup_done = 0;
INT_U8 preload_fonts = 1;
INT_U8 use_t2k = 0;

INT_U8 font_system_started_hook() { return setup_done; }

void free_glyph_bitmap(IMAGE_FONT_GLYPH* g)
{
    std::free(g->bitmap);
    g->bitmap = nullptr;
}

// Renders (or finds in the record) the glyph of a code at w x h pixels.
void render_glyph(IMAGE_FONT_GLYPH* g, unsigned long code, INT_S8 font, short w, short h)
{
    if (g->bitmap && g->size_w == w && g->size_h == h)
        return;
    free_glyph_bitmap(g);

    IMAGE_FONT_SLOT& s = fonts[font];
    FT_Face face = s.face;
    if (s.set_w != w || s.set_h != h)
    {
        if (FT_Set_Pixel_Sizes(face, FT_UInt(w < 0 ? 0 : w), FT_UInt(h < 0 ? 0 : h)) != 0)
            display_error(36);
        s.set_w = w;
        s.set_h = h;
    }
    if (FT_Load_Char(face, code, FT_LOAD_RENDER) != 0)
        display_error(37);

    FT_GlyphSlot slot = face->glyph;
    const FT_Bitmap& bm = slot->bitmap;
    g->size_w = w;
    g->size_h = h;
    g->advance = INT_S32(slot->advance.x >> 6);
    g->left = slot->bitmap_left;
    g->top = slot->bitmap_top;
    g->width = INT_S32(bm.width);
    g->rows = INT_S32(bm.rows);
    g->face_height = face->height;
    g->face_descender = face->descender;

    // Coverage is kept one byte per pixel. A face with embedded 1-bit
    // strikes can hand back a mono bitmap, whose rows are narrower than the
    // glyph: spread it to bytes so the drawing loops never read past a row.
    // Other pixel modes carry no coverage this system can use.
    const bool gray = bm.pixel_mode == FT_PIXEL_MODE_GRAY;
    const bool mono = bm.pixel_mode == FT_PIXEL_MODE_MONO;
    if (!gray && !mono)
    {
        g->width = 0;
        g->rows = 0;
    }
    g->pitch = g->width;
    size_t bytes = size_t(g->pitch) * size_t(g->rows);
    g->bitmap = static_cast<INT_U8*>(std::calloc(bytes ? bytes : 1, 1));
    if (!g->bitmap)
        display_error(35);
    if (!bytes)
        return;
    const int src_pitch = bm.pitch < 0 ? -bm.pitch : bm.pitch;
    for (int r = 0; r < g->rows; ++r)
    {
        // A negative pitch stores the bottom row first.
        const unsigned char* src = bm.buffer + size_t(bm.pitch < 0 ? g->rows - 1 - r : r) * size_t(src_pitch);
        INT_U8* dst = g->bitmap + size_t(r) * size_t(g->pitch);
        if (gray)
        {
            if (bm.num_grays == 256)
                std::memcpy(dst, src, size_t(g->width));
            else
                for (int c = 0; c < g->width; ++c)
                    dst[c] = INT_U8(unsigned(src[c]) * 255u / unsigned(bm.num_grays > 1 ? bm.num_grays - 1 : 1));
        }
        else
        {
            for (int c = 0; c < g->width; ++c)
                dst[c] = (src[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
        }
    }
}

} // namespace

IMAGE_PREFER_FREETYPE::IMAGE_PREFER_FREETYPE() { use_t2k = 0; }
IMAGE_DONT_PRELOAD_FONTS::IMAGE_DONT_PRELOAD_FONTS() { preload_fonts = 0; }

IMAGE_FONT_SLOT* font_slot_entry(INT_S8 slot)
{
    if (!fonts || slot < 0 || slot >= fonts_sz || !fonts[slot].face)
        return nullptr;
    return &fonts[slot];
}

IMAGE_FONT_GLYPH* font_get_glyph(INT_S8 slot, INT_U32 code, short w, short h, IMAGE_FONT_GLYPH& temp)
{
    IMAGE_FONT_GLYPH* g;
    if (code < 256)
    {
        IMAGE_FONT_GLYPH*& cached = fonts[slot].glyphs[code];
        if (!cached)
        {
            cached = static_cast<IMAGE_FONT_GLYPH*>(std::calloc(1, sizeof(IMAGE_FONT_GLYPH)));
            if (!cached)
                display_error(35);
        }
        g = cached;
    }
    else
    {
        std::memset(&temp, 0, sizeof temp);
        g = &temp;
    }
    render_glyph(g, code, slot, w, h);
    return g;
}

void font_release_temp_glyph(IMAGE_FONT_GLYPH& temp) { free_glyph_bitmap(&temp); }

void IMAGE::startup_font_system()
{
    if (setup_done)
        return;
    if (FT_Init_FreeType(&font_engine) != 0)
    {
        font_engine = nullptr;
        display_error(33);
    }
    for (int row = 0; row < IMAGE_KNOWN_FONT_COUNT && preload_fonts; ++row)
        load_font(font_files[row].file, font_files[row].name, INT_S8(row), nullptr);
    setup_done = 1;
    // The core asks the host table whether fonts are up; answer unless the
    // host has put its own answer there.
    if (kivo_host()->font_system_started == kivo_default_host()->font_system_started)
        kivo_host()->font_system_started = font_system_started_hook;
}

void IMAGE::shutdown_font_system()
{
    if (!setup_done)
        return;
    free_font(-1);
    std::free(fonts);
    fonts = nullptr;
    fonts_sz = 0;
    FT_Done_FreeType(font_engine);
    font_engine = nullptr;
    setup_done = 0;
}

bool IMAGE::is_font_system_setup() { return setup_done != 0; }

INT_S8 IMAGE::load_font(const char* file, const char* name, INT_S8 slot, FOLDER* folder)
{
    if (!file || !*file)
        return -1;
    std::unique_ptr<FOLDER> fontdata;
    if (!folder)
    {
        fontdata.reset(new FOLDER("$FONTDATA", 0, nullptr, 0));
        folder = fontdata.get();
    }

    int candidate;
    if (slot >= 0 && slot < IMAGE_KNOWN_FONT_COUNT)
    {
        if (std::strcmp(file, font_files[slot].file) != 0)
            return -1;
        candidate = slot;
    }
    else if (slot >= IMAGE_KNOWN_FONT_COUNT)
        candidate = slot;
    else if (slot == -1)
        candidate = fonts_sz > IMAGE_KNOWN_FONT_COUNT ? fonts_sz : IMAGE_KNOWN_FONT_COUNT;
    else
        return -1;

    DATA_FILE* probe = folder->open_data_file(file, FILE_MODE(0), 0, 0);
    if (!probe)
        return -1;
    folder->close(probe);

    if (candidate < fonts_sz)
    {
        if (fonts[candidate].face)
            return -1;
    }
    else
    {
        bool reused = false;
        if (slot == -1)
            for (int i = IMAGE_KNOWN_FONT_COUNT; i < fonts_sz && !reused; ++i)
                if (!fonts[i].face)
                {
                    candidate = i;
                    reused = true;
                }
        if (!reused)
        {
            // Slots are signed bytes: a table past 127 could not be named.
            if (candidate >= IMAGE_MAX_FONT_SLOTS)
                return -1;
            void* grown = std::realloc(fonts, sizeof(IMAGE_FONT_SLOT) * size_t(candidate + 1));
            if (!grown)
                display_error(35);
            fonts = static_cast<IMAGE_FONT_SLOT*>(grown);
            std::memset(fonts + fonts_sz, 0, sizeof(IMAGE_FONT_SLOT) * size_t(candidate + 1 - fonts_sz));
            fonts_sz = INT_S16(candidate + 1);
        }
    }

    IMAGE_FONT_SLOT& s = fonts[candidate];
    const std::string path = folder->get_path_string(file);
    // Before start-up there is no engine to open it with: the font error,
    // so callers ask is_font_system_setup first.
    if (!font_engine)
        display_error(ERR_FONT_LOAD, file);
    // A damaged file is skipped like a missing one, the font error
    // reported: one bad file in a folder must not end the program.
    if (FT_New_Face(font_engine, path.c_str(), 0, &s.face) != 0)
    {
        s.face = nullptr;
        set_error_code(ERRCODE_FILE_READ, path.c_str());
        if (platform_debug_stream.flags)
        {
            const char* message = "";
            for (const ERROR_ROW* row = errors; row->code != ERROR_TABLE_END; ++row)
                if (row->code == ERR_FONT_LOAD)
                    message = row->message;
            const std::string line = std::string(message) + ": " + path;
            platform_debug_stream.write_to_stream("font", __LINE__, line.c_str(), 1);
        }
        return -1;
    }
    // A face without outlines cannot be drawn at the sizes asked for (and
    // reports a height of 0): refuse it here rather than fail at the first
    // draw.
    if (!FT_IS_SCALABLE(s.face))
    {
        FT_Done_Face(s.face);
        s.face = nullptr;
        return -1;
    }
    s.coverage_max = 255;
    s.set_w = s.set_h = -1;
    std::strncpy(s.name, name ? name : file, sizeof s.name - 1);
    s.name[sizeof s.name - 1] = 0;
    return INT_S8(candidate);
}

void IMAGE::free_font(INT_S8 slot)
{
    if (!fonts)
        return;
    if (slot == -1)
    {
        for (int i = 0; i < fonts_sz; ++i)
            free_font(INT_S8(i));
        return;
    }
    if (slot < 0 || slot >= fonts_sz)
        return;
    IMAGE_FONT_SLOT& s = fonts[slot];
    if (s.face)
        FT_Done_Face(s.face);
    s.face = nullptr;
    for (IMAGE_FONT_GLYPH*& g : s.glyphs)
    {
        if (!g)
            continue;
        free_glyph_bitmap(g);
        std::free(g);
        g = nullptr;
    }
}

bool IMAGE::is_font_valid(INT_S8 slot) { return font_slot_entry(slot) != nullptr; }

const char* IMAGE::get_font_name(INT_S8 slot)
{
    IMAGE_FONT_SLOT* s = font_slot_entry(slot);
    return s ? s->name : nullptr;
}

const char* IMAGE::get_font_info_filename(INT_S8 row)
{
    INT_U8 r = INT_U8(row);
    return r < IMAGE_KNOWN_FONT_COUNT ? font_files[r].file : nullptr;
}

const char* IMAGE::get_font_info_name(INT_S8 row)
{
    INT_U8 r = INT_U8(row);
    return r < IMAGE_KNOWN_FONT_COUNT ? font_files[r].name : nullptr;
}
