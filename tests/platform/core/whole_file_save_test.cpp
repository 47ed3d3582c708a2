// Saves on a disk that fills, their permission bits and symbolic links,
// what a saved file keeps (attributes, owner, links) and settings files
// shared by two programs.
#include "child_process.h"
#include "config_file.h"
#include "data_file.h"
#include "file_system.h"
#include "file_system_catalog.h"
#include "file_system_catalog_internal.h"
#include "folder.h"
#include "sandbox.h"
#include "text_file.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <linux/limits.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;
using NAMES = std::vector<std::string>;

// No file may grow past this in a child that plays the full disk; every
// save below writes more.
constexpr long SIZE_LIMIT = 200;
const std::string OLD = "old\n\tkept\n";

// 4,000 bytes that compress badly.
bool save_data(FOLDER& f, const char* name, FILE_MODE mode, INT_U8 gzip)
{
    DATA_FILE* file = f.open_data_file(name, mode, -1, gzip);
    bool ok = file != nullptr;
    for (INT_U32 i = 0; file && i < 1000; ++i) {
        ok = put_u32(*file, i * 2654435761u) && ok;
    }
    return f.close(file) && ok;
}

bool save_text(FOLDER& f, const char* name, FILE_MODE mode, INT_U8 unicode)
{
    TEXT_FILE* t = f.open_text_file(name, mode, unicode);
    bool ok = t != nullptr;
    for (int i = 0; t && i < 100; ++i) {
        ok = (*t << "twenty bytes a line\n") && ok;
    }
    return f.close(t) && ok;
}

bool save_settings(FOLDER& f, const char* name, INT_U8 cached)
{
    CONFIG_FILE c;
    c.set_filename(name, cached);
    return c.write(f, "long", std::string(250, 'v').c_str());
}

struct SAVER
{
    const char* what;
    bool in_place; // appends or updates: only the failure must show
    std::function<bool(FOLDER&, const char*)> save;
};

const SAVER SAVERS[] = {
    {"data file", false, [](FOLDER& f, const char* n) { return save_data(f, n, fm_write, 0); }},
    {"gzip data file", false, [](FOLDER& f, const char* n) { return save_data(f, n, fm_write, 1); }},
    {"text", false, [](FOLDER& f, const char* n) { return save_text(f, n, fm_write, 0); }},
    {"UTF-16 text", false, [](FOLDER& f, const char* n) { return save_text(f, n, fm_write, 1); }},
    {"cached settings", false, [](FOLDER& f, const char* n) { return save_settings(f, n, 1); }},
    {"streamed settings", false, [](FOLDER& f, const char* n) { return save_settings(f, n, 0); }},
    {"updated data file", true, [](FOLDER& f, const char* n) { return save_data(f, n, fm_update, 0); }},
    {"appended text", true, [](FOLDER& f, const char* n) { return save_text(f, n, fm_update, 0); }},
};

class WholeFileSaveTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_EQ(mkdir(path("w").c_str(), 0755), 0);
        ASSERT_TRUE(folder.set_from_path_string(path("w").c_str()));
    }

    // A file of the folder the saves write to.
    std::string at(const std::string& name) const { return path("w/" + name); }

    // Every entry of a folder, hidden ones too.
    NAMES names(const std::string& sub = "")
    {
        FOLDER f(("$HERE/" + sub).c_str(), 0, &folder);
        NAMES out;
        FOLDER_CONTENTS_LIST* h = f.start_contents_list(nullptr, 1, fft_ends_with, 0);
        FOLDER_CONTENT_ENTRY e;
        while (FOLDER::get_contents_list_entry(h, e)) {
            out.push_back(e.name);
        }
        FOLDER::stop_contents_list(h);
        return out;
    }

    mode_t mode_of(const std::string& name)
    {
        struct stat st;
        return stat(at(name).c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    // 1 when the file carries the temporary mark of `target`, 0 when not,
    // -1 when it cannot be opened.
    int marked(const std::string& name, const std::string& target)
    {
        int fd = open(at(name).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return -1;
        }
        int is = fs_is_marked_temporary(fd, target.c_str()) ? 1 : 0;
        close(fd);
        return is;
    }

    // A save of `name` that ends after writing part of the file, killed or
    // by _exit: true when it got that far.
    bool unfinished_save(const std::string& name, bool killed = true)
    {
        return kivo_test::run_in_child([&] {
                   FILE* fp = FOLDER::open_whole_file(at(name).c_str(), "wb");
                   if (!fp || std::fputs("half", fp) < 0 || std::fflush(fp) != 0) {
                       return 1;
                   }
                   if (killed) {
                       raise(SIGKILL);
                   }
                   _exit(0);
               }) == (killed ? -1 : 0);
    }

    // Leftovers are known by their mark only where files keep one.
    bool keeps_marks()
    {
        int fd = open(at(".probe").c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        bool kept = fd >= 0 && fs_mark_temporary(fd, "probe");
        int err = errno;
        if (fd >= 0) {
            close(fd);
        }
        unlink(at(".probe").c_str());
        if (!kept && err != ENOTSUP) {
            ADD_FAILURE() << "the mark could not be set: " << std::strerror(err);
        }
        return kept;
    }

    FOLDER folder;
};

} // namespace

TEST_F(WholeFileSaveTest, AFullDiskFailsEverySaveAndLeavesTheOldFileAsItWas)
{
    for (const SAVER& s : SAVERS) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(write_file(at("target"), OLD));
        int saved = kivo_test::run_in_child([&] { return s.save(folder, "target") ? 1 : 0; }, SIZE_LIMIT);
        EXPECT_EQ(saved, 0);
        EXPECT_EQ(names(), NAMES{"target"}); // nothing left beside it
        if (!s.in_place) {
            EXPECT_EQ(read_file(at("target")), OLD);
        }
    }
}

TEST_F(WholeFileSaveTest, ASavePastTheFileSizeLimitFailsInsteadOfEndingTheProgram)
{
    // Only the limit is set here: what the signal does is the library's.
    ASSERT_TRUE(write_file(at("target"), OLD));
    int saved = kivo_test::run_in_child([&] {
        struct rlimit limit;
        limit.rlim_cur = limit.rlim_max = SIZE_LIMIT;
        if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 2;
        }
        return SAVERS[0].save(folder, "target") ? 1 : 0;
    });
    EXPECT_EQ(saved, 0); // ended by itself (-1: killed), reporting the failure
    EXPECT_EQ(read_file(at("target")), OLD);
    EXPECT_EQ(names(), NAMES{"target"});
}

TEST_F(WholeFileSaveTest, SavesKeepPermissionBitsAndWriteThroughSymbolicLinks)
{
    mode_t old_mask = umask(022);
    ASSERT_EQ(mkdir(at("real").c_str(), 0755), 0);
    for (const SAVER& s : SAVERS) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(write_file(at("private"), OLD) && chmod(at("private").c_str(), 0600) == 0);
        // With room on the disk the same saves go through and outgrow the
        // full disk's limit.
        ASSERT_TRUE(s.save(folder, "private") && s.save(folder, "new"));
        EXPECT_GT(read_file(at("new")).size(), static_cast<size_t>(SIZE_LIMIT));
        EXPECT_EQ(mode_of("private"), 0600u);
        EXPECT_EQ(mode_of("new"), 0644u);

        // The link stays a link, relative or absolute, and its file gets the data.
        for (const std::string& to : {std::string("real/file"), at("real/file")}) {
            ASSERT_TRUE(write_file(at("real/file"), OLD) && symlink(to.c_str(), at("link").c_str()) == 0);
            ASSERT_TRUE(s.save(folder, "link"));
            struct stat st;
            EXPECT_TRUE(lstat(at("link").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
            EXPECT_GT(read_file(at("real/file")).size(), OLD.size());
            EXPECT_EQ(names("real"), NAMES{"file"});
            ASSERT_EQ(unlink(at("link").c_str()), 0);
        }
        EXPECT_EQ(names(), (NAMES{"new", "private", "real"}));
        unlink(at("new").c_str());
    }
    umask(old_mask);
}

TEST_F(WholeFileSaveTest, SettingsKeepTheUsersFilesAndAByteOrderMarkKey)
{
    const std::string bom = "\xEF\xBB\xBF";
    const std::string bom_key = "\x01,FEFF\x01";
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        SCOPED_TRACE(int(cached));
        // A ".tmp" beside the file is the user's.
        ASSERT_TRUE(write_file(at("settings.tmp"), "mine"));
        CONFIG_FILE c;
        c.set_filename(nullptr, cached);
        ASSERT_TRUE(c.write(folder, "k", "v"));
        EXPECT_EQ(read_file(at("settings.tmp")), "mine");

        // A first key that begins with U+FEFF reads back whole, and every
        // entry stays on its line.
        const struct
        {
            std::string file, key;
        } cases[] = {
            {bom + bom + "x\n\t1\nk\n\t2\n", bom_key + "x"}, // a doubled signature
            {bom + bom + "\n\t1\nk\n\t2\n", bom_key},        // a key that is only U+FEFF
        };
        for (const auto& t : cases) {
            ASSERT_TRUE(write_file(at("bom"), t.file));
            CONFIG_FILE b;
            b.set_filename("bom", cached);
            char v[256] = "";
            ASSERT_TRUE(b.read(folder, t.key.c_str(), v) && std::string(v) == "1");
            ASSERT_TRUE(b.write(folder, "k", "3"));
            EXPECT_EQ(read_file(at("bom")), bom + t.file.substr(3, t.file.size() - 5) + "3\n");
            CONFIG_FILE again;
            again.set_filename("bom", cached);
            EXPECT_TRUE(again.read(folder, t.key.c_str(), v) && std::string(v) == "1");
            EXPECT_TRUE(again.read(folder, "k", v) && std::string(v) == "3");
        }
    }
}

TEST_F(WholeFileSaveTest, TwoProgramsWritingOneSettingsFileKeepEveryEntry)
{
    const int writes = 300;
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        SCOPED_TRACE(int(cached));
        std::string name = "shared" + std::to_string(cached);
        auto writer = [&](char who) {
            return [&, who] {
                CONFIG_FILE c;
                c.set_filename(name.c_str(), cached);
                int failed = 0;
                for (int i = 0; i < writes; ++i) {
                    failed += !c.write(folder, (who + std::to_string(i)).c_str(), std::to_string(i).c_str());
                }
                return failed > 0 ? 1 : 0;
            };
        };
        pid_t a = kivo_test::start_child(writer('a')), b = kivo_test::start_child(writer('b'));
        EXPECT_EQ(kivo_test::wait_child(a), 0);
        EXPECT_EQ(kivo_test::wait_child(b), 0);
        CONFIG_FILE c;
        c.set_filename(name.c_str(), 1);
        ASSERT_TRUE(c.read_all_keys(folder, 1));
        EXPECT_EQ(c.keys.count, 2 * writes);
        char v[256];
        for (int i = 0; i < writes; i += 37) {
            EXPECT_TRUE(c.read(folder, ("b" + std::to_string(i)).c_str(), v) && std::to_string(i) == v);
        }
    }
    EXPECT_EQ(names(), (NAMES{"shared0", "shared1"}));
}

TEST_F(WholeFileSaveTest, ASaveClearsWhatKilledSavesOfItsFileLeftAndNothingElse)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes: leftovers stay there";
    }
    // Saves killed after writing part of the file. Each one clears what
    // the one before it left: one new file is left per target.
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(unfinished_save("target"));
    }
    ASSERT_TRUE(unfinished_save("other"));
    NAMES left = names();
    ASSERT_EQ(left.size(), 2u);
    const std::string others = left[0]; // ".other.*" sorts first
    ASSERT_TRUE(others.rfind(".other.kivo-save.", 0) == 0 && left[1].rfind(".target.kivo-save.", 0) == 0) << others;
    EXPECT_EQ(marked(left[1], "target"), 1);

    // Look-alikes that no save made: other tools' and the user's files of
    // the old ".name.XXXXXX" form, not exactly the pattern, a folder, a
    // link (to a file that must stay whole).
    NAMES mine = {".target.backup", ".target.orig01", ".target.Rs9xQ2", ".target.kivo-save.abcde",
                  ".target.kivo-save.abcdefg", ".target.kivo-save.ab-def", ".target.kivo-save.ABCDEF.bak",
                  ".target.x.kivo-save.ABCDEF", "target.kivo-save.ABCDEF", "x.target.kivo-save.ABCDEF",
                  // exactly the pattern, but no save made it
                  ".target.kivo-save.Zz09aB"};
    for (const std::string& n : mine) {
        ASSERT_TRUE(write_file(at(n), "mine"));
    }
    ASSERT_TRUE(write_file(at("elsewhere"), "mine"));
    ASSERT_EQ(mkdir(at(".target.kivo-save.DIRabc").c_str(), 0755), 0);
    ASSERT_EQ(symlink(at("elsewhere").c_str(), at(".target.kivo-save.LINKab").c_str()), 0);
    ASSERT_TRUE(save_text(folder, "target", fm_write, 0));
    NAMES expected = mine;
    expected.insert(expected.end(),
                    {others, ".target.kivo-save.DIRabc", ".target.kivo-save.LINKab", "elsewhere", "target"});
    std::sort(expected.begin(), expected.end());
    NAMES now = names();
    std::sort(now.begin(), now.end());
    EXPECT_EQ(now, expected);
    for (const std::string& n : mine) {
        EXPECT_EQ(read_file(at(n)), "mine") << n;
    }
    EXPECT_EQ(read_file(at("elsewhere")), "mine");
}

// Version `v` of a settings file (a few hundred bytes) or of a 200 KB text.
bool save_version(FOLDER& f, bool settings, int v)
{
    if (settings) {
        CONFIG_FILE c;
        c.set_filename("settings.cfg", 1);
        return c.write(f, "v", (std::to_string(v) + std::string(300, 'v')).c_str());
    }
    TEXT_FILE* t = f.open_text_file("notes.txt", fm_write, 0);
    bool ok = t != nullptr;
    const std::string line = "version " + std::to_string(v) + " " + std::string(40, 't') + "\n";
    for (int i = 0; t && i < 200000 / static_cast<int>(line.size()); ++i) {
        ok = (*t << line.c_str()) && ok;
    }
    return f.close(t) && ok;
}

TEST_F(WholeFileSaveTest, SavesKilledAnywhereLeaveNothingAfterTheNextSave)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes: leftovers stay there";
    }
    using clock_type = std::chrono::steady_clock;
    FOLDER ref;
    ASSERT_EQ(mkdir(path("ref").c_str(), 0755), 0);
    ASSERT_TRUE(ref.set_from_path_string(path("ref").c_str()));
    // Each also as where the file system cannot make unnamed files: the
    // moment such a save's new file has a name but no mark yet is
    // stretched to a save's length, so that the kills land in it too.
    static clock_type::duration stretch;
    const struct
    {
        bool settings;
        const char* name;
        int kills;
        bool named;
    } cases[] = {{true, "settings.cfg", 100, false},
                 {false, "notes.txt", 30, false},
                 {true, "settings.cfg", 20, true},
                 {false, "notes.txt", 20, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.named ? " made named" : ""));
        // The versions a target may hold, whole.
        std::vector<std::string> whole;
        for (int v = 0; v < 2; ++v) {
            ASSERT_TRUE(save_version(ref, c.settings, v));
            whole.push_back(read_file(path("ref/") + c.name));
        }
        const clock_type::time_point began = clock_type::now();
        ASSERT_TRUE(save_version(folder, c.settings, 0));
        const clock_type::duration one = clock_type::now() - began;
        stretch = one;
        // A child saving the two versions in turn, killed at a seeded
        // moment within its first few saves.
        std::mt19937 draw(45);
        std::uniform_real_distribution<double> within(0.0, 4.0);
        for (int k = 0; k < c.kills; ++k) {
            const pid_t child = kivo_test::start_child([&] {
                if (c.named) {
                    fs_no_unnamed_files = [] { std::this_thread::sleep_for(stretch); };
                }
                for (int v = 1;; v = 1 - v) {
                    save_version(folder, c.settings, v);
                }
                return 0;
            });
            ASSERT_GT(child, 0);
            std::this_thread::sleep_for(std::chrono::duration_cast<clock_type::duration>(one * within(draw)));
            kill(child, SIGKILL);
            kivo_test::wait_child(child);
            const std::string now = read_file(at(c.name));
            ASSERT_TRUE(now == whole[0] || now == whole[1]) << "kill " << k << ": " << now.size() << " bytes";
        }
        ASSERT_TRUE(save_version(folder, c.settings, 0));
        EXPECT_EQ(names(), NAMES{c.name});
        ASSERT_EQ(unlink(at(c.name).c_str()), 0);
    }
}

TEST_F(WholeFileSaveTest, LongNamesSharingTheirStartKeepTheirOwnLeftovers)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes: leftovers stay there";
    }
    // 250 bytes each, the first 200 the same.
    const std::string a = std::string(200, 'n') + std::string(50, 'a');
    const std::string b = std::string(200, 'n') + std::string(50, 'b');
    ASSERT_TRUE(unfinished_save(a));
    NAMES left = names();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_LE(left[0].size(), 255u);
    EXPECT_NE(left[0].find(".kivo-save."), std::string::npos) << left[0];

    ASSERT_TRUE(save_text(folder, b.c_str(), fm_write, 0));
    NAMES expected = {left[0], b};
    std::sort(expected.begin(), expected.end());
    NAMES now = names();
    std::sort(now.begin(), now.end());
    EXPECT_EQ(now, expected);

    ASSERT_TRUE(save_text(folder, a.c_str(), fm_write, 0));
    now = names();
    std::sort(now.begin(), now.end());
    expected = {a, b};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(now, expected);
}

TEST_F(WholeFileSaveTest, SavesRunningMeanwhileKeepTheirNewFiles)
{
    // One in another program, waiting between its writes. Each side holds
    // only its own pipe ends, so neither waits for ever when the other ends.
    int to_child[2], to_parent[2];
    ASSERT_EQ(pipe(to_child), 0);
    ASSERT_EQ(pipe(to_parent), 0);
    pid_t child = kivo_test::start_child([&] {
        close(to_child[1]);
        close(to_parent[0]);
        FILE* fp = FOLDER::open_whole_file(at("target").c_str(), "wb");
        char c = 1;
        bool ok = fp && std::fputs("the", fp) >= 0 && std::fflush(fp) == 0 && write(to_parent[1], &c, 1) == 1 &&
                  read(to_child[0], &c, 1) == 1 && std::fputs("irs", fp) >= 0;
        return ok && FOLDER::finish_file(fp, true) ? 0 : 1;
    });
    close(to_child[0]);
    close(to_parent[1]);
    // Lets the other program go on however this test ends.
    struct RELEASE
    {
        int fd;
        ~RELEASE() { close(fd); }
    } release{to_child[1]};
    char c = 0;
    ssize_t got = read(to_parent[0], &c, 1);
    close(to_parent[0]);
    ASSERT_EQ(got, 1);

    // One in this program.
    FILE* ours = FOLDER::open_whole_file(at("target").c_str(), "wb");
    ASSERT_NE(ours, nullptr);
    EXPECT_GE(std::fputs("ours", ours), 0);
    EXPECT_EQ(names().size(), 2u);

    EXPECT_TRUE(save_text(folder, "target", fm_write, 0));
    EXPECT_EQ(names().size(), 3u); // both new files and the target
    EXPECT_TRUE(FOLDER::finish_file(ours, true));
    EXPECT_EQ(read_file(at("target")), "ours");
    EXPECT_EQ(write(release.fd, &c, 1), 1);
    EXPECT_EQ(kivo_test::wait_child(child), 0);
    EXPECT_EQ(read_file(at("target")), "theirs");
    EXPECT_EQ(names(), NAMES{"target"});
}

TEST_F(WholeFileSaveTest, AFileSavedUnderALeftoversNameStaysAndNoSavedFileKeepsTheMark)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes";
    }
    const char* draft = ".notes.txt.kivo-save.draft1";
    for (const SAVER& s : SAVERS) {
        if (s.in_place) {
            continue;
        }
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(s.save(folder, draft));
        ASSERT_TRUE(s.save(folder, "notes.txt"));
        ASSERT_TRUE(s.save(folder, "notes.txt")); // over a file it made
        EXPECT_EQ(names(), (NAMES{draft, "notes.txt"}));
        EXPECT_GT(read_file(at(draft)).size(), static_cast<size_t>(SIZE_LIMIT));
        EXPECT_EQ(marked(draft, draft), 0);
        EXPECT_EQ(marked("notes.txt", "notes.txt"), 0);
        ASSERT_EQ(unlink(at(draft).c_str()), 0);
    }

    // A save killed after its rename leaves the mark on the file it saved,
    // naming that file: saves of another name never take it.
    ASSERT_TRUE(save_text(folder, draft, fm_write, 0));
    int fd = open(at(draft).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_TRUE(fd >= 0 && fs_mark_temporary(fd, draft));
    close(fd);
    ASSERT_TRUE(save_text(folder, "notes.txt", fm_write, 0));
    EXPECT_EQ(names(), (NAMES{draft, "notes.txt"}));
    ASSERT_EQ(unlink(at(draft).c_str()), 0);

    // A save ended without finishing leaves a marked file, removed by the
    // next save, which is left unmarked itself.
    ASSERT_TRUE(unfinished_save("notes.txt", false));
    NAMES left = names();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(marked(left[0], "notes.txt"), 1) << left[0];
    ASSERT_TRUE(save_text(folder, "notes.txt", fm_write, 0));
    EXPECT_EQ(names(), NAMES{"notes.txt"});
}

TEST_F(WholeFileSaveTest, AFileSavedWithoutTheOwnersWriteBitIsSavedAndItsLeftoverCleared)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes";
    }
    int saved = kivo_test::run_in_child([&] {
        // Root is bound by the permission bits only without these powers.
        __user_cap_header_struct head = {_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[2] = {};
        if (syscall(SYS_capget, &head, caps) != 0) {
            return 2;
        }
        caps[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER));
        if (syscall(SYS_capset, &head, caps) != 0) {
            return 3;
        }
        umask(0277);
        if (!unfinished_save("mine") || names().size() != 1) {
            return 4;
        }
        return save_text(folder, "mine", fm_write, 0) ? 0 : 1;
    });
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(mode_of("mine"), 0400u);
    EXPECT_EQ(names(), NAMES{"mine"});
    EXPECT_EQ(marked("mine", "mine"), 0);
}

TEST_F(WholeFileSaveTest, WithoutExtendedAttributesSavesWorkAndNothingIsCleared)
{
    // ramfs keeps none; it is mounted over the folder in a mount namespace
    // of the child's own.
    int saved = kivo_test::run_on_own_mount(at(""), "ramfs", 0, nullptr, [&] {
        if (keeps_marks()) {
            return 11;
        }
        NAMES left;
        if (!unfinished_save("notes.txt") || (left = names()).size() != 1 ||
            !write_file(at(".notes.txt.kivo-save.draft1"), "mine")) {
            return 3;
        }
        if (!save_text(folder, "notes.txt", fm_write, 0) || read_file(at("notes.txt")).size() != 2000) {
            return 1;
        }
        left.insert(left.end(), {".notes.txt.kivo-save.draft1", "notes.txt"});
        std::sort(left.begin(), left.end());
        NAMES now = names();
        std::sort(now.begin(), now.end());
        return now == left && read_file(at(".notes.txt.kivo-save.draft1")) == "mine" ? 0 : 4;
    });
    if (saved == 77) {
        GTEST_SKIP() << "no private mount namespace with ramfs to be had here (needs root)";
    }
    EXPECT_EQ(saved, 0);
}

namespace {

constexpr uid_t other_user = 65534;
constexpr gid_t shared_group = 4321;

// An access control list as the system stores it: the owner rw, user
// 65534 r, the group r, the mask r, others r.
std::string acl_value()
{
    const struct
    {
        INT_U16 tag, perm;
        INT_U32 id;
    } entries[] = {{0x01, 6, ~0u}, {0x02, 4, other_user}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 4, ~0u}};
    const INT_U32 version = 2;
    return std::string(reinterpret_cast<const char*>(&version), 4) +
           std::string(reinterpret_cast<const char*>(entries), sizeof entries);
}

// The value of an attribute, "-" where there is none.
std::string attribute(const std::string& file, const char* name)
{
    char v[256];
    const ssize_t n = getxattr(file.c_str(), name, v, sizeof v);
    return n < 0 ? "-" : std::string(v, static_cast<std::size_t>(n));
}

bool save_bytes(const std::string& file, const std::string& bytes)
{
    FILE* fp = FOLDER::open_whole_file(file.c_str(), "wb");
    return fp && std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size() && FOLDER::finish_file(fp, true);
}

NAMES kept_copies(const NAMES& all)
{
    NAMES out;
    std::copy_if(all.begin(), all.end(), std::back_inserter(out),
                 [](const std::string& n) { return n.rfind(".target.kivo-old.", 0) == 0; });
    return out;
}

} // namespace

TEST_F(WholeFileSaveTest, ASavedFileKeepsItsFinderInformationTagsAndAccessControlList)
{
    if (!keeps_marks()) {
        GTEST_SKIP() << "this file system keeps no extended attributes";
    }
    const std::string acl = acl_value();
    const std::string f = at("target");
    for (const SAVER& s : SAVERS) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(write_file(f, OLD));
        ASSERT_EQ(FSChangeCreatorType(f.c_str(), 0x4B49564F, 0x54455854), 0);
        ASSERT_EQ(FSSetIsStationery(f.c_str()), 0);
        ASSERT_EQ(setxattr(f.c_str(), "user.xdg.tags", "red", 3, 0), 0);
        const bool has_acl = setxattr(f.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
        const bool trusted = setxattr(f.c_str(), "trusted.kivo.test", "t", 1, 0) == 0;
        ASSERT_TRUE(s.save(folder, "target"));
        INT_U8 info[16] = {};
        ASSERT_EQ(FSGetFinderInfo(f.c_str(), info, nullptr, nullptr), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(info), 8), "TEXTKIVO");
        EXPECT_EQ(info[8] & 0x08, 0x08); // stationery
        EXPECT_EQ(attribute(f, "user.xdg.tags"), "red");
        EXPECT_EQ(attribute(f, "system.posix_acl_access"), has_acl ? acl : "-");
        EXPECT_EQ(attribute(f, "trusted.kivo.test"), trusted ? "t" : "-");
        EXPECT_EQ(marked("target", "target"), 0);
        EXPECT_EQ(names(), NAMES{"target"});
        ASSERT_EQ(unlink(f.c_str()), 0);
    }
    // A file without a list keeps none in a folder that gives its new files one.
    ASSERT_EQ(mkdir(at("acl").c_str(), 0755), 0);
    if (setxattr(at("acl").c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "no access control lists here";
    }
    ASSERT_TRUE(write_file(at("acl/plain"), OLD) &&
                removexattr(at("acl/plain").c_str(), "system.posix_acl_access") == 0);
    ASSERT_TRUE(save_bytes(at("acl/plain"), "new"));
    EXPECT_EQ(attribute(at("acl/plain"), "system.posix_acl_access"), "-");
}

TEST_F(WholeFileSaveTest, ASavedFileKeepsItsOwnerAndGroupAndAllItsLinks)
{
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to give files to another user";
    }
    // Root's save of another user's file is replaced, given to its owner.
    const std::string f = at("target");
    ASSERT_TRUE(write_file(f, OLD) && chown(f.c_str(), other_user, shared_group) == 0 && chmod(f.c_str(), 0664) == 0);
    ASSERT_TRUE(save_bytes(f, "root's"));
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, other_user);
    EXPECT_EQ(st.st_gid, shared_group);
    EXPECT_EQ(st.st_mode & 07777, 0664u);

    // Another member of its group cannot give it: it is written in place.
    ASSERT_TRUE(kivo_test::open_sandbox_to_others(at("")) && chmod(at("").c_str(), 0777) == 0);
    const int member = kivo_test::run_in_child([&] {
        const gid_t groups[] = {shared_group};
        if (setgroups(1, groups) != 0 || setresgid(65533, 65533, 65533) != 0 || setresuid(65533, 65533, 65533) != 0) {
            return 77;
        }
        return save_bytes(f, "member's") ? 0 : 1;
    });
    if (member == 77) {
        GTEST_SKIP() << "cannot be another user here";
    }
    ASSERT_EQ(member, 0);
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, other_user);
    EXPECT_EQ(st.st_gid, shared_group);
    EXPECT_EQ(read_file(f), "member's");

    // Every link of a linked file shows what was saved.
    ASSERT_EQ(link(f.c_str(), at("link").c_str()), 0);
    for (const SAVER& s : SAVERS) {
        SCOPED_TRACE(s.what);
        ASSERT_TRUE(s.save(folder, "target"));
        EXPECT_EQ(read_file(at("link")), read_file(f));
        EXPECT_EQ(names(), (NAMES{"link", "target"}));
    }
}

TEST_F(WholeFileSaveTest, ASaveInPlaceKilledAtAnyStepLosesNothing)
{
    // Three blocks of new bytes over four of old ones, through a link.
    const std::string old_bytes(250000, 'o'), new_bytes(150000, 'n');
    static int stop_at;
    for (stop_at = fs_step_copy_made; stop_at <= fs_step_copy_removed; ++stop_at) {
        SCOPED_TRACE(stop_at);
        ASSERT_TRUE(write_file(at("target"), old_bytes) && link(at("target").c_str(), at("link").c_str()) == 0);
        const int ended = kivo_test::run_in_child([&] {
            fs_save_in_place_step = [](int step) {
                if (step == stop_at) {
                    raise(SIGKILL);
                }
            };
            return save_bytes(at("target"), new_bytes) ? 0 : 1;
        });
        ASSERT_EQ(ended, -1);
        const NAMES copies = kept_copies(names());
        const std::string now = read_file(at("target"));
        // The copy stands whole from before the file changes until after
        // the new bytes are synced.
        ASSERT_EQ(copies.size(), stop_at >= fs_step_copy_kept && stop_at < fs_step_copy_removed ? 1u : 0u);
        if (stop_at >= fs_step_new_bytes_synced) {
            EXPECT_EQ(now, new_bytes);
        } else if (stop_at < fs_step_new_bytes_part) {
            EXPECT_EQ(now, old_bytes);
        }
        // The next save clears what the killed one left, but for a copy of
        // the old bytes, which is the user's.
        ASSERT_TRUE(save_bytes(at("target"), "next"));
        EXPECT_EQ(read_file(at("link")), "next");
        NAMES expected = copies;
        expected.insert(expected.end(), {"link", "target"});
        EXPECT_EQ(names(), expected);
        for (const std::string& n : copies) {
            EXPECT_EQ(read_file(at(n)), old_bytes);
            ASSERT_EQ(unlink(at(n).c_str()), 0);
        }
        ASSERT_EQ(unlink(at("link").c_str()), 0);
    }
}

TEST_F(WholeFileSaveTest, ASaveInPlaceThatFailsPutsTheOldBytesBackOrKeepsTheirCopy)
{
    // The disk fills once the file starts to change: at 1000 bytes the
    // new ones stop, and the old ones go back when they fit.
    const std::string new_bytes(4000, 'n');
    for (std::size_t old_size : {100, 2000}) {
        SCOPED_TRACE(old_size);
        const std::string old_bytes(old_size, 'o');
        ASSERT_TRUE(write_file(at("target"), old_bytes) && link(at("target").c_str(), at("link").c_str()) == 0);
        const int saved = kivo_test::run_in_child([&] {
            fs_save_in_place_step = [](int step) {
                struct rlimit limit;
                limit.rlim_cur = limit.rlim_max = 1000;
                if (step == fs_step_copy_kept && setrlimit(RLIMIT_FSIZE, &limit) != 0) {
                    _exit(2);
                }
            };
            return save_bytes(at("target"), new_bytes) ? 1 : 0;
        });
        EXPECT_EQ(saved, 0);
        const NAMES copies = kept_copies(names());
        if (old_size < 1000) {
            EXPECT_EQ(read_file(at("link")), old_bytes);
            EXPECT_EQ(names(), (NAMES{"link", "target"}));
        } else {
            ASSERT_EQ(copies.size(), 1u);
            EXPECT_EQ(read_file(at(copies[0])), old_bytes);
            ASSERT_EQ(unlink(at(copies[0]).c_str()), 0);
        }
        ASSERT_EQ(unlink(at("link").c_str()), 0);
    }
}

namespace {

// Every extended attribute of a file with its value, sorted by name.
using ATTRIBUTES = std::vector<std::pair<std::string, std::string>>;
ATTRIBUTES attributes_of(const std::string& file)
{
    ATTRIBUTES out;
    std::vector<char> list(XATTR_LIST_MAX), value(XATTR_SIZE_MAX);
    const ssize_t n = listxattr(file.c_str(), list.data(), list.size());
    for (ssize_t at = 0; at < n; at += static_cast<ssize_t>(std::strlen(list.data() + at)) + 1) {
        const ssize_t v = getxattr(file.c_str(), list.data() + at, value.data(), value.size());
        out.emplace_back(list.data() + at, v < 0 ? "-" : std::string(value.data(), static_cast<std::size_t>(v)));
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Gives the file the largest value of `name` it takes beside what it
// carries (its bytes the last letter of the name), and returns its size:
// 0 where none fits, XATTR_SIZE_MAX where nothing but that limit holds.
std::size_t fill_room(const std::string& file, const std::string& name)
{
    std::size_t fits = 0, fails = XATTR_SIZE_MAX + 1;
    while (fails - fits > 1) {
        const std::size_t size = (fits + fails) / 2;
        removexattr(file.c_str(), name.c_str());
        const std::string value(size, name.back());
        (setxattr(file.c_str(), name.c_str(), value.data(), size, 0) == 0 ? fits : fails) = size;
    }
    removexattr(file.c_str(), name.c_str());
    const std::string value(fits, name.back());
    return fits > 0 && setxattr(file.c_str(), name.c_str(), value.data(), fits, 0) == 0 ? fits : 0;
}

} // namespace

TEST_F(WholeFileSaveTest, AFileWhoseAttributesFillTheirRoomIsSavedWithAllOfThem)
{
    // Where a file's attributes share one room (ext4's: the spare room of
    // its inode and one block), the test's folder, else an ext4 file
    // system of its own mounted over it.
    const std::string probe = path("probe");
    const std::size_t room = write_file(probe, "") ? fill_room(probe, "user.p") : 0;
    const bool limited = room > 0 && room < XATTR_SIZE_MAX;
    // A long name: the mark, whose value it is, takes room of its own.
    const std::string name(200, 'n');
    const std::string f = at(name);
    // The old file: one value filling the room; the Finder value and one
    // filling the rest; an access control list, the Finder value, one
    // value and small ones filling every room there is.
    const auto make_old = [&](int how) {
        unlink(f.c_str());
        bool ok = write_file(f, OLD) && (how == 0 || FSSetIsStationery(f.c_str()) == 0);
        if (how == 2) {
            const std::string acl = acl_value();
            setxattr(f.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0);
        }
        ok = ok && fill_room(f, "user.x") > 0;
        for (int i = 0;
             how == 2 && setxattr(f.c_str(), ("user.s" + std::to_string(i)).c_str(), "sixteen bytes...", 16, 0) == 0;
             ++i) {
        }
        return ok;
    };
    const auto body = [&] {
        rmdir(at("lost+found").c_str());
        int failed = 0;
        for (int how = 0; how < 3; ++how) {
            for (const SAVER& s : SAVERS) {
                if (s.in_place) {
                    continue;
                }
                if (!make_old(how)) {
                    std::fprintf(stderr, "old file %d not made: %s\n", how, std::strerror(errno));
                    return 2;
                }
                const ATTRIBUTES old = attributes_of(f);
                const bool saved = s.save(folder, name.c_str());
                if (!saved || attributes_of(f) != old || names() != NAMES{name} || marked(name, name) != 0) {
                    std::fprintf(stderr, "old file %d, %s: saved %d, %zu of %zu attributes\n", how, s.what, saved,
                                 attributes_of(f).size(), old.size());
                    ++failed;
                }
            }
        }
        // A save killed once its new file, the attributes given, carries
        // no mark: the old file stands whole, and the next save knows what
        // that one left by its name alone.
        if (!make_old(2)) {
            return 2;
        }
        const ATTRIBUTES old = attributes_of(f);
        const int ended = kivo_test::run_in_child([&] {
            fs_save_unmarked = [] { raise(SIGKILL); };
            return save_bytes(f, "new") ? 0 : 1;
        });
        const NAMES left = names();
        if (ended != -1 || read_file(f) != OLD || attributes_of(f) != old || left.size() != 2 ||
            marked(left[0], name) != 0) {
            std::fprintf(stderr, "killed: ended %d, %zu entries\n", ended, left.size());
            ++failed;
        }
        if (!save_bytes(f, "next") || read_file(f) != "next" || attributes_of(f) != old || names() != NAMES{name}) {
            std::fprintf(stderr, "after the kill: %zu entries\n", names().size());
            ++failed;
        }
        return failed > 0 ? 1 : 0;
    };
    const int code =
        limited ? kivo_test::run_in_child(body) : kivo_test::run_on_own_ext4(path("ext4.img"), at(""), body);
    if (code == 77) {
        GTEST_SKIP() << "attributes share no limited room here, and no ext4 file system of the test's own can be "
                        "mounted (needs root, mkfs.ext4 and a loop device)";
    }
    EXPECT_EQ(code, 0);
}

TEST_F(WholeFileSaveTest, AnOwnerWhoIsNotRootKeepsTheSetIdBitsOfTheFilesItSaves)
{
    // Root's writes take no set-id bits off: the saves run as another
    // user, in a folder of its own.
    const bool root = geteuid() == 0;
    const uid_t owner = root ? other_user : geteuid();
    const gid_t group = root ? other_user : getegid();
    if (root) {
        ASSERT_TRUE(kivo_test::open_sandbox_to_others(at("")));
        ASSERT_EQ(chown(at("").c_str(), owner, group), 0);
    }
    const auto become_owner = [&] {
        const gid_t groups[] = {group};
        return !root || (setgroups(1, groups) == 0 && setresgid(group, group, group) == 0 &&
                         setresuid(owner, owner, owner) == 0);
    };
    const std::string f = at("target");
    const int failed = kivo_test::run_in_child([&] {
        if (!become_owner()) {
            return 77;
        }
        int failed = 0;
        for (mode_t bits : {04755, 02755, 06750}) {
            // Replaced, and written in place (a file with a second link).
            for (bool linked : {false, true}) {
                if (!write_file(f, OLD) || chmod(f.c_str(), bits) != 0 ||
                    (linked && link(f.c_str(), at("link").c_str()) != 0)) {
                    return 2;
                }
                const bool saved = save_bytes(f, "new");
                if (!saved || mode_of("target") != bits || read_file(f) != "new" ||
                    (linked && read_file(at("link")) != "new")) {
                    std::fprintf(stderr, "%04o%s: saved %d, bits %04o\n", bits, linked ? " linked" : "", saved,
                                 mode_of("target"));
                    ++failed;
                }
                unlink(at("link").c_str());
                unlink(f.c_str());
            }
        }
        return failed;
    });
    if (failed == 77) {
        GTEST_SKIP() << "cannot be another user here";
    }
    EXPECT_EQ(failed, 0);

    // Its file of a group it is not of keeps its set-gid only untouched:
    // the save fails and changes nothing.
    if (!root) {
        return;
    }
    ASSERT_TRUE(write_file(f, OLD) && link(f.c_str(), at("link").c_str()) == 0 &&
                chown(f.c_str(), owner, shared_group) == 0 && chmod(f.c_str(), 02755) == 0);
    const int saved = kivo_test::run_in_child([&] { return !become_owner() ? 77 : save_bytes(f, "new") ? 1 : 0; });
    EXPECT_EQ(saved, 0);
    EXPECT_EQ(read_file(f), OLD);
    EXPECT_EQ(mode_of("target"), 02755u);
    EXPECT_EQ(names(), (NAMES{"link", "target"}));
}
