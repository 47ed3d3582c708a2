// The ready-made character filters of WM_TEXT_EDIT. The classes are plain
// ASCII ranges rather than <cctype>, so a library that calls setlocale
// cannot let bytes above 127 in.
#include "wm_text_edit.h"

namespace {

bool is_letter(INT_U16 c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool is_digit(INT_U16 c)
{
    return c >= '0' && c <= '9';
}

bool is_one_of(INT_U16 c, const char* list)
{
    for (const char* p = list; *p; ++p) {
        if (c == static_cast<unsigned char>(*p)) {
            return true;
        }
    }
    return false;
}

// 127 is listed because the name filters always listed it; the edit
// ignores that code before it asks a filter.
constexpr INT_U16 DEL = 127;

} // namespace

INT_U8 text_edit_number_filter(INT_U16 c)
{
    return is_digit(c) || is_one_of(c, ".-+");
}

INT_U8 text_edit_name_with_space_filter(INT_U16 c)
{
    return is_letter(c) || is_one_of(c, "'- ") || c == DEL;
}

INT_U8 text_edit_name_without_space_filter(INT_U16 c)
{
    return is_letter(c) || is_one_of(c, "'-") || c == DEL;
}

INT_U8 text_edit_name_with_space_and_numbers_filter(INT_U16 c)
{
    return is_letter(c) || is_one_of(c, "'-") || is_digit(c) || c == ' ' || c == DEL;
}

INT_U8 text_edit_filename_filter(INT_U16 c)
{
    return is_letter(c) || is_digit(c) || is_one_of(c, ".-+!$%()_=[]{};:@# ~");
}
