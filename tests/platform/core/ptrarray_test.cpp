#include "ptrarray.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct ITEM
{
    int key;
    int tag;
};

std::vector<int> removed;

short cmp(int x, int y) { return static_cast<short>(x < y ? -1 : x > y ? 1 : 0); }
short by_key(void* a, void* b, void*) { return cmp(static_cast<ITEM*>(a)->key, static_cast<ITEM*>(b)->key); }

// find's key is a bare int while the elements are ITEMs, so a swapped call
// reads the wrong type.
short int_against_item(void* key, void* element, void*)
{
    return cmp(*static_cast<int*>(key), static_cast<ITEM*>(element)->key);
}

std::vector<int> tags(const PTRARRAY& a)
{
    std::vector<int> out;
    for (long i = 0; i < a.count; ++i)
        out.push_back(static_cast<ITEM*>(a.data[i])->tag);
    return out;
}

} // namespace

TEST(PtrArray, GrowthAndLimits)
{
    PTRARRAY a(10, 100);
    ITEM it{0, 0};
    ASSERT_TRUE(a.add(&it));
    EXPECT_EQ(a.capacity, 100);
    for (int i = 0; i < 100; ++i)
        ASSERT_TRUE(a.add(&it));
    EXPECT_EQ(a.capacity, 110);
    for (long i = a.count; i < a.capacity; ++i)
        EXPECT_EQ(a.data[i], nullptr); // fresh slots are zeroed

    PTRARRAY small(3, -5), big(5000, 5000);
    EXPECT_TRUE(small.step == PTRARRAY::min_step_sz && small.start == PTRARRAY::min_start_sz);
    EXPECT_TRUE(big.step == PTRARRAY::max_step_sz && big.start == PTRARRAY::max_start_sz);
    small.add(&it);
    EXPECT_EQ(small.capacity, 10);
}

TEST(PtrArray, RemovalAndCallbacks)
{
    ITEM items[6];
    removed.clear();
    {
        PTRARRAY a(10, 0, [](void* p) { removed.push_back(static_cast<ITEM*>(p)->tag); });
        for (int i = 0; i < 6; ++i)
            items[i] = {i, i}, a.add(&items[i]);
        EXPECT_FALSE(a.remove(-1) || a.remove(a.count) || a.remove_quick(6));
        EXPECT_TRUE(removed.empty());
        EXPECT_TRUE(a.remove(1));
        EXPECT_EQ(tags(a), (std::vector<int>{0, 2, 3, 4, 5}));
        EXPECT_TRUE(a.remove_quick(0));
        EXPECT_TRUE(a.remove_quick(3)); // the last one
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

    static bool derived_gone = false;
    struct OWNED : PTRARRAY
    {
        ~OWNED() override { derived_gone = true; }
    };
    PTRARRAY* p = new OWNED;
    delete p;
    EXPECT_TRUE(derived_gone);
}

TEST(PtrArray, StableSortFirstMatchAndReentrancy)
{
    PTRARRAY a;
    int key = 3;
    EXPECT_EQ(a.find(&key, int_against_item, nullptr), -1);
    const int keys[] = {5, 3, 9, 3, 1, 3, 5, 0, 7, 3};
    ITEM items[10];
    for (int i = 0; i < 10; ++i)
        items[i] = {keys[i], i}, a.add(&items[i]);

    // The comparison itself sorts and searches another array.
    ITEM inner_items[3] = {{2, 0}, {1, 1}, {0, 2}};
    PTRARRAY inner;
    for (ITEM& it : inner_items)
        inner.add(&it);
    auto nested = [](void* x, void* y, void* user) -> short {
        PTRARRAY* in = static_cast<PTRARRAY*>(user);
        in->sort(by_key, nullptr);
        int one = 1;
        EXPECT_EQ(in->find(&one, int_against_item, nullptr), 1);
        return by_key(x, y, nullptr);
    };
    a.sort(nested, &inner);
    EXPECT_EQ(tags(a), (std::vector<int>{7, 4, 1, 3, 5, 9, 0, 6, 8, 2})); // equal keys keep order

    EXPECT_EQ(a.find(&key, int_against_item, nullptr), 2); // the first of four 3s
    for (int k : {0, 9})
        EXPECT_EQ(static_cast<ITEM*>(a.data[a.find(&k, int_against_item, nullptr)])->key, k);
    for (int k : {-1, 2, 4, 10})
        EXPECT_EQ(a.find(&k, int_against_item, nullptr), -1);
}
