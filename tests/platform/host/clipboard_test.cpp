#include "host_internal.h"
#include "host_utils.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string from_utf8(const char* utf8, std::size_t size = 256)
{
    std::string buf(size, '\x7F');
    std::size_t n = host_text_from_utf8(utf8, &buf[0], size);
    EXPECT_LT(n, size);
    EXPECT_EQ(buf[n], '\0');
    return buf.substr(0, n);
}

TEST(HostText, SystemTextAndUtf8BothWays)
{
    const struct
    {
        const char *system, *utf8;
    } pairs[] = {
        {"plain", "plain"},
        {"caf\xE9 \xFF", "caf\xC3\xA9 \xC3\xBF"},
        {"\x80\x85\x9F", "\xC2\x80\xC2\x85\xC2\x9F"}, // never a code page's symbols
        {"a\x01,263A,263B\x01"
         "b",
         "a\xE2\x98\xBA\xE2\x98\xBB"
         "b"},
        {"\x01,D83D,DE00\x01", "\xF0\x9F\x98\x80"}, // a pair of groups is one character
        {"\x01,FFFD\x01", "\xEF\xBF\xBD"},
        // Broken or foreign runs are bytes, so they come back as they were.
        {"\x01,26", "\x01,26"},
        {"x\x01", "x\x01"},
        {"\x01\x01", "\x01\x01"},
        {"\x01,263a\x01", "\x01,263a\x01"}, // lower-case digits
        {"\x01"
         "263A\x01",
         "\x01"
         "263A\x01"},                                                // no comma
        {"\x01,0041\x01", "\x01,0041\x01"},                          // a character that needs no group
        {"\x01,D83D\x01", "\x01,D83D\x01"},                          // half a pair
        {"\x01,263A\x01\x01,263B\x01", "\x01,263A\x01\xE2\x98\xBB"}, // runs the writer would join
    };
    for (const auto& p : pairs) {
        EXPECT_EQ(host_text_to_utf8(p.system), p.utf8) << p.system;
        EXPECT_EQ(from_utf8(p.utf8), p.system) << p.utf8;
    }
    // Text from other programs that is not UTF-8 arrives as escaped U+FFFD.
    EXPECT_EQ(from_utf8("a\xFF"
                        "b\xE2\x98"),
              "a\x01,FFFD\x01"
              "b\x01,FFFD,FFFD\x01");
    EXPECT_EQ(host_text_to_utf8(nullptr), "");
    EXPECT_EQ(from_utf8(nullptr), "");
}

TEST(HostText, CutAtTheBufferEndKeepsGroupsWhole)
{
    const char* smile_ab = "ab\xE2\x98\xBA";
    const char* smile_c = "\xE2\x98\xBA"
                          "c";
    const struct
    {
        const char* utf8;
        std::size_t size;
        const char* system;
    } cuts[] = {
        {smile_ab, 1, ""},
        {smile_ab, 3, "ab"},
        {smile_ab, 9, "ab"}, // the group and both markers need 7
        {smile_ab, 10, "ab\x01,263A\x01"},
        {smile_c, 8, "\x01,263A\x01"}, // the run is closed before a byte that no longer fits
        {smile_c, 9,
         "\x01,263A\x01"
         "c"},
        {"\xF0\x9F\x98\x80", 13, "\x01,D83D,DE00\x01"},
        {"\xF0\x9F\x98\x80", 12, ""}, // both halves or nothing
    };
    for (const auto& c : cuts) {
        EXPECT_EQ(from_utf8(c.utf8, c.size), c.system) << c.size;
    }
    char untouched = 'x';
    EXPECT_EQ(host_text_from_utf8("abc", &untouched, 0), 0u);
    EXPECT_EQ(untouched, 'x');
}

TEST(HostClipboard, RoundTripUnderTheDummyDriver)
{
    ASSERT_TRUE(host_start_video()) << SDL_GetError();
    install_clipboard_host();
    for (const char* text : {"Caf\xE9 \xA9 \x85",
                             "a\x01,263A\x01"
                             "b",
                             "\x01,26 broken"}) {
        ASSERT_EQ(kivo_host()->set_clipboard_text(text), 1);
        EXPECT_EQ(kivo_host()->has_clipboard_text(), 1);
        char* shared = SDL_GetClipboardText(); // what other programs see
        EXPECT_EQ(std::string(shared), host_text_to_utf8(text));
        SDL_free(shared);
        char buf[64];
        ASSERT_EQ(kivo_host()->get_clipboard_text(buf, sizeof buf), 1);
        EXPECT_STREQ(buf, text);
    }
    // Another program's text arrives escaped.
    ASSERT_EQ(SDL_SetClipboardText("\xC3\xA9\xE2\x98\xBA\xFF"), 0);
    char buf[32];
    ASSERT_TRUE(get_clipboard_text(buf, sizeof buf));
    EXPECT_STREQ(buf, "\xE9\x01,263A,FFFD\x01");
    ASSERT_TRUE(get_clipboard_text(buf, 1)); // size 1: empty, and true
    EXPECT_STREQ(buf, "");
    EXPECT_FALSE(get_clipboard_text(nullptr, 8));
    // A null text changes nothing; an empty one empties the clipboard.
    EXPECT_FALSE(set_clipboard_text(nullptr));
    EXPECT_TRUE(is_text_in_clipboard());
    EXPECT_TRUE(set_clipboard_text(""));
    EXPECT_FALSE(is_text_in_clipboard());
    EXPECT_FALSE(get_clipboard_text(buf, sizeof buf));
    EXPECT_STREQ(buf, "");
    kivo_set_host(nullptr);
}

} // namespace
