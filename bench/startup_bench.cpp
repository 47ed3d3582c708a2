// The program as a person meets it, under a private X server: start-up, from
// starting the process to its first presented frame, side by side with a
// minimal SDL program that opens a window of the same size and presents one
// frame (bench/ref); and idle, the program's CPU time over 10 s on its
// settled settings page, as a share of one core.
//
// A frame counts as presented when the window's pixels at a small grid of
// points stop being the empty window (black: Xvfb's root shows through a
// freshly mapped window) and stay so. Nothing is added to the program to
// tell when it has drawn.
#include "bench_ratio.h"
#include "x_display.h"

#include <X11/Xlib.h>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using kivo_test::XPixels;
using kivo_test::XReader;
using kivo_test::XvfbServer;

// The program's window (tools/pages/layout.txt) and its title.
const int WIDTH = 800, HEIGHT = 600;
const char* const PROGRAM_TITLE = "Tollbeck";
// What bench/ref/minimal_window.cpp shows.
const char* const REFERENCE_TITLE = "startup reference";
const std::uint32_t REFERENCE_COLOUR = 0x3366CC;

const int START_TIMEOUT_MS = 20000;   // from the start to a settled window
const int STAY_MS = 300;              // a frame counts when the window keeps off empty this long
const int SETTLE_MS = 300;            // start-up: unchanged this long is settled
const int IDLE_SETTLE_MS = 1500;      // idle: past the page effect (about 700 ms) with room to spare
const int GIVE_UP_SETTLING_MS = 5000; // a caret blinking on the grid never settles
const int IDLE_SECONDS = 10;
const int CLOSE_TIMEOUT_MS = 5000;

volatile sig_atomic_t interrupted = 0;

extern "C" void on_interrupt(int sig)
{
    interrupted = sig;
}

double ms_between(Clock::time_point a, Clock::time_point b)
{
    return std::chrono::duration<double, std::milli>(b - a).count();
}

void sleep_ms(int ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Everything the runs share: the server, one connection to it, the
// programs, and a home of their own so that no user setting changes what
// they do (and they write nothing into the real one).
struct Setup
{
    XvfbServer server;
    std::unique_ptr<XReader> reader;
    std::string program, reference, home;
    std::vector<std::string> env;
    std::vector<std::string> notes; // closes that went wrong, printed at the end
    // Per run, for the summary: when each window was first readable, and
    // when the program's page held still.
    std::vector<double> window_ms[2], settled_ms;
    pid_t running = -1; // the program being measured, if any

    ~Setup() { stop(); }

    // The reason it cannot run, empty when it can.
    std::string start()
    {
        char exe[4096];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
        if (n <= 0) {
            return "cannot find this benchmark's own folder";
        }
        exe[n] = 0;
        std::string bin = std::filesystem::path(exe).parent_path().string();
        program = bin + "/tollbeck";
        reference = bin + "/ref_minimal_window";
        std::string pages = bin + "/../share/tollbeck/pages.bin";
        if (access(program.c_str(), X_OK) != 0) {
            return program + " is missing: build the tollbeck target";
        }
        if (access(reference.c_str(), X_OK) != 0) {
            return reference + " is missing: build the ref_minimal_window target";
        }
        if (access(pages.c_str(), R_OK) != 0) {
            return pages + " is missing: build the tollbeck_pages target";
        }

        char home_template[] = "/tmp/kivo-startup-bench-XXXXXX";
        if (!mkdtemp(home_template)) {
            return "cannot make a temporary home";
        }
        home = home_template;

        if (!server.start(1024, 768)) {
            return server.error();
        }
        reader.reset(new XReader(server.display()));
        if (!reader->connected()) {
            return "cannot connect to " + server.display();
        }

        static const char* const replaced[] = {"DISPLAY=",         "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=", "HOME=",
                                               "XDG_CONFIG_HOME=", "XDG_DATA_HOME=",   "XDG_CACHE_HOME="};
        for (char** e = environ; *e; ++e) {
            bool keep = true;
            for (const char* r : replaced) {
                keep = keep && std::strncmp(*e, r, std::strlen(r)) != 0;
            }
            if (keep) {
                env.push_back(*e);
            }
        }
        env.push_back("DISPLAY=" + server.display());
        env.push_back("SDL_VIDEODRIVER=x11");
        env.push_back("HOME=" + home);
        env.push_back("XDG_CONFIG_HOME=" + home + "/.config");
        env.push_back("XDG_DATA_HOME=" + home + "/.local/share");
        env.push_back("XDG_CACHE_HOME=" + home + "/.cache");
        return "";
    }

    void stop()
    {
        if (running > 0) {
            kill(running, SIGKILL);
            waitpid(running, nullptr, 0);
            running = -1;
        }
        reader.reset();
        server.stop();
        if (!home.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(home, ignored);
            home.clear();
        }
    }
};

Setup setup;

// A started program; pid -1 once it has been reaped.
struct Child
{
    pid_t pid = -1;
    Clock::time_point started;
};

Child launch(const std::string& path)
{
    std::vector<char*> argv{const_cast<char*>(path.c_str()), nullptr};
    std::vector<char*> envp;
    for (std::string& v : setup.env) {
        envp.push_back(&v[0]);
    }
    envp.push_back(nullptr);
    int null_fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    Child c;
    c.started = Clock::now();
    c.pid = fork();
    if (c.pid == 0) {
        // Standard error stays: a program that fails says why.
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 1);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (null_fd >= 0) {
        close(null_fd);
    }
    setup.running = c.pid;
    return c;
}

// True when the child has ended (it is then reaped); *status its wait status.
bool ended(Child& c, int* status)
{
    if (c.pid <= 0) {
        return true;
    }
    pid_t r = waitpid(c.pid, status, WNOHANG);
    if (r == c.pid || (r < 0 && errno != EINTR)) {
        c.pid = -1;
        setup.running = -1;
        return true;
    }
    return false;
}

// Asks the program to end as the desktop would (SIGTERM), waits a bounded
// time, then kills it. A close that is not a clean exit is noted.
void close_child(Child& c, const char* what)
{
    if (c.pid <= 0) {
        return;
    }
    kill(c.pid, SIGTERM);
    int status = 0;
    Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(CLOSE_TIMEOUT_MS);
    while (!ended(c, &status) && Clock::now() < deadline) {
        sleep_ms(5);
    }
    if (c.pid > 0) {
        kill(c.pid, SIGKILL);
        waitpid(c.pid, nullptr, 0);
        c.pid = -1;
        setup.running = -1;
        setup.notes.push_back(std::string(what) + " did not end within 5 s of SIGTERM and was killed");
    } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        setup.notes.push_back(std::string(what) + " ended with wait status " + std::to_string(status) +
                              " after SIGTERM");
    }
}

// The window's pixels at 8 x 3 points spread over it.
bool read_grid(unsigned long window, std::vector<std::uint32_t>* grid)
{
    static const int rows[] = {HEIGHT / 6, HEIGHT / 2, HEIGHT * 5 / 6};
    grid->clear();
    XPixels row;
    for (int y : rows) {
        if (!setup.reader->read_rgb(window, 0, y, WIDTH, 1, &row)) {
            return false;
        }
        for (int i = 0; i < 8; ++i) {
            grid->push_back(row.at((2 * i + 1) * WIDTH / 16, 0));
        }
    }
    return true;
}

bool is_empty(const std::vector<std::uint32_t>& grid)
{
    return std::all_of(grid.begin(), grid.end(), [](std::uint32_t p) { return p == 0; });
}

struct Watch
{
    std::string error;               // empty when the frame was seen
    double window_ms = 0;            // from the start to the first reading of the window
    double first_frame_ms = 0;       // from the start to the first frame that stayed
    double settled_ms = 0;           // from the start to the last change of the grid
    bool settled = false;            // false when it kept changing (given up)
    std::vector<std::uint32_t> grid; // the last reading
};

// Polls the window until it shows a frame that stays and then holds still
// for settle_ms. Every wait is bounded.
Watch watch(Child& c, const char* title, int settle_ms)
{
    Watch w;
    Clock::time_point deadline = c.started + std::chrono::milliseconds(START_TIMEOUT_MS);
    unsigned long window = 0;
    bool shown = false;
    Clock::time_point shown_at, changed_at;
    std::vector<std::uint32_t> grid;
    for (;;) {
        int status = 0;
        if (interrupted) {
            w.error = "interrupted";
            return w;
        }
        if (ended(c, &status)) {
            w.error =
                std::string(title) + " ended before it showed a frame (wait status " + std::to_string(status) + ")";
            return w;
        }
        Clock::time_point now = Clock::now();
        if (now > deadline) {
            w.error = std::string(title) + (shown ? ": the window did not settle" : ": no frame") + " within " +
                      std::to_string(START_TIMEOUT_MS / 1000) + " s";
            return w;
        }
        if (!window) {
            window = setup.reader->find_window(title);
        }
        if (window && read_grid(window, &grid)) {
            now = Clock::now();
            if (w.window_ms == 0) {
                w.window_ms = ms_between(c.started, now);
            }
            if (is_empty(grid)) {
                shown = false;
            } else if (!shown || grid != w.grid) {
                if (!shown) {
                    shown_at = now;
                }
                shown = true;
                changed_at = now;
                w.grid = grid;
            }
            double stayed = ms_between(shown_at, now), still = ms_between(changed_at, now);
            if (shown && stayed >= STAY_MS && (still >= settle_ms || stayed >= GIVE_UP_SETTLING_MS)) {
                w.first_frame_ms = ms_between(c.started, shown_at);
                w.settled_ms = ms_between(c.started, changed_at);
                w.settled = still >= settle_ms;
                return w;
            }
        } else if (window) {
            // Gone or not mapped yet: look for it again.
            window = 0;
        }
        sleep_ms(1);
    }
}

// The previous run's window must be gone before the next run looks for one
// of the same name.
void wait_until_gone(const char* title)
{
    for (int i = 0; i < 500 && setup.reader->find_window(title); ++i) {
        sleep_ms(2);
    }
}

// One start of each, unmeasured, so that the first round does not pay alone
// for a cold disk cache and an empty shader cache in the private home.
void warm_up()
{
    const std::string* paths[] = {&setup.program, &setup.reference};
    const char* titles[] = {PROGRAM_TITLE, REFERENCE_TITLE};
    for (int i = 0; i < 2 && !interrupted; ++i) {
        wait_until_gone(titles[i]);
        Child c = launch(*paths[i]);
        if (c.pid > 0) {
            watch(c, titles[i], SETTLE_MS);
            close_child(c, titles[i]);
        }
    }
}

void run_start_up(benchmark::State& state, const std::string& path, const char* title, bool ours)
{
    for (auto _ : state) {
        if (interrupted) {
            state.SkipWithError("interrupted");
            break;
        }
        wait_until_gone(title);
        Child c = launch(path);
        if (c.pid < 0) {
            state.SkipWithError("fork failed");
            break;
        }
        Watch w = watch(c, title, SETTLE_MS);
        close_child(c, title);
        if (!w.error.empty()) {
            state.SkipWithError(w.error.c_str());
            break;
        }
        if (!ours && std::any_of(w.grid.begin(), w.grid.end(), [](std::uint32_t p) { return p != REFERENCE_COLOUR; })) {
            state.SkipWithError("the reference window does not show its colour");
            break;
        }
        setup.window_ms[ours ? 0 : 1].push_back(w.window_ms);
        if (ours) {
            setup.settled_ms.push_back(w.settled ? w.settled_ms : -1);
        }
        state.SetIterationTime(w.first_frame_ms / 1000.0);
    }
}

// The real program, Release build, to its first frame.
void BM_startup_ours(benchmark::State& state)
{
    run_start_up(state, setup.program, PROGRAM_TITLE, true);
}

// A minimal SDL program: window, renderer, one clear and present.
void BM_startup_minimal_sdl(benchmark::State& state)
{
    run_start_up(state, setup.reference, REFERENCE_TITLE, false);
}

// One start per round: the rounds give the repeats, interleaved.
BENCHMARK(BM_startup_ours)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_startup_minimal_sdl)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

// utime + stime of the process, in seconds; negative when unreadable.
double cpu_seconds(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return -1;
    }
    // The name in parentheses may hold spaces; the fields count from after it.
    std::size_t close = line.rfind(')');
    if (close == std::string::npos) {
        return -1;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) {
            utime = std::strtoull(field.c_str(), nullptr, 10);
        }
        if (i == 15) {
            stime = std::strtoull(field.c_str(), nullptr, 10);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// The program's CPU share over IDLE_SECONDS on its settled settings page;
// prints the figure or why there is none.
void measure_idle()
{
    wait_until_gone(PROGRAM_TITLE);
    Child c = launch(setup.program);
    if (c.pid < 0) {
        std::printf("idle: fork failed\n");
        return;
    }
    Watch w = watch(c, PROGRAM_TITLE, IDLE_SETTLE_MS);
    if (!w.error.empty()) {
        close_child(c, PROGRAM_TITLE);
        std::printf("idle: %s\n", w.error.c_str());
        return;
    }
    double cpu0 = cpu_seconds(c.pid);
    Clock::time_point t0 = Clock::now();
    Clock::time_point end = t0 + std::chrono::seconds(IDLE_SECONDS);
    int status = 0;
    bool gone = false;
    while (Clock::now() < end && !interrupted && !(gone = ended(c, &status))) {
        sleep_ms(50);
    }
    double cpu1 = gone ? -1 : cpu_seconds(c.pid);
    double seconds = ms_between(t0, Clock::now()) / 1000.0;
    close_child(c, PROGRAM_TITLE);
    if (gone || interrupted || cpu0 < 0 || cpu1 < 0) {
        std::printf("idle: %s\n", gone ? "the program ended during the measurement" : "no measurement");
        return;
    }
    std::printf("\nidle CPU share over %.0f s: %.2f %% of one core (target < 1 %%)%s\n", seconds,
                100.0 * (cpu1 - cpu0) / seconds, w.settled ? "" : " [the page never held still]");
}

} // namespace

int main(int argc, char** argv)
{
    // An interrupt ends the runs early, but the server and the programs are
    // still stopped on the way out.
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);

    std::string problem = setup.start();
    if (!problem.empty()) {
        std::fprintf(stderr, "startup bench: %s\n", problem.c_str());
        setup.stop();
        return 1;
    }
    std::printf("program %s on Xvfb %s, %d x %d\n", setup.program.c_str(), setup.server.display().c_str(), WIDTH,
                HEIGHT);
    if (!kivo_bench::quick()) {
        warm_up();
    }
    int result = kivo_bench::run_with_ratios(
        argc, argv,
        {{"start-up to first frame vs minimal SDL window (target <= 1.3)", "BM_startup_ours/iterations:1/manual_time",
          "BM_startup_minimal_sdl/iterations:1/manual_time"}});

    // Where the time goes: up to the window, and from the window to the
    // first frame (the rest of the ratio).
    if (!setup.window_ms[0].empty() && !setup.window_ms[1].empty()) {
        std::printf("\nwindow on screen (still empty), median: ours %.1f ms, reference %.1f ms\n",
                    kivo_bench::median_of(setup.window_ms[0]), kivo_bench::median_of(setup.window_ms[1]));
    }
    std::vector<double> settled;
    for (double ms : setup.settled_ms) {
        if (ms >= 0) {
            settled.push_back(ms);
        }
    }
    if (!settled.empty()) {
        std::printf("program start to settled page (page effect done), median: %.1f ms over %zu runs\n",
                    kivo_bench::median_of(settled), settled.size());
    }
    // The idle figure takes over 10 s; a quick run only checks the starts.
    if (result == 0 && !interrupted && !kivo_bench::quick()) {
        measure_idle();
    }
    for (const std::string& note : setup.notes) {
        std::printf("note: %s\n", note.c_str());
    }
    setup.stop();
    if (interrupted) {
        std::printf("interrupted: the runs were cut short\n");
        std::fflush(stdout);
        signal(interrupted, SIG_DFL);
        raise(interrupted);
    }
    return result;
}
