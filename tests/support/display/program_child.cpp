// The child processes of program_child.h.
#include "program_child.h"

#include "sandbox.h"

#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

extern char** environ;

namespace kivo_test {
namespace {

bool is_dropped(const std::string& v)
{
    for (const char* name : {"DISPLAY=", "SDL_VIDEODRIVER=", "ASAN_OPTIONS="}) {
        if (v.rfind(name, 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

ProgramChild::~ProgramChild()
{
    kill_now();
    close_output();
}

bool ProgramChild::start(const std::string& program, const std::vector<std::string>& args,
                         const std::vector<std::string>& extra)
{
    kill_now();
    close_output();
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        if (!is_dropped(*e)) {
            env.push_back(*e);
        }
    }
    env.push_back("ASAN_OPTIONS=detect_leaks=0");
    env.insert(env.end(), extra.begin(), extra.end());

    // Everything the child needs is made before fork: it only execs.
    std::vector<std::string> arg_copies{program};
    arg_copies.insert(arg_copies.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : arg_copies) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& v : env) {
        envp.push_back(&v[0]);
    }
    envp.push_back(nullptr);

    out_fd_ = memfd_create("child stdout", MFD_CLOEXEC);
    err_fd_ = memfd_create("child stderr", MFD_CLOEXEC);
    if (out_fd_ < 0 || err_fd_ < 0) {
        close_output();
        return false;
    }
    pid_t pid = fork();
    if (pid == 0) {
        // dup2 clears close-on-exec on the copies.
        dup2(out_fd_, 1);
        dup2(err_fd_, 2);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (pid < 0) {
        close_output();
        return false;
    }
    pid_ = pid;
    return true;
}

int ProgramChild::wait_for_exit(int timeout_ms)
{
    if (pid_ <= 0) {
        return -1;
    }
    for (int waited = 0; waited <= timeout_ms; waited += 10) {
        int status = 0;
        pid_t r = waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (r < 0 && errno != EINTR) {
            pid_ = -1;
            return -1;
        }
        struct timespec t = {0, 10 * 1000000L};
        nanosleep(&t, nullptr);
    }
    kill_now();
    return -1;
}

void ProgramChild::kill_now()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGKILL);
    while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

std::string ProgramChild::out() const
{
    return read_from_start(out_fd_);
}

std::string ProgramChild::err() const
{
    return read_from_start(err_fd_);
}

void ProgramChild::close_output()
{
    for (int* fd : {&out_fd_, &err_fd_}) {
        if (*fd >= 0) {
            close(*fd);
            *fd = -1;
        }
    }
}

} // namespace kivo_test
