#include "data_file.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using FILE_PTR = std::unique_ptr<DATA_FILE>;

class DataFileTest : public kivo_test::SandboxTest
{
protected:
    // Small cache by default: its edges are cheap to reach.
    FILE_PTR open_file(const std::string& name, FILE_MODE mode, int byte_order, INT_U8 gzip = 0)
    {
        FILE_PTR f(new DATA_FILE(1024));
        return f->open(path(name).c_str(), mode, byte_order, gzip) ? std::move(f) : nullptr;
    }
    std::string contents(const std::string& name) { return kivo_test::read_file(path(name)); }
    static long write_str(DATA_FILE& f, const std::string& s)
    {
        return f.write_data_block(reinterpret_cast<const INT_U8*>(s.data()), static_cast<long>(s.size()));
    }
    static std::string read_str(DATA_FILE& f, long n)
    {
        std::string s(static_cast<size_t>(n), '\0');
        long got = f.read_data_block(reinterpret_cast<INT_U8*>(&s[0]), n);
        s.resize(static_cast<size_t>(got < 0 ? 0 : got));
        return s;
    }
};

} // namespace

TEST_F(DataFileTest, ByteOrderByteOrTheGivenOrder)
{
    FILE_PTR f = open_file("rec.bin", fm_write, -1);
    ASSERT_TRUE(f && put_u32(*f, 0x01020304) && put_string(*f, "Dwarf") && put_s16(*f, -3));
    EXPECT_EQ(f->get_pos(), 15);
    f.reset(); // destroyed while open: the data still reaches the file
    EXPECT_EQ(contents("rec.bin"), std::string("\0\4\3\2\1\5\0\0\0Dwarf\xFD\xFF", 16));

    // A non-zero first byte means big-endian records; an empty file is little-endian and empty.
    kivo_test::write_file(path("big.bin"), "\1ab");
    kivo_test::write_file(path("o.bin"), "");
    for (const char* name : {"rec.bin", "big.bin", "o.bin"}) {
        std::string body = contents(name).substr(name[0] == 'o' ? 0 : 1);
        f = open_file(name, fm_read, -1);
        ASSERT_TRUE(f);
        EXPECT_TRUE(f->swap == (name[0] == 'b') && f->get_length() == static_cast<long>(body.size())) << name;
        EXPECT_EQ(read_str(*f, 20), body);
        EXPECT_TRUE(f->is_at_end()) << name;
    }

    // Update of an empty file writes the byte; of one with data, starts at its end.
    f = open_file("o.bin", fm_update, -1);
    ASSERT_TRUE(f && f->get_pos() == 0 && put_u8(*f, 7) && f->close());
    EXPECT_EQ(contents("o.bin"), std::string("\0\7", 2));
    f = open_file("o.bin", fm_update, -1);
    EXPECT_TRUE(f && f->get_pos() == 1 && f->get_length() == 1);
    f = open_file("big.bin", fm_update, -1);
    EXPECT_TRUE(f && f->swap && f->get_pos() == 2);

    // Without the byte the given order applies, and there is no compression.
    f = open_file("plain.bin", fm_write, 1, 1);
    ASSERT_TRUE(f && f->gz == nullptr && put_u16(*f, 0x0102) && f->close());
    // Update without the byte starts at the end and keeps what is there.
    f = open_file("plain.bin", fm_update, 0);
    INT_U16 v;
    ASSERT_TRUE(f && f->get_pos() == 2 && put_u8(*f, 9) && f->set_pos(0, 0) == 0 && get_u16(*f, v));
    EXPECT_EQ(v, 0x0201);
    f.reset();
    EXPECT_EQ(contents("plain.bin"), std::string("\1\2\x09", 3));
}

TEST_F(DataFileTest, CacheWindowEdges)
{
    FILE_PTR f = open_file("w.bin", fm_write, -1);
    ASSERT_TRUE(f);
    ASSERT_EQ(write_str(*f, std::string(1024, 'a')), 1024);
    EXPECT_EQ(f->cache_used, 0); // exactly the cache size bypasses the cache
    // A write that would end exactly at the cache size flushes first.
    ASSERT_EQ(write_str(*f, std::string(1000, 'b')), 1000);
    ASSERT_EQ(write_str(*f, std::string(24, 'c')), 24);
    EXPECT_TRUE(f->cache_start == 2025 && f->cache_used == 24);
    f.reset();
    ASSERT_EQ(contents("w.bin"),
              std::string(1, '\0') + std::string(1024, 'a') + std::string(1000, 'b') + std::string(24, 'c'));

    f = open_file("w.bin", fm_read, -1);
    ASSERT_TRUE(f);
    EXPECT_EQ(read_str(*f, 10), std::string(10, 'a'));
    // The window's far end is still inside: only the position moves.
    EXPECT_EQ(f->set_pos(1024, 0), 1024);
    EXPECT_TRUE(f->cache_pos == 1024 && f->cache_start == 1 && !f->is_at_end());
    EXPECT_EQ(read_str(*f, 3), "bbb"); // refilled from the next byte
    EXPECT_EQ(f->cache_start, 1025);

    // The whole file in the cache: end of stream, but bytes left to read.
    kivo_test::write_file(path("e.bin"), std::string("\0abc", 4));
    f = open_file("e.bin", fm_read, -1);
    ASSERT_TRUE(f && read_str(*f, 1) == "a");
    EXPECT_TRUE(f->cache_start + f->cache_used == 4 && !f->is_at_end());
    EXPECT_EQ(read_str(*f, 5), "bc");
    EXPECT_TRUE(f->is_at_end());
    EXPECT_TRUE(f->set_pos(0, 0) == 0 && !f->is_at_end());
}

TEST_F(DataFileTest, LargeReadsSkipTheCacheAndKeepThePosition)
{
    std::string body(5000, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 7 + i / 251);
    }
    kivo_test::write_file(path("big.bin"), std::string(1, '\0') + body);
    for (INT_U8 gzip : {INT_U8(0), INT_U8(1)}) {
        if (gzip) {
            FILE_PTR w = open_file("big.gz", fm_write, -1, 1);
            ASSERT_TRUE(w && write_str(*w, body) == 5000 && w->close());
        }
        FILE_PTR f = open_file(gzip ? "big.gz" : "big.bin", fm_read, -1, gzip);
        ASSERT_TRUE(f);
        // The cache's rest, then straight into the buffer: one request as
        // large as the cache, one larger. Small reads after them refill it.
        const struct
        {
            long at, n;
        } reads[] = {{0, 10}, {10, 1024}, {1034, 3000}, {4034, 16}, {4050, 900}};
        for (const auto& r : reads) {
            EXPECT_EQ(read_str(*f, r.n), body.substr(size_t(r.at), size_t(r.n))) << r.at << " gzip " << +gzip;
            EXPECT_EQ(f->get_pos(), r.at + r.n);
            if (r.n == 3000 && !gzip) {
                EXPECT_EQ(f->cache_used, 0) << "straight into the buffer";
            }
        }
        EXPECT_FALSE(f->is_at_end());
        // Past the end: what is there, and the end is known.
        EXPECT_EQ(read_str(*f, 2000), body.substr(4950));
        EXPECT_TRUE(f->is_at_end() && f->get_pos() == 5000);
        EXPECT_TRUE(f->set_pos(7, 0) == 7 && read_str(*f, 4000) == body.substr(7, 4000));
    }
}

TEST_F(DataFileTest, BadSizesAndWrongOpensAreRefused)
{
    kivo_test::write_file(path("x.bin"), std::string("\0abc", 4));
    FILE_PTR f = open_file("x.bin", fm_update, -1);
    ASSERT_TRUE(f);
    INT_U8 buf[8] = {};
    for (long n : {-1L, 0L, 0x80000000L}) {
        EXPECT_EQ(f->read_data_block(buf, n) + f->write_data_block(buf, n), 0) << n;
    }
    EXPECT_EQ(f->read_data_block(nullptr, 4), 0);
    EXPECT_FALSE(f->open(path("x.bin").c_str(), fm_read, -1, 0)); // already open
    f.reset();
    EXPECT_EQ(contents("x.bin"), std::string("\0abc", 4));

    // Missing, a folder, an unknown mode, a compressed update.
    DATA_FILE g(1024);
    const struct
    {
        std::string name;
        int mode;
        INT_U8 gzip;
    } bad[] = {
        {"", 0, 0}, {path("missing.bin"), 0, 0}, {dir, 0, 0}, {path("x.bin"), 3, 0}, {path("x.bin"), fm_update, 1}};
    EXPECT_FALSE(g.open(static_cast<const char*>(nullptr), fm_read, -1, 0));
    for (const auto& b : bad) {
        EXPECT_FALSE(g.open(b.name.c_str(), static_cast<FILE_MODE>(b.mode), -1, b.gzip) || g.is_open()) << b.name;
    }
    EXPECT_TRUE(g.open(path("x.bin").c_str(), fm_read, static_cast<char>(-1), 0));
    EXPECT_STREQ(g.folder, dir.c_str());
    EXPECT_TRUE(g.close() && g.close()); // closing twice is harmless
}

TEST_F(DataFileTest, DataTheFileRefusesIsReportedNotLost)
{
    // A device that is always full: every write to it fails.
    DATA_FILE f(1024);
    ASSERT_TRUE(f.open("/dev/full", fm_write, 0, 0));
    std::setvbuf(f.fp, nullptr, _IONBF, 0);
    ASSERT_EQ(write_str(f, std::string(1000, 'a')), 1000); // held in the cache
    EXPECT_EQ(write_str(f, std::string(100, 'b')), 0);     // the flush before it failed
    ASSERT_EQ(write_str(f, std::string(10, 'c')), 10);
    EXPECT_EQ(f.set_pos(5000, 0), -1);
    EXPECT_EQ(write_str(f, std::string(2000, 'd')), 0); // straight to the file
    ASSERT_EQ(write_str(f, std::string(10, 'e')), 10);
    EXPECT_FALSE(f.close());

    // In update mode a read that must first write back ends short.
    ASSERT_TRUE(f.open("/dev/full", fm_update, 0, 0));
    std::setvbuf(f.fp, nullptr, _IONBF, 0);
    ASSERT_EQ(write_str(f, "pending"), 7);
    EXPECT_EQ(read_str(f, 4), "");
    f.close();
}

TEST_F(DataFileTest, RefusedPositionsMoveNothing)
{
    // A stream that cannot seek refuses every move; the position stays, and
    // data that could not be placed makes the close fail.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    DATA_FILE p(1024);
    ASSERT_TRUE(p.open(fdopen(fds[1], "wb"), fm_write, 0, 0));
    EXPECT_TRUE(p.set_pos(100, 0) == -1 && p.get_pos() == 0);
    ASSERT_EQ(write_str(p, "0123456789"), 10);
    EXPECT_TRUE(p.set_pos(100, 0) == -1 && p.get_pos() == 10);
    EXPECT_FALSE(p.close());
    close(fds[0]);

    // A compressed file being written goes forwards by zeros, never beyond
    // what 32-bit record offsets can name.
    FILE_PTR z = open_file("far.gz", fm_write, -1, 1);
    ASSERT_TRUE(z);
    EXPECT_TRUE(z->set_pos(0x100000000L, 0) == -1 && z->get_pos() == 0);
    EXPECT_TRUE(z->set_pos(100, 0) == 100 && write_str(*z, "x") == 1 && z->close());
    z = open_file("far.gz", fm_read, -1, 1);
    EXPECT_TRUE(z && read_str(*z, 200) == std::string(100, '\0') + "x");
}

TEST_F(DataFileTest, MovesInAFileReadFromLandWhereTheyShould)
{
    // A plain file read from: a look at the end and back, a move past the
    // cache after its end was read, and a move past the end all read the
    // file's bytes from there, and the end flag follows the position.
    std::string body;
    for (int i = 0; i < 5000; ++i) {
        body += static_cast<char>('a' + i % 26);
    }
    kivo_test::write_file(path("plain.bin"), std::string(1, '\0') + body);
    FILE_PTR f = open_file("plain.bin", fm_read, -1);
    ASSERT_TRUE(f);
    EXPECT_EQ(read_str(*f, 10), body.substr(0, 10));
    EXPECT_TRUE(f->set_pos(0, 1) == 5000 && f->set_pos(10, 0) == 10);
    EXPECT_EQ(read_str(*f, 3000), body.substr(10, 3000));
    EXPECT_EQ(read_str(*f, 3000), body.substr(3010));
    EXPECT_TRUE(f->is_at_end());
    EXPECT_TRUE(f->set_pos(5, 0) == 5 && !f->is_at_end());
    EXPECT_EQ(read_str(*f, 4), body.substr(5, 4));
    EXPECT_TRUE(f->set_pos(-3, 1) == 4997 && read_str(*f, 10) == body.substr(4997));
    EXPECT_TRUE(f->set_pos(6000, 0) == 6000 && read_str(*f, 1).empty() && f->is_at_end());
    EXPECT_TRUE(f->set_pos(1, 0) == 1 && read_str(*f, 2) == body.substr(1, 2));
}

TEST_F(DataFileTest, WrongDirectionTransfersAreFatal)
{
    kivo_test::write_file(path("d.bin"), std::string("\0abc", 4));
    INT_U8 b = 0;
    EXPECT_EXIT(open_file("d.bin", fm_read, -1)->write_data_block(&b, 1), ::testing::ExitedWithCode(1),
                "opened for reading");
    EXPECT_EXIT(open_file("d2.bin", fm_write, -1)->read_data_block(&b, 1), ::testing::ExitedWithCode(1),
                "opened for writing");
}

// Random seeks (some past the end, some refused), reads and writes (some
// larger than the cache) against a string holding what the file should hold.
// With a cache of the usual size, a large read goes straight into the
// caller's buffer even when it is far smaller than the cache, so a picture
// that follows a few small records crosses the cache at most at its first
// bytes; mixed with small reads and moves, every read gives the file's
// bytes and the position follows.
TEST_F(DataFileTest, ReadsThroughALargeCacheGiveTheFileBytes)
{
    std::mt19937 rng(7);
    std::string body(300000, '\0');
    for (char& c : body) {
        c = static_cast<char>(rng());
    }
    kivo_test::write_file(path("pictures.bin"), std::string(1, '\0') + body);
    auto open_large = [&] {
        FILE_PTR f(new DATA_FILE(262144));
        return f->open(path("pictures.bin").c_str(), fm_read, -1, 0) ? std::move(f) : nullptr;
    };
    FILE_PTR f = open_large();
    ASSERT_TRUE(f);
    EXPECT_EQ(read_str(*f, 40), body.substr(0, 40));
    EXPECT_LT(f->cache_used, f->cache_sz) << "a first refill no larger than needed";
    EXPECT_EQ(read_str(*f, 60000), body.substr(40, 60000));
    EXPECT_EQ(f->cache_used, 0) << "the rest straight into the buffer";
    EXPECT_EQ(read_str(*f, 12), body.substr(60040, 12));

    for (int round = 0; round < 4; ++round) {
        f = open_large();
        ASSERT_TRUE(f);
        long pos = 0;
        for (int op = 0; op < 300; ++op) {
            SCOPED_TRACE("round " + std::to_string(round) + " op " + std::to_string(op));
            const unsigned kind = static_cast<unsigned>(rng() % 10);
            if (kind == 0) {
                pos = static_cast<long>(rng() % (body.size() + 100));
                ASSERT_EQ(f->set_pos(pos, 0), pos);
                continue;
            }
            const long n = kind < 6 ? static_cast<long>(rng() % 40) + 1 : static_cast<long>(rng() % 70000) + 1;
            const std::string got = read_str(*f, n);
            const long size = static_cast<long>(body.size());
            ASSERT_EQ(got, pos < size ? body.substr(static_cast<size_t>(pos), static_cast<size_t>(n)) : "");
            pos += static_cast<long>(got.size());
            ASSERT_EQ(f->get_pos(), pos);
            if (got.size() < static_cast<size_t>(n)) {
                ASSERT_TRUE(f->is_at_end());
            } else if (pos < size) {
                ASSERT_FALSE(f->is_at_end());
            }
        }
    }
}

// A plain file read from, byte-order byte included: small reads, reads
// straight into the buffer (which bring the next bytes in with them), reads
// across the cache's edges and reads meeting the end all give the file's
// bytes and positions. The end is known once a read met it, a move forgets
// it, and the stream never moves: every read names its offset.
TEST_F(DataFileTest, PlainReadsGiveTheFileBytesUpToItsEnd)
{
    std::mt19937 rng(3);
    std::string body(40000, '\0');
    for (char& c : body) {
        c = static_cast<char>(rng());
    }
    const long size = static_cast<long>(body.size());
    kivo_test::write_file(path("p.bin"), std::string(1, '\1') + body);
    for (long cache : {1024L, 65536L}) {
        SCOPED_TRACE("cache " + std::to_string(cache));
        FILE_PTR f(new DATA_FILE(cache));
        ASSERT_TRUE(f->open(path("p.bin").c_str(), fm_read, -1, 0));
        INT_U32 v = 0;
        ASSERT_TRUE(f->swap && f->get_length() == size && get_u32(*f, v));
        EXPECT_EQ(v, INT_U32(INT_U8(body[0])) << 24 | INT_U32(INT_U8(body[1])) << 16 | INT_U32(INT_U8(body[2])) << 8 |
                         INT_U8(body[3]));
        // Where to move first (-1: stay), and how much to read.
        const struct
        {
            long at, n;
        } steps[] = {{-1, 3}, // across the cache's edges
                     {-1, 1500},
                     {-1, 20000},
                     {-1, 5},
                     {-1, 16384},
                     {-1, 900},
                     {100, 17000}, // straight in, then what came with it
                     {-1, 30},
                     {-1, 3000},
                     {size - 17000, 17000}, // straight in up to the very end
                     {-1, 1},
                     {size - 20100, 20000}, // what comes after it cut short by the end
                     {-1, 50},
                     {-1, 100},
                     {size - 10, 20000}, // past the end
                     {size + 5, 1}};
        long pos = 4;
        for (const auto& s : steps) {
            SCOPED_TRACE("at " + std::to_string(s.at) + " n " + std::to_string(s.n));
            if (s.at >= 0) {
                ASSERT_EQ(f->set_pos(s.at, 0), s.at);
                EXPECT_FALSE(f->is_at_end());
                pos = s.at;
            }
            const std::string want = pos < size ? body.substr(size_t(pos), size_t(s.n)) : "";
            ASSERT_EQ(read_str(*f, s.n), want);
            pos += static_cast<long>(want.size());
            EXPECT_EQ(f->get_pos(), pos);
            EXPECT_EQ(f->is_at_end(), pos >= size);
        }
        EXPECT_TRUE(f->set_pos(-8, 1) == size - 8 && read_str(*f, 8) == body.substr(size_t(size - 8)));
        EXPECT_EQ(lseek(fileno(f->fp), 0, SEEK_CUR), 0);
    }

    // Nothing but the byte: big-endian and empty, at its end once read.
    kivo_test::write_file(path("one.bin"), "\1");
    FILE_PTR f = open_file("one.bin", fm_read, -1);
    ASSERT_TRUE(f && f->swap && f->get_length() == 0 && !f->is_at_end());
    EXPECT_TRUE(read_str(*f, 1).empty() && f->is_at_end());
}

// Another descriptor cuts the file while it is read: what was read before
// the cut stays, and reads after it give what is left, no more.
TEST_F(DataFileTest, PlainFileCutWhileOpenEndsWhereItNowEnds)
{
    std::string body(50000, '\0');
    for (size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(i * 13 + i / 509);
    }
    kivo_test::write_file(path("cut.bin"), std::string(1, '\0') + body);
    FILE_PTR f = open_file("cut.bin", fm_read, -1);
    ASSERT_TRUE(f);
    EXPECT_EQ(read_str(*f, 10), body.substr(0, 10));
    auto cut = [&](off_t to) {
        int fd = ::open(path("cut.bin").c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, to), 0);
        ::close(fd);
    };
    cut(3001);
    EXPECT_EQ(read_str(*f, 20000), body.substr(10, 2990));
    EXPECT_TRUE(f->get_pos() == 3000 && f->is_at_end());
    EXPECT_TRUE(f->set_pos(0, 0) == 0 && read_str(*f, 50000) == body.substr(0, 3000));
    cut(501);
    EXPECT_TRUE(f->set_pos(2000, 0) == 2000 && read_str(*f, 5).empty() && f->is_at_end());
    EXPECT_TRUE(f->set_pos(0, 0) == 0 && read_str(*f, 600) == body.substr(0, 500));
    EXPECT_TRUE(f->set_pos(0, 0) == 0 && read_str(*f, 30000) == body.substr(0, 500));
    EXPECT_TRUE(f->is_at_end() && f->close());
}

TEST_F(DataFileTest, UpdateModeMatchesAnInMemoryModel)
{
    for (int seed = 1; seed <= 6; ++seed) {
        std::mt19937 rng(static_cast<unsigned>(seed));
        auto random_bytes = [&rng](size_t n) {
            std::string s(n, '\0');
            for (char& c : s) {
                c = static_cast<char>(rng());
            }
            return s;
        };
        int byte_order = seed % 2 ? -1 : 0;
        std::string head(byte_order == -1 ? 1 : 0, '\0'), model = random_bytes(rng() % 3000);
        std::string name = "m" + std::to_string(seed) + ".bin";
        kivo_test::write_file(path(name), head + model);
        FILE_PTR f = open_file(name, fm_update, byte_order);
        ASSERT_TRUE(f);
        long pos = static_cast<long>(model.size());
        for (int op = 0; op < 400; ++op) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " op " + std::to_string(op));
            long len = static_cast<long>(model.size());
            ASSERT_TRUE(f->get_pos() == pos && f->get_length() == len);
            unsigned kind = rng() % 10;
            long n = rng() % 8 == 0 ? static_cast<long>(rng() % 2500) + 1 : static_cast<long>(rng() % 40) + 1;
            if (kind < 3) {
                INT_U8 from_end = rng() % 2;
                long to = static_cast<long>(rng() % static_cast<unsigned>(len + len / 4 + 50));
                pos = from_end ? len - to % (len + 1) : to;
                ASSERT_EQ(f->set_pos(from_end ? pos - len : pos, from_end), pos);
            } else if (kind == 3) { // before the start, or an offset that would overflow: refused, nothing moves
                ASSERT_TRUE(f->set_pos(-(len + 1), 1) == -1 && f->set_pos(LONG_MAX - 5, 1) == -1);
                ASSERT_EQ(f->set_pos(LONG_MAX, 0), -1);
            } else if (kind < 7) {
                std::string got = read_str(*f, n);
                ASSERT_EQ(got, pos < len ? model.substr(static_cast<size_t>(pos), static_cast<size_t>(n)) : "");
                pos += static_cast<long>(got.size());
            } else {
                std::string data = random_bytes(static_cast<size_t>(n));
                ASSERT_EQ(write_str(*f, data), n);
                if (len < pos + n) {
                    model.resize(static_cast<size_t>(pos + n), '\0');
                }
                model.replace(static_cast<size_t>(pos), static_cast<size_t>(n), data);
                pos += n;
            }
        }
        ASSERT_TRUE(f->close());
        ASSERT_EQ(contents(name), head + model);
    }
}

TEST_F(DataFileTest, CompressedFilesUseStandardGzipFraming)
{
    std::string payload;
    for (int i = 0; i < 5000; ++i) {
        payload += "Elf" + std::to_string(i % 97) + ",";
    }
    long size = static_cast<long>(payload.size());
    FILE_PTR f = open_file("z.gz", fm_write, -1, 1);
    ASSERT_TRUE(f && f->gz);
    ASSERT_EQ(write_str(*f, payload.substr(0, 100)), 100);
    ASSERT_EQ(write_str(*f, payload.substr(100)), size - 100);
    EXPECT_EQ(f->set_pos(5, 0), -1); // no going back in a compressed stream
    ASSERT_TRUE(f->close());
    // The gzip program reads it back, byte-order byte first.
    ASSERT_EQ(std::system(("gzip -dc '" + path("z.gz") + "' > '" + path("z.out") + "'").c_str()), 0);
    EXPECT_EQ(contents("z.out"), std::string(1, '\0') + payload);

    f = open_file("z.gz", fm_read, -1, 1);
    ASSERT_TRUE(f && f->get_length() == size);
    EXPECT_EQ(f->set_pos(-10, 1), size - 10);
    EXPECT_EQ(read_str(*f, 100), payload.substr(payload.size() - 10));
    EXPECT_TRUE(f->is_at_end());
    EXPECT_EQ(f->set_pos(3, 0), 3); // backwards, re-read from the start
    EXPECT_EQ(read_str(*f, 4), payload.substr(3, 4));

    // A big-endian file compressed by the gzip program.
    kivo_test::write_file(path("be"), std::string("\1\0\0\1\0", 5));
    ASSERT_EQ(std::system(("gzip -n '" + path("be") + "'").c_str()), 0);
    f = open_file("be.gz", fm_read, -1, 1);
    INT_U32 v;
    ASSERT_TRUE(f && get_u32(*f, v));
    EXPECT_EQ(v, 256u);

    // Truncated and corrupt compressed files fail to open and leave nothing open.
    std::string raw = contents("z.gz");
    kivo_test::write_file(path("cut.gz"), raw.substr(0, raw.size() / 2));
    raw[raw.size() - 6] ^= 0x55; // CRC no longer matches
    kivo_test::write_file(path("bad.gz"), raw);
    EXPECT_TRUE(open_file("cut.gz", fm_read, -1, 1) == nullptr && open_file("bad.gz", fm_read, -1, 1) == nullptr);
}

TEST_F(DataFileTest, CacheSizesAndThePoolThatLendsThem)
{
    const long sizes[][2] = {{100, 1024}, {-1, 524288}, {-5, 1024}, {60000000, 52428800}, {5000, 5000}};
    for (const auto& s : sizes) {
        EXPECT_EQ(DATA_FILE(s[0]).cache_sz, s[1]) << s[0];
    }
    DATA_FILE closed(-1);
    INT_U8 x;
    EXPECT_TRUE(closed.is_at_end() && closed.get_length() == 0);
    EXPECT_EQ(closed.read_data_block(&x, 1) + closed.write_data_block(&x, 1), 0);

    DATA_FILE::set_cache_buffers_sz(2);
    INT_U8* first;
    {
        DATA_FILE a(4096), b(2048), c(2048); // the pool is full for c: own buffer
        EXPECT_TRUE(a.cache_slot == 0 && b.cache_slot == 1 && c.cache_slot == -1);
        first = a.cache;
    }
    {
        // 3000 fits the freed 4096-byte slot; 8192 fits no slot.
        DATA_FILE a(3000), big(8192);
        EXPECT_TRUE(a.cache_slot == 0 && a.cache == first && a.cache_sz == 4096 && big.cache_slot == -1);

        // Rebuilt while `a` still holds its buffer: `a` frees it itself.
        DATA_FILE::set_cache_buffers_sz(1);
        DATA_FILE d(1024);
        EXPECT_TRUE(d.cache_slot == 0 && d.cache != first);
        ASSERT_TRUE(a.open(path("pool.bin").c_str(), fm_write, -1, 0) && put_u32(a, 5));
    }
    EXPECT_EQ(contents("pool.bin"), std::string("\0\5\0\0\0", 5));
    DATA_FILE::set_cache_buffers_sz(0);
    EXPECT_EQ(DATA_FILE(1024).cache_slot, -1);
}
