// PARAMETER: conversions and clamping, text forms, and the record.
#include "memory_data_device.h"
#include "param.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using kivo_test::MEMORY_DATA_DEVICE;
using Bytes = std::vector<INT_U8>;

// A parameter of type t with limits lo..hi and value v, all set as numbers.
struct NUMBER : PARAMETER
{
    NUMBER(PARAM_TYPE t, double lo, double hi, double v)
    {
        reset_to_type(t);
        set(max, hi);
        set(min, lo);
        set(value, v);
    }
};

std::string str(PARAMETER& p, PARAMETER::VALUE_TYPE& slot, long size = 64)
{
    char out[64] = "untouched";
    p.get_str(slot, out, size);
    return out;
}

Bytes record(PARAMETER& p, INT_U8 swap)
{
    MEMORY_DATA_DEVICE d;
    d.swap = swap;
    EXPECT_TRUE(p.put_to_data_device(d));
    return d.data;
}

TEST(Parameter, SettingClampsIntoTheLimitsWithMaxWinningWhenTheyCross)
{
    NUMBER p(2, -10, 10, 0);
    p.set(p.value, 500L);
    EXPECT_EQ(p.get_long(p.value), 10);
    p.set(p.value, "-30");
    EXPECT_EQ(p.get_long(p.value), -10);
    p.set(p.min, 20L);
    EXPECT_EQ(p.get_long(p.value), 10);

    NUMBER u8(1, 0, 255, 0);
    u8.set(u8.value, "300"); // 300 & 0xFF
    EXPECT_EQ(u8.get_long(u8.value), 44);
    u8.set(u8.value, "junk");
    EXPECT_EQ(u8.get_long(u8.value), 44);
    u8.set(u8.value, static_cast<const char*>(nullptr));
    EXPECT_EQ(u8.get_long(u8.value), 44);

    NUMBER d(7, -1.5, 1.5, 0);
    d.set(d.value, 2.75);
    EXPECT_EQ(d.get_double(d.value), 1.5);
}

TEST(Parameter, EveryTypeConvertsEachWay)
{
    // One value set as a double into each numeric type, read every way.
    struct Row
    {
        PARAM_TYPE type;
        double set;
        long as_long;
        unsigned long as_ulong;
        double as_double;
        const char* text;
    };
    const double nan = std::nan("");
    const Row rows[] = {
        {0, -3.9, -3, static_cast<unsigned long>(-3L), -3, "-3"},
        {0, 200, -56, static_cast<unsigned long>(-56L), -56, "-56"}, // narrowed to 8 bits
        {1, -1, 255, 255, 255, "255"},
        {4, nan, 0, 0, 0, "0"},
        {4, 1e30, -1, static_cast<unsigned long>(-1L), -1, "-1"}, // the 64-bit maximum, narrowed
        {5, -7, 0, 0, 0, "0"},                                    // limited to 0 first
        {5, 1e12, 4294967295L, 4294967295UL, 4294967295.0, "4294967295"},
        {6, -3.7, -3, 0, -3.7f, "-3.70"},
        {7, -0.999, 0, 0, -0.999, "-1.00"},
        {7, 1e30, INT64_MAX, 4294967295UL, 1e30, "1000000000000000019884624838656.00"},
        {7, -1e30, INT64_MIN, 0, -1e30, "-1000000000000000019884624838656.00"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "type " << r.type << " set " << r.set);
        // Limits at the extremes of each width.
        const double lo[] = {-128, 0, -32768, 0, -2147483648.0, 0, -1e30, -1e300};
        const double hi[] = {127, 255, 32767, 65535, 2147483647.0, 4294967295.0, 1e30, 1e300};
        NUMBER p(r.type, lo[r.type], hi[r.type], 0);
        p.set(p.value, r.set);
        EXPECT_EQ(p.get_long(p.value), r.as_long);
        EXPECT_EQ(p.get_ulong(p.value), r.as_ulong);
        EXPECT_DOUBLE_EQ(p.get_double(p.value), r.as_double);
        EXPECT_EQ(p.get_ptr(p.value), reinterpret_cast<void*>(r.as_long));
        EXPECT_EQ(str(p, p.value), r.text);
    }
    NUMBER d(7, -1e300, 1e300, 0);
    d.value.d = nan;
    EXPECT_EQ(d.get_long(d.value), 0);
    EXPECT_EQ(d.get_ulong(d.value), 0u);

    // The other setters.
    NUMBER s32(4, -2147483648.0, 2147483647.0, 0);
    s32.set(s32.value, 4294967295UL); // low 32 bits
    EXPECT_EQ(s32.get_long(s32.value), -1);

    PARAMETER t("12abc");
    EXPECT_EQ(t.get_long(t.value), 12);
    EXPECT_EQ(t.get_double(t.value), 12.0);
    t.set(t.value, static_cast<void*>(nullptr)); // "(nil)" reads back as null
    t.set(t.value, t.value.text);                // its own text
    EXPECT_EQ(t.get_ptr(t.value), nullptr);
    t.set(t.value, static_cast<const char*>(nullptr));
    EXPECT_STREQ(t.value.text, "");

    PARAMETER p;
    p.reset_to_type(9);
    char text[] = "shared";
    p.set(p.value, text);
    EXPECT_EQ(p.value.ptr, text); // kept, not copied
    p.set(p.value, -0x100000001L);
    EXPECT_EQ(p.get_double(p.value), -4294967297.0); // signed 64-bit

    PARAMETER unknown;
    unknown.reset_to_type(12);
    unknown.set(unknown.value, 5L);
    EXPECT_EQ(unknown.get_long(unknown.value), 0);
    EXPECT_EQ(str(unknown, unknown.value), "untouched");
}

TEST(Parameter, TextFormsAreBoundedBySize)
{
    PARAMETER t("abcdef");
    EXPECT_EQ(str(t, t.value, 4), "abc");
    EXPECT_EQ(str(t, t.value, 1), "");
    EXPECT_EQ(str(t, t.value, 0), "untouched");
    EXPECT_EQ(str(t, t.min), ""); // null text

    NUMBER d(7, -1e300, 1e300, 1e300);
    EXPECT_EQ(str(d, d.value, 6), "10000");
    EXPECT_EQ(str(d, d.value, -3), "untouched");

    // As a text, the whole number is kept.
    t.set(t.value, 1e300);
    std::string whole = t.value.text;
    EXPECT_EQ(whole.size(), 304u);
    EXPECT_EQ(whole.substr(0, 6), "100000");
    EXPECT_EQ(whole.substr(301), ".00");
}

TEST(Parameter, ResetToTypeBothWays)
{
    NUMBER p(4, 1, 9, 5);
    p.reset_to_type(8);
    for (PARAMETER::VALUE_TYPE* slot : {&p.value, &p.min, &p.max}) {
        ASSERT_NE(slot->text, nullptr);
        EXPECT_STREQ(slot->text, "");
    }
    p.set(p.min, "low");
    p.set(p.max, "high");
    p.reset_to_type(4); // the texts go (LeakSanitizer), the slots are 0
    EXPECT_EQ(p.value.ptr, nullptr);
    EXPECT_EQ(p.min.ptr, nullptr);
    EXPECT_EQ(p.max.ptr, nullptr);
}

TEST(Parameter, RecordsHaveExactBytesInBothOrdersAndReadBackWhole)
{
    PARAMETER hi("hi");
    EXPECT_EQ(record(hi, 0), Bytes({8, 2, 0, 0, 0, 'h', 'i', 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(record(hi, 1), Bytes({8, 0, 0, 0, 2, 'h', 'i', 0, 0, 0, 0, 0, 0, 0, 0}));

    NUMBER s16(2, -2, 0x1234, 0x102);
    EXPECT_EQ(record(s16, 0), Bytes({2, 0x02, 0x01, 0xFE, 0xFF, 0x34, 0x12}));
    EXPECT_EQ(record(s16, 1), Bytes({2, 0x01, 0x02, 0xFF, 0xFE, 0x12, 0x34}));
    NUMBER f(6, 0, 2, 1);
    EXPECT_EQ(record(f, 1), Bytes({6, 0x3F, 0x80, 0, 0, 0, 0, 0, 0, 0x40, 0, 0, 0}));

    PARAMETER ptr;
    ptr.reset_to_type(9);
    ptr.set(ptr.min, -2L);
    ptr.set(ptr.value, reinterpret_cast<void*>(0x1122334455667788L)); // all 8 bytes kept
    Bytes b = record(ptr, 0);
    ASSERT_EQ(b.size(), 25u);
    EXPECT_EQ(Bytes(b.begin() + 1, b.begin() + 17),
              Bytes({0x88, 0x77, 0x66, 0x55, 0x44, 0x33, 0x22, 0x11, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));

    PARAMETER unknown;
    unknown.reset_to_type(200);
    EXPECT_EQ(record(unknown, 0), Bytes({200}));

    // Read back in the same byte order, each gives its record again.
    NUMBER u32(5, 3, 4000000000.0, 123456789);
    NUMBER d(7, -0.5, 1e200, 3.25);
    hi.set(hi.max, "top");
    PARAMETER* all[] = {&hi, &s16, &f, &ptr, &unknown, &u32, &d};
    for (INT_U8 swap = 0; swap < 2; swap++) {
        for (PARAMETER* p : all) {
            SCOPED_TRACE(testing::Message() << "type " << p->type << " swap " << static_cast<int>(swap));
            Bytes bytes = record(*p, swap);
            MEMORY_DATA_DEVICE in(bytes);
            in.swap = swap;
            PARAMETER back("old");
            ASSERT_TRUE(back.get_from_data_device(in));
            EXPECT_EQ(in.pos, static_cast<long>(bytes.size()));
            EXPECT_EQ(record(back, swap), bytes);
        }
    }
    // An empty text is stored as length 0 and comes back null.
    PARAMETER empty("");
    MEMORY_DATA_DEVICE in(record(empty, 0));
    PARAMETER back("old");
    ASSERT_TRUE(back.get_from_data_device(in));
    EXPECT_EQ(back.value.text, nullptr);

    // Limits read back clamp the value: max wins.
    MEMORY_DATA_DEVICE crossed(Bytes{2, 50, 0, 20, 0, 10, 0});
    ASSERT_TRUE(back.get_from_data_device(crossed));
    EXPECT_EQ(back.get_long(back.value), 10);
}

TEST(Parameter, DamagedRecordsFailWithoutHarm)
{
    PARAMETER text("abc");
    text.set(text.min, "m");
    Bytes good = record(text, 0);
    // Cut after every byte, read by parameters of every old type: false,
    // and nothing that is not a text is left in a text slot (ASan).
    for (size_t cut = 0; cut < good.size(); cut++) {
        for (PARAM_TYPE old : {4u, 8u, 9u}) {
            SCOPED_TRACE(testing::Message() << "cut " << cut << " old type " << old);
            NUMBER p(old, 0, 0, 0);
            if (old == 9) {
                p.set(p.max, reinterpret_cast<void*>(0x5151));
            } else if (old == 4) {
                p.min.s32 = p.max.s32 = -1;
                p.value.s32 = -1;
            }
            MEMORY_DATA_DEVICE in(Bytes(good.begin(), good.begin() + static_cast<long>(cut)));
            EXPECT_FALSE(p.get_from_data_device(in));
            EXPECT_EQ(in.error, 1);
            if (cut > 0) {
                EXPECT_EQ(p.type, 8u);
                EXPECT_EQ(p.max.text, nullptr);
            }
        }
    }
    // Lengths the device cannot supply fail without asking for them.
    for (INT_U32 length : {0xFFFFFFFFu, 0x7FFFFFFFu, 3u}) {
        Bytes b = {8, 0, 0, 0, 0, 'a', 'b'};
        encode_u32(b.data() + 1, length, 0);
        MEMORY_DATA_DEVICE in(b);
        PARAMETER p("old");
        EXPECT_FALSE(p.get_from_data_device(in));
        EXPECT_EQ(p.value.text, nullptr);
    }
}

} // namespace
