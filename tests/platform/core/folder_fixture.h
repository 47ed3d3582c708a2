#ifndef KIVO_TEST_FOLDER_FIXTURE_H
#define KIVO_TEST_FOLDER_FIXTURE_H

// A sandboxed application for FOLDER tests: the application folder is
// <dir>/app/bin (through KIVO_APP_DIR), the program is called "kivotest",
// and HOME, the XDG folders and TMPDIR lie inside the test's folder.
#include "folder.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace kivo_test {

class FolderTest : public SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        mkdirs(app = path("app/bin"));
        setenv("KIVO_APP_DIR", app.c_str(), 1);
        setenv("KIVO_APP_NAME", "kivotest", 1);
        FOLDER::reset_host_cache();
        FOLDER::clear_alt_base_path();
        FOLDER::clear_alt_icon_path();
    }
    void TearDown() override
    {
        unsetenv("KIVO_APP_DIR");
        unsetenv("KIVO_APP_NAME");
        FOLDER::reset_host_cache();
        SandboxTest::TearDown();
    }

    // Every folder of each path, as `mkdir -p` would.
    static void mkdirs(std::initializer_list<std::string> paths)
    {
        for (const std::string& p : paths) {
            for (std::size_t i = 1; i <= p.size(); ++i) {
                if (i == p.size() || p[i] == '/') {
                    mkdir(p.substr(0, i).c_str(), 0755);
                }
            }
        }
    }
    static void mkdirs(const std::string& p) { mkdirs({p}); }
    static void link(const std::string& target, const std::string& at)
    {
        ASSERT_EQ(symlink(target.c_str(), at.c_str()), 0) << at;
    }
    static std::string real(const std::string& p)
    {
        char buf[PATH_MAX];
        return realpath(p.c_str(), buf) ? std::string(buf) : std::string();
    }
    static std::string where(const FOLDER& f) { return reinterpret_cast<const char*>(f.location); }
    static FOLDER native(const std::string& p)
    {
        FOLDER f;
        EXPECT_TRUE(f.set_from_path_string(p.c_str())) << p;
        return f;
    }
    // lstat's file type bits (0: no entry at all), or stat's permission bits.
    static unsigned kind(const std::string& p, bool perms = false)
    {
        struct stat st;
        int r = perms ? stat(p.c_str(), &st) : lstat(p.c_str(), &st);
        return r != 0 ? 0u : st.st_mode & (perms ? 07777 : S_IFMT);
    }
    static bool exists(const std::string& p) { return kind(p) != 0; }
    // Positions f from `p`, then checks the answer and the folder reached.
    static void expect_at(FOLDER& f, const char* p, bool ok, const std::string& to, INT_U8 create = 0,
                          INT_U8 create_alias = 0, INT_U8 skip_system = 0)
    {
        EXPECT_EQ(f.set(p, create, nullptr, create_alias, 0, skip_system), ok) << p;
        EXPECT_EQ(where(f), real(to)) << p;
    }

    std::string app;
};

// The same with a working folder <dir>/work and a FOLDER `here` on it.
class WorkFolderTest : public FolderTest
{
protected:
    void SetUp() override
    {
        FolderTest::SetUp();
        mkdirs(work = path("work"));
        here = native(work);
    }
    std::string work;
    FOLDER here;
};

} // namespace kivo_test

#endif
