#include "data_device.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

using kivo_test::MEMORY_DATA_DEVICE;

namespace {

std::string hex(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        out += "0123456789ABCDEF"[c >> 4], out += "0123456789ABCDEF"[c & 15];
    }
    return out;
}

} // namespace

TEST(DataDeviceFields, ExactBytesInBothOrdersAndBack)
{
    const char* want[2] = {"81FE"
                           "3412"
                           "0080"
                           "EFCDAB89"
                           "F0FFFFFF"
                           "0000C03F"
                           "00000000000000C0"
                           "7879"
                           "03000000456C66",
                           "81FE"
                           "1234"
                           "8000"
                           "89ABCDEF"
                           "FFFFFFF0"
                           "3FC00000"
                           "C000000000000000"
                           "7879"
                           "00000003456C66"};
    for (INT_U8 swap = 0; swap < 2; ++swap) {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(put_u8(d, 0x81) && put_s8(d, -2) && put_u16(d, 0x1234) && put_s16(d, -32768) &&
                    put_u32(d, 0x89ABCDEF) && put_s32(d, -16) && put_float(d, 1.5f) && put_double(d, -2.0) &&
                    put_bytes(d, "xy", 2) && put_string(d, "Elf"));
        EXPECT_EQ(hex(d.str()), want[swap]);

        d.set_pos(0, 0);
        struct
        {
            INT_U8 u8;
            INT_S8 s8;
            INT_U16 u16;
            INT_S16 s16;
            INT_U32 u32;
            INT_S32 s32;
            float f;
            double g;
        } v;
        char raw[2], *t = nullptr;
        ASSERT_TRUE(get_u8(d, v.u8) && get_s8(d, v.s8) && get_u16(d, v.u16) && get_s16(d, v.s16) && get_u32(d, v.u32) &&
                    get_s32(d, v.s32) && get_float(d, v.f) && get_double(d, v.g) && get_bytes(d, raw, 2) &&
                    get_string(d, &t));
        EXPECT_TRUE(v.u8 == 0x81 && v.s8 == -2 && v.u16 == 0x1234 && v.s16 == -32768 && v.u32 == 0x89ABCDEFu &&
                    v.s32 == -16 && v.f == 1.5f && v.g == -2.0 && raw[0] == 'x' && raw[1] == 'y')
            << "swap " << int(swap);
        EXPECT_STREQ(t, "Elf");
        std::free(t);
        EXPECT_EQ(d.error, 0);
    }
}

TEST(DataDeviceFields, ShortTransfersSetTheErrorFlagAndKeepTheValue)
{
    MEMORY_DATA_DEVICE d(std::string("\x01\x02\x03", 3));
    INT_U32 v = 7;
    INT_U16 w = 0;
    double g = 5;
    EXPECT_FALSE(get_u32(d, v));
    EXPECT_TRUE(d.error == 1 && v == 7u);
    d.set_pos(0, 0);
    EXPECT_TRUE(get_u16(d, w) && d.error == 0); // a good transfer clears the flag again
    EXPECT_FALSE(get_double(d, g));
    EXPECT_TRUE(d.error == 1 && g == 5.0);

    MEMORY_DATA_DEVICE out;
    out.fail_after(5);
    EXPECT_TRUE(put_u32(out, 1) && !put_u16(out, 2)); // cut short after one byte
    EXPECT_FALSE(put_bytes(out, "ab", -1));
    EXPECT_TRUE(put_bytes(out, nullptr, 0) && out.error == 0); // nothing to move is no failure
}

TEST(DataDeviceFields, TextRecordsRefuseCorruptLengths)
{
    // Negative; almost 2 GiB over three bytes; cut short.
    for (const char* len : {"\x00\x00\x00\x80", "\xFF\xFF\xFF\x7F", "\x04\x00\x00\x00"}) {
        MEMORY_DATA_DEVICE d(std::string(len, 4) + "xyz");
        char* t = reinterpret_cast<char*>(1);
        EXPECT_FALSE(get_string(d, &t));
        EXPECT_TRUE(t == nullptr && d.error == 1);
    }

    // Long texts arrive across several growth steps.
    const long n = 3L * 1024 * 1024 + 17;
    std::string text(static_cast<size_t>(n), 'q');
    text[static_cast<size_t>(n - 1)] = 'z';
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(put_string(d, text.c_str()));
    d.set_pos(4, 0);
    char* buf = nullptr;
    long alloc = 0;
    ASSERT_TRUE(read_text_bytes(d, static_cast<INT_U32>(n), &buf, &alloc, 50));
    EXPECT_EQ(buf, text);
    // A short device leaves a valid, empty buffer behind.
    d.set_pos(4 + n - 10, 0);
    EXPECT_FALSE(read_text_bytes(d, static_cast<INT_U32>(n), &buf, &alloc, 50));
    EXPECT_STREQ(buf, "");
    std::free(buf);
    // A 2 GiB claim over ten bytes grows the buffer no faster than bytes arrive.
    buf = nullptr;
    alloc = 0;
    MEMORY_DATA_DEVICE few(std::string(10, 'x'));
    EXPECT_FALSE(read_text_bytes(few, 0x7FFFFFFFu, &buf, &alloc, 50));
    EXPECT_LE(alloc, 2L << 20);
    std::free(buf);
}

TEST(DataDeviceFields, PathBlocksHoldTextNulAndZeros)
{
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(put_path_block(d, "$APPDATA/fonts"));
    // A text that cannot keep its NUL is refused and nothing is written.
    EXPECT_FALSE(put_path_block(d, std::string(DATA_PATH_BLOCK_SZ, 'a').c_str()));
    EXPECT_EQ(d.error, 1);
    std::string expect = "$APPDATA/fonts";
    expect.resize(DATA_PATH_BLOCK_SZ, '\0');
    EXPECT_EQ(d.str(), expect);

    // A block read without any NUL still ends inside the block; a cut block reads as empty.
    MEMORY_DATA_DEVICE raw(std::string(DATA_PATH_BLOCK_SZ, 'b')), cut(std::string(100, 'b'));
    char out[DATA_PATH_BLOCK_SZ];
    ASSERT_TRUE(get_path_block(raw, out));
    EXPECT_EQ(out, std::string(DATA_PATH_BLOCK_SZ - 1, 'b'));
    EXPECT_FALSE(get_path_block(cut, out));
    EXPECT_STREQ(out, "");
}
