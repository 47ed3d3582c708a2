#ifndef KIVO_WM_S16_H
#define KIVO_WM_S16_H

// Widgets work out coordinates in wider types and hand them to 16-bit
// drawing calls; a value out of range sticks at the nearest end instead of
// wrapping to the far side of the screen.
#include "kivo_types.h"

inline INT_S16 to_s16(long long v)
{
    return static_cast<INT_S16>(v < -32768 ? -32768 : v > 32767 ? 32767 : v);
}

#endif
