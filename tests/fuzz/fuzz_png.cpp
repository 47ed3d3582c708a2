// PNG reader, and its size-only header reader, against arbitrary bytes.
#include "fuzz_device.h"
#include "image.h"
#include "image_codec_util.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    FUZZ_DATA_DEVICE d(data, size);
    IMAGE image;
    image_read_png(image, d);
    FUZZ_DATA_DEVICE head(data, size);
    long w = 0, h = 0;
    image_png_size(head, w, h);
    return 0;
}
