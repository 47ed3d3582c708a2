// What a widget asks of the page manager through the page services, seen
// as the frame driver acts on it.
#include "mouse.h"
#include "widget_test.h"
#include "wm_page_manager.h"
#include "wm_page_services.h"

#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
using PageServices = kivo_test::WidgetTest;

// A click injected in one pass is the pointer of the next one, until it is
// cancelled; a pointer shape shows at the end of the pass that asked, and
// only while the manager sets shapes; the current area is the one whose
// widgets are being monitored.
TEST_F(PageServices, WhatAWidgetAsksReachesTheDriver)
{
    EXPECT_EQ(S::page_services(), nullptr);
    WM_PAGE_MANAGER manager(2, -1);
    ASSERT_EQ(S::page_services(), static_cast<WM_PAGE_SERVICES*>(&manager));
    auto* widget = new kivo_test::PROBE(0, 0, 100, 100, COLOUR_RED);
    manager.areas[1].add_object(widget, 0);
    const struct
    {
        char ask;                   // i inject a press at (50, 60), c inject and cancel it, p ask for shape 3
        INT_U8 shapes;              // WM_PAGE_MANAGER::monitor_mouse_cursor
        INT_S8 request;             // the manager's cursor request at the end of that pass
        INT_S8 cursor;              // MOUSE::current_cursor after it; 1 before it
        std::vector<int> next_pass; // pointer x, y and left button in the next pass
    } rows[] = {
        {'i', 1, 0, 0, {50, 60, 1}},
        {'c', 1, 0, 0, {5, 6, 0}},
        {'p', 1, 3, 3, {5, 6, 0}},
        {'p', 0, -1, 1, {5, 6, 0}},
    };
    for (const auto& row : rows) {
        WM_PAGE_MANAGER::monitor_mouse_cursor = row.shapes;
        MOUSE::current_cursor = 1;
        point(5, 6);
        int passes = 0;
        bool in_own_area = true;
        std::vector<int> seen;
        widget->on_monitor = [&](kivo_test::PROBE&) {
            WM_PAGE_SERVICES* services = S::page_services();
            in_own_area = in_own_area && services->get_current_area() == &manager.areas[1];
            seen = {MOUSE::x, MOUSE::y, static_cast<int>(MOUSE::buttons & 1)};
            if (passes++ > 0) {
                return;
            }
            if (row.ask == 'p') {
                services->request_pointer(3);
            } else {
                services->inject_click(50, 60, 1);
            }
            if (row.ask == 'c') {
                services->cancel_injected_click();
            }
        };
        manager.monitor(1);
        EXPECT_EQ(manager.cursor_request, row.request) << row.ask << int{row.shapes};
        EXPECT_EQ(MOUSE::current_cursor, row.cursor) << row.ask << int{row.shapes};
        EXPECT_EQ(manager.is_click_injected(), row.ask == 'i') << row.ask;
        manager.monitor(1);
        EXPECT_EQ(seen, row.next_pass) << row.ask;
        EXPECT_TRUE(in_own_area) << row.ask;
        manager.cancel_injected_click();
    }
    widget->on_monitor = nullptr;
}

} // namespace
