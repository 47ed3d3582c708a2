#include "ptrarray.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct ITEM
{
    int key;
    int tag;
};

std::vector<int> removed;
void record(void* p) { removed.push_back(static_cast<ITEM*>(p)->tag); }

short by_key(void* a, void* b, void*)
{
    int x = static_cast<ITEM*>(a)->key, y = static_cast<ITEM*>(b)->key;
    return static_cast<short>(x < y ? -1 : x > y ? 1 : 0);
}

// The key of find is a bare int, the elements are ITEMs.
short int_against_item(void* key, void* element, void* user)
{
    ++*static_cast<int*>(user);
    int x = *static_cast<int*>(key), y = static_cast<ITEM*>(element)->key;
    return static_cast<short>(x < y ? -1 : x > y ? 1 : 0);
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
    for (long i = a.count; i < a.capacity; ++i)
        EXPECT_EQ(a.data[i], nullptr); // fresh slots are zeroed
    for (int i = 1; i < 101; ++i)
        ASSERT_TRUE(a.add(&it));
    EXPECT_EQ(a.capacity, 110);
    EXPECT_EQ(a.count, 101);
    EXPECT_EQ(a.data[105], nullptr);

    PTRARRAY small(3, -5), big(5000, 5000);
    EXPECT_EQ(small.step, PTRARRAY::min_step_sz);
    EXPECT_EQ(small.start, PTRARRAY::min_start_sz);
    EXPECT_EQ(big.step, PTRARRAY::max_step_sz);
    EXPECT_EQ(big.start, PTRARRAY::max_start_sz);
    small.add(&it);
    EXPECT_EQ(small.capacity, 10); // step wins over a smaller start
}

TEST(PtrArray, RemovalAndCallbacks)
{
    ITEM items[6];
    for (int i = 0; i < 6; ++i)
        items[i] = {i, i};
    removed.clear();
    {
        PTRARRAY a(10, 0, record);
        for (ITEM& it : items)
            a.add(&it);
        EXPECT_FALSE(a.remove(-1));
        EXPECT_FALSE(a.remove(a.count));
        EXPECT_FALSE(a.remove_quick(6));
        EXPECT_TRUE(removed.empty());

        EXPECT_TRUE(a.remove(1));
        EXPECT_EQ(tags(a), (std::vector<int>{0, 2, 3, 4, 5}));
        EXPECT_TRUE(a.remove_quick(0));
        EXPECT_EQ(tags(a), (std::vector<int>{5, 2, 3, 4}));
        EXPECT_TRUE(a.remove_quick(3)); // the last one
        EXPECT_EQ(tags(a), (std::vector<int>{5, 2, 3}));
        EXPECT_EQ(removed, (std::vector<int>{1, 0, 4}));

        void** storage = a.data;
        a.empty();
        EXPECT_EQ(a.count, 0);
        EXPECT_EQ(a.data, storage);
        EXPECT_EQ(removed, (std::vector<int>{1, 0, 4, 5, 2, 3}));
        a.add(&items[0]);
        a.clear();
        EXPECT_EQ(a.data, nullptr);
        EXPECT_EQ(a.capacity, 0);
        EXPECT_EQ(removed.size(), 7u);
        a.add(&items[1]);
    }
    EXPECT_EQ(removed.back(), 1); // the destructor clears

    // Deleting a derived array through the base runs the derived destructor.
    static bool derived_gone = false;
    struct OWNED : PTRARRAY
    {
        ~OWNED() override { derived_gone = true; }
    };
    PTRARRAY* p = new OWNED;
    delete p;
    EXPECT_TRUE(derived_gone);
}

TEST(PtrArray, StableSortAndFirstMatchSearch)
{
    PTRARRAY a;
    int calls = 0, key = 3;
    EXPECT_EQ(a.find(&key, int_against_item, &calls), -1);

    std::vector<ITEM> items;
    const int keys[] = {5, 3, 9, 3, 1, 3, 5, 0, 7, 3};
    for (int i = 0; i < 10; ++i)
        items.push_back({keys[i], i});
    for (ITEM& it : items)
        a.add(&it);
    a.sort(by_key, nullptr);
    EXPECT_EQ(tags(a), (std::vector<int>{7, 4, 1, 3, 5, 9, 0, 6, 8, 2})); // equal keys keep order

    EXPECT_EQ(a.find(&key, int_against_item, &calls), 2); // first of four 3s
    EXPECT_GT(calls, 0);
    for (int k : {0, 9})
        EXPECT_EQ(static_cast<ITEM*>(a.data[a.find(&k, int_against_item, &calls)])->key, k);
    for (int k : {-1, 2, 4, 10})
        EXPECT_EQ(a.find(&k, int_against_item, &calls), -1);
}

TEST(PtrArray, SortAndFindAreReentrant)
{
    // A comparison that itself sorts and searches another array.
    struct CTX
    {
        PTRARRAY* inner;
        int nested_found;
    };
    static ITEM inner_items[3] = {{2, 0}, {1, 1}, {0, 2}};
    PTRARRAY inner;
    for (ITEM& it : inner_items)
        inner.add(&it);
    CTX ctx{&inner, 0};
    auto nested = [](void* a, void* b, void* user) -> short {
        CTX* c = static_cast<CTX*>(user);
        c->inner->sort(by_key, nullptr);
        int calls = 0, one = 1;
        if (c->inner->find(&one, int_against_item, &calls) == 1)
            ++c->nested_found;
        return by_key(a, b, nullptr);
    };
    std::vector<ITEM> items;
    for (int i = 0; i < 20; ++i)
        items.push_back({(i * 7) % 5, i});
    PTRARRAY a;
    for (ITEM& it : items)
        a.add(&it);
    a.sort(nested, &ctx);
    for (long i = 1; i < a.count; ++i)
        EXPECT_LE(static_cast<ITEM*>(a.data[i - 1])->key, static_cast<ITEM*>(a.data[i])->key);
    int before = ctx.nested_found;
    EXPECT_GT(before, 0);
    ITEM probe{4, -1};
    long at = a.find(&probe, nested, &ctx);
    ASSERT_GE(at, 0);
    EXPECT_EQ(static_cast<ITEM*>(a.data[at])->key, 4);
    EXPECT_EQ(static_cast<ITEM*>(a.data[at - 1])->key, 3);
    EXPECT_GT(ctx.nested_found, before);
}
