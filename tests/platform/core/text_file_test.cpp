#include "text_file.h"

#include "errors.h"
#include "folder.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using LINES = std::vector<std::string>;

const std::string SMILE = "\x01,263A\x01"; // U+263A as an escape run

std::string repeat(const std::string& s, int n) { return n > 0 ? s + repeat(s, n - 1) : ""; }

class TextFileTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }

    TEXT_FILE* open(const std::string& bytes)
    {
        EXPECT_TRUE(kivo_test::write_file(path("in.txt"), bytes));
        return folder.open_text_file("in.txt", fm_read, 0);
    }

    // Every line, read with the standard 256-byte buffer.
    LINES lines(const std::string& bytes)
    {
        LINES out;
        TEXT_FILE* t = open(bytes);
        char buf[256];
        while (t && *t >> buf)
            out.push_back(buf);
        folder.close(t);
        return out;
    }

    // The bytes a text written through operator<< produces.
    std::string written(const std::string& text, INT_U8 unicode = 0)
    {
        TEXT_FILE* t = folder.open_text_file("out.txt", fm_write, unicode);
        EXPECT_TRUE(t && *t << text.c_str());
        folder.close(t);
        return kivo_test::read_file(path("out.txt"));
    }

    FOLDER folder;
};

} // namespace

TEST_F(TextFileTest, EveryEncodingAndLineEndReadsAsLinesWithEscapeRuns)
{
    const struct { std::string in; LINES out; } cases[] = {
        {"\xEF\xBB\xBF" "A\n", {"A"}},
        {"\xC3\xA9t\xC3\xA9\n\x80z\n", {"\xE9t\xE9", "\x80z"}},
        // invalid UTF-8 falls back to 8-bit bytes in file order
        {"\xEF" "A\xC3\xA9", {"\xEF" "A\xC3\xA9"}},
        {"x\xE2\x98" "bc", {"x\xE2\x98" "bc"}},
        {"ab\xC3", {"ab\xC3"}},
        {"a\rb\nc\r", {"a", "bc"}}, // the first line end met decides
        {"x\ny", {"x", "y"}},
        {"", {}},
        {std::string("\xFF\xFE" "a\0:&b\0\r\0", 10), {"a" + SMILE + "b"}},
        {std::string("\xFE\xFF\0a&:\0b\0\n", 10), {"a" + SMILE + "b"}},
        {"a\xE2\x98\xBA\xC3\xA9\n", {"a" + SMILE + "\xE9"}},
        {"\xE2\x98\xBA\xE2\x98\xBB\n", {"\x01,263A,263B\x01"}},
        {"\xF0\x9F\x98\x80\n", {"\x01,D83D,DE00\x01"}},
        // U+0001 and U+0000 are escaped: they cannot open a run or end the text
        {std::string("a\x01z\0y\n", 6), {"a\x01,0001\x01z\x01,0000\x01y"}},
        {std::string(300, 'x') + "\nnext\n", {std::string(255, 'x'), std::string(45, 'x'), "next"}},
        {std::string(255, 'y') + "\n", {std::string(255, 'y')}},
        // 250 bytes leave no room for a run and its closing byte; every run
        // closes inside its piece, so 4 bytes leave room for 49 groups
        {std::string(250, 'a') + repeat("\xE2\x98\xBA", 51) + "\n",
         {std::string(250, 'a'), "\x01" + repeat(",263A", 50) + "\x01", SMILE}},
        {"abcd" + repeat("\xE2\x98\xBA", 51), {"abcd\x01" + repeat(",263A", 49) + "\x01", "\x01,263A,263A\x01"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(lines(c.in), c.out) << c.in;
    for (std::string end : {"\n", "\r", "\r\n", "\n\r"}) // a dropped LF is not an empty last line
        EXPECT_EQ(lines("one" + end + end + "three" + end), (LINES{"one", "", "three"}));
    TEXT_FILE* t = open("k\r\nb"); // read by character, a line end is '\n'
    ASSERT_NE(t, nullptr);
    char c = 0;
    std::string got;
    while (*t >> c)
        got += c;
    EXPECT_EQ(got, "k\nb");
    folder.close(t);
}

TEST_F(TextFileTest, WritingExpandsEscapesAppendingKeepsTheEncodingAndEveryTextSurvivesARoundTrip)
{
    const struct { std::string text; INT_U8 unicode; std::string out; } cases[] = {
        {"\x01,D83D,DE00\x01", 0, "\xF0\x9F\x98\x80"},
        {"\x01,0001\x01", 0, "\x01"},
        {"\x01,263a\x01", 0, "\xE2\x98\xBA"},
        {"\x01,26\x01xyz", 0, "xyz"}, // a short group loses only its digits
        {"\x01,26,263A\x01!", 0, "\xE2\x98\xBA!"},
        {SMILE + ",x", 0, "\xE2\x98\xBA,x"}, // a comma after a run is text
        {"a" + SMILE + "\n", 1, std::string("\xFF\xFE" "a\0:&\r\0", 8)},
        {"\x01,D83D,DE00\x01", 1, std::string("\xFF\xFE=\xD8\0\xDE", 6)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(written(c.text, c.unicode), c.out) << c.text;
    const std::string line = "caf\xE9 " + SMILE + " \x01,D83D,DE00\x01 \x01,0001,0000\x01 end";
    for (INT_U8 unicode = 0; unicode < 2; ++unicode)
        EXPECT_EQ(lines(written(line + "\n" + line + "\n", unicode)), (LINES{line, line})) << int(unicode);
    TEXT_FILE* t = folder.open_text_file("c.txt", fm_write, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE((*t << static_cast<char>(0xE9)) && t->write_char(0x263A) && t->printf("%d-%s", 42, "x"));
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("c.txt")), "\xC3\xA9\xE2\x98\xBA" "42-x");
    // beyond the last code point: one unit of UTF-16
    t = folder.open_text_file("big.txt", fm_write, 1);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->write_char(0x110041) && t->write_char(-1));
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("big.txt")), std::string("\xFF\xFE" "A\0\xFF\xFF", 6));
    ASSERT_TRUE(kivo_test::write_file(path("be.txt"), std::string("\xFE\xFF\0a", 4)));
    EXPECT_FALSE(folder.open_text_file("be.txt", fm_update, 0) || // big-endian: no appending
                 folder.open_text_file("missing.txt", fm_read, 0));
    // appending to a new file: UTF-16 with its mark when asked, else 8-bit
    for (INT_U8 unicode = 0; unicode < 2; ++unicode)
        for (const char* text : {"one\n", "two\xE9\n"}) {
            t = folder.open_text_file(unicode ? "log16.txt" : "log8.txt", fm_update, unicode);
            EXPECT_TRUE(t && t->utf16 == unicode && *t << text);
            folder.close(t);
        }
    EXPECT_EQ(kivo_test::read_file(path("log8.txt")), "one\ntwo\xC3\xA9\n");
    EXPECT_EQ(kivo_test::read_file(path("log16.txt")), std::string("\xFF\xFEo\0n\0e\0\r\0t\0w\0o\0\xE9\0\r\0", 20));
}

// A character above U+FFFF takes 12 bytes escaped. A smaller buffer cannot
// hold it: that read fails once, with an error, and the next one goes on
// after it, whether lines are read with read_line or with operator>>.
TEST_F(TextFileTest, ACharacterTooWideForTheBufferFailsOnceAndReadingGoesOn)
{
    const std::string wide = "\x01,D83D,DE00\x01";
    for (int size = 8; size <= 13; ++size)
        for (int form = 0; form < 2; ++form) {
            TEXT_FILE* t = open("a\xF0\x9F\x98\x80" "b\nc\n");
            ASSERT_NE(t, nullptr);
            t->line_max = static_cast<INT_S16>(size);
            std::vector<std::string> got;
            char buf[16];
            set_error_code(ERRCODE_NONE, nullptr);
            for (int reads = 0; reads < 8; ++reads) // bounded: a hang shows as a wrong list
                got.push_back((form ? *t >> buf : t->read_line(buf, static_cast<INT_S16>(size))) ? buf : "<fail>");
            folder.close(t);
            std::vector<std::string> want = {"a", "<fail>", "b", "c", "<fail>", "<fail>", "<fail>", "<fail>"};
            if (size == 13)
                want = {"a", wide, "b", "c", "<fail>", "<fail>", "<fail>", "<fail>"};
            EXPECT_EQ(got, want) << size << " " << form;
            EXPECT_EQ(current_error_code, size == 13 ? ERRCODE_NONE : ERRCODE_FILE_READ) << size;
        }
}
