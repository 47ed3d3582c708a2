#ifndef KIVO_TEST_PIPE_SWAP_H
#define KIVO_TEST_PIPE_SWAP_H

// Loads that must never wait on a named pipe put where a file was: the
// loads run in a forked child while this process renames a pipe and the
// file over the name in turn, as fast as it can. A load that judged the
// name before opening it may open the pipe, and an open of a pipe for
// reading waits for a writer that never comes.
#include <csignal>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>

namespace kivo_test {

// `load` runs `rounds` times in the child. True when the child ended by
// itself with status 0 within `limit`; a child still running then is killed.
template <typename F>
bool loads_end_while_pipes_swap_in(const std::string& path, F load, int rounds,
                                   std::chrono::seconds limit = std::chrono::seconds(60))
{
    const std::string file = path + ".file", link_tmp = path + ".link", pipe_tmp = path + ".pipe";
    if (rename(path.c_str(), file.c_str()) != 0) {
        return false;
    }
    pid_t pid = fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // From the first swap on.
        struct stat st;
        while (lstat(path.c_str(), &st) != 0) {
            sched_yield();
        }
        for (int i = 0; i < rounds; i++) {
            load();
        }
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    for (;;) {
        pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (ended < 0 || std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        // The file by a second name, so that it can be renamed in whole.
        if (link(file.c_str(), link_tmp.c_str()) == 0) {
            rename(link_tmp.c_str(), path.c_str());
        }
        if (mkfifo(pipe_tmp.c_str(), 0600) == 0) {
            rename(pipe_tmp.c_str(), path.c_str());
        }
    }
}

} // namespace kivo_test

#endif
