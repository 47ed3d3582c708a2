// The name database: the six tables, the name rule, the race names and the
// initial names from the definition.
#include "database.h"

#include "kivo_app_settings.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <tuple>

// The page tool manager reports the application's name through this.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

std::string generate(short race, const std::string& first, const std::string& second)
{
    DATABASE d;
    d.race = race;
    d.first_name = first.c_str();
    d.second_name = second.c_str();
    return d.generate_name().buffer;
}

TEST(Database, TablesKeepTheirRowsInOrder)
{
    struct Table
    {
        const char* const* rows;
        std::size_t count, expected;
    };
    const Table tables[] = {
        {dwarf_first_names, std::size(dwarf_first_names), 41}, {dwarf_second_names, std::size(dwarf_second_names), 43},
        {elf_first_names, std::size(elf_first_names), 80},     {elf_second_names, std::size(elf_second_names), 36},
        {orc_first_names, std::size(orc_first_names), 121},    {orc_second_names, std::size(orc_second_names), 47},
    };
    for (const Table& t : tables) {
        ASSERT_EQ(t.count, t.expected);
        // A capital, then lower case only, strictly ascending.
        for (std::size_t i = 0; i < t.count; i++) {
            const char* w = t.rows[i];
            EXPECT_TRUE(w[0] >= 'A' && w[0] <= 'Z' && w[1] != '\0') << w;
            EXPECT_EQ(std::strspn(w + 1, "abcdefghijklmnopqrstuvwxyz"), std::strlen(w + 1)) << w;
            EXPECT_TRUE(i == 0 || std::strcmp(t.rows[i - 1], w) < 0) << w;
        }
    }
}

TEST(Database, NamesFollowTheChecksumRule)
{
    const std::string jo_ann = "Jo Ann";                           // a space adds 32: 566
    const std::string past_15_bits = std::string(259, '~') + "a%"; // 259 * 126 + 97 + 37 = 0x8000
    const std::tuple<short, std::string, std::string, std::string> cases[] = {
        {0, "", "", "Artur Anvil"},
        {0, "Ben", "Ray", "Hammer Quarry"},
        {0, "BEN", "rAY", "Hammer Quarry"},
        {0, "Ben\t", "R\na\x80y\xff", "Hammer Quarry"}, // control bytes and bytes above 127 add nothing
        {1, "Ray", "Ben", "Birch Petalblossom"},
        {2, "Tim", "Ray", "Retch Blood"},
        {7, "Tim", "Ray", "Retch Blood"},
        {-1, "Tim", "Ray", "Retch Blood"},
        {0, jo_ann, jo_ann, std::string(dwarf_first_names[566 % 41]) + " " + dwarf_second_names[566 % 43]},
        // Sign-extended and read unsigned: 4294934528 % 41 = 28, not 32768 % 41 = 9.
        {0, past_15_bits, "", std::string(dwarf_first_names[28]) + " Anvil"},
    };
    for (const auto& [race, first, second, name] : cases) {
        EXPECT_EQ(generate(race, first, second), name) << race << " " << first << " " << second;
    }
    const std::pair<short, const char*> races[] = {{0, "Dwarf"}, {1, "Elf"}, {2, "Orc"}, {-1, "Orc"}};
    for (const auto& [race, name] : races) {
        EXPECT_STREQ(DATABASE::get_race_name(race).buffer, name);
    }
}

TEST(Database, LoadTakesOnlyTextConstants)
{
    WM_PAGE_TOOL_MANAGER ptm;
    ptm.alloc_constants(2);
    ptm.constants[0]->set_name("initial second name");
    ptm.constants[0]->value.reset_to_type(4);
    ptm.constants[0]->value.set(ptm.constants[0]->value.value, 12L);
    ptm.constants[1]->set_name("initial first name");
    ptm.constants[1]->value.set(ptm.constants[1]->value.value, "Ben");
    ptm.sort_constants();
    DATABASE d;
    d.second_name = "Old";
    d.race = 2;
    d.load();
    EXPECT_STREQ(d.first_name.get_string(0), "Ben");
    EXPECT_STREQ(d.second_name.get_string(0), "");
    EXPECT_EQ(d.race, 0);
    EXPECT_EQ(d.race_count, 3);
}

} // namespace
