#include "llist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

int val(const void* p)
{
    return *static_cast<const int*>(p);
}

// Walks a list of int payloads with its own iterator.
std::vector<int> walk(LLIST& list, bool backwards = false)
{
    std::vector<int> out;
    list.iterator = backwards ? list.tail : list.head;
    while (void* p = backwards ? list.get_info_dec() : list.get_info_inc()) {
        out.push_back(val(p));
    }
    return out;
}

void add_int(LLIST& list, int v)
{
    ASSERT_TRUE(list.add_node(&v, sizeof v));
}

std::vector<int> seen;
std::vector<void*> seen_ptrs;

} // namespace

TEST(LList, InsertionFollowsTheIterator)
{
    LLIST list;
    LISTNODE stray(nullptr, 0);
    list.iterator = &stray; // an empty list ignores the iterator
    add_int(list, 2);
    EXPECT_TRUE(list.head == list.tail && !stray.next && !stray.prev);
    list.iterator = nullptr;
    add_int(list, 4); // appended
    list.iterator = list.head;
    add_int(list, 1); // before the head: the new head
    list.iterator = list.tail;
    add_int(list, 3); // before the tail; the iterator stays put
    EXPECT_EQ(val(list.iterator->data), 4);
    EXPECT_EQ(walk(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(walk(list, true), (std::vector<int>{4, 3, 2, 1}));
    EXPECT_TRUE(list.get_info_inc() == nullptr && list.iterator == nullptr); // past the end it stays null

    // Payloads are private copies; node_out reports the node read.
    int v = 9;
    ASSERT_TRUE(list.add_node(&v, sizeof v));
    list.iterator = list.tail;
    v = 10;
    LISTNODE* node = nullptr;
    void* p = list.get_info_inc(&node);
    EXPECT_TRUE(node == list.tail && p == node->data && val(p) == 9);

    EXPECT_FALSE(list.add_node(&v, -1) || list.add_node(nullptr, 4));
    ASSERT_TRUE(list.add_node(nullptr, 0)); // still has an address: cannot end a walk early
    int n = 0;
    for (list.iterator = list.head; list.get_info_inc();) {
        ++n;
    }
    EXPECT_TRUE(n == 6 && list.count == 6);
}

TEST(LList, RemovalDuringWalksAndCallbacks)
{
    seen.clear();
    {
        LLIST list;
        list.remove_callback = [](void* p) { seen.push_back(val(p)); };
        for (int i = 1; i <= 5; ++i) {
            add_int(list, i);
        }
        // Removing what get_info_inc just returned is safe: the walk goes on.
        std::vector<int> visited;
        list.iterator = list.head;
        while (void* p = list.get_info_inc()) {
            visited.push_back(val(p));
            if (val(p) % 2 == 0) {
                EXPECT_TRUE(list.remove_node(p));
            }
        }
        EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(walk(list), (std::vector<int>{1, 3, 5}));
        // Removing the iterator's node ends the walk.
        list.iterator = list.head->next;
        EXPECT_TRUE(list.remove_node_ref(list.iterator) && list.iterator == nullptr);
        int one = 1;
        EXPECT_FALSE(list.remove_node(&one)); // an equal value is not the copy
        EXPECT_TRUE(list.remove_node_ref(list.tail));
        EXPECT_TRUE(list.head == list.tail && !list.head->next && !list.head->prev);
        add_int(list, 7);
        list.clear();
        EXPECT_TRUE(list.count == 0 && !list.head && !list.tail && list.remove_callback);
        EXPECT_EQ(seen, (std::vector<int>{2, 4, 3, 5, 1, 7}));
        add_int(list, 6);
    }
    EXPECT_EQ(seen.back(), 6); // the destructor empties the list too
}

TEST(PtrLList, StoresWholePointersAndHandsThemToTheCallback)
{
    void* high = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0x7EDCBA9876543210ull & UINTPTR_MAX));
    int a = 0, b = 0;
    seen_ptrs.clear();
    {
        PTRLLIST list;
        list.remove_callback = [](void* p) { seen_ptrs.push_back(p); };
        for (void* p : {high, static_cast<void*>(&a), static_cast<void*>(&b), static_cast<void*>(&a)}) {
            list.add_node(p);
        }
        list.iterator = list.tail;
        EXPECT_TRUE(list.get_info_dec() == &a && list.get_info_dec() == &b);
        EXPECT_TRUE(list.remove_node(&a)); // only the first of the two
        EXPECT_FALSE(list.remove_node(&list));
        list.iterator = list.head;
        for (void* want : {high, static_cast<void*>(&b), static_cast<void*>(&a), static_cast<void*>(nullptr)}) {
            EXPECT_EQ(list.get_info_inc(), want);
        }
    }
    // The destructor passes the stored pointers, not the copies' addresses.
    EXPECT_EQ(seen_ptrs, (std::vector<void*>{&a, high, &b, &a}));

    // An owning list whose callback deletes what it gets, used through the
    // base class (ASan checks the deletes).
    LLIST* owner = new PTRLLIST;
    owner->remove_callback = [](void* p) { delete static_cast<int*>(p); };
    for (int i = 0; i < 3; ++i) {
        static_cast<PTRLLIST*>(owner)->add_node(new int(i));
    }
    owner->remove_node_ref(owner->head);
    delete owner;
}
