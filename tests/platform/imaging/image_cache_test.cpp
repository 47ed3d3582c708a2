// The image cache: sharing by use count, scaled copies without the disk,
// failed loads, private copies for edits, soft clearing, the record, and
// hits through a FOLDER that never touch the disk.
#include "errors.h"
#include "image_cache.h"
#include "image_test_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using kivo_test::MEMORY_DATA_DEVICE;
using namespace imgtest;

namespace {

// Calls into the file system while `counting` is set. The definitions
// below stand in for the C library's in this binary (our libraries are
// linked in statically, so their calls come here) and pass every call on.
bool counting = false;
int disk_calls = 0;

template <typename F> F next_definition(const char* name)
{
    if (counting) {
        disk_calls++;
    }
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int stat(const char* __restrict path, struct stat* __restrict buf) noexcept
{
    return next_definition<int (*)(const char*, struct stat*)>("stat")(path, buf);
}

int lstat(const char* __restrict path, struct stat* __restrict buf) noexcept
{
    return next_definition<int (*)(const char*, struct stat*)>("lstat")(path, buf);
}

char* realpath(const char* __restrict path, char* __restrict out) noexcept
{
    return next_definition<char* (*)(const char*, char*)>("realpath")(path, out);
}

ssize_t readlink(const char* __restrict path, char* __restrict buf, size_t size) noexcept
{
    return next_definition<ssize_t (*)(const char*, char*, size_t)>("readlink")(path, buf, size);
}

int access(const char* path, int mode) noexcept
{
    return next_definition<int (*)(const char*, int)>("access")(path, mode);
}

int open(const char* path, int flags, ...)
{
    va_list args;
    va_start(args, flags);
    mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(args, mode_t) : 0;
    va_end(args);
    return next_definition<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

DIR* opendir(const char* path)
{
    return next_definition<DIR* (*)(const char*)>("opendir")(path);
}

FILE* fopen(const char* __restrict path, const char* __restrict mode)
{
    return next_definition<FILE* (*)(const char*, const char*)>("fopen")(path, mode);
}

} // extern "C"

namespace {

long entries(const IMAGE_CACHE& cache)
{
    long n = 0;
    for (IMAGE_CACHE::CACHE_ENTRY* e = cache.head; e; e = e->next) {
        n++;
    }
    return n;
}

// An entry after its folder field: the name "x", sizes 1 x 1, one pixel.
void put_entry_tail(DATA_DEVICE& d)
{
    put_u32(d, 1);
    put_bytes(d, "x", 1);
    for (int i = 0; i < 4; i++) {
        put_u16(d, 1);
    }
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
    for (int i = 0; i < 3; i++) {
        cache.do_close(cache.get_entry(natural));
    }
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
    EXPECT_EQ(cache.get_image_orig_height(big), 2);
    // Flag 4 takes the unscaled picture as it is; -1 x -1 matches the newest
    // shareable entry, whatever its size.
    EXPECT_EQ(open("a", 20, 20, IMAGE_CACHE::OPEN_ANY_SIZE), natural);
    EXPECT_EQ(open("a"), big);
    // Only one side given: the natural size of a fresh load.
    write_png("b", 6, 3, 0xFF000000u);
    IMAGE* half = open("b", 12, -1);
    EXPECT_TRUE(half && half->width == 6);
    // Another folder is another picture.
    EXPECT_EQ(cache.open_image("$APP", "a", -1, -1), nullptr);
}

// A file is read once whatever names it: its folder's alias in another
// letter case, a hard link, a symbolic link. Each new name shares the
// pixels held, a size asked for through one is scaled from them, and a file
// written anew is read anew.
TEST_F(ImageCacheTest, OneFileIsReadOnceThroughEveryName)
{
    write_png("a", 4, 2, 0xFF445566u);
    ASSERT_EQ(link(path("a.png").c_str(), path("hard.png").c_str()), 0);
    ASSERT_EQ(symlink(path("a.png").c_str(), path("soft.png").c_str()), 0);
    ASSERT_EQ(alias[0], '$');
    std::string lower = alias, upper = alias;
    for (size_t i = 1; i < lower.size() && lower[i] != '/'; i++) {
        lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(lower[i])));
        upper[i] = static_cast<char>(i % 2 ? std::tolower(static_cast<unsigned char>(upper[i])) : upper[i]);
    }
    ASSERT_NE(lower, alias);
    IMAGE* a = open("a");
    ASSERT_NE(a, nullptr);
    const struct
    {
        const std::string& folder;
        const char* name;
    } names[] = {{lower, "a"}, {upper, "a.png"}, {alias, "hard"}, {lower, "soft.png"}};
    for (const auto& n : names) {
        EXPECT_EQ(cache.open_image(n.folder.c_str(), n.name, -1, -1), a) << n.folder << " " << n.name;
    }
    EXPECT_EQ(cache.open_image(folder, "hard.png", -1, -1), a);
    EXPECT_EQ(entries(cache), 1);
    EXPECT_EQ(uses(a), 6);

    IMAGE* big = cache.open_image(lower.c_str(), "hard", 8, 4);
    ASSERT_TRUE(big && big != a && big->width == 8 && big->height == 4);
    EXPECT_EQ(px(*big, 7, 3), 0xFF445566u);
    EXPECT_EQ(cache.open_image(upper.c_str(), "soft", 8, 4), big);
    EXPECT_EQ(entries(cache), 2);

    write_png("a", 4, 2, 0xFF000000u);
    IMAGE* fresh = cache.open_image(upper.c_str(), "a", -1, -1);
    ASSERT_TRUE(fresh && fresh != a);
    EXPECT_EQ(px(*fresh, 0, 0), 0xFF000000u);
    EXPECT_EQ(px(*a, 0, 0), 0xFF445566u);
}

// What the entries hold together is bounded: a picture past the total is
// refused from its header with error 0x1007 and not remembered as failed;
// another name of a file held costs nothing; entries given back that were
// read from files make room, entries in use stay.
TEST_F(ImageCacheTest, ATotalBoundsThePixelsHeldTogether)
{
    IMAGE_CACHE limited(false, 0, 100);
    write_png("p", 8, 8, 0xFF102030u); // 64 pixels
    write_png("q", 6, 6, 0xFF405060u); // 36
    write_png("r", 2, 1, 0xFF708090u); // 2
    ASSERT_EQ(link(path("p.png").c_str(), path("p2.png").c_str()), 0);
    IMAGE* p = open("p", -1, -1, 0, &limited);
    IMAGE* q = open("q", -1, -1, 0, &limited);
    ASSERT_TRUE(p && q);
    set_error_code(ERRCODE_NONE, nullptr);
    EXPECT_EQ(open("r", -1, -1, 0, &limited), nullptr);
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    EXPECT_STREQ(current_arg_string, "r");
    EXPECT_EQ(open("q", 3, 3, 0, &limited), nullptr);
    EXPECT_EQ(entries(limited), 2);
    EXPECT_EQ(open("p2", -1, -1, 0, &limited), p);

    limited.do_close(limited.get_entry(p));
    EXPECT_EQ(open("r", -1, -1, 0, &limited), nullptr); // p is still used once
    limited.do_close(limited.get_entry(p));
    IMAGE* r = open("r", -1, -1, 0, &limited);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(px(*r, 1, 0), 0xFF708090u);
    EXPECT_EQ(entries(limited), 2);
    EXPECT_EQ(limited.get_entry(q)->uses, 1);
}

// The total follows every change to what the entries hold: an entry let
// go, a picture reloaded from a file written anew or gone, a scaled entry
// resized in place, a private copy given back at another size. Each step
// fills the total exactly, so a pixel miscounted either way shows.
TEST_F(ImageCacheTest, TheTotalFollowsEntriesLetGoReloadedAndResized)
{
    IMAGE_CACHE freeing(true, 0, 100); // nothing unused lingers to be dropped
    write_png("p", 8, 8, 0xFF102030u); // 64 pixels
    write_png("q", 6, 6, 0xFF405060u); // 36
    write_png("u", 8, 8, 0xFF708090u); // 64
    write_png("v", 4, 4, 0xFFA0B0C0u); // 16
    write_png("w", 5, 5, 0xFF102030u); // 25
    write_png("one", 1, 1, 0xFFD0E0F0u);
    auto fits = [&](const char* name) {
        IMAGE* image = open(name, -1, -1, 0, &freeing);
        freeing.do_close(freeing.get_entry(image));
        return image != nullptr;
    };
    IMAGE* p = open("p", -1, -1, 0, &freeing);
    IMAGE* q = open("q", -1, -1, 0, &freeing);
    ASSERT_TRUE(p && q);
    EXPECT_FALSE(fits("one"));
    freeing.do_close(freeing.get_entry(q)); // q goes
    EXPECT_TRUE(fits("q"));                 // 64 + 36
    ASSERT_NE(open("q", -1, -1, 0, &freeing), nullptr);

    // p written anew at 2 x 2 and reloaded: 4 + 36 held; then gone: 36;
    // then back at 8 x 8.
    write_png("p", 2, 2, 0xFF102030u);
    ASSERT_EQ(open("p", -1, -1, IMAGE_CACHE::OPEN_RELOAD, &freeing), p);
    EXPECT_TRUE(p->width == 2 && fits("v") && !fits("u"));
    ASSERT_EQ(std::remove(path("p.png").c_str()), 0);
    EXPECT_EQ(open("p", -1, -1, IMAGE_CACHE::OPEN_RELOAD, &freeing), nullptr);
    EXPECT_TRUE(fits("u"));
    write_png("p", 8, 8, 0xFF102030u);
    freeing.reload(p);
    EXPECT_TRUE(p->width == 8 && !fits("one"));

    // q scaled to 3 x 3 beside itself (9), then in place to 8 x 6 (48).
    for (int i = 0; i < 3; i++) { // the reloads counted uses too
        freeing.do_close(freeing.get_entry(p));
    }
    IMAGE* scaled = open("q", 3, 3, 0, &freeing);
    ASSERT_NE(scaled, nullptr);
    freeing.resize_image(scaled, 8, 6);
    IMAGE* v = open("v", -1, -1, 0, &freeing);
    EXPECT_TRUE(scaled->width == 8 && v && !fits("one")); // 36 + 48 + 16

    // A picture made private and shrunk by its caller counts at its new
    // size once given back (a keeping cache holds it unused, never drops it).
    IMAGE_CACHE keeping(false, 0, 100);
    IMAGE* mine = open("q", 6, 4, 0, &keeping); // 24
    keeping.make_custom(mine);
    ASSERT_TRUE(mine && keeping.get_entry(mine)->custom);
    mine->reset(1, 1);
    keeping.do_close(keeping.get_entry(mine));
    EXPECT_TRUE(open("u", -1, -1, 0, &keeping) && open("w", -1, -1, 0, &keeping)); // 1 + 64 + 25
}

// A file replaced under a name that an entry reloads from is that entry's
// file from then on: the new file's other names share it, the old file's
// do not, and among entries that hold one file the newest is still shared
// (also once the index has grown past its first table).
TEST_F(ImageCacheTest, SharingFollowsAFileReplacedUnderItsName)
{
    write_png("a", 4, 2, 0xFF445566u);
    ASSERT_EQ(link(path("a.png").c_str(), path("old.png").c_str()), 0);
    IMAGE* a = open("a");
    ASSERT_NE(a, nullptr);
    // Another file takes the name (a save would write into the linked file).
    write_png("next", 4, 2, 0xFF000000u);
    ASSERT_EQ(rename(path("next.png").c_str(), path("a.png").c_str()), 0);
    ASSERT_EQ(link(path("a.png").c_str(), path("new.png").c_str()), 0);
    ASSERT_EQ(open("a", -1, -1, IMAGE_CACHE::OPEN_RELOAD), a);
    EXPECT_EQ(open("new"), a);
    IMAGE* old = open("old");
    ASSERT_TRUE(old && old != a);
    EXPECT_EQ(px(*old, 0, 0), 0xFF445566u);

    write_png("x", 3, 3, 0xFF111111u);
    write_png("y", 3, 3, 0xFF222222u);
    IMAGE* x = open("x");
    IMAGE* y = open("y");
    for (int i = 0; i < 300; i++) {
        EXPECT_EQ(open(("none" + std::to_string(i)).c_str()), nullptr);
    }
    // x (the older entry) now reloads y's file: both hold it, y is newer.
    ASSERT_TRUE(unlink(path("x.png").c_str()) == 0 && link(path("y.png").c_str(), path("x.png").c_str()) == 0);
    ASSERT_TRUE(link(path("y.png").c_str(), path("z.png").c_str()) == 0);
    ASSERT_EQ(open("x", -1, -1, IMAGE_CACHE::OPEN_RELOAD), x);
    EXPECT_EQ(px(*x, 0, 0), 0xFF222222u);
    EXPECT_EQ(open("z"), y);
    // A size asked for through a new name is scaled from the newest.
    px(*y, 0, 0) = 0xFF333333u;
    IMAGE* big = open("z", 6, 6);
    ASSERT_TRUE(big && big != x && big != y);
    EXPECT_EQ(px(*big, 0, 0), 0xFF333333u);
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

TEST_F(ImageCacheTest, EditsGiveThePrivateCopyAndOtherCachesIgnoreTheImages)
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
    // A scaled entry of one use is edited in place (an unscaled one is
    // copied even then, to keep the unedited picture).
    IMAGE *scaled = open("a", 6, 6), *before = scaled;
    cache.make_custom(scaled);
    EXPECT_TRUE(scaled == before && cache.get_entry(scaled)->custom);

    // Another cache ignores these images, even beside its own entry of the
    // same file: no entry, close, copy or switch; sizes are the image's own.
    IMAGE_CACHE second;
    IMAGE *ref = theirs, *own = open("a", -1, -1, 0, &second);
    const int held = uses(theirs);
    EXPECT_EQ(second.get_entry(theirs), nullptr);
    second.do_close(cache.get_entry(theirs));
    EXPECT_EQ(uses(theirs), held);
    EXPECT_EQ(second.get_entry(own)->uses, 1);
    EXPECT_EQ(second.duplicate(theirs), nullptr);
    EXPECT_EQ(second.get_image_orig_height(theirs), 3);
    EXPECT_EQ(second.get_entry(nullptr), nullptr);
    second.resize_image(ref, 9, 9);
    second.recolour(ref, 0xFFFF0000u);
    EXPECT_TRUE(ref == theirs && ref->width == 3);
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
    // when that place no longer exists or is a host location; one leading
    // outside its alias's folder fails as an unknown alias does.
    auto record = [](INT_U8 version, INT_U8 kind, const char* folder) {
        MEMORY_DATA_DEVICE d;
        put_u8(d, version);
        put_u32(d, 1);
        if (version < 2) {
            put_u8(d, kind);
        }
        put_path_block(d, folder);
        put_entry_tail(d);
        d.pos = 0;
        return d;
    };
    FOLDER::add_custom_path("$PICS", folder);
    const std::string here = dir;
    const struct
    {
        INT_U8 version, kind;
        const char* stored;
        const char* read;
    } cases[] = {
        {1, 0xFF, "$..\xAF\xAF/images", nullptr},
        {2, 0xFF, "$..\xAF\xAF/images", nullptr},
        {1, 0xFF, "$NOPE/images", nullptr},
        {2, 0xFF, "$NOPE/images", nullptr},
        {2, 0xFF, "$PICS/images", "$PICS/images"},
        {2, 0xFF, "$appdata/images", "$appdata/images"},
        {1, 0xFF, "$PICS", alias},
        {1, 0xFF, "$PICS/gone", "$APP"},
        {1, 17, "/no/such/folder", "$APP"},
        {1, 17, here.c_str(), "$APP"},
        {1, 3, "/", "$APP"},
        {1, 0xFF, "$ROOT0/etc", nullptr},
        {1, 0xFF, "$APP/../..", nullptr},
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

// A cache with a pixel limit reads no picture past it from a file, and
// makes no scaled copy past it.
TEST_F(ImageCacheTest, APixelLimitBoundsWhatIsReadAndScaledTo)
{
    IMAGE_CACHE limited(false, 100);
    write_png("fits", 10, 10, 0xFF102030u);
    write_png("over", 11, 10, 0xFF102030u);
    IMAGE* fits = open("fits", -1, -1, 0, &limited);
    ASSERT_TRUE(fits && fits->width == 10);
    EXPECT_EQ(open("over", -1, -1, 0, &limited), nullptr);
    EXPECT_EQ(open("over", -1, -1, IMAGE_CACHE::OPEN_RELOAD, &limited), nullptr);
    EXPECT_EQ(open("fits", 11, 10, 0, &limited), nullptr);
    IMAGE* small = open("fits", 4, 25, 0, &limited);
    ASSERT_TRUE(small && small->width == 4 && small->height == 25);
    limited.resize_image(small, 20, 20);
    EXPECT_TRUE(small->width == 4 && small->height == 25);
    limited.resize_image(small, 5, 20);
    EXPECT_TRUE(small->width == 5 && small->height == 20);
    // Without a limit the same pictures load and scale.
    IMAGE* over = open("over");
    ASSERT_NE(over, nullptr);
    cache.resize_image(over, 40, 40);
    EXPECT_EQ(over->width, 40);
}

// A stored entry's folder names its pixels; it is placed on the disk (a
// reload) only where it leads inside its alias's folder, until a lookup
// through a folder of that description vouches for it.
TEST_F(ImageCacheTest, StoredFoldersAreFollowedOnlyInsideTheirAlias)
{
    write_png("x", 1, 1, 0xFF0000FFu); // what the disk would give
    for (std::string stored : {std::string(alias), std::string("$APPDATA/../../etc")}) {
        SCOPED_TRACE(stored);
        MEMORY_DATA_DEVICE d;
        put_u8(d, 2);
        put_u32(d, 1);
        put_path_block(d, stored.c_str());
        put_entry_tail(d);
        d.pos = 0;
        IMAGE_CACHE back;
        ASSERT_TRUE(back.get_from_data_device(d));
        IMAGE* held = &back.head->image;
        back.reload(held);
        EXPECT_EQ(px(*held, 0, 0), 0u);
        EXPECT_EQ(back.open_image(stored.c_str(), "x", -1, -1, IMAGE_CACHE::OPEN_RELOAD), held);
        EXPECT_EQ(px(*held, 0, 0), 0u);
    }
    // Found through the folder it describes, the entry is that folder's.
    MEMORY_DATA_DEVICE d;
    put_u8(d, 2);
    put_u32(d, 1);
    put_path_block(d, alias);
    put_entry_tail(d);
    d.pos = 0;
    IMAGE_CACHE back;
    ASSERT_TRUE(back.get_from_data_device(d));
    IMAGE* found = back.open_image(folder, "x", 1, 1, IMAGE_CACHE::OPEN_LOOKUP_ONLY);
    ASSERT_NE(found, nullptr);
    back.reload(found);
    EXPECT_EQ(px(*found, 0, 0), 0xFF0000FFu);
}

TEST_F(ImageCacheTest, HitsThroughAFolderTouchNoDiskAndShareTheAliasTextEntry)
{
    write_png("a", 2, 2, 0xFF102030u);
    write_png("b", 2, 2, 0xFF405060u);
    IMAGE* a = cache.open_image(folder, "a", -1, -1);
    IMAGE* b = open("b"); // made through the alias text
    ASSERT_TRUE(a && b);
    FOLDER same(folder);
    disk_calls = 0;
    counting = true;
    IMAGE* hits[] = {cache.open_image(same, "a", -1, -1), cache.open_image(folder, "a", 2, 2),
                     cache.open_image(folder, "b", -1, -1),
                     cache.open_image(folder, "a", 9, 9, IMAGE_CACHE::OPEN_ANY_SIZE)};
    counting = false;
    EXPECT_EQ(disk_calls, 0);
    EXPECT_TRUE(hits[0] == a && hits[1] == a && hits[2] == b && hits[3] == a);
    EXPECT_EQ(open("a"), a);
    EXPECT_EQ(uses(a), 5);
    // Entries read from a record: the first lookup through a folder finds
    // one the long way, the next touches no disk.
    MEMORY_DATA_DEVICE d;
    ASSERT_TRUE(cache.put_to_data_device(d));
    d.pos = 0;
    IMAGE_CACHE back;
    ASSERT_TRUE(back.get_from_data_device(d));
    IMAGE* restored = back.open_image(folder, "a", -1, -1);
    ASSERT_TRUE(restored && back.get_entry(restored));
    counting = true;
    EXPECT_EQ(back.open_image(folder, "a", -1, -1), restored);
    counting = false;
    EXPECT_EQ(disk_calls, 0);
    // The count does see the disk: a miss goes there.
    counting = true;
    EXPECT_EQ(cache.open_image(folder, "missing", -1, -1), nullptr);
    counting = false;
    EXPECT_GT(disk_calls, 0);
}

TEST_F(ImageCacheTest, FolderLookupsFollowAliasesThatMoved)
{
    // Two pictures of one name; "$APP" is a link to the first folder.
    const std::string one = path("one"), two = path("two"), link = path("app");
    for (const std::string& d : {one, two, one + "/img", two + "/img"}) {
        ASSERT_EQ(mkdir(d.c_str(), 0700), 0);
    }
    FOLDER first, second;
    ASSERT_TRUE(first.set_from_path_string((one + "/img").c_str()) &&
                second.set_from_path_string((two + "/img").c_str()));
    CANVAS red(1, 1, {0xFFFF0000u}), blue(1, 1, {0xFF0000FFu});
    ASSERT_TRUE(save_file(first, red, "p.png", 'p') && save_file(second, blue, "p.png", 'p'));
    ASSERT_EQ(symlink(one.c_str(), link.c_str()), 0);
    const char* saved = std::getenv("KIVO_APP_DIR");
    const std::string app_dir = saved ? saved : "";
    setenv("KIVO_APP_DIR", link.c_str(), 1);

    // The entry a FOLDER reaches is always the one its description names
    // now, or one read from the very file it names through another name.
    auto colour_of = [&](FOLDER& f, const char* step) {
        IMAGE* image = cache.open_image(f, "p", -1, -1);
        char now[2048];
        EXPECT_TRUE(image && f.get(now, nullptr)) << step;
        IMAGE_CACHE::CACHE_ENTRY* e = cache.get_entry(image);
        struct stat st;
        const bool same_file = e && stat(f.get_path_string("p.png"), &st) == 0 && e->file.known &&
                               e->file.device == st.st_dev && e->file.inode == st.st_ino;
        EXPECT_TRUE(e && (!std::strcmp(e->folder, now) || same_file)) << step << ": " << (e ? e->folder : "");
        return image ? px(static_cast<const IMAGE&>(*image), 0, 0) : 0u;
    };
    EXPECT_EQ(colour_of(first, "first"), 0xFFFF0000u);
    EXPECT_EQ(colour_of(first, "found again the quick way"), 0xFFFF0000u);
    char described[2048];
    first.get(described, nullptr);
    EXPECT_STREQ(described, "$APP/img");
    // The link moves (on disk only) and the alias text is reloaded from
    // there: the folder keeps its own pixels.
    ASSERT_TRUE(unlink(link.c_str()) == 0 && symlink(two.c_str(), link.c_str()) == 0);
    IMAGE* moved = cache.open_image("$APP/img", "p", -1, -1, IMAGE_CACHE::OPEN_RELOAD);
    EXPECT_TRUE(moved && px(*moved, 0, 0) == 0xFF0000FFu);
    EXPECT_EQ(colour_of(first, "link moved"), 0xFFFF0000u);
    // The environment names the first folder again (its entry, reloaded,
    // holds its pixels again).
    setenv("KIVO_APP_DIR", one.c_str(), 1);
    colour_of(first, "environment");
    IMAGE* back = cache.open_image(first, "p", -1, -1, IMAGE_CACHE::OPEN_RELOAD);
    EXPECT_TRUE(back && px(*back, 0, 0) == 0xFFFF0000u);
    // A custom path takes the name over.
    FOLDER::add_custom_path("$APP", second);
    colour_of(first, "custom path");
    EXPECT_EQ(colour_of(second, "custom path, second"), 0xFF0000FFu);
    FOLDER::remove_custom_path("$APP");
    colour_of(second, "custom path removed");

    if (saved) {
        setenv("KIVO_APP_DIR", app_dir.c_str(), 1);
    } else {
        unsetenv("KIVO_APP_DIR");
    }
}

namespace {

// The lookup rule over the whole list, newest first: the first shareable
// entry of that folder and name at the size asked for (or unscaled, under
// OPEN_ANY_SIZE) is the answer; else the oldest unscaled one is the source
// of a scaled copy.
struct LINEAR_ANSWER
{
    IMAGE_CACHE::CACHE_ENTRY* hit = nullptr;
    IMAGE_CACHE::CACHE_ENTRY* source = nullptr;
};

bool same_key(const IMAGE_CACHE::CACHE_ENTRY* e, const char* folder, const char* name)
{
    bool same_name = name && e->file_name ? std::strcmp(name, e->file_name) == 0 : name == e->file_name;
    return e->is_shareable() && same_name && std::strcmp(e->folder, folder) == 0;
}

LINEAR_ANSWER linear_find(const IMAGE_CACHE& cache, const char* folder, const char* name, short w, short h,
                          INT_U8 flags)
{
    LINEAR_ANSWER answer;
    for (IMAGE_CACHE::CACHE_ENTRY* e = cache.tail; e; e = e->prev) {
        if (!same_key(e, folder, name)) {
            continue;
        }
        if (((w == -1 || w == e->req_width) && (h == -1 || h == e->req_height)) ||
            (e->is_unscaled() && (flags & IMAGE_CACHE::OPEN_ANY_SIZE))) {
            answer.hit = e;
            return answer;
        }
        if (e->is_unscaled()) {
            answer.source = e;
        }
    }
    return answer;
}

} // namespace

// Seeded runs of opens (by text and by FOLDER), closes, shares, edits,
// resizes and soft clears, in a cache that keeps its entries and in one
// that frees them at their last close: every lookup gives the entry the
// rule over the whole list names. Two folders hold pictures of the same
// names at other sizes; a third folder and most names do not exist, and
// their failed entries fill the index past its first tables.
TEST_F(ImageCacheTest, LookupsAnswerAsTheRuleOverTheWholeListOverRandomUse)
{
    write_png("a", 2, 2, 0xFF112233u);
    write_png("b", 3, 1, 0xFF445566u);
    ASSERT_EQ(mkdir(path("sub").c_str(), 0700), 0);
    FOLDER sub;
    ASSERT_TRUE(sub.set_from_path_string(path("sub").c_str()));
    CANVAS other_a(4, 3, {0xFF778899u}), other_b(2, 2, {0xFFAABBCCu});
    ASSERT_TRUE(save_file(sub, other_a, "a.png", 'p') && save_file(sub, other_b, "b.png", 'p'));
    char sub_alias[2048];
    ASSERT_TRUE(sub.get(sub_alias, nullptr));
    const std::string none = std::string(alias) + "/none",
                      long_text = std::string(alias) + "/" + std::string(2100, 'x');
    const char* texts[] = {alias, sub_alias, none.c_str(), long_text.c_str()};
    FOLDER* folders[] = {&folder, &sub};
    std::vector<std::string> names = {"a", "b", "c"};
    for (int i = 0; i < 40; i++) {
        names.push_back("m" + std::to_string(i));
    }
    const short sizes[] = {-1, 1, 2, 3, 5};

    for (bool freeing : {false, true}) {
        for (unsigned seed = 1; seed <= 3; seed++) {
            SCOPED_TRACE(std::string(freeing ? "freeing" : "keeping") + " seed " + std::to_string(seed));
            IMAGE_CACHE cache(freeing);
            std::mt19937 rng(seed);
            std::vector<IMAGE*> held;
            auto pick = [&](unsigned n) { return static_cast<int>(rng() % n); };
            for (int step = 0; step < 1500; step++) {
                SCOPED_TRACE("step " + std::to_string(step));
                const int op = pick(20);
                if (op < 11) {
                    const bool by_folder = op >= 9;
                    const int which = by_folder ? pick(2) : pick(rng() % 8 ? 3 : 4);
                    char described[2048];
                    if (by_folder) {
                        ASSERT_TRUE(folders[which]->get(described, nullptr));
                    }
                    const char* text = by_folder ? described : texts[which];
                    const int n = pick(rng() % 4 ? 3 : static_cast<unsigned>(names.size()) + 1);
                    const char* name = n < static_cast<int>(names.size()) ? names[size_t(n)].c_str() : nullptr;
                    const short w = sizes[pick(5)], h = rng() % 4 ? sizes[pick(5)] : w;
                    INT_U8 flags = 0;
                    if (rng() % 4 == 0) {
                        flags |= IMAGE_CACHE::OPEN_ANY_SIZE;
                    }
                    if (rng() % 5 == 0) {
                        flags |= IMAGE_CACHE::OPEN_LOOKUP_ONLY;
                    }
                    if (rng() % 5 == 0) {
                        flags |= IMAGE_CACHE::OPEN_NO_FAILED_ENTRY;
                    }
                    if (rng() % 20 == 0) {
                        flags |= IMAGE_CACHE::OPEN_RELOAD;
                    }
                    const LINEAR_ANSWER want = linear_find(cache, text, name, w, h, flags);
                    const long count = entries(cache);
                    const IMAGE_CACHE::CACHE_ENTRY* old_tail = cache.tail;
                    const int old_uses = want.hit ? want.hit->uses : 0;
                    const short source_w = want.source ? want.source->req_width : 0;
                    const short source_h = want.source ? want.source->req_height : 0;
                    IMAGE* got = by_folder ? cache.open_image(*folders[which], name, w, h, flags)
                                           : cache.open_image(text, name, w, h, flags);
                    if (want.hit) {
                        ASSERT_EQ(got, want.hit->image.width < 1 ? nullptr : &want.hit->image);
                        ASSERT_EQ(want.hit->uses, old_uses + 1);
                        ASSERT_EQ(entries(cache), count);
                    } else if (flags & IMAGE_CACHE::OPEN_LOOKUP_ONLY) {
                        ASSERT_EQ(got, nullptr);
                        ASSERT_EQ(entries(cache), count);
                    } else if (got) {
                        // A new entry at the tail; made from the source's
                        // pixels when there was one.
                        ASSERT_TRUE(cache.get_entry(got) == cache.tail && cache.tail != old_tail);
                        ASSERT_EQ(entries(cache), count + 1);
                        if (want.source) {
                            ASSERT_TRUE(cache.tail->orig_width == source_w && cache.tail->orig_height == source_h);
                        }
                    } else {
                        // A failure, kept as an empty entry or not at all.
                        const long now = entries(cache);
                        ASSERT_TRUE(now == count || (now == count + 1 && cache.tail->image.width < 1));
                    }
                    if (got) {
                        held.push_back(got);
                    }
                } else if (held.empty()) {
                    continue;
                } else if (op < 14) {
                    const size_t i = size_t(pick(static_cast<unsigned>(held.size())));
                    cache.do_close(cache.get_entry(held[i]));
                    held.erase(held.begin() + long(i));
                } else if (op == 14) {
                    IMAGE* image = held[size_t(pick(static_cast<unsigned>(held.size())))];
                    ASSERT_EQ(cache.duplicate(image), image);
                    held.push_back(image);
                } else if (op == 15) {
                    IMAGE*& image = held[size_t(pick(static_cast<unsigned>(held.size())))];
                    cache.recolour(image, 0xFF00FF00u);
                    ASSERT_TRUE(image && cache.get_entry(image)->custom);
                } else if (op < 19) {
                    // A reference moves to the oldest shareable entry of its
                    // folder and name at the new size, if there is one.
                    IMAGE*& image = held[size_t(pick(static_cast<unsigned>(held.size())))];
                    IMAGE_CACHE::CACHE_ENTRY* e = cache.get_entry(image);
                    const short w = sizes[1 + pick(4)], h = sizes[1 + pick(4)];
                    IMAGE_CACHE::CACHE_ENTRY* other = nullptr;
                    if (!e->custom && !(w == e->req_width && h == e->req_height)) {
                        for (IMAGE_CACHE::CACHE_ENTRY* o = cache.head; o && !other; o = o->next) {
                            if (o != e && same_key(o, e->folder, e->file_name) && o->req_width == w &&
                                o->req_height == h) {
                                other = o;
                            }
                        }
                    }
                    const IMAGE_CACHE::CACHE_ENTRY* old_tail = cache.tail;
                    cache.resize_image(image, w, h);
                    IMAGE_CACHE::CACHE_ENTRY* now = cache.get_entry(image);
                    if (other) {
                        ASSERT_EQ(now, other);
                    } else {
                        ASSERT_TRUE(now == e || (now == cache.tail && now != old_tail));
                    }
                    ASSERT_TRUE(now->req_width == w && now->req_height == h);
                } else if (rng() % 8 == 0) {
                    cache.soft_clear();
                }
            }
            for (IMAGE* image : held) {
                cache.do_close(cache.get_entry(image));
            }
        }
    }

    // A record can hold one name unscaled at two sizes: a lookup at one of
    // them takes it, one under OPEN_ANY_SIZE the newest, and a scaled copy
    // is made from the oldest.
    MEMORY_DATA_DEVICE d;
    put_u8(d, 2);
    put_u32(d, 3);
    for (INT_U16 side : {INT_U16(1), INT_U16(3), INT_U16(2)}) {
        put_path_block(d, alias);
        put_u32(d, 1);
        put_bytes(d, "x", 1);
        for (INT_U16 v : {side, side, INT_U16(side == 2 ? 1 : side), INT_U16(side == 2 ? 1 : side)}) {
            put_u16(d, v);
        }
        IMAGE pic;
        pic.reset(short(side), short(side));
        pic.put_to_data_device(d);
    }
    d.pos = 0;
    ASSERT_TRUE(cache.get_from_data_device(d));
    IMAGE_CACHE::CACHE_ENTRY *oldest = cache.head, *newest = oldest->next, *scaled = newest->next;
    EXPECT_EQ(open("x", 3, 3), &newest->image);
    EXPECT_EQ(open("x", 2, 2), &scaled->image);
    EXPECT_EQ(open("x", 9, 9, IMAGE_CACHE::OPEN_ANY_SIZE), &newest->image);
    IMAGE* copy = open("x", 5, 5);
    ASSERT_TRUE(copy && cache.get_entry(copy) == cache.tail);
    EXPECT_TRUE(cache.tail->orig_width == 1 && copy->width == 5);
}
