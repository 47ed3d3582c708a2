// Picture saves on a disk that fills or refuses every byte: the failure is
// reported and the old file stays as it was.
#include "child_process.h"
#include "image_codec_util.h"
#include "image_test_util.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <string>

using namespace imgtest;

namespace {

// Every picture below needs more than this many bytes.
constexpr long SIZE_LIMIT = 100;

using ImageSaveTest = ImageFolderTest;

} // namespace

TEST_F(ImageSaveTest, AFullDiskFailsEverySaveAndKeepsTheOldPicture)
{
    std::mt19937 rng(3);
    CANVAS noise(40, 30, rng), old(8, 8, rng);
    for (char kind : {'p', 'j', 'x', 'r'}) {
        SCOPED_TRACE(kind);
        save(old, "shot", kind);
        std::string before = kivo_test::read_file(path("shot"));
        int saved = kivo_test::run_in_child([&] { return save_file(folder, noise, "shot", kind) ? 1 : 0; }, SIZE_LIMIT);
        EXPECT_EQ(saved, 0);
        EXPECT_EQ(kivo_test::read_file(path("shot")), before);
        // With room the same save is whole.
        save(noise, "shot", kind);
        IMAGE back;
        EXPECT_TRUE(back.load(folder, "shot", -1, -1) && back.width == 40 && back.height == 30);
    }

    // The nine skin files: every one fails, every old one stays.
    ASSERT_TRUE(old.save_nine_titled_pngs(folder, "skin"));
    std::string before =
        kivo_test::read_file(path("skin_top_left.png")) + kivo_test::read_file(path("skin_mid_mid.png"));
    EXPECT_EQ(kivo_test::run_in_child([&] { return noise.save_nine_titled_pngs(folder, "skin") ? 1 : 0; }, SIZE_LIMIT),
              0);
    EXPECT_EQ(kivo_test::read_file(path("skin_top_left.png")) + kivo_test::read_file(path("skin_mid_mid.png")), before);
}

TEST_F(ImageSaveTest, WritersReportWhatTheFileRefused)
{
    std::mt19937 rng(5);
    CANVAS noise(40, 30, rng);
    // A device that refuses every byte: the writers see it before closing
    // (the PNG writer when it flushes at its end).
    for (char kind : {'p', 'j', 'x'}) {
        DATA_FILE full(-1);
        ASSERT_TRUE(full.open("/dev/full", fm_write, 0, 0));
        bool ok = kind == 'p'   ? image_write_png(noise, full)
                  : kind == 'j' ? noise.save_jpg(&full, 90, 0)
                                : noise.save_256_colour_pcx(&full);
        EXPECT_FALSE(ok) << kind;
        EXPECT_FALSE(full.close()) << kind;
    }

    // The PCX writer stops at the first write that fails, wherever it is.
    for (long room : {0L, 70L, 128L, 1000L, 2000L}) {
        kivo_test::MEMORY_DATA_DEVICE d;
        d.fail_after(room);
        EXPECT_FALSE(image_write_pcx(noise, d) || d.error != 1 || d.str().size() != static_cast<size_t>(room));
        long writes = d.writes;
        EXPECT_FALSE(image_write_pcx(noise, d) || d.writes != writes + 1) << room;
    }

    // A writer that gives up leaves the old file.
    save(noise, "kept.jpg", 'j');
    std::string before = kivo_test::read_file(path("kept.jpg"));
    DATA_FILE* file = folder.open_data_file("kept.jpg", fm_write, 0, 0);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(noise.save_jpg(file, 101, 0));
    EXPECT_FALSE(folder.close(file));
    EXPECT_EQ(kivo_test::read_file(path("kept.jpg")), before);
}
