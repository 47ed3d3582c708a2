#include "text_file.h"

#include "folder.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class TextFileTest : public kivo_test::SandboxTest
{
protected:
    void SetUp() override
    {
        SandboxTest::SetUp();
        ASSERT_TRUE(folder.set_from_path_string(dir.c_str()));
    }

    TEXT_FILE* open(const std::string& bytes, const char* name = "in.txt")
    {
        EXPECT_TRUE(kivo_test::write_file(path(name), bytes));
        return folder.open_text_file(name, fm_read, 0);
    }

    // Every line of a file, read with the standard 256-byte buffer.
    std::vector<std::string> lines(const std::string& bytes)
    {
        std::vector<std::string> out;
        TEXT_FILE* t = open(bytes);
        if (!t)
            return out;
        char buf[256];
        while (*t >> buf)
            out.push_back(buf);
        folder.close(t);
        return out;
    }

    // Every character read_char delivers.
    std::vector<INT_S32> chars(const std::string& bytes)
    {
        std::vector<INT_S32> out;
        TEXT_FILE* t = open(bytes);
        for (INT_S32 c; t && (c = t->read_char()) >= 0;)
            out.push_back(c);
        folder.close(t);
        return out;
    }

    // The bytes a text written through operator<< produces.
    std::string written(const std::string& text, INT_U8 unicode = 0)
    {
        TEXT_FILE* t = folder.open_text_file("out.txt", fm_write, unicode);
        EXPECT_NE(t, nullptr);
        if (!t)
            return "";
        EXPECT_TRUE(*t << text.c_str());
        folder.close(t);
        return kivo_test::read_file(path("out.txt"));
    }

    FOLDER folder;
};

const std::string SMILE = "\x01,263A\x01"; // U+263A as an escape run

} // namespace

TEST_F(TextFileTest, Utf8SignatureIsSkippedAndInvalidSequencesFallBackTo8Bit)
{
    EXPECT_EQ(lines("\xEF\xBB\xBF" "A\n"), std::vector<std::string>{"A"});
    // EF then 'A' is neither a signature nor a sequence; decoding stays off
    EXPECT_EQ(chars("\xEF" "A\xC3\xA9"), (std::vector<INT_S32>{0xEF, 'A', 0xC3, 0xA9}));
    // a lead byte without its continuation: the bytes after it follow in file order
    EXPECT_EQ(chars("x\xE2\x98" "bc"), (std::vector<INT_S32>{'x', 0xE2, 0x98, 'b', 'c'}));
    EXPECT_EQ(chars("ab\xC3"), (std::vector<INT_S32>{'a', 'b', 0xC3}));
    EXPECT_EQ(lines("\xC3\xA9t\xC3\xA9\n\x80z\n"), (std::vector<std::string>{"\xE9t\xE9", "\x80z"}));
}

TEST_F(TextFileTest, AllFourLineEndStylesReadAsTheSameLines)
{
    const std::vector<std::string> expected = {"one", "", "three"};
    EXPECT_EQ(lines("one\n\nthree\n"), expected);
    EXPECT_EQ(lines("one\r\rthree\r"), expected);
    EXPECT_EQ(lines("one\r\n\r\nthree\r\n"), expected);
    EXPECT_EQ(lines("one\n\r\n\rthree\n\r"), expected);
    // the first line end met decides: a lone LF in a CR file is dropped
    EXPECT_EQ(lines("a\rb\nc\r"), (std::vector<std::string>{"a", "bc"}));
    // no line end on the last line; an empty last line is not a line
    EXPECT_EQ(lines("x\ny"), (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(lines("").empty());

    TEXT_FILE* t = open("a\r\nb");
    ASSERT_NE(t, nullptr);
    char c = 0;
    std::string got;
    while (*t >> c)
        got += c;
    EXPECT_EQ(got, "a\nb");
    folder.close(t);
}

TEST_F(TextFileTest, WideCharactersTravelAsEscapeRuns)
{
    // UTF-16 little- and big-endian, each with U+263A inside a line
    EXPECT_EQ(lines(std::string("\xFF\xFE" "a\0:&b\0\r\0", 10)), std::vector<std::string>{"a" + SMILE + "b"});
    EXPECT_EQ(lines(std::string("\xFE\xFF\0a&:\0b\0\n", 10)), std::vector<std::string>{"a" + SMILE + "b"});
    // UTF-8, with a Latin-1 character right after the run
    EXPECT_EQ(lines("a\xE2\x98\xBA\xC3\xA9\n"), std::vector<std::string>{"a" + SMILE + "\xE9"});
    // two wide characters share one run
    EXPECT_EQ(lines("\xE2\x98\xBA\xE2\x98\xBB\n"), std::vector<std::string>{"\x01,263A,263B\x01"});
    // beyond U+FFFF: a surrogate pair of two groups
    EXPECT_EQ(lines("\xF0\x9F\x98\x80\n"), std::vector<std::string>{"\x01,D83D,DE00\x01"});
    // literal U+0001 and U+0000 are escaped: they cannot open a run or end the text
    EXPECT_EQ(lines(std::string("a\x01z\0y\n", 6)), std::vector<std::string>{"a\x01,0001\x01z\x01,0000\x01y"});
}

TEST_F(TextFileTest, WritingExpandsEscapesIntoEachEncoding)
{
    EXPECT_EQ(written("a" + SMILE + "\xE9"), "a\xE2\x98\xBA\xC3\xA9");
    EXPECT_EQ(written("\x01,D83D,DE00\x01"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(written("\x01,0001\x01"), "\x01");
    EXPECT_EQ(written("\x01,263a\x01"), "\xE2\x98\xBA"); // lower-case digits
    EXPECT_EQ(written("a\n"), "a\n");
    // A run with too few digits loses only those digits: the closing 0x01
    // still ends the run and the text after it is written.
    EXPECT_EQ(written("\x01,26\x01xyz"), "xyz");
    EXPECT_EQ(written("\x01,26,263A\x01!"), "\xE2\x98\xBA!");
    // a comma right after a run is text
    EXPECT_EQ(written(SMILE + ",x"), "\xE2\x98\xBA,x");
    // UTF-16: byte-order mark, little-endian units, LF written as CR
    EXPECT_EQ(written("a" + SMILE + "\n", 1), std::string("\xFF\xFE" "a\0:&\r\0", 8));
    EXPECT_EQ(written("\x01,D83D,DE00\x01", 1), std::string("\xFF\xFE=\xD8\0\xDE", 6));

    TEXT_FILE* t = folder.open_text_file("c.txt", fm_write, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE((*t << static_cast<char>(0xE9)) && t->write_char(0x263A) && t->printf("%d-%s", 42, "x"));
    EXPECT_EQ(t->read_char(), -1); // not a read file
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("c.txt")), "\xC3\xA9\xE2\x98\xBA" "42-x");
    // beyond the last code point: one byte of UTF-8, one unit of UTF-16
    t = folder.open_text_file("big.txt", fm_write, 1);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->write_char(0x110041) && t->write_char(-1));
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("big.txt")), std::string("\xFF\xFE" "A\0\xFF\xFF", 6));
    t = open("x");
    ASSERT_NE(t, nullptr);
    EXPECT_FALSE(*t << "no"); // not a write file
    folder.close(t);
}

TEST_F(TextFileTest, TextSurvivesARoundTripThroughEveryEncoding)
{
    const std::string line = "caf\xE9 " + SMILE + " \x01,D83D,DE00\x01 \x01,0001,0000\x01 end";
    for (INT_U8 unicode = 0; unicode < 2; ++unicode) {
        written(line + "\n" + line + "\n", unicode);
        TEXT_FILE* t = folder.open_text_file("out.txt", fm_read, 0);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->utf16, unicode);
        char buf[256];
        for (int i = 0; i < 2; ++i) {
            ASSERT_TRUE(*t >> buf);
            EXPECT_EQ(std::string(buf), line);
        }
        EXPECT_FALSE(*t >> buf);
        folder.close(t);
    }
}

TEST_F(TextFileTest, LongLinesContinueOnTheNextReadWithRunsClosedInEachPiece)
{
    EXPECT_EQ(lines(std::string(300, 'x') + "\nnext\n"),
              (std::vector<std::string>{std::string(255, 'x'), std::string(45, 'x'), "next"}));
    EXPECT_EQ(lines(std::string(255, 'y') + "\n"), std::vector<std::string>{std::string(255, 'y')});

    // 250 plain bytes leave no room for a run (7 bytes with its closing
    // byte); a piece holds at most 50 groups, and every run is closed.
    std::string in(250, 'a'), run50 = "\x01";
    for (int i = 0; i < 51; ++i)
        in += "\xE2\x98\xBA";
    for (int i = 0; i < 50; ++i)
        run50 += ",263A";
    EXPECT_EQ(lines(in + "\n"), (std::vector<std::string>{std::string(250, 'a'), run50 + "\x01", SMILE}));

    TEXT_FILE* t = open("abcdefghij\nk\n");
    ASSERT_NE(t, nullptr);
    char small[8];
    INT_U8 whole = 9;
    EXPECT_TRUE(t->read_line(small, sizeof small, &whole) && std::string(small) == "abcdefg" && whole == 0);
    EXPECT_TRUE(t->read_line(small, sizeof small, &whole) && std::string(small) == "hij" && whole == 1);
    folder.close(t);
}

TEST_F(TextFileTest, OpeningFindsTheEncodingAndAppendingKeepsIt)
{
    ASSERT_TRUE(kivo_test::write_file(path("be.txt"), std::string("\xFE\xFF\0a", 4)));
    TEXT_FILE* t = folder.open_text_file("be.txt", fm_read, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->utf16, 1);
    EXPECT_EQ(t->swap, 1);
    EXPECT_EQ(t->read_char(), 'a');
    folder.close(t);
    EXPECT_EQ(t, nullptr);
    EXPECT_EQ(folder.open_text_file("be.txt", fm_update, 0), nullptr); // big-endian: no appending
    EXPECT_EQ(folder.open_text_file("missing.txt", fm_read, 0), nullptr);
    EXPECT_EQ(folder.open_text_file("", fm_write, 0), nullptr);

    // appending to a new file: UTF-16 with its mark when asked, else 8-bit
    for (INT_U8 unicode = 0; unicode < 2; ++unicode) {
        const char* name = unicode ? "log16.txt" : "log8.txt";
        for (const char* text : {"one\n", "two\xE9\n"}) {
            t = folder.open_text_file(name, fm_update, unicode);
            ASSERT_NE(t, nullptr);
            EXPECT_EQ(t->utf16, unicode);
            EXPECT_TRUE(*t << text);
            folder.close(t);
        }
    }
    EXPECT_EQ(kivo_test::read_file(path("log8.txt")), "one\ntwo\xC3\xA9\n");
    EXPECT_EQ(kivo_test::read_file(path("log16.txt")), std::string("\xFF\xFEo\0n\0e\0\r\0t\0w\0o\0\xE9\0\r\0", 20));
}
