// The rules the page generator holds the program's styles to.
#include "pages_rules.h"

#include "wm_style_set.h"

#include <gtest/gtest.h>

namespace {

TEST(PagesRules, ContrastFollowsTheRelativeLuminanceOfSrgb)
{
    const struct
    {
        INT_U32 fg, bg;
        double ratio;
    } rows[] = {
        {0xFF000000, 0xFFFFFFFF, 21.0}, {0xFFFFFFFF, 0xFF000000, 21.0}, // either way round
        {0xFF777777, 0xFF777777, 1.0},  {0xFF777777, 0xFFFFFFFF, 4.48}, // the grey just short of 4.5
        {0xFFFFFFFF, 0xFFF4F1EA, 1.13}, {0xFF0000FF, 0xFFFFFFFF, 8.59},
        {0x80000000, 0xFFFFFFFF, 4.0},  {0x00000000, 0xFFFFFFFF, 1.0}, // translucent: mixed over the field
    };
    for (const auto& r : rows) {
        EXPECT_NEAR(contrast_ratio(COLOUR(r.fg), COLOUR(r.bg)), r.ratio, 0.01) << std::hex << r.fg << " on " << r.bg;
    }
}

TEST(PagesRules, AFieldNeedsAReadableCaretAndPrompt)
{
    const INT_U32 cream = 0xFFF4F1EA, ink = 0xFF1B1F27, white = 0xFFFFFFFF, slate = 0xFF5E6676;
    const struct
    {
        const char* name;
        INT_U32 bg, fg, caret, prompt; // 0: not given (the text colour stands in)
        bool caret_fault, prompt_fault;
    } rows[] = {
        {"readable", cream, ink, 0xFF8A5A12, slate, false, false},
        {"white caret on cream", cream, ink, white, slate, true, false},
        {"near-white prompt", cream, ink, 0xFF8A5A12, 0xFFF8F8F8, false, true},
        {"both from a light text colour", cream, white, 0, 0, true, true},
        {"both from a dark text colour", cream, ink, 0, 0, false, false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        WM_STYLE_SET s;
        s.bg_colour = r.bg, s.fg_colour = r.fg;
        s.active_text_colour = r.caret ? COLOUR(r.caret) : COLOUR_INVISIBLE;
        s.disabled_text_colour = r.prompt ? COLOUR(r.prompt) : COLOUR_INVISIBLE;
        const std::string faults = field_contrast_faults(s);
        EXPECT_EQ(faults.find("caret") != std::string::npos, r.caret_fault) << faults;
        EXPECT_EQ(faults.find("prompt") != std::string::npos, r.prompt_fault) << faults;
    }
    // A field that shows what lies behind it cannot be judged.
    WM_STYLE_SET clear;
    clear.bg_colour = COLOUR_INVISIBLE;
    EXPECT_NE(field_contrast_faults(clear), "");
}

} // namespace
