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

// Pixels that differ from the ground colour in rows [y1, y2).
int changed(const IMAGE& img, COLOUR ground, int y1 = 0, int y2 = 32767)
{
    int n = 0;
    for (int yy = y1; yy < y2 && yy < img.height; ++yy)
        for (int xx = 0; xx < img.width; ++xx)
            n += img.pixels[yy * img.stride + xx].value != ground.value;
    return n;
}

// Draws one way into one image and another way into a second; true when
// both give the same pixels and something was drawn.
template <class GOT, class WANT>
bool draws_same(GOT got, WANT want, COLOUR ground = COLOUR_WHITE, short w = 400, short h = 200)
{
    IMAGE a, b;
    paint(a, w, h, ground);
    paint(b, w, h, ground);
    got(a);
    want(b);
    for (int i = 0; i < int(h) * a.stride; ++i)
        if (a.pixels[i].value != b.pixels[i].value)
            return false;
    return changed(a, ground) > 0;
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
    };

    // draw_string against the expected runs placed by hand.
    void expect_layout(short x1, short y1, short x2, short y2, short flags, const char* text,
                       const std::vector<PLACED>& runs)
    {
        EXPECT_TRUE(draws_same(
            [&](IMAGE& i) {
                i.draw_string(x1, y1, x2, y2, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, MONO, size, size,
                              text, flags);
            },
            [&](IMAGE& i) {
                for (const PLACED& p : runs)
                    i.process_and_render_string(short(p.x), short(p.y), COLOUR_BLACK, COLOUR_INVISIBLE,
                                                COLOUR_INVISIBLE, MONO, size, size, p.text, flags, -1, 0);
            }))
            << "layout of \"" << text << "\" flags " << flags;
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
        ASSERT_LE(++loaded, 104);
    EXPECT_EQ(loaded, 127 - 23);
    EXPECT_TRUE(IMAGE::is_font_valid(126));
    // The page layer's "none" byte 255 arrives as -1 and is never a slot.
    EXPECT_FALSE(IMAGE::is_font_valid(INT_S8(INT_U8(255))));
}

TEST_F(FontTest, FaceWithoutOutlinesIsRefused)
{
    // A one-glyph bitmap font: FreeType opens it, but it has no outlines
    // (were it not read at all, the load would end the program).
    const std::string bdf =
        "STARTFONT 2.1\nFONT -test-tiny-medium-r-normal--8-80-75-75-c-80-iso10646-1\nSIZE 8 75 75\n"
        "FONTBOUNDINGBOX 8 8 0 0\nSTARTPROPERTIES 2\nFONT_ASCENT 8\nFONT_DESCENT 0\nENDPROPERTIES\nCHARS 1\n"
        "STARTCHAR A\nENCODING 65\nSWIDTH 500 0\nDWIDTH 8 0\nBBX 8 8 0 0\nBITMAP\n"
        "18\n24\n42\n42\n7E\n42\n42\n00\nENDCHAR\nENDFONT\n";
    const std::string dir = kivo_test::make_temp_dir("bdf");
    ASSERT_TRUE(kivo_test::write_file(dir + "/tiny.bdf", bdf));

    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    EXPECT_EQ(IMAGE::load_font("tiny.bdf", "Tiny", -1, &folder), -1);
    EXPECT_EQ(IMAGE().get_string_width(23, 8, 8, "A", -1, 0), 1);
    // The slot stays free for a good face.
    EXPECT_EQ(IMAGE::load_font("BabelSans.ttf", nullptr, -1, nullptr), 23);
}

TEST_F(FontTest, UnreadableFontFileIsFatal)
{
    // A missing file is only a refusal; a file that is there but is no
    // font at all ends the program with the font error.
    const std::string dir = kivo_test::make_temp_dir("bad");
    ASSERT_TRUE(kivo_test::write_file(dir + "/bad.ttf", "not a font at all"));
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    EXPECT_EQ(IMAGE::load_font("gone.ttf", nullptr, -1, &folder), -1);
    EXPECT_EXIT(IMAGE::load_font("bad.ttf", nullptr, -1, &folder), ::testing::ExitedWithCode(1),
                "Unable to load font from disk");
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
    img.draw_string(0, 0, 79, 29, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0, 22, 22, "abc", 0);
    EXPECT_EQ(changed(img, COLOUR_WHITE), 0);
}

TEST_F(FontTest, WidthsFollowFreeTypeAdvances)
{
    IMAGE img;
    paint(img, 10, 10, COLOUR_WHITE);
    struct CASE
    {
        const char* text;
        long len;
        INT_U8 mode;
        std::vector<unsigned long> codes;  // what FreeType is asked for
    };
    const std::vector<CASE> cases = {
        {"Hello, World", -1, 0, codes_of("Hello, World")},
        {"WiW", 2, 0, {'W', 'i'}},                        // len counts characters...
        {"\x01\x01W\x01\x01iW", 2, 0, {'W', 'i'}},          // ...and escape bytes count for nothing
        {"abc", 0, 0, {}},
        {"A\x01" "0041,0042\x01", -1, 0, {'A', 'A', 'B'}},  // the code-point escape
        {"A\x01,0041,0042,\x01", -1, 0, {'A', 'A', 'B'}},
        {"0041\x01" "AB", -1, 1, {'A', 'A', 'B'}},         // starting inside it
        {"\x01" "00e9\x01", -1, 0, {0xE9}},
        {"\x01" "041z\x01" "B", -1, 0, {'B'}},               // three digits and the stopper draw nothing
        {"\x01" "04", -1, 0, {}},
        {"\x01" "04\x01" "ab", -1, 0, {'a', 'b'}},           // a short run cut by 0x01 still leaves the escape
        {"\x01" "2014,2014\x01", -1, 0, {0x2014, 0x2014}},   // above 255: measured without the cache
    };
    for (const CASE& c : cases)
        EXPECT_EQ(img.get_string_width(SANS, 22, 22, c.text, c.len, c.mode), freetype_width(SANS, 22, c.codes))
            << c.text;

    // -1 takes the image's default slot and size.
    EXPECT_EQ(img.get_string_width(-1, -1, -1, "Hello", -1, 0), freetype_width(SANS, 22, codes_of("Hello")));
    img.font_slot = MONO;
    img.font_width = img.font_height = 30;
    EXPECT_EQ(img.get_string_width(-1, -1, -1, "Hello", -1, 0), freetype_width(MONO, 30, codes_of("Hello")));
    // A glyph asked at a second size is rendered anew at that size.
    EXPECT_EQ(img.get_string_width(SANS, 40, 40, "Hello", -1, 0), freetype_width(SANS, 40, codes_of("Hello")));
    EXPECT_EQ(img.get_string_width(SANS, 22, 22, "Hello", -1, 0), freetype_width(SANS, 22, codes_of("Hello")));

    // Unusable slot or size: the byte length.
    EXPECT_EQ(img.get_string_width(99, 22, 22, "abcd", -1, 0), 4);
    EXPECT_EQ(img.get_string_width(SANS, 0, 22, "abcd", -1, 0), 4);
    EXPECT_EQ(img.get_string_width(SANS, 22, IMAGE_FONT_MAX_PIXELS + 1, "abcd", -1, 0), 4);
}

TEST_F(FontTest, DrawsWhatItMeasures)
{
    const COLOUR K = COLOUR_BLACK, NO = COLOUR_INVISIBLE;
    // A text and its continuation drawn at the measured width give the
    // pixels of the whole text; a length of 2 draws two letters.
    EXPECT_TRUE(draws_same(
        [&](IMAGE& i) { i.render_string(3, 4, K, NO, NO, 0.0, SANS, 22, 22, "Wavy text", -1, 0); },
        [&](IMAGE& i) {
            i.render_string(3, 4, K, NO, NO, 0.0, SANS, 22, 22, "Wavy", -1, 0);
            const INT_S32 w = i.get_string_width(SANS, 22, 22, "Wavy", -1, 0);
            i.render_string(short(3 + w), 4, K, NO, NO, 0.0, SANS, 22, 22, " text", -1, 0);
        }));
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.render_string(0, 0, K, NO, NO, 0.0, SANS, 22, 22, "a\x01\x01" "bc", 2, 0); },
                           [&](IMAGE& i) { i.render_string(0, 0, K, NO, NO, 0.0, SANS, 22, 22, "ab", -1, 0); }));

    // The glyph lands where FreeType's metrics put it: the line box's
    // bottom lifted by the face's descender, offset by the bitmap origin.
    FT_Library lib;
    FT_Face face;
    ASSERT_EQ(FT_Init_FreeType(&lib), 0);
    ASSERT_EQ(FT_New_Face(lib, (share_fonts + "/BabelSans.ttf").c_str(), 0, &face), 0);
    FT_Set_Pixel_Sizes(face, 21, 21);
    ASSERT_EQ(FT_Load_Char(face, 'H', FT_LOAD_RENDER), 0);
    const FT_Bitmap& bm = face->glyph->bitmap;
    const int gx = 5 + face->glyph->bitmap_left;
    const int gy = 5 + 22 + 22 * face->descender / face->height - face->glyph->bitmap_top - 1;
    IMAGE h;
    paint(h, 60, 60, COLOUR_WHITE);
    h.render_string(5, 5, K, NO, NO, 0.0, SANS, 22, 22, "H", -1, 0);
    EXPECT_EQ(h.dirty_x1, 5);
    EXPECT_EQ(h.dirty_y1, 5);
    int inked = 0;
    for (int yy = 0; yy < 60; ++yy)
        for (int xx = 0; xx < 60; ++xx)
        {
            const int r = yy - gy, c = xx - gx;
            const bool covered =
                r >= 0 && c >= 0 && r < int(bm.rows) && c < int(bm.width) && bm.buffer[r * bm.pitch + c] != 0;
            EXPECT_EQ(h.pixels[yy * h.stride + xx].value != COLOUR_WHITE.value, covered) << xx << "," << yy;
            inked += covered;
        }
    EXPECT_GT(inked, 20);
    FT_Done_Face(face);
    FT_Done_FreeType(lib);
}

TEST_F(FontTest, CoverageBlendAndSolidThreshold)
{
    const COLOUR ground = 0x80102030u, NO = COLOUR_INVISIBLE;
    const INT_U8 saved = COLOUR::alpha_solid_threshold;
    // Opaque text stores full coverage whole (alpha included) and mixes the
    // rest keeping the ground's alpha; translucent text only mixes, until
    // the threshold drops below its alpha.
    struct CASE
    {
        COLOUR text;
        INT_U8 threshold;
        bool stores;
    };
    for (const CASE& c : {CASE{0xFF00FF00u, saved, true}, CASE{0x8000FF00u, saved, false}, CASE{0x8000FF00u, 0x80, true}})
    {
        IMAGE img;
        paint(img, 60, 40, ground);
        COLOUR::alpha_solid_threshold = c.threshold;
        img.render_string(2, 2, c.text, NO, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
        COLOUR::alpha_solid_threshold = saved;
        int stored = 0, mixed = 0;
        for (int i = 0; i < img.height * img.stride; ++i)
        {
            const COLOUR p = img.pixels[i];
            stored += p.value == c.text.value;
            mixed += p.value != c.text.value && p.value != ground.value;
            if (p.value != c.text.value)
            {
                EXPECT_EQ(p.alpha(), 0x80);
            }
        }
        EXPECT_EQ(stored > 0, c.stores) << std::hex << c.text.value;
        EXPECT_GT(mixed, 0);
    }

    // Background cells reach x + advance; the underline is one pixel per
    // column of advance; an invisible text colour draws nothing.
    IMAGE img;
    paint(img, 60, 40, COLOUR_WHITE);
    img.render_string(2, 2, NO, NO, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, COLOUR_WHITE), 0);
    const INT_S32 w = img.get_string_width(SANS, 22, 22, "HW", -1, 0);
    img.render_string(2, 2, NO, NO, COLOUR_BLUE, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, COLOUR_WHITE), w);
    img.render_string(2, 2, NO, COLOUR_RED, NO, 0.0, SANS, 22, 22, "HW", -1, 0);
    EXPECT_EQ(changed(img, COLOUR_WHITE), (w + 1) * 23);
}

TEST_F(FontTest, EffectsDrawTheirPasses)
{
    const COLOUR ground = 0xFF808080u, NO = COLOUR_INVISIBLE, RED = COLOUR_RED, GREEN = COLOUR_GREEN;
    const COLOUR shadow = INT_U32(IMAGE::shadow_alpha) << 24;
    const COLOUR dark_edge = INT_U32(IMAGE::inset_alpha) << 24, light_edge = dark_edge.value | 0xFFFFFFu;
    for (short effect : {0, 1, 2, 4, 1 | 4, 2 | 4})
        for (COLOUR text : {COLOUR_BLACK, COLOUR_WHITE})
        {
            auto got = [&](IMAGE& i) {
                i.process_and_render_string(10, 8, text, RED, GREEN, SANS, 22, 22, "Ab", effect, -1, 0);
            };
            auto want = [&](IMAGE& i) {
                auto pass = [&](int dx, int dy, COLOUR t, COLOUR b, COLOUR u, double shift) {
                    i.render_string(short(10 + dx), short(8 + dy), t, b, u, shift, SANS, 22, 22, "Ab", -1, 0);
                };
                if (effect & 1)
                {
                    pass(IMAGE::shadow_x_offset, IMAGE::shadow_y_offset, shadow, RED, GREEN, 0);
                    pass(0, 0, text, NO, NO, 0);
                }
                else if (effect & 2)
                {
                    // Light text gets a dark edge above-left, dark text a
                    // light edge below-right; never the background.
                    if (text.value == COLOUR_WHITE.value)
                        pass(-IMAGE::inset_x_offset, -IMAGE::inset_y_offset, dark_edge, NO, NO, 0);
                    else
                        pass(IMAGE::inset_x_offset, IMAGE::inset_y_offset, light_edge, NO, NO, 0);
                    pass(0, 0, text, NO, GREEN, 0);
                }
                else if (effect & 4)
                {
                    pass(IMAGE::chiseled_x_offset, IMAGE::chiseled_y_offset, text, NO, NO,
                         IMAGE::chiseled_light_blend_value);
                    pass(0, 0, text, NO, GREEN, IMAGE::chiseled_dark_blend_value);
                }
                else
                    pass(0, 0, text, RED, GREEN, 0);
            };
            EXPECT_TRUE(draws_same(got, want, ground, 80, 40)) << "effect " << effect;
        }

    // draw_char draws one character as a text of its own.
    EXPECT_TRUE(draws_same(
        [&](IMAGE& i) { i.draw_char(4, 4, COLOUR_BLACK, NO, NO, SANS, 22, 22, 'Q', 1); },
        [&](IMAGE& i) { i.process_and_render_string(4, 4, COLOUR_BLACK, NO, NO, SANS, 22, 22, "Q", 1, -1, 0); }));
}

TEST_F(FontTest, DrawStringLayout)
{
    const short tl = 0x08 | 0x20;  // top, left
    struct CASE
    {
        int x1, y1, x2, y2;
        short flags;
        const char* text;
        std::vector<PLACED> runs;
    };
    const int L = size;  // line height
    const int kept = 5 * a;
    const int centred = ((8 * a - 1) - kept + 1) / 2 - (3 * a) / 2;
    const std::vector<CASE> cases = {
        // The space that ends a line is dropped; a dash stays on its line.
        {0, 0, 7 * a - 1, 3 * L - 1, tl, "aaaa bbbb", {{"aaaa", 0, 0}, {"bbbb", 0, L}}},
        {0, 0, 6 * a - 1, 3 * L - 1, tl, "ab-abbbb", {{"ab-", 0, 0}, {"abbbb", 0, L}}},
        // A line end starts the next line; leading blanks are skipped.
        {0, 0, 20 * a - 1, 4 * L - 1, tl, "ab\n  \tba\n\nb", {{"ab", 0, 0}, {"ba", 0, L}, {"b", 0, 3 * L}}},
        // A word wider than the box is split with "-" (a leading dash is no
        // break point); right-aligned, the dash counts into the width.
        {0, 0, 6 * a - 1, 3 * L - 1, tl, "aaaabbbbaa",
         {{"aaaa", 0, 0}, {"-", 4 * a, 0}, {"bbbb", 0, L}, {"-", 4 * a, L}, {"aa", 0, 2 * L}}},
        {0, 0, 4 * a - 1, 3 * L - 1, tl, "-aaaaa",
         {{"-a", 0, 0}, {"-", 2 * a, 0}, {"aa", 0, L}, {"-", 2 * a, L}, {"aa", 0, 2 * L}}},
        {0, 0, 6 * a - 1, 3 * L - 1, 0x08 | 0x40, "aaaabbbbaa",
         {{"aaaa", a - 1, 0}, {"-", 5 * a - 1, 0}, {"bbbb", a - 1, L}, {"-", 5 * a - 1, L}, {"aa", 4 * a - 1, 2 * L}}},
        // The last allowed line ends in "..." right after what it keeps;
        // right-aligned it stays inside x2, centred it shifts by half the dots.
        {0, 0, 8 * a - 1, L - 1, tl, "abababbbbbbb", {{"ababa", 0, 0}, {"...", kept, 0}}},
        {10, 0, 10 + 8 * a - 1, L - 1, 0x08 | 0x40, "abababbbbbbb", {{"ababa", 9, 0}, {"...", 9 + kept, 0}}},
        {0, 0, 8 * a - 1, L - 1, 0x08, "abababbbbbbb", {{"ababa", centred, 0}, {"...", centred + kept, 0}}},
        {0, 0, 5 * a - 1, 2 * L - 1, tl, "aaa bbbb abab", {{"aaa", 0, 0}, {"bb", 0, L}, {"...", 2 * a, L}}},
        // When the rest fits without the dots, the line takes all of it.
        {0, 0, 8 * a - 1, L - 1, tl, "abababbb", {{"abababbb", 0, 0}}},
        // A box lower than one line still shows one line.
        {0, 0, 200, L / 2, tl, "ab\nba", {{"ab", 0, 0}}},
        // Escaped letters break into dashed lines that start inside the escape.
        {0, 0, 4 * a - 1, 3 * L - 1, tl, "\x01" "0041,0042,0041,0046,0046,0041\x01",
         {{"AB", 0, 0}, {"-", 2 * a, 0}, {"AF", 0, L}, {"-", 2 * a, L}, {"FA", 0, 2 * L}}},
    };
    for (const CASE& c : cases)
        expect_layout(short(c.x1), short(c.y1), short(c.x2), short(c.y2), c.flags, c.text, c.runs);

    // The nine placements of one short line.
    const short x1 = 10, y1 = 5, x2 = 109, y2 = short(5 + 4 * L + 3);
    const int xs[3] = {x1, x1 + ((x2 - x1) - 2 * a + 1) / 2, x2 - 2 * a};
    const int ys[3] = {y1, y1 + ((y2 - y1) - L + 1) / 2, y2 - L};
    const short hflags[3] = {0x20, 0, 0x40}, vflags[3] = {0x08, 0, 0x10};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            expect_layout(x1, y1, x2, y2, short(hflags[i] | vflags[j]), "ab", {{"ab", xs[i], ys[j]}});
}

TEST_F(FontTest, DrawStringLineLimitsAndRefusals)
{
    // At most 256 lines, however tall the box.
    std::string many;
    for (int i = 0; i < 300; ++i)
        many += "a\n";
    const COLOUR K = COLOUR_BLACK, NO = COLOUR_INVISIBLE, W = COLOUR_WHITE;
    IMAGE img;
    paint(img, 40, short(300 * size), W);
    img.draw_string(0, 0, 39, short(300 * size - 1), K, NO, NO, MONO, size, size, many.c_str(), 0x08 | 0x20);
    EXPECT_GT(changed(img, W, 255 * size, 256 * size), 0);
    EXPECT_EQ(changed(img, W, 256 * size), 0);

    // Null and empty texts, bad slots and sizes, an empty clip: nothing.
    paint(img, 60, 40, W);
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
}

TEST_F(FontTest, DrawTextFormatsWithinItsBuffer)
{
    const COLOUR K = COLOUR_BLACK, G = COLOUR_GREY, NO = COLOUR_INVISIBLE;
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.draw_text(2, 2, K, G, COLOUR_BLUE, SANS, 20, 20, "%d-%s", 42, "ok"); },
                           [&](IMAGE& i) { i.process_and_render_string(2, 2, K, G, COLOUR_BLUE, SANS, 20, 20, "42-ok", 0, -1, 0); }));
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.draw_text(2, 2, K, G, MONO, 20, 20, "%s", "mono"); },
                           [&](IMAGE& i) { i.process_and_render_string(2, 2, K, G, NO, MONO, 20, 20, "mono", 0, -1, 0); }));
    // The image's default slot and size. A text longer than the buffer is
    // cut at 5119 characters: behind 5110 escape bytes (which draw
    // nothing) nine of the thirteen letters remain.
    const std::string longer = std::string(5110, '\x01') + "WWWWWWWWWWWWW";
    EXPECT_TRUE(draws_same([&](IMAGE& i) { i.draw_text(2, 2, K, NO, "%s", longer.c_str()); },
                           [&](IMAGE& i) { i.process_and_render_string(2, 2, K, NO, NO, SANS, 22, 22, "WWWWWWWWW", 0, -1, 0); }));
}

} // namespace
