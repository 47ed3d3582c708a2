// The generator's rules for the program's styles.
#include "pages_rules.h"

#include "wm_style_set.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double linear(int channel)
{
    const double c = channel / 255.0;
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(int r, int g, int b)
{
    return 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
}

int over(int fg, int bg, int alpha)
{
    return (fg * alpha + bg * (255 - alpha) + 127) / 255;
}

} // namespace

double contrast_ratio(COLOUR fg, COLOUR bg)
{
    const int a = fg.alpha();
    const double lf =
        luminance(over(fg.red(), bg.red(), a), over(fg.green(), bg.green(), a), over(fg.blue(), bg.blue(), a));
    const double lb = luminance(bg.red(), bg.green(), bg.blue());
    return (std::max(lf, lb) + 0.05) / (std::min(lf, lb) + 0.05);
}

std::string field_contrast_faults(const WM_STYLE_SET& s)
{
    if (s.bg_colour.alpha() != 255) {
        return "the field has no opaque colour of its own (bg_colour)\n";
    }
    const struct
    {
        const char* what;
        COLOUR colour;
    } drawn[] = {
        {"the caret (active_text_colour)", s.active_text_colour.alpha() ? s.active_text_colour : s.fg_colour},
        {"the prompt (disabled_text_colour)", s.disabled_text_colour.alpha() ? s.disabled_text_colour : s.fg_colour},
    };
    std::string faults;
    for (const auto& d : drawn) {
        const double ratio = contrast_ratio(d.colour, s.bg_colour);
        if (ratio < MIN_TEXT_CONTRAST) {
            char line[160];
            std::snprintf(line, sizeof line, "%s has a contrast of %.2f : 1 against the field, below %.1f : 1\n",
                          d.what, ratio, MIN_TEXT_CONTRAST);
            faults += line;
        }
    }
    return faults;
}
