// The on-screen keyboard, the keyboard dialog's layout and Close, and the
// soft keyboard as a text edit opens and uses it.
#include "keyboard.h"
#include "kivo_host.h"
#include "test_pages.h"
#include "wm_button.h"
#include "wm_keyboard.h"
#include "wm_keyboard_dialog.h"
#include "wm_text_edit.h"

#include <memory>
#include <string>

using namespace kivo_test;

namespace {

using S = WM_SCREEN_OBJECT;
using KeyboardTest = PageTest;

std::unique_ptr<WM_KEYBOARD> make_keyboard()
{
    WM_STYLE_SET keys;
    return std::make_unique<WM_KEYBOARD>(10, 300, 609, 499, keys, &wkbm_english_british_default, 1, 0, 0);
}

// Presses a key the way its button would.
void tap(WM_KEYBOARD& kb, int row, int column)
{
    WM_BUTTON* key = kb.get_key(static_cast<INT_S16>(row), static_cast<INT_S16>(column));
    WM_KEYBOARD::keyboard_callback(key, key->callback_data1, &kb);
}

// The pending code, then every character the keyboard state holds.
std::string posted()
{
    std::string out = std::to_string(KEYBOARD::get_code()) + ":";
    while (INT_U8 c = KEYBOARD::get_char()) {
        out += static_cast<char>(c);
    }
    return out;
}

} // namespace

TEST_F(KeyboardTest, LatchesPickTheKeySetAndGapsStayHidden)
{
    // Presses ('s' Shift, 'c' Caps, 'e' Ext, 'q' the q key), then the set
    // and the q key's caption.
    const struct
    {
        const char* presses;
        int set;
        const char* q;
    } cases[] = {
        {"", 0, "q"},   {"s", 1, "Q"},    {"sq", 0, "q"},    {"c", 1, "Q"},      {"cq", 1, "Q"},
        {"cs", 0, "q"}, {"e", 2, "\xE0"}, {"ec", 3, "\xC0"}, {"ecc", 2, "\xE0"},
    };
    for (const auto& k : cases) {
        auto kb = make_keyboard();
        for (const char* p = k.presses; *p; ++p) {
            *p == 's' ? tap(*kb, 3, 0) : *p == 'c' ? tap(*kb, 2, 0) : *p == 'e' ? tap(*kb, 4, 0) : tap(*kb, 1, 1);
        }
        EXPECT_EQ(kb->get_key_set(), k.set) << k.presses;
        EXPECT_STREQ(kb->get_key(1, 1)->caption, k.q) << k.presses;
        EXPECT_EQ(kb->get_key(1, 14)->visible + kb->get_key(3, 13)->visible + kb->get_key(4, 1)->visible +
                      kb->get_key(4, 3)->visible,
                  0)
            << k.presses;
    }
}

TEST_F(KeyboardTest, KeysPostWhatATextEditActsOn)
{
    // The echo edit reads the keyboard's posts like a real keyboard's:
    // key, then what the edit makes of the code and of the character.
    auto kb = make_keyboard();
    const struct
    {
        int row, column;
        WM_TEXT_EDIT_OPERATION by_code, by_char;
    } keys[] = {
        {0, 13, TEXT_EDIT_NONE, TEXT_EDIT_DELETE_BACK}, {2, 12, TEXT_EDIT_RETURN, TEXT_EDIT_TYPE},
        {4, 4, TEXT_EDIT_LEFT, TEXT_EDIT_NONE},         {4, 6, TEXT_EDIT_RIGHT, TEXT_EDIT_NONE},
        {4, 5, TEXT_EDIT_NONE, TEXT_EDIT_NONE},         {1, 1, TEXT_EDIT_NONE, TEXT_EDIT_TYPE},
    };
    for (const auto& k : keys) {
        tap(*kb, k.row, k.column);
        kb->monitor();
        const INT_S32 code = KEYBOARD::get_code();
        const INT_U8 c = KEYBOARD::get_char();
        EXPECT_EQ(text_edit_operation_for_code(code, false), k.by_code) << k.row << "," << k.column;
        EXPECT_EQ(c ? text_edit_operation_for_char(c, false) : TEXT_EDIT_NONE, k.by_char) << k.row << "," << k.column;
    }
}

TEST_F(KeyboardTest, KeysPostAndArrowsMoveTheHighlight)
{
    auto kb = make_keyboard();
    // Key, caption, then what the next pass posts; a latch pressed twice
    // posts twice.
    const struct
    {
        int row, column;
        const char* caption;
        const char* posts;
    } keys[] = {
        {0, 0, "`", "-1:`"},   {0, 13, "<-", "51:\b"},    {1, 0, "TAB", "48:\t"},  {2, 0, "CAPS", "57:"},
        {2, 0, "CAPS", "57:"}, {2, 12, "Enter", "36:\n"}, {3, 0, "SHIFT", "56:"},  {3, 12, "up", "126:"},
        {4, 0, "Ext", "-1:"},  {4, 0, "Ext", "-1:"},      {4, 2, "Space", "-1: "}, {4, 4, "<-", "123:"},
        {4, 5, "dn", "125:"},  {4, 6, "->", "124:"},
    };
    for (const auto& k : keys) {
        tap(*kb, k.row, k.column);
        EXPECT_EQ(posted(), "-1:");
        kb->monitor();
        EXPECT_EQ(posted(), k.posts) << k.caption;
    }
    // Through the mouse: Enter, highlighted from the start, acts on release.
    WM_BUTTON* enter = kb->get_key(2, 12);
    EXPECT_EQ(enter->selected * 10 + enter->trigger_flags, 12);
    point(enter->x + 2, enter->y + 2);
    for (bool down : {true, false}) {
        press(1, down);
        kb->monitor();
        kb->monitor();
        EXPECT_EQ(posted(), down ? "-1:" : "36:\n");
    }

    // Arrow, then row and column; a gap or a missing key stops the move.
    const int moves[][3] = {{126, 1, 12}, {124, 1, 13}, {124, 1, 13}, {125, 1, 13},
                            {123, 1, 12}, {125, 2, 12}, {123, 2, 11}, {125, 3, 11}};
    for (const auto& m : moves) {
        KEYBOARD::process_key_event(static_cast<INT_U32>(m[0]));
        kb->monitor();
        EXPECT_EQ(KEYBOARD::code, -1);
        EXPECT_EQ(kb->highlighted_row * 100 + kb->highlighted_column, m[1] * 100 + m[2]) << m[0];
    }
    // A new key set highlights Enter again, and only Enter.
    tap(*kb, 3, 0);
    EXPECT_EQ(kb->get_key(3, 11)->selected * 10 + kb->get_key(2, 12)->selected, 1);

    kb->set_enter_enabled(0);
    EXPECT_EQ(kb->get_key(2, 12)->enabled, 0);
}

TEST_F(KeyboardTest, EveryCharacterKeyArrivesInAnEditAsWritten)
{
    auto kb = make_keyboard();
    WM_TEXT_EDIT::use_soft_keyboard = 0;
    WM_STYLE_SET style;
    WM_TEXT_EDIT edit(10, 10, 600, 400, "", style, nullptr, nullptr, nullptr);
    edit.take_focus();
    const WMK_KEY_MAPPING& m = wkbm_english_british_default;
    std::string written;
    for (int set = 0; set < WMK_KEY_SETS; ++set) {
        kb->caps = static_cast<INT_U8>(set & 1);
        kb->ext = static_cast<INT_U8>(set >> 1);
        kb->set_keys();
        for (int r = 0; r < m.row_count; ++r) {
            for (int c = 0; c < m.rows[r].key_count; ++c) {
                if (m.keys[set][r][c] >= 16) { // not a gap or a special key
                    tap(*kb, r, c);
                    kb->monitor();
                    edit.monitor();
                    written += static_cast<char>(m.keys[set][r][c]);
                }
            }
        }
    }
    EXPECT_EQ(std::string(edit.text.buffer), written);
    EXPECT_EQ(written.size(), 4u * 49);
}

TEST_F(KeyboardTest, DialogLayoutAndClose)
{
    new WM_PAGE_MANAGER(1, -1);
    WM_STYLE_SET frame, keys, field;
    frame.border_left_gap = frame.border_right_gap = frame.border_top_gap = frame.border_bottom_gap = 4;
    for (INT_U8 deletes : {1, 0}) {
        auto* d = new WM_KEYBOARD_DIALOG(100, 50, 300, 200, nullptr, "abc", 20, nullptr, nullptr, nullptr, keys, field,
                                         &frame, nullptr, nullptr, &wkbm_english_british_default, 1, deletes, 0, 0);
        const int cx = d->contents->x, cy = d->contents->y, hx = d->get_x() - d->x, hy = d->get_y() - d->y;
        WM_BUTTON* close = d->close_button;
        EXPECT_EQ(d->contents->width * 1000 + d->contents->height, 292 * 1000 + 192);
        EXPECT_EQ((close->x + close->width - 1 - cx) * 1000 + close->y + close->height - 1 - cy, 291190);
        EXPECT_EQ(d->keyboard->y + d->keyboard->height - 1, close->y - 1);
        EXPECT_EQ(d->edit->width, 291);

        S::pm->areas[0].add_modal_object(d, 0);
        // Pressed past the opening slide, where Close then stays.
        for (int k = 0; k < 70; ++k) {
            point(hx + cx + 289, hy + cy + 188);
            press(1, k == 30);
            tick(20);
        }
        EXPECT_EQ(S::modal_screen_objects.count, deletes ? 0 : 1);
        EXPECT_TRUE(deletes || !d->visible); // the kept one goes with the page manager
    }
}

TEST_F(KeyboardTest, SoftKeyboardFromAPressToAPageChange)
{
    WM_TEXT_EDIT::use_soft_keyboard = 1;
    WM_PAGE_MANAGER& m = *new WM_PAGE_MANAGER(1, -1);
    WM_STYLE_SET style;
    WM_TEXT_EDIT* edit = nullptr;
    int changes = 0;
    (new TEST_PAGE(m, 1, 0))->on_create = [&](TEST_PAGE& p) {
        auto count = [](WM_SCREEN_OBJECT*, void* n, void*) { return ++*static_cast<int*>(n) * 0; };
        edit = new WM_TEXT_EDIT(50, 50, 200, 20, "Ann", style, count, &changes, nullptr);
        edit->report_changes = 1;
        p.add_object(edit, 0);
    };
    m.go_to_page(0);
    // The page manager's own pass, whose focus repair moves the focus into the dialog.
    auto frames = [&](int n) {
        while (n--) {
            kivo_fake_clock_advance_ms(20);
            m.monitor(0);
        }
    };
    auto click = [&](WM_SCREEN_OBJECT* o) {
        point(o->x + 3, o->y + 3);
        press(1, true);
        frames(1);
        press(1, false);
        frames(30);
    };
    click(edit);
    WM_KEYBOARD_DIALOG* d = WM_TEXT_EDIT::soft_keyboard;
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->get_title(), "Keyboard");
    EXPECT_EQ(S::get_active_modal_object(WM_TYPE_KEYBOARD_DIALOG), d);
    EXPECT_EQ(d->area, -2);
    EXPECT_EQ(d->get_x() * 1000 + d->get_y(), (SCREEN_W - d->width) / 2 * 1000 + (SCREEN_H - d->height) / 2);
    // The echo took the focus with its text selected: the key replaces it,
    // and the edit hears of it on Return.
    click(d->keyboard->get_key(1, 1));
    EXPECT_EQ(std::string(d->edit->text.buffer) + "|" + edit->text.buffer, "q|Ann");
    click(d->keyboard->get_key(2, 12));
    EXPECT_EQ(edit->text.buffer + std::to_string(changes), "q1");
    EXPECT_EQ(S::modal_screen_objects.count + (WM_TEXT_EDIT::soft_keyboard != nullptr), 0);

    // A page change while it is open: the keyboard fades out on its own and
    // a key pressed meanwhile reaches nobody.
    click(edit);
    d = WM_TEXT_EDIT::soft_keyboard;
    ASSERT_NE(d, nullptr);
    new TEST_PAGE(m, 2, 0);
    m.go_to_page(0);
    EXPECT_EQ(WM_TEXT_EDIT::soft_keyboard, nullptr);
    click(d->keyboard->get_key(1, 1));
    EXPECT_EQ(S::modal_screen_objects.count, 0);
    EXPECT_EQ(changes, 1);
}
