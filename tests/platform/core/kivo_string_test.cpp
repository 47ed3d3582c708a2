#include "kivo_string.h"
#include "kivo_host.h"
#include "memory_data_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

using kivo_test::MEMORY_DATA_DEVICE;

namespace {

std::string text(KIVO_STRING& s) { return s.get_string(0); }

} // namespace

TEST(KivoString, EmptyingRuleFollowsMinimumSize)
{
    KIVO_STRING s;
    EXPECT_EQ(s.buffer, nullptr);
    EXPECT_STREQ(s.get_string(0), "");
    s = "abc";
    EXPECT_EQ(s.alloc, 50);
    s = static_cast<const char*>(nullptr);
    ASSERT_NE(s.buffer, nullptr); // kept, emptied
    EXPECT_STREQ(s.buffer, "");

    KIVO_STRING t;
    t.min_sz = 0;
    t = "abc";
    EXPECT_EQ(t.alloc, 4);
    t = static_cast<const char*>(nullptr);
    EXPECT_EQ(t.buffer, nullptr);
    EXPECT_EQ(t.alloc, 0);

    s.clear();
    EXPECT_EQ(s.buffer, nullptr);
    // Out-of-range and negative indices give the blank text.
    s = "abc";
    EXPECT_STREQ(s.get_string(2), "c");
    EXPECT_STREQ(s.get_string(3), "");
    EXPECT_STREQ(s.get_string(-1), "");
}

TEST(KivoString, CopiesAreDeepAndMovesTransferOwnership)
{
    KIVO_STRING a("first");
    KIVO_STRING b(a);
    EXPECT_NE(a.buffer, b.buffer);
    b += " changed";
    EXPECT_EQ(text(a), "first");
    a = b;
    EXPECT_EQ(text(a), "first changed");
    a = a; // self copy keeps the text
    EXPECT_EQ(text(a), "first changed");

    char* held = a.buffer;
    KIVO_STRING c(std::move(a));
    EXPECT_EQ(c.buffer, held);
    EXPECT_EQ(a.buffer, nullptr);
    KIVO_STRING d;
    d = std::move(c);
    EXPECT_EQ(d.buffer, held);
    EXPECT_EQ(text(d), "first changed");
}

TEST(KivoString, AssigningOrAppendingFromItselfIsSafe)
{
    KIVO_STRING s("abcdef");
    s = s.get_string(2);
    EXPECT_EQ(text(s), "cdef");
    // Growth past the first allocation moves the buffer mid-append.
    s = "0123456789012345678901234567890123456789"; // 40 bytes, alloc 50
    s += s.get_string(0);
    EXPECT_EQ(text(s), "01234567890123456789012345678901234567890123456789012345678901234567890123456789");
    s += s.get_string(75);
    EXPECT_EQ(s.get_string(0) + 80, std::string("56789"));
}

TEST(KivoString, NumbersFormatAndAppendWithoutTruncation)
{
    KIVO_STRING s;
    s = -9223372036854775807L - 1;
    EXPECT_EQ(text(s), "-9223372036854775808");
    s = static_cast<short>(-32768);
    EXPECT_EQ(text(s), "-32768");
    s = "n=";
    s += 42;
    s += static_cast<short>(-7);
    EXPECT_EQ(text(s), "n=42-7");
    KIVO_STRING t;
    t += "x"; // a null string just takes the text
    t += static_cast<const char*>(nullptr);
    EXPECT_EQ(text(t), "x");
}

TEST(KivoString, FindForwardsAndBackwards)
{
    KIVO_STRING s("abcB"), b("B"), empty;
    EXPECT_EQ(s.find(b, 1, 0), 1);
    EXPECT_EQ(s.find(b, 1, 1), 3);
    EXPECT_EQ(s.find(b, 4, 0), -1);
    EXPECT_EQ(s.find(b, -1, 1), -1);
    EXPECT_EQ(s.find(empty, 0, 1), -1);
    EXPECT_EQ(empty.find(b, 0, 1), -1);
    KIVO_STRING hi("\xC9t\xC9"), hn("\xC9");
    EXPECT_EQ(hi.find(hn, 1, 0), 2); // bytes above 0x7F are searched as they are

    KIVO_STRING abab("abab"), ab("ab"), AB("AB");
    EXPECT_EQ(abab.find_backwards(ab, -1, 1), 2);
    EXPECT_EQ(abab.find_backwards(ab, 1, 1), 0);
    EXPECT_EQ(abab.find_backwards(AB, 99, 1), -1);
    EXPECT_EQ(abab.find_backwards(AB, 99, 0), 2);
    KIVO_STRING longer("ababab");
    EXPECT_EQ(ab.find_backwards(longer, -1, 1), -1);
}

TEST(KivoString, EditingOperations)
{
    KIVO_STRING s("abcd");
    EXPECT_TRUE(s.remove(1, 2));
    EXPECT_EQ(text(s), "ad");
    s = "abcd";
    EXPECT_FALSE(s.remove(2, 4));
    EXPECT_FALSE(s.remove(2, 1));
    EXPECT_FALSE(s.remove(-1, 1));
    EXPECT_EQ(text(s), "abcd");

    KIVO_STRING f("bc"), w("XYZ"), none;
    EXPECT_TRUE(s.replace(f, w, 0));
    EXPECT_EQ(text(s), "aXYZd");
    EXPECT_FALSE(s.replace(f, w, 0)); // nothing left to find
    EXPECT_TRUE(s.replace(w, none, 1));
    EXPECT_EQ(text(s), "ad");
    EXPECT_FALSE(s.replace(none, w, 0));
    EXPECT_FALSE(s.replace(f, w, 2));
    EXPECT_TRUE(s.replace(s, w, 0)); // the whole text replaced by way of itself
    EXPECT_EQ(text(s), "XYZ");

    KIVO_STRING ins("12");
    s.insert(ins, 3);
    EXPECT_EQ(text(s), "XYZ12");
    s.insert(ins, 0);
    EXPECT_EQ(text(s), "12XYZ12");
    s.insert(ins, 8);
    s.insert(ins, -1);
    EXPECT_EQ(text(s), "12XYZ12");
    s.insert(s, 2);
    EXPECT_EQ(text(s), "1212XYZ12XYZ12");
    KIVO_STRING e;
    e.insert(ins, 0);
    EXPECT_EQ(text(e), "12");
}

TEST(KivoString, SubstringsAndTrims)
{
    KIVO_STRING s("abcdef");
    KIVO_STRING g = s.get(2, -1);
    EXPECT_EQ(text(g), "cdef");
    g = s.get(3, 3);
    EXPECT_EQ(text(g), "d");
    g = s.get(4, 2);
    EXPECT_EQ(text(g), "");
    g = s.get(0, 6);
    EXPECT_EQ(text(g), "");
    g = s.get(-1, 2);
    EXPECT_EQ(text(g), "");

    KIVO_STRING t(" \t\r\n\v\fmid \n ");
    t.trim_start_whitespace();
    t.trim_end_whitespace();
    EXPECT_EQ(text(t), "mid");
    KIVO_STRING hi("\xA0 x \xA0");
    hi.trim_start_whitespace();
    hi.trim_end_whitespace();
    EXPECT_EQ(text(hi), "\xA0 x \xA0"); // 0xA0 is not white space here
    KIVO_STRING blank("   ");
    blank.trim_end_whitespace();
    EXPECT_EQ(text(blank), "");
}

TEST(KivoString, RecordsRoundTripAndRejectBadInput)
{
    MEMORY_DATA_DEVICE d;
    KIVO_STRING none;
    ASSERT_TRUE(none.put_to_data_device(d));
    EXPECT_EQ(d.str(), std::string(4, '\0'));

    for (INT_U8 swap = 0; swap < 2; ++swap)
    {
        MEMORY_DATA_DEVICE dev;
        dev.swap = swap;
        KIVO_STRING s("Orc");
        ASSERT_TRUE(s.put_to_data_device(dev));
        EXPECT_EQ(dev.str(), swap ? std::string("\0\0\0\3Orc", 7) : std::string("\3\0\0\0Orc", 7));
        dev.set_pos(0, 0);
        KIVO_STRING back("old text");
        ASSERT_TRUE(back.get_from_data_device(dev));
        EXPECT_EQ(text(back), "Orc");
    }

    KIVO_STRING r("keep?");
    MEMORY_DATA_DEVICE zero(std::string(4, '\0'));
    EXPECT_TRUE(r.get_from_data_device(zero));
    EXPECT_EQ(text(r), "");

    MEMORY_DATA_DEVICE neg(std::string("\0\0\0\x80" "abc", 7));
    EXPECT_FALSE(r.get_from_data_device(neg));

    // Cut-off text: a failure, and the string is left empty.
    r = "keep?";
    MEMORY_DATA_DEVICE cut(std::string("\5\0\0\0abc", 7));
    EXPECT_FALSE(r.get_from_data_device(cut));
    EXPECT_EQ(cut.error, 0); // only the length transfer touches the flag
    EXPECT_EQ(text(r), "");
    r.min_sz = 0;
    cut.set_pos(0, 0);
    EXPECT_FALSE(r.get_from_data_device(cut));
    EXPECT_EQ(r.buffer, nullptr);

    // Writes that fail: on the length (flag set), then on the text (flag untouched).
    KIVO_STRING w("abc");
    MEMORY_DATA_DEVICE full;
    full.fail_after(2);
    EXPECT_FALSE(w.put_to_data_device(full));
    EXPECT_EQ(full.error, 1);
    MEMORY_DATA_DEVICE half;
    half.fail_after(5);
    EXPECT_FALSE(w.put_to_data_device(half));
    EXPECT_EQ(half.error, 0);
}

TEST(KivoStringFree, NumberParsingAndCase)
{
    EXPECT_EQ(kivo_strtol(nullptr, 7), 7);
    EXPECT_EQ(kivo_strtol("-12x", 7), -12);
    EXPECT_EQ(kivo_strtol("010", 7), 10); // always decimal
    EXPECT_EQ(kivo_strtoul(nullptr, 9u), 9u);
    EXPECT_EQ(kivo_strtoul("4000000000", 9u), 4000000000ul);
    EXPECT_EQ(kivo_strtod(nullptr, 1.5), 1.5);
    EXPECT_EQ(kivo_strtod("2.25", 1.5), 2.25);

    char buf[] = "ab\xE9z9";
    kivo_strupr(buf);
    EXPECT_STREQ(buf, "AB\xE9Z9");
    kivo_strupr(nullptr);

    EXPECT_EQ(strcmpi("a", "B"), -1);
    EXPECT_EQ(strcmpi("B", "a"), 1);
    EXPECT_EQ(strcmpi("MiXed", "mixED"), 0);
    EXPECT_EQ(strcmpi("ab", "abc"), -1);
    EXPECT_EQ(strcmpi("\xE9", "a"), 1); // high bytes compare unsigned
    EXPECT_EQ(strncmpi("ABCx", "abcy", 3), 0);
    EXPECT_EQ(strncmpi("ABCx", "abcy", 4), -1);
    EXPECT_EQ(strncmpi("xa", "Xb", 0), 0); // n < 1 still compares the first byte
    EXPECT_EQ(strncmpi("b", "a", -3), 1);
    EXPECT_EQ(strncmpi("ab", "AB", 10), 0);
}

TEST(KivoStringFree, SevenBitTransliteration)
{
    EXPECT_STREQ(convert_char_to_7bit(0xE9, nullptr), "e");
    EXPECT_STREQ(convert_char_to_7bit(0xDF, nullptr), "?");
    EXPECT_STREQ(convert_char_to_7bit(0xC6, nullptr), "AE");
    EXPECT_STREQ(convert_char_to_7bit(0xDD, nullptr), "Y");
    EXPECT_STREQ(convert_char_to_7bit(0xFE, nullptr), "p");
    EXPECT_STREQ(convert_char_to_7bit(0xD7, nullptr), "?");
    EXPECT_STREQ(convert_char_to_7bit(0xA9, nullptr), "?");
    char out[2];
    EXPECT_EQ(convert_char_to_7bit('q', out), out);
    EXPECT_STREQ(out, "q");
    // Every byte gives a short 7-bit text.
    for (int c = 1; c < 256; ++c)
    {
        const char* t = convert_char_to_7bit(static_cast<INT_U8>(c), nullptr);
        ASSERT_GE(std::strlen(t), 1u);
        ASSERT_LE(std::strlen(t), 2u);
        for (const char* p = t; *p; ++p)
            ASSERT_LT(static_cast<unsigned char>(*p), 0x80);
    }
}

TEST(KivoStringFree, Base64KnownVectorsAndBadInput)
{
    const char* plain[] = {"", "f", "fo", "foo", "foob", "fooba", "foobar"};
    const char* coded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (int i = 0; i < 7; ++i)
    {
        long n = static_cast<long>(std::strlen(plain[i]));
        char out[16];
        EXPECT_EQ(encode_base64(reinterpret_cast<const INT_U8*>(plain[i]), n, out, sizeof out),
                  static_cast<long>(std::strlen(coded[i])));
        EXPECT_STREQ(out, coded[i]);
        INT_U8 back[16] = {};
        EXPECT_EQ(decode_base64(coded[i], nullptr, 0), n);
        EXPECT_EQ(decode_base64(coded[i], back, sizeof back), n);
        EXPECT_EQ(std::memcmp(back, plain[i], static_cast<size_t>(n)), 0);
    }
    INT_U8 zero = 0;
    char out[5] = "xxxx";
    EXPECT_EQ(encode_base64(&zero, 1, out, 4), 4); // no room for the NUL: nothing written
    EXPECT_STREQ(out, "xxxx");
    EXPECT_EQ(encode_base64(&zero, 1, out, 5), 4);
    EXPECT_STREQ(out, "AA==");

    INT_U8 buf[16];
    EXPECT_EQ(decode_base64("AA==", buf, 16), 1);
    EXPECT_EQ(decode_base64("AAAAA", buf, 16), -1);
    EXPECT_EQ(decode_base64("A\nAA", buf, 16), -1);
    EXPECT_EQ(decode_base64("=AAA", buf, 16), -1);
    EXPECT_EQ(decode_base64("AA\xC3" "A", buf, 16), -1);
    EXPECT_EQ(decode_base64(nullptr, buf, 16), -1);
    EXPECT_EQ(decode_base64("Zm9vYmFy", buf, 5), 6); // too small: size only
    // Padding in the middle ends the data: the count says what was produced.
    EXPECT_EQ(decode_base64("AA==AAAA", buf, 16), 1);
    EXPECT_EQ(decode_base64("Zm9v\rAAA", buf, 16), 3);

    KIVO_STRING s;
    EXPECT_EQ(s.get_base64(nullptr, 0), 0);
    const INT_U8 bytes[] = {0, 255, 1, 128, 7};
    s.set_base64(bytes, 5);
    EXPECT_EQ(text(s), "AP8BgAc=");
    EXPECT_EQ(s.get_base64(nullptr, 0), 5);
    INT_U8 back[5];
    EXPECT_EQ(s.get_base64(back, 5), 5);
    EXPECT_EQ(std::memcmp(back, bytes, 5), 0);
    s.set_base64(nullptr, 3);
    EXPECT_EQ(text(s), "AP8BgAc=");
}

TEST(KivoString, ClipboardKeepsTheCap)
{
    KIVO_STRING s("to the clipboard");
    s.copy_into_clipboard();
    KIVO_STRING t;
    ASSERT_TRUE(t.copy_from_clipboard());
    EXPECT_EQ(text(t), "to the clipboard");

    std::string big(3000, 'k');
    kivo_host()->set_clipboard_text(big.c_str());
    ASSERT_TRUE(t.copy_from_clipboard());
    EXPECT_EQ(std::strlen(t.buffer), 1023u);

    static INT_U8 has = 0;
    KIVO_HOST_TABLE none = {};
    none.has_clipboard_text = []() -> INT_U8 { return has; };
    kivo_set_host(&none);
    EXPECT_FALSE(t.copy_from_clipboard());
    EXPECT_EQ(std::strlen(t.buffer), 1023u); // unchanged
    kivo_set_host(nullptr);
    kivo_host()->set_clipboard_text("");
}

TEST(KivoStringFree, ScramblerFramesWithKeysAndRoundTrips)
{
    EXPECT_EQ(encrypt(nullptr, 10, nullptr, 0), 12);
    EXPECT_EQ(decrypt(nullptr, 12, nullptr, 0), 10);
    INT_U8 small[4];
    const INT_U8 in3[3] = {1, 2, 3};
    EXPECT_EQ(encrypt(in3, 3, small, 4), 0);
    EXPECT_EQ(decrypt(in3, 2, small, 4), 0); // nothing to produce, nothing written

    std::string plain(40000, '\0'); // longer than a 16-bit position counter
    for (size_t i = 0; i < plain.size(); ++i)
        plain[i] = static_cast<char>(i * 7 + (i >> 8));
    const INT_U8* p = reinterpret_cast<const INT_U8*>(plain.data());
    long n = static_cast<long>(plain.size());
    std::string out(plain.size() + 2, '\0'), back(plain.size(), '\0');
    INT_U8* o = reinterpret_cast<INT_U8*>(&out[0]);
    for (int round = 0; round < 200; ++round)
    {
        long len = round < 199 ? round % 9 + 1 : n;
        ASSERT_EQ(encrypt(p, len, o, len + 2), len + 2);
        INT_U8 k1 = o[0], k2 = o[len + 1];
        ASSERT_NE(k1, 0);
        ASSERT_NE(k2, 0);
        // First two positions worked by hand: position 0 has no k1 term and
        // an empty running sum; position 1 adds k1 and NOT of the first byte.
        ASSERT_EQ(o[1], static_cast<INT_U8>(p[0] ^ k2 ^ 0xFF));
        if (len > 1)
        {
            ASSERT_EQ(o[2], static_cast<INT_U8>(k1 ^ p[1] ^ k2 ^ static_cast<INT_U8>(~p[0])));
        }
        ASSERT_EQ(decrypt(o, len + 2, reinterpret_cast<INT_U8*>(&back[0]), len), len);
        ASSERT_EQ(back.compare(0, static_cast<size_t>(len), plain, 0, static_cast<size_t>(len)), 0);
    }

    KIVO_STRING s("The secret name");
    s.encrypt();
    EXPECT_NE(text(s), "The secret name");
    EXPECT_EQ(s.get_base64(nullptr, 0), 17);
    s.decrypt();
    EXPECT_EQ(text(s), "The secret name");
    KIVO_STRING e;
    e.encrypt();
    e.decrypt();
    EXPECT_EQ(e.buffer, nullptr);
    KIVO_STRING junk("not base64!");
    junk.decrypt();
    EXPECT_EQ(text(junk), "not base64!");
}
