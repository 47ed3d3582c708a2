// The allocation watch the reader tests rely on, in whatever build runs it:
// the code always runs, and what it allocates is seen.
#include "alloc_watch.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

void* volatile sink = nullptr; // keeps the compiler from dropping a pair

TEST(AllocationWatch, RunsTheCodeAndSeesItsLargestAllocation)
{
    bool ran = false;
    long long largest = kivo_test::largest_allocation([&ran] {
        ran = true;
        char* block = new char[3 << 20];
        sink = block;
        delete[] static_cast<char*>(sink);
        sink = std::calloc(1 << 10, 5 << 10);
        std::free(sink);
        sink = std::malloc(16);
        sink = std::realloc(sink, 4 << 20);
        std::free(sink);
    });
    EXPECT_TRUE(ran);
    EXPECT_EQ(largest, 5 << 20);
    // Nothing is counted once the code has run, and a watch starts afresh.
    sink = std::malloc(6 << 20);
    std::free(sink);
    EXPECT_LT(kivo_test::largest_allocation([] {}), 1 << 20);
}

} // namespace
