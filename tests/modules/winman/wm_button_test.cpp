// The button as it is built and drawn: sizes, the styled mapping, skins,
// the colour and skin precedence, faces, captions (compared with the same
// text drawn directly), icons, marks, arrows, the drag picture, hit
// testing, the flash, and what destroying a button leaves behind.
#include "folder.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_manager.h"
#include "wm_script.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

using kivo_test::SENTINEL;

namespace {

constexpr COLOUR BG = 0xFF203040u, ACT = 0xFF405060u, HI = 0xFF607080u, OVER = 0xFF8090A0u, FLASH = 0xFFA0B0C0u,
                 DIS = 0xFFC0D0E0u;
constexpr COLOUR TXT = 0xFF000010u, ACT_T = 0xFF100020u, HI_T = 0xFF200030u, OVER_T = 0xFF300040u,
                 FLASH_T = 0xFF400050u, DIS_T = 0xFF500060u;
constexpr int W = 100, H = 40, G = 2; // G: the default shading type's two rings
const char* const kSuffixes[] = {"_up",          "_down",        "_disabled",        "_over",
                                 "_active_up",   "_active_down", "_active_disabled", "_active_over",
                                 "_highlighted", "_flashing",    "_dragging"};
INT_U32 box_colour(int i)
{
    return 0xFF000000u | static_cast<INT_U32>(0x101010 * (i + 1));
}

class ButtonTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
        folder.get(alias, nullptr);
    }
    // A W x H colour button at (0, 0).
    WM_BUTTON* make(const char* caption = "Hg", INT_U32 flags = 0, INT_U16 edges = 0)
    {
        owned.emplace_back(
            new WM_BUTTON(0, 0, W - 1, H - 1, BG, TXT, caption, 0, flags, edges, nullptr, nullptr, nullptr, 1, 2));
        return owned.back().get();
    }
    void paint_states(WM_BUTTON* b)
    {
        b->active_background_colour = ACT, b->highlight_colour = HI, b->mouse_over_colour = OVER;
        b->flashing_colour = FLASH, b->disabled_colour = DIS, b->active_text_colour = ACT_T;
        b->highlight_text_colour = HI_T, b->mouse_over_text_colour = OVER_T, b->flashing_text_colour = FLASH_T;
        b->disabled_text_colour = DIS_T;
    }
    void draw(WM_BUTTON* b)
    {
        screen().clear(SENTINEL, 1);
        b->draw_object();
    }
    std::vector<INT_U32> grab(int x1, int y1, int x2, int y2)
    {
        std::vector<INT_U32> v;
        for (int i = 0; i < (x2 - x1 + 1) * (y2 - y1 + 1); ++i) {
            v.push_back(at(x1 + i % (x2 - x1 + 1), y1 + i / (x2 - x1 + 1)));
        }
        return v;
    }
    // The button in (x1, y1)-(x2, y2) against what `reference` draws on a
    // cleared surface.
    void expect_drawn_as(WM_BUTTON* b, const std::function<void(IMAGE&)>& reference, int x1 = 0, int y1 = 0,
                         int x2 = W - 1, int y2 = H - 1)
    {
        draw(b);
        const std::vector<INT_U32> got = grab(x1, y1, x2, y2);
        screen().clear(SENTINEL, 1);
        reference(screen());
        EXPECT_TRUE(got == grab(x1, y1, x2, y2));
    }
    // Face F with text at (tx, ty), as the button should draw it.
    static void face_and_text(IMAGE& s, COLOUR f, int tx, int ty, COLOUR t, const char* text, short effect)
    {
        s.fill_rect(0, 0, W - 1, H - 1, f, 1);
        s.process_and_render_string(static_cast<short>(tx), static_cast<short>(ty), t, COLOUR_INVISIBLE,
                                    COLOUR_INVISIBLE, s.font_slot, 22, 22, text, effect, -1, 0);
    }
    int text_w(const char* t) { return screen().get_string_width(screen().font_slot, 22, 22, t, -1, 0); }
    // name.png in the sandbox, one colour.
    void picture(const std::string& name, INT_U32 colour)
    {
        imgtest::CANVAS image(8, 8, {colour});
        DATA_FILE* file = folder.open_data_file((name + ".png").c_str(), fm_write, 0, 0);
        ASSERT_TRUE(file && image.save_png(file) && folder.close(file));
    }
    FOLDER folder;
    char alias[2048] = {};
    std::vector<std::unique_ptr<WM_BUTTON>> owned;
};

} // namespace

TEST_F(ButtonTest, SizesAndDefaults)
{
    const struct
    {
        int x2;
        const char* caption;
        int want_w;
    } cases[] = {{-1, "Caption", text_w("Caption") + 2 * G}, {-1, nullptr, 2 * G}, {49, "Caption", 50}};
    for (const auto& c : cases) {
        WM_BUTTON b(0, 0, static_cast<INT_S16>(c.x2), -1, BG, TXT, c.caption, 0, 0, 15, nullptr, nullptr, nullptr, 1,
                    2);
        EXPECT_EQ(b.width, c.want_w);
        EXPECT_EQ(b.height, 22 + 2 * G);
    }
    // Widening measures in the button's own font, not the surface's.
    WM_BUTTON big(0, 0, 9, 9, BG, TXT, "", screen().font_slot, 40, 40, 0, 0, 15, nullptr, nullptr, nullptr, 1, 2);
    EXPECT_EQ(big.set_string(nullptr, 1), 0);
    ASSERT_EQ(big.set_string("A wider caption", 1), 1);
    EXPECT_EQ(big.width, screen().get_string_width(screen().font_slot, 40, 40, "A wider caption", -1, 0) + 1);

    // Fields the owner may never set start at zero, whatever the memory held.
    alignas(WM_BUTTON) unsigned char memory[sizeof(WM_BUTTON)];
    std::memset(memory, 0xA5, sizeof memory);
    auto* b = new (memory) WM_BUTTON(0, 0, 9, 9, BG, TXT, "x", 0, 0, 15, nullptr, nullptr, nullptr, 1, 2);
    EXPECT_EQ(b->hint_time + b->drag_offset_x + b->drag_offset_y + b->drag_codes, 0u);
    EXPECT_EQ(b->activated_data, nullptr);
    b->~WM_BUTTON();
}

TEST_F(ButtonTest, StyledConstructorMapsTheStyle)
{
    const struct
    {
        INT_U32 ssf, ssef;
        INT_U16 edges;
        INT_U32 flags;
        BUTTON_TYPE type;
        INT_U16 want_edges;
    } cases[] = {
        {0x5, 0, 0x00FF, BUTTON_FIXED_RELIEF, 0, 0x00FF}, // border, outstanding
        {0x3, 0, 0x000F, BUTTON_FIXED_RELIEF, 0, 0x800F}, // border, indented
        {0x2, 0, 0x000F, 0, 0, 0},                        // indented without a border
        {0x1 | 1u << 6 | 1u << 3, 1u << 4 | 1u << 6, 0x800F, BUTTON_TEXT_LEFT | BUTTON_HFADING | BUTTON_ARROW_UP, 1,
         0x000F},
        {1u << 21 | 1u << 17 | 1u << 9, 1u << 7 | 1u << 8, 0,
         BUTTON_TEXT_BOTTOM | BUTTON_ICON_ATTACHED | BUTTON_TEXT_SHADOW | BUTTON_DONT_MASK_CLICK, 2, 0},
    };
    for (const auto& c : cases) {
        WM_STYLE_SET style;
        style.ssf = c.ssf, style.ssef = c.ssef, style.shading_flags = c.edges;
        WM_BUTTON b(0, 0, 9, 9, style, "x", nullptr, nullptr, nullptr, nullptr, 2);
        EXPECT_EQ(b.draw_flags, c.flags) << std::hex << c.ssf;
        EXPECT_EQ(b.button_type, c.type);
        EXPECT_EQ(b.shading_flags, c.want_edges);
    }
    // Colours are taken only when they show (never the flashing face); an
    // invisible active colour falls back to the face.
    WM_STYLE_SET style;
    style.bg_colour = BG, style.active_colour = COLOUR_INVISIBLE, style.mouse_over_colour = OVER;
    style.flashing_colour = FLASH, style.ssf |= 1u << 12;
    WM_BUTTON b(0, 0, 9, 9, style, "x", nullptr, nullptr, nullptr, nullptr, 2);
    EXPECT_EQ(b.active_background_colour, BG);
    EXPECT_EQ(b.mouse_over_colour, OVER);
    EXPECT_EQ(b.flashing_colour, COLOUR_INVISIBLE);
    EXPECT_EQ(b.enabled, 0);
}

TEST_F(ButtonTest, SkinsAndTheirChoice)
{
    for (int i = 0; i < WM_BUTTON::BOX_COUNT; ++i) {
        picture(std::string("sk") + kSuffixes[i], box_colour(i));
    }
    picture("bare", box_colour(20));
    picture("clear", 0x00FFFFFFu);
    enum
    {
        HOT = 1,
        ACTIVE = 2,
        DOWN = 4,
        FLASHING = 8,
        DISABLED = 16,
        INDENT = 32
    };
    const struct
    {
        int state, missing, want;
    } cases[] = {
        {0, -1, WM_BUTTON::BOX_UP},
        {HOT, -1, WM_BUTTON::BOX_OVER},
        {DISABLED | HOT, -1, WM_BUTTON::BOX_DISABLED},
        {DOWN, -1, WM_BUTTON::BOX_HIGHLIGHTED},
        {DOWN, WM_BUTTON::BOX_HIGHLIGHTED, WM_BUTTON::BOX_DOWN},
        {FLASHING | DOWN, -1, WM_BUTTON::BOX_FLASHING},
        {ACTIVE, -1, WM_BUTTON::BOX_ACTIVE_UP},
        {ACTIVE | HOT, -1, WM_BUTTON::BOX_ACTIVE_OVER},
        {ACTIVE | INDENT | HOT, -1, WM_BUTTON::BOX_ACTIVE_DOWN},
        {ACTIVE | DISABLED | INDENT, -1, WM_BUTTON::BOX_ACTIVE_DISABLED},
        {ACTIVE | HOT, WM_BUTTON::BOX_ACTIVE_OVER, WM_BUTTON::BOX_ACTIVE_UP},
    };
    for (const auto& c : cases) {
        WM_BUTTON* b = make("");
        ASSERT_EQ(b->set_images(alias, "sk", nullptr), 1);
        if (c.missing >= 0) {
            b->image_boxes[c.missing].clear_images();
        }
        b->pointer_over = (c.state & HOT) != 0, b->activated = (c.state & ACTIVE) != 0;
        b->down = (c.state & DOWN) != 0, b->flashing = (c.state & FLASHING) != 0;
        b->enabled = !(c.state & DISABLED), b->indent_when_active = (c.state & INDENT) != 0;
        draw(b);
        EXPECT_EQ(at(50, 20), box_colour(c.want)) << "state " << c.state << " missing " << c.missing;
    }

    // A bare name serves up and down only; a name too long for a file loads nothing.
    WM_BUTTON* b = make("");
    ASSERT_EQ(b->set_images(alias, "bare", nullptr), 1);
    EXPECT_FALSE(b->image_boxes[WM_BUTTON::BOX_OVER].are_images_valid());
    b->down = 1;
    draw(b);
    EXPECT_EQ(at(50, 20), box_colour(20));
    EXPECT_EQ(b->set_images(alias, std::string(5000, 'n').c_str(), nullptr), 0);
    EXPECT_EQ(b->set_images(alias, nullptr, nullptr), 0);

    // From a style's runtime cache.
    WM_STYLE_SET style;
    std::strcpy(style.image_path, alias);
    style.set_image_base_string("sk");
    style.load_runtime_image_cache();
    WM_BUTTON styled(0, 0, W - 1, H - 1, style, "", nullptr, nullptr, nullptr, nullptr, 2);
    styled.pointer_over = 1;
    draw(&styled);
    EXPECT_EQ(at(50, 20), box_colour(WM_BUTTON::BOX_OVER));

    // The hit test follows box 0's alpha unless told not to.
    const struct
    {
        bool skinned;
        INT_U32 flags;
        INT_U8 visible, want;
    } hits[] = {{false, 0, 1, 1}, {true, 0, 1, 0}, {true, BUTTON_DONT_MASK_CLICK, 1, 1}, {false, 0, 0, 0}};
    for (const auto& h : hits) {
        WM_BUTTON* hb = make("", h.flags);
        ASSERT_TRUE(!h.skinned || hb->set_images(alias, "clear", nullptr));
        hb->visible = h.visible;
        EXPECT_EQ(hb->is_in_it(50, 20), h.want);
        EXPECT_EQ(hb->is_in_it(W, 20), 0);
    }
}

TEST_F(ButtonTest, FaceAndTextColourPrecedence)
{
    enum
    {
        HOT = 1,
        ACTIVE = 2,
        MARK = 4,
        DOWN = 8,
        FLASHING = 16,
        DISABLED = 32,
        DIS_TEXT_UNSET = 64,
        FAST = 128
    };
    const struct
    {
        int state;
        COLOUR face, text;
        short effect;
    } cases[] = {
        {0, BG, TXT, 1},
        {HOT, OVER, OVER_T, 1},
        {HOT | ACTIVE, ACT, OVER_T, 1},
        {ACTIVE | MARK, BG, TXT, 1},
        {DOWN | HOT, HI, OVER_T, 1},
        {FLASHING | DOWN, FLASH, FLASH_T, 1},
        {DISABLED | HOT | DOWN, DIS, DIS_T, 2},                // engraved: inset where the colour shows,
        {DISABLED | DIS_TEXT_UNSET, DIS, COLOUR_INVISIBLE, 4}, // else chiseled
        {DISABLED | FAST, DIS, DIS_T, 1},
    };
    const int cy = G + (H - 2 * G - 22) / 2;
    for (const auto& c : cases) {
        WM_BUTTON* b = make("Hg", BUTTON_TEXT_SHADOW);
        paint_states(b);
        b->disabled_text_colour = (c.state & DIS_TEXT_UNSET) ? COLOUR_INVISIBLE : DIS_T;
        b->flash_text.set(b->flash_text.value, "Fl");
        b->pointer_over = (c.state & HOT) != 0, b->activated = (c.state & ACTIVE) != 0;
        std::strcpy(b->active_mark, (c.state & MARK) ? "*" : "");
        b->down = (c.state & DOWN) != 0, b->flashing = (c.state & FLASHING) != 0, b->enabled = !(c.state & DISABLED);
        WM_BUTTON::fast_disabled_text = (c.state & FAST) ? 1 : 0;
        const char* text = b->flashing ? "Fl" : "Hg";
        const int cx = G + (W - 2 * G - text_w(text)) / 2;
        COLOUR dark, light;
        b->get_shading_colours(c.face, dark, light);
        // The mark's column is left out: the icons test looks at it.
        expect_drawn_as(
            b,
            [&](IMAGE& s) {
                if (c.state & FAST) {
                    face_and_text(s, c.face, cx + 1, cy + 1, light, text, c.effect);
                    s.process_and_render_string(static_cast<short>(cx), static_cast<short>(cy), dark, COLOUR_INVISIBLE,
                                                COLOUR_INVISIBLE, s.font_slot, 22, 22, text, c.effect, -1, 0);
                } else {
                    face_and_text(s, c.face, cx, cy, c.text, text, c.effect);
                }
            },
            3);
        EXPECT_EQ(at(50, 1), c.face) << "state " << c.state;
    }
    WM_BUTTON::fast_disabled_text = 0;
}

TEST_F(ButtonTest, FacesAndRelief)
{
    draw(make("", BUTTON_DARKENED));
    imgtest::CANVAS half(1, 1, {SENTINEL});
    half.darken_rect(0, 0, 0, 0, 50);
    EXPECT_EQ(at(50, 20), imgtest::px(half, 0, 0));

    WM_BUTTON* faded = make("", BUTTON_HFADING);
    faded->fading_colour = COLOUR_WHITE;
    draw(faded);
    EXPECT_EQ(at(0, 20), BG);
    EXPECT_EQ(at(W - 1, 20), COLOUR_WHITE);

    // Sunken with the inversion: the vertical fade runs upwards.
    WM_BUTTON* inverted = make("", BUTTON_VFADING | BUTTON_INVERT_VFADING, 0xF);
    inverted->fading_colour = COLOUR_WHITE;
    inverted->indent_when_active = inverted->activated = 1;
    draw(inverted);
    EXPECT_GT(COLOUR(at(50, 2)).red(), COLOUR(at(50, H - 3)).red());

    draw(make("", 0, 0xFF)); // rounded corners
    EXPECT_EQ(at(0, 0), SENTINEL);
    EXPECT_EQ(at(50, 20), BG);

    // New colours show a hidden button again.
    WM_BUTTON* hidden = make("");
    hidden->visible = 0;
    hidden->set_colours(OVER, TXT, BG, 0);
    EXPECT_EQ(hidden->visible, 1);
    draw(hidden);
    EXPECT_EQ(at(50, 20), OVER);

    // The sunken bit follows the state unless the relief is fixed.
    const struct
    {
        INT_U32 flags;
        INT_U16 edges;
        INT_U8 down;
        INT_U16 want;
    } relief[] = {{0, 0x000F, 1, 0x800F},
                  {0, 0x800F, 0, 0x000F},
                  {BUTTON_FIXED_RELIEF, 0x800F, 0, 0x800F},
                  {BUTTON_FIXED_RELIEF, 0x000F, 1, 0x000F}};
    for (const auto& r : relief) {
        WM_BUTTON* b = make("", r.flags, r.edges);
        b->down = r.down;
        draw(b);
        EXPECT_EQ(b->drawn_shading_flags(), r.want);
    }

    // The outline ring in the text colour; the class colour is kept, and an
    // invisible text colour draws no outline and ends nothing.
    WM_BUTTON* outlined = make("", BUTTON_TEXT_OUTLINE, 0xF);
    outlined->shading_type = 3;
    draw(outlined);
    EXPECT_EQ(at(0, 20), TXT);
    EXPECT_EQ(WM_SCREEN_OBJECT::outline_colour, COLOUR_YELLOW);
    outlined->text_colour = COLOUR_INVISIBLE;
    draw(outlined);
    EXPECT_EQ(at(0, 20), BG);
}

TEST_F(ButtonTest, CaptionPositions)
{
    const int tw = text_w("Hg");
    const int left = G, right = W - G - tw - 1, centre = G + (W - 2 * G - tw) / 2;
    const int top = G, bottom = H - G - 22 - 1, middle = G + (H - 2 * G - 22) / 2;
    const struct
    {
        INT_U32 flags;
        int tx, ty;
        short effect;
    } cases[] = {
        {0, centre, middle, 0},
        {BUTTON_TEXT_LEFT | BUTTON_TEXT_TOP, left, top, 32 | 8},
        {BUTTON_TEXT_RIGHT | BUTTON_TEXT_BOTTOM, right, bottom, 64 | 16},
    };
    for (const auto& c : cases) {
        for (int down : {0, 1}) {
            WM_BUTTON* b = make("Hg", c.flags, 0xF);
            b->down = static_cast<INT_U8>(down);
            expect_drawn_as(
                b, [&](IMAGE& s) { face_and_text(s, BG, c.tx + down, c.ty + down, TXT, "Hg", c.effect); }, G, G,
                W - 1 - G, H - 1 - G);
        }
    }
    const char* para = "A caption long enough to wrap";
    expect_drawn_as(make(para, BUTTON_WRAP_TEXT), [&](IMAGE& s) {
        s.fill_rect(0, 0, W - 1, H - 1, BG, 1);
        s.draw_string(G, G, W - 1 - G, H - 1 - G, TXT, COLOUR_INVISIBLE, COLOUR_INVISIBLE, s.font_slot, 22, 22, para,
                      0);
    });
}

TEST_F(ButtonTest, IconsMarksAndArrows)
{
    // Gaps of 10, spacing 4, a 6 x 4 icon; the caption's box starts at (tx, ty).
    const int tw = text_w("Hg"), tx = 10 + (W - 20 - tw) / 2, ty = 10 + (H - 20 - 22) / 2;
    const int beside = ty + (22 - 1 - 4) / 2;
    const struct
    {
        INT_U32 flags;
        int ix, iy;
    } cases[] = {
        {BUTTON_ICON_LEFT, 2, 17},
        {BUTTON_ICON_RIGHT, 91, 17},
        {BUTTON_ICON_TOP, 46, 3},
        {BUTTON_ICON_BOTTOM, 46, 32},
        {BUTTON_ICON_ATTACHED | BUTTON_ICON_LEFT, tx + 5 - 10, beside},
        {BUTTON_ICON_ATTACHED | BUTTON_ICON_RIGHT, tx - 5 + tw + 4 - 1, beside},
    };
    const INT_U32 faded = imgtest::ref_blend((BG & 0xFFFFFFu) | 208u << 24, COLOUR_RED, COLOUR::alpha_solid_threshold);
    for (const auto& c : cases) {
        for (INT_U8 enabled : {1, 0}) {
            WM_BUTTON* b = make("Hg", c.flags);
            b->border_left_gap = b->border_right_gap = b->border_top_gap = b->border_bottom_gap = 10;
            b->x_spacing = b->y_spacing = 4;
            b->icon.setup(6, 4);
            b->icon.clear(COLOUR_RED, 1);
            b->enabled = enabled;
            draw(b);
            const INT_U32 want = enabled ? COLOUR_RED.value : faded;
            EXPECT_EQ(at(c.ix, c.iy), want) << std::hex << c.flags;
            EXPECT_EQ(at(c.ix + 5, c.iy + 3), want);
            EXPECT_NE(at(c.ix - 1, c.iy), want);
            EXPECT_NE(at(c.ix + 6, c.iy + 3), want);
        }
    }
    // The active mark goes in the left gap and leaves the face alone.
    WM_BUTTON* marked = make("");
    marked->border_left_gap = 20;
    std::strcpy(marked->active_mark, "X");
    marked->activated = 1;
    draw(marked);
    const std::vector<INT_U32> gap = grab(0, 0, 20, H - 1), rest = grab(21, 0, W - 1, H - 1);
    EXPECT_NE(std::count(gap.begin(), gap.end(), BG.value), static_cast<long>(gap.size()));
    EXPECT_EQ(std::count(rest.begin(), rest.end(), BG.value), static_cast<long>(rest.size()));

    // Arrows are draw_arrow's, in the text colour, inside the shading.
    const struct
    {
        INT_U32 flag;
        SCROBJ_ARROW_TYPE direction;
    } arrows[] = {{BUTTON_ARROW_LEFT, 2}, {BUTTON_ARROW_RIGHT, 3}, {BUTTON_ARROW_UP, 0}, {BUTTON_ARROW_DOWN, 1}};
    for (const auto& a : arrows) {
        WM_BUTTON* plain = make("");
        expect_drawn_as(make("", a.flag), [&](IMAGE&) {
            plain->draw_object();
            plain->draw_arrow(G, G, W - 1 - G, H - 1 - G, TXT, a.direction, -1, -1);
        });
    }
}

TEST_F(ButtonTest, DragPictureFlashAndIdleFrames)
{
    WM_BUTTON* b = make("");
    b->drag_started = 1;
    b->drag_x = 300, b->drag_y = 200, b->drag_offset_x = -10, b->drag_offset_y = -5;
    draw(b);
    // With nothing else to show, a ghost: what was there laid over the button at alpha 160.
    EXPECT_EQ(at(290, 195), imgtest::ref_blend((SENTINEL & 0xFFFFFFu) | 160u << 24, BG, COLOUR::alpha_solid_threshold));
    EXPECT_EQ(at(290 + W, 195), SENTINEL);
    EXPECT_EQ(at(50, 20), BG);
    b->drag_image.setup(5, 5);
    b->drag_image.clear(COLOUR_GREEN, 1);
    draw(b);
    EXPECT_EQ(at(290, 195), COLOUR_GREEN);
    EXPECT_EQ(at(296, 195), SENTINEL);

    // The flash follows its phase bit only while flash_text holds text.
    const struct
    {
        int kind;
        INT_U8 want;
    } flashes[] = {{0, 1}, {1, 0}, {2, 0}};
    for (const auto& f : flashes) {
        WM_BUTTON* fb = make();
        if (f.kind == 0) {
            fb->flash_text.set(fb->flash_text.value, "Fl");
        } else if (f.kind == 1) {
            fb->flash_text.reset_to_type(4);
            fb->flash_text.set(fb->flash_text.value, 5L);
        }
        for (INT_U8 phase : {1, 0}) {
            WM_SCREEN_OBJECT::flashing_flags = phase ? 0x20 : 0;
            fb->update(0);
            EXPECT_EQ(fb->flashing, phase ? f.want : 0) << f.kind;
        }
    }

    // With nothing changing, a frame marks no update region.
    WM_MANAGER root;
    root.add_object(new WM_BUTTON(10, 10, 109, 39, BG, TXT, "Idle", 0, 0, 0xFF, nullptr, nullptr, nullptr, 1, 2), 0);
    tick(10, &root);
    tick(10, &root);
    imgtest::clean(screen());
    for (int i = 0; i < 5; ++i) {
        tick(10, &root);
    }
    EXPECT_EQ(imgtest::dirty(screen()), imgtest::NO_RECT);
}

TEST_F(ButtonTest, DestroyingLeavesNothingBehind)
{
    WM_PAGE_MANAGER* pm = new WM_PAGE_MANAGER(1, -1);
    WM_AREA& area = pm->areas[0];
    auto add = [&] {
        auto* b = new WM_BUTTON(10, 10, 59, 29, BG, TXT, "b", 0, 0, 15, nullptr, nullptr, nullptr, 1, 2);
        area.add_object(b, 0);
        return b;
    };

    // The auto-pressed button takes the injected click with it.
    WM_BUTTON* pressed = add();
    WM_BUTTON::auto_pressing_button = pressed;
    WM_BUTTON::auto_pressing_ltv = 1234;
    pm->injected_x = 35, pm->injected_y = 20, pm->injected_button = 1;
    area.remove_object(pressed, 1, 0);
    EXPECT_EQ(WM_BUTTON::auto_pressing_button, nullptr);
    EXPECT_EQ(WM_BUTTON::auto_pressing_ltv, 0u);
    EXPECT_EQ(pm->injected_x, -1);
    EXPECT_EQ(pm->injected_y, -1);
    EXPECT_EQ(pm->injected_button, 0);

    // A dragged button is a child and a modal object, with its hint shown:
    // each is deleted once, however the area is cleared.
    for (int children : {1, 0}) {
        WM_BUTTON* dragged = add();
        dragged->drag_started = 1;
        dragged->drag_x = dragged->drag_y = 100;
        area.add_modal_object(dragged, 0);
        dragged->set_hint_text("tip");
        area.add_modal_object(dragged->hint, 0);
        area.clear_objects(1, 0, static_cast<INT_U8>(children));
        tick(10);
        EXPECT_EQ(area.get_screen_object(0), nullptr);
        EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.head, nullptr);
    }

    // Hiding closes a shown hint; destroying takes it off the modal list.
    WM_BUTTON* hinted = add();
    hinted->set_hint_text("tip");
    area.add_modal_object(hinted->hint, 0);
    hinted->hide(0, 0);
    EXPECT_FALSE(hinted->hint->is_modal_object());
    area.add_modal_object(hinted->hint, 0);
    area.clear_objects(0, 0, 1);
    EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.head, nullptr);
}

TEST_F(ButtonTest, OwnerSettersRedrawOnlyForWhatShows)
{
    using B = WM_BUTTON;
    auto nothing = [](B&) {};
    auto held = [this](B& b) {
        draw(&b); // a draw keeps the held look, whatever the state says
        return (b.draw_flags & BUTTON_FIXED_RELIEF) && (b.shading_flags & SHADING_SWAP);
    };
    auto at_rest = [](B& b) {
        return !b.down && !b.armed && !b.last_left && !b.last_right && !b.pointer_over && !b.press_time && !b.repeating;
    };
    // Each row: the state before, the owner's call, whether a visible
    // button asks for a redraw, and what the call leaves.
    const struct
    {
        const char* what;
        std::function<void(B&)> before, call;
        bool redraw;
        std::function<bool(B&)> after;
    } rows[] = {
        {"disabling lets go of the down look", [](B& b) { b.set_down(1); }, [](B& b) { b.set_enabled(0); }, true,
         [](B& b) { return !b.enabled && !b.down; }},
        {"enabling a disabled button", [](B& b) { b.set_enabled(0); }, [](B& b) { b.set_enabled(1); }, true,
         [](B& b) { return b.enabled == 1; }},
        {"enabling an enabled button", [](B& b) { b.set_down(1); }, [](B& b) { b.set_enabled(1); }, false,
         [](B& b) { return b.enabled && b.down; }},
        {"the held look", nothing, [](B& b) { b.set_held_look(true); }, true, held},
        {"the held look again", [](B& b) { b.set_held_look(true); }, [](B& b) { b.set_held_look(true); }, false, held},
        {"the held look let go", [](B& b) { b.set_held_look(true); }, [](B& b) { b.set_held_look(false); }, true,
         [&held](B& b) { return !held(b) && !(b.draw_flags & BUTTON_FIXED_RELIEF); }},
        {"selected", nothing, [](B& b) { b.set_selected(1); }, true, [](B& b) { return b.selected == 1; }},
        {"selected again", [](B& b) { b.set_selected(1); }, [](B& b) { b.set_selected(1); }, false,
         [](B& b) { return b.selected == 1; }},
        {"an arrow", nothing, [](B& b) { b.set_draw_flags(BUTTON_ARROW_RIGHT); }, true,
         [](B& b) { return b.draw_flags == BUTTON_ARROW_RIGHT; }},
        {"the same draw flags", nothing, [](B& b) { b.set_draw_flags(b.draw_flags); }, false,
         [](B& b) { return b.draw_flags == 0; }},
        {"a press cleared", [](B& b) { b.set_down(1), b.armed = b.last_left = b.repeating = 1, b.press_time = 9; },
         [](B& b) { b.clear_press(); }, true, at_rest},
        {"a press cleared that did not show", [](B& b) { b.armed = b.last_left = b.last_right = 1; },
         [](B& b) { b.clear_press(); }, false, at_rest},
        {"the press mode", nothing, [](B& b) { b.set_button_type(2), b.set_slide_select(1), b.set_trigger_flags(8); },
         false, [](B& b) { return b.button_type == 2 && b.slide_select == 1 && b.trigger_flags == 8; }},
    };
    for (const auto& r : rows) {
        for (INT_U8 visible : {1, 0}) {
            WM_BUTTON* b = make();
            r.before(*b);
            b->visible = visible;
            b->dirty = 0;
            WM_SCREEN_OBJECT::update_regions_sz = 0;
            r.call(*b);
            EXPECT_EQ(WM_SCREEN_OBJECT::update_regions_sz > 0, r.redraw && visible) << r.what;
            EXPECT_EQ(b->visible, visible) << r.what; // a redraw request would show a hidden button
            EXPECT_TRUE(r.after(*b)) << r.what;
        }
    }
}

// At exit the hint style set gives its skins back to a cache that still lives.
TEST_F(ButtonTest, HintStyleSetWithSkinsExitsCleanly)
{
    picture("hint", COLOUR_WHITE);
    EXPECT_EXIT(
        {
            WM_STYLE_SET skinned;
            std::strcpy(skinned.image_path, alias);
            skinned.set_image_base_string("hint");
            WM_BUTTON::hint_style_set = skinned;
            WM_BUTTON::hint_style_set.load_runtime_image_cache();
            std::exit(WM_BUTTON::hint_style_set.runtime_cache[0] ? 0 : 2);
        },
        ::testing::ExitedWithCode(0), "");
}
