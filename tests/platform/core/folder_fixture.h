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
#include <string>

namespace kivo_test {

class FolderTest : public SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        app = path("app/bin");
        mkdirs(app);
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

    static void mkdirs(const std::string& p)
    {
        for (std::size_t i = 1; i <= p.size(); ++i)
            if (i == p.size() || p[i] == '/')
                mkdir(p.substr(0, i).c_str(), 0755);
    }
    static std::string real(const std::string& p)
    {
        char buf[PATH_MAX];
        return realpath(p.c_str(), buf) ? std::string(buf) : std::string();
    }
    static std::string where(FOLDER& f) { return reinterpret_cast<const char*>(f.location); }
    static bool exists(const std::string& p)
    {
        struct stat st;
        return lstat(p.c_str(), &st) == 0;
    }
    static bool is_dir(const std::string& p)
    {
        struct stat st;
        return lstat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
        work = path("work");
        mkdirs(work);
        ASSERT_TRUE(here.set_from_path_string(work.c_str()));
    }
    std::string work;
    FOLDER here{"$APP"};
};

} // namespace kivo_test

#endif
