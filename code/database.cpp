// The name database: the initial names from the page definition, the race
// names, the checksum rule that picks a row of each name table, and the
// six tables.
#include "database.h"

#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"

#include <cstddef>

namespace {

// Parameter type of an owned text.
constexpr PARAM_TYPE text_parameter = 8;

// The text of a string constant of the loaded definition, else null.
const char* constant_text(const char* name)
{
    WM_PAGE_TOOL_MANAGER* manager = WM_PAGE_TOOL_MANAGER::me;
    WM_PTM_CONSTANT_INFO* constant = manager != nullptr ? manager->find_constant(name) : nullptr;
    if (constant == nullptr || constant->value.type != text_parameter) {
        return nullptr;
    }
    return constant->value.value.text;
}

void copy_or_clear(KIVO_STRING& s, const char* text)
{
    if (text != nullptr && text[0] != '\0') {
        s = text;
    } else {
        s.clear();
    }
}

// Wrapping 16-bit sum of the printable ASCII bytes (32 to 126), A to Z
// counted as a to z; every other byte adds nothing. The bytes are tested as
// unsigned values: the classification functions are undefined for the
// negative values a plain char gives above 127.
INT_S16 checksum(const KIVO_STRING& s)
{
    INT_U16 sum = 0;
    for (const char* p = s.buffer; p != nullptr && *p != '\0'; ++p) {
        unsigned c = static_cast<unsigned char>(*p);
        if (c < 32 || c > 126) {
            continue;
        }
        if (c >= 'A' && c <= 'Z') {
            c += 'a' - 'A';
        }
        sum = static_cast<INT_U16>(sum + c);
    }
    return static_cast<INT_S16>(sum);
}

// The checksum sign-extended to 32 bits and read as unsigned: a pattern of
// 0x8000 or more picks the row of 4294967296 + checksum.
template <std::size_t N> const char* row(const char* const (&table)[N], INT_S16 sum)
{
    INT_U32 wide = static_cast<INT_U32>(static_cast<INT_S32>(sum));
    return table[wide % N];
}

} // namespace

DATABASE::DATABASE() : race(0), race_count(0) {}

void DATABASE::load()
{
    copy_or_clear(first_name, constant_text("initial first name"));
    copy_or_clear(second_name, constant_text("initial second name"));
    race = 0;
    race_count = 3;
}

KIVO_STRING& DATABASE::get_race_name(short race)
{
    static KIVO_STRING name;
    name = race == 0 ? "Dwarf" : race == 1 ? "Elf" : "Orc";
    return name;
}

KIVO_STRING& DATABASE::generate_name()
{
    static KIVO_STRING name;
    INT_S16 first = checksum(first_name);
    INT_S16 second = checksum(second_name);
    if (race == 0) {
        name = row(dwarf_first_names, first);
        name += " ";
        name += row(dwarf_second_names, second);
    } else if (race == 1) {
        name = row(elf_first_names, first);
        name += " ";
        name += row(elf_second_names, second);
    } else {
        name = row(orc_first_names, first);
        name += " ";
        name += row(orc_second_names, second);
    }
    return name;
}

const char* const dwarf_first_names[41] = {
    "Artur",   "Axebreaker", "Balder",  "Barrek",  "Beardrun", "Bolvar",  "Borrin",  "Brokk",  "Bruni",
    "Dagna",   "Dolgrim",    "Durgan",  "Eitri",   "Farlan",   "Flint",   "Forgrim", "Galdur", "Gorm",
    "Grundar", "Gunnar",     "Haldor",  "Halvard", "Hammer",   "Hargrim", "Helmgar", "Hrolf",  "Ironfist",
    "Jorund",  "Kaldur",     "Korrin",  "Lodur",   "Magni",    "Mordrek", "Nordri",  "Orvik",  "Rothgar",
    "Skeggi",  "Stonebrow",  "Thurgar", "Ulfar",   "Vondal"};

const char* const dwarf_second_names[43] = {
    "Anvil",        "Ashbeard",    "Axehand",      "Bellows",    "Blackrock",  "Boulder",   "Bronzeback", "Cinder",
    "Coalbrow",     "Copperhelm",  "Deepdelve",    "Emberforge", "Flintheart", "Forgeborn", "Goldvein",   "Granite",
    "Greybeard",    "Hearthstone", "Helmsplitter", "Ironbelly",  "Ironside",   "Keldrock",  "Lodestone",  "Mallet",
    "Marblehand",   "Nailbiter",   "Oreheart",     "Pickaxe",    "Pitdelver",  "Plumbline", "Pyrite",     "Quarry",
    "Rockjaw",      "Runeseeker",  "Shalebreaker", "Slagheap",   "Smelter",    "Steelgrip", "Stonefoot",  "Tinderbox",
    "Tunnelwright", "Whetstone",   "Zincbeard"};

const char* const elf_first_names[80] = {
    "Acorn",       "Alder",    "Amber",    "Aspen",    "Aster",   "Autumn",   "Azure",    "Beech",    "Bellflower",
    "Berry",       "Bilberry", "Bindweed", "Birch",    "Blossom", "Bluebell", "Bramble",  "Brook",    "Buttercup",
    "Cedar",       "Cloud",    "Clover",   "Dawn",     "Dew",     "Elder",    "Elm",      "Fern",     "Firefly",
    "Flax",        "Flower",   "Forest",   "Foxglove", "Glade",   "Glimmer",  "Hawthorn", "Hazel",    "Heather",
    "Holly",       "Honey",    "Ivy",      "Jasmine",  "Juniper", "Lark",     "Laurel",   "Lavender", "Leaf",
    "Lily",        "Linden",   "Lotus",    "Maple",    "Meadow",  "Mist",     "Moon",     "Moss",     "Nettle",
    "Nightingale", "Oak",      "Olive",    "Orchid",   "Pine",    "Poppy",    "Rain",     "Raven",    "Reed",
    "River",       "Rose",     "Rowan",    "Sage",     "Silver",  "Sky",      "Sorrel",   "Spring",   "Star",
    "Summer",      "Sunrise",  "Swan",     "Thistle",  "Tulip",   "Violet",   "Willow",   "Wren"};

const char* const elf_second_names[36] = {
    "Amberleaf",   "Brightwater",  "Dawnstrider",  "Dewmantle",    "Fairwind",    "Fleetfoot",
    "Gladewalker", "Glimmerbrook", "Goodspeed",    "Greenbough",   "Highbranch",  "Leafsong",
    "Lightfoot",   "Meadowsweet",  "Moonbrook",    "Mossbank",     "Nightbreeze", "Oakenshade",
    "Palebrook",   "Pearlwater",   "Pebblestream", "Petalblossom", "Rainsong",    "Riverwind",
    "Rosethorn",   "Silverleaf",   "Skydancer",    "Songbird",     "Starbloom",   "Summerdew",
    "Sunglade",    "Swiftbrook",   "Thornwhisper", "Twilight",     "Willowmere",  "Windrunner"};

const char* const orc_first_names[121] = {
    "Agga",       "Ashnak", "Azgut",     "Badgut",   "Bagrot", "Barf",      "Belch", "Bilegut", "Blackfang", "Blister",
    "Bloat",      "Bogrot", "Bonecrack", "Brakk",    "Brute",  "Bugbreath", "Bulk",  "Burp",    "Claw",      "Clot",
    "Crud",       "Crunch", "Dagga",     "Dirtnose", "Dreg",   "Drool",     "Dung",  "Fang",    "Filth",     "Flay",
    "Foulbreath", "Gash",   "Ghash",     "Gnash",    "Gob",    "Gore",      "Gouge", "Grime",   "Gristle",   "Grub",
    "Grunt",      "Gullet", "Gunk",      "Gut",      "Hack",   "Hog",       "Hork",  "Howl",    "Hulk",      "Hurl",
    "Ichor",      "Jab",    "Jaw",       "Kark",     "Klob",   "Knuckle",   "Krusk", "Lard",    "Lash",      "Leech",
    "Lug",        "Lurk",   "Maggot",    "Mangle",   "Maw",    "Mire",      "Muck",  "Mud",     "Mugg",      "Murk",
    "Nag",        "Nark",   "Nub",       "Ogg",      "Ooze",   "Pox",       "Pus",   "Rage",    "Rak",       "Rankle",
    "Rash",       "Rat",    "Ratgut",    "Ravage",   "Razor",  "Reaver",    "Reek",  "Rend",    "Retch",     "Rip",
    "Rot",        "Rotgut", "Runt",      "Rust",     "Scab",   "Scar",      "Skull", "Slime",   "Snot",      "Spew",
    "Spike",      "Spit",   "Splat",     "Squelch",  "Stab",   "Stench",    "Stink", "Stomp",   "Stump",     "Swill",
    "Thud",       "Tusk",   "Ugg",       "Urk",      "Vile",   "Vomit",     "Wart",  "Welt",    "Wretch",    "Yob",
    "Zog"};

const char* const orc_second_names[47] = {
    "Axe",     "Bane",    "Bile",    "Blood",  "Bludgeon", "Bone",      "Brawl", "Butcher", "Cleaver", "Club",
    "Crusher", "Dagger",  "Dread",   "Fist",   "Flail",    "Gibbet",    "Gnaw",  "Gouger",  "Grinder", "Gutter",
    "Hatchet", "Hide",    "Hook",    "Horn",   "Jawbone",  "Knife",     "Lance", "Mace",    "Mauler",  "Pike",
    "Pillage", "Rack",    "Ravager", "Ripper", "Ruin",     "Scourge",   "Shank", "Skewer",  "Slasher", "Spear",
    "Spleen",  "Stabber", "Storm",   "Talon",  "Tooth",    "Warhammer", "Whip"};
