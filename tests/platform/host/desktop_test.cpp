#include "file_system.h"
#include "folder.h"
#include "host_internal.h"
#include "host_utils.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;

// A name a shell would have run code from.
const std::string hostile = "it's \"q\" $(touch $PWNED) `touch $PWNED` $HOME.txt";

class HostDesktop : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        const char* path = std::getenv("PATH");
        saved_path = path ? path : "";
        setenv("PWNED", this->path("pwned").c_str(), 1);
        ASSERT_EQ(mkdir(this->path("Desktop").c_str(), 0755), 0);
        setenv("XDG_DESKTOP_DIR", this->path("Desktop").c_str(), 1);
    }
    void TearDown() override
    {
        setenv("PATH", saved_path.c_str(), 1);
        unsetenv("PWNED");
        unsetenv("XDG_DESKTOP_DIR");
        reap_finished_openers();
        SandboxTest::TearDown();
    }
    // A script in bin/ that writes its argument count and arguments, one a
    // line, to `record` once it has them all. The search path is bin/ alone,
    // so no opener installed on the machine is found.
    void fake_program(const std::string& name, const std::string& record)
    {
        mkdir(path("bin").c_str(), 0755);
        const std::string script = path("bin/" + name);
        ASSERT_TRUE(write_file(script, "#!/bin/sh\nprintf '%s\\n' \"$#\" \"$@\" > '" + record + ".part' && /bin/mv '" +
                                           record + ".part' '" + record + "'\n"));
        ASSERT_EQ(chmod(script.c_str(), 0755), 0);
        setenv("PATH", path("bin").c_str(), 1);
    }
    // Every entry of the desktop folder.
    std::string desktop_entries()
    {
        std::string names;
        if (DIR* d = opendir(path("Desktop").c_str())) {
            while (dirent* e = readdir(d)) {
                if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
                    names += std::string(e->d_name) + " ";
                }
            }
            closedir(d);
        }
        return names;
    }
    // Waits (bounded) for a started program's record.
    std::string wait_for(const std::string& record)
    {
        for (int i = 0; i < 400 && access(record.c_str(), F_OK) != 0; ++i) {
            usleep(25000);
        }
        return read_file(record);
    }
    std::string saved_path;
};

TEST_F(HostDesktop, OpenerGetsOneArgumentAndNoShell)
{
    fake_program("xdg-open", path("args"));
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    ASSERT_TRUE(write_file(path(hostile), "x"));
    ASSERT_EQ(open_file_with_default_app(&folder, hostile.c_str()), 0);
    EXPECT_EQ(wait_for(path("args")), "1\n" + path(hostile) + "\n");
    EXPECT_NE(access(path("pwned").c_str(), F_OK), 0);

    // No opener installed: reported, not pretended.
    setenv("PATH", path("nowhere").c_str(), 1);
    EXPECT_NE(open_url_in_default_browser("https://example.test/"), 0);
    EXPECT_NE(open_file_with_default_app(nullptr, nullptr), 0);
}

TEST_F(HostDesktop, GioOpensWhereXdgOpenIsMissing)
{
    fake_program("gio", path("gio-args"));
    const std::string url = "https://example.test/a b?q=$(touch $PWNED)&r=`touch $PWNED`;x|y>z";
    ASSERT_EQ(open_url_in_default_browser(url.c_str()), 0);
    EXPECT_EQ(wait_for(path("gio-args")), "2\nopen\n" + url + "\n");
    // A name that would read as an option is given as a path (a path
    // relative to the working folder, which is the sandbox meanwhile).
    ASSERT_EQ(unlink(path("gio-args").c_str()), 0);
    ASSERT_TRUE(write_file(path("-rf notes.txt"), "x"));
    int working = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(working, 0);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    INT_S32 opened = open_file_with_default_app(nullptr, "-rf notes.txt");
    EXPECT_EQ(fchdir(working), 0);
    close(working);
    ASSERT_EQ(opened, 0);
    EXPECT_EQ(wait_for(path("gio-args")), "2\nopen\n./-rf notes.txt\n");
    EXPECT_EQ(open_url_in_default_browser("--help"), FS_BAD_ARGUMENT);
    EXPECT_NE(access(path("pwned").c_str(), F_OK), 0);

    // With both present, xdg-open is the one started.
    ASSERT_EQ(unlink(path("gio-args").c_str()), 0);
    fake_program("xdg-open", path("xdg-args"));
    ASSERT_EQ(open_url_in_default_browser(url.c_str()), 0);
    EXPECT_EQ(wait_for(path("xdg-args")), "1\n" + url + "\n");
    EXPECT_NE(access(path("gio-args").c_str(), F_OK), 0);
}

TEST_F(HostDesktop, NamesInAFolderStayInItAndMissingFilesAreReported)
{
    fake_program("xdg-open", path("args"));
    ASSERT_EQ(mkdir(path("in").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(path("secret"), "x"));
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(path("in").c_str()));
    for (const char* name : {"../secret", "../../../etc/shadow", "..", ".", "a/b"}) {
        EXPECT_EQ(open_file_with_default_app(&folder, name), FS_BAD_ARGUMENT) << name;
        EXPECT_EQ(create_desktop_shortcut(0, name, nullptr, "Link", nullptr, nullptr, &folder), FS_BAD_ARGUMENT)
            << name;
        EXPECT_EQ(create_desktop_shortcut(2, name, nullptr, "Page", nullptr, nullptr, &folder), FS_BAD_ARGUMENT)
            << name;
    }
    EXPECT_EQ(desktop_entries(), "");

    EXPECT_EQ(open_file_with_default_app(&folder, "missing.txt"), FS_NOT_FOUND);
    EXPECT_EQ(open_file_with_default_app(nullptr, path("in/missing.txt").c_str()), FS_NOT_FOUND);
    // The opener was started for none of them, only for a file that is there.
    ASSERT_TRUE(write_file(path("in/here.txt"), "x"));
    ASSERT_EQ(open_file_with_default_app(&folder, "here.txt"), 0);
    EXPECT_EQ(wait_for(path("args")), "1\n" + path("in/here.txt") + "\n");
}

TEST_F(HostDesktop, ShortcutTargetsWithControlCharactersAreRefused)
{
    FOLDER odd;
    ASSERT_EQ(mkdir(path("line\nbreak").c_str(), 0755), 0);
    ASSERT_TRUE(odd.set_from_path_string(path("line\nbreak").c_str()));
    const struct
    {
        short type;
        const char* target;
        FOLDER* in;
    } cases[] = {
        {2, "https://example.test/\r\nIconFile=/tmp/evil.ico", nullptr},
        {2, "https://example.test/\nURL=https://elsewhere.test/", nullptr},
        {2, "https://example.test/\x1F", nullptr},
        {2, "https://example.test/\x7F", nullptr},
        {2, "page.html", &odd},
        {0, "/etc/host\tname", nullptr},
        {0, "notes\n.txt", nullptr},
        {0, "notes.txt", &odd},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(create_desktop_shortcut(c.type, c.target, nullptr, "Short", nullptr, nullptr, c.in), FS_BAD_ARGUMENT)
            << c.target;
        EXPECT_EQ(desktop_entries(), "") << c.target;
    }
    // Bytes from 0x80 up are text, not control characters.
    ASSERT_EQ(create_desktop_shortcut(2, "https://example.test/caf\xE9", nullptr, "Cafe", nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(read_file(path("Desktop/Cafe.url")), "[InternetShortcut]\nURL=https://example.test/caf\xC3\xA9\n");
}

TEST_F(HostDesktop, ShortcutsInTheDesktopFolder)
{
    const std::string desk = path("Desktop/");
    FOLDER folder;
    ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    // An internet shortcut to a target in a folder, and its removal.
    ASSERT_EQ(create_desktop_shortcut(2, "page.html", nullptr, "Page", nullptr, nullptr, &folder), 0);
    EXPECT_EQ(read_file(desk + "Page.url"), "[InternetShortcut]\nURL=" + path("page.html") + "\n");
    EXPECT_EQ(remove_desktop_shortcut(2, nullptr, nullptr, "Page", nullptr, nullptr, nullptr), 0);
    EXPECT_NE(access((desk + "Page.url").c_str(), F_OK), 0);

    // Links: under the given name, else under the target's own name, never
    // in the current folder, and a hostile name is only a name.
    const struct
    {
        const char* target;
        const char* name;
        FOLDER* in;
        std::string link, points_to;
    } links[] = {
        {"/etc/hostname", "Host", nullptr, "Host", "/etc/hostname"},
        {"/etc/hostname", nullptr, nullptr, "hostname", "/etc/hostname"},
        {"notes.txt", "", &folder, "notes.txt", path("notes.txt")},
        {hostile.c_str(), hostile.c_str(), &folder, hostile, path(hostile)},
    };
    for (const auto& l : links) {
        ASSERT_EQ(create_desktop_shortcut(0, l.target, nullptr, l.name, nullptr, nullptr, l.in), 0) << l.link;
        char to[4096] = {};
        ASSERT_GT(readlink((desk + l.link).c_str(), to, sizeof to - 1), 0) << l.link;
        EXPECT_EQ(std::string(to), l.points_to);
        EXPECT_EQ(remove_desktop_shortcut(0, nullptr, nullptr, l.link.c_str(), nullptr, nullptr, nullptr), 0);
    }
    EXPECT_NE(access(path("pwned").c_str(), F_OK), 0);
}

TEST_F(HostDesktop, ShortcutFailuresAreReported)
{
    const std::string desk = path("Desktop/");
    // A .url that cannot be written (a folder or a link in its place; the
    // link's target is left alone), bad names, a link that exists.
    ASSERT_EQ(mkdir((desk + "Busy.url").c_str(), 0755), 0);
    ASSERT_TRUE(write_file(path("keep"), "keep"));
    ASSERT_EQ(symlink(path("keep").c_str(), (desk + "Trap.url").c_str()), 0);
    ASSERT_EQ(symlink("/etc/hostname", (desk + "Taken").c_str()), 0);
    const struct
    {
        short type;
        const char *target, *name;
        bool any_error;
        INT_S32 result;
    } cases[] = {{2, "u", "Busy", true, 0},
                 {2, "u", "Trap", true, 0},
                 {2, "u", nullptr, false, FS_BAD_ARGUMENT},
                 {0, "/t", "../out", false, FS_BAD_NAME},
                 {0, nullptr, "x", false, FS_BAD_ARGUMENT},
                 {0, "/t", "Taken", false, FS_EXISTS}};
    for (const auto& c : cases) {
        INT_S32 r = create_desktop_shortcut(c.type, c.target, nullptr, c.name, nullptr, nullptr, nullptr);
        EXPECT_TRUE(c.any_error ? r != 0 : r == c.result) << (c.name ? c.name : "null") << " " << r;
    }
    EXPECT_EQ(read_file(path("keep")), "keep");
    EXPECT_EQ(remove_desktop_shortcut(2, nullptr, nullptr, "Absent", nullptr, nullptr, nullptr), FS_NOT_FOUND);

    // A relative XDG_DESKTOP_DIR gives $HOME/Desktop; a missing folder is -43.
    setenv("XDG_DESKTOP_DIR", "Desktop", 1);
    setenv("HOME", dir.c_str(), 1);
    EXPECT_EQ(create_desktop_shortcut(2, "u", nullptr, "Home", nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(access((desk + "Home.url").c_str(), F_OK), 0);
    setenv("XDG_DESKTOP_DIR", path("missing").c_str(), 1);
    EXPECT_EQ(create_desktop_shortcut(2, "u", nullptr, "Lost", nullptr, nullptr, nullptr), FS_NOT_FOUND);
    EXPECT_EQ(remove_desktop_shortcut(0, nullptr, nullptr, "Taken", nullptr, nullptr, nullptr), FS_NOT_FOUND);
}

TEST_F(HostDesktop, RunProgramStartsItAndEnds)
{
    // The child must see this test's sandbox, so it is a plain fork.
    const std::string style = GTEST_FLAG_GET(death_test_style);
    GTEST_FLAG_SET(death_test_style, "fast");
    fake_program("started", path("ran"));
    FOLDER bin;
    ASSERT_TRUE(bin.set_from_path_string(path("bin").c_str()));
    EXPECT_EXIT(run_program(&bin, "started"), ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(wait_for(path("ran")), "0\n");
    EXPECT_EXIT(
        {
            host_install_table();
            run_program(&bin, "absent");
        },
        ::testing::ExitedWithCode(1), "Unable to start .*bin/absent");
    GTEST_FLAG_SET(death_test_style, style.c_str());

    char name[256];
    FOLDER where;
    ASSERT_TRUE(get_running_app(&where, name));
    char exe[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
    EXPECT_EQ(std::string(where.get_path_string(name)), exe);
}

} // namespace
