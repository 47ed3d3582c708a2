// The image cache: sharing by use count, scaled copies without the disk,
// failed loads, private copies for edits, soft clearing and the record.
#include "image_test_util.h"
#include "errors.h"
#include "image_cache.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

using kivo_test::MEMORY_DATA_DEVICE;
using namespace imgtest;

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

class ImageCacheTest : public ImageFolderTest
{
protected:
    IMAGE_CACHE cache;
    IMAGE* open(const char* name, short w = -1, short h = -1, INT_U8 flags = 0, IMAGE_CACHE* in = nullptr)
    {
        return (in ? in : &cache)->open_image(alias, name, w, h, flags);
    }
    int uses(IMAGE* image) { return cache.get_entry(image)->uses; }
};

} // namespace

TEST_F(ImageCacheTest, SameSizeIsSharedOtherSizesScaledFromCachedPixels)
{
    write_png("a", 4, 2, 0xFF445566u);
    IMAGE* natural = cache.open_image(folder, "a", -1, -1);
    ASSERT_NE(natural, nullptr);
    EXPECT_EQ(open("a"), natural);
    EXPECT_EQ(cache.duplicate(natural), natural);
    EXPECT_EQ(uses(natural), 3);
    for (int i = 0; i < 3; i++)
        cache.do_close(cache.get_entry(natural));
    // The shared cache keeps unused entries for later; a freeing one does not.
    EXPECT_EQ(entries(cache), 1);
    IMAGE_CACHE freeing(true);
    freeing.do_close(freeing.get_entry(open("a", -1, -1, 0, &freeing)));
    EXPECT_EQ(entries(freeing), 0);

    // Other sizes come from the cached pixels, without the disk.
    ASSERT_EQ(std::remove(path("a.png").c_str()), 0);
    IMAGE* big = open("a", 8, 4);
    ASSERT_TRUE(big && big->width == 8 && big->height == 4);
    EXPECT_EQ(px(*big, 7, 3), 0xFF445566u);
    EXPECT_EQ(cache.get_image_orig_width(big), 4);
    EXPECT_EQ(cache.get_image_orig_height(big), 2);
    // Flag 4 takes the unscaled picture as it is; -1 x -1 matches the newest
    // shareable entry, whatever its size.
    EXPECT_EQ(open("a", 20, 20, IMAGE_CACHE::OPEN_ANY_SIZE), natural);
    EXPECT_EQ(open("a"), big);
    // Only one side given: the natural size of a fresh load.
    write_png("b", 6, 3, 0xFF000000u);
    IMAGE* half = open("b", 12, -1);
    EXPECT_TRUE(half && half->width == 6);
    // Another folder is another picture; images without an owner have none.
    EXPECT_EQ(cache.open_image("$APP", "a", -1, -1), nullptr);
    CANVAS loose(9, 8);
    EXPECT_EQ(cache.get_image_orig_height(&loose), 8);
    EXPECT_TRUE(cache.duplicate(&loose) == nullptr && cache.get_entry(nullptr) == nullptr);
}

TEST_F(ImageCacheTest, FailedLoadsAndLookupsFollowTheirFlags)
{
    EXPECT_EQ(open("late", -1, -1, IMAGE_CACHE::OPEN_LOOKUP_ONLY), nullptr);
    EXPECT_EQ(open("late", -1, -1, IMAGE_CACHE::OPEN_NO_FAILED_ENTRY), nullptr);
    EXPECT_EQ(entries(cache), 0);
    // Without flag 1 the failure is remembered: the file arriving later is
    // not seen, until flag 2 reloads the exact match.
    EXPECT_EQ(open("late"), nullptr);
    write_png("late", 2, 2, 0xFF0000FFu);
    EXPECT_EQ(open("late"), nullptr);
    EXPECT_EQ(entries(cache), 1);
    IMAGE* now = open("late", -1, -1, IMAGE_CACHE::OPEN_RELOAD);
    EXPECT_TRUE(now && px(*now, 1, 1) == 0xFF0000FFu);
    // Nor does a remembered failure become a blank picture at another size.
    EXPECT_EQ(open("gone"), nullptr);
    EXPECT_EQ(open("gone", 8, 8), nullptr);

    IMAGE_CACHE freeing(true);
    EXPECT_EQ(open("none", -1, -1, 0, &freeing), nullptr);
    EXPECT_EQ(entries(freeing), 0);
}

TEST_F(ImageCacheTest, EditsGiveThePrivateCopyAndLeaveOthersAlone)
{
    write_png("a", 3, 3, 0xFF808080u);
    IMAGE* mine = open("a");
    IMAGE* theirs = open("a");
    cache.replace_colour(mine, 0xFF808080u, 0xFF00FF00u);
    ASSERT_NE(mine, theirs);
    EXPECT_EQ(px(*mine, 1, 1), 0xFF00FF00u);
    EXPECT_EQ(px(*theirs, 1, 1), 0xFF808080u);
    EXPECT_TRUE(cache.get_entry(mine)->custom);
    // A custom entry is never handed to others.
    EXPECT_EQ(open("a"), theirs);
    cache.set_trialpha_colours(mine, 0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu);
    EXPECT_EQ(px(*theirs, 1, 1), 0xFF808080u);
    // A scaled entry of one use is edited in place (an unscaled one is
    // copied even then, to keep the unedited picture).
    IMAGE *scaled = open("a", 6, 6), *before = scaled;
    cache.make_custom(scaled);
    EXPECT_TRUE(scaled == before && cache.get_entry(scaled)->custom);
}

TEST_F(ImageCacheTest, ResizeSwitchesToASharedSizeOrScalesInPlaceOrCopies)
{
    write_png("a", 4, 4, 0xFF101010u);
    IMAGE *natural = open("a"), *at8 = open("a", 8, 8), *ref = open("a", 4, 4);
    ASSERT_EQ(ref, natural);
    // An entry of that size exists: the reference moves to it.
    cache.resize_image(ref, 8, 8);
    EXPECT_EQ(ref, at8);
    EXPECT_EQ(uses(at8), 2);
    EXPECT_EQ(uses(natural), 1);
    // Shared: a copy is made and scaled; the others keep theirs.
    cache.resize_image(ref, 5, 6);
    EXPECT_TRUE(ref != at8 && ref->width == 5 && ref->height == 6);
    EXPECT_EQ(at8->width, 8);
    // Scaled and the only user: scaled in place. Negative sizes and the
    // current size change nothing.
    IMAGE* before = ref;
    cache.resize_image(ref, 7, 7);
    cache.resize_image(ref, -1, 7);
    EXPECT_TRUE(ref == before && ref->width == 7 && cache.get_entry(ref)->req_width == 7);
}

TEST_F(ImageCacheTest, ImagesOfAnotherCacheAreIgnored)
{
    write_png("a", 2, 2, 0xFF202020u);
    IMAGE_CACHE second;
    IMAGE *image = open("a"), *other = open("a", -1, -1, 0, &second);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(second.get_entry(image), nullptr);
    second.do_close(cache.get_entry(image));
    EXPECT_EQ(uses(image), 1);
    EXPECT_EQ(second.duplicate(image), nullptr);
    IMAGE* ref = image;
    second.resize_image(ref, 9, 9);
    second.recolour(ref, 0xFFFF0000u);
    EXPECT_TRUE(ref == image && ref->width == 2);
    EXPECT_EQ(entries(second), 1);
    EXPECT_EQ(second.get_entry(other)->uses, 1);
}

TEST_F(ImageCacheTest, SoftClearOrphansHeldEntriesAndFreesTheRest)
{
    write_png("a", 2, 2, 0xFF303030u);
    write_png("b", 2, 2, 0xFF404040u);
    IMAGE* held = open("a");
    cache.do_close(cache.get_entry(open("b")));
    cache.soft_clear();
    EXPECT_EQ(entries(cache), 1);
    EXPECT_TRUE(cache.get_entry(held)->orphaned);
    // Invisible to lookups and to the record; freed at its last close.
    EXPECT_NE(open("a"), held);
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(cache.put_to_data_device(d));
    EXPECT_EQ(d.data[1], 1); // one entry: the fresh one
    cache.do_close(cache.get_entry(held));
    EXPECT_EQ(entries(cache), 1);
    cache.clear();
    EXPECT_EQ(entries(cache), 0);
}

TEST_F(ImageCacheTest, RecordRoundTripsShareableEntriesInBothByteOrders)
{
    write_png("a", 3, 2, 0xFF515253u);
    write_png("b", 2, 2, 0x80616263u);
    ASSERT_TRUE(open("a") && open("b", 4, 4));
    IMAGE* custom = open("b"); // not stored
    cache.make_custom(custom);
    for (INT_U8 swap : {INT_U8(0), INT_U8(1)}) {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(cache.put_to_data_device(d));
        d.pos = 0;
        IMAGE_CACHE back;
        ASSERT_TRUE(back.get_from_data_device(d));
        ASSERT_EQ(entries(back), 2);
        EXPECT_TRUE(back.head->uses == 0 && back.get_entry(&back.head->image) == back.head);
        // Found again without the disk.
        IMAGE* again = open("b", 4, 4, IMAGE_CACHE::OPEN_LOOKUP_ONLY, &back);
        EXPECT_TRUE(again && px(*again, 3, 3) == 0x80616263u);
        IMAGE* first = open("a", -1, -1, IMAGE_CACHE::OPEN_LOOKUP_ONLY, &back);
        EXPECT_TRUE(first && back.get_entry(first)->orig_width == 3);
    }
}

TEST_F(ImageCacheTest, DamagedRecordsFailAndKeepWhatWasRead)
{
    // Entry 1 has a folder block without any terminator; entry 2 the given
    // name length and two bytes of name.
    for (INT_U32 length : {0xFFFFFFFFu, 5000u, 100u}) {
        MEMORY_DATA_DEVICE d;
        put_u8(d, 2);
        put_u32(d, 2);
        put_bytes(d, std::string(2048, 'f').data(), 2048);
        put_entry_tail(d);
        put_bytes(d, std::string(2048, '\0').data(), 2048);
        put_u32(d, length);
        put_bytes(d, "yy", 2);
        d.pos = 0;
        EXPECT_FALSE(cache.get_from_data_device(d)) << length;
        ASSERT_EQ(entries(cache), 1);
        EXPECT_EQ(std::strlen(cache.head->folder), 2047u);
    }
    MEMORY_DATA_DEVICE empty;
    EXPECT_FALSE(cache.get_from_data_device(empty));

    // A folder naming an alias nobody registered fails the read with an
    // error instead of ending the program when it is positioned (found by
    // the fuzzer); a registered custom path passes. An old (version 1)
    // FOLDER record becomes the path string of the place it names, "$APP"
    // when that place no longer exists.
    auto record = [](INT_U8 version, INT_U8 kind, const char* folder) {
        MEMORY_DATA_DEVICE d;
        put_u8(d, version);
        put_u32(d, 1);
        if (version < 2)
            put_u8(d, kind);
        put_path_block(d, folder);
        put_entry_tail(d);
        d.pos = 0;
        return d;
    };
    FOLDER::add_custom_path("$PICS", folder);
    const std::string here = dir;
    const struct { INT_U8 version, kind; const char* stored; const char* read; } cases[] = {
        {1, 0xFF, "$..\xAF\xAF/images", nullptr}, {2, 0xFF, "$..\xAF\xAF/images", nullptr},
        {1, 0xFF, "$NOPE/images", nullptr},       {2, 0xFF, "$NOPE/images", nullptr},
        {2, 0xFF, "$PICS/images", "$PICS/images"}, {2, 0xFF, "$appdata/images", "$appdata/images"},
        {1, 0xFF, "$PICS", alias},                 {1, 0xFF, "$PICS/gone", "$APP"},
        {1, 17, "/no/such/folder", "$APP"},        {1, 17, here.c_str(), alias},
        {1, 3, "/", "$APP"},
    };
    for (const auto& c : cases) {
        set_error_code(ERRCODE_NONE, nullptr);
        MEMORY_DATA_DEVICE d = record(c.version, c.kind, c.stored);
        EXPECT_EQ(cache.get_from_data_device(d), c.read != nullptr) << +c.version << c.stored;
        EXPECT_EQ(current_error_code, c.read ? ERRCODE_NONE : ERRCODE_FILE_READ) << c.stored;
        if (c.read && cache.head) {
            EXPECT_STREQ(cache.head->folder, c.read) << +c.version << c.stored;
        }
    }
    FOLDER::remove_custom_path("$PICS");
}
