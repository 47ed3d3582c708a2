// Decoding a 1024 x 768 PNG and JPEG file through IMAGE::load against the
// plain libpng and libjpeg calls decoding the same file into a buffer, and
// a 300 x 60 nine-slice button drawn through the stored result and
// directly. A summary of the time ratios is printed at the end.
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
    for (int y = 0; y < H; y++)
        for (int x = 0; x < W; x++) {
            seed = seed * 1103515245u + 12345u;
            int noise = int(seed >> 28);
            INT_U32 r = INT_U32((x * 255 / W + noise) & 0xFF), g = INT_U32((y * 255 / H + noise) & 0xFF);
            INT_U32 b = INT_U32(((x + y) * 255 / (W + H) + noise) & 0xFF);
            image.pixels[long(y) * image.stride + x] = 0xFF000000u | r << 16 | g << 8 | b;
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
        const char* names[] = {"photo.png", "photo.jpg", "button_top_left.png", "button_top_mid.png",
                               "button_top_right.png", "button_mid_left.png", "button_mid_mid.png",
                               "button_mid_right.png", "button_bottom_left.png", "button_bottom_mid.png",
                               "button_bottom_right.png"};
        for (const char* n : names)
            std::remove((dir + "/" + n).c_str());
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

void BM_png_plain_libpng(benchmark::State& state)
{
    std::vector<png_byte> buffer(size_t(W) * H * 4);
    std::vector<png_bytep> rows(H);
    for (int y = 0; y < H; y++)
        rows[y] = buffer.data() + size_t(y) * W * 4;
    std::string path = files().path("photo.png");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
        png_infop info = png_create_info_struct(png);
        png_init_io(png, f);
        png_read_info(png, info);
        png_read_update_info(png, info);
        png_read_image(png, rows.data());
        png_read_end(png, nullptr);
        png_destroy_read_struct(&png, &info, nullptr);
        std::fclose(f);
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

void BM_jpeg_plain_libjpeg(benchmark::State& state)
{
    std::vector<JSAMPLE> buffer(size_t(W) * H * 3);
    std::string path = files().path("photo.jpg");
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        jpeg_decompress_struct cinfo;
        jpeg_error_mgr err;
        cinfo.err = jpeg_std_error(&err);
        jpeg_create_decompress(&cinfo);
        jpeg_stdio_src(&cinfo, f);
        jpeg_read_header(&cinfo, TRUE);
        jpeg_start_decompress(&cinfo);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = buffer.data() + size_t(cinfo.output_scanline) * W * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
        jpeg_destroy_decompress(&cinfo);
        std::fclose(f);
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

} // namespace

int main(int argc, char** argv)
{
    files();
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"PNG 1024x768: IMAGE::load vs plain libpng", "BM_png_load_ours", "BM_png_plain_libpng"},
         {"JPEG 1024x768: IMAGE::load vs plain libjpeg", "BM_jpeg_load_ours", "BM_jpeg_plain_libjpeg"},
         {"300x60 nine-slice button: cached vs direct (both ours)", "BM_button_cached",
          "BM_button_direct"}});
}
