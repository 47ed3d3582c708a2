// PARAMETER: conversions between the ten slot types, clamping, and the
// record on a data device.
#include "param.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace {

const PARAM_TYPE TEXT_TYPE = 8;
const PARAM_TYPE POINTER_TYPE = 9;

// C++ leaves NaN and out-of-range conversions to integers undefined.
INT_S64 double_to_s64(double v)
{
    if (v != v) {
        return 0;
    }
    if (v >= 9223372036854775808.0) {
        return INT64_MAX;
    }
    if (v <= -9223372036854775808.0) {
        return INT64_MIN;
    }
    return static_cast<INT_S64>(v);
}

INT_U32 double_to_u32(double v)
{
    if (!(v > 0)) {
        return 0;
    }
    if (v >= 4294967295.0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<INT_U32>(v);
}

void* s64_to_ptr(INT_S64 v)
{
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(v));
}

INT_S64 ptr_to_s64(void* p)
{
    return static_cast<INT_S64>(reinterpret_cast<std::intptr_t>(p));
}

char* copy_text(const char* text)
{
    std::size_t n = std::strlen(text) + 1;
    char* copy = new (std::nothrow) char[n];
    if (copy) {
        std::memcpy(copy, text, n);
    }
    return copy;
}

// A number as a new[] text of exactly the length it formats to: a double
// such as 1e300 runs to over 300 characters.
__attribute__((format(printf, 1, 2))) char* format_text(const char* format, ...)
{
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    char* text = n < 0 ? nullptr : new (std::nothrow) char[static_cast<std::size_t>(n) + 1];
    if (text) {
        std::vsnprintf(text, static_cast<std::size_t>(n) + 1, format, again);
    }
    va_end(again);
    return text;
}

template <class T> void clamp(T& v, T lo, T hi)
{
    if (v < lo) {
        v = lo;
    }
    if (v > hi) {
        v = hi;
    }
}

} // namespace

PARAMETER::PARAMETER(const char* text) : type(TEXT_TYPE)
{
    std::memset(&value, 0, sizeof value);
    std::memset(&min, 0, sizeof min);
    std::memset(&max, 0, sizeof max);
    value.text = copy_text(text ? text : "");
}

PARAMETER::~PARAMETER()
{
    free_texts();
}

void PARAMETER::free_texts()
{
    if (type != TEXT_TYPE) {
        return;
    }
    for (VALUE_TYPE* slot : {&value, &min, &max}) {
        delete[] slot->text;
        slot->text = nullptr;
    }
}

void PARAMETER::store_text(VALUE_TYPE& slot, const char* text)
{
    // Copied before the old text goes: `text` may be that text.
    char* copy = text ? copy_text(text) : nullptr;
    delete[] slot.text;
    slot.text = copy;
}

void PARAMETER::reset_to_type(PARAM_TYPE t)
{
    free_texts();
    type = t;
    if (t == TEXT_TYPE) {
        min.text = copy_text("");
        max.text = copy_text("");
        value.text = copy_text("");
    } else if (t <= POINTER_TYPE) {
        set(min, 0L);
        set(max, 0L);
        set(value, 0L);
    }
}

void PARAMETER::store_integer(VALUE_TYPE& slot, INT_S64 v)
{
    switch (type) {
    case 0: slot.s8 = static_cast<INT_S8>(v); break;
    case 1: slot.u8 = static_cast<INT_U8>(v); break;
    case 2: slot.s16 = static_cast<INT_S16>(v); break;
    case 3: slot.u16 = static_cast<INT_U16>(v); break;
    case 4: slot.s32 = static_cast<INT_S32>(v); break;
    case 5: slot.u32 = static_cast<INT_U32>(v); break;
    default: break;
    }
}

void PARAMETER::set(VALUE_TYPE& slot, long v)
{
    if (type <= 5) {
        store_integer(slot, v);
    } else if (type == 6) {
        slot.f = static_cast<float>(v);
    } else if (type == 7) {
        slot.d = static_cast<double>(v);
    } else if (type == TEXT_TYPE) {
        delete[] slot.text;
        slot.text = format_text("%ld", v);
    } else if (type == POINTER_TYPE) {
        slot.ptr = s64_to_ptr(v);
    }
    check_limits();
}

void PARAMETER::set(VALUE_TYPE& slot, unsigned long v)
{
    if (type <= 5) {
        store_integer(slot, static_cast<INT_S64>(v));
    } else if (type == 6) {
        slot.f = static_cast<float>(v);
    } else if (type == 7) {
        slot.d = static_cast<double>(v);
    } else if (type == TEXT_TYPE) {
        delete[] slot.text;
        slot.text = format_text("%lu", v);
    } else if (type == POINTER_TYPE) {
        slot.ptr = reinterpret_cast<void*>(static_cast<std::uintptr_t>(v));
    }
    check_limits();
}

void PARAMETER::set(VALUE_TYPE& slot, void* v)
{
    if (type <= 5) {
        store_integer(slot, ptr_to_s64(v));
    } else if (type == 6) {
        slot.f = static_cast<float>(ptr_to_s64(v));
    } else if (type == 7) {
        slot.d = static_cast<double>(ptr_to_s64(v));
    } else if (type == TEXT_TYPE) {
        delete[] slot.text;
        slot.text = format_text("%p", v);
    } else if (type == POINTER_TYPE) {
        slot.ptr = v;
    }
    check_limits();
}

void PARAMETER::set(VALUE_TYPE& slot, double v)
{
    if (type == 5) {
        slot.u32 = double_to_u32(v);
    } else if (type <= 4) {
        store_integer(slot, double_to_s64(v));
    } else if (type == 6) {
        slot.f = static_cast<float>(v);
    } else if (type == 7) {
        slot.d = v;
    } else if (type == TEXT_TYPE) {
        delete[] slot.text;
        slot.text = format_text("%.2lf", v);
    } else if (type == POINTER_TYPE) {
        slot.ptr = s64_to_ptr(double_to_s64(v));
    }
    check_limits();
}

void PARAMETER::set(VALUE_TYPE& slot, const char* text)
{
    if (type == TEXT_TYPE) {
        store_text(slot, text ? text : "");
        return;
    }
    if (type == POINTER_TYPE) {
        slot.ptr = const_cast<char*>(text);
        return;
    }
    if (!text) {
        return;
    }
    short s;
    unsigned short us;
    int i;
    unsigned int u;
    float f;
    double d;
    switch (type) {
    case 0:
        if (std::sscanf(text, "%hd", &s) == 1) {
            slot.s8 = static_cast<INT_S8>(s);
        }
        break;
    case 1:
        if (std::sscanf(text, "%hu", &us) == 1) {
            slot.u8 = static_cast<INT_U8>(us);
        }
        break;
    case 2:
        if (std::sscanf(text, "%hd", &s) == 1) {
            slot.s16 = s;
        }
        break;
    case 3:
        if (std::sscanf(text, "%hu", &us) == 1) {
            slot.u16 = us;
        }
        break;
    case 4:
        if (std::sscanf(text, "%d", &i) == 1) {
            slot.s32 = i;
        }
        break;
    case 5:
        if (std::sscanf(text, "%u", &u) == 1) {
            slot.u32 = u;
        }
        break;
    case 6:
        if (std::sscanf(text, "%f", &f) == 1) {
            slot.f = f;
        }
        break;
    case 7:
        if (std::sscanf(text, "%lf", &d) == 1) {
            slot.d = d;
        }
        break;
    default: break;
    }
    check_limits();
}

void PARAMETER::check_limits()
{
    switch (type) {
    case 0: clamp(value.s8, min.s8, max.s8); break;
    case 1: clamp(value.u8, min.u8, max.u8); break;
    case 2: clamp(value.s16, min.s16, max.s16); break;
    case 3: clamp(value.u16, min.u16, max.u16); break;
    case 4: clamp(value.s32, min.s32, max.s32); break;
    case 5: clamp(value.u32, min.u32, max.u32); break;
    case 6: clamp(value.f, min.f, max.f); break;
    case 7: clamp(value.d, min.d, max.d); break;
    default: break;
    }
}

long PARAMETER::get_long(VALUE_TYPE& slot)
{
    switch (type) {
    case 0: return slot.s8;
    case 1: return slot.u8;
    case 2: return slot.s16;
    case 3: return slot.u16;
    case 4: return slot.s32;
    case 5: return static_cast<long>(slot.u32);
    case 6: return double_to_s64(slot.f);
    case 7: return double_to_s64(slot.d);
    case TEXT_TYPE: {
        int v = 0;
        if (slot.text && std::sscanf(slot.text, "%d", &v) != 1) {
            v = 0;
        }
        return v;
    }
    case POINTER_TYPE: return ptr_to_s64(slot.ptr);
    default: return 0;
    }
}

unsigned long PARAMETER::get_ulong(VALUE_TYPE& slot)
{
    switch (type) {
    case 6: return double_to_u32(slot.f);
    case 7: return double_to_u32(slot.d);
    case TEXT_TYPE: {
        unsigned int v = 0;
        if (slot.text && std::sscanf(slot.text, "%u", &v) != 1) {
            v = 0;
        }
        return v;
    }
    case POINTER_TYPE: return reinterpret_cast<std::uintptr_t>(slot.ptr);
    default: return static_cast<unsigned long>(get_long(slot));
    }
}

double PARAMETER::get_double(VALUE_TYPE& slot)
{
    switch (type) {
    case 6: return slot.f;
    case 7: return slot.d;
    case TEXT_TYPE: {
        double v = 0;
        if (slot.text && std::sscanf(slot.text, "%lf", &v) != 1) {
            v = 0;
        }
        return v;
    }
    case POINTER_TYPE: return static_cast<double>(ptr_to_s64(slot.ptr));
    default: return static_cast<double>(get_long(slot));
    }
}

void* PARAMETER::get_ptr(VALUE_TYPE& slot)
{
    switch (type) {
    case TEXT_TYPE: {
        void* v = nullptr;
        if (slot.text && std::sscanf(slot.text, "%p", &v) != 1) {
            v = nullptr;
        }
        return v;
    }
    case POINTER_TYPE: return slot.ptr;
    default: return s64_to_ptr(get_long(slot));
    }
}

void PARAMETER::get_str(VALUE_TYPE& slot, char* out, long size)
{
    if (!out || size < 1) {
        return;
    }
    std::size_t n = static_cast<std::size_t>(size);
    switch (type) {
    case 0: std::snprintf(out, n, "%hd", static_cast<short>(slot.s8)); break;
    case 1: std::snprintf(out, n, "%hu", static_cast<unsigned short>(slot.u8)); break;
    case 2: std::snprintf(out, n, "%hd", slot.s16); break;
    case 3: std::snprintf(out, n, "%hu", slot.u16); break;
    case 4: std::snprintf(out, n, "%d", slot.s32); break;
    case 5: std::snprintf(out, n, "%u", slot.u32); break;
    case 6: std::snprintf(out, n, "%.2f", static_cast<double>(slot.f)); break;
    case 7: std::snprintf(out, n, "%.2lf", slot.d); break;
    case TEXT_TYPE:
        std::strncpy(out, slot.text ? slot.text : "", n);
        out[n - 1] = 0;
        break;
    case POINTER_TYPE: std::snprintf(out, n, "%p", slot.ptr); break;
    default: break;
    }
}

long PARAMETER::get_str_length()
{
    return type == TEXT_TYPE && value.text ? static_cast<long>(std::strlen(value.text)) : 0;
}

bool PARAMETER::put_slot(DATA_DEVICE& d, VALUE_TYPE& slot)
{
    switch (type) {
    case 0:
    case 1: return put_u8(d, slot.u8);
    case 2:
    case 3: return put_u16(d, slot.u16);
    case 4:
    case 5: return put_u32(d, slot.u32);
    case 6: return put_float(d, slot.f);
    case 7: return put_double(d, slot.d);
    case TEXT_TYPE: return put_string(d, slot.text);
    case POINTER_TYPE: {
        INT_U8 b[8];
        encode_u64(b, static_cast<INT_U64>(ptr_to_s64(slot.ptr)), d.swap);
        return put_bytes(d, b, 8);
    }
    default: return true;
    }
}

bool PARAMETER::put_to_data_device(DATA_DEVICE& d)
{
    return put_u8(d, static_cast<INT_U8>(type)) && put_slot(d, value) && put_slot(d, min) && put_slot(d, max);
}

bool PARAMETER::get_slot(DATA_DEVICE& d, VALUE_TYPE& slot)
{
    switch (type) {
    case 0:
    case 1: return get_u8(d, slot.u8);
    case 2:
    case 3: return get_u16(d, slot.u16);
    case 4:
    case 5: return get_u32(d, slot.u32);
    case 6: return get_float(d, slot.f);
    case 7: return ::get_double(d, slot.d);
    case TEXT_TYPE: {
        // get_string never allocates more than the device supplies.
        char* text = nullptr;
        if (!get_string(d, &text)) {
            return false;
        }
        bool ok = true;
        if (text[0]) {
            slot.text = copy_text(text);
            ok = slot.text != nullptr;
            d.error = ok ? 0 : 1;
        }
        std::free(text);
        return ok;
    }
    case POINTER_TYPE: {
        INT_U8 b[8];
        if (!get_bytes(d, b, 8)) {
            return false;
        }
        slot.ptr = s64_to_ptr(static_cast<INT_S64>(decode_u64(b, d.swap)));
        return true;
    }
    default: return true;
    }
}

bool PARAMETER::get_from_data_device(DATA_DEVICE& d)
{
    // Zeroed whatever the old type: under a new text type, slots left
    // unread must not pass for texts.
    free_texts();
    std::memset(&value, 0, sizeof value);
    std::memset(&min, 0, sizeof min);
    std::memset(&max, 0, sizeof max);
    INT_U8 t;
    if (!get_u8(d, t)) {
        return false;
    }
    type = t;
    if (!get_slot(d, value) || !get_slot(d, min) || !get_slot(d, max)) {
        return false;
    }
    check_limits();
    return true;
}
