// The cached data file with its byte-order byte and gzip layer.
#include "data_file.h"

#include "errors.h"
#include "folder.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

long DATA_FILE::default_cache_sz = 524288;
INT_U8** DATA_FILE::cache_buffers = nullptr;
long* DATA_FILE::cache_buffer_sizes = nullptr;
INT_U8* DATA_FILE::cache_buffer_in_use = nullptr;
short DATA_FILE::cache_buffers_sz = 0;

namespace {

constexpr long MIN_CACHE_SZ = 1024;
constexpr long MAX_CACHE_SZ = 52428800;
// Larger single transfers are refused: no record needs them, and offsets
// stay far from overflowing.
constexpr long MAX_BLOCK = 0x7FFFFFFFL;
// Positions stay below this, so position plus any transfer never overflows.
constexpr long MAX_OFFSET = 1L << 62;
// Records store sizes and offsets in 32 bits. A compressed file being
// written reaches a position ahead only by compressing zeros up to it, so
// it goes no further than such an offset can name.
constexpr long MAX_GZ_WRITE_POS = 0xFFFFFFFFL;
constexpr int GZ_BUFFER_SZ = 16384;
// A read of at least this much left over once the cache is used up goes
// straight into the caller's buffer, and the refill after it starts this
// small: a large record (a picture) then crosses the cache only at its
// first bytes, instead of being copied a second time.
constexpr long DIRECT_READ_SZ = 16384;

// Bumped by every pool rebuild, so a file can tell that its pooled buffer
// belongs to a pool that no longer exists.
INT_U32 current_pool_generation = 0;

long max_long(long a, long b)
{
    return a > b ? a : b;
}

long min_long(long a, long b)
{
    return a < b ? a : b;
}

// Fills the buffers from the file at `offset`, going on after short reads
// and interruptions until they are full, a read returns nothing (`end`) or
// one fails (`failed`). Returns the bytes read.
long read_at_offset(int fd, struct iovec* iov, int count, long offset, bool& end, bool& failed)
{
    long done = 0;
    int first = 0;
    while (first < count) {
        ssize_t r = preadv(fd, iov + first, count - first, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            end = r == 0;
            failed = r < 0;
            break;
        }
        done += static_cast<long>(r);
        size_t left = static_cast<size_t>(r);
        while (first < count && left >= iov[first].iov_len) {
            left -= iov[first].iov_len;
            ++first;
        }
        if (first < count) {
            iov[first].iov_base = static_cast<char*>(iov[first].iov_base) + left;
            iov[first].iov_len -= left;
        }
    }
    return done;
}

} // namespace

gzFile kivo_gzopen(FILE* fp, const char* mode)
{
    if (!fp || !mode) {
        return nullptr;
    }
    // A second descriptor of the same file, so that ending the gzip stream
    // closes only it; the shared offset starts where stdio stands.
    if (std::fflush(fp) != 0) {
        return nullptr;
    }
    long off = std::ftell(fp);
    if (off < 0) {
        return nullptr;
    }
    int fd = dup(fileno(fp));
    if (fd < 0) {
        return nullptr;
    }
    if (lseek(fd, off, SEEK_SET) < 0) {
        ::close(fd);
        return nullptr;
    }
    gzFile gz = gzdopen(fd, mode);
    if (!gz) {
        ::close(fd);
        return nullptr;
    }
    gzbuffer(gz, GZ_BUFFER_SZ);
    return gz;
}

int kivo_gzclose(gzFile gz)
{
    return gz ? gzclose(gz) : Z_STREAM_ERROR;
}

DATA_FILE::DATA_FILE(long cache_size)
{
    std::memset(folder, 0, sizeof folder);
    long size = cache_size == -1 ? default_cache_sz : cache_size;
    if (size < MIN_CACHE_SZ) {
        size = MIN_CACHE_SZ;
    }
    if (size > MAX_CACHE_SZ) {
        size = MAX_CACHE_SZ;
    }

    short empty_slot = -1;
    for (short i = 0; i < cache_buffers_sz; ++i) {
        if (!cache_buffer_in_use[i] && cache_buffers[i] && cache_buffer_sizes[i] >= size) {
            cache_buffer_in_use[i] = 1;
            cache_slot = i;
            cache = cache_buffers[i];
            // A pooled buffer keeps its recorded size.
            size = cache_buffer_sizes[i];
            break;
        }
        if (!cache_buffers[i] && empty_slot < 0) {
            empty_slot = i;
        }
    }
    if (cache_slot < 0 && empty_slot >= 0) {
        INT_U8* p = static_cast<INT_U8*>(std::malloc(static_cast<size_t>(size)));
        if (p) {
            cache_buffers[empty_slot] = p;
            cache_buffer_sizes[empty_slot] = size;
            cache_buffer_in_use[empty_slot] = 1;
            cache_slot = empty_slot;
            cache = p;
        }
    }
    if (cache_slot < 0) {
        cache = static_cast<INT_U8*>(std::malloc(static_cast<size_t>(size)));
        if (!cache) {
            display_error(ERR_DATA_FILE_CACHE_MEMORY);
        }
    }
    cache_sz = size;
    pool_generation = current_pool_generation;
}

DATA_FILE::~DATA_FILE()
{
    // Closing here keeps data that a caller forgot to close from being lost.
    close();
    if (cache_slot >= 0 && pool_generation == current_pool_generation && cache_slot < cache_buffers_sz &&
        cache_buffers[cache_slot] == cache) {
        cache_buffer_in_use[cache_slot] = 0;
    } else {
        std::free(cache);
    }
}

namespace {

void free_pool_arrays()
{
    std::free(DATA_FILE::cache_buffers);
    std::free(DATA_FILE::cache_buffer_sizes);
    std::free(DATA_FILE::cache_buffer_in_use);
    DATA_FILE::cache_buffers = nullptr;
    DATA_FILE::cache_buffer_sizes = nullptr;
    DATA_FILE::cache_buffer_in_use = nullptr;
    DATA_FILE::cache_buffers_sz = 0;
}

} // namespace

void DATA_FILE::set_cache_buffers_sz(short n)
{
    // Buffers still lent out stay with their files, which free them.
    for (short i = 0; i < cache_buffers_sz; ++i) {
        if (!cache_buffer_in_use[i]) {
            std::free(cache_buffers[i]);
        }
    }
    free_pool_arrays();
    ++current_pool_generation;
    if (n < 1) {
        return;
    }
    cache_buffers = static_cast<INT_U8**>(std::calloc(static_cast<size_t>(n), sizeof(INT_U8*)));
    cache_buffer_sizes = static_cast<long*>(std::calloc(static_cast<size_t>(n), sizeof(long)));
    cache_buffer_in_use = static_cast<INT_U8*>(std::calloc(static_cast<size_t>(n), 1));
    if (!cache_buffers || !cache_buffer_sizes || !cache_buffer_in_use) {
        free_pool_arrays();
    } else {
        cache_buffers_sz = n;
    }
}

const char* DATA_FILE::stdio_mode(FILE_MODE m)
{
    switch (m) {
    case fm_read: return "rb";
    case fm_write: return "wb";
    case fm_update: return "r+b";
    }
    return nullptr;
}

void DATA_FILE::reset_state()
{
    fp = nullptr;
    gz = nullptr;
    order_byte = 0;
    cache_dirty = 0;
    cache_pos = cache_used = 0;
    cache_start = 0;
    refill_sz = DIRECT_READ_SZ;
    stream_pos = -1;
    by_offset = false;
    met_end = false;
    read_failed = false;
    cache_ahead = 0;
    length = 0;
    swap = 0;
    error = 0;
    write_failed = 0;
}

bool DATA_FILE::open(const char* path, FILE_MODE m, int byte_order, INT_U8 gzip)
{
    const char* smode = stdio_mode(m);
    if (!path || !*path || !smode || is_open()) {
        return false;
    }
    FILE* stream = m == fm_write ? FOLDER::open_whole_file(path, smode) : std::fopen(path, smode);
    if (!stream) {
        return false;
    }
    if (!open(stream, m, byte_order, gzip)) {
        return false;
    }
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    size_t dir_len = slash ? static_cast<size_t>(slash - path) : 0;
    if (slash && dir_len == 0) {
        dir_len = 1; // the root folder
    }
    if (dir_len < sizeof folder) {
        std::memcpy(folder, path, dir_len);
        folder[dir_len] = 0;
    }
    name = base;
    return true;
}

bool DATA_FILE::open(FILE* stream, FILE_MODE m, int byte_order, INT_U8 gzip)
{
    if (!stream) {
        return false;
    }
    // A folder opens for reading on this host, and reports an absurd size.
    struct stat st;
    if (!stdio_mode(m) || is_open() || fstat(fileno(stream), &st) != 0 || S_ISDIR(st.st_mode)) {
        FOLDER::finish_file(stream, false);
        return false;
    }
    // The byte order arrives as a char; -1 means the byte-order byte on
    // hosts whose char is unsigned too.
    bool with_byte = static_cast<signed char>(byte_order) == -1;
    gzFile z = nullptr;
    INT_U8 sw = 0;
    long len = 0, start = 0;
    bool ok = true;

    // Where the stream is known to stand once the header is read (-1:
    // unknown), so positioning it for the first transfer costs no seek.
    long stands = -1;
    // A plain file opened for reading has the length fstat gave: seeking
    // to its end would cost stdio a seek and a read of the last block.
    const bool plain = m == fm_read && S_ISREG(st.st_mode) && st.st_size >= 0 && st.st_size <= MAX_OFFSET;
    // Read by offset (see by_offset): the stream's own position never
    // matters, and stdio never touches the file.
    const bool offset_reads = plain && !gzip;
    bool byte_end = false, byte_failed = false;
    auto stdio_size = [&](long& out) {
        if (plain) {
            out = static_cast<long>(st.st_size);
            return true;
        }
        if (std::fseek(stream, 0, SEEK_END) != 0) {
            return false;
        }
        out = std::ftell(stream);
        return out >= 0;
    };

    if (!with_byte) {
        sw = static_cast<INT_U8>(byte_order);
        if (m == fm_read) {
            ok = stdio_size(len) && (offset_reads || std::fseek(stream, 0, SEEK_SET) == 0);
            stands = 0;
        } else if (m == fm_update) {
            ok = stdio_size(len);
            start = len;
        }
    } else if (m == fm_write) {
        INT_U8 zero = 0;
        if (gzip) {
            z = kivo_gzopen(stream, "wb");
            ok = z && gzwrite(z, &zero, 1) == 1;
        } else {
            ok = std::fwrite(&zero, 1, 1, stream) == 1;
        }
        len = start = 1;
    } else if (m == fm_read) {
        INT_U8 b = 0;
        if (gzip) {
            ok = std::fseek(stream, 0, SEEK_SET) == 0 && (z = kivo_gzopen(stream, "rb")) != nullptr;
            // The uncompressed length: inflate once to the end (the stream
            // cannot seek from its end), then start again.
            if (ok) {
                static INT_U8 scratch[65536];
                int got;
                while ((got = gzread(z, scratch, sizeof scratch)) > 0) {
                    len += got;
                }
                // A cut-off stream reads like an early end; only the
                // stream's error state tells it apart.
                int err = Z_OK;
                gzerror(z, &err);
                ok = got == 0 && err == Z_OK && gzrewind(z) == 0;
            }
            if (ok && gzread(z, &b, 1) != 1) {
                b = 0;
            }
        } else if (offset_reads) {
            ok = stdio_size(len);
            struct iovec one = {&b, 1};
            if (read_at_offset(fileno(stream), &one, 1, 0, byte_end, byte_failed) != 1) {
                b = 0;
            }
        } else {
            ok = stdio_size(len) && std::fseek(stream, 0, SEEK_SET) == 0;
            if (ok && std::fread(&b, 1, 1, stream) != 1) {
                b = 0;
            } else if (ok) {
                stands = 1;
            }
        }
        sw = b;
        start = 1;
    } else // update
    {
        // A compressed stream cannot be rewritten in place.
        ok = !gzip && std::fseek(stream, 0, SEEK_SET) == 0;
        INT_U8 b = 0;
        if (ok && std::fread(&b, 1, 1, stream) != 1) {
            b = 0;
            ok = std::fseek(stream, 0, SEEK_SET) == 0 && std::fwrite(&b, 1, 1, stream) == 1;
        }
        sw = b;
        ok = ok && stdio_size(len);
        start = len;
    }

    if (!ok) {
        if (z) {
            kivo_gzclose(z);
        }
        FOLDER::finish_file(stream, false);
        return false;
    }
    reset_state();
    fp = stream;
    gz = z;
    mode = m;
    swap = sw;
    order_byte = with_byte ? 1 : 0;
    by_offset = offset_reads;
    length = len;
    cache_start = start;
    if (by_offset) {
        // An empty file read with its byte-order byte is at its end from
        // the start.
        met_end = byte_end;
        read_failed = byte_failed;
    } else if (!gz && !(m == fm_read && with_byte && len == 0)) {
        // Positioned for the first transfer (and the end-of-file flag
        // clear). An empty file read with its byte-order byte keeps the
        // flag: it is at its end from the start.
        // Read from there, the first transfer needs no seek of its own.
        if (m == fm_read && stands == cache_start) {
            stream_pos = cache_start;
        } else if (std::fseek(fp, cache_start, SEEK_SET) == 0 && m == fm_read) {
            stream_pos = cache_start;
        }
    }
    return true;
}

bool DATA_FILE::close()
{
    if (!is_open()) {
        return true;
    }
    bool ok = flush_cache();
    if (gz && kivo_gzclose(gz) != Z_OK) {
        ok = false;
    }
    ok = ok && !write_failed;
    // A save whose last transfer failed must not replace the old file.
    bool keep = ok && !(mode == fm_write && error);
    // A file read by offset reports a failed read as its stream's error
    // flag would have.
    ok = FOLDER::finish_file(fp, keep) && keep && !read_failed;
    reset_state();
    return ok;
}

// Brings the stream to `offset` before a transfer. stdio seeks unless a file
// opened for reading is known to stand there (a seek drops stdio's buffer and
// costs a system call); in the other modes it always seeks, which also makes
// every change between reading and writing well defined. The gzip stream
// seeks only when it stands elsewhere (its seeks can be costly).
bool DATA_FILE::sync_stream(long offset)
{
    if (gz) {
        z_off_t at = gztell(gz);
        if (at == offset) {
            return true;
        }
        if (mode == fm_write && at > offset) {
            return false;
        }
        return gzseek(gz, offset, SEEK_SET) == offset;
    }
    if (mode == fm_read && stream_pos == offset) {
        return true;
    }
    bool ok = std::fseek(fp, offset, SEEK_SET) == 0;
    stream_pos = ok && mode == fm_read ? offset : -1;
    return ok;
}

long DATA_FILE::raw_write(const INT_U8* buf, long n)
{
    stream_pos = -1;
    if (!gz) {
        return static_cast<long>(std::fwrite(buf, 1, static_cast<size_t>(n), fp));
    }
    long done = 0;
    while (done < n) {
        long chunk = n - done > (1L << 30) ? (1L << 30) : n - done;
        int w = gzwrite(gz, buf + done, static_cast<unsigned>(chunk));
        if (w <= 0) {
            break;
        }
        done += w;
    }
    return done;
}

bool DATA_FILE::flush_cache()
{
    if (!is_open()) {
        return true;
    }
    bool ok = true;
    if (cache_dirty && cache_used > 0) {
        long w = sync_stream(cache_start) ? raw_write(cache, cache_used) : 0;
        ok = w == cache_used;
        if (!ok) {
            write_failed = 1;
        }
    }
    // An empty cache says nothing about the file: after a move past the end
    // the file only grows once bytes are written there.
    if (cache_used > 0) {
        length = max_long(length, cache_start + cache_used);
    }
    cache_start += cache_used;
    if (cache_used - cache_pos > 0) {
        cache_start -= cache_used - cache_pos;
        // (A file read by offset needs no seek.)
        if (!gz && !by_offset) {
            std::fseek(fp, cache_start, SEEK_SET);
        }
        stream_pos = -1;
    }
    cache_used = cache_pos = 0;
    cache_ahead = 0;
    cache_dirty = 0;
    return ok;
}

long DATA_FILE::get_pos()
{
    return cache_start + cache_pos - order_byte;
}

long DATA_FILE::get_length()
{
    if (!is_open()) {
        return 0;
    }
    // Only bytes that exist or wait in the cache count: a position moved
    // past the end adds nothing until something is written there.
    long held = cache_used + cache_ahead;
    long end = held > 0 ? max_long(length, cache_start + held) : length;
    return max_long(end - order_byte, 0);
}

bool DATA_FILE::is_at_end()
{
    if (!is_open()) {
        return true;
    }
    if (cache_used > cache_pos || cache_ahead > 0) {
        return false;
    }
    if (by_offset) {
        return met_end;
    }
    return gz ? gzeof(gz) != 0 : std::feof(fp) != 0;
}

long DATA_FILE::set_pos(long pos, INT_U8 from_end)
{
    long base = from_end && is_open() ? get_length() : 0;
    // Targets far beyond any real file are refused before the offset
    // arithmetic can overflow.
    if (pos > MAX_OFFSET - base) {
        return -1;
    }
    long client = pos + base;
    if (client < 0) {
        return -1;
    }
    if (gz && mode == fm_write && client > MAX_GZ_WRITE_POS) {
        return -1;
    }
    long target = client + order_byte;
    long here = cache_start + cache_pos;
    if (target == here) {
        return client;
    }
    // A compressed file being written only goes forwards.
    if (gz && mode == fm_write && target < cache_start + cache_used) {
        return -1;
    }
    if (target >= cache_start && target <= cache_start + cache_used) {
        cache_pos = target - cache_start;
        return client;
    }
    // The flush keeps the position; a refused seek leaves it there too.
    if (!flush_cache()) {
        return -1;
    }
    if (is_open()) {
        if (gz) {
            if (mode != fm_write && gzseek(gz, target, SEEK_SET) != target) {
                return -1;
            }
        } else if (by_offset) {
            // Read by offset: a look at the end and back costs nothing. Its
            // end-of-file flag is cleared as a seek would.
            met_end = false;
            std::clearerr(fp);
        } else {
            stream_pos = -1;
            if (std::fseek(fp, target, SEEK_SET) != 0) {
                return -1;
            }
        }
    }
    cache_start = target;
    return client;
}

long DATA_FILE::take_refill_size()
{
    long want = min_long(refill_sz, cache_sz);
    if (refill_sz < cache_sz) {
        refill_sz *= 2;
    }
    return want;
}

long DATA_FILE::read_at(INT_U8* buf, long n, INT_U8* more, long more_n)
{
    struct iovec iov[2] = {{buf, static_cast<size_t>(n)}, {more, static_cast<size_t>(more_n)}};
    bool end = false, failed = false;
    long got = read_at_offset(fileno(fp), iov, more_n > 0 ? 2 : 1, cache_start, end, failed);
    met_end = met_end || end;
    // Only a failure that cut the first part short counts: the rest is a
    // refill made early, which the next refill would try again.
    read_failed = read_failed || (failed && got < n);
    return got;
}

long DATA_FILE::read_data_block(INT_U8* buf, long n)
{
    if (!is_open()) {
        return 0;
    }
    if (mode == fm_write) {
        display_error(ERR_READ_FROM_WRITE_FILE);
    }
    if (!buf || n < 1 || n > MAX_BLOCK) {
        return 0;
    }
    long total = 0;
    for (;;) {
        long avail = cache_used - cache_pos;
        long take = avail < n - total ? avail : n - total;
        if (take > 0) {
            std::memcpy(buf + total, cache + cache_pos, static_cast<size_t>(take));
            cache_pos += take;
            total += take;
        }
        if (total == n) {
            return total;
        }
        // Cache used up: write back what was written, then refill from the
        // byte after it.
        if (cache_dirty) {
            // Written data that never reached the file ends the read short.
            if (!flush_cache()) {
                return total;
            }
        } else {
            cache_start += cache_used;
            cache_used = cache_pos = 0;
            // What the last read straight into a buffer brought in follows.
            if (cache_ahead > 0) {
                cache_used = cache_ahead;
                cache_ahead = 0;
                continue;
            }
        }
        // The cache is empty at the position. What is left of a large
        // request goes straight into the caller's buffer, as large writes go
        // straight to the file: through the cache every byte would be copied
        // twice.
        if (!gz && n - total >= min_long(cache_sz, DIRECT_READ_SZ)) {
            if (by_offset) {
                // The refill that would come next arrives in the same call,
                // behind the caller's bytes: a picture costs one read.
                refill_sz = DIRECT_READ_SZ;
                long got = read_at(buf + total, n - total, cache, min_long(refill_sz, cache_sz));
                long direct = min_long(got, n - total);
                cache_start += direct;
                cache_ahead = got - direct;
                if (cache_ahead > 0 && refill_sz < cache_sz) {
                    refill_sz *= 2;
                }
                return total + direct;
            }
            long direct = sync_stream(cache_start)
                              ? static_cast<long>(std::fread(buf + total, 1, static_cast<size_t>(n - total), fp))
                              : 0;
            cache_start += direct;
            // A short read may have met an error or the end: seek next time.
            stream_pos = direct == n - total ? cache_start : -1;
            refill_sz = DIRECT_READ_SZ;
            return total + direct;
        }
        long got = 0;
        if (by_offset) {
            got = read_at(cache, take_refill_size(), nullptr, 0);
        } else if (sync_stream(cache_start)) {
            if (gz) {
                int r = gzread(gz, cache, static_cast<unsigned>(cache_sz));
                got = r > 0 ? r : 0;
            } else {
                long want = take_refill_size();
                got = static_cast<long>(std::fread(cache, 1, static_cast<size_t>(want), fp));
                stream_pos = got == want ? cache_start + got : -1;
            }
        }
        cache_used = got;
        cache_pos = 0;
        if (got == 0) {
            return total;
        }
    }
}

long DATA_FILE::write_data_block(const INT_U8* buf, long n)
{
    if (!is_open() || n < 1) {
        return 0;
    }
    if (mode == fm_read) {
        display_error(ERR_WRITE_TO_READ_FILE);
    }
    if (!buf || n > MAX_BLOCK) {
        write_failed = 1;
        return 0;
    }
    // Earlier data that the file refused makes this write fail too, so the
    // caller learns of the loss.
    if (cache_pos + n >= cache_sz && !flush_cache()) {
        return 0;
    }
    if (n < cache_sz) {
        std::memcpy(cache + cache_pos, buf, static_cast<size_t>(n));
        cache_dirty = 1;
        cache_pos += n;
        cache_used = max_long(cache_used, cache_pos);
        return n;
    }
    // As large as the cache: straight to the file.
    long w = sync_stream(cache_start) ? raw_write(buf, n) : 0;
    if (w > 0) {
        cache_start += w;
        length = max_long(length, cache_start);
    }
    if (w != n) {
        write_failed = 1;
    }
    return w;
}
