// Start-up with many image records: a page definition whose image records
// each name their own 1 x 1 picture file, loaded into an empty image cache
// (every picture opened and read), its time per record at 32,000 records
// against that at 4,000. Both sides are our own code: the figure says
// whether a record costs the same however many came before it. A quick run
// (the test tree's) loads 500 and 4,000, the same ratio of sizes.
#include "bench_ratio.h"
#include "data_file.h"
#include "folder.h"
#include "image.h"
#include "kivo_app_settings.h"
#include "wm_page_tool_manager.h"
#include "wm_ptm_records.h"
#include "wm_screen_object.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

const char pictures_alias[] = "$RECORDPICS";

int small_records()
{
    return kivo_bench::quick() ? 500 : 4000;
}
int large_records()
{
    return kivo_bench::quick() ? 4000 : 32000;
}

// A private folder of large_records() pictures p<i>.png and the two
// definitions, small.bin and large.bin, whose records name the first ones.
struct RECORDS
{
    std::string native;
    FOLDER folder;
    WM_PAGE_TOOL_MANAGER ptm;
    int pictures = 0;
    bool ready = false;

    RECORDS()
    {
        char pattern[] = "/tmp/image_records_bench_XXXXXX";
        if (!mkdtemp(pattern) || !folder.set_from_path_string(pattern)) {
            return;
        }
        native = pattern;
        FOLDER::add_custom_path(pictures_alias, folder);
        ready = write_pictures(large_records()) && build(small_records(), "small.bin") &&
                build(large_records(), "large.bin");
    }
    ~RECORDS()
    {
        ptm.clear();
        WM_SCREEN_OBJECT::image_cache.clear();
        FOLDER::remove_custom_path(pictures_alias);
        if (native.empty()) {
            return;
        }
        for (int i = 0; i < pictures; i++) {
            std::remove(picture_path(i).c_str());
        }
        std::remove((native + "/small.bin").c_str());
        std::remove((native + "/large.bin").c_str());
        rmdir(native.c_str());
    }

    static std::string picture_name(int i) { return "p" + std::to_string(i) + ".png"; }
    std::string picture_path(int i) const { return native + "/" + picture_name(i); }

    // One picture written as the program writes them, its bytes copied to
    // the others: every file its own.
    bool write_pictures(int count)
    {
        IMAGE picture;
        picture.setup(1, 1);
        picture.clear(0xFF336699u, 1);
        DATA_FILE* file = folder.open_data_file(picture_name(0).c_str(), fm_write, 0, 0);
        if (!file || !picture.save_png(file) || !folder.close(file)) {
            return false;
        }
        pictures = 1;
        std::vector<char> bytes(4096);
        std::FILE* in = std::fopen(picture_path(0).c_str(), "rb");
        if (!in) {
            return false;
        }
        bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
        std::fclose(in);
        for (; pictures < count; pictures++) {
            std::FILE* out = std::fopen(picture_path(pictures).c_str(), "wb");
            if (!out) {
                return false;
            }
            const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
            if (std::fclose(out) != 0 || !whole) {
                return false;
            }
        }
        return true;
    }

    bool build(int records, const char* name)
    {
        ptm.clear();
        ptm.set_name("Bench");
        for (int i = 0; i < records; i++) {
            if (!ptm.create_new_image()) {
                return false;
            }
            ptm.images[i]->set_filename(picture_name(i).c_str());
            ptm.images[i]->path.set(pictures_alias);
        }
        const bool saved = ptm.save(folder, name, 0);
        ptm.clear();
        return saved;
    }
};

RECORDS& records()
{
    static RECORDS r;
    return r;
}

// A load into an empty manager and an empty cache (both emptied outside
// the time), as at start-up; its time is given scaled to the small
// definition's count of records (one iteration stays one load, whatever
// the time reported), so the ratio of two is that of the costs per record.
void load_per_record(benchmark::State& state, const char* name, int count)
{
    RECORDS& r = records();
    if (!r.ready) {
        state.SkipWithError("no definitions");
        return;
    }
    for (auto _ : state) {
        r.ptm.clear();
        WM_SCREEN_OBJECT::image_cache.clear();
        auto start = std::chrono::steady_clock::now();
        const bool loaded = r.ptm.load(r.folder, name, nullptr);
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (!loaded || r.ptm.image_count != count || !r.ptm.images[count - 1]->image) {
            state.SkipWithError("the definition or its last picture did not load");
            break;
        }
        state.SetIterationTime(took.count() * small_records() / count);
    }
}

} // namespace

int main(int argc, char** argv)
{
    const int small = small_records(), large = large_records();
    const std::string small_name = "BM_load/" + std::to_string(small) + "_records";
    const std::string large_name = "BM_load/" + std::to_string(large) + "_records_per_" + std::to_string(small);
    benchmark::RegisterBenchmark(small_name.c_str(),
                                 [small](benchmark::State& s) { load_per_record(s, "small.bin", small); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(large_name.c_str(),
                                 [large](benchmark::State& s) { load_per_record(s, "large.bin", large); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
    const std::string small_run = small_name + "/manual_time", large_run = large_name + "/manual_time";
    const std::string label = "load per image record, " + std::to_string(large) + " records / " +
                              std::to_string(small) + " (target <= 1.5; ours vs ours at two sizes)";
    int result = kivo_bench::run_with_ratios(argc, argv, {{label.c_str(), large_run.c_str(), small_run.c_str()}});
    records().ptm.clear();
    return result;
}
