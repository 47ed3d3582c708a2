#ifndef KIVO_PARAM_H
#define KIVO_PARAM_H

// PARAMETER: a typed value with a lower and an upper limit. The type code
// says how the three slots are read; setting a number clamps `value` into
// [min, max] (raised to min first, then lowered to max, so max wins when
// the limits cross); reads convert to what the caller asks for; the whole
// parameter stores itself on a data device.
#include "data_device.h"
#include "kivo_types.h"

// 0 s8, 1 u8, 2 s16, 3 u16, 4 s32, 5 u32, 6 float, 7 double, 8 owned text
// (new[], may be null), 9 pointer (not owned). Other codes hold nothing.
typedef INT_U32 PARAM_TYPE;

class PARAMETER : public DATA_DEVICE_CLIENT
{
public:
    // One value of any kind, at the type's width.
    union VALUE_TYPE
    {
        INT_S8 s8;
        INT_U8 u8;
        INT_S16 s16;
        INT_U16 u16;
        INT_S32 s32;
        INT_U32 u32;
        float f;
        double d;
        char* text;
        void* ptr;
    };

    PARAM_TYPE type;
    VALUE_TYPE value, min, max;

    // Type 8 holding a copy of `text` ("" when null); null limits.
    explicit PARAMETER(const char* text = nullptr);
    ~PARAMETER() override;
    // A bitwise copy would free the texts twice.
    PARAMETER(const PARAMETER&) = delete;
    PARAMETER& operator=(const PARAMETER&) = delete;

    // Frees the texts of a text parameter, then: type 8 gets three owned
    // empty texts, types 0-7 and 9 three zeros; other codes keep the slots.
    void reset_to_type(PARAM_TYPE t);

    // Store into one of value, min or max, converted to the type, then
    // clamp value. A text parameter stores the number as text ("%ld",
    // "%lu", "%p", "%.2lf"). From double, integer types truncate toward
    // zero; NaN gives 0 and values beyond 64 bits are clamped first
    // (unsigned 32-bit: to 0..4294967295).
    void set(VALUE_TYPE& slot, long v);
    void set(VALUE_TYPE& slot, unsigned long v);
    void set(VALUE_TYPE& slot, void* v);
    void set(VALUE_TYPE& slot, double v);
    // Parsed by the type ("%hd", "%hu", "%d", "%u", "%f", "%lf"; types 0
    // and 1 keep the low byte of a 16-bit number); a text parameter takes a
    // copy ("" for null); a pointer parameter keeps `text` itself. A null
    // or unparsable text leaves a numeric slot unchanged.
    void set(VALUE_TYPE& slot, const char* text);
    // Clamps value (types 0-7).
    void check_limits();

    // The slot converted; an unknown type or a null text gives 0. Texts
    // are parsed with "%d", "%u", "%lf" or "%p".
    long get_long(VALUE_TYPE& slot);
    // Float and double are limited to 0..4294967295 first.
    unsigned long get_ulong(VALUE_TYPE& slot);
    // A pointer slot reads as a signed 64-bit number.
    double get_double(VALUE_TYPE& slot);
    void* get_ptr(VALUE_TYPE& slot);
    // The slot as text in at most `size` bytes, always NUL-terminated;
    // nothing is written when size < 1 or the type is unknown.
    void get_str(VALUE_TYPE& slot, char* out, long size);
    // strlen of the value text (type 8), else 0.
    long get_str_length();

    // Record: u8 type, then value, min and max at the type's width (1, 2,
    // 4 or 8 bytes; a pointer as 8 bytes sign-extended; a text as a u32
    // length and its bytes, length 0 for null). Nothing follows a type
    // above 9. Reading stops with false at the first failed transfer, the
    // slots not read left zero.
    bool get_from_data_device(DATA_DEVICE& d) override;
    bool put_to_data_device(DATA_DEVICE& d) override;

private:
    void free_texts();
    // Replaces the slot's text with a copy of `text` (null stays null);
    // an allocation failure leaves the slot null.
    void store_text(VALUE_TYPE& slot, const char* text);
    // Stores an integer of up to 64 bits at the type's width.
    void store_integer(VALUE_TYPE& slot, INT_S64 v);
    bool put_slot(DATA_DEVICE& d, VALUE_TYPE& slot);
    bool get_slot(DATA_DEVICE& d, VALUE_TYPE& slot);
};

#endif
