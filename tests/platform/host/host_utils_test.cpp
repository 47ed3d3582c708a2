#include "host_utils.h"
#include "kivo_host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(HostWait, TheFakeClockAdvancesInsteadOfSleeping)
{
    kivo_fake_clock_enable(1);
    kivo_fake_clock_set_ms(5000);
    wait_in_ms(2500);
    wait_in_ms(999);
    wait_in_seconds(3);
    EXPECT_EQ(get_ms_count(), 11499u);
    kivo_fake_clock_enable(0);
}

TEST(HostStrings, LengthPrefixedAndUtf16AtTheirBounds)
{
    const std::string t254(254, 'a'), t255(255, 'b'), t300(300, 'c');
    const struct
    {
        const char* text;
        unsigned length;
    } pcases[] = {{"", 0}, {nullptr, 0}, {"abc", 3}, {t254.c_str(), 254}, {t255.c_str(), 254}, {t300.c_str(), 254}};
    for (const auto& c : pcases) {
        std::vector<unsigned char> buffer(300, 0xEE);
        ASSERT_EQ(C_TO_P_STR_BUFFER(c.text, buffer.data()), buffer.data());
        EXPECT_EQ(buffer[0], c.length);
        EXPECT_EQ(buffer[c.length + 1], 0xEE); // no terminator, nothing beyond
        if (c.length > 0) {
            EXPECT_EQ(std::memcmp(buffer.data() + 1, c.text, c.length), 0);
        }
        EXPECT_EQ(std::string(P_TO_C_STR(C_TO_P_STR(c.text))), std::string(c.text ? c.text : "").substr(0, 254));
    }
    // A length byte of 255 fills the 256-byte buffer exactly.
    std::vector<unsigned char> full(256, 'z');
    full[0] = 255;
    std::vector<char> out(300, '\x7F');
    EXPECT_EQ(std::string(P_TO_C_STR_BUFFER(full.data(), out.data())), std::string(255, 'z'));
    EXPECT_EQ(out[256], '\x7F');

    std::vector<INT_U16> units(400, 0x4141); // low byte 'A'
    units[3] = 0x0142;
    const struct
    {
        long count;
        std::size_t zero_at;
        std::string text;
    } ucases[] = {{0, 1000, ""},
                  {3, 1000, "AAA"},
                  {5, 2, "AA"},
                  {-1, 2, "AA"},
                  {-1, 1000, "AAAB" + std::string(251, 'A')},
                  {400, 1000, "AAAB" + std::string(251, 'A')}};
    for (const auto& c : ucases) {
        std::vector<INT_U16> u = units;
        if (c.zero_at < u.size()) {
            u[c.zero_at] = 0;
        }
        std::vector<char> buffer(300, '\x7F');
        UTF16_TO_C_STR_BUFFER(u.data(), c.count, buffer.data());
        EXPECT_EQ(std::string(buffer.data()), c.text) << c.count;
        EXPECT_EQ(buffer[256], '\x7F');
        EXPECT_EQ(std::string(UTF16_TO_C_STR(u.data(), c.count)), c.text);
    }
}

TEST(HostStrings, CfstringEscapesLargeUnitsWithinItsBuffer)
{
    const INT_U16 sample[] = {'a', 0x263A, 0x263B, 'b', 0xE9};
    EXPECT_STREQ(cfstring_to_string(sample, 5), "a\x01,263a,263b\x01"
                                                "b\xE9");
    EXPECT_STREQ(cfstring_to_string(sample, 2), "a\x01,263a\x01");
    EXPECT_STREQ(cfstring_to_string(nullptr, 4), "");

    // Too long: the text ends at a whole group with its run closed, and
    // both forms stay inside the 1023 bytes of text.
    std::vector<INT_U16> wide(300, 0x263A);
    std::string s = cfstring_to_string(wide.data(), static_cast<long>(wide.size()));
    EXPECT_EQ(s.size(), 1u + 204 * 5 + 1);
    EXPECT_EQ(s.back(), '\x01');
    std::vector<INT_U16> mixed(1022, 'a');
    mixed.push_back(0x263A);
    mixed.push_back('b');
    s = cfstring_to_string(mixed.data(), static_cast<long>(mixed.size()));
    EXPECT_EQ(s, std::string(1022, 'a'));
}

TEST(HostStrings, NoStringResourceExists)
{
    for (INT_S16 id : {INT_S16(-32768), INT_S16(-1), INT_S16(0), INT_S16(128), INT_S16(32767)}) {
        EXPECT_EQ(CreateCFStringFromStringResource(id), nullptr) << id;
    }
}

} // namespace
