// The system's own text to UTF-8 and back: any bytes give valid UTF-8, and
// come back unchanged.
#include "host_internal.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str(); // the system's text ends at its first NUL
    std::string utf8 = host_text_to_utf8(text.c_str());
    // Valid UTF-8: the decoder replaces nothing the text did not hold.
    std::string again;
    for (const char* p = utf8.c_str(); *p;) {
        const char* at = p;
        INT_U32 c = host_utf8_next(p);
        if (c == 0xFFFD && std::string(at, p) != "\xEF\xBF\xBD") {
            std::abort();
        }
        host_append_utf8(again, c);
    }
    if (again != utf8) {
        std::abort();
    }
    // Back: every byte as it was, in a buffer with room for it all.
    std::string back(text.size() + 1, '\x7F');
    std::size_t n = host_text_from_utf8(utf8.c_str(), &back[0], back.size());
    if (n != text.size() || back.compare(0, n, text) != 0 || back[n] != 0) {
        std::abort();
    }
    return 0;
}
