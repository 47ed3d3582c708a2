#include "text_file.h"

#include "errors.h"
#include "folder.h"
#include "sandbox.h"
#include "text_file_plain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using LINES = std::vector<std::string>;

const std::string SMILE = "\x01,263A\x01"; // U+263A as an escape run

std::string repeat(const std::string& s, int n)
{
    return n > 0 ? s + repeat(s, n - 1) : "";
}

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
        while (t && *t >> buf) {
            out.push_back(buf);
        }
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
    const struct
    {
        std::string in;
        LINES out;
    } cases[] = {
        {"\xC3\xA9t\xC3\xA9\n\x80z\n", {"\xE9t\xE9", "\x80z"}},
        // invalid UTF-8 falls back to 8-bit bytes in file order
        {"\xEF"
         "A\xC3\xA9",
         {"\xEF"
          "A\xC3\xA9"}},
        {"x\xE2\x98"
         "bc",
         {"x\xE2\x98"
          "bc"}},
        {"ab\xC3", {"ab\xC3"}},
        {"a\rb\nc\r", {"a", "bc"}}, // the first line end met decides
        {"\xE2\x98\xBA\xE2\x98\xBB\n", {"\x01,263A,263B\x01"}},
        {"\xF0\x9F\x98\x80\n", {"\x01,D83D,DE00\x01"}},
        {std::string(300, 'x') + "\nnext\n", {std::string(255, 'x'), std::string(45, 'x'), "next"}},
        {std::string(255, 'y') + "\n", {std::string(255, 'y')}},
        // 250 bytes leave no room for a run and its closing byte; every run
        // closes inside its piece, so 4 bytes leave room for 49 groups
        {std::string(250, 'a') + repeat("\xE2\x98\xBA", 51) + "\n",
         {std::string(250, 'a'), "\x01" + repeat(",263A", 50) + "\x01", SMILE}},
        {"abcd" + repeat("\xE2\x98\xBA", 51), {"abcd\x01" + repeat(",263A", 49) + "\x01", "\x01,263A,263A\x01"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lines(c.in), c.out) << c.in;
    }
    for (std::string end : {"\n", "\r", "\r\n", "\n\r"}) { // a dropped LF is not an empty last line
        EXPECT_EQ(lines("one" + end + end + "three" + end), (LINES{"one", "", "three"}));
    }
    TEXT_FILE* t = open("k\r\nb"); // read by character, a line end is '\n'
    ASSERT_NE(t, nullptr);
    char c = 0;
    std::string got;
    while (*t >> c) {
        got += c;
    }
    EXPECT_EQ(got, "k\nb");
    folder.close(t);
}

TEST_F(TextFileTest, WritingExpandsEscapesAppendingKeepsTheEncodingAndEveryTextSurvivesARoundTrip)
{
    const struct
    {
        std::string text;
        INT_U8 unicode;
        std::string out;
    } cases[] = {
        {"\x01,D83D,DE00\x01", 0, "\xF0\x9F\x98\x80"},
        {"\x01,0001\x01", 0, "\x01"},
        {"\x01,263a\x01", 0, "\xE2\x98\xBA"},
        {"\x01,26\x01xyz", 0, "xyz"}, // a short group loses only its digits
        {"\x01,26,263A\x01!", 0, "\xE2\x98\xBA!"},
        {SMILE + ",x", 0, "\xE2\x98\xBA,x"}, // a comma after a run is text
        {"a" + SMILE + "\n", 1,
         std::string("\xFF\xFE"
                     "a\0:&\r\0",
                     8)},
        {"\x01,D83D,DE00\x01", 1, std::string("\xFF\xFE=\xD8\0\xDE", 6)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(written(c.text, c.unicode), c.out) << c.text;
    }
    const std::string line = "caf\xE9 " + SMILE + " \x01,D83D,DE00\x01 \x01,0001,0000\x01 end";
    for (INT_U8 unicode = 0; unicode < 2; ++unicode) {
        EXPECT_EQ(lines(written(line + "\n" + line + "\n", unicode)), (LINES{line, line})) << int(unicode);
    }
    TEXT_FILE* t = folder.open_text_file("c.txt", fm_write, 0);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE((*t << static_cast<char>(0xE9)) && t->write_char(0x263A) && t->printf("%d-%s", 42, "x"));
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("c.txt")), "\xC3\xA9\xE2\x98\xBA"
                                                   "42-x");
    // beyond the last code point: one unit of UTF-16
    t = folder.open_text_file("big.txt", fm_write, 1);
    ASSERT_NE(t, nullptr);
    EXPECT_TRUE(t->write_char(0x110041) && t->write_char(-1));
    folder.close(t);
    EXPECT_EQ(kivo_test::read_file(path("big.txt")), std::string("\xFF\xFE"
                                                                 "A\0\xFF\xFF",
                                                                 6));
    ASSERT_TRUE(kivo_test::write_file(path("be.txt"), std::string("\xFE\xFF\0a", 4)));
    EXPECT_FALSE(folder.open_text_file("be.txt", fm_update, 0) || // big-endian: no appending
                 folder.open_text_file("missing.txt", fm_read, 0));
    // appending to a new file: UTF-16 with its mark when asked, else 8-bit
    for (INT_U8 unicode = 0; unicode < 2; ++unicode) {
        for (const char* text : {"one\n", "two\xE9\n"}) {
            t = folder.open_text_file(unicode ? "log16.txt" : "log8.txt", fm_update, unicode);
            EXPECT_TRUE(t && t->utf16 == unicode && *t << text);
            folder.close(t);
        }
    }
    EXPECT_EQ(kivo_test::read_file(path("log8.txt")), "one\ntwo\xC3\xA9\n");
    EXPECT_EQ(kivo_test::read_file(path("log16.txt")), std::string("\xFF\xFEo\0n\0e\0\r\0t\0w\0o\0\xE9\0\r\0", 20));
}

TEST_F(TextFileTest, LinesThatStartWithAByteOrderMarkSurvive)
{
    // Only the file's very first signature is a byte-order mark.
    const std::string MARK = "\x01,FEFF\x01", SIGNATURE = "\xEF\xBB\xBF";
    EXPECT_EQ(written(MARK + "a"), SIGNATURE + SIGNATURE + "a");
    EXPECT_EQ(written("a" + MARK), "a" + SIGNATURE);
    const LINES texts[] = {{MARK + "first", MARK + "second", "third"}, {MARK}, {"\x01,FEFF,FEFF\x01x", ""}};
    for (INT_U8 unicode = 0; unicode < 2; ++unicode) {
        for (const LINES& text : texts) {
            std::string joined;
            for (const std::string& line : text) {
                joined += line + "\n";
            }
            EXPECT_EQ(lines(written(joined, unicode)), text) << int(unicode) << " " << joined;
        }
    }
    // Appended to a new file, then to one that holds text.
    for (const char* text : {"one\n", "two\n"}) {
        TEXT_FILE* t = folder.open_text_file("log.txt", fm_update, 0);
        EXPECT_TRUE(t && *t << (MARK + text).c_str());
        folder.close(t);
    }
    EXPECT_EQ(lines(kivo_test::read_file(path("log.txt"))), (LINES{MARK + "one", MARK + "two"}));
}

// A character above U+FFFF takes 12 bytes escaped. A smaller buffer cannot
// hold it: that read fails once, with an error, and the next one goes on
// after it, whether lines are read with read_line or with operator>>.
TEST_F(TextFileTest, ACharacterTooWideForTheBufferFailsOnceAndReadingGoesOn)
{
    const std::string wide = "\x01,D83D,DE00\x01";
    for (int size : {8, 12, 13}) { // 12: one byte short
        for (int form = 0; form < 2; ++form) {
            TEXT_FILE* t = open("a\xF0\x9F\x98\x80"
                                "b\nc\n");
            ASSERT_NE(t, nullptr);
            t->line_max = static_cast<INT_S16>(size);
            std::vector<std::string> got;
            char buf[16];
            set_error_code(ERRCODE_NONE, nullptr);
            for (int reads = 0; reads < 8; ++reads) { // bounded: a hang shows as a wrong list
                got.push_back((form ? *t >> buf : t->read_line(buf, static_cast<INT_S16>(size))) ? buf : "<fail>");
            }
            folder.close(t);
            std::vector<std::string> want = {"a", "<fail>", "b", "c", "<fail>", "<fail>", "<fail>", "<fail>"};
            if (size == 13) {
                want = {"a", wide, "b", "c", "<fail>", "<fail>", "<fail>", "<fail>"};
            }
            EXPECT_EQ(got, want) << size << " " << form;
            EXPECT_EQ(current_error_code, size == 13 ? ERRCODE_NONE : ERRCODE_FILE_READ) << size;
        }
    }
}

namespace {

// Code points as a file's bytes in one encoding (the signature apart), and
// as the system's text.
enum ENCODING
{
    LATIN_8,
    UTF8_MARKED,
    UTF16_LE,
    UTF16_BE,
    UTF16_LE_BARE,
    UTF16_BE_BARE
};

std::string signature(ENCODING e)
{
    return e == UTF8_MARKED ? "\xEF\xBB\xBF" : e == UTF16_LE ? "\xFF\xFE" : e == UTF16_BE ? "\xFE\xFF" : "";
}

std::string encode(const std::u32string& text, ENCODING e)
{
    std::string out;
    for (char32_t c : text) {
        if (e == LATIN_8) {
            out += static_cast<char>(c);
        } else if (e == UTF8_MARKED) {
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c < 0x800) {
                out += {static_cast<char>(0xC0 | (c >> 6)), static_cast<char>(0x80 | (c & 0x3F))};
            } else {
                out += {static_cast<char>(0xE0 | (c >> 12)), static_cast<char>(0x80 | ((c >> 6) & 0x3F)),
                        static_cast<char>(0x80 | (c & 0x3F))};
            }
        } else {
            char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
            out += e == UTF16_LE || e == UTF16_LE_BARE ? std::string{lo, hi} : std::string{hi, lo};
        }
    }
    return out;
}

std::string system_text(const std::u32string& line)
{
    std::string out;
    bool run = false;
    for (char32_t c : line) {
        if ((c > 0xFF || c <= 1) != run) {
            out += '\x01';
            run = !run;
        }
        if (!run) {
            out += static_cast<char>(c);
        } else {
            char group[6];
            std::snprintf(group, sizeof group, ",%04X", static_cast<unsigned>(c));
            out += group;
        }
    }
    return run ? out + '\x01' : out;
}

// Everything one file gives, read by read_line into a buffer of `size`
// bytes: each piece (marked when the line goes on), then "<end>" when the
// read after the last one fails with an empty buffer.
std::vector<std::string> read_pieces(TEXT_FILE* t, int size)
{
    std::vector<std::string> got;
    std::vector<char> buf(static_cast<size_t>(size));
    INT_U8 whole = 0;
    while (t && got.size() < 100000 && t->read_line(buf.data(), static_cast<INT_S16>(size), &whole)) {
        got.push_back(std::string(buf.data()) + (whole ? "" : "<part>"));
    }
    got.push_back(t && !t->read_line(buf.data(), static_cast<INT_S16>(size)) && buf[0] == 0 ? "<end>" : "<more>");
    return got;
}

} // namespace

// The same lines in every encoding and with every line end: short lines,
// accented letters, characters above U+00FF, bytes 0 and 1, and a line far
// longer than the read-ahead, so that it and many short lines straddle its
// refills. The final line has no line end.
TEST_F(TextFileTest, TheSameLinesReadAlikeInEveryEncodingAcrossReadAheadRefills)
{
    std::vector<std::u32string> text = {
        U"first",       U"", U"caf\u00E9 au lait", U"\u263A smile \u263B", std::u32string(U"zero\0one\1", 9),
        U"\u00FF\u0100"};
    for (int i = 0; i < 2500; ++i) {
        text.push_back(std::u32string(static_cast<size_t>(i % 70), static_cast<char32_t>('a' + i % 26)) +
                       (i % 7 == 0    ? U"\u00E9"
                        : i % 11 == 0 ? U"\u263A"
                                      : U""));
    }
    text.push_back(std::u32string(70000, U'L') + U"\u00E9");
    text.push_back(U"last");
    for (ENCODING e : {LATIN_8, UTF8_MARKED, UTF16_LE, UTF16_BE, UTF16_LE_BARE, UTF16_BE_BARE}) {
        for (std::u32string end : {U"\n", U"\r", U"\r\n"}) {
            std::string bytes = signature(e);
            std::vector<std::string> want;
            for (size_t i = 0; i < text.size(); ++i) {
                std::u32string line = text[i];
                for (char32_t& c : line) { // 8-bit text has nothing above U+00FF
                    c = e == LATIN_8 && c > 0xFF ? U'?' : c;
                }
                bytes += encode(line + (i + 1 < text.size() ? end : U""), e);
                std::string sys = system_text(line);
                for (; sys.size() > 255; sys.erase(0, 255)) {
                    want.push_back(sys.substr(0, 255) + "<part>");
                }
                want.push_back(sys);
            }
            want.push_back("<end>");
            TEXT_FILE* t = open(bytes);
            ASSERT_NE(t, nullptr);
            t->utf8 = e != LATIN_8;
            if (e == UTF16_LE_BARE || e == UTF16_BE_BARE) { // no signature: the caller says so
                t->utf16 = 1;
                t->swap = e == UTF16_BE_BARE;
            }
            EXPECT_EQ(read_pieces(t, 256), want) << e << " " << static_cast<int>(end[0]);
            folder.close(t);
        }
    }
    TEXT_FILE* t = open("");
    EXPECT_EQ(read_pieces(t, 256), (std::vector<std::string>{"<end>"}));
    folder.close(t);
    // A signature's bytes past the first refill are a character like any
    // other, only the first ones of the file are not text.
    t = open(std::string(65536, 'x') + "\xEF\xBB\xBFy");
    std::vector<std::string> got = read_pieces(t, 256);
    folder.close(t);
    ASSERT_EQ(got.size(), 259u);
    EXPECT_EQ(got[257], "x\x01,FEFF\x01y");
}

// Lines are copied from the read-ahead bytes in runs where they can be;
// every character taken one at a time must give the same: random files
// (valid UTF-8, or with invalid sequences that turn it to 8-bit, stray line
// ends, bytes 0 and 1, a signature or not, some far longer than the
// read-ahead), read by every reader in a random mix with random buffer
// sizes.
TEST_F(TextFileTest, CopyingRunsReadsExactlyAsCharacterByCharacter)
{
    const std::vector<std::string> pieces = {"a",
                                             "word ",
                                             "\n",
                                             "\r",
                                             "\r\n",
                                             "\xC3\xA9",
                                             "\xC2\x80",
                                             "\xC1\xBF",
                                             "\xE2\x98\xBA",
                                             "\xF0\x9F\x98\x80",
                                             "\xEF\xBB\xBF",
                                             std::string(1, '\0'),
                                             "\x01",
                                             "0123456789abcdefghij",
                                             "\xC3",
                                             "\x80",
                                             "\xFF"};
    std::mt19937 rng(11);
    for (int round = 0; round < 300; ++round) {
        const size_t length = round % 25 == 0 ? 70000 + rng() % 70000 : rng() % 600;
        const int start = static_cast<int>(rng() % 4);
        const size_t kinds = round % 2 ? pieces.size() : pieces.size() - 3; // the last three are never valid
        std::string bytes = start == 0 ? "\xEF\xBB\xBF" : start == 1 ? "\xFF\xFE" : "";
        while (bytes.size() < length) {
            const unsigned r = static_cast<unsigned>(rng());
            if (r % 8) {
                bytes += pieces[r / 8 % kinds];
            } else if (round % 2) {
                bytes += static_cast<char>(r >> 8);
            } else { // any valid sequence of two bytes
                bytes += {static_cast<char>(0xC2 + (r >> 8) % 30), static_cast<char>(0x80 + (r >> 16) % 64)};
            }
        }
        const INT_U8 utf8 = rng() % 5 != 0;
        const unsigned seed = rng();
        std::string results[2];
        for (int plain = 0; plain < 2; ++plain) {
            kivo_text_file::plain_only = plain != 0;
            std::mt19937 ops(seed);
            TEXT_FILE* t = open(bytes);
            ASSERT_NE(t, nullptr);
            t->utf8 = utf8;
            std::string& log = results[plain];
            char buf[320];
            for (int fails = 0; fails < 3 && log.size() < 4 * bytes.size() + 64;) {
                const int op = static_cast<int>(ops() % 10);
                const INT_S16 size = static_cast<INT_S16>(ops() % 4 ? 8 + ops() % 40 : 8 + ops() % 312);
                bool ok;
                INT_U8 whole = 2;
                set_error_code(ERRCODE_NONE, nullptr);
                if (op < 6) {
                    ok = t->read_line(buf, size, &whole);
                } else if (op < 8) {
                    t->line_max = size;
                    ok = *t >> buf;
                } else if (op == 8) {
                    char c = 0;
                    ok = *t >> c;
                    buf[0] = c;
                    buf[1] = 0;
                } else {
                    INT_S32 c = t->read_char();
                    ok = c >= 0;
                    std::snprintf(buf, sizeof buf, "%d", c);
                }
                fails = ok ? 0 : fails + 1;
                log += std::to_string(op) + (ok ? "+" : "-") + std::to_string(whole) +
                       std::to_string(current_error_code) + std::string(buf, op == 8 ? 1 : std::strlen(buf)) + "|";
            }
            folder.close(t);
        }
        kivo_text_file::plain_only = false;
        ASSERT_EQ(results[0], results[1]) << "round " << round;
    }
}
