// The image widget: how it fits its picture, what it draws, and the presses
// and releases (of the left button or, while focused, of Return) it fires on.
#include "folder.h"
#include "widget_test.h"
#include "wm_image.h"
#include "wm_manager.h"

#include <functional>
#include <string>
#include <vector>

using imgtest::px;
using kivo_test::SENTINEL;

namespace {

constexpr INT_U32 PICTURE = 0xFF3060C0u, HIGHLIGHT = 0xFFC03030u, WHITE = COLOUR_WHITE;
constexpr WM_MESG REPLY = 7;

class ImageWidgetTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        root = new WM_MANAGER();
    }
    void TearDown() override
    {
        delete root;
        WM_IMAGE::default_show_clickable_cursor = 0;
        WidgetTest::TearDown();
    }
    // A widget at (200, 100) on the root unless given, its picture solid.
    WM_IMAGE* add_image(INT_U8 trigger, int w = 50, int h = 30, WM_SCREEN_OBJECT* parent = nullptr)
    {
        auto* image =
            new WM_IMAGE(200, 100, static_cast<INT_S16>(w), static_cast<INT_S16>(h), 1, record, this, &marker, trigger);
        image->picture.clear(PICTURE, 1);
        (parent ? parent : root)->add_object(image, 0);
        return image;
    }
    // Notes the click as "x,y;" after checking the data words; answers REPLY.
    static WM_MESG record(WM_SCREEN_OBJECT* object, void* data1, void* data2)
    {
        auto* self = static_cast<ImageWidgetTest*>(data1);
        EXPECT_EQ(data2, &self->marker);
        auto* image = static_cast<WM_IMAGE*>(object);
        self->clicks += std::to_string(image->click_x) + "," + std::to_string(image->click_y) + ";";
        return REPLY;
    }
    // One pass per step: '*' where monitor answered REPLY, '.' for 0.
    std::string run(const std::vector<std::function<void()>>& steps)
    {
        std::string got;
        for (auto& step : steps) {
            step();
            const WM_MESG r = tick(10, root);
            got += r == REPLY ? '*' : r == 0 ? '.' : '?';
        }
        return got;
    }
    WM_MANAGER* root = nullptr;
    int marker = 0;
    std::string clicks;
};

} // namespace

TEST_F(ImageWidgetTest, FitsThePictureWhenDrawn)
{
    // The quick scaler keeps a checker's two colours; the filter mixes them.
    const struct
    {
        int w, h, pic_w, pic_h;
        INT_U8 quick;
        int want_w, want_h;
    } cases[] = {
        {0, 0, 30, 20, 0, 30, 20},
        {100, 50, 40, 40, 0, 100, 50},
        {100, 50, 40, 40, 1, 100, 50},
        {20, 10, 0, 0, 0, 20, 10},
    };
    const INT_U8 saved_quick = IMAGE::use_quick_resize;
    for (auto& c : cases) {
        screen().clear(SENTINEL, 1);
        WM_IMAGE* image = add_image(3, c.w, c.h);
        image->picture.reset(static_cast<short>(c.pic_w), static_cast<short>(c.pic_h));
        for (int i = 0; i < c.pic_w * c.pic_h; ++i) {
            px(image->picture, i % c.pic_w, i / c.pic_w) = (i % c.pic_w / 4 + i / c.pic_w / 4) % 2 ? PICTURE : WHITE;
        }
        IMAGE::use_quick_resize = c.quick;
        root->request_draw();
        tick(10, root);
        IMAGE::use_quick_resize = saved_quick;
        SCOPED_TRACE(testing::Message() << c.w << " x " << c.h << ", picture " << c.pic_w << " x " << c.pic_h);
        EXPECT_EQ(image->width * 1000 + image->height, c.want_w * 1000 + c.want_h);
        EXPECT_EQ(image->picture.width * 1000 + image->picture.height, c.want_w * 1000 + c.want_h);
        int mixed = 0;
        for (int i = 0; i < c.want_w * c.want_h; ++i) {
            const INT_U32 p = px(image->picture, i % c.want_w, i / c.want_w);
            mixed += p != PICTURE && p != WHITE;
            // Drawn over exactly its rectangle (no border by default); blank
            // stays unseen.
            ASSERT_EQ(at(200 + i % c.want_w, 100 + i / c.want_w), c.pic_w ? p : SENTINEL);
        }
        if (c.pic_w == 40) {
            EXPECT_EQ(mixed > 0, !c.quick);
        }
        EXPECT_EQ(at(199, 100), SENTINEL);
        EXPECT_EQ(at(200 + c.want_w, 100 + c.want_h - 1), SENTINEL);
        root->remove_object(image, 1, 0);
    }
    WM_IMAGE* image = add_image(3, 40, 40);
    image->resize(60, 30, 0);
    EXPECT_EQ(image->picture.width * 1000 + image->picture.height, 60030);
}

TEST_F(ImageWidgetTest, BorderAndHighlightFollowFocusAndPointer)
{
    // Type 6 rings, then the highlight over the whole rectangle while focused
    // or under the pointer. The pointer's moves redraw by themselves.
    WM_IMAGE* image = add_image(3, 40, 20);
    image->shading_flags = 15;
    image->highlight_colour = HIGHLIGHT;
    image->request_draw();
    const struct
    {
        bool focal, over;
        INT_U32 highlight, centre, corner;
    } cases[] = {
        {false, false, HIGHLIGHT, PICTURE, WHITE}, {false, true, HIGHLIGHT, HIGHLIGHT, HIGHLIGHT},
        {false, false, HIGHLIGHT, PICTURE, WHITE}, {true, false, HIGHLIGHT, HIGHLIGHT, HIGHLIGHT},
        {true, true, 0, PICTURE, WHITE},
    };
    for (auto& c : cases) {
        if (c.focal != (WM_SCREEN_OBJECT::focal_object == image) || c.highlight != image->highlight_colour) {
            image->request_draw();
        }
        WM_SCREEN_OBJECT::focal_object = c.focal ? image : nullptr;
        image->highlight_colour = c.highlight;
        point(c.over ? 210 : 10, 105);
        screen().clear(SENTINEL, 1);
        tick(10, root);
        SCOPED_TRACE(testing::Message() << "focal " << c.focal << ", over " << c.over);
        EXPECT_EQ(at(220, 110), c.centre);
        EXPECT_EQ(at(200, 100), c.corner);
        EXPECT_EQ(at(238, 101), c.corner == WHITE ? INT_U32(COLOUR_DARK_GREY) : HIGHLIGHT);
        EXPECT_EQ(at(240, 110), SENTINEL);
    }
}

TEST_F(ImageWidgetTest, TriggersFireOnTheirEdges)
{
    // Widget at (200, 100), 50 x 30. P, H, R: press, hold, release over it
    // at (5, 6), (7, 8), (9, 3) of the widget; p, h, r the same outside.
    // K, k: Return held, up, the mouse button up and the pointer outside
    // (J, j: over it); the key drives a focused widget at its centre
    // however long it is held, and an unfocused one not at all.
    const struct
    {
        INT_U8 trigger, continuous;
        bool focal;
        const char *steps, *fires, *clicks;
    } cases[] = {
        {1, 0, 0, "PHHR", "*...", "5,6;"},
        {1, 1, 0, "PHHR", "***.", "5,6;7,8;7,8;"},
        {2, 1, 0, "PHHRR", "...*.", "9,3;"},
        {3, 0, 0, "PHHR", "*..*", "5,6;9,3;"},
        {0, 1, 0, "PHHR", "....", ""},
        {2, 0, 0, "phR", "..*", "9,3;"}, // began outside, let go over it: a release over it
        {3, 0, 0, "PHhr", "*...", "5,6;"},
        {1, 0, 0, "pHH", "...", ""}, // no press while held on the way in
        {3, 0, 1, "KKKkk", "*..*.", "25,15;25,15;"},
        {3, 0, 1, "JJJjj", "*..*.", "25,15;25,15;"},
        {3, 0, 0, "KKKkk", ".....", ""},
    };
    for (auto& c : cases) {
        WM_IMAGE* image = add_image(c.trigger);
        image->continuous = c.continuous;
        WM_SCREEN_OBJECT::focal_object = c.focal ? image : nullptr;
        clicks.clear();
        std::vector<std::function<void()>> steps;
        for (const char* s = c.steps; *s; ++s) {
            const char k = *s;
            steps.push_back([k] {
                if (k == 'K' || k == 'k' || k == 'J' || k == 'j') {
                    point(k == 'J' || k == 'j' ? 205 : 10, 105);
                    press(1, false);
                    hold_key(kivo_test::KEY_RETURN, k == 'K' || k == 'J');
                    return;
                }
                const bool inside = k == 'P' || k == 'H' || k == 'R';
                point(inside ? (k == 'P'   ? 205
                                : k == 'H' ? 207
                                           : 209)
                             : 10,
                      inside ? (k == 'P'   ? 106
                                : k == 'H' ? 108
                                           : 103)
                             : 10);
                press(1, k == 'P' || k == 'H' || k == 'p' || k == 'h');
            });
        }
        EXPECT_EQ(run(steps), c.fires) << "trigger " << int(c.trigger) << " continuous " << int(c.continuous)
                                       << " focal " << c.focal << " " << c.steps;
        EXPECT_EQ(clicks, c.clicks) << c.steps;
        EXPECT_EQ(image->click_x + image->click_y, -2);
        root->remove_object(image, 1, 0);
    }
}

TEST_F(ImageWidgetTest, FiringPlaysTheSoundAndPointerAsksForTheHand)
{
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    ASSERT_TRUE(SOUND_BUFFER::generate_wav_file(folder, "note.wav", "9&1C", 500, nullptr));
    ASSERT_TRUE(WM_SCREEN_OBJECT::action_sound.load(folder, "note.wav"));
    WM_IMAGE::default_show_clickable_cursor = 1;
    add_image(2);
    EXPECT_EQ(run({[] { point(210, 110), press(1, true); }}), ".");
    EXPECT_FALSE(WM_SCREEN_OBJECT::action_sound.platform_is_playing());
    EXPECT_EQ(run({[] { press(1, false); }}), "*"); // and, without a page manager, no request
    EXPECT_TRUE(WM_SCREEN_OBJECT::action_sound.platform_is_playing());
    delete root;
    root = nullptr;

    // The request starts each pass at 0 (-1 while widgets may not ask); the
    // pressed shape is never available, so the hand (1) is asked for.
    auto* pm = new WM_PAGE_MANAGER(1, -1);
    WM_IMAGE* image = add_image(3, 50, 30, &pm->areas[0]);
    const struct
    {
        INT_U8 show, monitor;
        int x;
        bool down;
        int want;
    } cases[] = {
        {1, 1, 210, false, 1}, {1, 1, 210, true, 1},   {1, 1, 10, false, 0},
        {0, 1, 210, false, 0}, {1, 0, 210, false, -1},
    };
    for (auto& c : cases) {
        image->show_clickable_cursor = c.show;
        WM_PAGE_MANAGER::monitor_mouse_cursor = c.monitor;
        point(c.x, 110);
        press(1, c.down);
        tick(10);
        EXPECT_EQ(pm->cursor_request, c.want) << int(c.show) << " " << int(c.monitor) << " " << c.x << " " << c.down;
    }
}
