// The typing text: the pace from the first draw, the finish (sound and
// callback once) by time or by a click, and restarts.
#include "kivo_host.h"
#include "widget_test.h"
#include "wm_manager.h"
#include "wm_typing_script.h"

#include <string>

namespace {

class TypingTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        ASSERT_TRUE(load_action_sound());
    }
    void TearDown() override
    {
        root.clear_objects(0, 0, 1);
        WidgetTest::TearDown();
    }
    // On the root at (10, 10)-(409, 49); its callback counts `finished`.
    WM_TYPING_SCRIPT* typing(const char* text)
    {
        auto* b = new WM_TYPING_SCRIPT(10, 10, 409, 49, style, text);
        b->callback = [](WM_SCREEN_OBJECT*, void* count, void*) -> WM_MESG { return ++*static_cast<int*>(count); };
        b->callback_data1 = &finished;
        root.add_object(b, 0);
        return b;
    }
    static std::string shown(WM_TYPING_SCRIPT* b) { return b->text.value.text ? b->text.value.text : "(null)"; }
    static bool playing() { return WM_SCREEN_OBJECT::action_sound.platform_is_playing(); }

    WM_STYLE_SET style;
    WM_MANAGER root;
    int finished = 0;
};

} // namespace

TEST_F(TypingTest, TypesFromTheFirstDrawAndFinishesOnce)
{
    WM_TYPING_SCRIPT* b = typing("Hello");
    tick(500, &root); // drawn at T
    EXPECT_EQ(shown(b), "");
    const struct
    {
        INT_U32 ms;
        const char* text;
        int finished;
    } steps[] = {{1, "H", 0},      {18, "H", 0},    {1, "He", 0},     {60, "Hello", 0},
                 {19, "Hello", 0}, {1, "Hello", 1}, {500, "Hello", 1}};
    for (auto& s : steps) {
        tick(s.ms, &root);
        SCOPED_TRACE(elapsed_ms - 500);
        EXPECT_EQ(shown(b), s.text);
        EXPECT_EQ(finished, s.finished);
        EXPECT_EQ(playing(), s.finished == 1);
    }
    // set_string restarts from nothing; an empty text is finished already.
    b->set_string("Again", 0);
    EXPECT_EQ(shown(b), "");
    tick(0, &root);
    tick(10, &root);
    EXPECT_EQ(shown(b), "A");
    WM_SCREEN_OBJECT::action_sound.platform_stop();
    b->set_string("", 0);
    tick(100, &root);
    tick(100, &root);
    EXPECT_EQ(finished * 10 + playing(), 10);
}

TEST_F(TypingTest, LeftClickInsideFinishesWithoutTakingTheClick)
{
    const char* text = "A longer text to type";
    const struct
    {
        int x, y;
        short button;
        int finished;
    } clicks[] = {{20, 20, 1, 1}, {20, 60, 1, 0}, {20, 20, 2, 0}};
    for (auto& c : clicks) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " button " << c.button);
        WM_TYPING_SCRIPT* b = typing(text);
        auto* behind = new kivo_test::PROBE(0, 0, 500, 100, COLOUR_INVISIBLE);
        root.add_object(behind, 0);
        finished = 0;
        tick(0, &root);
        point(c.x, c.y);
        press(c.button, true);
        EXPECT_EQ(tick(10, &root), 0);
        EXPECT_EQ(behind->monitor_count, 2); // the pass went on past the block
        EXPECT_EQ(finished, c.finished);
        EXPECT_EQ(shown(b) == text, c.finished == 1);
        press(c.button, false);
        tick(10000, &root);
        EXPECT_EQ(finished, 1); // by the click or by time, once
        root.clear_objects(0, 0, 1);
    }
}

TEST_F(TypingTest, ZeroPaceCounterAtZeroAndLongTexts)
{
    WM_TYPING_SCRIPT* zero = typing("Zero");
    zero->ms_per_character = 0; // finishes instead of dividing by it
    tick(0, &root);
    tick(1, &root);
    EXPECT_EQ(shown(zero) + std::to_string(finished), "Zero1");
    root.clear_objects(0, 0, 1);

    kivo_fake_clock_set_ms(0); // a first draw at 0 still starts the typing
    WM_TYPING_SCRIPT* early = typing("Early");
    tick(0, &root);
    tick(0, &root);
    EXPECT_EQ(shown(early), "E");
    tick(21, &root); // counted from 1
    EXPECT_EQ(shown(early), "Ea");
    root.clear_objects(0, 0, 1);

    const std::string big(65536, 'x'); // not an empty text
    WM_TYPING_SCRIPT* longer = typing(big.c_str());
    tick(0, &root);
    tick(1, &root);
    EXPECT_EQ(shown(longer), "x");
    longer->ms_per_character = 1;
    tick(65535, &root);
    EXPECT_EQ(shown(longer).size() * 10 + finished, 655362u);
}
