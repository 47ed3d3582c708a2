// Finder information kept in the file servers' metadata attribute: values
// they wrote read and kept, damaged ones refused and left alone, the
// invisible flag kept with the folder's list, and file systems that keep
// no attribute.
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"

#include "folder.h"

#include "child_process.h"
#include "sandbox.h"
#include "smb_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using BYTES = std::vector<INT_U8>;

BYTES from_hex(const std::string& hex)
{
    BYTES b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        b.push_back(static_cast<INT_U8>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return b;
}

// A 402-byte value as the servers lay it out: the header and the eight
// descriptors (`head`), the Finder information at 122, room for the
// comment, the dates at 354, then the file information and the servers'
// four empty entries of their own.
BYTES value_of(const std::string& head, const std::string& finder, const std::string& dates)
{
    return from_hex(head + finder + std::string(400, '0') + dates + std::string(64, '0'));
}

// What Samba (vfs_fruit) wrote for a file after a client set its Finder
// information (type TEXT, creator KIVO, flags 0x4100, extended information
// A0..AF): its own order of the entries (comment, dates, Finder
// information, file information, its four own), every date the time it
// made the value (not the file's birth), no backup.
const BYTES samba_file =
    value_of("0005160700020000000000000000000000000000000000000008"
             "000000040000009a00000000000000080000016200000010000000090000007a000000200000000e0000017200000004"
             "80444556000001760000000080494e4f0000017e000000008053594e00000186000000008053567e0000018e00000000",
             "544558544b49564f4100112233445566a0a1a2a3a4a5a6a7a8a9aaabacadaeaf", "32a9d3e032a9d3e08000000032a9d3e0");
// The same entries with the Finder information first and the four of the
// server's own reversed, which Samba reads as well.
const BYTES reordered_file =
    value_of("0005160700020000000000000000000000000000000000000008"
             "000000090000007a000000200000000800000162000000100000000e0000017200000004000000040000009a00000000"
             "8053567e0000018e000000008053594e000001860000000080494e4f0000017e00000000804445560000017600000000",
             "544558544b49564f4100010203040506505152535455565758595a5b5c5d5e5f", "43ab3e0043ab3e018000000043ab3e02");

std::string hex32(INT_U32 v)
{
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(v));
    return hex;
}

BYTES finder_of(const BYTES& value)
{
    return BYTES(value.begin() + 122, value.begin() + 154);
}

TEST(FinderValue, ServersValuesAreReadWhateverTheirOrderAndOursIsTheirs)
{
    ASSERT_EQ(samba_file.size(), FS_FINDER_VALUE_BYTES);
    ASSERT_EQ(reordered_file.size(), FS_FINDER_VALUE_BYTES);
    for (const BYTES* v : {&samba_file, &reordered_file}) {
        std::size_t at = 0;
        ASSERT_TRUE(fs_find_finder_entry(v->data(), v->size(), at));
        EXPECT_EQ(at, FS_FINDER_VALUE_INFO_AT);
    }
    // A value we make is, byte for byte, the one the server makes.
    FS_FINDER_DATES dates;
    dates.created = dates.modified = dates.accessed = 946684800 + 0x32a9d3e0;
    EXPECT_EQ(fs_make_finder_value(finder_of(samba_file).data(), dates), samba_file);

    const struct
    {
        INT_S64 unix_seconds;
        INT_U32 stored;
    } dates_table[] = {
        {946684800, 0},                             // 2000-01-01
        {0, 0xC792BC80},                            // 1970, before it
        {946684800 + 0x7FFFFFFFll + 9, 0x7FFFFFFF}, // past 2068: the last date
        {-4000000000ll, 0x80000001},                // before 1931: the first, never "never"
    };
    for (const auto& d : dates_table) {
        EXPECT_EQ(fs_finder_date(d.unix_seconds), d.stored) << d.unix_seconds;
    }
}

// A damaged copy of the server's value: `at` bytes replaced by `with` (hex),
// or cut to `cut` bytes.
struct DAMAGE
{
    const char* what;
    std::size_t at;
    const char* with;
    int cut; // the size it is cut to; -1: not cut
};
const DAMAGE damages[] = {
    {"magic", 0, "00051600", -1},
    {"version", 4, "00010000", -1},
    {"more entries than it holds", 24, "0022", -1},
    {"an entry at the very end", 26 + 4, "00000192", -1}, // the comment at 402, empty: still valid...
    {"an entry past the end", 26 + 4, "00000193", -1},
    {"a length past the end", 26 + 12 + 8, "00000031", -1}, // ...the dates 49 bytes from 354: not
    {"an offset that wraps", 26 + 12 + 4, "fffffff0", -1},  // no sum may wrap around
    {"a short Finder entry", 26 + 24 + 8, "0000001f", -1},
    {"a Finder entry over the descriptors", 26 + 24 + 4, "00000070", -1},
    {"cut inside the descriptors", 0, "", 100},
    {"cut before its count", 0, "", 25},
    {"empty", 0, "", 0},
};
const char valid_damage[] = "an entry at the very end";

BYTES damaged(const DAMAGE& d)
{
    BYTES v = samba_file;
    const BYTES with = from_hex(d.with);
    std::copy(with.begin(), with.end(), v.begin() + static_cast<long>(d.at));
    if (d.cut >= 0) {
        v.resize(static_cast<std::size_t>(d.cut));
    }
    return v;
}

class FinderInfo : public kivo_test::ScratchFolderTest
{
protected:
    // The value of the object at `path` (not followed); "missing" sets *none.
    BYTES value(const std::string& path, bool* none = nullptr) const
    {
        BYTES v(65536);
        ssize_t n = lgetxattr(path.c_str(), FS_FINDER_ATTRIBUTE, v.data(), v.size());
        if (none) {
            *none = n < 0;
        }
        v.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
        return v;
    }
    void put(const std::string& path, const BYTES& v) const
    {
        ASSERT_EQ(lsetxattr(path.c_str(), FS_FINDER_ATTRIBUTE, v.data(), v.size(), 0), 0);
    }
    BYTES read_info(const std::string& path, INT_S32 want = FS_OK, bool* folder = nullptr) const
    {
        BYTES info(32, 0xEE);
        EXPECT_EQ(FSGetFinderInfo(path.c_str(), info.data(), info.data() + 16, folder), want) << path;
        return info;
    }
    std::string list() const { return kivo_test::read_file(at(".hidden")); }
};

// Each setter on a file and on a folder, from no value at all: what it sets
// is read back, every other byte stays.
TEST_F(FinderInfo, EachRoutineRoundTripsOnFilesAndFolders)
{
    ASSERT_TRUE(kivo_test::write_file(at("f"), "x"));
    ASSERT_EQ(mkdir(at("d").c_str(), 0755), 0);
    INT_U8 info[16], ext[16];
    for (int i = 0; i < 16; ++i) {
        info[i] = static_cast<INT_U8>(0x30 + i);
        ext[i] = static_cast<INT_U8>(0xA0 + i);
    }
    info[8] = 0x01; // has been initialised, not invisible
    info[9] = 0x02;
    const struct
    {
        const char* what;
        INT_S32 (*change)(const char*);
        INT_U8 flags; // their first byte, after the ones before from `info` as set
    } steps[] = {
        {"name locked", FSSetNameLocked, 0x11},          {"stationery", FSSetIsStationery, 0x19},
        {"custom icon", FSSetHasCustomIcon, 0x1D},       {"no name lock", FSClearNameLocked, 0x0D},
        {"no stationery", FSClearIsStationery, 0x05},    {"no custom icon", FSClearHasCustomIcon, 0x01},
        {"not initialised", FSClearHasBeenInited, 0x00},
    };
    for (const char* name : {"f", "d"}) {
        SCOPED_TRACE(name);
        const std::string p = at(name);
        bool folder = false, none = false;
        EXPECT_EQ(read_info(p, FS_OK, &folder), BYTES(32, 0));
        EXPECT_EQ(folder, name[0] == 'd');
        // A change that changes nothing makes no value.
        EXPECT_EQ(FSClearNameLocked(p.c_str()), FS_OK);
        EXPECT_EQ(FSChangeCreatorType(p.c_str(), 0, 0), FS_OK);
        value(p, &none);
        EXPECT_TRUE(none);

        ASSERT_EQ(FSSetFinderInfo(p.c_str(), info, ext), FS_OK);
        BYTES want(info, info + 16);
        want.insert(want.end(), ext, ext + 16);
        EXPECT_EQ(read_info(p), want);
        const BYTES made = value(p);
        ASSERT_EQ(made.size(), FS_FINDER_VALUE_BYTES);
        EXPECT_EQ(BYTES(made.begin(), made.begin() + 122), BYTES(samba_file.begin(), samba_file.begin() + 122));
        struct stat st;
        ASSERT_EQ(stat(p.c_str(), &st), 0);
        const INT_U32 modified = fs_finder_date(st.st_mtim.tv_sec);
        EXPECT_EQ(BYTES(made.begin() + 358, made.begin() + 362), from_hex(hex32(modified)));
        for (const auto& s : steps) {
            ASSERT_EQ(s.change(p.c_str()), FS_OK) << s.what;
            want[8] = s.flags;
            EXPECT_EQ(read_info(p), want) << s.what;
        }
        // Numbers stored big-endian; a code of 0 is left as it is.
        ASSERT_EQ(FSChangeCreatorType(p.c_str(), 0x4B49564F, 0), FS_OK);
        std::memcpy(&want[4], "KIVO", 4);
        EXPECT_EQ(read_info(p), want);
        ASSERT_EQ(FSChangeCreatorType(p.c_str(), 0, 0x54455854), FS_OK);
        std::memcpy(&want[0], "TEXT", 4);
        EXPECT_EQ(read_info(p), want);
        ASSERT_EQ(FSChangeFinderFlags(p.c_str(), true, 0x1802), FS_OK);
        want[8] = 0x18;
        want[9] = 0x02;
        EXPECT_EQ(read_info(p), want);
        ASSERT_EQ(FSChangeFinderFlags(p.c_str(), false, 0x0802), FS_OK);
        want[8] = 0x10;
        want[9] = 0x00;
        EXPECT_EQ(read_info(p), want);
        const BYTES last = value(p);
        EXPECT_EQ(BYTES(last.begin() + 154, last.end()), BYTES(made.begin() + 154, made.end())); // dates kept
        EXPECT_EQ(list(), "");
        // A slash at the end names a folder, and no file.
        EXPECT_EQ(FSChangeCreatorType((p + "/").c_str(), 0x4B4B4B4B, 0), name[0] == 'd' ? FS_OK : FS_NOT_A_DIRECTORY);
        std::memcpy(&want[4], name[0] == 'd' ? "KKKK" : "KIVO", 4);
        EXPECT_EQ(read_info(p), want);
    }
    for (const char* missing : {"missing", "dangling"}) {
        ASSERT_EQ(symlink("missing", at("dangling").c_str()) == 0 || errno == EEXIST, true);
        const std::string p = at(missing);
        EXPECT_EQ(FSGetFinderInfo(p.c_str(), nullptr, nullptr, nullptr), FS_NOT_FOUND);
        EXPECT_EQ(FSSetFinderInfo(p.c_str(), info, ext), FS_NOT_FOUND);
        EXPECT_EQ(FSSetNameLocked(p.c_str()), FS_NOT_FOUND);
        EXPECT_EQ(FSChangeCreatorType(p.c_str(), 1, 1), FS_NOT_FOUND);
    }
}

// A value the server wrote is read as it holds it and keeps all its other
// bytes through every change; so does one whose entries stand in another
// order.
TEST_F(FinderInfo, ServersValuesAreReadAndKeptWhateverTheirOrder)
{
    // One with a comment of 2500 bytes after the rest, longer than a value
    // of ours by far.
    BYTES long_comment = samba_file;
    const BYTES comment_entry = from_hex("00000192000009c4");
    std::copy(comment_entry.begin(), comment_entry.end(), long_comment.begin() + 26 + 4);
    for (int i = 0; i < 2500; ++i) {
        long_comment.push_back(static_cast<INT_U8>('a' + i % 26));
    }
    const BYTES* const values[] = {&samba_file, &reordered_file, &long_comment};
    for (const BYTES* v : values) {
        ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
        put(at("f"), *v);
        EXPECT_EQ(read_info(at("f")), finder_of(*v));
        ASSERT_EQ(FSSetNameLocked(at("f").c_str()), FS_OK);
        ASSERT_EQ(FSChangeCreatorType(at("f").c_str(), 0x4B4B4B4B, 0x54545454), FS_OK);
        BYTES info = finder_of(*v);
        INT_U8 ext[16] = {9};
        ASSERT_EQ(FSSetFinderInfo(at("f").c_str(), info.data(), ext), FS_OK);
        BYTES want = *v;
        std::memcpy(&want[122], info.data(), 16);
        std::memcpy(&want[138], ext, 16);
        want[130] |= 0x40; // invisible, through the list as well
        EXPECT_EQ(value(at("f")), want);
        EXPECT_EQ(list(), "f\n");
        ASSERT_EQ(unlink(at("f").c_str()), 0);
        ASSERT_EQ(unlink(at(".hidden").c_str()), 0);
    }
}

TEST_F(FinderInfo, DamagedValuesAreReportedAndNeverOverwritten)
{
    BYTES no_entry = samba_file;
    no_entry[26 + 24 + 3] = 10;
    const INT_U8 info[16] = {'T', 'E', 'X', 'T'}, ext[16] = {};
    for (const DAMAGE& d : damages) {
        const bool valid = !std::strcmp(d.what, valid_damage);
        for (const char* name : {"f", "d"}) {
            SCOPED_TRACE(std::string(d.what) + " on " + name);
            const std::string p = at(name);
            if (name[0] == 'f') {
                ASSERT_TRUE(kivo_test::write_file(p, ""));
            } else {
                ASSERT_EQ(mkdir(p.c_str(), 0755), 0);
            }
            const BYTES v = damaged(d);
            put(p, v);
            EXPECT_EQ(FSGetFinderInfo(p.c_str(), nullptr, nullptr, nullptr), valid ? FS_OK : FS_IO_ERROR);
            if (valid) {
                kivo_test::remove_tree(p);
                continue;
            }
            EXPECT_EQ(FSSetFinderInfo(p.c_str(), info, ext), FS_IO_ERROR);
            EXPECT_EQ(FSSetNameLocked(p.c_str()), FS_IO_ERROR);
            EXPECT_EQ(FSClearHasBeenInited(p.c_str()), FS_IO_ERROR);
            EXPECT_EQ(FSSetInvisible(p.c_str()), FS_IO_ERROR);
            EXPECT_EQ(value(p), v);
            EXPECT_EQ(list(), ""); // not listed either
            kivo_test::remove_tree(p);
        }
    }
    // Without a Finder entry: zeros to a reader, an error to a setter.
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    put(at("f"), no_entry);
    EXPECT_EQ(read_info(at("f")), BYTES(32, 0));
    EXPECT_EQ(FSChangeCreatorType(at("f").c_str(), 1, 0), FS_IO_ERROR);
    EXPECT_EQ(FSSetInvisible(at("f").c_str()), FS_IO_ERROR);
    EXPECT_EQ(value(at("f")), no_entry);
}

// The invisible flag is the list's line and the stored flag together; a
// dot-name is hidden by its name; a link stands for what it leads to in the
// Finder routines and for itself in FSSetInvisible.
TEST_F(FinderInfo, TheInvisibleFlagIsKeptInTheListAndTheValue)
{
    ASSERT_EQ(mkdir(at("sub").c_str(), 0755), 0);
    for (const char* n : {"f", ".dot", "listed", "sub/target"}) {
        ASSERT_TRUE(kivo_test::write_file(at(n), ""));
    }
    ASSERT_EQ(symlink("sub/target", at("link").c_str()), 0);
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), "listed\n"));
    bool none = false;

    // Read from the list or the name, with nothing written.
    EXPECT_EQ(read_info(at("listed"))[8], 0x40);
    EXPECT_EQ(read_info(at(".dot"))[8], 0x40);
    value(at("listed"), &none);
    EXPECT_TRUE(none);

    ASSERT_EQ(FSSetInvisible(at("f").c_str()), FS_OK);
    EXPECT_EQ(list(), "listed\nf\n");
    EXPECT_EQ(value(at("f"))[130], 0x40);
    ASSERT_EQ(FSClearInvisible(at("f").c_str()), FS_OK);
    EXPECT_EQ(list(), "listed\n");
    EXPECT_EQ(value(at("f"))[130], 0x00);
    EXPECT_EQ(read_info(at("f")), BYTES(32, 0));
    // Listed, flag not stored: clearing takes both away, setting stores it.
    ASSERT_EQ(FSChangeFinderFlags(at("listed").c_str(), true, FS_FLAG_INVISIBLE | FS_FLAG_STATIONERY), FS_OK);
    EXPECT_EQ(value(at("listed"))[130], 0x48);
    ASSERT_EQ(FSChangeFinderFlags(at("listed").c_str(), false, FS_FLAG_INVISIBLE), FS_OK);
    EXPECT_EQ(list(), "");
    EXPECT_EQ(read_info(at("listed"))[8], 0x08);

    // Hidden by its name: setting stores the flag, clearing is refused.
    ASSERT_EQ(FSSetInvisible(at(".dot").c_str()), FS_OK);
    EXPECT_EQ(value(at(".dot"))[130], 0x40);
    const INT_U8 shown[16] = {'T'}, ext[16] = {};
    EXPECT_EQ(FSClearInvisible(at(".dot").c_str()), FS_BAD_NAME);
    EXPECT_EQ(FSSetFinderInfo(at(".dot").c_str(), shown, ext), FS_BAD_NAME);
    BYTES only_invisible(32, 0);
    only_invisible[8] = 0x40;
    EXPECT_EQ(read_info(at(".dot")), only_invisible);
    EXPECT_EQ(list(), "");

    // Through a link: what it leads to, in its own folder's list.
    INT_U8 hidden[16] = {'T', 'E', 'X', 'T', 0, 0, 0, 0, 0x40};
    ASSERT_EQ(FSSetFinderInfo(at("link").c_str(), hidden, ext), FS_OK);
    EXPECT_EQ(kivo_test::read_file(at("sub/.hidden")), "target\n");
    EXPECT_EQ(value(at("sub/target"))[130], 0x40);
    value(at("link"), &none);
    EXPECT_TRUE(none);
    // FSSetInvisible takes the link itself: listed, nothing stored on it.
    ASSERT_EQ(FSSetInvisible(at("link").c_str()), FS_OK);
    EXPECT_EQ(list(), "link\n");
    EXPECT_EQ(read_info(at("link"))[0], 'T');
}

// A user may hide a file it may not write (its write bit taken away): the
// list hides it, though its flag cannot be stored; any other change of what
// cannot be written is refused with nothing changed.
TEST_F(FinderInfo, AnUnwritableFileIsHiddenByTheListAlone)
{
    const uid_t user = 40001;
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    ASSERT_EQ(chmod(at("f").c_str(), 0444), 0);
    ASSERT_EQ(chown(at("f").c_str(), user, user), 0);
    ASSERT_EQ(chown(work.c_str(), user, user), 0);
    ASSERT_EQ(chmod(work.c_str(), 0755), 0);
    const int code = kivo_test::run_in_child([&] {
        if (chdir(work.c_str()) != 0 || setgid(user) != 0 || setuid(user) != 0) {
            return 77;
        }
        const INT_U8 text[16] = {'T', 'E', 'X', 'T'}, ext[16] = {};
        return (FSSetInvisible("f") == FS_OK ? 0 : 1) | (FSSetNameLocked("f") == FS_ACCESS_DENIED ? 0 : 2) |
               (FSSetFinderInfo("f", text, ext) == FS_ACCESS_DENIED ? 0 : 4);
    });
    if (code == 77) {
        GTEST_SKIP() << "cannot become another user here";
    }
    EXPECT_EQ(code, 0);
    EXPECT_EQ(list(), "f\n");
    bool none = false;
    value(at("f"), &none);
    EXPECT_TRUE(none);
    EXPECT_EQ(read_info(at("f"))[8], 0x40);
}

// Without user attributes (ramfs) nothing is stored: a setter that would
// store something is refused and changes nothing, one with nothing to
// change succeeds, and the invisible flag still goes into the list.
TEST_F(FinderInfo, AFileSystemWithoutAttributesKeepsOnlyTheList)
{
    const std::string mnt = at("mnt"), f = mnt + "/f", g = mnt + "/g";
    ASSERT_EQ(mkdir(mnt.c_str(), 0755), 0);
    int code = kivo_test::run_on_own_mount(mnt, "ramfs", 0, nullptr, [&] {
        if (!kivo_test::write_file(f, "") || !kivo_test::write_file(g, "") ||
            lsetxattr(f.c_str(), FS_FINDER_ATTRIBUTE, "x", 1, 0) == 0) {
            return 77;
        }
        const INT_U8 creator[16] = {0, 0, 0, 0, 'K', 'I', 'V', 'O', 0x40},
                     invisible[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0x40}, ext[16] = {};
        const struct
        {
            INT_S32 got, want;
        } answers[] = {
            {FSSetNameLocked(f.c_str()), FS_NOT_SUPPORTED},
            {FSChangeCreatorType(f.c_str(), 1, 0), FS_NOT_SUPPORTED},
            {FSSetFinderInfo(f.c_str(), creator, ext), FS_NOT_SUPPORTED}, // not even listed
            {FSChangeFinderFlags(f.c_str(), true, FS_FLAG_INVISIBLE | FS_FLAG_HAS_BEEN_INITED), FS_NOT_SUPPORTED},
            {FSClearNameLocked(f.c_str()), FS_OK},
            {FSClearHasBeenInited(f.c_str()), FS_OK},
            {FSChangeCreatorType(f.c_str(), 0, 0), FS_OK},
            {FSChangeFinderFlags(f.c_str(), false, 0x7FFF), FS_OK},
            {kivo_test::read_file(mnt + "/.hidden").empty() ? FS_OK : 1, FS_OK},
            {FSSetFinderInfo(f.c_str(), invisible, ext), FS_OK},
            {FSChangeFinderFlags(g.c_str(), true, FS_FLAG_INVISIBLE), FS_OK},
            {kivo_test::read_file(mnt + "/.hidden") == "f\ng\n" ? FS_OK : 2, FS_OK},
            {FSClearInvisible(g.c_str()), FS_OK},
            {kivo_test::read_file(mnt + "/.hidden") == "f\n" ? FS_OK : 3, FS_OK},
        };
        for (std::size_t i = 0; i < sizeof answers / sizeof answers[0]; ++i) {
            if (answers[i].got != answers[i].want) {
                return static_cast<int>(10 + i);
            }
        }
        INT_U8 info[16] = {1}, more[16] = {1};
        bool folder = true;
        return FSGetFinderInfo(f.c_str(), info, more, &folder) == FS_OK && !folder && info[8] == 0x40 &&
                       std::count(info, info + 16, 0) == 15 && std::count(more, more + 16, 0) == 16
                   ? 0
                   : 1;
    });
    if (code == 77) {
        GTEST_SKIP() << "no file system without user attributes can be mounted here";
    }
    EXPECT_EQ(code, 0);
}

// Programs of ours changing one object's flags at once, through one name
// or through hard links in folders of their own: every change stays, each
// read, change and write being made under the object's own lock, whatever
// name reached it. Each process reads its own flag back after each change:
// a change another lost shows there.
TEST_F(FinderInfo, RacingChangesAreAllKept)
{
    ASSERT_TRUE(kivo_test::write_file(at("f"), ""));
    const INT_U16 bits[] = {FS_FLAG_NAME_LOCKED, FS_FLAG_STATIONERY, FS_FLAG_HAS_CUSTOM_ICON, 0x0080, 0x0040, 0x0020};
    for (bool links : {false, true}) {
        SCOPED_TRACE(links ? "through hard links" : "through one name");
        ASSERT_EQ(lremovexattr(at("f").c_str(), FS_FINDER_ATTRIBUTE) == 0 || errno == ENODATA, true);
        int go[2];
        ASSERT_EQ(pipe(go), 0);
        std::vector<pid_t> children;
        for (INT_U16 bit : bits) {
            std::string p = at("f");
            if (links) {
                const std::string folder = at("links" + std::to_string(bit));
                ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
                p = folder + "/f";
                ASSERT_EQ(link(at("f").c_str(), p.c_str()), 0);
            }
            children.push_back(kivo_test::start_child([&, bit, p] {
                char c;
                if (read(go[0], &c, 1) != 1) {
                    return 2;
                }
                for (int round = 0; round <= 100; ++round) {
                    const bool on = round % 2 == 0;
                    INT_U8 info[16] = {};
                    if (FSChangeFinderFlags(p.c_str(), on, bit) != FS_OK ||
                        FSGetFinderInfo(p.c_str(), info, nullptr, nullptr) != FS_OK ||
                        ((info[8] << 8 | info[9]) & bit) != (on ? bit : 0)) {
                        return 1;
                    }
                }
                return 0;
            }));
        }
        const int n = static_cast<int>(children.size());
        ASSERT_EQ(write(go[1], std::string(n, 'g').data(), n), n);
        for (pid_t child : children) {
            EXPECT_EQ(kivo_test::wait_child(child), 0);
        }
        close(go[0]);
        close(go[1]);
        const BYTES info = read_info(at("f"));
        EXPECT_EQ(info[8], 0x1C);
        EXPECT_EQ(info[9], 0xE0);
    }
}

// A folder replaced while a change of one of its entries is made (swapped
// with another, as a replacing copy does, just before the entry's list
// takes its place): the change is made again on what the path leads to
// now, the new folder's list and its entry's value, and nothing of the old
// ones goes into them.
TEST_F(FinderInfo, AChangeMadeWhileItsFolderIsReplacedLandsOnTheNewOne)
{
    for (const char* folder : {"d", "other"}) {
        ASSERT_EQ(mkdir(at(folder).c_str(), 0755), 0);
        ASSERT_TRUE(kivo_test::write_file(at(folder) + "/f", folder));
        ASSERT_TRUE(kivo_test::write_file(at(folder) + "/.hidden", std::string(folder) + "-listed\n"));
        put(at(folder) + "/f", folder[0] == 'd' ? samba_file : reordered_file);
    }
    static std::string a, b;
    a = at("d");
    b = at("other");
    fs_hidden_list_before_write = [] {
        fs_hidden_list_before_write = nullptr;
        renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE);
    };
    const INT_S32 r = FSChangeFinderFlags(at("d/f").c_str(), true, FS_FLAG_INVISIBLE | FS_FLAG_NAME_LOCKED);
    fs_hidden_list_before_write = nullptr;
    EXPECT_EQ(r, FS_OK);
    ASSERT_EQ(kivo_test::read_file(at("d/f")), "other");
    EXPECT_EQ(kivo_test::read_file(at("d/.hidden")), "other-listed\nf\n");
    BYTES want = reordered_file;
    want[130] = 0x51;
    EXPECT_EQ(value(at("d/f")), want);
}

// A save by another thread, made as a Finder change is about to take its
// object's lock, until it is done or waits for a lock itself.
struct SAVER
{
    std::string file;
    std::vector<std::thread> threads;
    std::atomic<int> done{0};
    std::atomic<long> thread_id{0};

    void save_now()
    {
        const int before = done;
        thread_id = 0;
        threads.emplace_back([this] {
            thread_id = syscall(SYS_gettid);
            FILE* fp = FOLDER::open_whole_file(file.c_str(), "wb");
            if (fp && std::fputs("saved again", fp) >= 0 && FOLDER::finish_file(fp, true)) {
                ++done;
            }
        });
        for (int i = 0; i < 10000 && done == before && !pausing(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    bool pausing() const
    {
        std::ifstream in("/proc/self/task/" + std::to_string(thread_id.load()) + "/syscall");
        long number = -1;
        return thread_id != 0 && (in >> number) && (number == SYS_clock_nanosleep || number == SYS_nanosleep);
    }
};

// A file an autosave replaces again and again: the save done before the
// change's first pass holds the file replaces it, and the change goes on to
// the new file, where saves begun from then on wait for it, so the change
// lands and the save after it keeps it.
TEST_F(FinderInfo, AChangeOfAFileSavedAgainAndAgainLands)
{
    static SAVER saver;
    saver.file = at("notes.txt");
    saver.done = 0;
    ASSERT_TRUE(kivo_test::write_file(saver.file, "first"));
    fs_finder_before_hold = [] { saver.save_now(); };
    const INT_S32 r = FSSetIsStationery(saver.file.c_str());
    fs_finder_before_hold = nullptr;
    for (std::thread& t : saver.threads) {
        t.join();
    }
    saver.threads.clear();
    EXPECT_EQ(r, FS_OK);
    EXPECT_EQ(saver.done, 2);
    EXPECT_EQ(kivo_test::read_file(saver.file), "saved again");
    EXPECT_EQ(read_info(saver.file)[8], FS_FLAG_STATIONERY >> 8);
}

// Copies carry the value with has-been-initialised cleared (the copy is new
// to the Finder); a value that is not a valid header goes as it stands.
// Made under a free name and then over the copies, every way a copy is
// made is taken: a file and a folder through a temporary, a folder in
// place, and the files and folders inside one.
TEST_F(FinderInfo, CopiesCarryTheValueWithHasBeenInitialisedCleared)
{
    for (const char* folder : {"d", "d/sub", "out"}) {
        ASSERT_EQ(mkdir(at(folder).c_str(), 0755), 0);
    }
    for (const char* file : {"f", "d/inner", "d/plain"}) {
        ASSERT_TRUE(kivo_test::write_file(at(file), file));
    }
    const BYTES broken = damaged(damages[0]);
    put(at("f"), samba_file);
    put(at("d"), reordered_file);
    put(at("d/sub"), samba_file);
    put(at("d/inner"), broken);
    BYTES samba_copied = samba_file, reordered_copied = reordered_file;
    samba_copied[130] = reordered_copied[130] = 0x40; // 0x41 in the sources
    for (INT_U8 action : {FS_DUPLICATE_FAIL, FS_DUPLICATE_REPLACE}) {
        SCOPED_TRACE(action == FS_DUPLICATE_FAIL ? "to a free name" : "over the copies");
        for (const char* name : {"f", "d"}) {
            ASSERT_EQ(FSCopyObject(work.c_str(), name, at("out").c_str(), 0, 0, action, nullptr, false, false, nullptr,
                                   nullptr, nullptr, 0),
                      FS_OK);
        }
        EXPECT_EQ(value(at("out/f")), samba_copied);
        EXPECT_EQ(value(at("out/d")), reordered_copied);
        EXPECT_EQ(value(at("out/d/sub")), samba_copied);
        EXPECT_EQ(value(at("out/d/inner")), broken);
        bool none = false;
        value(at("out/d/plain"), &none);
        EXPECT_TRUE(none);
    }
    EXPECT_EQ(value(at("f")), samba_file); // the sources are left as they were
}

// FSCopyFileMgrAttributes puts the source's 32 bytes, as read, into the
// destination's value and keeps the rest of it; the invisible flag goes
// with the list.
TEST_F(FinderInfo, AttributeCopiesPutTheSourcesBytesIntoTheDestinationsValue)
{
    for (const char* file : {"source", "plain", "listed", "dest", ".dot"}) {
        ASSERT_TRUE(kivo_test::write_file(at(file), file));
    }
    ASSERT_TRUE(kivo_test::write_file(at(".hidden"), "listed\n"));
    put(at("source"), samba_file); // invisible and initialised
    put(at("dest"), reordered_file);
    ASSERT_EQ(FSCopyFileMgrAttributes(at("source").c_str(), at("dest").c_str(), false), FS_OK);
    BYTES want = reordered_file;
    std::copy(samba_file.begin() + 122, samba_file.begin() + 154, want.begin() + 122);
    EXPECT_EQ(value(at("dest")), want);
    EXPECT_EQ(list(), "listed\ndest\n");

    // From a source without a value: zeros, and shown again.
    ASSERT_EQ(FSCopyFileMgrAttributes(at("plain").c_str(), at("dest").c_str(), false), FS_OK);
    std::fill(want.begin() + 122, want.begin() + 154, 0);
    EXPECT_EQ(value(at("dest")), want);
    EXPECT_EQ(list(), "listed\n");
    // Hidden by the list alone: hidden there too.
    ASSERT_EQ(FSCopyFileMgrAttributes(at("listed").c_str(), at("dest").c_str(), false), FS_OK);
    want[130] = 0x40;
    EXPECT_EQ(value(at("dest")), want);
    EXPECT_EQ(list(), "listed\ndest\n");

    // A dot-name stays hidden: the refusal to show it is passed over.
    ASSERT_EQ(FSCopyFileMgrAttributes(at("source").c_str(), at(".dot").c_str(), false), FS_OK);
    EXPECT_EQ(read_info(at(".dot")), finder_of(samba_file));
    ASSERT_EQ(FSCopyFileMgrAttributes(at("plain").c_str(), at(".dot").c_str(), false), FS_OK);
    BYTES only_invisible(32, 0);
    only_invisible[8] = 0x40;
    EXPECT_EQ(read_info(at(".dot")), only_invisible);
    EXPECT_EQ(list(), "listed\ndest\n");

    // A destination whose value is damaged keeps it, and the copy says so.
    const BYTES broken = damaged(damages[0]);
    put(at("dest"), broken);
    EXPECT_EQ(FSCopyFileMgrAttributes(at("source").c_str(), at("dest").c_str(), false), FS_IO_ERROR);
    EXPECT_EQ(value(at("dest")), broken);
}

// Through a running server: what our routines store is what a client reads
// in the AFP_AfpInfo stream (16 bytes in: the Finder information and the
// extended information), and what a client writes there is what they read.
class FinderOverSmb : public kivo_test::SmbShareTest
{
protected:
    static std::string afp_info(const BYTES& finder)
    {
        return std::string("AFP\0\0\0\x01\0", 8) + std::string(8, '\0') + std::string(finder.begin(), finder.end()) +
               std::string(12, '\0');
    }
    BYTES client_reads(const std::string& name) const
    {
        std::string stream, why;
        EXPECT_TRUE(smb.read_stream(name, "AFP_AfpInfo", &stream, &why)) << why;
        return stream.size() == 60 ? BYTES(stream.begin() + 16, stream.begin() + 48) : BYTES();
    }
};

TEST_F(FinderOverSmb, WhatWeStoreIsWhatAClientReadsAndTheReverse)
{
    for (const char* name : {"notes.txt", "Letters"}) {
        SCOPED_TRACE(name);
        const std::string p = at(name);
        if (name[0] == 'L') {
            ASSERT_EQ(mkdir(p.c_str(), 0755), 0);
        } else {
            ASSERT_TRUE(kivo_test::write_file(p, "text\n"));
        }
        ASSERT_EQ(FSChangeCreatorType(p.c_str(), 0x4B49564F, 0x54455854), FS_OK);
        ASSERT_EQ(FSChangeFinderFlags(p.c_str(), true, FS_FLAG_HAS_CUSTOM_ICON | FS_FLAG_INVISIBLE), FS_OK);
        BYTES ours(32, 0);
        ASSERT_EQ(FSGetFinderInfo(p.c_str(), ours.data(), ours.data() + 16, nullptr), FS_OK);
        EXPECT_EQ(ours, from_hex("544558544b49564f4400" + std::string(44, '0')));
        EXPECT_EQ(client_reads(name), ours);

        // A client's bytes, every one of them, read as it wrote them.
        BYTES theirs(32);
        for (int i = 0; i < 32; ++i) {
            theirs[static_cast<std::size_t>(i)] = static_cast<INT_U8>(0xC0 + i);
        }
        theirs[8] = 0x41; // invisible and initialised, as the list has it
        std::string why;
        ASSERT_TRUE(smb.write_stream(name, "AFP_AfpInfo", afp_info(theirs), &why)) << why;
        BYTES read(32, 0);
        ASSERT_EQ(FSGetFinderInfo(p.c_str(), read.data(), read.data() + 16, nullptr), FS_OK);
        EXPECT_EQ(read, theirs);

        // Changed here again, seen there; shown again, not hidden there.
        ASSERT_EQ(FSSetNameLocked(p.c_str()), FS_OK);
        ASSERT_EQ(FSClearInvisible(p.c_str()), FS_OK);
        theirs[8] = 0x11;
        EXPECT_EQ(client_reads(name), theirs);
    }
}

} // namespace
