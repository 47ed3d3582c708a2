// Entry names on their way between the program and the disk: what a
// listing gives opens the same file again, whatever bytes its name holds,
// and only entries of the folder itself are reached by name.
#include "folder.h"

#include "errors.h"
#include "folder_fixture.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

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

TEST_F(FolderNamesTest, ListedNamesOpenTheSameFilesWhateverTheirBytes)
{
    // Host names: a byte 0xFF, the same name as UTF-8, an overlong '/',
    // and one whose 8-bit form would read as UTF-8 above 0xFF.
    const std::map<std::string, std::string> files = {
        {"a\xFF.txt", "raw ff"},
        {"a\xC3\xBF.txt", "text y"},
        {"\xC0\xAF", "overlong"},
        {"\xC3\x84\xC2\xA9", "looks like text"},
    };
    for (const auto& f : files) {
        ASSERT_TRUE(kivo_test::write_file(work + "/" + f.first, f.second));
    }
    mkdirs(work + "/d\xFE");
    ASSERT_TRUE(kivo_test::write_file(work + "/d\xFE/in", "inside"));

    std::vector<std::string> names;
    FOLDER_CONTENTS_LIST* h = here.start_contents_list(nullptr, 1, fft_ends_with, 0);
    FOLDER_CONTENT_ENTRY e;
    while (FOLDER::get_contents_list_entry(h, e)) {
        if (!e.is_directory) {
            names.push_back(e.name);
        }
    }
    FOLDER::stop_contents_list(h);
    ASSERT_EQ(names.size(), files.size());
    std::map<std::string, std::string> read_back;
    for (const std::string& name : names) {
        EXPECT_TRUE(here.file_exists(name.c_str()) && here.is_plain_file(name.c_str())) << name;
        FILE* fp = here.open_file(name.c_str(), "rb");
        ASSERT_NE(fp, nullptr) << name;
        char buf[64] = "";
        buf[std::fread(buf, 1, sizeof buf - 1, fp)] = 0;
        std::fclose(fp);
        read_back[buf] = name;
    }
    ASSERT_EQ(read_back.size(), files.size()); // each name its own file
    EXPECT_EQ(read_back["text y"], "a\xFF.txt");

    // A name longer inside than a folder list's entry holds is left out of
    // the list rather than cut to a name of some other file or none.
    ASSERT_TRUE(kivo_test::write_file(work + "/" + std::string(100, '\xFF'), "long"));
    FOLDER_FILE_INFO* files_list = nullptr;
    long files_count = 0;
    here.get_dir_list(0, 1, 0, files_list, files_count);
    EXPECT_EQ(files_count, static_cast<long>(files.size()));
    FOLDER::free_list(files_list);
    ASSERT_EQ(std::remove((work + "/" + std::string(100, '\xFF')).c_str()), 0);

    // The folder list gives the same names; a folder of such a name is
    // entered, and described and found again by its alias path.
    FOLDER_FILE_INFO* list = nullptr;
    long count = 0;
    here.get_dir_list(1, 1, 0, list, count);
    ASSERT_EQ(count, 1);
    FOLDER down(here);
    ASSERT_TRUE(down.move_down(list[0].name));
    FOLDER::free_list(list);
    EXPECT_EQ(where(down), real(work + "/d\xFE"));
    char alias[2048];
    ASSERT_TRUE(down.get(alias));
    EXPECT_TRUE(FOLDER(alias) == down) << alias;
    EXPECT_TRUE(down.file_exists("in"));

    // Writing, copying and removing by a listed name reach that file only.
    const std::string raw = read_back["raw ff"];
    FILE* fp = here.open_file(raw.c_str(), "wb");
    ASSERT_NE(fp, nullptr);
    std::fputs("saved", fp);
    ASSERT_TRUE(here.close_file(fp));
    EXPECT_EQ(kivo_test::read_file(work + "/a\xFF.txt"), "saved");
    ASSERT_TRUE(here.copy(read_back["overlong"].c_str(), down));
    EXPECT_EQ(kivo_test::read_file(work + "/d\xFE/\xC0\xAF"), "overlong");
    ASSERT_TRUE(here.remove(read_back["looks like text"].c_str()));
    EXPECT_FALSE(exists(work + "/\xC3\x84\xC2\xA9"));
    EXPECT_EQ(kivo_test::read_file(work + "/a\xC3\xBF.txt"), "text y");
}

} // namespace
