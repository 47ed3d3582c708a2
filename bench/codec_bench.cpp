// Decoding a 1024 x 768 PNG and JPEG file through IMAGE::load against the
// plain libpng and libjpeg calls decoding the same file into a buffer of
// the same layout (B, G, R, A bytes, the COLOUR words of an IMAGE; libjpeg
// at its default DCT and upsampling, as our loader leaves them), and a
// 300 x 60 nine-slice button drawn through the stored result and directly
// (both ours). Before timing, main checks that each reference decodes the
// same bytes as ours. A summary of the time ratios is printed at the end.
#include "bench_ratio.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "image_box.h"
#include "image_cache.h"

#include <benchmark/benchmark.h>
#include <png.h>

#include <jpeglib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const int W = 1024, H = 768;

// A photo-like picture: smooth gradients with a little texture, so both
// codecs see realistic data.
void fill_photo(IMAGE& image)
{
    image.reset(W, H);
    unsigned seed = 1;
    for (int y = 0; y < H; y++) {
        for (int x = 0; x < W; x++) {
            seed = seed * 1103515245u + 12345u;
            int noise = int(seed >> 28);
            INT_U32 r = INT_U32((x * 255 / W + noise) & 0xFF), g = INT_U32((y * 255 / H + noise) & 0xFF);
            INT_U32 b = INT_U32(((x + y) * 255 / (W + H) + noise) & 0xFF);
            image.pixels[long(y) * image.stride + x] = 0xFF000000u | r << 16 | g << 8 | b;
        }
    }
}

struct Files
{
    std::string dir;
    FOLDER folder;
    char alias[2048] = {};

    Files()
    {
        char templ[] = "/tmp/kivo_codec_bench_XXXXXX";
        dir = mkdtemp(templ);
        folder.set_from_path_string(dir.c_str());
        folder.get(alias, nullptr);
        IMAGE photo;
        fill_photo(photo);
        DATA_FILE* file = folder.open_data_file("photo.png", fm_write, 0, 0);
        bool ok = file && photo.save_png(file);
        ok = folder.close(file) && ok;
        file = folder.open_data_file("photo.jpg", fm_write, 0, 0);
        ok = file && photo.save_jpg(file, 90, 0) && ok;
        ok = folder.close(file) && ok;
        // A button skin: rounded-looking 61 x 61 picture cut into nine.
        IMAGE skin;
        skin.reset(61, 61);
        skin.clear(0xFF3060A0u, 1);
        skin.fill_vfaded_rect(2, 2, 58, 58, 0xFF80B0FFu, 0xFF204080u, 0);
        ok = skin.save_nine_titled_pngs(folder, "button") && ok;
        // Timing the reading of files that were not written measures nothing.
        if (!ok) {
            std::fprintf(stderr, "codec_bench: cannot write the sample pictures in %s\n", dir.c_str());
            std::exit(1);
        }
    }
    ~Files()
    {
        const char* names[] = {"photo.png",
                               "photo.jpg",
                               "button_top_left.png",
                               "button_top_mid.png",
                               "button_top_right.png",
                               "button_mid_left.png",
                               "button_mid_mid.png",
                               "button_mid_right.png",
                               "button_bottom_left.png",
                               "button_bottom_mid.png",
                               "button_bottom_right.png"};
        for (const char* n : names) {
            std::remove((dir + "/" + n).c_str());
        }
        rmdir(dir.c_str());
    }
    std::string path(const char* name) const { return dir + "/" + name; }
};

Files& files()
{
    static Files f;
    return f;
}

void BM_png_load_ours(benchmark::State& state)
{
    IMAGE image;
    for (auto _ : state) {
        bool ok = image.load(files().folder, "photo.png", -1, -1);
        benchmark::DoNotOptimize(ok);
    }
}

// The reference asks libpng for what our loader asks of this file (8-bit
// RGBA): blue first, so each pixel lands as a COLOUR word.
void plain_libpng(const std::string& path, std::vector<png_bytep>& rows)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_read_info(png, info);
    png_set_bgr(png);
    png_read_update_info(png, info);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
}

// COLOUR-sized rows over one buffer.
std::vector<png_bytep> rows_of(std::vector<png_byte>& buffer)
{
    std::vector<png_bytep> rows(H);
    for (int y = 0; y < H; y++) {
        rows[y] = buffer.data() + size_t(y) * W * 4;
    }
    return rows;
}

void BM_png_plain_libpng(benchmark::State& state)
{
    std::vector<png_byte> buffer(size_t(W) * H * 4);
    std::vector<png_bytep> rows = rows_of(buffer);
    std::string path = files().path("photo.png");
    for (auto _ : state) {
        plain_libpng(path, rows);
        benchmark::DoNotOptimize(buffer.data());
    }
}

void BM_jpeg_load_ours(benchmark::State& state)
{
    IMAGE image;
    for (auto _ : state) {
        bool ok = image.load(files().folder, "photo.jpg", -1, -1);
        benchmark::DoNotOptimize(ok);
    }
}

// The reference decodes straight to B, G, R, A bytes, one scanline at a
// time into its row, as our loader does for a colour file.
void plain_libjpeg(const std::string& path, JSAMPLE* buffer)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        return;
    }
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, f);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_EXT_BGRA;
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = buffer + size_t(cinfo.output_scanline) * W * 4;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(f);
}

void BM_jpeg_plain_libjpeg(benchmark::State& state)
{
    std::vector<JSAMPLE> buffer(size_t(W) * H * 4);
    std::string path = files().path("photo.jpg");
    for (auto _ : state) {
        plain_libjpeg(path, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
}

void draw_button(benchmark::State& state, INT_U8 store)
{
    IMAGE_CACHE cache;
    IMAGE target;
    target.reset(400, 100);
    IMAGE_BOX box;
    box.cache = &cache;
    box.load_images(files().alias, "button", 0);
    INT_U8 saved = IMAGE_BOX::store_local_result;
    IMAGE_BOX::store_local_result = store;
    for (auto _ : state) {
        box.draw(50, 20, 349, 79, 0, &target, IMAGE_COPY_BLEND);
        benchmark::DoNotOptimize(target.pixels);
    }
    IMAGE_BOX::store_local_result = saved;
    box.clear_images();
}

void BM_button_cached(benchmark::State& state)
{
    draw_button(state, 1);
}

void BM_button_direct(benchmark::State& state)
{
    draw_button(state, 0);
}

BENCHMARK(BM_png_load_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_png_plain_libpng)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_load_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_jpeg_plain_libjpeg)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_button_cached)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_button_direct)->Unit(benchmark::kMicrosecond);

// Decodes a file once with ours and once with the reference and reports
// whether the bytes match: a reference that produces something else is no
// yardstick.
void check_same(const char* what, const char* name, const std::vector<png_byte>& reference)
{
    IMAGE image;
    if (!image.load(files().folder, name, -1, -1) || image.width != W || image.height != H) {
        std::printf("check: %s: our loader failed\n", what);
        return;
    }
    long n = 0;
    for (int y = 0; y < H; y++) {
        n += std::memcmp(image.pixels + long(y) * image.stride, reference.data() + size_t(y) * W * 4, size_t(W) * 4) !=
             0;
    }
    if (n == 0) {
        std::printf("check: %s: the reference decodes the same bytes as ours\n", what);
    } else {
        std::printf("check: %s: the reference differs from ours in %ld rows\n", what, n);
    }
}

void check_references()
{
    std::vector<png_byte> buffer(size_t(W) * H * 4);
    std::vector<png_bytep> rows = rows_of(buffer);
    plain_libpng(files().path("photo.png"), rows);
    check_same("PNG", "photo.png", buffer);
    std::memset(buffer.data(), 0, buffer.size());
    plain_libjpeg(files().path("photo.jpg"), buffer.data());
    check_same("JPEG", "photo.jpg", buffer);
}

} // namespace

int main(int argc, char** argv)
{
    files();
    check_references();
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"PNG 1024x768 to BGRA: IMAGE::load vs libpng", "BM_png_load_ours", "BM_png_plain_libpng"},
         {"JPEG 1024x768 to BGRA: IMAGE::load vs libjpeg", "BM_jpeg_load_ours", "BM_jpeg_plain_libjpeg"},
         {"ours vs ours: 300x60 nine-slice button, cached vs direct", "BM_button_cached", "BM_button_direct"}});
}
