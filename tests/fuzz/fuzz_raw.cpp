// The raw image record, and its size-only header reader, against arbitrary
// bytes, in both byte orders.
#include "fuzz_device.h"
#include "image.h"
#include "image_codec_util.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    for (INT_U8 swap = 0; swap < 2; swap++) {
        FUZZ_DATA_DEVICE d(data, size, swap);
        IMAGE image;
        image.get_from_data_device(d);
        FUZZ_DATA_DEVICE head(data, size, swap);
        long w = 0, h = 0;
        image_raw_size(head, w, h);
    }
    return 0;
}
