// The grid's layout and drawing: column edges from ratios, the ratio text
// parser, rows made on demand, cells placed, replaced and removed, row
// deletion, sizing helpers, ready-made cells, what a draw paints, where
// the layout puts the scroll bar and the cell objects, and that the redraw
// pass lays the grid out after every change it depends on.
#include "folder.h"
#include "widget_test.h"
#include "wm_button.h"
#include "wm_grid.h"
#include "wm_image.h"
#include "wm_script.h"

#include <array>
#include <climits>
#include <functional>
#include <memory>
#include <string>

namespace {

using kivo_test::PROBE;
using kivo_test::SENTINEL;
constexpr COLOUR BG = COLOUR_BLUE, LIT = COLOUR_RED;
constexpr int GX = 10, GY = 20;

// x1, y1, x2, y2, inclusive.
using CELL = std::array<int, 4>;

CELL bounds(WM_SCREEN_OBJECT* o)
{
    return {o->x, o->y, o->x + o->width - 1, o->y + o->height - 1};
}

class GridTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        for (INT_S16* gap : {&style.border_left_gap, &style.border_right_gap, &style.border_top_gap,
                             &style.border_bottom_gap, &style.cell_left_gap, &style.cell_right_gap, &style.cell_top_gap,
                             &style.cell_bottom_gap, &style.x_spacing, &style.y_spacing}) {
            *gap = 0;
        }
        style.ssf = 0;
        style.shading_flags = 0xF; // square corners
        style.bg_colour = BG;
        style.highlight_colour = LIT;
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }
    // A grid at (GX, GY), w x h, with rows of row_h pixels.
    std::unique_ptr<WM_GRID> make(int w, int h, int row_h, INT_S16 columns = 1, const INT_S16* ratios = nullptr)
    {
        auto g = std::make_unique<WM_GRID>(1, nullptr, nullptr, nullptr);
        g->setup(GX, GY, static_cast<INT_S16>(GX + w - 1), static_cast<INT_S16>(GY + h - 1), columns, ratios, style,
                 bar_style);
        g->default_row_height = static_cast<INT_S16>(row_h);
        return g;
    }
    static PROBE* put(WM_GRID& g, int column, int row)
    {
        auto* p = new PROBE(0, 0, 1, 1, COLOUR_GREEN);
        EXPECT_EQ(g.add_object(static_cast<INT_S16>(column), static_cast<INT_S16>(row), p), p);
        return p;
    }
    static CELL cell(WM_GRID& g, int column, int row)
    {
        INT_S16 x1, y1, x2, y2;
        g.get_cell_coords(static_cast<INT_S16>(column), static_cast<INT_S16>(row), x1, y1, x2, y2);
        return {x1, y1, x2, y2};
    }
    // The redraw pass's part: the layout, then the drawing.
    static void draw(WM_GRID& g)
    {
        g.lay_out();
        g.draw_object();
    }
    // Scrolls to `offset` with the visible rows given.
    static void scroll(WM_GRID& g, long offset, INT_S16 first, INT_S16 last)
    {
        g.scroll_param.set(g.scroll_param.value, g.scroll_param.get_long(g.scroll_param.max) - offset);
        g.first_visible_row = first;
        g.last_visible_row = last;
    }
    void picture(const std::string& name, COLOUR colour)
    {
        imgtest::CANVAS image(8, 8, {colour});
        DATA_FILE* file = folder.open_data_file((name + ".png").c_str(), fm_write, 0, 0);
        ASSERT_TRUE(file && image.save_png(file) && folder.close(file));
    }
    WM_STYLE_SET style, bar_style;
    FOLDER folder;
};

TEST_F(GridTest, ColumnEdgesFollowTheRatios)
{
    const struct
    {
        std::vector<INT_S16> ratios;
        INT_S16 border, cell_gap, x_spacing;
        std::vector<int> x1, x2, x1_sb, x2_sb;
    } cases[] = {
        {{1, 1, 2}, 0, 0, 0, {0, 100, 200}, {99, 199, 399}, {0, 96, 192}, {95, 191, 383}},
        {{-50, 1}, 0, 0, 0, {0, 50}, {49, 399}, {0, 50}, {49, 383}},
        {{1, 1}, 2, 1, 4, {5, 203}, {196, 396}, {5, 195}, {188, 380}},
    };
    for (const auto& c : cases) {
        WM_STYLE_SET s = style;
        s.border_left_gap = s.border_right_gap = c.border;
        s.cell_left_gap = s.cell_right_gap = c.cell_gap;
        s.x_spacing = c.x_spacing;
        WM_GRID_ROW row;
        row.set_layout(400, static_cast<INT_S16>(c.ratios.size()), c.ratios.data(), s);
        EXPECT_EQ(std::vector<int>(row.x1.begin(), row.x1.end()), c.x1);
        EXPECT_EQ(std::vector<int>(row.x2.begin(), row.x2.end()), c.x2);
        EXPECT_EQ(std::vector<int>(row.x1_sb.begin(), row.x1_sb.end()), c.x1_sb);
        EXPECT_EQ(std::vector<int>(row.x2_sb.begin(), row.x2_sb.end()), c.x2_sb);
    }
}

TEST_F(GridTest, RatioTextsParseWholeOrNotAtAll)
{
    std::string many, too_many;
    for (int i = 0; i < 112; ++i) {
        many += i ? ",7" : "7";
    }
    too_many = many + ",7";
    // Fields of 111 and 112 characters.
    const std::string longest = "1," + std::string(110, ' ') + "5", too_long = "1, " + longest.substr(2);
    const struct
    {
        const char* text;
        std::vector<INT_S16> want;
    } cases[] = {
        {"3,-50,1", {3, -50, 1}},
        {" 2,+4", {2, 4}},
        {"1,0,2", {}},
        {"", {}},
        {nullptr, {}},
        {"1,x", {}},
        {"1,", {}},
        {"99999", {}},
        {many.c_str(), std::vector<INT_S16>(112, 7)},
        {too_many.c_str(), {}},
        {longest.c_str(), {1, 5}},
        {too_long.c_str(), {}},
    };
    for (const auto& c : cases) {
        INT_S16* out;
        INT_S16 count;
        WM_GRID::get_ratios_from_csv_string(c.text, out, count);
        EXPECT_EQ(std::vector<INT_S16>(out, out + count), c.want) << (c.text ? c.text : "(null)");
        EXPECT_EQ(out == nullptr, c.want.empty());
    }
}

TEST_F(GridTest, SetupFillsUnsetGapsAndTheSizingHelpers)
{
    const struct
    {
        INT_U32 ssf;
        SCROBJ_SHADING_TYPE shading;
        INT_S16 want;
    } cases[] = {{0, 1, 1}, {1, 1, 3}, {1, 3, 2}};
    for (const auto& c : cases) {
        WM_STYLE_SET s;
        s.ssf = c.ssf;
        s.shading_type = c.shading;
        WM_GRID g(1, nullptr, nullptr, nullptr);
        g.setup(5, 5, 5, 90, 2, nullptr, s, bar_style);
        EXPECT_EQ(g.width, 6);
        EXPECT_EQ(g.height, 6);
        EXPECT_EQ(g.grid_style_set.border_top_gap, c.want);
        EXPECT_EQ(g.calc_y_border_gap_from_style_set(s), 2 * c.want);
    }
    auto g = make(100, 100, 20);
    WM_STYLE_SET s;
    s.cell_top_gap = 2;
    s.cell_bottom_gap = 1;
    s.border_top_gap = 4;
    s.font_y_sz = 12;
    s.y_spacing = 2;
    s.ssf = 0;
    // 4 + the default shading's 2 rings + 12 + 2 + 1 + 2.
    EXPECT_EQ(g->calc_min_row_height(s, nullptr), 23);
    EXPECT_EQ(g->calc_row_height_from_visible_lines(0), 0);
}

TEST_F(GridTest, RowsAreMadeOnDemandAndTheViewStaysPut)
{
    auto g = make(100, 50, 20);
    PROBE* p = put(*g, 0, 5);
    ASSERT_EQ(g->num_rows, 6);
    EXPECT_EQ(g->rows[0]->bottom, 20);
    EXPECT_EQ(g->rows[5]->bottom, 120);
    EXPECT_EQ(g->scroll_param.get_long(g->scroll_param.max), 70);
    EXPECT_EQ(g->get_scroll_offset(), 0);
    EXPECT_EQ(bounds(p), cell(*g, 0, 5));
    scroll(*g, 10, 0, 2);
    put(*g, 0, 7);
    EXPECT_EQ(g->get_scroll_offset(), 10);

    for (int row : {-1, 1024}) {
        PROBE refused(0, 0, 1, 1, COLOUR_GREEN);
        EXPECT_EQ(g->add_object(0, static_cast<INT_S16>(row), &refused), nullptr);
    }
    // A column outside the row: the row is made, the object stays its caller's.
    PROBE outside(0, 0, 1, 1, COLOUR_GREEN);
    EXPECT_EQ(g->add_object(1, 9, &outside), nullptr);
    EXPECT_EQ(g->num_rows, 10);
    g->max_rows = -1;
    put(*g, 0, 1999);
    EXPECT_EQ(g->rows[1999]->bottom, 40000);
    EXPECT_EQ(g->get_content_height(), 40000);
    EXPECT_EQ(cell(*g, 0, 1999)[1], SHRT_MAX);
}

TEST_F(GridTest, CellsAreReplacedRemovedAndDeletedRowsClose)
{
    auto g = make(100, 100, 20, 2);
    put(*g, 0, 0);
    PROBE* a = put(*g, 0, 0);
    EXPECT_EQ(PROBE::live, 1); // the replaced one is gone
    g->remove_object(a, 0, 0);
    EXPECT_EQ(PROBE::live, 1);
    EXPECT_EQ(g->get_object(0, 0), nullptr);
    EXPECT_FALSE(a->visible);
    delete a;

    PROBE* r0 = put(*g, 1, 0);
    put(*g, 0, 1);
    PROBE* r2 = put(*g, 1, 2);
    g->delete_rows(1, 1);
    EXPECT_EQ(g->num_rows, 2);
    EXPECT_EQ(PROBE::live, 2);
    EXPECT_EQ(g->get_object(1, 0), r0);
    EXPECT_EQ(g->get_object(1, 1), r2);
    EXPECT_EQ(bounds(r2), cell(*g, 1, 1));
    for (auto range : {std::pair<int, int>{-1, 0}, {1, 0}, {0, 2}}) {
        g->delete_rows(static_cast<INT_S16>(range.first), static_cast<INT_S16>(range.second));
        EXPECT_EQ(g->num_rows, 2);
    }
    g->clear_rows(0, 5);
    EXPECT_EQ(PROBE::live, 0);
    EXPECT_EQ(g->num_rows, 2);
    g->clear(0);
    EXPECT_EQ(g->num_columns, 0);
    EXPECT_EQ(g->num_rows, 0);
}

TEST_F(GridTest, ObjectsKeptElsewhereAreHiddenNotDeleted)
{
    const std::function<void(std::unique_ptr<WM_GRID>&)> ways[] = {
        [this](std::unique_ptr<WM_GRID>& g) { put(*g, 0, 0); },
        [](std::unique_ptr<WM_GRID>& g) { g->remove_object(g->get_object(0, 0), 1, 0); },
        [](std::unique_ptr<WM_GRID>& g) { g->clear_rows(0, 0); },
        [](std::unique_ptr<WM_GRID>& g) { g->delete_rows(0, 0); },
        [](std::unique_ptr<WM_GRID>& g) { g.reset(); },
    };
    for (const auto& way : ways) {
        auto g = make(100, 100, 20);
        PROBE kept(0, 0, 1, 1, COLOUR_GREEN);
        kept.no_delete = 1;
        g->add_object(0, 0, &kept);
        way(g);
        EXPECT_FALSE(kept.visible);
        EXPECT_TRUE(!g || g->get_object(0, 0) != &kept);
    }
}

TEST_F(GridTest, ReadyMadeCellsSitInsideTheBorderAndMoveWithTheGrid)
{
    style.border_top_gap = style.border_left_gap = 3;
    const INT_S16 ratios[] = {1, 3};
    auto g = make(200, 150, 30, 2, ratios);
    WM_BUTTON* b = g->add_button(1, 0, "OK", COLOUR_WHITE, COLOUR_BLACK, 122, nullptr, nullptr, nullptr, 2);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(bounds(b), cell(*g, 1, 0));
    WM_SCRIPT* s = g->add_script(0, 1, "text", COLOUR_WHITE, BG, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(bounds(s), cell(*g, 0, 1));

    picture("face", COLOUR_GREEN);
    WM_IMAGE* image = g->add_image(0, 3, folder, "face", nullptr, nullptr, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->picture.width, cell(*g, 0, 3)[2] - cell(*g, 0, 3)[0] + 1);
    const CELL before = bounds(b);
    draw(*g);
    EXPECT_EQ(bounds(b), before);
    g->move(GX + 5, GY - 7);
    EXPECT_EQ(bounds(b), (CELL{before[0] + 5, before[1] - 7, before[2] + 5, before[3] - 7}));

    // A refused cell gives null and leaves nothing behind.
    EXPECT_EQ(g->add_button(5, 0, "x", COLOUR_WHITE, COLOUR_BLACK, 0, nullptr, nullptr, nullptr, 2), nullptr);
    EXPECT_EQ(g->add_button(0, -1, "x", style, nullptr, nullptr, nullptr, 2), nullptr);
    EXPECT_EQ(g->add_script(2, 0, "x", style), nullptr);
    EXPECT_EQ(g->add_image(-1, 0, folder, "face", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(GridTest, EmptySlotsShareTheSparePixelsAndOddSlotsAreDarker)
{
    style.ssef = SSEF_GRID_TYPE_LINES | SSEF_GRID_TWO_TONE;
    auto g = make(100, 100, 30);
    PROBE* top = put(*g, 0, 0);
    // 100 pixels: one row and two empty slots of 30, 10 spare spread 4, 3, 3.
    EXPECT_EQ(cell(*g, 0, 1), (CELL{GX, GY + 34, GX + 99, GY + 66}));
    draw(*g);
    EXPECT_EQ(bounds(top), (CELL{GX, GY, GX + 99, GY + 33}));
    imgtest::CANVAS one(1, 1, {BG});
    one.darken_rect(0, 0, 0, 0, 20);
    const INT_U32 dark = imgtest::px(one, 0, 0);
    const struct
    {
        int y;
        INT_U32 want;
    } pixels[] = {{GY, BG},      {GY + 33, BG}, {GY + 34, dark},     {GY + 66, dark},
                  {GY + 67, BG}, {GY + 99, BG}, {GY + 100, SENTINEL}};
    for (const auto& p : pixels) {
        EXPECT_EQ(at(GX + 50, p.y), p.want) << p.y;
    }
    put(*g, 0, 1);
    g->rows[1]->highlighted = 1;
    draw(*g);
    EXPECT_EQ(at(GX + 50, GY + 40), static_cast<INT_U32>(LIT));
}

TEST_F(GridTest, TheBarComesWithRowsThatDoNotFitAndGoesWithThem)
{
    auto g = make(100, 50, 20);
    PROBE* p = put(*g, 0, 0);
    put(*g, 0, 1);
    draw(*g);
    EXPECT_EQ(g->scrollbar, nullptr);
    put(*g, 0, 2);
    draw(*g);
    ASSERT_NE(g->scrollbar, nullptr);
    EXPECT_EQ(bounds(g->scrollbar), (CELL{GX + 84, GY, GX + 99, GY + 49}));
    EXPECT_EQ(bounds(p)[2], GX + 83);
    g->delete_rows(2, 2);
    draw(*g);
    EXPECT_EQ(g->scrollbar, nullptr);
    EXPECT_EQ(bounds(p)[2], GX + 99);

    auto tall = make(100, 50, 80);
    put(*tall, 0, 0);
    draw(*tall);
    EXPECT_EQ(tall->scrollbar, nullptr);

    // A buttoned bar needs 10 + 2 x 15 pixels: on a shorter grid none is
    // made, on a taller one it is.
    bar_style.ssef = 0x400;
    for (int h : {30, 60}) {
        auto b = make(100, h, 20);
        put(*b, 0, 4);
        draw(*b);
        EXPECT_EQ(b->scrollbar != nullptr, h == 60);
    }
}

TEST_F(GridTest, AFixedTopRowStaysAndShortensTheBar)
{
    for (bool dont_shorten : {false, true}) {
        style.ssef = SSEF_GRID_FIX_TOP_ROW | (dont_shorten ? SSEF_GRID_DONT_SHORTEN_SCROLLBAR : 0);
        auto g = make(100, 50, 20);
        PROBE* head = put(*g, 0, 0);
        put(*g, 0, 1);
        PROBE* third = put(*g, 0, 2);
        put(*g, 0, 4);
        scroll(*g, 30, 1, 3);
        draw(*g);
        ASSERT_NE(g->scrollbar, nullptr);
        EXPECT_EQ(g->scrollbar->y, dont_shorten ? GY : GY + 20);
        EXPECT_EQ(bounds(head), (CELL{GX, GY, dont_shorten ? GX + 83 : GX + 99, GY + 19}));
        EXPECT_EQ(third->y, GY + 40 - 30);
    }
}

TEST_F(GridTest, ScrollByLineAndOnlyUsedLines)
{
    for (bool by_line : {false, true}) {
        style.ssef = by_line ? SSEF_GRID_SCROLL_BY_LINE : 0;
        auto g = make(100, 50, 20);
        PROBE* second = put(*g, 0, 1);
        put(*g, 0, 4);
        scroll(*g, 30, 1, 3);
        draw(*g);
        EXPECT_EQ(second->y, by_line ? GY : GY - 10);
    }
    for (bool only_used : {false, true}) {
        style.ssef = SSEF_GRID_TYPE_LINES | (only_used ? SSEF_GRID_ONLY_DRAW_USED_LINES : 0);
        auto g = make(100, 100, 20);
        put(*g, 0, 0);
        PROBE* last = put(*g, 0, 2);
        screen().clear(SENTINEL, 1);
        draw(*g);
        EXPECT_EQ(last->y, only_used ? GY + 20 : GY + 40);
        EXPECT_EQ(at(GX + 50, GY + 90), only_used ? SENTINEL : static_cast<INT_U32>(BG));
    }
}

TEST_F(GridTest, DrawingTypesSkinsAndBorder)
{
    // Plain, lines, cells (the spacing between columns left alone), and
    // plain with a border.
    style.x_spacing = 4;
    const struct
    {
        INT_U32 ssef, ssf;
        INT_U32 gap_pixel;
    } types[] = {{0, 0, BG}, {SSEF_GRID_TYPE_LINES, 0, BG}, {SSEF_GRID_TYPE_CELLS, 0, SENTINEL}, {0, 1, BG}};
    for (const auto& t : types) {
        style.ssef = t.ssef;
        style.ssf = t.ssf;
        auto g = make(100, 40, 20, 2);
        put(*g, 0, 0);
        screen().clear(SENTINEL, 1);
        draw(*g);
        EXPECT_EQ(at(GX + 10, GY + 5), static_cast<INT_U32>(BG));
        EXPECT_EQ(at(GX + 50, GY + 5), t.gap_pixel) << t.ssef;
        EXPECT_EQ(at(GX + 10, GY) != BG, t.ssf != 0);
    }

    picture("row", COLOUR_GREEN);
    picture("row_highlighted", COLOUR_MAGENTA);
    picture("row_alternate", COLOUR_YELLOW);
    ASSERT_TRUE(folder.get(style.image_path, nullptr));
    style.set_image_base_string("row");
    style.ssef = SSEF_GRID_TYPE_LINES;
    style.ssf = 1; // no border over skins
    style.x_spacing = 0;
    auto g = make(100, 60, 20);
    for (int r = 0; r < 3; ++r) {
        put(*g, 0, r);
    }
    g->rows[2]->highlighted = 1;
    draw(*g);
    EXPECT_EQ(at(GX + 50, GY + 10), static_cast<INT_U32>(COLOUR_GREEN));
    EXPECT_EQ(at(GX + 50, GY + 30), static_cast<INT_U32>(COLOUR_YELLOW));
    EXPECT_EQ(at(GX + 50, GY + 50), static_cast<INT_U32>(COLOUR_MAGENTA));
    EXPECT_EQ(at(GX + 50, GY), static_cast<INT_U32>(COLOUR_GREEN));
}

TEST_F(GridTest, TheRedrawPassLaysOutAfterEachChange)
{
    // Rows without objects take no room, so emptying a cell moves the rows below.
    style.ssef = SSEF_GRID_ONLY_DRAW_USED_LINES;
    auto g = make(100, 50, 20);
    for (int r = 0; r < 6; ++r) {
        put(*g, 0, r);
    }
    auto placed = [&g] {
        std::vector<CELL> out;
        for (int r = 0; r < g->num_rows; ++r) {
            WM_SCREEN_OBJECT* o = g->get_object(0, static_cast<INT_S16>(r));
            out.push_back(o ? bounds(o) : CELL{});
        }
        out.push_back(g->scrollbar ? bounds(g->scrollbar) : CELL{});
        return out;
    };
    auto scroll_by = [](WM_GRID& grid, long pixels) {
        grid.scroll_param.set(grid.scroll_param.value, grid.scroll_param.get_long(grid.scroll_param.value) - pixels);
        grid.check_scrolling();
    };
    const std::function<void(WM_GRID&)> changes[] = {
        [](WM_GRID&) {},
        [&](WM_GRID& grid) { scroll_by(grid, 30); },
        [&](WM_GRID& grid) { grid.scroll_param.set(grid.scroll_param.value, 10L); }, // no check_scrolling
        [](WM_GRID& grid) { grid.move(GX + 7, GY + 3); },
        [](WM_GRID& grid) { grid.resize(90, 70, 0); },
        [](WM_GRID& grid) { grid.default_row_height = 15; },
        [](WM_GRID& grid) { grid.remove_object(grid.get_object(0, 3), 1, 0); },
        [](WM_GRID& grid) { put(grid, 0, 8); },
        [](WM_GRID& grid) { grid.delete_rows(0, 4); },
        [](WM_GRID& grid) { grid.clear_rows(0, 0); },
    };
    for (std::size_t i = 0; i < std::size(changes); ++i) {
        changes[i](*g);
        g->mark_redraw_area();
        draw_regions(g.get());
        const std::vector<CELL> after_pass = placed();
        g->lay_out();
        EXPECT_EQ(after_pass, placed()) << "change " << i;
    }
}

TEST_F(GridTest, NoSpacingOrViewMakesTheSlotsDivideByZero)
{
    const struct
    {
        INT_S16 row_h, spacing;
    } cases[] = {{3, 4}, {40, -40}, {0, 0}};
    for (const auto& c : cases) {
        style.y_spacing = c.spacing;
        WM_GRID g(1, nullptr, nullptr, nullptr);
        g.setup(GX, GY, GX, GY, 1, nullptr, style, bar_style); // 6 x 6
        g.default_row_height = c.row_h;
        cell(g, 0, 0);
        draw(g);
        put(g, 0, 1);
        cell(g, 0, 3);
        draw(g);
    }
}

} // namespace
