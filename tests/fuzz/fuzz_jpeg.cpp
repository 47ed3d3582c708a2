// JPEG reader against arbitrary bytes, at natural size and scaled (the
// first byte picks the target size).
#include "fuzz_device.h"
#include "image.h"
#include "image_codec_util.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    if (size < 1)
        return 0;
    short w = short(data[0] & 0x0F) - 1, h = short(data[0] >> 4) - 1;
    FUZZ_DATA_DEVICE d(data + 1, size - 1);
    IMAGE image;
    image_read_jpg(image, d, w, h);
    return 0;
}
