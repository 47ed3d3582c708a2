#ifndef KIVO_DATA_DEVICE_H
#define KIVO_DATA_DEVICE_H

// Serialisation: a DATA_DEVICE moves bytes at a position, a
// DATA_DEVICE_CLIENT stores itself on one and reads itself back.
//
// Records are little-endian; a device whose `swap` flag is set holds them
// big-endian. Numbers are always encoded byte by byte below (never by
// copying host integers), so the stored bytes are the same on every host.
// Every record in the system goes through the get_* / put_* helpers here.
#include "kivo_types.h"

class DATA_DEVICE
{
public:
    // Set by clients after each block transfer: 1 when it failed, else 0.
    INT_U8 error = 0;
    // Non-zero: multi-byte numbers are stored big-endian.
    INT_U8 swap = 0;

    DATA_DEVICE() = default;
    virtual ~DATA_DEVICE() = default;

    // Logical position of the next transfer.
    virtual long get_pos() = 0;
    // Positions for the next transfer, from the start or (from_end non-zero)
    // relative to the end; returns the new position, or -1 on failure.
    virtual long set_pos(long pos, INT_U8 from_end) = 0;
    // Reads up to n bytes; returns how many arrived (0 for n < 1).
    virtual long read_data_block(INT_U8* buf, long n) = 0;
    // Writes n bytes; returns how many were accepted (0 for n < 1).
    virtual long write_data_block(const INT_U8* buf, long n) = 0;
};

class DATA_DEVICE_CLIENT
{
public:
    virtual ~DATA_DEVICE_CLIENT() = default;
    virtual bool get_from_data_device(DATA_DEVICE& d) = 0;
    virtual bool put_to_data_device(DATA_DEVICE& d) = 0;
};

// Size of the fixed path blocks of records: the text, a NUL, then zeros.
constexpr long DATA_PATH_BLOCK_SZ = 2048;

// In-memory encoding: little-endian, or big-endian when `swap` is non-zero.
void encode_u16(INT_U8* out, INT_U16 v, INT_U8 swap);
void encode_u32(INT_U8* out, INT_U32 v, INT_U8 swap);
void encode_u64(INT_U8* out, INT_U64 v, INT_U8 swap);
INT_U16 decode_u16(const INT_U8* in, INT_U8 swap);
INT_U32 decode_u32(const INT_U8* in, INT_U8 swap);
INT_U64 decode_u64(const INT_U8* in, INT_U8 swap);

// One block transfer each; the device's error flag is set to 1 unless the
// whole value moved, else to 0. Results: true when the whole value moved.
// A failed get leaves `v` unchanged.
bool put_u8(DATA_DEVICE& d, INT_U8 v);
bool put_s8(DATA_DEVICE& d, INT_S8 v);
bool put_u16(DATA_DEVICE& d, INT_U16 v);
bool put_s16(DATA_DEVICE& d, INT_S16 v);
bool put_u32(DATA_DEVICE& d, INT_U32 v);
bool put_s32(DATA_DEVICE& d, INT_S32 v);
bool put_float(DATA_DEVICE& d, float v);
bool put_double(DATA_DEVICE& d, double v);
// n raw bytes (never swapped); n = 0 succeeds without a transfer.
bool put_bytes(DATA_DEVICE& d, const void* data, long n);
// u32 length then the text bytes without NUL; null counts as "".
bool put_string(DATA_DEVICE& d, const char* text);
// DATA_PATH_BLOCK_SZ bytes: the text, a NUL, zeros. Fails without writing
// when the text does not fit (it would be cut and name another path).
bool put_path_block(DATA_DEVICE& d, const char* text);

bool get_u8(DATA_DEVICE& d, INT_U8& v);
bool get_s8(DATA_DEVICE& d, INT_S8& v);
bool get_u16(DATA_DEVICE& d, INT_U16& v);
bool get_s16(DATA_DEVICE& d, INT_S16& v);
bool get_u32(DATA_DEVICE& d, INT_U32& v);
bool get_s32(DATA_DEVICE& d, INT_S32& v);
bool get_float(DATA_DEVICE& d, float& v);
bool get_double(DATA_DEVICE& d, double& v);
bool get_bytes(DATA_DEVICE& d, void* data, long n);
// The u32-length text record into a malloc'd, NUL-terminated buffer that the
// caller frees with free(). A length of 2^31 or more, a short read or a
// failed allocation gives false with *text null.
bool get_string(DATA_DEVICE& d, char** text);
// Reads a path block into out (DATA_PATH_BLOCK_SZ bytes); the last byte is
// forced to NUL so a corrupt block still ends the text.
bool get_path_block(DATA_DEVICE& d, char* out);

// Reads `length` text bytes into the realloc-managed buffer *buf of *alloc
// bytes, then a NUL. The buffer grows (to at least min_alloc) step by step
// as bytes arrive, so a corrupt length never asks for much more memory than
// the device can supply. Does not touch d.error. False on a short read or a
// failed allocation; the buffer then stays valid (possibly regrown) and is
// NUL-terminated at 0.
bool read_text_bytes(DATA_DEVICE& d, INT_U32 length, char** buf, long* alloc, long min_alloc);

#endif
