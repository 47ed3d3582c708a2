// Fonts and text drawing. Expected widths and glyph positions come from
// FreeType at run time, never from pixel literals, which change with the
// library's version.
#include "colour.h"
#include "folder.h"
#include "font.h"
#include "image.h"
#include "kivo_host.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cstdlib>
#include <unistd.h>
#include <string>
#include <vector>

namespace {

const std::string share_fonts = std::string(KIVO_TEST_SHARE_DIR) + "/fonts";
constexpr INT_S8 SANS = 10;  // the default slot
constexpr INT_S8 MONO = 18;  // equal advances: layout cases become exact

void use_font_folder(const std::string& dir)
{
    FOLDER f;
    ASSERT_TRUE(f.set_from_path_string(dir.c_str())) << dir;
    FOLDER::add_custom_path("$FONTDATA", f);
}

// Sum of FreeType's own advances for codes in a known slot's file, rendered
// as the text calls render them (size less one, render flag).
int freetype_width(INT_S8 slot, int size, const std::vector<unsigned long>& codes)
{
    FT_Library lib;
    FT_Face face;
    EXPECT_EQ(FT_Init_FreeType(&lib), 0);
    const std::string path = share_fonts + "/" + IMAGE::get_font_info_filename(slot);
    EXPECT_EQ(FT_New_Face(lib, path.c_str(), 0, &face), 0) << path;
    FT_Set_Pixel_Sizes(face, FT_UInt(size - 1), FT_UInt(size - 1));
    int total = 0;
    for (unsigned long c : codes)
    {
        EXPECT_EQ(FT_Load_Char(face, c, FT_LOAD_RENDER), 0);
        total += int(face->glyph->advance.x >> 6);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
    return total;
}

std::vector<unsigned long> codes_of(const std::string& s) { return std::vector<unsigned long>(s.begin(), s.end()); }

void paint(IMAGE& img, short w, short h, COLOUR c)
{
    img.reset(w, h);
    for (int i = 0; i < int(img.height) * img.stride; ++i)
        img.pixels[i] = c;
    img.dirty_x1 = img.dirty_x2 = img.dirty_y1 = img.dirty_y2 = -1;
}

bool same_pixels(const IMAGE& a, const IMAGE& b)
{
    if (a.width != b.width || a.height != b.height)
        return false;
    for (int yy = 0; yy < a.height; ++yy)
        for (int xx = 0; xx < a.width; ++xx)
            if (a.pixels[yy * a.stride + xx].value != b.pixels[yy * b.stride + xx].value)
                return false;
    return true;
}

int changed_pixels(const IMAGE& img, COLOUR background)
{
    int n = 0;
    for (int yy = 0; yy < img.height; ++yy)
        for (int xx = 0; xx < img.width; ++xx)
            n += img.pixels[yy * img.stride + xx].value != background.value;
    return n;
}

// Ink anywhere in rows [y1, y2).
bool ink_in_rows(const IMAGE& img, int y1, int y2, COLOUR background)
{
    for (int yy = y1; yy < y2 && yy < img.height; ++yy)
        for (int xx = 0; xx < img.width; ++xx)
            if (img.pixels[yy * img.stride + xx].value != background.value)
                return true;
    return false;
}

class FontTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        use_font_folder(share_fonts);
        IMAGE::startup_font_system();
        ASSERT_TRUE(IMAGE::is_font_valid(SANS));
        ASSERT_TRUE(IMAGE::is_font_valid(MONO));
        a = IMAGE().get_string_width(MONO, size, size, "x", -1, 0);
        ASSERT_GT(a, 0);
        // The layout cases below rely on every character used there
        // having the same advance in the mono face.
        for (const char* s : {"a", "b", "-", ".", " ", "A", "F", "i", "l"})
            ASSERT_EQ(IMAGE().get_string_width(MONO, size, size, s, -1, 0), a) << s;
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
        INT_U8 code_mode;
    };

    // draw_string into one image and the expected runs, placed by hand,
    // into another; the two must match pixel for pixel.
    void expect_layout(short x1, short y1, short x2, short y2, short flags, const char* text,
                       const std::vector<PLACED>& expected, int image_h = 200)
    {
        IMAGE got, want;
        paint(got, 400, short(image_h), COLOUR_WHITE);
        paint(want, 400, short(image_h), COLOUR_WHITE);
        got.draw_string(x1, y1, x2, y2, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, MONO, size, size, text,
                        flags);
        for (const PLACED& p : expected)
            want.process_and_render_string(short(p.x), short(p.y), COLOUR_BLACK, COLOUR_INVISIBLE,
                                           COLOUR_INVISIBLE, MONO, size, size, p.text, flags, -1, p.code_mode);
        EXPECT_TRUE(same_pixels(got, want)) << "layout of \"" << text << "\" flags " << flags;
        EXPECT_GT(changed_pixels(got, COLOUR_WHITE), 0);
    }

    const short size = 16;
    int a = 0;  // advance of every mono character used
};

TEST(FontSystem, KnownSlotsLoadFromTheBuildTree)
{
    // No override: "$FONTDATA" must resolve to the build tree's own folder.
    IMAGE::startup_font_system();
    ASSERT_TRUE(IMAGE::is_font_system_setup());
    EXPECT_EQ(kivo_host()->font_system_started(), 1);
    for (int row = 0; row < IMAGE_KNOWN_FONT_COUNT; ++row)
    {
        EXPECT_TRUE(IMAGE::is_font_valid(INT_S8(row))) << IMAGE::get_font_info_filename(INT_S8(row));
        ASSERT_NE(IMAGE::get_font_name(INT_S8(row)), nullptr);
        EXPECT_STREQ(IMAGE::get_font_name(INT_S8(row)), IMAGE::get_font_info_name(INT_S8(row)));
    }
    EXPECT_STREQ(IMAGE::get_font_info_filename(SANS), "BabelSans.ttf");
    EXPECT_STREQ(IMAGE::get_font_info_name(SANS), "Babel Sans");
    EXPECT_EQ(IMAGE::get_font_info_filename(23), nullptr);
    EXPECT_EQ(IMAGE::get_font_info_name(-1), nullptr);  // read as 255
    EXPECT_FALSE(IMAGE::is_font_valid(23));
    EXPECT_FALSE(IMAGE::is_font_valid(-1));

    // A second start-up is a no-op; shut-down empties everything.
    IMAGE::startup_font_system();
    IMAGE::shutdown_font_system();
    EXPECT_FALSE(IMAGE::is_font_system_setup());
    EXPECT_EQ(kivo_host()->font_system_started(), 0);
    EXPECT_FALSE(IMAGE::is_font_valid(SANS));
    EXPECT_EQ(IMAGE::get_font_name(SANS), nullptr);
    IMAGE::shutdown_font_system();
}

TEST(FontSystem, OptionObjectStopsThePreload)
{
    EXPECT_EXIT(
        {
            IMAGE_DONT_PRELOAD_FONTS option;
            IMAGE_PREFER_FREETYPE engine;
            IMAGE::startup_font_system();
            bool any = false;
            for (int row = 0; row < IMAGE_KNOWN_FONT_COUNT; ++row)
                any = any || IMAGE::is_font_valid(INT_S8(row));
            std::exit(IMAGE::is_font_system_setup() && !any ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FontTest, LoadFontSlotRules)
{
    // Known slots take only their own file, and never twice.
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, 5, nullptr), -1);
    EXPECT_EQ(IMAGE::load_font("Achafsex.ttf", nullptr, 5, nullptr), -1);
    EXPECT_EQ(IMAGE::load_font("no-such-font.ttf", nullptr, -1, nullptr), -1);
    EXPECT_EQ(IMAGE::load_font(nullptr, nullptr, -1, nullptr), -1);

    // "Any" appends after the known slots and reuses a freed one.
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", "Extra", -1, nullptr), 23);
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 24);
    EXPECT_STREQ(IMAGE::get_font_name(23), "Extra");
    EXPECT_STREQ(IMAGE::get_font_name(24), "BabelSans.ttf");
    IMAGE::free_font(24);
    EXPECT_FALSE(IMAGE::is_font_valid(24));
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 24);

    // An explicit slot grows the table over a gap; "any" then fills the gap.
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, 30, nullptr), 30);
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, 30, nullptr), -1);
    EXPECT_FALSE(IMAGE::is_font_valid(29));
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 25);

    // A freed known slot takes its own file back; long names are cut.
    IMAGE::free_font(SANS);
    EXPECT_FALSE(IMAGE::is_font_valid(SANS));
    const std::string long_name(300, 'n');
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", long_name.c_str(), SANS, nullptr), SANS);
    EXPECT_EQ(std::string(IMAGE::get_font_name(SANS)), long_name.substr(0, 127));

    // A folder given by the caller is used instead of "$FONTDATA".
    const std::string own = kivo_test::make_temp_dir("ownfonts");
    ASSERT_EQ(symlink((share_fonts + "/BabelSans.ttf").c_str(), (own + "/Mine.ttf").c_str()), 0);
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(own.c_str()));
    EXPECT_EQ(IMAGE::load_font("Mine.ttf", "Mine", -1, nullptr), -1);
    EXPECT_EQ(IMAGE::load_font("Mine.ttf", "Mine", -1, &folder), 26);
}

TEST_F(FontTest, SlotTableStopsAtWhatASignedSlotCanName)
{
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, 127, nullptr), 127);
    int loaded = 0;
    INT_S8 slot;
    while ((slot = IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr)) != -1)
    {
        ASSERT_GE(slot, 23);
        ASSERT_LT(slot, 127);
        ++loaded;
        ASSERT_LE(loaded, 104);
    }
    EXPECT_EQ(loaded, 127 - 23);
    EXPECT_TRUE(IMAGE::is_font_valid(126));
    // The page layer's "none" byte 255 arrives as -1 and is never a slot.
    EXPECT_FALSE(IMAGE::is_font_valid(INT_S8(INT_U8(255))));
}

TEST_F(FontTest, FaceWithoutOutlinesIsRefused)
{
    // A one-glyph bitmap font: FreeType opens it, but it has no outlines.
    const std::string bdf =
        "STARTFONT 2.1\nFONT -test-tiny-medium-r-normal--8-80-75-75-c-80-iso10646-1\nSIZE 8 75 75\n"
        "FONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 2\nFONT_ASCENT 8\nFONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\n"
        "STARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\n"
        "18\n24\n42\n42\n7E\n42\n42\n00\nENDCHAR\nENDFONT\n";
    const std::string dir = kivo_test::make_temp_dir("bdf");
    ASSERT_TRUE(kivo_test::write_file(dir + "/tiny.bdf", bdf));

    FT_Library lib;
    FT_Face face;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, (dir + "/tiny.bdf").c_str(), 0, &face), 0) << "FreeType must read the test font";
    EXPECT_FALSE(FT_IS_SCALABLE(face));
    FT_Done_Face(face);
    FT_Done_FreeType(lib);

    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    EXPECT_EQ(IMAGE::load_font("tiny.bdf", "Tiny", -1, &folder), -1);
    EXPECT_FALSE(IMAGE::is_font_valid(23));
    IMAGE img;
    paint(img, 50, 30, COLOUR_WHITE);
    img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, 23, 8, 8, "A", -1, 0);
    EXPECT_EQ(changed_pixels(img, COLOUR_WHITE), 0);
    // The slot stays free for a good face.
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 23);
}

TEST_F(FontTest, MissingKnownFileLeavesItsSlotEmpty)
{
    IMAGE::shutdown_font_system();
    const std::string dir = kivo_test::make_temp_dir("partial");
    ASSERT_EQ(symlink((share_fonts + "/BabelSans.ttf").c_str(), (dir + "/BabelSans.ttf").c_str()), 0);
    use_font_folder(dir);
    IMAGE::startup_font_system();
    EXPECT_TRUE(IMAGE::is_font_valid(SANS));
    EXPECT_FALSE(IMAGE::is_font_valid(0));
    EXPECT_FALSE(IMAGE::is_font_valid(MONO));

    IMAGE img;
    paint(img, 80, 30, COLOUR_WHITE);
    EXPECT_EQ(img.get_string_width(0, 22, 22, "abc", -1, 0), 3);
    img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, 0, 22, 22, "abc", -1, 0);
    img.draw_string(0, 0, 79, 29, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0, 22, 22, "abc", 0);
    EXPECT_EQ(changed_pixels(img, COLOUR_WHITE), 0);
    img.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "abc", -1, 0);
    EXPECT_GT(changed_pixels(img, COLOUR_WHITE), 0);
}

TEST_F(FontTest, WidthsFollowFreeTypeAdvances)
{
    IMAGE img;
    paint(img, 10, 10, COLOUR_WHITE);
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "Hello, World", -1, 0), freetype_width(SANS, 22, codes_of("Hello, World")));
    // -1 takes the image's default slot and size.
    EXPECT_EQ(img.get_string_width(-1, -1, -1, "Hello", -1, 0), freetype_width(SANS, 22, codes_of("Hello")));
    img.font_slot = MONO;
    img.font_width = img.font_height = 30;
    EXPECT_EQ(img.get_string_width(-1, -1, -1, "Hello", -1, 0), freetype_width(MONO, 30, codes_of("Hello")));

    // Length counts characters; escape bytes count for nothing.
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "WiW", 2, 0), freetype_width(SANS, 22, codes_of("Wi")));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01\x01W\x01\x01iW", 2, 0), freetype_width(SANS, 22, codes_of("Wi")));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "abc", 0, 0), 0);
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "", -1, 0), 0);

    // The code-point escape: A, then 0041 and 0042 (comma after each and
    // after the opening byte), in either case of hex digit.
    const int aab = freetype_width(SANS, 22, {'A', 'A', 'B'});
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "A\x01" "0041,0042\x01", -1, 0), aab);
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "A\x01,0041,0042,\x01", -1, 0), aab);
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "0041\x01" "AB", -1, 1), aab);
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01" "00e9\x01", -1, 0), freetype_width(SANS, 22, {0xE9}));
    // Three hex digits and the byte that stops them draw nothing.
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01" "041z\x01" "B", -1, 0), freetype_width(SANS, 22, {'B'}));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01" "04", -1, 0), 0);
    // A short run cut by the escape byte still leaves the escape.
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01" "04\x01" "ab", -1, 0), freetype_width(SANS, 22, {'a', 'b'}));
    // Codes above 255 are measured (and drawn) without the cache.
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "\x01" "2014,2014\x01", -1, 0), freetype_width(SANS, 22, {0x2014, 0x2014}));

    // Unusable slot or size: the byte length.
    EXPECT_EQ(img.get_string_width(99, 22, 22, "abcd", -1, 0), 4);
    EXPECT_EQ(img.get_string_width(SANS, 0, 22, "abcd", -1, 0), 4);
    EXPECT_EQ(img.get_string_width(SANS, 22, IMAGE_FONT_MAX_PIXELS + 1, "abcd", -1, 0), 4);

    // A glyph asked at a second size is rendered anew at that size.
    EXPECT_EQ(img.get_string_width(SANS, 40, 40, "Hello", -1, 0), freetype_width(SANS, 40, codes_of("Hello")));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "Hello", -1, 0), freetype_width(SANS, 22, codes_of("Hello")));
}

TEST_F(FontTest, DrawsWhatItMeasures)
{
    // Drawing a text and then its continuation at the measured width gives
    // the same pixels as drawing the whole text at once.
    IMAGE whole, parts;
    paint(whole, 300, 40, COLOUR_WHITE);
    paint(parts, 300, 40, COLOUR_WHITE);
    whole.render_string(3, 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "Wavy text", -1, 0);
    const INT_S32 w = parts.get_string_width(SANS, 22, 22, "Wavy", -1, 0);
    parts.render_string(3, 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "Wavy", -1, 0);
    parts.render_string(short(3 + w), 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, " text",
                        -1, 0);
    EXPECT_TRUE(same_pixels(whole, parts));
    EXPECT_EQ(whole.dirty_y1, 4);
    EXPECT_LE(whole.dirty_x1, 3);

    // A length of 2 draws exactly the first two letters.
    IMAGE two, ab;
    paint(two, 100, 40, COLOUR_WHITE);
    paint(ab, 100, 40, COLOUR_WHITE);
    two.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "a\x01\x01" "bc", 2, 0);
    ab.render_string(0, 0, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "ab", -1, 0);
    EXPECT_TRUE(same_pixels(two, ab));

    // The glyph lands where FreeType's metrics put it: the line box's
    // bottom lifted by the face's descender, offset by the bitmap origin.
    FT_Library lib;
    FT_Face face;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, (share_fonts + "/BabelSans.ttf").c_str(), 0, &face), 0);
    FT_Set_Pixel_Sizes(face, 21, 21);
    ASSERT_EQ(FT_Load_Char(face, 'H', FT_LOAD_RENDER), 0);
    const int baseline = 22 * face->descender / face->height;
    const FT_Bitmap& bm = face->glyph->bitmap;
    const int gx = 5 + face->glyph->bitmap_left;
    const int gy = 5 + 22 + baseline - face->glyph->bitmap_top - 1;
    IMAGE h;
    paint(h, 60, 60, COLOUR_WHITE);
    h.render_string(5, 5, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "H", -1, 0);
    int inked = 0;
    for (int yy = 0; yy < 60; ++yy)
        for (int xx = 0; xx < 60; ++xx)
        {
            const int r = yy - gy, c = xx - gx;
            const bool covered = r >= 0 && c >= 0 && r < int(bm.rows) && c < int(bm.width) &&
                                 bm.buffer[r * bm.pitch + c] != 0;
            EXPECT_EQ(h.pixels[yy * h.stride + xx].value != COLOUR_WHITE.value, covered) << xx << "," << yy;
            inked += covered;
        }
    EXPECT_GT(inked, 20);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

TEST_F(FontTest, CoverageBlendAndSolidThreshold)
{
    const COLOUR ground = 0x80102030u;
    IMAGE img;

    // Opaque text: full coverage stores the colour whole, alpha included;
    // partial coverage mixes and keeps the ground's alpha.
    paint(img, 60, 40, ground);
    img.render_string(2, 2, 0xFF00FF00u, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "HW", -1, 0);
    int solid = 0, mixed = 0;
    for (int i = 0; i < img.height * img.stride; ++i)
    {
        const COLOUR p = img.pixels[i];
        if (p.value == ground.value)
            continue;
        if (p.value == 0xFF00FF00u)
            ++solid;
        else
        {
            EXPECT_EQ(p.alpha(), 0x80);
            ++mixed;
        }
    }
    EXPECT_GT(solid, 0);
    EXPECT_GT(mixed, 0);

    // Translucent text never reaches the threshold and only mixes...
    paint(img, 60, 40, ground);
    img.render_string(2, 2, 0x8000FF00u, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_GT(changed_pixels(img, ground), 0);
    for (int i = 0; i < img.height * img.stride; ++i)
        EXPECT_EQ(img.pixels[i].alpha(), 0x80);

    // ...until the threshold is lowered below its alpha.
    const INT_U8 saved = COLOUR::alpha_solid_threshold;
    COLOUR::alpha_solid_threshold = 100;
    paint(img, 60, 40, ground);
    img.render_string(2, 2, 0x8000FF00u, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "HW", -1, 0);
    COLOUR::alpha_solid_threshold = saved;
    bool stored = false;
    for (int i = 0; i < img.height * img.stride; ++i)
        stored = stored || img.pixels[i].value == 0x8000FF00u;
    EXPECT_TRUE(stored);

    // Invisible text colour leaves the pixels; the background and the
    // underline are drawn cell by cell.
    paint(img, 60, 40, COLOUR_WHITE);
    img.render_string(2, 2, COLOUR_INVISIBLE, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed_pixels(img, COLOUR_WHITE), 0);
    img.render_string(2, 2, COLOUR_INVISIBLE, COLOUR_RED, COLOUR_INVISIBLE, 0.0, SANS, 22, 22, "HW", -1, 0);
    const INT_S32 w = img.get_string_width(SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(img.pixels[2 * img.stride + 2].value, COLOUR_RED.value);
    EXPECT_EQ(img.pixels[24 * img.stride + 2 + w].value, COLOUR_RED.value);  // cells reach x + advance
    EXPECT_EQ(img.pixels[25 * img.stride + 2].value, COLOUR_WHITE.value);

    IMAGE ul;
    paint(ul, 60, 40, COLOUR_WHITE);
    ul.render_string(2, 2, COLOUR_INVISIBLE, COLOUR_INVISIBLE, COLOUR_BLUE, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed_pixels(ul, COLOUR_WHITE), w);  // one row, one pixel per column of advance
}

TEST_F(FontTest, EffectsDrawTheirPasses)
{
    const COLOUR ground = 0xFF808080u;
    const char* text = "Ab";
    struct CASE
    {
        short effect;
        COLOUR colour;
    };
    for (const CASE& c : {CASE{0, COLOUR_BLACK}, CASE{1, COLOUR_YELLOW}, CASE{2, COLOUR_BLACK}, CASE{2, COLOUR_WHITE},
                          CASE{4, COLOUR_BLUE}, CASE{1 | 4, COLOUR_YELLOW}, CASE{2 | 4, COLOUR_BLACK}})
    {
        IMAGE got, want;
        paint(got, 80, 40, ground);
        paint(want, 80, 40, ground);
        got.process_and_render_string(10, 8, c.colour, COLOUR_RED, COLOUR_GREEN, SANS, 22, 22, text, c.effect, -1, 0);
        auto pass = [&](int x, int y, COLOUR t, COLOUR b, COLOUR u, double shift) {
            want.render_string(short(x), short(y), t, b, u, shift, SANS, 22, 22, text, -1, 0);
        };
        const COLOUR shadow = (IMAGE::shadow_alpha << 24) | 0x000000u;
        if (c.effect & 1)
        {
            pass(10 + IMAGE::shadow_x_offset, 8 + IMAGE::shadow_y_offset, shadow, COLOUR_RED, COLOUR_GREEN, 0);
            pass(10, 8, c.colour, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0);
        }
        else if (c.effect & 2)
        {
            // Light text is lifted by a dark edge above-left, dark text by
            // a light edge below-right; the background is never drawn.
            if (c.colour.value == COLOUR_WHITE.value)
                pass(10 - IMAGE::inset_x_offset, 8 - IMAGE::inset_y_offset, (IMAGE::inset_alpha << 24) | 0x000000u,
                     COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0);
            else
                pass(10 + IMAGE::inset_x_offset, 8 + IMAGE::inset_y_offset, (IMAGE::inset_alpha << 24) | 0xFFFFFFu,
                     COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0);
            pass(10, 8, c.colour, COLOUR_INVISIBLE, COLOUR_GREEN, 0);
        }
        else if (c.effect & 4)
        {
            pass(10 + IMAGE::chiseled_x_offset, 8 + IMAGE::chiseled_y_offset, c.colour, COLOUR_INVISIBLE,
                 COLOUR_INVISIBLE, IMAGE::chiseled_light_blend_value);
            pass(10, 8, c.colour, COLOUR_INVISIBLE, COLOUR_GREEN, IMAGE::chiseled_dark_blend_value);
        }
        else
            pass(10, 8, c.colour, COLOUR_RED, COLOUR_GREEN, 0);
        EXPECT_TRUE(same_pixels(got, want)) << "effect " << c.effect;
        EXPECT_GT(changed_pixels(got, ground), 0);
    }

    // The chiseled look only shifts lightness: it never uses the text
    // colour, and on a grey ground it leaves the hue alone.
    IMAGE chisel;
    paint(chisel, 80, 40, ground);
    chisel.process_and_render_string(10, 8, COLOUR_RED, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SANS, 22, 22, text, 4, -1, 0);
    bool lighter = false, darker = false;
    for (int i = 0; i < chisel.height * chisel.stride; ++i)
    {
        const COLOUR p = chisel.pixels[i];
        EXPECT_TRUE(p.red() == p.green() && p.green() == p.blue()) << std::hex << p.value;
        lighter = lighter || p.red() > 0x80;
        darker = darker || p.red() < 0x80;
    }
    EXPECT_TRUE(lighter);
    EXPECT_TRUE(darker);

    // draw_char draws one character as a text of its own.
    IMAGE one, same;
    paint(one, 40, 40, ground);
    paint(same, 40, 40, ground);
    one.draw_char(4, 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SANS, 22, 22, 'Q', 1);
    same.process_and_render_string(4, 4, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SANS, 22, 22, "Q", 1, -1, 0);
    EXPECT_TRUE(same_pixels(one, same));
}

TEST_F(FontTest, DrawStringWrapsAtSpacesDashesAndLineEnds)
{
    const short top_left = 0x08 | 0x20;
    // The space that ends a line is dropped; a dash stays on its line.
    expect_layout(0, 0, short(7 * a - 1), short(3 * size - 1), top_left, "aaaa bbbb",
                  {{"aaaa", 0, 0, 0}, {"bbbb", 0, size, 0}});
    expect_layout(0, 0, short(6 * a - 1), short(3 * size - 1), top_left, "ab-abbbb",
                  {{"ab-", 0, 0, 0}, {"abbbb", 0, size, 0}});
    // A line end starts the next line; leading blanks are skipped.
    expect_layout(0, 0, short(20 * a - 1), short(4 * size - 1), top_left, "ab\n  \tba\n\nb",
                  {{"ab", 0, 0, 0}, {"ba", 0, size, 0}, {"b", 0, 3 * size, 0}}, 200);
}

TEST_F(FontTest, DrawStringSplitsLongWordsWithADash)
{
    const short top_left = 0x08 | 0x20;
    expect_layout(0, 0, short(6 * a - 1), short(3 * size - 1), top_left, "aaaabbbbaa",
                  {{"aaaa", 0, 0, 0}, {"-", 4 * a, 0, 0}, {"bbbb", 0, size, 0}, {"-", 4 * a, size, 0},
                   {"aa", 0, 2 * size, 0}});
    // A dash that opens a line is no break point.
    expect_layout(0, 0, short(4 * a - 1), short(3 * size - 1), top_left, "-aaaaa",
                  {{"-a", 0, 0, 0}, {"-", 2 * a, 0, 0}, {"aa", 0, size, 0}, {"-", 2 * a, size, 0},
                   {"aa", 0, 2 * size, 0}});
    // Right-aligned, the dash counts into the line's width.
    expect_layout(0, 0, short(6 * a - 1), short(3 * size - 1), 0x08 | 0x40, "aaaabbbbaa",
                  {{"aaaa", a - 1, 0, 0}, {"-", 5 * a - 1, 0, 0}, {"bbbb", a - 1, size, 0}, {"-", 5 * a - 1, size, 0},
                   {"aa", 4 * a - 1, 2 * size, 0}});
}

TEST_F(FontTest, DrawStringEndsTheLastLineWithAnEllipsis)
{
    // One line allowed: the text that does not fit ends in "..." placed
    // right after what is kept.
    expect_layout(0, 0, short(8 * a - 1), short(size - 1), 0x08 | 0x20, "abababbbbbbb",
                  {{"ababa", 0, 0, 0}, {"...", 5 * a, 0, 0}});
    // Right-aligned, text and dots end inside x2.
    expect_layout(10, 0, short(10 + 8 * a - 1), short(size - 1), 0x08 | 0x40, "abababbbbbbb",
                  {{"ababa", 10 + 8 * a - 1 - 8 * a, 0, 0}, {"...", 10 + 8 * a - 1 - 3 * a, 0, 0}});
    // When the rest still fits without the dots, the line takes all of it.
    expect_layout(0, 0, short(8 * a - 1), short(size - 1), 0x08 | 0x20, "abababbb", {{"abababbb", 0, 0, 0}});
    // On the last of several lines as well.
    expect_layout(0, 0, short(5 * a - 1), short(2 * size - 1), 0x08 | 0x20, "aaa bbbb abab",
                  {{"aaa", 0, 0, 0}, {"bb", 0, size, 0}, {"...", 2 * a, size, 0}});
}

TEST_F(FontTest, DrawStringAlignsInNinePlaces)
{
    const short x1 = 10, y1 = 5, x2 = 109, y2 = short(5 + 4 * size + 3);
    const int w = 2 * a;
    const int xs[3] = {x1, x1 + ((x2 - x1) - w + 1) / 2, x2 - w};
    const int ys[3] = {y1, y1 + ((y2 - y1) - size + 1) / 2, y2 - size};
    const short hflags[3] = {0x20, 0, 0x40};
    const short vflags[3] = {0x08, 0, 0x10};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            expect_layout(x1, y1, x2, y2, short(hflags[i] | vflags[j]), "ab", {{"ab", xs[i], ys[j], 0}});
    // Centred, the dots shift the line left by half their width.
    const int kept = 5 * a;
    expect_layout(0, 0, short(8 * a - 1), short(size - 1), 0x08, "abababbbbbbb",
                  {{"ababa", ((8 * a - 1) - kept + 1) / 2 - (3 * a) / 2, 0, 0},
                   {"...", ((8 * a - 1) - kept + 1) / 2 - (3 * a) / 2 + kept, 0, 0}});
}

TEST_F(FontTest, DrawStringLineLimits)
{
    // A box lower than one line still shows one line.
    expect_layout(0, 0, 200, short(size / 2), 0x08 | 0x20, "ab\nba", {{"ab", 0, 0, 0}});

    // At most 256 lines, however tall the box.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "a\n";
    IMAGE img;
    paint(img, 40, short(300 * size), COLOUR_WHITE);
    img.draw_string(0, 0, 39, short(300 * size - 1), COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, MONO, size, size,
                    many.c_str(), 0x08 | 0x20);
    EXPECT_TRUE(ink_in_rows(img, 255 * size, 256 * size, COLOUR_WHITE));
    EXPECT_FALSE(ink_in_rows(img, 256 * size, 300 * size, COLOUR_WHITE));

    // Null and empty texts, bad slots and sizes draw nothing.
    IMAGE none;
    paint(none, 60, 40, COLOUR_WHITE);
    none.draw_string(0, 0, 59, 39, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, MONO, size, size, nullptr, 0);
    none.draw_string(0, 0, 59, 39, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, MONO, size, size, "", 0);
    none.draw_string(0, 0, 59, 39, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, 99, size, size, "ab", 0);
    none.draw_string(0, 0, 59, 39, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, MONO, 0, size, "ab", 0);
    none.render_string(0, 0, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, 0.0, MONO, size, 0, "ab", -1, 0);
    none.process_and_render_string(0, 0, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, MONO, 32767, 32767, "ab", 1, -1, 0);
    none.set_active_area(0, 0, 0, 0);
    none.add_rect_to_active_area(50, 50, 55, 55);  // empty clip
    none.render_string(0, 0, COLOUR_BLACK, COLOUR_RED, COLOUR_BLUE, 0.0, MONO, size, size, "ab", -1, 0);
    EXPECT_EQ(changed_pixels(none, COLOUR_WHITE), 0);
}

TEST_F(FontTest, DrawStringCarriesTheCodePointStateAcrossBreaks)
{
    // Six escaped letters in a box four wide break into dashed lines; each
    // line after a break starts inside the escape.
    expect_layout(0, 0, short(4 * a - 1), short(3 * size - 1), 0x08 | 0x20, "\x01" "0041,0042,0041,0046,0046,0041\x01",
                  {{"AB", 0, 0, 0}, {"-", 2 * a, 0, 0}, {"AF", 0, size, 0}, {"-", 2 * a, size, 0},
                   {"FA", 0, 2 * size, 0}});
}

TEST_F(FontTest, DrawTextFormatsWithinItsBuffer)
{
    IMAGE got, want;
    paint(got, 200, 40, COLOUR_WHITE);
    paint(want, 200, 40, COLOUR_WHITE);
    got.draw_text(2, 2, COLOUR_BLACK, COLOUR_GREY, COLOUR_BLUE, SANS, 20, 20, "%d-%s", 42, "ok");
    want.process_and_render_string(2, 2, COLOUR_BLACK, COLOUR_GREY, COLOUR_BLUE, SANS, 20, 20, "42-ok", 0, -1, 0);
    EXPECT_TRUE(same_pixels(got, want));

    paint(got, 200, 40, COLOUR_WHITE);
    paint(want, 200, 40, COLOUR_WHITE);
    got.draw_text(2, 2, COLOUR_BLACK, COLOUR_GREY, MONO, 20, 20, "%s", "mono");
    want.process_and_render_string(2, 2, COLOUR_BLACK, COLOUR_GREY, COLOUR_INVISIBLE, MONO, 20, 20, "mono", 0, -1, 0);
    EXPECT_TRUE(same_pixels(got, want));

    // The image's default slot and size; a text longer than the buffer is
    // cut, not written past it.
    const std::string longer(20000, 'W');
    paint(got, 200, 40, COLOUR_WHITE);
    paint(want, 200, 40, COLOUR_WHITE);
    got.draw_text(2, 2, COLOUR_BLACK, COLOUR_INVISIBLE, "%s%s", longer.c_str(), "tail");
    want.process_and_render_string(2, 2, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, SANS, 22, 22,
                                   longer.substr(0, 5119).c_str(), 0, -1, 0);
    EXPECT_TRUE(same_pixels(got, want));
    EXPECT_GT(changed_pixels(got, COLOUR_WHITE), 0);
}

} // namespace
