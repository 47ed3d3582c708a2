// The text block: size and flags from corners and styles, its look
// (backgrounds, borders, skins, icons, text placed or wrapped), the flash
// phase and its input. Text is compared with the same string drawn by hand.
#include "data_file.h"
#include "widget_test.h"
#include "wm_manager.h"
#include "wm_script.h"

#include <functional>
#include <memory>
#include <string>

using kivo_test::SENTINEL;

namespace {

constexpr INT_U32 BACK = 0xFF2040A0u, INK = 0xFFF0E010u, FLASH = 0xFF10C020u, ICON = 0xFFC01080u;

class ScriptTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        ASSERT_TRUE(IMAGE::is_font_valid(screen().font_slot)); // else text checks pass on blank pictures
    }
    void TearDown() override
    {
        blocks.clear(); // skins go back before the fixture empties the cache
        WidgetTest::TearDown();
    }
    WM_SCRIPT* block(int x1, int y1, int x2, int y2, const char* text, INT_U32 flags, INT_S16 font = -1)
    {
        auto s = [](int v) { return static_cast<INT_S16>(v); };
        blocks.emplace_back(new WM_SCRIPT(s(x1), s(y1), s(x2), s(y2), text, -1, font, font, INK, BACK, 1, flags));
        return blocks.back().get();
    }
    // The block on a blank screen against a blank picture with only `expect` on it.
    testing::AssertionResult drew(WM_SCRIPT& b, const std::function<void(IMAGE&)>& expect)
    {
        screen().clear(SENTINEL, 1);
        b.draw_object();
        imgtest::CANVAS want(kivo_test::SCREEN_W, kivo_test::SCREEN_H, {SENTINEL});
        expect(want);
        return imgtest::same_picture(want, screen());
    }
    std::vector<std::unique_ptr<WM_SCRIPT>> blocks;
};

int width_of(const char* text, short size = 22)
{
    return WM_SCREEN_OBJECT::surface->get_string_width(-1, size, size, text, -1, 0);
}

void text_at(IMAGE& m, int x, int y, const char* text, short effect = 0, INT_U32 colour = INK)
{
    m.process_and_render_string(static_cast<short>(x), static_cast<short>(y), colour, COLOUR_INVISIBLE,
                                COLOUR_INVISIBLE, 10, 22, 22, text, effect, -1, 0);
}

} // namespace

TEST_F(ScriptTest, SizesGapsAndFlagsFromCornersAndStyles)
{
    // Default shading type 6 is two rings: unset gaps are 2.
    WM_SCRIPT* fitted = block(0, 0, -5, -3, "Hello", 0);
    EXPECT_EQ(fitted->width * 1000 + fitted->height, (width_of("Hello") + 4) * 1000 + 22 + 4);

    // Shading 0 gives gaps 0, type 3 (one ring) 1; set gaps stay. The
    // border flags need draw_border; disabled (0x1000) has no script flag.
    const struct
    {
        SCROBJ_SHADING_TYPE shading;
        INT_S16 gap;
        INT_U32 ssf, flags;
        INT_U16 edges;
    } styles[] = {
        {0, -1, 0x1 | 0x2 | 0x40 | 0x18 | 0x100000 | 0x40000, 0x1 | 0x4 | 0x180 | 0x10 | 0x40000, 0x80FF},
        {3, -1, 0x2 | 0x4 | 0x80 | 0x20 | 0x200000 | 0x1000 | 0xE00, 0x8 | 0x40 | 0x20 | 0x1C00, 0x00FF},
        {3, 7, 0x1 | 0x4 | 0x100 | 0x1E000 | 0x20000 | 0x80000, 0x2 | 0x200 | 0x1E000 | 0x20000 | 0x80000, 0x00FF}};
    for (auto& c : styles) {
        WM_STYLE_SET style;
        style.shading_type = c.shading;
        style.border_left_gap = style.border_top_gap = c.gap;
        style.ssf = c.ssf;
        style.underline_colour = FLASH;
        WM_SCRIPT b(0, 0, 99, 19, style, "x");
        const int unset = c.shading == 0 ? 0 : 1;
        EXPECT_EQ(b.border_left_gap * 100 + b.border_top_gap, (c.gap != -1 ? c.gap : unset) * 101);
        EXPECT_EQ(b.border_right_gap * 100 + b.border_bottom_gap, unset * 101);
        EXPECT_EQ(b.script_flags, c.flags);
        EXPECT_EQ(b.edge_flags, c.edges);
        EXPECT_EQ(b.underline_colour.value, FLASH);
        EXPECT_EQ(b.fading_colour.value, COLOUR_BLACK); // the style's is invisible
    }

    // {left and top, right and bottom, x font size, base gap} -> x, y.
    const struct
    {
        INT_S16 a, b, font, base, want_x, want_y;
    } cases[] = {{4, -1, 15, 3, 11, 7}, {-1, -1, 15, 3, 15, 6}, {3, 5, 15, 3, 8, 8}, {-1, 6, -1, 2, 17, 8}};
    for (auto& c : cases) {
        WM_STYLE_SET style;
        style.border_left_gap = style.border_top_gap = c.a;
        style.border_right_gap = style.border_bottom_gap = c.b;
        style.font_x_sz = c.font;
        INT_S16 gx = 0, gy = 0;
        WM_SCRIPT::calc_xgap_from_style_set(style, gx);
        WM_SCRIPT::calc_ygap_from_style_set(style, c.base, gy);
        EXPECT_EQ(gx * 100 + gy, c.want_x * 100 + c.want_y) << c.a << ", " << c.b;
    }
    WM_STYLE_SET nine;
    nine.shading_type = 9; // four rings
    INT_S16 w = 0, h = 0;
    EXPECT_EQ(block(0, 0, 9, 9, "", 0)->get_preview_size(nine, "Hello", w, h), 22 + 8 + 1);
    EXPECT_EQ(w * 100 + h, (22 + width_of("Hello") + 1) * 100 + 31);
}

TEST_F(ScriptTest, BackgroundsAndBordersFollowTheFlags)
{
    const short x1 = 100, y1 = 50, x2 = 199, y2 = 89;
    const short r = static_cast<short>(std::min(20, screen().calc_rounded_rect_radius(x1, y1, x2, y2) / 2));
    using ROUNDED = IMAGE::PLOT_ROUNDED_RECT_TYPE;
    auto rounded = [&](char corners, COLOUR a, short shade, ROUNDED kind) {
        return [=](IMAGE& m) { m.plot_rounded_rect(x1, y1, x2, y2, r, corners, a, COLOUR_BLACK, shade, kind); };
    };
    // {flags, edge flags, flash phase, draw background, expected picture}
    const struct
    {
        INT_U32 flags;
        INT_U16 edges;
        INT_U8 flash, fill;
        std::function<void(IMAGE&)> want;
    } cases[] = {
        {0, 15, 0, 1, [&](IMAGE& m) { m.fill_rect(x1, y1, x2, y2, BACK, 1); }},
        {0, 15, 0, 0, [](IMAGE&) {}},
        {SCRIPT_DARKENED, 15, 0, 1, [&](IMAGE& m) { m.darken_rect(x1, y1, x2, y2, 50); }},
        {SCRIPT_DARKENED, 15, 1, 1, [&](IMAGE& m) { m.fill_rect(x1, y1, x2, y2, FLASH, 1); }},
        {SCRIPT_DARKENED, 0x3F, 0, 1, rounded(3, COLOUR_BLACK, 50, IMAGE::PLOT_ROUNDED_RECT_DARKEN)},
        {SCRIPT_HFADING, 15, 0, 1, [&](IMAGE& m) { m.fill_hfaded_rect(x1, y1, x2, y2, BACK, COLOUR_BLACK, 1); }},
        {SCRIPT_VFADING, 15, 0, 1, [&](IMAGE& m) { m.fill_vfaded_rect(x1, y1, x2, y2, BACK, COLOUR_BLACK, 1); }},
        {SCRIPT_VFADING, 0xCF, 0, 1, rounded(12, BACK, 0, IMAGE::PLOT_ROUNDED_RECT_YFADE)},
    };
    for (auto& c : cases) {
        WM_SCRIPT* b = block(x1, y1, x2, y2, "", c.flags);
        b->edge_flags = c.edges;
        b->draw_background = c.fill;
        b->flash_bg_colour = FLASH;
        b->flashing = c.flash;
        EXPECT_TRUE(drew(*b, c.want)) << std::hex << c.flags << " edges " << c.edges;
    }
    // Type 4 is one raised ring, type 3 one ring in the outline colour.
    const struct
    {
        SCROBJ_SHADING_TYPE shading;
        INT_U32 flags;
        INT_U32 top, bottom;
    } borders[] = {{4, SCRIPT_OUTSTANDING_BORDER, COLOUR_WHITE, COLOUR_DARK_GREY},
                   {4, SCRIPT_INDENTED_BORDER, COLOUR_DARK_GREY, COLOUR_WHITE},
                   {3, SCRIPT_OUTSTANDING_BORDER, COLOUR_YELLOW, COLOUR_YELLOW},
                   {3, SCRIPT_OUTSTANDING_BORDER | SCRIPT_TEXT_COLOUR_OUTLINE, INK, INK},
                   {4, 0, BACK, BACK}};
    for (auto& c : borders) {
        WM_SCRIPT* b = block(x1, y1, x2, y2, "", c.flags);
        b->shading_type = c.shading;
        b->draw_object();
        EXPECT_EQ(at(150, y1), c.top) << c.flags;
        EXPECT_EQ(at(150, y2), c.bottom) << c.flags;
    }
    EXPECT_EQ(WM_SCREEN_OBJECT::outline_colour.value, COLOUR_YELLOW);
}

TEST_F(ScriptTest, SkinsReplaceTheBackgroundAndMaskTheHitTest)
{
    // "plain": left half clear, right half red; "plain_flashing" green; "other" only as "other_up".
    FOLDER folder;
    char alias[2048] = {};
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()) && folder.get(alias, nullptr));
    imgtest::CANVAS plain = imgtest::pattern(20, 10, [](int x, int) { return x < 10 ? 0u : 0xFFE02020u; });
    imgtest::CANVAS green = imgtest::solid(20, 10, 0xFF20E020u);
    const struct
    {
        IMAGE* picture;
        const char* name;
    } files[] = {{&plain, "plain.png"}, {&green, "plain_flashing.png"}, {&green, "other_up.png"}};
    for (auto& f : files) {
        DATA_FILE* file = folder.open_data_file(f.name, fm_write, 0, 0);
        ASSERT_TRUE(file && f.picture->save_png(file));
        folder.close(file);
    }

    WM_SCRIPT* b = block(300, 200, 319, 209, "", 0);
    ASSERT_TRUE(b->set_images(alias, "plain", nullptr));
    for (INT_U8 phase : {0, 1}) {
        b->flashing = phase;
        screen().clear(SENTINEL, 1);
        b->draw_object();
        IMAGE& shown = *(phase ? b->flash_skin : b->skin).mid_mid;
        EXPECT_EQ(at(315, 205), imgtest::px(shown, 15, 5).value);
        EXPECT_EQ(at(302, 205), phase ? imgtest::px(shown, 2, 5).value : SENTINEL); // nothing behind the skin
    }
    EXPECT_EQ(b->is_in_it(302, 205) * 10 + b->is_in_it(315, 205), 1);
    b->script_flags |= SCRIPT_RECT_HIT_TEST;
    EXPECT_EQ(b->is_in_it(302, 205) * 10 + b->is_in_it(320, 205), 10);

    EXPECT_TRUE(b->set_images(alias, "other", nullptr) && !b->flash_skin.are_images_valid());
    // A stored base name of any length loads nothing; null clears both.
    EXPECT_FALSE(b->set_images(alias, std::string(5000, 'p').c_str(), nullptr));
    EXPECT_TRUE(b->set_images(alias, "plain", nullptr));
    EXPECT_FALSE(b->set_images(alias, nullptr, nullptr) || b->flash_skin.are_images_valid());

    // From a style's runtime cache: slots 0 and 11, or slot 1.
    WM_STYLE_SET style;
    std::snprintf(style.image_path, sizeof style.image_path, "%s", alias);
    for (const char* base : {"plain", "other"}) {
        style.set_image_base_string(base);
        style.load_runtime_image_cache();
        WM_SCRIPT styled(0, 0, 19, 9, style, "");
        EXPECT_TRUE(styled.is_graphical()) << base;
        EXPECT_EQ(styled.flash_skin.are_images_valid(), std::string(base) == "plain");
    }
}

TEST_F(ScriptTest, PlacesTextOnOneLineOrWrapped)
{
    // Block (100, 50)-(299, 109), gaps 2: inner box (102, 52)-(297, 107).
    const char* text = "Kivo text";
    const int sw = width_of(text), cx = 102 + (196 - sw) / 2, cy = 52 + (56 - 22) / 2;
    const struct
    {
        INT_U32 flags;
        INT_U8 enabled;
        int x, y;
        short effect;
    } cases[] = {
        {0, 1, cx, cy, 0},
        {SCRIPT_LEFT_JUSTIFY | SCRIPT_TOP_ALIGN, 1, 102, 52, 32 | 8},
        {SCRIPT_RIGHT_JUSTIFY | SCRIPT_BOTTOM_ALIGN | SCRIPT_SHADOW_TEXT, 1, 297 - sw, 107 - 22, 64 | 16 | 1},
        {SCRIPT_LEFT_JUSTIFY | SCRIPT_RIGHT_JUSTIFY | SCRIPT_TOP_ALIGN | SCRIPT_BOTTOM_ALIGN, 1, 102, 52, 120},
        {SCRIPT_INSET_TEXT, 0, cx, cy, 4}, // disabled: chiseled whatever the effect
        {SCRIPT_WRAP | SCRIPT_LEFT_JUSTIFY, 1, -1, -1, 32},
    };
    const std::string long_text = std::string(40, 'w') + " " + std::string(30, 'i') + " wrapped";
    for (auto& c : cases) {
        const bool wrap = (c.flags & SCRIPT_WRAP) != 0;
        const char* shown = wrap ? long_text.c_str() : text;
        WM_SCRIPT* b = block(100, 50, 299, 109, shown, c.flags);
        b->draw_background = 0;
        b->enabled = c.enabled;
        EXPECT_TRUE(drew(*b,
                         [&](IMAGE& m) {
                             m.set_active_area(102, 52, 297, 107);
                             if (wrap) {
                                 m.draw_string(102, 52, 297, 107, INK, COLOUR_INVISIBLE, COLOUR_INVISIBLE, 10, 22, 22,
                                               shown, c.effect);
                             } else {
                                 text_at(m, c.x, c.y, shown, c.effect);
                             }
                         }))
            << std::hex << c.flags;
    }
    WM_SCRIPT* numeric = block(100, 50, 299, 109, text, 0);
    numeric->draw_background = 0;
    numeric->text.reset_to_type(4); // no string: no text
    EXPECT_TRUE(drew(*numeric, [](IMAGE&) {}));
}

TEST_F(ScriptTest, PutsIconsBesideTheText)
{
    // Block (100, 100)-(299, 139), gaps 10 and 5, spacings 3; a 6 x 4 icon.
    const char* text = "Icon";
    const int sw = width_of(text), tx = 110 + (180 - sw) / 2, ty = 109, mid = ty + 8;
    const struct
    {
        INT_U32 flags;
        int icon_x, icon_y, text_x, text_y;
    } cases[] = {
        {SCRIPT_ICON_LEFT, 102, 117, tx, ty},
        {SCRIPT_ICON_RIGHT | SCRIPT_ICON_BOTTOM, 291, 134, tx, ty},
        {SCRIPT_ICON_TOP, 196, 100, tx, ty},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_LEFT, tx + 4 - 9, mid, tx + 4, ty},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_LEFT | SCRIPT_LEFT_JUSTIFY, 110, mid, 119, ty},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_RIGHT | SCRIPT_LEFT_JUSTIFY, 112 + sw, mid, 110, ty},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_RIGHT | SCRIPT_RIGHT_JUSTIFY, 282, mid, 280 - sw, ty},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_TOP | SCRIPT_TOP_ALIGN, tx + (sw - 7) / 2, 105, tx, 112},
        {SCRIPT_ICON_ATTACHED | SCRIPT_ICON_BOTTOM, tx + (sw - 7) / 2, 130, tx, ty - 3},
    };
    for (auto& c : cases) {
        WM_SCRIPT* b = block(100, 100, 299, 139, text, c.flags);
        b->draw_background = 0;
        b->border_left_gap = b->border_right_gap = 10;
        b->border_top_gap = b->border_bottom_gap = 5;
        b->icon_x_spacing = b->icon_y_spacing = 3;
        b->icon = imgtest::solid(6, 4, ICON);
        EXPECT_TRUE(drew(*b,
                         [&](IMAGE& m) {
                             b->icon.put(static_cast<short>(c.icon_x), static_cast<short>(c.icon_y), &m,
                                         IMAGE_COPY_BLEND);
                             m.set_active_area(110, 105, 289, 134);
                             text_at(m, c.text_x, c.text_y, text);
                         }))
            << std::hex << c.flags;
    }
}

TEST_F(ScriptTest, FlashesEveryTwoSecondsAndLetsTheLinkedObjectGoFirst)
{
    WM_MANAGER root;
    WM_SCRIPT* b = new WM_SCRIPT(10, 10, 209, 49, "Off", -1, -1, -1, INK, BACK, 1, 0);
    root.add_object(b, 0);
    b->flash_bg_colour = FLASH;
    b->flash_text_colour = ICON;
    b->request_draw();
    tick(0, &root);
    EXPECT_EQ(b->flashing, 0); // no flash text: no phase
    b->flash_text.set(b->flash_text.value, "On");
    // The fake clock starts at 1,000,000 ms, an even number of 2000 ms periods.
    const struct
    {
        INT_U32 ms;
        INT_U8 phase;
    } steps[] = {{1999, 0}, {1, 1}, {1999, 1}, {1, 0}, {2000, 1}};
    for (auto& s : steps) {
        tick(s.ms, &root);
        EXPECT_EQ(b->flashing * 1u, s.phase) << elapsed_ms;
        EXPECT_EQ(at(12, 12), s.phase ? FLASH : BACK) << elapsed_ms;
    }
    EXPECT_TRUE(drew(*b, [&](IMAGE& m) {
        m.fill_rect(10, 10, 209, 49, FLASH, 1);
        m.set_active_area(12, 12, 207, 47);
        text_at(m, 12 + (196 - width_of("On")) / 2, 12 + (36 - 22) / 2, "On", 0, ICON);
    }));
    b->flash_text.set(b->flash_text.value, "");
    tick(2000, &root);
    EXPECT_EQ(b->flashing, 1); // emptying it keeps the phase

    kivo_test::PROBE linked(0, 0, 5, 5, COLOUR_INVISIBLE);
    b->linked_object = &linked;
    linked.monitor_results = {6, 0};
    EXPECT_EQ(b->monitor() * 10 + b->monitor(), 60);
    EXPECT_EQ(linked.monitor_count, 2);
    b->can_focus = 1;
    b->take_focus();
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, nullptr);
}

TEST_F(ScriptTest, GrowingMeasuresInTheBlocksOwnFont)
{
    WM_SCRIPT* b = block(10, 10, 19, 29, "", 0, 40);
    const char* text = "Much wider text";
    const int own = width_of(text, 40) + 1;
    ASSERT_GT(own, width_of(text) + 1); // the surface's font is smaller
    WM_SCREEN_OBJECT::update_regions_sz = 0;
    b->set_string(text, 1);
    EXPECT_EQ(b->width, own);
    ASSERT_EQ(WM_SCREEN_OBJECT::update_regions_sz, 1);
    EXPECT_EQ(WM_SCREEN_OBJECT::update_regions[0].right, 10 + own - 1); // marked after widening
    b->set_string("i", 1);
    b->set_string(text, 0);
    EXPECT_EQ(b->width, own); // never narrows
}
