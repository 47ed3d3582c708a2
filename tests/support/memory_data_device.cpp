#include "memory_data_device.h"

#include <cstring>

namespace kivo_test {

long MEMORY_DATA_DEVICE::set_pos(long p, INT_U8 from_end)
{
    long target = from_end ? static_cast<long>(data.size()) + p : p;
    if (target < 0)
        return -1;
    pos = target;
    return pos;
}

long MEMORY_DATA_DEVICE::allowed(long n)
{
    if (n < 1)
        return 0;
    if (budget < 0)
        return n;
    long k = n < budget ? n : budget;
    budget -= k;
    return k;
}

long MEMORY_DATA_DEVICE::read_data_block(INT_U8* buf, long n)
{
    ++reads;
    long size = static_cast<long>(data.size());
    if (n < 1 || !buf || pos >= size)
        return 0;
    long k = size - pos < n ? size - pos : n;
    k = allowed(k);
    if (k > 0)
        std::memcpy(buf, data.data() + pos, static_cast<size_t>(k));
    pos += k;
    return k;
}

long MEMORY_DATA_DEVICE::write_data_block(const INT_U8* buf, long n)
{
    ++writes;
    if (n < 1 || !buf)
        return 0;
    long k = allowed(n);
    if (k < 1)
        return 0;
    if (static_cast<long>(data.size()) < pos + k)
        data.resize(static_cast<size_t>(pos + k), 0);
    std::memcpy(data.data() + pos, buf, static_cast<size_t>(k));
    pos += k;
    return k;
}

} // namespace kivo_test
