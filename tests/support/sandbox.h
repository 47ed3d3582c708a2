#ifndef KIVO_TEST_SANDBOX_H
#define KIVO_TEST_SANDBOX_H

#include <gtest/gtest.h>

#include <string>

namespace kivo_test {

// HOME, the XDG folders and TMPDIR: the variables every sandbox points at.
constexpr int kSandboxVars = 7;

// Points HOME, XDG_* and TMPDIR at a fresh folder for the whole process and
// selects SDL's headless drivers. Called once by the test main.
void enter_process_sandbox();
void leave_process_sandbox();

// Makes a fresh, empty folder under the process sandbox.
std::string make_temp_dir(const char* tag = "t");
// Removes a folder tree (never follows symbolic links).
void remove_tree(const std::string& path);
// Makes the folders from `from` up to the process sandbox searchable by
// others, so that another user can reach the test's files.
bool open_sandbox_to_others(const std::string& from);
// Writes or reads a whole file as bytes.
bool write_file(const std::string& path, const std::string& bytes);
std::string read_file(const std::string& path);
// All an open file holds, read from its start whatever its offset (a
// child's output gathered in a memory file); "" for a descriptor below 0.
std::string read_from_start(int fd);

// Points the "$APPDATA" alias at `dir` (made when missing) until the
// matching restore: by default it is the build tree's shared data folder,
// where a test's files would race other test processes and change the
// program's data.
void redirect_appdata(const std::string& dir);
void restore_appdata();

// A fixture with its own folder; HOME and the XDG variables point inside
// it for the duration of each test, and are restored afterwards.
class SandboxTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;
    // The test's own folder (absolute, no trailing slash).
    std::string dir;
    // dir + "/" + name
    std::string path(const std::string& name) const { return dir + "/" + name; }

private:
    std::string saved_env[kSandboxVars];
    bool had_env[kSandboxVars] = {};
};

// Works in a folder of its own, beside HOME and the rest of the sandbox.
class ScratchFolderTest : public SandboxTest
{
protected:
    void SetUp() override;
    // The folder (absolute).
    std::string work;
    // work + "/" + name
    std::string at(const std::string& name) const { return work + "/" + name; }
};

} // namespace kivo_test

#endif
