// The image cache: sharing by use count, scaled copies without the disk,
// failed loads, private copies for edits, soft clearing and the record.
#include "codec_fixtures.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "image_cache.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using kivo_test::MEMORY_DATA_DEVICE;
using kivo_test::pixel;

namespace {

long entries(const IMAGE_CACHE& cache)
{
    long n = 0;
    for (IMAGE_CACHE::CACHE_ENTRY* e = cache.head; e; e = e->next)
        n++;
    return n;
}

// An entry after its folder field: the name "x", sizes 1 x 1, one pixel.
void put_entry_tail(DATA_DEVICE& d)
{
    put_u32(d, 1);
    put_bytes(d, "x", 1);
    for (int i = 0; i < 4; i++)
        put_u16(d, 1);
    IMAGE pic;
    pic.reset(1, 1);
    pic.put_to_data_device(d);
}

class ImageCacheTest : public kivo_test::ImageFolderTest
{
protected:
    void remove(const char* name) { ASSERT_EQ(std::remove(path(name).c_str()), 0); }
};

} // namespace

TEST_F(ImageCacheTest, SameFileAndSizeIsSharedByUseCount)
{
    write_png("a.png", 4, 2, 0xFF112233u);
    IMAGE_CACHE shared;
    IMAGE* one = shared.open_image(folder, "a", -1, -1);
    IMAGE* two = shared.open_image(alias, "a", -1, -1);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one, two);
    IMAGE_CACHE::CACHE_ENTRY* e = shared.get_entry(one);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->uses, 2);
    EXPECT_EQ(e->orig_width, 4);
    EXPECT_EQ(e->req_width, 4);
    EXPECT_EQ(shared.duplicate(one), one);
    EXPECT_EQ(e->uses, 3);
    for (int i = 0; i < 3; i++)
        shared.do_close(shared.get_entry(one));
    // The shared cache keeps unused entries for later.
    EXPECT_EQ(entries(shared), 1);
    EXPECT_EQ(e->uses, 0);
    EXPECT_EQ(shared.open_image(alias, "a", -1, -1), one);

    IMAGE_CACHE freeing(true);
    IMAGE* own = freeing.open_image(alias, "a", -1, -1);
    ASSERT_NE(own, nullptr);
    freeing.do_close(freeing.get_entry(own));
    EXPECT_EQ(entries(freeing), 0);

    // Sizes of images with and without an owner.
    IMAGE loose;
    loose.reset(9, 8);
    EXPECT_EQ(shared.get_image_orig_width(one), 4);
    EXPECT_EQ(shared.get_image_orig_height(one), 2);
    EXPECT_EQ(shared.get_image_orig_width(&loose), 9);
    EXPECT_EQ(shared.get_image_orig_height(nullptr), 0);
    EXPECT_EQ(shared.duplicate(&loose), nullptr);
    EXPECT_EQ(shared.get_entry(nullptr), nullptr);
}

TEST_F(ImageCacheTest, OtherSizesAreScaledFromCachedPixelsWithoutTheDisk)
{
    write_png("a.png", 4, 2, 0xFF445566u);
    IMAGE_CACHE cache;
    IMAGE* natural = cache.open_image(alias, "a", -1, -1);
    ASSERT_NE(natural, nullptr);
    remove("a.png");
    IMAGE* big = cache.open_image(alias, "a", 8, 4);
    ASSERT_NE(big, nullptr);
    EXPECT_NE(big, natural);
    EXPECT_EQ(big->width, 8);
    EXPECT_EQ(big->height, 4);
    EXPECT_EQ(INT_U32(pixel(*big, 7, 3)), 0xFF445566u);
    EXPECT_EQ(cache.get_image_orig_width(big), 4);
    // Flag 4 takes the unscaled picture as it is.
    EXPECT_EQ(cache.open_image(alias, "a", 20, 20, IMAGE_CACHE::OPEN_ANY_SIZE), natural);
    // -1 x -1 matches the newest shareable entry, whatever its size.
    EXPECT_EQ(cache.open_image(alias, "a", -1, -1), big);
    // Only one side given: the natural size of a fresh load.
    write_png("b.png", 6, 3, 0xFF000000u);
    IMAGE* half = cache.open_image(alias, "b", 12, -1);
    ASSERT_NE(half, nullptr);
    EXPECT_EQ(half->width, 6);
    // Another folder or name is another picture.
    EXPECT_EQ(cache.open_image("$APP", "a", -1, -1), nullptr);
}

TEST_F(ImageCacheTest, FailedLoadsAndLookupsFollowTheirFlags)
{
    IMAGE_CACHE cache;
    EXPECT_EQ(cache.open_image(alias, "late", -1, -1, IMAGE_CACHE::OPEN_LOOKUP_ONLY), nullptr);
    EXPECT_EQ(entries(cache), 0);
    EXPECT_EQ(cache.open_image(alias, "late", -1, -1, IMAGE_CACHE::OPEN_NO_FAILED_ENTRY), nullptr);
    EXPECT_EQ(entries(cache), 0);
    // Without flag 1 the failure is remembered: the file arriving later is
    // not seen.
    EXPECT_EQ(cache.open_image(alias, "late", -1, -1), nullptr);
    EXPECT_EQ(entries(cache), 1);
    write_png("late.png", 2, 2, 0xFF0000FFu);
    EXPECT_EQ(cache.open_image(alias, "late", -1, -1), nullptr);
    EXPECT_EQ(entries(cache), 1);
    // Flag 2 reloads the exact match from the disk.
    IMAGE* now = cache.open_image(alias, "late", -1, -1, IMAGE_CACHE::OPEN_RELOAD);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(INT_U32(pixel(*now, 1, 1)), 0xFF0000FFu);

    IMAGE_CACHE freeing(true);
    EXPECT_EQ(freeing.open_image(alias, "none", -1, -1), nullptr);
    EXPECT_EQ(entries(freeing), 0);
}

TEST_F(ImageCacheTest, EditsGiveThePrivateCopyAndLeaveOthersAlone)
{
    write_png("a.png", 3, 3, 0xFF808080u);
    IMAGE_CACHE cache;
    IMAGE* mine = cache.open_image(alias, "a", -1, -1);
    IMAGE* theirs = cache.open_image(alias, "a", -1, -1);
    cache.replace_colour(mine, 0xFF808080u, 0xFF00FF00u);
    ASSERT_NE(mine, theirs);
    EXPECT_EQ(INT_U32(pixel(*mine, 1, 1)), 0xFF00FF00u);
    EXPECT_EQ(INT_U32(pixel(*theirs, 1, 1)), 0xFF808080u);
    EXPECT_TRUE(cache.get_entry(mine)->custom);
    EXPECT_EQ(cache.get_entry(theirs)->uses, 1);
    // A custom entry is never handed to others.
    EXPECT_EQ(cache.open_image(alias, "a", -1, -1), theirs);
    cache.make_grey(mine);
    cache.recolour(mine, 0xFFFF0000u);
    cache.set_trialpha_colours(mine, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu);

    // An unscaled entry is copied even for its only user, so the unedited
    // picture stays available; a scaled one of one use is edited in place.
    IMAGE* scaled = cache.open_image(alias, "a", 6, 6);
    IMAGE* before = scaled;
    cache.make_custom(scaled);
    EXPECT_EQ(scaled, before);
    EXPECT_TRUE(cache.get_entry(scaled)->custom);
}

TEST_F(ImageCacheTest, ResizeSwitchesToASharedSizeOrScalesInPlaceOrCopies)
{
    write_png("a.png", 4, 4, 0xFF101010u);
    IMAGE_CACHE cache;
    IMAGE* natural = cache.open_image(alias, "a", -1, -1);
    IMAGE* at8 = cache.open_image(alias, "a", 8, 8);
    IMAGE* ref = cache.open_image(alias, "a", 4, 4);
    ASSERT_EQ(ref, natural);
    // An entry of that size exists: the reference moves to it.
    cache.resize_image(ref, 8, 8);
    EXPECT_EQ(ref, at8);
    EXPECT_EQ(cache.get_entry(at8)->uses, 2);
    EXPECT_EQ(cache.get_entry(natural)->uses, 1);
    // Shared: a copy is made and scaled; the others keep theirs.
    cache.resize_image(ref, 5, 6);
    EXPECT_NE(ref, at8);
    EXPECT_EQ(ref->width, 5);
    EXPECT_EQ(ref->height, 6);
    EXPECT_EQ(at8->width, 8);
    // Scaled and the only user: scaled in place.
    IMAGE* before = ref;
    cache.resize_image(ref, 7, 7);
    EXPECT_EQ(ref, before);
    EXPECT_EQ(ref->width, 7);
    EXPECT_EQ(cache.get_entry(ref)->req_width, 7);
    // Negative sizes and the current size change nothing.
    cache.resize_image(ref, -1, 7);
    cache.resize_image(ref, 7, 7);
    EXPECT_EQ(ref, before);
}

TEST_F(ImageCacheTest, ImagesOfAnotherCacheAreIgnored)
{
    write_png("a.png", 2, 2, 0xFF202020u);
    IMAGE_CACHE first, second;
    IMAGE* image = first.open_image(alias, "a", -1, -1);
    IMAGE* other = second.open_image(alias, "a", -1, -1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(second.get_entry(image), nullptr);
    second.do_close(first.get_entry(image));
    EXPECT_EQ(first.get_entry(image)->uses, 1);
    EXPECT_EQ(second.duplicate(image), nullptr);
    IMAGE* ref = image;
    second.resize_image(ref, 9, 9);
    second.recolour(ref, 0xFFFF0000u);
    EXPECT_EQ(ref, image);
    EXPECT_EQ(ref->width, 2);
    EXPECT_EQ(entries(second), 1);
    EXPECT_EQ(second.get_entry(other)->uses, 1);
}

TEST_F(ImageCacheTest, SoftClearOrphansHeldEntriesAndFreesTheRest)
{
    write_png("a.png", 2, 2, 0xFF303030u);
    write_png("b.png", 2, 2, 0xFF404040u);
    IMAGE_CACHE cache;
    IMAGE* held = cache.open_image(alias, "a", -1, -1);
    IMAGE* dropped = cache.open_image(alias, "b", -1, -1);
    cache.do_close(cache.get_entry(dropped));
    cache.soft_clear();
    EXPECT_EQ(entries(cache), 1);
    EXPECT_TRUE(cache.get_entry(held)->orphaned);
    // Invisible to lookups and to the record.
    IMAGE* fresh = cache.open_image(alias, "a", -1, -1);
    EXPECT_NE(fresh, held);
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(cache.put_to_data_device(d));
    EXPECT_EQ(d.data[1], 1); // one entry: the fresh one
    // Freed at its last close.
    cache.do_close(cache.get_entry(held));
    EXPECT_EQ(entries(cache), 1);
    cache.clear();
    EXPECT_EQ(entries(cache), 0);
}

TEST_F(ImageCacheTest, RecordRoundTripsShareableEntriesInBothByteOrders)
{
    write_png("a.png", 3, 2, 0xFF515253u);
    write_png("b.png", 2, 2, 0x80616263u);
    for (INT_U8 swap : {INT_U8(0), INT_U8(1)}) {
        IMAGE_CACHE cache;
        IMAGE* a = cache.open_image(alias, "a", -1, -1);
        IMAGE* b = cache.open_image(alias, "b", 4, 4);
        IMAGE* custom = cache.open_image(alias, "b", -1, -1);
        cache.make_custom(custom);
        ASSERT_TRUE(a && b && custom);
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(cache.put_to_data_device(d));
        d.pos = 0;

        IMAGE_CACHE back;
        ASSERT_TRUE(back.get_from_data_device(d));
        // a and b at 4 x 4; the custom copy of b is not stored.
        ASSERT_EQ(entries(back), 2);
        for (IMAGE_CACHE::CACHE_ENTRY* e = back.head; e; e = e->next) {
            EXPECT_EQ(e->uses, 0);
            EXPECT_STREQ(e->folder, alias);
            EXPECT_EQ(back.get_entry(&e->image), e);
        }
        // Found again without the disk.
        IMAGE* again = back.open_image(alias, "b", 4, 4, IMAGE_CACHE::OPEN_LOOKUP_ONLY);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(again->width, 4);
        EXPECT_EQ(INT_U32(pixel(*again, 3, 3)), 0x80616263u);
        IMAGE* first = back.open_image(alias, "a", -1, -1, IMAGE_CACHE::OPEN_LOOKUP_ONLY);
        ASSERT_NE(first, nullptr);
        EXPECT_EQ(back.get_entry(first)->orig_width, 3);
    }
}

TEST_F(ImageCacheTest, DamagedRecordsFailAndKeepWhatWasRead)
{
    auto record = [](INT_U32 name_length, char fill) {
        MEMORY_DATA_DEVICE d;
        put_u8(d, 2);
        put_u32(d, 2);
        // Entry 1: a folder block without any terminator.
        std::string folder(2048, fill);
        put_bytes(d, folder.data(), 2048);
        put_entry_tail(d);
        // Entry 2: a name length from the given value.
        put_bytes(d, std::string(2048, '\0').data(), 2048);
        put_u32(d, name_length);
        put_bytes(d, "yy", 2);
        d.pos = 0;
        return d;
    };
    IMAGE_CACHE cache;
    MEMORY_DATA_DEVICE huge = record(0xFFFFFFFFu, 'f');
    EXPECT_FALSE(cache.get_from_data_device(huge));
    ASSERT_EQ(entries(cache), 1);
    EXPECT_EQ(std::strlen(cache.head->folder), 2047u);
    MEMORY_DATA_DEVICE big = record(5000, 'f');
    EXPECT_FALSE(cache.get_from_data_device(big));
    // A plausible length whose bytes run out.
    MEMORY_DATA_DEVICE short_name = record(100, 'f');
    EXPECT_FALSE(cache.get_from_data_device(short_name));
    MEMORY_DATA_DEVICE empty;
    EXPECT_FALSE(cache.get_from_data_device(empty));
    MEMORY_DATA_DEVICE none;
    put_u8(none, 2);
    put_u32(none, 0);
    none.pos = 0;
    EXPECT_TRUE(cache.get_from_data_device(none));
    EXPECT_EQ(entries(cache), 0);
}

TEST_F(ImageCacheTest, RecordFoldersWithUnknownAliasesAreRefusedNotFatal)
{
    // Found by the fuzzer: a version 1 record whose folder names no known
    // alias ended the program when the folder was positioned.
    auto record = [](INT_U8 version, const char* folder) {
        MEMORY_DATA_DEVICE d;
        put_u8(d, version);
        put_u32(d, 1);
        if (version < 2)
            put_u8(d, 0xFF);
        put_path_block(d, folder);
        put_entry_tail(d);
        d.pos = 0;
        return d;
    };
    IMAGE_CACHE cache;
    for (INT_U8 version : {INT_U8(1), INT_U8(2)}) {
        MEMORY_DATA_DEVICE bad = record(version, "$..\xAF\xAF/images");
        EXPECT_FALSE(cache.get_from_data_device(bad));
        MEMORY_DATA_DEVICE good = record(version, "$appdata/images");
        EXPECT_TRUE(cache.get_from_data_device(good));
        ASSERT_NE(cache.head, nullptr);
        EXPECT_STREQ(cache.head->folder, "$appdata/images");
    }
    // An old record of a native location that no longer exists reads as "$APP".
    MEMORY_DATA_DEVICE native;
    put_u8(native, 1);
    put_u32(native, 1);
    put_u8(native, 17);
    put_path_block(native, "/no/such/folder");
    put_u32(native, 0);
    for (int i = 0; i < 4; i++)
        put_u16(native, 0);
    IMAGE().put_to_data_device(native);
    native.pos = 0;
    ASSERT_TRUE(cache.get_from_data_device(native));
    EXPECT_STREQ(cache.head->folder, "$APP");
    EXPECT_EQ(cache.head->file_name, nullptr);
}
