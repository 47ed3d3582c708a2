// Fonts and text drawing. Expected widths and glyph positions come from
// FreeType at run time, never from pixel literals, which change with the
// library's version.
#include "console_capture.h"
#include "debug_stream.h"
#include "errors.h"
#include "font.h"
#include "image_test_util.h"
#include "kivo_host.h"
#include "pipe_swap.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <unistd.h>

namespace {

using namespace imgtest;
const std::string share_fonts = std::string(KIVO_TEST_SHARE_DIR) + "/fonts";
constexpr INT_S8 SANS = 10; // the default slot
constexpr INT_S8 MONO = 18; // equal advances: layout cases become exact
const COLOUR K = COLOUR_BLACK, NO = COLOUR_INVISIBLE, W = COLOUR_WHITE;

// A folder; with as_font_data, also what "$FONTDATA" names from now on.
FOLDER folder_of(const std::string& dir, bool as_font_data = false)
{
    FOLDER f;
    EXPECT_TRUE(f.set_from_path_string(dir.c_str())) << dir;
    if (as_font_data) {
        FOLDER::add_custom_path("$FONTDATA", f);
    }
    return f;
}

// A known slot's file opened by FreeType itself at the size the text calls
// use (one less than asked), glyphs rendered as they render them.
struct FREETYPE_FACE
{
    FT_Library lib = nullptr;
    FT_Face face = nullptr;
    FREETYPE_FACE(INT_S8 slot, int size)
    {
        const std::string path = share_fonts + "/" + IMAGE::get_font_info_filename(slot);
        EXPECT_EQ(FT_Init_FreeType(&lib), 0);
        EXPECT_EQ(FT_New_Face(lib, path.c_str(), 0, &face), 0) << path;
        FT_Set_Pixel_Sizes(face, FT_UInt(size - 1), FT_UInt(size - 1));
    }
    ~FREETYPE_FACE() { FT_Done_Face(face), FT_Done_FreeType(lib); }
    FT_GlyphSlot load(char32_t code)
    {
        EXPECT_EQ(FT_Load_Char(face, code, FT_LOAD_RENDER), 0) << code;
        return face->glyph;
    }
    int width(const std::u32string& codes)
    {
        int total = 0;
        for (char32_t c : codes) {
            total += int(load(c)->advance.x >> 6);
        }
        return total;
    }
};

// Pixels that differ from the ground colour in rows [y1, y2).
int changed(IMAGE& img, COLOUR ground, int y1 = 0, int y2 = 32767)
{
    auto all = snapshot(img);
    return (int)std::count_if(all.begin() + std::min(y1 * img.width, (int)all.size()),
                              all.begin() + std::min(y2 * img.width, (int)all.size()),
                              [&](INT_U32 p) { return p != ground; });
}

// Draws one way into one image and another way into a second; true when
// both give the same pixels and something was drawn.
template <class GOT, class WANT> bool draws_same(GOT got, WANT want, COLOUR ground = W, short w = 400, short h = 200)
{
    CANVAS a(w, h, {ground}), b(w, h, {ground});
    got(a);
    want(b);
    return snapshot(a) == snapshot(b) && changed(a, ground) > 0;
}

// The plain text drawing every other form is compared with.
void plain(IMAGE& i, int x, int y, const char* text, INT_S8 slot = SANS, short size = 22, short effects = 0,
           COLOUR back = NO, COLOUR underline = NO)
{
    i.process_and_render_string(short(x), short(y), K, back, underline, slot, size, size, text, effects, -1, 0);
}

class FontTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        folder_of(share_fonts, true);
        IMAGE::startup_font_system();
        ASSERT_TRUE(IMAGE::is_font_valid(SANS) && IMAGE::is_font_valid(MONO));
        a = IMAGE().get_string_width(MONO, size, size, "x", -1, 0);
        // The layout cases rely on every character used there having the
        // same advance in the mono face.
        ASSERT_GT(a, 0);
        for (const char* s : {"a", "b", "-", ".", " ", "A", "F", "i", "l"}) {
            ASSERT_EQ(IMAGE().get_string_width(MONO, size, size, s, -1, 0), a) << s;
        }
    }
    void TearDown() override
    {
        IMAGE::shutdown_font_system();
        FOLDER::remove_custom_path("$FONTDATA");
        SandboxTest::TearDown();
    }

    struct PLACED
    {
        const char* text;
        int x, y;
    };

    // draw_string against the expected runs placed by hand.
    void expect_layout(int x1, int y1, int x2, int y2, short flags, const char* text, const std::vector<PLACED>& runs)
    {
        EXPECT_TRUE(draws_same(
            [&](IMAGE& i) {
                i.draw_string(short(x1), short(y1), short(x2), short(y2), K, NO, NO, MONO, size, size, text, flags);
            },
            [&](IMAGE& i) {
                for (const PLACED& p : runs) {
                    plain(i, p.x, p.y, p.text, MONO, size, flags);
                }
            }))
            << "layout of \"" << text << "\" flags " << flags;
    }

    const short size = 16;
    int a = 0; // advance of every mono character used
};

TEST(FontSystem, StartUpLoadsTheKnownFacesThatArePresent)
{
    // No override: "$FONTDATA" must resolve to the build tree's own folder.
    IMAGE::startup_font_system();
    ASSERT_TRUE(IMAGE::is_font_system_setup());
    EXPECT_EQ(kivo_host()->font_system_started(), 1);
    for (INT_S8 row = 0; row < IMAGE_KNOWN_FONT_COUNT; ++row) {
        EXPECT_TRUE(IMAGE::is_font_valid(row)) << IMAGE::get_font_info_filename(row);
    }

    IMAGE::shutdown_font_system();
    EXPECT_FALSE(IMAGE::is_font_system_setup() || kivo_host()->font_system_started());

    // Before start-up a missing file is still only a refusal; a font file
    // that is there cannot be opened without the engine: the font error.
    FOLDER fonts = folder_of(share_fonts);
    EXPECT_EQ(IMAGE::load_font("gone.ttf", nullptr, -1, &fonts), -1);
    EXPECT_EXIT(IMAGE::load_font("BabelSans.ttf", nullptr, -1, &fonts), ::testing::ExitedWithCode(1),
                "Unable to load font from disk");

    // A missing known file leaves its slot empty (what an empty slot
    // measures and draws is checked with the other refusals).
    const std::string dir = kivo_test::make_temp_dir("partial");
    ASSERT_EQ(symlink((share_fonts + "/BabelSans.ttf").c_str(), (dir + "/BabelSans.ttf").c_str()), 0);
    folder_of(dir, true);
    IMAGE::startup_font_system();
    EXPECT_TRUE(IMAGE::is_font_valid(SANS));
    EXPECT_FALSE(IMAGE::is_font_valid(0));
    EXPECT_FALSE(IMAGE::is_font_valid(MONO));
    IMAGE::shutdown_font_system();
    FOLDER::remove_custom_path("$FONTDATA");

    // The option object stops the preload.
    EXPECT_EXIT(
        {
            IMAGE_DONT_PRELOAD_FONTS option;
            IMAGE::startup_font_system();
            std::exit(IMAGE::is_font_system_setup() && !IMAGE::is_font_valid(SANS) ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FontTest, LoadFontSlotRules)
{
    const std::string long_name(300, 'n');
    const char* B = "BabelSans.ttf";
    const struct
    {
        INT_S8 free_first;
        const char* file;
        const char* name;
        INT_S8 slot, expect;
    } steps[] = {
        {-2, B, nullptr, 5, -1},              // known slots take only their own file,
        {-2, "Achafsex.ttf", nullptr, 5, -1}, // and never twice
        {-2, "no-such-font.ttf", nullptr, -1, -1},
        {-2, nullptr, nullptr, -1, -1},
        {-2, B, "Extra", -1, 23}, // "any" appends after the known slots
        {-2, B, nullptr, -1, 24},
        {24, B, nullptr, -1, 24}, // and reuses a freed one
        {-2, B, nullptr, 30, 30}, // an explicit slot grows the table over a gap
        {-2, B, nullptr, 30, -1},
        {-2, B, nullptr, -1, 25},                 // "any" then fills the gap
        {SANS, B, long_name.c_str(), SANS, SANS}, // a freed known slot takes its file back
    };
    for (auto& t : steps) {
        if (t.free_first != -2) {
            IMAGE::free_font(t.free_first);
        }
        EXPECT_EQ(IMAGE::load_font(t.file, t.name, t.slot, nullptr), t.expect) << (t.file ? t.file : "-") << +t.slot;
    }
    EXPECT_EQ(std::string(IMAGE::get_font_name(SANS)), long_name.substr(0, 127)); // long names are cut
    EXPECT_FALSE(IMAGE::is_font_valid(29));

    // A folder given by the caller is used instead of "$FONTDATA".
    const std::string own = kivo_test::make_temp_dir("ownfonts");
    ASSERT_EQ(symlink((share_fonts + "/BabelSans.ttf").c_str(), (own + "/Mine.ttf").c_str()), 0);
    FOLDER folder = folder_of(own);
    EXPECT_EQ(IMAGE::load_font("Mine.ttf", "Mine", -1, nullptr), -1);
    EXPECT_EQ(IMAGE::load_font("Mine.ttf", "Mine", -1, &folder), 26);

    // The table never grows past what a signed slot can name; the page
    // layer's "none" byte 255 arrives as -1 and is never a slot.
    EXPECT_EQ(IMAGE::load_font(B, nullptr, 127, nullptr), 127);
    int free_below = 0, loaded = 0;
    for (int s = IMAGE_KNOWN_FONT_COUNT; s < 127; ++s) {
        free_below += !IMAGE::is_font_valid(INT_S8(s));
    }
    while (IMAGE::load_font(B, nullptr, -1, nullptr) != -1) {
        ASSERT_LE(++loaded, 127);
    }
    EXPECT_EQ(loaded, free_below);
    EXPECT_TRUE(IMAGE::is_font_valid(126));
    EXPECT_FALSE(IMAGE::is_font_valid(INT_S8(INT_U8(255))));
}

// A face is read from the very file its folder opened and judged, never by
// its name again: a named pipe renamed over the name at any moment of a
// load never makes it wait for a writer.
TEST_F(FontTest, APipeSwappedInForAFaceNeverMakesALoadWait)
{
    ASSERT_TRUE(kivo_test::write_file(path("face.ttf"), kivo_test::read_file(share_fonts + "/BabelSans.ttf")));
    FOLDER folder = folder_of(dir);
    EXPECT_TRUE(kivo_test::loads_end_while_pipes_swap_in(
        path("face.ttf"),
        [&] {
            INT_S8 slot = IMAGE::load_font("face.ttf", "Face", -1, &folder);
            if (slot >= 0) {
                IMAGE::free_font(slot);
            }
        },
        5000));
}

TEST_F(FontTest, BadFacesAreRefusedLikeMissingOnes)
{
    // A one-glyph bitmap font: FreeType opens it, but it has no outlines
    // (were it not read at all, the load would end the program).
    const std::string bdf =
        "STARTFONT 2.1\nFONT -test-tiny-medium-r-normal--8-80-75-75-c-80-iso10646-1\nSIZE 8 75 75\n"
        "FONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 2\nFONT_ASCENT 8\nFONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\n"
        "STARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\n"
        "18\n24\n42\n42\n7E\n42\n42\n00\nENDCHAR\nENDFONT\n";
    const std::string dir = kivo_test::make_temp_dir("bad");
    ASSERT_TRUE(kivo_test::write_file(dir + "/tiny.bdf", bdf));
    ASSERT_TRUE(kivo_test::write_file(dir + "/bad.ttf", "not a font at all"));
    FOLDER folder = folder_of(dir);
    EXPECT_EQ(IMAGE::load_font("tiny.bdf", "Tiny", -1, &folder), -1);
    EXPECT_EQ(IMAGE().get_string_width(23, 8, 8, "A", -1, 0), 1);
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 23); // the slot stayed free

    // A file that is there but is no font at all is skipped as a missing
    // one is, the font error reported on the debug channel.
    set_error_code(ERRCODE_NONE, nullptr);
    INT_S8 got;
    {
        kivo_test::CONSOLE_CAPTURE capture(platform_debug_stream);
        got = IMAGE::load_font("bad.ttf", nullptr, -1, &folder);
    }
    const std::string& console = kivo_test::CONSOLE_CAPTURE::text();
    EXPECT_EQ(got, -1);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    EXPECT_NE(console.find("Unable to load font from disk: " + dir + "/bad.ttf"), std::string::npos) << console;

    // Its slot is left as an empty one: text asked of it falls back as text
    // asked of a slot never loaded.
    EXPECT_FALSE(IMAGE::is_font_valid(24));
    EXPECT_EQ(IMAGE::get_font_name(24), nullptr);
    const INT_S8 never = 99;
    EXPECT_EQ(IMAGE().get_string_width(24, 8, 8, "AB", -1, 0), IMAGE().get_string_width(never, 8, 8, "AB", -1, 0));
    CANVAS damaged(60, 30, {W}), missing(60, 30, {W});
    damaged.draw_string(0, 0, 59, 29, K, COLOUR_RED, NO, 24, 8, 8, "AB", 0);
    missing.draw_string(0, 0, 59, 29, K, COLOUR_RED, NO, never, 8, 8, "AB", 0);
    EXPECT_EQ(snapshot(damaged), snapshot(missing));
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 24); // free for the next font

    // One damaged known file among the fonts at start-up: the others load.
    IMAGE::shutdown_font_system();
    const std::string fonts = kivo_test::make_temp_dir("damaged");
    ASSERT_TRUE(kivo_test::write_file(fonts + "/BabelSans.ttf", std::string(4096, '\x01')));
    ASSERT_EQ(symlink((share_fonts + "/zxspectr.ttf").c_str(), (fonts + "/zxspectr.ttf").c_str()), 0);
    folder_of(fonts, true);
    IMAGE::startup_font_system();
    EXPECT_TRUE(IMAGE::is_font_system_setup());
    EXPECT_FALSE(IMAGE::is_font_valid(SANS));
    EXPECT_TRUE(IMAGE::is_font_valid(MONO));
}

TEST_F(FontTest, WidthsFollowFreeTypeAdvances)
{
    CANVAS img(10, 10, {W});
    // The text, its length and escape state, and the codes FreeType is asked for.
    const struct
    {
        const char* text;
        long len;
        INT_U8 mode;
        std::u32string codes;
    } cases[] = {
        {"Hello, World", -1, 0, U"Hello, World"},
        {"WiW", 2, 0, U"Wi"},                 // len counts characters...
        {"\x01\x01W\x01\x01iW", 2, 0, U"Wi"}, // ...and escape bytes count for nothing
        {"abc", 0, 0, U""},
        {"A\x01"
         "0041,0042\x01",
         -1, 0, U"AAB"}, // the code-point escape
        {"A\x01,0041,0042,\x01", -1, 0, U"AAB"},
        {"0041\x01"
         "AB",
         -1, 1, U"AAB"}, // starting inside it
        {"\x01"
         "00e9\x01",
         -1, 0, U"\u00e9"},
        {"\x01"
         "041z\x01"
         "B",
         -1, 0, U"B"}, // three digits and the stopper draw nothing
        {"\x01"
         "04",
         -1, 0, U""},
        {"\x01"
         "04\x01"
         "ab",
         -1, 0, U"ab"}, // a short run cut by 0x01 still leaves the escape
        {"\x01"
         "2014,2014\x01",
         -1, 0, U"\u2014\u2014"}, // above 255
    };
    // The smallest size asked for first from a fresh face is set like any
    // other, not left at the face's unset size.
    EXPECT_EQ(img.get_string_width(SANS, 1, 1, "Hello", -1, 0), FREETYPE_FACE(SANS, 1).width(U"Hello"));
    FREETYPE_FACE sans22(SANS, 22);
    for (auto& c : cases) {
        EXPECT_EQ(img.get_string_width(SANS, 22, 22, c.text, c.len, c.mode), sans22.width(c.codes)) << c.text;
    }

    // A glyph asked at a second size is rendered anew at that size; -1
    // takes the image's default slot and size.
    EXPECT_EQ(img.get_string_width(SANS, 40, 40, "Hello", -1, 0), FREETYPE_FACE(SANS, 40).width(U"Hello"));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "Hello", -1, 0), sans22.width(U"Hello"));
    img.font_slot = MONO;
    img.font_width = img.font_height = 30;
    EXPECT_EQ(img.get_string_width(-1, -1, -1, "Hello", -1, 0), FREETYPE_FACE(MONO, 30).width(U"Hello"));

    // Unusable slot or size: the byte length.
    EXPECT_EQ(img.get_string_width(99, 22, 22, "abcd", -1, 0), 4);
    EXPECT_EQ(img.get_string_width(SANS, 22, IMAGE_FONT_MAX_PIXELS + 1, "abcd", -1, 0), 4);
    // A width past 32 bits is held at the largest.
    const std::string wide(2200000, 'W');
    EXPECT_EQ(img.get_string_width(SANS, 1024, 1024, wide.c_str(), -1, 0), INT32_MAX);
}

TEST_F(FontTest, DrawsWhatItMeasures)
{
    // A text and its continuation drawn at the measured width give the
    // pixels of the whole text (the length walk is the one measured above).
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.render_string(3, 4, K, NO, NO, 0.0, SANS, 22, 22, "Wavy text", -1, 0); },
                           [&](IMAGE& i) {
                               plain(i, 3, 4, "Wavy");
                               plain(i, 3 + i.get_string_width(SANS, 22, 22, "Wavy", -1, 0), 4, " text");
                           }));

    // The glyph lands where FreeType's metrics put it: the line box's
    // bottom lifted by the face's descender, offset by the bitmap origin.
    FREETYPE_FACE ft(SANS, 22);
    const FT_GlyphSlot g = ft.load('H');
    const FT_Bitmap& bm = g->bitmap;
    const int gx = 5 + g->bitmap_left, gy = 5 + 22 + 22 * ft.face->descender / ft.face->height - g->bitmap_top - 1;
    CANVAS h(60, 60, {W});
    h.render_string(5, 5, K, NO, NO, 0.0, SANS, 22, 22, "H", -1, 0);
    int inked = 0;
    for (int r = -gy; r < 60 - gy; ++r) {
        for (int c = -gx; c < 60 - gx; ++c) {
            const bool covered =
                r >= 0 && c >= 0 && r < int(bm.rows) && c < int(bm.width) && bm.buffer[r * bm.pitch + c] != 0;
            EXPECT_EQ(h.pixels[(gy + r) * h.stride + gx + c].value != W.value, covered) << c << "," << r;
            inked += covered;
        }
    }
    EXPECT_GT(inked, 20);
}

TEST_F(FontTest, CoverageBlendSolidThresholdAndCells)
{
    const COLOUR ground = 0x80102030u;
    const INT_U8 saved = COLOUR::alpha_solid_threshold;
    // Opaque text stores full coverage whole (alpha included) and mixes the
    // rest keeping the ground's alpha; translucent text only mixes, until
    // the threshold drops below its alpha.
    const struct
    {
        COLOUR text;
        INT_U8 threshold;
        bool stores;
    } cases[] = {{0xFF00FF00u, saved, true}, {0x8000FF00u, saved, false}, {0x8000FF00u, 0x80, true}};
    for (auto& c : cases) {
        CANVAS img(60, 40, {ground});
        COLOUR::alpha_solid_threshold = c.threshold;
        img.render_string(2, 2, c.text, NO, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
        COLOUR::alpha_solid_threshold = saved;
        int stored = 0, mixed = 0;
        for (INT_U32 p : snapshot(img)) {
            stored += p == c.text;
            mixed += p != c.text && p != ground;
            EXPECT_TRUE(p == c.text || p >> 24 == 0x80);
        }
        EXPECT_EQ(stored > 0, c.stores) << std::hex << c.text.value;
        EXPECT_GT(mixed, 0);
    }

    // Background cells reach x + advance; the underline is one pixel per
    // column of advance; an invisible text colour draws nothing.
    CANVAS img(60, 40, {W});
    img.render_string(2, 2, NO, NO, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, W), 0);
    const INT_S32 w = img.get_string_width(SANS, 22, 22, "HW", -1, 0);
    img.render_string(2, 2, NO, NO, COLOUR_BLUE, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, W), w);
    img.render_string(2, 2, NO, COLOUR_RED, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, W), (w + 1) * 23);

    // A character of advance 0 (a combining mark) underlines from x back to
    // x - 1: two pixels.
    FREETYPE_FACE face(SANS, 22);
    char32_t zero = 0;
    for (char32_t c : {U'\u0301', U'\u0300', U'\u0308'}) {
        if (!zero && (face.load(c)->advance.x >> 6) == 0) {
            zero = c;
        }
    }
    ASSERT_NE(zero, 0u);
    char mark[16];
    std::snprintf(mark, sizeof mark, "\x01%04X\x01", unsigned(zero));
    CANVAS under(60, 40, {W});
    under.render_string(10, 2, NO, NO, COLOUR_BLUE, 0.0, SANS, 22, 22, mark, -1, 0);
    const int row = 2 + 22 + int(22L * face.face->descender / face.face->height);
    EXPECT_EQ(changed(under, W), 2);
    EXPECT_TRUE(px(under, 9, row) == COLOUR_BLUE && px(under, 10, row) == COLOUR_BLUE);
}

TEST_F(FontTest, DrawStringLayout)
{
    const short tl = 0x08 | 0x20; // top, left
    const int L = size;           // line height
    const int kept = 5 * a, centred = ((8 * a - 1) - kept + 1) / 2 - (3 * a) / 2;
    const struct
    {
        int x1, y1, x2, y2;
        short flags;
        const char* text;
        std::vector<PLACED> runs;
    } cases[] = {
        // A space that overflows a line is dropped (the word before it is
        // not split); a dash stays on its line.
        {0, 0, 4 * a, 3 * L - 1, tl, "aaaa bb", {{"aaaa", 0, 0}, {"bb", 0, L}}},
        {0, 0, 6 * a - 1, 3 * L - 1, tl, "ab-abbbb", {{"ab-", 0, 0}, {"abbbb", 0, L}}},
        // A line end starts the next line; leading blanks are skipped.
        {0, 0, 20 * a - 1, 4 * L - 1, tl, "ab\n  \tba\n\nb", {{"ab", 0, 0}, {"ba", 0, L}, {"b", 0, 3 * L}}},
        // A word wider than the box is split with "-" (a leading dash is no
        // break point); right-aligned, the dash counts into the width.
        {0,
         0,
         6 * a - 1,
         3 * L - 1,
         tl,
         "aaaabbbbaa",
         {{"aaaa", 0, 0}, {"-", 4 * a, 0}, {"bbbb", 0, L}, {"-", 4 * a, L}, {"aa", 0, 2 * L}}},
        {0,
         0,
         4 * a - 1,
         3 * L - 1,
         tl,
         "-aaaaa",
         {{"-a", 0, 0}, {"-", 2 * a, 0}, {"aa", 0, L}, {"-", 2 * a, L}, {"aa", 0, 2 * L}}},
        {0,
         0,
         6 * a - 1,
         3 * L - 1,
         0x08 | 0x40,
         "aaaabbbbaa",
         {{"aaaa", a - 1, 0}, {"-", 5 * a - 1, 0}, {"bbbb", a - 1, L}, {"-", 5 * a - 1, L}, {"aa", 4 * a - 1, 2 * L}}},
        // The last allowed line ends in "..." right after what it keeps;
        // right-aligned it stays inside x2, centred it shifts by half the dots.
        {0, 0, 8 * a - 1, L - 1, tl, "abababbbbbbb", {{"ababa", 0, 0}, {"...", kept, 0}}},
        {10, 0, 10 + 8 * a - 1, L - 1, 0x08 | 0x40, "abababbbbbbb", {{"ababa", 9, 0}, {"...", 9 + kept, 0}}},
        {0, 0, 8 * a - 1, L - 1, 0x08, "abababbbbbbb", {{"ababa", centred, 0}, {"...", centred + kept, 0}}},
        {0, 0, 5 * a - 1, 2 * L - 1, tl, "aaa bbbb abab", {{"aaa", 0, 0}, {"bb", 0, L}, {"...", 2 * a, L}}},
        // When the rest fits without the dots, the line takes all of it, up
        // to a line end (never drawn as a glyph).
        {0, 0, 8 * a - 1, L - 1, tl, "abababbb", {{"abababbb", 0, 0}}},
        {0, 0, 8 * a - 1, L - 1, tl, "ababab\n", {{"ababab", 0, 0}}},
        // A box lower than one line still shows one line.
        {0, 0, 200, L / 2, tl, "ab\nba", {{"ab", 0, 0}}},
        // Escaped letters break into dashed lines that start inside the escape.
        {0,
         0,
         4 * a - 1,
         3 * L - 1,
         tl,
         "\x01"
         "0041,0042,0041,0046,0046,0041\x01",
         {{"AB", 0, 0}, {"-", 2 * a, 0}, {"AF", 0, L}, {"-", 2 * a, L}, {"FA", 0, 2 * L}}},
    };
    for (auto& c : cases) {
        expect_layout(c.x1, c.y1, c.x2, c.y2, c.flags, c.text, c.runs);
    }

    // The nine placements of one short line.
    const int x1 = 10, y1 = 5, x2 = 109, y2 = 5 + 4 * L + 3;
    const int xs[3] = {x1, x1 + ((x2 - x1) - 2 * a + 1) / 2, x2 - 2 * a};
    const int ys[3] = {y1, y1 + ((y2 - y1) - L + 1) / 2, y2 - L};
    const short hflags[3] = {0x20, 0, 0x40}, vflags[3] = {0x08, 0, 0x10};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            expect_layout(x1, y1, x2, y2, short(hflags[i] | vflags[j]), "ab", {{"ab", xs[i], ys[j]}});
        }
    }
}

TEST_F(FontTest, DrawStringLineLimitsAndRefusals)
{
    // At most 256 lines, however tall the box.
    std::string many;
    for (int i = 0; i < 300; ++i) {
        many += "a\n";
    }
    CANVAS img(40, short(300 * size), {W});
    img.draw_string(0, 0, 39, short(300 * size - 1), K, NO, NO, MONO, size, size, many.c_str(), 0x08 | 0x20);
    EXPECT_GT(changed(img, W, 255 * size, 256 * size), 0);
    EXPECT_EQ(changed(img, W, 256 * size), 0);

    // Null and empty texts, bad slots and sizes, an empty clip: nothing.
    img.reset(60, 40);
    img.clear(W, 1);
    img.draw_string(0, 0, 59, 39, K, COLOUR_RED, NO, MONO, size, size, nullptr, 0);
    img.draw_string(0, 0, 59, 39, K, COLOUR_RED, NO, MONO, size, size, "", 0);
    img.draw_string(0, 0, 59, 39, K, COLOUR_RED, NO, 99, size, size, "ab", 0);
    img.draw_string(0, 0, 59, 39, K, COLOUR_RED, NO, MONO, 0, size, "ab", 0);
    img.render_string(0, 0, K, COLOUR_RED, NO, 0.0, MONO, size, 0, "ab", -1, 0);
    img.process_and_render_string(0, 0, K, COLOUR_RED, NO, MONO, 32767, 32767, "ab", 1, -1, 0);
    img.add_rect_to_active_area(50, 50, 55, 55);
    img.add_rect_to_active_area(0, 0, 5, 5);
    img.render_string(0, 0, K, COLOUR_RED, NO, 0.0, MONO, size, size, "ab", -1, 0);
    EXPECT_EQ(changed(img, W), 0);

    // Positions pushed past the 16-bit range stay at its edge instead of
    // wrapping to the far side: a shadow right of 32767, a line below a box
    // at -32768.
    CANVAS far(60, 40, {W});
    far.x = -32768, far.y = 32720;
    far.set_active_area(-32768, 32720, -32709, 32759);
    far.process_and_render_string(32767, 32720, K, NO, NO, MONO, size, size, "ab", 1, -1, 0);
    far.draw_string(-32768, -32768, -32709, -32768, K, NO, NO, MONO, size, size, "ab", 0x10 | 0x20);
    EXPECT_EQ(changed(far, W), 0);
}

TEST_F(FontTest, DrawTextFormatsWithinItsBuffer)
{
    const COLOUR G = COLOUR_GREY;
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.draw_text(2, 2, K, G, COLOUR_BLUE, SANS, 20, 20, "%d-%s", 42, "ok"); },
                           [&](IMAGE& i) { plain(i, 2, 2, "42-ok", SANS, 20, 0, G, COLOUR_BLUE); }));
    // The image's default slot and size. A text longer than the buffer is
    // cut at 5119 characters: behind 5110 escape bytes (which draw
    // nothing) nine of the thirteen letters remain.
    const std::string longer = std::string(5110, '\x01') + "WWWWWWWWWWWWW";
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.draw_text(2, 2, K, NO, "%s", longer.c_str()); },
                           [&](IMAGE& i) { plain(i, 2, 2, "WWWWWWWWW"); }));
}

} // namespace
