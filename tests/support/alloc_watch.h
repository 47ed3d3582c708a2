#ifndef KIVO_TEST_ALLOC_WATCH_H
#define KIVO_TEST_ALLOC_WATCH_H

// The largest single allocation made while a piece of code runs, seen
// through the sanitizer's allocation hook (the tests always run under
// AddressSanitizer; without it the answer is -1). Reading a forged size
// must not allocate it, even when the read then fails before touching it.
#include <cstddef>

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                          void (*)(const volatile void*))
    __attribute__((weak));

namespace kivo_test {

namespace alloc_watch_detail {
inline bool watching = false;
inline std::size_t largest = 0;
inline void on_malloc(const volatile void*, std::size_t n)
{
    if (watching && n > largest)
        largest = n;
}
inline void on_free(const volatile void*) {}
} // namespace alloc_watch_detail

template <class F> long long largest_allocation(F&& fn)
{
    namespace d = alloc_watch_detail;
    static const bool installed =
        __sanitizer_install_malloc_and_free_hooks &&
        __sanitizer_install_malloc_and_free_hooks(d::on_malloc, d::on_free) != 0;
    if (!installed)
        return -1;
    d::largest = 0;
    d::watching = true;
    fn();
    d::watching = false;
    return static_cast<long long>(d::largest);
}

} // namespace kivo_test

#endif
