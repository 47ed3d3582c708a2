// The program itself, run as a child process: with no display it fails
// with a clear message; its command line works anywhere.
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

} // namespace

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
