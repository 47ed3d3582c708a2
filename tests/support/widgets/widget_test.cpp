// The widget test harness: fixture set-up and tear-down, the probe
// widget, and the frame step.
#include "widget_test.h"

#include "folder.h"
#include "host_window.h"
#include "keyboard.h"
#include "kivo_host.h"
#include "mouse.h"
#include "random_session.h"
#include "wm_context.h"
#include "wm_logo_page.h"

namespace kivo_test {

int PROBE::live = 0;
std::vector<const PROBE*> PROBE::draw_log;

PROBE::PROBE(int x, int y, int w, int h, COLOUR colour, INT_U8 visible)
    : WM_SCREEN_OBJECT(visible, nullptr, nullptr, nullptr), colour(colour)
{
    this->x = static_cast<INT_S16>(x);
    this->y = static_cast<INT_S16>(y);
    width = static_cast<INT_S16>(w);
    height = static_cast<INT_S16>(h);
    ++live;
}

PROBE::~PROBE()
{
    --live;
}

WM_MESG PROBE::monitor()
{
    ++monitor_count;
    if (on_monitor) {
        on_monitor(*this);
    }
    if (!monitor_results.empty()) {
        const WM_MESG r = monitor_results.front();
        monitor_results.pop_front();
        return r;
    }
    return WM_SCREEN_OBJECT::monitor();
}

WM_MESG PROBE::update(INT_U8 modal)
{
    ++update_count;
    if (on_update) {
        on_update(*this);
    }
    if (!update_results.empty()) {
        const WM_MESG r = update_results.front();
        update_results.pop_front();
        return r;
    }
    return WM_SCREEN_OBJECT::update(modal);
}

void PROBE::draw_object()
{
    ++draw_count;
    draw_log.push_back(this);
    if (colour.alpha()) {
        surface->fill_rect(x, y, static_cast<short>(x + width - 1), static_cast<short>(y + height - 1), colour, 0);
    }
}

void WidgetTest::reset_statics()
{
    wm_context.state = {};
    wm_clear_shared_objects();
    wm_logo_page_reset();
    PROBE::draw_log.clear();
}

void WidgetTest::SetUp()
{
    SandboxTest::SetUp();
    redirect_appdata(path("appdata"));
    kivo_fake_clock_enable(1);
    elapsed_ms = 0;
    set_random_index(0x2A5u << 10);
    IMAGE::startup_font_system();
    reset_statics();
    create_back_buffer(SCREEN_W, SCREEN_H);
    WM_SCREEN_OBJECT::surface = get_back_buffer(0);
    screen().clear(SENTINEL, 1);
    imgtest::clean(screen());
    MOUSE::x = MOUSE::y = -1;
    MOUSE::buttons = 0;
    KEYBOARD::release_all_keys();
    KEYBOARD::code = -1;
}

void WidgetTest::TearDown()
{
    delete WM_SCREEN_OBJECT::pm;
    reset_statics();
    WM_SCREEN_OBJECT::surface = nullptr;
    destroy_back_buffer();
    MOUSE::buttons = 0;
    KEYBOARD::release_all_keys();
    IMAGE::shutdown_font_system();
    kivo_fake_clock_enable(0);
    restore_appdata();
    SandboxTest::TearDown();
}

void WidgetTest::point(int x, int y)
{
    MOUSE::x = static_cast<INT_S16>(x);
    MOUSE::y = static_cast<INT_S16>(y);
}

void WidgetTest::press(short button, bool down)
{
    MOUSE::process_mouse_button(button, down ? 1 : 0);
}

void WidgetTest::hold_key(INT_U32 code, bool held)
{
    KEYBOARD::set_key_held(code, held);
}

bool WidgetTest::load_action_sound()
{
    FOLDER folder;
    return folder.set_from_path_string(dir.c_str()) &&
           SOUND_BUFFER::generate_wav_file(folder, "action.wav", "C", 200, nullptr) &&
           WM_SCREEN_OBJECT::action_sound.load(folder, "action.wav");
}

void WidgetTest::draw_regions(WM_SCREEN_OBJECT* root)
{
    using S = WM_SCREEN_OBJECT;
    IMAGE& s = screen();
    root->prepare_tree_for_draw();
    S::prepare_modals_for_draw();
    for (S::update_regions_index = 0; S::update_regions_index < S::update_regions_sz; ++S::update_regions_index) {
        if (!S::is_update_region_valid()) {
            continue;
        }
        const WM_UPDATE_REGION& r = S::update_regions[S::update_regions_index];
        s.set_active_area(r.left, r.top, r.right, r.bottom);
        root->check_for_redraw();
        root->check_modal_redraw();
        s.set_active_area(0, 0, static_cast<short>(s.width - 1), static_cast<short>(s.height - 1));
    }
    S::update_regions_index = -1;
    S::update_regions_sz = 0;
}

WM_MESG WidgetTest::tick(INT_U32 ms, WM_SCREEN_OBJECT* root)
{
    elapsed_ms += ms;
    kivo_fake_clock_advance_ms(ms);
    kivo_fake_clock_set_wall(START_WALL + elapsed_ms / 1000);
    WM_PAGE_MANAGER* pm = WM_SCREEN_OBJECT::pm;
    WM_SCREEN_OBJECT::focal_object_monitored = 0;
    if (!pm) {
        if (!root) {
            return 0;
        }
        WM_MESG message = root->update(0);
        if (message == WM_MESG_TAKEN) {
            message = WM_MESG_NONE;
        }
        if (!message) {
            message = root->update(1);
        }
        if (!message) {
            message = root->monitor();
        }
        draw_regions(root);
        return message;
    }

    // The page manager's own frame, without presenting it; the message comes
    // back to the test as the passes gave it.
    return pm->run_frame(false, false);
}

} // namespace kivo_test
