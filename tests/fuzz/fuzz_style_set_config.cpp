// The style-set reader of configuration files against arbitrary bytes:
// the input is the file, read in both of the file's modes, skins and all.
#include "config_file.h"
#include "folder.h"
#include "fuzz_support.h"
#include "kivo_app_settings.h"
#include "wm_style_set.h"

#include <cstdio>
#include <cstdlib>
#include <string>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

// A private folder for the file, made once per run.
std::string work_dir;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Removed at exit, as the other file-based targets' folders are.
    work_dir = kivo_fuzz::scratch_dir();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    std::string file = work_dir + "/style.cfg";
    std::FILE* fp = std::fopen(file.c_str(), "wb");
    if (!fp) {
        return 0;
    }
    std::fwrite(data, 1, size, fp);
    std::fclose(fp);

    FOLDER folder;
    if (!folder.set_from_path_string(work_dir.c_str())) {
        return 0;
    }
    for (INT_U8 cached = 0; cached < 2; cached++) {
        CONFIG_FILE cfg;
        cfg.set_filename("style.cfg", cached);
        cfg.folder = folder;
        auto font_id = [](const char* name, void*) -> char { return static_cast<char>(name[0]); };
        WM_STYLE_SET set;
        set.read_from_config_file(cfg, font_id, nullptr, cached ? &folder : nullptr);
        WM_STYLE_SET copy(set);
    }
    WM_SCREEN_OBJECT::image_cache.clear();
    return 0;
}
