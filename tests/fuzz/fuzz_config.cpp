// The configuration reader against arbitrary files, in both modes: every
// entry read, one key looked up, one key rewritten (which copies the rest
// of the file through the reader).
#include "config_file.h"
#include "folder.h"
#include "fuzz_support.h"

namespace {

void count_entry(char*, char*, void* user)
{
    ++*static_cast<int*>(user);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    kivo_fuzz::install_quiet_host(false);
    FOLDER folder;
    folder.set_from_path_string(kivo_fuzz::scratch_dir().c_str());
    for (INT_U8 cached = 0; cached < 2; ++cached) {
        if (!kivo_fuzz::write_scratch("settings", data, size)) {
            return 0;
        }
        CONFIG_FILE config;
        config.set_filename("settings", cached);
        int entries = 0;
        config.read_all(folder, count_entry, &entries);
        char value[256];
        config.read(folder, "Name", value);
        config.write(folder, "Name", "value");
        if (!config.read(folder, "Name", value)) {
            __builtin_trap(); // a key just written reads back
        }
    }
    return 0;
}
