#ifndef KIVO_PTRARRAY_H
#define KIVO_PTRARRAY_H

// A growable array of pointers with stable sorting, binary search and a
// remove callback for elements that leave it.
#include "kivo_types.h"
#include "llist.h"

// Negative, zero or positive like strcmp; user is passed through.
typedef short (*PTRARRAY_COMPARE)(void* a, void* b, void* user);

class PTRARRAY
{
public:
    static constexpr long max_start_sz = 1024;
    static constexpr long min_start_sz = 0;
    static constexpr short max_step_sz = 1024;
    static constexpr short min_step_sz = 10;

    // step and start are clamped into the limits above.
    explicit PTRARRAY(short step_sz = min_step_sz, long start_sz = min_start_sz, REMOVE_CALLBACK callback = nullptr)
        : data(nullptr), capacity(0), count(0), step(step_sz < min_step_sz   ? min_step_sz
                                                     : step_sz > max_step_sz ? max_step_sz
                                                                             : step_sz),
          start(start_sz < min_start_sz   ? min_start_sz
                : start_sz > max_start_sz ? max_start_sz
                                          : start_sz),
          remove_callback(callback)
    {}
    virtual ~PTRARRAY();
    PTRARRAY(const PTRARRAY&) = delete;
    PTRARRAY& operator=(const PTRARRAY&) = delete;

    // Appends, growing first when full; false (array unchanged) without memory.
    bool add(void* p);
    // For 0 <= index < count: the callback, then the later elements shift down.
    bool remove(long index);
    // As remove, but the last element fills the gap (order not kept).
    bool remove_quick(long index);
    // The callback for every element; count 0, storage kept.
    void empty();
    // empty, then the storage is freed.
    void clear();
    // Stable: equal elements keep their order.
    void sort(PTRARRAY_COMPARE compare, void* user);
    // Binary search of a sorted array, calling compare(key, element, user);
    // the index of the first match, or -1.
    long find(void* key, PTRARRAY_COMPARE compare, void* user) const;

    virtual void call_remove_callback(long index);

    void** data;
    long capacity;
    long count;
    short step;
    long start;
    REMOVE_CALLBACK remove_callback;
};

#endif
