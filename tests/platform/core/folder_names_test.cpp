// Entry names on their way between the program and the disk: only entries
// of the folder itself are reached by name.
#include "folder.h"

#include "errors.h"
#include "folder_fixture.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class FolderNamesTest : public kivo_test::WorkFolderTest
{};

TEST_F(FolderNamesTest, PathStringsReachOnlyEntriesOfTheFolder)
{
    const std::string folder_path = here.get_path_string();
    EXPECT_EQ(std::string(here.get_path_string("notes.txt")), folder_path + "/notes.txt");
    EXPECT_EQ(std::string(here.get_path_string("..notes")), folder_path + "/..notes");
    EXPECT_EQ(std::string(here.get_path_string("")), folder_path);
    for (const char* name : {"../../../etc/shadow", "..", ".", "a/b", "/etc/shadow", "a/", "../"}) {
        current_error_code = ERRCODE_NONE;
        EXPECT_STREQ(here.get_path_string(name), "") << name;
        EXPECT_EQ(current_error_code, ERRCODE_FILE_NOT_FOUND) << name;
    }
}

} // namespace
