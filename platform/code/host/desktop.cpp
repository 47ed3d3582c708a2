// Desktop services: the default opener, starting another program, and
// shortcuts in the desktop folder. Programs are started with an argument
// vector, never through a shell, so no name is ever read as a command.
#include "file_system.h"
#include "folder.h"
#include "host_utils.h"
#include "kivo_host.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr short shortcut_url = 2;

std::vector<pid_t>& openers()
{
    static std::vector<pid_t> pids;
    return pids;
}

void reap_at_exit()
{
    reap_finished_openers();
}

// Starts argv[0] with the rest of the null-ended argv; 0 when it started,
// else the errno value.
int spawn(const char* const* argv, bool search_path, pid_t* started)
{
    char* const* args = const_cast<char* const*>(argv);
    pid_t pid = 0;
    int err = search_path ? posix_spawnp(&pid, argv[0], nullptr, nullptr, args, environ)
                          : posix_spawn(&pid, argv[0], nullptr, nullptr, args, environ);
    if (err == 0 && started) {
        *started = pid;
    }
    return err;
}

// The desktop's opener: xdg-open, or GLib's gio where xdg-utils is not
// installed. The path or address is one argument of its own, and never
// one that starts with '-', which either would read as an option.
INT_S32 start_opener(const char* argument)
{
    reap_finished_openers();
    pid_t pid = 0;
    const char* xdg_open[] = {"xdg-open", argument, nullptr};
    int err = spawn(xdg_open, true, &pid);
    if (err == ENOENT) {
        const char* gio_open[] = {"gio", "open", argument, nullptr};
        err = spawn(gio_open, true, &pid);
    }
    if (err != 0) {
        return fs_error_from_errno(err);
    }
    static const bool registered = std::atexit(reap_at_exit) == 0;
    (void)registered;
    openers().push_back(pid);
    return FS_OK;
}

// Bytes below 0x20 and 0x7F: in a .url file a line break starts a line
// of its own; in a link or an address no such byte belongs.
bool has_control_character(const std::string& text)
{
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7F) {
            return true;
        }
    }
    return false;
}

// The host path of `name` in `folder`, or of `name` alone (a whole path)
// when there is no folder; false when it cannot be formed.
bool host_path(FOLDER* folder, const char* name, std::string& out)
{
    if (folder) {
        out = folder->get_path_string(name);
        return !out.empty();
    }
    char host[FS_PATH_MAX];
    if (!name || !name[0] || !fs_name_to_host(name, host, sizeof host)) {
        return false;
    }
    out = host;
    return true;
}

INT_S32 desktop_folder(std::string& out)
{
    const char* dir = std::getenv("XDG_DESKTOP_DIR");
    if (dir && dir[0] == '/') {
        out = dir;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') {
            return FS_NOT_FOUND;
        }
        out = std::string(home) + "/Desktop";
    }
    struct stat st;
    if (stat(out.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return FS_NOT_FOUND;
    }
    return FS_OK;
}

// desktop + "/" + the host form of name + suffix.
INT_S32 desktop_entry(const char* name, const char* suffix, std::string& out)
{
    if (!name || !name[0]) {
        return FS_BAD_ARGUMENT;
    }
    std::string system_name = std::string(name) + suffix;
    char host[FS_PATH_MAX];
    if (!fs_is_valid_name(system_name.c_str()) || !fs_name_to_host(system_name.c_str(), host, sizeof host)) {
        return FS_BAD_NAME;
    }
    INT_S32 r = desktop_folder(out);
    if (r == FS_OK) {
        out += "/";
        out += host;
    }
    return r;
}

INT_S32 write_all(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fs_error_from_errno(n < 0 ? errno : EIO);
        }
        done += static_cast<std::size_t>(n);
    }
    return FS_OK;
}

INT_S32 write_url_shortcut(const std::string& file, const std::string& url)
{
    // Never written through a link someone left under that name.
    int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return fs_error_from_errno(errno);
    }
    INT_S32 r = write_all(fd, "[InternetShortcut]\nURL=" + url + "\n");
    if (close(fd) != 0 && r == FS_OK) {
        r = fs_error_from_errno(errno);
    }
    return r;
}

// The target's own name: what follows its last '/' (trailing ones ignored).
std::string base_name(std::string path)
{
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace

void reap_finished_openers()
{
    std::vector<pid_t>& pids = openers();
    for (std::size_t i = 0; i < pids.size();) {
        pid_t r = waitpid(pids[i], nullptr, WNOHANG);
        if (r == 0 || (r < 0 && errno == EINTR)) {
            ++i;
            continue;
        }
        pids.erase(pids.begin() + static_cast<long>(i));
    }
}

INT_S32 open_url_in_default_browser(const char* url)
{
    if (!url || !url[0] || url[0] == '-') {
        return FS_BAD_ARGUMENT;
    }
    return start_opener(url);
}

INT_S32 open_file_with_default_app(FOLDER* folder, const char* name)
{
    std::string path;
    if (!host_path(folder, name, path)) {
        return FS_BAD_ARGUMENT;
    }
    // The opener reports nothing back: a missing file is told here.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (path[0] == '-') {
        path.insert(0, "./");
    }
    return start_opener(path.c_str());
}

void run_program(FOLDER* folder, const char* name)
{
    std::string path;
    bool started = false;
    if (host_path(folder, name, path)) {
        const char* argv[] = {path.c_str(), nullptr};
        started = spawn(argv, false, nullptr) == 0;
    }
    if (!started) {
        std::string reason = "Unable to start " + (path.empty() ? std::string(name ? name : "") : path);
        exit_app(reason.c_str(), 1);
    }
    exit_app("", 0);
}

bool get_running_app(FOLDER* folder, char* name)
{
    char exe[FS_PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        return false;
    }
    exe[n] = 0;
    char* slash = std::strrchr(exe, '/');
    if (!slash) {
        return false;
    }
    if (name && !fs_name_from_host(slash + 1, name, FS_NAME_MAX + 1)) {
        return false;
    }
    slash[slash == exe ? 1 : 0] = 0;
    return !folder || folder->set_from_path_string(exe);
}

INT_S32 create_desktop_shortcut(short type, const char* target, const char*, const char* name, const char*, const char*,
                                FOLDER* target_folder)
{
    std::string target_path;
    if (!target || !host_path(target_folder, target, target_path) || has_control_character(target_path)) {
        return FS_BAD_ARGUMENT;
    }
    std::string entry;
    if (type == shortcut_url) {
        INT_S32 r = desktop_entry(name, ".url", entry);
        return r != FS_OK ? r : write_url_shortcut(entry, target_path);
    }
    std::string link_name = name && name[0] ? std::string(name) : base_name(target);
    INT_S32 r = desktop_entry(link_name.c_str(), "", entry);
    if (r != FS_OK) {
        return r;
    }
    return symlink(target_path.c_str(), entry.c_str()) == 0 ? FS_OK : fs_error_from_errno(errno);
}

INT_S32 remove_desktop_shortcut(short type, const char*, const char*, const char* name, const char*, const char*,
                                FOLDER*)
{
    std::string entry;
    INT_S32 r = desktop_entry(name, type == shortcut_url ? ".url" : "", entry);
    if (r != FS_OK) {
        return r;
    }
    return unlink(entry.c_str()) == 0 ? FS_OK : fs_error_from_errno(errno);
}

INT_S32 create_os_menu_shortcut()
{
    return FS_OK;
}
INT_S32 remove_os_menu_shortcut()
{
    return FS_OK;
}
