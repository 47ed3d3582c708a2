// Image cache hits through a FOLDER against hits through the folder's alias
// text. Both sides are our own code: the text hit is the floor a FOLDER hit
// can reach, since it must end in the same lookup. A style-set-like batch
// (31 names through one folder) shows what a skin load pays.
#include "bench_ratio.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "image_cache.h"
#include "kivo_app_settings.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const int name_count = 31;

// A private folder a few levels deep holding the pictures, and a cache
// already holding every one of them.
struct PICTURES
{
    std::string native;
    std::string names[name_count];
    FOLDER folder{"$ROOT0"};
    char alias[2048] = {};
    IMAGE_CACHE cache;
    bool ready = false;

    PICTURES()
    {
        char pattern[] = "/tmp/image_cache_bench_XXXXXX";
        if (!mkdtemp(pattern)) {
            return;
        }
        native = pattern;
        if (!folder.set_from_path_string(pattern) || !folder.move_down("skins", 1) || !folder.move_down("set", 1) ||
            !folder.get(alias, nullptr)) {
            return;
        }
        IMAGE picture;
        picture.setup(16, 16);
        picture.clear(0xFF336699u, 1);
        for (int i = 0; i < name_count; i++) {
            names[i] = "skin_" + std::to_string(i) + ".png";
            DATA_FILE* file = folder.open_data_file(names[i].c_str(), fm_write, 0, 0);
            if (!file || !picture.save_png(file)) {
                return;
            }
            folder.close(file);
            if (!cache.open_image(folder, names[i].c_str(), -1, -1)) {
                return;
            }
        }
        ready = true;
    }
    ~PICTURES()
    {
        cache.clear();
        if (native.empty()) {
            return;
        }
        for (const std::string& name : names) {
            std::remove((native + "/skins/set/" + name).c_str());
        }
        rmdir((native + "/skins/set").c_str());
        rmdir((native + "/skins").c_str());
        rmdir(native.c_str());
    }
};

PICTURES& pictures()
{
    static PICTURES p;
    return p;
}

// `count` names from `first` on; the newest entry is found first.
template <typename OPEN> void hits(benchmark::State& state, int first, int count, OPEN open)
{
    PICTURES& p = pictures();
    if (!p.ready) {
        state.SkipWithError("no picture folder");
        return;
    }
    for (auto _ : state) {
        for (int i = first; i < first + count; i++) {
            IMAGE* image = open(p, p.names[i].c_str());
            benchmark::DoNotOptimize(image);
            p.cache.do_close(p.cache.get_entry(image));
        }
    }
}

IMAGE* by_folder(PICTURES& p, const char* name)
{
    return p.cache.open_image(p.folder, name, -1, -1);
}
IMAGE* by_text(PICTURES& p, const char* name)
{
    return p.cache.open_image(p.alias, name, -1, -1);
}

void BM_newest_hit_by_folder(benchmark::State& state)
{
    hits(state, name_count - 1, 1, by_folder);
}
void BM_newest_hit_by_alias_text(benchmark::State& state)
{
    hits(state, name_count - 1, 1, by_text);
}
void BM_oldest_hit_by_folder(benchmark::State& state)
{
    hits(state, 0, 1, by_folder);
}
void BM_oldest_hit_by_alias_text(benchmark::State& state)
{
    hits(state, 0, 1, by_text);
}
void BM_style_set_by_folder(benchmark::State& state)
{
    hits(state, 0, name_count, by_folder);
}
void BM_style_set_by_alias_text(benchmark::State& state)
{
    hits(state, 0, name_count, by_text);
}

BENCHMARK(BM_newest_hit_by_folder);
BENCHMARK(BM_newest_hit_by_alias_text);
BENCHMARK(BM_oldest_hit_by_folder);
BENCHMARK(BM_oldest_hit_by_alias_text);
BENCHMARK(BM_style_set_by_folder);
BENCHMARK(BM_style_set_by_alias_text);

} // namespace

int main(int argc, char** argv)
{
    return kivo_bench::run_with_ratios(
        argc, argv,
        {{"newest entry hit: FOLDER / alias text (ours vs ours)", "BM_newest_hit_by_folder",
          "BM_newest_hit_by_alias_text"},
         {"oldest of 31 hit: FOLDER / alias text (ours vs ours)", "BM_oldest_hit_by_folder",
          "BM_oldest_hit_by_alias_text"},
         {"31 names, one FOLDER / alias text (ours vs ours)", "BM_style_set_by_folder", "BM_style_set_by_alias_text"}});
}
