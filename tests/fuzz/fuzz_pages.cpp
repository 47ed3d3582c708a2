// The page-definition reader against arbitrary bytes: the input is a whole
// "pages.bin", its first byte choosing the byte order as the data file does,
// then everything the load reads (version, embedded images, the application
// record with every list and nested record), and the sort after it. The
// font system is not started, so no font is installed.
#include "fuzz_device.h"
#include "fuzz_support.h"
#include "kivo_app_settings.h"
#include "wm_page_tool_manager.h"

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kivo_fuzz::install_quiet_host(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    FUZZ_DATA_DEVICE d(data + 1, size - 1, data[0] != 0 ? 1 : 0);
    WM_PAGE_TOOL_MANAGER ptm;
    unsigned char images = 0;
    ptm.read_definition(d, &images);
    ptm.sort_style_sets();
    ptm.sort_fonts();
    ptm.sort_colours();
    ptm.sort_images();
    ptm.sort_constants();
    ptm.find_constant("Const");
    ptm.clear();
    WM_SCREEN_OBJECT::image_cache.clear();
    return 0;
}
