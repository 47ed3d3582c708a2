// Rules the page generator holds the program's styles to, kept apart so
// that the tests can put them to any style.
#ifndef TOLLBECK_PAGES_RULES_H
#define TOLLBECK_PAGES_RULES_H

#include "colour.h"

#include <string>

class WM_STYLE_SET;

// The least contrast text must have against what it stands on.
constexpr double MIN_TEXT_CONTRAST = 4.5;

// The contrast of fg drawn over bg, 1 (none) to 21 (black on white), from
// the relative luminance of sRGB colours; a translucent fg is mixed over
// bg first, and bg counts as opaque.
double contrast_ratio(COLOUR fg, COLOUR bg);

// What a text field with this style draws that cannot be read on its
// background: the caret (the active-text colour, else the text colour)
// and the prompt (the disabled-text colour, else the text colour). Empty
// when both reach MIN_TEXT_CONTRAST, else one line naming each fault.
std::string field_contrast_faults(const WM_STYLE_SET& style);

#endif
