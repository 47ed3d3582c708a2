#include "file_system.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

int disposed_a = 0, disposed_b = 0;
void dispose_a(void*)
{
    ++disposed_a;
}
void dispose_b(void*)
{
    ++disposed_b;
}
char items[] = "abcdefgh";

// The list's data as letters, walked with the iterator.
std::string letters(const LINKED_LIST& list)
{
    std::string s;
    LINKED_LIST_NODE* it = nullptr;
    for (InitIterator(&list, &it); it; Next(&it)) {
        s += *static_cast<char*>(GetData(it));
    }
    return s;
}

void fill(LINKED_LIST& list, LINKED_LIST_DISPOSE_PROC dispose, const std::string& from)
{
    ASSERT_EQ(InitLinkedList(&list, dispose), FS_OK);
    for (char c : from) {
        ASSERT_EQ(AddToTail(&list, &items[c - 'a']), FS_OK);
    }
}

TEST(FileSystemList, InsertListPlacesTheNodesAndEmptiesTheSource)
{
    // after: the index of the destination's node, -1 for none.
    const struct
    {
        const char* dest;
        int after;
        const char* result;
    } cases[] = {{"abc", -1, "ghabc"}, {"abc", 0, "aghbc"}, {"abc", 2, "abcgh"}, {"", -1, "gh"}};
    for (const auto& c : cases) {
        LINKED_LIST dest, src;
        fill(dest, dispose_a, c.dest);
        fill(src, dispose_a, "gh");
        LINKED_LIST_NODE* after = c.after < 0 ? nullptr : dest.head;
        for (int i = 0; i < c.after; ++i) {
            after = after->next;
        }
        InsertList(&dest, &src, after);
        const std::string want = c.result;
        EXPECT_EQ(letters(dest), want);
        EXPECT_EQ(GetNumberOfItems(&dest), want.size());
        EXPECT_TRUE(!src.head && !src.tail && src.count == 0 && !src.dispose);
        ASSERT_EQ(AddToTail(&dest, &items[4]), FS_OK); // the tail moved too
        EXPECT_EQ(letters(dest), want + "e");
        disposed_a = 0;
        DestroyList(&dest);
        EXPECT_EQ(disposed_a, static_cast<int>(want.size()) + 1);
        EXPECT_TRUE(!dest.head && dest.count == 0 && !dest.dispose);
    }
}

TEST(FileSystemList, RefusalsAndBadArgumentsChangeNothing)
{
    LINKED_LIST dest, src, other, empty;
    fill(dest, dispose_a, "ab");
    fill(src, dispose_b, "cd");
    fill(other, dispose_a, "e");
    fill(empty, dispose_a, "");
    InsertList(&dest, &src, nullptr);    // different callbacks
    InsertList(&dest, &empty, nullptr);  // nothing to insert
    InsertList(&dest, &other, src.head); // a node of another list
    InsertList(&dest, &dest, dest.head); // into itself
    InsertList(nullptr, &other, nullptr);
    EXPECT_EQ(letters(dest) + letters(src) + letters(other), "abcde");
    EXPECT_TRUE(src.dispose == dispose_b && other.dispose == dispose_a);
    EXPECT_EQ(AddToTail(&dest, nullptr), FS_BAD_ARGUMENT);
    EXPECT_EQ(AddToTail(nullptr, items), FS_BAD_ARGUMENT);
    EXPECT_EQ(InitLinkedList(nullptr, nullptr), FS_BAD_ARGUMENT);
    EXPECT_EQ(GetNumberOfItems(nullptr), 0u);
    EXPECT_EQ(GetData(nullptr), nullptr);
    disposed_a = disposed_b = 0;
    for (LINKED_LIST* l : {&dest, &src, &other}) {
        DestroyList(l);
    }
    EXPECT_EQ(disposed_a * 10 + disposed_b, 32);

    // The stock callback frees malloc blocks (leak checking sees the rest).
    LINKED_LIST blocks;
    ASSERT_EQ(InitLinkedList(&blocks, MyDisposeDataProc), FS_OK);
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(AddToTail(&blocks, std::malloc(16)), FS_OK);
    }
    DestroyList(&blocks);
}

} // namespace
