// Clipboard bytes from another program into the system's text: whatever
// they hold, the result stays inside its buffer, its escape runs are whole,
// and it reads back as the characters the decoder found.
#include "host_internal.h"

#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    if (size < 1) {
        return 0;
    }
    // The first byte picks the buffer size, 1 to 256.
    const std::size_t room = static_cast<std::size_t>(data[0]) + 1;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.c_str();
    char* buf = static_cast<char*>(std::malloc(room)); // exact size: ASan sees any overrun
    std::size_t n = host_text_from_utf8(text.c_str(), buf, room);
    if (n >= room || buf[n] != 0 || std::string(buf).size() != n) {
        std::abort();
    }
    // What the decoder makes of the input, as UTF-8 again.
    std::string decoded;
    bool has_marker = false;
    for (const char* p = text.c_str(); *p;) {
        INT_U32 c = host_utf8_next(p);
        has_marker = has_marker || c == 1;
        host_append_utf8(decoded, c);
    }
    // Without a 0x01 of its own, the result reads back as a whole-character
    // prefix of that, and as all of it when the buffer was large enough.
    std::string back = host_text_to_utf8(buf);
    if (!has_marker &&
        (decoded.compare(0, back.size(), back) != 0 || (room > decoded.size() * 6 + 2 && back != decoded))) {
        std::abort();
    }
    std::free(buf);
    return 0;
}
