#ifndef KIVO_FUZZ_DEVICE_H
#define KIVO_FUZZ_DEVICE_H

// A read-only data device over the fuzzer's bytes.
#include "data_device.h"

#include <cstring>

class FUZZ_DATA_DEVICE : public DATA_DEVICE
{
public:
    FUZZ_DATA_DEVICE(const INT_U8* bytes, size_t n, INT_U8 swap_flag = 0) : data(bytes), size(long(n))
    {
        swap = swap_flag;
    }
    long get_pos() override { return pos; }
    long set_pos(long p, INT_U8 from_end) override
    {
        long target = from_end ? size + p : p;
        if (target < 0) {
            return -1;
        }
        pos = target;
        return pos;
    }
    long read_data_block(INT_U8* buf, long n) override
    {
        if (n < 1 || pos >= size) {
            return 0;
        }
        long k = size - pos < n ? size - pos : n;
        std::memcpy(buf, data + pos, size_t(k));
        pos += k;
        return k;
    }
    long write_data_block(const INT_U8*, long) override { return 0; }

private:
    const INT_U8* data;
    long size;
    long pos = 0;
};

#endif
