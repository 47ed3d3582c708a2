#include "test_pages.h"

#include <iterator>

using namespace kivo_test;

namespace {

using PageBase = PageTest;

int compare_calls;
INT_U8 counting_compare(void* a, void* b)
{
    ++compare_calls;
    return WM_PAGE_BASE::data_compare_func(a, b);
}
void other_create(WM_PAGE_MANAGER&) {}

} // namespace

TEST_F(PageBase, DescriptorsCompareCallbacksAndIdsBeforeTheirData)
{
    WM_PAGE_MANAGER manager(1, -1);
    // Bound to no area: never queued, so the stack keeps them.
    TEST_PAGE a(manager, 7, 9), same_id(manager, 7, 9), other_id(manager, 8, 9);
    auto* none = static_cast<void*>(nullptr);
    const WM_SCREEN_INFO page{
        WM_PAGE_BASE::create_callback, WM_PAGE_BASE::destroy_callback, nullptr, counting_compare, nullptr, &a, 1, 7};
    auto with = [&](void* data, WM_PAGE_COMPARE compare, INT_U32 id, WM_PAGE_CREATE create) {
        WM_SCREEN_INFO d = page;
        d.data = data;
        d.compare = compare;
        d.unique_id = id;
        d.create = create;
        return d;
    };
    const struct
    {
        WM_SCREEN_INFO left, right;
        int equal, compares;
    } cases[] = {
        {page, with(&same_id, counting_compare, 7, page.create), 1, 1}, // distinct pages, equal page ids
        {page, with(&other_id, counting_compare, 7, page.create), 0, 1},
        {page, with(&same_id, counting_compare, 9, page.create), 0, 0}, // ids differ: data never asked
        {page, with(&same_id, counting_compare, 7, other_create), 0, 0},
        {with(&a, nullptr, 7, page.create), with(&same_id, nullptr, 7, page.create), 0, 0}, // pointers
        {with(&a, nullptr, 7, page.create), with(&a, nullptr, 7, page.create), 1, 0},
        {with(none, counting_compare, 7, page.create), with(none, counting_compare, 7, page.create), 1, 1},
        {with(none, counting_compare, 7, page.create), page, 0, 1},
        {page, with(none, counting_compare, 7, page.create), 0, 1},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        compare_calls = 0;
        EXPECT_EQ(cases[i].left == cases[i].right, cases[i].equal) << i;
        EXPECT_EQ(compare_calls, cases[i].compares) << i;
    }
}

TEST_F(PageBase, AreaHelpersAndTrampolinesReachTheShownPage)
{
    auto* manager = new WM_PAGE_MANAGER(2, -1);
    manager->areas[1].resize(300, 200, 0);
    auto* floating = new TEST_PAGE(*manager, 1, -1); // bound to whichever area is current
    EXPECT_EQ(floating->get_width(), SCREEN_W);
    manager->current = 1;
    manager->current_area = &manager->areas[1];
    EXPECT_EQ(floating->get_width(), 300);
    EXPECT_EQ(floating->get_height(), 200);

    // Nothing shown yet: the trampolines do nothing.
    int marker = 0;
    EXPECT_EQ(WM_PAGE_BASE::handle_callback(nullptr, &marker, nullptr), 0);
    EXPECT_EQ(WM_PAGE_BASE::monitor_callback(), 0);
    WM_PAGE_BASE::objects_deleting_callback();
    EXPECT_TRUE(TEST_PAGE::deleting.empty());

    auto* shown = new TEST_PAGE(*manager, 2, 1);
    manager->change_page(1);
    EXPECT_EQ(TEST_PAGE::destroyed, (std::vector<INT_U32>{})); // area 0's queued page is still queued
    shown->handle_results = {7};
    shown->monitor_results = {-1};
    EXPECT_EQ(WM_PAGE_BASE::handle_callback(shown->widgets[0], &marker, nullptr), 7);
    ASSERT_EQ(shown->handled.size(), 1u);
    EXPECT_EQ(shown->handled[0].data1, &marker);
    EXPECT_EQ(WM_PAGE_BASE::monitor_callback(), -1);
    WM_PAGE_BASE::objects_deleting_callback();
    EXPECT_EQ(TEST_PAGE::deleting, (std::vector<INT_U32>{2}));
    EXPECT_EQ(shown->widgets.size(), 0u);
    EXPECT_EQ(TEST_PAGE::created, (std::vector<INT_U32>{2}));
}

TEST_F(PageBase, SetupIntoNoAreaQueuesNothingAndLeavesOtherQueuesAlone)
{
    WM_PAGE_MANAGER manager(1, -1);
    int not_a_page = 0;
    manager.set_next_page(0, other_create, nullptr, &not_a_page, nullptr, 1, 0, nullptr);
    for (long bad : {1L, 5L, -2L}) {
        TEST_PAGE stray(manager, 3, bad); // never queued: the caller deletes it
        EXPECT_EQ(manager.areas[0].next_page.data, &not_a_page) << bad;
        EXPECT_EQ(manager.areas[0].next_page.compare, nullptr) << bad;
    }
    EXPECT_EQ(TEST_PAGE::destroyed, (std::vector<INT_U32>{3, 3, 3}));
}
