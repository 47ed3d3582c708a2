// The colour text parser against arbitrary text.
#include "colour.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    COLOUR c;
    c.set_from_string(text.c_str());
    return 0;
}
