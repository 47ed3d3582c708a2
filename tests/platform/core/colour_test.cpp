#include "colour.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <type_traits>

namespace {

COLOUR parsed(const char* text, COLOUR start = 0x12345678u)
{
    COLOUR c = start;
    c.set_from_string(text);
    return c;
}

} // namespace

TEST(Colour, IsAPlainWordAndTheConstantsAreConstant)
{
    static_assert(sizeof(COLOUR) == 4 && std::is_trivially_copyable<COLOUR>::value, "");
    static_assert(COLOUR_KIVO_BLUE == 0xFF0066CCu, "usable in constant expressions");
    const COLOUR opaque[] = {COLOUR_ORANGE, COLOUR_KIVO_BLUE, COLOUR_WHITE, COLOUR_MAGENTA,
                             COLOUR_BLUE, COLOUR_CYAN, COLOUR_GREEN, COLOUR_YELLOW, COLOUR_RED,
                             COLOUR_GREY, COLOUR_PURPLE, COLOUR_DARK_BLUE, COLOUR_DARK_CYAN,
                             COLOUR_DARK_GREEN, COLOUR_DARK_YELLOW, COLOUR_DARK_RED,
                             COLOUR_DARK_GREY, COLOUR_BLACK};
    const COLOUR faded[] = {COLOUR_FADED_ORANGE, COLOUR_FADED_KIVO_BLUE, COLOUR_FADED_WHITE,
                            COLOUR_FADED_MAGENTA, COLOUR_FADED_BLUE, COLOUR_FADED_CYAN,
                            COLOUR_FADED_GREEN, COLOUR_FADED_YELLOW, COLOUR_FADED_RED,
                            COLOUR_FADED_GREY, COLOUR_FADED_PURPLE, COLOUR_FADED_DARK_BLUE,
                            COLOUR_FADED_DARK_CYAN, COLOUR_FADED_DARK_GREEN,
                            COLOUR_FADED_DARK_YELLOW, COLOUR_FADED_DARK_RED,
                            COLOUR_FADED_DARK_GREY, COLOUR_FADED_BLACK};
    for (size_t i = 0; i < sizeof opaque / sizeof opaque[0]; ++i)
        EXPECT_EQ(INT_U32(faded[i]), (INT_U32(opaque[i]) & 0xFFFFFFu) | 0xE0000000u) << i;
    EXPECT_EQ(COLOUR::alpha_solid_threshold, 250);
    EXPECT_EQ(COLOUR::use_fast_greyscale, 0);
    // Memory order is B, G, R, A.
    COLOUR c = 0x11223344u;
    const INT_U8* bytes = reinterpret_cast<const INT_U8*>(&c);
    EXPECT_EQ(bytes[0], 0x44);
    EXPECT_EQ(bytes[3], 0x11);
}

TEST(ColourText, DocumentedFormsAndKeywords)
{
    EXPECT_EQ(parsed("#FF8000"), 0xFFFF8000u);
    EXPECT_EQ(parsed("#80FF8000"), 0x80FF8000u);
    EXPECT_EQ(parsed("&255,0,102,204"), 0xFF0066CCu);
    EXPECT_EQ(parsed("%100,100,0,0"), 0xFFFF0000u);
    EXPECT_EQ(parsed("@1.0,0.0,0.0,1.0"), 0xFF0000FFu);
    EXPECT_EQ(parsed("#FFF"), 0xFF000FFFu);
    EXPECT_EQ(parsed("#   FF8000"), 0xFFFF8000u);
    EXPECT_EQ(parsed("&511,256,-1,0"), 0xFF00FF00u); // low bytes
    EXPECT_EQ(parsed("%150,0,0,0"), INT_U32((150 * 255 / 100) & 0xFF) << 24);

    EXPECT_EQ(parsed("#AHSL 00000080"), parsed("#ahsl00000080"));
    EXPECT_EQ(parsed("#AHSLFF00FF80"), 0xFFFF0000u); // hue 0, full saturation, l = 128/255
    EXPECT_EQ(parsed("%AHSL100,0,100,50"), 0xFFFF0000u);
    EXPECT_EQ(parsed("&ahsl255,0,0,255"), 0xFFFFFFFFu);
    EXPECT_EQ(parsed("@AHSL1,0.5,1,0.5"), 0xFF00FFFFu);
    EXPECT_EQ(parsed("#ACMYKFF00000000"), 0xFFFFFFFFu);
    EXPECT_EQ(parsed("%ACMYK100,0,0,0,100"), 0xFF000000u);
    EXPECT_EQ(parsed("&acmyk255,255,0,0,0"), 0xFF00FFFFu);
    EXPECT_EQ(parsed("@ACMYK1,0,1,0,0"), 0xFFFF00FFu);
}

TEST(ColourText, UnknownOrPartialTextIsSafe)
{
    EXPECT_EQ(parsed(nullptr), 0x12345678u);
    EXPECT_EQ(parsed(""), 0x12345678u);
    EXPECT_EQ(parsed("FF8000"), 0x12345678u);
    EXPECT_EQ(parsed("#"), 0x12345678u);
    EXPECT_EQ(parsed("#  xyz"), 0x12345678u);
    // A trailing blank used to count towards the length and drop the alpha.
    EXPECT_EQ(parsed("#FF8000 "), 0xFFFF8000u);
    // Fields the text does not give are 0, not left-over values.
    EXPECT_EQ(parsed("&255"), 0xFF000000u);
    EXPECT_EQ(parsed("@1,1"), 0xFFFF0000u);
    EXPECT_EQ(parsed("#AHSLFF"), 0xFF000000u);
    EXPECT_EQ(parsed("&ACMYK255"), 0xFFFFFFFFu);
    EXPECT_EQ(parsed("@nan,1e300,-1e300,0.5"), 0x0000007Fu);
}

TEST(ColourText, WrittenFormParsesBackExactly)
{
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        INT_U32 v = i < 3 ? INT_U32(i) : INT_U32(rng());
        char text[16];
        std::snprintf(text, sizeof text, "#%08X", v);
        EXPECT_EQ(parsed(text), v) << text;
    }
}

TEST(ColourModels, AhslConversions)
{
    double a, h, s, l;
    COLOUR(0x80FF0000u).get_ahsl(a, h, s, l);
    EXPECT_DOUBLE_EQ(a, 128 / 255.0);
    EXPECT_DOUBLE_EQ(h, 0.0);
    EXPECT_DOUBLE_EQ(s, 1.0);
    EXPECT_DOUBLE_EQ(l, 0.5);
    // Ties follow "max is red and not also green".
    COLOUR(0xFFFFFF00u).get_ahsl(a, h, s, l);
    EXPECT_DOUBLE_EQ(h, 1.0 / 6.0);
    COLOUR(0xFFFF00FFu).get_ahsl(a, h, s, l);
    EXPECT_DOUBLE_EQ(h, 5.0 / 6.0);
    COLOUR(0xFF808080u).get_ahsl(a, h, s, l);
    EXPECT_EQ(h, 0.0);
    EXPECT_EQ(s, 0.0);
    COLOUR(0xFFFFFFFFu).get_ahsl(a, h, s, l);
    EXPECT_EQ(s, 0.0);

    COLOUR c = 0;
    c.set_ahsl(1.0, 1.0 / 3.0, 1.0, 0.5);
    EXPECT_EQ(c, 0xFF00FF00u);
    c.set_ahsl(1.0, 2.0 / 3.0, 1.0, 0.25);
    EXPECT_EQ(c, 0xFF00007Fu);
    c.set_ahsl(0.5, -3.0, -1.0, 7.0); // clamped: hue 0, no saturation, l = 1
    EXPECT_EQ(c, 0x7FFFFFFFu);
    c.set_ahsl(1.0, 0.5, 0.0, 0.0);
    EXPECT_EQ(c, 0xFF000000u);
}

TEST(ColourModels, AcmykConversionsIncludingBlack)
{
    COLOUR c = 0;
    c.set_acmyk(1, 0, 0, 0, 0);
    EXPECT_EQ(c, 0xFFFFFFFFu);
    c.set_acmyk(1, 0, 0, 0, 1);
    EXPECT_EQ(c, 0xFF000000u);
    c.set_acmyk(0.5, 1, 0, 0, 0.5);
    EXPECT_EQ(c, 0x7F007F7Fu);

    double a, cy, m, y, k;
    COLOUR(0xFF0066CCu).get_acmyk(a, cy, m, y, k);
    EXPECT_DOUBLE_EQ(k, 1.0 - 204 / 255.0);
    EXPECT_DOUBLE_EQ(cy, 1.0);
    EXPECT_NEAR(m, 0.5, 1e-12);
    EXPECT_DOUBLE_EQ(y, 0.0);
    // Black has no defined inks; they are 0 rather than NaN.
    COLOUR(0x40000000u).get_acmyk(a, cy, m, y, k);
    EXPECT_EQ(cy, 0.0);
    EXPECT_EQ(m, 0.0);
    EXPECT_EQ(y, 0.0);
    EXPECT_EQ(k, 1.0);
}

TEST(ColourDerived, RecolourBothBranchesAndBlackTint)
{
    COLOUR c = 0x40808080u; // grey 128 lighter than the tint's 102
    c.recolour(0xFF0066CCu);
    EXPECT_EQ(c, 0x402B80D4u);
    c = 0x80333333u; // grey 51, darker
    c.recolour(0xFF0066CCu);
    EXPECT_EQ(c, 0x80003366u);
    c = 0xFF000000u; // black on a black tint: no division by zero
    c.recolour(0xFF000000u);
    EXPECT_EQ(c, 0xFF000000u);
    c = 0x20FFFFFFu;
    c.recolour(0xFF000000u);
    EXPECT_EQ(c, 0x20FFFFFFu);
}

TEST(ColourDerived, TextColourShadesAndConflicts)
{
    COLOUR c = 0;
    c.set_suitable_text_colour(0xFF808080u);
    EXPECT_EQ(c, COLOUR_BLACK);
    c.set_suitable_text_colour(0xFF7F8080u);
    EXPECT_EQ(c, COLOUR_WHITE);

    double a, h, s, l;
    c = 0x33000000u;
    c.set_contrasting_shade(0xFF999999u, 0.2); // l 0.6 -> 0.8
    EXPECT_EQ(c, 0x33CCCCCCu);
    c.set_contrasting_shade(0xFF999999u, 0.5); // 0.6 > 0.5 -> darker
    c.get_ahsl(a, h, s, l);
    EXPECT_NEAR(l, 0.1, 1.0 / 255);
    c.set_contrasting_shade(0xFF1A1A1Au, -0.2); // l ~0.1 < 0.2 -> 0.3
    c.get_ahsl(a, h, s, l);
    EXPECT_NEAR(l, 0.3, 1.0 / 255);
    for (INT_U32 alpha = 0; alpha < 256; ++alpha) {
        c = alpha << 24;
        c.set_contrasting_shade(0xFF3366CCu, 0.1);
        ASSERT_EQ(c.alpha(), alpha);
    }

    c = 0x80999999u;
    EXPECT_TRUE(c.resolve_conflict(0xFF999999u, 1));
    EXPECT_EQ(c, 0x80999999u);
    EXPECT_TRUE(c.resolve_conflict(0xFF999999u, 0));
    EXPECT_EQ(c, 0x80656565u); // 0.6 - 0.2 is just below 0.4, and truncation keeps it there
    c = 0xFF222222u;
    EXPECT_TRUE(c.resolve_conflict(0xFF333333u, 0)); // other dark: lighter
    c.get_ahsl(a, h, s, l);
    EXPECT_NEAR(l, 0.4, 1.0 / 255);
    c = 0xFFFF0000u;
    EXPECT_FALSE(c.resolve_conflict(0xFF0000FFu, 0));
    EXPECT_EQ(c, 0xFFFF0000u);
}

TEST(ColourDerived, TrialphaLayers)
{
    COLOUR c = 0xFFFF0000u; // weights 255, 0, 0
    c.set_trialpha_colour(0xFF123456u, 0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(c, 0xFF123456u);
    c = 0x00FF8000u; // second colour mixed at 128
    c.set_trialpha_colour(0xFF0000FFu, 0xFFFF0000u, 0xFF00FF00u);
    EXPECT_EQ(c, 0xFF7F007Eu);
    c = 0x00400000u; // sum of weights stays below 255
    c.set_trialpha_colour(0x80000000u, 0, 0);
    EXPECT_EQ(c, 0x20000000u);
    c = 0x00FF00FFu; // third colour at full weight replaces
    c.set_trialpha_colour(0x80000000u, 0, 0xFF00FF00u);
    EXPECT_EQ(c, 0xFF00FF00u);
    c = 0x00FFFF00u; // transparent first colour: start from the second
    c.set_trialpha_colour(0x00FFFFFFu, 0x800000FFu, 0);
    EXPECT_EQ(c, 0x800000FFu);
    c = 0x00000080u;
    c.set_trialpha_colour(0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF112233u);
    EXPECT_EQ(c, 0x80112233u);
    c = 0x00FFFFFFu;
    c.set_trialpha_colour(0, 0, 0);
    EXPECT_EQ(c, 0u);
    c = 0x00FF0100u; // second colour at weight 1 scales to 0: only adds its weight
    c.set_trialpha_colour(0x10FFFFFFu, 0x80000000u, 0);
    EXPECT_EQ(c, 0x11FFFFFFu);
}
