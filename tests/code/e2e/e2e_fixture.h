#ifndef TOLLBECK_TEST_E2E_FIXTURE_H
#define TOLLBECK_TEST_E2E_FIXTURE_H

// What the end-to-end tests share: the built program on a private X server
// of its own, driven with xdotool, and what its window shows compared with
// the same pixels drawn here headless from the same definition. The
// program's globals are defined in e2e_fixture.cpp, as beside its entry point.
#include "../program_pages.h"
#include "program_child.h"
#include "x_display.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kivo_test {

class E2eTest : public ProgramPagesTest
{
protected:
    using Clock = std::chrono::steady_clock;
    using PIXELS = std::vector<std::uint32_t>; // 0x00RRGGBB, row by row

    // Bounds of the waits: the program's start under the sanitizers, a page
    // change (its effect takes 0.7 s) or a burst of keys worked through, and
    // an xdotool run of twenty events, each on a machine running the rest
    // of the suite beside it. A wait ends as soon as the window shows what
    // it waits for, so a long bound costs only a failing test's time.
    static constexpr int START_MS = 20000, CHANGE_MS = 20000, TOOL_MS = 20000;

    struct PLACE
    {
        int x = 0, y = 0, w = 0, h = 0;
        int mid_x() const { return x + w / 2; }
        int mid_y() const { return y + h / 2; }
    };

    // A failure's cause may be in what the program said: a sanitizer's
    // report, SDL's complaint. Its last 4000 bytes go to the log.
    void TearDown() override;

    static void pause_ms(int ms);

    // ---- headless, from the built definition (ptm loaded) -------------------

    // The place in the window of the top-level record with these numbers;
    // false unless exactly one has them and it has a size.
    static bool place(INT_U32 page_id, INT_U32 aid, INT_U32 cid, PLACE* out);
    static PIXELS screen_rgb(const PLACE& r);
    // The focused field at `field`, now showing `empty`, drawn holding each
    // of `texts` (Latin-1) into *holding, and emptied again after each.
    static void draw_field_holding(const PLACE& field, const PIXELS& empty, const std::vector<std::string>& texts,
                                   std::vector<PIXELS>* holding);

    // ---- the real program ---------------------------------------------------

    // xdotool on the private display; false when it failed or hung.
    bool xdo(const std::vector<std::string>& args);
    // The keys with `delay_ms` between them (0: at full speed).
    bool keys(std::vector<std::string> names, int delay_ms = 80);
    bool type(const char* text, int delay_ms = 80);
    // Away from every control, so that nothing shows the pointer over it.
    bool park_pointer();
    // Reads until the rectangle of the window equals expected, at most
    // CHANGE_MS; *out (when given) keeps the last reading.
    bool wait_for(const PLACE& r, const PIXELS& expected, XPixels* out = nullptr);
    // The name edits (`edits`) blanked: their caret blinks.
    void blank_edits(PIXELS& rgb) const;
    // The whole window, edits blanked; false when it cannot be read.
    bool read_window(XPixels* out);

    // The server started and the program on it, the pointer in the
    // screen's corner, over no control of the window to come.
    void start_program();
    // Until the window titled `title` shows what `shows` looks for in
    // `window`, at most START_MS from now: SDL may make its window again
    // when it makes its renderer, the first one gone. *shown says whether
    // it did; a fatal failure when no window has that title.
    void wait_until_shown(const std::function<bool()>& shows, bool* shown);
    // Closed as a person closes a window: status 0, nothing from the sanitizers.
    void close_program();
    // The program ended within timeout_ms with status 0, nothing from the
    // sanitizers.
    void expect_clean_exit(int timeout_ms);

    std::string title;
    XvfbServer server;
    ProgramChild program;
    std::unique_ptr<XReader> reader;
    unsigned long window = 0;
    int window_w = 0, window_h = 0;
    std::vector<PLACE> edits;
};

} // namespace kivo_test

#endif
