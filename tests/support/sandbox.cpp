#include "sandbox.h"

#include "file_system_shared.h"
#include "folder.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace kivo_test {
namespace {

std::string root;
int counter = 0;

const char* const sandbox_vars[kSandboxVars] = {"HOME",          "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME",
                                                "XDG_DATA_DIRS", "TMPDIR",        "XDG_RUNTIME_DIR"};

void point_env_at(const std::string& base)
{
    mkdir((base + "/home").c_str(), 0700);
    mkdir((base + "/home/.local").c_str(), 0700);
    mkdir((base + "/home/.local/share").c_str(), 0700);
    mkdir((base + "/home/.config").c_str(), 0700);
    mkdir((base + "/home/.cache").c_str(), 0700);
    mkdir((base + "/tmp").c_str(), 0700);
    mkdir((base + "/usr-share").c_str(), 0700);
    mkdir((base + "/run").c_str(), 0700);
    setenv("HOME", (base + "/home").c_str(), 1);
    setenv("XDG_DATA_HOME", (base + "/home/.local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (base + "/home/.config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (base + "/home/.cache").c_str(), 1);
    setenv("XDG_DATA_DIRS", (base + "/usr-share").c_str(), 1);
    setenv("TMPDIR", (base + "/tmp").c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (base + "/run").c_str(), 1);
    // The file-system lock's folder follows no variable: it goes where the
    // system's /tmp would hold it (open to every user, as /tmp is, for
    // tests that run as another) or the home.
    fs_shared::set_lock_bases_for_testing((root + "/locks").c_str(), (base + "/home").c_str());
}

} // namespace

void enter_process_sandbox()
{
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/kivo-test-XXXXXX";
    std::string buf = templ;
    if (!mkdtemp(&buf[0])) {
        std::perror("mkdtemp");
        std::exit(2);
    }
    root = buf;
    // Searchable by every user, for the lock folders' stand-in for /tmp.
    chmod(root.c_str(), 0711);
    mkdir((root + "/locks").c_str(), 01777);
    chmod((root + "/locks").c_str(), 01777);
    point_env_at(root);
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

void leave_process_sandbox()
{
    if (!root.empty() && !std::getenv("KIVO_KEEP_TEST_DIRS")) {
        remove_tree(root);
    }
    root.clear();
}

void redirect_appdata(const std::string& dir)
{
    mkdir(dir.c_str(), 0700);
    FOLDER appdata;
    if (appdata.set_from_path_string(dir.c_str())) {
        FOLDER::add_custom_path("$APPDATA", appdata);
    }
}

void restore_appdata()
{
    FOLDER::remove_custom_path("$APPDATA");
}

std::string make_temp_dir(const char* tag)
{
    if (root.empty()) {
        enter_process_sandbox();
    }
    std::string d = root + "/" + tag + std::to_string(getpid()) + "_" + std::to_string(++counter);
    mkdir(d.c_str(), 0700);
    return d;
}

void remove_tree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* d = opendir(path.c_str())) {
            while (dirent* e = readdir(d)) {
                if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) {
                    continue;
                }
                remove_tree(path + "/" + e->d_name);
            }
            closedir(d);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

bool open_sandbox_to_others(const std::string& from)
{
    for (std::string p = from; p.find("/kivo-test-") != std::string::npos; p = p.substr(0, p.rfind('/'))) {
        struct stat st;
        if (stat(p.c_str(), &st) != 0 || chmod(p.c_str(), (st.st_mode & 07777) | 0011) != 0) {
            return false;
        }
    }
    return true;
}

bool write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(f);
}

std::string read_from_start(int fd)
{
    std::string s;
    if (fd < 0) {
        return s;
    }
    char buf[4096];
    off_t at = 0;
    for (;;) {
        ssize_t n = pread(fd, buf, sizeof buf, at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        s.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return s;
}

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void SandboxTest::SetUp()
{
    dir = make_temp_dir("case");
    for (int i = 0; i < kSandboxVars; ++i) {
        const char* v = std::getenv(sandbox_vars[i]);
        had_env[i] = v != nullptr;
        saved_env[i] = v ? v : "";
    }
    point_env_at(dir);
}

void SandboxTest::TearDown()
{
    for (int i = 0; i < kSandboxVars; ++i) {
        if (had_env[i]) {
            setenv(sandbox_vars[i], saved_env[i].c_str(), 1);
        } else {
            unsetenv(sandbox_vars[i]);
        }
    }
    fs_shared::set_lock_bases_for_testing((root + "/locks").c_str(), (root + "/home").c_str());
    remove_tree(dir);
}

void ScratchFolderTest::SetUp()
{
    SandboxTest::SetUp();
    work = path("w");
    ASSERT_EQ(mkdir(work.c_str(), 0755), 0);
}

} // namespace kivo_test
