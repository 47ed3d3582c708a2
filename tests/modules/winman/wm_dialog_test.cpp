// The dialog: construction and layout, the colour and skinned frames,
// dragging live and by outline, moves, resizes and hides during slides,
// and the contents container's clip. Frames run through the page manager.
#include "folder.h"
#include "kivo_host.h"
#include "mouse.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_script.h"

#include <algorithm>
#include <functional>
#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
constexpr COLOUR PAGE = COLOUR_DARK_GREY;
EFFECT_INFO no_effects = {0, 0, 0, 0xFF};

class DialogTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        new WM_PAGE_MANAGER(1, -1);
        // The page: every region is repainted from it.
        S::pm->areas[0].add_object(new kivo_test::PROBE(0, 0, kivo_test::SCREEN_W, kivo_test::SCREEN_H, PAGE), 0);
        frame();
    }
    WM_MESG frame(INT_U32 ms = 20)
    {
        kivo_fake_clock_advance_ms(ms);
        return S::pm->monitor(0);
    }
    WM_DIALOG* open(WM_DIALOG* d)
    {
        S::pm->areas[0].add_modal_object(d, 0);
        frame();
        frame();
        return d;
    }
    static std::vector<S*> modal_list()
    {
        std::vector<S*> out;
        for (const LISTNODE* n = S::modal_screen_objects.head; n; n = n->next) {
            out.push_back(static_cast<S*>(PTRLLIST::stored_pointer(n)));
        }
        return out;
    }
    // The page with `draw` applied to it, drawn as the surface.
    static imgtest::CANVAS picture(const std::function<void(kivo_test::PROBE&)>& draw)
    {
        imgtest::CANVAS ref(kivo_test::SCREEN_W, kivo_test::SCREEN_H, {PAGE});
        IMAGE* saved = S::surface;
        S::surface = &ref;
        kivo_test::PROBE painter(0, 0, 0, 0, COLOUR_INVISIBLE, 0);
        draw(painter);
        S::surface = saved;
        return ref;
    }
};

} // namespace

TEST_F(DialogTest, ConstructorsCentreAndLayOut)
{
    // Colour slots of alpha 0 keep the defaults.
    auto* c = new WM_DIALOG(10, 20, 100, 60, nullptr, 0x00123456u, COLOUR_GREEN, 0, COLOUR_YELLOW, 0x00FFFFFFu,
                            COLOUR_WHITE, 0, COLOUR_CYAN, 1, &no_effects);
    const WM_STYLE_SET &d = c->dialog_style_set, &t = c->title_style_set, &o = c->object_style_set;
    const INT_U32 got[] = {d.bg_colour, d.fg_colour, t.bg_colour,        t.fg_colour,
                           o.bg_colour, o.fg_colour, o.highlight_colour, o.highlight_text_colour};
    const INT_U32 want[] = {COLOUR_GREY, COLOUR_GREEN, COLOUR_RED, COLOUR_YELLOW,
                            COLOUR_GREY, COLOUR_WHITE, COLOUR_RED, COLOUR_CYAN};
    EXPECT_TRUE(std::equal(got, got + 8, want));
    // Default gaps: one ring of shading type 4 on the borders and above the
    // contents, none beside and below it.
    EXPECT_EQ(c->contents->x * 1000 + c->contents->y, 11 * 1000 + 21);
    EXPECT_EQ(c->contents->width * 1000 + c->contents->height, 98 * 1000 + 58);
    delete c;

    const struct
    {
        INT_S16 x1, y1, x2, y2, x, y;
        int want_x, want_y;
    } cases[] = {
        {100, 50, 500, 350, -1, -1, 200, 150},
        {100, 50, -1, 350, -1, -1, (kivo_test::SCREEN_W - 200) / 2, (kivo_test::SCREEN_H - 100) / 2},
        {100, 50, 500, 350, 7, -1, 7, 150},
    };
    for (const auto& k : cases) {
        WM_DIALOG::default_positioning_x1 = k.x1, WM_DIALOG::default_positioning_y1 = k.y1;
        WM_DIALOG::default_positioning_x2 = k.x2, WM_DIALOG::default_positioning_y2 = k.y2;
        WM_DIALOG d(k.x, k.y, 200, 100, nullptr, nullptr, nullptr, nullptr, &no_effects);
        EXPECT_EQ(d.get_x() * 1000 + d.get_y(), k.want_x * 1000 + k.want_y) << k.x2;
    }
    EXPECT_TRUE(modal_list().empty());
}

TEST_F(DialogTest, TitleOperationsWithAndWithoutTitle)
{
    WM_STYLE_SET frame_set;
    frame_set.shading_type = 2; // three rings
    frame_set.cell_top_gap = 4;
    auto* d = open(new WM_DIALOG(50, 40, 200, 120, "Hello", &frame_set, nullptr, nullptr, &no_effects));
    d->set_title("Bye");
    EXPECT_STREQ(d->get_title(), "Bye");
    const int th = d->title->height;
    EXPECT_EQ(d->get_title_height(), 3 + 4 + th);
    d->resize(240, 150, 0);
    EXPECT_EQ(d->title->x * 1000 + d->title->y, 53 * 1000 + 43);
    EXPECT_EQ(d->title->width * 1000 + d->title->height, 234 * 1000 + th);
    EXPECT_EQ(d->contents->y * 1000 + d->contents->height, (40 + 7 + th) * 1000 + 150 - 7 - th - 3);

    auto* plain = new WM_DIALOG(0, 0, 50, 50, nullptr, &frame_set, nullptr, nullptr, &no_effects);
    plain->set_title("ignored");
    EXPECT_STREQ(plain->get_title(), "");
    EXPECT_EQ(plain->get_title_height(), 3);
    delete plain;

    // An empty title is a title line of the text's height, to be filled later
    // and to drag by.
    auto* empty = new WM_DIALOG(0, 0, 200, 120, "", &frame_set, nullptr, nullptr, &no_effects);
    ASSERT_NE(empty->title, nullptr);
    EXPECT_STREQ(empty->get_title(), "");
    EXPECT_EQ(empty->get_title_height(), 3 + 4 + th);
    EXPECT_TRUE(empty->is_in_title_bar(10, 5));
    empty->set_title("Later");
    EXPECT_STREQ(empty->get_title(), "Later");
    delete empty;
    EXPECT_EQ(modal_list(), std::vector<S*>{d});
}

TEST_F(DialogTest, FramesMatchHandDrawnPictures)
{
    constexpr INT_S16 X = 100, Y = 100, X2 = 219, Y2 = 179; // 120 x 80
    const COLOUR bg = COLOUR_GREY, fade = COLOUR_WHITE, fg = COLOUR_BLUE;
    // Fill: 'f' plain, 'd' darkened, 'x' faded across with rounded corners.
    const struct
    {
        INT_U32 ssf;
        INT_U16 shading_flags;
        SCROBJ_SHADING_TYPE shading;
        char fill;
        INT_U16 border;
    } cases[] = {
        {0x4, 0x0F, 4, 'f', 0x0F},   // outstanding
        {0x2, 0x0F, 4, 'f', 0x800F}, // indented
        {0x24, 0x0F, 4, 'd', 0x0F},  // darkened
        {0x8, 0xFF, 4, 'x', 0},      // no border
        {0x104, 0x0F, 3, 'f', 0x0F}, // the outline ring in the text colour
    };
    for (const auto& k : cases) {
        WM_STYLE_SET set;
        set.ssf = k.ssf, set.shading_flags = k.shading_flags, set.shading_type = k.shading;
        set.fg_colour = fg, set.bg_colour = bg, set.fading_colour = fade;
        auto* d = open(new WM_DIALOG(X, Y, 120, 80, nullptr, &set, nullptr, nullptr, &no_effects));
        const imgtest::CANVAS want = picture([&](kivo_test::PROBE& p) {
            k.fill == 'd' ? S::surface->darken_rect(X, Y, X2, Y2, 50)
            : k.fill == 'x'
                ? S::surface->plot_rounded_rect(X, Y, X2, Y2, -1, 0xF, bg, fade, 0, IMAGE::PLOT_ROUNDED_RECT_XFADE)
                : S::surface->fill_rect(X, Y, X2, Y2, bg, 1);
            S::outline_colour = (k.ssf & 0x100) ? fg : COLOUR_YELLOW;
            if (k.border) {
                p.draw_shading(X, Y, X2, Y2, k.border, bg, k.shading, -1);
            }
            S::outline_colour = COLOUR_YELLOW;
        });
        EXPECT_TRUE(imgtest::same_picture(want, screen())) << std::hex << k.ssf;
        S::pm->areas[0].remove_modal_object(d, 1, 0);
        frame();
    }

    // A skin cut from one colour covers the whole rectangle; a null name
    // takes it off again.
    imgtest::CANVAS skin = imgtest::solid(31, 31, COLOUR_MAGENTA);
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    ASSERT_TRUE(skin.save_nine_titled_pngs(folder, "frame"));
    WM_STYLE_SET skinned;
    folder.get(skinned.image_path, nullptr);
    skinned.set_image_base_string("frame");
    auto* d = open(new WM_DIALOG(X, Y, 120, 80, nullptr, &skinned, nullptr, nullptr, &no_effects));
    EXPECT_TRUE(d->is_graphical());
    EXPECT_TRUE(imgtest::same_picture(
        picture([&](kivo_test::PROBE&) { S::surface->fill_rect(X, Y, X2, Y2, COLOUR_MAGENTA, 0); }), screen()));
    EXPECT_FALSE(d->set_images(folder, nullptr, nullptr));
    EXPECT_EQ(modal_list(), std::vector<S*>{d});
}

TEST_F(DialogTest, DragStartsOnTitleOrBareFrameOnly)
{
    auto* d = open(new WM_DIALOG(100, 100, 200, 150, "Drag", nullptr, nullptr, nullptr, &no_effects));
    d->add_object(
        new WM_BUTTON(10, 10, 60, 40, COLOUR_WHITE, COLOUR_BLACK, "OK", 0, 0, 0x0F, nullptr, nullptr, nullptr, 1, 2),
        1);
    frame();
    const INT_S16 cx = d->contents->x, cy = d->contents->y;
    const struct
    {
        int from_x, from_y, to_x, to_y;
        bool drags;
    } cases[] = {
        {110, 103, 110, 103, true},                   // the title
        {299, 200, 299, 200, true},                   // the border
        {cx + 100, cy + 80, cx + 100, cy + 80, true}, // the contents between children
        {cx + 20, cy + 20, cx + 20, cy + 20, false},  // the button
        {20, 20, 110, 103, false},                    // pressed elsewhere, then onto the title
    };
    for (const auto& k : cases) {
        point(k.from_x, k.from_y);
        press(1, true);
        frame();
        point(k.to_x, k.to_y);
        frame();
        EXPECT_EQ(d->dragging, k.drags) << k.from_x << "," << k.from_y;
        point(k.to_x + 30, k.to_y + 20);
        frame();
        EXPECT_EQ(d->get_x() * 1000 + d->get_y(), k.drags ? 130 * 1000 + 120 : 100 * 1000 + 100);
        press(1, false);
        frame();
        d->move(100, 100);
        frame();
    }
    EXPECT_EQ(modal_list(), std::vector<S*>{d});
}

// Caught while it slides in, live or by outline, the dialog keeps the point
// that was pressed under the pointer: it ends where it was drawn at the
// press, moved as the pointer moved.
TEST_F(DialogTest, DragDuringTheOpeningSlideStartsWhereTheDialogIsDrawn)
{
    for (INT_U8 live : {1, 0}) {
        SCOPED_TRACE(live ? "live" : "outline");
        WM_DIALOG::drag_contents = live;
        // Slow: a frame moves it about 2 pixels, so a press on its title hits.
        EFFECT_INFO slide = {EFFECT_SLIDE_ON_OPEN | EFFECT_FROM_TOP | EFFECT_EDGE_WINDOW, 3000, 300, 0xFF};
        auto* d = new WM_DIALOG(100, 200, 200, 150, "Drag", nullptr, nullptr, nullptr, &slide);
        S::pm->areas[0].add_modal_object(d, 0);
        for (int f = 0; f < 20 && d->y < 0; ++f) {
            frame(100); // until it is about half way down
        }
        point(d->title->x + 20, d->title->y + d->title->height / 2);
        press(1, true);
        frame();
        ASSERT_TRUE(d->dragging);
        const int at_x = d->x, at_y = d->y;
        ASSERT_LT(at_y, 200); // still sliding
        point(MOUSE::x + 30, MOUSE::y + 20);
        for (int f = 0; f < 40; ++f) {
            frame(100); // past the end of the slide
        }
        press(1, false);
        for (int f = 0; f < 5; ++f) {
            frame(100);
        }
        EXPECT_EQ(d->get_x() * 1000 + d->get_y(), (at_x + 30) * 1000 + at_y + 20);
        EXPECT_EQ(d->x * 1000 + d->y, (at_x + 30) * 1000 + at_y + 20);
        S::pm->areas[0].remove_modal_object(d, 1, 0);
        frame();
    }
}

TEST_F(DialogTest, OutlineDragLeavesNoTrace)
{
    WM_DIALOG::drag_contents = 0;
    S::update_region_method = 1; // separate regions: none covers an edge by chance
    auto* d = open(new WM_DIALOG(100, 100, 200, 150, "Drag", nullptr, nullptr, nullptr, &no_effects));
    point(150, 103);
    press(1, true);
    frame();
    for (int step = 1; step <= 3; ++step) {
        point(150 + 60 * step, 103 + 35 * step);
        d->request_draw(); // a redraw under the outline between two moves
        frame();
        EXPECT_EQ(d->get_x() * 1000 + d->get_y(), 100 * 1000 + 100); // the dialog stays put
    }
    // The outline stands inverted over the page, once.
    EXPECT_EQ(at(100 + 180 + 199, 100 + 105 + 75), (static_cast<INT_U32>(PAGE) ^ 0xFFFFFFu) | 0xFF000000u);
    press(1, false);
    frame();
    frame();
    EXPECT_EQ(d->get_x() * 1000 + d->get_y(), 280 * 1000 + 205);
    const std::vector<INT_U32> after = imgtest::snapshot(screen());
    d->mark_entire_redraw_area();
    frame();
    EXPECT_TRUE(after == imgtest::snapshot(screen()));
    EXPECT_EQ(modal_list(), std::vector<S*>{d});
}

TEST_F(DialogTest, MoveResizeAndHideKeepARunningSlide)
{
    // A 100 x 50 dialog at home (200, 200), caught at (200, 75) while
    // sliding from or to the window's top edge, or from its own height above.
    using P = WM_DIALOG::POINT;
    // op: 'm' move to (250, 260), 'r' resize to 120 x 60, 'h' hide.
    const struct
    {
        INT_U16 edge;
        INT_U8 opening;
        char op;
        P at, start, end;
    } cases[] = {
        {EFFECT_EDGE_WINDOW, 1, 'm', {250, 135}, {200, -50}, {250, 260}},
        {0, 1, 'm', {250, 135}, {250, 210}, {250, 260}},
        {EFFECT_EDGE_WINDOW, 0, 'm', {250, 135}, {250, 260}, {200, -50}},
        {EFFECT_EDGE_WINDOW, 1, 'r', {200, 75}, {200, -60}, {200, 200}},
        {0, 1, 'r', {200, 75}, {200, 140}, {200, 200}},
        {EFFECT_EDGE_WINDOW, 0, 'r', {200, 75}, {200, 200}, {200, -60}}, // the close still ends off screen
        {EFFECT_EDGE_WINDOW, 1, 'h', {200, 200}, {200, 200}, {200, 200}},
        {EFFECT_EDGE_WINDOW, 0, 'h', {200, 200}, {200, 200}, {200, 200}},
    };
    for (const auto& k : cases) {
        const INT_U16 flags = EFFECT_SLIDE_ON_OPEN | EFFECT_SLIDE_ON_CLOSE | EFFECT_FROM_TOP | k.edge;
        EFFECT_INFO slide = {flags, 300, 1000, 0xC0};
        WM_DIALOG d(200, 200, 100, 50, "T", nullptr, nullptr, nullptr, &slide);
        d.slide_opening = k.opening;
        d.slide_start = k.opening ? P{200, k.edge ? INT_S16(-50) : INT_S16(150)} : P{200, 200};
        d.slide_end = k.opening ? P{200, 200} : P{200, -50};
        d.WM_SCREEN_OBJECT::move(200, 75);
        d.current_alpha = 0x80;
        k.op == 'm' ? d.move(250, 260) : k.op == 'r' ? d.resize(120, 60, 0) : d.hide(0, 0);
        const P got[] = {{d.x, d.y}, d.slide_start, d.slide_end}, want[] = {k.at, k.start, k.end};
        EXPECT_TRUE(std::equal(got, got + 3, want, [](P a, P b) { return a.x == b.x && a.y == b.y; }))
            << k.op << int(k.opening) << k.edge;
        EXPECT_EQ(d.title->y, d.y + d.dialog_style_set.border_top_gap) << k.op; // children follow
        EXPECT_TRUE(k.op != 'h' || d.current_alpha == d.target_alpha);
    }
    EXPECT_TRUE(modal_list().empty());
}

TEST_F(DialogTest, HidingAGreyedDialogRepaintsTheWholeWindow)
{
    WM_DIALOG::grey_background = 1;
    for (WM_OBJECT_TYPE extra : {WM_OBJECT_TYPE{0}, WM_TYPE_FLOATING_MENU}) {
        auto* d = open(new WM_DIALOG(100, 100, 50, 50, nullptr, nullptr, nullptr, nullptr, &no_effects));
        d->type |= extra;
        d->hide(0, 0);
        const WM_UPDATE_REGION r = S::update_regions[0];
        const bool whole = S::update_regions_sz == 1 && r.left == 0 && r.top == 0 &&
                           r.right == kivo_test::SCREEN_W - 1 && r.bottom == kivo_test::SCREEN_H - 1;
        EXPECT_EQ(whole, extra == 0);
        S::pm->areas[0].remove_modal_object(d, 1, 0);
        frame();
    }
    EXPECT_TRUE(modal_list().empty());
}

TEST_F(DialogTest, ContentsClipChildrenAndDrawNothingWhenEmpty)
{
    // 60 x 60: contents 58 x 58 at (101, 101); 2 x 60: contents 0 wide.
    for (INT_S16 w : {60, 2}) {
        auto* d = new WM_DIALOG(100, 100, w, 60, nullptr, nullptr, nullptr, nullptr, &no_effects);
        d->add_object(new kivo_test::PROBE(-20, -20, 200, 200, COLOUR_MAGENTA), 1);
        open(d);
        const std::vector<INT_U32> pixels = imgtest::snapshot(screen());
        EXPECT_EQ(std::count(pixels.begin(), pixels.end(), COLOUR_MAGENTA), w == 60 ? 58 * 58 : 0);
        EXPECT_EQ(modal_list(), std::vector<S*>{d});
        S::pm->areas[0].remove_modal_object(d, 1, 0);
    }
    EXPECT_TRUE(modal_list().empty());
}
