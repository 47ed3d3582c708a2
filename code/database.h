#ifndef TOLLBECK_DATABASE_H
#define TOLLBECK_DATABASE_H

// DATABASE: the program's model - the two names typed, the race chosen, and
// the rule that turns them into a fantasy name - with its six name tables.
#include "kivo_string.h"
#include "kivo_types.h"

class DATABASE
{
public:
    KIVO_STRING first_name;
    KIVO_STRING second_name;
    INT_S16 race;       // 0 dwarf, 1 elf, any other value orc
    INT_S16 race_count; // races offered by the race controls; 3 after load

    // Only the names are made (empty); load sets the race and the count.
    DATABASE();

    // The names from the string constants "initial first name" and "initial
    // second name" of the loaded page definition (empty when a constant is
    // missing or not text); race 0, race_count 3.
    void load();

    // "Dwarf" for 0, "Elf" for 1, "Orc" for any other value. One shared
    // string that the next call overwrites.
    static KIVO_STRING& get_race_name(short race);

    // The first-name row, a space and the second-name row of the race's
    // tables. One shared string that the next call overwrites.
    KIVO_STRING& generate_name();
};

// The program's one database, defined by its start-up file.
extern DATABASE db;

// Alphabetical; the row counts are the divisors of the name rule.
extern const char* const dwarf_first_names[41];
extern const char* const dwarf_second_names[43];
extern const char* const elf_first_names[80];
extern const char* const elf_second_names[36];
extern const char* const orc_first_names[121];
extern const char* const orc_second_names[47];

#endif
