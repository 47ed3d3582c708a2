#include "random_session.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

constexpr int N = RANDOM_SESSION::state_size;
constexpr int M = 397;
constexpr INT_U32 MATRIX = 0x9908B0DFu;
constexpr INT_U32 UPPER = 0x80000000u;
constexpr INT_U32 LOWER = 0x7FFFFFFFu;
constexpr INT_U32 SEED_MASK = ~0x3FFu;

// (x * n) >> 31 for a 31-bit x: the same bits as the 32-bit "(x * 2n) >> 32"
// for every n < 2^31, and still in [0, n) for larger ranges.
unsigned long long scale_draw(INT_U32 x, unsigned long long n)
{
    return static_cast<unsigned long long>((static_cast<unsigned __int128>(x) * n) >> 31);
}

} // namespace

RANDOM_SESSION::RANDOM_SESSION() : index(0), seed(0), mt{}
{
    seed = (static_cast<INT_U32>(std::time(nullptr)) << 10) & SEED_MASK;
    initialise(seed);
    generate();
}

void RANDOM_SESSION::initialise(INT_U32 s)
{
    mt[0] = s;
    for (int i = 1; i < N; ++i) {
        mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + static_cast<INT_U32>(i);
    }
}

void RANDOM_SESSION::generate()
{
    for (int i = 0; i < N; ++i) {
        INT_U32 y = (mt[i] & UPPER) | (mt[(i + 1) % N] & LOWER);
        mt[i] = mt[(i + M) % N] ^ (y >> 1) ^ ((y & 1u) ? MATRIX : 0u);
    }
}

INT_U32 RANDOM_SESSION::next_seed() const
{
    return mt[M] & SEED_MASK;
}

void RANDOM_SESSION::set_random_index(INT_U32 v)
{
    seed = v & SEED_MASK;
    INT_U32 pos = v & 0x3FFu;
    index = pos >= static_cast<INT_U32>(N) ? N - 1 : static_cast<INT_S32>(pos);
    initialise(seed);
    generate();
}

INT_U32 RANDOM_SESSION::get_random_index() const
{
    // A used-up state is saved as the point the next draw re-seeds to, so
    // restoring it continues the same sequence.
    if (index < 0) {
        return next_seed() | static_cast<INT_U32>(N - 1);
    }
    return seed | static_cast<INT_U32>(index);
}

INT_U32 RANDOM_SESSION::draw()
{
    if (index < 0) {
        seed = next_seed();
        index = N - 1;
        initialise(seed);
        generate();
    }
    INT_U32 y = mt[index--];
    y ^= y >> 11;
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    y ^= y >> 18;
    return y & LOWER;
}

long RANDOM_SESSION::get_random_number(long low, long high)
{
    if (low >= high) {
        return 0;
    }
    unsigned long long range = static_cast<unsigned long long>(high) - static_cast<unsigned long long>(low);
    unsigned long long r = static_cast<unsigned long long>(low) + scale_draw(draw(), range);
    return static_cast<long>(r);
}

double RANDOM_SESSION::get_random_double(double scale)
{
    double u = static_cast<double>(scale_draw(draw(), 0x7FFFFFFFu)) / 2147483647.0;
    return u * scale;
}

RANDOM_SESSION& global_session()
{
    static RANDOM_SESSION session;
    return session;
}

long get_random_number(long n)
{
    if (n < 1) {
        return 0;
    }
    return global_session().get_random_number(0, n);
}

long get_random_number(long low, long high)
{
    return global_session().get_random_number(low, high);
}

double get_random_double(double scale)
{
    return global_session().get_random_double(scale);
}

double get_random_double(double low, double high)
{
    double r = low + (high - low) * global_session().get_random_double(1.0);
    // Rounding can reach high when |low| dwarfs the range; keep it open.
    if (low < high && r >= high) {
        r = std::nextafter(high, low);
    }
    return r;
}

INT_U32 get_random_index()
{
    return global_session().get_random_index();
}

void set_random_index(INT_U32 v)
{
    global_session().set_random_index(v);
}

namespace {

// Tables and reports larger than this are refused rather than allocated.
constexpr long max_tool_entries = 1L << 24;

} // namespace

void create_random_table(long max_num, long repeats, long shuffles, const char* file)
{
    if (!file || max_num < 1 || repeats < 1 || max_num > max_tool_entries / repeats) {
        return;
    }
    const long size = max_num * repeats;
    INT_S32* table = static_cast<INT_S32*>(std::malloc(static_cast<std::size_t>(size) * sizeof(INT_S32)));
    if (!table) {
        return;
    }
    for (long i = 0; i < size; ++i) {
        table[i] = static_cast<INT_S32>(i % max_num);
    }
    const unsigned long long usize = static_cast<unsigned long long>(size);
    for (long s = 0; s < shuffles; ++s) {
        // The product of two rand() values would overflow an int.
        unsigned long long a =
            static_cast<unsigned long long>(std::rand()) * static_cast<unsigned long long>(std::rand()) % usize;
        unsigned long long b =
            static_cast<unsigned long long>(std::rand()) * static_cast<unsigned long long>(std::rand()) % usize;
        INT_S32 t = table[a];
        table[a] = table[b];
        table[b] = t;
    }
    std::FILE* f = std::fopen(file, "w");
    if (!f) {
        std::free(table);
        return;
    }
    int width = 1;
    for (long v = max_num; v >= 10; v /= 10) {
        ++width;
    }
    ++width;
    std::fputs(
        "/*\n * random_table.h\n *\n * A shuffled lookup table of random values; generated, do not edit.\n */\n\n", f);
    std::fputs("#ifdef RANDOM_CPP\n\n", f);
    std::fprintf(f,
                 "// table generated by create_random_table( %ld /*max_num*/, %ld /*repeats*/, %ld /*shuffles*/, %s "
                 "/*file*/ );\n",
                 max_num, repeats, shuffles, file);
    std::fprintf(f, "static INT_S32 random_max_value\t= %ld;\n", max_num);
    std::fprintf(f, "static INT_S32 random_table_sz\t= %ld;\n", size);
    std::fputs("static INT_S32 random_table[]\t\t=\n{\n\t", f);
    for (long i = 0; i < size; ++i) {
        std::fprintf(f, "%*d%c%s", width, static_cast<int>(table[i]), i + 1 < size ? ',' : ' ',
                     (i + 1) % 10 == 0 ? "\n\t" : " ");
    }
    std::fputs("\n};\n\n#endif", f);
    std::fclose(f);
    std::free(table);
}

void test_random_table(long n, const char* file)
{
    const long draws = 1966050;
    if (!file || n < 1 || n > max_tool_entries) {
        return;
    }
    long* counts = static_cast<long*>(std::calloc(static_cast<std::size_t>(n), sizeof(long)));
    if (!counts) {
        return;
    }
    for (long i = 0; i < draws; ++i) {
        ++counts[get_random_number(n)];
    }
    long min_value = -1, max_value = -1, unreturned = 0;
    for (long v = 0; v < n; ++v) {
        if (counts[v] == 0) {
            ++unreturned;
            continue;
        }
        if (min_value < 0 || counts[v] < counts[min_value]) {
            min_value = v;
        }
        if (max_value < 0 || counts[v] >= counts[max_value]) {
            max_value = v;
        }
    }
    std::FILE* f = std::fopen(file, "a+");
    if (f) {
        std::fprintf(
            f,
            "\nRandom report for %ld (%ld numbers)\nMIN - %ld was retured %ld times\nMAX - %ld was retured %ld "
            "times\nAverage times each number retuned %ld\nUnreturned values %ld\n",
            n, draws, min_value, counts[min_value], max_value, counts[max_value], draws / n, unreturned);
        std::fclose(f);
    }
    std::free(counts);
}
