#ifndef KIVO_RANDOM_SESSION_H
#define KIVO_RANDOM_SESSION_H

// The system's pseudo-random source: an MT19937 generator whose whole
// position is saved and restored as one 32-bit "random index" (seed in the
// high 22 bits, position in the state in the low 10 bits), so a run of
// random choices can be reproduced later.
#include "kivo_types.h"

class RANDOM_SESSION
{
public:
    // Seeded from the current time (seconds << 10), positioned at word 0.
    RANDOM_SESSION();

    // Restores a position: seed = v without its low 10 bits, position =
    // v & 0x3FF (623 when that is 624 or more).
    void set_random_index(INT_U32 v);
    // The index that continues this sequence exactly.
    INT_U32 get_random_index() const;

    // An integer in [low, high); 0 without drawing when low >= high.
    long get_random_number(long low, long high);
    // A value in [0, scale).
    double get_random_double(double scale);

    static constexpr int state_size = 624;

private:
    void initialise(INT_U32 s);
    void generate();
    INT_U32 draw();            // one 31-bit value
    INT_U32 next_seed() const; // the seed a used-up state re-seeds to

    INT_S32 index; // next state word, counting down; negative = used up
    INT_U32 seed;  // low 10 bits always 0
    INT_U32 mt[state_size];
};

// The one shared session (built on first use).
RANDOM_SESSION& global_session();

// Free functions on the shared session.
long get_random_number(long n); // [0, n); 0 without drawing when n < 1
long get_random_number(long low, long high);
double get_random_double(double scale);
double get_random_double(double low, double high); // [low, high)
INT_U32 get_random_index();
void set_random_index(INT_U32 v);

// Developer tools: write a shuffled lookup table as a C++ header, and a
// frequency report of get_random_number(n) appended to a text file.
void create_random_table(long max_num, long repeats, long shuffles, const char* file);
void test_random_table(long n, const char* file);

#endif
