#include "colour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <type_traits>
#include <vector>

namespace {

COLOUR parsed(const char* text, COLOUR start = 0x12345678u)
{
    COLOUR c = start;
    c.set_from_string(text);
    return c;
}

// A plain word: records and pixel buffers copy it as four bytes.
static_assert(sizeof(COLOUR) == 4 && std::is_trivially_copyable<COLOUR>::value, "");

} // namespace

TEST(ColourText, FormsKeywordsAndUnsafeText)
{
    const struct
    {
        const char* text;
        INT_U32 expect;
    } cases[] = {
        {"#FF8000", 0xFFFF8000u},
        {"#80FF8000", 0x80FF8000u},
        {"&255,0,102,204", 0xFF0066CCu},
        {"%100,100,0,0", 0xFFFF0000u},
        {"@1.0,0.0,0.0,1.0", 0xFF0000FFu},
        {"&511,256,-1,0", 0xFF00FF00u},  // low bytes
        {"#ahsl FF00FF80", 0xFFFF0000u}, // hue 0, full saturation, l = 128/255
        {"&ahsl255,0,0,255", 0xFFFFFFFFu},
        {"@AHSL1,0.5,1,0.5", 0xFF00FFFFu},
        {"#ACMYKFF00000000", 0xFFFFFFFFu},
        {"%ACMYK100,0,0,0,100", 0xFF000000u},
        {"@ACMYK1,0,1,0,0", 0xFFFF00FFu},
        // Unknown text leaves the colour alone.
        {nullptr, 0x12345678u},
        {"", 0x12345678u},
        {"FF8000", 0x12345678u},
        {"#", 0x12345678u},
        {"#  xyz", 0x12345678u},
        // A trailing blank used to count towards the length and drop the alpha.
        {"#FF8000 ", 0xFFFF8000u},
        // Fields the text does not give are 0, not left-over values; out of
        // range and NaN values give 0.
        {"&255", 0xFF000000u},
        {"@1,1", 0xFFFF0000u},
        {"#AHSLFF", 0xFF000000u},
        {"&ACMYK255", 0xFFFFFFFFu},
        {"@nan,1e300,-1e300,0.5", 0x0000007Fu},
    };
    for (auto& c : cases) {
        EXPECT_EQ(parsed(c.text), c.expect) << (c.text ? c.text : "(null)");
    }

    // The written form parses back exactly.
    std::mt19937 rng(7);
    for (int i = 0; i < 2000; ++i) {
        INT_U32 v = i < 3 ? INT_U32(i) : INT_U32(rng());
        char text[16];
        std::snprintf(text, sizeof text, "#%08X", v);
        EXPECT_EQ(parsed(text), v) << text;
    }
}

TEST(ColourModels, AhslAndAcmykBothWays)
{
    const struct
    {
        INT_U32 c;
        double a, h, s, l;
    } reads[] = {{0x80FF0000u, 128 / 255.0, 0, 1, 0.5},
                 {0xFFFFFF00u, 1, 1.0 / 6, 1, 0.5}, // ties: "max is red and not also green"
                 {0xFFFF00FFu, 1, 5.0 / 6, 1, 0.5},
                 {0xFF808080u, 1, 0, 0, 0.5},
                 {0xFFFFFFFFu, 1, 0, 0, 1}};
    for (const auto& t : reads) {
        double a, h, s, l;
        COLOUR(t.c).get_ahsl(a, h, s, l);
        EXPECT_TRUE(std::fabs(a - t.a) < 1e-12 && std::fabs(h - t.h) < 1e-12 && std::fabs(s - t.s) < 1e-12 &&
                    std::fabs(l - t.l) <= 1.0 / 255)
            << std::hex << t.c;
    }
    const struct
    {
        double a, h, s, l;
        INT_U32 expect;
    } ahsl[] = {
        {1, 1.0 / 3, 1, 0.5, 0xFF00FF00u},
        {1, 2.0 / 3, 1, 0.25, 0xFF00007Fu},
        {0.5, -3, -1, 7, 0x7FFFFFFFu}, // clamped: hue 0, no saturation, l = 1
        {1, 0.5, 0, 0, 0xFF000000u},
    };
    for (auto& t : ahsl) {
        COLOUR c = 0;
        c.set_ahsl(t.a, t.h, t.s, t.l);
        EXPECT_EQ(c, t.expect) << t.h;
    }

    COLOUR c = 0;
    c.set_acmyk(1, 0, 0, 0, 0);
    EXPECT_EQ(c, 0xFFFFFFFFu);
    c.set_acmyk(0.5, 1, 0, 0, 0.5);
    EXPECT_EQ(c, 0x7F007F7Fu);
    double a, cy, m, y, k;
    COLOUR(0xFF0066CCu).get_acmyk(a, cy, m, y, k);
    EXPECT_TRUE(cy == 1.0 && std::fabs(m - 0.5) < 1e-12 && y == 0.0 && std::fabs(k - (1.0 - 204 / 255.0)) < 1e-15);
    // Black has no defined inks; they are 0 rather than NaN.
    COLOUR(0x40000000u).get_acmyk(a, cy, m, y, k);
    EXPECT_EQ(std::vector<double>({cy, m, y, k}), std::vector<double>({0, 0, 0, 1}));
}

TEST(ColourDerived, RecolourAndTrialphaLayers)
{
    const struct
    {
        INT_U32 start, tint, expect;
    } recolours[] = {
        {0x40808080u, 0xFF0066CCu, 0x402B80D4u}, // grey 128 lighter than the tint's 102
        {0x80333333u, 0xFF0066CCu, 0x80003366u}, // grey 51, darker
        {0xFF000000u, 0xFF000000u, 0xFF000000u}, // black on a black tint: no division by zero
        {0x20FFFFFFu, 0xFF000000u, 0x20FFFFFFu},
    };
    for (auto& r : recolours) {
        COLOUR c = r.start;
        c.recolour(r.tint);
        EXPECT_EQ(c, r.expect) << std::hex << r.start;
    }
    // The weights are this colour's R, G and B.
    const struct
    {
        INT_U32 weights, c1, c2, c3, expect;
    } layers[] = {
        {0xFFFF0000u, 0xFF123456u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF123456u},
        {0x00FF8000u, 0xFF0000FFu, 0xFFFF0000u, 0xFF00FF00u, 0xFF7F007Eu}, // second mixed at 128
        {0x00400000u, 0x80000000u, 0, 0, 0x20000000u},                     // weights below 255
        {0x00FF00FFu, 0x80000000u, 0, 0xFF00FF00u, 0xFF00FF00u},           // third at full weight
        {0x00FFFF00u, 0x00FFFFFFu, 0x800000FFu, 0, 0x800000FFu},           // clear first: from the second
        {0x00000080u, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFF112233u, 0x80112233u},
        {0x00FFFFFFu, 0, 0, 0, 0u},
        {0x00FF0100u, 0x10FFFFFFu, 0x80000000u, 0, 0x11FFFFFFu}, // weight 1 scales to 0: adds only weight
    };
    for (auto& t : layers) {
        COLOUR c = t.weights;
        c.set_trialpha_colour(t.c1, t.c2, t.c3);
        EXPECT_EQ(c, t.expect) << std::hex << t.weights;
    }
}

TEST(ColourDerived, TextColourShadesAndConflicts)
{
    COLOUR c = 0;
    c.set_suitable_text_colour(0xFF808080u);
    COLOUR d = 0;
    d.set_suitable_text_colour(0xFF7F8080u);
    EXPECT_TRUE(c == COLOUR_BLACK && d == COLOUR_WHITE);

    c = 0x33000000u;
    c.set_contrasting_shade(0xFF999999u, 0.2); // l 0.6 -> 0.8
    EXPECT_EQ(c, 0x33CCCCCCu);
    c.set_contrasting_shade(0xFF999999u, 0.5); // 0.6 > 0.5 -> darker, 0.1
    EXPECT_EQ(c, 0x33191919u);
    c.set_contrasting_shade(0xFF1A1A1Au, -0.2); // l ~0.1 < 0.2 -> 0.3
    EXPECT_EQ(c, 0x334D4D4Du);
    for (INT_U32 alpha = 0; alpha < 256; ++alpha) { // the alpha byte is kept exactly
        c = alpha << 24;
        c.set_contrasting_shade(0xFF3366CCu, 0.1);
        ASSERT_EQ(c.alpha(), alpha);
    }

    c = 0x80999999u;
    EXPECT_TRUE(c.resolve_conflict(0xFF999999u, 1) && c == 0x80999999u);
    EXPECT_TRUE(c.resolve_conflict(0xFF999999u, 0));
    EXPECT_EQ(c, 0x80656565u); // 0.6 - 0.2 is just below 0.4, and truncation keeps it there
    c = 0xFF222222u;
    EXPECT_TRUE(c.resolve_conflict(0xFF333333u, 0)); // other dark: lighter, 0.4
    EXPECT_EQ(c, 0xFF666666u);
    c = 0xFFFF0000u;
    EXPECT_TRUE(!c.resolve_conflict(0xFF0000FFu, 0) && c == 0xFFFF0000u);
}
