#ifndef KIVO_COLOUR_H
#define KIVO_COLOUR_H

// The one colour type of the system: a 32-bit word 0xAARRGGBB passed by
// value. On the little-endian host its bytes lie B, G, R, A in memory, the
// order the image codecs and the window upload rely on. Alpha 0 is
// invisible, 255 opaque.
#include "kivo_types.h"

class COLOUR
{
public:
    INT_U32 value;

    COLOUR() = default;
    constexpr COLOUR(INT_U32 v) : value(v) {}
    constexpr operator INT_U32() const { return value; }

    constexpr INT_U8 alpha() const { return INT_U8(value >> 24); }
    constexpr INT_U8 red() const { return INT_U8(value >> 16); }
    constexpr INT_U8 green() const { return INT_U8(value >> 8); }
    constexpr INT_U8 blue() const { return INT_U8(value); }

    // Non-zero selects the plain average in grey conversions instead of the
    // weighted formula.
    static INT_U8 use_fast_greyscale;
    // In every blend, an effective alpha at or above this replaces the
    // destination outright instead of mixing.
    static INT_U8 alpha_solid_threshold;

    // Components are 0.0 .. 1.0; hue 1.0 is 360 degrees.
    void get_ahsl(double& a, double& h, double& s, double& l) const;
    void set_ahsl(double a, double h, double s, double l);
    void get_acmyk(double& a, double& c, double& m, double& y, double& k) const;
    void set_acmyk(double a, double c, double m, double y, double k);

    // Tints this colour by its grey level; keeps this colour's alpha.
    void recolour(COLOUR tint);
    // Black or white, whichever reads on the background.
    void set_suitable_text_colour(const COLOUR& background);
    // A lighter or darker shade of base, keeping this colour's alpha.
    void set_contrasting_shade(const COLOUR& base, double amount);
    // True when this colour is too close to other; unless test_only, moves
    // this colour's lightness away from other's.
    bool resolve_conflict(const COLOUR& other, INT_U8 test_only);
    // Reads this colour's R, G, B bytes as weights of c1, c2, c3 and
    // becomes their layered blend.
    void set_trialpha_colour(COLOUR c1, COLOUR c2, COLOUR c3);
    // Parses the text forms ('#', '%', '&', '@' with optional "AHSL" or
    // "ACMYK"); unknown text leaves the colour unchanged.
    void set_from_string(const char* text);

    // Writes the current error text with this code location to the
    // "KIVO Platform" debug channel when that channel is switched on.
    static void write_error_to_debug_stream(const char* source_file, long line);
};

inline constexpr COLOUR COLOUR_ORANGE = 0xFFFF8000u;
inline constexpr COLOUR COLOUR_KIVO_BLUE = 0xFF0066CCu;
inline constexpr COLOUR COLOUR_WHITE = 0xFFFFFFFFu;
inline constexpr COLOUR COLOUR_MAGENTA = 0xFFFF00FFu;
inline constexpr COLOUR COLOUR_BLUE = 0xFF0000FFu;
inline constexpr COLOUR COLOUR_CYAN = 0xFF00FFFFu;
inline constexpr COLOUR COLOUR_GREEN = 0xFF00FF00u;
inline constexpr COLOUR COLOUR_YELLOW = 0xFFFFFF00u;
inline constexpr COLOUR COLOUR_RED = 0xFFFF0000u;
inline constexpr COLOUR COLOUR_GREY = 0xFFC0C0C0u;
inline constexpr COLOUR COLOUR_PURPLE = 0xFF800080u;
inline constexpr COLOUR COLOUR_DARK_BLUE = 0xFF000080u;
inline constexpr COLOUR COLOUR_DARK_CYAN = 0xFF008080u;
inline constexpr COLOUR COLOUR_DARK_GREEN = 0xFF008000u;
inline constexpr COLOUR COLOUR_DARK_YELLOW = 0xFF808000u;
inline constexpr COLOUR COLOUR_DARK_RED = 0xFF800000u;
inline constexpr COLOUR COLOUR_DARK_GREY = 0xFF808080u;
inline constexpr COLOUR COLOUR_BLACK = 0xFF000000u;
inline constexpr COLOUR COLOUR_MIDNIGHT_BLUE = 0xFF240A5Du;

// The faded twins: the same colour at alpha 0xE0.
inline constexpr COLOUR COLOUR_FADED_ORANGE = 0xE0FF8000u;
inline constexpr COLOUR COLOUR_FADED_KIVO_BLUE = 0xE00066CCu;
inline constexpr COLOUR COLOUR_FADED_WHITE = 0xE0FFFFFFu;
inline constexpr COLOUR COLOUR_FADED_MAGENTA = 0xE0FF00FFu;
inline constexpr COLOUR COLOUR_FADED_BLUE = 0xE00000FFu;
inline constexpr COLOUR COLOUR_FADED_CYAN = 0xE000FFFFu;
inline constexpr COLOUR COLOUR_FADED_GREEN = 0xE000FF00u;
inline constexpr COLOUR COLOUR_FADED_YELLOW = 0xE0FFFF00u;
inline constexpr COLOUR COLOUR_FADED_RED = 0xE0FF0000u;
inline constexpr COLOUR COLOUR_FADED_GREY = 0xE0C0C0C0u;
inline constexpr COLOUR COLOUR_FADED_PURPLE = 0xE0800080u;
inline constexpr COLOUR COLOUR_FADED_DARK_BLUE = 0xE0000080u;
inline constexpr COLOUR COLOUR_FADED_DARK_CYAN = 0xE0008080u;
inline constexpr COLOUR COLOUR_FADED_DARK_GREEN = 0xE0008000u;
inline constexpr COLOUR COLOUR_FADED_DARK_YELLOW = 0xE0808000u;
inline constexpr COLOUR COLOUR_FADED_DARK_RED = 0xE0800000u;
inline constexpr COLOUR COLOUR_FADED_DARK_GREY = 0xE0808080u;
inline constexpr COLOUR COLOUR_FADED_BLACK = 0xE0000000u;
inline constexpr COLOUR COLOUR_INVISIBLE = 0x00000000u;

#endif
