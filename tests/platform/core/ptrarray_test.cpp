#include "ptrarray.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace {

// The key second, so that reading a bare int as an ITEM leaves its bounds.
struct ITEM
{
    int tag;
    int key;
};

std::vector<int> removed;

// Owning subclasses are deleted through the base.
static_assert(std::has_virtual_destructor<PTRARRAY>::value, "");

short cmp(int x, int y)
{
    return static_cast<short>(x < y ? -1 : x > y ? 1 : 0);
}
short by_key(void* a, void* b, void*)
{
    return cmp(static_cast<ITEM*>(a)->key, static_cast<ITEM*>(b)->key);
}

// find's key is a bare int while the elements are ITEMs, so a swapped call
// reads the wrong type.
short int_against_item(void* key, void* element, void*)
{
    return cmp(*static_cast<int*>(key), static_cast<ITEM*>(element)->key);
}

std::vector<int> tags(const PTRARRAY& a)
{
    std::vector<int> out;
    for (long i = 0; i < a.count; ++i) {
        out.push_back(static_cast<ITEM*>(a.data[i])->tag);
    }
    return out;
}

} // namespace

TEST(PtrArray, GrowthAndLimits)
{
    PTRARRAY a(10, 100);
    ITEM it{0, 0};
    ASSERT_TRUE(a.add(&it));
    EXPECT_EQ(a.capacity, 100);
    for (int i = 0; i < 100; ++i) {
        ASSERT_TRUE(a.add(&it));
    }
    EXPECT_EQ(a.capacity, 110);
    for (long i = a.count; i < a.capacity; ++i) {
        EXPECT_EQ(a.data[i], nullptr); // fresh slots are zeroed
    }

    PTRARRAY small(3, -5); // sizes too small are raised to the least allowed
    small.add(&it);
    EXPECT_EQ(small.capacity, 10);
}

TEST(PtrArray, RemovalAndCallbacks)
{
    ITEM items[6];
    removed.clear();
    {
        PTRARRAY a(10, 0, [](void* p) { removed.push_back(static_cast<ITEM*>(p)->tag); });
        for (int i = 0; i < 6; ++i) {
            items[i] = {i, i}, a.add(&items[i]);
        }
        EXPECT_FALSE(a.remove(-1) || a.remove(a.count) || a.remove_quick(6));
        EXPECT_TRUE(removed.empty());
        EXPECT_TRUE(a.remove(1));
        EXPECT_EQ(tags(a), (std::vector<int>{0, 2, 3, 4, 5}));
        EXPECT_TRUE(a.remove_quick(0) && a.remove_quick(3)); // the second takes the last one
        EXPECT_EQ(tags(a), (std::vector<int>{5, 2, 3}));
        void** storage = a.data;
        a.empty();
        EXPECT_TRUE(a.count == 0 && a.data == storage);
        a.add(&items[0]);
        a.clear();
        EXPECT_TRUE(a.data == nullptr && a.capacity == 0);
        a.add(&items[1]);
    }
    // ... and the destructor clears.
    EXPECT_EQ(removed, (std::vector<int>{1, 0, 4, 5, 2, 3, 0, 1}));
}

TEST(PtrArray, StableSortFirstMatchAndReentrancy)
{
    PTRARRAY a;
    int key = 6;
    EXPECT_EQ(a.find(&key, int_against_item, nullptr), -1);
    // Enough equal keys that an unstable sort would reorder some.
    ITEM items[40];
    for (int i = 0; i < 40; ++i) {
        items[i] = {i, (i * 7) % 5 * 2}, a.add(&items[i]);
    }

    // The comparison itself sorts and searches another array.
    ITEM inner_items[3] = {{0, 2}, {1, 1}, {2, 0}};
    PTRARRAY inner;
    for (ITEM& it : inner_items) {
        inner.add(&it);
    }
    auto nested = [](void* x, void* y, void* user) -> short {
        PTRARRAY* in = static_cast<PTRARRAY*>(user);
        in->sort(by_key, nullptr);
        int one = 1;
        EXPECT_EQ(in->find(&one, int_against_item, nullptr), 1);
        return by_key(x, y, nullptr);
    };
    a.sort(nested, &inner);
    for (long i = 1; i < a.count; ++i) { // equal keys keep their order
        const ITEM *p = static_cast<ITEM*>(a.data[i - 1]), *q = static_cast<ITEM*>(a.data[i]);
        ASSERT_TRUE(p->key < q->key || (p->key == q->key && p->tag < q->tag)) << i;
    }
    EXPECT_EQ(a.find(&key, int_against_item, nullptr), 24); // the first of eight 6s
    for (int k : {0, 8}) {
        EXPECT_EQ(static_cast<ITEM*>(a.data[a.find(&k, int_against_item, nullptr)])->key, k);
    }
    for (int k : {-1, 3, 10}) {
        EXPECT_EQ(a.find(&k, int_against_item, nullptr), -1);
    }
}
