// The check box: its size from the font, the click on either button that
// toggles it, the plain and the skinned box, and what differs from a
// screen object.
#include "folder.h"
#include "widget_test.h"
#include "wm_check_box.h"
#include "wm_manager.h"

#include <algorithm>
#include <string>

namespace {

class CheckBoxTest : public kivo_test::WidgetTest
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
        WidgetTest::TearDown();
    }
    // Notes the state; its answer is ignored.
    static WM_MESG record(WM_SCREEN_OBJECT* object, void* self, void* data2)
    {
        EXPECT_EQ(data2, &static_cast<CheckBoxTest*>(self)->root);
        static_cast<CheckBoxTest*>(self)->calls += static_cast<WM_CHECK_BOX*>(object)->checked ? '1' : '0';
        return 7;
    }
    // A press and a release at the centre, then a frame to draw.
    WM_MESG click(WM_SCREEN_OBJECT* on)
    {
        point(on->x + on->width / 2, on->y + on->height / 2);
        press(1, true);
        tick(10, root);
        press(1, false);
        const WM_MESG r = tick(10, root);
        tick(10, root);
        return r;
    }
    WM_CHECK_BOX* add(WM_CHECK_BOX* box)
    {
        root->add_object(box, 0);
        return box;
    }
    WM_CHECK_BOX* plain(int x, INT_S16 font_w, INT_S16 font_h)
    {
        return add(new WM_CHECK_BOX(static_cast<INT_S16>(x), 100, COLOUR_WHITE, COLOUR_BLACK, "Sound", -1, font_w,
                                    font_h, record, this, &root, 1));
    }
    WM_MANAGER* root = nullptr;
    std::string calls;
};

} // namespace

TEST_F(CheckBoxTest, SizeFollowsTheFont)
{
    // Shading type 6: two pixels a side. -1 takes the surface's size. The
    // caption's width does not depend on where the check box stands.
    const int sw = screen().font_width, sh = screen().font_height;
    const INT_S16 label_w = plain(100, 20, 16)->label_button->width;
    const struct
    {
        int x;
        INT_S16 font_w, font_h;
        int box_w, box_h, gap;
    } cases[] = {
        {100, 20, 16, 24, 20, 10},
        {-40, 20, 16, 24, 20, 10},
        {100, 4, 3, 10, 10, 2},
        {100, -1, -1, sw + 4, sh + 4, sw / 2},
    };
    for (auto& c : cases) {
        WM_CHECK_BOX* box = plain(c.x, c.font_w, c.font_h);
        const WM_BUTTON *b = box->box_button, *label = box->label_button;
        EXPECT_EQ(b->width * 1000 + b->height, c.box_w * 1000 + c.box_h) << c.font_w;
        EXPECT_EQ(label->x, c.x + c.gap + c.box_w) << c.font_w;
        EXPECT_EQ(box->width * 1000 + box->height,
                  (c.gap + label->width + c.box_w) * 1000 + std::max(b->height, label->height));
        EXPECT_TRUE(c.font_w != 20 || label->width == label_w) << c.x;
    }
}

TEST_F(CheckBoxTest, ClickOnBoxOrLabelTogglesOnce)
{
    WM_CHECK_BOX* box = plain(100, 12, 12);
    for (bool on_label : {false, true, true, false}) {
        EXPECT_EQ(click(on_label ? static_cast<WM_SCREEN_OBJECT*>(box->label_button) : box->box_button), 1);
        EXPECT_STREQ(box->box_button->caption, box->checked ? "X" : " ");
        EXPECT_EQ(box->box_button->activated, box->checked);
    }
    EXPECT_EQ(calls, "1010");
    box->set_checked(1);
    EXPECT_STREQ(box->box_button->caption, "X");
    // One button that may take the focus and one enabled, not the same one.
    const INT_U8 focus[][5] = {{1, 0, 0, 1, 1}, {1, 0, 0, 0, 0}, {0, 0, 1, 1, 0}, {0, 1, 1, 0, 1}};
    for (auto& f : focus) {
        box->box_button->can_focus = f[0];
        box->label_button->can_focus = f[1];
        box->box_button->set_enabled(f[2]);
        box->label_button->set_enabled(f[3]);
        EXPECT_EQ(box->can_have_focus(), f[4]);
    }
    box->hide(0, 0);
    EXPECT_EQ(box->box_button->visible + box->label_button->visible, 0);
}

TEST_F(CheckBoxTest, SkinnedBoxShowsTheStateThroughItsActivatedSkins)
{
    const INT_U32 up = 0xFF2040A0u, checked = 0xFF20A040u;
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    for (auto [name, colour] : {std::pair<const char*, INT_U32>{"tick.png", up}, {"tick_active_up.png", checked}}) {
        imgtest::CANVAS skin(64, 64, {colour});
        DATA_FILE* file = folder.open_data_file(name, fm_write, 0, 0);
        ASSERT_TRUE(file && skin.save_png(file) && folder.close(file));
    }
    WM_STYLE_SET style;
    folder.get(style.image_path, nullptr);
    style.set_image_base_string("tick");
    style.ssf |= 1u << 19; // skins at their own size
    WM_BUTTON* b = add(new WM_CHECK_BOX(100, 100, style, "Skinned", record, this, &root))->box_button;
    ASSERT_TRUE(b->is_graphical());
    EXPECT_TRUE(b->draw_flags & BUTTON_DONT_RESIZE_IMAGE);
    for (INT_U32 want : {checked, up}) {
        click(b);
        EXPECT_STREQ(b->caption, "");
        EXPECT_EQ(at(b->x + 3, b->y + 3), want);
    }
}
