#ifndef KIVO_TYPES_H
#define KIVO_TYPES_H

// Fixed integer widths. Anything that is stored in a file, wraps, or is
// compared bit for bit uses these, never `long` (which is 64-bit here).
#include <cstddef>
#include <cstdint>

typedef std::uint8_t INT_U8;
typedef std::int8_t INT_S8;
typedef std::uint16_t INT_U16;
typedef std::int16_t INT_S16;
typedef std::uint32_t INT_U32;
typedef std::int32_t INT_S32;
typedef std::uint64_t INT_U64;
typedef std::int64_t INT_S64;

#endif
