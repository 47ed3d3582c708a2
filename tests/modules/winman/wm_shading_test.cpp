// Borders and arrows pixel by pixel, the colours they are drawn in, and the
// ring counts that widgets lay themselves out by.
#include "errors.h"
#include "widget_test.h"

#include <string>

using imgtest::px;
using kivo_test::SENTINEL;

namespace {

// Distinct opaque colours, so that a map shows which one landed where.
constexpr INT_U32 DARK = 0xFF203040u, LIGHT = 0xFFE0D0C0u, BORDER = 0xFF101010u, OUTLINE = 0xFFF0F000u;
constexpr INT_U32 ARROW = 0xFF00A000u;

class ShadingTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        object = new WM_SCREEN_OBJECT(1, nullptr, nullptr, nullptr);
        WM_SCREEN_OBJECT::dark_shading_colour = DARK;
        WM_SCREEN_OBJECT::light_shading_colour = LIGHT;
    }
    void TearDown() override
    {
        delete object;
        WidgetTest::TearDown();
    }
    // The image's top-left as rows joined by '|' ('.' untouched, D, L, B, O,
    // A for the colours above, '?' other); the expectation's shape gives
    // the size.
    static std::string map(const IMAGE& im, const std::string& like)
    {
        const std::pair<INT_U32, char> legend[] = {{SENTINEL, '.'}, {DARK, 'D'},    {LIGHT, 'L'},
                                                   {BORDER, 'B'},   {OUTLINE, 'O'}, {ARROW, 'A'}};
        std::string out;
        for (int k = 0, x = 0, y = 0; k < static_cast<int>(like.size()); ++k, ++x) {
            char c = like[k] == '|' ? '|' : '?';
            for (auto& l : legend) {
                c = c == '?' && px(im, x, y) == l.first ? l.second : c;
            }
            out += c;
            if (c == '|') {
                x = -1, ++y;
            }
        }
        return out;
    }
    WM_SCREEN_OBJECT* object = nullptr;
};

} // namespace

TEST_F(ShadingTest, RingCountsResolveTypeOneOnce)
{
    // A type far above the last one has no rings.
    EXPECT_EQ(object->get_shading_type_size(0xFFFFFFFFu), 0);
    // Type 1 is the object's own type, then the system's (only the system's
    // for the type size); a 1 left after that has no rings.
    const struct
    {
        SCROBJ_SHADING_TYPE own, system;
        int type_size, size;
    } cases[] = {
        {1, 6, 2, 2}, {7, 6, 2, 3}, {0, 6, 2, 0}, {1, 9, 4, 4}, {1, 1, 0, 0}, {7, 1, 0, 3},
    };
    for (auto& c : cases) {
        object->shading_type = c.own;
        WM_SCREEN_OBJECT::system_default_shading_type = c.system;
        EXPECT_EQ(object->get_shading_type_size(1), c.type_size) << c.own << " " << c.system;
        EXPECT_EQ(object->get_shading_size(1), c.size) << c.own << " " << c.system;
    }
}

TEST_F(ShadingTest, ColoursComeFromTheFirstSetSource)
{
    // Own colour scaled (70 % and 130 %, alpha kept, clamped at 255), else
    // the class colour as it is, else the base or default base scaled, else
    // dark grey and white. Scaling clears the current error.
    const struct
    {
        COLOUR own, dark_static, light_static, default_base, base, dark, light;
        bool scaled;
    } cases[] = {
        {0xFF808080u, DARK, LIGHT, 0, 0xFF123456u, 0xFF595959u, 0xFFA6A6A6u, true},
        {0x40C8C864u, DARK, LIGHT, 0, 0, 0x408C8C46u, 0x40FFFF82u, true},
        {0, COLOUR_DARK_GREY, COLOUR_WHITE, 0xFF808080u, 0xFF808080u, COLOUR_DARK_GREY, COLOUR_WHITE, false},
        {0, 0, LIGHT, 0xFF646464u, 0xFF808080u, 0xFF595959u, LIGHT, true},
        {0, 0, 0, 0xFF646464u, 0, 0xFF464646u, 0xFF828282u, true},
        {0, 0x00FFFFFFu, 0, 0, 0x00FFFFFFu, COLOUR_DARK_GREY, COLOUR_WHITE, false},
    };
    for (auto& c : cases) {
        object->shading_colour = c.own;
        WM_SCREEN_OBJECT::dark_shading_colour = c.dark_static;
        WM_SCREEN_OBJECT::light_shading_colour = c.light_static;
        WM_SCREEN_OBJECT::default_shading_base_colour = c.default_base;
        set_error_code(ERRCODE_CONFIG_OPEN, "stale");
        COLOUR dark = 0, light = 0;
        object->get_shading_colours(c.base, dark, light);
        EXPECT_EQ(dark, c.dark) << std::hex << c.own << " " << c.base;
        EXPECT_EQ(light, c.light) << std::hex << c.own << " " << c.base;
        EXPECT_EQ(current_error_code, c.scaled ? ERRCODE_NONE : ERRCODE_CONFIG_OPEN) << std::hex << c.own;
    }
}

TEST_F(ShadingTest, BordersByPixel)
{
    // Edges go top, left, bottom, right (rounded: top, left, top arcs,
    // right, bottom, bottom arcs), so the later ones win the corners. own
    // is the object's type; 'O' or 'B' makes that colour invisible.
    const struct
    {
        SCROBJ_SHADING_TYPE type, own;
        INT_U16 flags;
        short x2, y2, radius;
        char blank;
        const char* expect;
    } cases[] = {
        {6, 1, 15, 8, 6, 0, 0, "..........|.LLLLLLLD.|.LLLLLLDD.|.LL....DD.|.LL....DD.|.LDDDDDDD.|.DDDDDDDD."},
        // Fixed dark-over-light ring, border ring, raised ring: only the
        // raised one swaps.
        {2, 1, 15, 8, 7, 0, 0,
         "..........|.DDDDDDDL.|.DBBBBBBL.|.DBLLLDBL.|.DBL..DBL.|.DBDDDDBL.|.DBBBBBBL.|.LLLLLLLL."},
        {2, 1, 0x800F, 8, 7, 0, 0,
         "..........|.DDDDDDDL.|.DBBBBBBL.|.DBDDDLBL.|.DBD..LBL.|.DBLLLLBL.|.DBBBBBBL.|.LLLLLLLL."},
        {9, 1, 2, 8, 6, 0, 0, "..........|..........|..........|....DD....|...DDDD...|..DDDDDD..|.OOOOOOOO."},
        {4, 1, 0x1F, 8, 6, 2, 0, "..........|...LLLLLD.|..L.....D.|.L......D.|.L......D.|.L......D.|.DDDDDDDD."},
        // Rounded type 2 is dark outside all round; radius -1 gives 2 here.
        {2, 1, 0xFF, 10, 8, -1, 0,
         "............|...DDDDDD...|..D.BBBB.D..|.D.B.LL.B.D.|.DBDL..LDBD.|.DBLD..DDBD.|.D.B.DD.B.D.|..D.BBBB.D..|"
         "...DDDDDD..."},
        {1, 4, 15, 4, 3, 0, 0, "......|.LLLD.|.L..D.|.DDDD.|......"},
        {5, 1, 15, 5, 4, 0, 'O', ".......|.......|..LLD..|..DDD..|......."},
        {2, 1, 15, 7, 6, 0, 'B', ".........|.DDDDDDL.|.D.....L.|.D.LLD.L.|.D.DDD.L.|.D.....L.|.LLLLLLL."},
        {10, 1, 15, 4, 3, 0, 0, "......|......|......|......"},
    };
    for (auto& c : cases) {
        screen().clear(SENTINEL, 1);
        object->shading_type = c.own;
        WM_SCREEN_OBJECT::outline_colour = c.blank == 'O' ? COLOUR_INVISIBLE : COLOUR(OUTLINE);
        WM_SCREEN_OBJECT::border_colour = c.blank == 'B' ? COLOUR(0x00FFFFFFu) : COLOUR(BORDER);
        object->draw_shading(1, 1, c.x2, c.y2, c.flags, COLOUR_INVISIBLE, c.type, c.radius);
        EXPECT_EQ(map(screen(), c.expect), c.expect) << "type " << c.type << " flags 0x" << std::hex << c.flags;
    }
}

TEST_F(ShadingTest, ArrowsAreFansOrPictures)
{
    // Lines between the apex and each pixel of the base, in the directions
    // given (from the apex for down and left), compared with a hand-drawn fan.
    const struct
    {
        SCROBJ_ARROW_TYPE dir;
        short x1, y1, x2, y2, gx, gy;
        int apex_x, apex_y, base, from, to;
    } cases[] = {
        {0, 0, 0, 14, 14, -1, -1, 7, 5, 9, 5, 9},
        {1, 0, 0, 14, 10, 2, 1, 7, 9, 1, 2, 12},
        {2, 0, 0, 10, 14, -1, -1, 3, 7, 7, 5, 9},
        {3, 2, 3, 12, 17, 1, 4, 11, 10, 3, 7, 13},
    };
    std::string area;
    for (int y = 0; y < 20; ++y) {
        area += std::string(20, '.') + "|";
    }
    for (auto& c : cases) {
        imgtest::CANVAS want(20, 20, {SENTINEL});
        for (int i = c.from; i <= c.to; ++i) {
            const short ax = static_cast<short>(c.apex_x), ay = static_cast<short>(c.apex_y);
            const short bx = static_cast<short>(c.dir < 2 ? i : c.base),
                        by = static_cast<short>(c.dir < 2 ? c.base : i);
            c.dir == 1 || c.dir == 2 ? want.draw_line(ax, ay, bx, by, ARROW, 1, 1)
                                     : want.draw_line(bx, by, ax, ay, ARROW, 1, 1);
        }
        screen().clear(SENTINEL, 1);
        object->draw_arrow(c.x1, c.y1, c.x2, c.y2, ARROW, c.dir, c.gx, c.gy);
        EXPECT_EQ(map(screen(), area), map(want, area)) << "direction " << c.dir;
    }
    // Nothing for an unknown direction, an empty base or an invisible colour.
    screen().clear(SENTINEL, 1);
    object->draw_arrow(0, 0, 14, 14, ARROW, 4, -1, -1);
    object->draw_arrow(0, 0, 4, 4, ARROW, 0, 3, 0);
    object->draw_arrow(0, 0, 14, 14, COLOUR_INVISIBLE, 0, -1, -1);
    EXPECT_EQ(map(screen(), area), area);

    // A 9 x 5 down picture on (100,50)-(120,60) is blended in at (105, 52),
    // whatever the colour; its clear corner leaves the surface.
    IMAGE& picture = WM_SCREEN_OBJECT::down_arrow_image;
    picture.setup(9, 5);
    picture.clear(ARROW, 1);
    px(picture, 8, 4) = 0x00FFFFFFu;
    object->draw_arrow(100, 50, 120, 60, COLOUR_INVISIBLE, 1, -1, -1);
    const struct
    {
        int x, y;
        INT_U32 want;
    } probes[] = {{105, 52, ARROW}, {113, 55, ARROW}, {113, 56, SENTINEL}, {104, 52, SENTINEL}, {105, 51, SENTINEL}};
    for (auto& p : probes) {
        EXPECT_EQ(at(p.x, p.y), p.want) << p.x << "," << p.y;
    }
}
