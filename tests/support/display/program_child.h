#ifndef KIVO_TEST_PROGRAM_CHILD_H
#define KIVO_TEST_PROGRAM_CHILD_H

// A program run as a child process of a test: the built program on a
// private display, or a tool that drives it. Its output is kept in memory
// files, so a child that writes a lot never blocks on a full pipe; every
// wait is bounded, and a child still running when the object goes is
// killed.
#include <sys/types.h>

#include <string>
#include <vector>

namespace kivo_test {

class ProgramChild
{
public:
    ProgramChild() = default;
    ~ProgramChild();
    ProgramChild(const ProgramChild&) = delete;
    ProgramChild& operator=(const ProgramChild&) = delete;

    // Starts `program` (a path) with `args` and this process's environment
    // less DISPLAY, SDL_VIDEODRIVER and ASAN_OPTIONS, plus `extra`
    // ("NAME=value"). Leak checking is off in the child: the X and GL
    // libraries a windowed program loads leave what no suppression can
    // name; every other sanitizer check stays on. A child still running is
    // killed first. False when nothing could be started; a program that
    // cannot be executed ends with status 127.
    bool start(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& extra = {});

    bool running() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Waits at most timeout_ms for the child: its exit status, or -1 when
    // it did not end in time (it is then killed) or ended by a signal.
    int wait_for_exit(int timeout_ms);
    // Kills a running child and reaps it.
    void kill_now();

    // What the child has written so far.
    std::string out() const;
    std::string err() const;

private:
    void close_output();

    pid_t pid_ = -1;
    int out_fd_ = -1, err_fd_ = -1;
};

} // namespace kivo_test

#endif
