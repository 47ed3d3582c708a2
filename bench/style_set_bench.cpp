// The start-up cost of a style set's runtime cache: a set whose folder
// holds 2 of its 31 skins, against loading those two skins directly. Every
// style set read from the page definition pays the missing names.
#include "bench_ratio.h"
#include "data_file.h"
#include "folder.h"
#include "image_box.h"
#include "kivo_app_settings.h"
#include "wm_style_set.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const char* const present_skins[] = {"bench_up", "bench_down"};

// A private folder holding the two skins, as an alias path.
struct SKIN_FOLDER
{
    char alias[2048] = {};
    std::string native;
    bool ready = false;

    SKIN_FOLDER()
    {
        char pattern[] = "/tmp/style_set_bench_XXXXXX";
        if (!mkdtemp(pattern)) {
            return;
        }
        native = pattern;
        FOLDER folder;
        if (!folder.set_from_path_string(pattern) || !folder.get(alias, nullptr)) {
            return;
        }
        IMAGE picture;
        picture.setup(32, 32);
        picture.clear(0xFF336699u, 1);
        for (const char* name : present_skins) {
            DATA_FILE* file = folder.open_data_file((std::string(name) + ".png").c_str(), fm_write, 0, 0);
            if (!file || !picture.save_png(file)) {
                return;
            }
            folder.close(file);
        }
        ready = true;
    }
    ~SKIN_FOLDER()
    {
        if (native.empty()) {
            return;
        }
        for (const char* name : present_skins) {
            std::remove((native + "/" + name + ".png").c_str());
        }
        rmdir(native.c_str());
    }
};

SKIN_FOLDER& skins()
{
    static SKIN_FOLDER f;
    return f;
}

void BM_load_runtime_image_cache(benchmark::State& state)
{
    if (!skins().ready) {
        state.SkipWithError("no skin folder");
        return;
    }
    WM_STYLE_SET set;
    std::snprintf(set.image_path, sizeof set.image_path, "%s", skins().alias);
    set.set_image_base_string("bench");
    for (auto _ : state) {
        set.load_runtime_image_cache();
        benchmark::DoNotOptimize(set.runtime_cache[1]);
        set.clear_runtime_cache();
    }
}
BENCHMARK(BM_load_runtime_image_cache)->Unit(benchmark::kMillisecond);

void BM_two_skins_by_load_images(benchmark::State& state)
{
    if (!skins().ready) {
        state.SkipWithError("no skin folder");
        return;
    }
    IMAGE_BOX boxes[2];
    for (IMAGE_BOX& box : boxes) {
        box.cache = &WM_SCREEN_OBJECT::image_cache;
    }
    for (auto _ : state) {
        for (int i = 0; i < 2; i++) {
            benchmark::DoNotOptimize(boxes[i].load_images(skins().alias, present_skins[i], WM_STYLE_SET::cache_flags));
        }
        for (IMAGE_BOX& box : boxes) {
            box.clear_images();
        }
    }
}
BENCHMARK(BM_two_skins_by_load_images)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    int result = kivo_bench::run_with_ratios(argc, argv,
                                             {{"style set runtime cache (2 of 31 skins) / the 2 skins loaded directly",
                                               "BM_load_runtime_image_cache", "BM_two_skins_by_load_images"}});
    WM_SCREEN_OBJECT::image_cache.clear();
    return result;
}
