#ifndef KIVO_DATA_FILE_H
#define KIVO_DATA_FILE_H

// DATA_FILE: the data device over a stdio file, with a read/write cache,
// an optional leading byte-order byte and an optional gzip layer.
//
// Programs open and close data files through FOLDER::open_data_file and
// FOLDER::close; the folder side finds the file and calls open / close
// below. Positions seen by clients exclude the byte-order byte.
#include "data_device.h"
#include "kivo_string.h"
#include "kivo_types.h"

#include <cstdio>
#include <zlib.h>

// FILE_MODE is shared with the folder side; whichever header comes first
// defines it, under this guard.
#ifndef KIVO_FILE_MODE_DEFINED
#define KIVO_FILE_MODE_DEFINED
// stdio modes "rb", "wb" (create or truncate), "r+b". Any other value
// makes opening fail.
enum FILE_MODE
{
    fm_read = 0,
    fm_write = 1,
    fm_update = 2,
};
#endif

class DATA_FILE : public DATA_DEVICE
{
public:
    INT_U8* cache = nullptr; // own, or borrowed from the pool
    long cache_pos = 0;      // logical position inside the cache
    long cache_used = 0;     // bytes of the cache holding data
    long cache_sz = 0;
    FILE_MODE mode = fm_read;
    FILE* fp = nullptr;     // null while not open
    INT_U8 order_byte = 0;  // the file starts with a byte-order byte
    INT_U8 cache_dirty = 0; // the cache holds written data not yet in the file
    gzFile gz = nullptr;    // gzip stream over fp, or null
    char folder[2048];      // native path of the folder the file is in
    KIVO_STRING name;       // the file name it was opened with
    long length = 0;        // file length in file offsets, as far as known
    long cache_start = 0;   // file offset of the cache's first byte
    short cache_slot = -1;  // pooled buffer in use, -1 = own allocation

    static long default_cache_sz; // 524288
    // The buffer pool; empty by default, so every file has its own cache.
    static INT_U8** cache_buffers;
    static long* cache_buffer_sizes;
    static INT_U8* cache_buffer_in_use;
    static short cache_buffers_sz;

    // cache_size -1 = default_cache_sz; clamped to 1024..52428800 (other
    // negative values give 1024). No memory for the cache is fatal (0x15).
    explicit DATA_FILE(long cache_size = -1);
    // Flushes and closes a file that is still open, then releases the cache.
    ~DATA_FILE() override;
    DATA_FILE(const DATA_FILE&) = delete;
    DATA_FILE& operator=(const DATA_FILE&) = delete;

    long get_pos() override;
    // Returns the new position, or -1 with the position unchanged (a
    // negative or far too large target, backwards in a compressed file being
    // written or forwards beyond 2^32 - 1 there, a seek the file refused, or
    // pending data the file refused).
    long set_pos(long pos, INT_U8 from_end) override;
    // Sizes below 1 or above 2^31-1 move nothing. Reading a file opened for
    // writing is fatal (0xE), writing one opened for reading too (0xF).
    // When cached data must go out first and the file refuses it, the
    // transfer stops there (short count).
    long read_data_block(INT_U8* buf, long n) override;
    long write_data_block(const INT_U8* buf, long n) override;

    // Bytes in the file plus those waiting in the cache.
    long get_length();
    bool is_at_end();
    // Writes pending data; false when the file refused it.
    bool flush_cache();

    // Rebuilds the pool with n empty slots (n < 1: no pool). Files still
    // holding a buffer of the old pool free it themselves.
    static void set_cache_buffers_sz(short n);

    // Opens the file at a native path (byte_order -1: leading byte-order
    // byte, whose value becomes swap; any other value: none, and swap =
    // byte_order). Writing is a whole-file save (FOLDER::open_whole_file):
    // the target changes at close, when everything succeeded. gzip works with
    // the byte-order byte, for reading or writing, not for update. Records
    // the folder and the file name from the path. False, with nothing left
    // open, on any failure or when this object is already open.
    bool open(const char* path, FILE_MODE mode, int byte_order, INT_U8 gzip);
    // The same over a stream already opened in the mode's stdio mode, which
    // this object then owns (closed on failure too, through
    // FOLDER::finish_file).
    bool open(FILE* stream, FILE_MODE mode, int byte_order, INT_U8 gzip);
    // Flushes, ends the gzip stream and closes the file through
    // FOLDER::finish_file; harmless when not open. False when any data could
    // not be written; a file opened for writing then keeps its old content,
    // as it does when `error` is set at closing (the last client transfer
    // failed).
    bool close();
    bool is_open() const { return fp != nullptr; }

    // "rb", "wb", "r+b"; null for another mode.
    static const char* stdio_mode(FILE_MODE mode);

private:
    bool sync_stream(long offset);
    long raw_write(const INT_U8* buf, long n);
    void reset_state();
    INT_U32 pool_generation = 0;
    // Some written data never reached the file; sticks until closing.
    INT_U8 write_failed = 0;
    // Bytes the next refill of a plain file asks for at most: small after
    // opening and after a read that went straight to the caller, doubled by
    // each refill up to the cache's size.
    long refill_sz = 0;
    // Where a file opened for reading through its stream stands after our
    // own full reads and seeks, so the next transfer there needs no seek;
    // -1 when not known.
    long stream_pos = -1;
    // A plain file opened for reading: read by pread at the offsets kept
    // here, so its stream never reads, seeks or buffers (it only owns the
    // descriptor), and a move costs nothing.
    bool by_offset = false;
    // A read of such a file met its end; a move clears it, as clearerr
    // clears the end of a stream.
    bool met_end = false;
    // A read of such a file failed: closing reports it.
    bool read_failed = false;
    // Bytes that a read straight into the caller's buffer brought into the
    // cache after its own: the window taken once the current one (empty
    // then) is used up. Zero whenever the cache holds a window.
    long cache_ahead = 0;
    // The bytes the next refill of a plain file asks for; each refill doubles
    // it, up to the cache's size.
    long take_refill_size();
    // Reads at cache_start into buf, then into more (the cache), until both
    // are full, the file ends or a read fails; returns the bytes read.
    long read_at(INT_U8* buf, long n, INT_U8* more, long more_n);
};

// gzip stream over an open stdio stream, starting at its current offset.
// Closing it never closes the stdio stream. Null on failure.
gzFile kivo_gzopen(FILE* fp, const char* mode);
int kivo_gzclose(gzFile gz);

#endif
