// Loading by name from a folder, the sprite strip, the nine skin files and
// the embedded-definition writer, all on files in the test's own folder.
#include "alloc_watch.h"
#include "errors.h"
#include "image_test_util.h"
#include "pipe_swap.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace imgtest;
using ImageFiles = ImageFolderTest;

TEST_F(ImageFiles, LoadTriesTheExtensionThenAppendedNamesThenTheBareName)
{
    IMAGE red = solid(4, 2, 0xFFFF0000u), blue = solid(4, 2, 0xFF0000FFu), grey = solid(6, 3, 0xFF808080u);
    save(red, "logo.png");
    save(blue, "logo.pcx", 'x');
    save(grey, "photo.jpeg", 'j');
    save(red, "thing.png", 'r'); // a raw record behind a misleading name
    save(blue, "Upper.PNG");

    // ".png" is tried before ".pcx"; extensions are compared without case;
    // ".jpeg" is no known extension, so the bare name is read as JPEG; the
    // PNG reader refuses the record, which the bare name then reads. Scaled
    // as asked (-1: natural size).
    const struct
    {
        const char* name;
        short w, h;
        IMAGE want;
    } loads[] = {
        {"logo", -1, -1, red},
        {"logo.pcx", -1, -1, blue},
        {"Upper.PNG", -1, -1, blue},
        {"photo.jpeg", -1, -1, grey},
        {"thing.png", -1, -1, red},
        {"logo", 8, 6, solid(8, 6, 0xFFFF0000u)},
        {"photo.jpeg", 3, 2, solid(3, 2, 0xFF808080u)},
    };
    IMAGE image;
    for (auto& l : loads) {
        ASSERT_TRUE(image.load(folder, l.name, l.w, l.h)) << l.name;
        EXPECT_TRUE(same_picture(l.want, image, 3)) << l.name;
    }

    // Failures say whether nothing was there or it could not be read.
    EXPECT_FALSE(image.load(folder, "missing", -1, -1));
    EXPECT_EQ(current_error_code, 0x100C);
    ASSERT_TRUE(kivo_test::write_file(path("junk.png"), "not a picture at all"));
    EXPECT_FALSE(image.load(folder, "junk.png", -1, -1));
    EXPECT_EQ(current_error_code, 0x1007);
    EXPECT_FALSE(image.load(folder, "", -1, -1));
    EXPECT_FALSE(image.load(folder, nullptr, -1, -1));
}

TEST_F(ImageFiles, SpriteStripsFollowTheFrameNumbers)
{
    const INT_U32 colours[5] = {0, 0xFF110000u, 0xFF002200u, 0xFF000033u, 0xFF444444u};
    for (int n = 1; n <= 4; n++) {
        write_png("frame" + std::to_string(n), 2, 3, colours[n]);
    }
    IMAGE strip;
    strip.create_sprite_image_from_path(folder, "frame%d", 1, -1);
    ASSERT_EQ(strip.width, 8);
    ASSERT_EQ(strip.height, 3);
    for (int n = 1; n <= 4; n++) {
        EXPECT_EQ(px(strip, (n - 1) * 2 + 1, 2), colours[n]) << n;
    }

    // Bounded: a missing frame is skipped. Open-ended: it ends the strip.
    ASSERT_EQ(std::remove(path("frame2.png").c_str()), 0);
    strip.create_sprite_image_from_path(folder, "frame%d", 1, 6);
    ASSERT_EQ(strip.width, 6);
    EXPECT_EQ(px(strip, 2, 0), colours[3]);
    strip.create_sprite_image_from_path(folder, "frame%d", 1, -1);
    EXPECT_EQ(strip.width, 2);
    strip.create_sprite_image_from_path(folder, "frame%d", 3, 2);
    EXPECT_EQ(strip.width, 0);
    strip.create_sprite_image_from_path(folder, "none%d", 1, 3);
    EXPECT_EQ(strip.pixels, nullptr);
}

// Pictures are limited to 32767 a side, not in area: a 4100 x 4100 file
// loads, and so does a strip of it. A size asked for is scaled to after
// decoding, whatever the file's own size.
TEST_F(ImageFiles, LargePicturesAndLargeRequestedSizesLoad)
{
    CANVAS big(4100, 4100, {0xFF204060u});
    px(big, 4099, 4099) = 0xFFFFFFFFu;
    save(big, "big1.png");
    IMAGE image, strip;
    ASSERT_TRUE(image.load(folder, "big1", -1, -1));
    EXPECT_TRUE(image.width == 4100 && image.height == 4100 && px(image, 4099, 4099) == 0xFFFFFFFFu);
    strip.create_sprite_image_from_path(folder, "big%d", 1, -1);
    EXPECT_TRUE(strip.width == 4100 && strip.height == 4100 && px(strip, 4099, 4099) == 0xFFFFFFFFu);

    IMAGE small = solid(100, 100, 0xFF808080u);
    save(small, "small.jpg", 'j');
    save(small, "small.png");
    for (const char* name : {"small.jpg", "small.png"}) {
        ASSERT_TRUE(image.load(folder, name, 5000, 4000)) << name;
        EXPECT_TRUE(image.width == 5000 && image.height == 4000) << name;
        EXPECT_NEAR(int(px(image, 4999, 3999) & 0xFF), 0x80, 3) << name;
    }
}

// With a pixel limit a picture past it is refused from its file's header in
// every format, before its pixels are allocated, as is a size asked for
// past it; the load fails as for a picture that cannot be read.
TEST_F(ImageFiles, APixelLimitRefusesPicturesFromTheirHeader)
{
    IMAGE pic = solid(600, 400, 0xFF336699u);
    const struct
    {
        const char* name;
        char kind;
    } files[] = {
        {"pic.png", 'p'}, {"pic.jpg", 'j'}, {"pic.pcx", 'x'}, {"pic.raw", 'r'}, {"bare", 'j'},
    };
    for (const auto& f : files) {
        save(pic, f.name, f.kind);
        IMAGE image;
        ASSERT_TRUE(image.load(folder, f.name, -1, -1, 600 * 400)) << f.name;
        EXPECT_TRUE(image.width == 600 && image.height == 400) << f.name;
        IMAGE refused;
        bool ok = true;
        long long largest =
            kivo_test::largest_allocation([&] { ok = refused.load(folder, f.name, -1, -1, 600 * 400 - 1); });
        EXPECT_FALSE(ok) << f.name;
        EXPECT_EQ(current_error_code, 0x1007) << f.name;
        EXPECT_EQ(refused.pixels, nullptr) << f.name;
        if (largest >= 0) {
            EXPECT_LT(largest, 600 * 400 * 4) << f.name;
        }
    }
    IMAGE image;
    EXPECT_TRUE(image.load(folder, "pic.png", 300, 800, 600 * 400));
    EXPECT_TRUE(image.width == 300 && image.height == 800);
    EXPECT_FALSE(image.load(folder, "pic.png", 301, 800, 600 * 400));
    EXPECT_EQ(current_error_code, 0x1007);
    // A file whose header cannot be read fails as before.
    ASSERT_TRUE(kivo_test::write_file(path("cut.png"), "\x89PNG\r\n\x1A\n"));
    EXPECT_FALSE(image.load(folder, "cut.png", -1, -1, 10000));
}

// Only a regular file is read, judged by what was opened: a named pipe at
// the picture's name, put there before the load or between a look at the
// name and its opening, never makes a load wait for a writer.
TEST_F(ImageFiles, APipeSwappedInForAPictureNeverMakesALoadWait)
{
    write_png("pic", 3, 2, 0xFF00FF00u);
    EXPECT_TRUE(kivo_test::loads_end_while_pipes_swap_in(
        path("pic.png"),
        [&] {
            IMAGE image;
            image.load(folder, "pic.png", -1, -1);
        },
        2000));
}

TEST_F(ImageFiles, NineSkinFilesCutAroundTheCentreAndDefinitionText)
{
    // 21 x 21, one colour per region: 10-pixel corners and edges around the
    // centre cross of row and column 10.
    auto band = [](int v) { return v < 10 ? 0 : v == 10 ? 1 : 2; };
    auto region = [](int row, int col) { return 0xFF000000u | INT_U32(row * 3 + col + 1) * 0x101010u; };
    IMAGE skin = pattern(21, 21, [&](int x, int y) { return region(band(y), band(x)); });
    ASSERT_TRUE(skin.save_nine_titled_pngs(folder, "btn"));
    for (int row = 0; row < 3; row++) {
        for (int col = 0; col < 3; col++) {
            IMAGE piece;
            EXPECT_TRUE(piece.load(folder, nine_name("btn", row, col).c_str(), -1, -1));
            EXPECT_TRUE(same_picture(solid(col == 1 ? 1 : 10, row == 1 ? 1 : 10, region(row, col)), piece))
                << row << "," << col;
        }
    }
    // An even size leaves the right pieces one column short of the source:
    // their last column stays transparent.
    ASSERT_TRUE(solid(4, 4, 0xFF00FF00u).save_nine_titled_pngs(folder, "even"));
    IMAGE right;
    ASSERT_TRUE(right.load(folder, "even_top_right", -1, -1));
    ASSERT_EQ(right.width, 2);
    EXPECT_EQ(px(right, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(px(right, 1, 0) >> 24, 0u);

    TEXT_FILE* text = folder.open_text_file("logo.h", fm_write, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_TRUE(solid(1, 1, 0x80112233u).save_embedded_image_def(*text, "logo") && folder.close(text));
    EXPECT_EQ(kivo_test::read_file(path("logo.h")),
              "static INT_U8 logo[9] =\n{\n\t0x01,0x00,0x01,0x00,0x01,\n\t0x33,0x22,0x11,0x80\n};\n");
}
