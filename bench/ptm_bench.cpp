// Loading and saving the page definition: a definition of 50 pages of 40
// objects with 20 style sets (records only: no font or image files, no
// skins), against reading its bytes with fread and writing them with
// fwrite + fflush + fsync + rename; the load's cost per byte at 500
// pages against 50; and the program's own pages.bin, whose embedded
// pictures make most of its bytes, against fread of that file.
//
// Per byte, like is compared with like: the 500-page definition has ten
// times the style sets too, so both files hold the same mix of records, and
// the bytes counted are those of the records that grow with it, not the
// application record both files share. A style set is mostly a 2,048-byte
// path block read in one transfer, nearly free per byte, and the application
// record holds four: bytes that cost little and are the same in both files
// make the small file look dearer per byte. With the same 20 style sets in
// both files (a fifth of the small file's bytes, a fortieth of the large
// one's) and the whole file counted, the ratio reads about 1.2 even when
// every page costs the same; that figure is still printed, as the whole-file
// one.
#include "bench_ratio.h"
#include "folder.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_object_info.h"
#include "wm_ptm_records.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

constexpr int small_pages = 50;
constexpr int large_pages = 500;
constexpr int small_style_sets = 20;

struct DEFINITIONS
{
    std::string native;
    FOLDER folder;
    WM_PAGE_TOOL_MANAGER ptm;
    std::vector<char> small_bytes;
    long small_size = 0, large_size = 0, large_same_sets_size = 0;
    long shared_size = 0; // a definition of no pages and no style sets
    bool ready = false;

    DEFINITIONS()
    {
        char pattern[] = "/tmp/ptm_bench_XXXXXX";
        if (!mkdtemp(pattern) || !folder.set_from_path_string(pattern)) {
            return;
        }
        native = pattern;
        ready = build(small_pages, small_style_sets, "small.bin", small_size) &&
                build(large_pages, small_style_sets * large_pages / small_pages, "large.bin", large_size) &&
                build(large_pages, small_style_sets, "large_same_sets.bin", large_same_sets_size) &&
                build(0, 0, "shared.bin", shared_size);
        std::FILE* f = std::fopen((native + "/small.bin").c_str(), "rb");
        if (f) {
            small_bytes.resize(static_cast<size_t>(small_size));
            ready = ready && std::fread(small_bytes.data(), 1, small_bytes.size(), f) == small_bytes.size();
            std::fclose(f);
        }
    }
    ~DEFINITIONS()
    {
        for (const char* name :
             {"small.bin", "large.bin", "large_same_sets.bin", "shared.bin", "saved.bin", "plain.bin"}) {
            std::remove((native + "/" + name).c_str());
        }
        rmdir(native.c_str());
    }

    // Page p's objects use style sets 20 * (p mod (style_sets / 20)) and on.
    bool build(int pages, int style_sets, const char* name, long& size)
    {
        ptm.clear();
        ptm.set_name("Bench");
        for (int i = 0; i < style_sets; i++) {
            ptm.create_new_style_set();
        }
        if (!ptm.create_new_area()) {
            return false;
        }
        WM_PTM_AREA_INFO& area = ptm.areas[0];
        for (int p = 0; p < pages; p++) {
            area.create_new_page();
            WM_PTM_PAGE_INFO& page = area.pages[p];
            page.id = static_cast<INT_U32>(p + 1); // fixed ids: the same bytes every run
            for (int o = 0; o < 40; o++) {
                page.create_new_object(o % 2 ? 0x2 : 0x10);
                WM_PTM_OBJECT_INFO& object = page.objects[o];
                object.set_text("Some caption");
                object.set_hint("A hint for the object");
                object.style_set = ptm.style_sets[p % (style_sets / small_style_sets) * small_style_sets + o % 20];
                object.x = static_cast<INT_S16>(o);
            }
        }
        if (!ptm.save(folder, name, 0)) {
            return false;
        }
        FOLDER_FILE_SETTINGS s;
        size = folder.get_file_settings(name, s) ? static_cast<long>(s.size) : 0;
        return size > 0;
    }
};

DEFINITIONS& defs()
{
    static DEFINITIONS d;
    return d;
}

void BM_load_50_pages(benchmark::State& state)
{
    if (!defs().ready) {
        state.SkipWithError("no definition");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(defs().ptm.load(defs().folder, "small.bin", nullptr));
    }
}
BENCHMARK(BM_load_50_pages)->Unit(benchmark::kMillisecond);

void BM_fread_50_pages(benchmark::State& state)
{
    std::vector<char> buffer(static_cast<size_t>(defs().small_size));
    std::string path = defs().native + "/small.bin";
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (f) {
            benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
            std::fclose(f);
        }
    }
}
BENCHMARK(BM_fread_50_pages)->Unit(benchmark::kMillisecond);

void BM_save_50_pages(benchmark::State& state)
{
    if (!defs().ready || !defs().ptm.load(defs().folder, "small.bin", nullptr)) {
        state.SkipWithError("no definition");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(defs().ptm.save(defs().folder, "saved.bin", 0));
    }
}
BENCHMARK(BM_save_50_pages)->Unit(benchmark::kMillisecond);

void BM_fwrite_fsync_rename_50_pages(benchmark::State& state)
{
    const std::vector<char>& bytes = defs().small_bytes;
    std::string fresh = defs().native + "/plain.new", target = defs().native + "/plain.bin";
    for (auto _ : state) {
        std::FILE* f = std::fopen(fresh.c_str(), "wb");
        if (!f) {
            continue;
        }
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fflush(f);
        fsync(fileno(f));
        std::fclose(f);
        std::rename(fresh.c_str(), target.c_str());
    }
}
BENCHMARK(BM_fwrite_fsync_rename_50_pages)->Unit(benchmark::kMillisecond);

// A load, its time scaled to the 50-page file's size: the ratio of two is
// the ratio of their costs per byte. `shared` bytes of both files are left
// out of the sizes. A load replaces the definition held; `into_empty`
// destroys that one first, outside the time, so that only the reading is
// timed.
void load_scaled(benchmark::State& state, const char* name, long size, long shared, bool into_empty = false)
{
    if (!defs().ready) {
        state.SkipWithError("no definition");
        return;
    }
    double scale = static_cast<double>(defs().small_size - shared) / static_cast<double>(size - shared);
    for (auto _ : state) {
        if (into_empty) {
            defs().ptm.clear();
        }
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(defs().ptm.load(defs().folder, name, nullptr));
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(took.count() * scale);
    }
}

void BM_load_50_pages_into_empty(benchmark::State& state)
{
    load_scaled(state, "small.bin", defs().small_size, defs().shared_size, true);
}
BENCHMARK(BM_load_50_pages_into_empty)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_load_500_pages_into_empty_per_50_size(benchmark::State& state)
{
    load_scaled(state, "large.bin", defs().large_size, defs().shared_size, true);
}
BENCHMARK(BM_load_500_pages_into_empty_per_50_size)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_load_500_pages_per_50_size(benchmark::State& state)
{
    load_scaled(state, "large.bin", defs().large_size, defs().shared_size);
}
BENCHMARK(BM_load_500_pages_per_50_size)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_load_500_pages_20_sets_per_50_size(benchmark::State& state)
{
    load_scaled(state, "large_same_sets.bin", defs().large_same_sets_size, 0);
}
BENCHMARK(BM_load_500_pages_20_sets_per_50_size)->UseManualTime()->Unit(benchmark::kMillisecond);

// The program's definition, read from "$APPDATA" as the program reads it
// (fonts started first, as the host does before the program loads).
void BM_load_program_pages(benchmark::State& state)
{
    FOLDER app("$APPDATA");
    if (!app.file_exists("pages.bin")) {
        state.SkipWithError("no pages.bin");
        return;
    }
    for (auto _ : state) {
        if (!defs().ptm.load(app, "pages.bin", nullptr)) {
            state.SkipWithError("pages.bin did not load");
            break;
        }
    }
}
BENCHMARK(BM_load_program_pages)->Unit(benchmark::kMillisecond);

void BM_fread_program_pages(benchmark::State& state)
{
    FOLDER app("$APPDATA");
    const std::string path = app.get_path_string("pages.bin");
    std::vector<char> buffer;
    for (auto _ : state) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) {
            state.SkipWithError("no pages.bin");
            break;
        }
        std::fseek(f, 0, SEEK_END);
        buffer.resize(static_cast<size_t>(std::ftell(f)));
        std::fseek(f, 0, SEEK_SET);
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), f));
        std::fclose(f);
    }
}
BENCHMARK(BM_fread_program_pages)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    IMAGE::startup_font_system();
    int result = kivo_bench::run_with_ratios(
        argc, argv,
        {{"load 50 pages / fread of the same bytes (target <= 150)", "BM_load_50_pages", "BM_fread_50_pages"},
         {"save 50 pages / fwrite + fflush + fsync + rename (target <= 3)", "BM_save_50_pages",
          "BM_fwrite_fsync_rename_50_pages"},
         {"load per byte of the records that grow, 500 pages and 200 style sets / 50 and 20 (target <= 1.1; both ours)",
          "BM_load_500_pages_per_50_size/manual_time", "BM_load_50_pages"},
         {"load per byte, whole file, 500 pages / 50, 20 style sets in both (ours)",
          "BM_load_500_pages_20_sets_per_50_size/manual_time", "BM_load_50_pages"},
         {"load per byte of the records that grow, into an empty manager, 500 pages and 200 style sets / 50 and 20 "
          "(ours)",
          "BM_load_500_pages_into_empty_per_50_size/manual_time", "BM_load_50_pages_into_empty/manual_time"},
         {"program's pages.bin load / fread of the same bytes (target <= 2)", "BM_load_program_pages",
          "BM_fread_program_pages"}});
    defs().ptm.clear();
    IMAGE::shutdown_font_system();
    return result;
}
