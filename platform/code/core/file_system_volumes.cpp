// Volumes: what each tells of itself (statvfs), the mount table they are
// found in, and their mount records.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "file_system_shared.h"

#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace fs_shared;

namespace {

// ---- the mount table ----

// Undoes the kernel's \ooo escapes (space, tab, newline, backslash).
bool unescape(const std::string& field, std::string& out)
{
    out.clear();
    for (std::size_t i = 0; i < field.size(); ++i) {
        char c = field[i];
        if (c == '\\' && i + 3 < field.size() && field[i + 1] >= '0' && field[i + 1] <= '3' && field[i + 2] >= '0' &&
            field[i + 2] <= '7' && field[i + 3] >= '0' && field[i + 3] <= '7') {
            c = static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
            if (c == 0) {
                return false;
            }
            i += 3;
        }
        out += c;
    }
    return true;
}

INT_S32 read_mounts(std::vector<FS_MOUNT_ENTRY>& mounts)
{
    std::FILE* f = std::fopen("/proc/self/mountinfo", "re");
    if (!f) {
        return fs_error_from_errno(errno);
    }
    char* line = nullptr;
    std::size_t cap = 0;
    ssize_t n;
    while ((n = getline(&line, &cap, f)) > 0) {
        std::string text(line, static_cast<std::size_t>(n));
        if (text.back() == '\n') {
            text.pop_back();
        }
        FS_MOUNT_ENTRY entry;
        if (fs_parse_mount_line(text, entry)) {
            mounts.push_back(std::move(entry));
        }
    }
    std::free(line);
    std::fclose(f);
    return FS_OK;
}

bool path_within(const std::string& mount_point, const char* path)
{
    if (mount_point == "/") {
        return true;
    }
    std::size_t n = mount_point.size();
    return !std::strncmp(path, mount_point.c_str(), n) && (path[n] == 0 || path[n] == '/');
}

// The mount whose point is the longest prefix of the path's real form; of
// two on one point the later, which hides the earlier.
INT_S32 mount_of(const char* path, FS_MOUNT_ENTRY& out)
{
    if (!path || !path[0]) {
        return FS_BAD_ARGUMENT;
    }
    char real[PATH_MAX];
    if (!realpath(path, real)) {
        return fs_error_from_errno(errno);
    }
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    const FS_MOUNT_ENTRY* best = nullptr;
    for (const FS_MOUNT_ENTRY& m : mounts) {
        if (path_within(m.mount_point, real) && (!best || m.mount_point.size() >= best->mount_point.size())) {
            best = &m;
        }
    }
    if (!best) {
        return FS_NO_MORE_VOLUMES;
    }
    out = *best;
    return FS_OK;
}

// ---- mount records ----

const struct
{
    const char* name;
    INT_U32 flag;
} mount_flag_names[] = {
    {"ro", MS_RDONLY},         {"nosuid", MS_NOSUID},           {"nodev", MS_NODEV},
    {"noexec", MS_NOEXEC},     {"noatime", MS_NOATIME},         {"nodiratime", MS_NODIRATIME},
    {"relatime", MS_RELATIME}, {"strictatime", MS_STRICTATIME}, {"nosymfollow", MS_NOSYMFOLLOW},
};

INT_U32 known_mount_flags()
{
    INT_U32 all = 0;
    for (const auto& f : mount_flag_names) {
        all |= f.flag;
    }
    return all;
}

constexpr std::size_t mount_record_header = 8;
constexpr INT_U16 mount_record_version = 1;

} // namespace

bool fs_parse_mount_line(const std::string& line, FS_MOUNT_ENTRY& entry)
{
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        std::size_t end = line.find(' ', at);
        if (end == std::string::npos) {
            end = line.size();
        }
        if (end > at) {
            fields.push_back(line.substr(at, end - at));
        }
        at = end + 1;
    }
    // id, parent, device, root, mount point, options, optional fields...,
    // "-", type, source, super options
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") {
        ++dash;
    }
    if (fields.size() < 9 || dash + 2 >= fields.size()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    long id = std::strtol(fields[0].c_str(), &end, 10);
    if (*end || errno || id < 0 || id > INT32_MAX) {
        return false;
    }
    FS_MOUNT_ENTRY e;
    e.mount_id = static_cast<INT_S32>(id);
    if (!unescape(fields[4], e.mount_point) || e.mount_point.empty() || e.mount_point[0] != '/' ||
        !unescape(fields[dash + 1], e.fs_type) || !unescape(fields[dash + 2], e.source) ||
        !unescape(fields[5], e.mount_options) ||
        (dash + 3 < fields.size() && !unescape(fields[dash + 3], e.super_options))) {
        return false;
    }
    entry = std::move(e);
    return true;
}

INT_U32 fs_mount_flags(const std::string& mount_options)
{
    INT_U32 flags = 0;
    std::size_t at = 0;
    while (at <= mount_options.size()) {
        std::size_t end = mount_options.find(',', at);
        if (end == std::string::npos) {
            end = mount_options.size();
        }
        const std::string option = mount_options.substr(at, end - at);
        for (const auto& f : mount_flag_names) {
            if (option == f.name) {
                flags |= f.flag;
            }
        }
        at = end + 1;
    }
    return flags;
}

std::string fs_make_mount_record(const FS_MOUNT_ENTRY& entry)
{
    std::string record(mount_record_header, '\0');
    for (const std::string* field : {&entry.source, &entry.fs_type, &entry.super_options, &entry.mount_point}) {
        record.append(field->c_str(), field->size() + 1);
    }
    const INT_U16 length = static_cast<INT_U16>(record.size() <= 0xFFFF ? record.size() : 0);
    const INT_U32 flags = fs_mount_flags(entry.mount_options);
    std::memcpy(&record[0], &length, 2);
    std::memcpy(&record[2], &mount_record_version, 2);
    std::memcpy(&record[4], &flags, 4);
    return record;
}

bool fs_parse_mount_record(const INT_U8* bytes, std::size_t size, FS_MOUNT_RECORD& record)
{
    if (!bytes || size < mount_record_header + 4) {
        return false;
    }
    INT_U16 length, version;
    INT_U32 flags;
    std::memcpy(&length, bytes, 2);
    std::memcpy(&version, bytes + 2, 2);
    std::memcpy(&flags, bytes + 4, 4);
    if (length < mount_record_header + 4 || length > size || version != mount_record_version ||
        (flags & ~known_mount_flags())) {
        return false;
    }
    FS_MOUNT_RECORD r;
    r.flags = flags;
    std::size_t at = mount_record_header;
    for (std::string* field : {&r.source, &r.fs_type, &r.options, &r.mount_point}) {
        const void* nul = at < length ? std::memchr(bytes + at, 0, length - at) : nullptr;
        if (!nul) {
            return false;
        }
        const std::size_t end = static_cast<std::size_t>(static_cast<const INT_U8*>(nul) - bytes);
        field->assign(reinterpret_cast<const char*>(bytes + at), end - at);
        at = end + 1;
    }
    if (at != length || r.fs_type.empty() || r.mount_point.empty() || r.mount_point[0] != '/') {
        return false;
    }
    record = std::move(r);
    return true;
}

INT_S32 FSGetVolParms(const char* volume, FS_VOL_PARMS* parms)
{
    if (!volume || !parms) {
        return FS_BAD_ARGUMENT;
    }
    struct statvfs vs;
    if (statvfs(volume, &vs) != 0) {
        return fs_error_from_errno(errno);
    }
    parms->block_size = static_cast<INT_U32>(vs.f_frsize ? vs.f_frsize : vs.f_bsize);
    parms->name_max = static_cast<INT_U32>(vs.f_namemax);
    parms->flags = vs.f_flag;
    parms->file_system_id = vs.f_fsid;
    return FS_OK;
}

namespace {

// The mount record of the volume holding `path`.
INT_S32 mount_record_of(const char* path, std::string& record)
{
    FS_MOUNT_ENTRY m;
    INT_S32 r = mount_of(path, m);
    if (r == FS_OK) {
        record = fs_make_mount_record(m);
    }
    return r;
}

} // namespace

INT_S32 FSGetVolMountInfoSize(const char* path, INT_U16* size)
{
    if (!size) {
        return FS_BAD_ARGUMENT;
    }
    std::string record;
    INT_S32 r = mount_record_of(path, record);
    if (r != FS_OK) {
        return r;
    }
    if (record.size() > 0xFFFF) {
        return FS_BAD_NAME;
    }
    *size = static_cast<INT_U16>(record.size());
    return FS_OK;
}

INT_S32 FSGetVolMountInfo(const char* path, void* mount_info)
{
    if (!mount_info) {
        return FS_BAD_ARGUMENT;
    }
    std::string record;
    INT_S32 r = mount_record_of(path, record);
    if (r != FS_OK) {
        return r;
    }
    INT_U16 room;
    std::memcpy(&room, mount_info, 2);
    if (record.size() > room) {
        return FS_BAD_NAME;
    }
    std::memcpy(mount_info, record.data(), record.size());
    return FS_OK;
}

INT_S32 FSVolumeMount(const void* mount_info, char* volume, std::size_t size)
{
    if (!mount_info || !volume || size == 0) {
        return FS_BAD_ARGUMENT;
    }
    const INT_U8* bytes = static_cast<const INT_U8*>(mount_info);
    INT_U16 length;
    std::memcpy(&length, bytes, 2);
    FS_MOUNT_RECORD record;
    if (!fs_parse_mount_record(bytes, length, record)) {
        return FS_BAD_ARGUMENT;
    }
    char real[PATH_MAX];
    struct stat st;
    if (!realpath(record.mount_point.c_str(), real) || stat(real, &st) != 0) {
        return fs_error_from_errno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return FS_NOT_A_DIRECTORY;
    }
    if (std::strlen(real) >= size) {
        volume[0] = 0;
        return FS_BAD_NAME;
    }
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    for (const FS_MOUNT_ENTRY& m : mounts) {
        if (m.mount_point == real) {
            return FS_EXISTS;
        }
    }
    if (mount(record.source.c_str(), real, record.fs_type.c_str(), record.flags,
              record.options.empty() ? nullptr : record.options.c_str()) != 0) {
        return fs_error_from_errno(errno);
    }
    return copy_out(real, volume, size);
}

INT_S32 FSGetVRefNum(const char* path, char* volume, std::size_t size)
{
    FS_MOUNT_ENTRY m;
    INT_S32 r = mount_of(path, m);
    return r != FS_OK ? r : copy_out(m.mount_point, volume, size);
}

INT_S32 FSGetVInfo(const char* volume, char* name, std::size_t name_size, INT_U64* free_bytes, INT_U64* total_bytes)
{
    if (!volume) {
        return FS_BAD_ARGUMENT;
    }
    struct statvfs vs;
    if (statvfs(volume, &vs) != 0) {
        return fs_error_from_errno(errno);
    }
    if (name) {
        FS_MOUNT_ENTRY m;
        INT_S32 r = mount_of(volume, m);
        if (r == FS_OK) {
            std::string head, last;
            split_last(m.mount_point, head, last);
            r = copy_out(last.empty() ? "/" : last, name, name_size);
        }
        if (r != FS_OK) {
            return r;
        }
    }
    const INT_U64 unit = vs.f_frsize ? vs.f_frsize : vs.f_bsize;
    if (free_bytes) {
        *free_bytes = static_cast<INT_U64>(vs.f_bavail) * unit;
    }
    if (total_bytes) {
        *total_bytes = static_cast<INT_U64>(vs.f_blocks) * unit;
    }
    return FS_OK;
}

INT_S32 FSGetVolFileSystemID(const char* volume, INT_U32* file_system_id, char* signature, std::size_t signature_size)
{
    if (!volume) {
        return FS_BAD_ARGUMENT;
    }
    struct statfs fs;
    if (statfs(volume, &fs) != 0) {
        return fs_error_from_errno(errno);
    }
    if (signature) {
        FS_MOUNT_ENTRY m;
        INT_S32 r = mount_of(volume, m);
        if (r == FS_OK) {
            r = copy_out(m.fs_type, signature, signature_size);
        }
        if (r != FS_OK) {
            return r;
        }
    }
    if (file_system_id) {
        *file_system_id = static_cast<INT_U32>(fs.f_type);
    }
    return FS_OK;
}

INT_S32 FSGetMountedVolumes(LINKED_LIST* volumes, INT_U32* count)
{
    if (!volumes || !count) {
        return FS_BAD_ARGUMENT;
    }
    InitLinkedList(volumes, MyDisposeDataProc);
    *count = 0;
    std::vector<FS_MOUNT_ENTRY> mounts;
    INT_S32 r = read_mounts(mounts);
    if (r != FS_OK) {
        return r;
    }
    std::vector<std::string> points;
    for (const FS_MOUNT_ENTRY& m : mounts) {
        points.push_back(m.mount_point);
    }
    return fill_list(volumes, count, points);
}
