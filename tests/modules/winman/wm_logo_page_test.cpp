#include "image_test_util.h"
#include "kivo_host.h"
#include "mouse.h"
#include "widget_test.h"
#include "wm_logo_page.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using imgtest::CANVAS;
using imgtest::px;

constexpr INT_U32 RED = 0xFFFF0000u, BLUE = 0xFF0000FFu, GREEN = 0xFF00FF00u, BLACK = 0xFF000000u;

int goto_calls = 0, shown_passes = 0;
WM_MESG go_to_first_pages()
{
    return ++goto_calls, 11;
}

class LogoPageTest : public kivo_test::WidgetTest
{
protected:
    WM_PAGE_MANAGER* pm = nullptr;
    FOLDER images; // placed once "$APPDATA" is the test's own
    void SetUp() override
    {
        WidgetTest::SetUp();
        goto_calls = shown_passes = 0;
        pm = new WM_PAGE_MANAGER(1, -1);
        images.set("$APPDATA/images", 1);
    }
    void write_logo(int w, int h)
    {
        CANVAS picture(w, h, {RED});
        DATA_FILE* file = images.open_data_file("logo.png", fm_write, 0, 0);
        ASSERT_TRUE(file && picture.save_png(file) && images.close(file));
    }
    bool queued() const { return pm->current_area->next_page.create == wm_logo_page_setup; }
    WM_MESG pass_at(INT_S64 s)
    {
        kivo_fake_clock_set_wall(kivo_test::START_WALL + s);
        return wm_logo_page_monitor();
    }
};

TEST_F(LogoPageTest, ShownForTwoToThreeWholeSecondsOrUntilAClick)
{
    // A missing picture goes to the first pages at once.
    wm_logo_page(*pm, images, "logo", go_to_first_pages, 2, 500, 1500, 1);
    EXPECT_EQ(goto_calls, 1);
    EXPECT_FALSE(queued());
    goto_calls = 0;

    write_logo(40, 20);
    wm_logo_page(*pm, images, "logo", go_to_first_pages, 2, 500, 1500, 0);
    ASSERT_TRUE(queued());
    EXPECT_EQ(pm->page_effects, 1);
    EXPECT_EQ(pm->page_effects_ms, 500u);
    wm_logo_page_setup(*pm);
    const IMAGE& b = pm->backgrounds[0];
    ASSERT_EQ(b.width, kivo_test::SCREEN_W);
    EXPECT_EQ(px(b, 380, 290), RED); // centred; an empty background starts black
    EXPECT_EQ(px(b, 420, 309), BLACK);
    for (INT_S64 s : {0, 0, 1, 2}) {
        EXPECT_EQ(pass_at(s), 0) << s;
    }
    EXPECT_EQ(goto_calls, 0);
    EXPECT_EQ(pass_at(3), 11);
    EXPECT_EQ(pm->page_effects_ms, 1500u); // the fade-out time stays

    // A click ends a 30-second logo on the next pass.
    wm_logo_page_reset();
    wm_logo_page(*pm, images, "logo", go_to_first_pages, 30, 0, 0, 1);
    wm_logo_set_displaying_logo_callback([] { ++shown_passes; });
    EXPECT_EQ(pass_at(0), 0);
    MOUSE::buttons = 1;
    EXPECT_EQ(pass_at(0), 0); // the click is seen here
    EXPECT_EQ(pass_at(0), 11);
    EXPECT_EQ(shown_passes, 1);
}

TEST_F(LogoPageTest, ComposedPictureAtRightAndBottomOffsetKeepsItsBox)
{
    pm->page_effects = 1;
    pm->page_effects_ms = 777;
    LOGO_IMAGE part[1] = {{CANVAS(20, 10, {BLUE}), 2 | 8, 10, GREEN}};
    wm_logo_page(*pm, part, 1, COLOUR_BLACK, go_to_first_pages, 2, 0, 0);
    ASSERT_TRUE(queued());
    EXPECT_EQ(pm->page_effects, 0); // a fade-in of 0: off, time kept
    EXPECT_EQ(pm->page_effects_ms, 777u);
    wm_logo_page_setup(*pm);
    const IMAGE& b = pm->backgrounds[0];
    // 11 pixels right of and below the picture; the box reaches one further.
    const struct
    {
        int x, y;
        INT_U32 want;
    } cases[] = {{788, 588, BLUE},  {769, 579, BLUE},  {789, 588, GREEN},
                 {788, 589, GREEN}, {790, 588, BLACK}, {788, 590, BLACK}};
    for (const auto& c : cases) {
        EXPECT_EQ(px(b, c.x, c.y), c.want) << c.x << "," << c.y;
    }
}

TEST_F(LogoPageTest, MessageIsCutTo24CharactersAndCentred)
{
    const std::string text = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", cut = text.substr(0, 24);
    const char font = static_cast<char>(screen().font_slot);
    ASSERT_TRUE(IMAGE::is_font_valid(font));
    const int w = screen().get_string_width(font, 20, 20, cut.c_str(), -1, 0);
    auto render = [&](short x, short y, const std::string& msg) {
        wm_logo_page_reset();
        pm->backgrounds[0].reset(0, 0);
        wm_logo_page(*pm, nullptr, 0, COLOUR_BLACK, go_to_first_pages, 2, 0, 0);
        wm_logo_set_message(x, y, msg.c_str(), COLOUR_WHITE, font, 20, 20);
        wm_logo_page_setup(*pm);
        const IMAGE& b = pm->backgrounds[0];
        return std::vector<INT_U32>(b.pixels, b.pixels + b.height * b.stride);
    };
    const std::vector<INT_U32> centred = render(-1, -1, text);
    EXPECT_NE(centred, render(0, 0, ""));
    EXPECT_TRUE(centred ==
                render(static_cast<short>((kivo_test::SCREEN_W - w) / 2), (kivo_test::SCREEN_H - 20) / 2, cut));
}

} // namespace
