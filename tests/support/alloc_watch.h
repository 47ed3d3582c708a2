#ifndef KIVO_TEST_ALLOC_WATCH_H
#define KIVO_TEST_ALLOC_WATCH_H

// The largest single allocation made while a piece of code runs. Under
// AddressSanitizer it is seen through the sanitizer's allocation hook;
// in any other build the test support replaces malloc and its kin, which
// note each size and hand over to the C library. Reading a forged size
// must not allocate it, even when the read then fails before touching it.
// The code runs in every build.
#include <cstddef>

namespace kivo_test {

namespace alloc_watch_detail {
// Starts noting sizes; false when this build cannot see allocations.
bool begin();
// Stops and returns the largest size noted since begin.
std::size_t end();
} // namespace alloc_watch_detail

// The largest allocation fn made, in bytes (any thread's, while it ran);
// -1 when allocations cannot be seen, so that only the check is lost.
template <class F> long long largest_allocation(F&& fn)
{
    const bool watching = alloc_watch_detail::begin();
    fn();
    const std::size_t largest = alloc_watch_detail::end();
    return watching ? static_cast<long long>(largest) : -1;
}

} // namespace kivo_test

#endif
