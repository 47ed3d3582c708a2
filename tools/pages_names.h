// The names of the program's messages. A widget line of the layout gives
// its action and creation numbers as NAME=number; pages.bin keeps only the
// numbers, and the names go into a header the program is compiled against,
// one namespace per page, so the pages' code is written against names.
#ifndef TOLLBECK_PAGES_NAMES_H
#define TOLLBECK_PAGES_NAMES_H

#include "kivo_types.h"

#include <string>
#include <vector>

class PAGE_MESSAGE_NAMES
{
public:
    // Starts the messages of the page called page_name, whose namespace is
    // the name in lower case, each run of other characters as '_', and
    // "_messages" after it. Empty, or why the page cannot have one.
    std::string start_page(const std::string& page_name);

    // Reads an action (creation false) or creation column of a widget line
    // of the page last started: "0" for none, else NAME=number, NAME of
    // capitals, digits and '_' from a capital, number from 1 to 0x7FFFFFFF
    // (decimal, or hex after 0x). A name stands for one number and a number
    // has one name; a number is an action or a creation of its page, never
    // both, or the page could not tell them apart. Empty and number set,
    // or why the word is refused.
    std::string add(const std::string& word, bool creation, INT_U32& number);

    // The header: every page's actions and creations as two enums in its
    // namespace, in the order of their numbers.
    std::string header() const;

private:
    struct NAME
    {
        std::string name;
        INT_U32 number;
        bool creation;
    };
    struct PAGE
    {
        std::string page_name, space;
        std::vector<NAME> names;
    };
    std::vector<PAGE> pages;
};

// Replaces path with text once it is written whole, and leaves it alone
// when it already holds text, so that what includes it is not rebuilt for
// nothing. False when it could not be written.
bool write_file_if_changed(const std::string& path, const std::string& text);

#endif
