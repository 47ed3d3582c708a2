// Text drawing through our glyph cache against FreeType, each pair like
// for like: the warm line and the paragraph against FreeType's own cache
// (cmap and small-bitmap caches), the cold line against FreeType loading
// and rendering every glyph. Every reference uses the same face file, the
// same pixel size, the same glyph box clipping and the same coverage blend
// as ours; before timing, main checks that each one draws the same pixels
// as ours and says so. Prints the ratios ours / reference at the end.
#include "bench_ratio.h"
#include "colour.h"
#include "folder.h"
#include "font.h"
#include "font_walk.h"
#include "image.h"

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr INT_S8 SLOT = 10;
constexpr int LINE_W = 1100, LINE_H = 40;
constexpr int PARA_W = 1600, PARA_H = 4000;

// Eighty different characters, so that a cold cache renders every glyph
// (a repeated letter would hit the cache even when cold).
std::string line80()
{
    std::string s;
    for (char c = '!'; s.size() < 80; ++c) {
        s += c;
    }
    return s;
}

std::string paragraph(size_t bytes)
{
    const std::string words[] = {"lorem",  "ipsum", "dolor",  "sit",     "amet",   "consectetur", "adipiscing",
                                 "elit",   "sed",   "do",     "eiusmod", "tempor", "incididunt",  "ut",
                                 "labore", "et",    "dolore", "magna",   "aliqua", "well-known",  "Tollbeck"};
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i) {
        s += words[(i * 7 + i / 3) % (sizeof words / sizeof words[0])];
        s += (i % 17 == 16) ? "\n" : " ";
    }
    s.resize(bytes);
    return s;
}

// One glyph's coverage drawn as render_string draws it for an opaque text
// colour whose alpha equals the face's full coverage (255): coverage 0 is
// skipped, coverage at the solid threshold writes the colour, anything
// between mixes (R and B in one word, G in another, divided by 256, the
// destination's alpha kept). The glyph box is cut one pixel short of the
// image's right and bottom edges, as ours is, then to the image.
inline void blend_glyph(IMAGE& img, int gx, int gy, const unsigned char* bitmap, int pitch, int width, int rows,
                        INT_U32 colour)
{
    const int cols = width < img.width - gx - 1 ? width : img.width - gx - 1;
    const int r_end = rows < img.height - gy - 1 ? rows : img.height - gy - 1;
    const int c0 = gx < 0 ? -gx : 0, r0 = gy < 0 ? -gy : 0;
    const INT_U32 solid = COLOUR::alpha_solid_threshold;
    for (int r = r0; r < r_end; ++r) {
        const unsigned char* cov = bitmap + long(r) * pitch;
        COLOUR* row = img.pixels + long(gy + r) * img.stride + gx;
        for (int c = c0; c < cols; ++c) {
            const INT_U32 a = cov[c];
            if (a == 0) {
                continue;
            }
            if (a >= solid) {
                row[c].value = colour;
                continue;
            }
            const INT_U32 d = row[c].value, na = 255 - a;
            const INT_U32 rb = (((colour & 0xFF00FFu) * a + (d & 0xFF00FFu) * na) >> 8) & 0xFF00FFu;
            const INT_U32 g = (((colour & 0xFF00u) * a + (d & 0xFF00u) * na) >> 8) & 0xFF00u;
            row[c].value = (d & 0xFF000000u) | rb | g;
        }
    }
}

// Reference for a cold cache: load and render every glyph, as our cache
// does on a miss.
struct RAW_FREETYPE
{
    FT_Library lib = nullptr;
    FT_Face face = nullptr;

    bool open(const char* path) { return FT_Init_FreeType(&lib) == 0 && FT_New_Face(lib, path, 0, &face) == 0; }
    ~RAW_FREETYPE()
    {
        if (face) {
            FT_Done_Face(face);
        }
        if (lib) {
            FT_Done_FreeType(lib);
        }
    }

    // One line from (x, y) until the text or the image's width ends; size
    // is the requested size, the glyphs are drawn one pixel smaller, as ours.
    void draw_line(IMAGE& img, int x, int y, const char* text, int size, INT_U32 colour)
    {
        FT_Set_Pixel_Sizes(face, FT_UInt(size - 1), FT_UInt(size - 1));
        const int baseline = int(long(size) * face->descender / face->height);
        for (const char* p = text; *p && x < img.width; ++p) {
            if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_RENDER) != 0) {
                continue;
            }
            const FT_GlyphSlot g = face->glyph;
            blend_glyph(img, x + g->bitmap_left, y + size + baseline - g->bitmap_top - 1, g->bitmap.buffer,
                        g->bitmap.pitch, int(g->bitmap.width), int(g->bitmap.rows), colour);
            x += int(g->advance.x >> 6);
        }
    }
};

// Reference for a warm cache: FreeType's cache manager, its character map
// cache and its small-bitmap cache, one lookup of each per glyph.
struct CACHED_FREETYPE
{
    FT_Library lib = nullptr;
    FTC_Manager manager = nullptr;
    FTC_CMapCache cmaps = nullptr;
    FTC_SBitCache sbits = nullptr;
    std::string path;
    FT_Face face = nullptr; // owned by the manager
    FTC_FaceID face_id = this;

    static FT_Error request(FTC_FaceID, FT_Library library, FT_Pointer data, FT_Face* out)
    {
        return FT_New_Face(library, static_cast<CACHED_FREETYPE*>(data)->path.c_str(), 0, out);
    }

    bool open(const char* file)
    {
        path = file;
        return FT_Init_FreeType(&lib) == 0 && FTC_Manager_New(lib, 0, 0, 0, request, this, &manager) == 0 &&
               FTC_CMapCache_New(manager, &cmaps) == 0 && FTC_SBitCache_New(manager, &sbits) == 0 &&
               FTC_Manager_LookupFace(manager, face_id, &face) == 0;
    }
    ~CACHED_FREETYPE()
    {
        if (manager) {
            FTC_Manager_Done(manager);
        }
        if (lib) {
            FT_Done_FreeType(lib);
        }
    }

    FTC_SBit glyph(unsigned char c, FTC_ImageTypeRec& type)
    {
        FTC_SBit sbit = nullptr;
        const FT_UInt index = FTC_CMapCache_Lookup(cmaps, face_id, -1, c);
        return FTC_SBitCache_Lookup(sbits, &type, index, &sbit, nullptr) == 0 ? sbit : nullptr;
    }

    FTC_ImageTypeRec type_of(int size)
    {
        FTC_ImageTypeRec type;
        type.face_id = face_id;
        type.width = FT_UInt(size - 1);
        type.height = FT_UInt(size - 1);
        type.flags = FT_LOAD_DEFAULT | FT_LOAD_RENDER;
        return type;
    }

    // The bytes [begin, end) as one line from (x, y), as draw_line above.
    void draw_run(IMAGE& img, int x, int y, const char* begin, const char* end, int size, INT_U32 colour)
    {
        FTC_ImageTypeRec type = type_of(size);
        const int baseline = int(long(size) * face->descender / face->height);
        for (const char* p = begin; p < end && x < img.width; ++p) {
            const FTC_SBit g = glyph(static_cast<unsigned char>(*p), type);
            if (!g) {
                continue;
            }
            blend_glyph(img, x + g->left, y + size + baseline - g->top - 1, g->buffer, g->pitch, g->width, g->height,
                        colour);
            x += g->xadvance;
        }
    }

    int advance(unsigned char c, FTC_ImageTypeRec& type)
    {
        const FTC_SBit g = glyph(c, type);
        return g ? g->xadvance : 0;
    }

    // Plain text wrapped by word into a box as wide as the image, left and
    // top aligned, as draw_string lays it out: a line ends at '\n', or
    // before the first word whose last pixel would reach the box's width
    // (words are measured with their advances; a word ends at a space or
    // just after a dash); the blank at a break is dropped and blanks that
    // start a line are skipped. The box is tall enough that no line gets
    // an ellipsis, and no word is wider than the box, so neither of those
    // rules is needed.
    void draw_paragraph(IMAGE& img, const char* text, int size, INT_U32 colour)
    {
        FTC_ImageTypeRec type = type_of(size);
        const int avail = img.width;
        int y = 0;
        const char* p = text;
        while (*p && y + size <= img.height) {
            while (*p == ' ') {
                ++p;
            }
            const char* line_end = p;
            const char* q = p;
            const char* next;
            int width = 0;
            for (;;) {
                const char* s = q;
                int gap = 0;
                while (*s == ' ') {
                    gap += advance(static_cast<unsigned char>(*s++), type);
                }
                const char* e = s;
                int word = 0;
                while (*e && *e != ' ' && *e != '\n') {
                    word += advance(static_cast<unsigned char>(*e), type);
                    if (*e++ == '-') {
                        break;
                    }
                }
                if (e == s) {
                    line_end = s;
                    next = *s == '\n' ? s + 1 : s;
                    break;
                }
                if (line_end != p && width + gap + word >= avail) {
                    next = s;
                    break;
                }
                width += gap + word;
                line_end = e;
                q = e;
            }
            draw_run(img, 0, y, p, line_end, size, colour);
            y += size;
            p = next;
        }
    }
};

RAW_FREETYPE* raw = nullptr;
CACHED_FREETYPE* cached = nullptr;

void BM_Ours_Line80_Warm(benchmark::State& state)
{
    IMAGE img;
    img.setup(LINE_W, LINE_H);
    const std::string text = line80();
    img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 22, 22, text.c_str(), -1, 0);
    for (auto _ : state) {
        img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 22, 22, text.c_str(), -1,
                          0);
        benchmark::ClobberMemory();
    }
}

void BM_FTCache_Line80_Warm(benchmark::State& state)
{
    IMAGE img;
    img.setup(LINE_W, LINE_H);
    const std::string text = line80();
    const char* end = text.c_str() + text.size();
    cached->draw_run(img, 0, 0, text.c_str(), end, 22, COLOUR_BLACK);
    for (auto _ : state) {
        cached->draw_run(img, 0, 0, text.c_str(), end, 22, COLOUR_BLACK);
        benchmark::ClobberMemory();
    }
}

// With no budget the cache keeps only the glyph drawn last, so every glyph
// of the line (eighty different ones) is rendered again. The sizes
// alternate as the reference's do.
void BM_Ours_Line80_Cold(benchmark::State& state)
{
    IMAGE img;
    img.setup(LINE_W, LINE_H);
    const std::string text = line80();
    int i = 0;
    font_set_glyph_cache_budget(0);
    for (auto _ : state) {
        const short size = short(22 + (i++ & 1));
        img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, size, size, text.c_str(),
                          -1, 0);
        benchmark::ClobberMemory();
    }
    font_set_glyph_cache_budget(IMAGE_GLYPH_CACHE_BYTES);
}

void BM_Raw_Line80_Cold(benchmark::State& state)
{
    IMAGE img;
    img.setup(LINE_W, LINE_H);
    const std::string text = line80();
    int i = 0;
    for (auto _ : state) {
        raw->draw_line(img, 0, 0, text.c_str(), 22 + (i++ & 1), COLOUR_BLACK);
        benchmark::ClobberMemory();
    }
}

void BM_Ours_Paragraph(benchmark::State& state)
{
    IMAGE img;
    img.setup(PARA_W, PARA_H);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state) {
        img.draw_string(0, 0, PARA_W - 1, PARA_H - 1, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SLOT, 22, 22,
                        text.c_str(), 0x08 | 0x20);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

void BM_FTCache_Paragraph(benchmark::State& state)
{
    IMAGE img;
    img.setup(PARA_W, PARA_H);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state) {
        cached->draw_paragraph(img, text.c_str(), 22, COLOUR_BLACK);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The same layout with a one-pixel clip: the line breaking and the glyph
// walk without the pixel work, whose cost grows with the memory touched.
void BM_Ours_Layout(benchmark::State& state)
{
    IMAGE img;
    img.setup(PARA_W, PARA_H);
    img.set_active_area(0, 0, 0, 0);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state) {
        img.draw_string(0, 0, PARA_W - 1, PARA_H - 1, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SLOT, 22, 22,
                        text.c_str(), 0x08 | 0x20);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_Ours_Line80_Warm);
BENCHMARK(BM_FTCache_Line80_Warm);
BENCHMARK(BM_Ours_Line80_Cold);
BENCHMARK(BM_Raw_Line80_Cold);
BENCHMARK(BM_Ours_Paragraph)->Arg(2048)->Arg(8192);
BENCHMARK(BM_FTCache_Paragraph)->Arg(2048)->Arg(8192);
BENCHMARK(BM_Ours_Layout)->Arg(2048)->Arg(8192);

// Pixels that differ between two images of the same size.
long differing(const IMAGE& a, const IMAGE& b)
{
    long n = 0;
    for (int y = 0; y < a.height; ++y) {
        for (int x = 0; x < a.width; ++x) {
            n += a.pixels[long(y) * a.stride + x].value != b.pixels[long(y) * b.stride + x].value;
        }
    }
    return n;
}

// Draws once with ours and once with the reference on white and reports
// whether the pictures match: a reference that draws something else is
// no yardstick.
template <class OURS, class REFERENCE> void check_same(const char* what, int w, int h, OURS ours, REFERENCE reference)
{
    IMAGE a, b;
    a.setup(short(w), short(h));
    b.setup(short(w), short(h));
    a.clear(COLOUR_WHITE, 1);
    b.clear(COLOUR_WHITE, 1);
    ours(a);
    reference(b);
    const long n = differing(a, b);
    if (n == 0) {
        std::printf("check: %s: the reference draws the same pixels as ours\n", what);
    } else {
        std::printf("check: %s: the reference differs from ours in %ld pixels\n", what, n);
    }
}

void check_references()
{
    const std::string line = line80();
    const char* text = line.c_str();
    check_same(
        "warm line", LINE_W, LINE_H,
        [&](IMAGE& i) {
            i.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 22, 22, text, -1, 0);
        },
        [&](IMAGE& i) { cached->draw_run(i, 0, 0, text, text + line.size(), 22, COLOUR_BLACK); });
    check_same(
        "cold line", LINE_W, LINE_H,
        [&](IMAGE& i) {
            i.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 23, 23, text, -1, 0);
        },
        [&](IMAGE& i) { raw->draw_line(i, 0, 0, text, 23, COLOUR_BLACK); });
    const std::string para = paragraph(8192);
    check_same(
        "paragraph 8 KB", PARA_W, PARA_H,
        [&](IMAGE& i) {
            i.draw_string(0, 0, PARA_W - 1, PARA_H - 1, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SLOT, 22, 22,
                          para.c_str(), 0x08 | 0x20);
        },
        [&](IMAGE& i) { cached->draw_paragraph(i, para.c_str(), 22, COLOUR_BLACK); });
}

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    if (!IMAGE::is_font_valid(SLOT)) {
        std::fprintf(stderr, "font slot %d is empty: the build tree's font folder is missing\n", SLOT);
        return 1;
    }
    FOLDER fonts("$FONTDATA", 0, nullptr, 0);
    const std::string path = fonts.get_path_string(IMAGE::get_font_info_filename(SLOT));
    RAW_FREETYPE raw_reference;
    CACHED_FREETYPE cached_reference;
    if (!raw_reference.open(path.c_str()) || !cached_reference.open(path.c_str())) {
        std::fprintf(stderr, "FreeType cannot open %s\n", path.c_str());
        return 1;
    }
    raw = &raw_reference;
    cached = &cached_reference;
    check_references();

    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"warm line (cached glyphs) vs FreeType's cache", "BM_Ours_Line80_Warm", "BM_FTCache_Line80_Warm"},
         {"cold line (every glyph new) vs FreeType rendering each", "BM_Ours_Line80_Cold", "BM_Raw_Line80_Cold"},
         {"paragraph 2 KB, wrapped, vs FreeType's cache", "BM_Ours_Paragraph/2048", "BM_FTCache_Paragraph/2048"},
         {"paragraph 8 KB, wrapped, vs FreeType's cache", "BM_Ours_Paragraph/8192", "BM_FTCache_Paragraph/8192"},
         {"ours vs ours: paragraph 8 KB vs 2 KB (linear: near 4)", "BM_Ours_Paragraph/8192", "BM_Ours_Paragraph/2048"},
         {"ours vs ours: layout 8 KB vs 2 KB (linear: near 4)", "BM_Ours_Layout/8192", "BM_Ours_Layout/2048"}});
    IMAGE::shutdown_font_system();
    return rc;
}
