// Text drawing through the glyph cache against the same text drawn by raw
// FreeType calls (load and render every glyph, blend its coverage), in one
// run; prints the ratios ours / reference at the end.
#include "bench_ratio.h"
#include "colour.h"
#include "folder.h"
#include "font.h"
#include "image.h"

#include <benchmark/benchmark.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr INT_S8 SLOT = 10;

// Eighty different characters, so that a cold cache renders every glyph
// (a repeated letter would hit the cache even when cold).
std::string line80()
{
    std::string s;
    for (char c = '!'; s.size() < 80; ++c)
        s += c;
    return s;
}

std::string paragraph(size_t bytes)
{
    const std::string words[] = {"lorem", "ipsum", "dolor", "sit", "amet", "consectetur", "adipiscing", "elit",
                                 "sed", "do", "eiusmod", "tempor", "incididunt", "ut", "labore", "et", "dolore",
                                 "magna", "aliqua", "well-known", "Tollbeck"};
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i)
    {
        s += words[(i * 7 + i / 3) % (sizeof words / sizeof words[0])];
        s += (i % 17 == 16) ? "\n" : " ";
    }
    s.resize(bytes);
    return s;
}

// The reference: a plain FreeType loop with the same coverage blend.
struct RAW_FREETYPE
{
    FT_Library lib = nullptr;
    FT_Face face = nullptr;

    bool open(const char* path)
    {
        return FT_Init_FreeType(&lib) == 0 && FT_New_Face(lib, path, 0, &face) == 0;
    }
    ~RAW_FREETYPE()
    {
        if (face)
            FT_Done_Face(face);
        if (lib)
            FT_Done_FreeType(lib);
    }

    void draw(IMAGE& img, int x, int y, const char* text, int size, COLOUR colour)
    {
        FT_Set_Pixel_Sizes(face, FT_UInt(size - 1), FT_UInt(size - 1));
        const int baseline = int(long(size) * face->descender / face->height);
        for (const char* p = text; *p; ++p)
        {
            if (*p == '\n')
            {
                x = 0;
                y += size;
                continue;
            }
            if (FT_Load_Char(face, static_cast<unsigned char>(*p), FT_LOAD_RENDER) != 0)
                continue;
            const FT_GlyphSlot g = face->glyph;
            const int gx = x + g->bitmap_left, gy = y + size + baseline - g->bitmap_top - 1;
            for (unsigned r = 0; r < g->bitmap.rows; ++r)
            {
                const int py = gy + int(r);
                if (py < 0 || py >= img.height)
                    continue;
                const unsigned char* cov = g->bitmap.buffer + r * unsigned(g->bitmap.pitch);
                for (unsigned c = 0; c < g->bitmap.width; ++c)
                {
                    const int px = gx + int(c);
                    const unsigned a = cov[c];
                    if (!a || px < 0 || px >= img.width)
                        continue;
                    COLOUR& d = img.pixels[py * img.stride + px];
                    const INT_U32 s = colour.value, v = d.value, ia = 255 - a;
                    INT_U32 rb = (((s & 0xFF00FFu) * a + (v & 0xFF00FFu) * ia) >> 8) & 0xFF00FFu;
                    INT_U32 gg = (((s & 0xFF00u) * a + (v & 0xFF00u) * ia) >> 8) & 0xFF00u;
                    d.value = (v & 0xFF000000u) | rb | gg;
                }
            }
            x += int(g->advance.x >> 6);
            if (x >= img.width)
            {
                x = 0;
                y += size;
            }
        }
    }
};

RAW_FREETYPE* raw = nullptr;

void BM_Ours_Line80_Warm(benchmark::State& state)
{
    IMAGE img;
    img.setup(1100, 40);
    const std::string text = line80();
    img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 22, 22, text.c_str(), -1, 0);
    for (auto _ : state)
    {
        img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, 22, 22, text.c_str(), -1,
                          0);
        benchmark::ClobberMemory();
    }
}

// Alternating between two sizes makes every glyph miss the cache, which
// holds one size per code.
void BM_Ours_Line80_Cold(benchmark::State& state)
{
    IMAGE img;
    img.setup(1100, 40);
    const std::string text = line80();
    int i = 0;
    for (auto _ : state)
    {
        const short size = short(22 + (i++ & 1));
        img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SLOT, size, size, text.c_str(),
                          -1, 0);
        benchmark::ClobberMemory();
    }
}

void BM_Raw_Line80(benchmark::State& state)
{
    IMAGE img;
    img.setup(1100, 40);
    const std::string text = line80();
    int i = 0;
    for (auto _ : state)
    {
        raw->draw(img, 0, 0, text.c_str(), 22 + (i++ & 1), COLOUR_BLACK);
        benchmark::ClobberMemory();
    }
}

void BM_Ours_Paragraph(benchmark::State& state)
{
    IMAGE img;
    img.setup(1600, 4000);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state)
    {
        img.draw_string(0, 0, 1599, 3999, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SLOT, 22, 22, text.c_str(),
                        0x08 | 0x20);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

// The same layout with a one-pixel clip: the line breaking and the glyph
// walk without the pixel work, whose cost grows with the memory touched.
void BM_Ours_Layout(benchmark::State& state)
{
    IMAGE img;
    img.setup(1600, 4000);
    img.set_active_area(0, 0, 0, 0);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state)
    {
        img.draw_string(0, 0, 1599, 3999, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SLOT, 22, 22, text.c_str(),
                        0x08 | 0x20);
        benchmark::ClobberMemory();
    }
}

void BM_Raw_Paragraph(benchmark::State& state)
{
    IMAGE img;
    img.setup(1600, 4000);
    const std::string text = paragraph(size_t(state.range(0)));
    for (auto _ : state)
    {
        raw->draw(img, 0, 0, text.c_str(), 22, COLOUR_BLACK);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Ours_Line80_Warm);
BENCHMARK(BM_Ours_Line80_Cold);
BENCHMARK(BM_Raw_Line80);
BENCHMARK(BM_Ours_Paragraph)->Arg(2048)->Arg(8192);
BENCHMARK(BM_Raw_Paragraph)->Arg(2048)->Arg(8192);
BENCHMARK(BM_Ours_Layout)->Arg(2048)->Arg(8192);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    if (!IMAGE::is_font_valid(SLOT))
    {
        std::fprintf(stderr, "font slot %d is empty: the build tree's font folder is missing\n", SLOT);
        return 1;
    }
    FOLDER fonts("$FONTDATA", 0, nullptr, 0);
    const std::string path = fonts.get_path_string(IMAGE::get_font_info_filename(SLOT));
    RAW_FREETYPE reference;
    if (!reference.open(path.c_str()))
    {
        std::fprintf(stderr, "FreeType cannot open %s\n", path.c_str());
        return 1;
    }
    raw = &reference;

    // The last two compare our own runs: 4x the text should take about 4x the time.
    const int rc = kivo_bench::run_with_ratios(
        argc, argv,
        {{"warm line (cached glyphs) vs raw FreeType", "BM_Ours_Line80_Warm", "BM_Raw_Line80"},
         {"cold line (every glyph new) vs raw FreeType", "BM_Ours_Line80_Cold", "BM_Raw_Line80"},
         {"paragraph 2 KB vs raw FreeType", "BM_Ours_Paragraph/2048", "BM_Raw_Paragraph/2048"},
         {"paragraph 8 KB vs raw FreeType", "BM_Ours_Paragraph/8192", "BM_Raw_Paragraph/8192"},
         {"paragraph 8 KB vs 2 KB (linear: near 4)", "BM_Ours_Paragraph/8192", "BM_Ours_Paragraph/2048"},
         {"layout 8 KB vs 2 KB (linear: near 4)", "BM_Ours_Layout/8192", "BM_Ours_Layout/2048"}});
    IMAGE::shutdown_font_system();
    return rc;
}
