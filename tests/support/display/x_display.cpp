// The private X server and the window reader of x_display.h.
#include "x_display.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace kivo_test {
namespace {

using Clock = std::chrono::steady_clock;

Clock::time_point deadline_after(int ms)
{
    return Clock::now() + std::chrono::milliseconds(ms);
}

int ms_left(Clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void pause_briefly()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

// Waits for the child until the deadline; true when it has ended.
bool reap(pid_t pid, Clock::time_point deadline)
{
    for (;;) {
        pid_t r = waitpid(pid, nullptr, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR)) {
            return true;
        }
        if (ms_left(deadline) == 0) {
            return false;
        }
        pause_briefly();
    }
}

Display* dpy(void* p)
{
    return static_cast<Display*>(p);
}

// X errors (a window gone, a rectangle outside it) must fail the read, not
// end the test process as Xlib's default handler would.
bool x_failed = false;
int note_x_error(Display*, XErrorEvent*)
{
    x_failed = true;
    return 0;
}

std::string window_name(Display* d, Window w)
{
    Atom net_name = XInternAtom(d, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(d, "UTF8_STRING", False);
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(d, w, net_name, 0, 1024, False, utf8, &type, &format, &count, &after, &data) == Success &&
        data) {
        if (type == utf8 && format == 8) {
            name.assign(reinterpret_cast<char*>(data), count);
        }
        XFree(data);
    }
    if (name.empty()) {
        char* plain = nullptr;
        if (XFetchName(d, w, &plain) && plain) {
            name = plain;
            XFree(plain);
        }
    }
    return name;
}

Window search(Display* d, Window w, const std::string& title)
{
    if (window_name(d, w) == title) {
        return w;
    }
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(d, w, &root, &parent, &children, &n)) {
        return 0;
    }
    Window found = 0;
    for (unsigned i = 0; i < n && !found; ++i) {
        found = search(d, children[i], title);
    }
    if (children) {
        XFree(children);
    }
    return found;
}

// The three calls of the X test extension's library, which has no
// development package here; its runtime library comes with xdotool.
struct FAKE_INPUT
{
    int (*key)(Display*, unsigned keycode, Bool press, unsigned long delay) = nullptr;
    int (*button)(Display*, unsigned button, Bool press, unsigned long delay) = nullptr;
    int (*motion)(Display*, int screen, int x, int y, unsigned long delay) = nullptr;
};

const FAKE_INPUT* fake_input(Display* d)
{
    static FAKE_INPUT calls;
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        if (void* lib = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL)) {
            calls.key = reinterpret_cast<decltype(calls.key)>(dlsym(lib, "XTestFakeKeyEvent"));
            calls.button = reinterpret_cast<decltype(calls.button)>(dlsym(lib, "XTestFakeButtonEvent"));
            calls.motion = reinterpret_cast<decltype(calls.motion)>(dlsym(lib, "XTestFakeMotionEvent"));
        }
    }
    int opcode = 0, event = 0, error = 0;
    if (!calls.key || !calls.button || !calls.motion || !XQueryExtension(d, "XTEST", &opcode, &event, &error)) {
        return nullptr;
    }
    return &calls;
}

int shift_of(unsigned long mask)
{
    int s = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++s;
    }
    return s;
}

} // namespace

bool XvfbServer::start(int width, int height, int timeout_ms)
{
    stop();
    error_.clear();
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        error_ = "no pipe for -displayfd";
        return false;
    }
    // Everything the child needs is made before fork: it only execs.
    std::string fd_text = std::to_string(fds[1]);
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -noreset: by default the server starts over whenever its last client
    // leaves, dropping a connection that comes in just then (a reader opened
    // right after one xdotool run) and undoing what the client set (the
    // pointer's place, a key binding).
    const char* argv[] = {"Xvfb",    "-displayfd", fd_text.c_str(), "-nolisten", "tcp", "-noreset",
                          "-screen", "0",          screen.c_str(),  nullptr};
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    pid_t pid = fork();
    if (pid == 0) {
        fcntl(fds[1], F_SETFD, 0);
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            dup2(null_fd, 2);
        }
        execvp(argv[0], const_cast<char* const*>(argv));
        _exit(127);
    }
    close(fds[1]);
    if (null_fd >= 0) {
        close(null_fd);
    }
    if (pid < 0) {
        close(fds[0]);
        error_ = "fork failed";
        return false;
    }
    pid_ = pid;

    // The server writes its display number once it accepts connections.
    std::string number;
    Clock::time_point deadline = deadline_after(timeout_ms);
    bool done = false, ended = false;
    while (!done && !ended && ms_left(deadline) > 0) {
        pollfd p = {fds[0], POLLIN, 0};
        int r = poll(&p, 1, ms_left(deadline));
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            break;
        }
        char c;
        ssize_t n = read(fds[0], &c, 1);
        if (n == 1 && c == '\n') {
            done = !number.empty();
        } else if (n == 1) {
            number += c;
        } else if (n == 0 || errno != EINTR) {
            ended = true;
        }
    }
    close(fds[0]);
    if (!done) {
        error_ = ended ? "Xvfb ended before it reported a display (is it installed?)"
                       : "Xvfb did not report a display in time";
        stop(0);
        return false;
    }
    display_ = ":" + number;
    return true;
}

void XvfbServer::stop(int timeout_ms)
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    if (!reap(pid_, deadline_after(timeout_ms))) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
    display_.clear();
}

// A window can vanish between finding and reading it (SDL replaces its
// first window when it makes the renderer); Xlib's default handler would
// end the whole test for that. The call just fails instead.
static int ignore_x_error(Display*, XErrorEvent*)
{
    return 0;
}

XReader::XReader(const std::string& display)
{
    XSetErrorHandler(ignore_x_error);
    display_ = XOpenDisplay(display.c_str());
}

XReader::~XReader()
{
    if (display_) {
        XCloseDisplay(dpy(display_));
    }
}

unsigned long XReader::find_window(const std::string& title)
{
    if (!display_) {
        return 0;
    }
    Display* d = dpy(display_);
    XSync(d, False);
    return search(d, DefaultRootWindow(d), title);
}

unsigned long XReader::wait_for_window(const std::string& title, int timeout_ms)
{
    Clock::time_point deadline = deadline_after(timeout_ms);
    for (;;) {
        unsigned long w = find_window(title);
        if (w || ms_left(deadline) == 0) {
            return w;
        }
        pause_briefly();
    }
}

bool XReader::read_rgb(unsigned long window, int x, int y, int w, int h, XPixels* out)
{
    if (!display_ || w < 1 || h < 1) {
        return false;
    }
    Display* d = dpy(display_);
    XSync(d, False);
    x_failed = false;
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(note_x_error);
    XImage* image = XGetImage(d, window, x, y, static_cast<unsigned>(w), static_cast<unsigned>(h), AllPlanes, ZPixmap);
    XSync(d, False);
    XSetErrorHandler(previous);
    if (!image || x_failed) {
        if (image) {
            XDestroyImage(image);
        }
        return false;
    }
    int rs = shift_of(image->red_mask), gs = shift_of(image->green_mask), bs = shift_of(image->blue_mask);
    out->width = w;
    out->height = h;
    out->rgb.assign(static_cast<std::size_t>(w) * h, 0);
    for (int j = 0; j < h; ++j) {
        for (int i = 0; i < w; ++i) {
            unsigned long p = XGetPixel(image, i, j);
            std::uint32_t r = static_cast<std::uint32_t>((p & image->red_mask) >> rs) & 0xFF;
            std::uint32_t g = static_cast<std::uint32_t>((p & image->green_mask) >> gs) & 0xFF;
            std::uint32_t b = static_cast<std::uint32_t>((p & image->blue_mask) >> bs) & 0xFF;
            out->rgb[static_cast<std::size_t>(j) * w + i] = r << 16 | g << 8 | b;
        }
    }
    XDestroyImage(image);
    return true;
}

bool XReader::wait_for_rgb(unsigned long window, int x, int y, int w, int h, const std::vector<std::uint32_t>& expected,
                           int timeout_ms, XPixels* out)
{
    Clock::time_point deadline = deadline_after(timeout_ms);
    for (;;) {
        if (read_rgb(window, x, y, w, h, out) && out->rgb == expected) {
            return true;
        }
        if (ms_left(deadline) == 0) {
            return false;
        }
        pause_briefly();
    }
}

bool XReader::wait_for_focus(unsigned long window, int timeout_ms)
{
    if (!display_) {
        return false;
    }
    Display* d = dpy(display_);
    Clock::time_point deadline = deadline_after(timeout_ms);
    for (;;) {
        Window focus = None;
        int revert = 0;
        XSync(d, False);
        XGetInputFocus(d, &focus, &revert);
        if (focus == window) {
            return true;
        }
        if (ms_left(deadline) == 0) {
            return false;
        }
        pause_briefly();
    }
}

bool XReader::request_close(unsigned long window)
{
    if (!display_) {
        return false;
    }
    Display* d = dpy(display_);
    Atom protocols = XInternAtom(d, "WM_PROTOCOLS", False);
    Atom delete_window = XInternAtom(d, "WM_DELETE_WINDOW", False);
    XSync(d, False);
    x_failed = false;
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(note_x_error);
    Atom* taken = nullptr;
    int count = 0;
    bool takes_it = false;
    if (XGetWMProtocols(d, window, &taken, &count)) {
        for (int i = 0; i < count; ++i) {
            takes_it = takes_it || taken[i] == delete_window;
        }
        XFree(taken);
    }
    if (takes_it) {
        XEvent e;
        std::memset(&e, 0, sizeof e);
        e.xclient.type = ClientMessage;
        e.xclient.window = window;
        e.xclient.message_type = protocols;
        e.xclient.format = 32;
        e.xclient.data.l[0] = static_cast<long>(delete_window);
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, window, False, NoEventMask, &e);
    }
    XSync(d, False);
    XSetErrorHandler(previous);
    return takes_it && !x_failed;
}

bool XReader::fake_clicks(unsigned long window, int x, int y, int count)
{
    Display* d = display_ ? dpy(display_) : nullptr;
    const FAKE_INPUT* fake = d ? fake_input(d) : nullptr;
    if (!fake) {
        return false;
    }
    x_failed = false;
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(note_x_error);
    int rx = 0, ry = 0;
    Window child = 0;
    bool ok = XTranslateCoordinates(d, window, DefaultRootWindow(d), x, y, &rx, &ry, &child) &&
              fake->motion(d, DefaultScreen(d), rx, ry, CurrentTime);
    for (int i = 0; ok && i < count; ++i) {
        ok = fake->button(d, 1, True, CurrentTime) && fake->button(d, 1, False, CurrentTime);
    }
    XSync(d, False);
    XSetErrorHandler(previous);
    return ok && !x_failed;
}

bool XReader::fake_keys(const std::string& keysym, int count)
{
    Display* d = display_ ? dpy(display_) : nullptr;
    const FAKE_INPUT* fake = d ? fake_input(d) : nullptr;
    const KeySym sym = XStringToKeysym(keysym.c_str());
    const unsigned code = fake && sym != NoSymbol ? XKeysymToKeycode(d, sym) : 0;
    if (!code) {
        return false;
    }
    x_failed = false;
    int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(note_x_error);
    bool ok = true;
    for (int i = 0; ok && i < count; ++i) {
        ok = fake->key(d, code, True, CurrentTime) && fake->key(d, code, False, CurrentTime);
    }
    XSync(d, False);
    XSetErrorHandler(previous);
    return ok && !x_failed;
}

} // namespace kivo_test
