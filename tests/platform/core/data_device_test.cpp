#include "data_device.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

using kivo_test::MEMORY_DATA_DEVICE;

namespace {

std::string hex(const std::string& s)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s)
    {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void put_everything(DATA_DEVICE& d)
{
    EXPECT_TRUE(put_u8(d, 0x81));
    EXPECT_TRUE(put_s8(d, -2));
    EXPECT_TRUE(put_u16(d, 0x1234));
    EXPECT_TRUE(put_s16(d, -2));
    EXPECT_TRUE(put_u32(d, 0x89ABCDEF));
    EXPECT_TRUE(put_s32(d, -16));
    EXPECT_TRUE(put_float(d, 1.5f));
    EXPECT_TRUE(put_double(d, -2.0));
    EXPECT_TRUE(put_bytes(d, "xy", 2));
    EXPECT_TRUE(put_string(d, "Elf"));
}

} // namespace

TEST(DataDeviceFields, LittleEndianByDefaultBigEndianWhenSwapped)
{
    MEMORY_DATA_DEVICE le;
    put_everything(le);
    EXPECT_EQ(hex(le.str()),
              "81FE"
              "3412"
              "FEFF"
              "EFCDAB89"
              "F0FFFFFF"
              "0000C03F"
              "00000000000000C0"
              "7879"
              "03000000456C66");
    EXPECT_EQ(le.error, 0);

    MEMORY_DATA_DEVICE be;
    be.swap = 1;
    put_everything(be);
    EXPECT_EQ(hex(be.str()),
              "81FE"
              "1234"
              "FFFE"
              "89ABCDEF"
              "FFFFFFF0"
              "3FC00000"
              "C000000000000000"
              "7879"
              "00000003456C66");
}

TEST(DataDeviceFields, EveryTypeRoundTripsInBothOrders)
{
    for (INT_U8 swap = 0; swap < 2; ++swap)
    {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(put_u8(d, 255));
        ASSERT_TRUE(put_s8(d, -128));
        ASSERT_TRUE(put_u16(d, 0xFFFE));
        ASSERT_TRUE(put_s16(d, -32768));
        ASSERT_TRUE(put_u32(d, 0xFFFFFFFEu));
        ASSERT_TRUE(put_s32(d, std::numeric_limits<INT_S32>::min()));
        ASSERT_TRUE(put_float(d, -0.0f));
        ASSERT_TRUE(put_double(d, 1.0 / 3.0));
        ASSERT_TRUE(put_double(d, std::numeric_limits<double>::infinity()));
        ASSERT_TRUE(put_string(d, nullptr));
        ASSERT_TRUE(put_string(d, "\xE9t\xE9"));

        d.set_pos(0, 0);
        INT_U8 u8v = 0;
        INT_S8 s8v = 0;
        INT_U16 u16v = 0;
        INT_S16 s16v = 0;
        INT_U32 u32v = 0;
        INT_S32 s32v = 0;
        float f = 1;
        double g = 0, inf = 0;
        char* t1 = nullptr;
        char* t2 = nullptr;
        ASSERT_TRUE(get_u8(d, u8v) && get_s8(d, s8v) && get_u16(d, u16v) && get_s16(d, s16v));
        ASSERT_TRUE(get_u32(d, u32v) && get_s32(d, s32v) && get_float(d, f));
        ASSERT_TRUE(get_double(d, g) && get_double(d, inf));
        ASSERT_TRUE(get_string(d, &t1) && get_string(d, &t2));
        EXPECT_EQ(u8v, 255);
        EXPECT_EQ(s8v, -128);
        EXPECT_EQ(u16v, 0xFFFE);
        EXPECT_EQ(s16v, -32768);
        EXPECT_EQ(u32v, 0xFFFFFFFEu);
        EXPECT_EQ(s32v, std::numeric_limits<INT_S32>::min());
        EXPECT_TRUE(f == 0.0f && std::signbit(f));
        EXPECT_EQ(g, 1.0 / 3.0);
        EXPECT_TRUE(std::isinf(inf));
        EXPECT_STREQ(t1, "");
        EXPECT_STREQ(t2, "\xE9t\xE9");
        std::free(t1);
        std::free(t2);
        EXPECT_EQ(d.error, 0);
        EXPECT_EQ(d.get_pos(), static_cast<long>(d.data.size()));
    }
}

TEST(DataDeviceFields, ShortTransfersSetTheErrorFlagAndKeepTheValue)
{
    MEMORY_DATA_DEVICE d(std::string("\x01\x02\x03", 3));
    INT_U32 v = 7;
    EXPECT_FALSE(get_u32(d, v));
    EXPECT_EQ(d.error, 1);
    EXPECT_EQ(v, 7u);
    d.set_pos(0, 0);
    INT_U16 w = 0;
    EXPECT_TRUE(get_u16(d, w));
    EXPECT_EQ(d.error, 0); // a good transfer clears the flag again
    double g = 5;
    EXPECT_FALSE(get_double(d, g));
    EXPECT_EQ(g, 5.0);

    MEMORY_DATA_DEVICE out;
    out.fail_after(5);
    EXPECT_TRUE(put_u32(out, 1));
    EXPECT_FALSE(put_u16(out, 2));
    EXPECT_EQ(out.error, 1);
    EXPECT_FALSE(put_u8(out, 3));
    EXPECT_FALSE(put_bytes(out, "ab", -1));
    EXPECT_TRUE(put_bytes(out, nullptr, 0)); // nothing to move is no failure
    EXPECT_EQ(out.error, 0);
}

TEST(DataDeviceFields, StringRecordsRefuseCorruptLengths)
{
    char* t = reinterpret_cast<char*>(1);
    // Length with the top bit set.
    MEMORY_DATA_DEVICE neg(std::string("\x00\x00\x00\x80xyz", 7));
    EXPECT_FALSE(get_string(neg, &t));
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(neg.error, 1);
    // Length far beyond the data: refused after reading what is there,
    // without reserving the claimed 2 GiB.
    MEMORY_DATA_DEVICE huge(std::string("\xFF\xFF\xFF\x7Fxyz", 7));
    EXPECT_FALSE(get_string(huge, &t));
    EXPECT_EQ(t, nullptr);
    // One byte missing.
    MEMORY_DATA_DEVICE cut(std::string("\x04\x00\x00\x00xyz", 7));
    EXPECT_FALSE(get_string(cut, &t));
    // Big-endian length.
    MEMORY_DATA_DEVICE be(std::string("\x00\x00\x00\x03xyz", 7));
    be.swap = 1;
    ASSERT_TRUE(get_string(be, &t));
    EXPECT_STREQ(t, "xyz");
    std::free(t);
}

TEST(DataDeviceFields, LongTextsArriveAcrossSeveralGrowthSteps)
{
    const long n = 3L * 1024 * 1024 + 17;
    std::string text(static_cast<size_t>(n), 'q');
    text[static_cast<size_t>(n - 1)] = 'z';
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(put_string(d, text.c_str()));
    d.set_pos(4, 0);
    char* buf = nullptr;
    long alloc = 0;
    ASSERT_TRUE(read_text_bytes(d, static_cast<INT_U32>(n), &buf, &alloc, 50));
    EXPECT_GE(alloc, n + 1);
    EXPECT_EQ(std::strlen(buf), static_cast<size_t>(n));
    EXPECT_EQ(buf[n - 1], 'z');

    // A short device leaves a valid, empty buffer behind.
    d.set_pos(4 + n - 10, 0);
    EXPECT_FALSE(read_text_bytes(d, static_cast<INT_U32>(n), &buf, &alloc, 50));
    ASSERT_NE(buf, nullptr);
    EXPECT_STREQ(buf, "");
    std::free(buf);

    // Zero length still gives a terminated buffer of the minimum size.
    buf = nullptr;
    alloc = 0;
    ASSERT_TRUE(read_text_bytes(d, 0, &buf, &alloc, 50));
    EXPECT_EQ(alloc, 50);
    EXPECT_STREQ(buf, "");
    std::free(buf);
}

TEST(DataDeviceFields, PathBlocksHoldTextNulAndZeros)
{
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(put_path_block(d, "$APPDATA/fonts"));
    ASSERT_EQ(d.data.size(), static_cast<size_t>(DATA_PATH_BLOCK_SZ));
    std::string expect = "$APPDATA/fonts";
    expect.resize(DATA_PATH_BLOCK_SZ, '\0');
    EXPECT_EQ(d.str(), expect);

    // A text that cannot keep its NUL is refused and nothing is written.
    std::string too_long(DATA_PATH_BLOCK_SZ, 'a');
    EXPECT_FALSE(put_path_block(d, too_long.c_str()));
    EXPECT_EQ(d.error, 1);
    EXPECT_EQ(d.data.size(), static_cast<size_t>(DATA_PATH_BLOCK_SZ));
    too_long.resize(DATA_PATH_BLOCK_SZ - 1);
    EXPECT_TRUE(put_path_block(d, too_long.c_str()));

    // A block read from a file without any NUL still ends inside the block.
    MEMORY_DATA_DEVICE raw(std::string(DATA_PATH_BLOCK_SZ, 'b'));
    char out[DATA_PATH_BLOCK_SZ];
    ASSERT_TRUE(get_path_block(raw, out));
    EXPECT_EQ(std::strlen(out), static_cast<size_t>(DATA_PATH_BLOCK_SZ - 1));

    MEMORY_DATA_DEVICE cut(std::string(100, 'b'));
    EXPECT_FALSE(get_path_block(cut, out));
    EXPECT_STREQ(out, "");
    EXPECT_EQ(cut.error, 1);
}

TEST(MemoryDataDevice, FailsAfterTheGivenNumberOfBytes)
{
    MEMORY_DATA_DEVICE d(std::string("abcdefgh"));
    d.fail_after(5);
    INT_U8 buf[8];
    EXPECT_EQ(d.read_data_block(buf, 3), 3);
    EXPECT_EQ(d.read_data_block(buf, 3), 2);
    EXPECT_EQ(d.read_data_block(buf, 3), 0);
    d.fail_after(-1);
    EXPECT_EQ(d.set_pos(-2, 1), 6);
    EXPECT_EQ(d.read_data_block(buf, 8), 2);
    EXPECT_EQ(d.set_pos(10, 0), 10);
    EXPECT_EQ(d.write_data_block(buf, 1), 1);
    EXPECT_EQ(d.data.size(), 11u);
    EXPECT_EQ(d.data[8], 0);
    EXPECT_EQ(d.set_pos(-1, 0), -1);
}
