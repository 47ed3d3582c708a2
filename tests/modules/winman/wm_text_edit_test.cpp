// The text edit: key codes and characters with their modifiers, the
// clipboard, Return, the text setters, sideways scrolling, drawing, the
// pointer shape; and the character filters.
#include "folder.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "tcpip_transport.h"
#include "widget_test.h"
#include "wm_text_edit.h"

#include <algorithm>
#include <clocale>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using S = WM_SCREEN_OBJECT;
constexpr COLOUR BG = COLOUR_WHITE, FG = COLOUR_BLACK, SEL = COLOUR_CYAN, CUR = COLOUR_RED;
constexpr int GAP = 4, FONT = 22;

std::vector<int> calls; // return_pressed of each change callback

WM_MESG record(S* object, void*, void*)
{
    calls.push_back(static_cast<WM_TEXT_EDIT*>(object)->return_pressed);
    return 0;
}

std::string str(const KIVO_STRING& s)
{
    return s.buffer ? s.buffer : "";
}
std::vector<int> state(const WM_TEXT_EDIT* e)
{
    return {e->cursor, e->selection.start, e->selection.end};
}

std::string clipboard()
{
    char buf[1024] = {};
    kivo_host()->get_clipboard_text(buf, sizeof buf);
    return buf;
}

class TextEditTest : public kivo_test::WidgetTest
{
protected:
    void SetUp() override
    {
        WidgetTest::SetUp();
        // The first edit asks whether the system has a keyboard, which
        // resolves the host name: the fake network answers.
        real_transport = tcpip_set_transport(&fake);
        const KIVO_HOST_TABLE* d = kivo_default_host(); // the in-memory clipboard
        KIVO_HOST_TABLE t = {};
        t.has_clipboard_text = d->has_clipboard_text;
        t.get_clipboard_text = d->get_clipboard_text;
        t.set_clipboard_text = d->set_clipboard_text;
        kivo_set_host(&t);
        new WM_PAGE_MANAGER(1, -1);
        FOLDER fonts;
        ASSERT_TRUE(fonts.set_from_path_string(KIVO_TEST_SHARE_DIR "/fonts"));
        font = screen().font_slot;
        ASSERT_TRUE(IMAGE::is_font_valid(font) ||
                    IMAGE::load_font(IMAGE::get_font_info_filename(font), nullptr, font, &fonts) == font);
        style.font_id = font;
        style.font_x_sz = style.font_y_sz = FONT;
        style.border_left_gap = style.border_right_gap = style.border_top_gap = style.border_bottom_gap = GAP;
        style.fg_colour = FG;
        style.bg_colour = BG;
        style.highlight_colour = SEL;
        style.active_text_colour = CUR;
        style.ssf = 0;
        calls.clear();
    }
    void TearDown() override { WidgetTest::TearDown(), tcpip_set_transport(real_transport); }

    WM_TEXT_EDIT* make(const char* text, int max_len = 20, int width = 300)
    {
        auto* e = new WM_TEXT_EDIT(10, 10, static_cast<INT_S16>(width), static_cast<INT_S16>(max_len), text, style,
                                   record, nullptr, nullptr);
        S::pm->areas[0].add_object(e, 0);
        return e;
    }
    WM_TEXT_EDIT* focused(const char* text, int cursor, int s0 = -1, int s1 = -1, int max_len = 20)
    {
        WM_TEXT_EDIT* e = make(text, max_len);
        e->take_focus();
        e->cursor = static_cast<INT_S16>(cursor);
        e->selection.start = static_cast<INT_S16>(s0);
        e->selection.end = static_cast<INT_S16>(s1);
        return e;
    }
    void drop(WM_TEXT_EDIT* e) { S::pm->areas[0].remove_object(e, 1, 0); }
    static void type(unsigned c) { KEYBOARD::process_char_event(KEYBOARD::unmap_char(c)); }
    // s Shift, c Command, k Control (anything else holds nothing).
    static void hold(const std::string& keys)
    {
        KEYBOARD::release_all_keys();
        for (char k : keys) {
            hold_key(k == 's'   ? kivo_test::KEY_SHIFT
                     : k == 'c' ? kivo_test::KEY_COMMAND
                                : kivo_test::KEY_CONTROL,
                     k == 's' || k == 'c' || k == 'k');
        }
    }
    void click(int px, int py)
    {
        point(px, py);
        press(1, true);
        pass();
        press(1, false);
        pass();
    }
    WM_MESG pass() { return tick(20); }
    int text_w(const char* t, long n = -1) { return screen().get_string_width(font, FONT, FONT, t, n, 0); }

    TCPIP_FAKE_TRANSPORT fake;
    TCPIP_TRANSPORT* real_transport = nullptr;
    WM_STYLE_SET style;
    INT_S8 font = -1;
};

TEST_F(TextEditTest, KeysAndCharactersOnePerPass)
{
    // keys: s Shift, c Command, k Control, p password mode, f the name
    // filter without space. Each row posts a key code or a character;
    // pending is the code left after the pass (-1: the edit took it).
    struct ROW
    {
        const char* text;
        int start[3], max_len; // cursor, selection start and end
        const char* keys;
        INT_S32 code;
        unsigned c;
        const char* want;
        int end[3];
        INT_S32 pending;
    };
    const ROW rows[] = {
        {"ab cd", {5, -1, -1}, 20, "c", 123, 0, "ab cd", {2, -1, -1}, -1}, // stops on the space
        {"abc", {1, -1, -1}, 20, "k", 123, 0, "abc", {0, -1, -1}, -1},
        {"ab cd", {2, -1, -1}, 20, "sc", 124, 0, "ab cd", {5, 2, 5}, -1},
        {"abc", {3, -1, -1}, 20, "", 124, 0, "abc", {3, -1, -1}, -1},
        {"abc", {2, -1, -1}, 20, "s", 115, 0, "abc", {0, 2, 0}, -1},
        {"abc", {0, 2, 0}, 20, "", 115, 0, "abc", {0, -1, -1}, -1},
        {"abc", {0, -1, -1}, 20, "s", 115, 0, "abc", {0, -1, -1}, -1}, // 0 to 0 is no selection
        {"abc", {1, -1, -1}, 20, "s", 119, 0, "abc", {3, 1, 3}, -1},
        {"abc", {1, -1, -1}, 20, "", 117, 0, "ac", {1, -1, -1}, -1},
        {"abcd", {3, 1, 3}, 20, "", 117, 0, "ad", {1, -1, -1}, -1},
        {"abc", {1, -1, -1}, 20, "sp", 119, 0, "abc", {1, -1, -1}, -1},
        {"abc", {1, -1, -1}, 20, "", 125, 0, "abc", {1, -1, -1}, 125}, // not the edit's
        {"abc", {3, -1, -1}, 20, "", 0, 8, "ab", {2, -1, -1}, -1},
        {"ac", {1, -1, -1}, 20, "", 0, 'b', "abc", {2, -1, -1}, -1},
        {"ac",
         {1, -1, -1},
         20,
         "",
         0,
         0xE9,
         "a\xE9"
         "c",
         {2, -1, -1},
         -1}, // a byte above 127
        {"ac", {1, -1, -1}, 20, "", 0, 127, "ac", {1, -1, -1}, -1},
        {"abcde", {5, -1, -1}, 5, "", 0, 'x', "abcde", {5, -1, -1}, -1},
        {"abcde", {5, 1, 3}, 5, "", 0, 'x', "adex", {4, -1, -1}, -1}, // full: typed over a selection
        {"ab", {2, 0, 2}, 20, "f", 0, ' ', "ab", {2, 0, 2}, -1},
        {"ab", {2, -1, -1}, 20, "c", 0, 'b', "abb", {3, -1, -1}, -1}, // not a command
        {"ab", {2, -1, -1}, 20, "k", 0, 'a', "ab", {2, 0, 2}, -1},
    };
    for (const ROW& r : rows) {
        WM_TEXT_EDIT* e = focused(r.text, r.start[0], r.start[1], r.start[2], r.max_len);
        e->draw_flags = std::string(r.keys).find('p') != std::string::npos ? TEXT_EDIT_PASSWORD : 0;
        e->filter = std::string(r.keys).find('f') != std::string::npos ? text_edit_name_without_space_filter : nullptr;
        e->report_changes = 1;
        hold(r.keys);
        if (r.code) {
            KEYBOARD::process_key_event(static_cast<INT_U32>(r.code));
        } else {
            type(r.c);
        }
        calls.clear();
        pass();
        const std::string where = std::string(r.text) + " " + std::to_string(r.code + r.c) + " " + r.keys;
        EXPECT_EQ(str(e->text), r.want) << where;
        EXPECT_EQ(state(e), std::vector<int>(r.end, r.end + 3)) << where;
        EXPECT_EQ(KEYBOARD::code, r.pending) << where;
        EXPECT_EQ(calls, std::vector<int>(str(e->text) == r.text ? 0 : 1, 0)) << where;
        KEYBOARD::code = -1;
        drop(e);
    }

    // One character per pass; revert restores the text the edit had when
    // it took the focus, selected.
    WM_TEXT_EDIT* e = focused("ab", 2);
    hold("");
    type('x');
    type('y');
    pass();
    EXPECT_EQ(str(e->text), "abx");
    hold("k");
    type('z');
    pass();
    EXPECT_EQ(str(e->text), "abxy");
    pass();
    EXPECT_EQ(str(e->text), "ab");
    EXPECT_EQ(state(e), std::vector<int>({2, 0, 2}));
}

TEST_F(TextEditTest, ClipboardCopyCutPaste)
{
    WM_TEXT_EDIT* e = focused("hello world", 11, 0, 5);
    hold("c");
    type('c');
    pass();
    EXPECT_EQ(clipboard(), "hello");
    e->selection.start = 11;
    type('x');
    pass();
    EXPECT_EQ(clipboard(), " world");
    EXPECT_EQ(str(e->text), "hello");
    drop(e);

    // 15 of 20 held, 10 pasted: the first 5 that the filter accepts.
    // Control characters never get in, filter or not; each character
    // above 0xFF in the clipboard's escape becomes one '?'.
    const char* rows[][3] = {
        {"a1b2c3d4e5", "f", "abcde"},
        {"a1b2c3d4e5", "", "a1b2c"},
        {"x\ty\nz\r\x7Fw", "", "xyzw"},
        {"a\x01,263A,D83D,DE00\x01"
         "b",
         "", "a??b"},
        {"a\x01,26\x01"
         "b",
         "", "a,26b"},
    };
    for (const auto& r : rows) {
        WM_TEXT_EDIT* f = focused("abcdefghijklmno", 15);
        f->filter = *r[1] ? text_edit_name_without_space_filter : nullptr;
        kivo_host()->set_clipboard_text(r[0]);
        type('v');
        pass();
        EXPECT_EQ(str(f->text), std::string("abcdefghijklmno") + r[2]) << r[0];
        drop(f);
    }

    // Password text never reaches the clipboard, even when a drag selects
    // it in the same pass as Command-C or Command-X.
    WM_TEXT_EDIT* p = focused("secret", 6);
    p->draw_flags = TEXT_EDIT_PASSWORD;
    kivo_host()->set_clipboard_text("kept");
    point(p->x + GAP, p->y + 5);
    press(1, true);
    pass();
    for (unsigned c : {'c', 'x'}) {
        point(p->x + GAP + text_w("***") + static_cast<int>(c), p->y + 5);
        type(c);
        pass();
        EXPECT_EQ(clipboard(), "kept");
        EXPECT_EQ(str(p->text), "secret");
    }
}

TEST_F(TextEditTest, ReturnAfterReleaseAndSetupDropsPendingKeys)
{
    WM_TEXT_EDIT* e = focused("name", 4);
    hold_key(kivo_test::KEY_RETURN, true);
    KEYBOARD::process_key_event(36);
    pass();
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(KEYBOARD::code, 36);
    hold_key(kivo_test::KEY_RETURN, false);
    pass();
    EXPECT_EQ(calls, std::vector<int>{1}); // report changes is 0
    EXPECT_EQ(e->return_pressed, 0);

    for (INT_S32 code : {36, 115, 117, 119, 123, 124, 125}) {
        KEYBOARD::code = code;
        WM_TEXT_EDIT fresh(0, 0, 50, 5, "", style, nullptr, nullptr, nullptr);
        EXPECT_EQ(KEYBOARD::code, code == 125 ? 125 : -1) << code;
    }

    e->set_buffer("abcdefghijklmnopqrstuvwxy");
    EXPECT_EQ(str(e->text), "abcdefghijklmnopqrst");
    EXPECT_EQ(e->cursor, 20);
    e->set_buffer(nullptr);
    EXPECT_EQ(str(e->text), "");
    e->set_buffer("abcdef");
    e->set_buffer_len(0);
    e->set_buffer_len(4);
    EXPECT_EQ(str(e->text), "abcd");
    EXPECT_EQ(e->cursor, 4);
}

TEST_F(TextEditTest, ScrollingClicksDragsAndPointerShape)
{
    WM_PAGE_MANAGER::monitor_mouse_cursor = 1;
    WM_TEXT_EDIT* e = make("The quick brown fox jumps over it", 40, 120);
    e->take_focus();
    const int tx = e->x + GAP;
    const int first = e->convert_pos_to_index(static_cast<INT_S16>(tx));
    ASSERT_GT(first, 0);
    EXPECT_EQ(e->convert_pos_to_index(static_cast<INT_S16>(tx - 1)), 0);
    EXPECT_EQ(e->convert_pos_to_index(static_cast<INT_S16>(e->x + e->width - 1)), 33);
    click(tx + text_w(e->text.buffer + first, 3) + 1, e->y + 5); // just right of a boundary
    EXPECT_EQ(e->cursor, first + 3);
    EXPECT_EQ(S::pm->cursor_request, 5); // the I-beam while over the edit
    point(e->x + e->width + 5, e->y + 5);
    pass();
    EXPECT_EQ(S::pm->cursor_request, 0);

    // Borders wider than the field: the scroll never starts past the
    // cursor. The text fills its allocation, so a read past it is caught.
    e->take_focus();
    e->set_buffer_len(80);
    e->set_buffer(std::string(60, 'W').c_str());
    e->width = 3;
    e->border_left_gap = e->border_right_gap = 30;
    e->request_draw();
    pass();
    drop(e);

    WM_TEXT_EDIT* d = make("Orc");
    d->take_focus();
    point(d->x + GAP, d->y + 5);
    press(1, true);
    pass();
    point(d->x + GAP + text_w("Or"), d->y + 5);
    pass();
    press(1, false);
    pass();
    EXPECT_EQ(state(d), std::vector<int>({2, 0, 2}));
}

TEST_F(TextEditTest, DrawingByPixels)
{
    WM_TEXT_EDIT* e = make("");
    const short x2 = static_cast<short>(e->x + e->width - 1), y2 = static_cast<short>(e->y + e->height - 1);
    const short tx = static_cast<short>(e->x + GAP), ty = static_cast<short>(e->y + GAP);
    // The field drawn as it should look into a second image, then compared.
    auto expect_like = [&](const std::function<void(IMAGE&, int, int)>& paint, const char* what) {
        imgtest::CANVAS ref(kivo_test::SCREEN_W, kivo_test::SCREEN_H, {kivo_test::SENTINEL});
        ref.fill_rect(e->x, e->y, x2, y2, BG, 1);
        // Across the text stays inside the side borders; down it may use the whole field.
        ref.set_active_area(tx, e->y, static_cast<short>(x2 - GAP), y2);
        paint(ref, tx, ty);
        e->request_draw();
        pass();
        for (int i = 0; i < e->width * e->height; ++i) {
            const int xx = e->x + i % e->width, yy = e->y + i / e->width;
            ASSERT_EQ(at(xx, yy), imgtest::px(ref, xx, yy)) << what << " " << xx << "," << yy;
        }
    };
    auto text = [&](IMAGE& img, int x, int y, const char* s, short effect, COLOUR colour = FG) {
        img.process_and_render_string(static_cast<short>(x), static_cast<short>(y), colour, COLOUR_INVISIBLE,
                                      COLOUR_INVISIBLE, font, FONT, FONT, s, effect, -1, 0);
    };
    auto cursor = [&](IMAGE& img, int x, int y) {
        img.draw_line(static_cast<short>(x), static_cast<short>(y), static_cast<short>(x),
                      static_cast<short>(y + FONT - 1), CUR, 1, 1);
    };

    e->prompt_text = "Your name";
    e->take_focus();
    expect_like([&](IMAGE& img, int tx, int ty) { text(img, tx, ty, "Your name", 0), cursor(img, tx, ty); },
                "prompt, cursor at the left border");
    // A style's disabled-text colour, when it shows, is the prompt's.
    style.disabled_text_colour = COLOUR_BLUE;
    WM_TEXT_EDIT* greyed = make("");
    greyed->prompt_text = "Your name";
    drop(e);
    e = greyed;
    // The focus left with the dropped field: the frame's focus repair hands
    // it to this one, as in the program, so its caret shows too.
    expect_like(
        [&](IMAGE& img, int tx, int ty) { text(img, tx, ty, "Your name", 0, COLOUR_BLUE), cursor(img, tx, ty); },
        "prompt in the style's greyed colour");
    e->take_focus();

    e->set_buffer("Orc");
    e->selection.start = 1;
    e->selection.end = 3;
    expect_like(
        [&](IMAGE& img, int tx, int ty) { // boundary k: whole width less the width from k
            img.fill_rect(static_cast<short>(tx + text_w("Orc") - text_w("rc") - 1), static_cast<short>(ty),
                          static_cast<short>(tx + text_w("Orc") - 1), static_cast<short>(ty + FONT - 1), SEL, 1);
            text(img, tx, ty, "Orc", 0);
            cursor(img, tx + text_w("Orc"), ty);
        },
        "selection");

    e->draw_flags = TEXT_EDIT_PASSWORD;
    e->cursor = 1; // the stars after the cursor stand on the last advancing one
    const int star = text_w("*");
    expect_like(
        [&](IMAGE& img, int tx, int ty) {
            for (int at_x : {0, star, star}) {
                text(img, tx + at_x, ty, "*", 0);
            }
            cursor(img, tx + star + 1, ty);
        },
        "stars");

    std::vector<INT_U32> top_edge; // light and dark swap between the two borders
    for (INT_U16 border : {TEXT_EDIT_INDENTED_BORDER, TEXT_EDIT_OUTSTANDING_BORDER}) {
        e->draw_flags = border;
        e->request_draw();
        pass();
        top_edge.push_back(at(e->x + 50, e->y));
    }
    EXPECT_NE(top_edge[0], top_edge[1]);

    e->icon.setup(2, 2);
    e->icon.clear(COLOUR_GREEN, 1);
    const int cy = e->y + (e->height - 2) / 2;
    for (const auto& [strip, cx] :
         {std::pair<INT_U16, int>{TEXT_EDIT_ICON_LEFT, e->x + 1}, {TEXT_EDIT_ICON_RIGHT, e->x + e->width - 3}}) {
        e->draw_flags = strip;
        e->request_draw();
        pass();
        EXPECT_EQ(at(cx + 1, cy + 1), COLOUR_GREEN.value) << strip;
    }
}

// The scroll kept from edit to edit against the whole measure of the rule:
// after every one of a seeded run of edits, cursor moves, selections,
// pastes, new texts (one with an escape run), resizes and border changes,
// the field shows what measuring the text afresh shows, and clicks land on
// the same characters.
TEST_F(TextEditTest, KeptScrollDrawsAsTheWholeMeasure)
{
    WM_TEXT_EDIT* e = focused("", 0, -1, -1, 120);
    const char* chars = "iIlWMm .,aeo19\xE9";
    std::mt19937 rng(132);
    auto pick = [&](int n) {
        std::string t;
        for (int i = 0; i < n; ++i) {
            t += chars[rng() % std::strlen(chars)];
        }
        return t;
    };
    // The first character drawn, by measuring the rest of the text from
    // each index in turn.
    auto first_by_rule = [&](const std::string& t, int room) {
        const int fit = room / text_w("W", 1);
        if (e->cursor <= fit) {
            return 0;
        }
        for (int s = 0;; ++s) {
            if (s + fit >= e->cursor || s >= e->cursor || text_w(t.c_str() + s) <= room) {
                return s;
            }
        }
    };
    // After an input, the field as the rule draws it and a click's index.
    auto expect_as_rule = [&](const std::string& what) {
        e->request_draw();
        pass();
        KEYBOARD::code = -1;

        const std::string t = str(e->text);
        const int len = static_cast<int>(t.size());
        const int room = e->width - (e->border_left_gap + e->border_right_gap) - 1;
        const int first = std::min(first_by_rule(t, room), len);
        const int tx = e->x + e->border_left_gap, ty = e->y + e->border_top_gap;
        const int x2 = e->x + e->width - 1, y2 = e->y + e->height - 1;
        auto boundary = [&](int k) {
            return tx + text_w(t.c_str() + first) - text_w(t.c_str() + std::clamp(k, first, len));
        };
        imgtest::CANVAS ref(kivo_test::SCREEN_W, kivo_test::SCREEN_H, {kivo_test::SENTINEL});
        ref.fill_rect(e->x, e->y, static_cast<short>(x2), static_cast<short>(y2), BG, 1);
        // Down, the whole field: accents reach into the borders.
        ref.add_rect_to_active_area(static_cast<short>(tx), e->y, static_cast<short>(x2 - e->border_right_gap),
                                    static_cast<short>(y2));
        if (len > 0 && e->selection.start != -1 && e->selection.end != -1) {
            const int lo = std::min(e->selection.start, e->selection.end);
            const int hi = std::max(e->selection.start, e->selection.end);
            ref.fill_rect(static_cast<short>(boundary(lo) - 1), static_cast<short>(ty),
                          static_cast<short>(boundary(hi) - 1), static_cast<short>(ty + FONT - 1), SEL, 1);
        }
        ref.process_and_render_string(static_cast<short>(tx), static_cast<short>(ty), FG, COLOUR_INVISIBLE,
                                      COLOUR_INVISIBLE, font, FONT, FONT, t.c_str() + first, 0, -1, 0);
        const int cx = len > 0 ? boundary(e->cursor) : tx;
        ref.draw_line(static_cast<short>(cx), static_cast<short>(ty), static_cast<short>(cx),
                      static_cast<short>(ty + FONT - 1), CUR, 1, 1);
        for (int i = 0; i < e->width * e->height; ++i) {
            const int xx = e->x + i % e->width, yy = e->y + i / e->width;
            ASSERT_EQ(at(xx, yy), imgtest::px(ref, xx, yy))
                << what << " '" << t << "' cursor " << e->cursor << " at " << xx << "," << yy;
        }
        // A click anywhere along the text: the nearer boundary of the two
        // around it.
        const int px = tx + static_cast<int>(rng() % static_cast<unsigned>(std::max(1, room)));
        if (px <= x2 - e->border_right_gap) {
            int want = len, previous = 0;
            for (int k = 1; first + k <= len; ++k) {
                const int w = text_w(t.c_str() + first, k);
                if (w >= px - tx) {
                    want = first + (px - tx - previous < w - (px - tx) ? k - 1 : k);
                    break;
                }
                previous = w;
            }
            ASSERT_EQ(e->convert_pos_to_index(static_cast<INT_S16>(px)), want) << what << " '" << t << "'";
        }
    };
    // Edits before the part in view, then the end of the text again.
    e->set_buffer(pick(100).c_str());
    expect_as_rule("end");
    KEYBOARD::process_key_event(115);
    expect_as_rule("home");
    for (int k = 0; k < 3; ++k) {
        KEYBOARD::process_key_event(117);
        expect_as_rule("delete at the start");
    }
    hold("c");
    kivo_host()->set_clipboard_text("WWW");
    type('v');
    expect_as_rule("paste at the start");
    hold("");
    KEYBOARD::process_key_event(119);
    expect_as_rule("end again");
    for (int step = 0; step < 400; ++step) {
        const unsigned op = rng() % 20;
        hold(op == 9 || op == 10 ? "s" : op == 11 || op == 12 ? "c" : "");
        if (op < 5) {
            type(chars[rng() % std::strlen(chars)]);
        } else if (op < 7) {
            type(8);
        } else if (op < 11) {
            static const INT_U32 moves[] = {115, 117, 119, 123, 124};
            KEYBOARD::process_key_event(moves[rng() % 5]);
        } else if (op == 11) {
            kivo_host()->set_clipboard_text(pick(static_cast<int>(rng() % 6)).c_str());
            type('v');
        } else if (op == 12) {
            type('a');
        } else if (op == 13) {
            e->set_buffer(step % 3 ? pick(static_cast<int>(rng() % 120)).c_str() : "ab\x01,0057,0057\x01 cd");
        } else if (op == 14) {
            e->width = static_cast<INT_S16>(rng() % 10 == 0 ? 3 : 30 + rng() % 180);
        } else if (op == 15) {
            e->border_left_gap = e->border_right_gap = static_cast<INT_S16>(rng() % 10 == 0 ? 30 : GAP + rng() % 8);
        } else {
            KEYBOARD::process_key_event(rng() % 2 ? 123 : 124);
        }
        expect_as_rule("step " + std::to_string(step));
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(TextEditSelection, ExtendingSelectingAllAndTheSpan)
{
    using STEP = void (*)(WM_TEXT_SELECTION&);
    const STEP extend_2_to_5 = [](WM_TEXT_SELECTION& s) { s.extend(2, 5); };
    const STEP extend_3_to_3 = [](WM_TEXT_SELECTION& s) { s.extend(3, 3); };
    const STEP extend_0_to_1 = [](WM_TEXT_SELECTION& s) { s.extend(0, 1); };
    const STEP whole_of_4 = [](WM_TEXT_SELECTION& s) { s.select_whole(4); };
    const STEP whole_of_0 = [](WM_TEXT_SELECTION& s) { s.select_whole(0); };
    // Start and end before, the step, start and end after. Extending back
    // onto the start selects nothing; a begun selection keeps its start.
    const struct
    {
        int before[2];
        STEP step;
        int after[2];
    } rows[] = {
        {{-1, -1}, extend_2_to_5, {2, 5}}, {{-1, -1}, extend_3_to_3, {-1, -1}}, {{2, 5}, extend_0_to_1, {2, 1}},
        {{1, 4}, extend_0_to_1, {-1, -1}}, {{3, 1}, extend_3_to_3, {-1, -1}},   {{3, -1}, extend_0_to_1, {3, 1}},
        {{1, 2}, whole_of_4, {0, 4}},      {{4, 0}, whole_of_4, {4, 0}},        {{-1, -1}, whole_of_0, {-1, -1}},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        WM_TEXT_SELECTION s;
        s.start = static_cast<INT_S16>(rows[i].before[0]);
        s.end = static_cast<INT_S16>(rows[i].before[1]);
        rows[i].step(s);
        EXPECT_EQ(std::vector<int>({s.start, s.end}), std::vector<int>(rows[i].after, rows[i].after + 2)) << i;
        EXPECT_EQ(s.empty(), rows[i].after[0] == -1) << i;
    }
    WM_TEXT_SELECTION s;
    s.start = 9;
    s.end = -3;
    long lo = 0, hi = 0;
    s.get_span(4, lo, hi);
    EXPECT_EQ(lo * 10 + hi, 4); // clamped into 0..4, in text order
}

TEST(TextEditKeys, OneTableForCodesAndCharacters)
{
    // Code or character (code -1), Command held, what the edit makes of it.
    const struct
    {
        INT_S32 code;
        unsigned c;
        bool command;
        WM_TEXT_EDIT_OPERATION want;
    } rows[] = {
        {123, 0, false, TEXT_EDIT_LEFT},    {123, 0, true, TEXT_EDIT_WORD_LEFT},
        {115, 0, true, TEXT_EDIT_TO_START}, {117, 0, false, TEXT_EDIT_DELETE_FORWARD},
        {125, 0, false, TEXT_EDIT_NONE},    {36, 0, false, TEXT_EDIT_RETURN},
        {-1, 'c', true, TEXT_EDIT_COPY},    {-1, 'c', false, TEXT_EDIT_TYPE},
        {-1, 'C', true, TEXT_EDIT_TYPE},    {-1, 8, true, TEXT_EDIT_DELETE_BACK},
        {-1, 'z', true, TEXT_EDIT_REVERT},  {-1, 0xE9, false, TEXT_EDIT_TYPE},
    };
    for (const auto& r : rows) {
        const WM_TEXT_EDIT_OPERATION got = r.code != -1 ? text_edit_operation_for_code(r.code, r.command)
                                                        : text_edit_operation_for_char(r.c, r.command);
        EXPECT_EQ(got, r.want) << r.code << " " << r.c << " " << r.command;
    }
    // Return is whichever key the screen objects take for it; no code is
    // a character's row.
    S::return_key = 76;
    EXPECT_EQ(text_edit_operation_for_code(76, false), TEXT_EDIT_RETURN);
    EXPECT_EQ(text_edit_operation_for_code(36, false), TEXT_EDIT_NONE);
    S::return_key = 36;
    EXPECT_EQ(text_edit_operation_for_code(-1, true), TEXT_EDIT_NONE);
    // Every row is reachable: none is hidden behind an earlier one.
    for (int i = 0; i < text_edit_key_count; ++i) {
        const WM_TEXT_EDIT_KEY& k = text_edit_keys[i];
        const WM_TEXT_EDIT_OPERATION got = k.code != -1 ? text_edit_operation_for_code(k.code, k.command != 0)
                                                        : text_edit_operation_for_char(k.character, k.command != 0);
        EXPECT_EQ(got, k.operation) << i;
    }
}

TEST(TextEditFilters, ClassesAreAsciiWhateverTheLocale)
{
    std::setlocale(LC_ALL, "C.UTF-8");
    const std::pair<WM_TEXT_EDIT_FILTER, const char*> rows[] = {
        // filter, what it accepts of the probes
        {text_edit_number_filter, "09.-+"},
        {text_edit_name_with_space_filter, "AZaz'- "},
        {text_edit_name_without_space_filter, "AZaz'-"},
        {text_edit_name_with_space_and_numbers_filter, "09AZaz'- "},
        {text_edit_filename_filter, "09AZaz.-+!$%()_=[]{};:@# ~"},
    };
    const std::string probes = "/09:@AZ[`az{.-+!$%()_=]};# ~',\\*?\"<>|";
    for (const auto& [filter, accepted] : rows) {
        for (char p : probes) {
            const bool want = std::string(accepted).find(p) != std::string::npos;
            EXPECT_EQ(filter(static_cast<unsigned char>(p)) != 0, want) << accepted << " '" << p << "'";
        }
        for (INT_U16 c = 128; c <= 255; ++c) {
            EXPECT_EQ(filter(c), 0) << accepted << " " << c;
        }
        const bool name = std::string(accepted).find('\'') != std::string::npos;
        EXPECT_EQ(filter(127), name ? 1 : 0) << accepted;
    }
    std::setlocale(LC_ALL, "C");
}

} // namespace
