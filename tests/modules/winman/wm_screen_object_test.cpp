#include "widget_test.h"

#include "folder.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "wm_button.h"
#include "wm_dialog.h"
#include "wm_grid.h"
#include "wm_script.h"
#include "wm_scrollbar.h"
#include "wm_text_edit.h"

#include <cstring>
#include <new>
#include <string>

using namespace kivo_test;

namespace {

using ScreenObject = WidgetTest;

// Callbacks append a letter and their first data word to a log.
std::string callback_log;
WM_MESG log_callback(WM_SCREEN_OBJECT*, void* data1, void*)
{
    callback_log += static_cast<const char*>(data1);
    return 7;
}
void log_focus(WM_SCREEN_OBJECT* object, void* data)
{
    callback_log += static_cast<const char*>(data);
    callback_log += WM_SCREEN_OBJECT::focal_object == object ? "+" : "-";
}

} // namespace

TEST_F(ScreenObject, TreeMovesRelativeAndMapsAreasBack)
{
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    root.set_area(1);
    auto* parent = new PROBE(100, 50, 200, 100, COLOUR_RED);
    root.add_object(parent, 0);
    auto* child = new PROBE(10, 10, 20, 20, COLOUR_BLUE);
    auto* grandchild = new PROBE(12, 12, 4, 4, COLOUR_GREEN);
    child->add_object(grandchild, 0);
    parent->add_object(child, 1);
    EXPECT_EQ(child->x, 110);
    EXPECT_EQ(grandchild->x, 112);
    EXPECT_EQ(grandchild->area, 1); // the whole subtree takes the area

    parent->move(0, 0);
    EXPECT_EQ(child->x, 10);
    EXPECT_EQ(grandchild->y, 12);
    parent->resize(100, 90, 1);
    EXPECT_EQ(child->width, -80);
    EXPECT_EQ(child->height, 10);
    EXPECT_EQ(grandchild->width, -96);
    child->resize(20, 20, 0);

    EXPECT_EQ(parent->get_screen_object(-1), nullptr);
    EXPECT_EQ(parent->get_screen_object(1), nullptr);

    // Removal relative to the parent, into a modal area: area -3 maps back to 1.
    parent->area = -3;
    parent->move(100, 50);
    parent->remove_object(child, 0, 1);
    EXPECT_EQ(child->x, 10);
    EXPECT_EQ(child->area, 1);
    EXPECT_FALSE(child->visible);

    // Destroy on a no-delete child only hides and detaches it.
    parent->area = 0;
    parent->add_object(child, 0);
    child->no_delete = 1;
    child->request_draw();
    parent->remove_object(child, 1, 0);
    EXPECT_EQ(PROBE::live, 3);
    EXPECT_EQ(parent->get_screen_object(0), nullptr); // its only child
    EXPECT_EQ(child->area, 0);
    EXPECT_FALSE(child->visible);
    child->no_delete = 0;
    parent->add_object(child, 0);
    parent->remove_object(child, 1, 0);
    EXPECT_EQ(PROBE::live, 1);
    parent->remove_object(nullptr, 1, 0);
    parent->remove_object(&root, 1, 0); // not a child: nothing
}

TEST_F(ScreenObject, HitTestingTakesTheLastAnswerAndOutlyingChildren)
{
    PROBE root(0, 0, 100, 100, COLOUR_INVISIBLE);
    auto* low = new PROBE(10, 10, 50, 50, COLOUR_RED);
    auto* inner = new PROBE(20, 20, 10, 10, COLOUR_RED);
    low->add_object(inner, 0);
    auto* high = new PROBE(40, 40, 50, 50, COLOUR_RED);
    auto* outlying = new PROBE(300, 300, 10, 10, COLOUR_RED);
    root.add_object(low, 0);
    root.add_object(high, 0);
    root.add_object(outlying, 0);

    const struct
    {
        int x, y;
        WM_SCREEN_OBJECT* want;
    } cases[] = {
        {45, 45, high},       // overlap: the child added later
        {25, 25, inner},      // the later sibling has no answer: the earlier deep one stands
        {5, 5, &root},        // only the object itself
        {305, 305, outlying}, // outside the parent, still part of it
        {200, 200, nullptr},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(root.find_object_at_pos(static_cast<INT_S16>(c.x), static_cast<INT_S16>(c.y)), c.want)
            << c.x << "," << c.y;
    }
    EXPECT_TRUE(root.is_in_it(305, 305));
    EXPECT_FALSE(root.is_in_me(305, 305));
    high->hide(0, 0);
    EXPECT_EQ(root.find_object_at_pos(45, 45), low);
    root.hide(0, 0);
    EXPECT_EQ(root.find_object_at_pos(45, 45), nullptr);
}

TEST_F(ScreenObject, FocusMovesWithCallbacksAndIgnoresRefusals)
{
    PROBE a(0, 0, 10, 10, COLOUR_RED), b(200, 0, 10, 10, COLOUR_RED), hidden(0, 0, 5, 5, COLOUR_RED, 0);
    const char* names[] = {"a", "b", "h"};
    PROBE* probes[] = {&a, &b, &hidden};
    for (int i = 0; i < 3; ++i) {
        probes[i]->can_focus = 1;
        probes[i]->focus_callback = log_focus;
        probes[i]->focus_data = const_cast<char*>(names[i]);
    }
    callback_log.clear();
    a.take_focus();
    a.take_focus(); // the holder: nothing
    hidden.take_focus();
    b.can_focus = 0;
    b.take_focus();
    EXPECT_EQ(callback_log, "a+");
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, &a);

    b.can_focus = 1;
    WM_SCREEN_OBJECT::update_regions_sz = 0;
    WM_SCREEN_OBJECT::focal_object_monitored = 0;
    b.take_focus();
    EXPECT_EQ(callback_log, "a+a-b+");                 // the old holder first, then the new
    EXPECT_EQ(WM_SCREEN_OBJECT::update_regions_sz, 2); // both redrawn
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object_monitored, 1);

    // A destroyed holder gives the focus up and is told.
    {
        PROBE c(0, 50, 5, 5, COLOUR_RED);
        c.can_focus = 1;
        c.focus_callback = log_focus;
        c.focus_data = const_cast<char*>("c");
        c.take_focus();
    }
    EXPECT_EQ(WM_SCREEN_OBJECT::focal_object, nullptr);
    EXPECT_EQ(callback_log, "a+a-b+b-c+c-");
}

TEST_F(ScreenObject, FieldsTheConstructorLeavesStartAtZero)
{
    // Build on memory full of garbage: every field must be set.
    alignas(WM_SCREEN_OBJECT) unsigned char raw[sizeof(WM_SCREEN_OBJECT)];
    std::memset(raw, 0xA5, sizeof raw);
    auto* object = new (raw) WM_SCREEN_OBJECT(1, nullptr, nullptr, nullptr);
    EXPECT_EQ(object->focus_data, nullptr);
    EXPECT_EQ(object->focus_callback, nullptr);
    EXPECT_EQ(object->definition, nullptr);
    EXPECT_EQ(object->shading_type, 1u);
    EXPECT_EQ(object->right_click_mode, 2u);
    object->~WM_SCREEN_OBJECT();
}

TEST_F(ScreenObject, ModalObjectsTakeMappedAreasAndAreServedFirst)
{
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    root.set_area(1);
    auto* child = new PROBE(0, 0, 50, 50, COLOUR_RED);
    root.add_object(child, 0);
    auto* below = new PROBE(0, 0, 10, 10, COLOUR_RED);
    auto* dialog = new PROBE(100, 100, 10, 10, COLOUR_RED);
    dialog->type = WM_TYPE_DIALOG;
    root.add_modal_object(below, 0);
    root.add_modal_object(dialog, 1);
    EXPECT_EQ(dialog->area, -3);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object_count(), 2);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object_area(), -3);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object(WM_TYPE_DIALOG), dialog);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object(WM_TYPE_BUTTON), nullptr);

    // The topmost visible modal object answers alone; 4 closes it.
    dialog->monitor_results = {9, 4};
    EXPECT_EQ(root.monitor(), 9);
    EXPECT_EQ(child->monitor_count, 0);
    EXPECT_EQ(below->monitor_count, 0);
    EXPECT_EQ(root.monitor(), 0);
    EXPECT_EQ(PROBE::live, 2);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object_area(), -3);

    // With every modal object hidden the children are monitored.
    below->hide(0, 0);
    EXPECT_EQ(WM_SCREEN_OBJECT::get_active_modal_object_area(), -1);
    child->monitor_results = {5};
    EXPECT_EQ(root.monitor(), 5);
    EXPECT_EQ(below->monitor_count, 0);

    // Removal without deleting: only an owner in a modal area maps it back.
    below->no_delete = 1;
    root.remove_modal_object(below, 1, 0);
    EXPECT_EQ(below->area, 0);
    EXPECT_EQ(PROBE::live, 2);
    delete below;
}

// A modal object whose modal child goes with it: the walks must not reach
// the freed child through a saved place in the list.
TEST_F(ScreenObject, ModalPassesSurviveRemovalsDuringTheWalk)
{
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    auto* menu = new PROBE(0, 0, 50, 50, COLOUR_RED);
    auto* submenu = new PROBE(10, 10, 10, 10, COLOUR_RED);
    auto* after = new PROBE(60, 0, 10, 10, COLOUR_RED);
    menu->add_object(submenu, 0);
    root.add_modal_object(menu, 0);
    root.add_modal_object(submenu, 0);
    root.add_modal_object(after, 0);
    // 4 removes the object and the pass goes on to the next one's result.
    menu->update_results = {4};
    after->update_results = {6};
    EXPECT_EQ(root.update(1), 6);
    EXPECT_EQ(PROBE::live, 1);
    EXPECT_EQ(after->update_count, 1);
    EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.count, 1);

    // The same when one modal object's update deletes the next one.
    auto* doomed = new PROBE(0, 0, 10, 10, COLOUR_RED);
    root.add_modal_object(doomed, 0);
    WM_SCREEN_OBJECT::modal_screen_objects.iterator = nullptr;
    after->on_update = [&](PROBE&) { root.remove_modal_object(doomed, 1, 0); };
    root.update(1);
    EXPECT_EQ(PROBE::live, 1);
    root.clear_objects(1, 0, 0);
}

TEST_F(ScreenObject, ClearingAndDeletingLeaveNoPointerBehind)
{
    // A modal child deleted directly leaves its parent's list and the modal
    // list. (Clearing such a child, as a dragged button is, is checked by
    // the button tests.)
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    auto* child = new PROBE(0, 0, 5, 5, COLOUR_RED);
    root.add_object(child, 0);
    root.add_modal_object(child, 0);
    delete child;
    EXPECT_EQ(root.objects.count, 0);
    EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.count, 0);

    // clear_objects ignores its middle flag.
    child = new PROBE(0, 0, 5, 5, COLOUR_RED);
    auto* modal = new PROBE(0, 0, 5, 5, COLOUR_RED);
    root.add_object(child, 0);
    root.add_modal_object(modal, 0);
    root.clear_objects(0, 1, 0);
    EXPECT_EQ(PROBE::live, 2);
    EXPECT_EQ(root.objects.count, 1);
    EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.count, 1);
    // Children only: a child that is modal leaves the modal list too; a
    // no-delete modal object is hidden, not deleted.
    root.add_modal_object(child, 0);
    modal->no_delete = 1;
    root.clear_objects(0, 0, 1);
    EXPECT_EQ(PROBE::live, 1);
    root.clear_objects(1, 0, 0);
    EXPECT_FALSE(modal->visible);
    EXPECT_EQ(WM_SCREEN_OBJECT::modal_screen_objects.count, 0);
    delete modal;
}

TEST_F(ScreenObject, RightClickModesAndTheKeyboardRightClick)
{
    // Mode: which of press and release call the callback.
    const struct
    {
        INT_U32 mode;
        const char* press_release;
    } modes[] = {{0, "r"}, {1, "R"}, {2, "rR"}};
    for (const auto& m : modes) {
        PROBE object(100, 100, 20, 20, COLOUR_RED);
        object.right_click_callback = log_callback;
        object.right_click_mode = m.mode;
        callback_log.clear();
        point(105, 105);
        press(2, true);
        object.right_click_data1 = const_cast<char*>("r");
        object.monitor();
        object.monitor(); // held: no second press
        press(2, false);
        object.right_click_data1 = const_cast<char*>("R");
        object.monitor();
        EXPECT_EQ(callback_log, m.press_release) << "mode " << m.mode;
        EXPECT_EQ(WM_SCREEN_OBJECT::right_mouse_object, nullptr);
    }

    // Command+Return on the focal object clicks at its centre, wherever
    // the pointer is; Return alone does nothing.
    PROBE object(100, 100, 20, 20, COLOUR_RED);
    object.can_focus = 1;
    object.right_click_callback = log_callback;
    object.right_click_data1 = const_cast<char*>("k");
    object.take_focus();
    callback_log.clear();
    point(500, 500);
    hold_key(KEY_RETURN, true);
    EXPECT_EQ(object.monitor(), 0);
    hold_key(KEY_RETURN, false);
    object.monitor();
    hold_key(KEY_COMMAND, true);
    hold_key(KEY_RETURN, true);
    EXPECT_EQ(object.monitor(), 7);
    EXPECT_EQ(WM_SCREEN_OBJECT::right_mouse_object, &object);
    hold_key(KEY_RETURN, false);
    EXPECT_EQ(object.monitor(), 7);
    EXPECT_EQ(callback_log, "kk");
}

TEST_F(ScreenObject, BlinkPhasesFollowTheMillisecondCounter)
{
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    const struct
    {
        INT_U32 ms;
        INT_U8 flags;
    } cases[] = {{0, 0x00}, {125, 0x02}, {1000, 0x10}, {2050, 0x21}, {15999, 0xFF}, {16000, 0x00}};
    for (const auto& c : cases) {
        kivo_fake_clock_set_ms(c.ms);
        root.update(0);
        EXPECT_EQ(WM_SCREEN_OBJECT::flashing_flags, c.flags) << c.ms;
        EXPECT_EQ(WM_SCREEN_OBJECT::now_ms, c.ms);
    }
    // Only the outermost call of a pass reads the clock.
    auto* child = new PROBE(0, 0, 5, 5, COLOUR_RED);
    root.add_object(child, 0);
    child->on_update = [](PROBE&) { kivo_fake_clock_set_ms(1000); };
    kivo_fake_clock_set_ms(125);
    root.update(0);
    EXPECT_EQ(WM_SCREEN_OBJECT::now_ms, 125u);
}

TEST_F(ScreenObject, HiddenObjectsStopThePasses)
{
    WM_SCREEN_OBJECT root(1, nullptr, nullptr, nullptr);
    auto* parent = new PROBE(0, 0, 100, 100, COLOUR_RED);
    auto* child = new PROBE(0, 0, 10, 10, COLOUR_RED);
    auto* grandchild = new PROBE(0, 0, 5, 5, COLOUR_RED);
    root.add_object(parent, 0);
    parent->add_object(child, 0);
    child->add_object(grandchild, 0);
    parent->hide(0, 1);
    EXPECT_FALSE(child->visible);
    EXPECT_TRUE(grandchild->visible); // one level only
    root.monitor();
    root.update(0);
    EXPECT_EQ(parent->monitor_count, 1); // asked, and stops at its own hidden state
    EXPECT_EQ(child->monitor_count + child->update_count + grandchild->monitor_count, 0);
}

TEST_F(ScreenObject, EverySkinnedWidgetTakesItsSkinFromAFolder)
{
    // "sk" is each widget's base skin; a plain scroll bar reads three pieces of it.
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    imgtest::CANVAS picture(8, 8, {0xFF2040A0u});
    for (const char* name : {"sk.png", "sk_bar.png", "sk_slider_up.png", "sk_slider_down.png"}) {
        DATA_FILE* file = folder.open_data_file(name, fm_write, 0, 0);
        ASSERT_TRUE(file && picture.save_png(file) && folder.close(file)) << name;
    }
    // What the folder's alias path gives, and that a null name clears.
    auto check = [&folder](auto& widget, const char* kind) {
        EXPECT_EQ(widget.set_images(folder, "sk", nullptr), 1) << kind;
        EXPECT_TRUE(widget.is_graphical()) << kind;
        EXPECT_EQ(widget.set_images(folder, "none", nullptr), 0) << kind;
        EXPECT_EQ(widget.set_images(folder, "sk", nullptr), 1) << kind;
        EXPECT_EQ(widget.set_images(folder, nullptr, nullptr), 0) << kind;
        EXPECT_FALSE(widget.is_graphical()) << kind;
    };
    WM_STYLE_SET style;
    WM_BUTTON button(0, 0, 39, 19, style, "", nullptr, nullptr, nullptr, nullptr, 2);
    check(button, "button");
    WM_SCRIPT script(0, 0, 39, 19, style, "");
    check(script, "text block");
    WM_TEXT_EDIT edit(0, 0, 40, 10, "", style, nullptr, nullptr, nullptr);
    check(edit, "text edit");
    WM_GRID grid(1, nullptr, nullptr, nullptr);
    check(grid, "grid");
    WM_DIALOG dialog(0, 0, 40, 20, nullptr, nullptr, nullptr, nullptr, &blank_effect_info);
    check(dialog, "dialog");
    PARAMETER value;
    value.reset_to_type(4);
    value.set(value.max, 100L), value.set(value.min, 0L), value.set(value.value, 50L);
    WM_SCROLLBAR bar(0, 0, 19, 99, 10, 15, &value, 2, 0, COLOUR_GREY, COLOUR_BLUE, COLOUR_GREY, COLOUR_BLACK, 1,
                     nullptr, nullptr, nullptr);
    check(bar, "scroll bar");
}
