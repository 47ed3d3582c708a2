// The list box: its three forms, lines in every form, the selection moved
// by data, index, line button and wheel, each change reported once, the
// readout cut to the face, and the grid's ready-made list box.
#include "folder.h"
#include "keyboard.h"
#include "mouse.h"
#include "widget_test.h"
#include "wm_floating_menu.h"
#include "wm_grid.h"
#include "wm_list_box.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
const char* const RACES[] = {"Dwarf", "Elf", "Orc"};

void* word(std::intptr_t v)
{
    return reinterpret_cast<void*>(v);
}

class ListBoxTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        new WM_PAGE_MANAGER(1, -1); // the fixture deletes it
    }
    // 120 x 20 at (100, 100), in area 0.
    WM_LIST_BOX* add(int form, INT_S16 count, const char* const* lines, INT_S16 start)
    {
        WM_STYLE_SET& s = style;
        auto* box = form == 1   ? new WM_LIST_BOX(100, 100, 219, 119, 0, count, lines, start, s, s, s, nullptr, nullptr,
                                                  nullptr, nullptr, changed, this, nullptr, nullptr)
                    : form == 2 ? new WM_LIST_BOX(100, 100, 219, 119, 0, count, lines, start, s, s, s, s, nullptr,
                                                  changed, this, nullptr, nullptr, nullptr)
                                : new WM_LIST_BOX(100, 100, 219, 119, 0, count, lines, start, COLOUR_GREY, COLOUR_BLACK,
                                                  COLOUR_WHITE, 1, changed, this, nullptr, nullptr);
        S::pm->areas[0].add_object(box, 0);
        return box;
    }
    // Records the report's current_data and the mouse-held flag it saw; answers 3.
    static WM_MESG changed(WM_SCREEN_OBJECT* object, void* self, void*)
    {
        const void* data = static_cast<WM_LIST_BOX*>(object)->current_data;
        static_cast<ListBoxTest*>(self)->reports += " " + std::to_string(reinterpret_cast<std::intptr_t>(data));
        static_cast<ListBoxTest*>(self)->held_in_report = static_cast<WM_LIST_BOX*>(object)->last_left;
        return 3;
    }
    // Two frames: what each returned, then the reports, e.g. "3. 2".
    std::string frames()
    {
        std::string out(1, tick(10) ? '3' : '.');
        out += tick(10) ? '3' : '.';
        return out + std::exchange(reports, "");
    }
    WM_STYLE_SET style;
    std::string reports;
    int held_in_report = -1;
};

TEST_F(ListBoxTest, FormsClampCountAndStartAndSelectQuietly)
{
    const struct
    {
        int form;
        INT_S16 count, start, selection;
        const char* readout;
    } cases[] = {{1, 3, 5, 2, "Orc"}, {2, 3, -4, 0, "Dwarf"}, {3, 2, 1, 1, "Elf"}, {1, -3, 1, -1, ""}};
    for (const auto& c : cases) {
        WM_LIST_BOX* box = add(c.form, c.count, RACES, c.start);
        EXPECT_EQ(box->current_selection, c.selection) << c.form;
        EXPECT_STREQ(box->caption, c.readout);
        EXPECT_EQ(frames(), "..");
        S::pm->areas[0].remove_object(box, 1, 0);
    }
}

TEST_F(ListBoxTest, LinesInEveryFormAndRefusedLines)
{
    WM_LIST_BOX* box = add(1, 0, nullptr, 0);
    EXPECT_EQ(box->add_line(nullptr, word(9), 0, 1, 0), nullptr);
    WM_BUTTON* elf = box->add_line("Elf", word(7), 0, 1, 1); // row 1, after a separator
    WM_BUTTON* orc = box->add_line("Orc", word(9), 0, 0, 0); // its index is its data
    WM_BUTTON* more = box->add_line("More", nullptr, 1, 0, 0);
    ASSERT_TRUE(elf && orc && more);
    EXPECT_EQ(box->popup->get_button(1), elf);
    EXPECT_EQ(orc->callback_data2, word(2));
    EXPECT_EQ(box->popup->get_menu(3), more);

    // A full popup: the separator stays, the line is refused and not counted.
    box->popup->grid->max_rows = 5;
    EXPECT_EQ(box->add_line("Troll", nullptr, 0, 0, 1), nullptr);
    EXPECT_EQ(box->add_line("Ogre", nullptr, 0, 0, 0), nullptr);
    EXPECT_EQ(box->line_count, 5);
    auto* grid = new WM_GRID(1, nullptr, nullptr, nullptr);
    grid->setup(10, 200, 209, 299, 1, nullptr, style, style);
    S::pm->areas[0].add_object(grid, 0);
    WM_STYLE_SET& s = style;
    auto in_cell = [&](INT_S16 c) {
        return grid->add_list_box(c, 1, 0, 3, RACES, 1, s, s, s, s, nullptr, nullptr, nullptr, nullptr, nullptr);
    };
    WM_LIST_BOX* placed = in_cell(0);
    EXPECT_EQ(grid->get_object(0, 1), placed);
    EXPECT_STREQ(placed->caption, "Elf");
    EXPECT_EQ(in_cell(3), nullptr); // a column the grid has not: the box is deleted
}

TEST_F(ListBoxTest, PopupWithCellGapsShowsEveryLineThatFits)
{
    // The race drop-down's popup look: a frame, cell gaps and spacing.
    WM_STYLE_SET look;
    look.font_x_sz = look.font_y_sz = 16;
    look.border_left_gap = look.border_right_gap = 8;
    look.border_top_gap = look.border_bottom_gap = 4;
    look.cell_left_gap = look.cell_right_gap = 4;
    look.cell_top_gap = look.cell_bottom_gap = 2;
    look.x_spacing = look.y_spacing = 4;
    look.ssf = 0x1 | 0x10;
    look.shading_type = 1;
    auto* box = new WM_LIST_BOX(100, 100, 219, 119, 0, 3, RACES, 0, style, look, style, nullptr, nullptr, nullptr,
                                nullptr, changed, this, nullptr, nullptr);
    S::pm->areas[0].add_object(box, 0);
    WM_FLOATING_MENU* m = box->popup;
    const int full = m->height;
    // Room for exactly the three lines, then one pixel less.
    for (const auto& [room, bottom] : {std::pair<int, INT_S16>{full, 2}, {full - 1, 1}}) {
        WM_PAGE_MANAGER::popup_y1 = 0;
        WM_PAGE_MANAGER::popup_y2 = static_cast<INT_S16>(room);
        m->calc_new_size();
        EXPECT_EQ(m->top_row, 0) << room;
        EXPECT_EQ(m->bottom_row, bottom) << room;
        EXPECT_EQ(m->hidden_top, nullptr);
        EXPECT_EQ(m->hidden_bottom != nullptr, bottom < 2) << room; // "v" stands in the last row shown
    }
    WM_PAGE_MANAGER::popup_y2 = -1;
    m->calc_new_size();
    EXPECT_EQ(m->height, full);
    for (INT_S16 r = 0; r < 3; ++r) {
        WM_BUTTON* line = m->get_button(r);
        ASSERT_EQ(m->grid->get_object(0, r), line);
        EXPECT_STREQ(line->caption, RACES[r]);
        EXPECT_TRUE(m->grid->is_row_visible(r)) << r;
        EXPECT_GE(line->y, m->grid->y) << r;
        EXPECT_LE(line->y + line->height, m->grid->y + m->grid->height) << r;
    }
}

// Lines measured once, as they come, against popups that measure every
// line at every line added: the same size, place and rows in view, with
// the widest line first, in the middle or last, after separators and as a
// sub-menu row, in a popup area that holds only some of them. A caption
// changed afterwards counts once the box opens.
TEST_F(ListBoxTest, PopupSizesAsWhenEveryLineIsMeasuredAgain)
{
    WM_PAGE_MANAGER::popup_y1 = 0;
    WM_PAGE_MANAGER::popup_y2 = 150;
    const std::string wide = "A line wider than the others by far";
    for (const int at : {0, 7, 19}) {
        WM_LIST_BOX* kept = add(1, 0, nullptr, 0);
        WM_LIST_BOX* whole = add(1, 0, nullptr, 0);
        auto shape = [](WM_FLOATING_MENU* m) {
            return std::vector<int>{m->width, m->height, m->x, m->y, m->top_row, m->bottom_row};
        };
        for (int i = 0; i < 20; ++i) {
            const std::string text = i == at ? wide : "Line " + std::string(static_cast<size_t>(i % 5), 'W');
            for (WM_LIST_BOX* box : {kept, whole}) {
                if (box == whole) {
                    box->popup->reset(); // every line measured again below
                }
                box->add_line(text.c_str(), word(i), i == 12 ? 1 : 0, 1, i % 6 == 5 ? 1 : 0);
            }
            ASSERT_EQ(shape(kept->popup), shape(whole->popup)) << "widest at " << at << ", line " << i;
        }
        const WM_STYLE_SET& o = kept->popup->object_style_set;
        const int before = kept->popup->width;
        EXPECT_GT(before, screen().get_string_width(o.font_id, o.font_x_sz, o.font_y_sz, wide.c_str(), -1, 0)) << at;
        WM_BUTTON* line = kept->popup->get_button(3);
        ASSERT_NE(line, nullptr);
        line->set_string((wide + wide).c_str(), 0);
        WM_MENU::menu_callback(kept, kept, nullptr);
        EXPECT_GT(kept->popup->width, before) << at;
        S::pm->areas[0].remove_object(kept, 1, 0);
        S::pm->areas[0].remove_object(whole, 1, 0);
    }
}

// Lines added to a box whose popup cannot lie below it: the popup is
// sized and placed once per line, inside the area, and carries every row
// with it, as when it is placed again on opening.
TEST_F(ListBoxTest, PopupAndItsRowsStayTogetherInsideTheAreaAsLinesAreAdded)
{
    WM_PAGE_MANAGER::popup_x1 = 0;
    WM_PAGE_MANAGER::popup_y1 = 20;
    WM_PAGE_MANAGER::popup_y2 = 160;
    WM_LIST_BOX* box = add(1, 0, nullptr, 0);
    auto rows_follow = [&](const char* when, int line) {
        WM_FLOATING_MENU* p = box->popup;
        ASSERT_GE(p->y, WM_PAGE_MANAGER::popup_y1) << when << line;
        ASSERT_LE(p->y + p->height - 1, WM_PAGE_MANAGER::popup_y2) << when << line;
        WM_BUTTON* first = p->get_button(0);
        ASSERT_NE(first, nullptr);
        for (INT_S16 i = 1; i < box->line_count; ++i) {
            WM_BUTTON* row = p->get_button(i);
            WM_BUTTON* above = p->get_button(static_cast<INT_S16>(i - 1));
            ASSERT_NE(row, nullptr);
            ASSERT_EQ(row->x - p->x, first->x - p->x) << when << line << ", row " << i;
            ASSERT_EQ(row->y - above->y, p->get_button(1)->y - first->y) << when << line << ", row " << i;
        }
        WM_BUTTON* top = p->get_button(p->top_row);
        ASSERT_NE(top, nullptr);
        ASSERT_GE(top->y, p->y) << when << line;
        ASSERT_LT(top->y, p->y + p->height) << when << line;
    };
    for (int i = 0; i < 40; ++i) {
        box->add_line(("Line " + std::to_string(i)).c_str(), word(i), 0, 1, 0);
        rows_follow("after line ", i);
    }
    const INT_S16 px = box->popup->x, py = box->popup->y;
    WM_MENU::menu_callback(box, box, nullptr);
    rows_follow("opened after line ", 39);
    EXPECT_EQ(box->popup->x, px);
    EXPECT_EQ(box->popup->y, py);
}

TEST_F(ListBoxTest, EachChangeIsReportedOnceAtTheNextMonitor)
{
    WM_LIST_BOX* box = add(1, 0, nullptr, 0);
    for (std::intptr_t race = 0; race < 3; ++race) {
        box->add_line(RACES[race], word(race), 0, 1, 0);
    }
    WM_BUTTON* orc = box->popup->get_button(2);
    const struct
    {
        std::function<void()> change;
        INT_S16 selection;
        const char* frames;
    } steps[] = {
        {[&] { box->set_selection_from_data(word(1), 0); }, 1, "3. 1"}, // the saved race
        {[&] { box->set_current_selection(10, 0); }, 2, "3. 2"},
        {[&] { box->set_current_selection(-5, 1); }, 0, ".."},
        {[&] { box->set_selection_from_data(word(8), 0); }, 0, ".."},
        {[&] { box->set_current_selection(1, 1), orc->callback(orc, orc->callback_data1, nullptr); }, 2, "3. 2"},
        {[&] { orc->callback(orc, orc->callback_data1, nullptr); }, 2, ".."},
    };
    for (const auto& s : steps) {
        s.change();
        EXPECT_EQ(frames(), s.frames) << s.selection;
        EXPECT_EQ(box->current_selection, s.selection);
        EXPECT_EQ(box->current_data, word(s.selection));
        EXPECT_STREQ(box->caption, RACES[s.selection]);
    }
}

TEST_F(ListBoxTest, TheReportSeesTheMouseHeldOnlyWhileItRuns)
{
    WM_LIST_BOX* box = add(1, 0, nullptr, 0);
    for (std::intptr_t race = 0; race < 3; ++race) {
        box->add_line(RACES[race], word(race), 0, 1, 0);
    }
    box->set_current_selection(2, 0);
    EXPECT_EQ(tick(10), 3);
    EXPECT_EQ(reports, " 2");
    EXPECT_EQ(held_in_report, 1);
    EXPECT_EQ(box->last_left, 0);
}

TEST_F(ListBoxTest, WheelOverTheClosedBoxStepsAndClamps)
{
    add(1, 3, RACES, 1);
    point(10, 10);
    MOUSE::wheel_pos = 2; // turned before the pointer came
    EXPECT_EQ(frames(), "..");
    point(150, 110);
    EXPECT_EQ(frames(), "..");
    for (const auto& [wheel, after] : {std::pair<int, const char*>{-1, "3. 2"}, {5, "3. 0"}}) {
        MOUSE::wheel_pos = wheel;
        EXPECT_EQ(frames(), after); // the data of the line stepped to
    }
}

TEST_F(ListBoxTest, ReadoutIsCutToTheFaceAndCopiesTheLineImage)
{
    WM_LIST_BOX* box = add(1, 3, RACES, 0);
    box->font_id = 60; // nothing loaded there: a text is as wide as its bytes
    box->border_left_gap = box->border_right_gap = 1;
    EXPECT_EQ(frames(), ".."); // the start line seen: nothing left to refresh
    for (const auto& [w, cut] : {std::pair<int, const char*>{10, "Dwarfish"}, {7, "Dwarf"}, {2, ""}}) {
        box->width = static_cast<INT_S16>(w);
        box->set_readout_string("Dwarfish");
        EXPECT_STREQ(box->caption, cut) << w;
    }
    box->resize(5, 20, 0); // re-cut by the next monitor, without a report
    EXPECT_EQ(frames(), "..");
    EXPECT_STREQ(box->caption, "Dwa");

    FOLDER fonts; // in a real face, the readout is the longest start that fits
    ASSERT_TRUE(fonts.set_from_path_string(KIVO_TEST_SHARE_DIR "/fonts"));
    const INT_S8 slot = screen().font_slot;
    ASSERT_TRUE(IMAGE::is_font_valid(slot) ||
                IMAGE::load_font(IMAGE::get_font_info_filename(slot), nullptr, slot, &fonts) == slot);
    const std::string text = "Dwarves of the deep halls";
    box->font_id = -1;
    box->resize(100, 20, 0);
    box->set_readout_string(text.c_str());
    const std::string cut = box->caption, more = text.substr(0, cut.size() + 1);
    EXPECT_LE(screen().get_string_width(-1, -1, -1, cut.c_str(), -1, 0), 98);
    EXPECT_GT(screen().get_string_width(-1, -1, -1, more.c_str(), -1, 0), 98);

    WM_BUTTON* elf = box->popup->get_button(1);
    elf->icon.setup(4, 3);
    elf->icon.clear(COLOUR_RED, 1);
    box->set_current_selection(1, 1);
    ASSERT_EQ(box->icon.width, 4);
    EXPECT_EQ(imgtest::px(box->icon, 3, 2).value, COLOUR_RED.value);
}

// Opened with Return, the popup marks the current line in the popup
// style's over colour and Down moves the mark; opened with the pointer it
// marks nothing. Escape hands the focus back to the box, and while the
// list slides away it holds no input: Return then opens it again at once.
TEST_F(ListBoxTest, ReturnOpensWithTheCurrentLineMarkedAndEscapeHandsTheFocusBack)
{
    style.mouse_over_colour = COLOUR_RED;
    WM_LIST_BOX* box = add(1, 3, RACES, 2);
    WM_FLOATING_MENU* popup = box->popup;
    box->can_focus = 1;
    box->take_focus();
    auto key = [this](INT_S32 code) {
        KEYBOARD::process_key_event(static_cast<INT_U32>(code));
        hold_key(static_cast<INT_U32>(code), true);
        tick(10);
        hold_key(static_cast<INT_U32>(code), false);
        tick(10);
    };
    // "x" for each row drawn in the over colour, "f" for the row with the focus.
    auto rows = [&] {
        std::string out;
        for (INT_S16 r = 0; r < popup->row_count; r++) {
            const WM_BUTTON* b = popup->get_button(r);
            out += at(b->x + b->width - 4, b->y + b->height / 2) == COLOUR_RED.value ? 'x' : '-';
            out += S::focal_object == b ? "f " : "  ";
        }
        return out;
    };
    key(KEY_RETURN);
    ASSERT_TRUE(popup->visible);
    EXPECT_EQ(rows(), "-  -  xf ");
    key(KEY_UP);
    EXPECT_EQ(rows(), "-  xf -  ");

    key(KEY_ESCAPE);
    EXPECT_TRUE(popup->visible && popup->closing);
    EXPECT_EQ(S::focal_object, box);
    EXPECT_EQ(S::get_active_modal_object_count(), 0);
    key(KEY_RETURN);
    EXPECT_TRUE(popup->visible && !popup->closing) << "Return while the list leaves does not open it again";
    EXPECT_EQ(rows(), "-  -  xf ");
    key(KEY_ESCAPE);
    for (int i = 0; i < 20; i++) {
        tick(10);
    }
    EXPECT_FALSE(popup->visible);

    point(110, 110);
    press(1, true);
    tick(10);
    press(1, false);
    tick(10);
    ASSERT_TRUE(popup->visible);
    EXPECT_EQ(rows(), "-  -  -  ");
    EXPECT_EQ(S::focal_object, box);
}

} // namespace
