#include "llist.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

int val(const void* p)
{
    int v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Walks a list of int payloads forwards (or backwards) with its iterator.
std::vector<int> walk(LLIST& list, bool backwards = false)
{
    std::vector<int> out;
    list.iterator = backwards ? list.tail : list.head;
    while (void* p = backwards ? list.get_info_dec() : list.get_info_inc())
        out.push_back(val(p));
    return out;
}

void add_int(LLIST& list, int v) { ASSERT_TRUE(list.add_node(&v, sizeof v)); }

std::vector<int> seen;
void record_int(void* p) { seen.push_back(val(p)); }
std::vector<void*> seen_ptrs;
void record_ptr(void* p) { seen_ptrs.push_back(p); }
void delete_int(void* p) { delete static_cast<int*>(p); }

} // namespace

TEST(LList, InsertionFollowsTheIterator)
{
    LLIST list;
    EXPECT_EQ(list.count, 0);
    EXPECT_EQ(list.head, nullptr);

    // An empty list ignores a stray iterator.
    LISTNODE stray(nullptr, 0);
    list.iterator = &stray;
    add_int(list, 2);
    EXPECT_EQ(list.head, list.tail);
    EXPECT_EQ(stray.next, nullptr);
    EXPECT_EQ(stray.prev, nullptr);

    list.iterator = nullptr;
    add_int(list, 4); // appended
    list.iterator = list.head;
    add_int(list, 1); // before the head: new head
    EXPECT_EQ(val(list.head->data), 1);
    list.iterator = list.tail;
    add_int(list, 3); // before the tail
    EXPECT_EQ(val(list.iterator->data), 4); // iterator did not move
    EXPECT_EQ(list.count, 4);
    EXPECT_EQ(walk(list), (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(walk(list, true), (std::vector<int>{4, 3, 2, 1}));

    // Past the end: null, and the iterator stays null.
    EXPECT_EQ(list.iterator, nullptr);
    EXPECT_EQ(list.get_info_inc(), nullptr);
    EXPECT_EQ(list.iterator, nullptr);

    // Payloads are private copies; node_out reports the node read.
    int v = 9;
    list.iterator = nullptr;
    ASSERT_TRUE(list.add_node(&v, sizeof v));
    v = 10;
    list.iterator = list.tail;
    LISTNODE* node = nullptr;
    void* p = list.get_info_inc(&node);
    EXPECT_EQ(node, list.tail);
    EXPECT_EQ(p, static_cast<void*>(node->data));
    EXPECT_EQ(val(p), 9);

    // Bad payloads are refused and change nothing.
    EXPECT_FALSE(list.add_node(&v, -1));
    EXPECT_FALSE(list.add_node(nullptr, 4));
    EXPECT_EQ(list.count, 5);
    // An empty payload still has its own address, so it cannot end a walk.
    ASSERT_TRUE(list.add_node(nullptr, 0));
    list.iterator = list.head;
    int n = 0;
    while (list.get_info_inc())
        ++n;
    EXPECT_EQ(n, 6);
}

TEST(LList, RemovalDuringWalksAndCallbacks)
{
    seen.clear();
    {
        LLIST list;
        list.remove_callback = record_int;
        for (int i = 1; i <= 5; ++i)
            add_int(list, i);

        // Removing what get_info_inc just returned is safe: the walk goes on.
        std::vector<int> visited;
        list.iterator = list.head;
        while (void* p = list.get_info_inc()) {
            int v = val(p);
            visited.push_back(v);
            if (v % 2 == 0) {
                EXPECT_TRUE(list.remove_node(p));
            }
        }
        EXPECT_EQ(visited, (std::vector<int>{1, 2, 3, 4, 5}));
        EXPECT_EQ(seen, (std::vector<int>{2, 4}));
        EXPECT_EQ(walk(list), (std::vector<int>{1, 3, 5}));

        // Removing the iterator's node ends the walk.
        list.iterator = list.head->next;
        EXPECT_TRUE(list.remove_node_ref(list.iterator));
        EXPECT_EQ(list.iterator, nullptr);
        EXPECT_EQ(walk(list), (std::vector<int>{1, 5}));

        int other = 1;
        EXPECT_FALSE(list.remove_node(&other)); // equal value, not the copy's address
        EXPECT_FALSE(list.remove_node_ref(nullptr));

        // Head and tail stay right as the ends go.
        EXPECT_TRUE(list.remove_node_ref(list.tail));
        EXPECT_EQ(list.head, list.tail);
        EXPECT_EQ(list.head->next, nullptr);
        EXPECT_EQ(list.head->prev, nullptr);
        add_int(list, 7);
        add_int(list, 8);
        list.clear();
        EXPECT_EQ(list.count, 0);
        EXPECT_EQ(list.head, nullptr);
        EXPECT_EQ(list.tail, nullptr);
        EXPECT_EQ(list.remove_callback, record_int); // kept
        EXPECT_EQ(seen, (std::vector<int>{2, 4, 3, 5, 1, 7, 8}));
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
        list.remove_callback = record_ptr;
        list.add_node(high);
        list.add_node(&a);
        list.add_node(&b);
        list.add_node(&a);
        list.iterator = list.head;
        EXPECT_EQ(list.get_info_inc(), high);
        list.iterator = list.tail;
        EXPECT_EQ(list.get_info_dec(), &a);
        EXPECT_EQ(list.get_info_dec(), &b);

        // Only the first of two equal pointers goes.
        EXPECT_TRUE(list.remove_node(&a));
        EXPECT_EQ(seen_ptrs, std::vector<void*>{&a});
        list.iterator = list.head;
        std::vector<void*> rest;
        while (void* p = list.get_info_inc())
            rest.push_back(p);
        EXPECT_EQ(rest, (std::vector<void*>{high, &b, &a}));
        EXPECT_FALSE(list.remove_node(&list));
        seen_ptrs.clear();
    }
    // The destructor passes the stored pointers, not the copies' addresses.
    EXPECT_EQ(seen_ptrs, (std::vector<void*>{high, &b, &a}));

    // An owning list: the callback deletes what it is given (ASan checks).
    LLIST* owner = new PTRLLIST;
    owner->remove_callback = delete_int;
    for (int i = 0; i < 3; ++i)
        static_cast<PTRLLIST*>(owner)->add_node(new int(i));
    owner->remove_node_ref(owner->head); // through the base: still the pointer form
    delete owner; // through the base pointer
}

TEST(PtrLList, EmptyCopiesAreSkipped)
{
    PTRLLIST list;
    int a = 0;
    list.add_node(&a);
    // A node without a copy never matches and never reaches the callback.
    LISTNODE* bare = new LISTNODE(nullptr, -1);
    ASSERT_EQ(bare->data, nullptr);
    bare->prev = list.tail;
    list.tail->next = bare;
    list.tail = bare;
    ++list.count;
    list.remove_callback = record_ptr;
    seen_ptrs.clear();
    EXPECT_FALSE(list.remove_node(nullptr));
    EXPECT_TRUE(list.remove_node(&a));
    list.clear();
    EXPECT_EQ(seen_ptrs, std::vector<void*>{&a});
}
