// The fixture of the end-to-end tests (e2e_fixture.h) and the globals the
// program defines beside its entry point.
#include "e2e_fixture.h"

#include "keyboard.h"
#include "kivo_app_settings.h"
#include "wm_ptm_records.h"

#include <algorithm>
#include <iostream>
#include <thread>

KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};
DATABASE db;
WM_PAGE_TOOL_MANAGER ptm;

namespace kivo_test {
namespace {

const std::string PROGRAM = std::string(KIVO_TEST_BIN_DIR) + "/tollbeck";
const std::string XDOTOOL = "/usr/bin/xdotool";

} // namespace

void E2eTest::TearDown()
{
    const std::string said = HasFailure() ? program.err() : std::string();
    if (!said.empty()) {
        std::cerr << "The program said:\n" << said.substr(said.size() > 4000 ? said.size() - 4000 : 0) << "\n";
    }
    ProgramPagesTest::TearDown();
}

void E2eTest::pause_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool E2eTest::place(INT_U32 page_id, INT_U32 aid, INT_U32 cid, PLACE* out)
{
    int found = 0;
    for (INT_S32 i = 0; i < ptm.area_count; i++) {
        const WM_PTM_AREA_INFO& a = ptm.areas[i];
        for (INT_S32 j = 0; j < a.page_count; j++) {
            const WM_PTM_PAGE_INFO& p = a.pages[j];
            for (INT_S32 k = 0; p.id == page_id && k < p.object_count; k++) {
                const WM_PTM_OBJECT_INFO& o = p.objects[k];
                if (o.aid == aid && o.cid == cid) {
                    *out = {a.x + o.x, a.y + o.y, o.width, o.height};
                    found++;
                }
            }
        }
    }
    return found == 1 && out->w > 0 && out->h > 0;
}

E2eTest::PIXELS E2eTest::screen_rgb(const PLACE& r)
{
    PIXELS rgb;
    for (int y = r.y; y < r.y + r.h; y++) {
        for (int x = r.x; x < r.x + r.w; x++) {
            rgb.push_back(at(x, y) & 0xFFFFFFu);
        }
    }
    return rgb;
}

void E2eTest::draw_field_holding(const PLACE& field, const PIXELS& empty, const std::vector<std::string>& texts,
                                 std::vector<PIXELS>* holding)
{
    for (const std::string& text : texts) {
        for (unsigned char c : text) {
            KEYBOARD::process_char_event(KEYBOARD::unmap_char(c));
        }
        run();
        holding->push_back(screen_rgb(field));
        for (std::size_t i = 0; i < text.size(); i++) {
            KEYBOARD::process_char_event('\b');
        }
        run();
        ASSERT_EQ(screen_rgb(field), empty) << "\"" << text << "\" is not deleted again";
    }
}

bool E2eTest::xdo(const std::vector<std::string>& args)
{
    ProgramChild tool;
    if (!tool.start(XDOTOOL, args, {"DISPLAY=" + server.display()})) {
        return false;
    }
    const int status = tool.wait_for_exit(TOOL_MS);
    EXPECT_EQ(status, 0) << "xdotool " << args[0] << ": " << tool.err();
    return status == 0;
}

bool E2eTest::keys(std::vector<std::string> names, int delay_ms)
{
    names.insert(names.begin(), {"key", "--delay", std::to_string(delay_ms)});
    return xdo(names);
}

bool E2eTest::type(const char* text, int delay_ms)
{
    return xdo({"type", "--delay", std::to_string(delay_ms), text});
}

bool E2eTest::park_pointer()
{
    return xdo({"mousemove", "--window", std::to_string(window), "1", "1", "sleep", "0.1"});
}

bool E2eTest::wait_for(const PLACE& r, const PIXELS& expected, XPixels* out)
{
    XPixels last;
    return reader->wait_for_rgb(window, r.x, r.y, r.w, r.h, expected, CHANGE_MS, out ? out : &last);
}

void E2eTest::blank_edits(PIXELS& rgb) const
{
    for (const PLACE& r : edits) {
        for (int y = std::max(r.y, 0); y < std::min(r.y + r.h, window_h); y++) {
            for (int x = std::max(r.x, 0); x < std::min(r.x + r.w, window_w); x++) {
                rgb[static_cast<std::size_t>(y) * window_w + x] = 0;
            }
        }
    }
}

bool E2eTest::read_window(XPixels* out)
{
    if (!reader->read_rgb(window, 0, 0, window_w, window_h, out)) {
        return false;
    }
    blank_edits(out->rgb);
    return true;
}

void E2eTest::start_program()
{
    ASSERT_TRUE(server.start(1024, 768)) << server.error();
    ASSERT_TRUE(xdo({"mousemove", "0", "0"}));
    ASSERT_TRUE(program.start(PROGRAM, {}, {"DISPLAY=" + server.display(), "SDL_VIDEODRIVER=x11"}));
    reader.reset(new XReader(server.display()));
    ASSERT_TRUE(reader->connected());
}

void E2eTest::wait_until_shown(const std::function<bool()>& shows, bool* shown)
{
    *shown = false;
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(START_MS);
    while (!*shown && Clock::now() < end) {
        window = reader->wait_for_window(title, START_MS);
        ASSERT_NE(window, 0u) << "no window titled " << title << "; the program said: " << program.err();
        *shown = shows();
        if (!*shown) {
            pause_ms(50);
        }
    }
}

void E2eTest::close_program()
{
    EXPECT_TRUE(reader->request_close(window));
    expect_clean_exit(START_MS);
}

void E2eTest::expect_clean_exit(int timeout_ms)
{
    EXPECT_EQ(program.wait_for_exit(timeout_ms), 0);
    const std::string said = program.err();
    EXPECT_EQ(said.find("ERROR: AddressSanitizer"), std::string::npos) << said;
    EXPECT_EQ(said.find("runtime error:"), std::string::npos) << said;
}

} // namespace kivo_test
