#include "data_file.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

class DataFileTest : public kivo_test::SandboxTest
{
protected:
    // Opens a file of the test folder with a small cache (edges are cheap
    // to reach); the caller deletes it.
    DATA_FILE* open_file(const std::string& name, FILE_MODE mode, int byte_order, INT_U8 gzip = 0,
                         long cache = 1024)
    {
        DATA_FILE* f = new DATA_FILE(cache);
        if (!f->open(path(name).c_str(), mode, byte_order, gzip))
        {
            delete f;
            return nullptr;
        }
        return f;
    }

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

    std::string shell(const std::string& cmd)
    {
        std::string out;
        FILE* p = popen(cmd.c_str(), "r");
        if (!p)
            return out;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
            out.append(buf, n);
        int rc = pclose(p);
        return rc == 0 ? out : "<failed>";
    }
};

} // namespace

TEST(DataFileCache, SizesAreClamped)
{
    DATA_FILE a(100), b(-1), c(-5), d(60000000), e(5000);
    EXPECT_EQ(a.cache_sz, 1024);
    EXPECT_EQ(b.cache_sz, 524288);
    EXPECT_EQ(c.cache_sz, 1024);
    EXPECT_EQ(d.cache_sz, 52428800);
    EXPECT_EQ(e.cache_sz, 5000);
    EXPECT_EQ(b.cache_slot, -1);
    EXPECT_FALSE(b.is_open());
    EXPECT_TRUE(b.is_at_end());
    EXPECT_EQ(b.get_length(), 0);
    INT_U8 x;
    EXPECT_EQ(b.read_data_block(&x, 1), 0);
    EXPECT_EQ(b.write_data_block(&x, 1), 0);
}

TEST_F(DataFileTest, ByteOrderByteIsWrittenReadAndHiddenFromPositions)
{
    DATA_FILE* f = open_file("rec.bin", fm_write, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->get_pos(), 0);
    EXPECT_EQ(f->swap, 0);
    ASSERT_TRUE(put_u32(*f, 0x01020304) && put_string(*f, "Dwarf") && put_s16(*f, -3));
    EXPECT_EQ(f->get_pos(), 15);
    EXPECT_TRUE(f->close());
    EXPECT_EQ(kivo_test::read_file(path("rec.bin")), std::string("\0\4\3\2\1\5\0\0\0Dwarf\xFD\xFF", 16));
    EXPECT_EQ(f->name.get_string(0), std::string("rec.bin"));
    delete f;

    f = open_file("rec.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 0);
    EXPECT_EQ(f->get_length(), 15);
    EXPECT_EQ(f->get_pos(), 0);
    INT_U32 v = 0;
    char* t = nullptr;
    INT_S16 s = 0;
    ASSERT_TRUE(get_u32(*f, v) && get_string(*f, &t) && get_s16(*f, s));
    EXPECT_EQ(v, 0x01020304u);
    EXPECT_STREQ(t, "Dwarf");
    EXPECT_EQ(s, -3);
    std::free(t);
    EXPECT_TRUE(f->is_at_end());
    delete f;

    // A file whose first byte is non-zero holds big-endian records.
    kivo_test::write_file(path("be.bin"), std::string("\1\1\2\3\4", 5));
    f = open_file("be.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 1);
    ASSERT_TRUE(get_u32(*f, v));
    EXPECT_EQ(v, 0x01020304u);
    delete f;

    // Three bytes: the byte-order byte and two data bytes.
    kivo_test::write_file(path("three.bin"), std::string("\1ab", 3));
    f = open_file("three.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 1);
    INT_U8 buf[4];
    EXPECT_EQ(f->read_data_block(buf, 4), 2);
    delete f;

    // An empty file reads as little-endian and empty.
    kivo_test::write_file(path("empty.bin"), "");
    f = open_file("empty.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 0);
    EXPECT_EQ(f->get_length(), 0);
    EXPECT_EQ(f->read_data_block(buf, 1), 0);
    delete f;
}

TEST_F(DataFileTest, WithoutByteOrderByteTheGivenOrderApplies)
{
    DATA_FILE* f = open_file("plain.bin", fm_write, 1, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 1);
    EXPECT_EQ(f->gz, nullptr); // compression only comes with the byte-order byte
    ASSERT_TRUE(put_u16(*f, 0x0102));
    delete f; // destroyed while open: the data still reaches the file
    EXPECT_EQ(kivo_test::read_file(path("plain.bin")), std::string("\1\2", 2));

    f = open_file("plain.bin", fm_read, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->get_length(), 2);
    INT_U16 v;
    ASSERT_TRUE(get_u16(*f, v));
    EXPECT_EQ(v, 0x0201);
    delete f;

    // Update without the byte starts at the end and keeps what is there.
    f = open_file("plain.bin", fm_update, 0);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->get_pos(), 2);
    ASSERT_TRUE(put_u8(*f, 9));
    EXPECT_EQ(f->set_pos(0, 0), 0);
    INT_U8 b;
    ASSERT_TRUE(get_u8(*f, b));
    EXPECT_EQ(b, 1);
    delete f;
    EXPECT_EQ(kivo_test::read_file(path("plain.bin")), std::string("\1\2\x09", 3));
}

TEST_F(DataFileTest, UpdateOfAnEmptyFileWritesTheByteOrderByte)
{
    kivo_test::write_file(path("u.bin"), "");
    DATA_FILE* f = open_file("u.bin", fm_update, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 0);
    EXPECT_EQ(f->get_pos(), 0);
    EXPECT_EQ(f->cache_start, 1);
    ASSERT_TRUE(put_u8(*f, 7));
    ASSERT_TRUE(f->close());
    delete f;
    EXPECT_EQ(kivo_test::read_file(path("u.bin")), std::string("\0\7", 2));

    // Update of a file that has data starts at its end.
    f = open_file("u.bin", fm_update, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->get_pos(), 1);
    EXPECT_EQ(f->get_length(), 1);
    delete f;
}

TEST_F(DataFileTest, PositionsCountUnflushedData)
{
    DATA_FILE* f = open_file("p.bin", fm_write, -1);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(write_str(*f, "0123456789"), 10);
    EXPECT_EQ(kivo_test::read_file(path("p.bin")).size(), 1u); // still in the cache
    EXPECT_EQ(f->set_pos(0, 0), 0);
    EXPECT_EQ(f->set_pos(0, 1), 10);
    EXPECT_EQ(f->get_pos(), 10);
    EXPECT_EQ(f->get_length(), 10);
    EXPECT_EQ(f->set_pos(-4, 1), 6);
    ASSERT_EQ(write_str(*f, "ab"), 2);
    EXPECT_EQ(f->set_pos(-11, 1), -1); // before the start
    EXPECT_EQ(f->get_pos(), 8);
    // Moving past the end lengthens nothing until something is written.
    EXPECT_EQ(f->set_pos(50, 0), 50);
    EXPECT_EQ(f->get_length(), 10);
    EXPECT_EQ(f->set_pos(0, 1), 10);
    EXPECT_EQ(f->set_pos(LONG_MAX, 0), -1); // no offset overflow
    EXPECT_EQ(f->set_pos(LONG_MAX - 5, 1), -1);
    delete f;
    EXPECT_EQ(kivo_test::read_file(path("p.bin")), std::string("\0" "012345ab89", 11));

    f = open_file("p.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->set_pos(1000, 0), 1000);
    EXPECT_EQ(f->get_length(), 10);
    EXPECT_EQ(read_str(*f, 4), "");
    EXPECT_EQ(f->set_pos(-2, 1), 8);
    EXPECT_EQ(read_str(*f, 4), "89");
    delete f;
}

TEST_F(DataFileTest, CacheWindowEdges)
{
    // A write of exactly the cache size bypasses the cache.
    DATA_FILE* f = open_file("w.bin", fm_write, -1);
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(write_str(*f, std::string(1024, 'a')), 1024);
    EXPECT_EQ(f->cache_used, 0);
    EXPECT_EQ(f->cache_start, 1025);
    // A write that would end exactly at the cache size flushes first.
    ASSERT_EQ(write_str(*f, std::string(1000, 'b')), 1000);
    EXPECT_EQ(f->cache_used, 1000);
    ASSERT_EQ(write_str(*f, std::string(24, 'c')), 24);
    EXPECT_EQ(f->cache_start, 2025);
    EXPECT_EQ(f->cache_used, 24);
    EXPECT_EQ(f->get_pos(), 2048);
    delete f;
    std::string want = std::string(1, '\0') + std::string(1024, 'a') + std::string(1000, 'b') + std::string(24, 'c');
    ASSERT_EQ(kivo_test::read_file(path("w.bin")), want);

    f = open_file("w.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_str(*f, 10), std::string(10, 'a'));
    EXPECT_EQ(f->cache_start, 1);
    EXPECT_EQ(f->cache_used, 1024);
    // The window's far end is still inside: only the position moves.
    EXPECT_EQ(f->set_pos(1024, 0), 1024);
    EXPECT_EQ(f->cache_pos, 1024);
    EXPECT_FALSE(f->is_at_end());
    EXPECT_EQ(read_str(*f, 3), "bbb"); // refilled from the next byte
    EXPECT_EQ(f->cache_start, 1025);
    // Before the window: flushed and sought.
    EXPECT_EQ(f->set_pos(0, 0), 0);
    EXPECT_EQ(f->cache_used, 0);
    EXPECT_EQ(f->cache_start, 1);
    // Reads larger than the cache are stitched from several refills.
    EXPECT_EQ(read_str(*f, 5000), want.substr(1));
    EXPECT_TRUE(f->is_at_end());
    delete f;
}

TEST_F(DataFileTest, UnreadCacheBytesMeanNotAtEnd)
{
    kivo_test::write_file(path("e.bin"), std::string("\0abc", 4));
    DATA_FILE* f = open_file("e.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(read_str(*f, 1), "a");
    EXPECT_TRUE(std::feof(f->fp)); // the whole file is in the cache
    EXPECT_FALSE(f->is_at_end());
    EXPECT_EQ(read_str(*f, 5), "bc");
    EXPECT_TRUE(f->is_at_end());
    EXPECT_EQ(f->set_pos(0, 0), 0);
    EXPECT_FALSE(f->is_at_end());
    delete f;
}

TEST_F(DataFileTest, BadSizesAndWrongOpensAreRefused)
{
    kivo_test::write_file(path("x.bin"), std::string("\0abc", 4));
    DATA_FILE* f = open_file("x.bin", fm_update, -1);
    ASSERT_NE(f, nullptr);
    INT_U8 buf[8] = {};
    EXPECT_EQ(f->read_data_block(buf, -1), 0);
    EXPECT_EQ(f->read_data_block(buf, 0), 0);
    EXPECT_EQ(f->read_data_block(nullptr, 4), 0);
    EXPECT_EQ(f->read_data_block(buf, 0x80000000L), 0);
    EXPECT_EQ(f->write_data_block(buf, -5), 0);
    EXPECT_EQ(f->write_data_block(buf, 0x80000000L), 0);
    EXPECT_EQ(f->get_pos(), 3);
    EXPECT_FALSE(f->open(path("x.bin").c_str(), fm_read, -1, 0)); // already open
    delete f;
    EXPECT_EQ(kivo_test::read_file(path("x.bin")), std::string("\0abc", 4));

    DATA_FILE g(1024);
    EXPECT_FALSE(g.open(static_cast<const char*>(nullptr), fm_read, -1, 0));
    EXPECT_FALSE(g.open("", fm_read, -1, 0));
    EXPECT_FALSE(g.open(path("missing.bin").c_str(), fm_read, -1, 0));
    EXPECT_FALSE(g.open(dir.c_str(), fm_read, 0, 0)); // a folder is no data file
    EXPECT_FALSE(g.open(path("x.bin").c_str(), static_cast<FILE_MODE>(3), -1, 0));
    EXPECT_FALSE(g.open(path("x.bin").c_str(), fm_update, -1, 1)); // no compressed update
    EXPECT_FALSE(g.is_open());
    EXPECT_TRUE(g.open(path("x.bin").c_str(), fm_read, static_cast<char>(-1), 0));
    EXPECT_STREQ(g.folder, dir.c_str());
    EXPECT_TRUE(g.close());
    EXPECT_TRUE(g.close()); // closing twice is harmless
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

TEST_F(DataFileTest, WrongDirectionTransfersAreFatal)
{
    kivo_test::write_file(path("d.bin"), std::string("\0abc", 4));
    EXPECT_EXIT(
        {
            DATA_FILE* f = open_file("d.bin", fm_read, -1);
            INT_U8 b = 0;
            f->write_data_block(&b, 1);
        },
        ::testing::ExitedWithCode(1), "opened for reading");
    EXPECT_EXIT(
        {
            DATA_FILE* f = open_file("d2.bin", fm_write, -1);
            INT_U8 b = 0;
            f->read_data_block(&b, 1);
        },
        ::testing::ExitedWithCode(1), "opened for writing");
}

TEST_F(DataFileTest, UpdateModeMatchesAnInMemoryModel)
{
    for (int seed = 1; seed <= 6; ++seed)
    {
        std::mt19937 rng(static_cast<unsigned>(seed));
        int byte_order = seed % 2 ? -1 : 0;
        long ob = byte_order == -1 ? 1 : 0;
        std::string model(static_cast<size_t>(rng() % 3000), '\0');
        for (char& c : model)
            c = static_cast<char>(rng());
        std::string name = "m" + std::to_string(seed) + ".bin";
        kivo_test::write_file(path(name), (ob ? std::string(1, '\0') : std::string()) + model);

        DATA_FILE* f = open_file(name, fm_update, byte_order);
        ASSERT_NE(f, nullptr);
        long pos = static_cast<long>(model.size());
        ASSERT_EQ(f->get_pos(), pos);
        for (int op = 0; op < 400; ++op)
        {
            SCOPED_TRACE("seed " + std::to_string(seed) + " op " + std::to_string(op));
            unsigned kind = rng() % 10;
            // Mostly small transfers, sometimes larger than the cache.
            long n = rng() % 8 == 0 ? static_cast<long>(rng() % 2500) + 1 : static_cast<long>(rng() % 40) + 1;
            if (kind < 3)
            {
                long len = static_cast<long>(model.size());
                long target;
                if (rng() % 2)
                {
                    // Now and then past the end: that adds nothing until written.
                    target = static_cast<long>(rng() % static_cast<unsigned>(len + len / 4 + 50));
                    ASSERT_EQ(f->set_pos(target, 0), target);
                }
                else
                {
                    long back = static_cast<long>(rng() % static_cast<unsigned>(len + 1));
                    target = len - back;
                    ASSERT_EQ(f->set_pos(-back, 1), target);
                }
                pos = target;
            }
            else if (kind < 6)
            {
                std::string got = read_str(*f, n);
                long len = static_cast<long>(model.size());
                std::string want = pos < len ? model.substr(static_cast<size_t>(pos), static_cast<size_t>(n)) : "";
                ASSERT_EQ(got, want);
                pos += static_cast<long>(got.size());
            }
            else
            {
                std::string data(static_cast<size_t>(n), '\0');
                for (char& c : data)
                    c = static_cast<char>(rng());
                ASSERT_EQ(write_str(*f, data), n);
                if (static_cast<long>(model.size()) < pos + n)
                    model.resize(static_cast<size_t>(pos + n), '\0');
                model.replace(static_cast<size_t>(pos), static_cast<size_t>(n), data);
                pos += n;
            }
            ASSERT_EQ(f->get_pos(), pos);
            ASSERT_EQ(f->get_length(), static_cast<long>(model.size()));
        }
        ASSERT_TRUE(f->close());
        delete f;
        ASSERT_EQ(kivo_test::read_file(path(name)), (ob ? std::string(1, '\0') : std::string()) + model);
    }
}

TEST_F(DataFileTest, CompressedFilesUseStandardGzipFraming)
{
    std::string payload;
    for (int i = 0; i < 5000; ++i)
        payload += "Elf" + std::to_string(i % 97) + ",";
    DATA_FILE* f = open_file("z.gz", fm_write, -1, 1);
    ASSERT_NE(f, nullptr);
    ASSERT_NE(f->gz, nullptr);
    ASSERT_EQ(write_str(*f, payload.substr(0, 100)), 100);
    ASSERT_EQ(write_str(*f, payload.substr(100)), static_cast<long>(payload.size()) - 100);
    EXPECT_EQ(f->set_pos(5, 0), -1); // no going back in a compressed stream
    EXPECT_EQ(f->get_pos(), static_cast<long>(payload.size()));
    ASSERT_TRUE(f->close());
    delete f;

    std::string raw = kivo_test::read_file(path("z.gz"));
    ASSERT_GE(raw.size(), 18u);
    EXPECT_EQ(raw.substr(0, 3), "\x1F\x8B\x08");
    EXPECT_LT(raw.size(), payload.size() / 2);
    // The gzip program reads it back, byte-order byte first.
    EXPECT_EQ(shell("gzip -dc '" + path("z.gz") + "'"), std::string(1, '\0') + payload);

    f = open_file("z.gz", fm_read, -1, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 0);
    EXPECT_EQ(f->get_length(), static_cast<long>(payload.size()));
    EXPECT_EQ(read_str(*f, 7), payload.substr(0, 7));
    EXPECT_EQ(f->set_pos(-10, 1), static_cast<long>(payload.size()) - 10);
    EXPECT_EQ(read_str(*f, 100), payload.substr(payload.size() - 10));
    EXPECT_TRUE(f->is_at_end());
    EXPECT_EQ(f->set_pos(3, 0), 3); // backwards, re-read from the start
    EXPECT_FALSE(f->is_at_end());
    EXPECT_EQ(read_str(*f, 4), payload.substr(3, 4));
    delete f;

    // A big-endian file compressed by the gzip program.
    kivo_test::write_file(path("be"), std::string("\1\0\0\1\0", 5));
    ASSERT_EQ(shell("gzip -n '" + path("be") + "'"), "");
    f = open_file("be.gz", fm_read, -1, 1);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->swap, 1);
    INT_U32 v;
    ASSERT_TRUE(get_u32(*f, v));
    EXPECT_EQ(v, 256u);
    delete f;

    // Truncated and corrupt compressed files fail to open and leave nothing open.
    kivo_test::write_file(path("cut.gz"), raw.substr(0, raw.size() / 2));
    EXPECT_EQ(open_file("cut.gz", fm_read, -1, 1), nullptr);
    std::string bad = raw;
    bad[bad.size() - 6] ^= 0x55; // CRC no longer matches
    kivo_test::write_file(path("bad.gz"), bad);
    EXPECT_EQ(open_file("bad.gz", fm_read, -1, 1), nullptr);
}

TEST_F(DataFileTest, PoolLendsBuffersAndSurvivesRebuilds)
{
    DATA_FILE::set_cache_buffers_sz(2);
    ASSERT_EQ(DATA_FILE::cache_buffers_sz, 2);
    INT_U8* first;
    {
        DATA_FILE a(4096);
        EXPECT_EQ(a.cache_slot, 0);
        first = a.cache;
        DATA_FILE b(2048);
        EXPECT_EQ(b.cache_slot, 1);
        DATA_FILE c(2048); // pool full: own buffer
        EXPECT_EQ(c.cache_slot, -1);
    }
    EXPECT_EQ(DATA_FILE::cache_buffer_in_use[0], 0);
    {
        DATA_FILE a(3000); // fits the 4096-byte slot
        EXPECT_EQ(a.cache_slot, 0);
        EXPECT_EQ(a.cache, first);
        EXPECT_EQ(a.cache_sz, 4096);
        DATA_FILE big(8192); // larger than both slots, none empty
        EXPECT_EQ(big.cache_slot, -1);

        // Rebuilt while `a` still holds its buffer: `a` frees it itself.
        DATA_FILE::set_cache_buffers_sz(1);
        DATA_FILE d(1024);
        EXPECT_EQ(d.cache_slot, 0);
        EXPECT_NE(d.cache, first);
        ASSERT_TRUE(a.open(path("pool.bin").c_str(), fm_write, -1, 0));
        ASSERT_TRUE(put_u32(a, 5));
    }
    EXPECT_EQ(kivo_test::read_file(path("pool.bin")), std::string("\0\5\0\0\0", 5));
    DATA_FILE::set_cache_buffers_sz(0);
    EXPECT_EQ(DATA_FILE::cache_buffers, nullptr);
    DATA_FILE e(1024);
    EXPECT_EQ(e.cache_slot, -1);
}
