// Writes a small starting corpus for every fuzz target with our own
// writers: fuzz_seeds <corpus root>; one folder per target.
#include "data_device.h"
#include "image.h"
#include "image_codec_util.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

class VECTOR_DEVICE : public DATA_DEVICE
{
public:
    std::vector<INT_U8> data;
    long pos = 0;
    long get_pos() override { return pos; }
    long set_pos(long p, INT_U8 from_end) override { return pos = from_end ? long(data.size()) + p : p; }
    long read_data_block(INT_U8*, long) override { return 0; }
    long write_data_block(const INT_U8* buf, long n) override
    {
        if (n < 1)
            return 0;
        if (long(data.size()) < pos + n)
            data.resize(size_t(pos + n));
        std::memcpy(data.data() + pos, buf, size_t(n));
        pos += n;
        return n;
    }
};

std::string root;

void save(const char* target, const char* name, const std::vector<INT_U8>& bytes, const char* prefix = "")
{
    std::string dir = root + "/" + target;
    mkdir(dir.c_str(), 0755);
    std::FILE* f = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!f)
        return;
    std::fwrite(prefix, 1, std::strlen(prefix), f);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

void picture(IMAGE& image, int w, int h)
{
    image.reset(short(w), short(h));
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            image.pixels[y * image.stride + x] = INT_U32((x * 40) & 0xFF) << 24 | INT_U32(x * 30) << 16 |
                                                 INT_U32(y * 50) << 8 | INT_U32((x ^ y) * 20);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus root>\n", argv[0]);
        return 2;
    }
    root = argv[1];
    mkdir(root.c_str(), 0755);
    IMAGE image;
    picture(image, 7, 5);

    VECTOR_DEVICE png;
    image_write_png(image, png);
    save("fuzz_png", "seed.png", png.data);

    for (int progressive = 0; progressive < 2; progressive++) {
        VECTOR_DEVICE jpg;
        image_write_jpg(image, jpg, 80, INT_U8(progressive));
        save("fuzz_jpeg", progressive ? "progressive" : "baseline", jpg.data, "\x00");
        save("fuzz_jpeg", progressive ? "progressive_scaled" : "baseline_scaled", jpg.data, "\x35");
    }

    VECTOR_DEVICE pcx;
    image_write_pcx(image, pcx);
    save("fuzz_pcx", "seed.pcx", pcx.data);

    VECTOR_DEVICE raw;
    image.put_to_data_device(raw);
    save("fuzz_raw", "seed.raw", raw.data);

    // A cache record of one entry around the same picture.
    VECTOR_DEVICE cache;
    put_u8(cache, 2);
    put_u32(cache, 1);
    put_path_block(cache, "$APP/images");
    put_string(cache, "button");
    put_u16(cache, 7);
    put_u16(cache, 5);
    put_u16(cache, 7);
    put_u16(cache, 5);
    image.put_to_data_device(cache);
    save("fuzz_cache", "seed.bin", cache.data);
    return 0;
}
