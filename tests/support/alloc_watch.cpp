// Where the allocation watch sees allocations: the sanitizer's hook, or,
// without the sanitizer, malloc and its kin replaced in the test program.
#include "alloc_watch.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KIVO_ALLOC_WATCH_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define KIVO_ALLOC_WATCH_ASAN 1
#endif

namespace {

std::atomic<bool> watching{false};
std::atomic<std::size_t> largest{0};

// Runs inside malloc: no allocation, no lock.
void note(std::size_t n)
{
    if (!watching.load(std::memory_order_relaxed)) {
        return;
    }
    std::size_t seen = largest.load(std::memory_order_relaxed);
    while (n > seen && !largest.compare_exchange_weak(seen, n, std::memory_order_relaxed)) {
    }
}

} // namespace

#ifdef KIVO_ALLOC_WATCH_ASAN

extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, std::size_t),
                                                         void (*)(const volatile void*));

namespace {

void on_malloc(const volatile void*, std::size_t n)
{
    note(n);
}
void on_free(const volatile void*) {}

bool hooks_installed()
{
    static const bool installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free) != 0;
    return installed;
}

} // namespace

#else

// The C library's own allocator under its other names: what these return,
// its free and realloc take, so only the entry points that allocate need
// replacing. operator new and every shared library's malloc come here.
extern "C" {
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);

void* malloc(std::size_t n) noexcept
{
    note(n);
    return __libc_malloc(n);
}

void* calloc(std::size_t count, std::size_t size) noexcept
{
    std::size_t n = 0;
    note(__builtin_mul_overflow(count, size, &n) ? static_cast<std::size_t>(-1) : n);
    return __libc_calloc(count, size);
}

void* realloc(void* p, std::size_t n) noexcept
{
    note(n);
    return __libc_realloc(p, n);
}

void* memalign(std::size_t alignment, std::size_t n) noexcept
{
    note(n);
    return __libc_memalign(alignment, n);
}

void* aligned_alloc(std::size_t alignment, std::size_t n) noexcept
{
    note(n);
    return __libc_memalign(alignment, n);
}

int posix_memalign(void** out, std::size_t alignment, std::size_t n) noexcept
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    note(n);
    void* p = __libc_memalign(alignment, n);
    if (!p) {
        return ENOMEM;
    }
    *out = p;
    return 0;
}
}

namespace {

bool hooks_installed()
{
    return true;
}

} // namespace

#endif

namespace kivo_test {
namespace alloc_watch_detail {

bool begin()
{
    if (!hooks_installed()) {
        return false;
    }
    largest.store(0, std::memory_order_relaxed);
    watching.store(true, std::memory_order_relaxed);
    return true;
}

std::size_t end()
{
    watching.store(false, std::memory_order_relaxed);
    return largest.load(std::memory_order_relaxed);
}

} // namespace alloc_watch_detail
} // namespace kivo_test
