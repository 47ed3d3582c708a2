// Base64 decoding and decryption of arbitrary text.
#include "kivo_string.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const INT_U8* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    KIVO_STRING s(text.c_str());
    long n = s.get_base64(nullptr, 0);
    if (n > 0) {
        std::vector<INT_U8> out(static_cast<size_t>(n));
        s.get_base64(out.data(), n);
    }
    std::vector<INT_U8> out(size + 4);
    decode_base64(text.c_str(), out.data(), static_cast<long>(out.size()));
    s.decrypt();
    // The free form over the raw bytes, into a buffer of every edge size.
    for (long room : {0L, static_cast<long>(size) - 3, static_cast<long>(size) - 2, static_cast<long>(size)}) {
        std::vector<INT_U8> plain(room > 0 ? static_cast<size_t>(room) : 1);
        decrypt(data, static_cast<long>(size), plain.data(), room);
    }
    return 0;
}
