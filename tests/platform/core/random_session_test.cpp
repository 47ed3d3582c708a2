#include "random_session.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <sstream>
#include <vector>

namespace {

// A range of 2^31 hands back the raw 31-bit draw unchanged.
long raw(RANDOM_SESSION& s) { return s.get_random_number(0, 0x80000000L); }

std::vector<long> draws(RANDOM_SESSION& s, int n)
{
    std::vector<long> out;
    for (int i = 0; i < n; ++i)
        out.push_back(raw(s));
    return out;
}

} // namespace

TEST(RandomSession, MatchesTheStandardGeneratorReadTopDown)
{
    std::mt19937 check; // the oracle itself, against the standard's check values
    EXPECT_EQ(check(), 3499211612u);
    check.discard(9998);
    EXPECT_EQ(check(), 4123659995u);

    for (INT_U32 v : {0x00000400u | 623u, 0x12345400u | 100u, 0xFFFFFC00u | 623u, 0x00000800u | 5u}) {
        INT_U32 s = v & ~0x3FFu;
        int p = static_cast<int>(v & 0x3FF);
        std::mt19937 g(s);
        std::vector<long> expect(624);
        for (long& e : expect)
            e = static_cast<long>(g() & 0x7FFFFFFFu);
        RANDOM_SESSION r;
        r.set_random_index(v);
        for (int j = 0; j <= p; ++j)
            ASSERT_EQ(raw(r), expect[p - j]) << std::hex << v << " draw " << j;
    }
}

TEST(RandomSession, SpotValuesAndReseeding)
{
    RANDOM_SESSION r;
    r.set_random_index(623);
    EXPECT_EQ(draws(r, 5), (std::vector<long>{1644371172, 631131020, 1308169859, 1162135467, 143733985}));

    r.set_random_index(0x400 | 623);
    EXPECT_EQ(draws(r, 5), (std::vector<long>{253923927, 1192441965, 634274692, 550630509, 1012359313}));
    draws(r, 619);
    // Used up: the saved index is exactly where the next draw re-seeds to.
    EXPECT_EQ(r.get_random_index(), 0xFFC35000u | 623u);
    RANDOM_SESSION copy;
    copy.set_random_index(r.get_random_index());
    EXPECT_EQ(raw(r), 1481390470);
    EXPECT_EQ(raw(copy), 1481390470);
    EXPECT_EQ(r.get_random_index(), 0xFFC35000u | 622u);
    draws(r, 74);
    EXPECT_EQ(raw(r), 1784250924); // draw 700
    draws(copy, 74);
    EXPECT_EQ(raw(copy), 1784250924);

    // Position 0: the second draw already re-seeds.
    r.set_random_index(0x400);
    EXPECT_EQ(raw(r), 634329019);
    EXPECT_EQ(raw(r), 1481390470);
}

TEST(RandomSession, IndexSaveAndRestore)
{
    RANDOM_SESSION r;
    EXPECT_EQ(r.get_random_index() & 0x3FFu, 0u); // fresh: position 0

    r.set_random_index(0x12345678u);
    EXPECT_EQ(r.get_random_index(), 0x1234566Fu);
    r.set_random_index(0x123453FFu);
    EXPECT_EQ(r.get_random_index(), 0x1234526Fu);
    r.set_random_index(0xABCD4000u | 600u);
    EXPECT_EQ(r.get_random_index(), 0xABCD4000u | 600u);

    r.set_random_index(0x400 | 623);
    draws(r, 100);
    INT_U32 saved = r.get_random_index();
    EXPECT_EQ(saved, 0x60Bu);
    std::vector<long> rest = draws(r, 800);
    RANDOM_SESSION again;
    again.set_random_index(saved);
    EXPECT_EQ(draws(again, 800), rest);
}

TEST(RandomSession, GlobalDrawsMatchKnownSequences)
{
    set_random_index(0x400 | 623);
    std::vector<long> got;
    for (int i = 0; i < 10; ++i)
        got.push_back(get_random_number(10));
    EXPECT_EQ(got, (std::vector<long>{1, 5, 2, 2, 4, 6, 7, 6, 7, 2}));

    set_random_index(0x400 | 623);
    got.clear();
    for (int i = 0; i < 10; ++i)
        got.push_back(get_random_number(-5, 5));
    EXPECT_EQ(got, (std::vector<long>{-4, 0, -3, -3, -1, 1, 2, 1, 2, -3}));

    set_random_index(0x400 | 623);
    EXPECT_DOUBLE_EQ(get_random_double(1.0), 0.11824254231445609);
    EXPECT_DOUBLE_EQ(get_random_double(1.0), 0.55527406025457848);
    EXPECT_DOUBLE_EQ(get_random_double(1.0), 0.29535716925531497);

    // Empty ranges give 0 and consume nothing.
    INT_U32 before = get_random_index();
    EXPECT_EQ(get_random_number(0), 0);
    EXPECT_EQ(get_random_number(-5), 0);
    EXPECT_EQ(get_random_number(5, 5), 0);
    EXPECT_EQ(get_random_number(6, 5), 0);
    EXPECT_EQ(get_random_index(), before);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(get_random_number(1), 0);
}

TEST(RandomSession, WideRangesAndDoublesStayInBounds)
{
    RANDOM_SESSION r;
    r.set_random_index(0x7777400u);
    bool above_31_bits = false;
    for (int i = 0; i < 2000; ++i) {
        long v = r.get_random_number(0, 1L << 40);
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 1L << 40);
        above_31_bits |= v >= (1L << 31);
        long w = r.get_random_number(LONG_MIN, LONG_MAX);
        ASSERT_LT(w, LONG_MAX);
        long n = r.get_random_number(-3000000000L, 3000000000L);
        ASSERT_GE(n, -3000000000L);
        ASSERT_LT(n, 3000000000L);
        double d = r.get_random_double(1.0);
        ASSERT_GE(d, 0.0);
        ASSERT_LT(d, 1.0);
    }
    EXPECT_TRUE(above_31_bits);

    // A range tiny next to low must still never reach high.
    set_random_index(0x400 | 623);
    for (int i = 0; i < 2000; ++i) {
        double d = get_random_double(1e17, 1e17 + 64.0);
        ASSERT_GE(d, 1e17);
        ASSERT_LT(d, 1e17 + 64.0);
    }
}

class RandomToolsTest : public kivo_test::SandboxTest
{
};

TEST_F(RandomToolsTest, TableHoldsEveryValueRepeatsTimes)
{
    std::string p = path("random_table.h");
    create_random_table(12, 3, 200, p.c_str());
    std::string text = kivo_test::read_file(p);
    ASSERT_NE(text.find("#ifdef RANDOM_CPP\n\n// table generated by create_random_table( 12 /*max_num*/, 3 "
                        "/*repeats*/, 200 /*shuffles*/, " + p + " /*file*/ );\n"
                        "static INT_S32 random_max_value\t= 12;\nstatic INT_S32 random_table_sz\t= 36;\n"
                        "static INT_S32 random_table[]\t\t=\n{\n\t"),
              std::string::npos);
    ASSERT_EQ(text.substr(text.size() - 11), "\n};\n\n#endif");
    std::string body = text.substr(text.find("{\n\t") + 3);
    EXPECT_EQ(body.substr(0, 5).find_first_not_of(" 0123456789"), 3u); // width 3, then ','
    std::istringstream in(body);
    std::vector<int> seen(12, 0);
    int v, total = 0;
    char sep;
    while (total < 36 && in >> v >> sep) {
        ASSERT_GE(v, 0);
        ASSERT_LT(v, 12);
        ++seen[v];
        ++total;
        EXPECT_EQ(sep, total < 36 ? ',' : '}');
    }
    EXPECT_EQ(total, 36);
    EXPECT_EQ(seen, std::vector<int>(12, 3));

    // Nonsense sizes write nothing and allocate nothing.
    for (long bad : {0L, -4L, LONG_MAX}) {
        std::string q = path("bad.h");
        create_random_table(bad, 2, 1, q.c_str());
        create_random_table(5, bad, 1, q.c_str());
        EXPECT_EQ(kivo_test::read_file(q), "");
    }
}

TEST_F(RandomToolsTest, FrequencyReportIsAppended)
{
    std::string p = path("report.txt");
    ASSERT_TRUE(kivo_test::write_file(p, "before"));
    set_random_index(0x400 | 623);
    test_random_table(10, p.c_str());
    std::string text = kivo_test::read_file(p);
    EXPECT_EQ(text.rfind("before\nRandom report for 10 (1966050 numbers)\nMIN - ", 0), 0u);
    EXPECT_NE(text.find("\nAverage times each number retuned 196605\nUnreturned values 0\n"), std::string::npos);
    test_random_table(0, p.c_str());
    test_random_table(-1, p.c_str());
    EXPECT_EQ(kivo_test::read_file(p), text);
}
