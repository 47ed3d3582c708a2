// The raw image record against arbitrary bytes, in both byte orders.
#include "fuzz_device.h"
#include "image.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    for (INT_U8 swap = 0; swap < 2; swap++) {
        FUZZ_DATA_DEVICE d(data, size, swap);
        IMAGE image;
        image.get_from_data_device(d);
    }
    return 0;
}
