#include "folder.h"

#include "data_file.h"
#include "folder_fixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>
#include <string>

namespace {

using kivo_test::read_file;
using kivo_test::write_file;

using FolderDataTest = kivo_test::WorkFolderTest;

TEST_F(FolderDataTest, OpensByNameAndClosesOnce)
{
    DATA_FILE* f = here.open_data_file("rec.bin", fm_write, -1);
    ASSERT_NE(f, nullptr);
    EXPECT_STREQ(f->folder, real(work).c_str());
    EXPECT_STREQ(f->name.get_string(0), "rec.bin");
    ASSERT_TRUE(put_u32(*f, 0x01020304u));
    here.close(f);
    EXPECT_EQ(f, nullptr);
    here.close(f); // harmless
    EXPECT_EQ(read_file(work + "/rec.bin"), std::string("\0\4\3\2\1", 5));

    f = here.open_data_file("rec.bin", fm_read, -1);
    ASSERT_NE(f, nullptr);
    INT_U32 v = 0;
    EXPECT_TRUE(get_u32(*f, v));
    EXPECT_EQ(v, 0x01020304u);
    here.close(f);

    // Update creates a missing file (with its byte-order byte).
    f = here.open_data_file("new.bin", fm_update, -1);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(put_u8(*f, 7));
    here.close(f);
    EXPECT_EQ(read_file(work + "/new.bin"), std::string("\0\7", 2));

    // Compressed, written and read back through the folder.
    f = here.open_data_file("z.gz", fm_write, -1, 1);
    ASSERT_NE(f, nullptr);
    ASSERT_TRUE(put_string(*f, "packed text"));
    here.close(f);
    EXPECT_EQ(read_file(work + "/z.gz").substr(0, 2), "\x1f\x8b");
    f = here.open_data_file("z.gz", fm_read, -1, 1);
    ASSERT_NE(f, nullptr);
    char* text = nullptr;
    ASSERT_TRUE(get_string(*f, &text));
    EXPECT_STREQ(text, "packed text");
    std::free(text);
    here.close(f);
}

TEST_F(FolderDataTest, FailedOpensLeaveNothingBehind)
{
    EXPECT_EQ(here.open_data_file("missing", fm_read, -1), nullptr);
    EXPECT_FALSE(exists(work + "/missing"));
    EXPECT_EQ(here.open_data_file("", fm_write, -1), nullptr);
    EXPECT_EQ(here.open_data_file(nullptr, fm_write, -1), nullptr);
    EXPECT_EQ(here.open_data_file("x", static_cast<FILE_MODE>(2 + 1), -1), nullptr);
    EXPECT_EQ(here.open_data_file("../escape", fm_write, -1), nullptr);
    EXPECT_FALSE(exists(path("escape")));
    ASSERT_EQ(mkfifo((work + "/pipe").c_str(), 0600), 0); // would wait for a writer
    EXPECT_EQ(here.open_data_file("pipe", fm_read, -1), nullptr);
    ASSERT_TRUE(write_file(work + "/u.gz", ""));
    EXPECT_EQ(here.open_data_file("u.gz", fm_update, -1, 1), nullptr);

    DATA_FILE file(1024);
    EXPECT_FALSE(here.open_data_file("a", fm_write, 0, nullptr, 0));
    ASSERT_TRUE(here.open_data_file("a", fm_write, 0, &file, 0));
    EXPECT_FALSE(here.open_data_file("b", fm_write, 0, &file, 0)); // already open
    EXPECT_FALSE(exists(work + "/b"));
    ASSERT_TRUE(put_u16(file, 0xBEEF));
    EXPECT_TRUE(file.close());
    EXPECT_EQ(read_file(work + "/a"), "\xEF\xBE");
}

} // namespace
