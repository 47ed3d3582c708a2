#include "memory_data_device.h"

#include <algorithm>
#include <cstring>

namespace kivo_test {

long MEMORY_DATA_DEVICE::set_pos(long p, INT_U8 from_end)
{
    long target = from_end ? static_cast<long>(data.size()) + p : p;
    return target < 0 ? -1 : (pos = target);
}

long MEMORY_DATA_DEVICE::allowed(long n)
{
    long k = budget < 0 ? n : std::min(n, budget);
    if (budget >= 0)
        budget -= k;
    return k;
}

long MEMORY_DATA_DEVICE::read_data_block(INT_U8* buf, long n)
{
    ++reads;
    long size = static_cast<long>(data.size());
    if (n < 1 || !buf || pos >= size)
        return 0;
    long k = allowed(std::min(n, size - pos));
    std::memcpy(buf, data.data() + pos, static_cast<size_t>(k));
    pos += k;
    return k;
}

long MEMORY_DATA_DEVICE::write_data_block(const INT_U8* buf, long n)
{
    ++writes;
    long k = n < 1 || !buf ? 0 : allowed(n);
    if (k < 1)
        return 0;
    if (static_cast<long>(data.size()) < pos + k)
        data.resize(static_cast<size_t>(pos + k), 0);
    std::memcpy(data.data() + pos, buf, static_cast<size_t>(k));
    pos += k;
    return k;
}

} // namespace kivo_test
