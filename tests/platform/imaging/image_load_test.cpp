// Loading by name from a folder, the sprite strip, the nine skin files and
// the embedded-definition writer, all on files in the test's own folder.
#include "codec_fixtures.h"
#include "data_file.h"
#include "errors.h"
#include "folder.h"
#include "image.h"
#include "text_file.h"

#include <gtest/gtest.h>

using kivo_test::pixel;

namespace {

class ImageFiles : public kivo_test::ImageFolderTest
{
protected:
    static IMAGE solid(int w, int h, INT_U32 colour)
    {
        IMAGE image;
        image.reset(short(w), short(h));
        image.clear(colour, 1);
        return image;
    }

    void save(IMAGE& image, const char* name, char kind)
    {
        DATA_FILE* file = folder.open_data_file(name, fm_write, kind == 'r' ? -1 : 0, 0);
        ASSERT_NE(file, nullptr);
        switch (kind) {
        case 'p':
            ASSERT_TRUE(image.save_png(file));
            break;
        case 'j':
            ASSERT_TRUE(image.save_jpg(file, 95, 0));
            break;
        case 'x':
            ASSERT_TRUE(image.save_256_colour_pcx(file));
            break;
        default:
            ASSERT_TRUE(image.put_to_data_device(*file));
        }
        folder.close(file);
    }
};

} // namespace

TEST_F(ImageFiles, LoadTriesTheExtensionThenAppendedNamesThenTheBareName)
{
    IMAGE red = solid(4, 2, 0xFFFF0000u), blue = solid(4, 2, 0xFF0000FFu), grey = solid(6, 3, 0xFF808080u);
    save(red, "logo.png", 'p');
    save(blue, "logo.pcx", 'x');
    save(grey, "photo.jpeg", 'j');
    save(red, "thing.png", 'r'); // a raw record behind a misleading name
    save(blue, "Upper.PNG", 'p');

    IMAGE image;
    // ".png" is tried before ".pcx".
    ASSERT_TRUE(image.load(folder, "logo", -1, -1));
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), 0xFFFF0000u);
    ASSERT_TRUE(image.load(folder, "logo.pcx", -1, -1));
    EXPECT_EQ(INT_U32(pixel(image, 0, 0)), 0xFF0000FFu);
    // The extension is compared without regard to case.
    ASSERT_TRUE(image.load(folder, "Upper.PNG", -1, -1));
    EXPECT_EQ(INT_U32(pixel(image, 1, 1)), 0xFF0000FFu);
    // ".jpeg" is no known extension: the bare name is read as JPEG.
    ASSERT_TRUE(image.load(folder, "photo.jpeg", -1, -1));
    EXPECT_EQ(image.width, 6);
    EXPECT_NEAR(int(INT_U32(pixel(image, 2, 1)) & 0xFF), 0x80, 3);
    // The PNG reader refuses it; the bare name finally reads as a record.
    ASSERT_TRUE(image.load(folder, "thing.png", -1, -1));
    EXPECT_EQ(INT_U32(pixel(image, 3, 1)), 0xFFFF0000u);

    // Natural size, then scaled as asked.
    ASSERT_TRUE(image.load(folder, "logo", 8, 6));
    EXPECT_EQ(image.width, 8);
    EXPECT_EQ(image.height, 6);
    ASSERT_TRUE(image.load(folder, "photo.jpeg", 3, 2));
    EXPECT_EQ(image.width, 3);
    EXPECT_EQ(image.height, 2);

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
        IMAGE frame = solid(2, 3, colours[n]);
        char name[32];
        std::snprintf(name, sizeof name, "frame%d.png", n);
        save(frame, name, 'p');
    }
    IMAGE strip;
    strip.create_sprite_image_from_path(folder, "frame%d", 1, -1);
    ASSERT_EQ(strip.width, 8);
    ASSERT_EQ(strip.height, 3);
    for (int n = 1; n <= 4; n++)
        EXPECT_EQ(INT_U32(pixel(strip, (n - 1) * 2 + 1, 2)), colours[n]) << n;

    // Bounded: a missing frame is skipped, not an end.
    ASSERT_EQ(std::remove(path("frame2.png").c_str()), 0);
    strip.create_sprite_image_from_path(folder, "frame%d", 1, 6);
    ASSERT_EQ(strip.width, 6);
    EXPECT_EQ(INT_U32(pixel(strip, 2, 0)), colours[3]);
    // Open-ended: the first missing frame ends the search.
    strip.create_sprite_image_from_path(folder, "frame%d", 1, -1);
    EXPECT_EQ(strip.width, 2);
    strip.create_sprite_image_from_path(folder, "frame%d", 3, 2);
    EXPECT_EQ(strip.width, 0);
    strip.create_sprite_image_from_path(folder, "none%d", 1, 3);
    EXPECT_EQ(strip.pixels, nullptr);
}

TEST_F(ImageFiles, NineSkinFilesCutAroundTheCentre)
{
    // 21 x 21 with one colour per region: 10-pixel corners and edges around
    // the centre cross of row and column 10.
    IMAGE skin;
    skin.reset(21, 21);
    for (int y = 0; y < 21; y++)
        for (int x = 0; x < 21; x++) {
            int col = x < 10 ? 0 : x == 10 ? 1 : 2, row = y < 10 ? 0 : y == 10 ? 1 : 2;
            skin.pixels[y * skin.stride + x] = 0xFF000000u | INT_U32(row * 3 + col + 1) * 0x101010u;
        }
    skin.save_nine_titled_pngs(folder, "btn");
    struct PIECE
    {
        const char* name;
        int w, h, region;
    };
    const PIECE pieces[] = {{"btn_top_left", 10, 10, 1},   {"btn_top_mid", 1, 10, 2},    {"btn_top_right", 10, 10, 3},
                            {"btn_mid_left", 10, 1, 4},    {"btn_mid_mid", 1, 1, 5},     {"btn_mid_right", 10, 1, 6},
                            {"btn_bottom_left", 10, 10, 7}, {"btn_bottom_mid", 1, 10, 8}, {"btn_bottom_right", 10, 10, 9}};
    for (const PIECE& p : pieces) {
        SCOPED_TRACE(p.name);
        IMAGE piece;
        ASSERT_TRUE(piece.load(folder, p.name, -1, -1));
        ASSERT_EQ(piece.width, p.w);
        ASSERT_EQ(piece.height, p.h);
        for (int y = 0; y < p.h; y++)
            for (int x = 0; x < p.w; x++)
                ASSERT_EQ(INT_U32(pixel(piece, x, y)), 0xFF000000u | INT_U32(p.region) * 0x101010u);
    }
    // An even size leaves the right pieces one column short of the source:
    // their last column stays transparent.
    IMAGE even = solid(4, 4, 0xFF00FF00u);
    even.save_nine_titled_pngs(folder, "even");
    IMAGE right;
    ASSERT_TRUE(right.load(folder, "even_top_right", -1, -1));
    ASSERT_EQ(right.width, 2);
    EXPECT_EQ(INT_U32(pixel(right, 0, 0)), 0xFF00FF00u);
    EXPECT_EQ(INT_U32(pixel(right, 1, 0)) >> 24, 0u);
}

TEST_F(ImageFiles, EmbeddedDefinitionSourceText)
{
    IMAGE image = solid(1, 1, 0x80112233u);
    TEXT_FILE* text = folder.open_text_file("logo.h", fm_write, 0);
    ASSERT_NE(text, nullptr);
    image.save_embedded_image_def(*text, "logo");
    folder.close(text);
    EXPECT_EQ(kivo_test::read_file(path("logo.h")),
              "static INT_U8 logo[9] =\n{\n\t0x01,0x00,0x01,0x00,0x01,\n\t0x33,0x22,0x11,0x80\n};\n");

}
