// The names the page generator gives the program's messages: what it
// refuses, and the header the pages are compiled against.
#include "pages_names.h"

#include "sandbox.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct WORD
{
    const char* text;
    bool creation;
};

TEST(PagesNames, RefusesAMessageThePagesCouldNotBeWrittenAgainst)
{
    const struct
    {
        const char* what;
        std::vector<WORD> before; // accepted first, on one page
        WORD refused;
        const char* why;
    } rows[] = {
        {"a bare number", {}, {"5", false}, "needs a name: NAME=5"},
        {"a lower-case name", {}, {"show=1", false}, "not capitals"},
        {"a name from a digit", {}, {"1ST=1", true}, "not capitals"},
        {"no name", {}, {"=1", false}, "not capitals"},
        {"a name for none", {}, {"NONE=0", false}, "from 1"},
        {"a sign", {}, {"A=+1", false}, "from 1"},
        {"a negative number", {}, {"A=-1", false}, "from 1"},
        {"more than 31 bits", {}, {"A=0x80000000", false}, "from 1"},
        {"more than the word holds", {}, {"A=99999999999999999999", false}, "from 1"},
        {"junk after the number", {}, {"A=1x", false}, "from 1"},
        {"no number", {}, {"A=", true}, "from 1"},
        {"a name for two numbers", {{"A=1", false}}, {"A=2", false}, "A is already an action 1"},
        {"an action named as a creation", {{"A=1", false}}, {"A=1", true}, "A is already an action 1"},
        {"two names for a number", {{"A=3", true}}, {"B=3", true}, "3 is already a creation of this page, named A"},
        {"a number both action and creation", {{"A=1", false}}, {"B=1", true}, "named A"},
    };
    for (const auto& r : rows) {
        PAGE_MESSAGE_NAMES names;
        ASSERT_EQ(names.start_page("Settings"), "");
        INT_U32 n = 0;
        for (const WORD& w : r.before) {
            ASSERT_EQ(names.add(w.text, w.creation, n), "") << r.what;
        }
        n = 77;
        EXPECT_NE(names.add(r.refused.text, r.refused.creation, n).find(r.why), std::string::npos) << r.what;
        EXPECT_EQ(n, 0u) << r.what;
    }

    PAGE_MESSAGE_NAMES names;
    INT_U32 n = 0;
    EXPECT_EQ(names.add("A=1", false, n), "a message needs a page before it");
    EXPECT_EQ(names.add("0", false, n), "") << "none needs no page";
    for (const char* page : {"", "2nd", "--"}) {
        EXPECT_NE(names.start_page(page), "") << page;
    }
    ASSERT_EQ(names.start_page("Main Menu"), "");
    EXPECT_NE(names.start_page("main-menu").find("main_menu_messages"), std::string::npos);
}

TEST(PagesNames, TheHeaderGivesEachPageItsOwnNamesInNumberOrder)
{
    PAGE_MESSAGE_NAMES names;
    INT_U32 n = 0;
    ASSERT_EQ(names.start_page("Settings"), "");
    const struct
    {
        WORD word;
        INT_U32 number;
    } settings[] = {
        {{"SHOW=0x10", false}, 16}, {{"OK_BUTTON=2", true}, 2}, {{"0", true}, 0},
        {{"PICK=3", false}, 3},     {{"PICK=3", false}, 3}, // two widgets, one action
    };
    for (const auto& s : settings) {
        ASSERT_EQ(names.add(s.word.text, s.word.creation, n), "") << s.word.text;
        EXPECT_EQ(n, s.number) << s.word.text;
    }
    // Numbers and names are the page's own: another page may reuse them.
    ASSERT_EQ(names.start_page("The Result"), "");
    ASSERT_EQ(names.add("SHOW=2", true, n), "");
    ASSERT_EQ(names.add("BACK=3", false, n), "");

    const std::string h = names.header();
    const char* in_order[] = {"namespace settings_messages {",
                              "enum ACTION : INT_U32\n{\n    PICK = 3,\n    SHOW = 16,\n};",
                              "enum CREATION : INT_U32\n{\n    OK_BUTTON = 2,\n};",
                              "} // namespace settings_messages",
                              "namespace the_result_messages {",
                              "enum ACTION : INT_U32\n{\n    BACK = 3,\n};",
                              "enum CREATION : INT_U32\n{\n    SHOW = 2,\n};",
                              "#endif"};
    size_t at = 0;
    for (const char* part : in_order) {
        const size_t found = h.find(part, at);
        ASSERT_NE(found, std::string::npos) << part << "\nin\n" << h;
        at = found + 1;
    }
}

TEST(PagesNames, TheHeaderIsReplacedWholeAndOnlyWhenItChanges)
{
    const std::string dir = kivo_test::make_temp_dir("names");
    const std::string path = dir + "/page_messages.h";
    ASSERT_TRUE(write_file_if_changed(path, "one\n"));
    EXPECT_EQ(kivo_test::read_file(path), "one\n");
    EXPECT_TRUE(write_file_if_changed(path, "one\n"));
    ASSERT_TRUE(write_file_if_changed(path, "two\n"));
    EXPECT_EQ(kivo_test::read_file(path), "two\n");
    EXPECT_FALSE(write_file_if_changed(dir + "/missing/page_messages.h", "one\n"));
    EXPECT_EQ(kivo_test::read_file(path + ".part"), "");
    kivo_test::remove_tree(dir);
}

} // namespace
