#ifndef KIVO_TEST_MEMORY_DATA_DEVICE_H
#define KIVO_TEST_MEMORY_DATA_DEVICE_H

// A data device over a byte vector, for record tests: exact bytes out,
// hand-made input in, and failure part-way through with fail_after.
#include "data_device.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kivo_test {

class MEMORY_DATA_DEVICE : public DATA_DEVICE
{
public:
    MEMORY_DATA_DEVICE() = default;
    explicit MEMORY_DATA_DEVICE(std::vector<INT_U8> bytes) : data(std::move(bytes)) {}
    explicit MEMORY_DATA_DEVICE(const std::string& bytes) : data(bytes.begin(), bytes.end()) {}

    long get_pos() override { return pos; }
    // Any position from 0 on; writing past the end fills the gap with
    // zeros, reading there delivers nothing.
    long set_pos(long p, INT_U8 from_end) override
    {
        long target = from_end ? static_cast<long>(data.size()) + p : p;
        return target < 0 ? -1 : (pos = target);
    }
    long read_data_block(INT_U8* buf, long n) override
    {
        ++reads;
        long k = buf ? allowed(std::min(n, static_cast<long>(data.size()) - pos)) : 0;
        if (k < 1) {
            return 0;
        }
        std::memcpy(buf, data.data() + pos, static_cast<size_t>(k));
        pos += k;
        return k;
    }
    long write_data_block(const INT_U8* buf, long n) override
    {
        ++writes;
        long k = buf ? allowed(n) : 0;
        if (k < 1) {
            return 0;
        }
        data.resize(std::max(data.size(), static_cast<size_t>(pos + k)), 0);
        std::memcpy(data.data() + pos, buf, static_cast<size_t>(k));
        pos += k;
        return k;
    }

    // After this many more bytes have moved (either way) transfers stop;
    // the block that crosses the limit is cut short. -1 = never.
    void fail_after(long bytes) { budget = bytes; }
    std::string str() const { return std::string(data.begin(), data.end()); }

    std::vector<INT_U8> data;
    long pos = 0;
    long reads = 0, writes = 0; // block calls, for tests that count transfers

private:
    long allowed(long n)
    {
        if (n < 1 || budget < 0) {
            return n;
        }
        n = std::min(n, budget);
        budget -= n;
        return n;
    }
    long budget = -1;
};

} // namespace kivo_test

#endif
