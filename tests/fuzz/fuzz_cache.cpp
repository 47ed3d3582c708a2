// The image-cache record against arbitrary bytes, in both byte orders.
#include "fuzz_device.h"
#include "image_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    for (INT_U8 swap = 0; swap < 2; swap++) {
        FUZZ_DATA_DEVICE d(data, size, swap);
        IMAGE_CACHE cache;
        cache.get_from_data_device(d);
    }
    return 0;
}
