// The private SMB server of smb_server.h: smbd started in fresh network and
// process namespaces, smbclient run in the network namespace.
#include "smb_server.h"

#include "child_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <utility>
#include <vector>

namespace kivo_test {
namespace {

// smbd listens here inside its namespace: the namespace is the test's
// alone, so the port is always free.
constexpr int kPort = 445;
constexpr int kPollMs = 20;
// smbd gets this long to end on SIGTERM before its process group is killed.
constexpr int kStopMs = 10000;

void sleep_ms(int ms)
{
    struct timespec t = {ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

// `name` in PATH or in the folders Debian installs the Samba programs in
// (the system folders need not be in a test's PATH), "" when absent.
std::string find_program(const char* name)
{
    std::string dirs = std::getenv("PATH") ? std::getenv("PATH") : "";
    dirs += ":/usr/sbin:/usr/bin:/sbin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) {
            end = dirs.size();
        }
        std::string dir = dirs.substr(at, end - at);
        if (!dir.empty()) {
            std::string path = dir + "/" + name;
            if (access(path.c_str(), X_OK) == 0) {
                return path;
            }
        }
        at = end + 1;
    }
    return "";
}

// Reaps `pid` when it ended within timeout_ms: its exit status, -1 for a
// signal. Returns -2 (child still running) otherwise.
int wait_bounded(pid_t pid, int timeout_ms)
{
    for (int waited = 0;; waited += kPollMs) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        if (r < 0 && errno != EINTR) {
            return -1;
        }
        if (waited >= timeout_ms) {
            return -2;
        }
        sleep_ms(kPollMs);
    }
}

// Runs `argv` (argv[0] a path) with stdin from /dev/null, in the network
// namespace `netns_fd` when that is >= 0; output gets stdout and stderr.
// The exit status, or -1 when it could not run, died of a signal or was
// killed after timeout_ms.
int run_program(const std::vector<std::string>& args, int netns_fd, int timeout_ms, std::string* output)
{
    std::vector<std::string> copies = args;
    std::vector<char*> argv;
    for (std::string& a : copies) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    int out = memfd_create("smb output", MFD_CLOEXEC);
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (out < 0 || null_fd < 0) {
        close(out);
        close(null_fd);
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        if ((netns_fd >= 0 && setns(netns_fd, CLONE_NEWNET) != 0) || dup2(null_fd, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(out, 2) < 0) {
            _exit(126);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(null_fd);
    int code = -1;
    if (pid > 0) {
        code = wait_bounded(pid, timeout_ms);
        if (code == -2) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
            code = -1;
        }
    }
    if (output) {
        *output = read_from_start(out);
    }
    close(out);
    return code;
}

// "" when every VFS module the share names is installed (they come in a
// package of their own, samba-vfs-modules, apart from smbd).
std::string missing_modules(const std::string& smbd)
{
    std::string build;
    if (run_program({smbd, "-b"}, -1, 30000, &build) != 0) {
        return "smbd -b failed: " + build.substr(0, 300);
    }
    const std::string key = "MODULESDIR: ";
    std::size_t at = build.find(key);
    if (at == std::string::npos) {
        return "";
    }
    at += key.size();
    std::string dir = build.substr(at, build.find('\n', at) - at);
    std::string missing;
    for (const char* m : {"catia", "fruit", "streams_xattr"}) {
        if (access((dir + "/vfs/" + m + ".so").c_str(), R_OK) != 0) {
            missing += std::string(missing.empty() ? "" : ", ") + m;
        }
    }
    return missing.empty() ? "" : "Samba's VFS modules are missing: " + missing + " (package samba-vfs-modules)";
}

// What a child of start() reports when it cannot go on, with errno.
enum StartStep
{
    kStepNamespaces,
    kStepLoopback,
    kStepExec
};

// The keeper of the server's namespaces, in a child of start() (so it makes
// only system calls); it never returns. It makes a network namespace and a
// process namespace, raises lo and starts smbd as the first process of the
// process namespace, then waits for it and ends with its status. When smbd
// ends, the kernel kills and reaps every process left in its namespace, so
// nothing it started outlives it, not even as a zombie.
[[noreturn]] void keep_server(char* const* argv, struct ifreq lo, int log_fd, int null_fd, int report_fd)
{
    auto report = [report_fd](StartStep step) {
        int what[2] = {step, errno};
        (void)!write(report_fd, what, sizeof what);
        _exit(127);
    };
    // A process group of its own, which stop() signals: SIGTERM is for
    // smbd, the keeper stays to reap it.
    if (setpgid(0, 0) != 0 || signal(SIGTERM, SIG_IGN) == SIG_ERR || unshare(CLONE_NEWNET | CLONE_NEWPID) != 0) {
        report(kStepNamespaces);
    }
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0 || ioctl(s, SIOCGIFFLAGS, &lo) != 0) {
        report(kStepLoopback);
    }
    lo.ifr_flags = static_cast<short>(lo.ifr_flags | IFF_UP);
    if (ioctl(s, SIOCSIFFLAGS, &lo) != 0) {
        report(kStepLoopback);
    }
    close(s);
    pid_t smbd = fork();
    if (smbd == 0) {
        if (signal(SIGTERM, SIG_DFL) != SIG_ERR && dup2(null_fd, 0) >= 0 && dup2(log_fd, 1) >= 0 &&
            dup2(log_fd, 2) >= 0) {
            execv(argv[0], argv);
        }
        report(kStepExec);
    }
    if (smbd < 0) {
        report(kStepExec);
    }
    // The report pipe now closes when smbd execs.
    close(report_fd);
    int status = 0;
    while (waitpid(smbd, &status, 0) < 0 && errno == EINTR) {
    }
    _exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128);
}

std::string find_reason()
{
    std::string smbd = find_program("smbd");
    if (smbd.empty() || find_program("smbclient").empty()) {
        return "smbd or smbclient is not installed (packages samba, smbclient, samba-vfs-modules)";
    }
    if (geteuid() != 0) {
        return "smbd must run as root: it takes each client's user and groups, which a user namespace refuses";
    }
    int code = run_in_child([] { return unshare(CLONE_NEWNET | CLONE_NEWPID) == 0 ? 0 : errno & 0xff; });
    if (code != 0) {
        return std::string("cannot make a network and a process namespace: ") +
               (code > 0 ? std::strerror(code) : "the probe did not run");
    }
    return missing_modules(smbd);
}

// Whether the child `pid` has ended, leaving it unreaped.
bool has_ended(pid_t pid)
{
    siginfo_t info;
    info.si_pid = 0;
    return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == pid;
}

// smb.conf for a share of `share_dir` with smbd's files in `work`. Every
// folder smbd writes is named: by default they are the system's. The log
// file only places the folder for core dumps; the log itself goes to
// standard output.
std::string config_text(const std::string& share_dir, const std::string& work)
{
    const struct passwd* me = getpwuid(geteuid());
    const std::pair<const char*, std::string> global[] = {
        {"server role", "standalone server"},
        {"workgroup", "KIVO"},
        {"netbios name", "KIVOTEST"},
        {"disable netbios", "yes"},
        {"smb ports", std::to_string(kPort)},
        {"interfaces", "lo"},
        {"bind interfaces only", "yes"},
        {"state directory", work + "/state"},
        {"lock directory", work + "/lock"},
        {"cache directory", work + "/cache"},
        {"pid directory", work + "/pid"},
        {"private dir", work + "/private"},
        {"ncalrpc dir", work + "/ncalrpc"},
        {"passdb backend", "tdbsam:" + work + "/private/passdb.tdb"},
        {"log file", work + "/log/log.%m"},
        {"log level", "1"},
        {"load printers", "no"},
        {"printing", "bsd"},
        {"printcap name", "/dev/null"},
        {"disable spoolss", "yes"},
        {"map to guest", "Bad User"},
    };
    // Guests act as this process's user, who owns the shared folder.
    const std::pair<const char*, std::string> share[] = {
        {"path", share_dir},
        {"read only", "no"},
        {"guest ok", "yes"},
        {"force user", me ? me->pw_name : "root"},
        {"ea support", "yes"},
        {"vfs objects", "catia fruit streams_xattr"},
        {"fruit:metadata", "netatalk"},
    };
    std::string conf = "[global]\n";
    for (const auto& p : global) {
        conf += std::string("  ") + p.first + " = " + p.second + "\n";
    }
    conf += "\n[share]\n";
    for (const auto& p : share) {
        conf += std::string("  ") + p.first + " = " + p.second + "\n";
    }
    return conf;
}

// Forks the keeper of smbd (`args`, its log to `log_path`): its pid, or -1
// with `why` when smbd could not be started.
pid_t launch_keeper(std::vector<std::string> args, const std::string& log_path, std::string* why)
{
    // Everything the children need is made before fork: they only make
    // the namespaces, raise the loopback interface and exec.
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    struct ifreq lo;
    std::memset(&lo, 0, sizeof lo);
    std::memcpy(lo.ifr_name, "lo", 3);
    int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0600);
    int null_fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
    int report[2] = {-1, -1};
    if (log_fd < 0 || null_fd < 0 || pipe2(report, O_CLOEXEC) != 0) {
        close(log_fd);
        close(null_fd);
        *why = "cannot open " + log_path;
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        keep_server(argv.data(), lo, log_fd, null_fd, report[1]);
    }
    close(report[1]);
    close(log_fd);
    close(null_fd);
    // The pipe closes when smbd execs: nothing read means smbd runs.
    int what[2] = {0, 0};
    ssize_t n = 0;
    while (pid > 0 && (n = read(report[0], what, sizeof what)) < 0 && errno == EINTR) {
    }
    close(report[0]);
    if (pid < 0) {
        *why = "cannot fork";
        return -1;
    }
    if (n > 0) {
        static const char* const steps[] = {"cannot make a network and a process namespace", "cannot raise lo",
                                            "cannot start smbd"};
        *why = std::string(steps[what[0] % 3]) + ": " + std::strerror(what[1]);
        while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

// A child in the network namespace `netns_fd` that knocks on smbd's port
// until it answers (exit 0) or timeout_ms pass (exit 1).
pid_t start_probe(int netns_fd, int timeout_ms)
{
    return start_child([netns_fd, timeout_ms] {
        if (setns(netns_fd, CLONE_NEWNET) != 0) {
            return 2;
        }
        struct sockaddr_in addr;
        std::memset(&addr, 0, sizeof addr);
        addr.sin_family = AF_INET;
        addr.sin_port = htons(kPort);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int waited = 0; waited <= timeout_ms; waited += kPollMs) {
            int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            bool up = s >= 0 && connect(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
            close(s);
            if (up) {
                return 0;
            }
            sleep_ms(kPollMs);
        }
        return 1;
    });
}

std::string in_quotes(const std::string& s)
{
    return "\"" + s + "\"";
}

} // namespace

const std::string& SmbServer::unavailable_reason()
{
    static const std::string reason = find_reason();
    return reason;
}

SmbServer::~SmbServer()
{
    stop();
}

bool SmbServer::fail(const std::string& why)
{
    std::string tail = log();
    if (tail.size() > 3000) {
        tail = "..." + tail.substr(tail.size() - 3000);
    }
    stop();
    error_ = why + (tail.empty() ? "" : "\nsmbd's log:\n" + tail);
    return false;
}

bool SmbServer::start(const std::string& share_dir, const std::string& work_dir, int timeout_ms)
{
    stop();
    error_.clear();
    work_ = work_dir;
    conf_ = work_ + "/smb.conf";
    std::string smbd = find_program("smbd");
    if (smbd.empty()) {
        return fail("smbd is not installed");
    }
    mkdir(work_.c_str(), 0700);
    for (const char* sub : {"state", "lock", "cache", "pid", "private", "ncalrpc", "log"}) {
        mkdir((work_ + "/" + sub).c_str(), 0700);
    }
    if (!write_file(conf_, config_text(share_dir, work_))) {
        return fail("cannot write " + conf_);
    }
    std::string why;
    pid_ = launch_keeper({smbd, "--foreground", "--no-process-group", "--debug-stdout", "-s", conf_},
                         work_ + "/smbd.log", &why);
    if (pid_ < 0) {
        return fail(why);
    }
    netns_fd_ = open(("/proc/" + std::to_string(pid_) + "/ns/net").c_str(), O_RDONLY | O_CLOEXEC);
    if (netns_fd_ < 0) {
        return fail("cannot open smbd's network namespace");
    }
    pid_t probe = start_probe(netns_fd_, timeout_ms);
    if (probe < 0) {
        return fail("cannot fork");
    }
    for (;;) {
        int code = wait_bounded(probe, kPollMs);
        if (code == 0) {
            return true;
        }
        if (code != -2) {
            return fail("smbd did not accept connections within " + std::to_string(timeout_ms) + " ms");
        }
        if (has_ended(pid_)) {
            kill(probe, SIGKILL);
            waitpid(probe, nullptr, 0);
            return fail("smbd ended while starting");
        }
    }
}

void SmbServer::stop()
{
    if (pid_ > 0) {
        kill(-pid_, SIGTERM);
        // The keeper ends once smbd and its namespace have. It is waited for
        // but left a zombie, so that its process group cannot be reused
        // while whatever remains of the group is killed.
        for (int waited = 0; waited < kStopMs && !has_ended(pid_); waited += kPollMs) {
            sleep_ms(kPollMs);
        }
        kill(-pid_, SIGKILL);
        while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    if (netns_fd_ >= 0) {
        close(netns_fd_);
        netns_fd_ = -1;
    }
}

SmbResult SmbServer::run(const std::string& commands, int timeout_ms) const
{
    SmbResult r;
    if (netns_fd_ < 0) {
        r.output = "no server running";
        return r;
    }
    r.exit_code = run_program({find_program("smbclient"), "-s", conf_, "-N", "//127.0.0.1/share", "-c", commands},
                              netns_fd_, timeout_ms, &r.output);
    return r;
}

std::string SmbServer::local_temp_path() const
{
    return work_ + "/transfer" + std::to_string(++temp_counter_);
}

bool SmbServer::write_stream(const std::string& name, const std::string& stream, const std::string& bytes,
                             std::string* why) const
{
    std::string local = local_temp_path();
    SmbResult r;
    if (!write_file(local, bytes)) {
        r.output = "cannot write " + local;
    } else {
        r = run("put " + in_quotes(local) + " " + in_quotes(name + ":" + stream));
    }
    unlink(local.c_str());
    if (why) {
        *why = r.output;
    }
    return r.ok();
}

bool SmbServer::read_stream(const std::string& name, const std::string& stream, std::string* bytes,
                            std::string* why) const
{
    std::string local = local_temp_path();
    SmbResult r = run("get " + in_quotes(name + ":" + stream) + " " + in_quotes(local));
    if (bytes) {
        *bytes = r.ok() ? read_file(local) : std::string();
    }
    unlink(local.c_str());
    if (why) {
        *why = r.output;
    }
    return r.ok();
}

std::string SmbServer::log() const
{
    return work_.empty() ? std::string() : read_file(work_ + "/smbd.log");
}

void SmbShareTest::SetUp()
{
    ScratchFolderTest::SetUp();
    if (HasFatalFailure()) {
        return;
    }
    const std::string& reason = SmbServer::unavailable_reason();
    if (!reason.empty()) {
        GTEST_SKIP() << "no private SMB server here: " << reason;
    }
    ASSERT_TRUE(smb.start(work, path("smb"))) << smb.error();
}

void SmbShareTest::TearDown()
{
    smb.stop();
    ScratchFolderTest::TearDown();
}

} // namespace kivo_test
