// The glyph cache: one entry per slot, size and character, bounded by
// bytes, least recently used first out. What it draws is checked against
// the same text drawn with no budget, where every glyph is rendered anew.
#include "font_walk.h"
#include "image_test_util.h"

#include <cstdio>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace imgtest;
constexpr INT_S8 SANS = 10, MONO = 18;

// A budget for the length of a test, the usual one again afterwards.
struct BUDGET
{
    explicit BUDGET(unsigned long bytes) { font_set_glyph_cache_budget(bytes); }
    ~BUDGET() { font_set_glyph_cache_budget(IMAGE_GLYPH_CACHE_BYTES); }
};

class FontCacheTest : public FontSystemTest
{
protected:
    void SetUp() override
    {
        FontSystemTest::SetUp();
        ASSERT_TRUE(IMAGE::is_font_valid(SANS) && IMAGE::is_font_valid(MONO));
    }

    // The text in one slot and size on white, and its width.
    static std::pair<std::vector<INT_U32>, INT_S32> draw(INT_S8 slot, short size, const char* text)
    {
        CANVAS c(300, 60, {0xFFFFFFFFu});
        c.render_string(2, 2, COLOUR_BLACK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 0.0, slot, size, size, text, -1, 0);
        return {snapshot(c), c.get_string_width(slot, size, size, text, -1, 0)};
    }
    static std::pair<std::vector<INT_U32>, INT_S32> draw_uncached(INT_S8 slot, short size, const char* text)
    {
        BUDGET none(0);
        return draw(slot, size, text);
    }
};

TEST_F(FontCacheTest, SizesInterleavedDrawAsFreshlyRenderedAndRenderOnce)
{
    // One face at several sizes and two faces at one size, in turns, with
    // a character past 255 among them.
    const struct
    {
        INT_S8 slot;
        short size;
    } uses[] = {
        {SANS, 12}, {SANS, 22}, {MONO, 22}, {SANS, 31}, {SANS, 12}, {MONO, 40}, {SANS, 22}, {MONO, 22},
    };
    const char* text = "Race: Dwarf \x01"
                       "263A\x01 Elf";
    std::vector<std::pair<std::vector<INT_U32>, INT_S32>> first;
    for (const auto& u : uses) {
        first.push_back(draw(u.slot, u.size, text));
    }
    // The second round finds every glyph, whatever size came between.
    const unsigned long renders = font_glyph_renders();
    for (size_t i = 0; i < std::size(uses); ++i) {
        EXPECT_EQ(draw(uses[i].slot, uses[i].size, text), first[i]) << i;
    }
    EXPECT_EQ(font_glyph_renders(), renders);
    for (size_t i = 0; i < std::size(uses); ++i) {
        EXPECT_EQ(draw_uncached(uses[i].slot, uses[i].size, text), first[i]) << i;
    }
    EXPECT_GT(font_glyph_renders(), renders);
}

TEST_F(FontCacheTest, BudgetLetsTheLeastRecentlyUsedGo)
{
    // A budget that holds no glyph keeps the one drawn last and nothing
    // else, and draws as the usual one does.
    for (short size : {9, 17, 26}) {
        const auto want = draw(MONO, size, "Settings page");
        BUDGET tiny(1);
        EXPECT_EQ(draw(MONO, size, "Settings page"), want) << size;
        EXPECT_EQ(font_glyph_cache_count(), 1u);
    }

    // Three glyphs fill the budget; the one used again stays when a fourth
    // comes, the least recently used goes.
    IMAGE::free_font(-1);
    for (INT_S8 slot : {SANS, MONO}) {
        ASSERT_EQ(IMAGE::load_font(IMAGE::get_font_info_filename(slot), nullptr, slot, nullptr), slot);
    }
    ASSERT_EQ(font_glyph_cache_count(), 0u);
    ASSERT_EQ(font_glyph_cache_bytes(), 0u);
    for (const char* s : {"a", "b", "c"}) {
        draw(MONO, 16, s);
    }
    {
        const unsigned long full = font_glyph_cache_bytes();
        BUDGET three(full);
        draw(MONO, 16, "a");
        draw(MONO, 16, "d");
        EXPECT_LE(font_glyph_cache_bytes(), full);
        const unsigned long renders = font_glyph_renders();
        draw(MONO, 16, "a");
        EXPECT_EQ(font_glyph_renders(), renders) << "a was used after b";
        draw(MONO, 16, "b");
        EXPECT_EQ(font_glyph_renders(), renders + 1) << "b was the least recently used";
    }

    // Freeing a slot takes its glyphs out; the other slot's stay.
    draw(SANS, 16, "xyz");
    const unsigned long held = font_glyph_cache_count();
    IMAGE::free_font(MONO);
    EXPECT_LT(font_glyph_cache_count(), held);
    EXPECT_GT(font_glyph_cache_count(), 0u);
    IMAGE::free_font(SANS);
    EXPECT_EQ(font_glyph_cache_count(), 0u);
    EXPECT_EQ(font_glyph_cache_bytes(), 0u);
}

// A freed face is kept a while and taken back when the very same file is
// loaded again, unchanged; a file written anew or replaced is opened anew.
// Either way the text is what a face fresh from the file draws, at every
// size, in whatever order the sizes come.
TEST_F(FontCacheTest, FreedFacesComeBackOnlyForTheSameUnchangedFile)
{
    const std::string dir = kivo_test::make_temp_dir("faces");
    const std::string sans = kivo_test::read_file(shared_fonts() + "/" + IMAGE::get_font_info_filename(SANS));
    const std::string mono = kivo_test::read_file(shared_fonts() + "/" + IMAGE::get_font_info_filename(MONO));
    ASSERT_TRUE(kivo_test::write_file(dir + "/Face.ttf", sans));
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    const INT_S8 slot = IMAGE::load_font("Face.ttf", "Face", -1, &folder);
    ASSERT_GE(slot, IMAGE_KNOWN_FONT_COUNT);
    const FT_Face first = font_slot_entry(slot)->face;
    const auto sans_20 = draw(SANS, 20, "Wag 1"), sans_12 = draw(SANS, 12, "Wag 1");
    EXPECT_EQ(draw(slot, 20, "Wag 1"), sans_20);
    EXPECT_EQ(draw(slot, 12, "Wag 1"), sans_12);

    const struct
    {
        const char* change;
        std::function<bool()> apply;
        bool same_face;
        const std::pair<std::vector<INT_U32>, INT_S32>* draws;
    } steps[] = {
        {"none", [] { return true; }, true, &sans_12},
        {"written anew", [&] { return kivo_test::write_file(dir + "/Face.ttf", mono); }, false, nullptr},
        {"replaced",
         [&] {
             return kivo_test::write_file(dir + "/new.ttf", sans) &&
                    std::rename((dir + "/new.ttf").c_str(), (dir + "/Face.ttf").c_str()) == 0;
         },
         false, &sans_12},
    };
    const auto mono_12 = draw(MONO, 12, "Wag 1");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change);
        const FT_Face before = font_slot_entry(slot)->face;
        IMAGE::free_font(slot);
        ASSERT_TRUE(step.apply());
        ASSERT_EQ(IMAGE::load_font("Face.ttf", "Face", -1, &folder), slot);
        EXPECT_EQ(font_slot_entry(slot)->face == before, step.same_face);
        // The size drawn last before the free is not the first drawn after.
        EXPECT_EQ(draw(slot, 12, "Wag 1"), step.draws ? *step.draws : mono_12);
    }
    EXPECT_NE(font_slot_entry(slot)->face, first);
}

} // namespace
