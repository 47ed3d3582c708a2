#ifndef KIVO_TEST_X_DISPLAY_H
#define KIVO_TEST_X_DISPLAY_H

// Tests that need a real display: a private X server of their own and a
// reader of what a window shows. Every wait is bounded; a server that does
// not answer in time is killed. No X header is needed to use these.
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kivo_test {

// A private Xvfb (-displayfd, no TCP) owned by this object. It never starts
// over when its last client leaves: what a client set stays.
class XvfbServer
{
public:
    XvfbServer() = default;
    ~XvfbServer() { stop(); }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // Starts a server with one screen of width x height at 24 bits and
    // waits at most timeout_ms for it to accept connections. False (see
    // error()) when it cannot be started or does not answer; it is then
    // killed.
    bool start(int width = 1024, int height = 768, int timeout_ms = 10000);
    // Asks the server to end, waits up to timeout_ms, then kills it.
    void stop(int timeout_ms = 3000);

    bool running() const { return pid_ > 0; }
    // The DISPLAY value, for example ":3"; empty while not running.
    const std::string& display() const { return display_; }
    const std::string& error() const { return error_; }

private:
    pid_t pid_ = -1;
    std::string display_;
    std::string error_;
};

// A window's pixels as 0x00RRGGBB, row by row.
struct XPixels
{
    int width = 0, height = 0;
    std::vector<std::uint32_t> rgb;
    std::uint32_t at(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x]; }
};

// One connection to an X server, for finding windows and reading them.
class XReader
{
public:
    explicit XReader(const std::string& display);
    ~XReader();
    XReader(const XReader&) = delete;
    XReader& operator=(const XReader&) = delete;

    bool connected() const { return display_ != nullptr; }

    // The first window whose name is title (0 when there is none), looking
    // once, or until timeout_ms has passed.
    unsigned long find_window(const std::string& title);
    unsigned long wait_for_window(const std::string& title, int timeout_ms);

    // Reads the rectangle (window coordinates); false when X refuses (the
    // window is gone, unmapped or the rectangle leaves it).
    bool read_rgb(unsigned long window, int x, int y, int w, int h, XPixels* out);
    // Reads the rectangle until it equals expected (w x h values
    // 0x00RRGGBB) or timeout_ms has passed; out keeps the last reading.
    bool wait_for_rgb(unsigned long window, int x, int y, int w, int h, const std::vector<std::uint32_t>& expected,
                      int timeout_ms, XPixels* out);

    // Waits until the window has the keyboard focus, at most timeout_ms:
    // keys sent before then would go elsewhere. True once it has it.
    bool wait_for_focus(unsigned long window, int timeout_ms);

    // Asks the window to close as a window manager does when a person
    // clicks its close box: a WM_DELETE_WINDOW message. False when the
    // window does not take that message (a window manager would then kill
    // its client) or X refuses.
    bool request_close(unsigned long window);

    // Input made through the server's test extension, as a person's input
    // arrives, `count` times with no pause: a press and release of pointer
    // button 1 at (x, y) in the window, or of the key that gives the keysym
    // named (for example "a") to whichever window has the keyboard. False
    // when the extension or its library (loaded when first needed) is
    // missing, or X refuses.
    bool fake_clicks(unsigned long window, int x, int y, int count);
    bool fake_keys(const std::string& keysym, int count);

private:
    void* display_ = nullptr; // Display*
};

} // namespace kivo_test

#endif
