// 256-colour PCX files (hand-built), the raw image record and embedded
// definitions.
#include "data_file.h"
#include "image_codec_util.h"
#include "image_test_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <utility>
#include <vector>

using kivo_test::MEMORY_DATA_DEVICE;
using namespace imgtest;

namespace {

// A PCX file: header, the given run-length data, marker and palette.
// Palette entry i is (i, 255 - i, i / 2), or the transparent key at key_entry.
std::string pcx(int x_min, int y_min, int x_max, int y_max, int bytes_per_line, const std::string& data,
                int manufacturer = 10, bool marker = true, int key_entry = -1)
{
    std::string s{char(manufacturer), 5, 1, 8};
    for (int v : {x_min, y_min, x_max, y_max, 72, 72}) {
        s += {char(v & 0xFF), char(v >> 8 & 0xFF)};
    }
    s += std::string(49, '\0') + char(1) + char(bytes_per_line & 0xFF) + char(bytes_per_line >> 8) + '\1' + '\0';
    s += std::string(58, '\0') + data + char(marker ? 12 : 0);
    for (int i = 0; i < 256; i++) {
        s += i == key_entry ? std::string("\x8B\x9A\x25") : std::string{char(i), char(255 - i), char(i / 2)};
    }
    return s;
}

INT_U32 entry(int i)
{
    return 0xFF000000u | INT_U32(i) << 16 | INT_U32(255 - i) << 8 | INT_U32(i / 2);
}

bool read_pcx(IMAGE& image, const std::string& bytes)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image_read_pcx(image, d);
}

bool read_raw(IMAGE& image, const std::string& bytes)
{
    MEMORY_DATA_DEVICE d(bytes);
    return image.get_from_data_device(d);
}

} // namespace

TEST(PcxRead, RunsLiteralsAndTheTransparentKey)
{
    // 3 x 2, 4 bytes per line (the fourth is padding). Row 0: literal 5 and
    // a run of 3 x 200 (the last one lands in the padding). Row 1: an empty
    // run (0xC0, its value byte consumed, nothing emitted), then a run of
    // 4 x index 7, the entry that holds the transparent key.
    IMAGE image;
    ASSERT_TRUE(read_pcx(image, pcx(0, 0, 2, 1, 4, "\x05\xC3\xC8\xC0\x63\xC4\x07", 10, true, 7)));
    auto runs = [](int x, int y) { return y ? 0x008B9A25u : entry(x ? 200 : 5); };
    EXPECT_TRUE(same_picture(pattern(3, 2, runs), image));
    // A run carries across the end of a row.
    ASSERT_TRUE(read_pcx(image, pcx(0, 0, 1, 1, 2, "\xC4\x09")));
    EXPECT_TRUE(same_picture(solid(2, 2, entry(9)), image));
    // The size comes from x min .. x max and y min .. y max.
    ASSERT_TRUE(read_pcx(image, pcx(10, 20, 13, 20, 4, "\x01\x02\x03\x04")));
    EXPECT_TRUE(same_picture(pattern(4, 1, [](int x, int) { return entry(x + 1); }), image));
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
    EXPECT_TRUE(image.width == 2 && image.height == 2);

    // Runs of 63 pixels in 2 bytes are the most the data can hold: a
    // header claiming more pixels than that is refused before allocating.
    const struct
    {
        int w, h;
        std::string data;
        bool ok;
    } sizes[] = {
        {126, 1, "\xFF\x01\xFF\x01", true},
        {127, 1, "\xFF\x01\xFF\x01", false},
        {1, 32767, "\x01", false},
        {4100, 4100, std::string(533654, '\xFF'), true},
    };
    for (const auto& c : sizes) {
        image.reset(2, 2);
        EXPECT_EQ(read_pcx(image, pcx(0, 0, c.w - 1, c.h - 1, c.w, c.data)), c.ok) << c.w << " x " << c.h;
        EXPECT_EQ(image.width, c.ok ? c.w : 2) << c.w << " x " << c.h;
    }
}

TEST(RawRecord, RoundTripsInBothByteOrdersAndRefusesDamage)
{
    IMAGE image = pattern(3, 2, [](int x, int y) { return 0x01020304u * INT_U32(y * 3 + x + 1); });
    std::string bytes;
    for (INT_U8 swap : {INT_U8(1), INT_U8(0)}) {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(image.put_to_data_device(d));
        bytes = d.str();
        EXPECT_EQ(bytes.size(), 15u + 24u);
        EXPECT_EQ(bytes.substr(0, 12), std::string("kivorawimg\x01") + char(swap ? 0 : 3)); // width's order
        d.pos = 0;
        IMAGE back;
        ASSERT_TRUE(back.get_from_data_device(d));
        EXPECT_TRUE(same_picture(image, back));
    }
    // A 0 x 5 record is an empty image.
    IMAGE empty, back = solid(4, 4, 0);
    empty.reset(0, 5);
    MEMORY_DATA_DEVICE e;
    ASSERT_TRUE(empty.put_to_data_device(e));
    EXPECT_TRUE(read_raw(back, e.str()) && back.width == 0 && back.pixels == nullptr);

    // Wrong tag, version, a width of 40000 or 32639 x 32639: refused before
    // the target is touched.
    IMAGE target;
    target.reset(7, 7);
    const std::pair<int, const char*> patches[] = {{0, "K"}, {10, "\x02"}, {11, "\x40\x9C"}, {11, "\x7F\x7F\x7F\x7F"}};
    for (const auto& patch : patches) {
        std::string bad = bytes;
        bad.replace(size_t(patch.first), std::strlen(patch.second), patch.second);
        EXPECT_FALSE(read_raw(target, bad)) << patch.first;
    }
    EXPECT_EQ(target.width, 7);
    // Truncated pixel data fails, without taking a size the bytes left
    // cannot fill, and the device records the failure.
    MEMORY_DATA_DEVICE cut(bytes.substr(0, bytes.size() - 1));
    EXPECT_FALSE(target.get_from_data_device(cut));
    EXPECT_TRUE(cut.error == 1 && target.width == 7);
    EXPECT_FALSE(read_raw(target, bytes.substr(0, 12)));
}

TEST(EmbeddedImage, DefinitionsDecodeAsBgraBytes)
{
    const INT_U8 def[] = {1, 0, 2, 0, 1, 0x10, 0x20, 0x30, 0xFF, 0x01, 0x02, 0x03, 0x00};
    IMAGE image;
    ASSERT_TRUE(image.load_embedded_image_def(def));
    ASSERT_TRUE(image.width == 2 && image.height == 1);
    EXPECT_EQ(px(image, 0, 0), 0xFF302010u);
    EXPECT_EQ(px(image, 1, 0), 0x00030201u);
    EXPECT_FALSE(image.load_embedded_image_def(nullptr));
}

TEST(ImageReaders, LockedImagesRefuseFilesOfAnotherSize)
{
    IMAGE source = solid(3, 3, 0xFF123456u);
    for (char kind : {'p', 'j', 'x', 'r'}) {
        MEMORY_DATA_DEVICE d;
        ASSERT_TRUE(kind == 'p'   ? image_write_png(source, d)
                    : kind == 'j' ? image_write_jpg(source, d, 90, 0)
                    : kind == 'x' ? image_write_pcx(source, d)
                                  : source.put_to_data_device(d));
        d.pos = 0;
        IMAGE locked = solid(2, 2, 0xFF00FF00u);
        locked.locked = 1;
        EXPECT_FALSE(kind == 'p'   ? image_read_png(locked, d)
                     : kind == 'j' ? image_read_jpg(locked, d, -1, -1)
                     : kind == 'x' ? image_read_pcx(locked, d)
                                   : locked.get_from_data_device(d))
            << kind;
        EXPECT_TRUE(same_picture(solid(2, 2, 0xFF00FF00u), locked)) << kind;
        locked.locked = 0;
    }
}

namespace {

// The record read the plain way, pixel by pixel through decode_u32 into a
// zeroed picture, as w x h values row by row; empty when it fails.
std::vector<INT_U32> plain_raw_pixels(const std::string& record, INT_U8 swap)
{
    const INT_U8* b = reinterpret_cast<const INT_U8*>(record.data()) + 11;
    const long w = decode_u16(b, swap), h = decode_u16(b + 2, swap);
    std::vector<INT_U32> out(size_t(w * h), 0);
    if (record.size() < size_t(15 + w * h * 4)) {
        return {};
    }
    for (long i = 0; i < w * h; ++i) {
        out[size_t(i)] = decode_u32(b + 4 + 4 * i, swap);
    }
    return out;
}

std::vector<INT_U32> rows_of(const IMAGE& image)
{
    std::vector<INT_U32> out;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            out.push_back(px(image, x, y));
        }
    }
    return out;
}

} // namespace

TEST(RawRecord, ReadsTheSamePixelsAsThePlainReaderIntoUnzeroedMemory)
{
    // Odd widths have a padding column; 5000 is wider than a transfer
    // block; 800 x 600 is larger than a data file's cache, which it skips.
    const struct
    {
        int w, h;
    } sizes[] = {{1, 1}, {3, 2}, {5000, 3}, {257, 40}, {800, 600}};
    const std::string dir = kivo_test::make_temp_dir("raw");
    std::mt19937 rng(11);
    for (const auto& size : sizes) {
        for (INT_U8 swap : {INT_U8(0), INT_U8(1)}) {
            for (bool on_disk : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << size.w << " x " << size.h << " swap " << +swap << " disk " << on_disk);
                CANVAS picture(size.w, size.h, rng);
                MEMORY_DATA_DEVICE record;
                record.swap = swap;
                ASSERT_TRUE(picture.put_to_data_device(record));
                const std::vector<INT_U32> want = plain_raw_pixels(record.str(), swap);
                // Memory that held other pixels is likely handed out again.
                IMAGE target = solid(size.w + 9, size.h, 0xABABABABu);
                target.reset(1, 1);
                bool ok;
                if (on_disk) {
                    const std::string file = dir + "/p.bin";
                    ASSERT_TRUE(kivo_test::write_file(file, std::string(1, char(swap)) + record.str()));
                    DATA_FILE f(-1);
                    ASSERT_TRUE(f.open(file.c_str(), fm_read, -1, 0));
                    ok = target.get_from_data_device(f);
                } else {
                    record.pos = 0;
                    ok = target.get_from_data_device(record);
                }
                ASSERT_TRUE(ok);
                EXPECT_EQ(rows_of(target), want);
                for (int y = 0; y < target.height; ++y) {
                    for (int x = target.width; x < target.stride; ++x) {
                        EXPECT_EQ(target.pixels[long(y) * target.stride + x].value, 0u) << "padding " << y;
                    }
                }
                // Read again into the picture it now is: the same.
                if (!on_disk) {
                    record.pos = 0;
                    ASSERT_TRUE(target.get_from_data_device(record));
                    EXPECT_EQ(rows_of(target), want);
                }
            }
        }
    }

    // A device that stops part-way: the read fails and leaves the picture
    // zero, whether it stops in the first row or the last.
    CANVAS picture(257, 40, rng);
    MEMORY_DATA_DEVICE record;
    ASSERT_TRUE(picture.put_to_data_device(record));
    for (long stop : {16L, 15L + 257 * 4 * 20 + 6, long(record.data.size()) - 1}) {
        MEMORY_DATA_DEVICE cut(record.data);
        cut.fail_after(stop);
        IMAGE target = solid(300, 40, 0xABABABABu);
        target.reset(2, 2);
        EXPECT_FALSE(target.get_from_data_device(cut)) << stop;
        ASSERT_TRUE(target.width == 257 && target.height == 40);
        EXPECT_EQ(rows_of(target), std::vector<INT_U32>(257 * 40, 0u)) << stop;
    }
}
