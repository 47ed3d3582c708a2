#include "config_file.h"
#include "image_test_util.h"
#include "widget_test.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;

class PtmFoldersTest : public kivo_test::WidgetTest
{
protected:
    WM_PAGE_TOOL_MANAGER* ptm = nullptr;
    void SetUp() override { WidgetTest::SetUp(), ptm = new WM_PAGE_TOOL_MANAGER(); }
    void TearDown() override { delete ptm, WidgetTest::TearDown(); } // it holds no page manager here
    // The test's folder `top` and, when given, `top/sub`.
    FOLDER tree(const std::string& top, const std::string& sub = "")
    {
        ::mkdir(path(top).c_str(), 0755);
        const std::string p = sub.empty() ? path(top) : path(top + "/" + sub);
        ::mkdir(p.c_str(), 0755);
        FOLDER f;
        EXPECT_TRUE(f.set_from_path_string(p.c_str()));
        return f;
    }
    static std::string alias_of(FOLDER f)
    {
        char out[2048];
        return f.get(out) ? out : "";
    }
};

TEST_F(PtmFoldersTest, FontsFromTtfThenOtfOfTheWholeTreeInstalledOnceSorted)
{
    FOLDER fonts = tree("fonts"), sub = tree("fonts", "more");
    const std::string face = read_file(std::string(KIVO_TEST_SHARE_DIR) + "/fonts/Display.ttf");
    for (const char* name : {"fonts/Zed.otf", "fonts/Arial.ttf", "fonts/more/Inner.otf"}) {
        ASSERT_TRUE(write_file(path(name), face));
    }
    ptm->load_fonts(fonts);
    ASSERT_EQ(ptm->font_count, 3);
    const char* names[][2] = {{"Arial", "Arial.ttf"}, {"Inner", "Inner.otf"}, {"Zed", "Zed.otf"}};
    for (int i = 0; i < 3; i++) {
        WM_PTM_FONT_INFO* f = ptm->fonts[i];
        EXPECT_STREQ(f->name, names[i][0]);
        EXPECT_STREQ(f->filename, names[i][1]);
        EXPECT_EQ(std::string(f->path), alias_of(i == 1 ? sub : fonts)) << i;
        EXPECT_NE(f->font_slot, 255) << i;
        // Each installed exactly once, by the outermost call.
        EXPECT_NE(f->font_slot, ptm->fonts[(i + 1) % 3]->font_slot);
    }
}

TEST_F(PtmFoldersTest, StyleSetsWithAndWithoutRewrite)
{
    FOLDER sets = tree("sets"), sub = tree("sets", "deep");
    for (FOLDER* f : {&sets, &sub}) {
        WM_STYLE_SET s;
        CONFIG_FILE cfg;
        cfg.set_filename("a.ss", 1);
        ASSERT_TRUE(s.write_to_config_file(
            cfg, [](char, void*) { return ""; }, nullptr, f));
    }
    // A comment survives only until the file is rewritten.
    const std::string a = path("sets/a.ss"), broken = "font_size\n\t12\n";
    ASSERT_TRUE(write_file(a, "# hand note\n" + read_file(a)));
    const std::string a_before = read_file(a);
    ASSERT_TRUE(write_file(path("sets/c.ss"), broken));

    ptm->load_style_sets(sets, 0);
    EXPECT_EQ(ptm->style_set_count, 2); // the broken set adds nothing
    EXPECT_EQ(read_file(a), a_before);
    for (int pass = 0; pass < 2; pass++) {
        ptm->clear_style_sets();
        ptm->load_style_sets(sets, static_cast<unsigned char>(pass == 0));
        EXPECT_EQ(ptm->style_set_count, 2) << pass; // the rewritten files read back
    }
    EXPECT_EQ(read_file(a).find("# hand note"), std::string::npos);
    // A set that did not read is neither rewritten nor lost.
    EXPECT_EQ(read_file(path("sets/c.ss")), broken);
}

// A rewrite killed before its new file replaced the set leaves that file;
// the next rewrite of the same set clears it, and nothing else.
TEST_F(PtmFoldersTest, RewriteClearsWhatAKilledRewriteOfTheSameSetLeft)
{
    FOLDER sets = tree("sets");
    for (const char* name : {"a.ss", "b.ss"}) {
        WM_STYLE_SET s;
        CONFIG_FILE cfg;
        cfg.set_filename(name, 1);
        ASSERT_TRUE(s.write_to_config_file(
            cfg, [](char, void*) { return ""; }, nullptr, &sets));
    }
    ASSERT_TRUE(write_file(path("sets/.a.ss.ss-new"), "name\n\tcut sho"));
    ASSERT_TRUE(write_file(path("sets/other.ss-new"), "not ours"));
    // A link by the new file's name is nobody's leftover: it stays, and the
    // set is not written through it.
    ASSERT_TRUE(write_file(path("outside"), "kept"));
    ASSERT_EQ(::symlink(path("outside").c_str(), path("sets/.b.ss.ss-new").c_str()), 0);
    const std::string b_before = read_file(path("sets/b.ss"));
    ASSERT_TRUE(write_file(path("sets/b.ss"), "# hand note\n" + b_before));

    ptm->load_style_sets(sets, 1);
    EXPECT_EQ(ptm->style_set_count, 2);
    struct stat st;
    EXPECT_NE(::lstat(path("sets/.a.ss.ss-new").c_str(), &st), 0);
    EXPECT_EQ(read_file(path("sets/other.ss-new")), "not ours");
    EXPECT_EQ(::lstat(path("sets/.b.ss.ss-new").c_str(), &st), 0);
    EXPECT_EQ(read_file(path("outside")), "kept");
    EXPECT_EQ(read_file(path("sets/b.ss")), "# hand note\n" + b_before);
    ptm->clear_style_sets();
    ptm->load_style_sets(sets, 0);
    EXPECT_EQ(ptm->style_set_count, 2); // the rewritten set reads back
}

TEST_F(PtmFoldersTest, ConstantsImagesAndColoursFromCfgFiles)
{
    FOLDER consts = tree("consts");
    tree("consts", "inner");
    ASSERT_TRUE(write_file(path("consts/a.cfg"), "Width\n\t640\n"));
    ASSERT_TRUE(write_file(path("consts/inner/b.cfg"), "Title\n\tHello there\n"));
    ptm->load_constants(consts);
    ASSERT_EQ(ptm->constant_count, 2);
    EXPECT_STREQ(ptm->constants[0]->name, "Width");
    EXPECT_STREQ(ptm->constants[1]->value.value.text, "Hello there");

    FOLDER colours = tree("colours");
    ASSERT_TRUE(write_file(path("colours/colours.cfg"), "Red\n\t#FF0000\nSeeThrough\n\t#80112233\n"));
    ASSERT_TRUE(write_file(path("colours/colours.CFG"), "Skipped\n\t#00FF00\n"));
    ptm->load_colours(colours);
    ASSERT_EQ(ptm->colour_count, 2);
    EXPECT_STREQ(ptm->colours[0]->name, "Red");
    EXPECT_EQ(ptm->colours[1]->colour.value, 0x80112233u);

    FOLDER pics = tree("pics"), pics_sub = tree("pics", "sub");
    imgtest::CANVAS picture(6, 4, {0xFF336699u});
    DATA_FILE* file = pics_sub.open_data_file("dot.png", fm_write, 0, 0);
    ASSERT_TRUE(file && picture.save_png(file) && pics_sub.close(file));
    ASSERT_TRUE(write_file(path("pics/sub/list.cfg"), "Dot\n\tdot.png\nGone\n\tmissing.png\n"));
    ptm->load_images(pics);
    ASSERT_EQ(ptm->image_count, 2);
    EXPECT_STREQ(ptm->images[0]->filename, "dot.png");
    EXPECT_EQ(std::string(ptm->images[0]->path), alias_of(pics_sub));
    ASSERT_NE(ptm->images[0]->image, nullptr);
    EXPECT_EQ(ptm->images[0]->image->width, 6);
    EXPECT_STREQ(ptm->images[1]->name, "Gone"); // kept, without a picture
    EXPECT_EQ(ptm->images[1]->image, nullptr);
}

TEST_F(PtmFoldersTest, AddPageWithoutPageManagerSavesAnEmptyPage)
{
    ASSERT_EQ(WM_SCREEN_OBJECT::pm, nullptr);
    EXPECT_TRUE(ptm->add_page(tree("out"), "pages.bin", 7, 0));
    ASSERT_EQ(ptm->area_count, 1);
    ASSERT_EQ(ptm->areas[0].page_count, 1);
    EXPECT_EQ(ptm->areas[0].pages[0].object_count, 0);
    EXPECT_FALSE(read_file(path("out/pages.bin")).empty());
}

TEST_F(PtmFoldersTest, AddPageTakesARecordForEachWidgetOfTheCurrentArea)
{
    auto* manager = new WM_PAGE_MANAGER(1, -1); // the fixture deletes it
    for (int x : {0, 60}) {
        manager->areas[0].add_object(new kivo_test::PROBE(x, 0, 50, 50, COLOUR_RED), 0);
    }
    EXPECT_TRUE(ptm->add_page(tree("out"), "pages.bin", 0, 0));
    ASSERT_EQ(ptm->area_count, 1);
    ASSERT_EQ(ptm->areas[0].page_count, 1);
    EXPECT_EQ(ptm->areas[0].pages[0].object_count, 2);
}

} // namespace
