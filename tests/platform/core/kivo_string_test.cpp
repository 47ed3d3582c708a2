#include "kivo_host.h"
#include "kivo_string.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using kivo_test::MEMORY_DATA_DEVICE;

namespace {

std::string text(KIVO_STRING& s)
{
    return s.get_string(0);
}

} // namespace

TEST(KivoString, CopiesMovesAndSelfAliasing)
{
    // Emptying keeps the buffer unless the minimum size is 0.
    KIVO_STRING s("abc"), t;
    t.min_sz = 0;
    t = "abc";
    s = t = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.buffer && !*s.buffer && !t.buffer && t.alloc == 0);

    KIVO_STRING a("first"), b(a);
    b += " changed";
    EXPECT_EQ(text(a), "first");
    a = b;
    a = a;
    char* held = a.buffer;
    KIVO_STRING c(std::move(a)), d;
    d = std::move(c);
    EXPECT_TRUE(a.buffer == nullptr && c.buffer == nullptr && d.buffer == held);
    EXPECT_EQ(text(d), "first changed");

    // A part of itself assigned or appended; the second append moves the buffer mid-copy.
    d = d.get_string(6);
    EXPECT_EQ(text(d), "changed");
    d = "0123456789012345678901234567890123456789"; // 40 bytes, alloc 50
    d += d.get_string(0);
    d += d.get_string(75);
    std::string want;
    for (int i = 0; i < 8; ++i) {
        want += "0123456789";
    }
    EXPECT_EQ(text(d), want + "56789");
}

TEST(KivoString, SearchSubstringsAndTrims)
{
    const struct
    {
        const char *hay, *needle;
        long start;
        INT_U8 cs;
        bool back;
        long at;
    } finds[] = {
        {"abcB", "B", 1, 0, false, 1},         {"abcB", "B", 1, 1, false, 3},      {"abcB", "B", 4, 0, false, -1},
        {"abcB", "B", -1, 1, false, -1},       {"abcB", nullptr, 0, 1, false, -1}, {nullptr, "B", 0, 1, false, -1},
        {"\xC9t\xC9", "\xC9", 1, 0, false, 2}, // bytes above 0x7F are searched as they are
        {"abab", "ab", -1, 1, true, 2},        {"abab", "ab", 1, 1, true, 0},      {"abab", "AB", 99, 1, true, -1},
        {"abab", "AB", 99, 0, true, 2},        {"ab", "ababab", -1, 1, true, -1}};
    for (const auto& f : finds) {
        KIVO_STRING h(f.hay), n(f.needle);
        EXPECT_EQ(f.back ? h.find_backwards(n, f.start, f.cs) : h.find(n, f.start, f.cs), f.at) << &f - finds;
    }

    KIVO_STRING s("abcdef");
    const struct
    {
        long start, end;
        const char* want;
    } gets[] = {{2, -1, "cdef"}, {3, 3, "d"}, {4, 2, ""}, {0, 6, ""}, {-1, 2, ""}};
    for (const auto& g : gets) {
        KIVO_STRING part = s.get(g.start, g.end);
        EXPECT_EQ(text(part), g.want) << g.start << ".." << g.end;
    }
    EXPECT_TRUE(!*s.get_string(6) && !*s.get_string(-1)); // out of range: the blank text

    // 0xA0 is not white space here.
    const char* trims[][2] = {{" \t\r\n\v\fmid \n ", "mid"}, {"\xA0 x \xA0", "\xA0 x \xA0"}, {"   ", ""}};
    for (const auto& t : trims) {
        KIVO_STRING v(t[0]);
        v.trim_start_whitespace();
        v.trim_end_whitespace();
        EXPECT_EQ(text(v), t[1]);
    }
}

TEST(KivoString, EditingAndNumbers)
{
    KIVO_STRING s("abcd"), f("bc"), w("XYZ"), none, ins("12"), e;
    EXPECT_FALSE(s.remove(2, 4) || s.remove(2, 1) || s.remove(-1, 1));
    EXPECT_TRUE(s.remove(1, 2));
    EXPECT_EQ(text(s), "ad");
    s = "abcd";
    EXPECT_TRUE(s.replace(f, w, 0) && !s.replace(f, w, 0)); // the second finds nothing
    EXPECT_TRUE(s.replace(w, none, 1));
    EXPECT_EQ(text(s), "ad");
    EXPECT_FALSE(s.replace(none, w, 0) || s.replace(f, w, 2));
    EXPECT_TRUE(s.replace(s, w, 0));    // the whole text replaced by way of itself
    for (long at : {3L, 0L, 8L, -1L}) { // past the end or negative: nothing
        s.insert(ins, at);
    }
    s.insert(s, 2);
    e.insert(ins, 0);
    EXPECT_EQ(text(s) + "|" + text(e), "1212XYZ12XYZ12|12");

    // A 64-bit long needs more than a 15-byte buffer, also without a minimum size.
    KIVO_STRING n;
    n.min_sz = 0;
    n = -9223372036854775807L - 1;
    n += -9223372036854775807L - 1;
    e = static_cast<short>(-32768);
    e += static_cast<short>(-7);
    EXPECT_EQ(text(n) + "|" + text(e), "-9223372036854775808-9223372036854775808|-32768-7");
    KIVO_STRING x;
    x += "x"; // a null string just takes the text
    x += static_cast<const char*>(nullptr);
    EXPECT_EQ(text(x), "x");
}

TEST(KivoString, RecordsRoundTripAndRejectBadInput)
{
    KIVO_STRING none, w("abc");
    for (INT_U8 swap = 0; swap < 2; ++swap) {
        MEMORY_DATA_DEVICE d;
        d.swap = swap;
        ASSERT_TRUE(none.put_to_data_device(d) && w.put_to_data_device(d));
        EXPECT_EQ(d.str(), std::string(4, '\0') + std::string(swap ? "\0\0\0\3abc" : "\3\0\0\0abc", 7));
        d.set_pos(0, 0);
        KIVO_STRING empty("old"), back("old text");
        ASSERT_TRUE(empty.get_from_data_device(d) && back.get_from_data_device(d));
        EXPECT_EQ(text(empty) + "|" + text(back), "|abc");
    }

    // A negative or cut-off length is a failure and leaves the string emptied.
    for (const char* bad : {"\0\0\0\x80"
                            "abc",
                            "\5\0\0\0abc"}) {
        for (long min : {50L, 0L}) {
            KIVO_STRING r("keep?");
            r.min_sz = min;
            MEMORY_DATA_DEVICE d(std::string(bad, 7));
            EXPECT_FALSE(r.get_from_data_device(d));
            EXPECT_TRUE(min ? text(r).empty() : r.buffer == nullptr) << min;
        }
    }

    // Writes that fail: on the length (flag set), then on the text (flag untouched).
    for (long room : {2L, 5L}) {
        MEMORY_DATA_DEVICE full;
        full.fail_after(room);
        EXPECT_FALSE(w.put_to_data_device(full));
        EXPECT_EQ(full.error, room == 2 ? 1 : 0);
    }
}

TEST(KivoStringFree, NumbersCaseAndSevenBit)
{
    EXPECT_TRUE(kivo_strtol(nullptr, 7) == 7 && kivo_strtoul(nullptr, 9u) == 9u && kivo_strtod(nullptr, 1.5) == 1.5);
    EXPECT_EQ(kivo_strtol("010", 7), 10); // always decimal
    char buf[] = "ab\xE9z9";
    kivo_strupr(buf);
    kivo_strupr(nullptr);
    EXPECT_STREQ(buf, "AB\xE9Z9");

    // n 99 is the whole text, where strcmpi must agree.
    const struct
    {
        const char *a, *b;
        short n;
        int want;
    } cmps[] = {{"a", "B", 99, -1},     {"B", "a", 99, 1},       {"MiXed", "mixED", 99, 0},
                {"ab", "abc", 99, -1},  {"\xE9", "a", 99, 1}, // high bytes compare unsigned
                {"ABCx", "abcy", 3, 0}, {"ABCx", "abcy", 4, -1}, {"xa", "Xb", 0, 0},
                {"b", "a", -3, 1}}; // n < 1 still compares the first byte
    for (const auto& c : cmps) {
        EXPECT_TRUE(c.n != 99 || strcmpi(c.a, c.b) == c.want) << c.a << " " << c.b;
        EXPECT_EQ(strncmpi(c.a, c.b, c.n), c.want) << c.a << " " << c.b << " " << c.n;
    }

    // Single letters' forms are checked through convert_string_to_7bit.
    char out[2];
    EXPECT_TRUE(convert_char_to_7bit('q', out) == out && !std::strcmp(out, "q"));
    for (int c = 1; c < 256; ++c) { // every byte gives a short 7-bit text
        const char* t = convert_char_to_7bit(static_cast<INT_U8>(c), nullptr);
        ASSERT_TRUE(std::strlen(t) >= 1 && std::strlen(t) <= 3) << c;
        ASSERT_TRUE(static_cast<signed char>(t[0]) > 0 && static_cast<signed char>(t[1]) >= 0) << c;
    }
}

TEST(KivoStringFree, Base64KnownVectorsAndBadInput)
{
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar", "\0\xFF\1\x80\7"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy", "AP8BgAc="};
    for (int i = 0; i < 8; ++i) {
        long n = i < 7 ? static_cast<long>(std::strlen(plain[i])) : 5;
        KIVO_STRING s;
        s.set_base64(reinterpret_cast<const INT_U8*>(plain[i]), n);
        s.set_base64(nullptr, 3); // ignored
        INT_U8 back[16] = {};
        EXPECT_EQ(text(s), coded[i]);
        EXPECT_EQ(s.get_base64(back, sizeof back), n);
        EXPECT_EQ(std::memcmp(back, plain[i], static_cast<size_t>(n)), 0);
    }
    INT_U8 zero = 0;
    char out[5] = "xxxx";
    EXPECT_EQ(encode_base64(&zero, 1, out, 4), 4); // no room for the NUL: nothing written
    EXPECT_STREQ(out, "xxxx");

    // Padding in the middle, or a CR, ends the data: the count says what was produced.
    const struct
    {
        const char* in;
        long room, want;
    } decodes[] = {{"AAAAA", 16, -1},
                   {"A\nAA", 16, -1},
                   {"=AAA", 16, -1},
                   {"AA\xC3"
                    "A",
                    16, -1},
                   {nullptr, 16, -1},
                   {"Zm9vYmFy", 5, 6}, // too small: size only
                   {"AA==AAAA", 16, 1},
                   {"Zm9v\rAAA", 16, 3}};
    INT_U8 buf[16];
    for (const auto& c : decodes) {
        EXPECT_EQ(decode_base64(c.in, buf, c.room), c.want) << (c.in ? c.in : "null");
    }
}

TEST(KivoString, ClipboardKeepsTheCap)
{
    KIVO_STRING s(std::string(3000, 'k').c_str()), t;
    s.copy_into_clipboard();
    ASSERT_TRUE(t.copy_from_clipboard());
    EXPECT_EQ(text(t), std::string(1023, 'k'));

    KIVO_HOST_TABLE none = {};
    none.has_clipboard_text = []() -> INT_U8 { return 0; };
    kivo_set_host(&none);
    EXPECT_FALSE(t.copy_from_clipboard());
    EXPECT_EQ(std::strlen(t.buffer), 1023u); // unchanged
    kivo_set_host(nullptr);
    kivo_host()->set_clipboard_text("");
}

TEST(KivoStringFree, ScramblerFramesWithKeysAndRoundTrips)
{
    EXPECT_TRUE(encrypt(nullptr, 10, nullptr, 0) == 12 && decrypt(nullptr, 12, nullptr, 0) == 10);
    INT_U8 small[4];
    const INT_U8 in3[3] = {1, 2, 3};
    EXPECT_EQ(encrypt(in3, 3, small, 4), 0);
    EXPECT_EQ(decrypt(in3, 2, small, 4), 0); // nothing to produce, nothing written

    std::string plain(40000, '\0'); // longer than a 16-bit position counter
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<char>(i * 7 + (i >> 8));
    }
    const INT_U8* p = reinterpret_cast<const INT_U8*>(plain.data());
    std::string out(plain.size() + 2, '\0'), back(plain.size(), '\0');
    INT_U8* o = reinterpret_cast<INT_U8*>(&out[0]);
    for (int round = 0; round < 200; ++round) {
        long len = round < 199 ? round % 9 + 1 : static_cast<long>(plain.size());
        ASSERT_EQ(encrypt(p, len, o, len + 2), len + 2);
        INT_U8 k1 = o[0], k2 = o[len + 1];
        ASSERT_TRUE(k1 != 0 && k2 != 0);
        // Position 0 has no k1 term and an empty running sum; position 1
        // adds k1 and NOT of the first byte.
        ASSERT_EQ(o[1], static_cast<INT_U8>(p[0] ^ k2 ^ 0xFF));
        ASSERT_TRUE(len < 2 || o[2] == static_cast<INT_U8>(k1 ^ p[1] ^ k2 ^ static_cast<INT_U8>(~p[0])));
        ASSERT_EQ(decrypt(o, len + 2, reinterpret_cast<INT_U8*>(&back[0]), len), len);
        ASSERT_EQ(back.compare(0, static_cast<size_t>(len), plain, 0, static_cast<size_t>(len)), 0);
    }

    KIVO_STRING s("The secret name"), e, junk("not base64!");
    s.encrypt();
    EXPECT_EQ(s.get_base64(nullptr, 0), 17);
    s.decrypt();
    e.encrypt();
    e.decrypt();
    junk.decrypt();
    EXPECT_TRUE(text(s) == "The secret name" && e.buffer == nullptr && text(junk) == "not base64!");
}
