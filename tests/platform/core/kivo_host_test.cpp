#include "kivo_host.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(HostTable, DefaultsLayersAndExitStatus)
{
    char buf[16];
    ASSERT_TRUE(kivo_host()->set_clipboard_text("a longer text than the buffer") && kivo_host()->has_clipboard_text() &&
                kivo_host()->get_clipboard_text(buf, sizeof buf));
    EXPECT_STREQ(buf, "a longer text t");
    EXPECT_EQ(kivo_host()->get_back_buffer(), nullptr);

    static int popups = 0;
    KIVO_HOST_TABLE mine = {};
    mine.display_popup_dialog = [](const char*, const char*) { ++popups; };
    kivo_set_host(&mine);
    display_popup_dialog("t", "x");
    EXPECT_EQ(popups, 1);
    EXPECT_NE(kivo_host()->write_to_console, nullptr); // unset entries keep what was there
    KIVO_HOST_TABLE other = {};
    other.font_system_started = []() -> INT_U8 { return 1; };
    kivo_set_host(&other);
    display_popup_dialog("t", "x");
    EXPECT_EQ(popups, 2); // a second layer's table does not undo the first's
    EXPECT_EQ(kivo_host()->font_system_started(), 1);
    kivo_set_host(nullptr);
    EXPECT_EQ(kivo_host()->display_popup_dialog, kivo_default_host()->display_popup_dialog);
    kivo_host()->set_clipboard_text("");
    EXPECT_EXIT(exit_app("bye", 3), ::testing::ExitedWithCode(3), ""); // the status reaches the shell
}

TEST(Clock, FakeClockWrapsAndSetsTheWallTime)
{
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_ms(0xFFFFFFF0u);
    kivo_fake_clock_advance_ms(0x20);
    EXPECT_EQ(get_ms_count(), 0x10u);
    kivo_fake_clock_set_wall(42);
    EXPECT_EQ(get_wall_seconds(), 42);
    kivo_fake_clock_enable(0);
    EXPECT_GT(get_wall_seconds(), 1600000000);
}
