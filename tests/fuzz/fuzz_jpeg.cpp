// JPEG reader against arbitrary bytes, at natural size and scaled (the
// first byte picks the target size), and its size-only header reader.
#include "fuzz_device.h"
#include "image.h"
#include "image_codec_util.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    short w = short(data[0] & 0x0F) - 1, h = short(data[0] >> 4) - 1;
    FUZZ_DATA_DEVICE d(data + 1, size - 1);
    IMAGE image;
    image_read_jpg(image, d, w, h);
    FUZZ_DATA_DEVICE head(data + 1, size - 1);
    long natural_w = 0, natural_h = 0;
    image_jpg_size(head, natural_w, natural_h);
    return 0;
}
