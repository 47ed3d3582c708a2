#include "ptrarray.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

PTRARRAY::~PTRARRAY()
{
    clear();
}

bool PTRARRAY::add(void* p)
{
    if (count == capacity) {
        long grow = data ? step : std::max<long>(step, start);
        if (capacity > static_cast<long>(PTRDIFF_MAX / sizeof(void*)) - grow) {
            return false;
        }
        std::size_t bytes = static_cast<std::size_t>(capacity + grow) * sizeof(void*);
        void** grown = static_cast<void**>(std::realloc(data, bytes));
        if (!grown) {
            return false;
        }
        std::memset(grown + capacity, 0, static_cast<std::size_t>(grow) * sizeof(void*));
        data = grown;
        capacity += grow;
    }
    data[count++] = p;
    return true;
}

bool PTRARRAY::remove(long index)
{
    if (index < 0 || index >= count) {
        return false;
    }
    call_remove_callback(index);
    std::memmove(data + index, data + index + 1, static_cast<std::size_t>(count - index - 1) * sizeof(void*));
    --count;
    return true;
}

bool PTRARRAY::remove_quick(long index)
{
    if (index < 0 || index >= count) {
        return false;
    }
    call_remove_callback(index);
    data[index] = data[count - 1];
    --count;
    return true;
}

void PTRARRAY::empty()
{
    if (remove_callback) {
        for (long i = 0; i < count; ++i) {
            call_remove_callback(i);
        }
    }
    count = 0;
}

void PTRARRAY::clear()
{
    empty();
    std::free(data);
    data = nullptr;
    capacity = 0;
}

void PTRARRAY::sort(PTRARRAY_COMPARE compare, void* user)
{
    if (!compare || count < 2) {
        return;
    }
    std::stable_sort(data, data + count, [compare, user](void* a, void* b) { return compare(a, b, user) < 0; });
}

long PTRARRAY::find(void* key, PTRARRAY_COMPARE compare, void* user) const
{
    if (!compare) {
        return -1;
    }
    long lo = 0, hi = count;
    while (lo < hi) {
        long mid = lo + (hi - lo) / 2;
        if (compare(key, data[mid], user) > 0) {
            lo = mid + 1;
        } else {
            hi = mid;
        }
    }
    if (lo < count && compare(key, data[lo], user) == 0) {
        return lo;
    }
    return -1;
}

void PTRARRAY::call_remove_callback(long index)
{
    if (remove_callback) {
        remove_callback(data[index]);
    }
}
