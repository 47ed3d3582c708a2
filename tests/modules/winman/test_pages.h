#ifndef KIVO_TEST_PAGES_H
#define KIVO_TEST_PAGES_H

// Pages built in code for the page tests. A TEST_PAGE queues itself from
// its constructor, builds probe widgets in its area when created, hands
// out scripted results from handle and monitor, and records every create,
// destroy and objects-deleting call in class-wide logs by page id.
#include "widget_test.h"
#include "wm_page_base.h"
#include "wm_page_manager.h"

#include <deque>
#include <functional>
#include <vector>

namespace kivo_test {

class TEST_PAGE : public WM_PAGE_BASE
{
public:
    // Queues the page in area (-1 the current one) with the given id.
    TEST_PAGE(WM_PAGE_MANAGER& manager, INT_U32 id, long area = -1, unsigned char keep_in_history = 1,
              COLOUR colour = COLOUR_RED, unsigned char with_monitor = 1)
        : colour(colour)
    {
        ++live;
        setup(area, manager, keep_in_history, with_monitor, id);
    }
    ~TEST_PAGE() override
    {
        --live;
        destroyed.push_back(page_id);
    }

    // One probe over the whole area in the page's colour (focusable when
    // focusable is set), then on_create.
    void create(WM_PAGE_MANAGER&) override
    {
        created.push_back(page_id);
        auto* probe = new PROBE(0, 0, get_width(), get_height(), colour);
        probe->can_focus = focusable;
        add_object(probe, 1);
        widgets.push_back(probe);
        if (on_create) {
            on_create(*this);
        }
    }
    WM_MESG handle(WM_SCREEN_OBJECT* object, void* data1, void*) override
    {
        handled.push_back({object, data1});
        return next(handle_results);
    }
    WM_MESG monitor() override
    {
        ++monitor_count;
        return next(monitor_results);
    }
    void objects_deleting() override
    {
        deleting.push_back(page_id);
        widgets.clear();
    }

    COLOUR colour;
    unsigned char focusable = 0;
    std::function<void(TEST_PAGE&)> on_create;
    std::vector<PROBE*> widgets;                         // the widgets of the last create, until deleted
    std::deque<WM_MESG> handle_results, monitor_results; // then 0
    struct HANDLED
    {
        WM_SCREEN_OBJECT* object;
        void* data1;
    };
    std::vector<HANDLED> handled;
    int monitor_count = 0;

    // Page ids in call order, across all pages.
    static inline std::vector<INT_U32> created, destroyed, deleting;
    static inline int live = 0;
    static void reset_logs()
    {
        created.clear();
        destroyed.clear();
        deleting.clear();
        live = 0;
    }

private:
    static WM_MESG next(std::deque<WM_MESG>& results)
    {
        if (results.empty()) {
            return 0;
        }
        const WM_MESG r = results.front();
        results.pop_front();
        return r;
    }
};

// The widget fixture with empty page logs; after the manager is gone no
// page may be left.
class PageTest : public WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        TEST_PAGE::reset_logs();
    }
    void TearDown() override
    {
        WidgetTest::TearDown();
        EXPECT_EQ(TEST_PAGE::live, 0) << "pages left behind";
    }
};

} // namespace kivo_test

#endif
