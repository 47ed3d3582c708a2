// The page-definition file: every version in both byte orders, the
// application record's old forms, load and save through real files, and
// damaged files.
#include "ptm_crafted.h"
#include "ptm_test_writer.h"

#include "alloc_watch.h"
#include "child_process.h"
#include "errors.h"
#include "folder.h"
#include "memory_data_device.h"
#include "peak_memory.h"
#include "sandbox.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using kivo_test::MEMORY_DATA_DEVICE;

class PtmFileTest : public kivo_test::SandboxTest
{
protected:
    void TearDown() override
    {
        ptm.clear();
        WM_PAGE_TOOL_MANAGER::file_version = 0;
        WM_STYLE_SET::cache_flags = 1;
        SandboxTest::TearDown();
    }

    // What load does after the byte-order byte, on a memory device; every
    // byte must be read, so that a field skipped in one version shows.
    bool read(const std::vector<INT_U8>& file)
    {
        MEMORY_DATA_DEVICE d(std::vector<INT_U8>(file.begin() + 1, file.end()));
        d.swap = file[0] != 0 ? 1 : 0;
        return ptm.read_definition(d, nullptr) && d.pos == static_cast<long>(d.data.size());
    }
    std::string written()
    {
        MEMORY_DATA_DEVICE d;
        EXPECT_TRUE(ptm.write_definition(d, 0));
        return d.str();
    }
    FOLDER here()
    {
        FOLDER f;
        EXPECT_TRUE(f.set_from_path_string(dir.c_str()));
        return f;
    }
    void write(const char* name, const std::vector<INT_U8>& bytes)
    {
        kivo_test::write_file(path(name), std::string(bytes.begin(), bytes.end()));
    }
    bool in_images(WM_PTM_IMAGE_INFO* image)
    {
        for (INT_S32 i = 0; i < ptm.image_count; i++) {
            if (ptm.images[i] == image) {
                return true;
            }
        }
        return false;
    }

    WM_PAGE_TOOL_MANAGER ptm;
};

TEST_F(PtmFileTest, EveryVersionReadsInBothByteOrders)
{
    for (int v = 0; v <= 25; v++) {
        SCOPED_TRACE(v);
        ASSERT_TRUE(read(kivo_test::ptm_test_file(v, true)));
        std::string swapped = written();
        ASSERT_TRUE(read(kivo_test::ptm_test_file(v, false)));
        EXPECT_TRUE(written() == swapped);

        EXPECT_STREQ(ptm.name, "App");
        EXPECT_EQ(ptm.background_colour, kivo_test::ptm_test_background);
        EXPECT_EQ(ptm.default_page_change_method, v > 16 ? 12u : 10u);
        EXPECT_EQ(ptm.app_flag_1, v > 22 ? 0 : 1);
        EXPECT_EQ(ptm.darken_background, v > 17 ? 1 : 0);
        EXPECT_EQ(ptm.can_drag, v > 24 ? 0 : 1);
        // The two bytes of 8 to 17 skipped: what follows them lands right.
        EXPECT_EQ(ptm.menu_mode, v >= 8 ? 1u : 0u);
        // The old packing: bytes 1, 0, 0, 1 with the delays kept.
        const EFFECT_INFO& menu = ptm.menu_effect_info;
        INT_U16 flags = v > 24 ? 0x33 : v >= 8 ? 0x12 : 0x60;
        EXPECT_EQ(menu.flags, flags);
        EXPECT_EQ(menu.open_delay, v > 24 ? 150 : 100);
        EXPECT_EQ(menu.displaying_delay, v > 24 ? 250 : 200);
        EXPECT_EQ(ptm.dialog_effect_info.open_delay, v > 24 ? 150 : 300);
        if (v <= 7) {
            // The short record: dialog colours, then areas and the shading type.
            EXPECT_EQ(ptm.dialog_style_set.bg_colour, 0xFF000010u);
            EXPECT_EQ(ptm.object_style_set.highlight_text_colour, 0xFF000017u);
            EXPECT_EQ(ptm.shading_type, v > 0 ? 4u : 6u);
            EXPECT_EQ(ptm.show_logo, 0);
            EXPECT_EQ(ptm.style_set_count + ptm.font_count + ptm.colour_count + ptm.constant_count, 0);
        } else {
            EXPECT_EQ(ptm.shading_type, 4u);
            EXPECT_EQ(ptm.dialog_style_set.fg_colour, 0xFF102030u);
            EXPECT_EQ(ptm.style_set_count + ptm.font_count + ptm.colour_count + ptm.constant_count, 4);
            EXPECT_EQ(ptm.dialog_count, v > 23 ? 1 : 0);
            char text[32];
            ptm.constants[0]->value.get_str(ptm.constants[0]->value.value, text, sizeof text);
            EXPECT_STREQ(text, v < 17 ? "-1" : "hello");
        }
        ASSERT_EQ(ptm.area_count, 1);
        ASSERT_EQ(ptm.areas[0].page_count, 2);
        WM_PTM_PAGE_INFO& page = ptm.areas[0].pages[0];
        ASSERT_EQ(page.object_count, 3);
        EXPECT_EQ(page.objects[0].type, 0x2u);
        EXPECT_EQ(page.objects[1].type, 0x8u);
        EXPECT_EQ(page.objects[2].type, 0x10u);
        EXPECT_EQ(page.objects[0].object_count, 2);
        EXPECT_EQ(ptm.areas[0].pages[1].background, nullptr);
        // A background always names a record of the image list, also in
        // version 8, whose areas come before that list.
        if (v >= 8) {
            ASSERT_NE(page.background, nullptr);
            EXPECT_TRUE(in_images(page.background));
            EXPECT_STREQ(page.background->name, v < 17 ? "Page 4978817d" : "Image");
        }
    }
}

TEST_F(PtmFileTest, SaveAndLoadGiveTheSameDefinition)
{
    ASSERT_TRUE(read(kivo_test::ptm_test_file(25, false)));
    ptm.alloc_constants(3);
    const char* names[] = {"b", "B", "A"};
    for (int i = 0; i < 3; i++) {
        ptm.constants[i]->set_name(names[i]);
    }
    FOLDER folder = here();
    ASSERT_TRUE(ptm.save(folder, "pages.bin", 0));
    std::string first = kivo_test::read_file(path("pages.bin"));

    unsigned char images = 9;
    ASSERT_TRUE(ptm.load(folder, "pages.bin", &images));
    EXPECT_EQ(images, 0);
    EXPECT_EQ(ptm.loaded, 1);
    long index = 0;
    WM_PTM_CONSTANT_INFO* b = ptm.find_constant("b", &index);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(ptm.find_constant("a", &index), nullptr);
    EXPECT_EQ(index, -1);
    EXPECT_EQ(ptm.find_image("Image"), ptm.images[0]);

    // Sorted once, a definition saves to the same bytes every time.
    ASSERT_TRUE(ptm.save(folder, "pages.bin", 0));
    std::string sorted = kivo_test::read_file(path("pages.bin"));
    ASSERT_TRUE(ptm.load(folder, "pages.bin", nullptr));
    ASSERT_TRUE(ptm.save(folder, "pages.bin", 0));
    EXPECT_TRUE(kivo_test::read_file(path("pages.bin")) == sorted);
    EXPECT_EQ(sorted.size(), first.size());
    EXPECT_EQ(ptm.areas[0].pages[0].objects[0].user_data, 77u);
}

TEST_F(PtmFileTest, LoadFailuresAreReported)
{
    FOLDER folder = here();
    EXPECT_FALSE(ptm.load(folder, "absent.bin", nullptr));
    EXPECT_EQ(current_error_code, ERRCODE_FILE_NOT_FOUND);
    EXPECT_STREQ(current_arg_string, "absent.bin");

    write("new.bin", kivo_test::ptm_test_file(25, false));
    ASSERT_TRUE(ptm.load(folder, "new.bin", nullptr));
    // A version from the future is refused before the record is touched.
    std::vector<INT_U8> future = kivo_test::ptm_test_file(25, false);
    future[1] = 26;
    write("future.bin", future);
    EXPECT_FALSE(ptm.load(folder, "future.bin", nullptr));
    EXPECT_EQ(current_error_code, ERRCODE_FILE_READ);
    EXPECT_EQ(ptm.loaded, 1);
    EXPECT_STREQ(ptm.name, "App");

    // Cut in the font list: the record keeps what was read, not loaded,
    // and the lists are sorted all the same.
    kivo_test::PTM_TEST_WRITER w(25, false);
    std::vector<INT_U8> file = w.file();
    file.resize(w.count_at[1] + 20);
    write("cut.bin", file);
    EXPECT_FALSE(ptm.load(folder, "cut.bin", nullptr));
    EXPECT_EQ(ptm.loaded, 0);
    EXPECT_EQ(ptm.style_set_count, 1);
    EXPECT_STREQ(ptm.failed_kind, "font");
}

TEST_F(PtmFileTest, DamagedFilesFailWithoutHarm)
{
    kivo_test::PTM_TEST_WRITER w(25, false);
    const std::vector<INT_U8> file = w.file();
    for (size_t n = 1; n < file.size(); n++) {
        SCOPED_TRACE(n);
        ASSERT_FALSE(read(std::vector<INT_U8>(file.begin(), file.begin() + static_cast<long>(n))));
    }
    for (int v : {8, 16, 25}) {
        kivo_test::PTM_TEST_WRITER old(v, v == 16);
        std::vector<INT_U8> bytes = old.file();
        for (size_t at : old.count_at) {
            SCOPED_TRACE(at);
            std::vector<INT_U8> bad = bytes;
            std::memset(bad.data() + at, 0xFF, 4);
            EXPECT_FALSE(read(bad));
        }
    }
}

// Every level of a nested list once passed its count against all the bytes
// left, so that one file could claim its bytes once per level: 8 MB asked
// for 1.3 GB. Counted once, at the least size of a record, they cost a few
// times the file.
TEST_F(PtmFileTest, NestedCountsCostMemoryInProportionToTheFile)
{
    FOLDER folder = here();
    for (bool exact : {false, true}) {
        const long size = 2L << 20;
        SCOPED_TRACE(exact);
        write("nested.bin", kivo_test::ptm_nested_count_file(static_cast<size_t>(size), exact));
        long growth = kivo_test::peak_memory_growth_kb([&] { EXPECT_FALSE(ptm.load(folder, "nested.bin", nullptr)); });
        if (growth < 0) {
            GTEST_SKIP() << "no peak memory to be had";
        }
        // Four times the file, and room for the sanitizer's own.
        EXPECT_LE(growth, 4 * size / 1024 + 8192);
    }
}

// Valid files of the smallest records each kind allows: a record must not
// hold more in memory than the bytes it stands for allow. A font or image
// record of version 9 stores no folder at all (it once kept 2 KB for it),
// and a page's one-character name is no allocation of its own.
TEST_F(PtmFileTest, SmallestRecordsCostMemoryInProportionToTheFile)
{
    FOLDER folder = here();
    const struct
    {
        const char* what;
        std::vector<INT_U8> file;
        INT_S32 fonts, images, pages;
    } cases[] = {
        {"fonts and images", kivo_test::ptm_many_resources_file(), 32767, 32767, 0},
        {"pages", kivo_test::ptm_minimal_pages_file(8L << 20), 0, 0, ((8L << 20) - 16384) / 21},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const long size = static_cast<long>(c.file.size());
        write("small.bin", c.file);
        long growth = kivo_test::peak_memory_growth_kb([&] { ptm.load(folder, "small.bin", nullptr); });
        ASSERT_TRUE(ptm.load(folder, "small.bin", nullptr));
        EXPECT_EQ(ptm.font_count, c.fonts);
        EXPECT_EQ(ptm.image_count, c.images);
        EXPECT_GE(ptm.area_count ? ptm.areas[0].page_count : 0, c.pages);
        ptm.clear();
        // Four times the file, and room for the sanitizer's own.
        if (growth >= 0) {
            EXPECT_LE(growth, 4 * size / 1024 + 8192);
        }
    }
}

// A count is checked against the bytes left less the least its list's later
// elements take: a page's second object leaves its first too little for a
// count that would fit alone, which stops the read at that count.
TEST_F(PtmFileTest, CountsLeaveTheBytesOfLaterElements)
{
    kivo_test::PTM_TEST_WRITER sub(25, false);
    sub.object(0x8, 0);
    const long sub_sz = static_cast<long>(sub.out.size());
    const long present = 8;
    for (INT_U32 siblings : {1u, 2u}) {
        SCOPED_TRACE(siblings);
        kivo_test::PTM_TEST_WRITER w(25, false);
        w.u8(0), w.u16(25), w.u8(0);
        w.app_fields();
        for (int list = 0; list < 6; list++) {
            w.count(0);
        }
        w.count(1), w.str("A"), w.u16(0), w.u16(0), w.u16(10), w.u16(10), w.u32(0);
        w.count(1), w.u32(7), w.str("P"), w.u32(0xFFFFFFFFu), w.u32(0);
        w.count(siblings);
        w.object_fields(0x10);
        // As many objects as the bytes after the count hold at the least,
        // with fewer present: alone, reading goes on to the end.
        const long claimed = present * sub_sz / WM_PTM_OBJECT_INFO::min_file_size(25);
        w.count(static_cast<INT_U32>(claimed));
        const long count_end = static_cast<long>(w.out.size()) - 1; // without the byte-order byte
        for (long i = 0; i < present; i++) {
            w.object(0x8, 0);
        }
        ASSERT_FALSE(read(w.out));
        EXPECT_EQ(ptm.failed_pos, siblings == 1 ? static_cast<long>(w.out.size()) - 1 : count_end);
        // Whatever held the bytes gave them back.
        MEMORY_DATA_DEVICE fresh(std::string(100, '\0'));
        EXPECT_EQ(ptm_bytes_left(fresh), 100);
    }
}

// A file ending inside the font list keeps the fonts read before the break;
// a record is made only while the file can still hold one, so a count far
// beyond the file costs nothing.
TEST_F(PtmFileTest, FontListCutShortKeepsTheFontsBefore)
{
    for (INT_U32 declared : {3u, 32767u}) {
        SCOPED_TRACE(declared);
        kivo_test::PTM_TEST_WRITER w(25, false);
        w.u8(0), w.u16(25), w.u8(0);
        w.app_fields();
        w.count(0);
        w.count(declared);
        for (const char* name : {"F0", "F1", "F2"}) {
            w.str(name), w.str("none.ttf"), w.path("$APPDATA/fonts"), w.u8(255);
        }
        w.out.resize(w.out.size() - 100);
        bool ok = true;
        long long largest = kivo_test::largest_allocation([&] { ok = read(w.out); });
        EXPECT_FALSE(ok);
        EXPECT_STREQ(ptm.failed_kind, "font");
        ASSERT_EQ(ptm.font_count, 2);
        EXPECT_STREQ(ptm.fonts[0]->name, "F0");
        EXPECT_STREQ(ptm.fonts[1]->name, "F1");
        if (largest >= 0) {
            EXPECT_LT(largest, 64 * 1024);
        }
    }
}

TEST_F(PtmFileTest, FailedSaveKeepsTheOldFile)
{
    ASSERT_TRUE(read(kivo_test::ptm_test_file(25, false)));
    FOLDER folder = here();
    write("pages.bin", kivo_test::ptm_test_file(20, false));
    const std::string before = kivo_test::read_file(path("pages.bin"));
    // A disk that fills part-way through.
    int result = kivo_test::run_in_child([&] { return ptm.save(folder, "pages.bin", 0) ? 1 : 0; }, 4000);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(kivo_test::read_file(path("pages.bin")) == before);
}

TEST(PtmManager, OneAtATime)
{
    {
        WM_PAGE_TOOL_MANAGER first;
        EXPECT_EQ(WM_PTM_OBJECT_INFO::ptm, &first);
        EXPECT_EXIT(WM_PAGE_TOOL_MANAGER(), ::testing::ExitedWithCode(1), "006C");
    }
    EXPECT_EQ(WM_PAGE_TOOL_MANAGER::me, nullptr);
    EXPECT_EQ(WM_PTM_OBJECT_INFO::ptm, nullptr);
}

} // namespace
