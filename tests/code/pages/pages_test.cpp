// The name program's pages and start-up, run headless on definitions saved
// and loaded here.
#include "../program_pages.h"
#include "app.h"
#include "database.h"
#include "folder.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_app_settings.h"
#include "kivo_host.h"
#include "pages/result_page.h"
#include "pages/settings_page.h"
#include "wm_button.h"
#include "wm_floating_menu.h"
#include "wm_image.h"
#include "wm_list_box.h"
#include "wm_page_manager.h"
#include "wm_ptm_records.h"
#include "wm_script.h"
#include "wm_text_edit.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

// The program defines these beside its entry point.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};
DATABASE db;
WM_PAGE_TOOL_MANAGER ptm;

namespace {

constexpr INT_U32 LISTBOX = 7, EDITBOX = 9;

// How a definition differs from the program's own.
struct LAYOUT
{
    const char* listbox_constant = "7"; // null: no such constant
    INT_U32 list_type = LISTBOX;
    bool grid_scrollbar = true, result_page = true;
};

class PagesTest : public kivo_test::ProgramPagesTest
{
protected:
    static WM_PTM_OBJECT_INFO& add(WM_PTM_PAGE_INFO& page, WM_OBJECT_TYPE type, INT_U32 aid, INT_U32 cid, int x,
                                   int w = 60)
    {
        EXPECT_TRUE(page.create_new_object(type));
        WM_PTM_OBJECT_INFO& r = page.objects[page.object_count - 1];
        r.aid = aid, r.cid = cid, r.x = static_cast<INT_S16>(x), r.y = static_cast<INT_S16>(10 + cid * 24);
        r.width = static_cast<INT_S16>(w), r.height = 20;
        return r;
    }
    static void picture(const char* name, int w)
    {
        imgtest::CANVAS pic(w, 20, {0xFF808080u});
        FOLDER images("$APPDATA/images", 1);
        DATA_FILE* f = images.open_data_file((std::string(name) + ".png").c_str(), fm_write, 0, 0);
        ASSERT_TRUE(f && pic.save_png(f) && images.close(f));
        ASSERT_TRUE(ptm.create_new_image());
        ptm.images[ptm.image_count - 1]->set_name(name);
        ptm.images[ptm.image_count - 1]->set_filename((std::string(name) + ".png").c_str());
    }
    static void constant(const char* name, const char* text)
    {
        ASSERT_TRUE(ptm.create_new_constant());
        ptm.constants[ptm.constant_count - 1]->set_name(name);
        ptm.constants[ptm.constant_count - 1]->value.set(ptm.constants[ptm.constant_count - 1]->value.value, text);
    }
    // Saves the definition as $APPDATA/pages.bin.
    static void save_definition(const LAYOUT& l, std::initializer_list<const char*> pictures = {"dwarf", "elf", "orc"})
    {
        WM_PAGE_TOOL_MANAGER& d = ptm;
        d.set_name("Tollbeck");
        d.width = kivo_test::SCREEN_W, d.height = kivo_test::SCREEN_H, d.page_effects = 0;
        ASSERT_TRUE(d.create_new_area());
        d.areas[0].width = kivo_test::SCREEN_W, d.areas[0].height = kivo_test::SCREEN_H;
        for (const char* name : {"Plain", "Listbox Popup", "Grid Scrollbar"}) {
            if (l.grid_scrollbar || std::string(name) != "Grid Scrollbar") {
                ASSERT_TRUE(d.create_new_style_set());
                d.style_sets[d.style_set_count - 1]->set_name(name);
            }
        }
        WM_STYLE_SET* plain = d.style_sets[0];
        if (l.listbox_constant) {
            constant("GENERIC_OBJ_LISTBOX", l.listbox_constant);
        }
        constant("GENERIC_OBJ_EDITBOX", "9");
        constant("initial first name", "");
        constant("initial second name", "");
        for (const char* name : pictures) {
            picture(name, name[0] == 'd' ? 30 : name[0] == 'e' ? 40 : 50);
        }
        ASSERT_TRUE(d.areas[0].create_new_page());
        WM_PTM_PAGE_INFO& s = d.areas[0].pages[0];
        s.id = SETTINGS_PAGE_ID;
        add(s, WM_TYPE_BUTTON, 1, 2, 10);
        WM_PTM_OBJECT_INFO& list = add(s, 0, 3, 4, 10, 100);
        list.generic_type = l.list_type, list.style_set = plain;
        for (INT_U32 aid : {5u, 7u}) {
            WM_PTM_OBJECT_INFO& r = add(s, 0, aid, aid + 1, 10, 200);
            r.generic_type = EDITBOX, r.style_set = plain;
        }
        add(s, WM_TYPE_BUTTON, 9, 0, 10, 20);
        add(s, WM_TYPE_BUTTON, 10, 0, 40, 20);
        add(s, WM_TYPE_SCRIPT, 0, 11, 70);
        for (INT_U32 aid : {12u, 14u, 16u}) {
            add(s, WM_TYPE_BUTTON, aid, aid + 1, 10);
        }
        if (l.result_page) {
            ASSERT_TRUE(d.areas[0].create_new_page());
            WM_PTM_PAGE_INFO& r = d.areas[0].pages[1];
            r.id = RESULT_PAGE_ID, r.change_method = 21;
            add(r, WM_TYPE_BUTTON, 1, 0, 10);
            add(r, WM_TYPE_SCRIPT, 0, 2, 10, 300);
            add(r, WM_TYPE_IMAGE, 0, 3, 10, 5);
        }
        FOLDER app("$APPDATA");
        ASSERT_TRUE(d.save(app, "pages.bin", 0));
        release_app_resources();
    }
    // Carries out the page change a message queued.
    void follow()
    {
        ptm.page_manager->go_to_page(0);
        run();
    }
    static WM_MESG send(INT_U32 message, WM_SCREEN_OBJECT* object = nullptr)
    {
        return WM_PAGE_BASE::handle_callback(object, reinterpret_cast<void*>(static_cast<uintptr_t>(message)), nullptr);
    }
    template <typename T> static T* page()
    {
        const WM_AREA& a = *ptm.page_manager->current_area;
        return dynamic_cast<T*>(static_cast<WM_PAGE_BASE*>(a.history[a.history_index].data));
    }
    // The first widget of the shown page carrying the type bits.
    // The n-th widget of the shown page carrying the type bits.
    static WM_SCREEN_OBJECT* widget(WM_OBJECT_TYPE bits, int n = 0)
    {
        for (INT_S16 i = 0; WM_SCREEN_OBJECT* o = ptm.page_manager->current_area->get_screen_object(i); i++) {
            if ((o->type & bits) == bits && n-- == 0) {
                return o;
            }
        }
        return nullptr;
    }
    static bool held(WM_BUTTON* b) { return (b->draw_flags & 0x200) != 0 && (b->shading_flags & 0x8000) != 0; }
    static std::string text_of(WM_SCREEN_OBJECT* o)
    {
        char out[256] = "";
        auto* s = static_cast<WM_SCRIPT*>(o);
        s->text.get_str(s->text.value, out, sizeof out);
        return out;
    }
    static void type(WM_TEXT_EDIT* edit, const char* text)
    {
        edit->set_buffer(text);
        send(edit == page<SETTINGS_PAGE>()->first_name_edit ? 5 : 7, edit);
    }
    // Start-up from the program's own built definition; false (the test
    // skipped) when there is none.
    bool start_built()
    {
        const std::string share = KIVO_TEST_SHARE_DIR;
        if (kivo_test::read_file(share + "/pages.bin").empty()) {
            return false;
        }
        kivo_test::redirect_appdata(share);
        start();
        return page<SETTINGS_PAGE>() != nullptr;
    }
    // A key pressed and released, each seen by a pass of its own.
    static void tap(INT_U32 key)
    {
        hold_key(key, true);
        kivo_fake_clock_advance_ms(50);
        ASSERT_TRUE(app_main());
        hold_key(key, false);
        run();
    }
    static void type_chars(const char* text)
    {
        for (const char* c = text; *c; c++) {
            KEYBOARD::process_char_event(KEYBOARD::unmap_char(static_cast<unsigned char>(*c)));
        }
    }
    // What the focus stands on: the caption of a button, else the kind.
    static std::string focus_name()
    {
        WM_SCREEN_OBJECT* f = WM_SCREEN_OBJECT::focal_object;
        SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
        if (f == nullptr || s == nullptr) {
            return "none";
        }
        if (f == s->first_name_edit || f == s->second_name_edit) {
            return f == s->first_name_edit ? "first name" : "second name";
        }
        if (f == s->race_list) {
            return "race list";
        }
        auto* b = dynamic_cast<WM_BUTTON*>(f);
        return b && b->caption ? b->caption : "other";
    }
};

} // namespace

TEST_F(PagesTest, GenericObjectsFollowTheirConstantsAndStyleSets)
{
    struct CASE
    {
        const char* name;
        LAYOUT layout;
        bool list_built;
    } cases[] = {
        {"plain", {}, true},
        {"65537 narrows to 1", {"65537", 1}, true},
        {"no list-box constant matches no type-0 record", {nullptr, 0}, false},
        {"no Grid Scrollbar", {"7", LISTBOX, false}, false},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        release_app_resources();
        kivo_test::remove_tree(path("appdata"));
        kivo_test::redirect_appdata(path("appdata"));
        save_definition(c.layout);
        start();
        SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(s->race_list != nullptr, c.list_built);
        if (s->race_list) {
            EXPECT_EQ(s->race_list->x * 1000 + s->race_list->x + s->race_list->width - 1, 10 * 1000 + 109);
            EXPECT_EQ(s->race_list->current_data, nullptr); // "Dwarf" after start-up
        } else {
            EXPECT_EQ(widget(WM_TYPE_LIST_BOX), nullptr);
        }
        ASSERT_NE(s->first_name_edit, nullptr);
        ASSERT_NE(s->second_name_edit, nullptr);
        s->first_name_edit->set_buffer(std::string(30, 'a').c_str());
        EXPECT_EQ(std::string(s->first_name_edit->text.buffer), std::string(20, 'a'));
    }
}

TEST_F(PagesTest, ALaterLoadKeepsTheFirstKindsAndStyleSets)
{
    save_definition({});
    start();
    // Loaded again with another list-box constant: the first values hold,
    // and the remembered style sets outlive the records they came from.
    WM_PTM_CONSTANT_INFO* c = ptm.find_constant("GENERIC_OBJ_LISTBOX");
    c->value.set(c->value.value, "3");
    FOLDER app("$APPDATA");
    ASSERT_TRUE(ptm.save(app, "pages.bin", 0));
    ptm.clear();
    ASSERT_TRUE(ptm.load(app, "pages.bin", nullptr));
    WM_PTM_OBJECT_INFO info;
    info.generic_type = LISTBOX, info.style_set = ptm.style_sets[0];
    info.x = 10, info.y = 10, info.width = 100, info.height = 20;
    WM_SCREEN_OBJECT* list = create_generic_objects(info, nullptr, nullptr);
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(list->type & WM_TYPE_LIST_BOX);
    list->monitor();
    delete list;
    info.generic_type = 3;
    EXPECT_EQ(create_generic_objects(info, nullptr, nullptr), nullptr);
}

TEST_F(PagesTest, TheResultButtonNeedsBothNamesAndEveryRaceControlFollowsEveryRaceChange)
{
    save_definition({});
    start();
    SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
    ASSERT_TRUE(s->ok_button && s->race_list && s->race_text && s->dwarf_button && s->orc_button && s->elf_button);
    EXPECT_EQ(s->ok_button->enabled, 0);
    EXPECT_EQ(s->first_name_edit->report_changes, 1);
    type(s->first_name_edit, "Ben");
    EXPECT_EQ(s->ok_button->enabled, 0);
    type(s->second_name_edit, "Ray");
    EXPECT_EQ(s->ok_button->enabled, 1);
    s->ok_button->set_down(1);
    type(s->second_name_edit, "");
    EXPECT_EQ(s->ok_button->enabled, 0);
    EXPECT_EQ(s->ok_button->down, 0);

    // message, starting race, race after, name shown
    struct STEP
    {
        INT_U32 message;
        INT_S16 from, to;
        const char* name;
    } steps[] = {{14, 0, 2, "Orc"},  {10, 2, 0, "Dwarf"}, {9, 0, 2, "Orc"},   {16, 2, 1, "Elf"},
                 {9, 1, 0, "Dwarf"}, {10, 1, 2, "Orc"},   {12, 2, 0, "Dwarf"}};
    for (const STEP& step : steps) {
        SCOPED_TRACE(step.message);
        db.race = step.from;
        send(step.message);
        EXPECT_EQ(db.race, step.to);
        EXPECT_EQ(text_of(s->race_text), step.name);
        EXPECT_EQ(reinterpret_cast<intptr_t>(s->race_list->current_data), step.to);
        EXPECT_EQ(held(s->dwarf_button), step.to == 0);
        EXPECT_EQ(held(s->elf_button), step.to == 1);
        EXPECT_EQ(held(s->orc_button), step.to == 2);
    }
    // A choice in the list moves the other controls, and message 1 takes it.
    s->race_list->set_selection_from_data(reinterpret_cast<void*>(1), 1);
    send(3, s->race_list);
    EXPECT_TRUE(held(s->elf_button));
    EXPECT_EQ(text_of(s->race_text), "Elf");
    send(14);
    type(s->first_name_edit, "Tim");
    type(s->second_name_edit, "Ray");
    EXPECT_EQ(send(1), 21);
    EXPECT_EQ(db.race, 2);
    EXPECT_EQ(std::string(db.first_name.buffer) + db.second_name.buffer, "TimRay");
    // Widgets of the wrong kind are ignored.
    WM_SCREEN_OBJECT* text = s->race_text;
    send(2, text), send(4, text), send(6, text), send(13, text);
    EXPECT_NE(static_cast<void*>(s->ok_button), static_cast<void*>(text));
    EXPECT_NE(static_cast<void*>(s->race_list), static_cast<void*>(text));
    EXPECT_NE(static_cast<void*>(s->first_name_edit), static_cast<void*>(text));
    EXPECT_NE(static_cast<void*>(s->dwarf_button), static_cast<void*>(text));
}

TEST_F(PagesTest, TheResultPageShowsTheNameAndTheRacePicture)
{
    // race, pictures present (dwarf 30, elf 40, orc 50 wide), expected width (the record's 5: unchanged)
    struct CASE
    {
        INT_S16 race;
        std::initializer_list<const char*> pictures;
        int width;
    } cases[] = {{0, {"dwarf", "elf", "orc"}, 30},
                 {1, {"dwarf", "elf", "orc"}, 40},
                 {7, {"dwarf", "elf", "orc"}, 50},
                 {0, {"orc"}, 50},
                 {1, {}, 5}};
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.race);
        release_app_resources();
        kivo_test::remove_tree(path("appdata"));
        kivo_test::redirect_appdata(path("appdata"));
        save_definition({}, c.pictures);
        start();
        SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
        type(s->first_name_edit, "Ben");
        type(s->second_name_edit, "Ray");
        s->race_list = nullptr;
        db.race = c.race;
        send(1);
        follow();
        ASSERT_NE(page<RESULT_PAGE>(), nullptr);
        std::string name = db.generate_name().buffer;
        EXPECT_EQ(text_of(widget(WM_TYPE_SCRIPT)), name);
        auto* image = static_cast<WM_IMAGE*>(widget(WM_TYPE_IMAGE));
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->picture.width * 1000 + image->width, c.width * 1001);
        if (c.race > 2) {
            continue; // no list line shows it: going back selects a listed race
        }
        // Back and forward again: the same name.
        EXPECT_EQ(send(1), SETTINGS_PAGE::get_change_method());
        follow();
        ASSERT_NE(page<SETTINGS_PAGE>(), nullptr);
        send(1);
        follow();
        EXPECT_EQ(text_of(widget(WM_TYPE_SCRIPT)), name);
    }
}

TEST_F(PagesTest, AnUnknownPageShowsTheNotice)
{
    save_definition({"7", LISTBOX, true, false});
    start();
    page<SETTINGS_PAGE>()->handle(nullptr, reinterpret_cast<void*>(1), nullptr);
    follow();
    ASSERT_NE(page<RESULT_PAGE>(), nullptr);
    auto* notice = static_cast<WM_BUTTON*>(widget(WM_TYPE_BUTTON));
    ASSERT_NE(notice, nullptr);
    EXPECT_EQ(notice->x * 1000 + notice->y, 200 * 1000 + 200);
    EXPECT_EQ(notice->background_colour, COLOUR_BLUE);
    EXPECT_EQ(notice->draw_flags, 0u);
}

using StartUpDeathTest = PagesTest;

TEST_F(StartUpDeathTest, AnUnusableDefinitionOrWindowEndsWithItsReason)
{
    ::testing::FLAGS_gtest_death_test_style = "threadsafe";
    save_definition({});
    std::string good = kivo_test::read_file(path("appdata/pages.bin"));
    // The same definition asking for a window of no width.
    FOLDER app("$APPDATA");
    ASSERT_TRUE(ptm.load(app, "pages.bin", nullptr));
    ptm.width = 0;
    ASSERT_TRUE(ptm.save(app, "pages.bin", 0));
    release_app_resources();
    std::string no_width = kivo_test::read_file(path("appdata/pages.bin"));
    // A definition that cannot be used: one line naming the file by its
    // full path (the dying copy of the test has a sandbox of its own) and
    // the reason, nothing else.
    const std::string file = path("appdata/pages.bin");
    const std::string where = "Error: the page definition /[^\n]*/appdata/pages\\.bin ";
    struct CASE
    {
        const char* name;
        std::string bytes; // empty: no file
        ::testing::Matcher<const std::string&> said;
    } cases[] = {
        {"missing", "", ::testing::MatchesRegex(where + "was not found\\.\n")},
        {"truncated", good.substr(0, good.size() / 2),
         ::testing::MatchesRegex(where + "is damaged or cannot be read\\.\n")},
        {"corrupted", std::string(good.size(), '\xff'),
         ::testing::MatchesRegex(where + "is damaged or cannot be read\\.\n")},
        {"no window", no_width, ::testing::ContainsRegex("Unable to open the window")},
    };
    for (const CASE& c : cases) {
        SCOPED_TRACE(c.name);
        std::remove(file.c_str());
        if (!c.bytes.empty()) {
            ASSERT_TRUE(kivo_test::write_file(file, c.bytes));
        }
        EXPECT_EXIT(app_construct(0, nullptr), ::testing::ExitedWithCode(1), c.said);
    }
}

TEST_F(PagesTest, TheBuiltDefinitionRunsBothPages)
{
    std::string share = KIVO_TEST_SHARE_DIR;
    if (kivo_test::read_file(share + "/pages.bin").empty()) {
        GTEST_SKIP() << "no built pages.bin";
    }
    kivo_test::redirect_appdata(share);
    start();
    SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(s->ok_button && s->first_name_edit && s->second_name_edit && s->race_list && s->race_text &&
                s->dwarf_button && s->orc_button && s->elf_button);
    EXPECT_EQ(s->ok_button->enabled, 0);
    EXPECT_EQ(s->race_list->current_data, nullptr);
    EXPECT_EQ(text_of(s->race_text), "Dwarf");
    EXPECT_TRUE(held(s->dwarf_button));
    type(s->first_name_edit, "Tim");
    type(s->second_name_edit, "Ray");
    send(14);
    EXPECT_EQ(send(1), RESULT_PAGE::get_change_method());
    follow();
    ASSERT_NE(page<RESULT_PAGE>(), nullptr);
    bool shown = false; // among the page's labels
    for (int n = 0; WM_SCREEN_OBJECT* text = widget(WM_TYPE_SCRIPT, n); n++) {
        shown = shown || text_of(text) == "Retch Blood";
    }
    EXPECT_TRUE(shown);
    WM_PTM_IMAGE_INFO* orc = ptm.find_image("orc");
    ASSERT_TRUE(orc && orc->image);
    EXPECT_EQ(static_cast<WM_IMAGE*>(widget(WM_TYPE_IMAGE))->width, orc->image->width);
}

TEST_F(PagesTest, TheResultPageAnswersItsKeysAndHandsNoTypingOnToTheNextPage)
{
    if (!start_built()) {
        GTEST_SKIP() << "no built pages.bin";
    }
    // Each way back from the result page, after "hello" was typed there,
    // where nothing takes it: the first name is still the one typed before.
    const struct
    {
        const char* how;
        std::function<void()> leave;
    } ways[] = {
        {"Return", [] { KEYBOARD::process_key_event(36), run(); }},
        {"keypad Enter", [] { KEYBOARD::process_key_event(76), run(); }},
        {"Escape, the Back button's key", [] { tap(53); }},
        {"the Back button", [this] { send(1), follow(); }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
        ASSERT_NE(s, nullptr);
        type(s->first_name_edit, "Mira");
        type(s->second_name_edit, "Stone");
        send(1);
        follow();
        ASSERT_NE(page<RESULT_PAGE>(), nullptr);
        type_chars("hello");
        KEYBOARD::process_key_event(123); // a left arrow nothing took either
        run();
        way.leave();
        s = page<SETTINGS_PAGE>();
        ASSERT_NE(s, nullptr) << "still on the result page";
        run();
        EXPECT_STREQ(s->first_name_edit->text.buffer, "Mira");
        EXPECT_STREQ(s->second_name_edit->text.buffer, "Stone");
        EXPECT_EQ(KEYBOARD::code, -1);
    }
}

TEST_F(PagesTest, TabReachesEveryControlOfTheSettingsPageInReadingOrder)
{
    if (!start_built()) {
        GTEST_SKIP() << "no built pages.bin";
    }
    SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
    const std::vector<std::string> all = {"first name", "second name", "race list", "Dwarf",       "Elf",
                                          "Orc",        "<",           ">",         "Show my name"};
    // The result button takes the focus only while it is enabled.
    for (bool names : {false, true}) {
        SCOPED_TRACE(names ? "both names typed" : "no names");
        type(s->first_name_edit, names ? "Mira" : "");
        type(s->second_name_edit, names ? "Stone" : "");
        s->first_name_edit->take_focus();
        std::vector<std::string> reached;
        for (size_t i = 0; i < all.size(); i++) {
            reached.push_back(focus_name());
            KEYBOARD::process_key_event(48);
            kivo_fake_clock_advance_ms(50);
            ASSERT_TRUE(app_main());
        }
        std::vector<std::string> want(all.begin(), all.end() - 1);
        want.push_back(names ? "Show my name" : "first name");
        EXPECT_EQ(reached, want);
    }
    // Return on a race button with the focus chooses its race.
    while (focus_name() != "Orc") {
        KEYBOARD::process_key_event(48);
        ASSERT_TRUE(app_main());
    }
    tap(36);
    EXPECT_EQ(db.race, 2);
    EXPECT_TRUE(held(s->orc_button));
}

// Return on the race list with the focus opens it, and it stays open once
// that Return is up; Escape closes it, the focus still on the list.
TEST_F(PagesTest, ReturnOnTheRaceListOpensItAndLeavesItOpen)
{
    if (!start_built()) {
        GTEST_SKIP() << "no built pages.bin";
    }
    SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
    s->second_name_edit->take_focus();
    KEYBOARD::process_key_event(48);
    ASSERT_TRUE(app_main());
    ASSERT_EQ(focus_name(), "race list");
    ASSERT_NE(s->race_list->popup, nullptr);
    tap(36);
    EXPECT_TRUE(s->race_list->popup->visible) << "the list does not stay open";
    tap(53);
    EXPECT_FALSE(s->race_list->popup->visible);
    EXPECT_EQ(focus_name(), "race list");
}

TEST_F(PagesTest, AnAccentedCapitalIsDrawnWholeInANameField)
{
    if (!start_built()) {
        GTEST_SKIP() << "no built pages.bin";
    }
    SETTINGS_PAGE* s = page<SETTINGS_PAGE>();
    WM_TEXT_EDIT* edit = s->first_name_edit;
    // The top row of the field where anything but its background shows,
    // with the focus (and the caret) away on the other field.
    auto top_of_ink = [&]() {
        s->second_name_edit->take_focus();
        run();
        for (int y = edit->y; y < edit->y + edit->height; y++) {
            for (int x = edit->x + 1; x < edit->x + edit->width - 1; x++) {
                if (at(x, y) != edit->background_colour.value) {
                    return y;
                }
            }
        }
        return -1;
    };
    const struct
    {
        const char* how;
        std::function<void(unsigned char)> enter;
    } ways[] = {
        {"typed", [](unsigned char c) { type_chars(std::string(1, static_cast<char>(c)).c_str()); }},
        {"pasted",
         [](unsigned char c) {
             KIVO_STRING clip;
             clip = std::string(1, static_cast<char>(c)).c_str();
             clip.copy_into_clipboard();
             hold_key(kivo_test::KEY_CONTROL, true);
             type_chars("v");
             kivo_fake_clock_advance_ms(50);
             ASSERT_TRUE(app_main());
             hold_key(kivo_test::KEY_CONTROL, false);
         }},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        int top[2] = {-1, -1};
        const unsigned char letters[2] = {'A', 0xC4}; // A, and A with diaeresis
        for (int i = 0; i < 2; i++) {
            edit->set_buffer("");
            edit->take_focus();
            run();
            way.enter(letters[i]);
            run();
            ASSERT_EQ(static_cast<unsigned char>(edit->text.buffer[0]), letters[i]);
            top[i] = top_of_ink();
        }
        ASSERT_GE(top[0], edit->y);
        EXPECT_LT(top[1], top[0]) << "the diaeresis is not drawn above the A";
        EXPECT_GT(top[1], edit->y) << "the accent touches the field's edge";
    }
}
