// The texts of the page definition's records: WM_PTM_TEXT, the new[] text
// helpers, and the reader of a string field into either.
#include "wm_ptm_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Reads a string field as get_string does (a length with its top bit set,
// or bytes the device does not have, fail with the error flag set; a read
// that succeeds clears it) and hands `keep` the text up to its first NUL
// with its length, 0 for none. Short texts are read on the stack: the
// definition's many small names then cost no allocation in passing.
template <typename KEEP> bool read_text_field(DATA_DEVICE& d, KEEP keep)
{
    INT_U32 length = 0;
    if (!get_u32(d, length)) {
        return false;
    }
    if (length & 0x80000000u) {
        d.error = 1;
        return false;
    }
    char local[256];
    if (length < sizeof(local)) {
        const long n = static_cast<long>(length);
        if (n > 0 && d.read_data_block(reinterpret_cast<INT_U8*>(local), n) != n) {
            d.error = 1;
            return false;
        }
        d.error = 0;
        local[n] = 0;
        return keep(local, std::strlen(local));
    }
    char* text = nullptr;
    long allocated = 0;
    const bool read = read_text_bytes(d, length, &text, &allocated, 1);
    d.error = read ? 0 : 1;
    const bool ok = read && keep(text, std::strlen(text));
    std::free(text);
    return ok;
}

} // namespace

char* wm_ptm_copy_text(const char* text)
{
    if (!text) {
        return nullptr;
    }
    size_t n = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) {
        std::memcpy(copy, text, n);
    }
    return copy;
}

void wm_ptm_set_text(char*& field, const char* text)
{
    if (field && text && !std::strcmp(field, text)) {
        return;
    }
    delete[] field;
    field = wm_ptm_copy_text(text);
}

char* wm_ptm_default_name(const char* format, long number)
{
    // The formats take an int ("%d"); no list holds more than an int counts.
    char text[20];
    std::snprintf(text, sizeof(text), format, static_cast<int>(number));
    return wm_ptm_copy_text(text);
}

bool wm_ptm_get_text(DATA_DEVICE& d, char*& field)
{
    delete[] field;
    field = nullptr;
    return read_text_field(d, [&](const char* text, size_t n) {
        if (n > 0) {
            field = wm_ptm_copy_text(text);
            if (!field) {
                d.error = 1;
                return false;
            }
        }
        return true;
    });
}

bool wm_ptm_get_text(DATA_DEVICE& d, WM_PTM_TEXT& field)
{
    field.clear();
    return read_text_field(d, [&](const char* text, size_t n) {
        if (n > 0 && !field.set(text, n)) {
            d.error = 1;
            return false;
        }
        return true;
    });
}

WM_PTM_TEXT::WM_PTM_TEXT() noexcept
{
    store(nullptr);
}

WM_PTM_TEXT::~WM_PTM_TEXT()
{
    clear();
}

WM_PTM_TEXT::WM_PTM_TEXT(const WM_PTM_TEXT& other) : WM_PTM_TEXT()
{
    set(other);
}

WM_PTM_TEXT::WM_PTM_TEXT(WM_PTM_TEXT&& other) noexcept : WM_PTM_TEXT()
{
    take(other);
}

WM_PTM_TEXT& WM_PTM_TEXT::operator=(const WM_PTM_TEXT& other)
{
    set(other);
    return *this;
}

WM_PTM_TEXT& WM_PTM_TEXT::operator=(WM_PTM_TEXT&& other) noexcept
{
    take(other);
    return *this;
}

char* WM_PTM_TEXT::stored() const noexcept
{
    char* text = nullptr;
    std::memcpy(&text, bytes, sizeof(text));
    return text;
}

void WM_PTM_TEXT::store(char* text) noexcept
{
    std::memcpy(bytes, &text, sizeof(text));
    bytes[inside_max] = 1;
}

void WM_PTM_TEXT::clear() noexcept
{
    if (bytes[inside_max] != 0) {
        delete[] stored();
    }
    store(nullptr);
}

bool WM_PTM_TEXT::set(const char* text)
{
    if (!text) {
        clear();
        return true;
    }
    return set(text, std::strlen(text));
}

bool WM_PTM_TEXT::set(const char* text, size_t n)
{
    const char* held = *this;
    if (held && std::strlen(held) == n && !std::memcmp(held, text, n)) {
        return true;
    }
    if (n <= inside_max) {
        char copy[inside_max + 1];
        std::memcpy(copy, text, n);
        clear();
        std::memcpy(bytes, copy, n);
        std::memset(bytes + n, 0, sizeof(bytes) - n);
        return true;
    }
    char* copy = new (std::nothrow) char[n + 1];
    if (copy) {
        std::memcpy(copy, text, n);
        copy[n] = 0;
    }
    clear();
    store(copy);
    return copy != nullptr;
}

void WM_PTM_TEXT::take(WM_PTM_TEXT& other) noexcept
{
    if (&other == this) {
        return;
    }
    clear();
    std::memcpy(bytes, other.bytes, sizeof(bytes));
    other.store(nullptr);
}
