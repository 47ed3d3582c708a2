// 256-colour PCX files (hand-built) and the raw image record.
#include "codec_fixtures.h"
#include "image.h"
#include "image_codec_util.h"
#include "kivo_logo.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <chrono>

using kivo_test::MEMORY_DATA_DEVICE;
using kivo_test::pixel;

namespace {

void put16(std::string& s, int v)
{
    s += char(v & 0xFF);
    s += char(v >> 8 & 0xFF);
}

// A PCX file: header, the given run-length data, marker and palette.
// Palette entry i is (i, 255 - i, i / 2) unless overridden.
std::string pcx(int x_min, int y_min, int x_max, int y_max, int bytes_per_line, const std::string& data,
                int manufacturer = 10, bool marker = true, int key_entry = -1)
{
    std::string s;
    s += char(manufacturer);
    s += char(5);
    s += char(1);
    s += char(8);
    put16(s, x_min);
    put16(s, y_min);
    put16(s, x_max);
    put16(s, y_max);
    put16(s, 72);
    put16(s, 72);
    s += std::string(48, '\0');
    s += char(0);
    s += char(1);
    put16(s, bytes_per_line);
    put16(s, 1);
    s += std::string(58, '\0');
    s += data;
    s += char(marker ? 12 : 0);
    for (int i = 0; i < 256; i++) {
        if (i == key_entry) {
            s += char(139), s += char(154), s += char(37);
        } else {
            s += char(i), s += char(255 - i), s += char(i / 2);
        }
    }
    return s;
}

COLOUR entry(int i)
{
    return 0xFF000000u | INT_U32(i) << 16 | INT_U32(255 - i) << 8 | INT_U32(i / 2);
}

bool read_pcx(IMAGE& image, const std::string& bytes)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_pcx(image, d);
}

} // namespace

TEST(PcxRead, RunsLiteralsAndTheTransparentKey)
{
    // 3 x 2, 4 bytes per line (the fourth is padding). Row 0: literal 5 and
    // a run of 3 x 200 (the last one lands in the padding). Row 1: an empty
    // run (0xC0, its value byte consumed, nothing emitted), then a run of
    // 4 x index 7, the entry that holds the transparent key.
    std::string data = "\x05\xC3\xC8\xC0\x63\xC4\x07";
    IMAGE image;
    ASSERT_TRUE(read_pcx(image, pcx(0, 0, 2, 1, 4, data, 10, true, 7)));
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), INT_U32(entry(5)));
    EXPECT_EQ(INT_U32(pixel(image, 1, 0)), INT_U32(entry(200)));
    EXPECT_EQ(INT_U32(pixel(image, 2, 0)), INT_U32(entry(200)));
    for (int x = 0; x < 3; x++)
        EXPECT_EQ(INT_U32(pixel(image, x, 1)), 0x008B9A25u) << x;

    // A run carries across the end of a row.
    ASSERT_TRUE(read_pcx(image, pcx(0, 0, 1, 1, 2, "\xC4\x09")));
    for (int y = 0; y < 2; y++)
        for (int x = 0; x < 2; x++)
            EXPECT_EQ(INT_U32(pixel(image, x, y)), INT_U32(entry(9)));

    // The size comes from x min .. x max and y min .. y max.
    ASSERT_TRUE(read_pcx(image, pcx(10, 20, 13, 20, 4, "\x01\x02\x03\x04")));
    EXPECT_EQ(image.width, 4);
    EXPECT_EQ(image.height, 1);
    EXPECT_EQ(INT_U32(pixel(image, 3, 0)), INT_U32(entry(4)));
}

TEST(PcxRead, BadHeadersFailBeforeTheImageIsTouchedAndShortDataEnds)
{
    IMAGE image;
    image.reset(2, 2);
    EXPECT_FALSE(read_pcx(image, pcx(0, 0, 1, 1, 2, "\x01\x01\x01\x01", 10, false)));
    EXPECT_FALSE(read_pcx(image, pcx(0, 0, 1, 1, 2, "\x01\x01\x01\x01", 11)));
    EXPECT_FALSE(read_pcx(image, pcx(0, 0, 40000, 0, 2, "")));
    EXPECT_FALSE(read_pcx(image, pcx(5, 0, 4, 0, 2, "")));
    EXPECT_FALSE(read_pcx(image, pcx(0, 0, 32766, 32766, 2, "")));
    EXPECT_FALSE(read_pcx(image, "short"));
    EXPECT_EQ(image.width, 2);
    EXPECT_EQ(image.height, 2);

    // Far more lines than data: decoding stops at the end of the file
    // (the palette bytes are the last data) instead of spinning.
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(read_pcx(image, pcx(0, 0, 0, 32766, 65535, "\x01")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(image.height, 32767);
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), INT_U32(entry(1)));
    EXPECT_EQ(INT_U32(pixel(image, 0, 32766)), 0u);
}

TEST(PcxWrite, PaletteIsBuiltAsPixelsAppearAndCappedAt255)
{
    // 300 distinct colours: the first 255 keep theirs, the rest take index 0.
    IMAGE image;
    image.reset(300, 1);
    for (int x = 0; x < 300; x++)
        image.pixels[x] = 0x80000000u | INT_U32(x) << 8 | INT_U32(x & 0xFF);
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(image_write_pcx(image, d));
    d.pos = 0;
    IMAGE back;
    ASSERT_TRUE(image_read_pcx(back, d));
    ASSERT_EQ(back.width, 300);
    for (int x = 0; x < 300; x++) {
        INT_U32 expected = 0xFF000000u | (INT_U32(x < 255 ? x : 0) << 8) | INT_U32(x < 255 ? x : 0);
        ASSERT_EQ(INT_U32(pixel(back, x, 0)), expected) << x;
    }
    // The palette holds exactly 255 used entries, then zeros.
    std::string bytes = kivo_test::bytes_of(d.data);
    std::string palette = bytes.substr(bytes.size() - 768);
    EXPECT_EQ(bytes[bytes.size() - 769], char(12));
    EXPECT_EQ(palette.substr(255 * 3), std::string(3, '\0'));

    // The key colour written out comes back transparent.
    IMAGE key;
    key.reset(2, 1);
    key.pixels[0] = 0xFF8B9A25u;
    key.pixels[1] = 0xFF010203u;
    MEMORY_DATA_DEVICE k;
    ASSERT_TRUE(image_write_pcx(key, k));
    k.pos = 0;
    ASSERT_TRUE(image_read_pcx(back, k));
    EXPECT_EQ(INT_U32(pixel(back, 0, 0)), 0x008B9A25u);
    EXPECT_EQ(INT_U32(pixel(back, 1, 0)), 0xFF010203u);
}

TEST(RawRecord, RoundTripsInBothByteOrdersWithItsExactLength)
{
    IMAGE image;
    image.reset(3, 2);
    for (int i = 0; i < 6; i++)
        image.pixels[(i / 3) * image.stride + i % 3] = 0x01020304u * INT_U32(i + 1);
    for (INT_U8 swap : {INT_U8(0), INT_U8(1)}) {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(image.put_to_data_device(d));
        EXPECT_EQ(d.data.size(), 15u + 24u);
        EXPECT_EQ(kivo_test::bytes_of(d.data).substr(0, 11), std::string("kivorawimg\x01"));
        // Width 3 in the device's order.
        EXPECT_EQ(d.data[11], swap ? 0 : 3);
        d.pos = 0;
        IMAGE back;
        ASSERT_TRUE(back.get_from_data_device(d));
        ASSERT_EQ(back.width, 3);
        ASSERT_EQ(back.height, 2);
        for (int y = 0; y < 2; y++)
            for (int x = 0; x < 3; x++)
                EXPECT_EQ(INT_U32(pixel(back, x, y)), INT_U32(pixel(image, x, y)));
    }
    // A 0 x 5 record is an empty image.
    IMAGE empty;
    empty.reset(0, 5);
    MEMORY_DATA_DEVICE e;
    ASSERT_TRUE(empty.put_to_data_device(e));
    e.pos = 0;
    IMAGE back;
    back.reset(4, 4);
    EXPECT_TRUE(back.get_from_data_device(e));
    EXPECT_EQ(back.width, 0);
    EXPECT_EQ(back.pixels, nullptr);
}

TEST(RawRecord, WrongTagVersionSizeOrLengthFails)
{
    IMAGE image;
    image.reset(3, 2);
    MEMORY_DATA_DEVICE good;
    ASSERT_TRUE(image.put_to_data_device(good));
    std::string bytes = kivo_test::bytes_of(good.data);

    auto read = [](IMAGE& into, const std::string& b) {
        MEMORY_DATA_DEVICE d(b);
        return into.get_from_data_device(d);
    };
    IMAGE target;
    target.reset(7, 7);
    std::string tag = bytes;
    tag[0] = 'K';
    EXPECT_FALSE(read(target, tag));
    std::string version = bytes;
    version[10] = 2;
    EXPECT_FALSE(read(target, version));
    std::string wide = bytes;
    wide[11] = char(0x40), wide[12] = char(0x9C); // 40000
    EXPECT_FALSE(read(target, wide));
    std::string huge = bytes;
    huge[11] = huge[12] = huge[13] = huge[14] = char(0x7F); // 32639 x 32639
    EXPECT_FALSE(read(target, huge));
    EXPECT_EQ(target.width, 7);
    // Truncated pixel data fails after the size was taken, and the device
    // records the failed transfer.
    MEMORY_DATA_DEVICE cut(bytes.substr(0, bytes.size() - 1));
    EXPECT_FALSE(target.get_from_data_device(cut));
    EXPECT_EQ(cut.error, 1);
    EXPECT_FALSE(read(target, bytes.substr(0, 12)));
}

TEST(EmbeddedImage, DefinitionsAndTheLogos)
{
    const INT_U8 def[] = {1, 0, 2, 0, 1, 0x10, 0x20, 0x30, 0xFF, 0x01, 0x02, 0x03, 0x00};
    IMAGE image;
    ASSERT_TRUE(image.load_embedded_image_def(def));
    ASSERT_EQ(image.width, 2);
    ASSERT_EQ(image.height, 1);
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), 0xFF302010u);
    EXPECT_EQ(INT_U32(pixel(image, 1, 0)), 0x00030201u);
    EXPECT_FALSE(image.load_embedded_image_def(nullptr));

    IMAGE logo, with_text;
    get_kivo_logo(logo);
    get_kivo_logo_with_text(with_text);
    EXPECT_EQ(logo.width, 80);
    EXPECT_EQ(logo.height, 75);
    EXPECT_EQ(with_text.width, 195);
    EXPECT_EQ(with_text.height, 80);
    // The badge is opaque in its middle and clear in its corner.
    EXPECT_EQ(INT_U32(pixel(logo, 40, 37)) >> 24, 255u);
    EXPECT_EQ(INT_U32(pixel(logo, 0, 0)) >> 24, 0u);
}
