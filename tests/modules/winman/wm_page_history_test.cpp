#include "test_pages.h"

#include "keyboard.h"

#include <string>

using namespace kivo_test;

namespace {

using History = PageTest;
using Ids = std::vector<INT_U32>;

TEST_PAGE* show(WM_PAGE_MANAGER& m, INT_U32 id, unsigned char keep = 1, unsigned char with_monitor = 1)
{
    auto* page = new TEST_PAGE(m, id, 0, keep, COLOUR_RED, with_monitor);
    m.go_to_page(0);
    return page;
}

// Page ids of area 0's entries in use, 0 for an empty one.
Ids entries(WM_PAGE_MANAGER& m)
{
    Ids ids;
    for (int i = 0; i < m.areas[0].history_count; ++i) {
        auto* page = static_cast<TEST_PAGE*>(m.areas[0].history[i].data);
        ids.push_back(page ? page->page_id : 0);
    }
    return ids;
}

void go_back(WM_PAGE_MANAGER& m)
{
    m.set_next_page_back_unique(0);
    m.go_to_page(0);
}

} // namespace

TEST_F(History, KeepsTwentyPagesDroppingTheOldestFirst)
{
    WM_PAGE_MANAGER m(1, -1);
    for (INT_U32 id = 1; id <= 25; ++id) {
        show(m, id);
    }
    EXPECT_EQ(m.areas[0].history_count, 20);
    EXPECT_EQ(m.areas[0].history_index, 19);
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2, 3, 4, 5}));
    EXPECT_EQ(TEST_PAGE::created.size(), 25u);
    EXPECT_EQ(PROBE::live, 1); // only the shown page's widget
    EXPECT_EQ(m.get_page_data_from_history(0, 0), m.areas[0].history[0].data);
    EXPECT_EQ(static_cast<TEST_PAGE*>(m.get_page_data_from_history(19, 0))->page_id, 25u);
    for (long bad : {-1L, 20L}) {
        EXPECT_EQ(m.get_page_data_from_history(bad, 0), nullptr);
        EXPECT_EQ(m.get_page_data_from_history(0, bad), nullptr);
    }
}

TEST_F(History, ReplacingGoingBackAndForwardFollowTheEntries)
{
    WM_PAGE_MANAGER m(1, -1);
    show(m, 1);
    show(m, 1); // an equal page replaces the shown one
    EXPECT_EQ(entries(m), (Ids{1}));
    show(m, 2, 0);
    show(m, 3); // 2 was not to be kept
    EXPECT_EQ(entries(m), (Ids{1, 3}));
    show(m, 4, 0);
    go_back(m); // leaving a page not kept destroys it
    EXPECT_EQ(entries(m), (Ids{1, 3}));
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2, 4}));
    go_back(m);
    EXPECT_EQ(m.areas[0].history_index, 0);
    EXPECT_TRUE(m.is_next_unique_valid(0));
    EXPECT_FALSE(m.is_back_unique_valid(0));
    show(m, 5); // the forward history is lost
    EXPECT_EQ(entries(m), (Ids{1, 5}));
    EXPECT_EQ(TEST_PAGE::destroyed.back(), 3u);

    // The same id under other callbacks is kept, but back and next skip it.
    show(m, 5, 1, 0);
    EXPECT_EQ(entries(m), (Ids{1, 5, 5}));
    go_back(m);
    EXPECT_EQ(m.areas[0].history_index, 0);
    m.set_next_page_next_unique(0);
    EXPECT_EQ(m.areas[0].pending_index, 1);
    m.clear_history(0);
    EXPECT_EQ(entries(m), (Ids{1}));
    EXPECT_FALSE(m.is_next_unique_valid(0));
    EXPECT_EQ(PROBE::live, 1);
}

TEST_F(History, MovesToTheCurrentEntryRebuildOnlyAVisibleArea)
{
    WM_PAGE_MANAGER m(1, -1);
    TEST_PAGE* page = show(m, 1);
    for (const bool visible : {true, false}) {
        m.areas[0].visible = visible;
        m.set_next_page_to_history(0, 0);
        m.change_page(0);
        EXPECT_EQ(m.areas[0].rebuild_on_change, visible ? 0 : 1);
    }
    EXPECT_EQ(TEST_PAGE::created, (Ids{1, 1}));
    EXPECT_EQ(TEST_PAGE::deleting, (Ids{1}));
    EXPECT_EQ(page->widgets.size(), 1u);
}

TEST_F(History, KeysNothingTookStayWithTheirPage)
{
    WM_PAGE_MANAGER m(1, -1);
    show(m, 1);
    // Typed while page 1 showed, and a pass with nothing queued keeps them.
    auto type = [] {
        for (char c : std::string("hi")) {
            KEYBOARD::process_char_event(KEYBOARD::unmap_char(static_cast<unsigned char>(c)));
        }
        KEYBOARD::process_key_event(KEY_RETURN);
    };
    type();
    m.go_to_page(0);
    EXPECT_EQ(KEYBOARD::code, static_cast<INT_S32>(KEY_RETURN));
    // Page 2, by a new page or by going back, starts with none of them.
    show(m, 2);
    EXPECT_EQ(KEYBOARD::get_char(), 0);
    EXPECT_EQ(KEYBOARD::code, -1);
    type();
    go_back(m);
    EXPECT_EQ(KEYBOARD::get_char(), 0);
    EXPECT_EQ(KEYBOARD::code, -1);
}

TEST_F(History, ClearingAndDeletingEntries)
{
    WM_PAGE_MANAGER m(1, -1);
    for (INT_U32 id = 1; id <= 4; ++id) {
        show(m, id);
    }
    // Indices outside the entries in use, and the current one, change nothing.
    for (long bad : {-1L, 3L, 4L, 19L, 20L, 1000L}) {
        m.delete_page_from_history(bad, 0);
    }
    EXPECT_EQ(entries(m), (Ids{1, 2, 3, 4}));
    m.delete_page_from_history(1, 0);
    EXPECT_EQ(entries(m), (Ids{1, 3, 4}));
    EXPECT_EQ(m.areas[0].history_index, 2);
    go_back(m);
    m.clear_history(0);
    EXPECT_EQ(entries(m), (Ids{3}));
    EXPECT_EQ(m.areas[0].history[0].keep_in_history, 0);
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{2, 1, 4}));
}

TEST_F(History, QueuedPagesAreDestroyedOnceWhateverHappensToThem)
{
    auto* m = new WM_PAGE_MANAGER(2, -1);
    new TEST_PAGE(*m, 1, 0);
    new TEST_PAGE(*m, 2, 0); // replaces 1 in the queue
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1}));
    m->areas[0].clear_on_change = 1;
    m->change_page(0); // the area is emptied, its queued page destroyed
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2}));

    // One object queued twice, and shown again under another id: it lives
    // while any descriptor holds it.
    auto* twice = new TEST_PAGE(*m, 3, 0);
    twice->setup(0, *m, 1, 1, 3);
    m->go_to_page(0);
    twice->setup(0, *m, 1, 1, 3); // equal to the shown entry: replaces it
    m->go_to_page(0);
    EXPECT_EQ(entries(*m), (Ids{3}));
    twice->setup(0, *m, 1, 1, 4);
    m->go_to_page(0);
    EXPECT_EQ(entries(*m), (Ids{4, 4}));
    m->delete_page_from_history(0, 0);
    show(*m, 5, 1);
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2}));
    new TEST_PAGE(*m, 6, 1); // queued, never shown

    m->shutdown(); // the shown pages go; the history waits for the destructor
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2, 5}));
    EXPECT_FALSE(m->areas[0].visible);
    EXPECT_EQ(PROBE::live, 0);
    delete m;
    EXPECT_EQ(TEST_PAGE::destroyed, (Ids{1, 2, 5, 4, 6}));

    // A second manager after the first.
    m = new WM_PAGE_MANAGER(1, -1);
    show(*m, 7);
    EXPECT_EQ(TEST_PAGE::created.back(), 7u);
}

TEST_F(History, PopupAreaDefaultsToTheWindow)
{
    WM_PAGE_MANAGER m(1, -1);
    INT_S16 x1, y1, x2, y2;
    m.get_popup_area(x1, y1, x2, y2);
    EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{0, 0, SCREEN_W - 1, SCREEN_H - 1}));
    WM_PAGE_MANAGER::popup_x1 = 5;
    WM_PAGE_MANAGER::popup_y2 = 50;
    m.get_popup_area(x1, y1, x2, y2);
    EXPECT_EQ((std::vector<int>{x1, y1, x2, y2}), (std::vector<int>{5, 0, SCREEN_W - 1, 50}));
}
