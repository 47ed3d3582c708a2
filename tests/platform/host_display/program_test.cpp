// The program itself, run as a child process: on a private X server it
// shows the splash, then its window, and ends cleanly on SIGTERM; with no
// display it fails with a clear message; its command line works anywhere.
#include "image.h"
#include "kivo_logo.h"
#include "x_display.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

extern char** environ;

namespace {

using kivo_test::XPixels;
using kivo_test::XReader;
using kivo_test::XvfbServer;

const int WAIT_MS = 10000;

struct CHILD
{
    pid_t pid = -1;
    int out_fd = -1, err_fd = -1;
};

// Starts the program with this environment less DISPLAY, the SDL driver
// and the sanitizer options, plus `extra` ("NAME=value"). Leak checking is
// off in the child: the X and GL libraries it loads leave what no
// suppression can name.
CHILD start_program(const std::vector<std::string>& args, const std::vector<std::string>& extra)
{
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string v = *e;
        if (v.rfind("DISPLAY=", 0) == 0 || v.rfind("SDL_VIDEODRIVER=", 0) == 0 || v.rfind("ASAN_OPTIONS=", 0) == 0)
            continue;
        env.push_back(v);
    }
    env.push_back("ASAN_OPTIONS=detect_leaks=0");
    env.insert(env.end(), extra.begin(), extra.end());

    std::string program = std::string(KIVO_TEST_BIN_DIR) + "/tollbeck";
    std::vector<char*> argv{&program[0]};
    std::vector<std::string> arg_copies = args;
    for (std::string& a : arg_copies)
        argv.push_back(&a[0]);
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : env)
        envp.push_back(&v[0]);
    envp.push_back(nullptr);

    int out[2], err[2];
    CHILD c;
    if (pipe(out) != 0 || pipe(err) != 0)
        return c;
    c.pid = fork();
    if (c.pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    c.out_fd = out[0];
    c.err_fd = err[0];
    return c;
}

// Waits at most timeout_ms for the child; its exit status, or -1 when it
// did not end (it is then killed) or ended by a signal.
int wait_for_exit(CHILD& c, int timeout_ms)
{
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status = 0;
        if (waitpid(c.pid, &status, WNOHANG) == c.pid) {
            c.pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        struct timespec t = {0, 10 * 1000000L};
        nanosleep(&t, nullptr);
    }
    kill(c.pid, SIGKILL);
    waitpid(c.pid, nullptr, 0);
    c.pid = -1;
    return -1;
}

std::string read_all(int fd)
{
    std::string s;
    char buf[4096];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        s.append(buf, static_cast<std::size_t>(n));
    close(fd);
    return s;
}

// What an image shows on screen: its colour channels, row by row.
std::vector<std::uint32_t> rgb_of(const IMAGE& im)
{
    std::vector<std::uint32_t> v;
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x)
            v.push_back(im.pixels[y * im.stride + x] & 0xFFFFFFu);
    return v;
}

} // namespace

TEST(Program, SplashThenItsWindowThenEndsOnSigterm)
{
    XvfbServer server;
    ASSERT_TRUE(server.start(1024, 768)) << server.error();
    XReader reader(server.display());
    ASSERT_TRUE(reader.connected());

    CHILD c = start_program({}, {"DISPLAY=" + server.display()});
    ASSERT_GT(c.pid, 0);

    IMAGE splash;
    get_kivo_logo_with_text(splash);
    unsigned long w = reader.wait_for_window("Please Wait", WAIT_MS);
    ASSERT_NE(w, 0ul);
    XPixels seen;
    EXPECT_TRUE(reader.wait_for_rgb(w, 0, 0, 195, 80, rgb_of(splash), WAIT_MS, &seen));
    EXPECT_FALSE(reader.read_rgb(w, 195, 0, 1, 1, &seen)); // no wider than the picture
    EXPECT_FALSE(reader.read_rgb(w, 0, 80, 1, 1, &seen));

    IMAGE expected;
    expected.setup(640, 480);
    expected.clear(0xFF000000u, 1);
    IMAGE logo;
    get_kivo_logo(logo);
    logo.put((640 - 80) / 2, (480 - 75) / 2, &expected, IMAGE_COPY_REPLACE);
    unsigned long main = reader.wait_for_window("Tollbeck v1.0", WAIT_MS);
    ASSERT_NE(main, 0ul);
    EXPECT_TRUE(reader.wait_for_rgb(main, 0, 0, 640, 480, rgb_of(expected), WAIT_MS, &seen));
    EXPECT_FALSE(reader.read_rgb(main, 640, 0, 1, 1, &seen));

    ASSERT_EQ(kill(c.pid, SIGTERM), 0);
    EXPECT_EQ(wait_for_exit(c, 2000), 0);
    read_all(c.out_fd);
    read_all(c.err_fd);
}

TEST(Program, NoDisplayFailsClearlyAndTheCommandLineStillWorks)
{
    CHILD c = start_program({}, {});
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(wait_for_exit(c, WAIT_MS), 1);
    read_all(c.out_fd);
    EXPECT_NE(read_all(c.err_fd).find("Unable to open the window"), std::string::npos);

    c = start_program({"--kivo"}, {});
    ASSERT_GT(c.pid, 0);
    EXPECT_EQ(wait_for_exit(c, WAIT_MS), 0);
    EXPECT_NE(read_all(c.out_fd).find("usage: "), std::string::npos);
    read_all(c.err_fd);
}
