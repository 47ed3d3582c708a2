// The layout names an X server keeps (its _XKB_RULES_NAMES property) are
// outside bytes: split, screened, and only then compiled from the system's
// keyboard data, whatever they hold.
#include "key_layout.h"
#include "kivo_app_settings.h"

#include <cstring>

// The host library's start-up code reads it; every program defines it once.
KIVO_APP_SETTINGS kivo_app_settings = {"Tollbeck v1.0", 0, 0, 0};

namespace {

HOST_LAYOUT_NAMES names;

bool fuzzed_names(HOST_LAYOUT_NAMES* out)
{
    *out = names;
    return !out->layout.empty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    // Two bytes choose the key and the active group; the rest is the property.
    if (size < 2) {
        return 0;
    }
    names = HOST_LAYOUT_NAMES();
    host_split_layout_names(reinterpret_cast<const char*>(data) + 2, size - 2, &names);
    names.group = data[1] & 3;
    host_set_layout_source(fuzzed_names);
    INT_U32 c = 0;
    for (bool shift : {false, true}) {
        host_layout_character(data[0], shift, &c);
    }
    return 0;
}
