// The stored folder record (OS id and alias path block) against arbitrary
// bytes. A stored path never ends the program: exits are findings.
#include "folder.h"
#include "fuzz_device.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    kivo_fuzz::install_quiet_host(false);
    FUZZ_DATA_DEVICE d(data, size);
    FOLDER f;
    if (f.get_from_data_device(d)) {
        char path[2048];
        f.get(path);
    }
    return 0;
}
