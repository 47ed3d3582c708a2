// FOLDER positioning: alias resolution, the host steps over POSIX paths,
// the alias-path description and the FOLDER record.
#include "folder.h"

#include "errors.h"
#include "file_system.h"
#include "kivo_host.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <vector>

#ifndef KIVO_APP_NAME_DEFAULT
#define KIVO_APP_NAME_DEFAULT ""
#endif

namespace {

constexpr std::size_t location_sz = sizeof(FOLDER::location);

struct CUSTOM_PATH
{
    char* name; // null allowed
    FOLDER folder;
};

bool alias_is(const char* alias, const char* name)
{
    return strcasecmp(alias, name) == 0;
}

// The alias a path begins with, as set takes it: up to the first '/', at
// most 255 bytes. Returns where the rest of the path begins.
const char* split_alias(const char* path, char (&alias)[256])
{
    const std::size_t whole = std::strcspn(path, "/");
    const std::size_t n = std::min(whole, sizeof(alias) - 1);
    std::memcpy(alias, path, n);
    alias[n] = 0;
    return path + whole;
}

const char* absolute_env(const char* var)
{
    const char* v = std::getenv(var);
    return v && v[0] == '/' ? v : nullptr;
}

bool is_directory(const char* path)
{
    struct stat st;
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// The canonical path of a folder, into real (PATH_MAX bytes). The kernel
// names the folder it opened, after one walk of the path where realpath
// asks after every component; realpath serves where it cannot (no /proc, no
// descriptor to spare, a folder removed meanwhile).
bool canonical_folder(const char* path, char* real)
{
    int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    // A path that leads to no folder leads nowhere for realpath either (a
    // look for a folder that is not there costs one call, not one a part).
    if (fd < 0 && (errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == ENAMETOOLONG)) {
        return false;
    }
    if (fd >= 0) {
        char link[40];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        ssize_t n = readlink(link, real, PATH_MAX - 1);
        close(fd);
        static const char gone[] = " (deleted)";
        const std::size_t gone_length = sizeof gone - 1;
        if (n > 0 && n < PATH_MAX - 1 && real[0] == '/') {
            real[n] = 0;
            if (std::size_t(n) < gone_length || std::strcmp(real + n - gone_length, gone) != 0) {
                return true;
            }
        }
    }
    return realpath(path, real) && is_directory(real);
}

// mkdir -p with mode 0700 for every folder it makes.
bool make_dirs(const char* path)
{
    char buf[FS_PATH_MAX];
    if (std::snprintf(buf, sizeof(buf), "%s", path) >= static_cast<int>(sizeof(buf))) {
        return false;
    }
    for (char* p = buf + 1;; ++p) {
        if (*p == '/' || *p == 0) {
            char c = *p;
            *p = 0;
            if (mkdir(buf, 0700) != 0 && errno != EEXIST) {
                return false;
            }
            *p = c;
            if (c == 0) {
                break;
            }
        }
    }
    return is_directory(path);
}

} // namespace

// Process-wide state of the folder module. Built on first use, so static
// FOLDERs elsewhere never resolve an alias before main.
struct FOLDER_STATICS
{
    std::vector<CUSTOM_PATH*> custom_paths;
    FOLDER alt_base_path{FOLDER::UNPOSITIONED{}};
    INT_U8 use_alt_base_path = 0;
    char alt_app_name[256] = "";
    FOLDER alt_icon_path{FOLDER::UNPOSITIONED{}};
    INT_U8 use_alt_icon_path = 0;
    INT_U8 written_trace = 0;
    // Host facts read once: the executable's folder and the program name.
    INT_U8 host_cached = 0;
    char exe_dir[FS_PATH_MAX] = "";
    char app_name[256] = "";
    // See alias_generation: the count, and the environment it was taken at.
    INT_U32 generation = 0;
    char** environment_base = nullptr;
    std::vector<char*> environment;
    char temp_seen[sizeof(FOLDER::temp_path)] = "";
    // See FOLDER::RESOLVE_ONCE: the scopes open, and what set found for
    // each alias path since the first opened, at one alias generation. A
    // few paths are kept, so that a search through them stays short.
    struct RESOLVED
    {
        std::string text;
        INT_U8 no_fallback, skip_system;
        bool result;
        FOLDER folder;
    };
    static constexpr std::size_t resolved_max = 16;
    int resolve_once_depth = 0;
    INT_U32 resolved_generation = 0;
    std::vector<RESOLVED> resolved;

    void cache_host()
    {
        if (host_cached) {
            return;
        }
        host_cached = 1;
        exe_dir[0] = 0;
        app_name[0] = 0;
        char exe[FS_PATH_MAX];
        ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
        const char* base = "";
        if (n > 0) {
            exe[n] = 0;
            char* slash = std::strrchr(exe, '/');
            if (slash) {
                base = slash + 1;
                if (slash == exe) {
                    std::snprintf(exe_dir, sizeof(exe_dir), "/");
                } else {
                    *slash = 0;
                    std::snprintf(exe_dir, sizeof(exe_dir), "%s", exe);
                }
            }
        }
        // The build names its program; test binaries share its data folders.
        const char* env = std::getenv("KIVO_APP_NAME");
        const char* name = fs_is_valid_name(env)                     ? env
                           : fs_is_valid_name(KIVO_APP_NAME_DEFAULT) ? KIVO_APP_NAME_DEFAULT
                                                                     : base;
        if (fs_is_valid_name(name)) {
            std::snprintf(app_name, sizeof(app_name), "%.*s", static_cast<int>(sizeof(app_name) - 1), name);
        }
    }
};

namespace {

// Never destroyed: destructors of other statics (debug channels saving
// their settings at exit) may still position folders.
FOLDER_STATICS& statics()
{
    static FOLDER_STATICS* s = new FOLDER_STATICS;
    return *s;
}

} // namespace

char FOLDER::temp_path[2048] = "";

FOLDER::FOLDER(UNPOSITIONED)
{
    std::memset(location, 0, sizeof(location));
}

FOLDER::FOLDER(const char* path, INT_U8 create, FOLDER* relative_to, INT_U8 skip_system)
{
    std::memset(location, 0, sizeof(location));
    set(path, create, relative_to, 0, 0, skip_system);
}

FOLDER::FOLDER(const FOLDER& f) : DATA_DEVICE_CLIENT()
{
    std::memcpy(location, f.location, sizeof(location));
}

FOLDER& FOLDER::operator=(const FOLDER& f)
{
    if (this != &f) {
        std::memcpy(location, f.location, sizeof(location));
    }
    return *this;
}

FOLDER::~FOLDER() = default;

bool FOLDER::operator==(const FOLDER& f) const
{
    if (!location[0] || !f.location[0]) {
        return false;
    }
    if (!std::strcmp(path(), f.path())) {
        return true;
    }
    INT_U64 d1, n1, d2, n2;
    if (FSGetNodeID(path(), &d1, &n1, nullptr) != FS_OK || FSGetNodeID(f.path(), &d2, &n2, nullptr) != FS_OK) {
        return false;
    }
    return d1 == d2 && n1 == n2;
}

void FOLDER::reset_host_cache()
{
    FOLDER_STATICS& s = statics();
    s.host_cached = 0;
    ++s.generation;
}

INT_U32 FOLDER::alias_generation()
{
    FOLDER_STATICS& s = statics();
    // setenv, unsetenv and putenv replace entries rather than edit the text
    // in place, so the same pointers mean the same variables; comparing them
    // costs no system call. The array is only ever replaced or grown, so one
    // still at the same address holds at least the entries seen before.
    char** env = environ;
    if (env != s.environment_base ||
        (env && std::memcmp(env, s.environment.data(), s.environment.size() * sizeof(char*)) != 0)) {
        std::size_t n = 0;
        while (env && env[n]) {
            ++n;
        }
        if (env) {
            s.environment.assign(env, env + n + 1); // with the terminating null
        } else {
            s.environment.clear();
        }
        s.environment_base = env;
        ++s.generation;
    }
    // temp_path is public: whoever clears or sets it changes "$TEMP".
    if (std::strcmp(s.temp_seen, temp_path) != 0) {
        std::memcpy(s.temp_seen, temp_path, sizeof(s.temp_seen));
        ++s.generation;
    }
    return s.generation;
}

// ---- host steps ------------------------------------------------------------

bool FOLDER::set_location(const char* native_path)
{
    char real[PATH_MAX];
    if (!native_path || !canonical_folder(native_path, real)) {
        return false;
    }
    if (std::strlen(real) >= location_sz) {
        return false;
    }
    std::memset(location, 0, sizeof(location));
    std::memcpy(location, real, std::strlen(real));
    return true;
}

bool FOLDER::validate_path(const INT_U8* loc)
{
    if (!loc || loc[0] != '/' || !std::memchr(loc, 0, location_sz)) {
        return false;
    }
    return is_directory(reinterpret_cast<const char*>(loc));
}

void FOLDER::ensure_positioned()
{
    if (!location[0]) {
        goto_preset_folder("$APP");
    }
}

bool FOLDER::host_name(const char* name, char* out)
{
    // What must fit a name is the host's form: a run of raw bytes is
    // longer inside than on the disk.
    if (!name || !name[0] || std::strchr(name, '/') || !std::strcmp(name, ".") || !std::strcmp(name, "..")) {
        return false;
    }
    return fs_name_to_host(name, out, host_name_sz) && fs_is_valid_name(out);
}

bool FOLDER::child_path(const char* name, char* out) const
{
    char host[host_name_sz];
    if (!location[0] || !host_name(name, host)) {
        return false;
    }
    return FSMakePath(path(), host, out, FS_PATH_MAX) == FS_OK;
}

bool FOLDER::move_down(const char* name, INT_U8 create)
{
    char child[FS_PATH_MAX], host[host_name_sz];
    ensure_positioned();
    if (!host_name(name, host) || !child_path(name, child)) {
        return false;
    }
    // The location is canonical, so a child that is a directory itself and
    // not a link is canonical as it stands: no need to work it out again
    // component by component. Such a child is also the very node that
    // get_child_id would look at, so only the parent is left to compare
    // (it differs unless the name leads back to the folder itself).
    struct stat st;
    if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode) && std::strlen(child) < location_sz) {
        struct stat parent;
        if (stat(path(), &parent) == 0 && (parent.st_dev != st.st_dev || parent.st_ino != st.st_ino)) {
            std::memset(location, 0, sizeof(location));
            std::memcpy(location, child, std::strlen(child));
            return true;
        }
    }
    if (get_child_id(path(), host, nullptr)) {
        if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode) && std::strlen(child) < location_sz) {
            std::memset(location, 0, sizeof(location));
            std::memcpy(location, child, std::strlen(child));
            return true;
        }
        return set_location(child);
    }
    if (!create || lstat(child, &st) == 0 || errno != ENOENT) {
        return false;
    }
    if (mkdir(child, 0777) != 0) {
        return false;
    }
    return set_location(child);
}

bool FOLDER::move_up()
{
    ensure_positioned();
    if (!std::strcmp(path(), "/")) {
        return false;
    }
    char parent[FS_PATH_MAX];
    std::snprintf(parent, sizeof(parent), "%s", path());
    char* slash = std::strrchr(parent, '/');
    if (!slash) {
        return false;
    }
    if (slash == parent) {
        slash[1] = 0;
    } else {
        *slash = 0;
    }
    return set_location(parent);
}

bool FOLDER::change_to_drive(short n)
{
    if (n != 0) {
        return false;
    }
    return set_location("/");
}

bool FOLDER::set_from_path_string(const char* native_path)
{
    if (!native_path || !native_path[0]) {
        return false;
    }
    return set_location(native_path);
}

short FOLDER::get_drive_count()
{
    return 1;
}

char* FOLDER::get_drive_name(short n)
{
    static char root[2] = "/";
    return n == 0 ? root : nullptr;
}

short FOLDER::get_current_drive()
{
    return 0;
}

short FOLDER::get_drive_type(short)
{
    return 0;
}

char* FOLDER::get_path_string(const char* file)
{
    static char buf[FS_PATH_MAX];
    char host[FS_PATH_MAX];
    ensure_positioned();
    // Only an entry of this folder: a name with a '/', or "." or "..",
    // would lead elsewhere (an empty name is the folder itself).
    if (file && file[0] && (std::strchr(file, '/') || !std::strcmp(file, ".") || !std::strcmp(file, ".."))) {
        set_error_code(ERRCODE_FILE_NOT_FOUND, file);
        buf[0] = 0;
        return buf;
    }
    if ((file && !fs_name_to_host(file, host, sizeof(host))) ||
        FSMakePath(path(), file ? host : nullptr, buf, sizeof(buf)) != FS_OK) {
        buf[0] = 0;
    }
    return buf;
}

char* FOLDER::get_directory_name()
{
    static char buf[FS_PATH_MAX];
    buf[0] = 0;
    ensure_positioned();
    const char* slash = std::strrchr(path(), '/');
    if (slash && slash[1]) {
        fs_name_from_host(slash + 1, buf, sizeof(buf));
    }
    return buf;
}

// ---- system folders --------------------------------------------------------

bool FOLDER::get_system_folder(SYSTEM_PATH_TYPES type, const char* app_name, INT_U8 create)
{
    FOLDER_STATICS& s = statics();
    s.cache_host();
    const char* name = app_name && app_name[0] ? app_name : s.app_name;
    FOLDER f{UNPOSITIONED{}};
    char buf[FS_PATH_MAX];
    switch (type) {
    case spt_application: {
        const char* dir = absolute_env("KIVO_APP_DIR");
        if ((dir && f.set_location(dir)) || (s.exe_dir[0] && f.set_location(s.exe_dir))) {
            break;
        }
        return false;
    }
    case spt_system_applications:
    case spt_installed_data:
        if (!fs_is_valid_name(name) || !f.set_location("/") || !f.move_down("opt", 0) || !f.move_down(name, create)) {
            return false;
        }
        break;
    case spt_shared_application_data: {
        if (!fs_is_valid_name(name)) {
            return false;
        }
        bool found = false;
        if (s.exe_dir[0] &&
            std::snprintf(buf, sizeof(buf), "%s/../share/%s", s.exe_dir, name) < static_cast<int>(sizeof(buf))) {
            found = f.set_location(buf);
        }
        const char* dirs = std::getenv("XDG_DATA_DIRS");
        if (!dirs || !dirs[0]) {
            dirs = "/usr/local/share:/usr/share";
        }
        while (!found && *dirs) {
            const char* end = std::strchr(dirs, ':');
            std::size_t len = end ? static_cast<std::size_t>(end - dirs) : std::strlen(dirs);
            if (len > 0 && dirs[0] == '/' &&
                std::snprintf(buf, sizeof(buf), "%.*s/%s", static_cast<int>(len), dirs, name) <
                    static_cast<int>(sizeof(buf))) {
                found = f.set_location(buf);
            }
            dirs += len;
            if (*dirs == ':') {
                ++dirs;
            }
        }
        if (!found) {
            return false;
        }
        break;
    }
    case spt_user_data:
    case spt_user_preferences: {
        if (!fs_is_valid_name(name)) {
            return false;
        }
        const char* var = type == spt_user_data ? "XDG_DATA_HOME" : "XDG_CONFIG_HOME";
        const char* base = absolute_env(var);
        if (base) {
            std::snprintf(buf, sizeof(buf), "%s", base);
        } else {
            const char* home = absolute_env("HOME");
            if (!home) {
                return false;
            }
            std::snprintf(buf, sizeof(buf), "%s/%s", home, type == spt_user_data ? ".local/share" : ".config");
        }
        if (create && !is_directory(buf) && !make_dirs(buf)) {
            return false;
        }
        if (!f.set_location(buf) || !f.move_down(name, create)) {
            return false;
        }
        break;
    }
    case spt_temporary: {
        if (!fs_is_valid_name(name)) {
            return false;
        }
        if (temp_path[0] && f.set_location(temp_path)) {
            break;
        }
        // A folder of our own, made fresh for this run: a shared, predictable
        // name could be planted by someone else and is removed at exit.
        const char* tmp = absolute_env("TMPDIR");
        if (std::snprintf(buf, sizeof(buf), "%s/%s-XXXXXX", tmp ? tmp : "/tmp", name) >=
            static_cast<int>(sizeof(buf))) {
            return false;
        }
        if (!mkdtemp(buf)) {
            return false;
        }
        if (!f.set_location(buf)) {
            rmdir(buf);
            return false;
        }
        std::snprintf(temp_path, sizeof(temp_path), "%s", f.path());
        ++s.generation;
        break;
    }
    default: return false;
    }
    *this = f;
    return true;
}

// ---- aliases ---------------------------------------------------------------

bool FOLDER::go_app(INT_U8 create, INT_U8 skip_system)
{
    return goto_preset_folder("$APP", create, nullptr, 0, skip_system);
}

// From "$APP" upwards, the first level with a child `name` wins; else
// "$APP" and false.
bool FOLDER::climb_for(const char* name)
{
    go_app(0, 0);
    FOLDER level(*this);
    for (;;) {
        FOLDER f(level);
        if (f.move_down(name)) {
            *this = f;
            return true;
        }
        if (!level.move_up()) {
            break;
        }
    }
    go_app(0, 0);
    return false;
}

bool FOLDER::goto_preset_folder(const char* alias, INT_U8 create, FOLDER* relative_to, INT_U8 no_fallback,
                                INT_U8 skip_system)
{
    FOLDER_STATICS& s = statics();
    if (!alias) {
        goto_preset_folder("$APP", create, nullptr, 0, skip_system);
        return false;
    }
    for (CUSTOM_PATH* p : s.custom_paths) {
        if (p->name && !std::strcmp(p->name, alias)) {
            *this = p->folder;
            return true;
        }
    }
    if (alias_is(alias, "$APP") || alias_is(alias, "$BASE")) {
        if (s.use_alt_base_path && validate_path(s.alt_base_path.location)) {
            *this = s.alt_base_path;
            return true;
        }
        if (!get_system_folder(spt_application, nullptr, create)) {
            exit_app("No application folder found!", 1);
        }
        return true;
    }
    // With an alternative base but no alternative name, system folders
    // belong to another program: only the fallbacks apply.
    const bool try_system = !skip_system && !(s.use_alt_base_path && !s.alt_app_name[0]);
    const char* name = s.use_alt_base_path ? s.alt_app_name : nullptr;

    static const struct
    {
        const char* alias;
        SYSTEM_PATH_TYPES type;
    } system_aliases[] = {
        {"$SYSAPP", spt_system_applications},      {"$INSTDATA", spt_installed_data},
        {"$APPDATA", spt_shared_application_data}, {"$USERDATA", spt_user_data},
        {"$USERPREFS", spt_user_preferences},
    };
    for (const auto& a : system_aliases) {
        if (!alias_is(alias, a.alias)) {
            continue;
        }
        if (try_system && get_system_folder(a.type, name, create)) {
            return true;
        }
        if (no_fallback) {
            return false;
        }
        if (a.type == spt_system_applications) {
            return go_app(0, skip_system);
        }
        return climb_for("data");
    }
    if (alias_is(alias, "$TEMP")) {
        if (try_system && get_system_folder(spt_temporary, name, 1)) {
            return true;
        }
        if (no_fallback) {
            return false;
        }
        go_app(0, skip_system);
        if (move_down("temp", 1)) {
            return true;
        }
        go_app(0, skip_system);
        return false;
    }
    if (!strncasecmp(alias, "$ROOT", 5)) {
        // A number too large for a short must not wrap round to volume 0.
        long n = 0;
        char* end = nullptr;
        errno = 0;
        if (alias[5]) {
            n = std::strtol(alias + 5, &end, 10);
            if (end == alias + 5) {
                n = 0;
            } else if (errno == ERANGE || n < SHRT_MIN || n > SHRT_MAX) {
                n = -1;
            }
        }
        if (n >= 0 && change_to_drive(static_cast<short>(n))) {
            return true;
        }
        go_app(0, skip_system);
        return false;
    }
    const bool fonts = alias_is(alias, "$FONTDATA");
    if (fonts || alias_is(alias, "$ICONDATA")) {
        if (!fonts && s.use_alt_icon_path && validate_path(s.alt_icon_path.location)) {
            *this = s.alt_icon_path;
            return true;
        }
        const char* child = fonts ? "fonts" : "icons";
        if (try_system) {
            static const SYSTEM_PATH_TYPES order[] = {spt_user_data, spt_shared_application_data, spt_installed_data};
            for (SYSTEM_PATH_TYPES t : order) {
                FOLDER f{UNPOSITIONED{}};
                if (f.get_system_folder(t, name, 0) && f.move_down(child, 0)) {
                    *this = f;
                    return true;
                }
            }
        }
        FOLDER probe{UNPOSITIONED{}};
        probe.go_app(0, 0);
        // Each level: data/<child>, then kivo_libs/data/<child>.
        FOLDER level(probe);
        for (;;) {
            FOLDER a(level), b(level);
            if (a.move_down("data") && a.move_down(child)) {
                *this = a;
                return true;
            }
            if (b.move_down("kivo_libs") && b.move_down("data") && b.move_down(child)) {
                *this = b;
                return true;
            }
            if (!level.move_up()) {
                break;
            }
        }
        go_app(0, skip_system);
        return false;
    }
    if (alias_is(alias, "$HERE")) {
        if (relative_to) {
            *this = *relative_to;
        } else {
            ensure_positioned();
        }
        return true;
    }
    display_error(ERR_FOLDER_PATH_TYPE);
}

FOLDER::RESOLVE_ONCE::RESOLVE_ONCE()
{
    ++statics().resolve_once_depth;
}

FOLDER::RESOLVE_ONCE::~RESOLVE_ONCE()
{
    FOLDER_STATICS& s = statics();
    if (--s.resolve_once_depth == 0) {
        s.resolved.clear();
    }
}

bool FOLDER::set(const char* path_text, INT_U8 create, FOLDER* relative_to, INT_U8 create_alias, INT_U8 no_fallback,
                 INT_U8 skip_system)
{
    FOLDER_STATICS& s = statics();
    if (!s.written_trace && kivo_host()->font_system_started()) {
        // Marked first: writing the trace positions folders itself.
        s.written_trace = 1;
        write_trace_text("\nStarting Default Paths:\n\n");
        write_default_path_trace();
    }
    if (!path_text) {
        return false;
    }
    const bool once = s.resolve_once_depth > 0 && !create && !relative_to && !create_alias && path_text[0] == '$' &&
                      strncasecmp(path_text, "$HERE", 5) != 0 && strncasecmp(path_text, "$TEMP", 5) != 0;
    if (!once) {
        return resolve(path_text, create, relative_to, create_alias, no_fallback, skip_system);
    }
    const INT_U32 generation = alias_generation();
    if (generation != s.resolved_generation) {
        s.resolved.clear();
        s.resolved_generation = generation;
    }
    for (const FOLDER_STATICS::RESOLVED& r : s.resolved) {
        if (r.no_fallback == no_fallback && r.skip_system == skip_system && r.text == path_text) {
            *this = r.folder;
            return r.result;
        }
    }
    const bool result = resolve(path_text, 0, nullptr, 0, no_fallback, skip_system);

    // Working it out may itself have moved the generation (an alias path
    // met for the first time can set the host facts up): keep only what
    // holds now.
    if (s.resolved.size() < FOLDER_STATICS::resolved_max && alias_generation() == generation) {
        s.resolved.push_back({path_text, no_fallback, skip_system, result, *this});
    }
    return result;
}

bool FOLDER::resolve(const char* path_text, INT_U8 create, FOLDER* relative_to, INT_U8 create_alias, INT_U8 no_fallback,
                     INT_U8 skip_system)
{
    const char* rest = path_text;
    if (path_text[0] == '$') {
        char alias[256];
        rest = split_alias(path_text, alias);
        if (!goto_preset_folder(alias, 0, relative_to, 1, skip_system) &&
            !goto_preset_folder(alias, create_alias, relative_to, no_fallback, skip_system)) {
            goto_preset_folder("$APP", 0, nullptr, no_fallback, skip_system);
            return false;
        }
    } else if (!std::strncmp(path_text, "..", 2)) {
        ensure_positioned();
    } else {
        goto_preset_folder("$APP", 0, nullptr, no_fallback, skip_system);
        return false;
    }
    while (*rest) {
        while (*rest == '/') {
            ++rest;
        }
        if (!*rest) {
            break;
        }
        std::size_t n = std::strcspn(rest, "/");
        char part[FS_NAME_MAX + 2];
        if (n > FS_NAME_MAX) {
            return false;
        }
        std::memcpy(part, rest, n);
        part[n] = 0;
        rest += n;
        bool ok = !std::strcmp(part, "..") ? move_up() : move_down(part, create);
        if (!ok) {
            return false;
        }
    }
    return true;
}

// ---- description -----------------------------------------------------------

bool FOLDER::get(char* out, FOLDER* relative_to)
{
    if (!out) {
        return false;
    }
    if (relative_to) {
        return relative_to->get_path_to(*this, out);
    }
    FOLDER f(*this);
    return calc_relative_path(out, f);
}

bool FOLDER::calc_relative_path(char* out, FOLDER& f)
{
    static const char* const aliases[] = {"$APP",  "$SYSAPP",   "$APPDATA", "$USERDATA",
                                          "$TEMP", "$FONTDATA", "$ICONDATA"};
    constexpr int alias_count = static_cast<int>(sizeof(aliases) / sizeof(aliases[0]));
    if (!out) {
        return false;
    }
    out[0] = 0;
    f.ensure_positioned();
    // Each alias is resolved, and each folder's node looked up, at most once
    // a call, when first needed: doing it again at every level cost hundreds
    // of system calls a description. The comparison is operator=='s.
    struct NODE
    {
        INT_S8 known = -1; // -1 not looked up, 0 failed, 1 found
        INT_U64 device = 0, node = 0;
        bool get(const char* path)
        {
            if (known < 0) {
                known = FSGetNodeID(path, &device, &node, nullptr) == FS_OK ? 1 : 0;
            }
            return known == 1;
        }
    };
    struct PROBE
    {
        FOLDER folder{UNPOSITIONED{}};
        bool resolved = false;
        NODE node;
    };
    PROBE probes[alias_count];
    // Names climbed past, innermost first, as offsets into f's own path.
    char full[FS_PATH_MAX];
    std::snprintf(full, sizeof(full), "%s", f.path());
    std::size_t tail = std::strlen(full); // the part below the match starts here
    const char* prefix = nullptr;
    char root[16];
    for (;;) {
        NODE level;
        for (int i = 0; i < alias_count && !prefix; ++i) {
            // Resolving "$TEMP" makes it; nothing can lie in it before that.
            if (!std::strcmp(aliases[i], "$TEMP") && !temp_path[0]) {
                continue;
            }
            PROBE& p = probes[i];
            if (!p.resolved) {
                p.folder.set(aliases[i]);
                p.resolved = true;
            }
            if (!p.folder.location[0] || !f.location[0]) {
                continue;
            }
            if (!std::strcmp(p.folder.path(), f.path()) ||
                (p.node.get(p.folder.path()) && level.get(f.path()) && p.node.device == level.device &&
                 p.node.node == level.node)) {
                prefix = aliases[i];
            }
        }
        if (prefix) {
            break;
        }
        const char* slash = std::strrchr(f.path(), '/');
        std::size_t at = slash ? static_cast<std::size_t>(slash - f.path()) : 0;
        if (!f.move_up()) {
            std::snprintf(root, sizeof(root), "$ROOT%d", static_cast<int>(f.get_current_drive()));
            prefix = root;
            break;
        }
        tail = at;
    }
    char names[FS_PATH_MAX];
    if (!fs_name_from_host(full + tail, names, sizeof(names))) {
        out[0] = 0;
        return false;
    }
    int n = std::snprintf(out, FS_PATH_MAX, "%s%s", prefix, names);
    if (n < 0 || n >= static_cast<int>(FS_PATH_MAX)) {
        out[0] = 0;
        return false;
    }
    return true;
}

bool FOLDER::get_path_to(FOLDER& target, char* out)
{
    if (!out) {
        return false;
    }
    out[0] = 0;
    ensure_positioned();
    target.ensure_positioned();
    // Canonical paths: the nearest common ancestor is the longest common
    // prefix that ends at a component boundary.
    // The root counts as the empty path, so it has no component of its own.
    const char* a = std::strcmp(path(), "/") ? path() : "";
    const char* b = std::strcmp(target.path(), "/") ? target.path() : "";
    std::size_t common = 0;
    for (std::size_t i = 0;; ++i) {
        bool end_a = a[i] == 0 || a[i] == '/';
        bool end_b = b[i] == 0 || b[i] == '/';
        if (end_a && end_b) {
            common = i;
        }
        if (a[i] != b[i] || a[i] == 0) {
            break;
        }
    }
    int ups = 0;
    for (const char* p = a + common; *p; ++p) {
        if (*p == '/') {
            ++ups;
        }
    }
    std::size_t len = static_cast<std::size_t>(std::snprintf(out, FS_PATH_MAX, "$HERE"));
    for (int i = 0; i < ups; ++i) {
        if (len + 3 >= FS_PATH_MAX) {
            out[0] = 0;
            return false;
        }
        std::memcpy(out + len, "/..", 4);
        len += 3;
    }
    char down[FS_PATH_MAX]; // "" or "/x/y"
    if (!fs_name_from_host(b + common, down, sizeof(down))) {
        out[0] = 0;
        return false;
    }
    if (*down) {
        std::size_t dl = std::strlen(down);
        if (len + dl + 1 >= FS_PATH_MAX) {
            out[0] = 0;
            return false;
        }
        std::memcpy(out + len, down, dl);
        out[len + dl] = '/';
        out[len + dl + 1] = 0;
    }
    return true;
}

char* FOLDER::get_path_string_from_custom(const char* alias_path, const char* file)
{
    static char buf[FS_PATH_MAX];
    FOLDER app{UNPOSITIONED{}};
    app.go_app(0, 0);
    std::snprintf(buf, sizeof(buf), "%s", app.path());
    auto append = [](const char* text, std::size_t n) {
        char part[FS_PATH_MAX], host[FS_PATH_MAX];
        if (n >= sizeof(part)) {
            return false;
        }
        std::memcpy(part, text, n);
        part[n] = 0;
        if (!fs_name_to_host(part, host, sizeof(host))) {
            return false;
        }
        n = std::strlen(host);
        std::size_t len = std::strlen(buf);
        bool slash = len > 0 && buf[len - 1] == '/';
        if (len + (slash ? 0 : 1) + n >= sizeof(buf)) {
            return false;
        }
        if (!slash) {
            buf[len++] = '/';
        }
        std::memcpy(buf + len, host, n);
        buf[len + n] = 0;
        return true;
    };
    const char* p = alias_path ? alias_path : "";
    while (*p) {
        std::size_t n = std::strcspn(p, "/");
        if (n > 0) {
            if (p[0] == '$') {
                char alias[256];
                std::size_t an = n < sizeof(alias) - 1 ? n : sizeof(alias) - 1;
                std::memcpy(alias, p, an);
                alias[an] = 0;
                FOLDER f{UNPOSITIONED{}};
                f.set(alias);
                std::snprintf(buf, sizeof(buf), "%s", f.path());
            } else if (n == 2 && p[0] == '.' && p[1] == '.') {
                char* slash = std::strrchr(buf, '/');
                if (slash) {
                    *slash = 0;
                }
            } else if (!append(p, n)) {
                buf[0] = 0;
                return buf;
            }
        }
        p += n;
        while (*p == '/') {
            ++p;
        }
    }
    if (file && file[0] && !append(file, std::strlen(file))) {
        buf[0] = 0;
    }
    return buf;
}

// ---- record ----------------------------------------------------------------

bool FOLDER::put_to_data_device(DATA_DEVICE& d)
{
    // Described first: a folder that has no alias path writes nothing
    // rather than a lone id byte that would shift every later field.
    char text[DATA_PATH_BLOCK_SZ];
    if (!get(text, nullptr)) {
        d.error = 1;
        return false;
    }
    if (!put_u8(d, 0xFF)) {
        return false;
    }
    return put_path_block(d, text);
}

bool FOLDER::get_from_data_device(DATA_DEVICE& d)
{
    INT_U8 id = 0;
    if (!get_u8(d, id)) {
        return false;
    }
    if (id == 0xFF) {
        char text[DATA_PATH_BLOCK_SZ], confined[DATA_PATH_BLOCK_SZ];
        if (!get_path_block(d, text) || !stored_path_is_usable(d, text, confined)) {
            return false;
        }
        set(confined);
    } else {
        // A host location is an absolute path: from a file it is not
        // followed, as a foreign one is not.
        INT_U8 bytes[sizeof(location)];
        if (!get_bytes(d, bytes, sizeof(bytes))) {
            return false;
        }
        set("$APP");
    }
    if (!validate_path(location)) {
        goto_preset_folder("$APP");
    }
    return true;
}

bool FOLDER::alias_is_known(const char* path)
{
    if (!path || path[0] != '$') {
        return true; // set refuses it quietly
    }
    char alias[256];
    split_alias(path, alias);
    if (is_custom_alias(alias)) {
        return true;
    }
    static const char* const built_in[] = {"$APP",       "$BASE", "$SYSAPP",   "$INSTDATA", "$APPDATA", "$USERDATA",
                                           "$USERPREFS", "$TEMP", "$FONTDATA", "$ICONDATA", "$HERE"};
    for (const char* a : built_in) {
        if (alias_is(alias, a)) {
            return true;
        }
    }
    return !strncasecmp(alias, "$ROOT", 5);
}

bool FOLDER::is_custom_alias(const char* alias)
{
    for (CUSTOM_PATH* p : statics().custom_paths) {
        if (p->name && !std::strcmp(p->name, alias)) {
            return true;
        }
    }
    return false;
}

bool FOLDER::confine_stored_path(const char* path, char* out, FOLDER* here)
{
    out[0] = 0;
    if (!path) {
        return false;
    }
    if (path[0] != '$') {
        // set refuses such a path without moving, but one that begins with
        // ".." it takes from wherever the folder is.
        if (!std::strncmp(path, "..", 2) || std::strlen(path) >= DATA_PATH_BLOCK_SZ) {
            return false;
        }
        std::strcpy(out, path);
        return true;
    }
    char alias[256];
    const char* rest = split_alias(path, alias);
    // "$HERE" against a given folder: that folder's own alias path takes
    // its place. Inside an alias, the stored path may climb up to the
    // alias's folder; a folder outside every alias keeps it below itself.
    char joined[2 * DATA_PATH_BLOCK_SZ];
    std::size_t kept = 0;
    if (here && alias_is(alias, "$HERE") && !is_custom_alias(alias)) {
        char base[DATA_PATH_BLOCK_SZ];
        if (!here->get(base, nullptr) ||
            std::snprintf(joined, sizeof(joined), "%s%s", base, rest) >= static_cast<int>(sizeof(joined))) {
            return false;
        }
        const std::size_t n = static_cast<std::size_t>(split_alias(base, alias) - base);
        rest = joined + n;
        if (!strncasecmp(alias, "$ROOT", 5)) {
            for (const char* c = base + n; *c; ++c) {
                kept += *c == '/' && c[1] && c[1] != '/';
            }
        }
    } else if (!strncasecmp(alias, "$ROOT", 5) && !is_custom_alias(alias)) {
        return false; // a volume's root: an absolute path
    }
    // The components folded: ".." takes back the one before it, never one
    // of the alias's own; "." and empty ones name nothing.
    std::size_t len = std::strlen(alias), depth = 0;
    std::memcpy(out, alias, len + 1);
    while (*rest) {
        while (*rest == '/') {
            ++rest;
        }
        std::size_t part = std::strcspn(rest, "/");
        if (part == 0 || (part == 1 && rest[0] == '.')) {
            rest += part;
            continue;
        }
        if (part == 2 && rest[0] == '.' && rest[1] == '.') {
            if (depth <= kept) {
                out[0] = 0;
                return false;
            }
            len = static_cast<std::size_t>(std::strrchr(out, '/') - out);
            out[len] = 0;
            --depth;
        } else {
            if (len + 1 + part >= DATA_PATH_BLOCK_SZ) {
                out[0] = 0;
                return false;
            }
            out[len++] = '/';
            std::memcpy(out + len, rest, part);
            len += part;
            out[len] = 0;
            ++depth;
        }
        rest += part;
    }
    return true;
}

// A stored path must not reach set with an alias set does not know (that
// is the program's own fault when code does it, but here it is the file's)
// nor lead outside the folder its alias names.
bool FOLDER::stored_path_is_usable(DATA_DEVICE& d, const char* path, char* confined)
{
    if (alias_is_known(path) && confine_stored_path(path, confined)) {
        return true;
    }
    d.error = 1;
    set_error_code(ERRCODE_FILE_READ, path);
    return false;
}

bool FOLDER::get_old_folder(DATA_DEVICE& d, char* out)
{
    INT_U8 id = 0;
    char block[DATA_PATH_BLOCK_SZ], confined[DATA_PATH_BLOCK_SZ];
    if (!get_u8(d, id) || !get_bytes(d, block, sizeof(block))) {
        return false;
    }
    block[sizeof(block) - 1] = 0;
    if (id == 0xFF && !stored_path_is_usable(d, block, confined)) {
        return false;
    }
    // Only an alias path is followed (see get_from_data_device).
    FOLDER f{UNPOSITIONED{}};
    bool there = id == 0xFF && f.set(confined);
    std::memset(out, 0, DATA_PATH_BLOCK_SZ);
    if (!there || !validate_path(f.location) || !f.get(out, nullptr)) {
        std::memcpy(out, "$APP", 5);
    }
    return true;
}

bool FOLDER::is_plain_file(const char* name)
{
    char p[FS_PATH_MAX];
    struct stat st;
    return child_path(name, p) && stat(p, &st) == 0 && S_ISREG(st.st_mode) && !on_kernel_file_system(p);
}

namespace {

// Their files pass for plain ones but are views of the kernel and of
// processes (a process's memory, its environment), not data.
bool is_kernel_file_system(const struct statfs& fs)
{
    return fs.f_type == PROC_SUPER_MAGIC || fs.f_type == SYSFS_MAGIC || fs.f_type == DEBUGFS_MAGIC ||
           fs.f_type == TRACEFS_MAGIC || fs.f_type == SECURITYFS_MAGIC;
}

} // namespace

bool FOLDER::on_kernel_file_system(const char* native_path)
{
    struct statfs fs;
    return statfs(native_path, &fs) != 0 || is_kernel_file_system(fs);
}

bool FOLDER::descriptor_on_kernel_file_system(int fd)
{
    struct statfs fs;
    return fstatfs(fd, &fs) != 0 || is_kernel_file_system(fs);
}

// ---- custom paths and overrides --------------------------------------------

namespace {

bool same_name(const char* a, const char* b)
{
    if (!a || !b) {
        return a == b;
    }
    return !std::strcmp(a, b);
}

} // namespace

void FOLDER::delete_custom_path(void* entry)
{
    CUSTOM_PATH* p = static_cast<CUSTOM_PATH*>(entry);
    if (!p) {
        return;
    }
    std::free(p->name);
    delete p;
}

void FOLDER::add_custom_path(const char* name, FOLDER& f)
{
    FOLDER_STATICS& s = statics();
    ++s.generation;
    for (CUSTOM_PATH* p : s.custom_paths) {
        if (same_name(p->name, name)) {
            p->folder = f;
            return;
        }
    }
    char* copy = nullptr;
    if (name && !(copy = strdup(name))) {
        return;
    }
    s.custom_paths.push_back(new CUSTOM_PATH{copy, f});
}

void FOLDER::remove_custom_path(const char* name)
{
    FOLDER_STATICS& s = statics();
    ++s.generation;
    for (auto it = s.custom_paths.begin(); it != s.custom_paths.end(); ++it) {
        if (same_name((*it)->name, name)) {
            CUSTOM_PATH* p = *it;
            s.custom_paths.erase(it);
            delete_custom_path(p);
            return;
        }
    }
}

void FOLDER::set_alt_base_path(FOLDER& f, const char* app_name)
{
    FOLDER_STATICS& s = statics();
    s.alt_base_path = f;
    s.use_alt_base_path = 1;
    ++s.generation;
    std::snprintf(s.alt_app_name, sizeof(s.alt_app_name), "%s", app_name ? app_name : "");
    write_trace_text("\nBase Path Changed:\n\n");
    write_default_path_trace();
}

void FOLDER::clear_alt_base_path()
{
    statics().use_alt_base_path = 0;
    ++statics().generation;
    write_trace_text("\nBase Path Changed:\n\n");
    write_default_path_trace();
}

void FOLDER::set_alt_icon_path(FOLDER& f)
{
    FOLDER_STATICS& s = statics();
    s.alt_icon_path = f;
    s.use_alt_icon_path = 1;
    ++s.generation;
    write_trace_text("\nIcon Path Changed:\n\n");
    write_default_path_trace();
}

void FOLDER::clear_alt_icon_path()
{
    statics().use_alt_icon_path = 0;
    ++statics().generation;
    write_trace_text("\nIcon Path Changed:\n\n");
    write_default_path_trace();
}

void FOLDER::get_alt_base_path(FOLDER& out, char* app_name_out, unsigned short size)
{
    FOLDER_STATICS& s = statics();
    if (s.alt_base_path.location[0]) {
        out = s.alt_base_path;
    }
    if (app_name_out && size > 0) {
        std::snprintf(app_name_out, size, "%s", s.alt_app_name);
    }
}

void FOLDER::get_alt_icon_path(FOLDER& out)
{
    FOLDER_STATICS& s = statics();
    if (s.alt_icon_path.location[0]) {
        out = s.alt_icon_path;
    }
}
