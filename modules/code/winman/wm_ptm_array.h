#ifndef KIVO_WM_PTM_ARRAY_H
#define KIVO_WM_PTM_ARRAY_H

// The page definition's records held by value (areas, an area's pages, the
// object records of pages, dialogs and objects): a new[] array with its
// count, grown and shrunk by moving the records (their move_from) into a
// new array, so that a failed allocation changes nothing.
#include "kivo_types.h"

#include <cstddef>
#include <new>

// The most records an array may hold: counts are INT_S32.
constexpr long WM_PTM_ARRAY_MAX = 0x7FFFFFFF;

template <typename T> void wm_ptm_free_array(T*& array, INT_S32& count)
{
    delete[] array;
    array = nullptr;
    count = 0;
}

// Replaces the array by n default records (none for n <= 0 or above
// `most`); count is n only when the array was made.
template <typename T> void wm_ptm_alloc_array(T*& array, INT_S32& count, long n, long most)
{
    wm_ptm_free_array(array, count);
    if (n < 1 || n > most) {
        return;
    }
    array = new (std::nothrow) T[static_cast<size_t>(n)];
    if (array) {
        count = static_cast<INT_S32>(n);
    }
}

// Appends one default record, made ready by `setup` (a callable taking
// T&; false refuses it) before the others move over. False, nothing
// changed, when the array holds `most` already, memory runs out or setup
// refuses.
template <typename T, typename SETUP> bool wm_ptm_grow_array(T*& array, INT_S32& count, long most, SETUP setup)
{
    if (count >= most) {
        return false;
    }
    T* grown = new (std::nothrow) T[static_cast<size_t>(count) + 1];
    if (!grown) {
        return false;
    }
    if (!setup(grown[count])) {
        delete[] grown;
        return false;
    }
    for (INT_S32 i = 0; i < count; ++i) {
        grown[i].move_from(array[i]);
    }
    delete[] array;
    array = grown;
    ++count;
    return true;
}

// Destroys the record at `index`, keeping the order of the others; false,
// nothing changed, for a bad index or when memory runs out.
template <typename T> bool wm_ptm_remove_from_array(T*& array, INT_S32& count, long index)
{
    if (index < 0 || index >= count) {
        return false;
    }
    T* kept = nullptr;
    if (count > 1) {
        kept = new (std::nothrow) T[static_cast<size_t>(count) - 1];
        if (!kept) {
            return false;
        }
    }
    for (INT_S32 i = 0, j = 0; i < count; ++i) {
        if (i != index) {
            kept[j++].move_from(array[i]);
        }
    }
    delete[] array;
    array = kept;
    --count;
    return true;
}

#endif
